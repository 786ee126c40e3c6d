// Every host function the effect can reach: the callbacks of the in-data, the
// basic suite and the named suites. Each finds its Host (through effect_ref or,
// for those without it, the thread's current Host), logs the call, applies
// injected faults, checks its arguments and does the work.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include "standalone/host_impl.h"

namespace standalone {

namespace {

thread_local Host* t_current_host = nullptr;

// sprintf cannot know its destination's size; the effect's destination is
// return_msg, which holds 255 characters and a terminator.
constexpr std::size_t kSprintfBound = sizeof(PF_OutData{}.return_msg);

// One logged, fault-checked host call. The log entry is made at construction;
// finish() stores the result.
class Call {
public:
    Call(Host* host, std::string_view name, std::vector<LogArg> args) : host_(host) {
        if (host_ != nullptr) {
            position_ = host_->log().record(name, std::move(args));
        }
    }
    PF_Err finish(PF_Err err) {
        if (host_ != nullptr) {
            host_->log().set_result(position_, err);
        }
        return err;
    }

private:
    Host* host_;
    long position_ = -1;
};

std::int64_t as_int(std::int64_t v) { return v; }

std::string text_or_null(const char* text) { return text != nullptr ? std::string(text) : std::string("(null)"); }

// Injected failure of a named function, or 0.
PF_Err injected(Host* host, std::string_view name) {
    if (host->faults().empty()) {
        return PF_Err_NONE;
    }
    return host->faults().callback_result(name);
}

// ---------------------------------------------------------------------------
// ANSI
// ---------------------------------------------------------------------------
PF_FpLong PF_CALL ansi_atan(PF_FpLong v) { return std::atan(v); }
PF_FpLong PF_CALL ansi_atan2(PF_FpLong y, PF_FpLong x) { return std::atan2(y, x); }
// Rounding steers the effect's drawing, so floor and ceil are logged; they
// have no effect_ref and reach their Host through the running command.
PF_FpLong log_rounding(std::string_view name, PF_FpLong v, PF_FpLong result) {
    Host* host = t_current_host;
    if (host != nullptr && host->log().enabled()) {
        host->log().record(name, {v, result});
    }
    return result;
}

PF_FpLong PF_CALL ansi_ceil(PF_FpLong v) { return log_rounding("ceil", v, std::ceil(v)); }
PF_FpLong PF_CALL ansi_cos(PF_FpLong v) { return std::cos(v); }
PF_FpLong PF_CALL ansi_exp(PF_FpLong v) { return std::exp(v); }
PF_FpLong PF_CALL ansi_fabs(PF_FpLong v) { return std::fabs(v); }
PF_FpLong PF_CALL ansi_floor(PF_FpLong v) { return log_rounding("floor", v, std::floor(v)); }
PF_FpLong PF_CALL ansi_fmod(PF_FpLong a, PF_FpLong b) { return std::fmod(a, b); }
PF_FpLong PF_CALL ansi_hypot(PF_FpLong a, PF_FpLong b) { return std::hypot(a, b); }
PF_FpLong PF_CALL ansi_log(PF_FpLong v) { return std::log(v); }
PF_FpLong PF_CALL ansi_log10(PF_FpLong v) { return std::log10(v); }
PF_FpLong PF_CALL ansi_pow(PF_FpLong a, PF_FpLong b) { return std::pow(a, b); }
PF_FpLong PF_CALL ansi_sin(PF_FpLong v) { return std::sin(v); }
PF_FpLong PF_CALL ansi_sqrt(PF_FpLong v) { return std::sqrt(v); }
PF_FpLong PF_CALL ansi_tan(PF_FpLong v) { return std::tan(v); }
PF_FpLong PF_CALL ansi_asin(PF_FpLong v) { return std::asin(v); }
PF_FpLong PF_CALL ansi_acos(PF_FpLong v) { return std::acos(v); }

std::string destination_name(Host* host, const A_char* destination) {
    if (host != nullptr && destination == host->out_data().return_msg) {
        return "return_msg";
    }
    return "other";
}

int PF_CALL ansi_sprintf(A_char* destination, const A_char* format, ...) {
    Host* host = t_current_host;
    if (destination == nullptr || format == nullptr) {
        if (host != nullptr) {
            host->ledger().error("sprintf with a null destination or format");
        }
        return -1;
    }
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(destination, kSprintfBound, format, args);
    va_end(args);
    if (host != nullptr) {
        Call call(host, "sprintf", {destination_name(host, destination), std::string(format), std::string(destination)});
        call.finish(written);
    }
    return written;
}

A_char* PF_CALL ansi_strcpy(A_char* destination, const A_char* source) {
    Host* host = t_current_host;
    if (destination == nullptr || source == nullptr) {
        if (host != nullptr) {
            host->ledger().error("strcpy with a null destination or source");
        }
        return destination;
    }
    const std::string where = destination_name(host, destination);
    if (where == "return_msg") {
        std::snprintf(destination, kSprintfBound, "%s", source);
    } else {
        std::strcpy(destination, source);
    }
    if (host != nullptr) {
        Call call(host, "strcpy", {where, std::string(destination)});
        call.finish(0);
    }
    return destination;
}

constexpr PF_ANSICallbacksSuite1 kAnsiSuite = {
    ansi_atan, ansi_atan2, ansi_ceil,  ansi_cos, ansi_exp,  ansi_fabs,    ansi_floor,  ansi_fmod,   ansi_hypot, ansi_log,
    ansi_log10, ansi_pow,  ansi_sin,   ansi_sqrt, ansi_tan, ansi_sprintf, ansi_strcpy, ansi_asin, ansi_acos,
};

// ---------------------------------------------------------------------------
// Handles
// ---------------------------------------------------------------------------
PF_Handle PF_CALL host_new_handle(A_u_longlong size) {
    Host* host = t_current_host;
    if (host == nullptr) {
        return nullptr;
    }
    Call call(host, "host_new_handle", {static_cast<std::int64_t>(size)});
    PF_Handle handle = nullptr;
    if (!host->faults().allocation_fails()) {
        handle = host->impl().new_handle(size);
    }
    call.finish(handle != nullptr ? 1 : 0);
    return handle;
}

void* PF_CALL host_lock_handle(PF_Handle handle) {
    Host* host = t_current_host;
    if (host == nullptr) {
        return nullptr;
    }
    Call call(host, "host_lock_handle", {});
    HandleRecord* record = host->impl().find_handle(handle);
    if (record == nullptr) {
        host->ledger().error("host_lock_handle of an unknown handle");
        call.finish(0);
        return nullptr;
    }
    if (host->faults().lock_fails()) {
        call.finish(0);
        return nullptr;
    }
    ++record->locks;
    call.finish(1);
    return record->data;
}

void PF_CALL host_unlock_handle(PF_Handle handle) {
    Host* host = t_current_host;
    if (host == nullptr) {
        return;
    }
    Call call(host, "host_unlock_handle", {});
    HandleRecord* record = host->impl().find_handle(handle);
    if (record == nullptr) {
        host->ledger().error("host_unlock_handle of an unknown handle");
        call.finish(PF_Err_BAD_CALLBACK_PARAM);
        return;
    }
    if (record->locks <= 0) {
        host->ledger().error("host_unlock_handle of a handle that is not locked");
        call.finish(PF_Err_BAD_CALLBACK_PARAM);
        return;
    }
    --record->locks;
    call.finish(0);
}

void PF_CALL host_dispose_handle(PF_Handle handle) {
    Host* host = t_current_host;
    if (host == nullptr) {
        return;
    }
    Call call(host, "host_dispose_handle", {});
    if (host->impl().find_handle(handle) == nullptr) {
        host->ledger().error("host_dispose_handle of an unknown or already disposed handle");
        call.finish(PF_Err_BAD_CALLBACK_PARAM);
        return;
    }
    host->impl().dispose_handle(handle);
    call.finish(0);
}

A_u_longlong PF_CALL host_get_handle_size(PF_Handle handle) {
    Host* host = t_current_host;
    if (host == nullptr) {
        return 0;
    }
    Call call(host, "host_get_handle_size", {});
    HandleRecord* record = host->impl().find_handle(handle);
    if (record == nullptr) {
        host->ledger().error("host_get_handle_size of an unknown handle");
        call.finish(0);
        return 0;
    }
    call.finish(static_cast<PF_Err>(record->size));
    return record->size;
}

PF_Err PF_CALL host_resize_handle(A_u_longlong new_size, PF_Handle* handle) {
    Host* host = t_current_host;
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "host_resize_handle", {static_cast<std::int64_t>(new_size)});
    HandleRecord* record = handle != nullptr ? host->impl().find_handle(*handle) : nullptr;
    if (record == nullptr) {
        host->ledger().error("host_resize_handle of an unknown handle");
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    if (PF_Err err = injected(host, "host_resize_handle")) {
        return call.finish(err);
    }
    const std::size_t size = static_cast<std::size_t>(new_size);
    void* data = allocate_memory(size);
    if (data == nullptr) {
        return call.finish(PF_Err_OUT_OF_MEMORY);
    }
    std::memset(data, 0xA5, size > 0 ? size : 1);
    std::memcpy(data, record->data, std::min(size, record->size));
    std::free(record->data);
    record->data = data;
    record->size = size;
    return call.finish(PF_Err_NONE);
}

constexpr PF_HandleSuite1 kHandleSuite = {host_new_handle,      host_lock_handle,     host_unlock_handle,
                                          host_dispose_handle,  host_get_handle_size, host_resize_handle};

// ---------------------------------------------------------------------------
// Utility callbacks: copy and fill
// ---------------------------------------------------------------------------
bool rect_inside(const PF_Rect& r, const World& world) {
    return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom && r.right <= world.width() &&
           r.bottom <= world.height();
}

PF_Err PF_CALL util_copy(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, const PF_Rect* src_r,
                         const PF_Rect* dst_r) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "copy", {as_int(src_r != nullptr), as_int(dst_r != nullptr)});
    if (PF_Err err = injected(host, "copy")) {
        return call.finish(err);
    }
    World* from = host->impl().find_world(src);
    World* to = host->impl().find_world(dst);
    if (from == nullptr || to == nullptr || from->format() != to->format()) {
        host->ledger().error("copy between unknown worlds or worlds of different depth");
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    const PF_Rect whole_from{0, 0, from->width(), from->height()};
    const PF_Rect whole_to{0, 0, to->width(), to->height()};
    const PF_Rect a = src_r != nullptr ? *src_r : whole_from;
    const PF_Rect b = dst_r != nullptr ? *dst_r : whole_to;
    if (!rect_inside(a, *from) || !rect_inside(b, *to) || a.right - a.left != b.right - b.left ||
        a.bottom - a.top != b.bottom - b.top) {
        host->ledger().error("copy with rectangles outside the worlds or of different sizes");
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    const std::size_t pixel = from->pixel_size();
    const std::size_t bytes = static_cast<std::size_t>(a.right - a.left) * pixel;
    for (A_long y = 0; y < a.bottom - a.top; ++y) {
        if (bytes > 0) {
            std::memmove(to->row(b.top + y) + static_cast<std::size_t>(b.left) * pixel,
                         std::as_const(*from).row(a.top + y) + static_cast<std::size_t>(a.left) * pixel, bytes);
        }
    }
    return call.finish(PF_Err_NONE);
}

// `r` lies inside the world. An all-zero value (the usual clear) is a
// memset; other values fill one row and copy it.
template <typename Pixel>
void fill_rect(World& world, const PF_Rect& r, const Pixel& value) {
    if (r.left >= r.right || r.top >= r.bottom) {
        return;
    }
    const std::size_t offset = static_cast<std::size_t>(r.left) * sizeof(Pixel);
    const std::size_t bytes = static_cast<std::size_t>(r.right - r.left) * sizeof(Pixel);
    Pixel zero{};
    if (std::memcmp(&value, &zero, sizeof(Pixel)) == 0) {
        for (A_long y = r.top; y < r.bottom; ++y) {
            std::memset(world.row(y) + offset, 0, bytes);
        }
        return;
    }
    std::uint8_t* const first = world.row(r.top) + offset;
    std::fill_n(reinterpret_cast<Pixel*>(first), r.right - r.left, value);
    for (A_long y = r.top + 1; y < r.bottom; ++y) {
        std::memcpy(world.row(y) + offset, first, bytes);
    }
}

PF_Err PF_CALL util_fill(PF_ProgPtr effect_ref, const PF_Pixel* color, const PF_Rect* dst_rect, PF_EffectWorld* world) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    const PF_Pixel8 value = color != nullptr ? *color : PF_Pixel8{0, 0, 0, 0};
    Call call(host, "fill", {as_int(value.alpha), as_int(value.red), as_int(value.green), as_int(value.blue),
                             as_int(dst_rect != nullptr)});
    if (PF_Err err = injected(host, "fill")) {
        return call.finish(err);
    }
    World* target = host->impl().find_world(world);
    if (target == nullptr) {
        host->ledger().error("fill of an unknown world");
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    const PF_Rect r = dst_rect != nullptr ? *dst_rect : PF_Rect{0, 0, target->width(), target->height()};
    if (!rect_inside(r, *target)) {
        host->ledger().error("fill with a rectangle outside the world");
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    // An 8-bit colour is widened as the application does: 255 maps to full scale.
    auto widen16 = [](A_u_char c) { return static_cast<A_u_short>((c * 32768 + 127) / 255); };
    const PF_Pixel16 v16{widen16(value.alpha), widen16(value.red), widen16(value.green), widen16(value.blue)};
    const PF_PixelFloat vf{value.alpha / 255.0f, value.red / 255.0f, value.green / 255.0f, value.blue / 255.0f};
    switch (target->format()) {
    case PF_PixelFormat_ARGB32:
        fill_rect(*target, r, value);
        break;
    case PF_PixelFormat_ARGB64:
        fill_rect(*target, r, v16);
        break;
    default:
        fill_rect(*target, r, vf);
        break;
    }
    return call.finish(PF_Err_NONE);
}

// ---------------------------------------------------------------------------
// Interaction callbacks
// ---------------------------------------------------------------------------
PF_Err PF_CALL inter_checkout_param(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                                    A_u_long time_scale, PF_ParamDef* param) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "checkout_param", {as_int(index), as_int(what_time), as_int(time_step), as_int(time_scale)});
    if (param == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    if (PF_Err err = injected(host, "checkout_param")) {
        return call.finish(err);
    }
    if (!host->faults().empty()) {
        if (PF_Err err = host->faults().checkout_param_result(index)) {
            return call.finish(err);
        }
    }
    PF_ParamDef result{};
    if (index == 0) {
        result.param_type = PF_Param_LAYER;
        if (host->input() != nullptr) {
            result.u.ld = *host->input()->def();
        }
        result.u.ld.dephault = PF_LayerDefault_MYSELF;
    } else {
        PF_Err err = host->params().evaluate(index, frame_time(what_time, time_step), host->input(), &result);
        if (err != PF_Err_NONE) {
            return call.finish(err);
        }
        result.uu.id = index;
    }
    *param = result;
    host->ledger().param_checked_out(index);
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL inter_checkin_param(PF_ProgPtr effect_ref, PF_ParamDef* param) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "checkin_param", {as_int(param != nullptr ? param->uu.id : -1)});
    if (param == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    if (PF_Err err = injected(host, "checkin_param")) {
        return call.finish(err);
    }
    if (!host->ledger().param_checked_in(param->uu.id)) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL inter_add_param(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (def == nullptr) {
        Call call(host, "add_param", {as_int(index)});
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
    std::memcpy(name, def->name, sizeof name);
    name[PF_MAX_EFFECT_PARAM_NAME_LEN] = '\0';
    Call call(host, "add_param", {as_int(index), as_int(def->uu.id), as_int(def->param_type), std::string(name)});
    if (PF_Err err = injected(host, "add_param")) {
        return call.finish(err);
    }
    return call.finish(host->params().declare(index, *def));
}

PF_Err PF_CALL inter_abort(PF_ProgPtr effect_ref) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "abort", {});
    ++host->impl().abort_calls;
    if (PF_Err err = injected(host, "abort")) {
        return call.finish(err);
    }
    const auto& hook = host->impl().abort_hook;
    return call.finish(hook ? hook() : PF_Err_NONE);
}

PF_Err PF_CALL inter_progress(PF_ProgPtr effect_ref, A_long current, A_long total) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "progress", {as_int(current), as_int(total)});
    host->impl().progress.emplace_back(current, total);
    if (PF_Err err = injected(host, "progress")) {
        return call.finish(err);
    }
    const auto& hook = host->impl().progress_hook;
    return call.finish(hook ? hook(current, total) : PF_Err_NONE);
}

