#include "ui/SilentFrontEnd.h"

#include "platform/RunLog.h"
#include "ui/MessageBoxes.h"

void CSilentFrontEnd::ShowFailure(HWND, const char* text, const char*, UINT style) {
  RunLogMessage(text, style);
}

int CSilentFrontEnd::Ask(HWND, const char* text, const char*, UINT, int unattended) {
  RunLogLine("Question", text);
  // a passive run names itself in its log
  if (Mode() == DISPLAY_PASSIVE)
    RunLogLine("Answer", unattended == IDYES ? "Yes (passive run)" : "No (passive run)");
  else
    RunLogLine("Answer", unattended == IDYES ? "Yes (silent run)" : "No (silent run)");
  return unattended;
}
