// Per-call cache of host suites, and the two free suite helpers and the
// rectangle union that the frame handlers use.
#pragma once

#include <type_traits>

#include "host/ae_sdk.h"
#include "host/pixel_traits.h"

// Acquires each suite on first use and releases every acquired suite when it
// goes out of scope. A refused suite is raised as a thrown PF_Err of 516
// (PF_Err_BAD_CALLBACK_PARAM); the entry point turns it into the result.
class SuiteCache {
public:
    // Throws PF_Err 516 when `basic` is null.
    explicit SuiteCache(SPBasicSuite* basic);
    ~SuiteCache();
    SuiteCache(const SuiteCache&) = delete;
    SuiteCache& operator=(const SuiteCache&) = delete;

    // Each returns the suite, never null; throws PF_Err 516 on refusal.
    const PF_ANSICallbacksSuite1* ansi_suite();
    const AEGP_UtilitySuite3* utility_suite();
    const PF_HandleSuite1* handle_suite();
    const PF_ParamUtilsSuite1* param_utils_suite();
    const PF_PathQuerySuite1* path_query_suite();
    const PF_PathDataSuite1* path_data_suite();
    const PF_Sampling8Suite1* sampling8_suite();
    const PF_Sampling16Suite1* sampling16_suite();
    const PF_SamplingFloatSuite1* sampling_float_suite();
    // The sampling suite of one pixel type.
    template <class Pixel>
    const typename PixelTraits<Pixel>::SamplingSuite* sampling_suite() {
        if constexpr (std::is_same_v<Pixel, PF_Pixel8>) return sampling8_suite();
        else if constexpr (std::is_same_v<Pixel, PF_Pixel16>) return sampling16_suite();
        else return sampling_float_suite();
    }

private:
    // One slot per suite the effect acquires, in release order.
    static constexpr int kSlotCount = 9;

    const void* acquire(int slot);

    SPBasicSuite* basic_;
    const void* slots_[kSlotCount];
};

// Acquires a suite outside the cache. On refusal (or without a basic suite)
// shows `message` (or a default text) through return_msg and returns 516.
// `*suite` is left untouched when there is no basic suite.
PF_Err acquire_suite_with_message(PF_InData* in_data, PF_OutData* out_data, const char* name, A_long version,
                                  const char* message, const void** suite);

// Releases a suite taken with acquire_suite_with_message; 516 with `message`
// shown when there is no basic suite.
PF_Err release_suite_with_message(PF_InData* in_data, PF_OutData* out_data, const char* name, A_long version,
                                  const char* message);

// Grows `dest` in place to hold `src`; an empty `dest` becomes a copy of `src`.
void union_rect(const PF_LRect* src, PF_LRect* dest);
