// SVG documents from arbitrary bytes: either one outline whose numbers are
// all finite and whose size is bounded by the text, or an SvgDocumentError
// with a message. Nothing else may escape. An input whose first line starts
// with '#' names the element wanted (the rest is the document).
#include <cmath>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "masks/svg_document.h"
#include "fuzz/fuzz_support.h"

namespace trellis_fuzz::svg_document {
namespace {

constexpr std::string_view kName = "fuzz_svg_document";

// Path data makes at most four vertices a byte; a basic shape makes eight.
constexpr std::size_t kVerticesPerByte = 4;

}  // namespace

int fuzz_one(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string_view id;
    if (!text.empty() && text.front() == '#') {
        const std::size_t end = text.find('\n');
        id = text.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    cli::SvgPath path;
    try {
        path = cli::read_svg_document(text, id);
    } catch (const cli::SvgDocumentError& e) {
        trace("refused: %s", e.what());
        if (std::string_view(e.what()).empty()) fail(kName, "an error without a message");
        return 0;
    } catch (const std::exception& e) {
        fail(kName, std::string("escaped with something other than SvgDocumentError: ") + e.what());
    }
    const auto& vertices = path.outline.vertices;
    trace("%zu vertices, %s", vertices.size(), path.outline.closed ? "closed" : "open");
    if (vertices.empty()) fail(kName, "read without error into an outline with no vertex");
    if (vertices.size() > kVerticesPerByte * size + 8) {
        fail(kName, std::to_string(vertices.size()) + " vertices from " + std::to_string(size) + " bytes");
    }
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const cli::MaskVertex& v = vertices[i];
        for (double c : {v.x, v.y, v.in_x, v.in_y, v.out_x, v.out_y}) {
            if (!std::isfinite(c)) fail(kName, "vertex " + std::to_string(i) + " is not finite");
        }
    }
    return 0;
}

}  // namespace trellis_fuzz::svg_document
