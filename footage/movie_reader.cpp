#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "footage/ffmpeg_support.h"
#include "footage/movie_io.h"

namespace cli {

namespace {

constexpr int kAvioBufferSize = 1 << 16;

// Where each frame is and where decoding it starts, from one pass over the
// stream's packets; shared by every reader of the movie.
struct FrameIndex {
    // Presentation timestamps of the frames, in presentation order.
    std::vector<int64_t> frame_ts;
    // Per frame: the packet (in decode order) that decoding it starts from,
    // a key frame, and its own packet.
    std::vector<int> frame_start;
    std::vector<int> frame_packet;
    // Per packet in decode order: its timestamp (pts, else dts) and the one to
    // seek by (dts, else pts).
    std::vector<int64_t> packet_ts;
    std::vector<int64_t> packet_seek_ts;
    std::unordered_map<int64_t, int> packet_of_ts;
    // False when timestamps are missing or repeat: frames are then counted as
    // the decoder gives them, from the start.
    bool timed = true;
};

int64_t packet_timestamp(const AVPacket& p) { return p.pts != AV_NOPTS_VALUE ? p.pts : p.dts; }

int64_t frame_timestamp(const AVFrame& f) { return f.pts != AV_NOPTS_VALUE ? f.pts : f.best_effort_timestamp; }

bool full_range(const AVFrame& f) {
    switch (f.format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P: return true;
    default: return f.color_range == AVCOL_RANGE_JPEG;
    }
}

// A memory source for libavformat.
struct MemoryCursor {
    std::shared_ptr<const std::string> bytes;
    int64_t pos = 0;
};

int memory_read(void* opaque, uint8_t* buf, int size) {
    auto* c = static_cast<MemoryCursor*>(opaque);
    const int64_t left = static_cast<int64_t>(c->bytes->size()) - c->pos;
    if (left <= 0) return AVERROR_EOF;
    const int n = static_cast<int>(std::min<int64_t>(left, size));
    std::memcpy(buf, c->bytes->data() + c->pos, static_cast<std::size_t>(n));
    c->pos += n;
    return n;
}

int64_t memory_seek(void* opaque, int64_t offset, int whence) {
    auto* c = static_cast<MemoryCursor*>(opaque);
    const auto size = static_cast<int64_t>(c->bytes->size());
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return size;
    case SEEK_SET: break;
    case SEEK_CUR: offset += c->pos; break;
    case SEEK_END: offset += size; break;
    default: return AVERROR(EINVAL);
    }
    if (offset < 0 || offset > size) return AVERROR(EINVAL);
    c->pos = offset;
    return offset;
}

// What converting frames keeps from one to the next: the converter (a third
// of a millisecond to make) and the converted rows (fresh pages otherwise).
struct Converter {
    ff::Sws sws;
    std::unique_ptr<uint8_t[]> rgb;
    std::size_t rgb_size = 0;
};

// Decoded frame `n` as straight ARGB at the movie's depth.
Image convert_frame(const AVFrame& f, int64_t n, const MovieInfo& info, const std::string& name, Converter& c) {
    ff::Sws& sws = c.sws;
    const auto error = [&](const std::string& what) { return ImageError(name + ": " + what); };
    if (f.width != info.width || f.height != info.height) {
        throw error("frame " + std::to_string(n) + " is " + std::to_string(f.width) + "x" + std::to_string(f.height) +
                    ", the movie " + std::to_string(info.width) + "x" + std::to_string(info.height));
    }
    const auto src_format = static_cast<AVPixelFormat>(f.format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(src_format);
    if (!desc || (desc->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM)) != 0) {
        throw error("frame " + std::to_string(n) + " has an unsupported pixel format");
    }
    const bool deep = info.depth == Image::k16;
    const AVPixelFormat dst_format = deep ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_ARGB;
    sws.reset(sws_getCachedContext(sws.release(), f.width, f.height, src_format, f.width, f.height, dst_format,
                                   SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_BITEXACT, nullptr,
                                   nullptr, nullptr));
    if (!sws) throw error(std::string("cannot convert frames from ") + desc->name);
    if ((desc->flags & AV_PIX_FMT_FLAG_RGB) == 0 && desc->nb_components >= 3) {
        int space = f.colorspace;
        if (space == AVCOL_SPC_UNSPECIFIED || space == AVCOL_SPC_RESERVED || space == AVCOL_SPC_RGB) {
            space = f.width >= 1280 || f.height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
        }
        sws_setColorspaceDetails(sws.get(), sws_getCoefficients(space), full_range(f) ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    }
    const int pixel = deep ? 8 : 4;
    const int stride = FFALIGN(f.width * pixel, 64);
    // Some slack past the last row, as vector code may store a little beyond.
    const std::size_t rgb_size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(f.height) + 64;
    if (c.rgb_size < rgb_size) {
        // Every byte is written by the conversion.
        c.rgb = std::make_unique_for_overwrite<uint8_t[]>(rgb_size);
        c.rgb_size = rgb_size;
    }
    uint8_t* planes[4] = {c.rgb.get(), nullptr, nullptr, nullptr};
    int strides[4] = {stride, 0, 0, 0};
    sws_scale(sws.get(), f.data, f.linesize, 0, f.height, planes, strides);

    Image image = make_image(info.width, info.height, info.depth);
    const auto w = static_cast<std::size_t>(info.width);
    for (int y = 0; y < info.height; ++y) {
        const uint8_t* row = c.rgb.get() + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
        if (deep) {
            PF_Pixel16* out = image.get<PF_Pixel16>().data() + static_cast<std::size_t>(y) * w;
            for (std::size_t x = 0; x < w; ++x) {
                uint16_t s[4];
                std::memcpy(s, row + x * 8, sizeof s);
                out[x] = PF_Pixel16{sample::png16_to_world(s[3]), sample::png16_to_world(s[0]),
                                    sample::png16_to_world(s[1]), sample::png16_to_world(s[2])};
            }
        } else {
            std::memcpy(image.get<PF_Pixel8>().data() + static_cast<std::size_t>(y) * w, row, w * 4);
        }
    }
    if (!info.alpha) {
        // Some conversions leave alpha undefined for sources without one.
        if (deep) {
            for (PF_Pixel16& p : image.get<PF_Pixel16>()) p.alpha = 32768;
        } else {
            for (PF_Pixel8& p : image.get<PF_Pixel8>()) p.alpha = 255;
        }
    }
    return image;
}

Image at_depth(Image image, Image::Depth depth) { return image.depth() == depth ? image : convert(image, depth); }

}  // namespace

bool is_movie_name(const std::string& name) {
    static const char* const kExtensions[] = {"mov", "mp4", "m4v", "mkv", "avi", "webm", "mxf",
                                              "mpg", "mpeg", "ts", "m2ts", "flv", "ogv", "gif"};
    const std::string ext = lower_extension(name);
    return std::any_of(std::begin(kExtensions), std::end(kExtensions), [&](const char* e) { return ext == e; });
}

FrameRate parse_frame_rate(const std::string& text) {
    const auto bad = [&] {
        return ImageError("frame rate \"" + text + "\": give frames per second, e.g. 24, 29.97 or 30000/1001");
    };
    AVRational q{0, 1};
    const std::size_t slash = text.find('/');
    try {
        std::size_t used = 0;
        if (slash != std::string::npos) {
            const long num = std::stol(text.substr(0, slash), &used);
            if (used != slash) throw bad();
            const std::string den_text = text.substr(slash + 1);
            const long den = std::stol(den_text, &used);
            if (used != den_text.size() || num <= 0 || den <= 0 || num > INT32_MAX || den > INT32_MAX) throw bad();
            q = av_make_q(static_cast<int>(num), static_cast<int>(den));
        } else {
            const double v = std::stod(text, &used);
            if (used != text.size() || !(v > 0.0) || v > 100000.0) throw bad();
            // 29.97 means the NTSC rate 30000/1001, as in FFmpeg.
            q = av_d2q(v, 1001000);
            const AVRational ntsc{static_cast<int>(std::lround(v * 1.001)) * 1000, 1001};
            if (std::fabs(av_q2d(ntsc) - v) < 0.005 && std::fabs(v - std::round(v)) > 1e-9) q = ntsc;
        }
    } catch (const std::logic_error&) {
        throw bad();
    }
    av_reduce(&q.num, &q.den, q.num, q.den, INT32_MAX);
    if (q.num <= 0 || q.den <= 0 || av_q2d(q) > 100000.0) throw bad();
    return FrameRate{q.num, q.den};
}

struct DecodedFrame::Data {
    ff::Frame frame = ff::make_frame();
    int64_t n = 0;
    MovieInfo info;
    std::string name;
};

struct MovieReader::State {
    std::string name;
    std::string path;  // empty for memory
    std::shared_ptr<const std::string> bytes;
    MovieLimits limits;

