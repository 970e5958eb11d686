#include "script/ActionSections.h"

#include <string.h>

#include "common/Mbcs.h"

#define LOGS(kind) (1u << (kind))

const ActionSection kActionSections[ACTION_SECTION_COUNT] = {
    {SECTION_FILES, "Files", "source, destination", 1, 0, LOGS(LOGRECORD_FILE) | LOGS(LOGRECORD_DIRECTORY), 1, 0},
    {SECTION_SHORTCUTS, "Shortcuts",
     "shortcut file, target, arguments, working folder, description, icon file, icon index", 6, 1,
     LOGS(LOGRECORD_FILE) | LOGS(LOGRECORD_DIRECTORY), 0, 85},
    {SECTION_INIFILES, "INIFiles", "INI file, section, key, value", 3, 0,
     LOGS(LOGRECORD_FILE) | LOGS(LOGRECORD_DIRECTORY) | LOGS(LOGRECORD_INI_ENTRY), 0, 88},
    {SECTION_SYSREGUNINSTALL, "SysRegUninstall", nullptr, 0, 0, LOGS(LOGRECORD_REGISTRY), 0, 0},
    // values go to the rollback journal only: the uninstaller removes keys
    {SECTION_SYSREGINT, "SysRegInt", nullptr, 0, 0, 0, 0, 91},
    {SECTION_SYSREGSTRING, "SysRegString", nullptr, 0, 0, 0, 0, 94},
    {SECTION_REGISTERDLLS, "RegisterDlls", nullptr, 0, 0, LOGS(LOGRECORD_DLL), 0, 97},
    {SECTION_EXECUTE, "Execute", nullptr, 0, 0, 0, 0, 100},
};

const ActionSection* FindActionSection(const char* name) {
  for (const ActionSection& s : kActionSections)
    if (strcmp(s.Name, name) == 0) return &s;
  return nullptr;
}

int SplitFilesLine(const char* line, FilesLine* out) {
  const char* comma = MbcsFindChar(line, ',');
  if (!comma) return 0;
  out->Source = line;
  out->SourceLength = static_cast<size_t>(comma - line);
  const char* destination = comma + 1;
  while (*destination == ' ') ++destination;
  out->Destination = destination;
  return 1;
}
