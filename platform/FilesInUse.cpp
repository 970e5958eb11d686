#include "platform/FilesInUse.h"

#include <restartmanager.h>
#include <string.h>
#include <tlhelp32.h>

#include "common/PathText.h"
#include "common/SafeFormat.h"
#include "platform/RunLog.h"
#include "platform/SystemLibrary.h"
#include "platform/TextEncoding.h"

namespace {

ProgramClosing g_Closing = {1, 0, 0};

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

int SamePath(const char* a, const char* b) {
  return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

#ifndef PROCESS_QUERY_LIMITED_INFORMATION
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#endif

// Vista and later; XP's image comes from the process's module list.
typedef BOOL(WINAPI* QueryImageProc)(HANDLE, DWORD, LPSTR, PDWORD);

int ImageOf(DWORD processId, char* image) {
  const QueryImageProc query =
      ProcAddress<QueryImageProc>(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA");
  if (!query) return ProcessImageFromModules(processId, image);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return 0;
  DWORD n = PATH_BYTES;
  const BOOL named = query(process, 0, image, &n);
  CloseHandle(process);
  return named;
}

typedef DWORD(WINAPI* RmStartSessionProc)(DWORD*, DWORD, WCHAR*);
typedef DWORD(WINAPI* RmRegisterResourcesProc)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
typedef DWORD(WINAPI* RmGetListProc)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
typedef DWORD(WINAPI* RmEndSessionProc)(DWORD);
typedef DWORD(WINAPI* RmShutdownProc)(DWORD, ULONG, RM_WRITE_STATUS_CALLBACK);
typedef DWORD(WINAPI* RmRestartProc)(DWORD, DWORD, RM_WRITE_STATUS_CALLBACK);

// The run's Restart Manager session: open from the search for the programs
// to their restart at the end, as RmRestart starts again only what its own
// session shut down.
struct RestartSession {
  HMODULE Dll;
  DWORD Handle;
  int Open;
  int ShutDown;
};
RestartSession g_Rm;

template <typename Fn>
Fn RmProc(const char* name) {
  return g_Rm.Dll ? ProcAddress<Fn>(g_Rm.Dll, name) : NULL;
}

void EndRestartSession() {
  if (g_Rm.Open) {
    if (RmEndSessionProc end = RmProc<RmEndSessionProc>("RmEndSession")) end(g_Rm.Handle);
  }
  if (g_Rm.Dll) FreeLibrary(g_Rm.Dll);
  g_Rm = RestartSession();
}

struct WindowSearch {
  DWORD processId;
  char* title;
  int titleSize;
  int closed;
};

BOOL CALLBACK FindTitle(HWND window, LPARAM context) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->processId || !IsWindowVisible(window)) return TRUE;
  return GetWindowTextA(window, search->title, search->titleSize) > 0 ? FALSE : TRUE;
}

BOOL CALLBACK AskToClose(HWND window, LPARAM context) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == search->processId && PostMessageA(window, WM_CLOSE, 0, 0)) ++search->closed;
  return TRUE;
}

}  // namespace

void SetProgramClosing(const ProgramClosing& closing) { g_Closing = closing; }

const ProgramClosing& GetProgramClosing() { return g_Closing; }

// Whether opening path for access (sharing everything) is refused because
// another handle holds it.
static int RefusedByHolder(const char* path, DWORD access, DWORD flags) {
  HANDLE file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                            flags, NULL);
  if (file == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_LOCK_VIOLATION;
  CloseHandle(file);
  return 0;
}

int IsFileOpenElsewhere(const char* path) {
  // as DeleteFile opens it: Windows refuses the open while another handle
  // lacks delete sharing
  return RefusedByHolder(path, DELETE, FILE_FLAG_BACKUP_SEMANTICS);
}

int DeleteEvenReadOnly(const char* path) {
  if (DeleteFileA(path)) return 1;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND ||
                                                     GetLastError() == ERROR_PATH_NOT_FOUND;
  if (!(attributes & FILE_ATTRIBUTE_READONLY) || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  if (!SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY)) return 0;
  if (DeleteFileA(path)) return 1;
  const DWORD error = GetLastError();
  SetFileAttributesA(path, attributes);
  SetLastError(error);
  return 0;
}

