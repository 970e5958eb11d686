// The uninstaller's dialog where someone watches: "Please wait" while the
// log is replayed, then the outcome with OK, which ends the run.
#pragma once
#include <windows.h>

#include "ui/MessageBoxes.h"

class CUninstallWindow : public CMessageBoxFrontEnd {
 public:
  explicit CUninstallWindow(HINSTANCE instance)
      : m_Instance(instance), m_Window(NULL), m_Outcome(NULL), m_Finished(NULL) {}
  ~CUninstallWindow();
  HWND Window() const { return m_Window; }

  // The box, as ever; its text is also the outcome the dialog shows if the
  // run fails (a failed run has always said why).
  void ShowFailure(HWND owner, const char* text, const char* caption, UINT style) override;
  // The first report opens the dialog (dialog 137): it comes from the run's
  // own thread, before its worker starts; the worker's later ones change
  // nothing, as the dialog has no bar.
  void Progress(int percent, const char* file) override;
  // The outcome, and OK to be pressed: returns once it has been.
  void RunEnded(RunEnding ending) override;

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void SetText(HWND window, const char* key);

  HINSTANCE m_Instance;
  HWND m_Window;
  char* m_Outcome;
  // read as the dialog opens: a successful run deletes the table before
  // it ends
  char* m_Finished;
  volatile bool m_Closed = false;
  volatile bool m_Opened = false;

  CUninstallWindow(const CUninstallWindow&);
  CUninstallWindow& operator=(const CUninstallWindow&);
};
