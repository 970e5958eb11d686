#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <thread>

#include "../e2e/Robot.h"
#include "TestSupport.h"
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

  std::string copy = dir.File("Uninstall.log");
  WriteWholeFile(copy, "old content that must be replaced");
  ASSERT_EQ(1, log.CopyLogTo(copy.c_str()));  // while the log is open
  EXPECT_EQ(
      "DirectoryCreated=C:\\Program Files\\Example App\n"
      "FileCreated=C:\\Program Files\\Example App\\readme.txt\n"
      "IniFileEntryAdded=C:\\App\\app.ini,Settings,Key,with,commas\n"
      "SysRegSectionAdded=HKEY_LOCAL_MACHINE/Software/Example App\n"
      "DllRegistered=C:\\App\\ext.dll\n",
      ReadWholeFile(copy));
  EXPECT_EQ(std::string::npos, ReadWholeFile(copy).find('\r'));
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
  EXPECT_EQ(1u, NewTempLogs(before).size());
  log.Close();
  EXPECT_FALSE(PathExists(path));  // a temporary log goes with Close
  EXPECT_EQ(0, log.LogFileCreated("C:\\a.txt"));
  EXPECT_TRUE(NewTempLogs(before).empty());
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

TEST(UninstallLogger, OpenLogOfAMissingFileSaysSoAndFails) {
  TempFolder dir;
  CUninstallLogger log;
  int result = -1;
  std::string missing = dir.File("absent.log");
  std::thread caller([&] { result = log.OpenLog(missing.c_str()); });
  Robot robot;
  robot.AttachSelf();
  EXPECT_EQ("Failed to open uninstall log file in temporary files directory.",
            robot.AnswerMessageBox("Error", IDOK, 10000));
  caller.join();
  EXPECT_EQ(0, result);
  EXPECT_STREQ("", log.GetLogPath());
  EXPECT_EQ(0, log.LogFileCreated("C:\\a.txt"));
}

}  // namespace
