// The install worker and its section handlers against the real registry,
// file system and shell: what lands on the machine, what reaches the log,
// and what the user is told.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <windows.h>

#include <string>
#include <vector>

#include "Robot.h"
#include "TestPaths.h"
#include "TestSupport.h"
#include "driver/SetupState.h"
#include "engine/InstallWorker.h"
#include "platform/RegistryHelpers.h"
#include "resources/resource.h"
#include "engine/Sections.h"
#include "script/Placeholders.h"
#include "ui/MessageBoxes.h"

namespace {

const char kEnglish[] = QS_SOURCE_DIR "\\translations\\English.ini";

// What the wizard would have seen of one run of the worker.
struct WorkerRun {
  std::vector<int> Percents;       // every WM_INSTALL_PROGRESS in order
  int MaxFilesPercent = -1;        // highest percent reported with a path
  std::vector<std::string> FilesPaths;  // distinct destinations reported, in order
  int Done = -1;                   // WM_INSTALL_DONE's wParam
  int DoneCount = 0;
  bool CancelEnabledAtDone = false;
  bool CancelEnabledAfter = false;
  std::vector<std::string> Boxes;  // "caption|text" of each message box
  std::string CancelOnPath;        // a confirmed Cancel when this path reports
};

WorkerRun* g_Run;

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INSTALL_PROGRESS && g_Run) {
    g_Run->Percents.push_back(static_cast<int>(wParam));
    if (lParam) {
      const std::string path = reinterpret_cast<const char*>(lParam);
      if (g_Run->FilesPaths.empty() || g_Run->FilesPaths.back() != path) g_Run->FilesPaths.push_back(path);
      if (static_cast<int>(wParam) > g_Run->MaxFilesPercent) g_Run->MaxFilesPercent = static_cast<int>(wParam);
      if (!g_Run->CancelOnPath.empty() && path == g_Run->CancelOnPath) SetupState::CancelRequested = 1;
    }
    return 0;
  }
  if (message == WM_INSTALL_DONE && g_Run) {
    g_Run->Done = static_cast<int>(wParam);
    ++g_Run->DoneCount;
    g_Run->CancelEnabledAtDone = IsWindowEnabled(GetDlgItem(window, IDC_CANCEL_INSTALL)) != FALSE;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// Runs the worker against a hidden stand-in for the wizard, answering every
// message box with OK.
WorkerRun RunWorker(const std::string& cancelOnPath = "") {
  WorkerRun run;
  run.CancelOnPath = cancelOnPath;
  g_Run = &run;
  HWND window = ProbeWindow("QsWorkerProbe", ProbeProc);
  EXPECT_TRUE(window) << "probe window: error " << GetLastError();
  CreateWindowA("BUTTON", "Cancel", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, window,
                reinterpret_cast<HMENU>(IDC_CANCEL_INSTALL), GetModuleHandleA(NULL), NULL);
  // the wizard's front end: the reports reach the window as its messages
  CDialogFrontEnd reports(window);
  HANDLE thread = CreateThread(NULL, 0, InstallWorker, static_cast<CFrontEnd*>(&reports), 0, NULL);
  Robot robot;
  robot.AttachSelf();
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 120000) {
    DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    if (wait == WAIT_OBJECT_0) break;
    if (robot.FindWindowNow("#32770", NULL)) {
      RobotMessageBox box = robot.WaitForMessageBox(NULL, 1000);
      if (box.Window) {
        run.Boxes.push_back(box.Caption + "|" + box.Text);
        robot.Answer(box, IDOK);
      }
    }
  }
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000)) << "the worker did not end";
  CloseHandle(thread);
  run.CancelEnabledAfter = IsWindowEnabled(GetDlgItem(window, IDC_CANCEL_INSTALL)) != FALSE;
  DestroyWindow(window);
  g_Run = nullptr;
  return run;
}

std::vector<std::string> LogLines(const std::string& log) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t lf; (lf = log.find('\n', start)) != std::string::npos; start = lf + 1)
    lines.push_back(log.substr(start, lf - start));
  return lines;
}

DWORD ReadDword(const char* key, const char* name, DWORD* type) {
  DWORD value = 0xDEADBEEF, size = sizeof value;
  HKEY k;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &k) == ERROR_SUCCESS) {
    RegQueryValueExA(k, name, NULL, type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(k);
  }
  return value;
}

