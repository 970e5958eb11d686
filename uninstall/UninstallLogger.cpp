#include "uninstall/UninstallLogger.h"

#include "common/Mbcs.h"

#include <stdlib.h>
#include <string.h>

#include "common/SafeFormat.h"
#include "platform/FrontEnd.h"
#include "platform/PrivateTemp.h"
#include "platform/RunLog.h"
#include "platform/TextEncoding.h"
#include "uninstall/LogLines.h"

// The logger runs before the translation table exists: fixed English texts.
static void ShowLogError(const char* text) {
  FrontEnd()->ShowFailure(NULL, text, "Error", MB_OK);
}

CUninstallLogger::~CUninstallLogger() {
  CloseCurrent();
}

void CUninstallLogger::CloseCurrent() {
  if (m_File) {
    CloseHandle(m_File);
    m_File = NULL;
  }
  if (m_LogPath[0] && m_IsTemporary) DeleteFileA(m_LogPath);
  m_LogPath[0] = '\0';
  m_IsTemporary = 0;
  m_CodePageWritten = 0;
}

int CUninstallLogger::Close() {
  CloseCurrent();
  return 1;
}

static HANDLE OpenLogFile(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  return h == INVALID_HANDLE_VALUE ? NULL : h;
}

int CUninstallLogger::CreateTempLog() {
  CloseCurrent();
  char dir[PATH_BYTES];
  if (!RunTempFolder(dir)) {
    ShowLogError("Failed to find path to the temporary files directory.");
    return 0;
  }
  // made new and kept open: no line of another process's is ever replayed
  HANDLE file = CreateNewTempFile(dir, "UNI", m_LogPath);
  if (file == INVALID_HANDLE_VALUE) {
    m_LogPath[0] = '\0';
    ShowLogError("Failed to create uninstall log file in temporary files directory.");
    return 0;
  }
  m_File = file;
  m_IsTemporary = 1;
  return 1;
}

int CUninstallLogger::OpenLog(const char* path) {
  CloseCurrent();
  m_File = (path && strlen(path) < PATH_BYTES) ? OpenLogFile(path) : NULL;
  if (!m_File) {
    ShowLogError("Failed to open uninstall log file in temporary files directory.");
    return 0;
  }
  strcpy(m_LogPath, path);
  return 1;
}

int CUninstallLogger::WriteLine(const char* tag, const char* const* parts, int partCount) {
  // every change also goes to the readable log of the run, by its tag
  char kind[32];
  MbcsCopy(kind, sizeof kind, tag);
  if (char* equals = strchr(kind, '=')) *equals = '\0';
  if (partCount == 3)
    RunLogIniEntry(kind, parts[0], parts[1], parts[2]);
  else
    RunLogLine(kind, parts[0]);
  if (!m_File) return 0;
  size_t length = strlen(tag) + 1;  // the LF
  for (int i = 0; i < partCount; ++i) {
    // a line feed inside a value would forge a second record
    if (strchr(parts[i], '\n')) return 0;
    length += strlen(parts[i]) + (i ? 1 : 0);
  }
  char* line = (char*)malloc(length + 1);
  if (!line) return 0;
  char* p = line;
  size_t n = strlen(tag);
  memcpy(p, tag, n);
  p += n;
  for (int i = 0; i < partCount; ++i) {
    if (i) *p++ = ',';
    n = strlen(parts[i]);
    memcpy(p, parts[i], n);
    p += n;
  }
  *p++ = '\n';
  *p = '\0';
  // The bytes of a path mean what the code page says: the uninstaller may
  // run in another one (the same Windows updated, or one that runs us in
  // UTF-8 where this one did not). ASCII reads alike in all of them.
  if (!m_CodePageWritten) {
    int ascii = 1;
    for (const char* c = line; *c && ascii; ++c) ascii = (unsigned char)*c < 0x80;
    if (!ascii) {
      char codePage[LOG_CODEPAGE_LINE_BYTES];
      const size_t n = FormatLogCodePageLine(GetACP(), codePage);
      if (!WriteAll(m_File, codePage, n)) {
        free(line);
        return 0;
      }
      m_CodePageWritten = 1;
    }
  }
  const int ok = WriteAll(m_File, line, length);
  free(line);
  return ok;
}

void CUninstallLogger::RunLogIniEntry(const char* kind, const char* file, const char* section, const char* key) {
  const char* args[3] = {file, section, key};
  char* text = SafeFormatAllocList("%s, section [%s], key %s", args, 3);
  RunLogLine(kind, text ? text : file);
  free(text);
}

