// Setup files whose compressed data is damaged, zlib and solid LZMA: the
// user reads the damaged-file text (never "could not be found"), the run is
// rolled back, ends with the exit code of a damaged file, and nothing of it
// remains. And a solid setup whose entries
// are read out of the stream's order still installs every file whole.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "../win32/Robot.h"
#include "../win32/TestSupport.h"
#include "E2eSupport.h"
#include "EnglishText.h"
#include "TestPaths.h"
#include "efs/EfsDirectory.h"
#include "efs/EfsFormat.h"
#include "resources/resource.h"

namespace {

class DamagedStream : public ::testing::Test {
 protected:
  TempFolder dir;
  std::string target;
  Robot robot;

  void SetUp() override { target = dir.File("Damaged App"); }

  std::string Script(const std::string& files) {
    return "QSP40\r\n[Global]\r\nApplicationName = Damaged App\r\nDefaultDir = " + target +
           "\r\n[Files]\r\n" + files;
  }

  // The script and the table first, as the command orders them, or last;
  // the files in `order` (indexes into files).
  std::string Build(EfsMethod method, const std::string& script, const std::vector<SetupSource>& files,
                    const std::vector<int>& order, bool scriptLast = false) {
    std::vector<SetupSource> ordered;
    for (int i : order) ordered.push_back(files[i]);
    SetupOptions options;
    options.Method = method;
    options.ScriptLast = scriptLast;
    return BuildSetupFile(dir, script, ordered, options);
  }

  // Walks to the installing page and answers the one error box; the text it
  // showed. The program must end and leave nothing behind.
  std::string InstallDamaged(const std::string& setup) {
    const std::vector<std::string> temp = TempFilesMatching("*.tmp");
    HWND w = StartSetup(robot, setup);
    if (!w) {
      ADD_FAILURE() << "no welcome page\n" << robot.WindowTree();
      return "";
    }
    for (const char* page : {"CHOOSE_DESITNATION_LOCATION", "START_INSTALLATION", "INSTALLING"}) {
      EXPECT_TRUE(Robot::Press(w, IDC_NEXT)) << page;
      w = robot.WaitForWindow("#32770", En(page).c_str(), 20000);
      if (!w) return "";
    }
    const std::string shown = robot.AnswerMessageBox(En("ERROR").c_str(), IDOK, 30000);
    DWORD code = 99;
    EXPECT_TRUE(robot.WaitForExit(30000, &code));
    EXPECT_EQ(3u, code) << "damaged, not failed";
    EXPECT_FALSE(PathExists(target)) << "left behind: " << ::testing::PrintToString(FilesIn(target));
    EXPECT_EQ(temp, TempFilesMatching("*.tmp"));
    return shown;
  }
};

// zlib: a flip inside the deflate data of the large entry. Most flips make
// the stream itself invalid, some only fail the CRC: both are damage.
TEST_F(DamagedStream, AZlibEntryWhoseStreamIsDamagedIsReportedAsDamaged) {
  const std::vector<SetupSource> files = {{"first.txt", WordText(20000, 1)}, {"large.txt", WordText(400000, 2)}};
  for (size_t into : {size_t(2), size_t(5000), size_t(30000)}) {
    SCOPED_TRACE(into);
    const std::string setup = Build(EFS_METHOD_ZLIB, Script("first.txt, %MAINDIR%first.txt\r\n"
                                                            "large.txt, %MAINDIR%data\\large.txt\r\n"),
                                    files, {0, 1});
    std::string bytes = ReadWholeFile(setup);
    bytes[StoredByteOf(bytes, "large.txt", into)] ^= 0x08;
    WriteWholeFile(setup, bytes);
    EXPECT_EQ(En("INSTALLATION_FILE_IS_CORRUPT"), InstallDamaged(setup));
  }
}

// Solid LZMA: 20 flips spread over the payload's part of the stream; each
// damaged copy says so, rolls back and leaves nothing.
TEST_F(DamagedStream, ASolidStreamDamagedAnywhereInItsPayloadIsReportedAsDamaged) {
  const std::vector<SetupSource> files = {
      {"one.txt", WordText(60000, 3)}, {"two.bin", RandomBytes(120000, 4)}, {"three.txt", WordText(90000, 5)}};
  const std::string setup = Build(EFS_METHOD_LZMA,
                                  Script("one.txt, %MAINDIR%one.txt\r\ntwo.bin, %MAINDIR%sub\\two.bin\r\n"
                                         "three.txt, %MAINDIR%three.txt\r\n"),
                                  files, {0, 1, 2});
  const std::string good = ReadWholeFile(setup);
  // the payload starts where one.txt does; the stream ends before the
  // directory's own stream
  const size_t from = StoredByteOf(good, "one.txt", 0) + 64;
  CEfsDirectory d;
  ASSERT_TRUE(ReadSetupDirectory(good, &d));
  const size_t to = (size_t)(d.Header().DataOffset + d.Header().StreamSize) - 1;
  ASSERT_LT(from, to);
  for (int k = 0; k < 20; ++k) {
    const size_t at = from + (to - from) * k / 19;
    SCOPED_TRACE(at);
    std::string bytes = good;
    bytes[at] ^= (char)(0x01 << (k % 8));
    WriteWholeFile(setup, bytes);
    EXPECT_EQ(En("INSTALLATION_FILE_IS_CORRUPT"), InstallDamaged(setup));
  }
}

// The stream holds the table and the script last and the files in another
// order than [Files] reads them, which also names one entry twice: every
// read behind the decoder starts the stream over, and every file comes out
// whole. The uninstaller then takes it all away.
TEST_F(DamagedStream, SolidEntriesReadOutOfOrderStillInstallWhole) {
  const std::vector<SetupSource> files = {{"a.txt", WordText(70000, 6)}, {"b.bin", RandomBytes(50000, 7)},
                                          {"c.txt", WordText(3000, 8)}};
  const std::string setup =
      Build(EFS_METHOD_LZMA,
            Script("c.txt, %MAINDIR%c.txt\r\na.txt, %MAINDIR%first\\a.txt\r\nb.bin, %MAINDIR%b.bin\r\n"
                   "a.txt, %MAINDIR%second\\a.txt\r\n"),
            files, {1, 0, 2}, true);
  HWND w = StartSetup(robot, setup);
  ASSERT_TRUE(w) << robot.WindowTree();
  InstallWithDefaults(robot, w);
  EXPECT_EQ(files[2].Content, ReadWholeFile(target + "\\c.txt"));
  EXPECT_EQ(files[0].Content, ReadWholeFile(target + "\\first\\a.txt"));
  EXPECT_EQ(files[0].Content, ReadWholeFile(target + "\\second\\a.txt"));
  EXPECT_EQ(files[1].Content, ReadWholeFile(target + "\\b.bin"));
  Robot un;
  UninstallWithYes(un, target + "\\Uninstall.exe", target);
  robot.WaitUntil([&] { return !PathExists(target); }, 20000, "the folder going");
  EXPECT_FALSE(PathExists(target));
}

}  // namespace
