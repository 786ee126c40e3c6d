// What the host keeps from one command or frame to the next: a world's
// sampling tables while its pixels stay unchanged, big memory blocks; and the
// World's change count those decisions rest on.
#include <cinttypes>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "params/params.h"
#include "standalone/host.h"
#include "standalone/mask.h"
#include "standalone/sampling.h"
#include "standalone/world.h"
#include "tests/support/standalone_fixture.h"

namespace {

using standalone::Host;
using standalone::World;
using standalone_test::acquire;
using standalone_test::ScriptedHost;

// ---------------------------------------------------------------------------
// World change counting
// ---------------------------------------------------------------------------

TEST(WorldChanges, MutableAccessCountsConstAccessDoesNot) {
    World a(3, 2, PF_PixelFormat_ARGB32, 4);
    World b(3, 2, PF_PixelFormat_ARGB32);
    EXPECT_NE(a.serial(), b.serial());
    EXPECT_NE(a.clone()->serial(), a.serial());

    const World& view = a;
    const std::uint64_t start = a.changes();
    (void)view.pixel8(1, 1);
    (void)view.row(1);
    (void)a.pixel_hash();
    (void)a.same_pixels(b);
    (void)a.def();
    EXPECT_EQ(a.changes(), start);

    struct Step {
        const char* what;
        std::function<void(World&)> change;
    };
    const std::vector<Step> steps = {
        {"pixel8", [](World& w) { w.pixel8(0, 0).red = 9; }},
        {"row", [](World& w) { w.row(1)[0] = 9; }},
        {"fill", [](World& w) { w.fill(PF_Pixel8{1, 2, 3, 4}); }},
        {"mark_changed", [](World& w) { w.mark_changed(); }},
    };
    for (const Step& step : steps) {
        const std::uint64_t before = a.changes();
        step.change(a);
        EXPECT_GT(a.changes(), before) << step.what;
    }
    // A wrong-depth access throws before it counts.
    const std::uint64_t before = a.changes();
    EXPECT_THROW(a.pixel16(0, 0), std::logic_error);
    EXPECT_EQ(a.changes(), before);
}

// ---------------------------------------------------------------------------
// Sampling tables across commands, through a scripted effect
// ---------------------------------------------------------------------------

class SamplerReuse : public ScriptedHost {
protected:
    void SetUp() override {
        ScriptedHost::SetUp();
        source_ = std::make_shared<World>(300, 20, PF_PixelFormat_ARGB32, 8);
        source_->fill(PF_Pixel8{255, 10, 20, 30});
        host().set_input(source_);
    }

    // Samples pixel (x, y) of `world` exactly (radius ½) in one command.
    PF_Pixel8 sample(World& world, A_long x, A_long y) {
        PF_Pixel8 out{1, 1, 1, 1};
        const PF_EffectWorld def = *std::as_const(world).def();
        EXPECT_EQ(run([&](PF_InData* in, PF_OutData*) {
                      auto* sampling = acquire<PF_Sampling8Suite1>(in, kPFSampling8Suite, 1);
                      PF_SampPB pb{};
                      pb.src = const_cast<PF_EffectWorld*>(&def);
                      pb.x_radius = pb.y_radius = 0x8000;
                      const PF_Err err = sampling->area_sample(in->effect_ref, x << 16, y << 16, &pb, &out);
                      in->pica_basicP->ReleaseSuite(kPFSampling8Suite, 1);
                      return err;
                  }),
                  PF_Err_NONE);
        return out;
    }

