// `trellis preview`: the scene flags of `render` served as a page that
// renders one frame as its controls move (preview/).
#pragma once

#include <string>

#include "cli/render_command.h"
#include "preview/preview.h"

namespace CLI {
class App;
}

namespace cli {

struct PreviewArgs {
    // The scene flags of `trellis render`; its --frames is the frames offered.
    RenderArgs scene;
    int port = 0;  // 0: any free port
    std::string host = "127.0.0.1";
    std::string save_dir = ".";
};

CLI::App* add_preview_command(CLI::App& app, PreviewArgs& args);

// The server's configuration from the flags: the scene, the frames, the
// parameters by flag, the command line it shows. Loads the module and opens
// the footage; throws Failure naming the flag, or the libraries' errors.
PreviewConfig preview_config(const PreviewArgs& args);

// Prints the URL, serves until SIGINT, SIGTERM or SIGHUP, then ends by that
// signal as `render` does. Throws Failure for a bad command line.
int run_preview(const PreviewArgs& args);

}  // namespace cli
