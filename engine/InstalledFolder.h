// The folder of an installed version, as its Add/Remove Programs entry names
// it, before a new run takes it for its own.
#pragma once

// 1 when location, the InstallLocation of the entry at rootName/keyPath ("/"
// between names), may be taken for this installation's folder, and the
// entry's version counts. An entry under HKEY_CURRENT_USER is the user's
// own processes' to write: it counts only when it names no protected folder
// and the folder holds an uninstaller and the uninstall log of that very
// entry. Else 0, and the run log says why.
int InstalledFolderCounts(const char* rootName, const char* keyPath, const char* location);
