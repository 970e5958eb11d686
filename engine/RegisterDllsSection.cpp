#include <stdlib.h>

#include "driver/SetupState.h"
#include "engine/SectionSupport.h"
#include "engine/Sections.h"
#include "platform/SystemLibrary.h"

typedef HRESULT(STDAPICALLTYPE* RegisterServerProc)();

static const char kRegister[] = "register dll file";

RunResult ProcessRegisterDllsSection(const char* section) {
  CSectionLines lines(SECTION_REGISTERDLLS, section);
  for (SectionLinesStatus got; (got = lines.Next()) != LINES_END;) {
    if (got != LINES_READY) return FailUnreadLine(kRegister, got);
    const char* path = lines.Fields.Field[0];
    // The search is limited to the system folder at start-up; the DLL's own
    // dependencies must still come from its folder.
    HMODULE dll = LoadLibraryWithItsFolder(path);
    if (!dll) return FailSection(kRegister, ": The following dll file could not be loaded.", path);
    RegisterServerProc reg = ProcAddress<RegisterServerProc>(dll, "DllRegisterServer");
    const bool registered = reg && reg() == S_OK;
    // a registration its uninstaller would not know of is undone at once
    const bool logged = registered && SetupState::UninstallLog.LogDllRegistered(path);
    if (registered && !logged) {
      RegisterServerProc unreg = ProcAddress<RegisterServerProc>(dll, "DllUnregisterServer");
      if (unreg) unreg();
    }
    FreeLibrary(dll);
    if (!registered) return FailSection(kRegister, ": The following dll file could not be registered.", path);
    if (!logged) {
      CUninstallLogger::ShowWriteError();
      return RUN_FAILED;
    }
  }
  return RUN_DONE;
}
