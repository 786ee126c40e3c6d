// The standalone host: a stand-in for the application that loads the effect
// module, drives its commands one at a time and provides every host service
// the effect uses (callbacks, suites, handles, parameters, worlds, masks,
// smart render), with ledgers, a call log and fault injection for tests.
//
// Threads: a Host belongs to one thread at a time; several Hosts may run on
// several threads and share one Module. Callbacks that carry effect_ref find
// their Host through it. Those that do not (host_new_handle and the other
// handle functions, the ANSI functions, the SPBasicSuite functions,
// PF_GetPixelFormat, the delete-pre-render-data call) use a thread_local
// pointer to the Host whose command is running on this thread; it is set
// around every entry-point call and cleared after it. Outside a call those
// functions fail (null handle, error code) and do nothing else.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/ae_sdk.h"
#include "standalone/faults.h"
#include "standalone/ledger.h"
#include "standalone/mask.h"
#include "standalone/mask_store.h"
#include "standalone/module.h"
#include "standalone/params.h"
#include "standalone/world.h"

namespace standalone {

// Error code AcquireSuite returns for an unknown or refused suite.
constexpr SPErr kSuiteNotFound = 0x53214664;  // 'S!Fd'
// Error code for other misuse of the basic suite (unbalanced release, ...).
constexpr SPErr kSPBadParameter = 0x5061723F;  // 'Par?'


struct RenderOptions {
    PF_RationalScale downsample_x{1, 1};
    PF_RationalScale downsample_y{1, 1};
    // The output request; default: the input world's whole rectangle, field
    // 0, channel mask 0xF, preserve_rgb_of_zero_alpha false.
    std::optional<PF_RenderRequest> request;
    // What the pre-render output holds before the call (default empty rects).
    PF_LRect preset_result_rect{0, 0, 0, 0};
    PF_LRect preset_max_result_rect{0, 0, 0, 0};
    // Stop after the pre-render; the host keeps the pre-render data until
    // end_frame() (or the next frame).
    bool pre_render_only = false;
};

struct LayerCheckout {
    PF_ParamIndex index;
    A_long checkout_id;
    PF_RenderRequest request;
    A_long what_time;
    A_long time_step;
    A_u_long time_scale;
};

struct RenderResult {
    PF_Err pre_render_err = PF_Err_NONE;
    PF_Err render_err = PF_Err_NONE;
    bool rendered = false;  // the SMART_RENDER call was made
    PF_PreRenderOutput pre_render_output{};
    PF_RenderRequest request_sent{};
    std::vector<LayerCheckout> layer_checkouts;
    bool delete_func_called = false;
    // Guard bytes of every world involved were intact after the frame.
    bool guards_intact = true;
    std::string guard_report;
    // The world rendered into (the host's output, or the one it made).
    std::shared_ptr<World> output;
    // out_data after the last call of the frame.
    A_long out_flags = 0;
    std::string return_msg;

    PF_Err err() const { return pre_render_err != PF_Err_NONE ? pre_render_err : render_err; }
};

class Host {
public:
    explicit Host(std::shared_ptr<Module> module);
    // Frees everything the host still holds (handles, worlds, paths); the
    // effect is not called.
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    const std::shared_ptr<Module>& module() const { return module_; }

    // ---- Raw command driving -------------------------------------------
    // The records handed to the next call. prepare_call() refreshes in_data
    // (callbacks, effect_ref, time, downsampling, basic suite; the kept
    // global/sequence handles stay) and zeroes out_data. Tests may change
    // either between prepare_call() and call().
    PF_InData& in_data() { return in_data_; }
    PF_OutData& out_data() { return out_data_; }
    void prepare_call();
    // Calls the entry point with in_data()/out_data() as they are. Afterwards
    // takes out_data.global_data / sequence_data into in_data when non-null,
    // and forgets kept handles the effect disposed. An exception escaping the
    // entry point is caught, logged as a ledger error and returned as
    // PF_Err_INTERNAL_STRUCT_DAMAGED.
    PF_Err call(PF_Cmd cmd, void* extra, PF_ParamDef** params = nullptr, PF_LayerDef* output = nullptr);

