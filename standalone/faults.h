// Failures the host can be told to produce, to drive the effect's error paths.
//
// Every rule counts the events that match it from the moment it is added,
// starting at 1, and fires for events from_nth .. from_nth + count - 1
// (count -1: from from_nth on, for ever). When several rules match an event
// the first one added that fires decides.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/ae_sdk.h"

namespace standalone {

// The host functions a fault can be injected into.
enum class FaultTarget {
    checkout_param,
    checkin_param,
    add_param,
    abort,
    progress,
    copy,
    fill,
    checkout_layer,
    checkout_layer_pixels,
    checkin_layer_pixels,
    checkout_output,
    checkout_path,
    checkin_path,
    path_is_open,
    path_num_segments,
    path_vertex_info,
    path_prepare_seg_length,
    path_get_seg_length,
    path_eval_seg_length,
    path_eval_seg_length_deriv1,
    path_cleanup_seg_length,
    area_sample,  // the three depths' functions at once
    area_sample8,
    area_sample16,
    area_sample_float,
    get_pixel_format,
    has_param_changed,
    get_current_state,
    update_param_ui,
    register_with_aegp,
    resize_handle,
    new_world,
    release_suite,
};

// The name the call log gives the target's function ("PF_CheckoutPath" for
// checkout_path); "area_sample" for the three depths at once.
std::string_view fault_target_name(FaultTarget target);

class Faults {
public:
    // AcquireSuite refuses (name, version) — exact match.
    void refuse_suite(std::string name, A_long version, long from_nth = 1, long count = -1);
    // host_new_handle (both routes) returns null.
    void fail_allocation(long nth, long count = 1);
    // host_lock_handle (both routes) returns null.
    void fail_lock(long nth, long count = 1);
    // The host function `target` returns `code`.
    void fail_callback(FaultTarget target, PF_Err code, long from_nth = 1, long count = -1);
    // checkout_param of one parameter index returns `code`.
    void fail_checkout_param(PF_ParamIndex index, PF_Err code, long from_nth = 1, long count = -1);
    void clear();
    bool empty() const { return rules_.empty(); }

    // Used by the host at each event; each call counts one event.
    bool suite_refused(std::string_view name, A_long version);
    bool allocation_fails();
    bool lock_fails();
    // 0 when no rule fires.
    PF_Err callback_result(FaultTarget target);
    PF_Err checkout_param_result(PF_ParamIndex index);

private:
    struct Rule {
        enum Kind { Suite, Allocation, Lock, Callback, CheckoutParam } kind;
        std::string name;    // suite
        FaultTarget target;  // callback
        A_long number;  // suite version or parameter index
        PF_Err code;
        long from_nth;
        long count;
        long seen = 0;
    };
    bool fire(Rule& rule);

    std::vector<Rule> rules_;
};

}  // namespace standalone
