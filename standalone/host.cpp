#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "standalone/host_impl.h"

namespace standalone {

namespace {

std::uint64_t splitmix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// Disposed handle blocks of at least this size are kept for reuse, at most
// kMaxSpareBlocks of them. Not under AddressSanitizer: it must see a disposed
// handle's memory freed.
constexpr std::size_t kSpareBlockBytes = std::size_t{1} << 20;
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kMaxSpareBlocks = 0;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr std::size_t kMaxSpareBlocks = 0;
#else
constexpr std::size_t kMaxSpareBlocks = 2;
#endif
#else
constexpr std::size_t kMaxSpareBlocks = 2;
#endif

}  // namespace

// ---------------------------------------------------------------------------
// Impl
// ---------------------------------------------------------------------------
Host::Impl::Impl(Host& owner) : host(owner) {
    context.host = &owner;
    fill_callbacks(&utils, &inter, &basic);
    fill_frame_callbacks(&pre_callbacks, &render_callbacks);
    suites[{kPFANSISuite, kPFANSISuiteVersion1}] = ansi_suite_table();
    suites[{kAEGPUtilitySuite, kAEGPUtilitySuiteVersion3}] = utility_suite_table();
    suites[{kPFHandleSuite, kPFHandleSuiteVersion1}] = handle_suite_table();
    suites[{kPFParamUtilsSuite, kPFParamUtilsSuiteVersion1}] = param_utils_suite_table();
    suites[{kPFWorldSuite, kPFWorldSuiteVersion2}] = world_suite_table();
    suites[{kPF_MaskSuite, kPF_MaskSuiteVersion1}] = mask_suite_table();
    suites[{kPFPathQuerySuite, kPFPathQuerySuiteVersion1}] = path_query_suite_table();
    suites[{kPFPathDataSuite, kPFPathDataSuiteVersion1}] = path_data_suite_table();
    suites[{kPFSampling8Suite, kPFSampling8SuiteVersion1}] = sampling8_suite_table();
    suites[{kPFSampling16Suite, kPFSampling16SuiteVersion1}] = sampling16_suite_table();
    suites[{kPFSamplingFloatSuite, kPFSamplingFloatSuiteVersion1}] = sampling_float_suite_table();
}

Host::Impl::~Impl() { free_all(); }

PF_Handle Host::Impl::new_handle(A_u_longlong size) {
    if (!handle_size_fits(size)) {
        return nullptr;
    }
    const std::size_t bytes = static_cast<std::size_t>(size);
    void* data = nullptr;
    const auto spare = std::find_if(spare_blocks.begin(), spare_blocks.end(),
                                    [bytes](const std::pair<void*, std::size_t>& b) { return b.second == bytes; });
    if (spare != spare_blocks.end()) {
        data = spare->first;
        spare_blocks.erase(spare);
    } else {
        data = allocate_memory(bytes);
    }
    if (data == nullptr) {
        return nullptr;
    }
    std::memset(data, kFreshHandleByte, bytes > 0 ? bytes : 1);
    auto record = std::make_unique<HandleRecord>();
    record->data = data;
    record->size = bytes;
    PF_Handle handle = &record->data;
    handles[handle] = std::move(record);
    ++handles_allocated;
    return handle;
}

HandleRecord* Host::Impl::find_handle(PF_Handle handle) const {
    if (handle == nullptr) {
        return nullptr;
    }
    auto it = handles.find(handle);
    return it == handles.end() ? nullptr : it->second.get();
}

void Host::Impl::dispose_handle(PF_Handle handle) {
    auto it = handles.find(handle);
    if (it == handles.end()) {
        return;
    }
    HandleRecord& record = *it->second;
    if (record.size >= kSpareBlockBytes && kMaxSpareBlocks > 0) {
        if (spare_blocks.size() == kMaxSpareBlocks) {
            std::free(spare_blocks.front().first);
            spare_blocks.erase(spare_blocks.begin());
        }
        spare_blocks.emplace_back(record.data, record.size);
    } else {
        std::free(record.data);
    }
    handles.erase(it);
}

long Host::Impl::note_handover(PF_Handle handle, const char* what) {
    const HandleRecord* record = find_handle(handle);
    if (record == nullptr || record->locks == 0) {
        return 0;
    }
    host.ledger().locked_at_handover(std::string(what) + " locked " + std::to_string(record->locks) +
                                     " time(s) at hand-over");
    return record->locks;
}

std::vector<std::shared_ptr<World>> Host::Impl::known_worlds() const {
    std::vector<std::shared_ptr<World>> worlds;
    auto add = [&worlds](const std::shared_ptr<World>& world) {
        if (world != nullptr && std::find(worlds.begin(), worlds.end(), world) == worlds.end()) {
            worlds.push_back(world);
        }
    };
    add(host.input_);
    add(host.output_);
    add(frame_output);
    for (const auto& world : host.params_.all_layer_worlds()) {
        add(world);
    }
    for (const auto& world : new_worlds) {
        add(world);
    }
    return worlds;
}

World* Host::Impl::find_world(const PF_EffectWorld* def) const {
    if (def == nullptr || def->platform_ref == nullptr) {
        return nullptr;
    }
    for (const auto& world : known_worlds()) {
        if (world.get() == def->platform_ref) {
            return world.get();
        }
    }
    return nullptr;
}

const AreaSampler* Host::Impl::find_sampler(const PF_EffectWorld* def) {
    const World* world = find_world(def);
    if (world == nullptr) {
        return nullptr;
    }
    const PF_EffectWorld& now = *world->def();
    CachedSampler& entry = samplers[def->platform_ref];
    const bool same = entry.sampler != nullptr && entry.serial == world->serial() &&
                      entry.changes == world->changes() && entry.format == world->format() &&
                      entry.geometry.data == now.data && entry.geometry.rowbytes == now.rowbytes &&
                      entry.geometry.width == now.width && entry.geometry.height == now.height;
    if (!same) {
        // The old tables go first: both at once could be twice the memory.
        entry.sampler.reset();
        entry.sampler = shared_sampler(*world);
        if (entry.sampler == nullptr) {
            samplers.erase(def->platform_ref);
            return nullptr;
        }
        entry.serial = world->serial();
        entry.changes = world->changes();
        entry.format = world->format();
        entry.geometry = now;
    }
    entry.used = true;
    sampled_this_call = true;
    last_src = def;
    last_ref = def->platform_ref;
    last_sampler = entry.sampler.get();
    return last_sampler;
}

void Host::Impl::begin_call() {
    last_src = nullptr;
    last_ref = nullptr;
    last_sampler = nullptr;
}

void Host::Impl::end_call() {
    begin_call();
    if (sampled_this_call) {
        for (auto it = samplers.begin(); it != samplers.end();) {
            it = it->second.used ? std::next(it) : samplers.erase(it);
        }
        for (auto& [ref, entry] : samplers) {
            entry.used = false;
        }
        sampled_this_call = false;
    }
    // The effect writes these through its own pointers, unseen by World.
    for (const std::shared_ptr<World>* world : {&host.output_, &frame_output}) {
        if (*world != nullptr) {
            (*world)->mark_changed();
        }
    }
    for (const auto& world : new_worlds) {
        world->mark_changed();
    }
}

StateWords Host::Impl::digest(std::vector<std::uint64_t>* fingerprints) const {
    std::uint64_t a = 0x6a09e667f3bcc908ULL;
    std::uint64_t b = 0xbb67ae8584caa73bULL;
    const double frame = host.current_frame();
    for (PF_ParamIndex index = 1; index <= host.params_.count(); ++index) {
        const std::uint64_t fp = host.params_.value_fingerprint(index, frame, host.input_);
        if (fingerprints != nullptr) {
            fingerprints->push_back(fp);
        }
        a = splitmix(a ^ fp);
        b = splitmix(b + fp * 0x9e3779b97f4a7c15ULL + static_cast<std::uint64_t>(index));
    }
    return {a, b};
}

void Host::Impl::free_all() {
    for (auto& [key, record] : handles) {
        std::free(record->data);
    }
    handles.clear();
    for (auto& [block, size] : spare_blocks) {
        std::free(block);
    }
    spare_blocks.clear();
    for (auto& [block, size] : blocks) {
        std::free(const_cast<void*>(block));
    }
    blocks.clear();
    preps.clear();
    paths.clear();
    new_worlds.clear();
    samplers.clear();
}

// ---------------------------------------------------------------------------
// Host
// ---------------------------------------------------------------------------
Host::Host(std::shared_ptr<Module> module) : module_(std::move(module)), impl_(std::make_unique<Impl>(*this)) {
    prepare_call();
}

Host::~Host() = default;

// Every member, as the application fills it for an effect on a layer of the
// input's size: full frame, no field rendering, no motion blur, no audio.
void Host::prepare_call() {
    in_data_.inter = impl_->inter;
    in_data_.utils = &impl_->utils;
    in_data_.effect_ref = reinterpret_cast<PF_ProgPtr>(&impl_->context);
    in_data_.quality = PF_Quality_HI;
    in_data_.version = PF_SpecVersion{PF_PLUG_IN_VERSION, PF_PLUG_IN_SUBVERS};
    in_data_.serial_num = 0;
    in_data_.appl_id = 0x46585443;  // 'FXTC'
    in_data_.num_params = 1 + params_.count();
    in_data_.reserved = 0;
    in_data_.what_cpu = 0;
    in_data_.what_fpu = 0;
    in_data_.current_time = current_time_;
    in_data_.time_step = time_step_;
    in_data_.total_time = time_step_ > 0 ? time_step_ * 240 : 240;
    in_data_.local_time_step = time_step_;
    in_data_.time_scale = time_scale_;
    in_data_.field = PF_Field_FRAME;
    in_data_.shutter_angle = 0;
    in_data_.width = input_ != nullptr ? input_->width() : 0;
    in_data_.height = input_ != nullptr ? input_->height() : 0;
    in_data_.extent_hint = PF_Rect{0, 0, in_data_.width, in_data_.height};
    in_data_.output_origin_x = 0;
    in_data_.output_origin_y = 0;
    in_data_.downsample_x = downsample_x_;
    in_data_.downsample_y = downsample_y_;
    in_data_.pixel_aspect_ratio = PF_RationalScale{1, 1};
    in_data_.in_flags = PF_InFlag_NONE;
    in_data_.frame_data = nullptr;
    in_data_.start_sampL = 0;
    in_data_.dur_sampL = 0;
    in_data_.total_sampL = 0;
    in_data_.src_snd = PF_SoundWorld{};
    in_data_.pica_basicP = &impl_->basic;
    in_data_.pre_effect_source_origin_x = 0;
    in_data_.pre_effect_source_origin_y = 0;
    in_data_.shutter_phase = 0;
    out_data_ = PF_OutData{};
}

void Host::take_back_handles() {
    if (out_data_.global_data != nullptr) {
        in_data_.global_data = out_data_.global_data;
    }
    if (out_data_.sequence_data != nullptr) {
        in_data_.sequence_data = out_data_.sequence_data;
    }
    // A kept handle the effect disposed is gone for the application too.
    if (impl_->find_handle(in_data_.global_data) == nullptr) {
        in_data_.global_data = nullptr;
    }
    if (impl_->find_handle(in_data_.sequence_data) == nullptr) {
        in_data_.sequence_data = nullptr;
    }
}

PF_Err Host::call(PF_Cmd cmd, void* extra, PF_ParamDef** params, PF_LayerDef* output) {
    CurrentHostScope scope(this);
    impl_->begin_call();
    // The frame callbacks answer only during their own command.
    impl_->phase = cmd == PF_Cmd_SMART_PRE_RENDER ? Impl::Phase::pre_render
                   : cmd == PF_Cmd_SMART_RENDER   ? Impl::Phase::render
                                                  : Impl::Phase::none;
    const long position = log_.record("EntryPointFunc", {static_cast<std::int64_t>(cmd)});
    PF_Err err = PF_Err_NONE;
    try {
        err = module_->entry()(cmd, &in_data_, &out_data_, params, output, extra);
    } catch (...) {
        ledger_.error("an exception escaped EntryPointFunc for command " + std::to_string(cmd));
        err = PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    impl_->phase = Impl::Phase::none;
    log_.set_result(position, err);
    take_back_handles();
    if (cmd == PF_Cmd_SEQUENCE_SETDOWN) {
        // The instance is gone; whatever the effect left undisposed is a leak.
        in_data_.sequence_data = nullptr;
    } else if (cmd == PF_Cmd_GLOBAL_SETDOWN && in_data_.global_data != nullptr) {
        // The application frees the global block when it unloads the effect.
        impl_->note_handover(in_data_.global_data, "global data");
        impl_->dispose_handle(in_data_.global_data);
        in_data_.global_data = nullptr;
    }
    impl_->end_call();
    return err;
}

PF_ParamDef** Host::build_param_array() {
    const A_long count = params_.count();
    impl_->param_values.assign(static_cast<std::size_t>(count) + 1, PF_ParamDef{});
    impl_->param_pointers.assign(static_cast<std::size_t>(count) + 1, nullptr);
    for (PF_ParamIndex index = 0; index <= count; ++index) {
        param_value(index, &impl_->param_values[static_cast<std::size_t>(index)]);
        impl_->param_pointers[static_cast<std::size_t>(index)] = &impl_->param_values[static_cast<std::size_t>(index)];
    }
    return impl_->param_pointers.data();
}

PF_Err Host::command(PF_Cmd cmd, void* extra) {
    prepare_call();
    PF_ParamDef** params = build_param_array();
    return call(cmd, extra, params, output_ != nullptr ? output_->def() : nullptr);
}

std::string Host::return_message() const {
    const char* end = std::find(out_data_.return_msg, out_data_.return_msg + sizeof out_data_.return_msg, '\0');
    return std::string(out_data_.return_msg, end);
}

PF_Err Host::about(std::string* message) {
    const PF_Err err = command(PF_Cmd_ABOUT);
    if (message != nullptr) {
        *message = return_message();
    }
    return err;
}

PF_Err Host::global_setup() { return command(PF_Cmd_GLOBAL_SETUP); }
PF_Err Host::params_setup() { return command(PF_Cmd_PARAMS_SETUP); }
PF_Err Host::sequence_setup() { return command(PF_Cmd_SEQUENCE_SETUP); }
PF_Err Host::sequence_resetup() { return command(PF_Cmd_SEQUENCE_RESETUP); }
PF_Err Host::sequence_setdown() { return command(PF_Cmd_SEQUENCE_SETDOWN); }
PF_Err Host::global_setdown() { return command(PF_Cmd_GLOBAL_SETDOWN); }
PF_Err Host::update_params_ui() { return command(PF_Cmd_UPDATE_PARAMS_UI); }

PF_Err Host::user_changed_param(PF_ParamIndex index) {
    PF_UserChangedParamExtra extra{index};
    return command(PF_Cmd_USER_CHANGED_PARAM, &extra);
}

PF_Err Host::completely_general(const char* text, std::string* message) {
    const PF_Err err = command(PF_Cmd_COMPLETELY_GENERAL, const_cast<char*>(text));
    if (message != nullptr) {
        *message = return_message();
    }
    return err;
}

PF_Err Host::setup_all() {
    PF_Err err = global_setup();
    if (err == PF_Err_NONE) {
        err = params_setup();
    }
    if (err == PF_Err_NONE) {
        err = sequence_setup();
    }
    return err;
}

void Host::set_time(A_long current_time, A_long time_step, A_u_long time_scale) {
    current_time_ = current_time;
    time_step_ = time_step;
    time_scale_ = time_scale;
}

void Host::set_frame(A_long frame) { current_time_ = frame * (time_step_ > 0 ? time_step_ : 1); }

double Host::current_frame() const { return frame_time(current_time_, time_step_); }

PF_Err Host::declare_param(PF_ParamIndex index, const PF_ParamDef& def) { return params_.declare(index, def); }
void Host::set_param(PF_ParamIndex index, A_long value) { params_.set_constant(index, value); }
void Host::set_param_percent(PF_ParamIndex index, double percent) {
    params_.set_constant(index, percent_to_fixed(percent));
}
void Host::set_param_keyframes(PF_ParamIndex index, std::vector<Keyframe> keys) {
    params_.set_keyframes(index, std::move(keys));
}
void Host::set_layer_param(PF_ParamIndex index, std::shared_ptr<World> world) {
    params_.set_layer(index, std::move(world));
}
void Host::set_layer_keyframes(PF_ParamIndex index, std::vector<LayerKeyframe> keys) {
    params_.set_layer_keyframes(index, std::move(keys));
}
void Host::set_path_param(PF_ParamIndex index, PF_PathID id) { params_.set_constant(index, static_cast<A_long>(id)); }

PF_Err Host::param_value(PF_ParamIndex index, PF_ParamDef* def) const {
    if (def == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (index == 0) {
        PF_ParamDef input{};
        input.param_type = PF_Param_LAYER;
        if (input_ != nullptr) {
            input.u.ld = *input_->def();
        }
        input.u.ld.dephault = PF_LayerDefault_MYSELF;
        *def = input;
        return PF_Err_NONE;
    }
    return params_.evaluate(index, current_frame(), input_, def);
}

PF_State Host::current_state() const { return state_of(impl_->digest(nullptr)); }

PF_PreRenderCallbacks* Host::pre_render_callbacks() { return &impl_->pre_callbacks; }
PF_SmartRenderCallbacks* Host::smart_render_callbacks() { return &impl_->render_callbacks; }

void Host::set_input(std::shared_ptr<World> world) { input_ = std::move(world); }
void Host::set_output(std::shared_ptr<World> world) { output_ = std::move(world); }

const std::vector<std::pair<A_long, A_long>>& Host::progress_calls() const { return impl_->progress; }
long Host::abort_calls() const { return impl_->abort_calls; }
void Host::set_progress_hook(std::function<PF_Err(A_long, A_long)> hook) { impl_->progress_hook = std::move(hook); }
void Host::set_abort_hook(std::function<PF_Err()> hook) { impl_->abort_hook = std::move(hook); }
void Host::clear_progress() {
    impl_->progress.clear();
    impl_->abort_calls = 0;
}

std::size_t Host::live_handles() const { return impl_->handles.size(); }
long Host::handles_allocated() const { return impl_->handles_allocated; }
bool Host::handle_alive(PF_Handle handle) const { return impl_->find_handle(handle) != nullptr; }

std::size_t Host::handle_size(PF_Handle handle) const {
    const HandleRecord* record = impl_->find_handle(handle);
    return record != nullptr ? record->size : 0;
}

long Host::handle_lock_count(PF_Handle handle) const {
    const HandleRecord* record = impl_->find_handle(handle);
    return record != nullptr ? record->locks : 0;
}

void* Host::handle_data(PF_Handle handle) const {
    const HandleRecord* record = impl_->find_handle(handle);
    return record != nullptr ? record->data : nullptr;
}

void Host::register_suite(std::string name, A_long version, const void* suite) {
    impl_->suites[{std::move(name), version}] = suite;
}

void Host::unregister_suite(const std::string& name, A_long version) { impl_->suites.erase({name, version}); }

bool Host::has_suite(const std::string& name, A_long version) const {
    return impl_->suites.count({name, version}) != 0;
}

void Host::set_plugin_id(AEGP_PluginID id) { impl_->plugin_id = id; }
const std::vector<std::string>& Host::registered_names() const { return impl_->registered_names; }
long Host::update_param_ui_calls() const { return impl_->update_param_ui_calls; }

bool Host::balanced(std::string* why) const {
    std::vector<std::string> reasons;
    for (const auto& [key, count] : ledger_.suites_held()) {
        reasons.push_back("suite \"" + key.first + "\" " + std::to_string(key.second) + " held " +
                          std::to_string(count) + " time(s)");
    }
    const void* pending = frame_open_ ? impl_->pre_output.pre_render_data : nullptr;
    for (const auto& [handle, record] : impl_->handles) {
        if (handle == in_data_.global_data || handle == in_data_.sequence_data || handle == pending) {
            continue;
        }
        reasons.push_back("handle of " + std::to_string(record->size) + " bytes alive");
    }
    for (const auto& [index, count] : ledger_.params_out()) {
        reasons.push_back("parameter " + std::to_string(index) + " checked out " + std::to_string(count) +
                          " time(s)");
    }
    for (const auto& [key, path] : impl_->paths) {
        reasons.push_back("path " + std::to_string(path->id) + " checked out");
    }
    for (const auto& [key, prep] : impl_->preps) {
        reasons.push_back("seg-length preparation of segment " + std::to_string(prep->seg) + " outstanding");
    }
    if (!impl_->blocks.empty()) {
        reasons.push_back(std::to_string(impl_->blocks.size()) + " block(s) allocated");
    }
    if (!impl_->new_worlds.empty()) {
        reasons.push_back(std::to_string(impl_->new_worlds.size()) + " world(s) from PF_NewWorld alive");
    }
    for (const std::string& error : ledger_.errors()) {
        reasons.push_back("misuse: " + error);
    }
    if (why != nullptr) {
        why->clear();
        for (const std::string& reason : reasons) {
            *why += (why->empty() ? "" : "; ") + reason;
        }
    }
    return reasons.empty();
}

bool Host::guards_intact(std::string* report) const {
    std::string text;
    for (const auto& world : impl_->known_worlds()) {
        const std::string broken = world->guard_report();
        if (!broken.empty()) {
            text += (text.empty() ? "" : "; ") + std::string("world ") + std::to_string(world->width()) + "x" +
                    std::to_string(world->height()) + ": " + broken;
        }
    }
    if (report != nullptr) {
        *report = text;
    }
    return text.empty();
}

}  // namespace standalone
