// The Add/Remove Programs entry of a script with AppId: every value a
// package manager reads, listed by Wine's own uninstaller, removed by its
// QuietUninstallString run as it stands, and never left by a rollback. An
// installation for one user keeps to the user's folders and keys.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "../win32/Robot.h"
#include "../win32/TestSupport.h"
#include "E2eSupport.h"
#include "resources/resource.h"

namespace {

const char kEntry[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuillsetTest.Arp";
const DWORD kTimeout = 60000;

std::string Script(const std::string& target, const char* more = "") {
  return "QSP40\r\n[Global]\r\nApplicationName = Arp Test App\r\nDefaultDir = " + target +
         "\r\nAppId = QuillsetTest.Arp\r\nVersion = 2.5.1\r\nPublisher = Quillset Test Ltd\r\n" + more +
         "[Files]\r\nbig.bin, %MAINDIR%big.bin\r\nsmall.txt, %MAINDIR%docs\\small.txt\r\n";
}

// Runs line to its end; its exit code (999 when it does not start or end),
// its output in *output when given.
DWORD RunToEnd(std::string line, std::string* output = NULL) {
  TempFolder folder;
  const std::string file = folder.File("out.txt");
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  HANDLE out = output ? CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, NULL)
                      : INVALID_HANDLE_VALUE;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  if (out != INVALID_HANDLE_VALUE) {
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = out;
  }
  PROCESS_INFORMATION pi;
  DWORD code = 999;
  if (CreateProcessA(NULL, &line[0], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
    if (WaitForSingleObject(pi.hProcess, kTimeout) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (output) *output = ReadWholeFile(file);
  return code;
}

bool Value(HKEY root, const char* name, std::string* text, DWORD* number = NULL) {
  HKEY key;
  if (RegOpenKeyExA(root, kEntry, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  BYTE data[1024];
  DWORD size = sizeof data, type = 0;
  const bool ok = RegQueryValueExA(key, name, NULL, &type, data, &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  if (!ok) return false;
  if (type == REG_DWORD && number) *number = *reinterpret_cast<DWORD*>(data);
  if (type == REG_SZ && text) *text = reinterpret_cast<char*>(data);
  return (type == REG_DWORD && number) || (type == REG_SZ && text);
}

std::string String(HKEY root, const char* name) {
  std::string text = "<none>";
  Value(root, name, &text);
  return text;
}

DWORD Number(HKEY root, const char* name) {
  DWORD number = 0xFFFFFFFF;
  Value(root, name, NULL, &number);
  return number;
}

bool EntryExists(HKEY root) {
  HKEY key;
  if (RegOpenKeyExA(root, kEntry, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

unsigned long long BytesBelow(const std::string& folder) {
  unsigned long long total = 0;
  WalkTree(folder, [&total](const std::string&, const WIN32_FIND_DATAA& f) {
    if (!(f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      total += (static_cast<unsigned long long>(f.nFileSizeHigh) << 32) | f.nFileSizeLow;
  });
  return total;
}

class AddRemovePrograms : public ::testing::Test {
 protected:
  TempFolder dir;
  void SetUp() override {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEntry);
    RegDeleteKeyA(HKEY_CURRENT_USER, kEntry);
  }
  void TearDown() override { SetUp(); }
  std::string Build(const std::string& script) {
    return BuildSetupFile(dir, script, {{"big.bin", RandomBytes(300000, 5)}, {"small.txt", "small"}});
  }
};

TEST_F(AddRemovePrograms, TheEntryHoldsEveryValueAndItsQuietUninstallStringRemovesIt) {
  const std::string target = dir.File("Arp App");
  ASSERT_EQ(0u, RunToEnd("\"" + Build(Script(target)) + "\" /S"));
  ASSERT_TRUE(EntryExists(HKEY_LOCAL_MACHINE));
  EXPECT_FALSE(EntryExists(HKEY_CURRENT_USER));
  const HKEY m = HKEY_LOCAL_MACHINE;
  EXPECT_EQ("Arp Test App", String(m, "DisplayName"));
  EXPECT_EQ("2.5.1", String(m, "DisplayVersion"));
  EXPECT_EQ("Quillset Test Ltd", String(m, "Publisher"));
  EXPECT_EQ(target, String(m, "InstallLocation"));
  EXPECT_EQ(target + "\\Uninstall.exe", String(m, "DisplayIcon"));
  EXPECT_EQ("\"" + target + "\\Uninstall.exe\"", String(m, "UninstallString"));
  EXPECT_EQ("\"" + target + "\\Uninstall.exe\" /S", String(m, "QuietUninstallString"));
  SYSTEMTIME now;
  GetLocalTime(&now);
  char today[16];
  wsprintfA(today, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
  EXPECT_EQ(today, String(m, "InstallDate"));
  EXPECT_EQ(1u, Number(m, "NoModify"));
  EXPECT_EQ(1u, Number(m, "NoRepair"));
  const double installed = BytesBelow(target) / 1024.0;
  const double estimated = Number(m, "EstimatedSize");
  EXPECT_GT(installed, 290.0);
  EXPECT_NEAR(installed, estimated, installed / 100) << "EstimatedSize in KiB";

  // Wine's Add/Remove Programs lists it by its name
  std::string listed;
  EXPECT_EQ(0u, RunToEnd("uninstaller.exe --list", &listed));
  EXPECT_NE(std::string::npos, listed.find("Arp Test App")) << listed;

  // what a package manager runs, as it stands
  EXPECT_EQ(0u, RunToEnd(String(m, "QuietUninstallString")));
  EXPECT_FALSE(EntryExists(HKEY_LOCAL_MACHINE));
  Robot wait;
  EXPECT_TRUE(wait.WaitUntil([&] { return !PathExists(target); }, kTimeout, "the uninstaller's self-removal"));
}

void PlantUserEntry(const char* location, const char* version) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kEntry, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL));
  RegSetValueExA(key, "InstallLocation", 0, REG_SZ, (const BYTE*)location, (DWORD)strlen(location) + 1);
  RegSetValueExA(key, "DisplayVersion", 0, REG_SZ, (const BYTE*)version, (DWORD)strlen(version) + 1);
  RegCloseKey(key);
}

// The user's own entry is the user's programs' to write: an elevated run
// takes its folder only where that entry's installation is (its uninstaller
// and its log), never a folder of Windows, and a version it names counts no
// more than its folder. A real one's folder is still taken by the next run.
TEST_F(AddRemovePrograms, AppIdRootPutsItUnderTheUser) {
  const std::string target = dir.File("User App"), other = dir.File("Elsewhere");
  char system[MAX_PATH] = "";
  GetSystemDirectoryA(system, MAX_PATH);
  const std::string log = dir.File("planted.log");
  for (const std::string& planted : {std::string(system), other}) {
    SCOPED_TRACE(planted);
    // then a folder of the user's with a real uninstaller, but no log of this entry
    if (planted == other) WriteWholeFile(other + "\\Uninstall.log", "FileCreated=" + other + "\\a.txt\n");
    ASSERT_NO_FATAL_FAILURE(PlantUserEntry(planted.c_str(), "99.0"));
    ASSERT_EQ(0u, RunToEnd("\"" + Build(Script(target, "AppIdRoot = HKEY_CURRENT_USER\r\n")) + "\" /S /LOG=" + log))
        << ReadWholeFile(log);
    EXPECT_FALSE(PathExists(planted + "\\big.bin"));
    EXPECT_FALSE(PathExists(planted + "\\Uninstall.log") && planted != other);
    EXPECT_TRUE(PathExists(target + "\\big.bin"));
    EXPECT_NE(std::string::npos, ReadWholeFile(log).find("Installed version not taken")) << ReadWholeFile(log);
    // nor is the system's folder named as an installation left behind
    if (planted != other) {
      EXPECT_EQ(std::string::npos, ReadWholeFile(log).find("Earlier installation left"));
    }
    EXPECT_EQ(target, String(HKEY_CURRENT_USER, "InstallLocation"));
    EXPECT_EQ("2.5.1", String(HKEY_CURRENT_USER, "DisplayVersion"));
    if (planted == other) break;
    CreateDirectoryA(other.c_str(), NULL);
    ASSERT_TRUE(CopyFileA((target + "\\Uninstall.exe").c_str(), (other + "\\Uninstall.exe").c_str(), FALSE));
    EXPECT_EQ(0u, RunToEnd("\"" + target + "\\Uninstall.exe\" /S"));
    Robot wait;
    EXPECT_TRUE(wait.WaitUntil([&] { return !PathExists(target); }, kTimeout, "the uninstaller's self-removal"));
  }
  // the installation just made is this entry's: its folder is taken
  ASSERT_EQ(0u, RunToEnd("\"" + Build(Script(other, "AppIdRoot = HKEY_CURRENT_USER\r\n")) + "\" /S"));
  EXPECT_FALSE(PathExists(other + "\\big.bin"));
  EXPECT_TRUE(PathExists(target + "\\big.bin"));
  EXPECT_FALSE(EntryExists(HKEY_LOCAL_MACHINE));
  EXPECT_EQ("\"" + target + "\\Uninstall.exe\" /S", String(HKEY_CURRENT_USER, "QuietUninstallString"));
  EXPECT_EQ(0u, RunToEnd("\"" + target + "\\Uninstall.exe\" /S"));
  EXPECT_FALSE(EntryExists(HKEY_CURRENT_USER));
}

// HKEY_LOCAL_MACHINE\Software as the registry editor exports it (the
// machine's Uninstall key and, on x64, the 32-bit view are in it).
std::string MachineSoftware(const TempFolder& dir, const char* name) {
  const std::string file = dir.File(name);
  if (RunToEnd("reg export HKLM\\Software \"" + file + "\" /y") != 0) return "<not exported>";
  return ReadWholeFile(file);
}

// Where two exports first differ, readable: the UTF-16 around it as ASCII.
std::string Difference(const std::string& a, const std::string& b) {
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  if (at == a.size() && at == b.size()) return "";
  std::string around;
  for (size_t i = at > 200 ? at - 200 : 0; i < at + 200 && i < b.size(); ++i)
    if (b[i] >= 0x20 || b[i] == '\n') around += b[i];
  return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) + ", first difference at " +
         std::to_string(at) + ":\n" + around;
}

std::string ShellFolder(int csidl) {
  char path[MAX_PATH] = "";
  SHGetFolderPathA(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, path);
  return path;
}

// Scope = user (AppIdRoot left at its default): the wizard proposes the
// user's programs folder and installs there, a silent repair follows; the
// entry, the shortcuts and the uninstaller are the user's, the machine's
// keys stay byte for byte, and the QuietUninstallString removes it all.
TEST_F(AddRemovePrograms, APerUserSetupKeepsToTheUsersFoldersAndKeys) {
  char user[256];
  DWORD n = sizeof user;
  ASSERT_TRUE(GetUserNameA(user, &n));
  const std::string target = "C:\\users\\" + std::string(user) + "\\AppData\\Local\\Programs\\Arp Own App";
  // every prefix's desktop is the Unix home, and the lanes run at once: a name per lane
  const std::string link = std::string("Arp Own App ") + (sizeof(void*) == 8 ? "x64" : "x86") + ".lnk";
  RemoveTree(Wide(target));
  const std::string setup = Build(Script("%PROGRAMFILES%Arp Own App", "Scope = user\r\n") + "[Shortcuts]\r\n" +
                                  "%PROGRAMS%" + link + ",%MAINDIR%small.txt,,%MAINDIR%,Own,,0\r\n%DESKTOP%" + link +
                                  ",%MAINDIR%small.txt,,%MAINDIR%,Own,,0\r\n");
  const std::string before = MachineSoftware(dir, "before.reg");
  ASSERT_GT(before.size(), 1000u);

  Robot robot;
  HWND w = StartSetup(robot, setup);
  ASSERT_TRUE(w);
  InstallWithDefaults(robot, w, [&](HWND page) {
    EXPECT_EQ(0, lstrcmpiA(target.c_str(), Robot::ItemText(page, IDC_DESTINATION).c_str()))
        << Robot::ItemText(page, IDC_DESTINATION);
  });
  ASSERT_EQ(0u, RunToEnd("\"" + setup + "\" /S"));
  const HKEY u = HKEY_CURRENT_USER;
  EXPECT_EQ(0, lstrcmpiA(target.c_str(), String(u, "InstallLocation").c_str())) << String(u, "InstallLocation");
  EXPECT_TRUE(PathExists(target + "\\docs\\small.txt"));
  EXPECT_FALSE(EntryExists(HKEY_LOCAL_MACHINE));
  EXPECT_TRUE(PathExists(ShellFolder(CSIDL_PROGRAMS) + "\\" + link));
  EXPECT_TRUE(PathExists(ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\" + link));
  // the uninstaller knows it needs no rights
  WCHAR scope[16] = L"";
  GetPrivateProfileStringW(L"Installed", L"Scope", L"", scope, 16, Wide(target + "\\Translations.ini").c_str());
  EXPECT_STREQ(L"user", scope);
  const std::string installed = MachineSoftware(dir, "installed.reg");
  EXPECT_TRUE(before == installed) << Difference(before, installed);

  EXPECT_EQ(0u, RunToEnd(String(u, "QuietUninstallString")));
  EXPECT_FALSE(EntryExists(u));
  Robot wait;
  EXPECT_TRUE(wait.WaitUntil([&] { return !PathExists(target); }, kTimeout, "the uninstaller's self-removal"));
  EXPECT_FALSE(PathExists(ShellFolder(CSIDL_PROGRAMS) + "\\" + link));
  EXPECT_FALSE(PathExists(ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\" + link));
  const std::string after = MachineSoftware(dir, "after.reg");
  EXPECT_TRUE(before == after) << Difference(before, after);
}

// Finish writes the entry, then cannot write the uninstaller (an old
// Uninstall.log held open): the rollback takes the entry with it.
TEST_F(AddRemovePrograms, ARolledBackRunLeavesNoEntry) {
  const std::string target = dir.File("Held App");
  CreateDirectoryA(target.c_str(), NULL);
  WriteWholeFile(target + "\\Uninstall.log", "FileCreated=C:\\nothing\n");
  HANDLE held = CreateFileA((target + "\\Uninstall.log").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                            OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_EQ(1u, RunToEnd("\"" + Build(Script(target)) + "\" /S"));
  CloseHandle(held);
  EXPECT_FALSE(EntryExists(HKEY_LOCAL_MACHINE));
  EXPECT_FALSE(PathExists(target + "\\big.bin"));
  EXPECT_FALSE(PathExists(target + "\\Uninstall.exe"));
}

}  // namespace
