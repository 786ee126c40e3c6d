// Stroke drawing: which strokes "Mode" and "Time" reveal, and their
// rectangles, handed to the painter.
#pragma once

#include "host/ae_sdk.h"
#include "host/suite_cache.h"
#include "render/records.h"
#include "strokes/stroke_list.h"

// Draws the visible strokes into ctx's output, reporting progress after each.
// Records the first host error in `err`; a refused sampling suite is raised
// (PF_Err 516) through `suites`.
void draw_strokes(const RenderContext& ctx, const PreRenderInfo& info, const PF_ParamDef& layer_param,
                  SuiteCache& suites, const StrokeList& list, A_long stroke_count, A_long half_w_total,
                  PF_Err& err);
