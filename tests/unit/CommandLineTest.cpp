// The setup program's command line: tokens, never substrings.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "common/Mbcs.h"
#include "driver/CommandLine.h"
#include "script/LaunchCommand.h"

namespace {

SetupCommandLine Parsed(const char* line, int expected = 1) {
  SetupCommandLine c;
  EXPECT_EQ(expected, ParseSetupCommandLine(line, &c)) << line << ": " << c.Problem;
  return c;
}

TEST(CommandLine, OptionsAreTokensInAnyCaseAfterSlashOrDash) {
  // who watches; /S wins wherever it stands, so that a deployment that says
  // it never sees a window
  struct {
    const char* line;
    int display;
  } cases[] = {
      {"/S", SETUP_DISPLAY_NONE},          {"-s", SETUP_DISPLAY_NONE},
      {"  /s  ", SETUP_DISPLAY_NONE},      {"\"/S\"", SETUP_DISPLAY_NONE},
      {"/LOG=x.log /S", SETUP_DISPLAY_NONE}, {"/PASSIVE", SETUP_DISPLAY_PASSIVE},
      {"-passive", SETUP_DISPLAY_PASSIVE}, {"\"/Passive\" /LOG=x.log", SETUP_DISPLAY_PASSIVE},
      {"/PASSIVE /S", SETUP_DISPLAY_NONE}, {"/S -PASSIVE", SETUP_DISPLAY_NONE},
      {"", SETUP_DISPLAY_FULL},            {"/LOG=x.log", SETUP_DISPLAY_FULL},
  };
  for (const auto& c : cases) EXPECT_EQ(c.display, Parsed(c.line).Display) << c.line;
  EXPECT_EQ(SETUP_DISPLAY_FULL, Parsed(NULL).Display);
  EXPECT_EQ(1, Parsed("/?").Help);
  SetupCommandLine c = Parsed("-LOG=\"C:\\My Logs\\run.log\" /S");
  EXPECT_EQ(1, c.HasLog);
  EXPECT_STREQ("C:\\My Logs\\run.log", c.LogPath);
  EXPECT_EQ(SETUP_DISPLAY_NONE, c.Display);
  // the programs that use the files
  c = Parsed("/s -closeapplications /NoCloseApplications /FORCECLOSEAPPLICATIONS /norestart");
  EXPECT_EQ(1, c.CloseApplications);
  EXPECT_EQ(1, c.NoCloseApplications);
  EXPECT_EQ(1, c.ForceCloseApplications);
  EXPECT_EQ(1, c.NoRestart);
  EXPECT_EQ(0, Parsed("/S").ForceCloseApplications);
}

TEST(CommandLine, AnUnknownOptionOrWordIsRefusedByName) {
  struct {
    const char* line;
    const char* problem;
  } cases[] = {
      {"/SILENT", "/SILENT"},
      {"/S /VERYSILENT /SUPPRESSMSGBOXES", "/VERYSILENT"},
      // never found inside another token
      {"/Sx", "/Sx"},
      {"x-joinsplitparts C:\\a", "x-joinsplitparts"},
      {"install", "install"},
      {"/S=1", "/S=1"},
      {"/PASSIVEX", "/PASSIVEX"},
      {"/PASSIVE=1", "/PASSIVE=1"},
      {"/NORESTART=1", "/NORESTART=1"},
      {"/CLOSEAPPS", "/CLOSEAPPS"},
      {"/", "/"},
  };
  for (const auto& c : cases) {
    SetupCommandLine parsed = Parsed(c.line, 0);
    EXPECT_EQ(std::string("Unknown command-line option: ") + c.problem, parsed.Problem) << c.line;
  }
  // the rest is still read: a silent run stays silent, whatever came before
  // /S (an option too long for any buffer, a quote in /D=) and wherever /D=
  // stands
  const std::string longLog = "\"/LOG=C:\\" + std::string(1100, 'x') + ".log\"";
  for (const std::string& line : {std::string("/SILENT /S"), longLog + " /S", "/S " + longLog,
                                  std::string("/D=C:\\A /S B"), std::string("/S /D=C:\\A\"B")}) {
    SetupCommandLine c = Parsed(line.c_str(), 0);
    EXPECT_EQ(SETUP_DISPLAY_NONE, c.Display) << line;
    EXPECT_EQ(0, c.HasDestination) << line;
  }
  // and a passive one stays without questions
  EXPECT_EQ(SETUP_DISPLAY_PASSIVE, Parsed("/VERYSILENT /PASSIVE", 0).Display);
  EXPECT_EQ(SETUP_DISPLAY_PASSIVE, Parsed("/D=C:\\A /PASSIVE B", 0).Display);
  EXPECT_EQ(0u, std::string(Parsed(longLog.c_str(), 0).Problem).find("Option too long: \"/LOG=C:\\xxx"));
  EXPECT_NE(nullptr, strstr(Parsed("/LOG=", 0).Problem, "/LOG="));
  EXPECT_NE(nullptr, strstr(Parsed("/S /D=", 0).Problem, "/D="));
}

// The program's name is skipped as the system reads it, whatever its
// characters: the run time's copy stopped at the first one above 127.
TEST(CommandLine, TheProgramsNameIsSkippedByTheSystemsRules) {
  struct {
    const wchar_t* line;
    const wchar_t* arguments;
  } cases[] = {
      {L"C:\\users\\\u0414\u043c\u0438\u0442\u0440\u0438\u0439\\Setup.exe /S", L"/S"},
      {L"C:\\Apps\\\u8868\\Uninstall.exe", L""},
      {L"\"C:\\Program Files\\Setup.exe\"  /D=C:\\My App", L"/D=C:\\My App"},
      // quotes toggle inside the name too, and a tab ends it
      {L"C:\\\"My Apps\"\\Setup.exe\t/LOG=a.log /S", L"/LOG=a.log /S"},
      {L"\"C:\\A B\\Setup.exe\"", L""},
      {L"Setup", L""},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(std::wstring(c.arguments), SkipProgramName(c.line));
  EXPECT_EQ(std::wstring(L""), SkipProgramName(NULL));
}

TEST(CommandLine, DestinationTakesTheRestOfTheLineWithBlanks) {
  SetupCommandLine c = Parsed("/S /D=C:\\Silent Test\\App");
  EXPECT_EQ(SETUP_DISPLAY_NONE, c.Display);
  EXPECT_EQ(1, c.HasDestination);
  EXPECT_STREQ("C:\\Silent Test\\App", c.Destination);
  // blanks and dashes are part of the folder; an option of ours is not,
  // and /D= must then come last
  EXPECT_STREQ("C:\\My App - Beta -x", Parsed("/D=C:\\My App - Beta -x").Destination);
  for (const char* line : {"/D=C:\\Apps\\My App /LOG=C:\\trial.log", "/D=C:\\A -s", "/D=C:\\A -Passive", "/D=C:\\A /x",
                           "/D=C:\\A -joinsplitparts C:\\B"}) {
    SetupCommandLine refused = Parsed(line, 0);
    EXPECT_EQ(0, refused.HasDestination) << line;
    EXPECT_EQ(0u, std::string(refused.Problem).find("/D= must be the last option")) << refused.Problem;
  }
  SetupCommandLine refused = Parsed("/D=C:\\Apps\\My App /LOG=C:\\trial.log", 0);
  EXPECT_NE(nullptr, strstr(refused.Problem, "after it comes /LOG=C:\\trial.log")) << refused.Problem;
  EXPECT_STREQ("C:\\trial.log", refused.LogPath) << "what follows is read on";
  // quotes around the folder, or around the whole token, are no part of it
  EXPECT_STREQ("C:\\Q R", Parsed("/D=\"C:\\Q R\"  ").Destination);
  c = Parsed("\"/D=C:\\Q R\" /S");
  EXPECT_STREQ("C:\\Q R", c.Destination);
  EXPECT_EQ(SETUP_DISPLAY_NONE, c.Display);
  EXPECT_EQ(0, Parsed(("/D=C:\\" + std::string(300, 'a')).c_str(), 0).HasDestination);
}

TEST(CommandLine, TheChainOptionsKeepTheRestOfTheLine) {
  SetupCommandLine c = Parsed("/S -joinsplitparts D:\\My Disk\\Setup");
  EXPECT_EQ(SETUP_DISPLAY_NONE, c.Display);
  ASSERT_NE(nullptr, c.JoinSplitParts);
  EXPECT_STREQ("D:\\My Disk\\Setup", c.JoinSplitParts);
  c = Parsed("-originalsourcedirlocation C:");
  ASSERT_NE(nullptr, c.OriginalSourceDir);
  EXPECT_STREQ("C:", c.OriginalSourceDir);
  c = Parsed("-ORIGINALSOURCEDIRLOCATION");
  ASSERT_NE(nullptr, c.OriginalSourceDir);
  EXPECT_STREQ("", c.OriginalSourceDir);
  EXPECT_EQ(nullptr, Parsed("/S").JoinSplitParts);
}

TEST(CommandLine, PassedOptionsParseBackToTheSame) {
  SetupCommandLine c = Parsed("/LOG=C:\\l.log /S /D=C:\\Silent Test\\App");
  char passed[1024];
  ASSERT_EQ(1, FormatPassedOptions(c, passed, sizeof passed));
  EXPECT_STREQ(" /S \"/LOG=C:\\l.log\" \"/D=C:\\Silent Test\\App\"", passed);
  const std::string chained = std::string(passed) + " -joinsplitparts C:\\Disk\\Setup";
  SetupCommandLine back = Parsed(chained.c_str());
  EXPECT_EQ(SETUP_DISPLAY_NONE, back.Display);
  EXPECT_STREQ(c.LogPath, back.LogPath);
  EXPECT_STREQ(c.Destination, back.Destination);
  ASSERT_NE(nullptr, back.JoinSplitParts);
  EXPECT_STREQ("C:\\Disk\\Setup", back.JoinSplitParts);
  ASSERT_EQ(1, FormatPassedOptions(Parsed(""), passed, sizeof passed));
  EXPECT_STREQ("", passed);
  // a split setup's joined installer treats programs in use as it was told
  ASSERT_EQ(1, FormatPassedOptions(Parsed("/PASSIVE /NOCLOSEAPPLICATIONS /forcecloseapplications /D=C:\\A"), passed,
                                   sizeof passed));
  EXPECT_STREQ(" /PASSIVE /NOCLOSEAPPLICATIONS /FORCECLOSEAPPLICATIONS \"/D=C:\\A\"", passed);
  EXPECT_EQ(0, FormatPassedOptions(c, passed, 10));
  // each display mode reaches the next process as it was given
  for (const char* line : {"/PASSIVE", "/S", "/PASSIVE /S", ""}) {
    const SetupCommandLine given = Parsed(line);
    ASSERT_EQ(1, FormatPassedOptions(given, passed, sizeof passed)) << line;
    EXPECT_EQ(given.Display, Parsed(passed).Display) << line << " passed as" << passed;
  }
  ASSERT_EQ(1, FormatPassedOptions(Parsed("-passive /D=C:\\P Q"), passed, sizeof passed));
  EXPECT_STREQ(" /PASSIVE \"/D=C:\\P Q\"", passed);
  // A quote would end the token early and make the rest options of the
  // next process: never passed on, and refused where the user gave it.
  for (const char* line : {"/S /D=C:\\Split\"App", "/S /D=\"C:\\Split\"App\"", "/D=C:\\A\" -joinsplitparts C:\\B"}) {
    SetupCommandLine quoted = Parsed(line, 0);
    EXPECT_EQ(0, quoted.HasDestination) << line;
    EXPECT_EQ(nullptr, quoted.JoinSplitParts) << line;
  }
  strcpy(c.Destination, "C:\\Split\"App");
  EXPECT_EQ(0, FormatPassedOptions(c, passed, sizeof passed));
}

TEST(CommandLine, LangTakesACodeAndIsPassedOn) {
  EXPECT_STREQ("", Parsed("/S").Language);
  EXPECT_STREQ("ja", Parsed("/LANG=ja").Language);
  EXPECT_STREQ("pt-BR", Parsed("/S /lang=pt-BR").Language);
  for (const char* bad : {"/LANG=", "/LANG=de,ja", "/LANG=..\\x", "/LANG=averyveryverylongcode"}) {
    SetupCommandLine c;
    EXPECT_EQ(0, ParseSetupCommandLine(bad, &c)) << bad;
    EXPECT_STREQ("", c.Language) << bad;
  }
  SetupCommandLine c = Parsed("/LANG=de /S /D=C:\\App");
  char passed[1024];
  ASSERT_EQ(1, FormatPassedOptions(c, passed, sizeof passed));
  EXPECT_STREQ(" /S \"/LANG=de\" \"/D=C:\\App\"", passed);
  EXPECT_STREQ("de", Parsed(passed).Language);
}

// The components and tasks: lists of names, an empty one choosing none, in
// any mode; passed on as one quoted token each, before /D=.
TEST(CommandLine, ComponentsAndTasksTakeListsOfNamesAndArePassedOn) {
  SetupCommandLine c = Parsed("/S /components=docs,Samples /TASKS=\"desktopicon, quicklaunch\" /D=C:\\A B");
  EXPECT_EQ(1, c.HasComponents);
  EXPECT_STREQ("docs,Samples", c.Components);
  EXPECT_EQ(1, c.HasTasks);
  EXPECT_STREQ("desktopicon, quicklaunch", c.Tasks);
  EXPECT_STREQ("C:\\A B", c.Destination);
  char passed[2048];
  ASSERT_EQ(1, FormatPassedOptions(c, passed, sizeof passed));
  EXPECT_STREQ(" /S \"/COMPONENTS=docs,Samples\" \"/TASKS=desktopicon, quicklaunch\" \"/D=C:\\A B\"", passed);
  SetupCommandLine back = Parsed(passed);
  EXPECT_STREQ(c.Components, back.Components);
  EXPECT_STREQ(c.Tasks, back.Tasks);
  // none chosen is a choice too, and reaches the next process as one
  c = Parsed("-TASKS=");
  EXPECT_EQ(1, c.HasTasks);
  EXPECT_EQ(0, c.HasComponents);
  ASSERT_EQ(1, FormatPassedOptions(c, passed, sizeof passed));
  EXPECT_EQ(1, Parsed(passed).HasTasks);
  // what no name holds is refused, so that a value never ends its token
  for (const char* bad : {"/COMPONENTS=a/b", "/COMPONENTS=docs;help", "/TASKS=a:b", "/COMPONENTS"}) {
    SetupCommandLine refused = Parsed(bad, 0);
    EXPECT_EQ(0, refused.HasComponents + refused.HasTasks) << bad;
  }
  EXPECT_EQ(0, Parsed(("/COMPONENTS=" + std::string(600, 'a')).c_str(), 0).HasComponents);
  // a folder of /D= ends before them
  EXPECT_EQ(0, Parsed("/D=C:\\App -TASKS=x", 0).HasDestination);
}

// Who the installation is for: the switches in any mode, passed on with
// the rest, never both; the script's own scope wins unless it lets the
// user choose, and then the switch comes before the answer.
TEST(CommandLine, ScopeSwitchesChooseOnlyWhereTheScriptLetsThem) {
  EXPECT_EQ(SETUP_SCOPE_ASK, Parsed("/S").ScopeChoice);
  EXPECT_EQ(SETUP_SCOPE_ALL_USERS, Parsed("/allusers /S").ScopeChoice);
  EXPECT_EQ(SETUP_SCOPE_CURRENT_USER, Parsed("-CurrentUser /PASSIVE").ScopeChoice);
  EXPECT_EQ(SETUP_SCOPE_ALL_USERS, Parsed("/ALLUSERS /ALLUSERS").ScopeChoice);
  SetupCommandLine both = Parsed("/ALLUSERS /S /CURRENTUSER", 0);
  EXPECT_NE(nullptr, strstr(both.Problem, "exclude each other: /CURRENTUSER")) << both.Problem;
  EXPECT_EQ(SETUP_DISPLAY_NONE, both.Display);
  // a switch after /D= is an option, not a part of the folder; the elevated
  // run's mark comes before the chain's option
  EXPECT_EQ(0, Parsed("/D=C:\\App /CURRENTUSER", 0).HasDestination);
  SetupCommandLine c = Parsed("/PASSIVE /CURRENTUSER /D=C:\\My App");
  char passed[1024];
  ASSERT_EQ(1, FormatPassedOptions(c, passed, sizeof passed));
  EXPECT_STREQ(" /PASSIVE /CURRENTUSER \"/D=C:\\My App\"", passed);
  const std::string elevated =
      std::string(passed) + " -elevatedrun -launchnote=00A1b2C3 -originalsourcedirlocation D:";
  SetupCommandLine back = Parsed(elevated.c_str());
  EXPECT_EQ(SETUP_SCOPE_CURRENT_USER, back.ScopeChoice);
  EXPECT_EQ(1, back.ElevatedRun);
  EXPECT_STREQ("00A1b2C3", back.LaunchNote);
  EXPECT_STREQ("", Parsed("/S -elevatedrun").LaunchNote);
  // the note's id goes into an object's name: hex digits, and short, only
  for (const char* bad : {"-launchnote=", "-launchnote=..\\Global", "-launchnote=123456789012345678901234"})
    EXPECT_STREQ("", Parsed(bad, 0).LaunchNote) << bad;
  EXPECT_EQ(0, Parsed("/D=C:\\App -launchnote=1F", 0).HasDestination);
  EXPECT_STREQ("C:\\My App", back.Destination);
  EXPECT_STREQ("D:", back.OriginalSourceDir);
  EXPECT_EQ(0, Parsed("/S").ElevatedRun);

  enum { MACHINE = 0, USER = 1, CHOOSE = 2, NOT_ASKED = 2 };
  struct {
    int setting, choice, answer, scope;
  } cases[] = {
      {MACHINE, SETUP_SCOPE_ASK, NOT_ASKED, MACHINE},     {MACHINE, SETUP_SCOPE_CURRENT_USER, NOT_ASKED, MACHINE},
      {USER, SETUP_SCOPE_ASK, NOT_ASKED, USER},           {USER, SETUP_SCOPE_ALL_USERS, MACHINE, USER},
      {CHOOSE, SETUP_SCOPE_ASK, NOT_ASKED, MACHINE},      {CHOOSE, SETUP_SCOPE_ASK, USER, USER},
      {CHOOSE, SETUP_SCOPE_ASK, MACHINE, MACHINE},        {CHOOSE, SETUP_SCOPE_CURRENT_USER, NOT_ASKED, USER},
      {CHOOSE, SETUP_SCOPE_ALL_USERS, USER, MACHINE},     {CHOOSE, SETUP_SCOPE_CURRENT_USER, MACHINE, USER},
  };
  for (const auto& k : cases)
    EXPECT_EQ(k.scope, ResolveInstallScope(k.setting, k.choice, k.answer))
        << k.setting << " " << k.choice << " " << k.answer;
}

// A path's limit is 259 characters, however many bytes they take.
TEST(CommandLine, APathOf259CharactersFitsInAnyCodePage) {
  struct Utf8 {
    Utf8() : saved(MbcsGetCodePage()) { MbcsSetCodePage(65001); }
    ~Utf8() { MbcsSetCodePage(saved); }
    int saved;
  } utf8;
  std::string folder = "C:\\";
  while (MbcsLength(folder.c_str(), folder.size()) < 259) folder += "\xE8\xA1\xA8";  // 表
  ASSERT_EQ(3u + 256 * 3, folder.size());
  SetupCommandLine c = Parsed(("/D=" + folder).c_str());
  EXPECT_EQ(1, c.HasDestination);
  EXPECT_EQ(folder, c.Destination);
  EXPECT_EQ(0, Parsed(("/D=" + folder + "a").c_str(), 0).HasDestination);
}

// RunAfterInstall: the program ends at its closing quote or its first
// blank, before any placeholder is filled in; the arguments follow as
// written.
TEST(CommandLine, TheLaunchCommandSplitsWhereTheScriptSays) {
  struct {
    const char* value;
    LaunchCommandProblem problem;
    const char* program;
    const char* arguments;
  } cases[] = {
      {"%MAINDIR%App.exe", LAUNCH_COMMAND_OK, "%MAINDIR%App.exe", ""},
      {"  %MAINDIR%App.exe  /first \"a b\"", LAUNCH_COMMAND_OK, "%MAINDIR%App.exe", "/first \"a b\""},
      {"\"%MAINDIR%My App.exe\" -x", LAUNCH_COMMAND_OK, "%MAINDIR%My App.exe", "-x"},
      {"\"%MAINDIR%My App.exe\"", LAUNCH_COMMAND_OK, "%MAINDIR%My App.exe", ""},
      {"%MAINDIR%My App.exe", LAUNCH_COMMAND_OK, "%MAINDIR%My", "App.exe"},
      {"\"%MAINDIR%My App.exe -x", LAUNCH_COMMAND_UNCLOSED_QUOTE, "", ""},
      {"\"\" -x", LAUNCH_COMMAND_NO_PROGRAM, "", ""},
      {"   ", LAUNCH_COMMAND_NO_PROGRAM, "", ""},
      {"", LAUNCH_COMMAND_NO_PROGRAM, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    LaunchCommand parts;
    EXPECT_EQ(c.problem, SplitLaunchCommand(c.value, &parts));
    EXPECT_EQ(c.program, std::string(parts.Program, parts.ProgramLength));
    EXPECT_STREQ(c.arguments, parts.Arguments);
  }
  for (const char* full : {"C:\\App\\App.exe", "d:\\x.exe", "\\\\server\\share\\App.exe"})
    EXPECT_EQ(1, IsFullLaunchPath(full)) << full;
  // looked for where the setup was started, or on its drive's current folder
  for (const char* bare : {"App.exe", "C:App.exe", "\\App.exe", "\\\\\\x", "bin\\App.exe", ""})
    EXPECT_EQ(0, IsFullLaunchPath(bare)) << bare;
}

}  // namespace
