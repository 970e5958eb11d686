#include "script/ActionSections.h"

#include <string.h>

#include "common/Mbcs.h"

#define LOGS(kind) (1u << (kind))

const ActionSection kActionSections[ACTION_SECTION_COUNT] = {
    {SECTION_FILES, "Files", "source, destination", 1, 0, LOGS(LOGRECORD_FILE) | LOGS(LOGRECORD_DIRECTORY), 1, 0, nullptr},
    {SECTION_SHORTCUTS, "Shortcuts",
     "shortcut file, target, arguments, working folder, description, icon file, icon index", 6, 1,
     LOGS(LOGRECORD_FILE) | LOGS(LOGRECORD_DIRECTORY), 0, 85, nullptr},
    {SECTION_INIFILES, "INIFiles", "INI file, section, key, value", 3, 0,
     LOGS(LOGRECORD_FILE) | LOGS(LOGRECORD_DIRECTORY) | LOGS(LOGRECORD_INI_ENTRY), 0, 88, "ifabsent:"},
    {SECTION_SYSREGUNINSTALL, "SysRegUninstall", nullptr, 0, 0,
     LOGS(LOGRECORD_REGISTRY) | LOGS(LOGRECORD_REGISTRY_IF_EMPTY), 0, 0, "ifempty:"},
    // values go to the rollback journal only: the uninstaller removes keys
    {SECTION_SYSREGINT, "SysRegInt", nullptr, 0, 0, 0, 0, 91, "ifabsent:"},
    {SECTION_SYSREGSTRING, "SysRegString", nullptr, 0, 0, 0, 0, 94, "ifabsent:"},
    {SECTION_REGISTERDLLS, "RegisterDlls", nullptr, 0, 0, LOGS(LOGRECORD_DLL), 0, 97, nullptr},
    {SECTION_EXECUTE, "Execute", nullptr, 0, 0, 0, 0, 100, nullptr},
};

const ActionSection* FindActionSection(const char* name) {
  for (const ActionSection& s : kActionSections)
    if (strcmp(s.Name, name) == 0) return &s;
  return nullptr;
}

const char* SkipLineFlag(const char* line, const char* flag) {
  const size_t n = flag ? strlen(flag) : 0;
  if (!line || !n || strncmp(line, flag, n) != 0) return nullptr;
  line += n;
  while (*line == ' ') ++line;
  return line;
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
