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

// A line as a section's reader takes it: "field|field|..." (a quoted INI
// value marked "\"..."), or "!problem@column".
std::string Read(ActionSectionId id, std::string line) {
  SectionLine out;
  line.push_back('\0');
  const LineProblem problem = ReadActionLine(id, &line[0], &out);
  EXPECT_EQ(problem, out.Problem);
  if (problem) return "!" + std::to_string(problem) + "@" + std::to_string(out.Column);
  EXPECT_EQ(0u, out.Column);
  std::string fields;
  for (int i = 0; i < out.Count; ++i) fields += (i ? "|" : "") + std::string(out.Field[i]);
  return (out.Quoted ? "\"" : "") + fields;
}

TEST(ActionSections, EachSectionsReaderGivesTheFieldsOrTheProblemAndItsColumn) {
  const std::string noComma = "!" + std::to_string(LINE_NO_COMMA);
  const std::string noRoot = "!" + std::to_string(LINE_NO_ROOT);
  const std::string noName = "!" + std::to_string(LINE_NO_VALUE_NAME);
  const std::string unknownRoot = "!" + std::to_string(LINE_UNKNOWN_ROOT);
  const std::string noKey = "!" + std::to_string(LINE_NO_KEY);
  const struct {
    ActionSectionId Id;
    const char* Line;
    std::string Expected;
  } cases[] = {
      {SECTION_FILES, "a.txt,  C:\\App\\a, b.txt", "a.txt|C:\\App\\a, b.txt"},
      {SECTION_FILES, "a.txt C:\\a.txt", noComma + "@15"},
      // the icon index ends at its first blank; the fields may be empty
      {SECTION_SHORTCUTS, "C:\\a.lnk,C:\\a.exe, -x,  C:\\,,C:\\a.ico, 3  tail", "C:\\a.lnk|C:\\a.exe|-x|C:\\||C:\\a.ico|3"},
      {SECTION_SHORTCUTS, "a,b,c,d,e,f,1,2", "a|b|c|d|e|f|1,2"},
      {SECTION_SHORTCUTS, "a.lnk,a.exe,,,,", noComma + "@16"},
      {SECTION_SHORTCUTS, "", noComma + "@1"},
      // an INI value ends at a blank unless quoted; further commas are its own
      {SECTION_INIFILES, "C:\\a.ini, S, K,  two words", "C:\\a.ini|S|K|two"},
      {SECTION_INIFILES, "a.ini,S,K,\"C:\\Program Files\\\" x", "\"a.ini|S|K|C:\\Program Files\\"},
      {SECTION_INIFILES, "a.ini,S,K,\"open", "a.ini|S|K|\"open"},
      {SECTION_INIFILES, "a.ini,S,K,x,y", "a.ini|S|K|x,y"},
      {SECTION_INIFILES, "a.ini,S,K", noComma + "@10"},
      {SECTION_SYSREGINT, "HKEY_CURRENT_USER/Software/A/B/Count=  42", "HKEY_CURRENT_USER|Software/A/B|Count|42"},
      {SECTION_SYSREGINT, "HKEY_CURRENT_USER/Software/A/Zero", "HKEY_CURRENT_USER|Software/A|Zero"},
      {SECTION_SYSREGSTRING, "HKEY_CLASSES_ROOT/.abc/= x=y/z ", "HKEY_CLASSES_ROOT|.abc||x=y/z "},
      // the setup program's order: the "/" after the root, the value name, the root
      {SECTION_SYSREGSTRING, "HKEY_CURRENT_USER", noRoot + "@18"},
      {SECTION_SYSREGSTRING, "HKEY_CURRENT_USER/Value=x", noName + "@24"},
      {SECTION_SYSREGINT, "HKEY_USERS/Software=1", noName + "@20"},
      {SECTION_SYSREGINT, "HKEY_USERS/Software/V=1", unknownRoot + "@1"},
      {SECTION_SYSREGINT, "hkey_current_user/Software/V=1", unknownRoot + "@1"},
      {SECTION_SYSREGUNINSTALL, "HKEY_LOCAL_MACHINE/Software/A B/C", "HKEY_LOCAL_MACHINE|Software/A B/C"},
      {SECTION_SYSREGUNINSTALL, "HKEY_CURRENT_USER", noRoot + "@18"},
      {SECTION_SYSREGUNINSTALL, "HKEY_USERS/Software/A", unknownRoot + "@1"},
      // no key below the root: the uninstaller would empty the root
      {SECTION_SYSREGUNINSTALL, "HKEY_CURRENT_USER/", noKey + "@19"},
      {SECTION_SYSREGUNINSTALL, "HKEY_CURRENT_USER///", noKey + "@19"},
      {SECTION_SYSREGUNINSTALL, "HKEY_CURRENT_USER/Software/", "HKEY_CURRENT_USER|Software/"},
      {SECTION_REGISTERDLLS, " C:\\a b.dll, x", " C:\\a b.dll, x"},
      {SECTION_EXECUTE, "\"C:\\a.exe\" /x", "\"C:\\a.exe\" /x"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Expected, Read(c.Id, c.Line)) << kActionSections[c.Id].Name << ": " << c.Line;
  // a line of [Files] is split before its destination is expanded (its
  // source is the author's path)
  EXPECT_EQ(1, kActionSections[SECTION_FILES].ExpandedField);
  // 0x83 0x2C and 0x83 0x2F: trail bytes equal to "," and "/"
  MbcsSetCodePage(932);
  EXPECT_EQ("\x83\x2C.ini|S|K|V", Read(SECTION_INIFILES, "\x83\x2C.ini,S,K,V"));
  EXPECT_EQ("HKEY_CURRENT_USER|Software/\x83\x2F|N|1", Read(SECTION_SYSREGINT, "HKEY_CURRENT_USER/Software/\x83\x2F/N=1"));
  MbcsSetCodePage(0);
}

}  // namespace
