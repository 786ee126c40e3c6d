// The host's parameter store: keyframes, percentages, declarations and the
// check-out ledger.
#include <cstring>

#include "standalone/params.h"
#include "standalone/world.h"
#include "tests/support/standalone_fixture.h"

namespace {

using standalone::FaultTarget;
using standalone::Interp;
using standalone::Keyframe;
using standalone_test::ScriptedHost;

struct InterpCase {
    const char* what;
    std::vector<Keyframe> keys;
    double frame;
    Interp interp;
    A_long expected;
};

TEST(StandaloneKeyframes, Interpolation) {
    const std::vector<InterpCase> cases = {
        {"int rounds half up", {{0, 0}, {4, 10}}, 1.0, Interp::Linear, 3},           // 2.5
        {"int rounds down", {{0, 0}, {3, 10}}, 1.0, Interp::Linear, 3},              // 3.33
        {"int rounds up", {{0, 0}, {3, 10}}, 2.0, Interp::Linear, 7},                // 6.67
        {"negative half away from zero", {{0, 0}, {4, -10}}, 1.0, Interp::Linear, -3},
        {"fixed in raw units", {{0, 0x10000}, {2, 0x20000}}, 1.0, Interp::Linear, 0x18000},
        {"fixed odd step", {{0, 0}, {2, 3}}, 1.0, Interp::Linear, 2},                // 1.5 raw
        {"hold keeps earlier", {{0, 1}, {10, 3}}, 9.99, Interp::Hold, 1},
        {"hold at key", {{0, 1}, {10, 3}}, 10.0, Interp::Hold, 3},
        {"before first", {{5, 40}, {10, 80}}, 0.0, Interp::Linear, 40},
        {"after last", {{5, 40}, {10, 80}}, 99.0, Interp::Linear, 80},
        {"unsorted keys", {{10, 80}, {0, 0}}, 5.0, Interp::Linear, 40},
        {"three keys, second span", {{0, 0}, {2, 100}, {4, 0}}, 3.0, Interp::Linear, 50},
        {"constant", {{0, 17}}, 123.0, Interp::Linear, 17},
    };
    for (const InterpCase& c : cases) {
        EXPECT_EQ(standalone::interpolate(c.keys, c.frame, c.interp), c.expected) << c.what;
    }
}

TEST(StandaloneKeyframes, PercentToFixed) {
    EXPECT_EQ(standalone::percent_to_fixed(37.5), 0x258000);
    EXPECT_EQ(standalone::percent_to_fixed(50.0), 0x320000);
    EXPECT_EQ(standalone::percent_to_fixed(100.0), 0x640000);
    EXPECT_EQ(standalone::percent_to_fixed(0.1), 6554);  // 6553.6 rounds up
    EXPECT_EQ(standalone::percent_to_fixed(-0.1), -6554);
}

TEST(StandaloneKeyframes, FrameTime) {
    EXPECT_DOUBLE_EQ(standalone::frame_time(300, 100), 3.0);
    EXPECT_DOUBLE_EQ(standalone::frame_time(150, 100), 1.5);
    EXPECT_DOUBLE_EQ(standalone::frame_time(7, 0), 7.0);
}

PF_ParamDef slider(const char* name, A_long dephault) {
    PF_ParamDef def{};
    def.param_type = PF_Param_SLIDER;
    std::strcpy(def.name, name);
    def.u.sd.value = def.u.sd.dephault = dephault;
    def.u.sd.valid_max = def.u.sd.slider_max = 1000;
    return def;
}

class StandaloneParams : public ScriptedHost {
protected:
    // Declares, as an effect would at PARAMS_SETUP: 1 slider, 2 fixed, 3 popup, 4 layer.
    void declare() {
        ASSERT_EQ(run(
                      [](PF_InData* in, PF_OutData*) -> PF_Err {
                          PF_ParamDef def = slider("Count", 5);
                          def.uu.id = 1;
                          PF_Err err = in->inter.add_param(in->effect_ref, -1, &def);
                          std::memset(&def, 0, sizeof def);
                          def.param_type = PF_Param_FIX_SLIDER;
                          def.uu.id = 2;
                          def.u.fd.value = def.u.fd.dephault = 0x140000;
                          err = err ? err : in->inter.add_param(in->effect_ref, -1, &def);
                          char choices[] = "One|Two|Three";
                          std::memset(&def, 0, sizeof def);
                          def.param_type = PF_Param_POPUP;
                          def.uu.id = 3;
                          def.u.pd.num_choices = 3;
                          def.u.pd.value = def.u.pd.dephault = 2;
                          def.u.pd.u.namesptr = choices;
                          err = err ? err : in->inter.add_param(in->effect_ref, -1, &def);
                          std::memset(choices, 'x', sizeof choices - 1);  // the host must have its own copy
                          std::memset(&def, 0, sizeof def);
                          def.param_type = PF_Param_LAYER;
                          def.uu.id = 4;
                          return err ? err : in->inter.add_param(in->effect_ref, -1, &def);
                      },
                      PF_Cmd_PARAMS_SETUP),
                  PF_Err_NONE);
    }

