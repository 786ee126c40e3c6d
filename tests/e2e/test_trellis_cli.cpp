// The trellis command end to end: the built binary run as a subprocess on
// small generated inputs, its files read back.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/pixels.h"
#include "footage/image_io.h"
#include "footage/movie_io.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

const fs::path kReference = fs::path(TRELLIS_SOURCE_DIR) / "tests" / "e2e" / "ref";

using test_support::Outcome;
using test_support::slurp;

// The child's environment: ours without TRELLIS_PLUGIN, plus `extra`.
std::vector<std::string> child_environment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string_view(*e).rfind("TRELLIS_PLUGIN=", 0) != 0) env.emplace_back(*e);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

pid_t spawn(const std::vector<std::string>& args, const fs::path& out, const fs::path& err,
            const std::vector<std::string>& extra_env = {}) {
    std::vector<std::string> argv_text{TRELLIS_CLI_PATH};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text = child_environment(extra_env);
    std::vector<char*> envp;
    for (std::string& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int wait_code(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

class TrellisCli : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = info->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir_ = fs::temp_directory_path() / ("trellis_cli_" + name + "_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }

    fs::path path(const std::string& name) const { return dir_ / name; }

    Outcome run(const std::vector<std::string>& args, const std::vector<std::string>& extra_env = {}) {
        Outcome r;
        const pid_t pid = spawn(args, dir_ / "stdout.txt", dir_ / "stderr.txt", extra_env);
        if (pid < 0) return r;
        r.code = wait_code(pid);
        r.out = slurp(dir_ / "stdout.txt");
        r.err = slurp(dir_ / "stderr.txt");
        return r;
    }

    // Files in the work directory other than the captured output.
    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            const std::string n = e.path().filename().string();
            if (n != "stdout.txt" && n != "stderr.txt") names.push_back(n);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

// A 96x64 input with smooth colour ramps and a half-transparent band, so
// that the strokes pick up different colours along the path.
cli::Image make_input(int width = 96, int height = 64) {
    cli::Image image = cli::make_image(width, height, cli::Image::k8);
    auto& px = image.get<PF_Pixel8>();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto a = static_cast<A_u_char>(y >= height - 8 ? 128 : 255);
            px[static_cast<std::size_t>(y * width + x)] =
                PF_Pixel8{a, static_cast<A_u_char>(x * 255 / (width - 1)), static_cast<A_u_char>(y * 255 / (height - 1)),
                          static_cast<A_u_char>((x * 3 + y * 5) % 256)};
        }
    }
    return image;
}

// A small brush with soft alpha and some colour of its own.
cli::Image make_layer() {
    cli::Image image = cli::make_image(6, 12, cli::Image::k8);
    auto& px = image.get<PF_Pixel8>();
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 6; ++x) {
            const int edge = std::min(std::min(x, 5 - x), std::min(y, 11 - y));
            px[static_cast<std::size_t>(y * 6 + x)] =
                PF_Pixel8{static_cast<A_u_char>(std::min(255, 90 + edge * 80)), static_cast<A_u_char>(200 + x * 9),
                          static_cast<A_u_char>(160 + y * 7), 230};
        }
    }
    return image;
}

const char* kMask = "M 6 34 C 30 -4 62 70 90 30";

std::vector<std::string> scene_args(const fs::path& input, const fs::path& layer) {
    return {"render", "--input", input.string(), "--layer", layer.string(), "--mask", kMask,
            "--various-directions", "--on-original", "--max-width", "22", "--min-width", "30",
            "--blend", "overlay", "--seed", "3", "--time", "40", "--quiet"};
}

std::vector<std::string> plus(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

long differing_pixels(const cli::Image& a, const cli::Image& b) {
    const cli::Image a8 = cli::convert(a, cli::Image::k8);
    const cli::Image b8 = cli::convert(b, cli::Image::k8);
    const auto& pa = a8.get<PF_Pixel8>();
    const auto& pb = b8.get<PF_Pixel8>();
    long n = 0;
    for (std::size_t i = 0; i < pa.size() && i < pb.size(); ++i) {
        n += (pa[i].alpha != pb[i].alpha || pa[i].red != pb[i].red || pa[i].green != pb[i].green ||
              pa[i].blue != pb[i].blue)
                 ? 1
                 : 0;
    }
    return n;
}

template <class Pixel>
void expect_same(const std::vector<Pixel>& got, const std::vector<Pixel>& want, double tolerance) {
    ASSERT_EQ(got.size(), want.size());
    long bad = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const double g[4] = {double(got[i].alpha), double(got[i].red), double(got[i].green), double(got[i].blue)};
        const double w[4] = {double(want[i].alpha), double(want[i].red), double(want[i].green), double(want[i].blue)};
        for (int c = 0; c < 4; ++c) {
            if (!(std::abs(g[c] - w[c]) <= tolerance) && bad++ < 5) {
                ADD_FAILURE() << "pixel " << i << " channel " << c << ": " << g[c] << " against " << w[c];
            }
        }
    }
    EXPECT_EQ(bad, 0);
}

// ---------------------------------------------------------------------------
// Stills against committed references, one per depth. The references were
// made by this command once the effect drew its strokes as the effect's own
// tests require; they pin regressions, they do not prove correctness.
// TRELLIS_UPDATE_REFERENCES=1 rewrites them (and skips the comparison).
// ---------------------------------------------------------------------------
struct DepthCase {
    const char* depth;
    const char* reference;
    double tolerance;
};

void PrintTo(const DepthCase& c, std::ostream* os) { *os << c.depth << "-bit, " << c.reference; }

class TrellisReference : public TrellisCli, public ::testing::WithParamInterface<DepthCase> {};

TEST_P(TrellisReference, StillMatchesReference) {
    const DepthCase& c = GetParam();
    cli::write_image(path("input.png").string(), make_input());
    cli::write_image(path("layer.png").string(), make_layer());
    const fs::path out = path(std::string("still") + fs::path(c.reference).extension().string());
    const Outcome r = run(plus(scene_args(path("input.png"), path("layer.png")), {"--depth", c.depth, "-o", out.string()}));
    ASSERT_EQ(r.code, 0) << r.err;

    const fs::path reference = kReference / c.reference;
    if (std::getenv("TRELLIS_UPDATE_REFERENCES") != nullptr) {
        fs::create_directories(kReference);
        fs::copy_file(out, reference, fs::copy_options::overwrite_existing);
        GTEST_SKIP() << "wrote " << reference;
    }
    const cli::Image got = cli::read_image(out.string());
    const cli::Image want = cli::read_image(reference.string());
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    ASSERT_EQ(got.depth(), want.depth());
    switch (got.depth()) {
    case cli::Image::k8: expect_same(got.get<PF_Pixel8>(), want.get<PF_Pixel8>(), c.tolerance); break;
    case cli::Image::k16: expect_same(got.get<PF_Pixel16>(), want.get<PF_Pixel16>(), c.tolerance); break;
    case cli::Image::kFloat: expect_same(got.get<PF_PixelFloat>(), want.get<PF_PixelFloat>(), c.tolerance); break;
    }
    // The pinned frame really has strokes on it.
    EXPECT_GT(differing_pixels(got, cli::convert(make_input(), got.depth())), 100);
}

INSTANTIATE_TEST_SUITE_P(Depths, TrellisReference,
                         ::testing::Values(DepthCase{"8", "trellis_still_8.png", 0.0},
                                           DepthCase{"16", "trellis_still_16.png", 0.0},
                                           DepthCase{"32", "trellis_still_32.exr", 1e-6}),
                         [](const ::testing::TestParamInfo<DepthCase>& info) {
                             return std::string("depth") + info.param.depth;
                         });

