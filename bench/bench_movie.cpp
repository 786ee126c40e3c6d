// Reading a 1080p H.264 movie frame by frame against reading the same frames
// as PNG files. The footage is made once per run in a scratch folder.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/demo.h"
#include "footage/movie_io.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 24;

struct Footage {
    fs::path dir;
    std::string movie;
    std::vector<std::string> pngs;

    Footage() {
        dir = fs::temp_directory_path() / ("trellis_bench_movie_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        movie = (dir / "plate.mp4").string();
        const cli::Image base = cli::demo_input(kWidth, kHeight);
        cli::MovieWriter writer(movie, kWidth, kHeight, cli::Image::k8, {});
        for (int f = 0; f < kFrames; ++f) {
            // Moving content, so that frames differ as in real footage.
            cli::Image frame = base;
            auto& px = frame.get<PF_Pixel8>();
            for (std::size_t i = 0; i < px.size(); ++i) px[i].red = static_cast<A_u_char>(px[i].red + f * 3 + (i / 1920) % 7);
            writer.write(frame);
            pngs.push_back((dir / ("plate_" + std::to_string(f) + ".png")).string());
            cli::write_image(pngs.back(), frame);
        }
        writer.finish();
    }
    ~Footage() { fs::remove_all(dir); }
};

Footage& footage() {
    static Footage f;
    return f;
}

void BM_ReadMovieForward(benchmark::State& state) {
    const std::string& movie = footage().movie;
    for (auto _ : state) {
        cli::MovieReader reader(movie);
        for (int f = 0; f < kFrames; ++f) benchmark::DoNotOptimize(reader.read(f));
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

void BM_ReadPngFrames(benchmark::State& state) {
    const std::vector<std::string>& pngs = footage().pngs;
    for (auto _ : state) {
        for (const std::string& p : pngs) benchmark::DoNotOptimize(cli::read_image(p));
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

BENCHMARK(BM_ReadMovieForward)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadPngFrames)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
