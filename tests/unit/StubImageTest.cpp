// The built setup programs as files, both architectures, read without Wine:
// so these checks hold on a host that cannot run one of them.
#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "efs/EntryCodec.h"
#include "efs/PeImage.h"
#include "efs/SetupLayout.h"

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes ReadAll(const char* path) {
  Bytes b;
  FILE* f = fopen(path, "rb");
  if (!f) return b;
  unsigned char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) b.insert(b.end(), chunk, chunk + n);
  fclose(f);
  return b;
}

uint32_t U32(const Bytes& b, size_t at) {
  if (at + 4 > b.size()) return 0;
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}
uint16_t U16(const Bytes& b, size_t at) { return at + 2 > b.size() ? 0 : (uint16_t)(b[at] | b[at + 1] << 8); }

struct Stub {
  const char* Name;
  const char* Path;
  PeArch Arch;
  uint16_t Magic;
  const char* ManifestArch;
  size_t Budget;  // bytes; the goal is smaller, this only stops growth
};

const Stub kStubs[] = {
    // each with the LZMA decoder, the solid container's reader and its
    // decoding thread, the code-page conversions of older Windows and the
    // language dialog, the writing of an uninstaller signed in advance, the
    // progress window of /PASSIVE, the join and uninstall windows as front
    // ends, the per-user installation's folder and scope, the elevated run
    // and the scope question, programs in use, the pages of components and
    // tasks, a licence file and the author's side picture, the application
    // launched as the user; built without exceptions, and started by an entry
    // point of its own instead of the C run time's
    {"x86", QS_STUB32_FILE, PE_ARCH_X86, PE_MAGIC_PE32, "x86", 162 * 1024},
    {"x64", QS_STUB64_FILE, PE_ARCH_X64, PE_MAGIC_PE32PLUS, "amd64", 154 * 1024 + 512},
};

class StubImage : public ::testing::TestWithParam<Stub> {
 protected:
  void SetUp() override {
    bytes = ReadAll(GetParam().Path);
    if (bytes.empty()) GTEST_SKIP() << "not built: " << GetParam().Path;
    ASSERT_TRUE(ReadPeHeaders(bytes.data(), bytes.size(), &pe)) << GetParam().Path;
  }
  // File offset of an RVA; fails the test when no section holds it.
  size_t At(uint32_t rva) {
    uint32_t at = PeFileOffset(bytes.data(), bytes.size(), pe, rva);
    EXPECT_NE(0u, at) << "RVA " << rva << " is in no section";
    return at;
  }
  // The data of resource type/id (first language) as text.
  std::string Resource(uint32_t type, uint32_t id) {
    const PeDirectory& d = pe.Directories[PE_DIRECTORY_RESOURCE];
    size_t root = At(d.Address);
    if (!root) return "";
    size_t node = root;
    for (uint32_t want : {type, id, 0u}) {
      uint16_t named = U16(bytes, node + 12), ids = U16(bytes, node + 14);
      size_t entry = node + 16, found = 0;
      for (int i = 0; i < named + ids; ++i, entry += 8) {
        uint32_t name = U32(bytes, entry);
        if (want == 0 ? i == named : (!(name & 0x80000000u) && name == want)) {
          found = entry;
          break;
        }
      }
      if (!found) return "";
      uint32_t to = U32(bytes, found + 4);
      node = root + (to & 0x7FFFFFFFu);
      if (!(to & 0x80000000u)) break;  // a data entry
    }
    size_t data = At(U32(bytes, node));
    uint32_t size = U32(bytes, node + 4);
    if (!data || data + size > bytes.size()) return "";
    return std::string(bytes.begin() + data, bytes.begin() + data + size);
  }
  Bytes bytes;
  PeHeaders pe;
};

