// Exact-value tests of the blend operators at 8 bits, 16 bits and float.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "draw/blend.h"
#include "tests/support/pixels.h"

namespace {

template <typename Pixel>
struct Case {
    const char* what;
    BlendOp<Pixel> op;
    Pixel base, over, expected;
};

template <typename Pixel>
void expect_cases(const std::vector<Case<Pixel>>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.op(c.base, c.over), c.expected);
    }
}

// Every "Color Blend Mode" value, in popup order.
std::vector<BlendMode> all_modes() {
    std::vector<BlendMode> modes;
    for (A_long v = 1; v <= name_count<BlendMode>; ++v) modes.push_back(static_cast<BlendMode>(v));
    return modes;
}

std::string trace(BlendMode mode) { return std::string(name_of(mode)); }

// ---------------------------------------------------------------------------
// 8 bits
// ---------------------------------------------------------------------------

TEST(Blend8, WorkedExamples) {
    using P = PF_Pixel8;
    expect_cases<P>({
        {"normal over opaque black", blend_normal8, {255, 0, 0, 0}, {128, 255, 255, 255}, {255, 128, 128, 128}},
        {"normal partial alphas", blend_normal8, {128, 200, 100, 50}, {64, 10, 20, 30}, {160, 124, 68, 42}},
        {"add partial alphas", blend_add8, {128, 200, 100, 50}, {64, 10, 20, 30}, {160, 164, 88, 52}},
        {"normal onto transparent base", blend_normal8, {0, 1, 2, 3}, {10, 20, 30, 40}, {10, 20, 30, 40}},
        {"normal of opaque over", blend_normal8, {77, 1, 2, 3}, {255, 9, 8, 7}, {255, 9, 8, 7}},
        {"add saturates", blend_add8, {255, 100, 100, 100}, {128, 200, 200, 200}, {255, 200, 200, 200}},
        {"multiply", blend_multiply8, {255, 255, 128, 0}, {255, 100, 100, 100}, {255, 100, 50, 0}},
        {"screen", blend_screen8, {255, 128, 64, 0}, {255, 100, 100, 100}, {255, 178, 139, 100}},
        {"overlay 127 multiplies, 128 screens", blend_overlay8, {255, 127, 128, 255}, {255, 100, 100, 100},
         {255, 99, 101, 255}},
        {"color dodge", blend_color_dodge8, {255, 100, 100, 100}, {255, 0, 128, 255}, {255, 100, 200, 255}},
        {"color burn clamps -53 to 0", blend_color_burn8, {255, 100, 100, 100}, {255, 0, 128, 255}, {255, 0, 0, 100}},
    });
}

TEST(Blend8, TritoneRamp) {
    using P = PF_Pixel8;
    const P over{255, 40, 80, 120};
    expect_cases<P>({
        {"white", blend_tritone8, {255, 255, 255, 255}, over, {255, 255, 255, 255}},
        {"black", blend_tritone8, {255, 0, 0, 0}, over, {255, 0, 0, 0}},
        {"grey 127 gives the colour", blend_tritone8, {255, 127, 127, 127}, over, {255, 40, 80, 120}},
        {"grey 128 bright side", blend_tritone8, {255, 128, 128, 128}, over, {255, 41, 81, 121}},
        {"grey 64 dark side", blend_tritone8, {255, 64, 64, 64}, over, {255, 20, 40, 60}},
        {"grey 200 bright side divides by 128", blend_tritone8, {255, 200, 200, 200}, over, {255, 162, 179, 196}},
        // P = (128,20,40,60) laid onto the grey through Normal: t = 127, a = 255.
        {"partial over alpha ends in Normal", blend_tritone8, {255, 64, 64, 64}, {128, 40, 80, 120},
         {255, 41, 51, 61}},
        // Aα = 0 is not an early return: Normal hands back P itself.
        {"transparent base yields the ramp colour", blend_tritone8, {0, 255, 255, 255}, {128, 40, 80, 120},
         {128, 255, 255, 255}},
    });
}

