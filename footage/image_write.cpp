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
// Writing
// ---------------------------------------------------------------------------

namespace {

// A new file beside the target, renamed over it by commit(); removed if
// commit() is never reached. A symbolic link to a file is followed, so the
// link stays; anything but a regular file in the way is refused rather than
// replaced.
class AtomicFile {
public:
    explicit AtomicFile(const std::string& path) : target_(path), name_(escape_text(path)) {
        struct stat st {};
        const bool exists = ::stat(path.c_str(), &st) == 0;
        if (exists && !S_ISREG(st.st_mode)) throw ImageWriteError(name_ + ": exists and is not a regular file");
        struct stat lst {};
        if (exists && ::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
            char* real = ::realpath(path.c_str(), nullptr);
            if (!real) throw ImageWriteError(name_ + ": cannot resolve: " + errno_text(errno));
            target_ = real;
            std::free(real);
        }
        const std::size_t slash = target_.find_last_of('/');
        const std::string dir = slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
        if (base.empty()) throw ImageError(name_ + ": not a file name");
        std::random_device rd;
        for (int attempt = 0; attempt < 100; ++attempt) {
            char suffix[32];
            std::snprintf(suffix, sizeof suffix, ".tmp%08x", static_cast<unsigned>(rd()));
            temp_ = dir + "." + base + suffix;
            // 0666 before the umask, as for any new file.
            const int fd = ::open(temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                if (exists) (void)::fchmod(fd, st.st_mode & 07777);  // keep the old file's mode
                file_ = ::fdopen(fd, "w+b");
                if (!file_) {
                    const int err = errno;
                    ::close(fd);
                    ::unlink(temp_.c_str());
                    throw ImageWriteError(name_ + ": cannot write: " + errno_text(err));
                }
                return;
            }
            if (errno != EEXIST) {
                throw ImageWriteError(name_ + ": cannot create a file beside it: " + errno_text(errno));
            }
        }
        throw ImageWriteError(name_ + ": cannot create a temporary file beside it");
    }

    ~AtomicFile() {
        if (file_) std::fclose(file_);
        if (!committed_) ::unlink(temp_.c_str());
    }

    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    std::FILE* stream() const { return file_; }
    const std::string& temp() const { return temp_; }
    const std::string& name() const { return name_; }

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
            throw ImageWriteError(name_ + ": write failed: " + errno_text(err ? err : EIO));
        }
        if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
            throw ImageWriteError(name_ + ": cannot replace: " + errno_text(errno));
        }
        committed_ = true;
    }

private:
    std::string target_;
    std::string name_;
    std::string temp_;
    std::FILE* file_ = nullptr;
    bool committed_ = false;
};

// The writer for an extension, "" for none.
std::string output_format(std::string_view path) {
    const std::string ext = lower_extension(path);
    if (ext == "exr") return "openexr";
    if (ext == "png") return "png";
    if (ext == "tif" || ext == "tiff") return "tiff";
    if (ext == "dpx") return "dpx";
    if (ext == "jpg" || ext == "jpeg") return "jpeg";
    return "";
}

const char* exr_compression_name(ExrCompression c) {
    switch (c) {
        case ExrCompression::kNone:
            return "none";
        case ExrCompression::kRle:
            return "rle";
        case ExrCompression::kZips:
            return "zips";
        case ExrCompression::kPiz:
            return "piz";
        case ExrCompression::kDwaa:
            return "dwaa";
        case ExrCompression::kDwab:
            return "dwab";
        case ExrCompression::kZip:
            break;
    }
    return "zip";
}

// Rows [y, y + rows) in the file's layout: RGB(A) samples of type T,
// colour premultiplied by alpha when `premultiply`.
template <class T, class Pixel>
void fill_rows(const std::vector<Pixel>& src, int64_t width, int64_t y, int64_t rows, int channels, bool premultiply,
               std::vector<T>& dst) {
    for (int64_t i = 0; i < rows * width; ++i) {
        const Pixel& p = src[static_cast<std::size_t>(y * width + i)];
        T* d = dst.data() + i * channels;
        d[0] = encode_sample<T>(p.red);
        d[1] = encode_sample<T>(p.green);
        d[2] = encode_sample<T>(p.blue);
        if (channels == 4) d[3] = encode_sample<T>(p.alpha);
        if constexpr (std::is_same_v<T, float>) {
            if (premultiply) {
                d[0] *= d[3];
                d[1] *= d[3];
                d[2] *= d[3];
            }
        }
    }
}

template <class T>
void write_rows(OIIO::ImageOutput& out, const Image& image, int channels, bool premultiply, const std::string& name) {
    const int64_t width = image.width;
    constexpr int64_t kRows = 64;  // whole chunks for every EXR compression
    std::vector<T> rows(static_cast<std::size_t>(kRows * width * channels));
    const OIIO::TypeDesc type = std::is_same_v<T, uint8_t>    ? OIIO::TypeDesc::UINT8
                                : std::is_same_v<T, uint16_t> ? OIIO::TypeDesc::UINT16
                                                              : OIIO::TypeDesc::FLOAT;
    for (int64_t y = 0; y < image.height; y += kRows) {
        const int64_t n = std::min<int64_t>(kRows, image.height - y);
        std::visit([&](const auto& px) { fill_rows(px, width, y, n, channels, premultiply, rows); }, image.pixels);
        if (!out.write_scanlines(static_cast<int>(y), static_cast<int>(y + n), 0, type, rows.data())) {
            throw ImageWriteError(name + ": cannot write: " + library_text(out.geterror()));
        }
    }
}

}  // namespace

