// Stroke painter: composites one stroke rectangle into the output world, the
// Layer image stretched into the rectangle and tinted with the stroke's colour.
#pragma once

#include <vector>

#include "draw/blend.h"
#include "host/ae_sdk.h"
#include "host/suite_cache.h"
#include "render/records.h"
#include "strokes/stroke_list.h"

// A stroke's rectangle: columns center_x - left .. center_x + right and rows
// center_y - top .. center_y + bottom, both ends included. 64-bit so that the
// edge arithmetic of any centre generation produces stays exact. A rectangle
// with left + right < 0 or top + bottom < 0 (a boundary stroke shortened past
// itself) is empty. Every field lies within +-2^62.
struct DrawRect {
    A_longlong center_x;
    A_longlong center_y;
    A_longlong left;
    A_longlong right;
    A_longlong top;
    A_longlong bottom;
};

// fix(v): v in 16.16 fixed point, rounding half away from zero. NaN gives 0;
// values beyond the PF_Fixed range saturate.
PF_Fixed to_fixed(double v) noexcept;

// The painter's state for one render at one pixel depth: PF_Pixel8,
// PF_Pixel16 or PF_PixelFloat. Holds the sampling block and the sample
// buffer, which starts all-zero and carries the last painted value from one
// pixel to the next (and from one stroke to the next).
template <typename Pixel>
class StrokePainter {
public:
    // `ctx`, `layer_param` and `suites` must outlive the painter; ctx's
    // worlds hold Pixel.
    StrokePainter(const RenderContext& ctx, const PreRenderInfo& info, const PF_ParamDef& layer_param,
                  SuiteCache& suites);

    // Paints `rect` for `stroke` (its sample point and orientation).
    // Pixels outside the input's width and height are neither sampled nor
    // written. The first failing sampling call is recorded in `err`; while
    // `err` is set no sampling call is made and pixels are painted from the
    // carried sample. A refused sampling suite is raised (PF_Err 516) by
    // `suites`.
    void paint_stroke(const DrawRect& rect, const Stroke& stroke, PF_Err& err);

    // The sample buffer, as the next pixel would find it.
    Pixel sample_buffer() const { return sample_; }

private:
    struct Span;
    // The covered pixels of one stroke with the blend operator fixed, so
    // that the per-pixel loop calls it directly.
    template <BlendOp<Pixel> Op>
    void paint_span(const Span& span, PF_Err& err);

    const RenderContext& ctx_;
    SuiteCache& suites_;
    const PF_LayerDef& layer_;
    BlendMode blend_mode_;
    double opacity_;
    PF_SampPB samp_{};
    Pixel sample_{};
    // The Layer coordinate that moves along each row, per column of the
    // current stroke (reused from stroke to stroke).
    std::vector<PF_Fixed> columns_;
};

extern template class StrokePainter<PF_Pixel8>;
extern template class StrokePainter<PF_Pixel16>;
extern template class StrokePainter<PF_PixelFloat>;
