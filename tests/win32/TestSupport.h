// Small helpers for tests that run under Wine.
#pragma once
#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/FrontEnd.h"
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

// A front end of the given mode that keeps what a run tells it (from any
// thread); questions take their answer for nobody there, or `answer`.
// `during` runs (on the worker's thread) at every wait for a disk.
class CRecordingFrontEnd : public CFrontEnd {
 public:
  explicit CRecordingFrontEnd(DisplayMode mode = DISPLAY_FULL) : m_Mode(mode) {}
  DisplayMode Mode() const override { return m_Mode; }
  void ShowFailure(HWND owner, const char* text, const char*, UINT) override {
    std::lock_guard<std::mutex> lock(m_Lock);
    Failures.push_back(text);
    Owners.push_back(owner);
  }
  int Ask(HWND, const char* text, const char*, UINT, int unattended) override {
    std::lock_guard<std::mutex> lock(m_Lock);
    Questions.push_back(text);
    return answer ? answer : unattended;
  }
  void Progress(int percent, const char*) override {
    std::lock_guard<std::mutex> lock(m_Lock);
    Percents.push_back(percent);
  }
  void AwaitDisk(int disk) override {
    {
      std::lock_guard<std::mutex> lock(m_Lock);
      Awaited.push_back(disk);
    }
    during(*this);
  }
  void DiskFound(int disk) override {
    std::lock_guard<std::mutex> lock(m_Lock);
    Found.push_back(disk);
  }
  void RunEnded(RunEnding ending) override { Endings.push_back(ending); }

  bool AskedFor(int disk) const {
    for (int d : Awaited)
      if (d == disk) return true;
    return false;
  }
  // rising, never past 100, and at 100 in the end
  bool ProgressWhole() const {
    for (size_t i = 1; i < Percents.size(); ++i)
      if (Percents[i] < Percents[i - 1]) return false;
    return !Percents.empty() && Percents.back() == 100;
  }

  int answer = 0;
  std::function<void(CRecordingFrontEnd&)> during = [](CRecordingFrontEnd&) {};
  std::vector<std::string> Failures, Questions;
  std::vector<HWND> Owners;
  std::vector<int> Percents, Awaited, Found;
  std::vector<RunEnding> Endings;

 private:
  DisplayMode m_Mode;
  std::mutex m_Lock;
};

// Whether this process has the administrators' rights (under Wine it has):
// the setup programs it starts run elevated then.
bool TestIsAdministrator();

// The system's list of renames at the restart (PendingFileRenameOperations)
// as its bytes; "" when there is none.
std::string PendingRenames();

// That list as it was before a test: what the test schedules must not
// happen to the prefix.
class KeptPendingRenames {
 public:
  KeptPendingRenames() : m_Value(PendingRenames()) {}
  ~KeptPendingRenames();

 private:
  std::string m_Value;
};

// Takes from everyone the right to add to that list (the key's access
// rules, which Wine's server enforces as Windows does), as a standard user
// lacks it; gives the old rules back at the end.
class NoRightsToSchedule {
 public:
  NoRightsToSchedule();
  ~NoRightsToSchedule();
  // Whether the rights are really gone.
  bool Taken() const;

 private:
  HKEY m_Key = NULL;
  PSECURITY_DESCRIPTOR m_Old = NULL;
  ACL* m_OldDacl = NULL;
  PSID m_Everyone = NULL;
  alignas(8) BYTE m_Acl[256];
  bool m_Taken = false;
};
