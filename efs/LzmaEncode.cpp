// The builder's LZMA encoder: the SDK's at its strongest level, its match
// finder on a second thread where one is given.
#include "efs/EntryCodec.h"

#include <stddef.h>
#include <stdlib.h>

#include <new>
#include <vector>
#ifdef _GLIBCXX_HAS_GTHREADS
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

#include "efs/LzmaEncodeSdk.h"

namespace {

void* Allocate(void*, size_t size) { return malloc(size); }
void Free(void*, void* address) { free(address); }
ISzAlloc g_Alloc = {Allocate, Free};

// The SDK's streams over the codec's io, remembering why they stopped.
struct Streams {
  ISeqInStream In;
  ISeqOutStream Out;
  ICompressProgress Progress;
  IEfsEncodeIo* Io;
  EfsEncodeResult Stopped;
  int Read;  // whether the encoder has asked for input yet
};

Streams& Of(void* p, size_t offset) { return *(Streams*)((char*)p - offset); }

SRes ReadIn(void* p, void* buffer, size_t* size) {
  Streams& s = Of(p, offsetof(Streams, In));
  s.Read = 1;
  // a read of up to 1 GiB at once
  uint32_t want = *size > 0x40000000u ? 0x40000000u : (uint32_t)*size;
  long n = s.Io->Read((unsigned char*)buffer, want);
  if (n < 0) {
    s.Stopped = EFS_ENCODE_READ_FAILED;
    return SZ_ERROR_READ;
  }
  *size = (size_t)n;
  if (n > 0 && !s.Io->Progress((uint32_t)n)) {
    s.Stopped = EFS_ENCODE_CANCELLED;
    return SZ_ERROR_READ;
  }
  return SZ_OK;
}

size_t WriteOut(void* p, const void* buffer, size_t size) {
  Streams& s = Of(p, offsetof(Streams, Out));
  if (s.Io->Write((const unsigned char*)buffer, (uint32_t)size)) return size;
  s.Stopped = EFS_ENCODE_WRITE_FAILED;
  return 0;
}

SRes NoProgress(void*, UInt64, UInt64) { return SZ_OK; }

#ifdef _GLIBCXX_HAS_GTHREADS
// The SDK's own match finder run on a thread of its own, a little ahead of
// the encoder: it finds the matches of every position in turn (a Skip
// changes the finder as GetMatches does, so the encoder's choices and its
// output are those of one thread), and the encoder takes them from a ring
// of blocks. Both read the finder's window; the finder's thread moves the
// window's bytes only while the encoder waits with every block taken.
class MatchThread {
 public:
  MatchThread(CMatchFinder* base, ISeqInStream* in) : m_Finder(*base), m_In(in) {
    // the finder's copy reads through Fill; the encoder's stays untouched,
    // so neither thread writes what the other reads
    m_Finder.stream = &m_Reader.Stream;
    m_Reader.Stream.Read = Fill;
    m_Reader.Owner = this;
    MatchFinder_CreateVTable(&m_Finder, &m_Table);
    for (Block& b : m_Blocks) b.Data.resize(kBlockWords);
  }
  ~MatchThread() { Stop(); }

  // The table the encoder calls instead of the SDK's.
  void Install(IMatchFinder* table, void** object) {
    table->Init = Init;
    table->GetIndexByte = GetIndexByte;
    table->GetNumAvailableBytes = GetNumAvailableBytes;
    table->GetPointerToCurrentPos = GetPointerToCurrentPos;
    table->GetMatches = GetMatches;
    table->Skip = Skip;
    *object = this;
  }

  void Start() {
    m_Thread = std::thread([this] { Run(); });
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(m_Lock);
      m_Stop = true;
    }
    m_Changed.notify_all();
    if (m_Thread.joinable()) m_Thread.join();
  }

 private:
  // a record: the count of numbers, then the (length, distance) pairs, at
  // most one pair per length up to the longest match (273)
  enum { kBlocks = 4, kBlockWords = 1 << 14, kRecordWords = 2 * 273 + 3 };
  // reads of at most this much, so that a failed or cancelled read leaves
  // the finder little to work through before the encoder sees the end
  enum { kReadLimit = 1 << 20 };

  struct Block {
    std::vector<UInt32> Data;
    size_t Used = 0, Taken = 0;
    const Byte* Start = NULL;  // the window at the first record's position
    const Byte* End = NULL;    // and after the last record's
    UInt64 StreamEnd = 0;      // input read by then, counted from the start
  };
  struct Reader {
    ISeqInStream Stream;
    MatchThread* Owner;
  };

