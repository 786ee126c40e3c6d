#include "footage/image_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <OpenImageIO/color.h>
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <OpenImageIO/strutil.h>
#include <zlib.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string_view>
#include <type_traits>
#include <utility>

#include "footage/image_support.h"

namespace cli {

using namespace image_detail;

// ---------------------------------------------------------------------------
// Colour
// ---------------------------------------------------------------------------

namespace {

// Loaded once: reading an OpenColorIO config is slow, and the library
// caches the processors it makes from it.
const OIIO::ColorConfig& color_config() {
    static OIIO::ColorConfig config;
    static std::once_flag once;
    std::call_once(once, [] { (void)config.geterror(); });  // no $OCIO is no error: the built-in spaces serve
    return config;
}

bool known_colorspace(const OIIO::ColorConfig& config, const std::string& name) {
    for (const auto& list : {config.getColorSpaceNames(), config.getRoles()}) {
        for (const std::string& n : list) {
            if (OIIO::Strutil::iequals(n, name)) return true;
        }
    }
    return false;
}

template <class Pixel>
void apply_rows(const OIIO::ColorProcessor& processor, Image& image) {
    auto& px = image.get<Pixel>();
    const auto width = static_cast<std::size_t>(image.width);
    if constexpr (std::is_same_v<Pixel, PF_PixelFloat>) {
        processor.apply(&px[0].red, image.width, image.height, 3, sizeof(float), sizeof(PF_PixelFloat),
                        static_cast<OIIO::stride_t>(width * sizeof(PF_PixelFloat)));
    } else {
        std::vector<float> row(width * 3);
        for (std::size_t y = 0; y < static_cast<std::size_t>(image.height); ++y) {
            Pixel* p = px.data() + y * width;
            for (std::size_t x = 0; x < width; ++x) {
                row[3 * x + 0] = encode_sample<float>(p[x].red);
                row[3 * x + 1] = encode_sample<float>(p[x].green);
                row[3 * x + 2] = encode_sample<float>(p[x].blue);
            }
            processor.apply(row.data(), image.width, 1, 3, sizeof(float), 3 * sizeof(float),
                            static_cast<OIIO::stride_t>(width * 3 * sizeof(float)));
            for (std::size_t x = 0; x < width; ++x) {
                using S = decltype(p[x].red);
                const auto back = [](float v) -> S {
                    if constexpr (std::is_same_v<S, A_u_short>) return sample::float_to_world(v);
                    else return sample::float_to_8(v);
                };
                p[x].red = back(row[3 * x + 0]);
                p[x].green = back(row[3 * x + 1]);
                p[x].blue = back(row[3 * x + 2]);
            }
        }
    }
}

}  // namespace

std::vector<std::string> colorspace_names() { return color_config().getColorSpaceNames(); }

void convert_colorspace(Image& image, const std::string& from, const std::string& to) {
    if (from == to) return;
    const OIIO::ColorConfig& config = color_config();
    for (const std::string* n : {&from, &to}) {
        if (!known_colorspace(config, *n)) throw ImageError("unknown colour space '" + escape_text(*n) + "'");
    }
    const OIIO::ColorProcessorHandle processor = config.createColorProcessor(from, to);
    if (!processor) {
        throw ImageError("no conversion from colour space '" + escape_text(from) + "' to '" + escape_text(to) +
                         "'");
    }
    if (processor->isNoOp()) return;
    check_image(image, "image");
    std::visit(
        [&](auto& px) {
            using Pixel = typename std::decay_t<decltype(px)>::value_type;
            apply_rows<Pixel>(*processor, image);
        },
        image.pixels);
}

}  // namespace cli
