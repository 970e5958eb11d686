// [Global] SetupIcon, Publisher and Version on the setup file: read back
// from the built file by the command's own resource reader, which is first
// held against the setup programs as windres and the linker made them.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include "CliSupport.h"
#include "cli/Resources.h"
#include "efs/PeImage.h"

namespace {

struct Stub {
  const char* Arch;
  const char* Path;
};
const Stub kStubs[] = {{"x86", QS_STUB32_FILE}, {"x64", QS_STUB64_FILE}};

void Add16(Bytes& s, uint16_t v) { s += (char)(v & 0xFF), s += (char)(v >> 8); }
void Add32(Bytes& s, uint32_t v) { Add16(s, (uint16_t)v), Add16(s, (uint16_t)(v >> 16)); }

// A bitmap image of an icon: 32 bits a pixel and its mask.
Bytes BitmapImage(int side) {
  Bytes b;
  Add32(b, 40), Add32(b, side), Add32(b, 2 * side), Add16(b, 1), Add16(b, 32);
  b.append(24, '\0');
  b += Bytes(side * side * 4, (char)side) + Bytes((side + 31) / 32 * 4 * side, '\0');
  return b;
}

// An .ico of the images, each entry with its side (0 for 256).
Bytes IconFile(const std::vector<std::pair<int, Bytes>>& images) {
  Bytes f;
  Add16(f, 0), Add16(f, 1), Add16(f, (uint16_t)images.size());
  uint32_t offset = 6 + 16 * (uint32_t)images.size();
  for (const auto& i : images) {
    f += (char)(i.first % 256), f += (char)(i.first % 256), f += '\0', f += '\0';
    Add16(f, 1), Add16(f, 32), Add32(f, (uint32_t)i.second.size()), Add32(f, offset);
    offset += (uint32_t)i.second.size();
  }
  for (const auto& i : images) f += i.second;
  return f;
}

const Resource* Find(const std::vector<Resource>& list, uint16_t type, uint16_t name) {
  for (const Resource& r : list)
    if (r.Type.Number == type && r.Name.Number == name) return &r;
  return nullptr;
}

std::vector<Resource> ResourcesOf(const std::string& path) {
  std::vector<Resource> list;
  EXPECT_EQ("", ReadResources(ReadWholeFile(path), &list)) << path;
  return list;
}

VersionStrings VersionOf(const std::vector<Resource>& list) {
  VersionStrings v;
  const Resource* r = Find(list, RESOURCE_VERSION, 1);
  EXPECT_TRUE(r != nullptr);
  if (r) {
    EXPECT_EQ("", ReadVersionStrings(r->Data, &v));
  }
  return v;
}

// The group's entries: (side, icon id).
std::vector<std::pair<int, int>> GroupEntries(const Resource* group) {
  std::vector<std::pair<int, int>> entries;
  if (!group || group->Data.size() < 6) return entries;
  const unsigned char* d = (const unsigned char*)group->Data.data();
  for (int i = 0; i < (d[4] | d[5] << 8) && 6 + 14 * (size_t)(i + 1) <= group->Data.size(); ++i) {
    const unsigned char* e = d + 6 + 14 * i;
    entries.push_back({e[0] ? e[0] : 256, e[12] | e[13] << 8});
  }
  return entries;
}

class Brand : public ::testing::TestWithParam<Stub> {
 protected:
  void SetUp() override {
    if (!Exists(GetParam().Path)) GTEST_SKIP() << "not built: " << GetParam().Path;
    stub = ReadWholeFile(GetParam().Path);
  }
  RunResult Build(const std::string& global, const std::string& out) {
    project.Write("QSP40\n[Global]\nApplicationName = Brand App\n" + global + "[Files]\nfile.txt, %MAINDIR%file.txt\n");
    WriteWholeFile(dir.File("file.txt"), "payload");
    return RunQuillset({"build", "-q", "--arch", GetParam().Arch, "--stub", GetParam().Path, "-o", out, project.Path()});
  }
  TempDir dir;
  Project project{dir};
  Bytes stub;
};

TEST_P(Brand, TheSetupProgramReadsAsItsRcFileListsItAndWritesBackAsItWas) {
  std::vector<Resource> list = ResourcesOf(GetParam().Path);
  for (uint16_t dialog : {103, 137, 138, 139}) EXPECT_TRUE(Find(list, 5, dialog)) << "dialog " << dialog;
  EXPECT_TRUE(Find(list, 24, 1)) << "the manifest";
  EXPECT_EQ(1u, GroupEntries(Find(list, RESOURCE_GROUP_ICON, 108)).size()) << "the small icon is one image";
  EXPECT_EQ(std::make_pair(16, 2), GroupEntries(Find(list, RESOURCE_GROUP_ICON, 108)).at(0));
  const VersionStrings v = VersionOf(list);
  EXPECT_EQ("Quillset setup program", v.Get("FileDescription"));
  EXPECT_EQ("Quillset", v.Get("ProductName"));
  EXPECT_EQ("0.1.0", v.Get("FileVersion"));
  EXPECT_EQ(1, v.FileVersion[1]);

  // rebuilt from what was read and a resource that makes the section
  // grow past its pages: the same resources, a sound program
  Resource big;
  big.Type.Name = u"BIG", big.Name.Number = 1, big.Language = 0x409, big.Data = RandomBytes(20000, 3);
  list.push_back(big);
  Bytes copy = stub;
  ASSERT_EQ("", ReplaceResources(&copy, list));
  std::vector<Resource> again;
  ASSERT_EQ("", ReadResources(copy, &again));
  ASSERT_EQ(list.size(), again.size());
  for (size_t i = 0; i < list.size(); ++i) {
    const Resource* same = nullptr;
    for (const Resource& r : again)
      if (r.Type == list[i].Type && r.Name == list[i].Name) same = &r;
    ASSERT_TRUE(same) << list[i].Type.Number << "/" << list[i].Name.Number;
    EXPECT_TRUE(same->Data == list[i].Data && same->Language == list[i].Language);
  }
  PeHeaders h;
  ASSERT_TRUE(ReadPeHeaders((const unsigned char*)copy.data(), copy.size(), &h));
  EXPECT_EQ(copy.size(), PeSectionsEnd((const unsigned char*)copy.data(), copy.size(), h));
  // the relocations moved with their section, the headers telling where
  PeHeaders before;
  ASSERT_TRUE(ReadPeHeaders((const unsigned char*)stub.data(), stub.size(), &before));
  const PeDirectory &moved = h.Directories[5], &was = before.Directories[5];
  ASSERT_EQ(was.Size, moved.Size);
  const uint32_t from = PeFileOffset((const unsigned char*)stub.data(), stub.size(), before, was.Address),
                 to = PeFileOffset((const unsigned char*)copy.data(), copy.size(), h, moved.Address);
  ASSERT_TRUE(from && to);
  EXPECT_LT(was.Address, moved.Address);
  EXPECT_TRUE(copy.compare(to, moved.Size, stub, from, was.Size) == 0);
  uint32_t sizeOfImage;
  memcpy(&sizeOfImage, &copy[h.OptionalOffset + 56], 4);
  EXPECT_EQ(0u, sizeOfImage % 0x1000);
  EXPECT_GE(sizeOfImage, moved.Address + moved.Size);
  uint32_t checksum, linkers;
  memcpy(&checksum, &copy[h.OptionalOffset + 64], 4);
  memcpy(&linkers, &stub[h.OptionalOffset + 64], 4);
  EXPECT_EQ(PeChecksum((const unsigned char*)stub.data(), stub.size(), h.OptionalOffset + 64), linkers)
      << "the checksum as the linker computes it";
  EXPECT_EQ(PeChecksum((const unsigned char*)copy.data(), copy.size(), h.OptionalOffset + 64), checksum);
}

TEST_P(Brand, SetupIconPublisherAndVersionNameTheVendorAndLeaveTheRestAsItWas) {
  const Bytes small = BitmapImage(16), large = BitmapImage(32), png = "\x89PNG\r\n\x1a\n" + Bytes(60, 'p');
  WriteWholeFile(dir.File("art/app.ico"), IconFile({{32, large}, {16, small}, {256, png}}));
  const std::string out = dir.File("Setup.exe");
  RunResult r = Build("Publisher = Ünïcode Söftware\nVersion = 3.2.1.7-rc\nSetupIcon = art\\app.ico\n", out);
  ASSERT_EQ(0, r.Code) << r.Err;
  const std::vector<Resource> list = ResourcesOf(out), before = ResourcesOf(GetParam().Path);
  EXPECT_TRUE(Find(list, RESOURCE_ICON, 1)->Data == large);
  EXPECT_TRUE(Find(list, RESOURCE_ICON, 2)->Data == small);
  EXPECT_TRUE(Find(list, RESOURCE_ICON, 3)->Data == png);
  EXPECT_EQ((std::vector<std::pair<int, int>>{{32, 1}, {16, 2}, {256, 3}}),
            GroupEntries(Find(list, RESOURCE_GROUP_ICON, 107)));
  EXPECT_EQ((std::vector<std::pair<int, int>>{{16, 2}}), GroupEntries(Find(list, RESOURCE_GROUP_ICON, 108)));
  const VersionStrings v = VersionOf(list);
  EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"CompanyName", "Ünïcode Söftware"},
                                                              {"FileDescription", "Setup"},
                                                              {"ProductName", "Brand App"},
                                                              {"FileVersion", "3.2.1.7-rc"},
                                                              {"ProductVersion", "3.2.1.7-rc"}}),
            v.Values);
  EXPECT_EQ(7, v.FileVersion[3]);
  EXPECT_EQ(3, v.ProductVersion[0]);
  // dialogs, strings, picture, manifest: as the program had them
  size_t kept = 0;
  for (const Resource& b : before) {
    if (b.Type.Number == RESOURCE_ICON || b.Type.Number == RESOURCE_GROUP_ICON || b.Type.Number == RESOURCE_VERSION)
      continue;
    const Resource* a = Find(list, b.Type.Number, b.Name.Number);
    EXPECT_TRUE(a && a->Data == b.Data) << b.Type.Number << "/" << b.Name.Number;
    ++kept;
  }
  EXPECT_LT(5u, kept);
  RunResult verify = RunQuillset({"verify", out});
  EXPECT_EQ(0, verify.Code) << verify.Out << verify.Err;
  EXPECT_EQ(0, RunQuillset({"extract", "-q", "-d", dir.File("x"), out, "file.txt"}).Code);

  // a missing key keeps what the program had
  ASSERT_EQ(0, Build("Publisher = Only Publisher\n", out).Code);
  const std::vector<Resource> publisher = ResourcesOf(out);
  EXPECT_TRUE(Find(publisher, RESOURCE_GROUP_ICON, 107)->Data == Find(before, RESOURCE_GROUP_ICON, 107)->Data);
  EXPECT_TRUE(Find(publisher, RESOURCE_ICON, 2)->Data == Find(before, RESOURCE_ICON, 2)->Data);
  EXPECT_EQ("Only Publisher", VersionOf(publisher).Get("CompanyName"));
  EXPECT_EQ("0.1.0", VersionOf(publisher).Get("FileVersion"));
  EXPECT_EQ("Setup", VersionOf(publisher).Get("FileDescription"));
  // numbers past what the file's version holds: a warning, and the most it holds
  r = Build("Version = 70000.1\n", out);
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_NE(std::string::npos, r.Err.find(":4: warning: Version 70000.1: the setup file's properties take numbers up to "
                                          "65535, and show 65535.1.0.0"))
      << r.Err;
  EXPECT_EQ(65535, VersionOf(ResourcesOf(out)).FileVersion[0]);
  // none of them: the program as it was built, byte for byte
  ASSERT_EQ(0, Build("", out).Code);
  EXPECT_TRUE(ReadWholeFile(out).compare(0, stub.size(), stub) == 0);
}