std::string ReadString(const char* key, const char* name, DWORD* type) {
  char value[512] = "<missing>";
  DWORD size = sizeof value;
  HKEY k;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &k) == ERROR_SUCCESS) {
    RegQueryValueExA(k, name, NULL, type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(k);
  }
  return value;
}

void DeleteTestKey(const char* key) {
  std::string path = key;
  for (char& c : path)
    if (c == '\\') c = '/';
  DeleteRegistryTree(HKEY_CURRENT_USER, path.c_str());
}

class Engine : public ::testing::Test {
 protected:
  TempFolder dir;
  std::string app;  // %MAINDIR% without its final backslash

  void SetUp() override {
    app = dir.File("App");
    SetupState::CancelRequested = 0;
    ResetPlaceholdersForTest();
    SetAppNamePlaceholder("Example App");
    SetMainDirPlaceholder(app.c_str());
    SetSourceDirPlaceholder(dir.Path().c_str());
    ASSERT_EQ(1, SetupState::Translations.SetFile(kEnglish));
    ASSERT_EQ(1, SetupState::UninstallLog.CreateTempLog());
  }
  void TearDown() override { SetupState::UninstallLog.Close(); }

  // A container holding the script, the table and these files (stored,
  // compressed), opened as the run's own; the script becomes the project.
  void Use(const std::string& script,
           const std::vector<std::pair<std::string, std::string>>& files = {}, int compressed = 1) {
    WriteWholeFile(dir.File("stub.exe"), "MZ not a program");
    std::vector<SetupSource> sources = {{"default.qsp", script}, {"", "", false, "Translations.ini"}};
    sources.back().From = kEnglish;
    for (auto& f : files) sources.push_back({f.first, f.second, compressed == 0});
    ASSERT_TRUE(BuildSetupOf(dir.File("stub.exe"), dir.File("src"), sources, dir.File("Setup.exe")));
    SetupState::Efs.Open(dir.File("Setup.exe").c_str());
    ASSERT_EQ(1, SetupState::Project.LoadText(script.data(), static_cast<uint32_t>(script.size())));
  }
  std::vector<std::string> Log() { return LogLines(ReadWholeFile(SetupState::UninstallLog.GetLogPath())); }
};

TEST_F(Engine, AScriptWithoutActionsReportsEveryMilestoneAndSucceeds) {
  Use("QSP40\r\n[Global]\r\nApplicationName = Example App\r\n");
  WorkerRun run = RunWorker();
  EXPECT_EQ((std::vector<int>{85, 88, 91, 94, 97, 100}), run.Percents);
  EXPECT_EQ(0, run.Done);
  EXPECT_EQ(1, run.DoneCount);
  EXPECT_FALSE(run.CancelEnabledAtDone);  // disabled after the files...
  EXPECT_TRUE(run.CancelEnabledAfter);    // ...enabled again after success
  EXPECT_EQ(std::vector<std::string>{}, run.Boxes);
  EXPECT_TRUE(Log().empty());
}

TEST_F(Engine, FilesReplaceWhatIsThereAndLogNewFoldersOutermostFirst) {
  CreateDirectoryA(app.c_str(), NULL);
  WriteWholeFile(app + "\\readme.txt", "old text that is longer than the new");
  const std::string big = RandomBytes(3 << 20, 7);
  Use("QSP40\r\n[Files]\r\nC:\\build\\readme.txt, %MAINDIR%readme.txt\r\n"
      "C:\\build\\big.bin,%MAINDIR%data\\deep\\BIG.BIN\r\n",
      {{"readme.txt", "new text"}, {"big.bin", big}});
  WorkerRun run = RunWorker();
  EXPECT_EQ(0, run.Done);
  EXPECT_EQ(std::vector<std::string>{}, run.Boxes);
  EXPECT_EQ("new text", ReadWholeFile(app + "\\readme.txt"));
  EXPECT_EQ(big, ReadWholeFile(app + "\\data\\deep\\BIG.BIN"));
  EXPECT_EQ((std::vector<std::string>{"FileCreated=" + app + "\\readme.txt",
                                      "DirectoryCreated=" + app + "\\data",
                                      "DirectoryCreated=" + app + "\\data\\deep",
                                      "FileCreated=" + app + "\\data\\deep\\BIG.BIN"}),
            Log());
  // Each file reports its first chunk with its destination; the files
  // section never goes past 82.
  EXPECT_EQ((std::vector<std::string>{app + "\\readme.txt", app + "\\data\\deep\\BIG.BIN"}),
            run.FilesPaths);
  EXPECT_LE(run.MaxFilesPercent, 82);
  for (size_t i = 1; i < run.Percents.size(); ++i) EXPECT_LE(run.Percents[i - 1], run.Percents[i]);
}

