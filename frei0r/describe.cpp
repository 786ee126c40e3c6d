// Writes the descriptions editors read for the plug-ins, from the one
// parameter table: MLT's metadata (YAML) and Kdenlive's effect or
// transition (XML). Run by the build; `describe mlt|kdenlive filter|mix`.
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "frei0r/params.h"
#include "host/effect_info.h"

namespace {

using frei0r_params::Kind;
using frei0r_params::Param;

struct Shown {
    double factor;  // the shown value is the frei0r value times this
    const char* unit;
};

// How an editor shows a slider: percent sliders in percent, whole-number
// sliders in their units above their minimum (frei0r's value times the
// range; neither format has an offset).
Shown shown(const Param& p) {
    if (p.raw_max == 100 * frei0r_params::kPercent) return {100.0, "%"};
    return {static_cast<double>(p.raw_max - p.raw_min), p.raw_min == 0 ? "" : "px + 2"};
}

// The shortest text that reads back as `v`.
std::string number(double v) {
    char text[40];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    return std::string(text, end);
}

std::string choices(const Param& p, const char* separator) {
    std::size_t count = 0;
    const std::string_view* names = frei0r_params::choices_begin(p.id, &count);
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += (i > 0 ? separator : "") + std::string(names[i]);
    return out;
}

std::string default_text(const Param& p) {
    switch (p.kind) {
    case Kind::Double: return number(frei0r_params::unit_from_raw(p, p.raw_default));
    case Kind::Bool: return p.raw_default != 0 ? "1" : "0";
    case Kind::String: {
        if (p.raw_default == 0) return "";
        std::size_t count = 0;
        return std::string(frei0r_params::choices_begin(p.id, &count)[p.raw_default - 1]);
    }
    }
    return "";
}

void mlt(bool mixer) {
    std::printf("schema_version: 0.3\ntype: %s\nidentifier: %s\ntitle: %s\nversion: %d\ncreator: %s\nlicense: "
                "Proprietary\nlanguage: en\ntags:\n  - Video\ndescription: >\n  %s\nparameters:\n",
                mixer ? "transition" : "filter", mixer ? "frei0r.norvextrellis_mix" : "frei0r.norvextrellis",
                effect_info::kRegisteredName, effect_info::kMajorVersion, "Dorsaveli",
                mixer ? "Stamps of the B track laid along a mask, tinted by the A track."
                      : "Stamps of an image file laid along a mask, tinted by the input.");
    for (int i = 0; i < frei0r_params::param_count(mixer); ++i) {
        const Param& p = *frei0r_params::param_at(mixer, i);
        std::printf("  - identifier: \"%s\"\n    title: %s\n    description: \"%s\"\n    mutable: yes\n", p.name, p.name,
                    p.explanation);
        switch (p.kind) {
        case Kind::Double: {
            std::printf("    type: float\n    minimum: 0\n    maximum: 1\n    default: %s\n    animation: yes\n"
                        "    widget: slider\n",
                        default_text(p).c_str());
            break;
        }
        case Kind::Bool:
            std::printf("    type: boolean\n    default: %s\n    widget: checkbox\n", default_text(p).c_str());
            break;
        case Kind::String:
            if (p.raw_default != 0) {
                std::printf("    type: string\n    default: %s\n    values:\n", default_text(p).c_str());
                std::size_t count = 0;
                const std::string_view* names = frei0r_params::choices_begin(p.id, &count);
                for (std::size_t c = 0; c < count; ++c) std::printf("      - %.*s\n", static_cast<int>(names[c].size()), names[c].data());
                std::printf("    widget: combo\n");
            } else {
                std::printf("    type: string\n    widget: %s\n", p.id == PARAM_LAYER ? "fileopen" : "text");
            }
            break;
        }
    }
}

void kdenlive(bool mixer) {
    const char* element = mixer ? "transition" : "effect";
    const char* tag = mixer ? "frei0r.norvextrellis_mix" : "frei0r.norvextrellis";
    std::printf("<?xml version=\"1.0\"?>\n<!DOCTYPE kpartgui>\n<%s LC_NUMERIC=\"C\" tag=\"%s\" id=\"%s\"%s>\n"
                "    <name>%s</name>\n    <description>%s</description>\n    <author>Dorsaveli</author>\n",
                element, tag, tag, mixer ? "" : " type=\"video\"", effect_info::kRegisteredName,
                mixer ? "Stamps of the upper track laid along a mask, tinted by the lower track"
                      : "Stamps of an image file laid along a mask, tinted by the clip");
    for (int i = 0; i < frei0r_params::param_count(mixer); ++i) {
        const Param& p = *frei0r_params::param_at(mixer, i);
        switch (p.kind) {
        case Kind::Double: {
            const Shown s = shown(p);
            std::printf("    <parameter type=\"animated\" name=\"%s\" default=\"%s\" min=\"0\" max=\"%s\" factor=\"%s\" "
                        "decimals=\"%d\" suffix=\"%s\">\n",
                        p.name, default_text(p).c_str(), number(s.factor).c_str(), number(s.factor).c_str(),
                        s.factor == 100.0 ? 2 : 0, s.unit);
            break;
        }
        case Kind::Bool:
            std::printf("    <parameter type=\"bool\" name=\"%s\" default=\"%s\">\n", p.name, default_text(p).c_str());
            break;
        case Kind::String:
            if (p.raw_default != 0) {
                std::printf("    <parameter type=\"list\" name=\"%s\" default=\"%s\" paramlist=\"%s\">\n"
                            "        <paramlistdisplay>%s</paramlistdisplay>\n",
                            p.name, default_text(p).c_str(), choices(p, ";").c_str(), choices(p, ",").c_str());
            } else if (p.id == PARAM_LAYER) {
                std::printf("    <parameter type=\"url\" name=\"%s\" filter=\"*.png *.jpg *.jpeg *.tif *.tiff *.exr "
                            "*.dpx *.webp *.tga\">\n", p.name);
            } else {
                std::printf("    <parameter type=\"keywords\" name=\"%s\" default=\"\" paramlist=\"\">\n", p.name);
            }
            break;
        }
        std::printf("        <name>%s</name>\n        <comment>%s</comment>\n    </parameter>\n", p.name, p.explanation);
    }
    std::printf("</%s>\n", element);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s mlt|kdenlive filter|mix\n", argv[0]);
        return 2;
    }
    const std::string_view format = argv[1];
    const bool mixer = std::string_view(argv[2]) == "mix";
    if (format == "mlt") {
        mlt(mixer);
    } else if (format == "kdenlive") {
        kdenlive(mixer);
    } else {
        return 2;
    }
    return 0;
}
