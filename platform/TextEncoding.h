// Texts between code pages. The setup file stores its texts in UTF-8; a
// program whose code page is not UTF-8 (Windows before the manifest's entry
// was honoured) takes them in the ANSI code page instead.
#pragma once
#include <windows.h>

#include <stddef.h>

// size bytes of text in code page from, as a new heap string in code page
// to (zero-terminated, *outSize bytes without the terminator). A character
// that code page to cannot hold becomes its default character. Null when
// the text is not valid in from, or memory runs out.
char* ConvertText(const char* text, size_t size, UINT from, UINT to, size_t* outSize);

// The whole of an open file from its start, zero-terminated (*size bytes
// without the terminator); null when it cannot be read.
char* ReadWholeFile(HANDLE file, DWORD* size);
// 1 when all size bytes of data were written to file.
int WriteAll(HANDLE file, const void* data, size_t size);
// The same of the file at path, opened with share; null when it cannot be
// opened (GetLastError tells why) or read (ERROR_READ_FAULT).
char* ReadWholeFile(const char* path, DWORD* size, DWORD share = FILE_SHARE_READ);

class CFileParser;

// Loads the script file into parser in the program's code page: a script
// the command stored in UTF-8 is converted when that code page is not.
// Any other text (ASCII, or already in the ANSI code page) is taken as it
// is. 1 when the file was read and is a script.
int LoadScriptInProgramCodePage(const char* path, CFileParser* parser);

// Rewrites a translation table as UTF-16 with its byte-order mark, which the
// profile functions of every Windows read whatever the code page: from
// UTF-8 when it is that, else from the ANSI code page. 1 on success.
int ConvertTableToUnicode(const char* path);

// text (the program's code page) as a new heap UTF-16 string; null when
// memory runs out. For the calls that do not take the program's code page
// on every system (the shell link object and the profile writer take the
// system's on some), which are made wide instead.
WCHAR* WideOf(const char* text);

// WritePrivateProfileStringA with the program's code page on every system:
// made wide, since the narrow writer of some takes the system's. A null
// key or value deletes as the narrow call does.
BOOL WriteProfileText(const char* section, const char* key, const char* value, const char* file);

// GetTempFileNameA, its result in out[PATH_BYTES]: the narrow call writes at
// most MAX_PATH bytes, fewer than a UTF-8 folder of MAX_PATH - 14
// characters may take, and cuts the name it made. 0 when no name is made.
UINT WINAPI MakeTempFileName(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR out);

// The system's maker of unique temporary names (MakeTempFileName); tests
// give one that keeps Windows' rule where Wine's does not, or one that
// plants a file at the name it gives.
typedef UINT(WINAPI* TempFileNameMaker)(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR out);

// A new file PREFIXnnnn.tmp in folder, made here (CREATE_NEW: never one that
// is there already, nor a link) and open for reading and writing, shared for
// reading only; its path in out[PATH_BYTES]. What it holds is what this
// handle writes. INVALID_HANDLE_VALUE when none can be made.
HANDLE CreateNewTempFile(LPCSTR folder, LPCSTR prefix, LPSTR out, TempFileNameMaker maker = MakeTempFileName);
