#include "cli/frei0r_command.h"

#include <CLI/CLI.hpp>

#include <array>
#include <cctype>
#include <cstdio>

#include "cli/find_module.h"
#include "cli/render_command.h"
#include "scene/session.h"
#include "frei0r/params.h"

namespace cli {

std::string ffmpeg_escape(std::string_view text, std::string_view specials) {
    std::size_t first = 0;
    while (first < text.size() && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
    std::size_t last = text.size();
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' || c == '\'' || specials.find(c) != std::string_view::npos || i < first || i >= last) out += '\\';
        out += c;
    }
    return out;
}

std::string filter_params(const std::vector<std::string>& values) {
    std::string joined;
    for (const std::string& v : values) {
        if (!joined.empty() || &v != &values.front()) joined += '|';
        joined += ffmpeg_escape(v, "|");
    }
    return ffmpeg_escape(ffmpeg_escape(joined, ":"), "[],;");
}

CLI::App* add_frei0r_command(CLI::App& app, Frei0rArgs& args) {
    CLI::App* cmd = app.add_subcommand(
        "frei0r-params", "Print ffmpeg's filter_params for the frei0r filter norvextrellis, from render's flags");
    cmd->footer(
        "Use: ffmpeg -i IN -vf \"frei0r=filter_name=norvextrellis:filter_params=$(trellis frei0r-params ...)\" OUT\n"
        "Values as `trellis render` takes them, one value each (the filter takes no keyframes).\n");
    cmd->add_option("--mask", args.mask, "the \"Path\": SVG path data, @FILE or @FILE.svg#ID")->type_name("MASK");
    cmd->add_option("--layer", args.layer, "the \"Layer\" image file")->type_name("FILE");
    add_param_flags(*cmd, args.values);
    cmd->add_option("--plugin", args.plugin, "the effect module (default: $TRELLIS_PLUGIN, else beside trellis)")
        ->type_name("PATH");
    return cmd;
}

int run_frei0r_params(const Frei0rArgs& args) {
    const std::unique_ptr<standalone::Host> host = make_host(load_module(args.plugin));
    const DeclaredParams declared(*host);
    std::array<A_long, PARAM_COUNT> raw{};
    for (const frei0r_params::Param& p : frei0r_params::kParams) raw[p.id] = p.raw_default;
    const std::vector<ParamSetting> settings = resolve_settings(declared, args.values);
    for (std::size_t i = 0; i < settings.size(); ++i) {
        if (settings[i].animated) {
            usage_error(args.values[i].first + ": ffmpeg's frei0r filter takes one value, not keyframes");
        }
        raw[static_cast<std::size_t>(settings[i].index)] = settings[i].keys.front().value;
    }

    std::vector<std::string> values;
    for (const frei0r_params::Param& p : frei0r_params::kParams) {
        const A_long v = raw[p.id];
        switch (p.kind) {
        case frei0r_params::Kind::Double: {
            char text[40];
            std::snprintf(text, sizeof text, "%.17g", frei0r_params::unit_from_raw(p, v));
            values.emplace_back(text);
            break;
        }
        case frei0r_params::Kind::Bool: values.emplace_back(v != 0 ? "y" : "n"); break;
        case frei0r_params::Kind::String:
            if (p.id == PARAM_PATH) {
                values.push_back(args.mask);
            } else if (p.id == PARAM_LAYER) {
                values.push_back(args.layer);
            } else {
                std::size_t count = 0;
                values.emplace_back(frei0r_params::choices_begin(p.id, &count)[v - 1]);
            }
            break;
        }
    }
    std::printf("%s\n", filter_params(values).c_str());
    return 0;
}

}  // namespace cli
