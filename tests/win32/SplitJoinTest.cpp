// The join against front ends of the test's own and against its window:
// what it writes, which disks it asks for, what it reports, how it ends.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <thread>
#include <iostream>
#include <string>
#include <vector>

#include "Robot.h"
#include "../FakeSignature.h"
#include "TestPaths.h"
#include "TestSupport.h"
#include "driver/SetupState.h"
#include "driver/SplitJoin.h"
#include "efs/EfsFormat.h"
#include "efs/Sha256.h"
#include "efs/SliceRecord.h"
#include "resources/resource.h"
#include "ui/JoinWindow.h"

namespace {

std::string Sig(const unsigned char* signature) { return std::string((const char*)signature, 16); }

// A first slice as the command writes it: the program, then the record of
// its slices' digests.
std::string FirstSlice(const std::string& program, const std::vector<std::string>& slices) {
  std::string digests;
  for (const std::string& s : slices) {
    CSha256 h;
    h.Update(s.data(), s.size());
    unsigned char d[SHA256_SIZE];
    h.Final(d);
    digests.append((const char*)d, sizeof d);
  }
  std::string record(SliceRecordSize((uint32_t)slices.size()), '\0');
  WriteSliceRecord((unsigned char*)&record[0], (uint32_t)slices.size(), (const unsigned char*)digests.data());
  return program + record;
}

class SplitJoin : public ::testing::Test {
 protected:
  void SetUp() override {
    exe = dir.File("Setup.exe");
    base = dir.File("Setup");
    target = dir.File("joined.tmp");
    WriteWholeFile(target, "");
  }
  void TearDown() override { SetupState::ExePath[0] = '\0'; }

  RunResult Run(int mode, CFrontEnd& reports) {
    lstrcpynA(SetupState::ExePath, exe.c_str(), MAX_PATH);
    return JoinSplitParts(target.c_str(), base.c_str(), mode, reports);
  }

