// Undoing an uninstall log: the lines from the newest to the oldest, so that
// the contents of a folder go before the folder itself.
#include <shlobj.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/PathText.h"
#include "common/SafeFormat.h"
#include "common/TextKeys.h"
#include "platform/FileSystem.h"
#include "platform/FilesInUse.h"
#include "platform/FrontEnd.h"
#include "platform/ProtectedFolder.h"
#include "platform/RunLog.h"
#include "platform/RegistryHelpers.h"
#include "platform/SystemLibrary.h"
#include "platform/TextEncoding.h"
#include "script/Translations.h"
#include "uninstall/UninstallLogger.h"
#include "uninstall/LogLines.h"

namespace {

typedef HRESULT(STDAPICALLTYPE* UnregisterServerProc)();

class CUserFolders;

// What stays in use: deleted at the restart where this run may schedule
// it, else left in place; the run's result says which.
struct InUse {
  CUserFolders* pending;  // files and folders deleted at the restart
  CUserFolders* kept;     // files that stay
  int scheduled;
  int left;
};

// The Add/Remove Programs entries of the installation an uninstall
// removes: they go last, and only when no file of it is left, for with
// files left the uninstaller stays and the entry is how it is found again.
struct LaterEntries {
  enum { kMax = 4 };
  const char* root[kMax];
  const char* keyPath[kMax];  // both point into the log's text
  int count;
};

struct Exclusions {
  const char* const* paths;
  int count;
  InUse* inUse;
  LaterEntries* entries;  // null in a rollback
};

// Where the replay notes the created folders that excluded files keep.
struct KeptFolders {
  char (*paths)[PATH_BYTES];
  int* count;
  int max;
};

// The folders the user chose to keep with their files (or that nobody was
// there to ask about): neither they nor a folder above them is asked about
// or removed later in the replay.
class CUserFolders {
 public:
  ~CUserFolders() {
    for (int i = 0; i < m_Count; ++i) free(m_Paths[i]);
    free(m_Paths);
  }
  void Add(const char* folder) {
    char* copy = strdup(folder);
    if (m_Count == m_Capacity) {
      const int capacity = m_Capacity ? m_Capacity * 2 : 16;
      char** grown = (char**)realloc(m_Paths, capacity * sizeof(char*));
      if (grown) {
        m_Paths = grown;
        m_Capacity = capacity;
      }
    }
    if (!copy || m_Count == m_Capacity) {
      // unrecorded, any folder may hold it: none is removed from here on
      free(copy);
      m_Lost = 1;
      return;
    }
    m_Paths[m_Count++] = copy;
  }
  // 1 when folder is a kept one or lies above one.
  int Holds(const char* folder) const;
  // 1 when path is one of them.
  int Contains(const char* path) const;

