#include "engine/InstalledFolder.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/PathText.h"
#include "common/SafeFormat.h"
#include "driver/SetupFileKind.h"
#include "platform/FileSystem.h"
#include "platform/ProtectedFolder.h"
#include "platform/RunLog.h"
#include "script/ActionSections.h"
#include "uninstall/LogLines.h"
#include "uninstall/RollbackJournal.h"

namespace {

// An uninstall log far beyond any installation's is no log of ours.
const DWORD kLargestLog = 64u << 20;

// 1 when the log at path has the line that lists the entry for removal:
// the line every installation that wrote the entry logged first.
int LogListsEntry(const char* path, const char* rootName, const char* keyPath) {
  const char* parts[3] = {LogRecordTag(LOGRECORD_REGISTRY), rootName, keyPath};
  char* line = SafeFormatAllocList("%s%s/%s", parts, 3);
  if (!line) return 0;
  const size_t n = strlen(line);
  HANDLE file = OpenExisting(path, GENERIC_READ, FILE_SHARE_READ);
  DWORD size = 0;
  // the low part alone: ReadWholeFile refuses a high one
  char* text = file != INVALID_HANDLE_VALUE && GetFileSize(file, NULL) <= kLargestLog ? ReadWholeFile(file, &size)
                                                                                       : NULL;
  int found = 0;
  if (text) {
    for (const char* at = text; !found && (at = strstr(at, line)) != NULL; at += n)
      found = (at == text || at[-1] == '\n') && (at[n] == '\n' || at[n] == '\r' || at[n] == '\0');
  }
  free(text);
  free(line);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return found;
}

}  // namespace

int InstalledFolderCounts(const char* rootName, const char* keyPath, const char* location) {
  // only administrators write the machine's entries
  if (strcmp(rootName, kRegistryRoots[1]) != 0) return 1;  // HKEY_CURRENT_USER
  char file[PATH_BYTES];
  const char* why = NULL;
  if (!location[0])
    why = "names no folder";
  else if (IsProtectedFolder(location))
    why = "is a drive or a folder of Windows, of the programs or of a profile";
  else if (!PathJoin(file, sizeof file, location, "Uninstall.exe") || ReadSetupFileKind(file) != FILEKIND_UNINSTALLER)
    why = "holds no uninstaller";
  else if (!PathJoin(file, sizeof file, location, "Uninstall.log") || !LogListsEntry(file, rootName, keyPath))
    why = "holds no uninstall log of this entry";
  if (!why) return 1;
  char* text = SafeFormatAlloc("the user's entry names the folder \"%s\", which %s: neither that folder nor the "
                               "version it names is taken",
                               location, why);
  RunLogLine("Installed version not taken", text ? text : why);
  free(text);
  return 0;
}
