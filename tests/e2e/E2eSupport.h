// What the end-to-end tests do alike: walk the wizard with its default
// answers, run the uninstaller to its end, and see what is left behind.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "../win32/Robot.h"
#include "tests/TestData.h"

class TempFolder;

// How BuildSetupFile builds.
struct SetupOptions {
  EfsMethod Method = EFS_METHOD_ZLIB;  // TestMethod() for this lane's
  std::string Table;                   // the Translations.ini entry's file; empty: the English table
  bool ScriptLast = false;             // the files first, then the table and the script
  std::string Folder = "src";          // where in dir the files are written
  std::string Name = "Setup.exe";
};

// A setup file in dir: the setup program of this lane with script as
// default.qsp, the table and files (written to the options' folder).
std::string BuildSetupFile(const TempFolder& dir, const std::string& script, const std::vector<SetupSource>& files,
                           const SetupOptions& options);
std::string BuildSetupFile(const TempFolder& dir, const std::string& script,
                           const std::vector<SetupSource>& files = {}, const char* name = "Setup.exe");

// Starts setup (a path, quoted here) and waits for its welcome page; NULL
// when it does not start or the page does not come within timeout.
HWND StartSetup(Robot& robot, const std::string& setup, DWORD timeout = 20000);

// From the welcome page: Next on every page, Finish once the installation
// has ended; the setup program must end with 0. atDestination looks at the
// destination page before Next is pressed there. Fails fatally on the way.
// From the welcome page *w: Next on every page, up to the finish page of the
// ended installation (Finish there, and control `enabled` enabled); *w is
// then that page. Fails fatally on the way.
void WalkToFinishPage(Robot& robot, HWND* w, int enabled, const std::function<void(HWND)>& atDestination = nullptr);
void InstallWithDefaults(Robot& robot, HWND welcome,
                         const std::function<void(HWND)>& atDestination = nullptr);

// Starts the uninstaller in folder cwd, answers its question with Yes, waits
// for the finished page (waitingFor names it should that hang), presses OK
// and waits for the uninstaller to end.
void UninstallWithYes(Robot& un, const std::string& uninstaller, const std::string& cwd,
                      const char* waitingFor = "the uninstall result");

// What a run watched from outside did: its exit code, whether it ended in
// time, and every visible top-level window it showed, as `class "title"`
// with " +progress" where it held a progress bar.
struct WatchedRun {
  DWORD Code = 99;
  bool Ended = false;
  DWORD Process = 0;  // the one started
  std::vector<std::string> Windows;
};

// Runs line (as CreateProcessW takes it) to its end in cwd, looking at its
// windows every 100 ms (and handing each to atWindow, when given); one
// still running after timeout ms is ended.
// withoutRights: started as a user without administrator rights (the
// limited twin of this process's token); the windows of the processes it
// starts are watched too.
WatchedRun RunWatched(const std::wstring& line, const wchar_t* cwd = NULL, DWORD timeout = 60000,
                      const std::function<void(HWND)>& atWindow = nullptr, bool withoutRights = false);

// text of the code page as UTF-16.
std::wstring Wide(const std::string& text, UINT codePage = CP_UTF8);
