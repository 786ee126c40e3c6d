// A host around a tiny scripted entry point, for testing the host itself:
// each test says what the "effect" does for a command.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "host/ae_sdk.h"
#include "standalone/host.h"

namespace standalone_test {

using Script = std::function<PF_Err(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*)>;

// The script of the thread's current test (tests only; the effect keeps no state).
inline thread_local Script t_script;

inline PF_Err PF_CALL scripted_entry(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                                     PF_LayerDef* output, void* extra) {
    return t_script ? t_script(cmd, in_data, out_data, params, output, extra) : PF_Err_NONE;
}

// Acquires a suite through the in-data's basic suite; null when refused.
// A scripted effect's pre-render data delete function. The host hands it
// nothing but the data, so the script notes the host's callbacks here first.
inline thread_local PF_UtilCallbacks* t_delete_utils = nullptr;
inline void PF_CALL dispose_pre_render_handle(void* data) {
    t_delete_utils->host_dispose_handle(static_cast<PF_Handle>(data));
}

template <typename Suite>
const Suite* acquire(PF_InData* in_data, const char* name, A_long version) {
    const void* suite = nullptr;
    if (in_data->pica_basicP->AcquireSuite(name, version, &suite) != 0) {
        return nullptr;
    }
    return static_cast<const Suite*>(suite);
}

class ScriptedHost : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = standalone::Module::from_entry(scripted_entry, "scripted");
        host_ = std::make_unique<standalone::Host>(module_);
    }
    void TearDown() override { t_script = nullptr; }

    // Runs `body` inside a command, where the host's services are live.
    PF_Err run(const std::function<PF_Err(PF_InData*, PF_OutData*)>& body, PF_Cmd cmd = PF_Cmd_COMPLETELY_GENERAL) {
        t_script = [&body](PF_Cmd, PF_InData* in, PF_OutData* out, PF_ParamDef**, PF_LayerDef*, void*) {
            return body(in, out);
        };
        const PF_Err err = host_->command(cmd);
        t_script = nullptr;
        return err;
    }

    std::string why() const {
        std::string text;
        host_->balanced(&text);
        return text;
    }

    standalone::Host& host() { return *host_; }

    std::shared_ptr<standalone::Module> module_;
    std::unique_ptr<standalone::Host> host_;
};

}  // namespace standalone_test
