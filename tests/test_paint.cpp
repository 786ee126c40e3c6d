// The stroke painter: Layer mapping in the four orientations, the covered
// pixels, compositing at the three depths and the carried sample buffer.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "draw/blend.h"
#include "draw/paint.h"
#include "draw_test_host.h"
#include "host/suite_cache.h"

namespace {

Stroke stroke_at(A_long sample_x, A_long sample_y, A_long orientation) {
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
PF_Err paint_one(DrawTestHost& host, TestFrame<Pixel>& in, TestFrame<Pixel>& out, const PF_ParamDef& layer,
                 const PreRenderInfo& info, const DrawRect& rect, const Stroke& stroke, PF_Err err = PF_Err_NONE) {
    RenderContext ctx = context_for(host, in, out);
    SuiteCache suites(host.basic());
    StrokePainter<Pixel> painter(ctx, info, layer, suites);
    painter.paint_stroke(rect, stroke, err);
    return err;
}

constexpr PF_Pixel8 clear8{0, 0, 0, 0};
constexpr PF_Pixel8 sentinel8{7, 7, 7, 7};

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
        A_long orientation;
        PF_Fixed x_radius, y_radius;
    } cases[] = {{1, 401241, 267387}, {2, 524288, 204633}, {3, 401241, 267387}, {4, 524288, 204633}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.orientation);
        DrawTestHost host;
        TestFrame<PF_Pixel8> in(11, 11, 0, {255, 1, 2, 3}, sentinel8), out(11, 11, 0, clear8, sentinel8);
        const PF_ParamDef layer = layer_param_of(100, 51);
        ASSERT_EQ(paint_one(host, in, out, layer, draw_info(1, 0.5, 1, 1.0), whole(5, 5, 3, 2),
                            stroke_at(5, 5, c.orientation)),
                  PF_Err_NONE);
        ASSERT_EQ(host.samples().size(), 35u);
        const SampleCall& centre = host.samples()[2 * 7 + 3];  // row dy = 0, column dx = 0
        EXPECT_EQ(centre.x, 3244032);                          // fix(99 / 2)
        EXPECT_EQ(centre.y, 1638400);                          // fix(50 / 2)
        for (const SampleCall& call : host.samples()) {
            EXPECT_EQ(call.block.src, &layer.u.ld);
            EXPECT_EQ(call.block.x_radius, c.x_radius);
            EXPECT_EQ(call.block.y_radius, c.y_radius);
            EXPECT_EQ(call.block.area, 0);
            EXPECT_EQ(call.block.samp_behave, 0);
            EXPECT_EQ(call.block.allow_asynch, 0);
            EXPECT_EQ(call.block.motion_blur, 0);
            EXPECT_EQ(call.block.comp_mode, 0);
            EXPECT_EQ(call.block.mask0, nullptr);
            EXPECT_EQ(call.block.fcm_table, nullptr);
            EXPECT_EQ(call.block.fcm_table_size, nullptr);
        }
    }
}

std::vector<SampleCall> positions_of(A_long orientation, const DrawRect& rect) {
    DrawTestHost host;
    TestFrame<PF_Pixel8> in(20, 20, 0, {255, 1, 2, 3}, sentinel8), out(20, 20, 0, clear8, sentinel8);
    const PF_ParamDef layer = layer_param_of(100, 51);
    EXPECT_EQ(paint_one(host, in, out, layer, draw_info(1, 0.5, 1, 1.0), rect, stroke_at(10, 10, orientation)),
              PF_Err_NONE);
    return host.samples();
}

TEST(PaintMapping, HalfTurnSamplesTheUprightPositionOfTheOppositeOffset) {
    const DrawRect rect = whole(10, 10, 4, 3);
    const auto upright = positions_of(1, rect);
    const auto turned = positions_of(3, rect);
    ASSERT_EQ(upright.size(), 63u);
    ASSERT_EQ(turned.size(), 63u);
    // Pixel (dx, dy) is call (dy + 3) * 9 + (dx + 4).
    for (int dy = -3; dy <= 3; ++dy) {
        for (int dx = -4; dx <= 4; ++dx) {
            const SampleCall& t = turned[static_cast<std::size_t>((dy + 3) * 9 + (dx + 4))];
            const SampleCall& u = upright[static_cast<std::size_t>((-dy + 3) * 9 + (-dx + 4))];
            EXPECT_EQ(t.x, u.x) << dx << ',' << dy;
            EXPECT_EQ(t.y, u.y) << dx << ',' << dy;
        }
    }
}

