// Masks that move and masks from SVG documents, through the trellis command:
// every moving frame must be the still render of the outline it should have.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "footage/image_io.h"
#include "masks/mask_track.h"
#include "scene/session.h"
#include "tests/support/files.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

using test_support::slurp;

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class TrellisMasks : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("trellis_masks_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        // Colour ramps, so that strokes differ with where they land.
        cli::Image input = cli::make_image(96, 64, cli::Image::k8);
        auto& px = input.get<PF_Pixel8>();
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 96; ++x) {
                px[static_cast<std::size_t>(y * 96 + x)] =
                    PF_Pixel8{255, static_cast<A_u_char>(x * 2), static_cast<A_u_char>(y * 4), 90};
            }
        }
        cli::write_image(path("in.png"), input);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    void write(const std::string& name, const std::string& text) const { std::ofstream(dir_ / name) << text; }

    // trellis render of the scene with `mask` and `extra` flags; the exit code.
    int render(const std::string& mask, const std::vector<std::string>& extra) {
        std::string command = "env -u TRELLIS_PLUGIN " + quoted(TRELLIS_CLI_PATH) + " render";
        for (const std::string& a : std::vector<std::string>{"--input", path("in.png"), "--layer-size", "5x9",
                                                              "--layer-color", "250,40,200,255", "--on-original",
                                                              "--max-width", "10", "--min-width", "60", "--seed", "7",
                                                              "-q", "--mask", mask}) {
            command += " " + quoted(a);
        }
        for (const std::string& a : extra) command += " " + quoted(a);
        command += " >" + quoted(path("stdout.txt")) + " 2>" + quoted(path("stderr.txt"));
        const int status = std::system(command.c_str());
        err_ = slurp(dir_ / "stderr.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The output of a still render of `mask` at `frame` (time as given).
    std::string still(const std::string& mask, int frame, const std::string& time,
                      const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"--time", time, "--frames", std::to_string(frame), "-o", path("still.png")};
        args.insert(args.end(), extra.begin(), extra.end());
        EXPECT_EQ(render(mask, args), 0) << err_;
        return slurp(path("still.png"));
    }

    std::vector<std::string> pngs() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            const std::string n = e.path().filename().string();
            if (n != "in.png" && e.path().extension() == ".png") names.push_back(n);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
    std::string err_;
};

// Key 0 is a document whose transforms make it "M 8 48 C 24 8 64 68 92 24"
// in pixels; key 24 is path data. Halfway, every vertex and both handles are
// the means, all whole numbers: "M 6 29 C 22 34 62 29 91 37".
TEST_F(TrellisMasks, MovingMaskFramesAreStillsOfTheInterpolatedOutline) {
    write("a.svg",
          "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"96\" height=\"64\" "
          "viewBox=\"0 0 48 32\">\n  <g transform=\"translate(2 4)\"><path d=\"M 2 20 C 10 0 30 30 44 8\"/></g>\n</svg>\n");
    write("b.svg", "M 4 10 C 20 60 60 -10 90 50");
    ASSERT_EQ(render("0:@" + path("a.svg") + ", 24:@" + path("b.svg"),
                     {"--time", "0:20,24:60", "--frames", "0,12,30", "-o", path("m_%02d.png")}),
              0)
        << err_;
    const std::string at_key = slurp(path("m_00.png"));
    const std::string between = slurp(path("m_12.png"));
    const std::string after = slurp(path("m_30.png"));
    ASSERT_FALSE(between.empty());
    EXPECT_NE(at_key, between);  // the mask did move

    EXPECT_EQ(at_key, still("M 8 48 C 24 8 64 68 92 24", 0, "20"));
    EXPECT_EQ(between, still("M 6 29 C 22 34 62 29 91 37", 12, "40"));
    EXPECT_EQ(after, still("M 4 10 C 20 60 60 -10 90 50", 30, "60"));  // the last key holds

    // A draft scales every key before they are blended.
    ASSERT_EQ(render("0:@" + path("a.svg") + ",24:@" + path("b.svg"),
                     {"--time", "40", "--frames", "12", "--downsample", "1/2", "-o", path("d.png")}),
              0)
        << err_;
    EXPECT_EQ(slurp(path("d.png")), still("M 6 29 C 22 34 62 29 91 37", 12, "40", {"--downsample", "1/2"}));
}

