// What the wizard is sent while the files are extracted: every new
// percentage, file names no oftener than it can show them, the last file
// before the stage ends; and the pause that holds the worker still.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "driver/SetupState.h"
#include "engine/InstallProgress.h"
#include "ui/MessageBoxes.h"

namespace {

struct Seen {
  int Percent;
  std::string Name;
};
std::vector<Seen> g_Seen;

LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INSTALL_PROGRESS) {
    g_Seen.push_back({static_cast<int>(wParam), lParam ? reinterpret_cast<const char*>(lParam) : "(none)"});
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

class InstallProgress : public ::testing::Test {
 protected:
  void SetUp() override {
    window = ProbeWindow("QsProgressProbe", Record);
    ASSERT_TRUE(window);
    reports.SetDialog(window);
    g_Seen.clear();
    SetupState::CancelRequested = 0;
  }
  void TearDown() override {
    DestroyWindow(window);
    SetupState::CancelRequested = 0;
  }
  HWND window = NULL;
  CDialogFrontEnd reports;
};

TEST_F(InstallProgress, EveryNewPercentageIsSentAndNamesAreThinnedButTheLastIsShown) {
  BeginInstallProgress(&reports, 82000);
  const DWORD start = GetTickCount();
  char name[32];
  // 1,000 small files in one percent: the name changes every call
  for (int i = 0; i < 1000; ++i) {
    wsprintfA(name, "C:\\App\\f%04d.txt", i);
    ASSERT_EQ(1, InstallProgressCallback(0, 1, name));
  }
  const DWORD elapsed = GetTickCount() - start;
  ASSERT_FALSE(g_Seen.empty());
  EXPECT_EQ("C:\\App\\f0000.txt", g_Seen.front().Name);  // the first is always shown
  // one name per 50 ms at most, however fast the files come
  EXPECT_LE(g_Seen.size(), 2 + elapsed / 50) << "after " << elapsed << " ms";
  FlushInstallProgress();
  EXPECT_EQ("C:\\App\\f0999.txt", g_Seen.back().Name);

  // a new percentage goes out at once, with the file it belongs to
  g_Seen.clear();
  BeginInstallProgress(&reports, 82000);  // 1,000 bytes per percent
  for (int i = 1; i <= 82; ++i) {
    AddInstalledBytes(1000);
    wsprintfA(name, "C:\\App\\p%02d.txt", i);
    ASSERT_EQ(1, InstallProgressCallback(1, 1, name));
  }
  ASSERT_EQ(82u, g_Seen.size());
  for (int i = 1; i <= 82; ++i) {
    EXPECT_EQ(i, g_Seen[i - 1].Percent);
    wsprintfA(name, "C:\\App\\p%02d.txt", i);
    EXPECT_EQ(name, g_Seen[i - 1].Name);
  }
  // nothing held back: the flush sends nothing more
  FlushInstallProgress();
  EXPECT_EQ(82u, g_Seen.size());

  ReportInstallStep(85);
  EXPECT_EQ(85, g_Seen.back().Percent);
  EXPECT_EQ("(none)", g_Seen.back().Name);
}

TEST_F(InstallProgress, ACancelIsAnsweredEvenWhenNothingIsSent) {
  BeginInstallProgress(&reports, 8200);
  ASSERT_EQ(1, InstallProgressCallback(0, 1, "C:\\App\\a.txt"));
  const size_t sent = g_Seen.size();
  SetupState::CancelRequested = 1;
  EXPECT_EQ(0, InstallProgressCallback(0, 1, "C:\\App\\a.txt"));  // same percent, same name
  EXPECT_EQ(sent, g_Seen.size());
}

DWORD WINAPI ReportOnce(LPVOID) {
  return static_cast<DWORD>(InstallProgressCallback(0, 1, "C:\\App\\paused.txt"));
}

TEST_F(InstallProgress, APausedWorkerHoldsAtItsNextReportUntilResumed) {
  BeginInstallProgress(&reports, 8200);
  ASSERT_EQ(1, InstallProgressCallback(0, 1, "C:\\App\\a.txt"));
  PauseInstallWorker();
  HANDLE worker = CreateThread(NULL, 0, ReportOnce, NULL, 0, NULL);
  ASSERT_TRUE(worker);
  // its report is sent to this thread: answer while waiting for it
  auto pump = [&](DWORD ms) {
    const DWORD until = GetTickCount() + ms;
    DWORD wait = WAIT_TIMEOUT;
    while (wait != WAIT_OBJECT_0 && (LONG)(until - GetTickCount()) > 0) {
      wait = MsgWaitForMultipleObjects(1, &worker, FALSE, 20, QS_ALLINPUT);
      MSG m;
      while (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    }
    return wait;
  };
  EXPECT_NE(WAIT_OBJECT_0, pump(300)) << "the worker went on while paused";
  ResumeInstallWorker();
  EXPECT_EQ(WAIT_OBJECT_0, pump(10000));
  DWORD result = 0;
  GetExitCodeThread(worker, &result);
  EXPECT_EQ(1u, result);
  CloseHandle(worker);
}

}  // namespace