TEST(PaintMapping, QuarterTurnsRunTheLayerAxesAcrossTheRectangle) {
    // Rectangle 7 x 5; across the rectangle x_step = 100 * 4 / 25 = 16 and
    // y_step = 51 * 6 / 49 (fix 409266).
    const DrawRect rect = whole(10, 10, 3, 2);
    const auto at = [](const std::vector<SampleCall>& calls, int dx, int dy) {
        return calls[static_cast<std::size_t>((dy + 2) * 7 + (dx + 3))];
    };
    const auto clockwise = positions_of(2, rect);
    const auto anticlockwise = positions_of(4, rect);
    ASSERT_EQ(clockwise.size(), 35u);
    ASSERT_EQ(anticlockwise.size(), 35u);
    // 2: the Layer's x runs down the output, its y from right to left.
    EXPECT_EQ(at(clockwise, 0, 1).x - at(clockwise, 0, 0).x, 16 * 65536);
    EXPECT_EQ(at(clockwise, 0, 1).y, at(clockwise, 0, 0).y);
    EXPECT_EQ(at(clockwise, 1, 0).y - at(clockwise, 0, 0).y, -409266);
    EXPECT_EQ(at(clockwise, 1, 0).x, at(clockwise, 0, 0).x);
    // 4: the Layer's x runs up, its y from left to right.
    EXPECT_EQ(at(anticlockwise, 0, 1).x - at(anticlockwise, 0, 0).x, -16 * 65536);
    EXPECT_EQ(at(anticlockwise, 1, 0).y - at(anticlockwise, 0, 0).y, 409266);
}

TEST(PaintMapping, ShortenedRectangleStartsFromItsLeftAndTopInEveryOrientation) {
    // w = 6 (left 1, right 4), h = 3 (top 0, bottom 2): fx = 0.25, fy = 1/6.
    const DrawRect rect{10, 10, 1, 4, 0, 2};
    const struct {
        A_long orientation;
        PF_Fixed x0, y0;
    } cases[] = {{1, 1622016, 546133}, {2, 1622016, 546133}, {3, 4866048, 2730667}, {4, 4866048, 2730667}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.orientation);
        const auto calls = positions_of(c.orientation, rect);
        ASSERT_EQ(calls.size(), 18u);
        EXPECT_EQ(calls[1].x, c.x0);  // first row is dy = 0; dx = 0 is its second pixel
        EXPECT_EQ(calls[1].y, c.y0);
    }
}

TEST(PaintMapping, DegenerateLayerAndRectangleSizesStayFinite) {
    // A Layer of width 0 and a one-column rectangle: no step, a fixed start.
    const auto calls = [] {
        DrawTestHost host;
        TestFrame<PF_Pixel8> in(5, 5, 0, {255, 1, 2, 3}, sentinel8), out(5, 5, 0, clear8, sentinel8);
        const PF_ParamDef layer = layer_param_of(0, 0);
        EXPECT_EQ(paint_one(host, in, out, layer, draw_info(1, 0.5, 1, 1.0), DrawRect{2, 2, 0, 0, 1, 1},
                            stroke_at(2, 2, 1)),
                  PF_Err_NONE);
        return host.samples();
    }();
    ASSERT_EQ(calls.size(), 3u);
    for (const SampleCall& call : calls) {
        EXPECT_EQ(call.x, -32768);  // fix(-1 / 2)
        EXPECT_EQ(call.block.x_radius, 0);
    }
}

// ---------------------------------------------------------------------------
// Covered pixels
// ---------------------------------------------------------------------------

