#include "engine/SystemLibrary.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

void HardenDllSearchPath() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  typedef BOOL(WINAPI * SetDllDirectoryAFn)(LPCSTR);
  // Both looked up at run time: neither exists on every system we start on.
  SetDefaultDllDirectoriesFn setDefault =
      ProcAddress<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories");
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // Older systems: at least take the current folder out of the search.
  SetDllDirectoryAFn setDir = ProcAddress<SetDllDirectoryAFn>(kernel, "SetDllDirectoryA");
  if (setDir) setDir("");
}

typedef DWORD(WINAPI* ClockFn)(void);
static ClockFn g_Clock;

void InitMillisecondClock() {
  if (g_Clock) return;
  HMODULE winmm = LoadLibraryA("winmm.dll");
  if (winmm) g_Clock = ProcAddress<ClockFn>(winmm, "timeGetTime");
  if (!g_Clock) g_Clock = GetTickCount;
}

DWORD MillisecondClock() {
  if (!g_Clock) InitMillisecondClock();
  return g_Clock();
}
