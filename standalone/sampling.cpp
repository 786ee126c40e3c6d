#include "standalone/sampling.h"

#include "standalone/world.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <unordered_map>
#include <vector>

// The usual boxes' sums and the 8-bit and float builds run several lanes per
// SSE2 instruction: the same operations lane by lane, so the same results as
// the portable code, which TRELLIS_NO_SIMD selects when defined non-zero (an
// empty definition counts as non-zero: 0 - - 1 is 1).
#if defined(TRELLIS_NO_SIMD) && (0 - TRELLIS_NO_SIMD - 1) != -1
#define TRELLIS_SAMPLING_PORTABLE 1
#endif
#if defined(__SSE2__) && !defined(TRELLIS_SAMPLING_PORTABLE)
#define TRELLIS_SAMPLING_SSE2 1
#include <emmintrin.h>
#endif
// The float build takes all four lanes per instruction where the processor
// has AVX, chosen as it runs: the same operations lane by lane again.
#if defined(TRELLIS_SAMPLING_SSE2) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(_WIN32)
#define TRELLIS_SAMPLING_AVX 1
#include <immintrin.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif
// Where the standard library has no threads (mingw's win32 model) the host
// runs on one thread, and the shared tables need no lock.
#if !defined(__GLIBCXX__) || defined(_GLIBCXX_HAS_GTHREADS)
#include <mutex>
#define TRELLIS_SAMPLING_LOCKS 1
#endif

namespace standalone {

namespace {

// Tables are tiled so per-pixel entries only hold sums within one tile: at 8
// bits α·c over 256 × 256 pixels still fits 32 bits, at 16 bits 48.
constexpr int kTileShift = 8;
constexpr std::size_t kTile = std::size_t{1} << kTileShift;
constexpr int kLanes = 4;  // α, α·r, α·g, α·b

// Double-double: an unevaluated sum hi + lo, good for ~106 bits. Needs strict
// IEEE evaluation (no contraction, no fast-math), as the whole build has.
// Trivial on purpose: scratch arrays of it are not zero-filled per sample.
struct DD {
    double hi, lo;
};

DD two_sum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

DD operator+(DD a, DD b) {
    DD s = two_sum(a.hi, b.hi);
    const double e = s.lo + a.lo + b.lo;
    const double hi = s.hi + e;
    return {hi, e - (hi - s.hi)};
}

[[maybe_unused]] DD operator-(DD a, DD b) { return a + DD{-b.hi, -b.lo}; }

double to_double(DD a) { return a.hi + a.lo; }
double magnitude(DD a) { return std::fabs(a.hi); }

struct FreeBlock {
    void operator()(void* p) const { std::free(p); }
};

// Per-pixel storage, left uninitialised: the build writes every entry once,
// and zero-filling first would touch the largest allocation twice.
template <typename T>
class Plane {
public:
    void allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        block_.reset(allocate_memory(n * sizeof(T)));
        if (block_ == nullptr) throw std::bad_alloc();
        data_ = static_cast<T*>(block_.get());
        size_ = n;
    }
    T* data() { return data_; }
    const T* data() const { return data_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    std::size_t bytes() const { return size_ * sizeof(T); }

private:
    std::unique_ptr<void, FreeBlock> block_;
    T* data_ = nullptr;  // trivial element types: the block's storage is theirs
    std::size_t size_ = 0;
};

// ---------------------------------------------------------------------------
// Per-depth storage of the within-tile sums and the lane values of one pixel.
// ---------------------------------------------------------------------------

struct Depth8 {
    using Pixel = PF_Pixel8;
    using Acc = std::uint64_t;   // wraps modulo 2^64; every true sum taken is far below
    using Local = std::uint32_t;  // a sum within one tile, and any difference of two
    static constexpr bool kExact = true;
    Plane<std::uint32_t> local;  // 4 per pixel

    void allocate(std::size_t pixels) { local.allocate(pixels * kLanes); }
    static void lanes(const Pixel& p, Acc v[kLanes]) {
        const Acc a = p.alpha;
        v[0] = a;
        v[1] = a * p.red;
        v[2] = a * p.green;
        v[3] = a * p.blue;
    }
    void load(std::size_t i, Local v[kLanes]) const { std::memcpy(v, &local[i * kLanes], sizeof(Local) * kLanes); }
    std::size_t bytes() const { return local.bytes(); }
};

struct Depth16 {
    using Pixel = PF_Pixel16;
    using Acc = std::uint64_t;
    using Local = std::uint64_t;
    static constexpr bool kExact = true;
    Plane<std::uint32_t> local;  // α, then the low 32 bits of each α·c
    Plane<std::uint16_t> high;   // bits 32..47 of each α·c

    void allocate(std::size_t pixels) {
        local.allocate(pixels * kLanes);
        high.allocate(pixels * (kLanes - 1) + 1);  // one spare: a pixel's three are read as four
    }
    static void lanes(const Pixel& p, Acc v[kLanes]) {
        const Acc a = p.alpha;
        v[0] = a;
        v[1] = a * p.red;
        v[2] = a * p.green;
        v[3] = a * p.blue;
    }
    void store(std::size_t i, const Acc v[kLanes]) {
        local[i * kLanes] = static_cast<std::uint32_t>(v[0]);
        for (int k = 1; k < kLanes; ++k) {
            local[i * kLanes + k] = static_cast<std::uint32_t>(v[k]);
            high[i * (kLanes - 1) + k - 1] = static_cast<std::uint16_t>(v[k] >> 32);
        }
    }
    void load(std::size_t i, Local v[kLanes]) const {
        v[0] = local[i * kLanes];
        for (int k = 1; k < kLanes; ++k)
            v[k] = local[i * kLanes + k] | (Local{high[i * (kLanes - 1) + k - 1]} << 32);
    }
    std::size_t bytes() const { return local.bytes() + high.bytes(); }
};

struct DepthFloat {
    using Pixel = PF_PixelFloat;
    using Acc = DD;
    using Local = double;
    static constexpr bool kExact = false;
    Plane<double> local;  // 4 per pixel, each rounded from the double-double sum

