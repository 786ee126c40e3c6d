// Our own declaration of the host application's plug-in interface.
//
// Names follow the host SDK so the effect reads like any other effect of that
// host; the record layouts are this project's own and are shared by the effect
// and the standalone host. Only the C++ standard library is needed, so the
// header builds for Linux and for Windows (mingw) alike.
#pragma once

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

typedef A_long PF_Err;
typedef A_long PF_Cmd;
typedef A_u_char PF_Boolean;
typedef A_long PF_Fixed;  // 16.16 fixed point
typedef double PF_FpLong;
typedef float PF_FpShort;
typedef A_long PF_ParamIndex;
typedef A_long PF_ParamType;
typedef A_long PF_ParamFlags;
typedef A_long PF_ParamUIFlags;
typedef A_long PF_ChangeFlags;
typedef A_long PF_ValueDisplayFlags;
typedef A_long AEGP_PluginID;
typedef void* AEGP_GlobalRefcon;
typedef A_u_long PF_PathID;

// The host's instance reference, opaque to the effect.
typedef struct PF_ProgressInfo* PF_ProgPtr;

// A movable block of host memory. The effect only ever passes it back to the
// host's handle functions.
typedef void** PF_Handle;

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
};

// ---------------------------------------------------------------------------
// Out flags
// ---------------------------------------------------------------------------
enum : A_long {
    PF_OutFlag_NONE = 0,
    PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING = 1L << 4,
    PF_OutFlag_USE_OUTPUT_EXTENT = 1L << 6,
    PF_OutFlag_DISPLAY_ERROR_MESSAGE = 1L << 8,
    PF_OutFlag_REFRESH_UI = 1L << 17,
    PF_OutFlag_DEEP_COLOR_AWARE = 1L << 25,
    PF_OutFlag_SEND_UPDATE_PARAMS_UI = 1L << 26,
};

enum : A_long {
    PF_OutFlag2_NONE = 0,
    PF_OutFlag2_SUPPORTS_SMART_RENDER = 1L << 10,
    PF_OutFlag2_FLOAT_COLOR_AWARE = 1L << 12,
};

enum : A_long { PF_Stage_DEVELOP = 0, PF_Stage_ALPHA = 1, PF_Stage_BETA = 2, PF_Stage_RELEASE = 3 };

// ---------------------------------------------------------------------------
// Pixels, rectangles, worlds
// ---------------------------------------------------------------------------
struct PF_Pixel8 {
    A_u_char alpha, red, green, blue;
};
typedef PF_Pixel8 PF_Pixel;
struct PF_Pixel16 {
    A_u_short alpha, red, green, blue;
};
struct PF_PixelFloat {
    PF_FpShort alpha, red, green, blue;
};

struct PF_LRect {
    A_long left, top, right, bottom;
};
typedef PF_LRect PF_Rect;
typedef PF_LRect PF_UnionableRect;

struct PF_RationalScale {
    A_long num;
    A_u_long den;
};

typedef void* PF_PixelPtr;

