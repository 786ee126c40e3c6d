// Parameter UI updates: the state snapshot in the sequence block, the ready
// flag, the refresh request, through the entry point and the standalone host.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "params/params.h"
#include "tests/support/boundary_host.h"

namespace {

class ParamsUi : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        ASSERT_EQ(host().setup_all(), PF_Err_NONE);
    }

    // One update with `flags` already in the out-data.
    PF_Err update(A_long flags = 0, PF_Cmd cmd = PF_Cmd_UPDATE_PARAMS_UI) {
        host().prepare_call();
        out().out_flags = flags;
        host().log().clear();
        return host().call(cmd, nullptr);
    }
};

TEST_F(ParamsUi, FirstCallTakesASnapshotWithoutComparing) {
    const PF_Handle one_byte = in().sequence_data;
    ASSERT_EQ(host().handle_size(one_byte), 1u);
    EXPECT_EQ(update(), PF_Err_NONE);
    // The one-byte block is never handed over as a state.
    EXPECT_EQ(count("PF_HasParamChanged"), 0u);
    EXPECT_EQ(count("PF_GetCurrentState"), 1u);
    EXPECT_FALSE(host().handle_alive(one_byte));
    ASSERT_NE(out().sequence_data, nullptr);
    EXPECT_EQ(host().handle_size(out().sequence_data), 16u);
    EXPECT_EQ(in().sequence_data, out().sequence_data);
    const PF_State now = host().current_state();
    EXPECT_EQ(std::memcmp(host().handle_data(out().sequence_data), &now, sizeof(now)), 0);
    EXPECT_EQ(out().out_flags, PF_OutFlag_REFRESH_UI);
    EXPECT_EQ(global_block()->ready, 1);
}

TEST_F(ParamsUi, NoChangeComparesOnceAndKeepsTheBlock) {
    ASSERT_EQ(update(), PF_Err_NONE);
    const PF_Handle state = in().sequence_data;
    const long allocated = host().handles_allocated();
    EXPECT_EQ(update(0x1 | 0x100000), PF_Err_NONE);
    EXPECT_EQ(count("PF_HasParamChanged"), 1u);
    EXPECT_EQ(calls("PF_HasParamChanged")[0].int_arg(0), PF_ParamIndex_CHECK_ALL_HONOR_EXCLUDE);
    EXPECT_EQ(count("PF_GetCurrentState"), 0u);
    EXPECT_EQ(host().handles_allocated(), allocated);
    EXPECT_EQ(count("host_dispose_handle"), 0u);
    EXPECT_EQ(in().sequence_data, state);
    EXPECT_EQ(out().sequence_data, nullptr);
    EXPECT_EQ(out().out_flags, 0x1 | 0x100000 | PF_OutFlag_REFRESH_UI);
    EXPECT_EQ(out().return_msg[0], '\0');
}

TEST_F(ParamsUi, ChangeReplacesTheSnapshot) {
    for (PF_Cmd cmd : {PF_Cmd_UPDATE_PARAMS_UI, PF_Cmd_USER_CHANGED_PARAM}) {
        SCOPED_TRACE(cmd);
        ASSERT_EQ(update(), PF_Err_NONE);
        const PF_Handle old = in().sequence_data;
        host().set_param(PARAM_SEED, cmd == PF_Cmd_UPDATE_PARAMS_UI ? 17 : 18);
        EXPECT_EQ(update(0, cmd), PF_Err_NONE);
        EXPECT_EQ(count("PF_HasParamChanged"), 1u);
        EXPECT_FALSE(host().handle_alive(old));
        ASSERT_NE(out().sequence_data, nullptr);
        EXPECT_NE(out().sequence_data, old);
        EXPECT_EQ(in().sequence_data, out().sequence_data);
        EXPECT_EQ(host().handle_size(out().sequence_data), 16u);
        const PF_State now = host().current_state();
        EXPECT_EQ(std::memcmp(host().handle_data(out().sequence_data), &now, sizeof(now)), 0);
        EXPECT_EQ(global_block()->ready, 1);
        EXPECT_EQ(out().out_flags, PF_OutFlag_REFRESH_UI);
    }
}

TEST_F(ParamsUi, NotReadyTakesASnapshotWithoutAChange) {
    ASSERT_EQ(update(), PF_Err_NONE);
    const PF_Handle old = in().sequence_data;
    global_block()->ready = 0;
    EXPECT_EQ(update(), PF_Err_NONE);
    EXPECT_EQ(count("PF_HasParamChanged"), 1u);
    EXPECT_EQ(count("PF_GetCurrentState"), 1u);
    EXPECT_FALSE(host().handle_alive(old));
    EXPECT_EQ(host().handle_size(in().sequence_data), 16u);
    EXPECT_EQ(global_block()->ready, 1);
}

struct HostError {
    const char* what;
    standalone::FaultTarget function;
    bool not_ready;
};

