#include "footage/keyframes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <numeric>
#include <system_error>
#include <unordered_set>

namespace cli {
namespace {

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

[[noreturn]] void fail(const char* kind, std::string_view input, const std::string& why) {
    throw ValueError(std::string(kind) + " '" + std::string(input) + "': " + why);
}

// Digits only, no sign; a failure names the whole `input`.
int64_t to_unsigned(std::string_view token, const char* kind, std::string_view input,
                    const char* name) {
    token = trim(token);
    if (token.empty()) fail(kind, input, std::string("missing ") + name);
    for (char c : token) {
        if (c < '0' || c > '9') {
            fail(kind, input, std::string(name) + " '" + std::string(token) +
                                  "' is not a non-negative integer");
        }
    }
    int64_t v = 0;
    const auto res = std::from_chars(token.data(), token.data() + token.size(), v);
    if (res.ec != std::errc() || res.ptr != token.data() + token.size()) {
        fail(kind, input, std::string(name) + " '" + std::string(token) + "' is too large");
    }
    return v;
}

bool to_double(std::string_view token, double& out) {
    token = trim(token);
    if (!token.empty() && token.front() == '+') {
        token.remove_prefix(1);
        if (!token.empty() && (token.front() == '+' || token.front() == '-')) return false;
    }
    if (token.empty()) return false;
    const auto res = std::from_chars(token.data(), token.data() + token.size(), out);
    return res.ec == std::errc() && res.ptr == token.data() + token.size() && std::isfinite(out);
}

}  // namespace

double Keyframes::at(int64_t frame) const {
    if (keys.empty()) return 0.0;
    if (frame <= keys.front().first) return keys.front().second;
    if (frame >= keys.back().first) return keys.back().second;
    const auto next = std::upper_bound(keys.begin(), keys.end(), frame,
                                       [](int64_t f, const auto& k) { return f < k.first; });
    const auto prev = next - 1;
    const double t = static_cast<double>(frame - prev->first) /
                     static_cast<double>(next->first - prev->first);
    const double a = prev->second;
    const double b = next->second;
    const double d = b - a;
    const double v = a + d * t;
    if (std::isfinite(v)) return v;
    // Keys of opposite sign near the limits of double: their difference
    // overflows, but the weighted sum does not.
    return a * (1.0 - t) + b * t;
}

double parse_number(std::string_view text) {
    double v = 0.0;
    if (!to_double(text, v)) fail("number", text, "not a finite decimal number");
    return v;
}

Keyframes parse_keyframes(std::string_view text) {
    Keyframes k;
    if (text.find(':') == std::string_view::npos) {
        double v = 0.0;
        if (!to_double(text, v)) {
            fail("value", text, "expected a finite number or FRAME:VALUE,FRAME:VALUE,...");
        }
        k.keys.emplace_back(0, v);
        return k;
    }
    k.animated = true;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t comma = text.find(',', pos);
        const std::string_view item =
            text.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
        const std::size_t colon = item.find(':');
        if (colon == std::string_view::npos) {
            fail("keyframes", text, "item '" + std::string(trim(item)) + "' is not FRAME:VALUE");
        }
        const int64_t frame = to_unsigned(item.substr(0, colon), "keyframes", text, "frame");
        double v = 0.0;
        if (!to_double(item.substr(colon + 1), v)) {
            fail("keyframes", text,
                 "value '" + std::string(trim(item.substr(colon + 1))) + "' is not a finite number");
        }
        k.keys.emplace_back(frame, v);
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    std::stable_sort(k.keys.begin(), k.keys.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < k.keys.size(); ++i) {
        if (k.keys[i].first == k.keys[i - 1].first) {
            fail("keyframes", text, "frame " + std::to_string(k.keys[i].first) + " is given twice");
        }
    }
    return k;
}

FrameRange parse_frame_range(std::string_view text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) {
        const int64_t n = to_unsigned(text, "frame range", text, "frame");
        return {n, n};
    }
    const std::size_t x = text.find_first_of("xX", dash);
    const int64_t a = to_unsigned(text.substr(0, dash), "frame range", text, "first frame");
    const int64_t b = to_unsigned(text.substr(dash + 1, x == std::string_view::npos ? x : x - dash - 1), "frame range",
                                  text, "last frame");
    if (b < a) fail("frame range", text, "the last frame comes before the first");
    int64_t step = 1;
    if (x != std::string_view::npos) {
        step = to_unsigned(text.substr(x + 1), "frame range", text, "step");
        if (step < 1) fail("frame range", text, "the step must be at least 1");
    }
    return {a, b, step};
}

std::vector<int64_t> parse_frame_list(std::string_view text, std::size_t max_frames) {
    std::vector<int64_t> frames;
    std::unordered_set<int64_t> seen;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        FrameRange range{};
        try {
            range = parse_frame_range(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
        } catch (const ValueError& e) {
            fail("frame list", text, e.what());
        }
        for (int64_t f = range.first; f <= range.last; f += range.step) {
            if (seen.insert(f).second) frames.push_back(f);
            if (frames.size() > max_frames) fail("frame list", text, "more than " + std::to_string(max_frames) + " frames");
            if (range.last - f < range.step) break;
        }
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return frames;
}

Size parse_size(std::string_view text) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos) fail("size", text, "expected WIDTHxHEIGHT");
    const int64_t w = to_unsigned(text.substr(0, x), "size", text, "width");
    const int64_t h = to_unsigned(text.substr(x + 1), "size", text, "height");
    constexpr int64_t kMax = std::numeric_limits<int>::max();
    if (w < 1 || h < 1) fail("size", text, "width and height must be at least 1");
    if (w > kMax || h > kMax) fail("size", text, "width or height is too large");
    return {static_cast<int>(w), static_cast<int>(h)};
}

PF_Pixel8 parse_colour(std::string_view text) {
    int64_t c[4] = {};
    std::size_t pos = 0;
    const char* names[4] = {"red", "green", "blue", "alpha"};
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = text.find(',', pos);
        if ((i < 3) == (comma == std::string_view::npos)) {
            fail("colour", text, "expected four components R,G,B,A");
        }
        const std::string_view part =
            text.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
        c[i] = to_unsigned(part, "colour", text, names[i]);
        if (c[i] > 255) fail("colour", text, std::string(names[i]) + " is above 255");
        pos = comma + 1;
    }
    return PF_Pixel8{static_cast<A_u_char>(c[3]), static_cast<A_u_char>(c[0]),
                     static_cast<A_u_char>(c[1]), static_cast<A_u_char>(c[2])};
}

Ratio parse_downsample(std::string_view text) {
    const std::size_t slash = text.find('/');
    int64_t num = 1;
    int64_t den = 1;
    if (slash == std::string_view::npos) {
        den = to_unsigned(text, "downsample", text, "factor");
    } else {
        num = to_unsigned(text.substr(0, slash), "downsample", text, "numerator");
        den = to_unsigned(text.substr(slash + 1), "downsample", text, "denominator");
    }
    if (num < 1 || den < 1) fail("downsample", text, "factors must be positive integers");
    if (num > den) fail("downsample", text, "the factor must not exceed 1 (no enlarging)");
    const int64_t g = std::gcd(num, den);
    num /= g;
    den /= g;
    if (den > kMaxRatioTerm) {
        fail("downsample", text, "terms above " + std::to_string(kMaxRatioTerm) + " are not supported");
    }
    return {num, den};
}

}  // namespace cli
