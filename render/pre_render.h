// Pre-render: the parameter values packed for the render of the same frame
// (PreRenderInfo).
#pragma once

#include "host/ae_sdk.h"
#include "render/records.h"

// Half of "Max Width" in output pixels at the horizontal downsampling,
// rounded half up and kept to [1, INT32_MAX]; a zero denominator counts as
// full resolution. A width of 0 or less comes back unchanged.
A_long half_max_width(A_long max_width, PF_RationalScale downsample);

PF_Err pre_render(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra);

// Registered with the host as the pre-render data's delete function: gives
// the PreRenderInfo handle back through the host function the record names.
void PF_CALL delete_pre_render_data(void* pre_render_data);
