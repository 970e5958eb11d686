#include "efs/ExeFileSystem.h"

#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "efs/EntryCodec.h"
#include "platform/FileSystem.h"
#include "platform/SystemLibrary.h"
#include "uninstall/UninstallLogger.h"

CExeFileSystem::CExeFileSystem() : m_Path(NULL), m_Urgent(NULL), m_File(INVALID_HANDLE_VALUE) {
  m_KnownFolder[0] = '\0';
  m_Reader.File = INVALID_HANDLE_VALUE;
  m_Reader.Next = (uint64_t)-1;
}

CExeFileSystem::~CExeFileSystem() {
  Release();
}

void CExeFileSystem::Close() { Release(); }

void CExeFileSystem::Release() {
  m_Solid.Release();
  m_Directory.Release();
  free(m_Path);
  if (m_File != INVALID_HANDLE_VALUE) CloseHandle(m_File);
  m_File = m_Reader.File = INVALID_HANDLE_VALUE;
  m_KnownFolder[0] = '\0';
  m_Path = NULL;
}

namespace {
// Exactly n bytes at offset, whatever the file pointer; on a synchronous
// handle Windows still moves the pointer, so nothing may rely on it.
int ReadAt(HANDLE h, uint64_t offset, void* buffer, DWORD n) {
  if (n == 0) return 1;
  OVERLAPPED at = {};
  at.Offset = (DWORD)offset;
  at.OffsetHigh = (DWORD)(offset >> 32);
  DWORD got = 0;
  return ReadFile(h, buffer, n, &got, &at) && got == n;
}

class HandleReader : public IEfsFileReader {
 public:
  explicit HandleReader(HANDLE h) : m_File(h) {}
  int ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) override {
    return ::ReadAt(m_File, offset, buffer, n);
  }

 private:
  HANDLE m_File;
};

// A DWORD interface's view of a 64-bit size.
DWORD Clamp(uint64_t n) { return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : (DWORD)n; }
}  // namespace

int CExeFileSystem::CHandleReader::ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) {
  if (offset != Next) {
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    if (!SetFilePointerEx(File, at, NULL, FILE_BEGIN)) return 0;
  }
  DWORD got = 0;
  // the pointer is known only after a whole read
  Next = (uint64_t)-1;
  if (!ReadFile(File, buffer, n, &got, NULL) || got != n) return 0;
  Next = offset + n;
  return 1;
}

int ReadFileLayout(HANDLE file, SetupLayout* layout) {
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
  HandleReader reader(file);
  return ReadSetupLayout(reader, ((uint64_t)high << 32) | low, layout);
}

EFSERROR CExeFileSystem::Open(const char* path) {
  Release();
  size_t n = strlen(path);
  m_Path = (char*)malloc(n + 1);
  if (!m_Path) return EFS_ERR_NO_MEMORY;
  memcpy(m_Path, path, n + 1);

  // Kept for the run. Others may do with the file what they could while
  // no extraction ran: one that changes under us fails a read or its CRC.
  m_File = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  EFSERROR failure = EFS_ERR_OPEN;
  if (m_File != INVALID_HANDLE_VALUE) {
    m_Reader.File = m_File;
    m_Reader.Next = (uint64_t)-1;
    // A signed file's container ends where its certificate table begins.
    SetupLayout layout;
    switch (ReadFileLayout(m_File, &layout) ? m_Directory.Read(m_Reader, layout.End) : EFS_OPEN_READ_FAILED) {
      case EFS_OPEN_OK:
        if (m_Directory.Solid()) {
          const EfsSolidHeader& h = m_Directory.Header();
          m_Solid.Attach(&m_Reader, h.DataOffset, h.StreamSize, h.ContentSize, h.StreamProps);
          AttachEntryEnds();
        }
        return EFS_OK;
      case EFS_OPEN_NO_MEMORY: failure = EFS_ERR_NO_MEMORY; break;
      case EFS_OPEN_NEWER_VERSION: failure = EFS_ERR_VERSION; break;
      default: failure = EFS_ERR_IO; break;
    }
  }
  Release();
  return failure;
}

