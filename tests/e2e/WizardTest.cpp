// A user's installation: the real setup program with a container built in
// the test, walked page by page through its wizard, then checked on disk,
// in the registry and in the uninstall log; cancels and failures must leave
// the machine as it was.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "../win32/TestSupport.h"
#include "E2eSupport.h"
#include "EnglishText.h"
#include "../win32/Robot.h"
#include "TestPaths.h"
#include "efs/EfsFormat.h"
#include "resources/resource.h"

namespace {


std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (size_t at; (at = s.find(from)) != std::string::npos;) s.replace(at, from.size(), to);
  return s;
}

std::vector<std::string> LeftoverTempFiles() {
  std::vector<std::string> all;
  for (const char* p : {"QSP*.tmp", "TRA*.tmp", "UNI*.tmp", "BMP*.tmp", "WMF*.tmp", "LIC*.tmp"}) {
    std::vector<std::string> some = TempFilesMatching(p);
    all.insert(all.end(), some.begin(), some.end());
  }
  std::sort(all.begin(), all.end());
  return all;
}

// Every path below root, folders marked with a final backslash.
void Snapshot(const std::string& root, std::vector<std::string>* out) {
  WalkTree(root, [out](const std::string& path, const WIN32_FIND_DATAA& f) {
    out->push_back(f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? path + "\\" : path);
  });
  std::sort(out->begin(), out->end());
}


std::string IniValue(const std::string& file, const char* section, const char* key) {
  char value[512];
  GetPrivateProfileStringA(section, key, "<none>", value, sizeof value, file.c_str());
  return value;
}

// One setup file and the folder it installs into.
class Wizard : public ::testing::Test {
 protected:
  TempFolder dir;
  std::string target;  // the destination folder typed on page 2
  Robot robot;

  void SetUp() override { target = dir.File("Installed App"); }

  std::string Build(const std::string& script, const std::vector<SetupSource>& files) {
    SetupOptions options;
    options.Method = TestMethod();
    return BuildSetupFile(dir, script, files, options);
  }

  HWND Start(const std::string& setup) {
    if (!robot.Start("\"" + setup + "\"")) {
      ADD_FAILURE() << "cannot start " << setup;
      return NULL;
    }
    return robot.WaitForWindow("#32770", En("WELCOME").c_str(), 20000);
  }

  // Presses a button and waits for the wizard to show the page captioned so.
  HWND Go(HWND wizard, int button, const char* captionKey) {
    EXPECT_TRUE(Robot::Press(wizard, button)) << "button " << button << "\n" << robot.WindowTree();
    return robot.WaitForWindow("#32770", En(captionKey).c_str(), 20000);
  }

  static bool Visible(HWND w, int id) { return IsWindowVisible(GetDlgItem(w, id)) != FALSE; }
  static bool Enabled(HWND w, int id) { return IsWindowEnabled(GetDlgItem(w, id)) != FALSE; }

  static std::vector<HWND> RuntimeControls(HWND w, const char* cls) {
    std::vector<HWND> out;
    for (const RobotControl& c : Robot::Controls(w))
      if (c.Id == IDC_RUNTIME && c.Class == cls) out.push_back(c.Window);
    return out;
  }

  // Walks pages 0 to 3 with the destination set to `destination`; returns
  // the wizard on the start page.
  HWND WalkToStart(HWND wizard, const std::string& destination, bool eula) {
    if (eula) wizard = Go(wizard, IDC_NEXT, "EULA");
    if (!wizard) return NULL;
    wizard = Go(wizard, IDC_NEXT, "CHOOSE_DESITNATION_LOCATION");
    if (!wizard) return NULL;
    Robot::SetItemText(wizard, IDC_DESTINATION, destination.c_str());
    return Go(wizard, IDC_NEXT, "START_INSTALLATION");
  }

  // The finish page is complete once the worker, after its last report has
  // returned, has enabled Cancel again.
  bool WaitForFinish(HWND wizard) {
    if (!robot.WaitUntil([&] {
          return Robot::ItemText(wizard, IDC_NEXT) == En("FINISH") && Enabled(wizard, IDC_NEXT) && Enabled(wizard, IDC_CANCEL_INSTALL);
        }, 60000, "the finish page"))
      return false;
    Robot::Settle(wizard);
    return true;
  }
};

const char kApp[] = "Example App";

std::string FullScript() {
  return "QSP40\r\n[Global]\r\nApplicationName = Example App\r\nDefaultDir = %PROGRAMFILES%Example App\r\n"
         "AllowChangeInstallDir = TRUE\r\nShowEULAPage = TRUE\r\n"
         "[Files]\r\nC:\\build\\readme.txt, %MAINDIR%readme.txt\r\nC:\\build\\app.dat,%MAINDIR%data\\app.dat\r\n"
         "[Shortcuts]\r\n%MAINDIR%Menu\\%APPNAME%.lnk,%MAINDIR%readme.txt,,%MAINDIR%,Read me,,0\r\n"
         "[INIFiles]\r\n%MAINDIR%app.ini,Settings,Language,English\r\n"
         "[SysRegUninstall]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Wizard\r\n"
         "[SysRegString]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Wizard/InstallDir=%MAINDIR%\r\n";
}

TEST_F(Wizard, EveryPageShowsItsTextsAndAFullInstallLeavesAWorkingUninstaller) {
  const std::string data = RandomBytes(300000, 11);
  std::string setup = Build(FullScript(), {{"readme.txt", "Read me first.\r\n"}, {"app.dat", data}});
  const std::vector<std::string> tempBefore = LeftoverTempFiles();
  HWND w = Start(setup);
  ASSERT_TRUE(w);
  // Welcome: Next and Cancel only.
  EXPECT_EQ(Replace(En("WELCOME_PAGE_TEXT"), "%APPNAME%", kApp), Robot::ItemText(w, IDC_PAGE_TEXT));
  EXPECT_FALSE(Visible(w, IDC_BACK));
  EXPECT_EQ(En("NEXT"), Robot::ItemText(w, IDC_NEXT));
  EXPECT_EQ(En("CANCEL"), Robot::ItemText(w, IDC_CANCEL_INSTALL));
  EXPECT_FALSE(Visible(w, IDC_BROWSE));
  EXPECT_FALSE(Visible(w, IDC_DESTINATION));
  EXPECT_FALSE(Visible(w, IDC_DESTINATION_FRAME));
  EXPECT_TRUE(Visible(w, IDC_SIDE_PICTURE));
  {
    // a static control given a picture takes the picture's size in pixels
    RECT picture = {};
    GetClientRect(GetDlgItem(w, IDC_SIDE_PICTURE), &picture);
    EXPECT_EQ(122, picture.right);
    EXPECT_EQ(262, picture.bottom);
  }
  // Licence: one box, on every visit.
  w = Go(w, IDC_NEXT, "EULA");
  ASSERT_TRUE(w);
  EXPECT_EQ(En("EULA_PAGE_TEXT"), Robot::ItemText(w, IDC_PAGE_TEXT));
  EXPECT_EQ(En("ACCEPT"), Robot::ItemText(w, IDC_NEXT));
  EXPECT_EQ(En("BACK"), Robot::ItemText(w, IDC_BACK));
  EXPECT_TRUE(Visible(w, IDC_BACK));
  ASSERT_EQ(1u, RuntimeControls(w, "Edit").size());
  EXPECT_EQ(En("EULA_BOX_TEXT"), Robot::Text(RuntimeControls(w, "Edit")[0]));
  w = Go(w, IDC_BACK, "WELCOME");
  EXPECT_EQ(0u, RuntimeControls(w, "Edit").size());
  w = Go(w, IDC_NEXT, "EULA");
  EXPECT_EQ(1u, RuntimeControls(w, "Edit").size());

  // Destination: the expanded default, editable, validated on Next.
  w = Go(w, IDC_NEXT, "CHOOSE_DESITNATION_LOCATION");
  ASSERT_TRUE(w);
  EXPECT_EQ(0u, RuntimeControls(w, "Edit").size());
  EXPECT_EQ(Replace(En("CHOOSEDESTINATION_PAGE_TEXT"), "%APPNAME%", kApp), Robot::ItemText(w, IDC_PAGE_TEXT));
  EXPECT_EQ(En("DESTINATION_FOLDER"), Robot::ItemText(w, IDC_DESTINATION_FRAME));
  EXPECT_EQ(En("BROWSE"), Robot::ItemText(w, IDC_BROWSE));
  EXPECT_TRUE(Visible(w, IDC_DESTINATION) && Visible(w, IDC_BROWSE) && Enabled(w, IDC_BROWSE));
  EXPECT_EQ(0, GetWindowLongA(GetDlgItem(w, IDC_DESTINATION), GWL_STYLE) & ES_READONLY);
  const std::string defaultDir = Robot::ItemText(w, IDC_DESTINATION);
  EXPECT_EQ(ProgramFilesDir() + "\\Example App", defaultDir);
  // a folder of 243 characters leaves no room for "\\Translations.ini" in
  // 259: every file would install and Finish would fail
  const std::string deep = dir.File(std::string(120, 'd').c_str());
  const std::string noRoom = deep + "\\" + std::string(243 - deep.size() - 1, 'r');
  ASSERT_EQ(243u, noRoom.size());
  for (const std::string& bad : {std::string(), std::string("K:\\No Such Drive\\App"), noRoom}) {
    Robot::SetItemText(w, IDC_DESTINATION, bad.c_str());
    ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
    EXPECT_EQ(En("PLEASE_ENTER_PATH_TO_INSTALL_DIR"),
              robot.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDOK, 10000)) << bad;
    Sleep(200);
    EXPECT_EQ(En("CHOOSE_DESITNATION_LOCATION"), Robot::Text(w)) << bad;
  }
  EXPECT_FALSE(PathExists(deep));  // the probe left nothing
  // Browse opens the folder browser with its title; Cancel there changes nothing.
  Robot::SetItemText(w, IDC_DESTINATION, target.c_str());
  ASSERT_TRUE(Robot::Press(w, IDC_BROWSE));
  HWND browser = NULL;
  robot.WaitUntil(
      [&] {
        for (HWND top : robot.TopLevelWindows(true))
          if (top != w)
            for (const RobotControl& c : Robot::Controls(top))
              if (c.Text == En("SELECT_DIRECTORY")) browser = top;
        return browser != NULL;
      },
      20000, "the folder browser");
  ASSERT_TRUE(browser);
  ASSERT_TRUE(Robot::Press(browser, IDCANCEL));
  ASSERT_TRUE(robot.WaitUntil([&] { return !IsWindow(browser); }, 10000, "the folder browser to close"));
  EXPECT_EQ(target, Robot::ItemText(w, IDC_DESTINATION));
  w = Go(w, IDC_NEXT, "START_INSTALLATION");
  ASSERT_TRUE(w);
  EXPECT_FALSE(PathExists(target));  // validated by a probe that leaves nothing
  EXPECT_EQ(Replace(En("STARTINSTALLATION_PAGE_TEXT"), "%APPNAME%", kApp), Robot::ItemText(w, IDC_PAGE_TEXT));
  EXPECT_FALSE(Visible(w, IDC_DESTINATION));

  w = Go(w, IDC_NEXT, "INSTALLING");
  ASSERT_TRUE(w);
  ASSERT_TRUE(WaitForFinish(w));
  EXPECT_EQ(Replace(En("PROGRAM_WAS_SUCCESSFULLY_INSTALLED"), "%APPNAME%", kApp), Robot::ItemText(w, IDC_PAGE_TEXT));
  EXPECT_FALSE(Enabled(w, IDC_BACK));
  EXPECT_TRUE(Enabled(w, IDC_CANCEL_INSTALL));
  for (HWND c : RuntimeControls(w, "msctls_progress32")) EXPECT_FALSE(IsWindowVisible(c));

  // The files are in place already; Finish writes the uninstaller.
  EXPECT_EQ(data, ReadWholeFile(target + "\\data\\app.dat"));
  ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
  DWORD code = 1;
  ASSERT_TRUE(robot.WaitForExit(20000, &code));
  EXPECT_EQ(0u, code);

  EXPECT_EQ("Read me first.\r\n", ReadWholeFile(target + "\\readme.txt"));
  // each file keeps the time its source had when it was packed
  for (const char* f : {"readme.txt", "app.dat"}) {
    const std::string installed = target + (f[0] == 'a' ? "\\data\\" : "\\") + f;
    EXPECT_NE(0u, WriteTime(installed)) << f;
    EXPECT_EQ(WriteTime(dir.File((std::string("src\\") + f).c_str())), WriteTime(installed)) << f;
  }
  EXPECT_EQ("English", IniValue(target + "\\app.ini", "Settings", "Language"));
  EXPECT_TRUE(PathExists(target + "\\Menu\\Example App.lnk"));
  EXPECT_TRUE(KeyExists("Software\\QuillsetTest-Wizard"));
  const std::string stub = ReadWholeFile(QS_STUB_PATH);
  const std::string uninstaller = ReadWholeFile(target + "\\Uninstall.exe");
  ASSERT_EQ(stub.size() + 16, uninstaller.size());
  EXPECT_EQ(stub, uninstaller.substr(0, stub.size()));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(UninstallerSignature), 16), uninstaller.substr(stub.size()));
  // the table as UTF-16, which the uninstaller reads whatever its code
  // page, and after it the program's name for the uninstaller's question
  std::string table = "\xFF\xFE";
  for (char c : ReadWholeFile(kEnglish) + "\r\n[Installed]\r\nApplicationName=\"" + kApp + "\"\r\n")
    table += std::string(1, c) + '\0';
  EXPECT_EQ(table, ReadWholeFile(target + "\\Translations.ini"));
  const std::string log = ReadWholeFile(target + "\\Uninstall.log");
  for (const std::string& line :
       {"FileCreated=" + target + "\\readme.txt\n", "DirectoryCreated=" + target + "\\data\n",
        "FileCreated=" + target + "\\Menu\\Example App.lnk\n",
        "IniFileEntryAdded=" + target + "\\app.ini,Settings,Language\n",
        std::string("SysRegSectionAdded=HKEY_CURRENT_USER/Software/QuillsetTest-Wizard\n")})
    EXPECT_NE(std::string::npos, log.find(line)) << line << "in\n" << log;
  EXPECT_EQ(0u, log.find("DirectoryCreated=" + target + "\n")) << log;
  EXPECT_EQ(tempBefore, LeftoverTempFiles());
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\QuillsetTest-Wizard");
}

