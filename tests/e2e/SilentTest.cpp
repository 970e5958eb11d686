// Deployed without a person: /S installs with the script's defaults and
// uninstalls without a question, never showing a window (a watcher lists the
// visible top-level windows every 100 ms); /PASSIVE does the same behind its
// progress window alone. The exit code and the log say what happened.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "../win32/Robot.h"
#include "../win32/TestSupport.h"
#include "E2eSupport.h"
#include "EnglishText.h"

namespace {

const DWORD kTimeout = 60000;

// Runs line (in the ANSI code page, as the paths of these tests are) to its
// end in cwd, watching its windows.
WatchedRun RunWatched(const std::string& line, const char* cwd = NULL) {
  WatchedRun run = ::RunWatched(Wide(line, CP_ACP), cwd ? Wide(cwd, CP_ACP).c_str() : NULL, kTimeout);
  EXPECT_TRUE(run.Ended) << line;
  return run;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

// What a run without a person showed: nothing with /S; with /PASSIVE its
// window of the application's name and its progress bar, and no other (no
// message box, no wizard, no background). progressSeen: the run lasts long
// enough for the watcher to see it.
const char kPassiveWindow[] = "QuillsetPassive \"Silent App\" +progress";

void ExpectShown(const WatchedRun& run, const std::string& option, bool progressSeen) {
  if (option == "/S") {
    EXPECT_EQ("", Join(run.Windows)) << "a silent run showed a window";
    return;
  }
  for (const std::string& w : run.Windows) EXPECT_EQ(kPassiveWindow, w);
  if (progressSeen) {
    EXPECT_FALSE(run.Windows.empty()) << "no progress window seen";
  }
}

std::string TempPath(const char* name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + name;
}

const char kKey[] = "Software\\QuillsetTest-Silent";

std::string Script(const std::string& defaultDir, const std::string& more = "", const std::string& iniLines = "") {
  return "QSP40\r\n[Global]\r\nApplicationName = Silent App\r\nDefaultDir = " + defaultDir +
         "\r\n[Files]\r\na.txt, %MAINDIR%a.txt\r\nb.bin, %MAINDIR%data\\b.bin\r\n"
         "[INIFiles]\r\n%MAINDIR%app.ini,Settings,Folder,%MAINDIR%\r\n" + iniLines +
         "[SysRegUninstall]\r\nHKEY_CURRENT_USER/" + std::string(kKey) +
         "\r\n[SysRegString]\r\nHKEY_CURRENT_USER/" + kKey + "/InstallDir=%MAINDIR%\r\n" + more;
}

class Silent : public ::testing::Test {
 protected:
  TempFolder dir;
  const std::string payload = RandomBytes(70000, 11);

  void TearDown() override {
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
  }
  std::string Build(const std::string& script) {
    return BuildSetupFile(dir, script, {{"a.txt", "alpha"}, {"b.bin", payload}});
  }
  // Waits until the uninstaller's self-removal has taken folder away.
  void ExpectGone(const std::string& folder) {
    Robot wait;
    EXPECT_TRUE(wait.WaitUntil([&] { return !PathExists(folder) && RunningCommandInterpreters() == 0; }, kTimeout,
                               "the uninstaller's self-removal"));
  }
};

TEST_F(Silent, InstallAndUninstallWithoutAWindowAndLogEveryFile) {
  for (const std::string option : {"/S", "/PASSIVE"}) {
    SCOPED_TRACE(option);
    const std::string top = option == "/S" ? "C:\\Silent Test" : "C:\\Passive Test";
    const std::string target = top + "\\App";
    ASSERT_FALSE(PathExists(target)) << "left by an earlier run";
    // INI files the installation makes: ANSI where the machine's code page
    // holds every character (as Windows writes them), else UTF-16
    std::string script = Script(dir.File("Default"), "[Execute]\r\ncmd.exe /c exit 3\r\n",
                                "%MAINDIR%ansi.ini,Names,Word,Caf\xC3\xA9\r\n"
                                "%MAINDIR%wide.ini,Names,Word,\xE6\x97\xA5\xE6\x9C\xAC\r\n");
    std::vector<SetupSource> files = {{"a.txt", "alpha"}, {"b.bin", payload}};
    if (option == "/PASSIVE") {
      // long enough for the watcher's 100 ms to see the window
      files.push_back({"big.bin", RandomBytes(32 << 20, 12)});
      script.insert(script.find("[INIFiles]"), "big.bin, %MAINDIR%big.bin\r\n");
    }
    const std::string setup = BuildSetupFile(dir, script, files);
    const std::string log = TempPath("Quillset-Setup.log");
    DeleteFileA(log.c_str());

    WatchedRun install = RunWatched("\"" + setup + "\" " + option + " /D=" + target);
    EXPECT_EQ(0u, install.Code);
    ExpectShown(install, option, true);
    EXPECT_EQ("alpha", ReadWholeFile(target + "\\a.txt"));
    EXPECT_TRUE(ReadWholeFile(target + "\\data\\b.bin") == payload);
    for (const char* f : {"Uninstall.exe", "Uninstall.log", "Translations.ini", "app.ini"})
      EXPECT_TRUE(PathExists(target + "\\" + f)) << f;
    EXPECT_TRUE(KeyExists(kKey));
    EXPECT_FALSE(PathExists(dir.File("Default"))) << "/D= stands for DefaultDir";
    DWORD machine = 0;
    GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                   reinterpret_cast<LPWSTR>(&machine), sizeof machine / sizeof(WCHAR));
    char cafe[8] = "";
    WideCharToMultiByte(machine, 0, L"Caf\xe9", -1, cafe, sizeof cafe, NULL, NULL);
    // the folder without quotes ends at its blank
    EXPECT_EQ("[Settings]\r\nFolder=" + top.substr(0, top.find(' ')) + "\r\n", ReadWholeFile(target + "\\app.ini"));
    EXPECT_EQ(std::string("[Names]\r\nWord=") + cafe + "\r\n", ReadWholeFile(target + "\\ansi.ini"))
        << "machine code page " << machine;
    const std::string wide = ReadWholeFile(target + "\\wide.ini");
    const char* legacy = getenv("QS_LEGACY_PROGRAM");
    if (legacy && legacy[0] == '1') {
      // the program's code page is the machine's: the text was that at load
      EXPECT_EQ(0u, wide.find("[Names]\r\nWord=")) << wide;
    } else {
      const wchar_t kWide[] = L"\xFEFF[Names]\r\nWord=\x65e5\x672c\r\n";
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(kWide), sizeof kWide - sizeof(wchar_t)), wide);
    }

