// The preview server: a local web page that renders one frame of a scene as
// its controls move, through the real module and the stand-in host. It is
// handed the scene in typed values; the command that starts it (the
// command line's `trellis preview`) says how its values are named.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "scene/batch.h"
#include "scene/request.h"

namespace cli {

// What the page asks for beyond the starting values: values it changed, by
// parameter name (the others keep their starting ones, keyframes included),
// the mask as path data (none: the starting mask), the frame.
struct PreviewEdit {
    std::map<std::string, std::string> changed;
    std::optional<std::string> mask;
    long frame = 0;
};

struct PreviewConfig {
    // The scene at full size; the page's draft sizes are made from it.
    SceneRequest scene;
    // The frames the page offers, in order.
    std::vector<long> frames;
    // The parameters the page may set, by declared name, each with the name
    // by which messages and the page call it; and their starting values as
    // parse_setting takes them, in order.
    std::map<std::string, std::string> labels;
    std::vector<std::pair<std::string, std::string>> values;
    // The colour space and options of saved stills and shown frames.
    OutputTarget output;
    // How the page names the input and the Layer.
    std::string input_name;
    std::string layer_name;
    std::string host = "127.0.0.1";
    int port = 0;  // 0: any free port
    std::string save_dir = ".";
    // The command that renders `edit` at full size, given the values in
    // effect (starting ones with the page's changes) and the depth rendered.
    std::function<std::string(const PreviewEdit& edit, const std::vector<std::pair<std::string, std::string>>& values,
                              Image::Depth depth)>
        command;
};

class PreviewServer {
public:
    // Opens the scene. Throws its errors (EffectError, ImageError, ...).
    explicit PreviewServer(PreviewConfig config);
    ~PreviewServer();
    PreviewServer(const PreviewServer&) = delete;
    PreviewServer& operator=(const PreviewServer&) = delete;

    // Binds the address; returns the port, or -1 when it cannot.
    int bind();
    // Serves on the bound port until stop().
    void serve();
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace cli
