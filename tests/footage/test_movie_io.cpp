// Movie reading and writing through FFmpeg: exact lossless round trips,
// frame accuracy on H.264 with B-frames and a late start, alpha, what
// ffprobe sees in each output, and the errors.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "footage/movie_io.h"
#include "footage/movie_source.h"
#include "tests/support/pixels.h"

namespace {

namespace fs = std::filesystem;
using cli::Image;

constexpr int kW = 64;
constexpr int kH = 48;

class MovieTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("trellis_movie_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string file(const std::string& name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

bool have_tool(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string run_output(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        ::pclose(p);
    }
    return out;
}

// key=value lines of ffprobe's view of the first video stream.
std::map<std::string, std::string> probe(const std::string& path) {
    const std::string out = run_output(
        "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
        "stream=codec_name,codec_tag_string,profile,pix_fmt,r_frame_rate,nb_read_frames -of default=nw=1 '" + path + "'");
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start < out.size()) {
        const std::size_t end = out.find('\n', start);
        const std::string line = out.substr(start, end - start);
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return fields;
}

// Noise in every channel, alpha included, so that a swapped or rounded
// channel shows.
Image noise(Image::Depth depth, unsigned seed) {
    Image image = cli::make_image(kW, kH, depth);
    std::mt19937 rng(seed);
    if (depth == Image::k8) {
        for (PF_Pixel8& p : image.get<PF_Pixel8>()) {
            p = PF_Pixel8{static_cast<A_u_char>(rng()), static_cast<A_u_char>(rng()), static_cast<A_u_char>(rng()),
                          static_cast<A_u_char>(rng())};
        }
    } else {
        auto v = [&] { return static_cast<A_u_short>(rng() % 32769u); };
        for (PF_Pixel16& p : image.get<PF_Pixel16>()) p = PF_Pixel16{v(), v(), v(), v()};
    }
    return image;
}

void write_movie(const std::string& path, const std::vector<Image>& frames, const cli::MovieSettings& settings) {
    cli::MovieWriter writer(path, frames.front().width, frames.front().height, frames.front().depth(), settings);
    for (const Image& f : frames) writer.write(f);
    writer.finish();
}

template <class Pixel>
int64_t differing(const Image& a, const Image& b) {
    int64_t n = 0;
    const auto& pa = a.get<Pixel>();
    const auto& pb = b.get<Pixel>();
    for (std::size_t i = 0; i < pa.size(); ++i) {
        n += !(pa[i] == pb[i]);
    }
    return n;
}

struct Lossless {
    const char* name;
    const char* codec;
    Image::Depth depth;
    const char* probed_codec;
};

class LosslessRoundTrip : public MovieTest, public ::testing::WithParamInterface<Lossless> {};

TEST_P(LosslessRoundTrip, GivesBackEveryPixelAndProbesRight) {
    const Lossless& c = GetParam();
    std::vector<Image> frames;
    for (unsigned i = 0; i < 5; ++i) frames.push_back(noise(c.depth, 7 + i));
    const std::string path = file(c.name);
    cli::MovieSettings settings;
    settings.codec = c.codec;
    settings.rate = cli::FrameRate{25, 1};
    write_movie(path, frames, settings);

    cli::MovieReader reader(path);
    EXPECT_EQ(reader.info().frames, 5);
    EXPECT_EQ(reader.info().depth, c.depth);
    EXPECT_TRUE(reader.info().alpha);
    EXPECT_EQ(reader.info().rate.num, 25);
    EXPECT_EQ(reader.info().rate.den, 1);
    for (int i : {2, 0, 4, 1, 3}) {
        const Image got = reader.read(i);
        ASSERT_EQ(got.depth(), c.depth);
        const int64_t bad = c.depth == Image::k8 ? differing<PF_Pixel8>(got, frames[static_cast<std::size_t>(i)])
                                                 : differing<PF_Pixel16>(got, frames[static_cast<std::size_t>(i)]);
        EXPECT_EQ(bad, 0) << "frame " << i;
    }
    // The check can fail: a neighbouring frame differs nearly everywhere.
    EXPECT_GT(c.depth == Image::k8 ? differing<PF_Pixel8>(reader.read(1), frames[2])
                                   : differing<PF_Pixel16>(reader.read(1), frames[2]),
              kW * kH / 2);

    if (!have_tool("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
    const auto probed = probe(path);
    EXPECT_EQ(probed.at("codec_name"), c.probed_codec);
    EXPECT_EQ(probed.at("nb_read_frames"), "5");
    EXPECT_EQ(probed.at("r_frame_rate"), "25/1");
}

INSTANTIATE_TEST_SUITE_P(Movies, LosslessRoundTrip,
                         ::testing::Values(Lossless{"ffv1_8.mkv", "", Image::k8, "ffv1"},
                                           Lossless{"ffv1_16.mkv", "", Image::k16, "ffv1"},
                                           Lossless{"png_8.mov", "png", Image::k8, "png"},
                                           Lossless{"png_16.mov", "png", Image::k16, "png"}),
                         [](const auto& info) { return std::string(info.param.probed_codec) +
                                                       (info.param.depth == Image::k8 ? "_8" : "_16"); });

// Frame n shows n in binary: eight blocks, white for a set bit.
Image numbered(int n) {
    Image image = cli::make_image(kW, kH, Image::k8);
    auto& px = image.get<PF_Pixel8>();
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const int bit = (y / (kH / 2)) * 4 + x / (kW / 4);
            const A_u_char v = (n >> bit) & 1 ? 235 : 20;
            px[static_cast<std::size_t>(y * kW + x)] = PF_Pixel8{255, v, v, v};
        }
    }
    return image;
}

int number_in(const Image& image) {
    const Image eight = image.depth() == Image::k8 ? image : cli::convert(image, Image::k8);
    const auto& px = eight.get<PF_Pixel8>();
    int n = 0;
    for (int bit = 0; bit < 8; ++bit) {
        const int x = (bit % 4) * (kW / 4) + kW / 8;
        const int y = (bit / 4) * (kH / 2) + kH / 4;
        if (px[static_cast<std::size_t>(y * kW + x)].green > 128) n |= 1 << bit;
    }
    return n;
}

// An H.264 movie made by the ffmpeg command: B-frames, a key frame every 7,
// and `timing`'s options (by default a first frame at 2.5 s).
std::string h264_numbered(const std::string& dir, int frames, const std::string& timing = "-output_ts_offset 2.5") {
    const std::string raw = dir + "/numbers.rgba";
    {
        std::ofstream out(raw, std::ios::binary);
        for (int n = 0; n < frames; ++n) {
            const Image frame = numbered(n);
            for (const PF_Pixel8& p : frame.get<PF_Pixel8>()) {
                const char rgba[4] = {static_cast<char>(p.red), static_cast<char>(p.green), static_cast<char>(p.blue),
                                      static_cast<char>(p.alpha)};
                out.write(rgba, 4);
            }
        }
    }
    const std::string movie = dir + "/numbers.mp4";
    const std::string command = "ffmpeg -v error -y -f rawvideo -pix_fmt rgba -s " + std::to_string(kW) + "x" +
                                std::to_string(kH) + " -r 24 -i '" + raw +
                                "' -c:v libx264 -pix_fmt yuv420p -bf 3 -g 7 -keyint_min 7 -sc_threshold 0 " + timing + " '" +
                                movie + "'";
    return std::system(command.c_str()) == 0 ? movie : std::string();
}

TEST_F(MovieTest, H264WithBFramesGivesEachFrameItsOwnNumber) {
    if (!have_tool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const int frames = 30;
    const std::string movie = h264_numbered(dir_.string(), frames);
    ASSERT_FALSE(movie.empty());
    const std::string has_b = run_output("ffprobe -v error -select_streams v:0 -show_entries frame=pict_type -of csv '" +
                                         movie + "'");
    ASSERT_NE(has_b.find("B"), std::string::npos) << "the test movie has no B-frames";

    cli::MovieReader reader(movie);
    ASSERT_EQ(reader.info().frames, frames);
    EXPECT_EQ(reader.info().depth, Image::k8);
    EXPECT_FALSE(reader.info().alpha);
    // Forward, then jumps both ways inside and across groups of pictures.
    for (int n = 0; n < frames; ++n) EXPECT_EQ(number_in(reader.read(n)), n) << "frame " << n;
    EXPECT_EQ(reader.decoded_frames(), frames) << "reading forward decoded some frames twice";
    for (int n : {29, 3, 17, 16, 0, 8, 6, 22, 21, 28}) EXPECT_EQ(number_in(reader.read(n)), n) << "frame " << n;
    EXPECT_EQ(reader.read(4).get<PF_Pixel8>()[0].alpha, 255);

    // A second reader shares the index and keeps its own place.
    auto other = reader.open();
    EXPECT_EQ(number_in(other->read(13)), 13);
    EXPECT_EQ(number_in(reader.read(12)), 12);
    EXPECT_EQ(number_in(other->read(14)), 14);
}

// Two workers taking frames in turn, as a parallel render does, from one
// long group of pictures: they share the decoding whichever of them asks
// first, where a reader each would decode every frame twice.
TEST_F(MovieTest, WorkersTakingFramesInTurnShareTheDecoding) {
    if (!have_tool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const int frames = 30;
    const std::string movie = h264_numbered(dir_.string(), frames, "-g 100 -keyint_min 100");
    ASSERT_FALSE(movie.empty());
    const std::unique_ptr<cli::Footage> footage = cli::open_movie_footage("--input", movie);
    std::atomic<int> next{0};
    std::vector<int> got(frames, -1);
    auto work = [&] {
        for (int n = next++; n < frames; n = next++) got[static_cast<std::size_t>(n)] = number_in(footage->read(n, Image::k8));
    };
    std::thread other(work);
    work();
    other.join();
    for (int n = 0; n < frames; ++n) EXPECT_EQ(got[static_cast<std::size_t>(n)], n) << "frame " << n;
    EXPECT_EQ(*cli::frames_decoded(*footage), frames);
}

TEST_F(MovieTest, VariableFrameRateIsCountedInPresentationOrder) {
    if (!have_tool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    // Gaps between frames growing from one to several frame times.
    const int frames = 24;
    const std::string movie =
        h264_numbered(dir_.string(), frames, "-vf \"setpts='(N+N*N/16)/24/TB'\" -fps_mode passthrough");
    ASSERT_FALSE(movie.empty());
    const std::string gaps = run_output("ffprobe -v error -select_streams v:0 -show_entries frame=pts -of csv=p=0 '" +
                                        movie + "' | grep . | sort -n | awk 'NR > 1 { print $1 - p } { p = $1 }' | sort -u | wc -l");
    ASSERT_GT(std::stoi(gaps), 1) << "the test movie has a constant frame rate";

    cli::MovieReader reader(movie);
    ASSERT_EQ(reader.info().frames, frames);
    for (int n = 0; n < frames; ++n) EXPECT_EQ(number_in(reader.read(n)), n) << "frame " << n;
    for (int n : {23, 2, 15, 9, 0, 20}) EXPECT_EQ(number_in(reader.read(n)), n) << "frame " << n;
    EXPECT_THROW(reader.read(frames), cli::ImageError);
}

TEST_F(MovieTest, ProResAndFfv1KeepAlpha) {
    // A ramp of alpha across the frame over a colour ramp down it.
    Image image = cli::make_image(kW, kH, Image::k16);
    auto& px = image.get<PF_Pixel16>();
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            px[static_cast<std::size_t>(y * kW + x)] =
                PF_Pixel16{static_cast<A_u_short>(x * 32768 / (kW - 1)), static_cast<A_u_short>(y * 600), 16000,
                           static_cast<A_u_short>(32768 - y * 600)};
        }
    }
    for (const char* name : {"alpha.mov", "alpha.mkv"}) {
        const std::string path = file(name);
        write_movie(path, {image, image}, {});
        cli::MovieReader reader(path);
        EXPECT_TRUE(reader.info().alpha) << name;
        EXPECT_EQ(reader.info().depth, Image::k16) << name;
        const Image got = reader.read(1);
        int worst = 0;
        for (std::size_t i = 0; i < px.size(); ++i) {
            worst = std::max(worst, std::abs(got.get<PF_Pixel16>()[i].alpha - px[i].alpha));
        }
        // ProRes keeps 16-bit alpha nearly exact; FFV1 exactly.
        EXPECT_LE(worst, std::string(name) == "alpha.mkv" ? 0 : 64) << name;
        if (have_tool("ffprobe")) {
            const auto probed = probe(path);
            if (std::string(name) == "alpha.mov") {
                EXPECT_EQ(probed.at("codec_name"), "prores");
                EXPECT_EQ(probed.at("profile"), "4444");
            } else {
                EXPECT_EQ(probed.at("codec_name"), "ffv1");
                EXPECT_EQ(probed.at("pix_fmt"), "gbrap16le");
            }
        }
    }
}

TEST_F(MovieTest, H264OutputFollowsItsSettings) {
    std::vector<Image> frames;
    for (int n = 0; n < 12; ++n) frames.push_back(numbered(n));
    cli::MovieSettings settings;
    settings.rate = cli::FrameRate{30000, 1001};
    write_movie(file("default.mp4"), frames, settings);
    cli::MovieReader reader(file("default.mp4"));
    EXPECT_EQ(reader.info().frames, 12);
    for (int n : {11, 0, 5}) EXPECT_EQ(number_in(reader.read(n)), n);
    if (have_tool("ffprobe")) {
        const auto probed = probe(file("default.mp4"));
        EXPECT_EQ(probed.at("codec_name"), "h264");
        EXPECT_EQ(probed.at("pix_fmt"), "yuv420p");
        EXPECT_EQ(probed.at("r_frame_rate"), "30000/1001");
        EXPECT_EQ(probed.at("nb_read_frames"), "12");
    }
    // The quality knob is CRF: a much higher one gives a much smaller file.
    std::vector<Image> busy;
    for (unsigned n = 0; n < 6; ++n) busy.push_back(cli::convert(noise(Image::k8, n), Image::k8));
    settings.quality = 10;
    write_movie(file("fine.mp4"), busy, settings);
    settings.quality = 45;
    write_movie(file("coarse.mp4"), busy, settings);
    EXPECT_LT(fs::file_size(file("coarse.mp4")) * 2, fs::file_size(file("fine.mp4")));
}

// The top-level boxes of an ISO media file, in file order.
std::vector<std::string> top_level_boxes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> boxes;
    unsigned char head[8];
    while (in.read(reinterpret_cast<char*>(head), 8)) {
        uint64_t size = (uint64_t{head[0]} << 24) | (uint64_t{head[1]} << 16) | (uint64_t{head[2]} << 8) | head[3];
        boxes.emplace_back(reinterpret_cast<char*>(head + 4), 4);
        if (size == 1) {
            unsigned char large[8];
            if (!in.read(reinterpret_cast<char*>(large), 8)) break;
            size = 0;
            for (unsigned char b : large) size = size << 8 | b;
            size -= 8;
        }
        if (size < 8) break;
        in.seekg(static_cast<std::streamoff>(size - 8), std::ios::cur);
    }
    return boxes;
}

struct PlayerCase {
    const char* name;
    const char* codec;
    Image::Depth depth;
    cli::ColourTags colour;
    const char* tag;
    const char* pix_fmt;
};

class PlayersTakeTheOutput : public MovieTest, public ::testing::WithParamInterface<PlayerCase> {};

TEST_P(PlayersTakeTheOutput, IndexFirstTaggedAsTheFramesAre) {
    const PlayerCase& c = GetParam();
    cli::MovieSettings settings;
    settings.codec = c.codec;
    settings.colour = c.colour;
    settings.quiet = true;
    write_movie(file(c.name), {noise(c.depth, 1), noise(c.depth, 2), noise(c.depth, 3), noise(c.depth, 4)}, settings);

    EXPECT_EQ(cli::MovieReader(file(c.name)).info().colour, c.colour);
    if (cli::lower_extension(c.name) != "webm") {
        const std::vector<std::string> boxes = top_level_boxes(file(c.name));
        const auto at = [&](const char* box) { return std::find(boxes.begin(), boxes.end(), box) - boxes.begin(); };
        ASSERT_LT(at("mdat"), static_cast<std::ptrdiff_t>(boxes.size()));
        EXPECT_LT(at("moov"), at("mdat"));
    }
    ASSERT_TRUE(have_tool("ffprobe"));
    const auto probed = probe(file(c.name));
    EXPECT_EQ(probed.at("pix_fmt"), c.pix_fmt);
    if (*c.tag) {
        EXPECT_EQ(probed.at("codec_tag_string"), c.tag);
    }
    EXPECT_EQ(probed.at("nb_read_frames"), "4");
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, PlayersTakeTheOutput,
    ::testing::Values(PlayerCase{"h264.mp4", "", Image::k8, cli::kSrgbTags, "avc1", "yuv420p"},
                      PlayerCase{"prores.mov", "", Image::k16, cli::kRec709Tags, "ap4h", "yuva444p12le"},
                      PlayerCase{"h265.mp4", "h265", Image::k8, cli::kLinear709Tags, "hvc1", "yuv420p"},
                      PlayerCase{"h265.mov", "hevc", Image::k16, cli::kSrgbTags, "hvc1", "yuv420p10le"},
                      PlayerCase{"vp9.webm", "", Image::k8, cli::kRec709Tags, "", "yuv420p"}),
    [](const auto& info) {
        std::string n = info.param.name;
        std::replace(n.begin(), n.end(), '.', '_');
        return n;
    });

TEST_F(MovieTest, ErrorsNameTheFileAndLeaveNothing) {
    auto fails = [](const std::string& path, const cli::MovieLimits& limits, const std::string& part) {
        try {
            cli::MovieReader reader(path, limits);
            for (int64_t n = 0; n <= reader.info().frames; ++n) reader.read(n);
            ADD_FAILURE() << path << ": read past its end";
        } catch (const cli::ImageError& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    };
    fails(file("missing.mov"), {}, "cannot open");
    std::ofstream(file("text.mp4")) << "not a movie at all\n";
    fails(file("text.mp4"), {}, "cannot open");

    write_movie(file("ok.mkv"), {noise(Image::k8, 1), noise(Image::k8, 2), noise(Image::k8, 3)}, {});
    fails(file("ok.mkv"), {}, "no frame 3");
    fails(file("ok.mkv"), cli::MovieLimits{1 << 20, kW * kH - 1}, "larger than supported");
    // Damaged: the file cut short, and bytes overwritten in its middle.
    const auto size = fs::file_size(file("ok.mkv"));
    fs::copy_file(file("ok.mkv"), file("cut.mkv"));
    fs::resize_file(file("cut.mkv"), size / 2);
    fails(file("cut.mkv"), {}, "");

    // A writer that is not finished leaves no file, under either name.
    {
        cli::MovieWriter writer(file("unfinished.mov"), kW, kH, Image::k8, {});
        writer.write(noise(Image::k8, 4));
    }
    for (const auto& entry : fs::directory_iterator(dir_)) {
        EXPECT_EQ(entry.path().string().find("unfinished"), std::string::npos) << entry.path();
    }
    auto refuses = [&](const std::string& name, int w, int h, const std::string& codec, const std::string& part) {
        cli::MovieSettings settings;
        settings.codec = codec;
        try {
            cli::MovieWriter writer(file(name), w, h, Image::k8, settings);
            ADD_FAILURE() << name << " with " << codec << " was accepted";
        } catch (const cli::ImageError& e) {
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    };
    refuses("odd.mp4", kW + 1, kH, "", "multiple of 2");
    refuses("nope.mkv", kW, kH, "no-such-codec", "no video encoder");
    refuses("nope.mp4", kW, kH, "ffv1", "cannot be written into .mp4");
    refuses("picture.xyz", kW, kH, "", "not a movie");
    // Read, but not written: only the outputs the README lists.
    refuses("legacy.mpg", kW, kH, "", "not a movie type written");
    // A writer killed outright leaves its temporary; the next one clears it.
    const std::string stale = file(".again.mkv.tmp0badf00d");
    std::ofstream(stale) << "half a movie";
    write_movie(file("again.mkv"), {noise(Image::k8, 5)}, {});
    EXPECT_FALSE(fs::exists(stale));
}

TEST(FrameRate, ReadsIntegersDecimalsAndFractions) {
    EXPECT_EQ(cli::parse_frame_rate("24").num, 24);
    const cli::FrameRate ntsc = cli::parse_frame_rate("29.97");
    EXPECT_EQ(ntsc.num, 30000);
    EXPECT_EQ(ntsc.den, 1001);
    const cli::FrameRate half = cli::parse_frame_rate("12.5");
    EXPECT_EQ(half.num, 25);
    EXPECT_EQ(half.den, 2);
    EXPECT_EQ(cli::parse_frame_rate("60000/1001").den, 1001);
    for (const char* bad : {"", "0", "-5", "abc", "24fps", "1/0", "100001", "nan"}) {
        EXPECT_THROW(cli::parse_frame_rate(bad), cli::ImageError) << bad;
    }
}

}  // namespace
