// The --mask value turned into the "Path" mask's keyframes.
#pragma once

#include <string_view>
#include <vector>

#include "standalone/mask_store.h"

namespace cli {

// `value` is SVG path data, or "@FILE" holding it: a constant mask, one key
// at frame 0, in the full-size frame's pixels. Throws Failure (kExitUsage)
// naming the file or the flag; warnings go to stderr.
std::vector<standalone::MaskKeyframe> load_mask(std::string_view value);

}  // namespace cli