    std::shared_ptr<World> source_;
};

TEST_F(SamplerReuse, EveryCountedChangeIsSeenByTheNextCommand) {
    struct Case {
        const char* how;
        std::function<void(World&)> change;  // leaves pixel (260, 7) at red 99
    };
    std::uint8_t* kept_row = source_->row(7);  // taken before any sampling
    const std::vector<Case> cases = {
        {"pixel8", [](World& w) { w.pixel8(260, 7).red = 99; }},
        {"row", [](World& w) { reinterpret_cast<PF_Pixel8*>(w.row(7))[260].red = 99; }},
        {"fill", [](World& w) { w.fill(PF_Pixel8{255, 99, 20, 30}); }},
        {"def data, then mark_changed",
         [](World& w) {
             auto* data = static_cast<std::uint8_t*>(w.def()->data);
             reinterpret_cast<PF_Pixel8*>(data + 7 * w.rowbytes())[260].red = 99;
             w.mark_changed();
         }},
        {"an old row pointer, then mark_changed",
         [kept_row](World& w) {
             reinterpret_cast<PF_Pixel8*>(kept_row)[260].red = 99;
             w.mark_changed();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        source_->fill(PF_Pixel8{255, 10, 20, 30});
        EXPECT_EQ(sample(*source_, 260, 7).red, 10);
        EXPECT_EQ(sample(*source_, 3, 3).red, 10);  // a second command on the same tables
        c.change(*source_);
        EXPECT_EQ(sample(*source_, 260, 7).red, 99);
    }
}

TEST_F(SamplerReuse, KeepsTablesWhileTheWorldReportsNoChange) {
    std::uint8_t* kept_row = source_->row(7);
    EXPECT_EQ(sample(*source_, 260, 7).red, 10);
    // Written behind the World's back and not marked: the tables built for
    // the last command still answer, as World documents.
    reinterpret_cast<PF_Pixel8*>(kept_row)[260].red = 99;
    EXPECT_EQ(sample(*source_, 260, 7).red, 10);
    source_->mark_changed();
    EXPECT_EQ(sample(*source_, 260, 7).red, 99);
}

TEST_F(SamplerReuse, AWorldTheEffectWroteAsItsOutputIsSampledAfresh) {
    auto output = std::make_shared<World>(300, 20, PF_PixelFormat_ARGB32);
    output->fill(PF_Pixel8{255, 10, 20, 30});
    host().set_output(output);
    EXPECT_EQ(sample(*output, 260, 7).red, 10);
    // The effect writes its output through the record it was given.
    standalone_test::t_script = [](PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef**, PF_LayerDef* out, void*) {
        auto* data = static_cast<std::uint8_t*>(out->data);
        reinterpret_cast<PF_Pixel8*>(data + 7 * out->rowbytes)[260].red = 99;
        return PF_Err_NONE;
    };
    ASSERT_EQ(host().command(PF_Cmd_COMPLETELY_GENERAL), PF_Err_NONE);
    standalone_test::t_script = nullptr;
    EXPECT_EQ(sample(*output, 260, 7).red, 99);
}

TEST_F(SamplerReuse, ANewWorldInTheOldOnesPlaceGetsItsOwnTables) {
    EXPECT_EQ(sample(*source_, 260, 7).red, 10);
    for (A_u_char red : {40, 50, 60}) {
        // The freed block may well be reused for the next world at the same
        // address; its serial tells them apart.
        source_.reset();
        source_ = std::make_shared<World>(300, 20, PF_PixelFormat_ARGB32, 8);
        source_->fill(PF_Pixel8{255, red, 20, 30});
        host().set_input(source_);
        EXPECT_EQ(sample(*source_, 260, 7).red, red);
    }
}

TEST_F(SamplerReuse, AWorldTheHostNoLongerKnowsCannotBeSampled) {
    auto other = std::make_shared<World>(4, 4, PF_PixelFormat_ARGB32);
    other->fill(PF_Pixel8{255, 1, 2, 3});
    host().set_input(other);
    EXPECT_EQ(sample(*other, 1, 1).red, 1);
    host().set_input(source_);
    PF_Pixel8 out{};
    const PF_EffectWorld def = *std::as_const(*other).def();
    EXPECT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  auto* sampling = acquire<PF_Sampling8Suite1>(in, kPFSampling8Suite, 1);
                  PF_SampPB pb{};
                  pb.src = const_cast<PF_EffectWorld*>(&def);
                  pb.x_radius = pb.y_radius = 0x8000;
                  const PF_Err err = sampling->area_sample(in->effect_ref, 1 << 16, 1 << 16, &pb, &out);
                  in->pica_basicP->ReleaseSuite(kPFSampling8Suite, 1);
                  return err;
              }),
              PF_Err_BAD_CALLBACK_PARAM);
}