TEST(Blend8, OpaqueBaseStaysOpaque) {
    for (A_long oa = 1; oa <= 255; ++oa) {
        const PF_Pixel8 r = blend_normal8({255, 10, 20, 30}, {static_cast<A_u_char>(oa), 200, 100, 0});
        ASSERT_EQ(r.alpha, 255) << "over alpha " << oa;
    }
}

// ---------------------------------------------------------------------------
// 16 bits
// ---------------------------------------------------------------------------

TEST(Blend16, WorkedExamples) {
    using P = PF_Pixel16;
    expect_cases<P>({
        {"normal over opaque black", blend_normal16, {32768, 0, 0, 0}, {16384, 32768, 32768, 32768},
         {32768, 16384, 16384, 16384}},
        {"normal partial alphas", blend_normal16, {16384, 20000, 10000, 5000}, {8192, 1000, 2000, 3000},
         {20480, 12400, 6800, 4200}},
        {"add partial alphas", blend_add16, {16384, 20000, 10000, 5000}, {8192, 1000, 2000, 3000},
         {20480, 16400, 8800, 5200}},
        // The numerator is 2^31 here: it must not be taken as a signed 32-bit value.
        {"add white on white", blend_add16, {32768, 32768, 32768, 32768}, {32768, 32768, 32768, 32768},
         {32768, 32768, 32768, 32768}},
        {"normal of opaque over", blend_normal16, {100, 1, 2, 3}, {32768, 9, 8, 7}, {32768, 9, 8, 7}},
        {"multiply", blend_multiply16, {32768, 32768, 16384, 0}, {32768, 10000, 10000, 10000},
         {32768, 10000, 5000, 0}},
        {"screen", blend_screen16, {32768, 32768, 16384, 0}, {32768, 10000, 10000, 10000},
         {32768, 32768, 21384, 10000}},
        {"overlay 16383 multiplies, 16384 screens", blend_overlay16, {32768, 16383, 16384, 32768},
         {32768, 10000, 10000, 10000}, {32768, 9999, 10000, 32768}},
        {"color dodge", blend_color_dodge16, {32768, 10000, 10000, 10000}, {32768, 0, 16384, 32768},
         {32768, 10000, 20000, 32768}},
        {"color burn", blend_color_burn16, {32768, 10000, 10000, 10000}, {32768, 0, 16384, 32768},
         {32768, 0, 0, 10000}},
    });
}

TEST(Blend16, TritoneRamp) {
    using P = PF_Pixel16;
    const P over{32768, 4000, 8000, 12000};
    expect_cases<P>({
        {"white", blend_tritone16, {32768, 32768, 32768, 32768}, over, {32768, 29475, 29933, 30391}},
        {"black", blend_tritone16, {32768, 0, 0, 0}, over, {32768, 0, 0, 0}},
        {"grey 16384", blend_tritone16, {32768, 16384, 16384, 16384}, over, {32768, 3771, 7542, 11313}},
        {"pure red", blend_tritone16, {32768, 32768, 0, 0}, over, {32768, 2346, 4693, 7039}},
        {"pure green", blend_tritone16, {32768, 0, 32768, 0}, over, {32768, 4001, 8001, 12001}},
        {"pure blue", blend_tritone16, {32768, 0, 0, 32768}, over, {32768, 1195, 2391, 3586}},
    });
}

TEST(Blend16, OpaqueBaseStaysOpaque) {
    for (A_long oa = 1; oa <= 32768; ++oa) {
        const PF_Pixel16 r = blend_normal16({32768, 10, 20, 30}, {static_cast<A_u_short>(oa), 200, 100, 0});
        ASSERT_EQ(r.alpha, 32768) << "over alpha " << oa;
    }
}

