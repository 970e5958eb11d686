#include "ui/LanguageDialog.h"

#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "efs/ExeFileSystem.h"
#include "platform/TextEncoding.h"
#include "resources/resource.h"
#include "script/Translations.h"
#include "ui/ScopeDialog.h"

namespace {

// The codes the command gives its tables, each language by its own name
// (wide: a name need not fit the program's code page).
const struct {
  const char* Code;
  const WCHAR* Name;
} kLanguages[] = {
    {"en", L"English"},
    {"de", L"Deutsch"},
    {"fr", L"Fran\u00E7ais"},
    {"es", L"Espa\u00F1ol"},
    {"it", L"Italiano"},
    {"pt-BR", L"Portugu\u00EAs (Brasil)"},
    {"nl", L"Nederlands"},
    {"pl", L"Polski"},
    {"cs", L"\u010Ce\u0161tina"},
    {"ru", L"\u0420\u0443\u0441\u0441\u043A\u0438\u0439"},
    {"ja", L"\u65E5\u672C\u8A9E"},
    {"zh-CN", L"\u7B80\u4F53\u4E2D\u6587"},
};
const int kLanguageCount = sizeof kLanguages / sizeof kLanguages[0];

struct Choice {
  int Held[kLanguageCount];  // kLanguages' indexes of the tables the setup holds
  int Count;
  int Selected;  // index into Held
};

void EntryOf(int language, char* entry) { wsprintfA(entry, "Translations.%s.ini", kLanguages[language].Code); }

// The dialog is modal, one at a time: its choice lives here.
Choice* g_Choice;


INT_PTR CALLBACK LanguageDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    SetTitleAndCancel(dialog);
    HWND list = GetDlgItem(dialog, IDC_LANGUAGE_LIST);
    for (int i = 0; i < g_Choice->Count; ++i)
      SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kLanguages[g_Choice->Held[i]].Name));
    SendMessageW(list, CB_SETCURSEL, (WPARAM)g_Choice->Selected, 0);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  if (LOWORD(wParam) == IDOK)
    g_Choice->Selected = (int)SendMessageW(GetDlgItem(dialog, IDC_LANGUAGE_LIST), CB_GETCURSEL, 0, 0);
  else if (LOWORD(wParam) != IDCANCEL)  // Cancel, Esc and the close box end it too
    return FALSE;
  EndDialog(dialog, LOWORD(wParam));
  return TRUE;
}

}  // namespace

LanguageAnswer AskForLanguage(HINSTANCE instance, CExeFileSystem& efs) {
  Choice choice;
  choice.Count = 0;
  choice.Selected = 0;
  char automatic[32];
  MbcsCopy(automatic, sizeof automatic, ChosenTranslationEntry());
  // the first one listed is stored twice: as Translations.ini and under its code
  const DWORD first = efs.Exists("Translations.ini") ? efs.GetEntryCrc("Translations.ini") : 0;
  int firstHeld = -1;
  char entry[32];
  for (int i = 0; i < kLanguageCount; ++i) {
    EntryOf(i, entry);
    if (!efs.Exists(entry)) continue;
    if (strcmp(entry, automatic) == 0) choice.Selected = choice.Count;
    if (firstHeld < 0 && efs.GetEntryCrc(entry) == first) firstHeld = choice.Count;
    choice.Held[choice.Count++] = i;
  }
  if (choice.Count < 2) return LANGUAGE_KEPT;
  if (strcmp(automatic, "Translations.ini") == 0 && firstHeld >= 0) choice.Selected = firstHeld;
  g_Choice = &choice;
  const INT_PTR answer = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_LANGUAGE), NULL, LanguageDialogProc, 0);
  g_Choice = NULL;
  if (answer == IDCANCEL) return LANGUAGE_CANCELLED;
  // not shown at all: the automatic choice stands
  if (answer != IDOK || choice.Selected < 0 || choice.Selected >= choice.Count) return LANGUAGE_KEPT;
  EntryOf(choice.Held[choice.Selected], entry);
  if (strcmp(entry, automatic) == 0) return LANGUAGE_KEPT;
  SetChosenTranslationEntry(entry);
  return LANGUAGE_CHANGED;
}
