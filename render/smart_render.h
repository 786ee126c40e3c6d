// The render driver: one frame from the pre-render record to the drawn strokes.
#pragma once

#include "host/ae_sdk.h"

PF_Err smart_render(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);
