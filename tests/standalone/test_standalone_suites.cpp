// The basic suite's registry and ledger, the ANSI, utility and parameter
// utility suites.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <thread>

#include "standalone/world.h"
#include "tests/support/standalone_fixture.h"

namespace {

using standalone::FaultTarget;
using standalone_test::acquire;
using standalone_test::ScriptedHost;

using StandaloneSuites = ScriptedHost;

struct DummySuite {
    int marker;
};
constexpr DummySuite kIterate16{16};

TEST_F(StandaloneSuites, RegistryMatchesExactNameAndVersion) {
    host().register_suite("PF iterate16 Suite", 1, &kIterate16);
    struct Probe {
        const char* name;
        A_long version;
        bool found;
    };
    const std::vector<Probe> probes = {
        {"PF iterate16 Suite", 1, true},   {"PF Iterate16 Suite", 1, false}, {"PF iterate16 Suite", 2, false},
        {"PF iterate16 Suite ", 1, false}, {"PF Handle Suite", 2, true},     {"PF Handle Suite", 1, false},
        {"PF World Suite", 2, true},       {"PF World Suite", 1, false},     {"PF ColorParamSuite", 1, false},
        {"AEGP Utility Suite", 7, true},   {"AEGP Utility Suite", 13, false}, {"PF SamplingFloat Suite", 1, true},
        {"PF Param Utils Suite", 2, true}, {"PF Param Utils Suite", 1, false}, {"AEGP Mask Suite", 1, true},
        {"AEGP Layer Mask Suite", 2, false},
    };
    for (const Probe& probe : probes) {
        const void* suite = reinterpret_cast<const void*>(1);
        SPErr err = 0;
        run([&](PF_InData* in, PF_OutData*) {
            err = in->pica_basicP->AcquireSuite(probe.name, probe.version, &suite);
            if (err == 0) {
                in->pica_basicP->ReleaseSuite(probe.name, probe.version);
            }
            return PF_Err_NONE;
        });
        EXPECT_EQ(err == 0, probe.found) << probe.name << " " << probe.version;
        EXPECT_EQ(suite != nullptr, probe.found) << probe.name << " " << probe.version;
    }
    EXPECT_EQ(host().ledger().acquisitions("PF iterate16 Suite", 1), 1);
    EXPECT_EQ(host().ledger().acquisitions("PF Iterate16 Suite", 1), 0);
    EXPECT_TRUE(host().balanced()) << why();
}

TEST_F(StandaloneSuites, LedgerCountsAndUnbalancedRelease) {
    run([](PF_InData* in, PF_OutData*) {
        const void* s = nullptr;
        in->pica_basicP->AcquireSuite(kPFANSISuite, 1, &s);
        in->pica_basicP->AcquireSuite(kPFANSISuite, 1, &s);
        in->pica_basicP->ReleaseSuite(kPFANSISuite, 1);
        return PF_Err_NONE;
    });
    std::string text;
    EXPECT_FALSE(host().balanced(&text));
    EXPECT_NE(text.find("\"PF ANSI Suite\" 1 held 1"), std::string::npos) << text;

    SPErr unbalanced = 0;
    run([&](PF_InData* in, PF_OutData*) {
        in->pica_basicP->ReleaseSuite(kPFANSISuite, 1);
        unbalanced = in->pica_basicP->ReleaseSuite(kPFANSISuite, 1);  // one more than acquired
        return PF_Err_NONE;
    });
    EXPECT_NE(unbalanced, 0);
    EXPECT_EQ(host().ledger().acquisitions(kPFANSISuite, 1), 2);
    EXPECT_EQ(host().ledger().releases(kPFANSISuite, 1), 2);
    ASSERT_EQ(host().ledger().errors().size(), 1u);
    EXPECT_NE(host().ledger().errors()[0].find("without a matching AcquireSuite"), std::string::npos);
}

TEST_F(StandaloneSuites, RefusedSuiteFromTheNthAcquisition) {
    host().faults().refuse_suite(kPFHandleSuite, kPFHandleSuiteVersion1, 2);
    std::vector<bool> got;
    run([&](PF_InData* in, PF_OutData*) {
        for (int i = 0; i < 3; ++i) {
            const void* s = reinterpret_cast<const void*>(1);
            const SPErr err = in->pica_basicP->AcquireSuite(kPFHandleSuite, kPFHandleSuiteVersion1, &s);
            got.push_back(err == 0 && s != nullptr);
            if (err == 0) {
                in->pica_basicP->ReleaseSuite(kPFHandleSuite, kPFHandleSuiteVersion1);
            }
            // Other suites are unaffected.
            EXPECT_EQ(in->pica_basicP->AcquireSuite(kPFANSISuite, 1, &s), 0);
            in->pica_basicP->ReleaseSuite(kPFANSISuite, 1);
        }
        return PF_Err_NONE;
    });
    EXPECT_EQ(got, (std::vector<bool>{true, false, false}));
    EXPECT_TRUE(host().balanced()) << why();
}

TEST_F(StandaloneSuites, SprintfIsBoundedAtReturnMsg) {
    const std::string long_text(300, 'a');
    int written = 0;
    run([&](PF_InData* in, PF_OutData* out) {
        out->out_flags2 = 0x1234;
        auto* ansi = acquire<PF_ANSICallbacksSuite1>(in, kPFANSISuite, 1);
        written = ansi->sprintf(out->return_msg, "%s", long_text.c_str());
        in->pica_basicP->ReleaseSuite(kPFANSISuite, 1);
        return PF_Err_NONE;
    });
    EXPECT_EQ(written, 300);  // what vsnprintf would have written
    EXPECT_EQ(std::string(host().out_data().return_msg), std::string(255, 'a'));
    EXPECT_EQ(host().out_data().out_flags2, 0x1234);  // the field after return_msg is intact

    run([&](PF_InData* in, PF_OutData* out) {
        in->utils->ansi.sprintf(out->return_msg, "%s, v%d.%d\r%s", "Name", 1, 0, "Text");
        return PF_Err_NONE;
    });
    EXPECT_STREQ(host().out_data().return_msg, "Name, v1.0\rText");
    const auto calls = host().log().calls("sprintf");
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().str_arg(0), "return_msg");
    EXPECT_EQ(calls.back().str_arg(1), "%s, v%d.%d\r%s");

