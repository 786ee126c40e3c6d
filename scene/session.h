// The scene on the standalone host: the loaded module, the scene (input,
// Layer, mask, parameter values over time) and one host per worker thread
// that renders frames of it.
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
#include "footage/movie_io.h"
#include "scene/source.h"
#include "masks/svg_path.h"
#include "host/ae_sdk.h"
#include "standalone/host.h"
#include "standalone/mask.h"
#include "standalone/module.h"
#include "standalone/params.h"
#include "standalone/world.h"

namespace cli {

// The effect refused or failed: its set-up, a render's error code, an image
// it wrote outside of, a parameter it does not declare.
class EffectError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "4 (out of memory)", or the bare number for codes without a name.
std::string describe_error(PF_Err err);

// A host with the effect set up (global, parameters, sequence) and its call
// log off. Throws EffectError when the effect refuses.
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
    // Throws EffectError when the effect declared no such name.
    const DeclaredParam& named(std::string_view name) const;
    const DeclaredParam* find(std::string_view name) const;

private:
    std::vector<DeclaredParam> params_;
};

// The lower-case, hyphenated word for a popup choice, as values name it:
// "Color Dodge" -> "color-dodge", "Discrete 1" -> "discrete-1".
std::string choice_word(std::string_view choice);

// A parameter's raw value over frames (constant when one key, not animated).
struct ParamSetting {
    PF_ParamIndex index = 0;
    std::vector<standalone::Keyframe> keys;
    bool animated = false;
};

// `text` for a slider, popup or checkbox: "VALUE" or
// "FRAME:VALUE,FRAME:VALUE,..." (popups by choice word or number, checkboxes
// "0"/"1"). Sliders in their own units (a percent slider in percent),
// checked against the declared valid range. Throws ValueError starting with
// `label` (the value's name for the user) and, for a value out of range,
// naming the range; EffectError for a parameter of another type.
ParamSetting parse_setting(const DeclaredParam& param, std::string_view label, std::string_view text);

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
    // The frame rate, and as the effect's time scale whole frames per second.
    FrameRate rate{24, 1};
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
    // sources' frames for n. Throws EffectError with the effect's code and
    // message when it fails, and the sources' errors.
    Image render(long frame);
    // Frame n from pixels in hand (a host's frame, say) instead of the
    // scene's sources: `input` at the depth to render, `layer` null for no
    // Layer. Neither is kept after the call.
    Image render(long frame, const Image& input, const Image* layer);

    // Within a frame: the effect's progress reports go to `on_progress`, and
    // its progress and abort calls are answered with a cancel once `cancel`
    // says so.
    void watch(std::function<void(long current, long total)> on_progress, std::function<bool()> cancel);

    standalone::Host& host() { return *host_; }

    // NoStroke bits of the frame last rendered; 0 when it may have strokes.
    unsigned no_stroke() const { return no_stroke_; }

private:
    // Renders with the worlds set.
    Image run(long frame);
    unsigned why_no_stroke(long frame, int width, int height) const;

    std::unique_ptr<standalone::Host> host_;
    const Scene& scene_;
    std::shared_ptr<standalone::World> layer_;  // the world last handed over
    unsigned no_stroke_ = 0;
};

}  // namespace cli
