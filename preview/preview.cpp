#include "preview/preview.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "footage/keyframes.h"
#include "masks/svg_path.h"
#include "preview/preview_page.h"
#include "scene/session.h"

namespace cli {

namespace {

using nlohmann::json;

// Far above any request the page makes (a mask of thousands of vertices).
constexpr std::size_t kMaxBody = 1 << 20;
constexpr std::size_t kMaxSaveName = 200;

std::string round_trip(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// 8-bit for display, compressed lightly: the page wants it soon, not small.
std::string encode_png(const Image& image) {
    WriteOptions fast;
    fast.png_compression = 1;
    const std::vector<unsigned char> bytes =
        encode_image("preview.png", image.depth() == Image::k8 ? image : convert(image, Image::k8), fast);
    return std::string(bytes.begin(), bytes.end());
}

// A request the page could not have meant; answered 400 with the message.
struct BadRequest : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const char* type_name(PF_ParamType type) {
    switch (type) {
    case PF_Param_SLIDER: return "slider";
    case PF_Param_FIX_SLIDER: return "fixed";
    case PF_Param_POPUP: return "popup";
    case PF_Param_CHECKBOX: return "checkbox";
    case PF_Param_PATH: return "path";
    case PF_Param_LAYER: return "layer";
    default: return "other";
    }
}

// A raw value in the units the command line and the page use.
json value_of(const DeclaredParam& p, A_long raw) {
    switch (p.def.param_type) {
    case PF_Param_FIX_SLIDER: return raw / 65536.0;
    case PF_Param_CHECKBOX: return raw != 0;
    default: return raw;
    }
}

json describe(const DeclaredParam& p, const std::map<std::string, std::string>& labels) {
    const PF_ParamDef& d = p.def;
    json j{{"name", d.name}, {"index", p.index}, {"type", type_name(d.param_type)}};
    if (const auto label = labels.find(d.name); label != labels.end()) j["flag"] = label->second;
    switch (d.param_type) {
    case PF_Param_SLIDER:
        j["valid"] = {d.u.sd.valid_min, d.u.sd.valid_max};
        j["slider"] = {d.u.sd.slider_min, d.u.sd.slider_max};
        j["default"] = d.u.sd.dephault;
        break;
    case PF_Param_FIX_SLIDER:
        j["valid"] = {d.u.fd.valid_min / 65536.0, d.u.fd.valid_max / 65536.0};
        j["slider"] = {d.u.fd.slider_min / 65536.0, d.u.fd.slider_max / 65536.0};
        j["default"] = d.u.fd.dephault / 65536.0;
        j["precision"] = d.u.fd.precision;
        j["percent"] = (d.u.fd.display_flags & PF_ValueDisplayFlag_PERCENT) != 0;
        break;
    case PF_Param_POPUP:
        j["choices"] = p.choices;
        j["default"] = d.u.pd.dephault;
        break;
    case PF_Param_CHECKBOX: j["default"] = d.u.bd.dephault != 0; break;
    default: break;
    }
    return j;
}

json describe(const standalone::MaskShape& shape) {
    json vertices = json::array();
    for (const standalone::MaskVertex& v : shape.vertices) {
        vertices.push_back({v.x, v.y, v.in_x, v.in_y, v.out_x, v.out_y});
    }
    return {{"vertices", vertices}, {"closed", shape.closed}};
}

// What the page asks for: values it changed (the others keep the command
// line's, keyframes included), the mask as path data (absent: the command
// line's), the frame and the draft size.
struct View : PreviewEdit {
    int downsample = 1;
    bool input = false;
};

// The name to write a still as, inside the save folder: no folders, no
// way out of it, no hidden files.
std::string checked_save_name(const std::string& name, const std::string& format) {
    if (name.empty() || name.size() > kMaxSaveName || name.front() == '.' ||
        name.find_first_of("/\\") != std::string::npos || name.find("..") != std::string::npos ||
        std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
        throw BadRequest("a still's name is a plain file name, without folders");
    }
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    const std::string ext = "." + format;
    if (lower.size() > ext.size() && lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0) return name;
    return name + ext;
}

}  // namespace

struct PreviewServer::Impl {
    PreviewConfig config;
    httplib::Server server;
    int port = 0;
    std::vector<std::string> own_hosts;  // "host:port" the page may be reached by