int ScheduleAtRestart(const char* path, const char* newPath) {
  return MoveFileExA(path, newPath, MOVEFILE_DELAY_UNTIL_REBOOT | (newPath ? MOVEFILE_REPLACE_EXISTING : 0)) != 0;
}

int IsFileInUse(const char* path) {
  SetLastError(NO_ERROR);
  if (IsFileOpenElsewhere(path)) return 1;
  // most destinations are new: one look is enough
  if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND) return 0;
  return RefusedByHolder(path, GENERIC_WRITE, 0);
}

int CanScheduleAtRestart() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return 0;
  RegCloseKey(key);
  return 1;
}

namespace {

const WCHAR kPendingRenames[] = L"PendingFileRenameOperations";

// A name of that list without its "!" (replace) and "\\??\\" marks.
const WCHAR* PendingName(const WCHAR* name) {
  if (*name == L'!') ++name;
  if (name[0] == L'\\' && name[1] == L'?' && name[2] == L'?' && name[3] == L'\\') name += 4;
  return name;
}

int SameWidePath(const WCHAR* a, const WCHAR* b) {
  return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

}  // namespace

int CancelScheduledMove(const char* path, const char* newPath) {
  WCHAR from[PATH_BYTES], to[PATH_BYTES];
  if (!MultiByteToWideChar(CP_ACP, 0, path, -1, from, PATH_BYTES) ||
      !MultiByteToWideChar(CP_ACP, 0, newPath, -1, to, PATH_BYTES))
    return 0;
  HKEY session;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &session) != ERROR_SUCCESS)
    return 0;
  DWORD type = 0, size = 0;
  int cancelled = 0;
  if (RegQueryValueExW(session, kPendingRenames, NULL, &type, NULL, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ) {
    cancelled = 1;  // nothing is pending
  } else if (WCHAR* list = static_cast<WCHAR*>(calloc(size / sizeof(WCHAR) + 2, sizeof(WCHAR)))) {
    if (RegQueryValueExW(session, kPendingRenames, NULL, &type, reinterpret_cast<BYTE*>(list), &size) ==
        ERROR_SUCCESS) {
      // pairs of names, each ended by a zero; the other pairs keep their order
      const WCHAR* end = list + size / sizeof(WCHAR);
      WCHAR* out = list;
      int removed = 0;
      for (const WCHAR* p = list; p < end && *p;) {
        const WCHAR* second = p + lstrlenW(p) + 1;
        if (second >= end) break;
        const WCHAR* next = second + lstrlenW(second) + 1;
        const int ours = SameWidePath(PendingName(p), from) && SameWidePath(PendingName(second), to);
        if (!ours) {
          memmove(out, p, (next - p) * sizeof(WCHAR));
          out += next - p;
        }
        removed |= ours;
        p = next;
      }
      *out++ = L'\0';
      const DWORD left = static_cast<DWORD>((out - list) * sizeof(WCHAR));
      cancelled = !removed ? 1 : (left <= sizeof(WCHAR) ? RegDeleteValueW(session, kPendingRenames)
                                          : RegSetValueExW(session, kPendingRenames, 0, REG_MULTI_SZ,
                                                           reinterpret_cast<const BYTE*>(list), left)) == ERROR_SUCCESS ? 2 : 0;
    }
    free(list);
  }
  RegCloseKey(session);
  return cancelled;
}

int ProcessImageFromModules(DWORD processId, char* image) {
  HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
  if (modules == INVALID_HANDLE_VALUE) return 0;
  MODULEENTRY32 module;
  module.dwSize = sizeof module;
  // the first module is the program's own file
  const BOOL found = Module32First(modules, &module);
  CloseHandle(modules);
  if (found) MbcsCopy(image, PATH_BYTES, module.szExePath);
  return found;
}

