#include "driver/SetupState.h"

namespace SetupState {
HINSTANCE Instance;
char ExePath[MAX_PATH];
char InstallDir[MAX_PATH];
char WindowTitle[100];
char WindowClassName[100];
int UseBackground;
int AllowChangeInstallDir;
int ShowEulaPage;
volatile int CancelRequested;

// One translation unit fixes the construction order of the shared objects:
// the reader, the translation table, the log, the project script.
CExeFileSystemLogged Efs;
CTranslations Translations;
CUninstallLogger UninstallLog;
CFileParser Project;
}  // namespace SetupState
