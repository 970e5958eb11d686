// A running program cannot delete its own file: a hidden command
// interpreter keeps trying until the process has ended, then removes the
// folders that are empty by then.
//
// No batch file: the interpreter gets its commands on its command line and
// every path through its environment, so there is no file that another
// process of the user could change before an elevated cmd runs it, and a
// path may hold any character (the wide environment reaches cmd as it
// stands, where a batch file is read in the OEM code page).
#pragma once
#include <stddef.h>
#include <windows.h>

// Silent on failure. The caller ends its process right after. alsoRemove:
// folders the installation created above the program's own, removed after it
// when they are empty by then (those not above it are passed over).
void RemoveSelf(const char* const* alsoRemove = NULL, int alsoCount = 0);

// The same for a copy in the temporary folder: that folder stays even when
// the copy was the last file in it, unless it is a private folder of ours.
void RemoveTemporarySelf();

enum { SELF_REMOVAL_MAX_FOLDERS = 16 };

// The whole command line of cmd (the system's, at path cmd): /d so that
// no AutoRun command of the user's registry runs in it, /v:on for the
// delayed expansion the text relies on, /s /c and the commands in quotes.
// They delete the program (read-only or not) until it is gone or about a
// minute has passed (the system's ping waits between tries, longer each
// time), then remove folderCount folders with one rmdir, in their order.
// They name environment variables only (S the program, P ping, D1... the
// folders). Returns the length written (without the terminator), 0 when it
// does not fit in size or folderCount is out of range.
size_t FormatSelfRemovalCommand(wchar_t* out, size_t size, const wchar_t* cmd, int folderCount);

// Starts that interpreter for exe and folders (paths in the process code
// page) at idle priority, hidden, with no handles inherited, an environment
// of its variables alone, and the system folder as its current one, so
// that it holds none of the folders it removes. Returns its process handle, for the caller to close; NULL when
// it cannot start.
HANDLE StartSelfRemoval(const char* exe, const char* const* folders, int folderCount);
