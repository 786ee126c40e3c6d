// The commands a render farm needs around `render`: `frames` (a frame list
// and its parts), `verify` (every frame of a list on disk and readable),
// `encode` (an image sequence into a movie, as `render -o movie` writes it)
// and `farm slurm` (a Slurm job folder for a shot, optionally submitted).
#pragma once

#include <string>

#include "cli/render_command.h"

namespace CLI {
class App;
}

namespace cli {

struct FramesArgs {
    std::string list;
    long chunks = 0;  // 0: the whole list
};

struct VerifyArgs {
    std::string list;
    std::string pattern;
    bool quiet = false;
};

struct EncodeArgs {
    std::string pattern;
    std::string frames;
    std::string out;
    std::string fps;
    std::string codec;
    int quality = -1;
    int jobs = 0;
    bool quiet = false;
};

struct FarmArgs {
    RenderArgs render;
    long chunks = 0;
    long max_running = 0;
    std::string job_dir;
    std::string name;
    std::string partition;
    std::string time_limit;
    std::string memory;
    bool submit = false;
};

CLI::App* add_frames_command(CLI::App& app, FramesArgs& args);
CLI::App* add_verify_command(CLI::App& app, VerifyArgs& args);
CLI::App* add_encode_command(CLI::App& app, EncodeArgs& args);
// `farm`, with its subcommand `slurm`.
CLI::App* add_farm_command(CLI::App& app, FarmArgs& args);

// Each returns the exit code; throws Failure for errors.
int run_frames(const FramesArgs& args);
// 0 when every frame is there and readable, else 1 with a line per frame.
int run_verify(const VerifyArgs& args);
int run_encode(const EncodeArgs& args);
int run_farm(const FarmArgs& args);

// The `render` arguments that give the same frames as `args` from any
// folder: every file named absolutely (mask references included), the
// output `out`, without the frame list, the workers and --quiet.
std::vector<std::string> portable_render_args(const RenderArgs& args, const std::string& out);

}  // namespace cli