    void allocate(std::size_t pixels) { local.allocate(pixels * kLanes); }
    static void lanes(const Pixel& p, Acc v[kLanes]) {
        // float × float is exact in double.
        const double a = p.alpha, r = p.red, g = p.green, b = p.blue;
        const bool ok = std::isfinite(a) && std::isfinite(r) && std::isfinite(g) && std::isfinite(b);
        v[0] = {ok ? a : 0.0, 0.0};
        v[1] = {ok ? a * r : 0.0, 0.0};
        v[2] = {ok ? a * g : 0.0, 0.0};
        v[3] = {ok ? a * b : 0.0, 0.0};
    }
    void store(std::size_t i, const Acc v[kLanes]) {
        for (int k = 0; k < kLanes; ++k) local[i * kLanes + k] = to_double(v[k]);
    }
    void load(std::size_t i, Local v[kLanes]) const {
        for (int k = 0; k < kLanes; ++k) v[k] = local[i * kLanes + k];
    }
    std::size_t bytes() const { return local.bytes(); }
};

DD widen(double v) { return {v, 0.0}; }

// Exact for any value below 2^32.
[[maybe_unused]] double exact_double(std::uint32_t v) {
    return static_cast<double>(static_cast<std::int32_t>(v ^ 0x80000000u)) + 2147483648.0;
}
double exact_double(std::uint64_t v) { return static_cast<double>(v); }

// Pixel boundaries of a clipped box along one axis: segment s covers the
// pixels (bound[s], bound[s + 1]] with weight weight[s] (the covered fraction
// of each of those pixels along this axis). Unused segments repeat the last
// bound and weigh 0.
struct AxisSplit {
    A_long bound[4];
    double weight[3];
    int segments = 0;
};

constexpr std::int64_t kOne = 65536, kHalf = 32768;

double fixed_to_double(std::int64_t v) { return static_cast<double>(v) / 65536.0; }

// Splits [lo, hi] (16.16, already inside [−½, size − ½], lo < hi) into pixels.
// Positions and radii are 16.16 values, so every weight is exact.
[[gnu::always_inline]] inline AxisSplit split_axis(std::int64_t lo, std::int64_t hi) {
    const A_long i0 = static_cast<A_long>((lo + kHalf) >> 16);               // floor(lo + ½)
    const A_long i1 = static_cast<A_long>((hi + kHalf + kOne - 1) >> 16) - 1;  // ceil(hi + ½) − 1
    if (i0 >= i1) return {{i0 - 1, i0, i0, i0}, {fixed_to_double(hi - lo), 0.0, 0.0}, 1};
    const double first = fixed_to_double(std::int64_t{i0} * kOne + kHalf - lo);
    const double last = fixed_to_double(hi - (std::int64_t{i1} * kOne - kHalf));
    if (i1 == i0 + 1) return {{i0 - 1, i0, i1, i1}, {first, last, 0.0}, 2};
    return {{i0 - 1, i0, i1 - 1, i1}, {first, 1.0, last}, 3};
}

// A box clipped to the world: its two axes and its unclipped area.
struct ClippedBox {
    AxisSplit xs, ys;
    double area;
};

[[gnu::always_inline]] inline bool clip_box(PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius, A_long width, A_long height,
              ClippedBox* box) {
    // Radii below ½ are ½.
    const std::int64_t rx = std::max<std::int64_t>(x_radius, kHalf), ry = std::max<std::int64_t>(y_radius, kHalf);
    const std::int64_t x0 = x - rx, x1 = x + rx, y0 = y - ry, y1 = y + ry;
    const std::int64_t lx = std::max(x0, -kHalf), hx = std::min(x1, std::int64_t{width} * kOne - kHalf);
    const std::int64_t ly = std::max(y0, -kHalf), hy = std::min(y1, std::int64_t{height} * kOne - kHalf);
    if (lx >= hx || ly >= hy) return false;
    box->area = fixed_to_double(x1 - x0) * fixed_to_double(y1 - y0);
    box->xs = split_axis(lx, hx);
    box->ys = split_axis(ly, hy);
    return true;
}

// A box whose every bound lies in one tile along both axes.
bool inside_one_tile(const AxisSplit& xs, const AxisSplit& ys) {
    return xs.bound[0] >= 0 && ys.bound[0] >= 0 && (xs.bound[0] >> kTileShift) == (xs.bound[3] >> kTileShift) &&
           (ys.bound[0] >> kTileShift) == (ys.bound[3] >> kTileShift);
}

// Σ over segment pairs (a, b), in that order, of weight × block sum, where
// block (a, b) is the difference of the sums g at its four corners. g is
// exact (unsigned, wrapping), so the block sums are the true integers; the
// weights of unused segments are 0 and add nothing.
template <typename V>
void weigh_blocks(const V g[4][4][kLanes], const AxisSplit& xs, const AxisSplit& ys, double lanes[kLanes]) {
    for (int k = 0; k < kLanes; ++k) lanes[k] = 0.0;
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) {
            const double wt = xs.weight[a] * ys.weight[b];
            for (int k = 0; k < kLanes; ++k) {
                const V block = static_cast<V>(static_cast<V>(g[a + 1][b + 1][k] - g[a + 1][b][k]) -
                                               static_cast<V>(g[a][b + 1][k] - g[a][b][k]));
                lanes[k] += wt * exact_double(block);
            }
        }
}

#if defined(TRELLIS_SAMPLING_SSE2)
// weigh_blocks for a box inside one tile, two lanes per instruction and the
// same operations lane by lane, so the same results. The corners' local sums
// come column by column (rows[b] + cols[a]); each column's three vertical
// differences serve the blocks on both sides of it.

// Two double-doubles, lane by lane: the operations of DD's + and −.
struct DD2 {
    __m128d hi, lo;
};

[[gnu::always_inline]] inline DD2 operator+(DD2 a, DD2 b) {
    const __m128d s = _mm_add_pd(a.hi, b.hi);
    const __m128d bb = _mm_sub_pd(s, a.hi);
    const __m128d s_lo = _mm_add_pd(_mm_sub_pd(a.hi, _mm_sub_pd(s, bb)), _mm_sub_pd(b.hi, bb));
    const __m128d e = _mm_add_pd(_mm_add_pd(s_lo, a.lo), b.lo);
    const __m128d hi = _mm_add_pd(s, e);
    return DD2{hi, _mm_sub_pd(e, _mm_sub_pd(hi, s))};
}

[[gnu::always_inline]] inline DD2 operator-(DD2 a, DD2 b) {
    const __m128d sign = _mm_set1_pd(-0.0);
    return a + DD2{_mm_xor_pd(b.hi, sign), _mm_xor_pd(b.lo, sign)};
}

#if defined(TRELLIS_SAMPLING_AVX)
// Four double-doubles, lane by lane: DD's + again.
struct DD4 {
    __m256d hi, lo;
};

[[gnu::always_inline, gnu::target("avx")]] inline DD4 add(DD4 a, DD4 b) {
    const __m256d s = _mm256_add_pd(a.hi, b.hi);
    const __m256d bb = _mm256_sub_pd(s, a.hi);
    const __m256d s_lo = _mm256_add_pd(_mm256_sub_pd(a.hi, _mm256_sub_pd(s, bb)), _mm256_sub_pd(b.hi, bb));
    const __m256d e = _mm256_add_pd(_mm256_add_pd(s_lo, a.lo), b.lo);
    const __m256d hi = _mm256_add_pd(s, e);
    return DD4{hi, _mm256_sub_pd(e, _mm256_sub_pd(hi, s))};
}
#endif

// Lanes k and k + 1 of an array of DD.
[[gnu::always_inline]] inline DD2 load_pair(const DD* p) {
    const __m128d x = _mm_loadu_pd(&p[0].hi), y = _mm_loadu_pd(&p[1].hi);
    return DD2{_mm_unpacklo_pd(x, y), _mm_unpackhi_pd(x, y)};
}

// 8 bits: lanes are 32-bit. Block sums below 2^31 (kSmall) convert to double
// directly, larger ones through an offset. Written out block by block: the
// loops' bookkeeping would cost as much as the arithmetic.
template <bool kSmall>
[[gnu::always_inline]] inline void weigh_local8(const std::uint32_t* const rows[4], const std::size_t cols[4],
                                                const AxisSplit& xs, const AxisSplit& ys, double lanes[kLanes]) {
    const std::uint32_t* const r0 = rows[0];
    const std::uint32_t* const r1 = rows[1];
    const std::uint32_t* const r2 = rows[2];
    const std::uint32_t* const r3 = rows[3];
    // Vertical differences of one column of corners.
    struct Column {
        __m128i v0, v1, v2;
    };
    const auto column = [&](std::size_t col) {
        const std::size_t c = col * kLanes;
        const __m128i g0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + c));
        const __m128i g1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + c));
        const __m128i g2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r2 + c));
        const __m128i g3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r3 + c));
        return Column{_mm_sub_epi32(g1, g0), _mm_sub_epi32(g2, g1), _mm_sub_epi32(g3, g2)};
    };
    __m128d low = _mm_setzero_pd(), high = _mm_setzero_pd();  // lanes 0, 1 and 2, 3
    const auto add = [&](__m128i right, __m128i left, double wt) {
        __m128i block = _mm_sub_epi32(right, left);
        __m128d lo, hi;
        if constexpr (kSmall) {
            lo = _mm_cvtepi32_pd(block);
            hi = _mm_cvtepi32_pd(_mm_shuffle_epi32(block, _MM_SHUFFLE(1, 0, 3, 2)));
        } else {
            block = _mm_xor_si128(block, _mm_set1_epi32(std::numeric_limits<std::int32_t>::min()));
            const __m128d offset = _mm_set1_pd(2147483648.0);
            lo = _mm_add_pd(_mm_cvtepi32_pd(block), offset);
            hi = _mm_add_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(block, _MM_SHUFFLE(1, 0, 3, 2))), offset);
        }
        const __m128d w = _mm_set1_pd(wt);
        low = _mm_add_pd(low, _mm_mul_pd(w, lo));
        high = _mm_add_pd(high, _mm_mul_pd(w, hi));
    };
    const double wy0 = ys.weight[0], wy1 = ys.weight[1], wy2 = ys.weight[2];
    const Column c0 = column(cols[0]), c1 = column(cols[1]);
    add(c1.v0, c0.v0, xs.weight[0] * wy0);
    add(c1.v1, c0.v1, xs.weight[0] * wy1);
    add(c1.v2, c0.v2, xs.weight[0] * wy2);
    const Column c2 = column(cols[2]);
    add(c2.v0, c1.v0, xs.weight[1] * wy0);
    add(c2.v1, c1.v1, xs.weight[1] * wy1);
    add(c2.v2, c1.v2, xs.weight[1] * wy2);
    const Column c3 = column(cols[3]);
    add(c3.v0, c2.v0, xs.weight[2] * wy0);
    add(c3.v1, c2.v1, xs.weight[2] * wy1);
    add(c3.v2, c2.v2, xs.weight[2] * wy2);
    _mm_storeu_pd(lanes, low);
    _mm_storeu_pd(lanes + 2, high);
}

