#include "cli/render_command.h"

#include <CLI/CLI.hpp>

#include <climits>
#include <cstdio>
#include <optional>
#include <sstream>
#include <utility>
#include <thread>

#include "cli/batch.h"
#include "cli/keyframes.h"
#include "cli/mask_spec.h"
#include "cli/progress.h"

namespace cli {

namespace {

// Far more than any animation; keeps the frame list finite.
constexpr int64_t kMaxFrames = 1'000'000;

Image::Depth depth_of_flag(const std::string& depth) {
    if (depth == "8") return Image::k8;
    if (depth == "16") return Image::k16;
    return Image::kFloat;
}

Image read_flag_image(const std::string& flag, const std::string& path, const std::optional<Image::Depth>& depth) {
    try {
        return depth ? read_image(path, *depth) : read_image(path);
    } catch (const ImageError& e) {
        usage_error(flag + ": " + e.what());
    }
}

Image solid_image(const std::string& size_flag, const std::string& size_text, const std::string& colour_flag,
                  const std::string& colour_text, Image::Depth depth) {
    Size size{};
    PF_Pixel8 colour{};
    try {
        size = parse_size(size_text);
    } catch (const ValueError& e) {
        usage_error(size_flag + ": " + e.what());
    }
    try {
        colour = parse_colour(colour_text);
    } catch (const ValueError& e) {
        usage_error(colour_flag + ": " + e.what());
    }
    Image image;
    try {
        image = make_image(size.width, size.height, Image::k8);
    } catch (const ImageError& e) {
        usage_error(size_flag + ": " + e.what());
    }
    std::fill(image.get<PF_Pixel8>().begin(), image.get<PF_Pixel8>().end(), colour);
    return convert(image, depth);
}

std::vector<long> frame_list(const std::string& text) {
    if (text.empty()) return {0};
    FrameRange range{};
    try {
        range = parse_frame_range(text);
    } catch (const ValueError& e) {
        usage_error(std::string("--frames: ") + e.what());
    }
    if (range.last > INT32_MAX) {
        usage_error("--frames " + text + ": frame numbers go up to " + std::to_string(INT32_MAX));
    }
    if (range.last - range.first + 1 > kMaxFrames) {
        usage_error("--frames " + text + ": more than " + std::to_string(kMaxFrames) + " frames");
    }
    std::vector<long> frames;
    for (int64_t f = range.first; f <= range.last; ++f) frames.push_back(static_cast<long>(f));
    return frames;
}

}  // namespace

const char* flag_for_param(std::string_view name) {
    for (const ParamFlag& p : kParamFlags) {
        if (name == p.param) return p.flag;
    }
    return nullptr;
}

int worker_count(int jobs, std::size_t frames) {
    int n = jobs > 0 ? jobs : static_cast<int>(std::thread::hardware_concurrency());
    if (n < 1) n = 1;
    if (frames < static_cast<std::size_t>(n)) n = static_cast<int>(std::max<std::size_t>(frames, 1));
    return n;
}

std::vector<ParamSetting> resolve_settings(const DeclaredParams& declared,
                                           const std::vector<std::pair<std::string, std::string>>& values) {
    std::vector<ParamSetting> settings;
    for (const auto& [flag, text] : values) {
        const char* name = nullptr;
        for (const ParamFlag& p : kParamFlags) {
            if (flag == p.flag) name = p.param;
        }
        if (name == nullptr) {
            usage_error("unknown parameter flag " + flag);
        }
        settings.push_back(parse_setting(declared.named(name), flag, text));
    }
    return settings;
}

CLI::App* add_render_command(CLI::App& app, RenderArgs& args) {
    CLI::App* cmd = app.add_subcommand("render", "Render one frame, or a range of frames, of the effect");
    cmd->footer(
        "Sliders and popups take VALUE or keyframes FRAME:VALUE,FRAME:VALUE,... (linear between keys,\n"
        "popups held), e.g. --time 0:0,47:100. Defaults and valid ranges are the effect's own:\n"
        "see `trellis about`. With --frames A-B, OUT holds the frame number: out_%04d.png.\n");
    cmd->add_option("-o,--output", args.out, "output image, .png or .exr (%d: frame number)")
        ->required()
        ->type_name("OUT");
    auto* input = cmd->add_option("--input", args.input, "input image: PNG (any) or OpenEXR")->type_name("FILE");
    auto* input_size = cmd->add_option("--input-size", args.input_size, "solid input of this size")->type_name("WxH");
    cmd->add_option("--input-color", args.input_color, "colour of the solid input (0-255 each)")
        ->capture_default_str()
        ->type_name("R,G,B,A")
        ->needs(input_size);
    input->excludes(input_size);
    auto* layer = cmd->add_option("--layer", args.layer, "the \"Layer\" image that every stroke copies")
                      ->type_name("FILE");
    auto* layer_size = cmd->add_option("--layer-size", args.layer_size, "a solid \"Layer\" of this size")
                           ->type_name("WxH");
    cmd->add_option("--layer-color", args.layer_color, "colour of the solid \"Layer\" (0-255 each)")
        ->capture_default_str()
        ->type_name("R,G,B,A")
        ->needs(layer_size);
    layer->excludes(layer_size);
    cmd->add_option("--mask", args.mask,
                    "the \"Path\": SVG path data, or @FILE holding it or an SVG document (@FILE.svg#ID: that "
                    "element); @mask.####.svg: a file per frame; FRAME:@FILE,...: keys of a moving mask")
        ->type_name("MASK");

    for (const ParamFlag& p : kParamFlags) {
        const std::string flag = p.flag;
        const std::string name = p.param;
        if (name == "Various Directions" || name == "On Original") {
            // "--on-original" or "--on-original=false".
            cmd->add_flag_function(
                flag, [&args, flag](std::int64_t count) { args.values.emplace_back(flag, count > 0 ? "1" : "0"); },
                p.help);
        } else {
            cmd->add_option_function<std::string>(
                   flag, [&args, flag](const std::string& text) { args.values.emplace_back(flag, text); }, p.help)
                ->type_name("VALUE")
                ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        }
    }

    cmd->add_option("--depth", args.depth, "bits per channel (default: the input file's own; solid: 8)")
        ->check(CLI::IsMember({"8", "16", "32"}).description(""))
        ->type_name("8|16|32");
    cmd->add_option("--downsample", args.downsample, "draft at 1/N of the size, or the fraction N/D")
        ->type_name("N|N/D");
    cmd->add_option("--frames", args.frames, "frames to render (default: frame 0)")->type_name("A-B");
    cmd->add_option("--fps", args.fps, "frames per second (time scale)")
        ->capture_default_str()
        ->check(CLI::Range(1, 100000).description(""))
        ->type_name("F");
    cmd->add_option("--jobs", args.jobs, "frames rendered in parallel (default: one per core)")
        ->check(CLI::Range(1, 1024).description(""))
        ->type_name("N");
    cmd->add_option("--exr-compression", args.exr_compression, "compression of .exr output")
        ->capture_default_str()
        ->check(CLI::IsMember({"none", "zip", "piz"}).description(""))
        ->type_name("none|zip|piz");
    cmd->add_flag("-q,--quiet", args.quiet, "no progress report");
    cmd->add_option("--plugin", args.plugin, "the effect module (default: $TRELLIS_PLUGIN, else beside trellis)")
        ->type_name("PATH");
    return cmd;
}

int run_render(const RenderArgs& args) {
    if (args.input.empty() && args.input_size.empty()) {
        usage_error("no input: give --input FILE or --input-size WxH");
    }
    OutputSpec target;
    target.format = output_format(args.out);
    target.pattern = OutputPattern::parse(args.out);
    try {
        target.compression = parse_exr_compression(args.exr_compression);
    } catch (const ImageError& e) {
        usage_error(std::string("--exr-compression: ") + e.what());
    }
    const std::vector<long> frames = frame_list(args.frames);
    if (frames.size() > 1 && !target.pattern.numbered()) {
        usage_error("output " + args.out + ": several frames need a frame number in the name, e.g. out_%04d.png");
    }
    Ratio ratio{1, 1};
    if (!args.downsample.empty()) {
        try {
            ratio = parse_downsample(args.downsample);
        } catch (const ValueError& e) {
            usage_error(std::string("--downsample: ") + e.what());
        }
    }
    const std::optional<Image::Depth> forced_depth =
        args.depth.empty() ? std::nullopt : std::optional<Image::Depth>(depth_of_flag(args.depth));

    // The module first: flag values are checked against what it declares
    // before any image is read.
    const auto module = load_module(args.plugin);
    Scene scene;
    {
        const auto probe = make_host(module);
        const DeclaredParams declared(*probe);
        scene.settings = resolve_settings(declared, args.values);
        scene.layer_index = declared.named(kLayerParam).index;
        scene.path_index = declared.named(kPathParam).index;
    }
    scene.mask = load_mask(args.mask, frames,
                           ratio.num == ratio.den ? 1.0 : static_cast<double>(ratio.num) / static_cast<double>(ratio.den));

    Image input = args.input.empty()
                      ? solid_image("--input-size", args.input_size, "--input-color", args.input_color,
                                    forced_depth.value_or(Image::k8))
                      : read_flag_image("--input", args.input, forced_depth);
    const Image::Depth depth = input.depth();
    if (ratio.num != ratio.den) input = downsample(input, ratio.num, ratio.den);
    scene.input = to_world(input);
    input = Image{};

    if (!args.layer.empty() || !args.layer_size.empty()) {
        Image layer = args.layer.empty()
                          ? solid_image("--layer-size", args.layer_size, "--layer-color", args.layer_color, depth)
                          : read_flag_image("--layer", args.layer, depth);
        if (ratio.num != ratio.den) layer = downsample(layer, ratio.num, ratio.den);
        scene.layer = to_world(layer);
    }
    scene.downsample = PF_RationalScale{static_cast<A_long>(ratio.num), static_cast<A_u_long>(ratio.den)};
    scene.fps = static_cast<A_u_long>(args.fps);

    install_interrupt_handler();
    Progress progress(Progress::choose(args.quiet, stderr), static_cast<long>(frames.size()));
    const BatchResult result =
        render_frames(module, scene, frames, target, worker_count(args.jobs, frames.size()), progress);
    progress.finish();
    if (result.interrupted) {
        std::fprintf(stderr, "trellis: interrupted (%zu of %zu frames written)\n", result.written.size(),
                     frames.size());
        return kExitInterrupted;
    }
    return 0;
}

}  // namespace cli
