#include "ui/PassiveWindow.h"

#include <commctrl.h>
#include <stdlib.h>
#include <string.h>

#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "resources/resource.h"
#include "ui/SidePicture.h"

namespace {

const char kClassName[] = "QuillsetPassive";

// Sent, so that a report's text lives until it is shown.
enum {
  WM_PASSIVE_SHOW = WM_APP + 1,    // wParam percent (negative: kept), lParam text or 0
  WM_PASSIVE_CANCEL = WM_APP + 2,  // wParam 1: Cancel may be pressed
};

// A translated text, or the fixed English one before the table is loaded
// (a split join has none yet). The caller frees it.
char* Text(const char* key, const char* english) {
  return SetupState::Translations.IsLoaded() ? SetupState::Translations.GetString(key) : strdup(english);
}

}  // namespace

int CPassiveWindow::Open(HINSTANCE instance, const char* title, void (*onCancel)()) {
  if (m_Window) return 1;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  WNDCLASSEXA type = {};
  type.cbSize = sizeof type;
  type.lpfnWndProc = WindowProc;
  type.hInstance = instance;
  type.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUILLSET));
  type.hCursor = LoadCursorA(NULL, reinterpret_cast<LPCSTR>(IDC_ARROW));
  type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  type.lpszClassName = kClassName;
  // a second Open in the same process finds the class there
  if (!RegisterClassExA(&type) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return 0;

  m_OnCancel = onCancel;
  m_CancelPressed = 0;
  m_Over = false;
  NONCLIENTMETRICSA metrics = {};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
    m_Font = CreateFontIndirectA(&metrics.lfMessageFont);

  // laid out for 96 dpi, scaled to the screen's
  HDC screen = GetDC(NULL);
  m_Dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(NULL, screen);
  auto px = [this](int n) { return Scaled(n); };
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT frame = {0, 0, px(420), px(104)};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  m_Window = CreateWindowExA(0, kClassName, title ? title : "", style, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                             (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, NULL, NULL, instance, this);
  if (!m_Window) {
    Close();
    return 0;
  }
  SetWindowIcons(m_Window, instance);
  m_Bar = Child(instance, PROGRESS_CLASSA, "", 0, 14, 18, 0);
  // a long path loses its middle, never its file name
  m_Line = Child(instance, "STATIC", "", SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, 40, 18, 0);
  char* cancel = Text(TK_CANCEL, "Cancel");
  m_Cancel = Child(instance, "BUTTON", cancel ? cancel : "Cancel", WS_TABSTOP | BS_PUSHBUTTON, 66, 26, IDCANCEL);
  free(cancel);
  SendMessageA(m_Bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  ShowWindow(m_Window, SW_SHOWNORMAL);
  UpdateWindow(m_Window);
  if (m_Cancel) SetFocus(m_Cancel);
  return 1;
}

int CPassiveWindow::Scaled(int n) const { return MulDiv(n, m_Dpi, 96); }

// A control of the window's one column (the Cancel button, narrower, at its
// right end), in the message font.
HWND CPassiveWindow::Child(HINSTANCE instance, const char* cls, const char* text, DWORD style, int y, int h, int id) {
  const int w = id ? 88 : 396;
  HWND control = CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, Scaled(420 - 12 - w), Scaled(y),
                                 Scaled(w), Scaled(h), m_Window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 instance, NULL);
  if (control && m_Font) SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_Font), FALSE);
  return control;
}

void CPassiveWindow::Close() {
  if (m_Window) DestroyWindow(m_Window);
  m_Window = m_Bar = m_Line = m_Cancel = NULL;
  if (m_Font) DeleteObject(m_Font);
  m_Font = NULL;
}

void CPassiveWindow::Show(int percent, const char* text) {
  if (m_Window) SendMessageA(m_Window, WM_PASSIVE_SHOW, static_cast<WPARAM>(percent), reinterpret_cast<LPARAM>(text));
}

void CPassiveWindow::SetWorkText(const char* key, const char* english) {
  m_WorkKey = key;
  m_WorkEnglish = english;
}

void CPassiveWindow::Progress(int percent, const char* file) {
  if (file) {
    Show(percent, file);
    return;
  }
  // past the install's files, as the wizard says it; the uninstall says its own
  char* text = m_WorkKey ? Text(m_WorkKey, m_WorkEnglish) : Text(TK_FINALIZING, "Finalizing...");
  Show(percent, text ? text : "");
  free(text);
}

void CPassiveWindow::CancelAllowed(bool allowed) {
  if (m_Window) SendMessageA(m_Window, WM_PASSIVE_CANCEL, allowed ? 1 : 0, 0);
}

void CPassiveWindow::RunEnded(RunEnding ending) {
  (void)ending;
  // the uninstaller is written or the run rolled back: nothing to cancel
  CancelAllowed(false);
  m_Over = true;
}

void CPassiveWindow::PressCancel() {
  if (m_Over || m_CancelPressed || !IsWindowEnabled(m_Cancel)) return;
  m_CancelPressed = 1;
  EnableWindow(m_Cancel, FALSE);
  if (m_OnCancel) m_OnCancel();
}

LRESULT CALLBACK CPassiveWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE)
    SetWindowLongPtrA(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
  CPassiveWindow* self = reinterpret_cast<CPassiveWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!self) return DefWindowProcA(window, message, wParam, lParam);
  switch (message) {
    case WM_PASSIVE_SHOW:
      if (static_cast<int>(wParam) >= 0) SendMessageA(self->m_Bar, PBM_SETPOS, wParam, 0);
      if (lParam) SetWindowTextA(self->m_Line, reinterpret_cast<const char*>(lParam));
      return 0;
    case WM_PASSIVE_CANCEL:
      EnableWindow(self->m_Cancel, wParam && !self->m_Over && !self->m_CancelPressed);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) self->PressCancel();
      return 0;
    case WM_CLOSE:  // Alt+F4 or the title bar's X: Cancel, while it may be pressed
      self->PressCancel();
      return 0;
    case WM_CTLCOLORSTATIC:
      // the file line on the window's own face
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}