// ---------------------------------------------------------------------------
// Tables shared between hosts and threads
// ---------------------------------------------------------------------------

TEST(SharedTables, OneBuildPerWorldContentsWhoeverAsks) {
    World world(300, 20, PF_PixelFormat_ARGB32);
    world.fill(PF_Pixel8{255, 10, 20, 30});
    std::vector<std::shared_ptr<const standalone::AreaSampler>> got(4);
    std::vector<std::thread> threads;
    for (auto& slot : got) threads.emplace_back([&world, &slot] { slot = standalone::shared_sampler(world); });
    for (auto& t : threads) t.join();
    ASSERT_NE(got[0], nullptr);
    for (const auto& s : got) EXPECT_EQ(s, got[0]);

    world.pixel8(260, 7).red = 99;
    const auto changed = standalone::shared_sampler(world);
    ASSERT_NE(changed, got[0]);
    PF_Pixel8 now{}, before{};
    ASSERT_EQ(changed->sample8(260 << 16, 7 << 16, 0x8000, 0x8000, &now), PF_Err_NONE);
    ASSERT_EQ(got[0]->sample8(260 << 16, 7 << 16, 0x8000, 0x8000, &before), PF_Err_NONE);
    EXPECT_EQ(now.red, 99);
    EXPECT_EQ(before.red, 10);  // the old holders keep the tables they had

    // While one holder is left, the same tables come back.
    got.clear();
    EXPECT_EQ(standalone::shared_sampler(world), changed);
}

TEST(WorldClear, StartsOverAsAFreshWorld) {
    World world(5, 3, PF_PixelFormat_ARGB64, 4);
    world.fill(PF_Pixel16{1, 2, 3, 4});
    std::memset(world.row(0) + 5 * sizeof(PF_Pixel16), 0, 4);  // into the padding
    const std::uint64_t changes = world.changes();
    world.clear();
    EXPECT_GT(world.changes(), changes);
    EXPECT_TRUE(world.same_pixels(World(5, 3, PF_PixelFormat_ARGB64, 4)));
    EXPECT_TRUE(world.guards_intact()) << world.guard_report();
}

// ---------------------------------------------------------------------------
// Whole frames through the real effect
// ---------------------------------------------------------------------------

struct Depth {
    const char* name;
    PF_PixelFormat format;
};
constexpr Depth kDepths[] = {
    {"8", PF_PixelFormat_ARGB32}, {"16", PF_PixelFormat_ARGB64}, {"float", PF_PixelFormat_ARGB128}};

void PrintTo(const Depth& depth, std::ostream* os) { *os << depth.name << " bits"; }

void put(World& w, A_long x, A_long y, int a, int r, int g, int b) {
    switch (w.format()) {
    case PF_PixelFormat_ARGB32:
        w.pixel8(x, y) = {A_u_char(a), A_u_char(r), A_u_char(g), A_u_char(b)};
        break;
    case PF_PixelFormat_ARGB64: {
        auto c = [](int v) { return A_u_short((v * 32768 + 127) / 255); };
        w.pixel16(x, y) = {c(a), c(r), c(g), c(b)};
        break;
    }
    default:
        w.pixel_float(x, y) = {a / 255.0f, r / 255.0f, g / 255.0f, b / 255.0f};
        break;
    }
}

std::shared_ptr<World> pattern(A_long w, A_long h, PF_PixelFormat format, int seed) {
    auto world = std::make_shared<World>(w, h, format);
    for (A_long y = 0; y < h; ++y)
        for (A_long x = 0; x < w; ++x)
            put(*world, x, y, (x + y + seed) % 7 == 0 ? 0 : 255, (x * 7 + seed * 40) % 256, (y * 5 + seed) % 256,
                (x * y + seed * 3) % 256);
    return world;
}

