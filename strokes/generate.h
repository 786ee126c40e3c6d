// Stroke generation along the mask path.
#pragma once

#include "host/ae_sdk.h"
#include "host/suite_cache.h"
#include "render/pre_render.h"
#include "render/render_context.h"
#include "strokes/stroke_list.h"

struct StrokeTotals {
    A_long stroke_count;
    A_long half_w_total;
};

// Walks `path` one pixel of arc length at a time, appending strokes to `list`
// and marking `id_map` (width x height entries, rows of `width`, all 0 on
// entry). Makes no host call once `err` is non-zero and records the first
// host error there.
void generate_strokes(const RenderContext& ctx, const PreRenderInfo& info, A_long layer_width, A_long layer_height,
                      SuiteCache& suites, PF_PathOutlinePtr path, A_long segment_count, A_long* id_map,
                      StrokeList& list, RandomSource& size_random, RandomSource& turn_random, StrokeTotals& totals,
                      PF_Err& err);
