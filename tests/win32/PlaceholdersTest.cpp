#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <stdlib.h>
#include <string>

#include "TestSupport.h"
#include "script/Placeholders.h"

namespace {

const std::string kFailed = "<failed>";

// The expansion as a string, kFailed when it gives NULL.
std::string Expand(const char* text) {
  char* expanded = ExpandPlaceholders(text);
  if (!expanded) return kFailed;
  std::string result = expanded;
  free(expanded);
  return result;
}

std::string WithSeparator(std::string folder) {
  if (folder.empty() || (folder.back() != '\\' && folder.back() != '/')) folder += '\\';
  return folder;
}

// The folder as the shell reports it through another route than the code
// under test; empty when it has none.
std::string ShellFolder(int csidl) {
  char path[MAX_PATH] = "";
  if (FAILED(SHGetFolderPathA(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, path))) return "";
  return path;
}

// The stored values are process-wide: every test starts from empty ones.
class Placeholders : public ::testing::Test {
 protected:
  void SetUp() override { ResetPlaceholdersForTest(); }
  void TearDown() override { ResetPlaceholdersForTest(); }
};

TEST_F(Placeholders, OnlyTheKnownTokensAreReplaced) {
  char* copy = ExpandPlaceholders("plain text");
  ASSERT_NE(nullptr, copy);
  EXPECT_STREQ("plain text", copy);
  free(copy);
  EXPECT_EQ("", Expand(""));
  EXPECT_EQ(nullptr, ExpandPlaceholders(NULL));

  EXPECT_EQ(kFailed, Expand("100%"));
  EXPECT_EQ("100%", Expand("100%%"));
  EXPECT_EQ("50% of 100%", Expand("50%% of 100%%"));
  EXPECT_EQ(kFailed, Expand("%"));
  EXPECT_EQ(kFailed, Expand("%maindir%"));
  EXPECT_EQ(kFailed, Expand("%Temp%"));
  EXPECT_EQ(kFailed, Expand("%UNKNOWN%"));
  EXPECT_EQ(kFailed, Expand("a %TEMP and more"));

  // the scan resumes after "%%", at "APPNAME%"
  SetAppNamePlaceholder("Example");
  EXPECT_EQ(kFailed, Expand("%%APPNAME%"));
  EXPECT_EQ("%Example", Expand("%%%APPNAME%"));
  // a "%" that comes out of a value is never scanned again
  SetAppNamePlaceholder("100%APPNAME%");
  EXPECT_EQ("[100%APPNAME%]", Expand("[%APPNAME%]"));
}

TEST_F(Placeholders, TheResultGrowsWithItsValues) {
  std::string text, expected;
  for (int i = 0; i < 1000; ++i) {
    text += "%%";
    expected += "%";
  }
  EXPECT_EQ(expected, Expand(text.c_str()));

  char temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathA(sizeof temp, temp));
  text.clear();
  expected.clear();
  for (int i = 0; i < 100; ++i) {
    text += "%TEMP%x";
    expected += std::string(temp) + "x";
  }
  EXPECT_EQ(expected, Expand(text.c_str()));
}

TEST_F(Placeholders, MainDirIsAvailableOnlyOnceItIsSet) {
  EXPECT_EQ(kFailed, Expand("%MAINDIR%readme.txt"));
  EXPECT_EQ(1, SetMainDirPlaceholder("C:\\Example App"));
  EXPECT_EQ("C:\\Example App\\readme.txt", Expand("%MAINDIR%readme.txt"));
  // the separator written in the text is kept beside the value's own
  EXPECT_EQ("C:\\Example App\\\\data", Expand("%MAINDIR%\\data"));

  EXPECT_EQ(1, SetMainDirPlaceholder("C:\\Example App\\"));
  EXPECT_EQ("C:\\Example App\\readme.txt", Expand("%MAINDIR%readme.txt"));
  EXPECT_EQ(1, SetMainDirPlaceholder("D:/games/"));
  EXPECT_EQ("D:/games/readme.txt", Expand("%MAINDIR%readme.txt"));

  // an empty path leaves nothing to expand
  EXPECT_EQ(1, SetMainDirPlaceholder(""));
  EXPECT_EQ(kFailed, Expand("%MAINDIR%readme.txt"));

  // 260 bytes with the added separator and the terminator; one more is refused
  std::string fits = "C:\\" + std::string(255, 'a');
  EXPECT_EQ(1, SetMainDirPlaceholder(fits.c_str()));
  EXPECT_EQ(fits + "\\", Expand("%MAINDIR%"));
  std::string tooLong = fits + "a";
  EXPECT_EQ(0, SetMainDirPlaceholder(tooLong.c_str()));
  EXPECT_EQ(kFailed, Expand("%MAINDIR%"));
  EXPECT_EQ(1, SetMainDirPlaceholder((fits + "\\").c_str()));  // already ends in one
  EXPECT_EQ(fits + "\\", Expand("%MAINDIR%"));
}

