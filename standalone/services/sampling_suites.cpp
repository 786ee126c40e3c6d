// The three sampling suites: nearest-neighbour and area samples of a world,
// one template per depth. The area sampler itself is in sampling.cpp.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

#include "host/pixel_traits.h"
#include "standalone/services/service.h"

namespace standalone {

namespace {

// What each depth's functions log themselves as.
struct SamplingNames {
    const char* nn;
    const char* subpixel;
    const char* area;
    FaultTarget area_target;
};
constexpr SamplingNames kSamplingNames[] = {
    {"nn_sample", "subpixel_sample", "area_sample8", FaultTarget::area_sample8},
    {"nn_sample16", "subpixel_sample16", "area_sample16", FaultTarget::area_sample16},
    {"nn_sample_float", "subpixel_sample_float", "area_sample_float", FaultTarget::area_sample_float},
};

template <typename Pixel>
constexpr const SamplingNames& names() {
    return kSamplingNames[PixelTraits<Pixel>::depth];
}

PF_Err sample_into(const AreaSampler& s, PF_Fixed x, PF_Fixed y, PF_Fixed rx, PF_Fixed ry, PF_Pixel8* out) {
    return s.sample8(x, y, rx, ry, out);
}
PF_Err sample_into(const AreaSampler& s, PF_Fixed x, PF_Fixed y, PF_Fixed rx, PF_Fixed ry, PF_Pixel16* out) {
    return s.sample16(x, y, rx, ry, out);
}
PF_Err sample_into(const AreaSampler& s, PF_Fixed x, PF_Fixed y, PF_Fixed rx, PF_Fixed ry, PF_PixelFloat* out) {
    return s.sample_float(x, y, rx, ry, out);
}

template <typename Pixel>
PF_Err PF_CALL nn_sample(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, Pixel* dst) {
    Host* host = host_of(ref);
    if (host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Call call(host, names<Pixel>().nn, {as_int(x), as_int(y)});
    World* world = params != nullptr ? host->impl().find_world(params->src) : nullptr;
    if (world == nullptr || dst == nullptr || world->format() != PixelTraits<Pixel>::format) {
        return call.finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    // Pixel centres at whole numbers; outside the world is transparent zero.
    const A_long px = static_cast<A_long>(std::floor(x / 65536.0 + 0.5));
    const A_long py = static_cast<A_long>(std::floor(y / 65536.0 + 0.5));
    if (px < 0 || py < 0 || px >= world->width() || py >= world->height()) {
        *dst = Pixel{};
    } else {
        *dst = reinterpret_cast<const Pixel*>(std::as_const(*world).row(py))[px];
    }
    return call.finish(PF_Err_NONE);
}

template <typename Pixel>
PF_Err PF_CALL subpixel_sample(PF_ProgPtr ref, PF_Fixed, PF_Fixed, const PF_SampPB*, Pixel*) {
    Call call(host_of(ref), names<Pixel>().subpixel, {});
    return call.finish(PF_Err_INVALID_CALLBACK);
}

// What an area-sampling call logs; see sample_arg.
std::vector<LogArg> sample_args(PF_Fixed x, PF_Fixed y, const PF_SampPB* params) {
    if (params == nullptr) {
        return {as_int(x), as_int(y)};
    }
    const bool reserved = std::any_of(std::begin(params->reserved), std::end(params->reserved),
                                      [](A_long word) { return word != 0; });
    std::vector<LogArg> args{
        as_int(x),
        as_int(y),
        as_int(params->x_radius),
        as_int(params->y_radius),
        as_int(params->area),
        static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(params->src)),
        as_int(params->samp_behave),
        as_int(params->allow_asynch),
        as_int(params->motion_blur),
        as_int(params->comp_mode.xfer),
        as_int(params->mask0 != nullptr),
        as_int(params->fcm_table != nullptr),
        as_int(params->fcd_table != nullptr),
        as_int(reserved),
    };
    return args;
}

// Called once per painted pixel: the Call and its argument list are skipped
// once the log only counts.
template <typename Pixel>
PF_Err PF_CALL area_sample(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, Pixel* dst) {
    Host* host = host_of(ref);
    if (dst == nullptr || host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    long position = -1;
    if (host->log().enabled()) {
        position = host->log().record(names<Pixel>().area,
                                      host->log().full() ? std::vector<LogArg>{} : sample_args(x, y, params));
    }
    auto finish = [host, position](PF_Err err) {
        if (position >= 0) {
            host->log().set_result(position, err);
        }
        return err;
    };
    if (PF_Err err = injected(*host, names<Pixel>().area_target)) {
        return finish(err);
    }
    const AreaSampler* sampler = params != nullptr ? host->impl().sampler_for(params->src) : nullptr;
    if (sampler == nullptr) {
        return finish(PF_Err_BAD_CALLBACK_PARAM);
    }
    return finish(sample_into(*sampler, x, y, params->x_radius, params->y_radius, dst));
}

template <typename Pixel>
constexpr typename PixelTraits<Pixel>::SamplingSuite sampling_suite() {
    using Traits = PixelTraits<Pixel>;
    typename Traits::SamplingSuite suite{};
    suite.*Traits::nn_sample = nn_sample<Pixel>;
    suite.*Traits::subpixel_sample = subpixel_sample<Pixel>;
    suite.*Traits::area_sample = area_sample<Pixel>;
    return suite;
}

constexpr PF_Sampling8Suite1 kSampling8Suite = sampling_suite<PF_Pixel8>();
constexpr PF_Sampling16Suite1 kSampling16Suite = sampling_suite<PF_Pixel16>();
constexpr PF_SamplingFloatSuite1 kSamplingFloatSuite = sampling_suite<PF_PixelFloat>();

}  // namespace

const void* sampling8_suite_table() { return &kSampling8Suite; }
const void* sampling16_suite_table() { return &kSampling16Suite; }
const void* sampling_float_suite_table() { return &kSamplingFloatSuite; }

}  // namespace standalone