TEST_F(ParamsUi, HostErrorShowsErrorAndKeepsTheBlock) {
    const HostError rows[] = {
        {"comparison fails", standalone::FaultTarget::has_param_changed, false},
        {"comparison fails while not ready", standalone::FaultTarget::has_param_changed, true},
        {"state fails", standalone::FaultTarget::get_current_state, false},
    };
    for (const HostError& row : rows) {
        SCOPED_TRACE(row.what);
        host().faults().clear();
        ASSERT_EQ(update(), PF_Err_NONE);
        host().set_param(PARAM_SEED, row.not_ready ? 3 : 4);  // a change, so the state is asked for
        const PF_Handle old = in().sequence_data;
        global_block()->ready = row.not_ready ? 0 : 1;
        host().faults().fail_callback(row.function, 555);
        const std::size_t handles = host().live_handles();

        EXPECT_EQ(update(0x1 | 0x40), 555);
        EXPECT_EQ(out().out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE | PF_OutFlag_REFRESH_UI);
        EXPECT_EQ(return_msg(), "ERROR");
        EXPECT_TRUE(host().handle_alive(old));
        EXPECT_EQ(in().sequence_data, old);
        EXPECT_EQ(out().sequence_data, nullptr);
        // ready is left as it was.
        EXPECT_EQ(global_block()->ready, row.not_ready ? 0 : 1);
        // A state handle taken but not stored went back.
        EXPECT_EQ(host().live_handles(), handles);
        global_block()->ready = 1;
    }
}

TEST_F(ParamsUi, NoHandleForTheSnapshotStillCountsAsReady) {
    ASSERT_EQ(update(), PF_Err_NONE);
    const PF_Handle old = in().sequence_data;
    global_block()->ready = 0;
    host().faults().fail_allocation(1);
    EXPECT_EQ(update(), PF_Err_NONE);
    EXPECT_EQ(count("PF_GetCurrentState"), 0u);
    EXPECT_TRUE(host().handle_alive(old));
    EXPECT_EQ(in().sequence_data, old);
    EXPECT_EQ(global_block()->ready, 1);
    EXPECT_EQ(out().out_flags, PF_OutFlag_REFRESH_UI);
}

TEST_F(ParamsUi, WithoutGlobalDataOnlyRefreshes) {
    host().prepare_call();
    const PF_Handle global = in().global_data;
    const A_u_char ready = global_block()->ready;
    in().global_data = nullptr;
    out().out_flags = 0x1;
    host().log().clear();
    EXPECT_EQ(host().call(PF_Cmd_UPDATE_PARAMS_UI, nullptr), PF_Err_NONE);
    EXPECT_EQ(out().out_flags, 0x1 | PF_OutFlag_REFRESH_UI);
    EXPECT_TRUE(effect_calls().empty()) << ::testing::PrintToString(effect_calls());
    EXPECT_EQ(out().sequence_data, nullptr);
    in().global_data = global;
    EXPECT_EQ(global_block()->ready, ready);
}

TEST_F(ParamsUi, WithoutSequenceDataTakesTheFirstSnapshot) {
    host().prepare_call();
    const PF_Handle kept = in().sequence_data;
    in().sequence_data = nullptr;
    host().log().clear();
    EXPECT_EQ(host().call(PF_Cmd_UPDATE_PARAMS_UI, nullptr), PF_Err_NONE);
    EXPECT_EQ(count("PF_HasParamChanged"), 0u);
    ASSERT_NE(out().sequence_data, nullptr);
    EXPECT_EQ(host().handle_size(out().sequence_data), 16u);
    // The host's own block was not the effect's to dispose in this call.
    EXPECT_TRUE(host().handle_alive(kept));
    // The host keeps the snapshot; the block it had set aside goes away.
    const PF_Handle snapshot = in().sequence_data;
    host().prepare_call();
    in().sequence_data = kept;
    EXPECT_EQ(host().call(PF_Cmd_SEQUENCE_SETDOWN, nullptr), PF_Err_NONE);
    EXPECT_FALSE(host().handle_alive(kept));
    in().sequence_data = snapshot;
}

TEST_F(ParamsUi, SuitesAreReleasedInTheirFixedOrder) {
    ASSERT_EQ(update(), PF_Err_NONE);
    host().set_param(PARAM_MODE, 2);
    ASSERT_EQ(update(), PF_Err_NONE);
    // Acquired param utils first, then handles; given back in the cache's order.
    std::vector<std::string> acquired;
    for (const auto& call : calls("AcquireSuite")) {
        acquired.push_back(call.str_arg(0));
    }
    std::vector<std::string> released;
    for (const auto& call : calls("ReleaseSuite")) {
        released.push_back(call.str_arg(0));
    }
    EXPECT_EQ(acquired, (std::vector<std::string>{"PF Param Utils Suite", "PF Handle Suite"}));
    EXPECT_EQ(released, (std::vector<std::string>{"PF Param Utils Suite", "PF Handle Suite"}));
    EXPECT_EQ(count("host_dispose_handle"), 1u);
}

TEST_F(ParamsUi, NeverChangesAControl) {
    const A_long values[][3] = {{1, 0, 0}, {3, 1, 50000}, {2, 0, 7}};
    for (const auto& v : values) {
        host().set_param(PARAM_MODE, v[0]);
        host().set_param(PARAM_ON_ORIGINAL, v[1]);
        host().set_param(PARAM_SEED, v[2]);
        EXPECT_EQ(update(), PF_Err_NONE);
        EXPECT_EQ(update(0, PF_Cmd_USER_CHANGED_PARAM), PF_Err_NONE);
    }
    EXPECT_EQ(host().update_param_ui_calls(), 0);
    EXPECT_EQ(host().params().count(), 11);
    for (PF_ParamIndex id = 1; id <= 11; ++id) {
        EXPECT_EQ(host().params().declared(id)->ui_flags, 0);
        EXPECT_EQ(host().params().declared(id)->flags, 0);
    }
}

}  // namespace
