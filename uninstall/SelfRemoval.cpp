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

int BatchPathForm(const char* path, char* out, size_t size) {
  // cmd reads a batch file in the OEM code page, we hold paths in the ANSI
  // one: "Café" would otherwise name another folder.
  WCHAR wide[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, MAX_PATH)) return 0;
  BOOL lossy = FALSE;
  int n = WideCharToMultiByte(CP_OEMCP, 0, wide, -1, out, (int)size, NULL, &lossy);
  if (n > 0 && !lossy) return 1;
  // Not all of it exists in the OEM code page: the short name may. A
  // replacement character would be a wildcard to "del", so never that.
  WCHAR shortName[MAX_PATH];
  DWORD s = GetShortPathNameW(wide, shortName, MAX_PATH);
  if (s == 0 || s >= MAX_PATH) return 0;
  lossy = FALSE;
  n = WideCharToMultiByte(CP_OEMCP, 0, shortName, -1, out, (int)size, NULL, &lossy);
  return n > 0 && !lossy;
}

HANDLE CreateUniqueBatchFile(const char* folder, unsigned start, char* path) {
  for (unsigned i = 0; i < 0x10000; ++i) {
    char name[16];
    const unsigned number = (start + i) & 0xFFFF;
    const char hex[] = "0123456789ABCDEF";
    strcpy(name, "DUS0000.bat");
    for (int d = 0; d < 4; ++d) name[3 + d] = hex[(number >> (12 - 4 * d)) & 0xF];
    if (strlen(folder) + strlen(name) >= MAX_PATH) return INVALID_HANDLE_VALUE;
    strcpy(path, folder);
    strcat(path, name);
    // never one that exists: whoever made it could still write to it
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (h != INVALID_HANDLE_VALUE) return h;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  path[0] = '\0';
  return INVALID_HANDLE_VALUE;
}

int WriteSelfRemovalBatch(const char* folder, unsigned start, const char* exe, const char* exeFolder, char* batch) {
  char exeForm[MAX_PATH * 2], folderForm[MAX_PATH * 2], batchForm[MAX_PATH * 2];
  if (!BatchPathForm(exe, exeForm, sizeof exeForm)) return 0;
  if (exeFolder && !BatchPathForm(exeFolder, folderForm, sizeof folderForm)) return 0;
  HANDLE file = CreateUniqueBatchFile(folder, start, batch);
  if (file == INVALID_HANDLE_VALUE) return 0;
  char text[8 * MAX_PATH * 2 + 128];
  size_t n = 0;
  if (BatchPathForm(batch, batchForm, sizeof batchForm))
    n = FormatSelfRemovalBatch(text, sizeof text, exeForm, exeFolder ? folderForm : NULL, batchForm);
  DWORD written = 0;
  const BOOL ok = n != 0 && WriteFile(file, text, static_cast<DWORD>(n), &written, NULL) && written == n;
  CloseHandle(file);
  if (!ok) {
    DeleteFileA(batch);
    batch[0] = '\0';
  }
  return ok ? 1 : 0;
}

static void RemoveSelfAndFolder(bool removeFolder) {
  char exe[MAX_PATH];
  const DWORD n = GetModuleFileNameA(NULL, exe, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  char folder[MAX_PATH];
  strcpy(folder, exe);
  if (char* slash = const_cast<char*>(MbcsFindLastChar(folder, '\\'))) *slash = '\0';

  // A name of our own in the temporary folder, which only this user may
  // write to: a fixed name in a drive root could be planted by anyone and
  // would then run elevated.
  char directory[MAX_PATH];
  const DWORD t = GetTempPathA(MAX_PATH, directory);
  if (t == 0 || t >= MAX_PATH) return;
  char batch[MAX_PATH];
  const unsigned start = (unsigned)(GetTickCount() ^ (GetCurrentProcessId() << 4));
  if (!WriteSelfRemovalBatch(directory, start, exe, removeFolder ? folder : NULL, batch)) return;

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
