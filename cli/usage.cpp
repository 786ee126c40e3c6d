#include "cli/usage.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>

namespace cli {

namespace {

std::string lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

// Optimal string alignment distance: insertions, deletions, substitutions
// and swaps of neighbours ("widht") each cost one.
std::size_t edit_distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

std::string_view without_dashes(std::string_view s) {
    while (!s.empty() && s.front() == '-') s.remove_prefix(1);
    return s;
}

std::vector<const CLI::App*> commands_of(const CLI::App& app) {
    return app.get_subcommands([](const CLI::App*) { return true; });
}

std::vector<std::string> flags_of(const CLI::App& command) {
    std::vector<std::string> flags;
    for (const CLI::Option* option : command.get_options()) {
        for (const std::string& name : option->get_lnames()) flags.push_back("--" + name);
        for (const std::string& name : option->get_snames()) flags.push_back("-" + name);
    }
    return flags;
}

std::string help_of(const CLI::App& app, const CLI::App& command) {
    return &command == &app ? "see trellis --help" : "see trellis " + command.get_name() + " --help";
}

std::string unknown_flag(const CLI::App& app, const CLI::App& command, std::string word) {
    word = word.substr(0, word.find('='));
    const std::string where = &command == &app ? "trellis" : "trellis " + command.get_name();
    std::string message = word + ": no such flag for " + where;
    const std::string near = nearest_word(word, flags_of(command));
    if (!near.empty()) {
        message += "; did you mean " + near + "?";
    } else {
        for (const CLI::App* other : commands_of(app)) {
            const std::vector<std::string> flags = flags_of(*other);
            if (other != &command && std::find(flags.begin(), flags.end(), word) != flags.end()) {
                message += ", only for trellis " + other->get_name();
                break;
            }
        }
    }
    return message + " (" + help_of(app, command) + ")";
}

// The first word `command` did not take: a flag it does not know is named
// before a stray value (the value is often the unknown flag's).
std::optional<std::string> extra_word(const CLI::App& app, const CLI::App& command) {
    const std::vector<std::string> extras = command.remaining();
    if (extras.empty()) return std::nullopt;
    for (const std::string& word : extras) {
        if (word.size() > 1 && word.front() == '-') return unknown_flag(app, command, word);
    }
    return "unexpected argument \"" + extras.front() + "\" (" + help_of(app, command) + ")";
}

}  // namespace

std::string nearest_word(std::string_view word, const std::vector<std::string>& known) {
    const std::string want = lowered(word);
    const std::size_t length = without_dashes(want).size();
    if (length < 3) return {};
    const std::size_t budget = length <= 5 ? 1 : length <= 10 ? 2 : 3;
    std::string best;
    std::size_t best_distance = budget + 1;
    for (const std::string& k : known) {
        const std::size_t d = edit_distance(want, lowered(k));
        if (d < best_distance) {
            best = k;
            best_distance = d;
        }
    }
    if (!best.empty()) return best;
    std::string abbreviated;
    for (const std::string& k : known) {
        if (lowered(k).rfind(want, 0) == 0) {
            if (!abbreviated.empty()) return {};
            abbreviated = k;
        }
    }
    return abbreviated;
}

void collect_unknown_words(CLI::App& app) {
    app.allow_extras();
    for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) command->allow_extras();
}

std::optional<std::string> usage_problem(const CLI::App& app, const std::vector<std::string>& args,
                                         const CLI::ParseError* error) {
    // The command is the first word that is not a flag: the program's own
    // flags take no values.
    const CLI::App* command = &app;
    const auto word = std::find_if(args.begin(), args.end(), [](const std::string& a) { return a.empty() || a[0] != '-'; });
    if (word != args.end()) {
        std::vector<std::string> names;
        for (const CLI::App* c : commands_of(app)) {
            names.push_back(c->get_name());
            if (c->get_name() == *word) command = c;
        }
        if (command == &app) {
            const std::string near = nearest_word(*word, names);
            return *word + ": no such command" + (near.empty() ? "" : "; did you mean " + near + "?") + " (" +
                   help_of(app, app) + ")";
        }
    }
    if (command != &app) {
        if (auto extra = extra_word(app, *command)) return extra;
    }
    if (auto extra = extra_word(app, app)) return extra;
    if (error != nullptr) return std::string(error->what()) + " (" + help_of(app, *command) + ")";
    return std::nullopt;
}

}  // namespace cli
