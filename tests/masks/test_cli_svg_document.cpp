// SVG documents to mask outlines: shapes, transforms, viewports, refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "masks/svg_document.h"

namespace {

using cli::MaskOutline;
using cli::MaskVertex;
using cli::read_svg_document;

std::string svg(const std::string& attributes, const std::string& body) {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" " + attributes + ">" + body + "</svg>";
}

MaskOutline read(const std::string& xml, const std::string& id = "") {
    return read_svg_document(xml, id).outline;
}

// Bit for bit: the same vertices, tangents and closedness.
void expect_identical(const MaskOutline& got, const MaskOutline& want) {
    ASSERT_EQ(got.vertices.size(), want.vertices.size());
    EXPECT_EQ(got.closed, want.closed);
    for (std::size_t i = 0; i < got.vertices.size(); ++i) {
        const MaskVertex& g = got.vertices[i];
        const MaskVertex& w = want.vertices[i];
        EXPECT_EQ(g.x, w.x) << i;
        EXPECT_EQ(g.y, w.y) << i;
        EXPECT_EQ(g.in_x, w.in_x) << i;
        EXPECT_EQ(g.in_y, w.in_y) << i;
        EXPECT_EQ(g.out_x, w.out_x) << i;
        EXPECT_EQ(g.out_y, w.out_y) << i;
    }
}

TEST(CliSvgDocument, NestedTransformsGiveTheAbsoluteOutlineExactly) {
    // Worked by hand: the chain maps (x, y) to (84 + y, 58 - x - y).
    const std::string doc = svg("width=\"96\" height=\"64\" viewBox=\"0 0 48 32\"",
                                "<g transform=\"rotate(180 24 16)\"><g transform=\"translate(10 4)\">"
                                "<g transform=\"rotate(90) scale(0.5)\">"
                                "<path transform=\"matrix(1 0 0 1 -2 8), skewX(45)\" d=\"M 4 0 C 6 0 8 2 8 4 L 0 4 Z\"/>"
                                "</g></g></g>");
    expect_identical(read(doc), cli::parse_svg_path("M 84 54 C 84 52 86 48 88 46 L 88 54 Z").outline);

    // skewY, then a turn by a negative quarter: (x, y) -> (x + y, -x).
    expect_identical(read(svg("", "<line transform=\"rotate(-90) skewY(45)\" x1=\"1\" y1=\"2\" x2=\"3\" y2=\"0\"/>")),
                     cli::parse_svg_path("M 3 -1 L 3 -3").outline);
}

TEST(CliSvgDocument, BasicShapesStartWhereSvgSaysAndRunTheSameWay) {
    const struct {
        const char* element;
        std::size_t vertices;
        bool closed;
        double x0, y0, x1, y1;  // first and second vertex
    } cases[] = {
        {"<rect x=\"10\" y=\"20\" width=\"30\" height=\"40\"/>", 4, true, 10, 20, 40, 20},
        {"<rect x=\"10\" y=\"20\" width=\"30\" height=\"40\" rx=\"5\"/>", 8, true, 15, 20, 35, 20},
        // rx above half the width is clamped; ry follows rx.
        {"<rect width=\"30\" height=\"40\" rx=\"99\"/>", 8, true, 15, 0, 15, 0},
        {"<rect width=\"30\" height=\"40\" rx=\"0\" ry=\"6\"/>", 4, true, 0, 0, 30, 0},
        {"<circle cx=\"50\" cy=\"40\" r=\"10\"/>", 4, true, 60, 40, 50, 50},
        {"<ellipse cx=\"50\" cy=\"40\" rx=\"10\" ry=\"4\"/>", 4, true, 60, 40, 50, 44},
        {"<ellipse cx=\"50\" cy=\"40\" ry=\"4\"/>", 4, true, 54, 40, 50, 44},
        {"<polygon points=\"1,2 3,4 5,0\"/>", 3, true, 1, 2, 3, 4},
        {"<polygon points=\"1,2 3,4 5,0 1 2\"/>", 3, true, 1, 2, 3, 4},
        {"<polyline points=\"1,2 3,4 5,0 1,2\"/>", 4, false, 1, 2, 3, 4},
        {"<line x1=\"7\" y1=\"8\" x2=\"-1\" y2=\"0\"/>", 2, false, 7, 8, -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.element);
        const MaskOutline o = read(svg("", c.element));
        ASSERT_EQ(o.vertices.size(), c.vertices);
        EXPECT_EQ(o.closed, c.closed);
        EXPECT_EQ(o.vertices[0].x, c.x0);
        EXPECT_EQ(o.vertices[0].y, c.y0);
        EXPECT_EQ(o.vertices[1].x, c.x1);
        EXPECT_EQ(o.vertices[1].y, c.y1);
    }
    // A lone point is a one-vertex mask.
    EXPECT_EQ(read(svg("", "<polyline points=\"4 4\"/>")).vertices.size(), 1u);
}

TEST(CliSvgDocument, RoundShapesAreQuarterArcsThatMeetTheCurve) {
    // With handles of 4/3·(√2 − 1) of the radius a quarter arc's midpoint lies
    // on the ellipse; the handles point along the direction of travel.
    const struct {
        const char* element;
        double rx, ry;  // all centred on (50, 40)
    } cases[] = {
        {"<circle cx=\"50\" cy=\"40\" r=\"10\"/>", 10, 10},
        {"<ellipse cx=\"50\" cy=\"40\" rx=\"16\" ry=\"4\"/>", 16, 4},
        {"<rect x=\"34\" y=\"36\" width=\"32\" height=\"8\" rx=\"16\" ry=\"4\"/>", 16, 4},
        {"<rect x=\"34\" y=\"36\" width=\"32\" height=\"8\" rx=\"99\"/>", 16, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.element);
        const MaskOutline o = read(svg("", c.element));
        const double rx = c.rx, ry = c.ry;
        const std::size_t n = o.vertices.size();
        int arcs = 0;
        double area = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const MaskVertex& a = o.vertices[i];
            const MaskVertex& b = o.vertices[(i + 1) % n];
            area += a.x * b.y - b.x * a.y;
            if (a.out_x == 0 && a.out_y == 0) continue;  // a straight side
            ++arcs;
            const double mx = 0.125 * a.x + 0.375 * (a.x + a.out_x) + 0.375 * (b.x + b.in_x) + 0.125 * b.x;
            const double my = 0.125 * a.y + 0.375 * (a.y + a.out_y) + 0.375 * (b.y + b.in_y) + 0.125 * b.y;
            EXPECT_NEAR(std::hypot((mx - 50.0) / rx, (my - 40.0) / ry), 1.0, 1e-12) << i;
            // Travel goes from a to b: the handle leaving a points to b's side.
            EXPECT_GT(a.out_x * (b.x - a.x) + a.out_y * (b.y - a.y), 0.0) << i;
        }
        EXPECT_EQ(arcs, 4);
        // Clockwise on screen (y down), as SVG draws them.
        EXPECT_GT(area, 0.0);
    }
}