// "/" separates folders in a destination as "\\" does: for the extraction
// and for the folders made for it alike, whichever file comes first.
// The space a component needs is known before its folder is: its lines'
// entries by the file name after the last folder, %APPNAME% filled in;
// what names no entry counts nothing.
TEST_F(Engine, AComponentsSpaceIsWhatItsEntriesTakeBeforeTheFolderIsKnown) {
  Use("QSP40\r\n[Files:docs]\r\nC:\\b\\manual.pdf, %MAINDIR%docs\\manual.pdf\r\nx, %MAINDIR%%APPNAME%.txt\r\n"
      "y, %DESKTOP%notes.txt\r\nno comma\r\nz, %MAINDIR%gone.txt\r\n",
      {{"manual.pdf", RandomBytes(100000, 9)}, {"Example App.txt", "abc"}, {"notes.txt", "12345"}}, 0);
  ResetPlaceholdersForTest();
  SetAppNamePlaceholder("Example App");
  EXPECT_EQ(100000u + 3 + 5, FilesSectionBytes("Files:docs"));
  EXPECT_EQ(0u, FilesSectionBytes("Files:none"));
}

TEST_F(Engine, ASlashInADestinationSeparatesFoldersForEveryFile) {
  Use("QSP40\r\n[Files]\r\nC:\\build\\a.txt, %MAINDIR%sub/a.txt\r\n"
      "C:\\build\\b.txt, %MAINDIR%sub/b.txt\r\nC:\\build\\c.txt, %MAINDIR%sub/deeper\\c.txt\r\n",
      {{"a.txt", "A"}, {"b.txt", "B"}, {"c.txt", "C"}});
  WorkerRun run = RunWorker();
  EXPECT_EQ(0, run.Done);
  EXPECT_EQ(std::vector<std::string>{}, run.Boxes);
  EXPECT_EQ("A", ReadWholeFile(app + "\\sub\\a.txt"));
  EXPECT_EQ("B", ReadWholeFile(app + "\\sub\\b.txt"));
  EXPECT_EQ("C", ReadWholeFile(app + "\\sub\\deeper\\c.txt"));
  std::vector<std::string> folders;
  for (const std::string& line : Log())
    if (line.rfind("DirectoryCreated=", 0) == 0) folders.push_back(line);
  EXPECT_EQ((std::vector<std::string>{"DirectoryCreated=" + app, "DirectoryCreated=" + app + "\\sub",
                                      "DirectoryCreated=" + app + "\\sub\\deeper"}),
            folders);
}

TEST_F(Engine, AFilesLineThatCannotBeDoneEndsTheRunWithItsMessage) {
  struct Case {
    const char* line;
    const char* box;
  } cases[] = {
      {"C:\\build\\gone.txt, %MAINDIR%sub\\gone.txt",
       "Error|The embedded file gone.txt could not be found.\nInstallation will be aborted."},
      {"no comma here", "Error|An unspecified error occurred. The installation will be terminated."},
      {"", "Error|An unspecified error occurred. The installation will be terminated."},
      {"a.txt, %NOPE%a.txt", "Error|An unspecified error occurred. The installation will be terminated."},
  };
  for (const Case& c : cases) {
    Use(std::string("QSP40\r\n[Files]\r\n") + c.line + "\r\n[Shortcuts]\r\n%MAINDIR%x.lnk,a,b,c,d,e,0\r\n");
    WorkerRun run = RunWorker();
    EXPECT_EQ(1, run.Done) << c.line;
    EXPECT_EQ(std::vector<std::string>{c.box}, run.Boxes) << c.line;
    EXPECT_TRUE(run.Percents.empty()) << c.line;  // no later section ran
    EXPECT_FALSE(PathExists(app + "\\x.lnk"));
  }
}

