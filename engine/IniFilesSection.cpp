#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "platform/TextEncoding.h"
#include "platform/FileSystem.h"
#include "engine/SectionSupport.h"
#include "engine/Sections.h"
#include "platform/RunLog.h"
#include "script/ActionSections.h"
#include "script/Placeholders.h"

static int Fail(char* line, const char* text) {
  free(line);
  ShowSectionError(text);
  return 0;
}

// 1 when the file has the key in the section, whatever its value.
static int IniEntryExists(const char* file, const char* section, const char* key) {
  WCHAR* wideFile = WideOf(file);
  WCHAR* wideSection = WideOf(section);
  WCHAR* wideKey = WideOf(key);
  int exists = 0;
  if (wideFile && wideSection && wideKey) {
    // no value reads back as this default: a control character is no text
    WCHAR value[4];
    GetPrivateProfileStringW(wideSection, wideKey, L"\x01", value, 4, wideFile);
    exists = wcscmp(value, L"\x01") != 0;
  }
  free(wideFile);
  free(wideSection);
  free(wideKey);
  return exists;
}

static const char kPlaceholderText[] =
    "Failed to create/modify INI files: Unable to realize QSP file placeholders.\n"
    "Installation will be aborted.";

int ProcessIniFilesSection() {
  const int32_t count = SetupState::Project.GetLineCount("INIFiles");
  for (int32_t i = 0; i < count; ++i) {
    char* raw = ReadSectionLine("INIFiles", i);
    if (!raw)
      return Fail(NULL,
                  "Failed to create/modify INI files due to memory allocation error.\n"
                  "Installation will be aborted.");
    const char* ifAbsent = SkipLineFlag(raw, kActionSections[SECTION_INIFILES].Flag);
    char* line = ExpandPlaceholders(ifAbsent ? ifAbsent : raw);
    free(raw);
    if (!line) return Fail(NULL, kPlaceholderText);
    char* iniFile = line;
    char* section = SplitAtComma(iniFile);
    char* key = section ? SplitAtComma(section) : NULL;
    char* value = key ? SplitAtComma(key) : NULL;
    if (!value) return Fail(line, kPlaceholderText);
    section = SkipBlanks(section);
    key = SkipBlanks(key);
    value = SkipBlanks(value);
    // "C:\Program Files\App\" keeps its blanks, without the quotes; a
    // value not in quotes ends at its first blank
    char* closing = *value == '"' ? const_cast<char*>(MbcsFindChar(value + 1, '"')) : NULL;
    if (closing) {
      *closing = '\0';
      ++value;
    } else {
      CutAtBlank(value);
    }

    // the user's own value stays; an uninstall removes what an earlier
    // version logged, as ever
    if (ifAbsent && FileExists(iniFile) && IniEntryExists(iniFile, section, key)) {
      RunLogLine("INI entry kept as it was", key);
      free(line);
      continue;
    }
    if (!FileExists(iniFile)) {
      char folder[PATH_BYTES] = "";
      const char* slash = MbcsFindLastChar(iniFile, '\\');
      if (slash && static_cast<size_t>(slash - iniFile) < sizeof folder) {
        memcpy(folder, iniFile, slash - iniFile);
        folder[slash - iniFile] = '\0';
      }
      if (!CreateDirectoryPathLogged(folder, &SetupState::UninstallLog)) {
        ShowTranslatedSectionError(TK_COULD_NOT_CREATE_INI_FILE_DIR_PATH, folder);
        free(line);
        return 0;
      }
      HANDLE file = CreateFileA(iniFile, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, NULL);
      if (file == INVALID_HANDLE_VALUE) {
        ShowTranslatedSectionError(TK_COULD_NOT_CREATE_INI_FILE, iniFile);
        free(line);
        return 0;
      }
      // Made in UTF-16 where the program runs in UTF-8: an application reads
      // its names right whatever its own code page. Elsewhere as ever.
      DWORD written = 0;
      if (MbcsIsUtf8()) WriteFile(file, "\xFF\xFE", 2, &written, NULL);
      CloseHandle(file);
      SetupState::UninstallLog.LogFileCreated(iniFile);
    }
    // the entry's old value, for a rollback to put back
    if (!SetupState::UninstallLog.KeepIniValue(iniFile, section, key) ||
        !WriteProfileText(section, key, value, iniFile)) {
      ShowTranslatedSectionError(TK_COULD_NOT_WRITE_TO_INI_FILE, iniFile);
      free(line);
      return 0;
    }
    SetupState::UninstallLog.LogIniFileEntryAdded(iniFile, section, key);
    free(line);
  }
  return 1;
}
