// The solid stream decoded on a thread of its own ahead of the writes, with
// a history much smaller than the content so that it wraps many times:
// entries in order, out of order and twice; a cancel, damage, a failed read
// and a failed write in the middle of the stream; and no thread or handle
// left behind.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <LzmaEnc.h>

#include <stdlib.h>
#include <string>
#include <vector>

#include "efs/Crc32.h"
#include "efs/SolidReadAhead.h"

namespace {

void* Allocate(void*, size_t size) { return malloc(size); }
void Free(void*, void* address) { free(address); }
ISzAlloc g_Alloc = {Allocate, Free};

// Text with random runs: it compresses, but not to nothing.
std::string Content(size_t n, unsigned seed) {
  static const char* words[] = {"copy ", "file ", "install ", "setup\r\n", "folder ", "value "};
  std::string s;
  unsigned x = seed;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    if ((x >> 28) == 0)
      for (int k = 0; k < 40; ++k, x = x * 1103515245u + 12345u) s += (char)(x >> 16);
    else
      s += words[(x >> 16) % 6];
  }
  s.resize(n);
  return s;
}

// The stream's bytes, read at offsets; a read can be made to fail, and the
// threads that read are recorded.
class MemoryReader : public IEfsFileReader {
 public:
  std::string Bytes;
  long FailAfter = -1;  // reads that succeed before every further one fails
  DWORD Reader = 0;     // a thread that read

  int ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) override {
    Reader = GetCurrentThreadId();
    if (FailAfter == 0) return 0;
    if (FailAfter > 0) --FailAfter;
    if (offset > Bytes.size() || n > Bytes.size() - offset) return 0;
    memcpy(buffer, Bytes.data() + offset, n);
    return 1;
  }
};

class Sink : public IEfsDecodeIo {
 public:
  std::string Out;
  size_t CancelAt = (size_t)-1;      // a cancel once this much is written
  size_t FailWriteAt = (size_t)-1;   // a failed write once this much is written
  int Reports = 0;
  DWORD Deadline = 0;  // nonzero: a cancel once the clock passes it

  int Read(unsigned char*, uint32_t) override { return 0; }
  int Write(const unsigned char* p, uint32_t n) override {
    if (Out.size() >= FailWriteAt) return 0;
    Out.append((const char*)p, n);
    return 1;
  }
  int Progress(uint64_t, uint64_t) override {
    ++Reports;
    if (Deadline && (int)(GetTickCount() - Deadline) > 0) return 0;
    return Out.size() < CancelAt;
  }
};

int ThreadsOfThisProcess() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 t;
  t.dwSize = sizeof t;
  int n = 0;
  for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t))
    if (t.th32OwnerProcessID == GetCurrentProcessId()) ++n;
  CloseHandle(snap);
  return n;
}

// The process's open handles: its own count where the system keeps one,
// else the system's list of every handle (Wine keeps only that).
long Handles() {
  DWORD n = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &n) && n) return (long)n;
  typedef LONG(WINAPI * Query)(ULONG, void*, ULONG, ULONG*);
  Query query = (Query)(void*)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
  if (!query) return -1;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ULONG got = 0;
    const LONG status = query(16 /* SystemHandleInformation */, buffer.data(), (ULONG)buffer.size(), &got);
    if (status == (LONG)0xC0000004 /* STATUS_INFO_LENGTH_MISMATCH */ && buffer.size() < (64u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (status != 0) return -1;
    break;
  }
  const SYSTEM_HANDLE_INFORMATION* info = (const SYSTEM_HANDLE_INFORMATION*)buffer.data();
  long mine = 0;
  for (ULONG i = 0; i < info->Count; ++i)
    if (info->Handle[i].OwnerPid == GetCurrentProcessId()) ++mine;
  return mine;
}

class SolidReadAhead : public ::testing::Test {
 protected:
  // 1.5 MiB of content in entries of many sizes, some empty, encoded with
  // a 64 KiB dictionary: the history wraps about 24 times.
  enum { kDictionary = 1 << 16 };
  std::string content;
  std::vector<EfsEntry> entries;
  MemoryReader file;
  unsigned char props[EFS_LZMA_PROPS_SIZE];
  CEfsReadAhead reader;

