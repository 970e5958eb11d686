// Path routines shared by the reader, the wizard, the replay and the join:
// existence tests and the creation of a path's folders. Paths of 259
// characters or more are refused with 0.
#pragma once

#include <windows.h>

class CUninstallLogger;

// An existing file, opened for access with share; INVALID_HANDLE_VALUE when not.
HANDLE OpenExisting(const char* path, DWORD access, DWORD share);
int FileExists(const char* path);
int DirectoryExists(const char* path);
int CreateDirectoryPath(const char* path);

// What a step that makes something and logs it came to. STEP_UNLOGGED: it
// was made, then undone, because its uninstall log line could not be
// written (an installation may not keep what its uninstaller never removes).
enum StepResult {
  STEP_FAILED = 0,
  STEP_DONE = 1,
  STEP_UNLOGGED = 2,
};

// As CreateDirectoryPath; every folder it creates is logged, outermost first.
StepResult CreateDirectoryPathLogged(const char* path, CUninstallLogger* logger);
// 1 when every folder of the path exists or could be made; leaves the disk as it was.
int CanCreateDirectoryPath(const char* path);

// One entry of a folder walk, its name in the program's code page however
// many bytes it takes: the narrow find calls hold only 259 bytes of a name.
struct FolderEntry {
  unsigned long attributes;
  char name[3 * 260];  // PATH_BYTES
};
// The first entry that pattern ("folder\\*") matches, or null; then the next,
// 0 at the end. EndFolderWalk closes a walk that began.
void* BeginFolderWalk(const char* pattern, FolderEntry* entry);
int NextFolderEntry(void* walk, FolderEntry* entry);
void EndFolderWalk(void* walk);
