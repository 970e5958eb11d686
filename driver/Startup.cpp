#include "driver/Startup.h"

#include <objbase.h>
#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/PathText.h"
#include "common/TextKeys.h"
#include "driver/CommandLine.h"
#include "driver/SetupFileKind.h"
#include "driver/SetupState.h"
#include "driver/SliceCheck.h"
#include "driver/SplitJoin.h"
#include "platform/PrivateTemp.h"
#include "efs/EntryExtraction.h"
#include "engine/AddRemovePrograms.h"
#include "engine/InstallRun.h"
#include "platform/FrontEnd.h"
#include "platform/RunLog.h"
#include "platform/TextEncoding.h"
#include "resources/resource.h"
#include "script/Placeholders.h"
#include "ui/BackgroundWindow.h"
#include "ui/JoinWindow.h"
#include "ui/LanguageDialog.h"
#include "ui/MessageBoxes.h"
#include "ui/PassiveWindow.h"
#include "ui/SilentFrontEnd.h"
#include "ui/UninstallWindow.h"
#include "ui/Wizard.h"
#include "uninstall/SelfRemoval.h"
#include "uninstall/UninstallDriver.h"

static const char kUnspecifiedError[] =
    "An unspecified error occurred. The installation will be terminated.";

// The table is inside the container that cannot be read: a fixed text.
static const char kNewerFormatText[] =
    "This installation file is in a newer format than its setup program can read.\n"
    "The installation will be terminated.";

static void ShowError(const char* text, UINT style) {
  FrontEnd()->ShowFailure(NULL, text, "Error", style);
}

// The one place a run's result becomes its exit code, and back for the
// steps that still speak in exit codes.
static_assert(int(RUN_DONE) == SETUP_EXIT_DONE && int(RUN_FAILED) == SETUP_EXIT_FAILED &&
                  int(RUN_CANCELLED) == SETUP_EXIT_CANCELLED && int(RUN_DAMAGED) == SETUP_EXIT_DAMAGED &&
                  int(RUN_BUSY) == SETUP_EXIT_RUNNING && int(RUN_BAD_COMMAND_LINE) == SETUP_EXIT_BAD_COMMAND_LINE &&
                  int(RUN_DOWNGRADE) == SETUP_EXIT_DOWNGRADE && int(RUN_FILES_IN_USE) == SETUP_EXIT_FILES_IN_USE &&
                  int(RUN_NO_RIGHTS) == SETUP_EXIT_NO_RIGHTS,
              "a result is its exit code");
static int ExitCodeOf(RunResult result) { return static_cast<int>(result); }
static RunResult ResultOf(int exitCode) {
  return exitCode >= SETUP_EXIT_DONE && exitCode <= SETUP_EXIT_NO_RIGHTS ? static_cast<RunResult>(exitCode)
                                                                          : RUN_FAILED;
}

// The single-instance mutex; each process of a split installation gives it
// up just before it starts the next, whose own check must succeed.
static HANDLE g_Mutex;

static void GiveUpMutex() {
  if (g_Mutex) CloseHandle(g_Mutex);
  g_Mutex = NULL;
}

// The options this run was given; read once at the start.
static SetupCommandLine g_Options;
static CSilentFrontEnd g_Silent;
static CPassiveWindow g_Passive;
// The run log this process writes (empty: none).
static char g_RunLogPath[PATH_BYTES];

// Starts "path", the options passed on, then option and its argument, and
// waits for it: its exit code is this run's. -1 when it cannot start.
static int RunChild(const char* path, const char* option, const char* argument) {
  char passed[3 * PATH_BYTES + 32];
  char line[6 * PATH_BYTES + 64];
  if (!FormatPassedOptions(g_Options, passed, sizeof passed) ||
      strlen(path) + strlen(passed) + strlen(option) + strlen(argument) + 6 > sizeof line)
    return -1;
  strcpy(line, "\"");
  strcat(line, path);
  strcat(line, "\"");
  strcat(line, passed);
  strcat(line, " ");
  strcat(line, option);
  strcat(line, " ");
  strcat(line, argument);
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child;
  GiveUpMutex();
  // the child writes on in the same log; this process adds its result after
  RunLogLine("Starting", line);
  CloseRunLog();
  const BOOL started = CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &child);
  if (started) {
    CloseHandle(child.hThread);
    // a deployment script learns how the installation itself ended
    WaitForSingleObject(child.hProcess, INFINITE);
  }
  if (g_RunLogPath[0]) OpenRunLog(g_RunLogPath, 1);
  if (!started) return -1;
  DWORD code = SETUP_EXIT_FAILED;
  if (!GetExitCodeProcess(child.hProcess, &code)) code = SETUP_EXIT_FAILED;
  CloseHandle(child.hProcess);
  return static_cast<int>(code);
}

