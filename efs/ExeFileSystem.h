// Reads the container appended to a setup file: its directory, and each
// entry streamed into a file of its own with its CRC checked and its time set.
#pragma once
#include <windows.h>

#include "common/Mbcs.h"
#include "efs/EfsDirectory.h"
#include "efs/EfsFormat.h"
#include "efs/SetupLayout.h"
#include "efs/SolidReadAhead.h"

class CUninstallLogger;

// Thrown by value. Only EFS_ERR_CRC ever leaves an extraction.
enum EFSERROR {
  EFS_ERR_OPEN = 0,
  EFS_ERR_IO = 1,
  EFS_ERR_NOT_FOUND = 2,
  EFS_ERR_NO_MEMORY = 3,
  EFS_ERR_DECOMPRESS = 5,
  EFS_ERR_CRC = 6,  // a damaged entry: its CRC or its compressed stream
  EFS_ERR_VERSION = 7,  // a container format newer than this program (Open)
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
  virtual ~CExeFileSystem();

  virtual void Open(const char* path);
  virtual int Exists(const char* name);
  virtual FILETIME GetEntryTime(const char* name);
  // The entry's EfsMethod: nonzero when compressed.
  virtual int IsCompressed(const char* name);
  // A handle of its own on the container at the entry's data; the caller
  // closes it. Extraction does not use it: it reads through the reader's one
  // handle at explicit offsets.
  virtual HANDLE OpenEntryData(const char* name, DWORD* storedSize);
  virtual int ExtractFile(const char* name, const char* destination, int overwrite,
                          EFSProgressCallback progress, DWORD interval);
  virtual DWORD GetCount();
  virtual const char* GetName(int index);
  virtual DWORD GetStoredSize(const char* name);
  virtual DWORD GetTotalStoredSize();
  virtual DWORD GetStubSize();

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
  int Extract(const char* name, const char* destination, int overwrite,
              EFSProgressCallback progress, DWORD interval, int logFolders,
              CUninstallLogger* logger);

 private:
  void Release();
  void AttachEntryEnds();
  const EFSENTRY& Entry(const char* name);
  int MakeFolderOf(const char* destination, int logFolders, CUninstallLogger* logger);
  HANDLE CreateDestination(const char* destination, int overwrite, int logFolders,
                           CUninstallLogger* logger);

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
  virtual ~CExeFileSystemLogged();
  // ExtractFile that also logs every folder it creates and the file.
  int ExtractFileLogged(const char* name, const char* destination, int overwrite,
                        EFSProgressCallback progress, DWORD interval, CUninstallLogger* logger);
};
