// The slots of the in-data's callback tables that no service of this host
// fills: every one answers an error instead of being a null pointer, as the
// host's own tables never hold one.
#include "standalone/services/service.h"

namespace standalone {

namespace {

// The one variadic slot, which a template cannot stand in for.
PF_Err PF_CALL util_app(PF_ProgPtr, A_long, ...) { return unsupported<"app">(); }

}  // namespace

void fill_unsupported_callbacks(PF_UtilCallbacks* utils, PF_InteractCallbacks* inter) {
    utils->begin_sampling = unsupported<"begin_sampling">;
    utils->subpixel_sample = unsupported<"subpixel_sample">;
    utils->area_sample = unsupported<"area_sample">;
    utils->end_sampling = unsupported<"end_sampling">;
    utils->composite_rect = unsupported<"composite_rect">;
    utils->blend = unsupported<"blend">;
    utils->convolve = unsupported<"convolve">;
    utils->gaussian_kernel = unsupported<"gaussian_kernel">;
    utils->iterate = unsupported<"iterate">;
    utils->premultiply = unsupported<"premultiply">;
    utils->premultiply_color = unsupported<"premultiply_color">;
    utils->new_world = unsupported<"new_world">;
    utils->dispose_world = unsupported<"dispose_world">;
    utils->iterate_origin = unsupported<"iterate_origin">;
    utils->iterate_lut = unsupported<"iterate_lut">;
    utils->transfer_rect = unsupported<"transfer_rect">;
    utils->transform_world = unsupported<"transform_world">;
    utils->get_callback_addr = unsupported<"get_callback_addr">;
    utils->app = util_app;
    utils->colorCB.RGBtoHLS = unsupported<"RGBtoHLS">;
    utils->colorCB.HLStoRGB = unsupported<"HLStoRGB">;
    utils->colorCB.RGBtoYIQ = unsupported<"RGBtoYIQ">;
    utils->colorCB.YIQtoRGB = unsupported<"YIQtoRGB">;
    utils->colorCB.Luminance = unsupported<"Luminance">;
    utils->colorCB.Hue = unsupported<"Hue">;
    utils->colorCB.Lightness = unsupported<"Lightness">;
    utils->colorCB.Saturation = unsupported<"Saturation">;
    utils->get_platform_data = unsupported<"get_platform_data">;
    utils->iterate_origin_non_clip_src = unsupported<"iterate_origin_non_clip_src">;
    utils->iterate_generic = unsupported<"iterate_generic">;
    utils->subpixel_sample16 = unsupported<"subpixel_sample16">;
    utils->area_sample16 = unsupported<"area_sample16">;
    utils->fill16 = unsupported<"fill16">;
    utils->premultiply_color16 = unsupported<"premultiply_color16">;
    utils->iterate16 = unsupported<"iterate16">;
    utils->iterate_origin16 = unsupported<"iterate_origin16">;
    utils->iterate_origin_non_clip_src16 = unsupported<"iterate_origin_non_clip_src16">;
    utils->get_pixel_data8 = unsupported<"get_pixel_data8">;
    utils->get_pixel_data16 = unsupported<"get_pixel_data16">;

    inter->register_ui = unsupported<"register_ui">;
    inter->checkout_layer_audio = unsupported<"checkout_layer_audio">;
    inter->checkin_layer_audio = unsupported<"checkin_layer_audio">;
    inter->get_audio_data = unsupported<"get_audio_data">;
}

}  // namespace standalone
