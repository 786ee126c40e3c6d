// Mask outline geometry: segment counts, exact straight segments, curved
// arc-length accuracy, and robustness against degenerate input.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "standalone/mask.h"

namespace standalone {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

MaskVertex corner(double x, double y) { return {x, y, 0, 0, 0, 0}; }

MaskShape polygon(std::vector<MaskVertex> v, bool closed) {
    MaskShape s;
    s.vertices = std::move(v);
    s.closed = closed;
    return s;
}

struct Sample {
    double x, y, dx, dy;
};

Sample eval(const SegmentLength& s, double t) {
    Sample r{};
    s.eval(t, &r.x, &r.y, &r.dx, &r.dy);
    return r;
}

TEST(MaskGeometry, SegmentCounts) {
    struct Case {
        int vertices;
        bool closed;
        A_long segments;
    } cases[] = {{0, false, 0}, {1, false, 0}, {2, false, 1}, {5, false, 4},
                 {0, true, 0},  {1, true, 1},  {2, true, 2},  {5, true, 5}};
    for (const Case& c : cases) {
        std::vector<MaskVertex> v;
        for (int i = 0; i < c.vertices; ++i) v.push_back(corner(10.0 * i, 3.0 * i));
        const MaskGeometry g(polygon(v, c.closed));
        EXPECT_EQ(g.num_segments(), c.segments) << c.vertices << (c.closed ? " closed" : " open");
        EXPECT_EQ(g.is_open(), !c.closed);
    }
}

TEST(MaskGeometry, VertexIndexIsClamped) {
    const MaskGeometry g(polygon({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}}, false));
    const PF_PathVertex first = g.vertex(-3), last = g.vertex(99), second = g.vertex(1);
    EXPECT_EQ(first.x, 1);
    EXPECT_EQ(first.tan_in_y, 4);
    EXPECT_EQ(first.tan_out_x, 5);
    EXPECT_EQ(last.x, 7);
    EXPECT_EQ(second.tan_out_y, 12);
    const PF_PathVertex none = MaskGeometry(MaskShape{}).vertex(0);
    EXPECT_EQ(none.x, 0);
    EXPECT_EQ(none.tan_out_y, 0);
}

TEST(MaskGeometry, StraightSegmentsAreBitExact) {
    struct Case {
        double x0, y0, x1, y1;
    } cases[] = {{0, 0, 100, 0}, {10.25, 7.5, -33.1, 91.7}, {1e-3, 5, 1e-3, -17.3}, {-1e30, 2e29, 1e30, -3e29},
                 {0.1, 0.2, 0.3, 0.7}};
    for (const Case& c : cases) {
        const MaskGeometry g(polygon({corner(c.x0, c.y0), corner(c.x1, c.y1)}, false));
        const SegmentLength s = g.prepare(0, 100);
        const double L = std::hypot(c.x1 - c.x0, c.y1 - c.y0);
        ASSERT_EQ(s.length(), L);
        EXPECT_EQ(g.segment_length(0, 100), L);
        for (double f : {0.0, 0.1, 0.3333, 0.5, 0.77, 1.0}) {
            const double t = f * L;
            const Sample p = eval(s, t);
            EXPECT_EQ(p.x, c.x0 + (c.x1 - c.x0) * (t / L));
            EXPECT_EQ(p.y, c.y0 + (c.y1 - c.y0) * (t / L));
            EXPECT_EQ(p.dx, c.x1 - c.x0);
            EXPECT_EQ(p.dy, c.y1 - c.y0);
        }
        // Whole-pixel walk as the effect does it.
        for (double t = 0.0; t <= L && t < 1000.0; t += 1.0) EXPECT_EQ(eval(s, t).x, c.x0 + (c.x1 - c.x0) * (t / L));
        // Outside [0, L] clamps to the ends.
        EXPECT_EQ(eval(s, -5.0).x, c.x0);
        EXPECT_EQ(eval(s, L * 2 + 1).x, c.x0 + (c.x1 - c.x0) * (L / L));
        EXPECT_EQ(eval(s, kInf).y, c.y0 + (c.y1 - c.y0) * (L / L));
    }
}

TEST(MaskGeometry, ClosingSegmentRunsBackToFirstVertex) {
    const MaskGeometry g(polygon({corner(0, 0), corner(30, 0), corner(30, 40)}, true));
    ASSERT_EQ(g.num_segments(), 3);
    EXPECT_EQ(g.segment_length(2, 100), 50.0);
    const Sample end = eval(g.prepare(2, 100), 50.0);
    EXPECT_EQ(end.x, 0.0);
    EXPECT_EQ(end.y, 0.0);
    EXPECT_EQ(end.dx, -30.0);
    EXPECT_EQ(end.dy, -40.0);
}

