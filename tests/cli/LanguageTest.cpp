// quillset build --language and quillset languages.
#include <gtest/gtest.h>

#include "CliSupport.h"
#include "cli/Platform.h"

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

Bytes StoredTable(const TempDir& dir, const std::string& setup) {
  RunResult r = RunQuillset({"extract", "-q", "-d", dir.File("out"), setup, "Translations.ini"});
  EXPECT_EQ(0, r.Code) << r.Err;
  return ReadWholeFile(dir.File("out/Translations.ini"));
}

// A bundled table as the command stores it.
Bytes InUtf8(const char* file, int codePage) {
  std::string utf8;
  EXPECT_TRUE(PlatformToUtf8(ReadWholeFile(SourceDir() + "/translations/" + file), codePage, &utf8)) << file;
  return utf8;
}

TEST(Languages, BuildStoresTheNamedTableInUtf8) {
  TempDir dir;
  Project project(dir);
  project.Write("QSP40\n[Global]\nApplicationName = Hello\n");
  for (const char* name : {"de", "pt-BR", "PT_br", "ja", "Russian", "zh-CN"}) {
    SCOPED_TRACE(name);
    RunResult r = project.Build(dir.File("Setup.exe"), {"--language", name});
    ASSERT_EQ(0, r.Code) << r.Err;
    EXPECT_EQ("", r.Err);
  }
  EXPECT_EQ(InUtf8("SimplifiedChinese.ini", 936), StoredTable(dir, dir.File("Setup.exe")));
  ASSERT_EQ(0, project.Build(dir.File("Setup.exe"), {"--language=de"}).Code);
  EXPECT_EQ(InUtf8("German.ini", 1252), StoredTable(dir, dir.File("Setup.exe")));

  // an explicit language wins over a table beside the script, and says so
  WriteWholeFile(dir.File("Translations.ini"), "[Strings]\r\nERROR = Fout\r\n");
  RunResult r = project.Build(dir.File("Setup.exe"), {"--language", "ja"});
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_TRUE(Has(r.Err, "quillset: warning: " + dir.File("Translations.ini") + " is not used: --language ja"))
      << r.Err;
  EXPECT_EQ(InUtf8("Japanese.ini", 932), StoredTable(dir, dir.File("Setup.exe")));
}

TEST(Languages, UnknownOrDoublyChosenTablesAreUsageErrors) {
  TempDir dir;
  Project project(dir);
  project.Write("QSP40\n[Global]\nApplicationName = Hello\n");
  WriteWholeFile(dir.File("mine.ini"), "[Strings]\r\n");
  RunResult r = project.Build(dir.File("Setup.exe"), {"--language", "de", "--translations", dir.File("mine.ini")});
  EXPECT_EQ(2, r.Code);
  EXPECT_TRUE(Has(r.Err, "--language and --translations both choose the table")) << r.Err;
  r = project.Build(dir.File("Setup.exe"), {"--translations", dir.File("mine.ini"), "--language", "de"});
  EXPECT_EQ(2, r.Code);
  r = project.Build(dir.File("Setup.exe"), {"--language", "klingon"});
  EXPECT_EQ(2, r.Code);
  EXPECT_TRUE(Has(r.Err, "--language klingon: no such table; give one of en, de, fr")) << r.Err;
  r = project.Build(dir.File("Setup.exe"), {"--language"});
  EXPECT_EQ(2, r.Code);
  EXPECT_FALSE(Exists(dir.File("Setup.exe")));
}

Bytes StoredScript(const TempDir& dir, const std::string& setup) {
  RunResult r = RunQuillset({"extract", "-q", "-d", dir.File("out"), setup, "default.qsp"});
  EXPECT_EQ(0, r.Code) << r.Err;
  return ReadWholeFile(dir.File("out/default.qsp"));
}

