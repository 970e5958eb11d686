#include "platform/Elevation.h"

#include <shellapi.h>

int IsElevated() {
  // every Windows this program runs on answers; one that does not is asked
  // for the rights, which does no harm
  return IsProcessElevated(GetCurrentProcess()) > 0;
}

int IsProcessElevated(HANDLE process) {
  TOKEN_ELEVATION elevation;
  if (!ReadProcessToken(process, TokenElevation, &elevation, sizeof elevation)) return -1;
  return elevation.TokenIsElevated ? 1 : 0;
}

BOOL ReadProcessToken(HANDLE process, TOKEN_INFORMATION_CLASS kind, void* buffer, DWORD size) {
  HANDLE token;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return FALSE;
  DWORD got = 0;
  const BOOL read = GetTokenInformation(token, kind, buffer, size, &got);
  const DWORD error = GetLastError();
  CloseHandle(token);
  SetLastError(error);
  return read;
}

ElevatedStart RunElevated(const char* path, const char* parameters, const char* folder, DWORD* exitCode,
                          DWORD* error) {
  *exitCode = 0;
  *error = 0;
  SHELLEXECUTEINFOA start;
  ZeroMemory(&start, sizeof start);
  start.cbSize = sizeof start;
  // the handle to wait on; our own message, not the shell's, on failure
  start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  start.lpVerb = "runas";
  start.lpFile = path;
  start.lpParameters = parameters;
  start.lpDirectory = folder;
  start.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExA(&start)) {
    *error = GetLastError();
    // declined, or denied outright where users may not ask
    return *error == ERROR_CANCELLED || *error == ERROR_ACCESS_DENIED ? ELEVATION_REFUSED : ELEVATION_FAILED;
  }
  // started, but by a handler that gives no process: nothing to wait for
  if (!start.hProcess) {
    *error = ERROR_INVALID_HANDLE;
    return ELEVATION_FAILED;
  }
  WaitForSingleObject(start.hProcess, INFINITE);
  if (!GetExitCodeProcess(start.hProcess, exitCode)) *exitCode = 1;
  CloseHandle(start.hProcess);
  return ELEVATED_STARTED;
}
