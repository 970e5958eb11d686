#include <stdlib.h>
#include <string.h>

#include "driver/SetupState.h"
#include "common/TextKeys.h"
#include "engine/SectionSupport.h"
#include "engine/Sections.h"
#include "platform/RunLog.h"
#include "script/Placeholders.h"

int ProcessExecuteSection(const char* section) {
  const int32_t count = SetupState::Project.GetLineCount(section);
  for (int32_t i = 0; i < count; ++i) {
    char* raw = ReadSectionLine(section, i);
    if (!raw) {
      ShowSectionError("Failed to execute file due to memory allocation error.\n"
                       "Installation will be aborted.");
      return 0;
    }
    char* commandLine = ExpandPlaceholders(raw);
    free(raw);
    if (!commandLine) {
      ShowSectionError("Failed to execute file: Unable to realize QSP file placeholders.\n"
                       "Installation will be aborted.");
      return 0;
    }
    RunLogLine("Program started", commandLine);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
      ShowTranslatedSectionError(TK_COULD_NOT_EXECUTE_FILE, commandLine);
      free(commandLine);
      return 0;
    }
    // One after the other; the exit code is the program's own business.
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    char text[32] = "exit code unknown";
    if (GetExitCodeProcess(process.hProcess, &code)) wsprintfA(text, "exit code %lu", (unsigned long)code);
    RunLogLine("Program ended", text);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    free(commandLine);
  }
  return 1;
}
