#include "render/render_context.h"

PF_Err smart_render(PF_InData*, PF_OutData*, PF_SmartRenderExtra*) {
    return PF_Err_NONE;
}
