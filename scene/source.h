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
#include <utility>
#include <vector>

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

    // The source frames there are, ascending: a movie's 0 to its length - 1,
    // a sequence's files on disk. nullopt where any frame will do (a still)
    // or the frames cannot be listed (a sequence numbered in a folder name).
    virtual std::optional<std::vector<long>> frames() const { return std::nullopt; }
    // Whether source frame `n` is there.
    virtual bool has(long) const { return true; }
    // The size of source frame `n` from its header, for footage whose frames
    // may differ in size; nullopt for footage of one size. Throws Failure
    // (kExitUsage) naming the file it cannot read.
    virtual std::optional<std::pair<int, int>> size(long) const { return std::nullopt; }
};

// Opens `name` as --input or --layer name it: a frame pattern ("####",
// "@@@", "%04d") is a sequence, a movie name (is_movie_name) a movie,
// anything else a still. `flag` labels
// errors. Further kinds of footage are chosen here.
std::unique_ptr<Footage> open_footage(const std::string& flag, const std::string& name);

// Of `source_frames`, those the footage lacks, ascending, each once (none
// for a still).
std::vector<long> missing_frames(const Footage& footage, const std::vector<long>& source_frames);

// A still image given as pixels (the solid colours of --input-size).
std::unique_ptr<Footage> still_footage(std::string name, Image image);

// Turns a read frame into what the render uses (colour, downsample).
using FramePrep = std::function<Image(Image)>;

// What a render frame past either end of the footage's frames shows:
// nothing (an error), the nearest end's frame, or the frames over again.
enum class FrameEnd { kNone, kHold, kLoop };

// Footage as the batch uses it: render frame f shows source frame
// f + offset (past the ends as `end` says), at one depth and prepared once
// per source frame. Thread-safe.
class Source {
public:
    Source(std::unique_ptr<Footage> footage, long offset, Image::Depth depth, FramePrep prep,
           FrameEnd end = FrameEnd::kNone);

    // The source frame that render frame `frame` shows.
    long source_frame(long frame) const;
    // The source frames that render `frames` need and the footage lacks,
    // ascending, each once.
    std::vector<long> missing(const std::vector<long>& frames) const;
    // Reads the size of every source frame `frames` need from its header:
    // throws Failure (kExitUsage), as frame() would, for one whose size
    // differs from the first.
    void check_sizes(const std::vector<long>& frames);

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

    void note_size(long source_frame, int width, int height);

    std::unique_ptr<Footage> footage_;
    long offset_;
    FrameEnd end_;
    // The footage's first and last frames, where past them is not an error.
    std::optional<std::pair<long, long>> ends_;
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
