#include "platform/RunLog.h"

#include "common/Mbcs.h"

#include <windows.h>
#include <shlobj.h>
#include <string.h>

#include "common/PathText.h"
#include "platform/PrivateTemp.h"

namespace {

HANDLE g_Log = INVALID_HANDLE_VALUE;
// The default path last given out: nobody chose it, so whatever is there
// is not trusted.
char g_DefaultPath[PATH_BYTES];

void Write(const char* text, size_t n) {
  DWORD written = 0;
  if (n) WriteFile(g_Log, text, static_cast<DWORD>(n), &written, NULL);
}

void WriteText(const char* text) { Write(text, strlen(text)); }

}  // namespace

int OpenRunLog(const char* path, int append) {
  CloseRunLog();
  // shared for reading: a deployment tool may follow it while it grows
  if (!g_DefaultPath[0] || strcmp(path, g_DefaultPath) != 0) {
    g_Log = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, NULL);
    if (g_Log != INVALID_HANDLE_VALUE && append) SetFilePointer(g_Log, 0, NULL, FILE_END);
    return g_Log != INVALID_HANDLE_VALUE;
  }
  // A link at the default path is opened as itself and refused, as is a
  // second name of another file: the run's lines would land in that file.
  g_Log = CreateFileA(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (g_Log == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(g_Log, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      info.nNumberOfLinks > 1 || SetFilePointer(g_Log, 0, NULL, append ? FILE_END : FILE_BEGIN) ==
                                     INVALID_SET_FILE_POINTER ||
      (!append && !SetEndOfFile(g_Log))) {
    CloseRunLog();
    return 0;
  }
  return 1;
}

void CloseRunLog() {
  if (g_Log != INVALID_HANDLE_VALUE) CloseHandle(g_Log);
  g_Log = INVALID_HANDLE_VALUE;
}

int RunLogIsOpen() { return g_Log != INVALID_HANDLE_VALUE; }

void RunLogLine(const char* kind, const char* text) {
  if (g_Log == INVALID_HANDLE_VALUE) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[16];
  wsprintfA(stamp, "%02u:%02u:%02u ", now.wHour, now.wMinute, now.wSecond);
  WriteText(stamp);
  WriteText(kind);
  WriteText(": ");
  // "\n" of a message, and the "|" turned into one, go on indented lines;
  // a line feed is never the trail byte of a double-byte character
  const char* p = text ? text : "";
  for (;;) {
    const char* end = strchr(p, '\n');
    size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
    if (n && p[n - 1] == '\r') --n;
    Write(p, n);
    WriteText("\r\n");
    if (!end) break;
    p = end + 1;
    WriteText("         ");
  }
}

void RunLogLineWith(const char* kind, const char* text, const char* arg) {
  if (g_Log == INVALID_HANDLE_VALUE) return;
  char line[2 * PATH_BYTES + 256];
  const char* at = strstr(text, "%s");
  if (!at || strlen(text) + strlen(arg) >= sizeof line) {
    RunLogLine(kind, text);
    return;
  }
  const size_t head = static_cast<size_t>(at - text);
  memcpy(line, text, head);
  strcpy(line + head, arg);
  strcat(line, at + 2);
  RunLogLine(kind, line);
}

int DefaultRunLogPath(const char* name, char* path) {
  char folder[PATH_BYTES];
  g_DefaultPath[0] = '\0';
  if (RunsAsAdministrator()) {
    // the user's %TEMP% is the user's to change under an elevated run
    char data[MAX_PATH];
    if (!SHGetSpecialFolderPathA(NULL, data, CSIDL_COMMON_APPDATA, TRUE) ||
        !PathJoin(folder, PATH_BYTES, data, "Quillset") || !MakeAdministratorsFolder(folder))
      return 0;
  } else if (!SystemTempFolder(folder)) {
    return 0;
  }
  if (!PathJoin(path, PATH_BYTES, folder, name)) return 0;
  strcpy(g_DefaultPath, path);
  return 1;
}
