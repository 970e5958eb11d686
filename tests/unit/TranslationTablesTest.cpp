// The shipped translation tables: complete against English, formatted as the
// setup program fills them, and written in their users' code page.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "cli/Languages.h"

namespace {

std::string ReadTable(const std::string& file) {
  std::ifstream in(QS_SOURCE_DIR "/translations/" + file, std::ios::binary);
  EXPECT_TRUE(in.good()) << file;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Problems(const std::vector<std::string>& problems) {
  std::string s;
  for (const std::string& p : problems) s += "\n  " + p;
  return s;
}

bool Mentions(const std::vector<std::string>& problems, const std::string& start) {
  for (const std::string& p : problems)
    if (p.compare(0, start.size(), start) == 0) return true;
  return false;
}

// Every "KEY = text" line's text, in file order.
std::vector<std::string> Texts(const std::string& table) {
  std::vector<std::string> texts;
  size_t at = 0;
  while ((at = table.find(" = ", at)) != std::string::npos) {
    size_t end = table.find("\r\n", at);
    texts.push_back(table.substr(at + 3, end - at - 3));
    at = end;
  }
  return texts;
}

TEST(TranslationTables, EveryShippedTableHasExactlyTheEnglishKeysAndFormats) {
  const std::string english = ReadTable("English.ini");
  ASSERT_FALSE(english.empty());
  const std::vector<std::string> englishTexts = Texts(english);
  ASSERT_EQ(75u, englishTexts.size());
  ASSERT_GE(LanguageTables().size(), 12u);
  for (const LanguageTable& t : LanguageTables()) {
    SCOPED_TRACE(t.File);
    const std::string table = ReadTable(t.File);
    ASSERT_FALSE(table.empty());
    std::vector<std::string> problems = CheckTranslationTable(table, t.CodePage, english);
    EXPECT_TRUE(problems.empty()) << Problems(problems);
    if (std::string(t.Code) == "en") continue;

    // translated, not copied; and no table carries the misspellings English had
    const std::vector<std::string> texts = Texts(table);
    ASSERT_EQ(englishTexts.size(), texts.size());
    size_t same = 0;
    for (size_t i = 0; i < texts.size(); ++i) same += texts[i] == englishTexts[i];
    EXPECT_LE(same, 2u) << "texts left in English";
    for (const char* typo : {"realy", "occured", "regestry"})
      EXPECT_EQ(std::string::npos, table.find(typo)) << typo;
  }
}

TEST(TranslationTables, TheCheckNamesWhatIsWrong) {
  const std::string english = ReadTable("English.ini");
  const std::string german = ReadTable("German.ini");
  ASSERT_TRUE(CheckTranslationTable(german, 1252, english).empty());
  auto edited = [&](const std::string& from, const std::string& to) {
    std::string t = german;
    size_t at = t.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    if (at != std::string::npos) t.replace(at, from.size(), to);
    return CheckTranslationTable(t, 1252, english);
  };

  EXPECT_TRUE(Mentions(edited("CANCEL = Abbrechen\r\n", ""), "CANCEL: missing"));
  EXPECT_TRUE(Mentions(edited("FINISH = Fertig\r\n", "FINISH = Fertig\r\nFINISHED = x\r\n"),
                       "FINISHED: not a key"));
  EXPECT_TRUE(Mentions(edited("FINISH = Fertig\r\n", "FINISH = Fertig\r\nFINISH = Ende\r\n"),
                       "FINISH: given twice"));
  // the formatter fills "%s" only: one too many reads nothing, one too few loses the path
  EXPECT_TRUE(Mentions(edited("Der Ordner %s|", "Der Ordner|"),
                       "FOLDER_CONTAINS_NEW_FILES_OR_SUBFOLDERS: 0 \"%s\""));
  EXPECT_TRUE(Mentions(edited("Fehler\r\n", "Fehler %d\r\n"), "ERROR: stray"));
  EXPECT_TRUE(Mentions(edited("Fehler\r\n", "100% Fehler\r\n"), "ERROR: stray"));
  EXPECT_TRUE(edited("Fehler\r\n", "100%% Fehler\r\n").empty());
  EXPECT_TRUE(Mentions(edited("installiert %APPNAME% auf", "installiert %APPNAM% auf"),
                       "WELCOME_PAGE_TEXT: placeholders differ"));
  EXPECT_TRUE(Mentions(edited("installiert.|||Klicken", "installiert.||Klicken"),
                       "PROGRAM_WAS_SUCCESSFULLY_INSTALLED: line breaks || where English has |||"));
  EXPECT_TRUE(Mentions(edited("Fehler\r\n", "Fehler\n"), "line 2 does not end in CR LF"));
  EXPECT_TRUE(Mentions(edited("Fehler\r\n", "Fehler \r\n"), "ERROR: blanks"));
  // 0x81 is no character of 1252; the same bytes are fine in 936
  EXPECT_TRUE(Mentions(edited("Fehler\r\n", "Fe\x81hler\r\n"), "ERROR: byte 0x81"));
}

TEST(TranslationTables, DoubleByteTextsAreReadCharacterWise) {
  const std::string english = ReadTable("English.ini");
  const std::string japanese = ReadTable("Japanese.ini");
  ASSERT_TRUE(CheckTranslationTable(japanese, 932, english).empty());
  // the trail byte 0x7C of U+30DD (0x83 0x7C) is not a line break, nor is
  // 0x5C a path separator; the table stays valid with them in a label
  std::string t = japanese;
  t.replace(t.find("ERROR = "), 8, "ERROR = \x83\x7C\x83\x5C");
  EXPECT_TRUE(CheckTranslationTable(t, 932, english).empty()) << Problems(CheckTranslationTable(t, 932, english));
  // a lead byte without its trail is not a character
  t = japanese;
  const size_t at = t.find("ERROR = ");
  t.replace(at, t.find("\r\n", at) - at, "ERROR = \x83");
  EXPECT_TRUE(Mentions(CheckTranslationTable(t, 932, english), "ERROR: byte 0x83"));
}

TEST(TranslationTables, LanguagesAreFoundByCodeOrName) {
  ASSERT_NE(nullptr, FindLanguage("de"));
  EXPECT_STREQ("German.ini", FindLanguage("DE")->File);
  EXPECT_STREQ("PortugueseBrazil.ini", FindLanguage("pt_br")->File);
  EXPECT_STREQ("SimplifiedChinese.ini", FindLanguage("zh-CN")->File);
  EXPECT_EQ(1251, FindLanguage("Russian")->CodePage);
  EXPECT_EQ(nullptr, FindLanguage("xx"));
  EXPECT_EQ(nullptr, FindLanguage(""));
  EXPECT_EQ(nullptr, FindLanguage("German.ini"));
}

}  // namespace
