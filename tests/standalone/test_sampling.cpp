// Area sampling: exact pixels and averages at 8 and 16 bits, float accuracy,
// premultiplied averaging, edges, padding and degenerate worlds.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "standalone/sampling.h"
#include "tests/support/pixels.h"

namespace standalone {
namespace {

constexpr PF_Fixed kHalf = 1 << 15;

PF_Fixed fix(double v) { return static_cast<PF_Fixed>(std::lround(v * 65536.0)); }

// A world with its own storage; `pad` extra bytes per row are filled with junk.
template <typename Pixel>
struct TestWorld {
    int w, h;
    std::size_t rowbytes;
    std::vector<unsigned char> bytes;
    PF_EffectWorld world{};

    TestWorld(int width, int height, std::size_t pad = 0)
        : w(width), h(height), rowbytes(width * sizeof(Pixel) + pad), bytes(rowbytes * height + 1, 0xA5) {
        world.data = bytes.data();
        world.width = w;
        world.height = h;
        world.rowbytes = static_cast<A_long>(rowbytes);
    }
    Pixel* at(int x, int y) { return reinterpret_cast<Pixel*>(bytes.data() + y * rowbytes + x * sizeof(Pixel)); }
    void fill(const Pixel& p) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) *at(x, y) = p;
    }
};

::testing::AssertionResult float_near(const PF_PixelFloat& got, const PF_PixelFloat& want, double tol) {
    const double d[4] = {got.alpha - want.alpha, got.red - want.red, got.green - want.green, got.blue - want.blue};
    for (double v : d)
        if (!(std::fabs(v) <= tol))
            return ::testing::AssertionFailure()
                   << "got " << got << " want " << want;
    return ::testing::AssertionSuccess();
}

PF_Pixel8 s8(const AreaSampler& s, double x, double y, double rx, double ry) {
    PF_Pixel8 p{};
    EXPECT_EQ(s.sample8(fix(x), fix(y), fix(rx), fix(ry), &p), PF_Err_NONE);
    return p;
}
PF_Pixel16 s16(const AreaSampler& s, double x, double y, double rx, double ry) {
    PF_Pixel16 p{};
    EXPECT_EQ(s.sample16(fix(x), fix(y), fix(rx), fix(ry), &p), PF_Err_NONE);
    return p;
}
PF_PixelFloat sf(const AreaSampler& s, double x, double y, double rx, double ry) {
    PF_PixelFloat p{};
    EXPECT_EQ(s.sample_float(fix(x), fix(y), fix(rx), fix(ry), &p), PF_Err_NONE);
    return p;
}

TEST(AreaSampler, HalfRadiusAtCentresReturnsThePixel) {
    TestWorld<PF_Pixel8> w8(7, 5, 3);
    TestWorld<PF_Pixel16> w16(7, 5, 8);
    TestWorld<PF_PixelFloat> wf(7, 5, 4);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            const int a = (x * 37 + y * 91) % 256;
            *w8.at(x, y) = {A_u_char(a), A_u_char(x * 30), A_u_char(y * 50), A_u_char(255 - x - y)};
            *w16.at(x, y) = {A_u_short(a * 128), A_u_short(x * 4000 + 1), A_u_short(y * 7000), A_u_short(32768 - x)};
            *wf.at(x, y) = {a / 255.0f, x * 0.1f, y * 0.3f - 0.2f, 1.7f};
        }
    const AreaSampler a8(w8.world, PF_PixelFormat_ARGB32), a16(w16.world, PF_PixelFormat_ARGB64),
        af(wf.world, PF_PixelFormat_ARGB128);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            PF_Pixel8 e8 = *w8.at(x, y);
            PF_Pixel16 e16 = *w16.at(x, y);
            PF_PixelFloat ef = *wf.at(x, y);
            if (e8.alpha == 0) e8 = {0, 0, 0, 0};  // no coverage: all zero
            if (e16.alpha == 0) e16 = {0, 0, 0, 0};
            if (ef.alpha == 0) ef = {0, 0, 0, 0};
            EXPECT_EQ(s8(a8, x, y, 0.5, 0.5), e8) << x << "," << y;
            EXPECT_EQ(s16(a16, x, y, 0.5, 0.5), e16) << x << "," << y;
            // Radii below ½ count as ½.
            EXPECT_EQ(s8(a8, x, y, 0, 0.1), e8) << x << "," << y;
            EXPECT_TRUE(float_near(sf(af, x, y, 0.5, 0.5), ef, 1e-6)) << x << "," << y;
        }
}

