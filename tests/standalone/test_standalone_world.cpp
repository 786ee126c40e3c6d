// Worlds: geometry, typed access, guard bytes, and the copy, fill and pixel
// format services.
#include <cstring>
#include <stdexcept>

#include "standalone/world.h"
#include "tests/support/standalone_fixture.h"

namespace {

using standalone::FaultTarget;
using standalone::World;
using standalone_test::acquire;
using standalone_test::ScriptedHost;

TEST(StandaloneWorld, GeometryAtEachDepth) {
    struct Case {
        PF_PixelFormat format;
        A_long padding;
        A_long rowbytes;
    };
    for (const Case& c : {Case{PF_PixelFormat_ARGB32, 0, 5 * 4}, Case{PF_PixelFormat_ARGB32, 12, 5 * 4 + 12},
                          Case{PF_PixelFormat_ARGB64, 6, 5 * 8 + 6}, Case{PF_PixelFormat_ARGB128, 16, 5 * 16 + 16}}) {
        World world(5, 3, c.format, c.padding);
        EXPECT_EQ(world.rowbytes(), c.rowbytes);
        EXPECT_EQ(world.def()->platform_ref, &world);
        EXPECT_EQ(world.def()->extent_hint.right, 5);
        EXPECT_EQ(world.row(2) - world.row(0), 2 * c.rowbytes);
        EXPECT_TRUE(world.guards_intact());
    }
    EXPECT_THROW(World(2, 2, PF_PixelFormat_BGRA32), std::invalid_argument);
    EXPECT_THROW(World(2, 2, PF_PixelFormat_ARGB128, 6), std::invalid_argument);  // not a float multiple
    EXPECT_THROW(World(-1, 2, PF_PixelFormat_ARGB32), std::invalid_argument);
}

TEST(StandaloneWorld, TypedAccessIsChecked) {
    World world(3, 2, PF_PixelFormat_ARGB64, 8);
    world.pixel16(2, 1) = PF_Pixel16{32768, 1, 2, 3};
    const auto* row = reinterpret_cast<const PF_Pixel16*>(world.row(1));
    EXPECT_EQ(row[2].alpha, 32768);
    EXPECT_EQ(row[2].blue, 3);
    EXPECT_THROW(world.pixel8(0, 0), std::logic_error);
    EXPECT_THROW(world.pixel16(3, 0), std::out_of_range);
    EXPECT_THROW(world.pixel16(0, -1), std::out_of_range);
}

TEST(StandaloneWorld, GuardsFindStrayWrites) {
    ASSERT_TRUE(World::guards_enabled()) << "built without TRELLIS_GUARDS";
    struct Stray {
        const char* what;
        std::ptrdiff_t offset;  // from pixel (0, 0), bytes
    };
    const A_long rowbytes = 4 * 4 + 8;
    for (const Stray& stray : {Stray{"past the end of row 0", 4 * 4}, Stray{"last padding byte", rowbytes - 1},
                               Stray{"before the first pixel", -1}, Stray{"after the last row", 3 * rowbytes}}) {
        World world(4, 3, PF_PixelFormat_ARGB32, 8);
        static_cast<std::uint8_t*>(world.def()->data)[stray.offset] ^= 0xFF;
        EXPECT_FALSE(world.guards_intact()) << stray.what;
        EXPECT_FALSE(world.guard_report().empty()) << stray.what;
        world.restore_guards();
        EXPECT_TRUE(world.guards_intact()) << stray.what;
    }
    // Writing every pixel, and only pixels, keeps the guards.
    World world(4, 3, PF_PixelFormat_ARGB32, 8);
    world.fill(PF_Pixel8{255, 255, 255, 255});
    EXPECT_TRUE(world.guards_intact());
}

TEST(StandaloneWorld, CloneAndCompare) {
    World world(3, 3, PF_PixelFormat_ARGB128, 4);
    world.pixel_float(1, 2) = PF_PixelFloat{1.0f, 0.25f, 0.5f, 2.0f};
    auto copy = world.clone();
    EXPECT_TRUE(copy->same_pixels(world));
    EXPECT_EQ(copy->pixel_hash(), world.pixel_hash());
    EXPECT_EQ(copy->rowbytes(), world.rowbytes());
    copy->pixel_float(0, 0).red = 0.1f;
    EXPECT_FALSE(copy->same_pixels(world));
    EXPECT_NE(copy->pixel_hash(), world.pixel_hash());
}

class StandaloneWorldServices : public ScriptedHost {
protected:
    void SetUp() override {
        ScriptedHost::SetUp();
        input_ = std::make_shared<World>(4, 3, PF_PixelFormat_ARGB64, 8);
        output_ = std::make_shared<World>(4, 3, PF_PixelFormat_ARGB64, 16);
        for (A_long y = 0; y < 3; ++y) {
            for (A_long x = 0; x < 4; ++x) {
                input_->pixel16(x, y) = PF_Pixel16{32768, static_cast<A_u_short>(x), static_cast<A_u_short>(y), 9};
            }
        }
        host().set_input(input_);
        host().set_output(output_);
    }
    std::shared_ptr<World> input_;
    std::shared_ptr<World> output_;
};

TEST_F(StandaloneWorldServices, CopyAndFillWholeWorlds) {
    ASSERT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  return in->utils->copy(in->effect_ref, input_->def(), output_->def(), nullptr, nullptr);
              }),
              PF_Err_NONE);
    EXPECT_TRUE(output_->same_pixels(*input_));
    EXPECT_TRUE(output_->guards_intact());

    const PF_Pixel8 white{255, 255, 255, 0};
    ASSERT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  return in->utils->fill(in->effect_ref, &white, nullptr, output_->def());
              }),
              PF_Err_NONE);
    EXPECT_EQ(output_->pixel16(3, 2).alpha, 32768);  // 255 is full scale at 16 bits
    EXPECT_EQ(output_->pixel16(3, 2).blue, 0);
    const auto fills = host().log().calls("fill");
    ASSERT_EQ(fills.size(), 1u);
    EXPECT_EQ(fills[0].int_arg(0), 255);
    EXPECT_EQ(fills[0].int_arg(4), 0);  // no rectangle
}

