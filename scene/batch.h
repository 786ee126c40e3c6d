// Output naming and the frame loop of every front-end that writes files:
// frames rendered by worker threads (one host each), written as they finish,
// and stopped cleanly by an interrupt.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "footage/image_io.h"
#include "footage/movie_io.h"
#include "footage/frame_pattern.h"
#include "scene/session.h"
#include "standalone/module.h"

namespace cli {

// An output name, optionally holding the frame number (FramePattern's
// tokens); without one, the name itself with "%%" undone.
class OutputPattern {
public:
    // Throws ValueError ("output name TEXT: ...") for a bad frame token.
    static OutputPattern parse(const std::string& text);

    bool numbered() const { return pattern_.has_value(); }
    // The name for `frame`.
    std::string path(long frame) const { return pattern_ ? pattern_->path_for(frame) : literal_; }

private:
    std::optional<FramePattern> pattern_;
    std::string literal_;
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

// Throws ValueError unless the name's extension (any case) is one the image
// or movie writer knows.
void check_output_name(const std::string& name);

// Writes `image` as its target says, creating the folders it goes in.
// Throws ImageWriteError for a file that cannot be written.
void write_output(const OutputTarget& target, const std::string& path, const Image& image);

// What a batch reports as it goes, from any of its threads at once.
class RenderObserver {
public:
    virtual ~RenderObserver() = default;
    virtual void frame_started(long /*frame*/) {}
    // The effect's own report within a frame: `current` of `total` done.
    virtual void frame_progress(long /*frame*/, long /*current*/, long /*total*/) {}
    virtual void frame_done(long /*frame*/, const std::string& /*path*/) {}
    // A frame left alone because its file `path` exists.
    virtual void frame_skipped(long /*frame*/, const std::string& /*path*/) {}
    // Something the user should know that does not stop the render.
    virtual void warning(const std::string& /*message*/) {}
};

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
// left alone, and the temporary files of writers killed outright beside
// the job's outputs are removed first). Once `interrupted` says so (it is asked often, from every
// worker) no further frame starts and frames still rendering write nothing
// (a file being written is finished whole); the result says so. On the
// first failure no further frame starts; frames still rendering into files
// finish and are written (into a movie, which is then abandoned, they are
// stopped through the host's abort check), and that first failure is thrown
// as the same type (EffectError, ImageError, ImageWriteError, ValueError,
// ...), its message ending with "N of M frames written" for those four.
BatchResult render_frames(const RenderJob& job, RenderObserver& observer, const std::function<bool()>& interrupted);

}  // namespace cli
