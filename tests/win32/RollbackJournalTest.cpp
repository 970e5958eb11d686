// Files an installation replaces: kept aside before they are touched, put
// back by a rollback, deleted after a successful run.
#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "Robot.h"
#include "TestSupport.h"
#include "efs/ExeFileSystem.h"
#include "engine/Sections.h"
#include "platform/PrivateTemp.h"
#include "platform/RegistryHelpers.h"
#include "uninstall/UninstallLogger.h"

namespace {

// Names of the originals kept aside in folder.
std::vector<std::string> KeptCopies(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((folder + "\\QSO*.tmp").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do names.push_back(folder + "\\" + fd.cFileName);
  while (FindNextFileA(h, &fd));
  FindClose(h);
  return names;
}

// A file of the user's with its own content and time.
std::string UsersFile(const std::string& path, const std::string& content) {
  WriteWholeFile(path, content);
  SetWriteTime(path, 0x01c12345, 0x11111100);
  return path;
}

// A container of these files, opened; `corrupt` names one whose stored
// bytes fail the CRC check.
void OpenSetup(CExeFileSystemLogged& efs, const TempFolder& dir,
               const std::vector<std::pair<std::string, std::string>>& files, const char* corrupt = "") {
  WriteWholeFile(dir.File("stub.exe"), std::string(2000, 'S'));
  std::vector<SetupSource> sources;
  for (auto& f : files) sources.push_back({f.first, f.second, true});
  const std::string setup = dir.File("setup.exe");
  BuildSetupOf(dir.File("stub.exe"), dir.File("src"), sources, setup);
  efs.Open(setup.c_str());
  if (*corrupt) {
    std::string bytes = ReadWholeFile(setup);
    bytes[efs.FindEntry(corrupt)->DataOffset] ^= 0x21;
    efs.Close();  // the reader holds the file while open
    WriteWholeFile(setup, bytes);
    efs.Open(setup.c_str());
  }
}

// Rolls back on a second thread and answers its boxes with OK from this one.
std::vector<RobotMessageBox> RollBack(CUninstallLogger& log) {
  std::atomic<int> done(0);
  std::thread rollback([&] {
    log.Rollback();
    done = 1;
  });
  Robot robot;
  robot.AttachSelf();
  std::vector<RobotMessageBox> boxes;
  const DWORD start = GetTickCount();
  while (!done && GetTickCount() - start < 30000) {
    if (robot.FindWindowNow("#32770", NULL)) {
      RobotMessageBox box = robot.WaitForMessageBox(NULL, 1000);
      if (box.Window) {
        boxes.push_back(box);
        robot.Answer(box, IDOK);
      }
    }
    Sleep(20);
  }
  rollback.join();
  return boxes;
}

// Where the run keeps its temporary files: an administrator's in its
// private folder.
std::string TempFolderPath() {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return RunsAsAdministrator() && PrivateTempFolder()[0] ? PrivateTempFolder() : dir;
}

// A run's folder, its setup file and its log.
class Rollback : public ::testing::Test {
 protected:
  void Open(const std::vector<std::pair<std::string, std::string>>& files, const char* corrupt = "") {
    OpenSetup(efs, dir, files, corrupt);
    ASSERT_EQ(1, log.CreateTempLog());
  }
  TempFolder dir;
  CExeFileSystemLogged efs;
  CUninstallLogger log;
};

TEST_F(Rollback, AMissingEntryLeavesTheDestinationAndItsFolderAlone) {
  ASSERT_NO_FATAL_FAILURE(Open({{"here.txt", "new"}}));
  const std::string mine = UsersFile(dir.File("mine.txt"), "mine");
  EXPECT_EQ(0, efs.ExtractFileLogged("mine.txt", mine.c_str(), 1, NULL, 500, &log));
  EXPECT_EQ(0, efs.ExtractFile("mine.txt", mine.c_str(), 1, NULL, 500));
  EXPECT_EQ("mine", ReadWholeFile(mine));
  EXPECT_EQ(0x01c1234511111100ull, WriteTime(mine));
  EXPECT_EQ(0, efs.ExtractFileLogged("gone.txt", dir.File("new\\gone.txt").c_str(), 1, NULL, 500, &log));
  EXPECT_FALSE(PathExists(dir.File("new")));
  EXPECT_EQ(std::vector<std::string>{}, KeptCopies(dir.Path()));
  EXPECT_EQ("", ReadWholeFile(log.GetLogPath()));
}

// A replaced file is kept once, however its path is spelled and however
// often the run writes it; a file the run made itself is never kept. The
// rollback puts every original back with its time and removes the rest,
// after a corrupt entry too.
TEST_F(Rollback, OriginalsGoAsideOnceAndComeBackWithTheirTimes) {
  ASSERT_NO_FATAL_FAILURE(Open({{"a.txt", "new a"}, {"b.txt", "new b"}, {"c.txt", "new c"}}, "b.txt"));
  const std::string app = dir.File("App");
  CreateDirectoryA(app.c_str(), NULL);
  const std::string a = UsersFile(app + "\\a.txt", "my a"), b = UsersFile(app + "\\b.txt", "my b");

  ASSERT_EQ(1, efs.ExtractFileLogged("a.txt", a.c_str(), 1, NULL, 500, &log));
  EXPECT_EQ("new a", ReadWholeFile(a));
  std::vector<std::string> kept = KeptCopies(app);
  ASSERT_EQ(1u, kept.size());
  EXPECT_EQ("my a", ReadWholeFile(kept[0]));
  // the journal is a file of the temporary folder
  const std::string journal = log.GetJournalPath();
  EXPECT_EQ(0u, journal.find(TempFolderPath() + "RBJ")) << journal;
  EXPECT_TRUE(PathExists(journal));

  char shortName[MAX_PATH] = "";
  GetShortPathNameA(a.c_str(), shortName, MAX_PATH);
  ASSERT_NE(a, shortName);  // the test folder's name is longer than 8.3
  for (const std::string& again : {dir.File("APP\\A.TXT"), std::string(shortName)})
    ASSERT_EQ(1, efs.ExtractFileLogged("a.txt", again.c_str(), 1, NULL, 500, &log)) << again;
  const std::string c = app + "\\new\\c.txt";
  ASSERT_EQ(1, efs.ExtractFileLogged("c.txt", c.c_str(), 1, NULL, 500, &log));
  ASSERT_EQ(1, efs.ExtractFileLogged("c.txt", c.c_str(), 1, NULL, 500, &log));
  EXPECT_EQ(1u, KeptCopies(app).size());
  EXPECT_EQ(std::vector<std::string>{}, KeptCopies(app + "\\new"));

  EXPECT_EQ(EXTRACT_CORRUPT, efs.ExtractFileLogged("b.txt", b.c_str(), 1, NULL, 500, &log));
  EXPECT_FALSE(PathExists(b));
  EXPECT_EQ(2u, KeptCopies(app).size());

  EXPECT_EQ(0u, RollBack(log).size());
  EXPECT_EQ("my a", ReadWholeFile(a));
  EXPECT_EQ("my b", ReadWholeFile(b));
  EXPECT_EQ(0x01c1234511111100ull, WriteTime(a));
  EXPECT_EQ(0x01c1234511111100ull, WriteTime(b));
  EXPECT_FALSE(PathExists(app + "\\new"));
  EXPECT_EQ(std::vector<std::string>{}, KeptCopies(app));
  EXPECT_FALSE(PathExists(journal));
}

bool SameFolder(const std::string& folder, const std::string& other) {
  WriteWholeFile(folder + "\\probe.txt", "probe");
  const bool same = ReadWholeFile(other + "\\probe.txt") == "probe";
  DeleteFileA((folder + "\\probe.txt").c_str());
  return same;
}

// A second name for folder that path normalization cannot join to the
// first: a drive letter of its own, as subst makes (*defined is set), or
// under Wine its Unix path on drive Z:; "" when there is none.
std::string OtherSpelling(const std::string& folder, char letter, bool* defined) {
  *defined = false;
  const char drive[3] = {letter, ':', '\0'};
  if (GetDriveTypeA((std::string(drive) + "\\").c_str()) == DRIVE_NO_ROOT_DIR &&
      DefineDosDeviceA(0, drive, folder.c_str())) {
    if (SameFolder(folder, drive)) return *defined = true, drive;
    DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, drive, folder.c_str());
  }
  typedef char*(CDECL * UnixName)(const WCHAR*);
  UnixName unixName = (UnixName)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
  WCHAR wide[MAX_PATH];
  if (!unixName || !MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide, MAX_PATH)) return "";
  char* name = unixName(wide);
  if (!name) return "";
  std::string z = std::string("Z:") + name;
  HeapFree(GetProcessHeap(), 0, name);
  for (char& c : z)
    if (c == '/') c = '\\';
  return SameFolder(folder, z) ? z : "";
}

