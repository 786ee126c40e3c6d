// libFuzzer's entry, bound at build time to one harness (TRELLIS_FUZZ_ENTRY).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"

#ifndef TRELLIS_FUZZ_ENTRY
#error "TRELLIS_FUZZ_ENTRY names the harness this fuzzer runs"
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return trellis_fuzz::TRELLIS_FUZZ_ENTRY(data, size);
}
