// The shared library exports exactly the dalo_* functions its header declares.
#include "support/suite.hpp"

#include <elf.h>

#include <fstream>
#include <iterator>
#include <regex>

namespace {

std::vector<char> read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

// Names of the defined global and weak symbols in the dynamic symbol table of an ELF64 file.
std::set<std::string> exported_symbols(const std::vector<char>& file) {
    std::set<std::string> out;
    if (file.size() < sizeof(Elf64_Ehdr)) return out;
    Elf64_Ehdr eh;
    std::memcpy(&eh, file.data(), sizeof eh);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64)
        return out;
    std::vector<Elf64_Shdr> sections(eh.e_shnum);
    std::memcpy(sections.data(), file.data() + eh.e_shoff, eh.e_shnum * sizeof(Elf64_Shdr));
    for (const Elf64_Shdr& sh : sections) {
        if (sh.sh_type != SHT_DYNSYM) continue;
        const Elf64_Shdr& strtab = sections[sh.sh_link];
        const char* names = file.data() + strtab.sh_offset;
        for (uint64_t off = 0; off + sizeof(Elf64_Sym) <= sh.sh_size; off += sizeof(Elf64_Sym)) {
            Elf64_Sym sym;
            std::memcpy(&sym, file.data() + sh.sh_offset + off, sizeof sym);
            unsigned bind = ELF64_ST_BIND(sym.st_info);
            if (sym.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK)) continue;
            out.insert(names + sym.st_name);
        }
    }
    return out;
}

std::set<std::string> declared_functions() {
    const std::vector<char> header = read_file(DALO_HEADER_PATH);
    const std::regex decl(R"(DALO_API[^;(]*\b(dalo_\w+)\s*\()");
    std::set<std::string> out;
    for (std::cregex_iterator it(header.data(), header.data() + header.size(), decl), end;
         it != end; ++it)
        out.insert((*it)[1]);
    return out;
}

TEST(Symbols, EveryDeclaredFunctionIsExportedAndNothingElse) {
    std::set<std::string> declared = declared_functions();
    std::set<std::string> symbols = exported_symbols(read_file(DALO_LIBRARY_PATH));
    ASSERT_GT(declared.size(), 80u);
    for (const std::string& d : declared) EXPECT_TRUE(symbols.count(d)) << "not exported: " << d;
    for (const std::string& s : symbols) EXPECT_TRUE(declared.count(s)) << "not declared: " << s;
}

}  // namespace