TEST_F(TrellisMasks, OneFilePerFrame) {
    // Frames may differ in shape: each is its own outline, nothing is blended.
    write("mask.0001.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"><rect id=\"r\" x=\"10\" y=\"8\" width=\"70\" "
                           "height=\"40\" rx=\"9\"/></svg>");
    write("mask.0002.svg", "<svg><polyline id=\"r\" points=\"5 5 90 60 80 10\"/></svg>");
    ASSERT_EQ(render("@" + path("mask.####.svg#r"), {"--time", "50", "--frames", "1-2", "-o", path("f%d.png")}), 0)
        << err_;
    const std::string one = slurp(path("f1.png"));
    const std::string two = slurp(path("f2.png"));
    EXPECT_EQ(one, still("@" + path("mask.0001.svg"), 1, "50"));
    EXPECT_EQ(two, still("M 5 5 L 90 60 L 80 10", 2, "50"));
    EXPECT_NE(one, two);
    fs::remove(dir_ / "still.png");

    // A frame without its file stops the render before anything is written.
    fs::remove(dir_ / "f1.png");
    fs::remove(dir_ / "f2.png");
    EXPECT_EQ(render("@" + path("mask.####.svg#r"), {"--frames", "1-3", "-o", path("f%d.png")}), 2);
    EXPECT_THAT(err_, HasSubstr("frame 3: cannot read " + path("mask.0003.svg")));
    EXPECT_EQ(pngs(), std::vector<std::string>{});
}

TEST_F(TrellisMasks, RefusalsNameTheKeysAndWriteNothing) {
    write("open.svg", "M 0 0 L 50 50 L 90 0");
    write("closed.svg", "M 0 0 L 50 50 L 90 0 Z");
    write("doc.svg", "<svg><circle r=\"4\"/></svg>");
    const struct {
        std::string mask;
        std::vector<std::string> message;
    } cases[] = {
        {"0:@" + path("open.svg") + ",10:@" + path("closed.svg"),
         {"keys 0 (" + path("open.svg") + ") and 10 (" + path("closed.svg") + ") do not match",
          "3 vertices, open against 3 vertices, closed"}},
        {"10:@" + path("doc.svg") + ",0:@" + path("open.svg"), {"keys 0", "and 10", "3 vertices, open against 4"}},
        {"0:M 0,0 L 1,1, 0:M 2,2 L 3,3", {"frame 0 has two keys"}},
        {"0:@" + path("m.%04d.svg"), {"key 0", "a file per frame"}},
        {"5:M 0,0 L 1", {"key 5", "malformed path data", "offset 9"}},
        {"5:", {"no mask"}},
        {"@" + path("open.svg#x"), {"#x", "path data"}},
        {"@" + path("doc.svg#x"), {"doc.svg", "no element with id \"x\""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        EXPECT_EQ(render(c.mask, {"--frames", "0-10", "-o", path("o%d.png")}), 2);
        EXPECT_THAT(err_, ::testing::StartsWith("trellis: error: --mask: "));
        EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 1) << err_;
        for (const std::string& m : c.message) EXPECT_THAT(err_, HasSubstr(m));
    }
    EXPECT_EQ(pngs(), std::vector<std::string>{});

    // Path data that draws nothing is a mask of one vertex, not an error.
    EXPECT_EQ(render("M 40 30", {"-o", path("dot.png")}), 0) << err_;
}

TEST(MaskTrack, KeyListsSplitAtFrameNumbersOnly) {
    // Path data brings commas of its own; keys come sorted by frame.
    const std::vector<standalone::MaskKeyframe> keys = cli::load_mask(" 30 : M 1,2 L 3,4 , 4:m 0,0 l 5,5", {0});
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].frame, 4.0);
    EXPECT_EQ(keys[1].frame, 30.0);
    ASSERT_EQ(keys[1].shape.vertices.size(), 2u);
    EXPECT_EQ(keys[1].shape.vertices[1].x, 3.0);
    EXPECT_EQ(keys[1].shape.vertices[1].y, 4.0);
    EXPECT_EQ(keys[0].shape.vertices[1].x, 5.0);
    // A still mask is one key at frame 0; no mask, no key.
    ASSERT_EQ(cli::load_mask("M 0 0 L 1 1", {5, 6}).size(), 1u);
    EXPECT_EQ(cli::load_mask("M 0 0 L 1 1", {5, 6})[0].frame, 0.0);
    EXPECT_TRUE(cli::load_mask("", {0}).empty());
}

}  // namespace
