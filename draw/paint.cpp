#include "draw/paint.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <limits>
#include <utility>

namespace {

// color_alpha x opacity: truncated toward zero at the integer depths (kept
// inside the channel's range, which a valid opacity never leaves), a plain
// single-precision product at float depth.
A_u_char scale_alpha(A_u_char alpha, double opacity) {
    const double p = static_cast<double>(alpha) * opacity;
    if (!(p > 0.0)) return 0;
    return p >= 255.0 ? 255 : static_cast<A_u_char>(p);
}
A_u_short scale_alpha(A_u_short alpha, double opacity) {
    const double p = static_cast<double>(alpha) * opacity;
    if (!(p > 0.0)) return 0;
    return p >= 65535.0 ? 65535 : static_cast<A_u_short>(p);
}
PF_FpShort scale_alpha(PF_FpShort alpha, double opacity) {
    return static_cast<PF_FpShort>(static_cast<double>(alpha) * opacity);
}

PF_Fixed saturate_fixed(A_longlong v) {
    return static_cast<PF_Fixed>(std::clamp<A_longlong>(v, std::numeric_limits<PF_Fixed>::min(),
                                                        std::numeric_limits<PF_Fixed>::max()));
}

}  // namespace

PF_Fixed to_fixed(double v) noexcept {
    if (v != v) return 0;
    const double scaled = v >= 0.0 ? v * 65536.0 + 0.5 : v * 65536.0 - 0.5;
    if (!(scaled > -2147483649.0)) return std::numeric_limits<PF_Fixed>::min();
    if (!(scaled < 2147483648.0)) return std::numeric_limits<PF_Fixed>::max();
    return static_cast<PF_Fixed>(scaled);
}

template <typename Pixel>
StrokePainter<Pixel>::StrokePainter(const RenderContext& ctx, const PreRenderInfo& info,
                                    const PF_ParamDef& layer_param, SuiteCache& suites)
    : ctx_(ctx), suites_(suites), layer_(layer_param.u.ld), blend_mode_(info.blend_mode), opacity_(info.opacity) {
    // The host only reads the world through the block.
    samp_.src = const_cast<PF_EffectWorld*>(&layer_param.u.ld);
}

// What one stroke's pixels need, worked out once per stroke. Along a row
// one Layer coordinate moves with dx (x upright and half turned, y across)
// and the other is fixed by dy.
template <typename Pixel>
struct StrokePainter<Pixel>::Span {
    SampleFunction<Pixel> area_sample;
    Pixel color;  // with its alpha scaled by the opacity
    A_longlong center_x, center_y;
    A_longlong dx_lo, dx_hi, dy_lo, dy_hi;
    bool across;  // quarter turns: Layer x follows dy
    A_longlong x0, y0, x_sign, y_sign;
    double row_step;     // Layer pixels per dy of the fixed coordinate
    double column_step;  // Layer pixels per dx of the moving one
    const PF_Fixed* columns;  // the moving coordinate per dx − dx_lo; null: worked out per pixel

    PF_Fixed fixed_at(A_longlong dy) const {
        const A_longlong term = to_fixed(static_cast<double>(dy) * row_step);
        return saturate_fixed(across ? x0 + x_sign * term : y0 + y_sign * term);
    }
    PF_Fixed moving_at(A_longlong dx) const {
        const A_longlong term = to_fixed(static_cast<double>(dx) * column_step);
        return saturate_fixed(across ? y0 + y_sign * term : x0 + x_sign * term);
    }
};

template <typename Pixel>
template <BlendOp<Pixel> Op>
void StrokePainter<Pixel>::paint_span(const Span& span, PF_Err& err) {
    using Traits = PixelTraits<Pixel>;
    constexpr BlendOp<Pixel> normal = blend_op<Pixel>(BlendMode::Normal);
    Pixel* const out = ctx_.out_pixels<Pixel>();
    const PF_ProgPtr effect_ref = ctx_.in_data->effect_ref;
    for (A_longlong dy = span.dy_lo; dy <= span.dy_hi; ++dy) {
        const PF_Fixed fixed = span.fixed_at(dy);
        Pixel* const out_row = out + static_cast<std::size_t>(span.center_y + dy) *
                                         static_cast<std::size_t>(ctx_.out_row_pixels);
        for (A_longlong dx = span.dx_lo; dx <= span.dx_hi; ++dx) {
            const PF_Fixed moving =
                span.columns != nullptr ? span.columns[static_cast<std::size_t>(dx - span.dx_lo)] : span.moving_at(dx);
            if (err == PF_Err_NONE) {
                // A failed call leaves the carried sample as it was.
                Pixel fresh = sample_;
                const PF_Err sample_err = span.across ? span.area_sample(effect_ref, fixed, moving, &samp_, &fresh)
                                                      : span.area_sample(effect_ref, moving, fixed, &samp_, &fresh);
                if (sample_err == PF_Err_NONE) {
                    sample_ = fresh;
                } else {
                    err = sample_err;
                }
            }
            Pixel base = sample_;
            const auto kept_alpha = base.alpha;
            base.alpha = Traits::full;
            Pixel result = Op(base, span.color);
            result.alpha = kept_alpha;
            sample_ = result;
            Pixel& target = out_row[static_cast<std::size_t>(span.center_x + dx)];
            target = normal(target, result);
        }
    }
}

