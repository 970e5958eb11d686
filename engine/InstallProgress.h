// Progress of the install worker as its front end sees it, and the pause
// that holds the worker still while the wizard asks whether to cancel.
// Shared by the worker and the Files section.
#pragma once
#include <windows.h>

#include "platform/FrontEnd.h"

// A new run: reports go to the front end; percentages count against
// totalBytes.
void BeginInstallProgress(CFrontEnd* reports, DWORD totalBytes);

// EFSProgressCallback of the Files section: overall percent 0..82; 0 when the
// user has cancelled. The wizard hears of it only when what it shows changes:
// a new percentage, or a new file name at most every 50 ms.
int InstallProgressCallback(unsigned long done, unsigned long total, const char* destination);

// The Files section adds each extracted entry's stored size.
void AddInstalledBytes(DWORD storedSize);

// After the last file: a name held back by the 50 ms rule is shown, so the
// user sees the last file before the files stage ends.
void FlushInstallProgress();

// A fixed percentage after a later step (no file name).
void ReportInstallStep(int percent);

// While the wizard asks whether to cancel, the worker holds still at its
// next progress report (or before it goes past the files) until resumed.
// It stops itself at a safe point rather than being suspended wherever it
// is, which could freeze it holding the heap lock the question box needs.
void PauseInstallWorker();
void ResumeInstallWorker();
void WaitWhilePaused();
// A cancel is heard at the next chunk, not at the next report: a Cancel
// without a question (/PASSIVE) stops the files at once.
void UrgeInstallWorker();
