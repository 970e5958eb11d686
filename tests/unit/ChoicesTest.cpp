// The components and tasks of a script: their lines, the headers that name
// them, and how a run, a command line and an installed version choose.
#include <gtest/gtest.h>

#include <string>

#include "common/Mbcs.h"
#include "script/Choices.h"
#include "script/FileParser.h"

namespace {

// "name|description|flags" or "problem@column:text".
std::string Read(const char* text) {
  ChoiceLine line;
  if (!ReadChoiceLine(text, &line))
    return std::to_string(line.Problem) + "@" + std::to_string(line.Column) + ":" +
           std::string(text + line.Column - 1, line.Length);
  return std::string(line.Name, line.NameLength) + "|" + std::string(line.Description, line.DescriptionLength) +
         "|" + (line.Fixed ? "F" : "") + (line.Unchecked ? "U" : "");
}

TEST(Choices, ALineIsNameDescriptionAndFlags) {
  struct {
    const char* line;
    std::string read;
  } cases[] = {
      {"docs, Help and examples", "docs|Help and examples|"},
      {"  core ,Program files ,  fixed  ", "core|Program files|F"},
      {"desktopicon, Create a desktop shortcut, unchecked", "desktopicon|Create a desktop shortcut|U"},
      {"a.b-c_9, \"Help, examples\", unchecked", "a.b-c_9|Help, examples|U"},
      {"x, \"quoted\"", "x|quoted|"},
      // several flags, by blanks or commas; one given twice is still one
      {"x, d, unchecked unchecked", "x|d|U"},
      {"x, d, fixed,fixed", "x|d|F"},
      {"", std::to_string(CHOICE_NO_NAME) + "@1:"},
      {" , d", std::to_string(CHOICE_NO_NAME) + "@2:"},
      {"my docs, d", std::to_string(CHOICE_BAD_NAME) + "@1:my docs"},
      {"docs], d", std::to_string(CHOICE_BAD_NAME) + "@1:docs]"},
      {"a:b, d", std::to_string(CHOICE_BAD_NAME) + "@1:a:b"},
      {"docs", std::to_string(CHOICE_NO_DESCRIPTION) + "@5:"},
      {"docs,  ", std::to_string(CHOICE_NO_DESCRIPTION) + "@8:"},
      {"docs, , fixed", std::to_string(CHOICE_NO_DESCRIPTION) + "@7:"},
      {"docs, \"Help, more", std::to_string(CHOICE_OPEN_QUOTE) + "@7:\"Help, more"},
      {"docs, \"Help\" more, fixed", std::to_string(CHOICE_AFTER_QUOTE) + "@14:more, fixed"},
      // an unquoted description with a comma leaves its rest as flags
      {"docs, Help, examples", std::to_string(CHOICE_UNKNOWN_FLAG) + "@13:examples"},
      {"docs, Help, Fixed", std::to_string(CHOICE_UNKNOWN_FLAG) + "@13:Fixed"},
      {"docs, Help, unchecked fixed", std::to_string(CHOICE_FIXED_UNCHECKED) + "@23:fixed"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.read, Read(c.line)) << c.line;
  EXPECT_EQ(std::to_string(CHOICE_BAD_NAME) + "@1:" + std::string(65, 'n'), Read((std::string(65, 'n') + ", d").c_str()));
  EXPECT_EQ(std::string(64, 'n') + "|d|", Read((std::string(64, 'n') + ", d").c_str()));
  // 0x83 0x2C: a trail byte equal to "," stays in the description
  MbcsSetCodePage(932);
  EXPECT_EQ("x|\x83\x2C\x83\x2C|U", Read("x, \x83\x2C\x83\x2C, unchecked"));
  MbcsSetCodePage(0);
}

TEST(Choices, AHeaderSplitsAtItsColon) {
  size_t n = 0;
  EXPECT_STREQ("docs", SplitChoiceHeader("Files:docs", &n));
  EXPECT_EQ(5u, n);
  EXPECT_EQ(nullptr, SplitChoiceHeader("Shortcuts", &n));
  EXPECT_EQ(9u, n);
  EXPECT_STREQ("", SplitChoiceHeader("Files:", &n));
  EXPECT_STREQ("b:c", SplitChoiceHeader("a:b:c", &n));
  EXPECT_EQ(1u, n);
}

struct Script {
  CFileParser parser;
  SetupChoice* choices = nullptr;
  int count = 0;
  explicit Script(const std::string& text) {
    EXPECT_EQ(1, parser.LoadText(text.data(), static_cast<uint32_t>(text.size())));
    choices = ReadScriptChoices(parser, &count);
  }
  ~Script() { FreeChoices(choices, count); }
  // "name:chosen" for each, in order
  std::string Chosen() const {
    std::string all;
    for (int i = 0; i < count; ++i)
      all += std::string(all.empty() ? "" : " ") + choices[i].Name + (choices[i].Task ? "(t)" : "") + ":" +
             (choices[i].Chosen ? "1" : "0");
    return all;
  }
};

const char kScript[] =
    "QSP40\r\n[Tasks]\r\ndesktopicon, Create a desktop shortcut, unchecked\r\nassoc, Open .qdoc files\r\n"
    "[Components]\r\ncore, The program, fixed\r\ndocs, Help, unchecked\r\nbroken line\r\nDOCS, again\r\n"
    "samples, Samples\r\n[Files:docs]\r\nmanual.pdf, %MAINDIR%manual.pdf\r\n[Files]\r\napp.exe, %MAINDIR%app.exe\r\n";

TEST(Choices, AScriptOffersItsComponentsThenItsTasks) {
  Script s(kScript);
  // lines that do not read, and a name given again, are passed over
  ASSERT_EQ(5, s.count);
  EXPECT_EQ("core:1 docs:0 samples:1 desktopicon(t):0 assoc(t):1", s.Chosen());
  EXPECT_STREQ("Help", s.choices[1].Description);
  EXPECT_EQ(1, s.choices[0].Fixed);
  // a program that knows nothing of them reads [Files] as ever
  EXPECT_EQ(1, s.parser.GetLineCount("Files"));
  EXPECT_EQ(1, s.parser.GetLineCount("Files:docs"));
  Script none("QSP40\r\n[Files]\r\na, b\r\n[Components]\r\n");
  EXPECT_EQ(nullptr, none.choices);
  EXPECT_EQ(0, none.count);
}

TEST(Choices, ACommandLineOrAnInstalledVersionChooses) {
  Script s(kScript);
  char unknown[16] = "";
  // the named ones and the fixed ones, whatever the case of the names
  ASSERT_EQ(1, ChooseByList(s.choices, s.count, 0, " Docs ,", unknown, sizeof unknown));
  EXPECT_EQ("core:1 docs:1 samples:0 desktopicon(t):0 assoc(t):1", s.Chosen());
  ASSERT_EQ(1, ChooseByList(s.choices, s.count, 1, "", unknown, sizeof unknown));
  EXPECT_EQ("core:1 docs:1 samples:0 desktopicon(t):0 assoc(t):0", s.Chosen());
  // an unknown name, or a task among the components, changes nothing
  EXPECT_EQ(0, ChooseByList(s.choices, s.count, 0, "samples,nosuch", unknown, sizeof unknown));
  EXPECT_STREQ("nosuch", unknown);
  EXPECT_EQ(0, ChooseByList(s.choices, s.count, 0, "desktopicon", unknown, 4));
  EXPECT_STREQ("des", unknown);
  EXPECT_EQ("core:1 docs:1 samples:0 desktopicon(t):0 assoc(t):0", s.Chosen());

  char offered[256], chosen[256];
  ASSERT_EQ(1, FormatChoiceNames(s.choices, s.count, 0, offered, sizeof offered));
  EXPECT_STREQ("core,docs,samples,desktopicon,assoc", offered);
  ASSERT_EQ(1, FormatChoiceNames(s.choices, s.count, 1, chosen, sizeof chosen));
  EXPECT_STREQ("core,docs", chosen);
  EXPECT_EQ(0, FormatChoiceNames(s.choices, s.count, 0, offered, 10));
  EXPECT_STREQ("", offered);

  // the next version: what the installed one offered takes its choice
  // again, what it did not offer keeps the script's default, a fixed one
  // stays chosen whatever was kept
  Script next(kScript);
  ApplyRecordedChoices(next.choices, next.count, "core,docs,desktopicon,gone", "docs,desktopicon,gone");
  EXPECT_EQ("core:1 docs:1 samples:1 desktopicon(t):1 assoc(t):1", next.Chosen());
  ApplyRecordedChoices(next.choices, next.count, "core,samples,assoc", "");
  EXPECT_EQ("core:1 docs:1 samples:0 desktopicon(t):1 assoc(t):0", next.Chosen());
}

}  // namespace
