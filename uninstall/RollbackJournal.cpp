#include "uninstall/RollbackJournal.h"

#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/PathText.h"
#include "common/SafeFormat.h"
#include "platform/FilesInUse.h"
#include "platform/FrontEnd.h"
#include "platform/PrivateTemp.h"
#include "platform/RegistryHelpers.h"
#include "platform/RunLog.h"
#include "platform/TextEncoding.h"
#include "uninstall/LogLines.h"

namespace {

int IsFile(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A journal record built up field by field, each after a tab.
struct Record {
  char* Text = NULL;
  size_t Length = 0, Capacity = 0;
  bool Failed = false;
  ~Record() { free(Text); }
  void Add(const void* data, size_t n) {
    if (Failed) return;
    if (Length + n + 1 > Capacity) {
      const size_t capacity = (Length + n + 1) * 2;
      char* grown = (char*)realloc(Text, capacity);
      if (!grown) {
        Failed = true;
        return;
      }
      Text = grown;
      Capacity = capacity;
    }
    memcpy(Text + Length, data, n);
    Length += n;
    Text[Length] = '\0';
  }
  void Add(const char* text) { Add(text, strlen(text)); }
  void Field(const char* text) {
    Add("\t", 1);
    Add(text);
  }
  void HexField(const void* data, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    Add("\t", 1);
    const unsigned char* bytes = (const unsigned char*)data;
    for (size_t i = 0; i < n; ++i) {
      const char pair[2] = {kDigits[bytes[i] >> 4], kDigits[bytes[i] & 15]};
      Add(pair, 2);
    }
  }
  void HexField(const char* text) { HexField(text, strlen(text)); }
  // The record ended by its line feed, or null when memory ran out.
  const char* Line() {
    Add("\n", 1);
    return Failed ? NULL : Text;
  }
};

// One spelling per file: C:\App\a.txt, c:\app\..\App\A.TXT and the short
// name of it are one path. Looking up the long name costs a search per
// folder of the path, so only a path with a "~" gets it: every short name
// the system makes has one (a trail byte that looks like it only costs the
// search). It exists only for a file that is there.
int Normalize(const char* path, char* out) {
  char full[PATH_BYTES];
  DWORD n = GetFullPathNameA(path, PATH_BYTES, full, NULL);
  if (n == 0 || n >= PATH_BYTES) return 0;
  n = strchr(full, '~') ? GetLongPathNameA(full, out, PATH_BYTES) : 0;
  if (n == 0 || n >= PATH_BYTES) strcpy(out, full);
  CharUpperBuffA(out, (DWORD)strlen(out));
  return 1;
}

DWORD Hash(const char* text) {
  DWORD h = 2166136261u;
  for (const unsigned char* p = (const unsigned char*)text; *p; ++p) h = (h ^ *p) * 16777619u;
  return h;
}

// The journal's own failures are told in fixed English: the table may be
// the very file that could not go back.
void TellNotRestored(const char* path, const char* copy) {
  char* text = SafeFormatAlloc(
      "The file %s\ncould not be put back as it was before the installation.\n"
      "The original is kept as %s",
      path, copy);
  FrontEnd()->ShowFailure(NULL, text ? text : copy, "Error", MB_OK | MB_ICONWARNING);
  free(text);
}

// Calls visit(path, copy) for each record, newest first. Paths never hold a
// tab or a line feed, and neither is ever the trail byte of a double-byte
// character.
template <typename Visit>
void EachRecordNewestFirst(char* text, DWORD size, Visit visit) {
  char* end = text + size;
  while (end > text) {
    if (end[-1] == '\n') *--end = '\0';
    char* start = end;
    while (start > text && start[-1] != '\n') --start;
    char* tab = strchr(start, '\t');
    if (tab) {
      *tab = '\0';
      visit(start, tab + 1);
    }
    end = start;
  }
}

}  // namespace

CRollbackJournal::~CRollbackJournal() {
  CloseJournal();
  for (DWORD i = 0; i < m_Capacity; ++i) free(m_Slots[i].Path);
  free(m_Slots);
}

int CRollbackJournal::OpenJournal() {
  if (m_File) return 1;
  char dir[PATH_BYTES];
  HANDLE file = RunTempFolder(dir) ? CreateNewTempFile(dir, "RBJ", m_Path) : INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE) {
    m_Path[0] = '\0';
    return 0;
  }
  m_File = file;
  return 1;
}