// A page's default button (Enter presses it), the key each visible button
// marks (upper case, in the order given), and no key used twice.
std::string PageKeys(HWND w, const std::vector<int>& buttons) {
  const LRESULT defId = SendMessageA(w, DM_GETDEFID, 0, 0);
  std::string keys = HIWORD(defId) == DC_HASDEFID ? std::to_string(LOWORD(defId)) + ":" : "none:";
  for (int id : buttons) {
    const WCHAR key = Robot::AccessKey(GetDlgItem(w, id));
    keys += key > 0 && key < 128 ? (char)key : '?';
  }
  std::string sorted = keys.substr(keys.find(':') + 1);
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) keys += " (a key used twice)";
  return keys;
}

// Enter presses the page's default button, Esc asks the cancel question,
// Alt with a button's marked letter presses it, and the edits keep the
// keys they take: a whole installation from the keyboard.
TEST_F(Wizard, TheKeyboardAloneWalksEveryPageAndInstalls) {
  const std::string setup = Build(
      "QSP40\r\n[Global]\r\nApplicationName = Keys & Co\r\nDefaultDir = " + target +
          "\r\nAllowChangeInstallDir = TRUE\r\nShowEULAPage = TRUE\r\nRunAfterInstall = \"%SYSTEM%cmd.exe\" /c exit\r\n[Files]\r\nC:\\build\\readme.txt, %MAINDIR%readme.txt\r\n",
      {{"readme.txt", "Read me.\r\n"}});
  const std::string next = std::to_string(IDC_NEXT) + ":";
  HWND w = Start(setup);
  ASSERT_TRUE(w);
  // the table's texts as they stand, each button with a letter of its own
  EXPECT_EQ(En("NEXT"), Robot::ItemText(w, IDC_NEXT));
  EXPECT_EQ(En("CANCEL"), Robot::ItemText(w, IDC_CANCEL_INSTALL));
  EXPECT_EQ(next + "NC", PageKeys(w, {IDC_NEXT, IDC_CANCEL_INSTALL}));
  EXPECT_NE(0, GetWindowLongA(GetDlgItem(w, IDC_NEXT), GWL_STYLE) & BS_DEFPUSHBUTTON);
  EXPECT_EQ(GetDlgItem(w, IDC_NEXT), Robot::Focus(w));
  // an '&' of the name is shown, not taken for an access key
  EXPECT_EQ(Replace(En("WELCOME_PAGE_TEXT"), "%APPNAME%", "Keys & Co"), Robot::ItemText(w, IDC_PAGE_TEXT));
  EXPECT_NE(0, GetWindowLongA(GetDlgItem(w, IDC_PAGE_TEXT), GWL_STYLE) & SS_NOPREFIX);

  // Esc asks; Enter there takes its default, No.
  auto askAndStay = [&](HWND page, WORD vk, bool alt, const char* caption) {
    ASSERT_TRUE(Robot::Type(page, {vk}, alt));
    RobotMessageBox box = robot.WaitForMessageBox(En("INSTALL_TITLE").c_str(), 10000);
    ASSERT_TRUE(box.Window) << caption;
    EXPECT_EQ(En("DO_YOU_REALY_WANT_TO_QUIT"), box.Text);
    ASSERT_TRUE(Robot::Type(box.Window, {VK_RETURN}));
    ASSERT_TRUE(robot.WaitUntil([&] { return !IsWindow(box.Window) || !IsWindowVisible(box.Window); }, 10000,
                                "the question to close"));
    Robot::Settle(page);
    EXPECT_TRUE(robot.Running());
    EXPECT_EQ(En(caption), Robot::Text(page));
  };
  askAndStay(w, VK_ESCAPE, false, "WELCOME");

  auto type = [&](HWND page, WORD vk, bool alt, const char* captionKey) {
    EXPECT_TRUE(Robot::Type(page, {vk}, alt));
    return robot.WaitForWindow("#32770", En(captionKey).c_str(), 20000);
  };
  w = type(w, VK_RETURN, false, "EULA");
  ASSERT_TRUE(w);
  EXPECT_EQ(En("ACCEPT"), Robot::ItemText(w, IDC_NEXT));
  EXPECT_EQ(next + "ABC", PageKeys(w, {IDC_NEXT, IDC_BACK, IDC_CANCEL_INSTALL}));
  w = type(w, 'B', true, "WELCOME");
  ASSERT_TRUE(w);
  w = type(w, 'N', true, "EULA");
  ASSERT_TRUE(w);
  // Tab reaches the licence box, where Esc still asks and Enter accepts
  ASSERT_EQ(1u, RuntimeControls(w, "Edit").size());
  const HWND licence = RuntimeControls(w, "Edit")[0];
  for (int tab = 0; tab < 4 && Robot::Focus(w) != licence; ++tab) {
    const HWND before = Robot::Focus(w);
    ASSERT_TRUE(Robot::Type(w, {VK_TAB}));
    ASSERT_TRUE(robot.WaitUntil([&] { return Robot::Focus(w) != before; }, 5000, "Tab to move the focus"));
  }
  ASSERT_EQ(licence, Robot::Focus(w));
  askAndStay(w, VK_ESCAPE, false, "EULA");
  ASSERT_EQ(licence, Robot::Focus(w));
  w = type(w, VK_RETURN, false, "CHOOSE_DESITNATION_LOCATION");
  ASSERT_TRUE(w);

  // The folder's edit has the focus, and its letters go into it.
  EXPECT_EQ(GetDlgItem(w, IDC_DESTINATION), Robot::Focus(w));
  EXPECT_EQ(next + "NBCR", PageKeys(w, {IDC_NEXT, IDC_BACK, IDC_CANCEL_INSTALL, IDC_BROWSE}));
  ASSERT_TRUE(Robot::Type(w, {VK_END, 'N'}));
  ASSERT_TRUE(robot.WaitUntil([&] { return Robot::ItemText(w, IDC_DESTINATION) == target + "n"; }, 10000,
                              "the letter in the edit"));
  EXPECT_EQ(En("CHOOSE_DESITNATION_LOCATION"), Robot::Text(w));
  ASSERT_TRUE(Robot::Type(w, {VK_BACK}));
  ASSERT_TRUE(robot.WaitUntil([&] { return Robot::ItemText(w, IDC_DESTINATION) == target; }, 10000,
                              "the letter taken back"));
  w = type(w, VK_RETURN, false, "START_INSTALLATION");
  ASSERT_TRUE(w);
  EXPECT_EQ(GetDlgItem(w, IDC_NEXT), Robot::Focus(w));
  askAndStay(w, 'C', true, "START_INSTALLATION");
  askAndStay(w, VK_F4, true, "START_INSTALLATION");  // closing asks the same
  w = type(w, VK_RETURN, false, "INSTALLING");
  ASSERT_TRUE(w);
  ASSERT_TRUE(WaitForFinish(w));
  EXPECT_EQ(En("FINISH"), Robot::ItemText(w, IDC_NEXT));
  EXPECT_EQ(next + "FBC", PageKeys(w, {IDC_NEXT, IDC_BACK, IDC_CANCEL_INSTALL}));
  // the launch box shows the name's '&' as it stands; Enter is still Finish
  EXPECT_EQ(Replace(En("LAUNCH_APPLICATION"), "%APPNAME%", "Keys & Co"),
            Robot::Text(GetDlgItem(w, IDC_LAUNCH_AFTER_INSTALL)));
  EXPECT_EQ(GetDlgItem(w, IDC_NEXT), Robot::Focus(w));
  ASSERT_TRUE(Robot::Type(w, {VK_RETURN}));
  DWORD code = 1;
  ASSERT_TRUE(robot.WaitForExit(20000, &code));
  EXPECT_EQ(0u, code);
  EXPECT_EQ("Read me.\r\n", ReadWholeFile(target + "\\readme.txt"));
  EXPECT_TRUE(PathExists(target + "\\Uninstall.exe"));
}

