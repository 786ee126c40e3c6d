#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/opt.h>
}

#include "footage/ffmpeg_support.h"
#include "footage/movie_io.h"

namespace cli {

namespace {

// The movies written, each with its default encoder; no other name is
// taken, so that every output the README lists is one that was tried.
struct Container {
    const char* extension;
    const char* muxer;
    const char* encoder;
};
constexpr Container kContainers[] = {
    {"mov", "mov", "prores_ks"},
    {"mp4", "mp4", "libx264"},
    {"mkv", "matroska", "ffv1"},
    {"webm", "webm", "libvpx-vp9"},
};

// Codec names that users give for the encoder we prefer for them.
const AVCodec* find_encoder(const std::string& name) {
    static const std::pair<const char*, const char*> kPreferred[] = {
        {"prores", "prores_ks"}, {"h264", "libx264"}, {"hevc", "libx265"}, {"h265", "libx265"}, {"vp9", "libvpx-vp9"},
    };
    for (const auto& [alias, encoder] : kPreferred) {
        if (name == alias) {
            if (const AVCodec* c = avcodec_find_encoder_by_name(encoder)) return c;
        }
    }
    if (const AVCodec* c = avcodec_find_encoder_by_name(name.c_str())) return c;
    if (const AVCodecDescriptor* d = avcodec_descriptor_get_by_name(name.c_str())) return avcodec_find_encoder(d->id);
    return nullptr;
}

bool uses_quantiser(const std::string& encoder) {
    static const char* const kQuantised[] = {"prores_ks", "mpeg4", "mjpeg", "mpeg2video", "mpeg1video", "dnxhd"};
    for (const char* q : kQuantised) {
        if (encoder == q) return true;
    }
    return false;
}

AVPixelFormat pixel_format_for(const AVCodec* codec, bool deep, AVPixelFormat source) {
    const std::string name = codec->name;
    if (name == "prores_ks") return AV_PIX_FMT_YUVA444P10LE;
    if (name == "libx264") return AV_PIX_FMT_YUV420P;
    // Main and Main 10, the profiles players decode.
    if (name == "libx265") return deep ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
    if (name == "ffv1") return deep ? AV_PIX_FMT_RGBA64LE : AV_PIX_FMT_BGRA;
    if (name == "png") return deep ? AV_PIX_FMT_RGBA64BE : AV_PIX_FMT_RGBA;
    if (name == "dnxhd") return deep ? AV_PIX_FMT_YUV422P10LE : AV_PIX_FMT_YUV422P;
    if (!codec->pix_fmts) return source;
    return avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, source, 1, nullptr);
}

// The muxer and encoder for a name and settings; throws ImageError when
// there is none or they do not go together.
struct Choice {
    const AVOutputFormat* muxer = nullptr;
    const AVCodec* codec = nullptr;
};

Choice choose(const std::string& target, const MovieSettings& settings) {
    const std::string ext = lower_extension(target);
    const Container* container = nullptr;
    for (const Container& c : kContainers) {
        if (ext == c.extension) container = &c;
    }
    Choice choice;
    if (container) choice.muxer = av_guess_format(container->muxer, nullptr, nullptr);
    if (!choice.muxer) {
        throw ImageError(target + ": \"." + ext + "\" is not a movie type written (name it .mov, .mp4, .mkv or .webm)");
    }
    if (!settings.codec.empty()) {
        choice.codec = find_encoder(settings.codec);
        if (!choice.codec || choice.codec->type != AVMEDIA_TYPE_VIDEO) {
            throw ImageError(target + ": no video encoder \"" + settings.codec + "\"");
        }
    } else {
        choice.codec = avcodec_find_encoder_by_name(container->encoder);
        if (!choice.codec && std::string(container->encoder) == "libx264") {
            choice.codec = avcodec_find_encoder(AV_CODEC_ID_H264);
        }
        if (!choice.codec) choice.codec = avcodec_find_encoder(choice.muxer->video_codec);
        if (!choice.codec) throw ImageError(target + ": no encoder for this container is available");
    }
    if (avformat_query_codec(choice.muxer, choice.codec->id, FF_COMPLIANCE_NORMAL) == 0) {
        throw ImageError(target + ": " + choice.codec->name + " cannot be written into ." + ext);
    }
    return choice;
}

}  // namespace

