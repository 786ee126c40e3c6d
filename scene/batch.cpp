#include "scene/batch.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "scene/job.h"
#include "footage/movie_source.h"

namespace cli {

namespace {

// The signal that asked to stop (0: none). Set by the signal handler;
// lock-free, hence safe there.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void on_interrupt(int sig) {
    int none = 0;
    g_signal.compare_exchange_strong(none, sig);
}

}  // namespace

OutputPattern OutputPattern::parse(const std::string& text) {
    OutputPattern p;
    std::string* part = &p.prefix_;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *part += text[i];
            continue;
        }
        const std::size_t start = i;
        if (i + 1 < text.size() && text[i + 1] == '%') {
            *part += '%';
            ++i;
            continue;
        }
        if (p.numbered_) {
            usage_error("output name " + text + ": more than one % conversion (use %% for a percent sign)");
        }
        ++i;
        for (; i < text.size() && std::string_view("-+ 0#").find(text[i]) != std::string_view::npos; ++i) {
            p.left_ |= text[i] == '-';
            p.zero_ |= text[i] == '0';
            p.plus_ |= text[i] == '+';
            p.space_ |= text[i] == ' ';
        }
        auto digits = [&](int* value) {
            *value = 0;
            for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
                *value = *value * 10 + (text[i] - '0');
                if (*value > 64) {
                    usage_error("output name " + text + ": the frame number's width is too large");
                }
            }
        };
        digits(&p.width_);
        if (i < text.size() && text[i] == '.') {
            ++i;
            digits(&p.precision_);
        }
        if (i >= text.size() || std::string_view("diu").find(text[i]) == std::string_view::npos) {
            usage_error("output name " + text + ": \"" + text.substr(start, i + 1 - start) +
                        "\" is not an integer conversion (use e.g. %04d for the frame number, %% for a percent sign)");
        }
        p.numbered_ = true;
        part = &p.suffix_;
    }
    if (!p.numbered_) {
        // The last run of '#' or '@' is the frame number, one digit each.
        const std::size_t end = p.prefix_.find_last_of("#@");
        if (end != std::string::npos) {
            const std::size_t start = p.prefix_.find_last_not_of(p.prefix_[end], end) + 1;
            p.suffix_ = p.prefix_.substr(end + 1);
            p.width_ = static_cast<int>(end + 1 - start);
            p.zero_ = true;
            p.prefix_.resize(start);
            p.numbered_ = true;
        }
    }
    return p;
}

std::string OutputPattern::path(long frame) const {
    if (!numbered_) return prefix_;
    std::string digits = std::to_string(frame < 0 ? -frame : frame);
    if (precision_ >= 0 && static_cast<int>(digits.size()) < precision_) {
        digits.insert(0, static_cast<std::size_t>(precision_) - digits.size(), '0');
    }
    if (precision_ == 0 && frame == 0) digits.clear();
    const std::string sign = frame < 0 ? "-" : plus_ ? "+" : space_ ? " " : "";
    std::string body = sign + digits;
    if (static_cast<int>(body.size()) < width_) {
        const std::size_t pad = static_cast<std::size_t>(width_) - body.size();
        if (left_) {
            body.append(pad, ' ');
        } else if (zero_ && precision_ < 0) {
            body.insert(sign.size(), pad, '0');
        } else {
            body.insert(0, pad, ' ');
        }
    }
    return prefix_ + body + suffix_;
}

void check_output_name(const std::string& name) {
    if (!is_image_extension(name) && !is_movie_name(name)) {
        const std::size_t slash = name.find_last_of('/');
        const std::size_t dot = name.find_last_of('.');
        const std::string ext =
            dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : name.substr(dot);
        usage_error("output " + name + ": unknown image type \"" + ext +
                    "\" (name it .exr, .png, .tif, .tiff, .dpx or .jpg, or a movie .mov, .mp4 or .mkv)");
    }
}

void write_output(const OutputTarget& target, const std::string& path, const Image& image) {
    make_parent_folder(path);
    write_output_with([&] {
        if (target.from_colorspace == target.to_colorspace) {
            write_image(path, image, target.write);
        } else {
            Image converted = image;
            convert_colorspace(converted, target.from_colorspace, target.to_colorspace);
            write_image(path, converted, target.write);
        }
    });
}

void install_interrupt_handler() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    // Writes in flight go on after the signal, so that they finish whole.
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A second Ctrl-C ends the process the usual way.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
}

bool interrupt_requested() { return g_signal.load() != 0; }

void end_by_interrupt() {
    const int sig = g_signal.load() != 0 ? g_signal.load() : SIGINT;
    std::fflush(nullptr);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    // Only if the signal's default action does not end the process.
    std::_Exit(128 + sig);
}

BatchResult render_frames(const RenderJob& job, Progress& progress) {
    const std::vector<long>& frames = job.frames;
    const OutputTarget& target = job.output;
    const int workers = std::max(1, std::min<int>(job.jobs, static_cast<int>(frames.size())));
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::optional<Failure> failure;
    BatchResult result;
    bool may_draw = false;

    // A movie takes the frames in list order, a few frames of slack at most.
    std::unique_ptr<MovieSink> sink;
    if (target.movie) {
        const std::string path = target.path(frames.front());
        sink = std::make_unique<MovieSink>(path, *target.movie, static_cast<std::size_t>(workers) + 2,
                                           [&, path](std::size_t i) {
                                               progress.frame_done(frames[i], path);
                                               std::lock_guard<std::mutex> lock(mutex);
                                               result.written.emplace_back(frames[i], path);
                                           });
    }

    auto fail = [&](const Failure& f) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!failure) failure = f;
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
            renderer.watch([&progress, &frame](long current, long total) { progress.frame_progress(frame, current, total); },
                           [&stop, movie] { return (movie && stop) || interrupt_requested(); });
            while (!stop && !interrupt_requested()) {
                const std::size_t i = next++;
                if (i >= frames.size()) break;
                frame = frames[i];
                const std::string path = target.path(frame);
                std::error_code ec;
                if (sink) {
                    if (!sink->wait_turn(i, [&stop] { return stop || interrupt_requested(); })) break;
                } else if (job.skip_existing && std::filesystem::exists(path, ec)) {
                    progress.frame_skipped(frame, path);
                    continue;
                }
                progress.frame_started(frame);
                Image image = renderer.render(frame);
                // A frame that finishes after an interrupt is not kept.
                if (interrupt_requested()) break;
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
                progress.frame_done(frame, path);
                std::lock_guard<std::mutex> lock(mutex);
                result.written.emplace_back(frame, path);
            }
        } catch (const Failure& f) {
            fail(f);
        } catch (const std::bad_alloc&) {
            fail(Failure(kExitEffectError, "out of memory"));
        } catch (const std::exception& e) {
            fail(Failure(kExitEffectError, e.what()));
        }
    };

    std::vector<std::thread> threads;
    for (int k = 1; k < workers; ++k) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();

    result.interrupted = interrupt_requested();
    if (failure && !result.interrupted) {
        const std::size_t kept = sink ? 0 : result.written.size();
        throw Failure(failure->exit_code(), std::string(failure->what()) + "; " + std::to_string(kept) + " of " +
                                                std::to_string(frames.size()) + " frames written");
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
