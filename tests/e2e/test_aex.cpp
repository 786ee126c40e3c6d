// The Windows library as shipped: its one export, its resources, and the DLLs
// it needs at load time, read with the mingw-w64 objdump and wrestool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "host/effect_info.h"
#include "host/pipl.h"

namespace {

struct Output {
    std::string text;
    int status = -1;
};

Output run(const std::string& command) {
    Output out;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.text.append(buffer, n);
    out.status = pclose(pipe);
    return out;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

std::string objdump() {
    const Output o = run(quoted(TRELLIS_OBJDUMP) + " -p " + quoted(TRELLIS_AEX));
    EXPECT_EQ(o.status, 0) << o.text;
    return o.text;
}

// Lines of the section that starts with a line holding `title`, up to the
// next blank line.
std::vector<std::string> section(const std::string& text, const std::string& title) {
    std::vector<std::string> result;
    bool inside = false;
    for (const std::string& line : lines(text)) {
        if (!inside) {
            inside = line.find(title) != std::string::npos;
            continue;
        }
        if (line.find_first_not_of(" \t\r") == std::string::npos) break;
        result.push_back(line);
    }
    return result;
}

TEST(Aex, ExportsOnlyTheEntryPoint) {
    const std::string dump = objdump();
    // Every export, named or by ordinal only, has a row in the address table.
    EXPECT_EQ(section(dump, "Export Address Table -- Ordinal Base").size(), 1u) << dump;

    std::vector<std::string> names;
    const std::regex row(R"(^\s*\[\s*\d+\]\s+(\S+)\s*$)");
    for (const std::string& line : section(dump, "[Ordinal/Name Pointer] Table")) {
        std::smatch m;
        if (std::regex_match(line, m, row)) names.push_back(m[1]);
    }
    EXPECT_EQ(names, std::vector<std::string>{effect_info::kEntryPointName}) << dump;
}

// The loader must find everything in Windows itself: the kernel and the
// system C runtime (msvcrt.dll, or the universal CRT and its api-set forwarders
// when the toolchain targets it). A compiler runtime (libstdc++-6.dll,
// libgcc_s_seh-1.dll, libwinpthread-1.dll) would be missing on users' machines.
TEST(Aex, ImportsOnlyDllsOfWindowsItself) {
    const std::string dump = objdump();
    std::vector<std::string> dlls;
    const std::regex entry(R"(^\s*DLL Name:\s*(\S+)\s*$)");
    for (const std::string& line : lines(dump)) {
        std::smatch m;
        if (std::regex_match(line, m, entry)) dlls.push_back(m[1]);
    }
    ASSERT_FALSE(dlls.empty()) << dump;
    const std::regex allowed(R"(kernel32\.dll|msvcrt\.dll|ucrtbase\.dll|api-ms-win-crt-[a-z0-9-]+\.dll)",
                             std::regex::icase);
    for (const std::string& dll : dlls) EXPECT_TRUE(std::regex_match(dll, allowed)) << dll;
}

struct Resource {
    std::string type, name, language;
    bool operator==(const Resource&) const = default;
};

std::vector<Resource> list_resources() {
    const Output o = run(quoted(TRELLIS_WRESTOOL) + " -l " + quoted(TRELLIS_AEX));
    EXPECT_EQ(o.status, 0) << o.text;
    std::vector<Resource> result;
    const std::regex entry(R"(--type='?([^' ]+)'? --name='?([^' ]+)'? --language=(\S+))");
    for (const std::string& line : lines(o.text)) {
        std::smatch m;
        if (std::regex_search(line, m, entry)) result.push_back({m[1], m[2], m[3]});
    }
    return result;
}

std::string extract(const Resource& r) {
    const Output o = run(quoted(TRELLIS_WRESTOOL) + " -x --raw --type=" + r.type + " --name=" + r.name +
                         " --language=" + r.language + " " + quoted(TRELLIS_AEX));
    EXPECT_EQ(o.status, 0);
    return o.text;
}

const Resource kPipl{pipl::kResourceType, std::to_string(pipl::kResourceId), std::to_string(pipl::kResourceLanguage)};
// RT_MANIFEST under ISOLATIONAWARE_MANIFEST_RESOURCE_ID, the id a DLL's
// manifest is looked up by.
const Resource kManifest{"24", "2", "1033"};

TEST(Aex, CarriesThePiplAndTheManifestOnly) {
    const std::vector<Resource> expected{kPipl, kManifest};
    std::vector<Resource> found = list_resources();
    EXPECT_EQ(found.size(), 2u);
    for (const Resource& r : expected) {
        EXPECT_NE(std::find(found.begin(), found.end(), r), found.end())
            << r.type << " " << r.name << " " << r.language;
    }
    EXPECT_EQ(kPipl.type, "PIPL");
    EXPECT_EQ(kPipl.name, "16000");
    EXPECT_EQ(kPipl.language, "1033");
}

TEST(Aex, PiplResourceHoldsTheGeneratedBytes) {
    const std::string bytes = extract(kPipl);
    const auto generated = pipl::resource();
    ASSERT_EQ(bytes.size(), generated.size());
    EXPECT_TRUE(std::equal(generated.begin(), generated.end(), bytes.begin(),
                           [](std::uint8_t a, char b) { return a == static_cast<unsigned char>(b); }));
}

TEST(Aex, ManifestRunsAsInvokerWithoutUiAccess) {
    const std::string manifest = extract(kManifest);
    std::ifstream source(std::string(TRELLIS_SOURCE_DIR) + "/cmake/aex.manifest", std::ios::binary);
    const std::string expected{std::istreambuf_iterator<char>(source), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(manifest, expected);
    EXPECT_NE(manifest.find(R"(level="asInvoker")"), std::string::npos);
    EXPECT_NE(manifest.find(R"(uiAccess="false")"), std::string::npos);
}

}  // namespace