void CUninstallLogger::ShowWriteError() {
  ShowLogError("Failed to write uninstall log file in temporary files directory.");
}

int CUninstallLogger::LogFileCreated(const char* path) {
  m_Journal.NoteWritten(path);
  return WriteLine(LogRecordTag(LOGRECORD_FILE), &path, 1);
}

int CUninstallLogger::LogDirectoryCreated(const char* path) {
  return WriteLine(LogRecordTag(LOGRECORD_DIRECTORY), &path, 1);
}

int CUninstallLogger::LogIniFileEntryAdded(const char* iniFile, const char* section, const char* key) {
  const char* parts[3] = {iniFile, section, key};
  return WriteLine(LogRecordTag(LOGRECORD_INI_ENTRY), parts, 3);
}

int CUninstallLogger::LogSysRegSectionAdded(const char* keyPath) {
  return WriteLine(LogRecordTag(LOGRECORD_REGISTRY), &keyPath, 1);
}

int CUninstallLogger::LogListedRegistryKey(const char* keyPath, int onlyIfEmpty) {
  const char* slash = keyPath ? strchr(keyPath, '/') : NULL;
  if (slash && (size_t)(slash - keyPath) < 32) {
    char root[32];
    memcpy(root, keyPath, slash - keyPath);
    root[slash - keyPath] = '\0';
    if (!m_Journal.NoteListedKey(root, slash + 1)) return 0;
  }
  if (onlyIfEmpty) return WriteLine(LogRecordTag(LOGRECORD_REGISTRY_IF_EMPTY), &keyPath, 1);
  return LogSysRegSectionAdded(keyPath);
}

int CUninstallLogger::LogDllRegistered(const char* path) {
  return WriteLine(LogRecordTag(LOGRECORD_DLL), &path, 1);
}

// The whole log, read through our own handle: CopyFileA opens its source
// without write sharing, which Windows refuses while this handle may write
// (Wine allows it). Logging goes on where it stood.
char* CUninstallLogger::ReadOwnLog(DWORD* size) {
  LARGE_INTEGER zero, at;
  zero.QuadPart = 0;
  if (!m_File || !SetFilePointerEx(m_File, zero, &at, FILE_CURRENT)) return NULL;
  char* text = ReadWholeFile(m_File, size);
  if (!SetFilePointerEx(m_File, at, NULL, FILE_BEGIN)) {
    free(text);
    return NULL;
  }
  return text;
}

// A new file at targetPath holding size bytes of text; none is left after a failure.
static int WriteLogCopy(const char* targetPath, const char* text, size_t size) {
  HANDLE target = CreateFileA(targetPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (target == INVALID_HANDLE_VALUE) return 0;
  int ok = WriteAll(target, text, size);
  if (!CloseHandle(target)) ok = 0;
  if (!ok) DeleteFileA(targetPath);
  return ok;
}

int CUninstallLogger::CopyMergedLogTo(const char* targetPath, const char* earlier, size_t earlierSize) {
  DWORD size = 0;
  char* own = ReadOwnLog(&size);
  int ok = own != NULL;
  // An earlier log written in another code page (a Windows since
  // upgraded) joins in this run's: its lines converted, its code-page line
  // replaced by ours, so that the one line the replay reads holds for all.
  char* converted = NULL;
  const int codePage = ok && earlierSize ? FindLogCodePage(earlier) : 0;
  if (codePage && (UINT)codePage != GetACP()) {
    size_t n = 0;
    char* text = ConvertText(earlier, earlierSize, (UINT)codePage, CP_ACP, &n);
    converted = text ? (char*)malloc(n + LOG_CODEPAGE_LINE_BYTES) : NULL;
    if (converted) {
      size_t at = FormatLogCodePageLine(GetACP(), converted);
      for (const char* line = text; line < text + n;) {
        const char* lf = (const char*)memchr(line, '\n', (size_t)(text + n - line));
        const size_t length = lf ? (size_t)(lf - line) + 1 : (size_t)(text + n - line);
        if (!IsLogCodePageLine(line)) {
          memcpy(converted + at, line, length);
          at += length;
        }
        line += length;
      }
      earlier = converted;
      earlierSize = at;
    } else {
      ok = 0;
    }
    free(text);
  }
  size_t copySize = size;
  char* merged = ok && earlier ? MergeLogs(earlier, earlierSize, own, size, &copySize) : NULL;
  const char* copy = earlier ? merged : own;
  ok = ok && copy && WriteLogCopy(targetPath, copy, copySize);
  free(own);
  free(converted);
  free(merged);
  return ok;
}
