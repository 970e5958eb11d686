#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Robot.h"
#include "TestPaths.h"
#include "TestSupport.h"
#include "platform/SystemLibrary.h"
#include "driver/SetupState.h"
#include "script/Translations.h"
#include "uninstall/UninstallDriver.h"
#include "uninstall/UninstallLogger.h"

namespace {

const char kEnglish[] = QS_SOURCE_DIR "\\translations\\English.ini";
const char kComDll[] = QS_BUILD_DIR "\\tests\\win32\\qs-comdll.dll";
const char kComDllKey[] = "Software\\QuillsetTest-ComDll";
const char kCaption[] = "Deleting installed files and folders.";

std::string QuestionText(const std::string& folder) {
  return "The folder " + folder +
         "\nappears to contain files or subfolders that were not created by the installation "
         "program.\nDo you want to delete these files and/or folders?";
}

std::string LockedText(const std::string& folder) {
  return "The folder " + folder +
         "\nor some of the files or subfolders in it, could not be deleted.\nThey may be "
         "read-only, or in use by another program. You can try to delete these files manually "
         "later.";
}

struct ReplayRun {
  int Result = -1;
  std::vector<RobotMessageBox> Boxes;
  std::vector<int> Defaults;  // each box's default button, the one Enter presses
};

// Replays on a second thread, as the uninstall thread does, and answers the
// boxes in turn from this one; boxes beyond the answers get OK, or No.
ReplayRun RunReplay(CUninstallLogger& log, const std::vector<std::string>& exclusions = {},
                    const std::vector<int>& answers = {}) {
  std::vector<const char*> paths;
  for (const std::string& p : exclusions) paths.push_back(p.c_str());
  ReplayRun run;
  std::atomic<int> result(-1);
  std::thread replay([&] {
    result = log.Replay(paths.empty() ? nullptr : paths.data(), (int)paths.size());
  });
  Robot robot;
  robot.AttachSelf();
  size_t next = 0;
  const DWORD start = GetTickCount();
  while (result == -1) {
    if (robot.FindWindowNow("#32770", NULL)) {
      RobotMessageBox box = robot.WaitForMessageBox(NULL, 1000);
      if (box.Window) {
        run.Boxes.push_back(box);
        run.Defaults.push_back(DefaultButton(box.Window));
        int answer = next < answers.size() ? answers[next++]
                                           : (GetDlgItem(box.Window, IDOK) ? IDOK : IDNO);
        if (!robot.Answer(box, answer, 5000))  // reported; close it so the replay goes on
          robot.Answer(box, GetDlgItem(box.Window, IDOK) ? IDOK : IDNO, 5000);
      }
    }
    if (GetTickCount() - start > 60000) {
      ADD_FAILURE() << "the replay did not end\n" << robot.WindowTree();
      break;
    }
    Sleep(20);
  }
  replay.join();
  run.Result = result;
  return run;
}

void ExpectBox(const RobotMessageBox& box, const std::string& text,
               const std::vector<std::string>& buttons) {
  EXPECT_EQ(kCaption, box.Caption);
  EXPECT_EQ(text, box.Text);
  EXPECT_EQ(buttons, box.Buttons);
}

// Opens a log holding exactly these bytes.
void OpenWithBytes(CUninstallLogger& log, const TempFolder& dir, const std::string& bytes) {
  const std::string path = dir.File("Uninstall.log");
  log.Close();
  WriteWholeFile(path, bytes);
  ASSERT_EQ(1, log.OpenLog(path.c_str()));
}

std::string MakeFolder(const std::string& path) {
  EXPECT_TRUE(CreateDirectoryA(path.c_str(), NULL)) << path;
  return path;
}

std::string MakeFile(const std::string& path, const std::string& bytes = "x") {
  WriteWholeFile(path, bytes);
  EXPECT_TRUE(PathExists(path)) << path;
  return path;
}

std::string Upper(std::string s) {
  CharUpperBuffA(&s[0], (DWORD)s.size());
  return s;
}

std::string IniValue(const std::string& file, const char* section, const char* key) {
  char buf[256];
  GetPrivateProfileStringA(section, key, "(none)", buf, sizeof buf, file.c_str());
  return buf;
}

void DeleteKeyAndBelow(HKEY parent, const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  char name[256];
  while (RegEnumKeyA(key, 0, name, sizeof name) == ERROR_SUCCESS) {
    const std::string before = name;
    DeleteKeyAndBelow(key, before);
    if (RegEnumKeyA(key, 0, name, sizeof name) == ERROR_SUCCESS && before == name) break;
  }
  RegCloseKey(key);
  RegDeleteKeyA(parent, path.c_str());
}

// A key of this test's own under HKCU\Software, gone again at the end.
class TestKey {
 public:
  TestKey() {
    static int serial;
    m_Path = "Software\\QuillsetTest-Replay-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(++serial);
  }
  ~TestKey() { DeleteKeyAndBelow(HKEY_CURRENT_USER, m_Path); }
  std::string Sub(const char* name) const { return m_Path + "\\" + name; }
  // The same key as a log line names it.
  std::string LogName(const char* name) const {
    std::string s = "HKEY_CURRENT_USER/" + Sub(name);
    for (char& c : s)
      if (c == '\\') c = '/';
    return s;
  }
  void Create(const std::string& path) const {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0,
                                             KEY_WRITE, NULL, &key, NULL));
    RegSetValueExA(key, "v", 0, REG_SZ, (const BYTE*)"1", 2);
    RegCloseKey(key);
  }

 private:
  std::string m_Path;
};