// Components and tasks in the wizard, from the keyboard: the boxes as the
// script, an earlier version or the command line set them; Space ticks,
// Enter goes on; only what was chosen is installed, and all of it goes.
TEST_F(Wizard, ThePagesOfChoicesInstallWhatIsTickedAndProposeTheLastChoices) {
  char desktop[MAX_PATH] = "";
  ASSERT_TRUE(SHGetSpecialFolderPathA(NULL, desktop, CSIDL_DESKTOPDIRECTORY, TRUE));
  // every prefix's desktop is the Unix home, and the lanes run at once: a name per lane
  const std::string lnk = std::string("Wizard Choices ") + (sizeof(void*) == 8 ? "x64" : "x86") + ".lnk";
  const std::string link = std::string(desktop) + "\\" + lnk;
  struct Clean {
    std::string link;
    ~Clean() { DeleteFileA(link.c_str()); }
  } clean{link};
  auto setup = [&](int version) {
    std::string script = "QSP40\r\n[Global]\r\nApplicationName = Example App\r\nDefaultDir = " + target +
                         "\r\nAppId = QuillsetTest.WizardChoices\r\nVersion = " + std::to_string(version) +
                         ".0\r\n[Components]\r\ncore, The program, fixed\r\ndocs, Help & examples, unchecked\r\n";
    if (version == 2) script += "samples, Samples\r\n";
    script += "[Tasks]\r\ndesktopicon, Create a desktop shortcut, unchecked\r\n"
              "[Files]\r\nC:\\build\\a.txt, %MAINDIR%a.txt\r\n[Files:core]\r\nC:\\build\\b.bin, %MAINDIR%data\\b.bin\r\n"
              "[Files:docs]\r\nC:\\build\\manual.txt, %MAINDIR%docs\\manual.txt\r\n"
              "[Shortcuts:desktopicon]\r\n%DESKTOP%" + lnk + ",%MAINDIR%a.txt,,%MAINDIR%,Choices,,0\r\n";
    if (version == 2) script += "[Files:samples]\r\nC:\\build\\sample.txt, %MAINDIR%samples\\sample.txt\r\n";
    SetupOptions options;
    options.Method = TestMethod();
    options.Folder = "v" + std::to_string(version);
    options.Name = "Setup" + std::to_string(version) + ".exe";
    return BuildSetupFile(dir, script,
                          {{"a.txt", "alpha"}, {"b.bin", RandomBytes(200000, 5)}, {"manual.txt", "manual"},
                           {"sample.txt", "sample"}},
                          options);
  };
  auto installed = [&] {
    std::string what;
    for (const char* f : {"a.txt", "data\\b.bin", "docs\\manual.txt", "samples\\sample.txt"})
      if (PathExists(target + "\\" + f)) what += std::string(what.empty() ? "" : " ") + f;
    if (PathExists(link)) what += " link";
    return what;
  };
  // a box as the page shows it: "x" ticked, "-" not, "#" ticked and greyed
  auto boxes = [&](HWND w, int first, int count) {
    std::string shown;
    for (int id = IDC_CHOICE_FIRST + first; id < IDC_CHOICE_FIRST + first + count; ++id) {
      HWND box = GetDlgItem(w, id);
      if (!box || !IsWindowVisible(box)) {
        shown += '?';
        continue;
      }
      const bool ticked = SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
      shown += !IsWindowEnabled(box) ? (ticked ? '#' : '!') : (ticked ? 'x' : '-');
    }
    return shown;
  };
  auto type = [&](HWND page, WORD vk, const char* captionKey, bool alt = false) {
    EXPECT_TRUE(Robot::Type(page, {vk}, alt));
    return robot.WaitForWindow("#32770", En(captionKey).c_str(), 20000);
  };
  // Space on the focused box, which must be the first one that can be ticked
  auto tick = [&](HWND w, int id) {
    HWND box = GetDlgItem(w, id);
    ASSERT_EQ(box, Robot::Focus(w)) << robot.WindowTree();
    const LRESULT before = SendMessageA(box, BM_GETCHECK, 0, 0);
    ASSERT_TRUE(Robot::Type(w, {VK_SPACE}));
    ASSERT_TRUE(robot.WaitUntil([&] { return SendMessageA(box, BM_GETCHECK, 0, 0) != before; }, 5000,
                                "Space to turn the box"));
  };
  const std::string v1 = setup(1), v2 = setup(2);
  struct {
    const char* name;
    int version;
    const char* options;
    const char* before;       // v1 installed first, silently, with these
    const char* components;   // the boxes as the pages show them
    const char* tasks;
    bool tickDocs, tickIcon;  // Space on them: ticked, or no longer
    const char* installed;
  } cases[] = {
      {"the defaults", 1, "", nullptr, "#-", "-", false, false, "a.txt data\\b.bin"},
      {"all ticked", 1, "", nullptr, "#-", "-", true, true, "a.txt data\\b.bin docs\\manual.txt link"},
      {"from the command line", 1, "/COMPONENTS=docs /TASKS=desktopicon", nullptr, "#x", "x", false, false,
       "a.txt data\\b.bin docs\\manual.txt link"},
      {"v2 over v1", 2, "", "/S /COMPONENTS=docs /TASKS=desktopicon", "#xx", "x", false, false,
       "a.txt data\\b.bin docs\\manual.txt samples\\sample.txt link"},
      // what v1 made stays until the uninstaller, which removes it too
      {"v2 over v1, the task turned off", 2, "", "/S /TASKS=desktopicon", "#-x", "x", false, true,
       "a.txt data\\b.bin samples\\sample.txt link"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.before) {
      ASSERT_EQ(0u, RunWatched(Wide("\"" + v1 + "\" " + c.before), NULL, 60000).Code);
    }
    ASSERT_TRUE(robot.Start("\"" + (c.version == 2 ? v2 : v1) + "\" " + c.options));
    HWND w = robot.WaitForWindow("#32770", En("WELCOME").c_str(), 20000);
    ASSERT_TRUE(w);
    w = type(w, VK_RETURN, "CHOOSE_DESITNATION_LOCATION");
    ASSERT_TRUE(w);
    w = type(w, VK_RETURN, "SELECT_COMPONENTS");
    ASSERT_TRUE(w) << robot.WindowTree();
    const int components = c.version == 2 ? 3 : 2;
    EXPECT_EQ(c.components, boxes(w, 0, components));
    EXPECT_EQ("Help & examples", Robot::ItemText(w, IDC_CHOICE_FIRST + 1));  // the author's & shown
    EXPECT_NE(std::string::npos, Robot::ItemText(w, IDC_CHOICE_SPACE).find(" KB of disk space")) << robot.WindowTree();
    if (c.tickDocs) tick(w, IDC_CHOICE_FIRST + 1);
    w = type(w, VK_RETURN, "SELECT_TASKS");
    ASSERT_TRUE(w) << robot.WindowTree();
    EXPECT_EQ(c.tasks, boxes(w, components, 1));
    EXPECT_EQ("?", boxes(w, 0, 1)) << "the components' boxes are gone";
    if (c.tickIcon) tick(w, IDC_CHOICE_FIRST + components);
    // Back and Next keep what was ticked
    const std::string tasks = boxes(w, components, 1);
    w = type(w, 'B', "SELECT_COMPONENTS", true);
    ASSERT_TRUE(w);
    const std::string ticked = boxes(w, 0, components);
    EXPECT_EQ(c.tickDocs ? std::string("#x") : c.components, ticked);  // the boxes of v1 only
    w = type(w, VK_RETURN, "SELECT_TASKS");
    ASSERT_TRUE(w);
    EXPECT_EQ(tasks, boxes(w, components, 1));
    w = type(w, VK_RETURN, "START_INSTALLATION");
    ASSERT_TRUE(w);
    w = type(w, VK_RETURN, "INSTALLING");
    ASSERT_TRUE(w);
    ASSERT_TRUE(WaitForFinish(w));
    ASSERT_TRUE(Robot::Type(w, {VK_RETURN}));
    DWORD code = 1;
    ASSERT_TRUE(robot.WaitForExit(20000, &code));
    EXPECT_EQ(0u, code);
    EXPECT_EQ(c.installed, installed());
    EXPECT_EQ(0u, RunWatched(Wide("\"" + target + "\\Uninstall.exe\" /S"), NULL, 60000).Code);
    EXPECT_TRUE(robot.WaitUntil([&] { return !PathExists(target); }, 60000, "the installation going"));
    EXPECT_FALSE(PathExists(link));
  }
  // started without the rights: the elevated run shows the pages as told
  std::string pages, pressed;
  WatchedRun run = RunWatched(
      Wide("\"" + v1 + "\" /COMPONENTS=docs /LOG=" + dir.File("rights.log")), NULL, 60000,
      [&](HWND w) {
        const std::string caption = Robot::Text(w), next = Robot::ItemText(w, IDC_NEXT);
        if (next == En("FINISH") && !Enabled(w, IDC_CANCEL_INSTALL)) return;  // not complete yet
        if (caption + "|" + next == pressed) return;
        if (caption == En("SELECT_COMPONENTS")) pages += boxes(w, 0, 2) + " ";
        if (caption == En("SELECT_TASKS")) pages += boxes(w, 2, 1);
        if (Robot::Press(w, IDC_NEXT)) pressed = caption + "|" + next;
      },
      true);
  EXPECT_TRUE(run.Ended);
  EXPECT_EQ(0u, run.Code);
  EXPECT_EQ("#x -", pages);
  const std::string log = ReadWholeFile(dir.File("rights.log"));
  EXPECT_NE(std::string::npos, log.find("Elevated run: ended with exit code 0")) << log;
  EXPECT_EQ("a.txt data\\b.bin docs\\manual.txt", installed());
  EXPECT_EQ(0u, RunWatched(Wide("\"" + target + "\\Uninstall.exe\" /S"), NULL, 60000).Code);
  EXPECT_TRUE(robot.WaitUntil([&] { return !PathExists(target); }, 60000, "the installation going"));
}

