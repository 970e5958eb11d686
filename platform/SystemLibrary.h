// Keeps DLLs planted beside the setup program (a Downloads folder, say) from
// being loaded in place of system ones.
#pragma once
#include <windows.h>

// Restricts the DLL search of the whole process to the system folder. Called
// first thing in WinMain, before anything can load a DLL by bare name.
void HardenDllSearchPath();

// The millisecond clock that throttles progress reports. winmm is not a
// known DLL, so it is loaded by name only after the search is restricted;
// without it the tick count stands in.
void InitMillisecondClock();
DWORD MillisecondClock();

// A DLL of the system folder by its full path, never by bare name: where
// the search cannot be restricted, a bare name finds one planted beside us.
HMODULE LoadSystemLibrary(const char* name);

// A DLL the script names (a full path), whose own dependencies come from its
// folder and the system folder only.
HMODULE LoadLibraryWithItsFolder(const char* path);

// An export as a function of the type its caller knows. FARPROC's own type
// matches no real signature (on x64 not even its return type), so the cast
// goes through a plain pointer.
template <typename Fn>
Fn ProcAddress(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
