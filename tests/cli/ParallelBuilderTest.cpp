// The builder on several threads: the bytes of a one-thread build, the same
// failure as a one-thread build (the first entry in name order), progress
// that rises to 100 and a cancel that leaves nothing.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>

#include "CliSupport.h"
#include "efs/EFSBuilder.h"
#include "efs/EfsFormat.h"

namespace {

class Progress : public IEFSBuildProgress {
 public:
  explicit Progress(int cancelAt = 0) : m_CancelAt(cancelAt) {}
  std::vector<int> Seen;
  uint64_t LastDone = 0, All = 0;
  int OnProgress(int percent) override {
    Seen.push_back(percent);
    return m_CancelAt == 0 || (int)Seen.size() < m_CancelAt;
  }
  void OnBytes(uint64_t done, uint64_t all, const char*) override {
    LastDone = done;
    All = all;
  }

 private:
  int m_CancelAt;
};

class ParallelBuilder : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteWholeFile(dir.File("stub.exe"), FakeStub(1000));
    for (int i = 0; i < 24; ++i) {
      std::string name = dir.File("e" + std::to_string(100 + i) + ".bin");
      size_t size = i == 5 ? (9u << 20) : (size_t)(i * 37000);  // one beyond the memory cap
      WriteWholeFile(name, RandomBytes(size / 3, (unsigned)i) + Bytes(size - size / 3, 'z'));
      names.push_back(name);
    }
  }
  void Add(CEFSBuilder& b, unsigned threads) {
    b.SetStubFile(dir.File("stub.exe").c_str());
    b.SetThreads(threads);
    for (const std::string& n : names) b.AddFile(n.c_str(), 1);
  }
  TempDir dir;
  std::vector<std::string> names;
};

TEST_F(ParallelBuilder, WritesTheBytesOfAOneThreadBuild) {
  CEFSBuilder one, four;
  Add(one, 1);
  Add(four, 4);
  ASSERT_EQ(1, one.Build(dir.File("one.exe").c_str(), nullptr, InstallerSignature));
  Progress progress;
  ASSERT_EQ(1, four.Build(dir.File("four.exe").c_str(), &progress, InstallerSignature));
  EXPECT_TRUE(ReadWholeFile(dir.File("one.exe")) == ReadWholeFile(dir.File("four.exe")));
  ASSERT_FALSE(progress.Seen.empty());
  for (size_t i = 1; i < progress.Seen.size(); ++i) EXPECT_LE(progress.Seen[i - 1], progress.Seen[i]);
  EXPECT_EQ(100, progress.Seen.back());
  EXPECT_EQ(progress.All, progress.LastDone);
}

TEST_F(ParallelBuilder, FailsOnTheFirstMissingSourceInNameOrderAndLeavesNoOutput) {
  CEFSBuilder b;
  Add(b, 4);
  remove(names[20].c_str());
  remove(names[7].c_str());
  try {
    b.Build(dir.File("out.exe").c_str(), nullptr, InstallerSignature);
    ADD_FAILURE() << "no failure";
  } catch (EFSBUILDERERROR e) {
    EXPECT_EQ(EFSB_ERR_NOT_FOUND, e);
    EXPECT_EQ(names[7], CEFSBuilder::ErrorFileName);
  }
  EXPECT_FALSE(Exists(dir.File("out.exe")));
}

TEST_F(ParallelBuilder, ACancelLeavesNoOutput) {
  for (int at : {1, 2, 3}) {
    CEFSBuilder b;
    Add(b, 3);
    Progress cancel(at);
    EXPECT_EQ(0, b.Build(dir.File("out.exe").c_str(), &cancel, InstallerSignature)) << at;
    EXPECT_FALSE(Exists(dir.File("out.exe"))) << at;
  }
}

// quillset build on many small files: two threads touch no more memory than
// one (an entry waiting for its turn held a buffer of the whole cap, a fresh
// mapping each, and -j 2 ran slower than -j 1), and by default no more
// threads than the processors it may run on.
TEST(ParallelBuild, ManySmallFilesCostNoMoreOnTwoThreadsAndTheDefaultFitsTheProcessors) {
  TempDir dir;
  Project project(dir);
  std::string script = "QSP40\n[Global]\nApplicationName = Many\n[Files]\n";
  for (int i = 0; i < 600; ++i) {
    const std::string name = "s" + std::to_string(1000 + i) + ".txt";
    WriteWholeFile(dir.File(name), RandomBytes(200 + (size_t)(i * 7 % 900), (unsigned)i) + Bytes(3000, 'q'));
    script += name + ", %MAINDIR%" + name + "\n";
  }
  project.Write(script);
  auto faults = [&](const char* threads) {
    rusage before, after;
    getrusage(RUSAGE_CHILDREN, &before);
    EXPECT_EQ(0, project.Build(dir.File(std::string("j") + threads + ".exe"), {"-j", threads}).Code);
    getrusage(RUSAGE_CHILDREN, &after);
    return after.ru_minflt - before.ru_minflt;
  };
  const long one = faults("1"), two = faults("2");
  EXPECT_LE(two, one * 13 / 10) << "minor page faults: " << one << " on one thread, " << two << " on two";
  EXPECT_TRUE(ReadWholeFile(dir.File("j1.exe")) == ReadWholeFile(dir.File("j2.exe")));

  cpu_set_t all, first;
  ASSERT_EQ(0, sched_getaffinity(0, sizeof all, &all));
  CPU_ZERO(&first);
  for (int c = 0; c < CPU_SETSIZE; ++c)
    if (CPU_ISSET(c, &all)) {
      CPU_SET(c, &first);
      break;
    }
  ASSERT_EQ(0, sched_setaffinity(0, sizeof first, &first));
  RunResult r = RunQuillset({"build", "--stub", dir.File("stub.exe"), "-o", dir.File("d.exe"), project.Path()});
  sched_setaffinity(0, sizeof all, &all);
  EXPECT_NE(std::string::npos, r.Out.find(" on 1 thread\n")) << r.Out << r.Err;
}

}  // namespace
