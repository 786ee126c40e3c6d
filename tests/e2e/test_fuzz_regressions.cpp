// Every input the fuzzers found a fault with (fuzz/regressions/<name>/) and
// every seed they start from (fuzz/corpus/<name>/), replayed through the same
// harness functions the fuzzers run, without libFuzzer. One test per file,
// each in a child process: a broken promise, a crash, a hang or an oversized
// allocation fails that test.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "fuzz/fuzz_support.h"

// The largest single allocation a replay may make. The fuzzers enforce the
// same bound through libFuzzer's malloc limit; here every request is seen by
// the sanitizer's allocation hook or, without a sanitizer, by the global
// operator new (which also serves operator new[] and the image libraries).
#if defined(__SANITIZE_ADDRESS__)
#define TRELLIS_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRELLIS_SANITIZER_ALLOCATOR 1
#endif
#endif
#ifndef TRELLIS_SANITIZER_ALLOCATOR
#define TRELLIS_SANITIZER_ALLOCATOR 0
#endif

namespace {

constexpr std::size_t kAllocationLimit = std::size_t{512} << 20;

std::atomic<std::size_t> g_largest_request{0};

void note_request(std::size_t size) {
    std::size_t seen = g_largest_request.load(std::memory_order_relaxed);
    while (size > seen && !g_largest_request.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
}

}  // namespace

#if TRELLIS_SANITIZER_ALLOCATOR
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, std::size_t),
                                                         void (*free_hook)(const volatile void*));
