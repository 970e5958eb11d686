// Waiting for a run's worker on the thread that owns the windows: the
// worker sends its reports to those windows, so the wait answers them.
#pragma once
#include <windows.h>

// Waits until thread has ended, dispatching this thread's messages
// (a dialog's keys through IsDialogMessage) and calling tick, if given,
// every interval ms. The thread's exit code.
DWORD WaitForWorkerPumping(HANDLE thread, void (*tick)(void*) = NULL, void* context = NULL,
                           DWORD interval = 200);
