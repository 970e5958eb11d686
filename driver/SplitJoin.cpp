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
#include "resources/resource.h"

namespace {

const DWORD kChunk = 10240;

// One join per process.
int g_Mode = SPLITJOIN_JOIN_ALL;
char g_Target[PATH_BYTES];
char g_Base[PATH_BYTES];
volatile int g_Cancel;
volatile int g_Done;
int g_PartMissing;
volatile int g_Damaged;
HANDLE g_Thread;
bool g_Ending;

char g_CopyingText[100];
char g_InsertDiskText[100];
char g_OkText[20];
char g_CancelText[20];

const char* const kErrors[] = {
    "Failed to open destination file.",
    "Failed to open source file.",
    "Failed to read file.",
    "Failed to write file.",
    kDamagedSetupText,
};
const int kDamagedError = 4;

enum { COPY_DONE = -1, COPY_CANCELLED = -2 };

const uint64_t kWholeFile = ~(uint64_t)0;

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
    if (g_Cancel) return COPY_CANCELLED;
    left -= got;
    if (got < kChunk || !left) return COPY_DONE;
  }
}

void CloseIfOpen(HANDLE file) {
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

DWORD Stop(char* buffer, HANDLE a, HANDLE b) {
  free(buffer);
  CloseIfOpen(a);
  CloseIfOpen(b);
  return 0;
}

// Ends the worker after an error: the window is told as if the user had
// pressed Cancel. Once the user has cancelled, the error is of no interest.
DWORD Fail(HWND window, int error, char* buffer, HANDLE a, HANDLE b) {
  Stop(buffer, a, b);
  if (error == kDamagedError) g_Damaged = 1;
  if (!g_Cancel) {
    FrontEnd()->ShowFailure(window, kErrors[error], "Error", MB_OK | MB_ICONERROR);
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  }
  return 0;
}

// Waits for the part to appear, asking for its disk; 0 when cancelled.
// Without a window (a silent join) nobody can insert a disk: a missing part
// ends the join.
int WaitForPart(HWND window, const char* part, WPARAM disk) {
  if (!window && !FileExists(part)) {
    g_PartMissing = 1;
    RunLogLineWith("Failure", "the slice %s is missing", part);
    return 0;
  }
  PostMessageA(window, WM_SPLIT_WAIT_DISK, disk, 0);
  for (;;) {
    if (g_Cancel) return 0;
    PostMessageA(window, WM_SPLIT_WAIT_DISK, disk, 0);
    // no "insert a disk" box of the system's own for an empty drive
    const UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const int present = FileExists(part);
    SetErrorMode(old);
    if (present) return 1;
    Sleep(300);
  }
}

// The worker in 200 ms steps; what it sends meanwhile (its error box
// disabling the window) is answered, so neither waits for the other.
DWORD WaitForWorker() {
  DWORD code = 0;
  while (g_Thread && GetExitCodeThread(g_Thread, &code) && code == STILL_ACTIVE) {
    MSG message;
    PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    Sleep(200);
  }
  return code;
}

INT_PTR CALLBACK SplitJoinWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      const char* slash = MbcsFindLastChar(g_Base, '\\');
      SetWindowTextA(window, slash ? slash + 1 : g_Base);
      SetDlgItemTextA(window, IDOK, g_OkText);
      SetDlgItemTextA(window, IDCANCEL, g_CancelText);
      SetDlgItemTextA(window, IDC_SPLIT_TEXT, g_CopyingText);
      EnableWindow(GetDlgItem(window, IDOK), FALSE);
      DWORD id;
      g_Thread = CreateThread(NULL, 0, SplitJoinThread, window, 0, &id);
      if (!g_Thread) {
        FrontEnd()->ShowFailure(window, "An unspecified error occurred. The installation will be terminated.",
                                "Error", MB_OK | MB_ICONERROR);
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
      }
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        // The worker checks for the part by itself; OK only acknowledges.
        EnableWindow(GetDlgItem(window, IDOK), FALSE);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        if (g_Ending) return TRUE;
        g_Ending = true;
        g_Cancel = 1;
        WaitForWorker();
        EndDialog(window, IDCANCEL);
        DeleteFileA(g_Target);
        PostQuitMessage(0);
        return TRUE;
      }
      break;
    case WM_SPLIT_WAIT_DISK: {
      // our own resource text with its one "%d": wsprintf's 1024 bytes hold it
      char full[1024], text[100];
      wsprintfA(full, g_InsertDiskText, static_cast<int>(wParam));
      MbcsCopy(text, sizeof text, full);
      char shown[100] = "";
      GetDlgItemTextA(window, IDC_SPLIT_TEXT, shown, sizeof shown);
      // the worker repeats this every 300 ms: no flicker
      if (strcmp(text, shown) != 0) SetDlgItemTextA(window, IDC_SPLIT_TEXT, text);
      EnableWindow(GetDlgItem(window, IDOK), TRUE);
      return TRUE;
    }
    case WM_SPLIT_DISK_FOUND:
      SetDlgItemTextA(window, IDC_SPLIT_TEXT, g_CopyingText);
      EnableWindow(GetDlgItem(window, IDOK), FALSE);
      return TRUE;
    case WM_SPLIT_DONE:
      if (g_Ending) return TRUE;
      if (WaitForWorker() == 0) {
        g_Ending = true;
        g_Done = 1;
        EndDialog(window, IDOK);
        PostQuitMessage(0);
      }
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;
  }
  return FALSE;
}