// Replaced twice in one run under two spellings the journal keeps apart:
// two originals are kept, the second being the run's own first copy. Only
// putting them back newest first leaves the user's file.
TEST_F(Rollback, AFileReplacedTwiceUnderTwoSpellingsComesBackAsTheUsersOwn) {
  ASSERT_NO_FATAL_FAILURE(Open({{"a.txt", "new a"}}));
  const std::string app = dir.File("App");
  CreateDirectoryA(app.c_str(), NULL);
  const std::string a = UsersFile(app + "\\a.txt", "my a");
  bool defined = false;
  const std::string drive = OtherSpelling(app, 'R', &defined);
  if (drive.empty()) GTEST_SKIP() << "no second spelling (a drive letter) for " << app;
  const std::string other = drive + "\\a.txt";

  ASSERT_EQ(1, efs.ExtractFileLogged("a.txt", a.c_str(), 1, NULL, 500, &log));
  ASSERT_EQ(1, efs.ExtractFileLogged("a.txt", other.c_str(), 1, NULL, 500, &log));
  EXPECT_EQ(2u, KeptCopies(app).size()) << "the two spellings were taken for one file";
  EXPECT_EQ(0u, RollBack(log).size());
  EXPECT_EQ("my a", ReadWholeFile(a)) << "an older original went back over a newer one";
  EXPECT_EQ(0x01c1234511111100ull, WriteTime(a));
  EXPECT_EQ(std::vector<std::string>{}, KeptCopies(app));
  if (defined) DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, drive.c_str(), app.c_str());
}

