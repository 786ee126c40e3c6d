// Masks and the path suites: a straight segment evaluated through the host,
// keyframed outlines, and the path ledgers.
#include "standalone/mask_store.h"
#include "tests/support/standalone_fixture.h"

namespace {

using standalone::FaultTarget;
using standalone::MaskShape;
using standalone::MaskVertex;
using standalone_test::acquire;
using standalone_test::ScriptedHost;

MaskShape line(double x0, double y0, double x1, double y1) {
    MaskShape shape;
    shape.vertices = {MaskVertex{x0, y0, 0, 0, 0, 0}, MaskVertex{x1, y1, 0, 0, 0, 0}};
    return shape;
}

TEST(StandaloneMasks, KeyframedOutlines) {
    standalone::MaskStore store;
    const PF_PathID id = store.add_keyframes({{0, line(0, 0, 10, 0)}, {10, line(10, 20, 30, 40)}});
    EXPECT_EQ(id, 1u);
    MaskShape at{};
    ASSERT_TRUE(store.shape_at(id, 5.0, &at));
    EXPECT_DOUBLE_EQ(at.vertices[0].x, 5.0);
    EXPECT_DOUBLE_EQ(at.vertices[0].y, 10.0);
    EXPECT_DOUBLE_EQ(at.vertices[1].x, 20.0);
    EXPECT_DOUBLE_EQ(at.vertices[1].y, 20.0);
    ASSERT_TRUE(store.shape_at(id, 50.0, &at));
    EXPECT_DOUBLE_EQ(at.vertices[1].y, 40.0);

    // Different vertex counts hold the earlier outline.
    MaskShape three = line(0, 0, 1, 1);
    three.vertices.push_back(MaskVertex{2, 2, 0, 0, 0, 0});
    const PF_PathID held = store.add_keyframes({{0, line(0, 0, 10, 0)}, {10, three}});
    ASSERT_TRUE(store.shape_at(held, 9.0, &at));
    EXPECT_EQ(at.vertices.size(), 2u);
    EXPECT_DOUBLE_EQ(at.vertices[1].x, 10.0);
    ASSERT_TRUE(store.shape_at(held, 10.0, &at));
    EXPECT_EQ(at.vertices.size(), 3u);

    EXPECT_FALSE(store.shape_at(0, 0.0, &at));
    EXPECT_FALSE(store.shape_at(77, 0.0, &at));
}

class StandalonePaths : public ScriptedHost {
protected:
    struct Walk {
        PF_Err err = PF_Err_NONE;
        PF_Boolean open = 0;
        A_long segments = -1;
        PF_PathVertex vertex{};
        double length = -1;
        double x = -1, y = -1, dx = -1, dy = -1;
    };