ColourTags colour_tags(const std::string& colorspace) {
    std::string name = colorspace;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (name == "srgb" || name == "srgb_texture" || name == "srgb - texture") return kSrgbTags;
    if (name == "rec709") return kRec709Tags;
    if (name == "linear" || name == "lin_srgb" || name == "lin_rec709") return kLinear709Tags;
    if (is_linear_colorspace(colorspace)) return ColourTags{ColourTags{}.primaries, kLinear709Tags.transfer};
    return {};
}

void check_movie_output(const std::string& path, const MovieSettings& settings) { (void)choose(path, settings); }

struct MovieWriter::State {
    std::string target;
    std::string temp;
    int width = 0;
    int height = 0;
    Image::Depth depth = Image::k8;
    std::string encoder_name;
    std::string pixel_format_name;
    AVFormatContext* format = nullptr;
    AVStream* stream = nullptr;
    ff::CodecContext encoder;
    ff::Sws sws;
    ff::Frame frame = ff::make_frame();
    ff::Packet packet = ff::make_packet();
    AVPixelFormat source_format = AV_PIX_FMT_ARGB;
    std::vector<uint8_t> source;
    int source_stride = 0;
    int64_t next_pts = 0;
    bool finished = false;
    int temp_lock = -1;

    ~State() {
        encoder.reset();
        if (format) {
            if (format->pb) avio_closep(&format->pb);
            avformat_free_context(format);
        }
        if (!finished && !temp.empty()) ::unlink(temp.c_str());
        if (temp_lock >= 0) ::close(temp_lock);
    }

    ImageError error(const std::string& what) const { return ImageError(target + ": " + what); }
    // `err`: an errno, or FFmpeg's AVERROR(errno) negated.
    ImageWriteError write_error(const std::string& what, int err = 0) const {
        return ImageWriteError(target + ": " + what, err);
    }

