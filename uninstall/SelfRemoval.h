// A running program cannot delete its own file: a hidden batch file keeps
// trying until the process has ended, removes the folder if it is empty,
// then deletes itself.
#pragma once
#include <stddef.h>

// Silent on failure. The caller ends its process right after.
void RemoveSelf();

// The same for a copy in the temporary folder: that folder stays even when
// the copy was the last file in it.
void RemoveTemporarySelf();

// The batch file's text: five CR LF lines deleting exe until it is gone,
// removing folder (no such line when folder is null), then the batch file
// itself. A "%" in a path is doubled so that the command interpreter reads
// the path as it stands. Returns the length written (without the
// terminator), or 0 when it does not fit in size.
size_t FormatSelfRemovalBatch(char* out, size_t size, const char* exe, const char* folder, const char* batch);
