// The self-removal: the command line it gives cmd, and what the real cmd
// does with it when the program to delete is already gone, goes away while
// it loops, or never goes.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "uninstall/SelfRemoval.h"

namespace {

std::string Narrow(const wchar_t* text, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
  return out;
}

// The whole line cmd gets, its switches included: without /d an elevated
// cmd would run the user's AutoRun command, which Wine's cmd never does.
TEST(SelfRemovalCommand, IsTheWholeLineWithItsSwitchesAndFitsOrIsNotWritten) {
  const wchar_t kCmd[] = L"C:\\windows\\system32\\cmd.exe";
  wchar_t text[1024];
  size_t n = FormatSelfRemovalCommand(text, 1024, kCmd, 2);
  const std::string two = Narrow(text, n);
  std::string steps;
  for (const char* wait : {"2", "3", "5", "9", "17", "31"})
    steps += std::string(steps.empty() ? "" : " & ") + "(if exist \"!S!\" (del /f /a \"!S!\" 2>nul & (if exist \"!S!\" \"!P!\" -n " +
             wait + " 127.0.0.1 >nul)))";
  const std::string head = "\"C:\\windows\\system32\\cmd.exe\" /d /q /v:on /s /c \"";
  EXPECT_EQ(head + steps + " & rmdir \"!D1!\" \"!D2!\" 2>nul\"", two);
  EXPECT_EQ(wcslen(text), n);
  // no "%": a path needs no escaping, and nothing of the text is expanded
  // before it is parsed
  EXPECT_EQ(std::string::npos, two.find('%'));

  // a temporary copy outside a private folder leaves its folder alone
  n = FormatSelfRemovalCommand(text, 1024, kCmd, 0);
  EXPECT_EQ(head + steps + "\"", Narrow(text, n));

  n = FormatSelfRemovalCommand(text, 1024, kCmd, SELF_REMOVAL_MAX_FOLDERS);
  EXPECT_NE(std::string::npos, Narrow(text, n).find("\"!D15!\" \"!D16!\" 2>nul\""));
  EXPECT_EQ(0u, FormatSelfRemovalCommand(text, 1024, kCmd, SELF_REMOVAL_MAX_FOLDERS + 1));
  EXPECT_EQ(0u, FormatSelfRemovalCommand(text, 1024, kCmd, -1));

  // a text that does not fit is not cut short: nothing is written out
  EXPECT_EQ(0u, FormatSelfRemovalCommand(text, two.size(), kCmd, 2));
  EXPECT_EQ(L'\0', text[0]);
  EXPECT_EQ(two.size(), FormatSelfRemovalCommand(text, two.size() + 1, kCmd, 2));
}

std::wstring Wide(const std::string& utf8) {
  std::wstring out(utf8.size() + 1, L'\0');
  out.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], static_cast<int>(out.size())) - 1);
  return out;
}

// A path as this process's code page spells it; false when it cannot.
bool InProcessCodePage(const std::wstring& wide, std::string* out) {
  BOOL lossy = FALSE;
  char bytes[MAX_PATH * 4];
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, bytes, sizeof bytes, NULL,
                                    GetACP() == CP_UTF8 ? NULL : &lossy);
  if (n <= 0 || lossy) return false;
  *out = bytes;
  return true;
}

