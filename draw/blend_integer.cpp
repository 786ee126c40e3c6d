// The 8- and 16-bit blend operators: one set of formulas, the constants of
// each depth beside each other. Every operation is exact integer arithmetic
// with truncating division; colours are clamped to [0, full].
//
// 16-bit colour arithmetic runs in 64 bits: for channels within 0..32768
// every intermediate fits 32 bits and the results are those of 32-bit
// arithmetic, but a damaged world may hold values up to 65535, whose
// products would overflow a signed 32-bit integer. No 8-bit operand can
// overflow 32 bits.
#include "draw/blend.h"

namespace {

template <typename Pixel>
struct IntegerDepth;

template <>
struct IntegerDepth<PF_Pixel8> {
    using Channel = A_u_char;
    using Wide = A_long;
    static constexpr Wide full = 255;
    // Normal's base weight ((one − Oα)·Aα) >> shift.
    static constexpr A_long weight_one = 256;
    static constexpr int weight_shift = 8;
    // Tritone's luminance (r·R + g·G + b·B) >> lum_shift, and the middle of its
    // black–o–white ramp.
    static constexpr Wide lum_red = 77, lum_green = 151, lum_blue = 28;
    static constexpr int lum_shift = 8;
    static constexpr Wide ramp_low = 127, ramp_high = 128;
    // Overlay's switch from multiply to screen.
    static constexpr Wide overlay_half = 128;
};

template <>
struct IntegerDepth<PF_Pixel16> {
    using Channel = A_u_short;
    using Wide = A_longlong;
    static constexpr Wide full = 32768;
    static constexpr A_long weight_one = 32768;
    static constexpr int weight_shift = 15;
    static constexpr Wide lum_red = 19222, lum_green = 32768, lum_blue = 9795;
    static constexpr int lum_shift = 16;
    static constexpr Wide ramp_low = 16383, ramp_high = 16384;
    static constexpr Wide overlay_half = 16384;
};

template <typename Pixel>
struct IntegerBlend {
    using D = IntegerDepth<Pixel>;
    using Channel = typename D::Channel;
    using Wide = typename D::Wide;
    static constexpr Wide full = D::full;

    template <typename V>
    static constexpr Channel clamp(V v) noexcept {
        return static_cast<Channel>(v < 0 ? 0 : (v > V(full) ? V(full) : v));
    }

    // The base weight of Normal and Add. Fits 32 bits for any 16-bit
    // operands, and Oα + t stays within 1..65535 even when Oα > 32768.
    static constexpr A_long base_weight(A_long base_a, A_long over_a) noexcept {
        return ((D::weight_one - over_a) * base_a) >> D::weight_shift;
    }

    // c = (o·Oα + b·w) / a with an unsigned 32-bit numerator: it reaches 2^31
    // for 16-bit white on white. w < 0 only for an out-of-range 16-bit Oα;
    // the numerator then wraps, which is defined.
    static Pixel composite(Pixel base, Pixel over, A_long a, A_long w) noexcept {
        const A_long over_a = over.alpha;
        auto mix = [=](A_u_long b, A_u_long o) {
            return clamp(A_longlong{(o * A_u_long(over_a) + b * A_u_long(w)) / A_u_long(a)});
        };
        return {static_cast<Channel>(a), mix(base.red, over.red), mix(base.green, over.green),
                mix(base.blue, over.blue)};
    }

    // t = base weight, a = Oα + t, c = (o·Oα + b·t) / a.
    static Pixel normal(Pixel base, Pixel over) noexcept {
        const A_long base_a = base.alpha;
        const A_long over_a = over.alpha;
        if (base_a == 0 || over_a == full) return over;
        if (over_a == 0) return base;
        const A_long t = base_weight(base_a, over_a);
        return composite(base, over, over_a + t, t);
    }

    // Like Normal, but the base keeps its full alpha as weight: c = (o·Oα + b·Aα) / a.
    static Pixel add(Pixel base, Pixel over) noexcept {
        const A_long base_a = base.alpha;
        const A_long over_a = over.alpha;
        if (base_a == 0) return over;
        if (over_a == 0) return base;
        return composite(base, over, over_a + base_weight(base_a, over_a), base_a);
    }

    // The colour pixel P (alpha Oα, colour channel(b, o) clamped), laid onto
    // base through Normal: the common tail of every operator but Normal and Add.
    template <typename Channelwise>
    static Pixel lay_colour(Pixel base, Pixel over, Channelwise channel) noexcept {
        const Pixel p{over.alpha, clamp(channel(Wide{base.red}, Wide{over.red})),
                      clamp(channel(Wide{base.green}, Wide{over.green})),
                      clamp(channel(Wide{base.blue}, Wide{over.blue}))};
        return normal(base, p);
    }

