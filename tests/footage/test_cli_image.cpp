// Images: files through the image library, sample conversions, colour,
// downscale.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "footage/image_io.h"
#include "tests/support/pixels.h"

namespace {

namespace fs = std::filesystem;
using cli::Image;
using cli::ImageError;

// A fresh directory, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "trellis-cli-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    fs::path path_;
};

std::vector<unsigned char> slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void spit(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

template <class P>
Image random_image(int w, int h, unsigned seed) {
    Image img = cli::make_image(w, h, Image::k8);
    std::mt19937 rng(seed);
    if constexpr (std::is_same_v<P, PF_Pixel8>) {
        for (PF_Pixel8& p : img.get<PF_Pixel8>()) {
            p = {static_cast<A_u_char>(rng()), static_cast<A_u_char>(rng()),
                 static_cast<A_u_char>(rng()), static_cast<A_u_char>(rng())};
        }
    } else if constexpr (std::is_same_v<P, PF_Pixel16>) {
        img = cli::make_image(w, h, Image::k16);
        for (PF_Pixel16& p : img.get<PF_Pixel16>()) {
            p = {static_cast<A_u_short>(rng() % 32769), static_cast<A_u_short>(rng() % 32769),
                 static_cast<A_u_short>(rng() % 32769), static_cast<A_u_short>(rng() % 32769)};
        }
    } else {
        img = cli::make_image(w, h, Image::kFloat);
        std::uniform_real_distribution<float> d(0.0f, 1.0f);
        for (PF_PixelFloat& p : img.get<PF_PixelFloat>()) p = {d(rng), d(rng), d(rng), d(rng)};
    }
    return img;
}

// --- Sample conversions ------------------------------------------------------

TEST(CliSamples, SixteenBitRoundTripIsExact) {
    // Every 16-bit world value survives the trip through a 16-bit file.
    for (uint32_t v = 0; v <= 32768; ++v) {
        const uint16_t p = cli::sample::world_to_png16(static_cast<A_u_short>(v));
        ASSERT_EQ(cli::sample::png16_to_world(p), v) << v;
    }
    // Every one of the 65536 file values lands on the nearest world value and
    // comes back within 1 (the world has half as many steps), in order.
    uint16_t prev = 0;
    for (uint32_t p = 0; p <= 65535; ++p) {
        const A_u_short v = cli::sample::png16_to_world(static_cast<uint16_t>(p));
        ASSERT_LE(std::fabs(v - p * 32768.0 / 65535.0), 0.5) << p;
        ASSERT_GE(v, prev) << p;
        prev = v;
        const int back = cli::sample::world_to_png16(v);
        ASSERT_LE(std::abs(back - static_cast<int>(p)), 1) << p;
    }
    EXPECT_EQ(cli::sample::png16_to_world(65535), 32768);
    // Out-of-range world values write as full.
    EXPECT_EQ(cli::sample::world_to_png16(32769), 65535);
    EXPECT_EQ(cli::sample::world_to_png16(65535), 65535);
}

TEST(CliSamples, EightBitConversions) {
    for (uint32_t p = 0; p <= 255; ++p) {
        const auto b = static_cast<uint8_t>(p);
        const A_u_short w = cli::sample::png8_to_world(b);
        EXPECT_EQ(w, (p * 32768 + 127) / 255);
        EXPECT_EQ(cli::sample::world_to_8(w), p);
        EXPECT_EQ(cli::sample::png16_to_8(static_cast<uint16_t>(p * 257)), p);
        EXPECT_EQ(cli::sample::float_to_8(cli::sample::png8_to_float(b)), p);
    }
    EXPECT_EQ(cli::sample::png8_to_world(255), 32768);
    for (uint32_t v = 0; v <= 32768; ++v) {
        const float f = cli::sample::world_to_float(static_cast<A_u_short>(v));
        ASSERT_EQ(cli::sample::float_to_world(f), v);
    }
    // Floats clamp, NaN becomes 0.
    EXPECT_EQ(cli::sample::float_to_8(-0.5f), 0);
    EXPECT_EQ(cli::sample::float_to_8(7.0f), 255);
    EXPECT_EQ(cli::sample::float_to_8(std::nanf("")), 0);
    EXPECT_EQ(cli::sample::float_to_world(2.0f), 32768);
    EXPECT_EQ(cli::sample::float_to_png16(1.0f), 65535);
    EXPECT_EQ(cli::sample::float_to_png16(0.5f), 32768);
}

TEST(CliConvert, EveryPairOfDepths) {
    Image eight = cli::make_image(256, 1, Image::k8);
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<A_u_char>(i);
        eight.get<PF_Pixel8>()[i] = {v, static_cast<A_u_char>(255 - i), v, static_cast<A_u_char>(i / 2)};
    }
    const Image sixteen = cli::convert(eight, Image::k16);
    ASSERT_EQ(sixteen.depth(), Image::k16);
    for (int i = 0; i < 256; ++i) {
        const PF_Pixel8& p = eight.get<PF_Pixel8>()[i];
        const PF_Pixel16& q = sixteen.get<PF_Pixel16>()[i];
        EXPECT_EQ(q.alpha, cli::sample::png8_to_world(p.alpha));
        EXPECT_EQ(q.red, cli::sample::png8_to_world(p.red));
        EXPECT_EQ(q.blue, cli::sample::png8_to_world(p.blue));
    }
    const Image fl = cli::convert(eight, Image::kFloat);
    EXPECT_EQ(fl.get<PF_PixelFloat>()[51].alpha, 51.0f / 255.0f);
    // Back to 8 bits from either is the identity.
    EXPECT_EQ(cli::convert(sixteen, Image::k8).get<PF_Pixel8>(), eight.get<PF_Pixel8>());
    EXPECT_EQ(cli::convert(fl, Image::k8).get<PF_Pixel8>(), eight.get<PF_Pixel8>());
    EXPECT_EQ(cli::convert(cli::convert(sixteen, Image::kFloat), Image::k16).get<PF_Pixel16>(),
              sixteen.get<PF_Pixel16>());
    EXPECT_EQ(cli::convert(eight, Image::k8).get<PF_Pixel8>(), eight.get<PF_Pixel8>());
}

