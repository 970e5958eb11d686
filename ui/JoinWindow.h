// The window of a split setup's join where someone watches: "Copying
// files... Please wait.", or the disk it waits for with OK to acknowledge,
// and Cancel, which stops the join (the target then goes).
#pragma once
#include <windows.h>

#include "ui/MessageBoxes.h"

class CJoinWindow : public CMessageBoxFrontEnd {
 public:
  // caption: the file name of the slices' base path
  CJoinWindow(HINSTANCE instance, const char* caption);
  ~CJoinWindow();
  // Shows the window (dialog 138); false when it cannot be made.
  bool Open();
  HWND Window() const { return m_Window; }

  // Called from the join's worker; the window's own thread does the work.
  void ShowFailure(HWND owner, const char* text, const char* caption, UINT style) override;
  void AwaitDisk(int disk) override;
  void DiskFound(int disk) override;
  void RunEnded(RunEnding ending) override;

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HINSTANCE m_Instance;
  HWND m_Window;
  char m_Caption[260];
  char m_CopyingText[100];
  char m_InsertDiskText[100];

  CJoinWindow(const CJoinWindow&);
  CJoinWindow& operator=(const CJoinWindow&);
};
