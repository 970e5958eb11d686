// [Files] lines with folders, patterns, exclusions, repeated names and
// renames: the plain lines the stored script gets, their order, the stored
// names, and the container version that tells a setup program how to read
// them.
#include <gtest/gtest.h>

#include "CliSupport.h"
#include "efs/EfsDirectory.h"
#include "efs/EfsFormat.h"

namespace {

class MemoryReader : public IEfsFileReader {
 public:
  explicit MemoryReader(const Bytes& b) : m_Bytes(b) {}
  int ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) override {
    if (offset > m_Bytes.size() || n > m_Bytes.size() - offset) return 0;
    memcpy(buffer, m_Bytes.data() + offset, n);
    return 1;
  }

 private:
  const Bytes& m_Bytes;
};

struct Built {
  int Code = -1;
  std::string Err;
  uint32_t Version = 0;
  std::vector<std::string> Names;
  std::string Script;  // default.qsp as stored
};

class FileSources : public ::testing::Test {
 protected:
  TempDir dir;
  Project project{dir};

  void SetUp() override {
    for (const char* f : {"app/bin/app.exe", "app/bin/a.pdb", "app/bin/en/readme.txt", "app/bin/de/readme.txt",
                          "app/bin/de/x/readme.txt", "app/.git/HEAD", "app/docs/Guide.txt", "app/docs/b.txt",
                          "app/LICENSE.txt", "app/odd/100%.txt", "app/odd/a,b.txt"})
      WriteWholeFile(dir.File(f), std::string("content of ") + f);
  }

  Built Build(const std::string& files, std::vector<std::string> extra = {}) {
    const std::string script = "QSP40\r\n[Global]\r\nApplicationName = A\r\n[Files]\r\n" + files + "[Execute]\r\nx.exe\r\n";
    project.Write(script);
    const std::string out = dir.File("Setup.exe");
    RunResult r = project.Build(out, extra);
    Built b;
    b.Code = r.Code;
    b.Err = r.Err;
    if (r.Code != 0) return b;
    const Bytes file = ReadWholeFile(out);
    MemoryReader reader(file);
    CEfsDirectory d;
    EXPECT_EQ(EFS_OPEN_OK, d.Read(reader, file.size(), EfsParseSolidRecords));
    b.Version = d.Version();
    for (uint32_t i = 0; i < d.Count(); ++i) b.Names.push_back(d.At(i).Name);
    const std::string into = dir.File("x");
    EXPECT_EQ(0, RunQuillset({"extract", "-q", "-d", into, out, "default.qsp"}).Code);
    b.Script = ReadWholeFile(into + "/default.qsp");
    EXPECT_EQ(0, RunQuillset({"verify", "-q", out}).Code);
    return b;
  }

  // the stored script's [Files] lines
  static std::string FilesOf(const std::string& script) {
    size_t a = script.find("[Files]\r\n") + 9;
    return script.substr(a, script.find("[Execute]") - a);
  }
};

TEST_F(FileSources, PlainLinesKeepTheScriptAndTheFirstFormat) {
  for (const char* method : {"zlib", "lzma"}) {
    const std::string files = "app/bin/app.exe, %MAINDIR%app.exe\r\napp\\LICENSE.txt, %MAINDIR%doc\\license.TXT\r\n";
    Built b = Build(files, {"--compression", method});
    ASSERT_EQ(0, b.Code) << b.Err;
    EXPECT_EQ(std::string(method) == "zlib" ? 1u : 3u, b.Version) << method;
    EXPECT_EQ(ReadWholeFile(project.Path()), b.Script) << method;
  }
}

TEST_F(FileSources, PatternsAndFoldersBecomeOneSortedLinePerFile) {
  // no name twice and none renamed: plain lines that any setup program reads
  Built b = Build("app\\docs\\*.txt, %MAINDIR%docs\r\napp/bin/en, %MAINDIR%en\\\r\n");
  ASSERT_EQ(0, b.Code) << b.Err;
  EXPECT_EQ(1u, b.Version);
  EXPECT_EQ("b.txt, %MAINDIR%docs\\b.txt\r\n"
            "Guide.txt, %MAINDIR%docs\\Guide.txt\r\n"
            "readme.txt, %MAINDIR%en\\readme.txt\r\n",
            FilesOf(b.Script));
  // the expanded script is written beside an output whose folder is new
  RunResult r = project.Build(dir.File("new/Setup.exe"));
  EXPECT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ(0, RunQuillset({"verify", "-q", dir.File("new/Setup.exe")}).Code);
}

