// Frame time of the effect at its defaults on a 1920 × 1080 frame, at each
// pixel depth, rendered through the loaded module and the standalone host;
// and, for scale, a floor loop that does the least work the same stroke
// rectangles need (nearest-pixel copy of the Layer, one Normal composite per
// pixel, no host calls). A breakdown run takes the render apart stage by
// stage through the effect's static library, to show where the time goes.
//
//   trellis_bench [--frame=WxH] [Google Benchmark flags]
//   trellis_bench --strokes INPUT LAYER MASK TIME   (see print_strokes)
//
// --frame renders a smaller (or larger) frame, e.g. for valgrind. Times are
// the benchmark thread's CPU time (the machine may be shared).
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "footage/image_io.h"
#include "masks/svg_path.h"
#include "draw/blend.h"
#include "draw/draw.h"
#include "draw/paint.h"
#include "host/entry.h"
#include "host/suite_cache.h"
#include "params/params.h"
#include "render/pre_render.h"
#include "render/records.h"
#include "standalone/host.h"
#include "standalone/mask.h"
#include "standalone/module.h"
#include "standalone/sampling.h"
#include "standalone/world.h"
#include "strokes/generate.h"
#include "strokes/stroke_list.h"

namespace {

// The machine is shared: time is this thread's CPU time, which other
// processes' load does not inflate.
struct Clock {
    using duration = std::chrono::nanoseconds;
    using time_point = std::chrono::time_point<Clock, duration>;
    static time_point now() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return time_point(duration(std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec));
    }
};
using standalone::Host;
using standalone::MaskShape;
using standalone::World;

A_long g_width = 1920;
A_long g_height = 1080;

long minor_faults() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// ---- Generated images --------------------------------------------------------

// Smooth colour waves over the whole frame, opaque.
PF_Pixel8 input_pixel(A_long x, A_long y) {
    const double fx = x, fy = y;
    auto wave = [](double v) { return static_cast<A_u_char>(127.5 + 127.0 * std::sin(v)); };
    return {255, wave(fx * 0.0097), wave(fy * 0.0131 + 2.0), wave((fx + fy) * 0.0071 + 4.0)};
}

// Other waves, with a soft oval of alpha fading to 0 at the corners and
// fully transparent diagonal bands.
PF_Pixel8 layer_pixel(A_long x, A_long y, A_long width, A_long height) {
    const double u = (x + 0.5) / width * 2.0 - 1.0;
    const double v = (y + 0.5) / height * 2.0 - 1.0;
    const double falloff = std::clamp(1.35 - (u * u + v * v), 0.0, 1.0);
    const bool band = ((x + y) / 37) % 6 == 0;
    const auto alpha = static_cast<A_u_char>(band ? 0.0 : 255.0 * falloff);
    auto wave = [](double t) { return static_cast<A_u_char>(127.5 + 127.0 * std::cos(t)); };
    return {alpha, wave(x * 0.023), wave(y * 0.017 + 1.0), wave((x - y) * 0.011 + 3.0)};
}

PF_Pixel16 widen16(PF_Pixel8 p) {
    auto c = [](A_u_char v) { return static_cast<A_u_short>((v * 32768 + 127) / 255); };
    return {c(p.alpha), c(p.red), c(p.green), c(p.blue)};
}

PF_PixelFloat widen_float(PF_Pixel8 p) {
    auto c = [](A_u_char v) { return static_cast<PF_FpShort>(v / 255.0); };
    return {c(p.alpha), c(p.red), c(p.green), c(p.blue)};
}

