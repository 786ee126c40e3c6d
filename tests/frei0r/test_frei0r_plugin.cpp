// The frei0r plug-ins loaded as a host loads them: what they declare, that
// answering costs no image library, instances on several threads, and bad
// parameters leaving the frame alone with one message. This program links
// no image library, so what gets loaded is the plug-ins' doing.
#include <dlfcn.h>
#include <link.h>

#include <cinttypes>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <frei0r.h>
}

namespace {

struct Plugin {
    void* lib = nullptr;
    decltype(&f0r_init) init = nullptr;
    decltype(&f0r_get_plugin_info) plugin_info = nullptr;
    decltype(&f0r_get_param_info) param_info = nullptr;
    decltype(&f0r_construct) construct = nullptr;
    decltype(&f0r_destruct) destruct = nullptr;
    decltype(&f0r_set_param_value) set = nullptr;
    decltype(&f0r_update) update = nullptr;
    decltype(&f0r_update2) update2 = nullptr;

    explicit Plugin(const char* path) : lib(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        if (lib == nullptr) return;
        init = reinterpret_cast<decltype(init)>(dlsym(lib, "f0r_init"));
        plugin_info = reinterpret_cast<decltype(plugin_info)>(dlsym(lib, "f0r_get_plugin_info"));
        param_info = reinterpret_cast<decltype(param_info)>(dlsym(lib, "f0r_get_param_info"));
        construct = reinterpret_cast<decltype(construct)>(dlsym(lib, "f0r_construct"));
        destruct = reinterpret_cast<decltype(destruct)>(dlsym(lib, "f0r_destruct"));
        set = reinterpret_cast<decltype(set)>(dlsym(lib, "f0r_set_param_value"));
        update = reinterpret_cast<decltype(update)>(dlsym(lib, "f0r_update"));
        update2 = reinterpret_cast<decltype(update2)>(dlsym(lib, "f0r_update2"));
    }
    ~Plugin() {
        if (lib != nullptr) dlclose(lib);
    }
    bool complete() const {
        return init && plugin_info && param_info && construct && destruct && set && update && update2;
    }
    void set_text(f0r_instance_t i, int index, const char* text) const {
        std::string copy = text;  // the plug-in keeps its own copy
        f0r_param_string s = copy.data();
        set(i, &s, index);
    }
    void set_number(f0r_instance_t i, int index, double value) const { set(i, &value, index); }
};

bool loaded(const char* name_part) {
    struct Search {
        const char* part;
        bool found;
    } search{name_part, false};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            if (info->dlpi_name != nullptr && std::strstr(info->dlpi_name, s->part) != nullptr) s->found = true;
            return 0;
        },
        &search);
    return search.found;
}

constexpr unsigned kWidth = 64;
constexpr unsigned kHeight = 48;

std::vector<uint32_t> frame(int salt) {
    std::vector<uint32_t> pixels(kWidth * kHeight);
    auto* bytes = reinterpret_cast<unsigned char*>(pixels.data());
    for (unsigned i = 0; i < kWidth * kHeight; ++i) {
        const unsigned x = i % kWidth;
        const unsigned y = i / kWidth;
        bytes[i * 4 + 0] = static_cast<unsigned char>(x * 4);
        bytes[i * 4 + 1] = static_cast<unsigned char>(y * 5 + salt * 40);
        bytes[i * 4 + 2] = static_cast<unsigned char>((x + y) * 3);
        bytes[i * 4 + 3] = static_cast<unsigned char>(255 - (x * y + salt) % 200);
    }
    return pixels;
}

constexpr const char* kMask = "M 4 24 C 20 2 44 46 60 24";

// The mixer's parameter indices used below.
enum MixIndex { kMixPath = 0, kMixTime = 2, kMixMaxWidth = 3 };
// The filter's.
enum FilterIndex { kPath = 0, kLayer = 1, kBlend = 7 };