// Windows will not replace a read-only file, nor rename one another program
// holds without delete sharing: such a file stays, and so does its content.
TEST_F(Rollback, AFileThatCannotBeKeptIsNotReplaced) {
  ASSERT_NO_FATAL_FAILURE(Open({{"ro.txt", "new"}, {"held.txt", "new"}}));
  const std::string ro = UsersFile(dir.File("ro.txt"), "mine");
  SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_READONLY);
  SetLastError(0);
  EXPECT_EQ(0, efs.ExtractFileLogged("ro.txt", ro.c_str(), 1, NULL, 500, &log));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
  SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ("mine", ReadWholeFile(ro));

  const std::string held = UsersFile(dir.File("held.txt"), "mine");
  HANDLE h = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(0, efs.ExtractFileLogged("held.txt", held.c_str(), 1, NULL, 500, &log));
  CloseHandle(h);
  EXPECT_EQ("mine", ReadWholeFile(held));
  EXPECT_EQ(std::vector<std::string>{}, KeptCopies(dir.Path()));
  EXPECT_EQ("", ReadWholeFile(log.GetLogPath()));
}

// An original that cannot go back is named with the place of its copy, and
// the copy stays.
TEST_F(Rollback, AnOriginalThatCannotGoBackIsToldAndKept) {
  ASSERT_NO_FATAL_FAILURE(Open({{"a.txt", "new a"}}));
  const std::string a = UsersFile(dir.File("a.txt"), "my a");
  ASSERT_EQ(1, efs.ExtractFileLogged("a.txt", a.c_str(), 1, NULL, 500, &log));
  const std::vector<std::string> kept = KeptCopies(dir.Path());
  ASSERT_EQ(1u, kept.size());
  // another program holds the new file
  HANDLE h = CreateFileA(a.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  std::vector<RobotMessageBox> boxes = RollBack(log);
  CloseHandle(h);
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("Error", boxes[0].Caption);
  EXPECT_EQ("The file " + a + "\ncould not be put back as it was before the installation.\n"
            "The original is kept as " + kept[0],
            boxes[0].Text);
  EXPECT_EQ("my a", ReadWholeFile(kept[0]));
  EXPECT_EQ("new a", ReadWholeFile(a));
}

// After a successful run the originals and the journal are gone; what the
// run wrote stays.
TEST_F(Rollback, ASuccessfulRunDeletesTheKeptOriginals) {
  ASSERT_NO_FATAL_FAILURE(Open({{"a.txt", "new a"}, {"b.txt", "new b"}}));
  for (const char* name : {"a.txt", "b.txt"}) {
    const std::string path = UsersFile(dir.File(name), "mine");
    ASSERT_EQ(1, efs.ExtractFileLogged(name, path.c_str(), 1, NULL, 500, &log));
  }
  const std::string journal = log.GetJournalPath();
  ASSERT_EQ(2u, KeptCopies(dir.Path()).size());
  log.DiscardKeptOriginals();
  EXPECT_EQ(std::vector<std::string>{}, KeptCopies(dir.Path()));
  EXPECT_FALSE(PathExists(journal));
  EXPECT_EQ("new a", ReadWholeFile(dir.File("a.txt")));
  EXPECT_EQ("new b", ReadWholeFile(dir.File("b.txt")));
  // nothing is left to roll back to
  EXPECT_EQ(0u, RollBack(log).size());
  EXPECT_FALSE(PathExists(dir.File("a.txt")));
}

// A shortcut the user had by the same name comes back as well.
TEST_F(Rollback, AReplacedShortcutComesBack) {
  CoInitialize(NULL);
  ASSERT_EQ(1, log.CreateTempLog());
  const std::string lnk = UsersFile(dir.File("App.lnk"), "the user's own shortcut");
  ASSERT_TRUE(SUCCEEDED(CreateShellShortcut(dir.File("app.exe").c_str(), lnk.c_str(), "", 0, "", "", "", &log)));
  EXPECT_NE("the user's own shortcut", ReadWholeFile(lnk));
  EXPECT_EQ(1u, KeptCopies(dir.Path()).size());
  EXPECT_EQ(0u, RollBack(log).size());
  EXPECT_EQ("the user's own shortcut", ReadWholeFile(lnk));
  EXPECT_EQ(std::vector<std::string>{}, KeptCopies(dir.Path()));
  CoUninitialize();
}


std::string IniValue(const std::string& file, const char* section, const char* key) {
  char text[256];
  GetPrivateProfileStringA(section, key, "<missing>", text, sizeof text, file.c_str());
  return text;
}

// Values of a key: name -> type and bytes.
std::string RegistryValue(const char* path, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
  BYTE data[256];
  DWORD size = sizeof data, type = 0;
  const LONG r = RegQueryValueExA(key, name, NULL, &type, data, &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return "<missing>";
  return std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
}

// The values a run overwrites come back, newest first, whatever it wrote
// in between; what it added goes; keys it made go with what is below them,
// and a key listed for removal that was there before stays.
TEST_F(Rollback, OverwrittenValuesComeBackAndNewOnesGo) {
  const std::string ini = dir.File("app.ini");
  WritePrivateProfileStringA("Settings", "Server", "user value", ini.c_str());
  WritePrivateProfileStringA("Settings", "Quoted", "\"a b\"", ini.c_str());
  WritePrivateProfileStringA("Other", "Keep", "1", ini.c_str());
  const std::string iniBefore = ReadWholeFile(ini);
  const char kKey[] = "Software\\QuillsetTest-Journal";
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
  RegSetValueExA(key, "Server", 0, REG_SZ, reinterpret_cast<const BYTE*>("user\tvalue\n"), 12);
  const DWORD seven = 7;
  RegSetValueExA(key, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&seven), 4);
  RegCloseKey(key);
  const std::string server = RegistryValue(kKey, "Server"), count = RegistryValue(kKey, "Count");

  ASSERT_EQ(1, log.CreateTempLog());
  const char* const entries[][3] = {{"Settings", "Server", "first"}, {"settings", "SERVER", "second"},
                                    {"Settings", "Quoted", "x"},     {"Settings", "Added", "new"},
                                    {"Fresh", "Key", "new"}};
  for (auto& e : entries) {
    ASSERT_EQ(1, log.KeepIniValue(ini.c_str(), e[0], e[1]));
    WritePrivateProfileStringA(e[0], e[1], e[2], ini.c_str());
    log.LogIniFileEntryAdded(ini.c_str(), e[0], e[1]);
  }
  ASSERT_EQ(1, log.LogListedRegistryKey("HKEY_CURRENT_USER/Software/QuillsetTest-Journal"));
  ASSERT_EQ(1, log.LogListedRegistryKey("HKEY_CURRENT_USER/Software/QuillsetTest-JournalNew"));
  for (const char* path : {"Software/QuillsetTest-Journal", "Software/QuillsetTest-Journal/Sub/Deep",
                           "Software/QuillsetTest-JournalNew/A"}) {
    ASSERT_EQ(1, log.KeepRegistryKeys("HKEY_CURRENT_USER", path));
    HKEY made = CreateRegistryPath(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS);
    ASSERT_TRUE(made);
    RegCloseKey(made);
  }
  for (const char* name : {"Server", "Count", "Added", "Count"}) {
    ASSERT_EQ(1, log.KeepRegistryValue("HKEY_CURRENT_USER", "Software/QuillsetTest-Journal", name));
    ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, "Software/QuillsetTest-Journal", name, "run"));
  }
  EXPECT_EQ("second", IniValue(ini, "Settings", "Server"));

  EXPECT_EQ(0u, RollBack(log).size());
  EXPECT_EQ(iniBefore, ReadWholeFile(ini));
  EXPECT_EQ("user value", IniValue(ini, "Settings", "Server"));
  EXPECT_EQ("<missing>", IniValue(ini, "Fresh", "Key"));
  EXPECT_EQ(server, RegistryValue(kKey, "Server"));
  EXPECT_EQ(count, RegistryValue(kKey, "Count"));
  EXPECT_EQ("<missing>", RegistryValue(kKey, "Added"));
  EXPECT_EQ("<no key>", RegistryValue("Software\\QuillsetTest-Journal\\Sub", ""));
  EXPECT_EQ("<no key>", RegistryValue("Software\\QuillsetTest-JournalNew", ""));
  // uninstalling keeps its rule: the listed key goes with everything in it
  EXPECT_EQ(1, log.Replay(NULL, 0));
  EXPECT_EQ("<no key>", RegistryValue(kKey, "Server"));
  EXPECT_EQ("<missing>", IniValue(ini, "Settings", "Server"));
  RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
}

