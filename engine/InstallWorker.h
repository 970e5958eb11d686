// The install worker: the thread that carries out the script's action
// sections in their fixed order and reports to the wizard by SendMessage.
#pragma once
#include <windows.h>

enum {
  WM_INSTALL_PROGRESS = WM_USER + 1,  // wParam percent, lParam destination or 0
  WM_INSTALL_DONE = WM_USER + 2,      // wParam 0 success, 1 failure
};

// The wizard's Cancel button, disabled once the files are in place.
enum { IDC_WIZARD_CANCEL = 1002 };

// Thread entry; the parameter is the wizard dialog. Always returns 0.
DWORD WINAPI InstallWorker(LPVOID dialog);

// EFSProgressCallback of the Files section: overall percent 0..82; 0 when the
// user has cancelled.
int InstallProgressCallback(unsigned long done, unsigned long total, const char* destination);

// The Files section adds each extracted entry's stored size.
void AddInstalledBytes(DWORD storedSize);

// While the wizard asks whether to cancel, the worker holds still at its
// next progress report (or before it goes past the files) until resumed.
// It stops itself at a safe point rather than being suspended wherever it
// is, which could freeze it holding the heap lock the question box needs.
void PauseInstallWorker();
void ResumeInstallWorker();