TEST(Frei0rPlugin, DeclaresTheEffectAndLoadsNoImageLibraryUntilAFrame) {
    struct Case {
        const char* path;
        int type;
        int params;
        std::vector<std::string> names;  // the first ones
    } cases[] = {
        {TRELLIS_FREI0R_FILTER, F0R_PLUGIN_TYPE_FILTER, 11, {"Path", "Layer", "Mode", "Time"}},
        {TRELLIS_FREI0R_MIXER, F0R_PLUGIN_TYPE_MIXER2, 10, {"Path", "Mode", "Time", "Max Width"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Plugin p(c.path);
        ASSERT_TRUE(p.complete()) << dlerror();
        EXPECT_EQ(p.init(), 1);
        f0r_plugin_info_t info{};
        p.plugin_info(&info);
        EXPECT_STREQ(info.name, "NorvexTrellis");
        EXPECT_STREQ(info.author, "Dorsaveli");
        EXPECT_EQ(info.plugin_type, c.type);
        EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
        EXPECT_EQ(info.num_params, c.params);
        for (int i = 0; i < static_cast<int>(c.names.size()); ++i) {
            f0r_param_info_t param{};
            p.param_info(&param, i);
            EXPECT_EQ(param.name, c.names[static_cast<std::size_t>(i)]);
        }
        // A throwaway instance, as editors make them.
        p.destruct(p.construct(kWidth, kHeight));
    }
    EXPECT_FALSE(loaded("OpenImageIO"));
    EXPECT_FALSE(loaded("norvextrellis_frei0r"));

    Plugin mixer(TRELLIS_FREI0R_MIXER);
    f0r_instance_t instance = mixer.construct(kWidth, kHeight);
    const std::vector<uint32_t> in = frame(0);
    const std::vector<uint32_t> layer = frame(1);
    std::vector<uint32_t> out(in.size());
    mixer.update2(instance, 0.0, in.data(), layer.data(), nullptr, out.data());
    mixer.destruct(instance);
    EXPECT_TRUE(loaded("OpenImageIO"));
}

TEST(Frei0rPlugin, InstancesOnSeveralThreadsRenderAlike) {
    Plugin mixer(TRELLIS_FREI0R_MIXER);
    ASSERT_TRUE(mixer.complete());
    const std::vector<uint32_t> in = frame(0);
    const std::vector<uint32_t> layer = frame(1);
    auto render = [&](std::vector<uint32_t>* out, int frames) {
        f0r_instance_t instance = mixer.construct(kWidth, kHeight);
        mixer.set_text(instance, kMixPath, kMask);
        mixer.set_number(instance, kMixTime, 0.4);
        mixer.set_number(instance, kMixMaxWidth, 6.0 / 4998);
        for (int i = 0; i < frames; ++i) mixer.update2(instance, i * 40.0, in.data(), layer.data(), nullptr, out->data());
        mixer.destruct(instance);
    };
    std::vector<uint32_t> want(in.size());
    render(&want, 1);
    EXPECT_NE(want, in);

    std::vector<std::vector<uint32_t>> got(4, std::vector<uint32_t>(in.size()));
    std::vector<std::thread> threads;
    for (auto& out : got) threads.emplace_back(render, &out, 3);
    for (auto& t : threads) t.join();
    for (const auto& out : got) EXPECT_EQ(out, want);
}

TEST(Frei0rPlugin, BadParametersLeaveTheFrameAndAreSaidOnce) {
    Plugin filter(TRELLIS_FREI0R_FILTER);
    ASSERT_TRUE(filter.complete());
    const std::vector<uint32_t> in = frame(2);
    struct Case {
        const char* path;
        const char* layer;
        const char* blend;
        const char* said;  // null: rendered
    } cases[] = {
        {"M 4 24 L x", "", "Screen", "norvextrellis: Path: "},
        {kMask, "no such file.png", "Screen", "norvextrellis: Layer: "},
        {kMask, "", "Sparkle", "norvextrellis: Color Blend Mode: unknown choice \"Sparkle\""},
        {kMask, "", "color burn", nullptr},
    };
    f0r_instance_t instance = filter.construct(kWidth, kHeight);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + std::string(" / ") + c.layer + " / " + c.blend);
        filter.set_text(instance, kPath, c.path);
        filter.set_text(instance, kLayer, c.layer);
        filter.set_text(instance, kBlend, c.blend);
        testing::internal::CaptureStderr();
        std::vector<uint32_t> first(in.size(), 0x12345678);
        std::vector<uint32_t> second(in.size(), 0x12345678);
        filter.update(instance, 0.0, in.data(), first.data());
        filter.update(instance, 40.0, in.data(), second.data());
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(first, second);
        if (c.said == nullptr) {
            EXPECT_EQ(said, "");
            EXPECT_NE(first, in);  // without a Layer: a transparent frame
        } else {
            EXPECT_EQ(first, in);
            EXPECT_EQ(said.find(c.said), 0u) << said;
            EXPECT_EQ(said.find('\n'), said.size() - 1) << said;  // one line for two frames
        }
    }
    filter.destruct(instance);
}

}  // namespace
