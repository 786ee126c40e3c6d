// trellis: renders the NorvexTrellis effect without the application, through
// the real module and the standalone host.
#include <CLI/CLI.hpp>
#include <malloc.h>

#include <cstdio>
#include <exception>
#include <new>

#include "cli/about.h"
#include "cli/demo.h"
#include "cli/preview_command.h"
#include "cli/render_command.h"

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

    std::string about_plugin;
    CLI::App* about = app.add_subcommand("about", "Show the effect's about text, parameters and registration");
    about->add_option("--plugin", about_plugin, "the effect module (default: $TRELLIS_PLUGIN, else beside trellis)")
        ->type_name("PATH");

    app.add_flag_callback("--version", [] { throw VersionRequested{}; }, "Show the version of trellis and of its effect module")
        ->configurable(false);

    bool version = false;
    try {
        app.parse(argc, argv);
    } catch (const VersionRequested&) {
        version = true;
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            return app.exit(e);  // --help
        }
        std::fprintf(stderr, "trellis: error: %s (see trellis --help)\n", e.what());
        return cli::kExitUsage;
    }

    try {
        if (version) return cli::run_version();
        if (render->parsed()) return cli::run_render(render_args);
        if (preview->parsed()) return cli::run_preview(preview_args);
        if (demo->parsed()) return cli::run_demo(demo_args);
        if (about->parsed()) return cli::run_about(about_plugin);
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