// ---------------------------------------------------------------------------
// Basic suite
// ---------------------------------------------------------------------------
SPErr PF_CALL sp_acquire_suite(const char* name, A_long version, const void** suite) {
    Host* host = t_current_host;
    if (host == nullptr) {
        return kSPBadParameter;
    }
    Call call(host, "AcquireSuite", {text_or_null(name), as_int(version)});
    if (name == nullptr || suite == nullptr) {
        return call.finish(kSPBadParameter);
    }
    if (!host->faults().empty() && host->faults().suite_refused(name, version)) {
        *suite = nullptr;
        return call.finish(kSuiteNotFound);
    }
    auto& suites = host->impl().suites;
    auto it = suites.find({std::string(name), version});
    if (it == suites.end()) {
        *suite = nullptr;
        return call.finish(kSuiteNotFound);
    }
    *suite = it->second;
    host->ledger().suite_acquired(name, version);
    return call.finish(0);
}

SPErr PF_CALL sp_release_suite(const char* name, A_long version) {
    Host* host = t_current_host;
    if (host == nullptr) {
        return kSPBadParameter;
    }
    Call call(host, "ReleaseSuite", {text_or_null(name), as_int(version)});
    if (name == nullptr) {
        return call.finish(kSPBadParameter);
    }
    if (!host->ledger().suite_released(name, version)) {
        return call.finish(kSPBadParameter);
    }
    return call.finish(injected(host, "ReleaseSuite"));
}

