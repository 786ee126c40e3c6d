#include "cli/image_io.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ImfAttribute.h>
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <OpenEXRConfig.h>
#include <Iex.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <type_traits>

namespace cli {

namespace {
constexpr int64_t kMaxExrAttributeBytes = int64_t{16} << 20;
}  // namespace

// ---------------------------------------------------------------------------
// Images and samples
// ---------------------------------------------------------------------------

namespace {

void check_size(int64_t width, int64_t height, const std::string& what) {
    if (width < 1 || height < 1) {
        throw ImageError(what + ": empty image (" + std::to_string(width) + "x" +
                         std::to_string(height) + ")");
    }
    if (width > kMaxImageDimension || height > kMaxImageDimension ||
        width * height > kMaxImagePixels) {
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

}  // namespace

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
// Reading
// ---------------------------------------------------------------------------

namespace {

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr unsigned char kExrSignature[4] = {0x76, 0x2f, 0x31, 0x01};

// Where the bytes come from: an open file or a block of memory. Plain data,
// as libpng's callbacks see it across longjmp.
struct Source {
    std::FILE* file;
    const unsigned char* data;
    std::size_t size;
    std::size_t pos;
    char message[256];
};

class FileCloser {
public:
    explicit FileCloser(std::FILE* f) : f_(f) {}
    ~FileCloser() {
        if (f_) std::fclose(f_);
    }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

private:
    std::FILE* f_;
};

// --- PNG -------------------------------------------------------------------

// libpng reports failures here and leaves by longjmp to the active setjmp.
void png_on_error(png_structp png, png_const_charp msg) {
    auto* src = static_cast<Source*>(png_get_error_ptr(png));
    std::snprintf(src->message, sizeof src->message, "%s", msg);
    png_longjmp(png, 1);
}

void png_on_warning(png_structp, png_const_charp) {}

void png_read_bytes(png_structp png, png_bytep out, std::size_t n) {
    auto* src = static_cast<Source*>(png_get_io_ptr(png));
    if (src->file) {
        if (std::fread(out, 1, n, src->file) != n) {
            png_error(png, std::ferror(src->file) ? "read error" : "the file is truncated");
        }
        return;
    }
    if (n > src->size - src->pos) png_error(png, "the data is truncated");
    std::memcpy(out, src->data + src->pos, n);
    src->pos += n;
}

struct PngHeader {
    png_uint_32 width;
    png_uint_32 height;
    int bit_depth;  // 8 or 16 once transformed
};

// The two functions that call setjmp hold no C++ objects with destructors:
// a longjmp out of libpng must not skip any.
bool png_read_header(png_structp png, png_infop info, PngHeader* header) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_user_limits(png, kMaxImageDimension, kMaxImageDimension);
    png_set_chunk_malloc_max(png, 8u << 20);  // ancillary chunks, e.g. compressed text
    png_read_info(png, info);
    const int bit_depth = png_get_bit_depth(png, info);
    const int colour = png_get_color_type(png, info);
    const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colour == PNG_COLOR_TYPE_GRAY && bit_depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (trns) png_set_tRNS_to_alpha(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
    }
    if ((colour & PNG_COLOR_MASK_ALPHA) || trns) {
        png_set_swap_alpha(png);  // RGBA to ARGB
    } else {
        png_set_add_alpha(png, 0xffff, PNG_FILLER_BEFORE);
    }
    if (bit_depth == 16 && std::endian::native == std::endian::little) png_set_swap(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    header->width = png_get_image_width(png, info);
    header->height = png_get_image_height(png, info);
    header->bit_depth = png_get_bit_depth(png, info);
    if ((header->bit_depth != 8 && header->bit_depth != 16) || png_get_channels(png, info) != 4) {
        png_error(png, "unsupported pixel layout");
    }
    return true;
}

bool png_read_rows(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

class PngReadStruct {
public:
    explicit PngReadStruct(Source* src) {
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, src, png_on_error, png_on_warning);
        if (png_) info_ = png_create_info_struct(png_);
    }
    ~PngReadStruct() {
        if (png_) png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr);
    }
    PngReadStruct(const PngReadStruct&) = delete;
    PngReadStruct& operator=(const PngReadStruct&) = delete;
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

Image read_png(Source& src, Image::Depth want, bool native, const std::string& name) {
    PngReadStruct s(&src);
    if (!s.png() || !s.info()) throw ImageError(name + ": out of memory");
    png_set_read_fn(s.png(), &src, png_read_bytes);
    PngHeader h{};
    if (!png_read_header(s.png(), s.info(), &h)) {
        throw ImageError(name + ": not a readable PNG file: " + src.message);
    }
    check_size(h.width, h.height, name);
    Image image;
    image.width = static_cast<int>(h.width);
    image.height = static_cast<int>(h.height);
    const std::size_t n = pixel_count(image);
    std::vector<png_bytep> rows(h.height);
    if (h.bit_depth == 8) {
        std::vector<PF_Pixel8> px(n);
        for (std::size_t y = 0; y < h.height; ++y) {
            rows[y] = reinterpret_cast<png_bytep>(px.data() + y * h.width);
        }
        if (!png_read_rows(s.png(), rows.data())) {
            throw ImageError(name + ": broken PNG data: " + src.message);
        }
        image.pixels = std::move(px);
        return native || want == Image::k8 ? image : convert(image, want);
    }
    std::vector<PF_Pixel16> px(n);
    for (std::size_t y = 0; y < h.height; ++y) {
        rows[y] = reinterpret_cast<png_bytep>(px.data() + y * h.width);
    }
    if (!png_read_rows(s.png(), rows.data())) {
        throw ImageError(name + ": broken PNG data: " + src.message);
    }
    if (native || want == Image::k16) {
        for (PF_Pixel16& p : px) {
            p = {sample::png16_to_world(p.alpha), sample::png16_to_world(p.red),
                 sample::png16_to_world(p.green), sample::png16_to_world(p.blue)};
        }
        image.pixels = std::move(px);
    } else if (want == Image::k8) {
        image.pixels = map_pixels<PF_Pixel8>(px, sample::png16_to_8);
    } else {
        image.pixels = map_pixels<PF_PixelFloat>(px, sample::png16_to_float);
    }
    return image;
}

// --- OpenEXR ---------------------------------------------------------------

class SourceIStream : public Imf::IStream {
public:
    SourceIStream(Source& src, const std::string& name) : Imf::IStream(name.c_str()), src_(src) {}

    bool read(char c[], int n) override {
        if (n < 0) throw Iex::InputExc("negative read size");
        const auto want = static_cast<std::size_t>(n);
        if (src_.file) {
            if (std::fread(c, 1, want, src_.file) != want) {
                throw Iex::InputExc(std::ferror(src_.file) ? "read error" : "unexpected end of file");
            }
            return true;
        }
        if (src_.pos > src_.size || want > src_.size - src_.pos) {
            throw Iex::InputExc("unexpected end of data");
        }
        std::memcpy(c, src_.data + src_.pos, want);
        src_.pos += want;
        return src_.pos < src_.size;
    }
    uint64_t tellg() override {
        if (!src_.file) return src_.pos;
        const off_t p = ftello(src_.file);
        if (p < 0) throw Iex::InputExc("cannot tell the file position");
        return static_cast<uint64_t>(p);
    }
    void seekg(uint64_t pos) override {
        if (!src_.file) {
            src_.pos = pos > src_.size ? src_.size + 1 : static_cast<std::size_t>(pos);
            return;
        }
        if (pos > static_cast<uint64_t>(INT64_MAX) || fseeko(src_.file, static_cast<off_t>(pos), SEEK_SET) != 0) {
            throw Iex::InputExc("cannot seek in the file");
        }
    }
    void clear() override {
        if (src_.file) std::clearerr(src_.file);
    }

private:
    Source& src_;
};

// The library's own size limits are process-wide settings: set them once,
// before any use of the library here, whatever thread comes first.
void set_exr_limits() {
    static std::once_flag once;
    std::call_once(once, [] {
        Imf::Header::setMaxImageSize(kMaxImageDimension, kMaxImageDimension);
        Imf::Header::setMaxTileSize(kMaxImageDimension, kMaxImageDimension);
    });
}

// Sequential reads over a Source for the header walk below.
class HeaderReader {
public:
    explicit HeaderReader(Source& src) : src_(src) {
        if (src_.file) {
            struct stat st {};
            if (fstat(fileno(src_.file), &st) == 0 && st.st_size > 0) {
                total_ = static_cast<uint64_t>(st.st_size);
            }
        } else {
            total_ = src_.size;
        }
    }
    uint64_t remaining() const { return total_ - pos_; }
    bool byte(unsigned char* c) { return bytes(c, 1); }
    bool bytes(unsigned char* out, std::size_t n) {
        if (n > remaining()) return false;
        if (n == 0) return true;  // out may be an empty buffer's null data()
        if (src_.file) {
            if (std::fread(out, 1, n, src_.file) != n) return false;
        } else {
            std::memcpy(out, src_.data + pos_, n);
        }
        pos_ += n;
        return true;
    }
    bool skip(uint64_t n) {
        if (n > remaining()) return false;
        if (src_.file && fseeko(src_.file, static_cast<off_t>(pos_ + n), SEEK_SET) != 0) return false;
        pos_ += n;
        return true;
    }
    void rewind() {
        if (src_.file) {
            if (fseeko(src_.file, 0, SEEK_SET) != 0) throw ImageError("cannot seek");
            std::clearerr(src_.file);
        }
        src_.pos = 0;
    }

private:
    Source& src_;
    uint64_t total_ = 0;
    uint64_t pos_ = 0;
};

// How the library reads the attribute types it knows: most by a fixed
// layout whatever size the file declares, a few by a layout of their own.
// A declared size that disagrees would put the library out of step with
// the attributes that follow.
enum class ExrValue { kFixed, kChannels, kString, kStrings, kPreview, kFloats, kManifest };

struct ExrAttributeType {
    std::string_view name;
    ExrValue value;
    uint32_t size;  // for kFixed
};

constexpr ExrAttributeType kExrAttributeTypes[] = {
    {"box2i", ExrValue::kFixed, 16},          {"box2f", ExrValue::kFixed, 16},
    {"v2i", ExrValue::kFixed, 8},             {"v2f", ExrValue::kFixed, 8},
    {"v2d", ExrValue::kFixed, 16},            {"v3i", ExrValue::kFixed, 12},
    {"v3f", ExrValue::kFixed, 12},            {"v3d", ExrValue::kFixed, 24},
    {"m33f", ExrValue::kFixed, 36},           {"m33d", ExrValue::kFixed, 72},
    {"m44f", ExrValue::kFixed, 64},           {"m44d", ExrValue::kFixed, 128},
    {"int", ExrValue::kFixed, 4},             {"float", ExrValue::kFixed, 4},
    {"double", ExrValue::kFixed, 8},          {"rational", ExrValue::kFixed, 8},
    {"compression", ExrValue::kFixed, 1},     {"lineOrder", ExrValue::kFixed, 1},
    {"envmap", ExrValue::kFixed, 1},          {"deepImageState", ExrValue::kFixed, 1},
    {"timecode", ExrValue::kFixed, 8},        {"keycode", ExrValue::kFixed, 28},
    {"tiledesc", ExrValue::kFixed, 9},        {"chromaticities", ExrValue::kFixed, 32},
    {"chlist", ExrValue::kChannels, 0},       {"string", ExrValue::kString, 0},
    {"stringvector", ExrValue::kStrings, 0},  {"preview", ExrValue::kPreview, 0},
    {"floatvector", ExrValue::kFloats, 0},    {"idmanifest", ExrValue::kManifest, 0},
};

int32_t le32(const unsigned char* p) {
    return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                                uint32_t{p[3]} << 24);
}

// Why a value of a variable layout does not fill exactly its declared
// size, or "" when it does.
std::string exr_value_fault(ExrValue kind, const std::vector<unsigned char>& v, std::size_t max_name) {
    const std::size_t n = v.size();
    switch (kind) {
        case ExrValue::kChannels: {
            // name, NUL, type (4), linear (1), reserved (3), x and y sampling (4 each);
            // an empty name closes the list.
            std::size_t at = 0;
            for (;;) {
                const auto* nul = at < n ? static_cast<const unsigned char*>(std::memchr(v.data() + at, 0, n - at))
                                         : nullptr;
                if (!nul) return "channel list without its end";
                const std::size_t len = static_cast<std::size_t>(nul - (v.data() + at));
                at += len + 1;
                if (len == 0) break;
                if (len > max_name) return "channel name too long";
                if (n - at < 16) return "channel list cut short";
                at += 16;
            }
            return at == n ? "" : "channel list shorter than its declared size";
        }
        case ExrValue::kStrings: {
            // Each string: its length (4), then its bytes.
            std::size_t at = 0;
            while (at < n) {
                if (n - at < 4) return "string list cut short";
                const int32_t len = le32(v.data() + at);
                at += 4;
                if (len < 0 || static_cast<std::size_t>(len) > n - at) return "string longer than its list";
                at += static_cast<std::size_t>(len);
            }
            return "";
        }
        case ExrValue::kPreview: {
            // Width and height (4 each), then 4 bytes a pixel.
            if (n < 8) return "preview image cut short";
            const int32_t w = le32(v.data());
            const int32_t h = le32(v.data() + 4);
            if (w < 0 || h < 0 || uint64_t{8} + uint64_t{4} * static_cast<uint64_t>(w) * static_cast<uint64_t>(h) != n) {
                return "preview image size does not match its pixels";
            }
            return "";
        }
        case ExrValue::kFloats:
            return n % 4 == 0 ? "" : "float list not a whole number of floats";
        case ExrValue::kFixed:
        case ExrValue::kManifest:
        case ExrValue::kString:
            break;
    }
    return "";
}

// The library allocates what a header's attribute sizes claim before it
// finds the input shorter: a damaged byte could cost gigabytes. Walk the
// header(s) first, reading each attribute as the library will, and refuse
// any whose declared size is out of step with its value or larger than
// what is left.
void check_exr_headers(Source& src, const std::string& name) {
    Imf::staticInitialize();
    HeaderReader in(src);
    const auto damaged = [&](const std::string& why) {
        return ImageError(name + ": damaged OpenEXR header: " + why);
    };
    unsigned char head[8];
    if (!in.bytes(head, sizeof head)) throw damaged("too short");
    const uint32_t flags = uint32_t{head[5]} | uint32_t{head[6]} << 8 | uint32_t{head[7]} << 16;
    const bool long_names = (flags & 0x4) != 0;  // version bit 10
    const bool deep = (flags & 0x8) != 0;        // version bit 11
    const bool multipart = (flags & 0x10) != 0;  // version bit 12
    if (deep && !multipart) throw ImageError(name + ": deep OpenEXR data is not supported");
    const std::size_t max_len = long_names ? 255 : 31;
    const auto text = [&](std::string& out) {
        out.clear();
        unsigned char c = 0;
        for (;;) {
            if (!in.byte(&c)) throw damaged("unexpected end");
            if (c == 0) return;
            if (out.size() == max_len) throw damaged("name too long");
            out.push_back(static_cast<char>(c));
        }
    };
    std::string attr, type;
    std::vector<unsigned char> value;
    for (int part = 0;; ++part) {  // headers
        bool first = true;
        for (;;) {  // attributes
            text(attr);
            if (attr.empty()) break;
            first = false;
            text(type);
            unsigned char s[4];
            if (!in.bytes(s, 4)) throw damaged("unexpected end");
            const int32_t size = le32(s);
            const std::string what = "attribute '" + attr + "' of type '" + type + "'";
            if (size < 0 || static_cast<uint64_t>(size) > in.remaining()) {
                throw damaged(what + " claims " + std::to_string(size) + " bytes, " +
                              std::to_string(in.remaining()) + " remain");
            }
            if (size > kMaxExrAttributeBytes) {
                throw ImageError(name + ": OpenEXR " + what + " is " + std::to_string(size) +
                                 " bytes, more than supported (" + std::to_string(kMaxExrAttributeBytes) + ")");
            }
            const auto known = std::find_if(std::begin(kExrAttributeTypes), std::end(kExrAttributeTypes),
                                            [&](const ExrAttributeType& t) { return t.name == type; });
            // Unknown types are kept as raw bytes by the library, unless it
            // knows a layout this walk does not.
            if (known == std::end(kExrAttributeTypes) && Imf::Attribute::knownType(type.c_str())) {
                throw ImageError(name + ": OpenEXR " + what + " is of an unsupported type");
            }
            if (known != std::end(kExrAttributeTypes) && known->value == ExrValue::kFixed &&
                static_cast<uint32_t>(size) != known->size) {
                throw damaged(what + " declares " + std::to_string(size) + " bytes, not " +
                              std::to_string(known->size));
            }
            if (known != std::end(kExrAttributeTypes) && known->value == ExrValue::kManifest) {
                // OpenEXR 3.1 reads an 8-byte count and then size - 4 bytes:
                // 4 bytes more than the declared size. Other versions may
                // differ, and a walk out of step checks nothing after it.
                if (OPENEXR_VERSION_MAJOR != 3 || OPENEXR_VERSION_MINOR != 1) {
                    throw ImageError(name + ": OpenEXR " + what + " is not supported");
                }
                if (size < 4) throw damaged(what + ": ID manifest cut short");
                if (!in.skip(static_cast<uint64_t>(size) + 4)) throw damaged(what + " reaches past the header");
                continue;
            }
            const bool part_type = part == 0 && attr == "type" && type == "string";
            const bool layout = known != std::end(kExrAttributeTypes) && known->value != ExrValue::kFixed &&
                                known->value != ExrValue::kString;
            if (!part_type && !layout) {
                if (!in.skip(static_cast<uint64_t>(size))) throw damaged("unexpected end");
                continue;
            }
            value.resize(static_cast<std::size_t>(size));
            if (!in.bytes(value.data(), value.size())) throw damaged("unexpected end");
            const std::string fault = exr_value_fault(known->value, value, max_len);
            if (!fault.empty()) throw damaged(what + ": " + fault);
            const std::string_view text_value(reinterpret_cast<const char*>(value.data()), value.size());
            if (part_type && (text_value == "deepscanline" || text_value == "deeptile")) {
                throw ImageError(name + ": deep OpenEXR data is not supported");
            }
        }
        // One header, or a list of them closed by an empty one.
        if (!multipart || first) break;
    }
    in.rewind();
}

uintptr_t slice_base(const float* first, int64_t min_x) {
    // The library addresses sample x at base + x * stride; keep the
    // arithmetic on integers, as the base lies outside the buffer.
    return reinterpret_cast<uintptr_t>(first) -
           static_cast<uintptr_t>(min_x * static_cast<int64_t>(sizeof(PF_PixelFloat)));
}

Image read_exr_float(Source& src, const std::string& name) {
    set_exr_limits();
    check_exr_headers(src, name);
    SourceIStream stream(src, name);
    Imf::InputFile file(stream);
    const Imf::Header& hdr = file.header();
    const Imath::Box2i disp = hdr.displayWindow();
    const Imath::Box2i data = hdr.dataWindow();
    const int64_t width = int64_t{disp.max.x} - disp.min.x + 1;
    const int64_t height = int64_t{disp.max.y} - disp.min.y + 1;
    check_size(width, height, name);
    const int64_t data_width = int64_t{data.max.x} - data.min.x + 1;
    if (data_width > kMaxImageDimension) {
        throw ImageError(name + ": data window " + std::to_string(data_width) +
                         " pixels wide is larger than supported");
    }
    const Imf::ChannelList& channels = hdr.channels();
    bool has[5] = {};
    const char* names[5] = {"R", "G", "B", "A", "Y"};
    for (int i = 0; i < 5; ++i) {
        const Imf::Channel* c = channels.findChannel(names[i]);
        if (!c) continue;
        if (c->xSampling != 1 || c->ySampling != 1) {
            throw ImageError(name + ": subsampled channel " + names[i] + " is not supported");
        }
        has[i] = true;
    }
    if (!has[0] && !has[1] && !has[2] && !has[3] && !has[4]) {
        throw ImageError(name + ": no R, G, B, A or Y channel");
    }
    const bool grey = has[4] && !has[0] && !has[1] && !has[2];

    Image image = make_image(static_cast<int>(width), static_cast<int>(height), Image::kFloat);
    const int64_t x0 = std::max<int64_t>(disp.min.x, data.min.x);
    const int64_t x1 = std::min<int64_t>(disp.max.x, data.max.x);
    const int64_t y0 = std::max<int64_t>(disp.min.y, data.min.y);
    const int64_t y1 = std::min<int64_t>(disp.max.y, data.max.y);
    if (x0 > x1 || y0 > y1) return image;

    // One data-window row at a time: all rows go to the same buffer (y
    // stride 0), so memory stays one row whatever the data window's height.
    std::vector<PF_PixelFloat> row(static_cast<std::size_t>(data_width));
    const std::size_t stride = sizeof(PF_PixelFloat);
    const auto slice = [&](float PF_PixelFloat::*field, double fill) {
        return Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(slice_base(&(row[0].*field), data.min.x)),
                          stride, 0, 1, 1, fill);
    };
    Imf::FrameBuffer fb;
    if (grey) {
        fb.insert("Y", slice(&PF_PixelFloat::red, 0.0));
    } else {
        fb.insert("R", slice(&PF_PixelFloat::red, 0.0));
        fb.insert("G", slice(&PF_PixelFloat::green, 0.0));
        fb.insert("B", slice(&PF_PixelFloat::blue, 0.0));
    }
    fb.insert("A", slice(&PF_PixelFloat::alpha, 1.0));
    file.setFrameBuffer(fb);
    auto& out = image.get<PF_PixelFloat>();
    for (int64_t y = y0; y <= y1; ++y) {
        file.readPixels(static_cast<int>(y));
        PF_PixelFloat* dst = out.data() + (y - disp.min.y) * width;
        for (int64_t x = x0; x <= x1; ++x) {
            PF_PixelFloat p = row[static_cast<std::size_t>(x - data.min.x)];
            if (grey) p.green = p.blue = p.red;
            if (p.alpha > 0.0f) {
                p.red /= p.alpha;
                p.green /= p.alpha;
                p.blue /= p.alpha;
            } else {
                p.red = p.green = p.blue = 0.0f;
            }
            dst[x - disp.min.x] = p;
        }
    }
    return image;
}

Image read_exr(Source& src, Image::Depth want, const std::string& name) {
    try {
        Image image = read_exr_float(src, name);
        return want == Image::kFloat ? image : convert(image, want);
    } catch (const ImageError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw ImageError(name + ": out of memory");
    } catch (const std::exception& e) {
        throw ImageError(name + ": not a readable OpenEXR file: " + e.what());
    }
}

// --- Format dispatch -------------------------------------------------------

enum class Format { kPng, kExr };

Format detect(const unsigned char* head, std::size_t n, const std::string& name) {
    if (n >= sizeof kPngSignature && std::memcmp(head, kPngSignature, sizeof kPngSignature) == 0) {
        return Format::kPng;
    }
    if (n >= sizeof kExrSignature && std::memcmp(head, kExrSignature, sizeof kExrSignature) == 0) {
        return Format::kExr;
    }
    throw ImageError(name + (n == 0 ? ": the file is empty" : ": neither a PNG nor an OpenEXR file"));
}

Image read_source(Source& src, Format format, Image::Depth want, bool native,
                  const std::string& name) {
    if (format == Format::kPng) return read_png(src, want, native, name);
    return read_exr(src, native ? Image::kFloat : want, name);
}

Image read_file(const std::string& path, Image::Depth want, bool native) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw ImageError(path + ": cannot open: " + errno_text(errno));
    FileCloser closer(f);
    struct stat st {};
    if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        throw ImageError(path + ": is a directory");
    }
    unsigned char head[8] = {};
    const std::size_t n = std::fread(head, 1, sizeof head, f);
    if (std::ferror(f)) throw ImageError(path + ": read error");
    const Format format = detect(head, n, path);
    if (fseeko(f, 0, SEEK_SET) != 0) throw ImageError(path + ": cannot seek: " + errno_text(errno));
    Source src{f, nullptr, 0, 0, {}};
    return read_source(src, format, want, native, path);
}

