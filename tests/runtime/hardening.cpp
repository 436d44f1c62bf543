// The built library carries the hardening its build asks for: read from the
// file's own ELF headers, as a loader or an auditor reads them, not from the
// build flags.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct LibraryElf : ::testing::Test {
    std::vector<char> file;
    const Elf64_Ehdr* eh = nullptr;

    template <class T>
    const T* at(Elf64_Off off) const {
        if (off + sizeof(T) > file.size()) ADD_FAILURE() << "offset " << off << " past the file";
        return reinterpret_cast<const T*>(file.data() + off);
    }
    std::vector<Elf64_Phdr> segments() const {
        std::vector<Elf64_Phdr> v;
        for (int i = 0; i < eh->e_phnum; ++i)
            v.push_back(*at<Elf64_Phdr>(eh->e_phoff + i * eh->e_phentsize));
        return v;
    }
    std::vector<Elf64_Shdr> sections() const {
        std::vector<Elf64_Shdr> v;
        for (int i = 0; i < eh->e_shnum; ++i)
            v.push_back(*at<Elf64_Shdr>(eh->e_shoff + i * eh->e_shentsize));
        return v;
    }
    std::vector<Elf64_Dyn> dynamic() const {
        std::vector<Elf64_Dyn> v;
        for (const Elf64_Phdr& p : segments()) {
            if (p.p_type != PT_DYNAMIC) continue;
            for (Elf64_Off o = p.p_offset; o + sizeof(Elf64_Dyn) <= p.p_offset + p.p_filesz;
                 o += sizeof(Elf64_Dyn)) {
                v.push_back(*at<Elf64_Dyn>(o));
                if (v.back().d_tag == DT_NULL) break;
            }
        }
        return v;
    }
    // The dynamic symbol table with each symbol's name.
    std::vector<std::pair<std::string, Elf64_Sym>> dynamic_symbols() const {
        std::vector<std::pair<std::string, Elf64_Sym>> v;
        const std::vector<Elf64_Shdr> sh = sections();
        for (const Elf64_Shdr& s : sh) {
            if (s.sh_type != SHT_DYNSYM) continue;
            const Elf64_Shdr& names = sh.at(s.sh_link);
            for (Elf64_Off o = s.sh_offset; o + sizeof(Elf64_Sym) <= s.sh_offset + s.sh_size;
                 o += sizeof(Elf64_Sym)) {
                const Elf64_Sym* sym = at<Elf64_Sym>(o);
                v.emplace_back(at<char>(names.sh_offset + sym->st_name), *sym);
            }
        }
        return v;
    }
    // Names of the functions the library takes from other objects.
    std::vector<std::string> imports() const {
        std::vector<std::string> v;
        for (const auto& [name, sym] : dynamic_symbols())
            if (sym.st_shndx == SHN_UNDEF && ELF64_ST_TYPE(sym.st_info) == STT_FUNC)
                v.push_back(name);
        return v;
    }

    void SetUp() override {
        std::ifstream in(GUIDE_LIBRARY_PATH, std::ios::binary);
        ASSERT_TRUE(in) << GUIDE_LIBRARY_PATH;
        file.assign(std::istreambuf_iterator<char>(in), {});
        ASSERT_GE(file.size(), sizeof(Elf64_Ehdr));
        eh = reinterpret_cast<const Elf64_Ehdr*>(file.data());
        ASSERT_EQ(std::memcmp(eh->e_ident, ELFMAG, SELFMAG), 0);
        ASSERT_EQ(eh->e_ident[EI_CLASS], ELFCLASS64);
        ASSERT_EQ(eh->e_type, ET_DYN);
    }
};

// A stack that cannot run code: an overflow into it cannot plant shellcode.
TEST_F(LibraryElf, StackIsNotExecutable) {
    int stacks = 0;
    for (const Elf64_Phdr& p : segments()) {
        if (p.p_type != PT_GNU_STACK) continue;
        ++stacks;
        EXPECT_EQ(p.p_flags & PF_X, 0u);
    }
    // Without the segment a loader falls back to an executable stack.
    EXPECT_EQ(stacks, 1);
}

// Full RELRO: every relocation is resolved at load (BIND_NOW) and the
// relocated data, the GOT included, is then made read-only, so a stray write
// cannot redirect a call into libc or libm.
TEST_F(LibraryElf, RelocationsResolvedAtLoadThenReadOnly) {
    bool relro = false, now = false, textrel = false;
    for (const Elf64_Phdr& p : segments()) relro = relro || p.p_type == PT_GNU_RELRO;
    for (const Elf64_Dyn& d : dynamic()) {
        if (d.d_tag == DT_FLAGS)
            now = now || (d.d_un.d_val & DF_BIND_NOW),
            textrel = textrel || (d.d_un.d_val & DF_TEXTREL);
        if (d.d_tag == DT_FLAGS_1) now = now || (d.d_un.d_val & DF_1_NOW);
        if (d.d_tag == DT_BIND_NOW) now = true;
        if (d.d_tag == DT_TEXTREL) textrel = true;
    }
    EXPECT_TRUE(relro) << "no PT_GNU_RELRO segment";
    EXPECT_TRUE(now) << "lazy binding: the GOT stays writable";
    EXPECT_FALSE(textrel) << "code relocated at load stays writable";
}

// Functions with arrays on the stack (the throttle stage's pair of table
// limits, the batch step's thread pool) check a canary before returning.
TEST_F(LibraryElf, StackProtectorChecksCanaries) {
    const std::vector<std::string> in = imports();
    EXPECT_EQ(std::count(in.begin(), in.end(), "__stack_chk_fail"), 1) << "no canary check";
}

// _FORTIFY_SOURCE swaps libc calls whose buffer sizes the compiler knows for
// checked variants. The law itself calls no such function (its copies are
// fixed-size and inlined), but the console message goes through printf,
// which becomes __printf_chk, so the fortified build leaves this trace.
TEST_F(LibraryElf, FortifiedLibcCallsAreUsed) {
    std::vector<std::string> checked, plain;
    for (const std::string& name : imports()) {
        const std::string base = name.substr(0, name.find('@'));
        if (base != "__stack_chk_fail" && base.size() > 4 &&
            base.compare(base.size() - 4, 4, "_chk") == 0)
            checked.push_back(base);
        if (base == "printf" || base == "sprintf" || base == "snprintf" || base == "fprintf")
            plain.push_back(base);
    }
    EXPECT_FALSE(checked.empty()) << "no fortified libc call imported";
    EXPECT_EQ(plain, std::vector<std::string>{}) << "unfortified formatted output";
}

// -fcf-protection: every exported function starts with ENDBR64, the landing
// pad that indirect-branch tracking requires of a call target.
TEST_F(LibraryElf, ExportedFunctionsStartWithBranchTargetMarker) {
    const unsigned char endbr64[4] = {0xf3, 0x0f, 0x1e, 0xfa};
    const std::vector<Elf64_Shdr> sh = sections();
    int checked = 0;
    for (const auto& [name, sym] : dynamic_symbols()) {
        if (sym.st_shndx == SHN_UNDEF || sym.st_shndx >= sh.size() ||
            ELF64_ST_TYPE(sym.st_info) != STT_FUNC)
            continue;
        const Elf64_Shdr& text = sh[sym.st_shndx];
        const Elf64_Off off = text.sh_offset + (sym.st_value - text.sh_addr);
        EXPECT_EQ(std::memcmp(at<unsigned char>(off), endbr64, 4), 0) << name;
        ++checked;
    }
    EXPECT_GE(checked, 20);  // the entry points, the model functions, the instance API
}

}  // namespace
