// The setup program started as a user starts it: one copy at a time, the
// modes not yet built refusing visibly, nothing left in the temporary folder,
// and no DLL taken from the folder it was started from.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "../win32/TestSupport.h"
#include "Robot.h"
#include "TestPaths.h"
#include "efs/EfsFormat.h"

namespace {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// A copy of the setup program with `tail` appended, in folder.
std::string MakeSetupFile(const TempFolder& folder, const char* name, const std::string& tail) {
  std::string path = folder.File(name);
  WriteWholeFile(path, ReadWholeFile(QS_STUB_PATH) + tail);
  return path;
}

std::string Sig(const unsigned char* s) { return std::string((const char*)s, 16); }

std::string EmptyContainer() {
  unsigned char t[24];
  EFSTRAILER trailer = {0, 24, {0}};
  memcpy(trailer.Signature, InstallerSignature, 16);
  EfsEncodeTrailer(trailer, t);
  return std::string((const char*)t, 24);
}

// Runs the program to its error box; returns the box's text and exit code.
std::string RunToErrorBox(const std::string& exe, DWORD* exitCode,
                          std::vector<std::string>* logsWhileOpen = nullptr) {
  Robot robot;
  if (!robot.Start(Quoted(exe))) {
    ADD_FAILURE() << "cannot start " << exe;
    return std::string();
  }
  HWND box = robot.WaitForWindow("#32770", "Error", 20000);
  if (!box) return std::string();
  if (logsWhileOpen) *logsWhileOpen = TempFilesMatching("UNI*.tmp");
  std::string text = robot.AnswerMessageBox("Error", IDOK, 5000);
  robot.WaitForExit(20000, exitCode);
  return text;
}

TEST(Startup, EveryModeFailsVisiblyAndLeavesNoTemporaryLog) {
  TempFolder folder;
  struct Case { const char* name; std::string tail; const char* text; } cases[] = {
      {"bare.exe", "", "Split installations are not available in this build of Quillset."},
      {"uninstall.exe", Sig(UninstallerSignature), "Uninstalling is not available in this build of Quillset."},
      // an installer without a single entry has no script to run
      {"setup.exe", EmptyContainer(), "Failed to copy default.qsp to the temp directory."},
  };
  for (const Case& c : cases) {
    std::vector<std::string> before = TempFilesMatching("UNI*.tmp"), during;
    DWORD code = 0;
    EXPECT_EQ(c.text, RunToErrorBox(MakeSetupFile(folder, c.name, c.tail), &code, &during)) << c.name;
    EXPECT_NE(0u, code) << c.name << ": a failure must not look like success";
    // the run had a log of its own while it ran, and took it away at exit
    EXPECT_EQ(before.size() + 1, during.size()) << c.name;
    std::vector<std::string> after = TempFilesMatching("UNI*.tmp");
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(before, after) << c.name;
  }
}

TEST(Startup, ASecondCopyEndsAtOnceWithoutAWindow) {
  HANDLE mutex = CreateMutexA(NULL, FALSE, "UnQuillsetDeployer_mutex");
  ASSERT_TRUE(mutex != NULL);
  TempFolder folder;
  std::string exe = MakeSetupFile(folder, "setup.exe", EmptyContainer());
  Robot robot;
  ASSERT_TRUE(robot.Start(Quoted(exe)));
  bool sawWindow = false;
  DWORD start = GetTickCount();
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, robot.Pid());
  while (WaitForSingleObject(process, 20) == WAIT_TIMEOUT && GetTickCount() - start < 20000)
    if (!robot.TopLevelWindows(true).empty()) sawWindow = true;
  CloseHandle(process);
  DWORD code = 1234;
  ASSERT_TRUE(robot.WaitForExit(1000, &code));
  EXPECT_EQ(0u, code);
  EXPECT_FALSE(sawWindow) << robot.WindowTree();
  CloseHandle(mutex);

  // without the mutex the same file does start and show its message
  DWORD again = 0;
  EXPECT_FALSE(RunToErrorBox(exe, &again).empty());
}

const char* const kPlantedNames[] = {
    "winmm", "version", "dwmapi", "uxtheme", "userenv", "cryptbase", "propsys", "apphelp",
    "riched20", "msimg32", "oleacc", "ntmarta", "textshaping", "mpr", "netapi32", "winhttp"};

std::vector<std::string> Markers(const TempFolder& folder) {
  std::vector<std::string> found;
  for (const char* name : kPlantedNames)
    if (PathExists(folder.File((std::string(name) + ".dll.loaded").c_str()))) found.push_back(name);
  return found;
}

void Plant(const TempFolder& folder) {
  std::string dll = ReadWholeFile(QS_PLANTED_DLL);
  ASSERT_FALSE(dll.empty()) << QS_PLANTED_DLL;
  for (const char* name : kPlantedNames) WriteWholeFile(folder.File((std::string(name) + ".dll").c_str()), dll);
}

TEST(Startup, DllsPlantedBesideTheProgramAreNeverLoaded) {
  // The control shows that this system does load planted DLLs by bare name.
  TempFolder control;
  Plant(control);
  WriteWholeFile(control.File("unhardened.exe"), ReadWholeFile(QS_UNHARDENED_EXE));
  std::string line = Quoted(control.File("unhardened.exe"));
  for (const char* name : kPlantedNames) line += std::string(" ") + name + ".dll";
  Robot controlRun;
  ASSERT_TRUE(controlRun.Start(line));
  ASSERT_TRUE(controlRun.WaitForExit(20000, nullptr));
  std::vector<std::string> loaded = Markers(control);
  ASSERT_FALSE(loaded.empty()) << "planted DLLs are not loaded even unprotected: the check below proves nothing";

  TempFolder folder;
  Plant(folder);
  DWORD code = 0;
  std::string exe = MakeSetupFile(folder, "setup.exe", Sig(UninstallerSignature));
  EXPECT_FALSE(RunToErrorBox(exe, &code).empty());
  EXPECT_EQ(std::vector<std::string>(), Markers(folder));
}

}  // namespace
