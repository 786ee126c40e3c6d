#include "standalone/module.h"

#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace standalone {

namespace {

void* open_library(const std::string& path, std::string* error) {
#if defined(_WIN32)
    HMODULE library = LoadLibraryA(path.c_str());
    if (library == nullptr && error != nullptr) {
        *error = "cannot load " + path + ": error " + std::to_string(static_cast<unsigned long>(GetLastError()));
    }
    return reinterpret_cast<void*>(library);
#else
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr && error != nullptr) {
        const char* why = dlerror();
        *error = "cannot load " + path + ": " + (why != nullptr ? why : "unknown error");
    }
    return library;
#endif
}

PF_FilterProc find_entry(void* library, std::string* error) {
#if defined(_WIN32)
    FARPROC symbol = GetProcAddress(reinterpret_cast<HMODULE>(library), "EntryPointFunc");
    if (symbol == nullptr && error != nullptr) {
        *error = "EntryPointFunc not found: error " + std::to_string(static_cast<unsigned long>(GetLastError()));
    }
    return reinterpret_cast<PF_FilterProc>(reinterpret_cast<void*>(symbol));
#else
    dlerror();
    void* symbol = dlsym(library, "EntryPointFunc");
    if (symbol == nullptr && error != nullptr) {
        const char* why = dlerror();
        *error = std::string("EntryPointFunc not found: ") + (why != nullptr ? why : "null symbol");
    }
    // POSIX guarantees that a data pointer from dlsym converts to a function pointer.
    return reinterpret_cast<PF_FilterProc>(symbol);
#endif
}

void close_library(void* library) {
#if defined(_WIN32)
    FreeLibrary(reinterpret_cast<HMODULE>(library));
#else
    dlclose(library);
#endif
}

}  // namespace

Module::Module(void* library, PF_FilterProc entry, std::string name)
    : library_(library), entry_(entry), name_(std::move(name)) {}

Module::~Module() {
    if (library_ != nullptr) {
        close_library(library_);
    }
}

std::shared_ptr<Module> Module::load(const std::string& path, std::string* error) {
    void* library = open_library(path, error);
    if (library == nullptr) {
        return nullptr;
    }
    PF_FilterProc entry = find_entry(library, error);
    if (entry == nullptr) {
        close_library(library);
        return nullptr;
    }
    return std::shared_ptr<Module>(new Module(library, entry, path));
}

std::shared_ptr<Module> Module::from_entry(PF_FilterProc entry, std::string name) {
    if (entry == nullptr) {
        return nullptr;
    }
    return std::shared_ptr<Module>(new Module(nullptr, entry, std::move(name)));
}

}  // namespace standalone
