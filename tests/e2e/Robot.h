// Drives programs through their windows as a user would: waits for windows,
// reads dialogs and message boxes, presses buttons. Every wait has a timeout
// that fails the current test and prints the process's window tree.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct RobotControl {
  HWND Window;
  int Id;
  std::string Class;
  std::string Text;
  bool Visible;
  bool Enabled;
};

class Robot {
 public:
  Robot() : m_Process(NULL), m_Pid(0) {}
  ~Robot();  // ends a program still running

  // Watches this process's own windows (for tests of in-process code).
  void AttachSelf() { m_Pid = GetCurrentProcessId(); }
  // Starts commandLine (program path first); false when it cannot start.
  bool Start(const std::string& commandLine);
  DWORD Pid() const { return m_Pid; }
  // Waits for the program to end; false on timeout. Stores the exit code.
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode);

  // Visible top-level window of the program matching class and/or caption
  // (null matches anything); NULL after a timeout, which fails the test.
  HWND WaitForWindow(const char* className, const char* caption, DWORD timeoutMs);
  // Like WaitForWindow, without failing: NULL when there is none now.
  HWND FindWindowNow(const char* className, const char* caption) const;
  std::vector<HWND> TopLevelWindows(bool visibleOnly) const;

  static std::vector<RobotControl> Controls(HWND dialog);
  static std::string Text(HWND window);
  // Presses the button with this id; false when there is none.
  static bool Press(HWND dialog, int id);
  // Presses the first button whose text (without '&') is `text`.
  static bool PressText(HWND dialog, const char* text);

  // A message box (class "#32770") with this caption: its text, after which
  // the button with id `answer` is pressed. Empty text after a timeout.
  std::string AnswerMessageBox(const char* caption, int answer, DWORD timeoutMs);

  std::string WindowTree() const;

 private:
  HANDLE m_Process;
  DWORD m_Pid;
};
