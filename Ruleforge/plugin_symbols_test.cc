// The plug-in's dynamic symbol table, read from the ELF file itself.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace kst {
namespace {

// Names of the symbols the file defines for other modules (global or weak,
// with a section); empty when the file is no 64-bit ELF file.
std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::set<std::string> names;
  if (bytes.size() < sizeof(Elf64_Ehdr) || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0) return names;
  Elf64_Ehdr header;
  std::memcpy(&header, bytes.data(), sizeof header);
  auto section = [&](size_t i) {
    Elf64_Shdr s;
    std::memcpy(&s, bytes.data() + header.e_shoff + i * header.e_shentsize, sizeof s);
    return s;
  };
  for (size_t i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr symbols = section(i);
    if (symbols.sh_type != SHT_DYNSYM) continue;
    Elf64_Shdr strings = section(symbols.sh_link);
    for (size_t off = 0; off + sizeof(Elf64_Sym) <= symbols.sh_size; off += sizeof(Elf64_Sym)) {
      Elf64_Sym sym;
      std::memcpy(&sym, bytes.data() + symbols.sh_offset + off, sizeof sym);
      const int binding = ELF64_ST_BIND(sym.st_info);
      if (sym.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK)) continue;
      names.insert(bytes.data() + strings.sh_offset + sym.st_name);
    }
  }
  return names;
}

TEST(PluginSymbolsTest, ExportsExactlyItsEightFunctions) {
  const char* bin = std::getenv("KST_BIN_DIR");
  ASSERT_NE(bin, nullptr) << "KST_BIN_DIR names the folder of Discovery.so";
  const std::set<std::string> expected = {"check",         "getLogRequiredCountersTitles", "getModuleDefaultParameters",
                                          "getModuleInfo", "getModuleTitle",               "getParametersProfiles",
                                          "install",       "tune"};
  EXPECT_EQ(DefinedDynamicSymbols(std::string(bin) + "/Discovery.so"), expected);
}

}  // namespace
}  // namespace kst
