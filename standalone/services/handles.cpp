// Memory handles, through the utility callbacks and the handle suite. They
// carry no effect_ref and serve the Host whose command is running.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "standalone/services/service.h"

namespace standalone {

namespace {

PF_Handle PF_CALL host_new_handle(A_u_longlong size) {
    Host* host = current_host();
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
    Host* host = current_host();
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
    Host* host = current_host();
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
    Host* host = current_host();
    if (host == nullptr) {
        return;
    }
    Call call(host, "host_dispose_handle", {});
    const HandleRecord* record = host->impl().find_handle(handle);
    if (record == nullptr) {
        host->ledger().error("host_dispose_handle of an unknown or already disposed handle");
        call.finish(PF_Err_BAD_CALLBACK_PARAM);
        return;
    }
    // Locks the pre-render left on the record it handed over are its own
    // fault, noted at hand-over; any lock beyond those is this dispose's.
    const long excused = handle == host->impl().handed_over ? host->impl().handed_over_locks : 0;
    if (record->locks > excused) {
        host->ledger().error("host_dispose_handle of a handle locked " + std::to_string(record->locks) +
                             " time(s)");
    }
    if (handle == host->impl().handed_over) {
        host->impl().handed_over = nullptr;  // a later handle may reuse its address
        host->impl().handed_over_locks = 0;
    }
    host->impl().dispose_handle(handle);
    call.finish(0);
}

A_u_longlong PF_CALL host_get_handle_size(PF_Handle handle) {
    Host* host = current_host();
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
    HandleRecord* record = nullptr;
    auto check = [&](Host& host) {
        record = handle != nullptr ? host.impl().find_handle(*handle) : nullptr;
        if (record == nullptr) {
            host.ledger().error("host_resize_handle of an unknown handle");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        return PF_Err_NONE;
    };
    return serve(current_host(), FaultTarget::resize_handle, {static_cast<std::int64_t>(new_size)}, check,
                 [&](Host&) {
                     if (!handle_size_fits(new_size)) {
                         return PF_Err_OUT_OF_MEMORY;
                     }
                     const std::size_t size = static_cast<std::size_t>(new_size);
                     void* data = allocate_memory(size);
                     if (data == nullptr) {
                         return PF_Err_OUT_OF_MEMORY;
                     }
                     std::memset(data, kFreshHandleByte, size > 0 ? size : 1);
                     std::memcpy(data, record->data, std::min(size, record->size));
                     std::free(record->data);
                     record->data = data;
                     record->size = size;
                     return PF_Err_NONE;
                 });
}

constexpr PF_HandleSuite1 kHandleSuite = {host_new_handle,     host_lock_handle,     host_unlock_handle,
                                          host_dispose_handle, host_get_handle_size, host_resize_handle};

}  // namespace

const void* handle_suite_table() { return &kHandleSuite; }

void fill_handle_callbacks(PF_UtilCallbacks* utils) {
    utils->host_new_handle = host_new_handle;
    utils->host_lock_handle = host_lock_handle;
    utils->host_unlock_handle = host_unlock_handle;
    utils->host_dispose_handle = host_dispose_handle;
    utils->host_get_handle_size = host_get_handle_size;
    utils->host_resize_handle = host_resize_handle;
}

}  // namespace standalone
