#include "standalone/sampling.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

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

DD operator-(DD a, DD b) { return a + DD{-b.hi, -b.lo}; }

double to_double(DD a) { return a.hi + a.lo; }
double to_double(std::uint64_t a) { return static_cast<double>(a); }
double magnitude(DD a) { return std::fabs(a.hi); }

// Per-pixel storage, left uninitialised: the build writes every entry once,
// and zero-filling first would touch the largest allocation twice.
template <typename T>
class Plane {
public:
    void allocate(std::size_t n) {
        data_ = std::make_unique_for_overwrite<T[]>(n);
        size_ = n;
    }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    std::size_t bytes() const { return size_ * sizeof(T); }

private:
    std::unique_ptr<T[]> data_;
    std::size_t size_ = 0;
};

// ---------------------------------------------------------------------------
// Per-depth storage of the within-tile sums and the lane values of one pixel.
// ---------------------------------------------------------------------------

struct Depth8 {
    using Pixel = PF_Pixel8;
    using Acc = std::uint64_t;  // wraps modulo 2^64; every true sum taken is far below
    using Local = std::uint64_t;
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
    void store(std::size_t i, const Acc v[kLanes]) {
        for (int k = 0; k < kLanes; ++k) local[i * kLanes + k] = static_cast<std::uint32_t>(v[k]);
    }
    void load(std::size_t i, Acc v[kLanes]) const {
        for (int k = 0; k < kLanes; ++k) v[k] = local[i * kLanes + k];
    }
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
        high.allocate(pixels * (kLanes - 1));
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
    void load(std::size_t i, Acc v[kLanes]) const {
        v[0] = local[i * kLanes];
        for (int k = 1; k < kLanes; ++k)
            v[k] = local[i * kLanes + k] | (Acc{high[i * (kLanes - 1) + k - 1]} << 32);
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

template <typename Acc>
Acc zero_acc() {
    return Acc{};
}

DD widen(double v) { return {v, 0.0}; }
std::uint64_t widen(std::uint64_t v) { return v; }

// Pixel boundaries of a clipped box along one axis: segment s covers the
// pixels (bound[s], bound[s + 1]] with weight weight[s] (the covered fraction
// of each of those pixels along this axis).
struct AxisSplit {
    A_long bound[4];
    double weight[3];
    int segments = 0;
};

// Splits [lo, hi] (already inside [−½, size − ½], lo < hi) into pixels.
AxisSplit split_axis(double lo, double hi) {
    AxisSplit s;
    const A_long i0 = static_cast<A_long>(std::floor(lo + 0.5));
    const A_long i1 = static_cast<A_long>(std::ceil(hi + 0.5)) - 1;
    if (i0 >= i1) {
        s.bound[0] = i0 - 1;
        s.bound[1] = i0;
        s.weight[0] = hi - lo;
        s.segments = 1;
        return s;
    }
    const double first = (i0 + 0.5) - lo, last = hi - (i1 - 0.5);
    s.bound[0] = i0 - 1;
    s.bound[1] = i0;
    s.weight[0] = first;
    if (i1 == i0 + 1) {
        s.bound[2] = i1;
        s.weight[1] = last;
        s.segments = 2;
    } else {
        s.bound[2] = i1 - 1;
        s.bound[3] = i1;
        s.weight[1] = 1.0;
        s.weight[2] = last;
        s.segments = 3;
    }
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------

class AreaSampler::Impl {
public:
    virtual ~Impl() = default;
    // Weighted lane sums over the clipped box; *den_noise bounds the rounding
    // error of lane 0 (0 when the sums are exact).
    virtual void sums(const AxisSplit& xs, const AxisSplit& ys, double lanes[kLanes], double* den_noise) const = 0;
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

public:
    explicit Tables(const PF_EffectWorld& world) {
        width = world.width;
        height = world.height;
        const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
        tx_ = (w + kTile - 1) >> kTileShift;
        ty_ = (h + kTile - 1) >> kTileShift;
        if (w > std::numeric_limits<std::size_t>::max() / 64 / h) throw std::bad_alloc();
        depth_.allocate(w * h);
        corner_.assign(tx_ * ty_ * kLanes, zero_acc<Acc>());
        column_strip_.assign(w * ty_ * kLanes, zero_acc<Acc>());
        row_strip_.assign(tx_ * h * kLanes, zero_acc<Acc>());

        std::vector<Acc> above(w * kLanes);  // unrounded L of the previous row in the tile row
        const char* base = static_cast<const char*>(world.data);
        const std::ptrdiff_t rowbytes = world.rowbytes;
        for (std::size_t j = 0; j < h; ++j) {
            const std::size_t J = j >> kTileShift;
            const bool tile_top = (j & (kTile - 1)) == 0;
            if (tile_top && J > 0) {
                // Column strips of this tile row: those of the row above plus
                // the finished tile row's column sums.
                for (std::size_t i = 0; i < w; ++i)
                    for (int k = 0; k < kLanes; ++k)
                        column_strip_[(J * w + i) * kLanes + k] =
                            column_strip_[((J - 1) * w + i) * kLanes + k] + above[i * kLanes + k];
                for (std::size_t I = 0; I < tx_; ++I)
                    for (int k = 0; k < kLanes; ++k)
                        corner_[(J * tx_ + I) * kLanes + k] =
                            corner_[((J - 1) * tx_ + I) * kLanes + k] + row_strip_[(I * h + j - 1) * kLanes + k];
            }
            const char* row = base + static_cast<std::ptrdiff_t>(j) * rowbytes;
            Acc run[kLanes]{};
            for (std::size_t i = 0; i < w; ++i) {
                const std::size_t I = i >> kTileShift;
                if ((i & (kTile - 1)) == 0) {
                    if (I > 0)
                        for (int k = 0; k < kLanes; ++k)
                            row_strip_[(I * h + j) * kLanes + k] =
                                row_strip_[((I - 1) * h + j) * kLanes + k] + above[(i - 1) * kLanes + k];
                    for (Acc& r : run) r = zero_acc<Acc>();
                }
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

    void sums(const AxisSplit& xs, const AxisSplit& ys, double lanes[kLanes], double* den_noise) const override {
        for (int k = 0; k < kLanes; ++k) lanes[k] = 0.0;
        *den_noise = 0.0;
        // A box inside one tile needs the local sums only (the usual case).
        if (xs.bound[0] >= 0 && ys.bound[0] >= 0 && (xs.bound[0] >> kTileShift) == (xs.bound[xs.segments] >> kTileShift) &&
            (ys.bound[0] >> kTileShift) == (ys.bound[ys.segments] >> kTileShift))
            local_sums(xs, ys, lanes, den_noise);
        else
            tiled_sums(xs, ys, lanes, den_noise);
    }

    std::size_t bytes() const override {
        return depth_.bytes() + (corner_.size() + column_strip_.size() + row_strip_.size()) * sizeof(Acc);
    }

private:
    D depth_;
    std::size_t tx_ = 0, ty_ = 0;
    std::vector<Acc> corner_, column_strip_, row_strip_;

    using Local = typename D::Local;

    void local_sums(const AxisSplit& xs, const AxisSplit& ys, double lanes[kLanes], double* den_noise) const {
        const std::size_t w = static_cast<std::size_t>(width);
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
                if constexpr (!D::kExact)
                    noise += wt * kLocalEps *
                             (std::fabs(g[a + 1][b + 1][0]) + std::fabs(g[a + 1][b][0]) + std::fabs(g[a][b + 1][0]) +
                              std::fabs(g[a][b][0]));
            }
        *den_noise = noise;
    }

    void tiled_sums(const AxisSplit& xs, const AxisSplit& ys, double lanes[kLanes], double* den_noise) const {
        // The parts of T at every boundary crossing: [column][row][part][lane].
        Acc g[4][4][4][kLanes];
        double noise_mag[4][4];  // rounding bound of lane 0's parts
        for (int a = 0; a <= xs.segments; ++a)
            for (int b = 0; b <= ys.segments; ++b) parts(xs.bound[a], ys.bound[b], g[a][b], &noise_mag[a][b]);

        double noise = 0.0;
        for (int a = 0; a < xs.segments; ++a)
            for (int b = 0; b < ys.segments; ++b) {
                const double wt = xs.weight[a] * ys.weight[b];
                for (int k = 0; k < kLanes; ++k) {
                    Acc block = zero_acc<Acc>();
                    for (int part = 0; part < 4; ++part)
                        block = block + ((g[a + 1][b + 1][part][k] - g[a + 1][b][part][k]) -
                                         (g[a][b + 1][part][k] - g[a][b][part][k]));
                    lanes[k] += wt * to_double(block);
                }
                if constexpr (!D::kExact)
                    noise += wt * (noise_mag[a + 1][b + 1] + noise_mag[a + 1][b] + noise_mag[a][b + 1] +
                                   noise_mag[a][b]);
            }
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
                for (int k = 0; k < kLanes; ++k) out[part][k] = zero_acc<Acc>();
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
        if constexpr (!D::kExact) {
            *noise = kLocalEps * magnitude(out[3][0]) +
                     kWideEps * (magnitude(out[0][0]) + magnitude(out[1][0]) + magnitude(out[2][0]));
        }
    }
};

std::size_t pixel_size(PF_PixelFormat format) {
    switch (format) {
        case PF_PixelFormat_ARGB32:
            return sizeof(PF_Pixel8);
        case PF_PixelFormat_ARGB64:
            return sizeof(PF_Pixel16);
        case PF_PixelFormat_ARGB128:
            return sizeof(PF_PixelFloat);
        default:
            return 0;
    }
}

}  // namespace

AreaSampler::AreaSampler(const PF_EffectWorld& world, PF_PixelFormat format) noexcept : format_(format) {
    const std::size_t size = pixel_size(format);
    if (size == 0 || world.data == nullptr || world.width <= 0 || world.height <= 0) return;
    const long long min_rowbytes = static_cast<long long>(world.width) * static_cast<long long>(size);
    if (std::llabs(static_cast<long long>(world.rowbytes)) < min_rowbytes) return;
    try {
        switch (format) {
            case PF_PixelFormat_ARGB32:
                impl_ = std::make_shared<const Tables<Depth8>>(world);
                break;
            case PF_PixelFormat_ARGB64:
                impl_ = std::make_shared<const Tables<Depth16>>(world);
                break;
            default:
                impl_ = std::make_shared<const Tables<DepthFloat>>(world);
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

BoxResult box_sample(const AreaSampler::Impl& t, PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius) {
    constexpr double kOne = 65536.0;
    const double cx = x / kOne, cy = y / kOne;
    const double rx = std::max(x_radius / kOne, 0.5), ry = std::max(y_radius / kOne, 0.5);
    const double x0 = cx - rx, x1 = cx + rx, y0 = cy - ry, y1 = cy + ry;
    const double area = (x1 - x0) * (y1 - y0);

    BoxResult r;
    const double lx = std::max(x0, -0.5), hx = std::min(x1, t.width - 0.5);
    const double ly = std::max(y0, -0.5), hy = std::min(y1, t.height - 0.5);
    if (!(lx < hx) || !(ly < hy)) return r;

    double lanes[kLanes], noise = 0.0;
    t.sums(split_axis(lx, hx), split_axis(ly, hy), lanes, &noise);
    if (!(std::fabs(lanes[0]) > noise)) return r;  // no coverage, or none distinguishable from rounding
    r.covered = true;
    r.alpha = lanes[0] / area;
    for (int k = 0; k < 3; ++k) r.colour[k] = lanes[k + 1] / lanes[0];
    return r;
}

template <typename Channel>
Channel round_channel(double v, double full) {
    const double c = std::floor(v + 0.5);
    return static_cast<Channel>(c < 0.0 ? 0.0 : (c > full ? full : c));
}

}  // namespace

PF_Err AreaSampler::sample8(PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius, PF_Pixel8* out) const {
    if (out == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    *out = PF_Pixel8{0, 0, 0, 0};
    if (state_ == State::failed) return PF_Err_OUT_OF_MEMORY;
    if (state_ == State::empty) return PF_Err_NONE;
    if (format_ != PF_PixelFormat_ARGB32) return PF_Err_BAD_CALLBACK_PARAM;
    const BoxResult r = box_sample(*impl_, x, y, x_radius, y_radius);
    if (!r.covered) return PF_Err_NONE;
    out->alpha = round_channel<A_u_char>(r.alpha, 255.0);
    out->red = round_channel<A_u_char>(r.colour[0], 255.0);
    out->green = round_channel<A_u_char>(r.colour[1], 255.0);
    out->blue = round_channel<A_u_char>(r.colour[2], 255.0);
    return PF_Err_NONE;
}

PF_Err AreaSampler::sample16(PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius,
                             PF_Pixel16* out) const {
    if (out == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    *out = PF_Pixel16{0, 0, 0, 0};
    if (state_ == State::failed) return PF_Err_OUT_OF_MEMORY;
    if (state_ == State::empty) return PF_Err_NONE;
    if (format_ != PF_PixelFormat_ARGB64) return PF_Err_BAD_CALLBACK_PARAM;
    const BoxResult r = box_sample(*impl_, x, y, x_radius, y_radius);
    if (!r.covered) return PF_Err_NONE;
    out->alpha = round_channel<A_u_short>(r.alpha, 32768.0);
    out->red = round_channel<A_u_short>(r.colour[0], 32768.0);
    out->green = round_channel<A_u_short>(r.colour[1], 32768.0);
    out->blue = round_channel<A_u_short>(r.colour[2], 32768.0);
    return PF_Err_NONE;
}

PF_Err AreaSampler::sample_float(PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius,
                                 PF_PixelFloat* out) const {
    if (out == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    *out = PF_PixelFloat{0.0f, 0.0f, 0.0f, 0.0f};
    if (state_ == State::failed) return PF_Err_OUT_OF_MEMORY;
    if (state_ == State::empty) return PF_Err_NONE;
    if (format_ != PF_PixelFormat_ARGB128) return PF_Err_BAD_CALLBACK_PARAM;
    const BoxResult r = box_sample(*impl_, x, y, x_radius, y_radius);
    if (!r.covered) return PF_Err_NONE;
    out->alpha = static_cast<float>(r.alpha);
    out->red = static_cast<float>(r.colour[0]);
    out->green = static_cast<float>(r.colour[1]);
    out->blue = static_cast<float>(r.colour[2]);
    return PF_Err_NONE;
}

}  // namespace standalone
