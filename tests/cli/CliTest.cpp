// quillset build, list, verify and extract on a project that uses every
// section; the command line itself (help, version, usage errors, progress).
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "CliSupport.h"
#include "efs/EfsFormat.h"

namespace {

const char kEverySection[] =
    "QSP40\n"
    "[Global]\n"
    "ApplicationName = Example App\n"
    "DefaultDir = %PROGRAMFILES%Example App\n"
    "AllowChangeInstallDir = TRUE\n"
    "ShowEULAPage = FALSE\n"
    "[Background]\n"
    "UseBackground = TRUE\n"
    "TopColor = FF0000\n"
    "BottomColor = 000000\n"
    "Bitmap = art\\back.bmp\n"
    "BitmapPlacement = CENTER\n"
    "Metafile = art/logo.wmf\n"
    "[Files]\n"
    "payload\\app.exe, %MAINDIR%app.exe\n"
    "payload/readme.txt, %MAINDIR%docs\\README.TXT\n"
    "payload/readme.txt, %DESKTOP%Readme.TXT\n"
    "payload\\Example App.ini, %MAINDIR%%APPNAME%.ini\n"
    "[Shortcuts]\n"
    "%PROGRAMS%%APPNAME%\\%APPNAME%.lnk,%MAINDIR%app.exe,,%MAINDIR%,Example,%MAINDIR%app.exe,0\n"
    "[INIFiles]\n"
    "%MAINDIR%app.ini,Settings,Language,English\n"
    "[SysRegUninstall]\n"
    "HKEY_LOCAL_MACHINE/Software/Example App\n"
    "[SysRegInt]\n"
    "HKEY_LOCAL_MACHINE/Software/Example App/Runs=0\n"
    "[SysRegString]\n"
    "HKEY_LOCAL_MACHINE/Software/Example App/Path=%MAINDIR%\n"
    "[RegisterDlls]\n"
    "%MAINDIR%app.exe\n"
    "[Execute]\n"
    "\"%MAINDIR%app.exe\" /firstrun\n";

struct Entry {
  std::string Name;
  uint64_t Offset, Stored;
  uint32_t Crc;
};

std::vector<Entry> Directory(const Bytes& file) {
  EFSTRAILER t;
  EfsDecodeTrailer((const unsigned char*)file.data() + file.size() - 24, &t);
  Bytes dir = file.substr(file.size() - t.DirectorySize);
  std::vector<EfsEntry> e(t.Count);
  EXPECT_EQ(EFS_PARSE_OK, EfsParseDirectory((const unsigned char*)dir.data(), t.DirectorySize,
                                            t.Count, file.size(), e.data()));
  std::vector<Entry> out;
  for (const EfsEntry& x : e) out.push_back({x.Name, x.DataOffset, x.StoredSize, x.Crc});
  return out;
}

class EverySection : public ::testing::Test {
 protected:
  void SetUp() override {
    project.Write(kEverySection);
    WriteWholeFile(dir.File("payload/app.exe"), FakeStub(70000) + RandomBytes(50000, 1));
    WriteWholeFile(dir.File("payload/readme.txt"), "Read me.\r\n");
    WriteWholeFile(dir.File("payload/Example App.ini"), "[Settings]\r\n");
    WriteWholeFile(dir.File("art/back.bmp"), "BM" + RandomBytes(3000, 2));
    WriteWholeFile(dir.File("art/logo.wmf"), RandomBytes(500, 3));
    WriteWholeFile(dir.File("Translations.ini"), "[Strings]\nERROR = Fehler\n");
    SetMTimeNs(dir.File("payload/readme.txt"), 1600000000123456700LL);
  }
  TempDir dir;
  Project project{dir};
};

TEST_F(EverySection, BuildsAndListsExactlyTheExpectedEntries) {
  RunResult r = project.Build(dir.File("out/Setup.exe"));
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ("", r.Out);  // -q
  EXPECT_EQ("", r.Err);

  RunResult list = RunQuillset({"list", dir.File("out/Setup.exe")});
  ASSERT_EQ(0, list.Code) << list.Err;
  EXPECT_NE(std::string::npos, list.Out.find("installer (unknown architecture), setup program 4096 bytes, 7 entries"))
      << list.Out;
  // the name order of the container: A-Z folded, so "Example App.ini" first
  std::vector<std::string> names;
  for (const Entry& e : Directory(ReadWholeFile(dir.File("out/Setup.exe")))) names.push_back(e.Name);
  EXPECT_EQ((std::vector<std::string>{"app.exe", "back.bmp", "default.qsp", "Example App.ini",
                                      "logo.wmf", "readme.txt", "Translations.ini"}),
            names);
  for (const std::string& n : names) EXPECT_NE(std::string::npos, list.Out.find(n)) << n;
  // CRC and time columns: the readme's time to the 100 ns
  EXPECT_NE(std::string::npos, list.Out.find("2020-09-13T12:26:40.1234567Z")) << list.Out;

  RunResult verify = RunQuillset({"verify", dir.File("out/Setup.exe")});
  EXPECT_EQ(0, verify.Code) << verify.Err;
  EXPECT_NE(std::string::npos, verify.Out.find("all 7 entries are sound"));
}

TEST_F(EverySection, FlippingOneStoredByteFailsVerifyAndNamesTheEntry) {
  for (const char* mode : {"--store", "-j1"}) {
    std::string setup = dir.File(std::string("Setup") + mode + ".exe");
    ASSERT_EQ(0, project.Build(setup, {mode}).Code);
    Bytes file = ReadWholeFile(setup);
    for (const Entry& e : Directory(file))
      if (e.Name == "readme.txt" || e.Name == "back.bmp") file[e.Offset + e.Stored / 2] ^= 0x20;
    WriteWholeFile(setup, file);
    RunResult r = RunQuillset({"verify", setup});
    EXPECT_EQ(1, r.Code) << mode;
    EXPECT_NE(std::string::npos, r.Err.find(": readme.txt: ")) << mode << r.Err;
    EXPECT_NE(std::string::npos, r.Err.find(": back.bmp: ")) << r.Err;
    EXPECT_EQ(std::string::npos, r.Err.find("app.exe")) << r.Err;
    EXPECT_NE(std::string::npos, r.Err.find("2 of 7 entries are damaged"));
    if (std::string(mode) == "--store") {
      EXPECT_NE(std::string::npos, r.Err.find("CRC mismatch"));
    }
  }
}

TEST_F(EverySection, ExtractWritesContentsAndTimesAndNeverReplacesWithDamage) {
  ASSERT_EQ(0, project.Build(dir.File("Setup.exe")).Code);
  RunResult r = RunQuillset({"extract", dir.File("Setup.exe"), "-d", dir.File("x/y")});
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ(ReadWholeFile(dir.File("payload/app.exe")), ReadWholeFile(dir.File("x/y/app.exe")));
  EXPECT_EQ(ReadWholeFile(dir.File("app.qsp")), ReadWholeFile(dir.File("x/y/default.qsp")));
  EXPECT_EQ(ReadWholeFile(dir.File("Translations.ini")), ReadWholeFile(dir.File("x/y/Translations.ini")));
  EXPECT_EQ(1600000000123456700LL, MTimeNs(dir.File("x/y/readme.txt")));
  EXPECT_EQ(MTimeNs(dir.File("art/logo.wmf")) / 100, MTimeNs(dir.File("x/y/logo.wmf")) / 100);

  // chosen names, without regard to case; an unknown name is an input error
  r = RunQuillset({"extract", "-d", dir.File("z"), dir.File("Setup.exe"), "README.txt"});
  EXPECT_EQ(0, r.Code) << r.Err;
  EXPECT_TRUE(Exists(dir.File("z/readme.txt")));
  EXPECT_FALSE(Exists(dir.File("z/app.exe")));
  r = RunQuillset({"extract", "-d", dir.File("z"), dir.File("Setup.exe"), "nothere.txt"});
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("stores no file named nothere.txt"));

