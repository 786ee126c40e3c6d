// The image reader on arbitrary bytes, from memory (every format it
// recognises from the bytes: PNG, EXR, TIFF, DPX, JPEG, ...): either an image within
// the documented limits whose pixel count matches its size, or an
// ImageError with a message; nothing else may escape.
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <variant>

#include "footage/image_io.h"
#include "fuzz/fuzz_support.h"

namespace trellis_fuzz::image {
namespace {

constexpr std::string_view kName = "fuzz_image";

// The readers accept up to cli::kMaxImagePixels (gigabytes of pixels), and
// may allocate them before the data shows it is short. Inputs that claim more
// than this, but no more than the readers accept, are skipped so that a run
// stays within the fuzzer's memory; claims past the limits still run and
// must be refused.
constexpr std::int64_t kPixelBudget = std::int64_t{1} << 22;

std::int64_t be32(const std::uint8_t* p) {
    return static_cast<std::int64_t>(std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                                     std::uint32_t{p[2]} << 8 | std::uint32_t{p[3]});
}

std::int64_t le32s(const std::uint8_t* p) {
    return static_cast<std::int32_t>(std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
                                     std::uint32_t{p[3]} << 24);
}

bool accepted_size(std::int64_t width, std::int64_t height) {
    return width >= 1 && height >= 1 && width <= cli::kMaxImageDimension && height <= cli::kMaxImageDimension &&
           width * height <= cli::kMaxImagePixels;
}

std::int64_t read_uint(const std::uint8_t* p, int bytes, bool big) {
    std::int64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        v |= std::int64_t{p[big ? i : bytes - 1 - i]} << (8 * (bytes - 1 - i));
    }
    return v;
}

bool over(std::int64_t w, std::int64_t h) { return accepted_size(w, h) && w * h > kPixelBudget; }

// A TIFF's first directory: ImageWidth and ImageLength.
bool tiff_over_budget(const std::uint8_t* data, std::size_t size) {
    if (size < 8 || !((data[0] == 'I' && data[1] == 'I') || (data[0] == 'M' && data[1] == 'M'))) {
        return false;
    }
    const bool big = data[0] == 'M';
    const std::int64_t at = read_uint(data + 4, 4, big);
    if (at < 8 || static_cast<std::size_t>(at) + 2 > size) {
        return false;
    }
    const std::int64_t n = read_uint(data + at, 2, big);
    // A tag given twice counts as the library reads it: the first one.
    std::int64_t w = 0, h = 0;
    for (std::int64_t i = 0; i < n && static_cast<std::size_t>(at + 2 + 12 * i + 12) <= size; ++i) {
        const std::uint8_t* e = data + at + 2 + 12 * i;
        const std::int64_t tag = read_uint(e, 2, big), type = read_uint(e + 2, 2, big);
        const std::int64_t v = type == 3 ? read_uint(e + 8, 2, big) : read_uint(e + 8, 4, big);
        if (tag == 256 && w == 0) w = v;
        if (tag == 257 && h == 0) h = v;
    }
    return over(w, h);
}

// True when the header claims a size the readers accept but the budget does
// not: a PNG's IHDR, any box2i window attribute of an OpenEXR header, a
// TIFF's first directory, a DPX image and orientation header, any JPEG
// frame header.
bool over_budget(const std::uint8_t* data, std::size_t size) {
    static const std::uint8_t kIhdr[] = {'I', 'H', 'D', 'R'};
    if (size >= 24 && std::memcmp(data + 12, kIhdr, 4) == 0) {
        return over(be32(data + 16), be32(data + 20));
    }
    if (tiff_over_budget(data, size)) {
        return true;
    }
    if (size >= 780 && (std::memcmp(data, "SDPX", 4) == 0 || std::memcmp(data, "XPDS", 4) == 0)) {
        // The image size, or the original size as the display window.
        const bool big = data[0] == 'S';
        const std::int64_t w = read_uint(data + 772, 4, big), h = read_uint(data + 776, 4, big);
        const std::int64_t ow = size >= 1432 ? read_uint(data + 1424, 4, big) : w;
        const std::int64_t oh = size >= 1432 ? read_uint(data + 1428, 4, big) : h;
        return over(w, h) || over(ow, oh) || over(w, oh) || over(ow, h);
    }
    for (std::size_t i = 0; size >= 9 && i + 9 <= size; ++i) {
        if (data[i] == 0xff && data[i + 1] >= 0xc0 && data[i + 1] <= 0xcf && data[i + 1] != 0xc4 &&
            data[i + 1] != 0xc8 && data[i + 1] != 0xcc && over(read_uint(data + i + 7, 2, true), read_uint(data + i + 5, 2, true))) {
            return true;
        }
    }
    static const char kBox[] = "box2i";  // type name, NUL, size (4), then 4 ints
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (std::size_t at = bytes.find(std::string_view(kBox, sizeof kBox)); at != std::string_view::npos;
         at = bytes.find(std::string_view(kBox, sizeof kBox), at + 1)) {
        const std::size_t box = at + sizeof kBox + 4;
        if (box + 16 > size) {
            break;
        }
        const std::int64_t w = le32s(data + box + 8) - le32s(data + box) + 1;
        const std::int64_t h = le32s(data + box + 12) - le32s(data + box + 4) + 1;
        if (over(w, h)) {
            return true;
        }
    }
    return false;
}

void check_image(const cli::Image& image, int wanted_depth) {
    if (!accepted_size(image.width, image.height)) {
        fail(kName, "read an image of " + std::to_string(image.width) + "x" + std::to_string(image.height));
    }
    const std::size_t count = std::visit([](const auto& v) { return v.size(); }, image.pixels);
    if (count != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)) {
        fail(kName, "an image of " + std::to_string(image.width) + "x" + std::to_string(image.height) + " holds " +
                        std::to_string(count) + " pixels");
    }
    if (wanted_depth >= 0 && image.depth() != wanted_depth) {
        fail(kName, "asked for depth " + std::to_string(wanted_depth) + ", got " + std::to_string(image.depth()));
    }
}

}  // namespace

