// `trellis frei0r-params`: the `filter_params` value of ffmpeg's frei0r
// filter for the effect's flags, escaped for ffmpeg's three parsers.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace CLI {
class App;
}

namespace cli {

struct Frei0rArgs {
    std::string mask;
    std::string layer;
    std::vector<std::pair<std::string, std::string>> values;  // (flag, text)
    std::string plugin;
};

CLI::App* add_frei0r_command(CLI::App& app, Frei0rArgs& args);

// The text, with a backslash before each character of `specials` and
// before whitespace at either end, so that ffmpeg's tokenizer, splitting on
// those characters, gives back `text`.
std::string ffmpeg_escape(std::string_view text, std::string_view specials);

// The values in the filter's parameter order, as the frei0r filter reads
// them: split on '|', then the option parser's ':', then the filter graph's
// ',' ';' '[' ']'.
std::string filter_params(const std::vector<std::string>& values);

// Prints filter_params for the flags. Throws Failure (kExitUsage) for a
// value out of range or keyframes, which the filter cannot take.
int run_frei0r_params(const Frei0rArgs& args);

}  // namespace cli
