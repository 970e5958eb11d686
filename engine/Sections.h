// The action sections of the project script, one handler each. A handler
// returns 1 when every line was done, 0 after a failure it has shown to the
// user (or a cancel); it never undoes anything itself.
#pragma once
#include <windows.h>

#include "platform/FrontEnd.h"
#include "script/ActionSections.h"

class CUninstallLogger;

// The files can find the setup file damaged: RUN_DONE, RUN_FAILED (shown,
// or cancelled) or RUN_DAMAGED (shown).
RunResult ProcessFilesSection(const char* section);
// The destinations of [Files] (and its chosen sections) that exist before the run (new strings in a
// new array, the caller frees both); null when there are none.
char** ExistingFileDestinations(int* count);
// How many files in use the last Files section replaces at the restart.
int FilesReplacedAtRestart();
// Each handler runs the lines of one header: its plain section or one given
// for a chosen component or task ("Files:docs").
RunResult ProcessShortcutsSection(const char* section);
RunResult ProcessIniFilesSection(const char* section);
// Notes the [SysRegUninstall] keys for the uninstaller to remove.
RunResult LogRegistryKeysToRemove(const char* section);
// kind 0: [SysRegInt] DWORD values; kind 1: [SysRegString] string values.
RunResult ProcessRegistrySection(int kind, const char* section);
inline RunResult ProcessSysRegIntSection(const char* section) { return ProcessRegistrySection(0, section); }
inline RunResult ProcessSysRegStringSection(const char* section) { return ProcessRegistrySection(1, section); }
RunResult ProcessRegisterDllsSection(const char* section);
RunResult ProcessExecuteSection(const char* section);

// The handler of each section, at its id; a new section is declared above
// and given its row here.
struct SectionHandler {
  ActionSectionId Id;
  RunResult (*Run)(const char* header);
};
inline constexpr SectionHandler kSectionHandlers[] = {
    {SECTION_FILES, ProcessFilesSection},
    {SECTION_SHORTCUTS, ProcessShortcutsSection},
    {SECTION_INIFILES, ProcessIniFilesSection},
    {SECTION_SYSREGUNINSTALL, LogRegistryKeysToRemove},
    {SECTION_SYSREGINT, ProcessSysRegIntSection},
    {SECTION_SYSREGSTRING, ProcessSysRegStringSection},
    {SECTION_REGISTERDLLS, ProcessRegisterDllsSection},
    {SECTION_EXECUTE, ProcessExecuteSection},
};
constexpr bool EveryHandlerAtItsId() {
  int i = 0;
  for (const SectionHandler& h : kSectionHandlers)
    if (h.Id != i++) return false;
  return i == ACTION_SECTION_COUNT;
}
static_assert(EveryHandlerAtItsId(), "one row per section, at its id");

// Saves a shell link; logs the file on success. Negative on failure;
// E_SHORTCUT_NOT_LOGGED when its log line could not be written and the
// link was deleted again.
const HRESULT E_SHORTCUT_NOT_LOGGED = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0151);
HRESULT CreateShellShortcut(const char* target, const char* shortcutFile, const char* iconFile,
                            int iconIndex, const char* description, const char* arguments,
                            const char* workingFolder, CUninstallLogger* logger);

// The bytes the entries of a [Files] header's lines take once installed
// (their content's size, or what is stored where the directory does not
// record it); read before the folder is known.
unsigned long long FilesSectionBytes(const char* section);