Image read_memory(const void* data, std::size_t size, Image::Depth want, bool native,
                  const std::string& name) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    const Format format = detect(bytes, size, name);
    Source src{nullptr, bytes, size, 0, {}};
    return read_source(src, format, want, native, name);
}

}  // namespace

Image read_image(const std::string& path) { return read_file(path, Image::k8, true); }
Image read_image(const std::string& path, Image::Depth depth) {
    return read_file(path, depth, false);
}
Image read_image_memory(const void* data, std::size_t size, const std::string& name) {
    return read_memory(data, size, Image::k8, true, name);
}
Image read_image_memory(const void* data, std::size_t size, Image::Depth depth,
                        const std::string& name) {
    return read_memory(data, size, depth, false, name);
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

namespace {

// A new file beside the target, renamed over it by commit(); removed if
// commit() is never reached. A symbolic link to a file is followed, so the
// link stays; anything but a regular file in the way is refused rather than
// replaced.
class AtomicFile {
public:
    explicit AtomicFile(const std::string& path) : target_(path) {
        struct stat st {};
        const bool exists = ::stat(path.c_str(), &st) == 0;
        if (exists && !S_ISREG(st.st_mode)) throw ImageError(path + ": exists and is not a regular file");
        struct stat lst {};
        if (exists && ::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
            char* real = ::realpath(path.c_str(), nullptr);
            if (!real) throw ImageError(path + ": cannot resolve: " + errno_text(errno));
            target_ = real;
            std::free(real);
        }
        const std::string& target = target_;
        const std::size_t slash = target.find_last_of('/');
        const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        if (base.empty()) throw ImageError(target + ": not a file name");
        std::random_device rd;
        for (int attempt = 0; attempt < 100; ++attempt) {
            char suffix[32];
            std::snprintf(suffix, sizeof suffix, ".tmp%08x", static_cast<unsigned>(rd()));
            temp_ = dir + "." + base + suffix;
            // 0666 before the umask, as for any new file.
            const int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                if (exists) (void)::fchmod(fd, st.st_mode & 07777);  // keep the old file's mode
                file_ = ::fdopen(fd, "wb");
                if (!file_) {
                    const int err = errno;
                    ::close(fd);
                    ::unlink(temp_.c_str());
                    throw ImageError(target + ": cannot write: " + errno_text(err));
                }
                return;
            }
            if (errno != EEXIST) {
                throw ImageError(target + ": cannot create a file beside it: " + errno_text(errno));
            }
        }
        throw ImageError(target + ": cannot create a temporary file beside it");
    }

    ~AtomicFile() {
        if (file_) std::fclose(file_);
        if (!committed_) ::unlink(temp_.c_str());
    }

    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    std::FILE* stream() const { return file_; }

    void commit() {
        std::FILE* f = file_;
        file_ = nullptr;
        const bool flushed = std::fflush(f) == 0 && !std::ferror(f);
        int err = errno;
        const bool synced = flushed && ::fsync(fileno(f)) == 0;
        if (flushed && !synced) err = errno;
        const bool closed = std::fclose(f) == 0;
        if (flushed && synced && !closed) err = errno;
        if (!flushed || !synced || !closed) {
            throw ImageError(target_ + ": write failed: " + errno_text(err));
        }
        if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
            throw ImageError(target_ + ": cannot replace: " + errno_text(errno));
        }
        committed_ = true;
    }

private:
    std::string target_;
    std::string temp_;
    std::FILE* file_ = nullptr;
    bool committed_ = false;
};