int CRollbackJournal::Append(const char* record) {
  if (!record || !OpenJournal()) return 0;
  if (SetFilePointer(m_File, 0, NULL, FILE_END) == INVALID_SET_FILE_POINTER ||
      !WriteAll(m_File, record, strlen(record))) {
    if (GetLastError() == NO_ERROR) SetLastError(ERROR_DISK_FULL);
    return 0;
  }
  return 1;
}

void CRollbackJournal::CloseJournal() {
  if (m_File) CloseHandle(m_File);
  m_File = NULL;
  if (m_Path[0]) DeleteFileA(m_Path);
  m_Path[0] = '\0';
}

char* CRollbackJournal::ReadJournal(DWORD* size) { return m_File ? ReadWholeFile(m_File, size) : NULL; }

char* LogTextInRunCodePage(char* text, DWORD* size) {
  const int codePage = FindLogCodePage(text);
  if (!codePage || (UINT)codePage == GetACP()) return text;
  size_t converted = 0;
  char* ours = ConvertText(text, *size, (UINT)codePage, CP_ACP, &converted);
  free(text);
  *size = (DWORD)converted;
  return ours;
}

CRollbackJournal::Slot* CRollbackJournal::Find(const char* key) const {
  if (!m_Capacity) return NULL;
  for (DWORD i = Hash(key) & (m_Capacity - 1);; i = (i + 1) & (m_Capacity - 1)) {
    if (!m_Slots[i].Path) return NULL;
    if (!strcmp(m_Slots[i].Path, key)) return &m_Slots[i];
  }
}

CRollbackJournal::Slot* CRollbackJournal::Add(const char* key) {
  if (Slot* there = Find(key)) return there;
  if ((m_Count + 1) * 2 > m_Capacity) {
    const DWORD capacity = m_Capacity ? m_Capacity * 2 : 64;
    Slot* slots = (Slot*)calloc(capacity, sizeof(Slot));
    if (!slots) return NULL;
    for (DWORD i = 0; i < m_Capacity; ++i) {
      if (!m_Slots[i].Path) continue;
      DWORD j = Hash(m_Slots[i].Path) & (capacity - 1);
      while (slots[j].Path) j = (j + 1) & (capacity - 1);
      slots[j] = m_Slots[i];
    }
    free(m_Slots);
    m_Slots = slots;
    m_Capacity = capacity;
  }
  char* copy = strdup(key);
  if (!copy) return NULL;
  DWORD i = Hash(key) & (m_Capacity - 1);
  while (m_Slots[i].Path) i = (i + 1) & (m_Capacity - 1);
  m_Slots[i].Path = copy;
  m_Slots[i].Restored = 0;
  ++m_Count;
  return &m_Slots[i];
}

void CRollbackJournal::NoteWritten(const char* path) {
  char key[PATH_BYTES];
  if (path && Normalize(path, key)) Add(key);
}

// A swap at the restart: "*S", the new file beside, the path, after tabs.
const char kJournalSwapRecord[] = "*S";

int CRollbackJournal::NoteSwapAtRestart(const char* beside, const char* path) {
  Record r;
  r.Add(kJournalSwapRecord);
  r.Field(beside);
  r.Field(path);
  return Append(r.Line());
}

int CRollbackJournal::KeepOriginal(const char* path, char* kept) {
  char key[PATH_BYTES], folder[PATH_BYTES];
  char* name = NULL;
  if (kept) kept[0] = '\0';
  if (!path || !Normalize(path, key)) return 0;
  // What this run wrote is undone by the log; its original, if there was
  // one, is kept already.
  if (Find(key)) return 1;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return 1;  // no file; nothing can replace it
  // Windows refuses to replace these with a new normal file; so do we,
  // rather than move them out of the way.
  if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  const DWORD n = GetFullPathNameA(path, PATH_BYTES, folder, &name);
  if (n == 0 || n >= PATH_BYTES || !name) return 0;
  *name = '\0';
  // Beside the original: the same volume, so the move is a rename.
  char copy[PATH_BYTES];
  if (!OpenJournal() || !CreateUniqueFileIn(folder, "QSO", copy)) return 0;
  if (!MoveFileExA(path, copy, MOVEFILE_REPLACE_EXISTING)) {
    const DWORD error = GetLastError();
    DeleteFileA(copy);
    SetLastError(error);
    return 0;
  }
  Record r;
  r.Add(path);
  r.Field(copy);
  if (!Append(r.Line())) {
    // unrecorded, it could not be put back: undo the move
    const DWORD error = GetLastError();
    MoveFileExA(copy, path, 0);
    SetLastError(error);
    return 0;
  }
  // Without memory a second replacement keeps this run's copy as well; the
  // rollback then puts it back first and the original over it.
  Add(key);
  if (kept) strcpy(kept, copy);
  return 1;
}

