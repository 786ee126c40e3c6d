// A stand-in effect for the command line's error paths: it declares only
// "Path" and "Layer", renders frames 0 and 1 as transparent frames and fails
// from frame 2 on with "out of memory" and a message for the user.
#include <cstring>

#include "host/entry.h"

namespace {

PF_Err declare(PF_InData* in_data, PF_ParamType type, const char* name, PF_ParamIndex id) {
    PF_ParamDef def{};
    def.param_type = type;
    std::strncpy(def.name, name, sizeof def.name - 1);
    def.uu.id = id;
    return in_data->inter.add_param(in_data->effect_ref, -1, &def);
}

}  // namespace

extern "C" TRELLIS_EXPORT PF_Err PF_CALL EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                                        PF_ParamDef*[], PF_LayerDef*, void*) {
    switch (cmd) {
    case PF_Cmd_PARAMS_SETUP: {
        PF_Err err = declare(in_data, PF_Param_PATH, "Path", 1);
        if (err == PF_Err_NONE) err = declare(in_data, PF_Param_LAYER, "Layer", 2);
        out_data->num_params = 3;
        return err;
    }
    case PF_Cmd_SMART_RENDER:
        if (in_data->current_time >= 2) {
            std::strcpy(out_data->return_msg, "Memory Error!");
            out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
            return PF_Err_OUT_OF_MEMORY;
        }
        return PF_Err_NONE;
    default:
        return PF_Err_NONE;
    }
}
