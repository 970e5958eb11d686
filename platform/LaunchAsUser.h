// Starting the installed application for the signed-in user, never with
// administrator rights, and the note by which an elevated run asks the
// process that started it to do so.
//
// Who can change what: the note is a small shared section that the process
// without rights makes before it starts the elevated run; only its own user
// and the administrators may open it, and a name already taken is refused.
// The elevated run writes one mark and the folder the files went to, and
// nothing else: the process without rights reads the program and its
// arguments from its own script and fills in the placeholders itself, in
// the user's context (the user's own folders). A process of the same user
// that forged the note would have the user's program started as that same
// user, which it could do itself; nothing ever runs with more rights.
#pragma once
#include <windows.h>

// Starts program (a full path) with arguments (may be empty) in the
// program's folder, with this process's own rights; does not wait. 1 with
// the new process's id, or 0 with the system's error.
int StartProgram(const char* program, const char* arguments, DWORD* process, DWORD* error);

// The same as a child of the desktop shell (Explorer) of this session, with
// its token: an elevated run that no process without rights started. It is never
// started with administrator rights: -1 with why when there are no others
// to take (no shell, or the shell has them too), 0 with why and the error
// when it was tried and failed, 1 when it runs.
int StartProgramAsShellUser(const char* program, const char* arguments, DWORD* process, const char** why,
                            DWORD* error);

// The process without rights: makes the note, its id (hex digits, for
// -launchnote=) in id. NULL when it cannot be made.
HANDLE CreateLaunchNote(char* id, size_t size);
// The elevated run: the box was ticked, and the files went to folder.
// 0 when the note cannot be opened.
int WriteLaunchNote(const char* id, const char* folder);
// After the elevated run has ended: 1 with its folder when it asked for
// the launch, 0 when it did not (or the note holds no usable folder).
int ReadLaunchNote(HANDLE note, char* folder, size_t size);