  static SRes Fill(void* p, void* buffer, size_t* size) {
    MatchThread& t = *((Reader*)p)->Owner;
    if (t.m_ReadFailed) {
      *size = 0;
      return SZ_OK;
    }
    if (*size > kReadLimit) *size = kReadLimit;
    // a failure (its reason is kept by the caller's stream) ends the input
    // here; the encoder then finishes what it has and the caller reports it
    if (t.m_In->Read(t.m_In, buffer, size) != SZ_OK) {
      t.m_ReadFailed = true;
      *size = 0;
    }
    return SZ_OK;
  }

  // ---- the finder's thread
  void Run() {
    MatchFinder_Init(&m_Finder);
    UInt64 position = 0;
    Block* b = TakeFree();
    while (b) {
      UInt32 available = m_Table.GetNumAvailableBytes(&m_Finder);
      if (available == 0) break;
      // this step may read input or move the window: only with the encoder
      // waiting for it and nothing of the window handed out
      bool touches = m_Finder.pos + 1 == m_Finder.posLimit && !m_Finder.streamEndWasReached;
      if (touches) {
        if (b->Used) {
          Publish(b, position);
          if (!(b = TakeFree())) return;
        }
        if (!WaitForIdleEncoder()) return;
      }
      if (!b->Used) b->Start = m_Table.GetPointerToCurrentPos(&m_Finder);
      UInt32* record = &b->Data[b->Used];
      record[0] = m_Table.GetMatches(&m_Finder, record + 1);
      b->Used += record[0] + 1;
      ++position;
      if (touches || b->Used + kRecordWords > kBlockWords) {
        Publish(b, position);
        b = TakeFree();
      }
    }
    if (b) {
      if (!b->Used) b->Start = m_Table.GetPointerToCurrentPos(&m_Finder);
      Publish(b, position);
    }
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Done = true;
    m_Changed.notify_all();
  }

  Block* TakeFree() {
    std::unique_lock<std::mutex> lock(m_Lock);
    m_Changed.wait(lock, [this] { return m_Stop || m_Filled < kBlocks; });
    if (m_Stop) return NULL;
    Block* b = &m_Blocks[(m_First + m_Filled) % kBlocks];
    b->Used = b->Taken = 0;
    return b;
  }

  void Publish(Block* b, UInt64 position) {
    b->End = m_Table.GetPointerToCurrentPos(&m_Finder);
    b->StreamEnd = position + m_Table.GetNumAvailableBytes(&m_Finder);
    std::lock_guard<std::mutex> lock(m_Lock);
    ++m_Filled;
    m_Changed.notify_all();
  }

  bool WaitForIdleEncoder() {
    std::unique_lock<std::mutex> lock(m_Lock);
    m_Changed.wait(lock, [this] { return m_Stop || (m_Filled == 0 && m_EncoderWaits); });
    return !m_Stop;
  }

  // ---- the encoder's side
  // The block being read, taking the next from the ring when it is used up.
  Block* Current() {
    if (m_Current && m_Current->Taken < m_Current->Used) return m_Current;
    std::unique_lock<std::mutex> lock(m_Lock);
    if (m_Current) {
      m_First = (m_First + 1) % kBlocks;
      --m_Filled;
      m_Current = NULL;
      m_Changed.notify_all();
    }
    m_EncoderWaits = true;
    m_Changed.notify_all();
    m_Changed.wait(lock, [this] { return m_Filled > 0 || m_Done || m_Stop; });
    m_EncoderWaits = false;
    if (m_Filled == 0) return NULL;
    m_Current = &m_Blocks[m_First];
    m_StreamEnd = m_Current->StreamEnd;
    if (!m_At) m_At = m_Current->Start;
    return m_Current;
  }

  // The next position's record; NULL past the end.
  const UInt32* Next() {
    Block* b = Current();
    if (!b || b->Taken == b->Used) return NULL;
    const UInt32* record = &b->Data[b->Taken];
    b->Taken += record[0] + 1;
    ++m_Position;
    m_At = b->Taken == b->Used ? b->End : m_At + 1;
    return record;
  }

  // Before the first record, the window and the input's size come with it.
  void First() {
    if (!m_Current) Current();
  }

  static MatchThread& Of(void* p) { return *(MatchThread*)p; }
  static void Init(void*) {}  // started before
  static Byte GetIndexByte(void* p, Int32 index) {
    MatchThread& t = Of(p);
    t.First();
    return t.m_At[index];
  }
  static UInt32 GetNumAvailableBytes(void* p) {
    MatchThread& t = Of(p);
    t.First();
    return (UInt32)(t.m_StreamEnd - t.m_Position);
  }
  static const Byte* GetPointerToCurrentPos(void* p) {
    MatchThread& t = Of(p);
    t.First();
    return t.m_At;
  }
  static UInt32 GetMatches(void* p, UInt32* distances) {
    const UInt32* record = Of(p).Next();
    if (!record) return 0;
    for (UInt32 i = 0; i < record[0]; ++i) distances[i] = record[1 + i];
    return record[0];
  }
  static void Skip(void* p, UInt32 n) {
    MatchThread& t = Of(p);
    while (n-- && t.Next()) {
    }
  }

