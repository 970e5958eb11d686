#include "engine/InstallWorker.h"

#include <objbase.h>
#include <stdlib.h>

#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "engine/SectionSupport.h"
#include "engine/Sections.h"
#include "platform/FilesInUse.h"
#include "script/ActionSections.h"
#include "script/Placeholders.h"

// Keys to delete at uninstall, logged before any value is written. A line
// that does not expand is skipped.
static int LogRegistryKeysToRemove() {
  const int32_t count = SetupState::Project.GetLineCount("SysRegUninstall");
  for (int32_t i = 0; i < count; ++i) {
    char* line = ReadSectionLine("SysRegUninstall", i);
    if (!line) {
      SetupState::Translations.ShowMessage(NULL, TK_UNSPECIFIED_ERROR_OCCURED, TK_ERROR, MB_ICONERROR);
      return 0;
    }
    const char* ifEmpty = SkipLineFlag(line, kActionSections[SECTION_SYSREGUNINSTALL].Flag);
    char* key = ExpandPlaceholders(ifEmpty ? ifEmpty : line);
    free(line);
    if (!key) continue;
    // one that is there already must survive a rollback
    const int noted = SetupState::UninstallLog.LogListedRegistryKey(key, ifEmpty != NULL);
    free(key);
    if (!noted) {
      CUninstallLogger::ShowWriteError();
      return 0;
    }
  }
  return 1;
}

// The other sections succeed or fail (shown, or cancelled): their 1 or 0.
static RunResult Done(int ok) { return ok ? RUN_DONE : RUN_FAILED; }
static RunResult ProcessShortcuts() { return Done(ProcessShortcutsSection()); }
static RunResult ProcessIniFiles() { return Done(ProcessIniFilesSection()); }
static RunResult ProcessSysRegUninstall() { return Done(LogRegistryKeysToRemove()); }
static RunResult ProcessSysRegInt() { return Done(ProcessRegistrySection(0)); }
static RunResult ProcessSysRegString() { return Done(ProcessRegistrySection(1)); }
static RunResult ProcessRegisterDlls() { return Done(ProcessRegisterDllsSection()); }
static RunResult ProcessExecute() { return Done(ProcessExecuteSection()); }

// By ActionSectionId. Only the files can find the setup file damaged.
static RunResult (*const kHandlers[])() = {
    ProcessFilesSection, ProcessShortcuts,    ProcessIniFiles,     ProcessSysRegUninstall,
    ProcessSysRegInt,    ProcessSysRegString, ProcessRegisterDlls, ProcessExecute,
};
static_assert(sizeof kHandlers / sizeof kHandlers[0] == ACTION_SECTION_COUNT, "a handler for every section");

// RUN_DONE when every section was done, else the failed section's result.
static RunResult RunSections(CFrontEnd* reports) {
  bool cancellable = true;
  for (const ActionSection& section : kActionSections) {
    if (cancellable && !section.Cancellable) {
      reports->CancelAllowed(false);
      cancellable = false;
    }
    const RunResult done = kHandlers[section.Id]();
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
  // said before the finish page; a run without a person has it in its log
  // and its exit code
  if (ending == RUN_DONE && FilesReplacedAtRestart() && reports->Attended()) {
    static const char kEnglish[] =
        "Some files were in use by other programs. Their new versions are in place once the computer restarts.";
    char* text = SetupState::Translations.GetStringOr(TK_RESTART_TO_FINISH_INSTALLATION, kEnglish);
    reports->ShowFailure(NULL, text ? text : kEnglish, SetupState::WindowTitle, MB_OK | MB_ICONINFORMATION);
    free(text);
  }
  reports->RunEnded(ending);
  if (ending == RUN_DONE) reports->CancelAllowed(true);
  CoUninitialize();
  return 0;
}
