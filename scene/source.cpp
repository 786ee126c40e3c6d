#include "scene/source.h"

#include <algorithm>
#include <set>

#include "scene/session.h"

namespace cli {

struct Source::Slot {
    std::once_flag once;
    std::shared_ptr<standalone::World> world;
};

Source::Source(std::shared_ptr<Footage> footage, long offset, Image::Depth depth, FramePrep prep, FrameEnd end)
    : footage_(std::move(footage)), offset_(offset), end_(end), depth_(depth), prep_(std::move(prep)) {
    if (end_ != FrameEnd::kNone) {
        const std::optional<std::vector<long>> frames = footage_->frames();
        if (frames && !frames->empty()) ends_.emplace(frames->front(), frames->back());
    }
}

long Source::source_frame(long frame) const {
    const long n = frame + offset_;
    if (!ends_ || (n >= ends_->first && n <= ends_->second)) return n;
    if (end_ == FrameEnd::kHold) return n < ends_->first ? ends_->first : ends_->second;
    const long length = ends_->second - ends_->first + 1;
    const long into = (n - ends_->first) % length;
    return ends_->first + (into < 0 ? into + length : into);
}

std::vector<long> missing_frames(const Footage& footage, const std::vector<long>& source_frames) {
    if (footage.still()) return {};
    const std::set<long> needed(source_frames.begin(), source_frames.end());
    const std::optional<std::vector<long>> there = footage.frames();
    std::vector<long> absent;
    for (const long n : needed) {
        if (there ? !std::binary_search(there->begin(), there->end(), n) : !footage.has(n)) absent.push_back(n);
    }
    return absent;
}

std::vector<long> Source::missing(const std::vector<long>& frames) const {
    std::vector<long> needed;
    for (const long f : frames) needed.push_back(source_frame(f));
    return missing_frames(*footage_, needed);
}

void Source::check_sizes(const std::vector<long>& frames) {
    std::set<long> needed;
    for (const long f : frames) needed.insert(source_frame(f));
    for (const long n : needed) {
        const std::optional<std::pair<int, int>> size = footage_->size(n);
        if (!size) return;
        note_size(n, size->first, size->second);
    }
}

void Source::note_size(long n, int width, int height) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!size_) {
        size_.emplace(width, height);
        first_frame_ = n;
    } else if (size_->first != width || size_->second != height) {
        throw ImageError(footage_->name(n) + ": frame " + std::to_string(n) + " is " + std::to_string(width) + "x" +
                    std::to_string(height) + ", unlike frame " + std::to_string(first_frame_) + " (" +
                    std::to_string(size_->first) + "x" + std::to_string(size_->second) +
                    "): every frame of a sequence must have one size");
    }
}

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
    const long n = source_frame(frame);
    std::shared_ptr<Slot> slot = slot_for(n);
    // Workers asking for the same frame wait for one read; a failed read
    // leaves the flag unset, so the next asker reports it too.
    std::call_once(slot->once, [&] {
        Image image = footage_->read(n, depth_);
        note_size(n, image.width, image.height);
        if (prep_) image = prep_(std::move(image));
        slot->world = to_world(image);
    });
    // The world lives as long as the slot, which lives as long as a holder.
    return std::shared_ptr<standalone::World>(slot, slot->world.get());
}

}  // namespace cli
