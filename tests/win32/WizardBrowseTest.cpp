// The folder browser keeps the last folder name of the destination; the
// buttons' labels get their access keys.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ui/Wizard.h"

namespace {

std::string Browsed(const char* current, const char* chosen) {
  char out[MAX_PATH] = "unchanged";
  if (!BrowsedDestination(current, chosen, out)) return std::string("refused, ") + out;
  return out;
}

TEST(WizardBrowse, TheChosenFolderTakesTheLastNameOfTheDestination) {
  EXPECT_EQ("D:\\Apps\\Example App", Browsed("C:\\Program Files\\Example App", "D:\\Apps"));
  // a drive root ends in a backslash already: none is doubled
  EXPECT_EQ("E:\\Example App", Browsed("C:\\Program Files\\Example App", "E:\\"));
  // a destination ending in a backslash has an empty last name
  EXPECT_EQ("D:\\Apps\\", Browsed("C:\\Program Files\\", "D:\\Apps"));
  // no backslash at all: the chosen folder alone
  EXPECT_EQ("D:\\Apps", Browsed("Example App", "D:\\Apps"));
  EXPECT_EQ("\\\\server\\share\\App", Browsed("C:\\App", "\\\\server\\share"));
}

TEST(WizardBrowse, AResultPastTheLimitLeavesTheDestinationAlone) {
  const std::string chosen = "D:\\" + std::string(250, 'a');
  EXPECT_EQ("refused, unchanged", Browsed("C:\\Program Files\\Example App", chosen.c_str()));
  const std::string fits = "D:\\" + std::string(259 - 3 - 4, 'a');  // + "\\App" = 259 characters
  EXPECT_EQ(fits + "\\App", Browsed("C:\\App", fits.c_str()));
  EXPECT_EQ("refused, unchanged", Browsed("C:\\Apps", fits.c_str()));
}

// The labels marked together; groups[i] of each.
std::vector<std::wstring> Marked(const std::vector<std::wstring>& labels, const std::vector<int>& groups) {
  static WCHAR buffers[8][kAccessKeyLabelChars];
  for (size_t i = 0; i < labels.size(); ++i) lstrcpynW(buffers[i], labels[i].c_str(), kAccessKeyLabelChars);
  MarkAccessKeys(buffers, groups.data(), (int)labels.size());
  return std::vector<std::wstring>(buffers, buffers + labels.size());
}

// Next's three labels never show together; Back, Cancel and Browse show
// with each of them.
const std::vector<int> kWizardGroups = {0, 0, 0, 1, 2, 3};

TEST(WizardAccessKeys, EveryButtonGetsALetterNoOtherButtonOfItsPageHas) {
  // a word's first letter where it is free, another letter where not
  EXPECT_EQ((std::vector<std::wstring>{L"&Next >", L"&Accept", L"&Finish", L"< &Back", L"&Cancel", L"B&rowse..."}),
            Marked({L"Next >", L"Accept", L"Finish", L"< Back", L"Cancel", L"Browse..."}, kWizardGroups));
  // Alt+A accepts; Cancel is Alt+B on every page
  EXPECT_EQ((std::vector<std::wstring>{L"&Weiter >", L"&Annehmen", L"&Fertig", L"< &Zur\u00FCck", L"A&bbrechen",
                                       L"&\u00C4ndern..."}),
            Marked({L"Weiter >", L"Annehmen", L"Fertig", L"< Zur\u00FCck", L"Abbrechen", L"\u00C4ndern..."},
                   kWizardGroups));
  EXPECT_EQ((std::vector<std::wstring>{L"&Suivant >", L"&J'accepte", L"&Terminer", L"< &Pr\u00E9c\u00E9dent",
                                       L"&Annuler", L"Pa&rcourir"}),
            Marked({L"Suivant >", L"J'accepte", L"Terminer", L"< Pr\u00E9c\u00E9dent", L"Annuler", L"Parcourir"},
                   kWizardGroups));
  // Cyrillic letters compare without case too: Далее, Принимаю, Готово, Назад, Отмена, Обзор
  EXPECT_EQ((std::vector<std::wstring>{L"&\u0414\u0430\u043B\u0435\u0435 >", L"&\u041F\u0440\u0438\u043D\u0438\u043C\u0430\u044E",
                                       L"&\u0413\u043E\u0442\u043E\u0432\u043E", L"< &\u041D\u0430\u0437\u0430\u0434",
                                       L"&\u041E\u0442\u043C\u0435\u043D\u0430", L"\u041E&\u0431\u0437\u043E\u0440..."}),
            Marked({L"\u0414\u0430\u043B\u0435\u0435 >", L"\u041F\u0440\u0438\u043D\u0438\u043C\u0430\u044E",
                    L"\u0413\u043E\u0442\u043E\u0432\u043E", L"< \u041D\u0430\u0437\u0430\u0434",
                    L"\u041E\u0442\u043C\u0435\u043D\u0430", L"\u041E\u0431\u0437\u043E\u0440..."},
                   kWizardGroups));
}

TEST(WizardAccessKeys, ATablesOwnMarkStandsAndItsKeyIsTakenByNoOther) {
  // Cancel marks N itself: Next takes another letter
  EXPECT_EQ((std::vector<std::wstring>{L"N&ext >", L"&Accept", L"&Finish", L"< &Back", L"Ca&ncel", L"B&rowse..."}),
            Marked({L"Next >", L"Accept", L"Finish", L"< Back", L"Ca&ncel", L"Browse..."}, kWizardGroups));
  // "&&" is an '&' to show, no mark
  EXPECT_EQ((std::vector<std::wstring>{L"&R&&D", L"&Cancel"}), Marked({L"R&&D", L"Cancel"}, {0, 1}));
  // ideographs come through an input method: no key; and a label whose
  // letters are all taken stays as it is
  EXPECT_EQ((std::vector<std::wstring>{L"\u6B21\u3078 >", L"&ab", L"a", L"&b"}),
            Marked({L"\u6B21\u3078 >", L"ab", L"a", L"b"}, {0, 1, 2, 3}));
}

}  // namespace