    run([&](PF_InData* in, PF_OutData* out) {
        in->utils->ansi.strcpy(out->return_msg, long_text.c_str());
        return PF_Err_NONE;
    });
    EXPECT_EQ(std::strlen(host().out_data().return_msg), 255u);
}

TEST_F(StandaloneSuites, RegisterWithAEGP) {
    host().set_plugin_id(99);
    AEGP_PluginID id = 0;
    PF_Err err = run([&](PF_InData* in, PF_OutData*) {
        auto* utility = acquire<AEGP_UtilitySuite3>(in, kAEGPUtilitySuite, 7);
        PF_Err e = utility->AEGP_RegisterWithAEGP(nullptr, "Error!", &id);
        in->pica_basicP->ReleaseSuite(kAEGPUtilitySuite, 7);
        return e;
    });
    EXPECT_EQ(err, PF_Err_NONE);
    EXPECT_EQ(id, 99);
    EXPECT_EQ(host().registered_names(), std::vector<std::string>{"Error!"});

    host().faults().fail_callback(FaultTarget::register_with_aegp, 21);
    err = run([&](PF_InData* in, PF_OutData*) {
        auto* utility = acquire<AEGP_UtilitySuite3>(in, kAEGPUtilitySuite, 7);
        PF_Err e = utility->AEGP_RegisterWithAEGP(nullptr, "Again", &id);
        in->pica_basicP->ReleaseSuite(kAEGPUtilitySuite, 7);
        return e;
    });
    EXPECT_EQ(err, 21);
    EXPECT_EQ(host().registered_names().size(), 1u);
    EXPECT_TRUE(host().balanced()) << why();
}

class StandaloneState : public ScriptedHost {
protected:
    void SetUp() override {
        ScriptedHost::SetUp();
        PF_ParamDef def{};
        def.param_type = PF_Param_SLIDER;
        def.u.sd.dephault = def.u.sd.value = 1;
        host().declare_param(-1, def);
        host().declare_param(-1, def);
    }

    // PF_GetCurrentState into `state` (or PF_HasParamChanged against it).
    PF_Err state_call(PF_State* state, PF_ParamIndex compare = 0, PF_Boolean* changed = nullptr) {
        return run([&](PF_InData* in, PF_OutData*) {
            auto* utils = acquire<PF_ParamUtilsSuite1>(in, kPFParamUtilsSuite, kPFParamUtilsSuiteVersion1);
            PF_Err e = compare == 0 ? utils->PF_GetCurrentStateObsolete(in->effect_ref, state)
                                    : utils->PF_HasParamChangedObsolete(in->effect_ref, state, compare, changed);
            in->pica_basicP->ReleaseSuite(kPFParamUtilsSuite, kPFParamUtilsSuiteVersion1);
            return e;
        });
    }
};

