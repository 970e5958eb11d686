// Deployed without a person: /S installs with the script's defaults and
// uninstalls without a question, never showing a window (a watcher lists the
// visible top-level windows every 100 ms); /PASSIVE does the same behind its
// progress window alone. The exit code and the log say what happened.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../win32/Robot.h"
#include "../win32/TestSupport.h"
#include "E2eSupport.h"
#include "EnglishText.h"
#include "TestPaths.h"

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

// Where a run without /LOG= writes: an elevated one (every run under Wine)
// in a folder of ProgramData that only administrators can write.
std::string DefaultLogPath(const char* name) {
  char data[MAX_PATH] = "";
  if (!TestIsAdministrator() || !SHGetSpecialFolderPathA(NULL, data, CSIDL_COMMON_APPDATA, FALSE)) return TempPath(name);
  return std::string(data) + "\\Quillset\\" + name;
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
  std::vector<std::unique_ptr<TempFolder>> builds;
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
      // and a second's wait that no disk makes shorter (a loaded machine once
      // copied the files between two looks)
      script.insert(script.find("[Execute]\r\n") + 11, "cmd.exe /c ping -n 2 127.0.0.1\r\n");
    }
    const std::string setup = BuildSetupFile(dir, script, files);
    const std::string log = DefaultLogPath("Quillset-Setup.log");
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
// A file planted at the default log's path as a second name of another
// file, or a link to it: the elevated run never writes through it, and
// goes on without its log.
TEST_F(Silent, TheDefaultLogIsNeverWrittenThroughALink) {
  const std::string log = DefaultLogPath("Quillset-Setup.log"), victim = dir.File("victim.txt");
  const std::string setup = Build(Script(dir.File("Linked")));
  for (const char* kind : {"hard link", "symbolic link"}) {
    SCOPED_TRACE(kind);
    WriteWholeFile(victim, "the victim's own text");
    DeleteFileA(log.c_str());
    typedef BOOLEAN(WINAPI * SymbolicLinkMaker)(LPCSTR, LPCSTR, DWORD);
    const SymbolicLinkMaker symlink = reinterpret_cast<SymbolicLinkMaker>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));
    const bool made = kind[0] == 'h' ? CreateHardLinkA(log.c_str(), victim.c_str(), NULL)
                                     : symlink && symlink(log.c_str(), victim.c_str(), 0);
    if (!made || ReadWholeFile(log) != "the victim's own text") {
      std::cout << "this system makes no " << kind << " that leads to its file here: that case is skipped\n";
      continue;
    }
    WatchedRun run = RunWatched("\"" + setup + "\" /S");
    EXPECT_EQ(0u, run.Code);
    EXPECT_EQ("the victim's own text", ReadWholeFile(victim));
    DeleteFileA(log.c_str());
  }
}

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

