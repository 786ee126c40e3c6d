// trellis: renders the NorvexTrellis effect without the application, through
// the real module and the standalone host.
#include <CLI/CLI.hpp>
#include <malloc.h>

#include <cstdio>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cli/about.h"
#include "cli/frei0r_command.h"
#include "cli/demo.h"
#include "cli/preview_command.h"
#include "cli/farm_command.h"
#include "cli/render_command.h"
#include "cli/usage.h"

namespace {

// Thrown by the --version flag during parsing, the way CLI11 ends a parse for
// --help, so the required command is not asked for.
struct VersionRequested {};

}  // namespace

int main(int argc, char** argv) {
    // Frames of megabytes are freed and allocated again for every frame:
    // kept in the heap, not mapped afresh, or the kernel clears their pages
    // each time (a fifth of a movie render's time).
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    CLI::App app("Renders the NorvexTrellis effect through its module and a stand-in host.", "trellis");
    app.require_subcommand(1);
    app.footer("Run `trellis COMMAND --help` for the flags of a command.\n");

    cli::RenderArgs render_args;
    CLI::App* render = cli::add_render_command(app, render_args);

    cli::PreviewArgs preview_args;
    CLI::App* preview = cli::add_preview_command(app, preview_args);

    cli::DemoArgs demo_args;
    CLI::App* demo = cli::add_demo_command(app, demo_args);

    cli::Frei0rArgs frei0r_args;
    CLI::App* frei0r = cli::add_frei0r_command(app, frei0r_args);
    cli::FramesArgs frames_args;
    CLI::App* frames = cli::add_frames_command(app, frames_args);
    cli::VerifyArgs verify_args;
    CLI::App* verify = cli::add_verify_command(app, verify_args);
    cli::EncodeArgs encode_args;
    CLI::App* encode = cli::add_encode_command(app, encode_args);
    cli::FarmArgs farm_args;
    CLI::App* farm = cli::add_farm_command(app, farm_args);

    std::string about_plugin;
    CLI::App* about = app.add_subcommand("about", "Show the effect's about text, parameters and registration");
    about->add_option("--plugin", about_plugin, "the effect module (default: $TRELLIS_PLUGIN, else beside trellis)")
        ->type_name("PATH");

    app.add_flag_callback("--version", [] { throw VersionRequested{}; }, "Show the version of trellis and of its effect module")
        ->configurable(false);

    cli::collect_unknown_words(app);
    const std::vector<std::string> args(argv + 1, argv + argc);
    bool version = false;
    std::optional<std::string> problem;
    try {
        app.parse(argc, argv);
        problem = cli::usage_problem(app, args, nullptr);
    } catch (const VersionRequested&) {
        version = true;
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            return app.exit(e);  // --help
        }
        problem = cli::usage_problem(app, args, &e);
    }
    if (problem) {
        std::fprintf(stderr, "trellis: error: %s\n", problem->c_str());
        return cli::kExitUsage;
    }

    try {
        if (version) return cli::run_version();
        if (render->parsed()) return cli::run_render(render_args);
        if (preview->parsed()) return cli::run_preview(preview_args);
        if (demo->parsed()) return cli::run_demo(demo_args);
        if (about->parsed()) return cli::run_about(about_plugin);
        if (frei0r->parsed()) return cli::run_frei0r_params(frei0r_args);
        if (frames->parsed()) return cli::run_frames(frames_args);
        if (verify->parsed()) return cli::run_verify(verify_args);
        if (encode->parsed()) return cli::run_encode(encode_args);
        if (farm->parsed()) return cli::run_farm(farm_args);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "trellis: error: out of memory\n");
        return cli::kExitEffectError;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "trellis: error: %s\n", e.what());
        return cli::exit_code_of(e);
    }
    return cli::kExitUsage;
}
