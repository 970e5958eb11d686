// A user whose names lie outside the ANSI code page: a Cyrillic account on
// a Western Windows (code page 1252), installing into a folder with
// Cyrillic, CJK and emoji in its name. The test itself runs in 1252, so it
// sees those names only through the wide calls.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <string>
#include <vector>

#include "../win32/Robot.h"
#include "../win32/TestSupport.h"
#include "E2eSupport.h"
#include "EnglishText.h"
#include "TestPaths.h"
#include "efs/EfsFormat.h"
#include "resources/resource.h"

namespace {

std::string Narrow(const std::wstring& w) {
  std::string s(w.size() * 3 + 1, '\0');
  s.resize((size_t)WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &s[0], (int)s.size(), NULL, NULL) - 1);
  return s;
}

bool WideExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadWide(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  char buffer[4096];
  DWORD got = 0;
  ReadFile(h, buffer, sizeof buffer, &got, NULL);
  CloseHandle(h);
  return std::string(buffer, got);
}

// TEMP and TMP for the programs this test starts; put back at the end.
class TempVariables {
 public:
  explicit TempVariables(const std::wstring& folder) {
    for (int i = 0; i < 2; ++i) {
      WCHAR value[MAX_PATH] = L"";
      GetEnvironmentVariableW(kNames[i], value, MAX_PATH);
      m_Saved[i] = value;
      SetEnvironmentVariableW(kNames[i], folder.c_str());
    }
  }
  ~TempVariables() {
    for (int i = 0; i < 2; ++i) SetEnvironmentVariableW(kNames[i], m_Saved[i].c_str());
  }

 private:
  const wchar_t* kNames[2] = {L"TEMP", L"TMP"};
  std::wstring m_Saved[2];
};

bool StartWide(Robot& robot, const std::wstring& program, const std::wstring& folder) {
  std::wstring line = L"\"" + program + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child;
  if (!CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, folder.c_str(), &startup, &child)) return false;
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return robot.Attach(child.dwProcessId);
}

const char kUser[] = "C:\\users\\\xD0\x94\xD0\xBC\xD0\xB8\xD1\x82\xD1\x80\xD0\xB8\xD0\xB9";         // Дмитрий
const char kDownloads[] = "\\\xD0\x97\xD0\xB0\xD0\xB3\xD1\x80\xD1\x83\xD0\xB7\xD0\xBA\xD0\xB8";      // Загрузки
const char kTarget[] = "C:\\Program Files\\\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD0\xB0 \xE8\xA1\xA8 \xF0\x9F\x98\x80";
const char kProga[] = "\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD0\xB0";                                     // Прога
const char kHyo[] = "\xE8\xA1\xA8";                                                                   // 表
const char kCafe[] = "caf\xC3\xA9";                                                                   // café
const wchar_t kKey[] = L"Software\\QuillsetNamesTest";

