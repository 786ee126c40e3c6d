// Output naming and the frame loop shared by `render` and `demo`: frames
// rendered by worker threads (one host each), written as they finish, and
// stopped cleanly by an interrupt.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "footage/image_io.h"
#include "footage/movie_io.h"
#include "cli/progress.h"
#include "scene/session.h"
#include "standalone/module.h"

namespace cli {

// An output name, optionally holding the frame number: one printf-style
// integer conversion (%d, %i or %u with flags "-+ 0#", a width and a
// precision; "%%" is a literal percent sign), or else a run of '#' or '@',
// one digit each, as the inputs take them.
class OutputPattern {
public:
    // Throws Failure (kExitUsage) for any other conversion, or more than one.
    static OutputPattern parse(const std::string& text);

    bool numbered() const { return numbered_; }
    // The name for `frame` (the text itself, "%%" undone, when not numbered).
    std::string path(long frame) const;

private:
    std::string prefix_;
    std::string suffix_;
    bool numbered_ = false;
    bool left_ = false;
    bool zero_ = false;
    bool plus_ = false;
    bool space_ = false;
    int width_ = 0;
    int precision_ = -1;
};

struct OutputTarget {
    OutputPattern pattern;
    WriteOptions write;
    // Working space to the file's; both empty (or equal): values as rendered.
    std::string from_colorspace;
    std::string to_colorspace;
    // Set for a movie: every frame goes into the one file path(first frame),
    // encoded in the order of the frame list.
    std::optional<MovieSettings> movie;
    // Frame f is written as the pattern's frame f + frame_offset.
    long frame_offset = 0;

    std::string path(long frame) const { return pattern.path(frame + frame_offset); }
};

// Throws Failure (kExitUsage) unless the name's extension (any case) is one
// the image or movie writer knows.
void check_output_name(const std::string& name);

// Writes `image` as its target says, creating the folders it goes in.
// Throws Failure (kExitUnwritable) for a file that cannot be written.
void write_output(const OutputTarget& target, const std::string& path, const Image& image);

// SIGINT, SIGTERM and SIGHUP set a flag instead of ending the process (a
// second SIGINT ends it at once).
void install_interrupt_handler();
bool interrupt_requested();
// After an interrupt: ends the process by the signal that asked for it,
// with its default action, so that a parent sees the kill.
[[noreturn]] void end_by_interrupt();

struct BatchResult {
    // (frame, file) of every frame written, in frame order.
    std::vector<std::pair<long, std::string>> written;
    bool interrupted = false;
    // Frames rendered (not skipped), and when none of them can show a
    // stroke, every reason why (NoStroke bits); else 0.
    long rendered = 0;
    unsigned no_stroke = 0;
};

struct RenderJob;

// Renders the job's frames with up to job.jobs workers, each with its own
// host sharing the module; every frame goes to output.path(frame)
// once it is complete (with skip_existing, a frame whose file exists is
// left alone). After an interrupt no further frame starts and frames still
// rendering write nothing (a file being written is finished whole); the
// result says so. On the first failure no further frame starts; frames
// still rendering into files finish and are written (into a movie, which
// is then abandoned, they are stopped through the host's abort check), and
// that first failure is thrown (Failure), its message ending with
// "N of M frames written".
BatchResult render_frames(const RenderJob& job, Progress& progress);

}  // namespace cli
