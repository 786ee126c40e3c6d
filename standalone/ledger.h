// What the effect took from the host and gave back (suites, parameter and
// path check-outs, seg-length preparations, blocks) and the log of every host
// function called.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "host/ae_sdk.h"

namespace standalone {

using LogArg = std::variant<std::int64_t, double, std::string>;

struct LoggedCall {
    std::string function;
    std::vector<LogArg> args;  // in the function's argument order
    std::int64_t result = 0;   // PF_Err, or 1/0 for pointer-returning functions

    // Throw std::out_of_range / std::bad_variant_access on a wrong index or kind.
    std::int64_t int_arg(std::size_t i) const;
    double real_arg(std::size_t i) const;
    const std::string& str_arg(std::size_t i) const;
    std::string describe() const;  // "name(1, \"text\", 2.5) -> 0"
};

class CallLog {
public:
    // Appends a call and returns its position (for set_result), or -1 when
    // logging is off or the log is full.
    long record(std::string_view function, std::vector<LogArg> args);
    void set_result(long position, std::int64_t result);

    const std::vector<LoggedCall>& all() const { return calls_; }
    std::vector<LoggedCall> calls(std::string_view function) const;
    // Calls of `function`, counted even beyond the storage limit.
    std::size_t count(std::string_view function) const;
    void clear();

    // Off: nothing is recorded or counted (the CLI renders with it off).
    void set_enabled(bool enabled) { enabled_ = enabled; }
    bool enabled() const { return enabled_; }
    // At most this many entries are stored; later calls are only counted.
    void set_limit(std::size_t limit) { limit_ = limit; }
    bool truncated() const { return truncated_; }

private:
    std::vector<LoggedCall> calls_;
    std::map<std::string, std::size_t, std::less<>> counts_;
    bool enabled_ = true;
    bool truncated_ = false;
    std::size_t limit_ = 2'000'000;
};

class Ledger {
public:
    using SuiteKey = std::pair<std::string, A_long>;

    void suite_acquired(std::string_view name, A_long version);
    // False (and an error recorded) when more releases than acquisitions.
    bool suite_released(std::string_view name, A_long version);
    long acquisitions(std::string_view name, A_long version) const;
    long releases(std::string_view name, A_long version) const;
    // Pairs acquired more often than released, with the difference.
    std::map<SuiteKey, long> suites_held() const;

    void param_checked_out(PF_ParamIndex index);
    // False (and an error recorded) when nothing of that index is out.
    bool param_checked_in(PF_ParamIndex index);
    // Outstanding check-outs per parameter index.
    std::map<PF_ParamIndex, long> params_out() const;
    long param_checkouts(PF_ParamIndex index) const;  // total ever

    // Misuse found by the host: releasing what was never acquired, disposing
    // an unknown handle, checking in what is not out, and so on.
    void error(std::string text);
    const std::vector<std::string>& errors() const { return errors_; }

    void clear();

private:
    std::map<SuiteKey, long, std::less<>> acquired_;
    std::map<SuiteKey, long, std::less<>> released_;
    std::map<PF_ParamIndex, long> params_out_;
    std::map<PF_ParamIndex, long> params_total_;
    std::vector<std::string> errors_;
};

}  // namespace standalone
