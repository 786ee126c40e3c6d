// Movies through FFmpeg's libraries: a frame-accurate reader of any movie
// they decode, and a writer of ProRes, H.264, FFV1 and other encoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "footage/image_io.h"

namespace cli {

struct FrameRate {
    int num = 24;
    int den = 1;
    double value() const { return den > 0 ? static_cast<double>(num) / den : 0.0; }
};

// "24", "29.97", "30000/1001"; throws ImageError for anything else or a rate
// outside (0, 100000].
FrameRate parse_frame_rate(const std::string& text);

// True for the names the movie reader and writer take: .mov .mp4 .m4v .mkv
// .avi .webm .mxf .mpg .mpeg .ts .m2ts .flv .ogv .gif (any case).
bool is_movie_name(const std::string& name);

// The size a reader accepts, checked against the stream's own header before
// any frame is decoded and against every frame the decoder produces.
// A picture's colour as movies tag it: ITU-T H.273 code points (the values
// of FFmpeg's AVColorPrimaries and AVColorTransferCharacteristic); 2 is
// "unspecified".
struct ColourTags {
    int primaries = 2;
    int transfer = 2;
    bool operator==(const ColourTags&) const = default;
};
inline constexpr ColourTags kSrgbTags{1, 13};      // BT.709 primaries, IEC 61966-2-1
inline constexpr ColourTags kRec709Tags{1, 1};     // BT.709 primaries and transfer
inline constexpr ColourTags kLinear709Tags{1, 8};  // BT.709 primaries, linear

// The tags of frames in a colour space of that name: sRGB, Rec709 and the
// built-in linear spaces fully; another linear space by its transfer only;
// any other space unspecified.
ColourTags colour_tags(const std::string& colorspace);

struct MovieLimits {
    int max_dimension = kMaxImageDimension;
    int64_t max_pixels = kMaxImagePixels;
};

struct MovieInfo {
    int width = 0;
    int height = 0;
    // Frames in presentation order.
    int64_t frames = 0;
    // The stream's average rate, else its base rate; 0/1 when it says none.
    FrameRate rate{0, 1};
    // k8 for sources of 8 bits or less per component, k16 above.
    Image::Depth depth = Image::k8;
    bool alpha = false;
    // The decoder's name ("h264", "prores", "ffv1", ...).
    std::string codec;
    // As the stream is tagged.
    ColourTags colour;
};

// A frame a reader has decoded, converted to pixels by whichever thread
// holds it, so that the reader may decode on for another meanwhile.
class DecodedFrame {
public:
    DecodedFrame(DecodedFrame&&) noexcept;
    DecodedFrame& operator=(DecodedFrame&&) noexcept;
    ~DecodedFrame();

    // The pixels MovieReader::read(frame, depth) gives. Throws ImageError.
    Image image(Image::Depth depth) const;

    struct Data;

private:
    friend class MovieReader;
    explicit DecodedFrame(std::unique_ptr<Data> data);
    std::unique_ptr<Data> data_;
};

// Reads frame n of a movie: the nth in presentation order counted from its
// first (whatever its start time, with B-frames or a variable rate), by
// seeking to the key frame at or before it and decoding forward. Reading
// frames in increasing order decodes each once: the reader keeps its place
// and only seeks when the next frame is behind it or past its next key
// frame. One reader is for one thread; open() more for parallel reading
// (they share the index of frames, built once by a scan of the packets).
//
// Pixels: straight ARGB, 8-bit at depth k8, else 16-bit world samples (a
// 16-bit sample p becomes sample::png16_to_world(p); narrower samples are
// widened to 16 bits first). YUV is converted with the stream's own matrix
// and range; where it names no matrix, Rec. 709 for HD pictures (at least
// 1280 wide or 720 high) and Rec. 601 below. Alpha comes from the codec
// where it carries one, else frames are opaque. Lossless RGB(A) codecs give
// their pixels exactly.
//
// Every failure (no file, not a movie, no video stream, no decoder, too
// large, damaged data, a frame past the end) throws ImageError naming the
// file.
class MovieReader {
public:
    explicit MovieReader(const std::string& path, const MovieLimits& limits = {});
    // From bytes in memory (kept alive by the reader); `name` labels errors.
    MovieReader(std::shared_ptr<const std::string> bytes, const std::string& name, const MovieLimits& limits = {});
    ~MovieReader();
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;

