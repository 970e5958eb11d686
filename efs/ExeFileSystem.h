// Reads the container appended to a setup file: its directory, and each
// entry streamed into a file of its own with its CRC checked and its time set.
#pragma once
#include <windows.h>

#include "efs/EfsFormat.h"
#include "efs/SetupLayout.h"

class CUninstallLogger;

// Thrown by value. Only EFS_ERR_CRC ever leaves an extraction.
enum EFSERROR {
  EFS_ERR_OPEN = 0,
  EFS_ERR_IO = 1,
  EFS_ERR_NOT_FOUND = 2,
  EFS_ERR_NO_MEMORY = 3,
  EFS_ERR_DECOMPRESS = 5,
  EFS_ERR_CRC = 6,
};

// The layout of the file open as `file` (size, logical end, signature,
// damage); 0 when its size or a read fails. Moves the file pointer.
int ReadFileLayout(HANDLE file, SetupLayout* layout);

// (stored bytes done, stored size, destination) -> 0 cancels.
typedef int (*EFSProgressCallback)(unsigned long done, unsigned long total, const char* destination);

struct EFSENTRY {
  DWORD DataOffset;
  DWORD StoredSize;
  int Compressed;
  DWORD Crc;
  FILETIME Time;
  char* Name;
};

class CExeFileSystem {
 public:
  CExeFileSystem();
  virtual ~CExeFileSystem();

  virtual void Open(const char* path);
  virtual int Exists(const char* name);
  virtual FILETIME GetEntryTime(const char* name);
  virtual int IsCompressed(const char* name);
  // Handle on the container at the entry's data; the caller closes it.
  virtual HANDLE OpenEntryData(const char* name, DWORD* storedSize);
  virtual int ExtractFile(const char* name, const char* destination, int overwrite,
                          EFSProgressCallback progress, DWORD interval);
  virtual DWORD GetCount();
  virtual const char* GetName(int index);
  virtual DWORD GetStoredSize(const char* name);
  virtual DWORD GetTotalStoredSize();
  virtual DWORD GetStubSize();

  EFSENTRY* FindEntry(const char* name);
  DWORD GetEntryCrc(const char* name);

 protected:
  int Extract(const char* name, const char* destination, int overwrite,
              EFSProgressCallback progress, DWORD interval, int logFolders,
              CUninstallLogger* logger);

 private:
  void Release();
  EFSENTRY& Entry(const char* name);

  char* m_Path;
  EFSENTRY* m_Entries;
  DWORD m_Count;
  DWORD m_FileSize;
  DWORD m_DirectorySize;

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
