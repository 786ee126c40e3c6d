// What the image files' reading, writing and colour conversion share: the
// size checks, library messages and the library's one-time set-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "footage/image_io.h"

namespace cli::image_detail {

// Throws ImageError, labelled `what`, for an empty size or one above the
// limits.
void check_size(int64_t width, int64_t height, const std::string& what);
std::size_t pixel_count(const Image& image);
// check_size, and pixels that fill the size exactly.
void check_image(const Image& image, const std::string& what);
// [0, 1]; NaN gives 0.
float clamp_unit(float v);
std::string errno_text(int err);
// A library's message, one line, escaped; trailing newlines dropped.
std::string library_text(std::string message);
// The image library's process-wide settings, made once before its first use.
void init_library();

// One sample as the file stores it, with the sample rules.
template <class T, class S>
T encode_sample(S v) {
    if constexpr (std::is_same_v<T, uint8_t>) {
        if constexpr (std::is_same_v<S, uint8_t>) return v;
        else if constexpr (std::is_same_v<S, A_u_short>) return sample::world_to_8(v);
        else return sample::float_to_8(v);
    } else if constexpr (std::is_same_v<T, uint16_t>) {
        if constexpr (std::is_same_v<S, A_u_short>) return sample::world_to_png16(v);
        else return sample::float_to_png16(v);
    } else if constexpr (std::is_same_v<S, uint8_t>) {
        return sample::png8_to_float(v);
    } else if constexpr (std::is_same_v<S, A_u_short>) {
        return sample::world_to_float(v);
    } else {
        return v;
    }
}


}  // namespace cli::image_detail
