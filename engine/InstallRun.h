// One installation from "go" to its end, whoever watches: the worker thread
// and its progress, cancel, writing the uninstaller, and the rollback. The
// wizard drives it from its pages; a silent run drives it alone.
#pragma once
#include <windows.h>

#include "platform/FrontEnd.h"

// The worker reports to the run, which notes the end and hands every report
// on to the front end that watches.
class CInstallRun : private CFrontEnd {
 public:
  // Starts the worker; its reports go to reports (progress against the
  // container's stored bytes). 0 when it cannot start, after a message.
  int Start(CFrontEnd* reports);
  // Cancel, asked while the worker holds still at its next report; the
  // worker stops at its next report, and the run counts as cancelled.
  void Pause();
  void Resume();
  void Cancel();
  // Returns once the worker has ended; one that still runs is asked to stop
  // (cancelled). Messages sent to this thread meanwhile are answered.
  void Join();
  // 1 when the worker did every section.
  int Succeeded() const { return m_Succeeded; }
  // How the worker, or writing the uninstaller, ended (RUN_DAMAGED: the
  // setup file was found damaged).
  RunResult Ending() const { return m_Ending; }
  // The Add/Remove Programs entry (with AppId), then Uninstall.exe,
  // Translations.ini and Uninstall.log into the destination; 0 after a
  // failure that was shown (owner: the window its box belongs to).
  int WriteUninstaller(HWND owner);
  // The end: keeps the installation (SETUP_EXIT_DONE) or rolls it back
  // (failed or cancelled). Returns the exit code it was given, or
  // SETUP_EXIT_RESTART_NEEDED for a kept one whose files in use are
  // replaced at the restart.
  int Conclude(int exitCode);
  // Start, wait, write the uninstaller, conclude: the exit code. The wait
  // answers this thread's messages, so a front end's window here hears the
  // worker's reports and its Cancel (which calls Cancel) stops the run.
  int RunUnattended(CFrontEnd* reports);

 private:
  void ShowFailure(HWND owner, const char* text, const char* caption, UINT style) override;
  int Ask(HWND owner, const char* text, const char* caption, UINT style, int unattended) override;
  void Progress(int percent, const char* file) override;
  void CancelAllowed(bool allowed) override;
  void RunEnded(RunEnding ending) override;

  HANDLE m_Thread = NULL;
  CFrontEnd* m_Reports = nullptr;
  volatile int m_Succeeded = 0;
  volatile RunResult m_Ending = RUN_DONE;
};

// The run of this process.
CInstallRun& InstallRun();

// A quit message left from the wizard's end would close every box after it
// at once, unanswered: taken off the queue before the rollback's questions.
void DropPendingQuit();
