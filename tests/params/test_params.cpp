// The eleven parameters as the host receives them.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "params/params.h"
#include "tests/support/boundary_host.h"

namespace {

using standalone::FaultTarget;
using Params = HostTest;

// Every byte of `bytes` is zero.
bool all_zero(const void* bytes, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < size; ++i) {
        if (p[i] != 0) return false;
    }
    return true;
}

struct SliderRow {
    PF_ParamIndex id;
    const char* name;
    A_long valid_min, valid_max, slider_min, slider_max, dephault;
};

TEST_F(Params, ElevenParametersAppendedInOrder) {
    host().prepare_call();
    out().num_params = 0;
    EXPECT_EQ(host().call(PF_Cmd_PARAMS_SETUP, nullptr), PF_Err_NONE);
    EXPECT_EQ(out().num_params, 12);
    EXPECT_EQ(out().return_msg[0], '\0');
    EXPECT_EQ(host().params().count(), 11);

    const auto adds = calls("add_param");
    ASSERT_EQ(adds.size(), 11u);
    const char* names[] = {"Path",          "Layer",   "Mode",         "Time",          "Max Width",
                           "Min Width",     "Various Directions",      "Color Blend Mode", "Color Opacity",
                           "Seed",          "On Original"};
    const PF_ParamType types[] = {PF_Param_PATH,     PF_Param_LAYER,      PF_Param_POPUP,    PF_Param_FIX_SLIDER,
                                  PF_Param_SLIDER,   PF_Param_FIX_SLIDER, PF_Param_CHECKBOX, PF_Param_POPUP,
                                  PF_Param_FIX_SLIDER, PF_Param_SLIDER,   PF_Param_CHECKBOX};
    for (PF_ParamIndex id = 1; id <= 11; ++id) {
        SCOPED_TRACE(id);
        const PF_ParamDef* def = host().params().declared(id);
        ASSERT_NE(def, nullptr);
        EXPECT_EQ(def->uu.id, id);
        EXPECT_STREQ(def->name, names[id - 1]);
        EXPECT_EQ(def->param_type, types[id - 1]);
        EXPECT_EQ(def->ui_flags, 0);
        EXPECT_EQ(def->ui_width, 0);
        EXPECT_EQ(def->ui_height, 0);
        EXPECT_EQ(def->flags, 0);
        EXPECT_TRUE(all_zero(def->name + std::strlen(def->name), sizeof(def->name) - std::strlen(def->name)));
        // Appended each time (index -1), in table order.
        EXPECT_EQ(adds[static_cast<std::size_t>(id - 1)].int_arg(0), -1);
        EXPECT_EQ(adds[static_cast<std::size_t>(id - 1)].int_arg(1), id);
    }
}

TEST_F(Params, SlidersAndTheirRanges) {
    ASSERT_EQ(host().params_setup(), PF_Err_NONE);
    const SliderRow fixed_rows[] = {
        {PARAM_TIME, "Time", 0, 0x640000, 0, 0x640000, 0x320000},            // 50.0 %
        {PARAM_MIN_WIDTH, "Min Width", 0, 0x640000, 0, 0x640000, 0x140000},   // 20.0 %
        {PARAM_OPACITY, "Color Opacity", 0, 0x640000, 0, 0x640000, 0x640000}, // 100.0 %
    };
    for (const SliderRow& row : fixed_rows) {
        SCOPED_TRACE(row.name);
        const PF_FixedSliderDef& fd = host().params().declared(row.id)->u.fd;
        EXPECT_EQ(fd.valid_min, row.valid_min);
        EXPECT_EQ(fd.valid_max, row.valid_max);
        EXPECT_EQ(fd.slider_min, row.slider_min);
        EXPECT_EQ(fd.slider_max, row.slider_max);
        EXPECT_EQ(fd.dephault, row.dephault);
        EXPECT_EQ(fd.value, row.dephault);
        EXPECT_EQ(fd.precision, 1);
        EXPECT_EQ(fd.display_flags, PF_ValueDisplayFlag_PERCENT);
        EXPECT_EQ(fd.value_str[0], '\0');
        EXPECT_EQ(fd.value_desc[0], '\0');
    }
    const SliderRow int_rows[] = {
        {PARAM_MAX_WIDTH, "Max Width", 2, 5000, 2, 500, 300},
        {PARAM_SEED, "Seed", 0, 50000, 0, 100, 0},
    };
    for (const SliderRow& row : int_rows) {
        SCOPED_TRACE(row.name);
        const PF_SliderDef& sd = host().params().declared(row.id)->u.sd;
        EXPECT_EQ(sd.valid_min, row.valid_min);
        EXPECT_EQ(sd.valid_max, row.valid_max);
        EXPECT_EQ(sd.slider_min, row.slider_min);
        EXPECT_EQ(sd.slider_max, row.slider_max);
        EXPECT_EQ(sd.dephault, row.dephault);
        EXPECT_EQ(sd.value, row.dephault);
        EXPECT_EQ(sd.value_str[0], '\0');
        EXPECT_EQ(sd.value_desc[0], '\0');
    }
}

