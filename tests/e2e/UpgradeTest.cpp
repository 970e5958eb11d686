// A second installation into the folder of the first: an upgrade or a
// repair. The uninstaller then removes what every version installed, a
// cancelled or failed second run leaves the first as it was, and values that
// were there before a run come back when it is rolled back.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../win32/Robot.h"
#include "../win32/TestSupport.h"
#include "E2eSupport.h"
#include "EnglishText.h"
#include "resources/resource.h"

namespace {

const DWORD kTimeout = 60000;
const char kEntry[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuillsetTest.Upgrade";
const char kAppKey[] = "Software\\QuillsetTest-Upgrade";
const char kUserKey[] = "Software\\QuillsetTest-UsersValues";

// Every path below root with its content and last-write time; folders end
// in a backslash.
void FileState(const std::string& root, std::map<std::string, std::string>* out) {
  WalkTree(root, [out](const std::string& path, const WIN32_FIND_DATAA& f) {
    if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      (*out)[path + "\\"] = "";
      return;
    }
    // an INI file's values are put back by writing them: its content counts
    const std::string name = f.cFileName;
    const bool ini = name.size() > 4 && name.compare(name.size() - 4, 4, ".ini") == 0;
    (*out)[path] = (ini ? std::string() : FileTimeText(f.ftLastWriteTime) + " ") + ReadWholeFile(path);
  });
}

// Every value below a key, with its type and bytes; subkeys end in "\".
void KeyState(HKEY root, const std::string& path, std::map<std::string, std::string>* out) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  (*out)[path + "\\"] = "";
  char name[512];
  BYTE data[4096];
  for (DWORD i = 0;; ++i) {
    DWORD n = sizeof name, size = sizeof data, type = 0;
    if (RegEnumValueA(key, i, name, &n, NULL, &type, data, &size) != ERROR_SUCCESS) break;
    (*out)[path + "\\" + name] = std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
  }
  std::vector<std::string> subkeys;
  for (DWORD i = 0;; ++i) {
    DWORD n = sizeof name;
    if (RegEnumKeyExA(key, i, name, &n, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
    subkeys.push_back(name);
  }
  RegCloseKey(key);
  for (const std::string& s : subkeys) KeyState(root, path + "\\" + s, out);
}

std::string EntryValue(const char* name, HKEY root = HKEY_LOCAL_MACHINE) {
  char text[MAX_PATH] = "<none>";
  DWORD size = sizeof text;
  HKEY key;
  if (RegOpenKeyExA(root, kEntry, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no entry>";
  RegQueryValueExA(key, name, NULL, NULL, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  return text;
}

std::string StartMenuFolder() {
  char path[MAX_PATH] = "";
  SHGetSpecialFolderPathA(NULL, path, CSIDL_PROGRAMS, FALSE);
  return std::string(path) + "\\Quillpad Upgrade Test";
}

class Upgrade : public ::testing::Test {
 protected:
  TempFolder dir;
  std::string target;
  Robot robot;

  void SetUp() override {
    target = dir.File("Quillpad");
    Clean();
  }
  void TearDown() override { Clean(); }
  // what a test that stopped half-way left: a folder that is there already
  // is not the installation's to remove
  void Clean() {
    DeleteFileA((StartMenuFolder() + "\\Mines.lnk").c_str());
    RemoveDirectoryA(StartMenuFolder().c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEntry);
    RegDeleteKeyA(HKEY_CURRENT_USER, kEntry);
    for (const char* key : {kAppKey, kUserKey}) {
      RegDeleteKeyA(HKEY_CURRENT_USER, (std::string(key) + "\\Sub").c_str());
      RegDeleteKeyA(HKEY_CURRENT_USER, key);
    }
  }

  // Version 1: a game with its shortcut, files, an INI entry of the folder
  // and a registry value. Version 2 drops the game and adds a folder.
  std::string Script(int version, const std::string& folder, const std::string& more = "") {
    std::string s = "QSP40\r\n[Global]\r\nApplicationName = Quillpad\r\nDefaultDir = " + folder +
                    "\r\nAppId = QuillsetTest.Upgrade\r\nVersion = " + std::to_string(version) +
                    ".0\r\nShowEULAPage = FALSE\r\nAllowChangeInstallDir = TRUE\r\n" + more +
                    "[Files]\r\na.txt, %MAINDIR%a.txt\r\n";
    s += version == 1 ? "old.txt, %MAINDIR%old.txt\r\nwinemine.exe, %MAINDIR%games\\winemine.exe\r\n"
                        "[Shortcuts]\r\n%PROGRAMS%Quillpad Upgrade Test\\Mines.lnk,%MAINDIR%games\\winemine.exe,,"
                        "%MAINDIR%,Mines,,0\r\n"
                      : "b.txt, %MAINDIR%bin\\b.txt\r\n";
    s += "[INIFiles]\r\n%MAINDIR%quillpad.ini,Settings,InstallDir,\"%MAINDIR%\"\r\n";
    if (version == 2) s += "%MAINDIR%quillpad.ini,Settings,Theme,dark\r\n";
    s += "[SysRegUninstall]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Upgrade\r\n"
         "[SysRegString]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Upgrade/Version=" +
         std::to_string(version) + ".0\r\n";
    return s;
  }

  std::string Build(int version, const std::string& folder, const std::string& more = "", bool big = false) {
    TempFolder* build = new TempFolder;  // kept until the test ends: the setup file lives there
    builds.emplace_back(build);
    std::vector<SetupSource> files = {{"a.txt", "a of " + std::to_string(version)}};
    if (version == 1) {
      files.push_back({"old.txt", "old"});
      files.push_back({"winemine.exe", "MZ not really a game"});
    } else {
      files.push_back({"b.txt", "b"});
    }
    std::string script = Script(version, folder, more);
    SetupOptions options;
    options.Table = table;
    if (big) {
      // large enough to be cancelled while it is copied
      files.push_back({"big.bin", RandomBytes(24 << 20, 7)});
      files.push_back({"big2.bin", RandomBytes(24 << 20, 8)});
      script.replace(script.find("b.txt, "), 0, "big.bin, %MAINDIR%bin\\big.bin\r\nbig2.bin, %MAINDIR%bin\\big2.bin\r\n");
    }
    return BuildSetupFile(*build, script, files, options);
  }
  std::vector<std::unique_ptr<TempFolder>> builds;
  std::string table;  // the builds' table; empty: the English one

  DWORD Silent(const std::string& setup, const std::string& options = "") {
    Robot run;
    if (!run.Start("\"" + setup + "\" /S" + options)) return 999;
    DWORD code = 999;
    run.WaitForExit(kTimeout, &code);
    return code;
  }

  void InstallWithWizard(const std::string& setup) {
    HWND w = StartSetup(robot, setup);
    ASSERT_TRUE(w);
    InstallWithDefaults(robot, w);
  }

  // Everything either version could leave behind.
  std::map<std::string, std::string> Machine() {
    std::map<std::string, std::string> s;
    FileState(target, &s);
    FileState(StartMenuFolder(), &s);
    KeyState(HKEY_LOCAL_MACHINE, kEntry, &s);
    KeyState(HKEY_CURRENT_USER, kAppKey, &s);
    return s;
  }

  void ExpectNothingLeft() {
    // the uninstaller removes its own folder after it has ended
    robot.WaitUntil([&] { return !PathExists(target); }, kTimeout, "the uninstaller's self-removal");
    EXPECT_FALSE(PathExists(target)) << "files left: " << FilesIn(target).size();
    EXPECT_FALSE(PathExists(StartMenuFolder()));
    EXPECT_FALSE(KeyExists(kAppKey));
    EXPECT_FALSE(KeyExists(kEntry, HKEY_LOCAL_MACHINE));
    EXPECT_FALSE(KeyExists(kEntry, HKEY_CURRENT_USER));
  }
};

TEST_F(Upgrade, VersionOneThenTwoThenUninstallLeavesNothingWithTheWizard) {
  InstallWithWizard(Build(1, target));
  ASSERT_TRUE(PathExists(StartMenuFolder() + "\\Mines.lnk"));
  InstallWithWizard(Build(2, target));
  EXPECT_EQ("2.0", EntryValue("DisplayVersion"));
  EXPECT_TRUE(PathExists(target + "\\games\\winemine.exe"));  // not version 2's to touch
  // version 1's records first, each once
  const std::string log = ReadWholeFile(target + "\\Uninstall.log");
  EXPECT_EQ(0u, log.find("DirectoryCreated=" + target + "\n")) << log;
  EXPECT_LT(log.find("winemine.exe"), log.find("b.txt")) << log;
  EXPECT_EQ(log.find("FileCreated=" + target + "\\a.txt\n"), log.rfind("FileCreated=" + target + "\\a.txt\n"));
  Robot un;
  UninstallWithYes(un, target + "\\Uninstall.exe", dir.Path());
  ExpectNothingLeft();
}

TEST_F(Upgrade, VersionOneThenTwoThenUninstallLeavesNothingSilently) {
  ASSERT_EQ(0u, Silent(Build(1, target)));
  ASSERT_EQ(0u, Silent(Build(2, target)));
  EXPECT_TRUE(PathExists(target + "\\games\\winemine.exe"));
  EXPECT_TRUE(PathExists(target + "\\bin\\b.txt"));
  EXPECT_TRUE(PathExists(StartMenuFolder() + "\\Mines.lnk"));
  ASSERT_EQ(0u, Silent(target + "\\Uninstall.exe"));
  ExpectNothingLeft();
}

TEST_F(Upgrade, ARepairThenUninstallLeavesNothing) {
  const std::string setup = Build(1, target);
  ASSERT_EQ(0u, Silent(setup));
  InstallWithWizard(setup);
  Robot un;
  UninstallWithYes(un, target + "\\Uninstall.exe", dir.Path());
  ExpectNothingLeft();
}

// Version 2 finds version 1 by its AppId: the page proposes its folder, not
// DefaultDir, and a silent run installs there unless /D= names another.
TEST_F(Upgrade, TheInstalledFolderIsProposed) {
  ASSERT_EQ(0u, Silent(Build(1, target)));
  const std::string elsewhere = dir.File("Elsewhere");
  const std::string second = Build(2, elsewhere);
  HWND w = StartSetup(robot, second);
  ASSERT_TRUE(w);
  InstallWithDefaults(robot, w, [&](HWND page) { EXPECT_EQ(target, Robot::ItemText(page, IDC_DESTINATION)); });
  EXPECT_TRUE(PathExists(target + "\\bin\\b.txt"));
  EXPECT_FALSE(PathExists(elsewhere));

  ASSERT_EQ(0u, Silent(second));
  EXPECT_FALSE(PathExists(elsewhere));
  // into another folder: the first stays installed, and its uninstaller
  // leaves the entry that names the second
  const std::string installLog = dir.File("install.log"), uninstallLog = dir.File("uninstall.log");
  ASSERT_EQ(0u, Silent(second, " /LOG=" + installLog + " /D=" + elsewhere));
  EXPECT_TRUE(PathExists(elsewhere + "\\bin\\b.txt"));
  EXPECT_TRUE(PathExists(target + "\\Uninstall.exe"));
  EXPECT_EQ(elsewhere, EntryValue("InstallLocation"));
  EXPECT_NE(std::string::npos, ReadWholeFile(installLog).find("Earlier installation left: " + target + " stays"))
      << ReadWholeFile(installLog);
  ASSERT_EQ(0u, Silent(target + "\\Uninstall.exe", " /LOG=" + uninstallLog));
  robot.WaitUntil([&] { return !PathExists(target); }, kTimeout, "the first uninstaller's self-removal");
  EXPECT_FALSE(PathExists(target));
  EXPECT_EQ(elsewhere, EntryValue("InstallLocation"));
  EXPECT_TRUE(PathExists(elsewhere + "\\Uninstall.exe"));
  EXPECT_NE(std::string::npos, ReadWholeFile(uninstallLog).find("Add/Remove Programs entry kept"))
      << ReadWholeFile(uninstallLog);
  ASSERT_EQ(0u, Silent(elsewhere + "\\Uninstall.exe"));
  robot.WaitUntil([&] { return !PathExists(elsewhere); }, kTimeout, "the second uninstaller's self-removal");
  ExpectNothingLeft();
}

// KeepInstalledDir = TRUE: the page shows the installed folder read-only
// and a /D= elsewhere is refused before anything is done.
TEST_F(Upgrade, KeepInstalledDirAllowsNoOtherFolder) {
  ASSERT_EQ(0u, Silent(Build(1, target)));
  const std::string elsewhere = dir.File("Elsewhere");
  const std::string second = Build(2, elsewhere, "KeepInstalledDir = TRUE\r\n");
  EXPECT_EQ(1u, Silent(second, " /D=" + elsewhere));
  EXPECT_FALSE(PathExists(elsewhere));
  EXPECT_EQ("1.0", EntryValue("DisplayVersion"));
  HWND w = StartSetup(robot, second);
  ASSERT_TRUE(w);
  InstallWithDefaults(robot, w, [&](HWND page) {
    EXPECT_EQ(target, Robot::ItemText(page, IDC_DESTINATION));
    EXPECT_TRUE(GetWindowLongA(GetDlgItem(page, IDC_DESTINATION), GWL_STYLE) & ES_READONLY);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_BROWSE)));
  });
  EXPECT_EQ("2.0", EntryValue("DisplayVersion"));
  ASSERT_EQ(0u, Silent(target + "\\Uninstall.exe"));
  ExpectNothingLeft();
}

// A cancel of version 2 at any step leaves version 1 as it was, its log and
// entry included, byte for byte; and its uninstaller still removes it all.
TEST_F(Upgrade, ACancelledOrFailedVersionTwoLeavesVersionOneAsItWas) {
  ASSERT_EQ(0u, Silent(Build(1, target)));
  const std::map<std::string, std::string> before = Machine();
  ASSERT_EQ(1u, before.count(target + "\\quillpad.ini"));
  const std::string second = Build(2, target);

  // on the welcome, destination and start pages
  HWND w = NULL;
  DWORD code = 99;
  const char* const pages[] = {"WELCOME", "CHOOSE_DESITNATION_LOCATION", "START_INSTALLATION"};
  for (int cancelOn = 0; cancelOn < 3; ++cancelOn) {
    SCOPED_TRACE(pages[cancelOn]);
    w = StartSetup(robot, second);
    ASSERT_TRUE(w);
    for (int page = 1; page <= cancelOn; ++page) {
      ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
      w = robot.WaitForWindow("#32770", En(pages[page]).c_str(), 20000);
      ASSERT_TRUE(w);
    }
    ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
    EXPECT_EQ(En("DO_YOU_REALY_WANT_TO_QUIT"), robot.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDYES, 10000));
    ASSERT_TRUE(robot.WaitForExit(kTimeout, &code));
    EXPECT_EQ(2u, code);
    EXPECT_TRUE(before == Machine());
  }

  // on the finish page: every section has run, the INI and registry values
  // are overwritten, the new folder made
  w = StartSetup(robot, second);
  ASSERT_TRUE(w);
  ASSERT_NO_FATAL_FAILURE(WalkToFinishPage(robot, &w, IDC_CANCEL_INSTALL));
  EXPECT_TRUE(PathExists(target + "\\bin\\b.txt"));
  Robot::Settle(w);
  ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
  EXPECT_EQ(En("DO_YOU_REALY_WANT_TO_QUIT"), robot.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDYES, 10000));
  ASSERT_TRUE(robot.WaitForExit(kTimeout, &code));
  EXPECT_EQ(2u, code);
  std::map<std::string, std::string> after = Machine();
  EXPECT_TRUE(before == after) << "after a cancel on the finish page";

