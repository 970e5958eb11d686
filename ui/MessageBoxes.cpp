#include "ui/MessageBoxes.h"

#include "platform/RunLog.h"
#include "resources/resource.h"

void RunLogMessage(const char* text, UINT style) {
  const UINT icon = style & MB_ICONMASK;
  const char* kind = icon == MB_ICONWARNING ? "Warning"
                     : (icon == MB_ICONINFORMATION || icon == MB_ICONQUESTION) ? "Message"
                                                                               : "Failure";
  RunLogLine(kind, text);
}

void CMessageBoxFrontEnd::ShowFailure(HWND owner, const char* text, const char* caption, UINT style) {
  RunLogMessage(text, style);
  MessageBoxA(owner, text, caption, style);
}

int CMessageBoxFrontEnd::Ask(HWND owner, const char* text, const char* caption, UINT style, int) {
  RunLogLine("Question", text);
  const int answer = MessageBoxA(owner, text, caption, style);
  RunLogLine("Answer", answer == IDYES ? "Yes" : answer == IDNO ? "No" : "another button");
  return answer;
}

void CDialogFrontEnd::Progress(int percent, const char* file) {
  SendMessageA(m_Dialog, WM_INSTALL_PROGRESS, percent, reinterpret_cast<LPARAM>(file));
}

void CDialogFrontEnd::CancelAllowed(bool allowed) {
  EnableWindow(GetDlgItem(m_Dialog, IDC_CANCEL_INSTALL), allowed ? TRUE : FALSE);
}

void CDialogFrontEnd::RunEnded(RunEnding ending) {
  SendMessageA(m_Dialog, WM_INSTALL_DONE, ending == RUN_DONE ? 0 : 1, 0);
}

namespace {
CMessageBoxFrontEnd g_Boxes;
}

CFrontEnd* MessageBoxFrontEnd() { return &g_Boxes; }