TEST_F(Params, PopupsCheckboxesPathAndLayer) {
    ASSERT_EQ(host().params_setup(), PF_Err_NONE);
    const PF_PopupDef& mode = host().params().declared(PARAM_MODE)->u.pd;
    EXPECT_EQ(mode.num_choices, 3);
    EXPECT_EQ(mode.dephault, 1);
    EXPECT_EQ(mode.value, 1);
    ASSERT_NE(mode.u.namesptr, nullptr);
    EXPECT_STREQ(mode.u.namesptr, "Continuous|Discrete 1|Discrete 2");

    const PF_PopupDef& blend = host().params().declared(PARAM_BLEND_MODE)->u.pd;
    EXPECT_EQ(blend.num_choices, 8);
    EXPECT_EQ(blend.dephault, 5);  // "Screen"
    EXPECT_EQ(blend.value, 5);
    ASSERT_NE(blend.u.namesptr, nullptr);
    EXPECT_STREQ(blend.u.namesptr, "Normal|Tritone|Add|Multiply|Screen|Overlay|Color Dodge|Color Burn");

    for (PF_ParamIndex id : {PARAM_VARIOUS_DIRECTIONS, PARAM_ON_ORIGINAL}) {
        SCOPED_TRACE(id);
        const PF_CheckBoxDef& bd = host().params().declared(id)->u.bd;
        EXPECT_EQ(bd.value, 0);
        EXPECT_EQ(bd.dephault, 0);
        ASSERT_NE(bd.u.nameptr, nullptr);
        EXPECT_STREQ(bd.u.nameptr, "");
    }

    const PF_ParamDef* path = host().params().declared(PARAM_PATH);
    EXPECT_EQ(path->u.path_d.dephault, 0);
    EXPECT_EQ(path->u.path_d.path_id, 0u);
    const PF_ParamDef* layer = host().params().declared(PARAM_LAYER);
    EXPECT_EQ(layer->u.ld.dephault, PF_LayerDefault_NONE);
    EXPECT_EQ(layer->u.ld.data, nullptr);
    EXPECT_EQ(layer->u.ld.width, 0);
}

TEST_F(Params, RefusedFourthParameterStopsTheSetup) {
    host().faults().fail_callback(FaultTarget::add_param, 1234, 4, 1);
    host().prepare_call();
    out().num_params = 77;
    EXPECT_EQ(host().call(PF_Cmd_PARAMS_SETUP, nullptr), 1234);
    EXPECT_EQ(count("add_param"), 4u);
    EXPECT_EQ(out().num_params, 77);
    EXPECT_EQ(out().return_msg[0], '\0');
    EXPECT_EQ(out().out_flags, 0);
    // The three accepted before stay added.
    EXPECT_EQ(host().params().count(), 3);
}

}  // namespace