TEST_F(Wizard, WithoutTheLicencePageOrAChangeableFolderTheWalkSkipsAndLocks) {
  std::string setup = Build(
      "QSP40\r\n[Global]\r\nApplicationName = Example App\r\nDefaultDir = " + target +
          "\r\nAllowChangeInstallDir = true\r\nShowEULAPage = FALSE\r\n",
      {});
  HWND w = Start(setup);
  ASSERT_TRUE(w);
  w = Go(w, IDC_NEXT, "CHOOSE_DESITNATION_LOCATION");  // page 1 skipped
  ASSERT_TRUE(w);
  EXPECT_EQ(target, Robot::ItemText(w, IDC_DESTINATION));
  EXPECT_NE(0, GetWindowLongA(GetDlgItem(w, IDC_DESTINATION), GWL_STYLE) & ES_READONLY);
  EXPECT_TRUE(Visible(w, IDC_BROWSE));
  EXPECT_FALSE(Enabled(w, IDC_BROWSE));
  w = Go(w, IDC_BACK, "WELCOME");  // and skipped going back
  ASSERT_TRUE(w);
  // Cancel before anything is installed: a question, then nothing changed.
  ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
  RobotMessageBox box = robot.WaitForMessageBox(En("INSTALL_TITLE").c_str(), 10000);
  EXPECT_EQ(En("DO_YOU_REALY_WANT_TO_QUIT"), box.Text);
  EXPECT_EQ((std::vector<std::string>{"Yes", "No"}), box.Buttons);
  robot.Answer(box, IDNO);
  EXPECT_TRUE(robot.Running());
  ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
  robot.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDYES, 10000);
  DWORD code = 99;
  EXPECT_TRUE(robot.WaitForExit(20000, &code));
  EXPECT_EQ(2u, code) << "cancelled by the user";
  EXPECT_FALSE(PathExists(target));
}

// A bottom-up 24-bit bitmap file of w x h in four coloured quarters:
// red, green above; blue, yellow below.
std::string QuartersBmp(int w, int h) {
  const int stride = (w * 3 + 3) / 4 * 4;
  auto le = [](uint32_t v, int n) {
    std::string b;
    for (int i = 0; i < n; ++i) b += (char)(v >> (8 * i));
    return b;
  };
  std::string f = "BM" + le(54 + stride * h, 4) + le(0, 4) + le(54, 4) + le(40, 4) + le(w, 4) + le(h, 4) + le(1, 2) +
                  le(24, 2) + le(0, 4) + le(stride * h, 4) + le(2835, 4) + le(2835, 4) + le(0, 4) + le(0, 4);
  for (int y = h - 1; y >= 0; --y) {
    std::string row;
    for (int x = 0; x < w; ++x) {
      const bool right = x >= w / 2, below = y >= h / 2;
      const COLORREF c = below ? (right ? RGB(255, 255, 0) : RGB(0, 0, 255)) : (right ? RGB(0, 255, 0) : RGB(255, 0, 0));
      row += {(char)GetBValue(c), (char)GetGValue(c), (char)GetRValue(c)};
    }
    f += row + std::string(stride - row.size(), '\0');
  }
  return f;
}

std::wstring WideText(HWND w) {
  DWORD_PTR n = 0;
  SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &n);
  std::wstring text(n + 1, L'\0');
  SendMessageTimeoutW(w, WM_GETTEXT, n + 1, (LPARAM)&text[0], SMTO_ABORTIFHUNG, 5000, &n);
  text.resize(n);
  return text;
}

// [Global] LicenseFile shows the licence page with the whole file in it,
// whatever its length and characters; WizardImage is the side picture,
// scaled into its place.
TEST_F(Wizard, TheAuthorsLicenceAndPictureShowWholeAndScaled) {
  std::string licence;
  for (int i = 1; licence.size() < 40 * 1024; ++i)
    licence += "\xC2\xA7" + std::to_string(i) +
               " Der Lizenznehmer darf die Software nutzen \xE2\x80\x93 \xC3\xA9t\xC3\xA9, \xE6\x97\xA5\xE6\x9C\xAC"
               "\xE8\xAA\x9E, \xD0\x9B\xD0\xB8\xD1\x86\xD0\xB5\xD0\xBD\xD0\xB7\xD0\xB8\xD1\x8F.\r\n";
  const std::string setup =
      Build("QSP40\r\n[Global]\r\nApplicationName = Example App\r\nDefaultDir = " + target +
                "\r\nLicenseFile = licence.txt\r\nWizardImage = side.bmp\r\n",
            {{"licence.txt", licence, false, EFS_LICENCE_ENTRY}, {"side.bmp", QuartersBmp(200, 400), false,
                                                                  EFS_WIZARD_IMAGE_ENTRY}});
  const std::vector<std::string> tempBefore = LeftoverTempFiles();
  HWND w = Start(setup);
  ASSERT_TRUE(w);
  // the picture's box: 79 x 159 of the template's 318 x 204 dialog units
  RECT client = {}, picture = {};
  GetClientRect(w, &client);
  HWND side = GetDlgItem(w, IDC_SIDE_PICTURE);
  GetClientRect(side, &picture);
  const int boxW = MulDiv(79, client.right, 318), boxH = MulDiv(159, client.bottom, 204);
  // 200 x 400 into the box: the side that reaches it first decides, the aspect stays
  const bool byWidth = boxW * 2 <= boxH;
  EXPECT_NEAR(byWidth ? boxW : boxH / 2, picture.right, 2) << boxW << " x " << boxH;
  EXPECT_NEAR(byWidth ? boxW * 2 : boxH, picture.bottom, 2) << boxW << " x " << boxH;
  // the screen shows the quarters in their colours
  Robot::Settle(w);
  const COLORREF quarters[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 0)};
  std::vector<COLORREF> shown(4);
  robot.WaitUntil(
      [&] {
        HDC screen = GetDC(NULL);
        for (int q = 0; q < 4; ++q) {
          POINT at = {(q % 2 * 2 + 1) * picture.right / 4, (q / 2 * 2 + 1) * picture.bottom / 4};
          ClientToScreen(side, &at);
          shown[q] = GetPixel(screen, at.x, at.y);
        }
        ReleaseDC(NULL, screen);
        return std::equal(shown.begin(), shown.end(), quarters);
      },
      5000, "the picture on the screen");
  for (int q = 0; q < 4; ++q) EXPECT_EQ(quarters[q], shown[q]) << "quarter " << q;

  // no ShowEULAPage: the licence file shows the page itself
  w = Go(w, IDC_NEXT, "EULA");
  ASSERT_TRUE(w);
  ASSERT_EQ(1u, RuntimeControls(w, "Edit").size());
  const HWND box = RuntimeControls(w, "Edit")[0];
  EXPECT_EQ(Wide(licence), WideText(box));
  EXPECT_NE(0, GetWindowLongA(box, GWL_STYLE) & ES_READONLY);
  w = Go(w, IDC_NEXT, "CHOOSE_DESITNATION_LOCATION");
  ASSERT_TRUE(w);
  w = Go(w, IDC_BACK, "EULA");
  ASSERT_TRUE(w);
  EXPECT_EQ(Wide(licence), WideText(RuntimeControls(w, "Edit")[0]));
  ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
  robot.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDYES, 10000);
  DWORD code = 99;
  EXPECT_TRUE(robot.WaitForExit(20000, &code));
  EXPECT_EQ(2u, code);
  EXPECT_EQ(tempBefore, LeftoverTempFiles());

  // a setup whose licence entry is missing says so and installs nothing
  const std::string broken = Build("QSP40\r\n[Global]\r\nApplicationName = Example App\r\nDefaultDir = " + target +
                                       "\r\nLicenseFile = licence.txt\r\n",
                                   {});
  ASSERT_TRUE(robot.Start("\"" + broken + "\""));
  EXPECT_EQ(En("UNSPECIFIED_ERROR_OCCURED"), robot.AnswerMessageBox(En("ERROR").c_str(), IDOK, 20000));
  EXPECT_TRUE(robot.WaitForExit(20000, &code));
  EXPECT_EQ(1u, code);
  EXPECT_FALSE(PathExists(target));
  EXPECT_EQ(tempBefore, LeftoverTempFiles());
}