// Channels above 32768 only come from a damaged world; they must give
// clamped colours, not overflow.
TEST(Blend16, ChannelsAboveFullScaleStayDefined) {
    using P = PF_Pixel16;
    expect_cases<P>({
        {"multiply of 65535s clamps", blend_multiply16, {32768, 65535, 65535, 65535}, {32768, 65535, 65535, 65535},
         {32768, 32768, 32768, 32768}},
        // L = 61784: o = 65535 runs far below 0, o = 0 far above full.
        {"tritone of a 65535 base", blend_tritone16, {32768, 65535, 65535, 65535}, {32768, 65535, 0, 32768},
         {32768, 0, 32768, 32768}},
    });

    const A_u_short values[] = {0, 1, 16384, 32767, 32768, 32769, 65535};
    for (BlendMode mode : all_modes()) {
        for (A_u_short ba : values)
            for (A_u_short bc : values)
                for (A_u_short oa : values)
                    for (A_u_short oc : values) {
                        const P base{ba, bc, bc, 0};
                        const P over{oa, oc, 0, oc};
                        const P r = blend_op<P>(mode)(base, over);
                        if (r == base || r == over) continue;
                        ASSERT_TRUE(r.red <= 32768 && r.green <= 32768 && r.blue <= 32768)
                            << trace(mode) << " base " << testing::PrintToString(base) << " over "
                            << testing::PrintToString(over);
                    }
    }
}

// ---------------------------------------------------------------------------
// Float
// ---------------------------------------------------------------------------

TEST(BlendFloat, WorkedExamples) {
    using P = PF_PixelFloat;
    expect_cases<P>({
        {"normal over opaque black", blend_normal_float, {1, 0, 0, 0}, {0.5f, 1, 1, 1}, {1, 0.5f, 0.5f, 0.5f}},
        // Not the nearest floats of 0.52 and 0.24: the numerator is rounded before the division.
        {"normal partial alphas", blend_normal_float, {0.5f, 0.8f, 0.4f, 0.2f}, {0.25f, 0.1f, 0.2f, 0.3f},
         {0.625f, 0.520000041f, 0.319999993f, 0.24000001f}},
        {"add partial alphas", blend_add_float, {0.5f, 0.8f, 0.4f, 0.2f}, {0.25f, 0.1f, 0.2f, 0.3f},
         {0.625f, 0.680000007f, 0.400000006f, 0.280000031f}},
        {"add passes results above 1", blend_add_float, {1, 0.8f, 0.8f, 0.8f}, {0.5f, 0.8f, 0.8f, 0.8f},
         {1, 1.2f, 1.2f, 1.2f}},
        {"multiply unclamped", blend_multiply_float, {1, 2, 0.5f, -1}, {1, 0.5f, 0.5f, 0.5f}, {1, 1, 0.25f, -0.5f}},
        {"dodge caps over at 1", blend_color_dodge_float, {1, 0.5f, 0.5f, 0.5f}, {1, 1.5f, 0.75f, 0.5f},
         {1, 1, 2, 1}},
        {"burn", blend_color_burn_float, {1, 0.5f, 0.5f, 0.5f}, {1, 0.25f, 0.75f, 2}, {1, -1, 0.333333343f, 0.5f}},
        {"normal of opaque over", blend_normal_float, {0.5f, 1, 1, 1}, {1, 5, -1, 0.3f}, {1, 5, -1, 0.3f}},
        // Aα = 2 gives a = 1.5, capped at 1.
        {"normal caps alpha at 1", blend_normal_float, {2, 0.5f, 0.5f, 0.5f}, {0.5f, 1, 1, 1}, {1, 1, 1, 1}},
        {"normal with a <= 0 gives zero", blend_normal_float, {-1, 0.5f, 0.5f, 0.5f}, {0.5f, 1, 1, 1},
         {0, 0, 0, 0}},
        {"add with a <= 0 gives zero", blend_add_float, {-1, 0.5f, 0.5f, 0.5f}, {0.5f, 1, 1, 1}, {0, 0, 0, 0}},
    });
}

