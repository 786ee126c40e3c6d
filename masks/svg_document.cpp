#include "masks/svg_document.h"

#include <pugixml.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <functional>
#include <numbers>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace cli {

namespace {

// x' = a·x + c·y + e, y' = b·x + d·y + f, as SVG writes matrix(a b c d e f).
struct Affine {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;

    bool identity() const { return a == 1 && b == 0 && c == 0 && d == 1 && e == 0 && f == 0; }
};

// m·n: n applies first.
Affine operator*(const Affine& m, const Affine& n) {
    return {m.a * n.a + m.c * n.b, m.b * n.a + m.d * n.b, m.a * n.c + m.c * n.d,
            m.b * n.c + m.d * n.d, m.a * n.e + m.c * n.f + m.e, m.b * n.e + m.d * n.f + m.f};
}

Affine translation(double x, double y) { return {1, 0, 0, 1, x, y}; }

// Cosine and sine of an angle in degrees; exact at multiples of 90 degrees,
// so that quarter turns keep whole coordinates whole.
void turn(double degrees, double* cs, double* sn) {
    const double r = std::fmod(degrees, 360.0);
    if (std::fmod(r, 90.0) == 0.0) {
        constexpr double cosines[] = {1, 0, -1, 0};
        const int q = (static_cast<int>(r / 90.0) % 4 + 4) % 4;
        *cs = cosines[q];
        *sn = cosines[(q + 3) % 4];
        return;
    }
    const double rad = r * std::numbers::pi / 180.0;
    *cs = std::cos(rad);
    *sn = std::sin(rad);
}

// tan of a skew angle in degrees, exact at multiples of 45; nullopt at 90.
std::optional<double> skew_tangent(double degrees) {
    const double r = std::fmod(degrees, 180.0);
    if (std::fmod(r, 45.0) == 0.0) {
        constexpr double tangents[] = {0, 1, 0, -1};
        const int q = (static_cast<int>(r / 45.0) % 4 + 4) % 4;
        if (q == 2) return std::nullopt;
        return tangents[q];
    }
    const double t = std::tan(r * std::numbers::pi / 180.0);
    if (!std::isfinite(t)) return std::nullopt;
    return t;
}

MaskOutline transformed(const MaskOutline& outline, const Affine& m) {
    if (m.identity()) return outline;
    MaskOutline r = outline;
    for (MaskVertex& v : r.vertices) {
        const MaskVertex o = v;
        v.x = m.a * o.x + m.c * o.y + m.e;
        v.y = m.b * o.x + m.d * o.y + m.f;
        // Tangents are offsets: only the linear part moves them.
        v.in_x = m.a * o.in_x + m.c * o.in_y;
        v.in_y = m.b * o.in_x + m.d * o.in_y;
        v.out_x = m.a * o.out_x + m.c * o.out_y;
        v.out_y = m.b * o.out_x + m.d * o.out_y;
    }
    return r;
}

bool finite(const MaskOutline& outline) {
    return std::all_of(outline.vertices.begin(), outline.vertices.end(), [](const MaskVertex& v) {
        return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.in_x) && std::isfinite(v.in_y) &&
               std::isfinite(v.out_x) && std::isfinite(v.out_y);
    });
}

// Handle length of a quarter arc of radius 1 drawn as one cubic.
const double kKappa = 4.0 / 3.0 * (std::sqrt(2.0) - 1.0);

void start_at(MaskOutline& s, double x, double y) { s.vertices.push_back({x, y, 0, 0, 0, 0}); }

// The cubic from the last vertex to (x, y): `out` is the handle leaving the
// last vertex, `in` the one arriving at (x, y), both relative.
void curve_to(MaskOutline& s, double x, double y, double out_x, double out_y, double in_x, double in_y) {
    s.vertices.back().out_x = out_x;
    s.vertices.back().out_y = out_y;
    s.vertices.push_back({x, y, in_x, in_y, 0, 0});
}

void line_to(MaskOutline& s, double x, double y) { curve_to(s, x, y, 0, 0, 0, 0); }

// The closing segment from the last vertex back to the first as a cubic.
void close_with(MaskOutline& s, double out_x, double out_y, double in_x, double in_y) {
    s.vertices.back().out_x = out_x;
    s.vertices.back().out_y = out_y;
    s.vertices.front().in_x = in_x;
    s.vertices.front().in_y = in_y;
    s.closed = true;
}

