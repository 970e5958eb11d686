// Small helpers for tests that run under Wine.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/TestData.h"

class CEfsDirectory;

// A fresh folder under the temporary directory, removed with its files.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& Path() const { return m_Path; }
  std::string File(const char* name) const { return m_Path + "\\" + name; }

 private:
  std::string m_Path;
};

bool PathExists(const std::string& path);
// Removes folder and all in it, read-only files too; by the wide calls,
// for names the ANSI code page cannot spell.
void RemoveTree(const std::wstring& folder);
// The names in folder, not below it, sorted.
std::vector<std::string> FilesIn(const std::string& folder);
// Calls visit for every file and folder below root, a folder before what
// it holds; the find data tells which is which.
void WalkTree(const std::string& root,
              const std::function<void(const std::string& path, const WIN32_FIND_DATAA& found)>& visit);
// Last-write time in 100-ns units; 0 when the file cannot be read.
unsigned long long WriteTime(const std::string& path);
// Sets all three of the file's times to {low, high}.
void SetWriteTime(const std::string& path, DWORD high, DWORD low = 0x12345600);
// Whether the registry key exists.
bool KeyExists(const std::string& path, HKEY root = HKEY_CURRENT_USER);
// A file time as sixteen hex digits, for comparing times as text.
std::string FileTimeText(const FILETIME& t);
// Names matching pattern (e.g. "UNI*.tmp") in the temporary directory.
std::vector<std::string> TempFilesMatching(const char* pattern);
// The setup files the tests build are zlib ones, or solid LZMA ones in the
// LZMA lanes (QS_TEST_COMPRESSION=lzma, set by ctest).
bool TestsUseLzma();
// "zlib" or "lzma", for quillset build --compression.
const char* TestCompression();
// This lane's method, EFS_METHOD_ZLIB or EFS_METHOD_LZMA.
EfsMethod TestMethod();
// The directory of a setup file's bytes; false when it is not sound.
bool ReadSetupDirectory(const std::string& setup, CEfsDirectory* dir);
// Where to damage entry `name` of a setup file's bytes, `into` bytes into
// its data: in its own stream, or where its content lies in the solid one
// (estimated by the stream's ratio).
size_t StoredByteOf(const std::string& setup, const char* name, size_t into);

// Fills the drive of path (the small drive Q:) to its last page with that
// one file.
void FillSmallDrive(const std::string& path);

// A hidden top-level window of class name (registered on first use) that
// proc answers: a stand-in for a front end. NULL when it cannot be made.
HWND ProbeWindow(const char* name, WNDPROC proc);

// How many cmd.exe processes run now (a self-removal runs in one); -1 when
// that cannot be told.
int RunningCommandInterpreters();

// Runs a console program to its end with its output in `output`; its exit
// code, 999 when it cannot start or does not end within `timeout` ms.
DWORD RunToFile(std::string line, const std::string& output, DWORD timeout = 60000);

// The button of a message box that Enter presses: the one drawn as the
// default, which has the focus when the box opens; 0 when none.
int DefaultButton(HWND box);

// The program-files folder as the registry of this prefix names it.
std::string ProgramFilesDir();

// The ANSI code page this run's lane gives Wine (QS_CODE_PAGE_LANE, set by
// ctest with a matching LC_ALL), or 0 outside the code-page lanes. There a
// test that needs that code page and cannot get it fails instead of skipping.
int CodePageLane();

// Skips a test that needs code page cp outside cp's lane, fails it inside,
// when the condition does not hold.
#define REQUIRE_CODE_PAGE(cp, condition, why)                          \
  do {                                                                 \
    if (!(condition)) {                                                \
      if (CodePageLane() == (cp)) FAIL() << why;                       \
      GTEST_SKIP() << why;                                             \
    }                                                                  \
  } while (0)