TEST(BlendFloat, TritoneRamp) {
    using P = PF_PixelFloat;
    const P over{1, 0.2f, 0.4f, 0.6f};
    expect_cases<P>({
        {"white", blend_tritone_float, {1, 1, 1, 1}, over, {1, 1, 1, 1}},
        {"above white clamps to white", blend_tritone_float, {1, 2, 2, 2}, over, {1, 1, 1, 1}},
        {"grey 0.25", blend_tritone_float, {1, 0.25f, 0.25f, 0.25f}, over, {1, 0.1f, 0.2f, 0.3f}},
        {"over colour clamped too", blend_tritone_float, {1, 0.25f, 0.25f, 0.25f}, {1, 0.4f, -1, 3},
         {1, 0.2f, 0, 0.5f}},
    });
}

// Tritone, Dodge and Burn hand their clamped base to Normal; with a partial
// over alpha an unclamped base of 2 would show as 1.5.
TEST(BlendFloat, ClampedBaseReachesNormal) {
    using P = PF_PixelFloat;
    const P bright{1, 2, 2, 2};
    expect_cases<P>({
        {"tritone", blend_tritone_float, bright, {0.5f, 0.2f, 0.4f, 0.6f}, {1, 1, 1, 1}},
        {"dodge", blend_color_dodge_float, bright, {0.5f, 0, 0, 0}, {1, 1, 1, 1}},
        {"burn", blend_color_burn_float, bright, {0.5f, 1, 1, 1}, {1, 1, 1, 1}},
    });
}

// ---------------------------------------------------------------------------
// All families
// ---------------------------------------------------------------------------

template <typename Pixel>
void expect_early_returns(Pixel base, Pixel over) {
    Pixel clear_over = over;
    clear_over.alpha = 0;
    Pixel clear_base = base;
    clear_base.alpha = 0;
    for (BlendMode mode : all_modes()) {
        SCOPED_TRACE(trace(mode));
        EXPECT_EQ(blend_op<Pixel>(mode)(base, clear_over), base);
        if (mode != BlendMode::Tritone) {
            EXPECT_EQ(blend_op<Pixel>(mode)(clear_base, over), over);
        }
    }
}

TEST(BlendAll, EarlyReturns) {
    expect_early_returns<PF_Pixel8>({200, 10, 150, 250}, {100, 240, 60, 5});
    expect_early_returns<PF_Pixel16>({20000, 1000, 20000, 32768}, {9000, 31000, 7000, 500});
    expect_early_returns<PF_PixelFloat>({0.75f, 0.1f, 1.5f, -0.25f}, {0.3f, 0.9f, 0.2f, 2.0f});
}

// The n-th choice of the popup as the user sees it must select the operator
// of that name: value n + 1 of the popup string's order.
template <typename Pixel>
void expect_table(const std::map<std::string, BlendOp<Pixel>>& by_name) {
    std::vector<std::string> choices;
    std::stringstream popup(popup_choices<BlendMode>());
    for (std::string choice; std::getline(popup, choice, '|');) choices.push_back(choice);
    ASSERT_EQ(choices.size(), by_name.size());
    for (std::size_t i = 0; i < choices.size(); ++i) {
        SCOPED_TRACE(choices[i]);
        const auto mode = static_cast<BlendMode>(static_cast<A_long>(i) + 1);
        ASSERT_EQ(by_name.count(choices[i]), 1u);
        EXPECT_EQ(blend_op<Pixel>(mode), by_name.at(choices[i]));
        EXPECT_EQ(name_of(mode), choices[i]);
    }
    for (A_long bad : {0, -1, 9, 10, 1000, INT_MIN, INT_MAX}) {
        EXPECT_EQ(blend_op<Pixel>(static_cast<BlendMode>(bad)), by_name.at("Normal")) << "mode " << bad;
        EXPECT_EQ(name_of(static_cast<BlendMode>(bad)), "") << "mode " << bad;
    }
}

