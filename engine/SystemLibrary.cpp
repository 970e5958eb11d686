#include "engine/SystemLibrary.h"

#include <string.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

void HardenDllSearchPath() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  typedef BOOL(WINAPI * SetDllDirectoryAFn)(LPCSTR);
  // Both looked up at run time: neither exists on every system we start on.
  SetDefaultDllDirectoriesFn setDefault =
      (SetDefaultDllDirectoriesFn)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // Older systems: at least take the current folder out of the search.
  SetDllDirectoryAFn setDir = (SetDllDirectoryAFn)(void*)GetProcAddress(kernel, "SetDllDirectoryA");
  if (setDir) setDir("");
}

HMODULE LoadSystemLibrary(const char* name) {
  char path[MAX_PATH];
  UINT n = GetSystemDirectoryA(path, MAX_PATH);
  size_t len = strlen(name);
  if (n == 0 || n + 1 + len >= MAX_PATH) return NULL;
  path[n] = '\\';
  memcpy(path + n + 1, name, len + 1);
  return LoadLibraryA(path);
}
