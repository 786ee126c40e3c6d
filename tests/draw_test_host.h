// A small recording host for the painter and drawing tests: the sampling
// suites (every call logged with its block; a chosen call can fail), the ANSI
// floor and ceil, progress (logged; a chosen report can fail), and frames and
// a Layer definition built by hand. One DrawTestHost is live at a time.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <iomanip>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/ae_sdk.h"
#include "render/pre_render.h"
#include "render/render_context.h"
#include "strokes/stroke_list.h"

inline bool operator==(const PF_Pixel8& l, const PF_Pixel8& r) {
    return l.alpha == r.alpha && l.red == r.red && l.green == r.green && l.blue == r.blue;
}
inline bool operator==(const PF_Pixel16& l, const PF_Pixel16& r) {
    return l.alpha == r.alpha && l.red == r.red && l.green == r.green && l.blue == r.blue;
}
inline bool operator==(const PF_PixelFloat& l, const PF_PixelFloat& r) {
    return l.alpha == r.alpha && l.red == r.red && l.green == r.green && l.blue == r.blue;
}
template <typename Pixel>
void print_test_pixel(const Pixel& p, std::ostream* os) {
    *os << std::setprecision(9) << '(' << +p.alpha << ',' << +p.red << ',' << +p.green << ',' << +p.blue << ')';
}
inline void PrintTo(const PF_Pixel8& p, std::ostream* os) { print_test_pixel(p, os); }
inline void PrintTo(const PF_Pixel16& p, std::ostream* os) { print_test_pixel(p, os); }
inline void PrintTo(const PF_PixelFloat& p, std::ostream* os) { print_test_pixel(p, os); }

struct SampleCall {
    PF_Fixed x;
    PF_Fixed y;
    PF_SampPB block;
};

// A frame of one depth with optional row padding; padding pixels hold a
// sentinel so stray writes show.
template <typename Pixel>
struct TestFrame {
    A_long width;
    A_long height;
    A_long row_pixels;
    std::vector<Pixel> pixels;

    TestFrame(A_long w, A_long h, A_long padding, Pixel fill, Pixel sentinel)
        : width(w), height(h), row_pixels(w + padding),
          pixels(static_cast<std::size_t>((w + padding) * (h > 0 ? h : 0)), sentinel) {
        for (A_long y = 0; y < h; ++y)
            for (A_long x = 0; x < w; ++x) at(x, y) = fill;
    }
    Pixel& at(A_long x, A_long y) { return pixels[static_cast<std::size_t>(y * row_pixels + x)]; }
    const Pixel& at(A_long x, A_long y) const { return pixels[static_cast<std::size_t>(y * row_pixels + x)]; }
};

class DrawTestHost {
public:
    DrawTestHost() {
        current() = this;
        basic_.AcquireSuite = &acquire;
        basic_.ReleaseSuite = &release;
        utils_.ansi.floor = &ansi_floor;
        utils_.ansi.ceil = &ansi_ceil;
        s8_.area_sample = &area8;
        s16_.area_sample16 = &area16;
        sf_.area_sample_float = &area_float;
        in_data_.inter.progress = &progress_cb;
        in_data_.utils = &utils_;
        in_data_.effect_ref = reinterpret_cast<PF_ProgPtr>(&effect_ref_target_);
        in_data_.pica_basicP = &basic_;
    }
    ~DrawTestHost() {
        EXPECT_EQ(acquired_, released_) << "sampling suites acquired and released";
        current() = nullptr;
    }
    DrawTestHost(const DrawTestHost&) = delete;
    DrawTestHost& operator=(const DrawTestHost&) = delete;

    PF_InData* in_data() { return &in_data_; }
    PF_OutData* out_data() { return &out_data_; }
    SPBasicSuite* basic() { return &basic_; }

    // What the sampler writes; default an opaque white.
    std::function<PF_Pixel8(PF_Fixed, PF_Fixed)> value8 = [](PF_Fixed, PF_Fixed) { return PF_Pixel8{255, 255, 255, 255}; };
    std::function<PF_Pixel16(PF_Fixed, PF_Fixed)> value16 = [](PF_Fixed, PF_Fixed) {
        return PF_Pixel16{32768, 32768, 32768, 32768};
    };
    std::function<PF_PixelFloat(PF_Fixed, PF_Fixed)> value_float = [](PF_Fixed, PF_Fixed) {
        return PF_PixelFloat{1, 1, 1, 1};
    };

    // The nth sampling call (1-based) and every later one fail with `code`
    // after scribbling over the destination.
    void fail_sampling_from(long nth, PF_Err code) {
        fail_sample_from_ = nth;
        sample_err_ = code;
    }
    // The nth progress report (1-based) fails with `code`.
    void fail_progress_at(long nth, PF_Err code) {
        fail_progress_at_ = nth;
        progress_err_ = code;
    }
    void refuse_suite(const std::string& name) { refused_.insert(name); }

