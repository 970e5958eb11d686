#include "uninstall/SelfRemoval.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "common/Mbcs.h"

// Writes the batch file at path (without the rmdir line when folder is
// null); 1 on success.
static int WriteBatch(const char* path, const char* exe, const char* folder) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  char text[4 * MAX_PATH + 128];
  const int n = folder ? snprintf(text, sizeof text,
                                  ":Repeat\r\ndel \"%s\"\r\nif exist \"%s\" goto Repeat\r\nrmdir \"%s\"\r\ndel \"%s\"\r\n",
                                  exe, exe, folder, path)
                       : snprintf(text, sizeof text,
                                  ":Repeat\r\ndel \"%s\"\r\nif exist \"%s\" goto Repeat\r\ndel \"%s\"\r\n",
                                  exe, exe, path);
  DWORD written = 0;
  const BOOL ok = n > 0 && n < static_cast<int>(sizeof text) && WriteFile(file, text, n, &written, NULL) &&
                  written == static_cast<DWORD>(n);
  CloseHandle(file);
  if (!ok) DeleteFileA(path);
  return ok ? 1 : 0;
}

static void RemoveSelfAndFolder(bool removeFolder) {
  char exe[MAX_PATH];
  const DWORD n = GetModuleFileNameA(NULL, exe, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  char folder[MAX_PATH];
  strcpy(folder, exe);
  if (char* slash = const_cast<char*>(MbcsFindLastChar(folder, '\\'))) *slash = '\0';

  // The root of the current drive; where that is not writable, the
  // temporary folder, so the program still goes.
  char batch[MAX_PATH + 16] = "\\DelUS.bat";
  char directory[MAX_PATH] = "\\";
  const char* folderToRemove = removeFolder ? folder : NULL;
  if (!WriteBatch(batch, exe, folderToRemove)) {
    const DWORD t = GetTempPathA(MAX_PATH, directory);
    if (t == 0 || t >= MAX_PATH) return;
    snprintf(batch, sizeof batch, "%sDelUS.bat", directory);
    if (!WriteBatch(batch, exe, folderToRemove)) return;
  }

  char command[MAX_PATH + 32];
  snprintf(command, sizeof command, "\"%s\"", batch);
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION child;
  if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, CREATE_SUSPENDED | IDLE_PRIORITY_CLASS, NULL, directory,
                      &startup, &child)) {
    DeleteFileA(batch);
    return;
  }
  // Let this process finish before the batch file gets the processor.
  SetThreadPriority(child.hThread, THREAD_PRIORITY_IDLE);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
  CloseHandle(child.hProcess);
  ResumeThread(child.hThread);
  CloseHandle(child.hThread);
}

void RemoveSelf() {
  RemoveSelfAndFolder(true);
}

void RemoveTemporarySelf() {
  RemoveSelfAndFolder(false);
}
