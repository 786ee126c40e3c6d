#include "cli/failure.h"

namespace cli {

void usage_error(const std::string& message) { throw Failure(kExitUsage, message); }

int exit_code_of(const std::exception& e) {
    if (const auto* f = dynamic_cast<const Failure*>(&e)) return f->exit_code();
    if (dynamic_cast<const ImageWriteError*>(&e) != nullptr) return kExitUnwritable;
    if (dynamic_cast<const ImageError*>(&e) != nullptr || dynamic_cast<const ValueError*>(&e) != nullptr) {
        return kExitUsage;
    }
    return kExitEffectError;
}

}  // namespace cli