// 255 is full scale; integers round to nearest (1 is 128.5 at 16 bits).
TEST_F(StandaloneWorldServices, FillWidensTheColourToEachDepth) {
    const PF_Pixel8 colour{1, 128, 254, 255};
    auto fill = [&](World& world) {
        return run(
            [&](PF_InData* in, PF_OutData*) { return in->utils->fill(in->effect_ref, &colour, nullptr, world.def()); });
    };
    auto eight = std::make_shared<World>(2, 2, PF_PixelFormat_ARGB32);
    auto sixteen = std::make_shared<World>(2, 2, PF_PixelFormat_ARGB64);
    auto real = std::make_shared<World>(2, 2, PF_PixelFormat_ARGB128);
    for (const auto& world : {eight, sixteen, real}) {
        host().set_output(world);
        ASSERT_EQ(fill(*world), PF_Err_NONE);
    }
    const PF_Pixel8 p8 = eight->pixel8(1, 1);
    EXPECT_EQ(std::memcmp(&p8, &colour, sizeof p8), 0);
    const PF_Pixel16 p16 = sixteen->pixel16(1, 1);
    EXPECT_EQ(p16.alpha, 129);
    EXPECT_EQ(p16.red, 16448);
    EXPECT_EQ(p16.green, 32639);
    EXPECT_EQ(p16.blue, 32768);
    const PF_PixelFloat pf = real->pixel_float(1, 1);
    EXPECT_EQ(pf.alpha, 1 / 255.0f);
    EXPECT_EQ(pf.red, 128 / 255.0f);
    EXPECT_EQ(pf.blue, 1.0f);
}

TEST_F(StandaloneWorldServices, CopyRefusesMismatchAndHonoursFaults) {
    auto eight = std::make_shared<World>(4, 3, PF_PixelFormat_ARGB32);
    host().set_output(eight);
    EXPECT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  return in->utils->copy(in->effect_ref, input_->def(), eight->def(), nullptr, nullptr);
              }),
              PF_Err_BAD_CALLBACK_PARAM);
    PF_EffectWorld stranger = *input_->def();
    stranger.platform_ref = &stranger;
    EXPECT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  return in->utils->fill(in->effect_ref, nullptr, nullptr, &stranger);
              }),
              PF_Err_BAD_CALLBACK_PARAM);

    host().set_output(output_);
    host().faults().fail_callback(FaultTarget::copy, 99);
    EXPECT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  return in->utils->copy(in->effect_ref, input_->def(), output_->def(), nullptr, nullptr);
              }),
              99);
    EXPECT_FALSE(output_->same_pixels(*input_));
}

TEST_F(StandaloneWorldServices, PixelFormatThroughWorldSuite) {
    PF_PixelFormat format = 0;
    auto query = [&] {
        return run([&](PF_InData* in, PF_OutData*) {
            auto* worlds = acquire<PF_WorldSuite2>(in, kPFWorldSuite, 2);
            PF_Err e = worlds->PF_GetPixelFormat(input_->def(), &format);
            in->pica_basicP->ReleaseSuite(kPFWorldSuite, 2);
            return e;
        });
    };
    ASSERT_EQ(query(), PF_Err_NONE);
    EXPECT_EQ(format, PF_PixelFormat_ARGB64);
    input_->report_format(PF_PixelFormat_BGRA32);
    ASSERT_EQ(query(), PF_Err_NONE);
    EXPECT_EQ(format, PF_PixelFormat_BGRA32);
    EXPECT_TRUE(host().balanced()) << why();
}

}  // namespace