// Components and tasks: /S takes the script's defaults, /COMPONENTS= and
// /TASKS= choose, an unknown name changes nothing, and the next version
// starts from what the installed one chose. The uninstaller removes what
// was installed, whatever that was.
TEST_F(Silent, ComponentsAndTasksChooseWhatIsInstalledAndTheNextVersionKeepsThem) {
  const char kEntry[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuillsetTest.Choices";
  char desktop[MAX_PATH] = "";
  ASSERT_TRUE(SHGetSpecialFolderPathA(NULL, desktop, CSIDL_DESKTOPDIRECTORY, TRUE));
  // every prefix's desktop is the Unix home, and the lanes run at once: a name per lane
  const std::string lnk = std::string("Silent Choices ") + (sizeof(void*) == 8 ? "x64" : "x86") + ".lnk";
  const std::string link = std::string(desktop) + "\\" + lnk;
  const std::string target = dir.File("Choices App");
  // what a run that stopped half-way left
  struct Clean {
    std::string link;
    const char* entry;
    ~Clean() {
      DeleteFileA(link.c_str());
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, entry);
    }
  } clean{link, kEntry};
  auto setup = [&](int version) {
    std::string script = "QSP40\r\n[Global]\r\nApplicationName = Silent App\r\nDefaultDir = " + target +
                         "\r\nAppId = QuillsetTest.Choices\r\nVersion = " + std::to_string(version) +
                         ".0\r\n[Components]\r\ncore, The program, fixed\r\n"
                         "docs, \"Help, and examples\", unchecked\r\n";
    // a component the first version did not have keeps its default
    if (version == 2) script += "samples, Samples\r\n";
    script += "[Tasks]\r\ndesktopicon, Create a desktop shortcut, unchecked\r\n"
              "[Files]\r\na.txt, %MAINDIR%a.txt\r\n[Files:core]\r\nb.bin, %MAINDIR%data\\b.bin\r\n"
              "[Files:docs]\r\nmanual.txt, %MAINDIR%docs\\manual.txt\r\n"
              "[Shortcuts:desktopicon]\r\n%DESKTOP%" + lnk + ",%MAINDIR%a.txt,,%MAINDIR%,Silent,,0\r\n"
              "[SysRegUninstall]\r\nHKEY_CURRENT_USER/" + std::string(kKey) +
              "\r\n[SysRegString:docs]\r\nHKEY_CURRENT_USER/" + kKey + "/Docs=yes\r\n";
    if (version == 2) script += "[Files:samples]\r\nsample.txt, %MAINDIR%samples\\sample.txt\r\n";
    TempFolder* build = new TempFolder;  // lives as long as the test
    builds.emplace_back(build);
    return BuildSetupFile(*build, script,
                          {{"a.txt", "alpha"}, {"b.bin", payload}, {"manual.txt", "manual"}, {"sample.txt", "sample"}});
  };
  auto installed = [&] {
    std::string what;
    for (const char* f : {"a.txt", "data\\b.bin", "docs\\manual.txt", "samples\\sample.txt"})
      if (PathExists(target + "\\" + f)) what += std::string(what.empty() ? "" : " ") + f;
    if (PathExists(link)) what += " link";
    char value[8] = "";
    DWORD size = sizeof value - 1;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      RegQueryValueExA(key, "Docs", NULL, NULL, reinterpret_cast<BYTE*>(value), &size);
      RegCloseKey(key);
    }
    if (std::string(value) == "yes") what += " value";
    return what;
  };
  auto uninstall = [&] {
    EXPECT_EQ(0u, RunWatched("\"" + target + "\\Uninstall.exe\" /S", dir.Path().c_str()).Code);
    ExpectGone(target);
    EXPECT_FALSE(PathExists(link));
    EXPECT_FALSE(KeyExists(kKey));
    EXPECT_FALSE(KeyExists(kEntry, HKEY_LOCAL_MACHINE));
  };
  const std::string v1 = setup(1), v2 = setup(2);
  struct {
    const char* options;
    DWORD code;
    const char* installed;
  } cases[] = {
      {"/S", 0, "a.txt data\\b.bin"},
      {"/S /COMPONENTS=docs /TASKS=desktopicon", 0, "a.txt data\\b.bin docs\\manual.txt link value"},
      {"/PASSIVE /components=DOCS,core /tasks=", 0, "a.txt data\\b.bin docs\\manual.txt value"},
      {"/S /COMPONENTS=nosuch /TASKS=desktopicon", 5, ""},
      {"/S /TASKS=docs", 5, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const std::string log = dir.File("choices.log");
    DeleteFileA(log.c_str());
    WatchedRun run = RunWatched("\"" + v1 + "\" " + c.options + " /LOG=" + log);
    EXPECT_EQ(c.code, run.Code);
    EXPECT_EQ(c.installed, installed());
    if (c.code == 0) {
      uninstall();
    } else {
      EXPECT_FALSE(PathExists(target)) << "nothing changed";
      EXPECT_EQ("", Join(run.Windows));
      const std::string text = ReadWholeFile(log);
      const bool components = c.options[4] == 'C';
      EXPECT_NE(std::string::npos, text.find(components ? "Failure: Unknown component in /COMPONENTS=: nosuch"
                                                        : "Failure: Unknown task in /TASKS=: docs"))
          << text;
      EXPECT_NE(std::string::npos, text.find(components ? "This setup's components are: core, docs."
                                                        : "This setup's tasks are: desktopicon."))
          << text;
      EXPECT_NE(std::string::npos, text.find("Result: exit code 5")) << text;
    }
  }
  // v2 over v1: v1's choices, and the default of the component v1 had not;
  // a command line still comes first
  ASSERT_EQ(0u, RunWatched("\"" + v1 + "\" /S /COMPONENTS=docs /TASKS=desktopicon").Code);
  // gone since, so that only what v2 chose brings them back
  DeleteFileA((target + "\\docs\\manual.txt").c_str());
  DeleteFileA(link.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
  ASSERT_EQ(0u, RunWatched("\"" + v2 + "\" /S").Code);
  EXPECT_EQ("a.txt data\\b.bin docs\\manual.txt samples\\sample.txt link value", installed());
  uninstall();
  ASSERT_EQ(0u, RunWatched("\"" + v1 + "\" /S").Code);
  ASSERT_EQ(0u, RunWatched("\"" + v2 + "\" /S /TASKS=desktopicon").Code);
  EXPECT_EQ("a.txt data\\b.bin samples\\sample.txt link", installed());
  uninstall();
}

// The switches of the winget manifest that quillset manifest writes, put
// together as winget does (mode, log, then the folder, last) with blanks in
// both paths: each mode installs where it is told and logs where it is told.
TEST_F(Silent, TheWingetManifestsSwitchesInstallAndLogWhereTold) {
  std::string script = Script(dir.File("Default"));
  script.insert(script.find("[Files]"), "AppId = QuillsetManifestTest\r\nVersion = 1.0\r\nPublisher = Test Ltd\r\n");
  const std::string setup = Build(script);
  const std::string line = std::string("\"") + QS_BUILD_DIR "\\quillset.exe\" manifest --id Quillset.ManifestTest" +
                           " --url https://example.com/Setup.exe --license MIT -o \"" + dir.File("yaml") + "\" \"" + setup + "\"";
  ASSERT_EQ(0u, RunToFile(line, dir.File("manifest.out"))) << line << "\n" << ReadWholeFile(dir.File("manifest.out"));
  const std::string yaml = ReadWholeFile(dir.File("yaml\\Quillset.ManifestTest.installer.yaml"));
  auto value = [&](const std::string& name, const char* token, const std::string& path) {
    const size_t at = yaml.find("\n    " + name + ": ");
    EXPECT_NE(std::string::npos, at) << name << " in\n" << yaml;
    std::string v = at == std::string::npos ? "" : yaml.substr(at + 7 + name.size());
    v = v.substr(0, v.find('\n'));
    if (v.size() > 1 && v[0] == '\'') v = v.substr(1, v.size() - 2);  // no '' in ours
    if (token) v.replace(v.find(token), strlen(token), path);
    return v;
  };
  CreateDirectoryA(dir.File("winget logs").c_str(), NULL);
  for (const char* mode : {"Silent", "SilentWithProgress"}) {
    SCOPED_TRACE(mode);
    const std::string target = dir.File((std::string(mode) + " App").c_str()), log = dir.File("winget logs\\install.log");
    WatchedRun run = RunWatched("\"" + setup + "\" " + value(mode, nullptr, "") + " " + value("Log", "<LOGPATH>", log) +
                                " " + value("InstallLocation", "<INSTALLPATH>", target));
    EXPECT_EQ(0u, run.Code);
    ExpectShown(run, mode == std::string("Silent") ? "/S" : "/PASSIVE", false);
    EXPECT_EQ("alpha", ReadWholeFile(target + "\\a.txt"));
    EXPECT_NE(std::string::npos, ReadWholeFile(log).find("Result: exit code 0, done")) << ReadWholeFile(log);
    EXPECT_FALSE(PathExists(dir.File("Default")));
    EXPECT_EQ(0u, RunWatched("\"" + target + "\\Uninstall.exe\" /S", dir.Path().c_str()).Code);
    ExpectGone(target);
    DeleteFileA(log.c_str());
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
    // and its elevated run's Cancel comes back from there
    for (bool withoutRights : {false, true}) {
    SCOPED_TRACE(withoutRights ? "started without rights" : "started with them");
    bool pressed = false;
    WatchedRun run = ::RunWatched(Wide("\"" + setup + "\" /PASSIVE /LOG=" + log, CP_ACP), NULL, kTimeout, [&](HWND w) {
      if (!pressed) pressed = Robot::PressText(w, "Cancel");
    }, withoutRights);
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
    EXPECT_EQ(withoutRights, text.find("Elevated run: ended with exit code 2") != std::string::npos) << text;
    }
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

// Started by a user without administrator rights, an installation for all
// users starts its elevated run through the consent prompt (runas) with
// the options it was given, and hands on that run's exit code; so does its
// uninstaller. Per-user runs do it all themselves. Wine gives the elevated
// run no more rights than its parent (the tests run as an administrator, so
// the files go in anyway); the mark on its command line lets it go on.
TEST_F(Silent, WithoutRightsAnInstallationForAllUsersRunsElevated) {
  struct {
    const char* scope;
    const char* options;
    const char* more;
    DWORD code;
    bool elevated;  // the install ran in the elevated run
  } cases[] = {
      {"machine", "/S", "", 0, true},
      {"machine", "/PASSIVE", "", 0, true},
      {"machine", "/S", "[Execute]\r\n%MAINDIR%no such program.exe\r\n", 1, true},
      {"choose", "/S", "", 0, true},
      {"choose", "/PASSIVE /ALLUSERS", "", 0, true},
      {"choose", "/S /CURRENTUSER", "", 0, false},
      {"user", "/S /ALLUSERS", "", 0, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.scope) + " " + c.options + (c.code ? " failing" : ""));
    const std::string target = dir.File(("Scope App " + std::to_string(++n)).c_str());
    std::string script = Script("C:\\Never\\" + std::string(c.scope), c.more);
    script.insert(script.find("\r\n[Files]"), "\r\nScope = " + std::string(c.scope));
    const std::string setup = Build(script);
    // a relative log name: the elevated run must write to the same file
    const std::string log = "scope" + std::to_string(n) + ".log";
    WatchedRun run = ::RunWatched(Wide("\"" + setup + "\" /LOG=" + log + " " + c.options + " /D=" + target, CP_ACP),
                                  Wide(dir.Path(), CP_ACP).c_str(), kTimeout, nullptr, true);
    EXPECT_TRUE(run.Ended);
    EXPECT_EQ(c.code, run.Code);
    ExpectShown(run, strstr(c.options, "/S") ? "/S" : "/PASSIVE", false);
    std::string text = ReadWholeFile(dir.File(log.c_str()));
    EXPECT_EQ(c.elevated, text.find("Starting elevated: ") != std::string::npos) << text;
    if (c.elevated) {
      // the elevated run's own lines come between its start and its end
      const size_t started = text.find("Starting elevated: "), ended = text.find("Elevated run: ended with exit code");
      ASSERT_NE(std::string::npos, ended) << text;
      EXPECT_NE(std::string::npos, text.find("-elevatedrun", started)) << text;
      EXPECT_LT(started, text.find("Result: exit code " + std::to_string(c.code), started)) << text;
      EXPECT_LT(text.find("Result: exit code " + std::to_string(c.code), started), ended) << text;
    }
    EXPECT_EQ(strcmp(c.scope, "user") == 0 || strstr(c.options, "/CURRENTUSER") != nullptr,
              text.find("Scope: just for the current user") != std::string::npos)
        << text;
    if (c.code != 0) {
      EXPECT_FALSE(PathExists(target)) << "rolled back";
      continue;
    }
    // the uninstaller knows whether to ask for the rights
    char kept[16] = "";
    GetPrivateProfileStringA("Installed", "Scope", "", kept, sizeof kept, (target + "\\Translations.ini").c_str());
    EXPECT_STREQ(c.elevated ? "" : "user", kept);
    const std::string unlog = dir.File(("un" + log).c_str());
    run = ::RunWatched(Wide("\"" + target + "\\Uninstall.exe\" /S /LOG=" + unlog, CP_ACP), NULL, kTimeout, nullptr,
                       true);
    EXPECT_EQ(0u, run.Code);
    text = ReadWholeFile(unlog);
    EXPECT_EQ(c.elevated, text.find("Starting elevated: ") != std::string::npos) << text;
    // removed by the elevated run while the one that started it still ran
    // from the same file
    ExpectGone(target);
  }
}

// Without an X display: tests/e2e/no-display.sh (ctest e2e.no_display),
// which unsets DISPLAY for Wine itself.

}  // namespace
