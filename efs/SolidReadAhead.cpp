#include "efs/SolidReadAhead.h"

#include <stdlib.h>

namespace {
// The longest the caller waits for the decoder between two progress
// reports, so that a pause or a cancel is seen while it waits.
enum { kWaitMilliseconds = 20 };
// The most the caller writes at once, and wakes up for: fewer, larger
// writes and fewer wake-ups, each a call into the system.
enum { kWriteChunk = 1u << 20, kWakeChunk = 256u << 10 };
}  // namespace

CEfsReadAhead::CEfsReadAhead()
    : m_Thread(NULL), m_Decoded(NULL), m_Passed(NULL), m_Stop(0), m_Pass(0), m_Ends(NULL),
      m_EndCount(0), m_NextEnd(0), m_Published(0), m_PublishedAt(0),
      m_Claimed(0), m_Needed(0), m_Ended(0), m_Result(EFS_DECODE_OK), m_CallerWants(0),
      m_DecoderWaits(0) {
  InitializeCriticalSection(&m_Lock);
}

CEfsReadAhead::~CEfsReadAhead() {
  Release();
  DeleteCriticalSection(&m_Lock);
}

void CEfsReadAhead::Attach(IEfsFileReader* file, uint64_t offset, uint64_t storedSize,
                           uint64_t contentSize, const unsigned char props[EFS_LZMA_PROPS_SIZE]) {
  Release();
  m_Stream.Attach(file, offset, storedSize, contentSize, props);
}

void CEfsReadAhead::SetEntryEnds(uint64_t* ends, uint32_t count) {
  Stop();
  free(m_Ends);
  m_Ends = ends;
  m_EndCount = ends ? count : 0;
  m_Pass = 0;
}

void CEfsReadAhead::Release() {
  SetEntryEnds(NULL, 0);
  if (m_Decoded) CloseHandle(m_Decoded);
  if (m_Passed) CloseHandle(m_Passed);
  m_Decoded = m_Passed = NULL;
  m_Stream.Release();
  m_Pass = 0;
}

void CEfsReadAhead::Stop() {
  if (!m_Thread) return;
  InterlockedExchange(&m_Stop, 1);
  SetEvent(m_Passed);
  WaitForSingleObject(m_Thread, INFINITE);
  CloseHandle(m_Thread);
  m_Thread = NULL;
  m_DecoderWaits = 0;
}

// Without a thread the caller decodes each step itself when it needs one.
int CEfsReadAhead::StartThread() {
  if (!m_Decoded) m_Decoded = CreateEventA(NULL, FALSE, FALSE, NULL);
  if (!m_Passed) m_Passed = CreateEventA(NULL, FALSE, FALSE, NULL);
  if (!m_Decoded || !m_Passed) return 0;
  m_Stop = 0;
  m_Thread = CreateThread(NULL, 0, Run, this, 0, NULL);
  if (!m_Thread) return 0;
  // as the install worker: below the window's thread, whose clicks come first
  SetThreadPriority(m_Thread, THREAD_PRIORITY_BELOW_NORMAL);
  return 1;
}

DWORD WINAPI CEfsReadAhead::Run(void* p) {
  CEfsReadAhead& self = *static_cast<CEfsReadAhead*>(p);
  while (!self.m_Stop) {
    const int step = self.Step();
    if (step < 0) break;
    if (step == 0) WaitForSingleObject(self.m_Passed, INFINITE);
  }
  return 0;
}

int CEfsReadAhead::Step() {
  const uint64_t content = m_Stream.ContentSize();
  EnterCriticalSection(&m_Lock);
  if (m_Ended) {
    LeaveCriticalSection(&m_Lock);
    return -1;
  }
  // a history behind the caller's next byte stays as it is
  uint64_t want = m_Needed + m_Stream.HistorySize() - m_Published;
  if (content - m_Published < want) want = content - m_Published;
  if (want > EFS_SOLID_CHUNK) want = EFS_SOLID_CHUNK;
  while (m_NextEnd < m_EndCount && m_Ends[m_NextEnd] <= m_Published) ++m_NextEnd;
  if (m_NextEnd < m_EndCount && m_Ends[m_NextEnd] - m_Published < want) want = m_Ends[m_NextEnd] - m_Published;
  const int finish = m_Published == content;
  if (!want && !finish) {
    m_DecoderWaits = 1;
    LeaveCriticalSection(&m_Lock);
    return 0;
  }
  m_Claimed = m_Published + want;
  LeaveCriticalSection(&m_Lock);

  uint32_t n = 0;
  const unsigned char* data;
  const EfsDecodeResult r = finish ? m_Stream.Finish() : m_Stream.Next(want, &data, &n);

  EnterCriticalSection(&m_Lock);
  // after a failure the claim stays: the decoder may have written into it
  if (r == EFS_DECODE_OK && n) {
    m_Claimed = m_Published += n;
    m_PublishedAt = (uint32_t)(data + n - m_Stream.History());
  }
  if (r != EFS_DECODE_OK || finish) {
    m_Ended = 1;
    m_Result = r;
  }
  const int ended = m_Ended;
  const int wake = m_CallerWants && (ended || m_Published >= m_CallerWants);
  if (wake) m_CallerWants = 0;
  LeaveCriticalSection(&m_Lock);
  if (wake) SetEvent(m_Decoded);
  return ended ? -1 : 1;
}

