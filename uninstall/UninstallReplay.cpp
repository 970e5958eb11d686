// Undoing an uninstall log: the lines from the newest to the oldest, so that
// the contents of a folder go before the folder itself.
#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/SafeFormat.h"
#include "engine/FileSystem.h"
#include "engine/RegistryHelpers.h"
#include "engine/SystemLibrary.h"
#include "script/Translations.h"
#include "uninstall/UninstallLogger.h"
#include "uninstall/LogLines.h"

namespace {

typedef HRESULT(STDAPICALLTYPE* UnregisterServerProc)();

struct Exclusions {
  const char* const* paths;
  int count;
};

// Whole paths, case-insensitive the way the ANSI code page sees them:
// CompareStringA turns both strings into Unicode first, so the trail byte of
// a double-byte character is never folded as if it were a letter. Equal
// byte lengths keep linguistic equivalences ("ß" and "ss") apart, and
// SORT_STRINGSORT keeps "-" and "'" from being weighed apart from the rest.
int SamePath(const char* a, const char* b) {
  return strlen(a) == strlen(b) &&
         CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE | SORT_STRINGSORT, a, -1, b, -1) ==
             CSTR_EQUAL;
}

int IsExcluded(const Exclusions& ex, const char* path) {
  for (int i = 0; ex.paths && i < ex.count; ++i)
    if (ex.paths[i] && SamePath(ex.paths[i], path)) return 1;
  return 0;
}

// 1 when the last character of s is a separator; a folder whose name ends
// in a double-byte character with the trail byte of "\" does not.
int EndsWithSeparator(const char* s) {
  const char* last = NULL;
  for (const char* p = s; *p; p = MbcsNext(p)) last = p;
  return last && (*last == '\\' || *last == '/');
}

// folder + "\" (unless it ends in one) + name into out[MAX_PATH]; 0 when it
// does not fit.
int JoinPath(char* out, const char* folder, const char* name) {
  const size_t f = strlen(folder);
  const size_t sep = EndsWithSeparator(folder) ? 0 : 1;
  const size_t n = strlen(name);
  if (f + sep + n >= MAX_PATH) return 0;
  memcpy(out, folder, f);
  if (sep) out[f] = '\\';
  memcpy(out + f + sep, name, n + 1);
  return 1;
}

int IsDotEntry(const char* name) {
  return !strcmp(name, ".") || !strcmp(name, "..");
}

// 1 when the folder holds an entry that is not excluded.
int HasForeignContent(const char* folder, const Exclusions& ex) {
  char pattern[MAX_PATH], path[MAX_PATH];
  if (!JoinPath(pattern, folder, "*")) return 1;
  WIN32_FIND_DATAA fd;
  HANDLE find = FindFirstFileA(pattern, &fd);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int foreign = 0;
  do {
    if (IsDotEntry(fd.cFileName)) continue;
    // a path beyond MAX_PATH cannot be one of the excluded files
    if (!JoinPath(path, folder, fd.cFileName) || !IsExcluded(ex, path)) foreign = 1;
  } while (!foreign && FindNextFileA(find, &fd));
  FindClose(find);
  return foreign;
}

enum { kRemoved = 0, kKeptExcluded = 1, kLocked = 2 };

// Removes folder with everything in it but the excluded files: kRemoved (or
// it was no folder), kKeptExcluded when excluded files hold it back, kLocked
// when something could not be deleted.
int RemoveFolderTree(const char* folder, const Exclusions& ex) {
  if (!DirectoryExists(folder)) return kRemoved;
  char pattern[MAX_PATH], path[MAX_PATH];
  if (!JoinPath(pattern, folder, "*")) return kLocked;

  int subLocked = 0, subKept = 0;
  // The most recent entry that stayed; the next enumeration starts there
  // (retrying it after a deletion) or just past it (after a failure).
  char lastFailed[MAX_PATH] = "";
  int retryFailed = 0;
  for (;;) {
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA(pattern, &fd);
    if (find == INVALID_HANDLE_VALUE) break;
    int more = 1;
    if (lastFailed[0]) {
      while (more && strcmp(fd.cFileName, lastFailed)) more = FindNextFileA(find, &fd);
      // gone meanwhile: nothing to resume from, begin again
      if (!more) {
        FindClose(find);
        lastFailed[0] = '\0';
        continue;
      }
      if (!retryFailed) more = FindNextFileA(find, &fd);
    }
    int acted = 0, succeeded = 0;
    for (; more; more = FindNextFileA(find, &fd)) {
      if (IsDotEntry(fd.cFileName)) continue;
      const int fits = JoinPath(path, folder, fd.cFileName);
      if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // a junction goes as a link; what it points to is someone else's
        FindClose(find);
        succeeded = fits && RemoveDirectoryA(path);
        if (!succeeded) subLocked = 1;
      } else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        FindClose(find);
        const int r = fits ? RemoveFolderTree(path, ex) : kLocked;
        if (r == kLocked) subLocked = 1;
        if (r == kKeptExcluded) subKept = 1;
        succeeded = r == kRemoved;
      } else {
        if (fits && IsExcluded(ex, path)) continue;  // stays; passed over
        FindClose(find);
        succeeded = fits && DeleteFileA(path);
      }
      acted = 1;
      break;
    }
    if (!acted) {
      FindClose(find);
      break;  // the end of the folder: everything left stays
    }
    if (succeeded) {
      retryFailed = 1;
    } else {
      lstrcpynA(lastFailed, fd.cFileName, MAX_PATH);
      retryFailed = 0;
    }
  }

  if (subLocked) return kLocked;
  int keptExcluded = 0;
  WIN32_FIND_DATAA fd;
  HANDLE find = FindFirstFileA(pattern, &fd);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (IsDotEntry(fd.cFileName) || (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
      if (JoinPath(path, folder, fd.cFileName) && IsExcluded(ex, path)) {
        keptExcluded = 1;
      } else if (ex.paths && ex.count > 0) {
        FindClose(find);
        return kLocked;
      }
    } while (FindNextFileA(find, &fd));
    FindClose(find);
  }
  if (keptExcluded || subKept) return kKeptExcluded;
  return RemoveDirectoryA(folder) ? kRemoved : kLocked;
}