    AVFormatContext* format = nullptr;
    AVIOContext* avio = nullptr;
    MemoryCursor cursor;
    int stream = -1;
    ff::CodecContext decoder;
    ff::Frame frame = ff::make_frame();
    ff::Packet packet = ff::make_packet();
    Converter converter;

    std::shared_ptr<const FrameIndex> index;
    MovieInfo info;

    // The place: the next packet the demuxer gives (decode order; -1 while it
    // is unknown, after a seek), the last frame given (index and timestamp),
    // frames the decoder has given since the decoder started (untimed movies
    // count by these), and whether it was sent its end.
    int next_packet = -1;
    int64_t last_frame = -1;
    int64_t last_ts = 0;
    int64_t output_count = 0;
    bool draining = false;
    int64_t decoded = 0;

    ~State() { close(); }

    ImageError error(const std::string& what) const { return ImageError(name + ": " + what); }

    void close() {
        decoder.reset();
        converter.sws.reset();
        if (format) avformat_close_input(&format);
        if (avio) {
            av_freep(&avio->buffer);
            avio_context_free(&avio);
        }
    }

    void check_size(int64_t width, int64_t height) const {
        if (width < 1 || height < 1) throw error("the video stream has no frame size");
        if (width > limits.max_dimension || height > limits.max_dimension || width * height > limits.max_pixels) {
            throw error("frames of " + std::to_string(width) + "x" + std::to_string(height) +
                        " are larger than supported (at most " + std::to_string(limits.max_dimension) +
                        " a side and " + std::to_string(limits.max_pixels) + " pixels)");
        }
    }

