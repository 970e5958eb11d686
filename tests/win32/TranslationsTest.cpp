#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <stdlib.h>
#include <string>
#include <thread>
#include <vector>

#include "Robot.h"
#include "TestPaths.h"
#include "TestSetups.h"
#include "TestSupport.h"
#include "efs/ExeFileSystem.h"
#include "platform/TextEncoding.h"
#include "script/FileParser.h"
#include "script/Translations.h"

namespace {

const char kEnglishIni[] = QS_SOURCE_DIR "\\translations\\English.ini";

// GetString as a std::string; fails the test on a null result.
std::string Lookup(const CTranslations& table, const char* key) {
  char* text = table.GetString(key);
  EXPECT_NE(nullptr, text) << key;
  if (!text) return std::string();
  std::string out = text;
  free(text);
  return out;
}

// The script as the command stores it (UTF-8), or as an older command did
// (the ANSI code page), read in the program's code page; no other file.
TEST(Translations, TheScriptIsReadInTheProgramsCodePage) {
  TempFolder dir;
  const std::string path = dir.File("default.qsp");
  CFileParser script;
  EXPECT_EQ(0, LoadScriptInProgramCodePage(path.c_str(), &script)) << "no file";
  char expected[16] = "";
  WideCharToMultiByte(CP_ACP, 0, L"Gr\u00FC\u00DFe", -1, expected, sizeof expected, NULL, NULL);
  struct Case {
    std::string text;
    int loads;
  } cases[] = {{"QSP40\n[Global]\nApplicationName=Gr\xC3\xBC\xC3\x9F" "e\n", 1},
               {std::string("QSP40\n[Global]\nApplicationName=") + expected + "\n", 1},
               {"QSP41\n[Global]\nApplicationName=x\n", 0}};
  for (const Case& c : cases) {
    WriteWholeFile(path, c.text);
    EXPECT_EQ(c.loads, LoadScriptInProgramCodePage(path.c_str(), &script)) << c.text;
    char name[16] = "";
    script.GetValue("Global", "ApplicationName", "", name, sizeof name);
    EXPECT_STREQ(c.loads ? expected : "", name) << c.text;
  }
}

TEST(Translations, MissingKeysSectionsAndFilesGiveTheKeyItself) {
  TempFolder dir;
  const std::string ini = dir.File("Translations.ini");
  WriteWholeFile(ini, "[Other]\r\nABSENT_HERE=wrong section\r\n[Strings]\r\nPRESENT=here\r\n");
  CTranslations table;
  EXPECT_EQ(0, table.IsLoaded());
  ASSERT_EQ(1, table.SetFile(ini.c_str()));
  EXPECT_EQ(1, table.IsLoaded());
  EXPECT_EQ("here", Lookup(table, "PRESENT"));
  EXPECT_EQ("here", Lookup(table, "present"));  // the lookup ignores case
  EXPECT_EQ("ABSENT_HERE", Lookup(table, "ABSENT_HERE"));
  EXPECT_EQ("UNSPECIFIED_ERROR_OCCURED", Lookup(table, "UNSPECIFIED_ERROR_OCCURED"));
  // a table an older installation left lacks the newer keys: English, not the key
  for (const auto& c : {std::make_pair("PRESENT", "here"), std::make_pair("ABSENT_HERE", "in English")}) {
    char* text = table.GetStringOr(c.first, "in English");
    ASSERT_NE(nullptr, text);
    EXPECT_STREQ(c.second, text);
    free(text);
  }

  // a path that names no file still counts as set; every key is its own name
  ASSERT_EQ(1, table.SetFile(dir.File("absent.ini").c_str()));
  EXPECT_EQ(1, table.IsLoaded());
  for (const char* key : {"ERROR", "INSTALL_TITLE", "DO_YOU_REALY_WANT_TO_QUIT", "PRESENT"})
    EXPECT_EQ(key, Lookup(table, key));
}

TEST(Translations, TextsAreTrimmedCutAtTwoThousandBytesAndSplitAtBars) {
  TempFolder dir;
  const std::string ini = dir.File("Translations.ini");
  std::string longText;
  for (int i = 0; i < 2500; ++i) longText += static_cast<char>('a' + i % 26);
  WriteWholeFile(ini, "[Strings]\r\n"
                      "BARS=first|second||third\r\n"
                      "BLANKS   =     text with inner  blanks    \r\n"
                      "\r\n"
                      "LONG=" + longText + "\r\n"
                      "QUOTED=\"in quotes\"\r\n"
                      "AFTER_LONG=still read\r\n");
  CTranslations table;
  ASSERT_EQ(1, table.SetFile(ini.c_str()));
  EXPECT_EQ("first\nsecond\n\nthird", Lookup(table, "BARS"));
  EXPECT_EQ("text with inner  blanks", Lookup(table, "BLANKS"));
  EXPECT_EQ(longText.substr(0, 2000), Lookup(table, "LONG"));
  EXPECT_EQ("in quotes", Lookup(table, "QUOTED"));
  EXPECT_EQ("still read", Lookup(table, "AFTER_LONG"));
  // a key given with bars is split like a text when it is its own answer
  EXPECT_EQ("NO\nSUCH", Lookup(table, "NO|SUCH"));
}

TEST(Translations, WithoutAFileEveryKeyIsItsOwnNameAndWinIniIsNotRead) {
  // A lookup without a file name would read win.ini; plant a [Strings] entry
  // there to tell.
  static const char key[] = "QS_TRANSLATIONS_TEST_KEY";
  struct WinIniEntry {
    WinIniEntry() { WriteProfileStringA("Strings", key, "from win.ini"); }
    ~WinIniEntry() { WriteProfileStringA("Strings", key, NULL); }
  } planted;
  char check[32] = "";
  GetProfileStringA("Strings", key, "", check, sizeof check);
  ASSERT_STREQ("from win.ini", check);
  CTranslations table;
  EXPECT_EQ(key, Lookup(table, key));
  EXPECT_EQ(0, table.SetFile(nullptr));
  EXPECT_EQ(0, table.IsLoaded());

  ASSERT_EQ(1, table.SetFile(kEnglishIni));
  EXPECT_EQ("Error", Lookup(table, "ERROR"));
  EXPECT_EQ(0, table.SetFile(nullptr));  // drops the file set before
  EXPECT_EQ(0, table.IsLoaded());
  EXPECT_EQ("ERROR", Lookup(table, "ERROR"));
  EXPECT_EQ(key, Lookup(table, key));
  EXPECT_EQ("A\nB", Lookup(table, "A|B"));
  char* none = table.GetString(nullptr);
  ASSERT_NE(nullptr, none);
  EXPECT_STREQ("", none);
  free(none);
}

TEST(Translations, TheBundledEnglishTableReadsAsWritten) {
  CTranslations table;
  ASSERT_EQ(1, table.SetFile(kEnglishIni));
  EXPECT_EQ("Setup is not complete. Do you really want to quit the setup now?",
            Lookup(table, "DO_YOU_REALY_WANT_TO_QUIT"));
  EXPECT_EQ("The program has been successfully installed.\n\n\nPress Finish to exit this installation.",
            Lookup(table, "PROGRAM_WAS_SUCCESSFULLY_INSTALLED"));
  EXPECT_EQ("< Back", Lookup(table, "BACK"));
  EXPECT_EQ("Failed to write the following line to registry:\n%s\nInstallation will be aborted.",
            Lookup(table, "COULD_NOT_WRITE_LINE_TO_REGESTRY"));
  EXPECT_EQ("Failed to copy embedded background WMF file to the temp directory.",
            Lookup(table, "COPY_ENBEDDED_WMF_FAILED"));
}

// Calls ShowMessage on a thread, answers the box and returns what it showed
// and what ShowMessage returned.
struct ShownBox {
  std::string Caption, Text;
  std::vector<std::string> Buttons;
  int Result;
};

ShownBox ShowAndAnswer(const CTranslations& table, const char* textKey, const char* captionKey,
                       UINT style, const char* expectedCaption, int answer) {
  std::atomic<int> result(-1);
  std::thread caller([&] { result = table.ShowMessage(NULL, textKey, captionKey, style); });
  Robot robot;
  robot.AttachSelf();
  RobotMessageBox box = robot.WaitForMessageBox(expectedCaption, 10000);
  if (box.Window) {
    EXPECT_TRUE(Robot::Press(box.Window, answer)) << robot.WindowTree();
  } else {
    // no box came: close any that comes late so that the join cannot hang
    for (int i = 0; i < 50 && result == -1; ++i) {
      for (HWND w : robot.TopLevelWindows(true))
        if (Robot::Class(w) == "#32770") PostMessageA(w, WM_CLOSE, 0, 0);
      Sleep(100);
    }
  }
  caller.join();
  return {box.Caption, box.Text, box.Buttons, result};
}

// The longest codes (15 letters from /LANG=, 16 looked for) name entries of
// 33 and 34 bytes with their terminator: chosen whole. A longer code is no
// table's, and the choice falls back.
TEST(Translations, TheLongestLanguageCodesChooseTheirTables) {
  TempFolder dir;
  const std::string codes[] = {std::string(15, 'q'), std::string(16, 'r'), std::string(17, 's')};
  std::vector<std::pair<std::string, std::string>> files = {{"Translations.ini", "[Strings]\r\n"}};
  for (const std::string& code : codes) files.push_back({"Translations." + code + ".ini", "[Strings]\r\n"});
  const std::string setup = BuildTestSetup(dir, "Languages.exe", files);
  CExeFileSystemLogged efs;
  efs.Open(setup.c_str());
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ("Translations." + codes[i] + ".ini", ChooseTranslationEntry(efs, codes[i].c_str()));
    EXPECT_EQ("Translations." + codes[i] + ".ini", ChosenTranslationEntry());
  }
  EXPECT_EQ(std::string::npos, std::string(ChooseTranslationEntry(efs, codes[2].c_str())).find(codes[2]));
}

