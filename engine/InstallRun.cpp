#include "engine/InstallRun.h"

#include "common/PathText.h"
#include "common/TextKeys.h"
#include "driver/CommandLine.h"
#include "driver/SetupState.h"
#include "engine/AddRemovePrograms.h"
#include "engine/InstallProgress.h"
#include "engine/InstallWorker.h"
#include "engine/Sections.h"
#include "engine/UninstallerCreation.h"
#include "platform/FilesInUse.h"
#include "platform/RunLog.h"

// at namespace scope: a local static would bring the thread-safe guard
// code along for nothing, as the run is first taken before any thread
namespace {
CInstallRun g_Run;
}

CInstallRun& InstallRun() { return g_Run; }

int CInstallRun::Start(CFrontEnd* reports) {
  m_Reports = reports;
  m_Succeeded = 0;
  m_Ending = RUN_DONE;
  SetupState::CancelRequested = 0;
  RunLogLineWith("Installing", "into %s", SetupState::InstallDir);
  m_Thread = CreateThread(NULL, 0, InstallWorker, static_cast<CFrontEnd*>(this), 0, NULL);
  if (!m_Thread) {
    SetupState::Translations.ShowMessage(NULL, TK_UNSPECIFIED_ERROR_OCCURED, TK_ERROR, MB_OK | MB_ICONERROR);
    return 0;
  }
  SetThreadPriority(m_Thread, THREAD_PRIORITY_BELOW_NORMAL);
  return 1;
}

void CInstallRun::Pause() { PauseInstallWorker(); }

void CInstallRun::Resume() { ResumeInstallWorker(); }

void CInstallRun::Cancel() {
  SetupState::CancelRequested = 1;
  UrgeInstallWorker();
}

void CInstallRun::ShowFailure(HWND owner, const char* text, const char* caption, UINT style) {
  m_Reports->ShowFailure(owner, text, caption, style);
}

int CInstallRun::Ask(HWND owner, const char* text, const char* caption, UINT style, int unattended) {
  return m_Reports->Ask(owner, text, caption, style, unattended);
}

void CInstallRun::Progress(int percent, const char* file) { m_Reports->Progress(percent, file); }

void CInstallRun::CancelAllowed(bool allowed) { m_Reports->CancelAllowed(allowed); }

void CInstallRun::RunEnded(RunEnding ending) {
  m_Succeeded = ending == RUN_DONE;
  m_Ending = ending;
  m_Reports->RunEnded(ending);
}

void CInstallRun::Join() {
  if (!m_Thread) return;
  if (WaitForSingleObject(m_Thread, 0) == WAIT_TIMEOUT) {
    // Ended under a running worker: it stops at its next report. Anything it
    // sends to this thread must still be answered, or it would never end.
    SetupState::CancelRequested = 1;
    ResumeInstallWorker();
    while (MsgWaitForMultipleObjects(1, &m_Thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
      MSG message;
      PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  }
  CloseHandle(m_Thread);
  m_Thread = NULL;
}

int CInstallRun::WriteUninstaller(HWND owner) {
  // the entry's key goes into the log before the log is copied
  if (!WriteAddRemoveProgramsEntry()) return 0;
  m_Ending = CreateUninstaller(owner);
  if (m_Ending != RUN_DONE) return 0;
  char log[PATH_BYTES];
  if (PathJoin(log, sizeof log, SetupState::InstallDir, "Uninstall.log")) WriteAddRemoveProgramsSize(log);
  char path[PATH_BYTES];
  if (PathJoin(path, sizeof path, SetupState::InstallDir, "Uninstall.exe")) RunLogLine("Uninstaller written", path);
  return 1;
}

void DropPendingQuit() {
  MSG message;
  while (PeekMessageA(&message, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

int CInstallRun::Conclude(int exitCode) {
  if (exitCode == SETUP_EXIT_DONE) {
    const int oldInUse = SetupState::UninstallLog.DiscardKeptOriginals();
    RestartClosedPrograms();
    // files in use take their new content, or old ones go, at the restart
    return FilesReplacedAtRestart() || oldInUse ? SETUP_EXIT_RESTART_NEEDED : exitCode;
  }
  // The replaced files back, then the log replayed. It needs the
  // translation table, so it runs before the temporary files go.
  RunLogLine("Rollback", "undoing every change of this run");
  DropPendingQuit();
  SetupState::UninstallLog.Rollback();
  RestartClosedPrograms();
  return exitCode;
}

int CInstallRun::RunUnattended(CFrontEnd* reports) {
  if (!Start(reports)) return Conclude(SETUP_EXIT_FAILED);
  // The worker sends its reports; a window of this thread gets them only
  // while its messages are dispatched here.
  bool quit = false;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // ended from outside: stopped, and failed as with the wizard
        quit = true;
        Cancel();
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (MsgWaitForMultipleObjects(1, &m_Thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0 + 1) break;
  }
  Join();
  if (m_Ending == RUN_CANCELLED && !quit) return Conclude(SETUP_EXIT_CANCELLED);
  if (!m_Succeeded) return Conclude(m_Ending == RUN_FILES_IN_USE ? SETUP_EXIT_FILES_IN_USE : SETUP_EXIT_FAILED);
  return Conclude(WriteUninstaller(NULL) ? SETUP_EXIT_DONE : SETUP_EXIT_FAILED);
}