    // Checks a parameter out at `time` (time_step 1) and back in.
    PF_ParamDef checkout(PF_ParamIndex index, A_long time, PF_Err* err_out = nullptr) {
        PF_ParamDef def{};
        PF_Err err = run([&](PF_InData* in, PF_OutData*) {
            PF_Err e = in->inter.checkout_param(in->effect_ref, index, time, 1, 24, &def);
            if (e == PF_Err_NONE) {
                PF_ParamDef copy = def;
                e = in->inter.checkin_param(in->effect_ref, &copy);
            }
            return e;
        });
        if (err_out != nullptr) {
            *err_out = err;
        }
        return def;
    }
};

TEST_F(StandaloneParams, DefaultsAreTheDeclaredValues) {
    declare();
    EXPECT_EQ(checkout(1, 0).u.sd.value, 5);
    EXPECT_EQ(checkout(2, 0).u.fd.value, 0x140000);
    EXPECT_EQ(checkout(3, 0).u.pd.value, 2);
    EXPECT_STREQ(checkout(3, 0).u.pd.u.namesptr, "One|Two|Three");
    EXPECT_EQ(checkout(4, 0).u.ld.data, nullptr);
    EXPECT_TRUE(host().balanced()) << why();
}

TEST_F(StandaloneParams, KeyframesAtTheCallTime) {
    declare();
    host().set_param_keyframes(1, {{0, 0}, {4, 10}});
    host().set_param_keyframes(2, {{0, 0}, {2, 3}});
    host().set_param_keyframes(3, {{0, 1}, {2, 3}});
    EXPECT_EQ(checkout(1, 1).u.sd.value, 3);
    EXPECT_EQ(checkout(1, 4).u.sd.value, 10);
    EXPECT_EQ(checkout(2, 1).u.fd.value, 2);
    EXPECT_EQ(checkout(3, 1).u.pd.value, 1);  // popups hold
    EXPECT_EQ(checkout(3, 2).u.pd.value, 3);

    // time_step 100: what_time 150 is frame 1.5.
    PF_ParamDef def{};
    ASSERT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  PF_Err e = in->inter.checkout_param(in->effect_ref, 1, 150, 100, 2400, &def);
                  return e ? e : in->inter.checkin_param(in->effect_ref, &def);
              }),
              PF_Err_NONE);
    EXPECT_EQ(def.u.sd.value, 4);  // 3.75
}

TEST_F(StandaloneParams, TypedPercentage) {
    declare();
    host().set_param_percent(2, 37.5);
    EXPECT_EQ(checkout(2, 0).u.fd.value, 0x258000);
}

TEST_F(StandaloneParams, LayerIsACopyOfTheWorldRecord) {
    declare();
    auto world = std::make_shared<standalone::World>(6, 4, PF_PixelFormat_ARGB64, 8);
    host().set_layer_param(4, world);
    const PF_ParamDef def = checkout(4, 0);
    EXPECT_EQ(def.u.ld.data, world->def()->data);
    EXPECT_EQ(def.u.ld.width, 6);
    EXPECT_EQ(def.u.ld.height, 4);
    EXPECT_EQ(def.u.ld.rowbytes, 6 * 8 + 8);
    EXPECT_EQ(def.u.ld.dephault, PF_LayerDefault_NONE);
}

TEST_F(StandaloneParams, CheckoutLedgerAndFaults) {
    declare();
    PF_ParamDef def{};
    ASSERT_EQ(run([&](PF_InData* in, PF_OutData*) { return in->inter.checkout_param(in->effect_ref, 3, 0, 1, 24, &def); }),
              PF_Err_NONE);
    std::string text;
    EXPECT_FALSE(host().balanced(&text));
    EXPECT_NE(text.find("parameter 3 checked out"), std::string::npos) << text;
    ASSERT_EQ(run([&](PF_InData* in, PF_OutData*) { return in->inter.checkin_param(in->effect_ref, &def); }),
              PF_Err_NONE);
    EXPECT_TRUE(host().balanced()) << why();

    // A second check-in of the same parameter is misuse.
    EXPECT_EQ(run([&](PF_InData* in, PF_OutData*) { return in->inter.checkin_param(in->effect_ref, &def); }),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host().ledger().errors().size(), 1u);

    host().faults().fail_checkout_param(2, 77, 2, 1);
    PF_Err err = PF_Err_NONE;
    checkout(2, 0, &err);
    EXPECT_EQ(err, PF_Err_NONE);
    checkout(2, 0, &err);
    EXPECT_EQ(err, 77);  // the second check-out of parameter 2 only
    checkout(1, 0, &err);
    EXPECT_EQ(err, PF_Err_NONE);
    checkout(2, 0, &err);
    EXPECT_EQ(err, PF_Err_NONE);

    checkout(9, 0, &err);
    EXPECT_EQ(err, PF_Err_INVALID_INDEX);
}

TEST_F(StandaloneParams, AddParamFaultAndLog) {
    host().faults().fail_callback(FaultTarget::add_param, 33, 2);
    EXPECT_EQ(run(
                  [](PF_InData* in, PF_OutData*) -> PF_Err {
                      for (A_long id = 1; id <= 3; ++id) {
                          PF_ParamDef def = slider("S", 0);
                          def.uu.id = id;
                          if (PF_Err err = in->inter.add_param(in->effect_ref, -1, &def)) {
                              return err;
                          }
                      }
                      return PF_Err_NONE;
                  },
                  PF_Cmd_PARAMS_SETUP),
              33);
    EXPECT_EQ(host().params().count(), 1);
    const auto calls = host().log().calls("add_param");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].int_arg(0), -1);
    EXPECT_EQ(calls[0].int_arg(1), 1);
    EXPECT_EQ(calls[0].str_arg(3), "S");
    EXPECT_EQ(calls[1].result, 33);
}

}  // namespace
