#include "standalone/faults.h"

#include <iterator>
#include <utility>

namespace standalone {

namespace {

// In the order of FaultTarget.
constexpr std::string_view kTargetNames[] = {
    "checkout_param",
    "checkin_param",
    "add_param",
    "abort",
    "progress",
    "copy",
    "fill",
    "checkout_layer",
    "checkout_layer_pixels",
    "checkin_layer_pixels",
    "checkout_output",
    "PF_CheckoutPath",
    "PF_CheckinPath",
    "PF_PathIsOpen",
    "PF_PathNumSegments",
    "PF_PathVertexInfo",
    "PF_PathPrepareSegLength",
    "PF_PathGetSegLength",
    "PF_PathEvalSegLength",
    "PF_PathEvalSegLengthDeriv1",
    "PF_PathCleanupSegLength",
    "area_sample",
    "area_sample8",
    "area_sample16",
    "area_sample_float",
    "PF_GetPixelFormat",
    "PF_HasParamChanged",
    "PF_GetCurrentState",
    "PF_UpdateParamUI",
    "AEGP_RegisterWithAEGP",
    "host_resize_handle",
    "PF_NewWorld",
    "ReleaseSuite",
};
static_assert(std::size(kTargetNames) == static_cast<std::size_t>(FaultTarget::release_suite) + 1);

}  // namespace

std::string_view fault_target_name(FaultTarget target) { return kTargetNames[static_cast<std::size_t>(target)]; }

void Faults::refuse_suite(std::string name, A_long version, long from_nth, long count) {
    rules_.push_back(Rule{Rule::Suite, std::move(name), {}, version, 0, from_nth, count});
}

void Faults::fail_allocation(long nth, long count) {
    rules_.push_back(Rule{Rule::Allocation, {}, {}, 0, 0, nth, count});
}

void Faults::fail_lock(long nth, long count) { rules_.push_back(Rule{Rule::Lock, {}, {}, 0, 0, nth, count}); }

void Faults::fail_callback(FaultTarget target, PF_Err code, long from_nth, long count) {
    rules_.push_back(Rule{Rule::Callback, {}, target, 0, code, from_nth, count});
}

void Faults::fail_checkout_param(PF_ParamIndex index, PF_Err code, long from_nth, long count) {
    rules_.push_back(Rule{Rule::CheckoutParam, {}, {}, index, code, from_nth, count});
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

PF_Err Faults::callback_result(FaultTarget target) {
    const bool sampling = target == FaultTarget::area_sample8 || target == FaultTarget::area_sample16 ||
                          target == FaultTarget::area_sample_float;
    PF_Err result = PF_Err_NONE;
    for (Rule& rule : rules_) {
        if (rule.kind != Rule::Callback) {
            continue;
        }
        const bool matches = rule.target == target || (rule.target == FaultTarget::area_sample && sampling);
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
