// The command line's own pieces, in process: the registration reader, the
// bar.
#include <cstdint>
#include <span>
#include <stdexcept>

#include <gtest/gtest.h>

#include "cli/about.h"
#include "cli/progress.h"
#include "host/pipl.h"

namespace {

TEST(Pipl, ReadsTheRegistrationStrings) {
    static constexpr pipl::Bytes bytes = pipl::build();
    const auto strings = cli::pipl_strings(bytes);
    EXPECT_EQ(strings.at("name"), "NorvexTrellis");
    EXPECT_EQ(strings.at("catg"), "Norvex");
    EXPECT_EQ(strings.at("eMNA"), "NorvexTrellis by Dorsaveli");
    // Cut anywhere inside, the list is refused rather than over-read.
    for (std::size_t n : {std::size_t{0}, std::size_t{9}, std::size_t{30}, bytes.size() - 1}) {
        EXPECT_THROW(cli::pipl_strings(std::span<const std::uint8_t>(bytes.data(), n)), std::runtime_error) << n;
    }
}

TEST(ProgressText, BarAndClock) {
    EXPECT_EQ(cli::Progress::clock_text(0), "0:00");
    EXPECT_EQ(cli::Progress::clock_text(65.4), "1:05");
    EXPECT_EQ(cli::Progress::clock_text(3600 * 12 + 3), "12:00:03");
    EXPECT_EQ(cli::Progress::clock_text(-1), "--");
    EXPECT_EQ(cli::Progress::bar_text(0, 0.0, 4, 1, 0.0, 8), "[>.......] 0/4 frames, 0:00");
    EXPECT_EQ(cli::Progress::bar_text(1, 0.0, 4, 2, 10.0, 8), "[##>.....] 1/4 frames, 0:10, 0:30 left");
    // Half of the frame in flight done: 1.5 of 4 in 15 s leaves 25 s.
    EXPECT_EQ(cli::Progress::bar_text(1, 0.5, 4, 1, 15.0, 8), "[###>....] 1/4 frames, 0:15, 0:25 left");
    EXPECT_EQ(cli::Progress::bar_text(4, 0.0, 4, 0, 40.0, 8), "[########] 4/4 frames, 0:40");
}

// An effect that reports progress 3 of 10, then asks whether to stop.

}  // namespace
