// Ownership of FFmpeg's objects and its error text, shared by the movie
// reader and writer.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

#include "footage/image_io.h"

namespace cli::ff {

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

using CodecContext = std::unique_ptr<AVCodecContext, CodecContextFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;
using Sws = std::unique_ptr<SwsContext, SwsFree>;

inline std::string error_text(int err) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    return text;
}

inline Frame make_frame() {
    Frame f(av_frame_alloc());
    if (!f) throw std::bad_alloc();
    return f;
}

inline Packet make_packet() {
    Packet p(av_packet_alloc());
    if (!p) throw std::bad_alloc();
    return p;
}

// Quiet unless asked: the reader and writer report through ImageError.
inline void quiet_logging() {
    if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_FATAL);
}

}  // namespace cli::ff
