// Failures of the container builder reach the user with the file they are
// about: a source that is missing or cannot be read, an output folder that
// cannot be written, a full disk. A failed build leaves nothing behind and an
// earlier setup file as it was.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CliSupport.h"

namespace {

const int kNobody = 65534;

// As root, the permission tests run the command as nobody; as anyone else
// they run it as is.
int Unprivileged() { return geteuid() == 0 ? kNobody : -1; }

class BuilderErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteWholeFile(dir.File("a.txt"), "alpha");
    WriteWholeFile(dir.File("b.bin"), RandomBytes(1 << 20, 5));
    project.Write("QSP40\n[Global]\nApplicationName = E\n[Files]\na.txt, %MAINDIR%a.txt\n"
                  "b.bin, %MAINDIR%b.bin\n");
    WriteWholeFile(dir.File("stub.exe"), FakeStub());
  }
  TempDir dir;
  Project project{dir};
};

TEST_F(BuilderErrors, MissingSourceNamesTheFileAtItsLine) {
  remove(dir.File("a.txt").c_str());
  RunResult r = project.Build(dir.File("Setup.exe"));
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find(project.Path() + ":5: file not found: " + dir.File("a.txt")))
      << r.Err;
  EXPECT_FALSE(Exists(dir.File("Setup.exe")));
}

TEST_F(BuilderErrors, UnreadableSourceNamesTheFile) {
  chmod(dir.File("a.txt").c_str(), 0);
  RunResult r = RunQuillset({"build", "-q", "--stub", dir.File("stub.exe"), "-o", dir.File("Setup.exe"),
                             project.Path()},
                            "", Unprivileged());
  if (r.Code == 0) GTEST_SKIP() << "a file with no permissions is readable here";
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos,
            r.Err.find(project.Path() + ":5: cannot open " + dir.File("a.txt") + ": Permission denied"))
      << r.Err;
  EXPECT_FALSE(Exists(dir.File("Setup.exe")));
}

TEST_F(BuilderErrors, OutputFolderNotWritableNamesTheOutput) {
  WriteWholeFile(dir.File("ro/Setup.exe"), "an earlier build");
  chmod(dir.File("ro").c_str(), 0555);
  std::string out = dir.File("ro/Setup.exe");
  RunResult r = RunQuillset({"build", "-q", "--stub", dir.File("stub.exe"), "-o", out, project.Path()},
                            "", Unprivileged());
  if (r.Code == 0) GTEST_SKIP() << "a read-only folder is writable here";
  EXPECT_EQ(1, r.Code);
  EXPECT_EQ("quillset: error: cannot write " + out + ": Permission denied\n", r.Err);
  EXPECT_EQ("an earlier build", ReadWholeFile(out));
  chmod(dir.File("ro").c_str(), 0755);
  EXPECT_EQ((std::vector<std::string>{"a.txt", "app.qsp", "b.bin", "ro/Setup.exe", "stub.exe"}), dir.List());
}

// A small tmpfs: writes fail with a real full disk.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& at) : m_At(at) {
    mkdir(at.c_str(), 0755);
    m_Mounted = mount("tmpfs", at.c_str(), "tmpfs", 0, "size=256k") == 0;
  }
  ~SmallDisk() {
    if (m_Mounted) umount(m_At.c_str());
  }
  bool Mounted() const { return m_Mounted; }

 private:
  std::string m_At;
  bool m_Mounted;
};

TEST_F(BuilderErrors, FullDiskNamesTheOutputAndLeavesNothing) {
  SmallDisk disk(dir.File("small"));
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root); the full-disk test is skipped";
  for (const char* threads : {"1", "2"}) {
    std::string out = dir.File("small/Setup.exe");
    RunResult r = project.Build(out, {"-j", threads});
    EXPECT_EQ(1, r.Code) << threads;
    EXPECT_EQ("quillset: error: the disk is full: cannot write " + out + "\n", r.Err) << threads;
    EXPECT_EQ((std::vector<std::string>{"a.txt", "app.qsp", "b.bin", "stub.exe"}), dir.List()) << threads;

    // a split build fails alike
    r = project.Build(out, {"--split", "64K", "--store", "-j", threads});
    EXPECT_EQ(1, r.Code);
    EXPECT_NE(std::string::npos, r.Err.find("the disk is full: cannot write")) << r.Err;
    EXPECT_EQ(4u, dir.List().size());
  }
}

TEST_F(BuilderErrors, TheOutputMayNotOverwriteAnInput) {
  RunResult r = project.Build(dir.File("b.bin"));
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find(":6: the output " + dir.File("b.bin") + " would overwrite this source"))
      << r.Err;
  EXPECT_EQ(Bytes(RandomBytes(1 << 20, 5)), ReadWholeFile(dir.File("b.bin")));
}

}  // namespace
