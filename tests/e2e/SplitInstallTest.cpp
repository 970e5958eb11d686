// A setup file shipped in slices by quillset build --split, started from its
// first slice as a user would: the copy in the temporary folder asks for the
// missing slice, joins them, and the joined installer runs the usual wizard
// with the first slice's folder as its source; nothing stays behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../FakeSignature.h"
#include "../win32/Robot.h"
#include "../win32/TestSupport.h"
#include "E2eSupport.h"
#include "EnglishText.h"
#include "TestPaths.h"
#include "efs/EfsFormat.h"
#include "resources/resource.h"

namespace {

const char kQuillset[] = QS_BUILD_DIR "\\quillset.exe";

std::string IniValue(const std::string& file, const char* section, const char* key) {
  char value[512];
  GetPrivateProfileStringA(section, key, "<none>", value, sizeof value, file.c_str());
  return value;
}

struct Found {
  HWND Window;
  DWORD Pid;
  DWORD NotPid;  // a process whose windows do not count
};

BOOL CALLBACK FindVisible(HWND w, LPARAM p) {
  std::pair<std::pair<std::string, std::string>, Found>* f = (std::pair<std::pair<std::string, std::string>, Found>*)p;
  if (!IsWindowVisible(w) || Robot::Class(w) != f->first.first || Robot::Text(w) != f->first.second)
    return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid == f->second.NotPid) return TRUE;
  f->second.Window = w;
  f->second.Pid = pid;
  return FALSE;
}

// A visible top-level window of any process, for the processes the chain
// starts by itself; attaches the robot to its process.
HWND WaitForProcessWindow(Robot& robot, const char* cls, const std::string& caption, DWORD timeoutMs,
                          DWORD notPid = 0) {
  std::pair<std::pair<std::string, std::string>, Found> f{{cls, caption}, {NULL, 0, notPid}};
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    EnumWindows(FindVisible, (LPARAM)&f);
    if (f.second.Window) {
      EXPECT_TRUE(robot.Attach(f.second.Pid));
      return f.second.Window;
    }
    Sleep(50);
  }
  ADD_FAILURE() << "no window " << cls << " \"" << caption << "\" within " << timeoutMs << " ms";
  return NULL;
}

class SplitInstall : public ::testing::Test {
 protected:
  TempFolder dir;
  std::string media;   // where the slices are delivered
  std::string target;  // where the script installs
  std::string payload = RandomBytes(300000, 7);
  std::string temp;  // the temporary folder of the chain, empty at first
  std::string oldTmp, oldTemp;

  void SetUp() override {
    media = dir.File("Disk Set");
    target = dir.File("Split App");
    CreateDirectoryA(dir.File("project").c_str(), NULL);
    WriteWholeFile(dir.File("project\\payload.bin"), payload);
    WriteWholeFile(dir.File("project\\default.qsp"),
                   "QSP40\r\n[Global]\r\nApplicationName = Split App\r\nDefaultDir = " + target +
                       "\r\n[Files]\r\npayload.bin, %MAINDIR%payload.bin\r\n"
                       "[INIFiles]\r\n%SOURCEDIR%source.ini,Source,Found,yes\r\n"
                       // what lies right in the temporary folder while the chain waits
                       "[Execute]\r\ncmd.exe /c dir /b \"%TEMP%\" > \"" +
                       dir.File("listing.txt") + "\"\r\n");
    // 100 KiB slices of ~300 KB that does not compress: .001 to .003 at least
    const std::string line = std::string("\"") + kQuillset + "\" build --quiet --split 100K --compression " +
                             TestCompression() + " --arch " QS_ARCH " --stub \"" +
                             QS_STUB_PATH + "\" -o \"" + media + "\\Setup.exe\" \"" +
                             dir.File("project\\default.qsp") + "\"";
    Robot cli;
    ASSERT_TRUE(cli.Start(line)) << line;
    DWORD code = 1;
    ASSERT_TRUE(cli.WaitForExit(60000, &code));
    ASSERT_EQ(0u, code) << line;
    ASSERT_TRUE(PathExists(media + "\\Setup.003"));
    // The chain gets a temporary folder of its own, with a blank in its
    // name, that must stay and end empty.
    temp = dir.File("chain temp");
    CreateDirectoryA(temp.c_str(), NULL);
    oldTmp = Env("TMP");
    oldTemp = Env("TEMP");
    SetEnvironmentVariableA("TMP", temp.c_str());
    SetEnvironmentVariableA("TEMP", temp.c_str());
  }