// --- PNG -------------------------------------------------------------------

struct PngSink {
    std::FILE* file;
    char message[256];
};

void png_sink_error(png_structp png, png_const_charp msg) {
    auto* sink = static_cast<PngSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", msg);
    png_longjmp(png, 1);
}

void png_write_bytes(png_structp png, png_bytep data, std::size_t n) {
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, n, sink->file) != n) png_error(png, std::strerror(errno));
}

void png_flush_bytes(png_structp) {}

// Row y in the file's layout: ARGB, 8-bit samples or native 16-bit ones.
void png_fill_row(const Image& image, int y, uint16_t* dst) {
    const std::size_t w = static_cast<std::size_t>(image.width);
    if (image.depth() == Image::k16) {
        const PF_Pixel16* src = image.get<PF_Pixel16>().data() + y * w;
        for (std::size_t x = 0; x < w; ++x) {
            dst[4 * x + 0] = sample::world_to_png16(src[x].alpha);
            dst[4 * x + 1] = sample::world_to_png16(src[x].red);
            dst[4 * x + 2] = sample::world_to_png16(src[x].green);
            dst[4 * x + 3] = sample::world_to_png16(src[x].blue);
        }
    } else if (image.depth() == Image::kFloat) {
        const PF_PixelFloat* src = image.get<PF_PixelFloat>().data() + y * w;
        for (std::size_t x = 0; x < w; ++x) {
            dst[4 * x + 0] = sample::float_to_png16(src[x].alpha);
            dst[4 * x + 1] = sample::float_to_png16(src[x].red);
            dst[4 * x + 2] = sample::float_to_png16(src[x].green);
            dst[4 * x + 3] = sample::float_to_png16(src[x].blue);
        }
    } else {
        std::memcpy(dst, image.get<PF_Pixel8>().data() + y * w, w * sizeof(PF_Pixel8));
    }
}