// Corner sums with 64-bit lanes: (α, α·r) and (α·g, α·b).
struct Corner64 {
    __m128i ar, gb;
};

// The same for 64-bit lanes, the corners from corner(a, b); every block sum
// must lie below 2^52, which converts exactly by way of the exponent bits of
// 2^52.
template <typename CornerAt>
[[gnu::always_inline]] inline void weigh_blocks64(const CornerAt& corner, const AxisSplit& xs, const AxisSplit& ys,
                                                  double lanes[kLanes]) {
    struct Column {
        __m128i ar0, ar1, ar2, gb0, gb1, gb2;
    };
    const auto column = [&](int a) {
        const Corner64 g0 = corner(a, 0), g1 = corner(a, 1), g2 = corner(a, 2), g3 = corner(a, 3);
        return Column{_mm_sub_epi64(g1.ar, g0.ar), _mm_sub_epi64(g2.ar, g1.ar), _mm_sub_epi64(g3.ar, g2.ar),
                      _mm_sub_epi64(g1.gb, g0.gb), _mm_sub_epi64(g2.gb, g1.gb), _mm_sub_epi64(g3.gb, g2.gb)};
    };
    const __m128i exponent = _mm_set1_epi64x(0x4330000000000000);  // 2^52
    const __m128d two52 = _mm_set1_pd(4503599627370496.0);
    __m128d low = _mm_setzero_pd(), high = _mm_setzero_pd();
    const auto add = [&](__m128i right_ar, __m128i left_ar, __m128i right_gb, __m128i left_gb, double wt) {
        const __m128d w = _mm_set1_pd(wt);
        const __m128d ar = _mm_sub_pd(_mm_castsi128_pd(_mm_or_si128(_mm_sub_epi64(right_ar, left_ar), exponent)), two52);
        const __m128d gb = _mm_sub_pd(_mm_castsi128_pd(_mm_or_si128(_mm_sub_epi64(right_gb, left_gb), exponent)), two52);
        low = _mm_add_pd(low, _mm_mul_pd(w, ar));
        high = _mm_add_pd(high, _mm_mul_pd(w, gb));
    };
    const double wy0 = ys.weight[0], wy1 = ys.weight[1], wy2 = ys.weight[2];
    const Column c0 = column(0), c1 = column(1);
    add(c1.ar0, c0.ar0, c1.gb0, c0.gb0, xs.weight[0] * wy0);
    add(c1.ar1, c0.ar1, c1.gb1, c0.gb1, xs.weight[0] * wy1);
    add(c1.ar2, c0.ar2, c1.gb2, c0.gb2, xs.weight[0] * wy2);
    const Column c2 = column(2);
    add(c2.ar0, c1.ar0, c2.gb0, c1.gb0, xs.weight[1] * wy0);
    add(c2.ar1, c1.ar1, c2.gb1, c1.gb1, xs.weight[1] * wy1);
    add(c2.ar2, c1.ar2, c2.gb2, c1.gb2, xs.weight[1] * wy2);
    const Column c3 = column(3);
    add(c3.ar0, c2.ar0, c3.gb0, c2.gb0, xs.weight[2] * wy0);
    add(c3.ar1, c2.ar1, c3.gb1, c2.gb1, xs.weight[2] * wy1);
    add(c3.ar2, c2.ar2, c3.gb2, c2.gb2, xs.weight[2] * wy2);
    _mm_storeu_pd(lanes, low);
    _mm_storeu_pd(lanes + 2, high);
}
#endif

}  // namespace

void* allocate_memory(std::size_t bytes) noexcept {
    if (bytes == 0) bytes = 1;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    if (bytes >= 2 * kHuge && bytes <= std::numeric_limits<std::size_t>::max() - kHuge) {
        const std::size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
        void* p = std::aligned_alloc(kHuge, rounded);
        if (p != nullptr) madvise(p, rounded, MADV_HUGEPAGE);  // a hint: refusal is harmless
        return p;
    }
#endif
    return std::malloc(bytes);
}

// ---------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------

class AreaSampler::Impl {
public:
    virtual ~Impl() = default;
    virtual std::size_t bytes() const = 0;
    A_long width = 0, height = 0;
};