void CProgramsInUse::Add(DWORD processId) {
  if (processId == GetCurrentProcessId() || processId == 0) return;
  for (int i = 0; i < m_Count; ++i)
    if (m_Programs[i].ProcessId == processId) return;
  if (m_Count == m_Capacity) {
    const int capacity = m_Capacity ? m_Capacity * 2 : 8;
    ProgramInUse* grown = static_cast<ProgramInUse*>(realloc(m_Programs, capacity * sizeof(ProgramInUse)));
    if (!grown) return;
    m_Programs = grown;
    m_Capacity = capacity;
  }
  ProgramInUse& program = m_Programs[m_Count++];
  program.ProcessId = processId;
  program.Name[0] = program.Title[0] = '\0';
  char image[PATH_BYTES];
  if (ImageOf(processId, image)) MbcsCopy(program.Name, PATH_BYTES, PathFileName(image));
  WindowSearch search = {processId, program.Title, static_cast<int>(sizeof program.Title), 0};
  EnumWindows(FindTitle, reinterpret_cast<LPARAM>(&search));
  char pid[32];
  wsprintfA(pid, " (process %lu)", processId);
  char line[PATH_BYTES + 300];
  lstrcpynA(line, program.Name[0] ? program.Name : "a program", PATH_BYTES);
  strcat(line, pid);
  if (program.Title[0]) {
    strcat(line, ": ");
    strcat(line, program.Title);
  }
  RunLogLine("Program using the files", line);
}

int CProgramsInUse::Find(const char* const* files, int count) {
  m_Count = 0;
  if (count <= 0) return 0;
  m_NamedByRestartManager = 0;
  // the Restart Manager knows who holds a file open; it answers for the
  // programs of this session (Wine's answers for none)
  EndRestartSession();
  g_Rm.Dll = LoadSystemLibrary("rstrtmgr.dll");
  RmStartSessionProc start = RmProc<RmStartSessionProc>("RmStartSession");
  RmRegisterResourcesProc add = RmProc<RmRegisterResourcesProc>("RmRegisterResources");
  RmGetListProc list = RmProc<RmGetListProc>("RmGetList");
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {0};
  if (start && add && list && start(&g_Rm.Handle, 0, key) == ERROR_SUCCESS) {
    g_Rm.Open = 1;
    LPCWSTR* wide = static_cast<LPCWSTR*>(calloc(count, sizeof(LPCWSTR)));
    int ok = wide != NULL;
    for (int i = 0; ok && i < count; ++i) {
      wide[i] = WideOf(files[i]);
      ok = wide[i] != NULL;
    }
    if (ok && add(g_Rm.Handle, count, wide, 0, NULL, 0, NULL) == ERROR_SUCCESS) {
      UINT needed = 0, got = 0;
      DWORD reasons = 0;
      DWORD r = list(g_Rm.Handle, &needed, &got, NULL, &reasons);
      if (r == ERROR_MORE_DATA && needed > 0) {
        RM_PROCESS_INFO* info = static_cast<RM_PROCESS_INFO*>(calloc(needed, sizeof(RM_PROCESS_INFO)));
        got = needed;
        if (info && list(g_Rm.Handle, &needed, &got, info, &reasons) == ERROR_SUCCESS)
          for (UINT i = 0; i < got; ++i) Add(info[i].Process.dwProcessId);
        free(info);
      }
    }
    for (int i = 0; wide && i < count; ++i) free(const_cast<WCHAR*>(wide[i]));
    free(wide);
    m_NamedByRestartManager = m_Count;
  }
  // a running program's own file
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
      char image[PATH_BYTES];
      if (!ImageOf(entry.th32ProcessID, image)) continue;
      for (int i = 0; i < count; ++i)
        if (SamePath(image, files[i])) {
          Add(entry.th32ProcessID);
          break;
        }
    }
    CloseHandle(snapshot);
  }
  return m_Count;
}

char* CProgramsInUse::Describe() const {
  if (!m_Count) return NULL;
  const size_t each = PATH_BYTES + sizeof m_Programs[0].Title + 8;
  char* text = static_cast<char*>(malloc(m_Count * each + 1));
  if (!text) return NULL;
  text[0] = '\0';
  for (int i = 0; i < m_Count; ++i) {
    const ProgramInUse& p = m_Programs[i];
    strcat(text, p.Title[0] ? p.Title : p.Name[0] ? p.Name : "?");
    if (p.Title[0] && p.Name[0]) {
      strcat(text, " (");
      strcat(text, p.Name);
      strcat(text, ")");
    }
    strcat(text, "\n");
  }
  return text;
}

