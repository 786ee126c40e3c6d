#include "cli/render_command.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "cli/failure.h"
#include "cli/find_module.h"
#include "footage/frame_pattern.h"
#include "footage/keyframes.h"
#include "footage/movie_source.h"
#include "masks/mask_track.h"
#include "scene/job.h"
#include "scene/request.h"
#include "farm/chunks.h"

namespace cli {

namespace {

// Far more than any animation; keeps the frame list finite.
constexpr std::size_t kMaxFrames = 1'000'000;

// The working space once any colour flag is given; with none, values pass
// as stored.
constexpr const char* kDefaultWorkingSpace = "linear";

Image::Depth depth_of_flag(const std::string& depth) {
    if (depth == "8") return Image::k8;
    if (depth == "16") return Image::k16;
    return Image::kFloat;
}

std::unique_ptr<Footage> solid_footage(const std::string& size_flag, const std::string& size_text,
                                       const std::string& colour_flag, const std::string& colour_text) {
    const Size size = flag_value(size_flag, [&] { return parse_size(size_text); });
    const PF_Pixel8 colour = flag_value(colour_flag, [&] { return parse_colour(colour_text); });
    Image image = flag_value(size_flag, [&] { return make_image(size.width, size.height, Image::k8); });
    std::fill(image.get<PF_Pixel8>().begin(), image.get<PF_Pixel8>().end(), colour);
    return still_footage(size_flag + " " + size_text, std::move(image));
}

std::vector<standalone::MaskKeyframe> mask_keys(const std::string& text, const std::vector<long>& frames) {
    std::vector<std::string> warnings;
    const auto warn = [&] {
        for (const std::string& w : warnings) std::fprintf(stderr, "trellis: warning: --mask: %s\n", w.c_str());
    };
    try {
        std::vector<standalone::MaskKeyframe> keys = load_mask(text, frames, &warnings);
        warn();
        return keys;
    } catch (const ValueError& e) {
        warn();
        usage_error(std::string("--mask: ") + e.what());
    }
}

// One rule for flags the output cannot honour: a flag that would do
// nothing to this output, or not what it says, is refused; a choice that
// works but probably looks wrong is warned about (see linear_warning).
void check_output_flags(const RenderArgs& args) {
    const std::string type = lower_extension(args.out);
    const bool movie = is_movie_name(args.out);
    const struct {
        const char* flag;
        bool given;
        bool applies;
        const char* output;
    } flags[] = {
        {"--exr-compression", !args.exr_compression.empty(), type == "exr", "an .exr"},
        {"--exr-type", !args.exr_type.empty(), type == "exr", "an .exr"},
        {"--png-compression", args.png_compression >= 0, type == "png", "a .png"},
        {"--codec", !args.codec.empty(), movie, "a movie"},
        {"--quality", args.quality >= 0, movie, "a movie"},
    };
    for (const auto& f : flags) {
        if (f.given && !f.applies) {
            usage_error(std::string(f.flag) + ": only for " + f.output + " output, and " + args.out + " is not one");
        }
    }
    if (args.depth == "8" && type == "exr") {
        usage_error("--depth 8: " + args.out +
                    " holds float samples, which would only carry 8-bit steps; render at --depth 16 or 32, or "
                    "write .png, .tif or .dpx for 8 bits");
    }
}

// Integer files and movies are looked at as display pictures: linear values
// in them look dark and band, and values above 1 clip.
std::optional<std::string> linear_warning(const RenderArgs& args, const std::string& output_space) {
    if (!args.output_colorspace.empty() || lower_extension(args.out) == "exr") return std::nullopt;
    if (!is_linear_colorspace(output_space)) return std::nullopt;
    return args.out + " gets linear values (colour space \"" + escape_text(output_space) +
           "\"), which look dark in a viewer or player; give --output-colorspace, e.g. sRGB, to convert them";
}

// A render frame must fit the effect's time.
void check_frame_number(long frame, const std::string& where) {
    if (frame > INT32_MAX || frame < -INT32_MAX) {
        usage_error(where + ": frame numbers go up to " + std::to_string(INT32_MAX));
    }
}

// Without --frames: the input's own frames, as render frames (a still's is
// frame 0).
std::vector<long> input_frames(const Footage& input, const std::string& name, long offset) {
    if (input.still()) return {0};
    const std::optional<std::vector<long>> there = input.frames();
    if (!there) usage_error("--input " + name + ": its frames cannot be listed (a frame number in a folder name): give --frames");
    if (there->empty()) usage_error("--input " + name + ": no frame of it is there; give the name of one on disk");
    if (static_cast<std::size_t>(there->back() - there->front()) >= kMaxFrames) {
        usage_error("--input " + name + ": frames " + std::to_string(there->front()) + " to " +
                    std::to_string(there->back()) + " are too many to render at once: give --frames");
    }
    std::vector<long> frames;
    for (long n = there->front(); n <= there->back(); ++n) {
        check_frame_number(n - offset, "--input " + name + " with --input-offset " + std::to_string(offset));
        frames.push_back(n - offset);
    }
    return frames;
}

// At most a line's worth of runs.
std::string short_runs(const std::vector<long>& frames) {
    std::string runs = frame_runs(frames);
    if (runs.size() > 80) runs = runs.substr(0, runs.rfind(',', 80)) + ",...";
    return runs;
}

// Every source frame the render needs is there, or the error says what is.
void check_frames_there(const std::string& flag, const std::string& name, const Footage& footage,
                        const std::vector<long>& absent, long offset, const std::string& hint) {
    if (absent.empty()) return;
    std::string message = flag + " " + name + ": no frame" + (absent.size() > 1 ? "s " : " ") + short_runs(absent);
    const std::string file = footage.name(absent.front());
    if (file != name) message += " (" + file + (absent.size() > 1 ? ", ...)" : ")");
    if (offset != 0) {
        std::vector<long> asked;
        for (const long n : absent) asked.push_back(n - offset);
        message += " for frame" + std::string(absent.size() > 1 ? "s " : " ") + short_runs(asked) + " (" + flag +
                   "-offset " + std::to_string(offset) + ")";
    }
    if (const std::optional<std::vector<long>> there = footage.frames()) {
        message += there->empty() ? "; none of its frames is there" : "; " + name + " has frames " + short_runs(*there);
    }
    usage_error(message + hint);
}

// The frames a render will render: with skip_existing, not those whose
// file is there.
std::vector<long> frames_to_render(const std::vector<long>& frames, const OutputTarget& output, bool skip_existing) {
    if (!skip_existing || output.movie) return frames;
    std::vector<long> left;
    for (const long f : frames) {
        std::error_code ec;
        if (!std::filesystem::exists(output.path(f), ec)) left.push_back(f);
    }
    return left;
}

FrameEnd frame_end(const std::string& text) {
    if (text == "hold") return FrameEnd::kHold;
    if (text == "loop") return FrameEnd::kLoop;
    return FrameEnd::kNone;
}

// The scene the flags describe but for the mask and the depth, which depend
// on the frames.
SceneRequest scene_sources(const RenderArgs& args) {
    require_input(args);
    SceneRequest request;
    if (!args.fps.empty()) request.rate = flag_value("--fps", [&] { return parse_frame_rate(args.fps); });
    if (!args.downsample.empty()) {
        request.downsample = flag_value("--downsample", [&] { return parse_downsample(args.downsample); });
    }
    const ColourSpaces colour = colour_spaces(args);
    request.working_colorspace = colour.working;

    // The module first: flag values are checked against what it declares
    // before any image is read.
    request.module = load_module(args.plugin);
    request.settings = resolve_settings(declared_params(request.module), args.values);

    request.input.footage = args.input.empty() ? solid_footage("--input-size", args.input_size, "--input-color",
                                                               args.input_color)
                                               : open_footage("--input", args.input);
    request.input.offset = args.input_offset;
    request.input.colorspace = colour.input;
    if (!args.layer.empty() || !args.layer_size.empty()) {
        SourceRequest& layer = request.layer.emplace();
        layer.footage = args.layer.empty()
                            ? solid_footage("--layer-size", args.layer_size, "--layer-color", args.layer_color)
                            : open_footage("--layer", args.layer);
        layer.offset = args.layer_offset;
        layer.end = frame_end(args.layer_end);
        layer.colorspace = colour.layer;
    }
    return request;
}

// The mask for `frames`, and without --depth the depth of the input frame
// that render frame `depth_frame` shows (none left to render: any depth will
// do).
void add_mask_and_depth(SceneRequest& request, const RenderArgs& args, const std::vector<long>& frames,
                        std::optional<long> depth_frame) {
    if (!args.mask.empty()) request.mask = mask_keys(args.mask, frames);
    if (!args.depth.empty()) {
        request.depth = depth_of_flag(args.depth);
    } else if (depth_frame) {
        request.depth = request.input.footage->depth(*depth_frame + args.input_offset);
    }
}

}  // namespace

std::vector<long> frame_list(const std::string& text) {
    if (text.empty()) return {0};
    const std::vector<int64_t> list = flag_value("--frames", [&] { return parse_frame_list(text, kMaxFrames); });
    std::vector<long> frames;
    for (const int64_t f : list) {
        if (f > INT32_MAX) {
            usage_error("--frames " + text + ": frame numbers go up to " + std::to_string(INT32_MAX));
        }
        frames.push_back(static_cast<long>(f));
    }
    return frames;
}

namespace {

// The part of `frames` that --chunk names.
std::vector<long> chunk_of_list(const std::vector<long>& frames, const std::string& text) {
    try {
        const farm::Chunk chunk = text == "slurm" ? farm::slurm_chunk(std::getenv) : farm::parse_chunk(text);
        const std::vector<int64_t> part = farm::chunk_of({frames.begin(), frames.end()}, chunk);
        return {part.begin(), part.end()};
    } catch (const farm::ChunkError& e) {
        usage_error(std::string("--chunk: ") + e.what());
    }
}

}  // namespace

ColourSpaces colour_spaces(const RenderArgs& args) {
    ColourSpaces c;
    c.active = !(args.working_colorspace.empty() && args.input_colorspace.empty() && args.layer_colorspace.empty() &&
                 args.output_colorspace.empty());
    if (!c.active) return c;
    std::vector<std::string> known;
    try {
        known = colorspace_names();
    } catch (const ImageError& e) {
        usage_error(e.what());
    }
    auto check = [&](const char* flag, const std::string& name, const std::string& fallback) {
        if (name.empty()) return fallback;
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            std::string list;
            for (const std::string& k : known) list += (list.empty() ? "" : ", ") + k;
            usage_error(std::string(flag) + ": unknown colour space \"" + escape_text(name) + "\" (known: " + list +
                        ")");
        }
        return name;
    };
    c.working = check("--working-colorspace", args.working_colorspace, kDefaultWorkingSpace);
    c.input = check("--input-colorspace", args.input_colorspace, c.working);
    c.layer = check("--layer-colorspace", args.layer_colorspace, c.working);
    c.output = check("--output-colorspace", args.output_colorspace, c.working);
    return c;
}