// The passive window's Cancel of a join: the worker stops at its next check.
static void CancelTheJoin() { SetupState::CancelRequested = 1; }

// The join where someone watches is shown in its window; else the run's
// own front end hears it, and nobody is asked for a disk.
static RunResult Join(const char* target, const char* base, int mode) {
  if (FrontEnd()->Mode() == DISPLAY_PASSIVE) {
    g_Passive.Open(SetupState::Instance, PathFileName(base), CancelTheJoin);
    const RunResult result = JoinSplitParts(target, base, mode, g_Passive);
    g_Passive.Close();
    return result;
  }
  if (!FrontEnd()->Attended()) return JoinSplitParts(target, base, mode, *FrontEnd());
  CJoinWindow window(SetupState::Instance, PathFileName(base));
  if (!window.Open()) {
    // nothing was started
    if (mode == SPLITJOIN_JOIN_ALL) ShowError(kUnspecifiedError, MB_OK | MB_ICONERROR);
    DeleteFileA(target);
    return RUN_FAILED;
  }
  return JoinSplitParts(target, base, mode, window);
}

// Started from where it was delivered: copies itself to the temporary folder
// and lets that copy join the parts, so that the disk can be changed.
static int RunFirstPart(const char* tempDir) {
  // drive, folder and name of this file without its extension
  char base[PATH_BYTES];
  MbcsCopy(base, PATH_BYTES, SetupState::ExePath);
  const char* slash = MbcsFindLastChar(base, '\\');
  char* dot = const_cast<char*>(MbcsFindLastChar(slash ? slash : base, '.'));
  if (dot) *dot = '\0';
  // Slices of another build beside it: nothing is copied, nothing runs.
  if (!SlicesBesideMatch(SetupState::ExePath, base)) {
    ShowError(kDamagedSetupText, MB_OK | MB_ICONERROR);
    return SETUP_EXIT_DAMAGED;
  }
  char copy[PATH_BYTES];
  if (!MakeTempFileName(tempDir, "EXE", 0, copy)) {
    ShowError("Failed to create temporary file in temporary files directory.", MB_OK);
    return SETUP_EXIT_FAILED;
  }

  if (Join(copy, base, SPLITJOIN_COPY_EXE_ONLY) != RUN_DONE) {
    ShowError("Failed to copy executable part of split installation to temporary files directory.",
              MB_OK | MB_ICONERROR);
    DeleteFileA(copy);
    return SETUP_EXIT_FAILED;
  }
  const int code = RunChild(copy, "-joinsplitparts", base);
  if (code < 0) {
    ShowError("Failed to launch child process", MB_OK | MB_ICONERROR);
    DeleteFileA(copy);
    return SETUP_EXIT_FAILED;
  }
  return code;
}

// The temporary copy: joins every part into a second temporary file, starts
// that as the installer and waits for it. The joined file removes itself.
static int RunSplitJoin(const char* tempDir, const char* base) {
  char joined[PATH_BYTES];
  if (!MakeTempFileName(tempDir, "EXE", 0, joined)) {
    ShowError("Failed to create temporary file in temporary files directory.", MB_OK);
    return SETUP_EXIT_FAILED;
  }
  const RunResult joinedAll = Join(joined, base, SPLITJOIN_JOIN_ALL);
  if (joinedAll != RUN_DONE) return ExitCodeOf(joinedAll);  // said where it was found; the target is gone
  // the folder of the first part, without its final backslash
  char folder[PATH_BYTES];
  MbcsCopy(folder, PATH_BYTES, base);
  if (char* slash = const_cast<char*>(MbcsFindLastChar(folder, '\\'))) *slash = '\0';
  const int code = RunChild(joined, "-originalsourcedirlocation", folder);
  if (code < 0) {
    ShowError("Failed to launch child process", MB_OK | MB_ICONERROR);
    DeleteFileA(joined);
    return SETUP_EXIT_FAILED;
  }
  return code;
}

