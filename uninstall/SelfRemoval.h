// A running program cannot delete its own file: a hidden batch file keeps
// trying until the process has ended, removes the folder if it is empty,
// then deletes itself.
#pragma once

// Silent on failure. The caller ends its process right after.
void RemoveSelf();

// The same for a copy in the temporary folder: that folder stays even when
// the copy was the last file in it.
void RemoveTemporarySelf();
