#include "cli/demo.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>

#include "cli/failure.h"
#include "cli/find_module.h"
#include "cli/progress.h"
#include "cli/render_command.h"
#include "cli/signals.h"
#include "footage/movie_io.h"
#include "scene/batch.h"
#include "scene/job.h"
#include "scene/request.h"
#include "scene/session.h"

namespace cli {

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFrames = 48;
constexpr int kSheetEvery = 6;
constexpr int kSheetColumns = 4;
constexpr int kSheetShrink = 4;
constexpr int kSheetGap = 8;

double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

std::uint8_t to8(double v) { return static_cast<std::uint8_t>(std::lround(clamp01(v) * 255.0)); }

double smoothstep(double e0, double e1, double x) {
    const double t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3.0 - 2.0 * t);
}

// h in turns, s and v in [0, 1].
void hsv_to_rgb(double h, double s, double v, double* r, double* g, double* b) {
    h -= std::floor(h);
    const double k[3] = {5.0, 3.0, 1.0};
    double* out[3] = {r, g, b};
    for (int i = 0; i < 3; ++i) {
        const double n = std::fmod(k[i] + h * 6.0, 6.0);
        *out[i] = v - v * s * std::max(0.0, std::min({n, 4.0 - n, 1.0}));
    }
}

}  // namespace

Image demo_input(int width, int height) {
    Image image = make_image(width, height, Image::k8);
    auto& px = image.get<PF_Pixel8>();
    const double cx = width * 0.5;
    const double cy = height * 0.5;
    const double scale = std::min(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double dx = (x + 0.5 - cx) / scale;
            const double dy = (y + 0.5 - cy) / scale;
            const double r = std::hypot(dx, dy);
            const double a = std::atan2(dy, dx) / (2.0 * std::numbers::pi);
            // Hue turns around the centre and drifts outwards; soft rings in value.
            const double hue = a + 0.5 * r + 0.05 * std::sin(dx * 9.0) * std::cos(dy * 7.0);
            const double sat = 0.6 + 0.3 * smoothstep(0.0, 0.5, r);
            const double val = 0.34 + 0.06 * std::cos(r * 30.0) + 0.22 * (1.0 - smoothstep(0.0, 0.8, r));
            double red = 0, green = 0, blue = 0;
            hsv_to_rgb(hue, sat, val, &red, &green, &blue);
            px[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
                PF_Pixel8{255, to8(red), to8(green), to8(blue)};
        }
    }
    return image;
}

Image demo_brush(int width, int height) {
    Image image = make_image(width, height, Image::k8);
    auto& px = image.get<PF_Pixel8>();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = (x + 0.5) / width * 2.0 - 1.0;   // across the bristles
            const double v = (y + 0.5) / height * 2.0 - 1.0;  // along them
            // A rounded dab, ragged at both ends where bristles run out.
            const double bristle = 0.5 + 0.25 * std::sin(u * 13.0 + 2.0 * std::sin(u * 5.0)) +
                                   0.25 * std::sin(u * 29.0 + 1.3);
            const double end = 0.88 + 0.1 * bristle;
            const double shape = std::pow(std::abs(u), 2.5) + std::pow(std::abs(v) / end, 6.0);
            const double alpha = (1.0 - smoothstep(0.45, 1.0, shape)) * (0.75 + 0.25 * bristle);
            const double streak = 0.55 + 0.4 * bristle * (0.7 + 0.3 * std::cos(v * 2.5));
            const double rim = 1.0 - 0.5 * smoothstep(0.2, 0.9, shape);
            const double grey = streak * rim;
            px[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
                PF_Pixel8{to8(alpha), to8(grey), to8(grey), to8(grey * 0.97)};
        }
    }
    return image;
}

