// Folders that no installation makes or owns: the replay never removes one
// with its content, and an installed version's entry that names one is
// never taken for its folder.
#pragma once

// A drive, a share, or a folder of Windows, of the programs or of a user's
// profile (the temporary folder too): 1 when folder is one of them.
int IsProtectedFolder(const char* folder);