  // a damaged entry leaves the earlier file as it was, and no temporary file
  Bytes file = ReadWholeFile(dir.File("Setup.exe"));
  for (const Entry& e : Directory(file))
    if (e.Name == "readme.txt") file[e.Offset + e.Stored / 2] ^= 0x01;
  WriteWholeFile(dir.File("Setup.exe"), file);
  WriteWholeFile(dir.File("z/readme.txt"), "mine");
  r = RunQuillset({"extract", "-d", dir.File("z"), dir.File("Setup.exe"), "readme.txt"});
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("readme.txt")) << r.Err;
  EXPECT_EQ("mine", ReadWholeFile(dir.File("z/readme.txt")));
  std::vector<std::string> z;
  for (const std::string& n : dir.List())
    if (n.rfind("z/", 0) == 0) z.push_back(n);
  EXPECT_EQ((std::vector<std::string>{"z/readme.txt"}), z);
}

TEST(SetupFiles, ListTellsTheKindOfEveryFile) {
  TempDir dir;
  WriteWholeFile(dir.File("stub.exe"), FakeStub(5000));
  Bytes uninstaller = FakeStub(5000) + Bytes((const char*)UninstallerSignature, 16);
  WriteWholeFile(dir.File("Uninstall.exe"), uninstaller);

  RunResult r = RunQuillset({"list", dir.File("stub.exe")});
  EXPECT_EQ(0, r.Code);
  EXPECT_NE(std::string::npos, r.Out.find("bare stub (unknown architecture), setup program 5000 bytes"));
  r = RunQuillset({"list", dir.File("Uninstall.exe")});
  EXPECT_EQ(0, r.Code);
  EXPECT_NE(std::string::npos, r.Out.find("uninstaller (unknown architecture), setup program 5000 bytes"));
  r = RunQuillset({"verify", dir.File("Uninstall.exe")});
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("an uninstaller: it stores no files"));

  // a tampered directory is refused, not read past its end
  Bytes bad = FakeStub(100) + Bytes(8, '\0');
  unsigned char trailer[24];
  EFSTRAILER t = {3, 0x7FFFFFFF, {}};
  memcpy(t.Signature, InstallerSignature, 16);
  EfsEncodeTrailer(t, trailer);
  bad += Bytes((const char*)trailer, 24);
  WriteWholeFile(dir.File("bad.exe"), bad);
  r = RunQuillset({"list", dir.File("bad.exe")});
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("damaged setup file")) << r.Err;
  r = RunQuillset({"list", dir.File("missing.exe")});
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("cannot open " + dir.File("missing.exe")));
}

