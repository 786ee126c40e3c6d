#include "standalone/params.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "standalone/world.h"

namespace standalone {

double frame_time(A_long current_time, A_long time_step) {
    if (time_step > 0) {
        return static_cast<double>(current_time) / static_cast<double>(time_step);
    }
    return static_cast<double>(current_time);
}

PF_Fixed percent_to_fixed(double percent) {
    return static_cast<PF_Fixed>(std::llround(percent * 65536.0));
}

namespace {

template <typename K>
std::vector<K> sorted(std::vector<K> keys) {
    std::stable_sort(keys.begin(), keys.end(), [](const K& a, const K& b) { return a.frame < b.frame; });
    return keys;
}

// Index of the last key at or before `frame`, or 0 when before the first.
template <typename K>
std::size_t key_at_or_before(const std::vector<K>& keys, double frame) {
    std::size_t found = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].frame <= frame) {
            found = i;
        }
    }
    return found;
}

}  // namespace

A_long interpolate(const std::vector<Keyframe>& unsorted, double frame, Interp interp) {
    if (unsorted.empty()) {
        return 0;
    }
    const std::vector<Keyframe> keys = sorted(unsorted);
    if (frame <= keys.front().frame) {
        return keys.front().value;
    }
    if (frame >= keys.back().frame) {
        return keys.back().value;
    }
    const std::size_t i = key_at_or_before(keys, frame);
    const Keyframe& a = keys[i];
    const Keyframe& b = keys[i + 1];
    if (interp == Interp::Hold || b.frame == a.frame) {
        return a.value;
    }
    const double u = (frame - a.frame) / (b.frame - a.frame);
    const double v = static_cast<double>(a.value) + (static_cast<double>(b.value) - static_cast<double>(a.value)) * u;
    return static_cast<A_long>(std::llround(v));
}

Interp interp_for(PF_ParamType type) {
    switch (type) {
    case PF_Param_SLIDER:
    case PF_Param_FIX_SLIDER:
    case PF_Param_ANGLE:
    case PF_Param_FLOAT_SLIDER:
        return Interp::Linear;
    default:
        return Interp::Hold;
    }
}

struct ParamStore::Declared {
    PF_ParamDef def{};
    std::string text;  // popup choices or checkbox label
    bool has_text = false;
};

struct ParamStore::Stored {
    bool is_layer = false;
    std::vector<Keyframe> keys;          // sorted
    std::vector<LayerKeyframe> layers;   // sorted
};

ParamStore::ParamStore() = default;
ParamStore::~ParamStore() = default;

PF_Err ParamStore::declare(PF_ParamIndex index, const PF_ParamDef& def) {
    const auto count = static_cast<PF_ParamIndex>(declared_.size());
    std::size_t position = 0;
    if (index == -1) {
        position = declared_.size();
    } else if (index >= 1 && index <= count + 1) {
        position = static_cast<std::size_t>(index - 1);
    } else {
        return PF_Err_INVALID_INDEX;
    }
    auto entry = std::make_unique<Declared>();
    entry->def = def;
    // The effect's record is gone after the call: the host keeps its own texts.
    entry->def.name[PF_MAX_EFFECT_PARAM_NAME_LEN] = '\0';
    if (def.param_type == PF_Param_POPUP && def.u.pd.u.namesptr != nullptr) {
        entry->text = def.u.pd.u.namesptr;
        entry->has_text = true;
        entry->def.u.pd.u.namesptr = entry->text.c_str();
    } else if (def.param_type == PF_Param_CHECKBOX && def.u.bd.u.nameptr != nullptr) {
        entry->text = def.u.bd.u.nameptr;
        entry->has_text = true;
        entry->def.u.bd.u.nameptr = entry->text.c_str();
    }
    declared_.insert(declared_.begin() + static_cast<std::ptrdiff_t>(position), std::move(entry));
    return PF_Err_NONE;
}

void ParamStore::clear_declarations() { declared_.clear(); }

A_long ParamStore::count() const { return static_cast<A_long>(declared_.size()); }

const PF_ParamDef* ParamStore::declared(PF_ParamIndex index) const {
    if (index < 1 || index > count()) {
        return nullptr;
    }
    return &declared_[static_cast<std::size_t>(index - 1)]->def;
}

void ParamStore::set_constant(PF_ParamIndex index, A_long value) { set_keyframes(index, {Keyframe{0.0, value}}); }

void ParamStore::set_keyframes(PF_ParamIndex index, std::vector<Keyframe> keys) {
    auto stored = std::make_unique<Stored>();
    stored->keys = sorted(std::move(keys));
    stored_[index] = std::move(stored);
}

void ParamStore::set_layer(PF_ParamIndex index, std::shared_ptr<World> world) {
    set_layer_keyframes(index, {LayerKeyframe{0.0, std::move(world)}});
}

void ParamStore::set_layer_keyframes(PF_ParamIndex index, std::vector<LayerKeyframe> keys) {
    auto stored = std::make_unique<Stored>();
    stored->is_layer = true;
    stored->layers = sorted(std::move(keys));
    stored_[index] = std::move(stored);
}