  void SetUp() override {
    content = Content(1536 * 1024, 11);
    const size_t sizes[] = {0, 1, 5000, 70000, 65536, 300000, 0, 131072, 12, 250000};
    for (size_t at = 0, k = 0; at < content.size(); ++k) {
      EfsEntry e = {};
      e.Method = EFS_METHOD_LZMA;
      e.DataOffset = at;
      e.Size = e.StoredSize = std::min(sizes[k % 10], content.size() - at);
      e.Crc = EfsCrc32(0, (const unsigned char*)content.data() + at, (uint32_t)e.Size);
      entries.push_back(e);
      at += e.Size;
    }
    // one more empty entry right at the content's end
    EfsEntry last = {};
    last.Method = EFS_METHOD_LZMA;
    last.DataOffset = content.size();
    entries.push_back(last);

    ASSERT_NO_FATAL_FAILURE(Encode(kDictionary));
  }

  void Encode(uint32_t dictionary) {
    CLzmaEncProps p;
    LzmaEncProps_Init(&p);
    p.level = 5;
    p.dictSize = dictionary;
    SizeT n = content.size() + content.size() / 2 + 4096;
    file.Bytes.assign(n, '\0');
    SizeT propsSize = EFS_LZMA_PROPS_SIZE;
    ASSERT_EQ(SZ_OK, LzmaEncode((Byte*)&file.Bytes[0], &n, (const Byte*)content.data(), content.size(), &p,
                                props, &propsSize, 0, NULL, &g_Alloc, &g_Alloc));
    file.Bytes.resize(n);
    ASSERT_GT(n, 100000u) << "the stream must take many reads";
    Attach();
  }

  // as the setup program attaches it: with where every entry ends
  void Attach() {
    reader.Attach(&file, 0, file.Bytes.size(), content.size(), props);
    uint64_t* ends = (uint64_t*)malloc(entries.size() * sizeof(uint64_t));
    for (size_t k = 0; k < entries.size(); ++k) ends[k] = entries[k].DataOffset + entries[k].Size;
    reader.SetEntryEnds(ends, (uint32_t)entries.size());
  }

  std::string Of(const EfsEntry& e) { return content.substr((size_t)e.DataOffset, (size_t)e.Size); }

  void ExpectWhole(size_t k) {
    Sink out;
    ASSERT_EQ(EFS_DECODE_OK, reader.Decode(entries[k], out)) << "entry " << k;
    EXPECT_TRUE(out.Out == Of(entries[k])) << "entry " << k;
    EXPECT_GE(out.Reports, 1);
  }
};

TEST_F(SolidReadAhead, EntriesInOrderOutOfOrderAndTwiceComeOutWhole) {
  const DWORD caller = GetCurrentThreadId();
  for (size_t k = 0; k < entries.size(); ++k) ExpectWhole(k);
  EXPECT_NE(0u, file.Reader);
  EXPECT_NE(caller, file.Reader) << "the stream is read on the caller's thread";
  EXPECT_FALSE(reader.Decoding()) << "a decoder with the whole stream done ends";

  // the last entries again (still in the history), then far behind (the
  // stream starts over), then skipping ahead, and one entry twice running
  const size_t n = entries.size();
  for (size_t k : {n - 2, n - 3, size_t(3), size_t(2), size_t(9), size_t(9), size_t(4), n - 2, size_t(0)})
    ExpectWhole(k);
}

// The builder never writes a dictionary under a decoding step's 64 KiB, but
// a crafted file may: the decoder, waiting for a step's room that such a
// history never has, must still be woken. A caller still waiting after 20 s
// cancels, so that a hang fails here instead of holding the run.
TEST_F(SolidReadAhead, AHistorySmallerThanADecodingStepStillComesOutWhole) {
  for (uint32_t dictionary : {4096u, 49152u}) {
    SCOPED_TRACE(dictionary);
    ASSERT_NO_FATAL_FAILURE(Encode(dictionary));
    ASSERT_EQ(dictionary, EfsLzmaDictionarySize(props));
    const DWORD deadline = GetTickCount() + 20000;
    for (size_t k = 0; k < entries.size(); ++k) {
      Sink out;
      out.Deadline = deadline;
      ASSERT_EQ(EFS_DECODE_OK, reader.Decode(entries[k], out)) << "entry " << k << " of " << entries.size();
      EXPECT_TRUE(out.Out == Of(entries[k])) << "entry " << k;
    }
    EXPECT_FALSE(reader.Decoding());
  }
}

