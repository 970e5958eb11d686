// What an installation or an uninstallation tells the person at the machine:
// through the wizard's boxes, or, with nobody there, the log and the exit
// code. Only the front ends (ui/MessageBoxes.cpp and what derives from it,
// ui/SilentFrontEnd.cpp) show anything; everything else reports here.
#pragma once
#include <windows.h>

// Who watches a run, chosen once from the command line: the wizard and its
// boxes (a person answers), /PASSIVE (a progress window and Cancel, no
// question), /S (nothing shown). Code that must know asks the front end.
enum DisplayMode {
  DISPLAY_FULL = 0,
  DISPLAY_PASSIVE = 1,
  DISPLAY_NONE = 2,
};

// How a run ended. A failure is reported once, where it is found, and the
// result travels up to the one place that makes it the exit code.
enum RunResult {
  RUN_DONE = 0,
  RUN_FAILED = 1,       // reported; what was installed is rolled back
  RUN_CANCELLED = 2,    // stopped by a confirmed Cancel
  RUN_DAMAGED = 3,      // the setup file is damaged or incomplete
  RUN_BUSY = 4,         // another setup is running
  RUN_BAD_COMMAND_LINE = 5,
  RUN_DOWNGRADE = 6,    // a newer version is installed and stays
  RUN_FILES_IN_USE = 7, // files in use could not be replaced or removed
  RUN_NO_RIGHTS = 8,    // administrator rights refused or missing; nothing changed
  RUN_RESTART_NEEDED = 3010,  // done; what stays in use is finished at the restart
};
typedef RunResult RunEnding;

// Nothing deletes a front end through this class: each lives in a static or
// on the stack, and a protected destructor keeps it so, without a virtual
// one (a static's would be registered at start).
class CFrontEnd {
 protected:
  ~CFrontEnd() = default;

 public:
  virtual DisplayMode Mode() const { return DISPLAY_FULL; }
  // Someone can answer a question (the wizard's mode).
  bool Attended() const { return Mode() == DISPLAY_FULL; }
  // A window may be shown (every mode but /S).
  bool MayShowWindow() const { return Mode() != DISPLAY_NONE; }
  // A failure or notice: its text as it stands (a translated text already
  // filled in, or a fixed one), its caption and message-box style. owner is
  // the window a box would belong to (null: none).
  virtual void ShowFailure(HWND owner, const char* text, const char* caption, UINT style) = 0;
  // A question; returns the button (IDYES, IDNO, ...). Nobody there takes
  // `unattended`, which keeps a user's files where the question guards them.
  virtual int Ask(HWND owner, const char* text, const char* caption, UINT style, int unattended) = 0;
  // The install worker's reports: percent 0..100 and the file being
  // copied (null once the files are done), whether Cancel may still stop
  // it, and its end. The worker waits until each has been handled.
  virtual void Progress(int percent, const char* file) { (void)percent, (void)file; }
  virtual void CancelAllowed(bool allowed) { (void)allowed; }
  virtual void RunEnded(RunEnding ending) { (void)ending; }
  // A split setup's join waits for the disk of a slice (the first slice is
  // disk 1) until it has come. Only an attended front end is asked.
  virtual void AwaitDisk(int disk) { (void)disk; }
  virtual void DiskFound(int disk) { (void)disk; }
};

// The front end of this process: the one set, else the plain message boxes.
CFrontEnd* FrontEnd();
// null goes back to the message boxes.
void SetFrontEnd(CFrontEnd* frontEnd);
// The plain message boxes (defined with them, ui/MessageBoxes.cpp).
CFrontEnd* MessageBoxFrontEnd();
