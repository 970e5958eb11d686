// Setup files as downloads bring them: signed by their publisher, which must
// install as before and leave an unsigned uninstaller, and cut short, which
// must say so once and leave nothing behind instead of waiting for a disk.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../FakeSignature.h"
#include "../win32/Robot.h"
#include "../win32/TestSupport.h"
#include "E2eSupport.h"
#include "EnglishText.h"
#include "TestPaths.h"
#include "efs/EfsFormat.h"
#include "efs/PeImage.h"

namespace {

const char kDamaged[] = "The installation file is damaged or incomplete. Please obtain it again.";
const DWORD kTimeout = 20000;

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }
std::string Sig(const unsigned char* s) { return std::string((const char*)s, 16); }

// The temporary folder of this process and of what it starts, private to
// one test: it must end empty.
class PrivateTemp {
 public:
  explicit PrivateTemp(const TempFolder& dir) : Path(dir.File("temp")) {
    CreateDirectoryA(Path.c_str(), NULL);
    m_Tmp = Env("TMP");
    m_Temp = Env("TEMP");
    SetEnvironmentVariableA("TMP", Path.c_str());
    SetEnvironmentVariableA("TEMP", Path.c_str());
  }
  ~PrivateTemp() {
    SetEnvironmentVariableA("TMP", m_Tmp.empty() ? NULL : m_Tmp.c_str());
    SetEnvironmentVariableA("TEMP", m_Temp.empty() ? NULL : m_Temp.c_str());
  }
  const std::string Path;

 private:
  static std::string Env(const char* name) {
    char value[MAX_PATH] = "";
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n && n < sizeof value ? value : "";
  }
  std::string m_Tmp, m_Temp;
};

// A setup file of the real setup program that installs payload.bin into
// `target`.
std::string BuildSetup(const TempFolder& dir, const std::string& target, const std::string& payload) {
  return BuildSetupFile(dir,
                        "QSP40\r\n[Global]\r\nApplicationName = Cut App\r\nDefaultDir = " + target +
                            "\r\n[Files]\r\npayload.bin, %MAINDIR%payload.bin\r\n",
                        {{"payload.bin", payload, true}});
}

// Starts a damaged file: one "Error" box with the damaged text and no other
// window, then an end with a failure code once it is answered.
void ExpectDamagedMessageOnly(const std::string& exe) {
  Robot robot;
  ASSERT_TRUE(robot.Start(Quoted(exe)));
  RobotMessageBox box = robot.WaitForMessageBox("Error", kTimeout);
  ASSERT_TRUE(box.Window) << robot.WindowTree();
  EXPECT_EQ(kDamaged, box.Text);
  EXPECT_EQ(std::vector<std::string>{"OK"}, box.Buttons);
  EXPECT_EQ(1u, robot.TopLevelWindows(true).size()) << robot.WindowTree();
  ASSERT_TRUE(robot.Answer(box, IDOK));
  DWORD code = 0;
  // a second box, or a join window, would keep it from ending
  ASSERT_TRUE(robot.WaitForExit(kTimeout, &code)) << robot.WindowTree();
  EXPECT_EQ(3u, code) << "a damaged file must not end like a success";
}

TEST(Damaged, ASetupFileCutShortSaysSoOnceAndLeavesNothingBehind) {
  TempFolder dir;
  PrivateTemp temp(dir);
  const std::string target = dir.File("Cut App");
  const std::string setup = BuildSetup(dir, target, RandomBytes(60000, 11));
  const std::string whole = ReadWholeFile(setup);
  const size_t stub = ReadWholeFile(QS_STUB_PATH).size();
  std::string signedWhole = whole;
  ASSERT_TRUE(AppendFakeCertificate(signedWhole, 2400));
  struct Cut { const char* where; const std::string& from; size_t size; } cuts[] = {
      {"in the data area", whole, stub + 30000},
      {"in the directory", whole, whole.size() - 30},
      {"in the trailer", whole, whole.size() - 4},
      {"signed, in the certificate table", signedWhole, signedWhole.size() - 1200},
  };
  for (const Cut& c : cuts) {
    SCOPED_TRACE(c.where);
    const std::string exe = dir.File("Cut Setup.exe");
    WriteWholeFile(exe, c.from.substr(0, c.size));
    ExpectDamagedMessageOnly(exe);
    EXPECT_EQ(std::vector<std::string>(), FilesIn(temp.Path)) << "nothing copied, no log left";
    EXPECT_FALSE(PathExists(target));
  }
}

// A first slice carries the record of its slices behind the program; the
// bare program, signed or not, names none and could join anyone's: it is
// refused as damaged, before anything is copied.
TEST(Damaged, ABareProgramSignedOrNotIsNoFirstSliceAndJoinsNothing) {
  std::string signedStub = ReadWholeFile(QS_STUB_PATH);
  ASSERT_TRUE(AppendFakeCertificate(signedStub, 2400));
  for (const std::string& bytes : {ReadWholeFile(QS_STUB_PATH), signedStub}) {
    TempFolder dir;
    PrivateTemp temp(dir);
    const std::string exe = dir.File("Setup.exe");
    WriteWholeFile(exe, bytes);
    WriteWholeFile(dir.File("Setup.001"), RandomBytes(3000, 5) + Sig(InstallerSignature));
    ExpectDamagedMessageOnly(exe);
    EXPECT_EQ(std::vector<std::string>(), FilesIn(temp.Path)) << "nothing copied, no log left";
    EXPECT_FALSE(FindWindowA("#32770", "Setup")) << "a join window came up";
  }
}

