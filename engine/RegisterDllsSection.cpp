#include <stdlib.h>

#include "common/SafeFormat.h"
#include "driver/SetupState.h"
#include "engine/SectionSupport.h"
#include "engine/Sections.h"
#include "platform/SystemLibrary.h"

typedef HRESULT(STDAPICALLTYPE* RegisterServerProc)();

static RunResult Fail(const char* text, const char* path) {
  const char* args[1] = {path ? path : ""};
  char message[2048];
  SafeFormat(message, sizeof message, text, args, 1);
  ShowSectionError(message);
  return RUN_FAILED;
}

RunResult ProcessRegisterDllsSection(const char* section) {
  CSectionLines lines(SECTION_REGISTERDLLS, section);
  for (SectionLinesStatus got; (got = lines.Next()) != LINES_END;) {
    if (got != LINES_READY)
      return Fail(got == LINES_PLACEHOLDERS ? "Failed to register dll file: Unable to realize QSP file placeholders.\n"
                                              "Installation will be aborted."
                                            : "Failed to register dll file due to memory allocation error.\n"
                                              "Installation will be aborted.",
                  NULL);
    const char* path = lines.Fields.Field[0];
    // The search is limited to the system folder at start-up; the DLL's own
    // dependencies must still come from its folder.
    HMODULE dll = LoadLibraryWithItsFolder(path);
    if (!dll)
      return Fail("Failed to register dll file: The following dll file could not be loaded.\n"
                  "%s\nInstallation will be aborted.", path);
    RegisterServerProc reg = ProcAddress<RegisterServerProc>(dll, "DllRegisterServer");
    const bool registered = reg && reg() == S_OK;
    // a registration its uninstaller would not know of is undone at once
    const bool logged = registered && SetupState::UninstallLog.LogDllRegistered(path);
    if (registered && !logged) {
      RegisterServerProc unreg = ProcAddress<RegisterServerProc>(dll, "DllUnregisterServer");
      if (unreg) unreg();
    }
    FreeLibrary(dll);
    if (!registered)
      return Fail("Failed to register dll file: The following dll file could not be registered.\n"
                  "%s\nInstallation will be aborted.", path);
    if (!logged) {
      CUninstallLogger::ShowWriteError();
      return RUN_FAILED;
    }
  }
  return RUN_DONE;
}
