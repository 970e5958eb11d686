// The self-removal's batch file: its exact text, and what the command
// interpreter does with it when the program to delete is already gone or
// goes away while the batch file loops.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "TestSupport.h"
#include "uninstall/SelfRemoval.h"

namespace {

TEST(SelfRemovalBatch, IsCrLfLinesWithPercentSignsDoubled) {
  const char* const ping = "C:\\WINDOWS\\system32\\ping.exe";
  char text[2048];
  size_t n = FormatSelfRemovalBatch(text, sizeof text, "C:\\Program Files\\App\\Uninstall.exe",
                                    "C:\\Program Files\\App", "\\DelUS.bat", ping);
  EXPECT_EQ(
      "set QSTRIES=0\r\n"
      ":Repeat\r\n"
      "del /f /a \"C:\\Program Files\\App\\Uninstall.exe\"\r\n"
      "if not exist \"C:\\Program Files\\App\\Uninstall.exe\" goto Done\r\n"
      "set /a QSTRIES+=1\r\n"
      "if %QSTRIES% geq 60 goto Done\r\n"
      "\"C:\\WINDOWS\\system32\\ping.exe\" -n 2 127.0.0.1 >nul\r\n"
      "goto Repeat\r\n"
      ":Done\r\n"
      "rmdir \"C:\\Program Files\\App\"\r\n"
      "del \"\\DelUS.bat\"\r\n",
      std::string(text, n));
  EXPECT_EQ(strlen(text), n);

  // cmd would read "%x%" in a batch file as a variable and remove some other
  // file or folder; the counter's own "%" stays single
  n = FormatSelfRemovalBatch(text, sizeof text, "C:\\100%x%\\U.exe", "C:\\100%x%", "C:\\T%\\DelUS.bat", ping);
  const std::string escaped(text, n);
  for (const char* line : {"del /f /a \"C:\\100%%x%%\\U.exe\"\r\n", "if not exist \"C:\\100%%x%%\\U.exe\" goto Done\r\n",
                           "rmdir \"C:\\100%%x%%\"\r\n", "del \"C:\\T%%\\DelUS.bat\"\r\n", "if %QSTRIES% geq 60"})
    EXPECT_NE(std::string::npos, escaped.find(line)) << line << " not in\n" << escaped;

  // a temporary copy leaves its folder alone: no rmdir line
  n = FormatSelfRemovalBatch(text, sizeof text, "C:\\Temp\\EXE1.tmp", nullptr, "\\DelUS.bat", ping);
  const std::string noFolder(text, n);
  EXPECT_EQ(std::string::npos, noFolder.find("rmdir"));
  EXPECT_NE(std::string::npos, noFolder.find(":Done\r\ndel \"\\DelUS.bat\"\r\n"));

  // a text that does not fit is not cut short: nothing is written out
  const std::string full = escaped;
  EXPECT_EQ(0u, FormatSelfRemovalBatch(text, full.size(), "C:\\100%x%\\U.exe", "C:\\100%x%", "C:\\T%\\DelUS.bat",
                                       ping));
  EXPECT_EQ(full.size(), FormatSelfRemovalBatch(text, full.size() + 1, "C:\\100%x%\\U.exe", "C:\\100%x%",
                                                "C:\\T%\\DelUS.bat", ping));
}

// Runs the batch file and waits for it; false when it cannot start or hangs.
bool RunBatch(const std::string& batch) {
  std::string command = "\"" + batch + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION child;
  if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &child))
    return false;
  // the batch file gives up after about a minute; well past that it hangs
  const bool ended = WaitForSingleObject(child.hProcess, 90000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(child.hProcess, 1);
  CloseHandle(child.hProcess);
  CloseHandle(child.hThread);
  return ended;
}

std::string SystemPing() {
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  return std::string(system) + "\\ping.exe";
}

DWORD WINAPI CloseLater(LPVOID handle) {
  Sleep(1500);
  CloseHandle(static_cast<HANDLE>(handle));
  return 0;
}