TEST_F(StandaloneState, DigestFollowsValuesAtTheCurrentTime) {
    host().set_frame(5);
    PF_State before{};
    ASSERT_EQ(state_call(&before), PF_Err_NONE);
    const PF_State now = host().current_state();
    EXPECT_EQ(std::memcmp(&before, &now, sizeof before), 0);

    // A change at another time leaves the value at frame 5 as it was.
    host().set_param_keyframes(1, {{0, 1}, {5, 1}, {10, 8}});
    PF_State same{};
    ASSERT_EQ(state_call(&same), PF_Err_NONE);
    EXPECT_EQ(std::memcmp(&before, &same, sizeof before), 0);
    PF_Boolean changed = 1;
    ASSERT_EQ(state_call(&before, PF_ParamIndex_CHECK_ALL_HONOR_EXCLUDE, &changed), PF_Err_NONE);
    EXPECT_EQ(changed, 0);

    host().set_param(2, 3);
    PF_State after{};
    ASSERT_EQ(state_call(&after), PF_Err_NONE);
    EXPECT_NE(std::memcmp(&before, &after, sizeof before), 0);
    ASSERT_EQ(state_call(&before, PF_ParamIndex_CHECK_ALL_HONOR_EXCLUDE, &changed), PF_Err_NONE);
    EXPECT_EQ(changed, 1);
    ASSERT_EQ(state_call(&before, 1, &changed), PF_Err_NONE);
    EXPECT_EQ(changed, 0);  // parameter 1 itself did not change
    ASSERT_EQ(state_call(&before, 2, &changed), PF_Err_NONE);
    EXPECT_EQ(changed, 1);

    host().set_frame(7);  // the keyframed value moves between frames 5 and 10
    ASSERT_EQ(state_call(&after, 1, &changed), PF_Err_NONE);
    EXPECT_EQ(changed, 1);
    EXPECT_TRUE(host().balanced()) << why();
}

TEST_F(StandaloneState, ShortBlockIsRefusedAndFaultsApply) {
    PF_Handle block = nullptr;
    PF_Err err = run([&](PF_InData* in, PF_OutData*) {
        block = in->utils->host_new_handle(1);
        auto* utils = acquire<PF_ParamUtilsSuite1>(in, kPFParamUtilsSuite, kPFParamUtilsSuiteVersion1);
        PF_Boolean changed = 0;
        PF_Err e = utils->PF_HasParamChangedObsolete(in->effect_ref, static_cast<const PF_State*>(*block), -3, &changed);
        in->utils->host_dispose_handle(block);
        in->pica_basicP->ReleaseSuite(kPFParamUtilsSuite, kPFParamUtilsSuiteVersion1);
        return e;
    });
    EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host().ledger().errors().size(), 1u);

    host().faults().fail_callback(FaultTarget::get_current_state, 12);
    PF_State state{};
    EXPECT_EQ(state_call(&state), 12);
}

TEST_F(StandaloneSuites, UpdateParamUIIsCounted) {
    run([](PF_InData* in, PF_OutData*) {
        auto* utils = acquire<PF_ParamUtilsSuite1>(in, kPFParamUtilsSuite, kPFParamUtilsSuiteVersion1);
        utils->PF_UpdateParamUI(in->effect_ref, 3, nullptr);
        in->pica_basicP->ReleaseSuite(kPFParamUtilsSuite, kPFParamUtilsSuiteVersion1);
        return PF_Err_NONE;
    });
    EXPECT_EQ(host().update_param_ui_calls(), 1);
    EXPECT_EQ(host().log().calls("PF_UpdateParamUI").at(0).int_arg(0), 3);
}

TEST_F(StandaloneSuites, HostsOnThreadsShareOneModule) {
    auto work = [this](long* live) {
        standalone::Host local(module_);
        standalone_test::t_script = [](PF_Cmd, PF_InData* in, PF_OutData* out, PF_ParamDef**, PF_LayerDef*, void*) {
            out->global_data = in->utils->host_new_handle(16);
            return PF_Err_NONE;
        };
        for (int i = 0; i < 50; ++i) {
            local.global_setup();
        }
        standalone_test::t_script = nullptr;
        *live = static_cast<long>(local.live_handles());
    };
    long a = 0;
    long b = 0;
    std::thread t1(work, &a);
    std::thread t2(work, &b);
    t1.join();
    t2.join();
    EXPECT_EQ(a, 50);
    EXPECT_EQ(b, 50);
    EXPECT_EQ(host().live_handles(), 0u);
}

