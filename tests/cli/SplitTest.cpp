// --split: slices that join back into the unsplit file; reproducible output,
// whatever the number of threads.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CliSupport.h"
#include "efs/EfsFormat.h"
#include "efs/Sha256.h"
#include "efs/SliceRecord.h"

namespace {

Bytes Signature() { return Bytes((const char*)InstallerSignature, 16); }
Bytes Uninstaller() { return Bytes((const char*)UninstallerSignature, 16); }

Bytes Sha(const Bytes& b) {
  CSha256 h;
  h.Update(b.data(), b.size());
  unsigned char d[SHA256_SIZE];
  h.Final(d);
  return Bytes((const char*)d, sizeof d);
}

bool EndsWith(const Bytes& b, const Bytes& tail) {
  return b.size() >= tail.size() && b.compare(b.size() - tail.size(), tail.size(), tail) == 0;
}

class Split : public ::testing::Test {
 protected:
  void SetUp() override {
    project.Write("QSP40\n[Global]\nApplicationName = Big\n[Files]\npayload.bin, %MAINDIR%payload.bin\n");
    WriteWholeFile(dir.File("payload.bin"), RandomBytes(1 << 20, 42));
    ASSERT_EQ(0, project.Build(dir.File("whole/Setup.exe")).Code);
    whole = ReadWholeFile(dir.File("whole/Setup.exe"));
  }

  // Builds with --split size into folder; checks the slices and returns them.
  std::vector<Bytes> BuildSplit(const std::string& size, uint64_t limit, const std::string& folder,
                                std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--split", size};
    args.insert(args.end(), extra.begin(), extra.end());
    RunResult r = project.Build(dir.File(folder + "/Setup.exe"), args);
    EXPECT_EQ(0, r.Code) << r.Err;
    std::vector<Bytes> slices;
    slices.push_back(ReadWholeFile(dir.File(folder + "/Setup.exe")));
    for (int n = 1; n < 1000; ++n) {
      char name[32];
      snprintf(name, sizeof name, "/Setup.%03d", n);
      if (!Exists(dir.File(folder + name))) break;
      slices.push_back(ReadWholeFile(dir.File(folder + name)));
    }
    // only the setup program and its slices, no temporary file left
    EXPECT_EQ(slices.size(), ListOf(folder).size());
    // the setup program, then the record of the slices' digests
    const Bytes stub = FakeStub();
    EXPECT_EQ(stub, slices[0].substr(0, stub.size()));
    Bytes record = slices[0].substr(stub.size());
    EXPECT_EQ(SliceRecordSize((uint32_t)slices.size() - 1), record.size());
    EXPECT_EQ(slices.size() - 1, SliceRecordCount((const unsigned char*)record.data(), (uint32_t)record.size()));
    Bytes joined = stub;
    for (size_t i = 1; i < slices.size(); ++i) {
      joined += slices[i];
      EXPECT_EQ(Sha(slices[i]), Bytes((const char*)SliceRecordDigest((const unsigned char*)record.data(), (uint32_t)i),
                                      SHA256_SIZE))
          << "slice " << i;
    }
    EXPECT_TRUE(joined == whole) << "the program and the slices differ from the unsplit file";
    EXPECT_FALSE(EndsWith(slices[0], Signature()));
    EXPECT_FALSE(EndsWith(slices[0], Uninstaller()));
    for (size_t i = 1; i < slices.size(); ++i) {
      EXPECT_LE(slices[i].size(), limit) << "slice " << i;
      EXPECT_EQ(i + 1 == slices.size(), EndsWith(slices[i], Signature())) << "slice " << i;
    }
    EXPECT_GE(slices.back().size(), 16u);
    return slices;
  }

  std::vector<std::string> ListOf(const std::string& folder) {
    std::vector<std::string> names;
    for (const std::string& n : dir.List())
      if (n.rfind(folder + "/", 0) == 0) names.push_back(n);
    return names;
  }