// Holds no C++ objects with destructors: libpng leaves by longjmp.
bool png_write_all(png_structp png, png_infop info, const Image* image, uint16_t* row) {
    if (setjmp(png_jmpbuf(png))) return false;
    const bool wide = image->depth() != Image::k8;
    png_set_user_limits(png, kMaxImageDimension, kMaxImageDimension);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image->width),
                 static_cast<png_uint_32>(image->height), wide ? 16 : 8, PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_swap_alpha(png);  // ARGB in memory, RGBA in the file
    if (wide && std::endian::native == std::endian::little) png_set_swap(png);
    for (int y = 0; y < image->height; ++y) {
        png_fill_row(*image, y, row);
        png_write_row(png, reinterpret_cast<png_const_bytep>(row));
    }
    png_write_end(png, info);
    return true;
}

class PngWriteStruct {
public:
    explicit PngWriteStruct(PngSink* sink) {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, sink, png_sink_error, png_on_warning);
        if (png_) info_ = png_create_info_struct(png_);
    }
    ~PngWriteStruct() {
        if (png_) png_destroy_write_struct(&png_, info_ ? &info_ : nullptr);
    }
    PngWriteStruct(const PngWriteStruct&) = delete;
    PngWriteStruct& operator=(const PngWriteStruct&) = delete;
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