// The world record. `data` points at the top-left pixel; rows are `rowbytes`
// apart. `platform_ref` belongs to the host (the standalone host keeps its own
// world object there).
struct PF_LayerDef {
    void* reserved0;
    void* reserved1;
    A_long world_flags;
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

typedef A_long PF_PixelFormat;
enum : PF_PixelFormat {
    PF_PixelFormat_ARGB32 = 0x61726762,   // 'argb'
    PF_PixelFormat_ARGB64 = 0x61726736,   // 'arg6'
    PF_PixelFormat_ARGB128 = 0x61723132,  // 'ar12'
    PF_PixelFormat_BGRA32 = 0x62677261,   // 'bgra', never offered to this effect
    PF_PixelFormat_INVALID = 0x62616466,  // 'badf'
};

// ---------------------------------------------------------------------------
// Parameters
// ---------------------------------------------------------------------------
enum : PF_ParamType {
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
};

enum : A_long { PF_ValueDisplayFlag_NONE = 0, PF_ValueDisplayFlag_PERCENT = 1 << 0 };
enum : A_long { PF_LayerDefault_NONE = 0, PF_LayerDefault_MYSELF = -1 };
enum : PF_ParamIndex {
    PF_ParamIndex_NONE = -1,
    PF_ParamIndex_CHECK_ALL = -2,
    PF_ParamIndex_CHECK_ALL_HONOR_EXCLUDE = -3,
};

#define PF_MAX_EFFECT_PARAM_NAME_LEN 31
#define PF_MAX_PARAM_VALUE_LEN 31

struct PF_SliderDef {
    A_long value;
    A_char value_str[PF_MAX_PARAM_VALUE_LEN + 1];
    A_char value_desc[PF_MAX_PARAM_VALUE_LEN + 1];
    A_long valid_min, valid_max;
    A_long slider_min, slider_max;
    A_long dephault;
};

struct PF_FixedSliderDef {
    PF_Fixed value;
    A_char value_str[PF_MAX_PARAM_VALUE_LEN + 1];
    A_char value_desc[PF_MAX_PARAM_VALUE_LEN + 1];
    PF_Fixed valid_min, valid_max;
    PF_Fixed slider_min, slider_max;
    PF_Fixed dephault;
    A_short precision;
    A_short display_flags;
};

struct PF_CheckBoxDef {
    A_long value;
    PF_Boolean dephault;
    A_char reserved;
    A_short reserved1;
    union {
        const A_char* nameptr;
    } u;
};

struct PF_PopupDef {
    A_long value;
    A_short num_choices;
    A_short dephault;
    union {
        const A_char* namesptr;
    } u;
};

struct PF_PathDef {
    PF_PathID path_id;
    A_long reserved0;
    A_long dephault;
};

union PF_ParamDefUnion {
    PF_LayerDef ld;
    PF_SliderDef sd;
    PF_FixedSliderDef fd;
    PF_CheckBoxDef bd;
    PF_PopupDef pd;
    PF_PathDef path_d;
};

struct PF_ParamDef {
    union {
        PF_ParamIndex id;
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
typedef PF_ParamDef** PF_ParamList;

// A host parameter-state snapshot: 16 bytes only the host interprets.
struct PF_State {
    A_u_longlong bytes[2];
};

// ---------------------------------------------------------------------------
// Sampling
// ---------------------------------------------------------------------------
struct PF_SampPB {
    PF_Fixed x_radius;
    PF_Fixed y_radius;
    PF_Fixed area;
    PF_EffectWorld* src;
    A_long samp_behave;
    A_long allow_asynch;
    A_long motion_blur;
    A_long comp_mode;
    PF_PixelPtr mask0;
    A_u_char* fcm_table;
    A_u_char* fcm_table_size;
    A_long reserved[4];
};

// ---------------------------------------------------------------------------
// Callbacks handed in with every call
// ---------------------------------------------------------------------------
struct PF_ANSICallbacks {
    PF_FpLong(PF_CALL* atan)(PF_FpLong);
    PF_FpLong(PF_CALL* atan2)(PF_FpLong y, PF_FpLong x);
    PF_FpLong(PF_CALL* ceil)(PF_FpLong);
    PF_FpLong(PF_CALL* cos)(PF_FpLong);
    PF_FpLong(PF_CALL* exp)(PF_FpLong);
    PF_FpLong(PF_CALL* fabs)(PF_FpLong);
    PF_FpLong(PF_CALL* floor)(PF_FpLong);
    PF_FpLong(PF_CALL* fmod)(PF_FpLong, PF_FpLong);
    PF_FpLong(PF_CALL* hypot)(PF_FpLong, PF_FpLong);
    PF_FpLong(PF_CALL* log)(PF_FpLong);
    PF_FpLong(PF_CALL* log10)(PF_FpLong);
    PF_FpLong(PF_CALL* pow)(PF_FpLong, PF_FpLong);
    PF_FpLong(PF_CALL* sin)(PF_FpLong);
    PF_FpLong(PF_CALL* sqrt)(PF_FpLong);
    PF_FpLong(PF_CALL* tan)(PF_FpLong);
    int(PF_CALL* sprintf)(A_char*, const A_char*, ...);
    A_char*(PF_CALL* strcpy)(A_char*, const A_char*);
    PF_FpLong(PF_CALL* asin)(PF_FpLong);
    PF_FpLong(PF_CALL* acos)(PF_FpLong);
};

struct PF_UtilCallbacks {
    PF_Err(PF_CALL* copy)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst,
                          const PF_Rect* src_r, const PF_Rect* dst_r);
    PF_Err(PF_CALL* fill)(PF_ProgPtr effect_ref, const PF_Pixel* color, const PF_Rect* dst_rect,
                          PF_EffectWorld* world);
    PF_Handle(PF_CALL* host_new_handle)(A_u_longlong size);
    void*(PF_CALL* host_lock_handle)(PF_Handle);
    void(PF_CALL* host_unlock_handle)(PF_Handle);
    void(PF_CALL* host_dispose_handle)(PF_Handle);
    A_u_longlong(PF_CALL* host_get_handle_size)(PF_Handle);
    PF_ANSICallbacks ansi;
};

struct PF_InteractCallbacks {
    PF_Err(PF_CALL* checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                                    A_long time_step, A_u_long time_scale, PF_ParamDef* param);
    PF_Err(PF_CALL* checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
    PF_Err(PF_CALL* add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def);
    PF_Err(PF_CALL* abort)(PF_ProgPtr effect_ref);
    PF_Err(PF_CALL* progress)(PF_ProgPtr effect_ref, A_long current, A_long total);
};

// ---------------------------------------------------------------------------
// The basic suite and the named suites
// ---------------------------------------------------------------------------
typedef A_long SPErr;

struct SPBasicSuite {
    SPErr(PF_CALL* AcquireSuite)(const char* name, A_long version, const void** suite);
    SPErr(PF_CALL* ReleaseSuite)(const char* name, A_long version);
    A_Boolean(PF_CALL* IsEqual)(const char* token1, const char* token2);
    SPErr(PF_CALL* AllocateBlock)(A_u_longlong size, void** block);
    SPErr(PF_CALL* FreeBlock)(void* block);
    SPErr(PF_CALL* ReallocateBlock)(void* block, A_u_longlong new_size, void** new_block);
    SPErr(PF_CALL* Undefined)(void);
};

#define kPFANSISuite "PF ANSI Suite"
#define kPFANSISuiteVersion1 1
#define kAEGPUtilitySuite "AEGP Utility Suite"
#define kAEGPUtilitySuiteVersion7 7
#define kPFHandleSuite "PF Handle Suite"
#define kPFHandleSuiteVersion1 1
#define kPFParamUtilsSuite "PF Param Utils Suite"
#define kPFParamUtilsSuiteVersion1 1
#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion2 2
#define kAEGPMaskSuite "AEGP Mask Suite"
#define kAEGPMaskSuiteVersion1 1
#define kPFPathQuerySuite "PF Path Query Suite"
#define kPFPathQuerySuiteVersion1 1
#define kPFPathDataSuite "PF Path Data Suite"
#define kPFPathDataSuiteVersion1 1
#define kPFSampling8Suite "PF Sampling8 Suite"
#define kPFSampling16Suite "PF Sampling16 Suite"
#define kPFSamplingFloatSuite "PF SamplingFloat Suite"
#define kPFSamplingSuiteVersion1 1

// "PF ANSI Suite" 1: sprintf is the 16th function.
struct PF_ANSICallbacksSuite1 {
    PF_FpLong(PF_CALL* atan)(PF_FpLong);
    PF_FpLong(PF_CALL* atan2)(PF_FpLong y, PF_FpLong x);
    PF_FpLong(PF_CALL* ceil)(PF_FpLong);
    PF_FpLong(PF_CALL* cos)(PF_FpLong);
    PF_FpLong(PF_CALL* exp)(PF_FpLong);
    PF_FpLong(PF_CALL* fabs)(PF_FpLong);
    PF_FpLong(PF_CALL* floor)(PF_FpLong);
    PF_FpLong(PF_CALL* fmod)(PF_FpLong, PF_FpLong);
    PF_FpLong(PF_CALL* hypot)(PF_FpLong, PF_FpLong);
    PF_FpLong(PF_CALL* log)(PF_FpLong);
    PF_FpLong(PF_CALL* log10)(PF_FpLong);
    PF_FpLong(PF_CALL* pow)(PF_FpLong, PF_FpLong);
    PF_FpLong(PF_CALL* sin)(PF_FpLong);
    PF_FpLong(PF_CALL* sqrt)(PF_FpLong);
    PF_FpLong(PF_CALL* tan)(PF_FpLong);
    int(PF_CALL* sprintf)(A_char*, const A_char*, ...);
    A_char*(PF_CALL* strcpy)(A_char*, const A_char*);
    PF_FpLong(PF_CALL* asin)(PF_FpLong);
    PF_FpLong(PF_CALL* acos)(PF_FpLong);
};

// "AEGP Utility Suite" 7: AEGP_RegisterWithAEGP is the 8th function.
struct AEGP_UtilitySuite7 {
    PF_Err(PF_CALL* AEGP_ReportInfo)(AEGP_PluginID plugin_id, const A_char* info);
    PF_Err(PF_CALL* AEGP_ReportInfoUnicode)(AEGP_PluginID plugin_id, const A_u_short* info);
    PF_Err(PF_CALL* AEGP_GetDriverPluginInitFuncVersion)(A_short* major, A_short* minor);
    PF_Err(PF_CALL* AEGP_GetDriverImplementationVersion)(A_short* major, A_short* minor);
    PF_Err(PF_CALL* AEGP_StartQuietErrors)(void* err_state);
    PF_Err(PF_CALL* AEGP_EndQuietErrors)(A_Boolean report, void* err_state);
    PF_Err(PF_CALL* AEGP_GetLastErrorMessage)(A_long buffer_size, A_char* error_string, PF_Err* error);
    PF_Err(PF_CALL* AEGP_RegisterWithAEGP)(AEGP_GlobalRefcon global_refcon, const A_char* plugin_name,
                                           AEGP_PluginID* plugin_id);
    PF_Err(PF_CALL* AEGP_GetMainHWND)(void* main_hwnd);
};

// "PF Handle Suite" 1.
struct PF_HandleSuite1 {
    PF_Handle(PF_CALL* host_new_handle)(A_u_longlong size);
    void*(PF_CALL* host_lock_handle)(PF_Handle);
    void(PF_CALL* host_unlock_handle)(PF_Handle);
    void(PF_CALL* host_dispose_handle)(PF_Handle);
    A_u_longlong(PF_CALL* host_get_handle_size)(PF_Handle);
    PF_Err(PF_CALL* host_resize_handle)(A_u_longlong new_size, PF_Handle* handle);
};

// "PF Param Utils Suite" 1.
struct PF_ParamUtilsSuite1 {
    PF_Err(PF_CALL* PF_UpdateParamUI)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                                      const PF_ParamDef* def);
    PF_Err(PF_CALL* PF_GetCurrentState)(PF_ProgPtr effect_ref, PF_State* state);
    PF_Err(PF_CALL* PF_HasParamChanged)(PF_ProgPtr effect_ref, const PF_State* state,
                                        PF_ParamIndex param_index, PF_Boolean* changed);
};

// "PF World Suite" 2.
struct PF_WorldSuite2 {
    PF_Err(PF_CALL* PF_NewWorld)(PF_ProgPtr effect_ref, A_long width, A_long height, PF_Boolean clear,
                                 PF_PixelFormat format, PF_EffectWorld* world);
    PF_Err(PF_CALL* PF_DisposeWorld)(PF_ProgPtr effect_ref, PF_EffectWorld* world);
    PF_Err(PF_CALL* PF_GetPixelFormat)(const PF_EffectWorld* world, PF_PixelFormat* format);
};

// "AEGP Mask Suite" 1: held during a render, never called.
typedef struct AEGP_MaskRef_* AEGP_MaskRefH;
struct AEGP_MaskSuite1 {
    PF_Err(PF_CALL* AEGP_GetLayerNumMasks)(void* layer, A_long* num_masks);
    PF_Err(PF_CALL* AEGP_GetLayerMaskByIndex)(void* layer, A_long index, AEGP_MaskRefH* mask);
    PF_Err(PF_CALL* AEGP_DisposeMask)(AEGP_MaskRefH mask);
    PF_Err(PF_CALL* AEGP_GetMaskInvert)(AEGP_MaskRefH mask, A_Boolean* invert);
};

// Paths
typedef struct PF_PathOutline_* PF_PathOutlinePtr;
typedef struct PF_PathSegPrep_* PF_PathSegPrepPtr;

struct PF_PathVertex {
    PF_FpLong x, y;
    PF_FpLong tan_in_x, tan_in_y;
    PF_FpLong tan_out_x, tan_out_y;
};

// "PF Path Query Suite" 1.
struct PF_PathQuerySuite1 {
    PF_Err(PF_CALL* PF_NumPaths)(PF_ProgPtr effect_ref, A_long* num_paths);
    PF_Err(PF_CALL* PF_PathInfo)(PF_ProgPtr effect_ref, A_long index, PF_PathID* unique_id);
    PF_Err(PF_CALL* PF_CheckoutPath)(PF_ProgPtr effect_ref, PF_PathID unique_id, A_long what_time,
                                     A_long time_step, A_u_long time_scale, PF_PathOutlinePtr* path);
    PF_Err(PF_CALL* PF_CheckinPath)(PF_ProgPtr effect_ref, PF_PathID unique_id, PF_Boolean changed,
                                    PF_PathOutlinePtr path);
};

// "PF Path Data Suite" 1.
struct PF_PathDataSuite1 {
    PF_Err(PF_CALL* PF_PathIsOpen)(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, PF_Boolean* open);
    PF_Err(PF_CALL* PF_PathNumSegments)(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long* num_segments);
    PF_Err(PF_CALL* PF_PathVertexInfo)(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long which_point,
                                       PF_PathVertex* vertex);
    PF_Err(PF_CALL* PF_PathPrepareSegLength)(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long which_seg,
                                             A_long frequency, PF_PathSegPrepPtr* length_prep);
    PF_Err(PF_CALL* PF_PathGetSegLength)(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long which_seg,
                                         PF_PathSegPrepPtr* length_prep, PF_FpLong* length);
    PF_Err(PF_CALL* PF_PathEvalSegLength)(PF_ProgPtr effect_ref, PF_PathOutlinePtr path,
                                          PF_PathSegPrepPtr* length_prep, A_long which_seg, PF_FpLong length,
                                          PF_FpLong* x, PF_FpLong* y);
    PF_Err(PF_CALL* PF_PathEvalSegLengthDeriv1)(PF_ProgPtr effect_ref, PF_PathOutlinePtr path,
                                                PF_PathSegPrepPtr* length_prep, A_long which_seg,
                                                PF_FpLong length, PF_FpLong* x, PF_FpLong* y,
                                                PF_FpLong* deriv1x, PF_FpLong* deriv1y);
    PF_Err(PF_CALL* PF_PathCleanupSegLength)(PF_ProgPtr effect_ref, PF_PathOutlinePtr path, A_long which_seg,
                                             PF_PathSegPrepPtr* length_prep);
};

// "PF Sampling8 Suite" 1, "PF Sampling16 Suite" 1, "PF SamplingFloat Suite" 1:
// area sampling is the third function of each.
struct PF_Sampling8Suite1 {
    PF_Err(PF_CALL* nn_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                               PF_Pixel8* dst);
    PF_Err(PF_CALL* subpixel_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                     PF_Pixel8* dst);
    PF_Err(PF_CALL* area_sample)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                 PF_Pixel8* dst);
};
struct PF_Sampling16Suite1 {
    PF_Err(PF_CALL* nn_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                 PF_Pixel16* dst);
    PF_Err(PF_CALL* subpixel_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                       PF_Pixel16* dst);
    PF_Err(PF_CALL* area_sample16)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                   PF_Pixel16* dst);
};
struct PF_SamplingFloatSuite1 {
    PF_Err(PF_CALL* nn_sample_float)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                     PF_PixelFloat* dst);
    PF_Err(PF_CALL* subpixel_sample_float)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y,
                                           const PF_SampPB* params, PF_PixelFloat* dst);
    PF_Err(PF_CALL* area_sample_float)(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                       PF_PixelFloat* dst);
};

