// The join worker against a window of the test's own: what it writes, which
// disks it asks for, how it stops.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "Robot.h"
#include "../FakeSignature.h"
#include "TestSupport.h"
#include "driver/SetupState.h"
#include "driver/SplitJoin.h"
#include "efs/EfsFormat.h"
#include "efs/Sha256.h"
#include "efs/SliceRecord.h"

namespace {

struct Seen {
  UINT Message;
  WPARAM Param;
};
std::vector<Seen> g_Seen;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SPLIT_WAIT_DISK || message == WM_SPLIT_DISK_FOUND || message == WM_SPLIT_DONE ||
      (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL))
    g_Seen.push_back({message, wParam});
  return DefWindowProcA(window, message, wParam, lParam);
}

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
    window = ProbeWindow("QsSplitJoinTest", RecordingProc);
    ASSERT_TRUE(window != NULL);
    g_Seen.clear();
    exe = dir.File("Setup.exe");
    base = dir.File("Setup");
    target = dir.File("joined.tmp");
    WriteWholeFile(target, "");
  }
  void TearDown() override {
    DestroyWindow(window);
    SetupState::ExePath[0] = '\0';
  }

  // Runs the worker on its own thread against the window, pumping the
  // window's messages, until it has ended and its messages are in;
  // `during` is called between rounds (to add a part, to cancel, to answer
  // a box). The worker's exit code, or 1234 when it does not end.
  DWORD Run(int mode, const std::function<void()>& during = [] {}) {
    lstrcpynA(SetupState::ExePath, exe.c_str(), MAX_PATH);
    SetSplitJoinJob(target.c_str(), base.c_str(), mode);
    HANDLE thread = CreateThread(NULL, 0, SplitJoinThread, window, 0, NULL);
    if (!thread) return 1234;
    DWORD start = GetTickCount();
    bool ended = false;
    while (GetTickCount() - start < 30000) {
      MSG m;
      while (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
      if (ended) break;  // one more round for what it posted last
      ended = WaitForSingleObject(thread, 20) == WAIT_OBJECT_0;
      if (!ended) during();
    }
    DWORD code = 1234;
    if (!ended) {
      RequestSplitJoinCancel();
      WaitForSingleObject(thread, 5000);
    } else {
      GetExitCodeThread(thread, &code);
    }
    CloseHandle(thread);
    return code;
  }

  static std::vector<WPARAM> All(UINT message) {
    std::vector<WPARAM> out;
    for (const Seen& s : g_Seen)
      if (s.Message == message) out.push_back(s.Param);
    return out;
  }
  static size_t Count(UINT message) { return All(message).size(); }
  static bool AskedFor(WPARAM disk) {
    for (WPARAM d : All(WM_SPLIT_WAIT_DISK))
      if (d == disk) return true;
    return false;
  }

  TempFolder dir;
  HWND window = NULL;
  std::string exe, base, target;
};