// --- OpenEXR ---------------------------------------------------------------

// Writes through stdio and remembers a failure, as the library's
// destructor swallows errors from its last writes.
class FileOStream : public Imf::OStream {
public:
    FileOStream(std::FILE* f, const std::string& name) : Imf::OStream(name.c_str()), f_(f) {}

    void write(const char c[], int n) override {
        if (n < 0 || std::fwrite(c, 1, static_cast<std::size_t>(n), f_) != static_cast<std::size_t>(n)) {
            fail("write failed");
        }
    }
    uint64_t tellp() override {
        const off_t p = ftello(f_);
        if (p < 0) fail("cannot tell the file position");
        return static_cast<uint64_t>(p);
    }
    void seekp(uint64_t pos) override {
        if (pos > static_cast<uint64_t>(INT64_MAX) || fseeko(f_, static_cast<off_t>(pos), SEEK_SET) != 0) {
            fail("cannot seek in the file");
        }
    }
    bool failed() const { return failed_; }
    const std::string& error() const { return error_; }

private:
    [[noreturn]] void fail(const char* what) {
        if (!failed_) error_ = std::string(what) + ": " + errno_text(errno);
        failed_ = true;
        throw Iex::IoExc(error_);
    }

    std::FILE* f_;
    bool failed_ = false;
    std::string error_;
};

