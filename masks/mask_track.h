// A mask's text turned into the "Path" over time: the keys of a moving
// mask, as the host keeps them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "standalone/mask_store.h"

namespace cli {

// `text` is one of
//   MASK            path data ("M 10 10 L 90 40") or an SVG document, inline;
//   @FILE           a file holding either; @FILE.svg#ID takes the element of
//                   that id (else an SVG document gives its first shape);
//   @FILE with a frame token (mask.####.svg, mask.%04d.svg): one file per
//                   frame of `frames`, each frame's outline its own key;
//   F:MASK,F:MASK,...  keys at frames F (whole numbers, 0 or more), MASK
//                   inline path data or @FILE. Between keys every vertex and
//                   tangent moves linearly, before the first and after the
//                   last the nearest key holds; all keys need the same number
//                   of vertices and the same open or closed state.
// Returns the keys sorted by frame, in the full-size frame's pixels: one key
// at frame 0 for a still mask, none for empty text. Warnings (subpaths
// left out) are added to `warnings` when given. Throws ValueError naming the
// file or the keys at fault.
std::vector<standalone::MaskKeyframe> load_mask(std::string_view text, const std::vector<long>& frames,
                                               std::vector<std::string>* warnings = nullptr);

}  // namespace cli
