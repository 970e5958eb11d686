#include "ui/JoinWindow.h"

#include <string.h>

#include "common/Mbcs.h"
#include "driver/SplitJoin.h"
#include "resources/resource.h"

namespace {

// From the worker, posted: the disk awaited or found (the first slice is
// disk 1). Sent: a failure to show, lParam its Failure.
enum {
  WM_SPLIT_WAIT_DISK = WM_USER + 4,
  WM_SPLIT_DISK_FOUND = WM_USER + 5,
  WM_JOIN_FAILURE = WM_USER + 7,
};

struct Failure {
  const char* Text;
  const char* Caption;
  UINT Style;
};

void LoadText(HINSTANCE instance, UINT id, char* text, int size, const char* fallback) {
  if (LoadStringA(instance, id, text, size) <= 0) MbcsCopy(text, size, fallback);
}

}  // namespace

CJoinWindow::CJoinWindow(HINSTANCE instance, const char* caption) : m_Instance(instance), m_Window(NULL) {
  MbcsCopy(m_Caption, sizeof m_Caption, caption);
  LoadText(instance, IDS_JOIN_COPYING, m_CopyingText, sizeof m_CopyingText, "Copying files... Please wait.");
  LoadText(instance, IDS_JOIN_INSERT_DISK, m_InsertDiskText, sizeof m_InsertDiskText, "Please insert disk %d.");
}

CJoinWindow::~CJoinWindow() {
  if (m_Window) DestroyWindow(m_Window);
}

bool CJoinWindow::Open() {
  if (!m_Window)
    m_Window = CreateDialogParamA(m_Instance, MAKEINTRESOURCEA(IDD_SPLIT_JOIN), NULL, Proc,
                                  reinterpret_cast<LPARAM>(this));
  if (!m_Window) return false;
  ShowWindow(m_Window, SW_SHOW);
  return true;
}

void CJoinWindow::ShowFailure(HWND owner, const char* text, const char* caption, UINT style) {
  if (!m_Window) {
    CMessageBoxFrontEnd::ShowFailure(owner, text, caption, style);
    return;
  }
  // the box belongs to the window, on the window's thread
  Failure failure = {text, caption, style};
  SendMessageA(m_Window, WM_JOIN_FAILURE, 0, reinterpret_cast<LPARAM>(&failure));
}

void CJoinWindow::AwaitDisk(int disk) {
  if (m_Window) PostMessageA(m_Window, WM_SPLIT_WAIT_DISK, static_cast<WPARAM>(disk), 0);
}

void CJoinWindow::DiskFound(int disk) {
  if (m_Window) PostMessageA(m_Window, WM_SPLIT_DISK_FOUND, static_cast<WPARAM>(disk), 0);
}

void CJoinWindow::RunEnded(RunEnding) {
  if (m_Window) DestroyWindow(m_Window);
  m_Window = NULL;
}

INT_PTR CALLBACK CJoinWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    reinterpret_cast<CJoinWindow*>(lParam)->m_Window = window;
  }
  CJoinWindow* self = reinterpret_cast<CJoinWindow*>(GetWindowLongPtrA(window, DWLP_USER));
  if (!self) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      SetWindowTextA(window, self->m_Caption);
      SetDlgItemTextA(window, IDC_SPLIT_TEXT, self->m_CopyingText);
      EnableWindow(GetDlgItem(window, IDOK), FALSE);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        // The worker looks for the part by itself; OK only acknowledges.
        EnableWindow(GetDlgItem(window, IDOK), FALSE);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        // the join deletes the target once its worker has stopped
        RequestSplitJoinCancel();
        EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
        return TRUE;
      }
      break;
    case WM_SPLIT_WAIT_DISK: {
      // our own resource text with its one "%d": wsprintf's 1024 bytes hold it
      char full[1024], text[100];
      wsprintfA(full, self->m_InsertDiskText, static_cast<int>(wParam));
      MbcsCopy(text, sizeof text, full);
      char shown[100] = "";
      GetDlgItemTextA(window, IDC_SPLIT_TEXT, shown, sizeof shown);
      // the worker repeats this every 300 ms: no flicker
      if (strcmp(text, shown) != 0) SetDlgItemTextA(window, IDC_SPLIT_TEXT, text);
      EnableWindow(GetDlgItem(window, IDOK), TRUE);
      return TRUE;
    }
    case WM_SPLIT_DISK_FOUND:
      SetDlgItemTextA(window, IDC_SPLIT_TEXT, self->m_CopyingText);
      EnableWindow(GetDlgItem(window, IDOK), FALSE);
      return TRUE;
    case WM_JOIN_FAILURE: {
      const Failure* failure = reinterpret_cast<const Failure*>(lParam);
      self->CMessageBoxFrontEnd::ShowFailure(window, failure->Text, failure->Caption, failure->Style);
      return TRUE;
    }
  }
  return FALSE;
}
