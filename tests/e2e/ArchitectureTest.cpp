// The setup program of this tree's architecture on a system of its own:
// the 64-bit one installs into the native Program Files and registry view
// (nothing under WOW6432Node), and each writes an uninstaller of its own
// architecture that takes everything away again.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "../win32/Robot.h"
#include "../win32/TestSupport.h"
#include "E2eSupport.h"
#include "EnglishText.h"
#include "TestPaths.h"
#include "efs/EfsFormat.h"
#include "efs/PeImage.h"
#include "resources/resource.h"

#ifndef KEY_WOW64_64KEY
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#endif

namespace {

const char kKey[] = "Software\\QuillsetTest-Arch";
const char kFolder[] = "C:\\Program Files\\QuillsetTest Arch";

// The InstallDir value of kKey in one registry view; "<none>" when absent.
std::string ValueInView(REGSAM view, const char* key = kKey) {
  HKEY k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | view, &k) != ERROR_SUCCESS) return "<none>";
  char value[MAX_PATH] = "";
  DWORD size = sizeof value;
  LONG r = RegQueryValueExA(k, "InstallDir", NULL, NULL, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(k);
  return r == ERROR_SUCCESS ? value : "<none>";
}

// Exit code of a console command run to its end; 999 when it cannot start.
DWORD ExitCodeOf(std::string line) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &si, &pi)) return 999;
  WaitForSingleObject(pi.hProcess, 30000);
  DWORD code = 999;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

PeArch ArchOfFile(const std::string& path) {
  std::string bytes = ReadWholeFile(path);
  PeHeaders h;
  if (!ReadPeHeaders(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &h)) return PE_ARCH_UNKNOWN;
  return PeArchOf(h);
}

void Clean() {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\WOW6432Node\\QuillsetTest-Arch");
}

TEST(Architecture, InstallsIntoTheNativeProgramFilesAndRegistryViewAndUninstallsAsItself) {
  Clean();
  ASSERT_FALSE(PathExists(kFolder));
  const PeArch arch = std::string(QS_ARCH) == "x64" ? PE_ARCH_X64 : PE_ARCH_X86;
  ASSERT_EQ(arch, ArchOfFile(QS_STUB_PATH));

  TempFolder dir;
  const std::string setup = BuildSetupFile(
      dir,
      "QSP40\r\n[Global]\r\nApplicationName = Arch App\r\nDefaultDir = %PROGRAMFILES%QuillsetTest Arch\r\n"
      "[Files]\r\nreadme.txt, %MAINDIR%readme.txt\r\n"
      "[SysRegUninstall]\r\nHKEY_LOCAL_MACHINE/Software/QuillsetTest-Arch\r\n"
      "[SysRegString]\r\nHKEY_LOCAL_MACHINE/Software/QuillsetTest-Arch/InstallDir=%MAINDIR%\r\n",
      {{"readme.txt", "Read me.\r\n"}});

  // the wizard with its default answers: the folder shown is the native one
  Robot robot;
  HWND w = StartSetup(robot, setup);
  ASSERT_TRUE(w);
  ASSERT_NO_FATAL_FAILURE(
      InstallWithDefaults(robot, w, [](HWND page) { EXPECT_EQ(std::string(kFolder), Robot::ItemText(page, IDC_DESTINATION)); }));

  EXPECT_EQ("Read me.\r\n", ReadWholeFile(std::string(kFolder) + "\\readme.txt"));
  EXPECT_EQ(std::string(kFolder) + "\\", ValueInView(KEY_WOW64_64KEY));
  EXPECT_EQ(0u, ExitCodeOf("reg query \"HKLM\\Software\\QuillsetTest-Arch\" /v InstallDir"));
#ifdef _WIN64
  // not redirected: the 32-bit view and its node hold nothing, and the
  // system's own reg tool finds the value in the 64-bit view only
  EXPECT_EQ("<none>", ValueInView(KEY_WOW64_32KEY));
  EXPECT_EQ("<none>", ValueInView(KEY_WOW64_64KEY, "Software\\WOW6432Node\\QuillsetTest-Arch"));
  EXPECT_EQ(0u, ExitCodeOf("reg query \"HKLM\\Software\\QuillsetTest-Arch\" /v InstallDir /reg:64"));
  EXPECT_NE(0u, ExitCodeOf("reg query \"HKLM\\Software\\QuillsetTest-Arch\" /v InstallDir /reg:32"));
#endif
  const std::string uninstaller = std::string(kFolder) + "\\Uninstall.exe";
  EXPECT_EQ(arch, ArchOfFile(uninstaller)) << "the uninstaller is the running program's own copy";

  Robot un;
  ASSERT_NO_FATAL_FAILURE(UninstallWithYes(un, uninstaller, dir.Path()));
  EXPECT_TRUE(un.WaitUntil([&] { return !PathExists(kFolder) && RunningCommandInterpreters() == 0; }, 60000,
                           "the install folder's removal"));
  EXPECT_EQ("<none>", ValueInView(KEY_WOW64_64KEY));
  EXPECT_EQ("<none>", ValueInView(KEY_WOW64_32KEY));
  Clean();
}

}  // namespace
