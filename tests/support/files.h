// What the whole-program tests read back from a child process and its files.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace test_support {

// A finished child: its exit code (or -1) and what it printed.
struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

// The file's bytes; empty when it cannot be read.
inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace test_support
