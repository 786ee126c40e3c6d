// The host's inner records, shared by host.cpp, render.cpp and the services.
// Not for users of the library.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "standalone/host.h"
#include "standalone/mask.h"
#include "standalone/sampling.h"

namespace standalone {

constexpr std::uint32_t kContextMagic = 0x54524C48;  // 'TRLH'
constexpr std::uint32_t kHandleMagic = 0x48414E44;   // 'HAND'
constexpr std::uint32_t kPathMagic = 0x50415448;     // 'PATH'
constexpr std::uint32_t kPrepMagic = 0x50524550;     // 'PREP'

// Fresh handle memory holds this byte, not zeros: the effect must not rely on
// cleared memory.
constexpr int kFreshHandleByte = 0xA5;

// Handle sizes beyond this are refused before any allocation is tried (the
// size must fit size_t, and allocators abort on absurd requests under the
// sanitizers instead of failing).
constexpr bool handle_size_fits(A_u_longlong size) { return size <= static_cast<A_u_longlong>(SIZE_MAX / 2); }

// A parameter-state snapshot as the two 64-bit words of the host's digest,
// and back; the 16 bytes are the host's alone.
using StateWords = std::pair<std::uint64_t, std::uint64_t>;
inline PF_State state_of(const StateWords& words) {
    PF_State state{};
    std::memcpy(&state.reservedAL[0], &words.first, sizeof words.first);
    std::memcpy(&state.reservedAL[2], &words.second, sizeof words.second);
    return state;
}
inline StateWords words_of(const PF_State& state) {
    StateWords words;
    std::memcpy(&words.first, &state.reservedAL[0], sizeof words.first);
    std::memcpy(&words.second, &state.reservedAL[2], sizeof words.second);
    return words;
}

// What effect_ref points at.
struct HostContext {
    std::uint32_t magic = kContextMagic;
    Host* host = nullptr;
};

// A PF_Handle is the address of `data`, the record's first member.
struct HandleRecord {
    void* data = nullptr;
    std::size_t size = 0;
    long locks = 0;
    std::uint32_t magic = kHandleMagic;
};

struct PathOutline {
    std::uint32_t magic = kPathMagic;
    PF_PathID id = 0;
    MaskGeometry geometry;
    explicit PathOutline(PF_PathID path_id, MaskShape shape) : id(path_id), geometry(std::move(shape)) {}
};

struct SegPrep {
    std::uint32_t magic = kPrepMagic;
    const PathOutline* path = nullptr;
    A_long seg = 0;
    A_long frequency = 0;
    SegmentLength length;
};

struct FrameCheckout {
    PF_ParamIndex index = 0;
    std::shared_ptr<World> world;  // null: the layer is empty
};

// The Host whose command runs on this thread (null outside commands).
Host* current_host();

// Sets the current Host for a scope; restores the previous one after.
class CurrentHostScope {
public:
    explicit CurrentHostScope(Host* host);
    ~CurrentHostScope();
    CurrentHostScope(const CurrentHostScope&) = delete;
    CurrentHostScope& operator=(const CurrentHostScope&) = delete;

private:
    Host* previous_;
};

// Host for an effect_ref; null when it is not one of ours.
inline Host* host_of(PF_ProgPtr effect_ref) {
    const auto* context = reinterpret_cast<const HostContext*>(effect_ref);
    if (context == nullptr || context->magic != kContextMagic) {
        return nullptr;
    }
    return context->host;
}

struct Host::Impl {
    explicit Impl(Host& owner);
    ~Impl();

    Host& host;
    HostContext context;
    PF_UtilCallbacks utils{};
    SPBasicSuite basic{};
    PF_InteractCallbacks inter{};
    std::map<std::pair<std::string, A_long>, const void*> suites;

    // Memory the effect holds.
    std::unordered_map<const void*, std::unique_ptr<HandleRecord>> handles;
    // Big handle blocks given back, kept for the next request of the same
    // size (a frame's id map, frame after frame), so that their pages stay
    // mapped instead of being cleared afresh by the kernel.
    std::vector<std::pair<void*, std::size_t>> spare_blocks;
    std::unordered_map<const void*, std::size_t> blocks;
    std::unordered_map<const void*, std::unique_ptr<PathOutline>> paths;
    std::unordered_map<const void*, std::unique_ptr<SegPrep>> preps;
    std::vector<std::shared_ptr<World>> new_worlds;
    // The pre-render data of the open frame and the locks it carried when it
    // was handed over (a fault noted then, not again when it is disposed).
    PF_Handle handed_over = nullptr;
    long handed_over_locks = 0;