TEST(AreaSampler, BilinearMidpointRoundsToNearest) {
    TestWorld<PF_Pixel8> w(2, 2);
    *w.at(0, 0) = {255, 100, 0, 10};
    *w.at(1, 0) = {255, 201, 0, 11};
    *w.at(0, 1) = {255, 0, 0, 12};
    *w.at(1, 1) = {255, 0, 0, 13};
    const AreaSampler s(w.world, PF_PixelFormat_ARGB32);
    // Half-way along the top row: 150.5 rounds up, 10.5 rounds up.
    EXPECT_EQ(s8(s, 0.5, 0, 0.5, 0.5), (PF_Pixel8{255, 151, 0, 11}));
    // A quarter of the way: 100·0.75 + 201·0.25 = 125.25 → 125.
    EXPECT_EQ(s8(s, 0.25, 0, 0.5, 0.5), (PF_Pixel8{255, 125, 0, 10}));
    // Centre of all four: (100 + 201) / 4 = 75.25, blue 11.5 → 12.
    EXPECT_EQ(s8(s, 0.5, 0.5, 0.5, 0.5), (PF_Pixel8{255, 75, 0, 12}));
}

TEST(AreaSampler, AveragesPremultiplied) {
    // Transparent red beside opaque blue: the colour is blue, alpha halved.
    TestWorld<PF_Pixel8> w8(2, 1);
    *w8.at(0, 0) = {0, 255, 0, 0};
    *w8.at(1, 0) = {255, 0, 0, 255};
    EXPECT_EQ(s8(AreaSampler(w8.world, PF_PixelFormat_ARGB32), 0.5, 0, 0.5, 0.5), (PF_Pixel8{128, 0, 0, 255}));  // 127.5 → 128

    TestWorld<PF_Pixel16> w16(2, 1);
    *w16.at(0, 0) = {0, 32768, 0, 0};
    *w16.at(1, 0) = {32768, 0, 0, 32768};
    EXPECT_EQ(s16(AreaSampler(w16.world, PF_PixelFormat_ARGB64), 0.5, 0, 0.5, 0.5), (PF_Pixel16{16384, 0, 0, 32768}));

    TestWorld<PF_PixelFloat> wf(2, 1);
    *wf.at(0, 0) = {0.0f, 1.0f, 0.0f, 0.0f};
    *wf.at(1, 0) = {1.0f, 0.0f, 0.0f, 1.0f};
    EXPECT_TRUE(float_near(sf(AreaSampler(wf.world, PF_PixelFormat_ARGB128), 0.5, 0, 0.5, 0.5),
                           PF_PixelFloat{0.5f, 0.0f, 0.0f, 1.0f}, 1e-7));

    // Unequal alphas weight the colours: (64·200 + 192·40) / 256 = 80.
    TestWorld<PF_Pixel8> u(2, 1);
    *u.at(0, 0) = {64, 200, 0, 0};
    *u.at(1, 0) = {192, 40, 0, 0};
    EXPECT_EQ(s8(AreaSampler(u.world, PF_PixelFormat_ARGB32), 0.5, 0, 0.5, 0.5), (PF_Pixel8{128, 80, 0, 0}));
}

TEST(AreaSampler, OutsideTheWorldIsTransparent) {
    TestWorld<PF_Pixel8> w(4, 3);
    w.fill({200, 10, 20, 30});
    const AreaSampler s(w.world, PF_PixelFormat_ARGB32);
    const PF_Pixel8 zero{0, 0, 0, 0};
    EXPECT_EQ(s8(s, -1, 1, 0.5, 0.5), zero);
    EXPECT_EQ(s8(s, 4, 1, 0.5, 0.5), zero);
    EXPECT_EQ(s8(s, 1, 3.5, 0.5, 0.5), zero);
    EXPECT_EQ(s8(s, -1000, -1000, 10, 10), zero);
    // Half the box outside: alpha halved, colour kept.
    EXPECT_EQ(s8(s, -0.5, 1, 0.5, 0.5), (PF_Pixel8{100, 10, 20, 30}));
    EXPECT_EQ(s8(s, 3, 2.5, 0.5, 0.5), (PF_Pixel8{100, 10, 20, 30}));
    // A quarter inside (corner).
    EXPECT_EQ(s8(s, 3.5, -0.5, 0.5, 0.5), (PF_Pixel8{50, 10, 20, 30}));
    // The whole world inside a box of 8 × 6: 12 of 48 pixels covered.
    EXPECT_EQ(s8(s, 1.5, 1, 4, 3), (PF_Pixel8{50, 10, 20, 30}));
}

