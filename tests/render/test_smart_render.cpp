// The render driver through the loaded module and the standalone host: every
// exit with its result, message and output, and everything given back after
// it; generation against the host's own masks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/entry.h"
#include "host/suite_cache.h"
#include "params/params.h"
#include "render/records.h"
#include "render/smart_render.h"
#include "standalone/host.h"
#include "standalone/mask.h"
#include "standalone/module.h"
#include "standalone/world.h"
#include "strokes/generate.h"
#include "strokes/stroke_list.h"
#include "tests/support/standalone_fixture.h"

namespace {

using standalone::FaultTarget;
using standalone::Host;
using standalone::MaskShape;
using standalone::World;

constexpr PF_Pixel8 kPattern{0x5A, 0xA5, 0x3C, 0xC3};

void paint_input(World& world) {
    for (A_long y = 0; y < world.height(); ++y)
        for (A_long x = 0; x < world.width(); ++x) {
            const auto a = static_cast<A_u_char>(200 + (x + y) % 50);
            const auto r = static_cast<A_u_char>(x * 3);
            const auto g = static_cast<A_u_char>(y * 5);
            const auto b = static_cast<A_u_char>(255 - x);
            switch (world.format()) {
                case PF_PixelFormat_ARGB32: world.pixel8(x, y) = {a, r, g, b}; break;
                case PF_PixelFormat_ARGB64:
                    world.pixel16(x, y) = {static_cast<A_u_short>(a * 128), static_cast<A_u_short>(r * 128),
                                           static_cast<A_u_short>(g * 128), static_cast<A_u_short>(b * 128)};
                    break;
                default:
                    world.pixel_float(x, y) = {a / 255.0f, r / 255.0f, g / 255.0f, b / 255.0f};
                    break;
            }
        }
}

void fill_pattern(World& world) {
    switch (world.format()) {
        case PF_PixelFormat_ARGB32: world.fill(kPattern); break;
        case PF_PixelFormat_ARGB64: world.fill(PF_Pixel16{1, 2, 3, 4}); break;
        default: world.fill(PF_PixelFloat{0.25f, 0.5f, 0.75f, 1.5f}); break;
    }
}

bool all_zero(const World& world) {
    auto zero = std::make_shared<World>(world.width(), world.height(), world.format());
    return world.same_pixels(*zero);
}

bool is_pattern(const World& world) {
    auto pattern = std::make_shared<World>(world.width(), world.height(), world.format());
    fill_pattern(*pattern);
    return world.same_pixels(*pattern);
}

MaskShape line(double x0, double y0, double x1, double y1) {
    MaskShape shape;
    shape.vertices = {{x0, y0, 0, 0, 0, 0}, {x1, y1, 0, 0, 0, 0}};
    return shape;
}

MaskShape wave() {
    MaskShape shape;
    shape.vertices = {{2, 6, 0, 0, 14, 12}, {30, 30, -8, -6, 12, 4}, {62, 10, -6, 10, 0, 0}};
    return shape;
}

class SmartRender : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        module_ = standalone::Module::load(TRELLIS_MODULE_PATH, &error);
        ASSERT_NE(module_, nullptr) << error;
        build(PF_PixelFormat_ARGB32);
    }

    // A host with a 64 × 40 input, a 12 × 9 layer, a wavy mask and settings
    // that lay a few dozen strokes.
    void build(PF_PixelFormat format, A_long in_padding = 0, A_long out_padding = 0) {
        host_ = std::make_unique<Host>(module_);
        ASSERT_EQ(host_->setup_all(), PF_Err_NONE);
        const auto unit = static_cast<A_long>(standalone::pixel_bytes(format));  // padding in whole pixels
        input_ = std::make_shared<World>(64, 40, format, in_padding * unit);
        paint_input(*input_);
        output_ = std::make_shared<World>(64, 40, format, out_padding * unit);
        fill_pattern(*output_);
        layer_ = std::make_shared<World>(12, 9, format);
        paint_input(*layer_);
        host_->set_input(input_);
        host_->set_output(output_);
        host_->set_layer_param(PARAM_LAYER, layer_);
        mask_id_ = host_->add_mask(wave());
        host_->set_path_param(PARAM_PATH, mask_id_);
        host_->set_param(PARAM_MODE, 1);
        host_->set_param_percent(PARAM_TIME, 50.0);
        host_->set_param(PARAM_MAX_WIDTH, 16);
        host_->set_param_percent(PARAM_MIN_WIDTH, 20.0);
        host_->set_param(PARAM_VARIOUS_DIRECTIONS, 0);
        host_->set_param(PARAM_BLEND_MODE, 1);
        host_->set_param_percent(PARAM_OPACITY, 100.0);
        host_->set_param(PARAM_SEED, 3);
        host_->set_param(PARAM_ON_ORIGINAL, 1);
    }

    struct Counts {
        long world_acquired, world_released, mask_acquired, mask_released, path_out, path_in, disposals;
    };
    Counts counts() const {
        const standalone::Ledger& l = host_->ledger();
        const standalone::CallLog& log = host_->log();
        return {l.acquisitions(kPFWorldSuite, 2),        l.releases(kPFWorldSuite, 2),
                l.acquisitions(kPF_MaskSuite, kPF_MaskSuiteVersion1),       l.releases(kPF_MaskSuite, kPF_MaskSuiteVersion1),
                static_cast<long>(log.count("PF_CheckoutPath")), static_cast<long>(log.count("PF_CheckinPath")),
                static_cast<long>(log.count("host_dispose_handle"))};
    }

    standalone::RenderResult render() {
        before_ = counts();
        result_ = host_->render_frame();
        after_ = counts();
        return result_;
    }

    // After any exit: the render gave back what it took.
    void expect_released() {
        std::string why;
        EXPECT_TRUE(host_->balanced(&why)) << why;
        EXPECT_TRUE(result_.guards_intact) << result_.guard_report;
        EXPECT_EQ(after_.world_acquired - before_.world_acquired, after_.world_released - before_.world_released);
        EXPECT_LE(after_.world_acquired - before_.world_acquired, 1);
        EXPECT_EQ(after_.mask_acquired - before_.mask_acquired, after_.mask_released - before_.mask_released);
        EXPECT_LE(after_.mask_acquired - before_.mask_acquired, 1);
        EXPECT_TRUE(host_->ledger().params_out().empty() ||
                    host_->ledger().params_out().at(PARAM_LAYER) == 0);
    }
    long paths_checked_out() const { return after_.path_out - before_.path_out; }
    long paths_checked_in() const { return after_.path_in - before_.path_in; }

    std::shared_ptr<standalone::Module> module_;
    std::unique_ptr<Host> host_;
    std::shared_ptr<World> input_, output_, layer_;
    PF_PathID mask_id_ = 0;
    standalone::RenderResult result_;
    Counts before_{}, after_{};
};

