#include "driver/Startup.h"

#include <objbase.h>
#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/PathText.h"
#include "common/SafeFormat.h"
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
#include "engine/Sections.h"
#include "platform/Elevation.h"
#include "platform/FileSystem.h"
#include "platform/FrontEnd.h"
#include "platform/FilesInUse.h"
#include "platform/LaunchAsUser.h"
#include "platform/RunLog.h"
#include "platform/TextEncoding.h"
#include "resources/resource.h"
#include "script/Choices.h"
#include "script/LaunchCommand.h"
#include "script/Placeholders.h"
#include "ui/BackgroundWindow.h"
#include "ui/JoinWindow.h"
#include "ui/LanguageDialog.h"
#include "ui/MessageBoxes.h"
#include "ui/PassiveWindow.h"
#include "ui/ScopeDialog.h"
#include "ui/SilentFrontEnd.h"
#include "ui/UninstallWindow.h"
#include "ui/Wizard.h"
#include "ui/WizardFiles.h"
#include "uninstall/SelfRemoval.h"
#include "uninstall/UninstallDriver.h"

// a literal, not an array: one copy with the join's
static const char* const kUnspecifiedError = "An unspecified error occurred. The installation will be terminated.";

// The table is inside the container that cannot be read: a fixed text.
static const char kNewerFormatText[] =
    "This installation file is in a newer format than its setup program can read.\n"
    "The installation will be terminated.";

static void ShowError(const char* text, UINT style) {
  FrontEnd()->ShowFailure(NULL, text, "Error", style);
}

// format with the path in it, as an error.
static void ShowErrorAbout(const char* format, const char* path) {
  char text[PATH_BYTES + 64];
  wsprintfA(text, format, path);
  ShowError(text, MB_OK | MB_ICONERROR);
}

// The one place a run's result becomes its exit code, and back for the
// steps that still speak in exit codes.
static_assert(int(RUN_DONE) == SETUP_EXIT_DONE && int(RUN_FAILED) == SETUP_EXIT_FAILED &&
                  int(RUN_CANCELLED) == SETUP_EXIT_CANCELLED && int(RUN_DAMAGED) == SETUP_EXIT_DAMAGED &&
                  int(RUN_BUSY) == SETUP_EXIT_RUNNING && int(RUN_BAD_COMMAND_LINE) == SETUP_EXIT_BAD_COMMAND_LINE &&
                  int(RUN_DOWNGRADE) == SETUP_EXIT_DOWNGRADE && int(RUN_FILES_IN_USE) == SETUP_EXIT_FILES_IN_USE &&
                  int(RUN_NO_RIGHTS) == SETUP_EXIT_NO_RIGHTS && int(RUN_RESTART_NEEDED) == SETUP_EXIT_RESTART_NEEDED,
              "a result is its exit code");
