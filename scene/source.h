// Where the frames of --input and --layer come from: a still, an image
// sequence (and, through the same interface, other kinds of footage). A
// Source hands a worker the frame a render needs, ready for the host, and
// keeps it only while some frame in flight holds it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "footage/image_io.h"
#include "standalone/world.h"

namespace cli {

// One kind of footage, read frame by frame. Implementations are called from
// several worker threads at once.
class Footage {
public:
    virtual ~Footage() = default;

    // True when every frame is the same picture (read once, shared).
    virtual bool still() const = 0;
    // The file (or name) of source frame `n`, for messages.
    virtual std::string name(long n) const = 0;
    // The depth of source frame `n` as stored.
    virtual Image::Depth depth(long n) const = 0;
    // Source frame `n` converted straight from the stored samples to
    // `depth`. Throws Failure (kExitUsage) naming the file for a frame that
    // is missing or unreadable.
    virtual Image read(long n, Image::Depth depth) const = 0;
};

// Opens `name` as --input or --layer name it: a frame pattern ("####",
// "@@@", "%04d") is a sequence, a movie name (is_movie_name) a movie,
// anything else a still. `flag` labels
// errors. Further kinds of footage are chosen here.
std::unique_ptr<Footage> open_footage(const std::string& flag, const std::string& name);

// A still image given as pixels (the solid colours of --input-size).
std::unique_ptr<Footage> still_footage(std::string name, Image image);

// Turns a read frame into what the render uses (colour, downsample).
using FramePrep = std::function<Image(Image)>;

// Footage as the batch uses it: render frame f shows source frame
// f + offset, at one depth and prepared once per source frame. Thread-safe.
class Source {
public:
    Source(std::unique_ptr<Footage> footage, long offset, Image::Depth depth, FramePrep prep);

    // The world for render frame `frame`, shared by every worker that asks
    // for the same source frame while one still holds it. Throws Failure
    // (kExitUsage) for a missing frame, and for a frame whose size differs
    // from the first one read.
    std::shared_ptr<standalone::World> frame(long frame);

    const Footage& footage() const { return *footage_; }
    long offset() const { return offset_; }
    Image::Depth depth() const { return depth_; }

private:
    struct Slot;
    std::shared_ptr<Slot> slot_for(long source_frame);

    std::unique_ptr<Footage> footage_;
    long offset_;
    Image::Depth depth_;
    FramePrep prep_;

    std::mutex mutex_;
    // Frames some worker holds; an entry lives as long as its holders.
    std::map<long, std::weak_ptr<Slot>> held_;
    // A still's one frame, kept for the whole render.
    std::shared_ptr<Slot> still_;
    std::optional<std::pair<int, int>> size_;  // of the first frame read
    long first_frame_ = 0;
};

}  // namespace cli