  // at Finish, after the entry was written: the old log is held open
  HANDLE held = CreateFileA((target + "\\Uninstall.log").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  w = StartSetup(robot, second);
  ASSERT_TRUE(w);
  ASSERT_NO_FATAL_FAILURE(WalkToFinishPage(robot, &w, IDC_NEXT));
  Robot::Settle(w);
  ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
  EXPECT_EQ(En("FAILED_TO_CREATE_UNINSTALL_EXE"), robot.AnswerMessageBox(En("ERROR").c_str(), IDOK, 20000));
  ASSERT_TRUE(robot.WaitForExit(kTimeout, &code));
  EXPECT_EQ(1u, code);
  CloseHandle(held);
  after = Machine();
  EXPECT_TRUE(before == after) << "after a failed Finish";
  for (auto& p : before)
    if (after.count(p.first) == 0 || after[p.first] != p.second) ADD_FAILURE() << "changed: " << p.first;
  for (auto& p : after)
    if (before.count(p.first) == 0) ADD_FAILURE() << "new: " << p.first;

  ASSERT_EQ(0u, Silent(target + "\\Uninstall.exe"));
  ExpectNothingLeft();
}

// The same while version 2 copies its files: the cancel question holds the
// copy still, and Yes rolls back what was copied.
TEST_F(Upgrade, ACancelWhileVersionTwoCopiesLeavesVersionOneAsItWas) {
  ASSERT_EQ(0u, Silent(Build(1, target)));
  const std::map<std::string, std::string> before = Machine();
  HWND w = StartSetup(robot, Build(2, target, "", true));
  ASSERT_TRUE(w);
  for (const char* page : {"CHOOSE_DESITNATION_LOCATION", "START_INSTALLATION", "INSTALLING"}) {
    ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
    w = robot.WaitForWindow("#32770", En(page).c_str(), 20000);
    ASSERT_TRUE(w);
  }
  // at once: Cancel stays enabled while the files are copied
  ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL)) << "the files were copied already";
  EXPECT_EQ(En("DO_YOU_REALY_WANT_TO_QUIT"), robot.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDYES, 10000));
  DWORD code = 99;
  ASSERT_TRUE(robot.WaitForExit(kTimeout, &code));
  EXPECT_EQ(2u, code);
  EXPECT_TRUE(before == Machine());
  EXPECT_FALSE(PathExists(target + "\\bin"));
}