TEST(SetupFiles, ExtractRefusesNamesThatLeaveTheFolder) {
  // a setup file made by hand whose entry is called "../evil.txt"
  TempDir dir;
  Bytes content = "evil";
  Bytes name = "../evil.txt";
  Bytes file = FakeStub(64) + content;
  unsigned char record[24];
  EFSDIRENTRY e = {64, 0, 0, 0, 0, (uint32_t)name.size() + 1};
  EfsEncodeDirEntry(e, record);
  Bytes dirBytes = Bytes((const char*)record, 24) + name + Bytes(1, '\0');
  unsigned char trailer[24];
  EFSTRAILER t = {1, (uint32_t)(dirBytes.size() + 24), {}};
  memcpy(t.Signature, InstallerSignature, 16);
  EfsEncodeTrailer(t, trailer);
  file += dirBytes + Bytes((const char*)trailer, 24);
  WriteWholeFile(dir.File("evil.exe"), file);
  RunResult r = RunQuillset({"extract", dir.File("evil.exe"), "-d", dir.File("in")});
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("not a plain file name")) << r.Err;
  EXPECT_FALSE(Exists(dir.File("evil.txt")));
}

TEST(CommandLine, HelpVersionAndUsageErrors) {
  for (const char* command : {"build", "list", "verify", "extract"}) {
    RunResult r = RunQuillset({command, "--help"});
    EXPECT_EQ(0, r.Code) << command;
    EXPECT_EQ(0u, r.Out.find(std::string("Usage: quillset ") + command)) << r.Out;
    RunResult h = RunQuillset({"help", command});
    EXPECT_EQ(r.Out, h.Out);
  }
  RunResult r = RunQuillset({"--help"});
  EXPECT_EQ(0, r.Code);
  EXPECT_NE(std::string::npos, r.Out.find("build PROJECT.qsp"));
  r = RunQuillset({"--version"});
  EXPECT_EQ(0, r.Code);
  EXPECT_EQ(0u, r.Out.find("quillset "));

  struct Case {
    std::vector<std::string> Args;
    const char* Message;
  };
  const Case cases[] = {
      {{}, "Usage: quillset COMMAND"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"build"}, "which project script?"},
      {{"build", "a.qsp", "b.qsp"}, "only one project script"},
      {{"build", "--frob", "a.qsp"}, "unknown option --frob"},
      {{"build", "-o"}, "option -o needs a value"},
      {{"build", "--split", "12Q", "a.qsp"}, "--split 12Q: give a size"},
      {{"build", "--split", "10", "a.qsp"}, "at least 64 bytes"},
      {{"build", "-j", "0", "a.qsp"}, "give a number from 1 to 256"},
      {{"build", "--store=yes", "a.qsp"}, "option --store takes no value"},
      {{"list"}, "which setup file?"},
      {{"verify", "a.exe", "b.exe"}, "one setup file only"},
      {{"extract", "-d"}, "option -d needs a value"},
  };
  for (const Case& c : cases) {
    RunResult u = RunQuillset(c.Args);
    EXPECT_EQ(2, u.Code) << c.Message;
    EXPECT_NE(std::string::npos, u.Err.find(c.Message)) << u.Err;
  }
}

