#include "draw/draw.h"

#include <algorithm>
#include <cstddef>
#include <limits>

#include "draw/paint.h"

namespace {

// A host floor/ceil result as a whole number; NaN gives 0, the rest
// saturates to the 32-bit range the budget lives in.
A_longlong to_long(double v) {
    if (v != v) return 0;
    if (v <= static_cast<double>(std::numeric_limits<A_long>::min())) return std::numeric_limits<A_long>::min();
    if (v >= static_cast<double>(std::numeric_limits<A_long>::max())) return std::numeric_limits<A_long>::max();
    return static_cast<A_longlong>(v);
}

DrawRect whole_rect(const Stroke& s) {
    return {s.center_x, s.center_y, s.half_w, s.half_w, s.half_h, s.half_h};
}

// Scales every edge more than one pixel away from the anchor by `ratio`
// (0..1, taken from the x extent for both axes), rounding up after adding
// one half.
DrawRect shorten(const Stroke& s, double ratio, A_longlong ax, A_longlong ay, const PF_ANSICallbacks& ansi) {
    auto scale = [&](A_longlong edge, A_longlong anchor) {
        const A_longlong v = edge - anchor;
        if (v > -2 && v < 2) return edge;
        return static_cast<A_longlong>(ansi.ceil(static_cast<double>(v) * ratio + 0.5)) + anchor;
    };
    const A_longlong x_lo = scale(A_longlong{s.center_x} - s.half_w, ax);
    const A_longlong x_hi = scale(A_longlong{s.center_x} + s.half_w, ax);
    const A_longlong y_lo = scale(A_longlong{s.center_y} - s.half_h, ay);
    const A_longlong y_hi = scale(A_longlong{s.center_y} + s.half_h, ay);
    const A_longlong cx = (x_lo + x_hi) / 2;
    const A_longlong cy = (y_lo + y_hi) / 2;
    return {cx, cy, cx - x_lo, x_hi - cx, cy - y_lo, y_hi - cy};
}

// The visible part continues at the next stroke: its sample point stepped
// towards the stroke before it. Side 0 is placed as side 4 by generation.
void next_anchor(const Stroke& next, A_longlong& ax, A_longlong& ay) {
    ax = next.sample_x;
    ay = next.sample_y;
    switch (next.side) {
        case StrokeSide::Left: ax -= 1; break;
        case StrokeSide::Top: ay -= 1; break;
        case StrokeSide::Right: ax += 1; break;
        default: ay += 1; break;
    }
}

template <typename Pixel>
void walk(const RenderContext& ctx, const PreRenderInfo& info, const PF_ParamDef& layer_param, SuiteCache& suites,
          const StrokeList& list, A_long stroke_count, A_long half_w_total, PF_Err& err) {
    const PF_ANSICallbacks& ansi = ctx.in_data->utils->ansi;
    const double t = info.time_fraction;
    const bool growing = t <= 0.5;
    const bool by_count = info.mode == RevealMode::Discrete2;
    const bool shortens = info.mode == RevealMode::Continuous;

    // Doubled in 64 bits: equal to the 32-bit product wherever that fits.
    const A_longlong doubled = 2 * A_longlong{by_count ? stroke_count : half_w_total};
    double budget = static_cast<double>(doubled) * (growing ? t : t - 0.5);
    if (!by_count) budget += 0.5;
    A_longlong reveal_limit = to_long(ansi.floor(budget));

    A_long drawn_count = 0;
    bool reveal_done = false;
    bool partial_pending = false;
    StrokePainter<Pixel> painter(ctx, info, layer_param, suites);

    for (std::size_t i = 0; i < list.size(); ++i) {
        const Stroke s = list.at(i);
        A_longlong stroke_len = s.half_w;

        if (by_count) {
            if (growing) {
                if (drawn_count >= reveal_limit) reveal_done = true;
            } else if (!reveal_done) {
                if (drawn_count < reveal_limit) {
                    ++drawn_count;
                    continue;
                }
                partial_pending = true;
                reveal_done = true;
            }
        } else if (growing) {
            reveal_limit -= s.half_w;
            if (reveal_limit < 0) {
                stroke_len = s.half_w + reveal_limit;
                reveal_done = true;
            }
        } else if (!reveal_done) {
            reveal_limit -= s.half_w;
            if (reveal_limit > 0) continue;
            stroke_len = -reveal_limit;
            partial_pending = true;
            reveal_done = true;
        }

        DrawRect rect = whole_rect(s);
        // A stroke of no width has no ratio: it stays whole.
        if (shortens && s.half_w > 0 && (growing ? reveal_done : partial_pending)) {
            const double ratio =
                std::clamp(static_cast<double>(stroke_len) / static_cast<double>(s.half_w), 0.0, 1.0);
            A_longlong ax = s.sample_x;
            A_longlong ay = s.sample_y;
            if (!growing) {
                if (i + 1 < list.size()) {
                    next_anchor(list.at(i + 1), ax, ay);
                } else {
                    ax = 2 * A_longlong{s.center_x} - s.sample_x;
                    ay = 2 * A_longlong{s.center_y} - s.sample_y;
                }
            }
            rect = shorten(s, ratio, ax, ay, ansi);
        }
        partial_pending = false;

        painter.paint_stroke(rect, s, err);

        if (growing && reveal_done) break;
        ++drawn_count;
        if (err == PF_Err_NONE) err = ctx.in_data->inter.progress(ctx.in_data->effect_ref, drawn_count, stroke_count);
    }
}

}  // namespace

void draw_strokes(const RenderContext& ctx, const PreRenderInfo& info, const PF_ParamDef& layer_param,
                  SuiteCache& suites, const StrokeList& list, A_long stroke_count, A_long half_w_total,
                  PF_Err& err) {
    dispatch_depth(
        ctx.depth,
        [&](auto pixel) {
            walk<typename decltype(pixel)::type>(ctx, info, layer_param, suites, list, stroke_count, half_w_total,
                                                 err);
        },
        [&] {
            // No depth the driver can map: nothing is drawn, and the render
            // must not pass for a success.
            if (err == PF_Err_NONE) err = PF_Err_BAD_CALLBACK_PARAM;
        });
}
