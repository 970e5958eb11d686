#include "platform/TextEncoding.h"

#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "script/FileParser.h"

// size bytes of text (-1: up to and with its zero) in code page from as
// UTF-16, after lead characters left for the caller and with room for a
// zero after it; *count is the number converted. Null when the text is not
// valid in that code page or memory runs out.
static WCHAR* Widen(const char* text, int size, UINT from, DWORD flags, int lead, int* count) {
  *count = size ? MultiByteToWideChar(from, flags, text, size, NULL, 0) : 0;
  if (size && *count <= 0) return NULL;
  WCHAR* w = (WCHAR*)malloc(((size_t)lead + *count + 1) * sizeof(WCHAR));
  if (w && *count) MultiByteToWideChar(from, flags, text, size, w + lead, *count);
  return w;
}

char* ConvertText(const char* text, size_t size, UINT from, UINT to, size_t* outSize) {
  *outSize = 0;
  if (size > 0x3FFFFFFF) return NULL;
  int wide = 0;
  WCHAR* w = Widen(text, (int)size, from, from == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, 0, &wide);
  if (!w) return NULL;
  const int n = wide ? WideCharToMultiByte(to, 0, w, wide, NULL, 0, NULL, NULL) : 0;
  char* out = (wide && n <= 0) ? NULL : (char*)malloc((size_t)n + 1);
  if (out) {
    if (n) WideCharToMultiByte(to, 0, w, wide, out, n, NULL, NULL);
    out[n] = '\0';
    *outSize = (size_t)n;
  }
  free(w);
  return out;
}

char* ReadWholeFile(HANDLE file, DWORD* size) {
  DWORD high = 0, got = 0;
  *size = GetFileSize(file, &high);
  char* text = *size != INVALID_FILE_SIZE && !high ? (char*)malloc((size_t)*size + 1) : NULL;
  if (!text || SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !ReadFile(file, text, *size, &got, NULL) || got != *size) {
    free(text);
    return NULL;
  }
  text[*size] = '\0';
  return text;
}

int WriteAll(HANDLE file, const void* data, size_t size) {
  DWORD written = 0;
  return WriteFile(file, data, (DWORD)size, &written, NULL) && written == size;
}

char* ReadWholeFile(const char* path, DWORD* size, DWORD share) {
  HANDLE file = CreateFileA(path, GENERIC_READ, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return NULL;
  char* text = ReadWholeFile(file, size);
  CloseHandle(file);
  // a stale "not found" must not pass for one
  if (!text) SetLastError(ERROR_READ_FAULT);
  return text;
}

static int WriteWhole(const char* path, const void* data, size_t size) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return 0;
  const int ok = WriteAll(h, data, size);
  return CloseHandle(h) && ok;
}

static int IsAscii(const char* text, size_t size) {
  for (size_t i = 0; i < size; ++i)
    if ((unsigned char)text[i] >= 0x80) return 0;
  return 1;
}

// Read here rather than by the parser: the C run time's files would bring
// their code into the program for this one read.
int LoadScriptInProgramCodePage(const char* path, CFileParser* parser) {
  DWORD size = 0;
  char* text = ReadWholeFile(path, &size);
  if (!text) return 0;
  size_t n = size;
  if (!MbcsIsUtf8() && !IsAscii(text, size) && Utf8IsValid(text, size)) {
    char* ansi = ConvertText(text, size, CP_UTF8, CP_ACP, &n);
    free(text);
    text = ansi;
  }
  const int ok = text && n < 0xFFFFFFFFu && parser->LoadText(text, (uint32_t)n) == 1;
  free(text);
  return ok;
}

int ConvertTableToUnicode(const char* path) {
  DWORD size = 0;
  char* text = ReadWholeFile(path, &size);
  if (!text) return 0;
  // a table written as UTF-16 already
  if (size >= 2 && (unsigned char)text[0] == 0xFF && (unsigned char)text[1] == 0xFE) {
    free(text);
    return 1;
  }
  const UINT from = Utf8IsValid(text, size) ? CP_UTF8 : CP_ACP;
  const char* start = text;
  if (from == CP_UTF8 && size >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) start += 3;
  const int inSize = (int)(size - (DWORD)(start - text));
  int wide = 0;
  WCHAR* w = Widen(start, inSize, from, 0, 1, &wide);
  int ok = 0;
  if (w) {
    w[0] = 0xFEFF;
    ok = WriteWhole(path, w, ((size_t)wide + 1) * sizeof(WCHAR));
    free(w);
  }
  free(text);
  return ok;
}

WCHAR* WideOf(const char* text) {
  int n = 0;
  return Widen(text ? text : "", -1, CP_ACP, 0, 0, &n);
}

BOOL WriteProfileText(const char* section, const char* key, const char* value, const char* file) {
  WCHAR* s = WideOf(section);
  WCHAR* k = key ? WideOf(key) : NULL;
  WCHAR* v = value ? WideOf(value) : NULL;
  WCHAR* f = WideOf(file);
  BOOL ok = FALSE;
  if (s && f && (!key || k) && (!value || v)) ok = WritePrivateProfileStringW(s, k, v, f);
  free(s);
  free(k);
  free(v);
  free(f);
  return ok;
}

UINT WINAPI MakeTempFileName(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR out) {
  WCHAR* f = WideOf(folder);
  WCHAR* p = WideOf(prefix);
  WCHAR wide[MAX_PATH];
  UINT made = f && p ? GetTempFileNameW(f, p, unique, wide) : 0;
  free(f);
  free(p);
  if (!made) return 0;
  // a name the program's code page cannot hold could not be opened by it
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, out, PATH_BYTES, NULL, GetACP() == CP_UTF8 ? NULL : &lossy);
  if (n <= 0 || lossy) {
    if (!unique) DeleteFileW(wide);
    out[0] = '\0';
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  return made;
}

HANDLE CreateNewTempFile(LPCSTR folder, LPCSTR prefix, LPSTR out, TempFileNameMaker maker) {
  // the names are made, not the files: one made by the name maker would
  // be closed, and so open to anyone, before it is opened here
  static DWORD calls;
  DWORD number = GetTickCount() ^ (GetCurrentProcessId() << 4) ^ (++calls * 0x9E3779B9u);
  for (int tries = 0; tries < 256; ++tries, number = number * 1103515245u + 12345u) {
    const UINT unique = ((number >> 8) & 0xFFFF) | 1;
    if (!maker(folder, prefix, unique, out)) break;
    HANDLE file =
        CreateFileA(out, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) return file;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  out[0] = '\0';
  return INVALID_HANDLE_VALUE;
}