    // without /LOG= the log is in its documented place, for either mode
    const std::string text = ReadWholeFile(log);
    for (const std::string& line :
         {"FileCreated: " + target + "\\a.txt", "FileCreated: " + target + "\\data\\b.bin",
          "DirectoryCreated: " + target, "IniFileEntryAdded: " + target + "\\app.ini, section [Settings], key Folder",
          std::string("Program started: cmd.exe /c exit 3"), std::string("Program ended: exit code 3"),
          std::string("Result: exit code 0, done")})
      EXPECT_NE(std::string::npos, text.find(line)) << line << " in\n" << text;

    const std::string uninstallLog = dir.File("uninstall.log");
    WatchedRun uninstall =
        RunWatched("\"" + target + "\\Uninstall.exe\" " + option + " /LOG=" + uninstallLog, dir.Path().c_str());
    EXPECT_EQ(0u, uninstall.Code);
    ExpectShown(uninstall, option, false);
    ExpectGone(target);
    EXPECT_FALSE(KeyExists(kKey));
    const std::string un = ReadWholeFile(uninstallLog);
    for (const std::string& line :
         {"File removed: " + target + "\\data\\b.bin",
          "INI entry removed: " + target + "\\ansi.ini, section [Names], key Word",
          "Registry key removed: HKEY_CURRENT_USER/" + std::string(kKey)})
      EXPECT_NE(std::string::npos, un.find(line)) << line << " in\n" << un;
    EXPECT_NE(std::string::npos, un.find("Result: exit code 0")) << un;
    RemoveDirectoryA(top.c_str());
  }
}