    // Opens the container and finds its video stream.
    void open_input() {
        close();
        format = avformat_alloc_context();
        if (!format) throw std::bad_alloc();
        AVDictionary* options = nullptr;
        std::string url;
        if (bytes) {
            cursor = MemoryCursor{bytes, 0};
            auto* buffer = static_cast<unsigned char*>(av_malloc(kAvioBufferSize));
            if (!buffer) throw std::bad_alloc();
            avio = avio_alloc_context(buffer, kAvioBufferSize, 0, &cursor, memory_read, nullptr, memory_seek);
            if (!avio) {
                av_free(buffer);
                throw std::bad_alloc();
            }
            format->pb = avio;
            format->flags |= AVFMT_FLAG_CUSTOM_IO;
        } else {
            url = "file:" + path;
        }
        // No network; from memory, nothing else at all (a playlist in the
        // bytes could name any file).
        av_dict_set(&options, "protocol_whitelist", bytes ? "none" : "file", 0);
        const int opened = avformat_open_input(&format, url.c_str(), nullptr, &options);
        av_dict_free(&options);
        if (opened < 0) {
            format = nullptr;  // freed by the failed open
            throw error(bytes ? "not a movie (" + ff::error_text(opened) + ")"
                              : "cannot open as a movie: " + ff::error_text(opened));
        }
        const int found = avformat_find_stream_info(format, nullptr);
        if (found < 0) throw error("cannot read the movie's streams: " + ff::error_text(found));
        stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (stream < 0) throw error("no video stream");
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            if (static_cast<int>(i) != stream) format->streams[i]->discard = AVDISCARD_ALL;
        }
    }

    void open_decoder() {
        const AVCodecParameters* par = format->streams[stream]->codecpar;
        check_size(par->width, par->height);
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        if (!codec) throw error(std::string("no decoder for ") + avcodec_get_name(par->codec_id));
        decoder.reset(avcodec_alloc_context3(codec));
        if (!decoder) throw std::bad_alloc();
        if (avcodec_parameters_to_context(decoder.get(), par) < 0) throw error("bad codec parameters");
        decoder->max_pixels = limits.max_pixels;
        // One thread per reader: parallel renders give each worker its own.
        decoder->thread_count = 1;
        decoder->pkt_timebase = format->streams[stream]->time_base;
        const int rc = avcodec_open2(decoder.get(), codec, nullptr);
        if (rc < 0) throw error(std::string("cannot open the ") + codec->name + " decoder: " + ff::error_text(rc));
        next_packet = 0;
        last_frame = -1;
        output_count = 0;
        draining = false;
    }

