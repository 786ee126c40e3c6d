#include "strokes/generate.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numbers>

namespace {

constexpr double kPi = std::numbers::pi;
// From here on t + 1.0 == t: the walk of a longer segment would stand still.
constexpr double kLastStep = 9007199254740992.0;  // 2^53
// Extra room around the frame when deciding that a sample cannot reach it:
// trunc toward zero already lets (-1, 0) count as 0, and the host's
// evaluation may round a little past its control hull.
constexpr double kMargin = 2.0;

// trunc toward zero, with a centre that is not a number put wholly outside
// the frame and everything else kept within ±kCenterLimit.
A_long to_center(double v) {
    if (std::isnan(v)) return -kCenterLimit;
    if (v <= -static_cast<double>(kCenterLimit)) return -kCenterLimit;
    if (v >= static_cast<double>(kCenterLimit)) return kCenterLimit;
    return static_cast<A_long>(v);
}

// trunc(v) for v = |...| + 0.5, kept within [0, kExtentLimit]; not a number
// gives 0.
A_long to_extent(double v) {
    if (!(v >= 0.0)) return 0;
    if (v >= static_cast<double>(kExtentLimit)) return kExtentLimit;
    return static_cast<A_long>(v);
}

A_long saturate(int64_t v) {
    return v > std::numeric_limits<A_long>::max() ? std::numeric_limits<A_long>::max() : static_cast<A_long>(v);
}

// Index of the last sample t = 0, 1, 2, ... with t <= length; -1 for none.
int64_t last_sample(double length) {
    if (!(length >= 0.0)) return -1;
    if (length >= kLastStep) return static_cast<int64_t>(kLastStep);
    return static_cast<int64_t>(length);
}

struct Point {
    double x, y;
};

struct SampleRange {
    int64_t first;
    int64_t last;  // inclusive; last < first means none
    // Samples far from the frame may step ahead by half their distance to
    // it (see walk_segment).
    bool leap = false;
};

// Beyond this many samples a segment is only walked in leaps.
constexpr int64_t kLeapFrom = int64_t{1} << 24;

// Host evaluations one segment may cost, in proportion to the frame. An
// honest walk of a cubic needs a few times (width + height) samples near the
// frame plus a few hundred leaps; the budget only stops a host whose lengths
// are not arc lengths from walking a segment of 2^53 samples almost step by
// step.
constexpr int64_t kBudgetPerSide = 64;
constexpr int64_t kBudgetBase = 8192;

class Generator {
public:
    Generator(const GenerateInput& input, StrokeList& list, PF_Err& err)
        : ctx_(input.ctx),
          info_(input.info),
          layer_w_(static_cast<double>(input.layer_width)),
          layer_h_(static_cast<double>(input.layer_height)),
          suites_(input.suites),
          path_(input.path),
          segment_count_(input.segment_count),
          map_(input.id_map),
          list_(list),
          err_(err),
          options_(input.options),
          width_(input.ctx.width),
          height_(input.ctx.height),
          aspect_(layer_w_ / layer_h_) {
        seed_random_sources(info_.seed, size_random_, turn_random_);
    }

    void run();
    int64_t evaluation_budget() const {
        return kBudgetPerSide * (int64_t{width_} + int64_t{height_}) + kBudgetBase;
    }
    StrokeTotals totals() const { return {saturate(stroke_count_), saturate(half_w_total_)}; }

private:
    void walk_segment(A_long seg, const PF_PathVertex& start, PF_PathSegPrepPtr* prep, double length);
    SampleRange reachable(A_long seg, const PF_PathVertex& start, PF_PathSegPrepPtr* prep, double length);
    bool projection_at(A_long seg, PF_PathSegPrepPtr* prep, int64_t k, Point origin, Point dir, double* q);
    void sample(double x, double y, double dx, double dy);
    void place_first(A_long sx, A_long sy, double dx, double dy, A_long hw, A_long hh, StrokeSide* side, double* cx,
                     double* cy) const;
    void place_later(A_long sx, A_long sy, double dx, double dy, A_long hw, A_long hh, StrokeSide* side, double* cx,
                     double* cy) const;
    void mark(A_long cx, A_long cy, A_long hw, A_long hh);

