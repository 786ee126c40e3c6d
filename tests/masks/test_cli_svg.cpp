// SVG path data to mask outlines.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "masks/svg_path.h"

namespace {

using cli::MaskOutline;
using cli::MaskVertex;
using cli::parse_svg_path;
using cli::SvgPathError;

MaskOutline outline(const std::string& d) {
    const cli::SvgPath p = parse_svg_path(d);
    EXPECT_EQ(p.warning, "") << d;
    return p.outline;
}

void expect_same(const MaskOutline& a, const MaskOutline& b, const std::string& what) {
    ASSERT_EQ(a.vertices.size(), b.vertices.size()) << what;
    EXPECT_EQ(a.closed, b.closed) << what;
    for (std::size_t i = 0; i < a.vertices.size(); ++i) {
        const MaskVertex& u = a.vertices[i];
        const MaskVertex& v = b.vertices[i];
        EXPECT_NEAR(u.x, v.x, 1e-9) << what << " vertex " << i;
        EXPECT_NEAR(u.y, v.y, 1e-9) << what << " vertex " << i;
        EXPECT_NEAR(u.in_x, v.in_x, 1e-9) << what << " vertex " << i;
        EXPECT_NEAR(u.in_y, v.in_y, 1e-9) << what << " vertex " << i;
        EXPECT_NEAR(u.out_x, v.out_x, 1e-9) << what << " vertex " << i;
        EXPECT_NEAR(u.out_y, v.out_y, 1e-9) << what << " vertex " << i;
    }
}

void expect_vertex(const MaskVertex& v, double x, double y, double in_x, double in_y, double out_x,
                   double out_y) {
    EXPECT_DOUBLE_EQ(v.x, x);
    EXPECT_DOUBLE_EQ(v.y, y);
    EXPECT_DOUBLE_EQ(v.in_x, in_x);
    EXPECT_DOUBLE_EQ(v.in_y, in_y);
    EXPECT_DOUBLE_EQ(v.out_x, out_x);
    EXPECT_DOUBLE_EQ(v.out_y, out_y);
}

// Point on the cubic between vertices i and i+1 at parameter t.
void cubic_point(const MaskOutline& o, std::size_t i, double t, double* x, double* y) {
    const MaskVertex& a = o.vertices[i];
    const MaskVertex& b = o.vertices[(i + 1) % o.vertices.size()];
    const double p[4][2] = {{a.x, a.y},
                            {a.x + a.out_x, a.y + a.out_y},
                            {b.x + b.in_x, b.y + b.in_y},
                            {b.x, b.y}};
    const double s = 1.0 - t;
    const double w[4] = {s * s * s, 3 * s * s * t, 3 * s * t * t, t * t * t};
    *x = *y = 0.0;
    for (int k = 0; k < 4; ++k) {
        *x += w[k] * p[k][0];
        *y += w[k] * p[k][1];
    }
}

TEST(CliSvgPath, StraightCommandsGiveZeroTangents) {
    const MaskOutline o = outline("M 10 20 L 30 40 H 50 V 60");
    ASSERT_EQ(o.vertices.size(), 4u);
    EXPECT_FALSE(o.closed);
    expect_vertex(o.vertices[0], 10, 20, 0, 0, 0, 0);
    expect_vertex(o.vertices[1], 30, 40, 0, 0, 0, 0);
    expect_vertex(o.vertices[2], 50, 40, 0, 0, 0, 0);
    expect_vertex(o.vertices[3], 50, 60, 0, 0, 0, 0);
}

TEST(CliSvgPath, CubicTangentsAreRelativeToTheirVertex) {
    const MaskOutline o = outline("M0 0 C 10 -5 20 -5 30 0 C 40 5 50 5 60 0");
    ASSERT_EQ(o.vertices.size(), 3u);
    expect_vertex(o.vertices[0], 0, 0, 0, 0, 10, -5);
    expect_vertex(o.vertices[1], 30, 0, -10, -5, 10, 5);
    expect_vertex(o.vertices[2], 60, 0, -10, 5, 0, 0);
}

// Each pair must describe the same outline: relative forms, implicit
// repetition, reflections written out, number syntax variants.
TEST(CliSvgPath, EquivalentSpellings) {
    const struct {
        const char* a;
        const char* b;
    } cases[] = {
        {"m10 20 l20 20 l20 -20", "M10 20 L30 40 L50 20"},
        {"m10 20 l20 20 20 -20", "M10 20 L30 40 L50 20"},
        {"M 5 5 10 5 10 10", "M5 5 L10 5 L10 10"},
        {"m 5 5 5 0 0 5", "M5 5 L10 5 L10 10"},
        {"m10 10 h40 v20 h-40 z", "M10 10 H50 V30 H10 Z"},
        {"M10 10 H 20 30 V 5 7", "M10 10 L20 10 L30 10 L30 5 L30 7"},
        {"m0 0 c10 0 20 10 20 20 10 0 20 10 20 20", "M0 0 C10 0 20 10 20 20 C30 20 40 30 40 40"},
        {"M0 0 C0 10 10 10 10 0 S 20 -10 20 0", "M0 0 C0 10 10 10 10 0 C10 -10 20 -10 20 0"},
        {"M0 0 c0 10 10 10 10 0 s10 -10 10 0", "M0 0 C0 10 10 10 10 0 C10 -10 20 -10 20 0"},
        {"M0 0 C0 10 10 10 10 0 S20 -10 20 0 30 10 40 0",
         "M0 0 C0 10 10 10 10 0 C10 -10 20 -10 20 0 C20 10 30 10 40 0"},
        // S after a line: the first control point is the current point.
        {"M0 0 L10 0 S 20 10 30 0", "M0 0 L10 0 C10 0 20 10 30 0"},
        {"M0 0 Q 10 10 20 0 T 40 0", "M0 0 Q10 10 20 0 Q30 -10 40 0"},
        {"M0 0 Q10 10 20 0 T40 0 T60 0", "M0 0 Q10 10 20 0 Q30 -10 40 0 Q50 10 60 0"},
        {"M0 0 q10 10 20 0 t20 0", "M0 0 Q10 10 20 0 Q30 -10 40 0"},
        // T after a cubic: no reflection.
        {"M0 0 C0 5 5 5 10 0 T 30 0", "M0 0 C0 5 5 5 10 0 Q10 0 30 0"},
        {"M0 0 T 10 10", "M0 0 Q0 0 10 10"},
        {"M1e1,2E+1L.5-.5", "M10 20 L0.5 -0.5"},
        {"M0.5.5L1-1", "M0.5 0.5 L1 -1"},
        {"M+1 +2 L 3,4", "M1 2 L3 4"},
        {"\t M\n1\r\n2,3\f4 ", "M1 2 L3 4"},
        {"M1 2l25e-2 4", "M1 2 L1.25 6"},
        {"M1.5e-0 2.e1 L 3. 4", "M1.5 20 L3 4"},
        // After Z, relative coordinates start from the subpath's start.
        {"M10 10 l10 0 l0 10 z", "M10 10 L20 10 L20 20 Z"},
        {"M0 0a5 5 0 1010 0", "M0 0 a5 5 0 1 0 10 0"},
        {"M0 0 A 5 5 0 0 1 10 0", "M0 0 a5 5 0 0 1 10 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.a);
        expect_same(outline(c.a), outline(c.b), c.a);
    }
}

TEST(CliSvgPath, QuadraticBecomesTheSameCurve) {
    const MaskOutline o = outline("M 0 0 Q 30 60 90 0");
    ASSERT_EQ(o.vertices.size(), 2u);
    EXPECT_NEAR(o.vertices[0].out_x, 20.0, 1e-12);
    EXPECT_NEAR(o.vertices[0].out_y, 40.0, 1e-12);
    EXPECT_NEAR(o.vertices[1].in_x, -40.0, 1e-12);
    EXPECT_NEAR(o.vertices[1].in_y, 40.0, 1e-12);
    for (int i = 0; i <= 16; ++i) {
        const double t = i / 16.0;
        const double s = 1 - t;
        double x = 0, y = 0;
        cubic_point(o, 0, t, &x, &y);
        EXPECT_NEAR(x, 2 * s * t * 30 + t * t * 90, 1e-12) << t;
        EXPECT_NEAR(y, 2 * s * t * 60, 1e-12) << t;
    }
}

TEST(CliSvgPath, CloseWithAndWithoutRepeatedFirstPoint) {
    const MaskOutline plain = outline("M0 0 L10 0 L10 10 Z");
    ASSERT_EQ(plain.vertices.size(), 3u);
    EXPECT_TRUE(plain.closed);

    const MaskOutline repeated = outline("M0 0 L10 0 L10 10 L0 0 Z");
    expect_same(repeated, plain, "repeated first point");

    // Relative steps that round do not leave a near-duplicate behind.
    const MaskOutline rounded = outline("m0.1 0.2 l0.3 0 l0 0.7 l-0.3 -0.7 z");
    EXPECT_EQ(rounded.vertices.size(), 3u);

    // The dropped point's in-tangent moves to the first vertex.
    const MaskOutline curved = outline("M0 0 C 5 -5 10 -5 10 0 C 10 5 5 10 0 0 Z");
    ASSERT_EQ(curved.vertices.size(), 2u);
    EXPECT_TRUE(curved.closed);
    expect_vertex(curved.vertices[0], 0, 0, 5, 10, 5, -5);
    expect_vertex(curved.vertices[1], 10, 0, 0, -5, 0, 5);

    // Without Z the path stays open, even when it ends on its start.
    const MaskOutline open = outline("M0 0 L10 0 L10 10 L0 0");
    EXPECT_FALSE(open.closed);
    EXPECT_EQ(open.vertices.size(), 4u);

    // A repeated Z changes nothing.
    expect_same(outline("M0 0 L10 0 L10 10 Z z"), plain, "Z z");
}

TEST(CliSvgPath, OnlyTheFirstSubpathIsTheMask) {
    const cli::SvgPath two = parse_svg_path("M0 0 L1 1 M5 5 L6 6");
    expect_same(two.outline, outline("M0 0 L1 1"), "two subpaths");
    EXPECT_NE(two.warning.find("2 subpaths"), std::string::npos) << two.warning;
    EXPECT_NE(two.warning.find("ignored"), std::string::npos) << two.warning;

    // Drawing after Z starts another subpath at the closed one's start.
    const cli::SvgPath after_close = parse_svg_path("M0 0 L4 0 L4 4 Z L 9 9 L 3 3");
    expect_same(after_close.outline, outline("M0 0 L4 0 L4 4 Z"), "after Z");
    EXPECT_NE(after_close.warning, "");

    // A lone move-to draws nothing and does not count.
    const cli::SvgPath lone = parse_svg_path("M 100 100 M0 0 L1 1");
    expect_same(lone.outline, outline("M0 0 L1 1"), "lone move-to");
    EXPECT_EQ(lone.warning, "");
}

TEST(CliSvgPath, PathThatDrawsNothingIsOneVertex) {
    // As the SVG grammar allows: the first subpath, its one vertex.
    const MaskOutline lone = outline(" m 7 -3 ");
    ASSERT_EQ(lone.vertices.size(), 1u);
    EXPECT_FALSE(lone.closed);
    expect_vertex(lone.vertices[0], 7, -3, 0, 0, 0, 0);
    const MaskOutline closed = outline("M 1 2 Z M 5 5");
    ASSERT_EQ(closed.vertices.size(), 1u);
    EXPECT_TRUE(closed.closed);
    expect_vertex(closed.vertices[0], 1, 2, 0, 0, 0, 0);
    // A move-to with extra pairs is a polyline, not a lone vertex.
    EXPECT_EQ(outline("M 0 0 5 5").vertices.size(), 2u);
}

TEST(CliSvgPath, QuarterArcIsTheStandardCubic) {
    const MaskOutline o = outline("M1 0 A1 1 0 0 1 0 1");
    ASSERT_EQ(o.vertices.size(), 2u);
    const double k = 4.0 / 3.0 * std::tan(std::numbers::pi / 8.0);
    EXPECT_NEAR(o.vertices[0].out_x, 0.0, 1e-12);
    EXPECT_NEAR(o.vertices[0].out_y, k, 1e-12);
    EXPECT_NEAR(o.vertices[1].in_x, k, 1e-12);
    EXPECT_NEAR(o.vertices[1].in_y, 0.0, 1e-12);
    EXPECT_EQ(o.vertices[1].x, 0.0);
    EXPECT_EQ(o.vertices[1].y, 1.0);
}

TEST(CliSvgPath, ArcsSplitIntoPiecesOnTheEllipse) {
    const struct {
        const char* d;
        std::size_t vertices;
        double cx, cy, r;
        double mid_x, mid_y;  // vertex 1
    } cases[] = {
        // Half circles: the sweep flag picks the side.
        {"M-1 0 A 1 1 0 0 1 1 0", 3, 0, 0, 1, 0, -1},
        {"M-1 0 A 1 1 0 0 0 1 0", 3, 0, 0, 1, 0, 1},
        // 270 degrees with the large-arc flag, around the other centre.
        {"M1 0 A1 1 0 1 1 0 1", 4, 1, 1, 1, 2, 1},
        // Radii too small are scaled up until the arc fits: a half circle.
        {"M0 0 A 1 1 0 0 1 10 0", 3, 5, 0, 5, 5, -5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.d);
        const MaskOutline o = outline(c.d);
        ASSERT_EQ(o.vertices.size(), c.vertices);
        EXPECT_NEAR(o.vertices[1].x, c.mid_x, 1e-9);
        EXPECT_NEAR(o.vertices[1].y, c.mid_y, 1e-9);
        for (std::size_t i = 0; i + 1 < o.vertices.size(); ++i) {
            for (double t : {0.0, 0.25, 0.5, 0.75, 1.0}) {
                double x = 0, y = 0;
                cubic_point(o, i, t, &x, &y);
                // The cubic approximation of a quarter circle strays by < 3e-4 r.
                EXPECT_NEAR(std::hypot(x - c.cx, y - c.cy), c.r, 3e-4 * c.r) << i << " " << t;
            }
        }
    }
}

TEST(CliSvgPath, ArcRotationRotatesTheResult) {
    // The arc with x-axis-rotation 30 is the unrotated arc turned by 30 degrees.
    const double a = 30.0 * std::numbers::pi / 180.0;
    const auto rot = [&](double x, double y, double* rx, double* ry) {
        *rx = x * std::cos(a) - y * std::sin(a);
        *ry = x * std::sin(a) + y * std::cos(a);
    };
    const MaskOutline flat = outline("M 0 0 A 20 10 0 1 1 25 5");
    double x1 = 0, y1 = 0;
    rot(25, 5, &x1, &y1);
    const MaskOutline turned =
        outline("M 0 0 A 20 10 30 1 1 " + std::to_string(x1) + " " + std::to_string(y1));
    ASSERT_EQ(flat.vertices.size(), turned.vertices.size());
    ASSERT_GE(flat.vertices.size(), 3u);
    for (std::size_t i = 0; i < flat.vertices.size(); ++i) {
        const MaskVertex& f = flat.vertices[i];
        MaskVertex e{};
        rot(f.x, f.y, &e.x, &e.y);
        rot(f.in_x, f.in_y, &e.in_x, &e.in_y);
        rot(f.out_x, f.out_y, &e.out_x, &e.out_y);
        const MaskVertex& t = turned.vertices[i];
        // to_string keeps 6 decimals of the end point.
        EXPECT_NEAR(t.x, e.x, 1e-5) << i;
        EXPECT_NEAR(t.y, e.y, 1e-5) << i;
        EXPECT_NEAR(t.in_x, e.in_x, 1e-5) << i;
        EXPECT_NEAR(t.in_y, e.in_y, 1e-5) << i;
        EXPECT_NEAR(t.out_x, e.out_x, 1e-5) << i;
        EXPECT_NEAR(t.out_y, e.out_y, 1e-5) << i;
    }
}

TEST(CliSvgPath, DegenerateArcs) {
    // A zero radius draws a line; an arc to its own start draws nothing.
    expect_same(outline("M0 0 A0 5 0 0 1 10 0"), outline("M0 0 L10 0"), "zero radius");
    expect_same(outline("M0 0 L5 5 A 3 3 0 0 1 5 5"), outline("M0 0 L5 5"), "same end point");
    // Negative radii count as positive.
    expect_same(outline("M1 0 A-1 -1 0 0 1 0 1"), outline("M1 0 A1 1 0 0 1 0 1"), "negative radii");
}

TEST(CliSvgPath, MalformedDataNamesTheOffset) {
    const struct {
        const char* d;
        std::size_t offset;
        const char* expected;  // part of the message
    } cases[] = {
        {"", 0, "move-to"},
        {"   ", 3, "move-to"},
        {"L 1 2", 0, "move-to"},
        {"M 1", 3, "number (y)"},
        {"M 1 2 L 3 x", 10, "number (y) for 'L'"},
        {"M 1 2 X 3", 6, "command letter"},
        {"M 1e 2", 3, "number (y)"},
        {"M 1,,2", 4, "number (y)"},
        {"M 1 2, L 3 4", 7, "after ','"},
        {"M 1 2 Z 3", 8, "command letter"},
        {"M 1e999 2", 2, "finite"},
        {"M 0 0 L nan 1", 8, "number (x)"},
        {"M 0 0 L inf 1", 8, "number (x)"},
        {"M 1 2 L - 3", 8, "number (x)"},
        {"M 0 0 A 1 1 0 2 0 5 5", 14, "flag"},
        {"M 0 0 C 1 2 3 4 5", 17, "number (y)"},
        {"M 1 2 L 3 4 \x01", 12, "command letter"},
        {"M 1e308 0 l 1e308 0", 10, "finite"},
        {"M 1 2 L 3 4 Z,", 13, "command letter"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.d);
        try {
            parse_svg_path(c.d);
            ADD_FAILURE() << "no error";
        } catch (const SvgPathError& e) {
            EXPECT_EQ(e.offset(), c.offset) << e.what();
            const std::string msg = e.what();
            EXPECT_NE(msg.find("offset " + std::to_string(c.offset)), std::string::npos) << msg;
            EXPECT_NE(msg.find(c.expected), std::string::npos) << msg;
        }
    }
}

TEST(CliSvgPath, ErrorMessageShowsWhatWasFound) {
    try {
        parse_svg_path("M 1 2 L 3 4 \x01");
        ADD_FAILURE() << "no error";
    } catch (const SvgPathError& e) {
        EXPECT_NE(std::string(e.what()).find("byte 0x01"), std::string::npos) << e.what();
    }
    try {
        parse_svg_path("M 1 2 L 3 q");
        ADD_FAILURE() << "no error";
    } catch (const SvgPathError& e) {
        EXPECT_NE(std::string(e.what()).find("found 'q'"), std::string::npos) << e.what();
    }
}

TEST(CliSvgPath, ScaleAndTranslate) {
    const MaskOutline o = outline("M 10 20 C 12 24 30 20 40 20 Z");
    const MaskOutline s = cli::scale(o, 0.5, 2.0);
    ASSERT_EQ(s.vertices.size(), 2u);
    EXPECT_TRUE(s.closed);
    expect_vertex(s.vertices[0], 5, 40, 0, 0, 1, 8);
    expect_vertex(s.vertices[1], 20, 40, -5, 0, 0, 0);
    const MaskOutline t = cli::translate(o, -10, 5);
    expect_vertex(t.vertices[0], 0, 25, 0, 0, 2, 4);
    expect_vertex(t.vertices[1], 30, 25, -10, 0, 0, 0);
}

}  // namespace
