// A running program cannot delete its own file: a hidden batch file keeps
// trying until the process has ended, removes the folder if it is empty,
// then deletes itself.
#pragma once
#include <stddef.h>
#include <windows.h>

// Silent on failure. The caller ends its process right after. alsoRemove:
// folders the installation created above the program's own, removed after it
// when they are empty by then (those not above it are passed over).
void RemoveSelf(const char* const* alsoRemove = NULL, int alsoCount = 0);

// The same for a copy in the temporary folder: that folder stays even when
// the copy was the last file in it.
void RemoveTemporarySelf();

// The batch file's text, CR LF lines: deleting exe (read-only or not) until
// it is gone or about a minute has passed (ping, the system's ping.exe,
// waits a second between tries), removing folder (no such line when folder
// is null), then the batch file itself, either way. A "%" in a path is doubled so that the command interpreter reads
// the path as it stands. Returns the length written (without the
// terminator), or 0 when it does not fit in size.
size_t FormatSelfRemovalBatch(char* out, size_t size, const char* exe, const char* folder, const char* batch,
                              const char* ping);

// path in the form cmd reads from a batch file (OEM code page; the short
// name where the long one has characters that code page lacks). 0 when it
// has no such form.
int BatchPathForm(const char* path, char* out, size_t size);

// Creates a new DUSxxxx.bat in folder (ending in a backslash), trying
// numbers from start on, never opening a file that exists. Its path goes
// to path (MAX_PATH); INVALID_HANDLE_VALUE when none can be made.
HANDLE CreateUniqueBatchFile(const char* folder, unsigned start, char* path);

// Writes the self-removal batch file for exe (and exeFolder, or null) as a
// new file in folder; its path goes to batch (MAX_PATH). 1 on success.
int WriteSelfRemovalBatch(const char* folder, unsigned start, const char* exe, const char* exeFolder, char* batch);
// The same with folders to remove (rmdir "A" "B" ...), in their order.
int WriteSelfRemovalBatch(const char* folder, unsigned start, const char* exe, const char* const* folders,
                          int folderCount, char* batch);

// The batch text with every folder of folders on the rmdir line, in order.
size_t FormatSelfRemovalBatchFolders(char* out, size_t size, const char* exe, const char* const* folders,
                                     int folderCount, const char* batch, const char* ping);