TEST_P(StubImage, IsAGuiProgramOfItsArchitectureImportingOnlySystemDlls) {
  const Stub& s = GetParam();
  EXPECT_EQ(s.Arch, PeArchOf(pe));
  EXPECT_EQ(s.Magic, pe.Magic);
  EXPECT_EQ(PE_SUBSYSTEM_GUI, pe.Subsystem);
  EXPECT_LE(bytes.size(), s.Budget) << s.Name << " setup program grew past its budget";
  // a freshly built program is unsigned; the uninstaller copies these bytes
  EXPECT_EQ(0u, pe.Directories[PE_DIRECTORY_SECURITY].Size);

  const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll",
                                         "shell32.dll", "ole32.dll", "oleaut32.dll", "comdlg32.dll",
                                         "shlwapi.dll", "msvcrt.dll", "comctl32.dll"};
  size_t at = At(pe.Directories[PE_DIRECTORY_IMPORT].Address);
  ASSERT_NE(0u, at);
  std::vector<std::string> imported;
  for (;; at += 20) {
    ASSERT_LE(at + 20, bytes.size()) << "import directory runs off the file";
    uint32_t nameRva = U32(bytes, at + 12);
    if (!nameRva) break;
    size_t name = At(nameRva);
    ASSERT_NE(0u, name);
    std::string dll;
    for (; name < bytes.size() && bytes[name]; ++name) dll += (char)tolower(bytes[name]);
    imported.push_back(dll);
  }
  EXPECT_FALSE(imported.empty());
  for (const std::string& dll : imported) EXPECT_TRUE(allowed.count(dll)) << s.Name << " imports " << dll;
}

class BytesReader : public IEfsFileReader {
 public:
  explicit BytesReader(const Bytes& b) : m_Bytes(b) {}
  int ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) override {
    if (offset + n > m_Bytes.size()) return 0;
    std::copy(m_Bytes.begin() + offset, m_Bytes.begin() + offset + n, buffer);
    return 1;
  }

 private:
  const Bytes& m_Bytes;
};

// A split setup's first slice is this program alone; bytes behind what its
// headers account for would make it look like a download cut short.
TEST_P(StubImage, EndsWhereItsHeadersSayItEnds) {
  BytesReader reader(bytes);
  SetupLayout layout;
  ASSERT_TRUE(ReadSetupLayout(reader, bytes.size(), &layout));
  EXPECT_EQ(bytes.size(), layout.ProgramEnd);
  EXPECT_EQ(SETUP_TAIL_NONE, layout.Tail);
  EXPECT_EQ(0, layout.Damaged);
}

// Windows refuses to start a program whose manifest names another
// architecture (a side-by-side error); Wine starts it anyway.
TEST_P(StubImage, ManifestNamesItsOwnArchitectureForItselfAndCommonControls) {
  std::string manifest = Resource(24, 1);  // RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID
  ASSERT_FALSE(manifest.empty()) << "no manifest resource in " << GetParam().Path;
  const std::string key = "processorArchitecture=\"";
  int seen = 0;
  for (size_t at = manifest.find(key); at != std::string::npos; at = manifest.find(key, at + 1)) {
    size_t end = manifest.find('"', at + key.size());
    ASSERT_NE(std::string::npos, end);
    EXPECT_EQ(GetParam().ManifestArch, manifest.substr(at + key.size(), end - at - key.size()));
    ++seen;
  }
  EXPECT_EQ(2, seen) << "the program and its common-controls dependency";
  EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\""));
  // no rights asked: a per-user setup needs none, and one for all users asks for them itself
  EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
  EXPECT_EQ(std::string::npos, manifest.find("requireAdministrator"));
  EXPECT_EQ(std::string::npos, manifest.find("highestAvailable"));
  // every byte string of the program is UTF-8 where Windows honours this
  EXPECT_NE(std::string::npos, manifest.find(">UTF-8</activeCodePage>"));
}

