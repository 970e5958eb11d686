// Path routines shared by the reader, the wizard, the replay and the join:
// existence tests and the creation of a path's folders. Paths of 259
// characters or more are refused with 0.
#pragma once

class CUninstallLogger;

int FileExists(const char* path);
int DirectoryExists(const char* path);
int CreateDirectoryPath(const char* path);
// As CreateDirectoryPath; every folder it creates is logged, outermost first.
int CreateDirectoryPathLogged(const char* path, CUninstallLogger* logger);
// 1 when every folder of the path exists or could be made; leaves the disk as it was.
int CanCreateDirectoryPath(const char* path);
