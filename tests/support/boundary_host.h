// A standalone host around the built module, for the boundary tests. Every
// test ends with the host's ledgers balanced: nothing held but what the host
// keeps for the effect.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/ae_sdk.h"
#include "host/handlers.h"
#include "standalone/host.h"

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        module_ = standalone::Module::load(TRELLIS_MODULE_PATH, &error);
        ASSERT_NE(module_, nullptr) << error;
        host_ = std::make_unique<standalone::Host>(module_);
    }

    void TearDown() override {
        if (host_ == nullptr) {
            return;
        }
        std::string why;
        EXPECT_TRUE(host_->balanced(&why)) << why;
        EXPECT_EQ(host_->update_param_ui_calls(), 0);
    }

    standalone::Host& host() { return *host_; }
    PF_InData& in() { return host_->in_data(); }
    PF_OutData& out() { return host_->out_data(); }

    long acquisitions(const char* name, A_long version) const {
        return host_->ledger().acquisitions(name, version);
    }
    long releases(const char* name, A_long version) const { return host_->ledger().releases(name, version); }
    std::size_t count(const char* function) const { return host_->log().count(function); }
    std::vector<standalone::LoggedCall> calls(const char* function) const { return host_->log().calls(function); }

    // Host functions the effect called (the host logs its own entry-point
    // call too).
    std::vector<std::string> effect_calls() const {
        std::vector<std::string> out;
        for (const standalone::LoggedCall& call : host_->log().all()) {
            if (call.function != "EntryPointFunc") {
                out.push_back(call.function);
            }
        }
        return out;
    }

    GlobalBlock* global_block() {
        return static_cast<GlobalBlock*>(host_->handle_data(in().global_data));
    }

    std::string return_msg() const { return std::string(host_->out_data().return_msg); }

    std::shared_ptr<standalone::Module> module_;
    std::unique_ptr<standalone::Host> host_;
};