// The program's folder and the created ones above it share the rmdir line,
// deepest first: each goes once it is empty, a folder with other files stays.
TEST(SelfRemovalBatch, RemovesTheCreatedFoldersAboveTheProgramOnceEmpty) {
  TempFolder dir;
  const std::string co = dir.File("Co"), app = co + "\\App", kept = dir.File("Kept"), keptApp = kept + "\\App";
  for (const std::string& f : {co, app, kept, keptApp}) ASSERT_TRUE(CreateDirectoryA(f.c_str(), NULL));
  WriteWholeFile(app + "\\Uninstall.exe", "program");
  WriteWholeFile(keptApp + "\\Uninstall.exe", "program");
  WriteWholeFile(kept + "\\mine.txt", "the user's");
  const std::string folder = dir.Path() + "\\";
  char batch[MAX_PATH];
  const char* folders[] = {app.c_str(), co.c_str()};
  ASSERT_EQ(1, WriteSelfRemovalBatch(folder.c_str(), 0x30, (app + "\\Uninstall.exe").c_str(), folders, 2, batch));
  EXPECT_NE(std::string::npos, ReadWholeFile(batch).find("\r\nrmdir \"" + app + "\" \"" + co + "\"\r\n"));
  ASSERT_TRUE(RunBatch(batch)) << "the batch file did not end";
  EXPECT_FALSE(PathExists(co));
  EXPECT_FALSE(PathExists(batch));

  const char* keptFolders[] = {keptApp.c_str(), kept.c_str()};
  ASSERT_EQ(1, WriteSelfRemovalBatch(folder.c_str(), 0x30, (keptApp + "\\Uninstall.exe").c_str(), keptFolders, 2,
                                     batch));
  ASSERT_TRUE(RunBatch(batch)) << "the batch file did not end";
  EXPECT_FALSE(PathExists(keptApp));
  EXPECT_EQ("the user's", ReadWholeFile(kept + "\\mine.txt"));
}

TEST(SelfRemovalBatch, DeletesTheProgramItsFolderAndItselfEvenWithPercentSignsInThePaths) {
  TempFolder dir;
  // unescaped, "%x%" would expand to nothing and name the decoy instead
  for (const char* name : {"100 sure", "100%x% sure"}) CreateDirectoryA(dir.File(name).c_str(), NULL);
  WriteWholeFile(dir.File("100 sure\\U.exe"), "decoy");
  const std::string folder = dir.File("100%x% sure");
  const std::string exe = folder + "\\U.exe";
  const std::string batch = dir.File("DelUS.bat");
  WriteWholeFile(exe, "program");
  char text[2048];
  const size_t n = FormatSelfRemovalBatch(text, sizeof text, exe.c_str(), folder.c_str(), batch.c_str(), SystemPing().c_str());
  ASSERT_NE(0u, n);
  WriteWholeFile(batch, std::string(text, n));

  // the program is held open (no sharing) until the batch file has looped a
  // while, as a process that has not yet ended holds its executable
  HANDLE held = CreateFileA(exe.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  HANDLE release = CreateThread(NULL, 0, CloseLater, held, 0, NULL);
  ASSERT_TRUE(RunBatch(batch)) << "the batch file did not end";
  WaitForSingleObject(release, INFINITE);
  CloseHandle(release);
  EXPECT_FALSE(PathExists(exe));
  EXPECT_FALSE(PathExists(folder));
  EXPECT_FALSE(PathExists(batch));
  EXPECT_EQ("decoy", ReadWholeFile(dir.File("100 sure\\U.exe")));
}

TEST(SelfRemovalBatch, LeavesAFolderThatStillHoldsOtherFiles) {
  TempFolder dir;
  const std::string folder = dir.File("App");
  CreateDirectoryA(folder.c_str(), NULL);
  WriteWholeFile(folder + "\\Uninstall.exe", "program");
  WriteWholeFile(folder + "\\my notes.txt", "mine");
  const std::string batch = dir.File("DelUS.bat");
  char text[2048];
  const size_t n =
      FormatSelfRemovalBatch(text, sizeof text, (folder + "\\Uninstall.exe").c_str(), folder.c_str(), batch.c_str(),
                             SystemPing().c_str());
  ASSERT_NE(0u, n);
  WriteWholeFile(batch, std::string(text, n));
  ASSERT_TRUE(RunBatch(batch)) << "the batch file did not end";
  EXPECT_FALSE(PathExists(folder + "\\Uninstall.exe"));
  EXPECT_EQ("mine", ReadWholeFile(folder + "\\my notes.txt"));
  EXPECT_FALSE(PathExists(batch));
}

// A batch file that someone else made may still be theirs to write: it is
// never opened, whatever name it has.
TEST(SelfRemovalBatch, IsANewFileOfItsOwnAndNeverOneThatWasPlanted) {
  TempFolder dir;
  const std::string folder = dir.Path() + "\\";
  for (const char* planted : {"DUS0010.bat", "DUS0011.bat", "DUS0012.bat"})
    WriteWholeFile(dir.File(planted), "echo planted > planted.txt\r\n");
  char path[MAX_PATH];
  HANDLE h = CreateUniqueBatchFile(folder.c_str(), 0x10, path);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);
  EXPECT_EQ(dir.File("DUS0013.bat"), path);
  for (const char* planted : {"DUS0010.bat", "DUS0011.bat", "DUS0012.bat"})
    EXPECT_EQ("echo planted > planted.txt\r\n", ReadWholeFile(dir.File(planted))) << planted;
  // the numbers wrap around instead of running out at FFFF
  h = CreateUniqueBatchFile(folder.c_str(), 0xFFFF, path);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);
  EXPECT_EQ(dir.File("DUSFFFF.bat"), path);
  h = CreateUniqueBatchFile(folder.c_str(), 0xFFFF, path);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);
  EXPECT_EQ(dir.File("DUS0000.bat"), path);

  // written for a program: a new file each time, with the system's own ping
  WriteWholeFile(dir.File("U.exe"), "program");
  char first[MAX_PATH], second[MAX_PATH];
  ASSERT_EQ(1, WriteSelfRemovalBatch(folder.c_str(), 0x10, dir.File("U.exe").c_str(), NULL, first));
  ASSERT_EQ(1, WriteSelfRemovalBatch(folder.c_str(), 0x10, dir.File("U.exe").c_str(), NULL, second));
  EXPECT_STRNE(first, second);
  char text[2048];
  const size_t n = FormatSelfRemovalBatch(text, sizeof text, dir.File("U.exe").c_str(), nullptr, first,
                                          SystemPing().c_str());
  EXPECT_EQ(std::string(text, n), ReadWholeFile(first));
}

