// Output naming and the frame loop shared by `render` and `demo`: frames
// rendered by worker threads (one host each), written as they finish, and
// stopped cleanly by an interrupt.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/image_io.h"
#include "cli/progress.h"
#include "cli/session.h"
#include "standalone/module.h"

namespace cli {

// An output name, optionally holding one printf-style integer conversion
// (%d, %i or %u with flags "-+ 0#", a width and a precision; "%%" is a
// literal percent sign) that takes the frame number.
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

enum class OutputFormat { kPng, kExr };

struct OutputSpec {
    OutputPattern pattern;
    OutputFormat format = OutputFormat::kPng;
    ExrCompression compression = ExrCompression::kZip;
};

// The format from the name's extension (.png or .exr, any case); throws
// Failure (kExitUsage) otherwise.
OutputFormat output_format(const std::string& name);

// Writes `image` as its target says (PNG: 8-bit from an 8-bit image, else
// 16-bit; EXR: float). Throws ImageError.
void write_output(const OutputSpec& target, const std::string& path, const Image& image);

// SIGINT sets a flag instead of ending the process (a second one ends it).
void install_interrupt_handler();
bool interrupt_requested();

struct BatchResult {
    // (frame, file) of every frame written, in frame order.
    std::vector<std::pair<long, std::string>> written;
    bool interrupted = false;
};

// Renders `frames` with up to `jobs` workers, each with its own host sharing
// `module`; every frame goes to target.pattern.path(frame) once it is
// complete. After an interrupt no further frame starts and frames still
// rendering are dropped (no file); the result says so. On the first
// failure no further frame starts, frames in flight finish, and the failure
// is thrown (Failure).
BatchResult render_frames(const std::shared_ptr<standalone::Module>& module, const Scene& scene,
                          const std::vector<long>& frames, const OutputSpec& target, int jobs, Progress& progress);

}  // namespace cli