TEST(StandaloneModule, LoadErrorsAreText) {
    std::string error;
    EXPECT_EQ(standalone::Module::load("/nonexistent/NoSuch.so", &error), nullptr);
    EXPECT_NE(error.find("/nonexistent/NoSuch.so"), std::string::npos) << error;
    EXPECT_EQ(standalone::Module::from_entry(nullptr), nullptr);

    auto module = standalone::Module::load(TRELLIS_MODULE_PATH, &error);
    ASSERT_NE(module, nullptr) << error;
    EXPECT_TRUE(module->is_library());
    EXPECT_NE(module->entry(), nullptr);
}

TEST_F(StandaloneSuites, FloorAndCeilAreLoggedThroughBothRoutes) {
    run([](PF_InData* in, PF_OutData*) {
        EXPECT_EQ(in->utils->ansi.floor(2.5), 2.0);
        EXPECT_EQ(in->utils->ansi.ceil(2.5), 3.0);
        const auto* ansi = acquire<PF_ANSICallbacksSuite1>(in, kPFANSISuite, 1);
        EXPECT_EQ(ansi->floor(-1.5), -2.0);
        EXPECT_EQ(ansi->ceil(-1.5), -1.0);
        in->pica_basicP->ReleaseSuite(kPFANSISuite, 1);
        return PF_Err_NONE;
    });
    const auto floors = host().log().calls("floor");
    const auto ceils = host().log().calls("ceil");
    ASSERT_EQ(floors.size(), 2u);
    ASSERT_EQ(ceils.size(), 2u);
    EXPECT_EQ(floors[0].real_arg(0), 2.5);
    EXPECT_EQ(floors[0].real_arg(1), 2.0);
    EXPECT_EQ(floors[1].real_arg(0), -1.5);
    EXPECT_EQ(floors[1].real_arg(1), -2.0);
    EXPECT_EQ(ceils[0].real_arg(1), 3.0);
    EXPECT_EQ(ceils[1].real_arg(1), -1.0);
    // Off, nothing is counted; outside a command they still answer.
    host().log().set_enabled(false);
    run([](PF_InData* in, PF_OutData*) {
        in->utils->ansi.floor(0.5);
        return PF_Err_NONE;
    });
    EXPECT_EQ(host().log().count("floor"), 2u);
    EXPECT_EQ(host().in_data().utils->ansi.ceil(0.25), 1.0);
    EXPECT_TRUE(host().balanced()) << why();
}

TEST_F(StandaloneSuites, AreaSamplingLogsTheWholeBlock) {
    auto world = std::make_shared<standalone::World>(4, 4, PF_PixelFormat_ARGB32);
    host().set_input(world);
    PF_SampPB pb{};
    pb.x_radius = 3;
    pb.y_radius = 4;
    pb.area = 5;
    pb.src = world->def();
    pb.samp_behave = 6;
    pb.allow_asynch = 7;
    pb.motion_blur = 8;
    pb.comp_mode.xfer = 9;
    A_u_char table = 0;
    pb.fcd_table = &table;
    pb.reserved[3] = 1;
    PF_Err with_block = PF_Err_NONE;
    PF_Err without_block = PF_Err_NONE;
    run([&](PF_InData* in, PF_OutData*) {
        const auto* sampling = acquire<PF_Sampling8Suite1>(in, kPFSampling8Suite, kPFSampling8SuiteVersion1);
        PF_Pixel8 out{};
        with_block = sampling->area_sample(in->effect_ref, 1, 2, &pb, &out);
        without_block = sampling->area_sample(in->effect_ref, 10, 20, nullptr, &out);
        in->pica_basicP->ReleaseSuite(kPFSampling8Suite, kPFSampling8SuiteVersion1);
        return PF_Err_NONE;
    });
    EXPECT_EQ(with_block, PF_Err_NONE);
    EXPECT_EQ(without_block, PF_Err_BAD_CALLBACK_PARAM);
    const auto calls = host().log().calls("area_sample8");
    ASSERT_EQ(calls.size(), 2u);
    namespace arg = standalone::sample_arg;
    const std::vector<std::int64_t> expected = {
        1, 2, 3, 4, 5, static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(world->def())), 6, 7, 8, 9, 0, 0, 1, 1};
    ASSERT_EQ(calls[0].args.size(), std::size_t{arg::count});
    ASSERT_EQ(expected.size(), std::size_t{arg::count});
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(calls[0].int_arg(i), expected[i]) << i;
    EXPECT_EQ(calls[1].args.size(), 2u);
    EXPECT_EQ(calls[1].int_arg(arg::x), 10);
    EXPECT_EQ(calls[1].result, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(host().balanced()) << why();
}

