#include "footage/frame_pattern.h"

#include <algorithm>
#include <climits>
#include <cctype>
#include <filesystem>
#include <system_error>

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

std::optional<std::vector<long>> FramePattern::frames_on_disk() const {
    if (suffix_.find('/') != std::string::npos) return std::nullopt;
    const std::size_t slash = prefix_.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : prefix_.substr(0, slash + 1);
    const std::string head = slash == std::string::npos ? prefix_ : prefix_.substr(slash + 1);
    std::vector<long> frames;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= head.size() + suffix_.size() || name.compare(0, head.size(), head) != 0 ||
            name.compare(name.size() - suffix_.size(), suffix_.size(), suffix_) != 0) {
            continue;
        }
        const std::string digits = name.substr(head.size(), name.size() - head.size() - suffix_.size());
        const std::size_t first = digits[0] == '-' ? 1 : 0;
        // Beyond 18 digits no frame of a render can name it.
        if (digits.size() <= first || digits.size() - first > 18 ||
            !std::all_of(digits.begin() + static_cast<std::ptrdiff_t>(first), digits.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
            continue;
        }
        const long long value = std::stoll(digits);
        if (value < LONG_MIN || value > LONG_MAX) continue;
        const long frame = static_cast<long>(value);
        if (path_for(frame).compare(prefix_.size() - head.size(), std::string::npos, name) == 0) {
            frames.push_back(frame);
        }
    }
    std::sort(frames.begin(), frames.end());
    return frames;
}

std::string frame_runs(const std::vector<long>& frames) {
    std::string text;
    for (std::size_t i = 0; i < frames.size();) {
        std::size_t j = i;
        while (j + 1 < frames.size() && frames[j + 1] == frames[j] + 1) ++j;
        if (!text.empty()) text += ',';
        text += std::to_string(frames[i]);
        if (j > i) text += '-' + std::to_string(frames[j]);
        i = j + 1;
    }
    return text;
}

}  // namespace cli