template <typename Make>
std::shared_ptr<World> make_world(A_long width, A_long height, PF_PixelFormat format, Make make) {
    auto world = std::make_shared<World>(width, height, format);
    for (A_long y = 0; y < height; ++y) {
        std::uint8_t* row = world->row(y);
        for (A_long x = 0; x < width; ++x) {
            const PF_Pixel8 p = make(x, y);
            switch (format) {
                case PF_PixelFormat_ARGB32: reinterpret_cast<PF_Pixel8*>(row)[x] = p; break;
                case PF_PixelFormat_ARGB64: reinterpret_cast<PF_Pixel16*>(row)[x] = widen16(p); break;
                default: reinterpret_cast<PF_PixelFloat*>(row)[x] = widen_float(p); break;
            }
        }
    }
    return world;
}

// An ellipse of four cubic segments touching the four edges of the frame,
// travelling clockwise on screen (rows grow downwards).
MaskShape ellipse(double cx, double cy, double rx, double ry) {
    constexpr double k = 0.5522847498307936;  // 4/3 (√2 − 1)
    MaskShape shape;
    shape.closed = true;
    shape.vertices = {
        {cx + rx, cy, 0, -k * ry, 0, k * ry},
        {cx, cy + ry, k * rx, 0, -k * rx, 0},
        {cx - rx, cy, 0, k * ry, 0, -k * ry},
        {cx, cy - ry, -k * rx, 0, k * rx, 0},
    };
    return shape;
}

PF_PixelFormat format_of(int depth) {
    return depth == DEPTH_8 ? PF_PixelFormat_ARGB32 : depth == DEPTH_16 ? PF_PixelFormat_ARGB64 : PF_PixelFormat_ARGB128;
}

const char* depth_name(int depth) { return depth == DEPTH_8 ? "8" : depth == DEPTH_16 ? "16" : "float"; }

// ---- The scene ------------------------------------------------------------

std::shared_ptr<standalone::Module> real_module(std::string* error) {
    static std::shared_ptr<standalone::Module> module = standalone::Module::load(TRELLIS_MODULE_PATH, error);
    return module;
}

// One frame's host at one depth, with every parameter at its default except
// Path, Layer and Time 50 %.
struct Scene {
    std::unique_ptr<Host> host;
    std::shared_ptr<World> input, layer, output;
    std::string error;

    Scene(std::shared_ptr<standalone::Module> module, int depth) {
        if (module == nullptr) {
            error = "no module";
            return;
        }
        const PF_PixelFormat format = format_of(depth);
        const A_long w = g_width, h = g_height;
        input = make_world(w, h, format, input_pixel);
        layer = make_world(w, h, format, [w, h](A_long x, A_long y) { return layer_pixel(x, y, w, h); });
        output = std::make_shared<World>(w, h, format);
        host = std::make_unique<Host>(std::move(module));
        // The call log would dominate: the CLI renders with it off too.
        host->log().set_enabled(false);
        if (host->setup_all() != PF_Err_NONE) {
            error = "setup failed";
            return;
        }
        host->set_input(input);
        host->set_output(output);
        host->set_layer_param(PARAM_LAYER, layer);
        host->set_path_param(PARAM_PATH, host->add_mask(ellipse(w / 2.0, h / 2.0, w / 2.0, h / 2.0)));
        host->set_param_percent(PARAM_TIME, 50.0);
    }
};

// ---- The strokes of the frame ------------------------------------------------

// Inclusive rectangle of a whole stroke (at "Time" 50 % every stroke is
// drawn whole).
struct Rect {
    A_long x_lo, x_hi, y_lo, y_hi;
};

long long covered_pixels(const std::vector<Rect>& rects) {
    long long sum = 0;
    for (const Rect& r : rects) {
        const long long w = std::min(r.x_hi, g_width - 1) - std::max(r.x_lo, 0) + 1;
        const long long h = std::min(r.y_hi, g_height - 1) - std::max(r.y_lo, 0) + 1;
        if (w > 0 && h > 0) sum += w * h;
    }
    return sum;
}

// Stage times of one frame taken apart (milliseconds).
struct Breakdown {
    double fill = 0, id_map = 0, generate = 0, sampler_build = 0, sample_only = 0, draw = 0;
};

