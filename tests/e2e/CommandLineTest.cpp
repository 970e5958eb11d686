// The setup program's command line as a user or a deployment script gives
// it: options refused by name, /? listing them, /D= on the destination page
// and /LOG= beside the wizard, and a setup file started with the split
// chain's option that stays.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "../win32/Robot.h"
#include "../win32/TestSupport.h"
#include "E2eSupport.h"
#include "EnglishText.h"
#include "resources/resource.h"

namespace {

const DWORD kTimeout = 20000;

std::string Script(const std::string& target) {
  return "QSP40\r\n[Global]\r\nApplicationName = Command Line App\r\nDefaultDir = " + target +
         "\r\nAllowChangeInstallDir = TRUE\r\n[Files]\r\na.txt, %MAINDIR%a.txt\r\n";
}

struct BoxRun {
  RobotMessageBox Box;
  DWORD Code = 99;
};

// Starts setup with arguments, reads its one box, presses OK, waits for the end.
BoxRun RunToBox(const std::string& setup, const std::string& arguments, const char* caption) {
  BoxRun run;
  Robot robot;
  if (!robot.Start("\"" + setup + "\" " + arguments)) {
    ADD_FAILURE() << "cannot start " << setup;
    return run;
  }
  run.Box = robot.WaitForMessageBox(caption, kTimeout);
  if (!run.Box.Window) return run;
  robot.Answer(run.Box, IDOK);
  EXPECT_TRUE(robot.WaitForExit(kTimeout, &run.Code)) << arguments;
  return run;
}

TEST(CommandLine, AnUnknownOptionIsRefusedByNameWithExitCode5) {
  TempFolder dir;
  const std::string target = dir.File("App");
  const std::string setup = BuildSetupFile(dir, Script(target), {{"a.txt", "a"}});
  // what other installers take is no option of ours, and never found
  // inside another word
  for (const char* line : {"/SILENT", "/VERYSILENT /SUPPRESSMSGBOXES", "/Sx", "/DIR=C:\\x", "install"}) {
    SCOPED_TRACE(line);
    BoxRun run = RunToBox(setup, line, "Error");
    ASSERT_TRUE(run.Box.Window);
    std::string first = line;
    first = first.substr(0, first.find(' '));
    EXPECT_NE(std::string::npos, run.Box.Text.find("Unknown command-line option: " + first)) << run.Box.Text;
    EXPECT_EQ(5u, run.Code);
  }
  EXPECT_FALSE(PathExists(target));
}

TEST(CommandLine, QuestionMarkListsTheOptions) {
  TempFolder dir;
  const std::string setup = BuildSetupFile(dir, Script(dir.File("App")), {{"a.txt", "a"}});
  for (const char* line : {"/?", "-?"}) {
    BoxRun run = RunToBox(setup, line, "Setup");
    ASSERT_TRUE(run.Box.Window) << line;
    for (const char* option : {"/S", "/D=FOLDER", "/LOG=FILE", "/?", "Exit codes"})
      EXPECT_NE(std::string::npos, run.Box.Text.find(option)) << option << " in " << run.Box.Text;
    EXPECT_EQ(0u, run.Code);
  }
}

TEST(CommandLine, TheDestinationOfTheCommandLineIsOnTheDestinationPage) {
  TempFolder dir;
  const std::string setup = BuildSetupFile(dir, Script(dir.File("Default")), {{"a.txt", "a"}});
  const std::string wanted = dir.File("Given Folder\\App Two");
  const std::string log = dir.File("wizard.log");
  Robot robot;
  ASSERT_TRUE(robot.Start("\"" + setup + "\" \"/LOG=" + log + "\" /d=" + wanted));
  HWND w = robot.WaitForWindow("#32770", En("WELCOME").c_str(), kTimeout);
  ASSERT_TRUE(w);
  ASSERT_NO_FATAL_FAILURE(InstallWithDefaults(robot, w, [&](HWND page) {
    EXPECT_EQ(wanted, Robot::ItemText(page, IDC_DESTINATION));
  }));
  EXPECT_EQ("a", ReadWholeFile(wanted + "\\a.txt"));
  EXPECT_FALSE(PathExists(dir.File("Default")));
  // the wizard's run writes the same log as a silent one
  const std::string text = ReadWholeFile(log);
  for (const std::string& line : {"FileCreated: " + wanted + "\\a.txt", "Uninstaller written: " + wanted +
                                  "\\Uninstall.exe", std::string("Result: exit code 0, done")})
    EXPECT_NE(std::string::npos, text.find(line)) << line << " in\n" << text;
}

// Only the temporary copy a split installation made removes itself; a
// setup file that the user started with the chain's option stays, after a
// cancel and after an installation.
TEST(CommandLine, ASetupStartedWithTheSourceOptionByAUserStays) {
  TempFolder dir;
  const std::string target = dir.File("App");
  const std::string setup = BuildSetupFile(dir, Script(target), {{"a.txt", "a"}});
  const std::string bytes = ReadWholeFile(setup);
  {
    Robot robot;
    ASSERT_TRUE(robot.Start("\"" + setup + "\" -originalsourcedirlocation C:\\"));
    HWND w = robot.WaitForWindow("#32770", En("WELCOME").c_str(), kTimeout);
    ASSERT_TRUE(w);
    ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
    robot.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDYES, kTimeout);
    DWORD code = 99;
    ASSERT_TRUE(robot.WaitForExit(kTimeout, &code));
    EXPECT_EQ(2u, code);
  }
  {
    Robot robot;
    ASSERT_TRUE(robot.Start("\"" + setup + "\" -originalsourcedirlocation C:\\"));
    HWND w = robot.WaitForWindow("#32770", En("WELCOME").c_str(), kTimeout);
    ASSERT_TRUE(w);
    ASSERT_NO_FATAL_FAILURE(InstallWithDefaults(robot, w));
  }
  EXPECT_TRUE(PathExists(target + "\\a.txt"));
  // a self-removal would still be running or have deleted the file by now
  Sleep(2000);
  EXPECT_EQ(0, RunningCommandInterpreters());
  EXPECT_TRUE(ReadWholeFile(setup) == bytes) << "the user's setup file is kept";
}

}  // namespace
