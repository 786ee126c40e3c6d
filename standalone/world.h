// An image world as the host hands it to the effect: straight ARGB pixels at
// 8, 16 or float depth, rows `rowbytes` apart (any padding), and, when built
// with TRELLIS_GUARDS, guard bytes before and after the pixel block and in
// every row's padding so that stray writes are found after a render.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "host/ae_sdk.h"

namespace standalone {

// Bytes per pixel of one of the three ARGB formats; 0 for any other format.
std::size_t pixel_bytes(PF_PixelFormat format);

class World {
public:
    // `format` is PF_PixelFormat_ARGB32, _ARGB64 or _ARGB128 (else
    // std::invalid_argument). rowbytes = width × pixel size + row_padding;
    // the padding must be a multiple of the channel size (1, 2 or 4 bytes).
    // Width and height may be 0, not negative. Pixels start all zero.
    World(A_long width, A_long height, PF_PixelFormat format, A_long row_padding = 0);
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Same geometry, padding and pixels (guards fresh).
    std::shared_ptr<World> clone() const;

    // The host's record; platform_ref points back at this World, data at
    // pixel (0, 0). The effect gets copies of it.
    PF_EffectWorld* def() { return &def_; }
    const PF_EffectWorld* def() const { return &def_; }

    A_long width() const { return def_.width; }
    A_long height() const { return def_.height; }
    A_long rowbytes() const { return def_.rowbytes; }
    PF_PixelFormat format() const { return format_; }
    std::size_t pixel_size() const { return pixel_bytes(format_); }

    // The format that PF_GetPixelFormat reports; normally format(). Set it to
    // e.g. PF_PixelFormat_BGRA32 or PF_PixelFormat_INVALID to offer the effect
    // a world it must refuse.
    void report_format(PF_PixelFormat reported) { reported_ = reported; }
    PF_PixelFormat reported_format() const { return reported_; }

    // Which world this is (never reused, unlike addresses) and how often its
    // pixels may have changed: the non-const row(), pixel8/16/float() and
    // fill() count one change each. Writes through other pointers (def()'s
    // data, a row pointer kept from before) are not seen; call mark_changed()
    // after them. The host keeps a Layer's sampling tables between frames
    // while serial() and changes() stay the same.
    std::uint64_t serial() const { return serial_; }
    std::uint64_t changes() const { return changes_.load(std::memory_order_relaxed); }
    void mark_changed() { changes_.fetch_add(1, std::memory_order_relaxed); }

    // Typed access; throws std::logic_error for the wrong depth and
    // std::out_of_range outside the world.
    PF_Pixel8& pixel8(A_long x, A_long y);
    PF_Pixel16& pixel16(A_long x, A_long y);
    PF_PixelFloat& pixel_float(A_long x, A_long y);
    const PF_Pixel8& pixel8(A_long x, A_long y) const;
    const PF_Pixel16& pixel16(A_long x, A_long y) const;
    const PF_PixelFloat& pixel_float(A_long x, A_long y) const;

    // Start of row y (unchecked beyond 0 <= y < height).
    std::uint8_t* row(A_long y);
    const std::uint8_t* row(A_long y) const;

    // Every pixel set to the value; throws std::logic_error for the wrong depth.
    void fill(const PF_Pixel8& value);
    void fill(const PF_Pixel16& value);
    void fill(const PF_PixelFloat& value);

    // Every pixel back to zero and the guards rewritten, as a fresh World of
    // this geometry starts (one change). Cheaper than a new World: the pages
    // are already mapped.
    void clear();

    // True when the guard pattern before, after and between the rows is
    // untouched (always true without TRELLIS_GUARDS).
    bool guards_intact() const;
    // Where the guards were broken, for messages ("" when intact).
    std::string guard_report() const;
    void restore_guards();
    static bool guards_enabled();

    // Pixel contents only (padding ignored); false for different geometry or format.
    bool same_pixels(const World& other) const;
    // FNV-1a over the pixel bytes row by row (padding excluded) and the geometry.
    std::uint64_t pixel_hash() const;

private:
    void write_guards();

    PF_EffectWorld def_{};
    std::uint64_t serial_;
    std::atomic<std::uint64_t> changes_{0};
    PF_PixelFormat format_;
    PF_PixelFormat reported_;
    std::unique_ptr<std::uint8_t[]> block_;
    std::size_t block_size_ = 0;
    std::size_t front_guard_ = 0;
    std::size_t back_guard_ = 0;
};

}  // namespace standalone
