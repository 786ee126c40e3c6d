#include "scene/source.h"

#include "scene/session.h"

namespace cli {

struct Source::Slot {
    std::once_flag once;
    std::shared_ptr<standalone::World> world;
};

Source::Source(std::shared_ptr<Footage> footage, long offset, Image::Depth depth, FramePrep prep)
    : footage_(std::move(footage)), offset_(offset), depth_(depth), prep_(std::move(prep)) {}

std::shared_ptr<Source::Slot> Source::slot_for(long source_frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (footage_->still()) {
        if (!still_) still_ = std::make_shared<Slot>();
        return still_;
    }
    for (auto it = held_.begin(); it != held_.end();) {
        it = it->second.expired() ? held_.erase(it) : std::next(it);
    }
    std::weak_ptr<Slot>& entry = held_[source_frame];
    std::shared_ptr<Slot> slot = entry.lock();
    if (!slot) {
        slot = std::make_shared<Slot>();
        entry = slot;
    }
    return slot;
}

std::shared_ptr<standalone::World> Source::frame(long frame) {
    const long n = frame + offset_;
    std::shared_ptr<Slot> slot = slot_for(n);
    // Workers asking for the same frame wait for one read; a failed read
    // leaves the flag unset, so the next asker reports it too.
    std::call_once(slot->once, [&] {
        Image image = footage_->read(n, depth_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!size_) {
                size_.emplace(image.width, image.height);
                first_frame_ = n;
            } else if (size_->first != image.width || size_->second != image.height) {
                throw ImageError(footage_->name(n) + ": frame " + std::to_string(n) + " is " + std::to_string(image.width) + "x" +
                            std::to_string(image.height) + ", unlike frame " + std::to_string(first_frame_) + " (" +
                            std::to_string(size_->first) + "x" + std::to_string(size_->second) +
                            "): every frame of a sequence must have one size");
            }
        }
        if (prep_) image = prep_(std::move(image));
        slot->world = to_world(image);
    });
    // The world lives as long as the slot, which lives as long as a holder.
    return std::shared_ptr<standalone::World>(slot, slot->world.get());
}

}  // namespace cli
