// Splitting a frame list among the tasks of a render farm: N even,
// contiguous parts of the list as expanded, so that every task renders about
// as many frames and each part reads its sources forward.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace farm {

// A part asked for that does not exist, or array variables that are missing
// or inconsistent; what() says which.
class ChunkError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// Part `index` (1 to `count`) of `count`.
struct Chunk {
    long index = 1;
    long count = 1;
};

// "I/N" with 1 <= I <= N.
Chunk parse_chunk(std::string_view text);

// The part a Slurm array task renders, from SLURM_ARRAY_TASK_ID, _MIN, _STEP
// (1 when unset) and _COUNT as `env` gives them (null: unset): task IDs
// MIN, MIN+STEP, ... are parts 1, 2, ... of COUNT.
Chunk slurm_chunk(const std::function<const char*(const char*)>& env);

// Part `chunk` of `frames`: elements [floor((I-1)L/N), floor(IL/N)) of the
// L frames, so parts differ by at most one frame and the later ones take the
// extra frames. Empty when there are more parts than frames.
std::vector<int64_t> chunk_of(const std::vector<int64_t>& frames, Chunk chunk);

// `frames` as a frame list that parses back to the same frames in the same
// order: runs of a constant step become "A-B" or "A-BxS", others single
// numbers, e.g. {1, 6, 11, 120} gives "1-11x5,120". "" for no frames.
std::string format_frame_list(const std::vector<int64_t>& frames);

}  // namespace farm
