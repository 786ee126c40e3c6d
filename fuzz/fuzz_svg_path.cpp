// SVG path data from arbitrary bytes: either a mask outline whose numbers are
// all finite and whose size is bounded by the text, or an SvgPathError that
// points inside the text. Nothing else may escape.
#include <cmath>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "masks/svg_path.h"
#include "fuzz/fuzz_support.h"

namespace trellis_fuzz::svg_path {
namespace {

constexpr std::string_view kName = "fuzz_svg_path";

// An arc turns into at most four cubics; nothing else makes more than one
// vertex per command, and every command takes at least one byte.
constexpr std::size_t kVerticesPerByte = 4;

bool finite(const cli::MaskVertex& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.in_x) && std::isfinite(v.in_y) &&
           std::isfinite(v.out_x) && std::isfinite(v.out_y);
}

void check_outline(const cli::MaskOutline& outline, std::size_t size) {
    if (outline.vertices.empty()) {
        fail(kName, "parsed without error into an outline with no vertex");
    }
    if (outline.vertices.size() > kVerticesPerByte * size + 4) {
        fail(kName, std::to_string(outline.vertices.size()) + " vertices from " + std::to_string(size) + " bytes");
    }
    for (std::size_t i = 0; i < outline.vertices.size(); ++i) {
        if (!finite(outline.vertices[i])) {
            fail(kName, "vertex " + std::to_string(i) + " has a coordinate or tangent that is not finite");
        }
    }
}

}  // namespace

int fuzz_one(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    cli::SvgPath path;
    try {
        path = cli::parse_svg_path(text);
    } catch (const cli::SvgPathError& e) {
        trace("refused at %zu: %s", e.offset(), e.what());
        if (e.offset() > size) {
            fail(kName, "error offset " + std::to_string(e.offset()) + " past the end of " + std::to_string(size) +
                            " bytes");
        }
        if (std::string_view(e.what()).empty()) {
            fail(kName, "an error without a message");
        }
        return 0;
    } catch (const std::exception& e) {
        fail(kName, std::string("escaped with something other than SvgPathError: ") + e.what());
    }
    trace("%zu vertices, %s%s%s", path.outline.vertices.size(), path.outline.closed ? "closed" : "open",
          path.warning.empty() ? "" : "; ", path.warning.c_str());
    check_outline(path.outline, size);

    // The helpers keep the shape (a scale of 1 and a move by 0 change nothing).
    const cli::MaskOutline same = cli::translate(cli::scale(path.outline, 1.0, 1.0), 0.0, 0.0);
    if (same.vertices.size() != path.outline.vertices.size() || same.closed != path.outline.closed) {
        fail(kName, "scale/translate changed the number of vertices or closedness");
    }
    for (std::size_t i = 0; i < same.vertices.size(); ++i) {
        const cli::MaskVertex& a = same.vertices[i];
        const cli::MaskVertex& b = path.outline.vertices[i];
        if (a.x != b.x || a.y != b.y || a.in_x != b.in_x || a.in_y != b.in_y || a.out_x != b.out_x ||
            a.out_y != b.out_y) {
            fail(kName, "scale by 1 and translate by 0 moved vertex " + std::to_string(i));
        }
    }
    return 0;
}

}  // namespace trellis_fuzz::svg_path