// A script that lets the user choose asks first who the installation is
// for, all users selected: Enter takes it, "just for me" is a click away,
// Cancel installs nothing. The uninstaller learns the answer.
TEST_F(Wizard, TheScopeQuestionComesFirstAndItsAnswerIsKept) {
  const std::string setup = Build(
      "QSP40\r\n[Global]\r\nApplicationName = Example App\r\nDefaultDir = " + target +
          "\r\nScope = choose\r\n[Files]\r\nC:\\build\\readme.txt, %MAINDIR%readme.txt\r\n",
      {{"readme.txt", "Read me.\r\n"}});
  struct {
    const char* answer;
    const char* kept;  // in the installed table; null: nothing installed
  } cases[] = {{"Enter", "<none>"}, {"just for me", "user"}, {"Cancel", nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    ASSERT_TRUE(robot.Start("\"" + setup + "\""));
    HWND question = NULL;
    ASSERT_TRUE(robot.WaitUntil([&] {
          question = robot.FindWindowNow("#32770", NULL);
          return question && GetDlgItem(question, IDC_SCOPE_ALL_USERS);
        }, 20000, "the scope question"));
    Robot::Settle(question);
    EXPECT_EQ(En("INSTALL_TITLE"), Robot::Text(question));
    EXPECT_EQ(En("INSTALL_FOR_ALL_USERS"), Robot::ItemText(question, IDC_SCOPE_ALL_USERS));
    EXPECT_EQ(En("INSTALL_JUST_FOR_ME"), Robot::ItemText(question, IDC_SCOPE_JUST_ME));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(question, IDC_SCOPE_ALL_USERS));
    if (strcmp(c.answer, "Enter") == 0) {
      ASSERT_TRUE(Robot::Type(question, {VK_RETURN}));
    } else if (strcmp(c.answer, "Cancel") == 0) {
      ASSERT_TRUE(Robot::Press(question, IDCANCEL));
      DWORD code = 99;
      EXPECT_TRUE(robot.WaitForExit(20000, &code));
      EXPECT_EQ(2u, code);
      EXPECT_FALSE(PathExists(target));
      continue;
    } else {
      ASSERT_TRUE(Robot::Press(question, IDC_SCOPE_JUST_ME));
      ASSERT_TRUE(Robot::Press(question, IDOK));
    }
    HWND w = robot.WaitForWindow("#32770", En("WELCOME").c_str(), 20000);
    ASSERT_TRUE(w);
    InstallWithDefaults(robot, w);
    EXPECT_EQ(c.kept, IniValue(target + "\\Translations.ini", "Installed", "Scope"));
    Robot un;
    UninstallWithYes(un, target + "\\Uninstall.exe", dir.Path());
    ASSERT_TRUE(un.WaitUntil([&] { return !PathExists(target); }, 60000, "the uninstaller going"));
  }
}