// The effect's render driver, stage by stage with timings, through the
// static library inside the host's SMART_RENDER call. `draw` off: stops after
// generation.
struct Probe {
    bool draw = false;
    PF_Err err = PF_Err_NONE;
    std::string failure;
    PreRenderInfo info{};
    std::vector<Stroke> strokes;
    StrokeTotals totals{0, 0};
    Breakdown times;

    PF_Err run(PF_InData* in, PF_SmartRenderExtra* extra);

private:
    template <typename Pixel>
    void sample_pass(PF_InData* in, SuiteCache& suites, const PF_ParamDef& layer, const StrokeList& list);
};

thread_local Probe* t_probe = nullptr;

template <typename Pixel>
auto area_sampler(SuiteCache& suites) {
    return suites.sampling_suite<Pixel>()->*PixelTraits<Pixel>::area_sample;
}

// One host sampling call per covered pixel at the painter's positions and
// radii, nothing else: the host's share of the painting.
template <typename Pixel>
void Probe::sample_pass(PF_InData* in, SuiteCache& suites, const PF_ParamDef& layer, const StrokeList& list) {
    const auto sample = area_sampler<Pixel>(suites);
    PF_SampPB pb{};
    pb.src = const_cast<PF_EffectWorld*>(&layer.u.ld);
    const double wl = layer.u.ld.width, hl = layer.u.ld.height;
    Pixel px{};
    std::uint32_t acc = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Stroke s = list.at(i);
        const double w = 2.0 * s.half_w + 1.0, h = 2.0 * s.half_h + 1.0;
        const double x_step = wl * (w - 1.0) / (w * w), y_step = hl * (h - 1.0) / (h * h);
        pb.x_radius = to_fixed(x_step * 0.5);
        pb.y_radius = to_fixed(y_step * 0.5);
        const PF_Fixed x0 = to_fixed((wl - 1.0) * 0.5), y0 = to_fixed((hl - 1.0) * 0.5);
        const A_long dy_lo = std::max(-s.half_h, -s.center_y);
        const A_long dy_hi = std::min(s.half_h, g_height - 1 - s.center_y);
        const A_long dx_lo = std::max(-s.half_w, -s.center_x);
        const A_long dx_hi = std::min(s.half_w, g_width - 1 - s.center_x);
        for (A_long dy = dy_lo; dy <= dy_hi; ++dy) {
            const PF_Fixed ly = y0 + to_fixed(dy * y_step);
            for (A_long dx = dx_lo; dx <= dx_hi; ++dx) {
                sample(in->effect_ref, x0 + to_fixed(dx * x_step), ly, &pb, &px);
                acc += static_cast<std::uint32_t>(px.red);
            }
        }
    }
    benchmark::DoNotOptimize(acc);
}

