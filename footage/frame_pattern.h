// File names that stand for one file per frame, inputs, outputs and mask
// files alike: a run of '#' or '@' ("plate.####.exr", "plate.@@@.png"), one
// digit each, padded with zeros and never cut; or one printf integer
// conversion ("%04d", "%d", "%5i": flags "-+ 0#", a width and a precision,
// d, i or u), formatted as printf would. "%%" is a literal percent sign.
// Zero-padded, a negative frame gets a '-' before all its digits ("-0005").
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

class FramePattern {
public:
    // The pattern in `text`, or nullopt when it has no frame token (a still).
    // A printf conversion wins over '#' and '@'; of those, only the last run
    // counts. Throws ValueError, its message without `text`, for a '%' that
    // starts no integer conversion, or more than one.
    static std::optional<FramePattern> parse(std::string_view text);

    // The file name of `frame`.
    std::string path_for(long frame) const;

    const std::string& text() const { return text_; }

    // The frames whose files are in the pattern's folder, ascending: the
    // names path_for() gives, nothing else ("shot.01001.png" is not frame
    // 1001 of "shot.####.png"). nullopt when the token is in a folder's
    // name, which is not listed.
    std::optional<std::vector<long>> frames_on_disk() const;

private:
    std::string text_;
    std::string prefix_;
    std::string suffix_;
    bool left_ = false;
    bool zero_ = false;
    bool plus_ = false;
    bool space_ = false;
    int width_ = 0;
    int precision_ = -1;
};

// Ascending frame numbers as runs, the way --frames takes them:
// "1001-1040,1042-1072"; "" for none.
std::string frame_runs(const std::vector<long>& frames);

// `text` with every "%%" as one '%': the name of a file that holds no frame
// token.
std::string unescape_percent(std::string_view text);

}  // namespace cli
