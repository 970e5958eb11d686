#include "script/ActionSections.h"

#include <string.h>

#include "common/Mbcs.h"

#define LOGS(kind) (1u << (kind))

const char kRegistryRoots[4][20] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                       "HKEY_CURRENT_CONFIG"};

namespace {

LineProblem Problem(SectionLine* out, LineProblem problem, const char* line, const char* at) {
  out->Problem = problem;
  out->Column = static_cast<size_t>(at - line) + 1;
  return problem;
}

char* SkipSpaces(char* p) {
  while (*p == ' ') ++p;
  return p;
}

// Cuts text at its first comma and returns what follows, or null.
char* CutAtComma(char* text) {
  char* comma = const_cast<char*>(MbcsFindChar(text, ','));
  if (!comma) return nullptr;
  *comma = '\0';
  return comma + 1;
}

void CutAtBlank(char* text) {
  for (char* p = text; *p; p = const_cast<char*>(MbcsNext(p)))
    if (*p == ' ' || *p == '\r' || *p == '\n') {
      *p = '\0';
      return;
    }
}

// n fields at the first n - 1 commas, blanks before each but the first
// skipped; the last field keeps any further commas.
LineProblem ReadFields(char* line, int n, SectionLine* out) {
  out->Field[0] = line;
  out->Count = 1;
  for (int f = 1; f < n; ++f) {
    char* last = out->Field[f - 1];
    char* next = CutAtComma(last);
    if (!next) return Problem(out, LINE_NO_COMMA, line, last + strlen(last));
    out->Field[f] = SkipSpaces(next);
    out->Count = f + 1;
  }
  return LINE_FINE;
}

int IsRegistryRoot(const char* name) {
  for (const char* root : kRegistryRoots)
    if (strcmp(name, root) == 0) return 1;
  return 0;
}

// source, destination
LineProblem ReadFilesLine(char* line, SectionLine* out) { return ReadFields(line, 2, out); }

// shortcut file, target, arguments, working folder, description, icon
// file, icon index (which ends at its first blank)
LineProblem ReadShortcutsLine(char* line, SectionLine* out) {
  if (ReadFields(line, 7, out)) return out->Problem;
  CutAtBlank(out->Field[6]);
  return LINE_FINE;
}

// INI file, section, key, value: in double quotes the value keeps its
// blanks, else it ends at the first one
LineProblem ReadIniFilesLine(char* line, SectionLine* out) {
  if (ReadFields(line, 4, out)) return out->Problem;
  char* value = out->Field[3];
  char* closing = *value == '"' ? const_cast<char*>(MbcsFindChar(value + 1, '"')) : nullptr;
  if (closing) {
    *closing = '\0';
    out->Field[3] = value + 1;
    out->Quoted = 1;
  } else {
    CutAtBlank(value);
  }
  return LINE_FINE;
}

// ROOT/key path, the path naming a key: without one the uninstaller would
// remove everything below the root.
LineProblem ReadRegistryKeyLine(char* line, SectionLine* out) {
  char* slash = const_cast<char*>(MbcsFindChar(line, '/'));
  if (!slash) return Problem(out, LINE_NO_ROOT, line, line + strlen(line));
  *slash = '\0';
  if (!IsRegistryRoot(line)) return Problem(out, LINE_UNKNOWN_ROOT, line, line);
  char* path = slash + 1;
  if (!*path || strspn(path, "/") == strlen(path)) return Problem(out, LINE_NO_KEY, line, path);
  out->Field[0] = line;
  out->Field[1] = path;
  out->Count = 2;
  return LINE_FINE;
}

// ROOT/key path/value name, then "=" and the value (blanks before it
// skipped) or nothing; an empty value name is the key's default value
LineProblem ReadRegistryValueLine(char* line, SectionLine* out) {
  char* slash = const_cast<char*>(MbcsFindChar(line, '/'));
  if (!slash) return Problem(out, LINE_NO_ROOT, line, line + strlen(line));
  *slash = '\0';
  char* names = slash + 1;
  char* value = nullptr;
  char* equals = const_cast<char*>(MbcsFindChar(names, '='));
  if (equals) {
    *equals = '\0';
    value = SkipSpaces(equals + 1);
  }
  char* nameSlash = const_cast<char*>(MbcsFindLastChar(names, '/'));
  if (!nameSlash) return Problem(out, LINE_NO_VALUE_NAME, line, names + strlen(names));
  *nameSlash = '\0';
  if (!IsRegistryRoot(line)) return Problem(out, LINE_UNKNOWN_ROOT, line, line);
  out->Field[0] = line;
  out->Field[1] = names;
  out->Field[2] = nameSlash + 1;
  out->Field[3] = value;
  out->Count = value ? 4 : 3;
  return LINE_FINE;
}

// the whole line: a DLL's path, a command line
LineProblem ReadWholeLine(char* line, SectionLine* out) {
  out->Field[0] = line;
  out->Count = 1;
  return LINE_FINE;
}

}  // namespace

