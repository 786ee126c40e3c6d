// Our own declaration of the host application's plug-in interface.
//
// Names, member order, sizes and constant values are the host's, as it lays
// them out on Windows x64: a record the host passes is read at the host's
// offsets, a callback table is called at the host's slots. Members the effect
// never touches are declared too, so that every size and offset is right.
// The same declarations serve Linux (fixed-width integers, LP64 and LLP64
// alike lay these records out the same way), so the module and the standalone
// host share one header on every platform. Only the C++ standard library is
// needed. The static_asserts at the end pin the records the host hands over.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define PF_CALL __cdecl
#else
#define PF_CALL
#endif

// ---------------------------------------------------------------------------
// Basic types
// ---------------------------------------------------------------------------
typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef uint8_t A_u_char;
typedef uint8_t A_Boolean;
typedef int64_t A_longlong;
typedef uint64_t A_u_longlong;
typedef double A_FpLong;
typedef float A_FpShort;
typedef A_long A_Err;
typedef A_u_longlong A_HandleSize;

typedef A_long PF_Err;
typedef A_long PF_Cmd;
typedef A_char PF_Boolean;
typedef A_long PF_Fixed;     // 16.16 fixed point
typedef A_u_long PF_UFixed;  // 16.16 fixed point, unsigned
typedef A_FpLong PF_FpLong;
typedef A_FpShort PF_FpShort;
typedef A_long PF_ParamIndex;
typedef A_long PF_ParamValue;
typedef A_long PF_ParamType;
typedef A_long PF_ParamFlags;
typedef A_long PF_ParamUIFlags;
typedef A_long PF_ChangeFlags;
typedef A_short PF_ValueDisplayFlags;
typedef A_u_long PF_FSliderFlags;
typedef A_long PF_OutFlags;
typedef A_long PF_OutFlags2;
typedef A_long PF_InFlags;
typedef A_long PF_Quality;
typedef A_long PF_ModeFlags;
typedef A_long PF_Field;
typedef A_long PF_ChannelMask;
typedef A_short PF_RenderOutputFlags;
typedef A_long PF_GPU_Framework;
typedef A_long PF_WorldFlags;
typedef A_long PF_NewWorldFlags;
typedef A_u_long PF_SampleEdgeBehav;
typedef A_long PF_TransferMode;
typedef PF_TransferMode PF_XferMode;
typedef A_u_long PF_KernelFlags;
typedef A_long PF_CallbackID;
typedef A_long PF_PlatDataID;
typedef A_long PF_KeyIndex;
typedef A_long PF_TimeDir;
typedef A_short PF_SoundChannels;
typedef A_short PF_SoundFormat;
typedef A_short PF_SoundSampleSize;
typedef A_long AEGP_PluginID;
typedef void* AEGP_GlobalRefcon;
typedef A_u_long PF_PathID;

// The host's instance reference, opaque to the effect.
typedef struct PF_ProgressInfo* PF_ProgPtr;

// A movable block of host memory: *handle is the block's address.
typedef void** PF_Handle;
typedef PF_Handle PF_ArbitraryH;

// Host objects the effect only ever passes back.
typedef void* PF_LayerAudio;
typedef void* PF_SndSamplePtr;
typedef void* PF_CallbackFunc;

// ---------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------
enum : PF_Err {
    PF_Err_NONE = 0,
    PF_Err_OUT_OF_MEMORY = 4,
    PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
    PF_Err_INVALID_INDEX = 513,
    PF_Err_UNRECOGNIZED_PARAM_TYPE = 514,
    PF_Err_INVALID_CALLBACK = 515,
    PF_Err_BAD_CALLBACK_PARAM = 516,
    PF_Interrupt_CANCEL = 517,
    PF_Err_CANNOT_PARSE_KEYFRAME_TEXT = 518,
};

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------
enum : PF_Cmd {
    PF_Cmd_ABOUT = 0,
    PF_Cmd_GLOBAL_SETUP = 1,
    PF_Cmd_UNUSED_0 = 2,
    PF_Cmd_GLOBAL_SETDOWN = 3,
    PF_Cmd_PARAMS_SETUP = 4,
    PF_Cmd_SEQUENCE_SETUP = 5,
    PF_Cmd_SEQUENCE_RESETUP = 6,
    PF_Cmd_SEQUENCE_FLATTEN = 7,
    PF_Cmd_SEQUENCE_SETDOWN = 8,
    PF_Cmd_DO_DIALOG = 9,
    PF_Cmd_FRAME_SETUP = 10,
    PF_Cmd_RENDER = 11,
    PF_Cmd_FRAME_SETDOWN = 12,
    PF_Cmd_USER_CHANGED_PARAM = 13,
    PF_Cmd_UPDATE_PARAMS_UI = 14,
    PF_Cmd_EVENT = 15,
    PF_Cmd_GET_EXTERNAL_DEPENDENCIES = 16,
    PF_Cmd_COMPLETELY_GENERAL = 17,
    PF_Cmd_QUERY_DYNAMIC_FLAGS = 18,
    PF_Cmd_AUDIO_RENDER = 19,
    PF_Cmd_AUDIO_SETUP = 20,
    PF_Cmd_AUDIO_SETDOWN = 21,
    PF_Cmd_ARBITRARY_CALLBACK = 22,
    PF_Cmd_SMART_PRE_RENDER = 23,
    PF_Cmd_SMART_RENDER = 24,
    PF_Cmd_RESERVED1 = 25,
    PF_Cmd_RESERVED2 = 26,
    PF_Cmd_RESERVED3 = 27,
    PF_Cmd_GET_FLATTENED_SEQUENCE_DATA = 28,
    PF_Cmd_TRANSLATE_PARAMS_TO_PREFS = 29,
    PF_Cmd_RESERVED4 = 30,
    PF_Cmd_SMART_RENDER_GPU = 31,
    PF_Cmd_GPU_DEVICE_SETUP = 32,
    PF_Cmd_GPU_DEVICE_SETDOWN = 33,
    PF_Cmd_NUM_CMDS = 34,
};

// ---------------------------------------------------------------------------
// Out flags, in flags, stages, versions
// ---------------------------------------------------------------------------
enum : PF_OutFlags {
    PF_OutFlag_NONE = 0,
    PF_OutFlag_KEEP_RESOURCE_OPEN = 1L << 0,
    PF_OutFlag_WIDE_TIME_INPUT = 1L << 1,
    PF_OutFlag_NON_PARAM_VARY = 1L << 2,
    PF_OutFlag_RESERVED6 = 1L << 3,
    PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING = 1L << 4,
    PF_OutFlag_I_DO_DIALOG = 1L << 5,
    PF_OutFlag_USE_OUTPUT_EXTENT = 1L << 6,
    PF_OutFlag_SEND_DO_DIALOG = 1L << 7,
    PF_OutFlag_DISPLAY_ERROR_MESSAGE = 1L << 8,
    PF_OutFlag_I_EXPAND_BUFFER = 1L << 9,
    PF_OutFlag_PIX_INDEPENDENT = 1L << 10,
    PF_OutFlag_I_WRITE_INPUT_BUFFER = 1L << 11,
    PF_OutFlag_I_SHRINK_BUFFER = 1L << 12,
    PF_OutFlag_WORKS_IN_PLACE = 1L << 13,
    PF_OutFlag_RESERVED8 = 1L << 14,
    PF_OutFlag_CUSTOM_UI = 1L << 15,
    PF_OutFlag_RESERVED7 = 1L << 16,
    PF_OutFlag_REFRESH_UI = 1L << 17,
    PF_OutFlag_NOP_RENDER = 1L << 18,
    PF_OutFlag_I_USE_SHUTTER_ANGLE = 1L << 19,
    PF_OutFlag_I_USE_AUDIO = 1L << 20,
    PF_OutFlag_I_AM_OBSOLETE = 1L << 21,
    PF_OutFlag_FORCE_RERENDER = 1L << 22,
    PF_OutFlag_PiPL_OVERRIDES_OUTDATA_OUTFLAGS = 1L << 23,
    PF_OutFlag_I_HAVE_EXTERNAL_DEPENDENCIES = 1L << 24,
    PF_OutFlag_DEEP_COLOR_AWARE = 1L << 25,
    PF_OutFlag_SEND_UPDATE_PARAMS_UI = 1L << 26,
    PF_OutFlag_AUDIO_FLOAT_ONLY = 1L << 27,
    PF_OutFlag_AUDIO_IIR = 1L << 28,
    PF_OutFlag_I_SYNTHESIZE_AUDIO = 1L << 29,
    PF_OutFlag_AUDIO_EFFECT_TOO = 1L << 30,
    PF_OutFlag_AUDIO_EFFECT_ONLY = INT32_MIN,  // bit 31
};

