// The built module as the host sees it: one export, no writable state of its
// own, loadable and answering.
#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "standalone/host.h"

namespace {

struct Symbol {
    std::string name;
    std::string section;  // "" for undefined / absolute
    unsigned char type;
    unsigned char binding;
    unsigned char visibility;
};

// A minimal reader of a 64-bit little-endian ELF file's symbol tables.
class ElfFile {
public:
    explicit ElfFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (bytes_.size() < sizeof(Elf64_Ehdr)) {
            error_ = "file too short or unreadable";
            return;
        }
        std::memcpy(&header_, bytes_.data(), sizeof(header_));
        if (std::memcmp(header_.e_ident, ELFMAG, SELFMAG) != 0 || header_.e_ident[EI_CLASS] != ELFCLASS64 ||
            header_.e_ident[EI_DATA] != ELFDATA2LSB) {
            error_ = "not a 64-bit little-endian ELF file";
            return;
        }
        if (header_.e_shentsize != sizeof(Elf64_Shdr) ||
            header_.e_shoff + header_.e_shnum * sizeof(Elf64_Shdr) > bytes_.size()) {
            error_ = "bad section header table";
            return;
        }
        sections_.resize(header_.e_shnum);
        std::memcpy(sections_.data(), bytes_.data() + header_.e_shoff, header_.e_shnum * sizeof(Elf64_Shdr));
    }

    const std::string& error() const { return error_; }

    std::string section_name(std::size_t index) const {
        if (index >= sections_.size() || header_.e_shstrndx >= sections_.size()) {
            return "";
        }
        return string_at(sections_[header_.e_shstrndx], sections_[index].sh_name);
    }

    bool has_section_type(Elf64_Word type) const {
        for (const Elf64_Shdr& s : sections_) {
            if (s.sh_type == type) return true;
        }
        return false;
    }

    // Every symbol of the first section of `type` (SHT_SYMTAB or SHT_DYNSYM).
    std::vector<Symbol> symbols(Elf64_Word type) const {
        std::vector<Symbol> out;
        for (const Elf64_Shdr& table : sections_) {
            if (table.sh_type != type || table.sh_entsize != sizeof(Elf64_Sym) || table.sh_link >= sections_.size() ||
                table.sh_offset + table.sh_size > bytes_.size()) {
                continue;
            }
            const Elf64_Shdr& strings = sections_[table.sh_link];
            for (std::size_t off = 0; off + sizeof(Elf64_Sym) <= table.sh_size; off += sizeof(Elf64_Sym)) {
                Elf64_Sym sym;
                std::memcpy(&sym, bytes_.data() + table.sh_offset + off, sizeof(sym));
                Symbol s;
                s.name = string_at(strings, sym.st_name);
                s.type = ELF64_ST_TYPE(sym.st_info);
                s.binding = ELF64_ST_BIND(sym.st_info);
                s.visibility = ELF64_ST_VISIBILITY(sym.st_other);
                if (sym.st_shndx != SHN_UNDEF && sym.st_shndx < SHN_LORESERVE) {
                    s.section = section_name(sym.st_shndx);
                }
                out.push_back(s);
            }
            break;
        }
        return out;
    }

private:
    std::string string_at(const Elf64_Shdr& table, Elf64_Word offset) const {
        const std::size_t at = table.sh_offset + offset;
        if (offset >= table.sh_size || at >= bytes_.size()) {
            return "";
        }
        const char* begin = bytes_.data() + at;
        return std::string(begin, strnlen(begin, bytes_.size() - at));
    }

    std::vector<char> bytes_;
    Elf64_Ehdr header_{};
    std::vector<Elf64_Shdr> sections_;
    std::string error_;
};

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Writable storage the toolchain adds to every shared object, not state of
// the effect:
// - completed.0 (.bss), __dso_handle and __TMC_END__ (.data): crtbegin/crtend
//   bookkeeping for running static destructors once and for transactional
//   memory clones;
// - DW.ref.*: pointers the compiler emits for exception handling (the C++
//   personality routine, and the type of each caught exception: the error
//   code the entry point catches, std::bad_alloc, ...), filled once by the
//   dynamic loader's relocation and only read afterwards;
// - __bss_start, _edata, _end: linker address markers, not objects (some
//   linkers list them with a section).
// In sanitizer builds the instrumentation adds its own records too: the
// checks' source locations and type descriptors (__unnamed_N, which the
// runtime marks as reported) and the address sanitizer's globals.
bool sanitizer_symbol(const std::string& name) {
#if defined(__SANITIZE_ADDRESS__) || defined(__has_feature)
#if defined(__SANITIZE_ADDRESS__)
    constexpr bool sanitized = true;
#elif __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
    constexpr bool sanitized = true;
#else
    constexpr bool sanitized = false;
#endif
#else
    constexpr bool sanitized = false;
#endif
    return sanitized && (starts_with(name, "__unnamed_") || starts_with(name, "__asan") ||
                         starts_with(name, "___asan") || starts_with(name, "__odr_asan") ||
                         starts_with(name, "__ubsan"));
}

