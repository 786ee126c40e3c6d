#include "standalone/mask.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

namespace standalone {

namespace {

// 8-point Gauss–Legendre on [−1, 1]: exact for polynomials up to degree 15,
// so a smooth bezier speed converges after very little subdivision.
constexpr int kGaussPoints = 8;
constexpr double kGaussNodes[kGaussPoints] = {
    -0.9602898564975363, -0.7966664774136267, -0.5255324099163290, -0.1834346424956498,
    0.1834346424956498,  0.5255324099163290,  0.7966664774136267,  0.9602898564975363,
};
constexpr double kGaussWeights[kGaussPoints] = {
    0.1012285362903763, 0.2223810344533745, 0.3137066458778873, 0.3626837833783620,
    0.3626837833783620, 0.3137066458778873, 0.2223810344533745, 0.1012285362903763,
};

constexpr A_long kMinIntervals = 16;
constexpr A_long kMaxIntervals = 4096;
constexpr int kMaxDepth = 12;               // per starting interval
constexpr std::size_t kMaxTable = 1u << 16;  // whole-table cap, bounds the prep cost
constexpr int kMaxNewton = 60;
// Pixels of arc length the first and last interval of the table may span.
constexpr double kEndSpan = 0.25;
// Halvings towards an end: enough to reach the smallest normal double from
// any first interval.
constexpr std::size_t kMaxEndSteps = 1100;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool finite2(const double* p) { return std::isfinite(p[0]) && std::isfinite(p[1]); }

void set_nan(double* x, double* y, double* dx, double* dy) {
    *x = kNaN;
    *y = kNaN;
    *dx = kNaN;
    *dy = kNaN;
}

}  // namespace

MaskShape interpolate(const MaskShape& a, const MaskShape& b, double f) {
    if (a.vertices.size() != b.vertices.size()) return a;
    MaskShape r;
    r.closed = a.closed;
    r.vertices.reserve(a.vertices.size());
    auto mix = [f](double p, double q) { return p + (q - p) * f; };
    for (std::size_t i = 0; i < a.vertices.size(); ++i) {
        const MaskVertex& p = a.vertices[i];
        const MaskVertex& q = b.vertices[i];
        r.vertices.push_back({mix(p.x, q.x), mix(p.y, q.y), mix(p.in_x, q.in_x), mix(p.in_y, q.in_y),
                              mix(p.out_x, q.out_x), mix(p.out_y, q.out_y)});
    }
    return r;
}

// ---------------------------------------------------------------------------
// SegmentLength
// ---------------------------------------------------------------------------

// |dB/du| · 2^-scale_exp_. The scale is a power of two, so it is exact and keeps
// the squares far from overflow for huge coordinates.
double SegmentLength::speed_scaled(double u) const {
    const double mt = 1.0 - u;
    const double a = mt * mt, b = 2.0 * mt * u, c = u * u;
    double v[2];
    for (int k = 0; k < 2; ++k) v[k] = 3.0 * (a * d_[0][k] + b * d_[1][k] + c * d_[2][k]);
    return std::sqrt(v[0] * v[0] + v[1] * v[1]);
}

double SegmentLength::arc_scaled(double u0, double u1) const {
    const double half = 0.5 * (u1 - u0), mid = 0.5 * (u0 + u1);
    double sum = 0.0;
    for (int i = 0; i < kGaussPoints; ++i) sum += kGaussWeights[i] * speed_scaled(mid + half * kGaussNodes[i]);
    return sum * half;
}

// The table's tolerance is relative to the whole segment, so its end
// intervals can span far more than a pixel of a huge segment, with the arc
// length growing like u or u^2 inside. Halving them towards the ends until
// they span less than kEndSpan pixels keeps every lookup near an end in an
// interval whose length is comparable to the one asked for, where the search
// of eval converges quickly.
void SegmentLength::refine_ends() {
    const double span = std::ldexp(kEndSpan, -scale_exp_);
    const double min_u = std::numeric_limits<double>::min();

    // Start: breakpoints u_[1]/2, u_[1]/4, ... collected outwards-in.
    std::vector<double> head;
    for (double u = u_[1], inner = s_[1]; inner > span && u > min_u && head.size() < kMaxEndSteps;) {
        u *= 0.5;
        head.push_back(u);
        inner = arc_scaled(0.0, u);
    }
    std::vector<double> head_s(head.size());
    double below = 0.0, s_below = 0.0;
    for (std::size_t i = head.size(); i-- > 0;) {
        s_below = std::min(s_below + arc_scaled(below, head[i]), s_[1]);
        below = head[i];
        head_s[i] = s_below;
    }
    u_.insert(u_.begin() + 1, head.rbegin(), head.rend());
    s_.insert(s_.begin() + 1, head_s.rbegin(), head_s.rend());

    // End: breakpoints 1 - v/2, 1 - v/4, ... while distinct from 1.
    const std::size_t n = u_.size() - 1;
    const double v = 1.0 - u_[n - 1];
    const double total = s_[n];
    std::vector<double> tail, tail_s;
    double prev = u_[n - 1], s_prev = s_[n - 1];
    for (double w = 0.5 * v; tail.size() < kMaxEndSteps; w *= 0.5) {
        const double u = 1.0 - w;
        if (!(u > prev && u < 1.0) || arc_scaled(prev, 1.0) <= span) break;
        s_prev = std::min(s_prev + arc_scaled(prev, u), total);
        prev = u;
        tail.push_back(u);
        tail_s.push_back(s_prev);
    }
    u_.insert(u_.begin() + static_cast<std::ptrdiff_t>(n), tail.begin(), tail.end());
    s_.insert(s_.begin() + static_cast<std::ptrdiff_t>(n), tail_s.begin(), tail_s.end());
}

void SegmentLength::eval(double t, double* x, double* y, double* dx, double* dy) const {
    if (std::isnan(t) || kind_ == Kind::invalid) {
        set_nan(x, y, dx, dy);
        return;
    }
    if (kind_ == Kind::zero) {
        *x = p_[0][0];
        *y = p_[0][1];
        *dx = 0.0;
        *dy = 0.0;
        return;
    }
    const double L = length_;
    if (t < 0.0) t = 0.0;
    if (t > L) t = L;
    if (kind_ == Kind::straight) {
        const double ex = p_[3][0] - p_[0][0], ey = p_[3][1] - p_[0][1];
        *x = p_[0][0] + ex * (t / L);
        *y = p_[0][1] + ey * (t / L);
        *dx = ex;
        *dy = ey;
        return;
    }

    // Curved: find u with arc(0, u) = t inside the table interval holding t.
    double u;
    if (t <= 0.0) {
        u = 0.0;
    } else if (t >= L) {
        u = 1.0;
    } else {
        const double ts = std::ldexp(t, -scale_exp_);
        const std::size_t last = s_.size() - 1;
        std::size_t k = static_cast<std::size_t>(std::upper_bound(s_.begin(), s_.end(), ts) - s_.begin());
        k = (k == 0) ? 0 : std::min(k - 1, last - 1);
        double lo = u_[k], hi = u_[k + 1];
        const double s0 = s_[k], span = s_[k + 1] - s_[k];
        u = span > 0.0 ? lo + (hi - lo) * ((ts - s0) / span) : lo;
        u = std::clamp(u, lo, hi);
        // Relative to the length asked for, not to the segment's: near the
        // start of a huge segment a tolerance of the whole would accept the
        // start point for billions of pixels.
        const double tol = 1e-13 * ts;
        for (int it = 0; it < kMaxNewton; ++it) {
            const double f = s0 + arc_scaled(u_[k], u) - ts;
            if (std::fabs(f) <= tol) break;
            if (f < 0.0)
                lo = u;
            else
                hi = u;
            double next = u - f / speed_scaled(u);
            if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);  // also catches a zero speed
            if (next == u) break;
            u = next;
        }
    }