Imf::Compression exr_compression(ExrCompression c) {
    switch (c) {
        case ExrCompression::kNone:
            return Imf::NO_COMPRESSION;
        case ExrCompression::kPiz:
            return Imf::PIZ_COMPRESSION;
        case ExrCompression::kRle:
            return Imf::RLE_COMPRESSION;
        case ExrCompression::kZips:
            return Imf::ZIPS_COMPRESSION;
        case ExrCompression::kDwaa:
            return Imf::DWAA_COMPRESSION;
        case ExrCompression::kDwab:
            return Imf::DWAB_COMPRESSION;
        case ExrCompression::kZip:
            break;
    }
    return Imf::ZIP_COMPRESSION;
}

template <class P>
void exr_fill_row(const std::vector<P>& src, std::size_t at, std::vector<PF_PixelFloat>& row) {
    for (std::size_t x = 0; x < row.size(); ++x) {
        const P& p = src[at + x];
        PF_PixelFloat f;
        if constexpr (std::is_same_v<P, PF_PixelFloat>) {
            f = p;
        } else if constexpr (std::is_same_v<P, PF_Pixel16>) {
            f = {sample::world_to_float(p.alpha), sample::world_to_float(p.red),
                 sample::world_to_float(p.green), sample::world_to_float(p.blue)};
        } else {
            f = {sample::png8_to_float(p.alpha), sample::png8_to_float(p.red),
                 sample::png8_to_float(p.green), sample::png8_to_float(p.blue)};
        }
        row[x] = PF_PixelFloat{f.alpha, f.red * f.alpha, f.green * f.alpha, f.blue * f.alpha};
    }
}

