// A folder of this process's own for the temporary files that an elevated
// setup program runs or reads back (the copies of a split setup, the script
// and table, the pictures, the self-removal batch file). It lies in the
// user's temporary folder, where every process of that user could change a
// file between its writing and its use; its access rules let only the
// administrators and SYSTEM in, and a handle held without delete sharing
// keeps it from being renamed or replaced while the process runs.
#pragma once

// Replaces tempDir (PATH_BYTES, ending in a backslash: the system's temporary
// folder) by the private folder, made on the first call, and returns 1. A
// process that is no administrator has nothing to protect and keeps
// tempDir as it is (0). An administrator's that cannot make the folder
// gets -1 and tempDir as it is: it must not go on in the shared folder.
int UsePrivateTempFolder(char* tempDir);
// The folder for this run's temporary files, with its final backslash, into
// out (PATH_BYTES): the private folder for an administrator (made on first
// use), else the user's temporary folder. 0 when there is none to use.
int RunTempFolder(char* out);
// The user's temporary folder, with its final backslash, into out
// (PATH_BYTES); its length, or 0 when there is none or it does not fit.
int SystemTempFolder(char* out);
// 1 when this process runs with the administrators' rights (elevated).
int RunsAsAdministrator();
// The private folder with its final backslash; "" when there is none.
const char* PrivateTempFolder();
// Lets the folder go: the handle closed, the files left in it (a copy this
// run waited for, whose own removal may not have come yet) deleted, and the
// folder removed. Waits up to two seconds for a file still in use. A later
// UsePrivateTempFolder makes a new one.
void EndPrivateTempFolder();
// The folder's access rules (SDDL): owned by the administrators, full
// access for them and SYSTEM, inherited by what is made inside, nothing
// from the folder above. Without its first four characters, no owner.
const char* PrivateTempFolderRules();
// 1 when folder (no final backslash) is a private folder's name: "QST" and
// eight hexadecimal digits, right in the system's temporary folder.
int IsPrivateTempFolder(const char* folder);
// Makes folder (no final backslash), or takes the one that is there, and
// gives it the rules above: 1 when only administrators and SYSTEM can write
// in it now; 0 when it cannot be made so, is a link, or is no folder.
int MakeAdministratorsFolder(const char* folder);