TEST_F(Placeholders, SourceDirAndItsDrive) {
  // never failing, even before they are set
  EXPECT_EQ("\\", Expand("%SOURCEDIR%"));
  EXPECT_EQ("\\", Expand("%SOURCEDRIVE%"));

  EXPECT_EQ(1, SetSourceDirPlaceholder("D:\\setup\\"));
  EXPECT_EQ("D:\\", Expand("%SOURCEDRIVE%"));
  EXPECT_EQ("D:\\setup\\", Expand("%SOURCEDIR%"));
  EXPECT_EQ("D:\\setup\\data.ini", Expand("%SOURCEDIR%data.ini"));
  EXPECT_EQ(1, SetSourceDirPlaceholder("D:\\setup"));
  EXPECT_EQ("D:\\setup\\", Expand("%SOURCEDIR%"));
  EXPECT_EQ(1, SetSourceDirPlaceholder("e:"));
  EXPECT_EQ("e:\\", Expand("%SOURCEDRIVE%"));

  // no drive letter: the empty drive still gets the separator rule
  EXPECT_EQ(1, SetSourceDirPlaceholder("\\\\server\\share\\setup"));
  EXPECT_EQ("\\\\server\\share\\setup\\", Expand("%SOURCEDIR%"));
  EXPECT_EQ("\\setup.ini", Expand("%SOURCEDRIVE%setup.ini"));
  EXPECT_EQ("x\\y", Expand("x%SOURCEDRIVE%y"));
  EXPECT_EQ("x/", Expand("x/%SOURCEDRIVE%"));

  // an empty or over-long path empties both values
  EXPECT_EQ(1, SetSourceDirPlaceholder("D:\\setup"));
  EXPECT_EQ(1, SetSourceDirPlaceholder(""));
  EXPECT_EQ("\\", Expand("%SOURCEDIR%"));
  EXPECT_EQ("\\", Expand("%SOURCEDRIVE%"));
  std::string fits = "D:\\" + std::string(254, 's');  // 259 bytes with "\" and terminator
  EXPECT_EQ(1, SetSourceDirPlaceholder(fits.c_str()));
  EXPECT_EQ(fits + "\\", Expand("%SOURCEDIR%"));
  EXPECT_EQ(0, SetSourceDirPlaceholder((fits + "s").c_str()));
  EXPECT_EQ("\\", Expand("%SOURCEDIR%"));
  EXPECT_EQ("\\", Expand("%SOURCEDRIVE%"));
}

TEST_F(Placeholders, TheApplicationNameAddsNoSeparatorAndIsCutAt255) {
  std::string programs = ShellFolder(CSIDL_PROGRAMS);
  ASSERT_FALSE(programs.empty());
  SetAppNamePlaceholder("Example App");
  EXPECT_EQ(WithSeparator(programs) + "Example App\\Example.lnk",
            Expand("%PROGRAMS%%APPNAME%\\Example.lnk"));
  EXPECT_EQ("Example AppExample App", Expand("%APPNAME%%APPNAME%"));

  std::string name;
  for (int i = 0; i < 300; ++i) name += static_cast<char>('a' + i % 26);
  SetAppNamePlaceholder(name.c_str());
  EXPECT_EQ(name.substr(0, 255), Expand("%APPNAME%"));
  SetAppNamePlaceholder(name.substr(0, 255).c_str());
  EXPECT_EQ(name.substr(0, 255), Expand("%APPNAME%"));
  SetAppNamePlaceholder(NULL);
  EXPECT_EQ("", Expand("%APPNAME%"));
}