// A user's INI value and registry values that a run overwrites come back
// when it is rolled back; the user's key listed for removal stays, and
// what the run added goes.
TEST_F(Upgrade, TheUsersOwnValuesComeBackAfterARollback) {
  const std::string ini = dir.File("user.ini");
  WritePrivateProfileStringA("Settings", "Server", "user-value", ini.c_str());
  WritePrivateProfileStringA("Settings", "Other", "\"kept as it is\"", ini.c_str());
  const std::string iniBefore = ReadWholeFile(ini);
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kUserKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
  RegSetValueExA(key, "Server", 0, REG_SZ, reinterpret_cast<const BYTE*>("user-value"), 11);
  const DWORD port = 8080;
  RegSetValueExA(key, "Port", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port), sizeof port);
  RegCloseKey(key);
  std::map<std::string, std::string> keyBefore;
  KeyState(HKEY_CURRENT_USER, kUserKey, &keyBefore);

  const std::string script =
      "QSP40\r\n[Global]\r\nApplicationName = Values\r\nDefaultDir = " + target +
      "\r\nShowEULAPage = FALSE\r\n[Files]\r\na.txt, %MAINDIR%a.txt\r\n[INIFiles]\r\n" + ini +
      ",Settings,Server,setup-value\r\n" + ini + ",Settings,Added,new\r\n" + ini +
      ",Fresh,Key,new\r\n[SysRegUninstall]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-UsersValues\r\n"
      "[SysRegInt]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-UsersValues/Port=1\r\n"
      "[SysRegString]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-UsersValues/Server=setup-value\r\n"
      "HKEY_CURRENT_USER/Software/QuillsetTest-UsersValues/Added=new\r\n"
      "HKEY_CURRENT_USER/Software/QuillsetTest-UsersValues/Sub/Deep=new\r\n"
      // fails: everything above is rolled back
      "HKEY_USERS/Software/QuillsetTest-UsersValues/Never=1\r\n";
  HWND w = StartSetup(robot, BuildSetupFile(dir, script, {{"a.txt", "a"}}));
  ASSERT_TRUE(w);
  for (const char* page : {"CHOOSE_DESITNATION_LOCATION", "START_INSTALLATION", "INSTALLING"}) {
    ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
    w = robot.WaitForWindow("#32770", En(page).c_str(), 20000);
    ASSERT_TRUE(w);
  }
  EXPECT_NE(std::string::npos, robot.AnswerMessageBox(En("ERROR").c_str(), IDOK, kTimeout).find("unrecognized key"));
  DWORD code = 99;
  ASSERT_TRUE(robot.WaitForExit(kTimeout, &code));
  EXPECT_EQ(1u, code);

  char text[64];
  GetPrivateProfileStringA("Settings", "Server", "", text, sizeof text, ini.c_str());
  EXPECT_STREQ("user-value", text);
  EXPECT_EQ(iniBefore, ReadWholeFile(ini));  // no added key, no empty [Fresh], the quotes kept
  std::map<std::string, std::string> keyAfter;
  KeyState(HKEY_CURRENT_USER, kUserKey, &keyAfter);
  EXPECT_TRUE(keyBefore == keyAfter);
  EXPECT_EQ(keyBefore.size(), keyAfter.size());
  EXPECT_FALSE(PathExists(target));
}

