// The plug-in property list (PiPL) the host reads from the library's resources
// before it loads any code. The bytes are built here, at compile time, from the
// same constants global set-up uses, so registration and set-up cannot drift.
//
// Layout: a 10-byte header (16-bit 1, 32-bit list version 0, 32-bit count),
// then each property as vendor, key, id, length and data padded with zeros to
// a multiple of 4. All integers little-endian; a four-character code is a
// 32-bit integer whose first character is the most significant byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "host/effect_info.h"

namespace pipl {

// Resource identity under which the host looks the list up.
constexpr const char* kResourceType = "PIPL";
constexpr int kResourceId = 16000;
constexpr int kResourceLanguage = 1033;

constexpr A_u_long fourcc(const char (&code)[5]) {
    return (static_cast<A_u_long>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<A_u_long>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<A_u_long>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<A_u_long>(static_cast<unsigned char>(code[3]));
}

constexpr A_u_long kVendor = fourcc("8BIM");
constexpr A_u_long kKindEffect = fourcc("eFKT");

// Interface versions the effect is written against, and the fixed words that
// only the property list carries.
constexpr A_u_short kPiplVersionMajor = 2;
constexpr A_u_short kPiplVersionMinor = 0;
constexpr A_u_short kInterfaceVersionMajor = 12;
constexpr A_u_short kInterfaceVersionMinor = 10;
constexpr A_u_short kInfoFlags = 0;
constexpr A_u_long kReservedInfo = 8;

constexpr std::size_t kHeaderSize = 10;
constexpr std::size_t kPropertyFieldsSize = 16;
constexpr A_u_long kPropertyCount = 13;

namespace detail {

constexpr std::size_t padded(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

constexpr std::size_t counted_size(std::string_view s) { return padded(1 + s.size()); }
constexpr std::size_t c_string_size(std::string_view s) { return padded(s.size() + 1); }

// Total size, property by property in list order.
constexpr std::size_t list_size() {
    return kHeaderSize + kPropertyCount * kPropertyFieldsSize +
           4 +                                               // kind
           counted_size(effect_info::kRegisteredName) +      // name
           counted_size(effect_info::kCategory) +            // catg
           c_string_size(effect_info::kEntryPointName) +     // wx86
           c_string_size(effect_info::kEntryPointName) +     // 8664
           4 + 4 + 4 +                                       // ePVR, eSVR, eVER
           4 +                                               // eINF: 2 counted, 2 alignment
           4 + 4 +                                           // eGLO, eGL2
           counted_size(effect_info::kMatchName) +           // eMNA
           4;                                                // aeFL
}

}  // namespace detail

constexpr std::size_t kSize = detail::list_size();

using Bytes = std::array<std::uint8_t, kSize>;

namespace detail {

class Writer {
public:
    constexpr explicit Writer(Bytes& out) : out_(out) {}

    constexpr void u16(A_u_short v) {
        put(static_cast<std::uint8_t>(v & 0xFF));
        put(static_cast<std::uint8_t>(v >> 8));
    }
    constexpr void u32(A_u_long v) {
        for (int shift = 0; shift < 32; shift += 8) put(static_cast<std::uint8_t>((v >> shift) & 0xFF));
    }

    // One property: fields, then data written by `data`, then zero padding.
    // `length` is the value of the length field, which for 'eINF' is less
    // than what the data occupies.
    template <typename Data>
    constexpr void property(A_u_long key, A_u_long length, Data data) {
        u32(kVendor);
        u32(key);
        u32(0);
        u32(length);
        const std::size_t start = pos_;
        data();
        while ((pos_ - start) % 4 != 0) put(0);
    }

    constexpr void u32_property(A_u_long key, A_u_long value) {
        property(key, 4, [&] { u32(value); });
    }
    constexpr void version_property(A_u_long key, A_u_short major, A_u_short minor) {
        property(key, 4, [&] {
            u16(major);
            u16(minor);
        });
    }
    constexpr void counted_property(A_u_long key, std::string_view s) {
        property(key, static_cast<A_u_long>(counted_size(s)), [&] {
            put(static_cast<std::uint8_t>(s.size()));
            for (char c : s) put(static_cast<std::uint8_t>(c));
        });
    }
    constexpr void c_string_property(A_u_long key, std::string_view s) {
        property(key, static_cast<A_u_long>(c_string_size(s)), [&] {
            for (char c : s) put(static_cast<std::uint8_t>(c));
            put(0);
        });
    }

    constexpr std::size_t position() const { return pos_; }

private:
    constexpr void put(std::uint8_t b) { out_[pos_++] = b; }

    Bytes& out_;
    std::size_t pos_ = 0;
};

}  // namespace detail

// The whole resource.
constexpr Bytes build() {
    static_assert(std::string_view(effect_info::kRegisteredName).size() <= 255);
    static_assert(std::string_view(effect_info::kCategory).size() <= 255);
    static_assert(std::string_view(effect_info::kMatchName).size() <= 255);

    Bytes out{};
    detail::Writer w(out);
    w.u16(1);
    w.u32(0);
    w.u32(kPropertyCount);

    w.u32_property(fourcc("kind"), kKindEffect);
    w.counted_property(fourcc("name"), effect_info::kRegisteredName);
    w.counted_property(fourcc("catg"), effect_info::kCategory);
    w.c_string_property(fourcc("wx86"), effect_info::kEntryPointName);
    // 64-bit hosts take the entry point's name from here, not from 'wx86'.
    w.c_string_property(fourcc("8664"), effect_info::kEntryPointName);
    w.version_property(fourcc("ePVR"), kPiplVersionMajor, kPiplVersionMinor);
    w.version_property(fourcc("eSVR"), kInterfaceVersionMajor, kInterfaceVersionMinor);
    w.u32_property(fourcc("eVER"), effect_info::kVersionWord);
    w.property(fourcc("eINF"), 2, [&] { w.u16(kInfoFlags); });
    w.u32_property(fourcc("eGLO"), static_cast<A_u_long>(effect_info::kOutFlags));
    w.u32_property(fourcc("eGL2"), static_cast<A_u_long>(effect_info::kOutFlags2));
    w.counted_property(fourcc("eMNA"), effect_info::kMatchName);
    w.u32_property(fourcc("aeFL"), kReservedInfo);

    // A short write would leave trailing zeros that no walk could tell apart.
    if (w.position() != kSize) throw "PiPL size mismatch";
    return out;
}

static_assert(kSize == 334);

// The resource's bytes, for the generator and the tests.
std::span<const std::uint8_t> resource();

}  // namespace pipl
