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
};

BOOL CALLBACK FindVisible(HWND w, LPARAM p) {
  std::pair<std::pair<std::string, std::string>, Found>* f = (std::pair<std::pair<std::string, std::string>, Found>*)p;
  if (!IsWindowVisible(w) || Robot::Class(w) != f->first.first || Robot::Text(w) != f->first.second)
    return TRUE;
  f->second.Window = w;
  GetWindowThreadProcessId(w, &f->second.Pid);
  return FALSE;
}

// A visible top-level window of any process, for the processes the chain
// starts by itself; attaches the robot to its process.
HWND WaitForProcessWindow(Robot& robot, const char* cls, const std::string& caption, DWORD timeoutMs) {
  std::pair<std::pair<std::string, std::string>, Found> f{{cls, caption}, {NULL, 0}};
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
                       "[INIFiles]\r\n%SOURCEDIR%source.ini,Source,Found,yes\r\n");
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
  // temporary copy, with `join` attached to that copy.
  HWND StartFirstSlice(Robot& first, Robot& join) {
    if (!first.Start("\"" + media + "\\Setup.exe\"", media.c_str())) {
      ADD_FAILURE() << "cannot start the first slice";
      return NULL;
    }
    DWORD code = 1;
    // it copies itself, starts the copy and is gone
    EXPECT_TRUE(first.WaitForExit(20000, &code));
    EXPECT_EQ(0u, code);
    return WaitForProcessWindow(join, "#32770", "Setup", 20000);
  }

  bool WaitForText(Robot& robot, HWND w, const std::string& text) {
    return robot.WaitUntil([&] { return Robot::ItemText(w, 1015) == text; }, 20000, text.c_str());
  }

  // The temporary copies remove themselves once their processes have ended;
  // the folder they ran from stays, though they leave it empty.
  void ExpectNothingLeft(Robot& robot) {
    robot.WaitUntil([&] { return Leftovers(temp).empty(); }, 20000, "the temporary copies going");
    EXPECT_EQ(std::vector<std::string>(), Leftovers(temp));
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
  EXPECT_EQ("Please insert disk 3.", Robot::ItemText(w, 1015));
  EXPECT_FALSE(PathExists(target));

  ASSERT_TRUE(MoveFileA(held.c_str(), (media + "\\Setup.002").c_str()));
  Robot setup;
  HWND wizard = WaitForProcessWindow(setup, "#32770", En("WELCOME"), 30000);
  ASSERT_TRUE(wizard);
  DWORD code = 1;
  EXPECT_TRUE(join.WaitForExit(20000, &code));  // the copy is done once it has started the setup
  ASSERT_NO_FATAL_FAILURE(InstallWithDefaults(setup, wizard));

  EXPECT_TRUE(ReadWholeFile(target + "\\payload.bin") == payload);
  // the source is where the user started, not the temporary folder (the
  // value itself would be cut at the blank in "Disk Set", so the file's
  // place tells)
  EXPECT_EQ("yes", IniValue(media + "\\source.ini", "Source", "Found"));
  EXPECT_TRUE(PathExists(target + "\\Uninstall.exe"));
  ExpectNothingLeft(setup);

  // The joined installation uninstalls as any other.
  Robot un;
  ASSERT_TRUE(un.Start("\"" + target + "\\Uninstall.exe\"", dir.Path().c_str()));
  un.AnswerMessageBox(En("UNINSTALL_TITLE").c_str(), IDYES, 20000);
  HWND result = NULL;
  ASSERT_TRUE(un.WaitUntil(
      [&] {
        result = un.FindWindowNow("#32770", En("UNINSTALL_TITLE").c_str());
        return result && GetDlgItem(result, 1013) && IsWindowVisible(GetDlgItem(result, IDOK));
      },
      60000, "the uninstall result"));
  EXPECT_EQ(En("UNINSTALLATION_IS_NOW_FINISHED"), Robot::ItemText(result, 1013));
  Robot::Press(result, IDOK);
  ASSERT_TRUE(un.WaitForExit(20000, &code));
  EXPECT_TRUE(un.WaitUntil([&] { return !PathExists(target); }, 20000, "the uninstaller's self-removal"));
  // the slices are the user's and stay
  for (const char* s : {"Setup.exe", "Setup.001", "Setup.002", "Setup.003"})
    EXPECT_TRUE(PathExists(media + "\\" + s)) << s;
}

// The publisher signs the first slice after the split (with osslsigncode,
// tests/e2e/make-signed-setups.sh): it joins and installs all the same.
TEST_F(SplitInstall, SignedFirstSliceJoinsAndInstalls) {
  const std::string first = media + "\\Setup.exe";
  ASSERT_TRUE(ReadWholeFile(first) == ReadWholeFile(QS_STUB_PATH)) << "the first slice is the bare program";
  const std::string signedStub = ReadWholeFile(QS_SIGNED_DIR "\\SignedStub.exe");
  ASSERT_GT(signedStub.size(), ReadWholeFile(QS_STUB_PATH).size()) << "no signed setup program in " QS_SIGNED_DIR;
  WriteWholeFile(first, signedStub);

  Robot start;
  ASSERT_TRUE(start.Start("\"" + first + "\"", media.c_str()));
  DWORD code = 1;
  EXPECT_TRUE(start.WaitForExit(20000, &code));
  EXPECT_EQ(0u, code);
  // every slice is there: no disk is asked for, the joined setup starts
  Robot setup;
  HWND wizard = WaitForProcessWindow(setup, "#32770", En("WELCOME"), 30000);
  ASSERT_TRUE(wizard);
  ASSERT_NO_FATAL_FAILURE(InstallWithDefaults(setup, wizard));
  EXPECT_TRUE(ReadWholeFile(target + "\\payload.bin") == payload);
  EXPECT_EQ("yes", IniValue(media + "\\source.ini", "Source", "Found"));
  // the uninstaller is the bare program again, unsigned
  EXPECT_TRUE(ReadWholeFile(target + "\\Uninstall.exe") ==
              WithoutChecksum(ReadWholeFile(QS_STUB_PATH)) + std::string((const char*)UninstallerSignature, 16));
  ExpectNothingLeft(setup);
  EXPECT_TRUE(ReadWholeFile(first) == signedStub) << "the user's slice stays as it was";
}

TEST_F(SplitInstall, CancelWhileWaitingForADiskEndsTheChainWithNothingInstalled) {
  const std::string held = dir.File("Setup.001");
  ASSERT_TRUE(MoveFileA((media + "\\Setup.001").c_str(), held.c_str()));
  Robot first, join;
  HWND w = StartFirstSlice(first, join);
  ASSERT_TRUE(w);
  ASSERT_TRUE(WaitForText(join, w, "Please insert disk 2."));
  // the copy and the joined file being written, both in the temporary folder
  std::vector<std::string> meanwhile = Leftovers(temp);
  EXPECT_EQ(2, std::count_if(meanwhile.begin(), meanwhile.end(),
                             [](const std::string& n) { return n.compare(0, 3, "EXE") == 0; }));
  ASSERT_TRUE(Robot::Press(w, IDCANCEL));
  DWORD code = 1;
  ASSERT_TRUE(join.WaitForExit(20000, &code));
  EXPECT_EQ(0u, code);
  ExpectNothingLeft(join);
  EXPECT_FALSE(PathExists(target));
  HWND welcome = FindWindowA("#32770", En("WELCOME").c_str());
  EXPECT_TRUE(welcome == NULL) << "an installer started after the cancel";
  MoveFileA(held.c_str(), (media + "\\Setup.001").c_str());
}

}  // namespace
