// The smart-render frame as the host runs it, driven by a scripted effect.
#include <cstring>

#include "standalone/world.h"
#include "tests/support/standalone_fixture.h"

namespace {

using standalone::FaultTarget;
using standalone::RenderOptions;
using standalone::World;
using standalone_test::acquire;
using standalone_test::ScriptedHost;


// A small effect: pre-render keeps a handle and checks out the input;
// render copies the input, samples a layer, reports progress three times.
struct FrameScript {
    bool register_delete = true;
    A_long stray_offset = -1;  // a byte offset into the output to write, if >= 0
    std::vector<PF_Err> progress_results;
    PF_Pixel8 sample{};
    PF_Err sample_err = PF_Err_NONE;

    PF_Err operator()(PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void* extra) {
        if (cmd == PF_Cmd_SMART_PRE_RENDER) {
            auto* pre = static_cast<PF_PreRenderExtra*>(extra);
            pre->output->pre_render_data = in->utils->host_new_handle(8);
            if (register_delete) {
                standalone_test::t_delete_utils = in->utils;
                pre->output->delete_pre_render_data_func = standalone_test::dispose_pre_render_handle;
            }
            PF_RenderRequest req = pre->input->output_request;
            req.preserve_rgb_of_zero_alpha = 1;
            PF_CheckoutResult result{};
            PF_Err err = pre->cb->checkout_layer(in->effect_ref, 0, 0, &req, in->current_time, in->time_step,
                                                 in->time_scale, &result);
            pre->output->result_rect = result.result_rect;
            return err;
        }
        if (cmd == PF_Cmd_SMART_RENDER) {
            auto* smart = static_cast<PF_SmartRenderExtra*>(extra);
            EXPECT_NE(smart->input->pre_render_data, nullptr);
            PF_EffectWorld* input = nullptr;
            PF_EffectWorld* output = nullptr;
            PF_Err err = smart->cb->checkout_layer_pixels(in->effect_ref, 0, &input);
            err = err ? err : smart->cb->checkout_output(in->effect_ref, &output);
            err = err ? err : in->utils->copy(in->effect_ref, input, output, nullptr, nullptr);
            if (err == PF_Err_NONE && stray_offset >= 0) {
                static_cast<std::uint8_t*>(output->data)[stray_offset] = 1;
            }
            PF_ParamDef layer{};
            err = err ? err : in->inter.checkout_param(in->effect_ref, 1, in->current_time, in->time_step,
                                                       in->time_scale, &layer);
            if (err == PF_Err_NONE) {
                auto* sampling = acquire<PF_Sampling8Suite1>(in, kPFSampling8Suite, 1);
                PF_SampPB pb{};
                pb.src = &layer.u.ld;
                pb.x_radius = pb.y_radius = 0x8000;
                sample_err = sampling->area_sample(in->effect_ref, 0x8000, 0, &pb, &sample);
                in->pica_basicP->ReleaseSuite(kPFSampling8Suite, 1);
                in->inter.checkin_param(in->effect_ref, &layer);
            }
            for (A_long i = 1; i <= 3 && err == PF_Err_NONE; ++i) {
                err = in->inter.progress(in->effect_ref, i, 3);
                progress_results.push_back(err);
            }
            return err;
        }
        return PF_Err_NONE;
    }
};

class StandaloneRender : public ScriptedHost {
protected:
    void SetUp() override {
        ScriptedHost::SetUp();
        input_ = std::make_shared<World>(5, 4, PF_PixelFormat_ARGB32, 4);
        for (A_long y = 0; y < 4; ++y) {
            for (A_long x = 0; x < 5; ++x) {
                input_->pixel8(x, y) = PF_Pixel8{255, static_cast<A_u_char>(10 * x), static_cast<A_u_char>(y), 7};
            }
        }
        host().set_input(input_);
        PF_ParamDef def{};
        def.param_type = PF_Param_LAYER;
        host().declare_param(-1, def);
        layer_ = std::make_shared<World>(2, 1, PF_PixelFormat_ARGB32);
        layer_->pixel8(0, 0) = PF_Pixel8{255, 100, 0, 0};
        layer_->pixel8(1, 0) = PF_Pixel8{255, 200, 0, 0};
        host().set_layer_param(1, layer_);
    }