// Installs, checks what the installation made through the wide calls,
// uninstalls and checks that all of it is gone; with selfRemoval, the
// install folder itself too, once the uninstaller has removed itself.
void InstallAndUninstallAsDmitry(bool selfRemoval) {
  const std::wstring user = Wide(kUser), downloads = user + Wide(kDownloads), temp = user + L"\\Temp";
  const std::wstring target = Wide(kTarget);
  RemoveTree(target);
  RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
  CreateDirectoryW(user.c_str(), NULL);
  CreateDirectoryW(downloads.c_str(), NULL);
  CreateDirectoryW(temp.c_str(), NULL);
  ASSERT_TRUE(WideExists(downloads) && WideExists(temp));

  TempFolder dir;
  const std::string proga = std::string(kProga) + ".txt", hyo = std::string(kHyo) + ".txt",
                    cafe = std::string(kCafe) + ".txt";
  const std::string section = "\xD0\xA0\xD0\xB0\xD0\xB7\xD0\xB4\xD0\xB5\xD0\xBB";  // Раздел
  const std::string value = std::string(kHyo) + "\xF0\x9F\x98\x80";
  // the entries take their names from the script, the files keep plain ones
  BuildSetupFile(dir,
                 std::string("QSP40\r\n[Global]\r\nApplicationName = ") + kProga + "\r\nDefaultDir = " + kTarget +
                     "\r\n[Files]\r\n" + proga + ", %MAINDIR%" + proga + "\r\n" + hyo + ", %MAINDIR%" + hyo + "\r\n" +
                     cafe + ", %MAINDIR%" + cafe + "\r\n"
                     "[Shortcuts]\r\n%MAINDIR%" + kProga + ".lnk,%MAINDIR%" + hyo + ",,%MAINDIR%,%APPNAME%,,0\r\n"
                     "[INIFiles]\r\n%MAINDIR%" + kProga + ".ini," + section + "," + kCafe + "," + value + "\r\n"
                     "[SysRegUninstall]\r\nHKEY_CURRENT_USER/Software/QuillsetNamesTest\r\n"
                     "[SysRegString]\r\nHKEY_CURRENT_USER/Software/QuillsetNamesTest/" + kProga + "=%MAINDIR%" +
                     cafe + "\r\n",
                 {{"a.txt", "proga\r\n", false, proga},
                  {"b.txt", "hyo\r\n", false, hyo},
                  {"c.txt", "cafe\r\n", false, cafe}});
  const std::wstring setup = downloads + L"\\Setup.exe";
  ASSERT_TRUE(CopyFileW(Wide(dir.File("Setup.exe")).c_str(), setup.c_str(), FALSE));

  {
    TempVariables variables(temp);
    Robot robot;
    ASSERT_TRUE(StartWide(robot, setup, downloads));
    HWND w = robot.WaitForWindow("#32770", En("WELCOME").c_str(), 20000);
    ASSERT_TRUE(w) << "no welcome page; the setup ended or shows:\n" << robot.WindowTree();
    ASSERT_NO_FATAL_FAILURE(InstallWithDefaults(robot, w, [&](HWND page) {
      WCHAR shown[MAX_PATH] = L"";
      GetDlgItemTextW(page, IDC_DESTINATION, shown, MAX_PATH);
      EXPECT_TRUE(target == shown) << "the destination is shown as it is";
    }));
  }

  EXPECT_EQ("proga\r\n", ReadWide(target + L"\\" + Wide(proga)));
  EXPECT_EQ("hyo\r\n", ReadWide(target + L"\\" + Wide(hyo)));
  EXPECT_EQ("cafe\r\n", ReadWide(target + L"\\" + Wide(cafe)));
  for (const wchar_t* f : {L"Uninstall.exe", L"Uninstall.log", L"Translations.ini"})
    EXPECT_TRUE(WideExists(target + L"\\" + f)) << f;

  // the shortcut's target, read by the wide interface
  IShellLinkW* link = NULL;
  CoInitialize(NULL);
  ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void**)&link)));
  IPersistFile* file = NULL;
  ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file)));
  EXPECT_TRUE(SUCCEEDED(file->Load((target + L"\\" + Wide(kProga) + L".lnk").c_str(), STGM_READ)));
  // the target as the shell follows it: its item list
  WCHAR linked[MAX_PATH] = L"";
  LPITEMIDLIST items = NULL;
  EXPECT_TRUE(SUCCEEDED(link->GetIDList(&items)) && items && SHGetPathFromIDListW(items, linked));
  CoTaskMemFree(items);
  EXPECT_TRUE(target + L"\\" + Wide(hyo) == linked) << "the shortcut's target: " << Narrow(linked);
  WCHAR description[MAX_PATH] = L"";
  link->GetDescription(description, MAX_PATH);
  EXPECT_TRUE(Wide(kProga) == description) << "the description: " << Narrow(description);
  file->Release();
  link->Release();
  CoUninitialize();

  // the INI entry, read by the wide call
  WCHAR entry[64] = L"";
  GetPrivateProfileStringW(Wide(section).c_str(), Wide(kCafe).c_str(), L"<missing>", entry, 64,
                           (target + L"\\" + Wide(kProga) + L".ini").c_str());
  EXPECT_TRUE(Wide(value) == entry) << "the INI value: " << Narrow(entry);

  // the registry value, read by the wide call
  WCHAR data[MAX_PATH] = L"";
  DWORD size = sizeof data;
  HKEY key = NULL;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, Wide(kProga).c_str(), NULL, NULL, (BYTE*)data, &size));
  RegCloseKey(key);
  EXPECT_TRUE(target + L"\\" + Wide(cafe) == data) << "the registry value: " << Narrow(data);

  // the log says how its names are written
  EXPECT_NE(std::string::npos, ReadWide(target + L"\\Uninstall.log").find("CodePage=65001\n"));

  // the uninstaller, started from that folder, takes it all away
  {
    TempVariables variables(temp);
    Robot un;
    ASSERT_TRUE(StartWide(un, target + L"\\Uninstall.exe", target));
    // the question names the program, read wide
    RobotMessageBox question = un.WaitForMessageBox(En("UNINSTALL_TITLE").c_str(), 20000);
    ASSERT_TRUE(question.Window);
    WCHAR shown[512] = L"";
    GetDlgItemTextW(question.Window, 0xFFFF, shown, 512);
    EXPECT_TRUE(Wide(UninstallQuestion(kProga)) == shown) << Narrow(shown);
    Robot::Press(question.Window, IDYES);
    HWND result = NULL;
    ASSERT_TRUE(un.WaitUntil(
        [&] {
          result = un.FindWindowNow("#32770", En("UNINSTALL_TITLE").c_str());
          return result && IsWindowVisible(GetDlgItem(result, IDOK));
        },
        60000, "the uninstall result"));
    Robot::Settle(result);
    EXPECT_EQ(En("UNINSTALLATION_IS_NOW_FINISHED"), Robot::ItemText(result, IDC_UNINSTALL_TEXT));
    ASSERT_TRUE(Robot::Press(result, IDOK));
    DWORD code = 1;
    ASSERT_TRUE(un.WaitForExit(20000, &code));
  }
  for (const std::string& f : {proga, hyo, cafe, std::string(kProga) + ".ini", std::string(kProga) + ".lnk"})
    EXPECT_FALSE(WideExists(target + L"\\" + Wide(f))) << f;
  EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key)) << "the registry key";
  if (selfRemoval) {
    Robot watch;
    EXPECT_TRUE(watch.WaitUntil([&] { return !WideExists(target); }, 60000, "the install folder's removal"));
  }

  RemoveTree(target);
  RemoveTree(user);
  RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
}

// the uninstaller, started from that folder, removes itself too
TEST(Names, ACyrillicUserOnAWesternWindowsInstallsAndUninstalls) { InstallAndUninstallAsDmitry(true); }

// Runs program with arguments (wide) in folder and waits for its exit code;
// -1 when it does not start or end.
long RunWide(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder) {
  std::wstring line = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child;
  if (!CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, folder.c_str(), &startup, &child)) return -1;
  CloseHandle(child.hThread);
  DWORD code = (DWORD)-1;
  if (WaitForSingleObject(child.hProcess, 60000) != WAIT_OBJECT_0 || !GetExitCodeProcess(child.hProcess, &code))
    code = (DWORD)-1;
  CloseHandle(child.hProcess);
  return (long)code;
}

