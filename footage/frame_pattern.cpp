#include "footage/frame_pattern.h"

#include <cstdlib>

namespace cli {
namespace {

// Collapses "%%" to '%' outside the token.
std::string unescape_percent(std::string_view s, bool printf_style) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        out += s[i];
        if (printf_style && s[i] == '%' && i + 1 < s.size() && s[i + 1] == '%') ++i;
    }
    return out;
}

}  // namespace

std::optional<FramePattern> FramePattern::parse(std::string_view text) {
    // A printf token wins when present: "%%" never starts one.
    std::size_t start = std::string_view::npos, end = 0;
    int width = 0;
    bool printf_style = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        int w = 0;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') {
            w = w * 10 + (text[j] - '0');
            if (w > 32) throw ValueError("frame token width above 32 in '" + std::string(text) + "'");
            ++j;
        }
        if (j >= text.size() || text[j] != 'd')
            throw ValueError("'" + std::string(text) + "': only %d and %0Nd stand for the frame number");
        start = i;
        end = j + 1;
        width = w;
        printf_style = true;
    }
    if (!printf_style) {
        for (std::size_t i = text.size(); i-- > 0;) {
            const char c = text[i];
            if (c != '#' && c != '@') continue;
            std::size_t k = i;
            while (k > 0 && text[k - 1] == c) --k;
            start = k;
            end = i + 1;
            width = static_cast<int>(end - start);
            break;
        }
    }
    if (start == std::string_view::npos) return std::nullopt;
    FramePattern p;
    p.text_ = std::string(text);
    p.prefix_ = unescape_percent(text.substr(0, start), printf_style);
    p.suffix_ = unescape_percent(text.substr(end), printf_style);
    p.width_ = width;
    return p;
}

std::string FramePattern::path_for(long frame) const {
    std::string digits = std::to_string(frame < 0 ? -static_cast<long long>(frame) : static_cast<long long>(frame));
    if (static_cast<int>(digits.size()) < width_) digits.insert(0, static_cast<std::size_t>(width_) - digits.size(), '0');
    return prefix_ + (frame < 0 ? "-" : "") + digits + suffix_;
}

}  // namespace cli
