// The front ends with a person at the machine: message boxes, and the
// wizard's dialog that hears the install worker's reports.
#pragma once
#include <windows.h>

#include "platform/FrontEnd.h"

// Failures as boxes, questions as boxes; both also go to the run log.
class CMessageBoxFrontEnd : public CFrontEnd {
 public:
  void ShowFailure(HWND owner, const char* text, const char* caption, UINT style) override;
  int Ask(HWND owner, const char* text, const char* caption, UINT style, int unattended) override;
};

// The install worker's reports as the wizard hears them, sent to its dialog.
enum {
  WM_INSTALL_PROGRESS = WM_USER + 1,  // wParam percent, lParam destination or 0
  WM_INSTALL_DONE = WM_USER + 2,      // wParam 0 success, 1 failure
};

// The install worker's reports go to dialog as WM_INSTALL_PROGRESS and
// WM_INSTALL_DONE, sent, and Cancel (control 1002) follows CancelAllowed.
class CDialogFrontEnd : public CMessageBoxFrontEnd {
 public:
  constexpr explicit CDialogFrontEnd(HWND dialog = NULL) : m_Dialog(dialog) {}
  void SetDialog(HWND dialog) { m_Dialog = dialog; }
  void Progress(int percent, const char* file) override;
  void CancelAllowed(bool allowed) override;
  void RunEnded(RunEnding ending) override;

 private:
  HWND m_Dialog;
};

// A message as the run log keeps it: its kind from the box's icon.
void RunLogMessage(const char* text, UINT style);