TEST(CliMakeImage, LimitsAreCheckedFirst) {
    const Image img = cli::make_image(3, 2, Image::k16);
    EXPECT_EQ(img.get<PF_Pixel16>().size(), 6u);
    EXPECT_EQ(img.get<PF_Pixel16>()[5], (PF_Pixel16{0, 0, 0, 0}));
    EXPECT_THROW(cli::make_image(0, 5, Image::k8), ImageError);
    EXPECT_THROW(cli::make_image(cli::kMaxImageDimension + 1, 1, Image::k8), ImageError);
    EXPECT_THROW(cli::make_image(1 << 15, 1 << 14, Image::kFloat), ImageError);  // 2^29 pixels
}

// --- Test files made here --------------------------------------------------------

void put_be32(std::vector<unsigned char>& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<unsigned char>(v >> s));
}

void png_chunk(std::vector<unsigned char>& b, const char* type, const std::vector<unsigned char>& data) {
    put_be32(b, static_cast<uint32_t>(data.size()));
    const std::size_t at = b.size();
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), data.begin(), data.end());
    put_be32(b, static_cast<uint32_t>(crc32(0, b.data() + at, static_cast<uInt>(b.size() - at))));
}

// A PNG byte by byte: `rows` are the file's packed rows, each given a
// filter byte of 0 here; `extra` chunks (PLTE, tRNS) go before the data.
std::vector<unsigned char> make_png(uint32_t w, uint32_t h, int bits, int colour, const std::vector<unsigned char>& rows,
                                    const std::vector<std::pair<const char*, std::vector<unsigned char>>>& extra = {}) {
    std::vector<unsigned char> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<unsigned char> ihdr;
    put_be32(ihdr, w);
    put_be32(ihdr, h);
    for (int v : {bits, colour, 0, 0, 0}) ihdr.push_back(static_cast<unsigned char>(v));
    png_chunk(b, "IHDR", ihdr);
    for (const auto& [type, data] : extra) png_chunk(b, type, data);
    std::vector<unsigned char> raw;
    const std::size_t stride = h ? rows.size() / h : 0;
    for (uint32_t y = 0; y < h; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rows.begin() + static_cast<long>(y * stride), rows.begin() + static_cast<long>((y + 1) * stride));
    }
    uLongf n = compressBound(static_cast<uLong>(raw.size()));
    std::vector<unsigned char> z(n);
    compress(z.data(), &n, raw.data(), static_cast<uLong>(raw.size()));
    z.resize(n);
    png_chunk(b, "IDAT", z);
    png_chunk(b, "IEND", {});
    return b;
}

// A file written with the library directly: `channels` named, float samples
// `values` (channel-interleaved) over the data window, optionally tiled.
void write_oiio(const std::string& path, OIIO::ImageSpec header, const std::vector<float>& values) {
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out) << OIIO::geterror();
    ASSERT_TRUE(out->open(path, header)) << out->geterror();
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, values.data())) << out->geterror();
    ASSERT_TRUE(out->close());
}

// The file's samples as the library gives them, untouched: straight alpha
// kept, nothing premultiplied or divided.
struct RawFile {
    OIIO::ImageSpec header;
    std::vector<float> values;
};
RawFile read_raw(const std::string& path, bool pixels = true) {
    RawFile r;
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::create(path);
    if (!in || !in->open(path, r.header, config)) {
        ADD_FAILURE() << (in ? in->geterror() : OIIO::geterror());
        return r;
    }
    if (!pixels) return r;
    r.values.resize(r.header.image_pixels() * static_cast<std::size_t>(r.header.nchannels));
    EXPECT_TRUE(in->read_image(0, 0, 0, r.header.nchannels, OIIO::TypeDesc::FLOAT, r.values.data()));
    return r;
}

std::string error_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const ImageError& e) {
        return e.what();
    }
    return "(no error)";
}

// --- Formats -----------------------------------------------------------------------

