#include "footage/image_io.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <utility>

#include "footage/image_support.h"

namespace cli {

namespace image_detail {

void check_size(int64_t width, int64_t height, const std::string& what) {
    if (width < 1 || height < 1) {
        throw ImageError(what + ": empty image (" + std::to_string(width) + "x" +
                         std::to_string(height) + ")");
    }
    if (!supported_size(width, height)) {
        throw ImageError(what + ": " + std::to_string(width) + "x" + std::to_string(height) +
                         " is larger than supported (at most " +
                         std::to_string(kMaxImageDimension) + " a side and " +
                         std::to_string(kMaxImagePixels) + " pixels)");
    }
}

std::size_t pixel_count(const Image& image) {
    return static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
}

void check_image(const Image& image, const std::string& what) {
    check_size(image.width, image.height, what);
    const std::size_t n = std::visit([](const auto& v) { return v.size(); }, image.pixels);
    if (n != pixel_count(image)) {
        throw ImageError(what + ": the image holds " + std::to_string(n) + " pixels, not " +
                         std::to_string(image.width) + "x" + std::to_string(image.height));
    }
}

float clamp_unit(float v) {
    if (!(v > 0.0f)) return 0.0f;  // also NaN
    return v < 1.0f ? v : 1.0f;
}

std::string errno_text(int err) { return std::strerror(err); }

}  // namespace image_detail

using namespace image_detail;

// ---------------------------------------------------------------------------
// Images and samples
// ---------------------------------------------------------------------------


Image make_image(int width, int height, Image::Depth depth) {
    check_size(width, height, "image");
    Image image;
    image.width = width;
    image.height = height;
    const std::size_t n = pixel_count(image);
    switch (depth) {
        case Image::k8:
            image.pixels = std::vector<PF_Pixel8>(n, PF_Pixel8{0, 0, 0, 0});
            break;
        case Image::k16:
            image.pixels = std::vector<PF_Pixel16>(n, PF_Pixel16{0, 0, 0, 0});
            break;
        case Image::kFloat:
            image.pixels = std::vector<PF_PixelFloat>(n, PF_PixelFloat{0, 0, 0, 0});
            break;
    }
    return image;
}

namespace sample {
uint8_t float_to_8(float v) { return static_cast<uint8_t>(clamp_unit(v) * 255.0f + 0.5f); }
A_u_short float_to_world(float v) {
    return static_cast<A_u_short>(clamp_unit(v) * 32768.0f + 0.5f);
}
uint16_t float_to_png16(float v) { return static_cast<uint16_t>(clamp_unit(v) * 65535.0f + 0.5f); }
}  // namespace sample

// ---------------------------------------------------------------------------
// Depth conversion
// ---------------------------------------------------------------------------

namespace {

template <class Dst, class Src, class F>
std::vector<Dst> map_pixels(const std::vector<Src>& src, F f) {
    std::vector<Dst> dst(src.size());
    for (std::size_t i = 0; i < src.size(); ++i) {
        dst[i] = Dst{f(src[i].alpha), f(src[i].red), f(src[i].green), f(src[i].blue)};
    }
    return dst;
}

}  // namespace

Image convert(const Image& image, Image::Depth depth) {
    Image out;
    out.width = image.width;
    out.height = image.height;
    if (image.depth() == depth) {
        out.pixels = image.pixels;
        return out;
    }
    switch (image.depth()) {
        case Image::k8: {
            const auto& src = image.get<PF_Pixel8>();
            if (depth == Image::k16) {
                out.pixels = map_pixels<PF_Pixel16>(src, sample::png8_to_world);
            } else {
                out.pixels = map_pixels<PF_PixelFloat>(src, sample::png8_to_float);
            }
            break;
        }
        case Image::k16: {
            const auto& src = image.get<PF_Pixel16>();
            if (depth == Image::k8) {
                out.pixels = map_pixels<PF_Pixel8>(src, sample::world_to_8);
            } else {
                out.pixels = map_pixels<PF_PixelFloat>(src, sample::world_to_float);
            }
            break;
        }
        case Image::kFloat: {
            const auto& src = image.get<PF_PixelFloat>();
            if (depth == Image::k8) {
                out.pixels = map_pixels<PF_Pixel8>(src, sample::float_to_8);
            } else {
                out.pixels = map_pixels<PF_Pixel16>(src, sample::float_to_world);
            }
            break;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// Downscale
// ---------------------------------------------------------------------------

namespace {

// For each output position along one axis, the source pixels it covers and
// how much of each. Positions are scaled to integers, so the overlaps are
// exact: source pixel i spans [i*num, (i+1)*num), output pixel o spans
// [o*den, (o+1)*den).
struct Taps {
    std::vector<int64_t> first;   // first source index per output
    std::vector<std::size_t> at;  // offset of the output's weights in `weight`
    std::vector<int64_t> weight;
    std::vector<int64_t> total;  // sum of the output's weights
};

Taps make_taps(int64_t n_src, int64_t n_dst, int64_t num, int64_t den) {
    Taps t;
    const int64_t end = n_src * num;
    for (int64_t o = 0; o < n_dst; ++o) {
        const int64_t lo = o * den;
        const int64_t hi = std::min((o + 1) * den, end);
        const int64_t i0 = lo / num;
        const int64_t i1 = (hi - 1) / num;
        t.first.push_back(i0);
        t.at.push_back(t.weight.size());
        int64_t sum = 0;
        for (int64_t i = i0; i <= i1; ++i) {
            const int64_t w = std::min((i + 1) * num, hi) - std::max(i * num, lo);
            t.weight.push_back(w);
            sum += w;
        }
        t.total.push_back(sum);
    }
    t.at.push_back(t.weight.size());
    return t;
}

template <class P>
auto store(double v) {
    if constexpr (std::is_same_v<P, PF_PixelFloat>) {
        return static_cast<float>(v);
    } else if constexpr (std::is_same_v<P, PF_Pixel8>) {
        return static_cast<A_u_char>(std::clamp(v + 0.5, 0.0, 255.0));
    } else {
        return static_cast<A_u_short>(std::clamp(v + 0.5, 0.0, 65535.0));
    }
}

template <class P>
void downsample_pixels(const std::vector<P>& src, int64_t sw, std::vector<P>& dst, int64_t dw,
                       int64_t dh, const Taps& tx, const Taps& ty) {
    // Per output row: weighted sums of premultiplied (a, a*r, a*g, a*b).
    std::vector<double> acc(static_cast<std::size_t>(dw) * 4);
    std::vector<double> row(static_cast<std::size_t>(dw) * 4);
    for (int64_t oy = 0; oy < dh; ++oy) {
        std::fill(acc.begin(), acc.end(), 0.0);
        for (std::size_t k = ty.at[oy]; k < ty.at[oy + 1]; ++k) {
            const int64_t y = ty.first[oy] + static_cast<int64_t>(k - ty.at[oy]);
            const double wy = static_cast<double>(ty.weight[k]);
            const P* line = src.data() + y * sw;
            for (int64_t ox = 0; ox < dw; ++ox) {
                double a = 0.0, r = 0.0, g = 0.0, b = 0.0;
                for (std::size_t j = tx.at[ox]; j < tx.at[ox + 1]; ++j) {
                    const P& p = line[tx.first[ox] + static_cast<int64_t>(j - tx.at[ox])];
                    const double w = static_cast<double>(tx.weight[j]);
                    const double pa = static_cast<double>(p.alpha);
                    a += w * pa;
                    r += w * pa * static_cast<double>(p.red);
                    g += w * pa * static_cast<double>(p.green);
                    b += w * pa * static_cast<double>(p.blue);
                }
                row[ox * 4 + 0] = a;
                row[ox * 4 + 1] = r;
                row[ox * 4 + 2] = g;
                row[ox * 4 + 3] = b;
            }
            for (std::size_t i = 0; i < acc.size(); ++i) acc[i] += wy * row[i];
        }
        for (int64_t ox = 0; ox < dw; ++ox) {
            const double* s = &acc[ox * 4];
            const double area = static_cast<double>(tx.total[ox]) * static_cast<double>(ty.total[oy]);
            P& out = dst[oy * dw + ox];
            out.alpha = store<P>(s[0] / area);
            if (s[0] != 0.0) {
                out.red = store<P>(s[1] / s[0]);
                out.green = store<P>(s[2] / s[0]);
                out.blue = store<P>(s[3] / s[0]);
            } else {
                out.red = out.green = out.blue = store<P>(0.0);
            }
        }
    }
}

}  // namespace

Image downsample(const Image& image, int64_t num, int64_t den) {
    check_image(image, "downsample");
    constexpr int64_t kMaxTerm = int64_t{1} << 24;
    if (num < 1 || den < 1 || num > kMaxTerm || den > kMaxTerm) {
        throw ImageError("downsample: factor " + std::to_string(num) + "/" + std::to_string(den) +
                         " is out of range");
    }
    if (num == den) return image;
    const int64_t w = std::max<int64_t>(1, (image.width * num + den - 1) / den);
    const int64_t h = std::max<int64_t>(1, (image.height * num + den - 1) / den);
    check_size(w, h, "downsample");
    Image out = make_image(static_cast<int>(w), static_cast<int>(h), image.depth());
    const Taps tx = make_taps(image.width, w, num, den);
    const Taps ty = make_taps(image.height, h, num, den);
    std::visit(
        [&](const auto& src) {
            using P = typename std::decay_t<decltype(src)>::value_type;
            downsample_pixels<P>(src, image.width, out.get<P>(), w, h, tx, ty);
        },
        image.pixels);
    return out;
}


// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

std::string lower_extension(std::string_view path) {
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string_view::npos || path[dot] != '.') return "";
    std::string ext(path.substr(dot + 1));
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string escape_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7f || b == '\\') {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace cli