namespace {
void on_malloc(const volatile void*, std::size_t size) { note_request(size); }
void on_free(const volatile void*) {}
const int g_hooks_installed = __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free);
}  // namespace
#else
// Replaced as a pair: what this operator new takes from malloc goes back to
// free, not to whatever the library's operator delete would do with it. Kept
// out of line, so that an optimiser that inlines one of them does not see
// malloc meet operator delete (or operator new meet free) and warn.
[[gnu::noinline]] void* operator new(std::size_t size) {
    note_request(size);
    if (void* p = std::malloc(size != 0 ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace {

using Harness = int (*)(const std::uint8_t*, std::size_t);

struct Fuzzer {
    const char* name;
    Harness harness;
};

constexpr Fuzzer kFuzzers[] = {
    {"effect", trellis_fuzz::effect::fuzz_one},
    {"svg_path", trellis_fuzz::svg_path::fuzz_one},
    {"svg_document", trellis_fuzz::svg_document::fuzz_one},
    {"keyframes", trellis_fuzz::keyframes::fuzz_one},
    {"image", trellis_fuzz::image::fuzz_one},
    {"movie", trellis_fuzz::movie::fuzz_one},
};

struct BrokenPromise : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void throw_broken_promise(const std::string& message) { throw BrokenPromise(message); }

// Runs one input in this process; returns the harness's complaint, or ""
// when it kept every promise.
std::string replay_here(Harness harness, const std::vector<std::uint8_t>& bytes) {
    trellis_fuzz::set_failure_handler(throw_broken_promise);
    g_largest_request = 0;
    std::string complaint;
    try {
        harness(bytes.data(), bytes.size());
    } catch (const BrokenPromise& e) {
        complaint = e.what();
    }
    trellis_fuzz::set_failure_handler(nullptr);
    if (complaint.empty() && g_largest_request > kAllocationLimit) {
        complaint = "one allocation asked for " + std::to_string(g_largest_request.load()) + " bytes (input of " +
                    std::to_string(bytes.size()) + " bytes)";
    }
    return complaint;
}

// Runs one input in a child process, so that a crash fails only this replay
// (the sanitizer's report goes to the test's output). A hang is left to the
// test runner's time-out.
std::string replay(Harness harness, const std::vector<std::uint8_t>& bytes) {
    int channel[2];
    if (pipe(channel) != 0) {
        return "cannot make a pipe";
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        return "cannot fork";
    }
    if (child == 0) {
        close(channel[0]);
        const std::string complaint = replay_here(harness, bytes);
        const ssize_t written = write(channel[1], complaint.data(), complaint.size());
        _exit(written == static_cast<ssize_t>(complaint.size()) ? 0 : 3);
    }
    close(channel[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    std::string complaint;
    char buffer[512];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;) {
        complaint.append(buffer, static_cast<std::size_t>(n));
    }
    close(channel[0]);
    if (WIFSIGNALED(status)) {
        return "crashed with signal " + std::to_string(WTERMSIG(status)) + " (see the log above)";
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return "ended with status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
               " (see the log above)";
    }
    return complaint;
}

struct SavedInput {
    const Fuzzer* fuzzer;
    std::string kind;  // "regressions" or "corpus"
    std::filesystem::path file;
};

void PrintTo(const SavedInput& input, std::ostream* os) { *os << input.file.string(); }

std::vector<SavedInput> saved_inputs() {
    std::vector<SavedInput> inputs;
    const std::filesystem::path root = std::filesystem::path(TRELLIS_SOURCE_DIR) / "fuzz";
    for (const Fuzzer& fuzzer : kFuzzers) {
        for (const char* kind : {"regressions", "corpus"}) {
            const std::filesystem::path dir = root / kind / fuzzer.name;
            if (!std::filesystem::is_directory(dir)) {
                continue;
            }
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(dir)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
            std::sort(files.begin(), files.end());
            for (const auto& file : files) {
                inputs.push_back({&fuzzer, kind, file});
            }
        }
    }
    return inputs;
}

std::string test_name(const ::testing::TestParamInfo<SavedInput>& info) {
    std::string name = std::string(info.param.fuzzer->name) + "_" + info.param.kind + "_" +
                       info.param.file.filename().string();
    for (char& c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
            c = '_';
        }
    }
    return name + "_" + std::to_string(info.index);
}

class SavedFuzzInput : public ::testing::TestWithParam<SavedInput> {};

TEST_P(SavedFuzzInput, KeepsEveryPromise) {
    const SavedInput& input = GetParam();
    std::ifstream in(input.file, std::ios::binary);
    ASSERT_TRUE(in) << input.file;
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string complaint = replay(input.fuzzer->harness, bytes);
    EXPECT_EQ(complaint, "") << input.file;
}

INSTANTIATE_TEST_SUITE_P(Saved, SavedFuzzInput, ::testing::ValuesIn(saved_inputs()), test_name);

// The seeds and findings are few; a fixed batch of random inputs of each size
// class keeps the harnesses honest against what the fuzzers make of them.
TEST(FuzzHarness, EmptyAndRandomInputsKeepEveryPromise) {
    std::mt19937 random(20240531);
    for (const Fuzzer& fuzzer : kFuzzers) {
        SCOPED_TRACE(fuzzer.name);
        EXPECT_EQ(replay(fuzzer.harness, {}), "");
        for (int i = 0; i < 40; ++i) {
            std::vector<std::uint8_t> bytes(random() % 600);
            for (auto& b : bytes) {
                b = static_cast<std::uint8_t>(random());
            }
            EXPECT_EQ(replay(fuzzer.harness, bytes), "") << "random input " << i;
        }
    }
}

// The check itself: a broken promise reaches the test as a complaint, and
// a replay's allocations are seen.
TEST(FuzzHarness, BrokenPromisesAndLargeAllocationsAreReported) {
    const Harness broken = [](const std::uint8_t*, std::size_t) -> int { trellis_fuzz::fail("test", "broken"); };
    EXPECT_EQ(replay(broken, {}), "test: broken");
    const Harness greedy = [](const std::uint8_t*, std::size_t) {
        // A direct call: an optimiser may leave out an allocation made by a
        // new-expression or std::allocator whose memory is never used.
        ::operator delete(::operator new(kAllocationLimit + 1));
        return 0;
    };
    EXPECT_NE(replay(greedy, {}), "");
}

}  // namespace
