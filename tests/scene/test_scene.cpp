// The scene layer in process: output names, sources, parameter values
// against the effect's declarations, the host's progress and abort hooks.
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/entry.h"
#include "scene/batch.h"
#include "scene/session.h"
#include "scene/source.h"

namespace {

using ::testing::HasSubstr;

TEST(OutputPattern, FormatsTheFrameNumberAsPrintfWould) {
    struct Case {
        const char* pattern;
        long frame;
        const char* want;
    };
    for (const Case& c : {Case{"out_%04d.png", 7, "out_0007.png"}, Case{"out_%04d.png", 12345, "out_12345.png"},
                          Case{"%d.exr", 0, "0.exr"}, Case{"f%5d|", 42, "f   42|"}, Case{"f%-5d|", 42, "f42   |"},
                          Case{"f%+d", 3, "f+3"}, Case{"f% d", 3, "f 3"}, Case{"f%.3i", 5, "f005"},
                          Case{"f%06.3u", 5, "f   005"}, Case{"100%%_%03d.png", 9, "100%_009.png"},
                          Case{"plain.png", 9, "plain.png"}, Case{"p%%.png", 9, "p%.png"}}) {
        char printed[64];
        if (std::string_view(c.pattern).find("%%") == std::string_view::npos && std::string_view(c.pattern) != "plain.png") {
            // Cross-check against the C library for the plain cases.
            std::snprintf(printed, sizeof printed, std::string(c.pattern).c_str(), static_cast<int>(c.frame));
            EXPECT_STREQ(printed, c.want) << c.pattern;
        }
        EXPECT_EQ(cli::OutputPattern::parse(c.pattern).path(c.frame), c.want) << c.pattern;
    }
    EXPECT_TRUE(cli::OutputPattern::parse("a%d").numbered());
    EXPECT_FALSE(cli::OutputPattern::parse("a%%d").numbered());
}

TEST(OutputPattern, RefusesAnythingButOneIntegerConversion) {
    for (const char* bad : {"a%s.png", "a%d%d.png", "a%", "a%5", "a%ld.png", "a%f.png", "%x.png", "a%*d.png"}) {
        try {
            cli::OutputPattern::parse(bad);
            ADD_FAILURE() << bad << " accepted";
        } catch (const cli::ValueError& f) {
            EXPECT_THAT(f.what(), HasSubstr(bad)) << bad;
        }
    }
}

TEST(OutputName, ByExtensionInAnyCase) {
    for (const char* good : {"a.PNG", "dir.exr/a_%04d.Exr", "a.####.tif", "a.dpx", "a.jpg"}) {
        EXPECT_NO_THROW(cli::check_output_name(good)) << good;
    }
    EXPECT_THROW(cli::check_output_name("dir.png/a"), cli::ValueError);
    EXPECT_THROW(cli::check_output_name("a.txt"), cli::ValueError);
}

TEST(OutputPattern, HashesAndAtsAreDigitsOfTheFrameNumber) {
    EXPECT_EQ(cli::OutputPattern::parse("out/a.####.exr").path(7), "out/a.0007.exr");
    EXPECT_EQ(cli::OutputPattern::parse("a.@@@.png").path(12345), "a.12345.png");
    EXPECT_EQ(cli::OutputPattern::parse("a#.png").path(3), "a3.png");
    // Only the last run counts; a printf conversion wins over hashes.
    EXPECT_EQ(cli::OutputPattern::parse("v#2/a.##.png").path(5), "v#2/a.05.png");
    EXPECT_EQ(cli::OutputPattern::parse("#_%03d.png").path(5), "#_005.png");
    EXPECT_FALSE(cli::OutputPattern::parse("plain.png").numbered());
}

// Footage that counts its reads; frame n is n pixels wide unless `sizes`
// says otherwise.
class CountingFootage : public cli::Footage {
public:
    explicit CountingFootage(bool still, std::atomic<int>* reads) : still_(still), reads_(reads) {}
    bool still() const override { return still_; }
    std::string name(long n) const override { return "f" + std::to_string(n); }
    cli::Image::Depth depth(long) const override { return cli::Image::k8; }
    cli::Image read(long n, cli::Image::Depth depth) const override {
        ++*reads_;
        if (n < 0) throw cli::ImageError(name(n) + ": no such file");
        cli::Image image = cli::make_image(n == 7 ? 3 : 2, 2, cli::Image::k8);
        image.get<PF_Pixel8>()[0].red = static_cast<A_u_char>(n);
        return cli::convert(image, depth);
    }

private:
    bool still_;
    std::atomic<int>* reads_;
};

A_u_char first_red(const standalone::World& world) { return reinterpret_cast<const PF_Pixel8*>(world.row(0))[0].red; }

TEST(Source, SharesAFrameWhileHeldAndReleasesItAfter) {
    std::atomic<int> reads{0};
    cli::Source source(std::make_unique<CountingFootage>(false, &reads), 10, cli::Image::k16,
                       [](cli::Image image) {
                           image.width = 1;  // the prepared frame is what comes out
                           return image;
                       });
    auto a = source.frame(2);
    auto b = source.frame(2);
    EXPECT_EQ(a, b);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(a->format(), PF_PixelFormat_ARGB64);
    EXPECT_EQ(a->width(), 1);
    EXPECT_EQ(reinterpret_cast<const PF_Pixel16*>(a->row(0))[0].red, cli::sample::png8_to_world(12));
    std::weak_ptr<standalone::World> gone = a;
    a.reset();
    b.reset();
    EXPECT_TRUE(gone.expired());
    source.frame(2);
    EXPECT_EQ(reads, 2);  // read again: nothing held it
}

TEST(Source, AStillIsReadOnceForEveryFrame) {
    std::atomic<int> reads{0};
    cli::Source source(std::make_unique<CountingFootage>(true, &reads), 0, cli::Image::k8, {});
    std::vector<std::thread> workers;
    std::vector<std::shared_ptr<standalone::World>> got(8);
    for (int i = 0; i < 8; ++i) workers.emplace_back([&, i] { got[i] = source.frame(i); });
    for (std::thread& t : workers) t.join();
    EXPECT_EQ(reads, 1);
    for (const auto& w : got) EXPECT_EQ(w, got[0]);
}

TEST(Source, ConcurrentAsksForOneFrameReadItOnce) {
    std::atomic<int> reads{0};
    cli::Source source(std::make_unique<CountingFootage>(false, &reads), 0, cli::Image::k8, {});
    std::vector<std::thread> workers;
    std::vector<std::shared_ptr<standalone::World>> got(8);
    for (int i = 0; i < 8; ++i) workers.emplace_back([&, i] { got[i] = source.frame(i % 2); });
    for (std::thread& t : workers) t.join();
    for (int i = 0; i < 8; ++i) EXPECT_EQ(first_red(*got[i]), i % 2);
    // Each frame read once unless every holder had let go in between.
    EXPECT_GE(reads, 2);
    EXPECT_LE(reads, 8);
    EXPECT_EQ(got[0], got[2]);
}

TEST(Source, MissingAndMisSizedFramesAreNamed) {
    std::atomic<int> reads{0};
    cli::Source source(std::make_unique<CountingFootage>(false, &reads), -3, cli::Image::k8, {});
    const auto held = source.frame(8);  // source frame 5, 2 pixels wide
    try {
        source.frame(10);  // source frame 7, 3 pixels wide
        ADD_FAILURE() << "a frame of another size was accepted";
    } catch (const cli::ImageError& f) {
        EXPECT_THAT(f.what(), HasSubstr("f7"));
        EXPECT_THAT(f.what(), HasSubstr("3x2"));
        EXPECT_THAT(f.what(), HasSubstr("frame 5"));
    }
    EXPECT_THROW(source.frame(1), cli::ImageError);  // source frame -2
    // A failed read is tried again, not remembered as a frame.
    EXPECT_THROW(source.frame(1), cli::ImageError);
    EXPECT_EQ(reads, 4);
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = cli::make_host(standalone::Module::from_entry(EntryPointFunc, "linked"));
        declared_ = std::make_unique<cli::DeclaredParams>(*host_);
    }
    cli::ParamSetting parse(const char* name, const char* flag, const char* text) {
        return cli::parse_setting(declared_->named(name), flag, text);
    }
    std::string refusal(const char* name, const char* flag, const char* text) {
        try {
            parse(name, flag, text);
        } catch (const cli::ValueError& f) {
            return f.what();
        }
        return "accepted";
    }
    std::unique_ptr<standalone::Host> host_;
    std::unique_ptr<cli::DeclaredParams> declared_;
};

