// What the installer takes from the script's [Global] and [Background]
// sections before its user interface starts.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "Robot.h"
#include "TestPaths.h"
#include "TestSupport.h"
#include "driver/SetupState.h"
#include "driver/Startup.h"

namespace {

// Loads the script into the run's shared parser and points the table at the
// bundled English texts.
void UseScript(const std::string& text) {
  ASSERT_EQ(1, SetupState::Project.LoadText(text.data(), static_cast<uint32_t>(text.size())));
  ASSERT_EQ(1, SetupState::Translations.SetFile(QS_SOURCE_DIR "\\translations\\English.ini"));
  strcpy(SetupState::ExePath, "C:\\media\\setup\\Setup.exe");
  SetupState::InstallDir[0] = '\0';
  SetupState::AllowChangeInstallDir = SetupState::ShowEulaPage = SetupState::UseBackground = 7;
}

// Runs ReadInstallerSettings expecting it to fail with one message box;
// returns the box's text.
std::string FailingSettings(const char* commandLine) {
  std::atomic<int> outcome(-1);
  std::thread caller([&] { outcome = ReadInstallerSettings(commandLine); });
  Robot robot;
  robot.AttachSelf();
  std::string text = robot.AnswerMessageBox("Error", IDOK, 10000);
  for (int i = 0; i < 50 && outcome == -1; ++i) {
    if (HWND box = robot.FindWindowNow("#32770", NULL)) PostMessageA(box, WM_CLOSE, 0, 0);
    Sleep(100);
  }
  caller.join();
  EXPECT_EQ(RUN_FAILED, outcome) << text;
  return text;
}

TEST(InstallerSettings, FlagsAreSetOnlyByTrueInCapitals) {
  UseScript(
      "QSP40\r\n[Global]\r\nApplicationName = Example App\r\nAllowChangeInstallDir = TRUE\r\n"
      "ShowEULAPage = true\r\n[Background]\r\nUseBackground = TRUE\r\n");
  EXPECT_EQ(RUN_DONE, ReadInstallerSettings(NULL));
  EXPECT_EQ(1, SetupState::AllowChangeInstallDir);
  EXPECT_EQ(0, SetupState::ShowEulaPage);
  // [Background] is the background step's to read (BackgroundWindowTest)
  EXPECT_EQ(7, SetupState::UseBackground);
  EXPECT_STREQ("C:\\", SetupState::InstallDir);  // DefaultDir missing

  for (const char* value : {"TRUEX", "TRUE ", "FALSE", "1", ""}) {
    UseScript(std::string("QSP40\n[Global]\nApplicationName = A\nShowEULAPage = ") + value +
              "\nAllowChangeInstallDir=TRUE\n");
    EXPECT_EQ(RUN_DONE, ReadInstallerSettings(NULL));
    EXPECT_EQ(0, SetupState::ShowEulaPage) << value;
    EXPECT_EQ(1, SetupState::AllowChangeInstallDir) << value;
  }
}

TEST(InstallerSettings, DefaultDirIsExpandedWithTheSourceFolderOfTheRun) {
  UseScript("QSP40\n[Global]\nApplicationName = Example App\nDefaultDir = %PROGRAMFILES%Example App\n");
  EXPECT_EQ(RUN_DONE, ReadInstallerSettings(NULL));
  const std::string programFiles = ProgramFilesDir();
  ASSERT_FALSE(programFiles.empty());
  EXPECT_EQ(programFiles + "\\Example App", SetupState::InstallDir);

  // Without the option the source is the running file's folder...
  UseScript("QSP40\n[Global]\nApplicationName = Example App\nDefaultDir = %SOURCEDIR%%APPNAME%|%SOURCEDRIVE%\n");
  EXPECT_EQ(RUN_DONE, ReadInstallerSettings(NULL));
  EXPECT_STREQ("C:\\media\\setup\\Example App|C:\\", SetupState::InstallDir);
  // ...with it, the folder the first slice was started from.
  EXPECT_EQ(RUN_DONE, ReadInstallerSettings("D:"));
  EXPECT_STREQ("D:\\Example App|D:\\", SetupState::InstallDir);
  EXPECT_EQ(RUN_DONE, ReadInstallerSettings("E:\\disk one"));
  EXPECT_STREQ("E:\\disk one\\Example App|E:\\", SetupState::InstallDir);
}

TEST(InstallerSettings, AMissingApplicationNameOrAnUnexpandableFolderStopsTheRun) {
  for (const char* script : {"QSP40\n[Global]\nDefaultDir = C:\\x\n",
                             "QSP40\n[Global]\nApplicationName =\n", "QSP40\n"}) {
    UseScript(script);
    EXPECT_EQ("The QSP file Global section defines no ApplicationName.", FailingSettings(""))
        << script;
  }
  UseScript("QSP40\n[Global]\nApplicationName = A\nDefaultDir = %PROGRAMFILES%%NOPE%\n");
  EXPECT_EQ("An unspecified error occurred. The installation will be terminated.",
            FailingSettings(""));
  EXPECT_STREQ("", SetupState::InstallDir);
  UseScript("QSP40\n[Global]\nApplicationName = A\nDefaultDir = C:\\" + std::string(300, 'x') + "\n");
  EXPECT_EQ("An unspecified error occurred. The installation will be terminated.",
            FailingSettings(""));
  EXPECT_STREQ("", SetupState::InstallDir);
}

}  // namespace
