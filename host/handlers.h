// The small command handlers of the host boundary, and the global block.
#pragma once

#include "host/ae_sdk.h"

// Content of the global data handle.
struct GlobalBlock {
    A_u_char ready;
    AEGP_PluginID plugin_id;
};

PF_Err about(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output);
PF_Err global_setup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output);
// Serves both sequence set-up and re-set-up.
PF_Err sequence_setup(PF_InData* in_data, PF_OutData* out_data);
PF_Err sequence_setdown(PF_InData* in_data, PF_OutData* out_data);
PF_Err completely_general(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                          void* extra);