TEST(StandaloneCallLog, MemoryLimitStopsStoringButNotCounting) {
    standalone::CallLog log;
    log.set_memory_limit(4096);
    long stored = 0;
    for (int i = 0; i < 1000; ++i) {
        if (log.record("area_sample8", {std::int64_t{i}, std::int64_t{i}, std::string(40, 'x')}) >= 0) ++stored;
    }
    EXPECT_GT(stored, 0);
    EXPECT_LT(stored, 1000);
    EXPECT_EQ(log.all().size(), static_cast<std::size_t>(stored));
    EXPECT_EQ(log.count("area_sample8"), 1000u);
    EXPECT_TRUE(log.full());
    EXPECT_TRUE(log.truncated());
    // Bounded: at most one entry past the limit.
    EXPECT_LT(log.memory_used(), 4096u + 512u);
    log.clear();
    EXPECT_EQ(log.memory_used(), 0u);
    EXPECT_FALSE(log.full());
    EXPECT_GE(log.record("floor", {1.5, 1.0}), 0);
}

}  // namespace

namespace {

// Every 8-byte slot of a table that holds a function in the host's layout.
template <class Table>
std::vector<const void*> function_slots(const Table& table, std::initializer_list<std::size_t> data_offsets) {
    std::vector<const void*> slots;
    for (std::size_t offset = 0; offset + sizeof(void*) <= sizeof(Table); offset += sizeof(void*)) {
        if (std::find(data_offsets.begin(), data_offsets.end(), offset) != data_offsets.end()) continue;
        const void* slot = nullptr;
        std::memcpy(&slot, reinterpret_cast<const char*>(&table) + offset, sizeof slot);
        slots.push_back(slot);
    }
    return slots;
}

TEST_F(StandaloneSuites, InDataIsTheHostsRecordFilledThroughout) {
    host().set_time(48, 2, 24);
    PF_InData seen{};
    ASSERT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  seen = *in;
                  return PF_Err_NONE;
              }),
              PF_Err_NONE);
    EXPECT_EQ(seen.version.major, 13);
    EXPECT_EQ(seen.version.minor, 28);
    EXPECT_EQ(seen.quality, PF_Quality_HI);
    EXPECT_EQ(seen.field, PF_Field_FRAME);
    EXPECT_EQ(seen.current_time, 48);
    EXPECT_EQ(seen.time_step, 2);
    EXPECT_EQ(seen.time_scale, 24u);
    EXPECT_EQ(seen.pixel_aspect_ratio.num, 1);
    EXPECT_EQ(seen.pixel_aspect_ratio.den, 1u);
    EXPECT_EQ(seen.downsample_x.den, 1u);
    EXPECT_NE(seen.pica_basicP, nullptr);
    EXPECT_NE(seen.utils, nullptr);

    // Beyond the data members (get_batch_func_is_deprecated, the ANSI
    // table's trailing word and padding, the last word), no slot is empty.
    const auto utils = function_slots(*seen.utils, {24, 360, 544});
    const auto inter = function_slots(seen.inter, {72, 80, 88, 96, 104, 112, 120, 128, 136, 144, 152, 160, 168});
    EXPECT_EQ(utils.size(), 39u + 19u + 8u);
    EXPECT_EQ(inter.size(), 9u);
    for (const auto* slots : {&utils, &inter}) {
        EXPECT_EQ(std::count(slots->begin(), slots->end(), nullptr), 0);
    }
}

// Functions this host does not offer answer an error, and the ledger holds
// the call against the effect.
TEST_F(StandaloneSuites, UnofferedFunctionsAnswerAnErrorAndAreNoted) {
    PF_Err util_err = PF_Err_NONE;
    PF_Err inter_err = PF_Err_NONE;
    PF_Err suite_err = PF_Err_NONE;
    ASSERT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  util_err = in->utils->premultiply(in->effect_ref, 1, nullptr);
                  inter_err = in->inter.register_ui(in->effect_ref, nullptr);
                  auto* utility = acquire<AEGP_UtilitySuite3>(in, kAEGPUtilitySuite, kAEGPUtilitySuiteVersion3);
                  suite_err = utility->AEGP_WriteToOSConsole("text");
                  in->pica_basicP->ReleaseSuite(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion3);
                  return PF_Err_NONE;
              }),
              PF_Err_NONE);
    EXPECT_EQ(util_err, PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(inter_err, PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(suite_err, PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(host().log().count("premultiply"), 1u);
    EXPECT_EQ(host().ledger().errors().size(), 3u);
    EXPECT_FALSE(host().balanced());
}

}  // namespace