    void describe() {
        const AVStream* st = format->streams[stream];
        const AVCodecParameters* par = st->codecpar;
        info.width = par->width;
        info.height = par->height;
        AVRational rate = st->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0) rate = st->r_frame_rate;
        info.rate = rate.num > 0 && rate.den > 0 ? FrameRate{rate.num, rate.den} : FrameRate{0, 1};
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(par->format));
        if (!desc) throw error("unknown pixel format of the video stream");
        int bits = 0;
        for (int c = 0; c < desc->nb_components; ++c) bits = std::max(bits, desc->comp[c].depth);
        info.depth = bits > 8 ? Image::k16 : Image::k8;
        info.alpha = (desc->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
        info.codec = decoder->codec->name;
        info.colour = ColourTags{static_cast<int>(par->color_primaries), static_cast<int>(par->color_trc)};
    }

    // One pass over the packets: timestamps, key frames, frame order.
    void build_index() {
        auto built = std::make_shared<FrameIndex>();
        FrameIndex& ix = *built;
        std::vector<bool> key;
        std::vector<int> shown;  // packets that are frames (not dropped by an edit list)
        std::vector<int> keys;
        std::vector<int> start_of_packet;
        for (;;) {
            const int rc = av_read_frame(format, packet.get());
            if (rc == AVERROR_EOF) break;
            if (rc < 0) throw error("damaged movie: " + ff::error_text(rc));
            if (packet->stream_index == stream) {
                const int n = static_cast<int>(ix.packet_ts.size());
                const int64_t ts = packet_timestamp(*packet);
                if (ts == AV_NOPTS_VALUE) ix.timed = false;
                ix.packet_ts.push_back(ts);
                ix.packet_seek_ts.push_back(packet->dts != AV_NOPTS_VALUE ? packet->dts : ts);
                if (!ix.packet_of_ts.emplace(ts, n).second) ix.timed = false;
                const bool is_key = (packet->flags & AV_PKT_FLAG_KEY) != 0 || n == 0;
                if (is_key) keys.push_back(n);
                // The latest key frame shown before this frame: frames that lead
                // a key frame (open GOPs) start from the key frame before.
                std::size_t k = keys.size();
                while (k > 1 && ix.packet_ts[static_cast<std::size_t>(keys[k - 1])] > ts) --k;
                start_of_packet.push_back(keys[k - 1]);
                if ((packet->flags & AV_PKT_FLAG_DISCARD) == 0) shown.push_back(n);
            }
            av_packet_unref(packet.get());
        }
        if (shown.empty()) throw error("the video stream has no frames");
        std::sort(shown.begin(), shown.end(), [&](int a, int b) {
            return ix.timed ? ix.packet_ts[static_cast<std::size_t>(a)] < ix.packet_ts[static_cast<std::size_t>(b)]
                            : a < b;
        });
        for (int p : shown) {
            ix.frame_ts.push_back(ix.packet_ts[static_cast<std::size_t>(p)]);
            ix.frame_start.push_back(start_of_packet[static_cast<std::size_t>(p)]);
            ix.frame_packet.push_back(p);
        }
        info.frames = static_cast<int64_t>(shown.size());
        index = std::move(built);
    }

    // Puts the demuxer at packet `start` (a key frame) with a fresh decoder.
    // Packets before it are skipped on the way; where the container's seek
    // lands past it, the movie is reopened and read from its start.
    void seek_to(int start) {
        const FrameIndex& ix = *index;
        bool rewound = false;
        if (ix.timed && start > 0 &&
            av_seek_frame(format, stream, ix.packet_seek_ts[static_cast<std::size_t>(start)], AVSEEK_FLAG_BACKWARD) >= 0) {
            avcodec_flush_buffers(decoder.get());
            next_packet = -1;
            last_frame = -1;
            output_count = 0;
            draining = false;
        } else {
            rewind();
            rewound = true;
        }
        for (;;) {
            if (next_packet == start) return;
            const int rc = av_read_frame(format, packet.get());
            if (rc < 0) {
                if (rewound) throw error("damaged movie: cannot find a frame again");
                rewind();
                rewound = true;
                continue;
            }
            if (packet->stream_index == stream) {
                if (next_packet >= 0) {
                    ++next_packet;
                } else {
                    const auto it = ix.packet_of_ts.find(packet_timestamp(*packet));
                    if (it != ix.packet_of_ts.end()) next_packet = it->second + 1;
                }
                if (next_packet > start) {
                    if (next_packet == start + 1) {
                        // This is the key frame itself: keep it.
                        send(*packet);
                        av_packet_unref(packet.get());
                        return;
                    }
                    av_packet_unref(packet.get());
                    if (rewound) throw error("damaged movie: cannot find a frame again");
                    rewind();
                    rewound = true;
                    continue;
                }
            }
            av_packet_unref(packet.get());
        }
    }

    void rewind() {
        open_input();
        open_decoder();
    }

    void send(const AVPacket& p) {
        const int rc = avcodec_send_packet(decoder.get(), &p);
        if (rc < 0 && rc != AVERROR(EAGAIN)) throw error("damaged movie: " + ff::error_text(rc));
    }

    // Feeds the decoder one more packet of the stream (its end at the end).
    void feed() {
        for (;;) {
            const int rc = av_read_frame(format, packet.get());
            if (rc == AVERROR_EOF) {
                const int sent = avcodec_send_packet(decoder.get(), nullptr);
                if (sent < 0 && sent != AVERROR_EOF) throw error("damaged movie: " + ff::error_text(sent));
                draining = true;
                return;
            }
            if (rc < 0) throw error("damaged movie: " + ff::error_text(rc));
            if (packet->stream_index == stream) {
                if (next_packet >= 0) ++next_packet;
                send(*packet);
                av_packet_unref(packet.get());
                return;
            }
            av_packet_unref(packet.get());
        }
    }

    // Frame index of a decoded frame's timestamp; -1 for none.
    int64_t frame_at(int64_t ts) const {
        const std::vector<int64_t>& all = index->frame_ts;
        const auto it = std::lower_bound(all.begin(), all.end(), ts);
        return it != all.end() && *it == ts ? it - all.begin() : -1;
    }

    // Decodes on to frame `n`; leaves it in `frame`. The frames decoded on
    // the way that are whole (decoded on from the last frame read, or from
    // their own key frame) go to `passed`, if given.
    void decode_to(int64_t n, const PassedFrame* passed) {
        const FrameIndex& ix = *index;
        const auto i = static_cast<std::size_t>(n);
        const int64_t before = last_frame;
        bool ahead = false;
        if (ix.timed) {
            const int start = ix.frame_start[i];
            ahead = last_frame >= 0 && n > last_frame && next_packet >= 0 && start < next_packet;
            if (!ahead && !(last_frame < 0 && next_packet == 0 && start == 0)) seek_to(start);
        } else if (n <= last_frame || last_frame < 0) {
            if (last_frame >= 0 || next_packet != 0) rewind();
        } else {
            ahead = true;
        }
        const int64_t target = ix.timed ? ix.frame_ts[i] : n;
        for (;;) {
            const int rc = avcodec_receive_frame(decoder.get(), frame.get());
            if (rc == AVERROR(EAGAIN)) {
                if (draining) throw error("damaged movie: the decoder stopped before frame " + std::to_string(n));
                feed();
                continue;
            }
            if (rc == AVERROR_EOF) throw error("damaged movie: frame " + std::to_string(n) + " cannot be decoded");
            if (rc < 0) throw error("damaged movie: " + ff::error_text(rc));
            ++decoded;
            const int64_t at = ix.timed ? frame_timestamp(*frame) : output_count;
            ++output_count;
            if (at == target) {
                last_frame = n;
                last_ts = at;
                return;
            }
            if (ix.timed && at != AV_NOPTS_VALUE && at > target) {
                av_frame_unref(frame.get());
                throw error("damaged movie: frame " + std::to_string(n) + " is missing");
            }
            const int64_t f = ix.timed ? frame_at(at) : at;
            if (passed && *passed && f >= 0 && whole_on_the_way(ahead, before, n, f)) {
                (*passed)(f, take_frame(f));
            } else {
                av_frame_unref(frame.get());
            }
        }
    }

    // The decoded frame, out of the decoder's hands.
    DecodedFrame take_frame(int64_t n) {
        auto data = std::make_unique<DecodedFrame::Data>();
        av_frame_move_ref(data->frame.get(), frame.get());
        data->n = n;
        data->info = info;
        data->name = name;
        return DecodedFrame(std::move(data));
    }

    // decode_to with the frame checked; a failure leaves the place unknown.
    void decode_frame(int64_t n, const PassedFrame* passed = nullptr);

    // Whether reading `frame` from just after `from` decodes on, as decode_to
    // decides (from the index alone).
    bool forward(int64_t from, int64_t frame) const;

    // Whether frame `f` (0 <= f), decoded on the way to `frame`, is whole: on
    // from `before` when the read went `ahead`, else from the key frame
    // `frame` starts from.
    bool whole_on_the_way(bool ahead, int64_t before, int64_t frame, int64_t f) const {
        if (f >= frame) return false;
        if (ahead) return f > before;
        const FrameIndex& ix = *index;
        return !ix.timed || ix.frame_start[static_cast<std::size_t>(f)] == ix.frame_start[static_cast<std::size_t>(frame)];
    }

    // Opened, described and indexed, at the first frame.
    void start() {
        open_input();
        open_decoder();
        describe();
        build_index();
        rewind();
    }
};

