// The basic suite (suites and blocks) and the AEGP utility suite. They carry
// no effect_ref and serve the Host whose command is running.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "standalone/services/service.h"

namespace standalone {

namespace {

// ---------------------------------------------------------------------------
// Basic suite
// ---------------------------------------------------------------------------
SPErr PF_CALL sp_acquire_suite(const char* name, A_long version, const void** suite) {
    Host* host = current_host();
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
    Host* host = current_host();
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
    return call.finish(injected(*host, FaultTarget::release_suite));
}

SPBoolean PF_CALL sp_is_equal(const char* a, const char* b) {
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0 ? 1 : 0;
}

SPErr PF_CALL sp_allocate_block(std::size_t size, void** block) {
    Host* host = current_host();
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
    Host* host = current_host();
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

SPErr PF_CALL sp_reallocate_block(void* block, std::size_t new_size, void** new_block) {
    Host* host = current_host();
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
// AEGP utility suite
// ---------------------------------------------------------------------------
PF_Err PF_CALL aegp_report_info(AEGP_PluginID plugin_id, const A_char* info) {
    Host* host = current_host();
    Call call(host, "AEGP_ReportInfo", {as_int(plugin_id), text_or_null(info)});
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL aegp_driver_init_version(A_short* major, A_short* minor) {
    Call call(current_host(), "AEGP_GetDriverPluginInitFuncVersion", {});
    if (major == nullptr || minor == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *major = 1;
    *minor = 0;
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL aegp_driver_impl_version(A_short* major, A_short* minor) {
    Call call(current_host(), "AEGP_GetDriverImplementationVersion", {});
    if (major == nullptr || minor == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *major = 1;
    *minor = 0;
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL aegp_start_quiet_errors(void*) {
    Call call(current_host(), "AEGP_StartQuietErrors", {});
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL aegp_end_quiet_errors(A_Boolean, void*) {
    Call call(current_host(), "AEGP_EndQuietErrors", {});
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL aegp_register_with_aegp(AEGP_GlobalRefcon, const A_char* plugin_name, AEGP_PluginID* plugin_id) {
    auto check = [&](Host&) {
        return plugin_name == nullptr || plugin_id == nullptr ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE;
    };
    return serve(current_host(), FaultTarget::register_with_aegp, {text_or_null(plugin_name)}, check, [&](Host& host) {
        host.impl().registered_names.emplace_back(plugin_name);
        *plugin_id = host.impl().plugin_id;
        return PF_Err_NONE;
    });
}

PF_Err PF_CALL aegp_main_hwnd(void* main_hwnd) {
    Call call(current_host(), "AEGP_GetMainHWND", {});
    if (main_hwnd != nullptr) {
        *static_cast<void**>(main_hwnd) = nullptr;
    }
    return call.finish(PF_Err_NONE);
}

// "AEGP Utility Suite" 7, in the host's order; what the effect never asks
// for answers an error.
constexpr AEGP_UtilitySuite3 kUtilitySuite = {
    aegp_report_info,
    aegp_driver_init_version,
    aegp_driver_impl_version,
    aegp_start_quiet_errors,
    aegp_end_quiet_errors,
    unsupported<"AEGP_StartUndoGroup">,
    unsupported<"AEGP_EndUndoGroup">,
    aegp_register_with_aegp,
    aegp_main_hwnd,
    unsupported<"AEGP_ShowHideAllFloaters">,
    unsupported<"AEGP_PaintPalGetForeColor">,
    unsupported<"AEGP_PaintPalGetBackColor">,
    unsupported<"AEGP_PaintPalSetForeColor">,
    unsupported<"AEGP_PaintPalSetBackColor">,
    unsupported<"AEGP_CharPalGetFillColor">,
    unsupported<"AEGP_CharPalGetStrokeColor">,
    unsupported<"AEGP_CharPalSetFillColor">,
    unsupported<"AEGP_CharPalSetStrokeColor">,
    unsupported<"AEGP_CharPalIsFillColorUIFrontmost">,
    unsupported<"AEGP_ConvertFpLongToHSFRatio">,
    unsupported<"AEGP_ConvertHSFRatioToFpLong">,
    unsupported<"AEGP_CauseIdleRoutinesToBeCalled">,
    unsupported<"AEGP_GetSuppressInteractiveUI">,
    unsupported<"AEGP_WriteToOSConsole">,
    unsupported<"AEGP_WriteToDebugLog">,
};


}  // namespace

const void* utility_suite_table() { return &kUtilitySuite; }

void fill_basic_suite(SPBasicSuite* basic) {
    basic->AcquireSuite = sp_acquire_suite;
    basic->ReleaseSuite = sp_release_suite;
    basic->IsEqual = sp_is_equal;
    basic->AllocateBlock = sp_allocate_block;
    basic->FreeBlock = sp_free_block;
    basic->ReallocateBlock = sp_reallocate_block;
    basic->Undefined = sp_undefined;
}

}  // namespace standalone
