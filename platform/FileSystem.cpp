#include "platform/FileSystem.h"

#include <windows.h>
#include <string.h>

#include "common/Mbcs.h"
#include "uninstall/UninstallLogger.h"

static_assert(sizeof(FolderEntry::name) == PATH_BYTES, "a name of every length a path allows");

// Working copies hold 258 characters in any code page, with room for a
// trailing backslash.
enum { kMaxPathLength = 258 };

static int Fits(const char* path) {
  if (!path || !*path) return 0;
  const size_t n = strlen(path);
  return n <= PATH_BYTES - 2 && MbcsLength(path, n) <= kMaxPathLength;
}

// Next backslash at or after p, skipping the trail bytes of double-byte
// characters; NULL when there is none.
static char* NextBackslash(char* p) {
  return const_cast<char*>(MbcsFindChar(p, '\\'));
}

// path into buf[PATH_BYTES] with every "/" made a "\": extraction takes both
// as separators in a destination, so the folders made for it must too.
static void CopyWithBackslashes(char* buf, const char* path) {
  strcpy(buf, path);
  for (char* p = buf; *p; p = const_cast<char*>(MbcsNext(p)))
    if (*p == '/') *p = '\\';
}

static char* LastBackslash(char* p) {
  char* last = NULL;
  for (char* q = NextBackslash(p); q; q = NextBackslash(q + 1)) last = q;
  return last;
}

static int EndsWithBackslash(char* p) {
  char* last = LastBackslash(p);
  return last && last[1] == '\0';
}

static void AppendBackslash(char* p) {
  if (!EndsWithBackslash(p)) strcat(p, "\\");
}

static int RootExists(char* root) {
  AppendBackslash(root);
  return GetDriveTypeA(root) != DRIVE_NO_ROOT_DIR;
}

// The backslash that ends the root: "C:\" -> its backslash, "\\server\share\"
// -> the one after the share. NULL when the path has no complete root.
static char* RootEnd(char* path) {
  if (path[0] == '\\' && path[1] == '\\') {
    char* server = NextBackslash(path + 2);
    if (!server || !server[1]) return NULL;
    return NextBackslash(server + 1);
  }
  return NextBackslash(path);
}

static int TakeEntry(const WIN32_FIND_DATAW& fd, FolderEntry* entry) {
  entry->attributes = fd.dwFileAttributes;
  return WideCharToMultiByte(CP_ACP, 0, fd.cFileName, -1, entry->name, sizeof entry->name, NULL,
                             NULL) > 0;
}

void* BeginFolderWalk(const char* pattern, FolderEntry* entry) {
  WCHAR wide[PATH_BYTES];
  if (!MultiByteToWideChar(CP_ACP, 0, pattern, -1, wide, PATH_BYTES)) return NULL;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(wide, &fd);
  if (h == INVALID_HANDLE_VALUE) return NULL;
  // a name longer than the entry holds is passed over, as later ones are
  while (!TakeEntry(fd, entry)) {
    if (!FindNextFileW(h, &fd)) {
      FindClose(h);
      return NULL;
    }
  }
  return h;
}

int NextFolderEntry(void* walk, FolderEntry* entry) {
  WIN32_FIND_DATAW fd;
  while (FindNextFileW((HANDLE)walk, &fd))
    if (TakeEntry(fd, entry)) return 1;
  return 0;
}

void EndFolderWalk(void* walk) {
  FindClose((HANDLE)walk);
}

// Attributes, not the find calls: those take wildcards, and their name holds
// only 259 bytes where one name may take 765 in UTF-8.
HANDLE OpenExisting(const char* path, DWORD access, DWORD share) {
  return CreateFileA(path, access, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

int FileExists(const char* path) {
  if (!Fits(path)) return 0;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
}

int DirectoryExists(const char* path) {
  if (!Fits(path) || strcmp(path, "\\") == 0) return 0;
  char buf[PATH_BYTES];
  CopyWithBackslashes(buf, path);
  char* rootEnd = RootEnd(buf);
  int network = buf[0] == '\\' && buf[1] == '\\';
  if (network && (!rootEnd || !rootEnd[1])) {
    char* server = NextBackslash(buf + 2);
    if (!server || !server[1]) return 0;  // "\\server" alone is no folder
    return RootExists(buf);
  }
  if (!network && (!rootEnd || !rootEnd[1])) return RootExists(buf);
  if (EndsWithBackslash(buf)) buf[strlen(buf) - 1] = '\0';
  const DWORD attributes = GetFileAttributesA(buf);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

// Creates the folders after the root, outermost first; logs each one made.
static StepResult CreateFolders(char* buf, char* position, CUninstallLogger* logger) {
  for (char* next = NextBackslash(position + 1); next; next = NextBackslash(next + 1)) {
    *next = '\0';
    if (!DirectoryExists(buf)) {
      if (!CreateDirectoryA(buf, NULL)) return STEP_FAILED;
      // a folder its uninstaller would not know of goes again
      if (logger && !logger->LogDirectoryCreated(buf)) {
        RemoveDirectoryA(buf);
        return STEP_UNLOGGED;
      }
    }
    *next = '\\';
  }
  return STEP_DONE;
}

StepResult CreateDirectoryPathLogged(const char* path, CUninstallLogger* logger) {
  if (!Fits(path)) return STEP_FAILED;
  char buf[PATH_BYTES];
  CopyWithBackslashes(buf, path);
  AppendBackslash(buf);
  char* position = RootEnd(buf);
  if (!position) return STEP_FAILED;
  return CreateFolders(buf, position, logger);
}

int CreateDirectoryPath(const char* path) {
  if (!Fits(path)) return 0;
  // a drive root is only tested
  if (path[1] == ':' && (path[2] == '\0' || (path[2] == '\\' && path[3] == '\0'))) {
    char root[4] = {path[0], ':', '\0', '\0'};
    return RootExists(root);
  }
  return CreateDirectoryPathLogged(path, NULL) == STEP_DONE;
}

int CanCreateDirectoryPath(const char* path) {
  if (!Fits(path)) return 0;
  if (path[0] == '\\' && path[1] != '\\') return 0;  // rooted without a drive
  char buf[PATH_BYTES];
  CopyWithBackslashes(buf, path);
  AppendBackslash(buf);
  char* position = RootEnd(buf);
  if (!position) return 0;
  char* next = NextBackslash(position + 1);
  if (!next) return DirectoryExists(buf);
  // the root itself must be there before anything is tried below it
  char saved = position[1];
  position[1] = '\0';
  int rootThere = DirectoryExists(buf);
  position[1] = saved;
  if (!rootThere) return 0;

  int result = 1, created = 0;
  for (; next; next = NextBackslash(next + 1)) {
    *next = '\0';
    if (!DirectoryExists(buf)) {
      if (!CreateDirectoryA(buf, NULL)) {
        result = 0;
        char* back = LastBackslash(buf);
        if (back) *back = '\0';
        break;
      }
      ++created;
    }
    *next = '\\';
  }
  if (result && EndsWithBackslash(buf)) buf[strlen(buf) - 1] = '\0';
  // remove what the probe made, deepest first
  while (created > 0 && RemoveDirectoryA(buf)) {
    char* back = LastBackslash(buf);
    if (!back) break;
    *back = '\0';
    --created;
  }
  return result;
}
