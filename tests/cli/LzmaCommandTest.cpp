// The command with solid LZMA setup files: the method chosen on the command
// line or in the script, and list, verify, extract and --split on them.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "CliSupport.h"
#include "efs/Crc32.h"
#include "efs/EfsDirectory.h"
#include "efs/EfsFormat.h"
#include "efs/EntryCodec.h"

namespace {

Bytes Words(size_t n, unsigned seed) {
  static const char* words[] = {"setup ", "file ", "folder ", "copy\n", "install "};
  Bytes b;
  for (unsigned x = seed; b.size() < n;) {
    x = x * 1103515245u + 12345u;
    b += words[(x >> 16) % 5];
  }
  b.resize(n);
  return b;
}

class MemoryEncodeIo : public IEfsEncodeIo {
 public:
  explicit MemoryEncodeIo(const Bytes& in) : m_In(in) {}
  Bytes Out;
  long Read(unsigned char* buffer, uint32_t n) override {
    n = (uint32_t)std::min<size_t>(n, m_In.size() - m_At);
    memcpy(buffer, m_In.data() + m_At, n);
    m_At += n;
    return (long)n;
  }
  int Write(const unsigned char* buffer, uint32_t n) override {
    Out.append((const char*)buffer, n);
    return 1;
  }
  int Progress(uint32_t) override { return 1; }

 private:
  const Bytes& m_In;
  size_t m_At = 0;
};

// A solid setup file as an earlier quillset wrote it: the same stream, the
// directory one record after another, format version 2.
Bytes AsEarlierVersion(const Bytes& file) {
  BytesFileReader reader(file);
  CEfsDirectory dir;
  EXPECT_EQ(EFS_OPEN_OK, dir.Read(reader, file.size()));
  const Bytes records = SolidRecordsOf(dir);
  EfsSolidHeader h = dir.Header();
  MemoryEncodeIo packed(records);
  EXPECT_EQ(EFS_ENCODE_OK, EfsLzmaEncode(packed, records.size(), h.DirectoryProps));
  h.Version = EFS_FORMAT_SOLID_RECORDS;
  h.DirectoryStoredSize = (uint32_t)packed.Out.size();
  h.DirectorySize = (uint32_t)records.size();
  h.DirectoryCrc = EfsCrc32(0, (const unsigned char*)records.data(), (uint32_t)records.size());
  memset(h.NamesSize, 0, sizeof h.NamesSize);
  unsigned char header[EFS_SOLID_HEADER_SIZE];
  EfsEncodeSolidHeader(h, header);
  return file.substr(0, h.DataOffset + h.StreamSize) + packed.Out + Bytes((const char*)header, sizeof header) +
         file.substr(file.size() - EFS_TRAILER_SIZE);
}

class LzmaCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteWholeFile(dir.File("files/big.txt"), Words(300000, 1));
    WriteWholeFile(dir.File("files/noise.bin"), RandomBytes(40000, 2));
    WriteWholeFile(dir.File("files/small.txt"), "small\r\n");
    Script("");
  }
  void Script(const std::string& global) {
    project.Write("QSP40\r\n[Global]\r\nApplicationName = Lzma App\r\nDefaultDir = C:\\Lzma\r\n" + global +
                  "[Files]\r\nfiles\\big.txt, %MAINDIR%big.txt\r\nfiles\\noise.bin, %MAINDIR%noise.bin\r\n"
                  "files\\small.txt, %MAINDIR%small.txt\r\n");
  }
  RunResult List(const std::string& setup) { return RunQuillset({"list", setup}); }
  TempDir dir;
  Project project{dir};
};

