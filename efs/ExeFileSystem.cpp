#include "efs/ExeFileSystem.h"

#include <stdlib.h>
#include <string.h>

#include "efs/EntryCodec.h"
#include "platform/FileSystem.h"
#include "platform/SystemLibrary.h"
#include "uninstall/UninstallLogger.h"

CExeFileSystem::CExeFileSystem()
    : m_Path(NULL), m_Entries(NULL), m_Count(0), m_FileSize(0), m_DirectorySize(0) {}

CExeFileSystem::~CExeFileSystem() {
  Release();
}

CExeFileSystemLogged::~CExeFileSystemLogged() {}

void CExeFileSystem::Release() {
  if (m_Entries) {
    for (DWORD i = 0; i < m_Count; ++i) free(m_Entries[i].Name);
    free(m_Entries);
  }
  free(m_Path);
  m_Path = NULL;
  m_Entries = NULL;
  m_Count = m_FileSize = m_DirectorySize = 0;
}

namespace {
// Closes what Open holds on every path out of it.
struct OpenState {
  HANDLE file = INVALID_HANDLE_VALUE;
  unsigned char* directory = NULL;
  EfsEntry* parsed = NULL;
  ~OpenState() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    free(directory);
    free(parsed);
  }
};

int ReadExactly(HANDLE h, void* buffer, DWORD n) {
  DWORD got = 0;
  return n == 0 || (ReadFile(h, buffer, n, &got, NULL) && got == n);
}

class HandleReader : public IEfsFileReader {
 public:
  explicit HandleReader(HANDLE h) : m_File(h) {}
  int ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) override {
    LONG high = (LONG)(offset >> 32);
    if (SetFilePointer(m_File, (LONG)(DWORD)offset, &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
      return 0;
    return ReadExactly(m_File, buffer, n);
  }

 private:
  HANDLE m_File;
};
}  // namespace

int ReadFileLayout(HANDLE file, SetupLayout* layout) {
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
  HandleReader reader(file);
  return ReadSetupLayout(reader, ((uint64_t)high << 32) | low, layout);
}

void CExeFileSystem::Open(const char* path) {
  Release();
  try {
    size_t n = strlen(path);
    m_Path = (char*)malloc(n + 1);
    if (!m_Path) throw EFS_ERR_NO_MEMORY;
    memcpy(m_Path, path, n + 1);

    OpenState s;
    s.file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, NULL);
    if (s.file == INVALID_HANDLE_VALUE) throw EFS_ERR_OPEN;
    // A signed file's container ends where its certificate table begins;
    // every offset below counts from that end.
    SetupLayout layout;
    if (!ReadFileLayout(s.file, &layout)) throw EFS_ERR_IO;
    // offsets are 32-bit: a larger file cannot be ours
    if (layout.End > 0xFFFFFFFFu || layout.End < EFS_TRAILER_SIZE) throw EFS_ERR_IO;
    const DWORD size = (DWORD)layout.End;
    HandleReader reader(s.file);
    unsigned char trailer[8];
    if (!reader.ReadAt(size - EFS_TRAILER_SIZE, trailer, 8)) throw EFS_ERR_IO;
    DWORD count = EfsReadU32(trailer), dirSize = EfsReadU32(trailer + 4);
    // checked before anything is allocated from them
    if (dirSize < EFS_TRAILER_SIZE || dirSize > size || count > EfsMaxEntries(dirSize))
      throw EFS_ERR_IO;
    s.directory = (unsigned char*)malloc(dirSize);
    if (!s.directory) throw EFS_ERR_NO_MEMORY;
    if (!reader.ReadAt(size - dirSize, s.directory, dirSize)) throw EFS_ERR_IO;
    // calloc checks the product, which could wrap in 32 bits
    s.parsed = (EfsEntry*)calloc(count ? count : 1, sizeof(EfsEntry));
    m_Entries = (EFSENTRY*)calloc(count ? count : 1, sizeof(EFSENTRY));
    if (!s.parsed || !m_Entries) throw EFS_ERR_NO_MEMORY;
    if (EfsParseDirectory(s.directory, dirSize, count, size, s.parsed) != EFS_PARSE_OK)
      throw EFS_ERR_IO;
    m_FileSize = size;
    m_DirectorySize = dirSize;
    for (DWORD i = 0; i < count; ++i) {
      const EfsEntry& p = s.parsed[i];
      EFSENTRY& e = m_Entries[i];
      e.Name = (char*)malloc(p.NameLength);
      if (!e.Name) throw EFS_ERR_NO_MEMORY;
      m_Count = i + 1;  // so that Release frees this name on a later failure
      memcpy(e.Name, p.Name, p.NameLength);
      e.DataOffset = p.DataOffset;
      e.StoredSize = p.StoredSize;
      e.Compressed = (int)p.Compressed;
      e.Crc = p.Crc;
      e.Time.dwLowDateTime = p.TimeLow;
      e.Time.dwHighDateTime = p.TimeHigh;
    }
    m_Count = count;
  } catch (EFSERROR) {
    Release();
    throw;
  }
}