TEST(UninstallReplay, ReadsTheWholeLogAndLeavesItAsItWas) {
  TempFolder logs, dir;
  {
    CUninstallLogger log;
    EXPECT_EQ(0, log.Replay(nullptr, 0));  // no log open
    OpenWithBytes(log, logs, "");
    EXPECT_EQ(1, RunReplay(log).Result);
  }
  {
    // not one line feed: nothing is undone
    const std::string kept = MakeFile(dir.File("kept.txt"));
    CUninstallLogger log;
    OpenWithBytes(log, logs, "FileCreated=" + kept);
    EXPECT_EQ(0, RunReplay(log).Result);
    EXPECT_TRUE(PathExists(kept));
    // an unfinished last line is not a record; the ones before it are
    const std::string gone = MakeFile(dir.File("gone.txt"));
    OpenWithBytes(log, logs, "FileCreated=" + gone + "\nFileCreated=" + kept);
    EXPECT_EQ(1, RunReplay(log).Result);
    EXPECT_FALSE(PathExists(gone));
    EXPECT_TRUE(PathExists(kept));
  }
  {
    // a rollback reads the log from its start and appending goes on at its end
    const std::string a = MakeFile(dir.File("a.txt"));
    CUninstallLogger log;
    ASSERT_EQ(1, log.CreateTempLog());
    log.LogFileCreated(a.c_str());
    log.LogFileCreated(dir.File("missing.txt").c_str());  // a failed undo is no failure
    EXPECT_EQ(1, RunReplay(log).Result);
    EXPECT_FALSE(PathExists(a));
    const std::string before = ReadWholeFile(log.GetLogPath());
    EXPECT_EQ("FileCreated=" + a + "\nFileCreated=" + dir.File("missing.txt") + "\n", before);
    EXPECT_EQ(1, log.LogFileCreated("C:\\later.txt"));
    EXPECT_EQ(before + "FileCreated=C:\\later.txt\n", ReadWholeFile(log.GetLogPath()));
  }
}

TEST(UninstallReplay, UndoesNewestFirstSoFoldersGoWithoutAQuestion) {
  TempFolder dir;
  const std::string app = dir.File("App");
  CUninstallLogger log;
  ASSERT_EQ(1, log.CreateTempLog());
  log.LogDirectoryCreated(MakeFolder(app).c_str());
  log.LogFileCreated(MakeFile(app + "\\readme.txt").c_str());
  log.LogDirectoryCreated(MakeFolder(app + "\\bin").c_str());
  log.LogFileCreated(MakeFile(app + "\\bin\\app.exe").c_str());
  log.LogDirectoryCreated(MakeFolder(app + "\\bin\\data").c_str());
  ReplayRun run = RunReplay(log);
  EXPECT_EQ(1, run.Result);
  EXPECT_TRUE(run.Boxes.empty());
  EXPECT_FALSE(PathExists(app));
}