// The setup program takes every text in UTF-8: a UTF-8 script as it is,
// another in its code page (--codepage, 1252 by default), converted; its
// file names then match the UTF-8 names on disk.
TEST(Languages, TheScriptIsStoredInUtf8) {
  TempDir dir;
  Project project(dir);
  WriteWholeFile(dir.File("caf\xC3\xA9.txt"), "coffee\r\n");
  auto script = [](const std::string& name, const std::string& file) {
    return "QSP40\n[Global]\nApplicationName = " + name + "\n[Files]\n" + file + ", %MAINDIR%" + file + "\n";
  };
  const std::string utf8 = script("Gr\xC3\xBC\xC3\x9F" "e", "caf\xC3\xA9.txt");
  project.Write(utf8);
  RunResult r = project.Build(dir.File("Setup.exe"));
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ("", r.Err) << "no warning about code pages any more";
  EXPECT_EQ(utf8, StoredScript(dir, dir.File("Setup.exe")));
  r = RunQuillset({"list", dir.File("Setup.exe")});
  EXPECT_TRUE(Has(r.Out, "\ncaf\xC3\xA9.txt ")) << r.Out;

  // the same script saved in 1252 finds the same file and is stored as UTF-8
  project.Write(script("Gr\xFC\xDF" "e", "caf\xE9.txt"));
  r = project.Build(dir.File("Setup.exe"));
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ(utf8, StoredScript(dir, dir.File("Setup.exe")));

  // saved with a byte-order mark (Notepad's "UTF-8 with BOM"): the same,
  // stored without the mark, which an older Windows' code page would not hold
  project.Write("\xEF\xBB\xBF" + utf8);
  r = project.Build(dir.File("Setup.exe"));
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ("", r.Err);
  EXPECT_EQ(utf8, StoredScript(dir, dir.File("Setup.exe")));
  // UTF-16 is named, with or without its mark
  for (const auto& utf16 : {std::make_pair(std::string("\xFF\xFEQ\0S\0P\0"), "UTF-16 (little-endian)"),
                            std::make_pair(std::string("\0Q\0S\0P", 6), "UTF-16 (big-endian)")}) {
    project.Write(utf16.first);
    r = project.Build(dir.File("Other.exe"));
    EXPECT_EQ(1, r.Code);
    EXPECT_EQ("quillset: error: " + project.Path() + " is " + utf16.second + " text: save it as UTF-8\n", r.Err);
    EXPECT_FALSE(Exists(dir.File("Other.exe")));
  }

  // Cyrillic in 1251, named
  WriteWholeFile(dir.File("\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD0\xB0.txt"), "x");  // Прога.txt
  project.Write(script("\xCF\xF0\xEE\xE3\xE0", "\xCF\xF0\xEE\xE3\xE0.txt"));
  r = project.Build(dir.File("Setup.exe"), {"--codepage", "1251"});
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ(script("\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD0\xB0", "\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD0\xB0.txt"),
            StoredScript(dir, dir.File("Setup.exe")));
  // read in 1252 instead, the name is another one, which is not on disk
  r = project.Build(dir.File("Setup.exe"));
  EXPECT_EQ(1, r.Code);
  EXPECT_TRUE(Has(r.Err, "app.qsp:5: file not found")) << r.Err;

  // bytes that are no text of the code page: named, nothing written
  project.Write("QSP40\n[Global]\nApplicationName = \x81\n");
  r = project.Build(dir.File("Other.exe"));
  EXPECT_EQ(1, r.Code);
  EXPECT_TRUE(Has(r.Err, "is neither UTF-8 nor text of code page 1252; give its code page with --codepage")) << r.Err;
  EXPECT_FALSE(Exists(dir.File("Other.exe")));
  for (const char* bad : {"7", "utf8", "", "123456"}) {
    r = project.Build(dir.File("Other.exe"), {"--codepage", bad});
    EXPECT_EQ(2, r.Code) << bad;
    EXPECT_TRUE(Has(r.Err, "give a Windows code page such as 1252")) << r.Err;
  }
}