    A_long at(int64_t x, int64_t y) const {
        return map_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)];
    }
    bool is_prev(int64_t x, int64_t y) const {
        return x >= 0 && x < width_ && y >= 0 && y < height_ && at(x, y) == next_id_ - 1;
    }
    double hypot(double a, double b) const { return ctx_.in_data->utils->ansi.hypot(a, b); }

    const RenderContext& ctx_;
    const PreRenderInfo& info_;
    double layer_w_;
    double layer_h_;
    SuiteCache& suites_;
    PF_PathOutlinePtr path_;
    A_long segment_count_;
    A_long* map_;
    StrokeList& list_;
    RandomSource size_random_;
    RandomSource turn_random_;
    PF_Err& err_;
    const GenerateOptions& options_;
    const PF_PathDataSuite1* data_ = nullptr;
    A_long width_;
    A_long height_;

    A_long next_id_ = 2;
    bool first_ = true;
    double aspect_;
    int64_t stroke_count_ = 0;
    int64_t half_w_total_ = 0;
};

void Generator::run() {
    // Nothing can land in an empty frame, and its map has no entry to read.
    if (width_ <= 0 || height_ <= 0) return;
    for (A_long seg = 0; seg < segment_count_ && err_ == PF_Err_NONE; ++seg) {
        if (!data_) data_ = suites_.path_data_suite();
        const PF_ProgPtr ref = ctx_.in_data->effect_ref;
        PF_PathVertex start{};
        err_ = data_->PF_PathVertexInfo(ref, path_, seg, &start);
        if (err_ != PF_Err_NONE) break;
        PF_PathSegPrepPtr prep = nullptr;
        err_ = data_->PF_PathPrepareSegLength(ref, path_, seg, 100, &prep);
        if (err_ != PF_Err_NONE) break;
        double length = 0.0;
        err_ = data_->PF_PathGetSegLength(ref, path_, seg, &prep, &length);
        if (err_ == PF_Err_NONE) walk_segment(seg, start, &prep, length);
        // A prepared segment is always given back, so that an error part-way
        // leaves nothing behind in the host.
        const PF_Err cleanup = data_->PF_PathCleanupSegLength(ref, path_, seg, &prep);
        if (err_ == PF_Err_NONE) err_ = cleanup;
    }
}

void Generator::walk_segment(A_long seg, const PF_PathVertex& start, PF_PathSegPrepPtr* prep, double length) {
    SampleRange range{0, last_sample(length)};
    // Short segments are walked as they are; only a segment longer than
    // anything that fits the frame comfortably is worth bounding first.
    const double long_segment = 4.0 * (static_cast<double>(width_) + static_cast<double>(height_)) + 256.0;
    const bool bounded = options_.walk == SampleWalk::SkipUnreachable;
    if (bounded && length > long_segment) range = reachable(seg, start, prep, length);
    // More samples than the budget allows are only walked in leaps, which an
    // honest host answers within it.
    int64_t budget = evaluation_budget();
    if (bounded && range.last - range.first >= budget) range.leap = true;

    const PF_ProgPtr ref = ctx_.in_data->effect_ref;
    const double lo_x = -1.0 - kMargin, hi_x = static_cast<double>(width_) + kMargin;
    const double lo_y = -1.0 - kMargin, hi_y = static_cast<double>(height_) + kMargin;
    for (int64_t k = range.first; k <= range.last && err_ == PF_Err_NONE;) {
        // Spent: the host's lengths cannot be arc lengths, and the rest of
        // the segment is given up rather than walked for days.
        if (bounded && budget-- == 0) break;
        double x = 0.0, y = 0.0, dx = 0.0, dy = 0.0;
        err_ = data_->PF_PathEvalSegLengthDeriv1(ref, path_, prep, seg, static_cast<double>(k), &x, &y, &dx, &dy);
        if (err_ != PF_Err_NONE) break;
        sample(x, y, dx, dy);
        int64_t step = 1;
        if (range.leap) {
            // A point d pixels of arc length further on lies at most d pixels
            // away; half of that leaves room for a host whose lengths are
            // only approximately arc lengths.
            const double gap = std::hypot(std::max({lo_x - x, x - hi_x, 0.0}), std::max({lo_y - y, y - hi_y, 0.0}));
            if (gap >= 4.0) {
                const double leap = gap / 2.0;
                step = leap > static_cast<double>(range.last - k) ? range.last - k + 1 : static_cast<int64_t>(leap);
            }
        }
        k += step;
    }
}

