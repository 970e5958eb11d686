#include <stdlib.h>

#include "common/SafeFormat.h"
#include "driver/SetupState.h"
#include "engine/SectionSupport.h"
#include "engine/Sections.h"
#include "platform/SystemLibrary.h"
#include "script/Placeholders.h"

typedef HRESULT(STDAPICALLTYPE* RegisterServerProc)();

static int Fail(const char* text, const char* path, char* toFree) {
  const char* args[1] = {path ? path : ""};
  char message[2048];
  SafeFormat(message, sizeof message, text, args, 1);
  ShowSectionError(message);
  free(toFree);
  return 0;
}

int ProcessRegisterDllsSection(const char* section) {
  const int32_t count = SetupState::Project.GetLineCount(section);
  for (int32_t i = 0; i < count; ++i) {
    char* raw = ReadSectionLine(section, i);
    if (!raw)
      return Fail("Failed to register dll file due to memory allocation error.\n"
                  "Installation will be aborted.", NULL, NULL);
    char* path = ExpandPlaceholders(raw);
    free(raw);
    if (!path)
      return Fail("Failed to register dll file: Unable to realize QSP file placeholders.\n"
                  "Installation will be aborted.", NULL, NULL);
    // The search is limited to the system folder at start-up; the DLL's own
    // dependencies must still come from its folder.
    HMODULE dll = LoadLibraryWithItsFolder(path);
    if (!dll)
      return Fail("Failed to register dll file: The following dll file could not be loaded.\n"
                  "%s\nInstallation will be aborted.", path, path);
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
                  "%s\nInstallation will be aborted.", path, path);
    if (!logged) {
      CUninstallLogger::ShowWriteError();
      free(path);
      return 0;
    }
    free(path);
  }
  return 1;
}
