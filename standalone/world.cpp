#include "standalone/world.h"

#include <cstring>
#include <stdexcept>

#include "host/pixel_traits.h"

#ifndef TRELLIS_GUARDS
#define TRELLIS_GUARDS 1
#endif

namespace standalone {

namespace {

constexpr std::size_t kGuardBytes = TRELLIS_GUARDS ? 64 : 0;
// The guard pattern repeats these four bytes, counted from the block start.
constexpr std::uint8_t kGuardPattern[4] = {0xDE, 0xAD, 0xBE, 0xEF};

std::uint8_t guard_byte(std::size_t offset) { return kGuardPattern[offset % 4]; }

std::uint64_t next_serial() {
    static std::atomic<std::uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::size_t channel_bytes(PF_PixelFormat format) { return pixel_bytes(format) / 4; }

}  // namespace

std::size_t pixel_bytes(PF_PixelFormat format) {
    return dispatch_format(
        format, [](auto pixel) { return sizeof(typename decltype(pixel)::type); }, [] { return std::size_t{0}; });
}

bool World::guards_enabled() { return TRELLIS_GUARDS != 0; }

World::World(A_long width, A_long height, PF_PixelFormat format, A_long row_padding)
    : serial_(next_serial()), format_(format), reported_(format) {
    const std::size_t pixel = pixel_bytes(format);
    if (pixel == 0) {
        throw std::invalid_argument("World: unsupported pixel format");
    }
    if (width < 0 || height < 0 || row_padding < 0) {
        throw std::invalid_argument("World: negative size or padding");
    }
    if (static_cast<std::size_t>(row_padding) % channel_bytes(format) != 0) {
        throw std::invalid_argument("World: row padding must be a multiple of the channel size");
    }
    const std::size_t rowbytes = static_cast<std::size_t>(width) * pixel + static_cast<std::size_t>(row_padding);
    if (rowbytes > 0x7FFFFFFF) {
        throw std::invalid_argument("World: rows too long");
    }
    const std::size_t pixels_size = rowbytes * static_cast<std::size_t>(height);
    front_guard_ = kGuardBytes;
    back_guard_ = kGuardBytes;
    // One spare byte keeps `data` valid for an empty world.
    block_size_ = front_guard_ + pixels_size + back_guard_ + 1;
    block_ = std::make_unique<std::uint8_t[]>(block_size_);

    def_.world_flags = 0;
    def_.data = block_.get() + front_guard_;
    def_.rowbytes = static_cast<A_long>(rowbytes);
    def_.width = width;
    def_.height = height;
    def_.extent_hint = PF_LRect{0, 0, width, height};
    def_.platform_ref = this;
    def_.pix_aspect_ratio = PF_RationalScale{1, 1};
    def_.origin_x = 0;
    def_.origin_y = 0;
    def_.dephault = 0;
    write_guards();
}

World::~World() = default;

std::shared_ptr<World> World::clone() const {
    const A_long padding = def_.rowbytes - def_.width * static_cast<A_long>(pixel_size());
    auto copy = std::make_shared<World>(def_.width, def_.height, format_, padding);
    const std::size_t row_size = static_cast<std::size_t>(def_.width) * pixel_size();
    for (A_long y = 0; y < def_.height; ++y) {
        if (row_size > 0) {
            std::memcpy(copy->row(y), row(y), row_size);
        }
    }
    copy->reported_ = reported_;
    return copy;
}

std::uint8_t* World::row(A_long y) {
    mark_changed();
    return static_cast<std::uint8_t*>(def_.data) + static_cast<std::size_t>(y) * static_cast<std::size_t>(def_.rowbytes);
}

const std::uint8_t* World::row(A_long y) const {
    return static_cast<const std::uint8_t*>(def_.data) +
           static_cast<std::size_t>(y) * static_cast<std::size_t>(def_.rowbytes);
}

namespace {

template <typename P>
P* checked_pixel(const World& world, A_long x, A_long y) {
    if (world.format() != PixelTraits<P>::format) {
        throw std::logic_error("World: pixel access at the wrong depth");
    }
    if (x < 0 || y < 0 || x >= world.width() || y >= world.height()) {
        throw std::out_of_range("World: pixel outside the world");
    }
    // const_cast: the const and non-const accessors share this lookup.
    auto* row = const_cast<std::uint8_t*>(world.row(y));
    return reinterpret_cast<P*>(row) + x;
}

template <typename P>
void fill_world(World& world, const P& value) {
    if (world.format() != PixelTraits<P>::format) {
        throw std::logic_error("World: fill at the wrong depth");
    }
    for (A_long y = 0; y < world.height(); ++y) {
        P* row = reinterpret_cast<P*>(world.row(y));
        for (A_long x = 0; x < world.width(); ++x) {
            row[x] = value;
        }
    }
}

}  // namespace

PF_Pixel8& World::pixel8(A_long x, A_long y) {
    PF_Pixel8& p = *checked_pixel<PF_Pixel8>(*this, x, y);
    mark_changed();
    return p;
}
PF_Pixel16& World::pixel16(A_long x, A_long y) {
    PF_Pixel16& p = *checked_pixel<PF_Pixel16>(*this, x, y);
    mark_changed();
    return p;
}
PF_PixelFloat& World::pixel_float(A_long x, A_long y) {
    PF_PixelFloat& p = *checked_pixel<PF_PixelFloat>(*this, x, y);
    mark_changed();
    return p;
}
const PF_Pixel8& World::pixel8(A_long x, A_long y) const {
    return *checked_pixel<PF_Pixel8>(*this, x, y);
}
const PF_Pixel16& World::pixel16(A_long x, A_long y) const {
    return *checked_pixel<PF_Pixel16>(*this, x, y);
}
const PF_PixelFloat& World::pixel_float(A_long x, A_long y) const {
    return *checked_pixel<PF_PixelFloat>(*this, x, y);
}

void World::fill(const PF_Pixel8& value) { fill_world(*this, value); }
void World::fill(const PF_Pixel16& value) { fill_world(*this, value); }
void World::fill(const PF_PixelFloat& value) { fill_world(*this, value); }

void World::write_guards() {
    if (!guards_enabled()) {
        return;
    }
    std::uint8_t* block = block_.get();
    for (std::size_t i = 0; i < front_guard_; ++i) {
        block[i] = guard_byte(i);
    }
    const std::size_t row_size = static_cast<std::size_t>(def_.width) * pixel_size();
    for (A_long y = 0; y < def_.height; ++y) {
        const std::size_t start = front_guard_ + static_cast<std::size_t>(y) * static_cast<std::size_t>(def_.rowbytes);
        for (std::size_t i = start + row_size; i < start + static_cast<std::size_t>(def_.rowbytes); ++i) {
            block[i] = guard_byte(i);
        }
    }
    const std::size_t back = front_guard_ + static_cast<std::size_t>(def_.rowbytes) * static_cast<std::size_t>(def_.height);
    for (std::size_t i = back; i < block_size_; ++i) {
        block[i] = guard_byte(i);
    }
}

void World::restore_guards() { write_guards(); }

void World::clear() {
    std::memset(def_.data, 0, static_cast<std::size_t>(def_.rowbytes) * static_cast<std::size_t>(def_.height));
    write_guards();
    mark_changed();
}

std::string World::guard_report() const {
    if (!guards_enabled()) {
        return {};
    }
    const std::uint8_t* block = block_.get();
    for (std::size_t i = 0; i < front_guard_; ++i) {
        if (block[i] != guard_byte(i)) {
            return "guard before the pixels overwritten at offset -" + std::to_string(front_guard_ - i);
        }
    }
    const std::size_t row_size = static_cast<std::size_t>(def_.width) * pixel_size();
    for (A_long y = 0; y < def_.height; ++y) {
        const std::size_t start = front_guard_ + static_cast<std::size_t>(y) * static_cast<std::size_t>(def_.rowbytes);
        for (std::size_t i = start + row_size; i < start + static_cast<std::size_t>(def_.rowbytes); ++i) {
            if (block[i] != guard_byte(i)) {
                return "padding of row " + std::to_string(y) + " overwritten at byte " +
                       std::to_string(i - start);
            }
        }
    }
    const std::size_t back = front_guard_ + static_cast<std::size_t>(def_.rowbytes) * static_cast<std::size_t>(def_.height);
    for (std::size_t i = back; i < block_size_; ++i) {
        if (block[i] != guard_byte(i)) {
            return "guard after the pixels overwritten at offset +" + std::to_string(i - back);
        }
    }
    return {};
}

bool World::guards_intact() const { return guard_report().empty(); }

bool World::same_pixels(const World& other) const {
    if (format_ != other.format_ || def_.width != other.def_.width || def_.height != other.def_.height) {
        return false;
    }
    const std::size_t row_size = static_cast<std::size_t>(def_.width) * pixel_size();
    for (A_long y = 0; y < def_.height; ++y) {
        if (row_size > 0 && std::memcmp(row(y), other.row(y), row_size) != 0) {
            return false;
        }
    }
    return true;
}

std::uint64_t World::pixel_hash() const {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    auto mix = [&hash](std::uint8_t byte) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    };
    auto mix_word = [&mix](std::uint32_t word) {
        for (int i = 0; i < 4; ++i) {
            mix(static_cast<std::uint8_t>(word >> (8 * i)));
        }
    };
    mix_word(static_cast<std::uint32_t>(def_.width));
    mix_word(static_cast<std::uint32_t>(def_.height));
    mix_word(static_cast<std::uint32_t>(format_));
    const std::size_t row_size = static_cast<std::size_t>(def_.width) * pixel_size();
    for (A_long y = 0; y < def_.height; ++y) {
        const std::uint8_t* bytes = row(y);
        for (std::size_t i = 0; i < row_size; ++i) {
            mix(bytes[i]);
        }
    }
    return hash;
}

}  // namespace standalone
