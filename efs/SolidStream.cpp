#include "efs/SolidStream.h"

#include <stdlib.h>
#include <string.h>

#include <LzmaDec.h>

namespace {

void* Allocate(void*, size_t size) { return malloc(size); }
void Free(void*, void* address) { free(address); }
ISzAlloc g_Alloc = {Allocate, Free};

enum { kInputSize = 65536, kChunk = EFS_SOLID_CHUNK };

CLzmaDec& State(void* p) { return *(CLzmaDec*)p; }

}  // namespace

uint32_t EfsLzmaDictionarySize(const unsigned char props[EFS_LZMA_PROPS_SIZE]) {
  CLzmaProps p;
  if (LzmaProps_Decode(&p, props, EFS_LZMA_PROPS_SIZE) != SZ_OK) return 0;
  return p.dicSize;
}

CEfsSolidStream::CEfsSolidStream()
    : m_File(NULL), m_Offset(0), m_StoredSize(0), m_ContentSize(0), m_Decoder(NULL), m_History(NULL),
      m_HistorySize(0), m_Input(NULL), m_InputAt(0), m_InputCount(0), m_StreamRead(0), m_Position(0),
      m_Started(0) {
  memset(m_Props, 0, sizeof m_Props);
}

CEfsSolidStream::~CEfsSolidStream() { Release(); }

void CEfsSolidStream::Attach(IEfsFileReader* file, uint64_t offset, uint64_t storedSize,
                             uint64_t contentSize, const unsigned char props[EFS_LZMA_PROPS_SIZE]) {
  Release();
  m_File = file;
  m_Offset = offset;
  m_StoredSize = storedSize;
  m_ContentSize = contentSize;
  memcpy(m_Props, props, EFS_LZMA_PROPS_SIZE);
}

void CEfsSolidStream::Release() {
  FreeMemory();
  m_File = NULL;
  m_Started = 0;
  m_Position = 0;
}

void CEfsSolidStream::FreeMemory() {
  if (m_Decoder) {
    LzmaDec_FreeProbs(&State(m_Decoder), &g_Alloc);
    free(m_Decoder);
  }
  free(m_History);
  free(m_Input);
  m_Decoder = NULL;
  m_History = m_Input = NULL;
  m_HistorySize = 0;
}

int CEfsSolidStream::Start() {
  if (!m_Decoder) {
    const uint32_t dictionary = EfsLzmaDictionarySize(m_Props);
    // no match reaches further back than the content goes
    uint64_t history = dictionary < m_ContentSize ? dictionary : m_ContentSize;
    if (history < 4096) history = 4096;
    m_Decoder = calloc(1, sizeof(CLzmaDec));
    m_History = (unsigned char*)malloc((size_t)history);
    m_Input = (unsigned char*)malloc(kInputSize);
    if (m_Decoder) LzmaDec_Construct(&State(m_Decoder));
    if (!m_History || !m_Input || !m_Decoder ||
        LzmaDec_AllocateProbs(&State(m_Decoder), m_Props, EFS_LZMA_PROPS_SIZE, &g_Alloc) != SZ_OK) {
      FreeMemory();
      return 0;
    }
    m_HistorySize = (uint32_t)history;
  }
  CLzmaDec& d = State(m_Decoder);
  d.dic = m_History;
  d.dicBufSize = m_HistorySize;
  // every pass fills the history from its start: byte p lies at p % size
  d.dicPos = 0;
  LzmaDec_Init(&d);
  m_InputAt = m_InputCount = 0;
  m_StreamRead = 0;
  m_Position = 0;
  m_Started = 1;
  return 1;
}

// More stored bytes once the input buffer is used up (none at the end).
EfsDecodeResult CEfsSolidStream::Fill() {
  if (m_InputAt < m_InputCount || m_StreamRead == m_StoredSize) return EFS_DECODE_OK;
  uint64_t left = m_StoredSize - m_StreamRead;
  uint32_t chunk = left < kInputSize ? (uint32_t)left : (uint32_t)kInputSize;
  if (!m_File->ReadAt(m_Offset + m_StreamRead, m_Input, chunk)) return EFS_DECODE_READ_FAILED;
  m_StreamRead += chunk;
  m_InputAt = 0;
  m_InputCount = chunk;
  return EFS_DECODE_OK;
}