TEST(MaskGeometry, ZeroLengthSegmentsGiveTheVertexAndNoDirection) {
    const MaskGeometry repeated(polygon({corner(5, 6), corner(5, 6), corner(9, 6)}, false));
    const MaskGeometry single(polygon({corner(3.5, -2)}, true));
    struct Case {
        const MaskGeometry* g;
        double x, y;
    } cases[] = {{&repeated, 5, 6}, {&single, 3.5, -2}};
    for (const Case& c : cases) {
        const SegmentLength s = c.g->prepare(0, 100);
        EXPECT_EQ(s.length(), 0.0);
        for (double t : {0.0, 1.0, -1.0}) {
            const Sample p = eval(s, t);
            EXPECT_EQ(p.x, c.x);
            EXPECT_EQ(p.y, c.y);
            EXPECT_EQ(p.dx, 0.0);
            EXPECT_EQ(p.dy, 0.0);
        }
    }
    // Out-of-range segments are empty too.
    EXPECT_EQ(repeated.segment_length(7, 100), 0.0);
    EXPECT_EQ(repeated.segment_length(-1, 100), 0.0);
}

// Reference arc length of a cubic by composite 8-point Gauss–Legendre on many
// intervals, and the parameter at a given length by bisection.
struct ReferenceCubic {
    double p[4][2];
    double speed(double u) const {
        const double mt = 1 - u;
        double v[2];
        for (int k = 0; k < 2; ++k)
            v[k] = 3 * (mt * mt * (p[1][k] - p[0][k]) + 2 * mt * u * (p[2][k] - p[1][k]) + u * u * (p[3][k] - p[2][k]));
        return std::hypot(v[0], v[1]);
    }
    double arc(double a, double b, int pieces) const {
        static const double n[4] = {0.1834346424956498, 0.5255324099163290, 0.7966664774136267, 0.9602898564975363};
        static const double w[4] = {0.3626837833783620, 0.3137066458778873, 0.2223810344533745, 0.1012285362903763};
        double sum = 0;
        const double h = (b - a) / pieces;
        for (int i = 0; i < pieces; ++i) {
            const double m = a + h * (i + 0.5);
            for (int j = 0; j < 4; ++j) sum += w[j] * (speed(m - 0.5 * h * n[j]) + speed(m + 0.5 * h * n[j]));
        }
        return sum * 0.5 * h;
    }
    void point(double u, double* x, double* y) const {
        const double mt = 1 - u;
        double r[2];
        for (int k = 0; k < 2; ++k)
            r[k] = mt * mt * mt * p[0][k] + 3 * mt * mt * u * p[1][k] + 3 * mt * u * u * p[2][k] + u * u * u * p[3][k];
        *x = r[0];
        *y = r[1];
    }
    double param_at(double t) const {
        double lo = 0, hi = 1;
        for (int i = 0; i < 60; ++i) {
            const double mid = 0.5 * (lo + hi);
            (arc(0, mid, 400) < t ? lo : hi) = mid;
        }
        return 0.5 * (lo + hi);
    }
};

TEST(MaskGeometry, CircleOfFourCubicsIsAccurate) {
    const double R = 1000, k = 0.5522847498 * R, cx = 1500, cy = 1200;
    // Clockwise on screen (rows grow downwards): right, bottom, left, top.
    const MaskGeometry g(polygon({{cx + R, cy, 0, -k, 0, k},
                                  {cx, cy + R, k, 0, -k, 0},
                                  {cx - R, cy, 0, k, 0, -k},
                                  {cx, cy - R, -k, 0, k, 0}},
                                 true));
    ASSERT_EQ(g.num_segments(), 4);
    for (A_long seg = 0; seg < 4; ++seg) {
        const PF_PathVertex a = g.vertex(seg), b = g.vertex((seg + 1) % 4);
        const ReferenceCubic ref{{{a.x, a.y},
                                  {a.x + a.tan_out_x, a.y + a.tan_out_y},
                                  {b.x + b.tan_in_x, b.y + b.tan_in_y},
                                  {b.x, b.y}}};
        const double L_ref = ref.arc(0, 1, 20000);
        const SegmentLength s = g.prepare(seg, 100);
        EXPECT_NEAR(s.length(), L_ref, 0.01);
        EXPECT_NEAR(s.length(), std::numbers::pi / 2 * R, 0.5);  // the cubic's own radial error is tiny
        for (double t = 0; t <= s.length(); t += 97.3) {
            const Sample p = eval(s, t);
            double rx, ry;
            ref.point(ref.param_at(t), &rx, &ry);  // exact arc-length position of the cubic
            EXPECT_NEAR(p.x, rx, 0.01) << "seg " << seg << " t " << t;
            EXPECT_NEAR(p.y, ry, 0.01) << "seg " << seg << " t " << t;
            // The derivative is the cubic's own dB/du there (its direction
            // leaves the circle's tangent by up to ~1e-3 rad).
            const double u = ref.param_at(t);
            double ax, ay, bx, by;
            ref.point(u - 1e-7, &ax, &ay);
            ref.point(u + 1e-7, &bx, &by);
            EXPECT_NEAR(p.dx, (bx - ax) / 2e-7, 1e-3 * R);
            EXPECT_NEAR(p.dy, (by - ay) / 2e-7, 1e-3 * R);
            // Clockwise on screen.
            EXPECT_GT((p.x - cx) * p.dy - (p.y - cy) * p.dx, 0.0);
        }
    }
}

