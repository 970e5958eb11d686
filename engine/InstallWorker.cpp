#include "engine/InstallWorker.h"

#include <objbase.h>
#include <stdlib.h>

#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "engine/SectionSupport.h"
#include "engine/Sections.h"
#include "platform/FilesInUse.h"
#include "script/ActionSections.h"
#include "platform/RunLog.h"

// Keys to delete at uninstall, logged before any value is written. A line
// that does not expand is skipped; so is one that names no key, which would
// stop the uninstaller's replay or remove more than the script meant.
RunResult LogRegistryKeysToRemove(const char* section) {
  CSectionLines lines(SECTION_SYSREGUNINSTALL, section);
  for (SectionLinesStatus got; (got = lines.Next()) != LINES_END;) {
    if (got == LINES_NO_MEMORY) {
      SetupState::Translations.ShowMessage(NULL, TK_UNSPECIFIED_ERROR_OCCURED, TK_ERROR, MB_ICONERROR);
      return RUN_FAILED;
    }
    if (got == LINES_PROBLEM) RunLogLine("Registry key to remove passed over: it names no key", lines.Text());
    if (got != LINES_READY) continue;
    // one that is there already must survive a rollback
    if (!SetupState::UninstallLog.LogListedRegistryKey(lines.Text(), lines.Flagged())) {
      CUninstallLogger::ShowWriteError();
      return RUN_FAILED;
    }
  }
  return RUN_DONE;
}

// Every header of a section: the plain one, then those of the chosen
// components and tasks. RUN_DONE when all were done, else the failed one's.
static RunResult RunChosenSections(const ActionSection& section) {
  char name[256];
  for (int k = 0; ChosenSectionName(section.Name, k, name, sizeof name); ++k) {
    const RunResult done = kSectionHandlers[section.Id].Run(name);
    if (done != RUN_DONE) return done;
    if (section.Cancellable) {
      WaitWhilePaused();
      if (SetupState::CancelRequested) return RUN_CANCELLED;
    }
  }
  return RUN_DONE;
}

// RUN_DONE when every section was done, else the failed section's result.
static RunResult RunSections(CFrontEnd* reports) {
  bool cancellable = true;
  for (const ActionSection& section : kActionSections) {
    if (cancellable && !section.Cancellable) {
      reports->CancelAllowed(false);
      cancellable = false;
    }
    const RunResult done = RunChosenSections(section);
    if (section.Cancellable) {
      WaitWhilePaused();
      if (done != RUN_DONE) return done;
      if (SetupState::CancelRequested) return RUN_CANCELLED;
    } else if (done != RUN_DONE) {
      return done;
    }
    if (section.ProgressAfter) ReportInstallStep(section.ProgressAfter);
  }
  return RUN_DONE;
}

// Before the first change: the programs that hold files this run
// replaces are named, and closed as the run says. A cancel there changes
// nothing.
static RunResult CloseProgramsInTheWay(CFrontEnd* reports) {
  int count = 0;
  char** files = ExistingFileDestinations(&count);
  int held = 0;
  char* question = count ? SetupState::Translations.GetStringOr(TK_PROGRAMS_USE_THE_FILES, kProgramsInUseQuestion)
                         : NULL;
  const RunResult result =
      count ? CloseProgramsUsing(files, count, reports, question ? question : kProgramsInUseQuestion,
                                 SetupState::WindowTitle, &held)
            : RUN_DONE;
  free(question);
  for (int i = 0; i < count; ++i) free(files[i]);
  free(files);
  if (result == RUN_CANCELLED) SetupState::CancelRequested = 1;
  return result;
}

DWORD WINAPI InstallWorker(LPVOID parameter) {
  CFrontEnd* reports = static_cast<CFrontEnd*>(parameter);
  CoInitialize(NULL);
  BeginInstallProgress(reports, SetupState::Efs.GetTotalStoredSize());
  RunResult ending = CloseProgramsInTheWay(reports);
  if (ending == RUN_DONE) ending = RunSections(reports);
  WaitWhilePaused();
  // a confirmed Cancel ends the run as cancelled, whatever failed after it
  if (ending != RUN_DONE && SetupState::CancelRequested) ending = RUN_CANCELLED;
  reports->RunEnded(ending);
  if (ending == RUN_DONE) reports->CancelAllowed(true);
  CoUninitialize();
  return 0;
}
