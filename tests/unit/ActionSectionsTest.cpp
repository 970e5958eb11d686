// The one description of the action sections that the setup program's run
// and the command's checks both read.
#include <gtest/gtest.h>

#include <string>

#include "common/Mbcs.h"
#include "script/ActionSections.h"

namespace {

TEST(ActionSections, RunOrderProgressAndCancelHoldTogether) {
  // the handlers and checkers are tables by id: each row must sit at its id
  for (int i = 0; i < ACTION_SECTION_COUNT; ++i) EXPECT_EQ(i, kActionSections[i].Id) << kActionSections[i].Name;
  EXPECT_STREQ("Files", kActionSections[0].Name);
  // the bar only moves forward and is full after the last section
  int last = 0;
  bool cancellable = true;
  for (const ActionSection& s : kActionSections) {
    if (s.ProgressAfter) {
      EXPECT_GT(s.ProgressAfter, last) << s.Name;
      last = s.ProgressAfter;
    }
    // once Cancel is off it stays off: a later section cannot be cancelled
    if (!s.Cancellable) cancellable = false;
    EXPECT_TRUE(!s.Cancellable || cancellable) << s.Name;
  }
  EXPECT_EQ(100, last);
  // every record the replay undoes is one some section writes
  unsigned written = 0;
  for (const ActionSection& s : kActionSections) written |= s.LogKinds;
  for (LogRecordKind k : {LOGRECORD_FILE, LOGRECORD_DIRECTORY, LOGRECORD_INI_ENTRY, LOGRECORD_REGISTRY, LOGRECORD_DLL,
                          LOGRECORD_REGISTRY_IF_EMPTY})
    EXPECT_TRUE(written & (1u << k)) << LogRecordTag(k);
}

TEST(ActionSections, FoundByTheirExactNames) {
  for (const ActionSection& s : kActionSections) EXPECT_EQ(&s, FindActionSection(s.Name));
  EXPECT_EQ(nullptr, FindActionSection("files"));
  EXPECT_EQ(nullptr, FindActionSection("Global"));
  EXPECT_EQ(nullptr, FindActionSection(""));
}

std::string Split(const char* line) {
  FilesLine f;
  if (!SplitFilesLine(line, &f)) return "<no comma>";
  return std::string(f.Source, f.SourceLength) + "|" + f.Destination;
}

TEST(ActionSections, AFilesLineSplitsAtItsFirstComma) {
  EXPECT_EQ("app.exe|%MAINDIR%\\app.exe", Split("app.exe, %MAINDIR%\\app.exe"));
  EXPECT_EQ("a|b, c", Split("a,   b, c"));
  // only spaces are skipped, as the setup program does
  EXPECT_EQ("a|\tb", Split("a,\tb"));
  EXPECT_EQ(" a |", Split(" a ,"));
  EXPECT_EQ("<no comma>", Split("app.exe %MAINDIR%\\app.exe"));
  EXPECT_EQ("<no comma>", Split(""));
  // 0x83 0x2C: a trail byte equal to ","
  MbcsSetCodePage(932);
  EXPECT_EQ("\x83\x2C.txt|%MAINDIR%\\\x83\x2C.txt", Split("\x83\x2C.txt,%MAINDIR%\\\x83\x2C.txt"));
  MbcsSetCodePage(0);
}

}  // namespace