TEST(UninstallReplay, ADamagedLineStopsTheReplayAndKeepsOlderChanges) {
  TempFolder logs, dir;
  const char* damaged[] = {
      "SysRegSectionAdded=HKEY_USERS/Software/QuillsetTest-Replay",
      "SysRegSectionAdded=hkey_current_user/Software/QuillsetTest-Replay",
      "SysRegSectionAdded=HKEY_CURRENT_USER",
      "IniFileEntryAdded=C:\\app.ini",
      "IniFileEntryAdded=C:\\app.ini,Settings",
  };
  for (const char* line : damaged) {
    const std::string older = MakeFile(dir.File("older.txt"));
    const std::string newer = MakeFile(dir.File("newer.txt"));
    CUninstallLogger log;
    OpenWithBytes(log, logs,
                  "FileCreated=" + older + "\n" + line + "\nFileCreated=" + newer + "\n");
    EXPECT_EQ(0, RunReplay(log).Result) << line;
    EXPECT_TRUE(PathExists(older)) << line;
    EXPECT_FALSE(PathExists(newer)) << line;
    DeleteFileA(older.c_str());
  }
  // a zero byte would make the line name a shorter path: damaged too
  {
    const std::string older = MakeFile(dir.File("older.txt"));
    CUninstallLogger log;
    OpenWithBytes(log, logs,
                  "FileCreated=" + older + "\nFileCreated=" + older + std::string(1, '\0') +
                      "x\n");
    EXPECT_EQ(0, RunReplay(log).Result);
    EXPECT_TRUE(PathExists(older));
    DeleteFileA(older.c_str());
  }
  // lines without a known tag, empty ones included, are passed over
  {
    const std::string older = MakeFile(dir.File("older.txt"));
    const std::string other = MakeFile(dir.File("other.txt"));
    CUninstallLogger log;
    OpenWithBytes(log, logs,
                  "FileCreated=" + older + "\n\nfileCreated=" + other + "\nFileCreated " + other +
                      "\nComment\n");
    EXPECT_EQ(1, RunReplay(log).Result);
    EXPECT_FALSE(PathExists(older));
    EXPECT_TRUE(PathExists(other));
  }
}

TEST(UninstallReplay, IniEntriesGoOneKeyAtATime) {
  TempFolder dir;
  const std::string ini = dir.File("app.ini");
  WriteWholeFile(ini,
                 "[Settings]\r\nLanguage=en\r\nKey,with,commas=1\r\nOther=2\r\n"
                 "[Else]\r\nLanguage=de\r\n");
  CUninstallLogger log;
  ASSERT_EQ(1, log.CreateTempLog());
  log.LogIniFileEntryAdded(ini.c_str(), "Settings", "Language");
  log.LogIniFileEntryAdded(ini.c_str(), "Settings", "Key,with,commas");
  EXPECT_EQ(1, RunReplay(log).Result);
  EXPECT_EQ("(none)", IniValue(ini, "Settings", "Language"));
  EXPECT_EQ("(none)", IniValue(ini, "Settings", "Key,with,commas"));
  EXPECT_EQ("2", IniValue(ini, "Settings", "Other"));
  EXPECT_EQ("de", IniValue(ini, "Else", "Language"));
}

TEST(UninstallReplay, RegistryKeysGoWithEverythingBelowThem) {
  TestKey keys;
  keys.Create(keys.Sub("App\\Sub1\\Sub2"));
  keys.Create(keys.Sub("App\\Sub3"));
  keys.Create(keys.Sub("Keep"));
  keys.Create(keys.Sub("AppKeep"));
  CUninstallLogger log;
  ASSERT_EQ(1, log.CreateTempLog());
  log.LogSysRegSectionAdded(keys.LogName("App").c_str());
  log.LogSysRegSectionAdded(keys.LogName("Missing").c_str());
  // a trailing slash names no key: nothing goes
  log.LogSysRegSectionAdded((keys.LogName("Keep") + "/").c_str());
  EXPECT_EQ(1, RunReplay(log).Result);
  EXPECT_FALSE(KeyExists(keys.Sub("App")));
  EXPECT_TRUE(KeyExists(keys.Sub("Keep")));
  EXPECT_TRUE(KeyExists(keys.Sub("AppKeep")));
}

