#include "host/entry.h"

#include <new>

#include "host/handlers.h"
#include "params/params.h"
#include "render/pre_render.h"
#include "render/smart_render.h"

extern "C" PF_Err PF_CALL EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                         PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
    PF_Err err = PF_Err_NONE;
    try {
        // Unsigned, so a negative code is just another unknown command.
        switch (static_cast<A_u_long>(cmd)) {
        case PF_Cmd_ABOUT:
            err = about(in_data, out_data, params, output);
            break;
        case PF_Cmd_GLOBAL_SETUP:
            err = global_setup(in_data, out_data, params, output);
            break;
        case PF_Cmd_PARAMS_SETUP:
            err = params_setup(in_data, out_data, params, output);
            break;
        case PF_Cmd_SEQUENCE_SETUP:
        case PF_Cmd_SEQUENCE_RESETUP:
            err = sequence_setup(in_data, out_data);
            break;
        case PF_Cmd_SEQUENCE_SETDOWN:
            err = sequence_setdown(in_data, out_data);
            break;
        case PF_Cmd_USER_CHANGED_PARAM:
        case PF_Cmd_UPDATE_PARAMS_UI:
            err = update_params_ui(in_data, out_data, params, output, extra);
            break;
        case PF_Cmd_COMPLETELY_GENERAL:
            err = completely_general(in_data, out_data, params, output, extra);
            break;
        case PF_Cmd_SMART_PRE_RENDER:
            err = pre_render(in_data, out_data, static_cast<PF_PreRenderExtra*>(extra));
            break;
        case PF_Cmd_SMART_RENDER:
            // The render driver reads all three records.
            if (in_data == nullptr || out_data == nullptr || extra == nullptr) {
                err = PF_Err_BAD_CALLBACK_PARAM;
                break;
            }
            err = smart_render(in_data, out_data, static_cast<PF_SmartRenderExtra*>(extra));
            break;
        default:
            break;
        }
    } catch (PF_Err& thrown) {
        // The suite cache's refusal, raised as its error code.
        err = thrown;
    } catch (const std::bad_alloc&) {
        err = PF_Err_OUT_OF_MEMORY;
    } catch (...) {
        // Nothing may cross into the host: an exception there ends the host
        // process, with the user's unsaved work.
        err = PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    return err;
}
