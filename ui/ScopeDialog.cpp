#include "ui/ScopeDialog.h"

#include <stdlib.h>

#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "platform/TextEncoding.h"
#include "resources/resource.h"
#include "script/Translations.h"

const char kInstallForAllUsersText[] = "Install for all users (needs administrator rights)";
const char kInstallJustForMeText[] = "Install just for me";
const char kAdministratorRightsNeededText[] =
    "Administrator rights are needed to install or remove %APPNAME% for all users.|Nothing was changed.";

namespace {


INT_PTR CALLBACK ScopeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    SetTitleAndCancel(dialog);
    SetTextFromTable(GetDlgItem(dialog, IDC_SCOPE_ALL_USERS), TK_INSTALL_FOR_ALL_USERS, kInstallForAllUsersText);
    SetTextFromTable(GetDlgItem(dialog, IDC_SCOPE_JUST_ME), TK_INSTALL_JUST_FOR_ME, kInstallJustForMeText);
    CheckRadioButton(dialog, IDC_SCOPE_ALL_USERS, IDC_SCOPE_JUST_ME, IDC_SCOPE_ALL_USERS);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  const int id = LOWORD(wParam);
  if (id == IDOK) {
    EndDialog(dialog, IsDlgButtonChecked(dialog, IDC_SCOPE_JUST_ME) == BST_CHECKED ? IDC_SCOPE_JUST_ME
                                                                                    : IDC_SCOPE_ALL_USERS);
    return TRUE;
  }
  if (id != IDCANCEL) return FALSE;  // Cancel, Esc and the close box end it
  EndDialog(dialog, IDCANCEL);
  return TRUE;
}

}  // namespace

ScopeAnswer AskForScope(HINSTANCE instance) {
  const INT_PTR answer = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_SCOPE), NULL, ScopeDialogProc, 0);
  if (answer == IDC_SCOPE_JUST_ME) return SCOPE_ANSWER_JUST_ME;
  if (answer == IDCANCEL) return SCOPE_ANSWER_CANCELLED;
  // all users, or no dialog at all: the script's first choice, as a run
  // without a person takes it
  return SCOPE_ANSWER_ALL_USERS;
}

void SetTitleAndCancel(HWND dialog) {
  SetTextFromTable(dialog, TK_INSTALL_TITLE, NULL);
  SetTextFromTable(GetDlgItem(dialog, IDCANCEL), TK_CANCEL, NULL);
}

void SetTextFromTable(HWND window, const char* key, const char* english) {
  char* text = english ? SetupState::Translations.GetStringOr(key, english) : SetupState::Translations.GetString(key);
  WCHAR* wide = text ? WideOf(text) : NULL;
  if (wide) SetWindowTextW(window, wide);
  free(wide);
  free(text);
}