  void TearDown() override {
    SetEnvironmentVariableA("TMP", oldTmp.empty() ? NULL : oldTmp.c_str());
    SetEnvironmentVariableA("TEMP", oldTemp.empty() ? NULL : oldTemp.c_str());
  }

  static std::string Env(const char* name) {
    char value[MAX_PATH] = "";
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n && n < sizeof value ? value : "";
  }

  // Starts the first slice from its own folder; the join window of the
  // temporary copy, with `join` attached to that copy. The first slice
  // waits for the copy, which waits for the joined installer.
  HWND StartFirstSlice(Robot& first, Robot& join) {
    if (!first.Start("\"" + media + "\\Setup.exe\"", media.c_str())) {
      ADD_FAILURE() << "cannot start the first slice";
      return NULL;
    }
    // the copy's window, not the one the first slice shows while it copies
    return WaitForProcessWindow(join, "#32770", "Setup", 20000, first.Pid());
  }

  bool WaitForText(Robot& robot, HWND w, const std::string& text) {
    return robot.WaitUntil([&] { return Robot::ItemText(w, IDC_SPLIT_TEXT) == text; }, 20000, text.c_str());
  }

  // The copy, then the first slice, end with the same exit code.
  static void ExpectChainEnds(Robot& first, Robot& join, DWORD expected) {
    DWORD code = 99;
    ASSERT_TRUE(join.WaitForExit(20000, &code));
    EXPECT_EQ(expected, code) << "the copy";
    ASSERT_TRUE(first.WaitForExit(20000, &code));
    EXPECT_EQ(expected, code) << "the first slice";
  }

  // The temporary copies remove themselves once their processes have ended;
  // the folder they ran from stays, though they leave it empty.
  void ExpectNothingLeft(Robot& robot) {
    robot.WaitUntil([&] { return FilesIn(temp).empty(); }, 20000, "the temporary copies going");
    EXPECT_EQ(std::vector<std::string>(), FilesIn(temp));
    EXPECT_TRUE(PathExists(temp));
  }
};

