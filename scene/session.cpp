#include "scene/session.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "footage/keyframes.h"

namespace cli {

namespace {

std::string number_text(double v) {
    std::ostringstream out;
    out.precision(10);
    out << v;
    return out.str();
}

std::string trim(std::string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::vector<std::string> split_choices(const char* names) {
    std::vector<std::string> out;
    if (names == nullptr) {
        return out;
    }
    std::string_view all(names);
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = all.find('|', start);
        out.emplace_back(all.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
    return out;
}

std::string choice_list(const DeclaredParam& param) {
    std::string text;
    for (std::size_t i = 0; i < param.choices.size(); ++i) {
        if (i > 0) text += i + 1 == param.choices.size() ? " or " : ", ";
        text += choice_word(param.choices[i]);
    }
    return text;
}

// Popup values by name become their numbers, so that one keyframe parser
// serves every parameter type.
std::string popup_numbers(const DeclaredParam& param, std::string_view label, std::string_view text) {
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        std::string_view item = text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        const std::size_t colon = item.find(':');
        std::string_view value = colon == std::string_view::npos ? item : item.substr(colon + 1);
        const std::string key = lower(trim(value));
        std::string replaced = trim(value);
        for (std::size_t i = 0; i < param.choices.size(); ++i) {
            if (key == choice_word(param.choices[i]) || key == lower(param.choices[i])) {
                replaced = std::to_string(i + 1);
            }
        }
        if (replaced.empty() || !(std::isdigit(static_cast<unsigned char>(replaced[0])) || replaced[0] == '+' ||
                                  replaced[0] == '-' || replaced[0] == '.')) {
            throw ValueError(std::string(label) + ": unknown choice '" + trim(value) + "' (" + choice_list(param) +
                        ", or 1 to " + std::to_string(param.choices.size()) + ")");
        }
        if (!out.empty() || start > 0) out += ',';
        if (colon != std::string_view::npos) {
            out += std::string(item.substr(0, colon + 1));
        }
        out += replaced;
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return out;
}

template <class Pixel>
void copy_into_world(const std::vector<Pixel>& pixels, int width, standalone::World& world) {
    for (A_long y = 0; y < world.height(); ++y) {
        std::memcpy(world.row(y), pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width),
                    static_cast<std::size_t>(width) * sizeof(Pixel));
    }
}

template <class Pixel>
std::vector<Pixel> copy_from_world(const standalone::World& world) {
    const std::size_t width = static_cast<std::size_t>(world.width());
    std::vector<Pixel> pixels(width * static_cast<std::size_t>(world.height()));
    for (A_long y = 0; y < world.height(); ++y) {
        std::memcpy(pixels.data() + static_cast<std::size_t>(y) * width, world.row(y), width * sizeof(Pixel));
    }
    return pixels;
}

}  // namespace

std::string describe_error(PF_Err err) {
    const char* name = nullptr;
    switch (err) {
    case PF_Err_OUT_OF_MEMORY: name = "out of memory"; break;
    case PF_Err_INTERNAL_STRUCT_DAMAGED: name = "internal structure damaged"; break;
    case PF_Err_INVALID_INDEX: name = "invalid index"; break;
    case PF_Err_UNRECOGNIZED_PARAM_TYPE: name = "unrecognized parameter type"; break;
    case PF_Err_INVALID_CALLBACK: name = "invalid callback"; break;
    case PF_Err_BAD_CALLBACK_PARAM: name = "bad callback parameter"; break;
    case PF_Interrupt_CANCEL: name = "cancelled"; break;
    default: break;
    }
    return name != nullptr ? std::to_string(err) + " (" + name + ")" : std::to_string(err);
}

std::unique_ptr<standalone::Host> make_host(const std::shared_ptr<standalone::Module>& module) {
    auto host = std::make_unique<standalone::Host>(module);
    host->log().set_enabled(false);
    const PF_Err err = host->setup_all();
    if (err != PF_Err_NONE) {
        std::string message = "the effect's set-up failed with error " + describe_error(err);
        if ((host->out_data().out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) != 0) {
            const char* msg = host->out_data().return_msg;
            message += ": " + std::string(msg, strnlen(msg, sizeof host->out_data().return_msg));
        }
        throw EffectError(message);
    }
    return host;
}

DeclaredParams::DeclaredParams(const standalone::Host& host) {
    const standalone::ParamStore& store = host.params();
    for (PF_ParamIndex i = 1; i <= store.count(); ++i) {
        const PF_ParamDef* def = store.declared(i);
        if (def == nullptr) continue;
        DeclaredParam param;
        param.index = i;
        param.def = *def;
        if (def->param_type == PF_Param_POPUP) {
            param.choices = split_choices(def->u.pd.u.namesptr);
            // The copy must not point into the host's storage.
            param.def.u.pd.u.namesptr = nullptr;
        } else if (def->param_type == PF_Param_CHECKBOX) {
            param.def.u.bd.u.nameptr = nullptr;
        }
        params_.push_back(std::move(param));
    }
}

const DeclaredParam* DeclaredParams::find(std::string_view name) const {
    for (const DeclaredParam& p : params_) {
        if (name == p.def.name) return &p;
    }
    return nullptr;
}

const DeclaredParam& DeclaredParams::named(std::string_view name) const {
    if (const DeclaredParam* p = find(name)) {
        return *p;
    }
    throw EffectError("the effect declares no parameter named \"" + std::string(name) + "\"");
}

std::string choice_word(std::string_view choice) {
    std::string out = lower(trim(choice));
    std::replace(out.begin(), out.end(), ' ', '-');
    return out;
}

ParamSetting parse_setting(const DeclaredParam& param, std::string_view label, std::string_view text) {
    const PF_ParamType type = param.def.param_type;
    const std::string quoted = std::string(label) + " " + std::string(text);
    std::string numeric(text);
    if (type == PF_Param_POPUP) {
        numeric = popup_numbers(param, label, text);
    }
    Keyframes keys;
    try {
        keys = parse_keyframes(numeric);
    } catch (const ValueError& e) {
        throw ValueError(std::string(label) + ": " + e.what());
    }

    double lo = 0.0;
    double hi = 0.0;
    bool whole = true;
    switch (type) {
    case PF_Param_SLIDER:
        lo = param.def.u.sd.valid_min;
        hi = param.def.u.sd.valid_max;
        break;
    case PF_Param_FIX_SLIDER:
        lo = param.def.u.fd.valid_min / 65536.0;
        hi = param.def.u.fd.valid_max / 65536.0;
        whole = false;
        break;
    case PF_Param_POPUP:
        lo = 1;
        hi = param.def.u.pd.num_choices;
        break;
    case PF_Param_CHECKBOX:
        lo = 0;
        hi = 1;
        break;
    default:
        throw EffectError(std::string(label) + ": the effect's parameter \"" + param.def.name +
                                            "\" has a type the command line cannot set");
    }

    ParamSetting setting;
    setting.index = param.index;
    setting.animated = keys.animated;
    for (const auto& [frame, value] : keys.keys) {
        const std::string which = keys.animated ? number_text(value) + " at frame " + std::to_string(frame) : number_text(value);
        if (frame > INT32_MAX) {
            throw ValueError(quoted + ": frame " + std::to_string(frame) + " is too large");
        }
        if (whole && std::floor(value) != value) {
            throw ValueError(quoted + ": " + which + " is not a whole number");
        }
        if (value < lo || value > hi) {
            throw ValueError(quoted + ": " + which + " is outside the valid range " + number_text(lo) + " to " +
                        number_text(hi));
        }
        const A_long raw = type == PF_Param_FIX_SLIDER ? standalone::percent_to_fixed(value) : static_cast<A_long>(value);
        setting.keys.push_back(standalone::Keyframe{static_cast<double>(frame), raw});
    }
    return setting;
}

std::shared_ptr<standalone::World> to_world(const Image& image) {
    static constexpr PF_PixelFormat formats[] = {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128};
    auto world = std::make_shared<standalone::World>(image.width, image.height, formats[image.depth()]);
    std::visit([&](const auto& pixels) { copy_into_world(pixels, image.width, *world); }, image.pixels);
    return world;
}

Image to_image(const standalone::World& world) {
    Image image;
    image.width = world.width();
    image.height = world.height();
    switch (world.format()) {
    case PF_PixelFormat_ARGB32: image.pixels = copy_from_world<PF_Pixel8>(world); break;
    case PF_PixelFormat_ARGB64: image.pixels = copy_from_world<PF_Pixel16>(world); break;
    default: image.pixels = copy_from_world<PF_PixelFloat>(world); break;
    }
    return image;
}

FrameRenderer::FrameRenderer(const std::shared_ptr<standalone::Module>& module, const Scene& scene)
    : host_(make_host(module)), scene_(scene) {
    if (scene.layer_index > 0) {
        host_->set_layer_param(scene.layer_index, nullptr);
    }
    if (scene.path_index > 0 && !scene.mask.empty()) {
        host_->set_path_param(scene.path_index, host_->add_mask_keyframes(scene.mask));
    }
    for (const ParamSetting& s : scene.settings) {
        if (s.animated) {
            host_->set_param_keyframes(s.index, s.keys);
        } else if (!s.keys.empty()) {
            host_->set_param(s.index, s.keys.front().value);
        }
    }
}

FrameRenderer::~FrameRenderer() {
    // As the application does when the effect goes away; nothing to report.
    host_->sequence_setdown();
    host_->global_setdown();
}

void attach_host_hooks(standalone::Host& host, std::function<void(long, long)> on_progress,
                       std::function<bool()> cancel) {
    host.set_progress_hook([on_progress, cancel](A_long current, A_long total) -> PF_Err {
        on_progress(current, total);
        return cancel() ? PF_Err{PF_Interrupt_CANCEL} : PF_Err{PF_Err_NONE};
    });
    host.set_abort_hook([cancel]() -> PF_Err { return cancel() ? PF_Err{PF_Interrupt_CANCEL} : PF_Err{PF_Err_NONE}; });
}

void FrameRenderer::watch(std::function<void(long, long)> on_progress, std::function<bool()> cancel) {
    attach_host_hooks(*host_, std::move(on_progress), std::move(cancel));
}

unsigned FrameRenderer::why_no_stroke(long frame, int width, int height) const {
    unsigned why = 0;
    if (scene_.path_index <= 0 || scene_.mask.empty()) why |= kNoMask;
    if (scene_.layer_index <= 0 || !scene_.layer) why |= kNoLayer;
    PF_ParamDef time{};
    if (scene_.time_index > 0 && host_->param_value(scene_.time_index, &time) == PF_Err_NONE &&
        time.param_type == PF_Param_FIX_SLIDER && (time.u.fd.value == 0 || time.u.fd.value == 100 * 65536)) {
        why |= kTimeAtEnd;
    }
    if (!scene_.mask.empty()) {
        // Strokes start only at points of the path inside the frame, and a
        // segment lies within its control points' box.
        const standalone::MaskShape shape = standalone::interpolate_mask(scene_.mask, static_cast<double>(frame));
        const std::size_t n = shape.vertices.size();
        const std::size_t segments = shape.closed ? n : (n > 0 ? n - 1 : 0);
        bool near = false;
        for (std::size_t i = 0; i < segments && !near; ++i) {
            const standalone::MaskVertex& a = shape.vertices[i];
            const standalone::MaskVertex& b = shape.vertices[(i + 1) % n];
            const double xs[] = {a.x, a.x + a.out_x, b.x + b.in_x, b.x};
            const double ys[] = {a.y, a.y + a.out_y, b.y + b.in_y, b.y};
            const auto [x0, x1] = std::minmax({xs[0], xs[1], xs[2], xs[3]});
            const auto [y0, y1] = std::minmax({ys[0], ys[1], ys[2], ys[3]});
            // Not a number (nothing to compare) counts as near: no claim.
            near = !(x1 <= -2.0 || x0 >= width + 1.0 || y1 <= -2.0 || y0 >= height + 1.0);
        }
        if (!near) why |= kMaskOutside;
    }
    return why;
}

Image FrameRenderer::render(long frame) {
    // Sequence frames go back once rendered (or failed), so no worker keeps
    // one it no longer needs.
    struct Release {
        FrameRenderer& r;
        ~Release() {
            if (!r.scene_.input->footage().still()) r.host_->set_input(nullptr);
            if (r.layer_ && !r.scene_.layer->footage().still()) {
                r.host_->set_layer_param(r.scene_.layer_index, nullptr);
                r.layer_.reset();
            }
        }
    } release{*this};
    host_->set_input(scene_.input->frame(frame));
    if (scene_.layer_index > 0 && scene_.layer) {
        std::shared_ptr<standalone::World> layer = scene_.layer->frame(frame);
        // A still's one world stays set; a changed one is handed over anew.
        if (layer != layer_) host_->set_layer_param(scene_.layer_index, layer);
        layer_ = std::move(layer);
    }
    return run(frame);
}

Image FrameRenderer::render(long frame, const Image& input, const Image* layer) {
    struct Release {
        FrameRenderer& r;
        ~Release() {
            r.host_->set_input(nullptr);
            if (r.scene_.layer_index > 0) r.host_->set_layer_param(r.scene_.layer_index, nullptr);
            r.layer_.reset();
        }
    } release{*this};
    host_->set_input(to_world(input));
    if (scene_.layer_index > 0) {
        layer_ = layer != nullptr ? to_world(*layer) : nullptr;
        host_->set_layer_param(scene_.layer_index, layer_);
    }
    return run(frame);
}

Image FrameRenderer::run(long frame) {
    host_->set_time(static_cast<A_long>(frame), 1, scene_.fps);
    no_stroke_ = why_no_stroke(frame, host_->input()->width(), host_->input()->height());
    standalone::RenderOptions options;
    options.downsample_x = scene_.downsample;
    options.downsample_y = scene_.downsample;
    const standalone::RenderResult result = host_->render_frame(options);
    host_->clear_progress();
    const std::string where = "frame " + std::to_string(frame) + ": ";
    if (result.err() != PF_Err_NONE) {
        std::string message = where + "the effect failed with error " + describe_error(result.err());
        if ((result.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) != 0 && !result.return_msg.empty()) {
            message += ": " + result.return_msg;
        }
        throw EffectError(message);
    }
    if (!result.guards_intact) {
        throw EffectError(where + "the effect wrote outside an image: " + result.guard_report);
    }
    if (result.output == nullptr) {
        throw EffectError(where + "the host made no output image");
    }
    return to_image(*result.output);
}

}  // namespace cli