TEST(CommandLine, ProgressOnlyOnATerminalAndASummaryUnlessQuiet) {
  TempDir dir;
  Project project(dir);
  project.Write("QSP40\n[Global]\nApplicationName = A\n[Files]\nbig.bin, %MAINDIR%big.bin\n");
  WriteWholeFile(dir.File("big.bin"), RandomBytes(3 << 20, 9));
  WriteWholeFile(dir.File("stub.exe"), FakeStub());
  std::vector<std::string> args = {"build", "--stub", dir.File("stub.exe"), "-o",
                                   dir.File("Setup.exe"), project.Path()};

  RunResult piped = RunQuillset(args);
  ASSERT_EQ(0, piped.Code) << piped.Err;
  EXPECT_EQ("", piped.Err);  // no bar into a pipe
  EXPECT_NE(std::string::npos, piped.Out.find("setup file with 3 entries"));
  EXPECT_NE(std::string::npos, piped.Out.find("payload in     3"));
  EXPECT_NE(std::string::npos, piped.Out.find("built in "));

  RunResult terminal = RunQuillsetOnTerminal(args);
  ASSERT_EQ(0, terminal.Code) << terminal.Out;
  EXPECT_NE(std::string::npos, terminal.Out.find("100%")) << terminal.Out;
  EXPECT_NE(std::string::npos, terminal.Out.find("\r[")) << terminal.Out;
  EXPECT_NE(std::string::npos, terminal.Out.find("setup file with 3 entries"));

  args.insert(args.begin() + 1, "-q");
  RunResult quiet = RunQuillsetOnTerminal(args);
  EXPECT_EQ(0, quiet.Code);
  EXPECT_EQ("", quiet.Out);
}

TEST(CommandLine, FindsTheSetupProgramAndTableBesideItOrSaysWhere) {
  // the build tree holds English.ini beside the command; the stub of the
  // Windows tree may be missing, and then the message lists the places
  TempDir dir;
  Project project(dir);
  project.Write("QSP40\n[Global]\nApplicationName = A\n");
  RunResult r = RunQuillset({"build", "-q", "-o", dir.File("Setup.exe"), project.Path()});
  if (r.Code == 0) {
    RunResult list = RunQuillset({"list", dir.File("Setup.exe")});
    EXPECT_NE(std::string::npos, list.Out.find("Translations.ini"));
  } else {
    EXPECT_NE(std::string::npos, r.Err.find("cannot find the setup program quillset-stub.exe"));
    EXPECT_NE(std::string::npos, r.Err.find("--stub FILE"));
    EXPECT_FALSE(Exists(dir.File("Setup.exe")));
  }
  // not a program, or already a setup file: refused
  WriteWholeFile(dir.File("notes.txt"), "hello there");
  r = RunQuillset({"build", "--stub", dir.File("notes.txt"), "-o", dir.File("S.exe"), project.Path()});
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("is not a Windows program"));
  WriteWholeFile(dir.File("stub.exe"), FakeStub());
  ASSERT_EQ(0, project.Build(dir.File("S.exe")).Code);
  r = RunQuillset({"build", "--stub", dir.File("S.exe"), "-o", dir.File("T.exe"), project.Path()});
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("is a built setup file, not the bare setup program"));
  EXPECT_FALSE(Exists(dir.File("T.exe")));
}

