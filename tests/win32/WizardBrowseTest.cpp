// The folder browser keeps the last folder name of the destination; the
// buttons' labels get their access keys; the boxes of the pages of choices,
// the author's licence and picture.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "TestPaths.h"
#include "driver/SetupState.h"
#include "resources/resource.h"
#include "ui/ChoicePages.h"
#include "ui/SidePicture.h"
#include "ui/Wizard.h"
#include "ui/WizardFiles.h"

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

// A window standing for the wizard: the boxes' clicks reach the pages.
LRESULT CALLBACK ChoiceHost(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND) OnChoiceCommand(w, LOWORD(wParam));
  return DefWindowProcA(w, message, wParam, lParam);
}

TEST(WizardChoices, TheBoxesShowTheChoicesAndATickIsItsChoiceAtOnce) {
  WNDCLASSA type = {};
  type.lpfnWndProc = ChoiceHost;
  type.hInstance = GetModuleHandleA(NULL);
  type.lpszClassName = "QsChoiceHost";
  RegisterClassA(&type);
  HWND host = CreateWindowA("QsChoiceHost", "", WS_OVERLAPPEDWINDOW, 0, 0, 500, 400, NULL, NULL, NULL, NULL);
  ASSERT_TRUE(host);
  char names[][16] = {"main", "docs", "extras", "desktopicon"};
  char descriptions[][32] = {"Program files", "Documentation", "Samples & templates", "Create a desktop shortcut"};
  SetupChoice choices[] = {{names[0], descriptions[0], 0, 1, 0, 0, 1000000},
                           {names[1], descriptions[1], 0, 0, 0, 1, 2u << 20},
                           {names[2], descriptions[2], 0, 0, 1, 0, 5u << 20},
                           {names[3], descriptions[3], 1, 0, 0, 0, 0}};
  SetupState::Choices = choices;
  SetupState::ChoiceCount = 4;
  EXPECT_TRUE(HasChoices(0) && HasChoices(1));
  const RECT area = {10, 10, 400, 300};
  const HWND first = CreateChoiceBoxes(host, 0, area);
  HWND boxes[4];
  for (int i = 0; i < 4; ++i) boxes[i] = GetDlgItem(host, IDC_CHOICE_FIRST + i);
  // the fixed one ticked and greyed, the others as chosen; no box of a task here
  ASSERT_TRUE(boxes[0] && boxes[1] && boxes[2]);
  EXPECT_EQ(NULL, boxes[3]);
  EXPECT_EQ(boxes[1], first);
  const int expected[3][2] = {{BST_CHECKED, FALSE}, {BST_CHECKED, TRUE}, {BST_UNCHECKED, TRUE}};
  for (int i = 0; i < 3; ++i) {
    char text[64] = "";
    GetWindowTextA(boxes[i], text, sizeof text);
    // an '&' of the author's shows as it is
    EXPECT_STREQ(i == 2 ? "Samples && templates" : descriptions[i], text);
    EXPECT_EQ(expected[i][0], SendMessageA(boxes[i], BM_GETCHECK, 0, 0)) << i;
    EXPECT_EQ(expected[i][1], IsWindowEnabled(boxes[i])) << i;
  }
  EXPECT_EQ(1, choices[0].Chosen);
  auto space = [&] {
    char text[128] = "";
    GetDlgItemTextA(host, IDC_CHOICE_SPACE, text, sizeof text);
    return std::string(text);
  };
  // 1,000,000 + 2 MiB, rounded up to a tenth
  EXPECT_EQ("The chosen components need 3.0 MB of disk space.", space());
  SendMessageA(boxes[2], BM_CLICK, 0, 0);
  SendMessageA(boxes[1], BM_CLICK, 0, 0);
  EXPECT_EQ(1, choices[2].Chosen);
  EXPECT_EQ(0, choices[1].Chosen);
  EXPECT_EQ(1000000ull + (5u << 20), ChosenComponentBytes());
  EXPECT_EQ("The chosen components need 6.0 MB of disk space.", space());
  // the page again (Back, then Next): the ticks as they were left
  DestroyChoiceBoxes();
  EXPECT_EQ(NULL, GetDlgItem(host, IDC_CHOICE_FIRST + 2));
  CreateChoiceBoxes(host, 0, area);
  EXPECT_EQ(BST_UNCHECKED, SendDlgItemMessageA(host, IDC_CHOICE_FIRST + 1, BM_GETCHECK, 0, 0));
  EXPECT_EQ(BST_CHECKED, SendDlgItemMessageA(host, IDC_CHOICE_FIRST + 2, BM_GETCHECK, 0, 0));
  // the tasks' page: its box alone, and no space line
  CreateChoiceBoxes(host, 1, area);
  EXPECT_EQ(NULL, GetDlgItem(host, IDC_CHOICE_FIRST + 1));
  EXPECT_EQ(NULL, GetDlgItem(host, IDC_CHOICE_SPACE));
  SendDlgItemMessageA(host, IDC_CHOICE_FIRST + 3, BM_CLICK, 0, 0);
  EXPECT_EQ(1, choices[3].Chosen);
  DestroyChoiceBoxes();
  SetupState::Choices = NULL;
  SetupState::ChoiceCount = 0;
  EXPECT_FALSE(HasChoices(0) || HasChoices(1));
  DestroyWindow(host);
}

