// SVG documents, as drawing programs save them, turned into one mask outline.
#pragma once

#include <stdexcept>
#include <string_view>

#include "masks/svg_path.h"

namespace cli {

// Thrown for a document that is not well-formed XML or not SVG, that holds no
// usable shape, or whose shape has a malformed or unsupported attribute.
// what() names the line and the element; malformed path data keeps the
// offset within its "d" attribute.
class SvgDocumentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// True when `text` is markup rather than bare path data: after an optional
// byte-order mark and white space it starts with '<'.
bool looks_like_xml(std::string_view text);

// The outline of one shape of an SVG document, in the pixels of the root's
// viewport. Without `id` the shape is the first path or basic shape in
// document order outside definitions (defs, symbol, clipPath, mask, pattern,
// marker); with `id` it is the element of that id or, for a group, the first
// shape inside it. Basic shapes become their SVG 2 equivalent paths with the
// same start and direction: rect from (x, y) to the right (rounded: from
// (x + rx, y)), circle and ellipse from (cx + rx, cy) towards (cx, cy + ry) as
// four quarter arcs, each the cubic with handles kappa = 4/3·(√2 − 1) of its
// radii. The element's and its ancestors' transforms apply innermost first,
// then each <svg>'s viewport (x, y, width, height, viewBox and
// preserveAspectRatio; absolute units px, pt, pc, mm, cm, in at 96 px per
// inch). A root without width and height takes the viewBox's size, so one
// user unit is one pixel.
//
// Only the document itself is read: no DTD is processed and no entity it
// declares is expanded (only XML's own escapes are), and <use> is never
// followed (naming one with `id` is an error).
SvgPath read_svg_document(std::string_view xml, std::string_view id = {});

}  // namespace cli