// The user's values come back with every character, whatever the program's
// code page holds: an INI file in UTF-16 and a registry string, each with
// Greek, Japanese and Korean in it.
TEST_F(Rollback, ValuesComeBackWithCharactersBeyondTheCodePage) {
  const wchar_t kText[] = L"\x0395\x03bb\x03bb\x03b7\x03bd\x03b9\x03ba\x03ac \x65e5\x672c\x8a9e \xd55c\xad6d\xc5b4";
  const std::string ini = dir.File("user.ini");
  WriteWholeFile(ini, "\xFF\xFE");
  std::wstring wideIni(ini.begin(), ini.end());
  ASSERT_TRUE(WritePrivateProfileStringW(L"Names", L"Name", kText, wideIni.c_str()));
  const std::string iniBefore = ReadWholeFile(ini);
  const char kKey[] = "Software\\QuillsetTest-JournalWide";
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(kText), sizeof kText));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(L"a\0\xd55c\0"), 10));

  ASSERT_EQ(1, log.CreateTempLog());
  ASSERT_EQ(1, log.KeepIniValue(ini.c_str(), "Names", "Name"));
  WritePrivateProfileStringA("Names", "Name", "run", ini.c_str());
  for (const char* name : {"Name", "List"}) {
    ASSERT_EQ(1, log.KeepRegistryValue("HKEY_CURRENT_USER", "Software/QuillsetTest-JournalWide", name));
    ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, "Software/QuillsetTest-JournalWide", name, "run"));
  }
  EXPECT_EQ(0u, RollBack(log).size());

  wchar_t text[64] = L"";
  GetPrivateProfileStringW(L"Names", L"Name", L"", text, 64, wideIni.c_str());
  EXPECT_TRUE(std::wstring(kText) == text) << "code page " << GetACP();
  EXPECT_EQ(iniBefore, ReadWholeFile(ini));
  BYTE data[128];
  DWORD size = sizeof data, type = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Name", NULL, &type, data, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(kText), sizeof kText),
            std::string(reinterpret_cast<const char*>(data), size)) << "code page " << GetACP();
  size = sizeof data;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"List", NULL, &type, data, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(L"a\0\xd55c\0"), 10), std::string(reinterpret_cast<const char*>(data), size));
  RegCloseKey(key);
  RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
}

