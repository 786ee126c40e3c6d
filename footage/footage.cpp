#include "footage/footage.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

#include "footage/frame_pattern.h"
#include "footage/movie_source.h"

namespace cli {

namespace {

Image read_file(const std::string& label, const std::string& path, std::optional<Image::Depth> depth) {
    require_file(label, path);
    return labelled(label, [&] { return depth ? read_image(path, *depth) : read_image(path); });
}

class StillFile final : public Footage {
public:
    StillFile(std::string label, std::string path) : label_(std::move(label)), path_(std::move(path)) {}
    bool still() const override { return true; }
    std::string name(long) const override { return path_; }
    Image::Depth depth(long) const override { return stored().depth(); }
    Image read(long, Image::Depth depth) const override {
        // Read straight at the wanted depth: a detour through another depth
        // would round differently.
        std::lock_guard<std::mutex> lock(mutex_);
        if (stored_ && stored_->depth() == depth) return *std::exchange(stored_, std::nullopt);
        return read_file(label_, path_, depth);
    }

private:
    // The native read that answered depth(), handed out by the next read.
    const Image& stored() const {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stored_) stored_ = read_file(label_, path_, std::nullopt);
        return *stored_;
    }

    std::string label_;
    std::string path_;
    mutable std::mutex mutex_;
    mutable std::optional<Image> stored_;
};

class Sequence final : public Footage {
public:
    Sequence(std::string label, FramePattern pattern) : label_(std::move(label)), pattern_(std::move(pattern)) {}
    bool still() const override { return false; }
    std::string name(long n) const override { return pattern_.path_for(n); }
    Image::Depth depth(long n) const override { return read_file(label_, pattern_.path_for(n), std::nullopt).depth(); }
    Image read(long n, Image::Depth depth) const override { return read_file(label_, pattern_.path_for(n), depth); }
    std::optional<std::vector<long>> frames() const override { return pattern_.frames_on_disk(); }
    bool has(long n) const override {
        std::error_code ec;
        return std::filesystem::exists(pattern_.path_for(n), ec);
    }
    std::optional<std::pair<int, int>> size(long n) const override {
        return labelled(label_, [&] { return read_image_size(pattern_.path_for(n)); });
    }

private:
    std::string label_;
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

std::unique_ptr<Footage> open_footage(const std::string& label, const std::string& name) {
    std::optional<FramePattern> pattern = labelled(label, [&] { return FramePattern::parse(name); });
    if (pattern) return std::make_unique<Sequence>(label, std::move(*pattern));
    if (is_movie_name(name)) return open_movie_footage(label, name);
    return std::make_unique<StillFile>(label, name);
}

std::unique_ptr<Footage> still_footage(std::string name, Image image) {
    return std::make_unique<StillImage>(std::move(name), std::move(image));
}

void require_file(const std::string& label, const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) throw ImageError(label + ": " + path + ": no such file");
}

void make_parent_folder(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (parent.empty() || std::filesystem::is_directory(parent, ec)) return;
    std::filesystem::create_directories(parent, ec);
    if (ec) throw ImageWriteError("cannot create the folder " + parent.string() + ": " + ec.message());
}

}  // namespace cli