// ---------------------------------------------------------------------------
// Animation
// ---------------------------------------------------------------------------
TEST_F(TrellisCli, KeyframedTimeRevealsAndHidesTheStrokes) {
    cli::write_image(path("input.png").string(), make_input());
    cli::write_image(path("layer.png").string(), make_layer());
    std::vector<std::string> args = scene_args(path("input.png"), path("layer.png"));
    args.erase(args.end() - 3, args.end() - 1);  // the still's --time 40
    const Outcome r = run(plus(args, {"--time", "0:0,4:100", "--frames", "0-4", "-o", path("anim_%02d.png").string()}));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(listing(), (std::vector<std::string>{"anim_00.png", "anim_01.png", "anim_02.png", "anim_03.png",
                                                   "anim_04.png", "input.png", "layer.png"}));

    const cli::Image input = make_input();
    // 0 % and 100 %: no stroke, the output is the input (On Original).
    for (const char* name : {"anim_00.png", "anim_04.png"}) {
        const cli::Image frame = cli::read_image(path(name).string());
        EXPECT_EQ(differing_pixels(frame, input), 0) << name;
    }
    const cli::Image middle = cli::read_image(path("anim_02.png").string());
    EXPECT_GT(differing_pixels(middle, input), 100);
}

TEST_F(TrellisCli, ParallelFramesAreIdenticalToSerialOnes) {
    cli::write_image(path("input.png").string(), make_input());
    cli::write_image(path("layer.png").string(), make_layer());
    std::vector<std::string> args = scene_args(path("input.png"), path("layer.png"));
    args.erase(args.end() - 3, args.end() - 1);
    args = plus(args, {"--time", "0:10,5:90", "--seed", "0:1,5:40", "--blend", "0:screen,3:color-burn", "--frames",
                       "0-5"});
    fs::create_directories(path("one"));
    fs::create_directories(path("two"));
    // (--blend is given twice: the last one counts.)
    const Outcome one = run(plus(args, {"--jobs", "1", "-o", path("one/f%d.png").string()}));
    ASSERT_EQ(one.code, 0) << one.err;
    const Outcome two = run(plus(args, {"--jobs", "2", "-o", path("two/f%d.png").string()}));
    ASSERT_EQ(two.code, 0) << two.err;
    for (int f = 0; f <= 5; ++f) {
        const std::string name = "f" + std::to_string(f) + ".png";
        const std::string a = slurp(path("one") / name);
        ASSERT_FALSE(a.empty()) << name;
        EXPECT_EQ(a, slurp(path("two") / name)) << name;
    }
    // The keyframes did change something between frames.
    EXPECT_NE(slurp(path("one/f1.png")), slurp(path("one/f4.png")));
}

