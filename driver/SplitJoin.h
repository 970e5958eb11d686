// Joining a split installation: the running file, then its numbered parts
// BASE.001, BASE.002, ... into one target file, on a worker thread behind a
// small window that asks for each next disk. The first part's slice record
// says how many parts there are and the SHA-256 of each.
#pragma once
#include <windows.h>

#include <stddef.h>

enum {
  SPLITJOIN_JOIN_ALL = 0,       // the running file and every part up to the installer signature
  SPLITJOIN_COPY_EXE_ONLY = 1,  // the running file alone
};

// Posted by the worker to the window.
#define WM_SPLIT_WAIT_DISK (WM_USER + 4)   // wParam: the disk awaited (the first part is disk 1)
#define WM_SPLIT_DISK_FOUND (WM_USER + 5)  // wParam: the disk found
#define WM_SPLIT_DONE (WM_USER + 6)        // the target is complete

// Writes the running file (SetupState::ExePath), and in join mode the parts
// after it, over the existing file targetPath. 1 when the target is complete;
// 0 after a cancel or a reported error, the target then deleted.
int JoinSplitParts(HINSTANCE instance, const char* targetPath, const char* basePath, int mode);

// The same without a window, for a silent run: 1 when the target is
// complete; 0 after an error (in the log), -1 when a part is missing, the
// target then deleted. Asks for no disk.
int JoinSplitPartsSilently(const char* targetPath, const char* basePath, int mode);

// The worker; its argument is the window it reports to. Always ends with 0.
DWORD WINAPI SplitJoinThread(LPVOID window);

// What the worker reads: JoinSplitParts sets it, tests set it to run the
// worker against a window of their own.
void SetSplitJoinJob(const char* targetPath, const char* basePath, int mode);
// The window's Cancel: the worker stops at its next check.
void RequestSplitJoinCancel();
// 1 when the last join stopped at a slice its first slice does not name (of
// another build, changed, cut short) or at a first slice without its record;
// the worker has said so with the damaged-file message.
int SplitJoinFoundDamage();

// The first slice, where the user started it: 1 when it has a slice record
// and each of its slices that lies beside it now (base: its path without
// the extension) is the one it was built with. Slices on other disks are
// checked by the join as they come.
int SlicesBesideMatch(const char* firstSlice, const char* base);

// Name of part n: the base path, a dot and n with at least three digits
// (BASE.001, BASE.012, BASE.1000). 0 when it does not fit into size bytes.
int SplitPartName(const char* basePath, unsigned n, char* name, size_t size);