TEST(CliSvgDocument, ViewBoxMapsUserUnitsToPixels) {
    const struct {
        const char* attributes;
        double x, y;  // where the user-space point (10, 10) lands
    } cases[] = {
        {"width=\"100\" height=\"50\" viewBox=\"0 0 10 10\"", 75, 50},  // xMidYMid meet
        {"width=\"100\" height=\"50\" viewBox=\"0 0 10 10\" preserveAspectRatio=\"xMinYMax\"", 50, 50},
        {"width=\"100\" height=\"50\" viewBox=\"0 0 10 10\" preserveAspectRatio=\"xMidYMid slice\"", 100, 75},
        {"width=\"100\" height=\"50\" viewBox=\"0 0 10 10\" preserveAspectRatio=\"xMaxYMax slice\"", 100, 50},
        {"width=\"100\" height=\"50\" viewBox=\"0 0 10 10\" preserveAspectRatio=\"defer none\"", 100, 50},
        {"width=\"40\" viewBox=\"5 0 20 10\"", 10, 20},                    // height from the proportions
        {"viewBox=\"-6 2 20 10\"", 16, 8},                                 // no size: one unit, one pixel
        {"width=\"50%\" height=\"50%\" viewBox=\"0 0 20 20\"", 5, 5},
        {"width=\"1in\" height=\"72pt\" viewBox=\"0 0 48 48\"", 20, 20},
        {"width=\"6pc\" height=\"6PC\" viewBox=\"0 0 48 48\"", 20, 20},
        {"width=\"96\" height=\"64\"", 10, 10},                            // no viewBox: units are pixels
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.attributes);
        const MaskOutline o = read(svg(c.attributes, "<line x1=\"10\" y1=\"10\" x2=\"0\" y2=\"0\"/>"));
        EXPECT_EQ(o.vertices[0].x, c.x);
        EXPECT_EQ(o.vertices[0].y, c.y);
    }
    // Metric units at 96 pixels per inch.
    for (const char* size : {"25.4mm", "2.54cm", "1in", "96px"}) {
        const std::string a = std::string("width=\"") + size + "\" height=\"" + size + "\" viewBox=\"0 0 1 1\"";
        EXPECT_NEAR(read(svg(a, "<line x1=\"1\" y1=\"1\"/>")).vertices[0].x, 96.0, 1e-12) << size;
    }
    // A nested viewport places and scales its own content; percentages are
    // of the nearest viewBox.
    const MaskOutline nested = read(svg("width=\"200\" height=\"200\" viewBox=\"0 0 100 100\"",
                                        "<svg x=\"10\" y=\"20\" width=\"50%\" height=\"20\" viewBox=\"0 0 5 2\">"
                                        "<line x1=\"100%\" y1=\"1\"/></svg>"));
    EXPECT_EQ(nested.vertices[0].x, 120.0);
    EXPECT_EQ(nested.vertices[0].y, 60.0);
}

