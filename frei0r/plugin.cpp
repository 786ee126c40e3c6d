// A frei0r plug-in of the effect: built as the filter (its "Layer" a file)
// and, with TRELLIS_FREI0R_MIXER, as the mixer2 (its "Layer" the second
// input). It links nothing but the C and C++ runtimes: editors load every
// plug-in they find and ask for its info when they start, so the rendering
// library (footage, masks, the stand-in host) is loaded with dlopen on the
// first frame an instance renders.
//
// No global state: init and deinit have nothing to do. Each instance holds
// its parameters, its own reference on the rendering library and its own
// renderer (a stand-in host with its module), so instances on several
// threads share nothing the plug-in owns.
#include <dlfcn.h>

#include <cinttypes>
// The header declares no C linkage of its own.
extern "C" {
#include <frei0r.h>
}

#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "frei0r/params.h"
#include "frei0r/renderer_api.h"
#include "host/effect_info.h"

#ifndef TRELLIS_FREI0R_MIXER
#define TRELLIS_FREI0R_MIXER 0
#endif

namespace {

using frei0r_params::Kind;
using frei0r_params::Param;

constexpr bool kMixer = TRELLIS_FREI0R_MIXER != 0;
constexpr const char* kLogName = kMixer ? "norvextrellis_mix" : "norvextrellis";
// Where the install puts the rendering library, from the plug-in's folder.
constexpr const char* kRendererFromPlugin = TRELLIS_FREI0R_RENDERER_FROM_PLUGIN;

// The author is the match name's "by" part.
constexpr std::string_view kMatchName = effect_info::kMatchName;
constexpr std::string_view kByPrefix = " by ";
static_assert(kMatchName.starts_with(effect_info::kRegisteredName) &&
              kMatchName.substr(std::string_view(effect_info::kRegisteredName).size()).starts_with(kByPrefix));
constexpr const char* kAuthor =
    effect_info::kMatchName + std::string_view(effect_info::kRegisteredName).size() + kByPrefix.size();

struct Instance {
    unsigned width = 0;
    unsigned height = 0;
    // By ParamId: the strings' text, the doubles and bools as the host set them.
    std::array<std::string, PARAM_COUNT> text;
    std::array<double, PARAM_COUNT> number{};

    void* library = nullptr;
    TrellisFrei0rRender render = nullptr;
    TrellisFrei0rDestroy destroy = nullptr;
    TrellisFrei0rRenderer* renderer = nullptr;
    std::string load_error;  // once loading failed, it is not tried again
    std::string said;        // the last reason written to stderr

    Instance(unsigned w, unsigned h) : width(w), height(h) {
        for (const Param& p : frei0r_params::kParams) {
            if (p.kind == Kind::Double) {
                number[p.id] = frei0r_params::unit_from_raw(p, p.raw_default);
            } else if (p.kind == Kind::Bool) {
                number[p.id] = p.raw_default;
            } else if (p.raw_default != 0) {
                std::size_t count = 0;
                text[p.id] = frei0r_params::choices_begin(p.id, &count)[p.raw_default - 1];
            }
        }
    }

    ~Instance() {
        if (renderer != nullptr) destroy(renderer);
        if (library != nullptr) dlclose(library);
    }

    std::string load_renderer() {
        if (renderer != nullptr || !load_error.empty()) return load_error;
        Dl_info info{};
        std::string folder = ".";
        if (dladdr(reinterpret_cast<const void*>(&f0r_construct), &info) != 0 && info.dli_fname != nullptr) {
            folder = info.dli_fname;
            const std::size_t slash = folder.find_last_of('/');
            folder = slash == std::string::npos ? "." : folder.substr(0, slash);
        }
        const std::string path = folder + "/" + kRendererFromPlugin;
        // Never unloaded: the image libraries it brings keep threads.
        library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (library == nullptr) {
            const char* why = dlerror();
            return load_error = "cannot load the rendering library: " + std::string(why != nullptr ? why : path);
        }
        auto create = reinterpret_cast<TrellisFrei0rCreate>(dlsym(library, "trellis_frei0r_create"));
        render = reinterpret_cast<TrellisFrei0rRender>(dlsym(library, "trellis_frei0r_render"));
        destroy = reinterpret_cast<TrellisFrei0rDestroy>(dlsym(library, "trellis_frei0r_destroy"));
        if (create == nullptr || render == nullptr || destroy == nullptr) {
            return load_error = path + " is not the effect's rendering library";
        }
        char why[512] = "";
        renderer = create(width, height, why, sizeof why);
        if (renderer == nullptr) load_error = why;
        return load_error;
    }

