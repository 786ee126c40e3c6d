#include <cstring>

#include "params/names.h"
#include "params/params.h"

namespace {

constexpr PF_Fixed percent(A_long whole) {
    return whole * 65536;
}

template <class E>
constexpr A_long value(E named) {
    return static_cast<A_long>(named);
}

// One row per control, in the order the user sees them. Bounds and defaults
// of fixed-point sliders are 16.16 values; `text` is a popup's choices or a
// checkbox's label.
struct ParamRow {
    ParamId id;
    const char* name;
    PF_ParamType type;
    A_long valid_min;
    A_long valid_max;
    A_long slider_min;
    A_long slider_max;
    A_long dephault;
    A_short num_choices;
    const char* text;
};

constexpr ParamRow kParams[] = {
    {PARAM_PATH, "Path", PF_Param_PATH, 0, 0, 0, 0, 0, 0, nullptr},
    {PARAM_LAYER, "Layer", PF_Param_LAYER, 0, 0, 0, 0, PF_LayerDefault_NONE, 0, nullptr},
    {PARAM_MODE, "Mode", PF_Param_POPUP, 0, 0, 0, 0, value(RevealMode::Continuous), name_count<RevealMode>,
     popup_choices<RevealMode>()},
    {PARAM_TIME, "Time", PF_Param_FIX_SLIDER, percent(0), percent(100), percent(0), percent(100), percent(50), 0,
     nullptr},
    {PARAM_MAX_WIDTH, "Max Width", PF_Param_SLIDER, 2, 5000, 2, 500, 300, 0, nullptr},
    {PARAM_MIN_WIDTH, "Min Width", PF_Param_FIX_SLIDER, percent(0), percent(100), percent(0), percent(100),
     percent(20), 0, nullptr},
    {PARAM_VARIOUS_DIRECTIONS, "Various Directions", PF_Param_CHECKBOX, 0, 0, 0, 0, 0, 0, ""},
    {PARAM_BLEND_MODE, "Color Blend Mode", PF_Param_POPUP, 0, 0, 0, 0, value(BlendMode::Screen),
     name_count<BlendMode>, popup_choices<BlendMode>()},
    {PARAM_OPACITY, "Color Opacity", PF_Param_FIX_SLIDER, percent(0), percent(100), percent(0), percent(100),
     percent(100), 0, nullptr},
    {PARAM_SEED, "Seed", PF_Param_SLIDER, 0, 50000, 0, 100, 0, 0, nullptr},
    {PARAM_ON_ORIGINAL, "On Original", PF_Param_CHECKBOX, 0, 0, 0, 0, 0, 0, ""},
};
// add_param's index for "after the parameters added so far".
constexpr PF_ParamIndex kAppend = -1;

static_assert(sizeof(kParams) / sizeof(kParams[0]) == PARAM_COUNT - 1);

void fill_def(const ParamRow& row, PF_ParamDef& def) {
    switch (row.type) {
    case PF_Param_SLIDER:
        def.u.sd.valid_min = row.valid_min;
        def.u.sd.slider_min = row.slider_min;
        def.u.sd.valid_max = row.valid_max;
        def.u.sd.slider_max = row.slider_max;
        def.u.sd.dephault = row.dephault;
        def.u.sd.value = row.dephault;
        break;
    case PF_Param_FIX_SLIDER:
        def.u.fd.valid_min = row.valid_min;
        def.u.fd.slider_min = row.slider_min;
        def.u.fd.valid_max = row.valid_max;
        def.u.fd.slider_max = row.slider_max;
        def.u.fd.dephault = row.dephault;
        def.u.fd.value = row.dephault;
        def.u.fd.precision = 1;
        def.u.fd.display_flags = static_cast<A_short>(def.u.fd.display_flags | PF_ValueDisplayFlag_PERCENT);
        break;
    case PF_Param_POPUP:
        def.u.pd.num_choices = row.num_choices;
        def.u.pd.dephault = static_cast<A_short>(row.dephault);
        def.u.pd.value = row.dephault;
        def.u.pd.u.namesptr = row.text;
        break;
    case PF_Param_CHECKBOX:
        def.u.bd.u.nameptr = row.text;
        def.u.bd.value = 0;
        def.u.bd.dephault = 0;
        break;
    case PF_Param_PATH:
        def.u.path_d.dephault = row.dephault;
        break;
    case PF_Param_LAYER:
        def.u.ld.dephault = row.dephault;
        break;
    default:
        break;
    }
}

}  // namespace

PF_Err params_setup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[], PF_LayerDef* /*output*/) {
    if (in_data == nullptr || out_data == nullptr || in_data->utils == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    PF_ParamDef def;
    for (const ParamRow& row : kParams) {
        // One record for all: nothing may carry over from the previous control.
        std::memset(&def, 0, sizeof(def));
        def.param_type = row.type;
        in_data->utils->ansi.strcpy(def.name, row.name);
        fill_def(row, def);
        def.uu.id = row.id;
        const PF_Err err = in_data->inter.add_param(in_data->effect_ref, kAppend, &def);
        if (err != PF_Err_NONE) {
            return err;
        }
    }
    out_data->num_params = PARAM_COUNT;
    return PF_Err_NONE;
}
