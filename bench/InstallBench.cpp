// Install-time figures under Wine. Prints figures; asserts nothing.
//   install_bench wizard SETUP.EXE DESTINATION ENGLISH.INI [POLL-MS]
//     walks the wizard to the start page with DESTINATION typed in, times
//     from pressing Next there to the finish page, presses Finish. Polls
//     every POLL-MS (default 2); runs that count server requests poll
//     rarely, as a poll after the files costs the wizard one WM_GETTEXT.
//   install_bench run COMMAND-LINE
//     starts a program (a silent installer) and times it to its exit
//   install_bench cancel SETUP.EXE DESTINATION ENGLISH.INI PERCENT
//     installs through the wizard and presses Cancel once the bar shows
//     PERCENT: prints "question=S" (Cancel to the question shown) and
//     "stopped=S" (Yes to the run's end, the wizard gone), then lets the
//     rollback finish
// Both print "pid=P" (the installer's process id, hex as the server's trace
// writes it) and "seconds=S peak_ws_kib=K" on the last line, the wizard also
// "finish_to_exit=S" (pressing Finish to the end of the process). The peak
// working set is read while the program still runs: after its exit it is gone.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "../tests/win32/Robot.h"
#include "resources/resource.h"

namespace {

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / f.QuadPart;
}

// Largest working set seen so far of one process.
class PeakProbe {
 public:
  explicit PeakProbe(DWORD pid) : m_Process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid)) {}
  explicit PeakProbe(HANDLE process) : m_Process(NULL) {
    DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &m_Process, 0, FALSE, DUPLICATE_SAME_ACCESS);
  }
  ~PeakProbe() {
    if (m_Process) CloseHandle(m_Process);
  }
  void Sample() {
    PROCESS_MEMORY_COUNTERS c = {};
    c.cb = sizeof c;
    if (m_Process && GetProcessMemoryInfo(m_Process, &c, sizeof c)) {
      m_Read = true;
      if (c.PeakWorkingSetSize > m_Peak) m_Peak = c.PeakWorkingSetSize;
    }
  }
  // -1 when it could never be read
  long long KiB() const { return m_Read ? static_cast<long long>(m_Peak / 1024) : -1; }

 private:
  HANDLE m_Process;
  SIZE_T m_Peak = 0;
  bool m_Read = false;
};

std::string IniText(const std::string& ini, const char* key) {
  char text[512];
  GetPrivateProfileStringA("Strings", key, key, text, sizeof text, ini.c_str());
  return text;
}

// The wizard's start page, DESTINATION typed in on the way; NULL on failure.
HWND WalkToStart(Robot& robot, const std::string& setup, const std::string& destination,
                 const std::string& english) {
  if (!robot.Start("\"" + setup + "\"")) return NULL;
  HWND w = robot.WaitForWindow("#32770", IniText(english, "WELCOME").c_str(), 60000);
  if (!w || !Robot::Press(w, IDC_NEXT)) return NULL;
  w = robot.WaitForWindow("#32770", IniText(english, "CHOOSE_DESITNATION_LOCATION").c_str(), 30000);
  if (!w || !Robot::SetItemText(w, IDC_DESTINATION, destination.c_str()) || !Robot::Press(w, IDC_NEXT)) return NULL;
  return robot.WaitForWindow("#32770", IniText(english, "START_INSTALLATION").c_str(), 30000);
}

int Wizard(const std::string& setup, const std::string& destination, const std::string& english, DWORD poll) {
  Robot robot;
  HWND w = WalkToStart(robot, setup, destination, english);
  if (!w) {
    fprintf(stderr, "install_bench: %s did not come to its start page (error %lu)\n", setup.c_str(), GetLastError());
    return 1;
  }
  printf("pid=%04lx\n", static_cast<unsigned long>(robot.Pid()));

  PeakProbe peak(robot.Pid());
  const std::string finish = IniText(english, "FINISH");
  HWND next = GetDlgItem(w, IDC_NEXT);
  // Short polls, as the figure is only as fine as the poll. Next stays
  // disabled while the files go in: asking whether it is enabled costs the
  // wizard's thread nothing, reading its text a WM_GETTEXT, so the text is
  // read only once Next is enabled.
  const double start = Now();
  if (!Robot::Press(w, IDC_NEXT)) return 1;
  double end = 0;
  for (;;) {
    peak.Sample();
    if (IsWindowEnabled(next) && Robot::Text(next) == finish) {
      end = Now();
      break;
    }
    if (!robot.Running() || Now() - start > 600) {
      fprintf(stderr, "install_bench: no finish page\n%s\n", robot.WindowTree().c_str());
      return 1;
    }
    Sleep(poll);
  }
  peak.Sample();
  // Finish writes the uninstaller; the user waits for that too
  const double pressed = Now();
  Robot::Press(w, IDC_NEXT);
  while (robot.Running() && Now() - pressed < 60) {
    peak.Sample();
    Sleep(poll);
  }
  const double exited = Now();
  DWORD code = 0;
  if (!robot.WaitForExit(60000, &code)) return 1;
  printf("install_bench: exit code %lu\n", code);
  printf("seconds=%.3f peak_ws_kib=%lld finish_to_exit=%.3f\n", end - start, peak.KiB(), exited - pressed);
  return code == 0 ? 0 : 1;
}

