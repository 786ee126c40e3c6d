#include "scene/request.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "footage/movie_source.h"
#include "masks/svg_path.h"

namespace cli {

namespace {

// Colour into the working space, then the draft size.
FramePrep frame_prep(const std::string& from, const std::string& working, const Ratio& ratio) {
    if (from == working && ratio.num == ratio.den) return {};
    return [from, working, ratio](Image image) {
        if (from != working) convert_colorspace(image, from, working);
        if (ratio.num != ratio.den) image = downsample(image, ratio.num, ratio.den);
        return image;
    };
}

std::shared_ptr<Source> make_source(const SourceRequest& source, Image::Depth depth, const SceneRequest& request) {
    const std::string& from = source.colorspace.empty() ? request.working_colorspace : source.colorspace;
    return std::make_shared<Source>(source.footage, source.offset, depth,
                                    frame_prep(from, request.working_colorspace, request.downsample), source.end);
}

}  // namespace

DeclaredParams declared_params(const std::shared_ptr<standalone::Module>& module) {
    return DeclaredParams(*make_host(module));
}

Scene make_scene(const SceneRequest& request) {
    Scene scene;
    {
        const DeclaredParams declared = declared_params(request.module);
        scene.layer_index = declared.named(kLayerParam).index;
        scene.path_index = declared.named(kPathParam).index;
        if (const DeclaredParam* time = declared.find(kTimeParam)) scene.time_index = time->index;
    }
    scene.settings = request.settings;
    const Ratio& ratio = request.downsample;
    scene.mask = request.mask;
    if (ratio.num != ratio.den) {
        const double factor = static_cast<double>(ratio.num) / static_cast<double>(ratio.den);
        for (standalone::MaskKeyframe& key : scene.mask) key.shape = scale(key.shape, factor, factor);
    }
    const std::shared_ptr<Footage>& input = request.input.footage;
    Image::Depth depth = Image::k8;
    if (request.depth) {
        depth = *request.depth;
    } else if (request.depth_frame && input) {
        depth = input->depth(*request.depth_frame + request.input.offset);
    }
    if (input) scene.input = make_source(request.input, depth, request);
    if (request.layer && request.layer->footage) scene.layer = make_source(*request.layer, depth, request);
    scene.downsample = PF_RationalScale{static_cast<A_long>(ratio.num), static_cast<A_u_long>(ratio.den)};
    scene.rate = request.rate.value_or(input ? footage_rate(*input).value_or(FrameRate{24, 1}) : FrameRate{24, 1});
    // The effect's time scale counts whole frames per second.
    scene.fps = static_cast<A_u_long>(std::max<long>(1, std::lround(scene.rate.value())));
    return scene;
}

}  // namespace cli