// --- signed with osslsigncode (tests/e2e/make-signed-setups.sh) -----------

const char kSigned[] = QS_SIGNED_DIR;
const char kFolder[] = "C:\\QuillsetTest Signed";
const char kKey[] = "Software\\QuillsetTest-Signed";

PeDirectory SecurityEntry(const std::string& bytes) {
  PeHeaders h;
  PeDirectory none = {0, 0};
  if (!ReadPeHeaders((const unsigned char*)bytes.data(), bytes.size(), &h)) return none;
  return h.Directories[PE_DIRECTORY_SECURITY];
}

std::string RegistryValue() {
  HKEY k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &k) != ERROR_SUCCESS) return "<none>";
  char value[MAX_PATH] = "";
  DWORD size = sizeof value;
  LONG r = RegQueryValueExA(k, "InstallDir", NULL, NULL, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(k);
  return r == ERROR_SUCCESS ? value : "<none>";
}

void CleanUp() {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
}

TEST(SignedSetup, InstallsAsItIsAndLeavesAnUnsignedUninstallerThatTakesAllAway) {
  CleanUp();
  ASSERT_FALSE(PathExists(kFolder));
  TempFolder dir;
  const std::string setup = dir.File("Signed Setup.exe");
  const std::string bytes = ReadWholeFile(std::string(kSigned) + "\\Signed.exe");
  ASSERT_FALSE(bytes.empty()) << "no signed setup file in " << kSigned;
  WriteWholeFile(setup, bytes);
  const PeDirectory table = SecurityEntry(bytes);
  ASSERT_NE(0u, table.Size) << "not signed";
  ASSERT_EQ(bytes.size(), (size_t)table.Address + table.Size) << "the table does not end the file";

  // the command sees the signature and a sound container under it
  const std::string report = dir.File("verify.txt");
  EXPECT_EQ(0u, RunToFile(Quoted(QS_BUILD_DIR "\\quillset.exe") + " verify " + Quoted(setup), report))
      << ReadWholeFile(report);
  const std::string verified = ReadWholeFile(report);
  EXPECT_NE(std::string::npos, verified.find("signed, certificate table of " + std::to_string(table.Size) + " bytes"))
      << verified;
  EXPECT_NE(std::string::npos, verified.find(std::string("all 4 entries are sound (") + QS_ARCH + " setup program)"))
      << verified;

  Robot robot;
  HWND w = StartSetup(robot, setup, kTimeout);
  ASSERT_TRUE(w);
  ASSERT_NO_FATAL_FAILURE(InstallWithDefaults(robot, w));

  const std::string folder = kFolder;
  EXPECT_TRUE(ReadWholeFile(folder + "\\payload.bin") == ReadWholeFile(std::string(kSigned) + "\\project\\payload.bin"));
  EXPECT_EQ("Signed and installed.\r\n", ReadWholeFile(folder + "\\docs\\readme.txt"));
  EXPECT_EQ(folder + "\\", RegistryValue());
  // the bare program and the uninstaller's signature: no table, no entry
  // naming one, no checksum of the signed file
  const std::string uninstaller = ReadWholeFile(folder + "\\Uninstall.exe");
  const PeDirectory entry = SecurityEntry(uninstaller);
  EXPECT_EQ(0u, entry.Address);
  EXPECT_EQ(0u, entry.Size);
  EXPECT_TRUE(uninstaller == WithoutChecksum(ReadWholeFile(QS_STUB_PATH)) + Sig(UninstallerSignature));

  Robot un;
  ASSERT_NO_FATAL_FAILURE(UninstallWithYes(un, folder + "\\Uninstall.exe", dir.Path()));
  EXPECT_TRUE(un.WaitUntil([&] { return !PathExists(kFolder) && RunningCommandInterpreters() == 0; }, kTimeout,
                           "the installation folder's removal"));
  EXPECT_EQ("<none>", RegistryValue());
  CleanUp();
}

