// Stroke generation against a scripted path host: exact segments, scripted
// samples, injected failures, call counts.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "host/suite_cache.h"
#include "render/pre_render.h"
#include "render/records.h"
#include "standalone/mask.h"
#include "strokes/generate.h"
#include "strokes/stroke_list.h"

// Allocation failure on demand, for the whole test program: while armed on
// a thread, operator new there throws std::bad_alloc. Not under
// AddressSanitizer, which brings its own operator new.
#if defined(__SANITIZE_ADDRESS__)
#define TRELLIS_FAILING_NEW 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRELLIS_FAILING_NEW 0
#endif
#endif
#ifndef TRELLIS_FAILING_NEW
#define TRELLIS_FAILING_NEW 1
#endif

thread_local bool t_fail_new = false;

#if TRELLIS_FAILING_NEW
// Kept out of line: inlined, the compiler would pair malloc/free with the
// new and delete expressions of the program and warn.
[[gnu::noinline]] void* operator new(std::size_t size) {
    if (t_fail_new) throw std::bad_alloc();
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace {

using EvalFn = std::function<void(double t, double* x, double* y, double* dx, double* dy)>;

struct FakeSegment {
    double length;
    EvalFn eval;
};

// One path with its vertices (tangents as offsets) and segments, plus what
// the generation asked of it.
struct FakePath {
    std::vector<PF_PathVertex> vertices;
    std::vector<FakeSegment> segments;

    std::string fail_function;  // fails the fail_at-th call of that function
    long fail_at = 0;
    PF_Err fail_code = 0;

    long evals = 0;
    long prepared_outstanding = 0;
    long calls_after_failure = 0;
    bool failed = false;
    std::vector<std::string> calls;  // everything but the evaluations

    PF_Err check(const char* name) {
        if (failed) ++calls_after_failure;
        if (fail_function == name && --fail_at == 0) {
            failed = true;
            return fail_code;
        }
        return PF_Err_NONE;
    }
};

thread_local FakePath* g_path = nullptr;

PF_Err PF_CALL fake_is_open(PF_ProgPtr, PF_PathOutlinePtr, PF_Boolean* open) {
    *open = 1;
    return PF_Err_NONE;
}
PF_Err PF_CALL fake_num_segments(PF_ProgPtr, PF_PathOutlinePtr, A_long* n) {
    *n = static_cast<A_long>(g_path->segments.size());
    return PF_Err_NONE;
}
PF_Err PF_CALL fake_vertex(PF_ProgPtr, PF_PathOutlinePtr, A_long i, PF_PathVertex* v) {
    g_path->calls.push_back("vertex " + std::to_string(i));
    if (PF_Err e = g_path->check("vertex")) return e;
    if (i < 0 || i >= static_cast<A_long>(g_path->vertices.size())) return PF_Err_BAD_CALLBACK_PARAM;
    *v = g_path->vertices[static_cast<std::size_t>(i)];
    return PF_Err_NONE;
}
PF_Err PF_CALL fake_prepare(PF_ProgPtr, PF_PathOutlinePtr, A_long seg, A_long frequency, PF_PathSegPrepPtr* prep) {
    g_path->calls.push_back("prepare " + std::to_string(seg) + " " + std::to_string(frequency));
    if (PF_Err e = g_path->check("prepare")) return e;
    *prep = reinterpret_cast<PF_PathSegPrepPtr>(static_cast<std::intptr_t>(seg + 1));
    ++g_path->prepared_outstanding;
    return PF_Err_NONE;
}
PF_Err PF_CALL fake_length(PF_ProgPtr, PF_PathOutlinePtr, A_long seg, PF_PathSegPrepPtr* prep, PF_FpLong* length) {
    g_path->calls.push_back("length " + std::to_string(seg));
    EXPECT_EQ(reinterpret_cast<std::intptr_t>(*prep), seg + 1);
    if (PF_Err e = g_path->check("length")) return e;
    *length = g_path->segments[static_cast<std::size_t>(seg)].length;
    return PF_Err_NONE;
}
PF_Err PF_CALL fake_eval(PF_ProgPtr, PF_PathOutlinePtr, PF_PathSegPrepPtr* prep, A_long seg, PF_FpLong t,
                         PF_FpLong* x, PF_FpLong* y, PF_FpLong* dx, PF_FpLong* dy) {
    ++g_path->evals;
    EXPECT_EQ(reinterpret_cast<std::intptr_t>(*prep), seg + 1);
    if (PF_Err e = g_path->check("eval")) return e;
    g_path->segments[static_cast<std::size_t>(seg)].eval(t, x, y, dx, dy);
    return PF_Err_NONE;
}
PF_Err PF_CALL fake_cleanup(PF_ProgPtr, PF_PathOutlinePtr, A_long seg, PF_PathSegPrepPtr*) {
    t_fail_new = false;
    g_path->calls.push_back("cleanup " + std::to_string(seg));
    --g_path->prepared_outstanding;
    return g_path->check("cleanup");
}

const PF_PathDataSuite1 kFakeDataSuite = {
    fake_is_open, fake_num_segments, fake_vertex, fake_prepare, fake_length, nullptr, fake_eval, fake_cleanup,
    nullptr,      nullptr,           nullptr,
};

SPErr PF_CALL fake_acquire(const char* name, A_long version, const void** suite) {
    if (std::strcmp(name, kPFPathDataSuite) == 0 && version == 1) {
        *suite = &kFakeDataSuite;
        return 0;
    }
    return 1;
}
SPErr PF_CALL fake_release(const char*, A_long) { return 0; }
PF_FpLong PF_CALL fake_hypot(PF_FpLong a, PF_FpLong b) { return std::hypot(a, b); }

// Straight segment with exact arc length, the derivative the chord.
FakeSegment straight(double x0, double y0, double x1, double y1) {
    const double length = std::hypot(x1 - x0, y1 - y0);
    const double ux = length > 0.0 ? (x1 - x0) / length : 0.0;
    const double uy = length > 0.0 ? (y1 - y0) / length : 0.0;
    return {length, [=](double t, double* x, double* y, double* dx, double* dy) {
                *x = x0 + ux * t;
                *y = y0 + uy * t;
                *dx = x1 - x0;
                *dy = y1 - y0;
            }};
}

PF_PathVertex vertex(double x, double y) { return {x, y, 0, 0, 0, 0}; }

// An open polyline of exact straight segments.
FakePath polyline(const std::vector<std::pair<double, double>>& points) {
    FakePath path;
    for (std::size_t i = 0; i < points.size(); ++i) {
        path.vertices.push_back(vertex(points[i].first, points[i].second));
        if (i > 0)
            path.segments.push_back(
                straight(points[i - 1].first, points[i - 1].second, points[i].first, points[i].second));
    }
    return path;
}

PreRenderInfo default_info() {
    PreRenderInfo info{};
    info.path_id = 1;
    info.mode = RevealMode::Continuous;
    info.time_fraction = 0.5;
    info.half_max_width = 150;
    info.min_width_fraction = 0.2;
    info.seed = 0;
    info.on_original = 1;
    info.various_directions = 0;
    info.blend_mode = BlendMode::Normal;
    info.opacity = 1.0;
    return info;
}

struct GenRun {
    std::vector<Stroke> strokes;
    StrokeTotals totals{};
    PF_Err err = PF_Err_NONE;
    std::vector<A_long> map;
};

struct GenSetup {
    A_long width = 1920;
    A_long height = 1080;
    A_long layer_width = 100;
    A_long layer_height = 100;
    PreRenderInfo info = default_info();
    GenerateOptions options{1, SampleWalk::SkipUnreachable};
    PF_Err preset_err = PF_Err_NONE;
};

// Runs generation over `map` (width × height entries, all zero).
GenRun generate_into(FakePath& path, const GenSetup& setup, A_long* map) {
    g_path = &path;
    SPBasicSuite basic{};
    basic.AcquireSuite = fake_acquire;
    basic.ReleaseSuite = fake_release;
    PF_UtilCallbacks utils{};
    utils.ansi.hypot = fake_hypot;
    PF_InData in_data{};
    in_data.utils = &utils;
    in_data.pica_basicP = &basic;
    in_data.effect_ref = reinterpret_cast<PF_ProgPtr>(static_cast<std::intptr_t>(0x1000));
    RenderContext ctx{};
    ctx.in_data = &in_data;
    ctx.width = setup.width;
    ctx.height = setup.height;

    GenRun run;
    SuiteCache suites(&basic);
    StrokeList list;
    run.err = setup.preset_err;
    run.totals = generate_strokes({.ctx = ctx,
                                   .info = setup.info,
                                   .layer_width = setup.layer_width,
                                   .layer_height = setup.layer_height,
                                   .suites = suites,
                                   .path = reinterpret_cast<PF_PathOutlinePtr>(static_cast<std::intptr_t>(0x2000)),
                                   .segment_count = static_cast<A_long>(path.segments.size()),
                                   .id_map = map,
                                   .options = setup.options},
                                  list, run.err);
    for (std::size_t i = 0; i < list.size(); ++i) run.strokes.push_back(list.at(i));
    g_path = nullptr;
    return run;
}

GenRun generate(FakePath& path, const GenSetup& setup = {}) {
    std::vector<A_long> map(static_cast<std::size_t>(setup.width) * static_cast<std::size_t>(setup.height), 0);
    GenRun run = generate_into(path, setup, map.data());
    run.map = std::move(map);
    return run;
}

// The map as the list says it must be: each rectangle, clipped, in order.
std::vector<A_long> expected_map(const std::vector<Stroke>& strokes, A_long width, A_long height) {
    std::vector<A_long> map(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    for (std::size_t i = 0; i < strokes.size(); ++i) {
        const Stroke& s = strokes[i];
        const int64_t y0 = std::max<int64_t>(int64_t{s.center_y} - s.half_h, 0);
        const int64_t y1 = std::min<int64_t>(int64_t{s.center_y} + s.half_h, height - 1);
        const int64_t x0 = std::max<int64_t>(int64_t{s.center_x} - s.half_w, 0);
        const int64_t x1 = std::min<int64_t>(int64_t{s.center_x} + s.half_w, width - 1);
        for (int64_t y = y0; y <= y1; ++y)
            for (int64_t x = x0; x <= x1; ++x) map[static_cast<std::size_t>(y * width + x)] = static_cast<A_long>(i + 2);
    }
    return map;
}

void expect_consistent(const GenRun& run, const GenSetup& setup) {
    EXPECT_EQ(run.totals.stroke_count, static_cast<A_long>(run.strokes.size()));
    int64_t sum = 0;
    for (const Stroke& s : run.strokes) sum += s.half_w;
    EXPECT_EQ(run.totals.half_w_total, sum);
    EXPECT_TRUE(run.map == expected_map(run.strokes, setup.width, setup.height));
    for (const Stroke& s : run.strokes) {
        EXPECT_GE(s.sample_x, 0);
        EXPECT_LT(s.sample_x, setup.width);
        EXPECT_GE(s.sample_y, 0);
        EXPECT_LT(s.sample_y, setup.height);
    }
}

bool same(const Stroke& a, const Stroke& b) {
    return std::memcmp(&a, &b, sizeof(Stroke)) == 0;
}

bool same_lists(const std::vector<Stroke>& a, const std::vector<Stroke>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!same(a[i], b[i])) return false;
    return true;
}

// ---------------------------------------------------------------------------

TEST(Generate, StraightPathTowardsPlusX) {
    FakePath path = polyline({{100, 500}, {1500, 500}});
    const GenSetup setup;
    const GenRun run = generate(path, setup);
    ASSERT_EQ(run.err, PF_Err_NONE);
    ASSERT_GE(run.strokes.size(), 2u);

    // Seed 0: S = 110 with a square layer; ahead of the sample, left edge on
    // the sample's column.
    const Stroke& first = run.strokes[0];
    EXPECT_EQ(first.sample_x, 100);
    EXPECT_EQ(first.sample_y, 500);
    EXPECT_EQ(first.side, StrokeSide::Right);
    EXPECT_EQ(first.half_w, 110);
    EXPECT_EQ(first.half_h, 110);
    EXPECT_EQ(first.center_x, 210);
    EXPECT_EQ(first.center_y, 500);
    EXPECT_EQ(first.orientation, Orientation::Upright);

    // The next sample not in the first stroke is x = 321; the first stroke is
    // at its left (test 1) and the new one goes to its right. S = 68.
    const Stroke& second = run.strokes[1];
    EXPECT_EQ(second.sample_x, 321);
    EXPECT_EQ(second.side, StrokeSide::Left);
    EXPECT_EQ(second.half_w, 68);
    EXPECT_EQ(second.center_x, 321 + 68);
    EXPECT_EQ(second.center_y, 500);

    // Each later stroke starts right after the previous one.
    for (std::size_t i = 1; i < run.strokes.size(); ++i) {
        const Stroke& prev = run.strokes[i - 1];
        const Stroke& s = run.strokes[i];
        EXPECT_EQ(s.sample_x, prev.center_x + prev.half_w + 1) << i;
        EXPECT_EQ(s.side, StrokeSide::Left) << i;
        EXPECT_EQ(s.center_x - s.half_w, s.sample_x) << i;
    }
    expect_consistent(run, setup);
}

TEST(Generate, DefaultSizesRangeFrom32To150) {
    // A long zigzag gives many strokes; with a square layer half_w = S.
    std::vector<std::pair<double, double>> points;
    for (int i = 0; i < 40; ++i) points.push_back({i % 2 == 0 ? 10.0 : 1900.0, 10.0 + 26.0 * i});
    FakePath path = polyline(points);
    const GenSetup setup;
    const GenRun run = generate(path, setup);
    ASSERT_EQ(run.err, PF_Err_NONE);
    ASSERT_GT(run.strokes.size(), 100u);
    A_long lo = 1000, hi = 0;
    for (const Stroke& s : run.strokes) {
        EXPECT_EQ(s.half_w, s.half_h);
        lo = std::min(lo, s.half_w);
        hi = std::max(hi, s.half_w);
    }
    EXPECT_GE(lo, 32);
    EXPECT_LE(hi, 150);
    EXPECT_EQ(run.strokes[0].half_w, 110);
    expect_consistent(run, setup);

    // The same draws, through the formula, one per stroke.
    RandomSource size_random, turn_random;
    seed_random_sources(0, size_random, turn_random);
    for (const Stroke& s : run.strokes) {
        const double r = size_random.next_real();
        EXPECT_EQ(s.half_w, static_cast<A_long>(std::trunc(r * 0.8 * 148.0 + 148.0 * 0.2)) + 3);
    }
}

TEST(Generate, SmallestHalfMaxWidthGivesThree) {
    FakePath path = polyline({{10, 10}, {300, 10}});
    GenSetup setup;
    setup.info.half_max_width = 1;
    const GenRun run = generate(path, setup);
    ASSERT_FALSE(run.strokes.empty());
    for (const Stroke& s : run.strokes) {
        EXPECT_EQ(s.half_w, 3);
        EXPECT_EQ(s.half_h, 3);
    }
    expect_consistent(run, setup);
}

TEST(Generate, LayerProportionsByOrientation) {
    // 1920 × 1080 layer. Seed 0 with various directions: sizes 110, 68, 112;
    // orientation draws 0.59 (3), 0.49 (2), 0.54 (3).
    FakePath path = polyline({{100, 540}, {1800, 540}});
    GenSetup setup;
    setup.layer_width = 1920;
    setup.layer_height = 1080;
    GenRun plain = generate(path, setup);
    ASSERT_GE(plain.strokes.size(), 1u);
    EXPECT_EQ(plain.strokes[0].half_w, 110);
    EXPECT_EQ(plain.strokes[0].half_h, 62);
    EXPECT_EQ(plain.strokes[0].orientation, Orientation::Upright);

    setup.info.various_directions = 1;
    const GenRun turned = generate(path, setup);
    ASSERT_GE(turned.strokes.size(), 3u);
    EXPECT_EQ(turned.strokes[0].orientation, Orientation::HalfTurn);
    EXPECT_EQ(turned.strokes[0].half_w, 110);
    EXPECT_EQ(turned.strokes[0].half_h, 62);
    EXPECT_EQ(turned.strokes[1].orientation, Orientation::QuarterTurn);
    EXPECT_EQ(turned.strokes[1].half_w, 38);  // 68 × 1080 / 1920 = 38.25
    EXPECT_EQ(turned.strokes[1].half_h, 68);
    EXPECT_EQ(turned.strokes[2].orientation, Orientation::HalfTurn);
    EXPECT_EQ(turned.strokes[2].half_w, 112);
    EXPECT_EQ(turned.strokes[2].half_h, 63);
    expect_consistent(turned, setup);
}

TEST(Generate, VariousDirectionsKeepsTheSizes) {
    std::vector<std::pair<double, double>> points;
    for (int i = 0; i < 12; ++i) points.push_back({i % 2 == 0 ? 20.0 : 1880.0, 30.0 + 90.0 * i});
    FakePath path = polyline(points);
    GenSetup setup;
    setup.layer_width = 640;
    setup.layer_height = 360;
    const GenRun off = generate(path, setup);
    setup.info.various_directions = 1;
    const GenRun on = generate(path, setup);
    ASSERT_GT(off.strokes.size(), 10u);
    ASSERT_GT(on.strokes.size(), 10u);
    bool turned = false;
    for (std::size_t i = 0; i < std::min(off.strokes.size(), on.strokes.size()); ++i) {
        const Stroke& a = off.strokes[i];
        const Stroke& b = on.strokes[i];
        const A_long size_b = (b.orientation == Orientation::Upright || b.orientation == Orientation::HalfTurn) ? b.half_w : b.half_h;
        EXPECT_EQ(a.half_w, size_b) << i;
        turned |= b.orientation == Orientation::QuarterTurn || b.orientation == Orientation::ThreeQuarterTurn;
    }
    EXPECT_TRUE(turned);

    // With a square layer the orientation changes nothing else at all.
    setup.layer_width = setup.layer_height = 256;
    setup.info.various_directions = 0;
    const GenRun square_off = generate(path, setup);
    setup.info.various_directions = 1;
    const GenRun square_on = generate(path, setup);
    ASSERT_EQ(square_off.strokes.size(), square_on.strokes.size());
    for (std::size_t i = 0; i < square_off.strokes.size(); ++i) {
        Stroke b = square_on.strokes[i];
        EXPECT_TRUE(is_named(b.orientation));
        b.orientation = Orientation::Upright;
        EXPECT_TRUE(same(square_off.strokes[i], b)) << i;
    }
}

TEST(Generate, FirstStrokeSideFollowsTheDirectionOfTravel) {
    struct Case {
        double x1, y1;
        StrokeSide side;
        A_long cx, cy;
    };
    // From (500, 500), square layer, S = 110.
    const Case cases[] = {
        {900, 500, StrokeSide::Right, 610, 500},
        {500, 900, StrokeSide::Bottom, 500, 610},  // rows grow downwards
        {100, 500, StrokeSide::Left, 390, 500},
        {500, 100, StrokeSide::Top, 500, 390},
    };
    for (const Case& c : cases) {
        FakePath path = polyline({{500, 500}, {c.x1, c.y1}});
        const GenRun run = generate(path);
        ASSERT_FALSE(run.strokes.empty());
        EXPECT_EQ(run.strokes[0].side, c.side) << c.x1 << "," << c.y1;
        EXPECT_EQ(run.strokes[0].center_x, c.cx) << c.x1 << "," << c.y1;
        EXPECT_EQ(run.strokes[0].center_y, c.cy) << c.x1 << "," << c.y1;
    }
}

TEST(Generate, SamplesOutsideTheFramePlaceNothing) {
    // Starts left of the frame; -0.5 truncates to column 0 and counts.
    FakePath path = polyline({{-300.5, 50}, {150, 50}, {150, -400}});
    GenSetup setup;
    setup.width = 200;
    setup.height = 100;
    const GenRun run = generate(path, setup);
    ASSERT_FALSE(run.strokes.empty());
    EXPECT_EQ(run.strokes[0].sample_x, 0);
    EXPECT_EQ(run.strokes[0].sample_y, 50);
    expect_consistent(run, setup);

    // A path wholly outside places nothing.
    FakePath outside = polyline({{-50, -50}, {-50, 500}, {-10, 500}});
    const GenRun none = generate(outside, setup);
    EXPECT_TRUE(none.strokes.empty());
    EXPECT_EQ(none.totals.stroke_count, 0);
    EXPECT_EQ(none.totals.half_w_total, 0);
}

TEST(Generate, StrokesPastTheBorderAreCountedAndMarkedInside) {
    FakePath path = polyline({{5, 5}, {195, 5}});
    GenSetup setup;
    setup.width = 200;
    setup.height = 60;
    const GenRun run = generate(path, setup);
    ASSERT_FALSE(run.strokes.empty());
    // The first stroke is far larger than the frame.
    EXPECT_GT(run.strokes[0].center_x + run.strokes[0].half_w, setup.width);
    EXPECT_LT(run.strokes[0].center_y - run.strokes[0].half_h, 0);
    expect_consistent(run, setup);
}

TEST(Generate, CrossingAnOlderStrokeOverwritesItsIds) {
    FakePath path = polyline({{100, 300}, {1000, 300}, {1000, 800}, {200, 800}, {200, 50}});
    GenSetup setup;
    setup.info.half_max_width = 10;  // small strokes, so the crossing samples are free
    const GenRun run = generate(path, setup);
    ASSERT_EQ(run.err, PF_Err_NONE);
    expect_consistent(run, setup);
    // Some stroke was placed at a sample inside an older, not the last, stroke.
    bool crossed = false;
    for (std::size_t k = 2; k < run.strokes.size() && !crossed; ++k) {
        const Stroke& s = run.strokes[k];
        for (std::size_t j = 0; j + 1 < k; ++j) {
            const Stroke& o = run.strokes[j];
            if (std::abs(s.sample_x - o.center_x) <= o.half_w && std::abs(s.sample_y - o.center_y) <= o.half_h) {
                crossed = true;
                break;
            }
        }
    }
    EXPECT_TRUE(crossed);
}

TEST(Generate, SideZeroIsPlacedAsSideFour) {
    // The second segment starts far from everything, travelling up (-y).
    FakePath path;
    path.vertices = {vertex(50, 50), vertex(60, 50), vertex(900, 700), vertex(900, 300)};
    path.segments = {straight(50, 50, 60, 50), straight(60, 50, 60, 50), straight(900, 700, 900, 300)};
    path.segments[1].length = 0.0;
    const GenSetup setup;
    const GenRun run = generate(path, setup);
    ASSERT_GE(run.strokes.size(), 2u);
    const Stroke& jumped = run.strokes[1];
    EXPECT_EQ(jumped.sample_x, 900);
    EXPECT_EQ(jumped.sample_y, 700);
    EXPECT_EQ(jumped.side, StrokeSide::None);
    EXPECT_EQ(jumped.center_x, 900);
    EXPECT_EQ(jumped.center_y, 700 - jumped.half_h);
    expect_consistent(run, setup);
}

TEST(Generate, BorderTestsGiveTheSide) {
    // After a first stroke in the middle, the path jumps next to a border,
    // away from that stroke; the border decides the side, and the stroke goes
    // corner to the sample (the tangent is steeper than the diagonal).
    struct Case {
        double x0, y0, x1, y1;
        StrokeSide side;
        A_long dx_sign, dy_sign;
    };
    const Case cases[] = {
        {0, 300, 0, 900, StrokeSide::Left, 1, 1},          // travelling +y
        {300, 0, 900, 0, StrokeSide::Top, 1, 1},           // travelling +x
        {1919, 900, 1919, 300, StrokeSide::Right, 1, -1},  // travelling -y
        {900, 1079, 300, 1079, StrokeSide::Bottom, -1, 1}, // travelling -x
    };
    for (const Case& c : cases) {
        FakePath path;
        path.vertices = {vertex(960, 540), vertex(961, 540), vertex(c.x0, c.y0), vertex(c.x1, c.y1)};
        path.segments = {straight(960, 540, 961, 540), straight(961, 540, 961, 540),
                         straight(c.x0, c.y0, c.x1, c.y1)};
        path.segments[1].length = 0.0;
        const GenSetup setup;
        const GenRun run = generate(path, setup);
        ASSERT_GE(run.strokes.size(), 2u);
        const Stroke& s = run.strokes[1];
        EXPECT_EQ(s.sample_x, static_cast<A_long>(c.x0));
        EXPECT_EQ(s.sample_y, static_cast<A_long>(c.y0));
        EXPECT_EQ(s.side, c.side);
        EXPECT_EQ(s.center_x, s.sample_x + c.dx_sign * s.half_w) << name_of(c.side);
        EXPECT_EQ(s.center_y, s.sample_y + c.dy_sign * s.half_h) << name_of(c.side);
        expect_consistent(run, setup);
    }
}

// Every segment's calls, each once and every preparation cleaned up; the
// host does not ask for one segment to be done before the next begins.
TEST(Generate, HostCallsAndCleanup) {
    FakePath path = polyline({{10, 10}, {20, 10}, {20, 12}});
    const GenRun run = generate(path);
    ASSERT_EQ(run.err, PF_Err_NONE);
    std::vector<std::string> calls = path.calls;
    std::sort(calls.begin(), calls.end());
    const std::vector<std::string> expected = {"cleanup 0",     "cleanup 1",     "length 0", "length 1",
                                               "prepare 0 100", "prepare 1 100", "vertex 0", "vertex 1"};
    EXPECT_EQ(calls, expected);
    // Lengths 10 and 2, whole numbers: ends sampled, 11 + 3 samples.
    EXPECT_EQ(path.evals, 14);
    EXPECT_EQ(path.prepared_outstanding, 0);
}

TEST(Generate, FailingHostCallStopsAndIsRecorded) {
    struct Case {
        const char* function;
        long nth;
    };
    for (const Case c : {Case{"vertex", 2}, Case{"prepare", 2}, Case{"length", 1}, Case{"eval", 400},
                         Case{"cleanup", 1}}) {
        FakePath path = polyline({{100, 500}, {1500, 500}, {1500, 900}});
        path.fail_function = c.function;
        path.fail_at = c.nth;
        path.fail_code = 1234;
        const GenRun run = generate(path);
        EXPECT_EQ(run.err, 1234) << c.function;
        // A prepared segment is still cleaned up; nothing else follows.
        EXPECT_EQ(path.prepared_outstanding, 0) << c.function;
        const bool cleanup_follows = std::string(c.function) == "length" || std::string(c.function) == "eval";
        EXPECT_EQ(path.calls_after_failure, cleanup_follows ? 1 : 0) << c.function;
        if (std::string(c.function) == "eval") {
            EXPECT_FALSE(run.strokes.empty());  // strokes before the failure stay
            EXPECT_EQ(path.evals, 400);
        }
    }
}

TEST(Generate, RecordedErrorMeansNoHostCallAtAll) {
    FakePath path = polyline({{100, 500}, {1500, 500}});
    GenSetup setup;
    setup.preset_err = 77;
    const GenRun run = generate(path, setup);
    EXPECT_EQ(run.err, 77);
    EXPECT_TRUE(path.calls.empty());
    EXPECT_EQ(path.evals, 0);
    EXPECT_TRUE(run.strokes.empty());
}

TEST(StrokeListMemory, FailedAppendLeavesTheListAsItWas) {
    if (!TRELLIS_FAILING_NEW) GTEST_SKIP() << "allocation failure cannot be injected under AddressSanitizer";
    StrokeList list;
    ASSERT_TRUE(list.append(Stroke{1, 1, 1, 1, 1, 1, StrokeSide::Left, Orientation::Upright}));
    t_fail_new = true;
    const bool appended = list.append(Stroke{2, 2, 2, 2, 2, 2, StrokeSide::Top, Orientation::QuarterTurn});
    t_fail_new = false;
    EXPECT_FALSE(appended);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.at(0).sample_x, 1);
}

TEST(Generate, StrokeThatCannotBeStoredEndsWithOutOfMemory) {
    if (!TRELLIS_FAILING_NEW) GTEST_SKIP() << "allocation failure cannot be injected under AddressSanitizer";
    // Memory runs out part-way along the path: the next time the list has
    // to grow, the stroke cannot be stored.
    FakePath path = polyline({{100, 500}, {1800, 500}});
    FakeSegment& seg = path.segments[0];
    const EvalFn straight_eval = seg.eval;
    long evals = 0;
    seg.eval = [&](double t, double* x, double* y, double* dx, double* dy) {
        straight_eval(t, x, y, dx, dy);
        if (++evals == 800) t_fail_new = true;
    };
    GenSetup setup;
    setup.info.half_max_width = 10;  // strokes of at most 21 columns: dozens before the failure
    const GenRun run = generate(path, setup);
    t_fail_new = false;
    EXPECT_EQ(run.err, PF_Err_OUT_OF_MEMORY);
    EXPECT_GT(run.strokes.size(), 10u);
    EXPECT_LT(evals, 1701);  // the walk stopped
    EXPECT_EQ(path.prepared_outstanding, 0);
    expect_consistent(run, setup);
}

// ---- Unsound input --------------------------------------------------------

TEST(GenerateGuards, NonFiniteAndHugeSamplesPlaceNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<double, double>> points = {
        {nan, 10}, {10, nan}, {inf, 10}, {-inf, 10}, {10, inf}, {1e30, 10}, {-1e30, -1e30}, {3e9, 5}, {-3e9, 5}};
    FakePath path;
    path.vertices = {vertex(0, 0), vertex(0, 0)};
    path.segments = {{static_cast<double>(points.size() - 1), [&](double t, double* x, double* y, double* dx,
                                                                    double* dy) {
                          const auto& p = points[static_cast<std::size_t>(t)];
                          *x = p.first;
                          *y = p.second;
                          *dx = 1;
                          *dy = 0;
                      }}};
    const GenRun run = generate(path);
    EXPECT_EQ(run.err, PF_Err_NONE);
    EXPECT_TRUE(run.strokes.empty());
    EXPECT_EQ(path.evals, static_cast<long>(points.size()));
}

TEST(GenerateGuards, SampleWithoutDirectionStaysOutsideButCounts) {
    // Zero derivative everywhere: the first stroke's centre is not a number
    // and goes wholly outside; later strokes divide by zero on one axis.
    FakePath path;
    path.vertices = {vertex(0, 0), vertex(0, 0)};
    path.segments = {{600.0, [](double t, double* x, double* y, double* dx, double* dy) {
                          *x = 300 + t;
                          *y = 300;
                          *dx = 0.0;
                          *dy = 0.0;
                      }}};
    const GenSetup setup;
    const GenRun run = generate(path, setup);
    EXPECT_EQ(run.err, PF_Err_NONE);
    ASSERT_GE(run.strokes.size(), 2u);
    EXPECT_EQ(run.strokes[0].center_x, -kCenterLimit);
    for (const Stroke& s : run.strokes) {
        EXPECT_LE(std::abs(int64_t{s.center_x}), kCenterLimit);
        EXPECT_LE(std::abs(int64_t{s.center_y}), kCenterLimit);
        EXPECT_LE(s.half_w, kExtentLimit);
        EXPECT_LE(s.half_h, kExtentLimit);
    }
    expect_consistent(run, setup);
    // Nothing was marked: every sample finds an empty map and places a stroke.
    EXPECT_EQ(std::count(run.map.begin(), run.map.end(), 0), static_cast<long>(run.map.size()));
}

TEST(GenerateGuards, LayerWithZeroSideKeepsExtentsBounded) {
    struct Case {
        A_long lw, lh;
    };
    for (const Case c : {Case{0, 100}, Case{100, 0}, Case{0, 0}}) {
        for (A_long vd : {0, 1}) {
            FakePath path = polyline({{100, 500}, {1500, 500}, {1500, 100}});
            GenSetup setup;
            setup.layer_width = c.lw;
            setup.layer_height = c.lh;
            setup.info.various_directions = vd;
            const GenRun run = generate(path, setup);
            EXPECT_EQ(run.err, PF_Err_NONE);
            ASSERT_FALSE(run.strokes.empty());
            for (const Stroke& s : run.strokes) {
                EXPECT_GE(s.half_w, 0);
                EXPECT_GE(s.half_h, 0);
                EXPECT_LE(s.half_w, kExtentLimit);
                EXPECT_LE(s.half_h, kExtentLimit);
                EXPECT_LE(std::abs(int64_t{s.center_x}), kCenterLimit);
                EXPECT_LE(std::abs(int64_t{s.center_y}), kCenterLimit);
            }
            expect_consistent(run, setup);
        }
    }
}

TEST(GenerateGuards, ExtremeSizeSettingsStayInRange) {
    for (A_long h : {std::numeric_limits<A_long>::max(), std::numeric_limits<A_long>::min(), 0, -7}) {
        for (double m : {0.2, -50.0, 1e9}) {
            FakePath path = polyline({{100, 500}, {300, 500}});
            GenSetup setup;
            setup.width = 400;
            setup.height = 600;
            setup.info.half_max_width = h;
            setup.info.min_width_fraction = m;
            setup.layer_width = 1;
            setup.layer_height = 1000;
            const GenRun run = generate(path, setup);
            ASSERT_FALSE(run.strokes.empty());
            for (const Stroke& s : run.strokes) {
                EXPECT_LE(s.half_w, kExtentLimit);
                EXPECT_LE(s.half_h, kExtentLimit);
                EXPECT_LE(std::abs(int64_t{s.center_x}), kCenterLimit);
            }
            EXPECT_GE(run.totals.half_w_total, 0);  // saturates, never wraps
            expect_consistent(run, setup);
        }
    }
}

TEST(GenerateGuards, TotalsSaturateInsteadOfWrapping) {
    // Strokes without direction mark nothing, so every sample places one of
    // the largest half width: the sum passes INT32_MAX.
    FakePath path;
    path.vertices = {vertex(0, 0), vertex(0, 0)};
    path.segments = {{100.0, [](double t, double* x, double* y, double* dx, double* dy) {
                          *x = 10 + t;
                          *y = 50;
                          *dx = 0.0;
                          *dy = 0.0;
                      }}};
    GenSetup setup;
    setup.width = 200;
    setup.height = 100;
    setup.info.half_max_width = std::numeric_limits<A_long>::max();
    const GenRun run = generate(path, setup);
    ASSERT_EQ(run.strokes.size(), 101u);
    for (const Stroke& s : run.strokes) EXPECT_EQ(s.half_w, kExtentLimit);
    EXPECT_EQ(run.totals.stroke_count, 101);
    EXPECT_EQ(run.totals.half_w_total, std::numeric_limits<A_long>::max());
}

// A walk along a line through the frame: one sample a pixel across its 1920
// columns and a few hundred leaps and bisection steps. A walk of every
// sample of these segments would cost millions.
constexpr long kEndlessWalkBound = 1920 + 300;

TEST(GenerateGuards, EndlessSegmentsFinish) {
    const double inf = std::numeric_limits<double>::infinity();
    for (double length : {inf, 1e300, 9007199254740992.0 * 4, std::numeric_limits<double>::quiet_NaN(), -5.0}) {
        FakePath path;
        path.vertices = {vertex(-10, 500), vertex(1e6, 500)};
        path.segments = {{length, [](double t, double* x, double* y, double* dx, double* dy) {
                              *x = -10 + t;
                              *y = 500;
                              *dx = 1;
                              *dy = 0;
                          }}};
        const GenRun run = generate(path);
        EXPECT_EQ(run.err, PF_Err_NONE);
        EXPECT_LE(path.evals, kEndlessWalkBound) << length;
        if (std::isnan(length) || length < 0) {
            EXPECT_EQ(path.evals, 0) << length;
        } else {
            EXPECT_FALSE(run.strokes.empty()) << length;
        }
    }
}

TEST(GenerateGuards, HugeSegmentsFarOutsideCostNothing) {
    FakePath path = polyline({{1e9, 1e9}, {2e9, 1e9}, {2e9, -1e12}, {-5e11, -1e12}});
    const GenRun run = generate(path);
    EXPECT_TRUE(run.strokes.empty());
    EXPECT_EQ(path.evals, 0);
}

TEST(GenerateGuards, HugeSegmentThroughTheFrameGivesTheShortSegmentsStrokes) {
    // Integer coordinates stay exact, so the same samples land in the frame.
    FakePath huge = polyline({{-1e12, 500}, {1e12, 500}});
    FakePath near = polyline({{-10, 500}, {2000, 500}});
    const GenRun a = generate(huge);
    const GenRun b = generate(near);
    ASSERT_FALSE(a.strokes.empty());
    EXPECT_TRUE(same_lists(a.strokes, b.strokes));
    EXPECT_LT(huge.evals, 2000 + 300);
}

TEST(GenerateGuards, EnormousOvershootingSegmentFinishes) {
    // Handles beyond the ends: the curve runs through the frame three times,
    // and only its distance from the frame bounds the walk.
    const double x0 = -1e9, c1 = 2e9, c2 = -2e9, x1 = 1e9;
    const double length = 1.3e10;  // the point moves at most 1.8 px per unit of t
    FakePath path;
    path.vertices = {{x0, 540, 0, 0, c1 - x0, 0}, {x1, 540, c2 - x1, 0, 0, 0}};
    path.segments = {{length, [=](double t, double* x, double* y, double* dx, double* dy) {
                          const double u = std::min(t / length * 2.6, 1.0), v = 1 - u;
                          *x = v * v * v * x0 + 3 * v * v * u * c1 + 3 * v * u * u * c2 + u * u * u * x1;
                          *y = 540;
                          *dx = 3 * v * v * (c1 - x0) + 6 * v * u * (c2 - c1) + 3 * u * u * (x1 - c2);
                          *dy = 0;
                      }}};
    const GenSetup setup;
    const GenRun run = generate(path, setup);
    EXPECT_EQ(run.err, PF_Err_NONE);
    EXPECT_LT(path.evals, 1000000);
    ASSERT_FALSE(run.strokes.empty());
    EXPECT_EQ(run.strokes[0].sample_x, 0);
    expect_consistent(run, setup);
}

// Long segments, walked with and without skipping, give the same strokes.
TEST(GenerateGuards, SkippingChangesNothing) {
    struct Curve {
        double x0, y0, c1x, c1y, c2x, c2y, x1, y1;
    };
    const Curve curves[] = {
        {-20000, -3000, -5000, 0, 5000, 2000, 30000, 4000},   // gentle, through the frame
        {-20000, 540, 0, 540, 0, 540, 20000, 540},            // straight with handles on the chord
        {960, -30000, 960, 0, 960, 0, 960, 30000},            // vertical
        {-30000, 2000, 2000, -2000, -2000, 3000, 30000, -1000},  // overshooting handles: walked whole
        {5000, 5000, 9000, 5000, 9000, 9000, 5000, 9000},     // box misses the frame
        {-9000, 1079.9, 0, 1079.9, 1000, 1079.9, 9000, 1079.9},  // grazing the bottom row
        {-9000, 1080.0, 0, 1080.0, 1000, 1080.0, 9000, 1080.0},  // just below it
    };
    for (const Curve& c : curves) {
        // Parameter proportional to t: monotone, as any arc-length table is.
        auto point = [c](double u, double* x, double* y, double* dx, double* dy) {
            const double v = 1 - u;
            *x = v * v * v * c.x0 + 3 * v * v * u * c.c1x + 3 * v * u * u * c.c2x + u * u * u * c.x1;
            *y = v * v * v * c.y0 + 3 * v * v * u * c.c1y + 3 * v * u * u * c.c2y + u * u * u * c.y1;
            *dx = 3 * v * v * (c.c1x - c.x0) + 6 * v * u * (c.c2x - c.c1x) + 3 * u * u * (c.x1 - c.c2x);
            *dy = 3 * v * v * (c.c1y - c.y0) + 6 * v * u * (c.c2y - c.c1y) + 3 * u * u * (c.y1 - c.c2y);
        };
        const double length = 3 * std::hypot(c.x1 - c.x0, c.y1 - c.y0) / 2;
        FakePath path;
        path.vertices = {{c.x0, c.y0, 0, 0, c.c1x - c.x0, c.c1y - c.y0}, {c.x1, c.y1, c.c2x - c.x1, c.c2y - c.y1, 0, 0}};
        path.segments = {{length, [=](double t, double* x, double* y, double* dx, double* dy) {
                              point(std::min(t / length, 1.0), x, y, dx, dy);
                          }}};
        GenSetup setup;
        setup.options.path_open = 1;
        const GenRun skipped = generate(path, setup);
        const long skipped_evals = path.evals;
        path.evals = 0;
        setup.options.walk = SampleWalk::EveryStep;
        const GenRun every = generate(path, setup);
        EXPECT_TRUE(same_lists(skipped.strokes, every.strokes)) << c.x0 << " " << c.y0;
        EXPECT_LE(skipped_evals, path.evals);
        EXPECT_EQ(skipped.totals.half_w_total, every.totals.half_w_total);
    }
}

// A frame without rows or columns: a path along its edge truncates to row or
// column 0, which the frame does not have. Nothing is read, placed or asked.
TEST(GenerateGuards, EmptyFrameDoesNothing) {
    struct Case {
        A_long width, height;
        std::vector<std::pair<double, double>> points;
    };
    const Case cases[] = {
        {16, 0, {{-0.5, -0.5}, {15.5, -0.5}}},
        {0, 16, {{-0.5, -0.5}, {-0.5, 15.5}}},
        {0, 0, {{-0.5, -0.5}, {-0.9, -0.9}}},
        {-4, 16, {{-0.5, 3}, {-0.5, 12}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        FakePath path = polyline(c.points);
        GenSetup setup;
        setup.width = c.width;
        setup.height = c.height;
        // Entries past the (empty) map: a read of them would find 0 and
        // place a stroke.
        std::vector<A_long> beyond(64, 0);
        const GenRun run = generate_into(path, setup, beyond.data());
        EXPECT_EQ(run.err, PF_Err_NONE);
        EXPECT_TRUE(run.strokes.empty());
        EXPECT_EQ(run.totals.stroke_count, 0);
        EXPECT_EQ(run.totals.half_w_total, 0);
        EXPECT_TRUE(path.calls.empty());
        EXPECT_EQ(path.evals, 0);
        EXPECT_EQ(std::count(beyond.begin(), beyond.end(), 0), 64);
    }
}

// A host whose lengths are not arc lengths: the point stays put for the
// first 10^9 pixels of a segment 10^30 long. Leaps sized by the distance to
// the frame would take ~10^15 evaluations; the walk stops within its budget,
// with the stroke a stuck point inside the frame gives.
TEST(GenerateGuards, HostWhoseLengthsAreNotArcLengthsStillFinishes) {
    struct Case {
        double x, y;
        std::size_t strokes;
    };
    for (const Case c : {Case{34, -7, 0}, Case{8, 8, 1}}) {
        SCOPED_TRACE(c.x);
        FakePath path;
        path.vertices = {{c.x, c.y, 0, 0, -19.5, -19.5}, vertex(1e30, 1e30)};
        path.segments = {{std::hypot(1e30, 1e30), [=](double t, double* x, double* y, double* dx, double* dy) {
                              *x = t < 1e9 ? c.x : t * 1e3;
                              *y = t < 1e9 ? c.y : t * 1e3;
                              *dx = 1;
                              *dy = 1;
                          }}};
        GenSetup setup;
        setup.width = 16;
        setup.height = 16;
        const GenRun run = generate(path, setup);
        EXPECT_EQ(run.err, PF_Err_NONE);
        EXPECT_EQ(run.strokes.size(), c.strokes);
        EXPECT_LE(path.evals, 64 * (16 + 16) + 8192);
        EXPECT_GT(path.evals, 64 * (16 + 16));  // it did walk until the budget ran out
        EXPECT_EQ(path.prepared_outstanding, 0);
        expect_consistent(run, setup);
    }
}

// The host's own segments of `shape`, as a scripted path.
FakePath from_mask(const standalone::MaskShape& shape) {
    const standalone::MaskGeometry geometry(shape);
    FakePath path;
    for (A_long i = 0; i < static_cast<A_long>(shape.vertices.size()); ++i) path.vertices.push_back(geometry.vertex(i));
    for (A_long seg = 0; seg < geometry.num_segments(); ++seg) {
        const standalone::SegmentLength prepared = geometry.prepare(seg, 100);
        path.segments.push_back({prepared.length(), [prepared](double t, double* x, double* y, double* dx,
                                                               double* dy) { prepared.eval(t, x, y, dx, dy); }});
    }
    return path;
}

// A curve from next to a small frame to a point 10^30 (or more) away: the
// host's point at t lies t pixels from the start however small t is against
// the segment, so the walk leaves the frame in a few dozen leaps, either way.
TEST(GenerateWithMasks, CurveToAFarPointIsWalkedInFewEvaluations) {
    for (double distance : {1e30, 1e100, 1e300}) {
        SCOPED_TRACE(distance);
        const standalone::MaskVertex near{34, -7, 0, 0, -19.5, -19.5};
        const standalone::MaskVertex far{distance, distance, 0, 0, 0, 0};
        const standalone::MaskVertex near_back{34, -7, -19.5, -19.5, 0, 0};

        const standalone::SegmentLength out = standalone::MaskGeometry({{near, far}, false}).prepare(0, 100);
        for (double t : {0.5, 1.0, 3.0, 100.0, 1e6, 1e9, 1e12, 1e15}) {
            double x = 0, y = 0, dx = 0, dy = 0;
            out.eval(t, &x, &y, &dx, &dy);
            EXPECT_NEAR(std::hypot(x - 34, y + 7), t, 1e-9 * t) << t;
        }

        for (const standalone::MaskShape& shape :
             {standalone::MaskShape{{near, far}, false}, standalone::MaskShape{{far, near_back}, false}}) {
            FakePath path = from_mask(shape);
            GenSetup setup;
            setup.width = 16;
            setup.height = 16;
            const GenRun run = generate(path, setup);
            EXPECT_EQ(run.err, PF_Err_NONE);
            EXPECT_TRUE(run.strokes.empty());
            EXPECT_LT(path.evals, 1000);
        }
    }
}

// A long segment that passes the frame three times, longer than the walk's
// budget: leaping over what cannot reach the frame keeps it within budget and
// gives exactly the strokes of the walk of every sample.
TEST(GenerateWithMasks, LongOvershootingCurveKeepsEveryStroke) {
    const standalone::MaskShape shape{{{-20000, 30, 0, 0, 45000, 2}, {20000, 34, -45000, -3, 0, 0}}, false};
    FakePath path = from_mask(shape);
    GenSetup setup;
    setup.width = 64;
    setup.height = 64;
    setup.info.half_max_width = 6;
    const long budget = 64 * (64 + 64) + 8192;
    ASSERT_GT(path.segments[0].length, 2.0 * budget);
    const GenRun skipped = generate(path, setup);
    const long skipped_evals = path.evals;
    path.evals = 0;
    setup.options.walk = SampleWalk::EveryStep;
    const GenRun every = generate(path, setup);
    ASSERT_EQ(skipped.err, PF_Err_NONE);
    ASSERT_GE(every.strokes.size(), 12u);  // three passes of 64 columns
    EXPECT_TRUE(same_lists(skipped.strokes, every.strokes));
    EXPECT_LT(skipped_evals, budget);
    EXPECT_GT(path.evals, budget);
}

// Index arithmetic past 2^31 entries: a frame of 3 · 10^9 pixels, mapped
// lazily so that only the touched pages cost memory.
TEST(GenerateGuards, MapIndicesBeyondInt32) {
    GenSetup setup;
    setup.width = 60000;
    setup.height = 50000;
    const std::size_t entries = std::size_t{60000} * 50000;
    void* block = mmap(nullptr, entries * sizeof(A_long), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                       -1, 0);
    if (block == MAP_FAILED) GTEST_SKIP() << "no address space for the lazy map";
    auto* map = static_cast<A_long*>(block);
    FakePath path = polyline({{59000, 49900}, {59900, 49900}});
    const GenRun run = generate_into(path, setup, map);
    ASSERT_GE(run.strokes.size(), 2u);
    const Stroke& first = run.strokes[0];
    EXPECT_EQ(first.sample_y, 49900);
    EXPECT_EQ(map[std::size_t{49900} * 60000 + 59000], 2);
    EXPECT_EQ(map[std::size_t{49999} * 60000 + 59000 + 2 * first.half_w], 2);
    EXPECT_EQ(map[std::size_t{49900} * 60000 + 58999], 0);
    munmap(block, entries * sizeof(A_long));
}

}  // namespace