PF_Err Probe::run(PF_InData* in, PF_SmartRenderExtra* extra) {
    SuiteCache suites(in->pica_basicP);
    const PF_ProgPtr ref = in->effect_ref;
    const PF_HandleSuite1* handles = suites.handle_suite();
    const auto handle = static_cast<PF_Handle>(extra->input->pre_render_data);
    const auto* locked = static_cast<const PreRenderInfo*>(handles->host_lock_handle(handle));
    if (locked == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    info = *locked;
    handles->host_unlock_handle(handle);

    PF_EffectWorld* input = nullptr;
    PF_EffectWorld* output = nullptr;
    if (PF_Err e = extra->cb->checkout_layer_pixels(ref, 0, &input)) return e;
    if (PF_Err e = extra->cb->checkout_output(ref, &output)) return e;
    const int depth = extra->input->bitdepth == 8 ? DEPTH_8 : extra->input->bitdepth == 16 ? DEPTH_16 : DEPTH_FLOAT;

    RenderContext ctx;
    std::memset(&ctx, 0, sizeof ctx);
    ctx.in_data = in;
    ctx.input = input;
    ctx.output = output;
    ctx.width = input->width;
    ctx.height = input->height;
    ctx.depth = static_cast<uint8_t>(depth);
    const A_long pixel = depth == DEPTH_8 ? 4 : depth == DEPTH_16 ? 8 : 16;
    ctx.in_row_pixels = input->rowbytes / pixel;
    ctx.out_row_pixels = output->rowbytes / pixel;

    auto start = Clock::now();
    const PF_Pixel transparent{0, 0, 0, 0};
    in->utils->fill(ref, &transparent, nullptr, output);
    times.fill = ms_since(start);

    PF_ParamDef layer{};
    PF_Err e = in->inter.checkout_param(ref, PARAM_LAYER, in->current_time, in->time_step, in->time_scale, &layer);
    if (e != PF_Err_NONE) return e;
    PF_PathOutlinePtr path = nullptr;
    const auto path_id = static_cast<PF_PathID>(info.path_id);
    e = suites.path_query_suite()->PF_CheckoutPath(ref, path_id, in->current_time, in->time_step, in->time_scale,
                                                   &path);
    PF_Boolean open = 0;
    A_long segments = 0;
    if (e == PF_Err_NONE) e = suites.path_data_suite()->PF_PathIsOpen(ref, path, &open);
    if (e == PF_Err_NONE) e = suites.path_data_suite()->PF_PathNumSegments(ref, path, &segments);

    start = Clock::now();
    const std::size_t entries = static_cast<std::size_t>(ctx.width) * static_cast<std::size_t>(ctx.height);
    PF_Handle map_handle = in->utils->host_new_handle(entries * sizeof(A_long));
    A_long* id_map = map_handle != nullptr ? static_cast<A_long*>(*map_handle) : nullptr;
    if (id_map != nullptr) std::memset(id_map, 0, entries * sizeof(A_long));
    times.id_map = ms_since(start);

    StrokeList list;
    if (e == PF_Err_NONE && id_map != nullptr) {
        GenerateOptions options;
        options.path_open = open != 0 ? 1 : 0;
        start = Clock::now();
        totals = generate_strokes({.ctx = ctx,
                                   .info = info,
                                   .layer_width = layer.u.ld.width,
                                   .layer_height = layer.u.ld.height,
                                   .suites = suites,
                                   .path = path,
                                   .segment_count = segments,
                                   .id_map = id_map,
                                   .options = options},
                                  list, e);
        times.generate = ms_since(start);
    }
    if (path != nullptr) suites.path_query_suite()->PF_CheckinPath(ref, path_id, false, path);

    if (e == PF_Err_NONE && draw) {
        // The host builds its sampling tables on the frame's first sample.
        start = Clock::now();
        PF_SampPB pb{};
        pb.src = &layer.u.ld;
        pb.x_radius = pb.y_radius = 1 << 15;
        union {
            PF_Pixel8 p8;
            PF_Pixel16 p16;
            PF_PixelFloat pf;
        } one{};
        if (depth == DEPTH_8) e = suites.sampling8_suite()->area_sample(ref, 0, 0, &pb, &one.p8);
        if (depth == DEPTH_16) e = suites.sampling16_suite()->area_sample16(ref, 0, 0, &pb, &one.p16);
        if (depth == DEPTH_FLOAT) e = suites.sampling_float_suite()->area_sample_float(ref, 0, 0, &pb, &one.pf);
        times.sampler_build = ms_since(start);

        start = Clock::now();
        if (depth == DEPTH_8) sample_pass<PF_Pixel8>(in, suites, layer, list);
        if (depth == DEPTH_16) sample_pass<PF_Pixel16>(in, suites, layer, list);
        if (depth == DEPTH_FLOAT) sample_pass<PF_PixelFloat>(in, suites, layer, list);
        times.sample_only = ms_since(start);

        start = Clock::now();
        if (e == PF_Err_NONE)
            draw_strokes(ctx, info, layer, suites, list, totals.stroke_count, totals.half_w_total, e);
        times.draw = ms_since(start);
    }

    for (std::size_t i = 0; i < list.size(); ++i) strokes.push_back(list.at(i));
    in->inter.checkin_param(ref, &layer);
    if (map_handle != nullptr) in->utils->host_dispose_handle(map_handle);
    return e;
}

// The effect's own entry point, with the render replaced by the probe while
// one is set.
PF_Err PF_CALL probe_entry(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                           PF_LayerDef* output, void* extra) {
    if (cmd == PF_Cmd_SMART_RENDER && t_probe != nullptr) {
        try {
            return t_probe->run(in_data, static_cast<PF_SmartRenderExtra*>(extra));
        } catch (const PF_Err& e) {
            return e;
        }
    }
    return EntryPointFunc(cmd, in_data, out_data, params, output, extra);
}

// Renders one probe frame with `scene`'s host.
void probe_frame(Scene& scene, Probe& probe) {
    t_probe = &probe;
    const standalone::RenderResult r = scene.host->render_frame();
    t_probe = nullptr;
    probe.err = r.err();
    if (probe.err != PF_Err_NONE) probe.failure = "probe render failed: " + std::to_string(probe.err);
}

std::shared_ptr<standalone::Module> probe_module() { return standalone::Module::from_entry(probe_entry, "probe"); }

// The strokes of the frame, the same at every depth.
struct Layout {
    std::vector<Rect> rects;
    long long covered = 0;
    std::string failure;
};

const Layout& layout() {
    static const Layout cached = [] {
        Layout l;
        Scene scene(probe_module(), DEPTH_8);
        Probe probe;
        if (scene.error.empty()) probe_frame(scene, probe);
        else probe.failure = scene.error;
        if (!probe.failure.empty()) {
            l.failure = probe.failure;
            return l;
        }
        if (probe.info.time_fraction != 0.5) {
            l.failure = "the floor loop expects every stroke drawn whole (Time 50 %)";
            return l;
        }
        for (const Stroke& s : probe.strokes)
            l.rects.push_back({s.center_x - s.half_w, s.center_x + s.half_w, s.center_y - s.half_h, s.center_y + s.half_h});
        l.covered = covered_pixels(l.rects);
        return l;
    }();
    return cached;
}

// ---- Results shared between benchmarks for the summary ----------------------

struct DepthResult {
    double render_ms = 0, floor_ms = 0;
    std::uint64_t render_hash = 0;  // the rendered frame's pixels
};
DepthResult g_results[3];

// ---- Benchmarks -----------------------------------------------------------

void BM_Render(benchmark::State& state) {
    const int depth = static_cast<int>(state.range(0));
    std::string error;
    const Layout& l = layout();
    if (!l.failure.empty()) {
        state.SkipWithError(l.failure.c_str());
        return;
    }
    Scene scene(real_module(&error), depth);
    if (!scene.error.empty()) {
        state.SkipWithError((scene.error + " " + error).c_str());
        return;
    }
    double total_ms = 0;
    long faults = 0;
    std::size_t reports = 0;
    for (auto _ : state) {
        scene.host->clear_progress();
        const long faults_before = minor_faults();
        const auto start = Clock::now();
        const standalone::RenderResult r = scene.host->render_frame();
        const double ms = ms_since(start);
        faults += minor_faults() - faults_before;
        state.SetIterationTime(ms / 1000.0);
        total_ms += ms;
        if (r.err() != PF_Err_NONE) {
            state.SkipWithError(("render failed: " + std::to_string(r.err())).c_str());
            return;
        }
        reports = scene.host->progress_calls().size();
    }
    // One progress report per drawn stroke: the render drew what the floor draws.
    if (reports != l.rects.size()) {
        state.SkipWithError(("render reported " + std::to_string(reports) + " strokes, layout has " +
                             std::to_string(l.rects.size()))
                                .c_str());
        return;
    }
    const double frame_ms = total_ms / static_cast<double>(state.iterations());
    g_results[depth].render_ms = frame_ms;
    g_results[depth].render_hash = scene.output->pixel_hash();
    state.counters["strokes"] = static_cast<double>(l.rects.size());
    state.counters["covered_px"] = static_cast<double>(l.covered);
    state.counters["ns_per_px"] = frame_ms * 1e6 / static_cast<double>(l.covered);
    // Fresh pages the frame touched (host tables, id map), per frame.
    state.counters["page_faults"] = static_cast<double>(faults) / static_cast<double>(state.iterations());
}

// Nearest-pixel copy of the Layer into each rectangle, one Normal composite.
template <typename Pixel>
void floor_frame(const std::vector<Rect>& rects, const World& layer, World& out, std::vector<A_long>& columns) {
    constexpr BlendOp<Pixel> normal = blend_op<Pixel>(BlendMode::Normal);
    const long long wl = layer.width(), hl = layer.height();
    for (const Rect& r : rects) {
        const long long w = r.x_hi - r.x_lo + 1, h = r.y_hi - r.y_lo + 1;
        const A_long x_lo = std::max(r.x_lo, 0), x_hi = std::min(r.x_hi, g_width - 1);
        const A_long y_lo = std::max(r.y_lo, 0), y_hi = std::min(r.y_hi, g_height - 1);
        if (x_lo > x_hi || y_lo > y_hi) continue;
        columns.resize(static_cast<std::size_t>(x_hi - x_lo + 1));
        for (A_long x = x_lo; x <= x_hi; ++x)
            columns[static_cast<std::size_t>(x - x_lo)] = static_cast<A_long>((x - r.x_lo) * wl / w);
        for (A_long y = y_lo; y <= y_hi; ++y) {
            const auto ly = static_cast<A_long>((y - r.y_lo) * hl / h);
            const Pixel* src = reinterpret_cast<const Pixel*>(layer.row(ly));
            Pixel* dst = reinterpret_cast<Pixel*>(out.row(y)) + x_lo;
            const A_long* col = columns.data();
            for (A_long i = 0, n = x_hi - x_lo + 1; i < n; ++i) dst[i] = normal(dst[i], src[col[i]]);
        }
    }
}

void BM_Floor(benchmark::State& state) {
    const int depth = static_cast<int>(state.range(0));
    const Layout& l = layout();
    if (!l.failure.empty()) {
        state.SkipWithError(l.failure.c_str());
        return;
    }
    const PF_PixelFormat format = format_of(depth);
    const A_long w = g_width, h = g_height;
    const auto layer = make_world(w, h, format, [w, h](A_long x, A_long y) { return layer_pixel(x, y, w, h); });
    World out(w, h, format);
    std::vector<A_long> columns;
    double total_ms = 0;
    for (auto _ : state) {
        // Composited over a transparent frame, as the render's output starts.
        for (A_long y = 0; y < h; ++y) std::memset(out.row(y), 0, static_cast<std::size_t>(w) * out.pixel_size());
        const auto start = Clock::now();
        switch (depth) {
            case DEPTH_8: floor_frame<PF_Pixel8>(l.rects, *layer, out, columns); break;
            case DEPTH_16: floor_frame<PF_Pixel16>(l.rects, *layer, out, columns); break;
            default: floor_frame<PF_PixelFloat>(l.rects, *layer, out, columns); break;
        }
        const double ms = ms_since(start);
        benchmark::DoNotOptimize(out.row(0));
        state.SetIterationTime(ms / 1000.0);
        total_ms += ms;
    }
    const double frame_ms = total_ms / static_cast<double>(state.iterations());
    g_results[depth].floor_ms = frame_ms;
    state.counters["ns_per_px"] = frame_ms * 1e6 / static_cast<double>(l.covered);
    if (g_results[depth].render_ms > 0) state.counters["render_ratio"] = g_results[depth].render_ms / frame_ms;
}

// The render taken apart: one frame per iteration, stage times averaged.
// The host is kept across frames, as in BM_Render.
void BM_Breakdown(benchmark::State& state) {
    const int depth = static_cast<int>(state.range(0));
    Scene scene(probe_module(), depth);
    if (!scene.error.empty()) {
        state.SkipWithError(scene.error.c_str());
        return;
    }
    Breakdown sum;
    long faults = 0;
    for (auto _ : state) {
        Probe p;
        p.draw = true;
        const long faults_before = minor_faults();
        const auto start = Clock::now();
        probe_frame(scene, p);
        state.SetIterationTime(ms_since(start) / 1000.0);
        faults += minor_faults() - faults_before;
        if (!p.failure.empty()) {
            state.SkipWithError(p.failure.c_str());
            return;
        }
        sum.fill += p.times.fill;
        sum.id_map += p.times.id_map;
        sum.generate += p.times.generate;
        sum.sampler_build += p.times.sampler_build;
        sum.sample_only += p.times.sample_only;
        sum.draw += p.times.draw;
    }
    // The stages put together make the render's very frame.
    if (g_results[depth].render_hash != 0)
        state.counters["same_frame"] = scene.output->pixel_hash() == g_results[depth].render_hash ? 1 : 0;
    const double n = static_cast<double>(state.iterations());
    const double covered = static_cast<double>(layout().covered);
    state.counters["fill_ms"] = sum.fill / n;
    state.counters["id_map_ms"] = sum.id_map / n;
    state.counters["generate_ms"] = sum.generate / n;
    state.counters["sat_build_ms"] = sum.sampler_build / n;
    state.counters["sample_only_ms"] = sum.sample_only / n;
    state.counters["draw_ms"] = sum.draw / n;
    state.counters["page_faults"] = static_cast<double>(faults) / n;
    // The host's sampling call per covered pixel, and what drawing costs
    // beyond those calls (the effect's own per-pixel work).
    state.counters["sample_ns_per_call"] = sum.sample_only / n * 1e6 / covered;
    state.counters["paint_own_ns_per_px"] = (sum.draw - sum.sample_only) / n * 1e6 / covered;
}

// The host's sampling tables of the frame's Layer, built from scratch (the
// host builds them once per Layer, shared by every frame and worker).
void BM_TableBuild(benchmark::State& state) {
    const int depth = static_cast<int>(state.range(0));
    const PF_PixelFormat format = format_of(depth);
    const A_long w = g_width, h = g_height;
    const auto layer = make_world(w, h, format, [w, h](A_long x, A_long y) { return layer_pixel(x, y, w, h); });
    double total_ms = 0;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const standalone::AreaSampler sampler(*layer->def(), format);
        const double ms = ms_since(start);
        bytes = sampler.table_bytes();
        state.SetIterationTime(ms / 1000.0);
        total_ms += ms;
    }
    state.counters["build_ms"] = total_ms / static_cast<double>(state.iterations());
    state.counters["bytes_per_px"] = static_cast<double>(bytes) / (static_cast<double>(w) * static_cast<double>(h));
}

