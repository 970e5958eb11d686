#include "E2eSupport.h"

#include <gtest/gtest.h>
#include <string.h>
#include <tlhelp32.h>

#include "../win32/TestSupport.h"
#include "EnglishText.h"
#include "efs/EfsFormat.h"
#include "resources/resource.h"

namespace {

const DWORD kPageTimeout = 20000;
// The installation and the uninstallation run while both lanes are busy.
const DWORD kWorkTimeout = 60000;

}  // namespace

std::string BuildSetupFile(const TempFolder& dir, const std::string& script, const std::vector<SetupSource>& files,
                           const SetupOptions& options) {
  const SetupSource scriptFile = {"default.qsp", script};
  SetupSource table("", "", false, "Translations.ini");
  table.From = options.Table.empty() ? kEnglish : options.Table;
  // the script and the table first, as the command orders them, unless a
  // test needs them after the files
  std::vector<SetupSource> all;
  if (!options.ScriptLast) all = {scriptFile, table};
  all.insert(all.end(), files.begin(), files.end());
  if (options.ScriptLast) all.insert(all.end(), {table, scriptFile});
  const std::string setup = dir.File(options.Name.c_str());
  BuildSetupOf(QS_STUB_PATH, dir.File(options.Folder.c_str()), all, setup, options.Method);
  return setup;
}

std::string BuildSetupFile(const TempFolder& dir, const std::string& script, const std::vector<SetupSource>& files,
                           const char* name) {
  SetupOptions options;
  options.Name = name;
  return BuildSetupFile(dir, script, files, options);
}

HWND StartSetup(Robot& robot, const std::string& setup, DWORD timeout) {
  if (!robot.Start("\"" + setup + "\"")) return NULL;
  return robot.WaitForWindow("#32770", En("WELCOME").c_str(), timeout);
}

void WalkToFinishPage(Robot& robot, HWND* w, int enabled, const std::function<void(HWND)>& atDestination) {
  for (const char* page : {"CHOOSE_DESITNATION_LOCATION", "START_INSTALLATION", "INSTALLING"}) {
    ASSERT_TRUE(Robot::Press(*w, IDC_NEXT)) << page;
    *w = robot.WaitForWindow("#32770", En(page).c_str(), kPageTimeout);
    ASSERT_TRUE(*w) << page;
    if (atDestination && strcmp(page, "CHOOSE_DESITNATION_LOCATION") == 0) atDestination(*w);
  }
  const HWND page = *w;
  ASSERT_TRUE(robot.WaitUntil(
      [&] { return Robot::ItemText(page, IDC_NEXT) == En("FINISH") && IsWindowEnabled(GetDlgItem(page, enabled)); },
      kWorkTimeout, "the finish page"));
}

void InstallWithDefaults(Robot& robot, HWND welcome, const std::function<void(HWND)>& atDestination) {
  HWND w = welcome;
  ASSERT_NO_FATAL_FAILURE(WalkToFinishPage(robot, &w, IDC_NEXT, atDestination));
  Robot::Settle(w);
  ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
  DWORD code = 1;
  ASSERT_TRUE(robot.WaitForExit(kPageTimeout, &code));
  EXPECT_EQ(0u, code);
}

void UninstallWithYes(Robot& un, const std::string& uninstaller, const std::string& cwd, const char* waitingFor) {
  ASSERT_TRUE(un.Start("\"" + uninstaller + "\"", cwd.c_str()));
  // the question names the program, whatever the caller called it; Enter
  // alone uninstalls nothing
  const RobotMessageBox box = un.WaitForMessageBox(En("UNINSTALL_TITLE").c_str(), kPageTimeout);
  ASSERT_TRUE(box.Window) << "no question\n" << un.WindowTree();
  EXPECT_EQ(IDNO, DefaultButton(box.Window));
  ASSERT_TRUE(un.Answer(box, IDYES, kPageTimeout));
  const std::string question = box.Text;
  const std::string english = En("YOU_ARE_ABOUT_TO_UNINSTALL");
  const size_t name = english.find("%APPNAME%");
  ASSERT_NE(std::string::npos, name);
  EXPECT_TRUE(question.size() > english.size() - 9 && question.compare(0, name, english, 0, name) == 0 &&
              question.compare(question.size() - (english.size() - name - 9), std::string::npos, english,
                               name + 9, std::string::npos) == 0)
      << question;
  HWND result = NULL;
  ASSERT_TRUE(un.WaitUntil(
      [&] {
        result = un.FindWindowNow("#32770", En("UNINSTALL_TITLE").c_str());
        return result && IsWindowVisible(GetDlgItem(result, IDOK));
      },
      kWorkTimeout, waitingFor));
  Robot::Settle(result);
  EXPECT_EQ(En("UNINSTALLATION_IS_NOW_FINISHED"), Robot::ItemText(result, IDC_UNINSTALL_TEXT));
  ASSERT_TRUE(Robot::Press(result, IDOK));
  DWORD code = 1;
  ASSERT_TRUE(un.WaitForExit(kPageTimeout, &code));
}

