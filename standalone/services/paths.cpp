// Masks as paths: the path query and path data suites, and the mask suite
// the render holds but never calls.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "standalone/services/service.h"

namespace standalone {

namespace {

// "AEGP Mask Suite" 1: held by the render, never called.
constexpr PF_MaskSuite1 kMaskSuite = {unsupported<"PF_MaskWorldWithPath">};

// ---------------------------------------------------------------------------
// PF Path Query Suite 1
// ---------------------------------------------------------------------------
PF_Err PF_CALL path_num_paths(PF_ProgPtr effect_ref, A_long* num_paths) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_NumPaths", {});
    if (num_paths == nullptr) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *num_paths = static_cast<A_long>(host->masks().ids().size());
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL path_info(PF_ProgPtr effect_ref, A_long index, PF_PathID* unique_id) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_PathInfo", {as_int(index)});
    const std::vector<PF_PathID> ids = host->masks().ids();
    if (unique_id == nullptr || index < 0 || static_cast<std::size_t>(index) >= ids.size()) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    *unique_id = ids[static_cast<std::size_t>(index)];
    return call.finish(PF_Err_NONE);
}

PF_Err PF_CALL path_checkout(PF_ProgPtr effect_ref, PF_PathID unique_id, A_long what_time, A_long time_step,
                             A_u_long time_scale, PF_PathOutlinePtr* path) {
    auto check = [&](Host&) -> PF_Err {
        if (path == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *path = nullptr;
        return PF_Err_NONE;
    };
    const std::vector<LogArg> args{as_int(unique_id), as_int(what_time), as_int(time_step), as_int(time_scale)};
    return serve(host_of(effect_ref), FaultTarget::checkout_path, args, check, [&](Host& host) -> PF_Err {
        if (unique_id == 0) {
            // No mask chosen: no outline, and nothing to check in.
            return PF_Err_NONE;
        }
        MaskShape shape;
        if (!host.masks().shape_at(unique_id, frame_time(what_time, time_step), &shape)) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        auto outline = std::make_unique<PathOutline>(unique_id, std::move(shape));
        *path = reinterpret_cast<PF_PathOutlinePtr>(outline.get());
        host.impl().paths[outline.get()] = std::move(outline);
        return PF_Err_NONE;
    });
}

PF_Err PF_CALL path_checkin(PF_ProgPtr effect_ref, PF_PathID unique_id, PF_Boolean changed, PF_PathOutlinePtr path) {
    return serve(host_of(effect_ref), FaultTarget::checkin_path, {as_int(unique_id), as_int(changed)},
                 [&](Host& host) -> PF_Err {
        if (path == nullptr) {
            return unique_id == 0 ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM;
        }
        auto& paths = host.impl().paths;
        auto it = paths.find(path);
        if (it == paths.end()) {
            host.ledger().error("PF_CheckinPath of a path that is not checked out");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (it->second->id != unique_id) {
            host.ledger().error("PF_CheckinPath under id " + std::to_string(unique_id) + " of path " +
                                std::to_string(it->second->id));
        }
        auto& preps = host.impl().preps;
        for (auto p = preps.begin(); p != preps.end();) {
            if (p->second->path == it->second.get()) {
                host.ledger().error("PF_CheckinPath with a seg-length preparation of segment " +
                                    std::to_string(p->second->seg) + " not cleaned up");
                p = preps.erase(p);
            } else {
                ++p;
            }
        }
        paths.erase(it);
        return PF_Err_NONE;
    });
}

constexpr PF_PathQuerySuite1 kPathQuerySuite = {path_num_paths, path_info, path_checkout, path_checkin};

// ---------------------------------------------------------------------------
// PF Path Data Suite 1
// ---------------------------------------------------------------------------
const PathOutline* find_path(Host& host, PF_PathOutlinePtr path) {
    auto it = host.impl().paths.find(path);
    return it == host.impl().paths.end() ? nullptr : it->second.get();
}

bool seg_valid(const PathOutline* outline, A_long seg) {
    return seg >= 0 && seg < outline->geometry.num_segments();
}

SegPrep* find_prep(Host& host, const PathOutline* outline, PF_PathSegPrepPtr* prep, A_long seg) {
    if (prep == nullptr) {
        return nullptr;
    }
    auto it = host.impl().preps.find(*prep);
    if (it == host.impl().preps.end() || it->second->path != outline || it->second->seg != seg) {
        return nullptr;
    }
    return it->second.get();
}

PF_Err PF_CALL path_is_open(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, PF_Boolean* open) {
    return serve(host_of(effect_ref), FaultTarget::path_is_open, {}, [&](Host& host) -> PF_Err {
        const PathOutline* outline = find_path(host, path);
        if (outline == nullptr || open == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *open = outline->geometry.is_open() ? 1 : 0;
        return PF_Err_NONE;
    });
}

PF_Err PF_CALL path_num_segments(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long* num_segments) {
    return serve(host_of(effect_ref), FaultTarget::path_num_segments, {}, [&](Host& host) -> PF_Err {
        const PathOutline* outline = find_path(host, path);
        if (outline == nullptr || num_segments == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *num_segments = outline->geometry.num_segments();
        return PF_Err_NONE;
    });
}

PF_Err PF_CALL path_vertex_info(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long which_point,
                                PF_PathVertex* vertex) {
    return serve(host_of(effect_ref), FaultTarget::path_vertex_info, {as_int(which_point)}, [&](Host& host) -> PF_Err {
        const PathOutline* outline = find_path(host, path);
        if (outline == nullptr || vertex == nullptr || which_point < 0 ||
            static_cast<std::size_t>(which_point) >= outline->geometry.shape().vertices.size()) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *vertex = outline->geometry.vertex(which_point);
        return PF_Err_NONE;
    });
}

PF_Err PF_CALL path_prepare_seg_length(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long which_seg,
                                       A_long frequency, PF_PathSegPrepPtr* length_prep) {
    return serve(host_of(effect_ref), FaultTarget::path_prepare_seg_length, {as_int(which_seg), as_int(frequency)},
                 [&](Host& host) -> PF_Err {
        const PathOutline* outline = find_path(host, path);
        if (outline == nullptr || length_prep == nullptr || !seg_valid(outline, which_seg)) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        auto prep = std::make_unique<SegPrep>();
        prep->path = outline;
        prep->seg = which_seg;
        prep->frequency = frequency;
        prep->length = outline->geometry.prepare(which_seg, frequency);
        *length_prep = reinterpret_cast<PF_PathSegPrepPtr>(prep.get());
        host.impl().preps[prep.get()] = std::move(prep);
        return PF_Err_NONE;
    });
}

PF_Err PF_CALL path_get_seg_length(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long which_seg,
                                   PF_PathSegPrepPtr* length_prep, PF_FpLong* length) {
    return serve(host_of(effect_ref), FaultTarget::path_get_seg_length, {as_int(which_seg)}, [&](Host& host) -> PF_Err {
        const PathOutline* outline = find_path(host, path);
        SegPrep* prep = outline != nullptr ? find_prep(host, outline, length_prep, which_seg) : nullptr;
        if (prep == nullptr || length == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *length = prep->length.length();
        return PF_Err_NONE;
    });
}

PF_Err PF_CALL path_eval_seg_length(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, PF_PathSegPrepPtr* length_prep,
                                    A_long which_seg, PF_FpLong length, PF_FpLong* x, PF_FpLong* y) {
    return serve(host_of(effect_ref), FaultTarget::path_eval_seg_length, {as_int(which_seg), length},
                 [&](Host& host) -> PF_Err {
        const PathOutline* outline = find_path(host, path);
        SegPrep* prep = outline != nullptr ? find_prep(host, outline, length_prep, which_seg) : nullptr;
        if (prep == nullptr || x == nullptr || y == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        double dx = 0.0;
        double dy = 0.0;
        prep->length.eval(length, x, y, &dx, &dy);
        return PF_Err_NONE;
    });
}

PF_Err PF_CALL path_eval_seg_length_deriv1(PF_ProgPtr effect_ref, PF_PathOutlinePtr path,
                                           PF_PathSegPrepPtr* length_prep, A_long which_seg, PF_FpLong length,
                                           PF_FpLong* x, PF_FpLong* y, PF_FpLong* deriv1x, PF_FpLong* deriv1y) {
    return serve(host_of(effect_ref), FaultTarget::path_eval_seg_length_deriv1, {as_int(which_seg), length},
                 [&](Host& host) -> PF_Err {
        const PathOutline* outline = find_path(host, path);
        SegPrep* prep = outline != nullptr ? find_prep(host, outline, length_prep, which_seg) : nullptr;
        if (prep == nullptr || x == nullptr || y == nullptr || deriv1x == nullptr || deriv1y == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        prep->length.eval(length, x, y, deriv1x, deriv1y);
        return PF_Err_NONE;
    });
}

PF_Err PF_CALL path_cleanup_seg_length(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long which_seg,
                                       PF_PathSegPrepPtr* length_prep) {
    return serve(host_of(effect_ref), FaultTarget::path_cleanup_seg_length, {as_int(which_seg)},
                 [&](Host& host) -> PF_Err {
        const PathOutline* outline = find_path(host, path);
        SegPrep* prep = outline != nullptr ? find_prep(host, outline, length_prep, which_seg) : nullptr;
        if (prep == nullptr) {
            host.ledger().error("PF_PathCleanupSegLength of an unknown preparation");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        host.impl().preps.erase(prep);
        *length_prep = nullptr;
        return PF_Err_NONE;
    });
}

constexpr PF_PathDataSuite1 kPathDataSuite = {
    path_is_open,           path_num_segments,    path_vertex_info,
    path_prepare_seg_length, path_get_seg_length, path_eval_seg_length,
    path_eval_seg_length_deriv1, path_cleanup_seg_length, unsupported<"PF_PathIsInverted">,
    unsupported<"PF_PathGetMaskMode">, unsupported<"PF_PathGetName">,
};

}  // namespace

const void* mask_suite_table() { return &kMaskSuite; }
const void* path_query_suite_table() { return &kPathQuerySuite; }
const void* path_data_suite_table() { return &kPathDataSuite; }

}  // namespace standalone