    // The frame's settings in raw units; a reason when a popup's text is
    // none of its choices.
    std::string settings(TrellisFrei0rSettings* s) const {
        s->mask = text[PARAM_PATH].c_str();
        s->layer = kMixer ? nullptr : text[PARAM_LAYER].c_str();
        for (const Param& p : frei0r_params::kParams) {
            switch (p.kind) {
            case Kind::Double: s->raw[p.id] = frei0r_params::raw_from_unit(p, number[p.id]); break;
            case Kind::Bool: s->raw[p.id] = frei0r_params::raw_from_bool(number[p.id]); break;
            case Kind::String:
                if (p.raw_default == 0) break;  // Path and Layer are text
                if (const std::optional<A_long> v = frei0r_params::popup_value(p.id, text[p.id])) {
                    s->raw[p.id] = *v;
                } else {
                    return std::string(p.name) + ": unknown choice \"" + text[p.id] + "\"";
                }
                break;
            }
        }
        return {};
    }

    void frame(const uint32_t* in, const uint32_t* layer, uint32_t* out) {
        TrellisFrei0rSettings s{};
        std::string why = settings(&s);
        if (why.empty()) why = load_renderer();
        if (why.empty()) {
            if (const char* failed = render(renderer, &s, in, layer, out)) why = failed;
        }
        if (why.empty()) {
            said.clear();
            return;
        }
        if (in != out) std::memmove(out, in, static_cast<std::size_t>(width) * height * 4);
        if (why != said) {
            std::fprintf(stderr, "%s: %s; the frame is left unchanged\n", kLogName, why.c_str());
            said = why;
        }
    }
};

const Param* param(int index) {
    return frei0r_params::param_at(kMixer, index);
}

}  // namespace

extern "C" {

int f0r_init() {
    return 1;
}

void f0r_deinit() {}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    info->name = effect_info::kRegisteredName;
    info->author = kAuthor;
    info->plugin_type = kMixer ? F0R_PLUGIN_TYPE_MIXER2 : F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = effect_info::kMajorVersion;
    info->minor_version = effect_info::kMinorVersion;
    info->num_params = frei0r_params::param_count(kMixer);
    info->explanation = kMixer ? "Stamps of the upper track laid along a mask, tinted by the lower track"
                               : "Stamps of an image laid along a mask, tinted by the input";
}

void f0r_get_param_info(f0r_param_info_t* info, int index) {
    const Param* p = param(index);
    if (p == nullptr) return;
    info->name = p->name;
    info->type = p->kind == Kind::String ? F0R_PARAM_STRING : p->kind == Kind::Bool ? F0R_PARAM_BOOL : F0R_PARAM_DOUBLE;
    info->explanation = p->explanation;
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    try {
        return new Instance(width, height);
    } catch (...) {
        return nullptr;
    }
}

void f0r_destruct(f0r_instance_t instance) {
    delete static_cast<Instance*>(instance);
}

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t value, int index) {
    const Param* p = param(index);
    if (instance == nullptr || value == nullptr || p == nullptr) return;
    auto* self = static_cast<Instance*>(instance);
    try {
        if (p->kind == Kind::String) {
            const char* text = *static_cast<f0r_param_string*>(value);
            self->text[p->id] = text != nullptr ? text : "";
        } else {
            self->number[p->id] = *static_cast<f0r_param_double*>(value);
        }
    } catch (...) {
        // Out of memory for the text: the value stays as it was.
    }
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t value, int index) {
    const Param* p = param(index);
    if (instance == nullptr || value == nullptr || p == nullptr) return;
    auto* self = static_cast<Instance*>(instance);
    if (p->kind == Kind::String) {
        *static_cast<f0r_param_string*>(value) = self->text[p->id].data();
    } else {
        *static_cast<f0r_param_double*>(value) = self->number[p->id];
    }
}

void f0r_update2(f0r_instance_t instance, double /*time*/, const uint32_t* inframe1, const uint32_t* inframe2,
                 const uint32_t* /*inframe3*/, uint32_t* outframe) {
    if (instance == nullptr || inframe1 == nullptr || outframe == nullptr) return;
    auto* self = static_cast<Instance*>(instance);
    try {
        self->frame(inframe1, kMixer ? inframe2 : nullptr, outframe);
    } catch (...) {
        // Out of memory: the frame unchanged, nothing said.
        if (inframe1 != outframe) std::memmove(outframe, inframe1, static_cast<std::size_t>(self->width) * self->height * 4);
    }
}

void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe, uint32_t* outframe) {
    f0r_update2(instance, time, inframe, nullptr, nullptr, outframe);
}

}