void depth_args(benchmark::internal::Benchmark* b) {
    b->ArgName("depth")->Arg(DEPTH_8)->Arg(DEPTH_16)->Arg(DEPTH_FLOAT);
}

void print_summary() {
    const Layout& l = layout();
    if (!l.failure.empty()) return;
    std::printf("\nframe %dx%d, %zu strokes, %lld covered pixels\n", static_cast<int>(g_width),
                static_cast<int>(g_height), l.rects.size(), l.covered);
    std::printf("thread CPU time per frame\n");
    std::printf("%-6s %12s %12s %12s %12s %8s\n", "depth", "render ms", "render ns/px", "floor ms", "floor ns/px",
                "ratio");
    for (int depth = DEPTH_8; depth <= DEPTH_FLOAT; ++depth) {
        const DepthResult& r = g_results[depth];
        if (r.render_ms <= 0 || r.floor_ms <= 0) continue;
        const double px = static_cast<double>(l.covered);
        std::printf("%-6s %12.2f %12.1f %12.3f %12.2f %8.1f\n", depth_name(depth), r.render_ms,
                    r.render_ms * 1e6 / px, r.floor_ms, r.floor_ms * 1e6 / px, r.render_ms / r.floor_ms);
    }
}

// ---- The strokes of a trellis render, for the ImageMagick anchor ------------

