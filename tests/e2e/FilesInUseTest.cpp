// A running program that holds a file of the installation: a silent
// uninstall asks it to close, ends it only with /FORCECLOSEAPPLICATIONS,
// finishes what stays in use at the restart (3010), and where it may not
// schedule that, changes nothing and ends with 7 so that a second run can.
// The holder is a file of the installation itself, so both ways of finding
// it (the files it holds, its own image) are at work.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "../win32/Robot.h"
#include "../win32/TestSupport.h"
#include "E2eSupport.h"
#include "EnglishText.h"
#include "resources/resource.h"

namespace {

const DWORD kTimeout = 60000;
const char kTarget[] = "C:\\InUse Test";
const char kEntry[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuillsetTest.InUse";

class FilesInUse : public ::testing::Test {
 protected:
  TempFolder dir;
  KeptPendingRenames pending;
  PROCESS_INFORMATION holder = {};
  const std::string target = kTarget;
  const std::string log = dir.File("run.log");

  std::string BuildVersion(const char* version, const std::string& more = "") {
    const std::string script = "QSP40\r\n[Global]\r\nApplicationName = InUse App\r\nDefaultDir = " + target +
                               "\r\nAppId = QuillsetTest.InUse\r\nVersion = " + version + "\r\n[Files]\r\n"
                               "holder.exe, %MAINDIR%holder.exe\r\napp.dat, %MAINDIR%data\\app.dat\r\n"
                               "readme.txt, %MAINDIR%readme.txt\r\n" + more;
    return BuildSetupFile(dir, script,
                          {{"holder.exe", ReadWholeFile(QS_FILE_HOLDER_EXE)}, {"app.dat", std::string("v") + version},
                           {"readme.txt", "r"}},
                          (std::string("Setup-") + version + ".exe").c_str());
  }
  void SetUp() override {
    ASSERT_FALSE(PathExists(target)) << "left by an earlier run";
    ASSERT_EQ(0u, Run("\"" + BuildVersion("1") + "\" /S"));
    ASSERT_TRUE(PathExists(target + "\\data\\app.dat"));
  }
  DWORD Upgrade(const std::string& options) {
    return Run("\"" + BuildVersion("2") + "\" /S /LOG=\"" + log + "\" " + options);
  }
  std::string Data() { return ReadWholeFile(target + "\\data\\app.dat"); }
  void TearDown() override {
    StopHolder();
    RemoveTree(Wide(target, CP_ACP));
    // a self-removal still retrying (3010 leaves one) would delete the next
    // test's fresh uninstaller in the same folder
    Robot wait;
    EXPECT_TRUE(wait.WaitUntil([] { return RunningCommandInterpreters() <= 0; }, kTimeout, "the self-removal's end"));
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEntry);
    RegDeleteKeyA(HKEY_CURRENT_USER, kEntry);
  }

  DWORD Run(const std::string& line) {
    WatchedRun run = RunWatched(Wide(line, CP_ACP), Wide(dir.Path(), CP_ACP).c_str(), kTimeout);
    EXPECT_TRUE(run.Ended) << line;
    return run.Code;
  }
  DWORD Uninstall(const std::string& options) {
    return Run("\"" + target + "\\Uninstall.exe\" /S /LOG=\"" + log + "\" " + options);
  }
  // The installed holder, holding the installed data file, its window up;
  // or another holder, another file.
  void StartHolder(bool ignoresClose, std::string exe = "", std::string file = "") {
    if (exe.empty()) exe = target + "\\holder.exe";
    if (file.empty()) file = target + "\\data\\app.dat";
    std::string line = "\"" + exe + "\" \"" + file + "\"" + (ignoresClose ? " ignore" : "");
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    ASSERT_TRUE(CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &holder));
    Robot wait;
    ASSERT_TRUE(wait.WaitUntil([] { return FindWindowA("QuillsetFileHolder", NULL) != NULL; }, 20000,
                               "the holder's window"));
  }
  bool HolderRuns() { return holder.hProcess && WaitForSingleObject(holder.hProcess, 0) == WAIT_TIMEOUT; }
  void StopHolder() {
    if (!holder.hProcess) return;
    if (HolderRuns()) TerminateProcess(holder.hProcess, 9);
    WaitForSingleObject(holder.hProcess, 10000);
    CloseHandle(holder.hProcess);
    CloseHandle(holder.hThread);
    holder = {};
  }
  bool EntryExists() { return KeyExists(kEntry, HKEY_LOCAL_MACHINE) || KeyExists(kEntry, HKEY_CURRENT_USER); }
  void ExpectAllGone() {
    Robot wait;
    EXPECT_TRUE(wait.WaitUntil([&] { return !PathExists(target) && RunningCommandInterpreters() == 0; }, kTimeout,
                               "the uninstaller's self-removal"));
    EXPECT_FALSE(EntryExists());
  }
};