void LoadText(HINSTANCE instance, UINT id, char* text, int size, const char* fallback) {
  if (LoadStringA(instance, id, text, size) <= 0) MbcsCopy(text, size, fallback);
}

}  // namespace

void SetSplitJoinJob(const char* targetPath, const char* basePath, int mode) {
  MbcsCopy(g_Target, sizeof g_Target, targetPath);
  MbcsCopy(g_Base, sizeof g_Base, basePath);
  g_Mode = mode;
  g_Cancel = 0;
  g_Done = 0;
  g_Damaged = 0;
  g_Ending = false;
}

int SplitJoinFoundDamage() {
  return g_Damaged;
}

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

// Numbered slice n onto target, waiting for its disk and checking it against
// its digest in record: COPY_DONE, COPY_CANCELLED or the error number.
// *source is the slice's handle when it could be opened.
static int AppendSlice(HWND window, unsigned n, const unsigned char* record, HANDLE target, char* buffer,
                       HANDLE* source) {
  char part[PATH_BYTES];
  if (!SplitPartName(g_Base, n, part, sizeof part)) return 1;
  const WPARAM disk = n + 1;  // the running file is disk 1
  if (!WaitForPart(window, part, disk)) return COPY_CANCELLED;
  PostMessageA(window, WM_SPLIT_DISK_FOUND, disk, 0);
  // no write sharing: the bytes hashed are the bytes copied
  *source = CreateFileA(part, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (*source == INVALID_HANDLE_VALUE) return 1;
  CSha256 hash;
  const int result = AppendFile(*source, target, buffer, kWholeFile, false, &hash);
  if (result != COPY_DONE) return result;
  unsigned char digest[SHA256_SIZE];
  hash.Final(digest);
  if (memcmp(digest, SliceRecordDigest(record, n), SHA256_SIZE) != 0) return kDamagedError;
  return COPY_DONE;
}

DWORD WINAPI SplitJoinThread(LPVOID parameter) {
  HWND window = static_cast<HWND>(parameter);
  char* buffer = static_cast<char*>(malloc(kChunk));
  if (!buffer) return Fail(window, 2, NULL, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE);
  HANDLE target = CreateFileA(g_Target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (target == INVALID_HANDLE_VALUE)
    return Fail(window, 0, buffer, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE);
  HANDLE source = CreateFileA(SetupState::ExePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (source == INVALID_HANDLE_VALUE) return Fail(window, 1, buffer, target, INVALID_HANDLE_VALUE);
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
    if (!ReadFileLayout(source, &layout)) return Fail(window, 2, buffer, target, source);
    record = ReadSliceRecordOf(source, layout, &count);
    if (!record) return Fail(window, kDamagedError, buffer, target, source);
    if (SetFilePointer(source, 0, NULL, FILE_BEGIN) != 0) {
      free(record);
      return Fail(window, 2, buffer, target, source);
    }
    own = layout.End - layout.SliceRecordSize;
  }
  int result = AppendFile(source, target, buffer, own, g_Mode == SPLITJOIN_JOIN_ALL);
  if (result != COPY_DONE) free(record);
  if (result == COPY_CANCELLED) return Stop(buffer, target, source);
  if (result != COPY_DONE) return Fail(window, result, buffer, target, source);
  CloseHandle(source);

  if (g_Mode == SPLITJOIN_JOIN_ALL) {
    // Exactly the slices of the record, each checked as it is copied: one
    // of another build, changed, or cut short ends the join.
    for (unsigned n = 1; n <= count; ++n) {
      HANDLE part = INVALID_HANDLE_VALUE;
      const int result = AppendSlice(window, n, record, target, buffer, &part);
      if (result != COPY_DONE) {
        free(record);
        if (result == COPY_CANCELLED) return Stop(buffer, target, part);
        return Fail(window, result, buffer, target, part);
      }
      CloseHandle(part);
    }
    free(record);
  }
  free(buffer);
  // whatever the file held before goes
  SetEndOfFile(target);
  CloseHandle(target);
  PostMessageA(window, WM_SPLIT_DONE, 0, 0);
  return 0;
}

int JoinSplitParts(HINSTANCE instance, const char* targetPath, const char* basePath, int mode) {
  SetSplitJoinJob(targetPath, basePath, mode);
  LoadText(instance, IDS_JOIN_COPYING, g_CopyingText, sizeof g_CopyingText,
           "Copying files... Please wait.");
  LoadText(instance, IDS_JOIN_INSERT_DISK, g_InsertDiskText, sizeof g_InsertDiskText,
           "Please insert disk %d.");
  LoadText(instance, IDS_JOIN_OK, g_OkText, sizeof g_OkText, "OK");
  LoadText(instance, IDS_JOIN_CANCEL, g_CancelText, sizeof g_CancelText, "Cancel");
  g_Thread = NULL;

  const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SPLIT_JOIN), NULL,
                                         SplitJoinWindowProc, 0);
  if (result == IDOK || result == IDCANCEL) {
    // The window posts the quit message as it ends; take it off the queue.
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  } else {
    // No window, so nothing was started and nothing was said.
    if (mode == SPLITJOIN_JOIN_ALL)
      FrontEnd()->ShowFailure(NULL, "An unspecified error occurred. The installation will be terminated.",
                              "Error", MB_OK | MB_ICONERROR);
    DeleteFileA(targetPath);
  }
  if (g_Thread) CloseHandle(g_Thread);
  g_Thread = NULL;
  return g_Done && !g_Cancel ? 1 : 0;
}

int JoinSplitPartsSilently(const char* targetPath, const char* basePath, int mode) {
  SetSplitJoinJob(targetPath, basePath, mode);
  g_PartMissing = 0;
  g_Damaged = 0;
  // The worker on this thread: what it would post to its window comes to
  // this thread's queue, and its last word there tells how it ended.
  SplitJoinThread(NULL);
  int done = 0;
  MSG message;
  while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
    if (message.hwnd == NULL && message.message == WM_SPLIT_DONE) done = 1;
  if (done) return 1;
  DeleteFileA(targetPath);
  return g_PartMissing || g_Damaged ? -1 : 0;
}

int SlicesBesideMatch(const char* firstSlice, const char* base) {
  HANDLE file = CreateFileA(firstSlice, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
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
