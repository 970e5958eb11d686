// The uninstall log: one line per change an installation makes, so that the
// change can be undone. Lines are "Tag=value" ended by a single LF.
#pragma once
#include <windows.h>

#include "common/Mbcs.h"

#include "platform/FrontEnd.h"
#include "uninstall/LogLines.h"
#include "uninstall/RollbackJournal.h"

class CTranslations;

class CUninstallLogger {
 public:
  // constexpr and not virtual: the setup's one log is all zeros, with no
  // code at start-up
  constexpr CUninstallLogger() : m_LogPath(), m_File(NULL), m_IsTemporary(0), m_Kept() {}
  ~CUninstallLogger();

  int CreateTempLog();
  int OpenLog(const char* path);
  int Close();

  int LogFileCreated(const char* path);
  int LogDirectoryCreated(const char* path);
  int LogIniFileEntryAdded(const char* iniFile, const char* section, const char* key);
  int LogSysRegSectionAdded(const char* keyPath);
  int LogDllRegistered(const char* path);
  // A record of any kind, its parts joined by commas: a section whose
  // changes are a kind of their own needs no function here.
  int LogRecordLine(LogRecordKind kind, const char* const* parts, int count) {
    const char* tag = LogRecordTag(kind);
    return tag ? WriteLine(tag, parts, count) : 0;
  }

  int CopyLogTo(const char* targetPath) { return CopyMergedLogTo(targetPath, NULL, 0); }
  // The same over the log of an earlier installation in that folder (none
  // when earlier is null): its records first, then this run's that it
  // lacks (see MergeLogs).
  int CopyMergedLogTo(const char* targetPath, const char* earlier, size_t earlierSize);

  // The message of a step undone because its log line could not be
  // written, fixed English like the logger's others.
  static void ShowWriteError();
  // The run log's line of an INI entry: its file, section and key.
  static void RunLogIniEntry(const char* kind, const char* file, const char* section, const char* key);

  // Before the run replaces a file the user had: the original is moved aside
  // so that a rollback can put it back (see CRollbackJournal). 0 when it
  // cannot be kept; the file must then stay as it is.
  int KeepOriginal(const char* path, char* copy = NULL) { return m_Journal.KeepOriginal(path, copy); }
  // The new file beside path replaces it at the restart; a rollback calls
  // that off (see CRollbackJournal).
  int NoteSwapAtRestart(const char* beside, const char* path) { return m_Journal.NoteSwapAtRestart(beside, path); }
  // Before the run overwrites a value or creates registry keys: what was
  // there goes into the journal (see CRollbackJournal); 0 when it cannot,
  // and the value must then stay as it is.
  int KeepIniValue(const char* file, const char* section, const char* key) {
    return m_Journal.KeepIniValue(file, section, key);
  }
  int KeepRegistryValue(const char* rootName, const char* keyPath, const char* valueName) {
    return m_Journal.KeepRegistryValue(rootName, keyPath, valueName);
  }
  int KeepRegistryKeys(const char* rootName, const char* keyPath) {
    return m_Journal.KeepRegistryKeys(rootName, keyPath);
  }
  // Logs a key for removal ("ROOT/key path"); a key that is there already
  // is noted, and a rollback leaves it. 0 when it cannot be noted. With
  // onlyIfEmpty the key is removed only when it holds no key and no value.
  int LogListedRegistryKey(const char* keyPath, int onlyIfEmpty = 0);
  // Undoes this run: the replaced originals back first, newest first, then
  // the log replayed without exclusions, leaving the originals, the INI
  // entries and the keys that were there before; then the old values back.
  int Rollback();
  // After a successful run the kept originals are not needed; how many of
  // them, still in use, go at the restart.
  int DiscardKeptOriginals() { return m_Journal.DiscardOriginals(); }
  const char* GetJournalPath() const { return m_Journal.GetPath(); }

  // Undoes every logged change, newest first; the log itself is only read.
  // exclusions: count full paths of files that must survive (null and 0 for
  // a rollback). 1 when every line was handled, 0 when the log cannot be
  // read or a damaged line stops the replay.
  int Replay(const char* const* exclusions, int count);
  // The table of the replay's folder messages; null gives the English texts.
  void SetTranslations(const CTranslations* table) { m_Translations = table; }
  // The folder of the installation the replay removes: an Add/Remove
  // Programs entry that names another one stays. Null (a rollback): none.
  void SetInstallFolder(const char* folder) { m_InstallFolder = folder; }
  // Where Replay reports how much of the log it has undone (percent 0..99,
  // from its thread); null: nowhere.
  void SetReplayReports(CFrontEnd* reports) { m_Reports = reports; }

  // Path of the open log; empty when there is none.
  const char* GetLogPath() const { return m_LogPath; }

  // The created folders the last replay kept only because excluded files
  // lie in or below them, newest line first (at most kMaxKept).
  enum { kMaxKept = 8 };
  int GetKeptFolderCount() const { return m_KeptCount; }
  const char* GetKeptFolder(int i) const { return m_Kept[i]; }
  // The files the last replay could not delete at once: those deleted at
  // the restart, and those it had to leave in place.
  int GetScheduledCount() const { return m_ScheduledCount; }
  int GetLeftCount() const { return m_LeftCount; }
  // The files the log created that exist now, as new strings in a new
  // array (the caller frees each and the array); null when there are none
  // or the log cannot be read.
  char** ListCreatedFiles(int* count);

 private:
  int WriteLine(const char* tag, const char* const* parts, int partCount);
  int ReplayKeeping(const char* const* exclusions, int count, const CRollbackJournal* restored);
  char* ReadWholeLog(DWORD* size);
  char* ReadOwnLog(DWORD* size);
  void CloseCurrent();

  char m_LogPath[PATH_BYTES];
  HANDLE m_File;
  int m_IsTemporary;
  // the "CodePage=" line is written before the first line that is not ASCII
  int m_CodePageWritten = 0;
  const CTranslations* m_Translations = nullptr;
  const char* m_InstallFolder = nullptr;
  CFrontEnd* m_Reports = nullptr;
  char m_Kept[kMaxKept][PATH_BYTES];
  int m_KeptCount = 0;
  int m_ScheduledCount = 0, m_LeftCount = 0;
  CRollbackJournal m_Journal;

  CUninstallLogger(const CUninstallLogger&);
  CUninstallLogger& operator=(const CUninstallLogger&);
};
