// Movies in the renderer: footage read from a movie, and a movie as the
// render's output, encoded in frame order while frames render in parallel.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "footage/movie_io.h"
#include "footage/footage.h"

namespace cli {

// A movie as footage. Reads by several workers at once
// share a few readers (made as needed, kept for the next read): each read
// takes the one that decodes the fewest frames to reach it, waiting for a
// busy one where that is fewest, and converts the decoded frame after
// handing the reader back. Workers walking forward through a long group of
// pictures so decode each frame once between them, and workers on an
// intra-only movie decode side by side. Errors are ImageError naming
// `label` and the file.
std::unique_ptr<Footage> open_movie_footage(const std::string& label, const std::string& path);

// Frames decoded so far by all of a movie's readers (asked while no read is
// in flight); nullopt for footage that is not a movie.
std::optional<int64_t> frames_decoded(const Footage& footage);

// The movie's own frame rate, a scene's default; nullopt for footage that
// is not a movie or a movie without a rate.
std::optional<FrameRate> footage_rate(const Footage& footage);

// The render's frames into one movie, in the order of their indices in the
// frame list. Frames may arrive in any order; each is encoded as soon as
// every one before it is, by the thread that completes the run. A worker
// about to render frame i waits (wait_turn) while i is `window` or more
// ahead of the next frame to encode, which bounds the frames held.
class MovieSink {
public:
    // `encoded` is called, in order, for each frame once it is in the movie;
    // `warn` with the encoder's warning, if any, when the movie is opened.
    MovieSink(std::string path, MovieSettings settings, std::size_t window,
              std::function<void(std::size_t index)> encoded, std::function<void(const std::string&)> warn);

    // False when the sink was stopped (a failure elsewhere) or `cancel` said so
    // while waiting.
    bool wait_turn(std::size_t index, const std::function<bool()>& cancel);
    // Throws ImageWriteError for a frame that cannot be written, ImageError
    // for one that cannot be encoded; the movie is then abandoned.
    void put(std::size_t index, Image image);
    // Wakes every waiting worker; no frame is encoded after it.
    void stop();
    // Completes the movie (all `count` frames given): renames it into place.
    void finish(std::size_t count);

private:
    void encode(const Image& image);

    std::string path_;
    MovieSettings settings_;
    std::size_t window_;
    std::function<void(std::size_t)> encoded_;
    std::function<void(const std::string&)> warn_;
    std::mutex mutex_;
    std::condition_variable turn_;
    std::map<std::size_t, Image> ready_;
    std::size_t next_ = 0;
    bool encoding_ = false;
    bool stopped_ = false;
    std::unique_ptr<MovieWriter> writer_;  // made with the first frame
};

}  // namespace cli
