// 8-bit blend operators. All arithmetic in signed 32-bit integers, which no
// 8-bit operand can overflow.
#include "draw/blend.h"

namespace {

constexpr A_long full = 255;

constexpr A_u_char clamp8(A_long v) noexcept { return static_cast<A_u_char>(v < 0 ? 0 : (v > full ? full : v)); }

// The colour pixel P (alpha Oα, colour channel(b, o) clamped), laid onto base
// through Normal: the common tail of every operator but Normal and Add.
template <typename Channel>
PF_Pixel8 lay_colour(PF_Pixel8 base, PF_Pixel8 over, Channel channel) noexcept {
    const PF_Pixel8 p{over.alpha, clamp8(channel(base.red, over.red)), clamp8(channel(base.green, over.green)),
                      clamp8(channel(base.blue, over.blue))};
    return blend_normal8(base, p);
}

}  // namespace

// Alpha compositing: t = ((256 − Oα)·Aα) >> 8, a = Oα + t, c = (o·Oα + b·t) / a.
PF_Pixel8 blend_normal8(PF_Pixel8 base, PF_Pixel8 over) noexcept {
    const A_long base_a = base.alpha;
    const A_long over_a = over.alpha;
    if (base_a == 0 || over_a == full) return over;
    if (over_a == 0) return base;
    const A_long t = ((256 - over_a) * base_a) >> 8;
    const A_long a = over_a + t;  // 1..255
    auto mix = [=](A_long b, A_long o) { return clamp8((o * over_a + b * t) / a); };
    return {static_cast<A_u_char>(a), mix(base.red, over.red), mix(base.green, over.green), mix(base.blue, over.blue)};
}

// Like Normal, but the base keeps its full alpha as weight: c = (o·Oα + b·Aα) / a.
PF_Pixel8 blend_add8(PF_Pixel8 base, PF_Pixel8 over) noexcept {
    const A_long base_a = base.alpha;
    const A_long over_a = over.alpha;
    if (base_a == 0) return over;
    if (over_a == 0) return base;
    const A_long t = ((256 - over_a) * base_a) >> 8;
    const A_long a = over_a + t;
    auto mix = [=](A_long b, A_long o) { return clamp8((o * over_a + b * base_a) / a); };
    return {static_cast<A_u_char>(a), mix(base.red, over.red), mix(base.green, over.green), mix(base.blue, over.blue)};
}

// Base luminance L onto a black–o–white ramp: L < 127: o·L / 127, else o + (L − 127)(255 − o) / 128.
PF_Pixel8 blend_tritone8(PF_Pixel8 base, PF_Pixel8 over) noexcept {
    // A transparent base is deliberately not short-cut: Normal then yields P.
    if (over.alpha == 0) return base;
    const A_long lum = (77 * A_long{base.red} + 151 * A_long{base.green} + 28 * A_long{base.blue}) >> 8;
    return lay_colour(base, over, [lum](A_long, A_long o) {
        return lum < 127 ? (o * lum) / 127 : o + ((lum - 127) * (full - o)) / 128;
    });
}

// b·o / 255.
PF_Pixel8 blend_multiply8(PF_Pixel8 base, PF_Pixel8 over) noexcept {
    if (base.alpha == 0) return over;
    if (over.alpha == 0) return base;
    return lay_colour(base, over, [](A_long b, A_long o) { return (b * o) / full; });
}

// b + o − b·o / 255.
PF_Pixel8 blend_screen8(PF_Pixel8 base, PF_Pixel8 over) noexcept {
    if (base.alpha == 0) return over;
    if (over.alpha == 0) return base;
    return lay_colour(base, over, [](A_long b, A_long o) { return b + o - (b * o) / full; });
}

// b < 128: 2·b·o / 255; else 2(b + o − b·o / 255) − 255.
PF_Pixel8 blend_overlay8(PF_Pixel8 base, PF_Pixel8 over) noexcept {
    if (base.alpha == 0) return over;
    if (over.alpha == 0) return base;
    return lay_colour(base, over, [](A_long b, A_long o) {
        return b < 128 ? (2 * b * o) / full : 2 * (b + o - (b * o) / full) - full;
    });
}

// o = 255: 255; else b·255 / (255 − o).
PF_Pixel8 blend_color_dodge8(PF_Pixel8 base, PF_Pixel8 over) noexcept {
    if (base.alpha == 0) return over;
    if (over.alpha == 0) return base;
    return lay_colour(base, over, [](A_long b, A_long o) { return o == full ? full : (b * full) / (full - o); });
}

// o = 0: 0; else 255 − (255 − b)·255 / o.
PF_Pixel8 blend_color_burn8(PF_Pixel8 base, PF_Pixel8 over) noexcept {
    if (base.alpha == 0) return over;
    if (over.alpha == 0) return base;
    return lay_colour(base, over, [](A_long b, A_long o) { return o == 0 ? 0 : full - ((full - b) * full) / o; });
}
