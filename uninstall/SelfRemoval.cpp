#include "uninstall/SelfRemoval.h"

#include <windows.h>
#include <string.h>

#include "common/Mbcs.h"
#include "platform/PrivateTemp.h"

// Appends text to out; false when full.
static bool Append(wchar_t* out, size_t size, size_t* at, const wchar_t* text) {
  for (const wchar_t* p = text; *p; ++p) {
    if (*at + 1 >= size) return false;
    out[(*at)++] = *p;
  }
  out[*at] = L'\0';
  return true;
}

size_t FormatSelfRemovalCommand(wchar_t* out, size_t size, const wchar_t* cmd, int folderCount) {
  if (folderCount < 0 || folderCount > SELF_REMOVAL_MAX_FOLDERS || size == 0) return 0;
  size_t at = 0;
  out[0] = L'\0';
  // /d: no AutoRun command from the registry, which the user could set in
  // HKCU; /v:on for the delayed expansion the text relies on (a value is
  // never read again, so "%", "!", "&" or "^" in a path stay what they
  // are); /s: the outer quotes go and the rest stays as it is
  bool ok = Append(out, size, &at, L"\"") && Append(out, size, &at, cmd) &&
            Append(out, size, &at, L"\" /d /q /v:on /s /c \"");
  // Tries after 0, 1, 3, 7, 15 and 31 seconds, then once more a half
  // minute later: no loop, because Wine's cmd loses delayed expansion in a
  // for body, and its lines break down past a few hundred characters, so
  // the text stays short. "del /f /a" takes a read-only or hidden file too.
  // Each step sits in parentheses of its own, so that a false "if" skips
  // only its own step.
  static const int kPings[] = {2, 3, 5, 9, 17, 31};
  for (size_t i = 0; ok && i < sizeof kPings / sizeof kPings[0]; ++i) {
    wchar_t step[160];
    wsprintfW(step,
              L"%s(if exist \"!S!\" (del /f /a \"!S!\" 2>nul & (if exist \"!S!\" \"!P!\" -n %d 127.0.0.1 >nul)))",
              i ? L" & " : L"", kPings[i]);
    ok = Append(out, size, &at, step);
  }
  if (ok && folderCount > 0) ok = Append(out, size, &at, L" & rmdir");
  for (int i = 0; ok && i < folderCount; ++i) {
    wchar_t name[16];
    wsprintfW(name, L" \"!D%d!\"", i + 1);
    ok = Append(out, size, &at, name);
  }
  if (ok && folderCount > 0) ok = Append(out, size, &at, L" 2>nul");
  if (ok) ok = Append(out, size, &at, L"\"");
  if (!ok) {
    out[0] = L'\0';
    return 0;
  }
  return at;
}

// The interpreter's whole environment: its variables and the system root,
// nothing of the user's, so that no variable of theirs can mean anything to
// an elevated cmd. Entries go in in the order a block is sorted by name.
class CRemovalEnvironment {
 public:
  CRemovalEnvironment() : m_Used(0), m_Ok(true) {}
  // value in the process code page, or wide when wideValue is set
  void Add(const wchar_t* name, const char* value, const wchar_t* wideValue = NULL) {
    const int nameLength = lstrlenW(name);
    // room for the name, "=", the value and the block's final terminator
    const int room = kSize - m_Used - nameLength - 2;
    if (!m_Ok || room <= 0) {
      m_Ok = false;
      return;
    }
    wchar_t* entry = m_Block + m_Used;
    lstrcpyW(entry, name);
    entry[nameLength] = L'=';
    wchar_t* at = entry + nameLength + 1;
    int n;
    if (wideValue) {
      n = lstrlenW(wideValue) + 1;
      if (n <= room) lstrcpyW(at, wideValue);
    } else {
      n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, value, -1, at, room);
    }
    if (n <= 0 || n > room) m_Ok = false;
    m_Used += nameLength + 1 + n;
    m_Block[m_Used] = L'\0';
  }
  const wchar_t* Block() const { return m_Ok && m_Used ? m_Block : NULL; }

 private:
  // every path may take three characters per byte of MAX_PATH
  enum { kSize = (SELF_REMOVAL_MAX_FOLDERS + 3) * (MAX_PATH * 3 + 16) };
  wchar_t m_Block[kSize];
  int m_Used;
  bool m_Ok;
};