A_Boolean PF_CALL sp_is_equal(const char* a, const char* b) {
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0 ? 1 : 0;
}

SPErr PF_CALL sp_allocate_block(A_u_longlong size, void** block) {
    Host* host = t_current_host;
    if (host == nullptr || block == nullptr) {
        return kSPBadParameter;
    }
    Call call(host, "AllocateBlock", {static_cast<std::int64_t>(size)});
    void* memory = std::malloc(size > 0 ? static_cast<std::size_t>(size) : 1);
    *block = memory;
    if (memory == nullptr) {
        return call.finish(PF_Err_OUT_OF_MEMORY);
    }
    host->impl().blocks[memory] = static_cast<std::size_t>(size);
    return call.finish(0);
}

SPErr PF_CALL sp_free_block(void* block) {
    Host* host = t_current_host;
    if (host == nullptr) {
        return kSPBadParameter;
    }
    Call call(host, "FreeBlock", {});
    auto& blocks = host->impl().blocks;
    auto it = blocks.find(block);
    if (it == blocks.end()) {
        host->ledger().error("FreeBlock of an unknown block");
        return call.finish(kSPBadParameter);
    }
    blocks.erase(it);
    std::free(block);
    return call.finish(0);
}

SPErr PF_CALL sp_reallocate_block(void* block, A_u_longlong new_size, void** new_block) {
    Host* host = t_current_host;
    if (host == nullptr || new_block == nullptr) {
        return kSPBadParameter;
    }
    Call call(host, "ReallocateBlock", {static_cast<std::int64_t>(new_size)});
    auto& blocks = host->impl().blocks;
    auto it = blocks.find(block);
    if (block != nullptr && it == blocks.end()) {
        host->ledger().error("ReallocateBlock of an unknown block");
        return call.finish(kSPBadParameter);
    }
    const std::size_t old_size = block != nullptr ? it->second : 0;
    if (block != nullptr) {
        blocks.erase(it);
    }
    void* memory = std::realloc(block, new_size > 0 ? static_cast<std::size_t>(new_size) : 1);
    if (memory == nullptr) {
        if (block != nullptr) {
            blocks[block] = old_size;
        }
        return call.finish(PF_Err_OUT_OF_MEMORY);
    }
    blocks[memory] = static_cast<std::size_t>(new_size);
    *new_block = memory;
    return call.finish(0);
}

