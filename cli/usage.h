// What `trellis` says about a command line it cannot take: the flag or
// command first, the nearest known one, and the help that lists them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
class ParseError;
}  // namespace CLI

namespace cli {

// The entry of `known` that `word` was most likely meant to be: the nearest
// by edit distance (case aside; a swap of neighbours counts as one edit)
// within a budget that grows with the word, else the one known entry it
// abbreviates. Empty when nothing is close.
std::string nearest_word(std::string_view word, const std::vector<std::string>& known);

// Lets `app` and its commands collect words they do not know instead of
// throwing on the first, so that usage_problem can name them.
void collect_unknown_words(CLI::App& app);

// The one-line message for `args` (argv without the program name) after
// `app` parsed them, or failed with `error` (null: parsing succeeded).
// Unknown commands and flags come first, then the parse error, each with the
// help to read. Nothing when the command line is fine.
std::optional<std::string> usage_problem(const CLI::App& app, const std::vector<std::string>& args,
                                         const CLI::ParseError* error);

}  // namespace cli
