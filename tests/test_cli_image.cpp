// Images: PNG and OpenEXR files, sample conversions, downscale.
#include <gtest/gtest.h>

#include <png.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

#include <ImfBoxAttribute.h>
#include <ImfChannelList.h>
#include <ImfChannelListAttribute.h>
#include <ImfChromaticitiesAttribute.h>
#include <ImfCompressionAttribute.h>
#include <ImfDeepImageStateAttribute.h>
#include <ImfDoubleAttribute.h>
#include <ImfEnvmapAttribute.h>
#include <ImfFloatAttribute.h>
#include <ImfFloatVectorAttribute.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIDManifestAttribute.h>
#include <ImfInputFile.h>
#include <ImfIntAttribute.h>
#include <ImfKeyCodeAttribute.h>
#include <ImfLineOrderAttribute.h>
#include <ImfMatrixAttribute.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOpaqueAttribute.h>
#include <ImfOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfPreviewImageAttribute.h>
#include <ImfRationalAttribute.h>
#include <ImfStringAttribute.h>
#include <ImfStringVectorAttribute.h>
#include <ImfTileDescriptionAttribute.h>
#include <ImfTiledOutputFile.h>
#include <ImfTimeCodeAttribute.h>
#include <ImfVecAttribute.h>
#include <half.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/image_io.h"

// Pixel comparison and printing for the assertions; in the pixels' own
// namespace so that std::vector's == and the test framework find them.
template <class P>
static bool same_pixel(const P& a, const P& b) {
    return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}
template <class P>
static std::ostream& print_pixel(std::ostream& os, const P& p) {
    return os << "(" << +p.alpha << ", " << +p.red << ", " << +p.green << ", " << +p.blue << ")";
}
static bool operator==(const PF_Pixel8& a, const PF_Pixel8& b) { return same_pixel(a, b); }
static bool operator==(const PF_Pixel16& a, const PF_Pixel16& b) { return same_pixel(a, b); }
static bool operator==(const PF_PixelFloat& a, const PF_PixelFloat& b) { return same_pixel(a, b); }
static std::ostream& operator<<(std::ostream& os, const PF_Pixel8& p) { return print_pixel(os, p); }
static std::ostream& operator<<(std::ostream& os, const PF_Pixel16& p) { return print_pixel(os, p); }
static std::ostream& operator<<(std::ostream& os, const PF_PixelFloat& p) { return print_pixel(os, p); }

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

// --- Writing test files with libpng directly --------------------------------

struct RawPng {
    int width, height, bit_depth, colour_type;
    bool interlaced;
    std::vector<unsigned char> rows;  // file layout, rows packed back to back
    std::vector<png_color> palette;
    std::vector<unsigned char> trns;
};

void raw_png_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// setjmp here: only plain data in this function.
bool write_raw_png_jmp(png_structp png, png_infop info, const RawPng* p) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(p->width), static_cast<png_uint_32>(p->height),
                 p->bit_depth, p->colour_type,
                 p->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!p->palette.empty()) {
        png_set_PLTE(png, info, p->palette.data(), static_cast<int>(p->palette.size()));
    }
    if (!p->trns.empty()) {
        png_set_tRNS(png, info, p->trns.data(), static_cast<int>(p->trns.size()), nullptr);
    }
    png_write_info(png, info);
    const std::size_t stride = p->rows.size() / static_cast<std::size_t>(p->height);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < p->height; ++y) png_write_row(png, p->rows.data() + y * stride);
    }
    png_write_end(png, info);
    return true;
}

void write_raw_png(const std::string& path, const RawPng& p) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, raw_png_error, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    const bool ok = write_raw_png_jmp(png, info, &p);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    ASSERT_TRUE(ok) << path;
}

// Reads a PNG with no transformations: the file's own samples.
bool read_raw_png_jmp(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    return true;
}

RawPng read_raw_png(const std::string& path) {
    RawPng r{0, 0, 0, 0, false, {}, {}, {}};
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return r;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, raw_png_error, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    if (read_raw_png_jmp(png, info)) {
        r.width = static_cast<int>(png_get_image_width(png, info));
        r.height = static_cast<int>(png_get_image_height(png, info));
        r.bit_depth = png_get_bit_depth(png, info);
        r.colour_type = png_get_color_type(png, info);
        const std::size_t stride = png_get_rowbytes(png, info);
        png_bytepp rows = png_get_rows(png, info);
        for (int y = 0; y < r.height; ++y) r.rows.insert(r.rows.end(), rows[y], rows[y] + stride);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return r;
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

// --- PNG ------------------------------------------------------------------------

TEST(CliPng, EightBitRoundTrip) {
    TempDir dir;
    const Image img = random_image<PF_Pixel8>(37, 23, 1);
    cli::write_image(dir.file("a.png"), img);
    const Image back = cli::read_image(dir.file("a.png"));
    ASSERT_EQ(back.depth(), Image::k8);
    EXPECT_EQ(back.width, 37);
    EXPECT_EQ(back.height, 23);
    EXPECT_EQ(back.get<PF_Pixel8>(), img.get<PF_Pixel8>());
    // Read at another depth: the same as converting.
    EXPECT_EQ(cli::read_image(dir.file("a.png"), Image::k16).get<PF_Pixel16>(),
              cli::convert(img, Image::k16).get<PF_Pixel16>());
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"a.png"});
}

TEST(CliPng, SixteenBitRoundTripOfEveryWorldValue) {
    TempDir dir;
    Image img = cli::make_image(257, 128, Image::k16);
    auto& px = img.get<PF_Pixel16>();
    for (std::size_t i = 0; i < px.size(); ++i) {
        const auto v = static_cast<A_u_short>(std::min<std::size_t>(i, 32768));
        px[i] = {v, static_cast<A_u_short>(32768 - v), static_cast<A_u_short>((v * 7) % 32769), v};
    }
    cli::write_image(dir.file("w.png"), img);
    const Image back = cli::read_image(dir.file("w.png"));
    ASSERT_EQ(back.depth(), Image::k16);
    EXPECT_EQ(back.get<PF_Pixel16>(), px);
}