  TempDir dir;
  Project project{dir};
  Bytes whole;
};

TEST_F(Split, HundredKSlicesOfAMegabyteJoinIntoTheUnsplitFile) {
  std::vector<Bytes> slices = BuildSplit("100K", 100 * 1024, "split");
  EXPECT_EQ(12u, slices.size());  // stub + ceil(~1 MB / 100 KiB)
}

TEST_F(Split, ALastSliceUnderSixteenBytesIsAvoided) {
  const uint64_t container = whole.size() - FakeStub().size();
  uint64_t size = 100 * 1024;
  while (container % size == 0 || container % size >= 16) --size;
  std::vector<Bytes> slices = BuildSplit(std::to_string(size), size, "short");
  EXPECT_EQ(16u, slices.back().size());
}

TEST_F(Split, NoSliceButTheLastEndsWithTheSignatureEvenWhenAFileHoldsIt) {
  // a stored file that contains the installer signature, cut right after it
  Bytes payload = RandomBytes(300000, 7);
  payload.replace(100000, 16, Signature());
  WriteWholeFile(dir.File("payload.bin"), payload);
  ASSERT_EQ(0, project.Build(dir.File("whole/Setup.exe"), {"--store"}).Code);
  whole = ReadWholeFile(dir.File("whole/Setup.exe"));
  size_t at = whole.find(Signature());
  ASSERT_LT(at, whole.size() - 16);
  size_t size = at + 16 - FakeStub().size();
  std::vector<Bytes> slices = BuildSplit(std::to_string(size), size, "sig", {"--store"});
  EXPECT_EQ(size - 1, slices[1].size());
}

TEST_F(Split, TooManySlicesIsAUsageErrorAndWritesNothing) {
  RunResult r = project.Build(dir.File("many/Setup.exe"), {"--split", "1000"});
  EXPECT_EQ(2, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("slices; a split setup has at most 999")) << r.Err;
  EXPECT_TRUE(ListOf("many").empty());
}

TEST_F(Split, SliceNamesDropOnlyTheExtensionOfTheFileName) {
  RunResult r = project.Build(dir.File("v1.2/Setup"), {"--split", "600K"});
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ((std::vector<std::string>{"v1.2/Setup", "v1.2/Setup.001", "v1.2/Setup.002"}), ListOf("v1.2"));
}

// The first slice names its slices by their digests: verify finds another
// build's slice of the same size, a missing one, and passes the right set.
TEST_F(Split, VerifyOnAFirstSliceChecksEachSliceAgainstItsRecord) {
  std::vector<Bytes> a = BuildSplit("300K", 300 * 1024, "a");
  ASSERT_EQ(5u, a.size());
  RunResult r = RunQuillset({"verify", dir.File("a/Setup.exe")});
  EXPECT_EQ(0, r.Code) << r.Err;
  EXPECT_NE(std::string::npos, r.Out.find("all 4 slices are the ones it was built with")) << r.Out;
  EXPECT_NE(std::string::npos, RunQuillset({"list", dir.File("a/Setup.exe")}).Out.find("record of its 4 slices"));

  WriteWholeFile(dir.File("payload.bin"), RandomBytes(1 << 20, 44));
  ASSERT_EQ(0, project.Build(dir.File("b/Setup.exe"), {"--split", "300K"}).Code);
  const Bytes other = ReadWholeFile(dir.File("b/Setup.002"));
  ASSERT_EQ(a[2].size(), other.size());
  WriteWholeFile(dir.File("a/Setup.002"), other);
  r = RunQuillset({"verify", dir.File("a/Setup.exe")});
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("Setup.002: not the slice")) << r.Err;
  EXPECT_EQ(std::string::npos, r.Err.find("Setup.001")) << r.Err;

