// The rendering library behind the frei0r plug-ins: one stand-in host per
// plug-in instance, the effect module, and the footage and mask readers of
// `trellis`. Frames go through the host exactly as `trellis render` sends
// them at 8 bits, so the pixels are the same.
#include <dlfcn.h>

#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "masks/mask_track.h"
#include "scene/session.h"
#include "scene/source.h"
#include "frei0r/renderer_api.h"
#include "standalone/host.h"
#include "standalone/module.h"
#include "standalone/world.h"

namespace {

constexpr const char* kModuleFile = "NorvexTrellis.so";

// The folder this library was loaded from, where the module is installed too.
std::string own_folder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&own_folder), &info) == 0 || info.dli_fname == nullptr) return ".";
    const std::string path = info.dli_fname;
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// frei0r's RGBA8888 is R, G, B, A in memory; the host's 8-bit pixel is
// alpha first. Both straight.
std::shared_ptr<standalone::World> world_from_rgba(const uint32_t* frame, A_long width, A_long height) {
    auto world = std::make_shared<standalone::World>(width, height, PF_PixelFormat_ARGB32);
    const auto* bytes = reinterpret_cast<const unsigned char*>(frame);
    for (A_long y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<PF_Pixel8*>(world->row(y));
        const unsigned char* src = bytes + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4;
        for (A_long x = 0; x < width; ++x, src += 4) row[x] = PF_Pixel8{src[3], src[0], src[1], src[2]};
    }
    return world;
}

void world_to_rgba(const standalone::World& world, uint32_t* frame) {
    auto* bytes = reinterpret_cast<unsigned char*>(frame);
    for (A_long y = 0; y < world.height(); ++y) {
        const auto* row = reinterpret_cast<const PF_Pixel8*>(world.row(y));
        for (A_long x = 0; x < world.width(); ++x, bytes += 4) {
            bytes[0] = row[x].red;
            bytes[1] = row[x].green;
            bytes[2] = row[x].blue;
            bytes[3] = row[x].alpha;
        }
    }
}

}  // namespace

struct TrellisFrei0rRenderer {
    A_long width = 0;
    A_long height = 0;
    std::unique_ptr<standalone::Host> host;

    // Each kept until its text changes; a text that failed keeps its reason.
    bool mask_loaded = false;
    std::string mask_text;
    PF_PathID mask_id = 0;
    std::string mask_error;
    std::string layer_file;
    std::string layer_error;
    std::shared_ptr<standalone::World> layer_world;
    bool layer_from_file = false;

    std::string message;

    const char* fail(std::string why) {
        message = std::move(why);
        return message.c_str();
    }

    void update_mask(const std::string& text) {
        if (mask_loaded && text == mask_text) return;
        mask_loaded = true;
        mask_text = text;
        mask_error.clear();
        // An editor sets the text at every key stroke: the old mask goes.
        if (mask_id != 0) host->masks().remove(mask_id);
        mask_id = 0;
        try {
            std::vector<standalone::MaskKeyframe> keys = cli::load_mask(text, {0});
            if (!keys.empty()) mask_id = host->add_mask_keyframes(std::move(keys));
        } catch (const std::exception& e) {
            mask_error = std::string("Path: ") + e.what();
        }
        host->set_path_param(PARAM_PATH, mask_id);
    }

    void update_layer_file(const std::string& file) {
        if (layer_from_file && file == layer_file) return;
        layer_from_file = true;
        layer_file = file;
        layer_error.clear();
        layer_world.reset();
        if (!file.empty()) {
            try {
                // A movie or a sequence gives its first frame, held.
                layer_world = cli::to_world(cli::open_footage("Layer", file)->read(0, cli::Image::k8));
            } catch (const std::exception& e) {
                layer_error = std::string("Layer: ") + e.what();
            }
        }
        host->set_layer_param(PARAM_LAYER, layer_world);
    }

    const char* render(const TrellisFrei0rSettings& s, const uint32_t* in, const uint32_t* layer, uint32_t* out) {
        update_mask(s.mask != nullptr ? s.mask : "");
        if (s.layer != nullptr) {
            update_layer_file(s.layer);
        } else {
            layer_from_file = false;
            host->set_layer_param(PARAM_LAYER, layer != nullptr ? world_from_rgba(layer, width, height) : nullptr);
        }
        if (!mask_error.empty()) return fail(mask_error);
        if (!layer_error.empty()) return fail(layer_error);
        for (PF_ParamIndex i = PARAM_MODE; i < PARAM_COUNT; ++i) {
            if (i != PARAM_LAYER) host->set_param(i, s.raw[i]);
        }
        host->set_input(world_from_rgba(in, width, height));
        host->set_time(0, 1, 24);
        const standalone::RenderResult result = host->render_frame();
        host->clear_progress();
        if (result.err() != PF_Err_NONE) {
            std::string why = "the effect failed with error " + cli::describe_error(result.err());
            if (!result.return_msg.empty()) why += ": " + result.return_msg;
            return fail(why);
        }
        if (!result.guards_intact) return fail("the effect wrote outside an image: " + result.guard_report);
        if (result.output == nullptr) return fail("the host made no output image");
        world_to_rgba(*result.output, out);
        return nullptr;
    }
};

extern "C" {

__attribute__((visibility("default"))) TrellisFrei0rRenderer* trellis_frei0r_create(unsigned width, unsigned height,
                                                                                     char* why, size_t why_size) {
    std::string reason;
    try {
        auto renderer = std::make_unique<TrellisFrei0rRenderer>();
        renderer->width = static_cast<A_long>(width);
        renderer->height = static_cast<A_long>(height);
        const std::string path = own_folder() + "/" + kModuleFile;
        std::shared_ptr<standalone::Module> module = standalone::Module::load(path, &reason);
        if (module == nullptr) {
            reason = "cannot load the effect module " + path + ": " + reason;
        } else {
            renderer->host = cli::make_host(module);
            return renderer.release();
        }
    } catch (const std::exception& e) {
        reason = e.what();
    }
    if (why != nullptr && why_size > 0) {
        std::strncpy(why, reason.c_str(), why_size - 1);
        why[why_size - 1] = '\0';
    }
    return nullptr;
}

__attribute__((visibility("default"))) const char* trellis_frei0r_render(TrellisFrei0rRenderer* renderer,
                                                                         const TrellisFrei0rSettings* settings,
                                                                         const uint32_t* in, const uint32_t* layer,
                                                                         uint32_t* out) {
    try {
        return renderer->render(*settings, in, layer, out);
    } catch (const std::exception& e) {
        return renderer->fail(e.what());
    } catch (...) {
        return renderer->fail("unknown failure");
    }
}

__attribute__((visibility("default"))) void trellis_frei0r_destroy(TrellisFrei0rRenderer* renderer) {
    if (renderer == nullptr) return;
    try {
        renderer->host->sequence_setdown();
        renderer->host->global_setdown();
    } catch (...) {
        // Going away regardless; nothing to report to.
    }
    delete renderer;
}

}

static_assert(std::is_same_v<decltype(&trellis_frei0r_create), TrellisFrei0rCreate>);
static_assert(std::is_same_v<decltype(&trellis_frei0r_render), TrellisFrei0rRender>);
static_assert(std::is_same_v<decltype(&trellis_frei0r_destroy), TrellisFrei0rDestroy>);
