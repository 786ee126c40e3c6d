// The effect's named vocabularies: each enum holds the values that the popups
// and the records store, and one names table per enum gives the popup's
// choice string and the names that tests and messages print. A name is
// changed here or nowhere.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "host/ae_sdk.h"

// "Color Blend Mode", by popup value.
enum class BlendMode : A_long {
    Normal = 1,
    Tritone = 2,
    Add = 3,
    Multiply = 4,
    Screen = 5,
    Overlay = 6,
    ColorDodge = 7,
    ColorBurn = 8,
};

// "Mode": how "Time" reveals the strokes, by popup value.
enum class RevealMode : A_long {
    Continuous = 1,  // by stroke length, the partly shown stroke shortened
    Discrete1 = 2,   // by stroke length, whole strokes
    Discrete2 = 3,   // by stroke count
};

// The side of its sample point a stroke was placed on. Rows grow downwards,
// so Top is towards -y.
enum class StrokeSide : A_long {
    None = 0,
    Left = 1,    // -x
    Top = 2,     // -y
    Right = 3,   // +x
    Bottom = 4,  // +y
};

// How the Layer image is turned in a stroke, in quarter turns.
enum class Orientation : A_long {
    Upright = 1,
    QuarterTurn = 2,
    HalfTurn = 3,
    ThreeQuarterTurn = 4,
};

template <class E>
struct Names;

// names[i] belongs to the value first + i.
template <>
struct Names<BlendMode> {
    static constexpr A_long first = 1;
    static constexpr std::array<std::string_view, 8> names = {
        "Normal", "Tritone", "Add", "Multiply", "Screen", "Overlay", "Color Dodge", "Color Burn"};
};
template <>
struct Names<RevealMode> {
    static constexpr A_long first = 1;
    static constexpr std::array<std::string_view, 3> names = {"Continuous", "Discrete 1", "Discrete 2"};
};
template <>
struct Names<StrokeSide> {
    static constexpr A_long first = 0;
    static constexpr std::array<std::string_view, 5> names = {"none", "left", "top", "right", "bottom"};
};
template <>
struct Names<Orientation> {
    static constexpr A_long first = 1;
    static constexpr std::array<std::string_view, 4> names = {"upright", "quarter turn", "half turn",
                                                              "three-quarter turn"};
};

template <class E>
inline constexpr A_short name_count = static_cast<A_short>(Names<E>::names.size());

template <class E>
constexpr bool is_named(E value) noexcept {
    const A_long v = static_cast<A_long>(value);
    return v >= Names<E>::first && v - Names<E>::first < name_count<E>;
}

// "" for a value without a name (a damaged record).
template <class E>
constexpr std::string_view name_of(E value) noexcept {
    if (!is_named(value)) return {};
    return Names<E>::names[static_cast<std::size_t>(static_cast<A_long>(value) - Names<E>::first)];
}

namespace names_detail {
template <class E>
constexpr std::size_t choices_size() {
    std::size_t n = 0;
    for (std::string_view name : Names<E>::names) n += name.size() + 1;  // a '|' or the terminator
    return n;
}
template <class E>
constexpr std::array<char, choices_size<E>()> join_choices() {
    std::array<char, choices_size<E>()> text{};
    std::size_t at = 0;
    for (std::string_view name : Names<E>::names) {
        if (at != 0) text[at++] = '|';
        for (char c : name) text[at++] = c;
    }
    text[at] = '\0';
    return text;
}
template <class E>
inline constexpr auto choices = join_choices<E>();
}  // namespace names_detail

// A popup's choice string, "First|Second|...", NUL-terminated; its address
// is constant, so the host may keep it.
template <class E>
constexpr const char* popup_choices() noexcept {
    return names_detail::choices<E>.data();
}