// The name the uninstaller's question gives, kept after the table's own
// lines: as it was, blanks and quotes included; none where none was kept.
// The scope beside it.
TEST(Translations, TheInstalledTableKeepsTheApplicationNameAsItIs) {
  TempFolder dir;
  const std::string ini = dir.File("Translations.ini");
  WriteWholeFile(ini, "[Strings]\r\nERROR = Fehler");  // an author's table may lack the last CR LF
  ASSERT_EQ(1, ConvertTableToUnicode(ini.c_str()));
  EXPECT_EQ(nullptr, ReadInstalledAppName(ini.c_str()));
  for (const char* name : {"Example App", "  blanks  ", "\"quoted\" name", "x"}) {
    ASSERT_EQ(1, ConvertTableToUnicode(ini.c_str()));
    const std::string written = ReadWholeFile(ini);
    WriteWholeFile(ini, written.substr(0, written.find(std::string("\r\0\n\0[\0I\0", 8))));  // the last name
    // and whom it was for, in the same section
    const int perUser = name[0] == 'x';
    ASSERT_EQ(1, WriteInstalledAppName(ini.c_str(), name, perUser)) << name;
    char scope[16] = "";
    GetPrivateProfileStringA("Installed", "Scope", "", scope, sizeof scope, ini.c_str());
    EXPECT_STREQ(perUser ? "user" : "", scope) << name;
    EXPECT_EQ(perUser, ReadInstalledForCurrentUser(ini.c_str())) << name;
    char* kept = ReadInstalledAppName(ini.c_str());
    ASSERT_NE(nullptr, kept) << name;
    EXPECT_STREQ(name, kept);
    free(kept);
    // the table's texts read as before
    CTranslations table;
    table.SetFile(ini.c_str());
    EXPECT_EQ("Fehler", Lookup(table, "ERROR")) << name;
  }
  EXPECT_EQ(nullptr, ReadInstalledAppName(dir.File("absent.ini").c_str()));
  EXPECT_EQ(0, WriteInstalledAppName(dir.File("absent.ini").c_str(), "x", 0)) << "only a table that is there";
  EXPECT_FALSE(PathExists(dir.File("absent.ini")));

  // no table (an older installation's has no Scope line either): all users
  EXPECT_EQ(0, ReadInstalledForCurrentUser(dir.File("absent.ini").c_str()));
  // an author's table without the newer keys speaks English there
  CTranslations table;
  table.SetFile(ini.c_str());
  char* text = table.GetStringOr("ADMINISTRATOR_RIGHTS_NEEDED", "Rights|needed");
  EXPECT_STREQ("Rights\nneeded", text);
  free(text);
  text = table.GetStringOr("ERROR", "Error");
  EXPECT_STREQ("Fehler", text);
  free(text);
}