// Built with --sign: the setup installs the uninstaller the build signed
// (make-signed-setups.sh had osslsigncode verify it against the test
// certificate), and that uninstaller takes all away, asked and silent.
TEST(SignedSetup, BuiltWithSignItInstallsItsSignedUninstallerWhichTakesAllAway) {
  CleanUp();
  ASSERT_FALSE(PathExists(kFolder));
  const std::string image = ReadWholeFile(std::string(kSigned) + "\\sign\\Uninstall.exe");
  ASSERT_FALSE(image.empty()) << "no setup built with --sign in " << kSigned;
  const PeDirectory imageTable = SecurityEntry(image);
  ASSERT_NE(0u, imageTable.Size) << "the stored uninstaller is not signed";
  TempFolder dir;
  const std::string folder = kFolder;
  const std::string setup = dir.File("Signed Setup.exe");
  WriteWholeFile(setup, ReadWholeFile(std::string(kSigned) + "\\sign\\Setup.exe"));
  ASSERT_NE(0u, SecurityEntry(ReadWholeFile(setup)).Size) << "the setup file is not signed";

  Robot robot;
  HWND w = StartSetup(robot, setup, kTimeout);
  ASSERT_TRUE(w);
  ASSERT_NO_FATAL_FAILURE(InstallWithDefaults(robot, w));
  EXPECT_EQ("Signed and installed.\r\n", ReadWholeFile(folder + "\\docs\\readme.txt"));
  EXPECT_TRUE(ReadWholeFile(folder + "\\Uninstall.exe") == image) << "not the signed uninstaller";
  EXPECT_EQ(folder + "\\", RegistryValue());
  Robot un;
  ASSERT_NO_FATAL_FAILURE(UninstallWithYes(un, folder + "\\Uninstall.exe", dir.Path()));
  EXPECT_TRUE(un.WaitUntil([&] { return !PathExists(kFolder) && RunningCommandInterpreters() == 0; }, kTimeout,
                           "the installation folder's removal"));
  EXPECT_EQ("<none>", RegistryValue());

  // silent, from the split set whose first slice the build signed
  const std::string split = std::string(kSigned) + "\\sign\\split\\Setup.exe";
  ASSERT_NE(0u, SecurityEntry(ReadWholeFile(split)).Size) << "the first slice is not signed";
  EXPECT_EQ(0u, RunToFile(Quoted(split) + " /S", dir.File("install.txt")));
  // the first slice ends once its copy runs; the joined installer after it
  const auto setupRunning = [] {
    HANDLE m = OpenMutexA(SYNCHRONIZE, FALSE, "UnQuillsetDeployer_mutex");
    if (m) CloseHandle(m);
    return m != NULL;
  };
  EXPECT_TRUE(un.WaitUntil([&] { return !setupRunning() && PathExists(folder + "\\Uninstall.log"); }, 60000,
                           "the joined installation's end"));
  EXPECT_TRUE(ReadWholeFile(folder + "\\Uninstall.exe") == image) << "not the signed uninstaller";
  EXPECT_EQ(folder + "\\", RegistryValue());
  EXPECT_EQ(0u, RunToFile(Quoted(folder + "\\Uninstall.exe") + " /S", dir.File("uninstall.txt")));
  EXPECT_TRUE(un.WaitUntil([&] { return !PathExists(kFolder) && RunningCommandInterpreters() == 0; }, kTimeout,
                           "the installation folder's removal"));
  EXPECT_EQ("<none>", RegistryValue());
  CleanUp();
}

// Without --sign an Uninstall.exe of the author's is a file like any other:
// it goes where the script says, and the setup writes its own uninstaller.
TEST(SignedSetup, AnAuthorsOwnUninstallExeIsNoStoredUninstaller) {
  TempFolder dir;
  const std::string target = dir.File("Own App");
  const std::string setup = BuildSetupFile(dir,
                                           "QSP40\r\n[Global]\r\nApplicationName = Own App\r\nDefaultDir = " + target +
                                               "\r\n[Files]\r\nUninstall.exe, %MAINDIR%tools\\Uninstall.exe\r\n",
                                           {{"Uninstall.exe", "the author's own"}});
  EXPECT_EQ(0u, RunToFile(Quoted(setup) + " /S", dir.File("install.txt")));
  EXPECT_EQ("the author's own", ReadWholeFile(target + "\\tools\\Uninstall.exe"));
  EXPECT_TRUE(ReadWholeFile(target + "\\Uninstall.exe") == ReadWholeFile(QS_STUB_PATH) + Sig(UninstallerSignature));
  EXPECT_EQ(0u, RunToFile(Quoted(target + "\\Uninstall.exe") + " /S", dir.File("uninstall.txt")));
  Robot watcher;
  EXPECT_TRUE(watcher.WaitUntil([&] { return !PathExists(target) && RunningCommandInterpreters() == 0; }, kTimeout,
                                "the installation folder's removal"));
}

TEST(SignedSetup, CutInsideItsCertificateTableItIsDamagedAndInstallsNothing) {
  CleanUp();
  TempFolder dir;
  PrivateTemp temp(dir);
  const std::string bytes = ReadWholeFile(std::string(kSigned) + "\\Signed.exe");
  const PeDirectory table = SecurityEntry(bytes);
  ASSERT_NE(0u, table.Size) << "no signed setup file in " << kSigned;
  for (size_t size : {(size_t)table.Address + table.Size / 2, bytes.size() - 1}) {
    SCOPED_TRACE(size);
    const std::string exe = dir.File("Signed Setup.exe");
    WriteWholeFile(exe, bytes.substr(0, size));
    ExpectDamagedMessageOnly(exe);
    EXPECT_EQ(std::vector<std::string>(), FilesIn(temp.Path));
    EXPECT_FALSE(PathExists(kFolder));
  }
}

}  // namespace