enum : PF_OutFlags2 {
    PF_OutFlag2_NONE = 0,
    PF_OutFlag2_SUPPORTS_QUERY_DYNAMIC_FLAGS = 1L << 0,
    PF_OutFlag2_I_USE_3D_CAMERA = 1L << 1,
    PF_OutFlag2_I_USE_3D_LIGHTS = 1L << 2,
    PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG = 1L << 3,
    PF_OutFlag2_I_AM_THREADSAFE = 1L << 4,
    PF_OutFlag2_CAN_COMBINE_WITH_DESTINATION = 1L << 5,
    PF_OutFlag2_DOESNT_NEED_EMPTY_PIXELS = 1L << 6,
    PF_OutFlag2_REVEALS_ZERO_ALPHA = 1L << 7,
    PF_OutFlag2_PRESERVES_FULLY_OPAQUE_PIXELS = 1L << 8,
    PF_OutFlag2_SUPPORTS_SMART_RENDER = 1L << 10,
    PF_OutFlag2_RESERVED9 = 1L << 11,
    PF_OutFlag2_FLOAT_COLOR_AWARE = 1L << 12,
    PF_OutFlag2_I_USE_COLORSPACE_ENUMERATION = 1L << 13,
    PF_OutFlag2_I_AM_DEPRECATED = 1L << 14,
    PF_OutFlag2_PPRO_DO_NOT_CLONE_SEQUENCE_DATA_FOR_RENDER = 1L << 15,
    PF_OutFlag2_RESERVED10 = 1L << 16,
    PF_OutFlag2_AUTOMATIC_WIDE_TIME_INPUT = 1L << 17,
    PF_OutFlag2_I_USE_TIMECODE = 1L << 18,
    PF_OutFlag2_DEPENDS_ON_UNREFERENCED_MASKS = 1L << 19,
    PF_OutFlag2_OUTPUT_IS_WATERMARKED = 1L << 20,
    PF_OutFlag2_I_MIX_GUID_DEPENDENCIES = 1L << 21,
    PF_OutFlag2_AE13_5_THREADSAFE = 1L << 22,
    PF_OutFlag2_SUPPORTS_GET_FLATTENED_SEQUENCE_DATA = 1L << 23,
    PF_OutFlag2_CUSTOM_UI_ASYNC_MANAGER = 1L << 24,
    PF_OutFlag2_SUPPORTS_GPU_RENDER_F32 = 1L << 25,
    PF_OutFlag2_RESERVED12 = 1L << 26,
    PF_OutFlag2_SUPPORTS_THREADED_RENDERING = 1L << 27,
    PF_OutFlag2_MUTABLE_RENDER_SEQUENCE_DATA_SLOWER = 1L << 28,
};

enum : PF_InFlags { PF_InFlag_NONE = 0, PF_InFlag_PROJECT_IS_RENDER_ONLY = 1 };

enum : A_long { PF_Stage_DEVELOP = 0, PF_Stage_ALPHA = 1, PF_Stage_BETA = 2, PF_Stage_RELEASE = 3 };

// The effect interface version this header describes (13.28, the host of
// 23.4 and later); the host reports its own in PF_InData::version.
enum : A_long {
    PF_PLUG_IN_VERSION = 13,
    PF_PLUG_IN_SUBVERS = 28,
    PF_AE234_PLUG_IN_VERSION = 13,
    PF_AE234_PLUG_IN_SUBVERS = 28,
};

enum : PF_Quality { PF_Quality_DRAWING_AUDIO = -1, PF_Quality_LO = 0, PF_Quality_HI = 1 };
enum : PF_Field { PF_Field_FRAME = 0, PF_Field_UPPER = 1, PF_Field_LOWER = 2 };
enum : PF_ChannelMask {
    PF_ChannelMask_ALPHA = 1,
    PF_ChannelMask_RED = 2,
    PF_ChannelMask_GREEN = 4,
    PF_ChannelMask_BLUE = 8,
    PF_ChannelMask_ARGB = 15,
};
enum : PF_RenderOutputFlags {
    PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS = 1,
    PF_RenderOutputFlag_GPU_RENDER_POSSIBLE = 2,
    PF_RenderOutputFlag_RESERVED1 = 4,
};
enum : PF_GPU_Framework {
    PF_GPU_Framework_NONE = 0,
    PF_GPU_Framework_OPENCL = 1,
    PF_GPU_Framework_METAL = 2,
    PF_GPU_Framework_CUDA = 3,
};

enum : A_long {
    PF_MAX_EFFECT_NAME_LEN = 31,
    PF_MAX_EFFECT_CATEGORY_NAME_LEN = 31,
    PF_MAX_EFFECT_MSG_LEN = 255,
    PF_MAX_PARAM_DESCRIPTION_LEN = 31,
    PF_MAX_PATH_NAME_LEN = 31,
    PF_MAX_CURSOR_PLUS_ONE = 123,
    PF_MAX_WORLD_WIDTH = 30000,
    PF_MAX_WORLD_HEIGHT = 30000,
    PF_MAX_CHAN8 = 255,
    PF_MAX_CHAN16 = 32768,
};
#define PF_MAX_EFFECT_PARAM_NAME_LEN 31
#define PF_MAX_PARAM_VALUE_LEN 31

// ---------------------------------------------------------------------------
// Pixels, rectangles, small records
// ---------------------------------------------------------------------------
struct PF_Pixel {
    A_u_char alpha, red, green, blue;
};
typedef PF_Pixel PF_Pixel8;
typedef PF_Pixel PF_UnionablePixel;
struct PF_Pixel16 {
    A_u_short alpha, red, green, blue;
};
struct PF_PixelFloat {
    PF_FpShort alpha, red, green, blue;
};
typedef PF_PixelFloat PF_Pixel32;

struct PF_LRect {
    A_long left, top, right, bottom;
};
typedef PF_LRect PF_Rect;
typedef PF_LRect PF_UnionableRect;

struct PF_RationalScale {
    A_long num;
    A_u_long den;
};

struct PF_Point {
    A_long h, v;
};

struct PF_SpecVersion {
    A_short major;
    A_short minor;
};

struct A_Time {
    A_long value;
    A_u_long scale;
};

struct A_Ratio {
    A_long num;
    A_u_long den;
};

struct PF_CompositeMode {
    PF_TransferMode xfer;
    A_long rand_seed;
    A_u_char opacity;
    PF_Boolean rgb_only;
    A_u_short opacitySu;
};

struct PF_SoundFormatInfo {
    PF_FpLong rateF;
    PF_SoundChannels num_channels;
    PF_SoundFormat format;
    PF_SoundSampleSize sample_size;
};

struct PF_SoundWorld {
    PF_SoundFormatInfo fi;
    A_long num_samples;
    void* dataP;
};

typedef void* PF_PixelPtr;