TEST(PaintPixels, OnlyThePartInsideTheFrameIsSampledAndWrittenRowByRow) {
    DrawTestHost host;
    TestFrame<PF_Pixel8> in(5, 4, 2, {255, 9, 9, 9}, sentinel8), out(5, 4, 3, clear8, sentinel8);
    const PF_ParamDef layer = layer_param_of(40, 40);
    // Columns -2..2, rows 1..5 of a 5 x 4 frame: 3 x 3 inside.
    ASSERT_EQ(paint_one(host, in, out, layer, draw_info(1, 0.5, 1, 0.0), whole(0, 3, 2, 2), stroke_at(0, 3, 1)),
              PF_Err_NONE);
    ASSERT_EQ(host.samples().size(), 9u);
    for (std::size_t i = 1; i < host.samples().size(); ++i) {
        const SampleCall& prev = host.samples()[i - 1];
        const SampleCall& cur = host.samples()[i];
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
            const PF_Pixel8 expected = covered ? PF_Pixel8{255, 255, 255, 255} : clear8;
            EXPECT_EQ(out.at(x, y), expected) << x << ',' << y;
        }
        for (A_long x = 5; x < out.row_pixels; ++x) EXPECT_EQ(out.at(x, y), sentinel8);
    }
}

TEST(PaintPixels, AHugeRectangleCostsOnlyItsPartInTheFrame) {
    DrawTestHost host;
    TestFrame<PF_Pixel8> in(5, 5, 0, {255, 9, 9, 9}, sentinel8), out(5, 5, 0, clear8, sentinel8);
    const PF_ParamDef layer = layer_param_of(40, 40);
    const A_longlong huge = A_longlong{1} << 40;
    ASSERT_EQ(paint_one(host, in, out, layer, draw_info(1, 0.5, 1, 0.0), whole(2, 2, huge, huge), stroke_at(2, 2, 1)),
              PF_Err_NONE);
    EXPECT_EQ(host.samples().size(), 25u);
    for (const PF_Pixel8& p : out.pixels) EXPECT_EQ(p, (PF_Pixel8{255, 255, 255, 255}));
}

TEST(PaintPixels, AnEmptyOrInsideOutRectanglePaintsNothing) {
    for (const DrawRect& rect : {DrawRect{2, 2, 0, -1, 1, 1}, DrawRect{2, 2, 1, 1, -1, 0}, DrawRect{2, 2, -3, 1, 1, 1}}) {
        DrawTestHost host;
        TestFrame<PF_Pixel8> in(5, 5, 0, {255, 9, 9, 9}, sentinel8), out(5, 5, 0, clear8, sentinel8);
        const PF_ParamDef layer = layer_param_of(40, 40);
        EXPECT_EQ(paint_one(host, in, out, layer, draw_info(1, 0.5, 1, 1.0), rect, stroke_at(2, 2, 1)), PF_Err_NONE);
        EXPECT_TRUE(host.samples().empty());
        for (const PF_Pixel8& p : out.pixels) EXPECT_EQ(p, clear8);
    }
}

TEST(PaintPixels, ColourComesFromTheInputAndPixelsGoToTheOutputThroughTheirRowPitches) {
    DrawTestHost host;
    TestFrame<PF_Pixel8> in(6, 4, 3, {255, 0, 0, 0}, sentinel8), out(6, 4, 1, clear8, sentinel8);
    in.at(4, 2) = {255, 200, 100, 50};
    const PF_ParamDef layer = layer_param_of(40, 40);
    ASSERT_EQ(paint_one(host, in, out, layer, draw_info(1, 0.5, 1, 1.0), whole(1, 1, 1, 1), stroke_at(4, 2, 1)),
              PF_Err_NONE);
    for (A_long y = 0; y < 4; ++y) {
        for (A_long x = 0; x < 7; ++x) {
            const PF_Pixel8 expected =
                x == 6 ? sentinel8 : (x <= 2 && y <= 2 ? PF_Pixel8{255, 200, 100, 50} : clear8);
            EXPECT_EQ(out.at(x, y), expected) << x << ',' << y;
        }
    }
}

// ---------------------------------------------------------------------------
// Compositing
// ---------------------------------------------------------------------------

PF_Pixel8 paint_pixel8(PF_Pixel8 input, PF_Pixel8 layer_sample, PF_Pixel8 background, A_long blend_mode,
                       double opacity) {
    DrawTestHost host;
    host.value8 = [=](PF_Fixed, PF_Fixed) { return layer_sample; };
    TestFrame<PF_Pixel8> in(1, 1, 0, input, sentinel8), out(1, 1, 0, background, sentinel8);
    const PF_ParamDef layer = layer_param_of(10, 10);
    EXPECT_EQ(paint_one(host, in, out, layer, draw_info(1, 0.5, blend_mode, opacity), whole(0, 0, 0, 0),
                        stroke_at(0, 0, 1)),
              PF_Err_NONE);
    return out.at(0, 0);
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
        EXPECT_EQ(paint_pixel8(input, sample, clear8, mode, 0.75), blend_ops8[mode](sample, {191, 200, 100, 0}));
    }
    const PF_Pixel8 normal = paint_pixel8(input, sample, clear8, 1, 0.75);
    for (A_long mode : {0, 9, -1, 100, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(paint_pixel8(input, sample, clear8, mode, 0.75), normal);
    }
}

