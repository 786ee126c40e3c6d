#include "farm/chunks.h"

#include <charconv>

namespace farm {

namespace {

// A whole decimal number filling all of `text`.
bool to_long(std::string_view text, long& value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc{} && ptr == end;
}

}  // namespace

Chunk parse_chunk(std::string_view text) {
    const std::size_t slash = text.find('/');
    Chunk c;
    if (slash == std::string_view::npos || !to_long(text.substr(0, slash), c.index) ||
        !to_long(text.substr(slash + 1), c.count)) {
        throw ChunkError("'" + std::string(text) + "': expected I/N, part I of N (or slurm)");
    }
    if (c.count < 1 || c.index < 1 || c.index > c.count) {
        throw ChunkError("'" + std::string(text) + "': the part must be 1 to N, and N at least 1");
    }
    return c;
}

Chunk slurm_chunk(const std::function<const char*(const char*)>& env) {
    auto number = [&](const char* name, long fallback, bool required) {
        const char* text = env(name);
        long value = fallback;
        if (text == nullptr || *text == '\0') {
            if (required) throw ChunkError(std::string(name) + " is not set: not a Slurm array task");
            return value;
        }
        if (!to_long(text, value)) throw ChunkError(std::string(name) + "='" + text + "' is not a whole number");
        return value;
    };
    const long id = number("SLURM_ARRAY_TASK_ID", 0, true);
    const long min = number("SLURM_ARRAY_TASK_MIN", 0, true);
    const long step = number("SLURM_ARRAY_TASK_STEP", 1, false);
    const long count = number("SLURM_ARRAY_TASK_COUNT", 0, true);
    if (step < 1 || count < 1 || id < min || (id - min) % step != 0 || (id - min) / step >= count) {
        throw ChunkError("array task " + std::to_string(id) + " is not one of " + std::to_string(count) +
                         " tasks from " + std::to_string(min) + " by " + std::to_string(step));
    }
    return {(id - min) / step + 1, count};
}

std::vector<int64_t> chunk_of(const std::vector<int64_t>& frames, Chunk chunk) {
    // Frame lists are capped far below where index * size overflows.
    const auto size = static_cast<int64_t>(frames.size());
    const int64_t begin = (chunk.index - 1) * size / chunk.count;
    const int64_t end = chunk.index * size / chunk.count;
    return {frames.begin() + begin, frames.begin() + end};
}

std::string format_frame_list(const std::vector<int64_t>& frames) {
    std::string text;
    for (std::size_t i = 0; i < frames.size();) {
        // The longest run from i with one rising step; a pair with a larger
        // step stays two numbers, so "1,5,6,7" reads "1,5-7", not "1-5x4,6-7".
        std::size_t last = i;
        const int64_t step = i + 1 < frames.size() ? frames[i + 1] - frames[i] : 0;
        if (step > 0) {
            last = i + 1;
            while (last + 1 < frames.size() && frames[last + 1] - frames[last] == step) ++last;
            if (last == i + 1 && step != 1) last = i;
        }
        if (!text.empty()) text += ',';
        text += std::to_string(frames[i]);
        if (last > i) {
            text += '-' + std::to_string(frames[last]);
            if (step != 1) text += 'x' + std::to_string(step);
        }
        i = last + 1;
    }
    return text;
}

}  // namespace farm