TEST_F(Engine, CancelDuringALargeFileStopsSilentlyAndLeavesNoPartialFile) {
  const std::string big = RandomBytes(20 << 20, 3);
  Use("QSP40\r\n[Files]\r\nbig.bin, %MAINDIR%big.bin\r\n", {{"big.bin", big}});
  WorkerRun run = RunWorker(app + "\\big.bin");
  EXPECT_EQ(1, run.Done);
  EXPECT_EQ(std::vector<std::string>{}, run.Boxes);
  EXPECT_FALSE(PathExists(app + "\\big.bin"));
  EXPECT_TRUE(run.CancelEnabledAtDone);  // still in the files: Cancel never went off
}

TEST_F(Engine, ACorruptEntryOrAFullDiskIsReported) {
  // A stored entry with one byte flipped fails its CRC check.
  Use("QSP40\r\n[Files]\r\nfile.bin, %MAINDIR%file.bin\r\n", {{"file.bin", RandomBytes(4096, 9)}}, 0);
  std::string bytes = ReadWholeFile(dir.File("Setup.exe"));
  bytes[SetupState::Efs.FindEntry("file.bin")->DataOffset + 100] ^= 0x55;
  // a copy: the reader holds Setup.exe open for the run
  WriteWholeFile(dir.File("Corrupt.exe"), bytes);
  SetupState::Efs.Open(dir.File("Corrupt.exe").c_str());
  WorkerRun run = RunWorker();
  EXPECT_EQ(1, run.Done);
  EXPECT_EQ(std::vector<std::string>{"Error|The installation file is corrupt: An embedded file failed the CRC check."},
            run.Boxes);

  if (GetDriveTypeA("Q:\\") == DRIVE_NO_ROOT_DIR) {
    GTEST_SKIP() << "no small drive Q: (mounting a tmpfs was refused); disk-full case skipped";
  }
  Use("QSP40\r\n[Files]\r\nfull.bin, Q:\\engine-full\\full.bin\r\n", {{"full.bin", RandomBytes(1 << 20, 5)}});
  run = RunWorker();
  EXPECT_EQ(1, run.Done);
  EXPECT_EQ(std::vector<std::string>{"Error|The destination disk is full. You should try to free up some disk space "
                                     "before attempting to install again."},
            run.Boxes);
  EXPECT_FALSE(PathExists("Q:\\engine-full\\full.bin"));
  RemoveDirectoryA("Q:\\engine-full");
}

// Rolls the run back on a second thread, answering its boxes with OK from
// this one; their texts.
DWORD WINAPI RollBackThread(LPVOID) { return SetupState::UninstallLog.Rollback(); }

std::vector<std::string> RollBackAnswering() {
  std::vector<std::string> boxes;
  HANDLE thread = CreateThread(NULL, 0, RollBackThread, NULL, 0, NULL);
  Robot robot;
  robot.AttachSelf();
  const DWORD start = GetTickCount();
  while (WaitForSingleObject(thread, 20) == WAIT_TIMEOUT && GetTickCount() - start < 60000) {
    RobotMessageBox box = robot.FindWindowNow("#32770", NULL) ? robot.WaitForMessageBox(NULL, 1000) : RobotMessageBox();
    if (box.Window) {
      boxes.push_back(box.Text);
      robot.Answer(box, IDOK);
    }
  }
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000)) << "the rollback did not end";
  CloseHandle(thread);
  return boxes;
}

