// The stroke painter: Layer mapping in the four orientations, the covered
// pixels, compositing at the three depths and the carried sample buffer.
// The painter runs inside a command of the standalone host (around a scripted
// entry point), so suites, area sampling of a real Layer world and faults are
// the host's own.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "draw/blend.h"
#include "draw/paint.h"
#include "draw_fixture.h"
#include "host/suite_cache.h"
#include "render/pre_render.h"
#include "render/records.h"
#include "standalone/host.h"
#include "standalone/sampling.h"
#include "standalone/world.h"
#include "strokes/stroke_list.h"

namespace {

using standalone::FaultTarget;
using namespace draw_test;

PF_Pixel8& at(World& w, A_long x, A_long y, PF_Pixel8*) { return w.pixel8(x, y); }
PF_Pixel16& at(World& w, A_long x, A_long y, PF_Pixel16*) { return w.pixel16(x, y); }
PF_PixelFloat& at(World& w, A_long x, A_long y, PF_PixelFloat*) { return w.pixel_float(x, y); }

// The host's area-sampling function of a depth, as logged.
template <typename Pixel>
constexpr const char* sample_function() {
    if constexpr (std::is_same_v<Pixel, PF_Pixel8>) {
        return "area_sample8";
    } else if constexpr (std::is_same_v<Pixel, PF_Pixel16>) {
        return "area_sample16";
    } else {
        return "area_sample_float";
    }
}

// What the host's area sampling of `layer` gave for a logged call.
PF_Pixel8 resample(const World& layer, const Sample& call) {
    const standalone::AreaSampler sampler(*layer.def(), layer.format());
    PF_Pixel8 out{};
    EXPECT_EQ(sampler.sample8(call.x, call.y, call.x_radius, call.y_radius, &out), PF_Err_NONE);
    return out;
}

Stroke stroke_at(A_long sample_x, A_long sample_y, Orientation orientation = Orientation::Upright) {
    Stroke s{};
    s.sample_x = sample_x;
    s.sample_y = sample_y;
    s.orientation = orientation;
    return s;
}

DrawRect whole(A_longlong cx, A_longlong cy, A_longlong half_w, A_longlong half_h) {
    return {cx, cy, half_w, half_w, half_h, half_h};
}

template <typename Pixel>
PF_Err paint_one(DrawHost& host, World& in, World& out, const PF_ParamDef& layer, const PreRenderInfo& info,
                 const DrawRect& rect, const Stroke& stroke, PF_Err err = PF_Err_NONE) {
    return host.run([&](PF_InData* in_data, PF_OutData* out_data) {
        const RenderContext ctx = context_for<Pixel>(in_data, out_data, in, out);
        SuiteCache suites(in_data->pica_basicP);
        StrokePainter<Pixel> painter(ctx, info, layer, suites);
        PF_Err result = err;
        painter.paint_stroke(rect, stroke, result);
        return result;
    });
}

constexpr PF_Pixel8 clear8{0, 0, 0, 0};
constexpr PF_Pixel8 white8{255, 255, 255, 255};

// ---------------------------------------------------------------------------
// Fixed-point conversion
// ---------------------------------------------------------------------------

TEST(ToFixed, RoundsHalfAwayFromZeroAndGuardsTheRange) {
    const struct {
        double v;
        PF_Fixed expected;
    } cases[] = {
        {0.0, 0},
        {1.0, 65536},
        {-1.0, -65536},
        {0.5 / 65536, 1},
        {-0.5 / 65536, -1},
        {0.49 / 65536, 0},
        {-0.49 / 65536, 0},
        {49.5, 3244032},
        {32767.99998, 2147483647},
        {-32768.0, INT32_MIN},
        {1e10, INT32_MAX},
        {-1e10, INT32_MIN},
        {HUGE_VAL, INT32_MAX},
        {-HUGE_VAL, INT32_MIN},
        {NAN, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.v);
        EXPECT_EQ(to_fixed(c.v), c.expected);
    }
}

// ---------------------------------------------------------------------------
// Layer mapping
// ---------------------------------------------------------------------------

TEST(PaintMapping, WholeStrokeCentreMapsToTheLayerMiddleInEveryOrientation) {
    // Layer 100 x 51; rectangle 7 x 5 around (5, 5).
    const struct {
        Orientation orientation;
        PF_Fixed x_radius, y_radius;
    } cases[] = {{Orientation::Upright, 401241, 267387},
                 {Orientation::QuarterTurn, 524288, 204633},
                 {Orientation::HalfTurn, 401241, 267387},
                 {Orientation::ThreeQuarterTurn, 524288, 204633}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(name_of(c.orientation)));
        DrawHost host;
        const WorldPtr in = frame<PF_Pixel8>(11, 11, 0, {255, 1, 2, 3});
        const WorldPtr out = frame<PF_Pixel8>(11, 11, 0, clear8);
        // Every box lies inside this uniform Layer, so each sample is exactly
        // its pixel: the alpha 200 in the output shows the block's source
        // was the Layer.
        const PF_ParamDef layer = host.layer(frame<PF_Pixel8>(100, 51, 0, {200, 90, 90, 90}));
        ASSERT_EQ(paint_one<PF_Pixel8>(host, *in, *out, layer, draw_info(RevealMode::Continuous, 0.5, BlendMode::Normal, 1.0), whole(5, 5, 3, 2),
                                       stroke_at(5, 5, c.orientation)),
                  PF_Err_NONE);
        const auto samples = host.samples();
        ASSERT_EQ(samples.size(), 35u);
        const Sample& centre = samples[2 * 7 + 3];  // row dy = 0, column dx = 0
        EXPECT_EQ(centre.x, 3244032);              // fix(99 / 2)
        EXPECT_EQ(centre.y, 1638400);              // fix(50 / 2)
        for (const Sample& call : samples) {
            EXPECT_EQ(call.result, PF_Err_NONE);
            EXPECT_EQ(call.x_radius, c.x_radius);
            EXPECT_EQ(call.y_radius, c.y_radius);
            expect_plain_block(call, layer);
        }
        for (A_long y = 3; y <= 7; ++y)
            for (A_long x = 2; x <= 8; ++x) EXPECT_EQ(out->pixel8(x, y), (PF_Pixel8{200, 1, 2, 3})) << x << ',' << y;
    }
}

