#include "standalone/faults.h"

#include <utility>

namespace standalone {

void Faults::refuse_suite(std::string name, A_long version, long from_nth, long count) {
    rules_.push_back(Rule{Rule::Suite, std::move(name), version, 0, from_nth, count});
}

void Faults::fail_allocation(long nth, long count) {
    rules_.push_back(Rule{Rule::Allocation, {}, 0, 0, nth, count});
}

void Faults::fail_lock(long nth, long count) { rules_.push_back(Rule{Rule::Lock, {}, 0, 0, nth, count}); }

void Faults::fail_callback(std::string name, PF_Err code, long from_nth, long count) {
    rules_.push_back(Rule{Rule::Callback, std::move(name), 0, code, from_nth, count});
}

void Faults::fail_checkout_param(PF_ParamIndex index, PF_Err code, long from_nth, long count) {
    rules_.push_back(Rule{Rule::CheckoutParam, {}, index, code, from_nth, count});
}

void Faults::clear() { rules_.clear(); }

bool Faults::fire(Rule& rule) {
    ++rule.seen;
    if (rule.seen < rule.from_nth) {
        return false;
    }
    return rule.count < 0 || rule.seen < rule.from_nth + rule.count;
}

bool Faults::suite_refused(std::string_view name, A_long version) {
    bool refused = false;
    for (Rule& rule : rules_) {
        if (rule.kind == Rule::Suite && rule.name == name && rule.number == version) {
            // Every matching rule counts the event, even after one has fired.
            refused = fire(rule) || refused;
        }
    }
    return refused;
}

bool Faults::allocation_fails() {
    bool fails = false;
    for (Rule& rule : rules_) {
        if (rule.kind == Rule::Allocation) {
            fails = fire(rule) || fails;
        }
    }
    return fails;
}

bool Faults::lock_fails() {
    bool fails = false;
    for (Rule& rule : rules_) {
        if (rule.kind == Rule::Lock) {
            fails = fire(rule) || fails;
        }
    }
    return fails;
}

PF_Err Faults::callback_result(std::string_view name) {
    PF_Err result = PF_Err_NONE;
    for (Rule& rule : rules_) {
        if (rule.kind != Rule::Callback) {
            continue;
        }
        // "area_sample" covers the three depths' functions.
        const bool matches = rule.name == name || (rule.name == "area_sample" && name.substr(0, 11) == "area_sample");
        if (matches && fire(rule) && result == PF_Err_NONE) {
            result = rule.code;
        }
    }
    return result;
}

PF_Err Faults::checkout_param_result(PF_ParamIndex index) {
    PF_Err result = PF_Err_NONE;
    for (Rule& rule : rules_) {
        if (rule.kind == Rule::CheckoutParam && rule.number == index && fire(rule) && result == PF_Err_NONE) {
            result = rule.code;
        }
    }
    return result;
}

}  // namespace standalone