// Icon groups name their images by id: a group whose entry names a missing
// image, or one of another size, leaves the window without its icon. The
// small icon's group shares the large group's 16x16 image.
TEST_P(StubImage, IconGroupsNameImagesThatAreThere) {
  struct Image {
    unsigned Width, Height, Bits;
    uint16_t Id;
  };
  auto group = [&](uint32_t id) {
    std::vector<Image> images;
    std::string g = Resource(14, id);  // RT_GROUP_ICON
    Bytes b(g.begin(), g.end());
    EXPECT_GE(b.size(), 6u) << "no icon group " << id;
    if (b.size() < 6) return images;
    EXPECT_EQ(1, U16(b, 2)) << "group " << id << " is not of icons";
    for (unsigned i = 0; i < U16(b, 4); ++i) {
      size_t at = 6 + 14 * i;
      EXPECT_LE(at + 14, b.size()) << "group " << id << " runs off its data";
      if (at + 14 > b.size()) break;
      Image m = {b[at], b[at + 1], U16(b, at + 6), U16(b, at + 12)};
      std::string icon = Resource(3, m.Id);  // RT_ICON
      EXPECT_EQ(U32(b, at + 8), icon.size()) << "group " << id << " names icon " << m.Id;
      Bytes header(icon.begin(), icon.end());
      // a DIB: its height counts the colour and the mask rows
      EXPECT_EQ(m.Width, U32(header, 4)) << "icon " << m.Id;
      EXPECT_EQ(m.Height * 2, U32(header, 8)) << "icon " << m.Id;
      EXPECT_EQ(m.Bits, U16(header, 14)) << "icon " << m.Id;
      images.push_back(m);
    }
    return images;
  };
  std::vector<Image> large = group(107), small = group(108);
  ASSERT_EQ(2u, large.size());
  ASSERT_EQ(1u, small.size());
  EXPECT_EQ(16u, small[0].Width);
  EXPECT_EQ(16u, small[0].Height);
  EXPECT_TRUE(small[0].Id == large[0].Id || small[0].Id == large[1].Id) << "a copy of the 16x16 image";
}

// The wizard's picture is stored packed; unpacked it must be the artwork,
// header, colours and pixels, byte for byte.
TEST_P(StubImage, SidePictureUnpacksToTheArtwork) {
  std::string packed = Resource(10, 132);  // RT_RCDATA
  ASSERT_GT(packed.size(), 4u) << "no side picture in " << GetParam().Path;
  Bytes artwork = ReadAll(QS_SOURCE_DIR "/resources/Wizard.bmp");
  ASSERT_GT(artwork.size(), 54u);
  const Bytes dib(artwork.begin() + 14, artwork.end());
  const unsigned char* p = reinterpret_cast<const unsigned char*>(packed.data());
  ASSERT_EQ(dib.size(), U32(Bytes(p, p + 4), 0));
  Bytes unpacked(dib.size());
  ASSERT_EQ(1, EfsInflateWhole(p + 4, (uint32_t)packed.size() - 4, unpacked.data(), (uint32_t)unpacked.size()));
  EXPECT_TRUE(unpacked == dib);
  EXPECT_LT(packed.size(), dib.size() / 4) << "stored as it is, not packed";
  // one byte less room than the picture needs is refused, not overrun
  EXPECT_EQ(0, EfsInflateWhole(p + 4, (uint32_t)packed.size() - 4, unpacked.data(), (uint32_t)unpacked.size() - 1));
}

INSTANTIATE_TEST_SUITE_P(Built, StubImage, ::testing::ValuesIn(kStubs),
                         [](const ::testing::TestParamInfo<Stub>& i) { return std::string(i.param.Name); });

