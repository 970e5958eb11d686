// The builder's output against the container's byte layout, and the entry
// codec reading back what it wrote.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "efs/EFSBuilder.h"
#include "efs/EfsFormat.h"
#include "efs/EntryCodec.h"
#include "TestFiles.h"

namespace {

struct Parsed {
  EfsParseResult result;
  Bytes dir;
  std::vector<EfsEntry> entries;
};

Parsed ParseFile(const Bytes& file) {
  Parsed p;
  EFSTRAILER t;
  EfsDecodeTrailer((const unsigned char*)file.data() + file.size() - 24, &t);
  p.dir = file.substr(file.size() - t.DirectorySize);
  p.entries.resize(t.Count);
  p.result = EfsParseDirectory((const unsigned char*)p.dir.data(), t.DirectorySize, t.Count,
                               file.size(), p.entries.data());
  return p;
}

// Decodes from a byte string into a byte string, through the shared codec.
class MemoryDecode : public IEfsDecodeIo {
 public:
  MemoryDecode(const Bytes& src, size_t at) : m_Src(src), m_At(at) {}
  Bytes out;
  std::vector<uint32_t> progress;
  int Read(unsigned char* b, uint32_t n) override {
    if (m_At + n > m_Src.size()) return 0;
    memcpy(b, m_Src.data() + m_At, n);
    m_At += n;
    return 1;
  }
  int Write(const unsigned char* b, uint32_t n) override {
    out.append((const char*)b, n);
    return 1;
  }
  int Progress(uint64_t done, uint64_t) override {
    progress.push_back((uint32_t)done);
    return 1;
  }

 private:
  const Bytes& m_Src;
  size_t m_At;
};

EfsDecodeResult Decode(const Bytes& file, const EfsEntry& e, Bytes* out) {
  MemoryDecode io(file, e.DataOffset);
  std::vector<unsigned char> in(EFS_INPUT_BUFFER_SIZE), o(EFS_OUTPUT_BUFFER_SIZE);
  EfsDecodeResult r = EfsDecodeEntry(io, e, in.data(), o.data());
  *out = io.out;
  return r;
}

class Progress : public IEFSBuildProgress {
 public:
  explicit Progress(int cancelAt) : m_CancelAt(cancelAt) {}
  std::vector<int> seen;
  int OnProgress(int percent) override {
    seen.push_back(percent);
    return (int)seen.size() != m_CancelAt;
  }