// The file as Windows' own DeleteFile sees it while the holder runs: the
// rule every case below rests on, not Wine's kindness.
TEST_F(FilesInUse, AHeldFileRefusesDeletionAsOnWindows) {
  StartHolder(true);
  const std::string data = target + "\\data\\app.dat";
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(data.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                              NULL, OPEN_EXISTING, 0, NULL));
  EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
  EXPECT_FALSE(DeleteFileA(data.c_str()));
}

TEST_F(FilesInUse, SilentUninstallClosesAHolderThatListens) {
  StartHolder(false);
  EXPECT_EQ(0u, Uninstall(""));
  EXPECT_FALSE(HolderRuns()) << "the holder was not closed";
  const std::string text = ReadWholeFile(log);
  EXPECT_NE(std::string::npos, text.find("holder.exe (process")) << text;
  EXPECT_NE(std::string::npos, text.find("File holder")) << text;
  EXPECT_NE(std::string::npos, text.find("Program closed")) << text;
  ExpectAllGone();
}

TEST_F(FilesInUse, AHolderThatStaysIsFinishedAtTheRestartOrEndedByForce) {
  StartHolder(true);
  EXPECT_EQ(3010u, Uninstall(""));
  EXPECT_TRUE(HolderRuns());
  const std::string renames = PendingRenames();
  EXPECT_NE(std::string::npos, renames.find("InUse Test\\data\\app.dat")) << "deletion not scheduled";
  EXPECT_NE(std::string::npos, renames.find("InUse Test\\data")) << "its folder not scheduled";
  EXPECT_NE(std::string::npos, ReadWholeFile(log).find("File in use: deleted at the restart"));
  // what is not in use is gone, and so is the entry: the uninstallation is done
  Robot wait;
  EXPECT_TRUE(wait.WaitUntil([&] { return !PathExists(target + "\\Uninstall.exe"); }, kTimeout, "self-removal"));
  EXPECT_FALSE(PathExists(target + "\\readme.txt"));
  EXPECT_FALSE(EntryExists());
  EXPECT_TRUE(PathExists(target + "\\data\\app.dat"));
}

TEST_F(FilesInUse, ForceEndsAHolderThatStays) {
  StartHolder(true);
  EXPECT_EQ(0u, Uninstall("/FORCECLOSEAPPLICATIONS /NORESTART"));
  EXPECT_FALSE(HolderRuns());
  EXPECT_NE(std::string::npos, ReadWholeFile(log).find("Program ended"));
  ExpectAllGone();
}

TEST_F(FilesInUse, NotClosingLeavesTheHolderAndFinishesAtTheRestart) {
  StartHolder(false);
  EXPECT_EQ(3010u, Uninstall("/NOCLOSEAPPLICATIONS"));
  EXPECT_TRUE(HolderRuns()) << "asked to close against /NOCLOSEAPPLICATIONS";
}

