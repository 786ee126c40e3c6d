// Shared by the fuzz harnesses: a byte reader that turns a fuzzer's input into
// choices, and the one way a harness reports a broken promise.
//
// The harnesses build both under libFuzzer and in the ordinary test suite
// (replaying saved inputs), so nothing here depends on libFuzzer.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

namespace trellis_fuzz {

// Reads the input front to back. Past the end every read gives zero bytes,
// so any input, even an empty one, is a complete description.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::size_t remaining() const { return empty() ? 0 : size_ - pos_; }

    std::uint8_t u8() { return empty() ? 0 : data_[pos_++]; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | (u8() << 8)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(u16()) | (static_cast<std::uint32_t>(u16()) << 16); }
    std::uint64_t u64() { return static_cast<std::uint64_t>(u32()) | (static_cast<std::uint64_t>(u32()) << 32); }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    bool flag() { return (u8() & 1) != 0; }

    // A double from eight raw bytes: every value, NaNs and infinities included.
    double f64() {
        const std::uint64_t bits = u64();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // lo..hi inclusive, from as few bytes as the span needs.
    std::int64_t in_range(std::int64_t lo, std::int64_t hi) {
        if (hi <= lo) {
            return lo;
        }
        const auto span = static_cast<std::uint64_t>(hi - lo) + 1;
        std::uint64_t raw = span <= 0x100 ? u8() : span <= 0x10000 ? u16() : u64();
        return lo + static_cast<std::int64_t>(raw % span);
    }

    template <typename T, std::size_t N>
    const T& pick(const T (&options)[N]) {
        return options[u8() % N];
    }

    // Up to `max` bytes, length first.
    std::string text(std::size_t max) {
        std::size_t length = static_cast<std::size_t>(u16()) % (max + 1);
        if (length > remaining()) {
            length = remaining();
        }
        std::string out(reinterpret_cast<const char*>(data_ + pos_), length);
        pos_ += length;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// What a harness does when a promise is broken. libFuzzer needs the process
// to die (abort) to record the input; the regression test installs a handler
// that throws, so one bad input fails one test case.
using FailureHandler = void (*)(const std::string& message);
inline FailureHandler g_failure_handler = nullptr;

inline void set_failure_handler(FailureHandler handler) { g_failure_handler = handler; }

[[noreturn]] inline void fail(std::string_view fuzzer, const std::string& what) {
    const std::string message = std::string(fuzzer) + ": " + what;
    if (g_failure_handler != nullptr) {
        g_failure_handler(message);
    }
    std::fprintf(stderr, "\n*** fuzz invariant broken: %s\n", message.c_str());
    std::fflush(stderr);
    std::abort();
}

// Tracing for reading a saved input: set TRELLIS_FUZZ_TRACE=1 to have a
// harness say what the input made it do.
inline bool tracing() {
    static const bool on = std::getenv("TRELLIS_FUZZ_TRACE") != nullptr;
    return on;
}

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline void trace(const char* format, ...) {
    if (!tracing()) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

// Harness entry points: 0 for an input that was handled (libFuzzer's
// convention); a broken promise goes through fail().
namespace effect {
int fuzz_one(const std::uint8_t* data, std::size_t size);
}
namespace svg_path {
int fuzz_one(const std::uint8_t* data, std::size_t size);
}
namespace svg_document {
int fuzz_one(const std::uint8_t* data, std::size_t size);
}
namespace keyframes {
int fuzz_one(const std::uint8_t* data, std::size_t size);
}
namespace image {
int fuzz_one(const std::uint8_t* data, std::size_t size);
}
namespace movie {
int fuzz_one(const std::uint8_t* data, std::size_t size);
}

}  // namespace trellis_fuzz
