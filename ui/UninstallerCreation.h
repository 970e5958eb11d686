// Writes Uninstall.exe, Translations.ini and Uninstall.log into the
// installation folder when the user presses Finish.
#pragma once
#include <windows.h>

// Writes the three files; files of an earlier installation they replace are
// kept for a rollback. 1 on success; 0 after a failure that has been shown
// (owner: the window its box belongs to, or null), with every file it wrote
// removed again: the caller then rolls the installation back.
int CreateUninstaller(HWND owner);