    const double mt = 1.0 - u;
    const double b0 = mt * mt * mt, b1 = 3.0 * mt * mt * u, b2 = 3.0 * mt * u * u, b3 = u * u * u;
    double d[2];
    for (int k = 0; k < 2; ++k) {
        const double d1 = p_[1][k] - p_[0][k], d2 = p_[2][k] - p_[1][k], d3 = p_[3][k] - p_[2][k];
        const double pt = b0 * p_[0][k] + b1 * p_[1][k] + b2 * p_[2][k] + b3 * p_[3][k];
        (k == 0 ? *x : *y) = pt;
        d[k] = 3.0 * (mt * mt * d1 + 2.0 * mt * u * d2 + u * u * d3);
    }
    if (d[0] == 0.0 && d[1] == 0.0) {
        // dB/du vanishes here (a retracted handle, a cusp); travel follows the
        // first derivative that does not. Near u0, B' ≈ (u − u0)·B'', so the
        // direction of arrival at u = 1 is −B''.
        double d2v[2], d3v[2];
        for (int k = 0; k < 2; ++k) {
            const double d1 = p_[1][k] - p_[0][k], d2 = p_[2][k] - p_[1][k], d3 = p_[3][k] - p_[2][k];
            d2v[k] = 6.0 * (mt * (d2 - d1) + u * (d3 - d2));
            d3v[k] = 6.0 * (d3 - 2.0 * d2 + d1);
        }
        if (d2v[0] != 0.0 || d2v[1] != 0.0) {
            const double sign = (u >= 1.0) ? -1.0 : 1.0;
            d[0] = sign * d2v[0];
            d[1] = sign * d2v[1];
        } else {
            d[0] = d3v[0];
            d[1] = d3v[1];
        }
    }
    *dx = d[0];
    *dy = d[1];
}

