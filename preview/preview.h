// `trellis preview`: a local web page that renders one frame of the effect
// as its controls move, through the real module and the stand-in host.
#pragma once

#include <memory>
#include <string>

#include "cli/render_command.h"

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

// Prints the URL, serves until SIGINT, SIGTERM or SIGHUP, then ends by that
// signal as `render` does. Throws Failure for a bad command line.
int run_preview(const PreviewArgs& args);

// The server itself, for running in-process.
class PreviewServer {
public:
    // Loads the module and opens the sources. Throws Failure.
    explicit PreviewServer(const PreviewArgs& args);
    ~PreviewServer();
    PreviewServer(const PreviewServer&) = delete;
    PreviewServer& operator=(const PreviewServer&) = delete;

    // Binds the address; returns the port. Throws Failure when it cannot.
    int bind();
    // Serves on the bound port until stop(), from any thread, before or
    // after serving began.
    void serve();
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace cli
