// 32-bit float blend operators, full scale 1.0.
//
// Arithmetic is double; each named quantity (t, a, a channel's numerator and
// quotient, L, each colour of P) is rounded to float where it is stored, so
// results are reproducible to the bit. Tests against 0, 0.5 and 1 are exact.
#include "draw/blend.h"

#include <limits>

// Double results beyond float range must round to infinity, as IEEE does.
static_assert(std::numeric_limits<float>::is_iec559);

namespace {

using Pixel = PF_PixelFloat;

constexpr float stored(double v) noexcept { return static_cast<float>(v); }

constexpr float clamp_unit(float v) noexcept { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }
constexpr float cap_one(float v) noexcept { return v > 1.0f ? 1.0f : v; }

// Colour channels limited, alpha untouched.
constexpr Pixel clamp_colour_unit(Pixel p) noexcept {
    return {p.alpha, clamp_unit(p.red), clamp_unit(p.green), clamp_unit(p.blue)};
}
constexpr Pixel cap_colour_one(Pixel p) noexcept { return {p.alpha, cap_one(p.red), cap_one(p.green), cap_one(p.blue)}; }

template <typename Channel>
Pixel lay_colour(Pixel base, Pixel over, Channel channel) noexcept {
    const Pixel p{over.alpha, stored(channel(base.red, over.red)), stored(channel(base.green, over.green)),
                  stored(channel(base.blue, over.blue))};
    return blend_normal_float(base, p);
}

// Normal and Add share everything but the base weight of the channels.
Pixel composite(Pixel base, Pixel over, bool add) noexcept {
    const double over_a = over.alpha;
    const float t = stored((1.0 - over_a) * static_cast<double>(base.alpha));
    const float a = cap_one(stored(over_a + static_cast<double>(t)));
    if (a <= 0.0f) return {0.0f, 0.0f, 0.0f, 0.0f};
    const double base_weight = add ? base.alpha : t;
    auto mix = [=](double b, double o) {
        const float numerator = stored(o * over_a + b * base_weight);
        return stored(static_cast<double>(numerator) / static_cast<double>(a));
    };
    return {a, mix(base.red, over.red), mix(base.green, over.green), mix(base.blue, over.blue)};
}

// The luminance weights are the floats nearest 0.299, 0.587, 0.114, used in double.
constexpr double lum_red = 0.299f;
constexpr double lum_green = 0.587f;
constexpr double lum_blue = 0.114f;
static_assert(lum_red == 0.29899999499320984 && lum_green == 0.5870000123977661 && lum_blue == 0.11400000005960464);

}  // namespace

// t = (1 − Oα)·Aα, a = min(Oα + t, 1), c = (o·Oα + b·t) / a, unclamped; a ≤ 0 gives the zero pixel.
Pixel blend_normal_float(Pixel base, Pixel over) noexcept {
    if (base.alpha == 0.0f || over.alpha == 1.0f) return over;
    if (over.alpha == 0.0f) return base;
    return composite(base, over, false);
}

// As Normal with the base weighted by its full alpha: c = (o·Oα + b·Aα) / a.
Pixel blend_add_float(Pixel base, Pixel over) noexcept {
    if (base.alpha == 0.0f) return over;
    if (over.alpha == 0.0f) return base;
    return composite(base, over, true);
}

// Colours clamped to [0, 1]; L = 0.299r + 0.587g + 0.114b; L < 0.5: 2·o·L, else o + 2(1 − o)(L − 0.5).
Pixel blend_tritone_float(Pixel base, Pixel over) noexcept {
    if (over.alpha == 0.0f) return base;
    const Pixel b = clamp_colour_unit(base);
    const Pixel o = clamp_colour_unit(over);
    const float lum = stored(lum_red * b.red + lum_green * b.green + lum_blue * b.blue);
    return lay_colour(b, o, [lum](double, double oc) {
        return lum < 0.5f ? 2.0 * oc * lum : oc + 2.0 * (1.0 - oc) * (static_cast<double>(lum) - 0.5);
    });
}

// b·o.
Pixel blend_multiply_float(Pixel base, Pixel over) noexcept {
    if (base.alpha == 0.0f) return over;
    if (over.alpha == 0.0f) return base;
    return lay_colour(base, over, [](double b, double o) { return b * o; });
}

// 1 − (1 − b)(1 − o).
Pixel blend_screen_float(Pixel base, Pixel over) noexcept {
    if (base.alpha == 0.0f) return over;
    if (over.alpha == 0.0f) return base;
    return lay_colour(base, over, [](double b, double o) { return 1.0 - (1.0 - b) * (1.0 - o); });
}

// b < 0.5: 2·b·o; else 1 − 2(1 − b)(1 − o).
Pixel blend_overlay_float(Pixel base, Pixel over) noexcept {
    if (base.alpha == 0.0f) return over;
    if (over.alpha == 0.0f) return base;
    return lay_colour(base, over,
                      [](double b, double o) { return b < 0.5 ? 2.0 * b * o : 1.0 - 2.0 * (1.0 - b) * (1.0 - o); });
}

// Colours capped at 1 (no lower bound); o = 1: 1; else b / (1 − o).
Pixel blend_color_dodge_float(Pixel base, Pixel over) noexcept {
    if (base.alpha == 0.0f) return over;
    if (over.alpha == 0.0f) return base;
    return lay_colour(cap_colour_one(base), cap_colour_one(over),
                      [](double b, double o) { return o == 1.0 ? 1.0 : b / (1.0 - o); });
}

// Colours capped at 1 (no lower bound); o = 0: 0; else 1 − (1 − b) / o.
Pixel blend_color_burn_float(Pixel base, Pixel over) noexcept {
    if (base.alpha == 0.0f) return over;
    if (over.alpha == 0.0f) return base;
    return lay_colour(cap_colour_one(base), cap_colour_one(over),
                      [](double b, double o) { return o == 0.0 ? 0.0 : 1.0 - (1.0 - b) / o; });
}
