#include "platform/RunLog.h"

#include "common/Mbcs.h"

#include <windows.h>
#include <string.h>

#include "common/PathText.h"

namespace {

HANDLE g_Log = INVALID_HANDLE_VALUE;

void Write(const char* text, size_t n) {
  DWORD written = 0;
  if (n) WriteFile(g_Log, text, static_cast<DWORD>(n), &written, NULL);
}

void WriteText(const char* text) { Write(text, strlen(text)); }

}  // namespace

int OpenRunLog(const char* path, int append) {
  CloseRunLog();
  // shared for reading: a deployment tool may follow it while it grows
  g_Log = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, NULL);
  if (g_Log != INVALID_HANDLE_VALUE && append) SetFilePointer(g_Log, 0, NULL, FILE_END);
  return g_Log != INVALID_HANDLE_VALUE;
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
  const DWORD n = GetTempPathA(PATH_BYTES, folder);
  if (n == 0 || n >= PATH_BYTES) return 0;
  return PathJoin(path, PATH_BYTES, folder, name);
}