TEST_F(FileSources, RepeatedNamesRenamesAndExclusionsNameTheirStoredFile) {
  for (const char* method : {"zlib", "lzma"}) {
    Built b = Build("app\\** | *.pdb | .git\\ | docs\\*, %MAINDIR%\r\n"
                    "app\\LICENSE.txt, %MAINDIR%licence.txt\r\n"
                    "app\\bin\\app.exe, %MAINDIR%bin\\\r\n",
                    {"--compression", method});
    ASSERT_EQ(0, b.Code) << b.Err;
    EXPECT_EQ((uint32_t)EFS_FORMAT_NAMED_LINES, b.Version) << method;
    EXPECT_EQ("app.exe, %MAINDIR%bin\\app.exe\r\n"
              "readme.txt, %MAINDIR%bin\\de\\readme.txt\r\n"
              "readme~2.txt, %MAINDIR%bin\\de\\x\\readme.txt\r\n"
              "readme~3.txt, %MAINDIR%bin\\en\\readme.txt\r\n"
              "LICENSE.txt, %MAINDIR%LICENSE.txt\r\n"
              "100%.txt, %MAINDIR%odd\\100%%.txt\r\n"
              "a_b.txt, %MAINDIR%odd\\a,b.txt\r\n"
              "LICENSE.txt, %MAINDIR%licence.txt\r\n"
              "app.exe, %MAINDIR%bin\\app.exe\r\n",
              FilesOf(b.Script))
        << method;
    EXPECT_EQ((std::vector<std::string>{"100%.txt", "a_b.txt", "app.exe", "default.qsp", "LICENSE.txt",
                                        "readme.txt", "readme~2.txt", "readme~3.txt", "Translations.ini"}),
              b.Names);
  }
  // the records in front of the header are checked by their CRC
  Build("app\\** | *.pdb | .git\\ | docs\\*, %MAINDIR%\r\n");
  Bytes file = ReadWholeFile(dir.File("Setup.exe"));
  file[file.size() - EFS_TRAILER_SIZE - EFS_SOLID_HEADER_SIZE - 3] ^= 1;
  WriteWholeFile(dir.File("Bad.exe"), file);
  RunResult bad = RunQuillset({"list", dir.File("Bad.exe")});
  EXPECT_EQ(1, bad.Code);
  EXPECT_NE(std::string::npos, bad.Err.find("damaged setup file")) << bad.Err;
}

// The files of a component are packed and expanded as those of [Files],
// each line in its own section; a name taken in one is taken in all.
TEST_F(FileSources, AComponentsFilesAreExpandedInTheirOwnSection) {
  Built b = Build("app/bin/en/readme.txt, %MAINDIR%readme.txt\r\n[Components]\r\ndocs, Help\r\n[Files:docs]\r\n"
                  "app\\docs\\*.txt, %MAINDIR%docs\r\napp/bin/de/readme.txt, %MAINDIR%de\\readme.txt\r\n");
  ASSERT_EQ(0, b.Code) << b.Err;
  EXPECT_EQ((uint32_t)EFS_FORMAT_NAMED_LINES, b.Version);
  EXPECT_EQ("readme.txt, %MAINDIR%readme.txt\r\n[Components]\r\ndocs, Help\r\n[Files:docs]\r\n"
            "b.txt, %MAINDIR%docs\\b.txt\r\nGuide.txt, %MAINDIR%docs\\Guide.txt\r\n"
            "readme~2.txt, %MAINDIR%de\\readme.txt\r\n",
            FilesOf(b.Script));
  EXPECT_EQ((std::vector<std::string>{"b.txt", "default.qsp", "Guide.txt", "readme.txt", "readme~2.txt",
                                      "Translations.ini"}),
            b.Names);
}

// A setup program of before would take a flag for a part of the line.
TEST_F(FileSources, FlaggedLinesNeedTheNewerFormatAndKeepTheirScript) {
  const std::string files = "app/bin/app.exe, %MAINDIR%app.exe\r\n[INIFiles]\r\n"
                            "ifabsent: %MAINDIR%a.ini,S,Theme,Light\r\n[SysRegUninstall]\r\n"
                            "ifempty: HKEY_CURRENT_USER/Software/Vendor\r\n";
  Built b = Build(files);
  ASSERT_EQ(0, b.Code) << b.Err;
  EXPECT_EQ("", b.Err);
  EXPECT_EQ((uint32_t)EFS_FORMAT_NAMED_LINES, b.Version);
  EXPECT_EQ(ReadWholeFile(project.Path()), b.Script);
}

TEST_F(FileSources, ProblemsOfPatternLinesAreNamedAtTheirLine) {
  struct Case {
    const char* Line;
    const char* Expected;
  } cases[] = {
      {"app\\*.zip, %MAINDIR%", ":5: source app\\*.zip matches no file\n"},
      {"app\\bin\\** | *, %MAINDIR%", ":5: source app\\bin\\** matches no file that is not excluded\n"},
      {"app\\*\\readme.txt, %MAINDIR%",
       ":5: source app\\*\\readme.txt: wildcards go in its last part only (\"**\" standing alone before it: "
       "bin\\**\\*.dll)\n"},
      {"nowhere\\*.txt, %MAINDIR%", ":5: folder not found: @/nowhere\n"},
      {"app\\LICENSE.txt | *.pdb, %MAINDIR%x.txt",
       ":5: exclusions after \"|\" belong to a folder or a pattern; app\\LICENSE.txt is one file\n"},
      {"app\\docs |  , %MAINDIR%", ":5: empty exclusion after \"|\": write a pattern such as *.pdb or .git\\\n"},
  };
  for (const Case& c : cases) {
    Built b = Build(std::string(c.Line) + "\r\n");
    EXPECT_EQ(1, b.Code) << c.Line;
    std::string expected = c.Expected;
    size_t at = expected.find('@');
    if (at != std::string::npos) expected.replace(at, 1, dir.Path);
    EXPECT_NE(std::string::npos, b.Err.find(project.Path() + expected)) << c.Line << "\n" << b.Err;
  }
}

}  // namespace