TEST_F(LzmaCommand, BuildsOneSolidStreamThatListVerifyAndExtractRead) {
  const std::string setup = dir.File("Setup.exe");
  WriteWholeFile(dir.File("stub.exe"), FakeStub());
  RunResult b = RunQuillset({"build", "-j", "4", "--stub", dir.File("stub.exe"), "--compression", "lzma", "-o", setup,
                             project.Path()});
  ASSERT_EQ(0, b.Code) << b.Err;
  EXPECT_NE(std::string::npos, b.Out.find("(lzma, one solid stream)")) << b.Out;
  EXPECT_NE(std::string::npos, b.Out.find("% of the input")) << b.Out;
  EXPECT_NE(std::string::npos, b.Out.find("built in")) << b.Out;
  // the match finder's thread, and -j 1 without it, write the same file
  RunResult one = RunQuillset({"build", "-q", "-j", "1", "--stub", dir.File("stub.exe"), "--compression", "lzma", "-o",
                               dir.File("One.exe"), project.Path()});
  ASSERT_EQ(0, one.Code) << one.Err;
  EXPECT_TRUE(ReadWholeFile(setup) == ReadWholeFile(dir.File("One.exe")));
  // one stream: its encoder and its match finder, whatever -j asks
  EXPECT_NE(std::string::npos, b.Out.find("on 2 threads")) << b.Out;

  RunResult list = List(setup);
  ASSERT_EQ(0, list.Code) << list.Err;
  EXPECT_NE(std::string::npos, list.Out.find("one solid LZMA stream of")) << list.Out;
  EXPECT_NE(std::string::npos, list.Out.find(" bytes of content (")) << list.Out;
  EXPECT_NE(std::string::npos, list.Out.find("NAME")) << list.Out;
  for (const char* line : {"big.txt", "noise.bin", "small.txt", "default.qsp", "Translations.ini"}) {
    size_t at = list.Out.find(std::string("\n") + line);
    ASSERT_NE(std::string::npos, at) << line << "\n" << list.Out;
    EXPECT_NE(std::string::npos, list.Out.find("lzma", at)) << line;
  }
  EXPECT_NE(std::string::npos, list.Out.find("300000  lzma")) << list.Out;

  RunResult verify = RunQuillset({"verify", setup});
  EXPECT_EQ(0, verify.Code) << verify.Err;
  EXPECT_NE(std::string::npos, verify.Out.find("all 5 entries are sound")) << verify.Out;

  // any entries in any order, one twice
  RunResult x = RunQuillset({"extract", "-d", dir.File("x"), setup, "small.txt", "BIG.TXT", "noise.bin", "small.txt"});
  ASSERT_EQ(0, x.Code) << x.Err;
  EXPECT_EQ(ReadWholeFile(dir.File("files/big.txt")), ReadWholeFile(dir.File("x/big.txt")));
  EXPECT_EQ(ReadWholeFile(dir.File("files/noise.bin")), ReadWholeFile(dir.File("x/noise.bin")));
  EXPECT_EQ("small\r\n", ReadWholeFile(dir.File("x/small.txt")));
  EXPECT_EQ(MTimeNs(dir.File("files/big.txt")) / 100, MTimeNs(dir.File("x/big.txt")) / 100);

  // a flip in the stream: verify names the damage and fails
  Bytes file = ReadWholeFile(setup);
  file[4096 + 20000] ^= 0x04;
  WriteWholeFile(dir.File("Bad.exe"), file);
  RunResult bad = RunQuillset({"verify", "-q", dir.File("Bad.exe")});
  EXPECT_EQ(1, bad.Code);
  EXPECT_NE(std::string::npos, bad.Err.find("entries are damaged")) << bad.Err;
  // extract leaves nothing of a damaged entry behind
  RunResult xb = RunQuillset({"extract", "-d", dir.File("y"), dir.File("Bad.exe"), "big.txt"});
  EXPECT_EQ(1, xb.Code);
  EXPECT_FALSE(Exists(dir.File("y/big.txt")));
}

TEST_F(LzmaCommand, TheScriptChoosesTheMethodAndTheCommandLineWins) {
  WriteWholeFile(dir.File("stub.exe"), FakeStub());
  auto method = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {"build", "-q", "--stub", dir.File("stub.exe"), "-o", dir.File("S.exe")};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(project.Path());
    RunResult r = RunQuillset(args);
    EXPECT_EQ(0, r.Code) << r.Err;
    RunResult l = List(dir.File("S.exe"));
    return l.Out.find("solid LZMA") != std::string::npos ? "lzma" : l.Out.find("  zlib  ") != std::string::npos ? "zlib" : "stored";
  };
  EXPECT_STREQ("zlib", method({}));
  Script("Compression = lzma\r\n");
  EXPECT_STREQ("lzma", method({}));
  EXPECT_STREQ("zlib", method({"--compression", "zlib"}));
  EXPECT_STREQ("stored", method({"--store"}));
  Script("Compression = stored\r\n");
  EXPECT_STREQ("stored", method({}));
  EXPECT_STREQ("lzma", method({"--compression=lzma"}));

  RunResult usage = RunQuillset({"build", "--compression", "xz", project.Path()});
  EXPECT_EQ(2, usage.Code);
  EXPECT_NE(std::string::npos, usage.Err.find("give zlib (the default), lzma or stored")) << usage.Err;
  Script("Compression = xz\r\n");
  RunResult problem = RunQuillset({"build", "-q", "--stub", dir.File("stub.exe"), project.Path()});
  EXPECT_EQ(1, problem.Code);
  EXPECT_NE(std::string::npos, problem.Err.find("app.qsp:5: Compression = xz: give zlib, lzma or stored"))
      << problem.Err;
}

