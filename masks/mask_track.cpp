#include "masks/mask_track.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "footage/frame_pattern.h"
#include "footage/keyframes.h"
#include "masks/svg_document.h"
#include "masks/svg_path.h"

namespace cli {

namespace {

// A mask's text, the file it came from (empty when given inline) and the id
// of the element wanted from an SVG document.
struct MaskText {
    std::string text;
    std::string name;
    std::string id;
};

std::string label(const MaskText& mask) { return mask.name.empty() ? "path data" : mask.name; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && is_svg_wsp(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_svg_wsp(s.back())) s.remove_suffix(1);
    return s;
}

// "@drawing.svg#outline": the file and the id after its ".svg".
MaskText file_reference(std::string_view ref) {
    std::string lower(ref);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    const std::size_t at = lower.rfind(".svg#");
    if (at == std::string::npos) return {"", std::string(ref), ""};
    return {"", std::string(ref.substr(0, at + 4)), std::string(ref.substr(at + 5))};
}

void read_file(MaskText* mask, const std::string& context) {
    std::ifstream file(mask->name, std::ios::binary);
    if (!file) throw ValueError(context + "cannot read " + mask->name + ": " + std::strerror(errno));
    mask->text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (file.bad()) throw ValueError(context + "cannot read " + mask->name);
}

// Inline text, or @FILE read at once.
MaskText mask_text(std::string_view value, const std::string& context) {
    if (value.empty() || value.front() != '@') return {std::string(value), "", ""};
    MaskText mask = file_reference(value.substr(1));
    read_file(&mask, context);
    return mask;
}

standalone::MaskShape outline_of(const MaskText& mask, const std::string& context, std::vector<std::string>* warnings) {
    const std::string where = context + (mask.name.empty() ? "" : mask.name + ": ");
    try {
        SvgPath path;
        if (looks_like_xml(mask.text)) {
            path = read_svg_document(mask.text, mask.id);
        } else if (!mask.id.empty()) {
            throw ValueError(where + "#" + mask.id + " names an element of an SVG document, and this is path data");
        } else {
            path = parse_svg_path(mask.text);
        }
        if (!path.warning.empty() && warnings != nullptr) warnings->push_back(where + path.warning);
        return std::move(path.outline);
    } catch (const SvgPathError& e) {
        throw ValueError(where + "malformed path data: " + e.what());
    } catch (const SvgDocumentError& e) {
        throw ValueError(where + e.what());
    }
}

std::optional<FramePattern> sequence_of(const std::string& file) {
    return FramePattern::parse(file);
}

// Length of "FRAME:" (digits, blanks, colon) at the start of `s`, or 0.
std::size_t key_prefix(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && is_svg_wsp(s[i])) ++i;
    const std::size_t digits = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == digits) return 0;
    while (i < s.size() && is_svg_wsp(s[i])) ++i;
    return i < s.size() && s[i] == ':' ? i + 1 : 0;
}

struct Key {
    long frame;
    std::string name;
    standalone::MaskShape shape;
};

// "0:@a.svg,24:@b.svg": items end at a comma that starts the next
// "FRAME:" (path data has commas of its own, but never a colon).
std::vector<Key> parse_keys(std::string_view text, std::vector<std::string>* warnings) {
    std::vector<Key> keys;
    while (!text.empty()) {
        const std::size_t colon = key_prefix(text);
        if (colon == 0) throw ValueError("expected FRAME:MASK, found '" + std::string(trimmed(text)) + "'");
        std::size_t end = colon;
        while ((end = text.find(',', end)) != std::string_view::npos && key_prefix(text.substr(end + 1)) == 0) ++end;
        const std::string_view frame_text = trimmed(text.substr(0, colon - 1));
        const std::string_view value = trimmed(text.substr(colon, end == std::string_view::npos ? end : end - colon));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);

        if (frame_text.size() > 9) throw ValueError("key frame " + std::string(frame_text) + " is too large");
        const long frame = std::stol(std::string(frame_text));
        if (value.empty()) throw ValueError("the key at frame " + std::to_string(frame) + " has no mask");
        const std::string context = "key " + std::to_string(frame) + ": ";
        for (const Key& k : keys) {
            if (k.frame == frame) throw ValueError("frame " + std::to_string(frame) + " has two keys");
        }
        if (value.front() == '@' && sequence_of(file_reference(value.substr(1)).name)) {
            throw ValueError(context + std::string(value.substr(1)) +
                        " names a file per frame; a key takes one file");
        }
        const MaskText mask = mask_text(value, context);
        keys.push_back({frame, label(mask), outline_of(mask, context, warnings)});
    }
    std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) { return a.frame < b.frame; });
    const auto state = [](const standalone::MaskShape& s) {
        return std::to_string(s.vertices.size()) + " vertices, " + (s.closed ? "closed" : "open");
    };
    for (std::size_t i = 1; i < keys.size(); ++i) {
        const Key& a = keys[i - 1];
        const Key& b = keys[i];
        if (a.shape.vertices.size() != b.shape.vertices.size() || a.shape.closed != b.shape.closed) {
            throw ValueError("keys " + std::to_string(a.frame) + " (" + a.name + ") and " + std::to_string(b.frame) +
                        " (" + b.name + ") do not match: " + state(a.shape) + " against " + state(b.shape) +
                        "; the keys of a moving mask need the same number of vertices and the same open or closed "
                        "state");
        }
    }
    return keys;
}

}  // namespace

std::vector<standalone::MaskKeyframe> load_mask(std::string_view text, const std::vector<long>& frames,
                                               std::vector<std::string>* warnings) {
    std::vector<standalone::MaskKeyframe> keys;
    if (text.empty()) return keys;
    if (key_prefix(text) != 0) {
        for (Key& k : parse_keys(text, warnings)) keys.push_back({static_cast<double>(k.frame), std::move(k.shape)});
    } else if (const std::optional<FramePattern> sequence =
                   text.front() == '@' ? sequence_of(file_reference(text.substr(1)).name) : std::nullopt) {
        const std::string id = file_reference(text.substr(1)).id;
        std::map<long, standalone::MaskShape> per_frame;
        for (long f : frames) {
            if (per_frame.count(f) != 0) continue;
            MaskText mask{"", sequence->path_for(f), id};
            const std::string context = "frame " + std::to_string(f) + ": ";
            read_file(&mask, context);
            per_frame[f] = outline_of(mask, context, warnings);
        }
        for (auto& [f, shape] : per_frame) keys.push_back({static_cast<double>(f), std::move(shape)});
    } else {
        keys.push_back({0.0, outline_of(mask_text(text, ""), "", warnings)});
    }
    return keys;
}

}  // namespace cli
