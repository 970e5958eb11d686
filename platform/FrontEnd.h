// What an installation or an uninstallation tells the person at the machine:
// through the wizard's boxes, or, with nobody there, the log and the exit
// code. Only the front ends (ui/MessageBoxes.cpp and what derives from it,
// ui/SilentFrontEnd.cpp) show anything; everything else reports here.
#pragma once
#include <windows.h>

// How a run ended, as RunEnded hears it.
enum RunEnding {
  RUN_DONE = 0,
  RUN_FAILED = 1,
  RUN_CANCELLED = 2,  // stopped by a confirmed Cancel
};

class CFrontEnd {
 public:
  virtual ~CFrontEnd() {}
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
};

// The front end of this process: the one set, else the plain message boxes.
CFrontEnd* FrontEnd();
// null goes back to the message boxes.
void SetFrontEnd(CFrontEnd* frontEnd);
// The plain message boxes (defined with them, ui/MessageBoxes.cpp).
CFrontEnd* MessageBoxFrontEnd();
