// Double-byte names under the ANSI code page 932, where the trail byte of
// "表" (0x95 0x5C) is a backslash: the installation goes into a folder whose
// name ends in one, stores a file whose name ends in one, and the
// uninstaller takes it all away again without hanging.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "../win32/TestSupport.h"
#include "EnglishText.h"
#include "Robot.h"
#include "TestPaths.h"
#include "efs/EFSBuilder.h"
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

  WriteWholeFile(dir.File("default.qsp"), "QSP40\r\n[Global]\r\nApplicationName = Hyo\r\nDefaultDir = " + target +
                                              "\r\n[Files]\r\n" + kHyo + ".txt, %MAINDIR%" + kHyo + ".txt\r\n");
  CEFSBuilder b;
  b.SetStubFile(QS_STUB_PATH);
  b.AddFile(dir.File("default.qsp").c_str(), 1);
  b.AddFile(kEnglish, 1, "Translations.ini");
  b.AddFile(source.c_str(), 1);  // its entry name is the whole "表.txt"
  const std::string setup = dir.File("Setup.exe");
  b.Build(setup.c_str(), nullptr, InstallerSignature);

  Robot robot;
  ASSERT_TRUE(robot.Start("\"" + setup + "\""));
  HWND w = robot.WaitForWindow("#32770", En("WELCOME").c_str(), 20000);
  ASSERT_TRUE(w);
  for (const char* page : {"CHOOSE_DESITNATION_LOCATION", "START_INSTALLATION", "INSTALLING"}) {
    ASSERT_TRUE(Robot::Press(w, 1001)) << page;
    w = robot.WaitForWindow("#32770", En(page).c_str(), 20000);
    ASSERT_TRUE(w) << page;
  }
  ASSERT_TRUE(robot.WaitUntil(
      [&] { return Robot::ItemText(w, 1001) == En("FINISH") && IsWindowEnabled(GetDlgItem(w, 1001)); }, 60000,
      "the finish page"));
  Robot::Settle(w);
  ASSERT_TRUE(Robot::Press(w, 1001));
  DWORD code = 1;
  ASSERT_TRUE(robot.WaitForExit(20000, &code));
  EXPECT_EQ(0u, code);
  EXPECT_EQ("trail byte\r\n", ReadWholeFile(target + "\\" + kHyo + ".txt"));
  // the uninstaller's files are inside the folder, not beside it
  for (const char* f : {"Uninstall.exe", "Uninstall.log", "Translations.ini"})
    EXPECT_TRUE(PathExists(target + "\\" + f)) << f;
  EXPECT_FALSE(PathExists(dir.File("Uninstall.log")));

  Robot un;
  ASSERT_TRUE(un.Start("\"" + target + "\\Uninstall.exe\"", dir.Path().c_str()));
  EXPECT_EQ(En("YOU_ARE_ABOUT_TO_UNINSTALL"), un.AnswerMessageBox(En("UNINSTALL_TITLE").c_str(), IDYES, 20000));
  HWND result = NULL;
  ASSERT_TRUE(un.WaitUntil(
      [&] {
        result = un.FindWindowNow("#32770", En("UNINSTALL_TITLE").c_str());
        return result && IsWindowVisible(GetDlgItem(result, IDOK));
      },
      60000, "the uninstall result (a folder walk that never ends would hang here)"));
  Robot::Settle(result);
  EXPECT_EQ(En("UNINSTALLATION_IS_NOW_FINISHED"), Robot::ItemText(result, 1013));
  ASSERT_TRUE(Robot::Press(result, IDOK));
  ASSERT_TRUE(un.WaitForExit(20000, &code));
  EXPECT_TRUE(un.WaitUntil([&] { return !PathExists(target); }, 60000, "the install folder's removal"));
}

}  // namespace
