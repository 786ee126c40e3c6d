// The command line's value parsers on arbitrary text: each either returns a
// value that keeps its documented promises or throws ValueError with a
// message; nothing else may escape.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <limits>
#include <numeric>
#include <string>
#include <string_view>

#include "footage/keyframes.h"
#include "fuzz/fuzz_support.h"

namespace trellis_fuzz::keyframes {
namespace {

constexpr std::string_view kName = "fuzz_keyframes";

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

void check_keyframes(const cli::Keyframes& k) {
    if (k.keys.empty()) {
        fail(kName, "keyframes parsed without any key");
    }
    if (!k.animated && (k.keys.size() != 1 || k.keys.front().first != 0)) {
        fail(kName, "a plain number that is not one key at frame 0");
    }
    for (std::size_t i = 0; i < k.keys.size(); ++i) {
        const auto& [frame, value] = k.keys[i];
        if (frame < 0 || !std::isfinite(value)) {
            fail(kName, "key " + std::to_string(i) + " has a negative frame or a value that is not finite");
        }
        if (i > 0 && k.keys[i - 1].first >= frame) {
            fail(kName, "keys not in strictly increasing frame order");
        }
    }
    // Held outside the keys, linear between them: never beyond its neighbours.
    if (k.at(std::numeric_limits<std::int64_t>::min()) != k.keys.front().second ||
        k.at(std::numeric_limits<std::int64_t>::max()) != k.keys.back().second) {
        fail(kName, "values before the first or after the last key are not held");
    }
    for (std::size_t i = 0; i + 1 < k.keys.size() && i < 64; ++i) {
        const auto& [f0, v0] = k.keys[i];
        const auto& [f1, v1] = k.keys[i + 1];
        const std::int64_t middle = f0 + (f1 - f0) / 2;
        const double v = k.at(middle);
        // Rounding may take a linear blend a hair past its ends, no further.
        const double slack = 1e-12 * std::max(std::fabs(v0), std::fabs(v1));
        if (!std::isfinite(v) || v < std::min(v0, v1) - slack || v > std::max(v0, v1) + slack) {
            fail(kName, "value " + number(v) + " at frame " + std::to_string(middle) +
                            " lies outside its neighbouring keys " + number(v0) + " and " + number(v1));
        }
    }
}

void check(std::uint8_t which, std::string_view text) {
    switch (which % 6) {
    case 0:
        check_keyframes(cli::parse_keyframes(text));
        break;
    case 1:
        if (!std::isfinite(cli::parse_number(text))) {
            fail(kName, "parse_number gave a number that is not finite");
        }
        break;
    case 2: {
        const cli::FrameRange range = cli::parse_frame_range(text);
        if (range.first < 0 || range.last < range.first) {
            fail(kName, "frame range " + std::to_string(range.first) + "-" + std::to_string(range.last));
        }
        break;
    }
    case 3: {
        const cli::Size size = cli::parse_size(text);
        if (size.width < 1 || size.height < 1) {
            fail(kName, "size " + std::to_string(size.width) + "x" + std::to_string(size.height));
        }
        break;
    }
    case 4:
        cli::parse_colour(text);
        break;
    default: {
        const cli::Ratio ratio = cli::parse_downsample(text);
        if (ratio.num < 1 || ratio.den < ratio.num || ratio.den > cli::kMaxRatioTerm ||
            std::gcd(ratio.num, ratio.den) != 1) {
            fail(kName, "downsample " + std::to_string(ratio.num) + "/" + std::to_string(ratio.den));
        }
        break;
    }
    }
}

}  // namespace

// First byte: which parser; the rest: its text.
int fuzz_one(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        check(data[0], text);
        trace("parsed");
    } catch (const cli::ValueError& e) {
        trace("refused: %s", e.what());
        if (std::string_view(e.what()).empty()) {
            fail(kName, "a ValueError without a message");
        }
    } catch (const std::exception& e) {
        fail(kName, std::string("escaped with something other than ValueError: ") + e.what());
    }
    return 0;
}

}  // namespace trellis_fuzz::keyframes