// Nothing in [Files]: the folder is made for the uninstaller, and goes with it.
TEST_F(Silent, AnInstallationWithoutFilesStillGetsItsUninstaller) {
  const std::string target = dir.File("No Files");
  std::string script = Script(target);
  script.erase(script.find("[Files]"), script.find("[INIFiles]") - script.find("[Files]"));
  WatchedRun install = RunWatched("\"" + BuildSetupFile(dir, script, {}) + "\" /S");
  ASSERT_EQ(0u, install.Code);
  EXPECT_TRUE(PathExists(target + "\\Uninstall.exe"));
  EXPECT_EQ(0u, RunWatched("\"" + target + "\\Uninstall.exe\" /S", dir.Path().c_str()).Code);
  ExpectGone(target);
  EXPECT_FALSE(KeyExists(kKey));
}

// An uninstall without a person asks nothing: a folder with a file of the
// user's stays with that file, and that still counts as success. The log
// names the run that answered.
TEST_F(Silent, UninstallKeepsTheUsersFilesWithoutAsking) {
  for (const std::string option : {"/s", "/passive"}) {
    SCOPED_TRACE(option);
    const std::string target = dir.File(("Kept App " + option.substr(1)).c_str());
    const std::string setup = Build(Script(target));
    WatchedRun install = RunWatched("\"" + setup + "\" /S");
    ASSERT_EQ(0u, install.Code);
    WriteWholeFile(target + "\\data\\mine.txt", "mine");
    const std::string log = dir.File(("un-" + option.substr(1) + ".log").c_str());
    WatchedRun uninstall =
        RunWatched("\"" + target + "\\Uninstall.exe\" " + option + " /log=\"" + log + "\"", dir.Path().c_str());
    EXPECT_EQ(0u, uninstall.Code);
    ExpectShown(uninstall, option == "/s" ? "/S" : "/PASSIVE", false);
    Robot wait;
    EXPECT_TRUE(wait.WaitUntil([&] { return !PathExists(target + "\\Uninstall.exe"); }, kTimeout, "the uninstaller going"));
    EXPECT_EQ("mine", ReadWholeFile(target + "\\data\\mine.txt"));
    EXPECT_FALSE(PathExists(target + "\\a.txt"));
    EXPECT_FALSE(PathExists(target + "\\data\\b.bin"));
    const std::string text = ReadWholeFile(log);
    EXPECT_NE(std::string::npos, text.find(option == "/s" ? "Answer: No (silent run)" : "Answer: No (passive run)"))
        << text;
    EXPECT_EQ(std::string::npos, text.find(option == "/s" ? "(passive run)" : "(silent run)")) << text;
    EXPECT_NE(std::string::npos, text.find("Folder kept with the user's files: " + target + "\\data")) << text;
  }
}

