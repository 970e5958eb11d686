// The reader over a whole run: one handle on the container, read at explicit
// offsets, and the destination folder it remembers between extractions.
#include <gtest/gtest.h>
#include <windows.h>

#include <utility>
#include <vector>

#include "TestSetups.h"
#include "TestSupport.h"
#include "efs/ExeFileSystem.h"
#include "uninstall/UninstallLogger.h"

namespace {

// Nobody else holds the file: it opens without any sharing.
bool OpensExclusively(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

TEST(ExtractRun, EntriesComeOutWholeInAnyOrderFromTwoReadersOfOneFile) {
  TempFolder dir;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"a.bin", RandomBytes(100000, 1)}, {"b.bin", RandomBytes(70000, 2)}, {"c.txt", std::string(50000, 'c')},
      {"d.txt", ""}, {"e.bin", RandomBytes(33000, 5)}};
  const std::string setup = BuildTestSetup(dir, "setup.exe", files);
  CExeFileSystem one, two;
  one.Open(setup.c_str());
  two.Open(setup.c_str());
  // backwards, the two readers taking turns: no read may depend on where
  // the previous one left off
  for (size_t i = files.size(); i-- > 0;) {
    CExeFileSystem& efs = i % 2 ? one : two;
    const std::string out = dir.File(("out\\" + files[i].first).c_str());
    ASSERT_EQ(1, efs.ExtractFile(files[i].first.c_str(), out.c_str(), 1, NULL, 500)) << files[i].first;
    EXPECT_EQ(files[i].second, ReadWholeFile(out)) << files[i].first;
  }
  ASSERT_EQ(1, one.ExtractFile("a.bin", dir.File("again.bin").c_str(), 1, NULL, 500));
  EXPECT_EQ(files[0].second, ReadWholeFile(dir.File("again.bin")));
}

TEST(ExtractRun, TheHandleIsLetGoByTheNextOpenAndAtTheEnd) {
  TempFolder dir;
  const std::string first = BuildTestSetup(dir, "first.exe", {{"x.txt", "first"}});
  const std::string second = BuildTestSetup(dir, "second.exe", {{"x.txt", "second"}});
  {
    CExeFileSystem efs;
    efs.Open(first.c_str());
    EXPECT_FALSE(OpensExclusively(first));  // held for the run
    efs.Open(second.c_str());
    EXPECT_TRUE(OpensExclusively(first));
    ASSERT_EQ(1, efs.ExtractFile("x.txt", dir.File("x.txt").c_str(), 1, NULL, 500));
    EXPECT_EQ("second", ReadWholeFile(dir.File("x.txt")));
    // a failed Open leaves nothing open either
    EXPECT_EQ(EFS_ERR_OPEN, efs.Open(dir.File("missing.exe").c_str()));
    EXPECT_TRUE(OpensExclusively(second));
    EXPECT_EQ(0, efs.ExtractFile("x.txt", dir.File("y.txt").c_str(), 1, NULL, 500));
    EXPECT_FALSE(PathExists(dir.File("y.txt")));
    efs.Open(second.c_str());
  }
  EXPECT_TRUE(OpensExclusively(second));
}

// The folder of the last file is not looked at again for the next one; one
// that went away in between is made again, and logged again.
TEST(ExtractRun, AFolderRemovedBetweenTwoFilesIsMadeAndLoggedAgain) {
  TempFolder dir;
  const std::string setup = BuildTestSetup(dir, "setup.exe", {{"a.txt", "A"}, {"b.txt", "B"}, {"c.txt", "C"}});
  CExeFileSystemLogged efs;
  efs.Open(setup.c_str());
  CUninstallLogger log;
  ASSERT_EQ(1, log.CreateTempLog());
  const std::string app = dir.File("App"), docs = dir.File("App\\Docs");
  ASSERT_EQ(1, efs.ExtractFileLogged("a.txt", (docs + "\\a.txt").c_str(), 1, NULL, 500, &log));
  ASSERT_EQ(1, efs.ExtractFileLogged("b.txt", (docs + "\\b.txt").c_str(), 1, NULL, 500, &log));
  DeleteFileA((docs + "\\a.txt").c_str());
  DeleteFileA((docs + "\\b.txt").c_str());
  ASSERT_TRUE(RemoveDirectoryA(docs.c_str()));
  ASSERT_TRUE(RemoveDirectoryA(app.c_str()));
  ASSERT_EQ(1, efs.ExtractFileLogged("c.txt", (docs + "\\c.txt").c_str(), 1, NULL, 500, &log));
  EXPECT_EQ("C", ReadWholeFile(docs + "\\c.txt"));
  log.CopyLogTo(dir.File("log").c_str());
  EXPECT_EQ("DirectoryCreated=" + app + "\nDirectoryCreated=" + docs + "\nFileCreated=" + docs + "\\a.txt\n" +
                "FileCreated=" + docs + "\\b.txt\nDirectoryCreated=" + app + "\nDirectoryCreated=" + docs +
                "\nFileCreated=" + docs + "\\c.txt\n",
            ReadWholeFile(dir.File("log")));
}

}  // namespace