void CRollbackJournal::RestoreOriginals() {
  DWORD size = 0;
  char* text = ReadJournal(&size);
  if (text) {
    EachRecordNewestFirst(text, size, [this](const char* path, char* copy) {
      char key[PATH_BYTES];
      if (!strcmp(path, kJournalSwapRecord)) {
        // the file in use stays as it was: its swap is called off, and the
        // log's replay passes it over
        char* tab = strchr(copy, '\t');
        if (!tab) return;
        *tab = '\0';
        if (!CancelScheduledMove(copy, tab + 1)) RunLogLine("Replacement at the restart not called off", tab + 1);
        Slot* slot = Normalize(tab + 1, key) ? Add(key) : NULL;
        if (slot) slot->Restored = 1;
        return;
      }
      if (*path == '*') return;  // a value's record: RestoreValues
      if (!MoveFileExA(copy, path, MOVEFILE_REPLACE_EXISTING)) {
        TellNotRestored(path, copy);
        return;
      }
      Slot* slot = Normalize(path, key) ? Add(key) : NULL;
      if (slot) slot->Restored = 1;
    });
    free(text);
  }
}

int CRollbackJournal::WasRestored(const char* path) const {
  char key[PATH_BYTES];
  if (!path || !Normalize(path, key)) return 0;
  const Slot* slot = Find(key);
  return slot && slot->Restored;
}

int CRollbackJournal::DiscardOriginals() {
  DWORD size = 0;
  int scheduled = 0;
  char* text = ReadJournal(&size);
  if (text) {
    EachRecordNewestFirst(text, size, [&scheduled](const char* path, const char* copy) {
      if (*path == '*') return;
      if (DeleteEvenReadOnly(copy)) return;
      // one still in use (a program that runs) goes when Windows next starts
      if (ScheduleAtRestart(copy, NULL)) {
        ++scheduled;
        RunLogLine("Old file in use: deleted at the restart", copy);
      } else {
        RunLogLine("Old file in use: kept, its deletion at the restart cannot be scheduled", copy);
      }
    });
    free(text);
  }
  CloseJournal();
  return scheduled;
}

// Values the run overwrites. Records start with "*" (no path does), then a
// letter, then fields after tabs; names and data are written in hex, so a
// tab or a line feed inside them cannot cut a record:
//   *I file section key state value   an INI entry: state "=" with its old
//                                     text, "-" missing, "!" its section too
//   *R root key name type data  a registry value: type "-" when missing
//   *K root key                 the outermost key the run created
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// hex decoded in place, zero-terminated; its byte count, or -1.
long FromHex(char* text) {
  const size_t n = strlen(text);
  if (n % 2) return -1;
  for (size_t i = 0; i < n; i += 2) {
    const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return -1;
    text[i / 2] = (char)(hi * 16 + lo);
  }
  text[n / 2] = '\0';
  return (long)(n / 2);
}

// Splits a record's fields (after its first tab) in place; their count.
int Fields(char* text, char** fields, int max) {
  int count = 0;
  while (text && count < max) {
    fields[count++] = text;
    char* tab = strchr(text, '\t');
    if (tab) *tab++ = '\0';
    text = tab;
  }
  return count;
}

// A section's lines, or (null section) the file's section names, into a
// buffer grown until the list fits; null when memory runs out. Wide: the
// narrow calls of a program in the ANSI code page lose every character of
// a UTF-16 file that code page lacks.
WCHAR* ReadIniList(const WCHAR* section, const WCHAR* file) {
  for (DWORD size = 4096; size <= (1u << 24); size *= 4) {
    WCHAR* buffer = (WCHAR*)malloc(size * sizeof(WCHAR));
    if (!buffer) return NULL;
    const DWORD n = section ? GetPrivateProfileSectionW(section, buffer, size, file)
                            : GetPrivateProfileSectionNamesW(buffer, size, file);
    if (n < size - 2) {
      buffer[n] = buffer[n + 1] = L'\0';
      return buffer;
    }
    free(buffer);
  }
  return NULL;
}

