// File names that stand for one file per frame: "plate.####.exr" (each '#'
// one digit), "plate.@@@.png" (each '@' one digit) or printf's "%04d" / "%d".
// Frame numbers are padded with zeros to the token's width (never cut);
// negative frames get a leading '-'.
#pragma once

#include <optional>
#include <string>
#include <string_view>

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

private:
    std::string text_;
    std::string prefix_;
    std::string suffix_;
    int width_ = 0;
};

}  // namespace cli
