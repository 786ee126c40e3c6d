// The frei0r plug-ins: their parameter table against the effect's own
// declarations, and whole frames from ffmpeg's frei0r filter and from melt
// (filter and transition) against `trellis render` at 8 bits, byte for byte.
// PNG in and out, RGBA all the way, so no host converts colours.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "footage/image_io.h"
#include "scene/session.h"
#include "frei0r/params.h"
#include "tests/support/pixels.h"
#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;
using frei0r_params::Kind;
using test_support::Outcome;
using test_support::run_program;

TEST(Frei0rParams, TableIsTheEffectsDeclarations) {
    auto module = standalone::Module::load(TRELLIS_MODULE_PATH);
    ASSERT_NE(module, nullptr);
    const auto host = cli::make_host(module);
    const cli::DeclaredParams declared(*host);
    ASSERT_EQ(declared.all().size(), std::size(frei0r_params::kParams));
    for (const frei0r_params::Param& p : frei0r_params::kParams) {
        SCOPED_TRACE(p.name);
        const cli::DeclaredParam& d = declared.named(p.name);
        EXPECT_EQ(d.index, p.id);
        switch (d.def.param_type) {
        case PF_Param_SLIDER:
            EXPECT_EQ(p.kind, Kind::Double);
            EXPECT_EQ(p.raw_min, d.def.u.sd.valid_min);
            EXPECT_EQ(p.raw_max, d.def.u.sd.valid_max);
            EXPECT_EQ(p.raw_default, d.def.u.sd.dephault);
            break;
        case PF_Param_FIX_SLIDER:
            EXPECT_EQ(p.kind, Kind::Double);
            EXPECT_EQ(p.raw_min, d.def.u.fd.valid_min);
            EXPECT_EQ(p.raw_max, d.def.u.fd.valid_max);
            EXPECT_EQ(p.raw_default, d.def.u.fd.dephault);
            break;
        case PF_Param_POPUP: {
            EXPECT_EQ(p.kind, Kind::String);
            EXPECT_EQ(p.raw_default, d.def.u.pd.dephault);
            std::size_t count = 0;
            const std::string_view* names = frei0r_params::choices_begin(p.id, &count);
            ASSERT_EQ(count, d.choices.size());
            for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(names[i], d.choices[i]);
            break;
        }
        case PF_Param_CHECKBOX:
            EXPECT_EQ(p.kind, Kind::Bool);
            EXPECT_EQ(p.raw_default, d.def.u.bd.dephault);
            break;
        default:
            EXPECT_EQ(p.kind, Kind::String);  // Path, Layer
        }
    }
}

// Raw values of every slider (each one of the whole-number sliders, every
// 97th and the ends of the percent sliders) survive the trip through a double
// printed as `trellis frei0r-params` prints it, and the host's doubles are
// clamped into the valid range.
TEST(Frei0rParams, SliderValuesRoundTrip) {
    for (const frei0r_params::Param& p : frei0r_params::kParams) {
        if (p.kind != Kind::Double) continue;
        SCOPED_TRACE(p.name);
        const A_long step = p.raw_max - p.raw_min > 100000 ? 97 : 1;
        long wrong = 0;
        for (A_long raw = p.raw_min;; raw = std::min(raw + step, p.raw_max)) {
            char text[40];
            std::snprintf(text, sizeof text, "%.17g", frei0r_params::unit_from_raw(p, raw));
            wrong += frei0r_params::raw_from_unit(p, std::strtod(text, nullptr)) != raw;
            if (raw == p.raw_max) break;
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(frei0r_params::raw_from_unit(p, -0.5), p.raw_min);
        EXPECT_EQ(frei0r_params::raw_from_unit(p, NAN), p.raw_min);
        EXPECT_EQ(frei0r_params::raw_from_unit(p, 7.0), p.raw_max);
    }
}

TEST(Frei0rParams, PopupsTakeNamesInAnyCaseOrNumbers) {
    struct Case {
        ParamId id;
        const char* text;
        A_long value;  // 0: refused
    } cases[] = {
        {PARAM_BLEND_MODE, "Screen", 5},      {PARAM_BLEND_MODE, "COLOR dodge", 7}, {PARAM_BLEND_MODE, "color-burn", 8},
        {PARAM_BLEND_MODE, " 8 ", 8},         {PARAM_BLEND_MODE, "9", 0},           {PARAM_BLEND_MODE, "0", 0},
        {PARAM_BLEND_MODE, "Screens", 0},     {PARAM_BLEND_MODE, "", 0},            {PARAM_MODE, "discrete_2", 3},
        {PARAM_MODE, "Discrete 1", 2},        {PARAM_MODE, "4", 0},                 {PARAM_TIME, "1", 0},
    };
    for (const Case& c : cases) {
        const std::optional<A_long> got = frei0r_params::popup_value(c.id, c.text);
        EXPECT_EQ(got.value_or(0), c.value) << '"' << c.text << '"';
    }
}

std::string unit_text(ParamId id, A_long raw) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", frei0r_params::unit_from_raw(frei0r_params::param_of(id), raw));
    return text;
}

