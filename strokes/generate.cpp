#include "strokes/generate.h"

void generate_strokes(const RenderContext&, const PreRenderInfo&, A_long, A_long, SuiteCache&, PF_PathOutlinePtr,
                      A_long, A_long*, StrokeList&, RandomSource&, RandomSource&, StrokeTotals& totals, PF_Err&) {
    totals.stroke_count = 0;
    totals.half_w_total = 0;
}
