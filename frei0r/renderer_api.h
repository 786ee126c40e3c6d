// The plain-C boundary between a frei0r plug-in and the rendering library it
// loads on the first frame that needs it. The library exports these three
// functions and nothing else.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "host/ae_sdk.h"
#include "params/params.h"

extern "C" {

// What a frame is rendered with, already checked and in the effect's raw
// units (popup values, 16.16 percent, whole numbers, checkbox 0/1).
struct TrellisFrei0rSettings {
    const char* mask;   // "Path" as `trellis --mask` takes it; "" for none
    const char* layer;  // the Layer's file; "" for none; null: the frame's second input
    A_long raw[PARAM_COUNT];  // by ParamId; Path, Layer and the input unused
};

typedef struct TrellisFrei0rRenderer TrellisFrei0rRenderer;

// A renderer for frames of `width` x `height`, with its own stand-in host and
// the effect module found beside the library. Null on failure, with the
// reason in `why` (NUL-terminated, cut to `why_size`).
typedef TrellisFrei0rRenderer* (*TrellisFrei0rCreate)(unsigned width, unsigned height, char* why, size_t why_size);
// Renders `in` (and `layer` for a mixer) into `out`, all RGBA8888 frames of
// the renderer's size. Returns null when rendered, else why not (the text
// lives until the next call); `out` is then unchanged. The parsed mask and
// the decoded Layer file are kept until their text changes.
typedef const char* (*TrellisFrei0rRender)(TrellisFrei0rRenderer* renderer, const TrellisFrei0rSettings* settings,
                                           const uint32_t* in, const uint32_t* layer, uint32_t* out);
typedef void (*TrellisFrei0rDestroy)(TrellisFrei0rRenderer* renderer);

}