TEST(PaintCompositing16, FullAlphaIs32768AndOpacityTruncates) {
    DrawTestHost host;
    const PF_Pixel16 sample{16384, 1000, 2000, 3000};
    host.value16 = [=](PF_Fixed, PF_Fixed) { return sample; };
    const PF_Pixel16 clear{0, 0, 0, 0}, sentinel{7, 7, 7, 7};
    TestFrame<PF_Pixel16> in(1, 1, 0, {32768, 20000, 10000, 0}, sentinel), out(1, 1, 0, clear, sentinel);
    const PF_ParamDef layer = layer_param_of(10, 10);
    ASSERT_EQ(paint_one(host, in, out, layer, draw_info(1, 0.5, 1, 0.3), whole(0, 0, 0, 0), stroke_at(0, 0, 1)),
              PF_Err_NONE);
    // 32768 x 0.3 = 9830.4 gives 9830; the sample is made opaque at 32768.
    PF_Pixel16 expected = blend_normal16({32768, 1000, 2000, 3000}, {9830, 20000, 10000, 0});
    expected.alpha = 16384;
    PF_Pixel16 wrong_full = blend_normal16({65535, 1000, 2000, 3000}, {9830, 20000, 10000, 0});
    wrong_full.alpha = 16384;
    ASSERT_FALSE(expected == wrong_full);
    EXPECT_EQ(out.at(0, 0), expected);
}

TEST(PaintCompositingFloat, ColourAlphaAboveOneIsScaledWithoutClamping) {
    DrawTestHost host;
    const PF_PixelFloat sample{0.5f, 0.25f, 0.5f, 0.75f};
    host.value_float = [=](PF_Fixed, PF_Fixed) { return sample; };
    const PF_PixelFloat clear{0, 0, 0, 0}, sentinel{7, 7, 7, 7};
    TestFrame<PF_PixelFloat> in(1, 1, 0, {2.0f, 0.8f, 0.6f, 0.4f}, sentinel), out(1, 1, 0, clear, sentinel);
    const PF_ParamDef layer = layer_param_of(10, 10);
    ASSERT_EQ(paint_one(host, in, out, layer, draw_info(1, 0.5, 4, 0.75), whole(0, 0, 0, 0), stroke_at(0, 0, 1)),
              PF_Err_NONE);
    PF_PixelFloat expected = blend_multiply_float({1.0f, 0.25f, 0.5f, 0.75f}, {1.5f, 0.8f, 0.6f, 0.4f});
    expected.alpha = 0.5f;
    PF_PixelFloat clamped = blend_multiply_float({1.0f, 0.25f, 0.5f, 0.75f}, {1.0f, 0.8f, 0.6f, 0.4f});
    clamped.alpha = 0.5f;
    ASSERT_FALSE(expected == clamped);
    EXPECT_EQ(out.at(0, 0), expected);
}

TEST(PaintCompositingFloat, ColourAlphaIsTheDoubleProductStoredAsFloat) {
    DrawTestHost host;
    host.value_float = [](PF_Fixed, PF_Fixed) { return PF_PixelFloat{1, 0.25f, 0.5f, 0.75f}; };
    const PF_PixelFloat clear{0, 0, 0, 0}, sentinel{7, 7, 7, 7};
    TestFrame<PF_PixelFloat> in(1, 1, 0, {0.7f, 0.8f, 0.6f, 0.4f}, sentinel), out(1, 1, 0, clear, sentinel);
    const PF_ParamDef layer = layer_param_of(10, 10);
    const double opacity = 0.3;
    ASSERT_EQ(paint_one(host, in, out, layer, draw_info(1, 0.5, 1, opacity), whole(0, 0, 0, 0), stroke_at(0, 0, 1)),
              PF_Err_NONE);
    const float alpha = static_cast<float>(static_cast<double>(0.7f) * opacity);
    EXPECT_EQ(out.at(0, 0), blend_normal_float({1, 0.25f, 0.5f, 0.75f}, {alpha, 0.8f, 0.6f, 0.4f}));
}

