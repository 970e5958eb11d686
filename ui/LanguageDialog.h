// The language dialog: a setup in several languages lets the user pick
// one before the wizard, when its script asks for that.
#pragma once
#include <windows.h>

class CExeFileSystem;

enum LanguageAnswer { LANGUAGE_KEPT, LANGUAGE_CHANGED, LANGUAGE_CANCELLED };

// Lists the languages of the tables the setup holds, each by its own name,
// with the automatic choice (ChosenTranslationEntry) selected; OK makes the
// selected one the chosen entry (LANGUAGE_CHANGED when it is another). The
// dialog's own texts come from the table loaded now. With fewer than two
// tables nothing is shown.
LanguageAnswer AskForLanguage(HINSTANCE instance, CExeFileSystem& efs);