    // ---- Commands as the application sends them -------------------------
    // Each: prepare_call(), then call() with the host's parameter array
    // (index 0 the input layer, then the declared parameters at the current
    // time) and the output world when one is set.
    PF_Err command(PF_Cmd cmd, void* extra = nullptr);
    PF_Err about(std::string* message = nullptr);
    PF_Err global_setup();
    PF_Err params_setup();
    PF_Err sequence_setup();
    PF_Err sequence_resetup();
    PF_Err sequence_setdown();
    PF_Err global_setdown();
    PF_Err update_params_ui();
    PF_Err user_changed_param(PF_ParamIndex index);
    PF_Err completely_general(const char* text, std::string* message = nullptr);
    // global_setup, params_setup, sequence_setup; stops at the first error.
    PF_Err setup_all();

    // ---- Time -----------------------------------------------------------
    void set_time(A_long current_time, A_long time_step, A_u_long time_scale);
    // current_time = frame × time_step.
    void set_frame(A_long frame);
    double current_frame() const;

    // ---- Parameters -----------------------------------------------------
    ParamStore& params() { return params_; }
    const ParamStore& params() const { return params_; }
    // Same as the effect's add_param (-1 appends), without the effect.
    PF_Err declare_param(PF_ParamIndex index, const PF_ParamDef& def);
    // Raw values: integer, PF_Fixed, popup choice, checkbox 0/1, path id.
    void set_param(PF_ParamIndex index, A_long value);
    void set_param_percent(PF_ParamIndex index, double percent);
    void set_param_keyframes(PF_ParamIndex index, std::vector<Keyframe> keys);
    void set_layer_param(PF_ParamIndex index, std::shared_ptr<World> world);
    void set_layer_keyframes(PF_ParamIndex index, std::vector<LayerKeyframe> keys);
    void set_path_param(PF_ParamIndex index, PF_PathID id);
    // The parameter as a checkout at the current time would give it
    // (nothing ledgered or logged).
    PF_Err param_value(PF_ParamIndex index, PF_ParamDef* def) const;
    // The 16-byte digest PF_GetCurrentState gives now.
    PF_State current_state() const;

    // ---- Masks ----------------------------------------------------------
    MaskStore& masks() { return masks_; }
    PF_PathID add_mask(const MaskShape& shape) { return masks_.add(shape); }
    PF_PathID add_mask_keyframes(std::vector<MaskKeyframe> keys) { return masks_.add_keyframes(std::move(keys)); }

    // ---- Worlds ---------------------------------------------------------
    void set_input(std::shared_ptr<World> world);
    // Without an output the host makes one per frame like the input
    // (same size, format and padding, all pixels zero).
    void set_output(std::shared_ptr<World> world);
    const std::shared_ptr<World>& input() const { return input_; }
    const std::shared_ptr<World>& output() const { return output_; }

    // ---- Smart render ---------------------------------------------------
    // Pre-render, then (unless pre_render_only or the pre-render failed)
    // render, then the delete-pre-render-data call, then the guard check.
    RenderResult render_frame(const RenderOptions& options = {});
    // The pieces, for tests that go step by step. pre_render() ends any
    // frame still open first.
    PF_Err pre_render(const RenderOptions& options, RenderResult* result);
    PF_Err smart_render(RenderResult* result);
    // Calls delete_pre_render_data_func if registered, forgets the frame's
    // check-outs (samplers stay while their world is unchanged), checks guards into `result` when given.
    void end_frame(RenderResult* result = nullptr);
    bool frame_open() const { return frame_open_; }
    // The host's frame callbacks, for tests that build their own extra
    // records and use call(). checkout_layer answers only during a
    // SMART_PRE_RENDER call, the others only during a SMART_RENDER call;
    // checkout_layer_pixels serves the ids checked out since the last
    // pre_render() (raw calls: since the last end_frame()).
    PF_PreRenderCallbacks* pre_render_callbacks();
    PF_SmartRenderCallbacks* smart_render_callbacks();
    // Progress reports of the last frames: (current, total), in order.
    const std::vector<std::pair<A_long, A_long>>& progress_calls() const;
    long abort_calls() const;
    void clear_progress();
    // What the progress and abort callbacks answer when no fault is
    // injected: a watcher's verdict (PF_Interrupt_CANCEL stops the frame).
    // Called on the rendering thread; empty functions answer 0.
    void set_progress_hook(std::function<PF_Err(A_long current, A_long total)> hook);
    void set_abort_hook(std::function<PF_Err()> hook);