 private:
  char** m_Paths = nullptr;
  int m_Count = 0, m_Capacity = 0;
  int m_Lost = 0;
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

// 1 when path is folder or lies below it (whole names, any case).
int IsSameOrBelow(const char* folder, const char* path) {
  char top[PATH_BYTES];
  MbcsCopy(top, sizeof top, folder);
  PathTrimSeparators(top);
  const size_t n = strlen(top);
  if (n == 0 || strlen(path) < n) return 0;
  // n must end a character of path, and a separator must follow it there
  const char* p = path;
  while (*p && (size_t)(p - path) < n) p = MbcsNext(p);
  if ((size_t)(p - path) != n || (*p && *p != '\\' && *p != '/')) return 0;
  char head[PATH_BYTES];
  memcpy(head, path, n);
  head[n] = '\0';
  return SamePath(head, top);
}

int CUserFolders::Holds(const char* folder) const {
  if (m_Lost) return 1;
  for (int i = 0; i < m_Count; ++i)
    if (IsSameOrBelow(folder, m_Paths[i])) return 1;
  return 0;
}

int CUserFolders::Contains(const char* path) const {
  for (int i = 0; i < m_Count; ++i)
    if (SamePath(m_Paths[i], path)) return 1;
  return 0;
}

int IsPending(const Exclusions& ex, const char* path) {
  return ex.inUse && ex.inUse->pending->Contains(path);
}

// The excluded files, and what goes at the restart: both stay for now.
int IsExcluded(const Exclusions& ex, const char* path) {
  for (int i = 0; ex.paths && i < ex.count; ++i)
    if (ex.paths[i] && SamePath(ex.paths[i], path)) return 1;
  return IsPending(ex, path);
}

enum { kFileGone = 0, kFileScheduled = 1, kFileLeft = 2 };

// A file of the installation goes, read-only or not; one in use goes at
// the restart, and only where that cannot be scheduled does it stay.
int RemoveFile(const char* path, const Exclusions& ex) {
  if (DeleteEvenReadOnly(path)) return kFileGone;
  if (ScheduleAtRestart(path, NULL)) {
    ex.inUse->pending->Add(path);
    ++ex.inUse->scheduled;
    RunLogLine("File in use: deleted at the restart", path);
    return kFileScheduled;
  }
  // a folder's removal tries it again after each deletion: counted once
  if (!ex.inUse->kept->Contains(path)) {
    ex.inUse->kept->Add(path);
    ++ex.inUse->left;
    RunLogLine("File kept: in use, and its deletion at the restart cannot be scheduled", path);
  }
  return kFileLeft;
}

// folder + "\" (unless it ends in one) + name into out[PATH_BYTES]; 0 when it
// does not fit.
int JoinPath(char* out, const char* folder, const char* name) {
  return PathJoin(out, PATH_BYTES, folder, name);
}

int IsDotEntry(const char* name) {
  return !strcmp(name, ".") || !strcmp(name, "..");
}

// 1 when the folder holds an entry that is not excluded.
// Whether folder holds anything but excluded files and folders that hold
// only those: the uninstaller's own files in App keep App, and through it
// Co of %PROGRAMFILES%Co\App, without making either the user's.
int HasForeignContent(const char* folder, const Exclusions& ex, int depth = 0) {
  char pattern[PATH_BYTES], path[PATH_BYTES];
  if (!JoinPath(pattern, folder, "*")) return 1;
  FolderEntry fd;
  void* find = BeginFolderWalk(pattern, &fd);
  if (!find) return 0;
  int foreign = 0, excluded = 0;
  do {
    if (IsDotEntry(fd.name)) continue;
    // a path beyond PATH_BYTES cannot be one of the excluded files
    if (!JoinPath(path, folder, fd.name)) foreign = 1;
    else if (IsExcluded(ex, path)) excluded = 1;
    else if (!(fd.attributes & FILE_ATTRIBUTE_DIRECTORY) || !ex.count || depth > 32 ||
             HasForeignContent(path, ex, depth + 1) != 0)
      foreign = 1;
    else excluded = 1;
  } while (!foreign && NextFolderEntry(find, &fd));
  EndFolderWalk(find);
  // below the top, a folder without excluded files is somebody's
  if (depth > 0 && !foreign && !excluded) return 1;
  return foreign;
}

enum { kRemoved = 0, kKeptExcluded = 1, kLocked = 2 };

// Removes folder with everything in it but the excluded files: kRemoved (or
// it was no folder), kKeptExcluded when excluded files hold it back, kLocked
// when something could not be deleted.
int RemoveFolderTree(const char* folder, const Exclusions& ex) {
  if (!DirectoryExists(folder)) return kRemoved;
  char pattern[PATH_BYTES], path[PATH_BYTES];
  if (!JoinPath(pattern, folder, "*")) return kLocked;

  int subLocked = 0, subKept = 0, holdsPending = 0;
  // The most recent entry that stayed; the next enumeration starts there
  // (retrying it after a deletion) or just past it (after a failure).
  char lastFailed[PATH_BYTES] = "";
  int retryFailed = 0;
  for (;;) {
    FolderEntry fd;
    void* find = BeginFolderWalk(pattern, &fd);
    if (!find) break;
    int more = 1;
    if (lastFailed[0]) {
      while (more && strcmp(fd.name, lastFailed)) more = NextFolderEntry(find, &fd);
      // gone meanwhile: nothing to resume from, begin again
      if (!more) {
        EndFolderWalk(find);
        lastFailed[0] = '\0';
        continue;
      }
      if (!retryFailed) more = NextFolderEntry(find, &fd);
    }
    int acted = 0, succeeded = 0;
    for (; more; more = NextFolderEntry(find, &fd)) {
      if (IsDotEntry(fd.name)) continue;
      const int fits = JoinPath(path, folder, fd.name);
      if ((fd.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
          (fd.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // a junction goes as a link; what it points to is someone else's
        EndFolderWalk(find);
        succeeded = fits && RemoveDirectoryA(path);
        if (!succeeded) subLocked = 1;
      } else if (fd.attributes & FILE_ATTRIBUTE_DIRECTORY) {
        EndFolderWalk(find);
        const int r = fits ? RemoveFolderTree(path, ex) : kLocked;
        if (r == kLocked) subLocked = 1;
        if (r == kKeptExcluded) subKept = 1;
        if (r == kKeptExcluded && fits && IsPending(ex, path)) holdsPending = 1;
        succeeded = r == kRemoved;
      } else {
        if (fits && IsExcluded(ex, path)) continue;  // stays; passed over
        EndFolderWalk(find);
        succeeded = fits && RemoveFile(path, ex) == kFileGone;
      }
      acted = 1;
      break;
    }
    if (!acted) {
      EndFolderWalk(find);
      break;  // the end of the folder: everything left stays
    }
    if (succeeded) {
      retryFailed = 1;
    } else {
      MbcsCopy(lastFailed, PATH_BYTES, fd.name);
      retryFailed = 0;
    }
  }

  if (subLocked) return kLocked;
  int keptExcluded = 0;
  FolderEntry fd;
  void* find = BeginFolderWalk(pattern, &fd);
  if (find) {
    do {
      if (IsDotEntry(fd.name) || (fd.attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
      if (JoinPath(path, folder, fd.name) && IsExcluded(ex, path)) {
        keptExcluded = 1;
        if (IsPending(ex, path)) holdsPending = 1;
      } else if (ex.paths && ex.count > 0) {
        EndFolderWalk(find);
        return kLocked;
      }
    } while (NextFolderEntry(find, &fd));
    EndFolderWalk(find);
  }
  // after what it holds, the folder goes at the restart too
  if (holdsPending && ScheduleAtRestart(folder, NULL)) {
    ex.inUse->pending->Add(folder);
    RunLogLine("Folder in use: removed at the restart", folder);
  }
  if (keptExcluded || subKept) return kKeptExcluded;
  return RemoveDirectoryA(folder) ? kRemoved : kLocked;
}

// English texts for a run without a table.
const char* EnglishText(const char* key) {
  if (!strcmp(key, TK_FOLDER_CONTAINS_NEW_FILES_OR_SUBFOLDERS))
    return "The folder %s\nappears to contain files or subfolders that were not created by the "
           "installation program.\nDo you want to delete these files and/or folders?";
  if (!strcmp(key, TK_DELETING_INSTALLED_FILES_AND_FOLDERS))
    return "Deleting installed files and folders.";
  if (!strcmp(key, TK_FOLDER_CONTAINS_LOCKED_FILES_OR_SUBFOLDERS))
    return "The folder %s\nor some of the files or subfolders in it, could not be deleted.\nThey "
           "may be read-only, or in use by another program. You can try to delete these files "
           "manually later.";
  return key;
}

char* TextOf(const CTranslations* table, const char* key) {
  if (table) return table->GetString(key);
  return strdup(EnglishText(key));
}

// The folder message of format about folder; 0 when it cannot be shown.
// Nobody there answers No: the user's files stay.
int TellAboutFolder(const CTranslations* table, const char* format, const char* folder, UINT style) {
  char* caption = TextOf(table, TK_DELETING_INSTALLED_FILES_AND_FOLDERS);
  // the translated text is never a printf format
  char* message = SafeFormatAlloc(format, folder);
  int answer = 0;
  if (message && caption) {
    if ((style & MB_TYPEMASK) == MB_YESNO)
      answer = FrontEnd()->Ask(NULL, message, caption, style, IDNO);
    else
      FrontEnd()->ShowFailure(NULL, message, caption, style);
  }
  free(message);
  free(caption);
  return answer;
}

// The same with the text of textKey.
int AskAboutFolder(const CTranslations* table, const char* textKey, const char* folder, UINT style) {
  char* text = TextOf(table, textKey);
  const int answer = text ? TellAboutFolder(table, text, folder, style) : 0;
  free(text);
  return answer;
}

void UndoDirectory(const char* folder, const Exclusions& ex, const CTranslations* table, const KeptFolders& kept,
                   CUserFolders* users) {
  if (!DirectoryExists(folder)) return;
  // a folder the user kept with its files holds them: nothing above it is
  // the installation's to remove, nor to ask about
  if (users->Holds(folder)) {
    RunLogLine("Folder kept: it holds a folder kept with the user's files", folder);
    return;
  }
  if (IsProtectedFolder(folder)) {
    TellAboutFolder(table,
                    "The uninstall log names the folder %s, which is a drive or a folder of Windows. It was left "
                    "as it is.",
                    folder, MB_OK | MB_ICONWARNING);
    return;
  }
  if (HasForeignContent(folder, ex) &&
      AskAboutFolder(table, TK_FOLDER_CONTAINS_NEW_FILES_OR_SUBFOLDERS, folder,
                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
    users->Add(folder);
    RunLogLine("Folder kept with the user's files", folder);
    return;  // No, or no way to ask: the user's files stay
  }
  const int removed = RemoveFolderTree(folder, ex);
  if (removed == kRemoved) RunLogLine("Folder removed", folder);
  if (removed == kLocked)
    AskAboutFolder(table, TK_FOLDER_CONTAINS_LOCKED_FILES_OR_SUBFOLDERS, folder, MB_ICONWARNING);
  else if (removed == kKeptExcluded && *kept.count < kept.max)
    MbcsCopy(kept.paths[(*kept.count)++], PATH_BYTES, folder);
}

void RunLogRegistryKey(const char* kind, const char* root, const char* keyPath) {
  const char* args[2] = {root, keyPath};
  char text[2 * PATH_BYTES + 64];
  SafeFormat(text, sizeof text, "%s/%s", args, 2);
  RunLogLine(kind, text);
}

int IsAddRemoveEntry(const char* keyPath) {
  const size_t n = sizeof kUninstallEntryKeys - 1;
  return strlen(keyPath) > n &&
         CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, keyPath, (int)n, kUninstallEntryKeys, (int)n) == CSTR_EQUAL &&
         !MbcsFindChar(keyPath + n, '/');
}

// 1 when keyPath is an Add/Remove Programs entry whose InstallLocation
// names another folder than this installation's: a later version
// installed elsewhere took it over, and its uninstaller removes it.
int NamesAnotherInstallation(HKEY root, const char* keyPath, const char* folder) {
  if (!folder || !folder[0] || !IsAddRemoveEntry(keyPath)) return 0;
  char location[PATH_BYTES], ours[PATH_BYTES];
  ReadRegistryString(root, keyPath, "InstallLocation", "", location, sizeof location);
  location[sizeof location - 1] = '\0';
  if (!location[0]) return 0;  // an entry of an older version names none
  MbcsCopy(ours, sizeof ours, folder);
  PathTrimSeparators(location);
  PathTrimSeparators(ours);
  return !SamePath(location, ours);
}

void UndoDllRegistration(const char* path) {
  // The search is limited to the system folder at start-up; the DLL's own
  // dependencies must still come from its folder.
  HMODULE dll = LoadLibraryWithItsFolder(path);
  if (!dll) return;
  UnregisterServerProc unreg = ProcAddress<UnregisterServerProc>(dll, "DllUnregisterServer");
  if (unreg) unreg();
  FreeLibrary(dll);
}

// Every kind of record has its case below: one without does not build,
// rather than being passed over at every uninstall.
#pragma GCC diagnostic error "-Wswitch"

// 0 when the line is malformed and the replay must stop.
int UndoLine(char* line, const Exclusions& ex, const CTranslations* table, const KeptFolders& kept,
             CUserFolders* users, const CRollbackJournal* restored, const char* folder) {
  LogRecord record;
  switch (ParseLogRecord(line, &record)) {
    case LOGRECORD_FILE:
      // the user's own file is back in its place
      if (restored && restored->WasRestored(record.Path)) break;
      if (RemoveFile(record.Path, ex) == kFileGone) RunLogLine("File removed", record.Path);
      break;
    case LOGRECORD_DIRECTORY:
      UndoDirectory(record.Path, ex, table, kept, users);
      break;
    case LOGRECORD_INI_ENTRY:
      // an entry from before the run gets its old value back afterwards; a
      // file put back as it was holds only the user's entries
      if (restored && (restored->WasRestored(record.Path) ||
                       restored->HadIniValue(record.Path, record.Section, record.Key)))
        break;
      // deletes the key; a missing file or key is no failure of the replay
      WriteProfileText(record.Section, record.Key, NULL, record.Path);
      CUninstallLogger::RunLogIniEntry("INI entry removed", record.Path, record.Section, record.Key);
      break;
    case LOGRECORD_REGISTRY:
    case LOGRECORD_REGISTRY_IF_EMPTY: {
      HKEY root = RegistryRootFromName(record.Root);
      if (!root) return 0;
      // a key from before the run stays; its values come back one by one
      if (restored && restored->HadRegistryKey(record.Root, record.KeyPath)) break;
      if (record.Kind == LOGRECORD_REGISTRY_IF_EMPTY) {
        // a vendor key goes with the last of its programs
        if (DeleteRegistryKeyIfEmpty(root, record.KeyPath))
          RunLogLineWith("Registry key removed", "%s", record.KeyPath);
        break;
      }
      if (NamesAnotherInstallation(root, record.KeyPath, folder)) {
        RunLogRegistryKey("Add/Remove Programs entry kept: it names the installation in another folder", record.Root,
                          record.KeyPath);
        break;
      }
      LaterEntries* later = ex.entries;
      if (later && later->count < LaterEntries::kMax && IsAddRemoveEntry(record.KeyPath)) {
        later->root[later->count] = record.Root;
        later->keyPath[later->count++] = record.KeyPath;
        break;
      }
      DeleteRegistryTree(root, record.KeyPath);
      RunLogRegistryKey("Registry key removed", record.Root, record.KeyPath);
      break;
    }
    case LOGRECORD_DLL:
      UndoDllRegistration(record.Path);
      break;
    case LOGRECORD_MALFORMED:
      return 0;
    case LOGRECORD_OTHER:
    case LOGRECORD_KIND_COUNT:
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
  const int replayed = ReplayKeeping(NULL, 0, &m_Journal);
  m_Journal.RestoreValues();
  return replayed;
}

// The whole log in this run's code page, zero-terminated; null when it
// cannot be read.
char* CUninstallLogger::ReadWholeLog(DWORD* size) {
  *size = 0;
  char* text = m_File ? ReadWholeFile(m_File, size) : NULL;
  // a log written in another code page than this run's
  return text ? LogTextInRunCodePage(text, size) : NULL;
}

char** CUninstallLogger::ListCreatedFiles(int* count) {
  *count = 0;
  DWORD size = 0;
  char* text = ReadWholeLog(&size);
  CLogLinesBackward lines;
  if (!text || !size || !lines.Start(text, size)) {
    free(text);
    return NULL;
  }
  char** files = NULL;
  int capacity = 0;
  while (const char* path = lines.NextFile()) {
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) continue;
    if (*count == capacity) {
      capacity = capacity ? capacity * 2 : 16;
      char** grown = (char**)realloc(files, capacity * sizeof(char*));
      if (!grown) break;
      files = grown;
    }
    if (!(files[*count] = strdup(path))) break;
    ++*count;
  }
  free(text);
  return files;
}

int CUninstallLogger::ReplayKeeping(const char* const* exclusions, int count,
                                    const CRollbackJournal* restored) {
  m_KeptCount = 0;
  m_ScheduledCount = m_LeftCount = 0;
  DWORD size = 0;
  char* text = ReadWholeLog(&size);
  if (!text) return 0;
  if (size == 0) {
    free(text);
    return 1;
  }
  CLogLinesBackward lines;
  if (!lines.Start(text, size)) {
    free(text);
    return 0;  // not one complete line
  }
  CUserFolders users, pending, left;
  InUse inUse = {&pending, &left, 0, 0};
  LaterEntries entries = {};
  const Exclusions ex = {exclusions, count, &inUse, restored ? NULL : &entries};
  const KeptFolders kept = {m_Kept, &m_KeptCount, kMaxKept};
  int result = 1;
  char* line;
  int hasZeroByte;
  int shown = -1;
  while (lines.Next(&line, &hasZeroByte)) {
    // newest first: what lies behind this line is undone. In a double, as
    // the install's progress: 99 * done is exact and the quotient cannot
    // round up to the next whole percent, so it is the integer one without
    // the 64-bit division routine the x86 program would need for it
    const int percent = static_cast<int>(99.0 * (text + size - line) / size);
    if (m_Reports && percent != shown) m_Reports->Progress(shown = percent, NULL);
    if (hasZeroByte || !UndoLine(line, ex, m_Translations, kept, &users, restored, m_InstallFolder)) {
      result = 0;
      break;
    }
  }
  for (int i = 0; i < entries.count; ++i) {
    if (result && !inUse.left) {
      DeleteRegistryTree(RegistryRootFromName(entries.root[i]), entries.keyPath[i]);
      RunLogRegistryKey("Registry key removed", entries.root[i], entries.keyPath[i]);
    } else {
      RunLogRegistryKey("Add/Remove Programs entry kept: the uninstaller stays to be run again", entries.root[i],
                        entries.keyPath[i]);
    }
  }
  free(text);
  m_ScheduledCount = inUse.scheduled;
  m_LeftCount = inUse.left;
  return result;
}
