// The host's parameter store: the definitions the effect declared with
// add_param (texts copied), and per parameter index a value that is constant
// or keyframed over time.
//
// Times of keyframes are in frames. A call's time in frames is
// current_time / time_step when time_step > 0, else current_time.
// Interpolation: integer and fixed-point sliders linearly, rounded to the
// nearest raw value (half away from zero); popups, checkboxes, paths and
// layers hold the last keyframe at or before the time. Before the first
// keyframe the first value holds, after the last the last.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/ae_sdk.h"

namespace standalone {

class World;

struct Keyframe {
    double frame;
    A_long value;  // raw: integer, PF_Fixed, popup choice, 0/1, or PF_PathID
};

struct LayerKeyframe {
    double frame;
    std::shared_ptr<World> world;  // null: no layer
};

enum class Interp { Linear, Hold };

// Frame time of a call.
double frame_time(A_long current_time, A_long time_step);

// round(percent × 65536), half away from zero: 37.5 gives 0x258000.
PF_Fixed percent_to_fixed(double percent);

// Value of keyframes at `frame`; 0 for an empty list. Keyframes need not be
// sorted.
A_long interpolate(const std::vector<Keyframe>& keys, double frame, Interp interp);

// How a parameter type moves between keyframes.
Interp interp_for(PF_ParamType type);

class ParamStore {
public:
    ParamStore();
    ~ParamStore();
    ParamStore(const ParamStore&) = delete;
    ParamStore& operator=(const ParamStore&) = delete;

    // add_param: -1 appends; 1..count()+1 inserts at that array index (0 is
    // the input layer). Returns PF_Err_INVALID_INDEX otherwise. The popup
    // choices and checkbox text are copied; the copy points at them.
    PF_Err declare(PF_ParamIndex index, const PF_ParamDef& def);
    void clear_declarations();

    // Number of declared parameters (not counting the input layer).
    A_long count() const;
    // Declared definition at array index 1..count(); null otherwise.
    const PF_ParamDef* declared(PF_ParamIndex index) const;

    void set_constant(PF_ParamIndex index, A_long value);
    void set_keyframes(PF_ParamIndex index, std::vector<Keyframe> keys);
    void set_layer(PF_ParamIndex index, std::shared_ptr<World> world);
    void set_layer_keyframes(PF_ParamIndex index, std::vector<LayerKeyframe> keys);
    // Forget the value; the declared default applies again.
    void reset(PF_ParamIndex index);
    void reset_all();

    // Raw value at `frame`: the stored one, else the declared default
    // (dephault; for a layer: 0). False for an undeclared index without a
    // stored value.
    bool value_at(PF_ParamIndex index, double frame, A_long* value) const;
    // The layer world at `frame` (null for none); for PF_LayerDefault_MYSELF
    // with nothing stored, `input`.
    std::shared_ptr<World> layer_at(PF_ParamIndex index, double frame, const std::shared_ptr<World>& input) const;

    // Every world a layer parameter refers to at any time.
    std::vector<std::shared_ptr<World>> all_layer_worlds() const;

    // Fills `out` as a checkout answers: a copy of the declaration with the
    // value at `frame`; a layer's u.ld is a copy of its world's record (data
    // null for none) keeping the declared dephault. PF_Err_INVALID_INDEX for
    // an undeclared index (out untouched).
    PF_Err evaluate(PF_ParamIndex index, double frame, const std::shared_ptr<World>& input, PF_ParamDef* out) const;

    // A 64-bit fingerprint of one parameter's value at `frame` (type and
    // value; a layer by its size, format and pixels).
    std::uint64_t value_fingerprint(PF_ParamIndex index, double frame, const std::shared_ptr<World>& input) const;

private:
    struct Declared;
    struct Stored;
    std::vector<std::unique_ptr<Declared>> declared_;
    std::map<PF_ParamIndex, std::unique_ptr<Stored>> stored_;
};

}  // namespace standalone
