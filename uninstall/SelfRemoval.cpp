#include "uninstall/SelfRemoval.h"

#include <windows.h>
#include <string.h>

#include "common/Mbcs.h"
#include "platform/PrivateTemp.h"

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

size_t FormatSelfRemovalBatchFolders(char* out, size_t size, const char* exe, const char* const* folders,
                                     int folderCount, const char* batch, const char* ping) {
  // Literal text and paths alternate, paths at the odd places; without
  // folders their line goes. "del /f /a" takes a read-only or hidden file
  // too, which a plain "del" would leave, looping for ever; and the loop
  // gives up after about a minute (one ping a second) so that a file held
  // open for good never keeps an elevated cmd spinning.
  enum { kMaxFolders = 16 };
  if (folderCount < 0 || folderCount > kMaxFolders || size == 0) return 0;
  const char* parts[12 + 2 * kMaxFolders];
  size_t count = 0;
  parts[count++] = "set QSTRIES=0\r\n:Repeat\r\ndel /f /a \"";
  parts[count++] = exe;
  parts[count++] = "\"\r\nif not exist \"";
  parts[count++] = exe;
  parts[count++] = "\" goto Done\r\nset /a QSTRIES+=1\r\nif %QSTRIES% geq 60 goto Done\r\n\"";
  parts[count++] = ping;
  parts[count++] = folderCount ? "\" -n 2 127.0.0.1 >nul\r\ngoto Repeat\r\n:Done\r\nrmdir \""
                               : "\" -n 2 127.0.0.1 >nul\r\ngoto Repeat\r\n:Done\r\ndel \"";
  for (int i = 0; i < folderCount; ++i) {
    parts[count++] = folders[i];
    parts[count++] = i + 1 < folderCount ? "\" \"" : "\"\r\ndel \"";
  }
  parts[count++] = batch;
  parts[count++] = "\"\r\n";
  size_t at = 0;
  out[0] = '\0';
  for (size_t i = 0; i < count; ++i)
    if (!Append(out, size, &at, parts[i], i % 2 == 1)) return 0;
  return at;
}

size_t FormatSelfRemovalBatch(char* out, size_t size, const char* exe, const char* folder, const char* batch,
                              const char* ping) {
  return FormatSelfRemovalBatchFolders(out, size, exe, &folder, folder ? 1 : 0, batch, ping);
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

int WriteSelfRemovalBatch(const char* folder, unsigned start, const char* exe, const char* const* folders,
                          int folderCount, char* batch) {
  enum { kMaxFolders = 16 };
  if (folderCount < 0 || folderCount > kMaxFolders) return 0;
  char exeForm[MAX_PATH * 2], batchForm[MAX_PATH * 2];
  char folderForms[kMaxFolders][MAX_PATH * 2];
  const char* forms[kMaxFolders];
  if (!BatchPathForm(exe, exeForm, sizeof exeForm)) return 0;
  // the system's own ping: cmd would look in its current folder first
  char ping[MAX_PATH], pingForm[MAX_PATH * 2];
  const UINT s = GetSystemDirectoryA(ping, MAX_PATH);
  if (s == 0 || s + sizeof "\\ping.exe" > MAX_PATH) return 0;
  strcat(ping, "\\ping.exe");
  if (!BatchPathForm(ping, pingForm, sizeof pingForm)) return 0;
  for (int i = 0; i < folderCount; ++i) {
    if (!BatchPathForm(folders[i], folderForms[i], sizeof folderForms[i])) return 0;
    forms[i] = folderForms[i];
  }
  HANDLE file = CreateUniqueBatchFile(folder, start, batch);
  if (file == INVALID_HANDLE_VALUE) return 0;
  char text[(kMaxFolders + 5) * MAX_PATH * 2 + 256];
  size_t n = 0;
  if (BatchPathForm(batch, batchForm, sizeof batchForm))
    n = FormatSelfRemovalBatchFolders(text, sizeof text, exeForm, forms, folderCount, batchForm, pingForm);
  DWORD written = 0;
  const BOOL ok = n != 0 && WriteFile(file, text, static_cast<DWORD>(n), &written, NULL) && written == n;
  CloseHandle(file);
  if (!ok) {
    DeleteFileA(batch);
    batch[0] = '\0';
  }
  return ok ? 1 : 0;
}

int WriteSelfRemovalBatch(const char* folder, unsigned start, const char* exe, const char* exeFolder, char* batch) {
  return WriteSelfRemovalBatch(folder, start, exe, &exeFolder, exeFolder ? 1 : 0, batch);
}

// Nonzero when ancestor is a folder above path (whole names, any case).
static int IsAbove(const char* ancestor, const char* path) {
  const size_t n = strlen(ancestor);
  if (n == 0 || n >= strlen(path) || path[n] != '\\') return 0;
  char head[MAX_PATH];
  lstrcpynA(head, path, (int)n + 1);
  return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, head, -1, ancestor, -1) == CSTR_EQUAL;
}

static void RemoveSelfAndFolder(bool removeFolder, const char* const* alsoRemove, int alsoCount) {
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
  // the program's folder, then the created folders above it that only it
  // kept, deepest first
  const char* folders[16];
  int folderCount = 0;
  // a temporary copy in a private folder of the process that made it takes
  // that folder along
  if (!removeFolder && IsPrivateTempFolder(folder)) folders[folderCount++] = folder;
  if (removeFolder) {
    folders[folderCount++] = folder;
    for (int i = 0; i < alsoCount && folderCount < 16; ++i)
      if (IsAbove(alsoRemove[i], folder)) folders[folderCount++] = alsoRemove[i];
    for (int i = 1; i < folderCount; ++i)
      for (int j = i; j > 1 && strlen(folders[j]) > strlen(folders[j - 1]); --j) {
        const char* t = folders[j];
        folders[j] = folders[j - 1];
        folders[j - 1] = t;
      }
  }
  if (!WriteSelfRemovalBatch(directory, start, exe, folders, folderCount, batch)) return;

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

void RemoveSelf(const char* const* alsoRemove, int alsoCount) {
  RemoveSelfAndFolder(true, alsoRemove, alsoCount);
}

void RemoveTemporarySelf() {
  // once per process: several exits of a temporary copy may ask
  static int started;
  if (started) return;
  started = 1;
  RemoveSelfAndFolder(false, NULL, 0);
}
