// The little file access the builder needs, on Linux and on Windows, without
// platform headers in the core.
#pragma once
#include <stdint.h>
#include <stdio.h>

// 1 when path names an existing regular file.
int PortableFileExists(const char* path);
// Size and last-write time (as a Windows FILETIME) of a file; 0 on failure.
int PortableFileInfo(const char* path, uint64_t* size, uint64_t* fileTime);
// Creates every missing folder of the folder part of path ("/" or "\" separate).
int PortableCreateParentFolders(const char* path);
// 1 when the last failed write ran out of space.
int PortableLastErrorWasDiskFull();