std::vector<Sample> positions_of(Orientation orientation, const DrawRect& rect) {
    DrawHost host;
    const WorldPtr in = frame<PF_Pixel8>(20, 20, 0, {255, 1, 2, 3});
    const WorldPtr out = frame<PF_Pixel8>(20, 20, 0, clear8);
    const PF_ParamDef layer = host.layer(frame<PF_Pixel8>(100, 51, 0, white8));
    EXPECT_EQ(paint_one<PF_Pixel8>(host, *in, *out, layer, draw_info(RevealMode::Continuous, 0.5, BlendMode::Normal, 1.0), rect,
                                   stroke_at(10, 10, orientation)),
              PF_Err_NONE);
    return host.samples();
}

TEST(PaintMapping, HalfTurnSamplesTheUprightPositionOfTheOppositeOffset) {
    const DrawRect rect = whole(10, 10, 4, 3);
    const auto upright = positions_of(Orientation::Upright, rect);
    const auto turned = positions_of(Orientation::HalfTurn, rect);
    ASSERT_EQ(upright.size(), 63u);
    ASSERT_EQ(turned.size(), 63u);
    // Pixel (dx, dy) is call (dy + 3) * 9 + (dx + 4).
    for (int dy = -3; dy <= 3; ++dy) {
        for (int dx = -4; dx <= 4; ++dx) {
            const Sample& t = turned[static_cast<std::size_t>((dy + 3) * 9 + (dx + 4))];
            const Sample& u = upright[static_cast<std::size_t>((-dy + 3) * 9 + (-dx + 4))];
            EXPECT_EQ(t.x, u.x) << dx << ',' << dy;
            EXPECT_EQ(t.y, u.y) << dx << ',' << dy;
        }
    }
}