namespace {

// Inclusive prefix sum T(i, j) = Σ over x ≤ i, y ≤ j, split as
//   corner C(I, J)      Σ over x < I·B,          y < J·B
//   column strip P(i, J) Σ over I·B ≤ x ≤ i,      y < J·B
//   row strip Q(I, j)    Σ over x < I·B,          J·B ≤ y ≤ j
//   local L(i, j)        Σ over I·B ≤ x ≤ i,      J·B ≤ y ≤ j
// with I = i / B, J = j / B. Rectangle sums difference each part separately,
// so parts that a small rectangle does not cross cancel exactly.
template <typename D>
class Tables final : public AreaSampler::Impl {
    using Acc = typename D::Acc;
    using Local = typename D::Local;

public:
    Tables(const PF_EffectWorld& world, [[maybe_unused]] bool wide) {
        width = world.width;
        height = world.height;
        const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
        tx_ = (w + kTile - 1) >> kTileShift;
        ty_ = (h + kTile - 1) >> kTileShift;
        if (w > std::numeric_limits<std::size_t>::max() / 64 / h) throw std::bad_alloc();
        depth_.allocate(w * h);
        corner_.assign(tx_ * ty_ * kLanes, Acc{});
        column_strip_.assign(w * ty_ * kLanes, Acc{});
        row_strip_.assign(tx_ * h * kLanes, Acc{});
        if constexpr (std::is_same_v<D, Depth8>)
            build8(world);
#if defined(TRELLIS_SAMPLING_SSE2)
        else if constexpr (std::is_same_v<D, Depth16>)
            build16(world);
        else if constexpr (std::is_same_v<D, DepthFloat>)
            build_float(world, wide);
#endif
        else
            build(world);
        if constexpr (std::is_same_v<D, Depth16>) depth_.high[w * h * (kLanes - 1)] = 0;  // the spare
    }

    // Weighted lane sums over the clipped box; *den_noise bounds the rounding
    // error of lane 0 (0 when the sums are exact).
    void sums(const AxisSplit& xs, const AxisSplit& ys, double lanes[kLanes], double* den_noise) const {
        if constexpr (D::kExact) {
            *den_noise = 0.0;
            // A box inside one tile needs the local sums only (the usual case).
            if (inside_one_tile(xs, ys)) {
#if defined(TRELLIS_SAMPLING_SSE2)
                const std::size_t cols[4] = {static_cast<std::size_t>(xs.bound[0]), static_cast<std::size_t>(xs.bound[1]),
                                             static_cast<std::size_t>(xs.bound[2]), static_cast<std::size_t>(xs.bound[3])};
                const std::uint32_t* rows[4];
                for (int b = 0; b < 4; ++b) rows[b] = depth_.local.data() + index(0, ys.bound[b]) * kLanes;
                if constexpr (std::is_same_v<D, Depth8>) {
                    // Every block sum lies below 255² × the box's pixels.
                    const std::int64_t pixels = std::int64_t{xs.bound[3] - xs.bound[0]} * (ys.bound[3] - ys.bound[0]);
                    if (pixels <= std::numeric_limits<std::int32_t>::max() / (255 * 255))
                        weigh_local8<true>(rows, cols, xs, ys, lanes);
                    else
                        weigh_local8<false>(rows, cols, xs, ys, lanes);
                } else {
                    // 48-bit lanes: 32 low bits and the 16 high ones of the
                    // colour lanes, whose plane has a spare entry at its end
                    // so that four can be read for a pixel's three. Sums
                    // inside a tile stay below 2^48.
                    const std::uint16_t* highs[4];
                    for (int b = 0; b < 4; ++b) highs[b] = depth_.high.data() + index(0, ys.bound[b]) * (kLanes - 1);
                    const __m128i zero = _mm_setzero_si128();
                    weigh_blocks64(
                        [&](int a, int b) {
                            const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[b] + cols[a] * kLanes));
                            const __m128i h =
                                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(highs[b] + cols[a] * (kLanes - 1)));
                            // (0, high r, high g, high b) as 32-bit values
                            const __m128i high = _mm_slli_si128(_mm_unpacklo_epi16(h, zero), 4);
                            return Corner64{_mm_unpacklo_epi32(low, high), _mm_unpackhi_epi32(low, high)};
                        },
                        xs, ys, lanes);
                }
#else
                Local g[4][4][kLanes];
                for (int a = 0; a < 4; ++a)
                    for (int b = 0; b < 4; ++b) depth_.load(index(xs.bound[a], ys.bound[b]), g[a][b]);
                weigh_blocks(g, xs, ys, lanes);
#endif
            } else {
                Acc g[4][4][kLanes];
                for (int a = 0; a < 4; ++a)
                    for (int b = 0; b < 4; ++b) prefix(xs.bound[a], ys.bound[b], g[a][b]);
#if defined(TRELLIS_SAMPLING_SSE2)
                // A block sum is at most the box's pixels × 2^32 (65535² at
                // 16 bits, beyond full scale).
                const std::int64_t pixels = std::int64_t{xs.bound[3] - xs.bound[0]} * (ys.bound[3] - ys.bound[0]);
                if (pixels < (std::int64_t{1} << 20)) {
                    weigh_blocks64(
                        [&](int a, int b) {
                            return Corner64{_mm_loadu_si128(reinterpret_cast<const __m128i*>(&g[a][b][0])),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(&g[a][b][2]))};
                        },
                        xs, ys, lanes);
                    return;
                }
#endif
                weigh_blocks(g, xs, ys, lanes);
            }
        } else {
            for (int k = 0; k < kLanes; ++k) lanes[k] = 0.0;
            *den_noise = 0.0;
            if (inside_one_tile(xs, ys))
                local_sums(xs, ys, lanes, den_noise);
            else
                tiled_sums(xs, ys, lanes, den_noise);
        }
    }

    std::size_t bytes() const override {
        return depth_.bytes() + (corner_.size() + column_strip_.size() + row_strip_.size()) * sizeof(Acc);
    }