SPErr PF_CALL sp_undefined() { return kSPBadParameter; }

// ---------------------------------------------------------------------------
// AEGP Utility Suite 7
// ---------------------------------------------------------------------------
PF_Err PF_CALL aegp_report_info(AEGP_PluginID plugin_id, const A_char* info) {
    Host* host = t_current_host;
    Call call(host, "AEGP_ReportInfo", {as_int(plugin_id), text_or_null(info)});
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL aegp_report_info_unicode(AEGP_PluginID plugin_id, const A_u_short*) {
    Call call(t_current_host, "AEGP_ReportInfoUnicode", {as_int(plugin_id)});
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL aegp_driver_init_version(A_short* major, A_short* minor) {
    Call call(t_current_host, "AEGP_GetDriverPluginInitFuncVersion", {});
    if (major == nullptr || minor == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *major = 1;
    *minor = 0;
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL aegp_driver_impl_version(A_short* major, A_short* minor) {
    Call call(t_current_host, "AEGP_GetDriverImplementationVersion", {});
    if (major == nullptr || minor == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *major = 1;
    *minor = 0;
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL aegp_start_quiet_errors(void*) {
    Call call(t_current_host, "AEGP_StartQuietErrors", {});
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL aegp_end_quiet_errors(A_Boolean, void*) {
    Call call(t_current_host, "AEGP_EndQuietErrors", {});
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL aegp_last_error_message(A_long buffer_size, A_char* error_string, PF_Err* error) {
    Call call(t_current_host, "AEGP_GetLastErrorMessage", {as_int(buffer_size)});
    if (error_string != nullptr && buffer_size > 0) {
        error_string[0] = '\0';
    }
    if (error != nullptr) {
        *error = PF_Err_NONE;
    }
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL aegp_register_with_aegp(AEGP_GlobalRefcon, const A_char* plugin_name, AEGP_PluginID* plugin_id) {
    Host* host = t_current_host;
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "AEGP_RegisterWithAEGP", {text_or_null(plugin_name)});
    if (plugin_name == nullptr || plugin_id == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    if (PF_Err err = injected(host, "AEGP_RegisterWithAEGP")) {
        return call.finish(err);
    }
    host->impl().registered_names.emplace_back(plugin_name);
    *plugin_id = host->impl().plugin_id;
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL aegp_main_hwnd(void* main_hwnd) {
    Call call(t_current_host, "AEGP_GetMainHWND", {});
    if (main_hwnd != nullptr) {
        *static_cast<void**>(main_hwnd) = nullptr;
    }
    return call.finish(PF_Err_NONE);
}

constexpr AEGP_UtilitySuite7 kUtilitySuite = {
    aegp_report_info,        aegp_report_info_unicode, aegp_driver_init_version,
    aegp_driver_impl_version, aegp_start_quiet_errors, aegp_end_quiet_errors,
    aegp_last_error_message, aegp_register_with_aegp,  aegp_main_hwnd,
};

// ---------------------------------------------------------------------------
// PF Param Utils Suite 1
// ---------------------------------------------------------------------------
PF_Err PF_CALL update_param_ui(PF_ProgPtr effect_ref, PF_ParamIndex param_index, const PF_ParamDef*) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_UpdateParamUI", {as_int(param_index)});
    ++host->impl().update_param_ui_calls;
    return call.finish(injected(host, "PF_UpdateParamUI"));
}

PF_Err PF_CALL get_current_state(PF_ProgPtr effect_ref, PF_State* state) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_GetCurrentState", {});
    if (state == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    if (PF_Err err = injected(host, "PF_GetCurrentState")) {
        return call.finish(err);
    }
    std::vector<std::uint64_t> fingerprints;
    const PF_State digest = host->impl().digest(&fingerprints);
    host->impl().states[{digest.bytes[0], digest.bytes[1]}] = std::move(fingerprints);
    std::memcpy(state, &digest, sizeof digest);
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL has_param_changed(PF_ProgPtr effect_ref, const PF_State* state, PF_ParamIndex param_index,
                                 PF_Boolean* changed) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_HasParamChanged", {as_int(param_index)});
    if (state == nullptr || changed == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    // A handle too short to hold a state (the one-byte sequence block, say)
    // must never be handed over as one.
    for (const auto& [key, record] : host->impl().handles) {
        if (record->data == state && record->size < sizeof(PF_State)) {
            host->ledger().error("PF_HasParamChanged with a state block of " + std::to_string(record->size) +
                                 " bytes");
            return call.finish(PF_Err_BAD_CALLBACK_PARAM);
        }
    }
    if (PF_Err err = injected(host, "PF_HasParamChanged")) {
        return call.finish(err);
    }
    PF_State old{};
    std::memcpy(&old, state, sizeof old);
    std::vector<std::uint64_t> now;
    const PF_State digest = host->impl().digest(&now);
    bool differs = old.bytes[0] != digest.bytes[0] || old.bytes[1] != digest.bytes[1];
    if (param_index >= 1 && differs) {
        auto it = host->impl().states.find({old.bytes[0], old.bytes[1]});
        const auto slot = static_cast<std::size_t>(param_index - 1);
        if (it != host->impl().states.end() && slot < it->second.size() && slot < now.size() &&
            it->second.size() == now.size()) {
            differs = it->second[slot] != now[slot];
        }
    }
    *changed = differs ? 1 : 0;
    return call.finish(PF_Err_NONE);
}

constexpr PF_ParamUtilsSuite1 kParamUtilsSuite = {update_param_ui, get_current_state, has_param_changed};

// ---------------------------------------------------------------------------
// PF World Suite 2
// ---------------------------------------------------------------------------
PF_Err PF_CALL new_world(PF_ProgPtr effect_ref, A_long width, A_long height, PF_Boolean, PF_PixelFormat format,
                         PF_EffectWorld* world) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_NewWorld", {as_int(width), as_int(height), as_int(format)});
    if (world == nullptr || width < 0 || height < 0 || pixel_bytes(format) == 0) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    if (PF_Err err = injected(host, "PF_NewWorld")) {
        return call.finish(err);
    }
    try {
        auto made = std::make_shared<World>(width, height, format);
        *world = *made->def();
        host->impl().new_worlds.push_back(std::move(made));
    } catch (const std::exception&) {
        return call.finish(PF_Err_OUT_OF_MEMORY);
    }
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL dispose_world(PF_ProgPtr effect_ref, PF_EffectWorld* world) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_DisposeWorld", {});
    auto& worlds = host->impl().new_worlds;
    for (auto it = worlds.begin(); it != worlds.end(); ++it) {
        if (world != nullptr && world->platform_ref == it->get()) {
            worlds.erase(it);
            *world = PF_EffectWorld{};
            return call.finish(PF_Err_NONE);
        }
    }
    host->ledger().error("PF_DisposeWorld of a world not made by PF_NewWorld");
    return call.finish(PF_Err_BAD_CALLBACK_PARAM);
}

PF_Err PF_CALL get_pixel_format(const PF_EffectWorld* world, PF_PixelFormat* format) {
    Host* host = t_current_host;
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_GetPixelFormat", {});
    if (format == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    if (PF_Err err = injected(host, "PF_GetPixelFormat")) {
        return call.finish(err);
    }
    World* found = host->impl().find_world(world);
    if (found == nullptr) {
        host->ledger().error("PF_GetPixelFormat of an unknown world");
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *format = found->reported_format();
    return call.finish(PF_Err_NONE);
}

constexpr PF_WorldSuite2 kWorldSuite = {new_world, dispose_world, get_pixel_format};

// ---------------------------------------------------------------------------
// AEGP Mask Suite 1: held by the render, never called; answers "no".
// ---------------------------------------------------------------------------
PF_Err PF_CALL mask_num_masks(void*, A_long* num_masks) {
    Call call(t_current_host, "AEGP_GetLayerNumMasks", {});
    if (num_masks != nullptr) {
        *num_masks = 0;
    }
    return call.finish(PF_Err_INVALID_CALLBACK);
}

PF_Err PF_CALL mask_by_index(void*, A_long index, AEGP_MaskRefH* mask) {
    Call call(t_current_host, "AEGP_GetLayerMaskByIndex", {as_int(index)});
    if (mask != nullptr) {
        *mask = nullptr;
    }
    return call.finish(PF_Err_INVALID_CALLBACK);
}

PF_Err PF_CALL mask_dispose(AEGP_MaskRefH) {
    Call call(t_current_host, "AEGP_DisposeMask", {});
    return call.finish(PF_Err_INVALID_CALLBACK);
}

PF_Err PF_CALL mask_invert(AEGP_MaskRefH, A_Boolean* invert) {
    Call call(t_current_host, "AEGP_GetMaskInvert", {});
    if (invert != nullptr) {
        *invert = 0;
    }
    return call.finish(PF_Err_INVALID_CALLBACK);
}

constexpr AEGP_MaskSuite1 kMaskSuite = {mask_num_masks, mask_by_index, mask_dispose, mask_invert};

// ---------------------------------------------------------------------------
// PF Path Query Suite 1
// ---------------------------------------------------------------------------
PF_Err PF_CALL path_num_paths(PF_ProgPtr effect_ref, A_long* num_paths) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_NumPaths", {});
    if (num_paths == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *num_paths = static_cast<A_long>(host->masks().ids().size());
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL path_info(PF_ProgPtr effect_ref, A_long index, PF_PathID* unique_id) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_PathInfo", {as_int(index)});
    const std::vector<PF_PathID> ids = host->masks().ids();
    if (unique_id == nullptr || index < 0 || static_cast<std::size_t>(index) >= ids.size()) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *unique_id = ids[static_cast<std::size_t>(index)];
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL path_checkout(PF_ProgPtr effect_ref, PF_PathID unique_id, A_long what_time, A_long time_step,
                             A_u_long time_scale, PF_PathOutlinePtr* path) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_CheckoutPath",
              {as_int(unique_id), as_int(what_time), as_int(time_step), as_int(time_scale)});
    if (path == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *path = nullptr;
    if (PF_Err err = injected(host, "PF_CheckoutPath")) {
        return call.finish(err);
    }
    if (unique_id == 0) {
        // No mask chosen: no outline, and nothing to check in.
        return call.finish(PF_Err_NONE);
    }
    MaskShape shape;
    if (!host->masks().shape_at(unique_id, frame_time(what_time, time_step), &shape)) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    auto outline = std::make_unique<PathOutline>(unique_id, std::move(shape));
    *path = reinterpret_cast<PF_PathOutlinePtr>(outline.get());
    host->impl().paths[outline.get()] = std::move(outline);
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL path_checkin(PF_ProgPtr effect_ref, PF_PathID unique_id, PF_Boolean changed, PF_PathOutlinePtr path) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_CheckinPath", {as_int(unique_id), as_int(changed)});
    if (PF_Err err = injected(host, "PF_CheckinPath")) {
        return call.finish(err);
    }
    if (path == nullptr) {
        return call.finish(unique_id == 0 ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM);
    }
    auto& paths = host->impl().paths;
    auto it = paths.find(path);
    if (it == paths.end()) {
        host->ledger().error("PF_CheckinPath of a path that is not checked out");
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    if (it->second->id != unique_id) {
        host->ledger().error("PF_CheckinPath under id " + std::to_string(unique_id) + " of path " +
                             std::to_string(it->second->id));
    }
    auto& preps = host->impl().preps;
    for (auto p = preps.begin(); p != preps.end();) {
        if (p->second->path == it->second.get()) {
            host->ledger().error("PF_CheckinPath with a seg-length preparation of segment " +
                                 std::to_string(p->second->seg) + " not cleaned up");
            p = preps.erase(p);
        } else {
            ++p;
        }
    }
    paths.erase(it);
    return call.finish(PF_Err_NONE);
}

constexpr PF_PathQuerySuite1 kPathQuerySuite = {path_num_paths, path_info, path_checkout, path_checkin};

// ---------------------------------------------------------------------------
// PF Path Data Suite 1
// ---------------------------------------------------------------------------
const PathOutline* find_path(Host* host, PF_PathOutlinePtr path) {
    auto it = host->impl().paths.find(path);
    return it == host->impl().paths.end() ? nullptr : it->second.get();
}

bool seg_valid(const PathOutline* outline, A_long seg) {
    return seg >= 0 && seg < outline->geometry.num_segments();
}

SegPrep* find_prep(Host* host, const PathOutline* outline, PF_PathSegPrepPtr* prep, A_long seg) {
    if (prep == nullptr) {
        return nullptr;
    }
    auto it = host->impl().preps.find(*prep);
    if (it == host->impl().preps.end() || it->second->path != outline || it->second->seg != seg) {
        return nullptr;
    }
    return it->second.get();
}

PF_Err PF_CALL path_is_open(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, PF_Boolean* open) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_PathIsOpen", {});
    if (PF_Err err = injected(host, "PF_PathIsOpen")) {
        return call.finish(err);
    }
    const PathOutline* outline = find_path(host, path);
    if (outline == nullptr || open == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *open = outline->geometry.is_open() ? 1 : 0;
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL path_num_segments(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long* num_segments) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_PathNumSegments", {});
    if (PF_Err err = injected(host, "PF_PathNumSegments")) {
        return call.finish(err);
    }
    const PathOutline* outline = find_path(host, path);
    if (outline == nullptr || num_segments == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *num_segments = outline->geometry.num_segments();
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL path_vertex_info(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long which_point,
                                PF_PathVertex* vertex) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_PathVertexInfo", {as_int(which_point)});
    if (PF_Err err = injected(host, "PF_PathVertexInfo")) {
        return call.finish(err);
    }
    const PathOutline* outline = find_path(host, path);
    if (outline == nullptr || vertex == nullptr || which_point < 0 ||
        static_cast<std::size_t>(which_point) >= outline->geometry.shape().vertices.size()) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *vertex = outline->geometry.vertex(which_point);
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL path_prepare_seg_length(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long which_seg,
                                       A_long frequency, PF_PathSegPrepPtr* length_prep) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_PathPrepareSegLength", {as_int(which_seg), as_int(frequency)});
    if (PF_Err err = injected(host, "PF_PathPrepareSegLength")) {
        return call.finish(err);
    }
    const PathOutline* outline = find_path(host, path);
    if (outline == nullptr || length_prep == nullptr || !seg_valid(outline, which_seg)) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    auto prep = std::make_unique<SegPrep>();
    prep->path = outline;
    prep->seg = which_seg;
    prep->frequency = frequency;
    prep->length = outline->geometry.prepare(which_seg, frequency);
    *length_prep = reinterpret_cast<PF_PathSegPrepPtr>(prep.get());
    host->impl().preps[prep.get()] = std::move(prep);
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL path_get_seg_length(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long which_seg,
                                   PF_PathSegPrepPtr* length_prep, PF_FpLong* length) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_PathGetSegLength", {as_int(which_seg)});
    if (PF_Err err = injected(host, "PF_PathGetSegLength")) {
        return call.finish(err);
    }
    const PathOutline* outline = find_path(host, path);
    SegPrep* prep = outline != nullptr ? find_prep(host, outline, length_prep, which_seg) : nullptr;
    if (prep == nullptr || length == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *length = prep->length.length();
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL path_eval_seg_length(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, PF_PathSegPrepPtr* length_prep,
                                    A_long which_seg, PF_FpLong length, PF_FpLong* x, PF_FpLong* y) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_PathEvalSegLength", {as_int(which_seg), length});
    if (PF_Err err = injected(host, "PF_PathEvalSegLength")) {
        return call.finish(err);
    }
    const PathOutline* outline = find_path(host, path);
    SegPrep* prep = outline != nullptr ? find_prep(host, outline, length_prep, which_seg) : nullptr;
    if (prep == nullptr || x == nullptr || y == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    double dx = 0.0;
    double dy = 0.0;
    prep->length.eval(length, x, y, &dx, &dy);
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL path_eval_seg_length_deriv1(PF_ProgPtr effect_ref, PF_PathOutlinePtr path,
                                           PF_PathSegPrepPtr* length_prep, A_long which_seg, PF_FpLong length,
                                           PF_FpLong* x, PF_FpLong* y, PF_FpLong* deriv1x, PF_FpLong* deriv1y) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_PathEvalSegLengthDeriv1", {as_int(which_seg), length});
    if (PF_Err err = injected(host, "PF_PathEvalSegLengthDeriv1")) {
        return call.finish(err);
    }
    const PathOutline* outline = find_path(host, path);
    SegPrep* prep = outline != nullptr ? find_prep(host, outline, length_prep, which_seg) : nullptr;
    if (prep == nullptr || x == nullptr || y == nullptr || deriv1x == nullptr || deriv1y == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    prep->length.eval(length, x, y, deriv1x, deriv1y);
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL path_cleanup_seg_length(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long which_seg,
                                       PF_PathSegPrepPtr* length_prep) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_PathCleanupSegLength", {as_int(which_seg)});
    if (PF_Err err = injected(host, "PF_PathCleanupSegLength")) {
        return call.finish(err);
    }
    const PathOutline* outline = find_path(host, path);
    SegPrep* prep = outline != nullptr ? find_prep(host, outline, length_prep, which_seg) : nullptr;
    if (prep == nullptr) {
        host->ledger().error("PF_PathCleanupSegLength of an unknown preparation");
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    host->impl().preps.erase(prep);
    *length_prep = nullptr;
    return call.finish(PF_Err_NONE);
}

constexpr PF_PathDataSuite1 kPathDataSuite = {
    path_is_open,           path_num_segments,    path_vertex_info,
    path_prepare_seg_length, path_get_seg_length, path_eval_seg_length,
    path_eval_seg_length_deriv1, path_cleanup_seg_length,
};

// ---------------------------------------------------------------------------
// Sampling suites
// ---------------------------------------------------------------------------
template <typename Pixel>
PF_Err nearest_sample(Host* host, const char* name, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, Pixel* dst,
                      PF_PixelFormat format) {
    Call call(host, name, {as_int(x), as_int(y)});
    if (PF_Err err = injected(host, name)) {
        return call.finish(err);
    }
    World* world = params != nullptr ? host->impl().find_world(params->src) : nullptr;
    if (world == nullptr || dst == nullptr || world->format() != format) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    // Pixel centres at whole numbers; outside the world is transparent zero.
    const A_long px = static_cast<A_long>(std::floor(x / 65536.0 + 0.5));
    const A_long py = static_cast<A_long>(std::floor(y / 65536.0 + 0.5));
    if (px < 0 || py < 0 || px >= world->width() || py >= world->height()) {
        *dst = Pixel{};
    } else {
        *dst = reinterpret_cast<const Pixel*>(std::as_const(*world).row(py))[px];
    }
    return call.finish(PF_Err_NONE);
}

// What an area-sampling call logs; see sample_arg.
std::vector<LogArg> sample_args(PF_Fixed x, PF_Fixed y, const PF_SampPB* params) {
    if (params == nullptr) {
        return {as_int(x), as_int(y)};
    }
    const bool reserved = std::any_of(std::begin(params->reserved), std::end(params->reserved),
                                      [](A_long word) { return word != 0; });
    std::vector<LogArg> args{
        as_int(x),
        as_int(y),
        as_int(params->x_radius),
        as_int(params->y_radius),
        as_int(params->area),
        static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(params->src)),
        as_int(params->samp_behave),
        as_int(params->allow_asynch),
        as_int(params->motion_blur),
        as_int(params->comp_mode),
        as_int(params->mask0 != nullptr),
        as_int(params->fcm_table != nullptr),
        as_int(params->fcm_table_size != nullptr),
        as_int(reserved),
    };
    return args;
}

PF_Err sample_area(PF_ProgPtr effect_ref, const char* name, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                   PF_Pixel8* dst8, PF_Pixel16* dst16, PF_PixelFloat* dstf) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    // Called once per painted pixel: once the log only counts, the block's
    // arguments are not built.
    long position = -1;
    if (host->log().enabled()) {
        position = host->log().record(name, host->log().full() ? std::vector<LogArg>{} : sample_args(x, y, params));
    }
    auto finish = [host, position](PF_Err err) {
        if (position >= 0) {
            host->log().set_result(position, err);
        }
        return err;
    };
    if (!host->faults().empty()) {
        if (PF_Err err = host->faults().callback_result(name)) {
            return finish(err);
        }
    }
    const AreaSampler* sampler = params != nullptr ? host->impl().sampler_for(params->src) : nullptr;
    if (sampler == nullptr) {
        return finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    if (dst8 != nullptr) {
        return finish(sampler->sample8(x, y, params->x_radius, params->y_radius, dst8));
    }
    if (dst16 != nullptr) {
        return finish(sampler->sample16(x, y, params->x_radius, params->y_radius, dst16));
    }
    return finish(sampler->sample_float(x, y, params->x_radius, params->y_radius, dstf));
}

PF_Err PF_CALL nn_sample8(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, PF_Pixel8* dst) {
    Host* host = host_of(ref);
    return host == nullptr ? PF_Err_BAD_CALLBACK_PARAM
                           : nearest_sample(host, "nn_sample", x, y, params, dst, PF_PixelFormat_ARGB32);
}
PF_Err PF_CALL subpixel_sample8(PF_ProgPtr ref, PF_Fixed, PF_Fixed, const PF_SampPB*, PF_Pixel8*) {
    Call call(host_of(ref), "subpixel_sample", {});
    return call.finish(PF_Err_INVALID_CALLBACK);
}
PF_Err PF_CALL area_sample8(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, PF_Pixel8* dst) {
    if (dst == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    return sample_area(ref, "area_sample8", x, y, params, dst, nullptr, nullptr);
}

PF_Err PF_CALL nn_sample16(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, PF_Pixel16* dst) {
    Host* host = host_of(ref);
    return host == nullptr ? PF_Err_BAD_CALLBACK_PARAM
                           : nearest_sample(host, "nn_sample16", x, y, params, dst, PF_PixelFormat_ARGB64);
}
PF_Err PF_CALL subpixel_sample16(PF_ProgPtr ref, PF_Fixed, PF_Fixed, const PF_SampPB*, PF_Pixel16*) {
    Call call(host_of(ref), "subpixel_sample16", {});
    return call.finish(PF_Err_INVALID_CALLBACK);
}
PF_Err PF_CALL area_sample16(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, PF_Pixel16* dst) {
    if (dst == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    return sample_area(ref, "area_sample16", x, y, params, nullptr, dst, nullptr);
}

PF_Err PF_CALL nn_sample_float(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, PF_PixelFloat* dst) {
    Host* host = host_of(ref);
    return host == nullptr ? PF_Err_BAD_CALLBACK_PARAM
                           : nearest_sample(host, "nn_sample_float", x, y, params, dst, PF_PixelFormat_ARGB128);
}
PF_Err PF_CALL subpixel_sample_float(PF_ProgPtr ref, PF_Fixed, PF_Fixed, const PF_SampPB*, PF_PixelFloat*) {
    Call call(host_of(ref), "subpixel_sample_float", {});
    return call.finish(PF_Err_INVALID_CALLBACK);
}
PF_Err PF_CALL area_sample_float(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                 PF_PixelFloat* dst) {
    if (dst == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    return sample_area(ref, "area_sample_float", x, y, params, nullptr, nullptr, dst);
}

constexpr PF_Sampling8Suite1 kSampling8Suite = {nn_sample8, subpixel_sample8, area_sample8};
constexpr PF_Sampling16Suite1 kSampling16Suite = {nn_sample16, subpixel_sample16, area_sample16};
constexpr PF_SamplingFloatSuite1 kSamplingFloatSuite = {nn_sample_float, subpixel_sample_float, area_sample_float};

// ---------------------------------------------------------------------------
// Smart-render callbacks
// ---------------------------------------------------------------------------
PF_Err PF_CALL checkout_layer(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                              const PF_RenderRequest* req, A_long what_time, A_long time_step, A_u_long time_scale,
                              PF_CheckoutResult* result) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "checkout_layer", {as_int(index), as_int(checkout_id), as_int(what_time), as_int(time_step),
                                       as_int(time_scale)});
    Host::Impl& impl = host->impl();
    if (req == nullptr || result == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    if (impl.phase != Host::Impl::Phase::pre_render) {
        host->ledger().error("checkout_layer outside the pre-render");
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    impl.checkout_log.push_back(LayerCheckout{index, checkout_id, *req, what_time, time_step, time_scale});
    if (PF_Err err = injected(host, "checkout_layer")) {
        return call.finish(err);
    }
    FrameCheckout checkout;
    checkout.index = index;
    if (index == 0) {
        checkout.world = host->input();
    } else {
        const PF_ParamDef* def = host->params().declared(index);
        if (def == nullptr || def->param_type != PF_Param_LAYER) {
            return call.finish(PF_Err_BAD_CALLBACK_PARAM);
        }
        checkout.world = host->params().layer_at(index, frame_time(what_time, time_step), host->input());
    }
    if (impl.checkouts.count(checkout_id) != 0) {
        host->ledger().error("checkout_layer reuses checkout id " + std::to_string(checkout_id));
    }
    PF_CheckoutResult answer{};
    if (checkout.world != nullptr) {
        answer.result_rect = PF_LRect{0, 0, checkout.world->width(), checkout.world->height()};
        answer.max_result_rect = answer.result_rect;
        answer.ref_width = checkout.world->width();
        answer.ref_height = checkout.world->height();
    }
    answer.par = PF_RationalScale{1, 1};
    *result = answer;
    impl.checkouts[checkout_id] = std::move(checkout);
    return call.finish(PF_Err_NONE);
}

PF_EffectWorld* hand_out(Host::Impl& impl, const World& world) {
    impl.frame_defs.push_back(*world.def());
    return &impl.frame_defs.back();
}

PF_Err PF_CALL checkout_layer_pixels(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "checkout_layer_pixels", {as_int(checkout_id)});
    Host::Impl& impl = host->impl();
    if (pixels == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *pixels = nullptr;
    if (impl.phase != Host::Impl::Phase::render) {
        host->ledger().error("checkout_layer_pixels outside the render");
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    if (PF_Err err = injected(host, "checkout_layer_pixels")) {
        return call.finish(err);
    }
    auto it = impl.checkouts.find(checkout_id);
    if (it == impl.checkouts.end() || it->second.world == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *pixels = hand_out(impl, *it->second.world);
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL checkin_layer_pixels(PF_ProgPtr effect_ref, A_long checkout_id) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "checkin_layer_pixels", {as_int(checkout_id)});
    if (PF_Err err = injected(host, "checkin_layer_pixels")) {
        return call.finish(err);
    }
    return call.finish(host->impl().checkouts.count(checkout_id) != 0 ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM);
}

PF_Err PF_CALL checkout_output(PF_ProgPtr effect_ref, PF_EffectWorld** output) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "checkout_output", {});
    Host::Impl& impl = host->impl();
    if (output == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *output = nullptr;
    if (impl.phase != Host::Impl::Phase::render) {
        host->ledger().error("checkout_output outside the render");
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    if (PF_Err err = injected(host, "checkout_output")) {
        return call.finish(err);
    }
    const std::shared_ptr<World>& world = impl.frame_output != nullptr ? impl.frame_output : host->output();
    if (world == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *output = hand_out(impl, *world);
    return call.finish(PF_Err_NONE);
}

}  // namespace

Host* current_host() { return t_current_host; }

CurrentHostScope::CurrentHostScope(Host* host) : previous_(t_current_host) { t_current_host = host; }
CurrentHostScope::~CurrentHostScope() { t_current_host = previous_; }

Host* host_of(PF_ProgPtr effect_ref) {
    const auto* context = reinterpret_cast<const HostContext*>(effect_ref);
    if (context == nullptr || context->magic != kContextMagic) {
        return nullptr;
    }
    return context->host;
}

const void* ansi_suite_table() { return &kAnsiSuite; }
const void* utility_suite_table() { return &kUtilitySuite; }
const void* handle_suite_table() { return &kHandleSuite; }
const void* param_utils_suite_table() { return &kParamUtilsSuite; }
const void* world_suite_table() { return &kWorldSuite; }
const void* mask_suite_table() { return &kMaskSuite; }
const void* path_query_suite_table() { return &kPathQuerySuite; }
const void* path_data_suite_table() { return &kPathDataSuite; }
const void* sampling8_suite_table() { return &kSampling8Suite; }
const void* sampling16_suite_table() { return &kSampling16Suite; }
const void* sampling_float_suite_table() { return &kSamplingFloatSuite; }

void fill_callbacks(PF_UtilCallbacks* utils, PF_InteractCallbacks* inter, SPBasicSuite* basic) {
    utils->copy = util_copy;
    utils->fill = util_fill;
    utils->host_new_handle = host_new_handle;
    utils->host_lock_handle = host_lock_handle;
    utils->host_unlock_handle = host_unlock_handle;
    utils->host_dispose_handle = host_dispose_handle;
    utils->host_get_handle_size = host_get_handle_size;
    PF_ANSICallbacks& ansi = utils->ansi;
    ansi.atan = ansi_atan;
    ansi.atan2 = ansi_atan2;
    ansi.ceil = ansi_ceil;
    ansi.cos = ansi_cos;
    ansi.exp = ansi_exp;
    ansi.fabs = ansi_fabs;
    ansi.floor = ansi_floor;
    ansi.fmod = ansi_fmod;
    ansi.hypot = ansi_hypot;
    ansi.log = ansi_log;
    ansi.log10 = ansi_log10;
    ansi.pow = ansi_pow;
    ansi.sin = ansi_sin;
    ansi.sqrt = ansi_sqrt;
    ansi.tan = ansi_tan;
    ansi.sprintf = ansi_sprintf;
    ansi.strcpy = ansi_strcpy;
    ansi.asin = ansi_asin;
    ansi.acos = ansi_acos;

    inter->checkout_param = inter_checkout_param;
    inter->checkin_param = inter_checkin_param;
    inter->add_param = inter_add_param;
    inter->abort = inter_abort;
    inter->progress = inter_progress;

    basic->AcquireSuite = sp_acquire_suite;
    basic->ReleaseSuite = sp_release_suite;
    basic->IsEqual = sp_is_equal;
    basic->AllocateBlock = sp_allocate_block;
    basic->FreeBlock = sp_free_block;
    basic->ReallocateBlock = sp_reallocate_block;
    basic->Undefined = sp_undefined;
}

void fill_frame_callbacks(PF_PreRenderCallbacks* pre, PF_SmartRenderCallbacks* render) {
    pre->checkout_layer = checkout_layer;
    render->checkout_layer_pixels = checkout_layer_pixels;
    render->checkin_layer_pixels = checkin_layer_pixels;
    render->checkout_output = checkout_output;
}

}  // namespace standalone