    std::mutex scenes_mutex;
    std::map<int, std::unique_ptr<Scene>> scenes;  // by downsample factor
    std::unique_ptr<DeclaredParams> declared;
    Image::Depth depth = Image::k8;

    // Bumped by every preview render; a render whose number is no longer the
    // latest is cancelled through the host's abort hook.
    std::atomic<std::uint64_t> generation{0};

    explicit Impl(PreviewConfig c) : config(std::move(c)) {
        depth = scene(1).input->depth();
        declared = std::make_unique<DeclaredParams>(declared_params(config.scene.module));
    }

    const Scene& scene(int downsample) {
        std::lock_guard<std::mutex> lock(scenes_mutex);
        std::unique_ptr<Scene>& slot = scenes[downsample];
        if (!slot) {
            SceneRequest request = config.scene;
            request.downsample = Ratio{1, downsample};
            slot = std::make_unique<Scene>(make_scene(request));
        }
        return *slot;
    }

    // The value's label for the user; null for a parameter the page may not set.
    const std::string* label(const std::string& name) const {
        const auto it = config.labels.find(name);
        return it == config.labels.end() ? nullptr : &it->second;
    }

    View parse_view(const json& j) const {
        const std::vector<long>& frames = config.frames;
        View v;
        v.frame = frames.front();
        if (!j.is_object()) throw BadRequest("expected a JSON object");
        if (j.contains("frame")) {
            if (!j["frame"].is_number_integer()) throw BadRequest("frame: a whole number");
            v.frame = j["frame"].get<long>();
            if (std::find(frames.begin(), frames.end(), v.frame) == frames.end()) {
                throw BadRequest("frame " + std::to_string(v.frame) + " is not among --frames");
            }
        }
        if (j.contains("downsample")) {
            if (!j["downsample"].is_number_integer()) throw BadRequest("downsample: 1, 2 or 4");
            v.downsample = j["downsample"].get<int>();
            if (v.downsample != 1 && v.downsample != 2 && v.downsample != 4) throw BadRequest("downsample: 1, 2 or 4");
        }
        if (j.contains("view")) {
            if (j["view"] != "input" && j["view"] != "output") throw BadRequest("view: input or output");
            v.input = j["view"] == "input";
        }
        if (j.contains("mask") && !j["mask"].is_null()) {
            if (!j["mask"].is_string()) throw BadRequest("mask: SVG path data");
            v.mask = j["mask"].get<std::string>();
            if (!v.mask->empty()) {
                try {
                    (void)parse_svg_path(*v.mask);
                } catch (const SvgPathError& e) {
                    throw BadRequest(std::string("mask: ") + e.what());
                }
            }
        }
        if (j.contains("params")) {
            if (!j["params"].is_object()) throw BadRequest("params: an object of parameter values by name");
            for (const auto& [name, value] : j["params"].items()) {
                const DeclaredParam* p = declared->find(name);
                if (p == nullptr || label(name) == nullptr) throw BadRequest("no parameter \"" + name + "\" to set");
                std::string text;
                if (value.is_boolean()) {
                    text = value.get<bool>() ? "1" : "0";
                } else if (value.is_number()) {
                    const double d = value.get<double>();
                    text = round_trip(d);
                    const std::size_t choice = static_cast<std::size_t>(d);
                    if (p->def.param_type == PF_Param_POPUP && d >= 1 && choice <= p->choices.size() &&
                        static_cast<double>(choice) == d) {
                        text = choice_word(p->choices[choice - 1]);
                    }
                } else {
                    throw BadRequest(name + ": a number or true/false");
                }
                v.changed[name] = text;
            }
        }
        return v;
    }

    // The starting values with the page's changes in place.
    std::vector<std::pair<std::string, std::string>> values(const PreviewEdit& v) const {
        std::vector<std::pair<std::string, std::string>> out;
        for (const auto& value : config.values) {
            if (v.changed.count(value.first) == 0) out.push_back(value);
        }
        // The changes in the order of their labels, as the command line
        // has always listed them.
        std::vector<std::pair<std::string, std::string>> changed(v.changed.begin(), v.changed.end());
        std::sort(changed.begin(), changed.end(),
                  [this](const auto& a, const auto& b) { return *label(a.first) < *label(b.first); });
        out.insert(out.end(), changed.begin(), changed.end());
        return out;
    }