// World of an 8-bit image read from a file.
std::shared_ptr<World> world_of(const cli::Image& image) {
    auto world = std::make_shared<World>(image.width, image.height, PF_PixelFormat_ARGB32);
    const auto& pixels = image.get<PF_Pixel8>();
    const std::size_t row = static_cast<std::size_t>(image.width);
    for (A_long y = 0; y < image.height; ++y)
        std::memcpy(world->row(y), pixels.data() + static_cast<std::size_t>(y) * row, row * sizeof(PF_Pixel8));
    return world;
}

// `trellis_bench --strokes INPUT LAYER MASK TIME`: the strokes `trellis render
// --input INPUT --layer LAYER --mask MASK --time TIME` lays at 8 bits, one
// "x y width height red green blue" line each (the input's colour at the
// stroke's centre), in drawing order.
int print_strokes(char** args) {
    try {
        const cli::Image input = cli::read_image(args[0], cli::Image::k8);
        const cli::Image layer = cli::read_image(args[1], cli::Image::k8);
        Scene scene(probe_module(), DEPTH_8);
        if (!scene.error.empty()) throw std::runtime_error(scene.error);
        scene.input = world_of(input);
        scene.host->set_input(scene.input);
        scene.host->set_output(nullptr);
        scene.host->set_layer_param(PARAM_LAYER, world_of(layer));
        scene.host->set_path_param(PARAM_PATH, scene.host->add_mask(cli::parse_svg_path(args[2]).outline));
        scene.host->set_param_percent(PARAM_TIME, std::stod(args[3]));
        Probe probe;
        probe_frame(scene, probe);
        if (!probe.failure.empty()) throw std::runtime_error(probe.failure);
        for (const Stroke& s : probe.strokes) {
            const A_long cx = std::clamp<A_long>(s.center_x, 0, input.width - 1);
            const A_long cy = std::clamp<A_long>(s.center_y, 0, input.height - 1);
            const PF_Pixel8 c = input.get<PF_Pixel8>()[static_cast<std::size_t>(cy) * input.width + cx];
            std::printf("%d %d %d %d %d %d %d\n", static_cast<int>(s.center_x - s.half_w),
                        static_cast<int>(s.center_y - s.half_h), static_cast<int>(2 * s.half_w + 1),
                        static_cast<int>(2 * s.half_h + 1), c.red, c.green, c.blue);
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "trellis_bench --strokes: %s\n", e.what());
        return 1;
    }
}

// Takes --frame=WxH out of the arguments.
bool take_frame_flag(int& argc, char** argv) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--frame=", 8) == 0) {
            int w = 0, h = 0;
            if (std::sscanf(argv[i] + 8, "%dx%d", &w, &h) != 2 || w < 16 || h < 16 || w > 16384 || h > 16384) {
                std::fprintf(stderr, "bad %s (want e.g. --frame=480x270)\n", argv[i]);
                return false;
            }
            g_width = w;
            g_height = h;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return true;
}

}  // namespace

BENCHMARK(BM_Render)->Apply(depth_args)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Floor)->Apply(depth_args)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Breakdown)->Apply(depth_args)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TableBuild)->Apply(depth_args)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--strokes") == 0) return print_strokes(argv + 2);
    if (!take_frame_flag(argc, argv)) return 2;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    print_summary();
    benchmark::Shutdown();
    return 0;
}