TEST(CliSvgDocument, WhichElementIsTheMask) {
    const std::string doc = svg("",
                                "<defs><path id=\"kept\" d=\"M 1 1 L 2 2\"/></defs>"
                                "<metadata><foreign:path xmlns:foreign=\"urn:x\" d=\"M 9 9 L 8 8\"/></metadata>"
                                "<g id=\"layer\"><title>t</title><svg:rect xmlns:svg=\"http://www.w3.org/2000/svg\" "
                                "x=\"3\" width=\"1\" height=\"1\"/><circle r=\"2\"/></g>");
    EXPECT_EQ(read(doc).vertices[0].x, 3.0);           // definitions and foreign elements are passed over
    EXPECT_EQ(read(doc, "layer").vertices[0].x, 3.0);  // a group gives its first shape
    EXPECT_EQ(read(doc, "kept").vertices[0].x, 1.0);   // named, even inside definitions
}

TEST(CliSvgDocument, RefusalsNameWhatIsWrong) {
    const struct {
        std::string xml;
        const char* id;
        std::vector<const char*> message;
    } cases[] = {
        {"<svg><rect", "", {"not a well-formed XML document", "line 1"}},
        {"<html><path d=\"M 0 0 L 1 1\"/></html>", "", {"not an SVG document", "<html>"}},
        {svg("", "<defs><path id=\"a\" d=\"M 0 0 L 1 1\"/></defs><use href=\"#a\"/>"), "", {"no path", "<use>"}},
        {svg("", "<use id=\"u\" href=\"other.svg#a\"/>"), "u", {"<use id=\"u\">", "not followed"}},
        {svg("", "<path d=\"M 0 0 L 1 1\"/>"), "nope", {"no element with id \"nope\""}},
        {svg("", "<text id=\"t\">hi</text>"), "t", {"<text id=\"t\">", "neither"}},
        {svg("", "\n<path d=\"M 0 0 L 1 x\"/>"), "", {"line 2, <path>: d: SVG path data, offset 10", "number (y)"}},
        {svg("", "<path/>"), "", {"no d attribute"}},
        {svg("", "<path transform=\"translate(1 2) turn(3)\" d=\"M 0 0 L 1 1\"/>"), "",
         {"transform, offset 15: expected a transform"}},
        {svg("", "<path transform=\"scale(1 2 3)\" d=\"M 0 0 L 1 1\"/>"), "", {"scale at offset 0 takes 1 or 2"}},
        {svg("", "<path transform=\"translate(1,)\" d=\"M 0 0 L 1 1\"/>"), "", {"offset 12: expected a number"}},
        {svg("", "<path transform=\"skewX(90)\" d=\"M 0 0 L 1 1\"/>"), "", {"skewX", "right angle"}},
        {svg("", "<rect width=\"2em\" height=\"1\"/>"), "", {"width, offset 1: expected a unit"}},
        {svg("", "<rect width=\"-2\" height=\"1\"/>"), "", {"width is negative"}},
        {svg("", "<circle r=\"5%\"/>"), "", {"a percentage needs a viewBox"}},
        {svg("", "<polygon points=\"1 2 3\"/>"), "", {"points", "odd number"}},
        {svg("", "<polygon points=\" \"/>"), "", {"no points"}},
        {svg("viewBox=\"0 0 10\"", "<line/>"), "", {"viewBox", "4 numbers"}},
        {svg("viewBox=\"0 0 10 0\"", "<line/>"), "", {"viewBox", "positive"}},
        {svg("viewBox=\"0 0 1 1\" preserveAspectRatio=\"xMidYMid cut\"", "<line/>"), "",
         {"preserveAspectRatio, offset 9: expected meet or slice"}},
        {svg("", "<path transform=\"scale(1e300)\" d=\"M 0 0 L 1e300 1\"/>"), "", {"finite"}},
        // A DTD's entities are never expanded (nor any external one fetched).
        {"<!DOCTYPE svg [<!ENTITY d \"M 0 0 L 9 9\"><!ENTITY e SYSTEM \"/etc/passwd\">]>" +
             svg("", "<path d=\"&d;&e;\"/>"),
         "", {"offset 0: expected a move-to command", "found '&'"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xml);
        try {
            read_svg_document(c.xml, c.id);
            ADD_FAILURE() << "no error";
        } catch (const cli::SvgDocumentError& e) {
            for (const char* m : c.message) EXPECT_NE(std::string(e.what()).find(m), std::string::npos) << e.what();
        }
    }
}

TEST(CliSvgDocument, MarkupOrPathData) {
    EXPECT_TRUE(cli::looks_like_xml("\xef\xbb\xbf \n<?xml version=\"1.0\"?><svg/>"));
    EXPECT_TRUE(cli::looks_like_xml("<svg/>"));
    EXPECT_FALSE(cli::looks_like_xml("  M 0 0 L 1 1"));
    EXPECT_FALSE(cli::looks_like_xml(""));
}

}  // namespace