    const MovieInfo& info() const;
    const std::string& name() const;

    // Another reader of the same movie with its own decoder and place,
    // sharing the frame index.
    std::unique_ptr<MovieReader> open() const;

    // Frame `frame` (0 = the first) at the source's depth, or converted to
    // `depth` with the rules of cli::convert.
    Image read(int64_t frame);
    Image read(int64_t frame, Image::Depth depth);

    // read() in two steps: the decoding here, the conversion by
    // DecodedFrame::image on any thread. The frames decoded on the way that
    // are whole (decoded on from the last frame read, or from their own key
    // frame) go to `passed` with their numbers, if it is given.
    using PassedFrame = std::function<void(int64_t frame, DecodedFrame decoded)>;
    DecodedFrame decode(int64_t frame, const PassedFrame& passed = {});

    // The last frame read; -1 before the first and after a failed read.
    int64_t position() const;

    // What reading `frame` takes from a reader at position `from`, judged
    // from the index alone: about how many frames it decodes (those between
    // where it can go on forward, else those from the frame's key frame),
    // and whether frame `n` is among those it hands on the way.
    int64_t decode_cost(int64_t from, int64_t frame) const;
    bool passes(int64_t from, int64_t frame, int64_t n) const;

    // Frames decoded so far (for checking that forward reading decodes each
    // frame once).
    int64_t decoded_frames() const;

    struct State;

private:
    MovieReader() = default;
    std::unique_ptr<State> state_;
};

// Encoding settings; empty fields take the container's defaults.
struct MovieSettings {
    // An encoder ("prores_ks", "libx264", "ffv1", "png", "dnxhd", ...) or a
    // codec ("prores", "h264"); empty: the container's own choice.
    std::string codec;
    // The encoder's quality knob where it has one: CRF for x264/x265/VP9,
    // the quantiser (1 best .. 31) for ProRes, DNxHD, MPEG-4 and MJPEG.
    std::optional<int> quality;
    FrameRate rate{24, 1};
    // The most threads the encoder may use; 0: as many as it likes.
    int threads = 0;
    // What the frames' colour is, tagged on the stream.
    ColourTags colour;
    // No log from encoders that print their own (x265).
    bool quiet = false;
};

// A movie named by its extension: .mov ProRes 4444 (yuva444p10le, alpha
// kept), .mp4 H.264 (libx264, yuv420p, CRF 18), .mkv FFV1 (lossless; 8-bit
// bgra from 8-bit frames, 16-bit rgba64 from deeper ones), .webm VP9; no
// other name. H.265 (`codec` "h265") is 4:2:0, 8-bit from 8-bit frames and
// 10-bit from deeper ones, tagged hvc1 as players want it. .mov and .mp4
// have their index before the frames (fast start). Every stream carries the
// colour tags of the settings, with the matrix and range the frames were
// converted with. Frames are added in
// order; finish() completes the file. It is written under a temporary name
// beside `path` and renamed only by finish(): a writer destroyed before that
// (a failure, an interrupt) removes it and leaves `path` untouched; a
// temporary name of a writer killed outright is removed by the next writer
// of `path`. The size
// of every frame is the one given; frames of another depth are converted.
// Throws ImageError; ImageWriteError when the file cannot be written.
// Throws the ImageError that a MovieWriter for `path` and `settings` would
// (a name that is no movie, an unknown encoder, one that the container
// cannot hold), without writing anything.
void check_movie_output(const std::string& path, const MovieSettings& settings);

class MovieWriter {
public:
    MovieWriter(const std::string& path, int width, int height, Image::Depth depth, const MovieSettings& settings);
    ~MovieWriter();
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    // The encoder chosen and its pixel format, e.g. "prores_ks", "yuva444p10le".
    const std::string& encoder() const;
    const std::string& pixel_format() const;
    // Set when a setting had no effect on this encoder (a quality for a
    // lossless codec).
    const std::string& warning() const;

    void write(const Image& frame);
    void finish();

    struct State;

private:
    std::unique_ptr<State> state_;
    std::string warning_;
};

}  // namespace cli
