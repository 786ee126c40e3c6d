// Footage: where the frames of an input or a Layer come from, read frame by
// frame (a still, an image sequence, a movie, or pixels in memory).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "footage/image_io.h"
#include "footage/keyframes.h"

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
    // `depth`. Throws ImageError naming the footage's label and the file for
    // a frame that is missing or unreadable.
    virtual Image read(long n, Image::Depth depth) const = 0;

    // The source frames there are, ascending: a movie's 0 to its length - 1,
    // a sequence's files on disk. nullopt where any frame will do (a still)
    // or the frames cannot be listed (a sequence numbered in a folder name).
    virtual std::optional<std::vector<long>> frames() const { return std::nullopt; }
    // Whether source frame `n` is there.
    virtual bool has(long) const { return true; }
    // The size of source frame `n` from its header, for footage whose frames
    // may differ in size; nullopt for footage of one size. Throws ImageError
    // naming the footage's label and the file it cannot read.
    virtual std::optional<std::pair<int, int>> size(long) const { return std::nullopt; }
};

// Opens `name`: a name with a frame token (FramePattern) is a sequence, a
// movie name (is_movie_name) a movie, anything else a still. `label` starts
// every error message (ImageError, ValueError for a bad token). Further kinds
// of footage are chosen here.
std::unique_ptr<Footage> open_footage(const std::string& label, const std::string& name);

// A still image given as pixels (a solid colour, a frame handed over by a
// host); `name` labels it in messages.
std::unique_ptr<Footage> still_footage(std::string name, Image image);

// `read()`, with the value or file errors it throws (ValueError,
// ImageError, ImageWriteError) re-thrown as the same type, their message
// after "`label`: ".
template <class Read>
auto labelled(const std::string& label, Read&& read) -> decltype(read()) {
    try {
        return read();
    } catch (const ImageWriteError& e) {
        throw ImageWriteError(label + ": " + e.what());
    } catch (const ImageError& e) {
        throw ImageError(label + ": " + e.what());
    } catch (const ValueError& e) {
        throw ValueError(label + ": " + e.what());
    }
}

// Throws ImageError "`label`: `path`: no such file" when `path` does not
// exist.
void require_file(const std::string& label, const std::string& path);

// Creates the folder `path` is to be written in, when missing. Throws
// ImageWriteError when it cannot.
void make_parent_folder(const std::string& path);

}  // namespace cli
