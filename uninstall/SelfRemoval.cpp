#include "uninstall/SelfRemoval.h"

#include <windows.h>
#include <string.h>

#include "common/Mbcs.h"

// Appends text to out, "%" doubled when escape is set; false when full.
static bool Append(char* out, size_t size, size_t* at, const char* text, bool escape) {
  for (const char* p = text; *p; ++p) {
    const int copies = (escape && *p == '%') ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
      if (*at + 1 >= size) return false;
      out[(*at)++] = *p;
    }
  }
  out[*at] = '\0';
  return true;
}

size_t FormatSelfRemovalBatch(char* out, size_t size, const char* exe, const char* folder, const char* batch) {
  // Literal text and paths alternate; without a folder its line goes.
  const char* const withFolder[] = {":Repeat\r\ndel \"", exe, "\"\r\nif exist \"", exe, "\" goto Repeat\r\nrmdir \"",
                                    folder, "\"\r\ndel \"", batch, "\"\r\n"};
  const char* const withoutFolder[] = {":Repeat\r\ndel \"", exe, "\"\r\nif exist \"", exe,
                                       "\" goto Repeat\r\ndel \"", batch, "\"\r\n"};
  const char* const* parts = folder ? withFolder : withoutFolder;
  const size_t count = folder ? sizeof withFolder / sizeof *withFolder : sizeof withoutFolder / sizeof *withoutFolder;
  size_t at = 0;
  if (size == 0) return 0;
  out[0] = '\0';
  for (size_t i = 0; i < count; ++i)
    if (!Append(out, size, &at, parts[i], i % 2 == 1)) return 0;
  return at;
}

// Writes the batch file at path (without the rmdir line when folder is
// null); 1 on success.
static int WriteBatch(const char* path, const char* exe, const char* folder) {
  char text[8 * MAX_PATH + 128];
  const size_t n = FormatSelfRemovalBatch(text, sizeof text, exe, folder, path);
  if (n == 0) return 0;
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text, static_cast<DWORD>(n), &written, NULL) && written == n;
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
    strcpy(batch, directory);
    strcat(batch, "DelUS.bat");
    if (!WriteBatch(batch, exe, folderToRemove)) return;
  }

  char command[MAX_PATH + 32];
  strcpy(command, "\"");
  strcat(command, batch);
  strcat(command, "\"");
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
