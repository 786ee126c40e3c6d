// Pre-render: the values packed for the render, the input check-out and the
// output area, through the entry point and the standalone host.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "params/params.h"
#include "render/pre_render.h"
#include "tests/support/boundary_host.h"

namespace {

using standalone::FaultTarget;

class PreRender : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        ASSERT_EQ(host().setup_all(), PF_Err_NONE);
        host().set_input(std::make_shared<standalone::World>(40, 30, PF_PixelFormat_ARGB32));
        options_.pre_render_only = true;
    }

    // Runs one pre-render; the frame stays open so its data can be read.
    PF_Err run() {
        host().log().clear();
        result_ = host().render_frame(options_);
        return result_.pre_render_err;
    }

    const PreRenderInfo* info() {
        auto handle = static_cast<PF_Handle>(result_.pre_render_output.pre_render_data);
        return static_cast<const PreRenderInfo*>(host().handle_data(handle));
    }

    std::vector<PF_ParamIndex> checkouts() const {
        std::vector<PF_ParamIndex> ids;
        for (const standalone::LoggedCall& call : calls("checkout_param")) {
            ids.push_back(static_cast<PF_ParamIndex>(call.int_arg(0)));
        }
        return ids;
    }

    standalone::RenderOptions options_;
    standalone::RenderResult result_;
};

struct WidthCase {
    A_long max_width;
    PF_RationalScale downsample;
    A_long expected;
};

TEST_F(PreRender, HalfMaxWidthThroughTheHost) {
    const WidthCase rows[] = {
        {300, {1, 1}, 150},  // 150.5 truncated
        {301, {1, 1}, 151},
        {300, {1, 2}, 75},   // 75.5 truncated
        {2, {1, 4}, 1},      // 0.75 → 0, raised to 1
        {5000, {1, 1}, 2500},
        {300, {1, 0}, 150},  // no denominator: full resolution
        {300, {-1, 1}, 1},   // a negative scale is no width
        {INT_MAX, {INT_MAX, 1}, INT_MAX},
    };
    for (const WidthCase& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.max_width << " at " << row.downsample.num << "/"
                                          << row.downsample.den);
        host().set_param(PARAM_MAX_WIDTH, row.max_width);
        options_.downsample_x = row.downsample;
        ASSERT_EQ(run(), PF_Err_NONE);
        ASSERT_NE(info(), nullptr);
        EXPECT_EQ(info()->half_max_width, row.expected);
        host().end_frame();
    }
}

TEST(HalfMaxWidth, EdgesOfTheConversion) {
    EXPECT_EQ(half_max_width(300, {1, 1}), 150);
    EXPECT_EQ(half_max_width(300, {1, 0}), 150);
    EXPECT_EQ(half_max_width(300, {0, 1}), 1);
    EXPECT_EQ(half_max_width(1, {1, 1}), 1);    // exactly 1.0
    EXPECT_EQ(half_max_width(1, {1, 3}), 1);    // 0.666…
    EXPECT_EQ(half_max_width(0, {1, 1}), 0);    // not positive: unchanged
    EXPECT_EQ(half_max_width(-7, {1, 0}), -7);
    EXPECT_EQ(half_max_width(INT_MAX, {INT_MAX, 1}), INT_MAX);
    EXPECT_EQ(half_max_width(INT_MAX, {1, 1}), 1073741824);
    EXPECT_EQ(half_max_width(INT_MAX, {2, 1}), INT_MAX);  // 2147483647.5: still in range, truncated
    EXPECT_EQ(half_max_width(INT_MAX, {INT_MIN, 1}), 1);
    EXPECT_EQ(half_max_width(4, {1, 4294967295u}), 1);
}

TEST_F(PreRender, DefaultFractionsAndValues) {
    host().set_param(PARAM_MODE, 2);
    host().set_param(PARAM_SEED, 4321);
    host().set_param(PARAM_ON_ORIGINAL, 1);
    host().set_param(PARAM_VARIOUS_DIRECTIONS, 1);
    host().set_param(PARAM_BLEND_MODE, 7);
    host().set_path_param(PARAM_PATH, 9);
    ASSERT_EQ(run(), PF_Err_NONE);
    const PreRenderInfo* record = info();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(host().handle_size(static_cast<PF_Handle>(result_.pre_render_output.pre_render_data)),
              sizeof(PreRenderInfo));
    EXPECT_EQ(record->time_fraction, 0.5);
    EXPECT_EQ(record->min_width_fraction, 0x140000 / 65536.0 * 0.01);
    EXPECT_DOUBLE_EQ(record->min_width_fraction, 0.2);
    EXPECT_EQ(record->opacity, 1.0);
    EXPECT_EQ(record->half_max_width, 150);
    EXPECT_EQ(record->mode, RevealMode::Discrete1);
    EXPECT_EQ(record->seed, 4321);
    EXPECT_EQ(record->on_original, 1);
    EXPECT_EQ(record->various_directions, 1);
    EXPECT_EQ(record->blend_mode, BlendMode::ColorDodge);
    EXPECT_EQ(record->path_id, 9);
    EXPECT_NE(result_.pre_render_output.delete_pre_render_data_func, nullptr);
}