 private:
  int m_CancelAt;
};

TEST(EFSBuilder, WritesEntriesSortedWithTheirDataInTheSameOrder) {
  TempDir d;
  WriteWholeFile(d.File("stub.exe"), Bytes(1000, 'S'));
  WriteWholeFile(d.File("b.txt"), "bbbb");
  WriteWholeFile(d.File("A.txt"), "AA");
  WriteWholeFile(d.File("c.txt"), "");
  CEFSBuilder b;
  b.SetStubFile(d.File("stub.exe").c_str());
  b.AddFile(d.File("b.txt").c_str(), 0);
  b.AddFile(d.File("A.txt").c_str(), 0);
  b.AddFile(d.File("c.txt").c_str(), 1);
  ASSERT_EQ(1, b.Build(d.File("out/setup.exe").c_str(), nullptr, InstallerSignature));

  Bytes file = ReadWholeFile(d.File("out/setup.exe"));
  EXPECT_EQ(Bytes(1000, 'S'), file.substr(0, 1000));
  EXPECT_EQ(Bytes((const char*)InstallerSignature, 16), file.substr(file.size() - 16));
  Parsed p = ParseFile(file);
  ASSERT_EQ(EFS_PARSE_OK, p.result);
  ASSERT_EQ(3u, p.entries.size());
  EXPECT_STREQ("A.txt", p.entries[0].Name);
  EXPECT_STREQ("b.txt", p.entries[1].Name);
  EXPECT_STREQ("c.txt", p.entries[2].Name);
  EXPECT_EQ(1000u, p.entries[0].DataOffset);  // the first data offset is the stub size
  EXPECT_EQ("AAbbbb", file.substr(1000, 6));
  EXPECT_EQ(24u + 3 * (24 + 6), (uint32_t)p.dir.size());
  // an empty source compressed is the 8-byte empty stream, crc 0
  EXPECT_EQ(Bytes("\x78\x9C\x03\x00\x00\x00\x00\x01", 8), file.substr(p.entries[2].DataOffset, 8));
  EXPECT_EQ(8u, p.entries[2].StoredSize);
  EXPECT_EQ(0u, p.entries[2].Crc);
  EXPECT_EQ((uint32_t)EFS_METHOD_ZLIB, p.entries[2].Method);
  // the entry time is the source's last write time as a FILETIME
  struct stat st;
  stat(d.File("A.txt").c_str(), &st);
  uint64_t ft = p.entries[0].Time;
  EXPECT_EQ(116444736000000000ULL + (uint64_t)st.st_mtime * 10000000ULL + st.st_mtim.tv_nsec / 100, ft);
}

TEST(EFSBuilder, NoEntriesGiveAPlainCopyOfTheStub) {
  TempDir d;
  Bytes stub = Bytes(5000, 'S') + "end";
  WriteWholeFile(d.File("stub.exe"), stub);
  CEFSBuilder b;
  b.SetStubFile(d.File("stub.exe").c_str());
  ASSERT_EQ(1, b.Build(d.File("setup.exe").c_str(), nullptr, InstallerSignature));
  EXPECT_EQ(stub, ReadWholeFile(d.File("setup.exe")));
}

TEST(EFSBuilder, RefusesWhatItCannotUseAndNamesTheFile) {
  TempDir d;
  WriteWholeFile(d.File("stub.exe"), "S");
  mkdir(d.File("a").c_str(), 0777);
  mkdir(d.File("b").c_str(), 0777);
  WriteWholeFile(d.File("a/Readme.txt"), "1");
  WriteWholeFile(d.File("b/README.TXT"), "2");
  CEFSBuilder b;
  b.SetStubFile(d.File("stub.exe").c_str());
  b.AddFile(d.File("a/Readme.txt").c_str(), 1);
  try {
    b.AddFile(d.File("b/README.TXT").c_str(), 1);
    ADD_FAILURE() << "duplicate accepted";
  } catch (EFSBUILDERERROR e) {
    EXPECT_EQ(EFSB_ERR_DUPLICATE, e);
    EXPECT_STREQ("README.TXT", CEFSBuilder::ErrorFileName);
    EXPECT_EQ(EFSB_ERR_DUPLICATE, b.LastFailure().Error);
    EXPECT_EQ("README.TXT", b.LastFailure().File);
  }
  EXPECT_EQ(1u, b.GetEntryCount());
  EXPECT_EQ(2u, b.GetTotal());  // a refused duplicate still counts in the total

  std::string missing = d.File("missing.txt");
  try {
    b.AddFile(missing.c_str(), 1);
    ADD_FAILURE() << "missing source accepted";
  } catch (EFSBUILDERERROR e) {
    EXPECT_EQ(EFSB_ERR_NOT_FOUND, e);
    EXPECT_EQ(missing, CEFSBuilder::ErrorFileName);
    EXPECT_EQ(missing, b.LastFailure().File);
    EXPECT_EQ(ENOENT, b.LastFailure().SystemError);
  }
  // a source that goes away before the build: the output does not survive
  WriteWholeFile(d.File("gone.txt"), "x");
  b.AddFile(d.File("gone.txt").c_str(), 0);
  unlink(d.File("gone.txt").c_str());
  try {
    b.Build(d.File("setup.exe").c_str(), nullptr, InstallerSignature);
    ADD_FAILURE() << "build without its source succeeded";
  } catch (EFSBUILDERERROR e) {
    EXPECT_EQ(EFSB_ERR_NOT_FOUND, e);
    EXPECT_EQ(d.File("gone.txt"), CEFSBuilder::ErrorFileName);
    EXPECT_EQ(d.File("gone.txt"), b.LastFailure().File);
  }
  EXPECT_FALSE(Exists(d.File("setup.exe")));
}

TEST(EFSBuilder, ProgressRisesToAHundredAndACancelLeavesNoOutput) {
  TempDir d;
  WriteWholeFile(d.File("stub.exe"), Bytes(100, 'S'));
  WriteWholeFile(d.File("big.bin"), Bytes(100000, 'x'));
  CEFSBuilder b;
  b.SetStubFile(d.File("stub.exe").c_str());
  b.AddFile(d.File("big.bin").c_str(), 1);
  Progress all(0);
  ASSERT_EQ(1, b.Build(d.File("setup.exe").c_str(), &all, InstallerSignature));
  ASSERT_FALSE(all.seen.empty());
  EXPECT_EQ(100 * 100 / 100100, all.seen.front());
  EXPECT_EQ(100, all.seen.back());
  for (size_t i = 1; i < all.seen.size(); ++i) EXPECT_LE(all.seen[i - 1], all.seen[i]);

  for (int at : {1, 2}) {
    Progress cancel(at);
    EXPECT_EQ(0, b.Build(d.File("cancelled.exe").c_str(), &cancel, InstallerSignature)) << at;
    EXPECT_FALSE(Exists(d.File("cancelled.exe"))) << at;
  }
}

// A solid directory past what every reader takes (64 MiB decoded) would be
// written and then refused as damaged: the build refuses it first, before
// any content is compressed, and leaves no output. Just below it, the
// build goes on (cancelled here at its first report, to stay quick).
TEST(EFSBuilder, ASolidDirectoryTooLargeForTheReaderIsRefusedBeforeAnythingIsWritten) {
  TempDir d;
  WriteWholeFile(d.File("stub.exe"), "S");
  WriteWholeFile(d.File("empty.txt"), "");
  CEFSBuilder b;
  b.SetCompression(EFS_METHOD_LZMA);
  b.SetStubFile(d.File("stub.exe").c_str());
  // 255-byte names that share at most their first five digits: some 281
  // bytes of directory each
  const std::string source = d.File("empty.txt");
  char name[256];
  memset(name, 'n', 255);
  name[255] = '\0';
  unsigned added = 0;
  auto addUpTo = [&](unsigned count) {
    for (; added < count; ++added) {
      snprintf(name, sizeof name, "%06u", added);
      name[6] = 'n';
      b.AddFile(source.c_str(), 0, name);
    }
  };
  addUpTo(230000);  // about 64.6 MB
  Progress cancel(1);
  EXPECT_EQ(0, b.Build(d.File("fits.exe").c_str(), &cancel, InstallerSignature));
  EXPECT_FALSE(Exists(d.File("fits.exe")));

  addUpTo(240000);  // about 67.4 MB
  Progress never(0);
  try {
    b.Build(d.File("setup.exe").c_str(), &never, InstallerSignature);
    ADD_FAILURE() << "a directory no reader takes was built";
  } catch (EFSBUILDERERROR e) {
    EXPECT_EQ(EFSB_ERR_TOO_MANY, e);
    EXPECT_EQ(d.File("setup.exe"), b.LastFailure().File);
  }
  EXPECT_TRUE(never.seen.empty()) << "refused only after it began";
  EXPECT_FALSE(Exists(d.File("setup.exe")));

  // the same count of entries in the other container: its own limits hold
  b.SetCompression(EFS_METHOD_ZLIB);
  Progress cancelZlib(1);
  EXPECT_EQ(0, b.Build(d.File("zlib.exe").c_str(), &cancelZlib, InstallerSignature));
}

TEST(EntryCodec, RoundTripsEverySizeAroundTheBufferEdges) {
  TempDir d;
  WriteWholeFile(d.File("stub.exe"), Bytes(512, 'S'));
  CEFSBuilder b;
  b.SetStubFile(d.File("stub.exe").c_str());
  std::vector<std::pair<std::string, Bytes>> sources;
  for (size_t n : {0, 1, 32767, 32768, 32769, 65536, 5 << 20}) {
    sources.push_back({"r" + std::to_string(n) + ".bin", RandomBytes(n, (unsigned)n)});
    sources.push_back({"t" + std::to_string(n) + ".txt", Compressible(n)});
  }
  int i = 0;
  for (auto& s : sources) {
    WriteWholeFile(d.File(s.first), s.second);
    b.AddFile(d.File(s.first).c_str(), (i++ / 2) % 2);  // both kinds, compressed and stored
  }
  ASSERT_EQ(1, b.Build(d.File("setup.exe").c_str(), nullptr, InstallerSignature));
  Bytes file = ReadWholeFile(d.File("setup.exe"));
  Parsed p = ParseFile(file);
  ASSERT_EQ(EFS_PARSE_OK, p.result);
  ASSERT_EQ(sources.size(), p.entries.size());
  for (const EfsEntry& e : p.entries) {
    const Bytes* want = nullptr;
    for (auto& s : sources)
      if (s.first == e.Name) want = &s.second;
    ASSERT_TRUE(want) << e.Name;
    Bytes got;
    ASSERT_EQ(EFS_DECODE_OK, Decode(file, e, &got)) << e.Name;
    EXPECT_TRUE(got == *want) << e.Name << ": " << got.size() << " bytes back of " << want->size();
    if (e.Method == EFS_METHOD_ZLIB) EXPECT_EQ(Bytes("\x78\x9C", 2), file.substr(e.DataOffset, 2)) << e.Name;
    else EXPECT_EQ(want->size(), e.StoredSize) << e.Name;
  }
}

TEST(EntryCodec, ReportsCorruptionInsteadOfReturningWrongBytes) {
  TempDir d;
  WriteWholeFile(d.File("stub.exe"), "S");
  WriteWholeFile(d.File("data.txt"), Compressible(200000));
  WriteWholeFile(d.File("raw.bin"), RandomBytes(1000, 7));
  CEFSBuilder b;
  b.SetStubFile(d.File("stub.exe").c_str());
  b.AddFile(d.File("data.txt").c_str(), 1);
  b.AddFile(d.File("raw.bin").c_str(), 0);
  ASSERT_EQ(1, b.Build(d.File("setup.exe").c_str(), nullptr, InstallerSignature));
  Bytes file = ReadWholeFile(d.File("setup.exe"));
  Parsed p = ParseFile(file);
  ASSERT_EQ(EFS_PARSE_OK, p.result);
  const EfsEntry& text = p.entries[0];
  const EfsEntry& raw = p.entries[1];

  Bytes got;
  Bytes flipped = file;
  flipped[raw.DataOffset + 500] ^= 0x01;
  EXPECT_EQ(EFS_DECODE_CRC_MISMATCH, Decode(flipped, raw, &got));

  // a flipped byte in the deflate data: zlib or the crc notices
  for (uint64_t at : {text.DataOffset + 2, text.DataOffset + text.StoredSize / 2,
                      text.DataOffset + text.StoredSize - 2}) {
    flipped = file;
    flipped[at] ^= 0x40;
    EfsDecodeResult r = Decode(flipped, text, &got);
    EXPECT_TRUE(r == EFS_DECODE_CORRUPT || r == EFS_DECODE_CRC_MISMATCH) << at << " gave " << r;
  }
  // a stream cut short ends in an error, never in success
  EfsEntry cut = text;
  cut.StoredSize = text.StoredSize / 2;
  EXPECT_EQ(EFS_DECODE_CORRUPT, Decode(file, cut, &got));
  // stored bytes after the end of the stream are ignored
  Bytes padded = file.substr(0, text.DataOffset + text.StoredSize) + "garbage";
  EfsEntry longer = text;
  longer.StoredSize += 7;
  EXPECT_EQ(EFS_DECODE_OK, Decode(padded, longer, &got));
  EXPECT_EQ(Compressible(200000), got);
}

TEST(EntryCodec, ProgressThrottleReportsFirstThenOncePerInterval) {
  CEfsProgressThrottle t(500);
  EXPECT_TRUE(t.Due(0));  // the first is always due, even at clock 0
  t.Mark(0);
  EXPECT_FALSE(t.Due(499));
  EXPECT_TRUE(t.Due(500));
  t.Mark(1000);
  EXPECT_FALSE(t.Due(1499));
  EXPECT_TRUE(t.Due(1500));
}

}  // namespace

