// The records that pre-render, the render driver, generation and drawing
// share. Data only: the handlers that fill them are declared elsewhere.
#pragma once

#include <cstdint>

#include "host/ae_sdk.h"
#include "host/pixel_traits.h"
#include "params/names.h"

// The parameter values packed by pre-render for the render of the same frame,
// in a host handle of exactly this size. The two popups keep the value the
// host gave, named or not: a damaged project may hold any number.
struct PreRenderInfo {
    A_long path_id;
    RevealMode mode;
    double time_fraction;   // "Time" as a fraction
    A_long half_max_width;  // half of "Max Width" in output pixels
    double min_width_fraction;
    A_long seed;
    A_long on_original;
    A_long various_directions;
    BlendMode blend_mode;   // indexes the blend tables
    double opacity;         // "Color Opacity" as a fraction
    // The host's disposal of this very handle. The host's delete function
    // gets nothing but the handle, and the effect keeps no state of its own,
    // so the record carries the way back to the host. Set as soon as the
    // handle is handed over, before anything can fail.
    void(PF_CALL* dispose)(PF_Handle);
};

// The frame's worlds and geometry, handed from the render driver to
// generation and drawing.
struct RenderContext {
    PF_InData* in_data;
    PF_OutData* out_data;
    PF_EffectWorld* input;
    PF_EffectWorld* output;
    A_long width;   // the input world's
    A_long height;  // the input world's
    A_long in_row_pixels;
    A_long out_row_pixels;
    uint8_t depth;  // DEPTH_8, DEPTH_16 or DEPTH_FLOAT

    // The worlds' pixels, for the Pixel of `depth` only.
    template <class Pixel>
    Pixel* in_pixels() const {
        return static_cast<Pixel*>(input->data);
    }
    template <class Pixel>
    Pixel* out_pixels() const {
        return static_cast<Pixel*>(output->data);
    }
};