TEST(CliPng, FilesHoldRgbaSamples) {
    TempDir dir;
    Image eight = cli::make_image(2, 1, Image::k8);
    eight.get<PF_Pixel8>() = {{1, 2, 3, 4}, {255, 0, 128, 7}};
    cli::write_image(dir.file("8.png"), eight);
    const RawPng r8 = read_raw_png(dir.file("8.png"));
    EXPECT_EQ(r8.bit_depth, 8);
    EXPECT_EQ(r8.colour_type, PNG_COLOR_TYPE_RGBA);
    EXPECT_EQ(r8.rows, (std::vector<unsigned char>{2, 3, 4, 1, 0, 128, 7, 255}));

    Image wide = cli::make_image(1, 1, Image::k16);
    wide.get<PF_Pixel16>() = {{32768, 1, 16384, 32767}};
    cli::write_image(dir.file("16.png"), wide);
    const RawPng r16 = read_raw_png(dir.file("16.png"));
    EXPECT_EQ(r16.bit_depth, 16);
    EXPECT_EQ(r16.colour_type, PNG_COLOR_TYPE_RGBA);
    // Big-endian R, G, B, A: 2, 32768, 65533, 65535.
    EXPECT_EQ(r16.rows, (std::vector<unsigned char>{0x00, 0x02, 0x80, 0x00, 0xff, 0xfd, 0xff, 0xff}));
}

TEST(CliPng, SixteenBitFileSamplesToEachDepth) {
    // All 65536 sample values in one grey+alpha 16-bit file.
    TempDir dir;
    RawPng raw{256, 256, 16, PNG_COLOR_TYPE_GRAY_ALPHA, false, {}, {}, {}};
    for (uint32_t p = 0; p < 65536; ++p) {
        const uint32_t a = 65535 - p;
        for (uint32_t s : {p, a}) {
            raw.rows.push_back(static_cast<unsigned char>(s >> 8));
            raw.rows.push_back(static_cast<unsigned char>(s & 0xff));
        }
    }
    write_raw_png(dir.file("g16.png"), raw);
    const Image w = cli::read_image(dir.file("g16.png"));
    const Image f = cli::read_image(dir.file("g16.png"), Image::kFloat);
    const Image b = cli::read_image(dir.file("g16.png"), Image::k8);
    ASSERT_EQ(w.depth(), Image::k16);
    ASSERT_EQ(f.depth(), Image::kFloat);
    ASSERT_EQ(b.depth(), Image::k8);
    for (uint32_t p = 0; p < 65536; ++p) {
        const auto s = static_cast<uint16_t>(p);
        const auto a = static_cast<uint16_t>(65535 - p);
        ASSERT_EQ(w.get<PF_Pixel16>()[p],
                  (PF_Pixel16{cli::sample::png16_to_world(a), cli::sample::png16_to_world(s),
                              cli::sample::png16_to_world(s), cli::sample::png16_to_world(s)}));
        ASSERT_EQ(f.get<PF_PixelFloat>()[p].red, static_cast<float>(p) / 65535.0f);
        ASSERT_EQ(f.get<PF_PixelFloat>()[p].alpha, static_cast<float>(a) / 65535.0f);
        ASSERT_EQ(b.get<PF_Pixel8>()[p].blue, cli::sample::png16_to_8(s));
    }
}

TEST(CliPng, FloatImagesWriteSixteenBitsClamped) {
    TempDir dir;
    Image img = cli::make_image(5, 1, Image::kFloat);
    img.get<PF_PixelFloat>() = {{1.0f, -0.5f, 0.0f, 0.5f},
                                {1.0f, 2.0f, 1.0f, std::nanf("")},
                                {0.25f, 0.75f, 0.125f, 1.0f},
                                {0.0f, 0.0f, 0.0f, 0.0f},
                                {1.0f, 1.0f / 3.0f, 0.1f, 0.9f}};
    cli::write_image(dir.file("f.png"), img);
    const Image back = cli::read_image(dir.file("f.png"), Image::kFloat);
    const auto& px = back.get<PF_PixelFloat>();
    EXPECT_EQ(px[0], (PF_PixelFloat{1.0f, 0.0f, 0.0f, 32768.0f / 65535.0f}));
    EXPECT_EQ(px[1], (PF_PixelFloat{1.0f, 1.0f, 1.0f, 0.0f}));
    for (std::size_t i = 0; i < 5; ++i) {
        const PF_PixelFloat& in = img.get<PF_PixelFloat>()[i];
        if (std::isnan(in.blue) || in.red < 0 || in.red > 1) continue;
        EXPECT_NEAR(px[i].red, in.red, 0.5 / 65535) << i;
        EXPECT_NEAR(px[i].green, in.green, 0.5 / 65535) << i;
    }
    // 0.5 is file sample 32768, world value 16384.
    EXPECT_EQ(cli::read_image(dir.file("f.png")).get<PF_Pixel16>()[0].blue, 16384);
}

TEST(CliPng, EveryColourTypeReadsAsArgb) {
    const struct {
        const char* name;
        RawPng raw;
        std::vector<PF_Pixel8> want;
    } cases[] = {
        {"grey8", {3, 1, 8, PNG_COLOR_TYPE_GRAY, false, {0, 128, 255}, {}, {}},
         {{255, 0, 0, 0}, {255, 128, 128, 128}, {255, 255, 255, 255}}},
        {"grey1", {3, 1, 1, PNG_COLOR_TYPE_GRAY, false, {0xa0}, {}, {}},  // bits 1 0 1
         {{255, 255, 255, 255}, {255, 0, 0, 0}, {255, 255, 255, 255}}},
        {"grey4", {2, 1, 4, PNG_COLOR_TYPE_GRAY, false, {0x3f}, {}, {}},
         {{255, 0x33, 0x33, 0x33}, {255, 0xff, 0xff, 0xff}}},
        {"grey+alpha", {2, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, false, {10, 200, 30, 0}, {}, {}},
         {{200, 10, 10, 10}, {0, 30, 30, 30}}},
        {"rgb", {2, 1, 8, PNG_COLOR_TYPE_RGB, false, {1, 2, 3, 4, 5, 6}, {}, {}},
         {{255, 1, 2, 3}, {255, 4, 5, 6}}},
        {"rgba", {2, 1, 8, PNG_COLOR_TYPE_RGBA, false, {1, 2, 3, 4, 5, 6, 7, 8}, {}, {}},
         {{4, 1, 2, 3}, {8, 5, 6, 7}}},
        {"palette", {3, 1, 8, PNG_COLOR_TYPE_PALETTE, false, {2, 0, 1},
                     {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}}, {255, 128}},
         {{255, 70, 80, 90}, {255, 10, 20, 30}, {128, 40, 50, 60}}},
        {"palette 2-bit", {4, 1, 2, PNG_COLOR_TYPE_PALETTE, false, {0x1b},  // 0 1 2 3
                           {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}}, {}},
         {{255, 1, 1, 1}, {255, 2, 2, 2}, {255, 3, 3, 3}, {255, 4, 4, 4}}},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("c.png");
        write_raw_png(path, c.raw);
        const Image img = cli::read_image(path);
        ASSERT_EQ(img.depth(), Image::k8);
        ASSERT_EQ(img.width, c.raw.width);
        EXPECT_EQ(img.get<PF_Pixel8>(), c.want);
    }
}

