#include <windows.h>

#include <stdlib.h>

#include "driver/CommandLine.h"
#include "driver/Startup.h"
#include "platform/SystemLibrary.h"

// The default terminate handler prints a demangled type name, which links the
// whole demangler into the program; an exception that escapes is a bug anyway.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  abort();
}
}  // namespace __gnu_cxx

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
