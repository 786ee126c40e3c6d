// Shared by the painter and drawing tests: worlds of each depth, a render
// context over them, and the standalone host around a scripted entry point,
// in whose render command the painter or the drawing runs. Suites, area
// sampling of a real Layer world, progress, faults and the logged calls
// (sampling blocks, floor and ceil) are the host's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/ae_sdk.h"
#include "host/pixel_traits.h"
#include "render/records.h"
#include "standalone/host.h"
#include "standalone/world.h"
#include "tests/support/pixels.h"
#include "tests/support/standalone_fixture.h"

namespace draw_test {

using standalone::World;
using WorldPtr = std::shared_ptr<World>;

template <typename Pixel>
constexpr PF_PixelFormat format_of() {
    return PixelTraits<Pixel>::format;
}

// A world of one depth filled with `fill`, rows padded by whole pixels.
template <typename Pixel>
WorldPtr frame(A_long width, A_long height, A_long padding_pixels, Pixel fill) {
    auto world = std::make_shared<World>(width, height, format_of<Pixel>(),
                                         padding_pixels * static_cast<A_long>(sizeof(Pixel)));
    world->fill(fill);
    return world;
}

// The bytes between each row's last pixel and the next row.
inline std::vector<std::uint8_t> padding_bytes(const World& world) {
    std::vector<std::uint8_t> bytes;
    const std::size_t used = static_cast<std::size_t>(world.width()) * world.pixel_size();
    for (A_long y = 0; y < world.height(); ++y) {
        const std::uint8_t* row = world.row(y);
        bytes.insert(bytes.end(), row + used, row + world.rowbytes());
    }
    return bytes;
}

// A render context over an input and an output world of one depth.
template <typename Pixel>
RenderContext context_for(PF_InData* in_data, PF_OutData* out_data, World& in, World& out) {
    RenderContext ctx{};
    ctx.in_data = in_data;
    ctx.out_data = out_data;
    ctx.input = in.def();
    ctx.output = out.def();
    ctx.depth = PixelTraits<Pixel>::depth;
    ctx.width = in.width();
    ctx.height = in.height();
    ctx.in_row_pixels = in.rowbytes() / static_cast<A_long>(sizeof(Pixel));
    ctx.out_row_pixels = out.rowbytes() / static_cast<A_long>(sizeof(Pixel));
    return ctx;
}

inline PreRenderInfo draw_info(RevealMode mode, double time_fraction, BlendMode blend_mode, double opacity) {
    PreRenderInfo info{};
    info.mode = mode;
    info.time_fraction = time_fraction;
    info.blend_mode = blend_mode;
    info.opacity = opacity;
    return info;
}

// One logged area-sampling call: the point, the sampling block as the host
// saw it, and the result.
struct Sample {
    PF_Fixed x = 0;
    PF_Fixed y = 0;
    PF_Fixed x_radius = 0;
    PF_Fixed y_radius = 0;
    PF_Fixed area = 0;
    std::intptr_t src = 0;
    A_long samp_behave = 0;
    A_long allow_asynch = 0;
    A_long motion_blur = 0;
    A_long comp_mode = 0;
    bool mask0 = false;
    bool fcm_table = false;
    bool fcd_table = false;
    bool reserved = false;
    PF_Err result = PF_Err_NONE;
};

// The block names `layer` (as the Layer check-out handed it out) as its
// world, and every field but the radii is zero.
inline void expect_plain_block(const Sample& call, const PF_ParamDef& layer) {
    EXPECT_EQ(call.src, reinterpret_cast<std::intptr_t>(&layer.u.ld));
    EXPECT_EQ(call.area, 0);
    EXPECT_EQ(call.samp_behave, 0);
    EXPECT_EQ(call.allow_asynch, 0);
    EXPECT_EQ(call.motion_blur, 0);
    EXPECT_EQ(call.comp_mode, 0);
    EXPECT_FALSE(call.mask0);
    EXPECT_FALSE(call.fcm_table);
    EXPECT_FALSE(call.fcd_table);
    EXPECT_FALSE(call.reserved);
}

// The standalone host around a scripted entry point. Every test ends with
// nothing held.
class DrawHost {
public:
    DrawHost() : host_(standalone::Module::from_entry(&standalone_test::scripted_entry, "draw test")) {}
    ~DrawHost() {
        std::string why;
        EXPECT_TRUE(host_.balanced(&why)) << why;
    }
    DrawHost(const DrawHost&) = delete;
    DrawHost& operator=(const DrawHost&) = delete;