static int ExitCodeOf(RunResult result) { return static_cast<int>(result); }
static RunResult ResultOf(int exitCode) {
  if (exitCode == SETUP_EXIT_RESTART_NEEDED) return RUN_RESTART_NEEDED;
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

// Before another process of this setup starts: its own check of the
// single instance must succeed, and it writes on in the same log.
static void HandOver(const char* kind, const char* line) {
  GiveUpMutex();
  RunLogLine(kind, line);
  CloseRunLog();
}

// Once it has ended, this process adds to the log again.
static void TakeBackRunLog() {
  if (g_RunLogPath[0]) OpenRunLog(g_RunLogPath, 1);
}

// The copy about to run, held without write sharing since it was checked;
// let go once the child has started (it removes itself at its end).
static HANDLE g_HeldCopy = INVALID_HANDLE_VALUE;

static void LetGoOfCopy() {
  if (g_HeldCopy != INVALID_HANDLE_VALUE) CloseHandle(g_HeldCopy);
  g_HeldCopy = INVALID_HANDLE_VALUE;
}

// Holds the copy at path so that nobody can change it before it runs; 0
// when someone could write to it already.
static int HoldCopy(const char* path) {
  LetGoOfCopy();
  g_HeldCopy = OpenExisting(path, GENERIC_READ, FILE_SHARE_READ);
  return g_HeldCopy != INVALID_HANDLE_VALUE;
}

// " option argument" at the end of line; the argument is a path at most.
static void AppendChainOption(char* line, const char* option, const char* argument) {
  strcat(line, " ");
  strcat(line, option);
  strcat(line, " ");
  MbcsCopy(line + strlen(line), PATH_BYTES, argument);
}

// Starts "path", the options passed on, then option and its argument, and
// waits for it: its exit code is this run's. -1 when it cannot start.
static int RunChild(const char* path, const char* option, const char* argument) {
  // the quoted path (a temporary file's: shorter than PATH_BYTES), the
  // options passed on written right after it, then option and argument
  char line[6 * PATH_BYTES + 2 * sizeof g_Options.Components + 96];
  const size_t n = strlen(path);
  line[0] = '"';
  memcpy(line + 1, path, n);
  line[n + 1] = '"';
  if (!FormatPassedOptions(g_Options, line + n + 2, 3 * PATH_BYTES + 2 * sizeof g_Options.Components + 64) ||
      strlen(line) + strlen(option) + strlen(argument) + 4 > sizeof line)
    return -1;
  AppendChainOption(line, option, argument);
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child;
  // the child writes on in the same log; this process adds its result after
  HandOver("Starting", line);
  const BOOL started = CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &child);
  LetGoOfCopy();
  if (started) {
    CloseHandle(child.hThread);
    // a deployment script learns how the installation itself ended
    WaitForSingleObject(child.hProcess, INFINITE);
  }
  TakeBackRunLog();
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

// A new temporary file at path, or "" after the message that names what
// it was for ("QSP ", or "" for a copy of the program).
static RunResult CreateTemp(const char* tempDir, const char* prefix, char* path, const char* what) {
  if (MakeTempFileName(tempDir, prefix, 0, path)) return RUN_DONE;
  path[0] = '\0';
  char text[128];
  wsprintfA(text, "Failed to create temporary %sfile in temporary files directory.", what);
  ShowError(text, MB_OK);
  return RUN_FAILED;
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
  if (CreateTemp(tempDir, "EXE", copy, "") != RUN_DONE) return SETUP_EXIT_FAILED;

  if (Join(copy, base, SPLITJOIN_COPY_EXE_ONLY) != RUN_DONE) {
    ShowError("Failed to copy executable part of split installation to temporary files directory.",
              MB_OK | MB_ICONERROR);
    DeleteFileA(copy);
    return SETUP_EXIT_FAILED;
  }
  // The copy runs, not the file checked above: it is checked again, and
  // held unchanged until it has started.
  if (!HoldCopy(copy) || !SlicesBesideMatch(copy, base)) {
    LetGoOfCopy();
    ShowError(kDamagedSetupText, MB_OK | MB_ICONERROR);
    DeleteFileA(copy);
    return SETUP_EXIT_DAMAGED;
  }
  const int code = RunChild(copy, "-joinsplitparts", base);
  if (code < 0) {
    LetGoOfCopy();
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
  if (CreateTemp(tempDir, "EXE", joined, "") != RUN_DONE) return SETUP_EXIT_FAILED;
  const RunResult joinedAll = Join(joined, base, SPLITJOIN_JOIN_ALL);
  if (joinedAll != RUN_DONE) return ExitCodeOf(joinedAll);  // said where it was found; the target is gone
  // checked slice by slice as it was joined; unchanged from here until it runs
  if (!HoldCopy(joined)) {
    ShowError("Failed to launch child process", MB_OK | MB_ICONERROR);
    DeleteFileA(joined);
    return SETUP_EXIT_FAILED;
  }
  // the folder of the first part, without its final backslash
  char folder[PATH_BYTES];
  MbcsCopy(folder, PATH_BYTES, base);
  if (char* slash = const_cast<char*>(MbcsFindLastChar(folder, '\\'))) *slash = '\0';
  const int code = RunChild(joined, "-originalsourcedirlocation", folder);
  if (code < 0) {
    LetGoOfCopy();
    ShowError("Failed to launch child process", MB_OK | MB_ICONERROR);
    DeleteFileA(joined);
    return SETUP_EXIT_FAILED;
  }
  return code;
}

// Extracts one entry the installer needs into its temporary file; the
// messages of a failed and of a corrupt entry name it as given.
static RunResult ExtractToTemp(const char* entry, const char* path, const char* name, const char* corruptName) {
  const ExtractOutcome outcome = ExtractEntry(SetupState::Efs, entry, path);
  if (outcome == EXTRACT_DONE) return RUN_DONE;
  const bool corrupt = outcome == EXTRACT_CORRUPT;
  char text[128];
  wsprintfA(text, corrupt ? "The installation file is corrupt.\n%s failed on CRC check."
                          : "Failed to copy %s to the temp directory.",
            corrupt ? corruptName : name);
  ShowError(text, MB_OK);
  return corrupt ? RUN_DAMAGED : RUN_FAILED;
}

// The chosen table in a temporary file of its own, as UTF-16, which the
// profile lookup of every Windows reads right; the one before goes (a new
// name: the lookup may keep an old file's text by its name).
static RunResult LoadChosenTable(const char* tempDir, char* tempTranslations) {
  if (tempTranslations[0]) DeleteFileA(tempTranslations);
  RunResult result = CreateTemp(tempDir, "TRA", tempTranslations, "Translations.ini ");
  if (result != RUN_DONE) return result;
  const char* table = ChosenTranslationEntry();
  if (strcmp(table, "Translations.ini") != 0) RunLogLine("Language", table);
  result = ExtractToTemp(table, tempTranslations, "Translations.ini", "Translations.ini");
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

static RunResult ExpandDefaultDir();

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
  return ExpandDefaultDir();
}

// A folder that does not expand, or does not fit a path, would send the
// files somewhere the author never meant: stop before anything is done.
static RunResult ExpandDefaultDir() {
  // %PROGRAMFILES% is the user's own programs folder for one user
  SetPlaceholderScope(SetupState::Scope == SetupState::SCOPE_USER);
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

// /COMPONENTS= and /TASKS= over what the script or an installed version
// proposed. A name the script does not know is a bad command line: the
// deployment meant something this setup does not have.
static RunResult ChooseFromCommandLine() {
  for (int task = 0; task < 2; ++task) {
    if (!(task ? g_Options.HasTasks : g_Options.HasComponents)) continue;
    char unknown[kChoiceNameMax + 8];
    if (ChooseByList(SetupState::Choices, SetupState::ChoiceCount, task, task ? g_Options.Tasks : g_Options.Components,
                     unknown, sizeof unknown))
      continue;
    // the names it does have, for the one who wrote the line
    char names[1024] = "";
    for (int i = 0; i < SetupState::ChoiceCount; ++i) {
      const char* name = SetupState::Choices[i].Name;
      if (SetupState::Choices[i].Task != task || strlen(names) + strlen(name) + 8 > sizeof names) continue;
      if (names[0]) strcat(names, ", ");
      strcat(names, name);
    }
    const char* kind = task ? "task" : "component";
    char text[sizeof names + sizeof unknown + 128];
    if (names[0])
      wsprintfA(text, "Unknown %s in %s: %s\nThis setup's %ss are: %s.\n\nSetup /? lists the options.", kind,
                task ? "/TASKS=" : "/COMPONENTS=", unknown, kind, names);
    else
      wsprintfA(text, "Unknown %s in %s: %s\nThis setup has no %ss.\n\nSetup /? lists the options.", kind,
                task ? "/TASKS=" : "/COMPONENTS=", unknown, kind);
    ShowError(text, MB_OK | MB_ICONERROR);
    return RUN_BAD_COMMAND_LINE;
  }
  return RUN_DONE;
}

// The script's components and tasks, chosen as it says, with the space
// each component's files take; then the command line's choice.
static RunResult ReadChoices() {
  int count = 0;
  SetupChoice* choices = ReadScriptChoices(SetupState::Project, &count);
  if (count < 0) {
    ShowUnspecifiedError();
    return RUN_FAILED;
  }
  FreeChoices(SetupState::Choices, SetupState::ChoiceCount);
  SetupState::Choices = choices;
  SetupState::ChoiceCount = count;
  for (int i = 0; i < count; ++i) {
    SetupChoice& choice = choices[i];
    // a description may name the application
    if (char* text = ExpandPlaceholders(choice.Description)) {
      free(choice.Description);
      choice.Description = text;
    }
    char files[sizeof "Files:" + kChoiceNameMax];
    if (choice.Task) continue;
    strcpy(files, "Files:");
    strcat(files, choice.Name);
    choice.Bytes = FilesSectionBytes(files);
  }
  return ChooseFromCommandLine();
}

// Who the installation is for: the script's scope, a switch, or the answer
// to the question (after the language, so that it is asked in it).
static RunResult ChooseScope() {
  static_assert(SetupState::SCOPE_MACHINE == 0 && SetupState::SCOPE_USER == 1 && SetupState::SCOPE_CHOOSE == 2,
                "ResolveInstallScope counts so");
  const int before = SetupState::Scope;
  int answer = SetupState::SCOPE_CHOOSE;
  if (SetupState::ScopeSetting == SetupState::SCOPE_CHOOSE && g_Options.ScopeChoice == SETUP_SCOPE_ASK &&
      FrontEnd()->Attended()) {
    const ScopeAnswer asked = AskForScope(SetupState::Instance);
    if (asked == SCOPE_ANSWER_CANCELLED) return RUN_CANCELLED;
    answer = asked == SCOPE_ANSWER_JUST_ME ? SetupState::SCOPE_USER : SetupState::SCOPE_MACHINE;
  }
  SetupState::Scope = ResolveInstallScope(SetupState::ScopeSetting, g_Options.ScopeChoice, answer);
  if (g_Options.ScopeChoice != SETUP_SCOPE_ASK && SetupState::ScopeSetting != SetupState::SCOPE_CHOOSE)
    RunLogLineWith("Scope", "%s is ignored: the setup decides who it installs for",
                   g_Options.ScopeChoice == SETUP_SCOPE_ALL_USERS ? "/ALLUSERS" : "/CURRENTUSER");
  RunLogLine("Scope", SetupState::Scope == SetupState::SCOPE_USER ? "just for the current user" : "for all users");
  // the default folder may depend on it; one the user gave stays
  SetPlaceholderScope(SetupState::Scope == SetupState::SCOPE_USER);
  if (SetupState::Scope != before && !g_Options.HasDestination) return ExpandDefaultDir();
  return RUN_DONE;
}

// An installation for all users by a process without the rights: the
// elevated run does it, and this process only waits. An elevated run never
// asks again, whatever its rights.
static bool NeedsElevatedRun() {
  return SetupState::Scope == SetupState::SCOPE_MACHINE && !g_Options.ElevatedRun && !IsElevated();
}

// A text already in the user's language, under the table's "Error".
static void ShowTranslatedFailure(const char* text, UINT style) {
  char* caption = SetupState::Translations.GetString(TK_ERROR);
  FrontEnd()->ShowFailure(NULL, text, caption ? caption : "Error", style);
  free(caption);
}

// "Nothing was changed": administrator rights were refused or are missing.
static void ShowNoRights(const char* name) {
  if (name) SetAppNamePlaceholder(name);
  char* format = SetupState::Translations.GetStringOr(TK_ADMINISTRATOR_RIGHTS_NEEDED, kAdministratorRightsNeededText);
  char* text = format ? ExpandPlaceholders(format) : NULL;
  ShowTranslatedFailure(text ? text : format ? format : kAdministratorRightsNeededText, MB_OK | MB_ICONERROR);
  free(text);
  free(format);
}

// Starts this file again through the consent prompt with options (the
// caller's copy, which this completes; and the mark of the elevated run),
// waits, and returns its exit code. The log of
// /LOG= is the elevated run's while it runs, and this one's again after.
static int RunThisElevated(SetupCommandLine& options, const char* chainOption, const char* chainArgument) {
  // The elevated run may start in another folder: a relative log path
  // would name another file there.
  if (options.HasLog) {
    const DWORD n = GetFullPathNameA(g_Options.LogPath, sizeof options.LogPath, options.LogPath, NULL);
    if (n == 0 || n >= sizeof options.LogPath) MbcsCopy(options.LogPath, sizeof options.LogPath, g_Options.LogPath);
  }
  char parameters[4 * PATH_BYTES + 2 * sizeof options.Components + 96];
  if (!FormatPassedOptions(options, parameters, sizeof parameters - PATH_BYTES - 96)) {
    ShowUnspecifiedError();
    return SETUP_EXIT_FAILED;
  }
  strcat(parameters, " -elevatedrun");
  if (options.LaunchNote[0]) {
    strcat(parameters, " -launchnote=");
    strcat(parameters, options.LaunchNote);
  }
  if (chainOption) AppendChainOption(parameters, chainOption, chainArgument);
  char folder[PATH_BYTES];
  const DWORD n = GetCurrentDirectoryA(PATH_BYTES, folder);
  if (n == 0 || n >= PATH_BYTES) folder[0] = '\0';
  HandOver("Starting elevated", parameters + (parameters[0] == ' '));
  DWORD code = SETUP_EXIT_FAILED, error = 0;
  const ElevatedStart started = RunElevated(SetupState::ExePath, parameters, folder[0] ? folder : NULL, &code, &error);
  TakeBackRunLog();
  char text[192];
  switch (started) {
    case ELEVATED_STARTED:
      wsprintfA(text, "ended with exit code %lu, %s", code, ExitCodeMeaning(static_cast<int>(code)));
      RunLogLine("Elevated run", text);
      return static_cast<int>(code);
    case ELEVATION_REFUSED:
      wsprintfA(text, "administrator rights refused or missing (error %lu)", error);
      RunLogLine("Elevated run", text);
      return SETUP_EXIT_NO_RIGHTS;
    default:
      wsprintfA(text, "could not be started (error %lu)", error);
      RunLogLine("Failure", text);
      ShowUnspecifiedError();
      return SETUP_EXIT_FAILED;
  }
}

// [Global] RunAfterInstall with its placeholders filled in by this process,
// %MAINDIR% as it stands: the program and its arguments as new strings.
// 0, after its log line, when it names nothing that can be started.
static int ReadLaunchCommand(char** program, char** arguments) {
  *program = *arguments = NULL;
  char* value = ReadProjectValue("Global", "RunAfterInstall", "");
  if (!value) return 0;
  LaunchCommand parts;
  if (SplitLaunchCommand(value, &parts) == LAUNCH_COMMAND_OK) {
    const_cast<char*>(parts.Program)[parts.ProgramLength] = '\0';
    *program = ExpandPlaceholders(parts.Program);
    *arguments = ExpandPlaceholders(parts.Arguments);
  }
  free(value);
  if (*program && *arguments && IsFullLaunchPath(*program) && !strchr(*program, '"') && strlen(*program) < PATH_BYTES)
    return 1;
  RunLogLineWith("Launch", "not started: RunAfterInstall names no program by its full path (%s)",
                 *program ? *program : "");
  free(*program);
  free(*arguments);
  *program = *arguments = NULL;
  return 0;
}

// started: 1, or 0 after a try that failed (said to a user who watches),
// or -1 when it was not tried.
static void LogLaunch(int started, const char* program, DWORD process, const char* why, DWORD error) {
  char text[PATH_BYTES + 160];
  if (started > 0)
    wsprintfA(text, "%s started (process %lu)", program, process);
  else
    wsprintfA(text, "%s not started: %s (error %lu)", program, why, error);
  RunLogLine("Launch", text);
  if (started || !FrontEnd()->Attended()) return;
  char* format = SetupState::Translations.GetStringOr(TK_LAUNCH_FAILED, "The program %s could not be started.");
  char* message = format ? SafeFormatAlloc(format, program) : NULL;
  ShowTranslatedFailure(message ? message : program, MB_OK | MB_ICONWARNING);
  free(message);
  free(format);
}

// After Finish with the launch box ticked and a run that ended well: the
// program starts as the signed-in user and never with administrator
// rights. An elevated run that a process without them started tells that
// process, which starts it; one nobody started so takes the desktop
// shell's rights, or leaves it.
static void LaunchAfterInstall() {
  if (g_Options.ElevatedRun && g_Options.LaunchNote[0]) {
    if (!WriteLaunchNote(g_Options.LaunchNote, SetupState::InstallDir))
      RunLogLine("Launch", "not started: the process that started this run cannot be told");
    return;
  }
  char *program, *arguments;
  if (!ReadLaunchCommand(&program, &arguments)) return;
  DWORD process = 0, error = 0;
  const char* why = "it could not be started";
  const int started = IsElevated() ? StartProgramAsShellUser(program, arguments, &process, &why, &error)
                                   : StartProgram(program, arguments, &process, &error);
  LogLaunch(started, program, process, why, error);
  free(program);
  free(arguments);
}

// The process without rights, once its elevated run has ended well: what
// the note says, with the program read from this process's own script.
static void LaunchFromNote(HANDLE note) {
  char folder[PATH_BYTES];
  if (!ReadLaunchNote(note, folder, sizeof folder)) return;
  SetMainDirPlaceholder(folder);
  // not elevated and no elevated run: a plain start
  LaunchAfterInstall();
}

// The installation for all users through its elevated run, in this run's
// language and for all users, whatever the script would let it choose.
static RunResult InstallElevated() {
  SetupCommandLine options = g_Options;
  const char* table = ChosenTranslationEntry();
  const char* code = strchr(table, '.');
  const char* end = code ? MbcsFindLastChar(table, '.') : NULL;
  if (code && end > code + 1 && static_cast<size_t>(end - code - 1) < sizeof options.Language) {
    memcpy(options.Language, code + 1, end - code - 1);
    options.Language[end - code - 1] = '\0';
  }
  if (SetupState::ScopeSetting == SetupState::SCOPE_CHOOSE) options.ScopeChoice = SETUP_SCOPE_ALL_USERS;
  // its wizard's finish page may ask for the program, which this process starts
  options.LaunchNote[0] = '\0';
  HANDLE note = NULL;
  char probe[2] = "";
  if (FrontEnd()->Attended() && SetupState::Project.GetValue("Global", "RunAfterInstall", "", probe, sizeof probe) &&
      probe[0]) {
    note = CreateLaunchNote(options.LaunchNote, sizeof options.LaunchNote);
    // the elevated run then takes the desktop shell's rights, as one started elevated does
    if (!note) RunLogLine("Launch", "no note for the elevated run can be made");
  }
  const int result = RunThisElevated(options, g_Options.OriginalSourceDir ? "-originalsourcedirlocation" : NULL,
                                     g_Options.OriginalSourceDir);
  if (result == SETUP_EXIT_NO_RIGHTS) ShowNoRights(NULL);
  if (note && result == SETUP_EXIT_DONE) LaunchFromNote(note);
  if (note) CloseHandle(note);
  return ResultOf(result);
}

// The script, the table and the settings, up to "go". RUN_DONE to go on, or
// what ends the run before anything is done; *failed when it failed.
static RunResult PrepareInstaller(const char* tempDir, char* tempProject, char* tempTranslations, bool* failed,
                                  bool* elevate) {
  *failed = true;
  *elevate = false;
  const EFSERROR opened = SetupState::Efs.Open(SetupState::ExePath);
  if (opened != EFS_OK) {
    // only Open finds a container format newer than this program
    if (opened == EFS_ERR_VERSION)
      ShowError(kNewerFormatText, MB_OK | MB_ICONERROR);
    else
      ShowUnspecifiedError();
    return RUN_FAILED;
  }
  RunResult result = CreateTemp(tempDir, "QSP", tempProject, "QSP ");
  if (result != RUN_DONE) return result;
  result = ExtractToTemp("default.qsp", tempProject, "default.qsp", "Default.qsp");
  if (result != RUN_DONE) return result;
  // the command stores UTF-8; a Windows that does not run us in UTF-8
  // takes the script in its ANSI code page
  if (!LoadScriptInProgramCodePage(tempProject, &SetupState::Project)) {
    ShowError("Failed to load default.qsp.", MB_OK);
    return RUN_FAILED;
  }
  // of a setup in several languages, the user's (or /LANG='s)
  ChooseTranslationEntry(SetupState::Efs, g_Options.Language);
  result = LoadChosenTable(tempDir, tempTranslations);
  if (result != RUN_DONE) return result;
  SetupState::UninstallLog.SetTranslations(&SetupState::Translations);
  result = ReadInstallerSettings(g_Options.OriginalSourceDir);
  if (result == RUN_DONE) result = ReadChoices();
  if (result == RUN_BAD_COMMAND_LINE) *failed = false;  // nothing to undo
  if (result != RUN_DONE) return result;
  // /D= stands for the script's DefaultDir; the wizard's page shows it
  if (g_Options.HasDestination) MbcsCopy(SetupState::InstallDir, PATH_BYTES, g_Options.Destination);
  // or the one the user picks, when the script offers the choice (an
  // elevated run was told the answer, or the table's own choice stood)
  if (FrontEnd()->Attended() && !g_Options.Language[0] && !g_Options.ElevatedRun &&
      ReadProjectFlag("Global", "ShowLanguageDialog")) {
    const LanguageAnswer answer = AskForLanguage(SetupState::Instance, SetupState::Efs);
    if (answer == LANGUAGE_CHANGED) result = LoadChosenTable(tempDir, tempTranslations);
    if (result != RUN_DONE) return result;
    *failed = false;
    if (answer == LANGUAGE_CANCELLED) return RUN_CANCELLED;
  }
  *failed = false;
  result = ChooseScope();
  if (result != RUN_DONE) {
    *failed = result != RUN_CANCELLED;
    return result;
  }
  // what follows is the elevated run's to do
  if (NeedsElevatedRun()) {
    *elevate = true;
    return RUN_DONE;
  }
  // a version of the same AppId proposes its folder and its choices, and is not downgraded unasked
  result = ResultOf(CheckInstalledVersion(g_Options.HasDestination ? g_Options.Destination : NULL));
  return result == RUN_DONE ? ChooseFromCommandLine() : result;
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
  // [Global] LicenseFile and WizardImage
  const RunResult files = ReadWizardFiles(tempDir);
  if (files != RUN_DONE) return files;
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
  if (code == SETUP_EXIT_DONE && WizardLaunchChosen()) LaunchAfterInstall();
  return ResultOf(code);
}

static RunResult RunInstaller(const char* tempDir, int showCommand) {
  char tempProject[PATH_BYTES] = "";
  char tempTranslations[PATH_BYTES] = "";
  bool failed = false, elevate = false;
  RunResult result = PrepareInstaller(tempDir, tempProject, tempTranslations, &failed, &elevate);
  if (result == RUN_DONE && elevate)
    result = InstallElevated();
  else if (result == RUN_DONE)
    result = FrontEnd()->Attended() ? InstallWithWizard(tempDir, showCommand, &failed) : InstallSilently(&failed);
  // Undo whatever this run changed before it failed.
  if (failed) {
    InstallRun().Join();
    DropPendingQuit();
    InstallRun().Conclude(SETUP_EXIT_FAILED);
  }
  // the worker or the uninstaller's files found the setup file damaged
  if (result == RUN_FAILED && InstallRun().Ending() == RUN_DAMAGED) result = RUN_DAMAGED;
  if (result == RUN_FAILED && InstallRun().Ending() == RUN_FILES_IN_USE) result = RUN_FILES_IN_USE;
  ReleaseBackgroundResources();
  ReleaseWizardFiles();
  if (tempProject[0]) DeleteFileA(tempProject);
  if (tempTranslations[0]) DeleteFileA(tempTranslations);
  return result;
}

// The uninstall run: its dialog where someone watches, the passive window
// (named as the question would name the program; nothing to cancel) or
// nothing at all.
static RunResult Uninstall() {
  // the table installed beside this file, unless its path would not fit
  char table[PATH_BYTES];
  MbcsCopy(table, PATH_BYTES, SetupState::ExePath);
  char* file = const_cast<char*>(PathFileName(table));
  const bool hasTable = static_cast<size_t>(file - table) + sizeof "Translations.ini" <= sizeof table;
  if (hasTable) strcpy(file, "Translations.ini");
  // An installation for all users is removed with administrator rights;
  // a per-user one never asks for them.
  if (!g_Options.ElevatedRun && hasTable && !ReadInstalledForCurrentUser(table) && !IsElevated()) {
    SetupCommandLine options = g_Options;
    options.HasDestination = 0;
    const int code = RunThisElevated(options, NULL, NULL);
    if (code == SETUP_EXIT_NO_RIGHTS) {
      SetupState::Translations.SetFile(table);
      char* name = ReadInstalledAppName(table);
      ShowNoRights(name ? name : PathFileName(SetupState::ExePath));
      free(name);
    }
    return ResultOf(code);
  }
  if (FrontEnd()->Attended()) {
    CUninstallWindow window(SetupState::Instance);
    return RunUninstaller(window);
  }
  if (FrontEnd()->Mode() != DISPLAY_PASSIVE) return RunUninstaller(*FrontEnd());
  char* title = hasTable ? ReadInstalledAppName(table) : NULL;
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

  // read at the start; empty when its path does not fit
  if (!SetupState::ExePath[0]) {
    ShowError(kUnspecifiedError, MB_OK | MB_ICONERROR);
    return SETUP_EXIT_FAILED;
  }
  char tempDir[PATH_BYTES];
  if (!SystemTempFolder(tempDir)) {
    ShowError("Failed to find path to the temporary files directory.", MB_OK);
    return SETUP_EXIT_FAILED;
  }
  // what this run writes there to run or read back, no other process of the
  // user may change: an elevated run that cannot have its own folder stops
  if (UsePrivateTempFolder(tempDir) < 0) {
    ShowErrorAbout("The private temporary folder cannot be created in %s.", tempDir);
    return SETUP_EXIT_FAILED;
  }
  if (!SetupState::UninstallLog.CreateTempLog()) {
    ShowError(kUnspecifiedError, MB_OK | MB_ICONERROR);
    return SETUP_EXIT_FAILED;
  }

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
  if (!SetupState::ExePath[0] || !SystemTempFolder(temp)) return 0;
  strcpy(exe, SetupState::ExePath);
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
    const int uninstaller = SetupState::ExePath[0] && ReadSetupFileKind(SetupState::ExePath) == FILEKIND_UNINSTALLER;
    if (!DefaultRunLogPath(uninstaller ? "Quillset-Uninstall.log" : "Quillset-Setup.log", g_RunLogPath))
      g_RunLogPath[0] = '\0';
  }
  if (!g_RunLogPath[0]) return 1;
  if (OpenRunLog(g_RunLogPath, temporaryCopy)) return 1;
  if (!g_Options.HasLog) return 1;  // a silent run goes on without its log
  ShowErrorAbout("The log file %s cannot be created.", g_RunLogPath);
  g_RunLogPath[0] = '\0';
  return 0;
}

int RunSetupProgram(HINSTANCE instance, const char* commandLine, int showCommand) {
  SetupState::Instance = instance;
  // this program's own file, for everything after
  const DWORD n = GetModuleFileNameA(NULL, SetupState::ExePath, PATH_BYTES);
  if (n == 0 || n >= PATH_BYTES) SetupState::ExePath[0] = '\0';
  const int parsed = ParseSetupCommandLine(commandLine, &g_Options);
  // who watches, once: everything after asks the front end
  static_assert(+SETUP_DISPLAY_PASSIVE == +DISPLAY_PASSIVE && +SETUP_DISPLAY_NONE == +DISPLAY_NONE, "one meaning");
  if (g_Options.Display == SETUP_DISPLAY_NONE) SetFrontEnd(&g_Silent);
  if (g_Options.Display == SETUP_DISPLAY_PASSIVE) SetFrontEnd(&g_Passive);
  // programs that use the files: a run without questions closes them
  const ProgramClosing closing = {!g_Options.NoCloseApplications, g_Options.ForceCloseApplications,
                                  g_Options.CloseApplications && !g_Options.NoCloseApplications};
  SetProgramClosing(closing);
  // The elevated run of a temporary copy leaves the file to the copy that
  // started it, which still runs from it; it writes on in the same log.
  const int temporaryCopy = IsTemporaryCopy() && !g_Options.ElevatedRun;
  const int code = OpenTheRunLog(temporaryCopy || g_Options.ElevatedRun)
                       ? RunWithOptions(parsed, temporaryCopy, showCommand)
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
  // the temporary uninstall log lies in the folder that goes now
  SetupState::UninstallLog.Close();
  EndPrivateTempFolder();
  return code;
}