// Starts the self-removal and waits for its cmd; false when it cannot start
// or hangs.
bool RunSelfRemoval(const std::string& exe, std::vector<std::string> folders, DWORD* exitCode = NULL) {
  std::vector<const char*> list;
  for (const std::string& f : folders) list.push_back(f.c_str());
  HANDLE child = StartSelfRemoval(exe.c_str(), list.data(), static_cast<int>(list.size()));
  if (!child) return false;
  // it gives up after about a minute; well past that it hangs
  const bool ended = WaitForSingleObject(child, 90000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(child, 1);
  if (exitCode) GetExitCodeProcess(child, exitCode);
  CloseHandle(child);
  return ended;
}

DWORD WINAPI CloseLater(LPVOID handle) {
  Sleep(1500);
  CloseHandle(static_cast<HANDLE>(handle));
  return 0;
}

// The program's folder and the created ones above it share the rmdir,
// deepest first: each goes once it is empty, a folder with other files stays.
TEST(SelfRemoval, RemovesTheCreatedFoldersAboveTheProgramOnceEmpty) {
  TempFolder dir;
  const std::string co = dir.File("Co"), app = co + "\\App", kept = dir.File("Kept"), keptApp = kept + "\\App";
  for (const std::string& f : {co, app, kept, keptApp}) ASSERT_TRUE(CreateDirectoryA(f.c_str(), NULL));
  WriteWholeFile(app + "\\Uninstall.exe", "program");
  WriteWholeFile(keptApp + "\\Uninstall.exe", "program");
  WriteWholeFile(kept + "\\mine.txt", "the user's");
  ASSERT_TRUE(RunSelfRemoval(app + "\\Uninstall.exe", {app, co})) << "cmd did not end";
  EXPECT_FALSE(PathExists(co));

  ASSERT_TRUE(RunSelfRemoval(keptApp + "\\Uninstall.exe", {keptApp, kept})) << "cmd did not end";
  EXPECT_FALSE(PathExists(keptApp));
  EXPECT_EQ("the user's", ReadWholeFile(kept + "\\mine.txt"));
  // as many folders as it takes, each with a long name
  std::vector<std::string> chain;
  std::string path = dir.Path();
  for (int i = 0; i < SELF_REMOVAL_MAX_FOLDERS; ++i) {
    path += "\\" + std::string(10, static_cast<char>('a' + i));
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), NULL)) << path;
    chain.insert(chain.begin(), path);
  }
  WriteWholeFile(path + "\\Uninstall.exe", "program");
  ASSERT_TRUE(RunSelfRemoval(path + "\\Uninstall.exe", chain)) << "cmd did not end";
  EXPECT_FALSE(PathExists(chain.back()));
}