TEST(CliPng, GreyTransparencyKeyBecomesAlpha) {
    TempDir dir;
    const std::string path = dir.file("k.png");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, 2, 1, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color_16 key{};
    key.gray = 9;
    png_set_tRNS(png, info, nullptr, 0, &key);
    png_write_info(png, info);
    const unsigned char row[2] = {7, 9};
    png_write_row(png, row);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    const Image img = cli::read_image(path);
    EXPECT_EQ(img.get<PF_Pixel8>(), (std::vector<PF_Pixel8>{{255, 7, 7, 7}, {0, 9, 9, 9}}));
}

TEST(CliPng, InterlacedReadsLikeProgressive) {
    TempDir dir;
    RawPng raw{19, 11, 8, PNG_COLOR_TYPE_RGBA, true, {}, {}, {}};
    std::mt19937 rng(5);
    for (int i = 0; i < 19 * 11 * 4; ++i) raw.rows.push_back(static_cast<unsigned char>(rng()));
    write_raw_png(dir.file("i.png"), raw);
    raw.interlaced = false;
    write_raw_png(dir.file("p.png"), raw);
    const Image a = cli::read_image(dir.file("i.png"));
    const Image b = cli::read_image(dir.file("p.png"));
    EXPECT_EQ(a.get<PF_Pixel8>(), b.get<PF_Pixel8>());
    EXPECT_EQ(a.get<PF_Pixel8>()[0], (PF_Pixel8{raw.rows[3], raw.rows[0], raw.rows[1], raw.rows[2]}));
}

// --- OpenEXR ----------------------------------------------------------------------

TEST(CliExr, FloatRoundTripStoresPremultipliedColour) {
    TempDir dir;
    Image img = cli::make_image(4, 3, Image::kFloat);
    auto& px = img.get<PF_PixelFloat>();
    const float alphas[] = {1.0f, 0.5f, 0.25f, 0.0f};
    const float colours[] = {0.0f, 0.75f, 2.5f, -0.25f, 1.0f, 0.125f};
    for (std::size_t i = 0; i < px.size(); ++i) {
        px[i] = {alphas[i % 4], colours[i % 6], colours[(i + 1) % 6], colours[(i + 2) % 6]};
    }
    for (const char* comp : {"none", "zip", "piz"}) {
        SCOPED_TRACE(comp);
        const std::string path = dir.file(std::string("f-") + comp + ".exr");
        cli::write_image(path, img, {cli::parse_exr_compression(comp)});

        // In the file: float channels, colour times alpha.
        Imf::InputFile file(path.c_str());
        for (const char* c : {"R", "G", "B", "A"}) {
            ASSERT_NE(file.header().channels().findChannel(c), nullptr) << c;
            EXPECT_EQ(file.header().channels().findChannel(c)->type, Imf::FLOAT) << c;
        }
        std::vector<float> r(px.size()), a(px.size());
        Imf::FrameBuffer fb;
        fb.insert("R", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(r.data()), sizeof(float), 4 * sizeof(float)));
        fb.insert("A", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(a.data()), sizeof(float), 4 * sizeof(float)));
        file.setFrameBuffer(fb);
        file.readPixels(0, 2);
        for (std::size_t i = 0; i < px.size(); ++i) {
            EXPECT_EQ(r[i], px[i].red * px[i].alpha) << i;
            EXPECT_EQ(a[i], px[i].alpha) << i;
        }

        // Read back: straight again; colour under zero alpha is 0.
        const Image back = cli::read_image(path);
        ASSERT_EQ(back.depth(), Image::kFloat);
        for (std::size_t i = 0; i < px.size(); ++i) {
            const PF_PixelFloat want =
                px[i].alpha > 0 ? px[i] : PF_PixelFloat{0.0f, 0.0f, 0.0f, 0.0f};
            EXPECT_EQ(back.get<PF_PixelFloat>()[i], want) << i;
        }
    }
}

TEST(CliExr, IntegerImagesSurviveTheFloatFile) {
    TempDir dir;
    Image img = random_image<PF_Pixel8>(16, 16, 3);
    for (PF_Pixel8& p : img.get<PF_Pixel8>()) {
        if (p.alpha == 0) p.red = p.green = p.blue = 0;  // nothing to keep there
    }
    cli::write_image(dir.file("e.exr"), img, {cli::ExrCompression::kZip});
    EXPECT_EQ(cli::read_image(dir.file("e.exr"), Image::k8).get<PF_Pixel8>(), img.get<PF_Pixel8>());

    Image wide = random_image<PF_Pixel16>(16, 16, 4);
    for (PF_Pixel16& p : wide.get<PF_Pixel16>()) p.alpha = std::max<A_u_short>(p.alpha, 1);
    cli::write_image(dir.file("w.exr"), wide, {cli::ExrCompression::kPiz});
    const Image back = cli::read_image(dir.file("w.exr"), Image::k16);
    for (std::size_t i = 0; i < back.get<PF_Pixel16>().size(); ++i) {
        const PF_Pixel16& p = wide.get<PF_Pixel16>()[i];
        const PF_Pixel16& q = back.get<PF_Pixel16>()[i];
        EXPECT_EQ(q.alpha, p.alpha);
        // Un-premultiplying by a tiny alpha loses some float precision.
        EXPECT_NEAR(q.red, p.red, p.alpha < 64 ? 4 : 1) << i;
    }
}

