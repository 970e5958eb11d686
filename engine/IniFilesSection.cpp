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
#include "uninstall/RollbackJournal.h"

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

// The machine's ANSI code page: the one other programs read an INI file in,
// which is not this program's where that is UTF-8.
static UINT MachineAnsiCodePage() {
  DWORD codePage = 0;
  if (GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                     reinterpret_cast<LPWSTR>(&codePage), sizeof codePage / sizeof(WCHAR)) &&
      codePage)
    return codePage;
  return GetACP();
}

// A new INI file is made in UTF-16, so that every entry lands whole; once
// its entries are written it becomes ANSI, as the system's profile writer
// makes one, when every character of it comes back from the ANSI code page
// unchanged. 0 when the file cannot be read or rewritten.
static int MakeIniFileAnsi(const char* path) {
  HANDLE file = OpenExisting(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD size = 0;
  WCHAR* text = reinterpret_cast<WCHAR*>(ReadWholeFile(file, &size));
  int ok = text != NULL;
  const int chars = ok && size >= 2 && size % 2 == 0 && text[0] == 0xFEFF ? (int)(size / 2) - 1 : -1;
  char* ansi = NULL;
  WCHAR* back = NULL;
  int n = 0;
  if (chars > 0) {
    const UINT codePage = MachineAnsiCodePage();
    n = WideCharToMultiByte(codePage, 0, text + 1, chars, NULL, 0, NULL, NULL);
    ansi = n > 0 ? static_cast<char*>(malloc(n)) : NULL;
    back = ansi ? static_cast<WCHAR*>(malloc(chars * sizeof(WCHAR))) : NULL;
    // a character the code page lacks (or only approximates) keeps UTF-16
    const int fits = back && WideCharToMultiByte(codePage, 0, text + 1, chars, ansi, n, NULL, NULL) == n &&
                     MultiByteToWideChar(codePage, 0, ansi, n, back, chars) == chars &&
                     memcmp(back, text + 1, chars * sizeof(WCHAR)) == 0;
    // never longer than the UTF-16 text: written over it, no room needed
    if (fits) ok = SetFilePointer(file, 0, NULL, FILE_BEGIN) == 0 && WriteAll(file, ansi, n) && SetEndOfFile(file);
  }
  free(back);
  free(ansi);
  free(text);
  if (!CloseHandle(file)) ok = 0;
  return ok;
}

// The INI files this section made, for MakeIniFileAnsi at its end.
struct CreatedIniFiles {
  char** Paths = nullptr;
  int Count = 0;
  ~CreatedIniFiles() {
    for (int i = 0; i < Count; ++i) free(Paths[i]);
    free(Paths);
  }
  int Add(const char* path) {
    char** grown = static_cast<char**>(realloc(Paths, (Count + 1) * sizeof(char*)));
    if (!grown) return 0;
    Paths = grown;
    Paths[Count] = strdup(path);
    return Paths[Count++] != NULL;
  }
};

RunResult ProcessIniFilesSection(const char* header) {
  CreatedIniFiles created;
  CSectionLines lines(SECTION_INIFILES, header);
  for (SectionLinesStatus got; (got = lines.Next()) != LINES_END;) {
    // a line short of commas says so with the placeholder text, as ever
    if (got != LINES_READY)
      return FailUnreadLine("create/modify INI files", got == LINES_NO_MEMORY ? got : LINES_PLACEHOLDERS);
    const char* iniFile = lines.Fields.Field[0];
    const char* section = lines.Fields.Field[1];
    const char* key = lines.Fields.Field[2];
    const char* value = lines.Fields.Field[3];
    const int ifAbsent = lines.Flagged();

    // the user's own value stays; an uninstall removes what an earlier
    // version logged, as ever
    if (ifAbsent && FileExists(iniFile) && IniEntryExists(iniFile, section, key)) {
      RunLogLine("INI entry kept as it was", key);
      continue;
    }
    if (!FileExists(iniFile)) {
      char folder[PATH_BYTES];
      FolderOf(iniFile, folder, sizeof folder);
      const StepResult made = CreateDirectoryPathLogged(folder, &SetupState::UninstallLog);
      if (made != STEP_DONE) {
        ShowStepError(made, TK_COULD_NOT_CREATE_INI_FILE_DIR_PATH, folder);
        return RUN_FAILED;
      }
      HANDLE file = CreateFileA(iniFile, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, NULL);
      if (file == INVALID_HANDLE_VALUE) {
        ShowTranslatedSectionError(TK_COULD_NOT_CREATE_INI_FILE, iniFile);
        return RUN_FAILED;
      }
      // UTF-16 while the entries go in (see MakeIniFileAnsi)
      const int marked = WriteAll(file, "\xFF\xFE", 2);
      if (!CloseHandle(file) || !marked || !created.Add(iniFile)) {
        DeleteFileA(iniFile);
        ShowTranslatedSectionError(TK_COULD_NOT_CREATE_INI_FILE, iniFile);
        return RUN_FAILED;
      }
      // a file its uninstaller would not know of goes again
      if (!SetupState::UninstallLog.LogFileCreated(iniFile)) {
        DeleteFileA(iniFile);
        CUninstallLogger::ShowWriteError();
        return RUN_FAILED;
      }
    }
    // the entry's old value, for a rollback to put back
    if (!SetupState::UninstallLog.KeepIniValue(iniFile, section, key) ||
        !WriteProfileText(section, key, value, iniFile)) {
      ShowTranslatedSectionError(TK_COULD_NOT_WRITE_TO_INI_FILE, iniFile);
      return RUN_FAILED;
    }
    // unlogged, the entry would outlive its uninstaller: the rollback puts
    // back what the journal kept of it
    if (!SetupState::UninstallLog.LogIniFileEntryAdded(iniFile, section, key)) {
      CUninstallLogger::ShowWriteError();
      return RUN_FAILED;
    }
  }
  for (int i = 0; i < created.Count; ++i) {
    if (!MakeIniFileAnsi(created.Paths[i])) {
      ShowTranslatedSectionError(TK_COULD_NOT_WRITE_TO_INI_FILE, created.Paths[i]);
      return RUN_FAILED;
    }
  }
  return RUN_DONE;
}
