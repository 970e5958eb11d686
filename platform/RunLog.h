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

// Where a silent run without /LOG= writes: %TEMP%\Quillset-Setup.log
// (Quillset-Uninstall.log for the uninstaller) into path (PATH_BYTES); 0
// when the temporary folder is unknown.
int DefaultRunLogPath(const char* name, char* path);