    Image render(const View& v, const std::function<bool()>& cancel) {
        const Scene& base = scene(v.downsample);
        if (v.input) return to_image(*base.input->frame(v.frame));
        Scene scene = base;
        scene.settings.clear();
        for (const auto& [name, text] : values(v)) {
            scene.settings.push_back(parse_setting(declared->named(name), *label(name), text));
        }
        if (v.mask) {
            scene.mask.clear();
            if (!v.mask->empty()) {
                MaskOutline outline = parse_svg_path(*v.mask).outline;
                // As the job scales the command line's mask.
                if (v.downsample != 1) {
                    const double factor = 1.0 / static_cast<double>(v.downsample);
                    outline = scale(outline, factor, factor);
                }
                scene.mask.push_back({0.0, std::move(outline)});
            }
        }
        FrameRenderer renderer(config.scene.module, scene);
        if (cancel) renderer.watch([](long, long) {}, cancel);
        return renderer.render(v.frame);
    }

    // As the written file would hold it.
    Image shown(Image image) const {
        if (config.output.from_colorspace != config.output.to_colorspace) {
            convert_colorspace(image, config.output.from_colorspace, config.output.to_colorspace);
        }
        return image;
    }

    std::string command(const View& v) const { return config.command(v, values(v), depth); }

    // The page's starting point, and the command line's mask on `frame`.
    json state(long frame) {
        const std::vector<long>& frames = config.frames;
        if (std::find(frames.begin(), frames.end(), frame) == frames.end()) {
            throw BadRequest("frame " + std::to_string(frame) + " is not among --frames");
        }
        const Scene& full = scene(1);
        const std::shared_ptr<standalone::World> first = full.input->frame(frame);
        json values = json::object();
        for (const DeclaredParam& p : declared->all()) {
            if (label(p.def.name) == nullptr) continue;
            json entry = describe(p, config.labels)["default"];
            bool keyed = false;
            for (const ParamSetting& s : full.settings) {
                if (s.index != p.index || s.keys.empty()) continue;
                keyed = s.animated;
                const A_long raw = s.animated ? standalone::interpolate(s.keys, static_cast<double>(frame),
                                                                        p.def.param_type == PF_Param_POPUP
                                                                            ? standalone::Interp::Hold
                                                                            : standalone::Interp::Linear)
                                              : s.keys.front().value;
                entry = value_of(p, raw);
            }
            values[p.def.name] = {{"value", entry}, {"keyed", keyed}};
        }
        json j{{"width", first->width()},
               {"height", first->height()},
               {"frames", frames},
               {"values", values},
               {"input", config.input_name},
               {"layer", config.layer_name},
               {"mask", nullptr},
               {"mask_moves", full.mask.size() > 1}};
        if (!full.mask.empty()) {
            j["mask"] = describe(standalone::interpolate_mask(full.mask, static_cast<double>(frame)));
        }
        return j;
    }

    json save(const json& body) {
        const View v = parse_view(body);
        const std::string format = body.value("format", "png");
        if (format != "png" && format != "exr") throw BadRequest("format: png or exr");
        std::string name;
        const std::filesystem::path dir(config.save_dir);
        if (body.contains("name") && !body["name"].is_null() && body["name"] != "") {
            if (!body["name"].is_string()) throw BadRequest("name: a file name");
            name = checked_save_name(body["name"].get<std::string>(), format);
        } else {
            for (int n = 1; n < 10000 && name.empty(); ++n) {
                std::string candidate = "preview_" + std::to_string(v.frame) +
                                        (n > 1 ? "_" + std::to_string(n) : std::string()) + "." + format;
                std::error_code ec;
                if (!std::filesystem::exists(dir / candidate, ec)) name = candidate;
            }
            if (name.empty()) throw BadRequest("no free file name left in the save folder");
        }
        View full = v;
        full.downsample = 1;
        const Image image = render(full, {});
        write_output(config.output, (dir / name).string(), image);
        return {{"file", name}};
    }