// The uninstall log on a full drive: a file, or a folder, whose line cannot
// be written would stay installed for good, unknown to its uninstaller. It
// goes again, the logger says why, and the rollback puts back what it
// replaced.
TEST_F(Engine, AFileOrFolderWhoseLogLineCannotBeWrittenIsRemovedAndTheRunFails) {
  if (GetDriveTypeA("Q:\\") == DRIVE_NO_ROOT_DIR)
    GTEST_SKIP() << "no small drive Q: (mounting a tmpfs was refused); full-log cases skipped";
  const std::string log = "Q:\\engine-unlogged.log", filler = "Q:\\engine-filler.bin";
  // what earlier tests kept aside is theirs, not this run's to put back
  SetupState::UninstallLog.DiscardKeptOriginals();
  CreateDirectoryA(app.c_str(), NULL);
  WriteWholeFile(app + "\\readme.txt", "the user's own text");
  Use("QSP40\r\n[Files]\r\nC:\\build\\readme.txt, %MAINDIR%readme.txt\r\n"
      "C:\\build\\new.txt, %MAINDIR%new\\new.txt\r\n",
      {{"readme.txt", "new text"}, {"new.txt", "new file"}});
  WriteWholeFile(log, "");
  FillSmallDrive(filler);
  ASSERT_EQ(1, SetupState::UninstallLog.OpenLog(log.c_str()));
  const std::vector<std::string> failed = {"Error|Failed to write uninstall log file in temporary files directory."};

  // FileCreated= for a file that replaced the user's
  WorkerRun run = RunWorker();
  EXPECT_EQ(1, run.Done);
  EXPECT_EQ(failed, run.Boxes);
  EXPECT_EQ(std::vector<std::string>{}, RollBackAnswering());
  EXPECT_EQ("the user's own text", ReadWholeFile(app + "\\readme.txt"));

  // DirectoryCreated= for a new folder: neither it nor its file stays
  Use("QSP40\r\n[Files]\r\nC:\\build\\new.txt, %MAINDIR%new\\new.txt\r\n", {{"new.txt", "new file"}});
  run = RunWorker();
  EXPECT_EQ(1, run.Done);
  EXPECT_EQ(failed, run.Boxes);
  EXPECT_EQ(std::vector<std::string>{}, RollBackAnswering());
  EXPECT_FALSE(PathExists(app + "\\new"));
  EXPECT_TRUE(ReadWholeFile(log).empty());

  // every other handler's line: what it did goes again, and the run fails
  WriteWholeFile(app + "\\user.ini", "[Keep]\r\nThis=stays\r\n");
  DeleteTestKey("Software\\QuillsetTest-ComDll");
  const struct {
    const char* name;
    std::string script;
  } cases[] = {
      {"a new INI file", "[INIFiles]\r\n%MAINDIR%new.ini,S,K,v\r\n"},
      {"an entry in the user's INI file", "[INIFiles]\r\n%MAINDIR%user.ini,S,K,v\r\n"},
      {"a shortcut", "[Shortcuts]\r\n%MAINDIR%app.lnk,%MAINDIR%readme.txt,,,,,0\r\n"},
      {"a shortcut's new folder", "[Shortcuts]\r\n%MAINDIR%menu\\app.lnk,%MAINDIR%readme.txt,,,,,0\r\n"},
      {"a new INI file's new folder", "[INIFiles]\r\n%MAINDIR%conf\\new.ini,S,K,v\r\n"},
      {"a registered DLL", "[RegisterDlls]\r\n" QS_BUILD_DIR "\\tests\\win32\\qs-comdll.dll\r\n"},
      {"a key to remove", "[SysRegUninstall]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Unlogged\r\n"
                          "[SysRegString]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Unlogged/V=x\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Use("QSP40\r\n" + c.script);
    run = RunWorker();
    EXPECT_EQ(1, run.Done);
    EXPECT_EQ(failed, run.Boxes);
    EXPECT_EQ(std::vector<std::string>{}, RollBackAnswering());
    EXPECT_FALSE(PathExists(app + "\\new.ini"));
    char value[64];
    GetPrivateProfileStringA("S", "K", "<none>", value, sizeof value, (app + "\\user.ini").c_str());
    EXPECT_STREQ("<none>", value);
    GetPrivateProfileStringA("Keep", "This", "<none>", value, sizeof value, (app + "\\user.ini").c_str());
    EXPECT_STREQ("stays", value);
    EXPECT_FALSE(PathExists(app + "\\app.lnk"));
    EXPECT_FALSE(PathExists(app + "\\menu"));
    EXPECT_FALSE(PathExists(app + "\\conf"));
    EXPECT_FALSE(KeyExists("Software\\QuillsetTest-ComDll"));
    EXPECT_FALSE(KeyExists("Software\\QuillsetTest-Unlogged"));
    EXPECT_TRUE(ReadWholeFile(log).empty());
  }
  DeleteTestKey("Software\\QuillsetTest-Unlogged");

  SetupState::UninstallLog.Close();
  DeleteFileA(filler.c_str());
  DeleteFileA(log.c_str());
}

struct LinkFields {
  std::string Target, Arguments, Folder, Description, IconFile;
  int IconIndex = -1;
};

LinkFields ReadLink(const std::string& path) {
  LinkFields f;
  IShellLinkA* link = NULL;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link))))
    return f;
  IPersistFile* file = NULL;
  WCHAR wide[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(wide, STGM_READ))) {
    char b[MAX_PATH];
    if (SUCCEEDED(link->GetPath(b, MAX_PATH, NULL, SLGP_RAWPATH))) f.Target = b;
    if (SUCCEEDED(link->GetArguments(b, MAX_PATH))) f.Arguments = b;
    if (SUCCEEDED(link->GetWorkingDirectory(b, MAX_PATH))) f.Folder = b;
    if (SUCCEEDED(link->GetDescription(b, MAX_PATH))) f.Description = b;
    if (SUCCEEDED(link->GetIconLocation(b, MAX_PATH, &f.IconIndex))) f.IconFile = b;
  }
  if (file) file->Release();
  link->Release();
  return f;
}

