#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "Robot.h"
#include "TestSupport.h"
#include "platform/PrivateTemp.h"
#include "platform/TextEncoding.h"
#include "uninstall/UninstallLogger.h"

namespace {

std::vector<std::string> NewTempLogs(const std::vector<std::string>& before) {
  std::vector<std::string> now = TempFilesMatching("UNI*.tmp"), added;
  for (const std::string& n : now)
    if (std::find(before.begin(), before.end(), n) == before.end()) added.push_back(n);
  return added;
}

TEST(UninstallLogger, WritesOneLfTerminatedLinePerChange) {
  TempFolder dir;
  CUninstallLogger log;
  ASSERT_EQ(1, log.CreateTempLog());
  EXPECT_EQ(1, log.LogDirectoryCreated("C:\\Program Files\\Example App"));
  EXPECT_EQ(1, log.LogFileCreated("C:\\Program Files\\Example App\\readme.txt"));
  EXPECT_EQ(1, log.LogIniFileEntryAdded("C:\\App\\app.ini", "Settings", "Key,with,commas"));
  EXPECT_EQ(1, log.LogSysRegSectionAdded("HKEY_LOCAL_MACHINE/Software/Example App"));
  EXPECT_EQ(1, log.LogDllRegistered("C:\\App\\ext.dll"));
  // a line feed in a value would forge a record of its own
  EXPECT_EQ(0, log.LogFileCreated("C:\\evil\nDllRegistered=C:\\x.dll"));
  EXPECT_EQ(0, log.LogIniFileEntryAdded("C:\\a.ini", "s", "k\nFileCreated=C:\\y"));
  const char* want =
      "DirectoryCreated=C:\\Program Files\\Example App\n"
      "FileCreated=C:\\Program Files\\Example App\\readme.txt\n"
      "IniFileEntryAdded=C:\\App\\app.ini,Settings,Key,with,commas\n"
      "SysRegSectionAdded=HKEY_LOCAL_MACHINE/Software/Example App\n"
      "DllRegistered=C:\\App\\ext.dll\n";
  EXPECT_EQ(want, ReadWholeFile(log.GetLogPath()));  // the open log itself
  // others may read the open log but not write to it
  HANDLE writer = CreateFileA(log.GetLogPath(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, OPEN_EXISTING, 0, NULL);
  EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
  EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  // and a reader that shares only reading, as Windows' CopyFile opens its
  // source, is refused: copying by file name cannot work while logging
  HANDLE copier = CreateFileA(log.GetLogPath(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  EXPECT_EQ(INVALID_HANDLE_VALUE, copier);
  EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
  if (copier != INVALID_HANDLE_VALUE) CloseHandle(copier);

  std::string copy = dir.File("Uninstall.log");
  WriteWholeFile(copy, "old content that must be replaced");
  ASSERT_EQ(1, log.CopyLogTo(copy.c_str()));  // while the log is open
  EXPECT_EQ(want, ReadWholeFile(copy));
  EXPECT_EQ(std::string::npos, ReadWholeFile(copy).find('\r'));
  // the log stays open and usable after the copy
  EXPECT_EQ(1, log.LogFileCreated("C:\\App\\late.txt"));
  EXPECT_EQ(std::string(want) + "FileCreated=C:\\App\\late.txt\n", ReadWholeFile(log.GetLogPath()));

  // a log larger than one copy buffer arrives whole; a target that cannot
  // be written fails and leaves nothing
  std::string all = ReadWholeFile(log.GetLogPath());
  for (int i = 0; i < 2000; ++i) {
    std::string path = "C:\\App\\file" + std::to_string(i) + ".txt";
    ASSERT_EQ(1, log.LogFileCreated(path.c_str()));
    all += "FileCreated=" + path + "\n";
  }
  ASSERT_EQ(1, log.CopyLogTo(copy.c_str()));
  EXPECT_EQ(all, ReadWholeFile(copy));
  EXPECT_EQ(0, log.CopyLogTo(dir.File("no such folder\\Uninstall.log").c_str()));
  HANDLE held = CreateFileA(copy.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_EQ(0, log.CopyLogTo(copy.c_str()));
  CloseHandle(held);
  EXPECT_EQ(1, log.LogFileCreated("C:\\App\\after.txt"));
  EXPECT_EQ(all + "FileCreated=C:\\App\\after.txt\n", ReadWholeFile(log.GetLogPath()));
}

TEST(UninstallLogger, WritesNothingWithoutAnOpenLog) {
  std::vector<std::string> before = TempFilesMatching("UNI*.tmp");
  CUninstallLogger log;
  EXPECT_EQ(0, log.LogFileCreated("C:\\a.txt"));
  EXPECT_EQ(0, log.LogDirectoryCreated("C:\\a"));
  EXPECT_EQ(0, log.LogIniFileEntryAdded("C:\\a.ini", "s", "k"));
  EXPECT_EQ(0, log.LogSysRegSectionAdded("HKEY_CURRENT_USER/x"));
  EXPECT_EQ(0, log.LogDllRegistered("C:\\a.dll"));
  EXPECT_TRUE(NewTempLogs(before).empty());

  ASSERT_EQ(1, log.CreateTempLog());
  std::string path = log.GetLogPath();
  std::vector<std::string> added = NewTempLogs(before);
  ASSERT_EQ(1u, added.size());
  // UNI, up to four hex digits, .tmp, in the temporary directory: the
  // private one where the run is an administrator's
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  EXPECT_EQ(RunsAsAdministrator() ? std::string(PrivateTempFolder()) : std::string(temp), path.substr(0, path.size() - added[0].size()));
  EXPECT_EQ(0u, path.find(temp));
  EXPECT_EQ("", ReadWholeFile(path));
  std::string digits = added[0].substr(3, added[0].size() - 7);
  EXPECT_TRUE(digits.size() >= 1 && digits.size() <= 4 &&
              digits.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos)
      << added[0];
  EXPECT_EQ(".tmp", added[0].substr(added[0].size() - 4));

  // a second temporary log replaces the first
  ASSERT_EQ(1, log.CreateTempLog());
  EXPECT_FALSE(PathExists(path));
  path = log.GetLogPath();
  EXPECT_EQ(1u, NewTempLogs(before).size());
  log.Close();
  EXPECT_FALSE(PathExists(path));  // a temporary log goes with Close
  EXPECT_EQ(0, log.LogFileCreated("C:\\a.txt"));
  EXPECT_TRUE(NewTempLogs(before).empty());
}

// Another process of the user's that finds the name of a temporary log or
// journal first and writes into it: its lines must never be the run's.
std::vector<std::string> g_Planted;
UINT WINAPI PlantingMaker(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR out) {
  const UINT made = MakeTempFileName(folder, prefix, unique, out);
  if (made && g_Planted.size() < 3) {
    WriteWholeFile(out, "FileCreated=C:\\planted.txt\nDllRegistered=C:\\planted.dll\n");
    g_Planted.push_back(out);
  }
  return made;
}

TEST(UninstallLogger, TemporaryFilesAreMadeNewAndHeldNeverTakenOver) {
  TempFolder dir;
  const std::string folder = dir.Path() + "\\";
  for (const char* prefix : {"UNI", "RBJ"}) {
    SCOPED_TRACE(prefix);
    g_Planted.clear();
    char path[PATH_BYTES];
    HANDLE file = CreateNewTempFile(folder.c_str(), prefix, path, PlantingMaker);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(3u, g_Planted.size());
    for (const std::string& planted : g_Planted) EXPECT_NE(planted, path) << "a name someone had made first";
    EXPECT_EQ("", ReadWholeFile(path));
    // nobody else writes to it while the run holds it
    HANDLE other = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(INVALID_HANDLE_VALUE, other);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    CloseHandle(file);
    for (const std::string& planted : g_Planted)
      EXPECT_EQ("FileCreated=C:\\planted.txt\nDllRegistered=C:\\planted.dll\n", ReadWholeFile(planted));
  }
}

TEST(UninstallLogger, TemporaryLogsGoOpenedLogsStay) {
  TempFolder dir;
  std::string kept = dir.File("Uninstall.log");
  WriteWholeFile(kept, "FileCreated=C:\\x\n");
  std::vector<std::string> before = TempFilesMatching("UNI*.tmp");
  {
    CUninstallLogger log;
    ASSERT_EQ(1, log.CreateTempLog());
    std::string temp = log.GetLogPath();
    ASSERT_EQ(1, log.OpenLog(kept.c_str()));
    EXPECT_FALSE(PathExists(temp));  // OpenLog dropped the temporary log
    EXPECT_EQ(kept, log.GetLogPath());
    log.Close();
    EXPECT_EQ("FileCreated=C:\\x\n", ReadWholeFile(kept));

    ASSERT_EQ(1, log.CreateTempLog());  // left for the destructor
  }
  EXPECT_TRUE(NewTempLogs(before).empty());
  EXPECT_TRUE(PathExists(kept));
}

// Runs OpenLog on a thread and answers the message box it must show.
int OpenLogAnsweringTheBox(CUninstallLogger& log, const std::string& path) {
  std::atomic<int> result(-1);
  std::thread caller([&] { result = log.OpenLog(path.c_str()); });
  Robot robot;
  robot.AttachSelf();
  std::string text = robot.AnswerMessageBox("Error", IDOK, 10000);
  EXPECT_EQ("Failed to open uninstall log file in temporary files directory.", text) << path;
  if (text.empty()) {
    // no box came: close any that comes late so that the join cannot hang
    for (int i = 0; i < 50 && result == -1; ++i) {
      if (HWND box = robot.FindWindowNow("#32770", "Error")) PostMessageA(box, WM_CLOSE, 0, 0);
      Sleep(100);
    }
  }
  caller.join();
  return result;
}

TEST(UninstallLogger, OpenLogOfAMissingOrLockedFileSaysSoAndFails) {
  TempFolder dir;
  std::string missing = dir.File("absent.log");
  std::string locked = dir.File("locked.log");
  WriteWholeFile(locked, "FileCreated=C:\\x\n");
  HANDLE holder = CreateFileA(locked.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);

  std::vector<std::string> before = TempFilesMatching("UNI*.tmp");
  for (const std::string& path : {missing, locked}) {
    CUninstallLogger log;
    ASSERT_EQ(1, log.CreateTempLog());
    std::string temp = log.GetLogPath();
    EXPECT_EQ(0, OpenLogAnsweringTheBox(log, path));
    EXPECT_STREQ("", log.GetLogPath());
    EXPECT_FALSE(PathExists(temp));  // the temporary log is gone all the same
    EXPECT_EQ(0, log.LogFileCreated("C:\\a.txt"));
  }
  CloseHandle(holder);
  EXPECT_FALSE(PathExists(missing));
  EXPECT_EQ("FileCreated=C:\\x\n", ReadWholeFile(locked));
  EXPECT_TRUE(NewTempLogs(before).empty());
}

}  // namespace

namespace {

// An earlier log from a Windows that ran the program in another code page
// joins this run's in this run's code page, under one code-page line.
TEST(UninstallLogger, AnEarlierLogOfAnotherCodePageIsMergedInThisOne) {
  if (GetACP() != 1252) GTEST_SKIP() << "the bytes below are those of code page 1252, not " << GetACP();
  TempFolder dir;
  CUninstallLogger log;
  ASSERT_EQ(1, log.CreateTempLog());
  ASSERT_EQ(1, log.LogFileCreated("C:\\App\\b.txt"));
  // "café" in UTF-8, as a program in UTF-8 wrote it
  const std::string earlier = "DirectoryCreated=C:\\App\nCodePage=65001\nFileCreated=C:\\App\\caf\xC3\xA9.txt\n";
  const std::string merged = dir.File("Uninstall.log");
  ASSERT_EQ(1, log.CopyMergedLogTo(merged.c_str(), earlier.c_str(), earlier.size()));
  EXPECT_EQ("CodePage=1252\nDirectoryCreated=C:\\App\nFileCreated=C:\\App\\caf\xE9.txt\nFileCreated=C:\\App\\b.txt\n",
            ReadWholeFile(merged));
  // one of this code page stays as it is
  const std::string same = "FileCreated=C:\\App\\caf\xE9.txt\n";
  ASSERT_EQ(1, log.CopyMergedLogTo(merged.c_str(), same.c_str(), same.size()));
  EXPECT_EQ(same + "FileCreated=C:\\App\\b.txt\n", ReadWholeFile(merged));
  log.Close();
}

}  // namespace