// The samples of a long segment that can land in the frame. A cubic lies in
// the hull of its control points, so a segment whose control box misses the
// frame has none. When the control points project onto the chord within the
// chord, the projection of the curve grows monotonically along the segment,
// and so with the host's arc length; the samples whose projection falls on
// the frame's projection then form one run, found by bisection. Otherwise the
// whole segment is walked, in leaps when it is very long. The tangents of
// PF_PathVertex are offsets from their vertex.
SampleRange Generator::reachable(A_long seg, const PF_PathVertex& start, PF_PathSegPrepPtr* prep, double length) {
    const SampleRange none{0, -1};
    const bool finite_length = std::isfinite(length);
    const int64_t last_of_length = finite_length ? last_sample(length) : -1;
    const SampleRange all{0, last_of_length, last_of_length >= kLeapFrom};

    A_long end_index = seg + 1;
    if (seg + 1 >= segment_count_) {
        if (options_.path_open < 0) return all;
        if (options_.path_open == 0) end_index = 0;
    }
    PF_PathVertex end{};
    if (data_->PF_PathVertexInfo(ctx_.in_data->effect_ref, path_, end_index, &end) != PF_Err_NONE) return all;

    const Point p0{start.x, start.y};
    const Point c1{start.x + start.tan_out_x, start.y + start.tan_out_y};
    const Point c2{end.x + end.tan_in_x, end.y + end.tan_in_y};
    const Point p3{end.x, end.y};
    for (const Point& p : {p0, c1, c2, p3})
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return none;  // no finite curve to sample

    const double lo_x = -1.0 - kMargin, hi_x = static_cast<double>(width_) + kMargin;
    const double lo_y = -1.0 - kMargin, hi_y = static_cast<double>(height_) + kMargin;
    const double min_x = std::min({p0.x, c1.x, c2.x, p3.x}), max_x = std::max({p0.x, c1.x, c2.x, p3.x});
    const double min_y = std::min({p0.y, c1.y, c2.y, p3.y}), max_y = std::max({p0.y, c1.y, c2.y, p3.y});
    if (max_x < lo_x || min_x > hi_x || max_y < lo_y || min_y > hi_y) return none;

    int64_t last = all.last;
    if (!finite_length) {
        // A finite cubic is no longer than its control polygon.
        const double polygon = std::hypot(c1.x - p0.x, c1.y - p0.y) + std::hypot(c2.x - c1.x, c2.y - c1.y) +
                               std::hypot(p3.x - c2.x, p3.y - c2.y);
        if (!std::isfinite(polygon)) return none;
        last = last_sample(polygon + 1.0);
    }
    const SampleRange whole{0, last, last >= kLeapFrom};

    // The chord's direction, scaled so that its larger component is 1.
    const double scale = std::max(std::fabs(p3.x - p0.x), std::fabs(p3.y - p0.y));
    const Point dir{(p3.x - p0.x) / scale, (p3.y - p0.y) / scale};
    const double chord = dir.x * (p3.x - p0.x) + dir.y * (p3.y - p0.y);
    const double q1 = dir.x * (c1.x - p0.x) + dir.y * (c1.y - p0.y);
    const double q2 = dir.x * (c2.x - p0.x) + dir.y * (c2.y - p0.y);
    const bool monotone = scale > 0.0 && std::isfinite(chord) && q1 >= 0.0 && q1 <= chord && q2 >= 0.0 && q2 <= chord;
    if (!monotone) return whole;

    double qa = std::numeric_limits<double>::infinity(), qb = -qa;
    for (const Point& corner : {Point{lo_x, lo_y}, Point{hi_x, lo_y}, Point{lo_x, hi_y}, Point{hi_x, hi_y}}) {
        const double q = dir.x * (corner.x - p0.x) + dir.y * (corner.y - p0.y);
        qa = std::min(qa, q);
        qb = std::max(qb, q);
    }

    // First sample whose projection reaches qa.
    double q = 0.0;
    if (!projection_at(seg, prep, last, p0, dir, &q)) return whole;
    if (q < qa) return none;
    int64_t lo = 0, hi = last;
    while (lo < hi) {
        const int64_t mid = lo + (hi - lo) / 2;
        if (!projection_at(seg, prep, mid, p0, dir, &q)) return whole;
        if (q >= qa) hi = mid;
        else lo = mid + 1;
    }
    const int64_t first = lo;
    // Last sample whose projection stays within qb.
    if (!projection_at(seg, prep, first, p0, dir, &q)) return whole;
    if (q > qb) return none;
    lo = first;
    hi = last;
    while (lo < hi) {
        const int64_t mid = hi - (hi - lo) / 2;
        if (!projection_at(seg, prep, mid, p0, dir, &q)) return whole;
        if (q <= qb) lo = mid;
        else hi = mid - 1;
    }
    return {first, lo};
}

