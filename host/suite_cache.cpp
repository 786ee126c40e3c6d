#include "host/suite_cache.h"

#include <string_view>

namespace {

struct SuitePair {
    const char* name;
    A_long version;
};

// The pairs the effect acquires, in the order the destructor releases them.
// The names go to the host byte for byte, so a suite is always released under
// the very name it was acquired with.
constexpr SuitePair kPairs[] = {
    {kPFPathQuerySuite, kPFPathQuerySuiteVersion1},
    {kPFPathDataSuite, kPFPathDataSuiteVersion1},
    {kPFParamUtilsSuite, kPFParamUtilsSuiteVersion1},
    {kAEGPUtilitySuite, kAEGPUtilitySuiteVersion3},
    {kPFANSISuite, kPFANSISuiteVersion1},
    {kPFHandleSuite, kPFHandleSuiteVersion1},
    {kPFSampling8Suite, kPFSampling8SuiteVersion1},
    {kPFSampling16Suite, kPFSampling16SuiteVersion1},
    {kPFSamplingFloatSuite, kPFSamplingFloatSuiteVersion1},
};

constexpr int kPairCount = static_cast<int>(sizeof(kPairs) / sizeof(kPairs[0]));

consteval int slot_of(std::string_view name, A_long version) {
    for (int i = 0; i < kPairCount; ++i) {
        if (name == kPairs[i].name && version == kPairs[i].version) {
            return i;
        }
    }
    throw "suite pair not in the table";  // not a constant expression: fails the build
}

constexpr int kAnsiSlot = slot_of(kPFANSISuite, kPFANSISuiteVersion1);
constexpr int kUtilitySlot = slot_of(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion3);
constexpr int kHandleSlot = slot_of(kPFHandleSuite, kPFHandleSuiteVersion1);
constexpr int kParamUtilsSlot = slot_of(kPFParamUtilsSuite, kPFParamUtilsSuiteVersion1);
constexpr int kPathQuerySlot = slot_of(kPFPathQuerySuite, kPFPathQuerySuiteVersion1);
constexpr int kPathDataSlot = slot_of(kPFPathDataSuite, kPFPathDataSuiteVersion1);
constexpr int kSampling8Slot = slot_of(kPFSampling8Suite, kPFSampling8SuiteVersion1);
constexpr int kSampling16Slot = slot_of(kPFSampling16Suite, kPFSampling16SuiteVersion1);
constexpr int kSamplingFloatSlot = slot_of(kPFSamplingFloatSuite, kPFSamplingFloatSuiteVersion1);

// The longest text the host's return message holds, before its terminator.
constexpr const char* kMessageFormat = "%.255s";

void show_message(PF_InData* in_data, PF_OutData* out_data, const char* message) {
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    if (in_data->utils != nullptr && in_data->utils->ansi.sprintf != nullptr) {
        // The message is an argument, never the format: a '%' in it stays text.
        in_data->utils->ansi.sprintf(out_data->return_msg, kMessageFormat, message);
    }
}

}  // namespace

SuiteCache::SuiteCache(SPBasicSuite* basic) : basic_(basic), slots_{} {
    static_assert(kPairCount == kSlotCount);
    if (basic_ == nullptr) {
        throw PF_Err{PF_Err_BAD_CALLBACK_PARAM};
    }
}

SuiteCache::~SuiteCache() {
    for (int i = 0; i < kSlotCount; ++i) {
        if (slots_[i] != nullptr) {
            basic_->ReleaseSuite(kPairs[i].name, kPairs[i].version);
        }
    }
}

const void* SuiteCache::acquire(int slot) {
    if (slots_[slot] != nullptr) {
        return slots_[slot];
    }
    const void* suite = nullptr;
    const SPErr err = basic_->AcquireSuite(kPairs[slot].name, kPairs[slot].version, &suite);
    if (err != 0 || suite == nullptr) {
        throw PF_Err{PF_Err_BAD_CALLBACK_PARAM};
    }
    slots_[slot] = suite;
    return suite;
}

const PF_ANSICallbacksSuite1* SuiteCache::ansi_suite() {
    return static_cast<const PF_ANSICallbacksSuite1*>(acquire(kAnsiSlot));
}

const AEGP_UtilitySuite3* SuiteCache::utility_suite() {
    return static_cast<const AEGP_UtilitySuite3*>(acquire(kUtilitySlot));
}

const PF_HandleSuite1* SuiteCache::handle_suite() {
    return static_cast<const PF_HandleSuite1*>(acquire(kHandleSlot));
}

const PF_ParamUtilsSuite1* SuiteCache::param_utils_suite() {
    return static_cast<const PF_ParamUtilsSuite1*>(acquire(kParamUtilsSlot));
}

const PF_PathQuerySuite1* SuiteCache::path_query_suite() {
    return static_cast<const PF_PathQuerySuite1*>(acquire(kPathQuerySlot));
}

const PF_PathDataSuite1* SuiteCache::path_data_suite() {
    return static_cast<const PF_PathDataSuite1*>(acquire(kPathDataSlot));
}

const PF_Sampling8Suite1* SuiteCache::sampling8_suite() {
    return static_cast<const PF_Sampling8Suite1*>(acquire(kSampling8Slot));
}

const PF_Sampling16Suite1* SuiteCache::sampling16_suite() {
    return static_cast<const PF_Sampling16Suite1*>(acquire(kSampling16Slot));
}

const PF_SamplingFloatSuite1* SuiteCache::sampling_float_suite() {
    return static_cast<const PF_SamplingFloatSuite1*>(acquire(kSamplingFloatSlot));
}

PF_Err acquire_suite_with_message(PF_InData* in_data, PF_OutData* out_data, const char* name, A_long version,
                                  const char* message, const void** suite) {
    if (in_data == nullptr || out_data == nullptr || suite == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (in_data->pica_basicP != nullptr) {
        in_data->pica_basicP->AcquireSuite(name, version, suite);
        if (*suite != nullptr) {
            return PF_Err_NONE;
        }
    }
    show_message(in_data, out_data, message != nullptr ? message : "Not able to acquire AEFX Suite.");
    return PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err release_suite_with_message(PF_InData* in_data, PF_OutData* out_data, const char* name, A_long version,
                                  const char* message) {
    if (in_data == nullptr || out_data == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (in_data->pica_basicP != nullptr) {
        in_data->pica_basicP->ReleaseSuite(name, version);
        return PF_Err_NONE;
    }
    show_message(in_data, out_data, message != nullptr ? message : "Not able to release AEFX Suite.");
    return PF_Err_BAD_CALLBACK_PARAM;
}

void union_rect(const PF_LRect* src, PF_LRect* dest) {
    if (dest->left >= dest->right || dest->top >= dest->bottom) {
        *dest = *src;
        return;
    }
    if (src->left >= src->right || src->top >= src->bottom) {
        return;
    }
    if (src->left < dest->left) dest->left = src->left;
    if (src->top < dest->top) dest->top = src->top;
    if (src->right > dest->right) dest->right = src->right;
    if (src->bottom > dest->bottom) dest->bottom = src->bottom;
}
