#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "common/Mbcs.h"
#include "common/PathText.h"

namespace {

// "表" in code page 932 is 0x95 0x5C: its trail byte is a backslash.
const char kHyo[] = "\x95\x5C";

struct CodePage {
  explicit CodePage(int cp) : saved(MbcsGetCodePage()) { MbcsSetCodePage(cp); }
  ~CodePage() { MbcsSetCodePage(saved); }
  int saved;
};

TEST(PathText, SeparatorsAreFoundOnlyAtCharacterBoundaries) {
  CodePage sjis(932);
  const std::string folder = std::string("C:\\Apps\\") + kHyo;
  EXPECT_FALSE(PathEndsWithSeparator(folder.c_str()));
  EXPECT_STREQ(kHyo, PathFileName(folder.c_str()));
  EXPECT_STREQ((std::string(kHyo) + ".txt").c_str(), PathFileName(("D:/src/" + std::string(kHyo) + ".txt").c_str()));
  char out[64];
  ASSERT_EQ(1, PathJoin(out, sizeof out, folder.c_str(), "Uninstall.log"));
  EXPECT_EQ(folder + "\\Uninstall.log", out);

  // the same bytes in a single-byte code page end with a separator
  CodePage latin(0);
  EXPECT_TRUE(PathEndsWithSeparator(folder.c_str()));
  EXPECT_STREQ("", PathFileName(folder.c_str()));
}

TEST(PathText, JoinAndFileNameCases) {
  CodePage latin(0);
  char out[16];
  struct Case { const char* folder; const char* name; const char* joined; } cases[] = {
      {"C:\\A", "b", "C:\\A\\b"}, {"C:\\A\\", "b", "C:\\A\\b"}, {"C:/A/", "b", "C:/A/b"},
      {"", "b", "b"},             {"C:", "b", "C:\\b"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(1, PathJoin(out, sizeof out, c.folder, c.name)) << c.folder;
    EXPECT_STREQ(c.joined, out) << c.folder;
  }
  // exactly full fails and leaves nothing half written
  EXPECT_EQ(1, PathJoin(out, sizeof out, "C:\\1234567", "abcd"));  // 15 bytes and the terminator
  EXPECT_EQ(0, PathJoin(out, sizeof out, "C:\\1234567", "abcde"));
  EXPECT_STREQ("", out);
  // joining in place: the folder may be the output buffer
  char inPlace[16] = "C:\\A";
  ASSERT_EQ(1, PathJoin(inPlace, sizeof inPlace, inPlace, "x"));
  EXPECT_STREQ("C:\\A\\x", inPlace);

  EXPECT_STREQ("b.txt", PathFileName("C:b.txt"));
  EXPECT_STREQ("b.txt", PathFileName("\\\\server\\share\\b.txt"));
  EXPECT_STREQ("a:b", PathFileName("dir\\a:b"));  // only a drive's colon ends a part
  EXPECT_STREQ("", PathFileName(""));
}

// Well-formed UTF-8 only: what the command stores, and what the setup
// program converts for a Windows that runs it in the ANSI code page.
TEST(PathText, Utf8IsTellsWellFormedTextFromAnsiText) {
  const char* good[] = {"", "plain", "caf\xC3\xA9", "\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD0\xB0",  // Прога
                        "\xE8\xA1\xA8", "\xF0\x9F\x98\x80", "\xEF\xBF\xBF", "\xF4\x8F\xBF\xBF"};
  for (const char* t : good) EXPECT_TRUE(Utf8IsValid(t, strlen(t))) << t;
  const char* bad[] = {"caf\xE9",          // 1252
                       "\x95\x5C",         // 表 in 932
                       "\xC0\xAF",         // overlong "/"
                       "\xE0\x80\xAF",     // overlong again
                       "\xED\xA0\x80",     // a surrogate
                       "\xF4\x90\x80\x80", // above U+10FFFF
                       "\xE8\xA1",         // cut short
                       "\x80", "\xF8\x88\x80\x80\x80"};
  for (const char* t : bad) EXPECT_FALSE(Utf8IsValid(t, strlen(t))) << t;
}

TEST(PathText, ACopyThatDoesNotFitIsCutBetweenCharacters) {
  char out[8];
  {
    CodePage utf8(65001);
    // "表表表" is nine bytes: seven fit, but only two characters do
    EXPECT_EQ(0, MbcsCopy(out, sizeof out, "\xE8\xA1\xA8\xE8\xA1\xA8\xE8\xA1\xA8"));
    EXPECT_STREQ("\xE8\xA1\xA8\xE8\xA1\xA8", out);
    // a four-byte character at the limit goes whole
    EXPECT_EQ(0, MbcsCopy(out, sizeof out, "abcd\xF0\x9F\x98\x80"));
    EXPECT_STREQ("abcd", out);
    EXPECT_EQ(0, MbcsCopy(out, sizeof out, "abc\xF0\x9F\x98\x80z"));
    EXPECT_STREQ("abc\xF0\x9F\x98\x80", out);
    EXPECT_EQ(1, MbcsCopy(out, sizeof out, "abc\xF0\x9F\x98\x80"));
    EXPECT_STREQ("abc\xF0\x9F\x98\x80", out);
    char one[1];
    EXPECT_EQ(0, MbcsCopy(one, sizeof one, "\xC3\xA9"));
    EXPECT_STREQ("", one);
  }
  {
    CodePage sjis(932);
    // "a表表表": the last lead byte that would go alone stays out
    EXPECT_EQ(0, MbcsCopy(out, sizeof out, "a\x95\x5C\x95\x5C\x95\x5C\x95\x5C"));
    EXPECT_STREQ("a\x95\x5C\x95\x5C\x95\x5C", out);
    EXPECT_EQ(0, MbcsCopy(out, sizeof out, "ab\x95\x5C\x95\x5C\x95\x5C"));
    EXPECT_STREQ("ab\x95\x5C\x95\x5C", out);
  }
  CodePage latin(0);
  EXPECT_EQ(0, MbcsCopy(out, sizeof out, "abcdefghij"));
  EXPECT_STREQ("abcdefg", out);
}

TEST(PathText, ThePathLimitInBytesHoldsTheLongestPathInUtf8) {
  // 259 characters of three bytes each, and the terminator
  EXPECT_GE((int)PATH_BYTES, 259 * 3 + 1);
  std::string path = "C:\\";
  while (path.size() + 3 <= 259 * 3) path += "\xE8\xA1\xA8";
  char out[PATH_BYTES];
  CodePage utf8(65001);
  EXPECT_EQ(1, MbcsCopy(out, sizeof out, path.c_str()));
  EXPECT_EQ(path, out);
}

}  // namespace
