#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "common/Mbcs.h"
#include "common/SafeFormat.h"

namespace {

std::string Format(const char* format, std::initializer_list<const char*> args) {
  const size_t length = SafeFormat(nullptr, 0, format, args.begin(), args.size());
  std::string out(length + 1, 'x');
  EXPECT_EQ(length, SafeFormat(&out[0], out.size(), format, args.begin(), args.size()));
  EXPECT_EQ('\0', out[length]);
  out.resize(length);
  return out;
}

TEST(SafeFormat, FillsOnlyPercentSAndPercentPercent) {
  EXPECT_EQ("C:\\a.lnk|linking to C:\\a.exe",
            Format("%s|linking to %s", {"C:\\a.lnk", "C:\\a.exe"}));
  EXPECT_EQ("100%", Format("100%%", {}));
  EXPECT_EQ("%d %n path", Format("%d %n %s", {"path"}));
  // More "%s" than arguments: the rest stay literal, nothing is read.
  EXPECT_EQ("a %s %s", Format("%s %s %s", {"a"}));
  // An argument's own "%" is not scanned again.
  EXPECT_EQ("50%s done", Format("%s done", {"50%s"}));
  EXPECT_EQ("trailing %", Format("trailing %", {"x"}));
  EXPECT_EQ("%%s", Format("%%%%s", {"x"}));
  EXPECT_EQ("", Format("", {"x"}));
  EXPECT_EQ("", Format(nullptr, {"x"}));
  const char* nullArg[] = {nullptr};
  char b[8];
  EXPECT_EQ(2u, SafeFormat(b, sizeof b, "[%s]", nullArg, 1));
  EXPECT_STREQ("[]", b);
}

TEST(SafeFormat, CutsToTheBufferAndReportsTheFullLength) {
  const char* args[] = {"abcdefgh"};
  char b[6];
  memset(b, 'x', sizeof b);
  EXPECT_EQ(10u, SafeFormat(b, 5, "<%s>", args, 1));
  EXPECT_STREQ("<abc", b);
  EXPECT_EQ('x', b[5]);
  b[0] = 'k';
  EXPECT_EQ(10u, SafeFormat(b, 0, "<%s>", args, 1));
  EXPECT_EQ('k', b[0]);
  char* heap = SafeFormatAlloc("The folder %s|appears", "C:\\App");
  ASSERT_TRUE(heap);
  EXPECT_STREQ("The folder C:\\App|appears", heap);
  free(heap);
}

TEST(SafeFormat, TrailBytePercentIsNotAFormat) {
  MbcsSetCodePage(932);
  // 0x81 0x25 is one character whose trail byte is "%".
  EXPECT_EQ("\x81\x25s x", Format("\x81\x25s %s", {"x"}));
  MbcsSetCodePage(0);
  EXPECT_EQ("\x81x %s", Format("\x81%s %s", {"x"}));
}

}  // namespace