TEST(PaintMapping, QuarterTurnsRunTheLayerAxesAcrossTheRectangle) {
    // Rectangle 7 x 5; across the rectangle x_step = 100 * 4 / 25 = 16 and
    // y_step = 51 * 6 / 49 (fix 409266).
    const DrawRect rect = whole(10, 10, 3, 2);
    const auto at_offset = [](const std::vector<Sample>& calls, int dx, int dy) {
        return calls[static_cast<std::size_t>((dy + 2) * 7 + (dx + 3))];
    };
    const auto clockwise = positions_of(Orientation::QuarterTurn, rect);
    const auto anticlockwise = positions_of(Orientation::ThreeQuarterTurn, rect);
    ASSERT_EQ(clockwise.size(), 35u);
    ASSERT_EQ(anticlockwise.size(), 35u);
    // 2: the Layer's x runs down the output, its y from right to left.
    EXPECT_EQ(at_offset(clockwise, 0, 1).x - at_offset(clockwise, 0, 0).x, 16 * 65536);
    EXPECT_EQ(at_offset(clockwise, 0, 1).y, at_offset(clockwise, 0, 0).y);
    EXPECT_EQ(at_offset(clockwise, 1, 0).y - at_offset(clockwise, 0, 0).y, -409266);
    EXPECT_EQ(at_offset(clockwise, 1, 0).x, at_offset(clockwise, 0, 0).x);
    // 4: the Layer's x runs up, its y from left to right.
    EXPECT_EQ(at_offset(anticlockwise, 0, 1).x - at_offset(anticlockwise, 0, 0).x, -16 * 65536);
    EXPECT_EQ(at_offset(anticlockwise, 1, 0).y - at_offset(anticlockwise, 0, 0).y, 409266);
}

TEST(PaintMapping, ShortenedRectangleStartsFromItsLeftAndTopInEveryOrientation) {
    // w = 6 (left 1, right 4), h = 3 (top 0, bottom 2): fx = 0.25, fy = 1/6.
    const DrawRect rect{10, 10, 1, 4, 0, 2};
    const struct {
        Orientation orientation;
        PF_Fixed x0, y0;
    } cases[] = {{Orientation::Upright, 1622016, 546133},
                 {Orientation::QuarterTurn, 1622016, 546133},
                 {Orientation::HalfTurn, 4866048, 2730667},
                 {Orientation::ThreeQuarterTurn, 4866048, 2730667}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(name_of(c.orientation)));
        const auto calls = positions_of(c.orientation, rect);
        ASSERT_EQ(calls.size(), 18u);
        EXPECT_EQ(calls[1].x, c.x0);  // first row is dy = 0; dx = 0 is its second pixel
        EXPECT_EQ(calls[1].y, c.y0);
    }
}

TEST(PaintMapping, DegenerateLayerAndRectangleSizesStayFinite) {
    // A Layer of width 0 and a one-column rectangle: no step, a fixed start.
    DrawHost host;
    const WorldPtr in = frame<PF_Pixel8>(5, 5, 0, {255, 1, 2, 3});
    const WorldPtr out = frame<PF_Pixel8>(5, 5, 0, clear8);
    const PF_ParamDef layer = host.layer(std::make_shared<World>(0, 0, PF_PixelFormat_ARGB32));
    EXPECT_EQ(paint_one<PF_Pixel8>(host, *in, *out, layer, draw_info(RevealMode::Continuous, 0.5, BlendMode::Normal, 1.0), DrawRect{2, 2, 0, 0, 1, 1},
                                   stroke_at(2, 2)),
              PF_Err_NONE);
    const auto calls = host.samples();
    ASSERT_EQ(calls.size(), 3u);
    for (const Sample& call : calls) {
        EXPECT_EQ(call.x, -32768);  // fix(-1 / 2)
        EXPECT_EQ(call.x_radius, 0);
    }
}

// ---------------------------------------------------------------------------
// Covered pixels
// ---------------------------------------------------------------------------