EfsDecodeResult CEfsSolidStream::Next(uint64_t want, const unsigned char** data, uint32_t* n) {
  CLzmaDec& d = State(m_Decoder);
  if (d.dicPos == d.dicBufSize) d.dicPos = 0;
  SizeT room = d.dicBufSize - d.dicPos;
  if (room > kChunk) room = kChunk;
  if (want < room) room = (SizeT)want;
  const SizeT start = d.dicPos;
  for (;;) {
    EfsDecodeResult filled = Fill();
    if (filled != EFS_DECODE_OK) return filled;
    SizeT used = m_InputCount - m_InputAt;
    ELzmaStatus status;
    SRes r = LzmaDec_DecodeToDic(&d, start + room, m_Input + m_InputAt, &used, LZMA_FINISH_ANY, &status);
    m_InputAt += (uint32_t)used;
    if (r != SZ_OK) return EFS_DECODE_CORRUPT;
    if (d.dicPos > start) break;
    // Neither output nor input taken, with room for both: the stream ended
    // too early (an end mark, or no bytes left).
    if (status == LZMA_STATUS_FINISHED_WITH_MARK || used == 0) return EFS_DECODE_CORRUPT;
  }
  *data = m_History + start;
  *n = (uint32_t)(d.dicPos - start);
  m_Position += *n;
  return EFS_DECODE_OK;
}

EfsDecodeResult CEfsSolidStream::Decode(const EfsEntry& e, IEfsDecodeIo& io) {
  EfsDecodeResult r = DecodeEntry(e, io);
  // a damaged stream leaves the decoder lost: the next entry starts over
  if (r == EFS_DECODE_CORRUPT || r == EFS_DECODE_READ_FAILED) m_Started = 0;
  return r;
}

EfsDecodeResult CEfsSolidStream::DecodeEntry(const EfsEntry& e, IEfsDecodeIo& io) {
  if (e.DataOffset > m_ContentSize || e.Size > m_ContentSize - e.DataOffset)
    return EFS_DECODE_CORRUPT;
  if ((!m_Started || e.DataOffset < m_Position) && !Start()) return EFS_DECODE_READ_FAILED;
  const unsigned char* data;
  uint32_t n;
  // what lies before the entry is decoded and passed over; the reports of
  // no progress still let a cancel through
  while (m_Position < e.DataOffset) {
    EfsDecodeResult r = Next(e.DataOffset - m_Position, &data, &n);
    if (r != EFS_DECODE_OK) return r;
    if (!io.Progress(0, e.Size)) return EFS_DECODE_CANCELLED;
  }
  uint32_t crc = 0;
  uint64_t done = 0;
  // an empty entry still makes one progress report
  do {
    if (done < e.Size) {
      EfsDecodeResult r = Next(e.Size - done, &data, &n);
      if (r != EFS_DECODE_OK) return r;
      crc = EfsCrc32(crc, data, n);
      if (!io.Write(data, n)) return EFS_DECODE_WRITE_FAILED;
      done += n;
    }
    if (!io.Progress(done, e.Size)) return EFS_DECODE_CANCELLED;
  } while (done < e.Size);
  if (crc != e.Crc) return EFS_DECODE_CRC_MISMATCH;
  return m_Position == m_ContentSize ? Finish() : EFS_DECODE_OK;
}

EfsDecodeResult CEfsSolidStream::Finish() {
  CLzmaDec& d = State(m_Decoder);
  ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
  for (;;) {
    EfsDecodeResult r = Fill();
    if (r != EFS_DECODE_OK) return r;
    // no room for more content: the decoder only takes what ends the stream
    SizeT used = m_InputCount - m_InputAt;
    if (LzmaDec_DecodeToDic(&d, d.dicPos, m_Input + m_InputAt, &used, LZMA_FINISH_END, &status) != SZ_OK)
      return EFS_DECODE_CORRUPT;
    m_InputAt += (uint32_t)used;
    if (used == 0) break;
  }
  const int consumed = m_InputAt == m_InputCount && m_StreamRead == m_StoredSize;
  return consumed && status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK ? EFS_DECODE_OK : EFS_DECODE_CORRUPT;
}