TEST_F(Placeholders, SystemFoldersEndInExactlyOneSeparator) {
  std::string programFiles = ProgramFilesDir();
  ASSERT_FALSE(programFiles.empty());
  EXPECT_EQ(WithSeparator(programFiles), Expand("%PROGRAMFILES%"));
  EXPECT_EQ(WithSeparator(programFiles) + "Example App", Expand("%PROGRAMFILES%Example App"));

  // one user's installation goes into the user's own programs folder, made
  // when missing; nothing else changes, and the machine's comes back
  const std::string userPrograms = WithSeparator(ShellFolder(CSIDL_LOCAL_APPDATA)) + "Programs";
  RemoveDirectoryA(userPrograms.c_str());
  SetPlaceholderScope(1);
  EXPECT_EQ(userPrograms + "\\Example App", Expand("%PROGRAMFILES%Example App"));
  EXPECT_TRUE(PathExists(userPrograms));
  EXPECT_EQ(WithSeparator(ShellFolder(CSIDL_PROGRAMS)), Expand("%PROGRAMS%"));
  SetPlaceholderScope(0);
  EXPECT_EQ(WithSeparator(programFiles), Expand("%PROGRAMFILES%"));

  const struct {
    const char* token;
    int csidl;
  } folders[] = {
      {"%WINDOWS%", CSIDL_WINDOWS},   {"%SYSTEM%", CSIDL_SYSTEM},
      {"%DESKTOP%", CSIDL_DESKTOPDIRECTORY}, {"%MYDOCUMENTS%", CSIDL_PERSONAL},
      {"%STARTUP%", CSIDL_STARTUP},   {"%PROGRAMS%", CSIDL_PROGRAMS},
  };
  for (const auto& f : folders) {
    std::string expected = ShellFolder(f.csidl);
    ASSERT_FALSE(expected.empty()) << f.token;
    EXPECT_EQ(WithSeparator(expected), Expand(f.token)) << f.token;
  }

  // the temporary path already ends in "\": not doubled
  char temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathA(sizeof temp, temp));
  ASSERT_EQ('\\', temp[strlen(temp) - 1]);
  EXPECT_EQ(std::string(temp), Expand("%TEMP%"));
  EXPECT_EQ(std::string(temp) + "x.tmp", Expand("%TEMP%x.tmp"));
}

// Needs a double-byte ANSI code page; under Wine run the binary with
// LC_ALL=ja_JP.UTF-8 and --gtest_filter=Placeholders.DoubleByte*.
TEST_F(Placeholders, DoubleByteCharactersAreNeverCutOrTakenForSeparators) {
  REQUIRE_CODE_PAGE(932, IsDBCSLeadByte(0x95), "code page " << GetACP() << " is single-byte");
  const char kHyo[] = "\x95\x5C";  // its trail byte equals "\"
  EXPECT_EQ(1, SetMainDirPlaceholder((std::string("C:\\") + kHyo).c_str()));
  EXPECT_EQ(std::string("C:\\") + kHyo + "\\readme.txt", Expand("%MAINDIR%readme.txt"));
  EXPECT_EQ(1, SetSourceDirPlaceholder(kHyo));
  EXPECT_EQ(std::string(kHyo) + "\\", Expand("%SOURCEDIR%"));
  EXPECT_EQ(std::string(kHyo) + "\\", Expand((std::string(kHyo) + "%SOURCEDRIVE%").c_str()));

  std::string name = std::string(254, 'a') + kHyo;
  SetAppNamePlaceholder(name.c_str());
  EXPECT_EQ(std::string(254, 'a'), Expand("%APPNAME%"));
}

TEST_F(Placeholders, SpecialFolderPathsComeOnlyFromTheFileSystem) {
  char path[MAX_PATH];
  ASSERT_EQ(1, GetSpecialFolderPath(CSIDL_PERSONAL, path));
  // the shell may end a path in "\" itself (Wine does for linked folders)
  EXPECT_EQ(WithSeparator(ShellFolder(CSIDL_PERSONAL)), WithSeparator(path));
  // the control panel is a folder without a path; 0xFF is no folder at all
  memset(path, 'x', sizeof path);
  EXPECT_EQ(0, GetSpecialFolderPath(CSIDL_CONTROLS, path));
  EXPECT_STREQ("", path);
  EXPECT_EQ(0, GetSpecialFolderPath(0xFF, path));
  EXPECT_EQ(0, GetSpecialFolderPath(CSIDL_PERSONAL, NULL));
}

}  // namespace