EFSENTRY* CExeFileSystem::FindEntry(const char* name) {
  if (!m_Entries || !name) return NULL;
  DWORD lo = 0, hi = m_Count;
  while (lo < hi) {
    DWORD mid = (lo + hi) / 2;
    int c = EfsCompareNames(name, m_Entries[mid].Name);
    if (c < 0) hi = mid;
    else if (c > 0) lo = mid + 1;
    else return &m_Entries[mid];
  }
  return NULL;
}

EFSENTRY& CExeFileSystem::Entry(const char* name) {
  EFSENTRY* e = FindEntry(name);
  if (!e) throw EFS_ERR_NOT_FOUND;
  return *e;
}

int CExeFileSystem::Exists(const char* name) { return FindEntry(name) != NULL; }
FILETIME CExeFileSystem::GetEntryTime(const char* name) { return Entry(name).Time; }
int CExeFileSystem::IsCompressed(const char* name) { return Entry(name).Compressed; }
DWORD CExeFileSystem::GetStoredSize(const char* name) { return Entry(name).StoredSize; }
DWORD CExeFileSystem::GetEntryCrc(const char* name) { return Entry(name).Crc; }
DWORD CExeFileSystem::GetCount() { return m_Count; }

const char* CExeFileSystem::GetName(int index) {
  if (index < 0 || (DWORD)index >= GetCount()) throw EFS_ERR_NOT_FOUND;
  return m_Entries[index].Name;
}

DWORD CExeFileSystem::GetTotalStoredSize() {
  DWORD total = 0;
  for (DWORD i = 0; i < m_Count; ++i) total += m_Entries[i].StoredSize;
  return total;
}

DWORD CExeFileSystem::GetStubSize() {
  return m_FileSize - GetTotalStoredSize() - m_DirectorySize;
}

