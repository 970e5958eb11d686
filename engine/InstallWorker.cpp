#include "engine/InstallWorker.h"

#include <objbase.h>
#include <stdlib.h>

#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "engine/SectionSupport.h"
#include "engine/Sections.h"
#include "script/ActionSections.h"
#include "script/Placeholders.h"

// Keys to delete at uninstall, logged before any value is written. A line
// that does not expand is skipped.
static int LogRegistryKeysToRemove() {
  const int32_t count = SetupState::Project.GetLineCount("SysRegUninstall");
  for (int32_t i = 0; i < count; ++i) {
    char* line = ReadSectionLine("SysRegUninstall", i);
    if (!line) throw QSD_FAILED;
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

static int ProcessSysRegUninstallSection() { return LogRegistryKeysToRemove(); }
static int ProcessSysRegIntSection() { return ProcessRegistrySection(0); }
static int ProcessSysRegStringSection() { return ProcessRegistrySection(1); }

// By ActionSectionId.
static int (*const kHandlers[])() = {
    ProcessFilesSection,          ProcessShortcutsSection,    ProcessIniFilesSection,
    ProcessSysRegUninstallSection, ProcessSysRegIntSection,   ProcessSysRegStringSection,
    ProcessRegisterDllsSection,   ProcessExecuteSection,
};
static_assert(sizeof kHandlers / sizeof kHandlers[0] == ACTION_SECTION_COUNT, "a handler for every section");

// 1 when every section was done.
static int RunSections(CFrontEnd* reports) {
  bool cancellable = true;
  for (const ActionSection& section : kActionSections) {
    if (cancellable && !section.Cancellable) {
      reports->CancelAllowed(false);
      cancellable = false;
    }
    const int done = kHandlers[section.Id]();
    if (section.Cancellable) {
      WaitWhilePaused();
      if (!done || SetupState::CancelRequested) return 0;
    } else if (!done) {
      return 0;
    }
    if (section.ProgressAfter) ReportInstallStep(section.ProgressAfter);
  }
  return 1;
}

DWORD WINAPI InstallWorker(LPVOID parameter) {
  CFrontEnd* reports = static_cast<CFrontEnd*>(parameter);
  CoInitialize(NULL);
  int ok = 0;
  // Nothing may leave the thread: a corrupt entry or any other surprise is
  // an orderly failure with its message, and the wizard rolls back.
  try {
    BeginInstallProgress(reports, SetupState::Efs.GetTotalStoredSize());
    ok = RunSections(reports);
  } catch (EFSERROR error) {
    SetupState::Translations.ShowMessage(
        NULL, error == EFS_ERR_CRC ? TK_INSTALLATION_FILE_IS_CORRUPT : TK_UNSPECIFIED_ERROR_OCCURED,
        TK_ERROR, MB_ICONERROR);
  } catch (...) {
    SetupState::Translations.ShowMessage(NULL, TK_UNSPECIFIED_ERROR_OCCURED, TK_ERROR, MB_ICONERROR);
  }
  WaitWhilePaused();
  reports->RunEnded(ok ? RUN_DONE : SetupState::CancelRequested ? RUN_CANCELLED : RUN_FAILED);
  if (ok) reports->CancelAllowed(true);
  CoUninitialize();
  return 0;
}
