#include <stdlib.h>
#include <string.h>

#include "driver/SetupState.h"
#include "common/TextKeys.h"
#include "engine/SectionSupport.h"
#include "engine/Sections.h"
#include "platform/RunLog.h"

RunResult ProcessExecuteSection(const char* section) {
  CSectionLines lines(SECTION_EXECUTE, section);
  for (SectionLinesStatus got; (got = lines.Next()) != LINES_END;) {
    // the whole line is the command: nothing else is refused
    if (got != LINES_READY) return FailUnreadLine("execute file", got);
    char* commandLine = lines.Fields.Field[0];
    RunLogLine("Program started", commandLine);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
      ShowTranslatedSectionError(TK_COULD_NOT_EXECUTE_FILE, commandLine);
      return RUN_FAILED;
    }
    // One after the other; the exit code is the program's own business.
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    char text[32] = "exit code unknown";
    if (GetExitCodeProcess(process.hProcess, &code)) wsprintfA(text, "exit code %lu", (unsigned long)code);
    RunLogLine("Program ended", text);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  return RUN_DONE;
}