// Projection of sample k onto `dir`; false when the host cannot tell (its
// answer then decides nothing, and the caller walks everything).
bool Generator::projection_at(A_long seg, PF_PathSegPrepPtr* prep, int64_t k, Point origin, Point dir, double* q) {
    double x = 0.0, y = 0.0, dx = 0.0, dy = 0.0;
    if (data_->PF_PathEvalSegLengthDeriv1(ctx_.in_data->effect_ref, path_, prep, seg, static_cast<double>(k), &x,
                                          &y, &dx, &dy) != PF_Err_NONE)
        return false;
    *q = dir.x * (x - origin.x) + dir.y * (y - origin.y);
    return std::isfinite(*q);
}

void Generator::sample(double x, double y, double dx, double dy) {
    // Only (-1, width) can truncate into the frame; the range test also keeps
    // the conversion defined. -0.5 truncates to 0, which an empty frame still
    // lacks, so the truncated indices are what decide.
    if (!(x > -1.0 && x < static_cast<double>(width_) && y > -1.0 && y < static_cast<double>(height_))) return;
    const A_long sx = static_cast<A_long>(x);
    const A_long sy = static_cast<A_long>(y);
    if (sx < 0 || sx >= width_ || sy < 0 || sy >= height_) return;
    if (at(sx, sy) >= next_id_ - 1) return;
    if (next_id_ == std::numeric_limits<A_long>::max()) {
        // No id left for another stroke: as good as out of memory.
        err_ = PF_Err_OUT_OF_MEMORY;
        return;
    }

    const double r = size_random_.next_real();
    const double m = info_.min_width_fraction;
    const double h2 = static_cast<double>(info_.half_max_width) - 2.0;
    const double size = std::trunc(r * (1.0 - m) * h2 + h2 * m) + 3.0;

    Orientation orientation = Orientation::Upright;
    if (info_.various_directions != 0) {
        const double q = turn_random_.next_real();
        orientation = q < 0.25  ? Orientation::Upright
                      : q < 0.5 ? Orientation::QuarterTurn
                      : q < 0.75 ? Orientation::HalfTurn
                                 : Orientation::ThreeQuarterTurn;
    }
    A_long hw = 0, hh = 0;
    if (orientation == Orientation::Upright || orientation == Orientation::HalfTurn) {
        if (info_.various_directions != 0) aspect_ = layer_w_ / layer_h_;
        hw = to_extent(std::fabs(size) + 0.5);
        hh = to_extent(std::fabs(size / aspect_) + 0.5);
    } else {
        aspect_ = layer_h_ / layer_w_;
        hw = to_extent(std::fabs(size * aspect_) + 0.5);
        hh = to_extent(std::fabs(size) + 0.5);
    }

    StrokeSide side = StrokeSide::None;
    double cx = 0.0, cy = 0.0;
    if (first_) {
        place_first(sx, sy, dx, dy, hw, hh, &side, &cx, &cy);
        first_ = false;
    } else {
        place_later(sx, sy, dx, dy, hw, hh, &side, &cx, &cy);
    }
    const Stroke stroke{sx, sy, to_center(cx), to_center(cy), hw, hh, side, orientation};
    if (!list_.append(stroke)) {
        err_ = PF_Err_OUT_OF_MEMORY;
        return;
    }
    half_w_total_ += hw;
    mark(stroke.center_x, stroke.center_y, hw, hh);
    ++stroke_count_;
    ++next_id_;
}

// The first stroke goes ahead of its sample, in the direction of travel.
void Generator::place_first(A_long sx, A_long sy, double dx, double dy, A_long hw, A_long hh, StrokeSide* side,
                            double* cx, double* cy) const {
    const double alpha = std::atan2(1.0, aspect_) * 180.0 / kPi;
    const double beta = std::atan2(-dx, dy) * 180.0 / kPi + 180.0;
    if (beta < 90.0 - alpha) *side = StrokeSide::Top;
    else if (beta < 90.0 + alpha) *side = StrokeSide::Right;
    else if (beta < 270.0 - alpha) *side = StrokeSide::Bottom;
    else if (beta < 270.0 + alpha) *side = StrokeSide::Left;
    else *side = StrokeSide::Top;

    const double n = hypot(dx, dy);
    const double ux = dx / n, uy = dy / n;
    const double x = sx, y = sy, w = hw, h = hh;
    switch (*side) {
        case StrokeSide::Left: *cx = x - w; *cy = y - (uy / ux) * w; break;
        case StrokeSide::Top: *cy = y - h; *cx = x - (ux / uy) * h; break;
        case StrokeSide::Right: *cx = x + w; *cy = y + (uy / ux) * w; break;
        default: *cy = y + h; *cx = x + (ux / uy) * h; break;
    }
}