void write_png(const std::string& path, const Image& image) {
    check_image(image, path);
    std::vector<uint16_t> row(static_cast<std::size_t>(image.width) * 4);
    AtomicFile out(path);
    PngSink sink{out.stream(), {}};
    PngWriteStruct s(&sink);
    if (!s.png() || !s.info()) throw ImageError(path + ": out of memory");
    png_set_write_fn(s.png(), &sink, png_write_bytes, png_flush_bytes);
    if (!png_write_all(s.png(), s.info(), &image, row.data())) {
        throw ImageError(path + ": PNG write failed: " + sink.message);
    }
    out.commit();
}

void write_exr(const std::string& path, const Image& image, ExrCompression compression) {
    check_image(image, path);
    set_exr_limits();
    AtomicFile out(path);
    FileOStream stream(out.stream(), path);
    try {
        Imf::Header hdr(image.width, image.height);
        hdr.compression() = exr_compression(compression);
        for (const char* c : {"R", "G", "B", "A"}) hdr.channels().insert(c, Imf::Channel(Imf::FLOAT));
        Imf::OutputFile file(stream, hdr);
        std::vector<PF_PixelFloat> row(static_cast<std::size_t>(image.width));
        const std::size_t stride = sizeof(PF_PixelFloat);
        Imf::FrameBuffer fb;
        fb.insert("R", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(&row[0].red), stride, 0));
        fb.insert("G", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(&row[0].green), stride, 0));
        fb.insert("B", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(&row[0].blue), stride, 0));
        fb.insert("A", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(&row[0].alpha), stride, 0));
        file.setFrameBuffer(fb);
        for (int y = 0; y < image.height; ++y) {
            const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width);
            std::visit([&](const auto& px) { exr_fill_row(px, at, row); }, image.pixels);
            file.writePixels(1);
        }
    } catch (const std::bad_alloc&) {
        throw ImageError(path + ": out of memory");
    } catch (const std::exception& e) {
        throw ImageError(path + ": OpenEXR write failed: " + e.what());
    }
    if (stream.failed()) throw ImageError(path + ": OpenEXR write failed: " + stream.error());
    out.commit();
}

}  // namespace

