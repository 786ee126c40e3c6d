// The stroke record, the frame's stroke list and the seeded random source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/ae_sdk.h"
#include "params/names.h"

struct Stroke {
    A_long sample_x;
    A_long sample_y;
    A_long center_x;
    A_long center_y;
    A_long half_w;
    A_long half_h;
    StrokeSide side;
    Orientation orientation;
};

// Strokes of one frame in placement order, kept in one contiguous array.
// Readers get copies.
class StrokeList {
public:
    // False when memory runs out; the list is then unchanged.
    bool append(const Stroke& stroke);
    void clear();
    std::size_t size() const { return strokes_.size(); }
    bool empty() const { return strokes_.empty(); }
    Stroke at(std::size_t index) const { return strokes_[index]; }

private:
    std::vector<Stroke> strokes_;
};

// 32-bit linear congruential generator.
class RandomSource {
public:
    void set_seed(A_long seed) { state_ = static_cast<uint32_t>(seed); }
    // 0 .. 2^31 - 1
    A_long next_int();
    // [0, 1)
    double next_real();

private:
    uint32_t state_ = 0;
};