TEST(PaintPixels, OnlyThePartInsideTheFrameIsSampledAndWrittenRowByRow) {
    DrawHost host;
    const WorldPtr in = frame<PF_Pixel8>(5, 4, 2, {255, 9, 9, 9});
    const WorldPtr out = frame<PF_Pixel8>(5, 4, 3, clear8);
    const auto padding = padding_bytes(*out);
    const PF_ParamDef layer = host.layer(frame<PF_Pixel8>(40, 40, 0, white8));
    // Columns -2..2, rows 1..5 of a 5 x 4 frame: 3 x 3 inside.
    ASSERT_EQ(paint_one<PF_Pixel8>(host, *in, *out, layer, draw_info(RevealMode::Continuous, 0.5, BlendMode::Normal, 0.0), whole(0, 3, 2, 2),
                                   stroke_at(0, 3)),
              PF_Err_NONE);
    const auto samples = host.samples();
    ASSERT_EQ(samples.size(), 9u);
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const Sample& prev = samples[i - 1];
        const Sample& cur = samples[i];
        if (i % 3 == 0) {
            EXPECT_GT(cur.y, prev.y);  // next row
        } else {
            EXPECT_EQ(cur.y, prev.y);
            EXPECT_GT(cur.x, prev.x);
        }
    }
    for (A_long y = 0; y < 4; ++y) {
        for (A_long x = 0; x < 5; ++x) {
            const bool covered = x <= 2 && y >= 1;
            EXPECT_EQ(out->pixel8(x, y), covered ? white8 : clear8) << x << ',' << y;
        }
    }
    EXPECT_EQ(padding_bytes(*out), padding);
    EXPECT_TRUE(out->guards_intact()) << out->guard_report();
}

TEST(PaintPixels, AHugeRectangleCostsOnlyItsPartInTheFrame) {
    DrawHost host;
    const WorldPtr in = frame<PF_Pixel8>(5, 5, 0, {255, 9, 9, 9});
    const WorldPtr out = frame<PF_Pixel8>(5, 5, 0, clear8);
    const PF_ParamDef layer = host.layer(frame<PF_Pixel8>(40, 40, 0, white8));
    const A_longlong huge = A_longlong{1} << 40;
    ASSERT_EQ(paint_one<PF_Pixel8>(host, *in, *out, layer, draw_info(RevealMode::Continuous, 0.5, BlendMode::Normal, 0.0), whole(2, 2, huge, huge),
                                   stroke_at(2, 2)),
              PF_Err_NONE);
    EXPECT_EQ(host.samples().size(), 25u);
    for (A_long y = 0; y < 5; ++y)
        for (A_long x = 0; x < 5; ++x) EXPECT_EQ(out->pixel8(x, y), white8) << x << ',' << y;
}

TEST(PaintPixels, AnEmptyOrInsideOutRectanglePaintsNothing) {
    for (const DrawRect& rect : {DrawRect{2, 2, 0, -1, 1, 1}, DrawRect{2, 2, 1, 1, -1, 0}, DrawRect{2, 2, -3, 1, 1, 1}}) {
        DrawHost host;
        const WorldPtr in = frame<PF_Pixel8>(5, 5, 0, {255, 9, 9, 9});
        const WorldPtr out = frame<PF_Pixel8>(5, 5, 0, clear8);
        const PF_ParamDef layer = host.layer(frame<PF_Pixel8>(40, 40, 0, white8));
        EXPECT_EQ(paint_one<PF_Pixel8>(host, *in, *out, layer, draw_info(RevealMode::Continuous, 0.5, BlendMode::Normal, 1.0), rect, stroke_at(2, 2)),
                  PF_Err_NONE);
        EXPECT_TRUE(host.samples().empty());
        for (A_long y = 0; y < 5; ++y)
            for (A_long x = 0; x < 5; ++x) EXPECT_EQ(out->pixel8(x, y), clear8) << x << ',' << y;
    }
}

TEST(PaintPixels, ColourComesFromTheInputAndPixelsGoToTheOutputThroughTheirRowPitches) {
    DrawHost host;
    const WorldPtr in = frame<PF_Pixel8>(6, 4, 3, {255, 0, 0, 0});
    const WorldPtr out = frame<PF_Pixel8>(6, 4, 1, clear8);
    const auto padding = padding_bytes(*out);
    in->pixel8(4, 2) = {255, 200, 100, 50};
    const PF_ParamDef layer = host.layer(frame<PF_Pixel8>(40, 40, 0, white8));
    ASSERT_EQ(paint_one<PF_Pixel8>(host, *in, *out, layer, draw_info(RevealMode::Continuous, 0.5, BlendMode::Normal, 1.0), whole(1, 1, 1, 1),
                                   stroke_at(4, 2)),
              PF_Err_NONE);
    for (A_long y = 0; y < 4; ++y) {
        for (A_long x = 0; x < 6; ++x) {
            const PF_Pixel8 expected = x <= 2 && y <= 2 ? PF_Pixel8{255, 200, 100, 50} : clear8;
            EXPECT_EQ(out->pixel8(x, y), expected) << x << ',' << y;
        }
    }
    EXPECT_EQ(padding_bytes(*out), padding);
    EXPECT_TRUE(out->guards_intact()) << out->guard_report();
}

