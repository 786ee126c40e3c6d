// File names that stand for one file per frame: "plate.####.exr" (each '#'
// one digit), "plate.@@@.png" (each '@' one digit) or printf's "%04d" / "%d".
// Frame numbers are padded with zeros to the token's width (never cut);
// negative frames get a leading '-'.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "footage/keyframes.h"

namespace cli {

class FramePattern {
public:
    // The pattern in `text`, or nullopt when it has no frame token (a still).
    // Only the last token counts; "%%" is a literal '%'. Throws ValueError
    // for a printf token other than %d / %0Nd.
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
    int width_ = 0;
};

// Ascending frame numbers as runs, the way --frames takes them:
// "1001-1040,1042-1072"; "" for none.
std::string frame_runs(const std::vector<long>& frames);

}  // namespace cli
