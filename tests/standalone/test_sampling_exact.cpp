// Area sampling bit for bit. At 8 and 16 bits the sampler's answer is the
// documented arithmetic done directly on the pixels. A box splits along each
// axis into at most three segments (a partial first pixel, whole pixels, a
// partial last pixel); every segment pair (a, b) has an exact integer block
// sum B of α and α·c and the weight wx[a]·wy[b]; the lanes are
// Σ_a Σ_b wx[a]·wy[b]·B in double, in that order; alpha is lanes₀ ÷ area and
// each colour lanesₖ ÷ lanes₀, rounded half up and clamped. However the
// tables and their fast paths find B, the results must be these.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "standalone/sampling.h"
#include "tests/support/pixels.h"

namespace standalone {
namespace {

template <typename Pixel>
struct Image {
    int w, h;
    std::vector<Pixel> px;
    PF_EffectWorld world{};
    Image(int width, int height) : w(width), h(height), px(static_cast<std::size_t>(width) * height) {
        world.data = px.data();
        world.width = w;
        world.height = h;
        world.rowbytes = static_cast<A_long>(w * sizeof(Pixel));
    }
    const Pixel& at(int x, int y) const { return px[static_cast<std::size_t>(y) * w + x]; }
};

// Segments of [lo, hi] (16.16, clipped, lo < hi): pixel ranges and weights.
struct Segment {
    long first, last;  // pixels, inclusive
    double weight;
};

std::vector<Segment> segments(std::int64_t lo, std::int64_t hi) {
    const long i0 = static_cast<long>(std::floor(lo / 65536.0 + 0.5));
    const long i1 = static_cast<long>(std::ceil(hi / 65536.0 + 0.5)) - 1;
    if (i0 >= i1) return {{i0, i0, (hi - lo) / 65536.0}};
    std::vector<Segment> s{{i0, i0, (i0 + 0.5) - lo / 65536.0}};
    if (i1 > i0 + 1) s.push_back({i0 + 1, i1 - 1, 1.0});
    s.push_back({i1, i1, hi / 65536.0 - (i1 - 0.5)});
    return s;
}

template <typename Pixel>
Pixel reference(const Image<Pixel>& img, PF_Fixed x, PF_Fixed y, PF_Fixed rx_in, PF_Fixed ry_in, double full) {
    const std::int64_t rx = std::max<std::int64_t>(rx_in, 0x8000), ry = std::max<std::int64_t>(ry_in, 0x8000);
    const std::int64_t x0 = x - rx, x1 = x + rx, y0 = y - ry, y1 = y + ry;
    const std::int64_t lx = std::max<std::int64_t>(x0, -0x8000), hx = std::min<std::int64_t>(x1, img.w * 65536LL - 0x8000);
    const std::int64_t ly = std::max<std::int64_t>(y0, -0x8000), hy = std::min<std::int64_t>(y1, img.h * 65536LL - 0x8000);
    if (lx >= hx || ly >= hy) return Pixel{};
    const double area = ((x1 - x0) / 65536.0) * ((y1 - y0) / 65536.0);
    double lanes[4] = {0, 0, 0, 0};
    for (const Segment& sx : segments(lx, hx))
        for (const Segment& sy : segments(ly, hy)) {
            std::uint64_t block[4] = {0, 0, 0, 0};
            for (long j = sy.first; j <= sy.last; ++j)
                for (long i = sx.first; i <= sx.last; ++i) {
                    const Pixel& p = img.at(static_cast<int>(i), static_cast<int>(j));
                    block[0] += p.alpha;
                    block[1] += std::uint64_t{p.alpha} * p.red;
                    block[2] += std::uint64_t{p.alpha} * p.green;
                    block[3] += std::uint64_t{p.alpha} * p.blue;
                }
            const double wt = sx.weight * sy.weight;
            for (int k = 0; k < 4; ++k) lanes[k] += wt * static_cast<double>(block[k]);
        }
    if (!(lanes[0] > 0.0)) return Pixel{};
    auto round = [full](double v) { return std::clamp(std::floor(v + 0.5), 0.0, full); };
    using C = decltype(Pixel{}.alpha);
    return Pixel{static_cast<C>(round(lanes[0] / area)), static_cast<C>(round(lanes[1] / lanes[0])),
                 static_cast<C>(round(lanes[2] / lanes[0])), static_cast<C>(round(lanes[3] / lanes[0]))};
}

struct Box {
    PF_Fixed x, y, rx, ry;
};

// Boxes of every kind: exact pixels, bilinear, partial edges, many pixels
// inside one table tile, across tile edges, past the world's edges, and
// large enough that block sums pass 2^31 at 8 bits.
std::vector<Box> boxes(int w, int h, std::mt19937& rng) {
    std::vector<Box> out;
    auto fixed = [&](double lo, double hi) {
        return static_cast<PF_Fixed>(std::uniform_real_distribution<double>(lo, hi)(rng) * 65536.0);
    };
    for (int n = 0; n < 400; ++n) {
        const PF_Fixed x = fixed(-3, w + 3), y = fixed(-3, h + 3);
        switch (n % 6) {
        case 0: out.push_back({x & ~0xFFFF, y & ~0xFFFF, 0x8000, 0x8000}); break;
        case 1: out.push_back({x, y, 0x8000, 0x8000}); break;
        case 2: out.push_back({x, y, fixed(0, 1.5), fixed(0, 1.5)}); break;
        case 3: out.push_back({x, y, fixed(1, 12), fixed(1, 12)}); break;
        case 4: out.push_back({fixed(250, 262), fixed(250, 262), fixed(2, 20), fixed(2, 20)}); break;
        default: out.push_back({x, y, fixed(90, 300), fixed(90, 300)}); break;
        }
    }
    return out;
}

TEST(AreaSamplerExact, EightBitsIsTheArithmeticOnThePixels) {
    std::mt19937 rng(2024);
    Image<PF_Pixel8> img(600, 530);
    for (auto& p : img.px) {
        const unsigned r = rng();
        p = {A_u_char((r & 7) == 0 ? 0 : (r & 8) ? 255 : r >> 24), A_u_char(r >> 8), A_u_char(r >> 16), A_u_char(r)};
    }
    const AreaSampler sampler(img.world, PF_PixelFormat_ARGB32);
    for (const Box& b : boxes(img.w, img.h, rng)) {
        PF_Pixel8 got{};
        ASSERT_EQ(sampler.sample8(b.x, b.y, b.rx, b.ry, &got), PF_Err_NONE);
        const PF_Pixel8 want = reference(img, b.x, b.y, b.rx, b.ry, 255.0);
        EXPECT_EQ(got, want) << b.x << "," << b.y << " r " << b.rx << "," << b.ry;
    }
}

TEST(AreaSamplerExact, SixteenBitsIsTheArithmeticOnThePixels) {
    std::mt19937 rng(77);
    Image<PF_Pixel16> img(530, 600);
    for (auto& p : img.px) {
        const unsigned r = rng(), s = rng();
        // Channels up to 65535, beyond full scale, make the largest sums.
        p = {A_u_short((r & 7) == 0 ? 0 : (r & 8) ? 65535 : r >> 16), A_u_short(s), A_u_short(s >> 16), A_u_short(r)};
    }
    const AreaSampler sampler(img.world, PF_PixelFormat_ARGB64);
    for (const Box& b : boxes(img.w, img.h, rng)) {
        PF_Pixel16 got{};
        ASSERT_EQ(sampler.sample16(b.x, b.y, b.rx, b.ry, &got), PF_Err_NONE);
        const PF_Pixel16 want = reference(img, b.x, b.y, b.rx, b.ry, 32768.0);
        EXPECT_EQ(got, want) << b.x << "," << b.y << " r " << b.rx << "," << b.ry;
    }
}

// Where the processor has AVX the float tables are built four lanes at a
// time, in tiles side by side; they must be the two-lane tables to the bit.
// Six tiles across (four side by side, then two, the last one narrow) and
// two down; magnitudes far apart, so that the double-double sums matter,
// and non-finite pixels.
TEST(AreaSamplerExact, FloatTablesAreTheSameBuiltFourLanesAtATime) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    if (!__builtin_cpu_supports("avx")) GTEST_SKIP() << "no AVX here: one build only";
#else
    GTEST_SKIP() << "one build only on this processor";
#endif
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> scale(-40, 40);
    Image<PF_PixelFloat> img(1300, 300);
    for (auto& p : img.px) {
        auto v = [&] { return std::ldexp(unit(rng), scale(rng)); };
        p = {std::fabs(v()), v(), v(), v()};
        if (rng() % 97 == 0) p.green = (rng() & 1) ? INFINITY : NAN;
    }
    const AreaSampler wide(img.world, PF_PixelFormat_ARGB128, true);
    const AreaSampler narrow(img.world, PF_PixelFormat_ARGB128, false);
    for (const Box& b : boxes(img.w, img.h, rng)) {
        PF_PixelFloat a{}, n{};
        ASSERT_EQ(wide.sample_float(b.x, b.y, b.rx, b.ry, &a), PF_Err_NONE);
        ASSERT_EQ(narrow.sample_float(b.x, b.y, b.rx, b.ry, &n), PF_Err_NONE);
        EXPECT_EQ(std::memcmp(&a, &n, sizeof a), 0) << b.x << "," << b.y << " r " << b.rx << "," << b.ry;
    }
}

}  // namespace
}  // namespace standalone
