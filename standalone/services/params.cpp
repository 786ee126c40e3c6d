// Parameters: check-out, check-in and declaration through the interaction
// callbacks, and the parameter utility suite (UI updates, state digests).
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "standalone/services/service.h"

namespace standalone {

namespace {

PF_Err PF_CALL inter_checkout_param(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                                    A_u_long time_scale, PF_ParamDef* param) {
    auto check = [&](Host&) -> PF_Err { return param == nullptr ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE; };
    const std::vector<LogArg> args{as_int(index), as_int(what_time), as_int(time_step), as_int(time_scale)};
    return serve(host_of(effect_ref), FaultTarget::checkout_param, args, check, [&](Host& host) -> PF_Err {
        if (!host.faults().empty()) {
            if (PF_Err err = host.faults().checkout_param_result(index)) {
                return err;
            }
        }
        PF_ParamDef result{};
        if (index == 0) {
            result.param_type = PF_Param_LAYER;
            if (host.input() != nullptr) {
                result.u.ld = *host.input()->def();
            }
            result.u.ld.dephault = PF_LayerDefault_MYSELF;
        } else {
            PF_Err err = host.params().evaluate(index, frame_time(what_time, time_step), host.input(), &result);
            if (err != PF_Err_NONE) {
                return err;
            }
            result.uu.id = index;
        }
        *param = result;
        host.ledger().param_checked_out(index);
        return PF_Err_NONE;
    });
}

PF_Err PF_CALL inter_checkin_param(PF_ProgPtr effect_ref, PF_ParamDef* param) {
    auto check = [&](Host&) -> PF_Err { return param == nullptr ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE; };
    return serve(host_of(effect_ref), FaultTarget::checkin_param, {as_int(param != nullptr ? param->uu.id : -1)},
                 check, [&](Host& host) -> PF_Err {
        return host.ledger().param_checked_in(param->uu.id) ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM;
    });
}

PF_Err PF_CALL inter_add_param(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    std::vector<LogArg> args{as_int(index)};
    if (def != nullptr) {
        char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
        std::memcpy(name, def->name, sizeof name);
        name[PF_MAX_EFFECT_PARAM_NAME_LEN] = '\0';
        args.insert(args.end(), {as_int(def->uu.id), as_int(def->param_type), std::string(name)});
    }
    auto check = [&](Host&) -> PF_Err { return def == nullptr ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE; };
    return serve(host_of(effect_ref), FaultTarget::add_param, std::move(args), check,
                 [&](Host& host) -> PF_Err { return host.params().declare(index, *def); });
}

PF_Err PF_CALL update_param_ui(PF_ProgPtr effect_ref, PF_ParamIndex param_index, const PF_ParamDef*) {
    auto count = [](Host& host) -> PF_Err {
        ++host.impl().update_param_ui_calls;
        return PF_Err_NONE;
    };
    return serve(host_of(effect_ref), FaultTarget::update_param_ui, {as_int(param_index)}, count,
                 [](Host&) -> PF_Err { return PF_Err_NONE; });
}

PF_Err PF_CALL get_current_state(PF_ProgPtr effect_ref, PF_State* state) {
    auto check = [&](Host&) -> PF_Err { return state == nullptr ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE; };
    return serve(host_of(effect_ref), FaultTarget::get_current_state, {}, check, [&](Host& host) -> PF_Err {
        std::vector<std::uint64_t> fingerprints;
        const StateWords digest = host.impl().digest(&fingerprints);
        host.impl().states[digest] = std::move(fingerprints);
        *state = state_of(digest);
        return PF_Err_NONE;
    });
}

PF_Err PF_CALL has_param_changed(PF_ProgPtr effect_ref, const PF_State* state, PF_ParamIndex param_index,
                                 PF_Boolean* changed) {
    auto check = [&](Host& host) -> PF_Err {
        if (state == nullptr || changed == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        // A handle too short to hold a state (the one-byte sequence block,
        // say) must never be handed over as one.
        for (const auto& [key, record] : host.impl().handles) {
            if (record->data == state && record->size < sizeof(PF_State)) {
                host.ledger().error("PF_HasParamChanged with a state block of " + std::to_string(record->size) +
                                    " bytes");
                return PF_Err_BAD_CALLBACK_PARAM;
            }
        }
        return PF_Err_NONE;
    };
    return serve(host_of(effect_ref), FaultTarget::has_param_changed, {as_int(param_index)}, check,
                 [&](Host& host) -> PF_Err {
        PF_State copy;
        std::memcpy(&copy, state, sizeof copy);
        const StateWords old = words_of(copy);
        std::vector<std::uint64_t> now;
        const StateWords digest = host.impl().digest(&now);
        bool differs = old != digest;
        if (param_index >= 1 && differs) {
            auto it = host.impl().states.find(old);
            const auto slot = static_cast<std::size_t>(param_index - 1);
            if (it != host.impl().states.end() && slot < it->second.size() && slot < now.size() &&
                it->second.size() == now.size()) {
                differs = it->second[slot] != now[slot];
            }
        }
        *changed = differs ? 1 : 0;
        return PF_Err_NONE;
    });
}

// "PF Param Utils Suite" 2, in the host's order; what the effect never asks
// for answers an error.
constexpr PF_ParamUtilsSuite1 kParamUtilsSuite = {
    update_param_ui,
    get_current_state,
    has_param_changed,
    unsupported<"PF_HaveInputsChangedOverTimeSpanObsolete">,
    unsupported<"PF_IsIdenticalCheckout">,
    unsupported<"PF_FindKeyframeTime">,
    unsupported<"PF_GetKeyframeCount">,
    unsupported<"PF_CheckoutKeyframe">,
    unsupported<"PF_CheckinKeyframe">,
    unsupported<"PF_KeyIndexToTime">,
};

}  // namespace

const void* param_utils_suite_table() { return &kParamUtilsSuite; }

void fill_param_callbacks(PF_InteractCallbacks* inter) {
    inter->checkout_param = inter_checkout_param;
    inter->checkin_param = inter_checkin_param;
    inter->add_param = inter_add_param;
}

}  // namespace standalone