// The names in a list of zero-terminated strings ended by an empty one.
template <typename Visit>
void EachListed(const WCHAR* list, Visit visit) {
  for (const WCHAR* p = list; *p; p += lstrlenW(p) + 1) visit(p);
}

int SameName(const WCHAR* a, const WCHAR* b, size_t bLength) {
  return (size_t)lstrlenW(a) == bLength &&
         CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a, -1, b, (int)bLength) == CSTR_EQUAL;
}

// The entry's text as the file holds it (quotes kept), found in its
// section's lines; 1 when there, 0 when missing, -1 when it cannot be read.
int ReadIniEntry(const WCHAR* file, const WCHAR* section, const WCHAR* key, WCHAR** value) {
  *value = NULL;
  WCHAR* lines = ReadIniList(section, file);
  if (!lines) return -1;
  // the system trims the blanks around a key name
  const WCHAR* start = key;
  while (*start == L' ') ++start;
  size_t keyLength = (size_t)lstrlenW(start);
  while (keyLength && start[keyLength - 1] == L' ') --keyLength;
  int found = 0;
  EachListed(lines, [&](const WCHAR* line) {
    if (found) return;
    const WCHAR* equals = wcschr(line, L'=');
    if (!equals) return;
    size_t n = (size_t)(equals - line);
    while (n && line[n - 1] == L' ') --n;
    if (n != keyLength || CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, start, (int)keyLength, line,
                                         (int)n) != CSTR_EQUAL)
      return;
    const WCHAR* text = equals + 1;
    while (*text == L' ') ++text;
    const size_t bytes = ((size_t)lstrlenW(text) + 1) * sizeof(WCHAR);
    *value = (WCHAR*)malloc(bytes);
    if (*value) memcpy(*value, text, bytes);
    found = *value ? 1 : -1;
  });
  free(lines);
  return found;
}

int SectionExists(const WCHAR* file, const WCHAR* section) {
  WCHAR* names = ReadIniList(NULL, file);
  if (!names) return -1;
  int found = 0;
  EachListed(names, [&](const WCHAR* name) {
    if (SameName(section, name, (size_t)lstrlenW(name))) found = 1;
  });
  free(names);
  return found;
}

// Every section line deleted leaves "[Section]" alone: one the run made goes.
void DeleteSectionIfEmpty(const WCHAR* file, const WCHAR* section) {
  WCHAR* lines = ReadIniList(section, file);
  if (lines && !lines[0]) WritePrivateProfileStringW(section, NULL, NULL, file);
  free(lines);
}

// The UTF-16 text of a hex field decoded in place; a new string, or null.
WCHAR* WideFromHex(char* field) {
  const long n = FromHex(field);
  if (n < 0 || n % 2) return NULL;
  WCHAR* text = (WCHAR*)malloc((size_t)n + sizeof(WCHAR));
  if (!text) return NULL;
  memcpy(text, field, (size_t)n);
  text[n / 2] = L'\0';
  return text;
}

char* FlagKey(char kind, const char* a, const char* b, const char* c) {
  Record r;
  const char prefix[3] = {'*', kind, '\0'};
  r.Add(prefix);
  const char* const parts[3] = {a, b, c};
  for (const char* part : parts) {
    if (!part) continue;
    r.Add("\x01", 1);
    r.Add(part);
  }
  if (r.Failed) return NULL;
  CharUpperBuffA(r.Text, (DWORD)r.Length);
  char* key = r.Text;
  r.Text = NULL;
  return key;
}

void RestoreIni(char** f, int n) {
  if (n < 5 || FromHex(f[1]) < 0 || FromHex(f[2]) < 0) return;
  const char* file = f[0];
  // the file went with the run: nothing to put back into it
  if (!IsFile(file)) return;
  const char state = f[3][0];
  WCHAR* wideFile = WideOf(file);
  WCHAR* section = WideOf(f[1]);
  WCHAR* key = WideOf(f[2]);
  WCHAR* value = state == '=' ? WideFromHex(f[4]) : NULL;
  if (wideFile && section && key) {
    if (state == '=') {
      if (value) WritePrivateProfileStringW(section, key, value, wideFile);
    } else {
      WritePrivateProfileStringW(section, key, NULL, wideFile);
      if (state == '!') DeleteSectionIfEmpty(wideFile, section);
    }
  }
  free(wideFile);
  free(section);
  free(key);
  free(value);
}