    // State snapshots handed out by PF_GetCurrentState: per digest, the
    // parameters' fingerprints at the time.
    std::map<StateWords, std::vector<std::uint64_t>> states;
    long update_param_ui_calls = 0;
    std::vector<std::pair<A_long, A_long>> progress;
    long abort_calls = 0;
    std::function<PF_Err(A_long, A_long)> progress_hook;
    std::function<PF_Err()> abort_hook;
    long handles_allocated = 0;
    AEGP_PluginID plugin_id = 7;
    std::vector<std::string> registered_names;

    // The open frame.
    enum class Phase { none, pre_render, render } phase = Phase::none;
    PF_PreRenderInput pre_input{};
    PF_PreRenderOutput pre_output{};
    PF_PreRenderCallbacks pre_callbacks{};
    PF_PreRenderExtra pre_extra{};
    PF_SmartRenderInput render_input{};
    PF_SmartRenderCallbacks render_callbacks{};
    PF_SmartRenderExtra render_extra{};
    std::map<A_long, FrameCheckout> checkouts;
    std::vector<LayerCheckout> checkout_log;
    std::shared_ptr<World> frame_output;
    // Records handed to the effect by checkout_layer_pixels / checkout_output.
    std::deque<PF_EffectWorld> frame_defs;

    // Area samplers by the world's platform_ref. An entry outlives the call
    // that made it while its world is the same one (serial), unchanged
    // (changes) and of the same geometry; entries no call used are dropped
    // after a call that sampled. The tables are shared_sampler()'s: hosts
    // sampling the same world share them.
    struct CachedSampler {
        std::uint64_t serial = 0;
        std::uint64_t changes = 0;
        PF_EffectWorld geometry{};  // data, rowbytes, width, height as built
        PF_PixelFormat format = PF_PixelFormat_INVALID;
        bool used = false;
        std::shared_ptr<const AreaSampler> sampler;
    };
    std::unordered_map<const void*, CachedSampler> samplers;
    // The last lookup of this call: sampling calls repeat one source record.
    const PF_EffectWorld* last_src = nullptr;
    const void* last_ref = nullptr;
    const AreaSampler* last_sampler = nullptr;
    bool sampled_this_call = false;

    // The parameter array of the last command().
    std::vector<PF_ParamDef> param_values;
    std::vector<PF_ParamDef*> param_pointers;

    // Handles.
    PF_Handle new_handle(A_u_longlong size);
    HandleRecord* find_handle(PF_Handle handle) const;
    void dispose_handle(PF_Handle handle);
    // The locks on a handle the effect hands over (0 for an unknown one);
    // any is noted in the ledger as locked at hand-over.
    long note_handover(PF_Handle handle, const char* what);

    // Every world the host knows now (input, output, frame output, layers,
    // PF_NewWorld worlds).
    std::vector<std::shared_ptr<World>> known_worlds() const;
    // The World behind a record, looked up by platform_ref among known worlds.
    World* find_world(const PF_EffectWorld* def) const;
    // The sampler of the world behind `def` (built on first use, kept while
    // that world is unchanged, shared with other hosts sampling it); null for
    // an unknown world or when not even the shared record can be allocated.
    const AreaSampler* sampler_for(const PF_EffectWorld* def) {
        if (def != nullptr && def == last_src && def->platform_ref == last_ref) {
            return last_sampler;
        }
        return find_sampler(def);
    }
    const AreaSampler* find_sampler(const PF_EffectWorld* def);
    // Around every command: forgets the call's quick lookup; after it, also
    // drops the samplers the call did not use (when it sampled at all) and
    // counts a change of every world the effect may have written.
    void begin_call();
    void end_call();

    // Digest of all declared parameters at the current time, and the
    // fingerprints it was made of.
    StateWords digest(std::vector<std::uint64_t>* fingerprints) const;

    void free_all();
};

// The suite tables and callback records (standalone/services/).
const void* ansi_suite_table();
const void* utility_suite_table();
const void* handle_suite_table();
const void* param_utils_suite_table();
const void* world_suite_table();
const void* mask_suite_table();
const void* path_query_suite_table();
const void* path_data_suite_table();
const void* sampling8_suite_table();
const void* sampling16_suite_table();
const void* sampling_float_suite_table();
void fill_callbacks(PF_UtilCallbacks* utils, PF_InteractCallbacks* inter, SPBasicSuite* basic);
void fill_frame_callbacks(PF_PreRenderCallbacks* pre, PF_SmartRenderCallbacks* render);

}  // namespace standalone