TEST_F(Engine, ShortcutsAreSavedWithEveryFieldAndTheirFoldersLoggedFirst) {
  CoInitialize(NULL);
  CreateDirectoryA(app.c_str(), NULL);
  WriteWholeFile(app + "\\app.exe", "MZ");
  Use("QSP40\r\n[Shortcuts]\r\n%MAINDIR%Menu\\%APPNAME%\\%APPNAME%.lnk,%MAINDIR%app.exe, "
      "%MAINDIR%data\\start.cfg,  %MAINDIR%data,Starts the app,%MAINDIR%app.ico, 3  trailing\r\n");
  WorkerRun run = RunWorker();
  EXPECT_EQ(0, run.Done);
  EXPECT_EQ(std::vector<std::string>{}, run.Boxes);
  const std::string lnk = app + "\\Menu\\Example App\\Example App.lnk";
  LinkFields f = ReadLink(lnk);
  EXPECT_EQ(app + "\\app.exe", f.Target);
  EXPECT_EQ(app + "\\data\\start.cfg", f.Arguments);
  EXPECT_EQ(app + "\\data", f.Folder);
  EXPECT_EQ("Starts the app", f.Description);
  EXPECT_EQ(app + "\\app.ico", f.IconFile);
  EXPECT_EQ(3, f.IconIndex);
  EXPECT_EQ((std::vector<std::string>{"DirectoryCreated=" + app + "\\Menu",
                                      "DirectoryCreated=" + app + "\\Menu\\Example App",
                                      "FileCreated=" + lnk}),
            Log());

  // Six fields only: the script is wrong, nothing is made.
  Use("QSP40\r\n[Shortcuts]\r\n%MAINDIR%Six\\six.lnk,%MAINDIR%app.exe,,,,\r\n");
  run = RunWorker();
  EXPECT_EQ(1, run.Done);
  EXPECT_EQ(std::vector<std::string>{"Error|Failed to create shortcuts due to errors in QSP file.\n"
                                     "Installation will be aborted."},
            run.Boxes);
  EXPECT_FALSE(PathExists(app + "\\Six"));
  CoUninitialize();
}

