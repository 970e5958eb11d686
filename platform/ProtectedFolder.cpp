#include "platform/ProtectedFolder.h"

#include <windows.h>
#include <shlobj.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/PathText.h"
#include "platform/PrivateTemp.h"

namespace {

// Whole paths, case-insensitive the way the ANSI code page sees them.
int SamePath(const char* a, const char* b) {
  return strlen(a) == strlen(b) &&
         CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE | SORT_STRINGSORT, a, -1, b, -1) == CSTR_EQUAL;
}

}  // namespace

int IsProtectedFolder(const char* folder) {
  char path[PATH_BYTES];
  MbcsCopy(path, PATH_BYTES, folder);
  PathTrimSeparators(path);
  const size_t n = strlen(path);
  if (n <= 2) return 1;  // "", "C:" (and what was "C:\" or "\")
  if ((path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/')) {
    // \\server\share is a root: no separator after the share
    const char* share = MbcsFindChar(path + 2, '\\');
    if (!share || !MbcsFindChar(share + 1, '\\')) return 1;
  }
  // every CSIDL fits a byte
  static const unsigned char kFolders[] = {
      CSIDL_WINDOWS,          CSIDL_SYSTEM,           CSIDL_SYSTEMX86,         CSIDL_PROGRAM_FILES,
      CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_PROFILE,
      CSIDL_APPDATA,          CSIDL_LOCAL_APPDATA,    CSIDL_COMMON_APPDATA,    CSIDL_PERSONAL,
      CSIDL_COMMON_DOCUMENTS, CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PROGRAMS,
      CSIDL_COMMON_PROGRAMS,  CSIDL_STARTMENU,        CSIDL_COMMON_STARTMENU,  CSIDL_STARTUP,
      CSIDL_COMMON_STARTUP,   CSIDL_FONTS,            CSIDL_TEMPLATES,         CSIDL_COMMON_TEMPLATES,
      CSIDL_MYPICTURES,       CSIDL_MYMUSIC,          CSIDL_MYVIDEO,           CSIDL_FAVORITES,
      CSIDL_SENDTO,           CSIDL_RECENT,           CSIDL_ADMINTOOLS,        CSIDL_COMMON_ADMINTOOLS};
  char known[PATH_BYTES];
  for (int csidl : kFolders) {
    known[0] = '\0';
    if (!SHGetSpecialFolderPathA(NULL, known, csidl, FALSE) || !known[0]) continue;
    PathTrimSeparators(known);
    if (SamePath(known, path)) return 1;
    // the user's own programs folder, which every per-user installation shares
    if (csidl == CSIDL_LOCAL_APPDATA && strlen(known) + sizeof "\\Programs" <= PATH_BYTES) {
      strcat(known, "\\Programs");
      if (SamePath(known, path)) return 1;
    }
    // the folder that holds every user's profile
    if (csidl == CSIDL_PROFILE) {
      char* last = const_cast<char*>(MbcsFindLastChar(known, '\\'));
      if (last) *last = '\0';
      if (SamePath(known, path)) return 1;
    }
  }
  if (SystemTempFolder(known)) {
    PathTrimSeparators(known);
    if (SamePath(known, path)) return 1;
  }
  return 0;
}