INSTANTIATE_TEST_SUITE_P(Stubs, Brand, ::testing::ValuesIn(kStubs),
                         [](const ::testing::TestParamInfo<Stub>& i) { return std::string(i.param.Arch); });

// An icon that cannot be used is refused at its line, naming the file and
// why; nothing is written.
TEST(SetupIcon, AFileThatIsNoUsableIconIsRefusedNamingItAndWhy) {
  TempDir dir;
  Project project(dir);
  const Bytes good = IconFile({{16, BitmapImage(16)}});
  Bytes cursor = good, beyond = good, noImages = good.substr(0, 6), garbage = good;
  cursor[2] = 2;
  beyond[6 + 8] = (char)0xF0;  // the image's size
  noImages[4] = 0;
  garbage[22] = 'x';  // the bitmap's header size
  mkdir(dir.File("folder.ico").c_str(), 0755);
  struct Case {
    const char* Line;
    Bytes Content;  // written to app.ico unless empty with Exists
    std::string Said;
  } cases[] = {
      {"SetupIcon = missing.ico", "", "SetupIcon: cannot read " + dir.File("missing.ico") + ": No such file or directory"},
      {"SetupIcon = folder.ico", "", "SetupIcon: cannot read " + dir.File("folder.ico") + ": Is a directory"},
      {"SetupIcon = app.ico", "", "SetupIcon " + dir.File("app.ico") + ": the file is empty"},
      {"SetupIcon = app.ico", "\x89PNG\r\n\x1a\n....", "SetupIcon " + dir.File("app.ico") + ": it is not an icon file (.ico)"},
      {"SetupIcon = app.ico", cursor, "it is a cursor, not an icon"},
      {"SetupIcon = app.ico", noImages, "it holds no image"},
      {"SetupIcon = app.ico", good.substr(0, 12), "it is cut short: its list of images ends early"},
      {"SetupIcon = app.ico", beyond, "image 1 of 1 lies beyond the end of the file (cut short?)"},
      {"SetupIcon = app.ico", garbage, "image 1 of 1 is neither a bitmap nor a PNG image"},
      {"SetupIcon =", "", "SetupIcon is empty: leave it out, or name an .ico file"},
      {"SetupIcn = app.ico", good, "did you mean `SetupIcon`?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Line);
    WriteWholeFile(dir.File("app.ico"), c.Content);
    project.Write(std::string("QSP40\n[Global]\nApplicationName = A\n") + c.Line + "\n");
    RunResult r = project.Build(dir.File("Setup.exe"));
    EXPECT_EQ(1, r.Code);
    EXPECT_NE(std::string::npos, r.Err.find("app.qsp:4: ")) << r.Err;
    EXPECT_NE(std::string::npos, r.Err.find(c.Said)) << r.Err;
    EXPECT_FALSE(Exists(dir.File("Setup.exe")));
  }
  // a sound icon on something that is no setup program
  WriteWholeFile(dir.File("app.ico"), good);
  project.Write("QSP40\n[Global]\nApplicationName = A\nSetupIcon = app.ico\n");
  RunResult r = project.Build(dir.File("Setup.exe"));
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("cannot carry SetupIcon, Publisher and Version: it is not a Windows program"))
      << r.Err;
  for (const std::string& name : dir.List()) EXPECT_EQ(std::string::npos, name.find("Setup.exe")) << name;
}

}  // namespace
