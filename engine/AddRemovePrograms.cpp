#include "engine/AddRemovePrograms.h"

#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/PathText.h"
#include "common/SafeFormat.h"
#include "common/TextKeys.h"
#include "common/Version.h"
#include "driver/CommandLine.h"
#include "driver/SetupState.h"
#include "engine/InstalledFolder.h"
#include "engine/SectionSupport.h"
#include "platform/FileSystem.h"
#include "platform/FrontEnd.h"
#include "platform/RegistryHelpers.h"
#include "platform/RunLog.h"
#include "script/Choices.h"
#include "script/ActionSections.h"
#include "script/Placeholders.h"
#include "uninstall/LogLines.h"
#include "uninstall/RollbackJournal.h"

namespace {

// the two roots an entry may be under, as the script names them
const char (&kUserRoot)[20] = kRegistryRoots[1];
const char (&kMachineRoot)[20] = kRegistryRoots[2];

// [Global] key as it stands, "" when missing.
void GlobalValue(const char* key, char* value, int size) {
  value[0] = '\0';
  SetupState::Project.GetValue("Global", key, "", value, size);
}

// The entry's key while it is written: each value's old one goes into the
// journal first, so that a rolled-back upgrade leaves the entry as it was.
struct EntryKey {
  const char* RootName;
  const char* Path;
};
const EntryKey* g_Entry;

int KeepValue(const char* name) {
  return !g_Entry || SetupState::UninstallLog.KeepRegistryValue(g_Entry->RootName, g_Entry->Path, name);
}

int SetString(HKEY key, const char* name, const char* text) {
  return KeepValue(name) && RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(strlen(text) + 1)) == ERROR_SUCCESS;
}

int SetDword(HKEY key, const char* name, DWORD number) {
  return KeepValue(name) && RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number) ==
         ERROR_SUCCESS;
}

