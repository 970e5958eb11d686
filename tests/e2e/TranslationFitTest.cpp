// Every bundled translation table, under the ANSI code page it is written
// in: the wizard and the uninstaller are walked, and every text a static or
// a button shows must fit its control, measured with the dialog's own font.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "../win32/TestSupport.h"
#include "E2eSupport.h"
#include "EnglishText.h"
#include "../win32/Robot.h"
#include "TestPaths.h"
#include "cli/Languages.h"
#include "efs/EfsFormat.h"
#include "resources/resource.h"

namespace {

const char kApp[] = "Example App";

std::string TablePath(const LanguageTable& t) { return std::string(QS_SOURCE_DIR "\\translations\\") + t.File; }

// The font a dialog template asks for, made as the dialog manager makes it.
HFONT DialogFont(int dialogId) {
  HMODULE stub = LoadLibraryExA(QS_STUB_PATH, NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (!stub) return NULL;
  HRSRC found = FindResourceA(stub, MAKEINTRESOURCEA(dialogId), MAKEINTRESOURCEA(5));  // RT_DIALOG
  const WORD* p = found ? static_cast<const WORD*>(LockResource(LoadResource(stub, found))) : nullptr;
  HFONT font = NULL;
  // DLGTEMPLATEEX: version 1, signature 0xFFFF, then help id, styles,
  // item count, position and size, menu, class, title, font
  if (p && p[0] == 1 && p[1] == 0xFFFF) {
    const DWORD style = *reinterpret_cast<const DWORD*>(p + 6);
    p += 13;
    for (int field = 0; field < 3; ++field) {  // menu, class: ordinal or string; title: string
      if (field < 2 && *p == 0xFFFF) {
        p += 2;
        continue;
      }
      while (*p) ++p;
      ++p;
    }
    if (style & DS_SETFONT) {
      const WORD points = p[0], weight = p[1];
      const BYTE italic = LOBYTE(p[2]), charset = HIBYTE(p[2]);
      LOGFONTW lf = {};
      HDC screen = GetDC(NULL);
      lf.lfHeight = -MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
      ReleaseDC(NULL, screen);
      lf.lfWeight = weight;
      lf.lfItalic = italic;
      lf.lfCharSet = charset ? charset : DEFAULT_CHARSET;
      lstrcpynW(lf.lfFaceName, reinterpret_cast<const WCHAR*>(p + 3), LF_FACESIZE);
      font = CreateFontIndirectW(&lf);
    }
  }
  FreeLibrary(stub);
  return font;
}

// The keys of the program and their texts in one table, as the controls
// show them.
class TableTexts {
 public:
  explicit TableTexts(const std::string& table) {
    char names[8192];
    DWORD n = GetPrivateProfileStringA("Strings", NULL, "", names, sizeof names, kEnglish);
    for (const char* key = names; key < names + n && *key; key += strlen(key) + 1) {
      char text[2001];
      GetPrivateProfileStringA("Strings", key, key, text, sizeof text, table.c_str());
      std::string s = text;
      std::replace(s.begin(), s.end(), '|', '\n');
      for (size_t at; (at = s.find("%APPNAME%")) != std::string::npos;) s.replace(at, 9, kApp);
      m_Texts[key] = s;
      std::string& keys = m_Keys[s];
      keys += (keys.empty() ? "" : " or ") + std::string(key);
    }
  }
  // The key(s) whose text this is; empty for a text of no key (a path).
  std::string KeyOf(const std::string& text) const {
    auto it = m_Keys.find(text);
    return it == m_Keys.end() ? "" : it->second;
  }
  const std::string& Text(const char* key) const { return m_Texts.at(key); }
  size_t Size() const { return m_Texts.size(); }

 private:
  std::map<std::string, std::string> m_Texts, m_Keys;
};

// Collects the texts that do not fit, each naming its key.
class FitCheck {
 public:
  FitCheck(const TableTexts& texts, HFONT font) : m_Texts(texts), m_Font(font) {}

  // Every visible static and button of the dialog (and the wizard's
  // run-time controls, which showed while the worker ran).
  void Controls(HWND dialog, const char* where) {
    for (const RobotControl& c : Robot::Controls(dialog)) {
      if (!c.Visible && c.Id != IDC_RUNTIME) continue;
      if (c.Class != "Static" && c.Class != "Button") continue;
      Text(c.Window, c.Text, where);
    }
  }

  // text as control would show it. Texts of no key (paths, "OK") are not
  // the tables' business.
  void Text(HWND control, const std::string& text, const char* where) {
    const std::string key = m_Texts.KeyOf(text);
    if (text.empty() || key.empty()) return;
    ++Checked;
    RECT client;
    GetClientRect(control, &client);
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    const bool isButton = Robot::Class(control) == "Button";
    if (!isButton && (style & SS_TYPEMASK) == SS_BITMAP) return;
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, m_Font);
    RECT need = {0, 0, client.right, 0};
    int roomX = client.right, roomY = client.bottom;
    if (!isButton) {
      // what a left-aligned static does: wrap at blanks, break at line feeds
      UINT flags = DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_EXPANDTABS;
      if (style & SS_NOPREFIX) flags |= DT_NOPREFIX;
      DrawTextA(dc, text.c_str(), -1, &need, flags);
    } else {
      // one line inside the frame: a push button's 3D edge and focus
      // rectangle, a group box's frame and the gap before its title
      DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_SINGLELINE);
      const bool group = (style & BS_TYPEMASK) == BS_GROUPBOX;
      roomX -= group ? 2 * (GetSystemMetrics(SM_CXEDGE) + 6) : 2 * (GetSystemMetrics(SM_CXEDGE) + 1);
      if (!group) roomY -= 2 * GetSystemMetrics(SM_CYEDGE);
    }
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    if (getenv("QS_FIT_TRACE"))
      printf("fit: %s (%s): needs %ldx%ld, has %dx%d\n", key.c_str(), where, need.right, need.bottom, roomX, roomY);
    if (need.right > roomX || need.bottom > roomY) {
      char line[512];
      snprintf(line, sizeof line, "%s (%s): needs %ldx%ld pixels, has %dx%d", key.c_str(), where, need.right,
               need.bottom, roomX, roomY);
      Misfits.push_back(line);
    }
  }