// The table's copy beside the uninstaller cannot be made (a read-only one
// is there): the failure speaks the table's language, and all is undone.
TEST(Names, ATableThatCannotBeCopiedIsToldInTheTablesLanguage) {
  TempFolder dir;
  const std::string target = dir.File("Kopie");
  ASSERT_TRUE(CreateDirectoryA(target.c_str(), NULL));
  WriteWholeFile(target + "\\Translations.ini", "mine");
  ASSERT_TRUE(SetFileAttributesA((target + "\\Translations.ini").c_str(), FILE_ATTRIBUTE_READONLY));
  SetupOptions options;
  options.Table = QS_SOURCE_DIR "\\translations\\German.ini";
  const std::string setup = BuildSetupFile(dir,
                                           "QSP40\r\n[Global]\r\nApplicationName = Kopie\r\nDefaultDir = " + target +
                                               "\r\n[Files]\r\na.txt, %MAINDIR%a.txt\r\n",
                                           {{"a.txt", "a\r\n"}}, options);

  const std::string log = dir.File("run.log");
  EXPECT_EQ(1, RunWide(Wide(setup), L"/S \"/LOG=" + Wide(log) + L"\"", Wide(dir.Path())));
  const std::string text = ReadWholeFile(log);
  EXPECT_NE(std::string::npos,
            text.find("Die Datei Translations.ini konnte nicht in den Installationsordner kopiert werden."))
      << text;
  EXPECT_EQ("mine", ReadWholeFile(target + "\\Translations.ini"));
  EXPECT_FALSE(PathExists(target + "\\a.txt")) << "rolled back";
  EXPECT_FALSE(PathExists(target + "\\Uninstall.exe")) << "rolled back";
  SetFileAttributesA((target + "\\Translations.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A folder of 95 characters that takes 275 bytes in UTF-8: the program's
// paths are counted in characters, so it installs and uninstalls there.
TEST(Names, AFolderOfMoreThan259BytesInstallsAndUninstalls) {
  std::string level;
  for (int i = 0; i < 30; ++i) level += kHyo;
  const std::string name = level + "\\" + level + "\\" + level;
  const std::string target = std::string("C:\\") + name;
  ASSERT_GT(target.size() + strlen("\\Uninstall.exe"), 259u);
  const std::wstring wideTarget = Wide(target);
  RemoveTree(Wide("C:\\" + level));
  TempFolder dir;
  const std::string setup = BuildSetupFile(
      dir,
      std::string("QSP40\r\n[Global]\r\nApplicationName = ") + kHyo + "\r\nDefaultDir = " + target +
          "\r\n[Files]\r\n" + kHyo + ".txt, %MAINDIR%" + kHyo + ".txt\r\na.txt, %MAINDIR%" + kProga +
          "\\a.txt\r\n[Shortcuts]\r\n%MAINDIR%" + kProga + "\\" + kHyo + ".lnk,%MAINDIR%" + kHyo +
          ".txt,,%MAINDIR%,%APPNAME%,,0\r\n[INIFiles]\r\n%MAINDIR%" + kProga + "\\app.ini,S,K,V\r\n",
      {{"a.txt", "a\r\n"}, {"a.txt", "a\r\n", false, std::string(kHyo) + ".txt"}});

  const std::string log = dir.File("run.log");
  ASSERT_EQ(0, RunWide(Wide(setup), L"/S \"/LOG=" + Wide(log) + L"\"", Wide(dir.Path()))) << ReadWholeFile(log);
  for (const std::string& f : {std::string(kHyo) + ".txt", std::string(kProga) + "\\a.txt",
                               std::string(kProga) + "\\" + kHyo + ".lnk", std::string(kProga) + "\\app.ini",
                               std::string("Uninstall.exe"),
                               std::string("Uninstall.log"), std::string("Translations.ini")})
    EXPECT_TRUE(WideExists(wideTarget + L"\\" + Wide(f))) << Narrow(Wide(f));
  EXPECT_NE(std::string::npos, ReadWide(wideTarget + L"\\Uninstall.log").find(name + "\\" + kProga + "\\a.txt"));

  EXPECT_EQ(0, RunWide(wideTarget + L"\\Uninstall.exe", L"/S", Wide(dir.Path())));
  EXPECT_FALSE(WideExists(wideTarget + L"\\" + Wide(kHyo) + L".txt"));
  EXPECT_FALSE(WideExists(wideTarget + L"\\" + Wide(kProga)));
  RemoveTree(Wide("C:\\" + level));
}

// A single name of 85 characters, 255 bytes in UTF-8: the most a Linux
// host under Wine stores (Windows takes 255 characters, up to 765 bytes).
// The folder, a subfolder and an INI file so named install, and the
// uninstaller takes them all away.
TEST(Names, ANameOf255BytesInstallsAndUninstalls) {
  std::string name;
  for (int i = 0; i < 85; ++i) name += kHyo;
  const std::string ini = name.substr(0, 3 * 83) + "ab.ini";
  ASSERT_EQ(255u, ini.size());
  const std::string target = "C:\\" + name;
  const std::wstring wideTarget = Wide(target);
  RemoveTree(wideTarget);
  TempFolder dir;
  const std::string setup =
      BuildSetupFile(dir,
                     "QSP40\r\n[Global]\r\nApplicationName = " + std::string(kHyo) + "\r\nDefaultDir = " + target +
                         "\r\n[Files]\r\na.txt, %MAINDIR%" + name + "\\a.txt\r\n[INIFiles]\r\n%MAINDIR%" + ini +
                         ",S,K,V\r\n",
                     {{"a.txt", "a\r\n"}});

  const std::string log = dir.File("run.log");
  ASSERT_EQ(0, RunWide(Wide(setup), L"/S \"/LOG=" + Wide(log) + L"\"", Wide(dir.Path()))) << ReadWholeFile(log);
  for (const std::string& f : {ini, name + "\\a.txt", std::string("Uninstall.exe")})
    EXPECT_TRUE(WideExists(wideTarget + L"\\" + Wide(f))) << Narrow(Wide(f));
  EXPECT_EQ("a\r\n", ReadWide(wideTarget + L"\\" + Wide(name) + L"\\a.txt"));

  EXPECT_EQ(0, RunWide(wideTarget + L"\\Uninstall.exe", L"/S", Wide(dir.Path())));
  EXPECT_FALSE(WideExists(wideTarget + L"\\" + Wide(ini)));
  EXPECT_FALSE(WideExists(wideTarget + L"\\" + Wide(name)));
  EXPECT_FALSE(WideExists(wideTarget + L"\\Uninstall.log"));
  Robot watch;
  EXPECT_TRUE(watch.WaitUntil([&] { return !WideExists(wideTarget); }, 60000, "the install folder's removal"));
  RemoveTree(wideTarget);
}

// A temporary folder of 98 characters and 265 bytes in UTF-8 (each name
// well under the host's 255 bytes): the rollback journal lies there, so a
// replaced file of the user's comes back after a failure, and is replaced
// for good by a run that succeeds. Nothing of either run stays there, and
// an elevated run keeps its files in its private folder inside it, none
// right in it, where the user's other programs could change them. Where
// that folder cannot be made, the run stops.
TEST(Names, ATemporaryFolderOfMoreThan259BytesKeepsTheRollbackJournal) {
  std::string level;
  for (int i = 0; i < 40; ++i) level += kHyo;
  const std::wstring user = Wide(kUser), temp = user + L"\\" + Wide(level) + L"\\" + Wide(level);
  ASSERT_GT(Narrow(temp).size(), 259u);
  RemoveTree(user);
  CreateDirectoryW(user.c_str(), NULL);
  CreateDirectoryW((user + L"\\" + Wide(level)).c_str(), NULL);
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), NULL));
  TempFolder dir;
  const std::string target = dir.File("Journal App");
  ASSERT_TRUE(CreateDirectoryA(target.c_str(), NULL));
  const std::string listing = dir.File("listing.txt");
  for (const bool fails : {true, false}) {
    SCOPED_TRACE(fails ? "a run that fails" : "a run that succeeds");
    WriteWholeFile(target + "\\a.txt", "mine");
    const std::string setup = BuildSetupFile(
        dir,
        "QSP40\r\n[Global]\r\nApplicationName = Journal\r\nDefaultDir = " + target +
            "\r\n[Files]\r\na.txt, %MAINDIR%a.txt\r\n" +
            (fails ? "[SysRegInt]\r\nHKEY_USERS/Software/QuillsetNamesTest/V=1\r\n"
                   : "[Execute]\r\ncmd.exe /c dir /b \"%TEMP%\" > \"" + listing + "\"\r\n"),
        {{"a.txt", "new"}});
    const std::string log = dir.File("run.log");
    DeleteFileA(log.c_str());
    {
      TempVariables variables(temp);
      EXPECT_EQ(fails ? 1 : 0, RunWide(Wide(setup), L"/S \"/LOG=" + Wide(log) + L"\"", Wide(dir.Path())))
          << ReadWholeFile(log);
    }
    const std::string text = ReadWholeFile(log);
    EXPECT_EQ(fails ? "mine" : "new", ReadWholeFile(target + "\\a.txt")) << text;
    // it failed where the script fails, not at the file it had to keep
    EXPECT_EQ(fails, text.find("unrecognized key") != std::string::npos) << text;
    EXPECT_EQ(fails, text.find("Rollback") != std::string::npos) << text;
    // no kept copy beside it either way
    const std::vector<std::string> there = FilesIn(target);
    if (fails) {
      EXPECT_EQ(std::vector<std::string>{"a.txt"}, there);
    }
    for (const std::string& name : there) EXPECT_NE(0u, name.find("QSO")) << name;
    std::vector<std::string> left;
    WIN32_FIND_DATAW f;
    HANDLE h = FindFirstFileW((temp + L"\\*").c_str(), &f);
    if (h != INVALID_HANDLE_VALUE) {
      do
        if (wcscmp(f.cFileName, L".") && wcscmp(f.cFileName, L"..")) left.push_back(Narrow(f.cFileName));
      while (FindNextFileW(h, &f));
      FindClose(h);
    }
    EXPECT_EQ(std::vector<std::string>{}, left) << "left in the temporary folder";
  }
  // what was right in the temporary folder while the run's program ran
  const std::string seen = ReadWholeFile(listing);
  EXPECT_NE(std::string::npos, seen.find(TestIsAdministrator() ? "QST" : "UNI")) << seen;
  if (TestIsAdministrator()) {
    for (const char* prefix : {"\nQSP", "\nTRA", "\nUNI", "\nRBJ", "\nEXE"})
      EXPECT_EQ(std::string::npos, ("\n" + seen).find(prefix)) << prefix + 1 << " in the shared folder:\n" << seen;
  }

  const std::wstring nowhere = user + L"\\" + Wide(level) + L"\\no such folder";
  const std::string log = dir.File("nowhere.log");
  if (TestIsAdministrator()) {
    const std::string setup = BuildSetupFile(
        dir, "QSP40\r\n[Global]\r\nApplicationName = Nowhere\r\nDefaultDir = " + target + "\r\n[Files]\r\nb.txt, %MAINDIR%b.txt\r\n",
        {{"b.txt", "b"}});
    TempVariables variables(nowhere);
    EXPECT_EQ(1, RunWide(Wide(setup), L"/S \"/LOG=" + Wide(log) + L"\"", Wide(dir.Path())));
    EXPECT_NE(std::string::npos,
              ReadWholeFile(log).find("The private temporary folder cannot be created in " + Narrow(nowhere)))
        << ReadWholeFile(log);
    EXPECT_FALSE(PathExists(target + "\\b.txt"));
  }
  RemoveTree(user);
}

