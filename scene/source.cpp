#include "scene/source.h"


#include "footage/frame_pattern.h"
#include "footage/movie_source.h"
#include "scene/session.h"

namespace cli {

namespace {

Image read_file(const std::string& flag, const std::string& path, std::optional<Image::Depth> depth) {
    require_file(flag, path);
    return flag_value(flag, [&] { return depth ? read_image(path, *depth) : read_image(path); });
}

class StillFile final : public Footage {
public:
    StillFile(std::string flag, std::string path) : flag_(std::move(flag)), path_(std::move(path)) {}
    bool still() const override { return true; }
    std::string name(long) const override { return path_; }
    Image::Depth depth(long) const override { return stored().depth(); }
    Image read(long, Image::Depth depth) const override {
        // Read straight at the wanted depth: a detour through another depth
        // would round differently.
        std::lock_guard<std::mutex> lock(mutex_);
        if (stored_ && stored_->depth() == depth) return *std::exchange(stored_, std::nullopt);
        return read_file(flag_, path_, depth);
    }

private:
    // The native read that answered depth(), handed out by the next read.
    const Image& stored() const {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stored_) stored_ = read_file(flag_, path_, std::nullopt);
        return *stored_;
    }

    std::string flag_;
    std::string path_;
    mutable std::mutex mutex_;
    mutable std::optional<Image> stored_;
};

class Sequence final : public Footage {
public:
    Sequence(std::string flag, FramePattern pattern) : flag_(std::move(flag)), pattern_(std::move(pattern)) {}
    bool still() const override { return false; }
    std::string name(long n) const override { return pattern_.path_for(n); }
    Image::Depth depth(long n) const override { return read_file(flag_, pattern_.path_for(n), std::nullopt).depth(); }
    Image read(long n, Image::Depth depth) const override { return read_file(flag_, pattern_.path_for(n), depth); }

private:
    std::string flag_;
    FramePattern pattern_;
};

class StillImage final : public Footage {
public:
    StillImage(std::string name, Image image) : name_(std::move(name)), image_(std::move(image)) {}
    bool still() const override { return true; }
    std::string name(long) const override { return name_; }
    Image::Depth depth(long) const override { return image_.depth(); }
    Image read(long, Image::Depth depth) const override { return convert(image_, depth); }

private:
    std::string name_;
    Image image_;
};

}  // namespace

std::unique_ptr<Footage> open_footage(const std::string& flag, const std::string& name) {
    std::optional<FramePattern> pattern = flag_value(flag, [&] { return FramePattern::parse(name); });
    if (pattern) return std::make_unique<Sequence>(flag, std::move(*pattern));
    if (is_movie_name(name)) return open_movie_footage(flag, name);
    return std::make_unique<StillFile>(flag, name);
}

std::unique_ptr<Footage> still_footage(std::string name, Image image) {
    return std::make_unique<StillImage>(std::move(name), std::move(image));
}

struct Source::Slot {
    std::once_flag once;
    std::shared_ptr<standalone::World> world;
};

Source::Source(std::unique_ptr<Footage> footage, long offset, Image::Depth depth, FramePrep prep)
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
                usage_error(footage_->name(n) + ": frame " + std::to_string(n) + " is " + std::to_string(image.width) + "x" +
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
