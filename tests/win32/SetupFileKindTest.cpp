#include <gtest/gtest.h>
#include <windows.h>

#include "../FakeSignature.h"
#include "TestPaths.h"
#include "TestSupport.h"
#include "driver/SetupFileKind.h"
#include "efs/EfsFormat.h"

namespace {

std::string Sig(const unsigned char* s) { return std::string((const char*)s, 16); }

TEST(SetupFileKind, ClassifiesByTheLastSixteenBytes) {
  TempFolder dir;
  struct Case { const char* name; std::string bytes; int kind; } cases[] = {
      {"installer.exe", std::string(5000, 'M') + Sig(InstallerSignature), FILEKIND_INSTALLER},
      {"uninstaller.exe", std::string(5000, 'M') + Sig(UninstallerSignature), FILEKIND_UNINSTALLER},
      {"plain.exe", std::string(5000, 'M'), FILEKIND_NONE},
      // the signature must end the file
      {"early.exe", Sig(InstallerSignature) + "x", FILEKIND_NONE},
      {"bare16.exe", Sig(InstallerSignature), FILEKIND_INSTALLER},
      {"bare16u.exe", Sig(UninstallerSignature), FILEKIND_UNINSTALLER},
      // the first twelve bytes alone are no signature
      {"half.exe", std::string(100, 'M') + Sig(InstallerSignature).substr(0, 12) + std::string(4, '\0'),
       FILEKIND_NONE},
      {"short.exe", std::string(15, 'M'), FILEKIND_UNREADABLE},
      {"empty.exe", std::string(), FILEKIND_UNREADABLE},
  };
  for (const Case& c : cases) {
    WriteWholeFile(dir.File(c.name), c.bytes);
    EXPECT_EQ(c.kind, ReadSetupFileKind(dir.File(c.name).c_str())) << c.name;
  }
  EXPECT_EQ(FILEKIND_UNREADABLE, ReadSetupFileKind(dir.File("missing.exe").c_str()));
}

TEST(SetupFileKind, AFileHeldExclusivelyIsUnreadable) {
  TempFolder dir;
  std::string path = dir.File("locked.exe");
  WriteWholeFile(path, std::string(100, 'M') + Sig(InstallerSignature));
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(FILEKIND_UNREADABLE, ReadSetupFileKind(path.c_str()));
  CloseHandle(h);
  // shared readers and writers do not stop it
  h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  NULL, OPEN_EXISTING, 0, NULL);
  EXPECT_EQ(FILEKIND_INSTALLER, ReadSetupFileKind(path.c_str()));
  CloseHandle(h);
}

}  // namespace

namespace {

// The real setup program, bare, with a container, signed, and cut short.
TEST(SetupFileKind, ReadsASignedFileAtItsTableAndTellsAFileCutShortApart) {
  TempFolder dir;
  const std::string stub = ReadWholeFile(QS_STUB_PATH);
  ASSERT_FALSE(stub.empty()) << QS_STUB_PATH;
  const std::string setup = stub + std::string(5003, 'c') + Sig(InstallerSignature);
  std::string signedSetup = setup, signedStub = stub;
  ASSERT_TRUE(AppendFakeCertificate(signedSetup, 2048));
  ASSERT_TRUE(AppendFakeCertificate(signedStub, 2048));
  struct Case { const char* name; std::string bytes; int kind; } cases[] = {
      {"first-slice.exe", stub, FILEKIND_NONE},
      {"signed-first-slice.exe", signedStub, FILEKIND_NONE},
      {"setup.exe", setup, FILEKIND_INSTALLER},
      {"signed-setup.exe", signedSetup, FILEKIND_INSTALLER},
      {"Uninstall.exe", stub + Sig(UninstallerSignature), FILEKIND_UNINSTALLER},
      {"cut-in-data.exe", setup.substr(0, stub.size() + 2000), FILEKIND_DAMAGED},
      {"cut-in-trailer.exe", setup.substr(0, setup.size() - 3), FILEKIND_DAMAGED},
      {"signed-cut-in-table.exe", signedSetup.substr(0, signedSetup.size() - 1000), FILEKIND_DAMAGED},
      {"signed-cut-in-data.exe", signedSetup.substr(0, stub.size() + 100), FILEKIND_DAMAGED},
      {"signed-first-slice-cut.exe", signedStub.substr(0, signedStub.size() - 1), FILEKIND_DAMAGED},
  };
  for (const Case& c : cases) {
    WriteWholeFile(dir.File(c.name), c.bytes);
    EXPECT_EQ(c.kind, ReadSetupFileKind(dir.File(c.name).c_str())) << c.name;
  }
}

}  // namespace