// RunAfterInstall: Finish with the box ticked starts the program once, as
// the user: from the process the user started (after its elevated run has
// ended) with the folder picked in that run's wizard and the placeholders
// filled in; unticked, or with /S, never. Wine runs every program as an
// administrator, so the elevated run that a limited process starts stays
// limited too: only the process tree shows which one started the program.
// A setup started with the rights has no desktop without them to hand the
// program to under Wine: it is not started, and the log says why. A program
// that cannot start is named in a message; the installation stays.
TEST_F(Wizard, TheApplicationIsLaunchedOnceAsTheUserWhenTheBoxIsTicked) {
  const std::string record = dir.File("launched.txt");
  struct {
    const char* name;
    const char* scope;
    bool withoutRights;
    const char* options;
    int tick;  // what the box is set to before Finish; -1: no wizard
    bool launched;
    const char* program = "launch probe.exe";
  } cases[] = {
      {"for all users, ticked", "machine", true, "", BST_CHECKED, true},
      {"for all users, unticked", "machine", true, "", BST_UNCHECKED, false},
      {"for all users, silent", "machine", true, "/S", -1, false},
      {"just for me, ticked", "user", true, "", BST_CHECKED, true},
      {"started with the rights", "machine", false, "", BST_CHECKED, false},
      {"for all users, no such program", "machine", true, "", BST_CHECKED, false, "no such.exe"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileA(record.c_str());
    const std::string setup = Build(
        std::string("QSP40\r\n[Global]\r\nApplicationName = Example App\r\nDefaultDir = C:\\Never\\Launch\r\n"
                    "AllowChangeInstallDir = TRUE\r\nScope = ") + c.scope + "\r\nRunAfterInstall = \"%MAINDIR%" + c.program + "\" \"" +
            record + "\" \"--name=%APPNAME%\"\r\n[Files]\r\nC:\\build\\launch probe.exe, %MAINDIR%launch probe.exe\r\n",
        {{"launch probe.exe", ReadWholeFile(QS_LAUNCH_PROBE_EXE)}});
    const std::string log = dir.File(("launch" + std::to_string(++n) + ".log").c_str());
    std::string pressed, boxText, message;
    LRESULT boxState = -1;
    WatchedRun run = RunWatched(
        Wide("\"" + setup + "\" /LOG=\"" + log + "\" " + c.options + (c.options[0] ? " /D=" + target : "")), NULL,
        60000,
        [&](HWND w) {
          if (!GetDlgItem(w, IDC_NEXT)) {
            if (message.empty()) message = Robot::ItemText(w, 0xFFFF);
            Robot::Press(w, IDOK);
            return;
          }
          const std::string caption = Robot::Text(w), next = Robot::ItemText(w, IDC_NEXT);
          // not the folder the process without rights would make of DefaultDir
          if (caption == En("CHOOSE_DESITNATION_LOCATION") && Robot::ItemText(w, IDC_DESTINATION) != target) {
            Robot::SetItemText(w, IDC_DESTINATION, target.c_str());
            return;
          }
          if (next == En("FINISH")) {
            if (!Enabled(w, IDC_CANCEL_INSTALL)) return;  // the page is not complete yet
            HWND box = GetDlgItem(w, IDC_LAUNCH_AFTER_INSTALL);
            if (boxState < 0) {
              boxText = Robot::Text(box);
              boxState = SendMessageA(box, BM_GETCHECK, 0, 0);
            }
            SendMessageA(box, BM_SETCHECK, c.tick, 0);
          }
          if (caption + "|" + next != pressed && Robot::Press(w, IDC_NEXT)) pressed = caption + "|" + next;
        },
        c.withoutRights);
    EXPECT_TRUE(run.Ended);
    EXPECT_EQ(0u, run.Code);
    if (c.tick >= 0) {
      EXPECT_EQ(Replace(En("LAUNCH_APPLICATION"), "%APPNAME%", kApp), boxText);
      EXPECT_EQ(BST_CHECKED, boxState);
    }
    std::string launched;
    for (int wait = 0; wait < (c.launched ? 100 : 10) && launched.empty(); ++wait) {
      Sleep(100);
      launched = PathExists(record) ? ReadWholeFile(record) : "";
    }
    const std::string text = ReadWholeFile(log);
    const std::string program = target + "\\" + c.program;
    EXPECT_EQ(strcmp(c.program, "no such.exe") == 0 ? Replace(En("LAUNCH_FAILED"), "%s", program) : "", message);
    if (c.launched) {
      EXPECT_EQ(std::to_string(run.Process) + "|--name=Example App|" + target + "\r\n", launched) << text;
      EXPECT_NE(std::string::npos, text.find("Launch: " + program + " started (process ")) << text;
      // after the elevated run has ended, by the process that waited for it
      if (strcmp(c.scope, "machine") == 0) {
        EXPECT_LT(text.find("Elevated run: ended with exit code 0"), text.find("Launch: ")) << text;
      }
    } else {
      EXPECT_EQ("", launched);
      // the choice of the box is the user's; the rights of the desktop are the reason
      EXPECT_EQ(c.tick == BST_CHECKED, text.find("Launch: " + program + " not started: ") != std::string::npos)
          << text;
    }
    EXPECT_EQ(0u, RunWatched(Wide("\"" + target + "\\Uninstall.exe\" /S"), NULL, 60000).Code);
    // the uninstaller's own folder goes once it has ended
    EXPECT_TRUE(robot.WaitUntil([&] { return !PathExists(target); }, 60000, "the installation going"));
  }
}

// Page 4's run-time controls: the bar over the hidden destination frame,
// the label, the file frame and the file line naming a file under target.
void CheckProgressControls(HWND wizard, const std::string& target) {
  std::vector<HWND> bars, statics, frames;
  for (const RobotControl& c : Robot::Controls(wizard)) {
    if (c.Id != IDC_RUNTIME) continue;
    if (c.Class == "msctls_progress32") bars.push_back(c.Window);
    if (c.Class == "Static") statics.push_back(c.Window);
    if (c.Class == "Button") frames.push_back(c.Window);
  }
  ASSERT_EQ(1u, bars.size());
  ASSERT_EQ(2u, statics.size());
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(En("COPYING_FILE"), Robot::Text(frames[0]));
  // another process: the range comes back as the result, not through a pointer
  EXPECT_EQ(0, SendMessageA(bars[0], PBM_GETRANGE, TRUE, 0));
  EXPECT_EQ(100, SendMessageA(bars[0], PBM_GETRANGE, FALSE, 0));
  // pixels of the dialog's client: the bar starts where the destination frame does,
  // a third of its height; the rest sit at fixed rows
  auto place = [&](HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(NULL, wizard, reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  const RECT frame1004 = place(GetDlgItem(wizard, IDC_DESTINATION_FRAME));
  const RECT bar = place(bars[0]);
  EXPECT_EQ(frame1004.left, bar.left);
  EXPECT_EQ(frame1004.top, bar.top);
  EXPECT_EQ(frame1004.right, bar.right);
  EXPECT_EQ((frame1004.bottom - frame1004.top) / 3, bar.bottom - bar.top);
  EXPECT_EQ(125, place(frames[0]).top);
  std::vector<std::string> texts;
  for (HWND s : statics) texts.push_back(Robot::Text(s));
  std::sort(texts.begin(), texts.end());
  const std::string label = En("INSTALL_PROGRESS");
  EXPECT_TRUE(texts[0] == label || texts[1] == label) << texts[0] << " / " << texts[1];
  const std::string& file = texts[0] == label ? texts[1] : texts[0];
  EXPECT_EQ(0u, file.find(target + "\\")) << file;
}

// Each way an installation can end early leaves the machine as it was.
TEST_F(Wizard, CancelsAndFailuresRollTheInstallationBack) {
  struct Case {
    const char* what;
    std::string extra;  // appended to the script
    bool bigFiles;
  } cases[] = {
      {"cancel while copying", "", true},
      {"a failing registry line", "[SysRegInt]\r\nHKEY_USERS/Software/QuillsetTest-Wizard/V=1\r\n", false},
      {"a missing entry", "[Files]\r\nC:\\gone.txt, %MAINDIR%gone\\gone.txt\r\n", false},
      {"a folder where Uninstall.exe goes", "", false},
      {"a folder where Uninstall.log goes", "", false},
      {"cancel on the finish page", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string base =
        "QSP40\r\n[Global]\r\nApplicationName = Example App\r\nDefaultDir = " + target +
        "\r\nShowEULAPage = FALSE\r\n[SysRegUninstall]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Wizard\r\n"
        "[INIFiles]\r\n" + dir.Path() + "\\shared.ini,Added,Key,1\r\n"
        "[SysRegString]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Wizard/Name=x\r\n";
    std::vector<SetupSource> files = {{"one.txt", "one"}};
    std::string fileLines = "[Files]\r\none.txt, %MAINDIR%sub\\one.txt\r\n";
    if (c.bigFiles) {
      for (int i = 0; i < 4; ++i) {
        const std::string name = "big" + std::to_string(i) + ".bin";
        files.push_back({name, RandomBytes(12 << 20, i + 1)});
        fileLines += name + ", %MAINDIR%" + name + "\r\n";
      }
    }
    // a missing entry joins the [Files] lines; anything else is a section of its own
    const std::string script =
        base + fileLines + (c.extra.rfind("[Files]\r\n", 0) == 0 ? c.extra.substr(9) : c.extra);
    std::string setup = Build(script, files);
    WriteWholeFile(dir.File("shared.ini"), "[Kept]\r\nA=1\r\n");
    // A file of the uninstaller cannot be written where a folder of that
    // name is (a read-only file would not do: the tests run as root under
    // Wine).
    const std::string what = c.what;
    const std::string blocked =
        what.rfind("a folder where ", 0) == 0 ? what.substr(15, what.size() - 15 - 5) : std::string();
    if (!blocked.empty()) {
      CreateDirectoryA(target.c_str(), NULL);
      CreateDirectoryA((target + "\\" + blocked).c_str(), NULL);
    }
    std::vector<std::string> before;
    Snapshot(dir.Path(), &before);

    HWND w = Start(setup);
    ASSERT_TRUE(w);
    w = Go(w, IDC_NEXT, "CHOOSE_DESITNATION_LOCATION");
    w = Go(w, IDC_NEXT, "START_INSTALLATION");
    ASSERT_TRUE(w);
    w = Go(w, IDC_NEXT, "INSTALLING");
    ASSERT_TRUE(w);
    if (what == "cancel while copying") {
      ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
      // While the question is open the worker holds still after a report:
      // the progress controls show the file being copied.
      RobotMessageBox question = robot.WaitForMessageBox(En("INSTALL_TITLE").c_str(), 10000);
      ASSERT_TRUE(question.Window);
      CheckProgressControls(w, target);
      // No first: the installation goes on.
      robot.Answer(question, IDNO);
      ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
      EXPECT_EQ(En("DO_YOU_REALY_WANT_TO_QUIT"), robot.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDYES, 10000));
    } else if (what == "a failing registry line") {
      EXPECT_NE(std::string::npos, robot.AnswerMessageBox(En("ERROR").c_str(), IDOK, 20000).find("unrecognized key"));
    } else if (what == "a missing entry") {
      EXPECT_EQ("The embedded file gone.txt could not be found.\nInstallation will be aborted.",
                robot.AnswerMessageBox(En("ERROR").c_str(), IDOK, 20000));
    } else if (!blocked.empty()) {
      ASSERT_TRUE(WaitForFinish(w));
      ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
      EXPECT_EQ(En("FAILED_TO_CREATE_UNINSTALL_EXE"), robot.AnswerMessageBox(En("ERROR").c_str(), IDOK, 20000));
    } else {
      ASSERT_TRUE(WaitForFinish(w));
      ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
      robot.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDYES, 10000);
    }
    DWORD code;
    ASSERT_TRUE(robot.WaitForExit(30000, &code));
    std::vector<std::string> after;
    Snapshot(dir.Path(), &after);
    EXPECT_EQ(before, after);
    EXPECT_FALSE(KeyExists("Software\\QuillsetTest-Wizard"));
    EXPECT_EQ("<none>", IniValue(dir.File("shared.ini"), "Added", "Key"));
    EXPECT_EQ("1", IniValue(dir.File("shared.ini"), "Kept", "A"));
    if (!blocked.empty()) {
      RemoveDirectoryA((target + "\\" + blocked).c_str());
      RemoveDirectoryA(target.c_str());
    }
    ASSERT_FALSE(PathExists(target)) << "left behind";
  }
}

// TEMP and TMP for this process and what it starts, until destroyed.
class TemporaryFolderAt {
 public:
  explicit TemporaryFolderAt(const std::string& path) {
    for (int i = 0; i < 2; ++i) {
      char value[MAX_PATH * 3] = "";
      const DWORD n = GetEnvironmentVariableA(kNames[i], value, sizeof value);
      m_Old[i] = n && n < sizeof value ? value : "";
      SetEnvironmentVariableA(kNames[i], path.c_str());
    }
  }
  ~TemporaryFolderAt() {
    for (int i = 0; i < 2; ++i) SetEnvironmentVariableA(kNames[i], m_Old[i].empty() ? NULL : m_Old[i].c_str());
  }

 private:
  static constexpr const char* kNames[2] = {"TEMP", "TMP"};
  std::string m_Old[2];
};

// The temporary folder on a drive that fills up after start-up, while the
// wizard waits: the first line of the uninstall log cannot be written, so
// nothing may stay installed that no uninstaller would know of.
TEST_F(Wizard, ATemporaryDriveThatFillsUpRollsTheRunBackAndLeavesNothing) {
  if (GetDriveTypeA("Q:\\") == DRIVE_NO_ROOT_DIR)
    GTEST_SKIP() << "no small drive Q: (mounting a tmpfs was refused); the full-drive case is skipped";
  const std::string temp = "Q:\\wizard-temp", filler = "Q:\\wizard-filler.bin";
  // an earlier run that broke off keeps its filler and its key
  DeleteFileA(filler.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\QuillsetTest-Wizard");
  ASSERT_TRUE(CreateDirectoryA(temp.c_str(), NULL) || GetLastError() == ERROR_ALREADY_EXISTS);
  const std::string script =
      "QSP40\r\n[Global]\r\nApplicationName = Example App\r\nDefaultDir = " + target +
      "\r\nShowEULAPage = FALSE\r\n[Files]\r\none.txt, %MAINDIR%sub\\one.txt\r\n"
      "[INIFiles]\r\n" + dir.Path() + "\\shared.ini,Added,Key,1\r\n"
      "[SysRegString]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Wizard/Name=x\r\n";
  const std::string setup = Build(script, {{"one.txt", "one"}});
  WriteWholeFile(dir.File("shared.ini"), "[Kept]\r\nA=1\r\n");
  // the folders are there already, so the first line the run writes is the
  // file's own
  CreateDirectoryA(target.c_str(), NULL);
  CreateDirectoryA((target + "\\sub").c_str(), NULL);
  std::vector<std::string> before;
  Snapshot(dir.Path(), &before);
  DWORD code = 0;
  std::vector<std::string> left;
  {
    TemporaryFolderAt at(temp);
    HWND w = Start(setup);
    ASSERT_TRUE(w);
    // start-up has made its files; now nothing more fits
    ASSERT_NO_FATAL_FAILURE(FillSmallDrive(filler));
    w = Go(w, IDC_NEXT, "CHOOSE_DESITNATION_LOCATION");
    w = Go(w, IDC_NEXT, "START_INSTALLATION");
    ASSERT_TRUE(w);
    ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
    EXPECT_EQ("Failed to write uninstall log file in temporary files directory.",
              robot.AnswerMessageBox("Error", IDOK, 30000));
    ASSERT_TRUE(robot.WaitForExit(60000, &code)) << robot.WindowTree();
    DeleteFileA(filler.c_str());
    Snapshot(temp, &left);
  }
  EXPECT_EQ(1u, code);
  std::vector<std::string> after;
  Snapshot(dir.Path(), &after);
  EXPECT_EQ(before, after);
  EXPECT_FALSE(PathExists(target + "\\sub\\one.txt")) << "left behind";
  EXPECT_FALSE(KeyExists("Software\\QuillsetTest-Wizard"));
  EXPECT_EQ("<none>", IniValue(dir.File("shared.ini"), "Added", "Key"));
  EXPECT_EQ("1", IniValue(dir.File("shared.ini"), "Kept", "A"));
  // the run's own report may stay (it is the user's to read); nothing else
  for (const std::string& path : left)
    EXPECT_NE(std::string::npos, path.find("Quillset-Setup.log")) << path << " left in the temporary folder";
  for (const std::string& path : left) DeleteFileA(path.c_str());
  RemoveDirectoryA(temp.c_str());
}

}  // namespace

namespace {

// Installs FullScript (with a COM server registered) into target through
// the wizard; true when Finish has ended the setup program.
bool InstallForUninstall(Wizard* t, Robot& robot, const std::string& setup, const std::string& target) {
  if (!robot.Start("\"" + setup + "\"")) return false;
  HWND w = robot.WaitForWindow("#32770", En("WELCOME").c_str(), 20000);
  for (const char* page : {"EULA", "CHOOSE_DESITNATION_LOCATION"}) {
    if (!w) return false;
    Robot::Press(w, IDC_NEXT);
    w = robot.WaitForWindow("#32770", En(page).c_str(), 20000);
  }
  if (!w) return false;
  Robot::SetItemText(w, IDC_DESTINATION, target.c_str());
  Robot::Press(w, IDC_NEXT);
  w = robot.WaitForWindow("#32770", En("START_INSTALLATION").c_str(), 20000);
  if (!w) return false;
  Robot::Press(w, IDC_NEXT);
  w = robot.WaitForWindow("#32770", En("INSTALLING").c_str(), 20000);
  if (!w || !robot.WaitUntil([&] { return Robot::ItemText(w, IDC_NEXT) == En("FINISH") && IsWindowEnabled(GetDlgItem(w, IDC_NEXT)); }, 60000, "finish")) return false;
  (void)t;
  Robot::Press(w, IDC_NEXT);
  DWORD code;
  return robot.WaitForExit(20000, &code);
}

// Starts target's Uninstall.exe from workDir and answers its first question
// (captioned captionText); the question's text, empty after a timeout.
std::string StartUninstaller(Robot& un, const std::string& target, const std::string& workDir, int answer,
                             const std::string& captionText = En("UNINSTALL_TITLE")) {
  if (!un.Start("\"" + target + "\\Uninstall.exe\"", workDir.c_str())) {
    ADD_FAILURE() << "cannot start the uninstaller";
    return "";
  }
  return un.AnswerMessageBox(captionText.c_str(), answer, 20000);
}

// The uninstaller's progress dialog once its OK button shows.
HWND WaitForUninstallResult(Robot& robot, const std::string& caption = En("UNINSTALL_TITLE")) {
  HWND dialog = NULL;
  robot.WaitUntil(
      [&] {
        dialog = robot.FindWindowNow("#32770", caption.c_str());
        return dialog && GetDlgItem(dialog, IDC_UNINSTALL_TEXT) && IsWindowVisible(GetDlgItem(dialog, IDOK));
      },
      60000, "the uninstall result");
  if (dialog) Robot::Settle(dialog);
  return dialog;
}

// Presses OK on the result; true once the uninstaller has ended and its
// hidden cmd has deleted it.
bool CloseAndWaitForSelfRemoval(Robot& un, HWND dialog, const std::string& target, DWORD expected = 0) {
  if (!Robot::Press(dialog, IDOK)) {
    ADD_FAILURE() << "no OK button\n" << un.WindowTree();
    return false;
  }
  DWORD code = 1;
  if (!un.WaitForExit(20000, &code)) return false;
  EXPECT_EQ(expected, code);
  // the self-removal runs at idle priority: with both lanes busy it may wait
  return un.WaitUntil([&] { return !PathExists(target + "\\Uninstall.exe") && RunningCommandInterpreters() == 0; },
                      60000, "the self-removal");
}

std::string ProgramsFolder() {
  char path[MAX_PATH] = "";
  SHGetSpecialFolderPathA(NULL, path, CSIDL_PROGRAMS, FALSE);
  return path;
}

const char kComDll[] = QS_BUILD_DIR "\\tests\\win32\\qs-comdll.dll";
// refuses both calls on a thread without COM
const char kComNeedDll[] = QS_BUILD_DIR "\\tests\\win32\\qs-comneed.dll";

// Everything a script can install, the uninstaller takes away again: files,
// folders, a start-menu group, INI keys (and INI files it created), registry
// keys, COM registrations, and the uninstaller's own files and folder.
TEST_F(Wizard, TheUninstallerRemovesTheWholeInstallationAndItself) {
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\QuillsetTest-ComDll");
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\QuillsetTest-ComNeed");
  const std::string group = ProgramsFolder() + "\\QuillsetTest-Uninstall";
  ASSERT_FALSE(PathExists(group));
  WriteWholeFile(dir.File("shared.ini"), "[Kept]\r\nA=1\r\n");
  // a start-menu group joins [Shortcuts]; an INI file that exists and one
  // that the installation creates join [INIFiles]
  std::string script = FullScript();
  script.insert(script.find("[INIFiles]\r\n") + 12,
                dir.Path() + "\\shared.ini,Added,Key,1\r\n" + dir.Path() + "\\made by setup.ini,Settings,Key,1\r\n");
  script.insert(script.find("[INIFiles]\r\n"),
                "%PROGRAMS%QuillsetTest-Uninstall\\%APPNAME%.lnk,%MAINDIR%readme.txt,,%MAINDIR%,Read me,,0\r\n");
  std::string setup = Build(script + "[RegisterDlls]\r\n" + kComDll + "\r\n" + kComNeedDll + "\r\n",
                            {{"readme.txt", "Read me first.\r\n"}, {"app.dat", RandomBytes(5000, 3)}});
  ASSERT_TRUE(InstallForUninstall(this, robot, setup, target));
  ASSERT_TRUE(KeyExists("Software\\QuillsetTest-ComDll"));
  ASSERT_TRUE(KeyExists("Software\\QuillsetTest-ComNeed"));
  ASSERT_TRUE(PathExists(group + "\\Example App.lnk"));
  ASSERT_EQ("1", IniValue(dir.File("shared.ini"), "Added", "Key"));
  ASSERT_TRUE(PathExists(dir.File("made by setup.ini")));

  // No: everything stays.
  Robot first;
  EXPECT_EQ(UninstallQuestion(kApp), StartUninstaller(first, target, dir.Path(), IDNO));
  DWORD code = 1;
  ASSERT_TRUE(first.WaitForExit(20000, &code));
  EXPECT_EQ(2u, code) << "No is a cancel";
  for (const char* f : {"Uninstall.exe", "Uninstall.log", "Translations.ini", "readme.txt", "app.ini", "data\\app.dat"})
    EXPECT_TRUE(PathExists(target + "\\" + f)) << f;
  EXPECT_TRUE(KeyExists("Software\\QuillsetTest-Wizard"));

  // Yes: the result, then nothing left.
  Robot second;
  ASSERT_TRUE(second.Start("\"" + target + "\\Uninstall.exe\"", dir.Path().c_str()));
  RobotMessageBox question = second.WaitForMessageBox(En("UNINSTALL_TITLE").c_str(), 20000);
  EXPECT_EQ((std::vector<std::string>{"Yes", "No"}), question.Buttons);
  Robot::Press(question.Window, IDYES);
  HWND dialog = WaitForUninstallResult(second);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(En("UNINSTALLATION_IS_NOW_FINISHED"), Robot::ItemText(dialog, IDC_UNINSTALL_TEXT));
  std::vector<std::string> left;
  Snapshot(target, &left);
  EXPECT_EQ(std::vector<std::string>{target + "\\Uninstall.exe"}, left) << "only the running uninstaller waits";
  ASSERT_TRUE(CloseAndWaitForSelfRemoval(second, dialog, target));
  EXPECT_TRUE(robot.WaitUntil([&] { return !PathExists(target); }, 60000, "the install folder's removal"));
  EXPECT_FALSE(PathExists(group));
  EXPECT_FALSE(PathExists(dir.File("made by setup.ini")));
  EXPECT_EQ("<none>", IniValue(dir.File("shared.ini"), "Added", "Key"));
  EXPECT_EQ("1", IniValue(dir.File("shared.ini"), "Kept", "A"));
  EXPECT_FALSE(KeyExists("Software\\QuillsetTest-Wizard"));
  EXPECT_FALSE(KeyExists("Software\\QuillsetTest-ComDll"));  // DllUnregisterServer ran
  EXPECT_FALSE(KeyExists("Software\\QuillsetTest-ComNeed")) << "the uninstall thread has no COM";
}
// A read-only Uninstall.exe (a user's attrib, a copy from a CD) once made
// the self-removal loop for ever, elevated.
TEST_F(Wizard, AReadOnlyUninstallerStillRemovesItselfAndNoCmdRunsOn) {
  std::string setup = Build(FullScript(), {{"readme.txt", "Read me first.\r\n"}, {"app.dat", RandomBytes(3000, 6)}});
  ASSERT_TRUE(InstallForUninstall(this, robot, setup, target));
  ASSERT_EQ(0, RunningCommandInterpreters()) << "a cmd of some other test still runs";
  ASSERT_TRUE(SetFileAttributesA((target + "\\Uninstall.exe").c_str(), FILE_ATTRIBUTE_READONLY));
  Robot un;
  EXPECT_EQ(UninstallQuestion(kApp), StartUninstaller(un, target, dir.Path(), IDYES));
  HWND dialog = WaitForUninstallResult(un);
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(Robot::Press(dialog, IDOK));
  DWORD code = 1;
  ASSERT_TRUE(un.WaitForExit(20000, &code));
  EXPECT_TRUE(un.WaitUntil(
      [&] {
        return RunningCommandInterpreters() == 0 && !PathExists(target + "\\Uninstall.exe");
      },
      70000, "the self-removal's end"));
  EXPECT_FALSE(PathExists(target + "\\Uninstall.exe"));
  EXPECT_FALSE(PathExists(target));
}

// Two new folder levels (Co\App): the uninstaller's own files keep App, and
// through it Co, without a question; once it has gone, so have both.
TEST_F(Wizard, FoldersTheInstallationCreatedAboveItsOwnGoWithTheUninstaller) {
  const std::string co = dir.File("Co");
  const std::string nested = co + "\\App";
  std::string setup = Build(FullScript(), {{"readme.txt", "Read me first.\r\n"}, {"app.dat", RandomBytes(5000, 4)}});
  ASSERT_TRUE(InstallForUninstall(this, robot, setup, nested));
  ASSERT_TRUE(PathExists(nested + "\\Uninstall.exe"));
  Robot un;
  EXPECT_EQ(UninstallQuestion(kApp), StartUninstaller(un, nested, dir.Path(), IDYES));
  HWND dialog = WaitForUninstallResult(un);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(En("UNINSTALLATION_IS_NOW_FINISHED"), Robot::ItemText(dialog, IDC_UNINSTALL_TEXT)) << "a question came first?";
  ASSERT_TRUE(CloseAndWaitForSelfRemoval(un, dialog, nested));
  EXPECT_TRUE(un.WaitUntil([&] { return !PathExists(co); }, 60000, "the created folders' removal"));
  EXPECT_FALSE(KeyExists("Software\\QuillsetTest-Wizard"));
}

// One question about a folder the user added to; No keeps the folder with
// the user's file and nothing else, Yes removes everything.
TEST_F(Wizard, AFileTheUserAddedIsAskedAboutOnce) {
  for (int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer == IDNO ? "No" : "Yes");
    std::string setup = Build(FullScript(), {{"readme.txt", "Read me first.\r\n"}, {"app.dat", "data"}});
    ASSERT_TRUE(InstallForUninstall(this, robot, setup, target));
    WriteWholeFile(target + "\\my notes.txt", "mine");
    Robot un;
    StartUninstaller(un, target, dir.Path(), IDYES);
    const std::string caption = En("DELETING_INSTALLED_FILES_AND_FOLDERS");
    RobotMessageBox box = un.WaitForMessageBox(caption.c_str(), 30000);
    ASSERT_TRUE(box.Window);
    EXPECT_EQ(Replace(En("FOLDER_CONTAINS_NEW_FILES_OR_SUBFOLDERS"), "%s", target), box.Text);
    EXPECT_EQ((std::vector<std::string>{"Yes", "No"}), box.Buttons);
    // meanwhile the progress dialog says what goes on, with nothing to press
    HWND dialog = un.FindWindowNow("#32770", En("UNINSTALL_TITLE").c_str());
    ASSERT_TRUE(dialog) << un.WindowTree();
    EXPECT_EQ(En("PLEASE_WAIT_WHILE_UNINSTALLING"), Robot::ItemText(dialog, IDC_UNINSTALL_TEXT));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDOK)));
    EXPECT_EQ(0, GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU);
    Robot::Press(box.Window, answer);
    dialog = WaitForUninstallResult(un);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(En("UNINSTALLATION_IS_NOW_FINISHED"), Robot::ItemText(dialog, IDC_UNINSTALL_TEXT));
    EXPECT_FALSE(un.FindWindowNow("#32770", caption.c_str())) << "asked twice";
    ASSERT_TRUE(CloseAndWaitForSelfRemoval(un, dialog, target));
    EXPECT_FALSE(KeyExists("Software\\QuillsetTest-Wizard"));
    if (answer == IDNO) {
      std::vector<std::string> left;
      Snapshot(target, &left);
      EXPECT_EQ(std::vector<std::string>{target + "\\my notes.txt"}, left);
      EXPECT_EQ("mine", ReadWholeFile(target + "\\my notes.txt"));
      DeleteFileA((target + "\\my notes.txt").c_str());
      RemoveDirectoryA(target.c_str());
    }
    EXPECT_TRUE(robot.WaitUntil([&] { return !PathExists(target); }, 60000, "the install folder's removal"));
  }
}

