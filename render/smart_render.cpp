#include <cstddef>
#include <cstdint>
#include <cstring>

#include "draw/draw.h"
#include "host/suite_cache.h"
#include "params/params.h"
#include "render/pre_render.h"
#include "render/records.h"
#include "render/smart_render.h"
#include "strokes/generate.h"
#include "strokes/stroke_list.h"

namespace {

// The input as pre-render checked it out.
constexpr A_long kInputCheckoutId = 0;
// Input and output worlds that do not fit together.
constexpr PF_Err kMismatchedWorlds = 255;

constexpr const char* kLoadSuiteMessage = "Couldn't load suite.";
constexpr const char* kReleaseSuiteMessage = "Couldn't release suite.";
constexpr const char* kMemoryMessage = "Memory Error!";

// Everything one render holds, given back in one fixed order on every exit:
// explicitly before the result is read, or by the destructor while a raised
// error passes. A failed release of a directly acquired suite is kept only
// when nothing was recorded before it; such a release fails only without a
// basic suite, which the suite cache has refused already, so in practice it
// never changes the result. The stroke list and the suite cache are declared
// before this object, so they go after it, in that order.
class RenderHold {
public:
    RenderHold(PF_InData* in_data, PF_OutData* out_data, StrokeList& list, PF_Err& err)
        : in_data_(in_data), out_data_(out_data), list_(list), err_(err) {}
    ~RenderHold() { release(); }
    RenderHold(const RenderHold&) = delete;
    RenderHold& operator=(const RenderHold&) = delete;

    void release() {
        if (released_) return;
        released_ = true;
        list_.clear();
        if (layer_checked_out) {
            in_data_->inter.checkin_param(in_data_->effect_ref, &layer_param);
            layer_checked_out = false;
        }
        if (mask_suite_held) {
            mask_suite_held = false;
            keep_first(release_suite_with_message(in_data_, out_data_, kPF_MaskSuite, kPF_MaskSuiteVersion1,
                                                  kReleaseSuiteMessage));
        }
        if (world_suite_held) {
            world_suite_held = false;
            keep_first(release_suite_with_message(in_data_, out_data_, kPFWorldSuite, kPFWorldSuiteVersion2,
                                                  kReleaseSuiteMessage));
        }
        checkin_path();
        if (id_map != nullptr) {
            in_data_->utils->host_dispose_handle(id_map);
            id_map = nullptr;
        }
        // The render's own lock of the pre-render record; the host disposes
        // of the record itself.
        if (pre_render_locked != nullptr) {
            handle_suite->host_unlock_handle(pre_render_locked);
            pre_render_locked = nullptr;
        }
    }

    // Result not consulted.
    void checkin_path() {
        if (path_query == nullptr) return;
        path_query->PF_CheckinPath(in_data_->effect_ref, path_id, false, path);
        path_query = nullptr;
    }

    PF_ParamDef layer_param{};
    bool layer_checked_out = false;
    bool mask_suite_held = false;
    bool world_suite_held = false;
    // Non-null while the path is checked out.
    const PF_PathQuerySuite1* path_query = nullptr;
    PF_PathID path_id = 0;
    PF_PathOutlinePtr path = nullptr;
    PF_Handle id_map = nullptr;
    const PF_HandleSuite1* handle_suite = nullptr;
    PF_Handle pre_render_locked = nullptr;

private:
    void keep_first(PF_Err e) {
        if (err_ == PF_Err_NONE) err_ = e;
    }

