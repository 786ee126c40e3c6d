// The effect's parameters as the user sees them, and the two parameter
// command handlers.
#pragma once

#include "host/ae_sdk.h"

// Parameter identifiers; each equals the parameter's index in the host's
// parameter array (index 0 is the input layer).
enum ParamId : PF_ParamIndex {
    PARAM_INPUT = 0,
    PARAM_PATH = 1,
    PARAM_LAYER = 2,
    PARAM_MODE = 3,
    PARAM_TIME = 4,
    PARAM_MAX_WIDTH = 5,
    PARAM_MIN_WIDTH = 6,
    PARAM_VARIOUS_DIRECTIONS = 7,
    PARAM_BLEND_MODE = 8,
    PARAM_OPACITY = 9,
    PARAM_SEED = 10,
    PARAM_ON_ORIGINAL = 11,
    PARAM_COUNT = 12,
};

PF_Err params_setup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output);
// Serves both user-changed-param and update-params-UI.
PF_Err update_params_ui(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                        void* extra);