standalone::MaskShape demo_spiral(int width, int height) {
    const double cx = width * 0.5;
    const double cy = height * 0.5;
    const double turns = 3.25;
    const double end = turns * 2.0 * std::numbers::pi;
    const double r0 = std::min(width, height) * 0.04;
    const double r1 = std::min(width, height) * 0.46;
    const double b = (r1 - r0) / end;
    const int steps = static_cast<int>(turns * 8.0);
    const double step = end / steps;
    standalone::MaskShape shape;
    for (int i = 0; i <= steps; ++i) {
        const double t = i * step;
        const double r = r0 + b * t;
        // Hermite tangents turned into bezier handles a third of a step long.
        const double dx = (b * std::cos(t) - r * std::sin(t)) * step / 3.0;
        const double dy = (b * std::sin(t) + r * std::cos(t)) * step / 3.0;
        standalone::MaskVertex v{cx + r * std::cos(t), cy + r * std::sin(t), -dx, -dy, dx, dy};
        if (i == 0) v.in_x = v.in_y = 0.0;
        if (i == steps) v.out_x = v.out_y = 0.0;
        shape.vertices.push_back(v);
    }
    shape.closed = false;
    return shape;
}

Image contact_sheet(const std::vector<Image>& frames, int columns, int shrink, int gap) {
    if (frames.empty()) return make_image(1, 1, Image::k8);
    std::vector<Image> thumbs;
    for (const Image& f : frames) thumbs.push_back(downsample(convert(f, Image::k8), 1, shrink));
    const int tw = thumbs.front().width;
    const int th = thumbs.front().height;
    const int count = static_cast<int>(thumbs.size());
    const int cols = std::min(columns, count);
    const int rows = (count + cols - 1) / cols;
    Image sheet = make_image(cols * tw + (cols + 1) * gap, rows * th + (rows + 1) * gap, Image::k8);
    auto& out = sheet.get<PF_Pixel8>();
    std::fill(out.begin(), out.end(), PF_Pixel8{255, 22, 22, 26});
    for (int i = 0; i < count; ++i) {
        const auto& src = thumbs[static_cast<std::size_t>(i)].get<PF_Pixel8>();
        const int ox = gap + (i % cols) * (tw + gap);
        const int oy = gap + (i / cols) * (th + gap);
        const int w = std::min(tw, thumbs[static_cast<std::size_t>(i)].width);
        const int h = std::min(th, thumbs[static_cast<std::size_t>(i)].height);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const PF_Pixel8& s = src[static_cast<std::size_t>(y) * static_cast<std::size_t>(tw) +
                                         static_cast<std::size_t>(x)];
                PF_Pixel8& d = out[static_cast<std::size_t>(oy + y) * static_cast<std::size_t>(sheet.width) +
                                   static_cast<std::size_t>(ox + x)];
                // Straight alpha over the opaque ground.
                auto mix = [&](std::uint8_t over, std::uint8_t under) {
                    return static_cast<std::uint8_t>((over * s.alpha + under * (255 - s.alpha) + 127) / 255);
                };
                d = PF_Pixel8{255, mix(s.red, d.red), mix(s.green, d.green), mix(s.blue, d.blue)};
            }
        }
    }
    return sheet;
}

CLI::App* add_demo_command(CLI::App& app, DemoArgs& args) {
    CLI::App* cmd = app.add_subcommand(
        "demo", "Render the built-in demo animation (" + std::to_string(kWidth) + "x" + std::to_string(kHeight) + ", " +
                    std::to_string(kFrames) + " frames), its contact sheet and demo.mp4");
    cmd->add_option("--out", args.out, "directory for the frames, contact.png and demo.mp4")
        ->capture_default_str()
        ->type_name("DIR");
    cmd->add_option("--jobs", args.jobs, "frames rendered in parallel (default: one per core)")
        ->check(CLI::Range(1, 1024).description(""))
        ->type_name("N");
    cmd->add_flag("-q,--quiet", args.quiet, "no progress report");
    cmd->add_option("--plugin", args.plugin, "the effect module (default: $TRELLIS_PLUGIN, else beside trellis)")
        ->type_name("PATH");
    return cmd;
}