// Headers as a hostile file may bring them: each case must be refused
// without reading past the bytes.
TEST(PeImage, HeadersAreReadWithinTheBytesOrRefused) {
  Bytes good(1024, 0);
  good[0] = 'M';
  good[1] = 'Z';
  good[0x3C] = 0x80;
  const unsigned char sig[] = {'P', 'E', 0, 0};
  std::copy(sig, sig + 4, good.begin() + 0x80);
  auto put16 = [](Bytes& b, size_t at, uint16_t v) { b[at] = (unsigned char)v; b[at + 1] = (unsigned char)(v >> 8); };
  auto put32 = [&](Bytes& b, size_t at, uint32_t v) { put16(b, at, (uint16_t)v); put16(b, at + 2, (uint16_t)(v >> 16)); };
  put16(good, 0x84, PE_MACHINE_AMD64);
  put16(good, 0x86, 1);           // one section
  put16(good, 0x94, 240);         // PE32+ optional header with 16 directories
  put16(good, 0x98, PE_MAGIC_PE32PLUS);
  put16(good, 0x98 + 68, PE_SUBSYSTEM_GUI);
  put32(good, 0x98 + 108, 16);
  put32(good, 0x98 + 112 + 8 * PE_DIRECTORY_SECURITY, 0x5000);
  put32(good, 0x98 + 112 + 8 * PE_DIRECTORY_SECURITY + 4, 0x200);
  size_t section = 0x98 + 240;
  put32(good, section + 8, 0x100);   // virtual size
  put32(good, section + 12, 0x1000); // RVA
  put32(good, section + 16, 0x80);   // raw size
  put32(good, section + 20, 0x300);  // raw offset

  PeHeaders h;
  ASSERT_TRUE(ReadPeHeaders(good.data(), good.size(), &h));
  EXPECT_EQ(PE_ARCH_X64, PeArchOf(h));
  EXPECT_STREQ("x64", PeArchName(PeArchOf(h)));
  EXPECT_EQ(0x5000u, h.Directories[PE_DIRECTORY_SECURITY].Address);
  EXPECT_EQ(0x200u, h.Directories[PE_DIRECTORY_SECURITY].Size);
  EXPECT_EQ(0x310u, PeFileOffset(good.data(), good.size(), h, 0x1010));
  EXPECT_EQ(0u, PeFileOffset(good.data(), good.size(), h, 0x1090));  // zero-filled tail, not in the file
  EXPECT_EQ(0u, PeFileOffset(good.data(), good.size(), h, 0x2000));

  Bytes b = good;
  put16(b, 0x84, PE_MACHINE_I386);  // i386 with a PE32+ header is no program we know
  ASSERT_TRUE(ReadPeHeaders(b.data(), b.size(), &h));
  EXPECT_EQ(PE_ARCH_UNKNOWN, PeArchOf(h));

  struct Case { const char* what; size_t at; uint32_t value; int width; size_t size; } cases[] = {
      {"no MZ", 0, 'X', 1, 1024},
      {"PE header offset past the bytes", 0x3C, 0x2000, 4, 1024},
      {"PE header offset past the bound", 0x3C, 0x7FFFFFF0, 4, 1024},
      {"no PE signature", 0x81, 'X', 1, 1024},
      {"unknown optional-header magic", 0x98, 0x999, 2, 1024},
      {"optional header past the bytes", 0x94, 0xF000, 2, 1024},
      {"more directories than the header holds", 0x98 + 108, 17, 4, 1024},
      {"directory count that would wrap", 0x98 + 108, 0xFFFFFFFF, 4, 1024},
      {"sections past the bytes", 0x86, 0xFFFF, 2, 1024},
      {"cut inside the headers", 0, 'M', 1, 0x100},
      {"cut before e_lfanew", 0, 'M', 1, 0x30},
  };
  for (const Case& c : cases) {
    Bytes bad = good;
    if (c.width == 1) bad[c.at] = (unsigned char)c.value;
    else if (c.width == 2) put16(bad, c.at, (uint16_t)c.value);
    else put32(bad, c.at, c.value);
    bad.resize(c.size);
    Bytes exact(bad);  // the reader gets exactly these bytes, so ASan sees an overrun
    EXPECT_FALSE(ReadPeHeaders(exact.data(), exact.size(), &h)) << c.what;
  }
}

}  // namespace