// ---------------------------------------------------------------------------
// Compositing
// ---------------------------------------------------------------------------

// One pixel painted over `background` from a uniform Layer of `layer_value`:
// the host's sample is exactly that value (a transparent one comes back all
// zero).
template <typename Pixel>
Pixel paint_pixel(Pixel input, Pixel layer_value, Pixel background, A_long blend_mode, double opacity) {
    DrawHost host;
    const WorldPtr in = frame<Pixel>(1, 1, 0, input);
    const WorldPtr out = frame<Pixel>(1, 1, 0, background);
    const PF_ParamDef layer = host.layer(frame<Pixel>(10, 10, 0, layer_value));
    EXPECT_EQ(paint_one<Pixel>(host, *in, *out, layer, draw_info(RevealMode::Continuous, 0.5, BlendMode{blend_mode}, opacity), whole(0, 0, 0, 0),
                               stroke_at(0, 0)),
              PF_Err_NONE);
    // Each depth's sampling function gets the same plain block.
    const auto samples = host.samples(sample_function<Pixel>());
    EXPECT_EQ(samples.size(), 1u);
    for (const Sample& call : samples) expect_plain_block(call, layer);
    return at(*out, 0, 0, static_cast<Pixel*>(nullptr));
}

PF_Pixel8 paint_pixel8(PF_Pixel8 input, PF_Pixel8 layer_value, PF_Pixel8 background, A_long blend_mode,
                       double opacity) {
    return paint_pixel<PF_Pixel8>(input, layer_value, background, blend_mode, opacity);
}

TEST(PaintCompositing8, ATransparentLayerSampleAddsNothing) {
    const PF_Pixel8 background{255, 1, 2, 3};
    for (A_long mode = 1; mode <= 8; ++mode) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(paint_pixel8({255, 200, 0, 0}, {0, 10, 20, 30}, background, mode, 1.0), background);
    }
}

TEST(PaintCompositing8, NoOpacityOrATransparentStrokeColourLeavesTheLayerUntinted) {
    const PF_Pixel8 sample{255, 10, 20, 30};
    EXPECT_EQ(paint_pixel8({255, 200, 0, 0}, sample, clear8, 1, 0.0), sample);
    EXPECT_EQ(paint_pixel8({0, 200, 0, 0}, sample, clear8, 1, 1.0), sample);
}

TEST(PaintCompositing8, FullOpacityOnOpaquePixelsGivesTheStrokeColour) {
    EXPECT_EQ(paint_pixel8({255, 200, 100, 50}, {255, 10, 20, 30}, {255, 0, 0, 255}, 1, 1.0),
              (PF_Pixel8{255, 200, 100, 50}));
}

TEST(PaintCompositing8, TheLayerSampleKeepsItsAlphaAsCoverage) {
    EXPECT_EQ(paint_pixel8({255, 200, 100, 50}, {100, 10, 20, 30}, clear8, 1, 1.0), (PF_Pixel8{100, 200, 100, 50}));
}

TEST(PaintCompositing8, OpacityScalesTheColourAlphaTruncating) {
    // 255 x 0.5 = 127.5 gives 127.
    const PF_Pixel8 expected = blend_normal8({255, 10, 20, 30}, {127, 200, 100, 0});
    ASSERT_FALSE(expected == blend_normal8({255, 10, 20, 30}, {128, 200, 100, 0}));
    EXPECT_EQ(paint_pixel8({255, 200, 100, 0}, {255, 10, 20, 30}, clear8, 1, 0.5), expected);
}

