// Each pixel type with its depth number, world format, full scale and
// sampling suite. Code chooses the depth once (dispatch_depth) and from there
// is written for one pixel type, so no per-depth literal or pointer needs to
// be spread through it.
#pragma once

#include <cstdint>
#include <type_traits>

#include "host/ae_sdk.h"

// The effect's own depth numbering (RenderContext::depth).
enum : uint8_t { DEPTH_8 = 0, DEPTH_16 = 1, DEPTH_FLOAT = 2 };

template <class Pixel>
struct PixelTraits;

// The sampling suites' functions, for a pixel type.
template <class Pixel>
using SampleFunction = PF_Err(PF_CALL*)(PF_ProgPtr, PF_Fixed, PF_Fixed, const PF_SampPB*, Pixel*);

template <>
struct PixelTraits<PF_Pixel8> {
    using Channel = A_u_char;
    using SamplingSuite = PF_Sampling8Suite1;
    static constexpr uint8_t depth = DEPTH_8;
    static constexpr PF_PixelFormat format = PF_PixelFormat_ARGB32;
    static constexpr Channel full = 255;
    static constexpr const char* sampling_suite_name = kPFSampling8Suite;
    static constexpr auto area_sample = &SamplingSuite::area_sample;
    static constexpr auto nn_sample = &SamplingSuite::nn_sample;
    static constexpr auto subpixel_sample = &SamplingSuite::subpixel_sample;
};

template <>
struct PixelTraits<PF_Pixel16> {
    using Channel = A_u_short;
    using SamplingSuite = PF_Sampling16Suite1;
    static constexpr uint8_t depth = DEPTH_16;
    static constexpr PF_PixelFormat format = PF_PixelFormat_ARGB64;
    // The host's 16-bit scale: 32768, not 65535.
    static constexpr Channel full = 32768;
    static constexpr const char* sampling_suite_name = kPFSampling16Suite;
    static constexpr auto area_sample = &SamplingSuite::area_sample16;
    static constexpr auto nn_sample = &SamplingSuite::nn_sample16;
    static constexpr auto subpixel_sample = &SamplingSuite::subpixel_sample16;
};

template <>
struct PixelTraits<PF_PixelFloat> {
    using Channel = PF_FpShort;
    using SamplingSuite = PF_SamplingFloatSuite1;
    static constexpr uint8_t depth = DEPTH_FLOAT;
    static constexpr PF_PixelFormat format = PF_PixelFormat_ARGB128;
    static constexpr Channel full = 1.0f;
    static constexpr const char* sampling_suite_name = kPFSamplingFloatSuite;
    static constexpr auto area_sample = &SamplingSuite::area_sample_float;
    static constexpr auto nn_sample = &SamplingSuite::nn_sample_float;
    static constexpr auto subpixel_sample = &SamplingSuite::subpixel_sample_float;
};

// The depth of a world format; false for formats the effect does not take.
constexpr bool depth_of_format(PF_PixelFormat format, uint8_t* depth) {
    switch (format) {
        case PixelTraits<PF_Pixel8>::format: *depth = DEPTH_8; return true;
        case PixelTraits<PF_Pixel16>::format: *depth = DEPTH_16; return true;
        case PixelTraits<PF_PixelFloat>::format: *depth = DEPTH_FLOAT; return true;
        default: return false;
    }
}

// Calls f(std::type_identity<Pixel>{}) for the pixel type of `depth` and
// returns its result; `otherwise()` for a depth outside 0..2.
template <class F, class G>
constexpr decltype(auto) dispatch_depth(uint8_t depth, F&& f, G&& otherwise) {
    switch (depth) {
        case DEPTH_8: return f(std::type_identity<PF_Pixel8>{});
        case DEPTH_16: return f(std::type_identity<PF_Pixel16>{});
        case DEPTH_FLOAT: return f(std::type_identity<PF_PixelFloat>{});
        default: return otherwise();
    }
}

// The same for a world format.
template <class F, class G>
constexpr decltype(auto) dispatch_format(PF_PixelFormat format, F&& f, G&& otherwise) {
    uint8_t depth = 0;
    if (!depth_of_format(format, &depth)) return otherwise();
    return dispatch_depth(depth, static_cast<F&&>(f), static_cast<G&&>(otherwise));
}