// Uniform value in a world larger than a table tile, with noise outside the
// uniform block so sums over the whole world are not trivially uniform.
template <typename Pixel>
void uniform_block(TestWorld<Pixel>& w, const Pixel& value, int x0, int y0, int x1, int y1, const Pixel& other) {
    for (int y = 0; y < w.h; ++y)
        for (int x = 0; x < w.w; ++x) *w.at(x, y) = (x >= x0 && x < x1 && y >= y0 && y < y1) ? value : other;
}

struct Box {
    double x, y, rx, ry;
};

// Boxes inside [200, 1390] × [150, 1190], crossing tile boundaries.
const Box kUniformBoxes[] = {
    {256, 256, 0.5, 0.5},         {255.5, 511.5, 0.5, 0.5},     {1300.123, 1100.77, 0.5, 0.5},
    {1384.9, 1180.3, 0.7, 3.1},   {700.25, 640.5, 55.3, 1.0},   {767.5, 767.5, 200.01, 300.7},
    {800, 700, 590, 490},         {1000.0001, 1000.9999, 12, 3}, {513.3, 511.7, 2.5, 2.5},
};

TEST(AreaSampler, UniformRegionIsExact8) {
    TestWorld<PF_Pixel8> w(1500, 1300, 4);
    const PF_Pixel8 v{173, 11, 254, 97};
    uniform_block(w, v, 200, 150, 1400, 1200, PF_Pixel8{255, 0, 255, 0});
    const AreaSampler s(w.world, PF_PixelFormat_ARGB32);
    for (const Box& b : kUniformBoxes) EXPECT_EQ(s8(s, b.x, b.y, b.rx, b.ry), v) << b.x << "," << b.y;
}

TEST(AreaSampler, UniformRegionIsExact16) {
    TestWorld<PF_Pixel16> w(1500, 1300);
    const PF_Pixel16 v{31111, 1, 32768, 12345};
    uniform_block(w, v, 200, 150, 1400, 1200, PF_Pixel16{32768, 32768, 0, 32768});
    const AreaSampler s(w.world, PF_PixelFormat_ARGB64);
    for (const Box& b : kUniformBoxes) EXPECT_EQ(s16(s, b.x, b.y, b.rx, b.ry), v) << b.x << "," << b.y;
}

TEST(AreaSampler, UniformRegionIsAccurateFloat) {
    TestWorld<PF_PixelFloat> w(1500, 1300);
    const PF_PixelFloat v{0.3f, 0.7f, 1.9f, -0.1f};
    uniform_block(w, v, 200, 150, 1400, 1200, PF_PixelFloat{1.0f, 123.4f, 0.001f, 7.0f});
    const AreaSampler s(w.world, PF_PixelFormat_ARGB128);
    for (const Box& b : kUniformBoxes) EXPECT_TRUE(float_near(sf(s, b.x, b.y, b.rx, b.ry), v, 1e-6)) << b.x << "," << b.y;
}

