// Drives programs through their windows as a user would: waits for windows,
// reads dialogs and message boxes, types into edits, presses buttons. Every
// wait has a timeout that fails the current test and prints the process's
// window tree.
#pragma once
#include <windows.h>

#include <functional>
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

// A message box (class "#32770") as the user sees it.
struct RobotMessageBox {
  HWND Window;
  std::string Caption;
  std::string Text;                  // the static with id 0xFFFF
  std::vector<std::string> Buttons;  // visible button texts, without '&'
};

class Robot {
 public:
  Robot() : m_Process(NULL), m_Pid(0) {}
  ~Robot();  // ends a program still running
  Robot(const Robot&) = delete;
  Robot& operator=(const Robot&) = delete;

  // Watches this process's own windows (for tests of in-process code).
  void AttachSelf() { m_Pid = GetCurrentProcessId(); }
  // Watches a running process that another one started; false when it
  // cannot be opened.
  bool Attach(DWORD pid);
  // Starts commandLine (program path first, quoted as needed) in workDir
  // (null: this process's); false when it cannot start.
  bool Start(const std::string& commandLine, const char* workDir = NULL);
  DWORD Pid() const { return m_Pid; }
  // True while the started program runs.
  bool Running() const;
  // Waits for the program to end; false (and a failure) on timeout. Stores
  // the exit code.
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode);
  // Ends the program at once, if it still runs.
  void Kill();

  // Visible top-level window of the program matching class and/or caption
  // (null matches anything); NULL after a timeout or when the program ends
  // first, which fails the test.
  HWND WaitForWindow(const char* className, const char* caption, DWORD timeoutMs);
  // Like WaitForWindow, without waiting or failing.
  HWND FindWindowNow(const char* className, const char* caption) const;
  std::vector<HWND> TopLevelWindows(bool visibleOnly) const;
  // Polls until done() holds; false (and a failure naming `what`) on timeout.
  bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs, const char* what);

  static std::vector<RobotControl> Controls(HWND dialog);
  // The text as the user reads it: a button's access-key mark ("&" before
  // its key, "&&" for one "&") is not shown.
  static std::string Text(HWND window);
  // The key a button's label marks, upper case; 0 when it marks none.
  static WCHAR AccessKey(HWND button);
  // The window of w's thread that has the keyboard focus (NULL: none).
  static HWND Focus(HWND w);
  // Brings w's top-level window to the front and types on the keyboard:
  // each key pressed and released in turn, with Alt held down around them
  // when asked. The program handles them in its own time.
  static bool Type(HWND w, const std::vector<WORD>& keys, bool alt = false);
  static std::string Class(HWND window);
  // Text of the dialog's control with this id ("" when there is none).
  static std::string ItemText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }
  // Replaces the text of an edit (or any control) as typing would.
  static bool SetItemText(HWND dialog, int id, const char* text);
  // Waits until the thread of `w` has finished what it was handling: the
  // state other processes can read changes in steps within one handler.
  static void Settle(HWND w, DWORD timeoutMs = 5000);
  // Presses the visible, enabled button with this id; false when there is none.
  static bool Press(HWND dialog, int id);
  // Presses the first visible, enabled button whose text (without '&') is `text`.
  static bool PressText(HWND dialog, const char* text);

  // Waits for a message box with this caption (null: any) and reads it.
  // Window is NULL after a timeout.
  RobotMessageBox WaitForMessageBox(const char* caption, DWORD timeoutMs);
  // Reads a message box with this caption, then presses the button with id
  // `answer` and waits until the box has closed. Returns its text; empty
  // after a timeout.
  std::string AnswerMessageBox(const char* caption, int answer, DWORD timeoutMs);
  // Presses a button of a message box and waits until the box has closed, so
  // that a following wait for a box with the same caption cannot find it.
  bool Answer(const RobotMessageBox& box, int answer, DWORD timeoutMs = 10000);

  std::string WindowTree() const;

 private:
  HANDLE m_Process;
  DWORD m_Pid;
};
