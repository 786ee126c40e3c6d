// Runs a program found on PATH (or by its path) to completion, for tests
// that drive other programs: its exit code and what it printed.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/files.h"

extern char** environ;

namespace test_support {

// `args[0]` run in `dir` with `extra_env` ("NAME=VALUE") added to the
// environment; its output is captured in `dir`. A program that cannot be
// started gives code 127 and says so in `err`.
inline Outcome run_program(const std::vector<std::string>& args, const std::filesystem::path& dir,
                           const std::vector<std::string>& extra_env = {}) {
    std::vector<std::string> text = args;
    std::vector<char*> argv;
    for (std::string& a : text) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text = extra_env;
    for (char** e = environ; *e != nullptr; ++e) env_text.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);

    const std::filesystem::path out = dir / ".stdout";
    const std::filesystem::path err = dir / ".stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    Outcome r;
    if (rc != 0) {
        r.code = 127;
        r.err = "cannot start " + args[0] + " (is it installed?)";
        return r;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

}  // namespace test_support