// A new section touches these files and no others:
//   script/ActionSections.h, .cpp   its id; its row here, its line reader and
//                                   its case in ReadActionLine (the command
//                                   checks every line with it)
//   engine/<Name>Section.cpp        its handler, a new file taking its lines
//                                   from CSectionLines; cmake/Sources.cmake
//   engine/Sections.h               the handler's declaration and row
//   uninstall/LogLines.h            where its changes are a record of their
//                                   own: the kind and its row...
//   uninstall/UninstallReplay.cpp   ...and its undo (written with
//                                   CUninstallLogger::LogRecordLine)
//   docs/quillset.md                its heading, in run order
//   tests/unit/ActionSectionsTest.cpp, tests/win32/EngineTest.cpp
const ActionSection kActionSections[ACTION_SECTION_COUNT] = {
    {SECTION_FILES, "Files", "source, destination", 1, 0, LOGS(LOGRECORD_FILE) | LOGS(LOGRECORD_DIRECTORY), 1, 0, nullptr,
     1},
    {SECTION_SHORTCUTS, "Shortcuts",
     "shortcut file, target, arguments, working folder, description, icon file, icon index", 6, 1,
     LOGS(LOGRECORD_FILE) | LOGS(LOGRECORD_DIRECTORY), 0, 85, nullptr, -1},
    {SECTION_INIFILES, "INIFiles", "INI file, section, key, value", 3, 0,
     LOGS(LOGRECORD_FILE) | LOGS(LOGRECORD_DIRECTORY) | LOGS(LOGRECORD_INI_ENTRY), 0, 88, "ifabsent:",
     -1},
    {SECTION_SYSREGUNINSTALL, "SysRegUninstall", nullptr, 0, 0,
     LOGS(LOGRECORD_REGISTRY) | LOGS(LOGRECORD_REGISTRY_IF_EMPTY), 0, 0, "ifempty:", -1},
    // values go to the rollback journal only: the uninstaller removes keys
    {SECTION_SYSREGINT, "SysRegInt", nullptr, 0, 0, 0, 0, 91, "ifabsent:", -1},
    {SECTION_SYSREGSTRING, "SysRegString", nullptr, 0, 0, 0, 0, 94, "ifabsent:", -1},
    {SECTION_REGISTERDLLS, "RegisterDlls", nullptr, 0, 0, LOGS(LOGRECORD_DLL), 0, 97, nullptr, -1},
    {SECTION_EXECUTE, "Execute", nullptr, 0, 0, 0, 0, 100, nullptr, -1},
};

// Each section's reader: a section without its case does not build.
#pragma GCC diagnostic error "-Wswitch"

LineProblem ReadActionLine(ActionSectionId id, char* line, SectionLine* out) {
  memset(out, 0, sizeof *out);
  switch (id) {
    case SECTION_FILES:
      return ReadFilesLine(line, out);
    case SECTION_SHORTCUTS:
      return ReadShortcutsLine(line, out);
    case SECTION_INIFILES:
      return ReadIniFilesLine(line, out);
    case SECTION_SYSREGUNINSTALL:
      return ReadRegistryKeyLine(line, out);
    case SECTION_SYSREGINT:
    case SECTION_SYSREGSTRING:
      return ReadRegistryValueLine(line, out);
    case SECTION_REGISTERDLLS:
    case SECTION_EXECUTE:
    case ACTION_SECTION_COUNT:
      break;
  }
  return ReadWholeLine(line, out);
}

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
