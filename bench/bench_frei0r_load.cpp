// What an editor pays for a frei0r plug-in when it starts: dlopen, f0r_init,
// f0r_get_plugin_info and every f0r_get_param_info, each run in a fresh
// process (the loader's work is the cost), and then what the first frame
// adds by loading the rendering library. Prints the median and the range.
//   bench_frei0r_load PLUGIN.so [RUNS]
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" {
#include <frei0r.h>
}

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// In the child: {load + info, first frame} in milliseconds; negative on failure.
void measure(const char* path, double out[2]) {
    out[0] = out[1] = -1;
    const Clock::time_point t0 = Clock::now();
    void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return;
    auto init = reinterpret_cast<decltype(&f0r_init)>(dlsym(lib, "f0r_init"));
    auto info = reinterpret_cast<decltype(&f0r_get_plugin_info)>(dlsym(lib, "f0r_get_plugin_info"));
    auto param = reinterpret_cast<decltype(&f0r_get_param_info)>(dlsym(lib, "f0r_get_param_info"));
    auto construct = reinterpret_cast<decltype(&f0r_construct)>(dlsym(lib, "f0r_construct"));
    auto update2 = reinterpret_cast<decltype(&f0r_update2)>(dlsym(lib, "f0r_update2"));
    if (!init || !info || !param || !construct || !update2) return;
    init();
    f0r_plugin_info_t plugin{};
    info(&plugin);
    for (int i = 0; i < plugin.num_params; ++i) {
        f0r_param_info_t p{};
        param(&p, i);
    }
    out[0] = ms_since(t0);

    const Clock::time_point t1 = Clock::now();
    std::vector<uint32_t> in(64 * 64, 0xff808080u), layer(in), frame(in.size());
    f0r_instance_t instance = construct(64, 64);
    update2(instance, 0.0, in.data(), layer.data(), nullptr, frame.data());
    out[1] = ms_since(t1);
}

void report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-32s median %7.2f ms   min %7.2f   max %7.2f   (%zu runs)\n", what, ms[ms.size() / 2], ms.front(),
                ms.back(), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PLUGIN.so [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    std::vector<double> load, first;
    for (int r = 0; r < runs; ++r) {
        int fds[2];
        if (pipe(fds) != 0) return 1;
        const pid_t pid = fork();
        if (pid == 0) {
            double out[2];
            measure(argv[1], out);
            const ssize_t n = write(fds[1], out, sizeof out);
            _exit(n == static_cast<ssize_t>(sizeof out) ? 0 : 1);
        }
        close(fds[1]);
        double out[2] = {-1, -1};
        const ssize_t n = read(fds[0], out, sizeof out);
        close(fds[0]);
        waitpid(pid, nullptr, 0);
        if (n != static_cast<ssize_t>(sizeof out) || out[0] < 0) {
            std::fprintf(stderr, "%s: cannot load or call the plug-in\n", argv[1]);
            return 1;
        }
        load.push_back(out[0]);
        first.push_back(out[1]);
    }
    report("load + f0r_get_plugin_info", load);
    report("first frame (library load)", first);
    return 0;
}
