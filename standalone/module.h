// A loaded effect module: the shared library and its EntryPointFunc, or an
// entry point linked into the program. One Module may be shared by several
// Hosts on several threads; it is immutable once made.
#pragma once

#include <memory>
#include <string>

#include "host/ae_sdk.h"

namespace standalone {

class Module {
public:
    // Opens the library at `path` (dlopen, or LoadLibraryA on Windows) and
    // looks up "EntryPointFunc". On failure returns null and, when `error` is
    // given, stores a readable reason there.
    static std::shared_ptr<Module> load(const std::string& path, std::string* error = nullptr);

    // Wraps an entry point that is linked into the program (no library).
    // Returns null for a null `entry`.
    static std::shared_ptr<Module> from_entry(PF_FilterProc entry, std::string name = "static");

    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    PF_FilterProc entry() const { return entry_; }
    // The library path, or the name given to from_entry.
    const std::string& name() const { return name_; }
    bool is_library() const { return library_ != nullptr; }

private:
    Module(void* library, PF_FilterProc entry, std::string name);

    void* library_;
    PF_FilterProc entry_;
    std::string name_;
};

}  // namespace standalone