ExrCompression parse_exr_compression(std::string_view text) {
    if (text == "none") return ExrCompression::kNone;
    if (text == "rle") return ExrCompression::kRle;
    if (text == "zip") return ExrCompression::kZip;
    if (text == "zips") return ExrCompression::kZips;
    if (text == "piz") return ExrCompression::kPiz;
    if (text == "dwaa") return ExrCompression::kDwaa;
    if (text == "dwab") return ExrCompression::kDwab;
    throw ImageError("EXR compression '" + escape_text(text) +
                     "': expected none, rle, zip, zips, piz, dwaa or dwab");
}

ExrType parse_exr_type(std::string_view text) {
    if (text == "float") return ExrType::kFloat;
    if (text == "half") return ExrType::kHalf;
    throw ImageError("EXR type '" + escape_text(text) + "': expected float or half");
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

bool is_image_extension(std::string_view path) {
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string_view::npos || path[dot] != '.') return false;
    std::string ext(path.substr(dot + 1));
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "exr" || ext == "png" || ext == "tif" || ext == "tiff" || ext == "dpx" ||
           ext == "jpg" || ext == "jpeg";
}

void write_image(const std::string& path, const Image& image, const WriteOptions& options) {
    if (!is_image_extension(path)) throw ImageError(escape_text(path) + ": unknown image type");
    const std::string ext = path.substr(path.find_last_of('.') + 1);
    if (ext == "exr" || ext == "EXR") return write_exr(path, image, options.exr_compression);
    if (ext == "png" || ext == "PNG") return write_png(path, image);
    throw ImageError(escape_text(path) + ": not written yet");
}

std::vector<std::string> colorspace_names() { return {"linear", "sRGB"}; }

void convert_colorspace(Image& image, const std::string& from, const std::string& to) {
    (void)image;
    if (from == to) return;
    throw ImageError("colour space conversion " + escape_text(from) + " to " + escape_text(to) +
                     " is not available yet");
}

}  // namespace cli