    // ---- Memory handles -------------------------------------------------
    // host_new_handle fills new memory with 0xA5 bytes, not zeros.
    std::size_t live_handles() const;
    long handles_allocated() const;  // ever
    bool handle_alive(PF_Handle handle) const;
    // 0 for an unknown handle.
    std::size_t handle_size(PF_Handle handle) const;
    long handle_lock_count(PF_Handle handle) const;
    // Raw memory of a live handle (unlocked access, for tests); null if unknown.
    void* handle_data(PF_Handle handle) const;

    // ---- Suites ---------------------------------------------------------
    // Adds or replaces a suite under an exact (name, version).
    void register_suite(std::string name, A_long version, const void* suite);
    void unregister_suite(const std::string& name, A_long version);
    bool has_suite(const std::string& name, A_long version) const;

    // ---- Other host answers ---------------------------------------------
    // What AEGP_RegisterWithAEGP hands out (default 7).
    void set_plugin_id(AEGP_PluginID id);
    // Names given to AEGP_RegisterWithAEGP, in order.
    const std::vector<std::string>& registered_names() const;
    long update_param_ui_calls() const;

    // ---- Ledgers, log, faults -------------------------------------------
    Faults& faults() { return faults_; }
    CallLog& log() { return log_; }
    const CallLog& log() const { return log_; }
    Ledger& ledger() { return ledger_; }
    const Ledger& ledger() const { return ledger_; }
    // True when no suite is held, no handle lives except the kept global
    // data, sequence data and an open frame's pre-render data, no parameter
    // or path check-out, seg-length preparation, block or world is
    // outstanding, and the ledger recorded no misuse. Otherwise `why` (when
    // given) says what.
    bool balanced(std::string* why = nullptr) const;
    // Result of the guard check after the last frame (true before any).
    bool last_guards_intact() const { return last_guards_intact_; }
    // Checks every world the host knows now.
    bool guards_intact(std::string* report = nullptr) const;

    // Implementation, shared with the host's suite functions.
    struct Impl;
    Impl& impl() { return *impl_; }
    const Impl& impl() const { return *impl_; }

private:
    friend struct Impl;
    PF_ParamDef** build_param_array();
    void take_back_handles();
    // The effect's return_msg, up to its first NUL.
    std::string return_message() const;
    // What every frame call reports after it: output, flags, message, guards.
    void note_outcome(RenderResult* result);

    std::shared_ptr<Module> module_;
    std::unique_ptr<Impl> impl_;
    PF_InData in_data_{};
    PF_OutData out_data_{};
    A_long current_time_ = 0;
    A_long time_step_ = 1;
    A_u_long time_scale_ = 24;
    PF_RationalScale downsample_x_{1, 1};
    PF_RationalScale downsample_y_{1, 1};

    ParamStore params_;
    MaskStore masks_;
    std::shared_ptr<World> input_;
    std::shared_ptr<World> output_;

    bool frame_open_ = false;
    bool last_guards_intact_ = true;

    Faults faults_;
    CallLog log_;
    Ledger ledger_;
};

}  // namespace standalone