static int CompareOffsets(const void* a, const void* b) {
  const uint64_t x = *(const uint64_t*)a, y = *(const uint64_t*)b;
  return x < y ? -1 : x > y;
}

// Without the memory for them, decoding steps only go on past entries' ends.
void CExeFileSystem::AttachEntryEnds() {
  const uint32_t n = m_Directory.Count();
  uint64_t* ends = (uint64_t*)malloc((n ? n : 1) * sizeof(uint64_t));
  if (!ends) return;
  for (uint32_t i = 0; i < n; ++i) ends[i] = m_Directory.At(i).DataOffset + m_Directory.At(i).Size;
  qsort(ends, n, sizeof *ends, CompareOffsets);
  m_Solid.SetEntryEnds(ends, n);
}

const EFSENTRY* CExeFileSystem::FindEntry(const char* name) {
  return m_Directory.Find(name);
}

int CExeFileSystem::Exists(const char* name) { return FindEntry(name) != NULL; }

FILETIME CExeFileSystem::GetEntryTime(const char* name) {
  const EFSENTRY* e = FindEntry(name);
  const uint64_t t = e ? e->Time : 0;
  const FILETIME time = {(DWORD)t, (DWORD)(t >> 32)};
  return time;
}

int CExeFileSystem::IsCompressed(const char* name) {
  const EFSENTRY* e = FindEntry(name);
  return e ? (int)e->Method : 0;
}

DWORD CExeFileSystem::GetStoredSize(const char* name) {
  const EFSENTRY* e = FindEntry(name);
  return e ? Clamp(e->StoredSize) : 0;
}

DWORD CExeFileSystem::GetEntryCrc(const char* name) {
  const EFSENTRY* e = FindEntry(name);
  return e ? e->Crc : 0;
}

DWORD CExeFileSystem::GetCount() { return m_Directory.Count(); }

const char* CExeFileSystem::GetName(int index) {
  if (index < 0 || (DWORD)index >= GetCount()) return NULL;
  return m_Directory.At((uint32_t)index).Name;
}

DWORD CExeFileSystem::GetTotalStoredSize() { return Clamp(m_Directory.TotalStoredSize()); }

DWORD CExeFileSystem::GetStubSize() { return Clamp(m_Directory.StubSize()); }

