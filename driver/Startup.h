// Start-up common to every mode, and the choice of mode.
#pragma once
#include <windows.h>

#include "platform/FrontEnd.h"

// The whole run after the DLL search is hardened; returns the exit code.
int RunSetupProgram(HINSTANCE instance, const char* commandLine, int showCommand);

// Installer steps after the script and the table are loaded: the application
// name, the source folder, the three flags and the default destination into
// SetupState; originalSourceDir (null or empty: the running file's folder)
// is %SOURCEDIR%. Shows its own message and returns RUN_FAILED on failure.
RunResult ReadInstallerSettings(const char* originalSourceDir);
