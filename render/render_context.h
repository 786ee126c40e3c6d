// The frame's worlds and geometry, handed from the render driver to
// generation and drawing.
#pragma once

#include <cstdint>

#include "host/ae_sdk.h"
#include "host/pixel_traits.h"

struct RenderContext {
    PF_InData* in_data;
    PF_OutData* out_data;
    PF_EffectWorld* input;
    PF_EffectWorld* output;
    // Only the pair of the current depth is set.
    PF_Pixel8* in_pixels8;
    PF_Pixel8* out_pixels8;
    PF_Pixel16* in_pixels16;
    PF_Pixel16* out_pixels16;
    PF_PixelFloat* in_pixels_float;
    PF_PixelFloat* out_pixels_float;
    A_long width;   // the input world's
    A_long height;  // the input world's
    A_long in_row_pixels;
    A_long out_row_pixels;
    uint8_t depth;  // DEPTH_8, DEPTH_16 or DEPTH_FLOAT
};

PF_Err smart_render(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);