    // Walks segment 0 of path `id` at time `what_time` through the suites, as
    // the effect does; `cleanup` false leaves the preparation outstanding.
    Walk walk(PF_PathID id, A_long what_time, double t, bool cleanup = true) {
        Walk w;
        w.err = run([&](PF_InData* in, PF_OutData*) {
            auto* query = acquire<PF_PathQuerySuite1>(in, kPFPathQuerySuite, 1);
            auto* data = acquire<PF_PathDataSuite1>(in, kPFPathDataSuite, 1);
            PF_PathOutlinePtr path = nullptr;
            PF_Err e = query->PF_CheckoutPath(in->effect_ref, id, what_time, 1, 24, &path);
            if (e == PF_Err_NONE) {
                e = data->PF_PathIsOpen(in->effect_ref, path, &w.open);
            }
            if (e == PF_Err_NONE) {
                e = data->PF_PathNumSegments(in->effect_ref, path, &w.segments);
            }
            if (e == PF_Err_NONE) {
                e = data->PF_PathVertexInfo(in->effect_ref, path, 0, &w.vertex);
            }
            PF_PathSegPrepPtr prep = nullptr;
            if (e == PF_Err_NONE) {
                e = data->PF_PathPrepareSegLength(in->effect_ref, path, 0, 100, &prep);
            }
            if (e == PF_Err_NONE) {
                e = data->PF_PathGetSegLength(in->effect_ref, path, 0, &prep, &w.length);
            }
            if (e == PF_Err_NONE) {
                e = data->PF_PathEvalSegLengthDeriv1(in->effect_ref, path, &prep, 0, t, &w.x, &w.y, &w.dx, &w.dy);
            }
            if (prep != nullptr && cleanup) {
                data->PF_PathCleanupSegLength(in->effect_ref, path, 0, &prep);
                EXPECT_EQ(prep, nullptr);
            }
            if (path != nullptr && cleanup) {
                query->PF_CheckinPath(in->effect_ref, id, 0, path);
            }
            in->pica_basicP->ReleaseSuite(kPFPathQuerySuite, 1);
            in->pica_basicP->ReleaseSuite(kPFPathDataSuite, 1);
            return e;
        });
        return w;
    }
};

TEST_F(StandalonePaths, StraightSegmentThroughTheSuites) {
    const PF_PathID id = host().add_mask(line(2, 3, 8, 11));  // length 10
    const Walk w = walk(id, 0, 2.5);
    ASSERT_EQ(w.err, PF_Err_NONE);
    EXPECT_EQ(w.open, 1);
    EXPECT_EQ(w.segments, 1);
    EXPECT_DOUBLE_EQ(w.vertex.x, 2.0);
    EXPECT_DOUBLE_EQ(w.vertex.y, 3.0);
    EXPECT_DOUBLE_EQ(w.length, 10.0);
    EXPECT_DOUBLE_EQ(w.x, 2.0 + 6.0 * 0.25);
    EXPECT_DOUBLE_EQ(w.y, 3.0 + 8.0 * 0.25);
    EXPECT_DOUBLE_EQ(w.dx, 6.0);
    EXPECT_DOUBLE_EQ(w.dy, 8.0);
    EXPECT_TRUE(host().balanced()) << why();

    const auto evals = host().log().calls("PF_PathEvalSegLengthDeriv1");
    ASSERT_EQ(evals.size(), 1u);
    EXPECT_EQ(evals[0].int_arg(0), 0);
    EXPECT_DOUBLE_EQ(evals[0].real_arg(1), 2.5);
}

TEST_F(StandalonePaths, KeyframedMaskAtTheCallTime) {
    const PF_PathID id = host().add_mask_keyframes({{0, line(0, 0, 10, 0)}, {10, line(0, 0, 30, 0)}});
    const Walk w = walk(id, 5, 0.0);
    ASSERT_EQ(w.err, PF_Err_NONE);
    EXPECT_DOUBLE_EQ(w.length, 20.0);
}

TEST_F(StandalonePaths, ClosedOutlineSegments) {
    MaskShape square = line(0, 0, 4, 0);
    square.vertices.push_back(MaskVertex{4, 4, 0, 0, 0, 0});
    square.closed = true;
    const Walk w = walk(host().add_mask(square), 0, 0.0);
    ASSERT_EQ(w.err, PF_Err_NONE);
    EXPECT_EQ(w.open, 0);
    EXPECT_EQ(w.segments, 3);
}

TEST_F(StandalonePaths, LedgerCatchesWhatIsNotGivenBack) {
    const PF_PathID id = host().add_mask(line(0, 0, 10, 0));
    ASSERT_EQ(walk(id, 0, 1.0, false).err, PF_Err_NONE);
    std::string text;
    EXPECT_FALSE(host().balanced(&text));
    EXPECT_NE(text.find("path 1 checked out"), std::string::npos) << text;
    EXPECT_NE(text.find("seg-length preparation of segment 0 outstanding"), std::string::npos) << text;
}

TEST_F(StandalonePaths, FaultsAndBadArguments) {
    const PF_PathID id = host().add_mask(line(0, 0, 10, 0));
    host().faults().fail_callback(FaultTarget::path_get_seg_length, 55);
    EXPECT_EQ(walk(id, 0, 1.0).err, 55);
    host().faults().clear();
    host().faults().fail_callback(FaultTarget::checkout_path, 56, 2);
    EXPECT_EQ(walk(id, 0, 1.0).err, PF_Err_NONE);
    EXPECT_EQ(walk(id, 0, 1.0).err, 56);
    host().faults().clear();
    EXPECT_EQ(walk(999, 0, 1.0).err, PF_Err_BAD_CALLBACK_PARAM);  // no such mask
    EXPECT_TRUE(host().balanced()) << why();

    // A segment index past the end is refused before any geometry is asked.
    PF_Err err = run([&](PF_InData* in, PF_OutData*) {
        auto* query = acquire<PF_PathQuerySuite1>(in, kPFPathQuerySuite, 1);
        auto* data = acquire<PF_PathDataSuite1>(in, kPFPathDataSuite, 1);
        PF_PathOutlinePtr path = nullptr;
        query->PF_CheckoutPath(in->effect_ref, id, 0, 1, 24, &path);
        PF_PathSegPrepPtr prep = nullptr;
        PF_Err e = data->PF_PathPrepareSegLength(in->effect_ref, path, 1, 100, &prep);
        query->PF_CheckinPath(in->effect_ref, id, 0, path);
        in->pica_basicP->ReleaseSuite(kPFPathQuerySuite, 1);
        in->pica_basicP->ReleaseSuite(kPFPathDataSuite, 1);
        return e;
    });
    EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(host().balanced()) << why();
}

}  // namespace
