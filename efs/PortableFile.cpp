#include "efs/PortableFile.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#define QS_MKDIR(p) _mkdir(p)
#else
#define QS_MKDIR(p) mkdir(p, 0777)
#endif

// 100-ns intervals between 1601-01-01 and 1970-01-01.
static const uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

#ifdef _WIN32
// The file system's own 100-ns times and 64-bit sizes: stat gives whole
// seconds, and a Windows build must store the same times as a Linux build of
// the same files.
int PortableFileExists(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return path && *path && GetFileAttributesExA(path, GetFileExInfoStandard, &data) &&
         !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

int PortableFileInfo(const char* path, uint64_t* size, uint64_t* fileTime) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return 0;
  *size = ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
  *fileTime = ((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32) |
              data.ftLastWriteTime.dwLowDateTime;
  return 1;
}
#else
int PortableFileExists(const char* path) {
  struct stat st;
  return path && *path && stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

int PortableFileInfo(const char* path, uint64_t* size, uint64_t* fileTime) {
  struct stat st;
  if (stat(path, &st) != 0) return 0;
  *size = (uint64_t)st.st_size;
  uint64_t subsecond = (uint64_t)st.st_mtim.tv_nsec / 100;
  *fileTime = kUnixEpochAsFileTime + (uint64_t)(int64_t)st.st_mtime * 10000000ULL + subsecond;
  return 1;
}
#endif

int PortableCreateParentFolders(const char* path) {
  char buf[4096];
  size_t n = strlen(path);
  if (n >= sizeof buf) return 0;
  memcpy(buf, path, n + 1);
  // cut at the last separator: what is left is the folder
  char* end = NULL;
  for (char* p = buf; *p; ++p)
    if (*p == '/' || *p == '\\') end = p;
  if (!end) return 1;
  *end = '\0';
  for (char* p = buf + 1; ; ++p) {
    if (*p == '/' || *p == '\\' || *p == '\0') {
      char c = *p;
      *p = '\0';
      struct stat st;
      // "C:" alone is a drive, not a folder to make
      int isDrive = (p - buf == 2 && buf[1] == ':');
      if (!isDrive && stat(buf, &st) != 0 && QS_MKDIR(buf) != 0 && errno != EEXIST) return 0;
      *p = c;
      if (c == '\0') break;
    }
  }
  return 1;
}

int PortableLastErrorWasDiskFull() {
  return errno == ENOSPC;
}