private:
    D depth_;
    std::size_t tx_ = 0, ty_ = 0;
    std::vector<Acc> corner_, column_strip_, row_strip_;

    std::size_t index(A_long i, A_long j) const {
        return static_cast<std::size_t>(j) * static_cast<std::size_t>(width) + static_cast<std::size_t>(i);
    }

    // Column strips and corners of tile row J, from those of tile row J − 1
    // and `above`, the finished tile row's column sums (L of its last row).
    template <typename Above>
    void next_tile_row(std::size_t J, std::size_t last_row, const Above* above) {
        const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
        for (std::size_t i = 0; i < w * kLanes; ++i)
            column_strip_[J * w * kLanes + i] = column_strip_[(J - 1) * w * kLanes + i] + above[i];
        for (std::size_t I = 0; I < tx_; ++I)
            for (int k = 0; k < kLanes; ++k)
                corner_[(J * tx_ + I) * kLanes + k] =
                    corner_[((J - 1) * tx_ + I) * kLanes + k] + row_strip_[(I * h + last_row) * kLanes + k];
    }

    // Row strip of row j at tile column I > 0, from the one before and L at
    // the last pixel of tile column I − 1.
    template <typename Above>
    void next_row_strip(std::size_t I, std::size_t j, const Above* l_before) {
        const std::size_t h = static_cast<std::size_t>(height);
        for (int k = 0; k < kLanes; ++k)
            row_strip_[(I * h + j) * kLanes + k] = row_strip_[((I - 1) * h + j) * kLanes + k] + l_before[k];
    }

    // 8 bits: every within-tile sum fits 32 bits, so L is built in place, each
    // row from the one above it.
    void build8(const PF_EffectWorld& world) {
        const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
        const char* base = static_cast<const char*>(world.data);
        const std::ptrdiff_t rowbytes = world.rowbytes;
        std::uint32_t* const local = depth_.local.data();
        for (std::size_t j = 0; j < h; ++j) {
            const bool tile_top = (j & (kTile - 1)) == 0;
            std::uint32_t* const l = local + j * w * kLanes;
            if (tile_top && j > 0) next_tile_row(j >> kTileShift, j - 1, l - w * kLanes);
            const std::uint32_t* const above = tile_top ? nullptr : l - w * kLanes;
            const auto* row = reinterpret_cast<const unsigned char*>(base + static_cast<std::ptrdiff_t>(j) * rowbytes);
            for (std::size_t I = 0; I < tx_; ++I) {
                const std::size_t i_begin = I << kTileShift, i_end = std::min(w, i_begin + kTile);
                if (I > 0) next_row_strip(I, j, l + (i_begin - 1) * kLanes);
#if defined(TRELLIS_SAMPLING_SSE2)
                // (α, α·r, α·g, α·b) as α × (1, r, g, b) in 16-bit lanes
                // (each product fits), widened to the 32-bit running sums.
                __m128i run = _mm_setzero_si128();
                const __m128i zero = _mm_setzero_si128();
                const auto lanes_of = [&](std::size_t i) {
                    std::uint32_t bytes;  // alpha first in memory: the low byte
                    std::memcpy(&bytes, row + i * sizeof(PF_Pixel8), sizeof bytes);
                    const __m128i c = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>((bytes & ~0xFFu) | 1u)), zero);
                    const __m128i a = _mm_shufflelo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(bytes)), zero), 0);
                    return _mm_unpacklo_epi16(_mm_mullo_epi16(a, c), zero);
                };
                if (above == nullptr) {
                    for (std::size_t i = i_begin; i < i_end; ++i) {
                        run = _mm_add_epi32(run, lanes_of(i));
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(l + i * kLanes), run);
                    }
                } else {
                    for (std::size_t i = i_begin; i < i_end; ++i) {
                        run = _mm_add_epi32(run, lanes_of(i));
                        const __m128i up = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i * kLanes));
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(l + i * kLanes), _mm_add_epi32(up, run));
                    }
                }
#else
                std::uint32_t run[kLanes] = {0, 0, 0, 0};
                for (std::size_t i = i_begin; i < i_end; ++i) {
                    PF_Pixel8 p;
                    std::memcpy(&p, row + i * sizeof p, sizeof p);
                    const std::uint32_t a = p.alpha;
                    run[0] += a;
                    run[1] += a * p.red;
                    run[2] += a * p.green;
                    run[3] += a * p.blue;
                    for (int k = 0; k < kLanes; ++k) l[i * kLanes + k] = above ? above[i * kLanes + k] + run[k] : run[k];
                }
#endif
            }
        }
    }

    void build(const PF_EffectWorld& world) {
        const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
        std::vector<Acc> above(w * kLanes);  // unrounded L of the previous row in the tile row
        const char* base = static_cast<const char*>(world.data);
        const std::ptrdiff_t rowbytes = world.rowbytes;
        for (std::size_t j = 0; j < h; ++j) {
            const bool tile_top = (j & (kTile - 1)) == 0;
            if (tile_top && j > 0) next_tile_row(j >> kTileShift, j - 1, above.data());
            const char* row = base + static_cast<std::ptrdiff_t>(j) * rowbytes;
            for (std::size_t I = 0; I < tx_; ++I) {
                const std::size_t i_begin = I << kTileShift, i_end = std::min(w, i_begin + kTile);
                if (I > 0) next_row_strip(I, j, &above[(i_begin - 1) * kLanes]);
                Acc run[kLanes]{};
                for (std::size_t i = i_begin; i < i_end; ++i) {
                    typename D::Pixel p;
                    std::memcpy(&p, row + i * sizeof(p), sizeof(p));
                    Acc v[kLanes];
                    D::lanes(p, v);
                    for (int k = 0; k < kLanes; ++k) {
                        run[k] = run[k] + v[k];
                        Acc& a = above[i * kLanes + k];
                        a = tile_top ? run[k] : a + run[k];
                        v[k] = a;
                    }
                    depth_.store(j * w + i, v);
                }
            }
        }
    }