    standalone::Host& host() { return host_; }
    const standalone::Host& host() const { return host_; }

    // Declares a Layer parameter holding `world` and returns it as a
    // check-out hands it to the effect.
    PF_ParamDef layer(const WorldPtr& world) {
        PF_ParamDef decl{};
        decl.param_type = PF_Param_LAYER;
        std::strcpy(decl.name, "Layer");
        decl.u.ld.dephault = PF_LayerDefault_NONE;
        EXPECT_EQ(host_.declare_param(-1, decl), PF_Err_NONE);
        const PF_ParamIndex index = host_.params().count();
        host_.set_layer_param(index, world);
        PF_ParamDef def{};
        EXPECT_EQ(host_.param_value(index, &def), PF_Err_NONE);
        return def;
    }

    // Runs `body` inside a render command; its result is the command's. A
    // PF_Err thrown by the body is thrown again after the command.
    PF_Err run(const std::function<PF_Err(PF_InData*, PF_OutData*)>& body) {
        std::optional<PF_Err> thrown;
        standalone_test::t_script = [&](PF_Cmd, PF_InData* in, PF_OutData* out, PF_ParamDef**, PF_LayerDef*,
                                        void*) -> PF_Err {
            try {
                return body(in, out);
            } catch (PF_Err e) {
                thrown = e;
                return e;
            }
        };
        host_.prepare_call();
        const PF_Err err = host_.call(PF_Cmd_SMART_RENDER, nullptr);
        standalone_test::t_script = nullptr;
        if (thrown) throw *thrown;
        return err;
    }

    // Area-sampling calls of one depth's function so far.
    std::vector<Sample> samples(const char* function = "area_sample8") const {
        namespace arg = standalone::sample_arg;
        std::vector<Sample> out;
        for (const standalone::LoggedCall& call : host_.log().calls(function)) {
            EXPECT_EQ(call.args.size(), std::size_t{arg::count}) << call.describe();
            if (call.args.size() != arg::count) continue;
            Sample s;
            s.x = static_cast<PF_Fixed>(call.int_arg(arg::x));
            s.y = static_cast<PF_Fixed>(call.int_arg(arg::y));
            s.x_radius = static_cast<PF_Fixed>(call.int_arg(arg::x_radius));
            s.y_radius = static_cast<PF_Fixed>(call.int_arg(arg::y_radius));
            s.area = static_cast<PF_Fixed>(call.int_arg(arg::area));
            s.src = static_cast<std::intptr_t>(call.int_arg(arg::src));
            s.samp_behave = static_cast<A_long>(call.int_arg(arg::samp_behave));
            s.allow_asynch = static_cast<A_long>(call.int_arg(arg::allow_asynch));
            s.motion_blur = static_cast<A_long>(call.int_arg(arg::motion_blur));
            s.comp_mode = static_cast<A_long>(call.int_arg(arg::comp_mode));
            s.mask0 = call.int_arg(arg::mask0) != 0;
            s.fcm_table = call.int_arg(arg::fcm_table) != 0;
            s.fcd_table = call.int_arg(arg::fcd_table) != 0;
            s.reserved = call.int_arg(arg::reserved) != 0;
            s.result = static_cast<PF_Err>(call.result);
            out.push_back(s);
        }
        return out;
    }
    // Area-sampling calls of every depth so far.
    std::size_t sample_count() const {
        return host_.log().count("area_sample8") + host_.log().count("area_sample16") +
               host_.log().count("area_sample_float");
    }
    // Calls of the host's ANSI floor and ceil.
    std::size_t floor_calls() const { return host_.log().count("floor"); }
    std::size_t ceil_calls() const { return host_.log().count("ceil"); }
    const std::vector<std::pair<A_long, A_long>>& progress() const { return host_.progress_calls(); }

private:
    standalone::Host host_;
};

}  // namespace draw_test
