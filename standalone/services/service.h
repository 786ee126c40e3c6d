// What every host function shares: the Host it serves, its entry in the call
// log and the fault injected into it. Each service lives in its own file and
// puts its functions into the callback records and suite tables declared
// here and in host_impl.h.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "standalone/host_impl.h"

namespace standalone {

// One logged host call. The log entry is made at construction; finish()
// stores the result. Without a Host nothing is logged.
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

inline std::int64_t as_int(std::int64_t v) { return v; }

inline std::string text_or_null(const char* text) {
    return text != nullptr ? std::string(text) : std::string("(null)");
}

// The failure injected into `target` for this call, or 0; counts one event.
inline PF_Err injected(Host& host, FaultTarget target) {
    return host.faults().empty() ? PF_Err_NONE : host.faults().callback_result(target);
}

inline PF_Err no_check(Host&) { return PF_Err_NONE; }

// The course of a host function that can be made to fail. Without a Host (an
// effect_ref not ours, or no command running) the answer is a bad parameter
// and nothing is logged. Otherwise the call is logged under the target's
// name; `check` looks at the arguments, and its non-zero answer is the
// result; then an injected fault is; else whatever `work` answers.
template <class Check, class Work>
PF_Err serve(Host* host, FaultTarget target, std::vector<LogArg> args, Check&& check, Work&& work) {
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, fault_target_name(target), std::move(args));
    if (PF_Err err = check(*host)) {
        return call.finish(err);
    }
    if (PF_Err err = injected(*host, target)) {
        return call.finish(err);
    }
    return call.finish(work(*host));
}

template <class Work>
PF_Err serve(Host* host, FaultTarget target, std::vector<LogArg> args, Work&& work) {
    return serve(host, target, std::move(args), no_check, std::forward<Work>(work));
}

// A function name as a template argument.
template <std::size_t N>
struct FunctionName {
    char text[N];
    constexpr FunctionName(const char (&name)[N]) { std::copy_n(name, N, text); }  // NOLINT: implicit on purpose
};

// A host function this host does not offer, of whatever signature the table
// slot has: logged, noted as misuse in the ledger (the effect never calls
// one), and answered with PF_Err_INVALID_CALLBACK, so that no slot of a table
// the effect is handed is a null pointer.
template <FunctionName name, class... Args>
PF_Err PF_CALL unsupported(Args...) {
    Host* host = current_host();
    if (host == nullptr) {
        return PF_Err_INVALID_CALLBACK;
    }
    Call call(host, name.text, {});
    host->ledger().error(std::string("call of ") + name.text + ", which this host does not offer");
    return call.finish(PF_Err_INVALID_CALLBACK);
}

// Each service's share of the in-data's callback records.
void fill_handle_callbacks(PF_UtilCallbacks* utils);
void fill_ansi_callbacks(PF_ANSICallbacks* ansi);
void fill_world_callbacks(PF_UtilCallbacks* utils);  // copy and fill
void fill_param_callbacks(PF_InteractCallbacks* inter);
void fill_interaction_callbacks(PF_InteractCallbacks* inter);  // abort and progress
void fill_basic_suite(SPBasicSuite* basic);
// Every slot no service fills: unsupported<>.
void fill_unsupported_callbacks(PF_UtilCallbacks* utils, PF_InteractCallbacks* inter);

}  // namespace standalone
