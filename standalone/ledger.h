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

// Argument positions of a logged area_sample8 / area_sample16 /
// area_sample_float call: the point, then the whole sampling block. `src` is
// the block's world pointer as an integer; mask0, fcm_table and
// fcd_table are 1 when not null, reserved is 1 when any reserved word is
// not zero. A call without a block logs only x and y.
namespace sample_arg {
enum : std::size_t {
    x,
    y,
    x_radius,
    y_radius,
    area,
    src,
    samp_behave,
    allow_asynch,
    motion_blur,
    comp_mode,
    mask0,
    fcm_table,
    fcd_table,
    reserved,
    count
};
}  // namespace sample_arg

// The ANSI "floor" and "ceil" (through the utility callbacks or the ANSI
// suite) log (argument, result) as reals, with a result code of 0.

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
    // Entries stop being stored once they take about this many bytes (their
    // records, arguments and texts), whatever the entry limit: a long render
    // with the log on keeps its memory bounded. Later calls are only counted.
    void set_memory_limit(std::size_t bytes) { memory_limit_ = bytes; }
    std::size_t memory_used() const { return memory_used_; }
    // True when the next call would only be counted, so a caller can skip
    // building its arguments.
    bool full() const { return calls_.size() >= limit_ || memory_used_ >= memory_limit_; }
    bool truncated() const { return truncated_; }

private:
    std::vector<LoggedCall> calls_;
    std::map<std::string, std::size_t, std::less<>> counts_;
    bool enabled_ = true;
    bool truncated_ = false;
    std::size_t limit_ = 2'000'000;
    std::size_t memory_limit_ = std::size_t{256} << 20;
    std::size_t memory_used_ = 0;
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

    // Handles the effect handed over to the host still locked (pre-render
    // data, global data at set-down). Kept apart from errors(): balanced()
    // does not count them.
    void locked_at_handover(std::string text);
    const std::vector<std::string>& locked_handovers() const { return locked_handovers_; }

    void clear();

private:
    std::map<SuiteKey, long, std::less<>> acquired_;
    std::map<SuiteKey, long, std::less<>> released_;
    std::map<PF_ParamIndex, long> params_out_;
    std::map<PF_ParamIndex, long> params_total_;
    std::vector<std::string> errors_;
    std::vector<std::string> locked_handovers_;
};

}  // namespace standalone