// A file another program holds open goes at the restart, and its folder
// after it; the rest goes now, without a question, and the dialog says so.
TEST_F(Wizard, AFileInUseGoesAtTheRestartAndEverythingElseIsRemoved) {
  KeptPendingRenames pending;
  std::string setup = Build(FullScript(), {{"readme.txt", "Read me first.\r\n"}, {"app.dat", "data"}});
  ASSERT_TRUE(InstallForUninstall(this, robot, setup, target));
  HANDLE held = CreateFileA((target + "\\readme.txt").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  Robot un;
  StartUninstaller(un, target, dir.Path(), IDYES);
  HWND dialog = WaitForUninstallResult(un);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(En("RESTART_TO_FINISH_UNINSTALLATION"), Robot::ItemText(dialog, IDC_UNINSTALL_TEXT));
  ASSERT_TRUE(CloseAndWaitForSelfRemoval(un, dialog, target, 3010));
  std::vector<std::string> left;
  Snapshot(target, &left);
  EXPECT_EQ(std::vector<std::string>{target + "\\readme.txt"}, left);
  EXPECT_NE(std::string::npos, PendingRenames().find(target + "\\readme.txt"));
  EXPECT_FALSE(KeyExists("Software\\QuillsetTest-Wizard"));
  CloseHandle(held);
  DeleteFileA((target + "\\readme.txt").c_str());
  RemoveDirectoryA(target.c_str());
}

// A log that is missing or cannot be replayed: the user is told, nothing is
// removed, the uninstaller with its log and table stays to be run again, and
// the dialog can be closed.
TEST_F(Wizard, AnUninstallerWhoseLogIsMissingOrDamagedSaysSoAndKeepsEverything) {
  for (bool missing : {true, false}) {
    SCOPED_TRACE(missing ? "missing" : "damaged");
    std::string setup = Build(FullScript(), {{"readme.txt", "Read me first.\r\n"}, {"app.dat", "data"}});
    ASSERT_TRUE(InstallForUninstall(this, robot, setup, target));
    const std::string log = target + "\\Uninstall.log";
    if (missing)
      DeleteFileA(log.c_str());
    else  // the newest line stops the replay before anything is undone
      WriteWholeFile(log, ReadWholeFile(log) + "SysRegSectionAdded=HKEY_USERS/Software/QuillsetTest-Wizard\n");
    std::vector<std::string> before;
    Snapshot(target, &before);
    Robot un;
    StartUninstaller(un, target, dir.Path(), IDYES);
    std::string failure = En("UINSTALL_PROCESS_FAILED");
    if (missing) {
      EXPECT_EQ("Failed to open uninstall log file in temporary files directory.",
                un.AnswerMessageBox("Error", IDOK, 20000));
      failure = Replace(En("COULD_NOT_FIND_UNINSTALL_LOG_FILE"), "%s", log);
    }
    EXPECT_EQ(failure, un.AnswerMessageBox(En("ERROR").c_str(), IDOK, 20000));
    HWND dialog = WaitForUninstallResult(un);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(failure, Robot::ItemText(dialog, IDC_UNINSTALL_TEXT));
    Robot::Press(dialog, IDOK);
    DWORD code;
    ASSERT_TRUE(un.WaitForExit(20000, &code));
    Sleep(1000);  // a self-removal, had one been started, would be at work now
    std::vector<std::string> after;
    Snapshot(target, &after);
    EXPECT_EQ(before, after);
    EXPECT_TRUE(PathExists(target + "\\Uninstall.exe"));
    EXPECT_EQ(0, RunningCommandInterpreters()) << "a self-removal was started";
    EXPECT_TRUE(KeyExists("Software\\QuillsetTest-Wizard"));
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\QuillsetTest-Wizard");
    for (auto it = after.rbegin(); it != after.rend(); ++it) {  // for the next case
      if (it->back() == '\\')
        RemoveDirectoryA(it->c_str());
      else
        DeleteFileA(it->c_str());
    }
    RemoveDirectoryA(target.c_str());
    ASSERT_FALSE(PathExists(target));
  }
}

// Without its table every text shows its key, and the uninstall still works.
TEST_F(Wizard, AnUninstallerWithoutItsTranslationsShowsKeysAndStillRemovesEverything) {
  std::string setup = Build(FullScript(), {{"readme.txt", "Read me first.\r\n"}, {"app.dat", "data"}});
  ASSERT_TRUE(InstallForUninstall(this, robot, setup, target));
  DeleteFileA((target + "\\Translations.ini").c_str());
  WriteWholeFile(target + "\\my notes.txt", "mine");  // for a question in the middle
  Robot un;
  EXPECT_EQ("YOU_ARE_ABOUT_TO_UNINSTALL", StartUninstaller(un, target, dir.Path(), IDYES, "UNINSTALL_TITLE"));
  RobotMessageBox box = un.WaitForMessageBox("DELETING_INSTALLED_FILES_AND_FOLDERS", 30000);
  ASSERT_TRUE(box.Window);
  EXPECT_EQ("FOLDER_CONTAINS_NEW_FILES_OR_SUBFOLDERS", box.Text);
  HWND dialog = un.FindWindowNow("#32770", "UNINSTALL_TITLE");
  ASSERT_TRUE(dialog) << un.WindowTree();
  EXPECT_EQ("PLEASE_WAIT_WHILE_UNINSTALLING", Robot::ItemText(dialog, IDC_UNINSTALL_TEXT));
  Robot::Press(box.Window, IDYES);
  dialog = WaitForUninstallResult(un, "UNINSTALL_TITLE");
  ASSERT_TRUE(dialog);
  EXPECT_EQ("UNINSTALLATION_IS_NOW_FINISHED", Robot::ItemText(dialog, IDC_UNINSTALL_TEXT));
  ASSERT_TRUE(CloseAndWaitForSelfRemoval(un, dialog, target));
  EXPECT_TRUE(robot.WaitUntil([&] { return !PathExists(target); }, 60000, "the install folder's removal"));
  EXPECT_FALSE(KeyExists("Software\\QuillsetTest-Wizard"));
}

}  // namespace
