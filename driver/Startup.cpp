#include "driver/Startup.h"

#include <objbase.h>
#include <string.h>

#include "driver/SetupFileKind.h"
#include "driver/SetupState.h"
#include "resources/resource.h"

static const char kUnspecifiedError[] =
    "An unspecified error occured. The installation will be terminated.";

static void ShowError(const char* text, UINT style) {
  MessageBoxA(NULL, text, "Error", style);
}

const char* FindCommandLineOption(const char* commandLine, const char* option) {
  if (!commandLine) return NULL;
  const char* hit = strstr(commandLine, option);
  if (!hit) return NULL;
  hit += strlen(option);
  return *hit ? hit + 1 : hit;
}

// Modes whose bodies are not in this build say so instead of doing nothing.
static int ReportModeUnavailable(const char* text) {
  ShowError(text, MB_OK | MB_ICONERROR);
  return 1;
}

// Extracts one entry the installer needs into its temporary file, with the
// messages of a missing and of a corrupt entry.
static void ExtractToTemp(const char* entry, const char* path, const char* failed,
                          const char* corrupt) {
  try {
    if (SetupState::Efs.ExtractFile(entry, path, 1, NULL, 500) != 1) {
      ShowError(failed, MB_OK);
      throw QSD_REPORTED;
    }
  } catch (EFSERROR error) {
    if (error != EFS_ERR_CRC) throw;
    ShowError(corrupt, MB_OK);
    throw QSD_REPORTED;
  }
}

static void CreateTemp(const char* tempDir, const char* prefix, char* path, const char* failed) {
  if (!GetTempFileNameA(tempDir, prefix, 0, path)) {
    path[0] = '\0';
    ShowError(failed, MB_OK);
    throw QSD_REPORTED;
  }
}

static int RunInstaller(const char* tempDir) {
  char tempProject[MAX_PATH] = "";
  char tempTranslations[MAX_PATH] = "";
  int code = 0;
  try {
    SetupState::Efs.Open(SetupState::ExePath);
    CreateTemp(tempDir, "QSP", tempProject,
               "Failed to create temporary QSP file in temporary files directory.");
    ExtractToTemp("default.qsp", tempProject, "Failed to copy default.qsp to the temp directory.",
                  "The installation file is corrupt.\nDefault.qsp failed on CRC check.");
    CreateTemp(tempDir, "TRA", tempTranslations,
               "Failed to create temporary Translations.ini file in temporary files directory.");
    ExtractToTemp("Translations.ini", tempTranslations,
                  "Failed to copy Translations.ini to the temp directory.",
                  "The installation file is corrupt.\nTranslations.ini failed on CRC check.");
    // The script, the wizard and the install itself are not in this build.
    code = ReportModeUnavailable("Installing is not available in this build of Quillset.");
  } catch (QSD_EXCEPTION error) {
    if (error != QSD_REPORTED) ShowError(kUnspecifiedError, MB_OK | MB_ICONERROR);
    code = 1;
  } catch (...) {
    ShowError(kUnspecifiedError, MB_OK | MB_ICONERROR);
    code = 1;
  }
  if (tempProject[0]) DeleteFileA(tempProject);
  if (tempTranslations[0]) DeleteFileA(tempTranslations);
  return code;
}

// Steps after COM is up; the caller uninitialises COM on every path.
static int RunWithCom(const char* commandLine) {
  (void)commandLine;
  LoadStringA(SetupState::Instance, IDS_WINDOW_TITLE, SetupState::WindowTitle,
              sizeof SetupState::WindowTitle);
  LoadStringA(SetupState::Instance, IDS_WINDOW_CLASS, SetupState::WindowClassName,
              sizeof SetupState::WindowClassName);

  if (!SetupState::UninstallLog.CreateTempLog()) {
    ShowError(kUnspecifiedError, MB_OK | MB_ICONERROR);
    return 0;
  }
  DWORD n = GetModuleFileNameA(NULL, SetupState::ExePath, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    SetupState::ExePath[0] = '\0';
    ShowError(kUnspecifiedError, MB_OK | MB_ICONERROR);
    return 0;
  }
  char tempDir[MAX_PATH];
  n = GetTempPathA(MAX_PATH, tempDir);
  if (n == 0 || n >= MAX_PATH) {
    ShowError("Failed to find path to the temporary files directory.", MB_OK);
    return 0;
  }

  switch (ReadSetupFileKind(SetupState::ExePath)) {
    case FILEKIND_UNINSTALLER:
      return ReportModeUnavailable("Uninstalling is not available in this build of Quillset.");
    case FILEKIND_INSTALLER:
      return RunInstaller(tempDir);
    case FILEKIND_NONE:
      return ReportModeUnavailable(
          "Split installations are not available in this build of Quillset.");
    default:
      ShowError(kUnspecifiedError, MB_OK | MB_ICONERROR);
      return 0;
  }
}

int RunSetupProgram(HINSTANCE instance, const char* commandLine, int showCommand) {
  (void)showCommand;
  SetupState::Instance = instance;

  // One copy at a time: installer, uninstaller and split copies alike.
  HANDLE mutex = CreateMutexA(NULL, FALSE, "UnQuillsetDeployer_mutex");
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    if (mutex) CloseHandle(mutex);
    return 0;
  }

  CoInitialize(NULL);
  int code = RunWithCom(commandLine);
  CoUninitialize();
  if (mutex) CloseHandle(mutex);
  return code;
}