TEST(MaskGeometry, HardCurvesMatchTheReference) {
    struct Case {
        const char* name;
        MaskVertex a, b;
    } cases[] = {
        {"cusp", {0, 0, 0, 0, 100, 100}, {100, 0, -100, 100, 0, 0}},  // dB/du = 0 at u = ½
        {"near cusp", {0, 0, 0, 0, 400, 100}, {100, 0, -400, 101, 0, 0}},
        {"loop", {0, 0, 0, 0, 500, 400}, {100, 0, -500, 400, 0, 0}},
        {"s-curve", {0, 0, 0, 0, 800, 0}, {100, 300, -800, 0, 0, 0}},
        {"long handle", {0, 0, 0, 0, 5000, 10}, {10, 0, 0, 0, 0, 0}},
        {"tiny handles", {0, 0, 0, 0, 1e-9, 0}, {1000, 1, 0, 1e-9, 0, 0}},
    };
    for (const Case& c : cases) {
        const MaskGeometry g(polygon({c.a, c.b}, false));
        const ReferenceCubic ref{{{c.a.x, c.a.y},
                                  {c.a.x + c.a.out_x, c.a.y + c.a.out_y},
                                  {c.b.x + c.b.in_x, c.b.y + c.b.in_y},
                                  {c.b.x, c.b.y}}};
        const SegmentLength s = g.prepare(0, 100);
        EXPECT_NEAR(s.length(), ref.arc(0, 1, 20000), 0.01) << c.name;
        for (int i = 0; i <= 12; ++i) {
            const double t = s.length() * i / 12;
            const Sample p = eval(s, t);
            double rx, ry;
            ref.point(ref.param_at(t), &rx, &ry);
            EXPECT_NEAR(p.x, rx, 0.01) << c.name << " t " << t;
            EXPECT_NEAR(p.y, ry, 0.01) << c.name << " t " << t;
        }
    }
}

TEST(MaskGeometry, CurvedSegmentEndsAreTheVertices) {
    const MaskGeometry g(polygon({{10, 20, 0, 0, 40, -30}, {200, 50, -20, -60, 0, 0}}, false));
    const SegmentLength s = g.prepare(0, 100);
    const Sample start = eval(s, 0.0), end = eval(s, s.length());
    EXPECT_EQ(start.x, 10.0);
    EXPECT_EQ(start.y, 20.0);
    EXPECT_EQ(end.x, 200.0);
    EXPECT_EQ(end.y, 50.0);
    EXPECT_DOUBLE_EQ(start.dx, 3 * 40.0);  // dB/du, not normalised
    EXPECT_DOUBLE_EQ(start.dy, 3 * -30.0);
    EXPECT_DOUBLE_EQ(end.dx, 3 * 20.0);
    EXPECT_DOUBLE_EQ(end.dy, 3 * 60.0);
}

TEST(MaskGeometry, RetractedHandleStillHasADirection) {
    // Out handle of the start and in handle of the end retracted in turn: the
    // direction at that end is the way the curve actually goes.
    const MaskGeometry a(polygon({{0, 0, 0, 0, 0, 0}, {100, 0, 0, 50, 0, 0}}, false));
    const SegmentLength sa = a.prepare(0, 100);
    const Sample a0 = eval(sa, 0.0);
    ASSERT_TRUE(a0.dx != 0.0 || a0.dy != 0.0);
    // Leaves towards C2 = (100, 50): right and down.
    EXPECT_GT(a0.dx, 0.0);
    EXPECT_GT(a0.dy, 0.0);

    const MaskGeometry b(polygon({{0, 0, 0, 0, 0, 50}, {100, 0, 0, 0, 0, 0}}, false));
    const SegmentLength sb = b.prepare(0, 100);
    const Sample b1 = eval(sb, sb.length());
    // Arrives from C1 = (0, 50): moving right and up.
    EXPECT_GT(b1.dx, 0.0);
    EXPECT_LT(b1.dy, 0.0);
    EXPECT_EQ(b1.x, 100.0);
    EXPECT_EQ(b1.y, 0.0);
}