standalone::MaskShape curve() {
    standalone::MaskShape shape;
    shape.closed = true;
    shape.vertices = {
        {40.0, 30.0, -10.0, 14.0, 10.0, -14.0},
        {280.0, 24.0, -16.0, -6.0, 16.0, 6.0},
        {300.0, 150.0, 14.0, -16.0, -14.0, 16.0},
        {30.0, 160.0, 20.0, 10.0, -20.0, -10.0},
    };
    return shape;
}

// A host with the real effect, set up to draw many strokes over the frame.
struct Frame {
    std::unique_ptr<Host> host;
    std::shared_ptr<World> input;

    Frame(const std::shared_ptr<standalone::Module>& module, PF_PixelFormat format) {
        host = std::make_unique<Host>(module);
        host->log().set_enabled(false);
        EXPECT_EQ(host->setup_all(), PF_Err_NONE);
        input = pattern(320, 180, format, 1);
        host->set_input(input);
        host->set_path_param(PARAM_PATH, host->add_mask(curve()));
        host->set_param_percent(PARAM_TIME, 50.0);
        host->set_param(PARAM_MAX_WIDTH, 40);
        host->set_param(PARAM_VARIOUS_DIRECTIONS, 1);
        host->set_param(PARAM_BLEND_MODE, 5);
    }

    // Renders into `output` with `layer`; the output's hash.
    std::uint64_t render(const std::shared_ptr<World>& layer, const std::shared_ptr<World>& output) {
        host->set_layer_param(PARAM_LAYER, layer);
        host->set_output(output);
        const standalone::RenderResult r = host->render_frame();
        EXPECT_EQ(r.err(), PF_Err_NONE);
        EXPECT_TRUE(r.guards_intact) << r.guard_report;
        return output->pixel_hash();
    }
};

class FrameReuse : public ::testing::TestWithParam<Depth> {
protected:
    void SetUp() override {
        std::string error;
        module_ = standalone::Module::load(TRELLIS_MODULE_PATH, &error);
        ASSERT_NE(module_, nullptr) << error;
    }

    // What a host that never saw any earlier frame renders with `layer`.
    std::uint64_t fresh(const World& layer) {
        Frame frame(module_, GetParam().format);
        return frame.render(layer.clone(), std::make_shared<World>(320, 180, GetParam().format));
    }

    std::shared_ptr<standalone::Module> module_;
};

TEST_P(FrameReuse, AChangedLayerIsSampledAfresh) {
    const PF_PixelFormat format = GetParam().format;
    Frame frame(module_, format);
    auto layer = pattern(150, 90, format, 2);
    auto output = std::make_shared<World>(320, 180, format);
    const std::uint64_t first = frame.render(layer, output);
    EXPECT_EQ(frame.render(layer, output), first);  // unchanged: same frame again

    for (A_long y = 0; y < layer->height(); ++y)
        for (A_long x = 0; x < layer->width(); x += 3) put(*layer, x, y, 255, 250, 5, 128);
    const std::uint64_t second = frame.render(layer, output);
    EXPECT_NE(second, first);
    EXPECT_EQ(second, fresh(*layer));
}

TEST_P(FrameReuse, WorldsTakingTurnsAsLayerAndOutputAreSampledAsTheyAreNow) {
    const PF_PixelFormat format = GetParam().format;
    Frame frame(module_, format);
    auto a = pattern(320, 180, format, 3);
    auto b = std::make_shared<World>(320, 180, format);
    frame.render(a, b);  // a's tables built
    const std::uint64_t into_a = frame.render(b, a);  // the effect overwrites a
    EXPECT_EQ(into_a, fresh(*b));
    const std::uint64_t into_b = frame.render(a, b);  // a is sampled again, as it is now
    EXPECT_EQ(into_b, fresh(*a));
}

