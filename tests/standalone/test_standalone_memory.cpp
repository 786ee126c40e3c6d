// Memory handles: the ledger, the kept handles and injected failures.
#include <cstring>

#include "tests/support/standalone_fixture.h"

namespace {

using standalone_test::acquire;
using standalone_test::ScriptedHost;

using StandaloneHandles = ScriptedHost;

TEST_F(StandaloneHandles, LifecycleThroughBothRoutes) {
    PF_Handle a = nullptr;
    PF_Handle b = nullptr;
    ASSERT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  a = in->utils->host_new_handle(12);
                  auto* handles = acquire<PF_HandleSuite1>(in, kPFHandleSuite, kPFHandleSuiteVersion1);
                  b = handles->host_new_handle(3);
                  void* pa = in->utils->host_lock_handle(a);
                  EXPECT_EQ(pa, *a);  // the handle's first member is the data pointer
                  std::memset(pa, 7, 12);
                  EXPECT_EQ(in->utils->host_get_handle_size(a), 12u);
                  EXPECT_EQ(handles->host_resize_handle(40, &a), PF_Err_NONE);
                  EXPECT_EQ(static_cast<unsigned char*>(*a)[11], 7);
                  in->utils->host_unlock_handle(a);
                  handles->host_dispose_handle(b);
                  in->pica_basicP->ReleaseSuite(kPFHandleSuite, kPFHandleSuiteVersion1);
                  return PF_Err_NONE;
              }),
              PF_Err_NONE);
    EXPECT_TRUE(host().handle_alive(a));
    EXPECT_FALSE(host().handle_alive(b));
    EXPECT_EQ(host().handle_size(a), 40u);
    EXPECT_EQ(host().handle_lock_count(a), 0);
    EXPECT_EQ(host().handles_allocated(), 2);
    std::string text;
    EXPECT_FALSE(host().balanced(&text));
    EXPECT_NE(text.find("handle of 40 bytes alive"), std::string::npos) << text;

    ASSERT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  in->utils->host_dispose_handle(a);
                  return PF_Err_NONE;
              }),
              PF_Err_NONE);
    EXPECT_EQ(host().live_handles(), 0u);
    EXPECT_TRUE(host().balanced()) << why();
}

TEST_F(StandaloneHandles, MisuseIsRecordedNotFatal) {
    ASSERT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  PF_Handle h = in->utils->host_new_handle(4);
                  in->utils->host_unlock_handle(h);   // not locked
                  in->utils->host_dispose_handle(h);
                  in->utils->host_dispose_handle(h);  // twice
                  return PF_Err_NONE;
              }),
              PF_Err_NONE);
    EXPECT_EQ(host().ledger().errors().size(), 2u);
    EXPECT_FALSE(host().balanced());
}

TEST_F(StandaloneHandles, ResizeBeyondAnySizeIsRefusedBeforeAllocating) {
    PF_Handle h = nullptr;
    PF_Err err = PF_Err_NONE;
    ASSERT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  h = in->utils->host_new_handle(4);
                  std::memset(*h, 3, 4);
                  auto* handles = acquire<PF_HandleSuite1>(in, kPFHandleSuite, kPFHandleSuiteVersion1);
                  // Under the sanitizers an unguarded request this size aborts the process.
                  err = handles->host_resize_handle(~A_u_longlong{0}, &h);
                  in->pica_basicP->ReleaseSuite(kPFHandleSuite, kPFHandleSuiteVersion1);
                  return PF_Err_NONE;
              }),
              PF_Err_NONE);
    EXPECT_EQ(err, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(host().handle_size(h), 4u);
    EXPECT_EQ(static_cast<unsigned char*>(host().handle_data(h))[3], 3);
    EXPECT_TRUE(host().ledger().errors().empty());
}



// A lock the effect leaves when it disposes a handle is its fault; a lock
// left on the pre-render data it hands over is noted once, at hand-over, and
// excused when that data is disposed. A lock the render adds is not.
TEST_F(StandaloneHandles, DisposeWhileLockedIsReported) {
    ASSERT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  PF_Handle h = in->utils->host_new_handle(4);
                  in->utils->host_lock_handle(h);
                  in->utils->host_dispose_handle(h);
                  return PF_Err_NONE;
              }),
              PF_Err_NONE);
    ASSERT_EQ(host().ledger().errors().size(), 1u);
    EXPECT_NE(host().ledger().errors()[0].find("locked 1 time(s)"), std::string::npos);
    EXPECT_EQ(host().live_handles(), 0u);

    for (const bool render_unlocks : {true, false}) {
        SCOPED_TRACE(render_unlocks ? "render unlocks" : "render keeps its lock");
        host().ledger().clear();
        standalone_test::t_script = [render_unlocks](PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef**,
                                                     PF_LayerDef*, void* extra) {
            if (cmd == PF_Cmd_SMART_PRE_RENDER) {
                auto* pre = static_cast<PF_PreRenderExtra*>(extra);
                PF_Handle h = in->utils->host_new_handle(8);
                in->utils->host_lock_handle(h);
                standalone_test::t_delete_utils = in->utils;
                pre->output->pre_render_data = h;
                pre->output->delete_pre_render_data_func = standalone_test::dispose_pre_render_handle;
            } else if (cmd == PF_Cmd_SMART_RENDER) {
                auto* h = static_cast<PF_Handle>(static_cast<PF_SmartRenderExtra*>(extra)->input->pre_render_data);
                in->utils->host_lock_handle(h);
                if (render_unlocks) {
                    in->utils->host_unlock_handle(h);
                }
            }
            return PF_Err_NONE;
        };
        const standalone::RenderResult r = host().render_frame();
        EXPECT_TRUE(r.delete_func_called);
        EXPECT_EQ(host().live_handles(), 0u);
        ASSERT_EQ(host().ledger().locked_handovers().size(), 1u);
        EXPECT_NE(host().ledger().locked_handovers()[0].find("pre-render data locked 1 time(s)"), std::string::npos);
        EXPECT_EQ(host().balanced(), render_unlocks) << why();
    }
}

