// Vista's process attributes; where the setup needs them, Windows has them
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include "platform/LaunchAsUser.h"

#include <sddl.h>
#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "platform/Elevation.h"

namespace {

const DWORD kLaunchAsked = 0x4E55414C;  // "LAUN": one value nobody writes by chance

struct LaunchNote {
  DWORD Asked;
  char Folder[PATH_BYTES];
};

void NoteName(const char* id, char* name) {
  wsprintfA(name, "Local\\QuillsetLaunch-%.23s", id);
}

// Starts "program" arguments in the program's folder, as a child of parent
// (with its rights) when one is given; does not wait.
int Start(const char* program, const char* arguments, HANDLE parent, DWORD* process, DWORD* error) {
  *process = 0;
  *error = ERROR_NOT_ENOUGH_MEMORY;
  const size_t n = strlen(program) + strlen(arguments) + 4;
  char* line = static_cast<char*>(malloc(n));
  char* folder = static_cast<char*>(malloc(n));
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(NULL, 1, 0, &size);
  LPPROC_THREAD_ATTRIBUTE_LIST attributes = parent ? static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(malloc(size)) : NULL;
  int done = 0;
  if (line && folder && (!parent || attributes)) {
    wsprintfA(line, arguments[0] ? "\"%s\" %s" : "\"%s\"", program, arguments);
    // the folder: up to its last backslash, which a full path has; a root keeps its own
    strcpy(folder, program);
    char* slash = const_cast<char*>(MbcsFindLastChar(folder, '\\'));
    if (slash) slash[slash == folder + 2 && folder[1] == ':' ? 1 : 0] = '\0';
    STARTUPINFOEXA startup;
    memset(&startup, 0, sizeof startup);
    startup.StartupInfo.cb = parent ? sizeof startup : sizeof startup.StartupInfo;
    DWORD flags = 0;
    if (parent) {
      flags = EXTENDED_STARTUPINFO_PRESENT;
      startup.lpAttributeList = attributes;
      if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size) ||
          !UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_PARENT_PROCESS, &parent, sizeof parent, NULL,
                                     NULL))
        slash = NULL;
    }
    PROCESS_INFORMATION started;
    // the name given, never one looked for along the search path
    done = slash && CreateProcessA(NULL, line, NULL, NULL, FALSE, flags, NULL, folder, &startup.StartupInfo, &started)
               ? 1
               : 0;
    *error = done ? 0 : GetLastError();
    if (done) {
      *process = started.dwProcessId;
      CloseHandle(started.hThread);
      CloseHandle(started.hProcess);
    }
    if (parent) DeleteProcThreadAttributeList(attributes);
  }
  free(attributes);
  free(line);
  free(folder);
  return done;
}

}  // namespace

int StartProgram(const char* program, const char* arguments, DWORD* process, DWORD* error) {
  return Start(program, arguments, NULL, process, error);
}

int StartProgramAsShellUser(const char* program, const char* arguments, DWORD* process, const char** why,
                            DWORD* error) {
  *process = 0;
  *error = 0;
  DWORD shellId = 0;
  HWND shell = GetShellWindow();
  if (!shell || !GetWindowThreadProcessId(shell, &shellId) || !shellId) {
    *why = "no desktop shell runs in this session";
    return -1;
  }
  // a child of the shell takes the shell's token: the desktop user's rights
  HANDLE shellProcess = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_CREATE_PROCESS, FALSE, shellId);
  const int elevated = shellProcess ? IsProcessElevated(shellProcess) : -1;
  int done = -1;
  if (elevated < 0) {
    *error = GetLastError();
    *why = "the desktop shell's rights cannot be read";
  } else if (elevated) {
    *why = "the desktop shell runs with administrator rights as well";
  } else {
    *why = "it could not be started";
    done = Start(program, arguments, shellProcess, process, error);
  }
  if (shellProcess) CloseHandle(shellProcess);
  return done;
}

static HANDLE MakeLaunchNote(const char* id) {
  char name[64];
  NoteName(id, name);
  // this user and the administrators: the elevated run may be another
  // account (an administrator's own, under administrator protection)
  union {
    TOKEN_USER Token;
    BYTE Bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } user;
  char* sid = NULL;
  if (!ReadProcessToken(GetCurrentProcess(), TokenUser, &user, sizeof user) ||
      !ConvertSidToStringSidA(user.Token.User.Sid, &sid))
    return NULL;
  // each may map it to read and to write (FILE_MAP_READ | FILE_MAP_WRITE)
  char rules[SECURITY_MAX_SID_SIZE * 4 + 64];
  wsprintfA(rules, "D:(A;;0x6;;;%s)(A;;0x6;;;BA)", sid);
  LocalFree(sid);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, NULL, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(rules, SDDL_REVISION_1, &attributes.lpSecurityDescriptor,
                                                            NULL))
    return NULL;
  HANDLE note = CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, sizeof(LaunchNote), name);
  const DWORD error = GetLastError();
  LocalFree(attributes.lpSecurityDescriptor);
  // one made before us by someone else is never read
  if (note && error == ERROR_ALREADY_EXISTS) {
    CloseHandle(note);
    return NULL;
  }
  return note;
}

HANDLE CreateLaunchNote(char* id, size_t size) {
  if (size < 20) return NULL;
  // unique in the session; the access rules, not the name, keep others out
  wsprintfA(id, "%08lX%08lX", GetCurrentProcessId(), GetTickCount());
  HANDLE note = MakeLaunchNote(id);
  // the elevated run is told of no note that is not ours
  if (!note) id[0] = '\0';
  return note;
}

int WriteLaunchNote(const char* id, const char* folder) {
  char name[64];
  NoteName(id, name);
  HANDLE note = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
  if (!note) return 0;
  LaunchNote* view = static_cast<LaunchNote*>(MapViewOfFile(note, FILE_MAP_WRITE, 0, 0, sizeof(LaunchNote)));
  if (view) {
    lstrcpynA(view->Folder, folder, sizeof view->Folder);
    view->Asked = kLaunchAsked;
    UnmapViewOfFile(view);
  }
  CloseHandle(note);
  return view != NULL;
}

int ReadLaunchNote(HANDLE note, char* folder, size_t size) {
  folder[0] = '\0';
  if (!note) return 0;
  const LaunchNote* view = static_cast<LaunchNote*>(MapViewOfFile(note, FILE_MAP_READ, 0, 0, sizeof(LaunchNote)));
  if (!view) return 0;
  const char* end = static_cast<const char*>(memchr(view->Folder, '\0', sizeof view->Folder));
  const size_t n = end ? static_cast<size_t>(end - view->Folder) : 0;
  const int asked = view->Asked == kLaunchAsked && n > 0 && n < size;
  if (asked) memcpy(folder, view->Folder, n + 1);
  UnmapViewOfFile(view);
  return asked;
}
