// The silent front end and the run log: nothing is shown, every question
// takes its answer for nobody being there, and the log says it all in
// readable lines.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "TestPaths.h"
#include "TestSupport.h"
#include "driver/SetupState.h"
#include "platform/FrontEnd.h"
#include "platform/RunLog.h"
#include "ui/PassiveWindow.h"
#include "ui/SilentFrontEnd.h"

namespace {

// The log's text without the "HH:MM:SS " of each entry.
std::string WithoutTimes(const std::string& text) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size() - 1;
    std::string line = text.substr(at, end + 1 - at);
    if (line.size() > 9 && line[2] == ':' && line[5] == ':' && line[8] == ' ') line = line.substr(9);
    out += line;
    at = end + 1;
  }
  return out;
}

BOOL CALLBACK CountVisible(HWND w, LPARAM count) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid == GetCurrentProcessId() && IsWindowVisible(w)) ++*reinterpret_cast<int*>(count);
  return TRUE;
}

int VisibleWindowsOfThisProcess() {
  int count = 0;
  EnumWindows(CountVisible, reinterpret_cast<LPARAM>(&count));
  return count;
}

TEST(RunLog, EntriesAreReadableLinesAndALogIsReplacedOrAddedTo) {
  TempFolder dir;
  const std::string path = dir.File("run.log");
  RunLogLine("Failure", "not written: no log is open");
  ASSERT_EQ(1, OpenRunLog(path.c_str(), 0));
  RunLogLine("FileCreated", "C:\\App\\a.txt");
  RunLogLine("Failure", "first line\nsecond line\r\nthird");
  RunLogLineWith("Installing", "into %s", "C:\\App");
  CloseRunLog();
  EXPECT_EQ(
      "FileCreated: C:\\App\\a.txt\r\n"
      "Failure: first line\r\n"
      "         second line\r\n"
      "         third\r\n"
      "Installing: into C:\\App\r\n",
      WithoutTimes(ReadWholeFile(path)))
      << ReadWholeFile(path);

  ASSERT_EQ(1, OpenRunLog(path.c_str(), 1));
  RunLogLine("Result", "exit code 0, done");
  CloseRunLog();
  EXPECT_NE(std::string::npos, WithoutTimes(ReadWholeFile(path)).find("Installing: into C:\\App\r\nResult: exit code 0, done\r\n"));
  ASSERT_EQ(1, OpenRunLog(path.c_str(), 0));
  CloseRunLog();
  EXPECT_EQ("", ReadWholeFile(path)) << "replaced";
  EXPECT_EQ(0, OpenRunLog(dir.File("no such folder\\run.log").c_str(), 0));
  EXPECT_EQ(0, RunLogIsOpen());
}

