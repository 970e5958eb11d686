// The shipped setup program as a file: what it imports and what it carries.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <set>

#include "TestPaths.h"
#include "TestSupport.h"

namespace {

uint32_t U32(const std::string& b, size_t at) {
  if (at + 4 > b.size()) return 0;
  return (uint8_t)b[at] | (uint8_t)b[at + 1] << 8 | (uint8_t)b[at + 2] << 16 |
         (uint32_t)(uint8_t)b[at + 3] << 24;
}
uint16_t U16(const std::string& b, size_t at) {
  return at + 2 > b.size() ? 0 : (uint16_t)((uint8_t)b[at] | (uint8_t)b[at + 1] << 8);
}

struct Pe {
  std::string bytes;
  size_t header = 0;  // "PE\0\0"
  size_t optional = 0;
  size_t sections = 0;
  int sectionCount = 0;

  // File offset of an RVA through the section table; 0 when it is in none.
  size_t Offset(uint32_t rva) const {
    for (int i = 0; i < sectionCount; ++i) {
      size_t s = sections + 40 * i;
      uint32_t va = U32(bytes, s + 12), size = U32(bytes, s + 16), raw = U32(bytes, s + 20);
      if (rva >= va && rva < va + size) return raw + (rva - va);
    }
    return 0;
  }
};

Pe LoadStub() {
  Pe pe;
  pe.bytes = ReadWholeFile(QS_STUB_PATH);
  pe.header = U32(pe.bytes, 0x3C);
  pe.optional = pe.header + 24;
  pe.sectionCount = U16(pe.bytes, pe.header + 6);
  pe.sections = pe.optional + U16(pe.bytes, pe.header + 20);
  return pe;
}

TEST(StubImage, IsAStaticPe32GuiProgramImportingOnlySystemDlls) {
  Pe pe = LoadStub();
  ASSERT_GT(pe.bytes.size(), 1024u) << QS_STUB_PATH;
  ASSERT_EQ("MZ", pe.bytes.substr(0, 2));
  ASSERT_EQ(std::string("PE\0\0", 4), pe.bytes.substr(pe.header, 4));
  EXPECT_EQ(0x14C, U16(pe.bytes, pe.header + 4));    // i386
  EXPECT_EQ(0x10B, U16(pe.bytes, pe.optional));      // PE32
  EXPECT_EQ(2, U16(pe.bytes, pe.optional + 68));     // Windows GUI

  // data directory 1: the import table
  uint32_t importRva = U32(pe.bytes, pe.optional + 96 + 8);
  size_t at = pe.Offset(importRva);
  ASSERT_NE(0u, at);
  const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll",
                                         "shell32.dll", "ole32.dll", "oleaut32.dll", "comdlg32.dll",
                                         "shlwapi.dll", "msvcrt.dll", "comctl32.dll"};
  std::vector<std::string> imported;
  for (;; at += 20) {
    ASSERT_LE(at + 20, pe.bytes.size()) << "import directory runs off the file";
    uint32_t nameRva = U32(pe.bytes, at + 12);
    if (!nameRva) break;
    size_t name = pe.Offset(nameRva);
    ASSERT_NE(0u, name);
    ASSERT_LT(name, pe.bytes.size());
    std::string dll = pe.bytes.c_str() + name;
    std::transform(dll.begin(), dll.end(), dll.begin(), ::tolower);
    imported.push_back(dll);
  }
  EXPECT_FALSE(imported.empty());
  for (const std::string& dll : imported) EXPECT_TRUE(allowed.count(dll)) << "imports " << dll;
}

TEST(StubImage, CarriesManifestStringsAndIcons) {
  HMODULE m = LoadLibraryExA(QS_STUB_PATH, NULL, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(m != NULL);
  HRSRC r = FindResourceA(m, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_TRUE(r != NULL);
  std::string manifest((const char*)LockResource(LoadResource(m, r)), SizeofResource(m, r));
  EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\""));
  EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
  EXPECT_NE(std::string::npos, manifest.find(">true</dpiAware>"));
  EXPECT_NE(std::string::npos, manifest.find("supportedOS"));

  char text[100];
  ASSERT_GT(LoadStringA(m, 103, text, sizeof text), 0);
  EXPECT_STREQ("Quillset", text);
  ASSERT_GT(LoadStringA(m, 109, text, sizeof text), 0);
  EXPECT_STREQ("QUILLSETDEPLOYER", text);
  ASSERT_GT(LoadStringA(m, 111, text, sizeof text), 0);
  EXPECT_STREQ("Please insert disk %d.", text);
  EXPECT_TRUE(FindResourceA(m, MAKEINTRESOURCEA(107), MAKEINTRESOURCEA(14)) != NULL);  // RT_GROUP_ICON
  EXPECT_TRUE(FindResourceA(m, MAKEINTRESOURCEA(108), MAKEINTRESOURCEA(14)) != NULL);
  FreeLibrary(m);
}

}  // namespace
