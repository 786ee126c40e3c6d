// The smart-render frame as the application runs it: pre-render, render,
// the delete-pre-render-data call, then the guard check.

#include "standalone/host_impl.h"

namespace standalone {

namespace {

A_short bit_depth(const World* world) {
    if (world == nullptr) {
        return 8;
    }
    switch (world->format()) {
    case PF_PixelFormat_ARGB64:
        return 16;
    case PF_PixelFormat_ARGB128:
        return 32;
    default:
        return 8;
    }
}

}  // namespace

void Host::note_outcome(RenderResult* result) {
    result->output = impl_->frame_output;
    result->out_flags = out_data_.out_flags;
    result->return_msg = return_message();
    result->guards_intact = guards_intact(&result->guard_report);
    last_guards_intact_ = result->guards_intact;
}

PF_Err Host::pre_render(const RenderOptions& options, RenderResult* result) {
    RenderResult local;
    if (result == nullptr) {
        result = &local;
    }
    if (frame_open_) {
        end_frame(nullptr);
    }
    Impl& im = *impl_;
    downsample_x_ = options.downsample_x;
    downsample_y_ = options.downsample_y;
    im.checkouts.clear();
    im.checkout_log.clear();
    im.frame_defs.clear();
    if (output_ != nullptr) {
        im.frame_output = output_;
    } else if (input_ != nullptr) {
        // The last frame's output, once nobody else holds it, serves again
        // when it has the input's shape: cleared, its pages stay mapped.
        const std::shared_ptr<World>& last = im.frame_output;
        if (last != nullptr && last.use_count() == 1 && last->width() == input_->width() &&
            last->height() == input_->height() && last->format() == input_->format() &&
            last->rowbytes() == input_->rowbytes()) {
            last->clear();
        } else {
            const A_long padding = input_->rowbytes() - input_->width() * static_cast<A_long>(input_->pixel_size());
            im.frame_output.reset();
            im.frame_output = std::make_shared<World>(input_->width(), input_->height(), input_->format(), padding);
        }
    } else {
        im.frame_output = nullptr;
    }

    PF_RenderRequest request{};
    if (options.request.has_value()) {
        request = *options.request;
    } else {
        request.rect = PF_LRect{0, 0, input_ != nullptr ? input_->width() : 0, input_ != nullptr ? input_->height() : 0};
        request.field = 0;
        request.channel_mask = 0xF;
        request.preserve_rgb_of_zero_alpha = 0;
    }
    im.pre_input = PF_PreRenderInput{};
    im.pre_input.output_request = request;
    im.pre_input.bitdepth = bit_depth(input_.get());
    im.pre_input.gpu_data = nullptr;
    im.pre_input.what_gpu = PF_GPU_Framework_NONE;
    im.pre_input.device_index = 0;
    im.pre_output = PF_PreRenderOutput{};
    im.pre_output.result_rect = options.preset_result_rect;
    im.pre_output.max_result_rect = options.preset_max_result_rect;
    im.pre_extra = PF_PreRenderExtra{&im.pre_input, &im.pre_output, &im.pre_callbacks};

    prepare_call();
    frame_open_ = true;
    const PF_Err err = call(PF_Cmd_SMART_PRE_RENDER, &im.pre_extra, nullptr, nullptr);
    im.handed_over = static_cast<PF_Handle>(im.pre_output.pre_render_data);
    im.handed_over_locks = im.note_handover(im.handed_over, "pre-render data");

    result->pre_render_err = err;
    result->pre_render_output = im.pre_output;
    result->request_sent = request;
    result->layer_checkouts = im.checkout_log;
    note_outcome(result);
    return err;
}

PF_Err Host::smart_render(RenderResult* result) {
    RenderResult local;
    if (result == nullptr) {
        result = &local;
    }
    if (!frame_open_) {
        ledger_.error("smart_render without a pre-render");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Impl& im = *impl_;
    im.render_input = PF_SmartRenderInput{};
    im.render_input.output_request = im.pre_input.output_request;
    im.render_input.bitdepth = im.pre_input.bitdepth;
    im.render_input.pre_render_data = im.pre_output.pre_render_data;
    im.render_input.gpu_data = nullptr;
    im.render_input.what_gpu = PF_GPU_Framework_NONE;
    im.render_input.device_index = 0;
    im.render_extra = PF_SmartRenderExtra{&im.render_input, &im.render_callbacks};

    prepare_call();
    const PF_Err err = call(PF_Cmd_SMART_RENDER, &im.render_extra, nullptr, nullptr);

    result->rendered = true;
    result->render_err = err;
    note_outcome(result);
    return err;
}

void Host::end_frame(RenderResult* result) {
    if (!frame_open_) {
        return;
    }
    Impl& im = *impl_;
    if (im.pre_output.delete_pre_render_data_func != nullptr && im.pre_output.pre_render_data != nullptr) {
        CurrentHostScope scope(this);
        const long position = log_.record("delete_pre_render_data_func", {});
        try {
            im.pre_output.delete_pre_render_data_func(im.pre_output.pre_render_data);
        } catch (...) {
            ledger_.error("an exception escaped the delete-pre-render-data function");
        }
        log_.set_result(position, 0);
        if (result != nullptr) {
            result->delete_func_called = true;
        }
    }
    im.pre_output.pre_render_data = nullptr;
    im.pre_output.delete_pre_render_data_func = nullptr;
    im.handed_over = nullptr;
    im.handed_over_locks = 0;
    im.checkouts.clear();
    im.frame_defs.clear();
    frame_open_ = false;
    std::string report;
    last_guards_intact_ = guards_intact(&report);
    if (result != nullptr) {
        result->guards_intact = last_guards_intact_;
        result->guard_report = report;
        result->output = im.frame_output;
    }
}

RenderResult Host::render_frame(const RenderOptions& options) {
    RenderResult result;
    const PF_Err err = pre_render(options, &result);
    if (options.pre_render_only) {
        return result;
    }
    if (err == PF_Err_NONE) {
        smart_render(&result);
    }
    end_frame(&result);
    return result;
}

}  // namespace standalone
