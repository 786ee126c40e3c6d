#include "cli/render_command.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <thread>

#include "cli/progress.h"
#include "cli/signals.h"
#include "scene/batch.h"
#include "scene/job.h"

namespace cli {

const char* flag_for_param(std::string_view name) {
    for (const ParamFlag& p : kParamFlags) {
        if (name == p.param) return p.flag;
    }
    return nullptr;
}

const char* param_for_flag(std::string_view flag) {
    for (const ParamFlag& p : kParamFlags) {
        if (flag == p.flag) return p.param;
    }
    return nullptr;
}

bool is_switch(std::string_view name) { return name == "Various Directions" || name == "On Original"; }

void require_input(const RenderArgs& args) {
    if (args.input.empty() && args.input_size.empty()) {
        usage_error("no input: give --input FILE or --input-size WxH");
    }
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
        const char* name = param_for_flag(flag);
        if (name == nullptr) {
            usage_error("unknown parameter flag " + flag);
        }
        settings.push_back(parse_setting(declared.named(name), flag, text));
    }
    return settings;
}

namespace {

// "--on-original=maybe" refused with the flag's name, before CLI11's own
// conversion, which would throw past its parse errors.
const CLI::Validator kFlagWord(
    [](std::string& word) {
        try {
            (void)CLI::detail::to_flag_value(word);
            return std::string();
        } catch (const std::exception&) {
            return "expected true or false, found \"" + word + "\"";
        }
    },
    "", "true|false");

}  // namespace

void add_param_flags(CLI::App& cmd_app, std::vector<std::pair<std::string, std::string>>& values) {
    CLI::App* cmd = &cmd_app;
    for (const ParamFlag& p : kParamFlags) {
        const std::string flag = p.flag;
        if (is_switch(p.param)) {
            // "--on-original" or "--on-original=false".
            cmd->add_flag_function(
                   flag, [&values, flag](std::int64_t count) { values.emplace_back(flag, count > 0 ? "1" : "0"); },
                   p.help)
                ->check(kFlagWord);
        } else {
            cmd->add_option_function<std::string>(
                   flag, [&values, flag](const std::string& text) { values.emplace_back(flag, text); }, p.help)
                ->type_name("VALUE")
                ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        }
    }
}

void add_scene_flags(CLI::App& cmd_app, RenderArgs& args) {
    CLI::App* cmd = &cmd_app;
    auto* input = cmd->add_option("--input", args.input, "input image, image sequence or movie")->type_name("FILE");
    auto* input_size = cmd->add_option("--input-size", args.input_size, "solid input of this size")->type_name("WxH");
    cmd->add_option("--input-color", args.input_color, "colour of the solid input (0-255 each)")
        ->capture_default_str()
        ->type_name("R,G,B,A")
        ->needs(input_size);
    input->excludes(input_size);
    auto* layer = cmd->add_option("--layer", args.layer, "the \"Layer\" image (or sequence, or movie) that every stroke copies")
                      ->type_name("FILE");
    cmd->add_option("--input-offset", args.input_offset, "frame F reads input frame F + N")->type_name("N");
    cmd->add_option("--layer-offset", args.layer_offset, "frame F reads Layer frame F + N")->type_name("N");
    cmd->add_option("--layer-end", args.layer_end,
                    "past the Layer's frames: hold its first or last frame, or loop them (default: an error)")
        ->check(CLI::IsMember({"hold", "loop"}).description(""))
        ->type_name("hold|loop");
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

    add_param_flags(*cmd, args.values);

    cmd->add_option("--depth", args.depth, "bits per channel (default: the first input frame's own; solid: 8)")
        ->check(CLI::IsMember({"8", "16", "32"}).description(""))
        ->type_name("8|16|32");
    cmd->add_option("--fps", args.fps, "frames per second (default: the movie input's own, else 24)")
        ->type_name("F|N/D");
    cmd->add_option("--working-colorspace", args.working_colorspace,
                    "colour space the effect computes in (default with any colour flag: linear)")
        ->type_name("NAME");
    cmd->add_option("--input-colorspace", args.input_colorspace, "colour space of the input (default: working)")
        ->type_name("NAME");
    cmd->add_option("--layer-colorspace", args.layer_colorspace, "colour space of the Layer (default: working)")
        ->type_name("NAME");
    cmd->add_option("--output-colorspace", args.output_colorspace, "colour space of the output (default: working)")
        ->type_name("NAME");
    cmd->add_option("--plugin", args.plugin, "the effect module (default: $TRELLIS_PLUGIN, else beside trellis)")
        ->type_name("PATH");
}

void add_encoder_flags(CLI::App& cmd, std::string& codec, int& quality) {
    cmd.add_option("--codec", codec, "movie output's encoder, e.g. prores, h264, h265, ffv1, vp9, png, dnxhd")
        ->type_name("NAME");
    cmd.add_option("--quality", quality, "movie encoder's quality: CRF for H.264, quantiser for ProRes")
        ->check(CLI::Range(0, 63).description(""))
        ->type_name("N");
}

CLI::App* add_render_command(CLI::App& app, RenderArgs& args) {
    CLI::App* cmd = app.add_subcommand("render", "Render one frame, or a range of frames, of the effect");
    add_render_flags(*cmd, args);
    cmd->add_option("--chunk", args.chunk,
                    "render only part I of N of the frame list (even, contiguous parts); slurm: the part of this "
                    "array task")
        ->type_name("I/N|slurm");
    return cmd;
}

