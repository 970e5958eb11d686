// A solid LZMA setup whose one entry passes 4 GiB installs it byte for byte.
// Too slow for make check: tests/e2e/big-entry.sh builds the setup file with
// the native command and runs this test (QS_BIG_SETUP, QS_BIG_SOURCE).
#include <gtest/gtest.h>
#include <windows.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "../win32/Robot.h"
#include "../win32/TestSupport.h"
#include "E2eSupport.h"

namespace {

std::string Env(const char* name) {
  const char* v = getenv(name);
  return v ? v : "";
}

// Compares two files a chunk at a time; the offset of the first difference
// in *at, or the size when none.
bool SameBytes(const std::string& a, const std::string& b, unsigned long long* at) {
  HANDLE fa = CreateFileA(a.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  HANDLE fb = CreateFileA(b.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  bool same = fa != INVALID_HANDLE_VALUE && fb != INVALID_HANDLE_VALUE;
  std::vector<char> x(1 << 20), y(1 << 20);
  *at = 0;
  while (same) {
    DWORD nx = 0, ny = 0;
    same = ReadFile(fa, x.data(), (DWORD)x.size(), &nx, NULL) && ReadFile(fb, y.data(), (DWORD)y.size(), &ny, NULL) &&
           nx == ny && memcmp(x.data(), y.data(), nx) == 0;
    if (!same || nx == 0) break;
    *at += nx;
  }
  if (fa != INVALID_HANDLE_VALUE) CloseHandle(fa);
  if (fb != INVALID_HANDLE_VALUE) CloseHandle(fb);
  return same;
}

TEST(BigEntry, DISABLED_AnEntryPastFourGibibytesInstallsByteForByte) {
  const std::string setup = Env("QS_BIG_SETUP"), source = Env("QS_BIG_SOURCE"), target = Env("QS_BIG_TARGET");
  ASSERT_FALSE(setup.empty() || source.empty() || target.empty()) << "run by tests/e2e/big-entry.sh";
  Robot robot;
  HWND w = StartSetup(robot, setup);
  ASSERT_TRUE(w) << robot.WindowTree();
  InstallWithDefaults(robot, w);
  unsigned long long at = 0;
  EXPECT_TRUE(SameBytes(source, target + "\\big.bin", &at)) << "first difference at or after byte " << at;
  WIN32_FILE_ATTRIBUTE_DATA a;
  ASSERT_TRUE(GetFileAttributesExA((target + "\\big.bin").c_str(), GetFileExInfoStandard, &a));
  EXPECT_GT(((unsigned long long)a.nFileSizeHigh << 32) | a.nFileSizeLow, 0xFFFFFFFFull);
  Robot un;
  UninstallWithYes(un, target + "\\Uninstall.exe", target);
  robot.WaitUntil([&] { return !PathExists(target); }, 60000, "the folder going");
  EXPECT_FALSE(PathExists(target));
}

}  // namespace