// A quoted %MAINDIR% under Program Files writes the whole folder, without
// its quotes; unquoted, the value still ends at the first blank.
TEST_F(Upgrade, AQuotedIniValueKeepsItsBlanks) {
  const std::string folder = ProgramFilesDir() + "\\Quillset Quoted Test";
  ASSERT_NE(std::string::npos, folder.find(' '));
  const std::string script = "QSP40\r\n[Global]\r\nApplicationName = Quoted\r\nDefaultDir = %PROGRAMFILES%Quillset "
                             "Quoted Test\r\n[Files]\r\na.txt, %MAINDIR%a.txt\r\n[INIFiles]\r\n"
                             "%MAINDIR%app.ini,Settings,InstallDir,\"%MAINDIR%\"\r\n"
                             "%MAINDIR%app.ini,Settings,Cut,%MAINDIR%\r\n";
  ASSERT_EQ(0u, Silent(BuildSetupFile(dir, script, {{"a.txt", "a"}})));
  char text[MAX_PATH];
  GetPrivateProfileStringA("Settings", "InstallDir", "", text, sizeof text, (folder + "\\app.ini").c_str());
  EXPECT_EQ(folder + "\\", text);
  EXPECT_EQ(std::string::npos, ReadWholeFile(folder + "\\app.ini").find('"'));
  GetPrivateProfileStringA("Settings", "Cut", "", text, sizeof text, (folder + "\\app.ini").c_str());
  EXPECT_EQ(folder.substr(0, folder.find(' ')), text);
  ASSERT_EQ(0u, Silent(folder + "\\Uninstall.exe"));
  robot.WaitUntil([&] { return !PathExists(folder); }, kTimeout, "the uninstaller's self-removal");
}

