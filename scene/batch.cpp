#include "scene/batch.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "footage/footage.h"
#include "scene/job.h"
#include "footage/movie_source.h"

namespace cli {

namespace {

// `failure` again, as the same type, its message followed by `tail`.
[[noreturn]] void rethrow_with(const std::exception_ptr& failure, const std::string& tail) {
    try {
        std::rethrow_exception(failure);
    } catch (const EffectError& e) {
        throw EffectError(e.what() + tail);
    } catch (const ImageWriteError& e) {
        throw ImageWriteError(e.what() + tail, e.error());
    } catch (const ImageError& e) {
        throw ImageError(e.what() + tail);
    } catch (const ValueError& e) {
        throw ValueError(e.what() + tail);
    }
}

}  // namespace

OutputPattern OutputPattern::parse(const std::string& text) {
    OutputPattern p;
    p.pattern_ = labelled("output name " + text, [&] { return FramePattern::parse(text); });
    if (!p.pattern_) p.literal_ = unescape_percent(text);
    return p;
}

void check_output_name(const std::string& name) {
    if (!is_image_extension(name) && !is_movie_name(name)) {
        const std::size_t slash = name.find_last_of('/');
        const std::size_t dot = name.find_last_of('.');
        const std::string ext =
            dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : name.substr(dot);
        throw ValueError("output " + name + ": unknown image type \"" + ext +
                         "\" (name it .exr, .png, .tif, .tiff, .dpx, .jpg or .jpeg, or a movie .mov, .mp4, .mkv or "
                         ".webm)");
    }
}

void write_output(const OutputTarget& target, const std::string& path, const Image& image) {
    make_parent_folder(path);
    if (target.from_colorspace == target.to_colorspace) {
        write_image(path, image, target.write);
    } else {
        Image converted = image;
        convert_colorspace(converted, target.from_colorspace, target.to_colorspace);
        write_image(path, converted, target.write);
    }
}

BatchResult render_frames(const RenderJob& job, RenderObserver& observer, const std::function<bool()>& interrupted) {
    const std::vector<long>& frames = job.frames;
    const OutputTarget& target = job.output;
    const int workers = std::max(1, std::min<int>(job.jobs, static_cast<int>(frames.size())));
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::exception_ptr failure;
    BatchResult result;
    bool may_draw = false;

    // A resumed render clears what a killed one left half-written.
    if (job.skip_existing && !target.movie) {
        std::vector<std::string> paths;
        paths.reserve(frames.size());
        for (const long f : frames) paths.push_back(target.pattern.path(f));
        remove_stale_temporaries(paths);
    }

    // A movie takes the frames in list order, a few frames of slack at most.
    std::unique_ptr<MovieSink> sink;
    if (target.movie) {
        const std::string path = target.path(frames.front());
        sink = std::make_unique<MovieSink>(path, *target.movie, static_cast<std::size_t>(workers) + 2,
                                           [&, path](std::size_t i) {
                                               observer.frame_done(frames[i], path);
                                               std::lock_guard<std::mutex> lock(mutex);
                                               result.written.emplace_back(frames[i], path);
                                           },
                                           [&observer](const std::string& message) { observer.warning(message); });
    }

    auto fail = [&](std::exception_ptr f) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!failure) failure = std::move(f);
            stop = true;
        }
        if (sink) sink->stop();
    };

    auto work = [&] {
        try {
            FrameRenderer renderer(job.module, job.scene);
            long frame = 0;
            // Frames into files finish after another frame's failure: their
            // work is kept. A movie is abandoned then, so they stop.
            const bool movie = sink != nullptr;
            renderer.watch([&observer, &frame](long current, long total) { observer.frame_progress(frame, current, total); },
                           [&stop, &interrupted, movie] { return (movie && stop) || interrupted(); });
            while (!stop && !interrupted()) {
                const std::size_t i = next++;
                if (i >= frames.size()) break;
                frame = frames[i];
                const std::string path = target.path(frame);
                std::error_code ec;
                if (sink) {
                    if (!sink->wait_turn(i, [&stop, &interrupted] { return stop || interrupted(); })) break;
                } else if (job.skip_existing && std::filesystem::exists(path, ec)) {
                    observer.frame_skipped(frame, path);
                    continue;
                }
                observer.frame_started(frame);
                Image image = renderer.render(frame);
                // A frame that finishes after an interrupt is not kept.
                if (interrupted()) break;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    ++result.rendered;
                    may_draw |= renderer.no_stroke() == 0;
                    result.no_stroke |= renderer.no_stroke();
                }
                if (sink) {
                    if (target.from_colorspace != target.to_colorspace) {
                        convert_colorspace(image, target.from_colorspace, target.to_colorspace);
                    }
                    sink->put(i, std::move(image));
                    continue;
                }
                write_output(target, path, image);
                observer.frame_done(frame, path);
                std::lock_guard<std::mutex> lock(mutex);
                result.written.emplace_back(frame, path);
            }
        } catch (...) {
            fail(std::current_exception());
        }
    };

    std::vector<std::thread> threads;
    for (int k = 1; k < workers; ++k) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();

    result.interrupted = interrupted();
    if (failure && !result.interrupted) {
        const std::size_t kept = sink ? 0 : result.written.size();
        rethrow_with(failure, "; " + std::to_string(kept) + " of " + std::to_string(frames.size()) + " frames written");
    }
    if (may_draw) result.no_stroke = 0;
    if (sink && !result.interrupted) {
        sink->finish(frames.size());
    } else if (sink) {
        // The movie is incomplete: nothing of it stays.
        sink.reset();
        result.written.clear();
    }
    std::sort(result.written.begin(), result.written.end());
    return result;
}

}  // namespace cli