TEST(BlendAll, TablesFollowThePopupAndNeverReadOutside) {
    expect_table<PF_Pixel8>({{"Normal", blend_normal8},
                             {"Tritone", blend_tritone8},
                             {"Add", blend_add8},
                             {"Multiply", blend_multiply8},
                             {"Screen", blend_screen8},
                             {"Overlay", blend_overlay8},
                             {"Color Dodge", blend_color_dodge8},
                             {"Color Burn", blend_color_burn8}});
    expect_table<PF_Pixel16>({{"Normal", blend_normal16},
                              {"Tritone", blend_tritone16},
                              {"Add", blend_add16},
                              {"Multiply", blend_multiply16},
                              {"Screen", blend_screen16},
                              {"Overlay", blend_overlay16},
                              {"Color Dodge", blend_color_dodge16},
                              {"Color Burn", blend_color_burn16}});
    expect_table<PF_PixelFloat>({{"Normal", blend_normal_float},
                                 {"Tritone", blend_tritone_float},
                                 {"Add", blend_add_float},
                                 {"Multiply", blend_multiply_float},
                                 {"Screen", blend_screen_float},
                                 {"Overlay", blend_overlay_float},
                                 {"Color Dodge", blend_color_dodge_float},
                                 {"Color Burn", blend_color_burn_float}});
    static_assert(blend_op<PF_Pixel8>(BlendMode{42}) == blend_normal8 &&
                  blend_op<PF_Pixel16>(BlendMode{-3}) == blend_normal16 &&
                  blend_op<PF_PixelFloat>(BlendMode{9}) == blend_normal_float);
}

// At channel values 0 and full, with alphas 0 and full, the operators that
// have the same shape at every depth must agree once scaled.
TEST(BlendAll, DepthsAgreeAtZeroAndFull) {
    const BlendMode modes[] = {BlendMode::Normal,  BlendMode::Multiply,   BlendMode::Screen,
                               BlendMode::Overlay, BlendMode::ColorDodge, BlendMode::ColorBurn};
    auto px8 = [](unsigned bits) {
        return PF_Pixel8{A_u_char(bits & 8 ? 255 : 0), A_u_char(bits & 4 ? 255 : 0), A_u_char(bits & 2 ? 255 : 0),
                         A_u_char(bits & 1 ? 255 : 0)};
    };
    auto scale16 = [](PF_Pixel8 p) {
        auto s = [](A_u_char c) { return A_u_short(c == 255 ? 32768 : 0); };
        return PF_Pixel16{s(p.alpha), s(p.red), s(p.green), s(p.blue)};
    };
    auto scalef = [](PF_Pixel8 p) {
        auto s = [](A_u_char c) { return c == 255 ? 1.0f : 0.0f; };
        return PF_PixelFloat{s(p.alpha), s(p.red), s(p.green), s(p.blue)};
    };
    for (BlendMode mode : modes) {
        for (unsigned b = 0; b < 16; ++b) {
            for (unsigned o = 0; o < 16; ++o) {
                const PF_Pixel8 base = px8(b);
                const PF_Pixel8 over = px8(o);
                const PF_Pixel8 r8 = blend_op<PF_Pixel8>(mode)(base, over);
                SCOPED_TRACE(trace(mode) + " base " + testing::PrintToString(base) + " over " +
                             testing::PrintToString(over));
                ASSERT_TRUE(r8.alpha % 255 == 0 && r8.red % 255 == 0 && r8.green % 255 == 0 && r8.blue % 255 == 0);
                EXPECT_EQ(blend_op<PF_Pixel16>(mode)(scale16(base), scale16(over)), scale16(r8));
                EXPECT_EQ(blend_op<PF_PixelFloat>(mode)(scalef(base), scalef(over)), scalef(r8));
            }
        }
    }
}

}  // namespace
