// The reader against setup files made by the builder, on real files.
#include <gtest/gtest.h>
#include <windows.h>

#include <zlib.h>

#include "../FakeSignature.h"
#include "TestPaths.h"
#include "TestSetups.h"
#include "TestSupport.h"
#include "efs/EFSBuilder.h"
#include "efs/EfsFormat.h"
#include "efs/ExeFileSystem.h"
#include "uninstall/UninstallLogger.h"

namespace {

FILETIME TimeOf(const std::string& path, int which) {
  FILETIME t[3] = {};
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  GetFileTime(h, &t[0], &t[1], &t[2]);
  CloseHandle(h);
  return t[which];
}

bool SameTime(FILETIME a, FILETIME b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

std::vector<unsigned long> g_Calls;
int g_CancelAt;
int Record(unsigned long done, unsigned long, const char*) {
  g_Calls.push_back(done);
  return (int)g_Calls.size() != g_CancelAt;
}

volatile LONG g_Urgent;
int RaiseThenCancel(unsigned long done, unsigned long, const char*) {
  g_Calls.push_back(done);
  if (g_Calls.size() == 1) InterlockedExchange(&g_Urgent, 1);
  return g_Calls.size() < 2;
}

// With the urgent flag up every chunk reports, whatever the interval, so a
// pause (and the cancel after it) is heard at once; with it down an entry
// reports once an hour-long interval. Stored, zlib and solid LZMA alike.
TEST(ExeFileSystem, AnUrgentFlagMakesTheNextChunkReportAtOnce) {
  for (EfsMethod method : {EFS_METHOD_STORED, EFS_METHOD_ZLIB, EFS_METHOD_LZMA}) {
    SCOPED_TRACE(EfsMethodName(method));
    TempFolder dir;
    WriteWholeFile(dir.File("stub.exe"), std::string(3000, 'S'));
    WriteWholeFile(dir.File("big.txt"), Compressible(6 << 20));
    CEFSBuilder b;
    b.SetCompression(method);
    b.SetStubFile(dir.File("stub.exe").c_str());
    b.AddFile(dir.File("big.txt").c_str(), method != EFS_METHOD_STORED);
    const std::string setup = dir.File("setup.exe");
    ASSERT_EQ(1, b.Build(setup.c_str(), nullptr, InstallerSignature));
    CExeFileSystem efs;
    efs.Open(setup.c_str());
    efs.SetUrgentFlag(&g_Urgent);
    const std::string out = dir.File("out\\big.txt");
    g_Calls.clear();
    g_Urgent = 0;
    EXPECT_EQ(0, efs.ExtractFile("big.txt", out.c_str(), 1, RaiseThenCancel, 3600000));
    EXPECT_EQ(2u, g_Calls.size());
    EXPECT_FALSE(PathExists(out));
    g_Calls.clear();
    g_Urgent = 0;
    g_CancelAt = -1;
    EXPECT_EQ(1, efs.ExtractFile("big.txt", out.c_str(), 1, Record, 3600000));
    EXPECT_EQ(1u, g_Calls.size());
    EXPECT_TRUE(ReadWholeFile(out) == Compressible(6 << 20));
  }
}

TEST(ExeFileSystem, ExtractsEverySizeBackWithItsTime) {
  TempFolder dir;
  std::vector<std::pair<std::string, std::string>> files;
  for (size_t n : {0, 1, 32767, 32768, 32769, 65536, 5 << 20}) {
    files.push_back({"r" + std::to_string(n) + ".bin", RandomBytes(n, (unsigned)n)});
    files.push_back({"t" + std::to_string(n) + ".txt", Compressible(n)});
    files.push_back({"u" + std::to_string(n) + ".txt", Compressible(n)});
  }
  std::string setup = BuildTestSetup(dir, "setup.exe", files);
  CExeFileSystemLogged efs;
  efs.Open(setup.c_str());
  ASSERT_EQ(files.size(), efs.GetCount());
  EXPECT_EQ(3000u, efs.GetStubSize());
  EXPECT_EQ(3000u, efs.FindEntry(efs.GetName(0))->DataOffset);
  for (auto& f : files) {
    std::string out = dir.File(("out\\sub\\" + f.first).c_str());
    ASSERT_EQ(1, efs.ExtractFile(f.first.c_str(), out.c_str(), 1, NULL, 500)) << f.first;
    // times first: reading the content moves the access time
    FILETIME t = efs.GetEntryTime(f.first.c_str());
    for (int which = 0; which < 3; ++which) EXPECT_TRUE(SameTime(t, TimeOf(out, which))) << f.first << which;
    EXPECT_TRUE(ReadWholeFile(out) == f.second) << f.first;
  }
  EXPECT_TRUE(efs.Exists("T1.TXT"));
}

TEST(ExeFileSystem, LooksUpWithoutCaseAndRefusesWhatIsNotThere) {
  TempFolder dir;
  std::string setup = BuildTestSetup(dir, "setup.exe", {{"Translations.ini", "[Strings]"}, {"default.qsp", "QSP40"}});
  CExeFileSystem efs;
  EXPECT_EQ(0u, efs.GetCount());
  EXPECT_EQ(0, efs.Exists("default.qsp"));
  efs.Open(setup.c_str());
  EXPECT_EQ(1, efs.Exists("TRANSLATIONS.INI"));
  EXPECT_EQ(0, efs.Exists("missing.txt"));
  EXPECT_EQ(NULL, efs.GetName(-1));
  EXPECT_EQ(NULL, efs.GetName((int)efs.GetCount()));
  EXPECT_EQ(0u, efs.GetStoredSize("missing.txt"));
  EXPECT_EQ(0u, efs.GetEntryCrc("missing.txt"));
  DWORD stored = 7;
  EXPECT_EQ(INVALID_HANDLE_VALUE, efs.OpenEntryData("missing.txt", &stored));
  EXPECT_EQ(7u, stored);
  EXPECT_EQ(0, efs.ExtractFile("missing.txt", dir.File("m.txt").c_str(), 1, NULL, 500));
  EXPECT_FALSE(PathExists(dir.File("m.txt")));

  // overwrite off: an existing file stays as it was
  WriteWholeFile(dir.File("keep.qsp"), "mine");
  EXPECT_EQ(0, efs.ExtractFile("default.qsp", dir.File("keep.qsp").c_str(), 0, NULL, 500));
  EXPECT_EQ("mine", ReadWholeFile(dir.File("keep.qsp")));

  EXPECT_EQ(EFS_ERR_OPEN, efs.Open(dir.File("absent.exe").c_str()));
  EXPECT_EQ(0u, efs.GetCount());  // a failed Open leaves the reader empty
  EXPECT_EQ(0, efs.Exists("default.qsp"));
}

TEST(ExeFileSystem, FailuresLeaveNoDestination) {
  TempFolder dir;
  std::string setup = BuildTestSetup(dir, "setup.exe", {{"a.bin", RandomBytes(200000, 1)}, {"b.bin", RandomBytes(1000, 2)}});
  CExeFileSystem efs;
  efs.Open(setup.c_str());

  // a corrupt stored byte: the CRC error leaves the extraction, the file does not stay
  std::string bytes = ReadWholeFile(setup);
  std::string corrupt = dir.File("corrupt.exe");
  bytes[efs.FindEntry("b.bin")->DataOffset + 10] ^= 1;
  WriteWholeFile(corrupt, bytes);
  CExeFileSystem bad;
  ASSERT_EQ(EFS_OK, bad.Open(corrupt.c_str()));
  EXPECT_EQ(EXTRACT_CORRUPT, bad.ExtractFile("b.bin", dir.File("b.out").c_str(), 1, NULL, 500));
  EXPECT_FALSE(PathExists(dir.File("b.out")));

  // cancel at the first report
  g_Calls.clear();
  g_CancelAt = 1;
  EXPECT_EQ(0, efs.ExtractFile("a.bin", dir.File("a.out").c_str(), 1, Record, 500));
  EXPECT_FALSE(PathExists(dir.File("a.out")));

  // one chunk: one report with everything done; an empty entry: one report of 0
  g_Calls.clear();
  g_CancelAt = 0;
  ASSERT_EQ(1, efs.ExtractFile("b.bin", dir.File("b.out").c_str(), 1, Record, 500));
  EXPECT_EQ(std::vector<unsigned long>{1000}, g_Calls);

  // the container shrinks after Open (the reader's handle lets a writer in,
  // as nothing was held between extractions before): a short read, no destination
  std::string shrunk = dir.File("shrunk.exe");
  WriteWholeFile(shrunk, ReadWholeFile(setup));
  CExeFileSystem later;
  later.Open(shrunk.c_str());
  HANDLE writer = CreateFileA(shrunk.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, writer) << "error " << GetLastError();
  SetFilePointer(writer, 4000, NULL, FILE_BEGIN);
  EXPECT_TRUE(SetEndOfFile(writer));
  CloseHandle(writer);
  EXPECT_EQ(0, later.ExtractFile("a.bin", dir.File("s.out").c_str(), 1, NULL, 500));
  EXPECT_FALSE(PathExists(dir.File("s.out")));
}

TEST(ExeFileSystem, TamperedDirectoriesAreRefusedAndLeaveTheReaderEmpty) {
  TempFolder dir;
  std::string setup = BuildTestSetup(dir, "setup.exe", {{"a.txt", "aaaa"}, {"b.txt", "bbbb"}});
  std::string good = ReadWholeFile(setup);
  size_t dirStart = good.size() - (24 + 2 * (24 + 6));
  struct Case { const char* what; size_t at; uint32_t value; } cases[] = {
      {"descending offsets", dirStart + 30, 0},
      {"offset past the data", dirStart + 30, 0x7FFFFFFF},
      {"name length past the records", dirStart + 20, 1000},
      {"count beyond the directory", good.size() - 24, 1000},
      {"directory larger than the file", good.size() - 20, 0x10000000},
  };
  for (const Case& c : cases) {
    std::string bytes = good;
    for (int i = 0; i < 4; ++i) bytes[c.at + i] = (char)(c.value >> (8 * i));
    std::string path = dir.File("tampered.exe");
    WriteWholeFile(path, bytes);
    CExeFileSystem efs;
    EXPECT_EQ(EFS_ERR_IO, efs.Open(path.c_str())) << c.what;
    EXPECT_EQ(0u, efs.GetCount()) << c.what;
  }
}

TEST(ExeFileSystem, LoggedExtractionRecordsFoldersThenTheFile) {
  TempFolder dir;
  std::string setup = BuildTestSetup(dir, "setup.exe", {{"readme.txt", "hello"}});
  CExeFileSystemLogged efs;
  efs.Open(setup.c_str());
  CUninstallLogger log;
  ASSERT_EQ(1, log.CreateTempLog());
  std::string dest = dir.File("App\\Docs\\readme.txt");
  ASSERT_EQ(1, efs.ExtractFileLogged("readme.txt", dest.c_str(), 1, NULL, 500, &log));
  EXPECT_EQ(0, efs.ExtractFileLogged("nothere.txt", dir.File("App\\x.txt").c_str(), 1, NULL, 500, &log));
  log.CopyLogTo(dir.File("log").c_str());
  EXPECT_EQ("DirectoryCreated=" + dir.File("App") + "\nDirectoryCreated=" + dir.File("App\\Docs") +
                "\nFileCreated=" + dest + "\n",
            ReadWholeFile(dir.File("log")));
}

}  // namespace

namespace {

TEST(ExeFileSystem, AFullDiskIsToldApartAndLeavesNoPartialFile) {
  if (GetDriveTypeA("Q:\\") == DRIVE_NO_ROOT_DIR)
    GTEST_SKIP() << "no small drive Q: (mounting a tmpfs was not allowed)";
  TempFolder dir;
  std::string setup = BuildTestSetup(dir, "setup.exe", {{"big.bin", RandomBytes(1 << 20, 9)}, {"huge.bin", RandomBytes(1 << 20, 8)}});
  CExeFileSystem efs;
  efs.Open(setup.c_str());
  for (const char* name : {"big.bin", "huge.bin"}) {  // compressed and stored
    std::string dest = std::string("Q:\\") + name;
    SetLastError(0);
    const ExtractOutcome ended = efs.ExtractFile(name, dest.c_str(), 1, NULL, 500);
    EXPECT_EQ((DWORD)ERROR_DISK_FULL, GetLastError()) << name;
    EXPECT_EQ(EXTRACT_DISK_FULL, ended) << name;
    EXPECT_FALSE(PathExists(dest)) << name;
  }
}

}  // namespace

namespace {

TEST(ExeFileSystem, AnEmptyStoredEntryReportsOnceAndComesOutEmptyWithItsTime) {
  TempFolder dir;
  // the second file is stored uncompressed
  std::string setup = BuildTestSetup(dir, "setup.exe", {{"a.txt", "x"}, {"empty.txt", ""}});
  CExeFileSystem efs;
  efs.Open(setup.c_str());
  ASSERT_EQ(0, efs.IsCompressed("empty.txt"));
  g_Calls.clear();
  g_CancelAt = 0;
  std::string out = dir.File("empty.out");
  ASSERT_EQ(1, efs.ExtractFile("empty.txt", out.c_str(), 1, Record, 500));
  EXPECT_EQ(std::vector<unsigned long>{0}, g_Calls);
  EXPECT_TRUE(SameTime(efs.GetEntryTime("empty.txt"), TimeOf(out, 2)));
  EXPECT_EQ("", ReadWholeFile(out));
  EXPECT_TRUE(PathExists(out));
}

}  // namespace

namespace {

// Opens a variant and extracts every entry: success must give the original
// bytes, failure must be a refused Open or a failed extraction, never a crash.
TEST(ExeFileSystem, TruncatedOrFlippedSetupFilesFailCleanly) {
  TempFolder dir;
  std::vector<std::pair<std::string, std::string>> files = {
      {"a.txt", Compressible(70000)}, {"b.bin", RandomBytes(5000, 4)}, {"c.txt", Compressible(300)}};
  std::string setup = BuildTestSetup(dir, "setup.exe", files);
  std::string good = ReadWholeFile(setup);
  std::string variant = dir.File("variant.exe");
  int wrong = 0, opened = 0;
  for (int i = 0; i < 400; ++i) {
    std::string bytes = good;
    size_t at = good.size() * (i / 2) / 200;
    if (i % 2) bytes[at] ^= 0x5A;
    else bytes.resize(at);
    WriteWholeFile(variant, bytes);
    CExeFileSystem efs;
    if (efs.Open(variant.c_str()) != EFS_OK) continue;
    ++opened;
    for (DWORD e = 0; e < efs.GetCount(); ++e) {
      std::string name = efs.GetName((int)e);
      std::string out = dir.File("out.bin");
      const ExtractOutcome ended = efs.ExtractFile(name.c_str(), out.c_str(), 1, NULL, 500);
      EXPECT_TRUE(ended == EXTRACT_DONE || ended == EXTRACT_FAILED || ended == EXTRACT_CORRUPT) << ended;
      if (ended != EXTRACT_DONE) {
        EXPECT_FALSE(PathExists(out));
        continue;
      }
      // a flip inside a name renames the entry; its bytes must still be one original's
      std::string got = ReadWholeFile(out);
      bool original = false;
      for (auto& f : files) original = original || got == f.second;
      if (!original) ++wrong;
    }
  }
  EXPECT_EQ(0, wrong) << "an extraction succeeded with bytes other than the original";
  EXPECT_GT(opened, 0);
}

}  // namespace

namespace {

// Signing appends a certificate table behind the container; the reader
// finds the container, and the same program size, under it.
TEST(ExeFileSystem, ASignedSetupFileOpensUnderItsCertificateTable) {
  TempFolder dir;
  std::vector<SetupSource> files = {
      {"a.txt", Compressible(70000)}, {"b.bin", RandomBytes(5001, 5), true}, {"c.txt", Compressible(301)}};
  const std::string setup = dir.File("setup.exe");
  ASSERT_TRUE(BuildSetupOf(QS_STUB_PATH, dir.File("src"), files, setup));
  std::string bytes = ReadWholeFile(setup);
  ASSERT_TRUE(AppendFakeCertificate(bytes, 4096));
  WriteWholeFile(setup, bytes);

  CExeFileSystem efs;
  ASSERT_EQ(EFS_OK, efs.Open(setup.c_str()));
  EXPECT_EQ(ReadWholeFile(QS_STUB_PATH).size(), efs.GetStubSize());
  ASSERT_EQ(3u, efs.GetCount());
  for (auto& f : files) {
    const std::string out = dir.File(("out\\" + f.Name).c_str());
    EXPECT_EQ(1, efs.ExtractFile(f.Name.c_str(), out.c_str(), 1, NULL, 500)) << f.Name;
    EXPECT_TRUE(ReadWholeFile(out) == f.Content) << f.Name;
  }
}

// The builder writes files up to 4 GiB: an entry that starts past 2 GiB is
// read from where it is. The file is sparse: little disk, real offsets.
TEST(ExeFileSystem, AnEntryPastTwoGigabytesIsExtracted) {
  TempFolder dir;
  const std::string setup = dir.File("big-setup.exe");
  const std::string content = "far out in the file\r\n";
  const uint32_t offset = 0x90000000u;  // 2.25 GiB, negative as a LONG
  HANDLE h = CreateFileA(setup.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, "MZ", 2, &written, NULL));
  LARGE_INTEGER at;
  at.QuadPart = offset;
  ASSERT_TRUE(SetFilePointerEx(h, at, NULL, FILE_BEGIN));
  std::string tail = content;
  EFSDIRENTRY record = {offset, 0, (uint32_t)crc32(0, (const Bytef*)content.data(), (uInt)content.size()), 0, 0, 8};
  unsigned char fixed[EFS_DIRENTRY_FIXED_SIZE];
  EfsEncodeDirEntry(record, fixed);
  tail.append((const char*)fixed, sizeof fixed);
  tail.append("far.txt", 8);
  EFSTRAILER trailer;
  trailer.Count = 1;
  trailer.DirectorySize = EFS_DIRENTRY_FIXED_SIZE + 8 + EFS_TRAILER_SIZE;
  memcpy(trailer.Signature, InstallerSignature, EFS_SIGNATURE_SIZE);
  unsigned char end[EFS_TRAILER_SIZE];
  EfsEncodeTrailer(trailer, end);
  tail.append((const char*)end, sizeof end);
  const BOOL ok = WriteFile(h, tail.data(), (DWORD)tail.size(), &written, NULL) && written == tail.size();
  CloseHandle(h);
  if (!ok) {
    DeleteFileA(setup.c_str());
    GTEST_SKIP() << "no room for a 2.25 GiB file here, even a sparse one";
  }

  CExeFileSystem efs;
  ASSERT_EQ(EFS_OK, efs.Open(setup.c_str()));
  ASSERT_EQ(1u, efs.GetCount());
  ASSERT_EQ(1, efs.ExtractFile("far.txt", dir.File("far.txt").c_str(), 1, NULL, 500));
  EXPECT_EQ(content, ReadWholeFile(dir.File("far.txt")));
  DeleteFileA(setup.c_str());
}

}  // namespace