// ---------------------------------------------------------------------------
// Worlds
// ---------------------------------------------------------------------------
// `data` points at the top-left pixel; rows are `rowbytes` apart.
// `platform_ref` belongs to the host (the standalone host keeps its own world
// object there).
struct PF_LayerDef {
    void* reserved0;
    void* reserved1;
    PF_WorldFlags world_flags;
    PF_PixelPtr data;
    A_long rowbytes;
    A_long width;
    A_long height;
    PF_UnionableRect extent_hint;
    void* platform_ref;
    A_long reserved_long1;
    void* reserved_long4;
    PF_RationalScale pix_aspect_ratio;
    void* reserved_long2;
    A_long origin_x;
    A_long origin_y;
    A_long reserved_long3;
    A_long dephault;  // the layer parameter's default
};
typedef PF_LayerDef PF_EffectWorld;

enum : PF_WorldFlags {
    PF_WorldFlag_DEEP = 1L << 0,
    PF_WorldFlag_WRITEABLE = 1L << 1,
    PF_WorldFlag_RESERVED0 = 1L << 24,
    PF_WorldFlag_RESERVED1 = 1L << 25,
    PF_WorldFlag_RESERVED2 = 1L << 26,
    PF_WorldFlag_RESERVED3 = 1L << 27,
    PF_WorldFlag_RESERVED4 = 1L << 28,
    PF_WorldFlag_RESERVED5 = 1L << 29,
    PF_WorldFlag_RESERVED6 = 1L << 30,
    PF_WorldFlag_RESERVED = INT32_MIN,  // bit 31
};

enum : PF_NewWorldFlags {
    PF_NewWorldFlag_NONE = 0,
    PF_NewWorldFlag_CLEAR_PIXELS = 1,
    PF_NewWorldFlag_DEEP_PIXELS = 2,
    PF_NewWorldFlag_RESERVED0 = 4,
    PF_NewWorldFlag_RESERVED1 = 8,
};

// Pixel formats are four characters with the first in the lowest byte.
constexpr A_long pf_four_chars(char a, char b, char c, char d) {
    return static_cast<A_long>(static_cast<A_u_long>(static_cast<A_u_char>(a)) |
                               static_cast<A_u_long>(static_cast<A_u_char>(b)) << 8 |
                               static_cast<A_u_long>(static_cast<A_u_char>(c)) << 16 |
                               static_cast<A_u_long>(static_cast<A_u_char>(d)) << 24);
}

typedef A_long PF_PixelFormat;
enum : PF_PixelFormat {
    PF_PixelFormat_ARGB32 = pf_four_chars('a', 'r', 'g', 'b'),
    PF_PixelFormat_ARGB64 = pf_four_chars('a', 'e', '1', '6'),
    PF_PixelFormat_ARGB128 = pf_four_chars('a', 'e', '3', '2'),
    PF_PixelFormat_GPU_BGRA128 = pf_four_chars('@', 'C', 'D', 'A'),
    PF_PixelFormat_RESERVED = pf_four_chars('@', 'C', 'D', 'a'),
    PF_PixelFormat_BGRA32 = pf_four_chars('b', 'g', 'r', 'a'),  // never offered to this effect
    PF_PixelFormat_VUYA32 = pf_four_chars('v', 'u', 'y', 'a'),
    PF_PixelFormat_NTSCDV25 = pf_four_chars('d', 'v', 'n', '2'),
    PF_PixelFormat_PALDV25 = pf_four_chars('d', 'v', 'p', '2'),
    PF_PixelFormat_INVALID = pf_four_chars('b', 'a', 'd', 'f'),
    PF_PixelFormat_FORCE_LONG_INT = -1,
};

// ---------------------------------------------------------------------------
// Parameters
// ---------------------------------------------------------------------------
enum : PF_ParamType {
    PF_Param_RESERVED = -1,
    PF_Param_LAYER = 0,
    PF_Param_SLIDER = 1,
    PF_Param_FIX_SLIDER = 2,
    PF_Param_ANGLE = 3,
    PF_Param_CHECKBOX = 4,
    PF_Param_COLOR = 5,
    PF_Param_POINT = 6,
    PF_Param_POPUP = 7,
    PF_Param_CUSTOM = 8,
    PF_Param_NO_DATA = 9,
    PF_Param_FLOAT_SLIDER = 10,
    PF_Param_ARBITRARY_DATA = 11,
    PF_Param_PATH = 12,
    PF_Param_GROUP_START = 13,
    PF_Param_GROUP_END = 14,
    PF_Param_BUTTON = 15,
    PF_Param_RESERVED2 = 16,
    PF_Param_RESERVED3 = 17,
    PF_Param_POINT_3D = 18,
};

enum : PF_ParamFlags {
    PF_ParamFlag_RESERVED1 = 1L << 0,
    PF_ParamFlag_CANNOT_TIME_VARY = 1L << 1,
    PF_ParamFlag_CANNOT_INTERP = 1L << 2,
    PF_ParamFlag_RESERVED2 = 1L << 3,
    PF_ParamFlag_RESERVED3 = 1L << 4,
    PF_ParamFlag_COLLAPSE_TWIRLY = 1L << 5,
    PF_ParamFlag_SUPERVISE = 1L << 6,
    PF_ParamFlag_START_COLLAPSED = PF_ParamFlag_COLLAPSE_TWIRLY,
    PF_ParamFlag_USE_VALUE_FOR_OLD_PROJECTS = 1L << 7,
    PF_ParamFlag_LAYER_PARAM_IS_TRACKMATTE = 1L << 7,
    PF_ParamFlag_EXCLUDE_FROM_HAVE_INPUTS_CHANGED = 1L << 8,
    PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN = 1L << 9,
};

enum : PF_ParamUIFlags {
    PF_PUI_NONE = 0,
    PF_PUI_TOPIC = 1L << 0,
    PF_PUI_CONTROL = 1L << 1,
    PF_PUI_STD_CONTROL_ONLY = 1L << 2,
    PF_PUI_NO_ECW_UI = 1L << 3,
    PF_PUI_ECW_SEPARATOR = 1L << 4,
    PF_PUI_DISABLED = 1L << 5,
    PF_PUI_DONT_ERASE_TOPIC = 1L << 6,
    PF_PUI_DONT_ERASE_CONTROL = 1L << 7,
    PF_PUI_RADIO_BUTTON = 1L << 8,
    PF_PUI_INVISIBLE = 1L << 9,
};

enum : PF_ChangeFlags {
    PF_ChangeFlag_NONE = 0,
    PF_ChangeFlag_CHANGED_VALUE = 1,
    PF_ChangeFlag_RESERVED = 2,
    PF_ChangeFlag_SET_TO_VARY = 4,
    PF_ChangeFlag_SET_TO_CONSTANT = 8,
};

enum : PF_ValueDisplayFlags {
    PF_ValueDisplayFlag_NONE = 0,
    PF_ValueDisplayFlag_PERCENT = 1,
    PF_ValueDisplayFlag_PIXEL = 2,
    PF_ValueDisplayFlag_RESERVED1 = 4,
    PF_ValueDisplayFlag_REVERSE = 8,
};

enum : A_long { PF_LayerDefault_NONE = 0, PF_LayerDefault_MYSELF = -1 };
enum : PF_ParamIndex {
    PF_ParamIndex_NONE = -1,
    PF_ParamIndex_CHECK_ALL = -2,
    PF_ParamIndex_CHECK_ALL_EXCEPT_LAYER_PARAMS = -3,
    PF_ParamIndex_CHECK_ALL_HONOR_EXCLUDE = -4,
};
enum : PF_PathID { PF_PathID_NONE = 0 };

struct PF_SliderDef {
    PF_ParamValue value;
    A_char value_str[PF_MAX_PARAM_VALUE_LEN + 1];
    A_char value_desc[PF_MAX_PARAM_VALUE_LEN + 1];
    PF_ParamValue valid_min, valid_max;
    PF_ParamValue slider_min, slider_max;
    PF_ParamValue dephault;
};

struct PF_FixedSliderDef {
    PF_Fixed value;
    A_char value_str[PF_MAX_PARAM_VALUE_LEN + 1];
    A_char value_desc[PF_MAX_PARAM_VALUE_LEN + 1];
    PF_Fixed valid_min, valid_max;
    PF_Fixed slider_min, slider_max;
    PF_Fixed dephault;
    A_short precision;
    PF_ValueDisplayFlags display_flags;
};