TEST_F(SplitInstall, AMissingSliceIsAskedForThenTheJoinedSetupInstallsAndGoes) {
  const std::string held = dir.File("Setup.002");
  ASSERT_TRUE(MoveFileA((media + "\\Setup.002").c_str(), held.c_str()));
  Robot first, join;
  HWND w = StartFirstSlice(first, join);
  ASSERT_TRUE(w);
  EXPECT_EQ("OK", Robot::ItemText(w, IDOK));
  EXPECT_EQ("Cancel", Robot::ItemText(w, IDCANCEL));
  ASSERT_TRUE(WaitForText(join, w, "Please insert disk 3."));
  ASSERT_TRUE(join.WaitUntil([&] { return IsWindowEnabled(GetDlgItem(w, IDOK)) != FALSE; }, 5000, "OK enabled"));
  // OK only acknowledges: it goes grey until the slice is looked for again
  ASSERT_TRUE(Robot::Press(w, IDOK));
  EXPECT_TRUE(join.WaitUntil([&] { return !IsWindowEnabled(GetDlgItem(w, IDOK)); }, 5000, "OK disabled"));
  EXPECT_TRUE(join.WaitUntil([&] { return IsWindowEnabled(GetDlgItem(w, IDOK)) != FALSE; }, 5000, "OK again"));
  EXPECT_EQ("Please insert disk 3.", Robot::ItemText(w, IDC_SPLIT_TEXT));
  EXPECT_FALSE(PathExists(target));

  ASSERT_TRUE(MoveFileA(held.c_str(), (media + "\\Setup.002").c_str()));
  Robot setup;
  HWND wizard = WaitForProcessWindow(setup, "#32770", En("WELCOME"), 30000);
  ASSERT_TRUE(wizard);
  DWORD code = 1;
  ASSERT_NO_FATAL_FAILURE(InstallWithDefaults(setup, wizard));
  // the chain ends with the installation, with its exit code
  EXPECT_TRUE(join.WaitForExit(20000, &code));
  EXPECT_EQ(0u, code);
  EXPECT_TRUE(first.WaitForExit(20000, &code));
  EXPECT_EQ(0u, code);

  EXPECT_TRUE(ReadWholeFile(target + "\\payload.bin") == payload);
  // the source is where the user started, not the temporary folder (the
  // value itself would be cut at the blank in "Disk Set", so the file's
  // place tells)
  EXPECT_EQ("yes", IniValue(media + "\\source.ini", "Source", "Found"));
  EXPECT_TRUE(PathExists(target + "\\Uninstall.exe"));
  ExpectNothingLeft(setup);

  // The joined installation uninstalls as any other.
  Robot un;
  ASSERT_NO_FATAL_FAILURE(UninstallWithYes(un, target + "\\Uninstall.exe", dir.Path()));
  EXPECT_TRUE(un.WaitUntil([&] { return !PathExists(target); }, 20000, "the uninstaller's self-removal"));
  // the slices are the user's and stay
  for (const char* s : {"Setup.exe", "Setup.001", "Setup.002", "Setup.003"})
    EXPECT_TRUE(PathExists(media + "\\" + s)) << s;
}

// The publisher signs the first slice after the split (with osslsigncode,
// tests/e2e/make-signed-setups.sh): its slice record lies before the
// certificate table, and it joins and installs all the same.
TEST_F(SplitInstall, SignedFirstSliceJoinsAndInstalls) {
  const std::string set = QS_SIGNED_DIR "\\split";
  const std::string signedFirst = ReadWholeFile(set + "\\Setup.exe");
  ASSERT_GT(signedFirst.size(), ReadWholeFile(QS_STUB_PATH).size()) << "no signed split set in " << set;
  const char kSignedFolder[] = "C:\\QuillsetTest Signed";
  ASSERT_FALSE(PathExists(kSignedFolder));
  std::vector<std::string> slices = {"Setup.exe"};
  for (int n = 1; PathExists(set + "\\Setup.00" + std::to_string(n)); ++n) slices.push_back("Setup.00" + std::to_string(n));
  ASSERT_GE(slices.size(), 3u);
  for (const char* s : {"Setup.exe", "Setup.001", "Setup.002", "Setup.003"}) DeleteFileA((media + "\\" + s).c_str());
  for (const std::string& s : slices) WriteWholeFile(media + "\\" + s, ReadWholeFile(set + "\\" + s));

  Robot start;
  ASSERT_TRUE(start.Start("\"" + media + "\\Setup.exe\"", media.c_str()));
  DWORD code = 1;
  // every slice is there: no disk is asked for, the joined setup starts
  Robot setup;
  HWND wizard = WaitForProcessWindow(setup, "#32770", En("WELCOME"), 30000);
  ASSERT_TRUE(wizard);
  ASSERT_NO_FATAL_FAILURE(InstallWithDefaults(setup, wizard));
  EXPECT_TRUE(start.WaitForExit(20000, &code));
  EXPECT_EQ(0u, code) << "the first slice returns the installer's exit code";
  const std::string folder = kSignedFolder;
  EXPECT_TRUE(ReadWholeFile(folder + "\\payload.bin") == ReadWholeFile(QS_SIGNED_DIR "\\project\\payload.bin"));
  // the uninstaller is the bare program again, unsigned, without the record
  EXPECT_TRUE(ReadWholeFile(folder + "\\Uninstall.exe") ==
              WithoutChecksum(ReadWholeFile(QS_STUB_PATH)) + std::string((const char*)UninstallerSignature, 16));
  ExpectNothingLeft(setup);
  EXPECT_TRUE(ReadWholeFile(media + "\\Setup.exe") == signedFirst) << "the user's slice stays as it was";

  Robot un;
  ASSERT_NO_FATAL_FAILURE(UninstallWithYes(un, folder + "\\Uninstall.exe", dir.Path()));
  EXPECT_TRUE(un.WaitUntil([&] { return !PathExists(kSignedFolder); }, 70000, "the uninstaller's self-removal"));
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\QuillsetTest-Signed");
}