TEST_F(TrellisCli, PlainProgressLinesNameEachFrame) {
    // Standard output is a file, as in a farm task: the lines go there.
    const Outcome r = run({"render", "--input-size", "8x8", "--layer-size", "2x2", "--mask", "M 0 4 L 8 4", "--frames",
                           "3-4", "-o", path("p%d.png").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_THAT(r.out, HasSubstr("frame 3 -> " + path("p3.png").string() + " in "));
    EXPECT_THAT(r.out, HasSubstr("frame 4 -> " + path("p4.png").string() + " in "));
    EXPECT_THAT(r.out, HasSubstr(" s (2/2"));
    const Outcome quiet = run({"render", "--input-size", "8x8", "--layer-size", "2x2", "--mask", "M 0 4 L 8 4", "-q",
                               "-o", path("q.png").string()});
    ASSERT_EQ(quiet.code, 0);
    EXPECT_EQ(quiet.err, "");
}

// ---------------------------------------------------------------------------
// Sizes and depths
// ---------------------------------------------------------------------------
TEST_F(TrellisCli, DownsampleRendersAReducedFrame) {
    struct Case {
        const char* ratio;
        int width, height;
    };
    for (const Case& c : {Case{"2", 49, 32}, Case{"3/4", 73, 48}, Case{"1", 97, 63}}) {
        const Outcome r = run({"render", "--input-size", "97x63", "--layer-size", "4x8", "--mask", "M 0 30 L 96 30",
                           "--downsample", c.ratio, "-q", "-o", path("d.png").string()});
        ASSERT_EQ(r.code, 0) << c.ratio << ": " << r.err;
        const cli::Image image = cli::read_image(path("d.png").string());
        EXPECT_EQ(image.width, c.width) << c.ratio;
        EXPECT_EQ(image.height, c.height) << c.ratio;
    }
}

TEST_F(TrellisCli, DepthFollowsTheInputUnlessGiven) {
    cli::Image in16 = cli::convert(make_input(), cli::Image::k16);
    cli::write_image(path("in16.png").string(), in16);
    cli::write_image(path("in.exr").string(), cli::convert(make_input(), cli::Image::kFloat), {cli::ExrCompression::kZip});
    cli::write_image(path("in8.png").string(), make_input());
    struct Case {
        std::vector<std::string> args;
        const char* out;
        cli::Image::Depth depth;
    };
    const std::vector<Case> cases = {
        {{"--input", path("in8.png").string()}, "a.png", cli::Image::k8},
        {{"--input", path("in16.png").string(), "--on-original"}, "b.png", cli::Image::k16},
        {{"--input", path("in.exr").string()}, "c.png", cli::Image::k16},  // float written as 16-bit PNG
        {{"--input", path("in.exr").string()}, "d.exr", cli::Image::kFloat},
        {{"--input", path("in16.png").string(), "--depth", "8"}, "e.png", cli::Image::k8},
        {{"--input-size", "5x5"}, "f.png", cli::Image::k8},
        {{"--input-size", "5x5", "--depth", "32", "--exr-compression", "piz"}, "g.exr", cli::Image::kFloat},
    };
    for (const Case& c : cases) {
        const Outcome r = run(plus(plus({"render", "-q"}, c.args), {"-o", path(c.out).string()}));
        ASSERT_EQ(r.code, 0) << c.out << ": " << r.err;
        EXPECT_EQ(cli::read_image(path(c.out).string()).depth(), c.depth) << c.out;
    }
    // Without strokes the 16-bit input comes back exactly.
    const cli::Image b = cli::read_image(path("b.png").string());
    EXPECT_EQ(b.get<PF_Pixel16>().size(), in16.get<PF_Pixel16>().size());
    EXPECT_EQ(std::memcmp(b.get<PF_Pixel16>().data(), in16.get<PF_Pixel16>().data(),
                          in16.get<PF_Pixel16>().size() * sizeof(PF_Pixel16)),
              0);
}

// ---------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------
struct ErrorCase {
    const char* what;
    std::vector<std::string> args;
    int code;
    std::vector<std::string> messages;
};

TEST_F(TrellisCli, ErrorsNameTheInputAndTheProblem) {
    { std::ofstream(path("corrupt.png"), std::ios::binary) << "\x89PNG\r\n\x1a\n not really"; }
    { std::ofstream(path("bad.svg")) << "M 0 0 L 10"; }
    const std::string out = path("out.png").string();
    const std::vector<ErrorCase> cases = {
        {"unknown flag", {"render", "--bogus", "-o", out}, 2, {"--bogus"}},
        {"no command", {}, 2, {"subcommand"}},
        {"no input", {"render", "-o", out}, 2, {"--input"}},
        {"missing image", {"render", "--input", path("none.png").string(), "-o", out}, 2, {"none.png"}},
        {"corrupt image", {"render", "--input", path("corrupt.png").string(), "-o", out}, 2, {"corrupt.png"}},
        {"corrupt layer", {"render", "--input-size", "4x4", "--layer", path("corrupt.png").string(), "-o", out}, 2,
         {"--layer", "corrupt.png"}},
        {"malformed mask", {"render", "--input-size", "4x4", "--mask", "M 0 0 L 1 x", "-o", out}, 2,
         {"--mask", "malformed path data"}},
        {"malformed mask file", {"render", "--input-size", "4x4", "--mask", "@" + path("bad.svg").string(), "-o", out},
         2, {"bad.svg"}},
        {"unreadable mask file", {"render", "--input-size", "4x4", "--mask", "@" + path("no.svg").string(), "-o", out},
         2, {"no.svg"}},
        {"bad size", {"render", "--input-size", "4by4", "-o", out}, 2, {"--input-size"}},
        {"bad colour", {"render", "--input-size", "4x4", "--input-color", "1,2,3,256", "-o", out}, 2,
         {"--input-color"}},
        {"missing module", {"render", "--input-size", "4x4", "--plugin", path("nothing.so").string(), "-o", out}, 2,
         {"cannot load the effect module", "nothing.so"}},
        {"module not a library", {"about", "--plugin", path("bad.svg").string()}, 2, {"bad.svg"}},
        {"max width too small", {"render", "--input-size", "4x4", "--max-width", "1", "-o", out}, 2,
         {"--max-width", "outside the valid range 2 to 5000"}},
        {"time keyframe too large", {"render", "--input-size", "4x4", "--time", "0:0,10:150", "-o", out}, 2,
         {"--time", "150 at frame 10", "valid range 0 to 100"}},
        {"opacity negative", {"render", "--input-size", "4x4", "--opacity", "-1", "-o", out}, 2,
         {"valid range 0 to 100"}},
        {"blend out of range", {"render", "--input-size", "4x4", "--blend", "9", "-o", out}, 2,
         {"--blend", "valid range 1 to 8"}},
        {"unknown choice", {"render", "--input-size", "4x4", "--mode", "sideways", "-o", out}, 2,
         {"--mode", "sideways", "continuous, discrete-1 or discrete-2"}},
        {"fractional seed", {"render", "--input-size", "4x4", "--seed", "1.5", "-o", out}, 2,
         {"--seed", "not a whole number"}},
        {"bad keyframes", {"render", "--input-size", "4x4", "--time", "0:10,0:20", "-o", out}, 2, {"--time"}},
        {"bad depth", {"render", "--input-size", "4x4", "--depth", "12", "-o", out}, 2, {"--depth"}},
        {"bad downsample", {"render", "--input-size", "4x4", "--downsample", "0", "-o", out}, 2, {"--downsample"}},
        {"bad frames", {"render", "--input-size", "4x4", "--frames", "5-2", "-o", out}, 2, {"--frames"}},
        {"unnumbered animation", {"render", "--input-size", "4x4", "--frames", "0-2", "-o", out}, 2,
         {"frame number"}},
        {"two conversions", {"render", "--input-size", "4x4", "--frames", "0-2", "-o", path("a%d_%d.png").string()},
         2, {"more than one"}},
        {"not an integer conversion", {"render", "--input-size", "4x4", "-o", path("a%s.png").string()}, 2,
         {"not an integer conversion"}},
        {"unknown output type", {"render", "--input-size", "4x4", "-o", path("a.txt").string()}, 2,
         {"unknown image type", ".txt"}},
        {"output folder is a file", {"render", "--input-size", "4x4", "-o", path("bad.svg/a.png").string()}, 3,
         {"bad.svg"}},
        {"missing sequence frame", {"render", "--input", path("seq.####.png").string(), "--frames", "3", "-o", out},
         2, {"seq.0003.png"}},
        {"bad frame list", {"render", "--input-size", "4x4", "--frames", "1,5-x", "-o", path("a.#.png").string()}, 2,
         {"--frames", "1,5-x"}},
        {"zero step", {"render", "--input-size", "4x4", "--frames", "1-9x0", "-o", path("a.#.png").string()}, 2,
         {"--frames", "step"}},
        {"unknown colour space", {"render", "--input-size", "4x4", "--input-colorspace", "nowhere", "-o", out}, 2,
         {"--input-colorspace", "nowhere"}},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome r = run(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_THAT(r.err, ::testing::StartsWith("trellis: error: "));
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        for (const std::string& m : c.messages) EXPECT_THAT(r.err, HasSubstr(m));
        EXPECT_FALSE(fs::exists(out));
    }
    EXPECT_EQ(listing(), (std::vector<std::string>{"bad.svg", "corrupt.png"}));
}

// The whole line, so the flag's place at the front is held too.
TEST_F(TrellisCli, CommandLineMistakesNameTheWordSuggestAndPointAtTheCommandsHelp) {
    const std::string stroke = path("stroke.svg").string();
    { std::ofstream(stroke) << "M 0 0 L 5 5"; }
    const std::string out = path("out.png").string();
    const struct {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"render", "--input-size", "4x4", "--max-widht", "200", "-o", out},
         "--max-widht: no such flag for trellis render; did you mean --max-width? (see trellis render --help)"},
        {{"render", "--input-size", "4x4", "--max-widht=200", "-o", out},
         "--max-widht: no such flag for trellis render; did you mean --max-width? (see trellis render --help)"},
        // An unknown flag outranks what else is wrong (here: no -o).
        {{"render", "--input-size", "4x4", "--skip"},
         "--skip: no such flag for trellis render; did you mean --skip-existing? (see trellis render --help)"},
        {{"preview", "--prot", "4000"},
         "--prot: no such flag for trellis preview; did you mean --port? (see trellis preview --help)"},
        {{"render", "--port", "4000", "-o", out},
         "--port: no such flag for trellis render, only for trellis preview (see trellis render --help)"},
        {{"render", "--zebra", "-o", out}, "--zebra: no such flag for trellis render (see trellis render --help)"},
        {{"render", "--input-size", "4x4", "-o", out, "stray"},
         "unexpected argument \"stray\" (see trellis render --help)"},
        {{"rendr", "--input-size", "4x4"}, "rendr: no such command; did you mean render? (see trellis --help)"},
        {{"frobnicate"}, "frobnicate: no such command (see trellis --help)"},
        {{"--bogus", "about"}, "--bogus: no such flag for trellis (see trellis --help)"},
        {{"render", "--input-size", "4x4", "--jobs", "0", "-o", out},
         "--jobs: Value 0 not in range 1 to 1024 (see trellis render --help)"},
        {{"render", "--input-size", "4x4", "--on-original=maybe", "-o", out},
         "--on-original: expected true or false, found \"maybe\" (see trellis render --help)"},
        {{"render", "--input-size", "4x4", "--mask", stroke, "-o", out},
         "--mask: " + stroke + " is a file, not path data; did you mean @" + stroke + "?"},
        {{"render", "--input-size", "4x4", "--mask", "0:" + stroke + ",4:@" + stroke, "-o", out},
         "--mask: key 0: " + stroke + " is a file, not path data; did you mean @" + stroke + "?"},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.code, 2) << c.line;
        EXPECT_EQ(r.err, "trellis: error: " + c.line + "\n");
    }
    EXPECT_EQ(listing(), std::vector<std::string>{"stroke.svg"});
}

TEST_F(TrellisCli, ModuleFromTheEnvironment) {
    const Outcome bad = run({"about"}, {"TRELLIS_PLUGIN=" + path("gone.so").string()});
    EXPECT_EQ(bad.code, 2);
    EXPECT_THAT(bad.err, HasSubstr("TRELLIS_PLUGIN"));
    EXPECT_THAT(bad.err, HasSubstr("gone.so"));
    const Outcome good = run({"about"}, {std::string("TRELLIS_PLUGIN=") + TRELLIS_MODULE_PATH});
    EXPECT_EQ(good.code, 0) << good.err;
}

