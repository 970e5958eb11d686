// The question of a setup whose script lets the user choose who it
// installs for, asked after the language and before the wizard.
#pragma once
#include <windows.h>

enum ScopeAnswer { SCOPE_ANSWER_ALL_USERS, SCOPE_ANSWER_JUST_ME, SCOPE_ANSWER_CANCELLED };

// Shows the two choices with all users selected; its texts come from the
// table loaded now (English where the table lacks them).
ScopeAnswer AskForScope(HINSTANCE instance);

// English texts of the keys the question and the refusal use, for a table
// that does not have them.
extern const char kInstallForAllUsersText[];
extern const char kInstallJustForMeText[];
extern const char kAdministratorRightsNeededText[];

// A dialog's window or control gets the table's text of key, or english
// when the table lacks it (null english: the key itself, as GetString).
void SetTextFromTable(HWND window, const char* key, const char* english);
// A question's dialog: the setup's title and Cancel, from the table.
void SetTitleAndCancel(HWND dialog);