    // Base luminance L onto a black–o–white ramp: L < low: o·L / low, else
    // o + (L − low)(full − o) / high.
    static Pixel tritone(Pixel base, Pixel over) noexcept {
        // A transparent base is deliberately not short-cut: Normal then yields P.
        if (over.alpha == 0) return base;
        const Wide lum =
            (D::lum_red * Wide{base.red} + D::lum_green * Wide{base.green} + D::lum_blue * Wide{base.blue}) >>
            D::lum_shift;
        return lay_colour(base, over, [lum](Wide, Wide o) {
            return lum < D::ramp_low ? (o * lum) / D::ramp_low : o + ((lum - D::ramp_low) * (full - o)) / D::ramp_high;
        });
    }

    // The operators below pass a transparent base's over, and a transparent
    // over's base, through unchanged.
    template <typename Channelwise>
    static Pixel separable(Pixel base, Pixel over, Channelwise channel) noexcept {
        if (base.alpha == 0) return over;
        if (over.alpha == 0) return base;
        return lay_colour(base, over, channel);
    }

    // b·o / full.
    static Pixel multiply(Pixel base, Pixel over) noexcept {
        return separable(base, over, [](Wide b, Wide o) { return (b * o) / full; });
    }

    // b + o − b·o / full.
    static Pixel screen(Pixel base, Pixel over) noexcept {
        return separable(base, over, [](Wide b, Wide o) { return b + o - (b * o) / full; });
    }

    // b < half: 2·b·o / full; else 2(b + o − b·o / full) − full.
    static Pixel overlay(Pixel base, Pixel over) noexcept {
        return separable(base, over, [](Wide b, Wide o) {
            return b < D::overlay_half ? (2 * b * o) / full : 2 * (b + o - (b * o) / full) - full;
        });
    }

    // o = full: full; else b·full / (full − o). An out-of-range 16-bit o makes
    // the divisor negative, never zero.
    static Pixel color_dodge(Pixel base, Pixel over) noexcept {
        return separable(base, over, [](Wide b, Wide o) { return o == full ? full : (b * full) / (full - o); });
    }

    // o = 0: 0; else full − (full − b)·full / o.
    static Pixel color_burn(Pixel base, Pixel over) noexcept {
        return separable(base, over, [](Wide b, Wide o) { return o == 0 ? Wide{0} : full - ((full - b) * full) / o; });
    }
};

using Blend8 = IntegerBlend<PF_Pixel8>;
using Blend16 = IntegerBlend<PF_Pixel16>;

}  // namespace

PF_Pixel8 blend_normal8(PF_Pixel8 base, PF_Pixel8 over) noexcept { return Blend8::normal(base, over); }
PF_Pixel8 blend_tritone8(PF_Pixel8 base, PF_Pixel8 over) noexcept { return Blend8::tritone(base, over); }
PF_Pixel8 blend_add8(PF_Pixel8 base, PF_Pixel8 over) noexcept { return Blend8::add(base, over); }
PF_Pixel8 blend_multiply8(PF_Pixel8 base, PF_Pixel8 over) noexcept { return Blend8::multiply(base, over); }
PF_Pixel8 blend_screen8(PF_Pixel8 base, PF_Pixel8 over) noexcept { return Blend8::screen(base, over); }
PF_Pixel8 blend_overlay8(PF_Pixel8 base, PF_Pixel8 over) noexcept { return Blend8::overlay(base, over); }
PF_Pixel8 blend_color_dodge8(PF_Pixel8 base, PF_Pixel8 over) noexcept { return Blend8::color_dodge(base, over); }
PF_Pixel8 blend_color_burn8(PF_Pixel8 base, PF_Pixel8 over) noexcept { return Blend8::color_burn(base, over); }

PF_Pixel16 blend_normal16(PF_Pixel16 base, PF_Pixel16 over) noexcept { return Blend16::normal(base, over); }
PF_Pixel16 blend_tritone16(PF_Pixel16 base, PF_Pixel16 over) noexcept { return Blend16::tritone(base, over); }
PF_Pixel16 blend_add16(PF_Pixel16 base, PF_Pixel16 over) noexcept { return Blend16::add(base, over); }
PF_Pixel16 blend_multiply16(PF_Pixel16 base, PF_Pixel16 over) noexcept { return Blend16::multiply(base, over); }
PF_Pixel16 blend_screen16(PF_Pixel16 base, PF_Pixel16 over) noexcept { return Blend16::screen(base, over); }
PF_Pixel16 blend_overlay16(PF_Pixel16 base, PF_Pixel16 over) noexcept { return Blend16::overlay(base, over); }
PF_Pixel16 blend_color_dodge16(PF_Pixel16 base, PF_Pixel16 over) noexcept {
    return Blend16::color_dodge(base, over);
}
PF_Pixel16 blend_color_burn16(PF_Pixel16 base, PF_Pixel16 over) noexcept { return Blend16::color_burn(base, over); }