TEST_F(TrellisCli, EffectErrorShowsCodeAndMessageAndLeavesNoFile) {
    const Outcome still = run({"render", "--plugin", TRELLIS_FAILING_MODULE_PATH, "--input-size", "4x4", "--frames", "2",
                           "-o", path("still.png").string()});
    EXPECT_EQ(still.code, 1);
    EXPECT_EQ(still.err,
              "trellis: error: frame 2: the effect failed with error 4 (out of memory): Memory Error!; 0 of 1 frames "
              "written\n");
    EXPECT_FALSE(fs::exists(path("still.png")));

    // Frames before the failing one stay; the failing one and later ones
    // leave nothing, not even a temporary file.
    const Outcome anim = run({"render", "--plugin", TRELLIS_FAILING_MODULE_PATH, "--input-size", "4x4", "--frames", "0-5",
                          "--jobs", "1", "-q", "-o", path("f%d.png").string()});
    EXPECT_EQ(anim.code, 1);
    EXPECT_THAT(anim.err, HasSubstr("frame 2: the effect failed with error 4"));
    EXPECT_THAT(anim.err, ::testing::EndsWith("; 2 of 6 frames written\n"));
    EXPECT_EQ(listing(), (std::vector<std::string>{"f0.png", "f1.png"}));
}

TEST_F(TrellisCli, SeveralSubpathsWarnAndUseTheFirst) {
    const Outcome r = run({"render", "--input-size", "40x40", "--layer-size", "4x4", "--mask",
                       "M 2 20 L 38 20 M 20 2 L 20 38", "-q", "-o", path("w.png").string()});
    EXPECT_EQ(r.code, 0);
    EXPECT_THAT(r.err, HasSubstr("trellis: warning: --mask: "));
    EXPECT_TRUE(fs::exists(path("w.png")));
}

// ---------------------------------------------------------------------------
// about and help
// ---------------------------------------------------------------------------
TEST_F(TrellisCli, AboutShowsTextParametersAndRegistration) {
    const Outcome r = run({"about"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, ::testing::StartsWith("NorvexLattice, v1.0\nRivuzovezod!\n"));
    EXPECT_THAT(r.out, Not(HasSubstr("\r")));
    EXPECT_THAT(r.out, HasSubstr("\"NorvexTrellis\" in the category \"Norvex\", match name \"NorvexTrellis by Dorsaveli\""));
    for (const char* name : {"Path", "Layer", "Mode", "Time", "Max Width", "Min Width", "Various Directions",
                             "Color Blend Mode", "Color Opacity", "Seed", "On Original"}) {
        EXPECT_THAT(r.out, HasSubstr(name));
    }
    EXPECT_THAT(r.out, HasSubstr("valid 2 to 5000, slider 2 to 500, default 300"));
    EXPECT_THAT(r.out, HasSubstr("default 5 (Screen)"));
    EXPECT_THAT(r.out, HasSubstr("Continuous, 2 Discrete 1, 3 Discrete 2"));
}

TEST_F(TrellisCli, HelpForEveryCommand) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"render", "--help"}, {"demo", "--help"}, {"about", "--help"}}) {
        const Outcome r = run(args);
        EXPECT_EQ(r.code, 0) << args.front();
        EXPECT_THAT(r.out, HasSubstr("Usage"));
    }
    const std::string help = run({"render", "--help"}).out;
    EXPECT_THAT(help, HasSubstr("--time"));
    for (const char* code : {"0 done", "1 the effect", "2 a bad command line", "3 an output", "75 a failure", "128+N"}) {
        EXPECT_THAT(help, HasSubstr(code));
    }
}

// ---------------------------------------------------------------------------
// Interrupt
// ---------------------------------------------------------------------------
TEST_F(TrellisCli, InterruptStopsCleanlyKeepingFinishedFrames) {
    const int last = 400;
    const pid_t pid = spawn({"render", "--input-size", "480x320", "--layer-size", "16x32", "--mask",
                             "M 10 160 C 100 0 380 320 470 160", "--max-width", "40", "--frames",
                             "0-" + std::to_string(last), "--jobs", "2", "-o", path("i%03d.png").string()},
                            path("stdout.txt"), path("stderr.txt"));
    ASSERT_GT(pid, 0);
    // Wait for the first finished frame, then interrupt.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline && slurp(path("stdout.txt")).find("frame ") == std::string::npos) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(kill(pid, SIGINT), 0);
    const int code = wait_code(pid);
    const std::string err = slurp(path("stderr.txt"));
    EXPECT_EQ(code, 130) << err;
    EXPECT_THAT(err, HasSubstr("trellis: interrupted"));
    const std::string out = slurp(path("stdout.txt"));

    std::vector<std::string> names = listing();
    EXPECT_GE(names.size(), 1u);
    EXPECT_LT(names.size(), static_cast<std::size_t>(last + 1));
    for (const std::string& n : names) {
        // Only whole frames: no temporary file, each one readable.
        EXPECT_EQ(n.front(), 'i') << n;
        EXPECT_NO_THROW(cli::read_image(path(n).string())) << n;
        EXPECT_THAT(out, HasSubstr(path(n).string()));
    }
}

// ---------------------------------------------------------------------------
// Movies
// ---------------------------------------------------------------------------
// Six inputs that differ frame to frame, as a PNG sequence and as an FFV1
// movie at 25 fps.
void write_footage(const fs::path& dir) {
    cli::MovieSettings settings;
    settings.rate = cli::FrameRate{25, 1};
    cli::MovieWriter movie((dir / "in.mkv").string(), 96, 64, cli::Image::k8, settings);
    for (int f = 0; f < 6; ++f) {
        cli::Image frame = make_input();
        for (PF_Pixel8& p : frame.get<PF_Pixel8>()) p.blue = static_cast<A_u_char>(p.blue + f * 40);
        char name[32];
        std::snprintf(name, sizeof name, "in_%04d.png", f);
        cli::write_image((dir / name).string(), frame);
        movie.write(frame);
    }
    movie.finish();
}

TEST_F(TrellisCli, MovieInAndOutMatchesTheSameFramesAsImages) {
    write_footage(dir_);
    cli::write_image(path("layer.png").string(), make_layer());
    std::vector<std::string> args = scene_args(path("in_####.png"), path("layer.png"));
    args.erase(args.end() - 3, args.end() - 1);
    args = plus(args, {"--time", "0:10,4:90", "--frames", "0-4", "--input-offset", "1"});
    fs::create_directories(path("seq"));
    const Outcome images = run(plus(args, {"-o", path("seq/f%d.png").string()}));
    ASSERT_EQ(images.code, 0) << images.err;
    args[2] = path("in.mkv").string();
    const Outcome movie = run(plus(args, {"--jobs", "2", "-o", path("out.mkv").string()}));
    ASSERT_EQ(movie.code, 0) << movie.err;

    cli::MovieReader out(path("out.mkv").string());
    ASSERT_EQ(out.info().frames, 5);
    // The input movie's rate is the output's.
    EXPECT_EQ(out.info().rate.num, 25);
    EXPECT_EQ(out.info().rate.den, 1);
    for (int f = 0; f < 5; ++f) {
        const cli::Image want = cli::read_image(path("seq/f" + std::to_string(f) + ".png").string());
        EXPECT_EQ(differing_pixels(out.read(f), want), 0) << "frame " << f;
    }
    // Neighbouring frames differ, so a frame out of order would show.
    EXPECT_GT(differing_pixels(out.read(1), cli::read_image(path("seq/f2.png").string())), 100);
}

