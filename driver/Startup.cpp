#include "driver/Startup.h"

#include <objbase.h>
#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/PathText.h"
#include "driver/SetupFileKind.h"
#include "driver/SetupState.h"
#include "driver/SliceCheck.h"
#include "driver/SplitJoin.h"
#include "platform/PrivateTemp.h"
#include "efs/EntryExtraction.h"
#include "resources/resource.h"
#include "script/Placeholders.h"
#include "ui/BackgroundWindow.h"
#include "ui/Wizard.h"
#include "uninstall/SelfRemoval.h"
#include "uninstall/UninstallDriver.h"

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

// The single-instance mutex; each process of a split installation gives it
// up just before it starts the next, whose own check must succeed.
static HANDLE g_Mutex;

static void GiveUpMutex() {
  if (g_Mutex) CloseHandle(g_Mutex);
  g_Mutex = NULL;
}

// Starts "path" + options as a process of its own and lets it go.
static int StartChild(const char* path, const char* option, const char* argument) {
  char line[3 * MAX_PATH + 64];
  if (strlen(path) + strlen(option) + strlen(argument) + 5 > sizeof line) return 0;
  strcpy(line, "\"");
  strcat(line, path);
  strcat(line, "\" ");
  strcat(line, option);
  strcat(line, " ");
  strcat(line, argument);
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child;
  GiveUpMutex();
  if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &child)) return 0;
  CloseHandle(child.hProcess);
  CloseHandle(child.hThread);
  return 1;
}

// Started from where it was delivered: copies itself to the temporary folder
// and lets that copy join the parts, so that the disk can be changed.
static int RunFirstPart(const char* tempDir) {
  // drive, folder and name of this file without its extension
  char base[MAX_PATH];
  lstrcpynA(base, SetupState::ExePath, MAX_PATH);
  const char* slash = MbcsFindLastChar(base, '\\');
  char* dot = const_cast<char*>(MbcsFindLastChar(slash ? slash : base, '.'));
  if (dot) *dot = '\0';
  // Slices of another build beside it: nothing is copied, nothing runs.
  if (!SlicesBesideMatch(SetupState::ExePath, base)) {
    ShowError(kDamagedSetupText, MB_OK | MB_ICONERROR);
    return 1;
  }
  char copy[MAX_PATH];
  if (!GetTempFileNameA(tempDir, "EXE", 0, copy)) {
    ShowError("Failed to create temporary file in temporary files directory.", MB_OK);
    return 0;
  }

  if (!JoinSplitParts(SetupState::Instance, copy, base, SPLITJOIN_COPY_EXE_ONLY)) {
    ShowError("Failed to copy executable part of split installation to temporary files directory.",
              MB_OK | MB_ICONERROR);
    DeleteFileA(copy);
    return 0;
  }
  if (!StartChild(copy, "-joinsplitparts", base)) {
    ShowError("Failed to launch child process", MB_OK | MB_ICONERROR);
    DeleteFileA(copy);
  }
  return 0;
}

// The temporary copy: joins every part into a second temporary file, starts
// that as the installer and goes. The joined file removes itself.
static int RunSplitJoin(const char* tempDir, const char* base) {
  char joined[MAX_PATH];
  if (!GetTempFileNameA(tempDir, "EXE", 0, joined)) {
    ShowError("Failed to create temporary file in temporary files directory.", MB_OK);
    RemoveTemporarySelf();
    return 0;
  }
  if (!JoinSplitParts(SetupState::Instance, joined, base, SPLITJOIN_JOIN_ALL)) {
    DeleteFileA(joined);  // gone already; the window deletes it
    RemoveTemporarySelf();
    return SplitJoinFoundDamage() ? 1 : 0;  // as for a damaged setup file
  }
  // the folder of the first part, without its final backslash
  char folder[MAX_PATH];
  lstrcpynA(folder, base, MAX_PATH);
  if (char* slash = const_cast<char*>(MbcsFindLastChar(folder, '\\'))) *slash = '\0';
  if (!StartChild(joined, "-originalsourcedirlocation", folder)) {
    ShowError("Failed to launch child process", MB_OK | MB_ICONERROR);
    DeleteFileA(joined);
  }
  RemoveTemporarySelf();
  return 0;
}

// Extracts one entry the installer needs into its temporary file, with the
// messages of a failed and of a corrupt entry.
static void ExtractToTemp(const char* entry, const char* path, const char* failed,
                          const char* corrupt) {
  const ExtractOutcome outcome = ExtractEntry(SetupState::Efs, entry, path);
  if (outcome == EXTRACT_DONE) return;
  ShowError(outcome == EXTRACT_CORRUPT ? corrupt : failed, MB_OK);
  throw QSD_REPORTED;
}

static void CreateTemp(const char* tempDir, const char* prefix, char* path, const char* failed) {
  if (!GetTempFileNameA(tempDir, prefix, 0, path)) {
    path[0] = '\0';
    ShowError(failed, MB_OK);
    throw QSD_REPORTED;
  }
}