void add_render_flags(CLI::App& cmd_app, RenderArgs& args) {
    CLI::App* cmd = &cmd_app;
    cmd->footer(
        "Sliders and popups take VALUE or keyframes FRAME:VALUE,FRAME:VALUE,... (linear between keys,\n"
        "popups held), e.g. --time 0:0,47:50 writes the strokes on over 48 frames (0:0,47:100 writes\n"
        "them on and off again). Defaults and valid ranges are the effect's own:\n"
        "see `trellis about`, which also lists the colour spaces.\n"
        "\n"
        "Inputs, Layers and outputs take a frame number in the name: plate.####.exr (each # one\n"
        "digit), plate.@@@.png (each @ one digit) or plate.%04d.dpx. Frame F reads input frame\n"
        "F + --input-offset and Layer frame F + --layer-offset; a still serves every frame.\n"
        "--frames takes N, A-B, A-BxS (every S-th frame) and comma lists of them: 1-100x5, 1,5,10-20.\n"
        "Every frame a render needs is checked before the first renders.\n"
        "\n"
        "A flag the output cannot honour is refused (--exr-type into .png, --depth 8 into .exr);\n"
        "linear values into any output but .exr get a warning: give --output-colorspace, e.g. sRGB.\n"
        "\n"
        "Exit status: 0 done; 1 the effect reported an error; 2 a bad command line or an input that\n"
        "cannot be read; 3 an output that cannot be written; 75 a failure worth a retry (disk full,\n"
        "I/O error); 128+N after signal N (Ctrl-C, SIGTERM, SIGHUP stop cleanly: finished frames\n"
        "stay, frames in flight write nothing).\n");
    cmd->add_option("-o,--output", args.out,
                    "output image: .exr .png .tif/.tiff .dpx .jpg/.jpeg (frame tokens as above), or one movie: "
                    ".mov (ProRes 4444), .mp4 (H.264), .mkv (FFV1), .webm (VP9)")
        ->required()
        ->type_name("OUT");
    add_scene_flags(*cmd, args);
    cmd->add_option("--downsample", args.downsample, "draft at 1/N of the size, or the fraction N/D")
        ->type_name("N|N/D");
    cmd->add_option("--frames", args.frames,
                    "frames to render (default: the input's own, a movie's or a sequence's frames on disk, less "
                    "--input-offset; a still's frame 0)")
        ->type_name("LIST");
    cmd->add_option("--output-offset", args.output_offset,
                    "frame F is written as output frame F + N (e.g. plate numbers after --input-offset)")
        ->type_name("N");
    cmd->add_flag("--skip-existing", args.skip_existing, "leave frames whose output file exists alone");
    add_encoder_flags(*cmd, args.codec, args.quality);
    cmd->add_option("--jobs", args.jobs, "frames rendered in parallel, and the most threads a movie's encoder uses (default: one per core)")
        ->check(CLI::Range(1, 1024).description(""))
        ->type_name("N");
    cmd->add_option("--exr-compression", args.exr_compression, "compression of .exr output (default: zip)")
        ->check(CLI::IsMember({"none", "rle", "zip", "zips", "piz", "dwaa", "dwab"}).description(""))
        ->type_name("none|rle|zip|zips|piz|dwaa|dwab");
    cmd->add_option("--exr-type", args.exr_type, "sample type of .exr output (default: float)")
        ->check(CLI::IsMember({"float", "half"}).description(""))
        ->type_name("float|half");
    cmd->add_option("--png-compression", args.png_compression,
                    "zlib level of .png output: 9 for the smallest files (default: " +
                        std::to_string(WriteOptions{}.png_compression) + ")")
        ->check(CLI::Range(0, 9).description(""))
        ->type_name("0-9");
    cmd->add_flag("-q,--quiet", args.quiet, "no progress report");
}

std::string no_stroke_warning(unsigned why) {
    std::string text;
    const auto add = [&](unsigned bit, const char* reason) {
        if ((why & bit) != 0) text += (text.empty() ? "" : "; ") + std::string(reason);
    };
    add(kNoMask, "no mask (--mask gives the \"Path\")");
    add(kNoLayer, "no Layer (--layer FILE or --layer-size WxH)");
    add(kMaskOutside, "the mask lies outside the frame");
    add(kTimeAtEnd,
        "\"Time\" is 0 or 100 % (strokes appear from 0 to 50 % and go again from 50 to 100 %: "
        "--time 0:0,N:50 writes on by frame N)");
    return text.empty() ? text : "no frame has a stroke: " + text;
}

int run_render(const RenderArgs& args) {
    const RenderJob job = make_job(args);
    for (const std::string& warning : job.warnings) std::fprintf(stderr, "trellis: warning: %s\n", warning.c_str());
    install_interrupt_handler();
    std::FILE* const report = Progress::report_stream();
    Progress progress(Progress::choose(args.quiet, report), static_cast<long>(job.frames.size()), report);
    const BatchResult result = render_frames(job, progress, interrupt_requested);
    progress.finish();
    if (result.interrupted) {
        std::fprintf(stderr, "trellis: interrupted (%zu of %zu frames written)\n", result.written.size(),
                     job.frames.size());
        end_by_interrupt();
    }
    if (result.rendered > 0 && result.no_stroke != 0) {
        std::fprintf(stderr, "trellis: warning: %s\n", no_stroke_warning(result.no_stroke).c_str());
    }
    return 0;
}

}  // namespace cli