// Extracts one entry the installer needs into its temporary file, with the
// messages of a failed and of a corrupt entry.
static RunResult ExtractToTemp(const char* entry, const char* path, const char* failed,
                               const char* corrupt) {
  const ExtractOutcome outcome = ExtractEntry(SetupState::Efs, entry, path);
  if (outcome == EXTRACT_DONE) return RUN_DONE;
  ShowError(outcome == EXTRACT_CORRUPT ? corrupt : failed, MB_OK);
  return outcome == EXTRACT_CORRUPT ? RUN_DAMAGED : RUN_FAILED;
}

static RunResult CreateTemp(const char* tempDir, const char* prefix, char* path, const char* failed) {
  if (MakeTempFileName(tempDir, prefix, 0, path)) return RUN_DONE;
  path[0] = '\0';
  ShowError(failed, MB_OK);
  return RUN_FAILED;
}

// The chosen table in a temporary file of its own, as UTF-16, which the
// profile lookup of every Windows reads right; the one before goes (a new
// name: the lookup may keep an old file's text by its name).
static RunResult LoadChosenTable(const char* tempDir, char* tempTranslations) {
  if (tempTranslations[0]) DeleteFileA(tempTranslations);
  RunResult result = CreateTemp(tempDir, "TRA", tempTranslations,
                                "Failed to create temporary Translations.ini file in temporary files directory.");
  if (result != RUN_DONE) return result;
  const char* table = ChosenTranslationEntry();
  if (strcmp(table, "Translations.ini") != 0) RunLogLine("Language", table);
  result = ExtractToTemp(table, tempTranslations, "Failed to copy Translations.ini to the temp directory.",
                         "The installation file is corrupt.\nTranslations.ini failed on CRC check.");
  if (result != RUN_DONE) return result;
  if (!ConvertTableToUnicode(tempTranslations) || !SetupState::Translations.SetFile(tempTranslations)) {
    ShowError("Failed initialize translation object.", MB_OK);
    return RUN_FAILED;
  }
  return RUN_DONE;
}

// Translated from the moment the table is pointed at, English before.
static void ShowUnspecifiedError() {
  if (SetupState::Translations.IsLoaded())
    SetupState::Translations.ShowMessage(NULL, TK_UNSPECIFIED_ERROR_OCCURED, TK_ERROR,
                                         MB_OK | MB_ICONERROR);
  else
    ShowError(kUnspecifiedError, MB_OK | MB_ICONERROR);
}

static void ShowTranslated(const char* key) {
  SetupState::Translations.ShowMessage(NULL, key, TK_ERROR, MB_OK);
}