// An Add/Remove Programs entry goes only while it names this installation's
// folder: a later version installed elsewhere took it over.
TEST(UninstallReplay, AnAddRemoveProgramsEntryOfAnotherFolderStays) {
  TempFolder dir;
  const std::string entry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuillsetTest-Replay-" +
                            std::to_string(GetCurrentProcessId());
  std::string logged = "HKEY_CURRENT_USER/" + entry;
  for (char& c : logged)
    if (c == '\\') c = '/';
  struct {
    std::string location;
    bool stays;
  } cases[] = {{dir.File("Other"), true}, {dir.Path() + "\\", false}, {Upper(dir.Path()), false}, {"", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.location);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, entry.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &key, NULL));
    if (!c.location.empty())
      RegSetValueExA(key, "InstallLocation", 0, REG_SZ, (const BYTE*)c.location.c_str(), (DWORD)c.location.size() + 1);
    RegCloseKey(key);
    CUninstallLogger log;
    ASSERT_EQ(1, log.CreateTempLog());
    log.LogSysRegSectionAdded(logged.c_str());
    log.SetInstallFolder(dir.Path().c_str());
    EXPECT_EQ(1, RunReplay(log).Result);
    EXPECT_EQ(c.stays, KeyExists(entry));
    // a rollback removes what its own run made
    log.SetInstallFolder(NULL);
    EXPECT_EQ(1, RunReplay(log).Result);
    EXPECT_FALSE(KeyExists(entry));
  }
}

TEST(UninstallReplay, RegisteredDllsAreUnregistered) {
  typedef HRESULT(STDAPICALLTYPE * ServerProc)();
  HMODULE dll = LoadLibraryA(kComDll);
  ASSERT_TRUE(dll) << kComDll;
  ServerProc reg = ProcAddress<ServerProc>(dll, "DllRegisterServer");
  ASSERT_TRUE(reg);
  ASSERT_EQ(S_OK, reg());
  FreeLibrary(dll);
  ASSERT_TRUE(KeyExists(kComDllKey));

  TempFolder dir;
  CUninstallLogger log;
  ASSERT_EQ(1, log.CreateTempLog());
  log.LogDllRegistered(kComDll);
  log.LogDllRegistered(dir.File("missing.dll").c_str());  // passed over
  EXPECT_EQ(1, RunReplay(log).Result);
  EXPECT_FALSE(KeyExists(kComDllKey));
  EXPECT_TRUE(PathExists(kComDll));
  RegDeleteKeyA(HKEY_CURRENT_USER, kComDllKey);
}

// The user's files in a created folder: asked once, No being the default;
// No keeps that folder whole, and the created folders above it are neither
// asked about nor removed.
TEST(UninstallReplay, AFolderWithTheUsersFilesAsksOnce) {
  TempFolder dir;
  const std::string apps = dir.File("Apps"), app = apps + "\\My App";
  CTranslations english;
  ASSERT_EQ(1, english.SetFile(kEnglish));
  CUninstallLogger log;
  ASSERT_EQ(1, log.CreateTempLog());
  log.LogDirectoryCreated(MakeFolder(apps).c_str());
  log.LogDirectoryCreated(MakeFolder(app).c_str());
  const std::string other = MakeFile(apps + "\\other.txt", "another program's");
  const std::string installed = app + "\\app.exe";
  const std::string notes = MakeFile(app + "\\notes.txt", "the user's notes");
  MakeFolder(app + "\\Saves");
  const std::string save = MakeFile(app + "\\Saves\\game1.sav", "level 7");

  // No: the folder and everything the user put there stay whole
  MakeFile(installed);
  log.LogFileCreated(installed.c_str());
  log.SetTranslations(&english);
  ReplayRun no = RunReplay(log, {}, {IDNO, IDYES});
  EXPECT_EQ(1, no.Result);
  ASSERT_EQ(1u, no.Boxes.size());
  ExpectBox(no.Boxes[0], QuestionText(app), {"Yes", "No"});
  EXPECT_EQ(IDNO, no.Defaults[0]);
  EXPECT_FALSE(PathExists(installed));
  EXPECT_EQ("the user's notes", ReadWholeFile(notes));
  EXPECT_EQ("level 7", ReadWholeFile(save));
  EXPECT_EQ("another program's", ReadWholeFile(other));

  // Yes: all of it goes. Without a table the texts are the English ones.
  MakeFile(installed);
  log.SetTranslations(nullptr);
  ReplayRun yes = RunReplay(log, {}, {IDYES, IDYES});
  EXPECT_EQ(1, yes.Result);
  ASSERT_EQ(2u, yes.Boxes.size());
  ExpectBox(yes.Boxes[0], QuestionText(app), {"Yes", "No"});
  ExpectBox(yes.Boxes[1], QuestionText(apps), {"Yes", "No"});
  EXPECT_EQ(IDNO, yes.Defaults[1]);
  EXPECT_FALSE(PathExists(apps));
}