    standalone::RenderResult render(FrameScript& script, const RenderOptions& options = {}) {
        standalone_test::t_script = [&script](PF_Cmd c, PF_InData* i, PF_OutData* o, PF_ParamDef** p, PF_LayerDef* l,
                                              void* e) { return script(c, i, o, p, l, e); };
        return host().render_frame(options);
    }

    std::shared_ptr<World> input_;
    std::shared_ptr<World> layer_;
};

TEST_F(StandaloneRender, WholeFrame) {
    FrameScript script;
    RenderOptions options;
    options.downsample_x = PF_RationalScale{1, 2};
    const standalone::RenderResult r = render(script, options);
    ASSERT_EQ(r.err(), PF_Err_NONE);
    EXPECT_TRUE(r.rendered);
    ASSERT_NE(r.output, nullptr);
    EXPECT_TRUE(r.output->same_pixels(*input_));
    EXPECT_EQ(r.output->rowbytes(), input_->rowbytes());  // made like the input
    EXPECT_TRUE(r.delete_func_called);
    EXPECT_TRUE(r.guards_intact) << r.guard_report;

    ASSERT_EQ(r.layer_checkouts.size(), 1u);
    EXPECT_EQ(r.layer_checkouts[0].index, 0);
    EXPECT_EQ(r.layer_checkouts[0].checkout_id, 0);
    EXPECT_EQ(r.layer_checkouts[0].request.preserve_rgb_of_zero_alpha, 1);
    EXPECT_EQ(r.layer_checkouts[0].request.rect.right, 5);
    EXPECT_EQ(r.request_sent.preserve_rgb_of_zero_alpha, 0);
    EXPECT_EQ(r.pre_render_output.result_rect.right, 5);
    EXPECT_EQ(r.pre_render_output.result_rect.bottom, 4);
    EXPECT_EQ(host().in_data().downsample_x.den, 2u);

    // Area sample of the layer between its two pixels.
    EXPECT_EQ(script.sample_err, PF_Err_NONE);
    EXPECT_EQ(script.sample.alpha, 255);
    EXPECT_EQ(script.sample.red, 150);

    EXPECT_EQ(host().progress_calls(), (std::vector<std::pair<A_long, A_long>>{{1, 3}, {2, 3}, {3, 3}}));
    EXPECT_TRUE(host().balanced()) << why();
}

TEST_F(StandaloneRender, WithoutDeleteFunctionThePreRenderDataLeaks) {
    FrameScript script;
    script.register_delete = false;
    const standalone::RenderResult r = render(script);
    ASSERT_EQ(r.err(), PF_Err_NONE);
    EXPECT_FALSE(r.delete_func_called);
    std::string text;
    EXPECT_FALSE(host().balanced(&text));
    EXPECT_NE(text.find("handle of 8 bytes alive"), std::string::npos) << text;
}

TEST_F(StandaloneRender, PreRenderOnlyKeepsTheFrameOpen) {
    FrameScript script;
    RenderOptions options;
    options.pre_render_only = true;
    options.preset_result_rect = PF_LRect{1, 1, 2, 2};
    const standalone::RenderResult r = render(script, options);
    ASSERT_EQ(r.err(), PF_Err_NONE);
    EXPECT_FALSE(r.rendered);
    EXPECT_TRUE(host().frame_open());
    EXPECT_TRUE(host().balanced()) << why();  // the pre-render data is kept by the host
    host().end_frame();
    EXPECT_FALSE(host().frame_open());
    EXPECT_EQ(host().live_handles(), 0u);
}

TEST_F(StandaloneRender, ProgressCancelsFromTheNthCall) {
    host().faults().fail_callback(FaultTarget::progress, PF_Interrupt_CANCEL, 2);
    FrameScript script;
    const standalone::RenderResult r = render(script);
    EXPECT_EQ(r.render_err, PF_Interrupt_CANCEL);
    EXPECT_EQ(script.progress_results, (std::vector<PF_Err>{PF_Err_NONE, PF_Interrupt_CANCEL}));
    EXPECT_TRUE(r.delete_func_called);
    EXPECT_TRUE(host().balanced()) << why();
}

TEST_F(StandaloneRender, ProgressHookAnswersUnlessAFaultIsInjected) {
    std::vector<std::pair<A_long, A_long>> seen;
    host().set_progress_hook([&seen](A_long current, A_long total) -> PF_Err {
        seen.emplace_back(current, total);
        return current >= 2 ? PF_Interrupt_CANCEL : PF_Err_NONE;
    });
    FrameScript script;
    standalone::RenderResult r = render(script);
    EXPECT_EQ(r.render_err, PF_Interrupt_CANCEL);
    EXPECT_EQ(script.progress_results, (std::vector<PF_Err>{PF_Err_NONE, PF_Interrupt_CANCEL}));
    EXPECT_EQ(seen, (std::vector<std::pair<A_long, A_long>>{{1, 3}, {2, 3}}));
    EXPECT_TRUE(host().balanced()) << why();

    // An injected fault answers first, without asking the hook.
    seen.clear();
    host().faults().fail_callback(FaultTarget::progress, 77, 1);
    FrameScript faulted;
    r = render(faulted);
    EXPECT_EQ(r.render_err, 77);
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(host().balanced()) << why();

    // An empty hook answers 0 again.
    host().faults().clear();
    host().set_progress_hook({});
    FrameScript plain;
    r = render(plain);
    EXPECT_EQ(r.render_err, PF_Err_NONE);
    EXPECT_EQ(plain.progress_results, (std::vector<PF_Err>(3, PF_Err_NONE)));
}

TEST_F(StandaloneRender, CheckoutFaultsReachTheEffect) {
    for (FaultTarget target : {FaultTarget::checkout_layer, FaultTarget::checkout_layer_pixels,
                               FaultTarget::checkout_output, FaultTarget::area_sample}) {
        const std::string_view name = standalone::fault_target_name(target);
        host().faults().clear();
        host().faults().fail_callback(target, 61);
        FrameScript script;
        const standalone::RenderResult r = render(script);
        if (target == FaultTarget::area_sample) {
            EXPECT_EQ(script.sample_err, 61);
        } else {
            EXPECT_EQ(r.err(), 61) << name;
        }
        EXPECT_EQ(r.rendered, target != FaultTarget::checkout_layer) << name;
        EXPECT_TRUE(host().balanced()) << name << ": " << why();
    }
}

TEST_F(StandaloneRender, StrayWriteIsReported) {
    FrameScript script;
    script.stray_offset = 5 * 4;  // first padding byte of row 0
    const standalone::RenderResult r = render(script);
    EXPECT_EQ(r.err(), PF_Err_NONE);
    EXPECT_FALSE(r.guards_intact);
    EXPECT_NE(r.guard_report.find("padding of row 0"), std::string::npos) << r.guard_report;
    EXPECT_FALSE(host().last_guards_intact());
}

TEST_F(StandaloneRender, FrameCallbacksAnswerOnlyInTheirCommand) {
    PF_RenderRequest req{};
    PF_CheckoutResult result{};
    PF_EffectWorld* world = reinterpret_cast<PF_EffectWorld*>(1);
    PF_Err layer_err = PF_Err_NONE;
    PF_Err output_err = PF_Err_NONE;
    run([&](PF_InData* in, PF_OutData*) {
        layer_err = host().pre_render_callbacks()->checkout_layer(in->effect_ref, 0, 0, &req, 0, 1, 24, &result);
        output_err = host().smart_render_callbacks()->checkout_output(in->effect_ref, &world);
        return PF_Err_NONE;
    });
    EXPECT_EQ(layer_err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(output_err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(world, nullptr);
    EXPECT_EQ(host().ledger().errors().size(), 2u);

    // A raw SMART_RENDER call with the host's callbacks reaches the output.
    auto output = std::make_shared<World>(5, 4, PF_PixelFormat_ARGB32);
    host().set_output(output);
    PF_SmartRenderInput input{};
    PF_SmartRenderExtra extra{&input, host().smart_render_callbacks()};
    standalone_test::t_script = [&](PF_Cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void* e) {
        auto* smart = static_cast<PF_SmartRenderExtra*>(e);
        return smart->cb->checkout_output(in->effect_ref, &world);
    };
    host().prepare_call();
    EXPECT_EQ(host().call(PF_Cmd_SMART_RENDER, &extra), PF_Err_NONE);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->data, output->def()->data);
}

}  // namespace