// Translated from the moment the table is pointed at, English before.
static void ShowUnspecifiedError() {
  if (SetupState::Translations.IsLoaded())
    SetupState::Translations.ShowMessage(NULL, "UNSPECIFIED_ERROR_OCCURED", "ERROR",
                                         MB_OK | MB_ICONERROR);
  else
    ShowError(kUnspecifiedError, MB_OK | MB_ICONERROR);
}

static void ShowTranslated(const char* key) {
  SetupState::Translations.ShowMessage(NULL, key, "ERROR", MB_OK);
}

// A value of the script as a new string (default when missing); throws when
// memory runs out.
static char* ReadProjectValue(const char* section, const char* key, const char* defaultValue) {
  int32_t n = SetupState::Project.GetValue(section, key, defaultValue, NULL, 0);
  if (n < 1) n = 1;  // present but empty
  char* value = static_cast<char*>(malloc(n));
  if (!value) throw QSD_FAILED;
  value[0] = '\0';
  SetupState::Project.GetValue(section, key, defaultValue, value, n);
  return value;
}

// "TRUE" exactly; read into 6 bytes, so longer values never match.
static int ReadProjectFlag(const char* section, const char* key) {
  char value[6] = "";
  SetupState::Project.GetValue(section, key, "FALSE", value, sizeof value);
  return strcmp(value, "TRUE") == 0 ? 1 : 0;
}

void ReadInstallerSettings(const char* commandLine) {
  char* name = ReadProjectValue("Global", "ApplicationName", "");
  if (!name[0]) {
    free(name);
    ShowTranslated("NO_APP_NAME_DEFINED");
    throw QSD_REPORTED;
  }
  SetAppNamePlaceholder(name);
  free(name);

  const char* source = FindCommandLineOption(commandLine, "-originalsourcedirlocation");
  if (source && *source) {
    SetSourceDirPlaceholder(source);
  } else {
    // drive and folder of the running file, with its final backslash
    char folder[MAX_PATH];
    lstrcpynA(folder, SetupState::ExePath, MAX_PATH);
    char* slash = const_cast<char*>(MbcsFindLastChar(folder, '\\'));
    if (slash) slash[1] = '\0';
    SetSourceDirPlaceholder(folder);
  }

  SetupState::AllowChangeInstallDir = ReadProjectFlag("Global", "AllowChangeInstallDir");
  SetupState::ShowEulaPage = ReadProjectFlag("Global", "ShowEULAPage");

  // A folder that does not expand, or does not fit a path, would send the
  // files somewhere the author never meant: stop before anything is done.
  char* text = ReadProjectValue("Global", "DefaultDir", "C:\\");
  char* folder = ExpandPlaceholders(text);
  free(text);
  if (!folder || strlen(folder) >= sizeof SetupState::InstallDir) {
    free(folder);
    ShowUnspecifiedError();
    throw QSD_REPORTED;
  }
  strcpy(SetupState::InstallDir, folder);
  free(folder);
}

