// Setup files signed with osslsigncode, as a publisher signs them, and setup
// files cut short: list and verify report the signature, read the container
// under it, and name a damaged file with its byte count.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include "../FakeSignature.h"
#include "CliSupport.h"
#include "cli/Resources.h"
#include "efs/EfsFormat.h"
#include "efs/PeImage.h"

namespace {

// Runs a shell command line; its exit status (output in `log`).
int Shell(const std::string& line, const std::string& log) {
  int status = system((line + " >'" + log + "' 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// A throw-away code-signing certificate for the whole suite, and the
// signing tool around it.
class Signer {
 public:
  explicit Signer(const TempDir& dir) : m_Dir(dir) {}
  // The certificate and its key in the test's own folder; false (and a
  // failure) without openssl.
  bool Make() {
    const int rc = Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Quillset Test Publisher'"
                         " -addext extendedKeyUsage=codeSigning -keyout '" + Key() + "' -out '" + Cert() + "'",
                         m_Dir.File("openssl.log"));
    EXPECT_EQ(0, rc) << "openssl could not make a test certificate (tools/bootstrap.sh installs it):\n"
                     << ReadWholeFile(m_Dir.File("openssl.log"));
    return rc == 0;
  }
  // osslsigncode sign; the exit status.
  int Sign(const std::string& in, const std::string& out) {
    const int rc = Shell("osslsigncode sign -certs '" + Cert() + "' -key '" + Key() + "' -n 'Signed App' -in '" + in +
                             "' -out '" + out + "'",
                         m_Dir.File("sign.log"));
    EXPECT_EQ(0, rc) << "osslsigncode could not sign " << in << " (tools/bootstrap.sh installs it):\n"
                     << ReadWholeFile(m_Dir.File("sign.log"));
    return rc;
  }
  // osslsigncode verify against our certificate: 0 when it accepts the file.
  int Verify(const std::string& file) {
    return Shell("osslsigncode verify -CAfile '" + Cert() + "' -in '" + file + "'", m_Dir.File("verify.log"));
  }
  // What quillset build --sign runs: {in} and {out}, or in place.
  std::string Command() const {
    return "osslsigncode sign -certs '" + Cert() + "' -key '" + Key() + "' -n 'Signed App' -in {in} -out {out}";
  }
  std::string InPlace() const {
    return "osslsigncode sign -certs '" + Cert() + "' -key '" + Key() + "' -in {file} -out {file}.s && mv {file}.s {file}";
  }
  std::string Cert() const { return m_Dir.File("cert.pem"); }
  std::string Key() const { return m_Dir.File("key.pem"); }

 private:
  const TempDir& m_Dir;
};

// The certificate table the headers name: (offset, size).
std::pair<uint32_t, uint32_t> SecurityEntry(const Bytes& file) {
  PeHeaders h;
  if (!ReadPeHeaders((const unsigned char*)file.data(), file.size(), &h)) return {0, 0};
  return {h.Directories[PE_DIRECTORY_SECURITY].Address, h.Directories[PE_DIRECTORY_SECURITY].Size};
}

struct Stub {
  const char* Arch;
  const char* Path;
};
const Stub kStubs[] = {{"x86", QS_STUB32_FILE}, {"x64", QS_STUB64_FILE}};

class Signed : public ::testing::TestWithParam<Stub> {
 protected:
  void SetUp() override {
    if (!Exists(GetParam().Path)) GTEST_SKIP() << "not built: " << GetParam().Path;
    ASSERT_TRUE(signer.Make());
    project.Write("QSP40\n[Global]\nApplicationName = Signed App\n[Files]\npayload.bin, %MAINDIR%payload.bin\n");
    WriteWholeFile(dir.File("payload.bin"), payload);
    RunResult r = RunQuillset({"build", "-q", "--arch", GetParam().Arch, "--stub", GetParam().Path, "-o",
                               dir.File("Setup.exe"), project.Path()});
    ASSERT_EQ(0, r.Code) << r.Err;
    unsigned_ = ReadWholeFile(dir.File("Setup.exe"));
    ASSERT_EQ(0, signer.Sign(dir.File("Setup.exe"), dir.File("Signed.exe")));
    signed_ = ReadWholeFile(dir.File("Signed.exe"));
  }

  TempDir dir;
  Project project{dir};
  Signer signer{dir};
  Bytes payload = RandomBytes(120000, 16);
  Bytes unsigned_, signed_;
};

TEST_P(Signed, ListAndVerifyReportTheSignatureAndReadTheContainerUnderIt) {
  const std::string file = dir.File("Signed.exe");
  EXPECT_EQ(0, signer.Verify(file)) << ReadWholeFile(dir.File("verify.log"));
  const std::pair<uint32_t, uint32_t> table = SecurityEntry(signed_);
  ASSERT_NE(0u, table.second);
  EXPECT_EQ(signed_.size(), (size_t)table.first + table.second);
  // the signing tool appends; the container stays as it was built
  EXPECT_TRUE(signed_.compare(unsigned_.size(), table.first - unsigned_.size(),
                              Bytes(table.first - unsigned_.size(), '\0')) == 0);
  const std::string stubBytes = std::to_string(ReadWholeFile(GetParam().Path).size());
  const std::string tableText = "signed, certificate table of " + std::to_string(table.second) + " bytes";

  RunResult list = RunQuillset({"list", file});
  EXPECT_EQ(0, list.Code) << list.Err;
  EXPECT_NE(std::string::npos,
            list.Out.find(std::string("installer (") + GetParam().Arch + "), setup program " + stubBytes + " bytes, 3 entries"))
      << list.Out;
  EXPECT_NE(std::string::npos, list.Out.find(file + ": " + tableText + "\n")) << list.Out;
  RunResult verify = RunQuillset({"verify", file});
  EXPECT_EQ(0, verify.Code) << verify.Err;
  EXPECT_NE(std::string::npos, verify.Out.find(file + ": " + tableText)) << verify.Out;
  EXPECT_NE(std::string::npos, verify.Out.find(std::string("all 3 entries are sound (") + GetParam().Arch + " setup program)"));
  RunResult extract = RunQuillset({"extract", "-q", "-d", dir.File("out"), file, "payload.bin"});
  EXPECT_EQ(0, extract.Code) << extract.Err;
  EXPECT_TRUE(ReadWholeFile(dir.File("out/payload.bin")) == payload);

  // the unsigned file says so
  list = RunQuillset({"list", dir.File("Setup.exe")});
  EXPECT_NE(std::string::npos, list.Out.find(dir.File("Setup.exe") + ": not signed\n")) << list.Out;
  verify = RunQuillset({"verify", dir.File("Setup.exe")});
  EXPECT_NE(std::string::npos, verify.Out.find(dir.File("Setup.exe") + ": not signed\n")) << verify.Out;
}

TEST_P(Signed, AFileCutShortIsDamagedWithItsByteCount) {
  const uint64_t stub = ReadWholeFile(GetParam().Path).size();
  const uint64_t end = unsigned_.size();
  const std::pair<uint32_t, uint32_t> table = SecurityEntry(signed_);
  struct Case { const char* what; const Bytes& from; uint64_t size; } cases[] = {
      {"in the data area", unsigned_, stub + 1000},
      {"in the directory", unsigned_, end - 40},
      {"in the trailer", unsigned_, end - 5},
      {"signed, in the data area", signed_, stub + 60000},
      {"signed, in the trailer", signed_, end - 1},
      {"signed, in the certificate table", signed_, table.first + table.second / 2},
      {"signed, one byte of the table missing", signed_, signed_.size() - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = dir.File("Cut.exe");
    WriteWholeFile(file, c.from.substr(0, c.size));
    const std::string count = "damaged or truncated: " + std::to_string(c.size) + " bytes, of which " +
                              std::to_string(c.size - stub) + " follow the " + std::to_string(stub) +
                              "-byte setup program but end with no setup signature";
    for (const char* command : {"verify", "list", "extract"}) {
      std::vector<std::string> args = {command, file};
      if (std::string(command) == "extract") args = {command, "-d", dir.File("none"), file};
      RunResult r = RunQuillset(args);
      EXPECT_EQ(1, r.Code) << command;
      EXPECT_NE(std::string::npos, r.Err.find(file + " is " + count)) << command << ": " << r.Err;
    }
    EXPECT_FALSE(Exists(dir.File("none")));
  }
  // Without its table (cut where the signing began) the container is whole.
  WriteWholeFile(dir.File("Cut.exe"), signed_.substr(0, end));
  EXPECT_EQ(0, RunQuillset({"verify", "-q", dir.File("Cut.exe")}).Code);
}

TEST_P(Signed, AFirstSliceSignedAfterTheSplitIsABareStubAndASignedStubIsRefused) {
  RunResult r = RunQuillset({"build", "-q", "--arch", GetParam().Arch, "--stub", GetParam().Path, "--split", "50K", "-o",
                             dir.File("split/Setup.exe"), project.Path()});
  ASSERT_EQ(0, r.Code) << r.Err;
  const Bytes program = ReadWholeFile(GetParam().Path);
  EXPECT_TRUE(ReadWholeFile(dir.File("split/Setup.exe")).substr(0, program.size()) == program)
      << "the first slice is the program and its slice record";
  ASSERT_EQ(0, signer.Sign(dir.File("split/Setup.exe"), dir.File("split/First.exe")));
  EXPECT_EQ(0, signer.Verify(dir.File("split/First.exe"))) << ReadWholeFile(dir.File("verify.log"));
  const std::pair<uint32_t, uint32_t> table = SecurityEntry(ReadWholeFile(dir.File("split/First.exe")));
  RunResult list = RunQuillset({"list", dir.File("split/First.exe")});
  EXPECT_EQ(0, list.Code) << list.Err;
  EXPECT_NE(std::string::npos, list.Out.find(std::string("bare stub (") + GetParam().Arch + ")")) << list.Out;
  EXPECT_NE(std::string::npos, list.Out.find("signed, certificate table of " + std::to_string(table.second) + " bytes"))
      << list.Out;
  // signed, it still names its slices: the record lies before the table
  WriteWholeFile(dir.File("split/Setup.exe"), ReadWholeFile(dir.File("split/First.exe")));
  RunResult verify = RunQuillset({"verify", dir.File("split/Setup.exe")});
  EXPECT_EQ(0, verify.Code) << verify.Err;
  EXPECT_NE(std::string::npos, verify.Out.find("slices are the ones it was built with")) << verify.Out;

  // A signed setup program in front of a container would carry a broken
  // signature: signing comes after the build.
  r = RunQuillset({"build", "-q", "--stub", dir.File("split/First.exe"), "-o", dir.File("Refused.exe"), project.Path()});
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("First.exe is signed: give the unsigned setup program, and sign the built setup file"))
      << r.Err;
  // and so would a program with bytes behind it, as a split's first slice
  WriteWholeFile(dir.File("Trailing.exe"), ReadWholeFile(GetParam().Path) + "trailing bytes");
  r = RunQuillset({"build", "-q", "--stub", dir.File("Trailing.exe"), "-o", dir.File("Refused.exe"), project.Path()});
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("Trailing.exe has 14 bytes behind its program: not a bare setup program")) << r.Err;
  EXPECT_FALSE(Exists(dir.File("Refused.exe")));
}

// The files in folder of dir, named within it.
std::vector<std::string> NamesIn(const TempDir& dir, const std::string& folder) {
  std::vector<std::string> names;
  for (const std::string& n : dir.List())
    if (n.rfind(folder + "/", 0) == 0) names.push_back(n.substr(folder.size() + 1));
  return names;
}

// The headers' checksum and certificate entry, which signing sets, cleared.
Bytes Unsigned(Bytes program) {
  PeHeaders h;
  if (!ReadPeHeaders((const unsigned char*)program.data(), program.size(), &h)) return program;
  memset(&program[h.OptionalOffset + 64], 0, 4);
  memset(&program[h.DirectoriesOffset + 8 * PE_DIRECTORY_SECURITY], 0, 8);
  return program;
}

TEST_P(Signed, BuildWithSignSignsTheUninstallerItStoresThenTheSetupFileOrFirstSlice) {
  const Bytes program = ReadWholeFile(GetParam().Path);
  for (const std::string& command : {signer.Command(), signer.InPlace()}) {
    SCOPED_TRACE(command);
    const std::string out = dir.File("sign dir/Setup.exe");
    RunResult r = RunQuillset({"build", "-q", "--arch", GetParam().Arch, "--stub", GetParam().Path, "--sign", command,
                               "-o", out, project.Path()});
    ASSERT_EQ(0, r.Code) << r.Err;
    EXPECT_EQ(0, signer.Verify(out)) << ReadWholeFile(dir.File("verify.log"));
    RunResult list = RunQuillset({"list", out});
    EXPECT_NE(std::string::npos, list.Out.find("4 entries")) << list.Out;
    EXPECT_NE(std::string::npos, list.Out.find("\nUninstall.exe ")) << list.Out;
    ASSERT_EQ(0, RunQuillset({"extract", "-q", "-d", dir.File("x"), out, "Uninstall.exe"}).Code);
    const std::string uninstaller = dir.File("x/Uninstall.exe");
    EXPECT_EQ(0, signer.Verify(uninstaller)) << ReadWholeFile(dir.File("verify.log"));
    list = RunQuillset({"list", uninstaller});
    EXPECT_NE(std::string::npos, list.Out.find(std::string("uninstaller (") + GetParam().Arch + ")")) << list.Out;
    // the setup program and the uninstaller signature under the table
    const Bytes image = ReadWholeFile(uninstaller);
    const std::pair<uint32_t, uint32_t> table = SecurityEntry(image);
    ASSERT_EQ(program.size() + 16, table.first);
    EXPECT_TRUE(Unsigned(image.substr(0, program.size())) == Unsigned(program));
    EXPECT_TRUE(image.substr(program.size(), 16) == Bytes((const char*)UninstallerSignature, 16));
    EXPECT_EQ(std::vector<std::string>({"Setup.exe"}), NamesIn(dir, "sign dir")) << "nothing else left";
  }
  // split: the first slice, signed by the build, still names its slices
  const std::string first = dir.File("split/Setup.exe");
  RunResult r = RunQuillset({"build", "-q", "--arch", GetParam().Arch, "--stub", GetParam().Path, "--sign",
                             signer.Command(), "--split", "50K", "-o", first, project.Path()});
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ(0, signer.Verify(first)) << ReadWholeFile(dir.File("verify.log"));
  RunResult verify = RunQuillset({"verify", first});
  EXPECT_EQ(0, verify.Code) << verify.Err;
  EXPECT_NE(std::string::npos, verify.Out.find("slices are the ones it was built with")) << verify.Out;

  // the vendor's name and version on both programs it signs
  project.Write("QSP40\n[Global]\nApplicationName = Signed App\nPublisher = Sign Vendor\nVersion = 4.5\n"
                "[Files]\npayload.bin, %MAINDIR%payload.bin\n");
  const std::string branded = dir.File("branded/Setup.exe");
  r = RunQuillset({"build", "-q", "--arch", GetParam().Arch, "--stub", GetParam().Path, "--sign", signer.Command(),
                   "-o", branded, project.Path()});
  ASSERT_EQ(0, r.Code) << r.Err;
  ASSERT_EQ(0, RunQuillset({"extract", "-q", "-d", dir.File("bx"), branded, "Uninstall.exe"}).Code);
  for (const std::string& file : {branded, dir.File("bx/Uninstall.exe")}) {
    EXPECT_EQ(0, signer.Verify(file)) << ReadWholeFile(dir.File("verify.log"));
    std::vector<Resource> list;
    ASSERT_EQ("", ReadResources(ReadWholeFile(file), &list)) << file;
    VersionStrings v;
    for (const Resource& res : list)
      if (res.Type.Number == RESOURCE_VERSION) {
        EXPECT_EQ("", ReadVersionStrings(res.Data, &v));
      }
    EXPECT_EQ("Sign Vendor", v.Get("CompanyName")) << file;
    EXPECT_EQ("4.5", v.Get("ProductVersion")) << file;
    EXPECT_EQ(5, v.FileVersion[1]) << file;
  }
}

// A sign command that fails, signs nothing or changes the program: the
// build says so with the tool's words, and an earlier setup file stays.
TEST_P(Signed, ASignCommandThatFailsStopsTheBuildAndWritesNothing) {
  const std::string once = dir.File("once");
  struct Case {
    std::string Command, Said;
  } cases[] = {
      {"echo no such certificate >&2; exit 3 # {file}",
       "the sign command failed on the uninstaller with exit code 3; its output:\nno such certificate\n"},
      {"true {in} {out}", "the sign command ended with exit code 0 but wrote nothing to {out} for the uninstaller"},
      {"cp {in} {out}", "the sign command ended with exit code 0 but the uninstaller carries no signature"},
      // the uninstaller signed, then the setup file refused
      {"if [ -e '" + once + "' ]; then echo refused; exit 4; fi; touch '" + once + "'; " + signer.Command(),
       "the sign command failed on " + dir.File("out/Setup.exe") + " with exit code 4; its output:\nrefused\n"},
      // a tool that alters the program, not only signs it
      {signer.Command() + " && printf X | dd of={out} bs=1 seek=600 conv=notrunc 2>/dev/null",
       "the sign command changed the uninstaller beyond adding its signature"},
      // or the setup file: a byte of its setup program
      {"if [ -e '" + once + "' ]; then " + signer.Command() +
           " && printf X | dd of={out} bs=1 seek=600 conv=notrunc 2>/dev/null; else touch '" + once + "'; " +
           signer.Command() + "; fi",
       "the sign command changed " + dir.File("out/Setup.exe") + " beyond adding its signature"},
  };
  for (const Case& c : cases) {
    for (const char* split : {"", "50K"}) {
      SCOPED_TRACE(c.Command + (*split ? " --split" : ""));
      remove(once.c_str());
      WriteWholeFile(dir.File("out/Setup.exe"), "earlier");
      std::vector<std::string> args = {"build", "-q", "--arch", GetParam().Arch, "--stub", GetParam().Path, "--sign",
                                       c.Command, "-o", dir.File("out/Setup.exe"), project.Path()};
      if (*split) args.insert(args.end() - 1, {"--split", split});
      RunResult r = RunQuillset(args);
      EXPECT_EQ(1, r.Code);
      EXPECT_NE(std::string::npos, r.Err.find("quillset: error: " + c.Said)) << r.Err;
      EXPECT_EQ(std::vector<std::string>({"Setup.exe"}), NamesIn(dir, "out"));
      EXPECT_TRUE(ReadWholeFile(dir.File("out/Setup.exe")) == "earlier") << "the earlier setup file was replaced";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Stubs, Signed, ::testing::ValuesIn(kStubs),
                         [](const ::testing::TestParamInfo<Stub>& i) { return std::string(i.param.Arch); });

// --sign names the program to sign; the setup file keeps the name of the
// uninstaller it stores.
TEST(SignOption, ACommandWithoutThePlaceholdersOrAFileNamedUninstallExeIsRefused) {
  TempDir dir;
  Project project(dir);
  project.Write("QSP40\n[Global]\nApplicationName = S\n[Files]\nUninstall.exe, %MAINDIR%tools\\Uninstall.exe\n");
  WriteWholeFile(dir.File("Uninstall.exe"), "the author's own");
  for (const char* command : {"signtool sign /a", "sign {in}", "sign {file} {out}"}) {
    RunResult r = project.Build(dir.File("Setup.exe"), {"--sign", command});
    EXPECT_EQ(2, r.Code) << command;
    EXPECT_NE(std::string::npos, r.Err.find("--sign: name the program with {in} and {out}")) << r.Err;
    EXPECT_EQ(std::string::npos, r.Err.find(command)) << "it may hold a password";
  }
  RunResult r = project.Build(dir.File("Setup.exe"), {"--sign", "true {file}"});
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos,
            r.Err.find(":5: with --sign the setup file keeps its own signed Uninstall.exe; rename " + dir.File("Uninstall.exe")))
      << r.Err;
  EXPECT_FALSE(Exists(dir.File("Setup.exe")));
  // unsigned, it is the author's file like any other
  EXPECT_EQ(0, project.Build(dir.File("Setup.exe")).Code);
}

// A slice that is by itself a signed setup file (a stored payload, cut at
// both its ends) would end the join early: the cut moves by a byte.
TEST(SplitSigned, NoSliceButTheLastIsASetupFileEvenSignedAndPadded) {
  TempDir dir;
  Project project(dir);
  // sorts first, so its stored bytes start right behind the setup program
  Bytes inner = MinimalProgram() + RandomBytes(3001, 9) + Bytes((const char*)InstallerSignature, 16);
  ASSERT_TRUE(AppendFakeCertificate(inner, 512));
  WriteWholeFile(dir.File("a.exe"), inner);
  project.Write("QSP40\n[Global]\nApplicationName = S\n[Files]\na.exe, %MAINDIR%a.exe\n");
  RunResult r = project.Build(dir.File("split/Setup.exe"), {"--store", "--split", std::to_string(inner.size())});
  ASSERT_EQ(0, r.Code) << r.Err;
  const Bytes first = ReadWholeFile(dir.File("split/Setup.001"));
  EXPECT_EQ(inner.size() - 1, first.size());
  EXPECT_TRUE(inner.compare(0, first.size(), first) == 0);
}

}  // namespace
