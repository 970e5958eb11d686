// Start-up common to every mode, and the choice of mode.
#pragma once
#include <windows.h>

// The whole run after the DLL search is hardened; returns the exit code.
int RunSetupProgram(HINSTANCE instance, const char* commandLine, int showCommand);

// Case-sensitive substring search for an option anywhere in the command line.
// Returns its argument (the text after the option and one blank, possibly
// empty), or NULL when the option is absent.
const char* FindCommandLineOption(const char* commandLine, const char* option);

// Installer steps after the script and the table are loaded: the application
// name, the source folder, the three flags and the default destination into
// SetupState. Shows its own message and throws QSD_REPORTED on failure.
void ReadInstallerSettings(const char* commandLine);