// An attribute's value read item by item. Errors name the element and the
// attribute and give the offset within the value, as path data errors do.
class ValueReader {
public:
    // `context` names the element and attribute, made only for a message.
    ValueReader(std::function<std::string()> context, std::string_view text)
        : context_(std::move(context)), text_(text) {}

    std::size_t pos() const { return i_; }

    void skip_wsp() {
        while (i_ < text_.size() && is_svg_wsp(text_[i_])) ++i_;
    }

    bool at_end() {
        skip_wsp();
        return i_ == text_.size();
    }

    // White space with at most one comma; true when there was a comma.
    bool comma_wsp() {
        skip_wsp();
        if (i_ < text_.size() && text_[i_] == ',') {
            ++i_;
            skip_wsp();
            return true;
        }
        return false;
    }

    bool take(char c) {
        skip_wsp();
        if (i_ < text_.size() && text_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }

    std::string_view word() {
        const std::size_t start = i_;
        while (i_ < text_.size() && ((text_[i_] >= 'a' && text_[i_] <= 'z') || (text_[i_] >= 'A' && text_[i_] <= 'Z'))) {
            ++i_;
        }
        return text_.substr(start, i_ - start);
    }

    double number(const std::string& what) {
        double value = 0.0;
        switch (scan_svg_number(text_, &i_, &value)) {
            case NumberScan::ok: return value;
            case NumberScan::none: fail_at(i_, "a number (" + what + ")");
            case NumberScan::not_finite: break;
        }
        fail_at(i_, "a number (" + what + ") within the range of finite numbers");
    }

    // Numbers separated by white space and single commas, to the end.
    std::vector<double> numbers(const std::string& what) {
        std::vector<double> list;
        skip_wsp();
        while (i_ < text_.size()) {
            list.push_back(number(what));
            if (comma_wsp() && i_ == text_.size()) fail_at(i_, "a number after ','");
        }
        return list;
    }

    [[noreturn]] void fail_at(std::size_t at, const std::string& expected) const {
        throw SvgDocumentError(context_() + ", offset " + std::to_string(at) + ": expected " + expected + ", found " +
                               found_at(text_, at));
    }

    [[noreturn]] void fail(const std::string& problem) const { throw SvgDocumentError(context_() + ": " + problem); }

private:
    std::function<std::string()> context_;
    std::string_view text_;
    std::size_t i_ = 0;
};

std::string_view local_name(const pugi::xml_node& n) {
    const std::string_view name = n.name();
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// Unprefixed elements are taken as SVG's (its namespace is the default one in
// what drawing programs save); of prefixed ones only "svg:".
bool is_svg_element(const pugi::xml_node& n) {
    if (n.type() != pugi::node_element) return false;
    const std::string_view name = n.name();
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos || name.substr(0, colon) == "svg";
}

bool is_shape(std::string_view name) {
    for (const char* s : {"path", "rect", "circle", "ellipse", "line", "polyline", "polygon"}) {
        if (name == s) return true;
    }
    return false;
}

// Containers whose content is not drawn where it stands.
bool is_definition(std::string_view name) {
    for (const char* s : {"defs", "symbol", "clipPath", "mask", "pattern", "marker", "foreignObject"}) {
        if (name == s) return true;
    }
    return false;
}

// The first shape at or below `top` in document order, outside definitions
// and foreign elements. Iterative: documents may nest deeply.
pugi::xml_node first_shape(pugi::xml_node top, bool* saw_use) {
    pugi::xml_node n = top;
    for (;;) {
        if (is_svg_element(n)) {
            const std::string_view name = local_name(n);
            if (is_shape(name)) return n;
            if (name == "use") *saw_use = true;
            if (!is_definition(name) && n.first_child()) {
                n = n.first_child();
                continue;
            }
        }
        for (;;) {
            if (n == top) return {};
            if (n.next_sibling()) {
                n = n.next_sibling();
                break;
            }
            n = n.parent();
        }
    }
}

// Lengths of user space: which side of the viewport a percentage refers to.
enum class Axis { x, y, diagonal };

// The size of the current viewport in user units, where known.
struct Viewport {
    std::optional<double> width, height;
};

class DocumentReader {
public:
    explicit DocumentReader(std::string_view xml) : xml_(xml) {}

    SvgPath read(std::string_view id) {
        // Escapes are XML's own (&lt; &#10; ...); without parse_doctype the
        // DTD is skipped whole, so its entities are never defined, let alone
        // expanded, and nothing it names is fetched.
        const unsigned options = pugi::parse_escapes | pugi::parse_wconv_attribute | pugi::parse_eol;
        const pugi::xml_parse_result parsed = doc_.load_buffer(xml_.data(), xml_.size(), options);
        if (!parsed) {
            throw SvgDocumentError("not a well-formed XML document: line " + std::to_string(line_of(parsed.offset)) +
                                   ": " + parsed.description());
        }
        const pugi::xml_node root = doc_.document_element();
        if (!root || !is_svg_element(root) || local_name(root) != "svg") {
            throw SvgDocumentError(std::string("not an SVG document: the root element is <") +
                                   (root ? root.name() : "") + ">");
        }
        const pugi::xml_node shape = target(root, id);

        std::vector<pugi::xml_node> chain;
        for (pugi::xml_node n = shape; n && n != doc_; n = n.parent()) chain.push_back(n);
        Affine ctm;
        Viewport viewport;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            ctm = ctm * transform_of(*it);
            if (is_svg_element(*it) && local_name(*it) == "svg") ctm = ctm * enter_viewport(*it, *it == root, &viewport);
        }
        SvgPath path = outline_of(shape, viewport);
        path.outline = transformed(path.outline, ctm);
        if (!finite(path.outline)) fail(shape, "the transforms take the outline beyond the range of finite numbers");
        return path;
    }

private:
    std::size_t line_of(std::ptrdiff_t offset) const {
        const std::size_t end = std::min(xml_.size(), static_cast<std::size_t>(std::max<std::ptrdiff_t>(offset, 0)));
        return 1 + static_cast<std::size_t>(std::count(xml_.begin(), xml_.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
    }

    std::string where(const pugi::xml_node& n) const {
        std::string s = "line " + std::to_string(line_of(n.offset_debug())) + ", <" + n.name();
        if (const pugi::xml_attribute id = n.attribute("id")) s += std::string(" id=\"") + id.value() + "\"";
        return s + ">";
    }

    [[noreturn]] void fail(const pugi::xml_node& n, const std::string& problem) const {
        throw SvgDocumentError(where(n) + ": " + problem);
    }

    ValueReader value(const pugi::xml_node& n, const char* attribute) const {
        return ValueReader([this, n, attribute] { return where(n) + ": " + attribute; }, n.attribute(attribute).value());
    }

    pugi::xml_node target(const pugi::xml_node& root, std::string_view id) const {
        bool saw_use = false;
        if (id.empty()) {
            const pugi::xml_node shape = first_shape(root, &saw_use);
            if (!shape) {
                throw SvgDocumentError(
                    std::string("the document has no path or basic shape (path, rect, circle, ellipse, line, "
                                "polyline, polygon) outside definitions") +
                    (saw_use ? "; <use> references are not followed" : ""));
            }
            return shape;
        }
        const auto has_id = [id](const pugi::xml_node& n) {
            return n.type() == pugi::node_element && std::string_view(n.attribute("id").value()) == id;
        };
        const pugi::xml_node named = has_id(root) ? root : root.find_node(has_id);
        if (!named) throw SvgDocumentError("the document has no element with id \"" + std::string(id) + "\"");
        if (is_svg_element(named) && local_name(named) == "use") {
            fail(named, "<use> references are not followed; name the shape itself");
        }
        const pugi::xml_node shape = is_svg_element(named) ? first_shape(named, &saw_use) : pugi::xml_node();
        if (!shape) fail(named, "neither a path or basic shape, nor a group holding one");
        return shape;
    }

    Affine transform_of(const pugi::xml_node& n) const {
        if (!n.attribute("transform")) return {};
        ValueReader r = value(n, "transform");
        Affine m;
        while (!r.at_end()) {
            const std::size_t at = r.pos();
            const std::string name(r.word());
            if (!r.take('(')) {
                r.fail_at(at, "a transform: matrix, translate, scale, rotate, skewX or skewY with its numbers in "
                              "parentheses");
            }
            double a[7] = {};
            std::size_t count = 0;
            bool comma = false;
            for (;;) {
                r.skip_wsp();
                const std::size_t here = r.pos();
                if (r.take(')')) {
                    if (comma) r.fail_at(here, "a number after ','");
                    break;
                }
                if (count == 7) r.fail_at(here, "')'");
                a[count++] = r.number("argument of " + name);
                comma = r.comma_wsp();
            }
            m = m * transform_step(r, at, name, a, count);
            r.comma_wsp();
        }
        return m;
    }

    static Affine transform_step(const ValueReader& r, std::size_t at, const std::string& name, const double* a,
                                 std::size_t count) {
        const auto arity = [&](std::initializer_list<std::size_t> allowed, const char* says) {
            if (std::find(allowed.begin(), allowed.end(), count) == allowed.end()) {
                r.fail(name + " at offset " + std::to_string(at) + " takes " + says + ", not " + std::to_string(count));
            }
        };
        if (name == "matrix") {
            arity({6}, "6 numbers");
            return {a[0], a[1], a[2], a[3], a[4], a[5]};
        }
        if (name == "translate") {
            arity({1, 2}, "1 or 2 numbers");
            return translation(a[0], count == 2 ? a[1] : 0.0);
        }
        if (name == "scale") {
            arity({1, 2}, "1 or 2 numbers");
            return {a[0], 0, 0, count == 2 ? a[1] : a[0], 0, 0};
        }
        if (name == "rotate") {
            arity({1, 3}, "1 or 3 numbers");
            double cs = 1, sn = 0;
            turn(a[0], &cs, &sn);
            const Affine spin{cs, sn, -sn, cs, 0, 0};
            if (count == 1) return spin;
            return translation(a[1], a[2]) * spin * translation(-a[1], -a[2]);
        }
        if (name == "skewX" || name == "skewY") {
            arity({1}, "1 number");
            const std::optional<double> t = skew_tangent(a[0]);
            if (!t) r.fail(name + " at offset " + std::to_string(at) + " by a right angle has no result");
            return name == "skewX" ? Affine{1, 0, *t, 1, 0, 0} : Affine{1, *t, 0, 1, 0, 0};
        }
        r.fail_at(at, "a transform: matrix, translate, scale, rotate, skewX or skewY");
    }

    // A length attribute in user units: a number, then px, pt, pc, mm, cm, in
    // or a percentage of the viewport. nullopt when absent or "auto".
    std::optional<double> length(const pugi::xml_node& n, const char* attribute, Axis axis,
                                 const Viewport& viewport) const {
        const pugi::xml_attribute attr = n.attribute(attribute);
        if (!attr) return std::nullopt;
        std::string_view text = attr.value();
        while (!text.empty() && is_svg_wsp(text.front())) text.remove_prefix(1);
        while (!text.empty() && is_svg_wsp(text.back())) text.remove_suffix(1);
        if (text == "auto") return std::nullopt;
        ValueReader v = value(n, attribute);
        v.skip_wsp();
        const double number = v.number("length");
        const std::size_t unit_at = v.pos();
        std::string unit(v.take('%') ? "%" : v.word());
        if (!v.at_end()) v.fail_at(v.pos(), "the end of the length");
        std::transform(unit.begin(), unit.end(), unit.begin(), [](char c) { return static_cast<char>(c | 0x20); });
        if (unit == "%") {
            const std::optional<double> w = viewport.width, h = viewport.height;
            if (!w || !h) v.fail("a percentage needs a viewBox or the root's width and height");
            const double side = axis == Axis::x   ? *w
                                : axis == Axis::y ? *h
                                                  : std::sqrt((*w * *w + *h * *h) / 2.0);
            return number / 100.0 * side;
        }
        const struct {
            const char* name;
            double num, den;  // pixels per unit, as a fraction
        } units[] = {{"", 1, 1}, {"px", 1, 1}, {"pt", 96, 72}, {"pc", 96, 6}, {"mm", 96, 25.4}, {"cm", 96, 2.54},
                     {"in", 96, 1}};
        for (const auto& u : units) {
            if (unit == u.name) return number * u.num / u.den;
        }
        v.fail_at(unit_at, "a unit px, pt, pc, mm, cm, in or %");
    }

    double length_or(const pugi::xml_node& n, const char* attribute, Axis axis, const Viewport& viewport,
                     double fallback) const {
        return length(n, attribute, axis, viewport).value_or(fallback);
    }

    double size(const pugi::xml_node& n, const char* attribute, Axis axis, const Viewport& viewport) const {
        const double v = length_or(n, attribute, axis, viewport, 0.0);
        if (v < 0.0) fail(n, std::string(attribute) + " is negative");
        return v;
    }

    // rx and ry of a rect or ellipse; one left out (or "auto") takes the
    // other's value, both left out are 0.
    std::pair<double, double> radii(const pugi::xml_node& n, const Viewport& vp) const {
        std::optional<double> rx = length(n, "rx", Axis::x, vp);
        std::optional<double> ry = length(n, "ry", Axis::y, vp);
        if ((rx && *rx < 0.0) || (ry && *ry < 0.0)) fail(n, "rx and ry must not be negative");
        if (!rx) rx = ry;
        if (!ry) ry = rx;
        return {rx.value_or(0.0), ry.value_or(0.0)};
    }

    // The mapping of an <svg> element's content into its parent's user space
    // (for the root: into pixels); `viewport` becomes the content's own.
    Affine enter_viewport(const pugi::xml_node& svg, bool is_root, Viewport* viewport) const {
        std::optional<std::array<double, 4>> box;
        if (svg.attribute("viewBox")) {
            ValueReader r = value(svg, "viewBox");
            const std::vector<double> v = r.numbers("viewBox");
            if (v.size() != 4) r.fail("takes 4 numbers (min-x min-y width height), not " + std::to_string(v.size()));
            if (!(v[2] > 0.0 && v[3] > 0.0)) r.fail("width and height must be positive");
            box = std::array<double, 4>{v[0], v[1], v[2], v[3]};
        }
        Affine at;
        std::optional<double> w, h;
        if (is_root) {
            // Without a parent viewport a percentage is of the drawing's own
            // size; a missing side follows the viewBox's proportions.
            Viewport own;
            if (box) own = {(*box)[2], (*box)[3]};
            w = length(svg, "width", Axis::x, own);
            h = length(svg, "height", Axis::y, own);
            if (box) {
                if (!w && !h) {
                    w = (*box)[2];
                    h = (*box)[3];
                } else if (!w) {
                    w = *h * (*box)[2] / (*box)[3];
                } else if (!h) {
                    h = *w * (*box)[3] / (*box)[2];
                }
            }
        } else {
            at = translation(length_or(svg, "x", Axis::x, *viewport, 0.0), length_or(svg, "y", Axis::y, *viewport, 0.0));
            Viewport parent = *viewport;
            w = length(svg, "width", Axis::x, parent);
            h = length(svg, "height", Axis::y, parent);
            if (!w) w = parent.width;
            if (!h) h = parent.height;
        }
        if ((w && *w < 0.0) || (h && *h < 0.0)) fail(svg, "width and height must not be negative");
        if (!box) {
            *viewport = {w, h};
            return at;
        }
        *viewport = {(*box)[2], (*box)[3]};
        if (!w || !h) fail(svg, "a nested viewBox needs the viewport's width and height");
        return at * box_mapping(svg, *box, *w, *h);
    }

    // The viewBox's rectangle fitted into a width × height viewport.
    Affine box_mapping(const pugi::xml_node& svg, const std::array<double, 4>& box, double width,
                       double height) const {
        double align_x = 0.5, align_y = 0.5;
        bool none = false, slice = false;
        if (svg.attribute("preserveAspectRatio")) {
            ValueReader r = value(svg, "preserveAspectRatio");
            r.skip_wsp();
            std::size_t at = r.pos();
            std::string align(r.word());
            if (align == "defer") {
                r.skip_wsp();
                at = r.pos();
                align = r.word();
            }
            const char* sides[] = {"Min", "Mid", "Max"};
            bool known = align == "none";
            none = known;
            for (int i = 0; i < 3 && !known; ++i) {
                for (int j = 0; j < 3 && !known; ++j) {
                    if (align == std::string("x") + sides[i] + "Y" + sides[j]) {
                        known = true;
                        align_x = i / 2.0;
                        align_y = j / 2.0;
                    }
                }
            }
            if (!known) r.fail_at(at, "an alignment: none or xMinYMin ... xMaxYMax");
            r.skip_wsp();
            const std::size_t mode_at = r.pos();
            const std::string_view mode = r.word();
            if (mode == "slice") {
                slice = true;
            } else if (!mode.empty() && mode != "meet") {
                r.fail_at(mode_at, "meet or slice");
            }
            if (!r.at_end()) r.fail_at(r.pos(), "the end of the value");
        }
        double sx = width / box[2];
        double sy = height / box[3];
        if (!none) sx = sy = slice ? std::max(sx, sy) : std::min(sx, sy);
        const double tx = (width - box[2] * sx) * align_x - box[0] * sx;
        const double ty = (height - box[3] * sy) * align_y - box[1] * sy;
        return {sx, 0, 0, sy, tx, ty};
    }

    SvgPath outline_of(const pugi::xml_node& n, const Viewport& vp) const {
        const std::string_view name = local_name(n);
        SvgPath result;
        MaskOutline& s = result.outline;
        if (name == "path") {
            if (!n.attribute("d")) fail(n, "no d attribute");
            try {
                result = parse_svg_path(n.attribute("d").value());
            } catch (const SvgPathError& e) {
                fail(n, std::string("d: ") + e.what());
            }
            if (!result.warning.empty()) result.warning = where(n) + ": " + result.warning;
        } else if (name == "rect") {
            const double x = length_or(n, "x", Axis::x, vp, 0.0);
            const double y = length_or(n, "y", Axis::y, vp, 0.0);
            const double w = size(n, "width", Axis::x, vp);
            const double h = size(n, "height", Axis::y, vp);
            const auto [rx, ry] = radii(n, vp);
            const double kx = std::min(rx, w / 2.0);
            const double ky = std::min(ry, h / 2.0);
            if (kx > 0.0 && ky > 0.0) {
                const double hx = kKappa * kx, hy = kKappa * ky;
                start_at(s, x + kx, y);
                line_to(s, x + w - kx, y);
                curve_to(s, x + w, y + ky, hx, 0, 0, -hy);
                line_to(s, x + w, y + h - ky);
                curve_to(s, x + w - kx, y + h, 0, hy, hx, 0);
                line_to(s, x + kx, y + h);
                curve_to(s, x, y + h - ky, -hx, 0, 0, hy);
                line_to(s, x, y + ky);
                close_with(s, 0, -hy, -hx, 0);
            } else {
                start_at(s, x, y);
                line_to(s, x + w, y);
                line_to(s, x + w, y + h);
                line_to(s, x, y + h);
                s.closed = true;
            }
        } else if (name == "circle" || name == "ellipse") {
            const double cx = length_or(n, "cx", Axis::x, vp, 0.0);
            const double cy = length_or(n, "cy", Axis::y, vp, 0.0);
            double rx = 0.0, ry = 0.0;
            if (name == "circle") {
                rx = ry = size(n, "r", Axis::diagonal, vp);
            } else {
                std::tie(rx, ry) = radii(n, vp);
            }
            const double hx = kKappa * rx, hy = kKappa * ry;
            start_at(s, cx + rx, cy);
            curve_to(s, cx, cy + ry, 0, hy, hx, 0);
            curve_to(s, cx - rx, cy, -hx, 0, 0, hy);
            curve_to(s, cx, cy - ry, 0, -hy, -hx, 0);
            close_with(s, hx, 0, 0, -hy);
        } else if (name == "line") {
            start_at(s, length_or(n, "x1", Axis::x, vp, 0.0), length_or(n, "y1", Axis::y, vp, 0.0));
            line_to(s, length_or(n, "x2", Axis::x, vp, 0.0), length_or(n, "y2", Axis::y, vp, 0.0));
        } else {  // polyline, polygon
            ValueReader r = value(n, "points");
            const std::vector<double> v = r.numbers("coordinate");
            if (v.empty()) fail(n, "no points");
            if (v.size() % 2 != 0) r.fail("an odd number of coordinates; points are x,y pairs");
            start_at(s, v[0], v[1]);
            for (std::size_t i = 2; i < v.size(); i += 2) line_to(s, v[i], v[i + 1]);
            if (name == "polygon") {
                // Closing onto the first point draws that side once.
                if (s.vertices.size() > 1 && s.vertices.back().x == v[0] && s.vertices.back().y == v[1]) {
                    s.vertices.pop_back();
                }
                s.closed = true;
            }
        }
        if (!finite(s)) fail(n, "the shape reaches beyond the range of finite numbers");
        return result;
    }

    std::string_view xml_;
    pugi::xml_document doc_;
};

}  // namespace

bool looks_like_xml(std::string_view text) {
    if (text.size() >= 2 && ((text[0] == '\xff' && text[1] == '\xfe') || (text[0] == '\xfe' && text[1] == '\xff'))) {
        return true;  // UTF-16
    }
    if (text.substr(0, 3) == "\xef\xbb\xbf") text.remove_prefix(3);
    std::size_t i = 0;
    while (i < text.size() && is_svg_wsp(text[i])) ++i;
    return i < text.size() && text[i] == '<';
}

SvgPath read_svg_document(std::string_view xml, std::string_view id) { return DocumentReader(xml).read(id); }

}  // namespace cli