// Characters cmd gives a meaning to stay what they are: "%x%" expanded or
// "&" splitting the command would name the decoys instead.
// The program is held open (no sharing) for a while, as a process that has
// not yet ended holds its executable.
TEST(SelfRemoval, DeletesTheProgramAndItsFolderWhateverCharactersTheirNamesHold) {
  TempFolder dir;
  SetEnvironmentVariableA("x", "");
  SetEnvironmentVariableA("c", "");
  for (const char* name : {"100 sure", "100", "100%x% sure & (b) ^!c! it's"})
    CreateDirectoryA(dir.File(name).c_str(), NULL);
  for (const char* decoy : {"100 sure\\U.exe", "100\\U.exe"}) WriteWholeFile(dir.File(decoy), "decoy");
  const std::string folder = dir.File("100%x% sure & (b) ^!c! it's");
  const std::string exe = folder + "\\U.exe";
  WriteWholeFile(exe, "program");
  HANDLE held = CreateFileA(exe.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  HANDLE release = CreateThread(NULL, 0, CloseLater, held, 0, NULL);
  const bool ended = RunSelfRemoval(exe, {folder});
  WaitForSingleObject(release, INFINITE);
  CloseHandle(release);
  ASSERT_TRUE(ended) << "cmd did not end";
  EXPECT_FALSE(PathExists(exe));
  EXPECT_FALSE(PathExists(folder));
  for (const char* decoy : {"100 sure\\U.exe", "100\\U.exe"})
    EXPECT_EQ("decoy", ReadWholeFile(dir.File(decoy))) << decoy;
  SetEnvironmentVariableA("x", NULL);
  SetEnvironmentVariableA("c", NULL);

  // names beyond the OEM and ANSI code pages, as far as this process's code
  // page can spell them (all of them under UTF-8)
  int tried = 0;
  for (const char* utf8 : {"Caf\xC3\xA9 \xC3\x86gir", "Price 100\xE2\x82\xAC", "\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD0\xB0 \xE8\xA1\xA8",
                           "\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD0\xB0 \xE8\xA1\xA8 \xF0\x9F\x98\x80"}) {
    std::string name;
    if (!InProcessCodePage(Wide(utf8), &name)) continue;
    ++tried;
    const std::string other = dir.File(name.c_str());
    ASSERT_TRUE(CreateDirectoryA(other.c_str(), NULL)) << utf8;
    WriteWholeFile(other + "\\Uninstall.exe", "program");
    ASSERT_TRUE(RunSelfRemoval(other + "\\Uninstall.exe", {other})) << "cmd did not end";
    EXPECT_FALSE(PathExists(other)) << utf8;
  }
  EXPECT_GT(tried, 0) << "code page " << GetACP() << " spells none of the names";
}

TEST(SelfRemoval, LeavesAFolderThatStillHoldsOtherFilesAndWritesNoFileAnywhere) {
  TempFolder dir;
  const std::string folder = dir.File("App");
  CreateDirectoryA(folder.c_str(), NULL);
  WriteWholeFile(folder + "\\Uninstall.exe", "program");
  WriteWholeFile(folder + "\\my notes.txt", "mine");
  char tempPath[MAX_PATH];
  GetTempPathA(MAX_PATH, tempPath);
  const std::vector<std::string> temp = FilesIn(tempPath);
  const std::vector<std::string> here = FilesIn(dir.Path());
  ASSERT_TRUE(RunSelfRemoval(folder + "\\Uninstall.exe", {folder})) << "cmd did not end";
  EXPECT_FALSE(PathExists(folder + "\\Uninstall.exe"));
  EXPECT_EQ("mine", ReadWholeFile(folder + "\\my notes.txt"));
  // nothing for another process to change before cmd reads it
  EXPECT_EQ(temp, FilesIn(tempPath));
  EXPECT_EQ(here, FilesIn(dir.Path()));
}

// An AutoRun command in the user's registry would run in every cmd the user
// starts, an elevated one too.
TEST(SelfRemoval, RunsNoAutoRunCommand) {
  TempFolder dir;
  const std::string marker = dir.File("autorun.txt");
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Command Processor", 0, NULL, 0,
                                           KEY_ALL_ACCESS, NULL, &key, NULL));
  const std::string autorun = "echo planted>\"" + marker + "\"";
  RegSetValueExA(key, "AutoRun", 0, REG_SZ, reinterpret_cast<const BYTE*>(autorun.c_str()),
                 static_cast<DWORD>(autorun.size() + 1));
  // the same cmd started without /d runs it: the check below can tell
  std::string plain = "cmd.exe /c exit";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child;
  bool honoured = false;
  if (CreateProcessA(NULL, &plain[0], NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &child)) {
    WaitForSingleObject(child.hProcess, 30000);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    honoured = PathExists(marker);
    DeleteFileA(marker.c_str());
  }
  const std::string folder = dir.File("App");
  CreateDirectoryA(folder.c_str(), NULL);
  WriteWholeFile(folder + "\\Uninstall.exe", "program");
  const bool ended = RunSelfRemoval(folder + "\\Uninstall.exe", {folder});
  RegDeleteValueA(key, "AutoRun");
  RegCloseKey(key);
  ASSERT_TRUE(ended) << "cmd did not end";
  EXPECT_FALSE(PathExists(folder));
  EXPECT_FALSE(PathExists(marker));
  if (!honoured) GTEST_SKIP() << "this cmd runs no AutoRun command at all";
}

}  // namespace

namespace {

// A read-only program goes too: a plain "del" leaves it, and the loop
// around it would never end.
TEST(SelfRemoval, DeletesAReadOnlyProgram) {
  TempFolder dir;
  const std::string folder = dir.File("App"), exe = folder + "\\Uninstall.exe";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
  WriteWholeFile(exe, "program");
  ASSERT_TRUE(SetFileAttributesA(exe.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(RunSelfRemoval(exe, {folder})) << "cmd did not end";
  EXPECT_FALSE(PathExists(exe));
  EXPECT_FALSE(PathExists(folder));
}

// A program that can never be deleted (held open without delete sharing the
// whole time): cmd still ends, after about a minute.
TEST(SelfRemoval, GivesUpOnAProgramThatNeverGoes) {
  TempFolder dir;
  const std::string folder = dir.File("App"), exe = folder + "\\Uninstall.exe";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
  WriteWholeFile(exe, "program");
  HANDLE held = CreateFileA(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  const bool ended = RunSelfRemoval(exe, {folder});
  CloseHandle(held);
  EXPECT_TRUE(ended) << "cmd loops on";
  EXPECT_TRUE(PathExists(exe));
}

}  // namespace