void ParamStore::reset(PF_ParamIndex index) { stored_.erase(index); }
void ParamStore::reset_all() { stored_.clear(); }

namespace {

A_long declared_default(const PF_ParamDef& def) {
    switch (def.param_type) {
    case PF_Param_SLIDER:
        return def.u.sd.dephault;
    case PF_Param_FIX_SLIDER:
        return def.u.fd.dephault;
    case PF_Param_CHECKBOX:
        return def.u.bd.dephault;
    case PF_Param_POPUP:
        return def.u.pd.dephault;
    case PF_Param_PATH:
        return def.u.path_d.dephault;
    case PF_Param_LAYER:
        return def.u.ld.dephault;
    default:
        return 0;
    }
}

}  // namespace

bool ParamStore::value_at(PF_ParamIndex index, double frame, A_long* value) const {
    const PF_ParamDef* def = declared(index);
    auto it = stored_.find(index);
    if (it != stored_.end() && !it->second->is_layer) {
        *value = interpolate(it->second->keys, frame, def != nullptr ? interp_for(def->param_type) : Interp::Linear);
        return true;
    }
    if (def == nullptr) {
        return false;
    }
    *value = declared_default(*def);
    return true;
}

std::shared_ptr<World> ParamStore::layer_at(PF_ParamIndex index, double frame,
                                            const std::shared_ptr<World>& input) const {
    auto it = stored_.find(index);
    if (it != stored_.end() && it->second->is_layer) {
        const auto& layers = it->second->layers;
        if (layers.empty()) {
            return nullptr;
        }
        return layers[key_at_or_before(layers, frame)].world;
    }
    const PF_ParamDef* def = declared(index);
    if (def != nullptr && def->param_type == PF_Param_LAYER && def->u.ld.dephault == PF_LayerDefault_MYSELF) {
        return input;
    }
    return nullptr;
}

std::vector<std::shared_ptr<World>> ParamStore::all_layer_worlds() const {
    std::vector<std::shared_ptr<World>> worlds;
    for (const auto& [index, stored] : stored_) {
        for (const auto& key : stored->layers) {
            if (key.world != nullptr && std::find(worlds.begin(), worlds.end(), key.world) == worlds.end()) {
                worlds.push_back(key.world);
            }
        }
    }
    return worlds;
}

PF_Err ParamStore::evaluate(PF_ParamIndex index, double frame, const std::shared_ptr<World>& input,
                            PF_ParamDef* out) const {
    const PF_ParamDef* def = declared(index);
    if (def == nullptr || out == nullptr) {
        return PF_Err_INVALID_INDEX;
    }
    PF_ParamDef result = *def;
    if (def->param_type == PF_Param_LAYER) {
        const A_long dephault = def->u.ld.dephault;
        std::shared_ptr<World> world = layer_at(index, frame, input);
        std::memset(&result.u.ld, 0, sizeof result.u.ld);
        if (world != nullptr) {
            result.u.ld = *world->def();
        }
        result.u.ld.dephault = dephault;
    } else {
        A_long value = 0;
        value_at(index, frame, &value);
        switch (def->param_type) {
        case PF_Param_SLIDER:
            result.u.sd.value = value;
            break;
        case PF_Param_FIX_SLIDER:
            result.u.fd.value = value;
            break;
        case PF_Param_CHECKBOX:
            result.u.bd.value = value;
            break;
        case PF_Param_POPUP:
            result.u.pd.value = value;
            break;
        case PF_Param_PATH:
            result.u.path_d.path_id = static_cast<PF_PathID>(value);
            break;
        default:
            break;
        }
    }
    *out = result;
    return PF_Err_NONE;
}

std::uint64_t ParamStore::value_fingerprint(PF_ParamIndex index, double frame,
                                            const std::shared_ptr<World>& input) const {
    const PF_ParamDef* def = declared(index);
    std::uint64_t hash = 0x9e3779b97f4a7c15ULL ^ static_cast<std::uint64_t>(static_cast<std::uint32_t>(index));
    auto mix = [&hash](std::uint64_t v) {
        hash ^= v + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2);
        hash *= 0xff51afd7ed558ccdULL;
        hash ^= hash >> 33;
    };
    mix(def != nullptr ? static_cast<std::uint64_t>(static_cast<std::uint32_t>(def->param_type)) : 0xFFFFu);
    if (def != nullptr && def->param_type == PF_Param_LAYER) {
        std::shared_ptr<World> world = layer_at(index, frame, input);
        if (world == nullptr) {
            mix(0);
        } else {
            mix(1);
            mix(world->pixel_hash());
        }
    } else {
        A_long value = 0;
        mix(value_at(index, frame, &value) ? 1 : 0);
        mix(static_cast<std::uint64_t>(static_cast<std::uint32_t>(value)));
    }
    return hash;
}

}  // namespace standalone
