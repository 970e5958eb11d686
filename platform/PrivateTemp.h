// A folder of this process's own for the temporary files that an elevated
// setup program runs or reads back (the copies of a split setup, the script
// and table, the pictures, the self-removal batch file). It lies in the
// user's temporary folder, where every process of that user could change a
// file between its writing and its use; its access rules let only the
// administrators and SYSTEM in, and a handle held without delete sharing
// keeps it from being renamed or replaced while the process runs.
#pragma once

// Replaces tempDir (MAX_PATH, ending in a backslash: the system's temporary
// folder) by the private folder, made on the first call, and returns 1. A
// process that is no administrator has nothing to protect and keeps
// tempDir as it is, as it does when the folder cannot be made (0).
int UsePrivateTempFolder(char* tempDir);
// The private folder with its final backslash; "" when there is none.
const char* PrivateTempFolder();
// Lets the folder go: the handle closed, the files left in it (a copy this
// run waited for, whose own removal may not have come yet) deleted, and the
// folder removed. Waits up to two seconds for a file still in use.
void EndPrivateTempFolder();
// The folder's access rules (SDDL): owned by the administrators, full
// access for them and SYSTEM, inherited by what is made inside, nothing
// from the folder above. Without its first four characters, no owner.
const char* PrivateTempFolderRules();
// 1 when folder (no final backslash) is a private folder's name: "QST" and
// eight hexadecimal digits, right in the system's temporary folder.
int IsPrivateTempFolder(const char* folder);
