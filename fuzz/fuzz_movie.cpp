// The movie reader on arbitrary bytes, from memory: either frames of the
// size the movie declares, within the limit set here, or an ImageError with
// a message; nothing else may escape. Frames are read forward, then one
// behind, so that both decoding on and seeking back run.
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <variant>

#include "footage/movie_io.h"
#include "fuzz/fuzz_support.h"

extern "C" {
#include <libavutil/mem.h>
}

namespace trellis_fuzz::movie {
namespace {

constexpr std::string_view kName = "fuzz_movie";

// Small enough for thousands of runs a second to stay within memory.
constexpr cli::MovieLimits kLimits{1024, std::int64_t{1} << 16};
constexpr std::int64_t kMostFrames = 6;

// Container demuxers size their tables by what a header claims (a few bytes
// can ask for gigabytes, refused only when the allocation fails). FFmpeg's
// own cap on one allocation keeps a run within the fuzzer's memory; those
// inputs then end as the error they would give on a machine out of memory.
[[maybe_unused]] const bool g_capped = [] {
    av_max_alloc(std::size_t{64} << 20);
    return true;
}();

void check_frame(const cli::Image& image, const cli::MovieInfo& info, std::int64_t n) {
    if (image.width != info.width || image.height != info.height || image.depth() != info.depth) {
        fail(kName, "frame " + std::to_string(n) + " is " + std::to_string(image.width) + "x" +
                        std::to_string(image.height) + " at depth " + std::to_string(image.depth()) +
                        ", the movie says " + std::to_string(info.width) + "x" + std::to_string(info.height) +
                        " at depth " + std::to_string(info.depth));
    }
    if (info.width * static_cast<std::int64_t>(info.height) > kLimits.max_pixels) {
        fail(kName, "read frames larger than the limit");
    }
    const std::size_t count = std::visit([](const auto& v) { return v.size(); }, image.pixels);
    if (count != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)) {
        fail(kName, "frame " + std::to_string(n) + " holds " + std::to_string(count) + " pixels");
    }
}

}  // namespace

int fuzz_one(const std::uint8_t* data, std::size_t size) {
    auto bytes = std::make_shared<const std::string>(reinterpret_cast<const char*>(data), size);
    try {
        cli::MovieReader reader(bytes, "fuzz", kLimits);
        const cli::MovieInfo info = reader.info();
        trace("movie %dx%d, %lld frames, %s", info.width, info.height, static_cast<long long>(info.frames),
              info.codec.c_str());
        if (info.frames < 1) fail(kName, "a movie without frames was opened");
        const std::int64_t last = std::min<std::int64_t>(info.frames, kMostFrames) - 1;
        for (std::int64_t n = 0; n <= last; ++n) check_frame(reader.read(n), info, n);
        if (last > 0) check_frame(reader.read(last - 1), info, last - 1);
        // Once more from the start, the frames on the way handed on as a
        // parallel render takes them.
        const auto again = reader.open();
        const auto passed = [&](std::int64_t f, cli::DecodedFrame d) { check_frame(d.image(info.depth), info, f); };
        check_frame(again->decode(last, passed).image(info.depth), info, last);
    } catch (const cli::ImageError& e) {
        trace("refused: %s", e.what());
        if (std::string_view(e.what()).empty()) fail(kName, "an ImageError without a message");
    } catch (const std::exception& e) {
        fail(kName, std::string("escaped with something other than ImageError: ") + e.what());
    }
    return 0;
}

}  // namespace trellis_fuzz::movie