#if defined(TRELLIS_SAMPLING_SSE2)
    // build() at 16 bits, two 64-bit lanes per instruction: (α, α·r) and
    // (α·g, α·b), each product of two 16-bit channels one multiplication.
    void build16(const PF_EffectWorld& world) {
        const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
        std::vector<std::uint64_t> above(w * kLanes);  // L of the previous row in the tile row
        const char* base = static_cast<const char*>(world.data);
        const std::ptrdiff_t rowbytes = world.rowbytes;
        std::uint32_t* const local = depth_.local.data();
        std::uint16_t* const high = depth_.high.data();
        const __m128i zero = _mm_setzero_si128();
        const __m128i one_first = _mm_cvtsi32_si128(1), not_first = _mm_set_epi32(-1, -1, -1, 0);
        for (std::size_t j = 0; j < h; ++j) {
            const bool tile_top = (j & (kTile - 1)) == 0;
            if (tile_top && j > 0) next_tile_row(j >> kTileShift, j - 1, above.data());
            const char* row = base + static_cast<std::ptrdiff_t>(j) * rowbytes;
            for (std::size_t I = 0; I < tx_; ++I) {
                const std::size_t i_begin = I << kTileShift, i_end = std::min(w, i_begin + kTile);
                if (I > 0) next_row_strip(I, j, &above[(i_begin - 1) * kLanes]);
                __m128i run_ar = zero, run_gb = zero;
                for (std::size_t i = i_begin; i < i_end; ++i) {
                    const __m128i p = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + i * 8)), zero);
                    const __m128i a = _mm_shuffle_epi32(p, 0);
                    const __m128i one_r = _mm_shuffle_epi32(_mm_or_si128(_mm_and_si128(p, not_first), one_first),
                                                            _MM_SHUFFLE(3, 1, 1, 0));
                    const __m128i g_b = _mm_shuffle_epi32(p, _MM_SHUFFLE(3, 3, 3, 2));
                    run_ar = _mm_add_epi64(run_ar, _mm_mul_epu32(a, one_r));
                    run_gb = _mm_add_epi64(run_gb, _mm_mul_epu32(a, g_b));
                    auto* up = reinterpret_cast<__m128i*>(&above[i * kLanes]);
                    const __m128i ar = tile_top ? run_ar : _mm_add_epi64(_mm_loadu_si128(up), run_ar);
                    const __m128i gb = tile_top ? run_gb : _mm_add_epi64(_mm_loadu_si128(up + 1), run_gb);
                    _mm_storeu_si128(up, ar);
                    _mm_storeu_si128(up + 1, gb);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(local + i * kLanes + j * w * kLanes),
                                     _mm_unpacklo_epi64(_mm_shuffle_epi32(ar, _MM_SHUFFLE(2, 0, 2, 0)),
                                                        _mm_shuffle_epi32(gb, _MM_SHUFFLE(2, 0, 2, 0))));
                    std::uint16_t* const hi = high + (j * w + i) * (kLanes - 1);
                    hi[0] = static_cast<std::uint16_t>(above[i * kLanes + 1] >> 32);
                    hi[1] = static_cast<std::uint16_t>(above[i * kLanes + 2] >> 32);
                    hi[2] = static_cast<std::uint16_t>(above[i * kLanes + 3] >> 32);
                }
            }
        }
    }

    // build() at float depth, two lanes per instruction (four with AVX
    // where `wide`) and the same operations lane by lane.
    void build_float(const PF_EffectWorld& world, [[maybe_unused]] bool wide) {
        const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
        // Unrounded L of the previous row in the tile row, its high and low
        // parts apart so that lane pairs load and store whole.
        std::vector<double> above_hi(w * kLanes), above_lo(w * kLanes);
        const auto packed = [&](std::size_t from, std::size_t n) {
            std::vector<DD> out(n);
            for (std::size_t i = 0; i < n; ++i) out[i] = DD{above_hi[from + i], above_lo[from + i]};
            return out;
        };
#if defined(TRELLIS_SAMPLING_AVX)
        const bool avx = wide && __builtin_cpu_supports("avx");
#endif
        const char* base = static_cast<const char*>(world.data);
        for (std::size_t j = 0; j < h; ++j) {
            const bool tile_top = (j & (kTile - 1)) == 0;
            if (tile_top && j > 0) next_tile_row(j >> kTileShift, j - 1, packed(0, w * kLanes).data());
            const FloatRow row{base + static_cast<std::ptrdiff_t>(j) * world.rowbytes, tile_top, above_hi.data(),
                               above_lo.data(), depth_.local.data() + j * w * kLanes};
#if defined(TRELLIS_SAMPLING_AVX)
            if (avx) {
                float_row_avx(row);
            } else
#endif
            {
                float_row(row);
            }
            // The row's strips, once its L is whole.
            for (std::size_t I = 1; I < tx_; ++I) next_row_strip(I, j, packed(((I << kTileShift) - 1) * kLanes, kLanes).data());
        }
    }

    // One row of the float build: its pixels, whether it starts a tile row,
    // the unrounded L of the row above (made this row's) and where its
    // rounded L goes.
    struct FloatRow {
        const char* pixels;
        bool tile_top;
        double* above_hi;
        double* above_lo;
        double* l;
    };

    void float_row(const FloatRow& row) const {
        const std::size_t w = static_cast<std::size_t>(width);
        const __m128d zero = _mm_setzero_pd();
        for (std::size_t I = 0; I < tx_; ++I) {
            const std::size_t i_begin = I << kTileShift, i_end = std::min(w, i_begin + kTile);
            DD2 run[2] = {{zero, zero}, {zero, zero}};
            for (std::size_t i = i_begin; i < i_end; ++i) {
                // (α, α·r) and (α·g, α·b): float × float is exact in
                // double, and 1 × α is α; zero for a non-finite pixel.
                const __m128 p = _mm_loadu_ps(reinterpret_cast<const float*>(row.pixels + i * sizeof(PF_PixelFloat)));
                const __m128 d = _mm_sub_ps(p, p);
                const bool ok = _mm_movemask_ps(_mm_cmpord_ps(d, d)) == 0xF;
                const __m128d ar = _mm_cvtps_pd(p), gb = _mm_cvtps_pd(_mm_movehl_ps(p, p));
                const __m128d a = _mm_unpacklo_pd(ar, ar);
                const __m128d v[2] = {ok ? _mm_mul_pd(ar, _mm_unpacklo_pd(_mm_set_sd(1.0), a)) : zero,
                                      ok ? _mm_mul_pd(gb, a) : zero};
                for (int half = 0; half < 2; ++half) {
                    const std::size_t k = i * kLanes + 2 * static_cast<std::size_t>(half);
                    run[half] = run[half] + DD2{v[half], zero};
                    const DD2 l = row.tile_top ? run[half]
                                               : DD2{_mm_loadu_pd(&row.above_hi[k]), _mm_loadu_pd(&row.above_lo[k])} + run[half];
                    _mm_storeu_pd(&row.above_hi[k], l.hi);
                    _mm_storeu_pd(&row.above_lo[k], l.lo);
                    _mm_storeu_pd(row.l + k, _mm_add_pd(l.hi, l.lo));
                }
            }
        }
    }

#if defined(TRELLIS_SAMPLING_AVX)
    static constexpr std::size_t kSideBySide = 4;

    // float_row with all four lanes per instruction, and up to four tiles
    // side by side, pixel by pixel: their running sums are chains apart,
    // which the processor overlaps.
    [[gnu::target("avx")]] void float_row_avx(const FloatRow& row) const {
        const std::size_t w = static_cast<std::size_t>(width);
        const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
        for (std::size_t first = 0; first < tx_; first += kSideBySide) {
            const std::size_t tiles = std::min(kSideBySide, tx_ - first);
            DD4 run[kSideBySide];
            for (DD4& r : run) r = DD4{zero, zero};
            for (std::size_t at = 0; at < kTile; ++at) {
                for (std::size_t t = 0; t < tiles; ++t) {
                    const std::size_t i = ((first + t) << kTileShift) + at;
                    if (i >= w) break;  // past the narrower last tile
                    // (α, α·r, α·g, α·b) as (α, r, g, b) × (1, α, α, α).
                    const __m128 p = _mm_loadu_ps(reinterpret_cast<const float*>(row.pixels + i * sizeof(PF_PixelFloat)));
                    const __m128 d = _mm_sub_ps(p, p);
                    const bool ok = _mm_movemask_ps(_mm_cmpord_ps(d, d)) == 0xF;
                    const __m256d x = _mm256_cvtps_pd(p);
                    const __m256d m = _mm256_blend_pd(_mm256_set1_pd(static_cast<double>(_mm_cvtss_f32(p))), one, 1);
                    run[t] = add(run[t], DD4{ok ? _mm256_mul_pd(x, m) : zero, zero});
                    const std::size_t k = i * kLanes;
                    const DD4 l = row.tile_top
                                      ? run[t]
                                      : add(DD4{_mm256_loadu_pd(&row.above_hi[k]), _mm256_loadu_pd(&row.above_lo[k])}, run[t]);
                    _mm256_storeu_pd(&row.above_hi[k], l.hi);
                    _mm256_storeu_pd(&row.above_lo[k], l.lo);
                    _mm256_storeu_pd(row.l + k, _mm256_add_pd(l.hi, l.lo));
                }
            }
        }
    }