TEST_F(TrellisCli, FailedOrInterruptedMovieLeavesNothing) {
    write_footage(dir_);
    fs::remove_all(path("out"));
    const Outcome past = run({"render", "--input", path("in.mkv").string(), "--frames", "3-6", "-q", "-o",
                              path("out/past.mov").string()});
    EXPECT_EQ(past.code, 2);
    EXPECT_THAT(past.err, HasSubstr(path("in.mkv").string() + ": no frame 6"));
    const Outcome failing = run({"render", "--plugin", TRELLIS_FAILING_MODULE_PATH, "--input-size", "4x4", "--frames",
                                 "0-5", "-q", "-o", path("out/fail.mkv").string()});
    EXPECT_EQ(failing.code, 1);
    EXPECT_THAT(failing.err, HasSubstr("frame 2: the effect failed"));

    const pid_t pid = spawn({"render", "--input-size", "480x320", "--layer-size", "16x32", "--mask",
                             "M 10 160 C 100 0 380 320 470 160", "--max-width", "40", "--frames", "0-400", "--jobs",
                             "2", "-o", path("out/stopped.mp4").string()},
                            path("stdout.txt"), path("stderr.txt"));
    ASSERT_GT(pid, 0);
    while (slurp(path("stdout.txt")).find("frame ") == std::string::npos) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(kill(pid, SIGINT), 0);
    EXPECT_EQ(wait_code(pid), 130);
    // No movie, and no temporary file beside it.
    std::vector<std::string> left;
    if (fs::exists(path("out"))) {
        for (const auto& e : fs::directory_iterator(path("out"))) left.push_back(e.path().filename().string());
    }
    EXPECT_TRUE(left.empty()) << left.front();
}

// ---------------------------------------------------------------------------
// Sequences and farm-safe outputs
// ---------------------------------------------------------------------------
// Frame `f` of a made-up plate: the input with its colours moved along.
cli::Image plate_frame(int f) {
    cli::Image image = make_input();
    for (PF_Pixel8& p : image.get<PF_Pixel8>()) {
        p.red = static_cast<A_u_char>(p.red + 37 * f);
        p.blue = static_cast<A_u_char>(p.blue + 101 * f);
    }
    return image;
}

std::string numbered(const char* pattern, int f) {
    char name[64];
    std::snprintf(name, sizeof name, pattern, f);
    return name;
}

// The same writer, so the same pixels make the same bytes.
bool same_file(const fs::path& a, const fs::path& b) {
    const std::string bytes = slurp(a);
    return !bytes.empty() && bytes == slurp(b);
}

TEST_F(TrellisCli, SequenceFramesEqualStillRendersOfTheirSourceFrames) {
    for (int f = 1; f <= 5; ++f) cli::write_image(path(numbered("in.%04d.png", f)).string(), plate_frame(f));
    for (int f = 2; f <= 6; ++f) {
        cli::Image brush = make_layer();
        for (PF_Pixel8& p : brush.get<PF_Pixel8>()) p.green = static_cast<A_u_char>(p.green - 40 * f);
        cli::write_image(path(numbered("brush_%02d.png", f)).string(), brush);
    }
    std::vector<std::string> args = scene_args(path("in.####.png"), path("brush_@@.png"));
    args.erase(args.end() - 3, args.end() - 1);
    args = plus(args, {"--time", "0:20,4:90", "--seed", "0:1,4:9", "--input-offset", "1", "--layer-offset", "2"});
    // Frames 0, 2, 4 and 3, through a folder that does not exist yet.
    const Outcome seq = run(plus(args, {"--frames", "0-4x2,3,2", "-o", path("out/seq.###.png").string()}));
    ASSERT_EQ(seq.code, 0) << seq.err;
    std::vector<std::string> written;
    for (const auto& e : fs::directory_iterator(path("out"))) written.push_back(e.path().filename().string());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"seq.000.png", "seq.002.png", "seq.003.png", "seq.004.png"}));

    for (int f : {0, 2, 3, 4}) {
        SCOPED_TRACE(f);
        std::vector<std::string> still = scene_args(path(numbered("in.%04d.png", f + 1)),
                                                    path(numbered("brush_%02d.png", f + 2)));
        still.erase(still.end() - 3, still.end() - 1);
        still = plus(still, {"--time", "0:20,4:90", "--seed", "0:1,4:9", "--frames", std::to_string(f), "-o",
                             path("still.png").string()});
        const Outcome r = run(still);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(same_file(path("still.png"), path(numbered("out/seq.%03d.png", f))));
    }
    EXPECT_FALSE(same_file(path("out/seq.002.png"), path("out/seq.004.png")));
}

// Everything a render needs is checked before its first frame: a job that
// cannot finish writes nothing, and the error names what is there.
TEST_F(TrellisCli, TheJobIsCheckedBeforeTheFirstFrame) {
    write_footage(dir_);  // in.mkv and in_0000.png to in_0005.png
    for (int f = 1001; f <= 1005; ++f) cli::write_image(path(numbered("shot.%04d.png", f)).string(), plate_frame(f));
    cli::write_image(path("gap.1.png").string(), make_input());
    cli::write_image(path("gap.3.png").string(), make_input());
    cli::write_image(path("size.1.png").string(), make_input());
    cli::write_image(path("size.2.png").string(), make_input());
    cli::write_image(path("size.3.png").string(), make_input(96, 60));
    const std::string shot = path("shot.####.png").string();
    const std::string out = path("out/o.####.png").string();
    const std::vector<ErrorCase> cases = {
        {"sequence past its end", {"render", "--input", shot, "--frames", "1003-1008", "-o", out}, 2,
         {"--input " + shot + ": no frames 1006-1008 (" + path("shot.1006.png").string() + ", ...); " + shot +
          " has frames 1001-1005"}},
        {"offset past the end", {"render", "--input", shot, "--input-offset", "1001", "--frames", "0-9", "-o", out}, 2,
         {"no frames 1006-1010", "for frames 5-9 (--input-offset 1001)"}},
        {"movie past its end", {"render", "--input", path("in.mkv").string(), "--frames", "3-9", "-o",
                                path("out/m.mp4").string()},
         2, {"in.mkv: no frames 6-9; ", "has frames 0-5"}},
        {"a gap in the sequence", {"render", "--input", path("gap.#.png").string(), "--jobs", "1", "-o", out}, 2,
         {"no frame 2 (" + path("gap.2.png").string() + ")", "has frames 1,3"}},
        {"a Layer shorter than the shot",
         {"render", "--input", shot, "--layer", path("in.mkv").string(), "--layer-offset", "-998", "-o", out}, 2,
         {"--layer ", "no frames 6-7 for frames 1004-1005 (--layer-offset -998)", "--layer-end hold or loop"}},
        {"a later frame of another size", {"render", "--input", path("size.#.png").string(), "--jobs", "1", "-o", out},
         2, {"size.3.png", "96x60", "unlike frame 1"}},
        {"no file of the sequence", {"render", "--input", path("none.####.png").string(), "-o", out}, 2,
         {"none.####.png: no frame of it is there"}},
        {"a sequence into one image", {"render", "--input", shot, "-o", path("one.png").string()}, 2,
         {"5 frames need a frame number", "--frames picks others"}},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome r = run(plus(c.args, {"-q"}));
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        for (const std::string& m : c.messages) EXPECT_THAT(r.err, HasSubstr(m));
        EXPECT_FALSE(fs::exists(path("out")));
        EXPECT_FALSE(fs::exists(path("one.png")));
    }
}

