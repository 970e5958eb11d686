// The readable log of a run (/LOG=FILE, and every silent run): one line per
// action with its target, each failure with its text, and the result. Lines
// are "HH:MM:SS kind: text", CR LF; a text's own line breaks continue on
// indented lines. Nothing is written while no log is open.
#pragma once
#include "common/Mbcs.h"

// Opens the log at path, replacing it or (append) adding to it; 0 when it
// cannot be opened.
int OpenRunLog(const char* path, int append);
void CloseRunLog();
int RunLogIsOpen();
// One entry: kind ("File created", "Failure", "Result", ...) and its text.
void RunLogLine(const char* kind, const char* text);
// kind and a text with one "%s" filled by arg.
void RunLogLineWith(const char* kind, const char* text, const char* arg);

// Where a silent run without /LOG= writes, into path (PATH_BYTES): name
// (Quillset-Setup.log, Quillset-Uninstall.log for the uninstaller) in
// %TEMP%; for an elevated run in %ProgramData%\Quillset, a folder only
// administrators can write. 0 when there is no such folder. OpenRunLog
// never follows a link at this path, nor writes into a file with more
// than one name.
int DefaultRunLogPath(const char* name, char* path);
