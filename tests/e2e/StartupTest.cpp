// The setup program started as a user starts it: one copy at a time, its
// failures shown, nothing left in the temporary folder, and no DLL taken
// from the folder it was started from.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "../win32/TestSupport.h"
#include "../win32/Robot.h"
#include "TestPaths.h"
#include "efs/EfsFormat.h"

namespace {

const DWORD kWindowTimeout = 20000;
const DWORD kExitTimeout = 20000;

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// A copy of the setup program with `tail` appended, in folder.
std::string MakeSetupFile(const TempFolder& folder, const char* name, const std::string& tail) {
  std::string stub = ReadWholeFile(QS_STUB_PATH);
  EXPECT_FALSE(stub.empty()) << QS_STUB_PATH;
  std::string path = folder.File(name);
  WriteWholeFile(path, stub + tail);
  return path;
}

// A container with no entries: just its trailer.
std::string EmptyContainer() {
  unsigned char t[EFS_TRAILER_SIZE];
  EFSTRAILER trailer = {0, EFS_TRAILER_SIZE, {0}};
  memcpy(trailer.Signature, InstallerSignature, EFS_SIGNATURE_SIZE);
  EfsEncodeTrailer(trailer, t);
  return std::string((const char*)t, EFS_TRAILER_SIZE);
}

// A solid container's header of a format version after ours, and its trailer.
std::string NewerFormatContainer() {
  std::string header(EFS_SOLID_HEADER_SIZE, '\0');
  EfsWriteU32((unsigned char*)&header[0], EFS_FORMAT_NAMED_LINES + 1);
  unsigned char t[EFS_TRAILER_SIZE];
  EFSTRAILER trailer = {EFS_EXTENDED_COUNT, EFS_SOLID_HEADER_SIZE + EFS_TRAILER_SIZE, {0}};
  memcpy(trailer.Signature, InstallerSignature, EFS_SIGNATURE_SIZE);
  EfsEncodeTrailer(trailer, t);
  return header + std::string((const char*)t, EFS_TRAILER_SIZE);
}

std::vector<std::string> SortedTempLogs() {
  std::vector<std::string> names = TempFilesMatching("UNI*.tmp");
  std::sort(names.begin(), names.end());
  return names;
}

struct ErrorRun {
  RobotMessageBox Box;
  DWORD ExitCode = 0;
  bool Ended = false;
  std::vector<std::string> LogsWhileOpen;  // UNI*.tmp while the box was up
};

// Starts the program, reads its "Error" box, presses OK and waits for the end.
ErrorRun RunToErrorBox(const std::string& exe) {
  ErrorRun run;
  Robot robot;
  if (!robot.Start(Quoted(exe))) {
    ADD_FAILURE() << "cannot start " << exe;
    return run;
  }
  run.Box = robot.WaitForMessageBox("Error", kWindowTimeout);
  if (!run.Box.Window) return run;
  run.LogsWhileOpen = SortedTempLogs();
  EXPECT_TRUE(Robot::Press(run.Box.Window, IDOK)) << robot.WindowTree();
  // a second box would keep it from ending
  run.Ended = robot.WaitForExit(kExitTimeout, &run.ExitCode);
  return run;
}

TEST(Startup, ASecondCopyEndsAtOnceWithoutAWindow) {
  HANDLE mutex = CreateMutexA(NULL, FALSE, "UnQuillsetDeployer_mutex");
  ASSERT_TRUE(mutex != NULL);
  ASSERT_NE((DWORD)ERROR_ALREADY_EXISTS, GetLastError()) << "a copy is running already";
  {
    Robot robot;
    ASSERT_TRUE(robot.Start(Quoted(QS_STUB_PATH)));
    bool sawWindow = false;
    std::string seen;
    DWORD start = GetTickCount();
    while (robot.Running() && GetTickCount() - start < kExitTimeout) {
      if (!sawWindow && !robot.TopLevelWindows(true).empty()) {
        sawWindow = true;
        seen = robot.WindowTree();
      }
      Sleep(5);
    }
    DWORD code = 1234;
    ASSERT_TRUE(robot.WaitForExit(1000, &code));
    EXPECT_EQ(4u, code) << "another setup is running";
    EXPECT_FALSE(sawWindow) << seen;
  }
  CloseHandle(mutex);

  // without the mutex the same program does show itself
  TempFolder folder;
  ErrorRun run = RunToErrorBox(MakeSetupFile(folder, "setup.exe", EmptyContainer()));
  EXPECT_TRUE(run.Box.Window != NULL);
  EXPECT_TRUE(run.Ended);
}

// A split installation's copy of itself in the temporary folder goes on
// every path, here when another setup holds the mutex; a setup file that a
// user started with the same option is not such a copy and stays.
TEST(Startup, ATemporaryCopyThatEndsEarlyRemovesItself) {
  HANDLE mutex = CreateMutexA(NULL, FALSE, "UnQuillsetDeployer_mutex");
  ASSERT_TRUE(mutex != NULL);
  ASSERT_NE((DWORD)ERROR_ALREADY_EXISTS, GetLastError()) << "a copy is running already";
  char temp[MAX_PATH], copy[MAX_PATH];
  ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
  ASSERT_NE(0u, GetTempFileNameA(temp, "EXE", 0, copy));
  WriteWholeFile(copy, ReadWholeFile(QS_STUB_PATH));
  TempFolder folder;
  const std::string users = folder.File("setup.exe");
  WriteWholeFile(users, ReadWholeFile(QS_STUB_PATH));
  for (const std::string& exe : {std::string(copy), users}) {
    Robot robot;
    ASSERT_TRUE(robot.Start(Quoted(exe) + " -joinsplitparts " + folder.File("Setup")));
    DWORD code = 1234;
    ASSERT_TRUE(robot.WaitForExit(kExitTimeout, &code)) << exe;
    EXPECT_EQ(4u, code);
  }
  CloseHandle(mutex);
  Robot wait;
  EXPECT_TRUE(wait.WaitUntil([&] { return !PathExists(copy); }, 20000, "the temporary copy's removal"));
  // every self-removal has ended, so one for the user's file would have
  // done its work by now
  EXPECT_TRUE(wait.WaitUntil([&] { return RunningCommandInterpreters() == 0; }, 70000, "the self-removals' end"));
  EXPECT_TRUE(PathExists(users)) << "the user's own setup file is kept";
  DeleteFileA(copy);
}

TEST(Startup, AFailureIsShownAndLeavesNoTemporaryLog) {
  struct Case {
    const char* name;
    std::string tail;
    const char* text;
  } cases[] = {
      // an installer without a single entry has no script to run
      {"setup.exe", EmptyContainer(), "Failed to copy default.qsp to the temp directory."},
      // a container this program is too old for says so, not "unspecified"
      {"newer.exe", NewerFormatContainer(),
       "This installation file is in a newer format than its setup program can read.\n"
       "The installation will be terminated."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    std::string exe = MakeSetupFile(folder, c.name, c.tail);
    std::vector<std::string> before = SortedTempLogs();
    ErrorRun run = RunToErrorBox(exe);
    if (!run.Box.Window) continue;
    EXPECT_EQ("Error", run.Box.Caption);
    EXPECT_EQ(c.text, run.Box.Text);
    EXPECT_EQ(std::vector<std::string>{"OK"}, run.Box.Buttons);
    ASSERT_TRUE(run.Ended);
    EXPECT_NE(0u, run.ExitCode) << "a failure must not look like success";
    // the run had a log of its own while it ran, and took it away at exit
    std::vector<std::string> fresh;
    std::set_difference(run.LogsWhileOpen.begin(), run.LogsWhileOpen.end(), before.begin(),
                        before.end(), std::back_inserter(fresh));
    EXPECT_EQ(1u, fresh.size());
    EXPECT_EQ(before, SortedTempLogs());
  }
}

const char* const kPlantedNames[] = {
    "winmm",    "version", "dwmapi", "uxtheme",     "userenv", "cryptbase", "propsys", "apphelp",
    "riched20", "msimg32", "oleacc", "ntmarta",     "textshaping", "mpr",   "netapi32", "winhttp"};
const size_t kPlantedCount = sizeof kPlantedNames / sizeof kPlantedNames[0];

// Wine takes its own copy of most system DLLs even when a file of that name
// lies beside the program; Windows takes the file. For one program, this
// prefix is told to prefer such files for the given names, as Windows does,
// so that a planted DLL is loaded unless the search itself keeps it out.
class PreferPlantedDlls {
 public:
  PreferPlantedDlls(const std::string& program, const std::vector<std::string>& names)
      : m_Key("Software\\Wine\\AppDefaults\\" + program), m_Names(names) {
    HKEY key;
    std::string path = m_Key + "\\DllOverrides";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key,
                        NULL) != ERROR_SUCCESS) {
      ADD_FAILURE() << "cannot create " << path;
      return;
    }
    for (const std::string& name : m_Names)
      RegSetValueExA(key, name.c_str(), 0, REG_SZ, (const BYTE*)"native,builtin", 15);
    RegCloseKey(key);
  }
  ~PreferPlantedDlls() {
    HKEY key;
    std::string path = m_Key + "\\DllOverrides";
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      for (const std::string& name : m_Names) RegDeleteValueA(key, name.c_str());
      RegCloseKey(key);
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, m_Key.c_str());
  }

 private:
  std::string m_Key;
  std::vector<std::string> m_Names;
};