// Writes an EXR with half channels through the library, premultiplied.
void write_half_exr(const std::string& path, int w, int h, const std::vector<std::string>& names,
                    const std::vector<std::vector<half>>& planes, const Imath::Box2i* display = nullptr,
                    const Imath::Box2i* data = nullptr) {
    Imf::Header hdr(w, h);
    if (display) hdr.displayWindow() = *display;
    if (data) hdr.dataWindow() = *data;
    for (const std::string& n : names) hdr.channels().insert(n, Imf::Channel(Imf::HALF));
    Imf::OutputFile out(path.c_str(), hdr);
    const Imath::Box2i dw = hdr.dataWindow();
    const int64_t dww = int64_t{dw.max.x} - dw.min.x + 1;
    Imf::FrameBuffer fb;
    for (std::size_t i = 0; i < names.size(); ++i) {
        fb.insert(names[i], Imf::Slice::Make(Imf::HALF, planes[i].data(), dw, sizeof(half),
                                             static_cast<std::size_t>(dww) * sizeof(half)));
    }
    out.setFrameBuffer(fb);
    out.writePixels(dw.max.y - dw.min.y + 1);
}

TEST(CliExr, HalfChannelsAreReadAndUnpremultiplied) {
    TempDir dir;
    const std::string path = dir.file("h.exr");
    // Premultiplied in the file: (a, r*a, g*a, b*a).
    write_half_exr(path, 3, 1, {"R", "G", "B", "A"},
                   {{half(0.25f), half(0.0f), half(3.0f)},
                    {half(0.5f), half(0.0f), half(1.5f)},
                    {half(0.125f), half(0.0f), half(0.0f)},
                    {half(0.5f), half(0.0f), half(1.0f)}});
    const Image img = cli::read_image(path);
    ASSERT_EQ(img.depth(), Image::kFloat);
    EXPECT_EQ(img.get<PF_PixelFloat>(),
              (std::vector<PF_PixelFloat>{{0.5f, 0.5f, 1.0f, 0.25f},
                                          {0.0f, 0.0f, 0.0f, 0.0f},
                                          {1.0f, 3.0f, 1.5f, 0.0f}}));
}

TEST(CliExr, MissingAlphaIsOpaqueAndLumaIsGrey) {
    TempDir dir;
    write_half_exr(dir.file("rgb.exr"), 2, 1, {"R", "G", "B"},
                   {{half(0.5f), half(1.0f)}, {half(0.25f), half(0.0f)}, {half(0.0f), half(2.0f)}});
    EXPECT_EQ(cli::read_image(dir.file("rgb.exr")).get<PF_PixelFloat>(),
              (std::vector<PF_PixelFloat>{{1.0f, 0.5f, 0.25f, 0.0f}, {1.0f, 1.0f, 0.0f, 2.0f}}));

    write_half_exr(dir.file("y.exr"), 2, 1, {"Y"}, {{half(0.5f), half(0.75f)}});
    EXPECT_EQ(cli::read_image(dir.file("y.exr")).get<PF_PixelFloat>(),
              (std::vector<PF_PixelFloat>{{1.0f, 0.5f, 0.5f, 0.5f}, {1.0f, 0.75f, 0.75f, 0.75f}}));

    write_half_exr(dir.file("z.exr"), 1, 1, {"Z"}, {{half(1.0f)}});
    EXPECT_THROW(cli::read_image(dir.file("z.exr")), ImageError);
}

TEST(CliExr, TiledFilesRead) {
    TempDir dir;
    const std::string path = dir.file("t.exr");
    const int w = 7, h = 5;
    std::vector<float> r(w * h), a(w * h);
    for (int i = 0; i < w * h; ++i) {
        a[i] = (i % 3) * 0.5f;
        r[i] = a[i] * static_cast<float>(i) / 64.0f;  // premultiplied
    }
    {
        Imf::Header hdr(w, h);
        hdr.setTileDescription(Imf::TileDescription(4, 2));
        hdr.channels().insert("R", Imf::Channel(Imf::FLOAT));
        hdr.channels().insert("A", Imf::Channel(Imf::FLOAT));
        Imf::TiledOutputFile out(path.c_str(), hdr);
        Imf::FrameBuffer fb;
        fb.insert("R", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(r.data()), sizeof(float), w * sizeof(float)));
        fb.insert("A", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(a.data()), sizeof(float), w * sizeof(float)));
        out.setFrameBuffer(fb);
        out.writeTiles(0, out.numXTiles() - 1, 0, out.numYTiles() - 1);
    }
    const Image img = cli::read_image(path);
    ASSERT_EQ(img.width, w);
    ASSERT_EQ(img.height, h);
    for (int i = 0; i < w * h; ++i) {
        const PF_PixelFloat want =
            a[i] > 0 ? PF_PixelFloat{a[i], static_cast<float>(i) / 64.0f, 0.0f, 0.0f} : PF_PixelFloat{0, 0, 0, 0};
        EXPECT_EQ(img.get<PF_PixelFloat>()[i], want) << i;
    }
}

TEST(CliExr, DisplayWindowIsTheImage) {
    TempDir dir;
    // Data (1,1)-(4,1) in a display window (0,0)-(2,2): x 3 and 4 fall outside.
    const Imath::Box2i display({0, 0}, {2, 2});
    const Imath::Box2i data({1, 1}, {4, 1});
    write_half_exr(dir.file("d.exr"), 3, 3, {"R", "A"},
                   {{half(0.5f), half(0.25f), half(1.0f), half(1.0f)},
                    {half(1.0f), half(0.5f), half(1.0f), half(1.0f)}},
                   &display, &data);
    const Image img = cli::read_image(dir.file("d.exr"));
    ASSERT_EQ(img.width, 3);
    ASSERT_EQ(img.height, 3);
    const auto& px = img.get<PF_PixelFloat>();
    for (int i = 0; i < 9; ++i) {
        if (i == 4 || i == 5) continue;
        EXPECT_EQ(px[i], (PF_PixelFloat{0.0f, 0.0f, 0.0f, 0.0f})) << i;
    }
    EXPECT_EQ(px[4], (PF_PixelFloat{1.0f, 0.5f, 0.0f, 0.0f}));
    EXPECT_EQ(px[5], (PF_PixelFloat{0.5f, 0.5f, 0.0f, 0.0f}));
}