// Builds the same project, with a new payload of the same size, into
// folder: another build whose slices have the sizes of the first's.
void BuildOtherSet(const std::string& project, const std::string& folder, const std::string& payload) {
  WriteWholeFile(project + "\\payload.bin", payload);
  const std::string line = std::string("\"") + kQuillset + "\" build --quiet --split 100K --arch " QS_ARCH " --stub \"" +
                           QS_STUB_PATH + "\" -o \"" + folder + "\\Setup.exe\" \"" + project + "\\default.qsp\"";
  Robot cli;
  ASSERT_TRUE(cli.Start(line)) << line;
  DWORD code = 1;
  ASSERT_TRUE(cli.WaitForExit(60000, &code));
  ASSERT_EQ(0u, code) << line;
}

// Slices bound to their first slice: another build's slices beside it, all
// of them or one of the same size, are refused before anything is copied
// or run, with the message of a damaged setup file and a failure code.
TEST_F(SplitInstall, SlicesOfAnotherBuildAreRefusedAndNothingRuns) {
  const std::string other = dir.File("Other Set");
  ASSERT_NO_FATAL_FAILURE(BuildOtherSet(dir.File("project"), other, RandomBytes(payload.size(), 8)));
  std::vector<std::string> names;
  for (int n = 1; PathExists(media + "\\Setup.00" + std::to_string(n)); ++n) names.push_back("Setup.00" + std::to_string(n));
  for (const std::string& n : names)
    ASSERT_EQ(ReadWholeFile(media + "\\" + n).size(), ReadWholeFile(other + "\\" + n).size()) << n;
  std::vector<std::string> own;
  for (const std::string& n : names) own.push_back(ReadWholeFile(media + "\\" + n));

  struct Case {
    const char* what;
    std::vector<std::string> swapped;
  } cases[] = {{"all slices of the other build", names}, {"one slice of the same size", {"Setup.002"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::string& n : c.swapped) WriteWholeFile(media + "\\" + n, ReadWholeFile(other + "\\" + n));
    Robot first;
    ASSERT_TRUE(first.Start("\"" + media + "\\Setup.exe\"", media.c_str()));
    RobotMessageBox box = first.WaitForMessageBox("Error", 20000);
    ASSERT_TRUE(box.Window) << first.WindowTree();
    EXPECT_EQ("The installation file is damaged or incomplete. Please obtain it again.", box.Text);
    // the run's temporary uninstall log, in its private folder where it is elevated
    for (const std::string& f : FilesIn(temp)) {
      EXPECT_TRUE(f.compare(0, 3, "UNI") == 0 || f.compare(0, 3, "QST") == 0) << f << ": a copy was made while the question is up";
      if (f.compare(0, 3, "QST") == 0) {
        for (const std::string& inside : FilesIn(temp + "\\" + f))
          EXPECT_EQ(0, inside.compare(0, 3, "UNI")) << inside << ": a copy was made while the question is up";
      }
    }
    ASSERT_TRUE(first.Answer(box, IDOK));
    DWORD code = 0;
    ASSERT_TRUE(first.WaitForExit(20000, &code));
    EXPECT_NE(0u, code);
    EXPECT_FALSE(FindWindowA("#32770", "Setup")) << "a join window came up";
    EXPECT_FALSE(FindWindowA("#32770", En("WELCOME").c_str())) << "a setup started";
    EXPECT_FALSE(PathExists(target));
    ExpectNothingLeft(first);
    for (size_t i = 0; i < names.size(); ++i) WriteWholeFile(media + "\\" + names[i], own[i]);
  }
}

// Runs the first slice with options and waits for the whole chain, noting
// every visible dialog of any process meanwhile.
DWORD RunChainWatched(const std::string& line, const std::string& cwd, std::vector<std::string>* dialogs) {
  Robot first;
  if (!first.Start(line, cwd.c_str())) {
    ADD_FAILURE() << "cannot start " << line;
    return 99;
  }
  const DWORD start = GetTickCount();
  while (first.Running() && GetTickCount() - start < 60000) {
    for (HWND w = FindWindowExA(NULL, NULL, "#32770", NULL); w; w = FindWindowExA(NULL, w, "#32770", NULL))
      if (IsWindowVisible(w)) dialogs->push_back(Robot::Text(w));
    Sleep(100);
  }
  DWORD code = 99;
  EXPECT_TRUE(first.WaitForExit(1000, &code)) << line;
  return code;
}

TEST_F(SplitInstall, SilentlyTheFirstSliceWaitsAndReturnsTheInstallersExitCode) {
  std::vector<std::string> dialogs;
  const std::string log = dir.File("split.log");
  EXPECT_EQ(0u, RunChainWatched("\"" + media + "\\Setup.exe\" /S /LOG=" + log, media, &dialogs));
  EXPECT_TRUE(dialogs.empty()) << dialogs.front();
  EXPECT_TRUE(ReadWholeFile(target + "\\payload.bin") == payload);
  EXPECT_EQ("yes", IniValue(media + "\\source.ini", "Source", "Found"));
  Robot waiting;
  ExpectNothingLeft(waiting);
  // one log, the three processes one after the other
  const std::string text = ReadWholeFile(log);
  EXPECT_NE(std::string::npos, text.find("FileCreated: " + target + "\\payload.bin")) << text;
  size_t results = 0;
  for (size_t at = 0; (at = text.find("Result: exit code 0", at)) != std::string::npos; ++at) ++results;
  EXPECT_EQ(3u, results) << text;
  // the copies that wait for the installer lie in their private folders
  const std::string listing = "\n" + ReadWholeFile(dir.File("listing.txt"));
  EXPECT_NE(std::string::npos, listing.find("\nQST")) << listing;
  EXPECT_EQ(std::string::npos, listing.find("\nEXE")) << listing;

  // a quote in the folder would break the options passed down the chain:
  // refused by the first slice as a bad command line
  const std::string refused = dir.File("refused.log");
  EXPECT_EQ(5u, RunChainWatched("\"" + media + "\\Setup.exe\" /S /LOG=" + refused + " /D=" + dir.File("Split\"App"),
                                media, &dialogs));
  EXPECT_TRUE(dialogs.empty()) << dialogs.front();
  EXPECT_NE(std::string::npos, ReadWholeFile(refused).find("No usable folder")) << ReadWholeFile(refused);

  Robot un;
  ASSERT_TRUE(un.Start("\"" + target + "\\Uninstall.exe\" /S /LOG=" + dir.File("un.log"), dir.Path().c_str()));
  DWORD code = 99;
  ASSERT_TRUE(un.WaitForExit(60000, &code));
  EXPECT_EQ(0u, code);
  EXPECT_TRUE(un.WaitUntil([&] { return !PathExists(target); }, 20000, "the uninstaller's self-removal"));
  DeleteFileA((media + "\\source.ini").c_str());

  // A silent join asks for no disk: a missing slice makes the setup incomplete.
  const std::string held = dir.File("Setup.002");
  ASSERT_TRUE(MoveFileA((media + "\\Setup.002").c_str(), held.c_str()));
  dialogs.clear();
  EXPECT_EQ(3u, RunChainWatched("\"" + media + "\\Setup.exe\" /S /LOG=" + log, media, &dialogs));
  EXPECT_TRUE(dialogs.empty()) << dialogs.front();
  EXPECT_FALSE(PathExists(target));
  EXPECT_NE(std::string::npos, ReadWholeFile(log).find("Failure: the slice " + media + "\\Setup.002 is missing"))
      << ReadWholeFile(log);
  ExpectNothingLeft(un);
  MoveFileA(held.c_str(), (media + "\\Setup.002").c_str());

  // /PASSIVE goes down the chain: no dialog on the way, the installer's code
  dialogs.clear();
  EXPECT_EQ(0u, RunChainWatched("\"" + media + "\\Setup.exe\" /PASSIVE /LOG=" + log, media, &dialogs));
  EXPECT_TRUE(dialogs.empty()) << dialogs.front();
  EXPECT_TRUE(ReadWholeFile(target + "\\payload.bin") == payload);
  ASSERT_TRUE(un.Start("\"" + target + "\\Uninstall.exe\" /S", dir.Path().c_str()));
  ASSERT_TRUE(un.WaitForExit(60000, &code));
  EXPECT_TRUE(un.WaitUntil([&] { return !PathExists(target); }, 20000, "the uninstaller's self-removal"));
  DeleteFileA((media + "\\source.ini").c_str());
}

TEST_F(SplitInstall, CancelWhileWaitingForADiskEndsTheChainWithNothingInstalled) {
  const std::string held = dir.File("Setup.001");
  ASSERT_TRUE(MoveFileA((media + "\\Setup.001").c_str(), held.c_str()));
  Robot first, join;
  HWND w = StartFirstSlice(first, join);
  ASSERT_TRUE(w);
  ASSERT_TRUE(WaitForText(join, w, "Please insert disk 2."));
  // the copy and the joined file being written, each in the private folder
  // of the process that made it, in the temporary folder
  std::vector<std::string> copies;
  for (const std::string& f : FilesIn(temp))
    if (f.compare(0, 3, "QST") == 0)
      for (const std::string& n : FilesIn(temp + "\\" + f))
        if (n.compare(0, 3, "EXE") == 0) copies.push_back(f + "\\" + n);
  EXPECT_EQ(2u, copies.size());
  ASSERT_TRUE(Robot::Press(w, IDCANCEL));
  ASSERT_NO_FATAL_FAILURE(ExpectChainEnds(first, join, 2));  // cancelled
  ExpectNothingLeft(join);
  EXPECT_FALSE(PathExists(target));
  HWND welcome = FindWindowA("#32770", En("WELCOME").c_str());
  EXPECT_TRUE(welcome == NULL) << "an installer started after the cancel";
  MoveFileA(held.c_str(), (media + "\\Setup.001").c_str());
}

// A slice that cannot be read ends the join with its message: a failure
// (exit code 1), not a cancel, and nothing is installed.
TEST_F(SplitInstall, AnUnreadableSliceIsAFailure) {
  HANDLE held = CreateFileA((media + "\\Setup.001").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  Robot first, join;
  HWND w = StartFirstSlice(first, join);
  ASSERT_TRUE(w);
  EXPECT_EQ("Failed to open source file.", join.AnswerMessageBox("Error", IDOK, 20000));
  ASSERT_NO_FATAL_FAILURE(ExpectChainEnds(first, join, 1));  // a failure, not a cancel
  CloseHandle(held);
  EXPECT_FALSE(PathExists(target));
  ExpectNothingLeft(join);
}

}  // namespace