  std::vector<std::string> Misfits;
  int Checked = 0;

 private:
  const TableTexts& m_Texts;
  HFONT m_Font;
};

class TranslationFit : public ::testing::Test {
 protected:
  TempFolder dir;

  std::string Build(const std::string& table) {
    const std::string target = dir.File("Fit App");
    SetupOptions options;
    options.Table = table;
    return BuildSetupFile(dir,
                          std::string("QSP40\r\n[Global]\r\nApplicationName = ") + kApp + "\r\nDefaultDir = " +
                              target + "\r\nAllowChangeInstallDir = TRUE\r\nShowEULAPage = TRUE\r\n"
                              "[Files]\r\nreadme.txt, %MAINDIR%readme.txt\r\n",
                          {{"readme.txt", "Read me.\r\n"}}, options);
  }

  static HWND Page(Robot& robot, const TableTexts& texts, const char* captionKey) {
    return robot.WaitForWindow("#32770", texts.Text(captionKey).c_str(), 20000);
  }

  // Walks the wizard of table (up to the welcome page only, or all the way
  // through and then the uninstaller) and returns what does not fit.
  std::vector<std::string> Walk(const std::string& table, bool welcomeOnly, int* checked) {
    const TableTexts texts(table);
    HFONT wizardFont = DialogFont(IDD_WIZARD_DIALOG), uninstallFont = DialogFont(IDD_UNINSTALL_PROGRESS);
    EXPECT_TRUE(wizardFont && uninstallFont) << "cannot read the dialogs' font from " << QS_STUB_PATH;
    FitCheck fit(texts, wizardFont);
    const std::string setup = Build(table);
    Robot robot;
    if (!robot.Start("\"" + setup + "\"")) {
      ADD_FAILURE() << "cannot start " << setup;
      return {};
    }
    HWND w = Page(robot, texts, "WELCOME");
    if (w) fit.Controls(w, "welcome");
    if (welcomeOnly || !w) {
      if (w && Robot::Press(w, IDC_CANCEL_INSTALL)) {
        robot.AnswerMessageBox(texts.Text("INSTALL_TITLE").c_str(), IDYES, 20000);
        DWORD code = 0;
        EXPECT_TRUE(robot.WaitForExit(20000, &code));
      }
      *checked = fit.Checked;
      return fit.Misfits;
    }
    const struct {
      const char* Caption;
      const char* Where;
    } pages[] = {{"EULA", "licence"},
                 {"CHOOSE_DESITNATION_LOCATION", "destination"},
                 {"START_INSTALLATION", "start"},
                 {"INSTALLING", "installing"}};
    for (const auto& page : pages) {
      if (!Robot::Press(w, IDC_NEXT)) break;
      w = Page(robot, texts, page.Caption);
      if (!w) break;
      fit.Controls(w, page.Where);
    }
    const std::string target = dir.File("Fit App");
    if (w && robot.WaitUntil([&] { return Robot::ItemText(w, IDC_NEXT) == texts.Text("FINISH") &&
                                          IsWindowEnabled(GetDlgItem(w, IDC_NEXT)); },
                             60000, "the finish page")) {
      Robot::Settle(w);
      fit.Controls(w, "finish");
      Robot::Press(w, IDC_NEXT);
      DWORD code = 1;
      EXPECT_TRUE(robot.WaitForExit(20000, &code));
    }

    // the uninstaller: its question is a message box, which sizes itself;
    // its dialog shows three texts in one static
    FitCheck unfit(texts, uninstallFont);
    Robot un;
    if (PathExists(target + "\\Uninstall.exe") && un.Start("\"" + target + "\\Uninstall.exe\"", dir.Path().c_str())) {
      un.AnswerMessageBox(texts.Text("UNINSTALL_TITLE").c_str(), IDYES, 20000);
      HWND dialog = NULL;
      un.WaitUntil([&] {
            dialog = un.FindWindowNow("#32770", texts.Text("UNINSTALL_TITLE").c_str());
            return dialog && IsWindowVisible(GetDlgItem(dialog, IDOK));
          }, 60000, "the uninstall result");
      if (dialog) {
        Robot::Settle(dialog);
        unfit.Controls(dialog, "uninstaller");
        for (const char* key : {"PLEASE_WAIT_WHILE_UNINSTALLING", "UINSTALL_PROCESS_FAILED"})
          unfit.Text(GetDlgItem(dialog, IDC_UNINSTALL_TEXT), texts.Text(key), "uninstaller");
        Robot::Press(dialog, IDOK);
        DWORD code = 1;
        EXPECT_TRUE(un.WaitForExit(20000, &code));
        un.WaitUntil([&] { return !PathExists(target); }, 60000, "the self-removal");
      }
    } else {
      ADD_FAILURE() << "no uninstaller in " << target;
    }
    DeleteObject(wizardFont);
    DeleteObject(uninstallFont);
    fit.Misfits.insert(fit.Misfits.end(), unfit.Misfits.begin(), unfit.Misfits.end());
    *checked = fit.Checked + unfit.Checked;
    return fit.Misfits;
  }
};