TEST(UninstallReplay, ExcludedFilesHoldTheirFolderBackWithoutAMessage) {
  TempFolder dir;
  const std::string app = dir.File("App");
  CUninstallLogger log;
  ASSERT_EQ(1, log.CreateTempLog());
  log.LogDirectoryCreated(MakeFolder(app).c_str());
  log.LogFileCreated(MakeFile(app + "\\app.exe").c_str());
  const std::string exe = MakeFile(app + "\\Uninstall.exe");
  const std::string logCopy = MakeFile(app + "\\Uninstall.log");
  const std::string table = MakeFile(app + "\\Translations.ini");
  // the same paths in another case are the same files
  const std::vector<std::string> excluded = {Upper(exe), Upper(logCopy),
                                             app + "\\translations.INI"};

  ReplayRun run = RunReplay(log, excluded);
  EXPECT_EQ(1, run.Result);
  EXPECT_TRUE(run.Boxes.empty());
  EXPECT_FALSE(PathExists(app + "\\app.exe"));
  EXPECT_TRUE(PathExists(exe) && PathExists(logCopy) && PathExists(table));

  // a path that only begins with an excluded one is someone else's file;
  // excluded files below a subfolder keep that subfolder too
  const std::string backup = MakeFile(exe + ".bak");
  MakeFolder(app + "\\Data");
  const std::string keep = MakeFile(app + "\\Data\\keep.dat");
  const std::string junk = MakeFile(app + "\\Data\\junk.dat");
  std::vector<std::string> more = excluded;
  more.push_back(Upper(keep));
  run = RunReplay(log, more, {IDYES});
  EXPECT_EQ(1, run.Result);
  ASSERT_EQ(1u, run.Boxes.size());  // the question, and no locked-folder message
  EXPECT_EQ(QuestionText(app), run.Boxes[0].Text);
  EXPECT_FALSE(PathExists(backup));
  EXPECT_FALSE(PathExists(junk));
  EXPECT_TRUE(PathExists(keep));
  EXPECT_TRUE(PathExists(exe) && PathExists(logCopy) && PathExists(table));
}

// A file in use goes at the restart, and its folder after it, with no
// message; only where that cannot be scheduled does the folder stay, with
// one message, and the file counts as left. The Add/Remove Programs entry,
// replayed first, goes only when nothing is left: the uninstaller stays,
// and the entry finds it.
TEST(UninstallReplay, AFileInUseGoesAtTheRestartOrGivesOneLockedFolderMessage) {
  TempFolder dir;
  CTranslations english;
  ASSERT_EQ(1, english.SetFile(kEnglish));
  KeptPendingRenames pending;
  for (bool rights : {true, false})
  for (bool withExclusions : {false, true}) {
    SCOPED_TRACE(rights ? "may schedule" : "may not schedule");
    const std::string app = dir.File(withExclusions ? (rights ? "Excl" : "ExclNo") : (rights ? "App" : "AppNo"));
    CUninstallLogger log;
    ASSERT_EQ(1, log.CreateTempLog());
    log.SetTranslations(&english);
    log.LogDirectoryCreated(MakeFolder(app).c_str());
    const std::string entry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuillsetTest.Held" +
                              app.substr(app.rfind('\\') + 1);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, entry.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &key, NULL));
    RegCloseKey(key);
    std::string logged = "HKEY_CURRENT_USER/" + entry;
    for (char& c : logged) c = c == '\\' ? '/' : c;
    log.LogSysRegSectionAdded(logged.c_str());
    MakeFile(app + "\\a.txt");
    const std::string busy = MakeFile(app + "\\b.txt");
    MakeFile(app + "\\c.txt");
    MakeFolder(app + "\\sub");
    MakeFile(app + "\\sub\\d.txt");
    MakeFile(app + "\\z.txt");
    std::vector<std::string> excluded;
    if (withExclusions) excluded.push_back(MakeFile(app + "\\Uninstall.exe"));
    // open without share-delete, as a running program holds its files
    HANDLE holder = CreateFileA(busy.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    ReplayRun run;
    {
      std::unique_ptr<NoRightsToSchedule> noRights(rights ? nullptr : new NoRightsToSchedule);
      ASSERT_TRUE(rights || noRights->Taken());
      run = RunReplay(log, excluded, {IDYES});
    }
    CloseHandle(holder);
    EXPECT_EQ(1, run.Result);
    ASSERT_EQ(rights ? 1u : 2u, run.Boxes.size()) << app;
    ExpectBox(run.Boxes[0], QuestionText(app), {"Yes", "No"});
    if (!rights) ExpectBox(run.Boxes[1], LockedText(app), {"OK"});
    EXPECT_EQ(rights ? 1 : 0, log.GetScheduledCount());
    EXPECT_EQ(rights ? 0 : 1, log.GetLeftCount());
    const std::string renames = PendingRenames();
    EXPECT_EQ(rights, renames.find(busy) != std::string::npos);
    EXPECT_EQ(rights, renames.find(app + std::string(1, '\0')) != std::string::npos) << "the folder after it";
    // everything else went, before and after the busy file
    EXPECT_TRUE(PathExists(busy));
    EXPECT_FALSE(PathExists(app + "\\a.txt"));
    EXPECT_FALSE(PathExists(app + "\\c.txt"));
    EXPECT_FALSE(PathExists(app + "\\z.txt"));
    EXPECT_FALSE(PathExists(app + "\\sub"));
    EXPECT_EQ(withExclusions, PathExists(app + "\\Uninstall.exe"));
    EXPECT_EQ(!rights, KeyExists(entry)) << "the entry, with a file left";
    RegDeleteKeyA(HKEY_CURRENT_USER, entry.c_str());
  }
}

