// A scene as a front-end describes it, in typed values (footage, mask keys,
// parameter settings, depth, draft size, colour spaces, rate), made into the
// Scene that FrameRenderer and render_frames render. No front-end builds a
// Scene by hand.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "footage/footage.h"
#include "footage/keyframes.h"
#include "footage/movie_io.h"
#include "scene/session.h"
#include "standalone/mask.h"
#include "standalone/module.h"

namespace cli {

// The declared names of the two parameters a scene fills from its footage
// and its mask, and of the one that tells why a frame has no stroke.
inline constexpr const char* kPathParam = "Path";
inline constexpr const char* kLayerParam = "Layer";
inline constexpr const char* kTimeParam = "Time";

struct SourceRequest {
    // Shared: scenes at several draft sizes may read the same footage.
    std::shared_ptr<Footage> footage;
    // Render frame f shows footage frame f + offset.
    long offset = 0;
    // Past the footage's frames: an error, hold or loop.
    FrameEnd end = FrameEnd::kNone;
    // Its colour space; empty: the working space.
    std::string colorspace;
};

struct SceneRequest {
    std::shared_ptr<standalone::Module> module;
    // No footage: every frame is rendered from pixels in hand
    // (FrameRenderer::render(frame, input, layer)), as a host hands them.
    SourceRequest input;
    std::optional<SourceRequest> layer;
    // The "Path" over time, in the full-size frame's pixels (load_mask);
    // none: no mask.
    std::vector<standalone::MaskKeyframe> mask;
    // Parameter values, checked against the effect's declarations
    // (parse_setting).
    std::vector<ParamSetting> settings;
    // The render's depth; none: the stored depth of the input frame that
    // render frame `depth_frame` shows, else 8 bits.
    std::optional<Image::Depth> depth;
    std::optional<long> depth_frame;
    // The draft size (parse_downsample).
    Ratio downsample{1, 1};
    // Where colour is computed; empty, and every source's and the output's
    // space empty too: values pass as stored.
    std::string working_colorspace;
    // None: the movie input's own rate, else 24.
    std::optional<FrameRate> rate;
};

// The scene the request describes: the Layer and Path parameters found by
// their declared names, the mask scaled to the draft size, every source
// converted to the working space and downsampled as it is read. Throws
// EffectError when the effect lacks a parameter, ImageError for footage it
// cannot read.
Scene make_scene(const SceneRequest& request);

// The effect's declared parameters, from a host set up once.
DeclaredParams declared_params(const std::shared_ptr<standalone::Module>& module);

}  // namespace cli
