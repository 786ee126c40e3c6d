// `trellis about`: the effect's about text, its parameters as it declares
// them, and its registration resource.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "cli/session.h"

namespace cli {

// The string properties of a plug-in property list, by four-character key
// ("name", "catg", "eMNA", ...): counted strings as their text. Throws
// std::runtime_error when the bytes do not hold a well-formed list.
std::map<std::string, std::string> pipl_strings(std::span<const std::uint8_t> bytes);

// One line describing a declared parameter: type, ranges, default, choices.
std::string describe_param(const DeclaredParam& param);

// Writes everything to stdout. Returns the exit code; throws Failure.
int run_about(const std::string& plugin);

}  // namespace cli