TEST(PaintCompositing8, EveryModeGoesThroughItsOperatorAndOutOfRangeModesPaintAsNormal) {
    const PF_Pixel8 input{255, 200, 100, 0};
    const PF_Pixel8 sample{255, 90, 160, 230};
    for (A_long mode = 1; mode <= 8; ++mode) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(paint_pixel8(input, sample, clear8, mode, 0.75), blend_op<PF_Pixel8>(BlendMode{mode})(sample, {191, 200, 100, 0}));
    }
    const PF_Pixel8 normal = paint_pixel8(input, sample, clear8, 1, 0.75);
    for (A_long mode : {0, 9, -1, 100, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(paint_pixel8(input, sample, clear8, mode, 0.75), normal);
    }
}

TEST(PaintCompositing16, FullAlphaIs32768AndOpacityTruncates) {
    const PF_Pixel16 sample{16384, 1000, 2000, 3000};
    const PF_Pixel16 painted = paint_pixel<PF_Pixel16>({32768, 20000, 10000, 0}, sample, {0, 0, 0, 0}, 1, 0.3);
    // 32768 x 0.3 = 9830.4 gives 9830; the sample is made opaque at 32768.
    PF_Pixel16 expected = blend_normal16({32768, 1000, 2000, 3000}, {9830, 20000, 10000, 0});
    expected.alpha = 16384;
    PF_Pixel16 wrong_full = blend_normal16({65535, 1000, 2000, 3000}, {9830, 20000, 10000, 0});
    wrong_full.alpha = 16384;
    ASSERT_FALSE(expected == wrong_full);
    EXPECT_EQ(painted, expected);
}

TEST(PaintCompositingFloat, ColourAlphaAboveOneIsScaledWithoutClamping) {
    const PF_PixelFloat sample{0.5f, 0.25f, 0.5f, 0.75f};
    const PF_PixelFloat painted =
        paint_pixel<PF_PixelFloat>({2.0f, 0.8f, 0.6f, 0.4f}, sample, {0, 0, 0, 0}, 4, 0.75);
    PF_PixelFloat expected = blend_multiply_float({1.0f, 0.25f, 0.5f, 0.75f}, {1.5f, 0.8f, 0.6f, 0.4f});
    expected.alpha = 0.5f;
    PF_PixelFloat clamped = blend_multiply_float({1.0f, 0.25f, 0.5f, 0.75f}, {1.0f, 0.8f, 0.6f, 0.4f});
    clamped.alpha = 0.5f;
    ASSERT_FALSE(expected == clamped);
    EXPECT_EQ(painted, expected);
}

TEST(PaintCompositingFloat, ColourAlphaIsTheDoubleProductStoredAsFloat) {
    const double opacity = 0.3;
    const PF_PixelFloat painted = paint_pixel<PF_PixelFloat>({0.7f, 0.8f, 0.6f, 0.4f}, {1, 0.25f, 0.5f, 0.75f},
                                                             {0, 0, 0, 0}, 1, opacity);
    const float alpha = static_cast<float>(static_cast<double>(0.7f) * opacity);
    EXPECT_EQ(painted, blend_normal_float({1, 0.25f, 0.5f, 0.75f}, {alpha, 0.8f, 0.6f, 0.4f}));
}

// ---------------------------------------------------------------------------
// The carried sample
// ---------------------------------------------------------------------------

// An opaque one-row Layer whose colour tells the columns apart.
WorldPtr column_layer() {
    WorldPtr layer = frame<PF_Pixel8>(50, 1, 0, {255, 0, 0, 0});
    for (A_long x = 0; x < 50; ++x) layer->pixel8(x, 0).red = static_cast<A_u_char>(5 * x);
    return layer;
}

TEST(PaintCarry, AFailedSamplingCallIsRecordedAndLaterPixelsReuseTheLastSample) {
    DrawHost host;
    host.host().faults().fail_callback(FaultTarget::area_sample, 42, 3);
    const WorldPtr in = frame<PF_Pixel8>(5, 1, 0, {255, 0, 0, 0});
    const WorldPtr out = frame<PF_Pixel8>(5, 1, 0, clear8);
    const WorldPtr layer_world = column_layer();
    const PF_ParamDef layer = host.layer(layer_world);
    EXPECT_EQ(paint_one<PF_Pixel8>(host, *in, *out, layer, draw_info(RevealMode::Continuous, 0.5, BlendMode::Normal, 0.0), whole(2, 0, 2, 0),
                                   stroke_at(2, 0)),
              42);
    const auto samples = host.samples();
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples[2].result, 42);
    // The host leaves a failed call's destination alone. The third position
    // samples differently, so a repeated second sample shows the carry.
    const PF_Pixel8 second = resample(*layer_world, samples[1]);
    EXPECT_EQ(out->pixel8(0, 0), resample(*layer_world, samples[0]));
    EXPECT_EQ(out->pixel8(1, 0), second);
    ASSERT_FALSE(out->pixel8(0, 0) == second);
    ASSERT_FALSE(resample(*layer_world, samples[2]) == second);
    for (A_long x = 2; x < 5; ++x) EXPECT_EQ(out->pixel8(x, 0), second) << x;
}