// Without --frames the input's own frames render; --output-offset puts the
// plate's numbers back after --input-offset; --layer-end reuses the Layer.
TEST_F(TrellisCli, FramesDefaultToTheInputsOwnAndLayersHoldOrLoop) {
    write_footage(dir_);
    for (int f = 1001; f <= 1005; ++f) cli::write_image(path(numbered("shot.%04d.png", f)).string(), plate_frame(f));
    cli::write_image(path("shot.1001.exr").string(), plate_frame(0));  // another sequence beside it
    cli::write_image(path("shot.01006.png").string(), plate_frame(0));  // not of "####"
    std::vector<std::string> args = scene_args(path("shot.####.png"), path("layer.png"));
    cli::write_image(path("layer.png").string(), make_layer());
    const Outcome plain = run(plus(args, {"-o", path("a/f.####.png").string()}));
    ASSERT_EQ(plain.code, 0) << plain.err;
    const Outcome shifted = run(plus(args, {"--input-offset", "1001", "--output-offset", "1001", "-o",
                                            path("b/f.####.png").string()}));
    ASSERT_EQ(shifted.code, 0) << shifted.err;
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path("a"))) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"f.1001.png", "f.1002.png", "f.1003.png", "f.1004.png", "f.1005.png"}));
    // Time is the render frame's: 0-4 against 1001-1005, so only the
    // constant --time keeps the pixels equal.
    for (const std::string& n : names) EXPECT_TRUE(same_file(path("a") / n, path("b") / n)) << n;

    const Outcome movie = run({"render", "--input", path("in.mkv").string(), "-q", "-o", path("all.mkv").string()});
    ASSERT_EQ(movie.code, 0) << movie.err;
    EXPECT_EQ(cli::MovieReader(path("all.mkv").string()).info().frames, 6);

    // A still input, the sequence as Layer at frames 0-11: frame f shows
    // Layer frame 1001 + f, held at its last or looped.
    cli::write_image(path("input.png").string(), make_input());
    std::vector<std::string> layered = scene_args(path("input.png"), path("shot.####.png"));
    layered = plus(layered, {"--layer-offset", "1001", "--frames", "0-11"});
    for (const char* end : {"hold", "loop"}) {
        SCOPED_TRACE(end);
        const fs::path dir = path(end);
        const Outcome r = run(plus(layered, {"--layer-end", end, "-o", (dir / "f%d.png").string()}));
        ASSERT_EQ(r.code, 0) << r.err;
        for (int f = 5; f <= 11; ++f) {
            const int same = std::string(end) == "hold" ? 4 : f % 5;
            EXPECT_TRUE(same_file(dir / numbered("f%d.png", f), dir / numbered("f%d.png", same))) << f;
        }
        EXPECT_FALSE(same_file(dir / "f1.png", dir / "f2.png"));
    }
}

// A render in which no frame can show a stroke still succeeds, with one
// warning saying why.
TEST_F(TrellisCli, NoStrokeInAnyFrameIsWarnedAbout) {
    cli::write_image(path("input.png").string(), make_input());
    cli::write_image(path("layer.png").string(), make_layer());
    const std::vector<std::string> scene = scene_args(path("input.png"), path("layer.png"));
    std::vector<std::string> unmasked = scene;
    unmasked.erase(unmasked.begin() + 5, unmasked.begin() + 7);  // --mask kMask
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::vector<std::string> reasons;  // none: no warning
    };
    const std::vector<Case> cases = {
        {"strokes", scene, {}},
        {"no mask, no Layer", {"render", "--input", path("input.png").string()}, {"no mask", "no Layer"}},
        {"mask beside the frame", plus(unmasked, {"--mask", "M 100 10 L 190 60"}), {"the mask lies outside the frame"}},
        {"mask in only one frame", plus(unmasked, {"--mask", "0:M 100 10 L 190 60,2:M 6 34 L 90 30", "--frames", "0-2"}),
         {}},
        {"Time at both ends", plus(scene, {"--time", "0:0,4:100", "--frames", "0,4"}), {"\"Time\" is 0 or 100 %"}},
        {"Time between", plus(scene, {"--time", "0:0,4:100", "--frames", "0-4"}), {}},
        {"Time 0, mask outside",
         plus(unmasked, {"--time", "0:0,1:50", "--mask", "0:M 6 34 L 90 30,1:M 100 10 L 190 60", "--frames", "0-1"}),
         {"\"Time\" is 0 or 100 %", "outside the frame"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome r = run(plus(plus(c.args, {"-q"}), {"-o", path("w%d.png").string()}));
        EXPECT_EQ(r.code, 0) << r.err;
        if (c.reasons.empty()) {
            EXPECT_EQ(r.err, "");
            continue;
        }
        EXPECT_THAT(r.err, ::testing::StartsWith("trellis: warning: no frame has a stroke: "));
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        for (const std::string& m : c.reasons) EXPECT_THAT(r.err, HasSubstr(m));
    }
}

TEST_F(TrellisCli, SkipExistingLeavesWrittenFramesAndTheirInputsAlone) {
    for (int f = 0; f <= 2; ++f) cli::write_image(path(numbered("in.%04d.png", f)).string(), plate_frame(f));
    const std::vector<std::string> args = {"render", "--input", path("in.%04d.png").string(), "--frames", "0-2",
                                           "--quiet", "-o", path("o.%d.png").string()};
    // Stand-ins for frames done earlier; their inputs have gone since.
    cli::write_image(path("o.0.png").string(), cli::make_image(2, 2, cli::Image::k8));
    cli::write_image(path("o.1.png").string(), cli::make_image(2, 2, cli::Image::k8));
    fs::remove(path("in.0000.png"));
    fs::remove(path("in.0001.png"));
    const Outcome skip = run(plus(args, {"--skip-existing"}));
    ASSERT_EQ(skip.code, 0) << skip.err;
    EXPECT_EQ(cli::read_image(path("o.0.png").string()).width, 2);
    EXPECT_EQ(cli::read_image(path("o.1.png").string()).width, 2);
    EXPECT_EQ(cli::read_image(path("o.2.png").string()).width, 96);

    // Without the flag the frame is rendered again, so its input is needed.
    const Outcome again = run(args);
    EXPECT_EQ(again.code, 2);
    EXPECT_THAT(again.err, HasSubstr("in.0000.png"));
}

// Sends `sig` once the first frame is written; the render must stop by it.
class TrellisSignal : public TrellisCli, public ::testing::WithParamInterface<int> {};

TEST_P(TrellisSignal, StopsKeepingWholeFramesAndEndsByTheSignal) {
    const int sig = GetParam();
    const pid_t pid = spawn({"render", "--input-size", "480x320", "--layer-size", "16x32", "--mask",
                             "M 10 160 C 100 0 380 320 470 160", "--max-width", "40", "--depth", "32", "--frames",
                             "0-400", "--jobs", "2", "--exr-compression", "none", "-o", path("out/t.####.exr").string()},
                            path("stdout.txt"), path("stderr.txt"));
    ASSERT_GT(pid, 0);
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && slurp(path("stdout.txt")).find("frame ") == std::string::npos) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(done, 0) << "the render ended before the signal";
    ASSERT_EQ(kill(pid, sig), 0);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "status " << status;
    const std::string err = slurp(path("stderr.txt"));
    EXPECT_THAT(err, HasSubstr("trellis: interrupted"));
    const std::string out = slurp(path("stdout.txt"));

    std::size_t frames = 0;
    for (const auto& e : fs::directory_iterator(path("out"))) {
        const std::string n = e.path().filename().string();
        EXPECT_EQ(n.rfind("t.", 0), 0u) << n;  // no temporary file
        EXPECT_NO_THROW(cli::read_image(e.path().string())) << n;
        EXPECT_THAT(out, HasSubstr(e.path().string()));
        ++frames;
    }
    EXPECT_GE(frames, 1u);
    EXPECT_LT(frames, 401u);
}