TEST_F(FilesInUse, AReadOnlyFileOfTheInstallationIsRemoved) {
  const std::string data = target + "\\data\\app.dat";
  ASSERT_TRUE(SetFileAttributesA(data.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(0u, Uninstall(""));
  ExpectAllGone();
}

TEST_F(FilesInUse, WithoutRightsToScheduleNothingChangesAndASecondRunFinishes) {
  StartHolder(true);
  {
    NoRightsToSchedule noRights;
    ASSERT_TRUE(noRights.Taken()) << "the rights could not be taken away";
    EXPECT_EQ(7u, Uninstall(""));
  }
  const std::string text = ReadWholeFile(log);
  EXPECT_NE(std::string::npos, text.find("exit code 7")) << text;
  for (const char* f : {"Uninstall.exe", "Uninstall.log", "Translations.ini", "readme.txt", "data\\app.dat"})
    EXPECT_TRUE(PathExists(target + "\\" + f)) << f;
  EXPECT_TRUE(EntryExists());
  EXPECT_EQ(std::string::npos, PendingRenames().find("InUse Test")) << "scheduled without rights";

  StopHolder();
  EXPECT_EQ(0u, Uninstall(""));
  ExpectAllGone();
}

// The upgrade over a running program: closed when it listens; where it
// stays, its file is replaced at the restart (3010) or, by force, at once;
// without the rights to schedule, and told not to close it, nothing changes (7).
TEST_F(FilesInUse, UpgradeClosesAHolderThatListens) {
  StartHolder(false);
  EXPECT_EQ(0u, Upgrade(""));
  EXPECT_FALSE(HolderRuns());
  EXPECT_EQ("v2", Data());
  EXPECT_NE(std::string::npos, ReadWholeFile(log).find("holder.exe (process")) << ReadWholeFile(log);
}

TEST_F(FilesInUse, UpgradeReplacesAFileThatStaysInUseAtTheRestart) {
  StartHolder(true);
  EXPECT_EQ(3010u, Upgrade(""));
  EXPECT_TRUE(HolderRuns());
  const std::string renames = PendingRenames();
  EXPECT_NE(std::string::npos, renames.find("InUse Test\\data\\app.dat.new")) << "replacement not scheduled";
  EXPECT_NE(std::string::npos, ReadWholeFile(log).find("File in use: replaced at the restart"));
  StopHolder();
  EXPECT_EQ("v1", Data()) << "the held file changed before the restart";
  EXPECT_EQ("v2", ReadWholeFile(target + "\\data\\app.dat.new"));
  // a later run writes the file at once: that swap would put v2 over it
  EXPECT_EQ(0u, Upgrade(""));
  EXPECT_EQ("v2", Data());
  EXPECT_FALSE(PathExists(target + "\\data\\app.dat.new"));
  EXPECT_EQ(std::string::npos, PendingRenames().find("app.dat.new")) << "the earlier swap stayed";
}

TEST_F(FilesInUse, UpgradeEndsAHolderThatStaysByForce) {
  StartHolder(true);
  EXPECT_EQ(0u, Upgrade("/FORCECLOSEAPPLICATIONS"));
  EXPECT_FALSE(HolderRuns());
  EXPECT_EQ("v2", Data());
}

TEST_F(FilesInUse, UpgradeThatCannotReplaceAHeldFileRollsBackWith7) {
  StartHolder(false);
  {
    NoRightsToSchedule noRights;
    ASSERT_TRUE(noRights.Taken()) << "the rights could not be taken away";
    EXPECT_EQ(7u, Upgrade("/NOCLOSEAPPLICATIONS"));
  }
  EXPECT_TRUE(HolderRuns());
  StopHolder();
  EXPECT_EQ("v1", Data());
  EXPECT_FALSE(PathExists(target + "\\data\\app.dat.new"));
  EXPECT_TRUE(PathExists(target + "\\Uninstall.exe"));
}

// The holder's own file in use, and no file of the installation held: it is
// renamed aside (Windows allows that for a running program's file, never
// an overwrite) and the new one takes its place at once. The old one goes
// at the restart (3010), or, without the rights to schedule that, with the
// uninstaller, whose log names it (0), or with the next run once free.
TEST_F(FilesInUse, ARunningProgramsOwnFileGoesAsideAndTheNewOneTakesItsPlace) {
  std::string earlier;
  for (bool rights : {true, false}) {
    SCOPED_TRACE(rights ? "may schedule" : "may not schedule");
    const std::string outside = dir.File(rights ? "outside1.dat" : "outside2.dat");
    WriteWholeFile(outside, "x");
    StartHolder(true, target + "\\holder.exe", outside);
    DWORD code = 99;
    {
      std::unique_ptr<NoRightsToSchedule> noRights(rights ? nullptr : new NoRightsToSchedule);
      ASSERT_TRUE(rights || noRights->Taken());
      code = Upgrade("/NOCLOSEAPPLICATIONS");
    }
    EXPECT_EQ(rights ? 3010u : 0u, code) << ReadWholeFile(log);
    EXPECT_TRUE(HolderRuns());
    EXPECT_EQ("v2", Data());
    const std::string logged = ReadWholeFile(target + "\\Uninstall.log");
    const std::string tag = "FileCreated=" + target + "\\QSO";
    const size_t at = logged.rfind(tag);
    ASSERT_NE(std::string::npos, at) << "the old file, renamed aside, is not logged:\n" << logged;
    const std::string aside = logged.substr(at + 12, logged.find('\n', at) - at - 12);
    EXPECT_TRUE(PathExists(aside)) << aside;
    EXPECT_EQ(rights, PendingRenames().find(aside) != std::string::npos) << "its deletion at the restart";
    if (!earlier.empty()) {
      EXPECT_FALSE(PathExists(earlier)) << "the next run left the earlier one";
    }
    earlier = aside;
    StopHolder();
  }
  // both old files go with the uninstaller
  EXPECT_EQ(0u, Uninstall(""));
  ExpectAllGone();
}

// No earlier installation, and a file of the user's held at a destination.
// A run that fails after the files calls the swap off and leaves the file
// as it was; one that succeeds logs the destination too, which holds the
// new file after the restart.
TEST_F(FilesInUse, AFreshInstallOverAHeldFileLogsItAndARollbackCallsTheSwapOff) {
  ASSERT_EQ(0u, Uninstall(""));
  ExpectAllGone();
  const std::string data = target + "\\data\\app.dat";
  ASSERT_TRUE(CreateDirectoryA(target.c_str(), NULL) && CreateDirectoryA((target + "\\data").c_str(), NULL));
  WriteWholeFile(data, "user");
  StartHolder(true, QS_FILE_HOLDER_EXE, data);
  const std::string failing = BuildVersion("2", "[SysRegInt]\r\nHKEY_USERS/Software/QuillsetTest-InUse/V=1\r\n");
  EXPECT_EQ(1u, Run("\"" + failing + "\" /S /LOG=\"" + log + "\""));
  EXPECT_EQ(std::string::npos, PendingRenames().find("InUse Test\\data")) << "left scheduled by the rollback";
  EXPECT_FALSE(PathExists(data + ".new"));
  EXPECT_EQ(3010u, Upgrade(""));
  const std::string logged = ReadWholeFile(target + "\\Uninstall.log");
  EXPECT_NE(std::string::npos, logged.find("FileCreated=" + data + "\n")) << logged;
  EXPECT_NE(std::string::npos, PendingRenames().find("app.dat.new"));
  StopHolder();
  EXPECT_EQ("user", Data());
}

// The wizard names the holder on its question before anything changes:
// Cancel leaves v1 as it was; No leaves it running and says, before the
// finish page, that the restart completes the upgrade (3010); Yes closes it
// and the upgrade completes.
TEST_F(FilesInUse, TheWizardNamesTheHolderBeforeTheFirstChange) {
  const struct {
    int answer;
    const char* version;
  } cases[] = {{IDCANCEL, "2"}, {IDNO, "2"}, {IDYES, "3"}};
  for (const auto& c : cases) {
    const int answer = c.answer;
    SCOPED_TRACE(c.version);
    StartHolder(false);
    Robot robot;
    HWND w = StartSetup(robot, BuildVersion(c.version));
    ASSERT_TRUE(w);
    for (const char* page : {"CHOOSE_DESITNATION_LOCATION", "START_INSTALLATION", "INSTALLING"}) {
      ASSERT_TRUE(Robot::Press(w, IDC_NEXT)) << page;
      w = robot.WaitForWindow("#32770", En(page).c_str(), 20000);
      ASSERT_TRUE(w) << page;
    }
    RobotMessageBox box = robot.WaitForMessageBox("Quillset", 20000);
    ASSERT_TRUE(box.Window) << robot.WindowTree();
    EXPECT_NE(std::string::npos, box.Text.find("File holder (holder.exe)")) << box.Text;
    EXPECT_NE(std::string::npos, box.Text.find("Close the programs automatically")) << box.Text;
    EXPECT_TRUE(HolderRuns()) << "closed before the question was answered";
    ASSERT_TRUE(robot.Answer(box, answer));
    DWORD code = 99;
    if (answer == IDNO) {
      // the finish page says it, no box before it
      ASSERT_TRUE(robot.WaitUntil([&] { return Robot::ItemText(w, IDC_NEXT) == En("FINISH"); }, 60000,
                                  "the finish page"));
      Robot::Settle(w);
      const std::string said = Robot::ItemText(w, IDC_PAGE_TEXT);
      EXPECT_NE(std::string::npos, said.find("once the computer restarts")) << said;
      ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
      ASSERT_TRUE(robot.WaitForExit(20000, &code));
      EXPECT_EQ(3010u, code);
      EXPECT_TRUE(HolderRuns());
      EXPECT_NE(std::string::npos, PendingRenames().find("app.dat.new"));
    } else if (answer == IDYES) {
      ASSERT_TRUE(robot.WaitUntil([&] { return Robot::ItemText(w, IDC_NEXT) == En("FINISH"); }, 60000,
                                  "the finish page"));
      Robot::Settle(w);
      EXPECT_EQ(std::string::npos, Robot::ItemText(w, IDC_PAGE_TEXT).find("restart"));
      ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
      ASSERT_TRUE(robot.WaitForExit(20000, &code));
      EXPECT_EQ(0u, code);
      EXPECT_FALSE(HolderRuns());
      EXPECT_EQ("v3", Data());
    } else {
      // whatever the wizard says of the cancel, nothing has changed
      while (!robot.WaitForExit(500, &code)) {
        RobotMessageBox more = robot.WaitForMessageBox(NULL, 2000);
        if (more.Window) robot.Answer(more, more.Buttons.size() > 1 ? IDNO : IDOK);
      }
      EXPECT_EQ(2u, code);
      EXPECT_TRUE(HolderRuns());
      StopHolder();
      EXPECT_EQ("v1", Data());
      EXPECT_FALSE(PathExists(target + "\\data\\app.dat.new"));
    }
    StopHolder();
  }
}

}  // namespace
