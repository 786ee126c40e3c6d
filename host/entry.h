// The library's one export.
#pragma once

#include "host/ae_sdk.h"

#if defined(_WIN32)
#define TRELLIS_EXPORT __declspec(dllexport)
#else
#define TRELLIS_EXPORT __attribute__((visibility("default")))
#endif

extern "C" TRELLIS_EXPORT PF_Err PF_CALL EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                                        PF_ParamDef* params[], PF_LayerDef* output, void* extra);
