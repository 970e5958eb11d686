// The checks of quillset build: each problem one line "PROJECT.qsp:LINE:
// message" (LINE:COLUMN where the setup program's reader of the line finds
// it), all of them listed, exit status 1, and nothing written.
#include <gtest/gtest.h>

#include <algorithm>

#include "CliSupport.h"
#include "script/ActionSections.h"

namespace {

struct Rule {
  const char* Name;
  const char* Script;  // "QSP40\n[Global]\nApplicationName = A\n" is put before it unless it starts with '!'
  std::string Expected;  // the whole line on stderr, after "app.qsp:"
};

// "[Global], [Background], " and the action sections, as the command lists them.
std::string EverySection() {
  std::string all = "[Global], [Background]";
  for (const ActionSection& s : kActionSections) all += std::string(", [") + s.Name + "]";
  return all + ", [Components], [Tasks]";
}

const Rule kRules[] = {
    {"magic", "!QSP39\n[Global]\nApplicationName = A\n",
     "1: not a project script: the first line must start with \"QSP40\""},
    {"empty file", "!", "1: not a project script: the first line must start with \"QSP40\""},
    {"no ApplicationName", "!QSP40\n[Global]\nDefaultDir = C:\\x\n", "2: [Global] has no ApplicationName"},
    {"no Global", "!QSP40\n[Files]\n", "1: no [Global] section: it must give ApplicationName"},
    {"empty ApplicationName", "!QSP40\n[Global]\nApplicationName =\n", "3: ApplicationName is empty"},
    {"Files without comma", "[Files]\nsrc/a.txt %MAINDIR%a.txt\n",
     "5:25: [Files] line has no comma: write \"source, destination\""},
    {"missing source", "[Files]\nsrc/gone.txt, %MAINDIR%gone.txt\n", "5: file not found: @/src/gone.txt"},
    {"empty action line", "[Files]\nsrc/a.txt, %MAINDIR%a.txt\n\n[Execute]\n",
     "6: empty line in [Files]: every line of an action section is an action"},
    {"shortcut commas", "[Shortcuts]\n%PROGRAMS%A.lnk,%MAINDIR%a.exe,,,,\n",
     "5: [Shortcuts] line needs 6 commas (shortcut file, target, arguments, working folder, "
     "description, icon file, icon index), found 5"},
    {"shortcut commas from the name", "!QSP40\n[Global]\nApplicationName = A, B\n[Shortcuts]\n"
     "%PROGRAMS%%APPNAME%.lnk,%MAINDIR%a.exe,,,,,0\n",
     "5: [Shortcuts] line needs 6 commas (shortcut file, target, arguments, working folder, "
     "description, icon file, icon index), found 7 once %APPNAME% is filled in"},
    // the setup program fails on these half-way through the installation
    {"shortcut without its file", "[Shortcuts]\n ,%MAINDIR%a.exe,,,,,0\n",
     "5: [Shortcuts] line names no shortcut file: the setup program cannot save the shortcut"},
    {"INI line without its file", "[INIFiles]\n,Settings,Key,1\n",
     "5: [INIFiles] line names no INI file: the setup program cannot write its entry"},
    {"ini commas", "[INIFiles]\n%MAINDIR%a.ini,Section,Key\n",
     "5: [INIFiles] line needs at least 3 commas (INI file, section, key, value), found 2"},
    {"registry root", "[SysRegString]\nHKEY_USERS/Software/A/Name=x\n",
     "5:1: unknown registry root \"HKEY_USERS\": use HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, "
     "HKEY_LOCAL_MACHINE or HKEY_CURRENT_CONFIG (the names are case-sensitive)"},
    {"registry root case", "[SysRegUninstall]\nhkey_current_user/Software/A\n",
     "5:1: unknown registry root \"hkey_current_user\": use HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, "
     "HKEY_LOCAL_MACHINE or HKEY_CURRENT_CONFIG (the names are case-sensitive)"},
    {"registry value name", "[SysRegInt]\nHKEY_CURRENT_USER/Software=1\n",
     "5:27: registry line has no value name: write HKEY_CURRENT_USER/KEY/NAME=VALUE (KEY/ with nothing "
     "after it for the key's default value)"},
    // read in the setup program's order: the value name before the root
    {"registry value name first", "[SysRegInt]\nHKEY_USERS/Software=1\n",
     "5:20: registry line has no value name: write HKEY_USERS/KEY/NAME=VALUE (KEY/ with nothing "
     "after it for the key's default value)"},
    {"registry without slash", "[SysRegInt]\nHKEY_CURRENT_USER\n",
     "5:18: registry line has no \"/\": write ROOT/KEY/NAME=VALUE with ROOT one of HKEY_CLASSES_ROOT, "
     "HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_CURRENT_CONFIG"},
    {"empty string value", "[SysRegString]\nHKEY_CURRENT_USER/Software/A/Name=\n",
     "5: [SysRegString] line has no value after \"=\": the setup program cannot write an empty string"},
    {"uninstall the root", "[SysRegUninstall]\nHKEY_LOCAL_MACHINE/\n",
     "5:20: names no key below HKEY_LOCAL_MACHINE: the uninstaller would have to remove the whole root"},
    // the setup program passes it over, rather than have its uninstaller empty the root
    {"uninstall the root, slashes", "[SysRegUninstall]\nifempty: HKEY_CURRENT_USER//\n",
     "5:28: names no key below HKEY_CURRENT_USER: the uninstaller would have to remove the whole root"},
    {"unknown placeholder", "[Execute]\n%MAINDIR%a.exe %USERNAME%\n", "5: unknown placeholder %USERNAME%"},
    {"lower-case placeholder", "[RegisterDlls]\n%maindir%a.dll\n", "5: unknown placeholder %maindir%"},
    {"lone percent", "[INIFiles]\n%MAINDIR%a.ini,S,K,100%\n", "5: a lone \"%\" (write %% for a percent sign)"},
    {"placeholder in a file destination", "[Files]\nsrc/a.txt, %PROGRAMFILE%a.txt\n",
     "5: unknown placeholder %PROGRAMFILE%"},
    {"MAINDIR in DefaultDir", "!QSP40\n[Global]\nApplicationName = A\nDefaultDir = %MAINDIR%x\n",
     "4: DefaultDir cannot use %MAINDIR%: the installation folder is made from DefaultDir"},
    {"empty AppId", "AppId =\n", "4: AppId is empty: leave it out, or name the Add/Remove Programs entry"},
    {"AppId with a path", "AppId = Example\\App\n",
     "4: AppId Example\\App holds a \"\\\" or \"/\": it is one registry key name"},
    {"AppId with a placeholder", "AppId = %APPNAME%\n",
     "4: AppId %APPNAME% holds a \"%\": it is used as it stands, placeholders are not filled in"},
    {"AppIdRoot", "AppId = Example\nAppIdRoot = HKEY_USERS\n",
     "5: AppIdRoot = HKEY_USERS: use HKEY_LOCAL_MACHINE (the default) or HKEY_CURRENT_USER"},
    {"Scope", "Scope = User\n", "4: Scope = User: use machine (the default), user or choose"},
    // one user has no administrator rights: what needs them is refused where it is written
    {"per user: the machine's registry", "Scope = user\n[SysRegString]\nHKEY_LOCAL_MACHINE/Software/A/N=x\n",
     "6: a per-user installation (Scope = user) has no rights to HKEY_LOCAL_MACHINE: use HKEY_CURRENT_USER"},
    {"per user: a key removed at uninstall", "Scope = user\n[SysRegUninstall]\nifempty: HKEY_LOCAL_MACHINE/Software/A\n",
     "6: a per-user installation (Scope = user) has no rights to HKEY_LOCAL_MACHINE: use HKEY_CURRENT_USER"},
    {"per user: classes", "Scope = user\n[SysRegInt]\nHKEY_CLASSES_ROOT/.abc/N=1\n",
     "6: a per-user installation (Scope = user) has no rights to HKEY_CLASSES_ROOT, whose new keys Windows writes "
     "under HKEY_LOCAL_MACHINE: use HKEY_CURRENT_USER/Software/Classes"},
    {"per user: AppIdRoot", "AppId = A\nAppIdRoot = HKEY_LOCAL_MACHINE\nScope = user\n",
     "5: AppIdRoot = HKEY_LOCAL_MACHINE: a per-user installation (Scope = user) has no rights to HKEY_LOCAL_MACHINE; "
     "its Add/Remove Programs entry goes under HKEY_CURRENT_USER (leave AppIdRoot out)"},
    {"per user: DefaultDir", "Scope = user\nDefaultDir = %WINDOWS%A\n",
     "5: DefaultDir: a per-user installation (Scope = user) has no rights to %WINDOWS%; use %PROGRAMFILES%, which is "
     "the user's programs folder"},
    {"per user: a file destination", "Scope = user\n[Files]\nsrc/a.txt, %SYSTEM%a.txt\n",
     "6: the destination: a per-user installation (Scope = user) has no rights to %SYSTEM%; install into %MAINDIR% "
     "or another folder of the user's"},
    {"per user: a shortcut", "Scope = user\n[Shortcuts]\n%WINDOWS%A.lnk,%MAINDIR%a.exe,,,,,0\n",
     "6: the shortcut file: a per-user installation (Scope = user) has no rights to %WINDOWS%; use %PROGRAMS%, "
     "%DESKTOP% or %STARTUP%"},
    {"per user: an INI file", "Scope = user\n[INIFiles]\n%WINDOWS%win.ini,S,K,V\n",
     "6: the INI file: a per-user installation (Scope = user) has no rights to %WINDOWS%; keep it in %MAINDIR% or "
     "another folder of the user's"},
    {"per user: a DLL of the system", "Scope = user\n[RegisterDlls]\n%SYSTEM%a.dll\n",
     "6: the DLL: a per-user installation (Scope = user) has no rights to %SYSTEM%; register only the application's "
     "own DLLs"},
    {"a flag where it means nothing", "[Execute]\nifabsent: %MAINDIR%a.exe\n",
     "5: ifabsent: is a flag of [INIFiles], [SysRegInt], [SysRegString] only"},
    {"a flagged line is checked as any", "[SysRegUninstall]\nifempty: HKEY_USERS/Software/A\n",
     "5:10: unknown registry root \"HKEY_USERS\": use HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, "
     "HKEY_LOCAL_MACHINE or HKEY_CURRENT_CONFIG (the names are case-sensitive)"},
    {"background picture missing", "[Background]\nUseBackground = TRUE\nBitmap = art\\none.bmp\n",
     "6: file not found: @/art/none.bmp"},
    // the licence and the side picture: read and checked as the build packs them
    {"licence missing", "LicenseFile = gone.txt\n", "4: LicenseFile: cannot read @/gone.txt: No such file or directory"},
    {"licence a folder", "LicenseFile = src\n", "4: LicenseFile: cannot read @/src: Is a directory"},
    {"licence empty", "LicenseFile =\n", "4: LicenseFile is empty: leave it out, or name a text file"},
    {"licence without text", "LicenseFile = blank.txt\n", "4: LicenseFile @/blank.txt: the file holds no text"},
    {"licence in UTF-16", "LicenseFile = wide.txt\n",
     "4: LicenseFile @/wide.txt: it is UTF-16 (little-endian) text: save it as UTF-8"},
    {"picture missing", "WizardImage = art\\side.bmp\n",
     "4: WizardImage: cannot read @/art/side.bmp: No such file or directory"},
    {"picture no bitmap", "WizardImage = src/a.txt\n", "4: WizardImage @/src/a.txt: it is not a Windows bitmap (.bmp)"},
    {"picture cut short", "WizardImage = short.bmp\n", "4: WizardImage @/short.bmp: it is cut short: its pixels end early"},
    {"picture too large", "WizardImage = huge.bmp\n",
     "4: WizardImage @/huge.bmp: 5000 x 10 pixels is more than the setup program loads (at most 4096 a side); the "
     "wizard shows it far smaller"},
    // typos the setup program would pass over: nothing installed, or into C:\ (DefaultDir's default)
    {"section typo", "[Fiels]\nsrc/a.txt, %MAINDIR%a.txt\n", "4: `[Fiels]`: no such section; did you mean `[Files]`?"},
    {"section cut short", "[Shortcut]\n", "4: `[Shortcut]`: no such section; did you mean `[Shortcuts]`?"},
    {"section with a tail", "[FilesToInstall]\n", "4: `[FilesToInstall]`: no such section; did you mean `[Files]`?"},
    {"section case", "[files]\n", "4: `[files]`: no such section; did you mean `[Files]`? (section names are case-sensitive)"},
    {"section unlike any", "[Registry]\n", "4: `[Registry]`: no such section; the sections are " + EverySection()},
    // components and tasks: a header names one, each is defined once, with known flags
    {"header naming no component", "[Components]\ndocs, Help\n[Files:doc]\nsrc/a.txt, %MAINDIR%a.txt\n",
     "6: `[Files:doc]` names no component or task, so its lines would never run; did you mean `docs`?"},
    {"header naming a task in other letters", "[Tasks]\ndesktopicon, Icon\n[Shortcuts:DesktopIcon]\n",
     "6: `[Shortcuts:DesktopIcon]` names no component or task, so its lines would never run; did you mean "
     "`desktopicon`? (names are case-sensitive)"},
    {"header in a script without any", "[Shortcuts:desktopicon]\n",
     "4: `[Shortcuts:desktopicon]` names no component or task, so its lines would never run; list it in "
     "[Components] or [Tasks]"},
    {"section typo with a component", "[Flies:docs]\n", "4: `[Flies:docs]`: no such section; did you mean `[Files]`?"},
    {"keyed section for a component", "[Components]\ndocs, Help\n[Global:docs]\n",
     "6: `[Global:docs]`: only an action section ([Files], [Shortcuts] ...) can be given for a component or task"},
    {"defined twice", "[Components]\ndocs, Help\n[Tasks]\nDocs, Open the help\n",
     "7: `Docs` is defined twice, first on line 5 (names of components and tasks are compared without regard to case)"},
    {"flag case", "[Components]\ndocs, Help, Unchecked\n",
     "5: unknown flag `Unchecked`: did you mean `unchecked`? (flags are case-sensitive)"},
    {"comma in a description", "[Components]\ndocs, Help, examples and samples\n",
     "5: unknown flag `examples`: the flags are fixed and unchecked (a description that holds a comma goes in double "
     "quotes)"},
    {"fixed and unchecked", "[Tasks]\nicon, Icon, fixed unchecked\n",
     "5: fixed and unchecked exclude each other: a fixed task is always done"},
    {"name with a blank", "[Components]\nuser docs, Help\n",
     "5: `user docs` cannot name a component: use 1 to 64 letters, digits, \"_\", \"-\" or \".\" (a header such as "
     "[Files:NAME] names it after its colon)"},
    {"no description", "[Tasks]\nicon\n", "5: [Tasks] line has no description: write NAME, DESCRIPTION[, FLAGS]"},
    {"a component's file missing", "[Components]\ndocs, Help\n[Files:docs]\nsrc/gone.pdf, %MAINDIR%gone.pdf\n",
     "7: file not found: @/src/gone.pdf"},
    {"a task's line checked as any", "[Tasks]\nicon, Icon\n[Shortcuts:icon]\n%DESKTOP%A.lnk,%MAINDIR%a.exe,,,,\n",
     "7: [Shortcuts] line needs 6 commas (shortcut file, target, arguments, working folder, description, icon file, "
     "icon index), found 5"},
    {"header without bracket", "[Files\nsrc/a.txt, %MAINDIR%a.txt\n",
     "4: `[Files` is no section header (no \"]\"), yet it ends the section above it"},
    {"key with a tail", "DefaultDirectory = C:\\App\n", "4: `DefaultDirectory`: no such key in [Global]; did you mean `DefaultDir`?"},
    {"key typo", "AllowChangeInstalDir = TRUE\n",
     "4: `AllowChangeInstalDir`: no such key in [Global]; did you mean `AllowChangeInstallDir`?"},
    {"key case", "ShowEulaPage = TRUE\n",
     "4: `ShowEulaPage`: no such key in [Global]; did you mean `ShowEULAPage`? (key names are case-sensitive)"},
    {"key swapped letters", "AppId = A\nVersoin = 1.0\n", "5: `Versoin`: no such key in [Global]; did you mean `Version`?"},
    {"key unlike any", "[Background]\nZoom = 2\n",
     "5: `Zoom`: no such key in [Background]; the keys are UseBackground, TopColor, BottomColor, Bitmap, "
     "BitmapPlacement, Metafile"},
    {"key of the other section", "UseBackground = TRUE\n", "4: `UseBackground` belongs in [Background], not [Global]"},
    {"indented key", " DefaultDir = C:\\App\n",
     "4: `DefaultDir` is indented: the setup program finds a key only at the start of its line"},
    {"key and tab", "DefaultDir\t= C:\\App\n",
     "4: a tab follows `DefaultDir`: the setup program takes only blanks and \"=\" after a key"},
    {"key without equals", "ShowEULAPage TRUE\n", "4: `ShowEULAPage` has no \"=\": write ShowEULAPage = VALUE"},
    // the program the finish page starts
    {"launch without a program", "RunAfterInstall = \"\" /x\n",
     "4: RunAfterInstall names no program: write RunAfterInstall = %MAINDIR%App.exe [arguments]"},
    {"launch with an open quote", "RunAfterInstall = \"%MAINDIR%My App.exe /x\n",
     "4: RunAfterInstall: the quote before the program is never closed"},
    {"launch by a bare name", "RunAfterInstall = notepad.exe %MAINDIR%readme.txt\n",
     "4: RunAfterInstall: notepad.exe is no full path; the setup program starts only a program named with its folder "
     "(%MAINDIR%App.exe)"},
    {"launch with a typo", "RunAfterInstall = %MAINDIR%a.exe %MIANDIR%\n", "4: RunAfterInstall: unknown placeholder %MIANDIR%"},
};

// A 24-bit bitmap file of w x h, all black.
std::string Bitmap(int w, int h) {
  auto le = [](uint32_t v, int n) {
    std::string b;
    for (int i = 0; i < n; ++i) b += (char)(v >> (8 * i));
    return b;
  };
  const uint32_t pixels = (uint32_t)((w * 3 + 3) / 4 * 4 * h);
  return "BM" + le(54 + pixels, 4) + le(0, 4) + le(54, 4) + le(40, 4) + le(w, 4) + le(h, 4) + le(1, 2) + le(24, 2) +
         le(0, 4) + le(pixels, 4) + std::string(16, '\0') + std::string(pixels, '\0');
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

TEST(Validation, EachRuleNamesFileAndLineAndNothingIsWritten) {
  for (const Rule& rule : kRules) {
    TempDir dir;
    Project project(dir);
    WriteWholeFile(dir.File("src/a.txt"), "a");
    WriteWholeFile(dir.File("src/sub/A.TXT"), "other a");
    WriteWholeFile(dir.File("src/default.qsp"), "QSP40\n");
    WriteWholeFile(dir.File("blank.txt"), "\xEF\xBB\xBF \r\n");
    WriteWholeFile(dir.File("wide.txt"), std::string("\xFF\xFEL\0i\0", 6));
    WriteWholeFile(dir.File("short.bmp"), Bitmap(4, 4).substr(0, 60));
    WriteWholeFile(dir.File("huge.bmp"), Bitmap(5000, 10));
    std::string script = rule.Script[0] == '!' ? std::string(rule.Script + 1)
                                               : "QSP40\n[Global]\nApplicationName = A\n" + std::string(rule.Script);
    project.Write(script);
    std::vector<std::string> before = dir.List();
    RunResult r = project.Build(dir.File("Setup.exe"));
    EXPECT_EQ(1, r.Code) << rule.Name;
    std::string expected = project.Path() + ":" + Replace(rule.Expected, "@", dir.Path) + "\n";
    EXPECT_NE(std::string::npos, r.Err.find(expected)) << rule.Name << "\n" << r.Err;
    EXPECT_NE(std::string::npos, r.Err.find("nothing written")) << rule.Name;
    before.push_back("stub.exe");
    std::sort(before.begin(), before.end());
    EXPECT_EQ(before, dir.List()) << rule.Name;
  }
}

TEST(Validation, AllProblemsAreListedInLineOrderWithWarningsBeside) {
  TempDir dir;
  Project project(dir);
  WriteWholeFile(dir.File("a.txt"), "a");
  project.Write(
      "QSP40\n"
      "[Global]\n"
      "ApplicationName = A\n"
      "DefaultDir = C:\\[A]\n"   // hides the key below
      "ShowEULAPage = TRUE\n"
      "[Files]\n"
      "a.txt, %MAINDIR%%B%.txt\n"
      "a.txt\n"
      "[files]\n"
      "[Execute]\n"
      "%FOO%\n");
  RunResult r = project.Build(dir.File("Setup.exe"));
  EXPECT_EQ(1, r.Code);
  std::string p = project.Path();
  std::string expected =
      p + ":4: warning: the \"[\" in this value ends [Global] for the setup program: ShowEULAPage "
          "below it will be ignored\n" +
      p + ":7: unknown placeholder %B%\n" +
      p + ":8:6: [Files] line has no comma: write \"source, destination\"\n" +
      p + ":9: `[files]`: no such section; did you mean `[Files]`? (section names are case-sensitive)\n" +
      p + ":11: unknown placeholder %FOO%\n" + "quillset: 4 problems, nothing written\n";
  EXPECT_EQ(expected, r.Err);
  EXPECT_FALSE(Exists(dir.File("Setup.exe")));
}

TEST(Validation, WarningsAloneDoNotStopTheBuild) {
  TempDir dir;
  Project project(dir);
  project.Write(
      "QSP40\n[Global]\nApplicationName = A\nAllowChangeInstallDir = true\n"
      "[Background]\nUseBackground = TRUE\nBitmapPlacement = FILL\n"
      "[INIFiles]\n%MAINDIR%a.ini,S,K,two words\n"
      "[Global]\n"
      "DefaultDir = C:\\Never\n");
  RunResult r = project.Build(dir.File("Setup.exe"));
  EXPECT_EQ(0, r.Code) << r.Err;
  std::string p = project.Path();
  EXPECT_NE(std::string::npos, r.Err.find(p + ":4: warning: AllowChangeInstallDir = true is read as FALSE"));
  EXPECT_NE(std::string::npos, r.Err.find(p + ":7: warning: BitmapPlacement = FILL draws no bitmap"));
  EXPECT_NE(std::string::npos, r.Err.find(p + ":9: warning: the value \"two words\" has a blank: only \"two\" is written"));
  EXPECT_NE(std::string::npos, r.Err.find(p + ":10: warning: [Global] is never read here"));
  EXPECT_TRUE(Exists(dir.File("Setup.exe")));

  // what the setup program reads otherwise than written, or not at all
  project.Write(
      "QSP40\nDefaultDir = C:\\Lost\nmore\n[Global]\nApplicationName = A\nLanguage = Deutsch\n"
      "DefaultDir = C:\\One\nDefaultDir = C:\\Two\n");
  r = project.Build(dir.File("Setup.exe"));
  EXPECT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ(p + ":2: warning: this line is in no section, so the setup program never reads it\n" +
                p + ":6: warning: Language is not read: the setup program speaks the language of its translation "
                    "table (quillset build --language)\n" +
                p + ":8: warning: DefaultDir is given again: the setup program reads the first, on line 7\n",
            r.Err);
}

// An [INIFiles] value that a folder placeholder fills may end at a blank of
// the user's folder: warned about at its line unless it is in double quotes.
TEST(Validation, AnUnquotedIniValueFromAFolderPlaceholderIsWarnedAbout) {
  TempDir dir;
  Project project(dir);
  project.Write(
      "QSP40\n[Global]\nApplicationName = A\n[INIFiles]\n"
      "%MAINDIR%app.ini,Settings,InstallDir,%MAINDIR%\n"
      "%MAINDIR%app.ini,Settings,Data, %PROGRAMFILES%Co\\data\n"
      "%MAINDIR%app.ini,Settings,Quoted,\"%MAINDIR%\"\n"
      "%MAINDIR%app.ini,Settings,Both,\"two words\"\n"
      "%MAINDIR%app.ini,Settings,Drive,%SOURCEDRIVE%\n"
      "%MAINDIR%app.ini,Settings,Percent,100%%\n");
  RunResult r = project.Build(dir.File("Setup.exe"));
  EXPECT_EQ(0, r.Code) << r.Err;
  std::string p = project.Path();
  EXPECT_NE(std::string::npos,
            r.Err.find(p + ":5: warning: the value \"%MAINDIR%\" is not in double quotes: %MAINDIR% can hold a "
                           "blank, and the value ends at the first one"))
      << r.Err;
  EXPECT_NE(std::string::npos,
            r.Err.find(p + ":6: warning: the value \"%PROGRAMFILES%Co\\data\" is not in double quotes: "
                           "%PROGRAMFILES% can hold a blank"))
      << r.Err;
  for (const char* quiet : {":7:", ":8:", ":9:", ":10:"}) EXPECT_EQ(std::string::npos, r.Err.find(p + quiet)) << r.Err;
}

// For one user, a system folder that is only read or run is warned about
// at most; a script that lets the user choose may be the machine's, so it
// is refused nothing.
TEST(Validation, APerUserScriptMayReadWhatItCannotWriteAndChooseIsRefusedNothing) {
  TempDir dir;
  Project project(dir);
  const std::string lines =
      "[Shortcuts]\n%DESKTOP%Pad.lnk,%WINDOWS%notepad.exe,,%SYSTEM%,Pad,%SYSTEM%shell32.dll,2\n"
      "[INIFiles]\n%MAINDIR%a.ini,S,Windows,\"%WINDOWS%\"\n"
      "[SysRegString]\nHKEY_CURRENT_USER/Software/A/N=%SYSTEM%\n"
      "[Execute]\n\"%SYSTEM%cmd.exe\" /c exit\n\"%SYSTEM%cmd.exe\" /c echo x> \"%WINDOWS%x.txt\"\n";
  project.Write("QSP40\n[Global]\nApplicationName = A\nScope = user\n" + lines);
  RunResult r = project.Build(dir.File("Setup.exe"));
  EXPECT_EQ(0, r.Code) << r.Err;
  const std::string p = project.Path();
  EXPECT_EQ(p + ":13: warning: a per-user installation (Scope = user) runs this without administrator rights: it "
                "cannot change %WINDOWS% or other things of the machine's\n",
            r.Err);
  project.Write("QSP40\n[Global]\nApplicationName = A\nScope = choose\nAppId = A\nAppIdRoot = HKEY_LOCAL_MACHINE\n"
                "DefaultDir = %WINDOWS%A\n[SysRegUninstall]\nHKEY_LOCAL_MACHINE/Software/A\n"
                "[RegisterDlls]\n%SYSTEM%a.dll\n" + lines);
  r = project.Build(dir.File("Setup.exe"));
  EXPECT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ("", r.Err);
}

// The program to launch: one the script installs (letter case and either
// separator aside), or one outside the installation, which nobody can
// check; a per-user script may name it too.
TEST(Validation, ALaunchedProgramOfTheInstallationMustBeOneOfItsFiles) {
  TempDir dir;
  Project project(dir);
  WriteWholeFile(dir.File("src/a.exe"), "MZ");
  const std::string files = "[Files]\nsrc/a.exe, %MAINDIR%bin\\App.exe\n";
  project.Write("QSP40\n[Global]\nApplicationName = A\nRunAfterInstall = %MAINDIR%bin\\My App.exe\n" + files);
  RunResult r = project.Build(dir.File("Setup.exe"));
  EXPECT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ(project.Path() + ":4: warning: RunAfterInstall: %MAINDIR%bin\\My is not a file the script installs "
                             "(quote a program whose path has blanks)\n",
            r.Err);
  for (const char* fine : {"\"%MAINDIR%BIN/app.EXE\" /first \"%MYDOCUMENTS%\"", "%SYSTEM%cmd.exe /c exit",
                           "\\\\server\\tools\\welcome.exe"}) {
    project.Write("QSP40\n[Global]\nApplicationName = A\nScope = user\nRunAfterInstall = " + std::string(fine) +
                  "\n" + files);
    r = project.Build(dir.File("Setup.exe"));
    EXPECT_EQ(0, r.Code) << fine << r.Err;
    EXPECT_EQ("", r.Err) << fine;
  }
  // a component's files are the script's too
  project.Write("QSP40\n[Global]\nApplicationName = A\nRunAfterInstall = %MAINDIR%bin\\App.exe\n"
                "[Components]\napp, The program, unchecked\n[Files:app]\nsrc/a.exe, %MAINDIR%bin\\App.exe\n");
  r = project.Build(dir.File("Setup.exe"));
  EXPECT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ("", r.Err);
}

// KeepInstalledDir is a flag of an installation found by its AppId.
TEST(Validation, KeepInstalledDirIsAFlagThatNeedsAppId) {
  TempDir dir;
  Project project(dir);
  project.Write("QSP40\n[Global]\nApplicationName = A\nKeepInstalledDir = yes\n");
  RunResult r = project.Build(dir.File("Setup.exe"));
  EXPECT_EQ(0, r.Code) << r.Err;
  std::string p = project.Path();
  EXPECT_NE(std::string::npos, r.Err.find(p + ":4: warning: KeepInstalledDir = yes is read as FALSE")) << r.Err;
  EXPECT_NE(std::string::npos, r.Err.find(p + ":4: warning: KeepInstalledDir needs AppId")) << r.Err;
  project.Write("QSP40\n[Global]\nApplicationName = A\nAppId = A\nKeepInstalledDir = TRUE\n");
  r = project.Build(dir.File("Setup.exe"));
  EXPECT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ("", r.Err);
}

// An unquoted program path that a placeholder starts may hold a blank on
// the user's machine; quoted ones, literal ones and %% are left alone.
TEST(Validation, AnUnquotedProgramPathFromAPlaceholderIsWarnedAbout) {
  TempDir dir;
  Project project(dir);
  project.Write(
      "QSP40\n[Global]\nApplicationName = A\n[Execute]\n"
      "%MAINDIR%setup tool.exe /quiet\n"
      "  %PROGRAMFILES%App\\run.exe\n"
      "\"%MAINDIR%app.exe\" /firstrun\n"
      "C:\\Tools\\run.exe %MAINDIR%\n"
      "%%literal.exe\n");
  RunResult r = project.Build(dir.File("Setup.exe"));
  EXPECT_EQ(0, r.Code) << r.Err;
  std::string p = project.Path();
  EXPECT_NE(std::string::npos,
            r.Err.find(p + ":5: warning: the program %MAINDIR%setup is not in quotes: where the folder has a blank, "
                           "Windows tries another program first (C:\\Program.exe for C:\\Program Files\\...); "
                           "write \"%MAINDIR%setup\" followed by its arguments"))
      << r.Err;
  EXPECT_NE(std::string::npos, r.Err.find(p + ":6: warning: the program %PROGRAMFILES%App\\run.exe is not in quotes"))
      << r.Err;
  EXPECT_NE(std::string::npos, r.Err.find("write \"%PROGRAMFILES%App\\run.exe\"\n")) << r.Err;
  for (const char* quiet : {":7:", ":8:", ":9:"}) EXPECT_EQ(std::string::npos, r.Err.find(p + quiet)) << r.Err;
}

// The licence is stored in UTF-8 whatever it was written in, the picture as
// it is, each under a name of its own that no [Files] line takes.
TEST(Validation, TheLicenceIsStoredAsUtf8AndThePictureAsItIs) {
  TempDir dir;
  Project project(dir);
  const std::string latin1 = "Licence \xE9t\xE9\r\n";
  WriteWholeFile(dir.File("licence.txt"), latin1);
  WriteWholeFile(dir.File("art/side.bmp"), Bitmap(164, 314));
  project.Write("QSP40\n[Global]\nApplicationName = A\nLicenseFile = licence.txt\nWizardImage = art\\side.bmp\n"
                "[Files]\nlicence.txt, %MAINDIR%licence.txt\n");
  RunResult r = project.Build(dir.File("Setup.exe"));
  ASSERT_EQ(0, r.Code) << r.Err;
  r = RunQuillset({"extract", "-d", dir.File("out"), dir.File("Setup.exe")});
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ("Licence \xC3\xA9t\xC3\xA9\r\n", ReadWholeFile(dir.File("out/{LicenseFile}.txt")));
  EXPECT_EQ(Bitmap(164, 314), ReadWholeFile(dir.File("out/{WizardImage}.bmp")));
  EXPECT_EQ(latin1, ReadWholeFile(dir.File("out/licence.txt")));
}

TEST(Validation, SourcesResolveAgainstTheScriptWithEitherSeparatorAndAreStoredOnce) {
  TempDir dir;
  Project project(dir);
  project.Script = "proj/app.qsp";
  WriteWholeFile(dir.File("proj/files/a.txt"), "a");
  WriteWholeFile(dir.File("abs.txt"), "b");
  project.Write("QSP40\n[Global]\nApplicationName = A\n[Files]\n"
                "files\\a.txt, %MAINDIR%a.txt\n"
                "./files/../files/a.txt, %DESKTOP%A.TXT\n" +
                dir.File("abs.txt") + ", %MAINDIR%sub\\abs.txt\n");
  RunResult r = project.Build(dir.File("Setup.exe"));
  ASSERT_EQ(0, r.Code) << r.Err;
  RunResult list = RunQuillset({"list", dir.File("Setup.exe")});
  // a.txt once, abs.txt, the script and the table
  EXPECT_NE(std::string::npos, list.Out.find("4 entries")) << list.Out;
}

}  // namespace