TEST_F(SplitJoin, CopyModeWritesTheRunningFileAloneOverTheTarget) {
  // a part beside it is not for copy mode
  WriteWholeFile(base + ".001", RandomBytes(100, 9) + Sig(InstallerSignature));
  for (size_t size : {25000u, 20480u, 0u}) {
    SCOPED_TRACE(size);
    g_Seen.clear();
    const std::string bytes = RandomBytes(size, (unsigned)size);
    WriteWholeFile(exe, bytes);
    WriteWholeFile(target, std::string(40000, 'x'));  // longer than what replaces it
    EXPECT_EQ(0u, Run(SPLITJOIN_COPY_EXE_ONLY));
    EXPECT_TRUE(ReadWholeFile(target) == bytes);
    EXPECT_EQ(0u, Count(WM_SPLIT_WAIT_DISK));
    EXPECT_EQ(0u, Count(WM_SPLIT_DISK_FOUND));
    EXPECT_EQ(1u, Count(WM_SPLIT_DONE));
    EXPECT_EQ(0u, Count(WM_COMMAND));
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
  EXPECT_EQ(0u, Run(SPLITJOIN_JOIN_ALL));
  EXPECT_TRUE(ReadWholeFile(target) == stub + one + two);
  EXPECT_TRUE(AskedFor(2));
  EXPECT_TRUE(AskedFor(3));
  EXPECT_FALSE(AskedFor(4));
  EXPECT_EQ((std::vector<WPARAM>{2, 3}), All(WM_SPLIT_DISK_FOUND));
  EXPECT_EQ(1u, Count(WM_SPLIT_DONE));
  ASSERT_FALSE(g_Seen.empty());
  EXPECT_EQ((UINT)WM_SPLIT_DONE, g_Seen.back().Message);
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
  EXPECT_EQ(0u, Run(SPLITJOIN_COPY_EXE_ONLY));
  EXPECT_TRUE(ReadWholeFile(target) == first);

  WriteWholeFile(base + ".001", one);
  WriteWholeFile(target, std::string(50000, 'x'));
  g_Seen.clear();
  EXPECT_EQ(0u, Run(SPLITJOIN_JOIN_ALL));
  EXPECT_TRUE(ReadWholeFile(target) == program + one) << "the program unsigned, without its record, then the part";
  EXPECT_EQ(1u, Count(WM_SPLIT_DONE));
}

TEST_F(SplitJoin, AMissingPartIsAskedForUntilItArrivesOrTheUserCancels) {
  const std::string stub = RandomBytes(5000, 4);
  const std::string one = RandomBytes(7000, 5) + Sig(InstallerSignature);
  WriteWholeFile(exe, FirstSlice(stub, {one}));
  // arrives after it has been asked for a few times
  EXPECT_EQ(0u, Run(SPLITJOIN_JOIN_ALL, [&] {
              if (Count(WM_SPLIT_WAIT_DISK) >= 4 && !PathExists(base + ".001"))
                WriteWholeFile(base + ".001", one);
            }));
  EXPECT_TRUE(ReadWholeFile(target) == stub + one);
  EXPECT_GE(Count(WM_SPLIT_WAIT_DISK), 4u);
  for (WPARAM disk : All(WM_SPLIT_WAIT_DISK)) EXPECT_EQ(2u, disk);
  EXPECT_EQ((std::vector<WPARAM>{2}), All(WM_SPLIT_DISK_FOUND));
  EXPECT_EQ(1u, Count(WM_SPLIT_DONE));

  // cancelled while waiting: it ends quietly, with nothing more to report
  DeleteFileA((base + ".001").c_str());
  g_Seen.clear();
  EXPECT_EQ(0u, Run(SPLITJOIN_JOIN_ALL, [&] {
              if (Count(WM_SPLIT_WAIT_DISK) >= 2) RequestSplitJoinCancel();
            }));
  EXPECT_EQ(0u, Count(WM_SPLIT_DISK_FOUND));
  EXPECT_EQ(0u, Count(WM_SPLIT_DONE));
  EXPECT_EQ(0u, Count(WM_COMMAND));
}

TEST_F(SplitJoin, AnErrorIsShownOwnedByTheWindowAndThenCancels) {
  const std::string kOne = RandomBytes(500, 10), kTwo = RandomBytes(700, 11) + Sig(InstallerSignature);
  Robot robot;
  robot.AttachSelf();
  struct Case {
    const char* what;
    std::function<void()> arrange;
    const char* text;
  } cases[] = {
      {"no target", [&] { DeleteFileA(target.c_str()); }, "Failed to open destination file."},
      {"no running file", [&] { DeleteFileA(exe.c_str()); }, "Failed to open source file."},
      {"a part name too long", [&] { base = dir.File(std::string(250, 'b').c_str()); },
       "Failed to open source file."},
      {"a slice of another build",
       [&] {
         WriteWholeFile(base + ".001", RandomBytes(500, 8) + Sig(InstallerSignature));
         WriteWholeFile(base + ".002", RandomBytes(500, 9) + Sig(InstallerSignature));
       },
       "The installation file is damaged or incomplete. Please obtain it again."},
      {"a slice cut short",
       [&] {
         WriteWholeFile(base + ".001", kOne);
         WriteWholeFile(base + ".002", kTwo.substr(0, kTwo.size() - 1));
       },
       "The installation file is damaged or incomplete. Please obtain it again."},
      {"no slice record", [&] { WriteWholeFile(exe, RandomBytes(3000, 7)); },
       "The installation file is damaged or incomplete. Please obtain it again."},
      {"a full disk",
       [&] {
         WriteWholeFile(exe, FirstSlice(RandomBytes(400000, 6), {kOne, kTwo}));  // the small drive holds 256 KiB
         target = "Q:\\joined.tmp";
         WriteWholeFile(target, "");
       },
       "Failed to write file."},
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
    g_Seen.clear();
    std::string text, caption;
    HWND owner = NULL;
    EXPECT_EQ(0u, Run(SPLITJOIN_JOIN_ALL, [&] {
                HWND box = robot.FindWindowNow("#32770", NULL);
                if (box && !owner) {  // read once: the box may linger while it closes
                  caption = Robot::Text(box);
                  text = Robot::ItemText(box, 0xFFFF);
                  owner = GetWindow(box, GW_OWNER);
                  Robot::Press(box, IDOK);
                }
              }));
    EXPECT_EQ("Error", caption);
    EXPECT_EQ(c.text, text);
    EXPECT_EQ(window, owner);
    // then the window is told to cancel, and nothing comes after
    ASSERT_FALSE(g_Seen.empty());
    EXPECT_EQ((UINT)WM_COMMAND, g_Seen.back().Message);
    EXPECT_EQ((WPARAM)IDCANCEL, LOWORD(g_Seen.back().Param));
    EXPECT_EQ(1u, Count(WM_COMMAND));
    EXPECT_EQ(0u, Count(WM_SPLIT_DONE));
    // the caller answers a damaged set as a damaged setup file
    EXPECT_EQ(std::string(c.text).find("damaged") != std::string::npos, SplitJoinFoundDamage() == 1);
    if (target[0] == 'Q') DeleteFileA(target.c_str());
  }
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