// The value's old type and bytes, as the wide calls store them: the narrow
// ones convert a string to the program's code page and back.
void RestoreRegistryValue(char** f, int n) {
  HKEY root = n >= 5 ? RegistryRootFromName(f[0]) : NULL;
  if (!root || FromHex(f[1]) < 0 || FromHex(f[2]) < 0) return;
  HKEY key = OpenRegistryPath(root, f[1], KEY_SET_VALUE);
  if (!key) return;  // gone with a key the run made
  WCHAR* name = WideOf(f[2]);
  if (name && !strcmp(f[3], "-")) {
    RegDeleteValueW(key, name);
  } else if (name) {
    const long size = FromHex(f[4]);
    if (size >= 0) RegSetValueExW(key, name, 0, (DWORD)strtoul(f[3], NULL, 10), (const BYTE*)f[4], (DWORD)size);
  }
  free(name);
  RegCloseKey(key);
}

}  // namespace

int CRollbackJournal::KeepIniValue(const char* file, const char* section, const char* key) {
  char normal[PATH_BYTES];
  if (!file || !section || !key || !Normalize(file, normal)) return 0;
  // a file this run made is deleted whole
  if (Find(normal) || !IsFile(file)) return 1;
  char* flag = FlagKey('I', normal, section, key);
  if (!flag) return 0;
  const int known = Find(flag) != NULL;
  WCHAR* value = NULL;
  WCHAR* wideFile = WideOf(file);
  WCHAR* wideSection = WideOf(section);
  WCHAR* wideKey = WideOf(key);
  int ok = wideFile && wideSection && wideKey;
  const int entry = known || !ok ? 0 : ReadIniEntry(wideFile, wideSection, wideKey, &value);
  const int hasSection = entry == 0 && !known && ok ? SectionExists(wideFile, wideSection) : 1;
  ok = ok && entry >= 0 && hasSection >= 0;
  if (ok && !known) {
    Record r;
    r.Add(kJournalIniRecord);
    r.Field(file);
    r.HexField(section);
    r.HexField(key);
    r.Field(entry ? "=" : hasSection ? "-" : "!");
    // the old text in UTF-16, every character of it
    r.HexField(value, entry && value ? (size_t)lstrlenW(value) * sizeof(WCHAR) : 0);
    ok = Append(r.Line());
    // the first record of an entry holds the value from before the run
    if (ok && entry) ok = Add(flag) != NULL;
  }
  free(value);
  free(wideFile);
  free(wideSection);
  free(wideKey);
  free(flag);
  return ok;
}

int CRollbackJournal::HadIniValue(const char* file, const char* section, const char* key) const {
  char normal[PATH_BYTES];
  if (!file || !section || !key || !Normalize(file, normal)) return 0;
  char* flag = FlagKey('I', normal, section, key);
  const int had = flag && Find(flag);
  free(flag);
  return had;
}

int CRollbackJournal::KeepRegistryValue(const char* rootName, const char* keyPath, const char* valueName) {
  HKEY root = RegistryRootFromName(rootName);
  if (!root) return 0;
  HKEY key = OpenRegistryPath(root, keyPath, KEY_QUERY_VALUE);
  if (!key) return 1;  // a key the run makes: KeepRegistryKeys has it
  WCHAR* name = WideOf(valueName ? valueName : "");
  DWORD type = 0, size = 0;
  // the stored bytes, a string's in UTF-16 as they stand
  LONG r = name ? RegQueryValueExW(key, name, NULL, &type, NULL, &size) : ERROR_OUTOFMEMORY;
  BYTE* data = NULL;
  // grown while the value grows between the two calls
  while (r == ERROR_SUCCESS || r == ERROR_MORE_DATA) {
    free(data);
    data = (BYTE*)malloc(size ? size : 1);
    r = data ? RegQueryValueExW(key, name, NULL, &type, data, &size) : ERROR_OUTOFMEMORY;
    if (r != ERROR_MORE_DATA) break;
  }
  free(name);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) {
    free(data);
    return 0;
  }
  Record rec;
  rec.Add(kJournalRegistryValueRecord);
  rec.Field(rootName);
  rec.HexField(keyPath);
  rec.HexField(valueName);
  if (r == ERROR_SUCCESS) {
    char number[16];
    wsprintfA(number, "%lu", (unsigned long)type);
    rec.Field(number);
    rec.HexField(data, size);
  } else {
    rec.Field("-");
    rec.Field("");
  }
  free(data);
  return Append(rec.Line());
}