bool toolchain_symbol(const std::string& name) {
    static const std::set<std::string, std::less<>> exact = {"completed.0", "__dso_handle", "__TMC_END__",
                                                             "__bss_start", "_edata", "_end"};
    return exact.count(name) != 0 || starts_with(name, "DW.ref.") || sanitizer_symbol(name);
}

bool writable_data_section(const std::string& section) {
    return section == ".data" || section == ".bss" || section == ".tdata" || section == ".tbss" ||
           (starts_with(section, ".data.") && section != ".data.rel.ro");
}

TEST(ModuleExports, OnlyEntryPointFuncIsExported) {
    ElfFile elf(TRELLIS_MODULE_PATH);
    ASSERT_EQ(elf.error(), "");
    const std::vector<Symbol> dynamic = elf.symbols(SHT_DYNSYM);
    ASSERT_FALSE(dynamic.empty());
    std::vector<std::string> exported;
    for (const Symbol& s : dynamic) {
        if (s.section.empty() || s.binding == STB_LOCAL || s.visibility == STV_HIDDEN ||
            s.visibility == STV_INTERNAL || s.type == STT_SECTION) {
            continue;
        }
        exported.push_back(s.name);
    }
    EXPECT_EQ(exported, std::vector<std::string>{"EntryPointFunc"});
}

TEST(ModuleExports, NoWritableObjectsOfItsOwn) {
    ElfFile elf(TRELLIS_MODULE_PATH);
    ASSERT_EQ(elf.error(), "");
    // Without the full symbol table local statics would be invisible.
    ASSERT_TRUE(elf.has_section_type(SHT_SYMTAB)) << "module is stripped; cannot inspect its objects";
    const std::vector<Symbol> symbols = elf.symbols(SHT_SYMTAB);
    ASSERT_FALSE(symbols.empty());
    std::vector<std::string> offenders;
    bool saw_rodata_table = false;
    for (const Symbol& s : symbols) {
        if (s.type != STT_OBJECT && s.type != STT_TLS && s.type != STT_NOTYPE && s.type != STT_COMMON) {
            continue;
        }
        if (s.type == STT_OBJECT && (s.section == ".rodata" || s.section == ".data.rel.ro")) {
            saw_rodata_table = true;
        }
        if (!writable_data_section(s.section) || toolchain_symbol(s.name)) {
            continue;
        }
        offenders.push_back(s.name + " in " + s.section);
    }
    EXPECT_TRUE(offenders.empty()) << ::testing::PrintToString(offenders);
    // The check sees the effect's own objects at all: its constant tables.
    EXPECT_TRUE(saw_rodata_table);
}

TEST(ModuleExports, LoadsAndAnswersAbout) {
    void* library = dlopen(TRELLIS_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_NE(dlsym(library, "EntryPointFunc"), nullptr);
    // Internal handlers stay internal.
    for (const char* hidden : {"about", "_Z5aboutP9PF_InDataP10PF_OutDataPP11PF_ParamDefP11PF_LayerDef",
                               "_Z10pre_renderP9PF_InDataP10PF_OutDataP17PF_PreRenderExtra"}) {
        EXPECT_EQ(dlsym(library, hidden), nullptr) << hidden;
    }
    dlclose(library);

    std::string error;
    std::shared_ptr<standalone::Module> module = standalone::Module::load(TRELLIS_MODULE_PATH, &error);
    ASSERT_NE(module, nullptr) << error;
    EXPECT_TRUE(module->is_library());
    standalone::Host host(module);
    std::string message;
    EXPECT_EQ(host.about(&message), PF_Err_NONE);
    EXPECT_EQ(message, "NorvexLattice, v1.0\rRivuzovezod!");
    std::string why;
    EXPECT_TRUE(host.balanced(&why)) << why;
}

}  // namespace