std::string Lines(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += "\n  " + l;
  return s;
}

TEST_F(TranslationFit, EveryTableOfThisCodePageFitsTheWizardAndTheUninstaller) {
  const int lane = CodePageLane();
  if (!lane) GTEST_SKIP() << "runs in the code-page lanes (e2e_fit_cp*), one per table's code page";
  ASSERT_EQ((UINT)lane, GetACP()) << "Wine did not get the ANSI code page of this lane; is its locale missing?";
  int tables = 0;
  for (const LanguageTable& t : LanguageTables()) {
    if (t.CodePage != lane) continue;
    SCOPED_TRACE(t.File);
    ++tables;
    int checked = 0;
    std::vector<std::string> misfits = Walk(TablePath(t), false, &checked);
    EXPECT_TRUE(misfits.empty()) << t.File << ": texts that do not fit:" << Lines(misfits);
    // the page texts, the buttons, the frames, the progress labels and the
    // uninstaller's texts were all seen
    EXPECT_GE(checked, 25) << t.File;
  }
  EXPECT_GT(tables, 0);
}

TEST_F(TranslationFit, ATextTooLongForItsControlFailsAndIsNamed) {
  if (CodePageLane() != 1252) GTEST_SKIP() << "runs in the lane of code page 1252 (e2e_fit_cp1252)";
  ASSERT_EQ(1252u, GetACP());
  std::string german = ReadWholeFile(TablePath(*FindLanguage("de")));
  auto replaceLine = [&](const std::string& key, const std::string& text) {
    size_t at = german.find("\r\n" + key + " = ") + 2;
    german.replace(at, german.find("\r\n", at) - at, key + " = " + text);
  };
  replaceLine("NEXT", "Weiter zum n\xE4" "chsten Schritt >");
  std::string page;
  for (int i = 0; i < 12; ++i) page += "Eine Zeile von vielen.||";
  replaceLine("WELCOME_PAGE_TEXT", page + "%APPNAME%");
  const std::string table = dir.File("Long.ini");
  WriteWholeFile(table, german);
  int checked = 0;
  std::vector<std::string> misfits = Walk(table, true, &checked);
  EXPECT_EQ(3, checked) << "the page text, Next and Cancel";
  ASSERT_EQ(2u, misfits.size()) << Lines(misfits);
  EXPECT_EQ(0u, misfits[0].find("NEXT (welcome): needs ")) << misfits[0];
  EXPECT_EQ(0u, misfits[1].find("WELCOME_PAGE_TEXT (welcome): needs ")) << misfits[1];
  // and the table as shipped fits
  misfits = Walk(TablePath(*FindLanguage("de")), true, &checked);
  EXPECT_TRUE(misfits.empty()) << Lines(misfits);
}

