// 16-bit blend operators, full scale 32768.
//
// Colour arithmetic runs in 64 bits: for channels within 0..32768 every
// intermediate fits 32 bits and the results are those of 32-bit arithmetic,
// but a damaged world may hold values up to 65535, whose products would
// overflow a signed 32-bit integer.
#include "draw/blend.h"

namespace {

constexpr A_long full = 32768;
using Wide = A_longlong;

constexpr A_u_short clamp16(Wide v) noexcept { return static_cast<A_u_short>(v < 0 ? 0 : (v > full ? full : v)); }

template <typename Channel>
PF_Pixel16 lay_colour(PF_Pixel16 base, PF_Pixel16 over, Channel channel) noexcept {
    const PF_Pixel16 p{over.alpha, clamp16(channel(base.red, over.red)), clamp16(channel(base.green, over.green)),
                       clamp16(channel(base.blue, over.blue))};
    return blend_normal16(base, p);
}

// Base weight of Normal and Add, ((32768 − Oα)·Aα) >> 15. Fits 32 bits for
// any 16-bit operands, and Oα + t stays within 1..65535 even when Oα > 32768.
constexpr A_long base_weight(A_long base_a, A_long over_a) noexcept { return ((full - over_a) * base_a) >> 15; }

}  // namespace

// t = ((32768 − Oα)·Aα) >> 15, a = Oα + t, c = (o·Oα + b·t) / a with an unsigned 32-bit numerator.
PF_Pixel16 blend_normal16(PF_Pixel16 base, PF_Pixel16 over) noexcept {
    const A_long base_a = base.alpha;
    const A_long over_a = over.alpha;
    if (base_a == 0 || over_a == full) return over;
    if (over_a == 0) return base;
    const A_long t = base_weight(base_a, over_a);
    const A_long a = over_a + t;
    // t < 0 only for an out-of-range Oα; the unsigned numerator then wraps, which is defined.
    auto mix = [=](A_u_long b, A_u_long o) {
        return clamp16((o * A_u_long(over_a) + b * A_u_long(t)) / A_u_long(a));
    };
    return {static_cast<A_u_short>(a), mix(base.red, over.red), mix(base.green, over.green),
            mix(base.blue, over.blue)};
}

// c = (o·Oα + b·Aα) / a; the numerator reaches 2^31 for white on white, hence unsigned.
PF_Pixel16 blend_add16(PF_Pixel16 base, PF_Pixel16 over) noexcept {
    const A_long base_a = base.alpha;
    const A_long over_a = over.alpha;
    if (base_a == 0) return over;
    if (over_a == 0) return base;
    const A_long a = over_a + base_weight(base_a, over_a);
    auto mix = [=](A_u_long b, A_u_long o) {
        return clamp16((o * A_u_long(over_a) + b * A_u_long(base_a)) / A_u_long(a));
    };
    return {static_cast<A_u_short>(a), mix(base.red, over.red), mix(base.green, over.green),
            mix(base.blue, over.blue)};
}

// L = (19222r + 32768g + 9795b) >> 16 (at most 30892); L < 16383: o·L / 16383,
// else o + (L − 16383)(32768 − o) / 16384.
PF_Pixel16 blend_tritone16(PF_Pixel16 base, PF_Pixel16 over) noexcept {
    if (over.alpha == 0) return base;
    const Wide lum = (19222 * Wide{base.red} + 32768 * Wide{base.green} + 9795 * Wide{base.blue}) >> 16;
    return lay_colour(base, over, [lum](Wide, Wide o) {
        return lum < 16383 ? (o * lum) / 16383 : o + ((lum - 16383) * (full - o)) / 16384;
    });
}

// b·o / 32768.
PF_Pixel16 blend_multiply16(PF_Pixel16 base, PF_Pixel16 over) noexcept {
    if (base.alpha == 0) return over;
    if (over.alpha == 0) return base;
    return lay_colour(base, over, [](Wide b, Wide o) { return (b * o) / full; });
}

// b + o − b·o / 32768.
PF_Pixel16 blend_screen16(PF_Pixel16 base, PF_Pixel16 over) noexcept {
    if (base.alpha == 0) return over;
    if (over.alpha == 0) return base;
    return lay_colour(base, over, [](Wide b, Wide o) { return b + o - (b * o) / full; });
}

// b < 16384: 2·b·o / 32768; else 2(b + o − b·o / 32768) − 32768.
PF_Pixel16 blend_overlay16(PF_Pixel16 base, PF_Pixel16 over) noexcept {
    if (base.alpha == 0) return over;
    if (over.alpha == 0) return base;
    return lay_colour(base, over, [](Wide b, Wide o) {
        return b < 16384 ? (2 * b * o) / full : 2 * (b + o - (b * o) / full) - full;
    });
}

// o = 32768: 32768; else b·32768 / (32768 − o).
PF_Pixel16 blend_color_dodge16(PF_Pixel16 base, PF_Pixel16 over) noexcept {
    if (base.alpha == 0) return over;
    if (over.alpha == 0) return base;
    // An out-of-range o > 32768 makes the divisor negative, never zero.
    return lay_colour(base, over, [](Wide b, Wide o) { return o == full ? Wide{full} : (b * full) / (full - o); });
}

// o = 0: 0; else 32768 − (32768 − b)·32768 / o.
PF_Pixel16 blend_color_burn16(PF_Pixel16 base, PF_Pixel16 over) noexcept {
    if (base.alpha == 0) return over;
    if (over.alpha == 0) return base;
    return lay_colour(base, over, [](Wide b, Wide o) { return o == 0 ? Wide{0} : full - ((full - b) * full) / o; });
}
