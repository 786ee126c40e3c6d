#include "host/handlers.h"
#include "host/suite_cache.h"
#include "params/params.h"

namespace {

// The sequence block's memory when it can hold a parameter state; the one-byte
// block of sequence set-up (or anything else too short) cannot, and the host
// must not read a state out of it.
const PF_State* stored_state(SuiteCache& suites, PF_Handle sequence) {
    if (sequence == nullptr || *sequence == nullptr) {
        return nullptr;
    }
    if (suites.handle_suite()->host_get_handle_size(sequence) < sizeof(PF_State)) {
        return nullptr;
    }
    return static_cast<const PF_State*>(*sequence);
}

}  // namespace

PF_Err update_params_ui(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[],
                        PF_LayerDef* /*output*/, void* /*extra*/) {
    if (in_data == nullptr || out_data == nullptr || in_data->utils == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    GlobalBlock* global = nullptr;
    if (in_data->global_data != nullptr) {
        global = static_cast<GlobalBlock*>(*in_data->global_data);
    }
    SuiteCache suites(in_data->pica_basicP);
    PF_Err err = PF_Err_NONE;
    PF_Boolean changed = 0;

    if (global != nullptr) {
        const PF_ParamUtilsSuite1* param_utils = suites.param_utils_suite();
        const PF_Handle old_state = in_data->sequence_data;
        const PF_State* state = stored_state(suites, old_state);
        if (state != nullptr) {
            err = param_utils->PF_HasParamChangedObsolete(in_data->effect_ref, state,
                                                          PF_ParamIndex_CHECK_ALL_HONOR_EXCLUDE, &changed);
        } else {
            // Nothing to compare with yet: the first snapshot is taken as if changed.
            changed = 1;
        }

        if (changed || global->ready == 0) {
            // Taken before anything is allocated, so a refusal cannot strand the new handle.
            const PF_HandleSuite1* handles = old_state != nullptr ? suites.handle_suite() : nullptr;
            const PF_Handle fresh = in_data->utils->host_new_handle(sizeof(PF_State));
            if (fresh != nullptr) {
                if (err == PF_Err_NONE) {
                    err = param_utils->PF_GetCurrentStateObsolete(in_data->effect_ref,
                                                                  static_cast<PF_State*>(*fresh));
                }
                if (err == PF_Err_NONE) {
                    if (handles != nullptr) {
                        handles->host_dispose_handle(old_state);
                    }
                    out_data->sequence_data = fresh;
                    in_data->sequence_data = fresh;
                } else {
                    in_data->utils->host_dispose_handle(fresh);
                }
            }
        }

        if (err != PF_Err_NONE) {
            in_data->utils->ansi.strcpy(out_data->return_msg, "ERROR");
            out_data->out_flags = PF_OutFlag_DISPLAY_ERROR_MESSAGE;
        } else {
            global->ready = 1;
        }
    }

    out_data->out_flags |= PF_OutFlag_REFRESH_UI;
    return err;
}
