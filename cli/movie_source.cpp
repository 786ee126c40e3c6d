#include "cli/movie_source.h"

#include <chrono>
#include <vector>

#include "cli/session.h"

namespace cli {

namespace {

class MovieFootage final : public Footage {
public:
    MovieFootage(std::string flag, std::unique_ptr<MovieReader> first)
        : flag_(std::move(flag)), info_(first->info()), path_(first->name()), model_(first.get()) {
        idle_.push_back(std::move(first));
    }

    bool still() const override { return false; }
    std::string name(long) const override { return path_; }
    Image::Depth depth(long) const override { return info_.depth; }
    const MovieInfo& info() const { return info_; }

    Image read(long n, Image::Depth depth) const override {
        // Back to the pool whatever happens: another reader may open from it.
        const std::unique_ptr<MovieReader, std::function<void(MovieReader*)>> reader(
            take(n).release(), [this](MovieReader* r) { give_back(std::unique_ptr<MovieReader>(r)); });
        return flag_value(flag_, [&] { return reader->read(n, depth); });
    }

private:
    // The idle reader placed last before `n`, else any, else a new one.
    std::unique_ptr<MovieReader> take(long n) const {
        std::lock_guard<std::mutex> lock(mutex_);
        if (idle_.empty()) return model_->open();
        auto score = [n](const std::unique_ptr<MovieReader>& r) { return r->position() < n ? r->position() : -2; };
        std::size_t best = 0;
        for (std::size_t i = 1; i < idle_.size(); ++i) {
            if (score(idle_[i]) > score(idle_[best])) best = i;
        }
        std::unique_ptr<MovieReader> reader = std::move(idle_[best]);
        idle_.erase(idle_.begin() + static_cast<std::ptrdiff_t>(best));
        return reader;
    }

    void give_back(std::unique_ptr<MovieReader> reader) const {
        std::lock_guard<std::mutex> lock(mutex_);
        idle_.push_back(std::move(reader));
    }

    std::string flag_;
    MovieInfo info_;
    std::string path_;
    mutable std::mutex mutex_;
    mutable std::vector<std::unique_ptr<MovieReader>> idle_;
    // Readers live as long as the footage; open() only reads what never
    // changes after opening, so it may be called while this one is busy.
    const MovieReader* model_;
};

}  // namespace

std::unique_ptr<Footage> open_movie_footage(const std::string& flag, const std::string& path) {
    require_file(flag, path);
    return flag_value(flag, [&] { return std::make_unique<MovieFootage>(flag, std::make_unique<MovieReader>(path)); });
}

std::optional<FrameRate> footage_rate(const Footage& footage) {
    const auto* movie = dynamic_cast<const MovieFootage*>(&footage);
    if (!movie || movie->info().rate.num <= 0) return std::nullopt;
    return movie->info().rate;
}

MovieSink::MovieSink(std::string path, MovieSettings settings, std::size_t window,
                     std::function<void(std::size_t)> encoded)
    : path_(std::move(path)), settings_(std::move(settings)), window_(std::max<std::size_t>(window, 1)),
      encoded_(std::move(encoded)) {}

bool MovieSink::wait_turn(std::size_t index, const std::function<bool()>& cancel) {
    std::unique_lock<std::mutex> lock(mutex_);
    // An interrupt cannot notify; look again now and then.
    while (!stopped_ && index >= next_ + window_) {
        if (cancel && cancel()) return false;
        turn_.wait_for(lock, std::chrono::milliseconds(50));
    }
    return !stopped_;
}

void MovieSink::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    turn_.notify_all();
}

void MovieSink::encode(const Image& image) {
    write_output_with([&] {
        if (!writer_) {
            make_parent_folder(path_);
            writer_ = std::make_unique<MovieWriter>(path_, image.width, image.height, image.depth(), settings_);
            if (!writer_->warning().empty()) std::fprintf(stderr, "trellis: warning: %s\n", writer_->warning().c_str());
        }
        writer_->write(image);
    });
}

void MovieSink::put(std::size_t index, Image image) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopped_) return;
    ready_.emplace(index, std::move(image));
    if (encoding_) return;
    encoding_ = true;
    try {
        for (auto it = ready_.find(next_); it != ready_.end() && !stopped_; it = ready_.find(next_)) {
            Image frame = std::move(it->second);
            ready_.erase(it);
            lock.unlock();
            encode(frame);
            encoded_(next_);
            lock.lock();
            ++next_;
            turn_.notify_all();
        }
    } catch (...) {
        if (!lock.owns_lock()) lock.lock();
        encoding_ = false;
        stopped_ = true;
        turn_.notify_all();
        throw;
    }
    encoding_ = false;
}

void MovieSink::finish(std::size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_ || next_ != count || !writer_) {
        throw Failure(kExitEffectError, path_ + ": not every frame reached the movie");
    }
    write_output_with([&] { writer_->finish(); });
}

}  // namespace cli