TEST(SilentFrontEnd, NothingIsShownAndQuestionsKeepWhatIsThere) {
  TempFolder dir;
  const std::string path = dir.File("silent.log");
  ASSERT_EQ(1, OpenRunLog(path.c_str(), 0));
  CSilentFrontEnd silent;
  SetFrontEnd(&silent);
  ASSERT_EQ(1, SetupState::Translations.SetFile(QS_SOURCE_DIR "\\translations\\English.ini"));
  // a box would block this thread until someone pressed it
  FrontEnd()->ShowFailure(NULL, "The disk is full.", "Error", MB_OK | MB_ICONERROR);
  EXPECT_EQ(IDNO, SetupState::Translations.ShowMessage(NULL, "DO_YOU_REALY_WANT_TO_QUIT", "INSTALL_TITLE",
                                                       MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(IDCANCEL, SetupState::Translations.ShowMessage(NULL, "ERROR", "ERROR", MB_OKCANCEL));
  EXPECT_EQ(IDYES, FrontEnd()->Ask(NULL, "Go on?", "Question", MB_YESNO, IDYES));
  SetupState::Translations.ShowMessage(NULL, "FOLDER_CONTAINS_LOCKED_FILES_OR_SUBFOLDERS", "ERROR",
                                       MB_ICONWARNING);
  EXPECT_EQ(0, VisibleWindowsOfThisProcess());
  SetFrontEnd(NULL);
  CloseRunLog();
  const std::string text = WithoutTimes(ReadWholeFile(path));
  for (const char* line :
       {"Failure: The disk is full.\r\n", "Question: Setup is not complete. Do you really want to quit the setup now?\r\n",
        "Answer: No (silent run)\r\n", "Question: Go on?\r\nAnswer: Yes (silent run)\r\n", "Warning: The folder %s\r\n"})
    EXPECT_NE(std::string::npos, text.find(line)) << line << " in\n" << text;
  EXPECT_EQ(MessageBoxFrontEnd(), FrontEnd()) << "null goes back to the boxes";
}

int g_Cancels;
CPassiveWindow* g_Passive;

DWORD WINAPI ReportFromAWorker(LPVOID) {
  g_Passive->Progress(40, "C:\\App\\a.txt");
  return 0;
}

std::string LineOf(const CPassiveWindow& passive) {
  char text[128] = "";
  GetWindowTextA(FindWindowExA(passive.Window(), NULL, "STATIC", NULL), text, sizeof text);
  return text;
}

// The passive front end: its window (the application's name, a progress bar
// that a worker fills while this thread dispatches, the file or what the run
// does past its files), no question asked but its answer logged as the
// passive run's, and Cancel heard once and never after the run's end.
TEST(PassiveWindow, ShowsAWorkersProgressAsksNothingAndCancelsOnce) {
  TempFolder dir;
  const std::string log = dir.File("passive.log");
  ASSERT_EQ(1, OpenRunLog(log.c_str(), 0));
  CPassiveWindow passive;
  g_Passive = &passive;
  EXPECT_FALSE(passive.Attended());
  EXPECT_TRUE(passive.MayShowWindow());
  g_Cancels = 0;
  ASSERT_EQ(1, passive.Open(GetModuleHandleA(NULL), "Example App", [] { ++g_Cancels; }));
  char text[64] = "";
  GetWindowTextA(passive.Window(), text, sizeof text);
  EXPECT_STREQ("Example App", text);
  HWND bar = FindWindowExA(passive.Window(), NULL, "msctls_progress32", NULL);
  ASSERT_TRUE(bar);
  HANDLE worker = CreateThread(NULL, 0, ReportFromAWorker, NULL, 0, NULL);
  while (MsgWaitForMultipleObjects(1, &worker, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG m;
    while (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  }
  CloseHandle(worker);
  EXPECT_EQ(40, SendMessageA(bar, PBM_GETPOS, 0, 0));
  EXPECT_EQ("C:\\App\\a.txt", LineOf(passive));
  passive.Progress(95, NULL);
  EXPECT_EQ("Finalizing...", LineOf(passive));
  passive.SetWorkText("PLEASE_WAIT_WHILE_UNINSTALLING", "The program is being uninstalled... Please wait.");
  passive.Progress(50, NULL);
  EXPECT_EQ("The program is being uninstalled... Please wait.", LineOf(passive));
  EXPECT_EQ(50, SendMessageA(bar, PBM_GETPOS, 0, 0));
  EXPECT_EQ(1, VisibleWindowsOfThisProcess());
  EXPECT_EQ(IDNO, passive.Ask(NULL, "Keep your files?", "Uninstall", MB_YESNO, IDNO));
  CloseRunLog();
  EXPECT_NE(std::string::npos,
            WithoutTimes(ReadWholeFile(log)).find("Question: Keep your files?\r\nAnswer: No (passive run)\r\n"))
      << ReadWholeFile(log);
  SendMessageA(passive.Window(), WM_COMMAND, IDCANCEL, 0);
  SendMessageA(passive.Window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(1, g_Cancels);
  EXPECT_TRUE(passive.CancelPressed());
  passive.Close();
  EXPECT_EQ(0, VisibleWindowsOfThisProcess());

  ASSERT_EQ(1, passive.Open(GetModuleHandleA(NULL), "Example App", [] { ++g_Cancels; }));
  passive.RunEnded(RUN_DONE);
  passive.CancelAllowed(true);  // the worker's last report
  SendMessageA(passive.Window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(1, g_Cancels) << "nothing to cancel after the end";
  passive.Close();
}

}  // namespace