HANDLE StartSelfRemoval(const char* exe, const char* const* folders, int folderCount) {
  // the system's own cmd and ping: a name alone would be looked up in the
  // current folder and the user's PATH first
  wchar_t system[MAX_PATH], windows[MAX_PATH];
  const UINT s = GetSystemDirectoryW(system, MAX_PATH);
  const UINT w = GetWindowsDirectoryW(windows, MAX_PATH);
  if (s == 0 || s + 16 > MAX_PATH || w == 0 || w >= MAX_PATH) return NULL;
  wchar_t cmd[MAX_PATH + 16], ping[MAX_PATH + 16];
  wsprintfW(cmd, L"%s\\cmd.exe", system);
  wsprintfW(ping, L"%s\\ping.exe", system);
  wchar_t command[2048];
  if (FormatSelfRemovalCommand(command, sizeof command / sizeof command[0], cmd, folderCount) == 0) return NULL;

  // D1, D10...D16, D2...D9, P, S, SystemRoot: the order of their names
  CRemovalEnvironment environment;
  for (int first = 1; first <= 9; ++first)
    for (int i = first; i <= (first == 1 ? 16 : first); i = i == 1 ? 10 : i + 1) {
      if (i > folderCount) continue;
      wchar_t name[16];
      wsprintfW(name, L"D%d", i);
      environment.Add(name, folders[i - 1]);
    }
  environment.Add(L"P", NULL, ping);
  environment.Add(L"S", exe);
  environment.Add(L"SystemRoot", NULL, windows);
  const wchar_t* block = environment.Block();
  if (!block) return NULL;
  STARTUPINFOW startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION child;
  const BOOL started =
      CreateProcessW(cmd, command, NULL, NULL, FALSE,
                     CREATE_SUSPENDED | IDLE_PRIORITY_CLASS | CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT,
                     const_cast<wchar_t*>(block), system, &startup, &child);
  if (!started) return NULL;
  // Let this process finish before the interpreter gets the processor.
  SetThreadPriority(child.hThread, THREAD_PRIORITY_IDLE);
  ResumeThread(child.hThread);
  CloseHandle(child.hThread);
  return child.hProcess;
}

// Nonzero when ancestor is a folder above path (whole names, any case).
static int IsAbove(const char* ancestor, const char* path) {
  const size_t n = strlen(ancestor);
  if (n == 0 || n >= strlen(path) || path[n] != '\\') return 0;
  char* head = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, n + 1));
  if (!head) return 0;
  lstrcpynA(head, path, (int)n + 1);
  const int above = CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, head, -1, ancestor, -1) == CSTR_EQUAL;
  HeapFree(GetProcessHeap(), 0, head);
  return above;
}

// The program's folder (when asked), then the created folders above it that
// only it kept, deepest first; returns how many went into folders.
static int FoldersToRemove(const char* folder, bool removeFolder, const char* const* alsoRemove, int alsoCount,
                           const char** folders) {
  int folderCount = 0;
  // a temporary copy in a private folder of the process that made it takes
  // that folder along
  if (!removeFolder) {
    if (IsPrivateTempFolder(folder)) folders[folderCount++] = folder;
    return folderCount;
  }
  folders[folderCount++] = folder;
  for (int i = 0; i < alsoCount && folderCount < SELF_REMOVAL_MAX_FOLDERS; ++i)
    if (IsAbove(alsoRemove[i], folder)) folders[folderCount++] = alsoRemove[i];
  for (int i = 1; i < folderCount; ++i)
    for (int j = i; j > 1 && strlen(folders[j]) > strlen(folders[j - 1]); --j) {
      const char* t = folders[j];
      folders[j] = folders[j - 1];
      folders[j - 1] = t;
    }
  return folderCount;
}

static void RemoveSelfAndFolder(bool removeFolder, const char* const* alsoRemove, int alsoCount) {
  // a path of MAX_PATH characters may take three bytes each
  char exe[MAX_PATH * 3];
  const DWORD n = GetModuleFileNameA(NULL, exe, sizeof exe);
  if (n == 0 || n >= sizeof exe) return;
  char folder[MAX_PATH * 3];
  strcpy(folder, exe);
  if (char* slash = const_cast<char*>(MbcsFindLastChar(folder, '\\'))) *slash = '\0';

  const char* folders[SELF_REMOVAL_MAX_FOLDERS];
  const int folderCount = FoldersToRemove(folder, removeFolder, alsoRemove, alsoCount, folders);
  HANDLE child = StartSelfRemoval(exe, folders, folderCount);
  if (!child) return;
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
  CloseHandle(child);
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
