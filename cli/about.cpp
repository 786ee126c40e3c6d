#include "cli/about.h"

#include <cstdio>
#include <stdexcept>

#include "cli/failure.h"
#include "cli/find_module.h"
#include "cli/render_command.h"
#include "host/pipl.h"

namespace cli {

namespace {

std::uint32_t read_u32(std::span<const std::uint8_t> b, std::size_t at) {
    if (at + 4 > b.size()) throw std::runtime_error("property list truncated");
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::string fourcc_text(std::uint32_t code) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
    return s;
}

std::string fixed_text(PF_Fixed value, const PF_FixedSliderDef& def) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f%s", def.precision < 0 ? 0 : def.precision, value / 65536.0,
                  (def.display_flags & PF_ValueDisplayFlag_PERCENT) != 0 ? " %" : "");
    return text;
}

}  // namespace

std::map<std::string, std::string> pipl_strings(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 10) throw std::runtime_error("property list truncated");
    const std::uint32_t count = read_u32(bytes, 6);
    std::map<std::string, std::string> out;
    std::size_t at = 10;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t key = read_u32(bytes, at + 4);
        const std::uint32_t length = read_u32(bytes, at + 12);
        at += 16;
        if (length > bytes.size() - at) throw std::runtime_error("property list truncated");
        const std::string k = fourcc_text(key);
        if (k == "name" || k == "catg" || k == "eMNA") {
            const std::size_t n = length > 0 ? bytes[at] : 0;
            if (n + 1 > length) throw std::runtime_error("counted string longer than its property");
            out[k] = std::string(reinterpret_cast<const char*>(bytes.data() + at + 1), n);
        }
        at += (static_cast<std::size_t>(length) + 3) & ~std::size_t{3};
    }
    return out;
}

std::string describe_param(const DeclaredParam& param) {
    const PF_ParamDef& d = param.def;
    switch (d.param_type) {
    case PF_Param_PATH:
        return "mask path, default " + (d.u.path_d.dephault == 0 ? std::string("none") : std::to_string(d.u.path_d.dephault));
    case PF_Param_LAYER:
        return "layer, default " + (d.u.ld.dephault == PF_LayerDefault_NONE ? std::string("none")
                                    : d.u.ld.dephault == PF_LayerDefault_MYSELF ? std::string("this layer")
                                                                                : std::to_string(d.u.ld.dephault));
    case PF_Param_POPUP: {
        std::string text = "popup, " + std::to_string(param.choices.size()) + " choices:";
        for (std::size_t i = 0; i < param.choices.size(); ++i) {
            text += " " + std::to_string(i + 1) + " " + param.choices[i] + (i + 1 < param.choices.size() ? "," : "");
        }
        const std::size_t def = static_cast<std::size_t>(d.u.pd.dephault);
        text += "; default " + std::to_string(d.u.pd.dephault);
        if (def >= 1 && def <= param.choices.size()) text += " (" + param.choices[def - 1] + ")";
        return text;
    }
    case PF_Param_SLIDER:
        return "integer slider, valid " + std::to_string(d.u.sd.valid_min) + " to " + std::to_string(d.u.sd.valid_max) +
               ", slider " + std::to_string(d.u.sd.slider_min) + " to " + std::to_string(d.u.sd.slider_max) +
               ", default " + std::to_string(d.u.sd.dephault);
    case PF_Param_FIX_SLIDER:
        return "fixed-point slider, valid " + fixed_text(d.u.fd.valid_min, d.u.fd) + " to " +
               fixed_text(d.u.fd.valid_max, d.u.fd) + ", slider " + fixed_text(d.u.fd.slider_min, d.u.fd) + " to " +
               fixed_text(d.u.fd.slider_max, d.u.fd) + ", default " + fixed_text(d.u.fd.dephault, d.u.fd);
    case PF_Param_CHECKBOX:
        return std::string("checkbox, default ") + (d.u.bd.dephault != 0 ? "on" : "off");
    default:
        return "type " + std::to_string(d.param_type);
    }
}

std::string about_lines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            out += text[i];
        } else if (i + 1 == text.size() || text[i + 1] != '\n') {
            out += '\n';
        }
    }
    return out;
}

std::string about_version(std::string_view lines) {
    std::string out;
    for (const char c : lines.substr(0, lines.find('\n'))) {
        // The text is the module's: no control character reaches the terminal.
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F) out += c;
    }
    const std::size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) return "(no about text)";
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

namespace {

std::string fetch_about(standalone::Host& host) {
    std::string about;
    const PF_Err err = host.about(&about);
    if (err != PF_Err_NONE) {
        throw Failure(kExitEffectError, "the effect's about command failed with error " + describe_error(err));
    }
    return about_lines(about);
}

}  // namespace

int run_version() {
    // The program's own version first: it needs no module.
    std::printf("trellis %s\n", TRELLIS_VERSION);
    std::fflush(stdout);
    const auto module = load_module("");
    const auto host = make_host(module);
    std::printf("module: %s\n", about_version(fetch_about(*host)).c_str());
    return 0;
}

int run_about(const std::string& plugin) {
    const auto module = load_module(plugin);
    const auto host = make_host(module);
    std::printf("%s\n\n", fetch_about(*host).c_str());

    static constexpr pipl::Bytes kPipl = pipl::build();
    const auto strings = pipl_strings(kPipl);
    auto get = [&](const char* key) {
        const auto it = strings.find(key);
        return it != strings.end() ? it->second : std::string("(none)");
    };
    std::printf("Registered as \"%s\" in the category \"%s\", match name \"%s\"\n", get("name").c_str(),
                get("catg").c_str(), get("eMNA").c_str());
    std::printf("Module: %s\n\n", module->name().c_str());

    std::printf("Parameters:\n");
    const DeclaredParams declared(*host);
    for (const DeclaredParam& p : declared.all()) {
        const char* flag = flag_for_param(p.def.name);
        std::string option = flag != nullptr ? flag : "";
        if (std::string_view(p.def.name) == kPathParam) option = "--mask";
        if (std::string_view(p.def.name) == kLayerParam) option = "--layer";
        std::printf("  %2d  %-20s %-22s %s\n", p.index, p.def.name, option.c_str(), describe_param(p).c_str());
    }

    // From $OCIO when set, else the image library's own.
    std::printf("\nColour spaces (--working-colorspace, --input-colorspace, ...):\n");
    for (const std::string& name : colorspace_names()) std::printf("  %s\n", escape_text(name).c_str());
    return 0;
}

}  // namespace cli