  CMatchFinder m_Finder;  // the finder's thread's alone
  IMatchFinder m_Table;
  ISeqInStream* m_In;
  Reader m_Reader;
  bool m_ReadFailed = false;

  std::mutex m_Lock;
  std::condition_variable m_Changed;
  Block m_Blocks[kBlocks];
  size_t m_First = 0, m_Filled = 0;  // the ring: filled blocks from m_First on
  bool m_EncoderWaits = false, m_Done = false, m_Stop = false;
  std::thread m_Thread;

  Block* m_Current = NULL;  // the encoder's
  const Byte* m_At = NULL;
  UInt64 m_Position = 0, m_StreamEnd = 0;
};

SRes UseMatchThread(void* context, CMatchFinder* base, IMatchFinder* table, void** object) {
  MatchThread** made = (MatchThread**)context;
  Streams* s = (Streams*)made[1];
  MatchThread* t = NULL;
  try {
    t = new MatchThread(base, &s->In);
    t->Start();
  } catch (...) {
    // no thread to be had: the SDK's finder, on this one
    delete t;
    return SZ_OK;
  }
  // the encoder asks its own finder for read errors, and that one is never
  // started: the thread's ends the input instead
  base->result = SZ_OK;
  made[0] = t;
  t->Install(table, object);
  return SZ_OK;
}

#else
// no threads in this tree (the setup program's): one thread
class MatchThread {};
#endif

}  // namespace

// One attempt with this dictionary.
static SRes Encode(Streams& s, uint32_t dictionary, uint64_t contentSize, unsigned threads,
                   unsigned char props[EFS_LZMA_PROPS_SIZE]) {
  CLzmaEncProps p;
  LzmaEncProps_Init(&p);
  p.level = 9;
  p.dictSize = dictionary;
  // the dictionary shrinks to the content: a setup program that decodes it
  // needs that much memory and no more (the stream's header holds 2^n or
  // 3 * 2^n bytes, the next at or above the content: at most half again)
  p.reduceSize = contentSize > 0xFFFFFFFFu ? 0xFFFFFFFFu : (UInt32)contentSize;
  p.numThreads = 1;
  CLzmaEncHandle enc = LzmaEnc_Create(&g_Alloc);
  if (!enc) return SZ_ERROR_MEM;
  SizeT propsSize = EFS_LZMA_PROPS_SIZE;
  SRes r = LzmaEnc_SetProps(enc, &p);
  if (r == SZ_OK) r = LzmaEnc_WriteProperties(enc, props, &propsSize);
  // [0]: the match thread once made, [1]: the streams it reads
  void* made[2] = {NULL, &s};
  if (r == SZ_OK)
    r = QsLzmaEnc_EncodeWithFinder(enc, &s.Out, &s.In, &s.Progress, &g_Alloc, &g_Alloc,
#ifdef _GLIBCXX_HAS_GTHREADS
                                   threads > 1 ? UseMatchThread : NULL,
#else
                                   ((void)threads, (QsMatchFinderHook)NULL),
#endif
                                   made);
  // the thread reads the encoder's window: it ends first
  delete (MatchThread*)made[0];
  LzmaEnc_Destroy(enc, &g_Alloc, &g_Alloc);
  return r;
}

EfsEncodeResult EfsLzmaEncode(IEfsEncodeIo& io, uint64_t contentSize, unsigned char props[EFS_LZMA_PROPS_SIZE],
                              unsigned threads) {
  Streams s;
  s.In.Read = ReadIn;
  s.Out.Write = WriteOut;
  s.Progress.Progress = NoProgress;
  s.Io = &io;
  s.Stopped = EFS_ENCODE_OK;
  s.Read = 0;
  // The match finder takes about ten times the dictionary: where that much
  // cannot be had in one piece (a 32-bit command), a smaller dictionary
  // compresses a little less, before any input is taken.
  SRes r = SZ_ERROR_MEM;
  for (uint32_t dictionary = 64u << 20; dictionary >= (1u << 20); dictionary /= 2) {
    r = Encode(s, dictionary, contentSize, threads, props);
    if (r != SZ_ERROR_MEM || s.Read) break;
  }
  if (s.Stopped != EFS_ENCODE_OK) return s.Stopped;
  return r == SZ_OK ? EFS_ENCODE_OK : EFS_ENCODE_CODEC_ERROR;
}
