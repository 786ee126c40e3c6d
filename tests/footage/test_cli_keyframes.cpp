// Command-line value parsers: keyframes, ranges, sizes, colours, ratios.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "footage/frame_pattern.h"
#include "footage/keyframes.h"

namespace {

using cli::ValueError;

// Runs `f` and checks it throws ValueError whose message contains each of
// `parts`.
template <class F>
void expect_error(F f, const std::string& input, std::initializer_list<const char*> parts) {
    try {
        f();
        ADD_FAILURE() << "no error for '" << input << "'";
    } catch (const ValueError& e) {
        const std::string msg = e.what();
        EXPECT_NE(msg.find("'" + input + "'"), std::string::npos) << "input not named: " << msg;
        for (const char* p : parts) EXPECT_NE(msg.find(p), std::string::npos) << msg;
    }
}

TEST(CliKeyframes, PlainNumbers) {
    const std::pair<const char*, double> cases[] = {
        {"37.5", 37.5}, {"-2", -2.0}, {"+4", 4.0}, {" 1e3 ", 1000.0}, {".5", 0.5}, {"0", 0.0},
    };
    for (const auto& [text, value] : cases) {
        const cli::Keyframes k = cli::parse_keyframes(text);
        EXPECT_FALSE(k.animated) << text;
        ASSERT_EQ(k.keys.size(), 1u) << text;
        EXPECT_EQ(k.keys[0].first, 0) << text;
        EXPECT_EQ(k.keys[0].second, value) << text;
        EXPECT_EQ(k.at(1234), value) << text;
        EXPECT_EQ(cli::parse_number(text), value) << text;
    }
}

TEST(CliKeyframes, ListsAreSortedAndInterpolated) {
    const cli::Keyframes k = cli::parse_keyframes("10:1, 0:5 ,20:3");
    EXPECT_TRUE(k.animated);
    const std::vector<std::pair<int64_t, double>> want = {{0, 5.0}, {10, 1.0}, {20, 3.0}};
    EXPECT_EQ(k.keys, want);
    EXPECT_EQ(k.at(0), 5.0);
    EXPECT_EQ(k.at(5), 3.0);
    EXPECT_EQ(k.at(10), 1.0);
    EXPECT_EQ(k.at(15), 2.0);
    EXPECT_EQ(k.at(20), 3.0);
    EXPECT_EQ(k.at(1000), 3.0);

    const cli::Keyframes held = cli::parse_keyframes("5:2");
    EXPECT_TRUE(held.animated);
    ASSERT_EQ(held.keys.size(), 1u);
    EXPECT_EQ(held.at(0), 2.0);
    EXPECT_EQ(held.at(9), 2.0);
}

// Keys near the ends of double's range: the difference of two keys of
// opposite sign overflows, the value between them must not.
TEST(CliKeyframes, InterpolationBetweenHugeKeysStaysFinite) {
    constexpr double kMax = std::numeric_limits<double>::max();
    const struct {
        const char* text;
        int64_t frame;
    } cases[] = {
        {"0:-1.7e308,10:1.7e308", 5},  // the fuzzer's find
        {"0:-1.7e308,10:1.7e308", 1},
        {"0:-1.7e308,10:1.7e308", 9},
        {"0:1.7e308,10:-1.7e308", 3},
        {"0:-1.7976931348623157e308,2:1.7976931348623157e308", 1},
        {"0:1.7976931348623157e308,1000000:-1.7976931348623157e308", 999999},
        {"0:1e308,3:1.7976931348623157e308", 2},
    };
    for (const auto& c : cases) {
        const cli::Keyframes k = cli::parse_keyframes(c.text);
        ASSERT_EQ(k.keys.size(), 2u) << c.text;
        const double a = k.keys[0].second;
        const double b = k.keys[1].second;
        const double v = k.at(c.frame);
        EXPECT_TRUE(std::isfinite(v)) << c.text << " at " << c.frame << ": " << v;
        EXPECT_GE(v, std::min(a, b)) << c.text << " at " << c.frame;
        EXPECT_LE(v, std::max(a, b)) << c.text << " at " << c.frame;
    }
    // Symmetric keys meet at zero half way; the blend keeps its direction.
    const cli::Keyframes sym = cli::parse_keyframes("0:-1.7976931348623157e308,10:1.7976931348623157e308");
    EXPECT_EQ(sym.at(5), 0.0);
    for (int64_t f = 0; f < 10; ++f) EXPECT_LT(sym.at(f), sym.at(f + 1)) << f;
    EXPECT_EQ(sym.at(0), -kMax);
    EXPECT_EQ(sym.at(10), kMax);

    // Ordinary keys keep the usual formula to the last bit.
    const cli::Keyframes k = cli::parse_keyframes("0:0.1,7:2.3");
    for (int64_t f = 0; f <= 7; ++f) {
        EXPECT_EQ(k.at(f), 0.1 + (2.3 - 0.1) * (static_cast<double>(f) / 7.0)) << f;
    }
}

TEST(CliKeyframes, Errors) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "finite number"},
        {"abc", "finite number"},
        {"nan", "finite number"},
        {"inf", "finite number"},
        {"1e999", "finite number"},
        {"++1", "finite number"},
        {"1 2", "finite number"},
        {"1:2,1:3", "frame 1 is given twice"},
        {"-1:2", "not a non-negative integer"},
        {"1.5:2", "not a non-negative integer"},
        {"1:", "not a finite number"},
        {":3", "missing frame"},
        {"1:2,", "not FRAME:VALUE"},
        {"1:2,,3:4", "not FRAME:VALUE"},
        {"1:x", "not a finite number"},
        {"1:inf", "not a finite number"},
        {"99999999999999999999:1", "too large"},
    };
    for (const auto& item : cases) {
        const char* text = item.first;
        const char* why = item.second;
        expect_error([&] { cli::parse_keyframes(text); }, text, {why});
    }
}