// An INI file of the user's that the run replaced and then wrote into comes
// back whole: the entry the run wrote is not deleted from the original.
TEST_F(Rollback, AReplacedIniFileComesBackWithItsOwnEntries) {
  OpenSetup(efs, dir, {{"app.ini", "[Settings]\r\nServer=from the setup\r\n"}});
  const std::string ini = dir.File("app.ini");
  WritePrivateProfileStringA("Settings", "Server", "user value", ini.c_str());
  const std::string before = ReadWholeFile(ini);
  ASSERT_EQ(1, log.CreateTempLog());
  ASSERT_EQ(1, efs.ExtractFileLogged("app.ini", ini.c_str(), 1, NULL, 500, &log));
  ASSERT_EQ(1, log.KeepIniValue(ini.c_str(), "Settings", "Server"));
  WritePrivateProfileStringA("Settings", "Server", "written", ini.c_str());
  log.LogIniFileEntryAdded(ini.c_str(), "Settings", "Server");
  EXPECT_EQ(0u, RollBack(log).size());
  EXPECT_EQ(before, ReadWholeFile(ini));
  EXPECT_EQ("user value", IniValue(ini, "Settings", "Server"));
}

// Windows' GetTempFileNameA refuses a folder longer than MAX_PATH - 14
// (Wine's does not): a maker that keeps that rule is never given one, and a
// file is still set aside in a 247-character folder.
UINT WINAPI WindowsTempFileName(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR out) {
  if (strlen(folder) > MAX_PATH - 14) {
    ADD_FAILURE() << "GetTempFileNameA on a folder of " << strlen(folder) << " characters";
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return 0;
  }
  return GetTempFileNameA(folder, prefix, unique, out);
}

