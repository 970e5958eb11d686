// Joining a split installation: the running file, then its numbered parts
// BASE.001, BASE.002, ... into one target file, on a worker thread that
// tells a front end how far it is and which disk it needs. The first
// part's slice record says how many parts there are and the SHA-256 of each.
#pragma once
#include <windows.h>

#include <stddef.h>

#include "platform/FrontEnd.h"

enum {
  SPLITJOIN_JOIN_ALL = 0,       // the running file and every part up to the installer signature
  SPLITJOIN_COPY_EXE_ONLY = 1,  // the running file alone
};

// Writes the running file (SetupState::ExePath), and in join mode the parts
// after it, over the existing file targetPath, on a worker thread; the
// calling thread pumps its messages meanwhile. The worker reports to
// `reports`: progress (percent of the parts, the part being copied), each
// failure once where it is found, and, to an attended front end only, the
// disk it waits for and the disk found; the end comes on this thread.
// One not attended asks for no disk: a missing slice makes the set
// incomplete. RUN_DONE when the target is complete; else RUN_CANCELLED,
// RUN_FAILED or RUN_DAMAGED (a slice missing, of another build or cut
// short), the target deleted.
RunResult JoinSplitParts(const char* targetPath, const char* basePath, int mode, CFrontEnd& reports);

// Cancel: the worker stops at its next check. The run's own cancel
// (SetupState::CancelRequested) stops it too.
void RequestSplitJoinCancel();

// The first slice, where the user started it: 1 when it has a slice record
// and each of its slices that lies beside it now (base: its path without
// the extension) is the one it was built with. Slices on other disks are
// checked by the join as they come.
int SlicesBesideMatch(const char* firstSlice, const char* base);

// Name of part n: the base path, a dot and n with at least three digits
// (BASE.001, BASE.012, BASE.1000). 0 when it does not fit into size bytes.
int SplitPartName(const char* basePath, unsigned n, char* name, size_t size);