// The limited token of an administrator, as a user's programs run with it
// under the consent prompt; null (after a failure) when there is none.
static HANDLE LimitedToken() {
  HANDLE own = NULL, limited = NULL;
  TOKEN_LINKED_TOKEN linked = {};
  DWORD size = 0;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own) ||
      !GetTokenInformation(own, TokenElevationType, &type, sizeof type, &size)) {
    ADD_FAILURE() << "no token, error " << GetLastError();
  } else if (type != TokenElevationTypeFull) {
    ADD_FAILURE() << "the tests do not run elevated: no limited token to start a program with";
  } else if (!GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size) ||
             !DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, NULL, SecurityImpersonation, TokenPrimary,
                               &limited)) {
    ADD_FAILURE() << "no limited token, error " << GetLastError();
  }
  if (linked.LinkedToken) CloseHandle(linked.LinkedToken);
  if (own) CloseHandle(own);
  return limited;
}

// The running copies of its own program that pid started (not the
// self-removal's interpreter, which a watcher would end with itself).
static std::vector<DWORD> CopiesStartedBy(DWORD pid) {
  std::vector<DWORD> copies;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return copies;
  std::vector<PROCESSENTRY32W> all;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    all.push_back(entry);
  CloseHandle(snapshot);
  for (const PROCESSENTRY32W& parent : all)
    if (parent.th32ProcessID == pid)
      for (const PROCESSENTRY32W& child : all)
        if (child.th32ParentProcessID == pid && child.th32ProcessID != pid &&
            lstrcmpiW(child.szExeFile, parent.szExeFile) == 0)
          copies.push_back(child.th32ProcessID);
  return copies;
}

WatchedRun RunWatched(const std::wstring& line, const wchar_t* cwd, DWORD timeout,
                      const std::function<void(HWND)>& atWindow, bool withoutRights) {
  WatchedRun run;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  std::wstring command = line;
  HANDLE token = withoutRights ? LimitedToken() : NULL;
  if (withoutRights && !token) return run;
  const BOOL started = token ? CreateProcessAsUserW(token, NULL, &command[0], NULL, NULL, FALSE, 0, NULL, cwd, &si, &pi)
                             : CreateProcessW(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, cwd, &si, &pi);
  if (token) CloseHandle(token);
  if (!started) {
    ADD_FAILURE() << "cannot start, error " << GetLastError();
    return run;
  }
  CloseHandle(pi.hThread);
  run.Process = pi.dwProcessId;
  Robot watcher;
  watcher.Attach(pi.dwProcessId);
  // the run it starts with the rights, once seen
  Robot elevated;
  bool elevatedSeen = false;
  const DWORD start = GetTickCount();
  auto look = [&] {
    if (withoutRights && !elevatedSeen) {
      const std::vector<DWORD> children = CopiesStartedBy(pi.dwProcessId);
      if (!children.empty()) elevatedSeen = elevated.Attach(children.front());
    }
    std::vector<HWND> windows = watcher.TopLevelWindows(true);
    if (elevatedSeen)
      for (HWND w : elevated.TopLevelWindows(true)) windows.push_back(w);
    for (HWND w : windows) {
      bool progress = false;
      for (const RobotControl& c : Robot::Controls(w)) progress = progress || c.Class == "msctls_progress32";
      const std::string seen = Robot::Class(w) + " \"" + Robot::Text(w) + "\"" + (progress ? " +progress" : "");
      // one that went while it was read is read wrong
      if (!IsWindow(w)) continue;
      run.Windows.push_back(seen);
      if (atWindow) atWindow(w);
    }
  };
  while (WaitForSingleObject(pi.hProcess, 100) == WAIT_TIMEOUT && GetTickCount() - start < timeout) look();
  look();
  run.Ended = WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
  if (!run.Ended) TerminateProcess(pi.hProcess, 99);
  GetExitCodeProcess(pi.hProcess, &run.Code);
  CloseHandle(pi.hProcess);
  return run;
}

std::wstring Wide(const std::string& text, UINT codePage) {
  std::wstring w(text.size() + 1, L'\0');
  w.resize((size_t)MultiByteToWideChar(codePage, 0, text.c_str(), -1, &w[0], (int)w.size()) - 1);
  return w;
}