HANDLE CExeFileSystem::OpenEntryData(const char* name, DWORD* storedSize) {
  EFSENTRY& e = Entry(name);
  HANDLE h = CreateFileA(m_Path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) throw EFS_ERR_OPEN;
  // with a high word the low one counts unsigned: entries up to 4 GiB
  LONG high = 0;
  if (SetFilePointer(h, (LONG)e.DataOffset, &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR) {
    CloseHandle(h);
    throw EFS_ERR_IO;
  }
  if (storedSize) *storedSize = e.StoredSize;
  return h;
}

namespace {
class ExtractIo : public IEfsDecodeIo {
 public:
  ExtractIo(HANDLE in, HANDLE out, EFSProgressCallback cb, DWORD interval, const char* dest)
      : In(in), Out(out), m_Callback(cb), m_Throttle(interval), m_Destination(dest) {}
  HANDLE In, Out;
  DWORD WriteError = 0;

  int Read(unsigned char* buffer, uint32_t n) override { return ReadExactly(In, buffer, n); }
  int Write(const unsigned char* buffer, uint32_t n) override {
    DWORD put = 0;
    if (WriteFile(Out, buffer, n, &put, NULL) && put == n) return 1;
    // a short write that reports success is a full disk too
    WriteError = put != n && GetLastError() == NO_ERROR ? ERROR_DISK_FULL : GetLastError();
    return 0;
  }
  int Progress(uint32_t done, uint32_t total) override {
    if (!m_Callback) return 1;
    DWORD now = MillisecondClock();
    if (!m_Throttle.Due(now)) return 1;
    if (!m_Callback(done, total, m_Destination)) return 0;
    m_Throttle.Mark(now);
    return 1;
  }

 private:
  EFSProgressCallback m_Callback;
  CEfsProgressThrottle m_Throttle;
  const char* m_Destination;
};
}  // namespace

int CExeFileSystem::Extract(const char* name, const char* destination, int overwrite,
                            EFSProgressCallback progress, DWORD interval, int logFolders,
                            CUninstallLogger* logger) {
  if (!destination || strlen(destination) >= MAX_PATH) return 0;
  // Look before touching anything: a missing entry or a container that
  // cannot be read leaves the destination, and its folders, as they were.
  HANDLE in = INVALID_HANDLE_VALUE;
  DWORD stored = 0;
  try {
    in = OpenEntryData(name, &stored);
  } catch (EFSERROR) {
    return 0;
  }
  char folder[MAX_PATH];
  strcpy(folder, destination);
  char* cut = NULL;
  for (char* p = folder; *p; p += (IsDBCSLeadByte((BYTE)*p) && p[1]) ? 2 : 1)
    if (*p == '\\' || *p == '/') cut = p;
  if (cut) {
    cut[1] = '\0';
    // Most files go where an earlier one went: one look at the whole folder
    // spares a look at every level of it.
    if (!DirectoryExists(folder)) {
      int ok = logFolders ? CreateDirectoryPathLogged(folder, logger) : CreateDirectoryPath(folder);
      if (!ok) {
        CloseHandle(in);
        return 0;
      }
    }
  }
  // A file the user had goes aside, not away, so that a rollback can put it
  // back; one that cannot be kept is not replaced.
  if (overwrite && logFolders && logger && !logger->KeepOriginal(destination)) {
    const DWORD error = GetLastError();
    CloseHandle(in);
    SetLastError(error);
    return 0;
  }
  HANDLE out = CreateFileA(destination, GENERIC_WRITE, FILE_SHARE_READ, NULL,
                           overwrite ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
  if (out == INVALID_HANDLE_VALUE) {
    CloseHandle(in);
    return 0;
  }

  unsigned char* inBuf = NULL;
  unsigned char* outBuf = NULL;
  DWORD keptError = NO_ERROR;
  int result = 0;
  try {
    int compressed = IsCompressed(name);
    FILETIME time = GetEntryTime(name);
    DWORD crc = GetEntryCrc(name);
    inBuf = (unsigned char*)malloc(EFS_INPUT_BUFFER_SIZE);
    outBuf = compressed ? (unsigned char*)malloc(EFS_OUTPUT_BUFFER_SIZE) : NULL;
    if (inBuf && (outBuf || !compressed)) {
      ExtractIo io(in, out, progress, interval, destination);
      switch (EfsDecodeEntry(io, stored, compressed, crc, inBuf, outBuf)) {
        case EFS_DECODE_OK:
          SetFileTime(out, &time, &time, &time);
          result = 1;
          break;
        case EFS_DECODE_WRITE_FAILED:
          keptError = io.WriteError;
          break;
        case EFS_DECODE_INFLATE_ERROR:
          throw EFS_ERR_DECOMPRESS;
        case EFS_DECODE_CRC_MISMATCH:
          throw EFS_ERR_CRC;
        default:
          break;
      }
    }
  } catch (EFSERROR error) {
    free(inBuf);
    free(outBuf);
    CloseHandle(in);
    CloseHandle(out);
    DeleteFileA(destination);
    if (error == EFS_ERR_CRC) throw;
    return 0;
  }
  free(inBuf);
  free(outBuf);
  CloseHandle(in);
  CloseHandle(out);
  if (!result) {
    DeleteFileA(destination);
    // callers tell a full disk by the write's own error
    if (keptError != NO_ERROR) SetLastError(keptError);
    return 0;
  }
  if (logFolders && logger) logger->LogFileCreated(destination);
  return 1;
}

int CExeFileSystem::ExtractFile(const char* name, const char* destination, int overwrite,
                                EFSProgressCallback progress, DWORD interval) {
  return Extract(name, destination, overwrite, progress, interval, 0, NULL);
}

int CExeFileSystemLogged::ExtractFileLogged(const char* name, const char* destination,
                                            int overwrite, EFSProgressCallback progress,
                                            DWORD interval, CUninstallLogger* logger) {
  return Extract(name, destination, overwrite, progress, interval, 1, logger);
}