TEST(AreaSampler, HugeBoxesOverAUniformWorld) {
    const int W = 700, H = 600;
    TestWorld<PF_Pixel8> w8(W, H);
    TestWorld<PF_Pixel16> w16(W, H);
    TestWorld<PF_PixelFloat> wf(W, H);
    w8.fill({201, 3, 77, 250});
    w16.fill({20001, 3, 32767, 250});
    wf.fill({0.8f, 0.25f, 0.6f, 0.05f});
    const AreaSampler a8(w8.world, PF_PixelFormat_ARGB32), a16(w16.world, PF_PixelFormat_ARGB64),
        af(wf.world, PF_PixelFormat_ARGB128);
    // Boxes containing the whole world: colour exact, alpha = coverage share.
    for (double r : {2000.0, 32767.0}) {
        const double cover = double(W) * H / (4 * r * r);
        const PF_Pixel8 p8 = s8(a8, 350, 300, r, r);
        EXPECT_EQ(p8.alpha, std::floor(201 * cover + 0.5));
        EXPECT_EQ(p8, (PF_Pixel8{p8.alpha, 3, 77, 250}));
        const PF_Pixel16 p16 = s16(a16, 350, 300, r, r);
        EXPECT_EQ(p16.alpha, std::floor(20001 * cover + 0.5));
        EXPECT_EQ(p16, (PF_Pixel16{p16.alpha, 3, 32767, 250}));
        EXPECT_TRUE(float_near(sf(af, 350, 300, r, r), PF_PixelFloat{float(0.8 * cover), 0.25f, 0.6f, 0.05f}, 1e-6));
    }
    // The largest fixed-point values do not overflow anything.
    PF_Pixel8 p{1, 1, 1, 1};
    EXPECT_EQ(a8.sample8(INT_MIN, INT_MAX, INT_MAX, INT_MAX, &p), PF_Err_NONE);
    EXPECT_EQ(p.red, 3);  // a sliver of column 0 is covered
    EXPECT_EQ(a8.sample8(INT_MAX, INT_MAX, INT_MIN, INT_MIN, &p), PF_Err_NONE);
    EXPECT_EQ(p, (PF_Pixel8{0, 0, 0, 0}));
    EXPECT_EQ(a8.sample8(0, 0, INT_MAX, INT_MAX, &p), PF_Err_NONE);
    EXPECT_EQ(p.green, 77);
}

// Direct box average, the definition written out.
template <typename Pixel>
void brute(TestWorld<Pixel>& w, double x, double y, double rx, double ry, double out[4]) {
    rx = std::max(rx, 0.5);
    ry = std::max(ry, 0.5);
    double sa = 0, sc[3] = {0, 0, 0};
    for (int j = 0; j < w.h; ++j) {
        const double oy = std::min(y + ry, j + 0.5) - std::max(y - ry, j - 0.5);
        if (oy <= 0) continue;
        for (int i = 0; i < w.w; ++i) {
            const double ox = std::min(x + rx, i + 0.5) - std::max(x - rx, i - 0.5);
            if (ox <= 0) continue;
            const Pixel& p = *w.at(i, j);
            const double a = p.alpha;
            sa += ox * oy * a;
            sc[0] += ox * oy * a * p.red;
            sc[1] += ox * oy * a * p.green;
            sc[2] += ox * oy * a * p.blue;
        }
    }
    out[0] = sa / (4 * rx * ry);
    for (int k = 0; k < 3; ++k) out[k + 1] = sa > 0 ? sc[k] / sa : 0;
}

TEST(AreaSampler, MatchesTheDirectAverage) {
    std::mt19937 rng(12345);
    const int W = 530, H = 300;  // several table tiles, ragged last ones
    TestWorld<PF_Pixel8> w8(W, H, 12);
    TestWorld<PF_Pixel16> w16(W, H, 2);
    TestWorld<PF_PixelFloat> wf(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const unsigned r = rng();
            const A_u_char a = (r & 3) == 0 ? 0 : A_u_char(r >> 8);
            *w8.at(x, y) = {a, A_u_char(r >> 16), A_u_char(r >> 24), A_u_char(r)};
            *w16.at(x, y) = {A_u_short(a * 128), A_u_short((r >> 12) & 0x7fff), A_u_short(r >> 17), A_u_short(r & 0x7fff)};
            *wf.at(x, y) = {a / 255.0f, (r >> 16) / 255.0f, float(r >> 24) - 100.0f, (r & 0xff) / 64.0f};
        }
    const AreaSampler a8(w8.world, PF_PixelFormat_ARGB32), a16(w16.world, PF_PixelFormat_ARGB64),
        af(wf.world, PF_PixelFormat_ARGB128);
    std::uniform_real_distribution<double> px(-20, W + 20), py(-20, H + 20), rad(0, 40);
    for (int n = 0; n < 150; ++n) {
        const double x = fix(px(rng)) / 65536.0, y = fix(py(rng)) / 65536.0;
        const double rx = fix(n % 5 == 0 ? 0.5 : rad(rng)) / 65536.0, ry = fix(n % 7 == 0 ? 0.5 : rad(rng)) / 65536.0;
        double e[4];
        brute(w8, x, y, rx, ry, e);
        const PF_Pixel8 p8 = s8(a8, x, y, rx, ry);
        const double g8[4] = {double(p8.alpha), double(p8.red), double(p8.green), double(p8.blue)};
        for (int k = 0; k < 4; ++k) EXPECT_LE(std::fabs(g8[k] - e[k]), 0.5 + 1e-9) << n << " lane " << k;

        brute(w16, x, y, rx, ry, e);
        const PF_Pixel16 p16 = s16(a16, x, y, rx, ry);
        const double g16[4] = {double(p16.alpha), double(p16.red), double(p16.green), double(p16.blue)};
        for (int k = 0; k < 4; ++k) EXPECT_LE(std::fabs(g16[k] - e[k]), 0.5 + 1e-9) << n << " lane " << k;

        brute(wf, x, y, rx, ry, e);
        const PF_PixelFloat pf = sf(af, x, y, rx, ry);
        const double gf[4] = {pf.alpha, pf.red, pf.green, pf.blue};
        for (int k = 0; k < 4; ++k) EXPECT_NEAR(gf[k], e[k], 1e-6 * std::max(1.0, std::fabs(e[k]))) << n << " lane " << k;
    }
}