int CProgramsInUse::CloseAll(DWORD waitMs, int force) {
  HANDLE* handles = static_cast<HANDLE*>(calloc(m_Count ? m_Count : 1, sizeof(HANDLE)));
  if (!handles) return m_Count;
  for (int i = 0; i < m_Count; ++i)
    handles[i] = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, m_Programs[i].ProcessId);
  // the Restart Manager's shutdown is the polite one (it lets a program
  // save, and note itself for the restart at the end); its answer is only
  // a hint: each process is watched below whatever it says
  RmShutdownProc shutdown = RmProc<RmShutdownProc>("RmShutdown");
  if (m_NamedByRestartManager && g_Rm.Open && shutdown) {
    const DWORD r = shutdown(g_Rm.Handle, force ? RmForceShutdown : 0, NULL);
    g_Rm.ShutDown = 1;
    char code[16];
    wsprintfA(code, "%lu", r);
    RunLogLineWith("Programs asked to close", "by the Restart Manager, which answers %s", code);
  }
  for (int i = 0; i < m_Count; ++i) {
    if (handles[i] && WaitForSingleObject(handles[i], 0) == WAIT_OBJECT_0) continue;
    WindowSearch search = {m_Programs[i].ProcessId, NULL, 0, 0};
    EnumWindows(AskToClose, reinterpret_cast<LPARAM>(&search));
    RunLogLine(search.closed ? "Program asked to close" : "Program has no window to close",
               m_Programs[i].Name[0] ? m_Programs[i].Name : "a program");
  }
  const DWORD started = GetTickCount();
  int running = 0;
  for (int i = 0; i < m_Count; ++i) {
    if (!handles[i]) {  // cannot be watched: it may still hold the files
      ++running;
      continue;
    }
    const DWORD spent = GetTickCount() - started;
    if (WaitForSingleObject(handles[i], spent < waitMs ? waitMs - spent : 0) == WAIT_OBJECT_0) {
      RunLogLine("Program closed", m_Programs[i].Name);
    } else if (force && TerminateProcess(handles[i], 1) && WaitForSingleObject(handles[i], 5000) == WAIT_OBJECT_0) {
      RunLogLine("Program ended", m_Programs[i].Name);
    } else {
      RunLogLine("Program still running", m_Programs[i].Name);
      ++running;
    }
    CloseHandle(handles[i]);
  }
  free(handles);
  return running;
}

namespace {

int AnyOpenElsewhere(const char* const* files, int count) {
  for (int i = 0; i < count; ++i)
    if (IsFileOpenElsewhere(files[i])) {
      RunLogLine("File in use", files[i]);
      return 1;
    }
  return 0;
}

}  // namespace

const char kProgramsInUseQuestion[] =
    "These programs use files that must be changed:\n\n%s\n"
    "Yes: Close the programs automatically.\n"
    "No: Do not close them (a restart may be needed).\n"
    "Cancel: stop here; nothing has been changed.";

void RestartClosedPrograms() {
  RmRestartProc restart = RmProc<RmRestartProc>("RmRestart");
  if (g_Rm.Open && g_Rm.ShutDown && restart) {
    const DWORD r = restart(g_Rm.Handle, 0, NULL);
    char code[16];
    wsprintfA(code, "%lu", r);
    RunLogLineWith("Programs registered for a restart", "started again by the Restart Manager, which answers %s",
                   code);
  }
  EndRestartSession();
}

RunResult CloseProgramsUsing(const char* const* files, int count, CFrontEnd* reports, const char* question,
                             const char* caption, int* stillHeld) {
  CProgramsInUse programs;
  const int found = programs.Find(files, count);
  *stillHeld = found > 0 || AnyOpenElsewhere(files, count);
  if (!found) return RUN_DONE;
  int close = g_Closing.Close;
  if (reports->Attended()) {
    char* names = programs.Describe();
    // the translated text is never a printf format
    char* text = SafeFormatAlloc(question, names ? names : "");
    const int answer = reports->Ask(NULL, text ? text : question, caption,
                                    MB_YESNOCANCEL | MB_ICONWARNING | (g_Closing.AskYes ? MB_DEFBUTTON1 : MB_DEFBUTTON2),
                                    close ? IDYES : IDNO);
    free(text);
    free(names);
    if (answer == IDCANCEL) {
      RunLogLine("Cancelled", "the programs that use the files were left running");
      return RUN_CANCELLED;
    }
    close = answer == IDYES;
  }
  if (!close) {
    RunLogLine("Programs left running", "as asked");
    return RUN_DONE;
  }
  const int running = programs.CloseAll(10000, g_Closing.Force);
  *stillHeld = running > 0 || AnyOpenElsewhere(files, count);
  return RUN_DONE;
}
