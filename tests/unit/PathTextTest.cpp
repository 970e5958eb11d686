#include <gtest/gtest.h>

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

}  // namespace