TEST_P(FrameReuse, HostsOnTwoThreadsSharingOneLayerRenderWhatEachRendersAlone) {
    const PF_PixelFormat format = GetParam().format;
    const auto layer = pattern(150, 90, format, 4);
    const std::uint64_t alone = fresh(*layer);
    Frame a(module_, format), b(module_, format);
    const auto out_a = std::make_shared<World>(320, 180, format), out_b = std::make_shared<World>(320, 180, format);
    std::uint64_t hash_a = 0, hash_b = 0;
    std::thread other([&] { hash_b = b.render(layer, out_b); });
    hash_a = a.render(layer, out_a);
    other.join();
    EXPECT_EQ(hash_a, alone);
    EXPECT_EQ(hash_b, alone);
}

TEST_P(FrameReuse, AFrameTheCallerStillHoldsIsNotReused) {
    const PF_PixelFormat format = GetParam().format;
    Frame frame(module_, format);
    frame.host->set_layer_param(PARAM_LAYER, pattern(150, 90, format, 5));
    standalone::RenderResult first = frame.host->render_frame();
    ASSERT_NE(first.output, nullptr);
    const std::uint64_t hash = first.output->pixel_hash();
    frame.host->set_param_percent(PARAM_TIME, 20.0);
    standalone::RenderResult second = frame.host->render_frame();
    ASSERT_NE(second.output, nullptr);
    EXPECT_NE(second.output, first.output);
    EXPECT_EQ(first.output->pixel_hash(), hash);
    EXPECT_NE(second.output->pixel_hash(), hash);
    // Once let go, a frame's output may serve again, starting over clean.
    first = {};
    second = {};
    frame.host->set_param_percent(PARAM_TIME, 50.0);
    EXPECT_EQ(frame.host->render_frame().output->pixel_hash(), hash);
}

INSTANTIATE_TEST_SUITE_P(Depths, FrameReuse, ::testing::ValuesIn(kDepths),
                         [](const ::testing::TestParamInfo<Depth>& info) {
                             return std::string(info.param.name) == "float" ? std::string("Float")
                                                                            : std::string("Bits") + info.param.name;
                         });

// ---------------------------------------------------------------------------
// Utility fill and big handles
// ---------------------------------------------------------------------------

template <typename Pixel>
Pixel& pixel_at(World& w, A_long x, A_long y);
template <>
PF_Pixel8& pixel_at(World& w, A_long x, A_long y) {
    return w.pixel8(x, y);
}
template <>
PF_Pixel16& pixel_at(World& w, A_long x, A_long y) {
    return w.pixel16(x, y);
}
template <>
PF_PixelFloat& pixel_at(World& w, A_long x, A_long y) {
    return w.pixel_float(x, y);
}

class HostUtilities : public ScriptedHost {
protected:
    // Fills rectangles of a padded 7 x 5 world one after another and checks
    // every pixel and the guards after each. `white` is an 8-bit white at
    // this depth, `marker` what the world held first.
    template <typename Pixel>
    void check_fill(PF_PixelFormat format, const Pixel& white, const Pixel& marker) {
        auto world = std::make_shared<World>(7, 5, format, static_cast<A_long>(2 * sizeof(Pixel)));
        for (A_long y = 0; y < 5; ++y)
            for (A_long x = 0; x < 7; ++x) pixel_at<Pixel>(*world, x, y) = marker;
        host().set_output(world);
        struct Fill {
            PF_Pixel8 colour;
            bool whole;
            PF_Rect rect;  // left, top, right, bottom
            Pixel expected;
        };
        const Fill fills[] = {
            {{0, 0, 0, 0}, false, {1, 1, 4, 3}, Pixel{}},
            {{255, 255, 255, 255}, false, {2, 0, 7, 2}, white},
            {{255, 255, 255, 255}, false, {3, 3, 3, 5}, white},  // empty
            {{0, 0, 0, 0}, true, {0, 0, 7, 5}, Pixel{}},
        };
        std::vector<Pixel> want(35, marker);
        for (const Fill& f : fills) {
            ASSERT_EQ(run([&](PF_InData* in, PF_OutData*) {
                          return in->utils->fill(in->effect_ref, &f.colour, f.whole ? nullptr : &f.rect, world->def());
                      }),
                      PF_Err_NONE);
            for (A_long y = f.rect.top; y < f.rect.bottom; ++y)
                for (A_long x = f.rect.left; x < f.rect.right; ++x)
                    want[static_cast<std::size_t>(y * 7 + x)] = f.expected;
            for (A_long y = 0; y < 5; ++y)
                for (A_long x = 0; x < 7; ++x)
                    EXPECT_EQ(std::memcmp(&pixel_at<Pixel>(*world, x, y), &want[static_cast<std::size_t>(y * 7 + x)],
                                          sizeof(Pixel)),
                              0)
                        << x << "," << y;
            EXPECT_TRUE(world->guards_intact()) << world->guard_report();
        }
    }
};