// The folder browser's tree, read from the test's process: the items'
// texts live in the setup program's memory, so the item record and its
// text buffer are made there.
class RemoteTree {
 public:
  RemoteTree(HWND tree, DWORD pid)
      : m_Tree(tree), m_Process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid)) {
    if (m_Process) m_Memory = VirtualAllocEx(m_Process, NULL, 4096, MEM_COMMIT, PAGE_READWRITE);
  }
  ~RemoteTree() {
    if (m_Memory) VirtualFreeEx(m_Process, m_Memory, 0, MEM_RELEASE);
    if (m_Process) CloseHandle(m_Process);
  }
  bool Usable() const { return m_Memory != NULL; }
  std::wstring Text(HTREEITEM item) {
    TVITEMW record = {};
    record.mask = TVIF_TEXT;
    record.hItem = item;
    record.pszText = reinterpret_cast<LPWSTR>(static_cast<char*>(m_Memory) + 512);
    record.cchTextMax = 1024;
    WCHAR text[1024] = L"";
    SIZE_T moved = 0;
    if (!WriteProcessMemory(m_Process, m_Memory, &record, sizeof record, &moved) ||
        !SendMessageW(m_Tree, TVM_GETITEMW, 0, (LPARAM)m_Memory) ||
        !ReadProcessMemory(m_Process, record.pszText, text, sizeof text - sizeof(WCHAR), &moved))
      return L"<unreadable>";
    return text;
  }
  HTREEITEM Next(HTREEITEM item, UINT how) { return (HTREEITEM)SendMessageW(m_Tree, TVM_GETNEXTITEM, how, (LPARAM)item); }
  // The child of parent whose text holds part, its parent expanded first.
  HTREEITEM Child(HTREEITEM parent, const std::wstring& part, std::wstring* seen) {
    SendMessageW(m_Tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)parent);
    for (HTREEITEM c = Next(parent, TVGN_CHILD); c; c = Next(c, TVGN_NEXT)) {
      const std::wstring text = Text(c);
      *seen += L" [" + text + L"]";
      if (text.find(part) != std::wstring::npos) return c;
    }
    return NULL;
  }

 private:
  HWND m_Tree;
  HANDLE m_Process;
  void* m_Memory = NULL;
};

