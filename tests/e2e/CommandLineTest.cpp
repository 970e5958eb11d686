// The setup program's command line as a user or a deployment script gives
// it: after an unquoted path through folders named beyond ASCII, options
// refused by name (silently where /S is on the line), /? listing them, /D=
// on the destination page and /LOG= beside the wizard, and a setup file
// started with the split chain's option that stays.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <windows.h>

#include <string>
#include <vector>

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

std::string Utf8(const std::wstring& w) {
  std::string s(w.size() * 3 + 1, '\0');
  s.resize((size_t)WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &s[0], (int)s.size(), NULL, NULL) - 1);
  return s;
}

// Started by a path with no quotes around it, as CreateProcessW(NULL, ...)
// allows when the path has no blank, through folders whose names are not
// ASCII: the installer and then its uninstaller take the options after it.
TEST(CommandLine, AnUnquotedPathThroughAFolderNamedBeyondAsciiStarts) {
  TempFolder dir;
  ASSERT_EQ(std::string::npos, dir.Path().find(' '));
  const std::wstring base(dir.Path().begin(), dir.Path().end());
  // the legacy program runs in code page 1252: names that it can spell
  const char* legacy = getenv("QS_LEGACY_PROGRAM");
  const bool ansi = legacy && legacy[0] == '1';
  const std::wstring media = base + (ansi ? L"\\Caf\u00e9" : L"\\\u0414\u043c\u0438\u0442\u0440\u0438\u0439");
  const std::wstring downloads =
      media + (ansi ? L"\\T\u00e9l\u00e9chargements" : L"\\\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0438");
  const std::wstring target = base + (ansi ? L"\\\u00c9t\u00e9" : L"\\\u8868");
  const std::string setup = BuildSetupFile(dir, Script(Utf8(target)), {{"a.txt", "a"}});
  ASSERT_TRUE(CreateDirectoryW(media.c_str(), NULL));
  ASSERT_TRUE(CreateDirectoryW(downloads.c_str(), NULL));
  ASSERT_TRUE(CopyFileW(Wide(setup).c_str(), (downloads + L"\\Setup.exe").c_str(), FALSE));

  WatchedRun install = RunWatched(downloads + L"\\Setup.exe /S", NULL, kTimeout);
  EXPECT_EQ(0u, install.Code);
  EXPECT_TRUE(install.Windows.empty()) << install.Windows.front();
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((target + L"\\a.txt").c_str()));
  WatchedRun uninstall = RunWatched(target + L"\\Uninstall.exe /S", NULL, kTimeout);
  EXPECT_EQ(0u, uninstall.Code);
  EXPECT_TRUE(uninstall.Windows.empty()) << uninstall.Windows.front();
  Robot wait;
  EXPECT_TRUE(wait.WaitUntil([&] { return GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES; },
                             kTimeout, "the uninstaller going"));
  RemoveTree(media);
}

// Whatever is wrong on a line that holds /S, nothing is shown: an option
// too long for any buffer before it, /D= with an option after it (which
// the box without /S names), a quote in the folder.
TEST(CommandLine, ALineWithSIsRefusedWithoutAWindowWhateverComesBefore) {
  TempFolder dir;
  const std::string target = dir.File("App");
  const std::string setup = BuildSetupFile(dir, Script(target), {{"a.txt", "a"}});
  const std::string log = dir.File("refused.log");
  struct {
    std::string arguments;
    const char* logged;
  } cases[] = {
      {"\"/LOG=C:\\" + std::string(1100, 'x') + ".log\" /S", nullptr},
      {"/S /D=" + dir.File("My App") + " /LOG=" + log, "/D= must be the last option"},
      {"/LOG=" + log + " /S /D=" + dir.File("My\"App"), "No usable folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.substr(0, 60));
    DeleteFileA(log.c_str());
    WatchedRun run = RunWatched(Wide("\"" + setup + "\" " + c.arguments), NULL, kTimeout);
    EXPECT_EQ(5u, run.Code);
    EXPECT_TRUE(run.Windows.empty()) << run.Windows.front();
    if (c.logged) {
      EXPECT_NE(std::string::npos, ReadWholeFile(log).find(c.logged)) << ReadWholeFile(log);
    }
  }
  BoxRun run = RunToBox(setup, "/D=C:\\Apps\\My App /LOG=C:\\trial.log", "Error");
  ASSERT_TRUE(run.Box.Window);
  EXPECT_NE(std::string::npos, run.Box.Text.find("/D= must be the last option")) << run.Box.Text;
  EXPECT_NE(std::string::npos, run.Box.Text.find("/LOG=C:\\trial.log")) << run.Box.Text;
  EXPECT_EQ(5u, run.Code);
  EXPECT_FALSE(PathExists(target));
  EXPECT_FALSE(PathExists("C:\\Apps\\My App"));
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
    for (const char* option : {"/S", "/D=FOLDER", "/LOG=FILE", "/ALLUSERS", "/CURRENTUSER", "/?", "Exit codes", "8 administrator rights"})
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
