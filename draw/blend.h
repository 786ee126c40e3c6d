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

#include "host/ae_sdk.h"

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

// Tables indexed by the "Color Blend Mode" popup value (1 Normal, 2 Tritone,
// 3 Add, 4 Multiply, 5 Screen, 6 Overlay, 7 Color Dodge, 8 Color Burn).
// Slot 0 is never chosen by the popup and holds Normal as well.
inline constexpr A_long blend_mode_slots = 9;

inline constexpr BlendOp8 blend_ops8[blend_mode_slots] = {
    blend_normal8,   blend_normal8,  blend_tritone8,     blend_add8,         blend_multiply8,
    blend_screen8,   blend_overlay8, blend_color_dodge8, blend_color_burn8,
};
inline constexpr BlendOp16 blend_ops16[blend_mode_slots] = {
    blend_normal16,  blend_normal16,  blend_tritone16,     blend_add16,         blend_multiply16,
    blend_screen16,  blend_overlay16, blend_color_dodge16, blend_color_burn16,
};
inline constexpr BlendOpFloat blend_ops_float[blend_mode_slots] = {
    blend_normal_float,  blend_normal_float,  blend_tritone_float,     blend_add_float,         blend_multiply_float,
    blend_screen_float,  blend_overlay_float, blend_color_dodge_float, blend_color_burn_float,
};

// Table lookups that never leave the table: a mode outside 0..8 (a damaged
// project) gets Normal.
constexpr bool blend_mode_in_table(A_long mode) noexcept { return mode >= 0 && mode < blend_mode_slots; }
constexpr BlendOp8 blend_op8(A_long mode) noexcept {
    return blend_mode_in_table(mode) ? blend_ops8[mode] : blend_normal8;
}
constexpr BlendOp16 blend_op16(A_long mode) noexcept {
    return blend_mode_in_table(mode) ? blend_ops16[mode] : blend_normal16;
}
constexpr BlendOpFloat blend_op_float(A_long mode) noexcept {
    return blend_mode_in_table(mode) ? blend_ops_float[mode] : blend_normal_float;
}

// The same lookup for code templated on the pixel type; blend_op<Pixel>(1) is
// the family's Normal operator.
template <typename Pixel>
constexpr BlendOp<Pixel> blend_op(A_long mode) noexcept;
template <>
constexpr BlendOp<PF_Pixel8> blend_op<PF_Pixel8>(A_long mode) noexcept {
    return blend_op8(mode);
}
template <>
constexpr BlendOp<PF_Pixel16> blend_op<PF_Pixel16>(A_long mode) noexcept {
    return blend_op16(mode);
}
template <>
constexpr BlendOp<PF_PixelFloat> blend_op<PF_PixelFloat>(A_long mode) noexcept {
    return blend_op_float(mode);
}
