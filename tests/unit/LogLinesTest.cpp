// The replay's reading of an uninstall log: lines newest first, records
// taken apart at their separators, damaged lines told apart.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "common/Mbcs.h"
#include "uninstall/LogLines.h"

namespace {

// The lines of log as the replay meets them, "<zero>" marking a line with a
// zero byte; "<no line>" when the log has not one complete line.
std::vector<std::string> Backward(std::string log) {
  std::vector<std::string> out;
  CLogLinesBackward lines;
  if (!lines.Start(&log[0], log.size())) return {"<no line>"};
  char* line;
  int zero;
  while (lines.Next(&line, &zero)) out.push_back(zero ? "<zero>" : line);
  return out;
}

TEST(LogLines, NewestFirstUpToTheLastLineFeed) {
  EXPECT_EQ((std::vector<std::string>{"c", "b", "a"}), Backward("a\nb\nc\n"));
  // what follows the last line feed is a line cut short by a crash: not read
  EXPECT_EQ((std::vector<std::string>{"b", "a"}), Backward("a\nb\nhalf"));
  EXPECT_EQ((std::vector<std::string>{"", "a", ""}), Backward("\na\n\n"));
  EXPECT_EQ((std::vector<std::string>{"<no line>"}), Backward("no line feed"));
  EXPECT_EQ((std::vector<std::string>{"<no line>"}), Backward(""));
  EXPECT_EQ((std::vector<std::string>{"b", "<zero>"}), Backward(std::string("a\0x\nb\n", 6)));
  // carriage returns stay part of the line (the log is written with LF alone)
  EXPECT_EQ((std::vector<std::string>{"b\r", "a\r"}), Backward("a\r\nb\r\n"));
}

struct Parsed {
  LogRecordKind kind;
  std::string path, section, key, root, keyPath;
};

Parsed Parse(std::string line) {
  LogRecord r;
  Parsed p;
  p.kind = ParseLogRecord(&line[0], &r);
  EXPECT_EQ(p.kind, r.Kind);
  if (r.Path) p.path = r.Path;
  if (r.Section) p.section = r.Section;
  if (r.Key) p.key = r.Key;
  if (r.Root) p.root = r.Root;
  if (r.KeyPath) p.keyPath = r.KeyPath;
  return p;
}

TEST(LogLines, EachTagGivesItsFields) {
  Parsed p = Parse("FileCreated=C:\\App\\a.txt");
  EXPECT_EQ(LOGRECORD_FILE, p.kind);
  EXPECT_EQ("C:\\App\\a.txt", p.path);
  EXPECT_EQ(LOGRECORD_DIRECTORY, Parse("DirectoryCreated=C:\\App").kind);
  EXPECT_EQ(LOGRECORD_DLL, Parse("DllRegistered=C:\\App\\x.dll").kind);

  p = Parse("IniFileEntryAdded=C:\\App\\app.ini,Settings,Key,with,commas");
  EXPECT_EQ(LOGRECORD_INI_ENTRY, p.kind);
  EXPECT_EQ("C:\\App\\app.ini", p.path);
  EXPECT_EQ("Settings", p.section);
  EXPECT_EQ("Key,with,commas", p.key);
  EXPECT_EQ(LOGRECORD_MALFORMED, Parse("IniFileEntryAdded=C:\\App\\app.ini,Settings").kind);
  EXPECT_EQ(LOGRECORD_MALFORMED, Parse("IniFileEntryAdded=no commas").kind);

  p = Parse("SysRegSectionAdded=HKEY_CURRENT_USER/Software/App/Sub");
  EXPECT_EQ(LOGRECORD_REGISTRY, p.kind);
  EXPECT_EQ("HKEY_CURRENT_USER", p.root);
  EXPECT_EQ("Software/App/Sub", p.keyPath);
  EXPECT_EQ(LOGRECORD_MALFORMED, Parse("SysRegSectionAdded=HKEY_CURRENT_USER").kind);
  // no key below the root: removing it would empty the root, so it is passed over
  for (const char* noKey : {"SysRegSectionAdded=HKEY_CURRENT_USER/", "SysRegKeyIfEmpty=HKEY_CURRENT_USER//"})
    EXPECT_EQ(LOGRECORD_OTHER, Parse(noKey).kind) << noKey;
  EXPECT_EQ("Software/", Parse("SysRegSectionAdded=HKEY_CURRENT_USER/Software/").keyPath);

  // tags compare case-sensitively at the start of the line
  for (const char* other : {"", "filecreated=C:\\a", " FileCreated=C:\\a", "FileCreated", "Unknown=1"})
    EXPECT_EQ(LOGRECORD_OTHER, Parse(other).kind) << other;
}

TEST(LogLines, DoubleByteTrailBytesAreNeverSeparators) {
  MbcsSetCodePage(932);
  // 0x83 0x2C and 0x83 0x2F: trail bytes equal to "," and "/"
  Parsed p = Parse("IniFileEntryAdded=C:\\\x83\x2C.ini,S\x83\x2C,K");
  EXPECT_EQ(LOGRECORD_INI_ENTRY, p.kind);
  EXPECT_EQ("C:\\\x83\x2C.ini", p.path);
  EXPECT_EQ("S\x83\x2C", p.section);
  EXPECT_EQ("K", p.key);
  p = Parse("SysRegSectionAdded=\x83\x2FHKEY/Key");
  EXPECT_EQ("\x83\x2FHKEY", p.root);
  EXPECT_EQ("Key", p.keyPath);
  MbcsSetCodePage(0);
}


std::string Merged(const std::string& earlier, const std::string& current) {
  size_t size = 1;
  char* out = MergeLogs(earlier.data(), earlier.size(), current.data(), current.size(), &size);
  if (!out) return "<no memory>";
  std::string text(out, size);
  free(out);
  return text;
}

// An upgrade's log: the first version's records, then what only the second
// one added; its own repeats of them are not written twice.
TEST(LogLines, MergedLogsKeepTheOlderRecordsFirstAndEachOnce) {
  const std::string v1 =
      "DirectoryCreated=C:\\A\nFileCreated=C:\\A\\a.txt\nDirectoryCreated=C:\\A\\games\n"
      "FileCreated=C:\\A\\games\\winemine.exe\nSysRegSectionAdded=HKEY_LOCAL_MACHINE/Software/X\n";
  const std::string v2 =
      "FileCreated=C:\\A\\a.txt\nDirectoryCreated=C:\\A\\bin\nFileCreated=C:\\A\\bin\\b.exe\n"
      "SysRegSectionAdded=HKEY_LOCAL_MACHINE/Software/X\n";
  EXPECT_EQ(v1 + "DirectoryCreated=C:\\A\\bin\nFileCreated=C:\\A\\bin\\b.exe\n", Merged(v1, v2));
  // a repair adds nothing; repeats inside one log go too
  EXPECT_EQ(v1, Merged(v1, v1));
  EXPECT_EQ("a\nb\n", Merged("a\na\nb\n", "b\na\n"));
  // a line is a whole line: a prefix or a case variant is another record
  EXPECT_EQ("FileCreated=C:\\a\nFileCreated=C:\\A\nFileCreated=C:\\ab\n",
            Merged("FileCreated=C:\\a\n", "FileCreated=C:\\A\nFileCreated=C:\\ab\n"));
  // empty lines and a last line cut short are not records
  EXPECT_EQ("a\nb\n", Merged("\na\n\nhalf", "\nb\n"));
  EXPECT_EQ("", Merged("", ""));
  EXPECT_EQ("b\n", Merged("no line feed", "b\n"));
  // bytes as they are: a zero byte stays in its line, for the replay to refuse
  EXPECT_EQ(std::string("a\0x\nb\na\n", 8), Merged(std::string("a\0x\n", 4), std::string("a\0x\nb\na\n", 8)));
}

// Thousands of lines go through the set without losing one.
TEST(LogLines, MergedLogsOfManyLines) {
  std::string earlier, current, expected;
  for (int i = 0; i < 5000; ++i) earlier += "FileCreated=C:\\A\\" + std::to_string(i) + "\n";
  for (int i = 2500; i < 7500; ++i) current += "FileCreated=C:\\A\\" + std::to_string(i) + "\n";
  for (int i = 0; i < 7500; ++i) expected += "FileCreated=C:\\A\\" + std::to_string(i) + "\n";
  EXPECT_EQ(expected, Merged(earlier, current));
}

TEST(LogLines, TheCodePageLineNamesTheEncodingOfTheLinesAfterIt) {
  EXPECT_EQ(0, FindLogCodePage(""));
  EXPECT_EQ(0, FindLogCodePage("FileCreated=C:\\a.txt\n"));
  EXPECT_EQ(65001, FindLogCodePage("DirectoryCreated=C:\\App\nCodePage=65001\nFileCreated=C:\\App\\\xC3\xA9.txt\n"));
  EXPECT_EQ(932, FindLogCodePage("CodePage=932\n"));
  // only at the start of a line: a path may hold the text
  EXPECT_EQ(0, FindLogCodePage("FileCreated=C:\\CodePage=1252\n"));
  // the replay passes the line over like any line of no known tag
  char line[] = "CodePage=65001";
  LogRecord r;
  EXPECT_EQ(LOGRECORD_OTHER, ParseLogRecord(line, &r));
}

// The logger writes with these tags and the code-page line; logs already on
// users' disks hold exactly these bytes.
TEST(LogLines, TheWritersTagsAreTheOnesStoredLogsHold) {
  const struct {
    LogRecordKind Kind;
    const char* Tag;
    const char* Value;
  } cases[] = {
      {LOGRECORD_FILE, "FileCreated=", "C:\\App\\a.txt"},
      {LOGRECORD_DIRECTORY, "DirectoryCreated=", "C:\\App"},
      {LOGRECORD_INI_ENTRY, "IniFileEntryAdded=", "C:\\a.ini,S,K"},
      {LOGRECORD_REGISTRY, "SysRegSectionAdded=", "HKEY_CURRENT_USER/Software/App"},
      {LOGRECORD_DLL, "DllRegistered=", "C:\\App\\a.dll"},
      {LOGRECORD_REGISTRY_IF_EMPTY, "SysRegKeyIfEmpty=", "HKEY_CURRENT_USER/Software/Vendor"},
  };
  for (const auto& c : cases) {
    ASSERT_NE(nullptr, LogRecordTag(c.Kind));
    EXPECT_STREQ(c.Tag, LogRecordTag(c.Kind));
    std::string line = std::string(LogRecordTag(c.Kind)) + c.Value;
    LogRecord r;
    EXPECT_EQ(c.Kind, ParseLogRecord(&line[0], &r)) << c.Tag;
  }
  EXPECT_EQ(nullptr, LogRecordTag(LOGRECORD_OTHER));
  EXPECT_EQ(nullptr, LogRecordTag(LOGRECORD_MALFORMED));
  // every kind with a tag reads back as itself, wherever it stands
  for (int k = 0; k < LOGRECORD_KIND_COUNT; ++k)
    if (const char* tag = LogRecordTag(static_cast<LogRecordKind>(k))) {
      std::string line = std::string(tag) + "HKEY_CURRENT_USER/a,b,c";
      LogRecord r;
      EXPECT_EQ(k, ParseLogRecord(&line[0], &r)) << tag;
    }

  for (unsigned codePage : {0u, 932u, 65001u, 4294967295u}) {
    char line[LOG_CODEPAGE_LINE_BYTES];
    const std::string expected = "CodePage=" + std::to_string(codePage) + "\n";
    EXPECT_EQ(expected.size(), FormatLogCodePageLine(codePage, line));
    EXPECT_EQ(expected, line);
    EXPECT_TRUE(IsLogCodePageLine(line));
  }
  char line[LOG_CODEPAGE_LINE_BYTES];
  FormatLogCodePageLine(936, line);
  EXPECT_EQ(936, FindLogCodePage((std::string("DirectoryCreated=C:\\App\n") + line).c_str()));
  EXPECT_FALSE(IsLogCodePageLine("FileCreated=C:\\CodePage=1252"));
}

}  // namespace