// The headers of a program for one architecture, padded: enough for the
// command to tell x86 from x64.
Bytes FakeProgram(bool x64, size_t size = 4096) {
  Bytes b(size, '\0');
  auto put16 = [&](size_t at, unsigned v) { b[at] = (char)(v & 0xFF); b[at + 1] = (char)(v >> 8); };
  b[0] = 'M';
  b[1] = 'Z';
  b[0x3C] = (char)0x80;
  b.replace(0x80, 4, std::string("PE\0\0", 4));
  put16(0x84, x64 ? 0x8664 : 0x14C);
  put16(0x94, x64 ? 240 : 224);  // optional header size, 16 directories
  put16(0x98, x64 ? 0x20B : 0x10B);
  put16(0x98 + 68, 2);
  b[0x98 + (x64 ? 108 : 92)] = 16;
  return b;
}

TEST(CommandLine, ArchChoosesTheSetupProgramAndListAndVerifyNameIt) {
  TempDir dir;
  Project project(dir);
  project.Write("QSP40\n[Global]\nApplicationName = A\n[Files]\nreadme.txt, %MAINDIR%readme.txt\n");
  WriteWholeFile(dir.File("readme.txt"), RandomBytes(300000, 5));
  WriteWholeFile(dir.File("stub32.exe"), FakeProgram(false));
  WriteWholeFile(dir.File("stub64.exe"), FakeProgram(true, 5000));

  for (const char* wrong : {"arm64", "X64", "amd64", "64", ""}) {
    RunResult r = project.Build(dir.File("Setup.exe"), {"--arch", wrong});
    EXPECT_EQ(2, r.Code) << wrong;
    EXPECT_NE(std::string::npos, r.Err.find("give x86 (32-bit setup program) or x64 (64-bit)")) << r.Err;
  }
  // a setup program of the other architecture is refused, nothing written
  RunResult r = project.Build(dir.File("Setup.exe"), {"--arch", "x64", "--stub", dir.File("stub32.exe")});
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("stub32.exe is the x86 setup program, but --arch asks for x64")) << r.Err;
  EXPECT_FALSE(Exists(dir.File("Setup.exe")));

  // each architecture named by list and verify, the split's first slice too
  struct Case { const char* arch; const char* stub; const char* label; size_t size; } cases[] = {
      {"x64", "stub64.exe", "(x64), setup program 5000 bytes", 5000},
      {"x86", "stub32.exe", "(x86), setup program 4096 bytes", 4096},
  };
  for (const Case& c : cases) {
    const std::string setup = dir.File(std::string("Setup-") + c.arch + ".exe");
    r = project.Build(setup, {"--arch", c.arch, "--stub", dir.File(c.stub)});
    ASSERT_EQ(0, r.Code) << r.Err;
    RunResult list = RunQuillset({"list", setup});
    EXPECT_NE(std::string::npos, list.Out.find(std::string("installer ") + c.label + ", 3 entries")) << list.Out;
    RunResult verify = RunQuillset({"verify", setup});
    EXPECT_NE(std::string::npos, verify.Out.find(std::string("all 3 entries are sound (") + c.arch + " setup program)"))
        << verify.Out;
    const std::string split = dir.File(std::string("split-") + c.arch + "/Setup.exe");
    r = project.Build(split, {"--arch", c.arch, "--stub", dir.File(c.stub), "--split", "100K"});
    ASSERT_EQ(0, r.Code) << r.Err;
    EXPECT_EQ(ReadWholeFile(dir.File(c.stub)), ReadWholeFile(split).substr(0, c.size)) << "the program, then the slice record";
    list = RunQuillset({"list", split});
    EXPECT_NE(std::string::npos, list.Out.find(std::string("bare stub ") + c.label)) << list.Out;
  }
  // without --arch, a given setup program of either kind is taken as it is
  r = project.Build(dir.File("Any.exe"), {"--stub", dir.File("stub64.exe")});
  EXPECT_EQ(0, r.Code) << r.Err;
  EXPECT_NE(std::string::npos, RunQuillset({"list", dir.File("Any.exe")}).Out.find("installer (x64)"));
}

}  // namespace