TEST(CliFiles, IntegerFormatsRoundTripExactly) {
    TempDir dir;
    const Image eight = random_image<PF_Pixel8>(37, 23, 1);
    // Every 16-bit world value, in every channel.
    Image wide = cli::make_image(181, 182, Image::k16);
    auto& w = wide.get<PF_Pixel16>();
    for (std::size_t i = 0; i < w.size(); ++i) {
        const auto v = static_cast<A_u_short>(i % 32769);
        w[i] = {static_cast<A_u_short>(32768 - v), v, static_cast<A_u_short>((v * 7u) % 32769u), v};
    }
    for (const char* ext : {"png", "tif", "dpx"}) {
        SCOPED_TRACE(ext);
        const std::string p8 = dir.file(std::string("e.") + ext), p16 = dir.file(std::string("w.") + ext);
        cli::write_image(p8, eight);
        cli::write_image(p16, wide);
        const Image a = cli::read_image(p8), b = cli::read_image(p16);
        ASSERT_EQ(a.depth(), Image::k8);
        EXPECT_EQ(a.get<PF_Pixel8>(), eight.get<PF_Pixel8>());
        ASSERT_EQ(b.depth(), Image::k16);
        EXPECT_EQ(b.get<PF_Pixel16>(), w);
        // Straight samples in the file (not divided by alpha on write), RGBA.
        const RawFile raw = read_raw(p8);
        ASSERT_EQ(raw.header.nchannels, 4);
        const PF_Pixel8& q = eight.get<PF_Pixel8>()[5];
        EXPECT_EQ(std::lround(raw.values[20] * 255), q.red);
        EXPECT_EQ(std::lround(raw.values[23] * 255), q.alpha);
        // And read at other depths straight from the file's samples.
        EXPECT_EQ(cli::read_image(p16, Image::kFloat).get<PF_PixelFloat>()[3].red,
                  cli::sample::png16_to_float(cli::sample::world_to_png16(w[3].red)));
        EXPECT_EQ(cli::read_image(p8, Image::k16).get<PF_Pixel16>(), cli::convert(eight, Image::k16).get<PF_Pixel16>());
    }
}

TEST(CliFiles, TenBitDpxAndFloatTiff) {
    TempDir dir;
    OIIO::ImageSpec header(4, 1, 3, OIIO::TypeDesc::UINT16);
    header.attribute("oiio:BitsPerSample", 10);
    const std::vector<float> v = {0, 0, 0, 1, 1, 1, 512 / 1023.0f, 0, 1, 1 / 1023.0f, 0, 0};
    write_oiio(dir.file("t.dpx"), header, v);
    const Image img = cli::read_image(dir.file("t.dpx"));
    ASSERT_EQ(img.depth(), Image::k16);
    const auto& px = img.get<PF_Pixel16>();
    EXPECT_EQ(px[0], (PF_Pixel16{32768, 0, 0, 0}));
    EXPECT_EQ(px[1], (PF_Pixel16{32768, 32768, 32768, 32768}));
    // 10-bit 512 is 16-bit 32800 (bits repeated), world 16400.
    EXPECT_EQ(px[2].red, cli::sample::png16_to_world(512 << 6 | 512 >> 4));

    // Float TIFF: straight alpha, to integer depths by the float rules.
    OIIO::ImageSpec fspec(2, 1, 4, OIIO::TypeDesc::FLOAT);
    fspec.attribute("oiio:UnassociatedAlpha", 1);
    write_oiio(dir.file("f.tif"), fspec, {0.5f, 2.0f, -1.0f, 0.25f, 0.1f, 0.2f, 0.3f, 1.0f});
    EXPECT_EQ(cli::read_image(dir.file("f.tif")).get<PF_PixelFloat>()[0], (PF_PixelFloat{0.25f, 0.5f, 2.0f, -1.0f}));
    EXPECT_EQ(cli::read_image(dir.file("f.tif"), Image::k8).get<PF_Pixel8>()[0], (PF_Pixel8{64, 128, 255, 0}));
    EXPECT_EQ(cli::read_image(dir.file("f.tif"), Image::k16).get<PF_Pixel16>()[1].red, cli::sample::float_to_world(0.1f));
}

TEST(CliFiles, ExrIsPremultipliedInTheFileAndStraightInMemory) {
    TempDir dir;
    Image img = cli::make_image(3, 1, Image::kFloat);
    img.get<PF_PixelFloat>() = {{0.5f, 0.25f, 1.0f, 0.75f}, {0.0f, 1.0f, 1.0f, 1.0f}, {1.0f, 0.1f, 0.2f, 0.3f}};
    for (const auto type : {cli::ExrType::kFloat, cli::ExrType::kHalf}) {
        SCOPED_TRACE(static_cast<int>(type));
        const std::string path = dir.file("p.exr");
        cli::write_image(path, img, {cli::ExrCompression::kZip, type});
        const RawFile raw = read_raw(path);
        EXPECT_EQ(raw.header.format, type == cli::ExrType::kHalf ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::FLOAT);
        EXPECT_EQ(raw.values[0], 0.125f);  // R = 0.25 * 0.5
        EXPECT_EQ(raw.values[2], 0.375f);
        EXPECT_EQ(raw.values[3], 0.5f);
        EXPECT_EQ(raw.values[4], 0.0f);  // transparent: colour gone
        const Image back = cli::read_image(path);
        ASSERT_EQ(back.depth(), Image::kFloat);
        EXPECT_EQ(back.get<PF_PixelFloat>()[0], img.get<PF_PixelFloat>()[0]);
        EXPECT_EQ(back.get<PF_PixelFloat>()[1], (PF_PixelFloat{0, 0, 0, 0}));
        if (type == cli::ExrType::kFloat) {
            EXPECT_EQ(back.get<PF_PixelFloat>()[2], img.get<PF_PixelFloat>()[2]);
        }
    }
    // Integer images reach the float file by the sample rules.
    const Image eight = random_image<PF_Pixel8>(5, 4, 3);
    cli::write_image(dir.file("e.exr"), eight);
    EXPECT_EQ(cli::read_image(dir.file("e.exr"), Image::k8).get<PF_Pixel8>()[7].alpha, eight.get<PF_Pixel8>()[7].alpha);
}