// --- Format detection, damaged and hostile files ---------------------------------

TEST(CliRead, FormatComesFromTheBytesNotTheName) {
    TempDir dir;
    const Image img = random_image<PF_Pixel8>(4, 4, 9);
    cli::write_image(dir.file("really-png.exr"), img);
    EXPECT_EQ(cli::read_image(dir.file("really-png.exr")).get<PF_Pixel8>(), img.get<PF_Pixel8>());
    cli::write_image(dir.file("really-exr.png"), img, {cli::ExrCompression::kNone});
    EXPECT_EQ(cli::read_image(dir.file("really-exr.png")).depth(), Image::kFloat);

    spit(dir.file("text.png"), {'h', 'e', 'l', 'l', 'o', '\n'});
    spit(dir.file("empty.png"), {});
    const struct {
        std::string path;
        const char* why;
    } bad[] = {
        {dir.file("text.png"), "neither a PNG nor an OpenEXR"},
        {dir.file("empty.png"), "empty"},
        {dir.file("missing.png"), "cannot open"},
        {dir.file(""), "directory"},
    };
    for (const auto& b : bad) {
        try {
            cli::read_image(b.path);
            ADD_FAILURE() << b.path;
        } catch (const ImageError& e) {
            EXPECT_NE(std::string(e.what()).find(b.why), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(b.path), std::string::npos) << e.what();
        }
    }
}

// Every prefix of a valid file must be refused cleanly.
void expect_truncations_refused(const std::vector<unsigned char>& bytes, std::size_t step) {
    for (std::size_t n = 0; n < bytes.size(); n += step) {
        try {
            cli::read_image_memory(bytes.data(), n);
            ADD_FAILURE() << "accepted " << n << " of " << bytes.size() << " bytes";
        } catch (const ImageError&) {
        }
    }
}

// Flipped bytes: an error or an image, never a crash or another exception.
void expect_corruption_survived(const std::vector<unsigned char>& bytes, std::size_t step) {
    for (std::size_t i = 0; i < bytes.size(); i += step) {
        for (unsigned char x : {0x01, 0x80, 0xff}) {
            std::vector<unsigned char> b = bytes;
            b[i] ^= x;
            try {
                const Image img = cli::read_image_memory(b.data(), b.size());
                EXPECT_LE(int64_t{img.width} * img.height, cli::kMaxImagePixels);
            } catch (const ImageError&) {
            }
        }
    }
}

TEST(CliRead, DamagedPngIsRefused) {
    TempDir dir;
    cli::write_image(dir.file("a.png"), random_image<PF_Pixel8>(9, 7, 2));
    const std::vector<unsigned char> bytes = slurp(dir.file("a.png"));
    ASSERT_GT(bytes.size(), 100u);
    expect_truncations_refused(bytes, 1);
    expect_corruption_survived(bytes, 1);
    // Through a file as well.
    std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2));
    spit(dir.file("cut.png"), cut);
    try {
        cli::read_image(dir.file("cut.png"));
        ADD_FAILURE();
    } catch (const ImageError& e) {
        EXPECT_NE(std::string(e.what()).find("truncated"), std::string::npos) << e.what();
    }
}

TEST(CliRead, DamagedExrIsRefused) {
    TempDir dir;
    cli::write_image(dir.file("a.exr"), random_image<PF_PixelFloat>(6, 5, 2), {cli::ExrCompression::kZip});
    const std::vector<unsigned char> bytes = slurp(dir.file("a.exr"));
    ASSERT_GT(bytes.size(), 100u);
    expect_truncations_refused(bytes, 1);
    expect_corruption_survived(bytes, 3);
    std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() - 10));
    spit(dir.file("cut.exr"), cut);
    EXPECT_THROW(cli::read_image(dir.file("cut.exr")), ImageError);
}

// A PNG made of a signature, an IHDR and an empty IDAT: the header of an
// image whose data is missing.
std::vector<unsigned char> png_header_only(uint32_t w, uint32_t h) {
    std::vector<unsigned char> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13};
    const std::size_t type_at = b.size();
    for (char c : {'I', 'H', 'D', 'R'}) b.push_back(static_cast<unsigned char>(c));
    for (uint32_t v : {w, h}) {
        for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<unsigned char>(v >> s));
    }
    for (unsigned char c : {8, 6, 0, 0, 0}) b.push_back(c);  // 8-bit RGBA
    const uLong crc = crc32(0, b.data() + type_at, static_cast<uInt>(b.size() - type_at));
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<unsigned char>(crc >> s));
    const unsigned char idat[] = {0, 0, 0, 0, 'I', 'D', 'A', 'T'};
    b.insert(b.end(), std::begin(idat), std::end(idat));
    const uLong idat_crc = crc32(0, b.data() + b.size() - 4, 4);
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<unsigned char>(idat_crc >> s));
    return b;
}

TEST(CliRead, OversizedImagesAreRefusedBeforeAllocating) {
    // Each side allowed, the product not: refused on the header alone (the
    // data is missing, so anything later would fail differently).
    const std::vector<unsigned char> big = png_header_only(100000, 100000);
    try {
        cli::read_image_memory(big.data(), big.size(), "big.png");
        ADD_FAILURE();
    } catch (const ImageError& e) {
        EXPECT_NE(std::string(e.what()).find("larger than supported"), std::string::npos) << e.what();
    }
    const std::vector<unsigned char> wide = png_header_only(1u << 21, 1);
    EXPECT_THROW(cli::read_image_memory(wide.data(), wide.size()), ImageError);
    const std::vector<unsigned char> ok = png_header_only(64, 64);
    try {
        cli::read_image_memory(ok.data(), ok.size());
        ADD_FAILURE();
    } catch (const ImageError& e) {
        EXPECT_EQ(std::string(e.what()).find("larger than supported"), std::string::npos) << e.what();
    }

    TempDir dir;
    const Imath::Box2i display({0, 0}, {99999, 99999});
    const Imath::Box2i data({0, 0}, {0, 0});
    write_half_exr(dir.file("big.exr"), 1, 1, {"R"}, {{half(1.0f)}}, &display, &data);
    try {
        cli::read_image(dir.file("big.exr"));
        ADD_FAILURE();
    } catch (const ImageError& e) {
        EXPECT_NE(std::string(e.what()).find("larger than supported"), std::string::npos) << e.what();
    }
}

