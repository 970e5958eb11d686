// Double-byte names under the ANSI code page 932, where the trail byte of
// "表" (0x95 0x5C) is a backslash: the installation goes into a folder whose
// name ends in one, stores a file whose name ends in one, and the
// uninstaller takes it all away again without hanging.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "../win32/Robot.h"
#include "../win32/TestSupport.h"
#include "E2eSupport.h"
#include "EnglishText.h"
#include "TestPaths.h"
#include "efs/EfsFormat.h"

namespace {

const char kHyo[] = "\x95\x5C";  // 表

TEST(CodePage932, InstallsIntoAndUninstallsFromAFolderEndingInATrailByte) {
  REQUIRE_CODE_PAGE(932, GetACP() == 932, "needs the ANSI code page 932, not " << GetACP());
  TempFolder dir;
  const std::string source = dir.File((std::string(kHyo) + ".txt").c_str());
  REQUIRE_CODE_PAGE(932, CreateDirectoryA(dir.File("probe").c_str(), NULL), "cannot make folders here");
  WriteWholeFile(source, "trail byte\r\n");
  REQUIRE_CODE_PAGE(932, ReadWholeFile(source) == "trail byte\r\n",
                        "no double-byte file names here: the host lacks the ja_JP.UTF-8 locale");
  const std::string target = dir.File((std::string("App") + kHyo).c_str());

  SetupSource file;
  file.From = source;  // its entry name is the whole "表.txt"
  const std::string setup = BuildSetupFile(dir,
                                           "QSP40\r\n[Global]\r\nApplicationName = Hyo\r\nDefaultDir = " + target +
                                               "\r\n[Files]\r\n" + kHyo + ".txt, %MAINDIR%" + kHyo + ".txt\r\n",
                                           {file});

  Robot robot;
  HWND w = StartSetup(robot, setup);
  ASSERT_TRUE(w);
  ASSERT_NO_FATAL_FAILURE(InstallWithDefaults(robot, w));
  EXPECT_EQ("trail byte\r\n", ReadWholeFile(target + "\\" + kHyo + ".txt"));
  // the uninstaller's files are inside the folder, not beside it
  for (const char* f : {"Uninstall.exe", "Uninstall.log", "Translations.ini"})
    EXPECT_TRUE(PathExists(target + "\\" + f)) << f;
  EXPECT_FALSE(PathExists(dir.File("Uninstall.log")));

  Robot un;
  ASSERT_NO_FATAL_FAILURE(UninstallWithYes(un, target + "\\Uninstall.exe", dir.Path(),
                                           "the uninstall result (a folder walk that never ends would hang here)"));
  EXPECT_TRUE(un.WaitUntil([&] { return !PathExists(target); }, 60000, "the install folder's removal"));
}

}  // namespace
