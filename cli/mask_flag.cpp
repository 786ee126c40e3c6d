#include "cli/mask_flag.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "cli/session.h"
#include "cli/svg_path.h"

namespace cli {

namespace {

std::string mask_text(const std::string& arg) {
    if (arg.empty() || arg[0] != '@') return arg;
    const std::string path = arg.substr(1);
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        usage_error("--mask: cannot read " + path + ": " + std::strerror(errno));
    }
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        usage_error("--mask: cannot read " + path);
    }
    return text;
}

}  // namespace

std::vector<standalone::MaskKeyframe> load_mask(std::string_view value) {
    const std::string arg(value);
    const std::string text = mask_text(arg);
    const std::string source = arg.size() > 1 && arg[0] == '@' ? arg.substr(1) : std::string("--mask");
    try {
        SvgPath path = parse_svg_path(text);
        if (!path.warning.empty()) {
            std::fprintf(stderr, "trellis: warning: %s: %s\n", source.c_str(), path.warning.c_str());
        }
        return {standalone::MaskKeyframe{0.0, std::move(path.outline)}};
    } catch (const SvgPathError& e) {
        usage_error(source + ": malformed path data: " + e.what());
    }
}

}  // namespace cli
