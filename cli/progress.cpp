#include "cli/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace cli {

namespace {

constexpr int kBarWidth = 30;
// The ticker keeps elapsed time moving while a long frame renders.
constexpr auto kTick = std::chrono::milliseconds(500);

}  // namespace

Progress::Style Progress::choose(bool quiet, std::FILE* stream) {
    if (quiet) return Style::kQuiet;
    return ::isatty(::fileno(stream)) != 0 ? Style::kBar : Style::kLines;
}

Progress::Progress(Style style, long total_frames, std::FILE* stream)
    : style_(style), total_(total_frames), stream_(stream), start_(std::chrono::steady_clock::now()) {
    if (style_ == Style::kBar) {
        ticker_ = std::thread([this] { ticker(); });
    }
}

Progress::~Progress() { finish(); }

std::string Progress::clock_text(double seconds) {
    if (!(seconds >= 0.0)) return "--";
    const long s = static_cast<long>(std::lround(seconds));
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    }
    return text;
}

std::string Progress::bar_text(long done, double partial, long total, long in_flight, double elapsed, int width) {
    std::string bar = "[";
    const double progress = static_cast<double>(done) + partial;
    const long filled = total > 0 ? static_cast<long>(progress * width / static_cast<double>(total)) : 0;
    for (int i = 0; i < width; ++i) {
        bar += i < filled ? '#' : (i < filled + (in_flight > 0 ? 1 : 0) ? '>' : '.');
    }
    bar += "] " + std::to_string(done) + "/" + std::to_string(total) + " frames, " + clock_text(elapsed);
    if (progress > 0.0 && done < total) {
        const double left = elapsed / progress * (static_cast<double>(total) - progress);
        bar += ", " + clock_text(left) + " left";
    }
    return bar;
}

void Progress::draw_locked() {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    double partial = 0.0;
    for (const auto& [frame, fraction] : fractions_) partial += fraction;
    const std::string text = bar_text(done_, partial, total_, in_flight_, elapsed, kBarWidth);
    // Clear to the end of the line: the text may have shrunk.
    std::fprintf(stream_, "\r%s\x1b[K", text.c_str());
    std::fflush(stream_);
    drawn_ = true;
}

void Progress::ticker() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!finished_) {
        wake_.wait_for(lock, kTick);
        if (!finished_) draw_locked();
    }
}

void Progress::frame_started(long frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++in_flight_;
    fractions_[frame] = 0.0;
    if (style_ == Style::kBar && !finished_) draw_locked();
}

void Progress::frame_progress(long frame, long current, long total) {
    if (total <= 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    // Drawn by the ticker: reports come once per stroke.
    fractions_[frame] = std::clamp(static_cast<double>(current) / static_cast<double>(total), 0.0, 1.0);
}

void Progress::frame_done(long frame, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    --in_flight_;
    ++done_;
    fractions_.erase(frame);
    if (finished_) return;
    if (style_ == Style::kBar) {
        draw_locked();
    } else if (style_ == Style::kLines) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        std::fprintf(stream_, "frame %ld -> %s (%ld/%ld, %s)\n", frame, path.c_str(), done_, total_,
                     clock_text(elapsed).c_str());
        std::fflush(stream_);
    }
}

void Progress::frame_skipped(long frame, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++done_;
    if (finished_) return;
    if (style_ == Style::kBar) {
        draw_locked();
    } else if (style_ == Style::kLines) {
        std::fprintf(stream_, "frame %ld: %s exists, skipped (%ld/%ld)\n", frame, path.c_str(), done_, total_);
        std::fflush(stream_);
    }
}

void Progress::warning(const std::string& message) {
    std::fprintf(stderr, "trellis: warning: %s\n", message.c_str());
}

void Progress::finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (finished_) return;
        finished_ = true;
        if (style_ == Style::kBar && drawn_) {
            std::fputc('\n', stream_);
            std::fflush(stream_);
        }
    }
    wake_.notify_all();
    if (ticker_.joinable()) ticker_.join();
}

}  // namespace cli