// The folder browser, driven as a user does: down the tree to a folder of
// Cyrillic and CJK characters, OK; the wizard's edit then holds that
// folder and the last name of what it held, as UTF-8 the program keeps.
// Once more for a folder whose path takes more than MAX_PATH bytes.
TEST(Names, TheFolderBrowserGivesTheWizardAFolderOfAnyName) {
  const std::wstring top = Wide(std::string(kProga) + " " + kHyo + " browse");
  std::string level;
  for (int i = 0; i < 40; ++i) level += kHyo;
  RemoveTree(L"C:\\" + top);
  ASSERT_TRUE(CreateDirectoryW((L"C:\\" + top).c_str(), NULL));
  ASSERT_TRUE(CreateDirectoryW((L"C:\\" + top + L"\\" + Wide(level)).c_str(), NULL));
  ASSERT_TRUE(CreateDirectoryW((L"C:\\" + top + L"\\" + Wide(level) + L"\\" + Wide(level)).c_str(), NULL));
  TempFolder dir;
  const std::string setup = BuildSetupFile(
      dir, "QSP40\r\n[Global]\r\nApplicationName = Browse\r\nDefaultDir = C:\\Program Files\\Browse App\r\n"
           "AllowChangeInstallDir = TRUE\r\n[Files]\r\na.txt, %MAINDIR%a.txt\r\n",
      {{"a.txt", "a"}});
  for (const std::vector<std::wstring>& names :
       {std::vector<std::wstring>{top}, std::vector<std::wstring>{top, Wide(level), Wide(level)}}) {
    std::wstring folder = L"C:";
    for (const std::wstring& n : names) folder += L"\\" + n;
    SCOPED_TRACE(Narrow(folder));
    if (names.size() > 1) {
      ASSERT_GT(Narrow(folder + L"\\Browse App").size(), (size_t)MAX_PATH);
    }
    Robot robot;
    HWND w = StartSetup(robot, setup);
    ASSERT_TRUE(w);
    ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
    ASSERT_TRUE(robot.WaitUntil([&] { return IsWindowVisible(GetDlgItem(w, IDC_BROWSE)) != 0; }, 10000,
                                "the destination page"));
    ASSERT_TRUE(Robot::Press(w, IDC_BROWSE));
    HWND browser = NULL, tree = NULL;
    robot.WaitUntil(
        [&] {
          for (HWND window : robot.TopLevelWindows(true))
            if (window != w)
              for (const RobotControl& c : Robot::Controls(window))
                if (Robot::Class(c.Window) == "SysTreeView32") browser = window, tree = c.Window;
          return tree != NULL;
        },
        20000, "the folder browser's tree");
    ASSERT_TRUE(tree) << robot.WindowTree();
    RemoteTree items(tree, robot.Pid());
    ASSERT_TRUE(items.Usable());
    // the desktop, the computer, drive C:, the folders
    std::wstring seen;
    HTREEITEM at = items.Next(NULL, TVGN_ROOT);
    ASSERT_TRUE(at);
    at = items.Child(at, L"Computer", &seen);
    ASSERT_TRUE(at) << Narrow(seen);
    at = items.Child(at, L"C:", &seen);
    ASSERT_TRUE(at) << Narrow(seen);
    for (const std::wstring& n : names) {
      at = items.Child(at, n, &seen);
      ASSERT_TRUE(at) << Narrow(seen);
      EXPECT_TRUE(n == items.Text(at)) << Narrow(items.Text(at));
    }
    ASSERT_TRUE(SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)at));
    ASSERT_TRUE(Robot::Press(browser, IDOK));
    ASSERT_TRUE(robot.WaitUntil([&] { return !IsWindow(browser); }, 10000, "the folder browser to close"));
    WCHAR shown[2 * MAX_PATH] = L"";
    GetDlgItemTextW(w, IDC_DESTINATION, shown, 2 * MAX_PATH);
    EXPECT_EQ(Narrow(folder + L"\\Browse App"), Narrow(shown));
    ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
    EXPECT_EQ(En("DO_YOU_REALY_WANT_TO_QUIT"), robot.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDYES, 10000));
    DWORD code = 0;
    EXPECT_TRUE(robot.WaitForExit(20000, &code));
    EXPECT_EQ(2u, code);
  }
  RemoveTree(L"C:\\" + top);
}

