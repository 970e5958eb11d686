// The one record of the run: filled at start-up, read by the modes.
#pragma once
#include <windows.h>

#include "common/Mbcs.h"

#include "efs/ExeFileSystem.h"
#include "script/Choices.h"
#include "script/FileParser.h"
#include "script/Translations.h"
#include "uninstall/UninstallLogger.h"

namespace SetupState {
extern HINSTANCE Instance;
extern char ExePath[PATH_BYTES];
extern char InstallDir[PATH_BYTES];
extern char WindowTitle[100];
extern char WindowClassName[100];
extern int UseBackground;
extern int AllowChangeInstallDir;
extern int ShowEulaPage;
extern volatile int CancelRequested;
// Who the installation is for: [Global] Scope, then /ALLUSERS or /CURRENTUSER
// or the user's answer where the script lets them choose. Scope is what the
// run does (SCOPE_MACHINE or SCOPE_USER); ScopeSetting is what the script says.
enum InstallScope { SCOPE_MACHINE = 0, SCOPE_USER = 1, SCOPE_CHOOSE = 2 };
extern int Scope;
extern int ScopeSetting;
// The script's components and tasks in its order (components first), with
// the run's choice; none (null, 0) for a script without them.
extern SetupChoice* Choices;
extern int ChoiceCount;

// The shared objects, constructed before WinMain in the order they are
// defined in SetupState.cpp and destroyed in reverse after it returns.
extern CExeFileSystemLogged Efs;
extern CTranslations Translations;
extern CUninstallLogger UninstallLog;
extern CFileParser Project;
}  // namespace SetupState