TEST(CliFrameRange, ParsesAndRefuses) {
    const cli::FrameRange r = cli::parse_frame_range("3-10");
    EXPECT_EQ(r.first, 3);
    EXPECT_EQ(r.last, 10);
    const cli::FrameRange one = cli::parse_frame_range("7");
    EXPECT_EQ(one.first, 7);
    EXPECT_EQ(one.last, 7);
    EXPECT_EQ(cli::parse_frame_range("4-4").last, 4);

    const std::pair<const char*, const char*> bad[] = {
        {"10-5", "before the first"}, {"-5", "missing first frame"}, {"a-b", "first frame"},
        {"1-", "missing last frame"}, {"1-2-3", "last frame"},       {"", "missing frame"},
        {"x", "frame"},
    };
    for (const auto& item : bad) {
        const char* text = item.first;
        const char* why = item.second;
        expect_error([&] { cli::parse_frame_range(text); }, text, {why});
    }
}

TEST(CliFrameList, RangesStepsAndListsInTheOrderGiven) {
    using F = std::vector<int64_t>;
    EXPECT_EQ(cli::parse_frame_list("1-10x3", 100), (F{1, 4, 7, 10}));
    EXPECT_EQ(cli::parse_frame_list("1-100x50", 100), (F{1, 51}));
    EXPECT_EQ(cli::parse_frame_list("1,5,10-12", 100), (F{1, 5, 10, 11, 12}));
    // As given, each frame once.
    EXPECT_EQ(cli::parse_frame_list("9, 2-4 ,3,9", 100), (F{9, 2, 3, 4}));
    EXPECT_EQ(cli::parse_frame_list("5-5x7", 100), (F{5}));
    // Steps near the top of the range do not overflow.
    EXPECT_EQ(cli::parse_frame_list("9223372036854775806-9223372036854775807x9223372036854775807", 10),
              (F{9223372036854775806}));
    EXPECT_EQ(cli::parse_frame_list("0-9", 10).size(), 10u);

    const std::pair<const char*, const char*> bad[] = {
        {"0-10", "more than 10 frames"}, {"1,,2", "missing frame"}, {"1-9x0", "step must be at least 1"},
        {"1-9x", "missing step"},        {"1-9x-2", "step"},        {"1x2", "frame"},
        {"3,", "missing frame"},         {"4-2", "before the first"},
    };
    for (const auto& item : bad) {
        const char* text = item.first;
        const char* why = item.second;
        expect_error([&] { cli::parse_frame_list(text, 10); }, text, {why});
    }
}