std::vector<std::string> Markers(const TempFolder& folder) {
  std::vector<std::string> found;
  for (const char* name : kPlantedNames)
    if (PathExists(folder.File((std::string(name) + ".dll.loaded").c_str()))) found.push_back(name);
  return found;
}

void Plant(const TempFolder& folder) {
  std::string dll = ReadWholeFile(QS_PLANTED_DLL);
  ASSERT_FALSE(dll.empty()) << QS_PLANTED_DLL;
  for (const char* name : kPlantedNames)
    WriteWholeFile(folder.File((std::string(name) + ".dll").c_str()), dll);
}

TEST(Startup, DllsPlantedBesideTheProgramAreNeverLoaded) {
  const char* control = "qs-planted-control.exe";
  const char* setup = "qs-planted-setup.exe";
  std::vector<std::string> all(kPlantedNames, kPlantedNames + kPlantedCount);
  // Wine's own DLLs load some of these along the default search whatever the
  // program restricted (user32 imports version, comctl32 delay-loads
  // uxtheme, which delay-loads msimg32); on Windows the restriction covers
  // them. Those keep Wine's own copy for the setup program; the rest are
  // taken from beside it if its search lets them.
  const char* const wineOwn[] = {"version", "uxtheme", "msimg32"};
  std::vector<std::string> forSetup;
  for (const std::string& name : all)
    if (std::find(std::begin(wineOwn), std::end(wineOwn), name) == std::end(wineOwn))
      forSetup.push_back(name);
  PreferPlantedDlls preferControl(control, all);
  PreferPlantedDlls preferSetup(setup, forSetup);

  // The control shows that a program which does not restrict its search
  // loads every one of them from its own folder.
  {
    TempFolder folder;
    Plant(folder);
    WriteWholeFile(folder.File(control), ReadWholeFile(QS_UNHARDENED_EXE));
    std::string line = Quoted(folder.File(control));
    for (const char* name : kPlantedNames) line += std::string(" ") + name + ".dll";
    Robot robot;
    ASSERT_TRUE(robot.Start(line));
    DWORD failed = 1234;
    ASSERT_TRUE(robot.WaitForExit(kExitTimeout, &failed));
    EXPECT_EQ(0u, failed) << "names the control could not load at all";
    EXPECT_EQ(all, Markers(folder)) << "not all planted DLLs are loaded even unprotected";
  }

  TempFolder folder;
  Plant(folder);
  ErrorRun run = RunToErrorBox(MakeSetupFile(folder, setup, EmptyContainer()));
  EXPECT_TRUE(run.Box.Window != NULL) << "the program did not get as far as its message";
  EXPECT_TRUE(run.Ended);
  EXPECT_EQ(std::vector<std::string>(), Markers(folder));
}

}  // namespace
