#include "cli/preview_command.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

#include "cli/failure.h"
#include "cli/signals.h"

namespace cli {

namespace {

std::string shell_word(const std::string& s) {
    static constexpr const char* kPlain =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./:=,+-@%";
    if (!s.empty() && s.find_first_not_of(kPlain) == std::string::npos) return s;
    std::string out = "'";
    for (const char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The `trellis render` call that gives the page's pixels at full size.
std::string render_command(const RenderArgs& a, const PreviewEdit& v,
                           const std::vector<std::pair<std::string, std::string>>& values, Image::Depth depth) {
    std::vector<std::string> words{"trellis", "render"};
    auto add = [&](const std::string& flag, const std::string& value) {
        words.push_back(flag);
        words.push_back(value);
    };
    if (!a.input.empty()) {
        add("--input", a.input);
    } else {
        add("--input-size", a.input_size);
        add("--input-color", a.input_color);
    }
    if (a.input_offset != 0) add("--input-offset", std::to_string(a.input_offset));
    if (!a.layer.empty()) add("--layer", a.layer);
    if (!a.layer_size.empty()) {
        add("--layer-size", a.layer_size);
        add("--layer-color", a.layer_color);
    }
    if (a.layer_offset != 0) add("--layer-offset", std::to_string(a.layer_offset));
    const std::string mask = v.mask ? *v.mask : a.mask;
    if (!mask.empty()) add("--mask", mask);
    for (const auto& [name, text] : values) {
        const std::string flag = flag_for_param(name);
        if (is_switch(name)) {
            words.push_back(text == "0" ? flag + "=false" : flag);
        } else {
            add(flag, text);
        }
    }
    // The depth the preview renders at, whatever frame the command starts on.
    static constexpr const char* kDepths[] = {"8", "16", "32"};
    add("--depth", kDepths[depth]);
    if (!a.fps.empty()) add("--fps", a.fps);
    const std::pair<const char*, const std::string*> spaces[] = {
        {"--working-colorspace", &a.working_colorspace},
        {"--input-colorspace", &a.input_colorspace},
        {"--layer-colorspace", &a.layer_colorspace},
        {"--output-colorspace", &a.output_colorspace}};
    for (const auto& [flag, name] : spaces) {
        if (!name->empty()) add(flag, *name);
    }
    if (!a.plugin.empty()) add("--plugin", a.plugin);
    if (v.frame != 0) add("--frames", std::to_string(v.frame));
    add("-o", "preview.png");
    std::string line;
    for (const std::string& w : words) line += (line.empty() ? "" : " ") + shell_word(w);
    return line;
}

}  // namespace

PreviewConfig preview_config(const PreviewArgs& args) {
    const RenderArgs& a = args.scene;
    require_input(a);
    PreviewConfig config;
    config.frames = frame_list(a.frames);
    const ColourSpaces colour = colour_spaces(a);
    config.output.from_colorspace = colour.working;
    config.output.to_colorspace = colour.output;
    config.scene = scene_request(a, config.frames, config.frames.front());
    for (const ParamFlag& p : kParamFlags) config.labels[p.param] = p.flag;
    for (const auto& [flag, text] : a.values) config.values.emplace_back(param_for_flag(flag), text);
    config.input_name = a.input.empty() ? "--input-size " + a.input_size : a.input;
    config.layer_name = !a.layer.empty() ? a.layer : a.layer_size;
    config.host = args.host;
    config.port = args.port;
    config.save_dir = args.save_dir;
    config.command = [a](const PreviewEdit& edit, const std::vector<std::pair<std::string, std::string>>& values,
                         Image::Depth depth) { return render_command(a, edit, values, depth); };
    std::error_code ec;
    if (!std::filesystem::is_directory(args.save_dir, ec)) {
        usage_error("--save-dir " + args.save_dir + ": not a folder");
    }
    return config;
}

CLI::App* add_preview_command(CLI::App& app, PreviewArgs& args) {
    CLI::App* cmd = app.add_subcommand("preview", "Tune the effect on a frame in the browser, live");
    cmd->footer(
        "Serves a page on this machine that renders the frame as its controls move, draws and edits\n"
        "the mask, saves stills and shows the `trellis render` command that gives the same pixels.\n"
        "The first line on stdout is its address. Ctrl-C or SIGTERM stops it.\n");
    add_scene_flags(*cmd, args.scene);
    cmd->add_option("--frames", args.scene.frames, "frames the page offers (default: frame 0)")->type_name("LIST");
    cmd->add_option("--port", args.port, "port to listen on (default: any free one)")
        ->check(CLI::Range(0, 65535).description(""))
        ->type_name("N");
    cmd->add_option("--host", args.host, "address to listen on (default 127.0.0.1: this machine only)")
        ->type_name("ADDRESS");
    cmd->add_option("--save-dir", args.save_dir, "folder that \"Save still\" writes into (default: this one)")
        ->type_name("DIR");
    return cmd;
}

int run_preview(const PreviewArgs& args) {
    PreviewServer server(preview_config(args));
    const int port = server.bind();
    if (port <= 0) usage_error("cannot listen on " + args.host + ":" + std::to_string(args.port));
    if (args.host != "127.0.0.1") {
        std::fprintf(stderr,
                     "trellis: warning: listening on %s: other machines that reach it can use the preview, "
                     "read its inputs and write stills\n",
                     args.host.c_str());
    }
    std::printf("http://%s:%d/\n", args.host.c_str(), port);
    std::fflush(stdout);

    install_interrupt_handler();
    std::atomic<bool> served{false};
    std::thread watcher([&] {
        while (!served.load() && !interrupt_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        server.stop();
    });
    server.serve();
    served = true;
    watcher.join();
    if (interrupt_requested()) end_by_interrupt();
    return 0;
}

}  // namespace cli