SceneRequest scene_request(const RenderArgs& args, const std::vector<long>& frames, std::optional<long> depth_frame) {
    SceneRequest request = scene_sources(args);
    add_mask_and_depth(request, args, frames, depth_frame);
    return request;
}

RenderJob make_job(const RenderArgs& args) {
    require_input(args);
    RenderJob job;
    check_output_name(args.out);
    job.output.pattern = OutputPattern::parse(args.out);
    check_output_flags(args);
    if (!args.exr_compression.empty()) {
        job.output.write.exr_compression =
            flag_value("--exr-compression", [&] { return parse_exr_compression(args.exr_compression); });
    }
    if (!args.exr_type.empty()) {
        job.output.write.exr_type = flag_value("--exr-type", [&] { return parse_exr_type(args.exr_type); });
    }
    if (args.png_compression >= 0) job.output.write.png_compression = args.png_compression;
    job.output.frame_offset = args.output_offset;
    // Without --frames, the input's own: known once it is open.
    if (!args.frames.empty()) job.frames = frame_list(args.frames);
    // The scene's flags are read again below; checked here too, errors come
    // in the order the command has always given them.
    if (!args.fps.empty()) flag_value("--fps", [&] { return parse_frame_rate(args.fps); });
    if (is_movie_name(args.out)) {
        MovieSettings movie;
        movie.codec = args.codec;
        if (args.quality >= 0) movie.quality = args.quality;
        movie.quiet = args.quiet;
        flag_value("output", [&] { check_movie_output(args.out, movie); });
        if (args.skip_existing) usage_error("--skip-existing: a movie output is written whole");
        if (!args.chunk.empty()) usage_error("--chunk: a movie output is written whole (render the parts as images)");
        job.output.movie = movie;
    }
    if (!args.downsample.empty()) flag_value("--downsample", [&] { return parse_downsample(args.downsample); });
    const ColourSpaces colour = colour_spaces(args);
    job.output.from_colorspace = colour.working;
    job.output.to_colorspace = colour.output;
    if (colour.active) {
        if (std::optional<std::string> warning = linear_warning(args, colour.output)) job.warnings.push_back(*warning);
    }

    SceneRequest request = scene_sources(args);
    const Footage& input = *request.input.footage;
    if (args.frames.empty()) job.frames = input_frames(input, args.input, args.input_offset);
    if (!args.chunk.empty()) job.frames = chunk_of_list(job.frames, args.chunk);
    if (job.frames.size() > 1 && !job.output.pattern.numbered() && !job.output.movie) {
        usage_error("output " + args.out + ": " + std::to_string(job.frames.size()) +
                    " frames need a frame number in the name, e.g. out.####.exr or out_%04d.png" +
                    (args.frames.empty() ? " (the frames of --input; --frames picks others)" : ""));
    }
    const std::vector<long> to_render = frames_to_render(job.frames, job.output, args.skip_existing);
    {
        std::vector<long> needed;
        for (const long f : to_render) needed.push_back(f + args.input_offset);
        check_frames_there("--input", args.input, input, missing_frames(input, needed), args.input_offset, "");
    }
    add_mask_and_depth(request, args, job.frames,
                       to_render.empty() ? std::nullopt : std::optional<long>(to_render.front()));
    job.module = request.module;
    job.scene = make_scene(request);
    Scene& scene = job.scene;
    if (scene.layer) {
        check_frames_there("--layer", args.layer, scene.layer->footage(), scene.layer->missing(to_render),
                           args.layer_offset, args.layer_end.empty() ? "; --layer-end hold or loop reuses its frames" : "");
    }
    // Every frame's size before the first frame renders: a sequence that
    // changes size part-way would otherwise stop the render there.
    scene.input->check_sizes(to_render);
    if (scene.layer) scene.layer->check_sizes(to_render);
    if (job.output.movie) {
        job.output.movie->rate = job.scene.rate;
        // Tagged as the frames are: in the output space, else as the input
        // stored them (a movie as it says, images as the sRGB they are by
        // convention).
        job.output.movie->colour = colour.active ? colour_tags(colour.output)
                                                 : footage_colour(job.scene.input->footage()).value_or(kSrgbTags);
    }
    job.jobs = worker_count(args.jobs, job.frames.size());
    // --jobs is the render's share of the machine: the encoder keeps to it.
    if (job.output.movie) job.output.movie->threads = job.jobs;
    job.skip_existing = args.skip_existing;
    return job;
}

}  // namespace cli
