// The one record of the run: filled at start-up, read by the modes.
#pragma once
#include <windows.h>

#include "common/Mbcs.h"

#include "efs/ExeFileSystem.h"
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

// The shared objects, constructed before WinMain in the order they are
// defined in SetupState.cpp and destroyed in reverse after it returns.
extern CExeFileSystemLogged Efs;
extern CTranslations Translations;
extern CUninstallLogger UninstallLog;
extern CFileParser Project;
}  // namespace SetupState
