// The front end of /S: nobody is at the machine. Nothing is shown, no window
// is made; failures and questions go to the run log, each question takes
// its answer for nobody being there.
#pragma once
#include "platform/FrontEnd.h"

class CSilentFrontEnd : public CFrontEnd {
 public:
  DisplayMode Mode() const override { return DISPLAY_NONE; }
  void ShowFailure(HWND owner, const char* text, const char* caption, UINT style) override;
  int Ask(HWND owner, const char* text, const char* caption, UINT style, int unattended) override;
};
