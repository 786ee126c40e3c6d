// Renders a fixed set of scenes through a built effect module at 8, 16 and
// float depth and prints one line per output: scene, depth, pixel hash, the
// render's error code and the number of progress reports (one per stroke). The same program is built for Linux and for Windows;
// the two must print the same lines for NorvexTrellis.so and
// NorvexTrellis.aex (the Windows one runs under wine in the tests).
//
// usage: trellis_selftest MODULE
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "host/ae_sdk.h"
#include "params/params.h"
#include "standalone/host.h"
#include "standalone/mask.h"
#include "standalone/world.h"

namespace {

using standalone::World;

struct Depth {
    const char* name;
    PF_PixelFormat format;
};

constexpr Depth kDepths[] = {
    {"8", PF_PixelFormat_ARGB32},
    {"16", PF_PixelFormat_ARGB64},
    {"float", PF_PixelFormat_ARGB128},
};

struct Scene {
    const char* name;
    A_long mode;  // popup choice, 1-based
    double time_percent;
    A_long max_width;
    double min_width_percent;
    bool various_directions;
    A_long blend_mode;  // popup choice, 1-based
    double opacity_percent;
    A_long seed;
    bool on_original;
    bool closed_curve;  // else an open polyline
};

// Every blend mode and reveal mode, both sides of 50 % and both backgrounds.
constexpr Scene kScenes[] = {
    {"normal", 1, 30.0, 24, 40.0, false, 1, 100.0, 7, true, true},
    {"tritone", 2, 65.0, 18, 20.0, true, 2, 80.0, 123, false, true},
    {"add", 3, 45.0, 30, 0.0, false, 3, 50.0, 42, true, false},
    {"multiply", 1, 62.5, 12, 100.0, true, 4, 100.0, 999, true, true},
    {"screen", 2, 80.0, 20, 35.0, false, 5, 30.0, 50000, false, true},
    {"overlay", 3, 33.3, 28, 10.0, true, 6, 100.0, 0, true, false},
    {"color-dodge", 1, 90.0, 10, 75.0, false, 7, 60.0, 314, false, true},
    {"color-burn", 2, 12.5, 36, 60.0, true, 8, 90.0, 2718, true, true},
};

constexpr A_long kWidth = 160;
constexpr A_long kHeight = 120;

// An 8-bit value per channel, the same at every depth after scaling.
struct Rgba8 {
    int a, r, g, b;
};

Rgba8 input_pixel(A_long x, A_long y) {
    const int alpha = (x < 12 && y < 12) ? 0 : (y > 100 ? 96 + x : 255);
    return {alpha, (x * 7 + y * 3) % 256, (x * 2 + y * 5 + 40) % 256, (255 - x * 2 - y) & 255};
}

Rgba8 layer_pixel(A_long x, A_long y) {
    return {x == 0 ? 200 : 255, (x * 23 + y * 11) % 256, (x * 5 + 97) % 256, (y * 31 + x) % 256};
}

void set_pixel(World& w, A_long x, A_long y, const Rgba8& p) {
    switch (w.format()) {
    case PF_PixelFormat_ARGB32:
        w.pixel8(x, y) = {static_cast<A_u_char>(p.a), static_cast<A_u_char>(p.r), static_cast<A_u_char>(p.g),
                          static_cast<A_u_char>(p.b)};
        break;
    case PF_PixelFormat_ARGB64: {
        const auto scale = [](int v) { return static_cast<A_u_short>((v * 32768 + 127) / 255); };
        w.pixel16(x, y) = {scale(p.a), scale(p.r), scale(p.g), scale(p.b)};
        break;
    }
    default: {
        const auto scale = [](int v) { return static_cast<float>(v) / 255.0f; };
        w.pixel_float(x, y) = {scale(p.a), scale(p.r), scale(p.g), scale(p.b)};
        break;
    }
    }
}

std::shared_ptr<World> make_world(A_long width, A_long height, PF_PixelFormat format, Rgba8 (*pattern)(A_long, A_long)) {
    auto world = std::make_shared<World>(width, height, format);
    for (A_long y = 0; y < height; ++y) {
        for (A_long x = 0; x < width; ++x) set_pixel(*world, x, y, pattern(x, y));
    }
    return world;
}

standalone::MaskShape closed_curve() {
    standalone::MaskShape shape;
    shape.closed = true;
    shape.vertices = {
        {30.0, 28.0, -10.0, 14.0, 10.0, -14.0},
        {118.0, 22.0, -16.0, -6.0, 16.0, 6.0},
        {134.0, 92.0, 14.0, -16.0, -14.0, 16.0},
        {38.0, 100.0, 20.0, 10.0, -20.0, -10.0},
    };
    return shape;
}

standalone::MaskShape open_polyline() {
    standalone::MaskShape shape;
    shape.closed = false;
    shape.vertices = {
        {12.0, 108.0, 0.0, 0.0, 0.0, 0.0},
        {66.5, 16.25, 0.0, 0.0, 0.0, 0.0},
        {148.0, 84.0, 0.0, 0.0, 0.0, 0.0},
    };
    return shape;
}

struct Outcome {
    std::uint64_t hash = 0;
    PF_Err err = PF_Err_NONE;
    std::size_t progress = 0;
    bool balanced = false;
};

Outcome render(const std::shared_ptr<standalone::Module>& module, const Scene& scene, const Depth& depth) {
    standalone::Host host(module);
    Outcome outcome;
    outcome.err = host.setup_all();
    if (outcome.err != PF_Err_NONE) return outcome;

    host.set_input(make_world(kWidth, kHeight, depth.format, input_pixel));
    auto output = std::make_shared<World>(kWidth, kHeight, depth.format);
    host.set_output(output);
    host.set_layer_param(PARAM_LAYER, make_world(24, 16, depth.format, layer_pixel));
    host.set_path_param(PARAM_PATH, host.add_mask(scene.closed_curve ? closed_curve() : open_polyline()));
    host.set_param(PARAM_MODE, scene.mode);
    host.set_param_percent(PARAM_TIME, scene.time_percent);
    host.set_param(PARAM_MAX_WIDTH, scene.max_width);
    host.set_param_percent(PARAM_MIN_WIDTH, scene.min_width_percent);
    host.set_param(PARAM_VARIOUS_DIRECTIONS, scene.various_directions ? 1 : 0);
    host.set_param(PARAM_BLEND_MODE, scene.blend_mode);
    host.set_param_percent(PARAM_OPACITY, scene.opacity_percent);
    host.set_param(PARAM_SEED, scene.seed);
    host.set_param(PARAM_ON_ORIGINAL, scene.on_original ? 1 : 0);

    const standalone::RenderResult result = host.render_frame();
    outcome.err = result.err();
    outcome.hash = output->pixel_hash();
    outcome.progress = host.progress_calls().size();
    outcome.balanced = host.balanced() && result.guards_intact;
    return outcome;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MODULE\n", argc > 0 ? argv[0] : "trellis_selftest");
        return 2;
    }
    try {
        std::string error;
        const auto module = standalone::Module::load(argv[1], &error);
        if (module == nullptr) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        int status = 0;
        for (const Scene& scene : kScenes) {
            for (const Depth& depth : kDepths) {
                const Outcome o = render(module, scene, depth);
                std::printf("%s %s %016" PRIx64 " %d %lu\n", scene.name, depth.name, o.hash, static_cast<int>(o.err),
                            static_cast<unsigned long>(o.progress));
                if (!o.balanced) {
                    std::fprintf(stderr, "%s %s: host resources not balanced or guards broken\n", scene.name,
                                 depth.name);
                    status = 1;
                }
            }
        }
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "selftest: %s\n", e.what());
        return 1;
    }
}