struct PF_FloatSliderDef {
    PF_FpLong value;
    PF_FpLong phase;
    A_char value_desc[PF_MAX_PARAM_VALUE_LEN + 1];
    PF_FpShort valid_min, valid_max;
    PF_FpShort slider_min, slider_max;
    PF_FpShort dephault;
    A_short precision;
    PF_ValueDisplayFlags display_flags;
    PF_FSliderFlags fs_flags;
    PF_FpShort curve_tolerance;
    PF_Boolean useExponent;
    PF_FpShort exponent;
};

struct PF_AngleDef {
    PF_Fixed value;
    PF_Fixed dephault;
    PF_Fixed valid_min, valid_max;
};

struct PF_CheckBoxDef {
    PF_ParamValue value;
    PF_Boolean dephault;
    A_char reserved;
    A_short reserved1;
    union {
        const A_char* nameptr;
    } u;
};

struct PF_ColorDef {
    PF_UnionablePixel value;
    PF_UnionablePixel dephault;
};

struct PF_PointDef {
    PF_Fixed x_value, y_value;
    A_char reserved[3];
    PF_Boolean restrict_bounds;
    PF_Fixed x_dephault, y_dephault;
};

struct PF_PopupDef {
    PF_ParamValue value;
    A_short num_choices;
    A_short dephault;
    union {
        const A_char* namesptr;
    } u;
};

struct PF_ArbitraryDef {
    A_short id;
    A_short pad;
    PF_ArbitraryH dephault;
    PF_ArbitraryH value;
    void* refconPV;
};

struct PF_PathDef {
    PF_PathID path_id;
    A_long reserved0;
    A_long dephault;
};

struct PF_ButtonDef {
    PF_ParamValue value;
    union {
        const A_char* namesptr;
    } u;
};

struct PF_Point3DDef {
    PF_FpLong x_value, y_value, z_value;
    PF_FpLong x_dephault, y_dephault, z_dephault;
    char reserved[16];
};

union PF_ParamDefUnion {
    PF_LayerDef ld;
    PF_SliderDef sd;
    PF_FixedSliderDef fd;
    PF_AngleDef ad;
    PF_CheckBoxDef bd;
    PF_ColorDef cd;
    PF_PointDef td;
    PF_PopupDef pd;
    PF_FloatSliderDef fs_d;
    PF_ArbitraryDef arb_d;
    PF_PathDef path_d;
    PF_ButtonDef button_d;
    PF_Point3DDef point3d_d;
};

struct PF_ParamDef {
    union {
        A_long id;
        PF_ChangeFlags change_flags;
    } uu;
    PF_ParamUIFlags ui_flags;
    A_short ui_width;
    A_short ui_height;
    PF_ParamType param_type;
    A_char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
    PF_ParamFlags flags;
    A_long unused;
    PF_ParamDefUnion u;
};
typedef PF_ParamDef* PF_ParamDefPtr;
typedef PF_ParamDef** PF_ParamDefH;
typedef PF_ParamDef** PF_ParamList;

// A host parameter-state snapshot: 16 bytes only the host interprets.
struct PF_State {
    A_long reservedAL[4];
};

// ---------------------------------------------------------------------------
// Sampling
// ---------------------------------------------------------------------------
struct PF_SampPB {
    PF_Fixed x_radius;
    PF_Fixed y_radius;
    PF_Fixed area;
    PF_EffectWorld* src;
    PF_SampleEdgeBehav samp_behave;
    A_long allow_asynch;
    A_long motion_blur;
    PF_CompositeMode comp_mode;
    PF_PixelPtr mask0;
    A_u_char* fcm_table;
    A_u_char* fcd_table;
    A_long reserved[8];
};