MovieReader::MovieReader(const std::string& path, const MovieLimits& limits) : state_(std::make_unique<State>()) {
    ff::quiet_logging();
    state_->name = path;
    state_->path = path;
    state_->limits = limits;
    state_->start();
}

MovieReader::MovieReader(std::shared_ptr<const std::string> bytes, const std::string& name, const MovieLimits& limits)
    : state_(std::make_unique<State>()) {
    ff::quiet_logging();
    state_->name = name;
    state_->bytes = std::move(bytes);
    state_->limits = limits;
    state_->start();
}

MovieReader::~MovieReader() = default;

const MovieInfo& MovieReader::info() const { return state_->info; }
const std::string& MovieReader::name() const { return state_->name; }
int64_t MovieReader::decoded_frames() const { return state_->decoded; }
int64_t MovieReader::position() const { return state_->last_frame; }

std::unique_ptr<MovieReader> MovieReader::open() const {
    std::unique_ptr<MovieReader> other(new MovieReader());
    other->state_ = std::make_unique<State>();
    State& s = *other->state_;
    s.name = state_->name;
    s.path = state_->path;
    s.bytes = state_->bytes;
    s.limits = state_->limits;
    s.index = state_->index;
    s.info = state_->info;
    s.rewind();
    return other;
}

DecodedFrame::DecodedFrame(std::unique_ptr<Data> data) : data_(std::move(data)) {}
DecodedFrame::DecodedFrame(DecodedFrame&&) noexcept = default;
DecodedFrame& DecodedFrame::operator=(DecodedFrame&&) noexcept = default;
DecodedFrame::~DecodedFrame() = default;

