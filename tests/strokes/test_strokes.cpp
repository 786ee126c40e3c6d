// The stroke list and the random source.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "strokes/generate.h"
#include "strokes/stroke_list.h"

namespace {

std::vector<Stroke> contents(const StrokeList& list) {
    std::vector<Stroke> out;
    for (std::size_t i = 0; i < list.size(); ++i) out.push_back(list.at(i));
    return out;
}

bool same(const Stroke& a, const Stroke& b) {
    return a.sample_x == b.sample_x && a.sample_y == b.sample_y && a.center_x == b.center_x &&
           a.center_y == b.center_y && a.half_w == b.half_w && a.half_h == b.half_h && a.side == b.side &&
           a.orientation == b.orientation;
}

// The generator's step done independently in 64 bits.
uint32_t reference_step(uint32_t state) {
    return static_cast<uint32_t>((uint64_t{state} * 1103515245u + 12345u) & 0xFFFFFFFFu);
}

TEST(StrokeList, EmptyListWalksAsEmptyAndClearKeepsItEmpty) {
    StrokeList list;
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.size(), 0u);
    list.clear();
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(contents(list).empty());
}

TEST(StrokeList, KeepsOrderAndEveryFieldIncludingNegativeCentresAndSideZero) {
    const std::vector<Stroke> strokes = {
        {0, 0, -5, -7, 3, 4, StrokeSide::None, Orientation::Upright},
        {10, 20, 30, 40, 50, 60, StrokeSide::Right, Orientation::ThreeQuarterTurn},
        {1919, 1079, -536870912, 536870912, 0, 268435456, StrokeSide::Top, Orientation::QuarterTurn},
        {5, 6, 7, 8, 9, 10, StrokeSide::Bottom, Orientation::HalfTurn},
    };
    StrokeList list;
    for (const Stroke& s : strokes) ASSERT_TRUE(list.append(s));
    const std::vector<Stroke> back = contents(list);
    ASSERT_EQ(back.size(), strokes.size());
    for (std::size_t i = 0; i < strokes.size(); ++i) EXPECT_TRUE(same(back[i], strokes[i])) << i;
}

TEST(StrokeList, ReadersGetCopiesAndClearEmptiesForReuse) {
    StrokeList list;
    Stroke s{1, 2, 3, 4, 5, 6, StrokeSide::Left, Orientation::Upright};
    ASSERT_TRUE(list.append(s));
    s.center_x = 99;  // the list holds its own copy
    Stroke read = list.at(0);
    EXPECT_EQ(read.center_x, 3);
    read.half_w = 77;  // and hands out copies
    EXPECT_EQ(list.at(0).half_w, 5);

    list.clear();
    EXPECT_TRUE(list.empty());
    ASSERT_TRUE(list.append(Stroke{7, 7, 7, 7, 7, 7, StrokeSide{7}, Orientation{7}}));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.at(0).sample_x, 7);
}

TEST(RandomSource, ReferenceValuesForSeedZero) {
    RandomSource size_random;
    size_random.set_seed(0);
    EXPECT_EQ(size_random.next_int(), 12345);
    EXPECT_EQ(size_random.next_int(), 1406932606);
    EXPECT_EQ(size_random.next_int(), 654583775);
    EXPECT_EQ(size_random.next_int(), 1449466924);

    size_random.set_seed(0);
    size_random.next_int();
    EXPECT_EQ(size_random.next_real(), 0.6551540484651923);
    EXPECT_EQ(size_random.next_real(), 0.30481432331725955);
    EXPECT_EQ(size_random.next_real(), 0.6749606337398291);
}

TEST(RandomSource, ConstructedStateIsZero) {
    RandomSource fresh;
    EXPECT_EQ(fresh.next_int(), 12345);
}

TEST(RandomSource, SeededPairMatchesReferenceValues) {
    RandomSource size_random, turn_random;
    seed_random_sources(0, size_random, turn_random);
    EXPECT_EQ(size_random.next_real(), 0.6551540484651923);
    EXPECT_EQ(turn_random.next_real(), 0.5914279548451304);
    EXPECT_EQ(turn_random.next_real(), 0.49077880708500743);
    EXPECT_EQ(turn_random.next_real(), 0.5412254575639963);

    RandomSource turn_check;
    turn_check.set_seed(5000);
    EXPECT_EQ(turn_check.next_int(), 690745633);

    seed_random_sources(1, size_random, turn_random);
    EXPECT_EQ(size_random.next_real(), 0.1757413032464683);
    RandomSource one;
    one.set_seed(1);
    EXPECT_EQ(one.next_int(), 1103527590);
}

TEST(RandomSource, WrapsModulo2To32AndStaysInRange) {
    // States with the top bit set, and seeds at both ends of int32.
    for (A_long seed : {std::numeric_limits<A_long>::min(), -1, -12345, std::numeric_limits<A_long>::max(), 0x40000000}) {
        RandomSource r;
        r.set_seed(seed);
        uint32_t state = static_cast<uint32_t>(seed);
        for (int i = 0; i < 1000; ++i) {
            state = reference_step(state);
            const double v = r.next_real();
            ASSERT_EQ(v, static_cast<double>(state & 0x7FFFFFFFu) / 2147483648.0) << seed << " " << i;
            ASSERT_GE(v, 0.0);
            ASSERT_LT(v, 1.0);
        }
    }
}

TEST(RandomSource, LargestResultStaysBelowOne) {
    // A state whose next step gives 0x7FFFFFFF in the low 31 bits: solve
    // state * a + c = 0xFFFFFFFF (mod 2^32) with a's inverse.
    uint32_t inverse = 1;
    for (int i = 0; i < 5; ++i) inverse *= 2u - 1103515245u * inverse;
    const uint32_t state = (0xFFFFFFFFu - 12345u) * inverse;
    RandomSource r;
    r.set_seed(static_cast<A_long>(state));
    const double v = r.next_real();
    EXPECT_EQ(v, 2147483647.0 / 2147483648.0);
    EXPECT_LT(v, 1.0);
}

TEST(RandomSource, OrientationSeedWrapsForTheLargestSeeds) {
    for (A_long seed : {std::numeric_limits<A_long>::max(), std::numeric_limits<A_long>::max() - 4999, -5000, -1}) {
        RandomSource size_random, turn_random;
        seed_random_sources(seed, size_random, turn_random);
        uint32_t state = reference_step(static_cast<uint32_t>(seed) + 5000u);  // discarded
        state = reference_step(state);
        EXPECT_EQ(turn_random.next_int(), static_cast<A_long>(state & 0x7FFFFFFFu)) << seed;
        uint32_t size_state = reference_step(reference_step(static_cast<uint32_t>(seed)));
        EXPECT_EQ(size_random.next_int(), static_cast<A_long>(size_state & 0x7FFFFFFFu)) << seed;
    }
}

TEST(RandomSource, SameSeedSameDraws) {
    RandomSource a, b, c, d;
    seed_random_sources(4242, a, b);
    seed_random_sources(4242, c, d);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(a.next_real(), c.next_real());
        ASSERT_EQ(b.next_real(), d.next_real());
    }
}

}  // namespace
