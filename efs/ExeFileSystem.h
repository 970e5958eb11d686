// Reads the container appended to a setup file: its directory, and each
// entry streamed into a file of its own with its CRC checked and its time set.
#pragma once
#include <windows.h>

#include "common/Mbcs.h"
#include "efs/EfsDirectory.h"
#include "efs/EfsFormat.h"
#include "efs/SetupLayout.h"
#include "efs/SolidReadAhead.h"
#include "platform/FileSystem.h"

class CUninstallLogger;

// Why the container could not be opened, returned by Open.
enum EFSERROR {
  EFS_OK = -1,
  EFS_ERR_OPEN = 0,
  EFS_ERR_IO = 1,
  EFS_ERR_NOT_FOUND = 2,
  EFS_ERR_NO_MEMORY = 3,
  EFS_ERR_DECOMPRESS = 5,
  EFS_ERR_CRC = 6,  // a damaged entry: its CRC or its compressed stream
  EFS_ERR_VERSION = 7,  // a container format newer than this program (Open)
};

// How an extraction ended; callers differ only in the message each shows
// for a reason. Failures leave no destination behind.
enum ExtractOutcome {
  EXTRACT_FAILED = 0,     // no such entry, a target that cannot be written, a cancel
  EXTRACT_DONE = 1,
  EXTRACT_DISK_FULL = 2,  // the target's disk filled up
  EXTRACT_CORRUPT = 3,    // the stored bytes failed their CRC check
  EXTRACT_UNLOGGED = 4,   // its uninstall log line could not be written: undone
};

// The layout of the file open as `file` (size, logical end, signature,
// damage); 0 when its size or a read fails. Reads at explicit offsets, which
// still moves the file pointer: callers must not rely on it.
int ReadFileLayout(HANDLE file, SetupLayout* layout);

// (stored bytes done, stored size, destination) -> 0 cancels.
typedef int (*EFSProgressCallback)(unsigned long done, unsigned long total, const char* destination);

// The directory's record of an entry (efs/EfsFormat.h).
typedef EfsEntry EFSENTRY;

class CExeFileSystem {
 public:
  CExeFileSystem();
  ~CExeFileSystem();

  // EFS_OK, or why not (the reader is then empty).
  EFSERROR Open(const char* path);
  int Exists(const char* name);
  FILETIME GetEntryTime(const char* name);
  // The entry's EfsMethod: nonzero when compressed.
  int IsCompressed(const char* name);
  // A handle of its own on the container at the entry's data; the caller
  // closes it; INVALID_HANDLE_VALUE when there is none. Extraction does not
  // use it: it reads through the reader's one handle at explicit offsets.
  HANDLE OpenEntryData(const char* name, DWORD* storedSize);
  ExtractOutcome ExtractFile(const char* name, const char* destination, int overwrite,
                              EFSProgressCallback progress, DWORD interval);
  DWORD GetCount();
  // Null for an index out of range. The lookups by name give 0 for a name
  // that is not there (Exists tells).
  const char* GetName(int index);
  DWORD GetStoredSize(const char* name);
  DWORD GetTotalStoredSize();
  DWORD GetStubSize();

  // Back to empty, letting go of the container file (Open holds it).
  void Close();

  // A flag the caller raises when it must be asked at once (a pause before
  // a cancel): while it is up, an extraction reports after every chunk
  // instead of once an interval. Null: none.
  void SetUrgentFlag(const volatile LONG* flag) { m_Urgent = flag; }

  // The [Files] lines name their stored file in their source, not by the
  // destination's name (a container of format version 4).
  int LinesNameEntries() const { return m_Directory.LinesNameEntries(); }

  const EFSENTRY* FindEntry(const char* name);
  DWORD GetEntryCrc(const char* name);

 protected:
  ExtractOutcome Extract(const char* name, const char* destination, int overwrite,
              EFSProgressCallback progress, DWORD interval, int logFolders,
              CUninstallLogger* logger);

 private:
  void Release();
  void AttachEntryEnds();
  StepResult MakeFolderOf(const char* destination, int logFolders, CUninstallLogger* logger);
  HANDLE CreateDestination(const char* destination, int overwrite, int logFolders,
                           CUninstallLogger* logger, StepResult* folder);

  char* m_Path;
  const volatile LONG* m_Urgent;
  CEfsDirectory m_Directory;
  // Held from Open to the next Open or the end: every extraction reads
  // through it at explicit offsets, so no caller depends on its position.
  HANDLE m_File;
  // The reads of m_File for the directory and the solid stream: one read
  // after another where the last ended, so that a stream read in order
  // costs no seek (nor, under Wine, a server request) per read.
  class CHandleReader : public IEfsFileReader {
   public:
    HANDLE File;
    uint64_t Next;  // where the file pointer stands after the last read
    int ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n);
  } m_Reader;
  // The solid stream's decoder, ahead of the extractions on a thread of its
  // own; while it runs, the only reader of m_Reader.
  CEfsReadAhead m_Solid;
  // The last destination folder made or found: most files go where the one
  // before went, and need no look at the disk for it.
  char m_KnownFolder[PATH_BYTES];

  CExeFileSystem(const CExeFileSystem&);
  CExeFileSystem& operator=(const CExeFileSystem&);
};

class CExeFileSystemLogged : public CExeFileSystem {
 public:
  // ExtractFile that also logs every folder it creates and the file.
  ExtractOutcome ExtractFileLogged(const char* name, const char* destination, int overwrite,
                        EFSProgressCallback progress, DWORD interval, CUninstallLogger* logger);
};
