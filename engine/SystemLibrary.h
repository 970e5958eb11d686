// Keeps DLLs planted beside the setup program (a Downloads folder, say) from
// being loaded in place of system ones.
#pragma once
#include <windows.h>

// Restricts the DLL search of the whole process to the system folder. Called
// first thing in WinMain, before anything can load a DLL by bare name.
void HardenDllSearchPath();

// Loads a system DLL by its full path in the system folder.
HMODULE LoadSystemLibrary(const char* name);
