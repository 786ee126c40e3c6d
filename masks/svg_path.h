// SVG path data ("d" attribute syntax) turned into a mask outline.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "standalone/mask.h"

namespace cli {

// The outline is the host's own mask shape: tangents relative to the vertex,
// (in_x, in_y) pointing back to the second control point of the segment that
// ends here and (out_x, out_y) to the first control point of the segment that
// starts here; straight segments have zero tangents. A closed outline joins
// its last vertex to its first with one more segment; the first vertex is
// never repeated at the end.
using MaskVertex = standalone::MaskVertex;
using MaskOutline = standalone::MaskShape;

// Thrown for malformed path data. what() names the character offset and what
// was expected there; offset() gives the offset alone.
class SvgPathError : public std::runtime_error {
public:
    SvgPathError(std::size_t offset, const std::string& message);
    std::size_t offset() const { return offset_; }

private:
    std::size_t offset_;
};

struct SvgPath {
    MaskOutline outline;
    // Non-empty when the data held more than one subpath: only the first is
    // the mask, the others are ignored.
    std::string warning;
};

// Parses path data: M L H V C S Q T A Z, absolute and relative, with the SVG
// number grammar and implicit repeated commands. Quadratic segments become
// the exactly equal cubics; elliptical arcs become cubics of at most 90
// degrees each. Subpaths that draw nothing (a lone move-to) are skipped
// while another one draws; when none does, the first is the outline, a
// single vertex. At Z, a last vertex equal to the first (within 1e-9
// relative, so that relative coordinates may round) is merged into the
// first, handing it its in-tangent. Throws SvgPathError on malformed data
// or non-finite numbers or coordinates.
SvgPath parse_svg_path(std::string_view data);

// What an error message says was found at `at`: "'x'", "byte 0x01" or
// "the end of the data".
std::string found_at(std::string_view text, std::size_t at);

// SVG's white space: space, tab, CR, LF, FF.
bool is_svg_wsp(char c);

// One number of the SVG grammar starting exactly at *pos (no white space
// skipped). Only when it is `ok` are *pos moved past it and *value set.
enum class NumberScan { ok, none, not_finite };
NumberScan scan_svg_number(std::string_view text, std::size_t* pos, double* value);

// Multiplies every coordinate and tangent by (sx, sy), e.g. to fit the
// outline to a downsampled frame.
MaskOutline scale(const MaskOutline& outline, double sx, double sy);

// Moves every vertex by (dx, dy); tangents, being relative, stay as they are.
MaskOutline translate(const MaskOutline& outline, double dx, double dy);

}  // namespace cli
