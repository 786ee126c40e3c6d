// Pixel equality and printing for test assertions. In the pixels' own
// (global) namespace, so that argument lookup finds them from std::vector's
// == and from the test framework's printer.
#pragma once

#include <iomanip>
#include <ostream>

#include "host/ae_sdk.h"

namespace pixels_detail {
template <typename Pixel>
bool same(const Pixel& l, const Pixel& r) {
    return l.alpha == r.alpha && l.red == r.red && l.green == r.green && l.blue == r.blue;
}
template <typename Pixel>
std::ostream& print(std::ostream& os, const Pixel& p) {
    // Nine digits tell any two floats apart.
    const auto precision = os.precision(9);
    os << '(' << +p.alpha << ", " << +p.red << ", " << +p.green << ", " << +p.blue << ')';
    os.precision(precision);
    return os;
}
}  // namespace pixels_detail

// Exact, float included: results are specified to the bit.
inline bool operator==(const PF_Pixel8& l, const PF_Pixel8& r) { return pixels_detail::same(l, r); }
inline bool operator==(const PF_Pixel16& l, const PF_Pixel16& r) { return pixels_detail::same(l, r); }
inline bool operator==(const PF_PixelFloat& l, const PF_PixelFloat& r) { return pixels_detail::same(l, r); }

inline std::ostream& operator<<(std::ostream& os, const PF_Pixel8& p) { return pixels_detail::print(os, p); }
inline std::ostream& operator<<(std::ostream& os, const PF_Pixel16& p) { return pixels_detail::print(os, p); }
inline std::ostream& operator<<(std::ostream& os, const PF_PixelFloat& p) { return pixels_detail::print(os, p); }

inline void PrintTo(const PF_Pixel8& p, std::ostream* os) { *os << p; }
inline void PrintTo(const PF_Pixel16& p, std::ostream* os) { *os << p; }
inline void PrintTo(const PF_PixelFloat& p, std::ostream* os) { *os << p; }