// The input is the file; its length picks the depth asked for (native, 8,
// 16 or float), so any real file can seed the corpus as it is.
int fuzz_one(const std::uint8_t* data, std::size_t size) {
    if (over_budget(data, size)) {
        trace("skipped: the header claims more pixels than the harness allows");
        return 0;
    }
    const int wanted = static_cast<int>(size % 4) - 1;
    cli::Image image;
    try {
        image = wanted < 0 ? cli::read_image_memory(data, size, "fuzz")
                           : cli::read_image_memory(data, size, static_cast<cli::Image::Depth>(wanted), "fuzz");
    } catch (const cli::ImageError& e) {
        trace("refused: %s", e.what());
        if (std::string_view(e.what()).empty()) {
            fail(kName, "an ImageError without a message");
        }
        return 0;
    } catch (const std::exception& e) {
        fail(kName, std::string("escaped with something other than ImageError: ") + e.what());
    }
    trace("read %dx%d at depth %d (asked %d)", image.width, image.height, static_cast<int>(image.depth()), wanted);
    check_image(image, wanted);

    // What the renderer does next with a small image: other depths, a draft size.
    if (static_cast<std::int64_t>(image.width) * image.height <= 4096) {
        for (int depth = 0; depth < 3; ++depth) {
            check_image(cli::convert(image, static_cast<cli::Image::Depth>(depth)), depth);
        }
        const cli::Image small = cli::downsample(image, 1, 3);
        if (small.width != (image.width + 2) / 3 || small.height != (image.height + 2) / 3) {
            fail(kName, "a third of " + std::to_string(image.width) + "x" + std::to_string(image.height) + " gave " +
                            std::to_string(small.width) + "x" + std::to_string(small.height));
        }
        check_image(small, image.depth());
    }
    return 0;
}

}  // namespace trellis_fuzz::image
