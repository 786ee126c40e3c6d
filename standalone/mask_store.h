// The masks of the layer the effect is applied to, by PF_PathID: each a
// constant outline or keyframed outlines. Between two keyframes with the same
// vertex count (and closedness) every vertex coordinate and tangent moves
// linearly; otherwise the earlier keyframe holds. Before the first keyframe
// the first holds, after the last the last.
#pragma once

#include <map>
#include <vector>

#include "host/ae_sdk.h"
#include "standalone/mask.h"

namespace standalone {

struct MaskKeyframe {
    double frame;
    MaskShape shape;
};

// Outline of keyframes at `frame` (an empty open outline for no keyframes).
MaskShape interpolate_mask(const std::vector<MaskKeyframe>& keys, double frame);

class MaskStore {
public:
    // New ids count up from 1 (0 means "no mask").
    PF_PathID add(const MaskShape& shape);
    PF_PathID add_keyframes(std::vector<MaskKeyframe> keys);
    // Replaces (or creates, for a non-zero id) the mask `id`.
    void set(PF_PathID id, const MaskShape& shape);
    void set_keyframes(PF_PathID id, std::vector<MaskKeyframe> keys);
    void remove(PF_PathID id);

    bool contains(PF_PathID id) const;
    // False for an unknown id.
    bool shape_at(PF_PathID id, double frame, MaskShape* shape) const;
    // Ids in ascending order.
    std::vector<PF_PathID> ids() const;

private:
    std::map<PF_PathID, std::vector<MaskKeyframe>> masks_;
    PF_PathID next_id_ = 1;
};

}  // namespace standalone
