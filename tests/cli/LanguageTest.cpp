// quillset build --language and quillset languages.
#include <gtest/gtest.h>

#include "CliSupport.h"

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

Bytes StoredTable(const TempDir& dir, const std::string& setup) {
  RunResult r = RunQuillset({"extract", "-q", "-d", dir.File("out"), setup, "Translations.ini"});
  EXPECT_EQ(0, r.Code) << r.Err;
  return ReadFile(dir.File("out/Translations.ini"));
}

TEST(Languages, BuildStoresTheNamedTableByteForByte) {
  TempDir dir;
  Project project(dir);
  project.Write("QSP40\n[Global]\nApplicationName = Hello\n");
  for (const char* name : {"de", "pt-BR", "PT_br", "ja", "Russian", "zh-CN"}) {
    SCOPED_TRACE(name);
    RunResult r = project.Build(dir.File("Setup.exe"), {"--language", name});
    ASSERT_EQ(0, r.Code) << r.Err;
    EXPECT_EQ("", r.Err);
  }
  EXPECT_EQ(ReadFile(SourceDir() + "/translations/SimplifiedChinese.ini"), StoredTable(dir, dir.File("Setup.exe")));
  ASSERT_EQ(0, project.Build(dir.File("Setup.exe"), {"--language=de"}).Code);
  EXPECT_EQ(ReadFile(SourceDir() + "/translations/German.ini"), StoredTable(dir, dir.File("Setup.exe")));

  // an explicit language wins over a table beside the script, and says so
  WriteFile(dir.File("Translations.ini"), "[Strings]\r\nERROR = Fout\r\n");
  RunResult r = project.Build(dir.File("Setup.exe"), {"--language", "ja"});
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_TRUE(Has(r.Err, "quillset: warning: " + dir.File("Translations.ini") + " is not used: --language ja"))
      << r.Err;
  EXPECT_EQ(ReadFile(SourceDir() + "/translations/Japanese.ini"), StoredTable(dir, dir.File("Setup.exe")));
}

TEST(Languages, UnknownOrDoublyChosenTablesAreUsageErrors) {
  TempDir dir;
  Project project(dir);
  project.Write("QSP40\n[Global]\nApplicationName = Hello\n");
  WriteFile(dir.File("mine.ini"), "[Strings]\r\n");
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

TEST(Languages, TheBuildWarnsWhenScriptAndTableDifferInCodePage) {
  TempDir dir;
  Project project(dir);
  auto build = [&](const std::string& appName, std::vector<std::string> extra) {
    project.Write("QSP40\n[Global]\n\nApplicationName = " + appName + "\n");
    RunResult r = project.Build(dir.File("Setup.exe"), extra);
    EXPECT_EQ(0, r.Code) << r.Err;  // a warning never stops the build
    return r.Err;
  };
  const std::string cyrillic = "\xCF\xF0\xE8\xEC\xE5\xF0";  // "Пример" in 1251
  const std::string latin = "Gr\xFC\xDF" "e aus M\xFCnchen";     // 1252
  const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e";

  std::string err = build(cyrillic, {"--language", "de"});
  EXPECT_TRUE(Has(err, "app.qsp:4: warning: the script's non-ASCII text looks like code page 1251 (Cyrillic), "
                       "but the German table is in a Latin code page")) << err;
  err = build(latin, {"--language", "ru"});
  EXPECT_TRUE(Has(err, "looks like a Latin code page (1252 or 1250), but the Russian table is in code page 1251"))
      << err;
  err = build(utf8, {"--language", "fr"});
  EXPECT_TRUE(Has(err, "looks like UTF-8")) << err;
  EXPECT_TRUE(Has(build(latin, {"--language", "ja"}), "the Japanese table is in code page 932"));

  // matching code pages, plain ASCII, and the ASCII English table: silent
  EXPECT_EQ("", build(cyrillic, {"--language", "ru"}));
  EXPECT_EQ("", build(latin, {"--language", "pl"}));
  EXPECT_EQ("", build("Plain", {"--language", "ja"}));
  EXPECT_EQ("", build(cyrillic, {"--language", "en"}));
  EXPECT_EQ("", build(cyrillic, {}));
  // a table of the author's own is judged by its bytes
  WriteFile(dir.File("own.ini"), "[Strings]\r\nERROR = \xCE\xF8\xE8\xE1\xEA\xE0\r\n");
  EXPECT_EQ("", build(cyrillic, {"--translations", dir.File("own.ini")}));
  EXPECT_TRUE(Has(build(latin, {"--translations", dir.File("own.ini")}),
                  "but the translation table is in code page 1251"));
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
