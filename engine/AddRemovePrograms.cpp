#include "engine/AddRemovePrograms.h"

#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/PathText.h"
#include "driver/SetupState.h"
#include "engine/SectionSupport.h"
#include "platform/RegistryHelpers.h"
#include "platform/RunLog.h"
#include "script/Placeholders.h"
#include "uninstall/LogLines.h"

namespace {

const char kUninstallKeys[] = "Software/Microsoft/Windows/CurrentVersion/Uninstall/";

// [Global] key as it stands, "" when missing.
void GlobalValue(const char* key, char* value, int size) {
  value[0] = '\0';
  SetupState::Project.GetValue("Global", key, "", value, size);
}

int SetString(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(strlen(text) + 1)) == ERROR_SUCCESS;
}

int SetDword(HKEY key, const char* name, DWORD number) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number) ==
         ERROR_SUCCESS;
}

unsigned long long FileSize(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &a) || (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return 0;
  return (static_cast<unsigned long long>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

void TellNotWritten(const char* root, const char* path) {
  char line[2 * MAX_PATH + 32];
  MbcsCopy(line, sizeof line, root);
  strncat(line, "/", sizeof line - strlen(line) - 1);
  strncat(line, path, sizeof line - strlen(line) - 1);
  ShowTranslatedSectionError("COULD_NOT_WRITE_LINE_TO_REGESTRY", line);
}

}  // namespace

int AddRemoveProgramsKey(char* root, size_t rootSize, char* path, size_t pathSize) {
  char id[MAX_PATH];
  GlobalValue("AppId", id, sizeof id);
  if (!id[0]) return 0;
  char where[32];
  GlobalValue("AppIdRoot", where, sizeof where);
  MbcsCopy(root, rootSize, strcmp(where, "HKEY_CURRENT_USER") == 0 ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE");
  if (strlen(kUninstallKeys) + strlen(id) >= pathSize) return 0;
  strcpy(path, kUninstallKeys);
  strcat(path, id);
  return 1;
}

int WriteAddRemoveProgramsEntry() {
  char rootName[32], path[2 * MAX_PATH];
  if (!AddRemoveProgramsKey(rootName, sizeof rootName, path, sizeof path)) return 1;
  char logged[2 * MAX_PATH + 32];
  strcpy(logged, rootName);
  strcat(logged, "/");
  strcat(logged, path);
  // logged first: a failure from here on is rolled back with the key
  SetupState::UninstallLog.LogSysRegSectionAdded(logged);
  HKEY key = CreateRegistryPath(RegistryRootFromName(rootName), path, KEY_SET_VALUE);
  if (!key) {
    TellNotWritten(rootName, path);
    return 0;
  }
  char uninstaller[MAX_PATH], quoted[MAX_PATH + 8], quiet[MAX_PATH + 16], folder[MAX_PATH];
  char version[MAX_PATH], publisher[MAX_PATH], date[16];
  PathJoin(uninstaller, sizeof uninstaller, SetupState::InstallDir, "Uninstall.exe");
  strcpy(quoted, "\"");
  strcat(quoted, uninstaller);
  strcat(quoted, "\"");
  strcpy(quiet, quoted);
  strcat(quiet, " /S");
  MbcsCopy(folder, sizeof folder, SetupState::InstallDir);
  GlobalValue("Version", version, sizeof version);
  GlobalValue("Publisher", publisher, sizeof publisher);
  SYSTEMTIME now;
  GetLocalTime(&now);
  wsprintfA(date, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
  char* name = ExpandPlaceholders("%APPNAME%");
  int ok = name && SetString(key, "DisplayName", name);
  free(name);
  if (version[0]) ok = ok && SetString(key, "DisplayVersion", version);
  if (publisher[0]) ok = ok && SetString(key, "Publisher", publisher);
  ok = ok && SetString(key, "InstallLocation", folder) && SetString(key, "DisplayIcon", uninstaller) &&
       SetString(key, "UninstallString", quoted) && SetString(key, "QuietUninstallString", quiet) &&
       SetString(key, "InstallDate", date) && SetDword(key, "NoModify", 1) && SetDword(key, "NoRepair", 1);
  RegCloseKey(key);
  if (!ok) {
    TellNotWritten(rootName, path);
    return 0;
  }
  RunLogLine("Add/Remove Programs entry written", logged);
  return 1;
}

unsigned long long SizeOfLoggedFiles(char* text, size_t size) {
  unsigned long long total = 0;
  CLogLinesBackward lines;
  if (!lines.Start(text, size)) return 0;
  char* line;
  int zero;
  while (lines.Next(&line, &zero)) {
    LogRecord record;
    if (!zero && ParseLogRecord(line, &record) == LOGRECORD_FILE) total += FileSize(record.Path);
  }
  return total;
}

int WriteAddRemoveProgramsSize(const char* uninstallLog) {
  char rootName[32], path[2 * MAX_PATH];
  if (!AddRemoveProgramsKey(rootName, sizeof rootName, path, sizeof path)) return 1;
  unsigned long long total = FileSize(uninstallLog);
  HANDLE file = CreateFileA(uninstallLog, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    const DWORD size = GetFileSize(file, NULL);
    char* text = size != INVALID_FILE_SIZE ? static_cast<char*>(malloc(size + 1)) : NULL;
    DWORD got = 0;
    if (text && ReadFile(file, text, size, &got, NULL) && got == size) {
      text[size] = '\0';
      total += SizeOfLoggedFiles(text, size);
    }
    free(text);
    CloseHandle(file);
  }
  char other[MAX_PATH];
  static const char* const kOthers[] = {"Uninstall.exe", "Translations.ini"};
  for (const char* name : kOthers)
    if (PathJoin(other, sizeof other, SetupState::InstallDir, name)) total += FileSize(other);
  HKEY key = OpenRegistryPath(RegistryRootFromName(rootName), path, KEY_SET_VALUE);
  if (!key) return 0;
  // KiB, rounded up, as the control panel shows it
  const int ok = SetDword(key, "EstimatedSize", static_cast<DWORD>((total + 1023) / 1024));
  RegCloseKey(key);
  return ok;
}