// A file set aside in a 247-character folder: Windows makes no temporary
// name there, so the reinstall names it itself.
TEST_F(Upgrade, ADeepReinstallWorks) {
  std::string deep = dir.Path() + "\\";
  while (deep.size() < 242) deep += 'd';
  deep.resize(242);
  const std::string sub = deep + "\\data";
  ASSERT_EQ(247u, sub.size());
  const std::string script = "QSP40\r\n[Global]\r\nApplicationName = Deep\r\nDefaultDir = " + deep +
                             "\r\n[Files]\r\na.txt, %MAINDIR%data\\a.txt\r\n";
  ASSERT_EQ(0u, Silent(BuildSetupFile(dir, script, {{"a.txt", "first"}}, "Deep1.exe")));
  ASSERT_EQ(0u, Silent(BuildSetupFile(dir, script, {{"a.txt", "second"}}, "Deep2.exe")));
  EXPECT_EQ("second", ReadWholeFile(sub + "\\a.txt"));
  EXPECT_EQ((std::vector<std::string>{"a.txt"}), FilesIn(sub));  // no copy left beside it
  ASSERT_EQ(0u, Silent(deep + "\\Uninstall.exe"));
  robot.WaitUntil([&] { return !PathExists(deep); }, kTimeout, "the uninstaller's self-removal");
  EXPECT_FALSE(PathExists(deep));
}