// --- OpenEXR headers the library would misread ------------------------------

// Memory as the library's input, to make raw attribute values.
class MemoryIStream : public Imf::IStream {
public:
    explicit MemoryIStream(std::vector<char> bytes) : Imf::IStream("memory"), bytes_(std::move(bytes)) {}
    bool read(char c[], int n) override {
        if (n < 0 || static_cast<std::size_t>(n) > bytes_.size() - pos_) throw std::runtime_error("read past end");
        std::memcpy(c, bytes_.data() + pos_, static_cast<std::size_t>(n));
        pos_ += static_cast<std::size_t>(n);
        return pos_ < bytes_.size();
    }
    uint64_t tellg() override { return pos_; }
    void seekg(uint64_t pos) override { pos_ = static_cast<std::size_t>(pos); }

private:
    std::vector<char> bytes_;
    std::size_t pos_ = 0;
};

// An attribute of a type the library does not know, holding `size` bytes.
Imf::OpaqueAttribute opaque_attribute(const char* type, std::size_t size) {
    MemoryIStream in(std::vector<char>(size, 'x'));
    Imf::OpaqueAttribute a(type);
    a.readValueFrom(in, static_cast<int>(size), 2);
    return a;
}

// The file of a 2x1 image, channel R = (0.5, 1), with what else `hdr` holds.
std::vector<unsigned char> exr_with(const TempDir& dir, Imf::Header hdr) {
    hdr.channels().insert("R", Imf::Channel(Imf::HALF));
    const std::string path = dir.file("attr.exr");
    {
        const half r[2] = {half(0.5f), half(1.0f)};
        Imf::OutputFile out(path.c_str(), hdr);
        Imf::FrameBuffer fb;
        fb.insert("R", Imf::Slice(Imf::HALF, reinterpret_cast<char*>(const_cast<half*>(r)), sizeof(half),
                                  2 * sizeof(half)));
        out.setFrameBuffer(fb);
        out.writePixels(1);
    }
    return slurp(path);
}

// Where the declared size of attribute `name` of `type` lies in `bytes`.
std::size_t size_field(const std::vector<unsigned char>& bytes, const std::string& name, const std::string& type) {
    const std::string key = name + '\0' + type + '\0';
    const auto at = std::search(bytes.begin(), bytes.end(), key.begin(), key.end());
    if (at == bytes.end()) throw std::runtime_error("attribute " + name + " not found");
    return static_cast<std::size_t>(at - bytes.begin()) + key.size();
}