    PF_InData* in_data_;
    PF_OutData* out_data_;
    StrokeList& list_;
    PF_Err& err_;
    bool released_ = false;
};

std::size_t pixel_size(uint8_t depth) {
    return dispatch_depth(
        depth, [](auto pixel) { return sizeof(typename decltype(pixel)::type); }, [] { return std::size_t{0}; });
}

// Row pitch in whole pixels. A negative pitch, or one that is not a whole
// number of pixels (rows could then not be addressed in pixels), counts as
// none.
A_long row_pixels(A_long rowbytes, uint8_t depth) {
    const std::size_t size = pixel_size(depth);
    if (rowbytes < 0 || size == 0 || static_cast<A_u_long>(rowbytes) % size != 0) return -1;
    return static_cast<A_long>(static_cast<A_u_long>(rowbytes) / size);
}

void show_memory_error(PF_InData* in_data, PF_OutData* out_data, PF_Err& err) {
    in_data->utils->ansi.strcpy(out_data->return_msg, kMemoryMessage);
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    err = PF_Err_INTERNAL_STRUCT_DAMAGED;
}

// The stages up to drawing; returning early means going to the release
// sequence with whatever is recorded in `err`.
void render_stages(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra, SuiteCache& suites,
                   StrokeList& list, RenderHold& hold, PF_Err& err) {
    const PF_HandleSuite1* handles = suites.handle_suite();
    if (extra == nullptr || extra->input == nullptr || extra->cb == nullptr || in_data->utils == nullptr) {
        err = PF_Err_BAD_CALLBACK_PARAM;
        return;
    }
    const auto pre_render_handle = static_cast<PF_Handle>(extra->input->pre_render_data);
    const auto* locked =
        pre_render_handle != nullptr ? static_cast<const PreRenderInfo*>(handles->host_lock_handle(pre_render_handle))
                                     : nullptr;
    if (locked == nullptr) {
        err = PF_Err_BAD_CALLBACK_PARAM;
        return;
    }
    hold.handle_suite = handles;
    hold.pre_render_locked = pre_render_handle;
    const PreRenderInfo info = *locked;

    const PF_ProgPtr ref = in_data->effect_ref;
    PF_UtilCallbacks* utils = in_data->utils;
    RenderContext ctx;
    std::memset(&ctx, 0, sizeof(ctx));
    PF_PixelFormat format = PF_PixelFormat_INVALID;

    PF_EffectWorld* input = nullptr;
    PF_EffectWorld* output = nullptr;
    err = extra->cb->checkout_layer_pixels(ref, kInputCheckoutId, &input);
    if (err == PF_Err_NONE) err = extra->cb->checkout_output(ref, &output);
    const PF_WorldSuite2* world_suite = nullptr;
    if (err == PF_Err_NONE) {
        const void* suite = nullptr;
        err = acquire_suite_with_message(in_data, out_data, kPFWorldSuite, kPFWorldSuiteVersion2, kLoadSuiteMessage,
                                         &suite);
        if (err == PF_Err_NONE) {
            hold.world_suite_held = true;
            world_suite = static_cast<const PF_WorldSuite2*>(suite);
        }
    }
    // Without both worlds the format stays invalid.
    if (err == PF_Err_NONE && input != nullptr && output != nullptr)
        err = world_suite->PF_GetPixelFormat(input, &format);

    uint8_t depth = DEPTH_8;
    if (!depth_of_format(format, &depth)) {
        err = PF_Err_BAD_CALLBACK_PARAM;
        return;
    }

    ctx.in_data = in_data;
    ctx.out_data = out_data;
    ctx.input = input;
    ctx.output = output;
    ctx.depth = depth;
    ctx.width = input->width;
    ctx.height = input->height;
    ctx.in_row_pixels = row_pixels(input->rowbytes, depth);
    ctx.out_row_pixels = row_pixels(output->rowbytes, depth);

    // A world of negative size, or a pitch that is negative or not whole
    // pixels, is as unusable as a short one. An output narrower than the
    // input would be written past its own width (into whatever lies beside
    // it in the host's buffer).
    if (ctx.width < 0 || ctx.height < 0 || ctx.in_row_pixels < ctx.width || ctx.out_row_pixels < ctx.width ||
        output->width < ctx.width || input->height != output->height) {
        err = kMismatchedWorlds;
        return;
    }

    if (info.on_original != 0) {
        const PF_Err copied = utils->copy(ref, input, output, nullptr, nullptr);
        if (copied != PF_Err_NONE) {
            err = copied;
            return;
        }
    } else {
        const PF_Pixel transparent{0, 0, 0, 0};
        utils->fill(ref, &transparent, nullptr, output);
    }

    if (err == PF_Err_NONE) {
        err = in_data->inter.checkout_param(ref, PARAM_LAYER, in_data->current_time, in_data->time_step,
                                            in_data->time_scale, &hold.layer_param);
        if (err == PF_Err_NONE) hold.layer_checked_out = true;
    }
    if (err == PF_Err_NONE) err = in_data->inter.abort(ref);
    const bool layer_present = hold.layer_param.u.ld.data != nullptr;

    if (err == PF_Err_NONE) {
        const void* suite = nullptr;
        err = acquire_suite_with_message(in_data, out_data, kPF_MaskSuite, kPF_MaskSuiteVersion1, kLoadSuiteMessage,
                                         &suite);
        if (err == PF_Err_NONE) hold.mask_suite_held = true;
    }

    if (err != PF_Err_NONE) return;
    if (info.path_id == 0 || info.time_fraction == 0.0 || info.time_fraction == 1.0 || !layer_present) return;

    const PF_PathQuerySuite1* path_query = suites.path_query_suite();
    const auto path_id = static_cast<PF_PathID>(info.path_id);
    PF_PathOutlinePtr path = nullptr;
    err = path_query->PF_CheckoutPath(ref, path_id, in_data->current_time, in_data->time_step, in_data->time_scale,
                                      &path);
    if (err != PF_Err_NONE) return;
    hold.path_query = path_query;
    hold.path_id = path_id;
    hold.path = path;
    const PF_PathDataSuite1* path_data = suites.path_data_suite();
    PF_Boolean open = 0;
    A_long segment_count = 0;
    err = path_data->PF_PathIsOpen(ref, path, &open);
    if (err == PF_Err_NONE) err = path_data->PF_PathNumSegments(ref, path, &segment_count);
    if (err != PF_Err_NONE) return;

    // width × height entries of 4 bytes, sized without int32 overflow; a size
    // no address space can hold is as unavailable as a refused one.
    const auto entries = static_cast<uint64_t>(ctx.width) * static_cast<uint64_t>(ctx.height);
    if (entries > static_cast<uint64_t>(PTRDIFF_MAX) / sizeof(A_long)) {
        show_memory_error(in_data, out_data, err);
        return;
    }
    const uint64_t bytes = entries * sizeof(A_long);
    hold.id_map = utils->host_new_handle(bytes);
    A_long* id_map = hold.id_map != nullptr ? static_cast<A_long*>(*hold.id_map) : nullptr;
    if (hold.id_map == nullptr || (id_map == nullptr && entries != 0)) {
        show_memory_error(in_data, out_data, err);
        return;
    }
    if (entries != 0) std::memset(id_map, 0, static_cast<std::size_t>(bytes));

    const StrokeTotals totals = generate_strokes({.ctx = ctx,
                                                  .info = info,
                                                  .layer_width = hold.layer_param.u.ld.width,
                                                  .layer_height = hold.layer_param.u.ld.height,
                                                  .suites = suites,
                                                  .path = path,
                                                  .segment_count = segment_count,
                                                  .id_map = id_map,
                                                  .options = {.path_open = open != 0 ? 1 : 0}},
                                                 list, err);

    hold.checkin_path();

    if (err == PF_Err_NONE)
        draw_strokes(ctx, info, hold.layer_param, suites, list, totals.stroke_count, totals.half_w_total, err);
}

}  // namespace

PF_Err smart_render(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra) {
    SuiteCache suites(in_data->pica_basicP);
    StrokeList list;
    PF_Err err = PF_Err_NONE;
    RenderHold hold(in_data, out_data, list, err);
    render_stages(in_data, out_data, extra, suites, list, hold, err);
    hold.release();
    return err;
}
