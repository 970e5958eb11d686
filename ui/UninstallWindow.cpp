#include "ui/UninstallWindow.h"

#include <stdlib.h>
#include <string.h>

#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "resources/resource.h"
#include "ui/SidePicture.h"

const char kRestartToFinish[] =
    "The program has been uninstalled. Some of its files were in use: they are removed when the computer "
    "restarts.";

CUninstallWindow::~CUninstallWindow() {
  if (m_Window) DestroyWindow(m_Window);
  free(m_Outcome);
  free(m_Finished);
}

void CUninstallWindow::SetText(HWND window, const char* key) {
  char* text = SetupState::Translations.GetString(key);
  SetWindowTextA(window, text ? text : key);
  free(text);
}

void CUninstallWindow::ShowFailure(HWND owner, const char* text, const char* caption, UINT style) {
  // the last one said is the one the run ended with
  char* copy = strdup(text);
  if (copy) {
    free(m_Outcome);
    m_Outcome = copy;
  }
  CMessageBoxFrontEnd::ShowFailure(owner, text, caption, style);
}

void CUninstallWindow::Progress(int, const char*) {
  // the replay's reports come from its worker: only the first opens
  if (m_Opened) return;
  m_Opened = true;
  m_Window = CreateDialogParamA(m_Instance, MAKEINTRESOURCEA(IDD_UNINSTALL_PROGRESS), NULL, Proc,
                                reinterpret_cast<LPARAM>(this));
  if (!m_Window) return;  // the run goes on; its failures still come as boxes
  SetWindowIcons(m_Window, m_Instance);
  m_Finished = SetupState::Translations.GetString(TK_UNINSTALLATION_IS_NOW_FINISHED);
  SetText(m_Window, TK_UNINSTALL_TITLE);
  SetText(GetDlgItem(m_Window, IDC_UNINSTALL_TEXT), TK_PLEASE_WAIT_WHILE_UNINSTALLING);
  ShowWindow(GetDlgItem(m_Window, IDOK), SW_HIDE);
  ShowWindow(m_Window, SW_SHOW);
}

void CUninstallWindow::RunEnded(RunEnding ending) {
  if (!m_Window) return;  // nothing was shown (the user said No)
  HWND text = GetDlgItem(m_Window, IDC_UNINSTALL_TEXT);
  char* restart = SetupState::Translations.GetStringOr(TK_RESTART_TO_FINISH_UNINSTALLATION, kRestartToFinish);
  char* nothing = SetupState::Translations.GetStringOr(TK_NOTHING_HAS_BEEN_CHANGED, "Nothing has been changed.");
  const char* outcome = ending == RUN_RESTART_NEEDED ? (restart ? restart : kRestartToFinish)
                        : ending == RUN_CANCELLED    ? (nothing ? nothing : "Nothing has been changed.")
                        : ending == RUN_DONE ? (m_Finished ? m_Finished : TK_UNINSTALLATION_IS_NOW_FINISHED)
                        : m_Outcome                ? m_Outcome
                                                   : TK_UINSTALL_PROCESS_FAILED;
  SetWindowTextA(text, outcome);
  free(restart);
  free(nothing);
  // The user can always close the dialog, whatever the outcome.
  HWND ok = GetDlgItem(m_Window, IDOK);
  ShowWindow(ok, SW_SHOW);
  SetFocus(ok);
  HACCEL accelerators = LoadAcceleratorsA(m_Instance, MAKEINTRESOURCEA(IDR_UNINSTALL_ACCELERATORS));
  MSG message;
  while (!m_Closed) {
    const BOOL got = GetMessageA(&message, NULL, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));  // for the caller's loop
      break;
    }
    if (accelerators && TranslateAcceleratorA(m_Window, accelerators, &message)) continue;
    if (IsDialogMessageA(m_Window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  DestroyWindow(m_Window);
  m_Window = NULL;
}

INT_PTR CALLBACK CUninstallWindow::Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    return TRUE;
  }
  CUninstallWindow* self = reinterpret_cast<CUninstallWindow*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (!self) return FALSE;
  switch (message) {
    case WM_COMMAND:
      // OK is there only once the run has ended
      if (LOWORD(wParam) == IDOK && IsWindowVisible(GetDlgItem(dialog, IDOK))) self->m_Closed = true;
      return TRUE;
    case WM_DESTROY:
      self->m_Closed = true;
      return FALSE;
  }
  return FALSE;
}