TEST(UninstallReplay, ExclusionsFoldCaseBeyondAscii) {
  if (GetACP() != 1252) GTEST_SKIP() << "needs the ANSI code page 1252, not " << GetACP();
  TempFolder dir;
  const std::string app = dir.File("App");
  CUninstallLogger log;
  ASSERT_EQ(1, log.CreateTempLog());
  log.LogDirectoryCreated(MakeFolder(app).c_str());
  const std::string file = MakeFile(app + "\\\xE9t\xE9.txt");  // "été.txt"
  ReplayRun run = RunReplay(log, {app + "\\\xC9T\xC9.TXT"});
  EXPECT_EQ(1, run.Result);
  EXPECT_TRUE(run.Boxes.empty());
  EXPECT_TRUE(PathExists(file));
}

// %PROGRAMFILES%Co\App: Co's only content is App, which only the
// uninstaller's own files keep. Neither is the user's: no question.
TEST(UninstallReplay, AFolderHeldOnlyByExcludedFilesBelowItIsNotAskedAbout) {
  TempFolder dir;
  const std::string co = dir.File("Co"), app = co + "\\App";
  CUninstallLogger log;
  ASSERT_EQ(1, log.CreateTempLog());
  log.LogDirectoryCreated(MakeFolder(co).c_str());
  log.LogDirectoryCreated(MakeFolder(app).c_str());
  log.LogFileCreated(MakeFile(app + "\\app.exe").c_str());
  const std::vector<std::string> excluded = {MakeFile(app + "\\Uninstall.exe"), MakeFile(app + "\\Uninstall.log"),
                                             MakeFile(app + "\\Translations.ini")};
  ReplayRun run = RunReplay(log, excluded);
  EXPECT_EQ(1, run.Result);
  EXPECT_TRUE(run.Boxes.empty()) << run.Boxes.size() << " boxes, the first: "
                                 << (run.Boxes.empty() ? "" : run.Boxes[0].Text);
  EXPECT_FALSE(PathExists(app + "\\app.exe"));
  for (const std::string& f : excluded) EXPECT_TRUE(PathExists(f)) << f;

  // an empty folder, or a file, beside App is somebody's: asked once, No keeps all
  MakeFolder(co + "\\Empty");
  ReplayRun second = RunReplay(log, excluded, {IDNO});
  ASSERT_EQ(1u, second.Boxes.size());
  EXPECT_NE(std::string::npos, second.Boxes[0].Text.find(co)) << second.Boxes[0].Text;
  EXPECT_TRUE(PathExists(co + "\\Empty"));
}