  WriteWholeFile(dir.File("a/Setup.002"), a[2]);
  ASSERT_EQ(0, unlink(dir.File("a/Setup.004").c_str()));
  r = RunQuillset({"verify", dir.File("a/Setup.exe")});
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("Setup.004: missing")) << r.Err;
}

// A split build that fails while putting its slices in place (a folder
// where a slice goes, as a file another program holds open would) leaves
// the earlier complete set exactly as it was, and nothing else.
TEST_F(Split, AFailedSplitBuildLeavesTheEarlierSetAsItWas) {
  ASSERT_EQ(0, project.Build(dir.File("set/Setup.exe"), {"--split", "400K"}).Code);
  const std::vector<std::string> names = ListOf("set");
  ASSERT_EQ((std::vector<std::string>{"set/Setup.001", "set/Setup.002", "set/Setup.003", "set/Setup.exe"}), names);
  std::vector<Bytes> before;
  for (const std::string& n : names) before.push_back(ReadWholeFile(dir.File(n)));

  // a new payload, more slices; the fifth cannot be written
  WriteWholeFile(dir.File("payload.bin"), RandomBytes(1 << 20, 43));
  ASSERT_EQ(0, mkdir(dir.File("set/Setup.005").c_str(), 0755));
  RunResult r = project.Build(dir.File("set/Setup.exe"), {"--split", "200K"});
  EXPECT_NE(0, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("Setup.005")) << r.Err;
  rmdir(dir.File("set/Setup.005").c_str());
  EXPECT_EQ(names, ListOf("set")) << "a slice or a temporary file was left, or one went";
  for (size_t i = 0; i < names.size(); ++i)
    EXPECT_TRUE(before[i] == ReadWholeFile(dir.File(names[i]))) << names[i] << " changed";

  // the same build, nothing in the way, replaces the whole set
  r = project.Build(dir.File("set/Setup.exe"), {"--split", "200K"});
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_FALSE(before[0] == ReadWholeFile(dir.File("set/Setup.001")));
  EXPECT_TRUE(Exists(dir.File("set/Setup.006")));
}

TEST(Reproducible, SameInputsGiveTheSameBytesOnAnyNumberOfThreads) {
  TempDir dir;
  Project project(dir);
  std::string script = "QSP40\n[Global]\nApplicationName = R\n[Files]\n";
  for (int i = 0; i < 40; ++i) {
    std::string name = "f" + std::to_string(i) + ".bin";
    // sizes around the codec's buffers and the parallel builder's memory cap
    size_t size = (size_t)(i % 8) * 40000 + (i == 7 ? 7 << 20 : 0) + (size_t)i;
    Bytes content = RandomBytes(size / 2, (unsigned)i) + Bytes(size - size / 2, (char)('a' + i % 26));
    WriteWholeFile(dir.File(name), content);
    SetMTimeNs(dir.File(name), 1500000000000000000LL + i * 123456789LL);
    script += name + ", %MAINDIR%" + name + "\n";
  }
  project.Write(script);
  SetMTimeNs(project.Path(), 1500000000000000000LL);
  ASSERT_EQ(0, project.Build(dir.File("a.exe"), {"-j", "1"}).Code);
  ASSERT_EQ(0, project.Build(dir.File("b.exe"), {"-j", "1"}).Code);
  ASSERT_EQ(0, project.Build(dir.File("c.exe"), {"-j", "4"}).Code);
  ASSERT_EQ(0, project.Build(dir.File("d.exe"), {"-j", "16"}).Code);
  Bytes a = ReadWholeFile(dir.File("a.exe"));
  EXPECT_TRUE(a == ReadWholeFile(dir.File("b.exe")));
  EXPECT_TRUE(a == ReadWholeFile(dir.File("c.exe"))) << "4 threads differ from one";
  EXPECT_TRUE(a == ReadWholeFile(dir.File("d.exe"))) << "16 threads differ from one";
  EXPECT_EQ(0, RunQuillset({"verify", "-q", dir.File("d.exe")}).Code);
}

}  // namespace
