#include "cli/render_command.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "cli/failure.h"
#include "cli/find_module.h"
#include "footage/keyframes.h"
#include "footage/movie_source.h"
#include "masks/mask_track.h"
#include "scene/job.h"
#include "scene/request.h"

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

std::optional<long> first_to_render(const std::vector<long>& frames, const OutputPattern& output, bool skip_existing) {
    for (const long f : frames) {
        std::error_code ec;
        if (!skip_existing || !std::filesystem::exists(output.path(f), ec)) return f;
    }
    return std::nullopt;
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

ColourSpaces colour_spaces(const RenderArgs& args) {
    ColourSpaces c;
    c.active = !(args.working_colorspace.empty() && args.input_colorspace.empty() && args.layer_colorspace.empty() &&
                 args.output_colorspace.empty());
    if (!c.active) return c;
    const std::vector<std::string> known = colorspace_names();
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
    if (!args.mask.empty()) request.mask = mask_keys(args.mask, frames);

    request.input.footage = args.input.empty() ? solid_footage("--input-size", args.input_size, "--input-color",
                                                               args.input_color)
                                               : open_footage("--input", args.input);
    request.input.offset = args.input_offset;
    request.input.colorspace = colour.input;
    // Without --depth the render runs at the depth of the first frame it
    // renders (none left to render: any depth will do).
    if (!args.depth.empty()) {
        request.depth = depth_of_flag(args.depth);
    } else if (depth_frame) {
        request.depth = request.input.footage->depth(*depth_frame + args.input_offset);
    }
    if (!args.layer.empty() || !args.layer_size.empty()) {
        SourceRequest& layer = request.layer.emplace();
        layer.footage = args.layer.empty()
                            ? solid_footage("--layer-size", args.layer_size, "--layer-color", args.layer_color)
                            : open_footage("--layer", args.layer);
        layer.offset = args.layer_offset;
        layer.colorspace = colour.layer;
    }
    return request;
}

RenderJob make_job(const RenderArgs& args) {
    require_input(args);
    RenderJob job;
    check_output_name(args.out);
    job.output.pattern = OutputPattern::parse(args.out);
    job.output.write.exr_compression =
        flag_value("--exr-compression", [&] { return parse_exr_compression(args.exr_compression); });
    job.output.write.exr_type = flag_value("--exr-type", [&] { return parse_exr_type(args.exr_type); });
    job.output.write.png_compression = args.png_compression;
    job.frames = frame_list(args.frames);
    // The scene's flags are read again below; checked here too, errors come
    // in the order the command has always given them.
    if (!args.fps.empty()) flag_value("--fps", [&] { return parse_frame_rate(args.fps); });
    if (is_movie_name(args.out)) {
        MovieSettings movie;
        movie.codec = args.codec;
        if (args.quality >= 0) movie.quality = args.quality;
        flag_value("output", [&] { check_movie_output(args.out, movie); });
        if (args.skip_existing) usage_error("--skip-existing: a movie output is written whole");
        job.output.movie = movie;
    } else if (!args.codec.empty() || args.quality >= 0) {
        usage_error(std::string(args.codec.empty() ? "--quality" : "--codec") + ": only for a movie output (" +
                    args.out + " is an image)");
    }
    if (job.frames.size() > 1 && !job.output.pattern.numbered() && !job.output.movie) {
        usage_error("output " + args.out +
                    ": several frames need a frame number in the name, e.g. out.####.exr or out_%04d.png");
    }
    if (!args.downsample.empty()) flag_value("--downsample", [&] { return parse_downsample(args.downsample); });
    const ColourSpaces colour = colour_spaces(args);
    job.output.from_colorspace = colour.working;
    job.output.to_colorspace = colour.output;

    const SceneRequest request =
        scene_request(args, job.frames, first_to_render(job.frames, job.output.pattern, args.skip_existing));
    job.module = request.module;
    job.scene = make_scene(request);
    if (job.output.movie) job.output.movie->rate = job.scene.rate;
    job.jobs = worker_count(args.jobs, job.frames.size());
    // --jobs is the render's share of the machine: the encoder keeps to it.
    if (job.output.movie) job.output.movie->threads = job.jobs;
    job.skip_existing = args.skip_existing;
    return job;
}

}  // namespace cli
