#include "cli/find_module.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <utility>
#include <vector>

#include "cli/failure.h"

namespace cli {

namespace {

constexpr const char* kModuleFile = "NorvexTrellis.so";

std::string executable_dir() {
    std::vector<char> buffer(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) {
        return {};
    }
    std::string path(buffer.data(), static_cast<std::size_t>(n));
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}


}  // namespace

std::shared_ptr<standalone::Module> load_module(const std::string& explicit_path) {
    std::vector<std::pair<std::string, std::string>> candidates;  // path, where it came from
    if (!explicit_path.empty()) {
        candidates.emplace_back(explicit_path, "--plugin");
    } else if (const char* env = std::getenv("TRELLIS_PLUGIN"); env != nullptr && *env != '\0') {
        candidates.emplace_back(env, "TRELLIS_PLUGIN");
    } else {
        const std::string dir = executable_dir();
        if (!dir.empty()) {
            candidates.emplace_back(dir + "/" + kModuleFile, "");
            candidates.emplace_back(dir + "/../" + kModuleFile, "");
            // Where `cmake --install` puts it, relative to the installed program.
            candidates.emplace_back(
                (std::filesystem::path(dir) / TRELLIS_MODULE_FROM_BIN / kModuleFile).lexically_normal().string(), "");
        }
    }
    std::string tried;
    for (const auto& [path, source] : candidates) {
        std::string why;
        if (auto module = standalone::Module::load(path, &why)) {
            return module;
        }
        if (!source.empty()) {
            usage_error("cannot load the effect module " + path + " (from " + source + "): " + why);
        }
        tried += (tried.empty() ? "" : "; ") + path + ": " + why;
    }
    usage_error("cannot find the effect module " + std::string(kModuleFile) +
                (tried.empty() ? std::string() : " (" + tried + ")") + "; name it with --plugin PATH or TRELLIS_PLUGIN");
}

}  // namespace cli