// A bundled table's text of key, as the setup program shows it.
std::wstring TableText(const char* file, int codePage, const char* key) {
  char text[2001];
  GetPrivateProfileStringA("Strings", key, key, text, sizeof text,
                           (std::string(QS_SOURCE_DIR "\\translations\\") + file).c_str());
  WCHAR wide[2001];
  MultiByteToWideChar((UINT)codePage, 0, text, -1, wide, 2001);
  return wide;
}

std::string Utf8Of(const std::string& file, int codePage) {
  const std::string bytes = ReadWholeFile(std::string(QS_SOURCE_DIR "\\translations\\") + file);
  std::wstring wide(bytes.size() + 1, L'\0');
  wide.resize((size_t)MultiByteToWideChar((UINT)codePage, 0, bytes.data(), (int)bytes.size(), &wide[0],
                                          (int)wide.size()));
  std::string utf8(wide.size() * 3 + 1, '\0');
  utf8.resize((size_t)WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), (int)wide.size(), &utf8[0], (int)utf8.size(),
                                          NULL, NULL));
  return utf8;
}

// The text as it shows: a button's access-key mark taken out.
std::wstring Caption(HWND w) {
  WCHAR text[512] = L"";
  SendMessageW(w, WM_GETTEXT, 512, (LPARAM)text);
  if (Robot::Class(w) != "Button") return text;
  std::wstring shown;
  for (const WCHAR* p = text; *p; ++p) shown += *p == L'&' && p[1] ? *++p : *p;
  return shown;
}

// The table a setup in German, Japanese and English speaks to this user:
// the user's UI language (the lanes e2e_lang_* set it), else the first.
const char* UsersTable(int* codePage) {
  *codePage = 1252;
  switch (PRIMARYLANGID(GetUserDefaultUILanguage())) {
    case LANG_JAPANESE: *codePage = 932; return "Japanese.ini";
    case LANG_ENGLISH: return "English.ini";
    default: return "German.ini";
  }
}

// A setup in German, Japanese and English, as quillset build --language
// de,ja,en stores it: the first as Translations.ini, each under its code.
class SeveralLanguages : public ::testing::Test {
 protected:
  TempFolder dir;
  std::string setup;
  const std::string target = dir.File("Multi App");

  void SetUp() override { Build(""); }

  // the setup, with more keys of [Global]
  void Build(const std::string& global) {
    const std::string german = Utf8Of("German.ini", 1252);
    SetupOptions options;
    options.Table = dir.File("Translations.ini");
    WriteWholeFile(options.Table, german);
    setup = BuildSetupFile(dir, "QSP40\r\n[Global]\r\nApplicationName = Multi\r\nDefaultDir = " + target +
                                    "\r\n" + global + "[Files]\r\na.txt, %MAINDIR%a.txt\r\n",
                           {{"Translations.de.ini", german},
                            {"Translations.ja.ini", Utf8Of("Japanese.ini", 932)},
                            {"Translations.en.ini", Utf8Of("English.ini", 1252)},
                            {"a.txt", "a"}},
                           options);
  }

  // Starts the setup and waits for its language dialog; NULL when none shows.
  HWND StartAtLanguageDialog(Robot& robot) {
    if (!robot.Start("\"" + setup + "\"")) return NULL;
    HWND dialog = NULL;
    robot.WaitUntil([&] {
          dialog = robot.FindWindowNow("#32770", NULL);
          return dialog && GetDlgItem(dialog, IDC_LANGUAGE_LIST);
        }, 20000, "the language dialog");
    return dialog && GetDlgItem(dialog, IDC_LANGUAGE_LIST) ? dialog : NULL;
  }

  // The caption of the welcome page the setup shows with options, after
  // which it is cancelled.
  std::wstring Welcome(const std::string& options = "") {
    Robot robot;
    if (!robot.Start("\"" + setup + "\"" + options)) return L"<no start>";
    HWND w = NULL;
    robot.WaitUntil([&] {
          w = robot.FindWindowNow("#32770", NULL);
          return w && IsWindowVisible(GetDlgItem(w, IDC_NEXT));
        }, 20000, "the welcome page");
    if (!w) return L"<no page>";
    const std::wstring caption = Caption(w);
    robot.Kill();
    return caption;
  }
};