// ---------------------------------------------------------------------------
// The carried sample
// ---------------------------------------------------------------------------

// A sampler whose colour tells the columns apart.
PF_Pixel8 column_sample(PF_Fixed x, PF_Fixed) { return PF_Pixel8{255, static_cast<A_u_char>(x >> 16), 0, 0}; }

TEST(PaintCarry, AFailedSamplingCallIsRecordedAndLaterPixelsReuseTheLastSample) {
    DrawTestHost host;
    host.value8 = column_sample;
    host.fail_sampling_from(3, 42);
    TestFrame<PF_Pixel8> in(5, 1, 0, {255, 0, 0, 0}, sentinel8), out(5, 1, 0, clear8, sentinel8);
    const PF_ParamDef layer = layer_param_of(50, 1);
    EXPECT_EQ(paint_one(host, in, out, layer, draw_info(1, 0.5, 1, 0.0), whole(2, 0, 2, 0), stroke_at(2, 0, 1)), 42);
    EXPECT_EQ(host.samples().size(), 3u);
    const PF_Pixel8 second = column_sample(host.samples()[1].x, 0);
    EXPECT_EQ(out.at(0, 0), column_sample(host.samples()[0].x, 0));
    EXPECT_EQ(out.at(1, 0), second);
    ASSERT_FALSE(out.at(0, 0) == second);
    for (A_long x = 2; x < 5; ++x) EXPECT_EQ(out.at(x, 0), second) << x;
}

TEST(PaintCarry, TheBufferStartsAllZeroAndCarriesFromStrokeToStroke) {
    DrawTestHost host;
    host.value8 = column_sample;
    TestFrame<PF_Pixel8> in(6, 1, 0, {255, 0, 0, 0}, sentinel8), out(6, 1, 0, clear8, sentinel8);
    const PF_ParamDef layer = layer_param_of(50, 1);
    RenderContext ctx = context_for(host, in, out);
    SuiteCache suites(host.basic());
    StrokePainter<PF_Pixel8> painter(ctx, draw_info(1, 0.5, 1, 0.0), layer, suites);
    EXPECT_EQ(painter.sample_buffer(), clear8);

    // With an error already recorded nothing is sampled: the zero buffer
    // has alpha 0 and covers nothing.
    PF_Err err = 99;
    painter.paint_stroke(whole(0, 0, 0, 0), stroke_at(0, 0, 1), err);
    EXPECT_EQ(err, 99);
    EXPECT_TRUE(host.samples().empty());
    EXPECT_EQ(out.at(0, 0), clear8);

    err = PF_Err_NONE;
    painter.paint_stroke(DrawRect{2, 0, 1, 1, 0, 0}, stroke_at(2, 0, 1), err);
    ASSERT_EQ(host.samples().size(), 3u);
    const PF_Pixel8 last = column_sample(host.samples()[2].x, 0);
    EXPECT_EQ(painter.sample_buffer(), last);

    err = 7;
    painter.paint_stroke(DrawRect{5, 0, 1, 0, 0, 0}, stroke_at(5, 0, 1), err);
    EXPECT_EQ(host.samples().size(), 3u);
    EXPECT_EQ(out.at(4, 0), last);
    EXPECT_EQ(out.at(5, 0), last);
}

TEST(PaintCarry, ARefusedSamplingSuiteIsRaisedAs516) {
    DrawTestHost host;
    host.refuse_suite(kPFSampling16Suite);
    const PF_Pixel16 clear{0, 0, 0, 0};
    TestFrame<PF_Pixel16> in(3, 3, 0, clear, clear), out(3, 3, 0, clear, clear);
    const PF_ParamDef layer = layer_param_of(10, 10);
    try {
        paint_one(host, in, out, layer, draw_info(1, 0.5, 1, 1.0), whole(1, 1, 1, 1), stroke_at(1, 1, 1));
        ADD_FAILURE() << "no error raised";
    } catch (PF_Err e) {
        EXPECT_EQ(e, PF_Err_BAD_CALLBACK_PARAM);
    }
    EXPECT_TRUE(host.samples().empty());
}

}  // namespace
