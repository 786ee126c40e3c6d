// Drives the effect through the standalone host from one input that chooses
// everything: a fault schedule, the input, output and Layer worlds, the masks,
// every parameter value (out-of-range ones included) and a sequence of host
// commands and frames. After each step it checks what the effect promises
// whatever it is given: a result among the codes it may return, every world's
// guard bytes intact, nothing held once a call is over, and on the refused
// frames an output left as it was.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/ae_sdk.h"
#include "host/entry.h"
#include "standalone/host.h"

namespace trellis_fuzz::effect {
namespace {

using standalone::Host;
using standalone::MaskShape;
using standalone::MaskVertex;
using standalone::RenderOptions;
using standalone::RenderResult;
using standalone::World;

constexpr std::string_view kName = "fuzz_effect";

// Small enough that one input runs in well under a second with sanitizers.
constexpr A_long kMaxSide = 64;
constexpr int kMaxVertices = 320;
constexpr int kMaxMasks = 2;
constexpr int kMaxOps = 12;
constexpr int kMaxFaults = 4;
constexpr std::size_t kMaxGeneralText = 300;

// Parameter indices as the effect declares them.
constexpr PF_ParamIndex kPath = 1;
constexpr PF_ParamIndex kLayer = 2;
constexpr PF_ParamIndex kMode = 3;
constexpr PF_ParamIndex kTime = 4;
constexpr PF_ParamIndex kMaxWidth = 5;
constexpr PF_ParamIndex kMinWidth = 6;
constexpr PF_ParamIndex kVarious = 7;
constexpr PF_ParamIndex kBlend = 8;
constexpr PF_ParamIndex kOpacity = 9;
constexpr PF_ParamIndex kSeed = 10;
constexpr PF_ParamIndex kOnOriginal = 11;
constexpr A_long kDeclaredParams = 11;

// A path id no mask has.
constexpr A_long kUnknownPath = 99;

struct SuiteId {
    const char* name;
    A_long version;
};
constexpr SuiteId kSuites[] = {
    {kPFANSISuite, kPFANSISuiteVersion1},
    {kAEGPUtilitySuite, kAEGPUtilitySuiteVersion3},
    {kPFHandleSuite, kPFHandleSuiteVersion1},
    {kPFParamUtilsSuite, kPFParamUtilsSuiteVersion1},
    {kPFWorldSuite, kPFWorldSuiteVersion2},
    {kPF_MaskSuite, kPF_MaskSuiteVersion1},
    {kPFPathQuerySuite, kPFPathQuerySuiteVersion1},
    {kPFPathDataSuite, kPFPathDataSuiteVersion1},
    {kPFSampling8Suite, kPFSampling8SuiteVersion1},
    {kPFSampling16Suite, kPFSampling16SuiteVersion1},
    {kPFSamplingFloatSuite, kPFSamplingFloatSuiteVersion1},
};

// Host functions whose failure the effect must carry through.
// The order is part of the corpus's meaning: keep it.
using standalone::FaultTarget;
constexpr FaultTarget kFailingCalls[] = {
    FaultTarget::checkout_param, FaultTarget::add_param, FaultTarget::abort, FaultTarget::progress,
    FaultTarget::copy, FaultTarget::fill, FaultTarget::checkout_layer, FaultTarget::checkout_layer_pixels,
    FaultTarget::checkout_output, FaultTarget::checkout_path, FaultTarget::path_is_open,
    FaultTarget::path_num_segments, FaultTarget::path_vertex_info, FaultTarget::path_prepare_seg_length,
    FaultTarget::path_get_seg_length, FaultTarget::path_eval_seg_length_deriv1, FaultTarget::area_sample,
    FaultTarget::get_pixel_format, FaultTarget::has_param_changed, FaultTarget::get_current_state,
    FaultTarget::register_with_aegp, FaultTarget::release_suite,
    // Give-backs: their result is not consulted, and a refusing host keeps
    // the item, so the books cannot balance afterwards.
    FaultTarget::checkin_param, FaultTarget::checkin_path, FaultTarget::path_cleanup_seg_length,
};
constexpr std::size_t kFirstGiveBack = sizeof kFailingCalls / sizeof kFailingCalls[0] - 3;

constexpr PF_Err kInjectedCodes[] = {
    PF_Interrupt_CANCEL, 1, 7, PF_Err_INVALID_INDEX, PF_Err_OUT_OF_MEMORY, PF_Err_BAD_CALLBACK_PARAM, -1,
    INT32_MAX, INT32_MIN, 255, PF_Err_INTERNAL_STRUCT_DAMAGED,
};

constexpr PF_Err kEffectCodes[] = {PF_Err_NONE, PF_Err_OUT_OF_MEMORY, 255, PF_Err_INTERNAL_STRUCT_DAMAGED,
                                   PF_Err_BAD_CALLBACK_PARAM};

// Interesting raw values per parameter; the first is the usual one.
constexpr A_long kModes[] = {1, 2, 3, 0, 4, 9, -1, INT32_MIN, INT32_MAX};
constexpr A_long kPercents[] = {0x320000, 0, 0x640000, 1, 0x640000 - 1, 0x320001, 0x31FFFF, 0x190000,
                                0x4B0000, 0x10000, -0x10000, 0x6400000, INT32_MAX, INT32_MIN, 0x8000};
constexpr A_long kMinWidths[] = {0x140000, 0, 0x640000, 0x320000, 1, -0x10000, 0x6400000, INT32_MAX, INT32_MIN};
constexpr A_long kOpacities[] = {0x640000, 0, 0x320000, 1, 0x8000, -0x10000, 0x6400000, INT32_MAX, INT32_MIN};
constexpr A_long kMaxWidths[] = {300, 2, 5000, 500, 3, 4, 20, 64, 1, 0, -1, -5000, 100000, INT32_MAX, INT32_MIN};
constexpr A_long kBlends[] = {5, 1, 2, 3, 4, 6, 7, 8, 0, 9, -1, INT32_MAX, INT32_MIN};
constexpr A_long kChecks[] = {0, 1, 2, -1};
constexpr A_long kSeeds[] = {0, 1, 50000, 12345, -1, INT32_MAX, INT32_MIN};

constexpr PF_RationalScale kDownsamples[] = {
    {1, 1}, {1, 2}, {1, 4}, {3, 4}, {0, 1}, {1, 0}, {0, 0}, {-1, 2}, {INT32_MAX, 1}, {1, UINT32_MAX}, {2, 1},
    {INT32_MIN, 1},
};

constexpr A_long kSides[] = {0, 1, 2, 3, 7, 16, 31, 64};
constexpr PF_PixelFormat kFormats[] = {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128};
constexpr PF_PixelFormat kRefusedFormats[] = {PF_PixelFormat_BGRA32, PF_PixelFormat_INVALID, 0};

// Commands without a handler.
constexpr PF_Cmd kUnhandled[] = {2, 7, 9, 10, 11, 12, 15, 16, 18, 19, 20, 21, 22, 25, 1000, -1, INT32_MIN};

std::uint64_t splitmix(std::uint64_t& state) {
    std::uint64_t x = (state += 0x9e3779b97f4a7c15ULL);
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// Pixel styles: 0 all zero, 1 opaque, 2 any straight value, 3 float
// extremes (NaN, infinities, negative, above one) where the depth has them.
void paint(World& world, std::uint64_t seed, int style) {
    if (style == 0) {
        return;
    }
    std::uint64_t state = seed;
    for (A_long y = 0; y < world.height(); ++y) {
        for (A_long x = 0; x < world.width(); ++x) {
            const std::uint64_t bits = splitmix(state);
            auto channel = [bits](int i) { return static_cast<unsigned>((bits >> (16 * i)) & 0xFFFF); };
            switch (world.format()) {
            case PF_PixelFormat_ARGB32: {
                PF_Pixel8& p = world.pixel8(x, y);
                p.alpha = static_cast<A_u_char>(style == 1 ? 255 : channel(0) & 0xFF);
                p.red = static_cast<A_u_char>(channel(1) & 0xFF);
                p.green = static_cast<A_u_char>(channel(2) & 0xFF);
                p.blue = static_cast<A_u_char>(channel(3) & 0xFF);
                break;
            }
            case PF_PixelFormat_ARGB64: {
                PF_Pixel16& p = world.pixel16(x, y);
                p.alpha = static_cast<A_u_short>(style == 1 ? 32768 : channel(0) % 32769);
                p.red = static_cast<A_u_short>(channel(1) % 32769);
                p.green = static_cast<A_u_short>(channel(2) % 32769);
                p.blue = static_cast<A_u_short>(channel(3) % 32769);
                break;
            }
            default: {
                PF_PixelFloat& p = world.pixel_float(x, y);
                auto channel_value = [style](unsigned c) -> float {
                    if (style == 3) {
                        switch (c % 8) {
                        case 0: return std::numeric_limits<float>::quiet_NaN();
                        case 1: return std::numeric_limits<float>::infinity();
                        case 2: return -std::numeric_limits<float>::infinity();
                        case 3: return -static_cast<float>(c) / 4096.0f;
                        case 4: return static_cast<float>(c) / 1024.0f;
                        case 5: return std::numeric_limits<float>::max();
                        default: break;
                        }
                    }
                    return static_cast<float>(c) / 65535.0f;
                };
                p.alpha = style == 1 ? 1.0f : channel_value(channel(0));
                p.red = channel_value(channel(1));
                p.green = channel_value(channel(2));
                p.blue = channel_value(channel(3));
                break;
            }
            }
        }
    }
}

std::shared_ptr<World> make_world(A_long width, A_long height, PF_PixelFormat format, A_long padding_channels) {
    const auto channel = static_cast<A_long>(standalone::pixel_bytes(format) / 4);
    return std::make_shared<World>(width, height, format, padding_channels * channel);
}

A_long side(ByteReader& r) {
    const std::uint8_t tag = r.u8();
    return tag < 0x80 ? kSides[tag % (sizeof kSides / sizeof kSides[0])]
                      : static_cast<A_long>(r.in_range(0, kMaxSide));
}

// A raw parameter value: mostly from the table, sometimes any 32 bits.
template <std::size_t N>
A_long value(ByteReader& r, const A_long (&table)[N]) {
    const std::uint8_t tag = r.u8();
    return tag >= 0xF0 ? r.i32() : table[tag % N];
}

double coordinate(ByteReader& r, double previous) {
    const std::uint8_t tag = r.u8();
    switch (tag % 16) {
    case 10: return std::numeric_limits<double>::quiet_NaN();
    case 11: return std::numeric_limits<double>::infinity();
    case 12: return -std::numeric_limits<double>::infinity();
    case 13: return 1e30;
    case 14: return -1e30;
    case 15: return previous;  // coincident points, zero-length segments
    default: return static_cast<std::int8_t>(r.u8()) * 0.5 + 32.0;
    }
}

double tangent(ByteReader& r) {
    const std::uint8_t tag = r.u8();
    if (tag != 0x80) {
        return static_cast<std::int8_t>(tag) * 0.25;
    }
    return coordinate(r, 0.0);
}

MaskShape read_mask(ByteReader& r) {
    MaskShape shape;
    const int count = static_cast<int>(r.u16() % (kMaxVertices + 1));
    shape.closed = r.flag();
    double px = 32.0, py = 32.0;
    for (int i = 0; i < count && !r.empty(); ++i) {
        MaskVertex v{};
        v.x = coordinate(r, px);
        v.y = coordinate(r, py);
        if (r.u8() >= 0xA0) {  // curved: tangents of any size
            v.in_x = tangent(r);
            v.in_y = tangent(r);
            v.out_x = tangent(r);
            v.out_y = tangent(r);
        }
        px = v.x;
        py = v.y;
        shape.vertices.push_back(v);
    }
    return shape;
}

bool percent_is_edge(A_long fixed) {
    const double fraction = static_cast<double>(fixed) / 65536.0 * 0.01;
    return fraction == 0.0 || fraction == 1.0;
}

// The whole run: host, scene and what the checks need to know of it.
struct Run {
    std::unique_ptr<Host> host;
    std::set<PF_Err> allowed;
    bool any_fault = false;
    bool give_back_fault = false;
    // Codes the fault schedule makes the host return, and whether it makes
    // the output's copy or fill fail (so the background is not the host's).
    std::set<PF_Err> injected;
    bool background_faulted = false;
    bool params_declared = false;
    // What the books may show without the effect being at fault.
    std::vector<std::string> tolerated;

    std::shared_ptr<World> input;
    std::shared_ptr<World> output;
    std::shared_ptr<World> layer;
    bool format_refused = false;
    bool worlds_mismatched = false;
    A_long short_input_rowbytes = -1;  // >= 0: the input's pitch is cut to this for frames
    bool layer_depth_differs = false;
    // A row pitch that is not whole pixels: refusing it and rendering with
    // the pitch rounded down are both sound.
    bool fractional_pitch = false;
    int mask_count = 0;
    A_long path_value = 0;

    // Last values given to the parameters the checks read.
    A_long time_value = 0x320000;
    A_long on_original = 0;

    std::string describe_code(PF_Err err) const { return std::to_string(err); }

    void check_code(const char* what, PF_Err err) const {
        if (allowed.count(err) == 0 && !(err == PF_Err_INVALID_INDEX && !params_declared)) {
            fail(kName, std::string(what) + " returned " + describe_code(err) +
                            ", which is neither the effect's own code nor one the host was told to return");
        }
    }

    void check_books(const char* after) const {
        std::string why;
        if (give_back_fault) {
            if (!host->ledger().suites_held().empty()) {
                host->balanced(&why);
                fail(kName, std::string("suites still held after ") + after + ": " + why);
            }
            return;
        }
        if (host->balanced(&why)) {
            return;
        }
        std::vector<std::string> reasons;
        for (std::size_t at = 0; at <= why.size();) {
            const std::size_t end = std::min(why.find("; ", at), why.size());
            reasons.push_back(why.substr(at, end - at));
            at = end + 2;
        }
        for (const std::string& excused : tolerated) {
            const auto it = std::find(reasons.begin(), reasons.end(), excused);
            if (it != reasons.end()) {
                reasons.erase(it);
            }
        }
        if (!reasons.empty()) {
            fail(kName, std::string("ledgers do not balance after ") + after + ": " + why);
        }
    }

    // A set-down that failed (its suite refused) could not dispose of the
    // sequence block, and says so; the block is then the host's loss, not a
    // leak the effect hid.
    PF_Err sequence_setdown() {
        const PF_Handle block = host->in_data().sequence_data;
        const std::size_t bytes = host->handle_size(block);
        const PF_Err err = host->sequence_setdown();
        if (err != PF_Err_NONE && block != nullptr && host->handle_alive(block)) {
            tolerated.push_back("handle of " + std::to_string(bytes) + " bytes alive");
        }
        return err;
    }

    void check_guards(const char* after) const {
        std::string report;
        if (!host->guards_intact(&report)) {
            fail(kName, std::string("guard bytes broken after ") + after + ": " + report);
        }
    }
};

void read_faults(ByteReader& r, Run& run) {
    const int count = r.u8() % (kMaxFaults + 1);
    standalone::Faults& faults = run.host->faults();
    for (int i = 0; i < count; ++i) {
        const std::uint8_t kind = r.u8() % 5;
        // Events counted from 1; the first kinds only ever see a few.
        const long from = 1 + static_cast<long>(r.u16() % 4096);
        const long early = 1 + (from - 1) % 16;
        const long span = r.flag() ? -1 : 1 + r.u8() % 4;
        switch (kind) {
        case 0: {
            const SuiteId& suite = r.pick(kSuites);
            faults.refuse_suite(suite.name, suite.version, early, span);
            trace("fault: refuse \"%s\" %d from the %ld. request, %ld time(s)", suite.name, suite.version, early,
                  span);
            break;
        }
        case 1:
            faults.fail_allocation(early, span < 0 ? 1 : span);
            trace("fault: allocation %ld fails, %ld time(s)", early, span < 0 ? 1 : span);
            break;
        case 2:
            faults.fail_lock(early, span < 0 ? 1 : span);
            trace("fault: lock %ld fails, %ld time(s)", early, span < 0 ? 1 : span);
            break;
        case 3: {
            const std::size_t which = r.u8() % (sizeof kFailingCalls / sizeof kFailingCalls[0]);
            const PF_Err code = r.pick(kInjectedCodes);
            const FaultTarget target = kFailingCalls[which];
            faults.fail_callback(target, code, from, span);
            run.injected.insert(code);
            run.background_faulted =
                run.background_faulted || target == FaultTarget::copy || target == FaultTarget::fill;
            const std::string name(standalone::fault_target_name(target));
            trace("fault: %s returns %d from the %ld. call, %ld time(s)", name.c_str(), code, from, span);
            run.allowed.insert(code);
            if (which >= kFirstGiveBack) {
                run.give_back_fault = true;
            }
            break;
        }
        default: {
            const auto index = static_cast<PF_ParamIndex>(r.u8() % 13);
            const PF_Err code = r.pick(kInjectedCodes);
            faults.fail_checkout_param(index, code, early, span);
            run.injected.insert(code);
            trace("fault: checkout of parameter %d returns %d from the %ld. call, %ld time(s)", index, code, early,
                  span);
            run.allowed.insert(code);
            break;
        }
        }
        run.any_fault = true;
    }
}

void read_scene(ByteReader& r, Run& run) {
    Host& host = *run.host;

    // Input.
    const std::uint8_t format_tag = r.u8();
    const PF_PixelFormat format = kFormats[format_tag % 3];
    const A_long width = side(r);
    const A_long height = side(r);
    run.input = make_world(width, height, format, r.u8() % 4);
    paint(*run.input, r.u64(), r.u8() % 4);
    if (format_tag >= 0xE0) {
        run.input->report_format(r.pick(kRefusedFormats));
        run.format_refused = true;
    }
    host.set_input(run.input);

    // Output: like the input (any padding), too narrow, of another height, or
    // matching while the input's own pitch is too short for its width.
    const std::uint8_t output_tag = r.u8() % 16;
    if (output_tag == 13 && width > 0) {
        run.output = make_world(static_cast<A_long>(r.in_range(0, width - 1)), height, format, 0);
        run.worlds_mismatched = true;
    } else if (output_tag == 14) {
        A_long other = side(r);
        if (other == height) {
            other = height == 0 ? 1 : height - 1;
        }
        run.output = make_world(width, other, format, r.u8() % 4);
        run.worlds_mismatched = true;
    } else {
        run.output = make_world(width, height, format, r.u8() % 4);
        if (output_tag == 15 && width > 0) {
            run.short_input_rowbytes = (width - 1) * static_cast<A_long>(run.input->pixel_size());
            run.worlds_mismatched = true;
        }
    }
    paint(*run.output, r.u64(), 2);
    host.set_output(run.output);
    run.fractional_pitch = run.input->rowbytes() % static_cast<A_long>(run.input->pixel_size()) != 0 ||
                           run.output->rowbytes() % static_cast<A_long>(run.output->pixel_size()) != 0;

    // Layer.
    const std::uint8_t layer_tag = r.u8();
    A_long lw = 0, lh = 0;
    switch (layer_tag % 8) {
    case 0: break;
    case 1: lw = 1; lh = 1; break;
    case 2: lw = kMaxSide; lh = 1; break;
    case 3: lw = 1; lh = kMaxSide; break;
    case 4: lw = 0; lh = side(r); break;
    case 5: lw = side(r); lh = 0; break;
    default: lw = side(r); lh = side(r); break;
    }
    if (layer_tag % 8 != 0) {
        PF_PixelFormat layer_format = format;
        if (layer_tag >= 0xF0) {
            layer_format = kFormats[r.u8() % 3];
            run.layer_depth_differs = layer_format != format;
        }
        run.layer = make_world(lw, lh, layer_format, r.u8() % 4);
        paint(*run.layer, r.u64(), r.u8() % 4);
    }

    // Masks.
    run.mask_count = r.u8() % (kMaxMasks + 1);
    for (int i = 0; i < run.mask_count; ++i) {
        const MaskShape shape = read_mask(r);
        trace("mask %d: %zu vertices, %s", i + 1, shape.vertices.size(), shape.closed ? "closed" : "open");
        for (const MaskVertex& v : shape.vertices) {
            trace("  (%g, %g) in (%g, %g) out (%g, %g)", v.x, v.y, v.in_x, v.in_y, v.out_x, v.out_y);
        }
        host.add_mask(shape);
    }
    trace("input %dx%d format 0x%x (reported 0x%x) rowbytes %d; output %dx%d rowbytes %d%s; layer %s",
          run.input->width(), run.input->height(), static_cast<unsigned>(run.input->format()),
          static_cast<unsigned>(run.input->reported_format()), run.input->rowbytes(), run.output->width(),
          run.output->height(), run.output->rowbytes(),
          run.short_input_rowbytes >= 0 ? " (input pitch cut short)" : "",
          run.layer == nullptr ? "none"
                               : (std::to_string(run.layer->width()) + "x" + std::to_string(run.layer->height()) +
                                  " format " + std::to_string(run.layer->format())).c_str());
}

void trace_params(const Run& run) {
    if (!tracing()) {
        return;
    }
    std::string text = "params:";
    for (PF_ParamIndex index = kPath; index <= kOnOriginal; ++index) {
        PF_ParamDef def{};
        if (index != kLayer && run.host->param_value(index, &def) == PF_Err_NONE) {
            text += " " + std::to_string(index) + "=" + std::to_string(def.u.sd.value);
        }
    }
    trace("%s", text.c_str());
}

void set_params(ByteReader& r, Run& run) {
    Host& host = *run.host;
    const std::uint8_t path_tag = r.u8() % 4;
    run.path_value = path_tag == 3 ? kUnknownPath : path_tag;
    host.set_path_param(kPath, run.path_value);
    host.set_layer_param(kLayer, run.layer);
    host.set_param(kMode, value(r, kModes));
    run.time_value = value(r, kPercents);
    host.set_param(kTime, run.time_value);
    host.set_param(kMaxWidth, value(r, kMaxWidths));
    host.set_param(kMinWidth, value(r, kMinWidths));
    host.set_param(kVarious, value(r, kChecks));
    host.set_param(kBlend, value(r, kBlends));
    host.set_param(kOpacity, value(r, kOpacities));
    host.set_param(kSeed, value(r, kSeeds));
    run.on_original = value(r, kChecks);
    host.set_param(kOnOriginal, run.on_original);
    trace_params(run);
}

void change_param(ByteReader& r, Run& run) {
    Host& host = *run.host;
    switch (r.u8() % 11) {
    case 0: run.path_value = r.u8() % 4; run.path_value = run.path_value == 3 ? kUnknownPath : run.path_value;
            host.set_path_param(kPath, run.path_value); break;
    case 1: host.set_layer_param(kLayer, r.flag() ? run.layer : nullptr); break;
    case 2: host.set_param(kMode, value(r, kModes)); break;
    case 3: run.time_value = value(r, kPercents); host.set_param(kTime, run.time_value); break;
    case 4: host.set_param(kMaxWidth, value(r, kMaxWidths)); break;
    case 5: host.set_param(kMinWidth, value(r, kMinWidths)); break;
    case 6: host.set_param(kVarious, value(r, kChecks)); break;
    case 7: host.set_param(kBlend, value(r, kBlends)); break;
    case 8: host.set_param(kOpacity, value(r, kOpacities)); break;
    case 9: host.set_param(kSeed, value(r, kSeeds)); break;
    default: run.on_original = value(r, kChecks); host.set_param(kOnOriginal, run.on_original); break;
    }
    trace_params(run);
}

bool layer_present(const Run& run) {
    PF_ParamDef def{};
    return run.host->param_value(kLayer, &def) == PF_Err_NONE && def.u.ld.data != nullptr;
}

bool path_known(const Run& run) {
    return run.path_value == 0 || (run.path_value >= 1 && run.path_value <= run.mask_count);
}

// The output's pixels equal the input's (a copy) or are all zero (the fill).
bool output_is_background(const Run& run) {
    const World& in = *run.input;
    const World& out = *run.output;
    const std::size_t row = static_cast<std::size_t>(in.width()) * in.pixel_size();
    for (A_long y = 0; y < in.height(); ++y) {
        if (run.on_original != 0) {
            if (std::memcmp(in.row(y), out.row(y), row) != 0) {
                return false;
            }
        } else if (std::any_of(out.row(y), out.row(y) + row, [](std::uint8_t b) { return b != 0; })) {
            return false;
        }
    }
    return true;
}

void check_progress(const Run& run) {
    const auto& calls = run.host->progress_calls();
    A_long last = 0;
    for (const auto& [current, total] : calls) {
        if (current <= last || current > total || total != calls.front().second) {
            fail(kName, "progress reports out of order: " + std::to_string(current) + " of " +
                            std::to_string(total) + " after " + std::to_string(last));
        }
        last = current;
    }
    if (run.host->abort_calls() > 1) {
        fail(kName, "abort asked " + std::to_string(run.host->abort_calls()) + " times in one frame");
    }
}

void frame(ByteReader& r, Run& run) {
    Host& host = *run.host;
    RenderOptions options;
    options.downsample_x = r.pick(kDownsamples);
    options.downsample_y = r.pick(kDownsamples);
    const std::uint8_t tag = r.u8();
    if ((tag & 1) != 0) {
        PF_RenderRequest request{};
        request.rect = PF_LRect{r.u8() % 80 - 8, r.u8() % 80 - 8, r.u8() % 80 - 8, r.u8() % 80 - 8};
        request.field = r.u8() % 3;
        request.channel_mask = r.u8() % 16;
        options.request = request;
    }
    if ((tag & 2) != 0) {
        options.preset_result_rect = PF_LRect{r.u8() % 80 - 8, r.u8() % 80 - 8, r.u8() % 80 - 8, r.u8() % 80 - 8};
        options.preset_max_result_rect = options.preset_result_rect;
    }
    options.pre_render_only = (tag & 0x1C) == 0x1C;

    const std::uint64_t before = run.output->pixel_hash();
    host.clear_progress();
    RenderResult result;
    const A_long rowbytes = run.input->def()->rowbytes;
    if (run.short_input_rowbytes >= 0) {
        run.input->def()->rowbytes = run.short_input_rowbytes;
    }
    const PF_Err pre_err = host.pre_render(options, &result);
    if (!options.pre_render_only && pre_err == PF_Err_NONE) {
        host.smart_render(&result);
    }
    run.input->def()->rowbytes = rowbytes;
    if (!options.pre_render_only) {
        host.end_frame(&result);
    } else if (run.short_input_rowbytes >= 0) {
        // The host checked the guards against the cut pitch; check them again.
        result.guards_intact = host.guards_intact(&result.guard_report);
    }

    trace("frame: downsample %d/%u, pre-render %d, %s %d, %zu progress report(s)%s", options.downsample_x.num,
          options.downsample_x.den, result.pre_render_err, result.rendered ? "render" : "no render",
          result.render_err, host.progress_calls().size(), options.pre_render_only ? " (pre-render only)" : "");
    run.check_code("pre-render", result.pre_render_err);
    if (result.rendered) {
        run.check_code("render", result.render_err);
    }
    if (!result.guards_intact) {
        fail(kName, "guard bytes broken by a frame: " + result.guard_report);
    }
    run.check_guards("a frame");
    run.check_books("a frame");
    check_progress(run);

    if (!result.rendered) {
        return;
    }
    const bool untouched = run.output->pixel_hash() == before;
    if (run.format_refused) {
        if (result.render_err != PF_Err_BAD_CALLBACK_PARAM || !untouched) {
            fail(kName, "an unsupported pixel format gave " + std::to_string(result.render_err) +
                            (untouched ? "" : " and the output was written"));
        }
        return;
    }
    if (run.worlds_mismatched) {
        if ((result.render_err != 255 && result.render_err != PF_Err_BAD_CALLBACK_PARAM) || !untouched) {
            fail(kName, "mismatched worlds gave " + std::to_string(result.render_err) +
                            (untouched ? "" : " and the output was written"));
        }
        return;
    }
    // The id map could not be had: the message is shown and the output is
    // the background alone.
    if (result.render_err == PF_Err_INTERNAL_STRUCT_DAMAGED && run.injected.count(PF_Err_INTERNAL_STRUCT_DAMAGED) == 0 &&
        !run.background_faulted && !run.fractional_pitch) {
        if (result.return_msg != "Memory Error!" || (result.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) == 0 ||
            !output_is_background(run)) {
            fail(kName, "a render that ran out of memory left message \"" + result.return_msg +
                            "\", flags " + std::to_string(result.out_flags) + ", and " +
                            (output_is_background(run) ? "the background" : "strokes or no background"));
        }
    }
    if (run.any_fault || !run.params_declared || !path_known(run) || run.layer_depth_differs ||
        run.fractional_pitch) {
        return;
    }
    // Nothing goes wrong on the host's side: the frame must succeed.
    if (result.pre_render_err != PF_Err_NONE || result.render_err != PF_Err_NONE) {
        fail(kName, "a frame without any failure on the host's side gave " + std::to_string(result.pre_render_err) +
                        " / " + std::to_string(result.render_err) + " (" + result.return_msg + ")");
    }
    const bool no_strokes = run.path_value == 0 || percent_is_edge(run.time_value) || !layer_present(run);
    if (no_strokes && !output_is_background(run)) {
        fail(kName, std::string("a frame with no stroke to draw left other than the ") +
                        (run.on_original != 0 ? "copied input" : "transparent fill"));
    }
}

void unknown_command(ByteReader& r, Run& run) {
    Host& host = *run.host;
    PF_Cmd cmd = r.pick(kUnhandled);
    if (r.flag()) {
        const auto raw = static_cast<PF_Cmd>(r.u32());
        if (static_cast<std::uint32_t>(raw) > PF_Cmd_SMART_RENDER) {
            cmd = raw;
        }
    }
    host.prepare_call();
    std::memset(&host.out_data(), 0x5A, sizeof(PF_OutData));
    host.out_data().global_data = nullptr;
    host.out_data().sequence_data = nullptr;
    host.out_data().frame_data = nullptr;
    unsigned char out_before[sizeof(PF_OutData)];
    std::memcpy(out_before, &host.out_data(), sizeof out_before);
    char extra[16] = "untouched";
    const PF_Err err = host.call(cmd, extra);
    trace("unhandled command %d: %d", cmd, err);
    if (err != PF_Err_NONE || std::memcmp(&host.out_data(), out_before, sizeof out_before) != 0 ||
        std::strcmp(extra, "untouched") != 0) {
        fail(kName, "command " + std::to_string(cmd) + " without a handler answered " + std::to_string(err) +
                        " or touched its records");
    }
}

void command(ByteReader& r, Run& run) {
    Host& host = *run.host;
    const std::uint8_t op = r.u8() % 16;
    PF_Err err = PF_Err_NONE;
    const char* what = "a command";
    switch (op) {
    case 0:
    case 1:
    case 15:
        frame(r, run);
        return;
    case 2:
        what = "update params UI";
        err = host.update_params_ui();
        break;
    case 3:
        what = "user changed param";
        err = host.user_changed_param(static_cast<PF_ParamIndex>(r.u8() % 14) - 1);
        break;
    case 4: {
        what = "about";
        std::string message;
        err = host.about(&message);
        if (err == PF_Err_NONE && message != "NorvexLattice, v1.0\rRivuzovezod!") {
            fail(kName, "about gave \"" + message + "\"");
        }
        break;
    }
    case 5: {
        what = "completely general";
        const std::string text = r.text(kMaxGeneralText);
        std::string message;
        err = host.completely_general(text.c_str(), &message);
        if (err == PF_Err_NONE && std::string(text.c_str()).compare(0, message.size(), message) != 0) {
            fail(kName, "the general command did not echo its text: \"" + message + "\"");
        }
        break;
    }
    case 6:
        unknown_command(r, run);
        break;
    case 7:
        what = "sequence set-up";
        err = host.sequence_setup();
        break;
    case 8:
        what = "sequence re-set-up";
        err = host.sequence_resetup();
        break;
    case 9:
        what = "sequence set-down";
        err = run.sequence_setdown();
        break;
    case 10:
        // The application sets up a loaded effect once.
        if (host.in_data().global_data == nullptr) {
            what = "global set-up";
            err = host.global_setup();
        }
        break;
    case 11:
        // A set-up that failed part-way is forgotten before it is tried again.
        what = "params set-up";
        host.params().clear_declarations();
        err = host.params_setup();
        run.params_declared = err == PF_Err_NONE && host.params().count() == kDeclaredParams;
        break;
    case 12:
        change_param(r, run);
        return;
    case 13:
        host.set_time(static_cast<A_long>(r.u8() % 8) - 1, r.flag() ? 1 : static_cast<A_long>(r.u8() % 3) - 1, 24);
        return;
    default:
        what = "global set-down";
        err = host.global_setdown();
        break;
    }
    trace("%s: %d", what, err);
    run.check_code(what, err);
    run.check_guards(what);
    run.check_books(what);
}

}  // namespace

int fuzz_one(const std::uint8_t* data, std::size_t size) {
    static const std::shared_ptr<standalone::Module> module =
        standalone::Module::from_entry(EntryPointFunc, "NorvexTrellis (linked)");

    ByteReader r(data, size);
    Run run;
    run.host = std::make_unique<Host>(module);
    run.host->log().set_enabled(false);
    run.allowed.insert(std::begin(kEffectCodes), std::end(kEffectCodes));

    const std::uint8_t lifecycle = r.u8();
    read_faults(r, run);
    read_scene(r, run);

    // Most runs start as the application does; the rest begin anywhere.
    if ((lifecycle & 3) != 0) {
        Host& host = *run.host;
        PF_Err err = host.global_setup();
        trace("global set-up: %d", err);
        run.check_code("global set-up", err);
        if (err == PF_Err_NONE) {
            err = host.params_setup();
            trace("params set-up: %d", err);
            run.check_code("params set-up", err);
            run.params_declared = err == PF_Err_NONE && host.params().count() == kDeclaredParams;
        }
        if (err == PF_Err_NONE) {
            err = host.sequence_setup();
            trace("sequence set-up: %d", err);
            run.check_code("sequence set-up", err);
        }
        run.check_books("set-up");
    }
    set_params(r, run);

    const int ops = 1 + r.u8() % kMaxOps;
    for (int i = 0; i < ops; ++i) {
        command(r, run);
    }

    run.host->end_frame();
    const PF_Err err = run.sequence_setdown();
    trace("final sequence set-down: %d", err);
    run.check_code("sequence set-down", err);
    run.check_guards("the end");
    run.check_books("the end");
    return 0;
}

}  // namespace trellis_fuzz::effect
