// The setup program's reads of the solid stream: a thread of its own
// decodes ahead into the stream's history while the caller writes out what
// is decoded already, so decoding and writing each take a core. It takes no
// memory beyond the history: the decoder never overwrites a byte that the
// caller has not passed yet.
#pragma once
#include <windows.h>

#include "efs/SolidStream.h"

class CEfsReadAhead {
 public:
  CEfsReadAhead();
  ~CEfsReadAhead();

  // As CEfsSolidStream::Attach. While the decoder runs it is the only reader
  // of file.
  void Attach(IEfsFileReader* file, uint64_t offset, uint64_t storedSize, uint64_t contentSize,
              const unsigned char props[EFS_LZMA_PROPS_SIZE]);
  // Where entries end in the decoded stream, ascending (taken over, freed
  // with malloc's free). A step never decodes past one: damage found in a
  // step fails the entry it belongs to, never one that lies before it.
  void SetEntryEnds(uint64_t* ends, uint32_t count);
  // Stops the decoder; lets go of its thread, events, memory and the file.
  void Release();

  // As CEfsSolidStream::Decode. io's Write and Progress run on the caller's
  // thread. An entry still in the history is written from there; one that
  // lies further back starts the stream over. A failure or a cancel stops
  // the decoder; a later call goes on where it stood.
  EfsDecodeResult Decode(const EfsEntry& entry, IEfsDecodeIo& io);

  // Whether a decoder thread is there (for tests).
  int Decoding() const { return m_Thread != NULL; }

 private:
  static DWORD WINAPI Run(void* self);
  // One chunk decoded, or the stream's end checked: 1 done, 0 no room yet,
  // -1 the decoder has ended (m_Result says how).
  int Step();
  EfsDecodeResult Read(const EfsEntry& entry, IEfsDecodeIo& io);
  // Until the decoder has published up to target or ended, or a short
  // while: the caller's progress reports (and so a cancel) go on as it waits.
  void WaitForDecoder(uint64_t target);
  void Passed(uint64_t position);
  int StartThread();
  void Stop();

  CEfsSolidStream m_Stream;
  CRITICAL_SECTION m_Lock;
  HANDLE m_Thread;
  HANDLE m_Decoded;  // auto-reset: more is decoded, or the decoder ended
  HANDLE m_Passed;   // auto-reset: the caller moved on, or Stop
  volatile LONG m_Stop;
  int m_Pass;  // the stream stands at m_Published of a pass from its start
  uint64_t* m_Ends;
  uint32_t m_EndCount;
  uint32_t m_NextEnd;  // the decoder's: the first of m_Ends past m_Published
  // Under m_Lock. Positions in the decoded stream.
  uint64_t m_Published;  // decoded and there to read
  uint32_t m_PublishedAt;  // where m_Published lies in the history
  uint64_t m_Claimed;    // the decoder may be writing up to here
  uint64_t m_Needed;     // the caller's next byte: the decoder stays within a history of it
  int m_Ended;
  EfsDecodeResult m_Result;
  uint64_t m_CallerWants;  // nonzero: the caller waits for this much
  int m_DecoderWaits;

  CEfsReadAhead(const CEfsReadAhead&);
  CEfsReadAhead& operator=(const CEfsReadAhead&);
};