// cmd reads the batch file in the OEM code page, not in the ANSI one the
// program holds its paths in.
TEST(SelfRemovalBatch, RemovesAProgramAndFolderWhoseNamesAreNotAscii) {
  if (GetACP() != 1252) GTEST_SKIP() << "the names below are in code page 1252, not " << GetACP();
  TempFolder dir;
  const std::string folder = dir.File("Caf\xE9 \xC6gir");  // "Café Ægir"
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
  const std::string exe = folder + "\\Uninstall.exe";
  WriteWholeFile(exe, "program");
  char batch[MAX_PATH];
  ASSERT_EQ(1, WriteSelfRemovalBatch((dir.Path() + "\\").c_str(), 0x20, exe.c_str(), folder.c_str(), batch));
  ASSERT_TRUE(RunBatch(batch)) << "the batch file did not end";
  EXPECT_FALSE(PathExists(exe));
  EXPECT_FALSE(PathExists(folder));
  EXPECT_FALSE(PathExists(batch));

  // a name the OEM code page lacks ("€") goes by its short name
  const std::string euro = dir.File("Price 100\x80");
  ASSERT_TRUE(CreateDirectoryA(euro.c_str(), NULL));
  WriteWholeFile(euro + "\\Uninstall.exe", "program");
  ASSERT_EQ(1, WriteSelfRemovalBatch((dir.Path() + "\\").c_str(), 0x20, (euro + "\\Uninstall.exe").c_str(),
                                     euro.c_str(), batch));
  EXPECT_EQ(std::string::npos, ReadWholeFile(batch).find('\x80'));
  ASSERT_TRUE(RunBatch(batch)) << "the batch file did not end";
  EXPECT_FALSE(PathExists(euro));
  EXPECT_FALSE(PathExists(batch));
}

}  // namespace

namespace {

// A read-only program goes too: a plain "del" leaves it, and the loop
// around it would never end.
TEST(SelfRemovalBatch, DeletesAReadOnlyProgram) {
  TempFolder dir;
  const std::string folder = dir.File("App"), exe = folder + "\\Uninstall.exe";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
  WriteWholeFile(exe, "program");
  ASSERT_TRUE(SetFileAttributesA(exe.c_str(), FILE_ATTRIBUTE_READONLY));
  char batch[MAX_PATH];
  ASSERT_EQ(1, WriteSelfRemovalBatch((dir.Path() + "\\").c_str(), 0x40, exe.c_str(), folder.c_str(), batch));
  ASSERT_TRUE(RunBatch(batch)) << "the batch file did not end";
  EXPECT_FALSE(PathExists(exe));
  EXPECT_FALSE(PathExists(folder));
  EXPECT_FALSE(PathExists(batch));
}

// A program that can never be deleted (held open without delete sharing the
// whole time): the batch file still ends, and removes itself.
TEST(SelfRemovalBatch, GivesUpOnAProgramThatNeverGoesAndDeletesItselfAnyway) {
  TempFolder dir;
  const std::string folder = dir.File("App"), exe = folder + "\\Uninstall.exe";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
  WriteWholeFile(exe, "program");
  HANDLE held = CreateFileA(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  char batch[MAX_PATH];
  ASSERT_EQ(1, WriteSelfRemovalBatch((dir.Path() + "\\").c_str(), 0x50, exe.c_str(), folder.c_str(), batch));
  const bool ended = RunBatch(batch);
  CloseHandle(held);
  EXPECT_TRUE(ended) << "the batch file loops on";
  EXPECT_TRUE(PathExists(exe));
  EXPECT_FALSE(PathExists(batch));
}

}  // namespace