INSTANTIATE_TEST_SUITE_P(Signals, TrellisSignal, ::testing::Values(SIGTERM, SIGHUP),
                         [](const auto& info) { return info.param == SIGTERM ? "SIGTERM" : "SIGHUP"; });

TEST_F(TrellisCli, FullDiskEndsWithExit75AndLeavesNothing) {
    const fs::path disk = path("disk");
    fs::create_directories(disk);
    if (mount("trellis-test", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    }
    // 1 MB of uncompressed float samples into 64 KiB.
    const Outcome r = run({"render", "--input-size", "256x256", "--depth", "32", "--exr-compression", "none",
                           "--quiet", "-o", (disk / "big.exr").string()});
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(disk)) left.push_back(e.path().filename().string());
    umount(disk.c_str());
    // Worth a retry, unlike an output that can never be written (exit 3).
    EXPECT_EQ(r.code, 75) << r.err;
    EXPECT_THAT(r.err, ::testing::StartsWith("trellis: error: "));
    EXPECT_THAT(r.err, HasSubstr("big.exr"));
    EXPECT_EQ(left, std::vector<std::string>{});
}

TEST_F(TrellisCli, ColourFlagsConvertInputAndOutput) {
    const std::vector<std::string> still = {"render", "--input-size", "4x4", "--input-color", "128,64,255,255",
                                            "--time", "0", "--on-original", "--depth", "32", "--quiet"};
    const Outcome lin = run(plus(still, {"--input-colorspace", "sRGB", "--working-colorspace", "linear", "-o",
                                         path("lin.exr").string()}));
    ASSERT_EQ(lin.code, 0) << lin.err;
    const auto to_linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    const PF_PixelFloat p = cli::read_image(path("lin.exr").string()).get<PF_PixelFloat>()[0];
    EXPECT_NEAR(p.red, to_linear(128 / 255.0), 2e-4);
    EXPECT_NEAR(p.green, to_linear(64 / 255.0), 2e-4);
    EXPECT_NEAR(p.blue, 1.0, 2e-4);
    EXPECT_FLOAT_EQ(p.alpha, 1.0f);

    // Into linear and back out to sRGB: the stored values again.
    const Outcome back = run(plus(still, {"--input-colorspace", "sRGB", "--output-colorspace", "sRGB", "-o",
                                          path("back.exr").string()}));
    ASSERT_EQ(back.code, 0) << back.err;
    const PF_PixelFloat q = cli::read_image(path("back.exr").string()).get<PF_PixelFloat>()[0];
    EXPECT_NEAR(q.red, 128 / 255.0, 2e-4);
    EXPECT_NEAR(q.green, 64 / 255.0, 2e-4);

    // Without colour flags the values go through as stored.
    const Outcome plain = run(plus(still, {"-o", path("plain.exr").string()}));
    ASSERT_EQ(plain.code, 0) << plain.err;
    EXPECT_EQ(cli::read_image(path("plain.exr").string()).get<PF_PixelFloat>()[0].red, 128 / 255.0f);
}

// ---------------------------------------------------------------------------
// Farm tasks
// ---------------------------------------------------------------------------
TEST_F(TrellisCli, ChunksOfAFrameListAddUpToTheWholeRun) {
    const Outcome listed = run({"frames", "1-100x5,120", "--chunks", "4"});
    ASSERT_EQ(listed.code, 0) << listed.err;
    EXPECT_EQ(listed.out, "1-21x5\n26-46x5\n51-71x5\n76-96x5,120\n");

    cli::write_image(path("input.png").string(), make_input());
    cli::write_image(path("layer.png").string(), make_layer());
    std::vector<std::string> args = scene_args(path("input.png"), path("layer.png"));
    args.erase(args.end() - 3, args.end() - 1);
    args = plus(args, {"--time", "0:10,6:90", "--frames", "0-6"});
    ASSERT_EQ(run(plus(args, {"-o", path("whole/f%d.png").string()})).code, 0);
    // Parts 1 and 3 by number, part 2 as Slurm's third array task from 5 by 2.
    ASSERT_EQ(run(plus(args, {"--chunk", "1/3", "-o", path("part1/f%d.png").string()})).code, 0);
    ASSERT_EQ(run(plus(args, {"--chunk", "3/3", "-o", path("part3/f%d.png").string()})).code, 0);
    const Outcome task = run(plus(args, {"--chunk", "slurm", "-o", path("part2/f%d.png").string()}),
                             {"SLURM_ARRAY_TASK_ID=7", "SLURM_ARRAY_TASK_MIN=5", "SLURM_ARRAY_TASK_STEP=2",
                              "SLURM_ARRAY_TASK_COUNT=3"});
    ASSERT_EQ(task.code, 0) << task.err;
    const std::vector<std::vector<int>> parts = {{0, 1}, {2, 3}, {4, 5, 6}};
    for (std::size_t p = 0; p < parts.size(); ++p) {
        const fs::path folder = path("part" + std::to_string(p + 1));
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()),
                  static_cast<long>(parts[p].size())) << folder;
        for (const int f : parts[p]) {
            const std::string name = "f" + std::to_string(f) + ".png";
            const std::string whole = slurp(path("whole") / name);
            ASSERT_FALSE(whole.empty()) << name;
            EXPECT_EQ(slurp(folder / name), whole) << name;
        }
    }

    for (const char* bad : {"0/3", "4/3", "2", "slurm"}) {
        const Outcome r = run({"render", "--input-size", "8x8", "--chunk", bad, "-o", path("x.png").string()});
        EXPECT_EQ(r.code, 2) << bad;
        EXPECT_THAT(r.err, HasSubstr("--chunk")) << bad;
    }
}

TEST_F(TrellisCli, VerifyNamesMissingAndUnreadableFramesThenEncodeMakesTheRendersMovie) {
    const std::vector<std::string> scene = {"--input-size", "24x16", "--input-color", "40,90,160,255",
                                            "--layer-size", "4x4",    "--mask",        "M 2 8 L 22 8",
                                            "--time",       "0:0,3:100", "--frames",   "0-3", "--quiet"};
    for (const std::string depth : {"8", "32"}) {
        SCOPED_TRACE("depth " + depth);
        const std::string frames = path("d" + depth + "/f.####.png").string();
        const std::string direct = path("direct" + depth + ".mkv").string();
        ASSERT_EQ(run(plus(plus({"render"}, scene), {"--depth", depth, "-o", frames})).code, 0);
        ASSERT_EQ(run(plus(plus({"render"}, scene), {"--depth", depth, "-o", direct})).code, 0);
        const Outcome ok = run({"verify", "0-3", "-o", frames});
        EXPECT_EQ(ok.code, 0) << ok.err;
        EXPECT_EQ(ok.out, "");

        const std::string encoded = path("encoded" + depth + ".mkv").string();
        const Outcome enc = run({"encode", frames, "--frames", "0-3", "-o", encoded, "-q"});
        ASSERT_EQ(enc.code, 0) << enc.err;
        // The same samples reach the encoder as in the render's own movie.
        cli::MovieReader a(direct), b(encoded);
        ASSERT_EQ(b.info().frames, 4);
        EXPECT_EQ(b.info().depth, a.info().depth);
        for (int f = 0; f < 4; ++f) {
            const cli::Image x = a.read(f), y = b.read(f);
            EXPECT_TRUE(x.pixels == y.pixels) << "frame " << f;
        }
    }
    const std::string frames = path("d8/f.####.png").string();
    fs::remove(path("d8/f.0001.png"));
    std::ofstream(path("d8/f.0002.png")) << "not a picture";
    const Outcome bad = run({"verify", "0-3", "-o", frames});
    EXPECT_EQ(bad.code, 1);
    EXPECT_THAT(bad.out, ::testing::StartsWith("missing 1 " + path("d8/f.0001.png").string() + "\nunreadable 2 " +
                                                path("d8/f.0002.png").string() + ": "));
    EXPECT_THAT(bad.err, HasSubstr("2 of 4 frames"));
    // Nothing is written from a sequence with a hole.
    EXPECT_EQ(run({"encode", frames, "--frames", "0-3", "-o", path("holes.mkv").string(), "-q"}).code, 2);
    EXPECT_FALSE(fs::exists(path("holes.mkv")));
}

