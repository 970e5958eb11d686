// The life of Uninstall.exe: the question, the progress dialog 137 while a
// worker replays Uninstall.log, the outcome, and the self-removal.
#pragma once
#include <windows.h>

enum { WM_UNINSTALL_DONE = WM_USER + 3 };

// The exit code: 0 uninstalled, 1 failed, 2 the user said No. silent: no
// question and no window; what would be asked keeps the user's files.
int RunUninstaller(HINSTANCE instance, int silent);
// Thread entry, the parameter is the progress dialog: 0 success, 1 failure.
DWORD WINAPI UninstallWorker(LPVOID dialog);