TEST_F(SolidReadAhead, ACancelInTheMiddleStopsTheDecoderAndTheNextEntriesStillComeOut) {
  const int threads = ThreadsOfThisProcess();
  ExpectWhole(2);
  Sink cancelled;
  cancelled.CancelAt = 100000;
  EXPECT_EQ(EFS_DECODE_CANCELLED, reader.Decode(entries[5], cancelled));
  EXPECT_FALSE(reader.Decoding());
  EXPECT_EQ(threads, ThreadsOfThisProcess());
  ExpectWhole(7);
  ExpectWhole(5);
  // a cancel while the entry's first bytes are still being passed over
  Sink early;
  early.CancelAt = 0;
  EXPECT_EQ(EFS_DECODE_CANCELLED, reader.Decode(entries[15], early));
  EXPECT_EQ("", early.Out);
  EXPECT_FALSE(reader.Decoding());
  ExpectWhole(16);
}

// Each entry in turn gets the verdict the decoder on the caller's thread
// gives it: damage fails the entry it lies in, not those before it.
TEST_F(SolidReadAhead, DamageInTheMiddleFailsTheEntryItLiesInAndNoneBeforeIt) {
  const std::string good = file.Bytes;
  for (size_t at : {size_t(40), good.size() / 5, good.size() / 2, good.size() * 4 / 5, good.size() - 1}) {
    SCOPED_TRACE(at);
    file.Bytes = good;
    file.Bytes[at] ^= 0x20;
    Attach();
    CEfsSolidStream alone;
    alone.Attach(&file, 0, file.Bytes.size(), content.size(), props);
    size_t failed = 0;
    for (size_t k = 0; k < entries.size(); ++k) {
      Sink out, expected;
      const EfsDecodeResult r = reader.Decode(entries[k], out);
      EXPECT_EQ(alone.Decode(entries[k], expected), r) << "entry " << k;
      if (r == EFS_DECODE_OK) {
        EXPECT_TRUE(out.Out == Of(entries[k])) << "entry " << k;
      } else {
        EXPECT_TRUE(r == EFS_DECODE_CORRUPT || r == EFS_DECODE_CRC_MISMATCH) << r;
        EXPECT_FALSE(reader.Decoding());
        ++failed;
      }
    }
    EXPECT_GE(failed, 1u);
    // the entries before the damage decode again, from the stream's start
    ExpectWhole(1);
  }
  // cut short: the stream ends before its content
  file.Bytes = good.substr(0, good.size() / 2);
  Attach();
  Sink out;
  EXPECT_EQ(EFS_DECODE_CORRUPT, reader.Decode(entries[entries.size() - 2], out));
  EXPECT_FALSE(reader.Decoding());
}

TEST_F(SolidReadAhead, AFailedReadOrWriteInTheMiddleStopsTheDecoder) {
  file.FailAfter = 3;
  Sink unread;
  EXPECT_EQ(EFS_DECODE_READ_FAILED, reader.Decode(entries[entries.size() - 2], unread));
  EXPECT_FALSE(reader.Decoding());
  // the file reads again: the next entry starts the stream over
  file.FailAfter = -1;
  ExpectWhole(5);

  Sink full;
  full.FailWriteAt = 65536;
  EXPECT_EQ(EFS_DECODE_WRITE_FAILED, reader.Decode(entries[9], full));
  EXPECT_FALSE(reader.Decoding());
  ExpectWhole(9);
}

TEST_F(SolidReadAhead, NoThreadOrHandleIsLeftBehind) {
  reader.Release();
  const int threads = ThreadsOfThisProcess();
  const long handles = Handles();
  HANDLE probe = CreateEventA(NULL, FALSE, FALSE, NULL);
  ASSERT_EQ(handles + 1, Handles()) << "the handle count does not see a new event";
  CloseHandle(probe);

  // stopped halfway: the decoder runs ahead of the caller until it is let go
  Attach();
  ExpectWhole(3);
  EXPECT_TRUE(reader.Decoding());
  EXPECT_EQ(threads + 1, ThreadsOfThisProcess());
  reader.Release();
  EXPECT_FALSE(reader.Decoding());
  EXPECT_EQ(threads, ThreadsOfThisProcess());
  EXPECT_EQ(handles, Handles());

  // a whole pass, a restart and a cancel, then let go
  Attach();
  for (size_t k = 0; k < entries.size(); ++k) ExpectWhole(k);
  ExpectWhole(1);
  Sink cancelled;
  cancelled.CancelAt = 1000;
  EXPECT_EQ(EFS_DECODE_CANCELLED, reader.Decode(entries[5], cancelled));
  reader.Release();
  EXPECT_EQ(threads, ThreadsOfThisProcess());
  EXPECT_EQ(handles, Handles());
}

}  // namespace
