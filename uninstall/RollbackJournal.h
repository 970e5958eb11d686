// What a rollback needs beyond the uninstall log: the files the run replaced.
// An original is moved aside in its own folder (a rename on the same volume,
// no copy of the data) and the move is recorded in a journal file in the
// temporary folder, a record of this run only. A rollback moves the
// originals back; a successful run deletes them.
#pragma once
#include <windows.h>

class CRollbackJournal {
 public:
  CRollbackJournal();
  // Deletes the journal file; never a kept original.
  ~CRollbackJournal();

  // Before path is replaced: 1 when there is nothing to keep (no file there,
  // or one this run wrote) or the original was moved aside and recorded; 0
  // when it could not be kept, and path must then not be replaced. Read-only,
  // hidden and system files are refused (ERROR_ACCESS_DENIED), as replacing
  // them would be.
  int KeepOriginal(const char* path);
  // path now holds a file of this run: replacing it later keeps nothing.
  void NoteWritten(const char* path);

  // Moves every kept original back over what is at its path, newest first.
  // One that cannot go back is reported with the place of its copy, which
  // stays. The journal is done with afterwards.
  void RestoreOriginals();
  // 1 when RestoreOriginals put path's original back.
  int WasRestored(const char* path) const;
  // After a successful run: the kept originals are deleted.
  void DiscardOriginals();

  // The journal file; empty while nothing has been kept.
  const char* GetPath() const { return m_Path; }

 private:
  struct Slot {
    char* Path;  // normalised: full, long, upper case
    int Restored;
  };

  int OpenJournal();
  void CloseJournal();
  // The journal's text, or null; the caller frees it.
  char* ReadJournal(DWORD* size);
  Slot* Find(const char* key) const;
  Slot* Add(const char* key);

  char m_Path[MAX_PATH];
  HANDLE m_File;
  Slot* m_Slots;
  DWORD m_Capacity;
  DWORD m_Count;

  CRollbackJournal(const CRollbackJournal&);
  CRollbackJournal& operator=(const CRollbackJournal&);
};
