#include "standalone/ledger.h"

#include <cinttypes>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace standalone {

std::int64_t LoggedCall::int_arg(std::size_t i) const { return std::get<std::int64_t>(args.at(i)); }
double LoggedCall::real_arg(std::size_t i) const { return std::get<double>(args.at(i)); }
const std::string& LoggedCall::str_arg(std::size_t i) const { return std::get<std::string>(args.at(i)); }

std::string LoggedCall::describe() const {
    std::string text = function + "(";
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0) {
            text += ", ";
        }
        if (const auto* n = std::get_if<std::int64_t>(&args[i])) {
            text += std::to_string(*n);
        } else if (const auto* d = std::get_if<double>(&args[i])) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%.17g", *d);
            text += buffer;
        } else {
            text += "\"" + std::get<std::string>(args[i]) + "\"";
        }
    }
    return text + ") -> " + std::to_string(result);
}

long CallLog::record(std::string_view function, std::vector<LogArg> args) {
    if (!enabled_) {
        return -1;
    }
    auto it = counts_.find(function);
    if (it == counts_.end()) {
        counts_.emplace(std::string(function), 1);
    } else {
        ++it->second;
    }
    if (full()) {
        truncated_ = true;
        return -1;
    }
    std::size_t bytes = sizeof(LoggedCall) + args.capacity() * sizeof(LogArg) + function.size();
    for (const LogArg& arg : args) {
        if (const auto* text = std::get_if<std::string>(&arg)) {
            bytes += text->size();
        }
    }
    memory_used_ += bytes;
    calls_.push_back(LoggedCall{std::string(function), std::move(args), 0});
    return static_cast<long>(calls_.size() - 1);
}

void CallLog::set_result(long position, std::int64_t result) {
    if (position >= 0 && static_cast<std::size_t>(position) < calls_.size()) {
        calls_[static_cast<std::size_t>(position)].result = result;
    }
}

std::vector<LoggedCall> CallLog::calls(std::string_view function) const {
    std::vector<LoggedCall> found;
    for (const LoggedCall& call : calls_) {
        if (call.function == function) {
            found.push_back(call);
        }
    }
    return found;
}

std::size_t CallLog::count(std::string_view function) const {
    auto it = counts_.find(function);
    return it == counts_.end() ? 0 : it->second;
}

void CallLog::clear() {
    calls_.clear();
    counts_.clear();
    truncated_ = false;
    memory_used_ = 0;
}

void Ledger::suite_acquired(std::string_view name, A_long version) { ++acquired_[SuiteKey(name, version)]; }

bool Ledger::suite_released(std::string_view name, A_long version) {
    const SuiteKey key(name, version);
    auto it = acquired_.find(key);
    const long held = (it == acquired_.end() ? 0 : it->second) - releases(name, version);
    if (held <= 0) {
        error("ReleaseSuite(\"" + key.first + "\", " + std::to_string(version) + ") without a matching AcquireSuite");
        return false;
    }
    ++released_[key];
    return true;
}

long Ledger::acquisitions(std::string_view name, A_long version) const {
    auto it = acquired_.find(SuiteKey(name, version));
    return it == acquired_.end() ? 0 : it->second;
}

long Ledger::releases(std::string_view name, A_long version) const {
    auto it = released_.find(SuiteKey(name, version));
    return it == released_.end() ? 0 : it->second;
}

std::map<Ledger::SuiteKey, long> Ledger::suites_held() const {
    std::map<SuiteKey, long> held;
    for (const auto& [key, count] : acquired_) {
        auto it = released_.find(key);
        const long out = count - (it == released_.end() ? 0 : it->second);
        if (out > 0) {
            held[key] = out;
        }
    }
    return held;
}

void Ledger::param_checked_out(PF_ParamIndex index) {
    ++params_out_[index];
    ++params_total_[index];
}

bool Ledger::param_checked_in(PF_ParamIndex index) {
    auto it = params_out_.find(index);
    if (it == params_out_.end() || it->second <= 0) {
        error("checkin_param of parameter " + std::to_string(index) + " that is not checked out");
        return false;
    }
    if (--it->second == 0) {
        params_out_.erase(it);
    }
    return true;
}

std::map<PF_ParamIndex, long> Ledger::params_out() const { return params_out_; }

long Ledger::param_checkouts(PF_ParamIndex index) const {
    auto it = params_total_.find(index);
    return it == params_total_.end() ? 0 : it->second;
}

void Ledger::error(std::string text) { errors_.push_back(std::move(text)); }

void Ledger::locked_at_handover(std::string text) { locked_handovers_.push_back(std::move(text)); }

void Ledger::clear() {
    acquired_.clear();
    released_.clear();
    params_out_.clear();
    params_total_.clear();
    errors_.clear();
    locked_handovers_.clear();
}

}  // namespace standalone