// ---------------------------------------------------------------------------
// In-data and out-data
// ---------------------------------------------------------------------------
struct PF_InData {
    PF_InteractCallbacks inter;
    PF_UtilCallbacks* utils;
    PF_ProgPtr effect_ref;
    A_long quality;
    A_long version;
    A_long serial_num;
    A_long appl_id;
    A_long num_params;
    A_long what_cpu;
    A_long what_fpu;
    A_long current_time;
    A_long time_step;
    A_long total_time;
    A_long local_time_step;
    A_u_long time_scale;
    A_long width;
    A_long height;
    PF_Rect extent_hint;
    PF_RationalScale downsample_x;
    PF_RationalScale downsample_y;
    PF_RationalScale pixel_aspect_ratio;
    A_long in_flags;
    PF_Handle global_data;
    PF_Handle sequence_data;
    PF_Handle frame_data;
    SPBasicSuite* pica_basicP;
};

struct PF_OutData {
    A_u_long my_version;
    A_char name[32];
    PF_Handle global_data;
    A_long num_params;
    PF_Handle sequence_data;
    A_long flat_sdata_size;
    PF_Handle frame_data;
    A_long width;
    A_long height;
    A_long out_flags;
    A_char return_msg[256];
    A_long out_flags2;
};

// The extra record of PF_Cmd_USER_CHANGED_PARAM.
struct PF_UserChangedParamExtra {
    PF_ParamIndex param_index;
};

