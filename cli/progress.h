// Progress of a render on stderr: a bar redrawn in place on a terminal, one
// plain line per frame otherwise, or nothing. Safe to call from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "scene/batch.h"

namespace cli {

class Progress final : public RenderObserver {
public:
    enum class Style { kBar, kLines, kQuiet };

    // kQuiet when `quiet`, else kBar when `stream` is a terminal, else kLines.
    static Style choose(bool quiet, std::FILE* stream);

    Progress(Style style, long total_frames, std::FILE* stream = stderr);
    // Ends the bar's line (as finish()).
    ~Progress() override;
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void frame_started(long frame) override;
    void frame_progress(long frame, long current, long total) override;
    void frame_done(long frame, const std::string& path) override;
    void frame_skipped(long frame, const std::string& path) override;
    // "trellis: warning: ..." on stderr.
    void warning(const std::string& message) override;
    // Takes the bar off its line so that a message can follow; idempotent.
    void finish();

    // "1:05", "12:00:03"; "--" for a negative time.
    static std::string clock_text(double seconds);
    // The bar's text (without the carriage return), for the given state:
    // `done` whole frames, `partial` the sum of the finished fractions of the
    // frames in flight.
    static std::string bar_text(long done, double partial, long total, long in_flight, double elapsed_seconds,
                                int width);

private:
    void draw_locked();
    void ticker();

    const Style style_;
    const long total_;
    std::FILE* const stream_;
    const std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
    std::condition_variable wake_;
    long done_ = 0;
    long in_flight_ = 0;
    std::map<long, double> fractions_;  // frames in flight
    bool finished_ = false;
    bool drawn_ = false;
    std::thread ticker_;
};

}  // namespace cli
