#include "engine/InstallProgress.h"

#include <string.h>

#include "common/Mbcs.h"
#include "driver/SetupState.h"
#include "platform/SystemLibrary.h"

// A name shown for less than this is not worth a report of its own.
enum { kNameInterval = 50 };

static CFrontEnd* g_Reports;
static DWORD g_BytesTotal;
static DWORD g_BytesDone;

// What the wizard shows now, and a newer name not yet sent.
static int g_ShownPercent;
static DWORD g_ShownAt;
static char g_ShownName[PATH_BYTES];
static char g_PendingName[PATH_BYTES];

static HANDLE g_Running;         // manual-reset event, set while not paused
static volatile LONG g_Paused;   // read without a call into the system
static volatile LONG g_Urgent;   // the reader reports at every chunk

void BeginInstallProgress(CFrontEnd* reports, DWORD totalBytes) {
  g_Reports = reports;
  g_BytesTotal = totalBytes;
  g_BytesDone = 0;
  g_ShownPercent = -1;
  g_ShownName[0] = g_PendingName[0] = '\0';
  // a pause or a cancel is heard at the next chunk, not at the next
  // report: the question's answer takes effect at once
  g_Urgent = 0;
  SetupState::Efs.SetUrgentFlag(&g_Urgent);
}

void AddInstalledBytes(DWORD storedSize) { g_BytesDone += storedSize; }

static HANDLE RunningEvent() {
  if (!g_Running) {
    HANDLE event = CreateEventA(NULL, TRUE, TRUE, NULL);
    if (InterlockedCompareExchangePointer(&g_Running, event, NULL) != NULL) CloseHandle(event);
  }
  return g_Running;
}

// The event is reset before the flag goes up and set after it comes down, so
// a worker that sees the flag always finds the event in its final state.
void PauseInstallWorker() {
  if (HANDLE event = RunningEvent()) {
    ResetEvent(event);
    InterlockedExchange(&g_Paused, 1);
    InterlockedExchange(&g_Urgent, 1);
  }
}

void ResumeInstallWorker() {
  InterlockedExchange(&g_Paused, 0);
  InterlockedExchange(&g_Urgent, SetupState::CancelRequested ? 1 : 0);
  if (HANDLE event = RunningEvent()) SetEvent(event);
}

void UrgeInstallWorker() { InterlockedExchange(&g_Urgent, 1); }

void WaitWhilePaused() {
  if (!g_Paused) return;
  if (HANDLE event = RunningEvent()) WaitForSingleObject(event, INFINITE);
}

static void Send(int percent, const char* name, DWORD now) {
  g_ShownPercent = percent;
  g_ShownAt = now;
  if (name != g_ShownName) MbcsCopy(g_ShownName, sizeof g_ShownName, name);
  g_PendingName[0] = '\0';
  g_Reports->Progress(percent, g_ShownName);
}

int InstallProgressCallback(unsigned long done, unsigned long total, const char* destination) {
  (void)total;
  int percent = 0;
  if (g_BytesTotal)
    percent = static_cast<int>((static_cast<double>(g_BytesDone) + done) / g_BytesTotal * 82.0);
  const char* name = destination ? destination : "";
  const DWORD now = MillisecondClock();
  if (percent != g_ShownPercent || (strcmp(name, g_ShownName) && now - g_ShownAt >= kNameInterval))
    Send(percent, name, now);
  else if (strcmp(name, g_ShownName))
    MbcsCopy(g_PendingName, sizeof g_PendingName, name);
  WaitWhilePaused();
  return SetupState::CancelRequested ? 0 : 1;
}

void FlushInstallProgress() {
  if (!g_PendingName[0]) return;
  MbcsCopy(g_ShownName, sizeof g_ShownName, g_PendingName);
  Send(g_ShownPercent, g_ShownName, MillisecondClock());
}

void ReportInstallStep(int percent) {
  g_Reports->Progress(percent, NULL);
}