TEST(WizardChoices, TheSpaceIsRoundedUpInItsUnit) {
  const std::pair<unsigned long long, const char*> cases[] = {
      {0, "0 KB"}, {1, "1 KB"}, {1024, "1 KB"}, {1025, "2 KB"}, {1023ull << 10, "1023 KB"},
      {1ull << 20, "1.0 MB"}, {(1ull << 20) + 1, "1.1 MB"}, {1023ull << 20, "1023.0 MB"},
      {5ull << 30, "5.0 GB"}, {3ull << 40, "3.0 TB"}};
  for (const auto& c : cases) {
    char text[32];
    FormatDiskSpace(c.first, text, sizeof text);
    EXPECT_STREQ(c.second, text) << c.first;
  }
}

TEST(WizardLicence, TheFileShowsWholeWithEveryLineEndingAsTheBoxBreaksIt) {
  const std::pair<std::string, std::wstring> cases[] = {
      {"\xEF\xBB\xBFLicence\r\n", L"Licence\r\n"},
      {"a\nb\r\nc\rd\n\n", L"a\r\nb\r\nc\rd\r\n\r\n"},
      {"\n\xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80", L"\r\n\u00E9t\u00E9 \u65E5\u672C \U0001F600"},
      {"", L""}};
  for (const auto& c : cases) {
    WCHAR* text = LicenceText(c.first.data(), c.first.size());
    ASSERT_TRUE(text);
    EXPECT_EQ(c.second, std::wstring(text)) << c.first;
    free(text);
  }
}

// A picture of four coloured quarters, w x h.
HBITMAP Quarters(int w, int h) {
  HDC screen = GetDC(NULL);
  HBITMAP picture = CreateCompatibleBitmap(screen, w, h);
  HDC dc = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(dc, picture);
  const COLORREF colours[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 0)};
  for (int q = 0; q < 4; ++q) {
    RECT r = {q % 2 * w / 2, q / 2 * h / 2, (q % 2 + 1) * w / 2, (q / 2 + 1) * h / 2};
    HBRUSH brush = CreateSolidBrush(colours[q]);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  ReleaseDC(NULL, screen);
  return picture;
}

TEST(WizardPicture, AnyPictureIsScaledIntoTheBoxWithItsAspectKept) {
  struct Case {
    int W, H, BoxW, BoxH, FitW, FitH;
  };
  const Case cases[] = {{1000, 500, 118, 258, 118, 59},  // wide: the width decides
                        {164, 314, 118, 258, 118, 225},
                        {50, 400, 118, 258, 32, 258},    // tall: the height does
                        {30, 60, 118, 258, 118, 236},    // small ones grow
                        {4000, 1, 118, 258, 118, 1}};
  for (const Case& c : cases) {
    HBITMAP source = Quarters(c.W, c.H);
    HBITMAP scaled = ScaledPicture(source, c.BoxW, c.BoxH);
    ASSERT_TRUE(scaled) << c.W << "x" << c.H;
    BITMAP info;
    ASSERT_TRUE(GetObjectA(scaled, sizeof info, &info));
    EXPECT_EQ(c.FitW, info.bmWidth) << c.W << "x" << c.H;
    EXPECT_EQ(c.FitH, info.bmHeight) << c.W << "x" << c.H;
    if (c.FitH > 8) {
      // the middle of each quarter keeps its colour
      HDC dc = CreateCompatibleDC(NULL);
      HGDIOBJ old = SelectObject(dc, scaled);
      EXPECT_EQ(RGB(255, 0, 0), GetPixel(dc, c.FitW / 4, c.FitH / 4));
      EXPECT_EQ(RGB(0, 255, 0), GetPixel(dc, 3 * c.FitW / 4, c.FitH / 4));
      EXPECT_EQ(RGB(0, 0, 255), GetPixel(dc, c.FitW / 4, 3 * c.FitH / 4));
      EXPECT_EQ(RGB(255, 255, 0), GetPixel(dc, 3 * c.FitW / 4, 3 * c.FitH / 4));
      SelectObject(dc, old);
      DeleteDC(dc);
    }
    DeleteObject(scaled);
    DeleteObject(source);
  }
  EXPECT_EQ(NULL, ScaledPicture(NULL, 118, 258));
}

// The windows carry the setup file's icons, large and small, not the system's.
TEST(WizardPicture, AWindowTakesTheSetupFilesIcons) {
  HMODULE setup = LoadLibraryExA(QS_STUB_PATH, NULL, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(setup);
  HWND w = CreateWindowA("STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, NULL, NULL, NULL);
  ASSERT_TRUE(w);
  EXPECT_EQ(0, SendMessageA(w, WM_GETICON, ICON_BIG, 0));
  SetWindowIcons(w, setup);
  const int sizes[2][2] = {{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}};
  for (const auto& size : sizes) {
    HICON icon = reinterpret_cast<HICON>(SendMessageA(w, WM_GETICON, size[0], 0));
    ICONINFO info = {};
    ASSERT_TRUE(icon && GetIconInfo(icon, &info)) << size[0];
    BITMAP colour = {};
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof colour, &colour);
    EXPECT_EQ(GetSystemMetrics(size[1]), colour.bmWidth) << size[0];
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
  }
  DestroyWindow(w);
  FreeLibrary(setup);
}

}  // namespace
