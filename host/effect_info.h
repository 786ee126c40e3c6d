// Identity and capability words of the effect, shared by global set-up and
// the registration resource so the two can never disagree.
#pragma once

#include "host/ae_sdk.h"

namespace effect_info {

constexpr A_long kMajorVersion = 1;
constexpr A_long kMinorVersion = 0;
constexpr A_long kBugVersion = 0;
constexpr A_long kStage = PF_Stage_RELEASE;
constexpr A_long kBuildVersion = 1;

// The host's packed version word.
constexpr A_u_long kVersionWord = (static_cast<A_u_long>(kMajorVersion) << 19) |
                                  (static_cast<A_u_long>(kMinorVersion) << 15) |
                                  (static_cast<A_u_long>(kBugVersion) << 11) |
                                  (static_cast<A_u_long>(kStage) << 9) | static_cast<A_u_long>(kBuildVersion);
static_assert(kVersionWord == 0x80601);

constexpr A_long kOutFlags =
    PF_OutFlag_USE_OUTPUT_EXTENT | PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_SEND_UPDATE_PARAMS_UI;
constexpr A_long kOutFlags2 = PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE;
static_assert(kOutFlags == 0x06000040);
static_assert(kOutFlags2 == 0x1400);

constexpr const char* kRegisteredName = "NorvexTrellis";
constexpr const char* kCategory = "Norvex";
constexpr const char* kMatchName = "NorvexTrellis by Dorsaveli";
constexpr const char* kEntryPointName = "EntryPointFunc";

// The about text's pieces.
constexpr const char* kAboutFormat = "%s, v%d.%d\r%s";
constexpr const char* kAboutName = "NorvexLattice";
constexpr const char* kAboutDescription = "Rivuzovezod!";

// The name under which global set-up registers with the host.
constexpr const char* kRegistrationName = "Error!";

}  // namespace effect_info