TEST_F(Settings, ValuesBecomeRawHostValues) {
    const cli::ParamSetting time = parse("Time", "--time", "37.5");
    EXPECT_FALSE(time.animated);
    ASSERT_EQ(time.keys.size(), 1u);
    EXPECT_EQ(time.keys[0].value, 0x258000);
    EXPECT_EQ(time.index, declared_->named("Time").index);

    const cli::ParamSetting ramp = parse("Time", "--time", "47:100, 0:0");
    EXPECT_TRUE(ramp.animated);
    ASSERT_EQ(ramp.keys.size(), 2u);
    EXPECT_EQ(ramp.keys[0].frame, 0.0);
    EXPECT_EQ(ramp.keys[1].frame, 47.0);
    EXPECT_EQ(ramp.keys[1].value, 100 * 65536);

    const cli::ParamSetting blend = parse("Color Blend Mode", "--blend", "0:Color-Dodge,10:2,20:screen");
    ASSERT_EQ(blend.keys.size(), 3u);
    EXPECT_EQ(blend.keys[0].value, 7);
    EXPECT_EQ(blend.keys[1].value, 2);
    EXPECT_EQ(blend.keys[2].value, 5);
    EXPECT_EQ(parse("Mode", "--mode", "discrete-2").keys[0].value, 3);
    EXPECT_EQ(parse("Mode", "--mode", "Discrete 1").keys[0].value, 2);
    EXPECT_EQ(parse("Max Width", "--max-width", "5000").keys[0].value, 5000);
    EXPECT_EQ(parse("Seed", "--seed", "50000").keys[0].value, 50000);
    EXPECT_EQ(parse("On Original", "--on-original", "1").keys[0].value, 1);
}