// A value of the script as a new string (default when missing); null, after
// its message, when memory runs out.
static char* ReadProjectValue(const char* section, const char* key, const char* defaultValue) {
  int32_t n = SetupState::Project.GetValue(section, key, defaultValue, NULL, 0);
  if (n < 1) n = 1;  // present but empty
  char* value = static_cast<char*>(malloc(n));
  if (!value) {
    ShowUnspecifiedError();
    return NULL;
  }
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

RunResult ReadInstallerSettings(const char* originalSourceDir) {
  char* name = ReadProjectValue("Global", "ApplicationName", "");
  if (!name) return RUN_FAILED;
  if (!name[0]) {
    free(name);
    ShowTranslated(TK_NO_APP_NAME_DEFINED);
    return RUN_FAILED;
  }
  SetAppNamePlaceholder(name);
  free(name);

  if (originalSourceDir && *originalSourceDir) {
    SetSourceDirPlaceholder(originalSourceDir);
  } else {
    // drive and folder of the running file, with its final backslash
    char folder[PATH_BYTES];
    MbcsCopy(folder, PATH_BYTES, SetupState::ExePath);
    char* slash = const_cast<char*>(MbcsFindLastChar(folder, '\\'));
    if (slash) slash[1] = '\0';
    SetSourceDirPlaceholder(folder);
  }

  SetupState::AllowChangeInstallDir = ReadProjectFlag("Global", "AllowChangeInstallDir");
  SetupState::ShowEulaPage = ReadProjectFlag("Global", "ShowEULAPage");
  // machine unless the script says otherwise (the command refuses other values)
  char scope[8] = "";
  SetupState::Project.GetValue("Global", "Scope", "machine", scope, sizeof scope);
  SetupState::ScopeSetting = strcmp(scope, "user") == 0     ? SetupState::SCOPE_USER
                             : strcmp(scope, "choose") == 0 ? SetupState::SCOPE_CHOOSE
                                                            : SetupState::SCOPE_MACHINE;
  SetupState::Scope = SetupState::ScopeSetting == SetupState::SCOPE_USER ? SetupState::SCOPE_USER
                                                                         : SetupState::SCOPE_MACHINE;

  // A folder that does not expand, or does not fit a path, would send the
  // files somewhere the author never meant: stop before anything is done.
  char* text = ReadProjectValue("Global", "DefaultDir", "C:\\");
  if (!text) return RUN_FAILED;
  char* folder = ExpandPlaceholders(text);
  free(text);
  if (!folder || strlen(folder) >= sizeof SetupState::InstallDir ||
      MbcsLength(folder, strlen(folder)) >= MAX_PATH) {
    free(folder);
    ShowUnspecifiedError();
    return RUN_FAILED;
  }
  strcpy(SetupState::InstallDir, folder);
  free(folder);
  return RUN_DONE;
}

// The script, the table and the settings, up to "go". RUN_DONE to go on, or
// what ends the run before anything is done; *failed when it failed.
static RunResult PrepareInstaller(const char* tempDir, char* tempProject, char* tempTranslations, bool* failed) {
  *failed = true;
  const EFSERROR opened = SetupState::Efs.Open(SetupState::ExePath);
  if (opened != EFS_OK) {
    // only Open finds a container format newer than this program
    if (opened == EFS_ERR_VERSION)
      ShowError(kNewerFormatText, MB_OK | MB_ICONERROR);
    else
      ShowUnspecifiedError();
    return RUN_FAILED;
  }
  RunResult result =
      CreateTemp(tempDir, "QSP", tempProject, "Failed to create temporary QSP file in temporary files directory.");
  if (result != RUN_DONE) return result;
  result = ExtractToTemp("default.qsp", tempProject, "Failed to copy default.qsp to the temp directory.",
                         "The installation file is corrupt.\nDefault.qsp failed on CRC check.");
  if (result != RUN_DONE) return result;
  // the command stores UTF-8; a Windows that does not run us in UTF-8
  // takes the script in its ANSI code page
  if (!ConvertFileToProgramCodePage(tempProject) || SetupState::Project.Load(tempProject) != 1) {
    ShowError("Failed to load default.qsp.", MB_OK);
    return RUN_FAILED;
  }
  // of a setup in several languages, the user's (or /LANG='s)
  ChooseTranslationEntry(SetupState::Efs, g_Options.Language);
  result = LoadChosenTable(tempDir, tempTranslations);
  if (result != RUN_DONE) return result;
  SetupState::UninstallLog.SetTranslations(&SetupState::Translations);
  result = ReadInstallerSettings(g_Options.OriginalSourceDir);
  if (result != RUN_DONE) return result;
  // /D= stands for the script's DefaultDir; the wizard's page shows it
  if (g_Options.HasDestination) MbcsCopy(SetupState::InstallDir, PATH_BYTES, g_Options.Destination);
  // or the one the user picks, when the script offers the choice
  if (FrontEnd()->Attended() && !g_Options.Language[0] && ReadProjectFlag("Global", "ShowLanguageDialog")) {
    const LanguageAnswer answer = AskForLanguage(SetupState::Instance, SetupState::Efs);
    if (answer == LANGUAGE_CHANGED) result = LoadChosenTable(tempDir, tempTranslations);
    if (result != RUN_DONE) return result;
    *failed = false;
    if (answer == LANGUAGE_CANCELLED) return RUN_CANCELLED;
  }
  *failed = false;
  // a version of the same AppId proposes its folder, and is not downgraded unasked
  return ResultOf(CheckInstalledVersion(g_Options.HasDestination ? g_Options.Destination : NULL));
}

// The passive window's Cancel: no question, the run stops and rolls back.
static void CancelTheRun() { InstallRun().Cancel(); }

// Nobody to ask (/S, /PASSIVE): no background, no wizard, the script's
// defaults. A folder the wizard would refuse is refused.
static RunResult InstallSilently(bool* failed) {
  if (!IsUsableDestination(SetupState::InstallDir)) {
    RunLogLineWith("Failure", "the destination folder %s cannot be used", SetupState::InstallDir);
    SetupState::Translations.ShowMessage(NULL, TK_PLEASE_ENTER_PATH_TO_INSTALL_DIR, TK_INSTALL_TITLE,
                                         MB_ICONERROR);
    *failed = true;
    return RUN_FAILED;
  }
  SetMainDirPlaceholder(SetupState::InstallDir);
  if (!FrontEnd()->MayShowWindow()) return ResultOf(InstallRun().RunUnattended(FrontEnd()));
  // /PASSIVE: its window from the first file to the end of a rollback
  char* name = ExpandPlaceholders("%APPNAME%");
  g_Passive.Open(SetupState::Instance, name, CancelTheRun);
  free(name);
  const int code = InstallRun().RunUnattended(&g_Passive);
  g_Passive.Close();
  return ResultOf(code);
}

// *failed when the run failed before it could conclude itself.
static RunResult InstallWithWizard(const char* tempDir, int showCommand, bool* failed) {
  *failed = true;
  // reads UseBackground, and the rest of [Background] when it is on
  const RunResult background = ReadBackgroundSettings(tempDir);
  if (background != RUN_DONE) return background;
  if (!StartUserInterface(SetupState::Instance, showCommand)) {
    InstallRun().Join();
    DropPendingQuit();
    ShowUnspecifiedError();
    return RUN_FAILED;
  }
  // Nothing below runs beside the worker: the log is whole once it has ended.
  InstallRun().Join();
  int code = SETUP_EXIT_DONE;
  switch (TakeWizardEnding()) {
    case WIZARD_FINISHED:
      code = InstallRun().Conclude(SETUP_EXIT_DONE);
      break;
    case WIZARD_CANCELLED:
      code = InstallRun().Conclude(SETUP_EXIT_CANCELLED);
      break;
    case WIZARD_ROLLBACK:
      code = InstallRun().Conclude(SETUP_EXIT_FAILED);
      break;
    case WIZARD_FAILED:  // Finish failed after its own message
      return RUN_FAILED;
    default:  // ended from outside, perhaps in the middle of the files
      // the quit that ended it would close the box at once
      DropPendingQuit();
      ShowUnspecifiedError();
      return RUN_FAILED;
  }
  *failed = false;
  PostQuitMessage(0);
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return ResultOf(code);
}

static RunResult RunInstaller(const char* tempDir, int showCommand) {
  char tempProject[PATH_BYTES] = "";
  char tempTranslations[PATH_BYTES] = "";
  bool failed = false;
  RunResult result = PrepareInstaller(tempDir, tempProject, tempTranslations, &failed);
  if (result == RUN_DONE)
    result = FrontEnd()->Attended() ? InstallWithWizard(tempDir, showCommand, &failed) : InstallSilently(&failed);
  // Undo whatever this run changed before it failed.
  if (failed) {
    InstallRun().Join();
    DropPendingQuit();
    InstallRun().Conclude(SETUP_EXIT_FAILED);
  }
  // the worker or the uninstaller's files found the setup file damaged
  if (result == RUN_FAILED && InstallRun().Ending() == RUN_DAMAGED) result = RUN_DAMAGED;
  ReleaseBackgroundResources();
  if (tempProject[0]) DeleteFileA(tempProject);
  if (tempTranslations[0]) DeleteFileA(tempTranslations);
  return result;
}

// The uninstall run: its dialog where someone watches, the passive window
// (named as the question would name the program; nothing to cancel) or
// nothing at all.
static RunResult Uninstall() {
  if (FrontEnd()->Attended()) {
    CUninstallWindow window(SetupState::Instance);
    return RunUninstaller(window);
  }
  if (FrontEnd()->Mode() != DISPLAY_PASSIVE) return RunUninstaller(*FrontEnd());
  char table[PATH_BYTES];
  MbcsCopy(table, PATH_BYTES, SetupState::ExePath);
  char* name = const_cast<char*>(PathFileName(table));
  char* title = NULL;
  if (static_cast<size_t>(name - table) + sizeof "Translations.ini" <= sizeof table) {
    strcpy(name, "Translations.ini");
    title = ReadInstalledAppName(table);
  }
  g_Passive.Open(SetupState::Instance, title ? title : PathFileName(SetupState::ExePath));
  free(title);
  g_Passive.CancelAllowed(false);
  g_Passive.SetWorkText(TK_PLEASE_WAIT_WHILE_UNINSTALLING, "The program is being uninstalled... Please wait.");
  const RunResult result = RunUninstaller(g_Passive);
  g_Passive.Close();
  return result;
}

// Steps after COM is up; the caller uninitialises COM on every path.
static int RunWithCom(int showCommand) {
  LoadStringA(SetupState::Instance, IDS_WINDOW_TITLE, SetupState::WindowTitle,
              sizeof SetupState::WindowTitle);
  LoadStringA(SetupState::Instance, IDS_WINDOW_CLASS, SetupState::WindowClassName,
              sizeof SetupState::WindowClassName);
  // only the wizard shows the background
  if (FrontEnd()->Attended()) RegisterBackgroundWindowClass(SetupState::Instance);

  if (!SetupState::UninstallLog.CreateTempLog()) {
    ShowError(kUnspecifiedError, MB_OK | MB_ICONERROR);
    return SETUP_EXIT_FAILED;
  }
  DWORD n = GetModuleFileNameA(NULL, SetupState::ExePath, PATH_BYTES);
  if (n == 0 || n >= PATH_BYTES) {
    SetupState::ExePath[0] = '\0';
    ShowError(kUnspecifiedError, MB_OK | MB_ICONERROR);
    return SETUP_EXIT_FAILED;
  }
  char tempDir[PATH_BYTES];
  n = GetTempPathA(PATH_BYTES, tempDir);
  if (n == 0 || n >= PATH_BYTES) {
    ShowError("Failed to find path to the temporary files directory.", MB_OK);
    return SETUP_EXIT_FAILED;
  }
  // what this run writes there to run or read back, no other process of the
  // user may change
  UsePrivateTempFolder(tempDir);

  switch (ReadSetupFileKind(SetupState::ExePath)) {
    case FILEKIND_UNINSTALLER:
      return ExitCodeOf(Uninstall());
    case FILEKIND_INSTALLER:
      return ExitCodeOf(RunInstaller(tempDir, showCommand));
    case FILEKIND_DAMAGED:
      // A broken download: waiting for "disk 2" would never end. Nonzero,
      // so that a deployment script does not take it for an installation.
      ShowError(kDamagedSetupText, MB_OK | MB_ICONERROR);
      return SETUP_EXIT_DAMAGED;
    case FILEKIND_NONE: {
      const char* base = g_Options.JoinSplitParts;
      return base ? RunSplitJoin(tempDir, base) : RunFirstPart(tempDir);
    }
    default:
      ShowError(kUnspecifiedError, MB_OK | MB_ICONERROR);
      return SETUP_EXIT_FAILED;
  }
}

// A copy that a split installation made of itself in the temporary folder
// (EXExxxx.tmp, started with one of the chain's options). It removes itself
// however it ends; a setup file the user started with such an option is no
// such copy and stays.
static int IsTemporaryCopy() {
  if (!g_Options.JoinSplitParts && !g_Options.OriginalSourceDir) return 0;
  char exe[PATH_BYTES], temp[PATH_BYTES];
  const DWORD n = GetModuleFileNameA(NULL, exe, PATH_BYTES);
  const DWORD t = GetTempPathA(PATH_BYTES, temp);
  if (n == 0 || n >= PATH_BYTES || t == 0 || t >= PATH_BYTES) return 0;
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

static int RunWithOptions(int parsed, int temporaryCopy, int showCommand);

// The log of /LOG=, or of a silent run in its documented place. The
// processes of a split installation write one after the other into the
// same file: a temporary copy adds to it. 0 when /LOG= names a file that
// cannot be made (a bad command line).
static int OpenTheRunLog(int temporaryCopy) {
  if (g_Options.HasLog) {
    MbcsCopy(g_RunLogPath, PATH_BYTES, g_Options.LogPath);
  } else if (!FrontEnd()->Attended()) {
    char exe[PATH_BYTES];
    const DWORD n = GetModuleFileNameA(NULL, exe, PATH_BYTES);
    const int uninstaller = n && n < PATH_BYTES && ReadSetupFileKind(exe) == FILEKIND_UNINSTALLER;
    if (!DefaultRunLogPath(uninstaller ? "Quillset-Uninstall.log" : "Quillset-Setup.log", g_RunLogPath))
      g_RunLogPath[0] = '\0';
  }
  if (!g_RunLogPath[0]) return 1;
  if (OpenRunLog(g_RunLogPath, temporaryCopy)) return 1;
  if (!g_Options.HasLog) return 1;  // a silent run goes on without its log
  char text[PATH_BYTES + 64];
  wsprintfA(text, "The log file %s cannot be created.", g_RunLogPath);
  g_RunLogPath[0] = '\0';
  ShowError(text, MB_OK | MB_ICONERROR);
  return 0;
}

int RunSetupProgram(HINSTANCE instance, const char* commandLine, int showCommand) {
  SetupState::Instance = instance;
  const int parsed = ParseSetupCommandLine(commandLine, &g_Options);
  // who watches, once: everything after asks the front end
  static_assert(+SETUP_DISPLAY_PASSIVE == +DISPLAY_PASSIVE && +SETUP_DISPLAY_NONE == +DISPLAY_NONE, "one meaning");
  if (g_Options.Display == SETUP_DISPLAY_NONE) SetFrontEnd(&g_Silent);
  if (g_Options.Display == SETUP_DISPLAY_PASSIVE) SetFrontEnd(&g_Passive);
  const int temporaryCopy = IsTemporaryCopy();
  const int code = OpenTheRunLog(temporaryCopy) ? RunWithOptions(parsed, temporaryCopy, showCommand)
                                                : SETUP_EXIT_BAD_COMMAND_LINE;
  char result[128];
  wsprintfA(result, "exit code %d, %s", code, ExitCodeMeaning(code));
  RunLogLine("Result", result);
  CloseRunLog();
  return code;
}

static int RunWithOptions(int parsed, int temporaryCopy, int showCommand) {
  if (!parsed) {
    char text[sizeof g_Options.Problem + 64];
    strcpy(text, g_Options.Problem);
    strcat(text, "\n\nSetup /? lists the options.");
    ShowError(text, MB_OK | MB_ICONERROR);
    return SETUP_EXIT_BAD_COMMAND_LINE;
  }
  if (g_Options.Help) {
    FrontEnd()->ShowFailure(NULL, kSetupOptionsHelp, "Setup", MB_OK | MB_ICONINFORMATION);
    return SETUP_EXIT_DONE;
  }

  // One copy at a time: installer, uninstaller and split copies alike.
  g_Mutex = CreateMutexA(NULL, FALSE, "UnQuillsetDeployer_mutex");
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    RunLogLine("Failure", "another setup is running");
    GiveUpMutex();
    if (temporaryCopy) RemoveTemporarySelf();
    return SETUP_EXIT_RUNNING;
  }

  CoInitialize(NULL);
  int code = RunWithCom(showCommand);
  CoUninitialize();
  GiveUpMutex();
  if (temporaryCopy) RemoveTemporarySelf();
  EndPrivateTempFolder();
  return code;
}
