// How the command line ends a command that fails: one "trellis: error: ..."
// line and an exit code, from its own Failure or from the libraries' typed
// errors.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

#include "footage/footage.h"

namespace cli {

// Exit codes of the trellis command; after signal n it ends by that signal
// (status 128 + n).
inline constexpr int kExitEffectError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitUnwritable = 3;

// A failure of the command line itself, with its exit code: kExitUsage for
// what the user can mend (flags, a missing module), kExitUnwritable for an
// output that cannot be written, kExitEffectError for the effect.
class Failure : public std::runtime_error {
public:
    Failure(int exit_code, const std::string& message) : std::runtime_error(message), exit_code_(exit_code) {}
    int exit_code() const { return exit_code_; }

private:
    int exit_code_;
};

[[noreturn]] void usage_error(const std::string& message);

// The exit code for a failure: Failure's own; kExitUnwritable for
// ImageWriteError; kExitUsage for the other file and value errors
// (ImageError, ValueError); kExitEffectError for the effect's (EffectError)
// and anything else.
int exit_code_of(const std::exception& e);

// `read()`, with a value or file it refuses reported as a usage error
// against `flag`.
template <class Read>
auto flag_value(const std::string& flag, Read&& read) -> decltype(read()) {
    try {
        return read();
    } catch (const ValueError& e) {
        usage_error(flag + ": " + e.what());
    } catch (const ImageError& e) {
        usage_error(flag + ": " + e.what());
    }
}

}  // namespace cli