class Frei0rHosts : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("trellis_frei0r_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        cli::write_image(path("in.png"), ramp(96, 64, 0));
        cli::write_image(path("layer.png"), ramp(24, 16, 1));
        cli::write_image(path("la,y:er.png"), ramp(24, 16, 2));
        cli::write_image(path("layer_full.png"), ramp(96, 64, 3));
        std::ofstream(path("profile")) << "description=test\nwidth=96\nheight=64\nprogressive=1\nsample_aspect_num=1\n"
                                          "sample_aspect_den=1\ndisplay_aspect_num=3\ndisplay_aspect_den=2\n"
                                          "frame_rate_num=25\nframe_rate_den=1\ncolorspace=709\n";
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // Colour ramps with alpha from transparent to opaque, varied by `salt`.
    static cli::Image ramp(int width, int height, int salt) {
        cli::Image image = cli::make_image(width, height, cli::Image::k8);
        auto& px = image.get<PF_Pixel8>();
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                px[static_cast<std::size_t>(y * width + x)] = PF_Pixel8{
                    static_cast<A_u_char>((x * 7 + y * 3 + salt * 50) % 256), static_cast<A_u_char>(x * 255 / width),
                    static_cast<A_u_char>(y * 255 / height), static_cast<A_u_char>((x + y) * 5 * (salt + 1) % 256)};
            }
        }
        return image;
    }

    Outcome run(const std::vector<std::string>& args) {
        return run_program(args, dir_, {std::string("FREI0R_PATH=") + TRELLIS_FREI0R_DIR, "LC_ALL=C"});
    }

    // `host` writes `host_frames` (their names); `trellis render` with
    // `flags` writes the same frames, which must be equal and differ from
    // the input.
    void expect_same(const std::vector<std::string>& host, const std::vector<std::string>& host_frames,
                     const std::vector<std::string>& flags) {
        // melt now and then ends with status 0 before its consumer wrote a
        // frame (seen without any plug-in, on a busy machine): run it again.
        Outcome h;
        for (int attempt = 0; attempt < 3 && !fs::exists(dir_ / host_frames.front()); ++attempt) {
            h = run(host);
            ASSERT_EQ(h.code, 0) << h.err;
        }
        std::vector<std::string> render = {TRELLIS_CLI_PATH, "render", "-q", "--input", "in.png", "--depth", "8",
                                           "-o", "trellis_%d.png"};
        render.insert(render.end(), flags.begin(), flags.end());
        if (host_frames.size() > 1) {
            render.insert(render.end(), {"--frames", "0-" + std::to_string(host_frames.size() - 1)});
        }
        const Outcome t = run(render);
        ASSERT_EQ(t.code, 0) << t.err;
        const auto input = cli::read_image(path("in.png"), cli::Image::k8).get<PF_Pixel8>();
        bool changed = false;
        for (std::size_t i = 0; i < host_frames.size(); ++i) {
            SCOPED_TRACE(host_frames[i]);
            const auto got = cli::read_image(path(host_frames[i]), cli::Image::k8).get<PF_Pixel8>();
            const auto want = cli::read_image(path("trellis_" + std::to_string(i) + ".png"), cli::Image::k8).get<PF_Pixel8>();
            EXPECT_TRUE(got == want);
            changed = changed || got != input;
        }
        EXPECT_TRUE(changed) << "the effect drew nothing";
    }

    fs::path dir_;
};

TEST_F(Frei0rHosts, FfmpegFilterWithTrellisEscaping) {
    // Commas and a colon, which ffmpeg's parsers would cut at.
    const std::vector<std::string> flags = {"--mask", "M 6,40 C 30,4 60,70 90,30", "--layer", "la,y:er.png",
                                            "--time", "40", "--max-width", "12", "--various-directions",
                                            "--blend", "color-dodge", "--mode", "discrete-2", "--on-original"};
    std::vector<std::string> params = {TRELLIS_CLI_PATH, "frei0r-params"};
    params.insert(params.end(), flags.begin(), flags.end());
    const Outcome p = run(params);
    ASSERT_EQ(p.code, 0) << p.err;
    const std::string filter_params = p.out.substr(0, p.out.find('\n'));
    expect_same({"ffmpeg", "-v", "error", "-y", "-i", "in.png", "-vf",
                 "frei0r=filter_name=norvextrellis:filter_params=" + filter_params, "-pix_fmt", "rgba", "-update", "1",
                 "ffmpeg.png"},
                {"ffmpeg.png"}, flags);
}

