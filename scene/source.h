// A scene's input or Layer: footage at the render's depth and draft size. A
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

#include "footage/footage.h"
#include "footage/image_io.h"
#include "standalone/world.h"

namespace cli {

// Of `source_frames`, those the footage lacks, ascending, each once (none
// for a still).
std::vector<long> missing_frames(const Footage& footage, const std::vector<long>& source_frames);

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
    Source(std::shared_ptr<Footage> footage, long offset, Image::Depth depth, FramePrep prep,
           FrameEnd end = FrameEnd::kNone);

    // The source frame that render frame `frame` shows.
    long source_frame(long frame) const;
    // The source frames that render `frames` need and the footage lacks,
    // ascending, each once.
    std::vector<long> missing(const std::vector<long>& frames) const;
    // Reads the size of every source frame `frames` need from its header:
    // throws ImageError, as frame() would, for one whose size
    // differs from the first.
    void check_sizes(const std::vector<long>& frames);

    // The world for render frame `frame`, shared by every worker that asks
    // for the same source frame while one still holds it. Throws ImageError
    // for a missing frame, and for a frame whose size differs
    // from the first one read.
    std::shared_ptr<standalone::World> frame(long frame);

    const Footage& footage() const { return *footage_; }
    long offset() const { return offset_; }
    Image::Depth depth() const { return depth_; }

private:
    struct Slot;
    std::shared_ptr<Slot> slot_for(long source_frame);

    void note_size(long source_frame, int width, int height);

    std::shared_ptr<Footage> footage_;
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
