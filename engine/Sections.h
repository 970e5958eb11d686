// The action sections of the project script, one handler each. A handler
// returns 1 when every line was done, 0 after a failure it has shown to the
// user (or a cancel); it never undoes anything itself.
#pragma once
#include <windows.h>

#include "platform/FrontEnd.h"

class CUninstallLogger;

// The files can find the setup file damaged: RUN_DONE, RUN_FAILED (shown,
// or cancelled) or RUN_DAMAGED (shown).
RunResult ProcessFilesSection();
// The destinations of [Files] that exist before the run (new strings in a
// new array, the caller frees both); null when there are none.
char** ExistingFileDestinations(int* count);
// How many files in use the last Files section replaces at the restart.
int FilesReplacedAtRestart();
int ProcessShortcutsSection();
int ProcessIniFilesSection();
// kind 0: [SysRegInt] DWORD values; kind 1: [SysRegString] string values.
int ProcessRegistrySection(int kind);
int ProcessRegisterDllsSection();
int ProcessExecuteSection();

// Saves a shell link; logs the file on success. Negative on failure;
// E_SHORTCUT_NOT_LOGGED when its log line could not be written and the
// link was deleted again.
const HRESULT E_SHORTCUT_NOT_LOGGED = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0151);
HRESULT CreateShellShortcut(const char* target, const char* shortcutFile, const char* iconFile,
                            int iconIndex, const char* description, const char* arguments,
                            const char* workingFolder, CUninstallLogger* logger);
