// The entry point, its small handlers and the suite cache, seen from the host.
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/suite_cache.h"
#include "tests/support/boundary_host.h"

namespace {

using standalone::FaultTarget;

constexpr const char* kAnsi = "PF ANSI Suite";
constexpr const char* kHandle = "PF Handle Suite";
constexpr const char* kUtility = "AEGP Utility Suite";
constexpr const char* kParamUtils = "PF Param Utils Suite";

// ---------------------------------------------------------------------------
// Dispatch
// ---------------------------------------------------------------------------

using Boundary = HostTest;

TEST_F(Boundary, CommandsWithoutHandlerAnswerNothingAndTouchNothing) {
    ASSERT_EQ(host().setup_all(), PF_Err_NONE);
    const std::vector<PF_Cmd> commands = {2,  3,  7,  9,  10, 11,   12,      15,      16,      18,
                                          19, 20, 21, 22, 25, 26,   1000,    INT_MAX, -1,      -23,
                                          -24, INT_MIN, static_cast<PF_Cmd>(0x80000000u + 1)};
    for (PF_Cmd cmd : commands) {
        SCOPED_TRACE(cmd);
        host().prepare_call();
        // On global set-down the application itself frees the global block;
        // keep it out of reach so only the effect's doing is seen.
        const PF_Handle global = in().global_data;
        if (cmd == PF_Cmd_GLOBAL_SETDOWN) {
            in().global_data = nullptr;
        }
        std::memset(&out(), 0x5A, sizeof(PF_OutData));
        out().global_data = nullptr;
        out().sequence_data = nullptr;
        out().frame_data = nullptr;
        unsigned char out_before[sizeof(PF_OutData)];
        unsigned char in_before[sizeof(PF_InData)];
        std::memcpy(out_before, &out(), sizeof(out_before));
        std::memcpy(in_before, &in(), sizeof(in_before));
        host().log().clear();
        const std::size_t handles = host().live_handles();

        char extra[16] = "untouched";
        EXPECT_EQ(host().call(cmd, extra), PF_Err_NONE);

        EXPECT_EQ(std::memcmp(&out(), out_before, sizeof(out_before)), 0);
        EXPECT_EQ(std::memcmp(&in(), in_before, sizeof(in_before)), 0);
        EXPECT_STREQ(extra, "untouched");
        EXPECT_TRUE(effect_calls().empty()) << ::testing::PrintToString(effect_calls());
        EXPECT_EQ(host().live_handles(), handles);
        in().global_data = global;
    }
}

TEST_F(Boundary, NullRecordsAreRefusedNotFollowed) {
    const PF_Cmd commands[] = {PF_Cmd_ABOUT,          PF_Cmd_GLOBAL_SETUP,       PF_Cmd_PARAMS_SETUP,
                               PF_Cmd_SEQUENCE_SETUP, PF_Cmd_SEQUENCE_RESETUP,   PF_Cmd_SEQUENCE_SETDOWN,
                               PF_Cmd_UPDATE_PARAMS_UI, PF_Cmd_USER_CHANGED_PARAM, PF_Cmd_COMPLETELY_GENERAL,
                               PF_Cmd_SMART_PRE_RENDER, PF_Cmd_SMART_RENDER};
    PF_FilterProc entry = module_->entry();
    PF_OutData out_data{};
    char text[] = "text";
    for (PF_Cmd cmd : commands) {
        SCOPED_TRACE(cmd);
        void* extra = cmd == PF_Cmd_COMPLETELY_GENERAL ? text : nullptr;
        EXPECT_EQ(entry(cmd, nullptr, &out_data, nullptr, nullptr, extra), PF_Err_BAD_CALLBACK_PARAM);
        // Set-down and pre-render never read the out-data.
        if (cmd != PF_Cmd_SEQUENCE_SETDOWN && cmd != PF_Cmd_SMART_PRE_RENDER) {
            host().prepare_call();
            EXPECT_EQ(entry(cmd, &in(), nullptr, nullptr, nullptr, extra), PF_Err_BAD_CALLBACK_PARAM);
        }
    }
    // The frame commands need their extra record, whole.
    host().prepare_call();
    EXPECT_EQ(entry(PF_Cmd_SMART_PRE_RENDER, &in(), &out(), nullptr, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(entry(PF_Cmd_SMART_RENDER, &in(), &out(), nullptr, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    PF_PreRenderInput input{};
    PF_PreRenderOutput output{};
    PF_PreRenderCallbacks callbacks{};
    const PF_PreRenderExtra partial[] = {
        {nullptr, &output, &callbacks}, {&input, nullptr, &callbacks}, {&input, &output, nullptr}};
    for (PF_PreRenderExtra extra : partial) {
        EXPECT_EQ(host().call(PF_Cmd_SMART_PRE_RENDER, &extra), PF_Err_BAD_CALLBACK_PARAM);
    }
    EXPECT_EQ(output.pre_render_data, nullptr);
    EXPECT_EQ(host().live_handles(), 0u);
}

// ---------------------------------------------------------------------------
// About and the general command
// ---------------------------------------------------------------------------

TEST_F(Boundary, AboutTextIsExact) {
    std::string message;
    EXPECT_EQ(host().about(&message), PF_Err_NONE);
    const char expected[] = {'N', 'o', 'r', 'v', 'e', 'x', 'L', 'a', 't', 't', 'i', 'c', 'e', ',',  ' ', 'v',
                             '1', '.', '0', '\r', 'R', 'i', 'v', 'u', 'z', 'o', 'v', 'e', 'z', 'o', 'd', '!', '\0'};
    EXPECT_EQ(std::memcmp(out().return_msg, expected, sizeof(expected)), 0) << out().return_msg;
    EXPECT_EQ(message, std::string(expected));
    EXPECT_EQ(message.find('\n'), std::string::npos);
    EXPECT_EQ(message.find("NorvexTrellis"), std::string::npos);
    EXPECT_EQ(acquisitions(kAnsi, 1), 1);
    EXPECT_EQ(releases(kAnsi, 1), 1);
}

TEST_F(Boundary, GeneralCommandEchoesText) {
    std::string message;
    EXPECT_EQ(host().completely_general("echo me 100% back", &message), PF_Err_NONE);
    EXPECT_EQ(message, "echo me 100% back");
}

TEST_F(Boundary, GeneralCommandKeepsFirst255Characters) {
    std::string text;
    for (int i = 0; i < 600; ++i) {
        text.push_back(static_cast<char>('a' + i % 26));
    }
    host().prepare_call();
    // A canary right behind the message buffer would show an overrun.
    const A_long flags2 = 0x13572468;
    out().out_flags2 = flags2;
    EXPECT_EQ(host().call(PF_Cmd_COMPLETELY_GENERAL, text.data()), PF_Err_NONE);
    EXPECT_EQ(std::string(out().return_msg), text.substr(0, 255));
    EXPECT_EQ(out().return_msg[255], '\0');
    EXPECT_EQ(out().out_flags2, flags2);

    const std::string exact(255, 'x');
    std::string message;
    EXPECT_EQ(host().completely_general(exact.c_str(), &message), PF_Err_NONE);
    EXPECT_EQ(message, exact);
}

TEST_F(Boundary, GeneralCommandWithoutTextGivesEmptyMessage) {
    host().prepare_call();
    std::strcpy(out().return_msg, "stale text");
    EXPECT_EQ(host().call(PF_Cmd_COMPLETELY_GENERAL, nullptr), PF_Err_NONE);
    EXPECT_EQ(return_msg(), "");
    EXPECT_EQ(out().out_flags, 0);
}

// ---------------------------------------------------------------------------
// Global set-up
// ---------------------------------------------------------------------------

TEST_F(Boundary, GlobalSetupAddsVersionFlagsAndBlock) {
    host().set_plugin_id(4242);
    host().prepare_call();
    out().out_flags = 0x1 | 0x100 | static_cast<A_long>(0x80000000u);
    out().out_flags2 = 0x3;
    EXPECT_EQ(host().call(PF_Cmd_GLOBAL_SETUP, nullptr), PF_Err_NONE);
    EXPECT_EQ(out().my_version, 0x80601u);
    EXPECT_EQ(out().out_flags, static_cast<A_long>(0x80000000u | 0x06000040u | 0x101u));
    EXPECT_EQ(out().out_flags2, 0x1400 | 0x3);
    ASSERT_NE(out().global_data, nullptr);
    EXPECT_EQ(host().handle_size(out().global_data), sizeof(GlobalBlock));
    EXPECT_EQ(host().handle_lock_count(out().global_data), 0);
    ASSERT_NE(global_block(), nullptr);
    EXPECT_EQ(global_block()->ready, 1);
    EXPECT_EQ(global_block()->plugin_id, 4242);
    EXPECT_EQ(host().registered_names(), std::vector<std::string>{"Error!"});
    EXPECT_EQ(out().return_msg[0], '\0');
    EXPECT_EQ(acquisitions(kHandle, kPFHandleSuiteVersion1), 1);
    EXPECT_EQ(acquisitions(kUtility, 7), 1);
    // Each suite released and the block unlocked (the ledger checks the
    // balance on tear-down); the order between them is the effect's own.
    EXPECT_EQ(count("AcquireSuite"), 2u);
    EXPECT_EQ(count("ReleaseSuite"), 2u);
    EXPECT_EQ(count("host_lock_handle"), 1u);
    EXPECT_EQ(count("host_unlock_handle"), 1u);
    EXPECT_EQ(count("AEGP_RegisterWithAEGP"), 1u);
}

struct GlobalFailure {
    const char* what;
    void (*arrange)(standalone::Host&);
    PF_Err result;
    bool version_and_flags;
};

TEST_F(Boundary, GlobalSetupFailures) {
    const GlobalFailure rows[] = {
        {"no basic suite", nullptr, PF_Err_BAD_CALLBACK_PARAM, false},
        {"handle suite refused", [](standalone::Host& h) { h.faults().refuse_suite(kHandle, kPFHandleSuiteVersion1); },
         PF_Err_BAD_CALLBACK_PARAM, true},
        {"utility suite refused", [](standalone::Host& h) { h.faults().refuse_suite(kUtility, 7); },
         PF_Err_BAD_CALLBACK_PARAM, true},
        {"no handle", [](standalone::Host& h) { h.faults().fail_allocation(1); }, PF_Err_INTERNAL_STRUCT_DAMAGED,
         true},
        {"no lock", [](standalone::Host& h) { h.faults().fail_lock(1); }, PF_Err_NONE, true},
        {"registration refused",
         [](standalone::Host& h) { h.faults().fail_callback(FaultTarget::register_with_aegp, 77); }, 77, true},
    };
    for (const GlobalFailure& row : rows) {
        SCOPED_TRACE(row.what);
        host_ = std::make_unique<standalone::Host>(module_);
        if (row.arrange != nullptr) {
            row.arrange(host());
        }
        host().prepare_call();
        if (row.arrange == nullptr) {
            in().pica_basicP = nullptr;
        }
        out().out_flags = 0x1;
        EXPECT_EQ(host().call(PF_Cmd_GLOBAL_SETUP, nullptr), row.result);
        EXPECT_EQ(out().my_version, row.version_and_flags ? 0x80601u : 0u);
        EXPECT_EQ(out().out_flags, row.version_and_flags ? 0x06000041 : 0x1);
        EXPECT_EQ(out().global_data, nullptr);
        EXPECT_EQ(out().return_msg[0], '\0');
        // Allocated but not kept: given back.
        EXPECT_EQ(host().live_handles(), 0u);
        std::string why;
        EXPECT_TRUE(host().balanced(&why)) << why;
    }
}

// ---------------------------------------------------------------------------
// Sequence set-up, re-set-up, set-down
// ---------------------------------------------------------------------------

TEST_F(Boundary, SequenceSetupMakesOneZeroByte) {
    ASSERT_EQ(host().global_setup(), PF_Err_NONE);
    ASSERT_EQ(host().sequence_setup(), PF_Err_NONE);
    const PF_Handle block = in().sequence_data;
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(host().handle_size(block), 1u);
    EXPECT_EQ(*static_cast<A_u_char*>(host().handle_data(block)), 0);
    EXPECT_EQ(host().handle_lock_count(block), 0);
}

TEST_F(Boundary, ResetupReplacesAStateBlockWithOneZeroByte) {
    ASSERT_EQ(host().setup_all(), PF_Err_NONE);
    ASSERT_EQ(host().update_params_ui(), PF_Err_NONE);
    const PF_Handle state = in().sequence_data;
    ASSERT_NE(state, nullptr);
    ASSERT_EQ(host().handle_size(state), 16u);

    host().log().clear();
    EXPECT_EQ(host().sequence_resetup(), PF_Err_NONE);
    EXPECT_FALSE(host().handle_alive(state));
    const PF_Handle fresh = in().sequence_data;
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(host().handle_size(fresh), 1u);
    EXPECT_EQ(*static_cast<A_u_char*>(host().handle_data(fresh)), 0);
    // Disposal and allocation share one acquisition of the handle suite.
    EXPECT_EQ(count("AcquireSuite"), 1u);
    EXPECT_EQ(count("ReleaseSuite"), 1u);
}

TEST_F(Boundary, ResetupDisposesBlocksOfAnySize) {
    ASSERT_EQ(host().setup_all(), PF_Err_NONE);
    // The host hands in a block saved with a project: a 1-byte block of a
    // previous session stands in for "any content".
    const PF_Handle saved = in().sequence_data;
    EXPECT_EQ(host().sequence_resetup(), PF_Err_NONE);
    EXPECT_FALSE(host().handle_alive(saved));
    EXPECT_EQ(host().handle_size(in().sequence_data), 1u);
}

struct SequenceFailure {
    const char* what;
    void (*arrange)(standalone::Host&);
    PF_Err result;
    bool old_disposed;
};

TEST_F(Boundary, SequenceSetupFailures) {
    const SequenceFailure rows[] = {
        {"no basic suite", nullptr, PF_Err_BAD_CALLBACK_PARAM, false},
        {"handle suite refused", [](standalone::Host& h) { h.faults().refuse_suite(kHandle, kPFHandleSuiteVersion1); },
         PF_Err_BAD_CALLBACK_PARAM, false},
        {"no handle", [](standalone::Host& h) { h.faults().fail_allocation(1); }, PF_Err_OUT_OF_MEMORY, true},
        {"no lock", [](standalone::Host& h) { h.faults().fail_lock(1); }, PF_Err_NONE, true},
    };
    for (const SequenceFailure& row : rows) {
        SCOPED_TRACE(row.what);
        host_ = std::make_unique<standalone::Host>(module_);
        ASSERT_EQ(host().setup_all(), PF_Err_NONE);
        const PF_Handle old = in().sequence_data;
        ASSERT_NE(old, nullptr);
        if (row.arrange != nullptr) {
            row.arrange(host());
        }
        host().prepare_call();
        if (row.arrange == nullptr) {
            in().pica_basicP = nullptr;
        }
        EXPECT_EQ(host().call(PF_Cmd_SEQUENCE_RESETUP, nullptr), row.result);
        EXPECT_EQ(host().handle_alive(old), !row.old_disposed);
        EXPECT_EQ(out().sequence_data, nullptr);
        EXPECT_EQ(out().return_msg[0], '\0');
        EXPECT_EQ(out().out_flags, 0);
        // Only what the host still keeps is alive: the global block and, if
        // it survived, the old sequence block.
        EXPECT_EQ(host().live_handles(), row.old_disposed ? 1u : 2u);
        if (row.old_disposed) {
            in().sequence_data = nullptr;  // the host forgets what the effect disposed
        }
        std::string why;
        EXPECT_TRUE(host().balanced(&why)) << why;
    }
}

TEST_F(Boundary, FailedResetupNeverHandsBackTheDisposedBlock) {
    ASSERT_EQ(host().setup_all(), PF_Err_NONE);
    const PF_Handle old = in().sequence_data;
    host().faults().fail_allocation(1);
    host().prepare_call();
    // A host that pre-fills the out-data with the current block.
    out().sequence_data = old;
    EXPECT_EQ(host().call(PF_Cmd_SEQUENCE_RESETUP, nullptr), PF_Err_OUT_OF_MEMORY);
    EXPECT_FALSE(host().handle_alive(old));
    EXPECT_EQ(out().sequence_data, nullptr);
}

TEST_F(Boundary, SetdownWithoutDataCallsNothing) {
    host().prepare_call();
    in().sequence_data = nullptr;
    in().pica_basicP = nullptr;  // not even a cache is built
    host().log().clear();
    EXPECT_EQ(host().call(PF_Cmd_SEQUENCE_SETDOWN, nullptr), PF_Err_NONE);
    EXPECT_TRUE(effect_calls().empty()) << ::testing::PrintToString(effect_calls());
}

TEST_F(Boundary, SetdownDisposesAndLeavesOutDataAlone) {
    ASSERT_EQ(host().setup_all(), PF_Err_NONE);
    const PF_Handle block = in().sequence_data;
    host().prepare_call();
    EXPECT_EQ(host().call(PF_Cmd_SEQUENCE_SETDOWN, nullptr), PF_Err_NONE);
    EXPECT_FALSE(host().handle_alive(block));
    EXPECT_EQ(out().sequence_data, nullptr);
    EXPECT_EQ(count("host_dispose_handle"), 1u);
}

// ---------------------------------------------------------------------------
// Suite refusal anywhere
// ---------------------------------------------------------------------------

struct Refusal {
    const char* what;
    const char* suite;
    A_long version;
    PF_Err (*run)(standalone::Host&);
};

TEST_F(Boundary, RefusedSuiteGives516AndReleasesTheRest) {
    const Refusal rows[] = {
        {"about", kAnsi, 1, [](standalone::Host& h) { return h.about(); }},
        {"general", kAnsi, 1, [](standalone::Host& h) { return h.completely_general("x"); }},
        {"global set-up, first suite", kHandle, kPFHandleSuiteVersion1, [](standalone::Host& h) { return h.global_setup(); }},
        {"global set-up, second suite", kUtility, 7, [](standalone::Host& h) { return h.global_setup(); }},
        {"re-set-up", kHandle, kPFHandleSuiteVersion1,
         [](standalone::Host& h) {
             h.faults().clear();
             EXPECT_EQ(h.setup_all(), PF_Err_NONE);
             h.faults().refuse_suite(kHandle, kPFHandleSuiteVersion1);
             return h.sequence_resetup();
         }},
        {"set-down", kHandle, kPFHandleSuiteVersion1,
         [](standalone::Host& h) {
             h.faults().clear();
             EXPECT_EQ(h.setup_all(), PF_Err_NONE);
             h.faults().refuse_suite(kHandle, kPFHandleSuiteVersion1);
             const PF_Handle block = h.in_data().sequence_data;
             const PF_Err err = h.sequence_setdown();
             // The block survived the failed set-down; a second one disposes it.
             h.faults().clear();
             h.prepare_call();
             h.in_data().sequence_data = block;
             EXPECT_EQ(h.call(PF_Cmd_SEQUENCE_SETDOWN, nullptr), PF_Err_NONE);
             return err;
         }},
        {"parameter UI, first suite", kParamUtils, kPFParamUtilsSuiteVersion1,
         [](standalone::Host& h) {
             h.faults().clear();
             EXPECT_EQ(h.setup_all(), PF_Err_NONE);
             h.faults().refuse_suite(kParamUtils, kPFParamUtilsSuiteVersion1);
             return h.update_params_ui();
         }},
        {"parameter UI, second suite", kHandle, kPFHandleSuiteVersion1,
         [](standalone::Host& h) {
             h.faults().clear();
             EXPECT_EQ(h.setup_all(), PF_Err_NONE);
             h.faults().refuse_suite(kHandle, kPFHandleSuiteVersion1);
             return h.update_params_ui();
         }},
        {"pre-render", kHandle, kPFHandleSuiteVersion1,
         [](standalone::Host& h) {
             h.faults().clear();
             EXPECT_EQ(h.setup_all(), PF_Err_NONE);
             h.set_input(std::make_shared<standalone::World>(4, 4, PF_PixelFormat_ARGB32));
             h.faults().refuse_suite(kHandle, kPFHandleSuiteVersion1);
             standalone::RenderOptions options;
             options.pre_render_only = true;
             const PF_Err err = h.render_frame(options).pre_render_err;
             h.end_frame();
             return err;
         }},
    };
    for (const Refusal& row : rows) {
        SCOPED_TRACE(row.what);
        host_ = std::make_unique<standalone::Host>(module_);
        host().faults().refuse_suite(row.suite, row.version);
        EXPECT_EQ(row.run(host()), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(out().return_msg[0], '\0');
        EXPECT_EQ(out().out_flags & PF_OutFlag_REFRESH_UI, 0);
        // Every suite acquired was released once, under the same name.
        EXPECT_TRUE(host().ledger().suites_held().empty());
        for (const char* name : {kAnsi, kHandle, kUtility, kParamUtils}) {
            for (A_long version : {1, 2, 7}) {
                EXPECT_EQ(acquisitions(name, version), releases(name, version)) << name << " " << version;
            }
        }
        std::string why;
        EXPECT_TRUE(host().balanced(&why)) << why;
    }
}

TEST_F(Boundary, NoBasicSuiteGives516Everywhere) {
    ASSERT_EQ(host().setup_all(), PF_Err_NONE);
    for (PF_Cmd cmd : {PF_Cmd_ABOUT, PF_Cmd_GLOBAL_SETUP, PF_Cmd_SEQUENCE_SETUP, PF_Cmd_SEQUENCE_SETDOWN,
                       PF_Cmd_UPDATE_PARAMS_UI, PF_Cmd_COMPLETELY_GENERAL}) {
        SCOPED_TRACE(cmd);
        host().prepare_call();
        in().pica_basicP = nullptr;
        out().out_flags = 0x1;
        char text[] = "x";
        const PF_Handle block = in().sequence_data;
        EXPECT_EQ(host().call(cmd, text), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(out().my_version, 0u);
        EXPECT_EQ(out().out_flags, 0x1);
        EXPECT_EQ(out().return_msg[0], '\0');
        EXPECT_TRUE(host().handle_alive(block));
        in().sequence_data = block;  // the host forgets it at set-down
    }
}

// ---------------------------------------------------------------------------
// The free suite functions and the rectangle union, on a host of their own:
// outside a command the standalone host answers nothing.
// ---------------------------------------------------------------------------

int PF_CALL format(A_char* dest, const A_char* fmt, ...);

struct FakeBasic {
    static inline std::vector<std::pair<std::string, A_long>> acquired;
    static inline std::vector<std::pair<std::string, A_long>> released;
    static inline bool refuse = false;
    static inline int suite = 0;
    static inline PF_ANSICallbacksSuite1 ansi{};

    static SPErr PF_CALL acquire(const char* name, A_long version, const void** out) {
        acquired.emplace_back(name, version);
        if (refuse) {
            return 1;
        }
        *out = std::string(name) == "PF ANSI Suite" ? static_cast<const void*>(&ansi) : &suite;
        return 0;
    }
    static SPErr PF_CALL release(const char* name, A_long version) {
        released.emplace_back(name, version);
        return 0;
    }
    static void reset() {
        acquired.clear();
        released.clear();
        refuse = false;
    }
};

// Longest text a format call asked for, whatever the destination holds.
std::size_t g_longest_format = 0;

int PF_CALL format(A_char* dest, const A_char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int wanted = std::vsnprintf(nullptr, 0, fmt, again);
    va_end(again);
    if (wanted > 0 && static_cast<std::size_t>(wanted) > g_longest_format) {
        g_longest_format = static_cast<std::size_t>(wanted);
    }
    const int n = std::vsnprintf(dest, sizeof(PF_OutData{}.return_msg), fmt, args);
    va_end(args);
    return n;
}

class FreeFunctions : public ::testing::Test {
protected:
    void SetUp() override {
        FakeBasic::reset();
        basic_.AcquireSuite = &FakeBasic::acquire;
        basic_.ReleaseSuite = &FakeBasic::release;
        utils_.ansi.sprintf = &format;
        FakeBasic::ansi.sprintf = &format;
        g_longest_format = 0;
        in_.utils = &utils_;
        in_.pica_basicP = &basic_;
        out_.out_flags = 0x20001;
    }
    SPBasicSuite basic_{};
    PF_UtilCallbacks utils_{};
    PF_InData in_{};
    PF_OutData out_{};
};

TEST_F(FreeFunctions, AcquireGivesTheSuite) {
    const void* suite = nullptr;
    EXPECT_EQ(acquire_suite_with_message(&in_, &out_, "PF World Suite", 2, "Couldn't load suite.", &suite),
              PF_Err_NONE);
    EXPECT_EQ(suite, &FakeBasic::suite);
    EXPECT_EQ(FakeBasic::acquired, (std::vector<std::pair<std::string, A_long>>{{"PF World Suite", 2}}));
    EXPECT_EQ(out_.out_flags, 0x20001);
    EXPECT_EQ(out_.return_msg[0], '\0');
    EXPECT_EQ(release_suite_with_message(&in_, &out_, "PF World Suite", 2, "Couldn't release suite."), PF_Err_NONE);
    EXPECT_EQ(FakeBasic::released, FakeBasic::acquired);
}

struct MessageCase {
    const char* what;
    bool release;
    bool basic;
    const char* message;
    const char* shown;
};

TEST_F(FreeFunctions, RefusalsShowTheirMessage) {
    const MessageCase rows[] = {
        {"acquire refused", false, true, "Couldn't load suite.", "Couldn't load suite."},
        {"acquire refused, default", false, true, nullptr, "Not able to acquire AEFX Suite."},
        {"acquire without basic suite", false, false, nullptr, "Not able to acquire AEFX Suite."},
        {"release without basic suite", true, false, "Couldn't release suite.", "Couldn't release suite."},
        {"release without basic suite, default", true, false, nullptr, "Not able to release AEFX Suite."},
        {"percent stays text", false, true, "100% %s %n", "100% %s %n"},
    };
    for (const MessageCase& row : rows) {
        SCOPED_TRACE(row.what);
        FakeBasic::reset();
        FakeBasic::refuse = true;
        in_.pica_basicP = row.basic ? &basic_ : nullptr;
        out_ = PF_OutData{};
        out_.out_flags = 0x20001;
        // Callers clear the pointer; without a basic suite it is not written.
        const void* suite = row.basic ? nullptr : &out_;
        const PF_Err err = row.release
                               ? release_suite_with_message(&in_, &out_, "AEGP Mask Suite", 1, row.message)
                               : acquire_suite_with_message(&in_, &out_, "AEGP Mask Suite", 1, row.message, &suite);
        EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_STREQ(out_.return_msg, row.shown);
        EXPECT_EQ(out_.out_flags, 0x20001 | PF_OutFlag_DISPLAY_ERROR_MESSAGE);
        if (!row.basic && !row.release) {
            EXPECT_EQ(suite, &out_);
        }
        EXPECT_TRUE(FakeBasic::released.empty());
    }
}

TEST_F(FreeFunctions, AcquireWithNullSuiteBackIsARefusal) {
    // The host claims success but hands back nothing.
    basic_.AcquireSuite = [](const char*, A_long, const void**) -> SPErr { return 0; };
    const void* suite = nullptr;
    EXPECT_EQ(acquire_suite_with_message(&in_, &out_, "PF World Suite", 2, "Couldn't load suite.", &suite),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(out_.return_msg, "Couldn't load suite.");
}

TEST_F(FreeFunctions, ReleaseResultIsIgnored) {
    basic_.ReleaseSuite = [](const char*, A_long) -> SPErr { return 99; };
    EXPECT_EQ(release_suite_with_message(&in_, &out_, "PF World Suite", 2, "Couldn't release suite."), PF_Err_NONE);
    EXPECT_EQ(out_.out_flags, 0x20001);
}

TEST_F(FreeFunctions, CacheReleasesInItsTableOrderUnderTheAcquiredNames) {
    {
        SuiteCache cache(&basic_);
        // Acquired in the opposite order of the table.
        cache.sampling_float_suite();
        cache.handle_suite();
        cache.ansi_suite();
        cache.utility_suite();
        cache.path_data_suite();
        cache.path_query_suite();
        cache.param_utils_suite();
        cache.sampling8_suite();
        cache.sampling16_suite();
        EXPECT_EQ(cache.handle_suite(), cache.handle_suite());
        EXPECT_TRUE(FakeBasic::released.empty());
    }
    using Pairs = std::vector<std::pair<std::string, A_long>>;
    EXPECT_EQ(FakeBasic::acquired.size(), 9u);
    EXPECT_EQ(FakeBasic::released, (Pairs{{"PF Path Query Suite", 1},
                                          {"PF Path Data Suite", 1},
                                          {"PF Param Utils Suite", 2},
                                          {"AEGP Utility Suite", 7},
                                          {"PF ANSI Suite", 1},
                                          {"PF Handle Suite", 2},
                                          {"PF Sampling8 Suite", 1},
                                          {"PF Sampling16 Suite", 1},
                                          {"PF SamplingFloat Suite", 1}}));
}

TEST_F(FreeFunctions, CacheRefusalThrowsAndReleasesEarlierSuites) {
    bool thrown = false;
    try {
        SuiteCache cache(&basic_);
        cache.handle_suite();
        FakeBasic::refuse = true;
        cache.ansi_suite();
    } catch (PF_Err& err) {
        thrown = true;
        EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    }
    EXPECT_TRUE(thrown);
    using Pairs = std::vector<std::pair<std::string, A_long>>;
    EXPECT_EQ(FakeBasic::released, (Pairs{{"PF Handle Suite", 2}}));

    thrown = false;
    try {
        SuiteCache cache(nullptr);
    } catch (PF_Err& err) {
        thrown = true;
        EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    }
    EXPECT_TRUE(thrown);
}

TEST_F(FreeFunctions, UnusedCacheCallsNothing) {
    { SuiteCache cache(&basic_); }
    EXPECT_TRUE(FakeBasic::acquired.empty());
    EXPECT_TRUE(FakeBasic::released.empty());
}

TEST_F(FreeFunctions, GeneralCommandNeverFormatsPastTheMessage) {
    // A host's sprintf knows no bound: the effect must not ask for more than
    // return_msg holds.
    const std::string text(1000, 'q');
    EXPECT_EQ(completely_general(&in_, &out_, nullptr, nullptr, const_cast<char*>(text.c_str())), PF_Err_NONE);
    EXPECT_EQ(g_longest_format, 255u);
    EXPECT_EQ(std::string(out_.return_msg), text.substr(0, 255));
    using Pairs = std::vector<std::pair<std::string, A_long>>;
    EXPECT_EQ(FakeBasic::acquired, (Pairs{{"PF ANSI Suite", 1}}));
    EXPECT_EQ(FakeBasic::released, FakeBasic::acquired);
}

struct UnionCase {
    PF_LRect dest;
    PF_LRect src;
    PF_LRect expected;
};

TEST(UnionRect, Cases) {
    const UnionCase rows[] = {
        {{0, 0, 0, 0}, {10, 20, 30, 40}, {10, 20, 30, 40}},       // empty destination takes the source
        {{0, 0, 5, 5}, {-3, 2, 4, 9}, {-3, 0, 5, 9}},             // smallest rectangle holding both
        {{1, 2, 8, 9}, {5, 5, 5, 50}, {1, 2, 8, 9}},              // empty source changes nothing
        {{1, 2, 8, 9}, {0, 7, 100, 7}, {1, 2, 8, 9}},             //   (empty in height)
        {{4, 4, 1, 9}, {7, 7, 3, 3}, {7, 7, 3, 3}},               // both empty: a copy of the source
        {{0, 5, 10, 5}, {2, 3, 4, 6}, {2, 3, 4, 6}},              // empty in height only
        {{2, 2, 6, 6}, {3, 3, 4, 4}, {2, 2, 6, 6}},               // inside
        {{INT_MIN, 0, 0, 1}, {0, -5, INT_MAX, -5}, {INT_MIN, 0, 0, 1}},
        {{INT_MIN, 0, 0, 1}, {0, -5, INT_MAX, 1}, {INT_MIN, -5, INT_MAX, 1}},
    };
    for (const UnionCase& row : rows) {
        PF_LRect dest = row.dest;
        union_rect(&row.src, &dest);
        EXPECT_EQ(dest.left, row.expected.left);
        EXPECT_EQ(dest.top, row.expected.top);
        EXPECT_EQ(dest.right, row.expected.right);
        EXPECT_EQ(dest.bottom, row.expected.bottom);
    }
}

}  // namespace
