// Paths as ANSI byte strings: "\" and "/" separate folders, and they are
// looked for only at character boundaries, so the trail byte 0x5C of a
// double-byte character (the last byte of "表" in code page 932) is never
// taken for a separator. Portable: no platform headers.
#pragma once
#include <stddef.h>

// The file name: what follows the last separator, or a drive's "X:".
const char* PathFileName(const char* path);

// Nonzero when the last character of path is a separator.
int PathEndsWithSeparator(const char* path);

// Takes off the separators that end path, in place.
void PathTrimSeparators(char* path);

// folder, a "\" unless folder is empty or ends with a separator, then name,
// into out of size bytes; 0 (out left empty) when it does not fit.
int PathJoin(char* out, size_t size, const char* folder, const char* name);