// An older Version over a newer one: the wizard asks first, No leaves the
// newer one as it is; a silent or passive run refuses with its own exit code.
TEST_F(Upgrade, ADowngradeIsAskedAboutAndRefusedSilently) {
  ASSERT_EQ(0u, Silent(Build(2, target)));
  const std::map<std::string, std::string> before = Machine();
  const std::string older = Build(1, target);
  EXPECT_EQ(6u, Silent(older));
  EXPECT_TRUE(before == Machine());
  // nor does /PASSIVE ask: a question would hold the run until the timeout
  Robot passive;
  ASSERT_TRUE(passive.Start("\"" + older + "\" /PASSIVE"));
  DWORD refused = 99;
  ASSERT_TRUE(passive.WaitForExit(kTimeout, &refused));
  EXPECT_EQ(6u, refused);
  EXPECT_TRUE(before == Machine());

  ASSERT_TRUE(robot.Start("\"" + older + "\""));
  const std::string asked = robot.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDNO, 20000);
  EXPECT_EQ("Version 2.0 of Quillpad is installed, which is newer than the version 1.0 that this setup "
            "installs.\nDo you want to install the older version over it?",
            asked);
  DWORD code = 99;
  ASSERT_TRUE(robot.WaitForExit(kTimeout, &code));
  EXPECT_EQ(2u, code);
  EXPECT_TRUE(before == Machine());

  // a table made before the question was: its English text, as the table has it
  table = dir.File("Older.ini");
  std::string olderTable = ReadWholeFile(kEnglish);
  const size_t key = olderTable.find("NEWER_VERSION_IS_INSTALLED");
  ASSERT_NE(std::string::npos, key);
  olderTable.erase(key, olderTable.find('\n', key) + 1 - key);
  WriteWholeFile(table, olderTable);
  Robot untranslated;
  ASSERT_TRUE(untranslated.Start("\"" + Build(1, target) + "\""));
  EXPECT_EQ(asked, untranslated.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDNO, 20000));
  ASSERT_TRUE(untranslated.WaitForExit(kTimeout, &code));
  EXPECT_EQ(2u, code);
  table.clear();

  Robot yes;
  ASSERT_TRUE(yes.Start("\"" + older + "\""));
  yes.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDYES, 20000);
  HWND w = yes.WaitForWindow("#32770", En("WELCOME").c_str(), 20000);
  ASSERT_TRUE(w);
  InstallWithDefaults(yes, w);
  EXPECT_EQ("1.0", EntryValue("DisplayVersion"));
  ASSERT_EQ(0u, Silent(target + "\\Uninstall.exe"));
  ExpectNothingLeft();
}