TEST_F(SeveralLanguages, TheUsersLanguageElseTheFirstListedAndLangChoosesInstead) {
  // the lanes say whose UI language Wine gives this user
  if (const char* lane = getenv("QS_UI_LANGUAGE")) {
    const WORD want = strcmp(lane, "ja") == 0   ? LANG_JAPANESE
                      : strcmp(lane, "pl") == 0 ? LANG_POLISH
                      : strcmp(lane, "de") == 0 ? LANG_GERMAN
                      : strcmp(lane, "fi") == 0 ? LANG_FINNISH
                                                : LANG_NEUTRAL;
    ASSERT_EQ(want, PRIMARYLANGID(GetUserDefaultUILanguage())) << "Wine did not take the lane's locale " << lane;
  }
  int codePage = 0;
  const char* users = UsersTable(&codePage);
  SCOPED_TRACE(std::string("this user's table: ") + users);
  EXPECT_EQ(Narrow(TableText(users, codePage, "WELCOME")), Narrow(Welcome()));
  EXPECT_EQ(Narrow(TableText("English.ini", 1252, "WELCOME")), Narrow(Welcome(" /LANG=en"))) << "/LANG=en";
  EXPECT_EQ(Narrow(TableText("German.ini", 1252, "WELCOME")), Narrow(Welcome(" /LANG=DE"))) << "/LANG=DE";
  EXPECT_EQ(Narrow(TableText("Japanese.ini", 932, "WELCOME")), Narrow(Welcome(" /LANG=ja"))) << "/LANG=ja";
  // one the setup does not hold: the user's after all
  EXPECT_EQ(Narrow(TableText(users, codePage, "WELCOME")), Narrow(Welcome(" /LANG=fi"))) << "/LANG=fi";

  // German is the first listed too: the run log tells a German user's
  // choice (its own table) from a Finnish user's (the first one)
  const std::string log = dir.File("run.log");
  Welcome(" \"/LOG=" + log + "\"");
  const bool german = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN;
  EXPECT_EQ(german, ReadWholeFile(log).find("Language: Translations.de.ini") != std::string::npos)
      << ReadWholeFile(log);
}

TEST_F(SeveralLanguages, TheUninstallerSpeaksTheLanguageOfTheInstallation) {
  Robot robot;
  ASSERT_TRUE(robot.Start("\"" + setup + "\" /S /LANG=ja"));
  DWORD code = 1;
  ASSERT_TRUE(robot.WaitForExit(60000, &code));
  ASSERT_EQ(0u, code);
  // the Japanese table lies beside Uninstall.exe, whoever starts it
  Robot un;
  ASSERT_TRUE(un.Start("\"" + target + "\\Uninstall.exe\"", dir.Path().c_str()));
  HWND box = NULL;
  ASSERT_TRUE(un.WaitUntil([&] {
        box = un.FindWindowNow("#32770", NULL);
        return box != NULL;
      }, 20000, "the uninstall question"));
  Robot::Settle(box);
  EXPECT_EQ(Narrow(TableText("Japanese.ini", 932, "UNINSTALL_TITLE")), Narrow(Caption(box)));
  // in its own words, naming the program
  std::wstring question = TableText("Japanese.ini", 932, "YOU_ARE_ABOUT_TO_UNINSTALL");
  const size_t name = question.find(L"%APPNAME%");
  ASSERT_NE(std::wstring::npos, name);
  question.replace(name, 9, L"Multi");
  WCHAR shown[512] = L"";
  GetDlgItemTextW(box, 0xFFFF, shown, 512);
  EXPECT_EQ(Narrow(question), Narrow(shown));
  PostMessageW(box, WM_COMMAND, IDNO, 0);
  EXPECT_TRUE(un.WaitForExit(20000, &code));
}