TEST(MaskGeometry, NonFiniteCoordinatesNeverHang) {
    const MaskShape shapes[] = {
        polygon({corner(kNaN, 0), corner(10, 10)}, false),
        polygon({corner(0, 0), corner(kInf, 10)}, false),
        polygon({{0, 0, 0, 0, kNaN, 1}, {10, 10, 0, 0, 0, 0}}, false),
        polygon({{0, 0, 0, 0, 5, 1}, {10, kInf, -3, 0, 0, 0}}, false),
        polygon({{-kInf, 0, 0, 0, 5, 1}, {kInf, 0, -3, 0, 0, 0}}, false),
    };
    for (const MaskShape& shape : shapes) {
        const MaskGeometry g(shape);
        const SegmentLength s = g.prepare(0, 100);
        EXPECT_FALSE(std::isfinite(s.length()));
        for (double t : {0.0, 1.0, 1e9, kNaN, kInf}) {
            const Sample p = eval(s, t);
            EXPECT_FALSE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.dx) && std::isfinite(p.dy));
        }
    }
    // A NaN arc length on a good segment gives NaN, not a clamp to an end.
    const MaskGeometry good(polygon({{0, 0, 0, 0, 5, 5}, {10, 0, 0, 5, 0, 0}}, false));
    EXPECT_TRUE(std::isnan(eval(good.prepare(0, 100), kNaN).x));
}

TEST(MaskGeometry, HugeCoordinatesStayFinite) {
    const double s = 1e30;
    const MaskGeometry g(polygon({{-s, 0, 0, 0, s, s}, {s, 0, -s, s, 0, 0}}, false));
    const SegmentLength seg = g.prepare(0, 100);
    ASSERT_TRUE(std::isfinite(seg.length()));
    EXPECT_GT(seg.length(), 2 * s);
    EXPECT_LT(seg.length(), 2 * s + 4 * std::hypot(s, s));
    const Sample mid = eval(seg, seg.length() / 2);
    EXPECT_NEAR(mid.x / s, 0.0, 1e-9);  // symmetric curve
    EXPECT_TRUE(std::isfinite(mid.y) && std::isfinite(mid.dx) && std::isfinite(mid.dy));
}

TEST(MaskGeometry, ManySegmentsAddUp) {
    // A 600-gon with bulging edges: the lengths sum to a bit more than the
    // polygon's perimeter, and every whole-pixel sample lies near the circle.
    const int n = 600;
    const double R = 2000, cx = 2500, cy = 2500, k = 4.0 / 3.0 * std::tan(std::numbers::pi / (2 * n)) * R;
    std::vector<MaskVertex> v;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * std::numbers::pi * i / n, tx = -std::sin(a), ty = std::cos(a);
        v.push_back({cx + R * std::cos(a), cy + R * std::sin(a), -k * tx, -k * ty, k * tx, k * ty});
    }
    const MaskGeometry g(polygon(v, true));
    ASSERT_EQ(g.num_segments(), n);
    double total = 0;
    for (A_long i = 0; i < n; ++i) {
        const SegmentLength s = g.prepare(i, 100);
        total += s.length();
        for (double t = 0; t <= s.length(); t += 1.0) {
            const Sample p = eval(s, t);
            EXPECT_NEAR(std::hypot(p.x - cx, p.y - cy), R, 1e-6);
        }
    }
    EXPECT_NEAR(total, 2 * std::numbers::pi * R, 1e-3);
}

TEST(MaskShapeInterpolate, BlendsMatchingShapesOnly) {
    const MaskShape a = polygon({{0, 0, 1, 2, 3, 4}, {10, 10, 0, 0, 0, 0}}, true);
    const MaskShape b = polygon({{4, 8, 3, 2, 1, 0}, {20, 0, 2, 2, 2, 2}}, false);
    const MaskShape h = interpolate(a, b, 0.25);
    ASSERT_EQ(h.vertices.size(), 2u);
    EXPECT_TRUE(h.closed);
    EXPECT_EQ(h.vertices[0].x, 1.0);
    EXPECT_EQ(h.vertices[0].y, 2.0);
    EXPECT_EQ(h.vertices[0].in_x, 1.5);
    EXPECT_EQ(h.vertices[0].out_y, 3.0);
    EXPECT_EQ(h.vertices[1].x, 12.5);
    EXPECT_EQ(h.vertices[1].out_x, 0.5);

    const MaskShape c = polygon({corner(1, 1)}, false);
    const MaskShape kept = interpolate(a, c, 0.5);
    ASSERT_EQ(kept.vertices.size(), 2u);
    EXPECT_EQ(kept.vertices[1].x, 10.0);
}

}  // namespace
}  // namespace standalone
