#include "footage/frame_pattern.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <system_error>

#include "footage/keyframes.h"

namespace cli {

namespace {

// Wider frame numbers than this are certainly a mistake.
constexpr int kMaxWidth = 64;

}  // namespace

std::string unescape_percent(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') ++i;
    }
    return out;
}

std::optional<FramePattern> FramePattern::parse(std::string_view text) {
    FramePattern p;
    p.text_ = std::string(text);
    bool numbered = false;
    std::string* part = &p.prefix_;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *part += text[i];
            continue;
        }
        const std::size_t start = i;
        if (i + 1 < text.size() && text[i + 1] == '%') {
            *part += '%';
            ++i;
            continue;
        }
        if (numbered) throw ValueError("more than one % conversion (use %% for a percent sign)");
        ++i;
        for (; i < text.size() && std::string_view("-+ 0#").find(text[i]) != std::string_view::npos; ++i) {
            p.left_ |= text[i] == '-';
            p.zero_ |= text[i] == '0';
            p.plus_ |= text[i] == '+';
            p.space_ |= text[i] == ' ';
        }
        auto digits = [&](int* value) {
            *value = 0;
            for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
                *value = *value * 10 + (text[i] - '0');
                if (*value > kMaxWidth) throw ValueError("the frame number's width is too large");
            }
        };
        digits(&p.width_);
        if (i < text.size() && text[i] == '.') {
            ++i;
            digits(&p.precision_);
        }
        if (i >= text.size() || std::string_view("diu").find(text[i]) == std::string_view::npos) {
            throw ValueError("\"" + std::string(text.substr(start, i + 1 - start)) +
                             "\" is not an integer conversion (use e.g. %04d for the frame number, %% for a percent "
                             "sign)");
        }
        numbered = true;
        part = &p.suffix_;
    }
    if (numbered) return p;
    // The last run of '#' or '@' is the frame number, one digit each.
    const std::size_t end = p.prefix_.find_last_of("#@");
    if (end == std::string::npos) return std::nullopt;
    const std::size_t start = p.prefix_.find_last_not_of(p.prefix_[end], end) + 1;
    p.suffix_ = p.prefix_.substr(end + 1);
    p.width_ = static_cast<int>(end + 1 - start);
    p.zero_ = true;
    p.prefix_.resize(start);
    return p;
}

std::string FramePattern::path_for(long frame) const {
    const long long n = frame;
    std::string digits = std::to_string(n < 0 ? -n : n);
    if (precision_ >= 0 && static_cast<int>(digits.size()) < precision_) {
        digits.insert(0, static_cast<std::size_t>(precision_) - digits.size(), '0');
    }
    if (precision_ == 0 && frame == 0) digits.clear();
    const std::string sign = frame < 0 ? "-" : plus_ ? "+" : space_ ? " " : "";
    // Zero-padded, a negative frame keeps all its digits: frame -5 of
    // "####" is "-0005", beside "0005".
    if (frame < 0 && zero_ && precision_ < 0 && static_cast<int>(digits.size()) < width_) {
        digits.insert(0, static_cast<std::size_t>(width_) - digits.size(), '0');
    }
    std::string body = sign + digits;
    if (static_cast<int>(body.size()) < width_) {
        const std::size_t pad = static_cast<std::size_t>(width_) - body.size();
        if (left_) {
            body.append(pad, ' ');
        } else if (zero_ && precision_ < 0) {
            body.insert(sign.size(), pad, '0');
        } else {
            body.insert(0, pad, ' ');
        }
    }
    return prefix_ + body + suffix_;
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