// Each scope finds only its own installation: a per-user version 2 finds
// version 1 under the user's entry (its folder, not DefaultDir), while a
// newer machine-wide installation of the same AppId is neither a downgrade
// nor a folder to it; a machine-wide setup finds that one, not the user's.
TEST_F(Upgrade, EachScopeFindsTheVersionInstalledInIt) {
  const std::string machine = dir.File("Machine Copy"), elsewhere = dir.File("Elsewhere");
  HKEY planted;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEntry, 0, NULL, 0, KEY_SET_VALUE, NULL, &planted,
                                           NULL));
  RegSetValueExA(planted, "DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>("9.0"), 4);
  RegSetValueExA(planted, "InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(machine.c_str()),
                 static_cast<DWORD>(machine.size() + 1));
  RegCloseKey(planted);

  ASSERT_EQ(0u, Silent(Build(1, target, "Scope = user\r\n")));
  EXPECT_EQ("1.0", EntryValue("DisplayVersion", HKEY_CURRENT_USER));
  ASSERT_EQ(0u, Silent(Build(2, elsewhere, "Scope = user\r\n")));
  EXPECT_EQ("2.0", EntryValue("DisplayVersion", HKEY_CURRENT_USER));
  EXPECT_TRUE(PathExists(target + "\\bin\\b.txt"));
  EXPECT_FALSE(PathExists(elsewhere));
  EXPECT_FALSE(PathExists(machine));
  EXPECT_EQ("9.0", EntryValue("DisplayVersion"));
  EXPECT_EQ(6u, Silent(Build(2, elsewhere))) << "the machine's 9.0 is newer";
  EXPECT_FALSE(PathExists(elsewhere));

  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEntry);
  ASSERT_EQ(0u, Silent(target + "\\Uninstall.exe"));
  ExpectNothingLeft();
}

}  // namespace