// The UTF-8 lane: on a Windows of code page 1252, the program in UTF-8
// shows every bundled table as the command stores it (converted from the
// table's own code page), whatever that code page. Read through the wide
// calls, each text is the table's.
std::wstring TableText(const LanguageTable& t, const char* key) {
  char text[2001];
  GetPrivateProfileStringA("Strings", key, key, text, sizeof text, TablePath(t).c_str());  // the table's bytes: 1252 reads them as they are
  WCHAR wide[2001];
  MultiByteToWideChar((UINT)t.CodePage, 0, text, -1, wide, 2001);
  std::wstring s = wide;
  std::replace(s.begin(), s.end(), L'|', L'\n');
  for (size_t at; (at = s.find(L"%APPNAME%")) != std::wstring::npos;) s.replace(at, 9, L"Example App");
  return s;
}

// WM_GETTEXT itself: GetWindowText gives no edit's text across processes.
std::wstring WideText(HWND w) {
  WCHAR text[4096] = L"";
  SendMessageW(w, WM_GETTEXT, 4096, (LPARAM)text);
  return text;
}

// A button's label as it shows: without the mark of its access key.
std::wstring Shown(HWND w) {
  const std::wstring text = WideText(w);
  if (Robot::Class(w) != "Button") return text;
  std::wstring shown;
  for (size_t i = 0; i < text.size(); ++i) shown += text[i] == L'&' && i + 1 < text.size() ? text[++i] : text[i];
  return shown;
}

std::string Utf8(const std::wstring& w) {
  char text[8192] = "";
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, text, sizeof text, NULL, NULL);
  return text;
}

