// What the command-line renderer hands to the standalone host: the loaded
// module, the scene (input, Layer, mask, parameter values over time) and one
// host per worker thread that renders frames of it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "footage/image_io.h"
#include "footage/keyframes.h"
#include "scene/source.h"
#include "masks/svg_path.h"
#include "host/ae_sdk.h"
#include "standalone/host.h"
#include "standalone/mask.h"
#include "standalone/module.h"
#include "standalone/params.h"
#include "standalone/world.h"

namespace cli {

// Exit codes of the trellis command; after signal n it ends by that signal
// (status 128 + n).
inline constexpr int kExitEffectError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitUnwritable = 3;

// A failure reported as one "trellis: error: ..." line and an exit code:
// kExitUsage for what the user can mend (flags, unreadable inputs, mask
// data, a missing module), kExitUnwritable for an output that cannot be
// written, kExitEffectError for an error code from the effect.
class Failure : public std::runtime_error {
public:
    Failure(int exit_code, const std::string& message) : std::runtime_error(message), exit_code_(exit_code) {}
    int exit_code() const { return exit_code_; }

private:
    int exit_code_;
};

[[noreturn]] void usage_error(const std::string& message);

// `read()`, with a value or file it refuses (ValueError, ImageError)
// reported as a usage error against `flag`.
template <class Read>
auto flag_value(const std::string& flag, Read&& read) -> decltype(read()) {
    try {
        return read();
    } catch (const ValueError& e) {
        usage_error(flag + ": " + e.what());
    } catch (const ImageError& e) {
        usage_error(flag + ": " + e.what());
    }
}

// A usage error against `flag` when `path` does not exist.
void require_file(const std::string& flag, const std::string& path);

// Creates the folder `path` is to be written in, when missing.
void make_parent_folder(const std::string& path);

// `write()`, an output it cannot write ending in kExitUnwritable and any
// other image failure in kExitUsage.
template <class Write>
void write_output_with(Write&& write) {
    try {
        write();
    } catch (const ImageWriteError& e) {
        throw Failure(kExitUnwritable, e.what());
    } catch (const ImageError& e) {
        throw Failure(kExitUsage, e.what());
    }
}

// "4 (out of memory)", or the bare number for codes without a name.
std::string describe_error(PF_Err err);

// The effect module: `explicit_path` when given (the --plugin flag), else
// $TRELLIS_PLUGIN, else NorvexTrellis.so next to the executable, one
// directory up, or in the installed layout's module folder relative to it
// (../lib/norvextrellis/). Throws Failure (kExitUsage) naming what was tried.
std::shared_ptr<standalone::Module> load_module(const std::string& explicit_path);

// A host with the effect set up (global, parameters, sequence) and its call
// log off. Throws Failure (kExitEffectError) when the effect refuses.
std::unique_ptr<standalone::Host> make_host(const std::shared_ptr<standalone::Module>& module);

// One declared parameter, located by the name the effect gave it.
struct DeclaredParam {
    PF_ParamIndex index = 0;
    PF_ParamDef def{};
    // Popup choices, in order (value 1 first).
    std::vector<std::string> choices;
};

class DeclaredParams {
public:
    explicit DeclaredParams(const standalone::Host& host);
    const std::vector<DeclaredParam>& all() const { return params_; }
    // Throws Failure (kExitEffectError) when the effect declared no such name.
    const DeclaredParam& named(std::string_view name) const;
    const DeclaredParam* find(std::string_view name) const;

private:
    std::vector<DeclaredParam> params_;
};

// The lower-case, hyphenated form by which the command line names a popup
// choice: "Color Dodge" -> "color-dodge", "Discrete 1" -> "discrete-1".
std::string flag_form(std::string_view choice);

// A parameter's raw value over frames (constant when one key, not animated).
struct ParamSetting {
    PF_ParamIndex index = 0;
    std::vector<standalone::Keyframe> keys;
    bool animated = false;
};

// `text` as the command line gives it for a slider, popup or checkbox:
// "VALUE" or "FRAME:VALUE,FRAME:VALUE,..." (popups by choice name or number,
// checkboxes "0"/"1"). Sliders in their own units (a percent slider in
// percent), checked against the declared valid range. Throws Failure
// (kExitUsage) naming `flag` and, for a value out of range, the range.
ParamSetting parse_setting(const DeclaredParam& param, std::string_view flag, std::string_view text);

// Everything a frame depends on, shared by every worker. The sources hand
// out worlds that are never written: every worker's host gives the same
// pixels to the effect, which only reads them.
struct Scene {
    // Worlds at the render depth and (already) downsampled size.
    std::shared_ptr<Source> input;
    // "Layer" and "Path"; an index of 0 leaves the parameter at its default.
    PF_ParamIndex layer_index = 0;
    std::shared_ptr<Source> layer;  // null: no Layer
    PF_ParamIndex path_index = 0;
    // "Time", for telling why a frame has no stroke; 0: not known.
    PF_ParamIndex time_index = 0;
    // Keyframes of the "Path" mask (none: no mask), in the downsampled
    // frame's pixels.
    std::vector<standalone::MaskKeyframe> mask;
    std::vector<ParamSetting> settings;
    PF_RationalScale downsample{1, 1};
    A_u_long fps = 24;
};

// World <-> image, pixel for pixel.
std::shared_ptr<standalone::World> to_world(const Image& image);
Image to_image(const standalone::World& world);

// Answers the host's progress and abort callbacks through `on_progress` and
// `cancel` (a cancel is PF_Interrupt_CANCEL).
void attach_host_hooks(standalone::Host& host, std::function<void(long, long)> on_progress,
                       std::function<bool()> cancel);

// Why a frame shows no stroke, as bits: the effect draws none when any of
// them holds.
enum NoStroke : unsigned {
    kNoMask = 1,
    kNoLayer = 2,
    // "Time" exactly 0 % or 100 %: nothing yet, or everything gone again.
    kTimeAtEnd = 4,
    // No segment of the mask comes near the frame.
    kMaskOutside = 8,
};

// Renders frames of one scene on one host; one per worker thread.
class FrameRenderer {
public:
    FrameRenderer(const std::shared_ptr<standalone::Module>& module, const Scene& scene);
    ~FrameRenderer();
    FrameRenderer(const FrameRenderer&) = delete;
    FrameRenderer& operator=(const FrameRenderer&) = delete;

    // Frame n at current_time n, time_step 1, time_scale fps, from the
    // sources' frames for n. Throws Failure (kExitEffectError) with the
    // effect's code and message when it fails, and the sources' failures.
    Image render(long frame);

    // Within a frame: the effect's progress reports go to `on_progress`, and
    // its progress and abort calls are answered with a cancel once `cancel`
    // says so.
    void watch(std::function<void(long current, long total)> on_progress, std::function<bool()> cancel);

    standalone::Host& host() { return *host_; }

    // NoStroke bits of the frame last rendered; 0 when it may have strokes.
    unsigned no_stroke() const { return no_stroke_; }

private:
    unsigned why_no_stroke(long frame, int width, int height) const;

    std::unique_ptr<standalone::Host> host_;
    const Scene& scene_;
    std::shared_ptr<standalone::World> layer_;  // the world last handed over
    unsigned no_stroke_ = 0;
};

}  // namespace cli
