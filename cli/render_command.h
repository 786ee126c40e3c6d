// `trellis render`: one frame or a range of frames of the effect, from image
// files or solid colours, SVG path data and parameter flags.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/failure.h"
#include "scene/job.h"
#include "scene/request.h"
#include "scene/session.h"

namespace CLI {
class App;
}

namespace cli {

// The flags that set the effect's sliders, popups and checkboxes, by the
// names under which the effect declares them.
struct ParamFlag {
    const char* flag;
    const char* param;
    const char* help;
};
inline constexpr ParamFlag kParamFlags[] = {
    {"--mode", "Mode", "how the reveal is measured: continuous|discrete-1|discrete-2"},
    {"--time", "Time", "the reveal, PERCENT: strokes appear along the path from 0 to 50 and go again from 50 to 100 (none at 0 or 100)"},
    {"--max-width", "Max Width", "largest stroke, PIXELS at full resolution"},
    {"--min-width", "Min Width", "smallest stroke, PERCENT of the largest"},
    {"--various-directions", "Various Directions", "turn strokes by random quarter turns"},
    {"--blend", "Color Blend Mode",
     "tint operator: normal|tritone|add|multiply|screen|overlay|color-dodge|color-burn"},
    {"--opacity", "Color Opacity", "strength of the tint, PERCENT"},
    {"--seed", "Seed", "seed of the random layout"},
    {"--on-original", "On Original", "strokes over the input instead of a transparent frame"},
};

// The effect's flag for a parameter name; null for "Path" and "Layer" and
// unknown names.
const char* flag_for_param(std::string_view name);
// The parameter name of one of those flags; null for any other.
const char* param_for_flag(std::string_view flag);
// Whether the parameter's flag is a switch ("--on-original",
// "--on-original=false") rather than taking a value.
bool is_switch(std::string_view name);

struct RenderArgs {
    std::string input;
    std::string input_size;
    std::string input_color = "255,255,255,255";
    std::string layer;
    std::string layer_size;
    std::string layer_color = "255,255,255,255";
    std::string mask;
    // (flag, text) of every parameter flag, in the order given.
    std::vector<std::pair<std::string, std::string>> values;
    std::string depth;
    std::string downsample;
    std::string frames;
    // "I/N": part I of N of the frame list; "slurm": the part of this array
    // task. Empty: the whole list.
    std::string chunk;
    long input_offset = 0;
    long layer_offset = 0;
    // Past the Layer's frames: "" an error, "hold" or "loop".
    std::string layer_end;
    long output_offset = 0;
    // Empty: the movie input's own rate, else 24.
    std::string fps;
    // Movie output: the encoder (empty: the container's) and its quality.
    std::string codec;
    int quality = -1;  // -1: the encoder's default
    int jobs = 0;  // 0: one per core
    // Empty (-1): not given, the writer's default. Given for an output of
    // another type, they are refused.
    std::string exr_compression;
    std::string exr_type;
    int png_compression = -1;
    // Empty, all of them: no colour conversion at all.
    std::string working_colorspace;
    std::string input_colorspace;
    std::string layer_colorspace;
    std::string output_colorspace;
    bool skip_existing = false;
    bool quiet = false;
    std::string plugin;
    std::string out;
};

// A usage error unless the flags name an input.
void require_input(const RenderArgs& args);

// --frames as a list, in render order (default: frame 0).
std::vector<long> frame_list(const std::string& text);

// The colour spaces the flags name, checked; all empty when no colour flag
// is given.
struct ColourSpaces {
    bool active = false;
    std::string working, input, layer, output;
};
ColourSpaces colour_spaces(const RenderArgs& args);

// The scene the flags describe, for `frames` (a mask file per frame is read
// for each); its depth, without --depth, that of the input frame that render
// frame `depth_frame` shows (none: 8 bits). Throws Failure naming the flag,
// or the libraries' errors for footage that cannot be opened.
SceneRequest scene_request(const RenderArgs& args, const std::vector<long>& frames, std::optional<long> depth_frame);

// The job the flags describe. Throws Failure (kExitUsage) naming the flag
// for anything wrong with it, before any frame is rendered.
RenderJob make_job(const RenderArgs& args);

// Declares on `cmd` the flags of kParamFlags, each given one appended to
// `values` as (flag, text).
void add_param_flags(CLI::App& cmd, std::vector<std::pair<std::string, std::string>>& values);

// Declares on `cmd` the flags that describe what is rendered (inputs, Layer,
// mask, parameters, depth, fps, colour spaces, module), shared by every
// command that renders a scene.
void add_scene_flags(CLI::App& cmd, RenderArgs& args);

// Declares --codec and --quality, a movie output's encoder settings.
void add_encoder_flags(CLI::App& cmd, std::string& codec, int& quality);

// Declares on `cmd` every flag of `render` but --chunk, for the commands
// that hand a render on (farm).
void add_render_flags(CLI::App& cmd, RenderArgs& args);

// Declares the command and its flags on `app`, filling `args` when parsed.
CLI::App* add_render_command(CLI::App& app, RenderArgs& args);

// Runs it. Returns the exit code (after an interrupt the process ends by the
// signal); throws Failure for errors.
int run_render(const RenderArgs& args);

// Settings from (flag, text) pairs, checked against the declared parameters.
std::vector<ParamSetting> resolve_settings(const DeclaredParams& declared,
                                           const std::vector<std::pair<std::string, std::string>>& values);

// The warning for a render in which no frame can show a stroke, from the
// reasons (NoStroke bits); "" for none.
std::string no_stroke_warning(unsigned why);

// The number of workers for `jobs` (0: the machine's cores) and `frames`.
int worker_count(int jobs, std::size_t frames);

}  // namespace cli
