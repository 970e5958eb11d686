// The one record of the run: filled at start-up, read by the modes.
#pragma once
#include <windows.h>

#include "common/Mbcs.h"

#include "efs/ExeFileSystem.h"
#include "script/FileParser.h"
#include "script/Translations.h"
#include "uninstall/UninstallLogger.h"

// Thrown by value inside the installer path. Caught by the entry point, and
// by the install worker, which lets nothing leave its thread.
enum QSD_EXCEPTION {
  QSD_FAILED = 1,    // not yet shown to the user
  QSD_REPORTED = 2,  // already shown
};

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
