#include "footage/movie_source.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <stdexcept>
#include <vector>

#include "footage/footage.h"

namespace cli {

namespace {

class MovieFootage final : public Footage {
public:
    MovieFootage(std::string label, std::unique_ptr<MovieReader> first)
        : label_(std::move(label)), info_(first->info()), path_(first->name()), model_(first.get()) {
        readers_.push_back(Reader{std::move(first), -1, false});
    }

    bool still() const override { return false; }
    std::string name(long) const override { return path_; }
    Image::Depth depth(long) const override { return info_.depth; }
    const MovieInfo& info() const { return info_; }
    std::optional<std::vector<long>> frames() const override {
        std::vector<long> all(static_cast<std::size_t>(std::max<int64_t>(info_.frames, 0)));
        for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<long>(i);
        return all;
    }

    Image read(long n, Image::Depth depth) const override {
        return labelled(label_, [&] { return decoded(n).image(depth); });
    }

    int64_t decoded_frames() const {
        std::lock_guard<std::mutex> lock(mutex_);
        int64_t total = 0;
        for (const Reader& r : readers_) total += r.reader->decoded_frames();
        return total;
    }

private:
    struct Reader {
        std::unique_ptr<MovieReader> reader;
        // Where it stands, or will once its read in progress is done, and
        // where that read started.
        int64_t place = -1;
        int64_t from = -1;
        bool busy = false;
    };

    // Frames decoded on the way to others, kept for a worker just behind:
    // workers rarely ask in exactly the order they took their frames. A few
    // frames of memory, as a decoder's own reference frames are.
    static constexpr std::size_t kKept = 8;

    // Frame `n` from the reader that reaches it decoding the fewest frames.
    // A busy one is waited for when that is fewest (or it will hand `n` on):
    // two workers on a long group of pictures then share one reader, not
    // decode every frame twice.
    DecodedFrame decoded(long n) const {
        std::unique_lock<std::mutex> lock(mutex_);
        Reader* best = nullptr;
        for (;;) {
            if (const auto kept = kept_.find(n); kept != kept_.end()) {
                DecodedFrame frame = std::move(kept->second);
                kept_.erase(kept);
                return frame;
            }
            best = nullptr;
            int64_t best_cost = model_->decode_cost(-1, n);  // a new reader's
            for (Reader& r : readers_) {
                const int64_t cost = r.busy && model_->passes(r.from, r.place, n) ? 0 : model_->decode_cost(r.place, n);
                if (cost < best_cost || (cost == best_cost && !r.busy && (!best || best->busy))) {
                    best = &r;
                    best_cost = cost;
                }
            }
            if (!best || !best->busy) break;
            returned_.wait(lock);
        }
        if (!best) {
            lock.unlock();
            std::unique_ptr<MovieReader> reader = model_->open();
            lock.lock();
            readers_.push_back(Reader{std::move(reader)});
            best = &readers_.back();
        }
        best->busy = true;
        best->from = best->place;
        best->place = n;
        MovieReader* reader = best->reader.get();
        lock.unlock();
        const auto give_back = [&] {
            {
                std::lock_guard<std::mutex> relock(mutex_);
                for (Reader& r : readers_) {
                    if (r.reader.get() == reader) {
                        r.busy = false;
                        r.place = reader->position();
                    }
                }
            }
            returned_.notify_all();
        };
        try {
            DecodedFrame frame = reader->decode(n, [this](int64_t f, DecodedFrame passed) { keep(f, std::move(passed)); });
            give_back();
            return frame;
        } catch (...) {
            give_back();
            throw;
        }
    }

    void keep(int64_t n, DecodedFrame frame) const {
        std::lock_guard<std::mutex> lock(mutex_);
        kept_.insert_or_assign(n, std::move(frame));
        if (kept_.size() > kKept) kept_.erase(kept_.begin());
    }

    std::string label_;
    MovieInfo info_;
    std::string path_;
    mutable std::mutex mutex_;
    mutable std::condition_variable returned_;
    mutable std::vector<Reader> readers_;
    mutable std::map<int64_t, DecodedFrame> kept_;
    // Readers live as long as the footage; open(), decode_cost() and
    // passes() only read what never changes after opening, so they may be
    // called while this one is busy.
    const MovieReader* model_;
};

}  // namespace

std::unique_ptr<Footage> open_movie_footage(const std::string& label, const std::string& path) {
    require_file(label, path);
    return labelled(label, [&] { return std::make_unique<MovieFootage>(label, std::make_unique<MovieReader>(path)); });
}

std::optional<int64_t> frames_decoded(const Footage& footage) {
    const auto* movie = dynamic_cast<const MovieFootage*>(&footage);
    if (!movie) return std::nullopt;
    return movie->decoded_frames();
}

std::optional<FrameRate> footage_rate(const Footage& footage) {
    const auto* movie = dynamic_cast<const MovieFootage*>(&footage);
    if (!movie || movie->info().rate.num <= 0) return std::nullopt;
    return movie->info().rate;
}

std::optional<ColourTags> footage_colour(const Footage& footage) {
    const auto* movie = dynamic_cast<const MovieFootage*>(&footage);
    if (!movie) return std::nullopt;
    return movie->info().colour;
}

MovieSink::MovieSink(std::string path, MovieSettings settings, std::size_t window,
                     std::function<void(std::size_t)> encoded, std::function<void(const std::string&)> warn)
    : path_(std::move(path)), settings_(std::move(settings)), window_(std::max<std::size_t>(window, 1)),
      encoded_(std::move(encoded)), warn_(std::move(warn)) {}

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
    if (!writer_) {
        make_parent_folder(path_);
        writer_ = std::make_unique<MovieWriter>(path_, image.width, image.height, image.depth(), settings_);
        if (!writer_->warning().empty() && warn_) warn_(writer_->warning());
    }
    writer_->write(image);
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
        throw std::logic_error(path_ + ": not every frame reached the movie");
    }
    writer_->finish();
}

}  // namespace cli
