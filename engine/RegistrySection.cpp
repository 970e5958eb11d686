#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "platform/RegistryHelpers.h"
#include "platform/RunLog.h"
#include "engine/SectionSupport.h"
#include "engine/Sections.h"
#include "script/ActionSections.h"

static const char kWrite[] = "write to registry";

// A line refused, shown as it stood; an unrecognized one without the
// period, as ever.
static RunResult FailLine(LineProblem problem, const char* line) {
  const bool known = problem == LINE_NO_ROOT || problem == LINE_NO_VALUE_NAME;
  return FailSection(kWrite,
                     problem == LINE_NO_ROOT         ? ": The following line in the QSP file contained no Section information."
                     : problem == LINE_NO_VALUE_NAME ? ": The following line in the QSP file contained no Entry information."
                                                     : ": The following line in the QSP file contained an unrecognized key.",
                     line, known ? "." : "");
}

static RunResult FailWrite(const char* line) {
  ShowTranslatedSectionError(TK_COULD_NOT_WRITE_LINE_TO_REGESTRY, line);
  return RUN_FAILED;
}

static int RegistryValueExists(HKEY root, const char* keyPath, const char* valueName) {
  HKEY key = OpenRegistryPath(root, keyPath, KEY_READ);
  if (!key) return 0;
  const LONG r = RegQueryValueExA(key, valueName, NULL, NULL, NULL, NULL);
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

RunResult ProcessRegistrySection(int kind, const char* section) {
  if (kind != 0 && kind != 1) return RUN_FAILED;
  CSectionLines lines(kind == 0 ? SECTION_SYSREGINT : SECTION_SYSREGSTRING, section);
  for (SectionLinesStatus got; (got = lines.Next()) != LINES_END;) {
    // The message shows the line as it stood before it was split.
    const char* shown = lines.Text();
    if (got == LINES_PROBLEM) return FailLine(lines.Fields.Problem, shown);
    if (got != LINES_READY) return FailUnreadLine(kWrite, got);
    const char* rootName = lines.Fields.Field[0];
    const char* keyPath = lines.Fields.Field[1];
    const char* valueName = lines.Fields.Field[2];
    const char* value = lines.Fields.Field[3];
    HKEY root = RegistryRootFromName(rootName);
    if (!root) return FailLine(LINE_UNKNOWN_ROOT, shown);

    if (lines.Flagged() && RegistryValueExists(root, keyPath, valueName)) {
      RunLogLine("Registry value kept as it was", shown);
      continue;
    }
    // what a rollback needs to put the keys and the value back as they were
    if (!SetupState::UninstallLog.KeepRegistryKeys(rootName, keyPath) ||
        !SetupState::UninstallLog.KeepRegistryValue(rootName, keyPath, valueName))
      return FailWrite(shown);
    HKEY key = CreateRegistryPath(root, keyPath, KEY_ALL_ACCESS);
    if (!key) return FailWrite(shown);
    RegCloseKey(key);
    const int written =
        kind == 0 ? WriteRegistryDword(root, keyPath, valueName,
                                       static_cast<DWORD>(value ? ReadLeadingInteger(value) : 0))
                  : WriteRegistryString(root, keyPath, valueName, value ? value : "");
    if (!written) return FailWrite(shown);
    RunLogLine("Registry value written", shown);
  }
  return RUN_DONE;
}
