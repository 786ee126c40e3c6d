#include "render/pre_render.h"

#include <cstdint>
#include <cstring>

#include "host/suite_cache.h"
#include "params/params.h"

namespace {

// The parameters the render needs, in the order they are checked out (the
// host sees this order; the values are read by identifier).
constexpr ParamId kCheckoutOrder[] = {
    PARAM_PATH,      PARAM_MODE, PARAM_MAX_WIDTH, PARAM_MIN_WIDTH, PARAM_VARIOUS_DIRECTIONS,
    PARAM_ON_ORIGINAL, PARAM_SEED, PARAM_TIME,    PARAM_OPACITY,   PARAM_BLEND_MODE,
};
constexpr int kCheckoutCount = static_cast<int>(sizeof(kCheckoutOrder) / sizeof(kCheckoutOrder[0]));

// The input layer, and the checkout identifier the render asks for it under.
constexpr PF_ParamIndex kInputLayer = PARAM_INPUT;
constexpr A_long kInputCheckoutId = 0;

// 16.16 percentage to a fraction: exactly this arithmetic, no division by 100.
double percent_fraction(PF_Fixed value) {
    return static_cast<double>(value) / 65536.0 * 0.01;
}

}  // namespace

A_long half_max_width(A_long max_width, PF_RationalScale downsample) {
    if (max_width <= 0) {
        return max_width;
    }
    // A zero denominator carries no scale: full resolution.
    const double scale =
        downsample.den == 0 ? 1.0 : static_cast<double>(downsample.num) / static_cast<double>(downsample.den);
    const double half = static_cast<double>(max_width) * scale * 0.5 + 0.5;
    // Kept to [1, INT32_MAX] before the truncating conversion, which is only
    // defined inside the int32 range.
    if (!(half >= 1.0)) {
        return 1;
    }
    if (half >= 2147483648.0) {
        return INT32_MAX;
    }
    return static_cast<A_long>(half);
}

PF_Err pre_render(PF_InData* in_data, PF_OutData* /*out_data*/, PF_PreRenderExtra* extra) {
    if (in_data == nullptr || extra == nullptr || extra->input == nullptr || extra->output == nullptr ||
        extra->cb == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    PF_RenderRequest request = extra->input->output_request;
    SuiteCache suites(in_data->pica_basicP);

    const PF_HandleSuite1* handles = suites.handle_suite();
    const PF_Handle handle = handles->host_new_handle(sizeof(PreRenderInfo));
    if (handle == nullptr) {
        return PF_Err_OUT_OF_MEMORY;
    }
    auto* info = static_cast<PreRenderInfo*>(handles->host_lock_handle(handle));
    if (info == nullptr) {
        handles->host_dispose_handle(handle);
        return PF_Err_OUT_OF_MEMORY;
    }
    // The host gets the handle unlocked on every way out; the render locks it
    // again for itself.
    struct Unlock {
        const PF_HandleSuite1* handles;
        PF_Handle handle;
        ~Unlock() { handles->host_unlock_handle(handle); }
    } unlock{handles, handle};
    // Handed over before any parameter is read: from here on the host owns it
    // and gives it back through the delete function, rendered or not.
    info->dispose = handles->host_dispose_handle;
    extra->output->pre_render_data = handle;
    extra->output->delete_pre_render_data_func = delete_pre_render_data;

    PF_Err err = PF_Err_NONE;
    // Indexed by parameter identifier; only the checked-out ones are filled.
    PF_ParamDef defs[PARAM_COUNT];
    int checked_out = 0;
    for (; checked_out < kCheckoutCount; ++checked_out) {
        PF_ParamDef& def = defs[kCheckoutOrder[checked_out]];
        std::memset(&def, 0, sizeof(def));
        err = in_data->inter.checkout_param(in_data->effect_ref, kCheckoutOrder[checked_out], in_data->current_time,
                                            in_data->time_step, in_data->time_scale, &def);
        if (err != PF_Err_NONE) {
            break;
        }
    }

    PF_CheckoutResult input_result;
    if (err == PF_Err_NONE) {
        request.preserve_rgb_of_zero_alpha = 1;
        std::memset(&input_result, 0, sizeof(input_result));
        err = extra->cb->checkout_layer(in_data->effect_ref, kInputLayer, kInputCheckoutId, &request,
                                        in_data->current_time, in_data->time_step, in_data->time_scale,
                                        &input_result);
    }

    if (err == PF_Err_NONE) {
        std::memset(info, 0, sizeof(*info));
        info->dispose = handles->host_dispose_handle;
        info->path_id = static_cast<A_long>(defs[PARAM_PATH].u.path_d.path_id);
        info->mode = static_cast<RevealMode>(defs[PARAM_MODE].u.pd.value);
        info->time_fraction = percent_fraction(defs[PARAM_TIME].u.fd.value);
        info->half_max_width = half_max_width(defs[PARAM_MAX_WIDTH].u.sd.value, in_data->downsample_x);
        info->min_width_fraction = percent_fraction(defs[PARAM_MIN_WIDTH].u.fd.value);
        info->seed = defs[PARAM_SEED].u.sd.value;
        info->on_original = defs[PARAM_ON_ORIGINAL].u.bd.value;
        info->various_directions = defs[PARAM_VARIOUS_DIRECTIONS].u.bd.value;
        info->blend_mode = static_cast<BlendMode>(defs[PARAM_BLEND_MODE].u.pd.value);
        info->opacity = percent_fraction(defs[PARAM_OPACITY].u.fd.value);

        union_rect(&input_result.result_rect, &extra->output->result_rect);
        union_rect(&input_result.max_result_rect, &extra->output->max_result_rect);
    }

    // The values are copied; the host gets its parameters back.
    for (int i = 0; i < checked_out; ++i) {
        in_data->inter.checkin_param(in_data->effect_ref, &defs[kCheckoutOrder[i]]);
    }
    return err;
}

void PF_CALL delete_pre_render_data(void* pre_render_data) {
    const auto handle = static_cast<PF_Handle>(pre_render_data);
    if (handle == nullptr || *handle == nullptr) {
        return;
    }
    // Read without a lock, as the host's handles allow: the render's lock is
    // gone by now.
    const auto* info = static_cast<const PreRenderInfo*>(*handle);
    if (info->dispose != nullptr) {
        info->dispose(handle);
    }
}
