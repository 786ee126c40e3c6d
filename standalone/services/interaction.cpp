// The effect's interaction with the frame in flight: abort and progress, and
// the smart-render callbacks that check out layers and the output.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "standalone/services/service.h"

namespace standalone {

namespace {

PF_Err PF_CALL inter_abort(PF_ProgPtr effect_ref) {
    auto count = [](Host& host) -> PF_Err {
        ++host.impl().abort_calls;
        return PF_Err_NONE;
    };
    return serve(host_of(effect_ref), FaultTarget::abort, {}, count, [](Host& host) -> PF_Err {
        const auto& hook = host.impl().abort_hook;
        return hook ? hook() : PF_Err_NONE;
    });
}

PF_Err PF_CALL inter_progress(PF_ProgPtr effect_ref, A_long current, A_long total) {
    auto note = [&](Host& host) -> PF_Err {
        host.impl().progress.emplace_back(current, total);
        return PF_Err_NONE;
    };
    return serve(host_of(effect_ref), FaultTarget::progress, {as_int(current), as_int(total)}, note,
                 [&](Host& host) -> PF_Err {
        const auto& hook = host.impl().progress_hook;
        return hook ? hook(current, total) : PF_Err_NONE;
    });
}

PF_Err PF_CALL checkout_layer(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                              const PF_RenderRequest* req, A_long what_time, A_long time_step, A_u_long time_scale,
                              PF_CheckoutResult* result) {
    // A refused check-out is still recorded as asked for.
    auto check = [&](Host& host) -> PF_Err {
        Host::Impl& impl = host.impl();
        if (req == nullptr || result == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (impl.phase != Host::Impl::Phase::pre_render) {
            host.ledger().error("checkout_layer outside the pre-render");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        impl.checkout_log.push_back(LayerCheckout{index, checkout_id, *req, what_time, time_step, time_scale});
        return PF_Err_NONE;
    };
    const std::vector<LogArg> args{as_int(index), as_int(checkout_id), as_int(what_time), as_int(time_step),
                                   as_int(time_scale)};
    return serve(host_of(effect_ref), FaultTarget::checkout_layer, args, check, [&](Host& host) -> PF_Err {
        Host::Impl& impl = host.impl();
        FrameCheckout checkout;
        checkout.index = index;
        if (index == 0) {
            checkout.world = host.input();
        } else {
            const PF_ParamDef* def = host.params().declared(index);
            if (def == nullptr || def->param_type != PF_Param_LAYER) {
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            checkout.world = host.params().layer_at(index, frame_time(what_time, time_step), host.input());
        }
        if (impl.checkouts.count(checkout_id) != 0) {
            host.ledger().error("checkout_layer reuses checkout id " + std::to_string(checkout_id));
        }
        PF_CheckoutResult answer{};
        if (checkout.world != nullptr) {
            answer.result_rect = PF_LRect{0, 0, checkout.world->width(), checkout.world->height()};
            answer.max_result_rect = answer.result_rect;
            answer.ref_width = checkout.world->width();
            answer.ref_height = checkout.world->height();
        }
        answer.par = PF_RationalScale{1, 1};
        *result = answer;
        impl.checkouts[checkout_id] = std::move(checkout);
        return PF_Err_NONE;
    });
}

PF_EffectWorld* hand_out(Host::Impl& impl, const World& world) {
    impl.frame_defs.push_back(*world.def());
    return &impl.frame_defs.back();
}

// Render-time check-outs clear the effect's pointer first and answer only
// during the render.
template <typename T>
PF_Err render_checkout(Host& host, const char* what, T** out) {
    if (out == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    *out = nullptr;
    if (host.impl().phase != Host::Impl::Phase::render) {
        host.ledger().error(std::string(what) + " outside the render");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    return PF_Err_NONE;
}

PF_Err PF_CALL checkout_layer_pixels(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels) {
    auto check = [&](Host& host) { return render_checkout(host, "checkout_layer_pixels", pixels); };
    return serve(host_of(effect_ref), FaultTarget::checkout_layer_pixels, {as_int(checkout_id)}, check,
                 [&](Host& host) -> PF_Err {
        auto it = host.impl().checkouts.find(checkout_id);
        if (it == host.impl().checkouts.end() || it->second.world == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *pixels = hand_out(host.impl(), *it->second.world);
        return PF_Err_NONE;
    });
}

PF_Err PF_CALL checkin_layer_pixels(PF_ProgPtr effect_ref, A_long checkout_id) {
    return serve(host_of(effect_ref), FaultTarget::checkin_layer_pixels, {as_int(checkout_id)},
                 [&](Host& host) -> PF_Err {
        return host.impl().checkouts.count(checkout_id) != 0 ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM;
    });
}

PF_Err PF_CALL checkout_output(PF_ProgPtr effect_ref, PF_EffectWorld** output) {
    auto check = [&](Host& host) { return render_checkout(host, "checkout_output", output); };
    return serve(host_of(effect_ref), FaultTarget::checkout_output, {}, check, [&](Host& host) -> PF_Err {
        Host::Impl& impl = host.impl();
        const std::shared_ptr<World>& world = impl.frame_output != nullptr ? impl.frame_output : host.output();
        if (world == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *output = hand_out(impl, *world);
        return PF_Err_NONE;
    });
}

}  // namespace

void fill_interaction_callbacks(PF_InteractCallbacks* inter) {
    inter->abort = inter_abort;
    inter->progress = inter_progress;
}

void fill_frame_callbacks(PF_PreRenderCallbacks* pre, PF_SmartRenderCallbacks* render) {
    pre->checkout_layer = checkout_layer;
    pre->GuidMixInPtr = unsupported<"GuidMixInPtr">;
    render->checkout_layer_pixels = checkout_layer_pixels;
    render->checkin_layer_pixels = checkin_layer_pixels;
    render->checkout_output = checkout_output;
}

}  // namespace standalone
