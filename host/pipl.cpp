#include "host/pipl.h"

namespace pipl {

namespace {
constexpr Bytes kBytes = build();
}  // namespace

std::span<const std::uint8_t> resource() { return kBytes; }

}  // namespace pipl