unsigned long long FileSize(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &a) || (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return 0;
  return (static_cast<unsigned long long>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

int SameFolder(const char* a, const char* b);

// The components and tasks this run offered and those chosen, kept in the
// entry so that an upgrade or a repair proposes them again. 1 when done or
// the script has none.
const char kOfferedChoices[] = "OfferedChoices";
const char kChosenChoices[] = "ChosenChoices";

int KeepChoices(HKEY key) {
  if (SetupState::ChoiceCount <= 0) return 1;
  const size_t size = static_cast<size_t>(SetupState::ChoiceCount) * (kChoiceNameMax + 1) + 1;
  char* offered = static_cast<char*>(malloc(size));
  char* chosen = static_cast<char*>(malloc(size));
  const int ok = offered && chosen &&
                 FormatChoiceNames(SetupState::Choices, SetupState::ChoiceCount, 0, offered, size) &&
                 FormatChoiceNames(SetupState::Choices, SetupState::ChoiceCount, 1, chosen, size) &&
                 SetString(key, kOfferedChoices, offered) && SetString(key, kChosenChoices, chosen);
  free(offered);
  free(chosen);
  return ok;
}

// What the installed version kept, over the script's defaults.
void ProposeKeptChoices(HKEY root, const char* path) {
  if (SetupState::ChoiceCount <= 0) return;
  char* offered = static_cast<char*>(malloc(8192));
  char* chosen = static_cast<char*>(malloc(8192));
  // none chosen is an empty list; none offered, an entry of before
  if (offered && chosen && ReadRegistryString(root, path, kOfferedChoices, "", offered, 8192)) {
    ReadRegistryString(root, path, kChosenChoices, "", chosen, 8192);
    ApplyRecordedChoices(SetupState::Choices, SetupState::ChoiceCount, offered, chosen);
    RunLogLineWith("Choices of the installed version", "%s", chosen);
  }
  free(offered);
  free(chosen);
}

}  // namespace

int AddRemoveProgramsKey(char* root, size_t rootSize, char* path, size_t pathSize) {
  char id[MAX_PATH];
  GlobalValue("AppId", id, sizeof id);
  if (!id[0]) return 0;
  char where[32];
  GlobalValue("AppIdRoot", where, sizeof where);
  // one user's installation is that user's whatever AppIdRoot says: the
  // machine's entries are not theirs to write, nor to find a version by
  const int user = SetupState::Scope == SetupState::SCOPE_USER || strcmp(where, kUserRoot) == 0;
  MbcsCopy(root, rootSize, user ? kUserRoot : kMachineRoot);
  if (strlen(kUninstallEntryKeys) + strlen(id) >= pathSize) return 0;
  strcpy(path, kUninstallEntryKeys);
  strcat(path, id);
  return 1;
}

int WriteAddRemoveProgramsEntry() {
  char rootName[32], path[2 * MAX_PATH];
  if (!AddRemoveProgramsKey(rootName, sizeof rootName, path, sizeof path)) return 1;
  char logged[2 * MAX_PATH + 32];
  wsprintfA(logged, "%s/%s", rootName, path);
  // logged first: a failure from here on is rolled back with the key (one
  // of an earlier version stays, its values put back)
  // an earlier version in another folder stays installed there; its
  // uninstaller leaves the entry, which names this folder from now on
  char earlier[PATH_BYTES];
  ReadRegistryString(RegistryRootFromName(rootName), path, "InstallLocation", "", earlier, sizeof earlier);
  earlier[sizeof earlier - 1] = '\0';
  // only a folder an installation is in: an entry planted or left without one says nothing true
  char earlierUninstaller[PATH_BYTES + 16];
  if (earlier[0] && !SameFolder(earlier, SetupState::InstallDir) &&
      PathJoin(earlierUninstaller, sizeof earlierUninstaller, earlier, "Uninstall.exe") &&
      FileExists(earlierUninstaller))
    RunLogLineWith("Earlier installation left",
                   "%s stays as it is; its Uninstall.exe removes it and leaves this installation's entry", earlier);
  const EntryKey entry = {rootName, path};
  HKEY key = NULL;
  if (SetupState::UninstallLog.LogListedRegistryKey(logged) &&
      SetupState::UninstallLog.KeepRegistryKeys(rootName, path))
    key = CreateRegistryPath(RegistryRootFromName(rootName), path, KEY_SET_VALUE);
  if (!key) {
    ShowTranslatedSectionError(TK_COULD_NOT_WRITE_LINE_TO_REGESTRY, logged);
    return 0;
  }
  char uninstaller[PATH_BYTES], quoted[PATH_BYTES + 8], quiet[PATH_BYTES + 16], folder[PATH_BYTES];
  char version[MAX_PATH], publisher[MAX_PATH], date[16];
  PathJoin(uninstaller, sizeof uninstaller, SetupState::InstallDir, "Uninstall.exe");
  wsprintfA(quoted, "\"%s\"", uninstaller);
  wsprintfA(quiet, "%s /S", quoted);
  MbcsCopy(folder, sizeof folder, SetupState::InstallDir);
  GlobalValue("Version", version, sizeof version);
  GlobalValue("Publisher", publisher, sizeof publisher);
  SYSTEMTIME now;
  GetLocalTime(&now);
  wsprintfA(date, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
  g_Entry = &entry;
  char* name = ExpandPlaceholders("%APPNAME%");
  int ok = name && SetString(key, "DisplayName", name);
  free(name);
  if (version[0]) ok = ok && SetString(key, "DisplayVersion", version);
  if (publisher[0]) ok = ok && SetString(key, "Publisher", publisher);
  ok = ok && SetString(key, "InstallLocation", folder) && SetString(key, "DisplayIcon", uninstaller) &&
       SetString(key, "UninstallString", quoted) && SetString(key, "QuietUninstallString", quiet) &&
       SetString(key, "InstallDate", date) && SetDword(key, "NoModify", 1) && SetDword(key, "NoRepair", 1) &&
       KeepChoices(key);
  g_Entry = NULL;
  RegCloseKey(key);
  if (!ok) {
    ShowTranslatedSectionError(TK_COULD_NOT_WRITE_LINE_TO_REGESTRY, logged);
    return 0;
  }
  RunLogLine("Add/Remove Programs entry written", logged);
  return 1;
}

unsigned long long SizeOfLoggedFiles(char* text, size_t size) {
  unsigned long long total = 0;
  CLogLinesBackward lines;
  if (!lines.Start(text, size)) return 0;
  while (const char* path = lines.NextFile()) total += FileSize(path);
  return total;
}

int WriteAddRemoveProgramsSize(const char* uninstallLog) {
  char rootName[32], path[2 * MAX_PATH];
  if (!AddRemoveProgramsKey(rootName, sizeof rootName, path, sizeof path)) return 1;
  unsigned long long total = FileSize(uninstallLog);
  DWORD size = 0;
  char* text = ReadWholeFile(uninstallLog, &size);
  if (text) total += SizeOfLoggedFiles(text, size);
  free(text);
  char other[PATH_BYTES];
  static const char* const kOthers[] = {"Uninstall.exe", "Translations.ini"};
  for (const char* name : kOthers)
    if (PathJoin(other, sizeof other, SetupState::InstallDir, name)) total += FileSize(other);
  HKEY key = OpenRegistryPath(RegistryRootFromName(rootName), path, KEY_SET_VALUE);
  if (!key) return 0;
  // KiB, rounded up, as the control panel shows it
  const EntryKey entry = {rootName, path};
  g_Entry = &entry;
  const int ok = SetDword(key, "EstimatedSize", static_cast<DWORD>((total + 1023) / 1024));
  g_Entry = NULL;
  RegCloseKey(key);
  return ok;
}

namespace {

// A text of the table; the English one, its lines broken as the tables'
// are, where the table has no such key (tables made before it was added).
char* TextOf(const char* key, const char* english) {
  return SetupState::Translations.GetStringOr(key, english);
}

// The text of key with its "%s" filled and its placeholders expanded.
char* Message(const char* key, const char* english, const char* arg1, const char* arg2) {
  char* format = TextOf(key, english);
  char* filled = format ? SafeFormatAlloc(format, arg1, arg2) : NULL;
  free(format);
  char* expanded = filled ? ExpandPlaceholders(filled) : NULL;
  if (!expanded) return filled;
  free(filled);
  return expanded;
}

// One folder, whatever the case and a final separator.
int SameFolder(const char* a, const char* b) {
  char x[PATH_BYTES], y[PATH_BYTES];
  MbcsCopy(x, sizeof x, a);
  MbcsCopy(y, sizeof y, b);
  PathTrimSeparators(x);
  PathTrimSeparators(y);
  return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, x, -1, y, -1) == CSTR_EQUAL;
}

const char kNewerInstalled[] =
    "Version %s of %APPNAME% is installed, which is newer than the version %s that this setup installs.|"
    "Do you want to install the older version over it?";
const char kInstalledFolderOnly[] = "%APPNAME% is installed in %s.|This setup installs only into that folder.";

}  // namespace

int CheckInstalledVersion(const char* destination) {
  char rootName[32], path[2 * MAX_PATH];
  if (!AddRemoveProgramsKey(rootName, sizeof rootName, path, sizeof path)) return SETUP_EXIT_DONE;
  HKEY root = RegistryRootFromName(rootName);
  HKEY key = OpenRegistryPath(root, path, KEY_READ);
  if (!key) return SETUP_EXIT_DONE;  // not installed
  RegCloseKey(key);
  char location[PATH_BYTES], installed[MAX_PATH], version[MAX_PATH], keep[6] = "";
  ReadRegistryString(root, path, "InstallLocation", "", location, sizeof location);
  ReadRegistryString(root, path, "DisplayVersion", "", installed, sizeof installed);
  GlobalValue("Version", version, sizeof version);
  SetupState::Project.GetValue("Global", "KeepInstalledDir", "FALSE", keep, sizeof keep);
  RunLogLineWith("Installed already", "in %s", location[0] ? location : "(no InstallLocation)");
  if (!InstalledFolderCounts(rootName, path, location)) return SETUP_EXIT_DONE;
  ProposeKeptChoices(root, path);

  if (CompareVersions(installed, version) > 0) {
    char* text = Message(TK_NEWER_VERSION_IS_INSTALLED, kNewerInstalled, installed, version);
    char* caption = TextOf(TK_INSTALL_TITLE, "Install");
    const int answer = FrontEnd()->Ask(NULL, text ? text : kNewerInstalled, caption ? caption : "Install",
                                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2, IDNO);
    free(text);
    free(caption);
    if (answer != IDYES) {
      RunLogLineWith("Failure", "version %s is installed, newer than this one", installed);
      // a person said No; nobody there never installs an older version
      return FrontEnd()->Attended() ? SETUP_EXIT_CANCELLED : SETUP_EXIT_DOWNGRADE;
    }
  }
  if (!location[0]) return SETUP_EXIT_DONE;
  if (strcmp(keep, "TRUE") == 0) {
    if (destination && !SameFolder(destination, location)) {
      char* text = Message(TK_INSTALLED_FOLDER_ONLY, kInstalledFolderOnly, location, NULL);
      char* caption = TextOf(TK_ERROR, "Error");
      FrontEnd()->ShowFailure(NULL, text ? text : kInstalledFolderOnly, caption ? caption : "Error",
                              MB_OK | MB_ICONERROR);
      free(text);
      free(caption);
      return SETUP_EXIT_FAILED;
    }
    SetupState::AllowChangeInstallDir = 0;
  }
  if (!destination) MbcsCopy(SetupState::InstallDir, sizeof SetupState::InstallDir, location);
  return SETUP_EXIT_DONE;
}
