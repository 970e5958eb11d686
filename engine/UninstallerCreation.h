// Writes Uninstall.exe, Translations.ini and Uninstall.log into the
// installation folder when the user presses Finish.
#pragma once
#include <windows.h>

#include "platform/FrontEnd.h"

// Writes the three files; files of an earlier installation they replace are
// kept for a rollback. RUN_DONE on success; RUN_FAILED or RUN_DAMAGED (a
// stored file failed its check) after a failure that has been shown (owner:
// the window its box belongs to, or null), with every file it wrote removed
// again: the caller then rolls the installation back.
RunResult CreateUninstaller(HWND owner);
