// Worlds: the world suite, and the utility callbacks that copy and fill.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <type_traits>
#include <utility>

#include "host/pixel_traits.h"
#include "standalone/services/service.h"

namespace standalone {

namespace {

bool rect_inside(const PF_Rect& r, const World& world) {
    return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom && r.right <= world.width() &&
           r.bottom <= world.height();
}

PF_Err PF_CALL util_copy(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                         PF_Rect* dst_r) {
    return serve(host_of(effect_ref), FaultTarget::copy, {as_int(src_r != nullptr), as_int(dst_r != nullptr)},
                 [&](Host& host) -> PF_Err {
        World* from = host.impl().find_world(src);
        World* to = host.impl().find_world(dst);
        if (from == nullptr || to == nullptr || from->format() != to->format()) {
            host.ledger().error("copy between unknown worlds or worlds of different depth");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        const PF_Rect a = src_r != nullptr ? *src_r : PF_Rect{0, 0, from->width(), from->height()};
        const PF_Rect b = dst_r != nullptr ? *dst_r : PF_Rect{0, 0, to->width(), to->height()};
        if (!rect_inside(a, *from) || !rect_inside(b, *to) || a.right - a.left != b.right - b.left ||
            a.bottom - a.top != b.bottom - b.top) {
            host.ledger().error("copy with rectangles outside the worlds or of different sizes");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        const std::size_t pixel = from->pixel_size();
        const std::size_t bytes = static_cast<std::size_t>(a.right - a.left) * pixel;
        for (A_long y = 0; y < a.bottom - a.top; ++y) {
            if (bytes > 0) {
                std::memmove(to->row(b.top + y) + static_cast<std::size_t>(b.left) * pixel,
                             std::as_const(*from).row(a.top + y) + static_cast<std::size_t>(a.left) * pixel,
                             bytes);
            }
        }
        return PF_Err_NONE;
    });
}

// An 8-bit colour at another depth, widened as the application does: 255
// maps to full scale, integers rounded to nearest.
template <typename Pixel>
Pixel widen(const PF_Pixel8& c) {
    using Traits = PixelTraits<Pixel>;
    using Channel = typename Traits::Channel;
    auto channel = [](A_u_char v) -> Channel {
        if constexpr (std::is_floating_point_v<Channel>) {
            return v * Traits::full / 255.0f;
        } else {
            return static_cast<Channel>((v * Traits::full + 127) / 255);
        }
    };
    return Pixel{channel(c.alpha), channel(c.red), channel(c.green), channel(c.blue)};
}

// `r` lies inside the world. An all-zero value (the usual clear) is a
// memset; other values fill one row and copy it.
template <typename Pixel>
void fill_rect(World& world, const PF_Rect& r, const Pixel& value) {
    if (r.left >= r.right || r.top >= r.bottom) {
        return;
    }
    const std::size_t offset = static_cast<std::size_t>(r.left) * sizeof(Pixel);
    const std::size_t bytes = static_cast<std::size_t>(r.right - r.left) * sizeof(Pixel);
    Pixel zero{};
    if (std::memcmp(&value, &zero, sizeof(Pixel)) == 0) {
        for (A_long y = r.top; y < r.bottom; ++y) {
            std::memset(world.row(y) + offset, 0, bytes);
        }
        return;
    }
    std::uint8_t* const first = world.row(r.top) + offset;
    std::fill_n(reinterpret_cast<Pixel*>(first), r.right - r.left, value);
    for (A_long y = r.top + 1; y < r.bottom; ++y) {
        std::memcpy(world.row(y) + offset, first, bytes);
    }
}

PF_Err PF_CALL util_fill(PF_ProgPtr effect_ref, const PF_Pixel* color, const PF_Rect* dst_rect, PF_EffectWorld* world) {
    const PF_Pixel8 value = color != nullptr ? *color : PF_Pixel8{0, 0, 0, 0};
    return serve(host_of(effect_ref), FaultTarget::fill,
                 {as_int(value.alpha), as_int(value.red), as_int(value.green), as_int(value.blue),
                  as_int(dst_rect != nullptr)},
                 [&](Host& host) -> PF_Err {
        World* target = host.impl().find_world(world);
        if (target == nullptr) {
            host.ledger().error("fill of an unknown world");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        const PF_Rect r = dst_rect != nullptr ? *dst_rect : PF_Rect{0, 0, target->width(), target->height()};
        if (!rect_inside(r, *target)) {
            host.ledger().error("fill with a rectangle outside the world");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        // A World only ever has one of the three formats.
        return dispatch_format(
            target->format(),
            [&](auto pixel) -> PF_Err {
                using Pixel = typename decltype(pixel)::type;
                fill_rect(*target, r, widen<Pixel>(value));
                return PF_Err_NONE;
            },
            []() -> PF_Err { return PF_Err_BAD_CALLBACK_PARAM; });
    });
}

PF_Err PF_CALL new_world(PF_ProgPtr effect_ref, A_long width, A_long height, PF_Boolean, PF_PixelFormat format,
                         PF_EffectWorld* world) {
    auto check = [&](Host&) -> PF_Err {
        return world == nullptr || width < 0 || height < 0 || pixel_bytes(format) == 0 ? PF_Err_BAD_CALLBACK_PARAM
                                                                                       : PF_Err_NONE;
    };
    return serve(host_of(effect_ref), FaultTarget::new_world, {as_int(width), as_int(height), as_int(format)}, check,
                 [&](Host& host) -> PF_Err {
        try {
            auto made = std::make_shared<World>(width, height, format);
            *world = *made->def();
            host.impl().new_worlds.push_back(std::move(made));
        } catch (const std::exception&) {
            return PF_Err_OUT_OF_MEMORY;
        }
        return PF_Err_NONE;
    });
}

PF_Err PF_CALL dispose_world(PF_ProgPtr effect_ref, PF_EffectWorld* world) {
    Host* host = host_of(effect_ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, "PF_DisposeWorld", {});
    auto& worlds = host->impl().new_worlds;
    for (auto it = worlds.begin(); it != worlds.end(); ++it) {
        if (world != nullptr && world->platform_ref == it->get()) {
            worlds.erase(it);
            *world = PF_EffectWorld{};
            return call.finish(PF_Err_NONE);
        }
    }
    host->ledger().error("PF_DisposeWorld of a world not made by PF_NewWorld");
    return call.finish(PF_Err_BAD_CALLBACK_PARAM);
}

// No effect_ref: serves the Host whose command is running.
PF_Err PF_CALL get_pixel_format(const PF_EffectWorld* world, PF_PixelFormat* format) {
    auto check = [&](Host&) -> PF_Err { return format == nullptr ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE; };
    return serve(current_host(), FaultTarget::get_pixel_format, {}, check, [&](Host& host) -> PF_Err {
        World* found = host.impl().find_world(world);
        if (found == nullptr) {
            host.ledger().error("PF_GetPixelFormat of an unknown world");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *format = found->reported_format();
        return PF_Err_NONE;
    });
}

constexpr PF_WorldSuite2 kWorldSuite = {new_world, dispose_world, get_pixel_format};

}  // namespace

const void* world_suite_table() { return &kWorldSuite; }

void fill_world_callbacks(PF_UtilCallbacks* utils) {
    utils->copy = util_copy;
    utils->fill = util_fill;
}

}  // namespace standalone