// A damaged or forged line never takes a drive or a folder of Windows with
// it: no question whose Yes would, only a warning. A question would be
// answered No, so nothing is lost even where the guard fails.
TEST(UninstallReplay, DrivesAndSystemFoldersAreNeverRemoved) {
  char windows[MAX_PATH], profile[MAX_PATH], programs[MAX_PATH];
  ASSERT_NE(0u, GetWindowsDirectoryA(windows, MAX_PATH));
  ASSERT_TRUE(SHGetSpecialFolderPathA(NULL, profile, CSIDL_PROFILE, FALSE));
  ASSERT_TRUE(SHGetSpecialFolderPathA(NULL, programs, CSIDL_PROGRAM_FILES, FALSE));
  const std::string drive = std::string(windows).substr(0, 3);  // "C:\"
  const std::vector<std::string> named = {drive, drive.substr(0, 2), std::string(windows) + "\\",
                                          profile, programs};
  CUninstallLogger log;
  ASSERT_EQ(1, log.CreateTempLog());
  for (const std::string& folder : named) log.LogDirectoryCreated(folder.c_str());
  ReplayRun run = RunReplay(log);  // OK where there is one, else No
  EXPECT_EQ(1, run.Result);
  ASSERT_EQ(named.size(), run.Boxes.size());
  for (size_t i = 0; i < named.size(); ++i) {
    const RobotMessageBox& box = run.Boxes[i];
    EXPECT_NE(std::string::npos, box.Text.find("which is a drive or a folder of Windows")) << box.Text;
    EXPECT_EQ((std::vector<std::string>{"OK"}), box.Buttons) << box.Text;
  }
  EXPECT_TRUE(PathExists(std::string(windows) + "\\system32"));
}

// Runs as its own test process with the ANSI code page 932 (Shift-JIS).
TEST(ReplayCodePage932, TrailBytesAreNeitherSeparatorsNorLetters) {
  REQUIRE_CODE_PAGE(932, GetACP() == 932, "needs the ANSI code page 932, not " << GetACP());
  TempFolder dir;
  CUninstallLogger log;
  ASSERT_EQ(1, log.CreateTempLog());
  // a folder ending in a trail byte 0x5C ("\"): the entries are found under it
  const std::string so = dir.File("\x83\x5C");
  // Wine needs the host's ja_JP.UTF-8 locale to store such names
  REQUIRE_CODE_PAGE(932, CreateDirectoryA(so.c_str(), NULL),
                        "no double-byte file names here: the host lacks the ja_JP.UTF-8 locale");
  log.LogDirectoryCreated(so.c_str());
  MakeFile(so + "\\user.txt");
  // full-width A and a fold into each other; katakana 0x83 0x41 and 0x83 0x61
  // only look like "A" and "a" in their trail bytes
  const std::string wide = dir.File("W");
  log.LogDirectoryCreated(MakeFolder(wide).c_str());
  const std::string wideFile = MakeFile(wide + "\\\x82\x60.txt");
  const std::string kana = dir.File("K");
  log.LogDirectoryCreated(MakeFolder(kana).c_str());
  const std::string kanaFile = MakeFile(kana + "\\\x83\x41.txt");

  ReplayRun run = RunReplay(log, {wide + "\\\x82\x81.txt", kana + "\\\x83\x61.txt"},
                            {IDNO, IDYES});
  EXPECT_EQ(1, run.Result);
  ASSERT_EQ(2u, run.Boxes.size());
  EXPECT_EQ(QuestionText(kana), run.Boxes[0].Text);  // newest first
  EXPECT_EQ(QuestionText(so), run.Boxes[1].Text);
  EXPECT_TRUE(PathExists(kanaFile));  // No
  EXPECT_TRUE(PathExists(wideFile));  // excluded: held back without a question
  EXPECT_FALSE(PathExists(so));       // Yes
}

}  // namespace

