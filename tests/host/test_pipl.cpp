// The registration resource, read back the way a host reads it, and checked
// against what global set-up reports through the entry point.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/ae_sdk.h"
#include "host/effect_info.h"
#include "host/pipl.h"
#include "standalone/host.h"

namespace {

// Written out here rather than taken from pipl.h, so a wrong code there shows.
constexpr std::uint32_t code(std::string_view c) {
    return (std::uint32_t{static_cast<unsigned char>(c[0])} << 24) |
           (std::uint32_t{static_cast<unsigned char>(c[1])} << 16) |
           (std::uint32_t{static_cast<unsigned char>(c[2])} << 8) | std::uint32_t{static_cast<unsigned char>(c[3])};
}

struct Property {
    std::uint32_t vendor = 0;
    std::uint32_t key = 0;
    std::uint32_t id = 0;
    std::uint32_t length = 0;
    std::vector<std::uint8_t> data;  // `length` bytes
    std::size_t padded = 0;          // bytes the data occupies
};

struct Walk {
    std::uint16_t leading = 0;
    std::uint32_t version = 0;
    std::uint32_t count = 0;
    std::vector<Property> properties;
    std::size_t end = 0;  // offset after the last property's padding
};

std::uint16_t u16_at(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t u32_at(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint32_t{b[at]} | (std::uint32_t{b[at + 1]} << 8) | (std::uint32_t{b[at + 2]} << 16) |
           (std::uint32_t{b[at + 3]} << 24);
}

// Walks `count` properties with the padding rule; nothing if any field or
// data would run past the end.
std::optional<Walk> walk(const std::vector<std::uint8_t>& b) {
    Walk w;
    if (b.size() < 10) return std::nullopt;
    w.leading = u16_at(b, 0);
    w.version = u32_at(b, 2);
    w.count = u32_at(b, 6);
    std::size_t at = 10;
    for (std::uint32_t i = 0; i < w.count; ++i) {
        if (b.size() - at < 16) return std::nullopt;
        Property p;
        p.vendor = u32_at(b, at);
        p.key = u32_at(b, at + 4);
        p.id = u32_at(b, at + 8);
        p.length = u32_at(b, at + 12);
        at += 16;
        p.padded = (std::size_t{p.length} + 3) & ~std::size_t{3};
        if (b.size() - at < p.padded) return std::nullopt;
        p.data.assign(b.begin() + static_cast<std::ptrdiff_t>(at),
                      b.begin() + static_cast<std::ptrdiff_t>(at + p.length));
        for (std::size_t k = at + p.length; k < at + p.padded; ++k) {
            if (b[k] != 0) return std::nullopt;
        }
        at += p.padded;
        w.properties.push_back(std::move(p));
    }
    w.end = at;
    return w;
}

std::vector<std::uint8_t> resource_bytes() {
    const auto r = pipl::resource();
    return {r.begin(), r.end()};
}

const Property* find(const Walk& w, std::uint32_t key) {
    for (const Property& p : w.properties) {
        if (p.key == key) return &p;
    }
    return nullptr;
}

std::uint32_t u32_value(const Property& p) {
    EXPECT_EQ(p.length, 4u);
    return p.data.size() >= 4 ? u32_at(p.data, 0) : 0;
}

std::string counted(const Property& p) {
    if (p.data.empty() || p.data[0] + 1u > p.data.size()) return "<bad counted string>";
    return {reinterpret_cast<const char*>(p.data.data() + 1), p.data[0]};
}

TEST(Pipl, HeaderAndWalkEndExactlyAtTheEnd) {
    const auto bytes = resource_bytes();
    ASSERT_EQ(bytes.size(), 334u);
    const auto w = walk(bytes);
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->leading, 1u);
    EXPECT_EQ(w->version, 0u);
    EXPECT_EQ(w->count, 13u);
    EXPECT_EQ(w->properties.size(), 13u);
    EXPECT_EQ(w->end, bytes.size());
}

TEST(Pipl, PropertiesInOrderUnderTheVendorCode) {
    const auto w = walk(resource_bytes());
    ASSERT_TRUE(w.has_value());
    const std::uint32_t keys[] = {code("kind"), code("name"), code("catg"), code("wx86"), code("8664"),
                                  code("ePVR"), code("eSVR"), code("eVER"), code("eINF"),
                                  code("eGLO"), code("eGL2"), code("eMNA"), code("aeFL")};
    ASSERT_EQ(w->properties.size(), std::size(keys));
    for (std::size_t i = 0; i < std::size(keys); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(w->properties[i].key, keys[i]);
        EXPECT_EQ(w->properties[i].vendor, code("8BIM"));
        EXPECT_EQ(w->properties[i].id, 0u);
    }
}

TEST(Pipl, FourCharacterCodesAreStoredReversed) {
    const auto bytes = resource_bytes();
    // The first property's vendor, key and kind value.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[10]), 4), "MIB8");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[14]), 4), "dnik");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[26]), 4), "TKFe");
}

TEST(Pipl, StringsAreCountedOrTerminatedAndPadded) {
    const auto w = walk(resource_bytes());
    ASSERT_TRUE(w.has_value());
    const struct {
        const char* key;
        std::string text;
        std::uint32_t length;
    } strings[] = {
        {"name", effect_info::kRegisteredName, 16},
        {"catg", effect_info::kCategory, 8},
        {"eMNA", effect_info::kMatchName, 28},
    };
    for (const auto& s : strings) {
        SCOPED_TRACE(s.key);
        const Property* p = find(*w, code(s.key));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->length, s.length);
        EXPECT_EQ(p->length % 4, 0u);
        EXPECT_EQ(counted(*p), s.text);
    }
    EXPECT_EQ(std::string_view(effect_info::kRegisteredName), "NorvexTrellis");
    EXPECT_EQ(std::string_view(effect_info::kCategory), "Norvex");
    EXPECT_EQ(std::string_view(effect_info::kMatchName), "NorvexTrellis by Dorsaveli");