  TempFolder dir;
  std::string exe, base, target;
};

TEST_F(SplitJoin, CopyModeWritesTheRunningFileAloneOverTheTarget) {
  // a part beside it is not for copy mode
  WriteWholeFile(base + ".001", RandomBytes(100, 9) + Sig(InstallerSignature));
  for (size_t size : {25000u, 20480u, 0u}) {
    SCOPED_TRACE(size);
    const std::string bytes = RandomBytes(size, (unsigned)size);
    WriteWholeFile(exe, bytes);
    WriteWholeFile(target, std::string(40000, 'x'));  // longer than what replaces it
    CRecordingFrontEnd reports;
    EXPECT_EQ(RUN_DONE, Run(SPLITJOIN_COPY_EXE_ONLY, reports));
    EXPECT_TRUE(ReadWholeFile(target) == bytes);
    EXPECT_TRUE(reports.Awaited.empty());
    EXPECT_TRUE(reports.Found.empty());
    EXPECT_TRUE(reports.Failures.empty());
    EXPECT_TRUE(reports.ProgressWhole());
    EXPECT_EQ(std::vector<RunEnding>{RUN_DONE}, reports.Endings);
  }
}

TEST_F(SplitJoin, JoinModeAppendsThePartsItsRecordNamesAndNoMore) {
  const std::string stub = RandomBytes(25000, 1);
  // an uninstaller's signature is no end of the join
  const std::string one = RandomBytes(12000, 2) + Sig(UninstallerSignature);
  const std::string two = RandomBytes(30000, 3) + Sig(InstallerSignature);
  WriteWholeFile(exe, FirstSlice(stub, {one, two}));
  WriteWholeFile(base + ".001", one);
  WriteWholeFile(base + ".002", two);
  WriteWholeFile(base + ".003", "not part of it");
  CRecordingFrontEnd reports;
  EXPECT_EQ(RUN_DONE, Run(SPLITJOIN_JOIN_ALL, reports));
  EXPECT_TRUE(ReadWholeFile(target) == stub + one + two);
  EXPECT_TRUE(reports.AskedFor(2));
  EXPECT_TRUE(reports.AskedFor(3));
  EXPECT_FALSE(reports.AskedFor(4));
  EXPECT_EQ((std::vector<int>{2, 3}), reports.Found);
  // three parts, each a third of the bar
  EXPECT_TRUE(reports.ProgressWhole());
  EXPECT_GE(reports.Percents.size(), 3u);
  EXPECT_EQ(std::vector<RunEnding>{RUN_DONE}, reports.Endings);
}

// The first part signed after the split: its copy stays signed, and the
// joined installer takes it up to its certificate table, so the container's
// offsets hold; its headers then name no table it does not carry.
TEST_F(SplitJoin, ASignedFirstPartIsCopiedWholeAndJoinedWithoutItsTable) {
  const std::string program = MinimalProgram(0x5FE);  // not a multiple of 8: signing pads it
  const std::string one = RandomBytes(30000, 3) + Sig(InstallerSignature);
  std::string first = FirstSlice(program, {one});
  ASSERT_TRUE(AppendFakeCertificate(first, 3000 / 8 * 8));
  ASSERT_GT(first.size(), program.size() + 2000);
  WriteWholeFile(exe, first);
  CRecordingFrontEnd copy, join;
  EXPECT_EQ(RUN_DONE, Run(SPLITJOIN_COPY_EXE_ONLY, copy));
  EXPECT_TRUE(ReadWholeFile(target) == first);

  WriteWholeFile(base + ".001", one);
  WriteWholeFile(target, std::string(50000, 'x'));
  EXPECT_EQ(RUN_DONE, Run(SPLITJOIN_JOIN_ALL, join));
  EXPECT_TRUE(ReadWholeFile(target) == program + one) << "the program unsigned, without its record, then the part";
}

TEST_F(SplitJoin, AMissingPartIsAskedForUntilItArrivesOrTheUserCancels) {
  const std::string stub = RandomBytes(5000, 4);
  const std::string one = RandomBytes(7000, 5) + Sig(InstallerSignature);
  WriteWholeFile(exe, FirstSlice(stub, {one}));
  // arrives after it has been asked for a few times
  CRecordingFrontEnd arrives;
  arrives.during = [&](CRecordingFrontEnd& r) {
    if (r.Awaited.size() >= 4 && !PathExists(base + ".001")) WriteWholeFile(base + ".001", one);
  };
  EXPECT_EQ(RUN_DONE, Run(SPLITJOIN_JOIN_ALL, arrives));
  EXPECT_TRUE(ReadWholeFile(target) == stub + one);
  EXPECT_GE(arrives.Awaited.size(), 4u);
  for (int disk : arrives.Awaited) EXPECT_EQ(2, disk);
  EXPECT_EQ((std::vector<int>{2}), arrives.Found);

  // cancelled while waiting, by the join's Cancel or by the run's own (a
  // window that stops any run): it ends quietly, the target gone
  DeleteFileA((base + ".001").c_str());
  for (bool runsOwn : {false, true}) {
    SCOPED_TRACE(runsOwn ? "the run's cancel" : "the join's cancel");
    WriteWholeFile(target, "");
    CRecordingFrontEnd cancels;
    cancels.during = [&](CRecordingFrontEnd& r) {
      if (r.Awaited.size() < 2) return;
      if (runsOwn)
        SetupState::CancelRequested = 1;
      else
        RequestSplitJoinCancel();
    };
    EXPECT_EQ(RUN_CANCELLED, Run(SPLITJOIN_JOIN_ALL, cancels));
    EXPECT_FALSE(PathExists(target));
    EXPECT_TRUE(cancels.Found.empty());
    EXPECT_TRUE(cancels.Failures.empty());
    EXPECT_EQ(std::vector<RunEnding>{RUN_CANCELLED}, cancels.Endings);
  }
  SetupState::CancelRequested = 0;
}

// Nobody to insert a disk, with a progress window or with none: the join
// asks nothing, and a missing slice makes the set incomplete at once.
TEST_F(SplitJoin, UnattendedItReportsProgressAndAMissingSliceIsDamage) {
  const std::string stub = RandomBytes(30000, 12);
  const std::string one = RandomBytes(20000, 13), two = RandomBytes(20000, 14) + Sig(InstallerSignature);
  WriteWholeFile(exe, FirstSlice(stub, {one, two}));
  WriteWholeFile(base + ".001", one);
  for (DisplayMode mode : {DISPLAY_PASSIVE, DISPLAY_NONE}) {
    SCOPED_TRACE(mode);
    WriteWholeFile(base + ".002", two);
    WriteWholeFile(target, "");
    CRecordingFrontEnd all(mode);
    EXPECT_EQ(RUN_DONE, Run(SPLITJOIN_JOIN_ALL, all));
    EXPECT_TRUE(ReadWholeFile(target) == stub + one + two);
    EXPECT_TRUE(all.ProgressWhole());
    EXPECT_TRUE(all.Awaited.empty());
    EXPECT_TRUE(all.Found.empty());
    EXPECT_TRUE(all.Questions.empty());

    DeleteFileA((base + ".002").c_str());
    WriteWholeFile(target, "");
    CRecordingFrontEnd missing(mode);
    const DWORD start = GetTickCount();
    EXPECT_EQ(RUN_DAMAGED, Run(SPLITJOIN_JOIN_ALL, missing));
    EXPECT_LT(GetTickCount() - start, 5000u) << "it waited for the slice";
    EXPECT_FALSE(PathExists(target));
    EXPECT_TRUE(missing.Awaited.empty());
    EXPECT_TRUE(missing.Questions.empty());
    EXPECT_FALSE(missing.Percents.empty()) << "the first slice's progress";
    EXPECT_EQ(std::vector<RunEnding>{RUN_DAMAGED}, missing.Endings);
  }
}

// Each failure is said once, where it is found; the result tells a failure
// from damage without anyone counting boxes, and the target goes.
TEST_F(SplitJoin, AFailureIsSaidOnceAndEndsTheJoinFailedOrDamaged) {
  const std::string kOne = RandomBytes(500, 10), kTwo = RandomBytes(700, 11) + Sig(InstallerSignature);
  const char kDamaged[] = "The installation file is damaged or incomplete. Please obtain it again.";
  struct Case {
    const char* what;
    std::function<void()> arrange;
    const char* text;
    RunResult result;
  } cases[] = {
      {"no target", [&] { DeleteFileA(target.c_str()); }, "Failed to open destination file.", RUN_FAILED},
      {"no running file", [&] { DeleteFileA(exe.c_str()); }, "Failed to open source file.", RUN_FAILED},
      {"a part name too long", [&] { base = dir.File(std::string(250, 'b').c_str()); },
       "Failed to open source file.", RUN_FAILED},
      {"a slice of another build",
       [&] {
         WriteWholeFile(base + ".001", RandomBytes(500, 8) + Sig(InstallerSignature));
         WriteWholeFile(base + ".002", RandomBytes(500, 9) + Sig(InstallerSignature));
       },
       kDamaged, RUN_DAMAGED},
      {"a slice cut short",
       [&] {
         WriteWholeFile(base + ".001", kOne);
         WriteWholeFile(base + ".002", kTwo.substr(0, kTwo.size() - 1));
       },
       kDamaged, RUN_DAMAGED},
      {"no slice record", [&] { WriteWholeFile(exe, RandomBytes(3000, 7)); }, kDamaged, RUN_DAMAGED},
      {"a full disk",
       [&] {
         WriteWholeFile(exe, FirstSlice(RandomBytes(400000, 6), {kOne, kTwo}));  // the small drive holds 256 KiB
         target = "Q:\\joined.tmp";
         WriteWholeFile(target, "");
       },
       "Failed to write file.", RUN_FAILED},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (std::string(c.what) == "a full disk" && GetDriveTypeA("Q:\\") == DRIVE_NO_ROOT_DIR) {
      std::cout << "no small drive Q: (mounting a tmpfs was not allowed); full disk not tried\n";
      continue;
    }
    exe = dir.File("Setup.exe");
    base = dir.File("Setup");
    target = dir.File("joined.tmp");
    WriteWholeFile(exe, FirstSlice(RandomBytes(3000, 7), {kOne, kTwo}));
    WriteWholeFile(base + ".001", kOne);
    WriteWholeFile(base + ".002", kTwo);
    WriteWholeFile(target, "");
    c.arrange();
    CRecordingFrontEnd reports;
    EXPECT_EQ(c.result, Run(SPLITJOIN_JOIN_ALL, reports));
    EXPECT_EQ(std::vector<std::string>{c.text}, reports.Failures);
    EXPECT_EQ(std::vector<RunEnding>{c.result}, reports.Endings);
    EXPECT_FALSE(PathExists(target));
  }
}

// The join's window as the user meets it: the disk it needs, OK that only
// acknowledges, Cancel that stops it; a failure's box belongs to it.
TEST_F(SplitJoin, ItsWindowAsksForTheDiskAndCancelDeletesTheTarget) {
  const std::string one = RandomBytes(700, 15) + Sig(InstallerSignature);
  WriteWholeFile(exe, FirstSlice(RandomBytes(3000, 16), {one}));
  // the dialog and its texts from the setup program's resources
  HMODULE program = LoadLibraryExA(QS_STUB_PATH, NULL, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(program != NULL) << QS_STUB_PATH;
  Robot robot;
  robot.AttachSelf();
  {
    CJoinWindow window(program, "Setup");
    ASSERT_TRUE(window.Open());
    HWND w = window.Window();
    EXPECT_EQ("Setup", Robot::Text(w));
    EXPECT_EQ("Copying files... Please wait.", Robot::ItemText(w, IDC_SPLIT_TEXT));
    EXPECT_EQ("OK", Robot::ItemText(w, IDOK));
    EXPECT_EQ("Cancel", Robot::ItemText(w, IDCANCEL));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(w, IDOK)));
    std::string asked;
    bool okOn = false, okOffAfterPress = false, escaped = false;
    std::thread user([&] {
      if (!robot.WaitUntil([&] { return Robot::ItemText(w, IDC_SPLIT_TEXT) == "Please insert disk 2."; }, 10000,
                           "the disk asked for")) {
        RequestSplitJoinCancel();
        return;
      }
      asked = Robot::ItemText(w, IDC_SPLIT_TEXT);
      okOn = robot.WaitUntil([&] { return IsWindowEnabled(GetDlgItem(w, IDOK)) != FALSE; }, 5000, "OK on");
      Robot::Press(w, IDOK);
      okOffAfterPress = robot.WaitUntil([&] { return !IsWindowEnabled(GetDlgItem(w, IDOK)); }, 5000, "OK off");
      // Escape is Cancel, as in any dialog: the wait hands the dialog its keys
      PostMessageA(GetDlgItem(w, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 0);
      escaped = robot.WaitUntil([&] { return !IsWindow(w); }, 5000, "Escape ending the join");
      if (!escaped) RequestSplitJoinCancel();
    });
    EXPECT_EQ(RUN_CANCELLED, Run(SPLITJOIN_JOIN_ALL, window));
    user.join();
    EXPECT_EQ("Please insert disk 2.", asked);
    EXPECT_TRUE(okOn);
    EXPECT_TRUE(okOffAfterPress);
    EXPECT_TRUE(escaped);
    EXPECT_FALSE(PathExists(target));
    EXPECT_FALSE(IsWindow(w)) << "the window stays after the end";
  }
  {
    WriteWholeFile(target, "");
    WriteWholeFile(base + ".001", one + "changed");
    CJoinWindow window(program, "Setup");
    ASSERT_TRUE(window.Open());
    HWND w = window.Window();
    RobotMessageBox box;
    HWND owner = NULL;
    std::thread user([&] {
      box = robot.WaitForMessageBox("Error", 10000);
      if (!box.Window) return;
      owner = GetWindow(box.Window, GW_OWNER);
      Robot::Press(box.Window, IDOK);
    });
    EXPECT_EQ(RUN_DAMAGED, Run(SPLITJOIN_JOIN_ALL, window));
    user.join();
    EXPECT_EQ("The installation file is damaged or incomplete. Please obtain it again.", box.Text);
    EXPECT_EQ(w, owner);
    EXPECT_FALSE(PathExists(target));
  }
  FreeLibrary(program);
}

TEST(SplitPartName, TheNumberFollowsTheDotWithAtLeastThreeDigits) {
  char name[MAX_PATH];
  struct Case {
    unsigned n;
    const char* expected;
  } cases[] = {{1, "D:\\Setup.001"}, {12, "D:\\Setup.012"}, {999, "D:\\Setup.999"}, {1000, "D:\\Setup.1000"},
               {12345, "D:\\Setup.12345"}};
  for (const Case& c : cases) {
    ASSERT_EQ(1, SplitPartName("D:\\Setup", c.n, name, sizeof name)) << c.n;
    EXPECT_STREQ(c.expected, name);
  }
  const std::string longest(MAX_PATH - 5, 'a');  // with ".001", 259 characters
  EXPECT_EQ(1, SplitPartName(longest.c_str(), 1, name, sizeof name));
  EXPECT_EQ(0, SplitPartName(longest.c_str(), 1000, name, sizeof name));
  EXPECT_STREQ("", name);
}

}  // namespace
