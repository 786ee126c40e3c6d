// Area sampling of one world, behind the host's sampling suites.
#pragma once

#include <cstddef>
#include <memory>

#include "host/ae_sdk.h"

namespace standalone {

class World;

// malloc's stand-in for the host's big blocks (sampling tables, handles):
// blocks of several megabytes are asked to live on huge pages where the
// system offers them, which spares thousands of page faults on first touch.
// Null when out of memory; give the block back with std::free.
void* allocate_memory(std::size_t bytes) noexcept;

// Box-filtered samples of one world. The tables are built once; the host
// keeps them from frame to frame while the world stays unchanged.
//
// Coordinates are the world's pixels with pixel centres at whole numbers
// (pixel i covers [i − ½, i + ½)); position and radii are 16.16 fixed. A
// sample averages the box [x − rx, x + rx] × [y − ry, y + ry], each radius at
// least ½ (so ½ is bilinear interpolation), weighting every pixel by the area
// of it the box covers; outside the world counts as transparent zero. The
// average is premultiplied and returned straight:
//   colour = Σ w·α·c ÷ Σ w·α,  alpha = Σ w·α ÷ Σ w  (Σ w = the box area),
// all zero where Σ w·α is 0. 8 and 16-bit results are rounded to nearest and
// clamped to 255 / 32768; float results are not clamped. A box inside a region
// of one pixel value returns exactly that value at 8 and 16 bits (within 1e-6
// at float).
//
// The cost of a sample does not depend on the radius: the constructor builds
// tiled summed-area tables of α and α·c (exact integers at 8 and 16 bits,
// double-double accumulated at float). Extra memory, per pixel of the world:
// about 16.3 bytes at 8 bits, 22.3 at 16 bits, 32.5 at float.
//
// Float pixels with a non-finite channel count as transparent zero (one such
// pixel would otherwise poison every table entry after it).
class AreaSampler {
public:
    // `world` is read during construction only. Formats other than ARGB32,
    // ARGB64 and ARGB128, and worlds that are empty, have no data or have
    // |rowbytes| below width × pixel size, give a sampler whose every sample
    // is all zero. Never throws: if the tables cannot be allocated, every
    // sample reports PF_Err_OUT_OF_MEMORY.
    // `wide` false keeps to the SSE2 build where the processor has wider
    // instructions (the same tables: for comparing the two).
    AreaSampler(const PF_EffectWorld& world, PF_PixelFormat format, bool wide = true) noexcept;

    // Each writes the sample to *out and returns PF_Err_NONE. A null `out`, or
    // a function of another depth than the sampler's format (for a non-empty
    // world), gives PF_Err_BAD_CALLBACK_PARAM (with *out zeroed when non-null).
    PF_Err sample8(PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius, PF_Pixel8* out) const;
    PF_Err sample16(PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius, PF_Pixel16* out) const;
    PF_Err sample_float(PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius,
                        PF_PixelFloat* out) const;

    PF_PixelFormat format() const { return format_; }
    // Bytes held by the tables (0 for an empty or failed sampler).
    std::size_t table_bytes() const;

    class Impl;  // the tables; defined in the implementation only

private:
    // The shared body of the sample functions: checks, the box, then
    // `convert` of the box into *out.
    template <class Depth, class Pixel, class Convert>
    PF_Err sample_as(PF_PixelFormat depth_format, PF_Fixed x, PF_Fixed y, PF_Fixed x_radius, PF_Fixed y_radius,
                     Pixel* out, Convert convert) const;

    enum class State { empty, ready, failed };
    PF_PixelFormat format_;
    State state_ = State::empty;
    std::shared_ptr<const Impl> impl_;  // immutable once built, so copies share it
};

// The sampler of `world` as it is now, shared by every caller in the process
// (each worker's host, frame after frame) for as long as one of them holds
// it: the tables are built once per world contents, by the first caller,
// while the others wait for them. Keyed on the world's serial (never reused),
// its change count, format and geometry, so a changed world gets new tables
// and holders of the old ones keep theirs. Thread-safe; never throws.
std::shared_ptr<const AreaSampler> shared_sampler(const World& world) noexcept;

}  // namespace standalone