// ---------------------------------------------------------------------------
// Smart render
// ---------------------------------------------------------------------------
typedef A_long PF_Field;
typedef A_long PF_ChannelMask;
typedef A_short PF_RenderOutputFlags;

struct PF_RenderRequest {
    PF_LRect rect;
    PF_Field field;
    PF_ChannelMask channel_mask;
    PF_Boolean preserve_rgb_of_zero_alpha;
    A_char unused[3];
    A_long reserved[4];
};

struct PF_CheckoutResult {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_RationalScale par;
    A_long solid;
    PF_Boolean reserved_opaque;
    PF_Boolean reserved[3];
    A_long ref_width;
    A_long ref_height;
};

// Called by the host when it is done with a frame's pre-render data. Our
// layout hands it the in-data of the call that ends the frame, so the effect
// can give host memory back without keeping any state of its own.
typedef void(PF_CALL* PF_DeletePreRenderDataFunc)(PF_InData* in_data, void* pre_render_data);

struct PF_PreRenderInput {
    PF_RenderRequest output_request;
    A_short bitdepth;
    A_short reserved;
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
    PF_Err(PF_CALL* checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                                    const PF_RenderRequest* req, A_long what_time, A_long time_step,
                                    A_u_long time_scale, PF_CheckoutResult* result);
};

struct PF_PreRenderExtra {
    PF_PreRenderInput* input;
    PF_PreRenderOutput* output;
    PF_PreRenderCallbacks* cb;
};

struct PF_SmartRenderInput {
    PF_RenderRequest output_request;
    A_short bitdepth;
    A_short reserved;
    void* pre_render_data;
};

struct PF_SmartRenderCallbacks {
    PF_Err(PF_CALL* checkout_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels);
    PF_Err(PF_CALL* checkin_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_id);
    PF_Err(PF_CALL* checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld** output);
};

struct PF_SmartRenderExtra {
    PF_SmartRenderInput* input;
    PF_SmartRenderCallbacks* cb;
};

// ---------------------------------------------------------------------------
// The entry point
// ---------------------------------------------------------------------------
typedef PF_Err(PF_CALL* PF_EntryPointFunc)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                           PF_ParamDef* params[], PF_LayerDef* output, void* extra);
