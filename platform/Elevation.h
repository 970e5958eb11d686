// Administrator rights: whether this process has them, and starting a
// program through the system's consent prompt when it has not.
#pragma once
#include <windows.h>

// Nonzero when this process runs with the administrators' full rights:
// elevated, an administrator where the consent prompt is off, or SYSTEM
// (whose tokens all say they are elevated).
int IsElevated();
// The same of another process (opened for PROCESS_QUERY_LIMITED_INFORMATION):
// 1 or 0, or -1 when its rights cannot be read (GetLastError says why).
int IsProcessElevated(HANDLE process);

// What kind says of process's token, into size bytes at buffer; FALSE when
// it cannot be read (GetLastError says why).
BOOL ReadProcessToken(HANDLE process, TOKEN_INFORMATION_CLASS kind, void* buffer, DWORD size);

enum ElevatedStart {
  ELEVATED_STARTED,   // it ran; *exitCode is its exit code
  ELEVATION_REFUSED,  // the prompt was declined, or nobody could give the rights
  ELEVATION_FAILED,   // it could not be started (*error says why)
};

// Starts path with parameters (ready-made, quoted as needed) in folder
// through the consent prompt and waits for it to end. No window of the
// system's own is shown on failure: the caller tells the user.
ElevatedStart RunElevated(const char* path, const char* parameters, const char* folder, DWORD* exitCode,
                          DWORD* error);