TEST(CliSize, ParsesAndRefuses) {
    const cli::Size s = cli::parse_size("1920x1080");
    EXPECT_EQ(s.width, 1920);
    EXPECT_EQ(s.height, 1080);
    EXPECT_EQ(cli::parse_size("4X3").height, 3);

    const std::pair<const char*, const char*> bad[] = {
        {"0x5", "at least 1"},    {"5x", "missing height"}, {"x5", "missing width"},
        {"1920*1080", "WIDTHxHEIGHT"}, {"-1x5", "width"},   {"3000000000x1", "too large"},
    };
    for (const auto& item : bad) {
        const char* text = item.first;
        const char* why = item.second;
        expect_error([&] { cli::parse_size(text); }, text, {why});
    }
}

TEST(CliColour, ParsesAndRefuses) {
    const PF_Pixel8 c = cli::parse_colour("255,128,0,64");
    EXPECT_EQ(c.alpha, 64);
    EXPECT_EQ(c.red, 255);
    EXPECT_EQ(c.green, 128);
    EXPECT_EQ(c.blue, 0);
    const PF_Pixel8 spaced = cli::parse_colour(" 1, 2 ,3,4");
    EXPECT_EQ(spaced.red, 1);
    EXPECT_EQ(spaced.alpha, 4);

    const std::pair<const char*, const char*> bad[] = {
        {"256,0,0,0", "red is above 255"}, {"0,0,0,300", "alpha is above 255"},
        {"1,2,3", "four components"},      {"1,2,3,4,5", "four components"},
        {"a,b,c,d", "red"},                {"-1,0,0,0", "red"},
        {"", "four components"},           {"1,,3,4", "missing green"},
    };
    for (const auto& item : bad) {
        const char* text = item.first;
        const char* why = item.second;
        expect_error([&] { cli::parse_colour(text); }, text, {why});
    }
}

TEST(CliDownsample, ParsesAndRefuses) {
    const struct {
        const char* text;
        int64_t num, den;
    } good[] = {{"2", 1, 2}, {"1", 1, 1}, {"3/4", 3, 4}, {"2/4", 1, 2}, {"5/5", 1, 1}};
    for (const auto& g : good) {
        const cli::Ratio r = cli::parse_downsample(g.text);
        EXPECT_EQ(r.num, g.num) << g.text;
        EXPECT_EQ(r.den, g.den) << g.text;
    }
    const std::pair<const char*, const char*> bad[] = {
        {"0", "positive"},    {"0/1", "positive"},      {"4/3", "must not exceed 1"},
        {"1/0", "positive"},  {"x", "factor"},          {"1/2/3", "denominator"},
        {"", "missing"},      {"1/99999999", "terms above"}, {"-2", "factor"},
    };
    for (const auto& item : bad) {
        const char* text = item.first;
        const char* why = item.second;
        expect_error([&] { cli::parse_downsample(text); }, text, {why});
    }
}

// Only names the pattern itself gives are frames of it.
TEST(CliFramePattern, FramesOnDiskAreTheNamesThePatternGives) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("trellis_frames_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "shot.0007.png");  // a folder of a frame's name counts too
    for (const char* name : {"shot.0001.png", "shot.0002.png", "shot.0010.png", "shot.12345.png", "shot.-0003.png",
                             "shot.01002.png", "shot.002.png", "shot.0004.exr", "shot.0005.png.tmp", "shot.00x6.png",
                             "sho.0008.png", "shot..png"}) {
        std::ofstream(dir / name) << "x";
    }
    const auto frames = cli::FramePattern::parse((dir / "shot.####.png").string())->frames_on_disk();
    ASSERT_TRUE(frames.has_value());
    EXPECT_EQ(*frames, (std::vector<long>{-3, 1, 2, 7, 10, 12345}));
    EXPECT_EQ(cli::frame_runs(*frames), "-3,1-2,7,10,12345");
    EXPECT_EQ(cli::frame_runs({1001, 1002, 1003, 1005}), "1001-1003,1005");
    EXPECT_EQ(cli::frame_runs({}), "");
    // A token in a folder's name is not listed.
    EXPECT_FALSE(cli::FramePattern::parse((dir / "v###" / "f.png").string())->frames_on_disk().has_value());
    fs::remove_all(dir);
}

}  // namespace