// Every later stroke goes on the side away from where the previous stroke
// (or the frame's border) touches its sample.
void Generator::place_later(A_long sx, A_long sy, double dx, double dy, A_long hw, A_long hh, StrokeSide* side,
                            double* cx, double* cy) const {
    const int64_t x = sx, y = sy;
    if (is_prev(x - 1, y)) *side = StrokeSide::Left;
    else if (is_prev(x, y - 1)) *side = StrokeSide::Top;
    else if (is_prev(x + 1, y)) *side = StrokeSide::Right;
    else if (is_prev(x, y + 1)) *side = StrokeSide::Bottom;
    else if (is_prev(x - 1, y - 1)) *side = StrokeSide::Left;
    else if (is_prev(x + 1, y - 1)) *side = StrokeSide::Top;
    else if (is_prev(x + 1, y + 1)) *side = StrokeSide::Right;
    else if (is_prev(x - 1, y + 1)) *side = StrokeSide::Bottom;
    else if (x - 1 < 0) *side = StrokeSide::Left;
    else if (y - 1 < 0) *side = StrokeSide::Top;
    else if (x + 1 >= width_) *side = StrokeSide::Right;
    else if (y + 1 >= height_) *side = StrokeSide::Bottom;
    else *side = StrokeSide::None;

    double theta = 0.0, phi = 0.0;
    if (*side == StrokeSide::Left || *side == StrokeSide::Right) {
        theta = std::atan2(1.0, aspect_);
        phi = std::atan2(std::fabs(dy), std::fabs(dx));
    } else {
        theta = std::atan2(aspect_, 1.0);
        phi = std::atan2(std::fabs(dx), std::fabs(dy));
    }

    const double px = sx, py = sy, w = hw, h = hh;
    if (phi <= theta) {
        const double n = hypot(dx, dy);
        const double ux = dx / n, uy = dy / n;
        switch (*side) {
            case StrokeSide::Left: *cx = px + w; *cy = py + (uy / ux) * w; break;
            case StrokeSide::Top: *cy = py + h; *cx = px + (ux / uy) * h; break;
            case StrokeSide::Right: *cx = px - w; *cy = py - (uy / ux) * w; break;
            default: *cy = py - h; *cx = px - (ux / uy) * h; break;  // Bottom, and None
        }
    } else {
        *cx = dx >= 0.0 ? px + w : px - w;
        *cy = dy >= 0.0 ? py + h : py - h;
    }
}

// Only the part inside the frame is visited.
void Generator::mark(A_long cx, A_long cy, A_long hw, A_long hh) {
    const int64_t x0 = std::max<int64_t>(int64_t{cx} - hw, 0);
    const int64_t x1 = std::min<int64_t>(int64_t{cx} + hw, int64_t{width_} - 1);
    const int64_t y0 = std::max<int64_t>(int64_t{cy} - hh, 0);
    const int64_t y1 = std::min<int64_t>(int64_t{cy} + hh, int64_t{height_} - 1);
    if (x0 > x1) return;
    for (int64_t yy = y0; yy <= y1; ++yy) {
        A_long* row = map_ + static_cast<std::size_t>(yy) * static_cast<std::size_t>(width_);
        std::fill(row + x0, row + x1 + 1, next_id_);
    }
}

}  // namespace

void seed_random_sources(A_long seed, RandomSource& size_random, RandomSource& turn_random) {
    size_random.set_seed(seed);
    size_random.next_int();
    // Wraps for seeds near the top of the range instead of overflowing.
    turn_random.set_seed(static_cast<A_long>(static_cast<uint32_t>(seed) + 5000u));
    turn_random.next_int();
}

StrokeTotals generate_strokes(const GenerateInput& input, StrokeList& list, PF_Err& err) {
    Generator generator(input, list, err);
    if (err == PF_Err_NONE) generator.run();
    return generator.totals();
}