ExrCompression parse_exr_compression(std::string_view text) {
    for (const ExrCompression c : {ExrCompression::kNone, ExrCompression::kRle, ExrCompression::kZip,
                                   ExrCompression::kZips, ExrCompression::kPiz, ExrCompression::kDwaa,
                                   ExrCompression::kDwab}) {
        if (text == exr_compression_name(c)) return c;
    }
    throw ImageError("EXR compression '" + escape_text(text) + "': expected none, rle, zip, zips, piz, dwaa or dwab");
}

ExrType parse_exr_type(std::string_view text) {
    if (text == "float") return ExrType::kFloat;
    if (text == "half") return ExrType::kHalf;
    throw ImageError("EXR type '" + escape_text(text) + "': expected float or half");
}

bool is_image_extension(std::string_view path) { return !output_format(path).empty(); }

namespace {

// Writes `image` as `format` through `proxy`; `name` labels errors.
void encode(const std::string& format, const Image& image, const WriteOptions& options,
            OIIO::Filesystem::IOProxy& proxy, const std::string& target, const std::string& name) {
    const bool exr = format == "openexr";
    const int channels = format == "jpeg" ? 3 : 4;
    // Integer files: 8-bit from 8-bit images, else 16-bit; JPEG is 8-bit only.
    OIIO::TypeDesc type = OIIO::TypeDesc::UINT16;
    if (exr) {
        type = options.exr_type == ExrType::kHalf ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::FLOAT;
    } else if (format == "jpeg" || image.depth() == Image::k8) {
        type = OIIO::TypeDesc::UINT8;
    }
    OIIO::ImageSpec header(image.width, image.height, channels, type);
    if (channels == 4) header.alpha_channel = 3;
    if (exr) {
        header.attribute("compression", exr_compression_name(options.exr_compression));
    } else {
        // The samples are straight: the writer must not divide them again.
        header.attribute("oiio:UnassociatedAlpha", 1);
    }
    if (format == "png") header.attribute("png:compressionLevel", std::clamp(options.png_compression, 0, 9));
    if (format == "dpx") header.attribute("oiio:BitsPerSample", type == OIIO::TypeDesc::UINT8 ? 8 : 16);

    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(format);
    if (!out) throw ImageError(name + ": no " + format + " writer: " + library_text(OIIO::geterror()));
    out->threads(1);
    out->set_ioproxy(&proxy);
    if (!out->open(target, header)) throw ImageWriteError(name + ": cannot write: " + library_text(out->geterror()));
    if (exr) {
        write_rows<float>(*out, image, channels, true, name);
    } else if (type == OIIO::TypeDesc::UINT8) {
        write_rows<uint8_t>(*out, image, channels, false, name);
    } else {
        write_rows<uint16_t>(*out, image, channels, false, name);
    }
    if (!out->close()) throw ImageWriteError(name + ": cannot write: " + library_text(out->geterror()));
}

// `format` for `path`, or an ImageError naming the extensions there are.
std::string writable_format(std::string_view path, const std::string& name) {
    std::string format = output_format(path);
    if (format.empty()) {
        throw ImageError(name + ": unknown image type \"" + escape_text(lower_extension(path)) +
                         "\" (name it .exr, .png, .tif, .tiff, .dpx, .jpg or .jpeg)");
    }
    return format;
}

}  // namespace

void write_image(const std::string& path, const Image& image, const WriteOptions& options) {
    const std::string name = escape_text(path);
    const std::string format = writable_format(path, name);
    check_image(image, name);
    init_library();
    AtomicFile file(path);
    try {
        // JPEG goes to memory first: its library prints a line of its own
        // when the disk is full.
        if (format == "jpeg") {
            std::vector<unsigned char> bytes;
            OIIO::Filesystem::IOVecOutput memory(bytes);
            encode(format, image, options, memory, file.temp(), name);
            if (std::fwrite(bytes.data(), 1, bytes.size(), file.stream()) != bytes.size()) {
                throw ImageWriteError(name + ": write failed: " + errno_text(errno));
            }
        } else {
            OIIO::Filesystem::IOFile stream(file.stream(), OIIO::Filesystem::IOProxy::Write);
            encode(format, image, options, stream, file.temp(), name);
        }
    } catch (const ImageError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw ImageError(name + ": out of memory");
    } catch (const std::exception& e) {
        throw ImageWriteError(name + ": cannot write: " + library_text(e.what()));
    }
    file.commit();
}

std::vector<unsigned char> encode_image(std::string_view name, const Image& image, const WriteOptions& options) {
    const std::string label = escape_text(name);
    const std::string format = writable_format(name, label);
    check_image(image, label);
    init_library();
    std::vector<unsigned char> bytes;
    OIIO::Filesystem::IOVecOutput memory(bytes);
    encode(format, image, options, memory, std::string(name), label);
    return bytes;
}

}  // namespace cli