typedef PF_Err(PF_CALL* PF_IteratePixel8Func)(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
typedef PF_Err(PF_CALL* PF_IteratePixel16Func)(void* refcon, A_long x, A_long y, PF_Pixel16* in, PF_Pixel16* out);

// ---------------------------------------------------------------------------
// Callbacks handed in with every call
// ---------------------------------------------------------------------------
struct PF_ANSICallbacks {
    A_FpLong(PF_CALL* atan)(A_FpLong);
    A_FpLong(PF_CALL* atan2)(A_FpLong y, A_FpLong x);
    A_FpLong(PF_CALL* ceil)(A_FpLong);
    A_FpLong(PF_CALL* cos)(A_FpLong);
    A_FpLong(PF_CALL* exp)(A_FpLong);
    A_FpLong(PF_CALL* fabs)(A_FpLong);
    A_FpLong(PF_CALL* floor)(A_FpLong);
    A_FpLong(PF_CALL* fmod)(A_FpLong x, A_FpLong y);
    A_FpLong(PF_CALL* hypot)(A_FpLong x, A_FpLong y);
    A_FpLong(PF_CALL* log)(A_FpLong);
    A_FpLong(PF_CALL* log10)(A_FpLong);
    A_FpLong(PF_CALL* pow)(A_FpLong x, A_FpLong y);
    A_FpLong(PF_CALL* sin)(A_FpLong);
    A_FpLong(PF_CALL* sqrt)(A_FpLong);
    A_FpLong(PF_CALL* tan)(A_FpLong);
    int(PF_CALL* sprintf)(A_char*, const A_char*, ...);
    A_char*(PF_CALL* strcpy)(A_char*, const A_char*);
    A_FpLong(PF_CALL* asin)(A_FpLong);
    A_FpLong(PF_CALL* acos)(A_FpLong);
    A_long ansi_procs[1];
};

// Colour conversions; hls and yiq are three PF_Fixed each.
struct PF_ColorCallbacks {
    PF_Err(PF_CALL* RGBtoHLS)(PF_ProgPtr effect_ref, PF_Pixel* rgb, PF_Fixed* hls);
    PF_Err(PF_CALL* HLStoRGB)(PF_ProgPtr effect_ref, PF_Fixed* hls, PF_Pixel* rgb);
    PF_Err(PF_CALL* RGBtoYIQ)(PF_ProgPtr effect_ref, PF_Pixel* rgb, PF_Fixed* yiq);
    PF_Err(PF_CALL* YIQtoRGB)(PF_ProgPtr effect_ref, PF_Fixed* yiq, PF_Pixel* rgb);
    PF_Err(PF_CALL* Luminance)(PF_ProgPtr effect_ref, PF_Pixel* rgb, A_long* lum100);
    PF_Err(PF_CALL* Hue)(PF_ProgPtr effect_ref, PF_Pixel* rgb, A_long* hue);
    PF_Err(PF_CALL* Lightness)(PF_ProgPtr effect_ref, PF_Pixel* rgb, A_long* lightness);
    PF_Err(PF_CALL* Saturation)(PF_ProgPtr effect_ref, PF_Pixel* rgb, A_long* saturation);
};

struct PF_InData;

// Records reached only through pointers of functions the effect never calls
// (a mask world, a 3x3 float matrix) are left opaque: `const void*`.
struct PF_UtilCallbacks {
    PF_Err(PF_CALL* begin_sampling)(PF_ProgPtr effect_ref, PF_Quality qual, PF_ModeFlags mf, PF_SampPB* params);
    PF_Err(PF_CALL* subpixel_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                     PF_Pixel* dst_pixel);
    PF_Err(PF_CALL* area_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                 PF_Pixel* dst_pixel);
    void* get_batch_func_is_deprecated;
    PF_Err(PF_CALL* end_sampling)(PF_ProgPtr effect_ref, PF_Quality qual, PF_ModeFlags mf, PF_SampPB* params);
    PF_Err(PF_CALL* composite_rect)(PF_ProgPtr effect_ref, PF_Rect* src_rect, A_long src_opacity,
                                    PF_EffectWorld* source_wld, A_long dest_x, A_long dest_y, PF_Field field_rdr,
                                    PF_XferMode xfer_mode, PF_EffectWorld* dest_wld);
    PF_Err(PF_CALL* blend)(PF_ProgPtr effect_ref, const PF_EffectWorld* src1, const PF_EffectWorld* src2,
                           PF_Fixed ratio, PF_EffectWorld* dst);
    PF_Err(PF_CALL* convolve)(PF_ProgPtr effect_ref, PF_EffectWorld* src, const PF_Rect* area, PF_KernelFlags flags,
                              A_long kernel_size, void* a_kernel, void* r_kernel, void* g_kernel, void* b_kernel,
                              PF_EffectWorld* dst);
    PF_Err(PF_CALL* copy)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                          PF_Rect* dst_r);
    PF_Err(PF_CALL* fill)(PF_ProgPtr effect_ref, const PF_Pixel* color, const PF_Rect* dst_rect,
                          PF_EffectWorld* world);
    PF_Err(PF_CALL* gaussian_kernel)(PF_ProgPtr effect_ref, A_FpLong kRadius, PF_KernelFlags flags,
                                     A_FpLong multiplier, A_long* diameter, void* kernel);
    PF_Err(PF_CALL* iterate)(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                             const PF_Rect* area, void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
    PF_Err(PF_CALL* premultiply)(PF_ProgPtr effect_ref, A_long forward, PF_EffectWorld* dst);
    PF_Err(PF_CALL* premultiply_color)(PF_ProgPtr effect_ref, PF_EffectWorld* src, const PF_Pixel* color,
                                       A_long forward, PF_EffectWorld* dst);
    PF_Err(PF_CALL* new_world)(PF_ProgPtr effect_ref, A_long width, A_long height, PF_NewWorldFlags flags,
                               PF_EffectWorld* world);
    PF_Err(PF_CALL* dispose_world)(PF_ProgPtr effect_ref, PF_EffectWorld* world);
    PF_Err(PF_CALL* iterate_origin)(PF_InData* in_data, A_long progress_base, A_long progress_final,
                                    PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin, void* refcon,
                                    PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
    PF_Err(PF_CALL* iterate_lut)(PF_InData* in_data, A_long progress_base, A_long progress_final,
                                 PF_EffectWorld* src, const PF_Rect* area, A_u_char* a_lut0, A_u_char* r_lut0,
                                 A_u_char* g_lut0, A_u_char* b_lut0, PF_EffectWorld* dst);
    PF_Err(PF_CALL* transfer_rect)(PF_ProgPtr effect_ref, PF_Quality quality, PF_ModeFlags m_flags, PF_Field field,
                                   const PF_Rect* src_rec, const PF_EffectWorld* src_world,
                                   const PF_CompositeMode* comp_mode, const void* mask_world0, A_long dest_x,
                                   A_long dest_y, PF_EffectWorld* dst_world);
    PF_Err(PF_CALL* transform_world)(PF_ProgPtr effect_ref, PF_Quality quality, PF_ModeFlags m_flags,
                                     PF_Field field, const PF_EffectWorld* src_world,
                                     const PF_CompositeMode* comp_mode, const void* mask_world0,
                                     const void* matrices, A_long num_matrices, PF_Boolean src2dst_matrix,
                                     const PF_Rect* dest_rect, PF_EffectWorld* dst_world);
    PF_Handle(PF_CALL* host_new_handle)(A_u_longlong size);
    void*(PF_CALL* host_lock_handle)(PF_Handle pf_handle);
    void(PF_CALL* host_unlock_handle)(PF_Handle pf_handle);
    void(PF_CALL* host_dispose_handle)(PF_Handle pf_handle);
    PF_Err(PF_CALL* get_callback_addr)(PF_ProgPtr effect_ref, PF_Quality quality, PF_ModeFlags mode_flags,
                                       PF_CallbackID which_callback, PF_CallbackFunc* fn_ptr);
    PF_Err(PF_CALL* app)(PF_ProgPtr, A_long, ...);
    PF_ANSICallbacks ansi;
    PF_ColorCallbacks colorCB;
    PF_Err(PF_CALL* get_platform_data)(PF_ProgPtr effect_ref, PF_PlatDataID which, void* data);
    A_u_longlong(PF_CALL* host_get_handle_size)(PF_Handle pf_handle);
    PF_Err(PF_CALL* iterate_origin_non_clip_src)(PF_InData* in_data, A_long progress_base, A_long progress_final,
                                                 PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin,
                                                 void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
    PF_Err(PF_CALL* iterate_generic)(A_long iterationsL, void* refconPV,
                                     PF_Err(PF_CALL* fn_func)(void* refconPV, A_long thread_indexL, A_long i,
                                                              A_long iterationsL));
    PF_Err(PF_CALL* host_resize_handle)(A_u_longlong new_sizeL, PF_Handle* handlePH);
    PF_Err(PF_CALL* subpixel_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                       PF_Pixel16* dst_pixel);
    PF_Err(PF_CALL* area_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                   PF_Pixel16* dst_pixel);
    PF_Err(PF_CALL* fill16)(PF_ProgPtr effect_ref, const PF_Pixel16* color, const PF_Rect* dst_rect,
                            PF_EffectWorld* world);
    PF_Err(PF_CALL* premultiply_color16)(PF_ProgPtr effect_ref, PF_EffectWorld* src, const PF_Pixel16* color,
                                         A_long forward, PF_EffectWorld* dst);
    PF_Err(PF_CALL* iterate16)(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                               const PF_Rect* area, void* refcon, PF_IteratePixel16Func pix_fn, PF_EffectWorld* dst);
    PF_Err(PF_CALL* iterate_origin16)(PF_InData* in_data, A_long progress_base, A_long progress_final,
                                      PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin, void* refcon,
                                      PF_IteratePixel16Func pix_fn, PF_EffectWorld* dst);
    PF_Err(PF_CALL* iterate_origin_non_clip_src16)(PF_InData* in_data, A_long progress_base, A_long progress_final,
                                                   PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin,
                                                   void* refcon, PF_IteratePixel16Func pix_fn, PF_EffectWorld* dst);
    PF_Err(PF_CALL* get_pixel_data8)(PF_EffectWorld* worldP, PF_PixelPtr pixelsP0, PF_Pixel8** pixPP);
    PF_Err(PF_CALL* get_pixel_data16)(PF_EffectWorld* worldP, PF_PixelPtr pixelsP0, PF_Pixel16** pixPP);
    A_long reserved[1];
};

// cust_info of register_ui is the host's custom-UI record, opaque here.
struct PF_InteractCallbacks {
    PF_Err(PF_CALL* checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                                    A_long time_step, A_u_long time_scale, PF_ParamDef* param);
    PF_Err(PF_CALL* checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
    PF_Err(PF_CALL* add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def);
    PF_Err(PF_CALL* abort)(PF_ProgPtr effect_ref);
    PF_Err(PF_CALL* progress)(PF_ProgPtr effect_ref, A_long current, A_long total);
    PF_Err(PF_CALL* register_ui)(PF_ProgPtr effect_ref, void* cust_info);
    PF_Err(PF_CALL* checkout_layer_audio)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long start_time,
                                          A_long duration, A_u_long time_scale, PF_UFixed rate,
                                          A_long bytes_per_sample, A_long num_channels, A_long fmt_signed,
                                          PF_LayerAudio* audio);
    PF_Err(PF_CALL* checkin_layer_audio)(PF_ProgPtr effect_ref, PF_LayerAudio audio);
    PF_Err(PF_CALL* get_audio_data)(PF_ProgPtr effect_ref, PF_LayerAudio audio, PF_SndSamplePtr* data0,
                                    A_long* num_samples0, PF_UFixed* rate0, A_long* bytes_per_sample0,
                                    A_long* num_channels0, A_long* fmt_signed0);
    void* reserved_str[3];
    void* reserved[10];
};

// ---------------------------------------------------------------------------
// The basic suite and the named suites
// ---------------------------------------------------------------------------
typedef A_long SPErr;
typedef A_long SPBoolean;

struct SPBasicSuite {
    SPErr(PF_CALL* AcquireSuite)(const char* name, A_long version, const void** suite);
    SPErr(PF_CALL* ReleaseSuite)(const char* name, A_long version);
    SPBoolean(PF_CALL* IsEqual)(const char* token1, const char* token2);
    SPErr(PF_CALL* AllocateBlock)(size_t size, void** block);
    SPErr(PF_CALL* FreeBlock)(void* block);
    SPErr(PF_CALL* ReallocateBlock)(void* block, size_t new_size, void** new_block);
    SPErr(PF_CALL* Undefined)(void);
};

// Suite names and the versions the host grants under them. A suite is
// acquired and released under exactly one such pair.
#define kSPBasicSuite "SP Basic Suite"
#define kSPBasicSuiteVersion 4
#define kPFANSISuite "PF ANSI Suite"
#define kPFANSISuiteVersion1 1
#define kAEGPUtilitySuite "AEGP Utility Suite"
#define kAEGPUtilitySuiteVersion3 7
#define kPFHandleSuite "PF Handle Suite"
#define kPFHandleSuiteVersion1 2
#define kPFParamUtilsSuite "PF Param Utils Suite"
#define kPFParamUtilsSuiteVersion1 2
#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion2 2
#define kPF_MaskSuite "AEGP Mask Suite"
#define kPF_MaskSuiteVersion1 1
#define kPFPathQuerySuite "PF Path Query Suite"
#define kPFPathQuerySuiteVersion1 1
#define kPFPathDataSuite "PF Path Data Suite"
#define kPFPathDataSuiteVersion1 1
#define kPFSampling8Suite "PF Sampling8 Suite"
#define kPFSampling8SuiteVersion1 1
#define kPFSampling16Suite "PF Sampling16 Suite"
#define kPFSampling16SuiteVersion1 1
#define kPFSamplingFloatSuite "PF SamplingFloat Suite"
#define kPFSamplingFloatSuiteVersion1 1

// "PF ANSI Suite" 1: the in-data's ANSI table without its trailing word.
struct PF_ANSICallbacksSuite1 {
    A_FpLong(PF_CALL* atan)(A_FpLong);
    A_FpLong(PF_CALL* atan2)(A_FpLong y, A_FpLong x);
    A_FpLong(PF_CALL* ceil)(A_FpLong);
    A_FpLong(PF_CALL* cos)(A_FpLong);
    A_FpLong(PF_CALL* exp)(A_FpLong);
    A_FpLong(PF_CALL* fabs)(A_FpLong);
    A_FpLong(PF_CALL* floor)(A_FpLong);
    A_FpLong(PF_CALL* fmod)(A_FpLong x, A_FpLong y);
    A_FpLong(PF_CALL* hypot)(A_FpLong x, A_FpLong y);
    A_FpLong(PF_CALL* log)(A_FpLong);
    A_FpLong(PF_CALL* log10)(A_FpLong);
    A_FpLong(PF_CALL* pow)(A_FpLong x, A_FpLong y);
    A_FpLong(PF_CALL* sin)(A_FpLong);
    A_FpLong(PF_CALL* sqrt)(A_FpLong);
    A_FpLong(PF_CALL* tan)(A_FpLong);
    int(PF_CALL* sprintf)(A_char*, const A_char*, ...);
    A_char*(PF_CALL* strcpy)(A_char*, const A_char*);
    A_FpLong(PF_CALL* asin)(A_FpLong);
    A_FpLong(PF_CALL* acos)(A_FpLong);
};

// "AEGP Utility Suite" 7. The error-state record (48 bytes) is opaque here.
struct AEGP_ColorVal {
    A_FpLong alpha, red, green, blue;
};
struct AEGP_UtilitySuite3 {
    A_Err(PF_CALL* AEGP_ReportInfo)(AEGP_PluginID aegp_plugin_id, const A_char* info_stringZ);
    A_Err(PF_CALL* AEGP_GetDriverPluginInitFuncVersion)(A_short* major_versionPS, A_short* minor_versionPS);
    A_Err(PF_CALL* AEGP_GetDriverImplementationVersion)(A_short* major_versionPS, A_short* minor_versionPS);
    A_Err(PF_CALL* AEGP_StartQuietErrors)(void* err_stateP);
    A_Err(PF_CALL* AEGP_EndQuietErrors)(A_Boolean report_quieted_errorsB, void* err_stateP);
    A_Err(PF_CALL* AEGP_StartUndoGroup)(const A_char* undo_nameZ);
    A_Err(PF_CALL* AEGP_EndUndoGroup)(void);
    A_Err(PF_CALL* AEGP_RegisterWithAEGP)(AEGP_GlobalRefcon global_refcon, const A_char* plugin_nameZ,
                                          AEGP_PluginID* plugin_id);
    A_Err(PF_CALL* AEGP_GetMainHWND)(void* main_hwnd);
    A_Err(PF_CALL* AEGP_ShowHideAllFloaters)(A_Boolean include_tool_palB);
    A_Err(PF_CALL* AEGP_PaintPalGetForeColor)(AEGP_ColorVal* fore_colorP);
    A_Err(PF_CALL* AEGP_PaintPalGetBackColor)(AEGP_ColorVal* back_colorP);
    A_Err(PF_CALL* AEGP_PaintPalSetForeColor)(const AEGP_ColorVal* fore_colorP);
    A_Err(PF_CALL* AEGP_PaintPalSetBackColor)(const AEGP_ColorVal* back_colorP);
    A_Err(PF_CALL* AEGP_CharPalGetFillColor)(A_Boolean* is_fill_color_definedPB, AEGP_ColorVal* fill_colorP);
    A_Err(PF_CALL* AEGP_CharPalGetStrokeColor)(A_Boolean* is_stroke_color_definedPB, AEGP_ColorVal* stroke_colorP);
    A_Err(PF_CALL* AEGP_CharPalSetFillColor)(const AEGP_ColorVal* fill_colorP);
    A_Err(PF_CALL* AEGP_CharPalSetStrokeColor)(const AEGP_ColorVal* stroke_colorP);
    A_Err(PF_CALL* AEGP_CharPalIsFillColorUIFrontmost)(A_Boolean* is_fill_color_selectedPB);
    A_Err(PF_CALL* AEGP_ConvertFpLongToHSFRatio)(A_FpLong numberF, A_Ratio* ratioPR);
    A_Err(PF_CALL* AEGP_ConvertHSFRatioToFpLong)(A_Ratio ratioR, A_FpLong* numberPF);
    A_Err(PF_CALL* AEGP_CauseIdleRoutinesToBeCalled)(void);
    A_Err(PF_CALL* AEGP_GetSuppressInteractiveUI)(A_Boolean* ui_is_suppressedPB);
    A_Err(PF_CALL* AEGP_WriteToOSConsole)(const A_char* textZ);
    A_Err(PF_CALL* AEGP_WriteToDebugLog)(const A_char* subsystemZ, const A_char* event_typeZ,
                                         const A_char* infoZ);
};

// "PF Handle Suite" 2.
struct PF_HandleSuite1 {
    PF_Handle(PF_CALL* host_new_handle)(A_HandleSize size);
    void*(PF_CALL* host_lock_handle)(PF_Handle pf_handle);
    void(PF_CALL* host_unlock_handle)(PF_Handle pf_handle);
    void(PF_CALL* host_dispose_handle)(PF_Handle pf_handle);
    A_HandleSize(PF_CALL* host_get_handle_size)(PF_Handle pf_handle);
    PF_Err(PF_CALL* host_resize_handle)(A_HandleSize new_sizeL, PF_Handle* handlePH);
};

// "PF Param Utils Suite" 2: the state snapshot is the second function, the
// comparison with one the third.
struct PF_ParamUtilsSuite1 {
    PF_Err(PF_CALL* PF_UpdateParamUI)(PF_ProgPtr effect_ref, PF_ParamIndex param_index, const PF_ParamDef* defP);
    PF_Err(PF_CALL* PF_GetCurrentStateObsolete)(PF_ProgPtr effect_ref, PF_State* stateP);
    PF_Err(PF_CALL* PF_HasParamChangedObsolete)(PF_ProgPtr effect_ref, const PF_State* stateP,
                                                PF_ParamIndex param_index, PF_Boolean* changedPB);
    PF_Err(PF_CALL* PF_HaveInputsChangedOverTimeSpanObsolete)(PF_ProgPtr effect_ref, const PF_State* stateP,
                                                              const A_Time* startPT0, const A_Time* durationPT0,
                                                              PF_Boolean* changedPB);
    PF_Err(PF_CALL* PF_IsIdenticalCheckout)(PF_ProgPtr effect_ref, PF_ParamIndex param_index, A_long what_time1,
                                            A_long time_step1, A_u_long time_scale1, A_long what_time2,
                                            A_long time_step2, A_u_long time_scale2, PF_Boolean* identicalPB);
    PF_Err(PF_CALL* PF_FindKeyframeTime)(PF_ProgPtr effect_ref, PF_ParamIndex param_index, A_long what_time,
                                         A_u_long time_scale, PF_TimeDir time_dir, PF_Boolean* foundPB,
                                         PF_KeyIndex* key_indexP0, A_long* key_timeP0, A_u_long* key_timescaleP0);
    PF_Err(PF_CALL* PF_GetKeyframeCount)(PF_ProgPtr effect_ref, PF_ParamIndex param_index, PF_KeyIndex* key_countP);
    PF_Err(PF_CALL* PF_CheckoutKeyframe)(PF_ProgPtr effect_ref, PF_ParamIndex param_index, PF_KeyIndex key_index,
                                         A_long* key_timeP0, A_u_long* key_timescaleP0, PF_ParamDef* paramP0);
    PF_Err(PF_CALL* PF_CheckinKeyframe)(PF_ProgPtr effect_ref, PF_ParamDef* paramP);
    PF_Err(PF_CALL* PF_KeyIndexToTime)(PF_ProgPtr effect_ref, PF_ParamIndex param_index, PF_KeyIndex key_indexP,
                                       A_long* key_timeP, A_u_long* key_timescaleP);
};

// "PF World Suite" 2.
struct PF_WorldSuite2 {
    PF_Err(PF_CALL* PF_NewWorld)(PF_ProgPtr effect_ref, A_long widthL, A_long heightL, PF_Boolean clear_pixB,
                                 PF_PixelFormat pixel_format, PF_EffectWorld* worldP);
    PF_Err(PF_CALL* PF_DisposeWorld)(PF_ProgPtr effect_ref, PF_EffectWorld* worldP);
    PF_Err(PF_CALL* PF_GetPixelFormat)(const PF_EffectWorld* worldP, PF_PixelFormat* pixel_formatP);
};

// Paths
typedef struct PF_PathOutline* PF_PathOutlinePtr;
typedef struct PF_PathSegPrep* PF_PathSegPrepPtr;

// "AEGP Mask Suite" 1: held during a render, never called. The host packs
// this one table to 2 bytes.
#pragma pack(push, 2)
struct PF_MaskSuite1 {
    A_Err(PF_CALL* PF_MaskWorldWithPath)(PF_ProgPtr effect_ref, PF_PathOutlinePtr* mask, PF_FpLong feather_x,
                                         PF_FpLong feather_y, PF_Boolean invert, PF_FpLong opacity,
                                         PF_Quality quality, PF_EffectWorld* worldP, PF_Rect* bboxPR0);
};
#pragma pack(pop)

struct PF_PathVertex {
    PF_FpLong x, y;
    PF_FpLong tan_in_x, tan_in_y;
    PF_FpLong tan_out_x, tan_out_y;
};

typedef A_long PF_MaskMode;

// "PF Path Query Suite" 1.
struct PF_PathQuerySuite1 {
    PF_Err(PF_CALL* PF_NumPaths)(PF_ProgPtr effect_ref, A_long* num_pathsPL);
    PF_Err(PF_CALL* PF_PathInfo)(PF_ProgPtr effect_ref, A_long indexL, PF_PathID* unique_idP);
    PF_Err(PF_CALL* PF_CheckoutPath)(PF_ProgPtr effect_ref, PF_PathID unique_id, A_long what_time,
                                     A_long time_step, A_u_long time_scale, PF_PathOutlinePtr* pathPP);
    PF_Err(PF_CALL* PF_CheckinPath)(PF_ProgPtr effect_ref, PF_PathID unique_id, PF_Boolean changedB,
                                    PF_PathOutlinePtr pathP);
};

// "PF Path Data Suite" 1.
struct PF_PathDataSuite1 {
    PF_Err(PF_CALL* PF_PathIsOpen)(PF_ProgPtr effect_ref0, PF_PathOutlinePtr pathP, PF_Boolean* openPB);
    PF_Err(PF_CALL* PF_PathNumSegments)(PF_ProgPtr effect_ref0, PF_PathOutlinePtr pathP, A_long* num_segmentsPL);
    PF_Err(PF_CALL* PF_PathVertexInfo)(PF_ProgPtr effect_ref0, PF_PathOutlinePtr pathP, A_long which_pointL,
                                       PF_PathVertex* vertexP);
    PF_Err(PF_CALL* PF_PathPrepareSegLength)(PF_ProgPtr effect_ref0, PF_PathOutlinePtr pathP, A_long which_segL,
                                             A_long frequencyL, PF_PathSegPrepPtr* lengthPrepPP);
    PF_Err(PF_CALL* PF_PathGetSegLength)(PF_ProgPtr effect_ref0, PF_PathOutlinePtr pathP, A_long which_segL,
                                         PF_PathSegPrepPtr* lengthPrepP0, PF_FpLong* lengthPF);
    PF_Err(PF_CALL* PF_PathEvalSegLength)(PF_ProgPtr effect_ref0, PF_PathOutlinePtr pathP,
                                          PF_PathSegPrepPtr* lengthPrepPP0, A_long which_segL, PF_FpLong lengthF,
                                          PF_FpLong* x, PF_FpLong* y);
    PF_Err(PF_CALL* PF_PathEvalSegLengthDeriv1)(PF_ProgPtr effect_ref0, PF_PathOutlinePtr pathP,
                                                PF_PathSegPrepPtr* lengthPrepPP0, A_long which_segL,
                                                PF_FpLong lengthF, PF_FpLong* x, PF_FpLong* y, PF_FpLong* deriv1x,
                                                PF_FpLong* deriv1y);
    PF_Err(PF_CALL* PF_PathCleanupSegLength)(PF_ProgPtr effect_ref0, PF_PathOutlinePtr pathP, A_long which_segL,
                                             PF_PathSegPrepPtr* lengthPrepPP);
    PF_Err(PF_CALL* PF_PathIsInverted)(PF_ProgPtr effect_ref, PF_PathID unique_id, PF_Boolean* invertedB);
    PF_Err(PF_CALL* PF_PathGetMaskMode)(PF_ProgPtr effect_ref, PF_PathID unique_id, PF_MaskMode* modeP);
    PF_Err(PF_CALL* PF_PathGetName)(PF_ProgPtr effect_ref, PF_PathID unique_id, A_char* nameZ);
};

// "PF Sampling8 Suite" 1, "PF Sampling16 Suite" 1, "PF SamplingFloat Suite" 1:
// area sampling is the third function of each.
struct PF_Sampling8Suite1 {
    PF_Err(PF_CALL* nn_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                               PF_Pixel* dst_pixel);
    PF_Err(PF_CALL* subpixel_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                     PF_Pixel* dst_pixel);
    PF_Err(PF_CALL* area_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                 PF_Pixel* dst_pixel);
};
struct PF_Sampling16Suite1 {
    PF_Err(PF_CALL* nn_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                 PF_Pixel16* dst_pixel);
    PF_Err(PF_CALL* subpixel_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                       PF_Pixel16* dst_pixel);
    PF_Err(PF_CALL* area_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                   PF_Pixel16* dst_pixel);
};
struct PF_SamplingFloatSuite1 {
    PF_Err(PF_CALL* nn_sample_float)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                     PF_PixelFloat* dst_pixel);
    PF_Err(PF_CALL* subpixel_sample_float)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                                           const PF_SampPB* params, PF_PixelFloat* dst_pixel);
    PF_Err(PF_CALL* area_sample_float)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                       PF_PixelFloat* dst_pixel);
};

