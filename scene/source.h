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

#include "footage/footage.h"
#include "footage/image_io.h"
#include "standalone/world.h"

namespace cli {

// Turns a read frame into what the render uses (colour, downsample).
using FramePrep = std::function<Image(Image)>;

// Footage as the batch uses it: render frame f shows source frame
// f + offset, at one depth and prepared once per source frame. Thread-safe.
class Source {
public:
    Source(std::shared_ptr<Footage> footage, long offset, Image::Depth depth, FramePrep prep);

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

    std::shared_ptr<Footage> footage_;
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
