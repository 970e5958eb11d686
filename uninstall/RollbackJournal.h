// What a rollback needs beyond the uninstall log: the files the run replaced.
// An original is moved aside in its own folder (a rename on the same volume,
// no copy of the data) and the move is recorded in a journal file of this
// run only, made new in its temporary folder and used through the handle
// that made it: a rollback replays nothing that another process wrote. A rollback moves the
// originals back; a successful run deletes them.
#pragma once
#include <windows.h>

#include "common/Mbcs.h"
#include "platform/TextEncoding.h"

class CRollbackJournal {
 public:
  // constexpr: the setup's one journal is all zeros, with no code at start-up
  constexpr CRollbackJournal() : m_Path(), m_File(NULL), m_Slots(NULL), m_Capacity(0), m_Count(0) {}
  // Deletes the journal file; never a kept original.
  ~CRollbackJournal();

  // Before path is replaced: 1 when there is nothing to keep (no file there,
  // or one this run wrote) or the original was moved aside and recorded; 0
  // when it could not be kept, and path must then not be replaced. Read-only,
  // hidden and system files are refused (ERROR_ACCESS_DENIED), as replacing
  // them would be. copy, when given (PATH_BYTES), gets the place the
  // original went to, or "" when none was moved.
  int KeepOriginal(const char* path, char* copy = NULL);
  // The new file written beside path takes its place at the restart: a
  // rollback takes that move off the system's list and leaves path as it is.
  // 0 when it cannot be recorded.
  int NoteSwapAtRestart(const char* beside, const char* path);
  // path now holds a file of this run: replacing it later keeps nothing.
  void NoteWritten(const char* path);

  // Before an INI entry is written: its value as it stands, or that it (or
  // its whole section) is missing, so that a rollback puts it back. 0 when
  // that cannot be recorded; the entry must then not be written.
  int KeepIniValue(const char* file, const char* section, const char* key);
  // 1 when the entry stood before the run: the rollback writes its old value
  // back instead of deleting it.
  int HadIniValue(const char* file, const char* section, const char* key) const;
  // Before a registry value is written below rootName ("HKEY_..."): its old
  // type and data, or that it was missing. 0 when it cannot be recorded.
  int KeepRegistryValue(const char* rootName, const char* keyPath, const char* valueName);
  // Before keyPath is created: the outermost key of it that is missing, for
  // the rollback to delete with everything below. 0 when it cannot be
  // recorded.
  int KeepRegistryKeys(const char* rootName, const char* keyPath);
  // A key the uninstall log lists for removal: one that is there before the
  // run is left by the rollback (its values come back one by one). 0 when
  // it cannot be noted.
  int NoteListedKey(const char* rootName, const char* keyPath);
  int HadRegistryKey(const char* rootName, const char* keyPath) const;

  // Moves every kept original back over what is at its path, newest first.
  // One that cannot go back is reported with the place of its copy, which
  // stays.
  void RestoreOriginals();
  // After the log's replay: the old INI and registry values back, keys the
  // run created deleted, newest first. The journal is done with afterwards.
  void RestoreValues();
  // 1 when RestoreOriginals put path's original back.
  int WasRestored(const char* path) const;
  // After a successful run: the kept originals are deleted. One still in
  // use goes at the restart where that can be scheduled (counted in the
  // result); else it stays for the uninstaller, whose log must name it.
  int DiscardOriginals();

  // The journal file; empty while nothing has been kept.
  const char* GetPath() const { return m_Path; }

 private:
  struct Slot {
    char* Path;  // normalised: full, long, upper case
    int Restored;
  };

  int OpenJournal();
  // One whole record (null: it could not be built, so 0).
  int Append(const char* record);
  void CloseJournal();
  // The journal's text, or null; the caller frees it.
  char* ReadJournal(DWORD* size);
  Slot* Find(const char* key) const;
  Slot* Add(const char* key);

  char m_Path[PATH_BYTES];
  HANDLE m_File;
  Slot* m_Slots;
  DWORD m_Capacity;
  DWORD m_Count;

  CRollbackJournal(const CRollbackJournal&);
  CRollbackJournal& operator=(const CRollbackJournal&);
};

// A new empty file named PREFIXnnnn.tmp in folder, its path in out[PATH_BYTES].
// Windows' GetTempFileNameA refuses a folder longer than MAX_PATH - 14
// (Wine takes it): such a folder's names are made here, shorter ones where
// the full form would not fit. 0 when no file can be made.
int CreateUniqueFileIn(const char* folder, const char* prefix, char* out,
                       TempFileNameMaker maker = MakeTempFileName);

// A log's text (freed) in this run's code page, converted where its
// code-page line names another; null when that fails.
char* LogTextInRunCodePage(char* text, DWORD* size);
