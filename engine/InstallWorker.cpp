#include "engine/InstallWorker.h"

#include <objbase.h>
#include <stdlib.h>

#include "driver/SetupState.h"
#include "engine/SectionSupport.h"
#include "engine/Sections.h"
#include "script/Placeholders.h"

// Keys to delete at uninstall, logged before any value is written. A line
// that does not expand is skipped.
static void LogRegistryKeysToRemove() {
  const int32_t count = SetupState::Project.GetLineCount("SysRegUninstall");
  for (int32_t i = 0; i < count; ++i) {
    char* line = ReadSectionLine("SysRegUninstall", i);
    if (!line) throw QSD_FAILED;
    char* key = ExpandPlaceholders(line);
    free(line);
    if (!key) continue;
    SetupState::UninstallLog.LogSysRegSectionAdded(key);
    free(key);
  }
}

// 1 when every section was done.
static int RunSections(HWND dialog) {
  const int files = ProcessFilesSection();
  WaitWhilePaused();
  if (!files || SetupState::CancelRequested) return 0;
  EnableWindow(GetDlgItem(dialog, IDC_WIZARD_CANCEL), FALSE);
  if (!ProcessShortcutsSection()) return 0;
  ReportInstallStep(85);
  if (!ProcessIniFilesSection()) return 0;
  ReportInstallStep(88);
  LogRegistryKeysToRemove();
  if (!ProcessRegistrySection(0)) return 0;
  ReportInstallStep(91);
  if (!ProcessRegistrySection(1)) return 0;
  ReportInstallStep(94);
  if (!ProcessRegisterDllsSection()) return 0;
  ReportInstallStep(97);
  if (!ProcessExecuteSection()) return 0;
  ReportInstallStep(100);
  return 1;
}

DWORD WINAPI InstallWorker(LPVOID parameter) {
  HWND dialog = static_cast<HWND>(parameter);
  CoInitialize(NULL);
  int ok = 0;
  // Nothing may leave the thread: a corrupt entry or any other surprise is
  // an orderly failure with its message, and the wizard rolls back.
  try {
    BeginInstallProgress(dialog, SetupState::Efs.GetTotalStoredSize());
    ok = RunSections(dialog);
  } catch (EFSERROR error) {
    SetupState::Translations.ShowMessage(
        NULL, error == EFS_ERR_CRC ? "INSTALLATION_FILE_IS_CORRUPT" : "UNSPECIFIED_ERROR_OCCURED",
        "ERROR", MB_ICONERROR);
  } catch (...) {
    SetupState::Translations.ShowMessage(NULL, "UNSPECIFIED_ERROR_OCCURED", "ERROR", MB_ICONERROR);
  }
  WaitWhilePaused();
  if (ok) {
    SendMessageA(dialog, WM_INSTALL_DONE, 0, 0);
    EnableWindow(GetDlgItem(dialog, IDC_WIZARD_CANCEL), TRUE);
  } else {
    SendMessageA(dialog, WM_INSTALL_DONE, 1, 0);
  }
  CoUninitialize();
  return 0;
}