int run_demo(const DemoArgs& args) {
    const auto started = std::chrono::steady_clock::now();

    RenderJob job;
    job.module = load_module(args.plugin);
    SceneRequest request;
    request.module = job.module;
    request.settings = resolve_settings(declared_params(job.module), {
                                                                         {"--time", "0:0," + std::to_string(kFrames - 1) + ":100"},
                                                                         {"--various-directions", "1"},
                                                                         {"--on-original", "1"},
                                                                         {"--max-width", "60"},
                                                                         {"--min-width", "45"},
                                                                         {"--blend", "overlay"},
                                                                         {"--opacity", "100"},
                                                                         {"--seed", "11"},
                                                                     });
    request.input.footage = still_footage("demo input", demo_input(kWidth, kHeight));
    request.layer.emplace().footage = still_footage("demo brush", demo_brush(40, 96));
    request.mask = {standalone::MaskKeyframe{0.0, demo_spiral(kWidth, kHeight)}};
    request.depth = Image::k8;
    request.rate = FrameRate{24, 1};
    job.scene = make_scene(request);
    const Scene& scene = job.scene;

    std::error_code ec;
    std::filesystem::create_directories(args.out, ec);
    if (ec) {
        throw Failure(kExitUnwritable, "--out " + args.out + ": cannot create the directory: " + ec.message());
    }
    job.output.pattern = OutputPattern::parse((std::filesystem::path(args.out) / "frame_%04d.png").string());
    for (long f = 0; f < kFrames; ++f) job.frames.push_back(f);
    job.jobs = worker_count(args.jobs, job.frames.size());

    install_interrupt_handler();
    Progress progress(Progress::choose(args.quiet, stderr), kFrames);
    const BatchResult result = render_frames(job, progress, interrupt_requested);
    progress.finish();
    if (result.interrupted) {
        std::fprintf(stderr, "trellis: interrupted (%zu of %d frames written)\n", result.written.size(), kFrames);
        end_by_interrupt();
    }

    std::vector<Image> picked;
    for (const auto& [frame, path] : result.written) {
        if (frame % kSheetEvery == 0) {
            try {
                picked.push_back(read_image(path, Image::k8));
            } catch (const ImageError& e) {
                throw Failure(kExitUsage, e.what());
            }
        }
    }
    const std::string sheet_path = (std::filesystem::path(args.out) / "contact.png").string();
    write_output(job.output, sheet_path, contact_sheet(picked, kSheetColumns, kSheetShrink, kSheetGap));

    // The whole animation as a movie to watch, from the frames as written.
    const std::string movie_path = (std::filesystem::path(args.out) / "demo.mp4").string();
    try {
        MovieSettings settings;
        settings.rate = FrameRate{static_cast<int>(scene.fps), 1};
        MovieWriter movie(movie_path, kWidth, kHeight, Image::k8, settings);
        for (const auto& [frame, path] : result.written) {
            if (interrupt_requested()) break;
            movie.write(read_image(path, Image::k8));
        }
        // Interrupted: the writer's end removes the unfinished movie first.
        if (!interrupt_requested()) movie.finish();
    } catch (const ImageWriteError& e) {
        throw Failure(kExitUnwritable, e.what());
    } catch (const ImageError& e) {
        throw Failure(kExitUsage, e.what());
    }

    if (interrupt_requested()) end_by_interrupt();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("wrote %d frames (%dx%d): %s .. %s\n", kFrames, kWidth, kHeight, result.written.front().second.c_str(),
                result.written.back().second.c_str());
    std::printf("wrote contact sheet (every %dth frame): %s\n", kSheetEvery, sheet_path.c_str());
    std::printf("wrote the movie (H.264, %u fps): %s\n", static_cast<unsigned>(scene.fps), movie_path.c_str());
    std::printf("in %.1f s\n", seconds);
    return 0;
}

}  // namespace cli