TEST(Translations, ShowMessageShowsTheTextsUnformattedAndReturnsTheButton) {
  CTranslations table;
  ASSERT_EQ(1, table.SetFile(kEnglishIni));
  ShownBox box = ShowAndAnswer(table, "COULD_NOT_CREATE_SHORTCUT", "ERROR", MB_YESNO | MB_ICONERROR,
                               "Error", IDNO);
  EXPECT_EQ("Error", box.Caption);
  EXPECT_EQ("The shortcut %s\nlinking to %s\ncould not be created. Installation will be aborted.",
            box.Text);
  EXPECT_EQ(2u, box.Buttons.size());
  EXPECT_EQ(IDNO, box.Result);

  box = ShowAndAnswer(table, "DO_YOU_REALY_WANT_TO_QUIT", "INSTALL_TITLE", MB_YESNO, "Install", IDYES);
  EXPECT_EQ("Setup is not complete. Do you really want to quit the setup now?", box.Text);
  EXPECT_EQ(IDYES, box.Result);

  // no text key: a box with a caption only
  box = ShowAndAnswer(table, nullptr, "UNINSTALL_TITLE", MB_OK, "Uninstall", IDOK);
  EXPECT_EQ("", box.Text);
  EXPECT_EQ(IDOK, box.Result);

  // a missing key shows its own name, caption included
  table.SetFile(nullptr);
  box = ShowAndAnswer(table, "UNSPECIFIED_ERROR_OCCURED", "ERROR", MB_OK, "ERROR", IDOK);
  EXPECT_EQ("UNSPECIFIED_ERROR_OCCURED", box.Text);
  EXPECT_EQ(IDOK, box.Result);
}

}  // namespace
