#include "host/handlers.h"

#include "host/effect_info.h"
#include "host/suite_cache.h"

namespace {

// Gives a freshly allocated handle back to the host unless it was handed
// over, also when a refused suite unwinds the handler.
class PendingHandle {
public:
    PendingHandle(const PF_HandleSuite1* suite, PF_Handle handle) : suite_(suite), handle_(handle) {}
    ~PendingHandle() {
        if (handle_ == nullptr) {
            return;
        }
        if (locked_) {
            suite_->host_unlock_handle(handle_);
        }
        if (!kept_) {
            suite_->host_dispose_handle(handle_);
        }
    }
    PendingHandle(const PendingHandle&) = delete;
    PendingHandle& operator=(const PendingHandle&) = delete;

    void* lock() {
        void* memory = suite_->host_lock_handle(handle_);
        locked_ = memory != nullptr;
        return memory;
    }
    PF_Handle keep() {
        kept_ = true;
        return handle_;
    }

private:
    const PF_HandleSuite1* suite_;
    PF_Handle handle_;
    bool locked_ = false;
    bool kept_ = false;
};

// Disposes whatever sequence block the host hands in; it is never read.
void dispose_sequence_data(SuiteCache& suites, PF_InData* in_data, PF_OutData* out_data) {
    if (in_data->sequence_data == nullptr) {
        return;
    }
    const PF_Handle old = in_data->sequence_data;
    suites.handle_suite()->host_dispose_handle(old);
    // Never leave the host a handle it no longer owns.
    if (out_data != nullptr && out_data->sequence_data == old) {
        out_data->sequence_data = nullptr;
    }
}

}  // namespace

PF_Err about(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[], PF_LayerDef* /*output*/) {
    if (in_data == nullptr || out_data == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    SuiteCache suites(in_data->pica_basicP);
    suites.ansi_suite()->sprintf(out_data->return_msg, effect_info::kAboutFormat, effect_info::kAboutName,
                                 effect_info::kMajorVersion, effect_info::kMinorVersion,
                                 effect_info::kAboutDescription);
    return PF_Err_NONE;
}

PF_Err global_setup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[], PF_LayerDef* /*output*/) {
    if (in_data == nullptr || out_data == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    SuiteCache suites(in_data->pica_basicP);
    out_data->my_version = effect_info::kVersionWord;
    out_data->out_flags |= effect_info::kOutFlags;
    out_data->out_flags2 |= effect_info::kOutFlags2;

    const PF_HandleSuite1* handles = suites.handle_suite();
    const PF_Handle handle = handles->host_new_handle(sizeof(GlobalBlock));
    if (handle == nullptr) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    PendingHandle pending(handles, handle);
    auto* block = static_cast<GlobalBlock*>(pending.lock());
    if (block == nullptr) {
        return PF_Err_NONE;
    }
    block->ready = 1;
    const PF_Err err = suites.utility_suite()->AEGP_RegisterWithAEGP(nullptr, effect_info::kRegistrationName,
                                                                     &block->plugin_id);
    if (err == PF_Err_NONE) {
        out_data->global_data = pending.keep();
    }
    return err;
}

PF_Err sequence_setup(PF_InData* in_data, PF_OutData* out_data) {
    if (in_data == nullptr || out_data == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    SuiteCache suites(in_data->pica_basicP);
    dispose_sequence_data(suites, in_data, out_data);

    const PF_HandleSuite1* handles = suites.handle_suite();
    const PF_Handle handle = handles->host_new_handle(1);
    if (handle == nullptr) {
        return PF_Err_OUT_OF_MEMORY;
    }
    PendingHandle pending(handles, handle);
    auto* byte = static_cast<A_u_char*>(pending.lock());
    if (byte != nullptr) {
        *byte = 0;
        out_data->sequence_data = pending.keep();
    }
    return PF_Err_NONE;
}

PF_Err sequence_setdown(PF_InData* in_data, PF_OutData* /*out_data*/) {
    if (in_data == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (in_data->sequence_data == nullptr) {
        return PF_Err_NONE;
    }
    SuiteCache suites(in_data->pica_basicP);
    // The instance is going away: the out-data's sequence handle is left as it is.
    dispose_sequence_data(suites, in_data, nullptr);
    return PF_Err_NONE;
}

PF_Err completely_general(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[],
                          PF_LayerDef* /*output*/, void* extra) {
    if (in_data == nullptr || out_data == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    SuiteCache suites(in_data->pica_basicP);
    if (extra == nullptr) {
        out_data->return_msg[0] = '\0';
        return PF_Err_NONE;
    }
    // Longer text is cut to what return_msg holds.
    suites.ansi_suite()->sprintf(out_data->return_msg, "%.255s", static_cast<const char*>(extra));
    return PF_Err_NONE;
}