namespace {

// The uninstall run against a front end of the test's own: an installation
// in `dir`\App with its uninstaller (any bytes: it is never run), its log
// and, when asked, a user's file the replay asks about.
struct Installed {
  explicit Installed(const TempFolder& dir, bool withUsersFile = false) : folder(dir.File("App")) {
    CreateDirectoryA(folder.c_str(), NULL);
    CreateDirectoryA((folder + "\\data").c_str(), NULL);
    WriteWholeFile(folder + "\\Uninstall.exe", "not run");
    WriteWholeFile(folder + "\\app.dat", "app");
    WriteWholeFile(folder + "\\data\\b.txt", "b");
    if (withUsersFile) WriteWholeFile(folder + "\\data\\mine.txt", "the user's");
    WriteWholeFile(folder + "\\Translations.ini", ReadWholeFile(kEnglish));
    WriteWholeFile(folder + "\\Uninstall.log", "DirectoryCreated=" + folder + "\nFileCreated=" + folder +
                                                   "\\app.dat\nDirectoryCreated=" + folder +
                                                   "\\data\nFileCreated=" + folder + "\\data\\b.txt\n");
    lstrcpynA(SetupState::ExePath, (folder + "\\Uninstall.exe").c_str(), MAX_PATH);
  }
  ~Installed() {
    SetupState::ExePath[0] = '\0';
    SetFrontEnd(NULL);
  }
  std::string folder;
};

// Nobody there: no question of its own, the replay's question answered by
// the run's front end for nobody there (no box), progress, the failure
// said once. The oldest line is damaged, so the run fails after undoing
// the rest: a test process must not start the self-removal of a success.
TEST(UninstallRun, UnattendedItAsksNothingAndTheReplayReportsToTheRunsFrontEnd) {
  for (DisplayMode mode : {DISPLAY_PASSIVE, DISPLAY_NONE}) {
    SCOPED_TRACE(mode);
    TempFolder dir;
    Installed app(dir, true);
    const std::string log = app.folder + "\\Uninstall.log";
    WriteWholeFile(log, "SysRegSectionAdded=HKEY_USERS/Software/QuillsetTest-Run\n" + ReadWholeFile(log));
    CRecordingFrontEnd reports(mode);
    EXPECT_EQ(RUN_FAILED, RunUninstaller(reports));
    ASSERT_EQ(1u, reports.Questions.size()) << "only the replay's";
    EXPECT_EQ(QuestionText(app.folder + "\\data"), reports.Questions[0]);
    EXPECT_EQ("the user's", ReadWholeFile(app.folder + "\\data\\mine.txt"));
    EXPECT_FALSE(PathExists(app.folder + "\\app.dat"));
    ASSERT_FALSE(reports.Percents.empty());
    EXPECT_EQ(0, reports.Percents[0]);
    for (size_t i = 1; i < reports.Percents.size(); ++i) EXPECT_LE(reports.Percents[i - 1], reports.Percents[i]);
    EXPECT_LT(reports.Percents.back(), 100) << "the bar full for a failed run";
    EXPECT_GT(reports.Percents.back(), 50) << "the bar follows the lines undone before the oldest";
    ASSERT_FALSE(reports.Failures.empty());
    EXPECT_EQ("A complete uninstallation could not be performed.\nThere may be errors in the file Uninstall.log.",
              reports.Failures.back());
    EXPECT_EQ(std::vector<RunEnding>{RUN_FAILED}, reports.Endings);
    // all stays for a retry
    for (const char* f : {"Uninstall.exe", "Uninstall.log", "Translations.ini"})
      EXPECT_TRUE(PathExists(app.folder + "\\" + f)) << f;
    EXPECT_TRUE(FrontEnd() != &reports) << "the run's front end outlives it";
  }
}

TEST(UninstallRun, NoToTheQuestionOrAMissingLogChangesNothing) {
  TempFolder dir;
  Installed app(dir);
  std::vector<std::string> before = FilesIn(app.folder);
  CRecordingFrontEnd no(DISPLAY_FULL);
  no.answer = IDNO;
  EXPECT_EQ(RUN_CANCELLED, RunUninstaller(no));
  EXPECT_EQ(1u, no.Questions.size());
  EXPECT_TRUE(no.Percents.empty());
  EXPECT_EQ(std::vector<RunEnding>{RUN_CANCELLED}, no.Endings);
  EXPECT_EQ(before, FilesIn(app.folder));

  // nobody there: no question, the failure said, and all stays for a retry
  DeleteFileA((app.folder + "\\Uninstall.log").c_str());
  before = FilesIn(app.folder);
  CRecordingFrontEnd missing(DISPLAY_PASSIVE);
  EXPECT_EQ(RUN_FAILED, RunUninstaller(missing));
  EXPECT_TRUE(missing.Questions.empty());
  ASSERT_FALSE(missing.Failures.empty());
  EXPECT_EQ("The file " + app.folder + "\\Uninstall.log could not be found.\nTo uninstall the program you must "
            "manually delete the created files.",
            missing.Failures.back());
  EXPECT_EQ(std::vector<RunEnding>{RUN_FAILED}, missing.Endings);
  Sleep(1000);  // a self-removal, had one been started, would be at work now
  EXPECT_EQ(before, FilesIn(app.folder));
}

}  // namespace