TEST_F(Engine, IniEntriesAreWrittenAndANewFileIsLoggedFirst) {
  CreateDirectoryA(app.c_str(), NULL);
  WriteWholeFile(app + "\\old.ini", "[Keep]\r\nThis=stays\r\n");
  Use("QSP40\r\n[INIFiles]\r\n%MAINDIR%old.ini,Settings, Language,  English words\r\n"
      "%MAINDIR%conf\\new.ini, Paths,Data,%MAINDIR%data,with,commas\r\n");
  WorkerRun run = RunWorker();
  EXPECT_EQ(0, run.Done);
  EXPECT_EQ(std::vector<std::string>{}, run.Boxes);
  char value[MAX_PATH];
  GetPrivateProfileStringA("Settings", "Language", "", value, sizeof value, (app + "\\old.ini").c_str());
  EXPECT_STREQ("English", value);
  GetPrivateProfileStringA("Keep", "This", "", value, sizeof value, (app + "\\old.ini").c_str());
  EXPECT_STREQ("stays", value);
  GetPrivateProfileStringA("Paths", "Data", "", value, sizeof value, (app + "\\conf\\new.ini").c_str());
  EXPECT_EQ(app + "\\data,with,commas", std::string(value));
  // made as the system's profile writer makes one: ANSI, no byte-order mark
  EXPECT_EQ("[Paths]\r\nData=" + app + "\\data,with,commas\r\n", ReadWholeFile(app + "\\conf\\new.ini"));
  EXPECT_EQ((std::vector<std::string>{"IniFileEntryAdded=" + app + "\\old.ini,Settings,Language",
                                      "DirectoryCreated=" + app + "\\conf",
                                      "FileCreated=" + app + "\\conf\\new.ini",
                                      "IniFileEntryAdded=" + app + "\\conf\\new.ini,Paths,Data"}),
            Log());

  Use("QSP40\r\n[INIFiles]\r\n%MAINDIR%x.ini,Section,Key\r\n");
  run = RunWorker();
  EXPECT_EQ(std::vector<std::string>{"Error|Failed to create/modify INI files: Unable to realize QSP file "
                                     "placeholders.\nInstallation will be aborted."},
            run.Boxes);
  EXPECT_EQ(1, run.Done);
}