TEST(AreaSampler, ClampsIntegerResultsNotFloat) {
    // 16-bit channels above full scale (malformed input) clamp to 32768.
    TestWorld<PF_Pixel16> w16(1, 1);
    *w16.at(0, 0) = {65535, 65535, 40000, 32768};
    EXPECT_EQ(s16(AreaSampler(w16.world, PF_PixelFormat_ARGB64), 0, 0, 0.5, 0.5), (PF_Pixel16{32768, 32768, 32768, 32768}));
    TestWorld<PF_PixelFloat> wf(1, 1);
    *wf.at(0, 0) = {2.0f, 3.5f, -1.25f, 1000.0f};
    EXPECT_TRUE(float_near(sf(AreaSampler(wf.world, PF_PixelFormat_ARGB128), 0, 0, 0.5, 0.5),
                           PF_PixelFloat{2.0f, 3.5f, -1.25f, 1000.0f}, 1e-6));
}

TEST(AreaSampler, RowPaddingIsIgnored) {
    TestWorld<PF_Pixel8> tight(40, 30, 0), padded(40, 30, 37);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            *tight.at(x, y) = *padded.at(x, y) = {255, A_u_char(x * 6), A_u_char(y * 8), A_u_char(x + y)};
    const AreaSampler a(tight.world, PF_PixelFormat_ARGB32), b(padded.world, PF_PixelFormat_ARGB32);
    for (double x = -1; x < 41; x += 2.3)
        for (double y = -1; y < 31; y += 1.9)
            for (double r : {0.5, 1.3, 6.0}) EXPECT_EQ(s8(b, x, y, r, r), s8(a, x, y, r, r)) << x << "," << y;
    // The padding's junk would show at the right edge if it were read.
    EXPECT_EQ(s8(b, 39.5, 10, 0.5, 0.5).alpha, 128);
}

TEST(AreaSampler, NonFiniteFloatPixelsStayLocal) {
    TestWorld<PF_PixelFloat> w(600, 300);
    w.fill({1.0f, 0.5f, 0.25f, 0.125f});
    *w.at(10, 10) = {1.0f, std::numeric_limits<float>::infinity(), 0.0f, 0.0f};
    *w.at(11, 10) = {std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f, 0.0f};
    const AreaSampler s(w.world, PF_PixelFormat_ARGB128);
    EXPECT_TRUE(float_near(sf(s, 400, 200, 3, 3), PF_PixelFloat{1.0f, 0.5f, 0.25f, 0.125f}, 1e-6));
    EXPECT_TRUE(float_near(sf(s, 10, 10, 0.5, 0.5), PF_PixelFloat{0, 0, 0, 0}, 0));
}