TEST_F(LzmaCommand, SlicesOfASolidSetupJoinToItAndANewerFormatIsRefused) {
  WriteWholeFile(dir.File("stub.exe"), FakeStub());
  const std::string whole = dir.File("Whole.exe");
  ASSERT_EQ(0, RunQuillset({"build", "-q", "--stub", dir.File("stub.exe"), "--compression", "lzma", "-o", whole,
                            project.Path()}).Code);
  RunResult split = RunQuillset({"build", "-q", "--stub", dir.File("stub.exe"), "--compression", "lzma", "--split",
                                 "50K", "-o", dir.File("cut/Setup.exe"), project.Path()});
  ASSERT_EQ(0, split.Code) << split.Err;
  // the first slice is the setup program, then the record of its slices
  const Bytes first = ReadWholeFile(dir.File("cut/Setup.exe"));
  ASSERT_GT(first.size(), FakeStub().size());
  EXPECT_TRUE(first.substr(0, FakeStub().size()) == FakeStub());
  Bytes joined = FakeStub();
  for (int i = 1; Exists(dir.File("cut/Setup.00" + std::to_string(i))); ++i)
    joined += ReadWholeFile(dir.File("cut/Setup.00" + std::to_string(i)));
  EXPECT_TRUE(joined == ReadWholeFile(whole)) << joined.size() << " joined bytes";

  // a later format version: refused by name, not taken for damage
  Bytes file = ReadWholeFile(whole);
  EfsWriteU32((unsigned char*)&file[file.size() - EFS_TRAILER_SIZE - EFS_SOLID_HEADER_SIZE], 7);
  WriteWholeFile(dir.File("Newer.exe"), file);
  for (const char* command : {"list", "verify", "extract"}) {
    RunResult r = RunQuillset({command, dir.File("Newer.exe")});
    EXPECT_EQ(1, r.Code) << command;
    EXPECT_NE(std::string::npos, r.Err.find("container format version 7 is newer than this quillset knows"))
        << command << ": " << r.Err;
  }
}

TEST_F(LzmaCommand, ListVerifyAndExtractReadTheEarlierSolidVersion) {
  WriteWholeFile(dir.File("stub.exe"), FakeStub());
  const std::string now = dir.File("Now.exe"), earlier = dir.File("Earlier.exe");
  ASSERT_EQ(0, RunQuillset({"build", "-q", "--stub", dir.File("stub.exe"), "--compression", "lzma", "-o", now,
                            project.Path()}).Code);
  WriteWholeFile(earlier, AsEarlierVersion(ReadWholeFile(now)));
  // the same entries, each line but the directory's compressed size alike
  RunResult a = List(now), b = List(earlier);
  ASSERT_EQ(0, b.Code) << b.Err;
  auto entries = [](const std::string& out) { return out.substr(out.find("NAME")); };
  EXPECT_EQ(entries(a.Out), entries(b.Out));
  RunResult verify = RunQuillset({"verify", earlier});
  EXPECT_EQ(0, verify.Code) << verify.Err;
  EXPECT_NE(std::string::npos, verify.Out.find("all 5 entries are sound")) << verify.Out;
  RunResult x = RunQuillset({"extract", "-d", dir.File("x"), earlier, "noise.bin", "big.txt"});
  ASSERT_EQ(0, x.Code) << x.Err;
  EXPECT_EQ(ReadWholeFile(dir.File("files/big.txt")), ReadWholeFile(dir.File("x/big.txt")));
  EXPECT_EQ(ReadWholeFile(dir.File("files/noise.bin")), ReadWholeFile(dir.File("x/noise.bin")));
}

}  // namespace