template <typename Pixel>
void StrokePainter<Pixel>::paint_stroke(const DrawRect& rect, const Stroke& stroke, PF_Err& err) {
    Span span{};
    span.area_sample = suites_.sampling_suite<Pixel>()->*PixelTraits<Pixel>::area_sample;

    const A_longlong w = rect.left + rect.right + 1;
    const A_longlong h = rect.top + rect.bottom + 1;
    if (w <= 0 || h <= 0) return;

    Pixel color{};
    if (stroke.sample_x >= 0 && stroke.sample_x < ctx_.width && stroke.sample_y >= 0 &&
        stroke.sample_y < ctx_.height) {
        color = ctx_.in_pixels<Pixel>()[static_cast<std::size_t>(stroke.sample_y) * static_cast<std::size_t>(ctx_.in_row_pixels) +
                                 static_cast<std::size_t>(stroke.sample_x)];
    }
    color.alpha = scale_alpha(color.alpha, opacity_);
    span.color = color;

    const bool across =
        stroke.orientation == Orientation::QuarterTurn || stroke.orientation == Orientation::ThreeQuarterTurn;
    const bool turned =
        stroke.orientation == Orientation::HalfTurn || stroke.orientation == Orientation::ThreeQuarterTurn;
    const double wd = static_cast<double>(w);
    const double hd = static_cast<double>(h);
    const double wl = layer_.width;
    const double hl = layer_.height;
    const double x_step = across ? wl * (hd - 1.0) / (hd * hd) : wl * (wd - 1.0) / (wd * wd);
    const double y_step = across ? hl * (wd - 1.0) / (wd * wd) : hl * (hd - 1.0) / (hd * hd);
    const double fx = (static_cast<double>(rect.left) + 0.5) / wd;
    const double fy = (static_cast<double>(rect.top) + 0.5) / hd;
    span.x0 = to_fixed((wl - 1.0) * (turned ? 1.0 - fx : fx));
    span.y0 = to_fixed((hl - 1.0) * (turned ? 1.0 - fy : fy));
    samp_.x_radius = to_fixed(x_step * 0.5);
    samp_.y_radius = to_fixed(y_step * 0.5);

    // Layer x follows dx (upright, half turn) or dy (quarter turns); the
    // signs give the four orientations.
    span.across = across;
    span.x_sign = turned ? -1 : 1;
    span.y_sign =
        (stroke.orientation == Orientation::QuarterTurn || stroke.orientation == Orientation::HalfTurn) ? -1 : 1;
    span.row_step = across ? x_step : y_step;
    span.column_step = across ? y_step : x_step;

    // Only the part inside the frame is visited.
    span.center_x = rect.center_x;
    span.center_y = rect.center_y;
    span.dy_lo = std::max<A_longlong>(-rect.top, -rect.center_y);
    span.dy_hi = std::min<A_longlong>(rect.bottom, A_longlong{ctx_.height} - 1 - rect.center_y);
    span.dx_lo = std::max<A_longlong>(-rect.left, -rect.center_x);
    span.dx_hi = std::min<A_longlong>(rect.right, A_longlong{ctx_.width} - 1 - rect.center_x);
    if (span.dy_lo > span.dy_hi || span.dx_lo > span.dx_hi) return;

    // Every row repeats the columns' coordinates: worked out once. Without
    // the memory for them each pixel works its own out (same values).
    span.columns = nullptr;
    try {
        columns_.resize(static_cast<std::size_t>(span.dx_hi - span.dx_lo) + 1);
        for (A_longlong dx = span.dx_lo; dx <= span.dx_hi; ++dx)
            columns_[static_cast<std::size_t>(dx - span.dx_lo)] = span.moving_at(dx);
        span.columns = columns_.data();
    } catch (const std::exception&) {
        columns_.clear();
    }

    // One loop per operator, chosen here rather than per pixel; a mode
    // outside the table (a damaged project) paints with Normal.
    switch (blend_mode_) {
        case BlendMode::Tritone: paint_span<blend_op<Pixel>(BlendMode::Tritone)>(span, err); break;
        case BlendMode::Add: paint_span<blend_op<Pixel>(BlendMode::Add)>(span, err); break;
        case BlendMode::Multiply: paint_span<blend_op<Pixel>(BlendMode::Multiply)>(span, err); break;
        case BlendMode::Screen: paint_span<blend_op<Pixel>(BlendMode::Screen)>(span, err); break;
        case BlendMode::Overlay: paint_span<blend_op<Pixel>(BlendMode::Overlay)>(span, err); break;
        case BlendMode::ColorDodge: paint_span<blend_op<Pixel>(BlendMode::ColorDodge)>(span, err); break;
        case BlendMode::ColorBurn: paint_span<blend_op<Pixel>(BlendMode::ColorBurn)>(span, err); break;
        default: paint_span<blend_op<Pixel>(BlendMode::Normal)>(span, err); break;
    }
}

template class StrokePainter<PF_Pixel8>;
template class StrokePainter<PF_Pixel16>;
template class StrokePainter<PF_PixelFloat>;
