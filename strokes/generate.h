// Stroke generation along the mask path.
#pragma once

#include <cstdint>

#include "host/ae_sdk.h"
#include "host/suite_cache.h"
#include "render/records.h"
#include "strokes/stroke_list.h"

struct StrokeTotals {
    A_long stroke_count;  // saturates at INT32_MAX
    A_long half_w_total;  // saturates at INT32_MAX
};

// How the walk treats samples that cannot reach the frame.
enum class SampleWalk : uint8_t {
    // Samples that provably lie outside the frame are not evaluated (they
    // would place no stroke and draw no random number); the result is the
    // same as with EveryStep. The proof takes the host's lengths for arc
    // lengths (within a factor of two): a host that breaks this still gets
    // at most 64 x (width + height) + 8192 evaluations per segment, so a
    // render always ends.
    SkipUnreachable,
    // Every sample of every segment is evaluated (for cross-checks).
    EveryStep,
};

struct GenerateOptions {
    // The answer of PF_PathIsOpen: 1 open, 0 closed, -1 unknown. Only used to
    // find the end vertex of the last segment when skipping samples.
    int path_open = -1;
    SampleWalk walk = SampleWalk::SkipUnreachable;
};

// Limits of what a stroke record holds, so that later arithmetic on it
// (centre ± half extent, 2 × centre − sample) stays inside int32 for frames
// up to 2^30 pixels wide and high. A centre that is not a number is put at
// -kCenterLimit on that axis, wholly left of or above the frame.
constexpr A_long kCenterLimit = A_long{1} << 29;
constexpr A_long kExtentLimit = A_long{1} << 28;

// Seeds the two generators of one render as the stroke layout requires:
// sizes from `seed`, orientations from `seed` + 5000 (wrapping), each with
// one value discarded.
void seed_random_sources(A_long seed, RandomSource& size_random, RandomSource& turn_random);

// What generation reads. `ctx` gives the frame (width, height, in_data);
// the Layer's size gives the strokes their proportions.
struct GenerateInput {
    const RenderContext& ctx;
    const PreRenderInfo& info;
    A_long layer_width;
    A_long layer_height;
    SuiteCache& suites;
    PF_PathOutlinePtr path;
    A_long segment_count;
    A_long* id_map;
    GenerateOptions options = {};
};

// Walks `path` one pixel of arc length at a time, appending strokes to `list`
// and marking `id_map` (width x height entries, rows of `width`, all 0 on
// entry), with the random sources seeded from info.seed. An empty frame
// (width or height 0 or less) places nothing and makes no host call. Makes no
// host call once `err` is non-zero and records the first host error there; a
// stroke that cannot be stored records PF_Err_OUT_OF_MEMORY. A segment whose
// length preparation succeeded is always cleaned up, even after an error
// (that result is then not recorded).
StrokeTotals generate_strokes(const GenerateInput& input, StrokeList& list, PF_Err& err);
