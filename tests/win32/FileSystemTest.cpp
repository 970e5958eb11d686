#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include "TestSupport.h"
#include "platform/FileSystem.h"
#include "platform/FilesInUse.h"
#include "platform/ProtectedFolder.h"
#include "uninstall/UninstallLogger.h"

namespace {

// A drive letter no prefix maps.
std::string MissingDrive() {
  DWORD drives = GetLogicalDrives();
  for (char c = 'Y'; c > 'D'; --c)
    if (!(drives & (1u << (c - 'A')))) return std::string(1, c) + ":";
  return "";
}

TEST(FileSystem, ExistenceTestsTellFilesFromFoldersAndRoots) {
  TempFolder dir;
  WriteWholeFile(dir.File("f.txt"), "x");
  EXPECT_EQ(1, FileExists(dir.File("f.txt").c_str()));
  EXPECT_EQ(0, FileExists(dir.Path().c_str()));  // a folder is no file
  EXPECT_EQ(0, FileExists(dir.File("none.txt").c_str()));
  EXPECT_EQ(0, FileExists(""));
  EXPECT_EQ(0, FileExists(NULL));

  EXPECT_EQ(1, DirectoryExists(dir.Path().c_str()));
  EXPECT_EQ(1, DirectoryExists((dir.Path() + "\\").c_str()));
  EXPECT_EQ(0, DirectoryExists(dir.File("f.txt").c_str()));
  EXPECT_EQ(1, DirectoryExists("C:"));
  EXPECT_EQ(1, DirectoryExists("C:\\"));
  EXPECT_EQ(1, DirectoryExists("C:\\windows"));
  EXPECT_EQ(1, DirectoryExists("C:\\windows\\"));
  std::string missing = MissingDrive();
  ASSERT_FALSE(missing.empty());
  EXPECT_EQ(0, DirectoryExists(missing.c_str()));
  EXPECT_EQ(0, DirectoryExists((missing + "\\").c_str()));
  EXPECT_EQ(0, DirectoryExists("\\"));
  EXPECT_EQ(0, DirectoryExists("\\\\server"));
  EXPECT_EQ(0, DirectoryExists(NULL));

  // 259 characters or more are refused
  std::string longPath = "C:\\" + std::string(256, 'a');
  EXPECT_EQ(259u, longPath.size());
  EXPECT_EQ(0, DirectoryExists(longPath.c_str()));
  EXPECT_EQ(0, CreateDirectoryPath(longPath.c_str()));
  EXPECT_EQ(0, CanCreateDirectoryPath(longPath.c_str()));
}

TEST(FileSystem, CreatesAndLogsOnlyTheFoldersItMakesOutermostFirst) {
  TempFolder dir;
  std::string a = dir.File("A");
  CreateDirectoryA(a.c_str(), NULL);
  TempFolder logDir;
  CUninstallLogger log;
  ASSERT_EQ(1, log.CreateTempLog());
  ASSERT_EQ(1, CreateDirectoryPathLogged((a + "\\B\\C").c_str(), &log));
  EXPECT_EQ(1, DirectoryExists((a + "\\B\\C").c_str()));
  // again: nothing new, nothing logged
  ASSERT_EQ(1, CreateDirectoryPathLogged((a + "\\B\\C\\").c_str(), &log));
  log.CopyLogTo(logDir.File("log").c_str());
  EXPECT_EQ("DirectoryCreated=" + a + "\\B\nDirectoryCreated=" + a + "\\B\\C\n",
            ReadWholeFile(logDir.File("log")));

  EXPECT_EQ(1, CreateDirectoryPath((a + "\\X\\Y\\").c_str()));
  EXPECT_EQ(1, DirectoryExists((a + "\\X\\Y").c_str()));
  EXPECT_EQ(1, CreateDirectoryPath("C:\\"));
  // a name the file system refuses
  EXPECT_EQ(0, CreateDirectoryPath((a + "\\bad|name\\sub").c_str()));
  EXPECT_EQ(0, CreateDirectoryPath((MissingDrive() + "\\x").c_str()));
}

TEST(FileSystem, TheProbeLeavesTheDiskAsItWas) {
  TempFolder dir;
  std::string deeper = dir.File("New\\Deeper");
  EXPECT_EQ(1, CanCreateDirectoryPath(deeper.c_str()));
  EXPECT_EQ(0, DirectoryExists(dir.File("New").c_str()));
  EXPECT_EQ(1, CanCreateDirectoryPath(dir.Path().c_str()));  // existing folders are fine
  EXPECT_EQ(1, DirectoryExists(dir.Path().c_str()));

  EXPECT_EQ(0, CanCreateDirectoryPath(dir.File("Made\\bad|name\\x").c_str()));
  EXPECT_EQ(0, DirectoryExists(dir.File("Made").c_str()));  // removed again after the failure
  EXPECT_EQ(0, CanCreateDirectoryPath((MissingDrive() + "\\App\\Sub").c_str()));
  EXPECT_EQ(0, CanCreateDirectoryPath("\\rooted\\without\\drive"));
  EXPECT_EQ(0, CanCreateDirectoryPath(""));
}

// What an uninstaller never deletes whole, however its log names it.
TEST(FileSystem, ProtectedFoldersAreTheSystemsAndTheSharedOnes) {
  char local[MAX_PATH] = "", windows[MAX_PATH] = "", profile[MAX_PATH] = "";
  ASSERT_TRUE(SHGetSpecialFolderPathA(NULL, local, CSIDL_LOCAL_APPDATA, TRUE));
  GetWindowsDirectoryA(windows, MAX_PATH);
  ASSERT_TRUE(SHGetSpecialFolderPathA(NULL, profile, CSIDL_PROFILE, FALSE));
  const std::string users = std::string(profile).substr(0, std::string(profile).rfind('\\'));
  const struct {
    std::string Folder;
    int Protected;
  } cases[] = {
      {"C:\\", 1},
      {"C:", 1},
      {"", 1},
      {"\\\\server\\share", 1},
      {windows, 1},
      {std::string(windows) + "\\", 1},
      {users, 1},
      {local, 1},
      {std::string(local) + "\\Programs", 1},
      {std::string(local) + "\\PROGRAMS\\", 1},
      {std::string(local) + "\\Programs\\Example App", 0},
      {"C:\\Example App", 0},
      {"\\\\server\\share\\App", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Protected, IsProtectedFolder(c.Folder.c_str())) << c.Folder;
}

}  // namespace

// Where Windows lacks QueryFullProcessImageName (XP), a program holding the
// files is still named: its image from its module list.
TEST(FileSystem, AProcessImageComesFromItsModuleList) {
  char own[MAX_PATH] = "", image[PATH_BYTES] = "";
  ASSERT_NE(0u, GetModuleFileNameA(NULL, own, MAX_PATH));
  ASSERT_TRUE(ProcessImageFromModules(GetCurrentProcessId(), image));
  EXPECT_EQ(0, lstrcmpiA(own, image)) << image;
  EXPECT_FALSE(ProcessImageFromModules(0xFFFFFFF0u, image)) << "no such process";
}