TEST_F(HostUtilities, FillWritesExactlyItsRectangleAtEveryDepth) {
    check_fill<PF_Pixel8>(PF_PixelFormat_ARGB32, PF_Pixel8{255, 255, 255, 255}, PF_Pixel8{9, 8, 7, 6});
    check_fill<PF_Pixel16>(PF_PixelFormat_ARGB64, PF_Pixel16{32768, 32768, 32768, 32768}, PF_Pixel16{9, 8, 7, 6});
    check_fill<PF_PixelFloat>(PF_PixelFormat_ARGB128, PF_PixelFloat{1.0f, 1.0f, 1.0f, 1.0f},
                              PF_PixelFloat{-0.0f, 0.5f, 2.0f, 0.25f});
}

TEST_F(HostUtilities, BigHandlesBehaveLikeSmallOnes) {
    constexpr std::size_t kBig = std::size_t{6} << 20;  // large enough for huge pages
    PF_Handle handle = nullptr;
    ASSERT_EQ(run([&](PF_InData* in, PF_OutData*) {
                  handle = in->utils->host_new_handle(kBig);
                  if (handle == nullptr) return PF_Err_OUT_OF_MEMORY;
                  auto* bytes = static_cast<unsigned char*>(in->utils->host_lock_handle(handle));
                  EXPECT_EQ(bytes[0], 0xA5);
                  EXPECT_EQ(bytes[kBig - 1], 0xA5);
                  bytes[kBig - 1] = 1;
                  in->utils->host_unlock_handle(handle);
                  auto* handles = acquire<PF_HandleSuite1>(in, kPFHandleSuite, kPFHandleSuiteVersion1);
                  EXPECT_EQ(handles->host_resize_handle(kBig + (std::size_t{3} << 20), &handle), PF_Err_NONE);
                  in->pica_basicP->ReleaseSuite(kPFHandleSuite, kPFHandleSuiteVersion1);
                  bytes = static_cast<unsigned char*>(*handle);
                  EXPECT_EQ(bytes[kBig - 1], 1);
                  EXPECT_EQ(bytes[kBig], 0xA5);
                  in->utils->host_dispose_handle(handle);
                  // A block given back and handed out again starts fresh too.
                  for (int round = 0; round < 2; ++round) {
                      PF_Handle again = in->utils->host_new_handle(kBig);
                      if (again == nullptr) return PF_Err_OUT_OF_MEMORY;
                      auto* fresh = static_cast<unsigned char*>(*again);
                      EXPECT_EQ(fresh[0], 0xA5);
                      EXPECT_EQ(fresh[kBig - 1], 0xA5);
                      std::memset(fresh, 0, kBig);
                      in->utils->host_dispose_handle(again);
                  }
                  return PF_Err_NONE;
              }),
              PF_Err_NONE);
    EXPECT_FALSE(host().handle_alive(handle));
    EXPECT_TRUE(host().balanced()) << why();
}

}  // namespace
