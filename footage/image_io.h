// Images in memory, image files of every format OpenImageIO handles, colour
// space conversion, depth conversion and the draft downscale: image.cpp (the
// image, its depths and downscale), image_read.cpp (reading, with the checks
// that come before a file's pixels), image_write.cpp (writing and its
// options), colour.cpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "host/ae_sdk.h"

namespace cli {

// Largest image handled: 2^20 pixels a side and 2^28 pixels in all (4 GiB
// as float ARGB). A file's header is checked against it before any pixel
// buffer is allocated, so a hostile size costs nothing.
inline constexpr int kMaxImageDimension = 1 << 20;
inline constexpr int64_t kMaxImagePixels = int64_t{1} << 28;

// Whether `width` x `height` is within those limits, not empty.
constexpr bool supported_size(int64_t width, int64_t height) {
    return width >= 1 && height >= 1 && width <= kMaxImageDimension && height <= kMaxImageDimension &&
           width * height <= kMaxImagePixels;
}

// Thrown for unreadable files, bad names and invalid images; what() says
// which file and why.
class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Thrown when an output cannot be written where it should go (no space, no
// permission, a directory in the way): "cannot write" rather than "bad
// input".
class ImageWriteError : public ImageError {
public:
    // `error`: the errno of the failing call, where one is known.
    explicit ImageWriteError(const std::string& what, int error = 0) : ImageError(what), error_(error) {}
    // A failure that a later attempt may not meet: no space or quota left,
    // an I/O error, a network file system gone away for a while.
    bool transient() const;
    int error() const { return error_; }

private:
    int error_;
};

// `text` with control bytes, backslash and non-ASCII bytes as \xNN, safe to
// print on a terminal. Every text taken from a file or a library goes
// through it before it reaches an error message.
std::string escape_text(std::string_view text);

// The extension after the file name's last dot, lower-cased; "" for none.
std::string lower_extension(std::string_view path);

// Straight (not premultiplied) ARGB pixels of one depth, rows top to bottom,
// packed: pixel (x, y) is element y * width + x. The depth is the index of
// the alternative held (the effect's own depth numbering).
struct Image {
    enum Depth { k8 = 0, k16 = 1, kFloat = 2 };

    int width = 0;
    int height = 0;
    std::variant<std::vector<PF_Pixel8>, std::vector<PF_Pixel16>, std::vector<PF_PixelFloat>> pixels;

    Depth depth() const { return static_cast<Depth>(pixels.index()); }

    // The pixels as the given type; std::bad_variant_access at another depth.
    template <class Pixel>
    std::vector<Pixel>& get() {
        return std::get<std::vector<Pixel>>(pixels);
    }
    template <class Pixel>
    const std::vector<Pixel>& get() const {
        return std::get<std::vector<Pixel>>(pixels);
    }
};

// A transparent black image. Throws ImageError outside 1..kMaxImageDimension
// per side or above kMaxImagePixels.
Image make_image(int width, int height, Image::Depth depth);

// Exact sample conversions between files and the host's depths. 16-bit
// worlds run from 0 to 32768; 16-bit PNG samples from 0 to 65535. Integer
// results round to nearest; float inputs are clamped to [0, 1] (NaN to 0).
namespace sample {
constexpr A_u_short png16_to_world(uint16_t p) {
    return static_cast<A_u_short>((uint32_t{p} * 32768u + 32767u) / 65535u);
}
constexpr uint16_t world_to_png16(A_u_short v) {
    const uint32_t c = std::min<uint32_t>(v, 32768u);
    return static_cast<uint16_t>((c * 65535u + 16384u) / 32768u);
}
constexpr A_u_short png8_to_world(uint8_t p) {
    return static_cast<A_u_short>((uint32_t{p} * 32768u + 127u) / 255u);
}
constexpr uint8_t world_to_8(A_u_short v) {
    const uint32_t c = std::min<uint32_t>(v, 32768u);
    return static_cast<uint8_t>((c * 255u + 16384u) / 32768u);
}
constexpr uint8_t png16_to_8(uint16_t p) {
    return static_cast<uint8_t>((uint32_t{p} * 255u + 32767u) / 65535u);
}
inline float png8_to_float(uint8_t p) { return static_cast<float>(p) / 255.0f; }
inline float png16_to_float(uint16_t p) { return static_cast<float>(p) / 65535.0f; }
inline float world_to_float(A_u_short v) { return static_cast<float>(v) / 32768.0f; }
uint8_t float_to_8(float v);          // trunc(v * 255 + 0.5)
A_u_short float_to_world(float v);    // trunc(v * 32768 + 0.5)
uint16_t float_to_png16(float v);     // trunc(v * 65535 + 0.5)
}  // namespace sample

// Reads any image file OpenImageIO reads (EXR, DPX, TIFF, PNG, JPEG, TGA,
// HDR, WebP, ...), recognised by its contents, whatever its name: the first
// subimage, its display window (pixels without data transparent; data
// beyond it, overscan, is refused). Grey gives R = G = B; no alpha means opaque.
// - Integer files keep their samples exact: 8-bit gives k8 unchanged;
//   16-bit (and 10/12-bit, as the library scales them to 16) gives k16
//   through png16_to_world. Alpha is straight, as stored.
// - Float and half files give kFloat. OpenEXR (and TIFF whose alpha is
//   marked associated) is premultiplied: colour is divided by alpha where
//   alpha > 0, else 0, in float.
// PNG files are checked chunk by chunk (layout, checksums) before decoding.
// Throws ImageError for anything unreadable, one message naming the file,
// including sizes above the limits, before allocating pixels for them.
Image read_image(const std::string& path);
// As above, converted straight from the file's samples to `depth` (so a
// 16-bit PNG gives p / 65535 in float, not a detour through 16-bit worlds).
Image read_image(const std::string& path, Image::Depth depth);
// The width and height read_image() gives `path`, from the file's header
// alone. Throws ImageError as read_image() does for a file it cannot open
// or whose header it refuses.
std::pair<int, int> read_image_size(const std::string& path);
// The same from bytes in memory; `name` only labels error messages.
Image read_image_memory(const void* data, std::size_t size, const std::string& name = "<memory>");
Image read_image_memory(const void* data, std::size_t size, Image::Depth depth,
                        const std::string& name = "<memory>");

enum class ExrCompression { kNone, kRle, kZip, kZips, kPiz, kDwaa, kDwab };
// "none", "rle", "zip", "zips", "piz", "dwaa" or "dwab"; throws ImageError
// otherwise.
ExrCompression parse_exr_compression(std::string_view text);

enum class ExrType { kFloat, kHalf };
// "float" or "half"; throws ImageError otherwise.
ExrType parse_exr_type(std::string_view text);

struct WriteOptions {
    ExrCompression exr_compression = ExrCompression::kZip;
    ExrType exr_type = ExrType::kFloat;
    // zlib level 0..9. Level 5 keeps files within about a tenth of level
    // 6's (level 4 adds a quarter to a contact sheet, levels 1-3 double a
    // flat frame) and writes busy footage in half the time.
    int png_compression = 5;
};

// Writes `image` in the format its extension names (any case): .exr, .png,
// .tif/.tiff, .dpx, .jpg/.jpeg. Through a temporary file beside `path`,
// renamed over it only once complete: after a failure nothing is left
// behind and an existing file is untouched.
// - PNG, TIFF: RGBA, 8-bit from k8, else 16-bit (float clamped to [0, 1]),
//   straight alpha.
// - DPX: RGBA, 8-bit from k8, else 16-bit, straight alpha.
// - JPEG: RGB 8-bit, alpha dropped.
// - OpenEXR: RGBA float or half, colour premultiplied by alpha as the format
//   expects; display and data window both (0, 0)-(width-1, height-1).
// Throws ImageError for an unknown extension or invalid image,
// ImageWriteError when the file cannot be written.
void write_image(const std::string& path, const Image& image, const WriteOptions& options = {});

// A new empty file beside `target` under this program's temporary naming
// (".NAME.tmp" and eight hex digits), open for reading and writing, and
// locked (flock) while the descriptor returned stays open. `label` names the
// target in errors. Throws ImageWriteError.
int create_temporary_beside(const std::string& target, const std::string& label, std::string& temp);

// Removes the temporary files that writers of `paths` killed outright left
// beside them (this program's naming only); a writer still at work holds
// the lock on its own, which is left alone. Returns how many went.
std::size_t remove_stale_temporaries(const std::vector<std::string>& paths);

// Whether write_image() knows the extension of `path`.
bool is_image_extension(std::string_view path);

// The bytes write_image would put in a file named `name`, in memory. Throws
// ImageError for an unknown extension or an image it cannot encode.
std::vector<unsigned char> encode_image(std::string_view name, const Image& image, const WriteOptions& options = {});

// Colour spaces, converted through OpenImageIO's colour management: the
// OpenColorIO config in $OCIO when it is set, else the library's built-in
// spaces ("linear", "sRGB", "Rec709", ...). A $OCIO that cannot be read
// or loaded is an ImageError here and in every function below, never a
// silent fall-back to the built-in spaces.
std::vector<std::string> colorspace_names();

// Whether the colour space is known to hold linear light.
bool is_linear_colorspace(const std::string& name);

// Converts colour (not alpha) from one space to another in place, on
// straight values; integer images go through float and back with the sample
// rules above. Nothing happens when the names are equal. Throws ImageError
// naming an unknown space.
void convert_colorspace(Image& image, const std::string& from, const std::string& to);

// The image at another depth, channel by channel with the sample rules above
// (8 to 16: png8_to_world, 16 to 8: world_to_8, to float: / 255 or / 32768).
Image convert(const Image& image, Image::Depth depth);

// Scales by num/den (1 <= num, den <= 2^24): the result is ceil(width *
// num / den) by ceil(height * num / den), at least 1 by 1, same depth. Each
// output pixel is the area-weighted box average of the source area it
// covers (clipped at the image's edge), taken over premultiplied values: its
// alpha is the mean alpha, its colour the alpha-weighted mean colour (0 where
// the alpha sum is 0). Integer depths round to nearest. A factor of 1 copies.
Image downsample(const Image& image, int64_t num, int64_t den);

}  // namespace cli