HANDLE CExeFileSystem::OpenEntryData(const char* name, DWORD* storedSize) {
  const EFSENTRY* e = FindEntry(name);
  // a solid entry has no stored bytes of its own to hand out
  if (!e || e->Method == EFS_METHOD_LZMA) return INVALID_HANDLE_VALUE;
  HANDLE h = CreateFileA(m_Path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return h;
  // with a high word the low one counts unsigned: entries up to 4 GiB
  LONG high = 0;
  if (SetFilePointer(h, (LONG)e->DataOffset, &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR) {
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  if (storedSize) *storedSize = Clamp(e->StoredSize);
  return h;
}

namespace {
class ExtractIo : public IEfsDecodeIo {
 public:
  ExtractIo(IEfsFileReader* in, uint64_t offset, HANDLE out, EFSProgressCallback cb, DWORD interval,
            const char* dest, const volatile LONG* urgent)
      : m_In(in), m_Offset(offset), m_Out(out), m_Callback(cb), m_Throttle(interval), m_Destination(dest),
        m_Urgent(urgent) {}
  DWORD WriteError = 0;

  int Read(unsigned char* buffer, uint32_t n) override {
    if (!m_In->ReadAt(m_Offset, buffer, n)) return 0;
    m_Offset += n;
    return 1;
  }
  int Write(const unsigned char* buffer, uint32_t n) override {
    DWORD put = 0;
    if (WriteFile(m_Out, buffer, n, &put, NULL) && put == n) return 1;
    // a short write that reports success is a full disk too
    WriteError = put != n && GetLastError() == NO_ERROR ? ERROR_DISK_FULL : GetLastError();
    return 0;
  }
  int Progress(uint64_t done, uint64_t total) override {
    if (!m_Callback) return 1;
    DWORD now = MillisecondClock();
    if (!m_Throttle.Due(now) && !(m_Urgent && *m_Urgent)) return 1;
    // the callback counts in 32 bits: a larger entry reports in KiB
    if (total > 0xFFFFFFFFu) {
      done >>= 10;
      total >>= 10;
    }
    if (!m_Callback((unsigned long)done, (unsigned long)total, m_Destination)) return 0;
    m_Throttle.Mark(now);
    return 1;
  }

 private:
  IEfsFileReader* m_In;
  uint64_t m_Offset;
  HANDLE m_Out;
  EFSProgressCallback m_Callback;
  CEfsProgressThrottle m_Throttle;
  const char* m_Destination;
  const volatile LONG* m_Urgent;
};

// Streams a stored or zlib entry from the container into out. Without
// memory it fails like a failed read. *writeError: why a write failed.
EfsDecodeResult DecodeInto(IEfsFileReader* container, const EFSENTRY& e, HANDLE out, EFSProgressCallback progress,
                           DWORD interval, const char* destination, const volatile LONG* urgent,
                           DWORD* writeError) {
  const int compressed = e.Method != EFS_METHOD_STORED;
  unsigned char* in = (unsigned char*)malloc(EFS_INPUT_BUFFER_SIZE);
  unsigned char* outBuf = compressed ? (unsigned char*)malloc(EFS_OUTPUT_BUFFER_SIZE) : NULL;
  EfsDecodeResult result = EFS_DECODE_READ_FAILED;
  if (in && (outBuf || !compressed)) {
    ExtractIo io(container, e.DataOffset, out, progress, interval, destination, urgent);
    result = EfsDecodeEntry(io, e, in, outBuf);
    *writeError = io.WriteError;
  }
  free(in);
  free(outBuf);
  return result;
}
}  // namespace

// STEP_DONE when the folder of destination is there, made (and logged) if need be.
StepResult CExeFileSystem::MakeFolderOf(const char* destination, int logFolders, CUninstallLogger* logger) {
  char folder[PATH_BYTES];
  strcpy(folder, destination);
  char* cut = NULL;
  for (char* p = folder; *p; p += (IsDBCSLeadByte((BYTE)*p) && p[1]) ? 2 : 1)
    if (*p == '\\' || *p == '/') cut = p;
  if (!cut) return STEP_DONE;
  cut[1] = '\0';
  if (strcmp(folder, m_KnownFolder) == 0) return STEP_DONE;
  // One look at the whole folder spares a look at every level of it.
  if (!DirectoryExists(folder)) {
    const StepResult made = logFolders ? CreateDirectoryPathLogged(folder, logger)
                                       : CreateDirectoryPath(folder) ? STEP_DONE : STEP_FAILED;
    if (made != STEP_DONE) return made;
  }
  strcpy(m_KnownFolder, folder);
  return STEP_DONE;
}

static HANDLE CreateForWriting(const char* path, DWORD disposition) {
  return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
}

HANDLE CExeFileSystem::CreateDestination(const char* destination, int overwrite, int logFolders,
                                         CUninstallLogger* logger, StepResult* folder) {
  *folder = MakeFolderOf(destination, logFolders, logger);
  if (*folder != STEP_DONE) return INVALID_HANDLE_VALUE;
  const int keep = overwrite && logFolders && logger;
  // Most destinations are new: made as such, they need no look for a file
  // to keep first.
  HANDLE out = keep ? CreateForWriting(destination, CREATE_NEW) : INVALID_HANDLE_VALUE;
  if (out != INVALID_HANDLE_VALUE) return out;
  // A file the user had goes aside, not away, so that a rollback can put it
  // back; one that cannot be kept is not replaced.
  if (keep && !logger->KeepOriginal(destination)) return INVALID_HANDLE_VALUE;
  const DWORD disposition = overwrite ? CREATE_ALWAYS : CREATE_NEW;
  out = CreateForWriting(destination, disposition);
  // The remembered folder is gone (removed by someone else): look again.
  if (out == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND && m_KnownFolder[0]) {
    m_KnownFolder[0] = '\0';
    *folder = MakeFolderOf(destination, logFolders, logger);
    if (*folder != STEP_DONE) return INVALID_HANDLE_VALUE;
    out = CreateForWriting(destination, disposition);
  }
  return out;
}

ExtractOutcome CExeFileSystem::Extract(const char* name, const char* destination, int overwrite,
                            EFSProgressCallback progress, DWORD interval, int logFolders,
                            CUninstallLogger* logger) {
  // a path of fewer than 260 characters, whatever bytes they take
  if (!destination || strlen(destination) >= PATH_BYTES || MbcsLength(destination, strlen(destination)) >= MAX_PATH)
    return EXTRACT_FAILED;
  // Look before touching anything: a missing entry or a closed container
  // leaves the destination, and its folders, as they were.
  const EFSENTRY* e = FindEntry(name);
  if (!e || m_File == INVALID_HANDLE_VALUE) return EXTRACT_FAILED;
  StepResult folder = STEP_DONE;
  HANDLE out = CreateDestination(destination, overwrite, logFolders, logger, &folder);
  if (out == INVALID_HANDLE_VALUE) return folder == STEP_UNLOGGED ? EXTRACT_UNLOGGED : EXTRACT_FAILED;

  DWORD writeError = NO_ERROR;
  EfsDecodeResult result;
  if (e->Method == EFS_METHOD_LZMA) {
    ExtractIo io(&m_Reader, 0, out, progress, interval, destination, m_Urgent);
    result = m_Solid.Decode(*e, io);
    writeError = io.WriteError;
  } else {
    result = DecodeInto(&m_Reader, *e, out, progress, interval, destination, m_Urgent, &writeError);
  }
  // the times go on while the handle is open: no second open for them
  if (result == EFS_DECODE_OK) {
    const FILETIME time = {(DWORD)e->Time, (DWORD)(e->Time >> 32)};
    SetFileTime(out, &time, &time, &time);
  }
  CloseHandle(out);
  if (result != EFS_DECODE_OK) {
    DeleteFileA(destination);
    // damaged stored bytes: a failed CRC, or a stream that does not decode
    if (result == EFS_DECODE_CRC_MISMATCH || result == EFS_DECODE_CORRUPT) return EXTRACT_CORRUPT;
    // the write's own error stays the last one, for callers that look
    if (writeError != NO_ERROR) SetLastError(writeError);
    return writeError == ERROR_DISK_FULL ? EXTRACT_DISK_FULL : EXTRACT_FAILED;
  }
  // A file its uninstaller would not know of goes again; a rollback puts
  // back what it replaced.
  if (logFolders && logger && !logger->LogFileCreated(destination)) {
    DeleteFileA(destination);
    return EXTRACT_UNLOGGED;
  }
  return EXTRACT_DONE;
}

ExtractOutcome CExeFileSystem::ExtractFile(const char* name, const char* destination, int overwrite,
                                EFSProgressCallback progress, DWORD interval) {
  return Extract(name, destination, overwrite, progress, interval, 0, NULL);
}

ExtractOutcome CExeFileSystemLogged::ExtractFileLogged(const char* name, const char* destination,
                                            int overwrite, EFSProgressCallback progress,
                                            DWORD interval, CUninstallLogger* logger) {
  return Extract(name, destination, overwrite, progress, interval, 1, logger);
}