Image DecodedFrame::image(Image::Depth depth) const {
    Converter converter;
    return at_depth(convert_frame(*data_->frame, data_->n, data_->info, data_->name, converter), depth);
}

void MovieReader::State::decode_frame(int64_t n, const PassedFrame* passed) {
    if (n < 0 || n >= info.frames) {
        throw error("no frame " + std::to_string(n) + " (the movie has " + std::to_string(info.frames) +
                    " frames, 0-" + std::to_string(info.frames - 1) + ")");
    }
    try {
        decode_to(n, passed);
    } catch (...) {
        // Where the decoder stands is unknown now: the next read seeks.
        last_frame = -1;
        next_packet = -1;
        throw;
    }
}

DecodedFrame MovieReader::decode(int64_t frame, const PassedFrame& passed) {
    State& s = *state_;
    s.decode_frame(frame, &passed);
    return s.take_frame(frame);
}

bool MovieReader::State::forward(int64_t from, int64_t frame) const {
    const FrameIndex& ix = *index;
    if (from < 0 || from >= info.frames || frame <= from) return false;
    return !ix.timed || ix.frame_start[static_cast<std::size_t>(frame)] <= ix.frame_packet[static_cast<std::size_t>(from)];
}

int64_t MovieReader::decode_cost(int64_t from, int64_t frame) const {
    const State& s = *state_;
    if (frame < 0 || frame >= s.info.frames) return 1;
    const FrameIndex& ix = *s.index;
    if (!ix.timed) return s.forward(from, frame) ? frame - from : frame + 1;
    const auto at = [&](int64_t n) { return static_cast<int64_t>(ix.frame_packet[static_cast<std::size_t>(n)]); };
    const int64_t start = ix.frame_start[static_cast<std::size_t>(frame)];
    if (s.forward(from, frame)) return std::max<int64_t>(1, at(frame) - at(from));
    return at(frame) - start + 1;
}

bool MovieReader::passes(int64_t from, int64_t frame, int64_t n) const {
    const State& s = *state_;
    if (frame < 0 || frame >= s.info.frames || n < 0) return false;
    return s.whole_on_the_way(s.forward(from, frame), from, frame, n);
}

Image MovieReader::read(int64_t frame) {
    State& s = *state_;
    s.decode_frame(frame);
    Image image = convert_frame(*s.frame, frame, s.info, s.name, s.converter);
    av_frame_unref(s.frame.get());
    return image;
}

Image MovieReader::read(int64_t frame, Image::Depth depth) { return at_depth(read(frame), depth); }

}  // namespace cli
