// The Add/Remove Programs entry of a script whose [Global] has AppId = NAME:
// Software\Microsoft\Windows\CurrentVersion\Uninstall\NAME under
// HKEY_LOCAL_MACHINE, or HKEY_CURRENT_USER for an installation for one user
// or with AppIdRoot = HKEY_CURRENT_USER. Written at Finish, logged like
// every registry key so that the uninstaller and a rollback remove it.
#pragma once
#include <windows.h>

// The key path below its root ("Software/.../Uninstall/NAME", "/" between
// names) and the root's name; 0 when the script has no AppId.
int AddRemoveProgramsKey(char* root, size_t rootSize, char* path, size_t pathSize);

// Logs the key, then writes every value but the size: DisplayName,
// DisplayVersion (Version), Publisher, InstallLocation, DisplayIcon,
// UninstallString, QuietUninstallString, InstallDate, NoModify, NoRepair.
// 1 when done or there is no AppId; 0 after a failure that was shown.
int WriteAddRemoveProgramsEntry();

// EstimatedSize in KiB, from the files of the written uninstall log
// (uninstallLog) that exist, and the log itself with the uninstaller's two
// other files. Nothing without an AppId. 1, or 0 when it cannot be written.
int WriteAddRemoveProgramsSize(const char* uninstallLog);

// The sum of the sizes of the existing files that a log text records.
unsigned long long SizeOfLoggedFiles(char* text, size_t size);

// Before the wizard or a silent run: the version of this AppId that is
// installed already, in this run's scope (the user's entries for one
// user). Its InstallLocation becomes the destination unless destination
// (/D=, null when not given) names one; with KeepInstalledDir
// = TRUE no other folder is allowed (the page cannot change it, another
// /D= is refused). An older Version over a newer one is asked about;
// a run with nobody to ask (/S, /PASSIVE) refuses (SETUP_EXIT_DOWNGRADE).
// SETUP_EXIT_DONE to go on, else the exit code.
int CheckInstalledVersion(const char* destination);
