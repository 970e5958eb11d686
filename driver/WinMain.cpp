#include <windows.h>

#include <stdlib.h>

#include "driver/Startup.h"
#include "platform/SystemLibrary.h"

// The default terminate handler prints a demangled type name, which links the
// whole demangler into the program; an exception that escapes is a bug anyway.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  abort();
}
}  // namespace __gnu_cxx

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
  // Before anything can load a DLL by bare name from the program's folder.
  HardenDllSearchPath();
  InitMillisecondClock();
  return RunSetupProgram(instance, commandLine, showCommand);
}