namespace {

// Opens a container image the way the reader does and decodes every entry.
// Returns true when it opened; `same` tells whether every entry came back as
// in `original`. An entry that decodes without error yet differs counts in g_Wrong.
int g_Wrong;
bool OpenAndDecodeAll(const Bytes& file, const std::vector<Bytes>& original, bool* same) {
  *same = false;
  if (file.size() < 24) return false;
  EFSTRAILER t;
  EfsDecodeTrailer((const unsigned char*)file.data() + file.size() - 24, &t);
  if (t.DirectorySize < 24 || t.DirectorySize > file.size() || t.Count > EfsMaxEntries(t.DirectorySize))
    return false;
  // exactly the directory on the heap, so that ASan sees a read past it
  std::vector<unsigned char> dir(file.end() - t.DirectorySize, file.end());
  std::vector<EfsEntry> entries(t.Count);
  if (EfsParseDirectory(dir.data(), t.DirectorySize, t.Count, file.size(), entries.data()) != EFS_PARSE_OK)
    return false;
  bool all = entries.size() == original.size();
  for (size_t i = 0; i < entries.size(); ++i) {
    Bytes got;
    if (Decode(file, entries[i], &got) != EFS_DECODE_OK) {
      all = false;
      continue;
    }
    if (i >= original.size() || got != original[i]) {
      all = false;
      ++g_Wrong;
    }
  }
  *same = all;
  return true;
}

TEST(EntryCodec, TruncatedOrFlippedSetupFilesNeverReadWrongData) {
  TempDir d;
  WriteWholeFile(d.File("stub.exe"), RandomBytes(4096, 3));
  std::vector<Bytes> contents = {Compressible(70000), RandomBytes(5000, 4), Bytes(), Compressible(300)};
  const char* names[] = {"a.txt", "b.bin", "c.txt", "d.txt"};
  CEFSBuilder b;
  b.SetStubFile(d.File("stub.exe").c_str());
  for (int i = 0; i < 4; ++i) {
    WriteWholeFile(d.File(names[i]), contents[i]);
    b.AddFile(d.File(names[i]).c_str(), i != 1);
  }
  ASSERT_EQ(1, b.Build(d.File("setup.exe").c_str(), nullptr, InstallerSignature));
  Bytes file = ReadWholeFile(d.File("setup.exe"));
  bool same = false;
  ASSERT_TRUE(OpenAndDecodeAll(file, contents, &same));
  ASSERT_TRUE(same);

  int opened = 0;
  g_Wrong = 0;
  for (int i = 0; i < 200; ++i) {
    // whatever happens, it must not crash or read outside the bytes (ASan),
    // and a decode that succeeds must give the original bytes
    size_t length = file.size() * i / 200;
    opened += OpenAndDecodeAll(file.substr(0, length), contents, &same);
    Bytes flipped = file;
    size_t at = file.size() * i / 200;
    flipped[at] ^= 0x5A;
    bool opens = OpenAndDecodeAll(flipped, contents, &same);
    // a flip in the stub leaves everything intact
    if (at < 4096) {
      EXPECT_TRUE(opens && same) << at;
    }
  }
  EXPECT_EQ(0, g_Wrong) << "bytes came back wrong without an error";
  EXPECT_EQ(0, opened) << "a truncated file has no valid trailer";
}

}  // namespace
