#include "host/suite_cache.h"

#include <string_view>

namespace {

struct SuitePair {
    const char* name;
    A_long version;
};

// Every pair the cache knows, in the order the destructor releases them. The
// names go to the host byte for byte (odd spellings included), so a suite is
// always released under the very name it was acquired with.
constexpr SuitePair kPairs[] = {
    {"AEGP Layer Suite", 8},
    {"AEGP Layer Suite", 10},
    {"AEGP Stream Suite", 7},
    {"AEGP Dynamic Stream Suite", 2},
    {"AEGP Dynamic Stream Suite", 3},
    {"AEGP Keyframe Suite", 3},
    {"AEGP Comp Suite", 9},
    {"AEGP Comp Suite", 11},
    {"AEGP Proj Suite", 2},
    {"AEGP Proj Suite", 5},
    {"AEGP Canvas Suite", 10},
    {"AEGP Canvas Suite", 11},
    {"AEGP Camera Suite", 2},
    {"AEGP Register Suite", 2},
    {"AEGP Item Suite", 10},
    {"AEGP Item Suite", 7},
    {"AEGP Item Suite", 3},
    {"AEGP PF Interface Suite", 1},
    {"PF Path Query Suite", 1},
    {"AEGP Memory Suite", 1},
    {"PF Path Data Suite", 1},
    {"PF Param Utils Suite", 1},
    {"PF AE App Suite", 2},
    {"PF AE App Suite", 5},
    {"PF AE Adv App Suite", 2},
    {"AEGP Light Suite", 1},
    {"AEGP Light Suite", 2},
    {"AEGP Effect Suite", 1},
    {"AEGP Effect Suite", 2},
    {"AEGP Effect Suite", 3},
    {"AEGP Layer Mask Suite", 5},
    {"AEGP Mask Outline Suite", 3},
    {"AEGP Footage Suite", 7},
    {"AEGP Command Suite", 1},
    {"AEGP Utility Suite", 7},
    {"AEGP Render Suite", 1},
    {"AEGP Render Suite", 2},
    {"PF ANSI Suite", 1},
    {"PF Handle Suite", 1},
    {"PF Fill Matte Suite", 1},
    {"PF World Transform Suite", 1},
    {"AEGP QueryXform Suite", 4},
    {"AEGP Composite Suite", 2},
    {"PF World Suite", 1},
    {"AEGP IO In Suite", 1},
    {"AEGP IO Out Suite", 1},
    {"AEGP Render Queue Suite", 1},
    {"AEGP Render Queue Item Suite", 3},
    {"AEGP Output Module Suite", 1},
    {"AEGP File Import Manager Suite", 2},
    {"PF Sampling8 Suite", 1},
    {"PF Sampling16 Suite", 1},
    {"PF Iterate8 Suite", 1},
    {"PF iterate16 Suite", 1},
    {"PF iterateFloat Suite", 1},
    {"AEGP Collection Suite", 2},
    {"AEGP Text Document Suite", 1},
    {"AEGP Sound Data Suite", 1},
    {"AEGP Text Layer Suite", 1},
    {"AEGP Artisan Util Suite", 1},
    {"AEGP World Suite", 2},
    {"AEGP Render Options Suite", 1},
    {"AEGP Tracker Suite", 1},
    {"AEGP Tracker Utility Suite", 1},
    {"AE Plugin Helper Suite2", 2},
    {"AEGP Layer Suite", 11},
    {"PF AE Adv Item Suite", 1},
    {"AEGP Layer Suite", 5},
    {"AEGP Layer Mask Suite", 2},
    {"AEGP Stream Suite", 4},
    {"AEGP Comp Suite", 4},
    {"AEGP Collection Suite", 1},
    {"AEGP Register Suite", 1},
    {"AEGP Keyframe Suite", 1},
    {"AEGP Mask Outline Suite", 2},
    {"PF AE Adv App Suite", 1},
    {"AEGP Utility Suite", 3},
    {"AEGP Render Options Suite", 2},
    {"AEGP Proj Suite", 7},
    {"AEGP Footage Suite", 10},
    {"AEGP Render Queue Item Suite", 4},
    {"AEGP Utility Suite", 10},
    {"PF Color Settings Suite", 1},
    {"PF ColorParamSuite", 1},
    {"PF SamplingFloat Suite", 1},
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
constexpr int kUtilitySlot = slot_of(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7);
constexpr int kHandleSlot = slot_of(kPFHandleSuite, kPFHandleSuiteVersion1);
constexpr int kParamUtilsSlot = slot_of(kPFParamUtilsSuite, kPFParamUtilsSuiteVersion1);
constexpr int kPathQuerySlot = slot_of(kPFPathQuerySuite, kPFPathQuerySuiteVersion1);
constexpr int kPathDataSlot = slot_of(kPFPathDataSuite, kPFPathDataSuiteVersion1);
constexpr int kSampling8Slot = slot_of(kPFSampling8Suite, kPFSamplingSuiteVersion1);
constexpr int kSampling16Slot = slot_of(kPFSampling16Suite, kPFSamplingSuiteVersion1);
constexpr int kSamplingFloatSlot = slot_of(kPFSamplingFloatSuite, kPFSamplingSuiteVersion1);

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

const AEGP_UtilitySuite7* SuiteCache::utility_suite() {
    return static_cast<const AEGP_UtilitySuite7*>(acquire(kUtilitySlot));
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
