#include "driver/SetupState.h"

#include "common/Mbcs.h"

namespace SetupState {
HINSTANCE Instance;
char ExePath[PATH_BYTES];
char InstallDir[PATH_BYTES];
char WindowTitle[100];
char WindowClassName[100];
int UseBackground;
int AllowChangeInstallDir;
int ShowEulaPage;
volatile int CancelRequested;
int Scope = SCOPE_MACHINE;
int ScopeSetting = SCOPE_MACHINE;
SetupChoice* Choices;
int ChoiceCount;

// One translation unit fixes the construction order of the shared objects:
// the reader, the translation table, the log, the project script.
CExeFileSystemLogged Efs;
CTranslations Translations;
CUninstallLogger UninstallLog;
CFileParser Project;
}  // namespace SetupState
