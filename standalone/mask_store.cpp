#include "standalone/mask_store.h"

#include <algorithm>
#include <utility>

namespace standalone {

namespace {

std::vector<MaskKeyframe> sorted(std::vector<MaskKeyframe> keys) {
    std::stable_sort(keys.begin(), keys.end(),
                     [](const MaskKeyframe& a, const MaskKeyframe& b) { return a.frame < b.frame; });
    return keys;
}

}  // namespace

MaskShape interpolate_mask(const std::vector<MaskKeyframe>& unsorted, double frame) {
    if (unsorted.empty()) {
        return MaskShape{};
    }
    const std::vector<MaskKeyframe> keys = sorted(unsorted);
    if (frame <= keys.front().frame) {
        return keys.front().shape;
    }
    if (frame >= keys.back().frame) {
        return keys.back().shape;
    }
    std::size_t i = 0;
    while (i + 1 < keys.size() && keys[i + 1].frame <= frame) {
        ++i;
    }
    const MaskShape& a = keys[i].shape;
    const MaskShape& b = keys[i + 1].shape;
    if (a.vertices.size() != b.vertices.size() || a.closed != b.closed || keys[i + 1].frame == keys[i].frame) {
        return a;
    }
    const double u = (frame - keys[i].frame) / (keys[i + 1].frame - keys[i].frame);
    return interpolate(a, b, u);
}

PF_PathID MaskStore::add(const MaskShape& shape) { return add_keyframes({MaskKeyframe{0.0, shape}}); }

PF_PathID MaskStore::add_keyframes(std::vector<MaskKeyframe> keys) {
    while (masks_.count(next_id_) != 0 || next_id_ == 0) {
        ++next_id_;
    }
    const PF_PathID id = next_id_++;
    masks_[id] = sorted(std::move(keys));
    return id;
}

void MaskStore::set(PF_PathID id, const MaskShape& shape) { set_keyframes(id, {MaskKeyframe{0.0, shape}}); }

void MaskStore::set_keyframes(PF_PathID id, std::vector<MaskKeyframe> keys) {
    if (id == 0) {
        return;
    }
    masks_[id] = sorted(std::move(keys));
}

void MaskStore::remove(PF_PathID id) { masks_.erase(id); }

bool MaskStore::contains(PF_PathID id) const { return masks_.count(id) != 0; }

bool MaskStore::shape_at(PF_PathID id, double frame, MaskShape* shape) const {
    auto it = masks_.find(id);
    if (it == masks_.end()) {
        return false;
    }
    *shape = interpolate_mask(it->second, frame);
    return true;
}

std::vector<PF_PathID> MaskStore::ids() const {
    std::vector<PF_PathID> ids;
    for (const auto& entry : masks_) {
        ids.push_back(entry.first);
    }
    return ids;
}

}  // namespace standalone