void put_le32(std::vector<unsigned char>& bytes, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t get_le32(const std::vector<unsigned char>& bytes, std::size_t at) {
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
}

// The ImageError's message, or "" when the bytes read as an image.
std::string refusal(const std::vector<unsigned char>& bytes) {
    try {
        cli::read_image_memory(bytes.data(), bytes.size(), "t.exr");
        return "";
    } catch (const ImageError& e) {
        return e.what();
    }
}

TEST(CliExrHeader, TypedAttributeSizeMismatchIsRefused) {
    // A box2i declared as 0 bytes: the library reads 16 anyway, lands inside
    // the next attribute and takes 0x7ffffff0 as an opaque value's size.
    const std::vector<unsigned char> found = {
        0x76, 0x2f, 0x31, 0x01, 0x02, 0x00, 0x00, 0x00, 'd',  0x00, 'b',  'o',  'x',  '2',  'i',
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
        0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 'a',  0x00, 'z',  'z',  0x00, 0xf0, 0xff, 0xff, 0x7f};
    const std::string why = refusal(found);
    EXPECT_NE(why.find("'d' of type 'box2i' declares 0 bytes, not 16"), std::string::npos) << why;

    // Declared right, the huge claim is seen for what it is.
    std::vector<unsigned char> stepped(found.begin(), found.begin() + 16);
    for (unsigned char c : {16, 0, 0, 0}) stepped.push_back(c);
    stepped.insert(stepped.end(), 16, 0x01);
    stepped.insert(stepped.end(), found.end() - 9, found.end());
    const std::string claim = refusal(stepped);
    EXPECT_NE(claim.find("'a' of type 'zz' claims 2147483632 bytes"), std::string::npos) << claim;
}

TEST(CliExrHeader, ManifestsAreWalkedAsTheLibraryReadsThem) {
    // An ID manifest declared as 4 bytes: the library reads 8, then the
    // attribute it finds 4 bytes later claims 0x7ffffff0 bytes.
    std::vector<unsigned char> found = {0x76, 0x2f, 0x31, 0x01, 0x02, 0x00, 0x00, 0x00};
    const std::string head = std::string("m") + '\0' + "idmanifest" + '\0';
    found.insert(found.end(), head.begin(), head.end());
    for (unsigned char c : {4, 0, 0, 0, 0, 0, 0, 0}) found.push_back(c);  // size, then its 4 bytes
    for (unsigned char c : {0, 0, 0, 0}) found.push_back(c);              // header end, as declared
    for (int c : {int{'a'}, 0, int{'z'}, int{'z'}, 0, 0xf0, 0xff, 0xff, 0x7f}) found.push_back(static_cast<unsigned char>(c));
    const std::string why = refusal(found);
    EXPECT_NE(why.find("'a' of type 'zz' claims 2147483632 bytes"), std::string::npos) << why;

    // The extra 4 bytes must be there.
    const std::vector<unsigned char> cut(found.begin(), found.begin() + 8 + head.size() + 4 + 4 + 3);
    const std::string short_why = refusal(cut);
    EXPECT_NE(short_why.find("'m' of type 'idmanifest' reaches past the header"), std::string::npos) << short_why;
}

TEST(CliExrHeader, EveryAttributeTypeReadsAndChecksItsSize) {
    TempDir dir;
    Imf::PreviewImage preview(2, 1);
    Imf::IDManifest manifest;
    const std::vector<std::shared_ptr<Imf::Attribute>> attrs = {
        std::make_shared<Imf::Box2iAttribute>(Imath::Box2i({1, 2}, {3, 4})),
        std::make_shared<Imf::Box2fAttribute>(Imath::Box2f({1, 2}, {3, 4})),
        std::make_shared<Imf::V2iAttribute>(Imath::V2i(1, 2)),
        std::make_shared<Imf::V2fAttribute>(Imath::V2f(1, 2)),
        std::make_shared<Imf::V2dAttribute>(Imath::V2d(1, 2)),
        std::make_shared<Imf::V3iAttribute>(Imath::V3i(1, 2, 3)),
        std::make_shared<Imf::V3fAttribute>(Imath::V3f(1, 2, 3)),
        std::make_shared<Imf::V3dAttribute>(Imath::V3d(1, 2, 3)),
        std::make_shared<Imf::M33fAttribute>(Imath::M33f()),
        std::make_shared<Imf::M33dAttribute>(Imath::M33d()),
        std::make_shared<Imf::M44fAttribute>(Imath::M44f()),
        std::make_shared<Imf::M44dAttribute>(Imath::M44d()),
        std::make_shared<Imf::IntAttribute>(7),
        std::make_shared<Imf::FloatAttribute>(0.5f),
        std::make_shared<Imf::DoubleAttribute>(0.25),
        std::make_shared<Imf::RationalAttribute>(Imf::Rational(24000, 1001)),
        std::make_shared<Imf::CompressionAttribute>(Imf::PIZ_COMPRESSION),
        std::make_shared<Imf::LineOrderAttribute>(Imf::DECREASING_Y),
        std::make_shared<Imf::EnvmapAttribute>(Imf::ENVMAP_CUBE),
        std::make_shared<Imf::DeepImageStateAttribute>(Imf::DIS_TIDY),
        std::make_shared<Imf::TimeCodeAttribute>(Imf::TimeCode(1, 2, 3, 4)),
        std::make_shared<Imf::KeyCodeAttribute>(Imf::KeyCode(1, 2, 3, 4, 5, 4, 64)),
        std::make_shared<Imf::TileDescriptionAttribute>(Imf::TileDescription(8, 8)),
        std::make_shared<Imf::ChromaticitiesAttribute>(Imf::Chromaticities()),
        std::make_shared<Imf::ChannelListAttribute>(),
        std::make_shared<Imf::StringAttribute>("some text"),
        std::make_shared<Imf::StringVectorAttribute>(Imf::StringVector{"ab", "", "cde"}),
        std::make_shared<Imf::PreviewImageAttribute>(preview),
        std::make_shared<Imf::FloatVectorAttribute>(Imf::FloatVector{1.0f, 2.0f, 3.0f}),
        std::make_shared<Imf::IDManifestAttribute>(Imf::CompressedIDManifest(manifest)),
    };
    auto& channels = static_cast<Imf::ChannelListAttribute&>(*attrs[24]).value();
    channels.insert("X", Imf::Channel(Imf::FLOAT));
    channels.insert("Y", Imf::Channel(Imf::HALF));
    for (const auto& attr : attrs) {
        const std::string type = attr->typeName();
        SCOPED_TRACE(type);
        Imf::Header hdr(2, 1);
        hdr.insert("extra", *attr);
        const std::vector<unsigned char> bytes = exr_with(dir, hdr);
        const Image img = cli::read_image_memory(bytes.data(), bytes.size());
        EXPECT_EQ(img.get<PF_PixelFloat>(),
                  (std::vector<PF_PixelFloat>{{1.0f, 0.5f, 0.0f, 0.0f}, {1.0f, 1.0f, 0.0f, 0.0f}}));
        // Strings and manifests are read to their declared size, whatever it is.
        if (type == "string" || type == "idmanifest") continue;
        const std::size_t at = size_field(bytes, "extra", type);
        for (const int delta : {-1, 1}) {
            std::vector<unsigned char> b = bytes;
            put_le32(b, at, get_le32(b, at) + static_cast<uint32_t>(delta));
            const std::string why = refusal(b);
            EXPECT_NE(why.find("attribute 'extra' of type '" + type + "'"), std::string::npos)
                << delta << ": " << why;
        }
    }
}

TEST(CliExrHeader, LengthsInsideValuesAreChecked) {
    TempDir dir;
    Imf::Header hdr(2, 1);
    hdr.insert("names", Imf::StringVectorAttribute(Imf::StringVector{"ab", "cde"}));
    hdr.insert("thumb", Imf::PreviewImageAttribute(Imf::PreviewImage(2, 2)));
    const std::vector<unsigned char> bytes = exr_with(dir, hdr);
    ASSERT_EQ(refusal(bytes), "");

    const struct {
        std::size_t at;
        uint32_t value;
        const char* why;
    } cases[] = {
        {size_field(bytes, "names", "stringvector") + 4, 0x7fffffff, "string longer than its list"},
        {size_field(bytes, "names", "stringvector") + 4, 0xffffffff, "string longer than its list"},
        {size_field(bytes, "names", "stringvector") + 4, 3, "string longer than its list"},
        {size_field(bytes, "thumb", "preview") + 4, 0x10000, "does not match its pixels"},
        {size_field(bytes, "thumb", "preview") + 8, 0xffffffff, "does not match its pixels"},
        {size_field(bytes, "thumb", "preview") + 8, 1, "does not match its pixels"},
    };
    for (const auto& c : cases) {
        std::vector<unsigned char> b = bytes;
        put_le32(b, c.at, c.value);
        const std::string why = refusal(b);
        EXPECT_NE(why.find(c.why), std::string::npos) << c.at << " = " << c.value << ": " << why;
    }
}

TEST(CliExrHeader, UnknownAttributeTypesAreBounded) {
    TempDir dir;
    Imf::Header small(2, 1);
    small.insert("blob", opaque_attribute("myblob", 100));
    EXPECT_EQ(refusal(exr_with(dir, small)), "");

    const auto limit = std::size_t{16} << 20;
    Imf::Header at_limit(2, 1);
    at_limit.insert("blob", opaque_attribute("myblob", limit));
    EXPECT_EQ(refusal(exr_with(dir, at_limit)), "");

    // Present in full, and still too large to hold.
    Imf::Header over(2, 1);
    over.insert("blob", opaque_attribute("myblob", limit + 1));
    const std::string why = refusal(exr_with(dir, over));
    EXPECT_NE(why.find("'blob' of type 'myblob' is 16777217 bytes, more than supported"), std::string::npos) << why;
}

TEST(CliExrHeader, MultiPartReadsTheFirstPartAndDeepIsRefused) {
    TempDir dir;
    const std::string path = dir.file("multi.exr");
    {
        std::vector<Imf::Header> headers(2, Imf::Header(2, 1));
        for (int i = 0; i < 2; ++i) {
            headers[i].setName(i == 0 ? "first" : "second");
            headers[i].setType(Imf::SCANLINEIMAGE);
            headers[i].channels().insert(i == 0 ? "G" : "B", Imf::Channel(Imf::FLOAT));
        }
        headers[1].insert("names", Imf::StringVectorAttribute(Imf::StringVector{"x"}));
        Imf::MultiPartOutputFile out(path.c_str(), headers.data(), 2);
        const float g[2] = {0.25f, 0.75f};
        for (int i = 0; i < 2; ++i) {
            Imf::OutputPart part(out, i);
            Imf::FrameBuffer fb;
            fb.insert(i == 0 ? "G" : "B", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(const_cast<float*>(g)),
                                                     sizeof(float), 2 * sizeof(float)));
            part.setFrameBuffer(fb);
            part.writePixels(1);
        }
    }
    EXPECT_EQ(cli::read_image(path).get<PF_PixelFloat>(),
              (std::vector<PF_PixelFloat>{{1.0f, 0.0f, 0.25f, 0.0f}, {1.0f, 0.0f, 0.75f, 0.0f}}));

    // A damaged size in the second part's header is found too.
    std::vector<unsigned char> bytes = slurp(path);
    const std::size_t at = size_field(bytes, "names", "stringvector");
    put_le32(bytes, at, get_le32(bytes, at) + 1);
    EXPECT_NE(refusal(bytes).find("'names' of type 'stringvector'"), std::string::npos) << refusal(bytes);

    // Deep data, by the version flag of a single-part file or by the type
    // of a multi-part file's first part.
    Imf::Header plain(2, 1);
    std::vector<unsigned char> flagged = exr_with(dir, plain);
    flagged[5] |= 0x08;
    EXPECT_NE(refusal(flagged).find("deep OpenEXR data is not supported"), std::string::npos) << refusal(flagged);

    const std::string deep_path = dir.file("deep.exr");
    try {
        Imf::Header deep(2, 1);
        deep.setName("deep");
        deep.setType(Imf::DEEPSCANLINE);
        deep.compression() = Imf::ZIPS_COMPRESSION;
        deep.channels().insert("A", Imf::Channel(Imf::FLOAT));
        Imf::MultiPartOutputFile out(deep_path.c_str(), &deep, 1);
    } catch (const std::exception&) {
        // The pixels are never written; the header is what matters.
    }
    EXPECT_NE(refusal(slurp(deep_path)).find("deep OpenEXR data is not supported"), std::string::npos)
        << refusal(slurp(deep_path));
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
    const std::string target = dir.file("out.img");
    spit(target, {'o', 'l', 'd'});
    const Image img = random_image<PF_PixelFloat>(64, 64, 7);
    {
        FileSizeLimit limit(1000);
        EXPECT_THROW(cli::write_image(target, img), ImageError);
        EXPECT_THROW(cli::write_image(target, img, {cli::ExrCompression::kNone}), ImageError);
        EXPECT_THROW(cli::write_image(target, img, {cli::ExrCompression::kZip}), ImageError);
    }
    EXPECT_EQ(slurp(target), (std::vector<unsigned char>{'o', 'l', 'd'}));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.img"});

    // An invalid image is refused before anything is touched.
    Image broken = img;
    broken.get<PF_PixelFloat>().pop_back();
    EXPECT_THROW(cli::write_image(target, broken), ImageError);
    EXPECT_THROW(cli::write_image(target, broken, {cli::ExrCompression::kZip}), ImageError);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.img"});

    // A directory in the way, and a directory that does not exist.
    fs::create_directory(dir.file("sub"));
    EXPECT_THROW(cli::write_image(dir.file("sub"), img), ImageError);
    EXPECT_THROW(cli::write_image(dir.file("sub"), img, {cli::ExrCompression::kZip}), ImageError);
    EXPECT_TRUE(fs::is_directory(dir.file("sub")));
    EXPECT_TRUE(fs::is_empty(dir.file("sub")));
    EXPECT_THROW(cli::write_image(dir.file("nowhere/x.png"), img), ImageError);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"out.img", "sub"}));

    // Success replaces the old file.
    cli::write_image(target, img);
    EXPECT_EQ(cli::read_image(target).depth(), Image::k16);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"out.img", "sub"}));
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
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_THROW(cli::write_image(dir.file("fifo"), img, {cli::ExrCompression::kZip}), ImageError);
    EXPECT_TRUE(fs::is_fifo(dir.file("fifo")));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"fifo", "link.png", "real.png"}));
}

TEST(CliWrite, ExrCompressionNames) {
    EXPECT_EQ(cli::parse_exr_compression("none"), cli::ExrCompression::kNone);
    EXPECT_EQ(cli::parse_exr_compression("zip"), cli::ExrCompression::kZip);
    EXPECT_EQ(cli::parse_exr_compression("piz"), cli::ExrCompression::kPiz);
    EXPECT_THROW(cli::parse_exr_compression("ZIP"), ImageError);
    EXPECT_THROW(cli::parse_exr_compression("rle"), ImageError);
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