TEST_F(PreRender, FractionsMultiplyByOneHundredth) {
    // 33.3 % as the host stores it: the fraction is value / 65536 × 0.01.
    host().set_param(PARAM_TIME, 0x214CCC);
    host().set_param(PARAM_OPACITY, 0);
    ASSERT_EQ(run(), PF_Err_NONE);
    EXPECT_EQ(info()->time_fraction, static_cast<double>(0x214CCC) / 65536.0 * 0.01);
    EXPECT_EQ(info()->opacity, 0.0);
}

// Which parameters, each once; the host does not care in which order.
TEST_F(PreRender, ChecksOutTenParametersAndBackIn) {
    ASSERT_EQ(run(), PF_Err_NONE);
    std::vector<PF_ParamIndex> ids = checkouts();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<PF_ParamIndex>{1, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    EXPECT_EQ(count("checkin_param"), 10u);
    EXPECT_TRUE(host().ledger().params_out().empty());
    EXPECT_EQ(count("checkout_layer"), 1u);
}

TEST_F(PreRender, RequestDiffersOnlyInPreservingZeroAlphaColour) {
    PF_RenderRequest request{};
    request.rect = {3, 4, 25, 17};
    request.field = 2;
    request.channel_mask = 0x5;
    request.preserve_rgb_of_zero_alpha = 0;
    request.unused[0] = 9;
    request.reserved[0] = 11;
    request.reserved[3] = -12;
    options_.request = request;
    ASSERT_EQ(run(), PF_Err_NONE);
    ASSERT_EQ(result_.layer_checkouts.size(), 1u);
    const standalone::LayerCheckout& checkout = result_.layer_checkouts[0];
    EXPECT_EQ(checkout.index, 0);
    EXPECT_EQ(checkout.checkout_id, 0);
    PF_RenderRequest expected = request;
    expected.preserve_rgb_of_zero_alpha = 1;
    EXPECT_EQ(std::memcmp(&checkout.request, &expected, sizeof(expected)), 0);
    EXPECT_EQ(std::memcmp(&result_.request_sent, &request, sizeof(request)), 0);
}

struct RectCase {
    const char* what;
    PF_LRect preset;
    PF_LRect expected;
};

TEST_F(PreRender, OutputRectanglesMergeTheInputs) {
    // The host's input gives its whole 40×30 frame.
    const RectCase rows[] = {
        {"empty output takes the input", {0, 0, 0, 0}, {0, 0, 40, 30}},
        {"non-empty output grows", {-5, 10, 20, 50}, {-5, 0, 40, 50}},
        {"inside stays the input", {10, 10, 20, 20}, {0, 0, 40, 30}},
    };
    for (const RectCase& row : rows) {
        SCOPED_TRACE(row.what);
        options_.preset_result_rect = row.preset;
        options_.preset_max_result_rect = row.preset;
        ASSERT_EQ(run(), PF_Err_NONE);
        for (const PF_LRect& got : {result_.pre_render_output.result_rect, result_.pre_render_output.max_result_rect}) {
            EXPECT_EQ(got.left, row.expected.left);
            EXPECT_EQ(got.top, row.expected.top);
            EXPECT_EQ(got.right, row.expected.right);
            EXPECT_EQ(got.bottom, row.expected.bottom);
        }
        host().end_frame();
    }
}

TEST_F(PreRender, EmptyInputLeavesOutputRectangle) {
    host().set_input(std::make_shared<standalone::World>(0, 0, PF_PixelFormat_ARGB32));
    options_.preset_result_rect = {1, 2, 3, 4};
    ASSERT_EQ(run(), PF_Err_NONE);
    const PF_LRect got = result_.pre_render_output.result_rect;
    EXPECT_EQ(got.left, 1);
    EXPECT_EQ(got.top, 2);
    EXPECT_EQ(got.right, 3);
    EXPECT_EQ(got.bottom, 4);
}

TEST_F(PreRender, FailingCheckoutStopsTheSequence) {
    host().faults().fail_checkout_param(PARAM_MAX_WIDTH, 4711);
    EXPECT_EQ(run(), 4711);
    EXPECT_EQ(checkouts(), (std::vector<PF_ParamIndex>{1, 3, 5}));
    EXPECT_EQ(count("checkout_layer"), 0u);
    EXPECT_TRUE(result_.layer_checkouts.empty());
    // What was checked out went back; the handle is the host's.
    EXPECT_EQ(count("checkin_param"), 2u);
    EXPECT_TRUE(host().ledger().params_out().empty());
    EXPECT_NE(result_.pre_render_output.pre_render_data, nullptr);
    EXPECT_EQ(result_.pre_render_output.result_rect.right, 0);
    host().end_frame(&result_);
    EXPECT_TRUE(result_.delete_func_called);
    EXPECT_EQ(host().live_handles(), 2u);  // global and sequence blocks
}

TEST_F(PreRender, FailingInputCheckoutLeavesRectangles) {
    host().faults().fail_callback(FaultTarget::checkout_layer, 33);
    options_.preset_result_rect = {1, 1, 2, 2};
    EXPECT_EQ(run(), 33);
    EXPECT_EQ(result_.pre_render_output.result_rect.right, 2);
    EXPECT_EQ(count("checkin_param"), 10u);
    EXPECT_NE(result_.pre_render_output.pre_render_data, nullptr);
}

TEST_F(PreRender, HandleFailuresAreOutOfMemoryWithNothingLeaked) {
    for (int lock : {0, 1}) {
        SCOPED_TRACE(lock ? "lock" : "allocation");
        host().faults().clear();
        if (lock) {
            host().faults().fail_lock(1);
        } else {
            host().faults().fail_allocation(1);
        }
        const std::size_t before = host().live_handles();
        EXPECT_EQ(run(), PF_Err_OUT_OF_MEMORY);
        EXPECT_EQ(result_.pre_render_output.pre_render_data, nullptr);
        EXPECT_EQ(count("checkout_param"), 0u);
        host().end_frame();
        EXPECT_EQ(host().live_handles(), before);
    }
}

// The host gets the record unlocked, whether it was filled or not.
TEST_F(PreRender, RecordIsHandedOverUnlockedOnEveryExit) {
    for (int failure : {0, 1, 2}) {
        SCOPED_TRACE(failure);
        host().faults().clear();
        if (failure == 1) host().faults().fail_checkout_param(PARAM_TIME, 4711);
        if (failure == 2) host().faults().fail_callback(FaultTarget::checkout_layer, 33);
        EXPECT_EQ(run(), failure == 0 ? PF_Err_NONE : failure == 1 ? 4711 : 33);
        const auto handle = static_cast<PF_Handle>(result_.pre_render_output.pre_render_data);
        ASSERT_TRUE(host().handle_alive(handle));
        EXPECT_EQ(host().handle_lock_count(handle), 0);
        host().end_frame(&result_);
    }
}

// The host may drop a frame after its pre-render; its delete function, given
// nothing but the data, still gives the record back: frame after frame, no
// handle stays behind.
TEST_F(PreRender, DeleteFunctionDisposesTheRecordWithoutARender) {
    const std::size_t before = host().live_handles();
    for (int frame = 0; frame < 3; ++frame) {
        SCOPED_TRACE(frame);
        ASSERT_EQ(run(), PF_Err_NONE);
        const auto handle = static_cast<PF_Handle>(result_.pre_render_output.pre_render_data);
        ASSERT_TRUE(host().handle_alive(handle));
        host().end_frame(&result_);
        EXPECT_TRUE(result_.delete_func_called);
        EXPECT_FALSE(host().handle_alive(handle));
        EXPECT_EQ(host().live_handles(), before);
        EXPECT_EQ(count("host_dispose_handle"), 1u);
    }
    std::string why;
    EXPECT_TRUE(host().balanced(&why)) << why;
}

TEST_F(PreRender, WholeFrameLeavesNoHandleBehind) {
    options_.pre_render_only = false;
    const std::size_t before = host().live_handles();
    const standalone::RenderResult result = host().render_frame(options_);
    EXPECT_EQ(result.pre_render_err, PF_Err_NONE);
    EXPECT_TRUE(result.delete_func_called);
    EXPECT_EQ(host().live_handles(), before);
}

}  // namespace
