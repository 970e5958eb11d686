#include "uninstall/RollbackJournal.h"

#include <stdlib.h>
#include <string.h>

#include "common/SafeFormat.h"
#include "platform/FrontEnd.h"

namespace {

// One spelling per file: C:\App\a.txt, c:\app\..\App\A.TXT and the short
// name of it are one path. Looking up the long name costs a search per
// folder of the path, so only a path with a "~" gets it: every short name
// the system makes has one (a trail byte that looks like it only costs the
// search). It exists only for a file that is there.
int Normalize(const char* path, char* out) {
  char full[MAX_PATH];
  DWORD n = GetFullPathNameA(path, MAX_PATH, full, NULL);
  if (n == 0 || n >= MAX_PATH) return 0;
  n = strchr(full, '~') ? GetLongPathNameA(full, out, MAX_PATH) : 0;
  if (n == 0 || n >= MAX_PATH) strcpy(out, full);
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

CRollbackJournal::CRollbackJournal()
    : m_File(NULL), m_Slots(NULL), m_Capacity(0), m_Count(0) {
  m_Path[0] = '\0';
}

CRollbackJournal::~CRollbackJournal() {
  CloseJournal();
  for (DWORD i = 0; i < m_Capacity; ++i) free(m_Slots[i].Path);
  free(m_Slots);
}

int CRollbackJournal::OpenJournal() {
  if (m_File) return 1;
  char dir[MAX_PATH];
  const DWORD n = GetTempPathA(MAX_PATH, dir);
  if (n == 0 || n >= MAX_PATH || !GetTempFileNameA(dir, "RBJ", 0, m_Path)) {
    m_Path[0] = '\0';
    return 0;
  }
  HANDLE file = CreateFileA(m_Path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    DeleteFileA(m_Path);
    m_Path[0] = '\0';
    SetLastError(error);
    return 0;
  }
  m_File = file;
  return 1;
}

void CRollbackJournal::CloseJournal() {
  if (m_File) CloseHandle(m_File);
  m_File = NULL;
  if (m_Path[0]) DeleteFileA(m_Path);
  m_Path[0] = '\0';
}

char* CRollbackJournal::ReadJournal(DWORD* size) {
  if (!m_File) return NULL;
  DWORD high = 0;
  *size = GetFileSize(m_File, &high);
  if (*size == INVALID_FILE_SIZE || high) return NULL;
  char* text = (char*)malloc((size_t)*size + 1);
  DWORD got = 0;
  if (!text || SetFilePointer(m_File, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !ReadFile(m_File, text, *size, &got, NULL) || got != *size) {
    free(text);
    return NULL;
  }
  text[*size] = '\0';
  return text;
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
  const size_t n = strlen(key) + 1;
  char* copy = (char*)malloc(n);
  if (!copy) return NULL;
  memcpy(copy, key, n);
  DWORD i = Hash(key) & (m_Capacity - 1);
  while (m_Slots[i].Path) i = (i + 1) & (m_Capacity - 1);
  m_Slots[i].Path = copy;
  m_Slots[i].Restored = 0;
  ++m_Count;
  return &m_Slots[i];
}

void CRollbackJournal::NoteWritten(const char* path) {
  char key[MAX_PATH];
  if (path && Normalize(path, key)) Add(key);
}

int CRollbackJournal::KeepOriginal(const char* path) {
  char key[MAX_PATH], folder[MAX_PATH];
  char* name = NULL;
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
  const DWORD n = GetFullPathNameA(path, MAX_PATH, folder, &name);
  if (n == 0 || n >= MAX_PATH || !name) return 0;
  *name = '\0';
  // Beside the original: the same volume, so the move is a rename.
  char copy[MAX_PATH];
  if (!OpenJournal() || !GetTempFileNameA(folder, "QSO", 0, copy)) return 0;
  if (!MoveFileExA(path, copy, MOVEFILE_REPLACE_EXISTING)) {
    const DWORD error = GetLastError();
    DeleteFileA(copy);
    SetLastError(error);
    return 0;
  }
  const size_t p = strlen(path), c = strlen(copy);
  char record[2 * MAX_PATH + 2];
  memcpy(record, path, p);
  record[p] = '\t';
  memcpy(record + p + 1, copy, c);
  record[p + 1 + c] = '\n';
  const DWORD length = (DWORD)(p + c + 2);
  DWORD written = 0;
  if (SetFilePointer(m_File, 0, NULL, FILE_END) == INVALID_SET_FILE_POINTER ||
      !WriteFile(m_File, record, length, &written, NULL) || written != length) {
    // unrecorded, it could not be put back: undo the move
    const DWORD error = written != length && GetLastError() == NO_ERROR ? ERROR_DISK_FULL : GetLastError();
    MoveFileExA(copy, path, 0);
    SetLastError(error);
    return 0;
  }
  // Without memory a second replacement keeps this run's copy as well; the
  // rollback then puts it back first and the original over it.
  Add(key);
  return 1;
}

void CRollbackJournal::RestoreOriginals() {
  DWORD size = 0;
  char* text = ReadJournal(&size);
  if (text) {
    EachRecordNewestFirst(text, size, [this](const char* path, const char* copy) {
      if (!MoveFileExA(copy, path, MOVEFILE_REPLACE_EXISTING)) {
        TellNotRestored(path, copy);
        return;
      }
      char key[MAX_PATH];
      Slot* slot = Normalize(path, key) ? Add(key) : NULL;
      if (slot) slot->Restored = 1;
    });
    free(text);
  }
  CloseJournal();
}

int CRollbackJournal::WasRestored(const char* path) const {
  char key[MAX_PATH];
  if (!path || !Normalize(path, key)) return 0;
  const Slot* slot = Find(key);
  return slot && slot->Restored;
}

void CRollbackJournal::DiscardOriginals() {
  DWORD size = 0;
  char* text = ReadJournal(&size);
  if (text) {
    EachRecordNewestFirst(text, size, [](const char*, const char* copy) {
      // one still in use (a program that runs) goes when Windows next starts
      if (!DeleteFileA(copy)) MoveFileExA(copy, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    });
    free(text);
  }
  CloseJournal();
}