    // The entry point's name for 32-bit and for 64-bit hosts, the same bytes.
    for (const char* key : {"wx86", "8664"}) {
        SCOPED_TRACE(key);
        const Property* entry = find(*w, code(key));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->length, 16u);
        ASSERT_EQ(entry->data.size(), 16u);
        EXPECT_STREQ(reinterpret_cast<const char*>(entry->data.data()), "EntryPointFunc");
        EXPECT_EQ(entry->data[14], 0);
        EXPECT_EQ(entry->data[15], 0);
    }
}

TEST(Pipl, InfoFlagsCountTwoBytesButOccupyFour) {
    const auto bytes = resource_bytes();
    const auto w = walk(bytes);
    ASSERT_TRUE(w.has_value());
    const Property* info = find(*w, code("eINF"));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->length, 2u);
    EXPECT_EQ(info->padded, 4u);
    EXPECT_EQ(u16_at(info->data, 0), 0u);
}

TEST(Pipl, VersionAndReservedWords) {
    const auto w = walk(resource_bytes());
    ASSERT_TRUE(w.has_value());
    const struct {
        const char* key;
        std::uint16_t major, minor;
    } versions[] = {{"ePVR", 2, 0}, {"eSVR", 12, 10}};
    for (const auto& v : versions) {
        SCOPED_TRACE(v.key);
        const Property* p = find(*w, code(v.key));
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(p->length, 4u);
        EXPECT_EQ(u16_at(p->data, 0), v.major);
        EXPECT_EQ(u16_at(p->data, 2), v.minor);
    }
    const Property* kind = find(*w, code("kind"));
    ASSERT_NE(kind, nullptr);
    EXPECT_EQ(u32_value(*kind), code("eFKT"));
    const Property* reserved = find(*w, code("aeFL"));
    ASSERT_NE(reserved, nullptr);
    EXPECT_EQ(u32_value(*reserved), 8u);
    const Property* version = find(*w, code("eVER"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(u32_value(*version), 0x80601u);
}

TEST(Pipl, WordsEqualWhatGlobalSetupReports) {
    const auto w = walk(resource_bytes());
    ASSERT_TRUE(w.has_value());
    const Property* version = find(*w, code("eVER"));
    const Property* flags = find(*w, code("eGLO"));
    const Property* flags2 = find(*w, code("eGL2"));
    ASSERT_NE(version, nullptr);
    ASSERT_NE(flags, nullptr);
    ASSERT_NE(flags2, nullptr);

    std::string error;
    const auto module = standalone::Module::load(TRELLIS_MODULE_PATH, &error);
    ASSERT_NE(module, nullptr) << error;
    standalone::Host host(module);
    ASSERT_EQ(host.global_setup(), PF_Err_NONE);
    const PF_OutData& out = host.out_data();

    EXPECT_EQ(out.my_version, u32_value(*version));
    EXPECT_EQ(static_cast<std::uint32_t>(out.out_flags), u32_value(*flags));
    EXPECT_EQ(static_cast<std::uint32_t>(out.out_flags2), u32_value(*flags2));
    EXPECT_EQ(u32_value(*version), 0x80601u);
    EXPECT_EQ(u32_value(*flags), 0x06000040u);
    EXPECT_EQ(u32_value(*flags2), 0x1400u);
}

}  // namespace