// Each failure is rolled back as with the wizard, its text in the log and
// its meaning in the exit code.
TEST_F(Silent, FailuresGoToTheLogAndTheExitCode) {
  const std::string failing = Build(Script(dir.File("Failing App"), "[Execute]\r\n%MAINDIR%no such program.exe\r\n"));
  for (const std::string option : {"/S", "/PASSIVE"}) {
    SCOPED_TRACE("a failing [Execute] line, " + option);
    const std::string log = dir.File("failing.log");
    WatchedRun run = RunWatched("\"" + failing + "\" /LOG=" + log + " " + option);
    EXPECT_EQ(1u, run.Code);
    ExpectShown(run, option, false);
    EXPECT_FALSE(PathExists(dir.File("Failing App"))) << "rolled back";
    EXPECT_FALSE(KeyExists(kKey)) << "rolled back";
    const std::string text = ReadWholeFile(log);
    std::string failure = En("COULD_NOT_EXECUTE_FILE");
    failure = failure.substr(0, failure.find('\n'));
    EXPECT_NE(std::string::npos, text.find("Failure: " + failure)) << text;
    EXPECT_NE(std::string::npos, text.find("Rollback")) << text;
    EXPECT_NE(std::string::npos, text.find("Result: exit code 1")) << text;
  }
  {
    SCOPED_TRACE("a damaged entry");
    const std::string target = dir.File("Damaged App");
    const std::string setup = Build(Script(target));
    std::string bytes = ReadWholeFile(setup);
    bytes[StoredByteOf(bytes, "b.bin", 3)] ^= 0x5A;
    WriteWholeFile(setup, bytes);
    const std::string log = dir.File("damaged.log");
    WatchedRun run = RunWatched("\"" + setup + "\" /S /LOG=" + log);
    EXPECT_EQ(3u, run.Code);
    EXPECT_EQ("", Join(run.Windows));
    EXPECT_FALSE(PathExists(target)) << "rolled back";
    EXPECT_NE(std::string::npos, ReadWholeFile(log).find("Result: exit code 3")) << ReadWholeFile(log);
  }
  {
    SCOPED_TRACE("Cancel on the passive window");
    // pressed the moment the window is seen: 64 MiB in 512 files are still being copied,
    // and whatever was copied goes again
    const std::string target = dir.File("Cancelled App");
    std::vector<SetupSource> files = {{"a.txt", "alpha"}, {"b.bin", payload}};
    std::string big = "";
    // in many files: each costs its own steps, so the files last long
    // enough on any machine for the watcher to press Cancel
    for (int i = 0; i < 512; ++i) {
      files.push_back({"big" + std::to_string(i) + ".bin", RandomBytes(128 << 10, 20 + i)});
      big += "big" + std::to_string(i) + ".bin, %MAINDIR%big" + std::to_string(i) + ".bin\r\n";
    }
    std::string script = Script(target);
    script.insert(script.find("[INIFiles]"), big);
    const std::string setup = BuildSetupFile(dir, script, files);
    const std::string log = dir.File("cancel.log");
    bool pressed = false;
    WatchedRun run = ::RunWatched(Wide("\"" + setup + "\" /PASSIVE /LOG=" + log, CP_ACP), NULL, kTimeout, [&](HWND w) {
      if (!pressed) pressed = Robot::PressText(w, "Cancel");
    });
    EXPECT_TRUE(run.Ended);
    EXPECT_TRUE(pressed) << Join(run.Windows);
    EXPECT_EQ(2u, run.Code);
    ExpectShown(run, "/PASSIVE", true);
    EXPECT_FALSE(PathExists(target)) << "rolled back";
    EXPECT_FALSE(KeyExists(kKey)) << "rolled back";
    const std::string text = ReadWholeFile(log);
    EXPECT_NE(std::string::npos, text.find("Rollback")) << text;
    EXPECT_NE(std::string::npos, text.find("Result: exit code 2")) << text;
    EXPECT_EQ(std::string::npos, text.find("Failure")) << "a cancel is no failure\n" << text;
  }
  {
    SCOPED_TRACE("an unknown option");
    const std::string setup = Build(Script(dir.File("Never")));
    const std::string log = dir.File("option.log");
    WatchedRun run = RunWatched("\"" + setup + "\" /VERYSILENT /S /LOG=" + log);
    EXPECT_EQ(5u, run.Code);
    EXPECT_EQ("", Join(run.Windows));
    EXPECT_NE(std::string::npos, ReadWholeFile(log).find("Unknown command-line option: /VERYSILENT"));
  }
  {
    SCOPED_TRACE("a folder the wizard would refuse");
    const std::string setup = Build(Script(dir.File("Never")));
    const std::string log = dir.File("folder.log");
    WatchedRun run = RunWatched("\"" + setup + "\" /S /LOG=" + log + " /D=C:\\bad|name");
    EXPECT_EQ(1u, run.Code);
    EXPECT_EQ("", Join(run.Windows));
    const std::string text = ReadWholeFile(log);
    EXPECT_NE(std::string::npos, text.find("the destination folder C:\\bad|name cannot be used")) << text;
  }
  {
    SCOPED_TRACE("another setup running");
    HANDLE mutex = CreateMutexA(NULL, FALSE, "UnQuillsetDeployer_mutex");
    const std::string setup = Build(Script(dir.File("Never")));
    WatchedRun run = RunWatched("\"" + setup + "\" /S");
    CloseHandle(mutex);
    EXPECT_EQ(4u, run.Code);
    EXPECT_EQ("", Join(run.Windows));
  }
  EXPECT_FALSE(PathExists(dir.File("Never")));
}

// Without an X display: tests/e2e/no-display.sh (ctest e2e.no_display),
// which unsets DISPLAY for Wine itself.

}  // namespace