// Every bundled table goes in converted from its code page; a table of the
// author's as UTF-8 when it is that, else in --codepage.
// --language de,ja,en: every table under its code, the first also as the
// table a setup program without a match speaks.
TEST(Languages, SeveralLanguagesGoInUnderTheirCodes) {
  TempDir dir;
  Project project(dir);
  project.Write("QSP40\n[Global]\nApplicationName = Hello\n");
  RunResult r = project.Build(dir.File("Setup.exe"), {"--language", "de,ja,en"});
  ASSERT_EQ(0, r.Code) << r.Err;
  r = RunQuillset({"list", dir.File("Setup.exe")});
  for (const char* name : {"\nTranslations.ini ", "\nTranslations.de.ini ", "\nTranslations.ja.ini ",
                           "\nTranslations.en.ini "})
    EXPECT_TRUE(Has(r.Out, name)) << name << r.Out;
  EXPECT_FALSE(Has(r.Out, "Translations.ru.ini"));
  EXPECT_EQ(InUtf8("German.ini", 1252), StoredTable(dir, dir.File("Setup.exe")));
  RunResult x = RunQuillset({"extract", "-q", "-d", dir.File("out"), dir.File("Setup.exe"), "Translations.ja.ini"});
  ASSERT_EQ(0, x.Code) << x.Err;
  EXPECT_EQ(InUtf8("Japanese.ini", 932), ReadWholeFile(dir.File("out/Translations.ja.ini")));

  r = project.Build(dir.File("Setup.exe"), {"--language", "all"});
  ASSERT_EQ(0, r.Code) << r.Err;
  r = RunQuillset({"list", dir.File("Setup.exe")});
  EXPECT_TRUE(Has(r.Out, ", 14 entries\n")) << r.Out;  // twelve, Translations.ini and the script
  EXPECT_TRUE(Has(r.Out, "\nTranslations.zh-CN.ini ")) << r.Out;
  // the first is English, as quillset languages lists them
  EXPECT_EQ(ReadWholeFile(SourceDir() + "/translations/English.ini"), StoredTable(dir, dir.File("Setup.exe")));

  for (const char* bad : {"de,de", "de,xx", "de,", ",ja"}) {
    r = project.Build(dir.File("Other.exe"), {"--language", bad});
    EXPECT_EQ(2, r.Code) << bad;
  }
  EXPECT_TRUE(Has(project.Build(dir.File("Other.exe"), {"--language", "de,ja,de"}).Err, "names de twice"));
}

// ShowLanguageDialog: on only when written TRUE, and of no use with one
// language; the setup program's dialog names every language the command
// can put in.
TEST(Languages, TheLanguageDialogIsCheckedAndKnowsEveryTable) {
  TempDir dir;
  Project project(dir);
  const std::string p = project.Path();
  project.Write("QSP40\n[Global]\nApplicationName = Hello\nShowLanguageDialog = true\n");
  RunResult r = project.Build(dir.File("Setup.exe"), {"--language", "de,ja"});
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_TRUE(Has(r.Err, p + ":4: warning: ShowLanguageDialog = true is read as FALSE")) << r.Err;
  project.Write("QSP40\n[Global]\nApplicationName = Hello\nShowLanguageDialog = TRUE\n");
  for (const std::vector<std::string>& one : {std::vector<std::string>{}, std::vector<std::string>{"--language", "ja"}}) {
    r = project.Build(dir.File("Setup.exe"), one);
    ASSERT_EQ(0, r.Code) << r.Err;
    EXPECT_TRUE(Has(r.Err, p + ":4: warning: ShowLanguageDialog = TRUE shows no dialog: the setup holds one language"))
        << r.Err;
  }
  r = project.Build(dir.File("Setup.exe"), {"--language", "de,ja"});
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ("", r.Err);

  const std::string table = ReadWholeFile(SourceDir() + "/cli/Languages.cpp");
  const std::string dialog = ReadWholeFile(SourceDir() + "/ui/LanguageDialog.cpp");
  int codes = 0;
  for (size_t at = table.find("\n      {\""); at != std::string::npos; at = table.find("\n      {\"", at + 1)) {
    const size_t start = at + 9, end = table.find('"', start);
    const std::string code = table.substr(start, end - start);
    ++codes;
    EXPECT_TRUE(Has(dialog, "{\"" + code + "\", L\"")) << "the language dialog has no name for " << code;
  }
  EXPECT_EQ(12, codes);
}

