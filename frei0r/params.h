// The effect's parameters as frei0r parameters: the one table that the
// plug-ins, their renderer and `trellis frei0r-params` share. Header only and
// free of the effect's code, so the plug-ins answer a host's questions
// without loading anything.
//
// Sliders are doubles in [0, 1] mapped linearly onto the slider's valid range
// in its raw units (16.16 for percent sliders, whole numbers otherwise), so
// every raw value the effect accepts is reachable, and a value printed with
// 17 significant digits maps back to the raw value it came from. Popups are
// strings: a choice's name, any case, or its number. Checkboxes are bools.
#pragma once

#include <array>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "params/names.h"
#include "params/params.h"

namespace frei0r_params {

enum class Kind { String, Double, Bool };

struct Param {
    ParamId id;
    const char* name;  // the name the effect declares, and MLT's name for it
    Kind kind;
    // Doubles: the valid range and the default in raw units. Popups: the
    // default choice's value. Bools: the default, 0 or 1.
    A_long raw_min;
    A_long raw_max;
    A_long raw_default;
    const char* explanation;  // frei0r's parameter explanation
};

constexpr A_long kPercent = 65536;

// In the order of the effect's parameters; the mixer leaves "Layer" out, its
// Layer being the second input.
constexpr Param kParams[] = {
    {PARAM_PATH, "Path", Kind::String, 0, 0, 0, "Mask: SVG path data, @FILE or @FILE.svg#ID"},
    {PARAM_LAYER, "Layer", Kind::String, 0, 0, 0, "Image file stamped along the mask"},
    {PARAM_MODE, "Mode", Kind::String, 0, 0, static_cast<A_long>(RevealMode::Continuous),
     "Reveal: Continuous, Discrete 1 or Discrete 2"},
    {PARAM_TIME, "Time", Kind::Double, 0, 100 * kPercent, 50 * kPercent, "Reveal progress, 0..1 = 0..100 %"},
    {PARAM_MAX_WIDTH, "Max Width", Kind::Double, 2, 5000, 300, "Largest stroke, 0..1 = 2..5000 pixels"},
    {PARAM_MIN_WIDTH, "Min Width", Kind::Double, 0, 100 * kPercent, 20 * kPercent,
     "Smallest stroke, 0..1 = 0..100 % of the largest"},
    {PARAM_VARIOUS_DIRECTIONS, "Various Directions", Kind::Bool, 0, 1, 0, "Turn strokes by random quarter turns"},
    {PARAM_BLEND_MODE, "Color Blend Mode", Kind::String, 0, 0, static_cast<A_long>(BlendMode::Screen),
     "Tint: Normal, Tritone, Add, Multiply, Screen, Overlay, Color Dodge or Color Burn"},
    {PARAM_OPACITY, "Color Opacity", Kind::Double, 0, 100 * kPercent, 100 * kPercent,
     "Tint strength, 0..1 = 0..100 %"},
    {PARAM_SEED, "Seed", Kind::Double, 0, 50000, 0, "Random layout, 0..1 = 0..50000"},
    {PARAM_ON_ORIGINAL, "On Original", Kind::Bool, 0, 1, 0, "Strokes over the input, not a transparent frame"},
};
static_assert(std::size(kParams) == PARAM_COUNT - 1);

// The parameters of one plug-in, by frei0r index.
constexpr int param_count(bool mixer) {
    return static_cast<int>(std::size(kParams)) - (mixer ? 1 : 0);
}
constexpr const Param* param_at(bool mixer, int index) {
    if (index < 0 || index >= param_count(mixer)) return nullptr;
    const int skip_layer = mixer && index >= PARAM_LAYER - 1 ? 1 : 0;
    return &kParams[index + skip_layer];
}
constexpr const Param& param_of(ParamId id) {
    return kParams[id - 1];
}

// A popup's choice names and their count; null for other parameters.
inline const std::string_view* choices_begin(ParamId id, std::size_t* count) {
    if (id == PARAM_MODE) {
        *count = Names<RevealMode>::names.size();
        return Names<RevealMode>::names.data();
    }
    if (id == PARAM_BLEND_MODE) {
        *count = Names<BlendMode>::names.size();
        return Names<BlendMode>::names.data();
    }
    *count = 0;
    return nullptr;
}

// A double from the host, clamped into [0, 1] (NaN gives 0), in raw units.
inline A_long raw_from_unit(const Param& p, double unit) {
    if (!(unit >= 0.0)) unit = 0.0;
    if (unit > 1.0) unit = 1.0;
    return p.raw_min + static_cast<A_long>(std::llround(unit * static_cast<double>(p.raw_max - p.raw_min)));
}
inline double unit_from_raw(const Param& p, A_long raw) {
    return static_cast<double>(raw - p.raw_min) / static_cast<double>(p.raw_max - p.raw_min);
}
inline A_long raw_from_bool(double value) {
    return value >= 0.5 ? 1 : 0;
}

// A popup's value from its text: a choice's name in any case (spaces, '-'
// or '_' between words), or its number. Nothing for other text.
inline std::optional<A_long> popup_value(ParamId id, std::string_view text) {
    std::size_t count = 0;
    const std::string_view* names = choices_begin(id, &count);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    if (text.empty() || names == nullptr) return std::nullopt;
    std::string key;
    for (char c : text) key += c == '-' || c == '_' ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::size_t i = 0; i < count; ++i) {
        std::string name;
        for (char c : names[i]) name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (key == name) return static_cast<A_long>(i + 1);
    }
    if (key.size() <= 2 && std::isdigit(static_cast<unsigned char>(key[0])) != 0 &&
        (key.size() == 1 || std::isdigit(static_cast<unsigned char>(key[1])) != 0)) {
        const A_long n = std::stol(key);
        if (n >= 1 && static_cast<std::size_t>(n) <= count) return n;
    }
    return std::nullopt;
}

}  // namespace frei0r_params
