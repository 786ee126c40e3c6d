// Splitting frame lists among farm tasks: the parts, their written form and
// the part a Slurm array task takes.
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "footage/keyframes.h"
#include "farm/chunks.h"

namespace {

using farm::Chunk;
using farm::ChunkError;

std::vector<int64_t> range(int64_t first, int64_t last) {
    std::vector<int64_t> v(static_cast<std::size_t>(last - first + 1));
    std::iota(v.begin(), v.end(), first);
    return v;
}

TEST(FarmChunks, PartsAreContiguousEvenAndCoverTheListOnce) {
    for (const std::size_t size : {0, 1, 7, 21, 48, 1000}) {
        for (const long n : {1L, 2L, 3L, 4L, 7L, 50L}) {
            const std::vector<int64_t> frames = range(100, 100 + static_cast<int64_t>(size) - 1);
            std::vector<int64_t> joined;
            for (long i = 1; i <= n; ++i) {
                const std::vector<int64_t> part = farm::chunk_of(frames, {i, n});
                const std::size_t even = size / static_cast<std::size_t>(n);
                EXPECT_TRUE(part.size() == even || part.size() == even + 1) << size << " in " << n << ", part " << i;
                joined.insert(joined.end(), part.begin(), part.end());
            }
            EXPECT_EQ(joined, frames) << size << " in " << n;
        }
    }
    // The later parts take the extra frames.
    EXPECT_EQ(farm::chunk_of(range(0, 9), {1, 3}), range(0, 2));
    EXPECT_EQ(farm::chunk_of(range(0, 9), {3, 3}), range(6, 9));
}

TEST(FarmChunks, WrittenListsParseBackToTheSameFrames) {
    const std::map<std::string, std::string> written = {
        {"1-100x5,120", "1-96x5,120"}, {"1,5,6,7,9", "1,5-7,9"}, {"0", "0"},  {"3,1,2", "3,1-2"},
        {"10-20x10", "10,20"},         {"4-6,6-8", "4-8"},        {"7,9", "7,9"}};
    for (const auto& [list, text] : written) {
        const std::vector<int64_t> frames = cli::parse_frame_list(list, 1000);
        EXPECT_EQ(farm::format_frame_list(frames), text) << list;
        EXPECT_EQ(cli::parse_frame_list(text, 1000), frames) << list;
    }
    EXPECT_EQ(farm::format_frame_list({}), "");
}

TEST(FarmChunks, ChunkTextAndSlurmArrayVariables) {
    EXPECT_EQ(farm::parse_chunk("2/5").index, 2);
    EXPECT_EQ(farm::parse_chunk("2/5").count, 5);
    for (const char* bad : {"0/5", "6/5", "1/0", "1", "/5", "a/5", "1/5x", "-1/5"}) {
        EXPECT_THROW(farm::parse_chunk(bad), ChunkError) << bad;
    }

    struct Case {
        std::map<std::string, std::string> env;
        long index;  // 0: refused
        long count;
    };
    const Case cases[] = {
        {{{"SLURM_ARRAY_TASK_ID", "1"}, {"SLURM_ARRAY_TASK_MIN", "1"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}, 1, 4},
        {{{"SLURM_ARRAY_TASK_ID", "4"}, {"SLURM_ARRAY_TASK_MIN", "1"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}, 4, 4},
        {{{"SLURM_ARRAY_TASK_ID", "14"},
          {"SLURM_ARRAY_TASK_MIN", "10"},
          {"SLURM_ARRAY_TASK_STEP", "2"},
          {"SLURM_ARRAY_TASK_COUNT", "3"}},
         3,
         3},
        {{{"SLURM_ARRAY_TASK_ID", "5"}, {"SLURM_ARRAY_TASK_MIN", "1"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}, 0, 0},
        {{{"SLURM_ARRAY_TASK_ID", "11"},
          {"SLURM_ARRAY_TASK_MIN", "10"},
          {"SLURM_ARRAY_TASK_STEP", "2"},
          {"SLURM_ARRAY_TASK_COUNT", "3"}},
         0,
         0},
        {{{"SLURM_ARRAY_TASK_ID", "x"}, {"SLURM_ARRAY_TASK_MIN", "1"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}, 0, 0},
        {{{"SLURM_ARRAY_TASK_MIN", "1"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}, 0, 0},
    };
    for (const Case& c : cases) {
        const auto env = [&c](const char* name) -> const char* {
            const auto it = c.env.find(name);
            return it == c.env.end() ? nullptr : it->second.c_str();
        };
        const std::string id = c.env.count("SLURM_ARRAY_TASK_ID") ? c.env.at("SLURM_ARRAY_TASK_ID") : "unset";
        if (c.index == 0) {
            EXPECT_THROW(farm::slurm_chunk(env), ChunkError) << id;
        } else {
            const Chunk got = farm::slurm_chunk(env);
            EXPECT_EQ(got.index, c.index) << id;
            EXPECT_EQ(got.count, c.count) << id;
        }
    }
}

}  // namespace
