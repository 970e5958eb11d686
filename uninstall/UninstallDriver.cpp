#include "uninstall/UninstallDriver.h"

#include <objbase.h>
#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/SafeFormat.h"
#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "platform/FilesInUse.h"
#include "platform/FrontEnd.h"
#include "platform/RunLog.h"
#include "platform/RunWait.h"
#include "script/Placeholders.h"
#include "script/Translations.h"
#include "uninstall/SelfRemoval.h"

namespace {

char g_Folder[PATH_BYTES];
char g_LogPath[PATH_BYTES + 16];
char g_TablePath[PATH_BYTES + 16];

// A failure under the caption "ERROR" (the key where the table has no text).
void ShowError(const char* text, UINT style) {
  char* caption = SetupState::Translations.GetString(TK_ERROR);
  FrontEnd()->ShowFailure(NULL, text, caption ? caption : TK_ERROR, style);
  free(caption);
}

// The "could not find" text with the log path; a new heap string or null.
char* LogMissingText() {
  char* format = SetupState::Translations.GetString(TK_COULD_NOT_FIND_UNINSTALL_LOG_FILE);
  char* text = SafeFormatAlloc(format ? format : TK_COULD_NOT_FIND_UNINSTALL_LOG_FILE, g_LogPath);
  free(format);
  return text;
}

const char kFilesInUseText[] =
    "Some files of the installation are in use and cannot be removed now, nor at the next restart:\n\n%s\n"
    "Nothing has been changed. Close the programs that use them and run the uninstaller again.";
const char kFilesLeftText[] =
    "Some files of the installation are in use: they could not be removed, nor scheduled for removal at the "
    "next restart.\nThe uninstaller stays. Close the programs that use them and run it again.";

// Before the first change: the programs that hold files of the installation
// are named and, as the run says, closed. Where a file stays held and its
// deletion cannot wait for the restart, nothing is changed: RUN_FILES_IN_USE
// (said through FrontEnd()), and the uninstaller stays to be run again.
RunResult CloseProgramsInUse() {
  int count = 0;
  char** files = SetupState::UninstallLog.ListCreatedFiles(&count);
  char* caption = SetupState::Translations.GetString(TK_UNINSTALL_TITLE);
  char* question = SetupState::Translations.GetStringOr(TK_PROGRAMS_USE_THE_FILES, kProgramsInUseQuestion);
  int held = 0;
  RunResult result = CloseProgramsUsing(files, count, FrontEnd(), question ? question : kProgramsInUseQuestion,
                                        caption ? caption : TK_UNINSTALL_TITLE, &held);
  free(question);
  free(caption);
  if (held && result == RUN_DONE && !CanScheduleAtRestart()) {
    char* list = NULL;
    size_t length = 0;
    for (int i = 0; i < count; ++i) {
      if (!IsFileOpenElsewhere(files[i])) continue;  // a running program's image: named above
      const size_t n = strlen(files[i]);
      char* grown = static_cast<char*>(realloc(list, length + n + 2));
      if (!grown) break;
      list = grown;
      memcpy(list + length, files[i], n);
      length += n;
      list[length++] = '\n';
      list[length] = '\0';
    }
    RunLogLine("Stopped", "files in use, and this run may not schedule their deletion at the restart");
    char* format = SetupState::Translations.GetStringOr(TK_FILES_IN_USE_NOTHING_CHANGED, kFilesInUseText);
    char* text = SafeFormatAlloc(format ? format : kFilesInUseText, list ? list : "");
    ShowError(text ? text : kFilesInUseText, MB_OK | MB_ICONERROR);
    free(format);
    free(text);
    free(list);
    result = RUN_FILES_IN_USE;
  }
  for (int i = 0; i < count; ++i) free(files[i]);
  free(files);
  return result;
}

// A RunResult: RUN_DONE, RUN_RESTART_NEEDED (what stays in use goes at the
// restart), RUN_FILES_IN_USE (some stays; the uninstaller too), RUN_FAILED
// or RUN_CANCELLED. Each failure said through FrontEnd(), once.
DWORD WINAPI UninstallWorker(LPVOID) {
  DWORD code = RUN_FAILED;
  // DllUnregisterServer may create COM objects, as the install worker's
  // DllRegisterServer could
  const HRESULT com = CoInitialize(NULL);
  if (!SetupState::UninstallLog.OpenLog(g_LogPath)) {
    char* text = LogMissingText();
    ShowError(text ? text : g_LogPath, MB_OK);
    free(text);
  } else {
    const char* exclusions[3] = {SetupState::ExePath, g_LogPath, g_TablePath};
    const RunResult before = CloseProgramsInUse();
    if (before != RUN_DONE) {
      code = before;
    } else if (SetupState::UninstallLog.Replay(exclusions, 3) == 1) {
      code = SetupState::UninstallLog.GetLeftCount()        ? RUN_FILES_IN_USE
             : SetupState::UninstallLog.GetScheduledCount() ? RUN_RESTART_NEEDED
                                                            : RUN_DONE;
      if (code == RUN_FILES_IN_USE) {
        char* text = SetupState::Translations.GetStringOr(TK_FILES_IN_USE_UNINSTALLER_STAYS, kFilesLeftText);
        ShowError(text ? text : kFilesLeftText, MB_OK | MB_ICONERROR);
        free(text);
      }
    } else {
      SetupState::Translations.ShowMessage(NULL, TK_UINSTALL_PROCESS_FAILED, TK_ERROR, MB_OK);
    }
    // what was closed for the replay and asked to come back (not the
    // installation's own programs: their files are gone)
    RestartClosedPrograms();
    SetupState::UninstallLog.Close();
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return code;
}

}  // namespace

// The question names the program: the name the installation kept in the
// table, else the folder's (a table of an older installation has none).
static int AskToUninstall() {
  char* name = ReadInstalledAppName(g_TablePath);
  if (name) {
    SetAppNamePlaceholder(name);
  } else {
    char folder[PATH_BYTES];
    MbcsCopy(folder, PATH_BYTES, g_Folder);
    const size_t n = strlen(folder);
    if (n > 3 && folder[n - 1] == '\\') folder[n - 1] = '\0';
    const char* slash = MbcsFindLastChar(folder, '\\');
    SetAppNamePlaceholder(slash ? slash + 1 : folder);
  }
  free(name);
  char* question = SetupState::Translations.GetString(TK_YOU_ARE_ABOUT_TO_UNINSTALL);
  char* text = question ? ExpandPlaceholders(question) : NULL;
  char* caption = SetupState::Translations.GetString(TK_UNINSTALL_TITLE);
  const int answer = FrontEnd()->Ask(NULL, text ? text : question ? question : TK_YOU_ARE_ABOUT_TO_UNINSTALL,
                                     caption ? caption : TK_UNINSTALL_TITLE, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, IDNO);
  free(caption);
  free(text);
  free(question);
  return answer;
}

// The folders above the uninstaller's that the replay kept only for it go
// with the uninstaller itself.
static void RemoveUninstaller() {
  const char* kept[CUninstallLogger::kMaxKept];
  const int count = SetupState::UninstallLog.GetKeptFolderCount();
  for (int i = 0; i < count; ++i) kept[i] = SetupState::UninstallLog.GetKeptFolder(i);
  RemoveSelf(kept, count);
}

RunResult RunUninstaller(CFrontEnd& reports) {
  MbcsCopy(g_Folder, PATH_BYTES, SetupState::ExePath);
  if (char* slash = const_cast<char*>(MbcsFindLastChar(g_Folder, '\\'))) slash[1] = '\0';
  strcpy(g_LogPath, g_Folder);
  strcat(g_LogPath, "Uninstall.log");
  strcpy(g_TablePath, g_Folder);
  strcat(g_TablePath, "Translations.ini");
  SetupState::Translations.SetFile(g_TablePath);
  SetupState::UninstallLog.SetTranslations(&SetupState::Translations);
  SetupState::UninstallLog.SetInstallFolder(g_Folder);

  // the replay's questions and failures go where the run's do
  CFrontEnd* before = FrontEnd();
  SetFrontEnd(&reports);
  if (reports.Attended()) {
    if (AskToUninstall() != IDYES) {  // nothing changed
      reports.RunEnded(RUN_CANCELLED);
      SetFrontEnd(before);
      return RUN_CANCELLED;
    }
  } else {
    // nobody to ask: what the replay would ask keeps the user's files
    RunLogLineWith("Uninstalling", "the installation in %s", g_Folder);
  }
  // the first report, from this thread: a front end's window opens here
  reports.Progress(0, NULL);
  SetupState::UninstallLog.SetReplayReports(&reports);
  DWORD code;
  HANDLE worker = CreateThread(NULL, 0, UninstallWorker, NULL, 0, NULL);
  if (worker) {
    code = WaitForWorkerPumping(worker);
    CloseHandle(worker);
  } else {
    code = UninstallWorker(NULL);
  }
  SetupState::UninstallLog.SetReplayReports(NULL);
  const RunResult result = static_cast<RunResult>(code);
  const bool done = result == RUN_DONE || result == RUN_RESTART_NEEDED;
  if (done) {
    reports.Progress(100, NULL);
    // the run succeeded: the log and the table have served. After a
    // failure they stay with the uninstaller, the only record of what is
    // still installed, for the run to be tried again.
    DeleteFileA(g_LogPath);
    DeleteFileA(g_TablePath);
  }
  reports.RunEnded(result);
  SetFrontEnd(before);
  if (done) RemoveUninstaller();
  return result;
}
