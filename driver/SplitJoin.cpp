#include "driver/SplitJoin.h"

#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "driver/SetupFileKind.h"
#include "driver/SetupState.h"
#include "driver/SliceCheck.h"
#include "efs/ExeFileSystem.h"
#include "efs/PeImage.h"
#include "efs/SliceRecord.h"
#include "platform/FileSystem.h"
#include "platform/FrontEnd.h"
#include "platform/RunLog.h"
#include "platform/RunWait.h"

namespace {

const DWORD kChunk = 10240;

// One join per process.
int g_Mode = SPLITJOIN_JOIN_ALL;
char g_Target[PATH_BYTES];
char g_Base[PATH_BYTES];
volatile int g_Cancel;
CFrontEnd* g_Reports;
// where the copy is, for its progress: part `g_Part` of `g_Parts` (the
// running file is part 0), `g_PartDone` of its `g_PartSize` bytes
unsigned g_Part, g_Parts;
uint64_t g_PartSize, g_PartDone;
int g_Percent;
const char* g_PartPath;

const char* const kErrors[] = {
    "Failed to open destination file.",
    "Failed to open source file.",
    "Failed to read file.",
    "Failed to write file.",
    kDamagedSetupText,
};
const int kDamagedError = 4;

enum { COPY_DONE = -1, COPY_CANCELLED = -2, COPY_MISSING = -3 };

const uint64_t kWholeFile = ~(uint64_t)0;

bool Cancelled() { return g_Cancel || SetupState::CancelRequested; }

// A new part begins: its share of the bar starts at its index.
void StartPart(unsigned part, HANDLE file, const char* path) {
  g_Part = part;
  g_PartDone = 0;
  g_PartPath = path;
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  g_PartSize = low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR ? 0 : ((uint64_t)high << 32) | low;
}

// Reported only when the whole percent changes: a part is many chunks.
void ReportProgress(DWORD copied) {
  g_PartDone += copied;
  // in 32 bits: a 64-bit division would cost the program its helper
  uint64_t size = g_PartSize, done = g_PartDone < size ? g_PartDone : size;
  while (size >> 24) {
    size >>= 1;
    done >>= 1;
  }
  const unsigned within = size ? static_cast<unsigned>(done) * 100u / static_cast<unsigned>(size) : 100u;
  const int percent = static_cast<int>((g_Part * 100u + within) / (g_Parts ? g_Parts : 1u));
  if (percent == g_Percent) return;
  g_Percent = percent;
  g_Reports->Progress(percent, g_PartPath);
}

// Appends the rest of source, at most `left` bytes of it, to target:
// COPY_DONE, COPY_CANCELLED, or the error number. With unsign, the first
// chunk's headers lose their signature entry. With hash, what is read goes
// into it.
int AppendFile(HANDLE source, HANDLE target, char* buffer, uint64_t left = kWholeFile,
               bool unsign = false, CSha256* hash = NULL) {
  for (;;) {
    const DWORD want = left < kChunk ? (DWORD)left : kChunk;
    DWORD got = 0;
    if (want && !ReadFile(source, buffer, want, &got, NULL)) return 2;
    if (hash) hash->Update(buffer, got);
    if (unsign) PeClearSignature(reinterpret_cast<unsigned char*>(buffer), got);
    unsign = false;
    DWORD put = 0;
    if (got && (!WriteFile(target, buffer, got, &put, NULL) || put != got)) return 3;
    if (Cancelled()) return COPY_CANCELLED;
    ReportProgress(got);
    left -= got;
    if (got < kChunk || !left) return COPY_DONE;
  }
}

void CloseIfOpen(HANDLE file) {
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

DWORD Stop(char* buffer, HANDLE a, HANDLE b, RunResult result) {
  free(buffer);
  CloseIfOpen(a);
  CloseIfOpen(b);
  return result;
}

// Ends the worker after an error, said once, here. Once the user has
// cancelled, the error is of no interest.
DWORD Fail(int error, char* buffer, HANDLE a, HANDLE b) {
  Stop(buffer, a, b, RUN_FAILED);
  if (Cancelled()) return RUN_CANCELLED;
  g_Reports->ShowFailure(NULL, kErrors[error], "Error", MB_OK | MB_ICONERROR);
  return error == kDamagedError ? RUN_DAMAGED : RUN_FAILED;
}

enum { PART_HERE, PART_CANCELLED, PART_MISSING };

// No "insert a disk" box of the system's own for an empty drive: the join
// asks, or nobody is there to answer it.
int PartThere(const char* part) {
  const UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const int present = FileExists(part);
  SetErrorMode(old);
  return present;
}

// Waits for the part to appear, asking for its disk. Nobody there can
// insert one: then a missing part ends the join.
int WaitForPart(const char* part, int disk) {
  if (!g_Reports->Attended()) {
    if (PartThere(part)) return PART_HERE;
    RunLogLineWith("Failure", "the slice %s is missing", part);
    return PART_MISSING;
  }
  g_Reports->AwaitDisk(disk);
  for (;;) {
    if (Cancelled()) return PART_CANCELLED;
    g_Reports->AwaitDisk(disk);
    if (PartThere(part)) return PART_HERE;
    Sleep(300);
  }
}

// Numbered slice n onto target, waiting for its disk and checking it
// against its digest in record: COPY_DONE, COPY_CANCELLED, COPY_MISSING
// (nobody there to insert its disk), or the error number. *source is the
// slice's handle when it could be opened.
int AppendSlice(unsigned n, const unsigned char* record, HANDLE target, char* buffer, HANDLE* source) {
  char part[PATH_BYTES];
  if (!SplitPartName(g_Base, n, part, sizeof part)) return 1;
  const int disk = static_cast<int>(n) + 1;  // the running file is disk 1
  const int waited = WaitForPart(part, disk);
  if (waited == PART_CANCELLED) return COPY_CANCELLED;
  if (waited == PART_MISSING) return COPY_MISSING;
  if (g_Reports->Attended()) g_Reports->DiskFound(disk);
  // no write sharing: the bytes hashed are the bytes copied
  *source = OpenExisting(part, GENERIC_READ, FILE_SHARE_READ);
  if (*source == INVALID_HANDLE_VALUE) return 1;
  StartPart(n, *source, part);
  CSha256 hash;
  const int result = AppendFile(*source, target, buffer, kWholeFile, false, &hash);
  if (result != COPY_DONE) return result;
  unsigned char digest[SHA256_SIZE];
  hash.Final(digest);
  if (memcmp(digest, SliceRecordDigest(record, n), SHA256_SIZE) != 0) return kDamagedError;
  return COPY_DONE;
}

// The worker; its exit code is the join's RunResult.
DWORD WINAPI SplitJoinThread(LPVOID) {
  char* buffer = static_cast<char*>(malloc(kChunk));
  if (!buffer) return Fail(2, NULL, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE);
  HANDLE target = OpenExisting(g_Target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (target == INVALID_HANDLE_VALUE) return Fail(0, buffer, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE);
  HANDLE source = OpenExisting(SetupState::ExePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (source == INVALID_HANDLE_VALUE) return Fail(1, buffer, target, INVALID_HANDLE_VALUE);
  // The copy is a faithful one, record, signature and all. The joined
  // installer takes the bare program, before its slice record and its
  // certificate table: the container's offsets count from there, and the
  // joined file carries no signature. The record names each slice by its
  // digest; a first slice without one names none and joins nothing.
  uint64_t own = kWholeFile;
  unsigned char* record = NULL;
  uint32_t count = 0;
  if (g_Mode == SPLITJOIN_JOIN_ALL) {
    SetupLayout layout;
    if (!ReadFileLayout(source, &layout)) return Fail(2, buffer, target, source);
    record = ReadSliceRecordOf(source, layout, &count);
    if (!record) return Fail(kDamagedError, buffer, target, source);
    if (SetFilePointer(source, 0, NULL, FILE_BEGIN) != 0) {
      free(record);
      return Fail(2, buffer, target, source);
    }
    own = layout.End - layout.SliceRecordSize;
  }
  g_Parts = count + 1;
  StartPart(0, source, SetupState::ExePath);
  if (own < g_PartSize) g_PartSize = own;
  int result = AppendFile(source, target, buffer, own, g_Mode == SPLITJOIN_JOIN_ALL);
  if (result != COPY_DONE) free(record);
  if (result == COPY_CANCELLED) return Stop(buffer, target, source, RUN_CANCELLED);
  if (result != COPY_DONE) return Fail(result, buffer, target, source);
  CloseHandle(source);

  if (g_Mode == SPLITJOIN_JOIN_ALL) {
    // Exactly the slices of the record, each checked as it is copied: one
    // of another build, changed, or cut short ends the join.
    for (unsigned n = 1; n <= count; ++n) {
      HANDLE part = INVALID_HANDLE_VALUE;
      const int result = AppendSlice(n, record, target, buffer, &part);
      if (result != COPY_DONE) {
        free(record);
        if (result == COPY_CANCELLED) return Stop(buffer, target, part, RUN_CANCELLED);
        if (result == COPY_MISSING) return Stop(buffer, target, part, RUN_DAMAGED);
        return Fail(result, buffer, target, part);
      }
      CloseHandle(part);
    }
    free(record);
  }
  free(buffer);
  // whatever the file held before goes
  SetEndOfFile(target);
  CloseHandle(target);
  return RUN_DONE;
}

}  // namespace

void RequestSplitJoinCancel() {
  g_Cancel = 1;
}

int SplitPartName(const char* basePath, unsigned n, char* name, size_t size) {
  // Past 999 the number grows after the dot rather than over it.
  char digits[16];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n || count < 3);
  const size_t base = strlen(basePath);
  if (base + 1 + count >= size) {
    if (size) name[0] = '\0';
    return 0;
  }
  memcpy(name, basePath, base);
  char* at = name + base;
  *at++ = '.';
  while (count) *at++ = digits[--count];
  *at = '\0';
  // the buffer is sized in bytes; the rule for paths counts characters
  if (MbcsLength(name, static_cast<size_t>(at - name)) >= MAX_PATH) {
    name[0] = '\0';
    return 0;
  }
  return 1;
}


RunResult JoinSplitParts(const char* targetPath, const char* basePath, int mode, CFrontEnd& reports) {
  MbcsCopy(g_Target, sizeof g_Target, targetPath);
  MbcsCopy(g_Base, sizeof g_Base, basePath);
  g_Mode = mode;
  g_Cancel = 0;
  SetupState::CancelRequested = 0;
  g_Reports = &reports;
  g_Part = 0;
  g_Parts = 1;
  g_Percent = -1;
  RunResult result = RUN_FAILED;
  DWORD id;
  HANDLE thread = CreateThread(NULL, 0, SplitJoinThread, NULL, 0, &id);
  if (thread) {
    result = static_cast<RunResult>(WaitForWorkerPumping(thread));
    CloseHandle(thread);
  } else {
    reports.ShowFailure(NULL, "An unspecified error occurred. The installation will be terminated.", "Error",
                        MB_OK | MB_ICONERROR);
  }
  if (result != RUN_DONE) DeleteFileA(targetPath);
  reports.RunEnded(result);
  g_Reports = NULL;
  return result;
}

int SlicesBesideMatch(const char* firstSlice, const char* base) {
  HANDLE file = OpenExisting(firstSlice, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (file == INVALID_HANDLE_VALUE) return 0;
  SetupLayout layout;
  uint32_t count = 0;
  unsigned char* record = ReadFileLayout(file, &layout) ? ReadSliceRecordOf(file, layout, &count) : NULL;
  CloseHandle(file);
  if (!record) return 0;
  int ok = 1;
  for (uint32_t n = 1; n <= count && ok; ++n) {
    char part[PATH_BYTES];
    if (!SplitPartName(base, n, part, sizeof part)) ok = 0;
    // no box for an empty drive: a slice there is the join's to ask for
    const UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    if (ok && FileExists(part)) ok = SliceFileMatches(part, SliceRecordDigest(record, n)) != 0;
    SetErrorMode(old);
  }
  free(record);
  return ok;
}
