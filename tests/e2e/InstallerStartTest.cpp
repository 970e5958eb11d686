// The installer opening its own container: the project script and the
// translation table come out with their CRC checked, and every temporary
// file the run made is gone when it ends.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "../win32/TestSupport.h"
#include "../win32/Robot.h"
#include "TestPaths.h"
#include "efs/ExeFileSystem.h"

namespace {

std::vector<std::string> TempFiles() {
  std::vector<std::string> all;
  for (const char* p : {"QSP*.tmp", "TRA*.tmp", "UNI*.tmp"}) {
    std::vector<std::string> some = TempFilesMatching(p);
    all.insert(all.end(), some.begin(), some.end());
  }
  std::sort(all.begin(), all.end());
  return all;
}

// A setup file made from the real setup program with the given entries
// (stored, so that a test can corrupt their bytes in place).
std::string BuildSetup(const TempFolder& dir, std::vector<SetupSource> files) {
  for (SetupSource& f : files) f.Stored = true;
  const std::string out = dir.File("Setup.exe");
  BuildSetupOf(QS_STUB_PATH, dir.File("src"), files, out);
  return out;
}

void FlipByteOf(const std::string& setup, const char* entry) {
  CExeFileSystem efs;
  efs.Open(setup.c_str());
  std::string bytes = ReadWholeFile(setup);
  bytes[efs.FindEntry(entry)->DataOffset] ^= 0x20;
  efs.Close();  // the reader holds the file while open
  WriteWholeFile(setup, bytes);
}

// Runs the setup file; returns the texts of the "Error" boxes it showed.
std::vector<std::string> RunCollectingErrors(const std::string& setup, DWORD* exitCode) {
  Robot robot;
  std::vector<std::string> texts;
  if (!robot.Start("\"" + setup + "\"")) {
    ADD_FAILURE() << "cannot start " << setup;
    return texts;
  }
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, robot.Pid());
  DWORD start = GetTickCount();
  while (WaitForSingleObject(process, 50) == WAIT_TIMEOUT && GetTickCount() - start < 30000) {
    if (robot.FindWindowNow("#32770", "Error")) texts.push_back(robot.AnswerMessageBox("Error", IDOK, 2000));
  }
  CloseHandle(process);
  robot.WaitForExit(5000, exitCode);
  return texts;
}

const char kScript[] = "QSP40\r\n[Global]\r\nApplicationName=Example\r\n";
const char kTable[] = "[Strings]\r\nERROR=Error\r\n";
const char kUnspecified[] = "An unspecified error occurred. The installation will be terminated.";

TEST(InstallerStart, ACorruptScriptIsReportedOnceAndLeavesNoTemporaryFile) {
  TempFolder dir;
  std::string setup = BuildSetup(dir, {{"default.qsp", kScript}, {"Translations.ini", kTable}});
  FlipByteOf(setup, "default.qsp");
  std::vector<std::string> before = TempFiles();
  DWORD code = 0;
  std::vector<std::string> texts = RunCollectingErrors(setup, &code);
  EXPECT_EQ(std::vector<std::string>{"The installation file is corrupt.\nDefault.qsp failed on CRC check."}, texts);
  EXPECT_EQ(3u, code) << "damaged";
  EXPECT_EQ(before, TempFiles());
}

TEST(InstallerStart, MissingOrCorruptEntriesNameWhatFailed) {
  TempFolder dir;
  struct Case { const char* what; std::vector<SetupSource> files; const char* corrupt; const char* text; } cases[] = {
      {"no script", {{"Translations.ini", kTable}}, nullptr, "Failed to copy default.qsp to the temp directory."},
      {"no table", {{"default.qsp", kScript}}, nullptr, "Failed to copy Translations.ini to the temp directory."},
      {"corrupt table", {{"default.qsp", kScript}, {"Translations.ini", kTable}}, "Translations.ini",
       "The installation file is corrupt.\nTranslations.ini failed on CRC check."},
      {"not a script", {{"default.qsp", "QSP4\r\n[Global]\r\n"}, {"Translations.ini", kTable}}, nullptr,
       "Failed to load default.qsp."},
  };
  for (const Case& c : cases) {
    TempFolder one;
    std::string setup = BuildSetup(one, c.files);
    if (c.corrupt) FlipByteOf(setup, c.corrupt);
    std::vector<std::string> before = TempFiles();
    DWORD code = 0;
    std::vector<std::string> texts = RunCollectingErrors(setup, &code);
    EXPECT_EQ(std::vector<std::string>{c.text}, texts) << c.what;
    EXPECT_EQ(0, std::count(texts.begin(), texts.end(), std::string(kUnspecified))) << c.what;
    EXPECT_EQ(c.corrupt ? 3u : 1u, code) << c.what;
    EXPECT_EQ(before, TempFiles()) << c.what;
  }
}

TEST(InstallerStart, ATamperedDirectoryIsAnUnspecifiedError) {
  TempFolder dir;
  std::string setup = BuildSetup(dir, {{"default.qsp", kScript}, {"Translations.ini", kTable}});
  std::string bytes = ReadWholeFile(setup);
  bytes[bytes.size() - 24] = (char)0x7F;  // a count the directory cannot hold
  WriteWholeFile(setup, bytes);
  std::vector<std::string> before = TempFiles();
  DWORD code = 0;
  EXPECT_EQ(std::vector<std::string>{kUnspecified}, RunCollectingErrors(setup, &code));
  EXPECT_EQ(before, TempFiles());
}


std::string EnglishTable() { return ReadWholeFile(QS_SOURCE_DIR "\\translations\\English.ini"); }

TEST(InstallerStart, TheGlobalSettingsComeFromTheScriptAndTheTranslatedTable) {
  struct Case { const char* script; std::string text; } cases[] = {
      {"QSP40\r\n[Global]\r\nDefaultDir = C:\\x\r\n",
       "The QSP file Global section defines no ApplicationName."},
      {"QSP40\r\n[Global]\r\nApplicationName = Example App\r\nDefaultDir = %MAINDIR%Example App\r\n",
       "An unspecified error occurred. The installation will be terminated."},
  };
  for (const Case& c : cases) {
    TempFolder one;
    std::string setup = BuildSetup(one, {{"default.qsp", c.script}, {"Translations.ini", EnglishTable()}});
    std::vector<std::string> before = TempFiles();
    DWORD code = 0;
    EXPECT_EQ(std::vector<std::string>{c.text}, RunCollectingErrors(setup, &code)) << c.script;
    EXPECT_NE(0u, code);
    EXPECT_EQ(before, TempFiles());
  }
}

}  // namespace
