#include "uninstall/UninstallDriver.h"

#include <objbase.h>
#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/SafeFormat.h"
#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "platform/FrontEnd.h"
#include "platform/RunLog.h"
#include "resources/resource.h"
#include "script/Placeholders.h"
#include "script/Translations.h"
#include "uninstall/SelfRemoval.h"

namespace {

char g_Folder[PATH_BYTES];
char g_LogPath[PATH_BYTES + 16];
char g_TablePath[PATH_BYTES + 16];
HANDLE g_Worker;
int g_Succeeded;
int g_LogMissing;  // set by the worker before it posts WM_UNINSTALL_DONE

// The "could not find" text with the log path; a new heap string or null.
char* LogMissingText() {
  char* format = SetupState::Translations.GetString(TK_COULD_NOT_FIND_UNINSTALL_LOG_FILE);
  char* text = SafeFormatAlloc(format ? format : TK_COULD_NOT_FIND_UNINSTALL_LOG_FILE, g_LogPath);
  free(format);
  return text;
}

void SetTranslated(HWND window, const char* key) {
  char* text = SetupState::Translations.GetString(key);
  SetWindowTextA(window, text ? text : key);
  free(text);
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  switch (message) {
    case WM_INITDIALOG:
      SetTranslated(dialog, TK_UNINSTALL_TITLE);
      SetTranslated(GetDlgItem(dialog, IDC_UNINSTALL_TEXT), TK_PLEASE_WAIT_WHILE_UNINSTALLING);
      ShowWindow(GetDlgItem(dialog, IDOK), SW_HIDE);
      g_Worker = CreateThread(NULL, 0, UninstallWorker, dialog, 0, NULL);
      if (!g_Worker) PostMessageA(dialog, WM_UNINSTALL_DONE, 0, 0);
      return TRUE;
    case WM_UNINSTALL_DONE: {
      DWORD code = 1;
      while (g_Worker && GetExitCodeThread(g_Worker, &code) && code == STILL_ACTIVE) Sleep(200);
      g_Succeeded = g_Worker && code == 0;
      if (g_Succeeded) {
        SetTranslated(GetDlgItem(dialog, IDC_UNINSTALL_TEXT), TK_UNINSTALLATION_IS_NOW_FINISHED);
        DeleteFileA(g_LogPath);
        DeleteFileA(g_TablePath);
      } else {
        // The user can always close the dialog. The log, the table and the
        // uninstaller stay: they are the only record of what is still
        // installed, and the run can be tried again.
        char* text =
            g_LogMissing ? LogMissingText() : SetupState::Translations.GetString(TK_UINSTALL_PROCESS_FAILED);
        SetDlgItemTextA(dialog, IDC_UNINSTALL_TEXT, text ? text : TK_UINSTALL_PROCESS_FAILED);
        free(text);
      }
      ShowWindow(GetDlgItem(dialog, IDOK), SW_SHOW);
      SetFocus(GetDlgItem(dialog, IDOK));
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK && IsWindowVisible(GetDlgItem(dialog, IDOK))) PostQuitMessage(0);
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

DWORD WINAPI UninstallWorker(LPVOID parameter) {
  HWND dialog = static_cast<HWND>(parameter);
  DWORD code = 1;
  // DllUnregisterServer may create COM objects, as the install worker's
  // DllRegisterServer could
  const HRESULT com = CoInitialize(NULL);
  if (!SetupState::UninstallLog.OpenLog(g_LogPath)) {
    g_LogMissing = 1;
    char* text = LogMissingText();
    char* caption = SetupState::Translations.GetString(TK_ERROR);
    FrontEnd()->ShowFailure(NULL, text ? text : g_LogPath, caption ? caption : TK_ERROR, MB_OK);
    free(caption);
    free(text);
  } else {
    const char* exclusions[3] = {SetupState::ExePath, g_LogPath, g_TablePath};
    if (SetupState::UninstallLog.Replay(exclusions, 3) == 1) {
      code = 0;
    } else {
      SetupState::Translations.ShowMessage(dialog, TK_UINSTALL_PROCESS_FAILED, TK_ERROR, MB_OK);
    }
    SetupState::UninstallLog.Close();
  }
  if (SUCCEEDED(com)) CoUninitialize();
  if (dialog) PostMessageA(dialog, WM_UNINSTALL_DONE, 0, 0);
  return code;
}

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

int RunUninstaller(HINSTANCE instance, int silent) {
  MbcsCopy(g_Folder, PATH_BYTES, SetupState::ExePath);
  if (char* slash = const_cast<char*>(MbcsFindLastChar(g_Folder, '\\'))) slash[1] = '\0';
  strcpy(g_LogPath, g_Folder);
  strcat(g_LogPath, "Uninstall.log");
  strcpy(g_TablePath, g_Folder);
  strcat(g_TablePath, "Translations.ini");
  SetupState::Translations.SetFile(g_TablePath);
  SetupState::UninstallLog.SetTranslations(&SetupState::Translations);
  SetupState::UninstallLog.SetInstallFolder(g_Folder);

  if (silent) {
    // No question, no window: the replay on this thread, its questions
    // answered for nobody being there (the user's files stay).
    RunLogLineWith("Uninstalling", "the installation in %s", g_Folder);
    const DWORD code = UninstallWorker(NULL);
    if (code != 0) return 1;
    DeleteFileA(g_LogPath);
    DeleteFileA(g_TablePath);
    RemoveUninstaller();
    return 0;
  }
  if (AskToUninstall() != IDYES) return 2;  // cancelled: nothing changed
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_UNINSTALL_PROGRESS), NULL, ProgressDialogProc, 0);
  HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_UNINSTALL_ACCELERATORS));
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    if (accelerators && TranslateAcceleratorA(message.hwnd, accelerators, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (g_Worker) {
    WaitForSingleObject(g_Worker, INFINITE);
    CloseHandle(g_Worker);
    g_Worker = NULL;
  }
  if (g_Succeeded) RemoveUninstaller();
  return g_Succeeded ? 0 : 1;
}