// A quit message left from the wizard's end would close every question of
// the rollback at once, unanswered.
static void DropPendingQuit() {
  MSG message;
  while (PeekMessageA(&message, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

// Undoes the run: the replaced files back, then the log replayed. It needs
// the translation table, so it runs before the temporary files go.
static void RollBack() {
  DropPendingQuit();
  SetupState::UninstallLog.Rollback();
}

static int RunInstaller(const char* tempDir, const char* commandLine, int showCommand) {
  char tempProject[MAX_PATH] = "";
  char tempTranslations[MAX_PATH] = "";
  int code = 0;
  bool failed = false;
  try {
    SetupState::Efs.Open(SetupState::ExePath);
    CreateTemp(tempDir, "QSP", tempProject,
               "Failed to create temporary QSP file in temporary files directory.");
    ExtractToTemp("default.qsp", tempProject, "Failed to copy default.qsp to the temp directory.",
                  "The installation file is corrupt.\nDefault.qsp failed on CRC check.");
    if (SetupState::Project.Load(tempProject) != 1) {
      ShowError("Failed to load default.qsp.", MB_OK);
      throw QSD_REPORTED;
    }
    CreateTemp(tempDir, "TRA", tempTranslations,
               "Failed to create temporary Translations.ini file in temporary files directory.");
    ExtractToTemp("Translations.ini", tempTranslations,
                  "Failed to copy Translations.ini to the temp directory.",
                  "The installation file is corrupt.\nTranslations.ini failed on CRC check.");
    if (!SetupState::Translations.SetFile(tempTranslations)) {
      ShowError("Failed initialize translation object.", MB_OK);
      throw QSD_REPORTED;
    }
    SetupState::UninstallLog.SetTranslations(&SetupState::Translations);
    ReadInstallerSettings(commandLine);
    // reads UseBackground, and the rest of [Background] when it is on
    ReadBackgroundSettings(tempDir);

    if (!StartUserInterface(SetupState::Instance, showCommand)) throw QSD_FAILED;
    // Nothing below runs beside the worker: the log is whole once it has ended.
    JoinInstallWorker();
    switch (TakeWizardEnding()) {
      case WIZARD_FINISHED:
        SetupState::UninstallLog.DiscardKeptOriginals();
        break;
      case WIZARD_ROLLBACK:
        RollBack();
        break;
      case WIZARD_FAILED:
        throw QSD_REPORTED;
      default:  // ended from outside, perhaps in the middle of the files
        throw QSD_FAILED;
    }
    PostQuitMessage(0);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    code = static_cast<int>(message.wParam);
  } catch (QSD_EXCEPTION error) {
    JoinInstallWorker();
    DropPendingQuit();
    if (error != QSD_REPORTED) ShowUnspecifiedError();
    failed = true;
  } catch (...) {
    JoinInstallWorker();
    DropPendingQuit();
    ShowUnspecifiedError();
    failed = true;
  }
  if (failed) {
    // Undo whatever this run changed before it failed.
    RollBack();
    code = 1;
  }
  ReleaseBackgroundResources();
  if (tempProject[0]) DeleteFileA(tempProject);
  if (tempTranslations[0]) DeleteFileA(tempTranslations);
  // A joined split installation runs from a temporary file of its own.
  if (FindCommandLineOption(commandLine, "-originalsourcedirlocation")) RemoveTemporarySelf();
  return code;
}

// Steps after COM is up; the caller uninitialises COM on every path.
static int RunWithCom(const char* commandLine, int showCommand) {
  LoadStringA(SetupState::Instance, IDS_WINDOW_TITLE, SetupState::WindowTitle,
              sizeof SetupState::WindowTitle);
  LoadStringA(SetupState::Instance, IDS_WINDOW_CLASS, SetupState::WindowClassName,
              sizeof SetupState::WindowClassName);
  RegisterBackgroundWindowClass(SetupState::Instance);

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
  // what this run writes there to run or read back, no other process of the
  // user may change
  UsePrivateTempFolder(tempDir);

  switch (ReadSetupFileKind(SetupState::ExePath)) {
    case FILEKIND_UNINSTALLER:
      RunUninstaller(SetupState::Instance);
      return 0;
    case FILEKIND_INSTALLER:
      return RunInstaller(tempDir, commandLine, showCommand);
    case FILEKIND_DAMAGED:
      // A broken download: waiting for "disk 2" would never end. Nonzero,
      // so that a deployment script does not take it for an installation.
      ShowError(kDamagedSetupText, MB_OK | MB_ICONERROR);
      return 1;
    case FILEKIND_NONE: {
      const char* base = FindCommandLineOption(commandLine, "-joinsplitparts");
      return base ? RunSplitJoin(tempDir, base) : RunFirstPart(tempDir);
    }
    default:
      ShowError(kUnspecifiedError, MB_OK | MB_ICONERROR);
      return 0;
  }
}

// A copy that a split installation made of itself in the temporary folder
// (EXExxxx.tmp, started with one of the chain's options). It removes itself
// however it ends; a setup file the user started with such an option is no
// such copy and stays.
static int IsTemporaryCopy(const char* commandLine) {
  if (!FindCommandLineOption(commandLine, "-joinsplitparts") &&
      !FindCommandLineOption(commandLine, "-originalsourcedirlocation"))
    return 0;
  char exe[MAX_PATH], temp[MAX_PATH];
  const DWORD n = GetModuleFileNameA(NULL, exe, MAX_PATH);
  const DWORD t = GetTempPathA(MAX_PATH, temp);
  if (n == 0 || n >= MAX_PATH || t == 0 || t >= MAX_PATH) return 0;
  char* name = const_cast<char*>(PathFileName(exe));
  const size_t length = strlen(name);
  if (length < 7 || CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, name, 3, "EXE", 3) != CSTR_EQUAL ||
      CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, name + length - 4, 4, ".tmp", 4) != CSTR_EQUAL)
    return 0;
  *name = '\0';
  if (CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, exe, -1, temp, -1) == CSTR_EQUAL) return 1;
  // or in the private temporary folder of the process that made it
  if (name == exe) return 0;
  name[-1] = '\0';
  return IsPrivateTempFolder(exe);
}

int RunSetupProgram(HINSTANCE instance, const char* commandLine, int showCommand) {
  SetupState::Instance = instance;
  const int temporaryCopy = IsTemporaryCopy(commandLine);

  // One copy at a time: installer, uninstaller and split copies alike.
  g_Mutex = CreateMutexA(NULL, FALSE, "UnQuillsetDeployer_mutex");
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    GiveUpMutex();
    if (temporaryCopy) RemoveTemporarySelf();
    return 0;
  }

  CoInitialize(NULL);
  int code = RunWithCom(commandLine, showCommand);
  CoUninitialize();
  GiveUpMutex();
  if (temporaryCopy) RemoveTemporarySelf();
  EndPrivateTempFolder();
  return code;
}