TEST_F(StandaloneHandles, NthAllocationAndLockFail) {
    host().faults().fail_allocation(2);
    host().faults().fail_lock(1);
    std::vector<PF_Handle> made;
    void* first_lock = reinterpret_cast<void*>(1);
    void* second_lock = nullptr;
    ASSERT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  for (int i = 0; i < 3; ++i) {
                      made.push_back(in->utils->host_new_handle(8));
                  }
                  first_lock = in->utils->host_lock_handle(made[0]);
                  second_lock = in->utils->host_lock_handle(made[0]);
                  in->utils->host_unlock_handle(made[0]);
                  for (PF_Handle h : made) {
                      if (h != nullptr) {
                          in->utils->host_dispose_handle(h);
                      }
                  }
                  return PF_Err_NONE;
              }),
              PF_Err_NONE);
    ASSERT_EQ(made.size(), 3u);
    EXPECT_NE(made[0], nullptr);
    EXPECT_EQ(made[1], nullptr);
    EXPECT_NE(made[2], nullptr);
    EXPECT_EQ(first_lock, nullptr);
    EXPECT_NE(second_lock, nullptr);
    EXPECT_TRUE(host().balanced()) << why();
}

TEST_F(StandaloneHandles, OutsideACommandNothingHappens) {
    PF_UtilCallbacks* utils = host().in_data().utils;
    EXPECT_EQ(utils->host_new_handle(8), nullptr);
    EXPECT_EQ(host().live_handles(), 0u);
}

TEST_F(StandaloneHandles, KeptHandlesFollowTheApplication) {
    standalone_test::t_script = [](PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef**, PF_LayerDef*, void*) {
        if (cmd == PF_Cmd_GLOBAL_SETUP) {
            out->global_data = in->utils->host_new_handle(8);
        } else if (cmd == PF_Cmd_SEQUENCE_SETUP) {
            out->sequence_data = in->utils->host_new_handle(1);
        } else if (cmd == PF_Cmd_SEQUENCE_SETDOWN) {
            in->utils->host_dispose_handle(in->sequence_data);
        }
        return PF_Err_NONE;
    };
    ASSERT_EQ(host().setup_all(), PF_Err_NONE);
    PF_Handle global = host().in_data().global_data;
    EXPECT_NE(global, nullptr);
    EXPECT_NE(host().in_data().sequence_data, nullptr);
    EXPECT_TRUE(host().balanced()) << why();  // both kept by the host

    // A later call with nothing in out_data keeps them.
    ASSERT_EQ(host().about(), PF_Err_NONE);
    EXPECT_EQ(host().in_data().global_data, global);
    EXPECT_EQ(host().out_data().global_data, nullptr);  // out_data is fresh per call

    ASSERT_EQ(host().sequence_setdown(), PF_Err_NONE);
    EXPECT_EQ(host().in_data().sequence_data, nullptr);
    ASSERT_EQ(host().global_setdown(), PF_Err_NONE);
    EXPECT_EQ(host().in_data().global_data, nullptr);
    EXPECT_EQ(host().live_handles(), 0u);
    EXPECT_TRUE(host().balanced()) << why();
}

TEST_F(StandaloneHandles, RawCallUsesPresetRecords) {
    A_long seen_flags = 0;
    standalone_test::t_script = [&](PF_Cmd, PF_InData*, PF_OutData* out, PF_ParamDef**, PF_LayerDef*, void*) {
        seen_flags = out->out_flags;
        return PF_Err_NONE;
    };
    host().prepare_call();
    host().out_data().out_flags = 0x55;
    EXPECT_EQ(host().call(PF_Cmd_GLOBAL_SETUP, nullptr), PF_Err_NONE);
    EXPECT_EQ(seen_flags, 0x55);
    host().prepare_call();
    EXPECT_EQ(host().out_data().out_flags, 0);
}

TEST_F(StandaloneHandles, EscapingExceptionBecomesAnError) {
    standalone_test::t_script = [](PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*) -> PF_Err {
        throw 42;
    };
    EXPECT_EQ(host().about(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_FALSE(host().balanced());
}

}  // namespace