// ---------------------------------------------------------------------------
// In-data and out-data
// ---------------------------------------------------------------------------
struct PF_InData {
    PF_InteractCallbacks inter;
    PF_UtilCallbacks* utils;
    PF_ProgPtr effect_ref;
    PF_Quality quality;
    PF_SpecVersion version;
    A_long serial_num;
    A_long appl_id;
    A_long num_params;
    A_long reserved;
    A_long what_cpu;
    A_long what_fpu;
    A_long current_time;
    A_long time_step;
    A_long total_time;
    A_long local_time_step;
    A_u_long time_scale;
    PF_Field field;
    PF_Fixed shutter_angle;
    A_long width;
    A_long height;
    PF_Rect extent_hint;
    A_long output_origin_x;
    A_long output_origin_y;
    PF_RationalScale downsample_x;
    PF_RationalScale downsample_y;
    PF_RationalScale pixel_aspect_ratio;
    PF_InFlags in_flags;
    PF_Handle global_data;
    PF_Handle sequence_data;
    PF_Handle frame_data;
    A_long start_sampL;
    A_long dur_sampL;
    A_long total_sampL;
    PF_SoundWorld src_snd;
    SPBasicSuite* pica_basicP;
    A_long pre_effect_source_origin_x;
    A_long pre_effect_source_origin_y;
    PF_Fixed shutter_phase;
};

