#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/SafeFormat.h"
#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "platform/RegistryHelpers.h"
#include "platform/RunLog.h"
#include "engine/SectionSupport.h"
#include "engine/Sections.h"
#include "script/ActionSections.h"
#include "script/Placeholders.h"

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

static int Fail(int code, const char* line, char* toFree1, char* toFree2) {
  if (code == 5) {
    ShowTranslatedSectionError(TK_COULD_NOT_WRITE_LINE_TO_REGESTRY, line);
  } else {
    const char* args[1] = {line ? line : ""};
    char text[2048];
    SafeFormat(text, sizeof text, kTexts[code], args, 1);
    ShowSectionError(text);
  }
  free(toFree1);
  free(toFree2);
  return 0;
}

static int RegistryValueExists(HKEY root, const char* keyPath, const char* valueName) {
  HKEY key = OpenRegistryPath(root, keyPath, KEY_READ);
  if (!key) return 0;
  const LONG r = RegQueryValueExA(key, valueName, NULL, NULL, NULL, NULL);
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

int ProcessRegistrySection(int kind, const char* section) {
  if (kind != 0 && kind != 1) return 0;
  const int32_t count = SetupState::Project.GetLineCount(section);
  for (int32_t i = 0; i < count; ++i) {
    char* raw = ReadSectionLine(section, i);
    if (!raw) return Fail(0, NULL, NULL, NULL);
    const char* ifAbsent = SkipLineFlag(raw, kActionSections[kind == 0 ? SECTION_SYSREGINT : SECTION_SYSREGSTRING].Flag);
    char* line = ExpandPlaceholders(ifAbsent ? ifAbsent : raw);
    free(raw);
    if (!line) return Fail(1, NULL, NULL, NULL);
    // The message shows the line as it stood before it was split.
    char* shown = strdup(line);
    if (!shown) return Fail(0, NULL, line, NULL);

    char* rootSlash = const_cast<char*>(MbcsFindChar(line, '/'));
    if (!rootSlash) return Fail(2, shown, line, shown);
    *rootSlash = '\0';
    char* namePart = rootSlash + 1;
    const char* value = NULL;
    if (char* equals = const_cast<char*>(MbcsFindChar(namePart, '='))) {
      *equals = '\0';
      value = SkipBlanks(equals + 1);
    }
    char* nameSlash = const_cast<char*>(MbcsFindLastChar(namePart, '/'));
    if (!nameSlash) return Fail(3, shown, line, shown);
    *nameSlash = '\0';
    const char* keyPath = namePart;
    const char* valueName = nameSlash + 1;
    HKEY root = RegistryRootFromName(line);
    if (!root) return Fail(4, shown, line, shown);

    if (ifAbsent && RegistryValueExists(root, keyPath, valueName)) {
      RunLogLine("Registry value kept as it was", shown);
      free(shown);
      free(line);
      continue;
    }
    // what a rollback needs to put the keys and the value back as they were
    if (!SetupState::UninstallLog.KeepRegistryKeys(line, keyPath) ||
        !SetupState::UninstallLog.KeepRegistryValue(line, keyPath, valueName))
      return Fail(5, shown, line, shown);
    HKEY key = CreateRegistryPath(root, keyPath, KEY_ALL_ACCESS);
    if (!key) return Fail(5, shown, line, shown);
    RegCloseKey(key);
    const int written =
        kind == 0 ? WriteRegistryDword(root, keyPath, valueName,
                                       static_cast<DWORD>(value ? ReadLeadingInteger(value) : 0))
                  : WriteRegistryString(root, keyPath, valueName, value ? value : "");
    if (!written) return Fail(5, shown, line, shown);
    RunLogLine("Registry value written", shown);
    free(shown);
    free(line);
  }
  return 1;
}