TEST_F(Rollback, NamesBesideADeepFileKeepWindowsRule) {
  std::string deep = dir.Path() + "\\";
  while (deep.size() < 247) deep += 'd';
  ASSERT_TRUE(CreateDirectoryA(deep.c_str(), NULL));
  std::vector<std::string> made;
  // up to 248 characters, the longest folder Windows makes
  for (size_t length : {size_t(MAX_PATH - 14), size_t(MAX_PATH - 13), size_t(248)}) {
    SCOPED_TRACE(length);
    std::string folder = dir.Path() + "\\";
    while (folder.size() < length) folder += 'e';
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
    char path[MAX_PATH];
    // twice: the second name is another one
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(1, CreateUniqueFileIn(folder.c_str(), "QSO", path, WindowsTempFileName));
      EXPECT_EQ(0u, std::string(path).find(folder + "\\"));
      EXPECT_LT(strlen(path), size_t(MAX_PATH));
      EXPECT_TRUE(PathExists(path));
      made.push_back(path);
    }
    EXPECT_NE(made[made.size() - 1], made[made.size() - 2]);
    // the system's form where it fits, else a shorter name
    EXPECT_EQ(length + 1 + 11 < MAX_PATH, made.back().substr(made.back().size() - 4) == ".tmp");
  }
  for (const std::string& m : made) DeleteFileA(m.c_str());
  // no room for a name at all
  std::string full = dir.Path() + "\\";
  while (full.size() < MAX_PATH - 2) full += 'f';
  char path[MAX_PATH];
  EXPECT_EQ(0, CreateUniqueFileIn(full.c_str(), "QSO", path, WindowsTempFileName));

  // a reinstall over a file in the deep folder sets it aside there
  OpenSetup(efs, dir, {{"a.txt", "new"}});
  ASSERT_EQ(1, log.CreateTempLog());
  const std::string file = UsersFile(deep + "\\a.txt", "old");
  ASSERT_EQ(1, efs.ExtractFileLogged("a.txt", file.c_str(), 1, NULL, 500, &log));
  EXPECT_EQ(1u, KeptCopies(deep).size());
  EXPECT_EQ(0u, RollBack(log).size());
  EXPECT_EQ("old", ReadWholeFile(file));
  EXPECT_EQ(0u, KeptCopies(deep).size());
}

}  // namespace