TEST_F(SmartRender, DrawsStrokesAndGivesEverythingBack) {
    render();
    ASSERT_TRUE(result_.rendered);
    EXPECT_EQ(result_.err(), PF_Err_NONE);
    EXPECT_FALSE(output_->same_pixels(*input_));
    EXPECT_FALSE(is_pattern(*output_));
    EXPECT_FALSE(host_->progress_calls().empty());
    EXPECT_EQ(paths_checked_out(), 1);
    EXPECT_EQ(paths_checked_in(), 1);
    EXPECT_EQ(after_.world_acquired - before_.world_acquired, 1);
    EXPECT_EQ(after_.mask_acquired - before_.mask_acquired, 1);
    // The id map: width × height × 4 bytes, allocated and disposed.
    bool map_seen = false;
    for (const standalone::LoggedCall& c : host_->log().calls("host_new_handle"))
        map_seen |= c.int_arg(0) == 64 * 40 * 4;
    EXPECT_TRUE(map_seen);
    expect_released();
}

// An exception thrown inside a frame (here by a host callback) must end as
// an error code at the entry point, with everything the render held given
// back, and never reach the host.
TEST_F(SmartRender, ExceptionsBecomeErrorCodesAtTheEntryPoint) {
    const struct {
        const char* what;
        std::function<void()> raise;
        PF_Err expected;
    } cases[] = {
        {"bad_alloc", [] { throw std::bad_alloc(); }, PF_Err_OUT_OF_MEMORY},
        {"runtime_error", [] { throw std::runtime_error("host callback failed"); }, PF_Err_INTERNAL_STRUCT_DAMAGED},
        // A thrown int is a PF_Err by the suite cache's convention and passes as it is.
        {"error code", [] { throw PF_Err{1234}; }, 1234},
        {"text", [] { throw "no"; }, PF_Err_INTERNAL_STRUCT_DAMAGED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        build(PF_PixelFormat_ARGB32);
        host_->set_progress_hook([&c](A_long, A_long) -> PF_Err {
            c.raise();
            return PF_Err_NONE;
        });
        render();
        ASSERT_TRUE(result_.rendered);
        EXPECT_EQ(result_.err(), c.expected);
        EXPECT_EQ(paths_checked_in(), paths_checked_out());
        // The host's own guard records any exception that reaches it.
        expect_released();
    }
}

TEST_F(SmartRender, StrokeFreeExitsCopyOrClear) {
    struct Case {
        const char* name;
        std::function<void(Host&)> arrange;
    };
    const Case cases[] = {
        {"time 0", [](Host& h) { h.set_param_percent(PARAM_TIME, 0.0); }},
        {"time 100", [](Host& h) { h.set_param_percent(PARAM_TIME, 100.0); }},
        {"no path", [](Host& h) { h.set_path_param(PARAM_PATH, 0); }},
        {"no layer", [](Host& h) { h.set_layer_param(PARAM_LAYER, nullptr); }},
    };
    for (const Case& c : cases) {
        for (A_long on_original : {1, 0}) {
            SCOPED_TRACE(std::string(c.name) + (on_original ? " on original" : " transparent"));
            build(PF_PixelFormat_ARGB32);
            host_->set_param(PARAM_ON_ORIGINAL, on_original);
            c.arrange(*host_);
            render();
            EXPECT_EQ(result_.err(), PF_Err_NONE);
            if (on_original) EXPECT_TRUE(output_->same_pixels(*input_));
            else EXPECT_TRUE(all_zero(*output_));
            EXPECT_EQ(paths_checked_out(), 0);
            EXPECT_TRUE(host_->progress_calls().empty());
            EXPECT_EQ(after_.mask_acquired - before_.mask_acquired, 1);
            expect_released();
        }
    }
}

TEST_F(SmartRender, TransparentBackgroundWithStrokes) {
    host_->set_param(PARAM_ON_ORIGINAL, 0);
    render();
    EXPECT_EQ(result_.err(), PF_Err_NONE);
    EXPECT_FALSE(all_zero(*output_));
    // Uncovered pixels stay as the fill made them: the corner far from the mask.
    EXPECT_EQ(output_->pixel8(63, 39).alpha, 0);
    EXPECT_EQ(output_->pixel8(63, 39).red, 0);
    expect_released();
}

enum class Expect { Untouched, Copy, Strokes, Any };

struct FailureCase {
    const char* name;
    std::function<void(Host&)> arrange;
    PF_Err code;
    const char* message;  // null: none shown
    Expect output;
    long paths_in;  // path check-ins expected
    bool balanced = true;  // false: the host itself keeps what its failing call held
};

// The host function answers `code` from its nth call on.
std::function<void(Host&)> failing(FaultTarget target, PF_Err code, long nth = 1) {
    return [=](Host& h) { h.faults().fail_callback(target, code, nth); };
}

TEST_F(SmartRender, FailureTable) {
    const PF_Err code = 1234;
    const FailureCase cases[] = {
        {"pre-render record not lockable", [](Host& h) { h.faults().fail_lock(2); }, PF_Err_BAD_CALLBACK_PARAM, nullptr,
         Expect::Untouched, 0},
        {"handle suite refused", [](Host& h) { h.faults().refuse_suite(kPFHandleSuite, kPFHandleSuiteVersion1, 2); },
         PF_Err_BAD_CALLBACK_PARAM, nullptr, Expect::Untouched, 0},
        {"input not checked out", failing(FaultTarget::checkout_layer_pixels, code),
         PF_Err_BAD_CALLBACK_PARAM, nullptr, Expect::Untouched, 0},
        {"output not checked out", failing(FaultTarget::checkout_output, code),
         PF_Err_BAD_CALLBACK_PARAM, nullptr, Expect::Untouched, 0},
        {"world suite refused", [](Host& h) { h.faults().refuse_suite(kPFWorldSuite, 2); }, PF_Err_BAD_CALLBACK_PARAM,
         "Couldn't load suite.", Expect::Untouched, 0},
        {"pixel format query fails", failing(FaultTarget::get_pixel_format, code),
         PF_Err_BAD_CALLBACK_PARAM, nullptr, Expect::Untouched, 0},
        {"copy fails", failing(FaultTarget::copy, code), code, nullptr, Expect::Any, 0},
        {"layer not checked out", [](Host& h) { h.faults().fail_checkout_param(PARAM_LAYER, code); }, code, nullptr,
         Expect::Copy, 0},
        {"abort", failing(FaultTarget::abort, PF_Interrupt_CANCEL), PF_Interrupt_CANCEL,
         nullptr, Expect::Copy, 0},
        {"mask suite refused", [](Host& h) { h.faults().refuse_suite(kPF_MaskSuite, kPF_MaskSuiteVersion1); }, PF_Err_BAD_CALLBACK_PARAM,
         "Couldn't load suite.", Expect::Copy, 0},
        {"path query suite refused", [](Host& h) { h.faults().refuse_suite(kPFPathQuerySuite, 1); },
         PF_Err_BAD_CALLBACK_PARAM, nullptr, Expect::Copy, 0},
        {"path data suite refused", [](Host& h) { h.faults().refuse_suite(kPFPathDataSuite, 1); },
         PF_Err_BAD_CALLBACK_PARAM, nullptr, Expect::Copy, 1},
        {"path check-out fails", failing(FaultTarget::checkout_path, code), code, nullptr,
         Expect::Copy, 0},
        {"path open query fails", failing(FaultTarget::path_is_open, code), code, nullptr,
         Expect::Copy, 1},
        {"segment count fails", failing(FaultTarget::path_num_segments, code), code, nullptr,
         Expect::Copy, 1},
        {"vertex fails", failing(FaultTarget::path_vertex_info, code, 2), code, nullptr,
         Expect::Copy, 1},
        {"length preparation fails", failing(FaultTarget::path_prepare_seg_length, code, 2),
         code, nullptr, Expect::Copy, 1},
        {"length fails", failing(FaultTarget::path_get_seg_length, code), code, nullptr,
         Expect::Copy, 1},
        {"evaluation fails", failing(FaultTarget::path_eval_seg_length_deriv1, code, 20), code,
         nullptr, Expect::Copy, 1},
        {"clean-up fails", failing(FaultTarget::path_cleanup_seg_length, code), code, nullptr,
         Expect::Copy, 1, false},
        {"id map not allocated", [](Host& h) { h.faults().fail_allocation(2); }, PF_Err_INTERNAL_STRUCT_DAMAGED,
         "Memory Error!", Expect::Copy, 1},
        {"sampling suite refused", [](Host& h) { h.faults().refuse_suite(kPFSampling8Suite, 1); },
         PF_Err_BAD_CALLBACK_PARAM, nullptr, Expect::Copy, 1},
        {"progress fails", failing(FaultTarget::progress, code, 2), code, nullptr,
         Expect::Strokes, 1},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        build(PF_PixelFormat_ARGB32);
        c.arrange(*host_);
        render();
        ASSERT_TRUE(result_.rendered);
        EXPECT_EQ(result_.err(), c.code);
        if (c.message != nullptr) {
            EXPECT_EQ(result_.return_msg, c.message);
            EXPECT_NE(result_.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
        } else {
            EXPECT_EQ(result_.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
        }
        switch (c.output) {
            case Expect::Untouched: EXPECT_TRUE(is_pattern(*output_)); break;
            case Expect::Copy: EXPECT_TRUE(output_->same_pixels(*input_)); break;
            case Expect::Strokes: EXPECT_FALSE(output_->same_pixels(*input_)); break;
            case Expect::Any: break;
        }
        EXPECT_EQ(paths_checked_in(), c.paths_in);
        EXPECT_LE(paths_checked_in(), paths_checked_out());
        if (c.balanced) {
            expect_released();
        } else {
            EXPECT_EQ(host_->ledger().params_out().count(PARAM_LAYER) ? host_->ledger().params_out().at(PARAM_LAYER) : 0, 0);
            EXPECT_EQ(host_->ledger().suites_held().size(), 0u);
        }
    }
}

TEST_F(SmartRender, UnsupportedPixelFormatLeavesOutputUntouched) {
    for (PF_PixelFormat reported : std::vector<PF_PixelFormat>{PF_PixelFormat_BGRA32, PF_PixelFormat_INVALID, 0}) {
        build(PF_PixelFormat_ARGB32);
        input_->report_format(reported);
        render();
        EXPECT_EQ(result_.err(), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_TRUE(is_pattern(*output_));
        EXPECT_EQ(paths_checked_out(), 0);
        expect_released();
    }
}

TEST_F(SmartRender, MismatchedWorldsGive255) {
    struct Case {
        const char* name;
        A_long width, height, in_padding, out_padding;  // paddings in bytes
        PF_Err code;
    };
    const Case cases[] = {
        {"narrower output", 63, 40, 0, 0, 255},
        {"narrower output, padded to the input's pitch", 63, 40, 0, 4, 255},
        {"shorter output", 64, 39, 0, 0, 255},
        {"taller output", 64, 41, 0, 0, 255},
        {"wider output", 70, 40, 0, 0, PF_Err_NONE},
        {"input pitch not whole pixels", 64, 40, 1, 0, 255},
        {"output pitch not whole pixels", 64, 40, 0, 6, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        build(PF_PixelFormat_ARGB32);
        // A transparent background: the host's copy wants equal sizes.
        host_->set_param(PARAM_ON_ORIGINAL, 0);
        input_ = std::make_shared<World>(64, 40, PF_PixelFormat_ARGB32, c.in_padding);
        paint_input(*input_);
        host_->set_input(input_);
        output_ = std::make_shared<World>(c.width, c.height, PF_PixelFormat_ARGB32, c.out_padding);
        fill_pattern(*output_);
        host_->set_output(output_);
        render();
        EXPECT_EQ(result_.err(), c.code);
        if (c.code != PF_Err_NONE) {
            EXPECT_TRUE(is_pattern(*output_));
            EXPECT_EQ(result_.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
        } else {
            EXPECT_FALSE(all_zero(*output_));
        }
        expect_released();
    }
}

TEST_F(SmartRender, PaddedRowsRenderTheSamePixels) {
    for (PF_PixelFormat format : {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128}) {
        build(format);
        render();
        ASSERT_EQ(result_.err(), PF_Err_NONE);
        expect_released();
        const auto plain = output_;
        EXPECT_FALSE(plain->same_pixels(*input_));

        build(format, 3, 7);
        render();
        ASSERT_EQ(result_.err(), PF_Err_NONE);
        expect_released();
        EXPECT_TRUE(output_->same_pixels(*plain)) << format;
    }
}

// ---- Generation through the host's own masks -------------------------------

// The effect's real entry point, with the render replaced by a script when
// a test sets one.
thread_local std::function<PF_Err(PF_InData*, PF_OutData*, PF_SmartRenderExtra*)> t_render;

PF_Err PF_CALL entry_with_render(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                                 PF_LayerDef* output, void* extra) {
    if (cmd == PF_Cmd_SMART_RENDER && t_render)
        return t_render(in_data, out_data, static_cast<PF_SmartRenderExtra*>(extra));
    return EntryPointFunc(cmd, in_data, out_data, params, output, extra);
}

struct Generated {
    PF_Err err = PF_Err_NONE;
    std::vector<Stroke> strokes;
    StrokeTotals totals{};
    long evaluations = 0;
};

// Generation alone over the mask `id` of `host`, inside a render command so
// that the host's path suites are live.
Generated generate_with_host(Host& host, PF_PathID id, A_long width, A_long height, SampleWalk walk,
                             const PreRenderInfo& info) {
    Generated out;
    t_render = [&](PF_InData* in, PF_OutData*, PF_SmartRenderExtra*) -> PF_Err {
        SuiteCache suites(in->pica_basicP);
        PF_PathOutlinePtr path = nullptr;
        PF_Err err = suites.path_query_suite()->PF_CheckoutPath(in->effect_ref, id, in->current_time, in->time_step,
                                                                in->time_scale, &path);
        if (err != PF_Err_NONE) return err;
        PF_Boolean open = 0;
        A_long segments = 0;
        suites.path_data_suite()->PF_PathIsOpen(in->effect_ref, path, &open);
        suites.path_data_suite()->PF_PathNumSegments(in->effect_ref, path, &segments);
        RenderContext ctx{};
        ctx.in_data = in;
        ctx.width = width;
        ctx.height = height;
        std::vector<A_long> map(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
        StrokeList list;
        GenerateOptions options;
        options.path_open = open ? 1 : 0;
        options.walk = walk;
        const auto evals_before = host.log().count("PF_PathEvalSegLengthDeriv1");
        out.totals = generate_strokes({.ctx = ctx,
                                       .info = info,
                                       .layer_width = 1920,
                                       .layer_height = 1080,
                                       .suites = suites,
                                       .path = path,
                                       .segment_count = segments,
                                       .id_map = map.data(),
                                       .options = options},
                                      list, out.err);
        out.evaluations = static_cast<long>(host.log().count("PF_PathEvalSegLengthDeriv1") - evals_before);
        for (std::size_t i = 0; i < list.size(); ++i) out.strokes.push_back(list.at(i));
        suites.path_query_suite()->PF_CheckinPath(in->effect_ref, id, false, path);
        return PF_Err_NONE;
    };
    const standalone::RenderResult r = host.render_frame();
    t_render = nullptr;
    EXPECT_EQ(r.err(), PF_Err_NONE);
    return out;
}

class GenerateWithHost : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = standalone::Module::from_entry(entry_with_render, "effect with scripted render");
        host_ = std::make_unique<Host>(module_);
        ASSERT_EQ(host_->setup_all(), PF_Err_NONE);
        host_->set_input(std::make_shared<World>(4, 4, PF_PixelFormat_ARGB32));
        info_.half_max_width = 150;
        info_.min_width_fraction = 0.2;
        info_.seed = 0;
    }
    void TearDown() override { t_render = nullptr; }

    std::shared_ptr<standalone::Module> module_;
    std::unique_ptr<Host> host_;
    PreRenderInfo info_{};
};

TEST_F(GenerateWithHost, StraightMaskTowardsPlusX) {
    const PF_PathID id = host_->add_mask(line(100, 500, 1500, 500));
    const Generated g = generate_with_host(*host_, id, 1920, 1080, SampleWalk::SkipUnreachable, info_);
    ASSERT_EQ(g.err, PF_Err_NONE);
    ASSERT_GE(g.strokes.size(), 2u);
    // 1920 × 1080 layer: S 110 gives half extents 110 × 62.
    EXPECT_EQ(g.strokes[0].side, StrokeSide::Right);
    EXPECT_EQ(g.strokes[0].half_w, 110);
    EXPECT_EQ(g.strokes[0].half_h, 62);
    EXPECT_EQ(g.strokes[0].center_x - g.strokes[0].half_w, 100);
    EXPECT_EQ(g.strokes[1].side, StrokeSide::Left);
    EXPECT_EQ(g.strokes[1].sample_x, 321);
}

// Masks far larger than the frame: skipping what cannot reach the frame
// gives exactly the strokes of the full walk, for a fraction of the cost.
TEST_F(GenerateWithHost, LargeMasksSkipWithoutChangingStrokes) {
    std::vector<MaskShape> masks;
    masks.push_back(line(-40000, 300, 40000, 700));
    {
        MaskShape closed;  // a rectangle around the frame with one side through it
        closed.vertices = {{-20000, -20000, 0, 0, 0, 0}, {30000, -20000, 0, 0, 0, 0}, {30000, 600, 0, 0, 0, 0},
                           {-20000, 500, 0, 0, 0, 0}};
        closed.closed = true;
        masks.push_back(closed);
    }
    {
        MaskShape curve;  // gentle curves through the frame
        curve.vertices = {{-30000, -2000, 0, 0, 12000, 3000}, {960, 540, -9000, -1000, 9000, 1000},
                          {30000, 3000, -12000, 1000, 0, 0}};
        masks.push_back(curve);
    }
    {
        MaskShape loop;  // handles beyond the ends: walked whole
        loop.vertices = {{-20000, 200, 0, 0, 45000, 900}, {20000, 900, -45000, -900, 0, 0}};
        masks.push_back(loop);
    }
    for (std::size_t i = 0; i < masks.size(); ++i) {
        SCOPED_TRACE(i);
        const PF_PathID id = host_->add_mask(masks[i]);
        const Generated fast = generate_with_host(*host_, id, 1920, 1080, SampleWalk::SkipUnreachable, info_);
        const Generated full = generate_with_host(*host_, id, 1920, 1080, SampleWalk::EveryStep, info_);
        ASSERT_EQ(fast.err, PF_Err_NONE);
        ASSERT_FALSE(full.strokes.empty());
        ASSERT_EQ(fast.strokes.size(), full.strokes.size());
        for (std::size_t k = 0; k < fast.strokes.size(); ++k)
            EXPECT_EQ(std::memcmp(&fast.strokes[k], &full.strokes[k], sizeof(Stroke)), 0) << k;
        EXPECT_LE(fast.evaluations, full.evaluations);
        if (i < 3) {
            EXPECT_LT(fast.evaluations * 5, full.evaluations);
        }
    }
}

TEST_F(GenerateWithHost, HugeMaskFarOutsideFinishesFast) {
    MaskShape far;
    far.vertices = {{1e9, 1e9, 0, 0, 0, 0}, {-1e9, 1e9, 0, 0, 0, 0}, {-1e9, 3e9, 0, 0, 0, 0}};
    far.closed = true;
    const PF_PathID id = host_->add_mask(far);
    const Generated g = generate_with_host(*host_, id, 1920, 1080, SampleWalk::SkipUnreachable, info_);
    EXPECT_EQ(g.err, PF_Err_NONE);
    EXPECT_TRUE(g.strokes.empty());
    EXPECT_EQ(g.evaluations, 0);
}

// At most a walk across the 1920 columns and a few hundred leaps, however
// long or broken the segment.
constexpr long kNonFiniteWalkBound = 1920 + 300;

TEST_F(GenerateWithHost, NonFiniteMaskFinishes) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const MaskShape& shape : {line(0, 500, inf, 500), line(nan, 5, 100, 5), line(-1e300, 500, 1e300, 500)}) {
        const PF_PathID id = host_->add_mask(shape);
        const Generated g = generate_with_host(*host_, id, 1920, 1080, SampleWalk::SkipUnreachable, info_);
        EXPECT_EQ(g.err, PF_Err_NONE);
        EXPECT_LE(g.evaluations, kNonFiniteWalkBound);
        for (const Stroke& s : g.strokes) {
            EXPECT_LE(std::abs(int64_t{s.center_x}), kCenterLimit);
            EXPECT_LE(s.half_h, kExtentLimit);
        }
    }
}

// ---- The id map of a frame whose size passes 32 bits ----------------------

// The host's callbacks for the render, standing in for a 65536 × 16384 frame
// of the host's worlds (nothing of its pixels is touched on this path).
thread_local PF_SmartRenderCallbacks* t_real_callbacks = nullptr;
thread_local PF_EffectWorld t_big_input, t_big_output;

void make_big(PF_EffectWorld* world) {
    world->width = 65536;
    world->height = 16384;
    world->rowbytes = 65536 * 4;
}
PF_Err PF_CALL big_input(PF_ProgPtr ref, A_long id, PF_EffectWorld** world) {
    PF_EffectWorld* real = nullptr;
    const PF_Err err = t_real_callbacks->checkout_layer_pixels(ref, id, &real);
    if (err != PF_Err_NONE) return err;
    t_big_input = *real;
    make_big(&t_big_input);
    *world = &t_big_input;
    return PF_Err_NONE;
}
PF_Err PF_CALL big_output(PF_ProgPtr ref, PF_EffectWorld** world) {
    PF_EffectWorld* real = nullptr;
    const PF_Err err = t_real_callbacks->checkout_output(ref, &real);
    if (err != PF_Err_NONE) return err;
    t_big_output = *real;
    make_big(&t_big_output);
    *world = &t_big_output;
    return PF_Err_NONE;
}
PF_Err PF_CALL no_copy(PF_ProgPtr, PF_EffectWorld*, PF_EffectWorld*, PF_Rect*, PF_Rect*) { return 0; }
PF_Err PF_CALL no_fill(PF_ProgPtr, const PF_Pixel*, const PF_Rect*, PF_EffectWorld*) { return 0; }

TEST(SmartRenderMemory, IdMapSizedIn64BitsAndRefusalShowsMemoryError) {
    auto module = standalone::Module::from_entry(entry_with_render, "effect with big worlds");
    Host host(module);
    ASSERT_EQ(host.setup_all(), PF_Err_NONE);
    host.set_input(std::make_shared<World>(8, 8, PF_PixelFormat_ARGB32));
    host.set_output(std::make_shared<World>(8, 8, PF_PixelFormat_ARGB32));
    host.set_layer_param(PARAM_LAYER, std::make_shared<World>(4, 4, PF_PixelFormat_ARGB32));
    host.set_path_param(PARAM_PATH, host.add_mask(line(1, 1, 6, 6)));
    host.set_param_percent(PARAM_TIME, 50.0);
    // The map of 2^32 bytes (0 in 32-bit arithmetic) is refused by the host.
    host.faults().fail_allocation(2);
    t_render = [](PF_InData* in, PF_OutData* out, PF_SmartRenderExtra* extra) -> PF_Err {
        PF_SmartRenderCallbacks callbacks = *extra->cb;
        t_real_callbacks = extra->cb;
        callbacks.checkout_layer_pixels = big_input;
        callbacks.checkout_output = big_output;
        PF_SmartRenderExtra big_extra{extra->input, &callbacks};
        PF_UtilCallbacks utils = *in->utils;
        utils.copy = no_copy;
        utils.fill = no_fill;
        PF_UtilCallbacks* real_utils = in->utils;
        in->utils = &utils;
        PF_Err err = PF_Err_NONE;
        try {
            err = smart_render(in, out, &big_extra);
        } catch (PF_Err thrown) {
            err = thrown;
        }
        in->utils = real_utils;
        return err;
    };
    const standalone::RenderResult r = host.render_frame();
    t_render = nullptr;
    EXPECT_EQ(r.err(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(r.return_msg, "Memory Error!");
    EXPECT_NE(r.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
    const auto calls = host.log().calls("host_new_handle");
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().int_arg(0), std::int64_t{65536} * 16384 * 4);
    EXPECT_EQ(host.log().count("PF_CheckinPath"), 1u);
    std::string why;
    EXPECT_TRUE(host.balanced(&why)) << why;
}

}  // namespace