    bool own_request(const httplib::Request& req) const {
        const std::string host = req.get_header_value("Host");
        if (std::find(own_hosts.begin(), own_hosts.end(), host) == own_hosts.end()) return false;
        if (!req.has_header("Origin")) return true;
        return req.get_header_value("Origin") == "http://" + host;
    }

    template <class Handler>
    void guarded(httplib::Response& res, Handler handler) {
        auto fail = [&](int status, const std::string& message) {
            res.status = status;
            res.set_content(json{{"error", message}}.dump(), "application/json");
        };
        try {
            handler();
        } catch (const BadRequest& e) {
            fail(400, e.what());
        } catch (const json::exception& e) {
            fail(400, e.what());
        } catch (const ValueError& e) {
            fail(400, e.what());
        } catch (const ImageError& e) {
            fail(400, e.what());
        } catch (const std::exception& e) {
            fail(500, e.what());
        }
    }

    void routes() {
        server.set_payload_max_length(kMaxBody);
        server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            if (own_request(req)) return httplib::Server::HandlerResponse::Unhandled;
            res.status = 403;
            res.set_content("forbidden: not this server's address\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        });
        auto page = [this](const char* path, const char* text, const char* type) {
            server.Get(path, [text, type](const httplib::Request&, httplib::Response& res) {
                res.set_content(text, type);
                res.set_header("Cache-Control", "no-store");
            });
        };
        page("/", kPreviewHtml, "text/html; charset=utf-8");
        page("/preview.js", kPreviewJs, "text/javascript; charset=utf-8");
        page("/preview.css", kPreviewCss, "text/css; charset=utf-8");
        server.Get("/api/params", [this](const httplib::Request&, httplib::Response& res) {
            json list = json::array();
            for (const DeclaredParam& p : declared->all()) list.push_back(describe(p, config.labels));
            res.set_content(list.dump(), "application/json");
        });
        server.Get("/api/state", [this](const httplib::Request& req, httplib::Response& res) {
            guarded(res, [&] {
                long frame = config.frames.front();
                if (req.has_param("frame")) {
                    try {
                        frame = std::stol(req.get_param_value("frame"));
                    } catch (const std::exception&) {
                        throw BadRequest("frame: a whole number");
                    }
                }
                res.set_content(state(frame).dump(), "application/json");
            });
        });
        server.Post("/api/render", [this](const httplib::Request& req, httplib::Response& res) {
            guarded(res, [&] {
                const View v = parse_view(json::parse(req.body));
                const std::uint64_t mine = ++generation;
                auto superseded = [this, mine] { return generation.load() != mine; };
                try {
                    const Image image = shown(render(v, superseded));
                    res.set_content(encode_png(image), "image/png");
                    res.set_header("X-Image-Size", std::to_string(image.width) + "x" + std::to_string(image.height));
                } catch (const EffectError&) {
                    if (!superseded()) throw;
                    res.status = 409;
                    res.set_content(json{{"error", "superseded by a later render"}}.dump(), "application/json");
                }
            });
        });
        server.Post("/api/save", [this](const httplib::Request& req, httplib::Response& res) {
            guarded(res, [&] { res.set_content(save(json::parse(req.body)).dump(), "application/json"); });
        });
        server.Get("/api/command", [this](const httplib::Request& req, httplib::Response& res) {
            guarded(res, [&] {
                json j = json::object();
                if (req.has_param("state")) j = json::parse(req.get_param_value("state"));
                res.set_content(json{{"command", command(parse_view(j))}}.dump(), "application/json");
            });
        });
    }
};

PreviewServer::PreviewServer(PreviewConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {
    impl_->routes();
}

PreviewServer::~PreviewServer() = default;

int PreviewServer::bind() {
    Impl& s = *impl_;
    if (s.config.port == 0) {
        s.port = s.server.bind_to_any_port(s.config.host);
    } else {
        s.port = s.server.bind_to_port(s.config.host, s.config.port) ? s.config.port : -1;
    }
    if (s.port <= 0) return -1;
    const std::string port = ":" + std::to_string(s.port);
    s.own_hosts = {"127.0.0.1" + port, "localhost" + port, s.config.host + port};
    return s.port;
}

void PreviewServer::serve() { impl_->server.listen_after_bind(); }

void PreviewServer::stop() { impl_->server.stop(); }

}  // namespace cli