TEST(Languages, TablesAreStoredInUtf8) {
  TempDir dir;
  Project project(dir);
  project.Write("QSP40\n[Global]\nApplicationName = Hello\n");
  ASSERT_EQ(0, project.Build(dir.File("Setup.exe"), {"--language", "ru"}).Code);
  const Bytes russian = StoredTable(dir, dir.File("Setup.exe"));
  EXPECT_TRUE(Has(russian, "ERROR = \xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0\r\n")) << "Ошибка";
  ASSERT_EQ(0, project.Build(dir.File("Setup.exe"), {"--language", "ja"}).Code);
  EXPECT_TRUE(Has(StoredTable(dir, dir.File("Setup.exe")), "ERROR = \xE3\x82\xA8\xE3\x83\xA9\xE3\x83\xBC\r\n"))
      << "エラー";
  // the ASCII English table stays byte for byte
  ASSERT_EQ(0, project.Build(dir.File("Setup.exe")).Code);
  EXPECT_EQ(ReadWholeFile(SourceDir() + "/translations/English.ini"), StoredTable(dir, dir.File("Setup.exe")));

  WriteWholeFile(dir.File("own.ini"), "[Strings]\r\nERROR = \xCE\xF8\xE8\xE1\xEA\xE0\r\n");  // 1251
  ASSERT_EQ(0, project.Build(dir.File("Setup.exe"), {"--translations", dir.File("own.ini"), "--codepage", "1251"}).Code);
  EXPECT_EQ("[Strings]\r\nERROR = \xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0\r\n", StoredTable(dir, dir.File("Setup.exe")));
  WriteWholeFile(dir.File("own.ini"), "[Strings]\r\nERROR = \xD0\x9E\r\n");  // UTF-8 already
  ASSERT_EQ(0, project.Build(dir.File("Setup.exe"), {"--translations", dir.File("own.ini"), "--codepage", "1251"}).Code);
  EXPECT_EQ("[Strings]\r\nERROR = \xD0\x9E\r\n", StoredTable(dir, dir.File("Setup.exe")));
  // a text the setup program would cut: refused, counted in characters as
  // the lookup counts them (an emoji is two), its enclosing quotes not
  std::string text = std::string(1000, 'a');
  for (int i = 0; i < 500; ++i) text += "\xC3\xA9";          // 1 each
  for (int i = 0; i < 250; ++i) text += "\xF0\x9F\x98\x80";  // 2 each
  WriteWholeFile(dir.File("own.ini"), "[Strings]\r\nERROR = x\r\nEULA_BOX_TEXT = \"" + text + "\"\r\n");
  EXPECT_EQ(0, project.Build(dir.File("Other.exe"), {"--translations", dir.File("own.ini")}).Code);
  WriteWholeFile(dir.File("own.ini"), "[Strings]\r\nERROR = x\r\nEULA_BOX_TEXT = " + text + "b\r\n");
  RunResult r = project.Build(dir.File("Other.exe"), {"--translations", dir.File("own.ini")});
  EXPECT_EQ(1, r.Code);
  EXPECT_EQ("quillset: error: " + dir.File("own.ini") +
                ":3: EULA_BOX_TEXT is 2001 characters long; the setup program shows its first 2000 and cuts the rest "
                "off (install a longer licence as a file with [Files])\nquillset: 1 problem, nothing written\n",
            r.Err);

  WriteWholeFile(dir.File("own.ini"), std::string("\xFF\xFE[\0S\0", 6));
  r = project.Build(dir.File("Other.exe"), {"--translations", dir.File("own.ini")});
  EXPECT_EQ(1, r.Code);
  EXPECT_TRUE(Has(r.Err, "own.ini is UTF-16 (little-endian) text: save it as UTF-8")) << r.Err;
  // and no converted copy is left beside the output
  for (const std::string& f : dir.List()) EXPECT_EQ(std::string::npos, f.find(".~qs")) << f;
}

TEST(Languages, LanguagesListsEveryTableWithItsCodePage) {
  RunResult r = RunQuillset({"languages"});
  ASSERT_EQ(0, r.Code) << r.Err;
  for (const char* row : {"en      English              1252", "de      German               1252",
                          "pt-BR   Portuguese (Brazil)  1252", "pl      Polish               1250",
                          "cs      Czech                1250", "ru      Russian              1251",
                          "ja      Japanese             932", "zh-CN   Simplified Chinese   936"})
    EXPECT_TRUE(Has(r.Out, row)) << row << "\n" << r.Out;
  EXPECT_FALSE(Has(r.Out, "(missing)")) << r.Out;
  EXPECT_EQ(2, RunQuillset({"languages", "extra"}).Code);
  EXPECT_TRUE(Has(RunQuillset({"languages", "--help"}).Out, "quillset build --language"));
  EXPECT_TRUE(Has(RunQuillset({"--help"}).Out, "languages"));
}

}  // namespace
