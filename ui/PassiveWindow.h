// The front end of /PASSIVE: a small window with the application's name, a
// progress bar, the current file and Cancel. Nobody is asked anything:
// failures and questions go to the run log as with /S, each question takes
// its answer for nobody being there.
#pragma once
#include <windows.h>

#include "ui/SilentFrontEnd.h"

class CPassiveWindow : public CSilentFrontEnd {
 public:
  DisplayMode Mode() const override { return DISPLAY_PASSIVE; }

  // Shows the window on this thread, which must then dispatch its messages
  // while a worker reports (the reports are sent). onCancel runs on this
  // thread when Cancel is pressed or the window is closed, once. 0 when the
  // window cannot be made; the run then goes on unseen.
  int Open(HINSTANCE instance, const char* title, void (*onCancel)() = nullptr);
  void Close();
  HWND Window() const { return m_Window; }

  // What the window shows, from any thread: percent 0..100 (negative keeps
  // it), the line under the bar (null keeps it).
  void Show(int percent, const char* text);
  // The line for reports that name no file (table key, and its English
  // before the table is loaded): the install's "Finalizing..." unless set.
  void SetWorkText(const char* key, const char* english);
  bool CancelPressed() const { return m_CancelPressed != 0; }

  void Progress(int percent, const char* file) override;
  void CancelAllowed(bool allowed) override;
  void RunEnded(RunEnding ending) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void PressCancel();
  int Scaled(int n) const;
  HWND Child(HINSTANCE instance, const char* cls, const char* text, DWORD style, int y, int h, int id);

  HWND m_Window = NULL;
  HWND m_Bar = NULL;
  HWND m_Line = NULL;
  HWND m_Cancel = NULL;
  HFONT m_Font = NULL;
  int m_Dpi = 96;  // the screen's, for a layout made at 96
  const char* m_WorkKey = nullptr;
  const char* m_WorkEnglish = nullptr;
  void (*m_OnCancel)() = nullptr;
  volatile LONG m_CancelPressed = 0;
  bool m_Over = false;  // the run has ended: Cancel stays off
};