// ---------------------------------------------------------------------------
// MaskGeometry
// ---------------------------------------------------------------------------

MaskGeometry::MaskGeometry(MaskShape shape) : shape_(std::move(shape)) {}

A_long MaskGeometry::num_segments() const {
    const std::size_t n = shape_.vertices.size();
    const std::size_t cap = static_cast<std::size_t>(std::numeric_limits<A_long>::max());
    if (shape_.closed) return static_cast<A_long>(std::min(n, cap));
    return n < 2 ? 0 : static_cast<A_long>(std::min(n - 1, cap));
}

PF_PathVertex MaskGeometry::vertex(A_long i) const {
    PF_PathVertex r{};
    const std::size_t n = shape_.vertices.size();
    if (n == 0) return r;
    const std::size_t k = i < 0 ? 0 : std::min(static_cast<std::size_t>(i), n - 1);
    const MaskVertex& v = shape_.vertices[k];
    r.x = v.x;
    r.y = v.y;
    r.tan_in_x = v.in_x;
    r.tan_in_y = v.in_y;
    r.tan_out_x = v.out_x;
    r.tan_out_y = v.out_y;
    return r;
}

SegmentLength MaskGeometry::prepare(A_long seg, A_long frequency) const {
    SegmentLength s;
    const std::size_t n = shape_.vertices.size();
    if (seg < 0 || seg >= num_segments()) {
        const PF_PathVertex v = vertex(seg);
        for (auto& p : s.p_) {
            p[0] = v.x;
            p[1] = v.y;
        }
        s.kind_ = std::isfinite(v.x) && std::isfinite(v.y) ? SegmentLength::Kind::zero
                                                            : SegmentLength::Kind::invalid;
        s.length_ = s.kind_ == SegmentLength::Kind::zero ? 0.0 : kNaN;
        return s;
    }
    const std::size_t i0 = static_cast<std::size_t>(seg);
    const MaskVertex& v0 = shape_.vertices[i0];
    const MaskVertex& v1 = shape_.vertices[(i0 + 1) % n];
    s.p_[0][0] = v0.x;
    s.p_[0][1] = v0.y;
    s.p_[1][0] = v0.x + v0.out_x;
    s.p_[1][1] = v0.y + v0.out_y;
    s.p_[2][0] = v1.x + v1.in_x;
    s.p_[2][1] = v1.y + v1.in_y;
    s.p_[3][0] = v1.x;
    s.p_[3][1] = v1.y;

    using Kind = SegmentLength::Kind;
    const bool straight = v0.out_x == 0.0 && v0.out_y == 0.0 && v1.in_x == 0.0 && v1.in_y == 0.0;
    if (straight) {
        const double ex = v1.x - v0.x, ey = v1.y - v0.y;
        s.length_ = std::hypot(ex, ey);
        if (!std::isfinite(ex) || !std::isfinite(ey) || !std::isfinite(s.length_))
            s.kind_ = Kind::invalid;
        else
            s.kind_ = s.length_ == 0.0 ? Kind::zero : Kind::straight;
        return s;
    }

    // Curved. The control-point differences drive both the speed and the scale.
    double m = 0.0;
    bool finite = finite2(s.p_[0]) && finite2(s.p_[1]) && finite2(s.p_[2]) && finite2(s.p_[3]);
    for (int j = 0; j < 3 && finite; ++j)
        for (int k = 0; k < 2; ++k) {
            const double d = s.p_[j + 1][k] - s.p_[j][k];
            finite = finite && std::isfinite(d);
            m = std::max(m, std::fabs(d));
        }
    if (!finite) {
        // Keep what the coordinates say (NaN or infinity) as the length.
        double sum = 0.0;
        for (int j = 0; j < 3; ++j) sum += std::hypot(s.p_[j + 1][0] - s.p_[j][0], s.p_[j + 1][1] - s.p_[j][1]);
        s.length_ = std::isnan(sum) ? kNaN : std::numeric_limits<double>::infinity();
        s.kind_ = Kind::invalid;
        return s;
    }
    if (m == 0.0) {  // handles lost to rounding against huge coordinates
        s.kind_ = Kind::zero;
        s.length_ = 0.0;
        return s;
    }
    s.kind_ = Kind::curved;
    s.scale_exp_ = std::ilogb(m);
    for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 2; ++k) s.d_[j][k] = std::ldexp(s.p_[j + 1][k] - s.p_[j][k], -s.scale_exp_);

    // The control polygon bounds the arc length; tolerances are relative to it.
    double polygon = 0.0;
    for (int j = 0; j < 3; ++j) polygon += std::hypot(s.d_[j][0], s.d_[j][1]);
    const double tol = 1e-14 * polygon;

    const A_long intervals = std::clamp(frequency, kMinIntervals, kMaxIntervals);
    s.u_.reserve(static_cast<std::size_t>(intervals) + 1);
    s.s_.reserve(static_cast<std::size_t>(intervals) + 1);
    s.u_.push_back(0.0);
    s.s_.push_back(0.0);

    struct Pending {
        double a, b, whole;
        int depth;
    };
    std::vector<Pending> stack;
    for (A_long i = 0; i < intervals; ++i) {
        const double a = static_cast<double>(i) / intervals;
        const double b = static_cast<double>(i + 1) / intervals;
        stack.push_back({a, b, s.arc_scaled(a, b), 0});
        while (!stack.empty()) {
            const Pending p = stack.back();
            stack.pop_back();
            const double mid = 0.5 * (p.a + p.b);
            const double left = s.arc_scaled(p.a, mid), right = s.arc_scaled(mid, p.b);
            const bool full = s.u_.size() + stack.size() + 2 >= kMaxTable;
            if (std::fabs(left + right - p.whole) <= tol || p.depth >= kMaxDepth || full) {
                s.u_.push_back(mid);
                s.s_.push_back(s.s_.back() + left);
                s.u_.push_back(p.b);
                s.s_.push_back(s.s_.back() + right);
            } else {
                // Right half first so the left one is taken next: breakpoints stay in order.
                stack.push_back({mid, p.b, right, p.depth + 1});
                stack.push_back({p.a, mid, left, p.depth + 1});
            }
        }
    }
    s.u_.back() = 1.0;
    s.refine_ends();
    s.length_ = std::ldexp(s.s_.back(), s.scale_exp_);
    return s;
}

double MaskGeometry::segment_length(A_long seg, A_long frequency) const {
    return prepare(seg, frequency).length();
}

void MaskGeometry::eval(A_long seg, double t, double* x, double* y, double* dx, double* dy) const {
    prepare(seg, 100).eval(t, x, y, dx, dy);
}

}  // namespace standalone
