// Per-pixel blend operators, one family per pixel depth.
//
// Every operator is op(base, over) -> pixel: `over` is laid onto `base` by the
// operator's rule, over's alpha being the strength. Pixels are straight ARGB
// (not premultiplied); full scale is 255, 32768 or 1.0. Pure functions: no
// state, no host calls, no failure; safe on any thread.
//
// The integer families are exact integer arithmetic (truncating division,
// results clamped to [0, full]). The float family computes in double and
// rounds every named intermediate to float; its results are not clamped
// except where an operator says so.
#pragma once

#include <type_traits>

#include "host/ae_sdk.h"
#include "params/names.h"

template <typename Pixel>
using BlendOp = Pixel (*)(Pixel base, Pixel over) noexcept;
using BlendOp8 = BlendOp<PF_Pixel8>;
using BlendOp16 = BlendOp<PF_Pixel16>;
using BlendOpFloat = BlendOp<PF_PixelFloat>;

// 8 bits, full 255.
PF_Pixel8 blend_normal8(PF_Pixel8 base, PF_Pixel8 over) noexcept;
PF_Pixel8 blend_tritone8(PF_Pixel8 base, PF_Pixel8 over) noexcept;
PF_Pixel8 blend_add8(PF_Pixel8 base, PF_Pixel8 over) noexcept;
PF_Pixel8 blend_multiply8(PF_Pixel8 base, PF_Pixel8 over) noexcept;
PF_Pixel8 blend_screen8(PF_Pixel8 base, PF_Pixel8 over) noexcept;
PF_Pixel8 blend_overlay8(PF_Pixel8 base, PF_Pixel8 over) noexcept;
PF_Pixel8 blend_color_dodge8(PF_Pixel8 base, PF_Pixel8 over) noexcept;
PF_Pixel8 blend_color_burn8(PF_Pixel8 base, PF_Pixel8 over) noexcept;

// 16 bits, full 32768. Channels above 32768 (never produced by the host) give
// defined, clamped results rather than overflow.
PF_Pixel16 blend_normal16(PF_Pixel16 base, PF_Pixel16 over) noexcept;
PF_Pixel16 blend_tritone16(PF_Pixel16 base, PF_Pixel16 over) noexcept;
PF_Pixel16 blend_add16(PF_Pixel16 base, PF_Pixel16 over) noexcept;
PF_Pixel16 blend_multiply16(PF_Pixel16 base, PF_Pixel16 over) noexcept;
PF_Pixel16 blend_screen16(PF_Pixel16 base, PF_Pixel16 over) noexcept;
PF_Pixel16 blend_overlay16(PF_Pixel16 base, PF_Pixel16 over) noexcept;
PF_Pixel16 blend_color_dodge16(PF_Pixel16 base, PF_Pixel16 over) noexcept;
PF_Pixel16 blend_color_burn16(PF_Pixel16 base, PF_Pixel16 over) noexcept;

// 32-bit float, full 1.0. Colour may lie outside [0, 1].
PF_PixelFloat blend_normal_float(PF_PixelFloat base, PF_PixelFloat over) noexcept;
PF_PixelFloat blend_tritone_float(PF_PixelFloat base, PF_PixelFloat over) noexcept;
PF_PixelFloat blend_add_float(PF_PixelFloat base, PF_PixelFloat over) noexcept;
PF_PixelFloat blend_multiply_float(PF_PixelFloat base, PF_PixelFloat over) noexcept;
PF_PixelFloat blend_screen_float(PF_PixelFloat base, PF_PixelFloat over) noexcept;
PF_PixelFloat blend_overlay_float(PF_PixelFloat base, PF_PixelFloat over) noexcept;
PF_PixelFloat blend_color_dodge_float(PF_PixelFloat base, PF_PixelFloat over) noexcept;
PF_PixelFloat blend_color_burn_float(PF_PixelFloat base, PF_PixelFloat over) noexcept;

// One family's operators, by name.
template <typename Pixel>
struct BlendFamily {
    BlendOp<Pixel> normal, tritone, add, multiply, screen, overlay, color_dodge, color_burn;
};

inline constexpr BlendFamily<PF_Pixel8> blend_family8{
    .normal = blend_normal8,
    .tritone = blend_tritone8,
    .add = blend_add8,
    .multiply = blend_multiply8,
    .screen = blend_screen8,
    .overlay = blend_overlay8,
    .color_dodge = blend_color_dodge8,
    .color_burn = blend_color_burn8,
};
inline constexpr BlendFamily<PF_Pixel16> blend_family16{
    .normal = blend_normal16,
    .tritone = blend_tritone16,
    .add = blend_add16,
    .multiply = blend_multiply16,
    .screen = blend_screen16,
    .overlay = blend_overlay16,
    .color_dodge = blend_color_dodge16,
    .color_burn = blend_color_burn16,
};
inline constexpr BlendFamily<PF_PixelFloat> blend_family_float{
    .normal = blend_normal_float,
    .tritone = blend_tritone_float,
    .add = blend_add_float,
    .multiply = blend_multiply_float,
    .screen = blend_screen_float,
    .overlay = blend_overlay_float,
    .color_dodge = blend_color_dodge_float,
    .color_burn = blend_color_burn_float,
};

template <typename Pixel>
constexpr const BlendFamily<Pixel>& blend_family() noexcept {
    if constexpr (std::is_same_v<Pixel, PF_Pixel8>) return blend_family8;
    else if constexpr (std::is_same_v<Pixel, PF_Pixel16>) return blend_family16;
    else return blend_family_float;
}

// The family's operator for a "Color Blend Mode" value; a value without a
// mode (a damaged project) gets Normal.
template <typename Pixel>
constexpr BlendOp<Pixel> blend_op(BlendMode mode) noexcept {
    const BlendFamily<Pixel>& f = blend_family<Pixel>();
    switch (mode) {
        case BlendMode::Normal: return f.normal;
        case BlendMode::Tritone: return f.tritone;
        case BlendMode::Add: return f.add;
        case BlendMode::Multiply: return f.multiply;
        case BlendMode::Screen: return f.screen;
        case BlendMode::Overlay: return f.overlay;
        case BlendMode::ColorDodge: return f.color_dodge;
        case BlendMode::ColorBurn: return f.color_burn;
    }
    return f.normal;
}