TEST(CliFiles, ExrCompressionIsWritten) {
    TempDir dir;
    const Image img = random_image<PF_PixelFloat>(40, 35, 4);
    for (const char* name : {"none", "rle", "zip", "zips", "piz", "dwaa", "dwab"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(std::string(name) + ".exr");
        cli::write_image(path, img, {cli::parse_exr_compression(name), cli::ExrType::kHalf});
        const RawFile raw = read_raw(path, false);
        EXPECT_EQ(raw.header.get_string_attribute("compression"), name);
        EXPECT_EQ(raw.header.format, OIIO::TypeDesc::HALF);
        const Image back = cli::read_image(path);
        const PF_PixelFloat& a = img.get<PF_PixelFloat>()[601];
        const PF_PixelFloat& b = back.get<PF_PixelFloat>()[601];
        const bool lossy = std::string_view(name).substr(0, 3) == "dwa";
        EXPECT_NEAR(b.alpha, a.alpha, 1e-3);
        EXPECT_NEAR(b.red * b.alpha, a.red * a.alpha, lossy ? 0.05 : 1e-3);
    }
    EXPECT_EQ(cli::parse_exr_type("half"), cli::ExrType::kHalf);
    EXPECT_EQ(cli::parse_exr_type("float"), cli::ExrType::kFloat);
    EXPECT_THROW(cli::parse_exr_type("double"), ImageError);
    EXPECT_THROW(cli::parse_exr_compression("ZIP"), ImageError);
    EXPECT_THROW(cli::parse_exr_compression("b44"), ImageError);
}

TEST(CliFiles, PngCompressionLevelsKeepThePixels) {
    // A frame-like picture: flat, with a few small gradient strokes.
    TempDir dir;
    Image img = cli::make_image(640, 360, Image::k8);
    auto& px = img.get<PF_Pixel8>();
    for (std::size_t i = 0; i < px.size(); ++i) {
        const int x = static_cast<int>(i % 640), y = static_cast<int>(i / 640);
        const bool stroke = x / 40 % 3 == 0 && y / 30 % 2 == 0 && x % 40 < 8 && y % 30 < 20;
        px[i] = stroke ? PF_Pixel8{255, static_cast<A_u_char>(40 + x % 40 * 5), static_cast<A_u_char>(110 + y % 30), 170}
                       : PF_Pixel8{255, 40, 110, 170};
    }
    const auto size_at = [&](int level) {
        const std::string path = dir.file("c" + std::to_string(level) + ".png");
        cli::WriteOptions options;
        options.png_compression = level;
        cli::write_image(path, img, options);
        EXPECT_EQ(cli::read_image(path).get<PF_Pixel8>(), px) << "level " << level;
        return fs::file_size(path);
    };
    const auto fast = size_at(cli::WriteOptions{}.png_compression), stored = size_at(0), level6 = size_at(6),
               level9 = size_at(9), level1 = size_at(1);
    EXPECT_GE(stored, px.size() * 4);
    EXPECT_LE(level9, level6);
    // The default stays within 15 % of level 6, where the fastest levels
    // do not.
    EXPECT_LE(fast * 100, level6 * 115);
    EXPECT_GT(level1 * 100, level6 * 115);
}

TEST(CliFiles, JpegIsLossyButReadable) {
    TempDir dir;
    Image img = cli::make_image(32, 16, Image::k16);
    for (PF_Pixel16& p : img.get<PF_Pixel16>()) p = {100, 16384, 8192, 30000};  // alpha is dropped
    cli::write_image(dir.file("j.JPEG"), img);
    const Image back = cli::read_image(dir.file("j.JPEG"));
    ASSERT_EQ(back.depth(), Image::k8);
    const PF_Pixel8 p = back.get<PF_Pixel8>()[100];
    EXPECT_EQ(p.alpha, 255);
    EXPECT_NEAR(p.red, 128, 3);
    EXPECT_NEAR(p.green, 64, 3);
    EXPECT_NEAR(p.blue, 233, 3);
}

TEST(CliFiles, PngColourTypesReadAsArgb) {
    const struct {
        const char* name;
        std::vector<unsigned char> file;
        std::vector<PF_Pixel8> want;
    } cases[] = {
        {"grey1", make_png(3, 1, 1, 0, {0xa0}), {{255, 255, 255, 255}, {255, 0, 0, 0}, {255, 255, 255, 255}}},
        {"grey4", make_png(2, 1, 4, 0, {0x3f}), {{255, 0x33, 0x33, 0x33}, {255, 0xff, 0xff, 0xff}}},
        {"grey+alpha", make_png(2, 1, 8, 4, {10, 200, 30, 0}), {{200, 10, 10, 10}, {0, 30, 30, 30}}},
        {"grey key", make_png(2, 1, 8, 0, {7, 9}, {{"tRNS", {0, 9}}}), {{255, 7, 7, 7}, {0, 9, 9, 9}}},
        {"rgb", make_png(2, 1, 8, 2, {1, 2, 3, 4, 5, 6}), {{255, 1, 2, 3}, {255, 4, 5, 6}}},
        {"palette", make_png(3, 1, 8, 3, {2, 0, 1}, {{"PLTE", {10, 20, 30, 40, 50, 60, 70, 80, 90}}, {"tRNS", {255, 128}}}),
         {{255, 70, 80, 90}, {255, 10, 20, 30}, {128, 40, 50, 60}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Image img = cli::read_image_memory(c.file.data(), c.file.size());
        ASSERT_EQ(img.depth(), Image::k8);
        EXPECT_EQ(img.get<PF_Pixel8>(), c.want);
    }
    // 16-bit grey: one sample per pixel, to each depth by the sample rules.
    const std::vector<unsigned char> g16 = make_png(2, 1, 16, 0, {0x80, 0x00, 0xff, 0xff});
    EXPECT_EQ(cli::read_image_memory(g16.data(), g16.size()).get<PF_Pixel16>(),
              (std::vector<PF_Pixel16>{{32768, 16384, 16384, 16384}, {32768, 32768, 32768, 32768}}));
    EXPECT_EQ(cli::read_image_memory(g16.data(), g16.size(), Image::k8).get<PF_Pixel8>()[0].red,
              cli::sample::png16_to_8(0x8000));
}

TEST(CliFiles, ExrWindowsTilesAndChannels) {
    TempDir dir;
    // Display window 3x3 at (0,0); data 2x2 at (1,1) with only Y: the rest
    // transparent, Y grey, no alpha opaque. Tiled.
    OIIO::ImageSpec header(2, 2, 1, OIIO::TypeDesc::HALF);
    header.x = header.y = 1;
    header.full_x = header.full_y = 0;
    header.full_width = header.full_height = 3;
    header.channelnames = {"Y"};
    header.tile_width = header.tile_height = 16;
    write_oiio(dir.file("y.exr"), header, {0.5f, 1.0f, 0.25f, 0.0f});
    const Image img = cli::read_image(dir.file("y.exr"));
    ASSERT_EQ(img.width, 3);
    const auto& px = img.get<PF_PixelFloat>();
    EXPECT_EQ(px[0], (PF_PixelFloat{0, 0, 0, 0}));
    EXPECT_EQ(px[4], (PF_PixelFloat{1, 0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(px[8], (PF_PixelFloat{1, 0, 0, 0}));

    // Overscan, data beyond the display window on any side, is refused.
    for (const auto& [x, y, w] : {std::tuple{-1, 0, 2}, std::tuple{0, 0, 4}, std::tuple{2, 2, 2}}) {
        OIIO::ImageSpec over(w, w, 1, OIIO::TypeDesc::HALF);
        over.x = x;
        over.y = y;
        over.full_width = over.full_height = 3;
        over.channelnames = {"Y"};
        write_oiio(dir.file("over.exr"), over, std::vector<float>(static_cast<std::size_t>(w * w), 0.5f));
        try {
            (void)cli::read_image(dir.file("over.exr"));
            ADD_FAILURE() << "overscan at " << x << "," << y << " was cropped";
        } catch (const ImageError& e) {
            EXPECT_NE(std::string(e.what()).find("beyond its display window"), std::string::npos) << e.what();
        }
    }

    // Many channels between B and R: each of A, R, G, B is still found.
    OIIO::ImageSpec many(2, 1, 14, OIIO::TypeDesc::FLOAT);
    many.channelnames = {"A", "B", "C0", "C1", "C2", "C3", "C4", "C5", "C6", "C7", "C8", "C9", "G", "R"};
    many.alpha_channel = 0;
    std::vector<float> v(28, 9.0f);
    for (int x = 0; x < 2; ++x) {
        v[x * 14 + 0] = 0.5f;
        v[x * 14 + 1] = 0.125f * x;
        v[x * 14 + 12] = 0.25f;
        v[x * 14 + 13] = 0.375f;
    }
    write_oiio(dir.file("m.exr"), many, v);
    EXPECT_EQ(cli::read_image(dir.file("m.exr")).get<PF_PixelFloat>()[1], (PF_PixelFloat{0.5f, 0.75f, 0.5f, 0.25f}));
}

TEST(CliFiles, StaleTemporariesGoAndLiveOnesStay) {
    TempDir dir;
    const std::string a = dir.file("a.0001.png");
    const auto touch = [&](const std::string& name) { std::ofstream(dir.file(name)) << "x"; };
    // Killed writers of a.0001.png and a.0002.png; names that only look alike.
    for (const char* name : {".a.0001.png.tmp0123abcd", ".a.0002.png.tmp89abcdef", ".a.0003.png.tmp01234567",
                             ".a.0001.png.tmp0123abcX", ".a.0001.png.tmp0123abc", "a.0001.png.tmp0123abcd"}) {
        touch(name);
    }
    std::string live;
    const int fd = cli::create_temporary_beside(a, a, live);
    EXPECT_EQ(cli::remove_stale_temporaries({a, dir.file("a.0002.png")}), 2u);
    EXPECT_TRUE(fs::exists(live));
    ::close(fd);
    for (const char* gone : {".a.0001.png.tmp0123abcd", ".a.0002.png.tmp89abcdef"}) {
        EXPECT_FALSE(fs::exists(dir.file(gone))) << gone;
    }
    for (const char* kept : {".a.0003.png.tmp01234567", ".a.0001.png.tmp0123abcX", ".a.0001.png.tmp0123abc",
                             "a.0001.png.tmp0123abcd"}) {
        EXPECT_TRUE(fs::exists(dir.file(kept))) << kept;
    }
    // Once its writer is gone, it is stale too.
    EXPECT_EQ(cli::remove_stale_temporaries({a}), 1u);
    EXPECT_FALSE(fs::exists(live));
}

TEST(CliFiles, FormatComesFromTheBytesNotTheName) {
    TempDir dir;
    const Image img = random_image<PF_Pixel8>(4, 3, 9);
    cli::write_image(dir.file("a.png"), img);
    cli::write_image(dir.file("a.tif"), img);
    fs::rename(dir.file("a.png"), dir.file("png.exr"));
    fs::rename(dir.file("a.tif"), dir.file("tif"));
    EXPECT_EQ(cli::read_image(dir.file("png.exr")).get<PF_Pixel8>(), img.get<PF_Pixel8>());
    EXPECT_EQ(cli::read_image(dir.file("tif")).get<PF_Pixel8>(), img.get<PF_Pixel8>());
    EXPECT_THROW(cli::write_image(dir.file("out.gif"), img), ImageError);
    EXPECT_TRUE(cli::is_image_extension("a/b.TIFF"));
    EXPECT_FALSE(cli::is_image_extension("a.exr/b"));
    EXPECT_FALSE(cli::is_image_extension("exr"));
}

// --- Bad files ---------------------------------------------------------------------

// Every prefix of a valid file is refused cleanly, and flipped bytes give an
// error or an image, never a crash or another exception.
void expect_damage_refused(const std::vector<unsigned char>& bytes, std::size_t step) {
    for (std::size_t n = 0; n < bytes.size(); n += step) {
        EXPECT_THROW(cli::read_image_memory(bytes.data(), n), ImageError) << n << " of " << bytes.size();
    }
    for (std::size_t i = 0; i < bytes.size(); i += step) {
        for (unsigned char x : {0x01, 0x80, 0xff}) {
            std::vector<unsigned char> b = bytes;
            b[i] ^= x;
            try {
                const Image img = cli::read_image_memory(b.data(), b.size());
                EXPECT_LE(int64_t{img.width} * img.height, cli::kMaxImagePixels);
            } catch (const ImageError& e) {
                EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos) << e.what();
            }
        }
    }
}

TEST(CliBadFiles, DamagedFilesAreRefused) {
    TempDir dir;
    const Image img = random_image<PF_Pixel16>(9, 7, 2);
    for (const char* name : {"a.png", "a.exr", "a.tif", "a.dpx"}) {
        SCOPED_TRACE(name);
        cli::write_image(dir.file(name), img);
        const std::vector<unsigned char> bytes = slurp(dir.file(name));
        ASSERT_GT(bytes.size(), 100u);
        expect_damage_refused(bytes, bytes.size() / 97 + 1);
    }
    // A flipped byte in a PNG is caught by its checksum, before the decoder.
    std::vector<unsigned char> png = slurp(dir.file("a.png"));
    png[png.size() - 20] ^= 0x10;
    EXPECT_NE(error_of([&] { cli::read_image_memory(png.data(), png.size(), "x.png"); }).find("damaged"),
              std::string::npos);
    std::vector<unsigned char> cut(png.begin(), png.begin() + static_cast<long>(png.size() / 2));
    spit(dir.file("cut.png"), cut);
    EXPECT_NE(error_of([&] { cli::read_image(dir.file("cut.png")); }).find("truncated"), std::string::npos);
    EXPECT_NE(error_of([&] { cli::read_image(dir.file("missing.png")); }).find("cannot open"), std::string::npos);
    EXPECT_NE(error_of([&] { cli::read_image(dir.file("")); }).find("directory"), std::string::npos);
}

TEST(CliBadFiles, OversizedImagesAreRefusedBeforeAllocating) {
    // Header only, no data: refused on the size, not on the missing data.
    for (const auto& [w, h] : {std::pair{100000u, 100000u}, {1u << 21, 1u}}) {
        std::vector<unsigned char> b = make_png(w, h, 8, 6, {});
        const std::string e = error_of([&] { cli::read_image_memory(b.data(), b.size(), "big.png"); });
        EXPECT_NE(e.find("larger than supported"), std::string::npos) << e;
    }
    std::vector<unsigned char> ok = make_png(64, 64, 8, 6, {});
    EXPECT_EQ(error_of([&] { cli::read_image_memory(ok.data(), ok.size()); }).find("larger"), std::string::npos);

    // A display window of 10^10 pixels around one pixel of data; with the
    // address space capped well below what it would take, it must still be
    // refused by its header.
    TempDir dir;
    OIIO::ImageSpec header(1, 1, 1, OIIO::TypeDesc::HALF);
    header.full_width = header.full_height = 100000;
    write_oiio(dir.file("big.exr"), header, {1.0f});
    const std::string e = error_of([&] { cli::read_image(dir.file("big.exr")); });
    EXPECT_NE(e.find("larger than supported"), std::string::npos) << e;
}

TEST(CliBadFiles, TextFromFilesIsEscaped) {
    EXPECT_EQ(cli::escape_text("plain name.exr"), "plain name.exr");
    EXPECT_EQ(cli::escape_text(std::string("a\x1b[31m\n\x7f\\\0z", 11)), "a\\x1b[31m\\x0a\\x7f\\x5c\\x00z");
    EXPECT_EQ(cli::escape_text("\xc3\xa9"), "\\xc3\\xa9");
    // A hostile name in an error message arrives escaped.
    TempDir dir;
    const std::string e = error_of([&] { cli::read_image(dir.file("\x1b]0;owned\x07.png")); });
    EXPECT_EQ(e.find('\x1b'), std::string::npos) << e;
    EXPECT_NE(e.find("\\x1b]0;owned\\x07.png"), std::string::npos) << e;
}

// --- Colour ------------------------------------------------------------------------

TEST(CliColour, ConversionsMatchTheTransferFunctions) {
    const auto names = cli::colorspace_names();
    for (const char* n : {"sRGB", "linear"}) EXPECT_NE(std::find(names.begin(), names.end(), n), names.end()) << n;

    Image img = cli::make_image(3, 1, Image::kFloat);
    img.get<PF_PixelFloat>() = {{0.5f, 0.5f, 0.0f, 1.0f}, {1.0f, 0.04045f, 0.2f, 0.8f}, {0.25f, 0.75f, 0.1f, 0.9f}};
    const Image original = img;
    cli::convert_colorspace(img, "sRGB", "linear");
    const PF_PixelFloat& p = img.get<PF_PixelFloat>()[0];
    EXPECT_NEAR(p.red, 0.214041, 1e-5);
    EXPECT_EQ(p.green, 0.0f);
    EXPECT_NEAR(p.blue, 1.0, 1e-6);
    EXPECT_EQ(p.alpha, 0.5f);  // alpha is not colour
    EXPECT_NEAR(img.get<PF_PixelFloat>()[1].red, 0.04045 / 12.92, 1e-6);
    EXPECT_NEAR(img.get<PF_PixelFloat>()[2].red, std::pow((0.75 + 0.055) / 1.055, 2.4), 1e-5);
    cli::convert_colorspace(img, "linear", "sRGB");
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(img.get<PF_PixelFloat>()[i].blue, original.get<PF_PixelFloat>()[i].blue, 1e-5);

    // Integer images go through float and back with the sample rules.
    Image eight = cli::make_image(1, 1, Image::k8);
    eight.get<PF_Pixel8>()[0] = {200, 128, 255, 0};
    cli::convert_colorspace(eight, "sRGB", "linear");
    EXPECT_EQ(eight.get<PF_Pixel8>()[0], (PF_Pixel8{200, 55, 255, 0}));  // 0.21586 * 255 = 55.04

    const std::string e = error_of([&] { cli::convert_colorspace(eight, "sRGB", "Display\x1bP3"); });
    EXPECT_NE(e.find("Display\\x1bP3"), std::string::npos) << e;
    cli::convert_colorspace(eight, "no such", "no such");  // the same space: nothing to do
}

// --- Safe writing ---------------------------------------------------------------

// Lowers the file size limit for the scope, so writes fail part way.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        old_handler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit lim = old_;
        lim.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, old_handler_);
    }

private:
    rlimit old_{};
    void (*old_handler_)(int) = nullptr;
};

TEST(CliWrite, FailedWritesLeaveNothingAndKeepTheOldFile) {
    TempDir dir;
    const Image img = random_image<PF_PixelFloat>(64, 64, 7);
    for (const char* name : {"out.png", "out.exr", "out.tif", "out.dpx", "out.jpg"}) {
        SCOPED_TRACE(name);
        const std::string target = dir.file(name);
        spit(target, {'o', 'l', 'd'});
        {
            FileSizeLimit limit(1000);
            EXPECT_THROW(cli::write_image(target, img, {cli::ExrCompression::kNone}), cli::ImageWriteError);
        }
        EXPECT_EQ(slurp(target), (std::vector<unsigned char>{'o', 'l', 'd'}));
        EXPECT_EQ(dir.entries(), std::vector<std::string>{name});
        // Success replaces the old file.
        cli::write_image(target, img);
        EXPECT_EQ(cli::read_image(target).width, 64);
        fs::remove(target);
    }
    const std::string target = dir.file("out.png");
    // An invalid image is refused before anything is touched.
    Image broken = img;
    broken.get<PF_PixelFloat>().pop_back();
    EXPECT_THROW(cli::write_image(target, broken), ImageError);
    // A directory in the way, and a directory that does not exist.
    fs::create_directory(dir.file("sub.exr"));
    EXPECT_THROW(cli::write_image(dir.file("sub.exr"), img), cli::ImageWriteError);
    EXPECT_TRUE(fs::is_empty(dir.file("sub.exr")));
    EXPECT_THROW(cli::write_image(dir.file("nowhere/x.png"), img), cli::ImageWriteError);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"sub.exr"}));
}