// The language dialog a script asks for: each language by its own name,
// the automatic choice selected, texts of that choice's table around it.
// The wizard then speaks the language picked, and it is the table
// installed beside Uninstall.exe.
TEST_F(SeveralLanguages, TheLanguageDialogOffersEveryLanguageAndInstallsThePickedOne) {
  Build("ShowLanguageDialog = TRUE\r\n");
  int codePage = 0;
  const char* users = UsersTable(&codePage);
  SCOPED_TRACE(std::string("this user's table: ") + users);
  Robot robot;
  HWND dialog = StartAtLanguageDialog(robot);
  ASSERT_TRUE(dialog) << robot.WindowTree();
  Robot::Settle(dialog);
  HWND list = GetDlgItem(dialog, IDC_LANGUAGE_LIST);
  std::vector<std::string> names;
  const int count = (int)SendMessageW(list, CB_GETCOUNT, 0, 0);
  for (int i = 0; i < count; ++i) {
    WCHAR name[64] = L"";
    if (SendMessageW(list, CB_GETLBTEXTLEN, i, 0) < 64) SendMessageW(list, CB_GETLBTEXT, i, (LPARAM)name);
    names.push_back(Narrow(name));
  }
  EXPECT_EQ((std::vector<std::string>{"English", "Deutsch", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"}), names);
  const int selected = (int)SendMessageW(list, CB_GETCURSEL, 0, 0);
  EXPECT_EQ(strcmp(users, "English.ini") == 0 ? 0 : strcmp(users, "Japanese.ini") == 0 ? 2 : 1, selected);
  EXPECT_EQ(Narrow(TableText(users, codePage, "INSTALL_TITLE")), Narrow(Caption(dialog)));
  EXPECT_EQ(Narrow(TableText(users, codePage, "CANCEL")), Narrow(Caption(GetDlgItem(dialog, IDCANCEL))));

  // another than the automatic one
  const int pick = selected == 2 ? 0 : 2;
  const char* picked = pick == 2 ? "Japanese.ini" : "English.ini";
  const int pickedCodePage = pick == 2 ? 932 : 1252;
  SendMessageW(list, CB_SETCURSEL, pick, 0);
  ASSERT_TRUE(Robot::Press(dialog, IDOK));
  HWND w = NULL;
  ASSERT_TRUE(robot.WaitUntil([&] {
        w = robot.FindWindowNow("#32770", NULL);
        return w && IsWindowVisible(GetDlgItem(w, IDC_NEXT));
      }, 20000, "the welcome page"));
  EXPECT_EQ(Narrow(TableText(picked, pickedCodePage, "WELCOME")), Narrow(Caption(w)));
  for (const char* page : {"CHOOSE_DESITNATION_LOCATION", "START_INSTALLATION", "INSTALLING"}) {
    ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
    const std::wstring want = TableText(picked, pickedCodePage, page);
    ASSERT_TRUE(robot.WaitUntil([&] { return Caption(w) == want; }, 20000, page));
  }
  const std::wstring finish = TableText(picked, pickedCodePage, "FINISH");
  ASSERT_TRUE(robot.WaitUntil([&] { return IsWindowEnabled(GetDlgItem(w, IDC_NEXT)) && Caption(GetDlgItem(w, IDC_NEXT)) == finish; },
                              60000, "the finish page"));
  ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
  DWORD code = 1;
  ASSERT_TRUE(robot.WaitForExit(20000, &code));
  EXPECT_EQ(0u, code);
  // the installed table is the picked one's, as UTF-16
  const std::string installed = ReadWholeFile(target + "\\Translations.ini");
  const std::wstring welcome = TableText(picked, pickedCodePage, "WELCOME");
  EXPECT_NE(std::string::npos,
            installed.find(std::string(reinterpret_cast<const char*>(welcome.c_str()), welcome.size() * sizeof(WCHAR))))
      << "the installed table is not " << picked;
  Robot un;
  ASSERT_TRUE(un.Start("\"" + target + "\\Uninstall.exe\" /S", dir.Path().c_str()));
  EXPECT_TRUE(un.WaitForExit(60000, &code));
  EXPECT_EQ(0u, code);
}

// Cancel there ends the setup as the welcome page's would: exit code 2,
// nothing installed, nothing left in the temporary folder. /LANG= and a
// silent run never show it, nor does a setup of one language.
TEST_F(SeveralLanguages, TheLanguageDialogCancelsCleanlyAndIsSkippedWhenTheChoiceIsMade) {
  Build("ShowLanguageDialog = TRUE\r\n");
  const std::string temp = dir.File("temp");
  ASSERT_TRUE(CreateDirectoryA(temp.c_str(), NULL));
  {
    TempVariables variables(Wide(temp));
    Robot robot;
    HWND dialog = StartAtLanguageDialog(robot);
    ASSERT_TRUE(dialog) << robot.WindowTree();
    ASSERT_TRUE(Robot::Press(dialog, IDCANCEL));
    DWORD code = 0;
    ASSERT_TRUE(robot.WaitForExit(20000, &code));
    EXPECT_EQ(2u, code);
  }
  EXPECT_FALSE(PathExists(target));
  EXPECT_EQ(std::vector<std::string>{}, FilesIn(temp));

  EXPECT_EQ(Narrow(TableText("Japanese.ini", 932, "WELCOME")), Narrow(Welcome(" /LANG=ja"))) << "/LANG=ja";
  Robot silent;
  ASSERT_TRUE(silent.Start("\"" + setup + "\" /S /LANG=de"));
  DWORD code = 1;
  ASSERT_TRUE(silent.WaitForExit(60000, &code));
  EXPECT_EQ(0u, code);
  EXPECT_TRUE(PathExists(target + "\\a.txt"));
  Robot un;
  ASSERT_TRUE(un.Start("\"" + target + "\\Uninstall.exe\" /S", dir.Path().c_str()));
  EXPECT_TRUE(un.WaitForExit(60000, &code));

  TempFolder one;
  const std::string single = BuildSetupFile(
      one, "QSP40\r\n[Global]\r\nApplicationName = One\r\nShowLanguageDialog = TRUE\r\n[Files]\r\n", {});
  Robot robot;
  EXPECT_TRUE(StartSetup(robot, single)) << "a setup of one language asks nothing";
  robot.Kill();

  // Started without rights: asked once, before the elevated run, whose
  // wizard speaks the language picked; Cancel there ends both.
  HWND asked = NULL;
  int askedAgain = 0;
  std::wstring welcome;
  WatchedRun run = RunWatched(Wide("\"" + setup + "\""), NULL, 60000, [&](HWND w) {
    if (GetDlgItem(w, IDC_LANGUAGE_LIST)) {
      if (asked && w != asked) ++askedAgain;
      if (asked) return;
      SendMessageW(GetDlgItem(w, IDC_LANGUAGE_LIST), CB_SETCURSEL, 2, 0);  // Japanese
      Robot::Press(asked = w, IDOK);
    } else if (welcome.empty() && IsWindowVisible(GetDlgItem(w, IDC_NEXT))) {
      welcome = Caption(w);
      Robot::Press(w, IDC_CANCEL_INSTALL);
    } else if (!welcome.empty()) {
      Robot::Press(w, IDYES);  // the question whether to quit
    }
  }, true);
  EXPECT_TRUE(run.Ended);
  EXPECT_EQ(2u, run.Code);
  EXPECT_TRUE(asked);
  EXPECT_EQ(0, askedAgain);
  EXPECT_EQ(Narrow(TableText("Japanese.ini", 932, "WELCOME")), Narrow(welcome));
  EXPECT_FALSE(PathExists(target));
}

}  // namespace