#endif
#endif

    // T(i, j) as one exact (wrapping) sum; 0 left of or above the world.
    void prefix(A_long i, A_long j, Acc out[kLanes]) const {
        if (i < 0 || j < 0) {
            for (int k = 0; k < kLanes; ++k) out[k] = 0;
            return;
        }
        const std::size_t x = static_cast<std::size_t>(i), y = static_cast<std::size_t>(j);
        const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
        const std::size_t I = x >> kTileShift, J = y >> kTileShift;
        Local l[kLanes];
        depth_.load(y * w + x, l);
        for (int k = 0; k < kLanes; ++k)
            out[k] = corner_[(J * tx_ + I) * kLanes + k] + column_strip_[(J * w + x) * kLanes + k] +
                     row_strip_[(I * h + y) * kLanes + k] + l[k];
    }

    void local_sums(const AxisSplit& xs, const AxisSplit& ys, double lanes[kLanes], double* den_noise) const {
        const std::size_t w = static_cast<std::size_t>(width);
#if defined(TRELLIS_SAMPLING_SSE2)
        // The loop below, two lanes per instruction and the same operations
        // lane by lane, on the table entries in place.
        const double* g[4][4];
        for (int a = 0; a <= xs.segments; ++a)
            for (int b = 0; b <= ys.segments; ++b)
                g[a][b] = depth_.local.data() +
                          (static_cast<std::size_t>(ys.bound[b]) * w + static_cast<std::size_t>(xs.bound[a])) * kLanes;
        __m128d sums[2] = {_mm_loadu_pd(lanes), _mm_loadu_pd(lanes + 2)};
        double noise = 0.0;
        for (int a = 0; a < xs.segments; ++a)
            for (int b = 0; b < ys.segments; ++b) {
                const double wt = xs.weight[a] * ys.weight[b];
                const double *g11 = g[a + 1][b + 1], *g10 = g[a + 1][b], *g01 = g[a][b + 1], *g00 = g[a][b];
                for (int h = 0; h < 2; ++h) {
                    const __m128d block = _mm_sub_pd(_mm_sub_pd(_mm_loadu_pd(g11 + 2 * h), _mm_loadu_pd(g10 + 2 * h)),
                                                     _mm_sub_pd(_mm_loadu_pd(g01 + 2 * h), _mm_loadu_pd(g00 + 2 * h)));
                    sums[h] = _mm_add_pd(sums[h], _mm_mul_pd(_mm_set1_pd(wt), block));
                }
                noise += wt * kLocalEps * (std::fabs(g11[0]) + std::fabs(g10[0]) + std::fabs(g01[0]) + std::fabs(g00[0]));
            }
        _mm_storeu_pd(lanes, sums[0]);
        _mm_storeu_pd(lanes + 2, sums[1]);
        *den_noise = noise;
#else
        Local g[4][4][kLanes];
        for (int a = 0; a <= xs.segments; ++a)
            for (int b = 0; b <= ys.segments; ++b)
                depth_.load(static_cast<std::size_t>(ys.bound[b]) * w + static_cast<std::size_t>(xs.bound[a]), g[a][b]);
        double noise = 0.0;
        for (int a = 0; a < xs.segments; ++a)
            for (int b = 0; b < ys.segments; ++b) {
                const double wt = xs.weight[a] * ys.weight[b];
                for (int k = 0; k < kLanes; ++k)
                    lanes[k] += wt * static_cast<double>((g[a + 1][b + 1][k] - g[a + 1][b][k]) - (g[a][b + 1][k] - g[a][b][k]));
                noise += wt * kLocalEps *
                         (std::fabs(g[a + 1][b + 1][0]) + std::fabs(g[a + 1][b][0]) + std::fabs(g[a][b + 1][0]) +
                          std::fabs(g[a][b][0]));
            }
        *den_noise = noise;
#endif
    }

    void tiled_sums(const AxisSplit& xs, const AxisSplit& ys, double lanes[kLanes], double* den_noise) const {
        // The parts of T at every boundary crossing: [column][row][part][lane].
        Acc g[4][4][4][kLanes];
        double noise_mag[4][4];  // rounding bound of lane 0's parts
        for (int a = 0; a <= xs.segments; ++a)
            for (int b = 0; b <= ys.segments; ++b) parts(xs.bound[a], ys.bound[b], g[a][b], &noise_mag[a][b]);

        double noise = 0.0;
#if defined(TRELLIS_SAMPLING_SSE2)
        // The loop below, two lanes per instruction and the same operations
        // lane by lane.
        const auto pair = [&](int a, int b, int part, int h) { return load_pair(&g[a][b][part][2 * h]); };
        __m128d sums[2] = {_mm_loadu_pd(lanes), _mm_loadu_pd(lanes + 2)};
        for (int a = 0; a < xs.segments; ++a)
            for (int b = 0; b < ys.segments; ++b) {
                const double wt = xs.weight[a] * ys.weight[b];
                for (int h = 0; h < 2; ++h) {
                    DD2 block{_mm_setzero_pd(), _mm_setzero_pd()};
                    for (int part = 0; part < 4; ++part)
                        block = block + ((pair(a + 1, b + 1, part, h) - pair(a + 1, b, part, h)) -
                                         (pair(a, b + 1, part, h) - pair(a, b, part, h)));
                    sums[h] = _mm_add_pd(sums[h], _mm_mul_pd(_mm_set1_pd(wt), _mm_add_pd(block.hi, block.lo)));
                }
                noise += wt * (noise_mag[a + 1][b + 1] + noise_mag[a + 1][b] + noise_mag[a][b + 1] + noise_mag[a][b]);
            }
        _mm_storeu_pd(lanes, sums[0]);
        _mm_storeu_pd(lanes + 2, sums[1]);
#else
        for (int a = 0; a < xs.segments; ++a)
            for (int b = 0; b < ys.segments; ++b) {
                const double wt = xs.weight[a] * ys.weight[b];
                for (int k = 0; k < kLanes; ++k) {
                    Acc block{};
                    for (int part = 0; part < 4; ++part)
                        block = block + ((g[a + 1][b + 1][part][k] - g[a + 1][b][part][k]) -
                                         (g[a][b + 1][part][k] - g[a][b][part][k]));
                    lanes[k] += wt * to_double(block);
                }
                noise += wt * (noise_mag[a + 1][b + 1] + noise_mag[a + 1][b] + noise_mag[a][b + 1] + noise_mag[a][b]);
            }
#endif
        *den_noise = noise;
    }

    // Local parts are rounded to double (half an ulp each), the others carry
    // ~106 bits; generous bounds of both.
    static constexpr double kLocalEps = 0x1p-50, kWideEps = 0x1p-98;

    // Parts of T(i, j); all zero left of or above the world (i or j = −1).
    void parts(A_long i, A_long j, Acc out[4][kLanes], double* noise) const {
        *noise = 0.0;
        if (i < 0 || j < 0) {
            for (int part = 0; part < 4; ++part)
                for (int k = 0; k < kLanes; ++k) out[part][k] = Acc{};
            return;
        }
        const std::size_t x = static_cast<std::size_t>(i), y = static_cast<std::size_t>(j);
        const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
        const std::size_t I = x >> kTileShift, J = y >> kTileShift;
        for (int k = 0; k < kLanes; ++k) {
            out[0][k] = corner_[(J * tx_ + I) * kLanes + k];
            out[1][k] = column_strip_[(J * w + x) * kLanes + k];
            out[2][k] = row_strip_[(I * h + y) * kLanes + k];
        }
        Local l[kLanes];
        depth_.load(y * w + x, l);
        for (int k = 0; k < kLanes; ++k) out[3][k] = widen(l[k]);
        *noise = kLocalEps * magnitude(out[3][0]) +
                 kWideEps * (magnitude(out[0][0]) + magnitude(out[1][0]) + magnitude(out[2][0]));
    }
};

}  // namespace

