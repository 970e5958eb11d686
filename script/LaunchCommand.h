// [Global] RunAfterInstall: the program the finish page offers to start,
// quoted when its path has blanks, then its arguments. Shared by the setup
// program and the command's check. Portable: no platform headers.
#pragma once
#include <stddef.h>

enum LaunchCommandProblem {
  LAUNCH_COMMAND_OK = 0,
  LAUNCH_COMMAND_NO_PROGRAM,       // empty, blanks only, or ""
  LAUNCH_COMMAND_UNCLOSED_QUOTE,   // "%MAINDIR%My App.exe
};

struct LaunchCommand {
  const char* Program;  // into the value, without its quotes
  size_t ProgramLength;
  const char* Arguments;  // the rest after the blanks that follow the program ("" when none)
};

// Splits value before its placeholders are filled in: a folder's value may
// hold blanks, the script's own text is what says where the program ends.
LaunchCommandProblem SplitLaunchCommand(const char* value, LaunchCommand* out);

// 1 when path names its folder from a drive or a share (C:\..., \\server\...):
// a bare or relative name would be looked for where the setup was started.
int IsFullLaunchPath(const char* path);