TEST(CliWrite, LinksModesAndSpecialFiles) {
    TempDir dir;
    const Image img = random_image<PF_Pixel8>(3, 3, 8);
    // A link to a file: the file is replaced, the link stays.
    spit(dir.file("real.png"), {'x'});
    ::chmod(dir.file("real.png").c_str(), 0640);
    fs::create_symlink("real.png", dir.file("link.png"));
    cli::write_image(dir.file("link.png"), img);
    EXPECT_TRUE(fs::is_symlink(dir.file("link.png")));
    EXPECT_EQ(cli::read_image(dir.file("real.png")).get<PF_Pixel8>(), img.get<PF_Pixel8>());
    EXPECT_EQ(fs::status(dir.file("real.png")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // A FIFO in the way is refused, not replaced.
    ASSERT_EQ(::mkfifo(dir.file("fifo.exr").c_str(), 0600), 0);
    EXPECT_THROW(cli::write_image(dir.file("fifo.exr"), img), cli::ImageWriteError);
    EXPECT_TRUE(fs::is_fifo(dir.file("fifo.exr")));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"fifo.exr", "link.png", "real.png"}));
}

// --- Downscale ---------------------------------------------------------------------

TEST(CliDownsample, OutputSizes) {
    const struct {
        int w, h;
        int64_t num, den;
        int ow, oh;
    } cases[] = {{5, 3, 1, 2, 3, 2}, {1, 1, 1, 1000, 1, 1}, {10, 10, 3, 4, 8, 8},
                 {7, 9, 1, 3, 3, 3}, {4, 4, 1, 1, 4, 4},    {1920, 1080, 1, 4, 480, 270}};
    for (const auto& c : cases) {
        const Image out = cli::downsample(cli::make_image(c.w, c.h, Image::k8), c.num, c.den);
        EXPECT_EQ(out.width, c.ow) << c.w << "x" << c.h << " " << c.num << "/" << c.den;
        EXPECT_EQ(out.height, c.oh) << c.w << "x" << c.h << " " << c.num << "/" << c.den;
    }
    EXPECT_THROW(cli::downsample(cli::make_image(2, 2, Image::k8), 0, 1), ImageError);
}