TEST_F(Settings, RefusalsNameTheFlagAndTheDeclaredRange) {
    EXPECT_THAT(refusal("Max Width", "--max-width", "5001"), HasSubstr("--max-width 5001: 5001 is outside the valid range 2 to 5000"));
    EXPECT_THAT(refusal("Seed", "--seed", "-1"), HasSubstr("valid range 0 to 50000"));
    EXPECT_THAT(refusal("Min Width", "--min-width", "100.5"), HasSubstr("valid range 0 to 100"));
    EXPECT_THAT(refusal("Mode", "--mode", "4"), HasSubstr("valid range 1 to 3"));
    EXPECT_THAT(refusal("Mode", "--mode", "0:continuous,5:wobbly"), HasSubstr("unknown choice 'wobbly'"));
    EXPECT_THAT(refusal("Max Width", "--max-width", "2.5"), HasSubstr("not a whole number"));
    EXPECT_THAT(refusal("Time", "--time", "abc"), HasSubstr("--time"));
    EXPECT_THAT(refusal("Time", "--time", "3000000000:5"), HasSubstr("too large"));
    EXPECT_THROW(declared_->named("Sharpness"), cli::EffectError);
}

PF_Err PF_CALL reporting_entry(PF_Cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*) {
    const PF_Err progress = in->inter.progress(in->effect_ref, 3, 10);
    const PF_Err abort = in->inter.abort(in->effect_ref);
    return progress != PF_Err_NONE ? progress : abort;
}

TEST(HostHooks, ProgressGoesOutAndCancelComesBack) {
    standalone::Host host(standalone::Module::from_entry(reporting_entry, "reporting"));
    std::vector<std::pair<long, long>> seen;
    bool cancel = false;
    cli::attach_host_hooks(
        host, [&](long current, long total) { seen.emplace_back(current, total); }, [&] { return cancel; });
    EXPECT_EQ(host.about(), PF_Err_NONE);
    cancel = true;
    EXPECT_EQ(host.about(), PF_Interrupt_CANCEL);
    const std::vector<standalone::LoggedCall> progress = host.log().calls("progress");
    const std::vector<standalone::LoggedCall> abort = host.log().calls("abort");
    ASSERT_EQ(progress.size(), 2u);
    ASSERT_EQ(abort.size(), 2u);
    EXPECT_EQ(progress[0].result, PF_Err_NONE);
    EXPECT_EQ(abort[0].result, PF_Err_NONE);
    EXPECT_EQ(progress[1].result, PF_Interrupt_CANCEL);
    EXPECT_EQ(abort[1].result, PF_Interrupt_CANCEL);
    EXPECT_EQ(seen, (std::vector<std::pair<long, long>>{{3, 10}, {3, 10}}));
}

// The standalone host offers the hooks, so a cancel stops the frame in flight.
TEST(HostHooks, CancelStopsTheEffectWithinAFrame) {
    const auto module = standalone::Module::from_entry(EntryPointFunc, "linked");
    cli::Scene scene;
    scene.input = std::make_shared<cli::Source>(cli::still_footage("input", cli::make_image(96, 64, cli::Image::k8)),
                                                0, cli::Image::k8, cli::FramePrep{});
    scene.layer = std::make_shared<cli::Source>(cli::still_footage("layer", cli::make_image(8, 8, cli::Image::k8)), 0,
                                                cli::Image::k8, cli::FramePrep{});
    {
        const auto host = cli::make_host(module);
        const cli::DeclaredParams declared(*host);
        scene.layer_index = declared.named("Layer").index;
        scene.path_index = declared.named("Path").index;
        // The whole path, in many small strokes.
        scene.settings.push_back(cli::parse_setting(declared.named("Time"), "--time", "50"));
        scene.settings.push_back(cli::parse_setting(declared.named("Max Width"), "--max-width", "4"));
    }
    scene.mask = {standalone::MaskKeyframe{0.0, standalone::MaskShape{{{4, 32, 0, 0, 0, 0}, {92, 32, 0, 0, 0, 0}}, false}}};

    cli::FrameRenderer renderer(module, scene);
    std::vector<std::pair<long, long>> seen;
    bool cancel = false;
    renderer.watch(
        [&](long current, long total) {
            seen.emplace_back(current, total);
            cancel = true;  // stop at the first stroke drawn
        },
        [&] { return cancel; });
    try {
        renderer.render(0);
        ADD_FAILURE() << "the frame was not cancelled";
    } catch (const cli::EffectError&) {
    }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_GT(seen[0].second, 1);  // more strokes were due
    std::string why;
    EXPECT_TRUE(renderer.host().balanced(&why)) << why;

    // Without a cancel the same renderer draws every stroke.
    seen.clear();
    renderer.watch([&](long current, long total) { seen.emplace_back(current, total); }, [] { return false; });
    EXPECT_NO_THROW(renderer.render(0));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().first, seen.back().second);
}

}  // namespace
