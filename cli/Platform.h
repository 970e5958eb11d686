// The few things the command needs from the system beyond the portable core:
// where it runs from, terminals, clocks, file times and renames.
#pragma once
#include <stdint.h>
#include <stdio.h>

#include <string>

// Full path of the running program, or "" when the system cannot say.
std::string PlatformExePath();
// 1 when f is a terminal (the progress bar is drawn only there).
int PlatformIsTerminal(FILE* f);
// Columns of the terminal behind f, 80 when unknown.
int PlatformTerminalColumns(FILE* f);
// The command writes UTF-8: what goes to a Windows console is shown as
// UTF-8 whatever the console's code page. Called once, first.
void PlatformUseUtf8Console();
// Seconds on a monotonic clock.
double PlatformSeconds();
// Processors available to this process, at least 1.
unsigned PlatformProcessors();

// Sets the last-write time of a file from a Windows FILETIME; 1 on success.
int PlatformSetFileTime(const char* path, uint64_t fileTime);
int PlatformIsDirectory(const char* path);
// Creates dir and every missing folder above it; 1 on success.
int PlatformMakeFolders(const char* dir);
// Moves from over to, replacing an existing to; 1 on success.
int PlatformReplaceFile(const char* from, const char* to);
// Deletes a file, 1 when it is gone.
int PlatformRemoveFile(const char* path);
// A name beside path that no file has yet, for writing and then renaming.
std::string PlatformTemporarySibling(const std::string& path);
// Text of the last C library error.
std::string PlatformErrorText(int error);

// Files to delete if the process is interrupted (Ctrl+C, termination).
void PlatformCleanupAdd(const std::string& path);
void PlatformCleanupRemove(const std::string& path);

// Paths: "/" and "\" both separate on Windows; "/" only elsewhere, where "\"
// from a script is turned into "/" first.
int PlatformIsSeparator(char c);
int PlatformIsAbsolute(const std::string& path);
std::string PlatformJoin(const std::string& folder, const std::string& name);
// Folder part of a path ("." when it has none).
std::string PlatformFolderOf(const std::string& path);
// Lexically normalised path: separators unified, "." and ".." folded.
std::string PlatformNormalise(const std::string& path);
// Equal paths by the system's rules (case-blind on Windows).
int PlatformSamePath(const std::string& a, const std::string& b);

// text in Windows code page codePage (1252, 1250, 1251, 932, 936, ...) as
// UTF-8 into *out; 0 when the code page is unknown here or text holds a byte
// sequence that is no character of it.
int PlatformToUtf8(const std::string& text, int codePage, std::string* out);

int64_t PlatformFileSize(FILE* f);
int PlatformSeek(FILE* f, uint64_t offset);