    const std::vector<SampleCall>& samples() const { return samples_; }
    const std::vector<std::pair<A_long, A_long>>& progress() const { return progress_; }
    long ceil_calls() const { return ceil_calls_; }
    long floor_calls() const { return floor_calls_; }
    void clear_log() {
        samples_.clear();
        progress_.clear();
    }

private:
    static DrawTestHost*& current() {
        static DrawTestHost* host = nullptr;
        return host;
    }
    static SPErr PF_CALL acquire(const char* name, A_long version, const void** suite) {
        DrawTestHost& h = *current();
        if (version != 1 || h.refused_.count(name) != 0) return 1;
        if (std::strcmp(name, kPFSampling8Suite) == 0) {
            *suite = &h.s8_;
        } else if (std::strcmp(name, kPFSampling16Suite) == 0) {
            *suite = &h.s16_;
        } else if (std::strcmp(name, kPFSamplingFloatSuite) == 0) {
            *suite = &h.sf_;
        } else {
            return 1;
        }
        ++h.acquired_;
        return 0;
    }
    static SPErr PF_CALL release(const char*, A_long) {
        ++current()->released_;
        return 0;
    }
    static PF_FpLong PF_CALL ansi_floor(PF_FpLong v) {
        ++current()->floor_calls_;
        return std::floor(v);
    }
    static PF_FpLong PF_CALL ansi_ceil(PF_FpLong v) {
        ++current()->ceil_calls_;
        return std::ceil(v);
    }
    template <typename Pixel>
    static PF_Err sample(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* pb, Pixel* dst,
                         const std::function<Pixel(PF_Fixed, PF_Fixed)>& value) {
        DrawTestHost& h = *current();
        EXPECT_EQ(ref, h.in_data_.effect_ref);
        h.samples_.push_back({x, y, *pb});
        if (h.fail_sample_from_ > 0 && static_cast<long>(h.samples_.size()) >= h.fail_sample_from_) {
            std::memset(static_cast<void*>(dst), 0x5A, sizeof(Pixel));
            return h.sample_err_;
        }
        *dst = value(x, y);
        return PF_Err_NONE;
    }
    static PF_Err PF_CALL area8(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* pb, PF_Pixel8* dst) {
        return sample(ref, x, y, pb, dst, current()->value8);
    }
    static PF_Err PF_CALL area16(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* pb, PF_Pixel16* dst) {
        return sample(ref, x, y, pb, dst, current()->value16);
    }
    static PF_Err PF_CALL area_float(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* pb,
                                     PF_PixelFloat* dst) {
        return sample(ref, x, y, pb, dst, current()->value_float);
    }
    static PF_Err PF_CALL progress_cb(PF_ProgPtr ref, A_long count, A_long total) {
        DrawTestHost& h = *current();
        EXPECT_EQ(ref, h.in_data_.effect_ref);
        h.progress_.emplace_back(count, total);
        return static_cast<long>(h.progress_.size()) == h.fail_progress_at_ ? h.progress_err_ : PF_Err_NONE;
    }

    int effect_ref_target_ = 0;
    PF_InData in_data_{};
    PF_OutData out_data_{};
    PF_UtilCallbacks utils_{};
    SPBasicSuite basic_{};
    PF_Sampling8Suite1 s8_{};
    PF_Sampling16Suite1 s16_{};
    PF_SamplingFloatSuite1 sf_{};
    std::vector<SampleCall> samples_;
    std::vector<std::pair<A_long, A_long>> progress_;
    long fail_sample_from_ = 0;
    PF_Err sample_err_ = PF_Err_NONE;
    long fail_progress_at_ = 0;
    PF_Err progress_err_ = PF_Err_NONE;
    std::set<std::string> refused_;
    long acquired_ = 0;
    long released_ = 0;
    long ceil_calls_ = 0;
    long floor_calls_ = 0;
};

// The Layer parameter as the driver holds it: only the world's size matters
// to drawing (the sampler is the host's).
inline PF_ParamDef layer_param_of(A_long width, A_long height) {
    static char dummy_pixel[16];
    PF_ParamDef def{};
    def.param_type = PF_Param_LAYER;
    def.u.ld.width = width;
    def.u.ld.height = height;
    def.u.ld.rowbytes = width * 4;
    def.u.ld.data = dummy_pixel;
    return def;
}

inline PreRenderInfo draw_info(A_long mode, double time_fraction, A_long blend_mode, double opacity) {
    PreRenderInfo info{};
    info.mode = mode;
    info.time_fraction = time_fraction;
    info.blend_mode = blend_mode;
    info.opacity = opacity;
    return info;
}

// A render context over an input and an output frame of one depth.
inline RenderContext context_for(DrawTestHost& host, TestFrame<PF_Pixel8>& in, TestFrame<PF_Pixel8>& out) {
    RenderContext ctx{};
    ctx.in_data = host.in_data();
    ctx.out_data = host.out_data();
    ctx.in_pixels8 = in.pixels.data();
    ctx.out_pixels8 = out.pixels.data();
    ctx.width = in.width;
    ctx.height = in.height;
    ctx.in_row_pixels = in.row_pixels;
    ctx.out_row_pixels = out.row_pixels;
    ctx.depth = DEPTH_8;
    return ctx;
}
inline RenderContext context_for(DrawTestHost& host, TestFrame<PF_Pixel16>& in, TestFrame<PF_Pixel16>& out) {
    RenderContext ctx{};
    ctx.in_data = host.in_data();
    ctx.out_data = host.out_data();
    ctx.in_pixels16 = in.pixels.data();
    ctx.out_pixels16 = out.pixels.data();
    ctx.width = in.width;
    ctx.height = in.height;
    ctx.in_row_pixels = in.row_pixels;
    ctx.out_row_pixels = out.row_pixels;
    ctx.depth = DEPTH_16;
    return ctx;
}
inline RenderContext context_for(DrawTestHost& host, TestFrame<PF_PixelFloat>& in, TestFrame<PF_PixelFloat>& out) {
    RenderContext ctx{};
    ctx.in_data = host.in_data();
    ctx.out_data = host.out_data();
    ctx.in_pixels_float = in.pixels.data();
    ctx.out_pixels_float = out.pixels.data();
    ctx.width = in.width;
    ctx.height = in.height;
    ctx.in_row_pixels = in.row_pixels;
    ctx.out_row_pixels = out.row_pixels;
    ctx.depth = DEPTH_FLOAT;
    return ctx;
}