TEST(AreaSampler, TransparentAreasGiveZeroAtEveryDepth) {
    // Opaque noise around a transparent hole; samples inside the hole are zero
    // exactly, whatever the rounding of the tables' larger sums.
    TestWorld<PF_PixelFloat> wf(520, 300);
    TestWorld<PF_Pixel16> w16(520, 300);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 520; ++x) {
            const bool hole = x >= 250 && x < 270 && y >= 100 && y < 120;
            *wf.at(x, y) = hole ? PF_PixelFloat{0, 0.3f, 0.3f, 0.3f} : PF_PixelFloat{0.7f, 0.1f * (x % 7), 0.3f, 3.3f};
            *w16.at(x, y) = hole ? PF_Pixel16{0, 999, 999, 999} : PF_Pixel16{30000, A_u_short(x), A_u_short(y), 7};
        }
    const AreaSampler af(wf.world, PF_PixelFormat_ARGB128), a16(w16.world, PF_PixelFormat_ARGB64);
    for (double x = 251; x < 269; x += 1.7)
        for (double y = 101; y < 119; y += 2.9) {
            EXPECT_TRUE(float_near(sf(af, x, y, 0.5, 0.5), PF_PixelFloat{0, 0, 0, 0}, 0)) << x << "," << y;
            EXPECT_EQ(s16(a16, x, y, 0.9, 0.6), (PF_Pixel16{0, 0, 0, 0})) << x << "," << y;
        }
}

TEST(AreaSampler, DegenerateWorldsAndCalls) {
    std::vector<PF_Pixel8> px(16, PF_Pixel8{255, 255, 255, 255});
    PF_EffectWorld w{};
    w.data = px.data();
    w.width = 4;
    w.height = 4;
    w.rowbytes = 16;
    struct Case {
        const char* name;
        A_long width, height, rowbytes;
        bool null_data;
        PF_PixelFormat format;
    } cases[] = {
        {"zero width", 0, 4, 16, false, PF_PixelFormat_ARGB32},
        {"zero height", 4, 0, 16, false, PF_PixelFormat_ARGB32},
        {"negative size", -4, 4, 16, false, PF_PixelFormat_ARGB32},
        {"no data", 4, 4, 16, true, PF_PixelFormat_ARGB32},
        {"short rows", 4, 4, 12, false, PF_PixelFormat_ARGB32},
        {"unknown format", 4, 4, 16, false, PF_PixelFormat_BGRA32},
    };
    for (const Case& c : cases) {
        PF_EffectWorld d = w;
        d.width = c.width;
        d.height = c.height;
        d.rowbytes = c.rowbytes;
        if (c.null_data) d.data = nullptr;
        const AreaSampler s(d, c.format);
        PF_Pixel8 p{9, 9, 9, 9};
        EXPECT_EQ(s.sample8(kHalf, kHalf, kHalf, kHalf, &p), PF_Err_NONE) << c.name;
        EXPECT_EQ(p, (PF_Pixel8{0, 0, 0, 0})) << c.name;
        EXPECT_EQ(s.table_bytes(), 0u) << c.name;
    }
    const AreaSampler good(w, PF_PixelFormat_ARGB32);
    EXPECT_EQ(good.sample8(0, 0, kHalf, kHalf, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    PF_Pixel16 p16{9, 9, 9, 9};
    EXPECT_EQ(good.sample16(0, 0, kHalf, kHalf, &p16), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(p16, (PF_Pixel16{0, 0, 0, 0}));
    PF_PixelFloat pf{};
    EXPECT_EQ(good.sample_float(0, 0, kHalf, kHalf, &pf), PF_Err_BAD_CALLBACK_PARAM);
    // Copies share the tables and sample alike.
    const AreaSampler copy = good;
    EXPECT_EQ(s8(copy, 1.5, 1.5, 2, 2), (PF_Pixel8{255, 255, 255, 255}));
}

TEST(AreaSampler, TableMemoryPerPixel) {
    // The figures promised in the header, on a world of many tiles.
    const int W = 1024, H = 768;
    TestWorld<PF_Pixel8> w8(W, H);
    TestWorld<PF_Pixel16> w16(W, H);
    TestWorld<PF_PixelFloat> wf(W, H);
    const double px = double(W) * H;
    EXPECT_LE(AreaSampler(w8.world, PF_PixelFormat_ARGB32).table_bytes() / px, 16.3);
    EXPECT_LE(AreaSampler(w16.world, PF_PixelFormat_ARGB64).table_bytes() / px, 22.3);
    EXPECT_LE(AreaSampler(wf.world, PF_PixelFormat_ARGB128).table_bytes() / px, 32.55);
}

}  // namespace
}  // namespace standalone