int CRollbackJournal::KeepRegistryKeys(const char* rootName, const char* keyPath) {
  HKEY root = RegistryRootFromName(rootName);
  if (!root) return 0;
  char* path = strdup(keyPath);
  if (!path) return 0;
  // the shortest prefix that is missing; key names end at "/"
  int ok = 1;
  for (char* end = path;; ++end) {
    if (*end != '/' && *end != '\0') continue;
    const char saved = *end;
    *end = '\0';
    HKEY key = path[0] ? OpenRegistryPath(root, path, KEY_READ) : NULL;
    if (key) {
      RegCloseKey(key);
    } else if (path[0]) {
      Record r;
      r.Add(kJournalCreatedKeyRecord);
      r.Field(rootName);
      r.HexField(path);
      ok = Append(r.Line());
      break;
    }
    *end = saved;
    if (!saved) break;
  }
  free(path);
  return ok;
}

int CRollbackJournal::NoteListedKey(const char* rootName, const char* keyPath) {
  HKEY root = RegistryRootFromName(rootName);
  HKEY key = root ? OpenRegistryPath(root, keyPath, KEY_READ) : NULL;
  if (!key) return 1;  // made by the run, removed by its rollback
  RegCloseKey(key);
  char* flag = FlagKey('E', rootName, keyPath, NULL);
  const int ok = flag && Add(flag);
  free(flag);
  return ok;
}

int CRollbackJournal::HadRegistryKey(const char* rootName, const char* keyPath) const {
  char* flag = FlagKey('E', rootName, keyPath, NULL);
  const int had = flag && Find(flag);
  free(flag);
  return had;
}

void CRollbackJournal::RestoreValues() {
  DWORD size = 0;
  char* text = ReadJournal(&size);
  if (text) {
    EachRecordNewestFirst(text, size, [](const char* kind, const char* rest) {
      if (kind[0] != '*') return;
      char* f[6];
      const int n = Fields(const_cast<char*>(rest), f, 6);
      if (strncmp(kind, kJournalIniRecord, 2) == 0) RestoreIni(f, n);
      if (strncmp(kind, kJournalRegistryValueRecord, 2) == 0) RestoreRegistryValue(f, n);
      if (strncmp(kind, kJournalCreatedKeyRecord, 2) == 0 && n >= 2 && FromHex(f[1]) >= 0 && RegistryRootFromName(f[0]))
        DeleteRegistryTree(RegistryRootFromName(f[0]), f[1]);
    });
    free(text);
  }
  CloseJournal();
}

int CreateUniqueFileIn(const char* folder, const char* prefix, char* out, TempFileNameMaker maker) {
  // the system's rules count characters; out holds PATH_BYTES
  const size_t length = MbcsLength(folder, strlen(folder));
  if (length <= MAX_PATH - 14) return maker(folder, prefix, 0, out) != 0;
  char base[PATH_BYTES];
  if (!PathJoin(base, sizeof base, folder, "")) return 0;
  const size_t baseLength = MbcsLength(base, strlen(base));
  if (baseLength >= MAX_PATH - 1) return 0;
  const size_t room = MAX_PATH - 1 - baseLength;
  // the system's form, or as many hex digits as fit
  const bool full = room >= strlen(prefix) + 8;
  const int digits = full ? 4 : (room < 4 ? (int)room : 4);
  const DWORD count = 1u << (4 * digits);
  const DWORD start = GetTickCount();
  for (DWORD i = 0; i < count; ++i) {
    char name[16];
    const DWORD n = (start + i) & (count - 1);
    if (full) {
      wsprintfA(name, "%s%04X.tmp", prefix, (unsigned)n);
    } else {
      for (int d = 0; d < digits; ++d) name[d] = "0123456789ABCDEF"[(n >> (4 * (digits - 1 - d))) & 15];
      name[digits] = '\0';
    }
    if (!PathJoin(out, PATH_BYTES, base, name)) return 0;
    HANDLE file = CreateFileA(out, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return 1;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return 0;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}
