// `trellis about`: the effect's about text, its parameters as it declares
// them, and its registration resource; `trellis --version`.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "scene/session.h"

namespace cli {

// The string properties of a plug-in property list, by four-character key
// ("name", "catg", "eMNA", ...): counted strings as their text. Throws
// std::runtime_error when the bytes do not hold a well-formed list.
std::map<std::string, std::string> pipl_strings(std::span<const std::uint8_t> bytes);

// One line describing a declared parameter: type, ranges, default, choices.
std::string describe_param(const DeclaredParam& param);

// The effect's about text as a terminal shows it: the host reads a carriage
// return (alone or before a line feed) as a line break.
std::string about_lines(std::string_view text);

// The module's version as its about text gives it: the first line, without
// control characters or surrounding spaces.
std::string about_version(std::string_view lines);

// Writes everything to stdout. Returns the exit code; throws Failure.
int run_about(const std::string& plugin);

// `trellis --version`: the program's version, then its module's (found as
// load_module finds it). Returns the exit code; throws Failure.
int run_version();

}  // namespace cli