// The flags of an upgrade: an INI entry and a registry value written only
// when absent keep what the user made of them; a vendor key removed only
// when empty goes with its last program, and stays for another one.
TEST_F(Upgrade, FlagsKeepTheUsersValuesAndAVendorKeyGoesOnlyWhenEmpty) {
  const char vendor[] = "Software\\QuillsetTest Vendor";
  const std::string pad = std::string(vendor) + "\\Pad", other = std::string(vendor) + "\\Other";
  auto clean = [&] {
    for (const std::string& k : {pad, other, std::string(vendor)}) RegDeleteKeyA(HKEY_CURRENT_USER, k.c_str());
  };
  clean();
  auto script = [&](int build) {
    const std::string b = std::to_string(build);
    return "QSP40\r\n[Global]\r\nApplicationName = Flags\r\nDefaultDir = " + target +
           "\r\n[Files]\r\na.txt, %MAINDIR%a.txt\r\n[INIFiles]\r\n"
           "ifabsent: %MAINDIR%app.ini,Settings,Theme,Light\r\n%MAINDIR%app.ini,Settings,Build," + b +
           "\r\n[SysRegUninstall]\r\nifempty: HKEY_CURRENT_USER/Software/QuillsetTest Vendor\r\n"
           "HKEY_CURRENT_USER/Software/QuillsetTest Vendor/Pad\r\n[SysRegString]\r\n"
           "ifabsent: HKEY_CURRENT_USER/Software/QuillsetTest Vendor/Pad/Theme=Light\r\n"
           "HKEY_CURRENT_USER/Software/QuillsetTest Vendor/Pad/Build=" + b + "\r\n";
  };
  const std::string ini = target + "\\app.ini";
  auto iniValue = [&](const char* key) {
    char text[64] = "";
    GetPrivateProfileStringA("Settings", key, "<none>", text, sizeof text, ini.c_str());
    return std::string(text);
  };
  auto regValue = [&](const char* name) {
    char text[64] = "<none>";
    DWORD size = sizeof text - 1;
    HKEY k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, pad.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS) {
      RegQueryValueExA(k, name, NULL, NULL, reinterpret_cast<BYTE*>(text), &size);
      RegCloseKey(k);
    }
    return std::string(text);
  };
  const std::string one = BuildSetupFile(dir, script(1), {{"a.txt", "a"}}, "One.exe");
  const std::string two = BuildSetupFile(dir, script(2), {{"a.txt", "a"}}, "Two.exe");

  ASSERT_EQ(0u, Silent(one));
  EXPECT_EQ("Light", iniValue("Theme"));
  EXPECT_EQ("Light", regValue("Theme"));
  // the user's own choice, then an upgrade
  WritePrivateProfileStringA("Settings", "Theme", "Dark", ini.c_str());
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, pad.c_str(), 0, KEY_SET_VALUE, &key));
  RegSetValueExA(key, "Theme", 0, REG_SZ, reinterpret_cast<const BYTE*>("Dark"), 5);
  RegCloseKey(key);
  ASSERT_EQ(0u, Silent(two));
  EXPECT_EQ("Dark", iniValue("Theme"));
  EXPECT_EQ("Dark", regValue("Theme"));
  EXPECT_EQ("2", iniValue("Build"));
  EXPECT_EQ("2", regValue("Build"));

  // another program of the vendor keeps the vendor key
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, other.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
  RegCloseKey(key);
  ASSERT_EQ(0u, Silent(target + "\\Uninstall.exe"));
  robot.WaitUntil([&] { return !PathExists(target); }, kTimeout, "the uninstaller's self-removal");
  EXPECT_FALSE(KeyExists(pad.c_str()));
  EXPECT_TRUE(KeyExists(other.c_str()));
  EXPECT_TRUE(KeyExists(vendor));

  // the last program of the vendor takes the key with it
  RegDeleteKeyA(HKEY_CURRENT_USER, other.c_str());
  ASSERT_EQ(0u, Silent(two));
  ASSERT_EQ(0u, Silent(target + "\\Uninstall.exe"));
  robot.WaitUntil([&] { return !PathExists(target); }, kTimeout, "the uninstaller's self-removal");
  EXPECT_FALSE(PathExists(target));
  EXPECT_FALSE(KeyExists(vendor));
  clean();
}