TEST(PaintCarry, TheBufferStartsAllZeroAndCarriesFromStrokeToStroke) {
    DrawHost host;
    const WorldPtr in = frame<PF_Pixel8>(6, 1, 0, {255, 0, 0, 0});
    const WorldPtr out = frame<PF_Pixel8>(6, 1, 0, clear8);
    const WorldPtr layer_world = column_layer();
    const PF_ParamDef layer = host.layer(layer_world);
    ASSERT_EQ(host.run([&](PF_InData* in_data, PF_OutData* out_data) {
        const RenderContext ctx = context_for<PF_Pixel8>(in_data, out_data, *in, *out);
        SuiteCache suites(in_data->pica_basicP);
        StrokePainter<PF_Pixel8> painter(ctx, draw_info(RevealMode::Continuous, 0.5, BlendMode::Normal, 0.0), layer, suites);
        EXPECT_EQ(painter.sample_buffer(), clear8);

        // With an error already recorded nothing is sampled: the zero buffer
        // has alpha 0 and covers nothing.
        PF_Err err = 99;
        painter.paint_stroke(whole(0, 0, 0, 0), stroke_at(0, 0), err);
        EXPECT_EQ(err, 99);
        EXPECT_TRUE(host.samples().empty());
        EXPECT_EQ(out->pixel8(0, 0), clear8);

        err = PF_Err_NONE;
        painter.paint_stroke(DrawRect{2, 0, 1, 1, 0, 0}, stroke_at(2, 0), err);
        const auto samples = host.samples();
        EXPECT_EQ(samples.size(), 3u);
        if (samples.size() != 3u) return PF_Err_NONE;
        const PF_Pixel8 last = resample(*layer_world, samples[2]);
        EXPECT_FALSE(last == resample(*layer_world, samples[1]));
        EXPECT_EQ(painter.sample_buffer(), last);

        err = 7;
        painter.paint_stroke(DrawRect{5, 0, 1, 0, 0, 0}, stroke_at(5, 0), err);
        EXPECT_EQ(host.samples().size(), 3u);
        EXPECT_EQ(out->pixel8(4, 0), last);
        EXPECT_EQ(out->pixel8(5, 0), last);
        return PF_Err_NONE;
    }),
              PF_Err_NONE);
}

TEST(PaintCarry, ARefusedSamplingSuiteIsRaisedAs516) {
    DrawHost host;
    host.host().faults().refuse_suite(kPFSampling16Suite, kPFSampling16SuiteVersion1);
    const PF_Pixel16 clear{0, 0, 0, 0};
    const WorldPtr in = frame<PF_Pixel16>(3, 3, 0, clear);
    const WorldPtr out = frame<PF_Pixel16>(3, 3, 0, clear);
    const PF_ParamDef layer = host.layer(frame<PF_Pixel16>(10, 10, 0, PF_Pixel16{32768, 32768, 32768, 32768}));
    try {
        paint_one<PF_Pixel16>(host, *in, *out, layer, draw_info(RevealMode::Continuous, 0.5, BlendMode::Normal, 1.0), whole(1, 1, 1, 1),
                              stroke_at(1, 1));
        ADD_FAILURE() << "no error raised";
    } catch (PF_Err e) {
        EXPECT_EQ(e, PF_Err_BAD_CALLBACK_PARAM);
    }
    EXPECT_EQ(host.host().log().count("area_sample16"), 0u);
    for (A_long y = 0; y < 3; ++y)
        for (A_long x = 0; x < 3; ++x) EXPECT_EQ(out->pixel16(x, y), clear) << x << ',' << y;
}

}  // namespace