TEST_F(Engine, RegistryValuesLandWithTheirTypesAndKeysToRemoveAreLoggedFirst) {
  const char* key = "Software\\QuillsetTest-Engine";
  DeleteTestKey(key);
  Use("QSP40\r\n[SysRegUninstall]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Engine\r\n"
      "HKEY_CURRENT_USER/%NOPE%\r\nHKEY_CURRENT_USER\r\nHKEY_USERS/Software/QuillsetTest-Engine\r\n"
      "HKEY_CURRENT_USER/\r\n"
      "[SysRegInt]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Engine/A/B/Count=  42\r\n"
      "HKEY_CURRENT_USER/Software/QuillsetTest-Engine/A/Zero\r\n"
      "[SysRegString]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Engine/A/Path= \"%MAINDIR%app.exe\" -x \r\n"
      "HKEY_CURRENT_USER/Software/QuillsetTest-Engine/A/=default value\r\n");
  WorkerRun run = RunWorker();
  EXPECT_EQ(0, run.Done);
  EXPECT_EQ(std::vector<std::string>{}, run.Boxes);
  DWORD type = 0;
  EXPECT_EQ(42u, ReadDword("Software\\QuillsetTest-Engine\\A\\B", "Count", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  EXPECT_EQ(0u, ReadDword("Software\\QuillsetTest-Engine\\A", "Zero", &type));
  EXPECT_EQ("\"" + app + "\\app.exe\" -x ", ReadString("Software\\QuillsetTest-Engine\\A", "Path", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ("default value", ReadString("Software\\QuillsetTest-Engine\\A", NULL, &type));
  // The line that does not expand is skipped without a word; so are those
  // whose record would stop the uninstaller or have it empty the root.
  EXPECT_EQ(std::vector<std::string>{"SysRegSectionAdded=HKEY_CURRENT_USER/Software/QuillsetTest-Engine"}, Log());
  DeleteTestKey(key);

  struct Case {
    const char* section;
    const char* line;
    std::string box;
  } cases[] = {
      {"SysRegInt", "HKEY_USERS/Software/QuillsetTest-Engine/V=1",
       "Error|Failed to write to registry: The following line in the QSP file contained an unrecognized key.\n"
       "HKEY_USERS/Software/QuillsetTest-Engine/V=1\nInstallation will be aborted"},
      {"SysRegInt", "hkey_current_user/Software/QuillsetTest-Engine/V=1",
       "Error|Failed to write to registry: The following line in the QSP file contained an unrecognized key.\n"
       "hkey_current_user/Software/QuillsetTest-Engine/V=1\nInstallation will be aborted"},
      {"SysRegInt", "HKEY_CURRENT_USER",
       "Error|Failed to write to registry: The following line in the QSP file contained no Section information.\n"
       "HKEY_CURRENT_USER\nInstallation will be aborted."},
      {"SysRegString", "HKEY_CURRENT_USER/Value=x",
       "Error|Failed to write to registry: The following line in the QSP file contained no Entry information.\n"
       "HKEY_CURRENT_USER/Value=x\nInstallation will be aborted."},
      {"SysRegString", "HKEY_CURRENT_USER/Software/QuillsetTest-Engine/Empty=",
       "Error|Failed to write the following line to registry:\n"
       "HKEY_CURRENT_USER/Software/QuillsetTest-Engine/Empty=\nInstallation will be aborted."},
      {"SysRegInt", "HKEY_CURRENT_USER/Software/%NOPE%/V=1",
       "Error|Failed to write to registry: Unable to realize QSP file placeholders.\nInstallation will be aborted."},
  };
  for (const Case& c : cases) {
    SetupState::UninstallLog.CreateTempLog();
    Use(std::string("QSP40\r\n[SysRegUninstall]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Engine\r\n[") +
        c.section + "]\r\n" + c.line + "\r\n");
    run = RunWorker();
    EXPECT_EQ(1, run.Done) << c.line;
    EXPECT_EQ(std::vector<std::string>{c.box}, run.Boxes) << c.line;
    // logged even though a registry line failed
    EXPECT_EQ(std::vector<std::string>{"SysRegSectionAdded=HKEY_CURRENT_USER/Software/QuillsetTest-Engine"}, Log());
    DeleteTestKey(key);
  }
}

TEST_F(Engine, DllsAreRegisteredAndProgramsRunOneAfterTheOther) {
  DeleteTestKey("Software\\QuillsetTest-ComDll");
  const std::string out = dir.File("order.txt");
  const std::string probe = QS_BUILD_DIR "\\tests\\win32\\execprobe.exe";
  Use("QSP40\r\n[RegisterDlls]\r\n" QS_BUILD_DIR "\\tests\\win32\\qs-comdll.dll\r\n[Execute]\r\n\"" + probe +
      "\" \"" + out + "\" first 3 400\r\n\"" + probe + "\" \"" + out + "\" second 0 0\r\n");
  WorkerRun run = RunWorker();
  EXPECT_EQ(0, run.Done);
  EXPECT_EQ(std::vector<std::string>{}, run.Boxes);
  DWORD type = 0;
  EXPECT_EQ(1u, ReadDword("Software\\QuillsetTest-ComDll", "Registered", &type));
  EXPECT_EQ("firstsecond", ReadWholeFile(out));  // the second waited for the first
  EXPECT_EQ(std::vector<std::string>{"DllRegistered=" QS_BUILD_DIR "\\tests\\win32\\qs-comdll.dll"}, Log());
  EXPECT_EQ((std::vector<int>{85, 88, 91, 94, 97, 100}), run.Percents);
  DeleteTestKey("Software\\QuillsetTest-ComDll");

  struct Case {
    std::string script;
    std::string box;
  } cases[] = {
      {"[RegisterDlls]\r\n" QS_BUILD_DIR "\\tests\\win32\\qs-noreg.dll",
       "Error|Failed to register dll file: The following dll file could not be registered.\n" QS_BUILD_DIR
       "\\tests\\win32\\qs-noreg.dll\nInstallation will be aborted."},
      {"[RegisterDlls]\r\n%MAINDIR%absent.dll",
       "Error|Failed to register dll file: The following dll file could not be loaded.\n" + app +
           "\\absent.dll\nInstallation will be aborted."},
      {"[Execute]\r\n%MAINDIR%absent.exe -a",
       "Error|Failed to execute the following file:\n" + app + "\\absent.exe -a\nInstallation will be aborted."},
  };
  for (const Case& c : cases) {
    SetupState::UninstallLog.CreateTempLog();
    Use("QSP40\r\n" + c.script + "\r\n");
    run = RunWorker();
    EXPECT_EQ(1, run.Done) << c.script;
    EXPECT_EQ(std::vector<std::string>{c.box}, run.Boxes);
    EXPECT_TRUE(Log().empty()) << c.script;
  }
}

}  // namespace
