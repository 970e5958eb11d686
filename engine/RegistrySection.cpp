#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/SafeFormat.h"
#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "platform/RegistryHelpers.h"
#include "platform/RunLog.h"
#include "engine/SectionSupport.h"
#include "engine/Sections.h"
#include "script/ActionSections.h"

// Fixed texts of the failures before the write, by code; "%s" is the line.
static const char* const kTexts[] = {
    "Failed to write to registry due to memory allocation error.\nInstallation will be aborted.",
    "Failed to write to registry: Unable to realize QSP file placeholders.\n"
    "Installation will be aborted.",
    "Failed to write to registry: The following line in the QSP file contained no Section "
    "information.\n%s\nInstallation will be aborted.",
    "Failed to write to registry: The following line in the QSP file contained no Entry "
    "information.\n%s\nInstallation will be aborted.",
    "Failed to write to registry: The following line in the QSP file contained an unrecognized "
    "key.\n%s\nInstallation will be aborted",
};

static RunResult Fail(int code, const char* line) {
  if (code == 5) {
    ShowTranslatedSectionError(TK_COULD_NOT_WRITE_LINE_TO_REGESTRY, line);
  } else {
    const char* args[1] = {line ? line : ""};
    char text[2048];
    SafeFormat(text, sizeof text, kTexts[code], args, 1);
    ShowSectionError(text);
  }
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
    if (got == LINES_NO_MEMORY) return Fail(0, NULL);
    if (got == LINES_PLACEHOLDERS) return Fail(1, NULL);
    if (got == LINES_PROBLEM)
      return Fail(lines.Fields.Problem == LINE_NO_ROOT ? 2 : lines.Fields.Problem == LINE_NO_VALUE_NAME ? 3 : 4, shown);
    const char* rootName = lines.Fields.Field[0];
    const char* keyPath = lines.Fields.Field[1];
    const char* valueName = lines.Fields.Field[2];
    const char* value = lines.Fields.Field[3];
    HKEY root = RegistryRootFromName(rootName);
    if (!root) return Fail(4, shown);

    if (lines.Flagged() && RegistryValueExists(root, keyPath, valueName)) {
      RunLogLine("Registry value kept as it was", shown);
      continue;
    }
    // what a rollback needs to put the keys and the value back as they were
    if (!SetupState::UninstallLog.KeepRegistryKeys(rootName, keyPath) ||
        !SetupState::UninstallLog.KeepRegistryValue(rootName, keyPath, valueName))
      return Fail(5, shown);
    HKEY key = CreateRegistryPath(root, keyPath, KEY_ALL_ACCESS);
    if (!key) return Fail(5, shown);
    RegCloseKey(key);
    const int written =
        kind == 0 ? WriteRegistryDword(root, keyPath, valueName,
                                       static_cast<DWORD>(value ? ReadLeadingInteger(value) : 0))
                  : WriteRegistryString(root, keyPath, valueName, value ? value : "");
    if (!written) return Fail(5, shown);
    RunLogLine("Registry value written", shown);
  }
  return RUN_DONE;
}