void CEfsReadAhead::WaitForDecoder(uint64_t target) {
  if (!m_Thread) {
    Step();
    return;
  }
  EnterCriticalSection(&m_Lock);
  const int wait = !m_Ended && m_Published < target;
  if (wait) m_CallerWants = target;
  LeaveCriticalSection(&m_Lock);
  if (wait) WaitForSingleObject(m_Decoded, kWaitMilliseconds);
}

void CEfsReadAhead::Passed(uint64_t position) {
  EnterCriticalSection(&m_Lock);
  m_Needed = position;
  // woken for a chunk's room at least (or the rest), not for every file; a
  // history smaller than a chunk never has that much room, but all of it
  const uint64_t history = m_Stream.HistorySize();
  const uint64_t room = m_Needed + history - m_Published;
  const uint64_t left = m_Stream.ContentSize() - m_Published;
  uint64_t enough = left < EFS_SOLID_CHUNK ? left : (uint64_t)EFS_SOLID_CHUNK;
  if (history < enough) enough = history;
  const int wake = m_DecoderWaits && room >= enough;
  if (wake) m_DecoderWaits = 0;
  LeaveCriticalSection(&m_Lock);
  if (wake) SetEvent(m_Passed);
}

EfsDecodeResult CEfsReadAhead::Decode(const EfsEntry& e, IEfsDecodeIo& io) {
  const uint64_t content = m_Stream.ContentSize();
  if (e.DataOffset > content || e.Size > content - e.DataOffset) return EFS_DECODE_CORRUPT;
  const uint64_t history = m_Stream.HistorySize();
  EnterCriticalSection(&m_Lock);
  // what the decoder has not overwritten, nor may be overwriting now, is
  // there to read; the caller's claim on it keeps it so
  const int over = !m_Pass || (m_Ended && m_Result != EFS_DECODE_OK) ||
                   (m_Claimed > history && e.DataOffset < m_Claimed - history);
  if (!over) m_Needed = e.DataOffset;
  LeaveCriticalSection(&m_Lock);
  if (over) {
    Stop();
    m_Pass = 0;
    if (!m_Stream.Start()) return EFS_DECODE_READ_FAILED;
    m_Pass = 1;
    m_Published = m_Claimed = 0;
    m_PublishedAt = m_NextEnd = 0;
    m_Needed = e.DataOffset;
    m_Ended = 0;
    m_Result = EFS_DECODE_OK;
  } else {
    Passed(e.DataOffset);
  }
  if (!m_Thread && !m_Ended) StartThread();
  const EfsDecodeResult r = Read(e, io);
  EnterCriticalSection(&m_Lock);
  const int ended = m_Ended;
  LeaveCriticalSection(&m_Lock);
  // a decoder with nothing left to do, or whose reader gave up, goes
  if (ended || r != EFS_DECODE_OK) Stop();
  return r;
}

EfsDecodeResult CEfsReadAhead::Read(const EfsEntry& e, IEfsDecodeIo& io) {
  const unsigned char* history = m_Stream.History();
  const uint32_t size = m_Stream.HistorySize();
  const uint64_t content = m_Stream.ContentSize();
  const uint64_t end = e.DataOffset + e.Size;
  const uint64_t wake = size < kWakeChunk ? size : (uint32_t)kWakeChunk;
  uint64_t at = e.DataOffset;
  uint32_t crc = 0;
  // Until every byte is written and the decoder has come to the entry's end
  // (an empty entry too). What lies before the entry is passed over with
  // reports of no progress, and an empty entry still makes one report.
  int reported = 0;
  for (;;) {
    EnterCriticalSection(&m_Lock);
    const uint64_t published = m_Published;
    const uint32_t publishedAt = m_PublishedAt;
    const int ended = m_Ended;
    const EfsDecodeResult result = m_Result;
    LeaveCriticalSection(&m_Lock);
    const uint64_t ready = published < end ? published : end;
    if (ready > at) {
      // at lies within a history behind what is published
      const uint32_t back = (uint32_t)(published - at);
      const uint32_t ring = publishedAt >= back ? publishedAt - back : publishedAt + size - back;
      uint64_t n = ready - at;
      if (n > size - ring) n = size - ring;
      if (n > kWriteChunk) n = kWriteChunk;
      crc = EfsCrc32(crc, history + ring, (uint32_t)n);
      if (!io.Write(history + ring, (uint32_t)n)) return EFS_DECODE_WRITE_FAILED;
      at += n;
      Passed(at);
    } else if (published < end) {
      if (ended) return result != EFS_DECODE_OK ? result : EFS_DECODE_CORRUPT;
      WaitForDecoder(end - at < wake ? end : at + wake);
    } else if (reported) {
      break;
    }
    if (!io.Progress(at - e.DataOffset, e.Size)) return EFS_DECODE_CANCELLED;
    reported = 1;
  }
  if (crc != e.Crc) return EFS_DECODE_CRC_MISMATCH;
  // the last entry waits for the stream's own end to be checked
  while (end == content) {
    EnterCriticalSection(&m_Lock);
    const int ended = m_Ended;
    const EfsDecodeResult result = m_Result;
    LeaveCriticalSection(&m_Lock);
    if (ended) return result;
    WaitForDecoder(content + 1);
    if (!io.Progress(e.Size, e.Size)) return EFS_DECODE_CANCELLED;
  }
  return EFS_DECODE_OK;
}
