// Small parsers for values given as text: animated numbers, frame ranges,
// sizes, colours and downsampling ratios.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/ae_sdk.h"

namespace cli {

// Thrown for text that does not parse. what() quotes the input and says
// what is wrong with it.
class ValueError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value over time: keys sorted by frame, frames distinct and non-negative,
// values finite. A plain number is one key at frame 0 with animated false;
// the list form sets animated even for a single key.
struct Keyframes {
    std::vector<std::pair<int64_t, double>> keys;
    bool animated = false;

    // Linear between keys, held before the first and after the last.
    double at(int64_t frame) const;
};

// "37.5", or "FRAME:VALUE,FRAME:VALUE,..." in any order (sorted here;
// a frame given twice is refused). Blanks around items are allowed.
Keyframes parse_keyframes(std::string_view text);

// A finite decimal number ("-2.5", "1e3", "+4").
double parse_number(std::string_view text);

// Inclusive frame range: "A-B" with A <= B, "A-BxS" for every S-th frame
// from A (S >= 1), or "N" for the single frame N.
struct FrameRange {
    int64_t first;
    int64_t last;
    int64_t step = 1;
};
FrameRange parse_frame_range(std::string_view text);

// A frame list as render-farm managers hand them out: ranges as above
// separated by commas ("1,5,10-20", "1-100x5"), in the order given, a
// frame named twice kept once. Refuses lists of more than `max_frames`.
std::vector<int64_t> parse_frame_list(std::string_view text, std::size_t max_frames);

// "WxH" (or "WXH"), both positive.
struct Size {
    int width;
    int height;
};
Size parse_size(std::string_view text);

// "R,G,B,A", each an integer 0 to 255; returned as a straight ARGB pixel.
PF_Pixel8 parse_colour(std::string_view text);

// A scale factor num/den, 0 < num/den <= 1, in lowest terms. "N" means
// one pixel in N along each axis (1/N); "N/D" is the factor N/D itself,
// as the host's rational downsample factors are written ("1/2", "3/4").
// Terms are at most kMaxRatioTerm once reduced.
struct Ratio {
    int64_t num;
    int64_t den;
};
inline constexpr int64_t kMaxRatioTerm = int64_t{1} << 24;
Ratio parse_downsample(std::string_view text);

}  // namespace cli