struct PF_OutData {
    A_u_long my_version;
    A_char name[PF_MAX_EFFECT_NAME_LEN + 1];
    PF_Handle global_data;
    A_long num_params;
    PF_Handle sequence_data;
    A_long flat_sdata_size;
    PF_Handle frame_data;
    A_long width;
    A_long height;
    PF_Point origin;
    PF_OutFlags out_flags;
    A_char return_msg[PF_MAX_EFFECT_MSG_LEN + 1];
    A_long start_sampL;
    A_long dur_sampL;
    PF_SoundWorld dest_snd;
    PF_OutFlags2 out_flags2;
};

// The extra record of PF_Cmd_USER_CHANGED_PARAM.
struct PF_UserChangedParamExtra {
    PF_ParamIndex param_index;
};

// ---------------------------------------------------------------------------
// Smart render
// ---------------------------------------------------------------------------
struct PF_RenderRequest {
    PF_LRect rect;
    PF_Field field;
    PF_ChannelMask channel_mask;
    PF_Boolean preserve_rgb_of_zero_alpha;
    char unused[3];
    A_long reserved[4];
};

struct PF_CheckoutResult {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_RationalScale par;
    PF_Boolean solid;
    PF_Boolean reservedB[3];
    A_long ref_width;
    A_long ref_height;
    A_long reserved[6];
};