    // An empty file beside the target under a name no one else has, locked
    // until the writer is done with it.
    void reserve_temporary() {
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) throw write_error("exists and is not a regular file");
        remove_stale_temporaries({target});
        temp_lock = create_temporary_beside(target, target, temp);
    }

    void open(const MovieSettings& settings, std::string* warning) {
        const Choice choice = choose(target, settings);
        const AVOutputFormat* muxer = choice.muxer;
        const AVCodec* codec = choice.codec;
        encoder_name = codec->name;

        const bool deep = depth != Image::k8;
        source_format = deep ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_ARGB;
        const AVPixelFormat pix = pixel_format_for(codec, deep, source_format);
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pix);
        if (!desc) throw error(encoder_name + " offers no pixel format");
        pixel_format_name = desc->name;
        if ((width & ((1 << desc->log2_chroma_w) - 1)) != 0 || (height & ((1 << desc->log2_chroma_h) - 1)) != 0) {
            throw error(encoder_name + " in " + pixel_format_name + " needs a size that is a multiple of " +
                        std::to_string(1 << std::max(desc->log2_chroma_w, desc->log2_chroma_h)) + ", not " +
                        std::to_string(width) + "x" + std::to_string(height) + " (write .mov or .mkv instead)");
        }

        if (avformat_alloc_output_context2(&format, muxer, nullptr, nullptr) < 0 || !format) throw std::bad_alloc();
        encoder.reset(avcodec_alloc_context3(codec));
        if (!encoder) throw std::bad_alloc();
        AVCodecContext& enc = *encoder;
        enc.width = width;
        enc.height = height;
        enc.pix_fmt = pix;
        enc.framerate = AVRational{settings.rate.num, settings.rate.den};
        enc.time_base = AVRational{settings.rate.den, settings.rate.num};
        enc.sample_aspect_ratio = AVRational{1, 1};
        enc.thread_count = std::max(0, settings.threads);
        const bool rgb = (desc->flags & AV_PIX_FMT_FLAG_RGB) != 0;
        // The matrix and range the conversion below uses.
        enc.colorspace = rgb ? AVCOL_SPC_RGB : AVCOL_SPC_BT709;
        enc.color_range = rgb ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
        enc.color_primaries = static_cast<AVColorPrimaries>(settings.colour.primaries);
        enc.color_trc = static_cast<AVColorTransferCharacteristic>(settings.colour.transfer);
        if (format->oformat->flags & AVFMT_GLOBALHEADER) enc.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

        AVDictionary* options = nullptr;
        if (encoder_name == "prores_ks") av_dict_set(&options, "profile", "4444", 0);
        if (encoder_name == "dnxhd") av_dict_set(&options, "profile", deep ? "dnxhr_hqx" : "dnxhr_hq", 0);
        // x265 logs on its own, past FFmpeg's log level.
        if (encoder_name == "libx265") {
            av_dict_set(&options, "x265-params", settings.quiet ? "log-level=none" : "log-level=error", 0);
        }
        const bool has_crf = codec->priv_class &&
                             av_opt_find(const_cast<AVClass**>(&codec->priv_class), "crf", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
        if (has_crf) {
            const int crf = settings.quality.value_or(encoder_name == "libx264" ? 18 : -1);
            if (crf >= 0) av_dict_set_int(&options, "crf", crf, 0);
            if (encoder_name == "libvpx-vp9") enc.bit_rate = 0;
        } else if (settings.quality && uses_quantiser(encoder_name)) {
            enc.flags |= AV_CODEC_FLAG_QSCALE;
            enc.global_quality = FF_QP2LAMBDA * *settings.quality;
        } else if (settings.quality && warning) {
            *warning = encoder_name + " has no quality setting; the quality given is not used";
        }
        const int opened = avcodec_open2(&enc, codec, &options);
        av_dict_free(&options);
        if (opened < 0) throw error("cannot open the " + encoder_name + " encoder: " + ff::error_text(opened));

        stream = avformat_new_stream(format, nullptr);
        if (!stream) throw std::bad_alloc();
        stream->time_base = enc.time_base;
        stream->avg_frame_rate = enc.framerate;
        if (avcodec_parameters_from_context(stream->codecpar, &enc) < 0) throw std::bad_alloc();
        // Players (QuickTime, browsers) take H.265 in MP4 and QuickTime only as hvc1.
        const bool iso_media = std::string(muxer->name) == "mov" || std::string(muxer->name) == "mp4";
        if (iso_media && codec->id == AV_CODEC_ID_HEVC) stream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');

        reserve_temporary();
        // The muxer reopens the file by this name to move the index first.
        av_freep(&format->url);
        format->url = av_strdup(("file:" + temp).c_str());
        if (!format->url) throw std::bad_alloc();
        const int io = avio_open(&format->pb, format->url, AVIO_FLAG_WRITE);
        if (io < 0) throw write_error("cannot write: " + ff::error_text(io), -io);
        AVDictionary* muxing = nullptr;
        // The index first, so that a player starts before the whole file
        // is there; the colour atom, which QuickTime reads, written.
        if (iso_media) av_dict_set(&muxing, "movflags", "+faststart+write_colr", 0);
        const int header = avformat_write_header(format, &muxing);
        av_dict_free(&muxing);
        if (header < 0) throw error("cannot start the movie: " + ff::error_text(header));

        frame->format = pix;
        frame->width = width;
        frame->height = height;
        // Some encoders (ProRes) tag each frame from the frame itself.
        frame->color_primaries = enc.color_primaries;
        frame->color_trc = enc.color_trc;
        frame->colorspace = enc.colorspace;
        frame->color_range = enc.color_range;
        if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::bad_alloc();
        if (pix != source_format) {
            sws.reset(sws_getContext(width, height, source_format, width, height, pix,
                                     SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP | SWS_BITEXACT, nullptr,
                                     nullptr, nullptr));
            if (!sws) throw error(std::string("cannot convert frames to ") + pixel_format_name);
            if (!rgb) {
                sws_setColorspaceDetails(sws.get(), sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                         sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
            }
        }
        source_stride = FFALIGN(width * (deep ? 8 : 4), 64);
        source.resize(static_cast<std::size_t>(source_stride) * static_cast<std::size_t>(height) + 64);
    }

    // Frame pixels in the source format: 8-bit ARGB as they are, deeper ones
    // as 16-bit RGBA samples.
    void fill_source(const Image& image) {
        const auto w = static_cast<std::size_t>(width);
        for (int y = 0; y < height; ++y) {
            uint8_t* row = source.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(source_stride);
            const std::size_t at = static_cast<std::size_t>(y) * w;
            if (image.depth() == Image::k8) {
                std::memcpy(row, image.get<PF_Pixel8>().data() + at, w * 4);
            } else if (image.depth() == Image::k16) {
                const PF_Pixel16* in = image.get<PF_Pixel16>().data() + at;
                for (std::size_t x = 0; x < w; ++x) {
                    const uint16_t s[4] = {sample::world_to_png16(in[x].red), sample::world_to_png16(in[x].green),
                                           sample::world_to_png16(in[x].blue), sample::world_to_png16(in[x].alpha)};
                    std::memcpy(row + x * 8, s, sizeof s);
                }
            } else {
                const PF_PixelFloat* in = image.get<PF_PixelFloat>().data() + at;
                for (std::size_t x = 0; x < w; ++x) {
                    const uint16_t s[4] = {sample::float_to_png16(in[x].red), sample::float_to_png16(in[x].green),
                                           sample::float_to_png16(in[x].blue), sample::float_to_png16(in[x].alpha)};
                    std::memcpy(row + x * 8, s, sizeof s);
                }
            }
        }
    }

    void drain() {
        for (;;) {
            const int rc = avcodec_receive_packet(encoder.get(), packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            if (rc < 0) throw error("encoding failed: " + ff::error_text(rc));
            av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            const int written = av_interleaved_write_frame(format, packet.get());
            if (written < 0) throw write_error("cannot write: " + ff::error_text(written), -written);
        }
    }

    void write(const Image& image) {
        if (finished) throw error("the movie is already complete");
        if (image.width != width || image.height != height) {
            throw error("a frame of " + std::to_string(image.width) + "x" + std::to_string(image.height) +
                        " in a movie of " + std::to_string(width) + "x" + std::to_string(height));
        }
        const bool matches = (image.depth() == Image::k8) == (depth == Image::k8);
        if (matches) {
            fill_source(image);
        } else {
            fill_source(convert(image, depth == Image::k8 ? Image::k8 : Image::k16));
        }
        if (av_frame_make_writable(frame.get()) < 0) throw std::bad_alloc();
        const uint8_t* planes[4] = {source.data(), nullptr, nullptr, nullptr};
        const int strides[4] = {source_stride, 0, 0, 0};
        if (sws) {
            sws_scale(sws.get(), planes, strides, 0, height, frame->data, frame->linesize);
        } else {
            av_image_copy(frame->data, frame->linesize, planes, strides, source_format, width, height);
        }
        frame->pts = next_pts++;
        const int rc = avcodec_send_frame(encoder.get(), frame.get());
        if (rc < 0) throw error("encoding failed: " + ff::error_text(rc));
        drain();
    }

    void finish() {
        if (finished) return;
        const int rc = avcodec_send_frame(encoder.get(), nullptr);
        if (rc < 0 && rc != AVERROR_EOF) throw error("encoding failed: " + ff::error_text(rc));
        drain();
        const int trailer = av_write_trailer(format);
        if (trailer < 0) throw write_error("cannot complete the movie: " + ff::error_text(trailer), -trailer);
        const int closed = avio_closep(&format->pb);
        if (closed < 0) throw write_error("write failed: " + ff::error_text(closed), -closed);
        const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
        const bool synced = fd >= 0 && ::fsync(fd) == 0;
        if (fd >= 0) ::close(fd);
        if (!synced) throw write_error(std::string("write failed: ") + std::strerror(errno), errno);
        if (std::rename(temp.c_str(), target.c_str()) != 0) {
            throw write_error(std::string("cannot replace: ") + std::strerror(errno), errno);
        }
        finished = true;
    }
};

MovieWriter::MovieWriter(const std::string& path, int width, int height, Image::Depth depth,
                         const MovieSettings& settings)
    : state_(std::make_unique<State>()) {
    ff::quiet_logging();
    State& s = *state_;
    s.target = path;
    if (!supported_size(width, height)) {
        throw s.error("cannot write frames of " + std::to_string(width) + "x" + std::to_string(height));
    }
    if (settings.rate.num <= 0 || settings.rate.den <= 0) throw s.error("no frame rate");
    s.width = width;
    s.height = height;
    s.depth = depth;
    s.open(settings, &warning_);
}

MovieWriter::~MovieWriter() = default;

const std::string& MovieWriter::encoder() const { return state_->encoder_name; }
const std::string& MovieWriter::pixel_format() const { return state_->pixel_format_name; }
const std::string& MovieWriter::warning() const { return warning_; }
void MovieWriter::write(const Image& frame) { state_->write(frame); }
void MovieWriter::finish() { state_->finish(); }

}  // namespace cli