int Failed(const char* what, const Robot& robot) {
  fprintf(stderr, "install_bench: %s\n%s\n", what, robot.WindowTree().c_str());
  return 1;
}

int CancelTimes(const std::string& setup, const std::string& destination, const std::string& english,
                int percent) {
  Robot robot;
  HWND w = WalkToStart(robot, setup, destination, english);
  if (!w || !Robot::Press(w, IDC_NEXT)) return Failed("no start page", robot);
  // the bar comes with the installing page
  const double started = Now();
  HWND bar = NULL;
  while (!bar) {
    for (const RobotControl& c : Robot::Controls(w))
      if (c.Class == "msctls_progress32") bar = c.Window;
    if (!robot.Running() || Now() - started > 60) return Failed("no progress bar", robot);
  }
  while ((int)SendMessageA(bar, PBM_GETPOS, 0, 0) < percent) {
    if (!robot.Running() || Now() - started > 600) return Failed("the bar never came there", robot);
    Sleep(5);
  }
  // polled without a pause: each figure is as fine as the poll
  const double pressed = Now();
  if (!Robot::Press(w, IDC_CANCEL_INSTALL)) return Failed("no Cancel to press", robot);
  HWND box = NULL;
  while (!box) {
    for (HWND top : robot.TopLevelWindows(true))
      if (top != w && Robot::Class(top) == "#32770") box = top;
    if (!robot.Running() || Now() - pressed > 30) return Failed("no question", robot);
  }
  const double asked = Now();
  HWND yes = GetDlgItem(box, IDYES);
  if (!yes) return Failed("no Yes", robot);
  const double answered = Now();
  PostMessageA(yes, BM_CLICK, 0, 0);
  while (IsWindow(w) && IsWindowVisible(w)) {
    if (Now() - answered > 60) return Failed("the wizard stayed", robot);
  }
  const double stopped = Now();
  printf("question=%.4f stopped=%.4f\n", asked - pressed, stopped - answered);
  DWORD code = 0;
  if (!robot.WaitForExit(120000, &code)) return Failed("no exit", robot);
  printf("install_bench: exit code %lu\n", code);
  return 0;
}

int Run(const std::string& commandLine) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  std::string line = commandLine;
  const double start = Now();
  if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
    fprintf(stderr, "install_bench: cannot start %s (error %lu)\n", commandLine.c_str(), GetLastError());
    return 1;
  }
  printf("pid=%04lx\n", pi.dwProcessId);
  PeakProbe peak(pi.hProcess);
  while (WaitForSingleObject(pi.hProcess, 2) == WAIT_TIMEOUT) peak.Sample();
  const double end = Now();
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  printf("install_bench: exit code %lu\n", code);
  printf("seconds=%.3f peak_ws_kib=%lld\n", end - start, peak.KiB());
  return code == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);  // Robot reports through gtest
  if ((argc == 5 || argc == 6) && std::string(argv[1]) == "wizard")
    return Wizard(argv[2], argv[3], argv[4], argc == 6 ? strtoul(argv[5], NULL, 10) : 2);
  if (argc == 3 && std::string(argv[1]) == "run") return Run(argv[2]);
  if (argc == 6 && std::string(argv[1]) == "cancel") return CancelTimes(argv[2], argv[3], argv[4], atoi(argv[5]));
  fprintf(stderr,
          "usage: install_bench wizard SETUP.EXE DESTINATION ENGLISH.INI [POLL-MS]\n"
          "       install_bench run COMMAND-LINE\n"
          "       install_bench cancel SETUP.EXE DESTINATION ENGLISH.INI PERCENT\n");
  return 2;
}