// What the filter cannot take is refused, not printed: keyframes, values
// outside the valid range, unknown popup names.
TEST_F(Frei0rHosts, Frei0rParamsRefusesWhatTheFilterCannotTake) {
    const std::vector<std::string> refused[] = {{"--time", "0:0,4:100"}, {"--max-width", "1"}, {"--blend", "sparkle"}};
    for (const auto& flags : refused) {
        std::vector<std::string> args = {TRELLIS_CLI_PATH, "frei0r-params"};
        args.insert(args.end(), flags.begin(), flags.end());
        const Outcome r = run(args);
        EXPECT_EQ(r.code, 2) << flags[0];
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(flags[0]), std::string::npos) << r.err;
    }
}

TEST_F(Frei0rHosts, MeltFilterByNameWithKeyframedTimeOnTwoThreads) {
    expect_same({"melt", "-profile", "profile", "avformat:in.png", "out=4", "-filter", "frei0r.norvextrellis",
                 "Path=M 6 40 C 30 4 60 70 90 30", "Layer=layer.png", "Time=0=0;4=1",
                 "Max Width=" + unit_text(PARAM_MAX_WIDTH, 12), "Mode=3", "Color Blend Mode=overlay",
                 "Seed=" + unit_text(PARAM_SEED, 7), "-consumer", "avformat:melt%d.png", "vcodec=png",
                 "pix_fmt=rgba", "real_time=-2"},
                {"melt1.png", "melt2.png", "melt3.png", "melt4.png", "melt5.png"},
                {"--mask", "M 6 40 C 30 4 60 70 90 30", "--layer", "layer.png", "--time", "0:0,4:100",
                 "--max-width", "12", "--mode", "3", "--blend", "overlay", "--seed", "7"});
}

TEST_F(Frei0rHosts, MeltTransitionByIndexTakesTheUpperTrackAsLayer) {
    // The mixer's indices: 0 Path, 1 Mode, 2 Time, 3 Max Width, 4 Min Width,
    // 5 Various Directions, 6 Color Blend Mode, 7 Color Opacity, 8 Seed, 9 On Original.
    expect_same({"melt", "-profile", "profile", "avformat:in.png", "out=0", "-track", "avformat:layer_full.png",
                 "out=0", "-transition", "frei0r.norvextrellis_mix", "a_track=0", "b_track=1",
                 "0=M 6 40 C 30 4 60 70 90 30", "2=0.3", "3=" + unit_text(PARAM_MAX_WIDTH, 12), "4=0.5",
                 "6=Multiply", "7=0.6", "9=1", "-consumer", "avformat:mix.png", "vcodec=png", "pix_fmt=rgba",
                 "update=1"},
                {"mix.png"},
                {"--mask", "M 6 40 C 30 4 60 70 90 30", "--layer", "layer_full.png", "--time", "30", "--max-width",
                 "12", "--min-width", "50", "--blend", "multiply", "--opacity", "60", "--on-original"});
}

// The descriptions editors read: MLT takes its metadata from its data folder
// (drop-downs for the popups) and Kdenlive's files parse with a parameter
// for each of the plug-in's.
TEST_F(Frei0rHosts, EditorsReadTheDescriptions) {
    struct Case {
        const char* service;
        const char* kdenlive;
        int params;
    } cases[] = {{"filter=frei0r.norvextrellis", "effects/frei0r_norvextrellis.xml", 11},
                 {"transition=frei0r.norvextrellis_mix", "transitions/frei0r_norvextrellis_mix.xml", 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.service);
        const Outcome q = run_program({"melt", "-query", c.service}, dir_,
                                      {std::string("MLT_DATA=") + TRELLIS_BUILD_DIR + "/share/mlt-7",
                                       std::string("FREI0R_PATH=") + TRELLIS_FREI0R_DIR});
        ASSERT_EQ(q.code, 0) << q.err;
        EXPECT_NE(q.out.find("identifier: Color Blend Mode"), std::string::npos) << q.out;
        EXPECT_NE(q.out.find("      - Color Dodge\n"), std::string::npos) << q.out;

        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_file((std::string(TRELLIS_BUILD_DIR) + "/share/kdenlive/" + c.kdenlive).c_str()));
        const pugi::xml_node root = doc.first_child();
        EXPECT_EQ(std::string(root.attribute("tag").value()), std::string(c.service).substr(std::string(c.service).find('=') + 1));
        EXPECT_EQ(std::distance(root.children("parameter").begin(), root.children("parameter").end()), c.params);
    }
}

}  // namespace
