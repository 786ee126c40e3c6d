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

namespace image_detail {

// A library's message, one line, escaped; trailing newlines dropped.
std::string library_text(std::string message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    return escape_text(message.empty() ? "unknown error" : message);
}

// The library's process-wide settings, made once before its first use here.
// Frames are read in parallel by the renderer, so each read stays on its
// caller's thread. A converting read buffers at least `read_chunk` rows
// (256 by default) whatever it is asked for: a wide data window then costs
// gigabytes, so it buffers what fits in its 64 MB chunk instead.
void init_library() {
    static std::once_flag once;
    std::call_once(once, [] {
        OIIO::attribute("openexr:core", 1);
        OIIO::attribute("threads", 1);
        OIIO::attribute("read_chunk", 1);
    });
}

}  // namespace image_detail

using namespace image_detail;

namespace {

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

// The format a file's first bytes name, "" when none of these: the reader
// then is the library's own choice (by extension, then every reader).
std::string sniff_format(const unsigned char* p, std::size_t n) {
    const auto starts = [&](std::string_view magic) {
        return n >= magic.size() && std::memcmp(p, magic.data(), magic.size()) == 0;
    };
    using namespace std::string_view_literals;
    if (starts("\x89PNG\r\n\x1a\n"sv)) return "png";
    if (starts("\x76\x2f\x31\x01"sv)) return "openexr";
    if (starts("II*\0"sv) || starts("MM\0*"sv) || starts("II+\0"sv) || starts("MM\0+"sv)) return "tiff";
    if (starts("SDPX"sv) || starts("XPDS"sv)) return "dpx";
    if (starts("\xff\xd8\xff"sv)) return "jpeg";
    if (starts("#?RADIANCE"sv) || starts("#?RGBE"sv)) return "hdr";
    if (n >= 12 && starts("RIFF"sv) && std::memcmp(p + 8, "WEBP", 4) == 0) return "webp";
    return "";
}

uint32_t be32(const unsigned char* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// libpng prints every error it meets on stderr besides reporting it, which
// would add a raw line to the one error message a bad file gets. Damage
// (truncation, flipped bytes) shows in the chunk layout and checksums, so
// those are checked here and such files never reach it.
void check_png_chunks(const unsigned char* data, std::size_t size, const std::string& name) {
    std::size_t at = 8;
    bool first = true;
    while (at < size) {
        if (size - at < 12) throw ImageError(name + ": truncated PNG file");
        const uint32_t length = be32(data + at);
        const unsigned char* type = data + at + 4;
        if (length > 0x7fffffffu || length > size - at - 12) throw ImageError(name + ": truncated PNG file");
        for (int i = 0; i < 4; ++i) {
            if (!std::isalpha(type[i])) throw ImageError(name + ": damaged PNG file (a chunk type is not letters)");
        }
        if (first && (std::memcmp(type, "IHDR", 4) != 0 || length < 8)) {
            throw ImageError(name + ": damaged PNG file (no IHDR first)");
        }
        if (first) check_size(be32(type + 4), be32(type + 8), name);
        const auto crc = static_cast<uint32_t>(crc32(0, type, static_cast<uInt>(length + 4)));
        if (crc != be32(type + 4 + length)) {
            throw ImageError(name + ": damaged PNG file (checksum of chunk " + escape_text({reinterpret_cast<const char*>(type), 4}) +
                             " at byte " + std::to_string(at) + ")");
        }
        if (std::memcmp(type, "IEND", 4) == 0) return;
        at += 12 + length;
        first = false;
    }
    throw ImageError(name + ": truncated PNG file (no IEND)");
}

// OpenEXR's newer reader fills in what a header lacks and divides by zero
// on some of what it then makes up (a "tiles" attribute in a scanline file,
// a window of the wrong type). The header's attribute names and types are
// checked here against the format's rules first; values are the library's.
constexpr std::size_t kMaxExrHeaderBytes = std::size_t{16} << 20;
// Tiles of the full-resolution level: 2^22 keep the offset tables of all
// levels within a few hundred megabytes.
constexpr int64_t kMaxExrTiles = int64_t{1} << 22;
// Pixels of one tile (a 2048 x 2048 tile is 2^22).
constexpr int64_t kMaxExrTilePixels = int64_t{1} << 22;

struct ExrHeaderCut {};  // the bytes end inside the header

int32_t exr_i32(const unsigned char* p) {
    return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
}

// The size of an attribute of a fixed-size type, -1 for the others.
int exr_type_size(std::string_view type) {
    static constexpr std::pair<std::string_view, int> kSizes[] = {
        {"box2i", 16},         {"box2f", 16},  {"v2i", 8},          {"v2f", 8},      {"v2d", 16},
        {"v3i", 12},           {"v3f", 12},    {"v3d", 24},         {"int", 4},      {"float", 4},
        {"double", 8},         {"rational", 8}, {"timecode", 8},    {"keycode", 28}, {"chromaticities", 32},
        {"m33f", 36},          {"m33d", 72},   {"m44f", 64},        {"m44d", 128},   {"compression", 1},
        {"lineOrder", 1},      {"envmap", 1},  {"deepImageState", 1}, {"tiledesc", 9}};
    for (const auto& [name, bytes] : kSizes) {
        if (name == type) return bytes;
    }
    return -1;
}

// Each channel: a name, then pixel type, linear flag, 3 reserved bytes and
// the x and y sampling; an empty name ends the list. The library allocates by
// the sampling, so a damaged one is refused here.
template <class Bad>
void check_exr_channels(const unsigned char* p, std::size_t n, const Bad& bad) {
    std::size_t at = 0;
    for (;;) {
        const void* end = at < n ? std::memchr(p + at, 0, n - at) : nullptr;
        if (end == nullptr) throw bad("channel list without its end");
        const std::size_t name_end = static_cast<std::size_t>(static_cast<const unsigned char*>(end) - p);
        if (name_end == at) return;
        at = name_end + 1;
        if (n - at < 16) throw bad("channel list cut short");
        const int32_t type = exr_i32(p + at), xs = exr_i32(p + at + 8), ys = exr_i32(p + at + 12);
        if (type < 0 || type > 2 || xs < 1 || ys < 1 || xs > kMaxImageDimension || ys > kMaxImageDimension) {
            throw bad("channel of type " + std::to_string(type) + " sampled " + std::to_string(xs) + "x" +
                      std::to_string(ys));
        }
        at += 16;
    }
}

void walk_exr_header(const unsigned char* data, std::size_t size, const std::string& name) {
    const auto bad = [&](const std::string& why) { return ImageError(name + ": damaged OpenEXR header (" + why + ")"); };
    if (size < 8) throw ExrHeaderCut{};
    const unsigned flags = data[5];
    const bool tiled = flags & 0x02, deep = flags & 0x08, multipart = flags & 0x10;
    struct Required {
        const char* name;
        const char* type;
        bool seen;
    } required[] = {{"channels", "chlist", false},         {"compression", "compression", false},
                    {"dataWindow", "box2i", false},        {"displayWindow", "box2i", false},
                    {"lineOrder", "lineOrder", false},     {"pixelAspectRatio", "float", false},
                    {"screenWindowCenter", "v2f", false},  {"screenWindowWidth", "float", false},
                    {"tiles", "tiledesc", false}};
    std::vector<std::string> names;
    const unsigned char* window = nullptr;
    const unsigned char* tile_desc = nullptr;
    std::size_t at = 8;
    const auto text = [&]() {
        const void* end = std::memchr(data + at, 0, size - at);
        if (!end) throw ExrHeaderCut{};
        std::string t(reinterpret_cast<const char*>(data + at), static_cast<const unsigned char*>(end) - (data + at));
        at += t.size() + 1;
        return t;
    };
    for (;;) {
        if (at >= size) throw ExrHeaderCut{};
        const std::string attr = text();
        if (attr.empty()) break;
        const std::string type = text();
        if (size - at < 4) throw ExrHeaderCut{};
        const int64_t length = exr_i32(data + at);
        at += 4;
        if (length < 0) throw bad("attribute " + escape_text(attr) + " of negative size");
        if (static_cast<uint64_t>(length) > size - at) throw ExrHeaderCut{};
        // The library reads every attribute of a type it knows by that type,
        // whatever its name.
        const int fixed = exr_type_size(type);
        if (fixed >= 0 && length != fixed) {
            throw bad("attribute " + escape_text(attr) + " of type " + escape_text(type) + " and size " +
                      std::to_string(length));
        }
        if (type == "chlist") check_exr_channels(data + at, static_cast<std::size_t>(length), bad);
        if (attr == "dataWindow" && type == "box2i") window = data + at;
        if (attr == "tiles" && type == "tiledesc") tile_desc = data + at;
        at += static_cast<std::size_t>(length);
        if (std::find(names.begin(), names.end(), attr) != names.end()) throw bad("attribute " + escape_text(attr) + " twice");
        names.push_back(attr);
        for (Required& r : required) {
            if (attr != r.name) continue;
            if (type != r.type) {
                throw bad("attribute " + escape_text(attr) + " of type " + escape_text(type));
            }
            r.seen = true;
        }
    }
    for (const Required& r : required) {
        const bool tiles = std::strcmp(r.name, "tiles") == 0;
        if (!tiles && !r.seen) throw bad(std::string("no ") + r.name);
        // Parts and deep data say whether they are tiled by a "type" attribute.
        if (tiles && !multipart && !deep && r.seen != tiled) throw bad(tiled ? "tiled without tiles" : "tiles in a scanline file");
    }
    // The library sizes its table of chunk offsets from the window and the
    // tiles when it opens the file: sizes past the limits, or tiles so small
    // that the table alone would take gigabytes, are refused first.
    const int64_t width = int64_t{exr_i32(window + 8)} - exr_i32(window) + 1;
    const int64_t height = int64_t{exr_i32(window + 12)} - exr_i32(window + 4) + 1;
    if (width < 1 || height < 1) throw bad("empty data window");
    if (!supported_size(width, height)) {
        throw ImageError(name + ": data window of " + std::to_string(width) + "x" + std::to_string(height) +
                         " is larger than supported");
    }
    if (tile_desc != nullptr) {
        const int64_t tw = static_cast<uint32_t>(exr_i32(tile_desc)), th = static_cast<uint32_t>(exr_i32(tile_desc + 4));
        if (tw < 1 || th < 1) throw bad("empty tiles");
        // Readers hold whole tiles, however small the image.
        if (tw > kMaxExrTilePixels || th > kMaxExrTilePixels || tw * th > kMaxExrTilePixels) {
            throw ImageError(name + ": tiles of " + std::to_string(tw) + "x" + std::to_string(th) +
                             " are larger than supported");
        }
        if (((width + tw - 1) / tw) * ((height + th - 1) / th) > kMaxExrTiles) {
            throw ImageError(name + ": tiles of " + std::to_string(tw) + "x" + std::to_string(th) + " for " +
                             std::to_string(width) + "x" + std::to_string(height) + " pixels are more than supported");
        }
    }
}

// `data` is the file's first bytes, `whole` when that is all of it; false
// when more are needed to see the header's end.
bool check_exr_header(const unsigned char* data, std::size_t size, bool whole, const std::string& name) {
    try {
        walk_exr_header(data, size, name);
        return true;
    } catch (const ExrHeaderCut&) {
        if (whole || size >= kMaxExrHeaderBytes) throw ImageError(name + ": truncated OpenEXR header");
        return false;
    }
}

// The library's DPX reader allocates the user data size the header states
// before it looks at the file: a damaged size costs gigabytes.
void check_dpx_header(const unsigned char* head, std::size_t n, uint64_t file_size, const std::string& name) {
    if (n < 36) throw ImageError(name + ": truncated DPX file");
    const bool big = head[0] == 'S';
    const auto at = [&](std::size_t i) {
        return big ? be32(head + i)
                   : uint32_t{head[i]} | uint32_t{head[i + 1]} << 8 | uint32_t{head[i + 2]} << 16 | uint32_t{head[i + 3]} << 24;
    };
    if (at(32) > file_size) {
        throw ImageError(name + ": damaged DPX header (user data of " + std::to_string(at(32)) + " bytes in a file of " +
                         std::to_string(file_size) + ")");
    }
    // The reader also skips each row's stated end-of-line padding one row at a
    // time: padding that could not fit in the file costs minutes of seeking.
    if (n < 780) return;
    // A count of 0 or above 8 is read as all 8 elements.
    unsigned elements = big ? unsigned{head[770]} << 8 | head[771] : unsigned{head[771]} << 8 | head[770];
    if (elements == 0 || elements > 8) elements = 8;
    const uint64_t lines = at(776);
    for (unsigned e = 0; e < elements && 780 + 72 * std::size_t{e} + 36 <= n; ++e) {
        const std::size_t element = 780 + 72 * std::size_t{e};
        const uint32_t offset = at(element + 28);
        const uint32_t padding = at(element + 32);
        // All ones is the format's "undefined".
        if (offset == 0xFFFFFFFFu) continue;
        if (offset > file_size || (padding != 0xFFFFFFFFu && padding * lines > file_size)) {
            throw ImageError(name + ": damaged DPX header (image element " + std::to_string(e + 1) +
                             " lies past the end of the file)");
        }
    }
}

// Channel indices in the file for each ARGB field, -1 for none; grey files
// give their one colour channel as red, copied to green and blue.
struct Layout {
    int alpha = -1, red = -1, green = -1, blue = -1;
    bool grey = false;
    int lo() const { return std::min({pick(alpha), pick(red), pick(green), pick(blue)}); }
    int hi() const { return std::max({alpha, red, green, blue}); }

private:
    static int pick(int c) { return c < 0 ? INT32_MAX : c; }
};

Layout channel_layout(const OIIO::ImageSpec& header) {
    const auto find = [&](const char* name) {
        for (int c = 0; c < header.nchannels; ++c) {
            if (header.channelnames[static_cast<std::size_t>(c)] == name) return c;
        }
        return -1;
    };
    Layout l;
    l.red = find("R");
    l.green = find("G");
    l.blue = find("B");
    l.alpha = find("A");
    if (l.alpha < 0 && header.alpha_channel >= 0 && header.alpha_channel < header.nchannels) l.alpha = header.alpha_channel;
    if (l.red < 0 && l.green < 0 && l.blue < 0) {
        const int y = find("Y");
        if (y >= 0) {
            l.red = y;
            l.grey = true;
        }
    }
    if (l.red < 0 && l.green < 0 && l.blue < 0 && !l.grey) {
        // Unnamed channels: grey, grey and alpha, RGB, RGBA.
        const int n = header.nchannels;
        if (n <= 2) {
            l.red = 0;
            l.grey = true;
            if (n == 2 && l.alpha < 0) l.alpha = 1;
        } else {
            l.red = 0;
            l.green = 1;
            l.blue = 2;
            if (n >= 4 && l.alpha < 0) l.alpha = 3;
        }
    }
    return l;
}

// How the file's samples are taken: 8-bit and 16-bit integers exactly,
// anything else as float.
enum class Kind { k8, k16, kFloat };

Kind sample_kind(const OIIO::ImageSpec& header) {
    if (header.format == OIIO::TypeDesc::UINT8) return Kind::k8;
    if (header.format == OIIO::TypeDesc::UINT16) return Kind::k16;
    return Kind::kFloat;
}

Image::Depth kind_depth(Kind k) {
    return k == Kind::k8 ? Image::k8 : k == Kind::k16 ? Image::k16 : Image::kFloat;
}

// The value of each file sample type in each depth, exact as documented.
template <class Pixel, class T>
auto to_depth(T v) {
    if constexpr (std::is_same_v<Pixel, PF_Pixel8>) {
        if constexpr (std::is_same_v<T, uint8_t>) return v;
        else return sample::png16_to_8(v);
    } else if constexpr (std::is_same_v<Pixel, PF_Pixel16>) {
        if constexpr (std::is_same_v<T, uint8_t>) return sample::png8_to_world(v);
        else return sample::png16_to_world(v);
    } else if constexpr (std::is_same_v<T, uint8_t>) {
        return sample::png8_to_float(v);
    } else if constexpr (std::is_same_v<T, uint16_t>) {
        return sample::png16_to_float(v);
    } else {
        return v;
    }
}

template <class Pixel>
constexpr auto opaque() {
    if constexpr (std::is_same_v<Pixel, PF_Pixel8>) return uint8_t{255};
    else if constexpr (std::is_same_v<Pixel, PF_Pixel16>) return A_u_short{32768};
    else return 1.0f;
}

// Bytes of file samples read at once: a few rows of a wide image.
constexpr int64_t kBandBytes = int64_t{64} << 20;
// Widest run of channels read together.
constexpr int kMaxChannelSpan = 8;

// Reads the rows of the data window that the display window shows, a band
// of rows at a time, into `image` (already the display window's size).
template <class Pixel, class T>
void read_pixels(OIIO::ImageInput& in, const OIIO::ImageSpec& header, const Layout& layout, Image& image,
                 const std::string& name) {
    const OIIO::TypeDesc type = std::is_same_v<T, uint8_t>    ? OIIO::TypeDesc::UINT8
                                : std::is_same_v<T, uint16_t> ? OIIO::TypeDesc::UINT16
                                                              : OIIO::TypeDesc::FLOAT;
    const int64_t x0 = std::max<int64_t>(header.full_x, header.x);
    const int64_t x1 = std::min<int64_t>(int64_t{header.full_x} + header.full_width, int64_t{header.x} + header.width);
    const int64_t y0 = std::max<int64_t>(header.full_y, header.y);
    const int64_t y1 = std::min<int64_t>(int64_t{header.full_y} + header.full_height, int64_t{header.y} + header.height);
    if (x0 >= x1 || y0 >= y1) return;

    // One contiguous range of channels when it is narrow, else each channel
    // on its own (a many-layered file's R and A far apart).
    const int lo = layout.lo(), hi = layout.hi();
    const int64_t width = header.width;
    std::vector<int> ranges;  // first channel of each read; each read is `span` wide
    int span = hi - lo + 1;
    if (span <= kMaxChannelSpan) {
        ranges.push_back(lo);
    } else {
        span = 1;
        for (int c : {layout.alpha, layout.red, layout.green, layout.blue}) {
            if (c >= 0 && std::find(ranges.begin(), ranges.end(), c) == ranges.end()) ranges.push_back(c);
        }
    }
    // A row costs what is asked for or, where the library decodes every
    // channel of a row, the file's whole row, whichever is more.
    const int64_t row_bytes =
        std::max<int64_t>(width * span * static_cast<int64_t>(sizeof(T)), header.scanline_bytes(true));
    const bool tiled = header.tile_width > 0;
    // A TIFF strip is decoded whole for any of its rows: read whole strips
    // where they fit, or a tall strip costs its height over again per band.
    const int64_t strip = header.get_int_attribute("tiff:RowsPerStrip", 0);
    // The library sizes its strip buffer by the strip's stated height, even
    // past the image's last row.
    if (!tiled && strip > header.height && strip * row_bytes > 4 * kBandBytes) {
        throw ImageError(name + ": strips of " + std::to_string(strip) + " rows, taller than the image's " +
                         std::to_string(header.height) + ", are larger than supported");
    }
    const bool by_strip = !tiled && strip > 1 && strip * row_bytes <= kBandBytes;
    // Rows shown that fit in one band are read in one call: a damaged strip
    // layout then costs one decode, not one per band.
    const int64_t shown = std::max<int64_t>(1, y1 - y0);
    const bool whole = !tiled && shown * row_bytes <= kBandBytes;
    const int64_t step = tiled      ? header.tile_height
                         : whole    ? shown
                         : by_strip ? strip
                                    : std::max<int64_t>(1, std::min<int64_t>(64, kBandBytes / row_bytes));
    // The library decodes whole tiles of every channel, whatever is asked.
    const int64_t tile_bytes = tiled ? int64_t{header.tile_width} * header.tile_height * std::max(1, header.nchannels) *
                                           static_cast<int64_t>(header.format.size())
                                     : 0;
    if (tiled && (step * row_bytes > 4 * kBandBytes || tile_bytes > 4 * kBandBytes)) {
        throw ImageError(name + ": tiles of " + std::to_string(header.tile_width) + "x" +
                         std::to_string(header.tile_height) + " are larger than supported");
    }
    if (!tiled && step * row_bytes > 4 * kBandBytes) {
        throw ImageError(name + ": rows of " + std::to_string(row_bytes) + " bytes are larger than supported");
    }
    // Tiled reads start at a tile's edge, strip reads at a strip's.
    const int64_t first = !whole && (tiled || by_strip) ? y0 - (y0 - header.y) % step : y0;
    std::vector<T> band(static_cast<std::size_t>(step * width * span));
    std::vector<std::vector<T>> parts(ranges.size() > 1 ? ranges.size() : 0);
    for (auto& p : parts) p.resize(band.size());

    auto& out = image.get<Pixel>();
    const int64_t out_width = image.width;
    // Where the samples of file channel c sit in what is read, found once:
    // sample i of the band is at data[i * stride].
    struct Source {
        const T* data = nullptr;
        int64_t stride = 0;
        T operator[](int64_t i) const { return data[static_cast<std::size_t>(i * stride)]; }
    };
    const auto source = [&](int c) -> Source {
        if (c < 0) return {};
        if (parts.empty()) return {band.data() + (c - lo), span};
        return {parts[static_cast<std::size_t>(std::find(ranges.begin(), ranges.end(), c) - ranges.begin())].data(), 1};
    };
    const Source alpha = source(layout.alpha), red = source(layout.red), green = source(layout.green),
                 blue = source(layout.blue);
    for (int64_t yb = first; yb < y1; yb += step) {
        const int64_t ye = std::min<int64_t>(yb + step, int64_t{header.y} + header.height);
        for (std::size_t r = 0; r < ranges.size(); ++r) {
            T* dst = parts.empty() ? band.data() : parts[r].data();
            const int cb = ranges[r], ce = ranges[r] + span;
            const bool ok = tiled ? in.read_tiles(0, 0, header.x, header.x + header.width, static_cast<int>(yb),
                                                  static_cast<int>(ye), header.z, header.z + 1, cb, ce, type, dst)
                                  : in.read_scanlines(0, 0, static_cast<int>(yb), static_cast<int>(ye), header.z,
                                                      cb, ce, type, dst);
            if (!ok) throw ImageError(name + ": cannot read the pixels: " + library_text(in.geterror()));
        }
        // The common case, packed RGBA, without the general lookups.
        const bool packed = parts.empty() && span == 4 && lo == 0 && layout.red == 0 && layout.green == 1 &&
                            layout.blue == 2 && layout.alpha == 3;
        for (int64_t y = std::max(yb, y0); y < std::min(ye, y1); ++y) {
            Pixel* row = out.data() + (y - header.full_y) * out_width;
            const int64_t base = (y - yb) * width - header.x;
            if (packed) {
                const T* src = band.data() + (base + x0) * 4;
                for (int64_t x = x0; x < x1; ++x, src += 4) {
                    row[x - header.full_x] = Pixel{to_depth<Pixel>(src[3]), to_depth<Pixel>(src[0]),
                                                 to_depth<Pixel>(src[1]), to_depth<Pixel>(src[2])};
                }
                continue;
            }
            for (int64_t x = x0; x < x1; ++x) {
                const int64_t i = base + x;
                Pixel p{};
                p.alpha = layout.alpha >= 0 ? to_depth<Pixel>(alpha[i]) : opaque<Pixel>();
                if (layout.red >= 0) p.red = to_depth<Pixel>(red[i]);
                if (layout.grey) {
                    p.green = p.blue = p.red;
                } else {
                    if (layout.green >= 0) p.green = to_depth<Pixel>(green[i]);
                    if (layout.blue >= 0) p.blue = to_depth<Pixel>(blue[i]);
                }
                row[x - header.full_x] = p;
            }
        }
    }
}

// Divides colour by alpha where alpha > 0, else makes it 0.
void unpremultiply(Image& image) {
    for (PF_PixelFloat& p : image.get<PF_PixelFloat>()) {
        if (p.alpha > 0.0f) {
            p.red /= p.alpha;
            p.green /= p.alpha;
            p.blue /= p.alpha;
        } else {
            p.red = p.green = p.blue = 0.0f;
        }
    }
}

// Whether the file holds colour premultiplied by alpha: OpenEXR always; a
// TIFF whose alpha is marked associated (the library reports straight alpha
// when asked to keep it, as it was asked).
bool premultiplied(const OIIO::ImageInput& in, const OIIO::ImageSpec& header, const Layout& layout) {
    const std::string format = in.format_name();
    if (format == "openexr") return true;
    return format == "tiff" && layout.alpha >= 0 && header.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
}

Image read_opened(OIIO::ImageInput& in, const OIIO::ImageSpec& header, Image::Depth want, bool native,
                  const std::string& name) {
    in.threads(1);
    if (header.deep) throw ImageError(name + ": deep images are not supported");
    if (header.depth > 1 || header.full_depth > 1) throw ImageError(name + ": volume images are not supported");
    if (header.nchannels < 1) throw ImageError(name + ": no channels");
    check_size(header.full_width, header.full_height, name);
    if (header.width < 1 || header.height < 1 || header.width > kMaxImageDimension || header.height > kMaxImageDimension) {
        throw ImageError(name + ": data window " + std::to_string(header.width) + "x" + std::to_string(header.height) +
                         " is larger than supported");
    }
    // Overscan would be lost: the render and every output are the display
    // window, so it is refused rather than cropped without a word.
    if (header.x < header.full_x || header.y < header.full_y ||
        int64_t{header.x} + header.width > int64_t{header.full_x} + header.full_width ||
        int64_t{header.y} + header.height > int64_t{header.full_y} + header.full_height) {
        throw ImageError(name + ": its data window reaches beyond its display window (overscan), which would be "
                                "cropped; crop it first, e.g. oiiotool IN --croptofull -o OUT");
    }
    const Layout layout = channel_layout(header);
    const Kind kind = sample_kind(header);
    const bool premult = premultiplied(in, header, layout);
    const Image::Depth wanted = native ? kind_depth(kind) : want;
    // Float samples, and premultiplied ones (divided in float), reach the
    // integer depths through convert().
    const bool via_float = premult || kind == Kind::kFloat;
    Image image = make_image(header.full_width, header.full_height, via_float ? Image::kFloat : wanted);
    const auto read = [&](auto pixel_tag) {
        using Pixel = decltype(pixel_tag);
        if constexpr (std::is_same_v<Pixel, PF_PixelFloat>) {
            if (via_float) return read_pixels<Pixel, float>(in, header, layout, image, name);
        }
        if (kind == Kind::k8) read_pixels<Pixel, uint8_t>(in, header, layout, image, name);
        else read_pixels<Pixel, uint16_t>(in, header, layout, image, name);
    };
    switch (image.depth()) {
        case Image::k8:
            read(PF_Pixel8{});
            break;
        case Image::k16:
            read(PF_Pixel16{});
            break;
        case Image::kFloat:
            read(PF_PixelFloat{});
            break;
    }
    if (premult) unpremultiply(image);
    return image.depth() == wanted ? image : convert(image, wanted);
}

// A reader opened on a file, with the header it read.
struct OpenedImage {
    std::unique_ptr<OIIO::ImageInput> in;
    OIIO::ImageSpec header;
};

// The reader for `format` (empty: the library's choice for the file) opened
// on `path`, over `proxy` if given. Which OpenEXR reader the library makes is
// a process-wide setting read when it makes one, so each is made under a lock
// with the setting it needs.
OpenedImage open_reader(const std::string& format, const std::string& path, OIIO::Filesystem::IOProxy* proxy,
                        const OIIO::ImageSpec& config, bool older_exr, const std::string& name) {
    OpenedImage opened;
    if (format == "openexr") {
        static std::mutex mutex;
        const std::lock_guard<std::mutex> lock(mutex);
        OIIO::attribute("openexr:core", older_exr ? 0 : 1);
        opened.in = OIIO::ImageInput::create(format);
        OIIO::attribute("openexr:core", 1);
    } else {
        opened.in = OIIO::ImageInput::create(format.empty() ? path : format);
    }
    const std::string what = format.empty() ? "image" : format;
    if (!opened.in) throw ImageError(name + ": no " + what + " reader: " + library_text(OIIO::geterror()));
    if (proxy) opened.in->set_ioproxy(proxy);
    if (!opened.in->open(path, opened.header, config)) {
        throw ImageError(name + ": not a readable " + what + " file: " + library_text(opened.in->geterror()));
    }
    return opened;
}

// Opens with the given reader (format name) or the library's choice, over
// `proxy` when reading memory, and reads.
Image read_with(const std::string& format, const std::string& path, OIIO::Filesystem::IOProxy* proxy,
                Image::Depth want, bool native, const std::string& name) {
    init_library();
    try {
        OIIO::ImageSpec config;
        config.attribute("oiio:UnassociatedAlpha", 1);
        OpenedImage opened = open_reader(format, path, proxy, config, false, name);
        // OpenEXR's newer reader takes the header apart with checks of its
        // own, but cannot decode DWA data: a header it has accepted is read
        // again by the older one.
        if (format == "openexr" &&
            OIIO::Strutil::istarts_with(opened.header.get_string_attribute("compression"), "dwa")) {
            opened.in->close();
            if (proxy) proxy->seek(0);
            opened = open_reader(format, path, proxy, config, true, name);
        }
        Image image = read_opened(*opened.in, opened.header, want, native, name);
        opened.in->close();
        return image;
    } catch (const ImageError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw ImageError(name + ": out of memory");
    } catch (const std::exception& e) {
        throw ImageError(name + ": not a readable image: " + library_text(e.what()));
    }
}

Image read_memory(const void* data, std::size_t size, Image::Depth want, bool native, const std::string& label);

// The file's bytes, or its first `limit` bytes.
std::vector<unsigned char> read_whole(const std::string& path, const std::string& name,
                                      std::size_t limit = SIZE_MAX) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw ImageError(name + ": cannot open: " + errno_text(errno));
    std::vector<unsigned char> bytes;
    unsigned char chunk[1 << 16];
    std::size_t n = 0;
    while (bytes.size() < limit && (n = std::fread(chunk, 1, std::min(sizeof chunk, limit - bytes.size()), f)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) throw ImageError(name + ": read error");
    return bytes;
}

Image read_file(const std::string& path, Image::Depth want, bool native) {
    const std::string name = escape_text(path);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw ImageError(name + ": cannot open: " + errno_text(errno));
    struct stat st {};
    unsigned char head[1024] = {};
    const bool is_dir = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    const ssize_t n = is_dir ? 0 : ::read(fd, head, sizeof head);
    const int err = errno;
    ::close(fd);
    if (is_dir) throw ImageError(name + ": is a directory");
    if (n < 0) throw ImageError(name + ": read error: " + errno_text(err));
    if (n == 0) throw ImageError(name + ": the file is empty");
    const std::string format = sniff_format(head, static_cast<std::size_t>(n));
    if (format == "dpx") check_dpx_header(head, static_cast<std::size_t>(n), static_cast<uint64_t>(st.st_size), name);
    if (format == "png") {
        // Checked whole before decoding (above), so read once, from memory.
        std::vector<unsigned char> bytes = read_whole(path, name);
        return read_memory(bytes.data(), bytes.size(), want, native, path);
    }
    if (format == "openexr") {
        // Most headers are a few kilobytes; a longer one is read again whole.
        for (std::size_t limit = std::size_t{1} << 16;; limit = kMaxExrHeaderBytes) {
            const std::vector<unsigned char> b = read_whole(path, name, limit);
            if (check_exr_header(b.data(), b.size(), b.size() < limit, name)) break;
        }
    }
    return read_with(format, path, nullptr, want, native, name);
}

// OpenImageIO 2.4's memory reader copies past the end of its buffer when a
// read starts beyond it (a damaged OpenEXR offset table does that); reads
// here stop at the end.
class BoundedMemReader final : public OIIO::Filesystem::IOMemReader {
public:
    using IOMemReader::IOMemReader;
    std::size_t read(void* buf, std::size_t size) override {
        const std::size_t n = pread(buf, size, m_pos);
        m_pos += static_cast<int64_t>(n);
        return n;
    }
    std::size_t pread(void* buf, std::size_t size, int64_t offset) override {
        const int64_t total = static_cast<int64_t>(m_buf.size());
        if (offset < 0 || offset >= total) return 0;
        const std::size_t n = std::min(size, static_cast<std::size_t>(total - offset));
        std::memcpy(buf, m_buf.data() + offset, n);
        return n;
    }
};

Image read_memory(const void* data, std::size_t size, Image::Depth want, bool native, const std::string& label) {
    const std::string name = escape_text(label);
    if (size == 0) throw ImageError(name + ": the file is empty");
    const std::string format = sniff_format(static_cast<const unsigned char*>(data), size);
    if (format.empty()) throw ImageError(name + ": not an image format recognised from its contents");
    if (format == "png") check_png_chunks(static_cast<const unsigned char*>(data), size, name);
    if (format == "openexr") check_exr_header(static_cast<const unsigned char*>(data), size, true, name);
    if (format == "dpx") check_dpx_header(static_cast<const unsigned char*>(data), size, size, name);
    BoundedMemReader proxy(data, size);
    return read_with(format, label, &proxy, want, native, name);
}

}  // namespace

std::pair<int, int> read_image_size(const std::string& path) {
    const std::string name = escape_text(path);
    std::vector<unsigned char> head = read_whole(path, name, 1024);
    if (head.empty()) throw ImageError(name + ": the file is empty");
    const std::string format = sniff_format(head.data(), head.size());
    if (format == "png") {
        // The first chunk is the header; read_image checks the rest.
        if (head.size() < 24 || std::memcmp(head.data() + 12, "IHDR", 4) != 0) {
            throw ImageError(name + ": not a readable png file: no header chunk first");
        }
        const uint32_t width = be32(head.data() + 16);
        const uint32_t height = be32(head.data() + 20);
        check_size(width, height, name);
        return {static_cast<int>(width), static_cast<int>(height)};
    }
    if (format == "dpx") {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) throw ImageError(name + ": cannot open: " + errno_text(errno));
        check_dpx_header(head.data(), head.size(), static_cast<uint64_t>(st.st_size), name);
    }
    if (format == "openexr") {
        for (std::size_t limit = std::size_t{1} << 16;; limit = kMaxExrHeaderBytes) {
            const std::vector<unsigned char> b = read_whole(path, name, limit);
            if (check_exr_header(b.data(), b.size(), b.size() < limit, name)) break;
        }
    }
    init_library();
    try {
        OIIO::ImageSpec config;
        OpenedImage opened = open_reader(format, path, nullptr, config, false, name);
        opened.in->close();
        check_size(opened.header.full_width, opened.header.full_height, name);
        return {opened.header.full_width, opened.header.full_height};
    } catch (const ImageError&) {
        throw;
    } catch (const std::exception& e) {
        throw ImageError(name + ": not a readable image: " + library_text(e.what()));
    }
}

Image read_image(const std::string& path) { return read_file(path, Image::k8, true); }
Image read_image(const std::string& path, Image::Depth depth) { return read_file(path, depth, false); }
Image read_image_memory(const void* data, std::size_t size, const std::string& name) {
    return read_memory(data, size, Image::k8, true, name);
}
Image read_image_memory(const void* data, std::size_t size, Image::Depth depth, const std::string& name) {
    return read_memory(data, size, depth, false, name);
}

}  // namespace cli