TEST_F(TrellisCli, FarmScriptsNameEveryFileAbsolutelyAndRenderTheirTasksPart) {
    cli::write_image(path("layer.png").string(), make_layer());
    std::ofstream(path("mask.svg")) << "M 2 8 C 8 0 16 16 22 8";
    // Relative names, from the job's own folder.
    const std::string farm = "cd " + dir_.string() + " && " TRELLIS_CLI_PATH
                             " farm slurm --input-size 24x16 --layer layer.png --mask @mask.svg --time 0:0,4:100"
                             " --frames 0-4 --chunks 2 --job-dir job -o out/f.####.png 2> farm.txt";
    ASSERT_EQ(std::system(farm.c_str()), 0) << slurp(path("farm.txt"));
    const std::string script = slurp(path("job/render.sbatch"));
    EXPECT_THAT(script, HasSubstr("#SBATCH --array=1-2\n"));
    EXPECT_THAT(script, HasSubstr("--layer " + path("layer.png").string()));
    EXPECT_THAT(script, HasSubstr("--mask @" + path("mask.svg").string()));
    EXPECT_FALSE(fs::exists(path("job/assemble.sbatch")));
    EXPECT_THAT(slurp(path("job/README.txt")), HasSubstr("2  2-4\n"));

    // The second task, run by hand from elsewhere, renders frames 2 to 4 only.
    const std::string task = "cd / && SLURM_ARRAY_TASK_ID=2 SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_COUNT=2 bash " +
                             path("job/render.sbatch").string() + " > /dev/null 2>&1";
    ASSERT_EQ(std::system(task.c_str()), 0);
    const Outcome whole = run({"render", "--input-size", "24x16", "--layer", path("layer.png").string(), "--mask",
                               "@" + path("mask.svg").string(), "--time", "0:0,4:100", "--frames", "0-4", "-q", "-o",
                               path("whole/f.####.png").string()});
    ASSERT_EQ(whole.code, 0) << whole.err;
    for (int f = 0; f <= 4; ++f) {
        const std::string name = "f.000" + std::to_string(f) + ".png";
        EXPECT_EQ(fs::exists(path("out") / name), f >= 2) << name;
        if (f >= 2) {
            EXPECT_EQ(slurp(path("out") / name), slurp(path("whole") / name)) << name;
        }
    }
}

// One rule: a flag the output cannot honour is refused before anything is
// written; a choice that works but probably looks wrong is one warning.
TEST_F(TrellisCli, FlagsThatCannotApplyAreRefusedOrWarnedAbout) {
    // A stroke is drawn, so that the only warnings are the ones asked about.
    const std::vector<std::string> solid = {"render", "--input-size", "4x4", "--layer-size", "2x2",
                                            "--mask", "M 0 2 L 4 2", "--quiet"};
    const std::vector<std::string> colour = plus(solid, {"--input-colorspace", "sRGB"});
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* out;
        std::vector<std::string> env;
        int code;
        std::string message;  // "" for none
    };
    const std::vector<Case> cases = {
        {"exr type into png", plus(solid, {"--exr-type", "half"}), "x.png", {}, 2, "--exr-type: only for an .exr"},
        {"exr compression into tif", plus(solid, {"--exr-compression", "piz"}), "x.tif", {}, 2, "--exr-compression"},
        {"png level into jpeg", plus(solid, {"--png-compression", "9"}), "x.jpg", {}, 2, "--png-compression"},
        {"codec into an image", plus(solid, {"--codec", "h264"}), "x.png", {}, 2, "--codec: only for a movie"},
        {"8 bits into a float file", plus(solid, {"--depth", "8"}), "x.exr", {}, 2, "--depth 8"},
        {"undocumented movie type", solid, "x.mpg", {}, 2, "not a movie type written"},
        {"unreadable OCIO", colour, "x.exr", {"OCIO=/nonexistent.ocio"}, 2, "$OCIO /nonexistent.ocio"},
        {"linear into png", colour, "x.png", {}, 0, "warning: " },
        {"linear into a movie", plus(colour, {"--frames", "0-1"}), "x.mp4", {}, 0, "--output-colorspace"},
        {"exr flags into exr", plus(solid, {"--exr-type", "half", "--depth", "16"}), "x.exr", {}, 0, ""},
        {"linear into exr", colour, "x.exr", {}, 0, ""},
        {"display space given", plus(colour, {"--output-colorspace", "sRGB"}), "x.png", {}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(path(c.out));
        const Outcome r = run(plus(c.args, {"-o", path(c.out).string()}), c.env);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_EQ(fs::exists(path(c.out)), c.code == 0);
        if (c.message.empty()) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_THAT(r.err, HasSubstr(c.message));
        }
    }
    EXPECT_EQ(cli::read_image(path("x.exr").string()).depth(), cli::Image::kFloat);
}

TEST_F(TrellisCli, MoviesAreTaggedAsTheirFramesAndH265IsQuiet) {
    const std::vector<std::string> solid = {"render", "--input-size", "64x48", "--frames", "0-2"};
    struct Case {
        std::vector<std::string> flags;
        const char* out;
        cli::ColourTags tags;
    };
    const std::vector<Case> cases = {
        {{}, "plain.mov", cli::kSrgbTags},
        {{"--input-colorspace", "sRGB", "--output-colorspace", "Rec709", "--codec", "h265"}, "rec709.mp4",
         cli::kRec709Tags},
        {{"--input-colorspace", "sRGB", "--depth", "16", "--codec", "h265"}, "linear.mkv", cli::kLinear709Tags},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        const Outcome r = run(plus(plus(solid, c.flags), {"-o", path(c.out).string()}));
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_THAT(r.err, Not(HasSubstr("x265")));
        EXPECT_EQ(cli::MovieReader(path(c.out).string()).info().colour, c.tags);
    }
    // A movie input's own tags go through when nothing converts.
    const Outcome again = run({"render", "--input", path("linear.mkv").string(), "--frames", "0-1", "-q", "-o",
                               path("again.mov").string()});
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(cli::MovieReader(path("again.mov").string()).info().colour, cli::kLinear709Tags);
}

TEST_F(TrellisCli, SkipExistingClearsTemporariesOfKilledRenders) {
    const std::vector<std::string> names = {".o.1.png.tmp0123abcd", ".o.2.png.tmpdeadbeef", ".o.9.png.tmp0123abcd",
                                            ".other.png.tmp0123abcd"};
    for (const std::string& n : names) std::ofstream(path(n)) << "cut short";
    const std::vector<std::string> args = {"render", "--input-size", "4x4", "--frames", "1-3", "--quiet",
                                           "-o", path("o.%d.png").string()};
    ASSERT_EQ(run(args).code, 0);
    EXPECT_TRUE(fs::exists(path(names[0])));  // only a resume clears them
    const Outcome r = run(plus(args, {"--skip-existing"}));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(listing(), (std::vector<std::string>{".o.9.png.tmp0123abcd", ".other.png.tmp0123abcd", "o.1.png",
                                                   "o.2.png", "o.3.png"}));
}

}  // namespace