TEST(Utf8Tables, EveryTableShowsItsOwnTextsOnAWesternWindows) {
  const char* lane = getenv("QS_UTF8_LANE");
  if (!lane || lane[0] != '1') GTEST_SKIP() << "runs in the UTF-8 lane (e2e_utf8_cp1252)";
  ASSERT_EQ(1252u, GetACP()) << "the UTF-8 lane runs on a Western Windows";
  for (const LanguageTable& t : LanguageTables()) {
    SCOPED_TRACE(t.File);
    TempFolder dir;
    // the table as the command stores it
    const std::string bytes = ReadWholeFile(TablePath(t));
    std::wstring wide(bytes.size() + 1, L'\0');
    wide.resize((size_t)MultiByteToWideChar((UINT)t.CodePage, 0, bytes.data(), (int)bytes.size(), &wide[0],
                                            (int)wide.size()));
    WriteWholeFile(dir.File("Table.ini"), Utf8(wide));
    SetupOptions options;
    options.Table = dir.File("Table.ini");
    BuildSetupFile(dir, std::string("QSP40\r\n[Global]\r\nApplicationName = ") + kApp + "\r\nDefaultDir = " +
                            dir.File("App") + "\r\nShowEULAPage = TRUE\r\n",
                   {}, options);

    Robot robot;
    ASSERT_TRUE(robot.Start("\"" + dir.File("Setup.exe") + "\""));
    HWND w = NULL;
    ASSERT_TRUE(robot.WaitUntil([&] {
          w = robot.FindWindowNow("#32770", NULL);
          return w && IsWindowVisible(GetDlgItem(w, IDC_NEXT));
        }, 20000, "the welcome page"));
    Robot::Settle(w);
    const struct {
      int Id;
      const char* Key;
    } welcome[] = {{0, "WELCOME"}, {IDC_PAGE_TEXT, "WELCOME_PAGE_TEXT"}, {IDC_NEXT, "NEXT"}, {IDC_CANCEL_INSTALL, "CANCEL"}};
    for (const auto& c : welcome) {
      const std::wstring shown = Shown(c.Id ? GetDlgItem(w, c.Id) : w);
      EXPECT_TRUE(TableText(t, c.Key) == shown) << c.Key << ": shows " << Utf8(shown) << ", the table has "
                                                << Utf8(TableText(t, c.Key));
    }
    // the licence page: its texts and the licence box
    ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
    ASSERT_TRUE(robot.WaitUntil([&] { return WideText(w) == TableText(t, "EULA"); }, 20000, "the licence page"));
    Robot::Settle(w);
    EXPECT_TRUE(TableText(t, "ACCEPT") == Shown(GetDlgItem(w, IDC_NEXT))) << "ACCEPT";
    EXPECT_TRUE(TableText(t, "BACK") == Shown(GetDlgItem(w, IDC_BACK))) << "BACK";
    EXPECT_TRUE(robot.WaitUntil([&] { return TableText(t, "EULA_BOX_TEXT") == WideText(GetDlgItem(w, IDC_RUNTIME)); },
                                10000, "EULA_BOX_TEXT in the licence box"))
        << "shows " << Utf8(WideText(GetDlgItem(w, IDC_RUNTIME))) << ", the table has "
        << Utf8(TableText(t, "EULA_BOX_TEXT"));
    // the question, from a message box
    ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
    HWND box = NULL;
    ASSERT_TRUE(robot.WaitUntil([&] {
          for (HWND top : robot.TopLevelWindows(true))
            if (top != w && Robot::Class(top) == "#32770") box = top;
          return box != NULL;
        }, 20000, "the quit question"));
    Robot::Settle(box);
    EXPECT_TRUE(TableText(t, "INSTALL_TITLE") == WideText(box)) << "INSTALL_TITLE: " << Utf8(WideText(box));
    bool found = false;
    for (const RobotControl& c : Robot::Controls(box))
      if (WideText(c.Window) == TableText(t, "DO_YOU_REALY_WANT_TO_QUIT")) found = true;
    EXPECT_TRUE(found) << "DO_YOU_REALY_WANT_TO_QUIT";
    PostMessageW(box, WM_COMMAND, IDYES, 0);
    DWORD code = 0;
    EXPECT_TRUE(robot.WaitForExit(20000, &code));
  }
}

}  // namespace