TEST(CliDownsample, BoxAverageOfPremultipliedValues) {
    Image img = cli::make_image(2, 2, Image::k8);
    img.get<PF_Pixel8>() = {{255, 255, 0, 0}, {0, 123, 45, 67}, {255, 0, 0, 255}, {255, 0, 0, 255}};
    const Image out = cli::downsample(img, 1, 2);
    ASSERT_EQ(out.get<PF_Pixel8>().size(), 1u);
    // alpha 765/4 = 191.25; the transparent pixel's colour counts for nothing.
    EXPECT_EQ(out.get<PF_Pixel8>()[0], (PF_Pixel8{191, 85, 0, 170}));

    // All transparent: colour 0.
    Image clear = cli::make_image(2, 2, Image::k16);
    for (PF_Pixel16& p : clear.get<PF_Pixel16>()) p = {0, 1000, 2000, 3000};
    EXPECT_EQ(cli::downsample(clear, 1, 2).get<PF_Pixel16>()[0], (PF_Pixel16{0, 0, 0, 0}));
}

TEST(CliDownsample, EdgesAndFractionalFactors) {
    // An odd width: the last output pixel covers the last source pixel only.
    Image row = cli::make_image(3, 1, Image::kFloat);
    row.get<PF_PixelFloat>() = {{1, 0.5f, 0, 0}, {1, 0.25f, 0, 0}, {0.5f, 0.75f, 0, 0}};
    const Image half_row = cli::downsample(row, 1, 2);
    ASSERT_EQ(half_row.width, 2);
    EXPECT_EQ(half_row.get<PF_PixelFloat>()[0], (PF_PixelFloat{1, 0.375f, 0, 0}));
    EXPECT_EQ(half_row.get<PF_PixelFloat>()[1], (PF_PixelFloat{0.5f, 0.75f, 0, 0}));

    // 3/4: output pixel 0 covers source 0 fully and a third of source 1.
    Image four = cli::make_image(4, 1, Image::k16);
    four.get<PF_Pixel16>() = {{32768, 4000, 0, 0}, {32768, 8000, 0, 0}, {32768, 0, 0, 0}, {32768, 800, 0, 0}};
    const Image three = cli::downsample(four, 3, 4);
    ASSERT_EQ(three.width, 3);
    const auto& p = three.get<PF_Pixel16>();
    EXPECT_EQ(p[0].red, 5000);  // (3*4000 + 8000) / 4
    EXPECT_EQ(p[1].red, 4000);  // (2*8000 + 2*0) / 4
    EXPECT_EQ(p[2].red, 600);   // (0 + 3*800) / 4
    EXPECT_EQ(p[0].alpha, 32768);

    // A factor of 1 copies exactly, at every depth.
    const Image f = random_image<PF_PixelFloat>(5, 4, 11);
    EXPECT_EQ(cli::downsample(f, 1, 1).get<PF_PixelFloat>(), f.get<PF_PixelFloat>());
    const Image e = random_image<PF_Pixel8>(5, 4, 12);
    EXPECT_EQ(cli::downsample(e, 3, 3).get<PF_Pixel8>(), e.get<PF_Pixel8>());
}

}  // namespace
