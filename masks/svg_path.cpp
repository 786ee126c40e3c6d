#include "masks/svg_path.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <system_error>

namespace cli {

SvgPathError::SvgPathError(std::size_t offset, const std::string& message)
    : std::runtime_error(message), offset_(offset) {}

namespace {

struct Point {
    double x, y;
};

Point operator+(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }
Point operator-(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }
Point operator*(double k, Point a) { return {k * a.x, k * a.y}; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_command(char c) {
    switch (c) {
        case 'M': case 'm': case 'L': case 'l': case 'H': case 'h': case 'V': case 'v':
        case 'C': case 'c': case 'S': case 's': case 'Q': case 'q': case 'T': case 't':
        case 'A': case 'a': case 'Z': case 'z':
            return true;
        default:
            return false;
    }
}

bool nearly_equal(double a, double b) {
    return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
}

class PathParser {
public:
    explicit PathParser(std::string_view data) : d_(data) {}

    SvgPath run() {
        skip_wsp();
        if (i_ == d_.size() || (d_[i_] != 'M' && d_[i_] != 'm')) {
            fail(i_, "a move-to command ('M' or 'm')");
        }
        for (;;) {
            skip_wsp();
            if (i_ == d_.size()) break;
            const char c = d_[i_];
            if (!is_command(c)) fail(i_, "a command letter");
            cmd_ = c;
            cmd_offset_ = i_;
            ++i_;
            if (c == 'Z' || c == 'z') {
                close();
                continue;
            }
            skip_wsp();
            bool first = true;
            for (;;) {
                execute(c, first);
                first = false;
                skip_wsp();
                bool comma = false;
                if (i_ < d_.size() && d_[i_] == ',') {
                    comma = true;
                    ++i_;
                    skip_wsp();
                }
                if (!number_starts_here()) {
                    if (comma) fail(i_, std::string("a number after ',' for '") + c + "'");
                    break;
                }
            }
        }
        return finish();
    }

private:
    [[noreturn]] void fail(std::size_t at, const std::string& expected) const {
        throw SvgPathError(at, "SVG path data, offset " + std::to_string(at) + ": expected " +
                                   expected + ", found " + found_at(d_, at));
    }

    void skip_wsp() {
        while (i_ < d_.size() && is_svg_wsp(d_[i_])) ++i_;
    }

    // Between two arguments of one command: white space, at most one comma.
    void separator() {
        skip_wsp();
        if (i_ < d_.size() && d_[i_] == ',') {
            ++i_;
            skip_wsp();
        }
    }

    bool number_starts_here() const {
        if (i_ >= d_.size()) return false;
        const char c = d_[i_];
        return is_digit(c) || c == '.' || c == '+' || c == '-';
    }

    std::string what_for(const char* name) const {
        return std::string("a number (") + name + ") for '" + cmd_ + "'";
    }

    double number(const char* name) {
        const std::size_t start = i_;
        double value = 0.0;
        switch (scan_svg_number(d_, &i_, &value)) {
            case NumberScan::ok: return value;
            case NumberScan::none: fail(start, what_for(name));
            case NumberScan::not_finite: break;
        }
        fail(start, what_for(name) + " within the range of finite numbers");
    }

    bool flag(const char* name) {
        if (i_ < d_.size() && (d_[i_] == '0' || d_[i_] == '1')) return d_[i_++] == '1';
        fail(i_, std::string("a flag '0' or '1' (") + name + ") for '" + cmd_ + "'");
    }

    Point pair(const char* xname, const char* yname, bool relative) {
        const double x = number(xname);
        separator();
        const double y = number(yname);
        return relative ? Point{cur_.x + x, cur_.y + y} : Point{x, y};
    }

    void execute(char c, bool first) {
        const bool rel = c >= 'a' && c <= 'z';
        const char up = static_cast<char>(rel ? c - 'a' + 'A' : c);
        bool cubic = false;
        bool quad = false;
        switch (up) {
            case 'M': {
                const Point p = pair("x", "y", rel);
                if (first) {
                    move_to(p);
                } else {
                    line_to(p);  // extra pairs after a move-to are line-tos
                }
                break;
            }
            case 'L':
                line_to(pair("x", "y", rel));
                break;
            case 'H': {
                const double x = number("x");
                line_to({rel ? cur_.x + x : x, cur_.y});
                break;
            }
            case 'V': {
                const double y = number("y");
                line_to({cur_.x, rel ? cur_.y + y : y});
                break;
            }
            case 'C': {
                const Point c1 = pair("x1", "y1", rel);
                separator();
                const Point c2 = pair("x2", "y2", rel);
                separator();
                const Point p = pair("x", "y", rel);
                cubic_to(c1, c2, p);
                last_c2_ = c2;
                cubic = true;
                break;
            }
            case 'S': {
                const Point c2 = pair("x2", "y2", rel);
                separator();
                const Point p = pair("x", "y", rel);
                const Point c1 = prev_cubic_ ? 2.0 * cur_ - last_c2_ : cur_;
                cubic_to(c1, c2, p);
                last_c2_ = c2;
                cubic = true;
                break;
            }
            case 'Q': {
                const Point q = pair("x1", "y1", rel);
                separator();
                const Point p = pair("x", "y", rel);
                quad_to(q, p);
                last_q_ = q;
                quad = true;
                break;
            }
            case 'T': {
                const Point p = pair("x", "y", rel);
                const Point q = prev_quad_ ? 2.0 * cur_ - last_q_ : cur_;
                quad_to(q, p);
                last_q_ = q;
                quad = true;
                break;
            }
            case 'A': {
                const double rx = number("rx");
                separator();
                const double ry = number("ry");
                separator();
                const double angle = number("x-axis-rotation");
                separator();
                const bool large = flag("large-arc-flag");
                separator();
                const bool sweep = flag("sweep-flag");
                separator();
                arc_to(rx, ry, angle, large, sweep, pair("x", "y", rel));
                break;
            }
            default:
                break;
        }
        prev_cubic_ = cubic;
        prev_quad_ = quad;
    }

    void move_to(Point p) {
        subpaths_.push_back({});
        subpaths_.back().vertices.push_back({p.x, p.y, 0.0, 0.0, 0.0, 0.0});
        cur_ = start_ = p;
        after_close_ = false;
    }

    void cubic_to(Point c1, Point c2, Point p) {
        // A drawing command after Z starts a new subpath at the closed one's start.
        if (after_close_) move_to(start_);
        const Point out = c1 - cur_;
        const Point in = c2 - p;
        for (double v : {p.x, p.y, out.x, out.y, in.x, in.y}) {
            if (!std::isfinite(v)) fail(cmd_offset_, "a segment with finite coordinates");
        }
        MaskOutline& o = subpaths_.back();
        o.vertices.back().out_x = out.x;
        o.vertices.back().out_y = out.y;
        o.vertices.push_back({p.x, p.y, in.x, in.y, 0.0, 0.0});
        cur_ = p;
    }

    void line_to(Point p) { cubic_to(cur_, p, p); }

    // The cubic that traces the quadratic exactly.
    void quad_to(Point q, Point p) {
        const Point c1 = cur_ + (2.0 / 3.0) * (q - cur_);
        const Point c2 = p + (2.0 / 3.0) * (q - p);
        cubic_to(c1, c2, p);
    }

    // Endpoint to centre parameterisation, then one cubic per piece of at
    // most 90 degrees.
    void arc_to(double rx, double ry, double angle_deg, bool large, bool sweep, Point p) {
        const Point p0 = cur_;
        if (p0.x == p.x && p0.y == p.y) return;  // SVG omits such an arc
        rx = std::fabs(rx);
        ry = std::fabs(ry);
        if (rx == 0.0 || ry == 0.0) {
            line_to(p);
            return;
        }
        const double phi = std::fmod(angle_deg, 360.0) * std::numbers::pi / 180.0;
        const double cphi = std::cos(phi);
        const double sphi = std::sin(phi);
        const double dx2 = (p0.x - p.x) / 2.0;
        const double dy2 = (p0.y - p.y) / 2.0;
        const double x1 = cphi * dx2 + sphi * dy2;
        const double y1 = -sphi * dx2 + cphi * dy2;
        const double lambda = (x1 * x1) / (rx * rx) + (y1 * y1) / (ry * ry);
        if (lambda > 1.0) {
            rx *= std::sqrt(lambda);
            ry *= std::sqrt(lambda);
        }
        const double rx2 = rx * rx;
        const double ry2 = ry * ry;
        const double den = rx2 * y1 * y1 + ry2 * x1 * x1;
        double coef = den > 0.0 ? std::sqrt(std::max(0.0, (rx2 * ry2 - den) / den)) : 0.0;
        if (large == sweep) coef = -coef;
        const double cxp = coef * rx * y1 / ry;
        const double cyp = -coef * ry * x1 / rx;
        const double cx = cphi * cxp - sphi * cyp + (p0.x + p.x) / 2.0;
        const double cy = sphi * cxp + cphi * cyp + (p0.y + p.y) / 2.0;
        const double ux = (x1 - cxp) / rx;
        const double uy = (y1 - cyp) / ry;
        const double vx = (-x1 - cxp) / rx;
        const double vy = (-y1 - cyp) / ry;
        const double theta1 = std::atan2(uy, ux);
        double dtheta = std::atan2(ux * vy - uy * vx, ux * vx + uy * vy);
        if (!sweep && dtheta > 0.0) dtheta -= 2.0 * std::numbers::pi;
        if (sweep && dtheta < 0.0) dtheta += 2.0 * std::numbers::pi;
        if (!std::isfinite(dtheta) || !std::isfinite(cx) || !std::isfinite(cy)) {
            fail(cmd_offset_, "an arc with finite geometry");
        }
        const int pieces =
            std::max(1, static_cast<int>(std::ceil(std::fabs(dtheta) / (std::numbers::pi / 2.0) - 1e-9)));
        const double delta = dtheta / pieces;
        const double k = 4.0 / 3.0 * std::tan(delta / 4.0);
        const auto on_ellipse = [&](double t) {
            return Point{cx + rx * cphi * std::cos(t) - ry * sphi * std::sin(t),
                         cy + rx * sphi * std::cos(t) + ry * cphi * std::sin(t)};
        };
        const auto derivative = [&](double t) {
            return Point{-rx * cphi * std::sin(t) - ry * sphi * std::cos(t),
                         -rx * sphi * std::sin(t) + ry * cphi * std::cos(t)};
        };
        for (int n = 0; n < pieces; ++n) {
            const double t1 = theta1 + n * delta;
            const double t2 = n + 1 == pieces ? theta1 + dtheta : t1 + delta;
            const Point a = cur_;
            const Point b = n + 1 == pieces ? p : on_ellipse(t2);
            cubic_to(a + k * derivative(t1), b - k * derivative(t2), b);
        }
    }

    void close() {
        if (after_close_) return;  // a repeated Z closes nothing new
        MaskOutline& o = subpaths_.back();
        auto& v = o.vertices;
        if (v.size() > 1 && nearly_equal(v.back().x, v.front().x) &&
            nearly_equal(v.back().y, v.front().y)) {
            v.front().in_x = v.back().in_x;
            v.front().in_y = v.back().in_y;
            v.pop_back();
        }
        o.closed = true;
        cur_ = start_;
        after_close_ = true;
        prev_cubic_ = prev_quad_ = false;
    }

    SvgPath finish() {
        SvgPath result;
        std::size_t drawn = 0;
        for (MaskOutline& o : subpaths_) {
            if (o.vertices.size() < 2) continue;  // draws nothing
            if (drawn++ == 0) result.outline = std::move(o);
        }
        // Nothing drawn: the first subpath is a single vertex, as SVG allows.
        if (drawn == 0) result.outline = std::move(subpaths_.front());
        if (drawn > 1) {
            result.warning = "SVG path has " + std::to_string(drawn) +
                             " subpaths; only the first is used as the mask, the other " +
                             std::to_string(drawn - 1) + " were ignored";
        }
        return result;
    }

    std::string_view d_;
    std::size_t i_ = 0;
    char cmd_ = 'M';
    std::size_t cmd_offset_ = 0;
    std::vector<MaskOutline> subpaths_;
    Point cur_{0.0, 0.0};
    Point start_{0.0, 0.0};
    Point last_c2_{0.0, 0.0};
    Point last_q_{0.0, 0.0};
    bool prev_cubic_ = false;
    bool prev_quad_ = false;
    bool after_close_ = false;
};

}  // namespace

std::string found_at(std::string_view text, std::size_t at) {
    if (at >= text.size()) return "the end of the data";
    const auto ch = static_cast<unsigned char>(text[at]);
    char buf[16];
    if (ch >= 0x20 && ch < 0x7f) {
        std::snprintf(buf, sizeof buf, "'%c'", ch);
    } else {
        std::snprintf(buf, sizeof buf, "byte 0x%02x", ch);
    }
    return buf;
}

bool is_svg_wsp(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// number ::= sign? (digits ('.' digits?)? | '.' digits) (('e'|'E') sign? digits)?
NumberScan scan_svg_number(std::string_view text, std::size_t* pos, double* value) {
    const std::size_t start = *pos;
    std::size_t j = start;
    const std::size_t n = text.size();
    if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
    const std::size_t int_start = j;
    while (j < n && is_digit(text[j])) ++j;
    bool digits = j > int_start;
    if (j < n && text[j] == '.') {
        const std::size_t frac_start = ++j;
        while (j < n && is_digit(text[j])) ++j;
        digits = digits || j > frac_start;
    }
    if (!digits) return NumberScan::none;
    // An 'e' not followed by digits is not part of the number.
    if (j < n && (text[j] == 'e' || text[j] == 'E')) {
        std::size_t k = j + 1;
        if (k < n && (text[k] == '+' || text[k] == '-')) ++k;
        if (k < n && is_digit(text[k])) {
            while (k < n && is_digit(text[k])) ++k;
            j = k;
        }
    }
    std::size_t from = start;
    if (text[from] == '+') ++from;  // from_chars takes no '+'
    const auto res = std::from_chars(text.data() + from, text.data() + j, *value);
    if (res.ec != std::errc() || res.ptr != text.data() + j || !std::isfinite(*value)) {
        return NumberScan::not_finite;
    }
    *pos = j;
    return NumberScan::ok;
}

SvgPath parse_svg_path(std::string_view data) { return PathParser(data).run(); }

MaskOutline scale(const MaskOutline& outline, double sx, double sy) {
    MaskOutline r = outline;
    for (MaskVertex& v : r.vertices) {
        v.x *= sx;
        v.y *= sy;
        v.in_x *= sx;
        v.in_y *= sy;
        v.out_x *= sx;
        v.out_y *= sy;
    }
    return r;
}

MaskOutline translate(const MaskOutline& outline, double dx, double dy) {
    MaskOutline r = outline;
    for (MaskVertex& v : r.vertices) {
        v.x += dx;
        v.y += dy;
    }
    return r;
}

}  // namespace cli