AreaSampler::AreaSampler(const PF_EffectWorld& world, PF_PixelFormat format, bool wide) noexcept : format_(format) {
    const std::size_t size = pixel_bytes(format);
    if (size == 0 || world.data == nullptr || world.width <= 0 || world.height <= 0) return;
    const long long min_rowbytes = static_cast<long long>(world.width) * static_cast<long long>(size);
    if (std::llabs(static_cast<long long>(world.rowbytes)) < min_rowbytes) return;
    try {
        switch (format) {
            case PF_PixelFormat_ARGB32:
                impl_ = std::make_shared<const Tables<Depth8>>(world, wide);
                break;
            case PF_PixelFormat_ARGB64:
                impl_ = std::make_shared<const Tables<Depth16>>(world, wide);
                break;
            default:
                impl_ = std::make_shared<const Tables<DepthFloat>>(world, wide);
                break;
        }
        state_ = State::ready;
    } catch (const std::exception&) {  // bad_alloc, length_error: too big to table
        impl_.reset();
        state_ = State::failed;
    }
}

std::size_t AreaSampler::table_bytes() const { return impl_ ? impl_->bytes() : 0; }

namespace {

// Result of one box: the normalised lanes, or nothing (an all-zero pixel).
struct BoxResult {
    bool covered = false;
    double alpha = 0.0;
    double colour[3] = {0.0, 0.0, 0.0};
};

template <typename D>
BoxResult box_sample(const AreaSampler::Impl& impl, PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius) {
    // The sampler's format picked the table type.
    const auto& t = static_cast<const Tables<D>&>(impl);
    BoxResult r;
    ClippedBox box;
    if (!clip_box(x, y, x_radius, y_radius, t.width, t.height, &box)) return r;
    double lanes[kLanes], noise = 0.0;
    t.sums(box.xs, box.ys, lanes, &noise);
    if (!(std::fabs(lanes[0]) > noise)) return r;  // no coverage, or none distinguishable from rounding
    r.covered = true;
    r.alpha = lanes[0] / box.area;
    for (int k = 0; k < 3; ++k) r.colour[k] = lanes[k + 1] / lanes[0];
    return r;
}

// floor(v + ½) clamped to [0, full]; v is finite.
template <typename Channel>
Channel round_channel(double v, double full) {
    const double t = v + 0.5;
    if (!(t >= 1.0)) return 0;
    if (t >= full + 1.0) return static_cast<Channel>(full);
    return static_cast<Channel>(t);  // truncation is floor here
}

}  // namespace

template <class Depth, class Pixel, class Convert>
PF_Err AreaSampler::sample_as(PF_PixelFormat depth_format, PF_Fixed x, PF_Fixed y, PF_Fixed x_radius,
                              PF_Fixed y_radius, Pixel* out, Convert convert) const {
    if (out == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    *out = Pixel{};
    if (state_ == State::failed) return PF_Err_OUT_OF_MEMORY;
    if (state_ == State::empty) return PF_Err_NONE;
    if (format_ != depth_format) return PF_Err_BAD_CALLBACK_PARAM;
    const BoxResult r = box_sample<Depth>(*impl_, x, y, x_radius, y_radius);
    if (r.covered) *out = convert(r);
    return PF_Err_NONE;
}

PF_Err AreaSampler::sample8(PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius, PF_Pixel8* out) const {
    return sample_as<Depth8>(PF_PixelFormat_ARGB32, x, y, x_radius, y_radius, out, [](const BoxResult& r) {
        return PF_Pixel8{round_channel<A_u_char>(r.alpha, 255.0), round_channel<A_u_char>(r.colour[0], 255.0),
                         round_channel<A_u_char>(r.colour[1], 255.0), round_channel<A_u_char>(r.colour[2], 255.0)};
    });
}

PF_Err AreaSampler::sample16(PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius,
                             PF_Pixel16* out) const {
    return sample_as<Depth16>(PF_PixelFormat_ARGB64, x, y, x_radius, y_radius, out, [](const BoxResult& r) {
        return PF_Pixel16{round_channel<A_u_short>(r.alpha, 32768.0), round_channel<A_u_short>(r.colour[0], 32768.0),
                          round_channel<A_u_short>(r.colour[1], 32768.0),
                          round_channel<A_u_short>(r.colour[2], 32768.0)};
    });
}

PF_Err AreaSampler::sample_float(PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius,
                                 PF_PixelFloat* out) const {
    return sample_as<DepthFloat>(PF_PixelFormat_ARGB128, x, y, x_radius, y_radius, out, [](const BoxResult& r) {
        return PF_PixelFloat{static_cast<float>(r.alpha), static_cast<float>(r.colour[0]),
                             static_cast<float>(r.colour[1]), static_cast<float>(r.colour[2])};
    });
}

namespace {

// What a world's tables were built from.
struct TableKey {
    std::uint64_t changes;
    PF_PixelFormat format;
    PF_EffectWorld geometry;  // data, rowbytes, width and height count

    bool same(const TableKey& o) const {
        return changes == o.changes && format == o.format && geometry.data == o.geometry.data &&
               geometry.rowbytes == o.geometry.rowbytes && geometry.width == o.geometry.width &&
               geometry.height == o.geometry.height;
    }
};

#if defined(TRELLIS_SAMPLING_LOCKS)
using TableMutex = std::mutex;
#else
struct TableMutex {
    void lock() {}
    void unlock() {}
};
#endif

class TableLock {
public:
    explicit TableLock(TableMutex& m) : m_(m) { m_.lock(); }
    ~TableLock() { m_.unlock(); }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

private:
    TableMutex& m_;
};

struct SharedTables {
    explicit SharedTables(const TableKey& k) : key(k) {}
    const TableKey key;
    TableMutex build;  // held while the first caller builds; the others wait
    std::unique_ptr<const AreaSampler> sampler;
};

// Weak entries by world serial: the tables live while a holder does.
struct TableRegistry {
    TableMutex mutex;
    std::unordered_map<std::uint64_t, std::weak_ptr<SharedTables>> entries;
};

TableRegistry& table_registry() {
    static TableRegistry registry;
    return registry;
}

}  // namespace

std::shared_ptr<const AreaSampler> shared_sampler(const World& world) noexcept {
    const TableKey key{world.changes(), world.format(), *world.def()};
    try {
        std::shared_ptr<SharedTables> entry;
        {
            TableRegistry& registry = table_registry();
            const TableLock lock(registry.mutex);
            auto found = registry.entries.find(world.serial());
            if (found != registry.entries.end()) entry = found->second.lock();
            if (entry == nullptr || !entry->key.same(key)) {
                std::erase_if(registry.entries, [](const auto& e) { return e.second.expired(); });
                entry = std::make_shared<SharedTables>(key);
                registry.entries[world.serial()] = entry;
            }
        }
        const TableLock lock(entry->build);
        if (entry->sampler == nullptr) entry->sampler = std::make_unique<const AreaSampler>(key.geometry, key.format);
        return std::shared_ptr<const AreaSampler>(entry, entry->sampler.get());
    } catch (const std::exception&) {  // the registry's own small allocations
        return nullptr;
    }
}

}  // namespace standalone