// English texts for a run without a table.
const char* EnglishText(const char* key) {
  if (!strcmp(key, "FOLDER_CONTAINS_NEW_FILES_OR_SUBFOLDERS"))
    return "The folder %s\nappears to contain files or subfolders that were not created by the "
           "installation program.\nDo you want to delete these files and/or folders?";
  if (!strcmp(key, "DELETING_INSTALLED_FILES_AND_FOLDERS"))
    return "Deleting installed files and folders.";
  if (!strcmp(key, "FOLDER_CONTAINS_LOCKED_FILES_OR_SUBFOLDERS"))
    return "The folder %s\nor some of the files or subfolders in it, could not be deleted.\nThey "
           "may be read-only, or in use by another program. You can try to delete these files "
           "manually later.";
  return key;
}

char* TextOf(const CTranslations* table, const char* key) {
  if (table) return table->GetString(key);
  const char* english = EnglishText(key);
  const size_t n = strlen(english) + 1;
  char* copy = (char*)malloc(n);
  if (copy) memcpy(copy, english, n);
  return copy;
}

// The folder message of textKey about folder; 0 when it cannot be shown.
int AskAboutFolder(const CTranslations* table, const char* textKey, const char* folder,
                   UINT style) {
  char* text = TextOf(table, textKey);
  char* caption = TextOf(table, "DELETING_INSTALLED_FILES_AND_FOLDERS");
  // the translated text is never a printf format
  char* message = text ? SafeFormatAlloc(text, folder) : NULL;
  int answer = 0;
  if (message && caption) answer = MessageBoxA(NULL, message, caption, style);
  free(message);
  free(caption);
  free(text);
  return answer;
}

void UndoDirectory(const char* folder, const Exclusions& ex, const CTranslations* table) {
  if (!DirectoryExists(folder)) return;
  if (HasForeignContent(folder, ex) &&
      AskAboutFolder(table, "FOLDER_CONTAINS_NEW_FILES_OR_SUBFOLDERS", folder,
                     MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;  // No, or no way to ask: the user's files stay
  if (RemoveFolderTree(folder, ex) == kLocked)
    AskAboutFolder(table, "FOLDER_CONTAINS_LOCKED_FILES_OR_SUBFOLDERS", folder, MB_ICONWARNING);
}

void UndoDllRegistration(const char* path) {
  // The search is limited to the system folder at start-up; the DLL's own
  // dependencies must still come from its folder.
  HMODULE dll = LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!dll) return;
  UnregisterServerProc unreg = ProcAddress<UnregisterServerProc>(dll, "DllUnregisterServer");
  if (unreg) unreg();
  FreeLibrary(dll);
}

// 0 when the line is malformed and the replay must stop.
int UndoLine(char* line, const Exclusions& ex, const CTranslations* table,
             const CRollbackJournal* restored) {
  LogRecord record;
  switch (ParseLogRecord(line, &record)) {
    case LOGRECORD_FILE:
      // the user's own file is back in its place
      if (restored && restored->WasRestored(record.Path)) break;
      DeleteFileA(record.Path);
      break;
    case LOGRECORD_DIRECTORY:
      UndoDirectory(record.Path, ex, table);
      break;
    case LOGRECORD_INI_ENTRY:
      // deletes the key; a missing file or key is no failure of the replay
      WritePrivateProfileStringA(record.Section, record.Key, NULL, record.Path);
      break;
    case LOGRECORD_REGISTRY: {
      HKEY root = RegistryRootFromName(record.Root);
      if (!root) return 0;
      DeleteRegistryTree(root, record.KeyPath);
      break;
    }
    case LOGRECORD_DLL:
      UndoDllRegistration(record.Path);
      break;
    case LOGRECORD_MALFORMED:
      return 0;
    case LOGRECORD_OTHER:
      break;  // other lines, empty ones included, are passed over
  }
  return 1;
}

}  // namespace

int CUninstallLogger::Replay(const char* const* exclusions, int count) {
  return ReplayKeeping(exclusions, count, NULL);
}

int CUninstallLogger::Rollback() {
  m_Journal.RestoreOriginals();
  return ReplayKeeping(NULL, 0, &m_Journal);
}

int CUninstallLogger::ReplayKeeping(const char* const* exclusions, int count,
                                    const CRollbackJournal* restored) {
  if (!m_File) return 0;
  DWORD high = 0;
  const DWORD size = GetFileSize(m_File, &high);
  if (size == INVALID_FILE_SIZE || high) return 0;
  if (size == 0) return 1;
  char* text = (char*)malloc((size_t)size + 1);
  if (!text) return 0;
  DWORD got = 0;
  if (SetFilePointer(m_File, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !ReadFile(m_File, text, size, &got, NULL) || got != size) {
    free(text);
    return 0;
  }
  text[size] = '\0';

  CLogLinesBackward lines;
  if (!lines.Start(text, size)) {
    free(text);
    return 0;  // not one complete line
  }
  const Exclusions ex = {exclusions, count};
  int result = 1;
  char* line;
  int hasZeroByte;
  while (lines.Next(&line, &hasZeroByte)) {
    if (hasZeroByte || !UndoLine(line, ex, m_Translations, restored)) {
      result = 0;
      break;
    }
  }
  free(text);
  return result;
}
