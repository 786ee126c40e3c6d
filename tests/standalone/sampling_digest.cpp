// Prints a digest of many area samples at each depth, of worlds and boxes of
// every kind (transparent and non-finite pixels, boxes inside one table tile,
// across tiles, past the edges, huge). Built once with the vector paths and
// once with TRELLIS_NO_SIMD=1: the two must print the same.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "standalone/sampling.h"

namespace {

std::uint64_t g_hash = 0xcbf29ce484222325ULL;

template <typename T>
void mix(const T& value) {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    for (unsigned char b : bytes) g_hash = (g_hash ^ b) * 0x100000001b3ULL;
}

template <typename Pixel, typename Make, typename Sample>
void digest(const char* name, PF_PixelFormat format, std::mt19937& rng, Make make, Sample sample) {
    const int w = 600, h = 530;
    std::vector<Pixel> px(static_cast<std::size_t>(w) * h);
    for (auto& p : px) p = make(rng);
    PF_EffectWorld world{};
    world.data = px.data();
    world.width = w;
    world.height = h;
    world.rowbytes = static_cast<A_long>(w * sizeof(Pixel));
    const standalone::AreaSampler sampler(world, format);
    auto fixed = [&](double lo, double hi) {
        return static_cast<PF_Fixed>(std::uniform_real_distribution<double>(lo, hi)(rng) * 65536.0);
    };
    g_hash = 0xcbf29ce484222325ULL;
    for (int n = 0; n < 6000; ++n) {
        const PF_Fixed x = fixed(-3, w + 3), y = fixed(-3, h + 3);
        PF_Fixed rx = 0x8000, ry = 0x8000;
        switch (n % 5) {
        case 0: break;
        case 1: rx = fixed(0, 1.5), ry = fixed(0, 1.5); break;
        case 2: rx = fixed(1, 40), ry = fixed(1, 40); break;
        case 3: rx = fixed(90, 300), ry = fixed(1, 300); break;
        default: rx = fixed(1, 4000), ry = fixed(1, 4000); break;
        }
        Pixel out{};
        mix(sample(sampler, x, y, rx, ry, &out));
        mix(out);
    }
    std::printf("%s %016llx\n", name, static_cast<unsigned long long>(g_hash));
}

}  // namespace

int main() {
    std::mt19937 rng(4242);
    digest<PF_Pixel8>("8", PF_PixelFormat_ARGB32, rng, [](std::mt19937& r) {
        const unsigned v = r();
        return PF_Pixel8{A_u_char((v & 7) == 0 ? 0 : (v & 8) ? 255 : v >> 24), A_u_char(v >> 8), A_u_char(v >> 16),
                         A_u_char(v)};
    }, [](const standalone::AreaSampler& s, PF_Fixed x, PF_Fixed y, PF_Fixed rx, PF_Fixed ry, PF_Pixel8* out) {
        return s.sample8(x, y, rx, ry, out);
    });
    digest<PF_Pixel16>("16", PF_PixelFormat_ARGB64, rng, [](std::mt19937& r) {
        const unsigned v = r(), u = r();
        return PF_Pixel16{A_u_short((v & 7) == 0 ? 0 : (v & 8) ? 65535 : v >> 16), A_u_short(u), A_u_short(u >> 16),
                          A_u_short(v)};
    }, [](const standalone::AreaSampler& s, PF_Fixed x, PF_Fixed y, PF_Fixed rx, PF_Fixed ry, PF_Pixel16* out) {
        return s.sample16(x, y, rx, ry, out);
    });
    digest<PF_PixelFloat>("float", PF_PixelFormat_ARGB128, rng, [](std::mt19937& r) {
        std::uniform_real_distribution<float> unit(-0.25f, 1.5f);
        const unsigned v = r();
        const float odd = (v & 0xFF) == 0 ? std::numeric_limits<float>::quiet_NaN()
                          : (v & 0xFF) == 1 ? std::numeric_limits<float>::infinity()
                                            : unit(r) * 1e5f;
        return PF_PixelFloat{(v & 7) == 2 ? 0.0f : unit(r), unit(r), (v & 0xF0) == 0 ? odd : unit(r), unit(r)};
    }, [](const standalone::AreaSampler& s, PF_Fixed x, PF_Fixed y, PF_Fixed rx, PF_Fixed ry, PF_PixelFloat* out) {
        return s.sample_float(x, y, rx, ry, out);
    });
    return 0;
}
