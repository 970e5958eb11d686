// Placeholders such as %PROGRAMFILES% or %MAINDIR% in script values and
// texts. Four values belong to the run and are set once before the install
// worker starts; the folders of the machine are asked anew at every use.
#pragma once

// A new string (free it with free()) with every placeholder replaced, or
// NULL for a NULL text, an unknown or unresolvable placeholder, or when
// memory runs out. Only the input is scanned: a "%" coming out of a value is
// never taken for the start of another placeholder.
char* ExpandPlaceholders(const char* text);

// The installation folder, stored with a separator at its end (260 bytes
// with the terminator). An empty or NULL path empties the value, so
// %MAINDIR% fails; a path too long to fit does the same and gives 0.
int SetMainDirPlaceholder(const char* path);
// The folder the installation was started from (259 bytes with the
// terminator and the separator) and its drive ("C:", or empty without a drive
// letter). Empty, NULL or too long: both values are emptied; too long gives 0.
int SetSourceDirPlaceholder(const char* path);
// At most the first 255 bytes of name, never half a double-byte character.
void SetAppNamePlaceholder(const char* name);
// Who the installation is for, set before DefaultDir is expanded: for one
// user (nonzero) %PROGRAMFILES% is the user's own programs folder
// (%LOCALAPPDATA%\Programs, made when missing, as Windows makes it on first
// use); for the machine (0, the start) it is the machine's.
void SetPlaceholderScope(int perUser);

// The file-system path of a shell folder (a CSIDL) in a buffer of 260
// bytes; 0 when the shell cannot give one.
int GetSpecialFolderPath(int folder, char* buffer);

// Tests only: empties the four stored values and the scope, as at process start.
void ResetPlaceholdersForTest();