// Called by the host with the frame's pre-render data once it is done with it,
// whether or not a render followed.
typedef void(PF_CALL* PF_DeletePreRenderDataFunc)(void* pre_render_data);

struct PF_PreRenderInput {
    PF_RenderRequest output_request;
    short bitdepth;
    const void* gpu_data;
    PF_GPU_Framework what_gpu;
    A_u_long device_index;
};

struct PF_PreRenderOutput {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_Boolean solid;
    PF_Boolean reserved;
    PF_RenderOutputFlags flags;
    void* pre_render_data;
    PF_DeletePreRenderDataFunc delete_pre_render_data_func;
};

struct PF_PreRenderCallbacks {
    PF_Err(PF_CALL* checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_idL,
                                    const PF_RenderRequest* req, A_long what_time, A_long time_step,
                                    A_u_long time_scale, PF_CheckoutResult* checkout_result);
    PF_Err(PF_CALL* GuidMixInPtr)(PF_ProgPtr effect_ref, A_u_long buf_sizeLu, const void* buf);
};

struct PF_PreRenderExtra {
    PF_PreRenderInput* input;
    PF_PreRenderOutput* output;
    PF_PreRenderCallbacks* cb;
};

struct PF_SmartRenderInput {
    PF_RenderRequest output_request;
    short bitdepth;
    void* pre_render_data;
    const void* gpu_data;
    PF_GPU_Framework what_gpu;
    A_u_long device_index;
};

struct PF_SmartRenderCallbacks {
    PF_Err(PF_CALL* checkout_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL, PF_EffectWorld** pixels);
    PF_Err(PF_CALL* checkin_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL);
    PF_Err(PF_CALL* checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld** output);
};

struct PF_SmartRenderExtra {
    PF_SmartRenderInput* input;
    PF_SmartRenderCallbacks* cb;
};

// ---------------------------------------------------------------------------
// The entry point
// ---------------------------------------------------------------------------
typedef PF_Err(PF_CALL* PF_FilterProc)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamList params,
                                       PF_LayerDef* output, void* extra);

// ---------------------------------------------------------------------------
// The host's sizes and offsets (Windows x64, and the same on Linux x86-64):
// a change that moves one of these fails the build.
// ---------------------------------------------------------------------------
static_assert(sizeof(void*) == 8, "the host's records are laid out for 64-bit code");
static_assert(sizeof(PF_InData) == 408 && offsetof(PF_InData, utils) == 176 &&
              offsetof(PF_InData, effect_ref) == 184 && offsetof(PF_InData, current_time) == 224 &&
              offsetof(PF_InData, downsample_x) == 284 && offsetof(PF_InData, global_data) == 312 &&
              offsetof(PF_InData, pica_basicP) == 384 && offsetof(PF_InData, shutter_phase) == 400);
static_assert(sizeof(PF_OutData) == 408 && offsetof(PF_OutData, origin) == 88 &&
              offsetof(PF_OutData, out_flags) == 96 && offsetof(PF_OutData, return_msg) == 100 &&
              offsetof(PF_OutData, out_flags2) == 400);
static_assert(sizeof(PF_InteractCallbacks) == 176 && offsetof(PF_InteractCallbacks, progress) == 32);
static_assert(sizeof(PF_UtilCallbacks) == 552 && offsetof(PF_UtilCallbacks, copy) == 64 &&
              offsetof(PF_UtilCallbacks, host_new_handle) == 160 && offsetof(PF_UtilCallbacks, ansi) == 208 &&
              offsetof(PF_UtilCallbacks, host_get_handle_size) == 440);
static_assert(sizeof(PF_ANSICallbacks) == 160 && offsetof(PF_ANSICallbacks, sprintf) == 120);
static_assert(sizeof(PF_ParamDef) == 176 && offsetof(PF_ParamDef, u) == 56 && sizeof(PF_ParamDefUnion) == 120);
static_assert(sizeof(PF_LayerDef) == 120 && offsetof(PF_LayerDef, data) == 24 &&
              offsetof(PF_LayerDef, platform_ref) == 64 && offsetof(PF_LayerDef, dephault) == 116);
static_assert(sizeof(PF_RenderRequest) == 44 && sizeof(PF_CheckoutResult) == 76);
static_assert(sizeof(PF_PreRenderInput) == 64 && sizeof(PF_PreRenderOutput) == 56 &&
              offsetof(PF_PreRenderOutput, pre_render_data) == 40 && sizeof(PF_PreRenderExtra) == 24);
static_assert(sizeof(PF_SmartRenderInput) == 72 && offsetof(PF_SmartRenderInput, pre_render_data) == 48 &&
              sizeof(PF_SmartRenderExtra) == 16);
static_assert(sizeof(PF_SampPB) == 104 && sizeof(PF_State) == 16 && sizeof(SPBasicSuite) == 56);
static_assert(sizeof(PF_MaskSuite1) == 8 && alignof(PF_MaskSuite1) == 2);
