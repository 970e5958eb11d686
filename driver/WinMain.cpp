#include <windows.h>

#include <stdlib.h>

#include "driver/CommandLine.h"
#include "driver/Startup.h"
#include "platform/SystemLibrary.h"

// The arguments in the program's code page. The run time's own copy skips
// the program's name only up to the first byte above 127, so an unquoted
// path with such a folder in it would be taken for options.
static char* ReadArguments() {
  const wchar_t* arguments = SkipProgramName(GetCommandLineW());
  // no best fit: a character the code page lacks must not become a quote or a slash
  const DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int size = WideCharToMultiByte(CP_ACP, flags, arguments, -1, NULL, 0, NULL, NULL);
  char* text = size > 0 ? static_cast<char*>(malloc(static_cast<size_t>(size))) : NULL;
  if (text && !WideCharToMultiByte(CP_ACP, flags, arguments, -1, text, size, NULL, NULL)) text[0] = '\0';
  return text;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  // Before anything can load a DLL by bare name from the program's folder.
  HardenDllSearchPath();
  InitMillisecondClock();
  char* arguments = ReadArguments();
  const int code = RunSetupProgram(instance, arguments ? arguments : "", showCommand);
  free(arguments);
  return code;
}

// What the run time's start-up would do before WinMain, and nothing else:
// it also parses an argv and an environment that nothing reads, and brings
// unwind tables and thread-local callbacks.
// Nothing refers to data in DLLs, so there is nothing to patch at start-up:
// the link refuses such a reference (--disable-auto-import). Yet ld
// 2.40 crashes on this link unless the run time's patcher is loaded before
// the link-time optimisation: this function names it, and is itself dropped.
extern "C" void _pei386_runtime_relocator();
extern "C" void LoadRelocatorForTheLinker() { _pei386_runtime_relocator(); }
extern "C" void __main();                     // the static constructors, once
extern "C" IMAGE_DOS_HEADER __ImageBase;

// The destructors of static objects are registered here (the run time's
// start-up defines it too): msvcrt's exit() runs them, the shared objects'
// included, in reverse order.
extern "C" int atexit(void (*function)()) {
  return _onexit(reinterpret_cast<_onexit_t>(function)) ? 0 : -1;
}

// The program's entry point (the link names it).
extern "C" void SetupEntry() {
  __main();
  STARTUPINFOW startup;
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  const int showCommand = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  exit(WinMain(reinterpret_cast<HINSTANCE>(&__ImageBase), NULL, NULL, showCommand));
}
