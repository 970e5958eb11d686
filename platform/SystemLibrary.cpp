#include "platform/SystemLibrary.h"

#include <string.h>

#include "common/Mbcs.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif

// Whether LoadLibraryEx knows the LOAD_LIBRARY_SEARCH_* flags.
static int g_SearchFlags = -1;

void HardenDllSearchPath() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  typedef BOOL(WINAPI * SetDllDirectoryAFn)(LPCSTR);
  // Both looked up at run time: neither exists on every system we start on.
  SetDefaultDllDirectoriesFn setDefault =
      ProcAddress<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories");
  g_SearchFlags = setDefault != NULL;
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // Older systems: at least take the current folder out of the search.
  SetDllDirectoryAFn setDir = ProcAddress<SetDllDirectoryAFn>(kernel, "SetDllDirectoryA");
  if (setDir) setDir("");
}

typedef DWORD(WINAPI* ClockFn)(void);
static ClockFn g_Clock;

void InitMillisecondClock() {
  if (g_Clock) return;
  HMODULE winmm = LoadSystemLibrary("winmm.dll");
  if (winmm) g_Clock = ProcAddress<ClockFn>(winmm, "timeGetTime");
  if (!g_Clock) g_Clock = GetTickCount;
}

DWORD MillisecondClock() {
  if (!g_Clock) InitMillisecondClock();
  return g_Clock();
}

HMODULE LoadSystemLibrary(const char* name) {
  char path[PATH_BYTES];
  const UINT n = GetSystemDirectoryA(path, sizeof path);
  if (n == 0 || n + 1 + strlen(name) >= sizeof path) return NULL;
  if (path[n - 1] != '\\') strcat(path, "\\");
  strcat(path, name);
  // no flags: as LoadLibraryA, one import fewer
  return LoadLibraryExA(path, NULL, 0);
}

HMODULE LoadLibraryWithItsFolder(const char* path) {
  if (g_SearchFlags < 0)
    g_SearchFlags = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories") != NULL;
  // The flags keep the search restricted; the old one opens it again, so it
  // serves only systems without them.
  if (g_SearchFlags)
    return LoadLibraryExA(path, NULL, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  return LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}
