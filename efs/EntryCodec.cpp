#include "efs/EntryCodec.h"

#include <stdlib.h>
#include <string.h>

// The first format's sizes are 32-bit: its entries take 32-bit counts.
static EfsDecodeResult DecodeStored(IEfsDecodeIo& io, uint32_t storedSize, uint32_t* crc,
                                    unsigned char* in) {
  uint32_t done = 0;
  do {
    uint32_t chunk = EFS_INPUT_BUFFER_SIZE;
    if (storedSize - done < chunk) chunk = storedSize - done;
    if (!io.Read(in, chunk)) return EFS_DECODE_READ_FAILED;
    *crc = EfsCrc32(*crc, in, chunk);
    if (chunk && !io.Write(in, chunk)) return EFS_DECODE_WRITE_FAILED;
    done += chunk;
    if (!io.Progress(done, storedSize)) return EFS_DECODE_CANCELLED;
  } while (done < storedSize);
  return EFS_DECODE_OK;
}

namespace {
// Feeds the decoder the entry's bytes a buffer at a time, reporting progress
// per buffer read, and takes its output with the CRC-32 of it.
class EntryInflateIo : public IEfsInflateIo {
 public:
  EntryInflateIo(IEfsDecodeIo& io, uint32_t storedSize, uint32_t* crc, unsigned char* in)
      : Failure(EFS_DECODE_OK), m_Io(io), m_StoredSize(storedSize), m_Done(0), m_Crc(crc), m_In(in) {}
  EfsDecodeResult Failure;  // why the decoder was stopped

  long Fill(const unsigned char** data) override {
    uint32_t want = EFS_INPUT_BUFFER_SIZE;
    if (m_StoredSize - m_Done < want) want = m_StoredSize - m_Done;
    if (!want) return 0;
    if (!m_Io.Read(m_In, want)) return Stop(EFS_DECODE_READ_FAILED);
    m_Done += want;
    if (!m_Io.Progress(m_Done, m_StoredSize)) return Stop(EFS_DECODE_CANCELLED);
    *data = m_In;
    return want;
  }
  int Flush(const unsigned char* data, uint32_t n) override {
    *m_Crc = EfsCrc32(*m_Crc, data, n);
    if (m_Io.Write(data, n)) return 1;
    Failure = EFS_DECODE_WRITE_FAILED;
    return 0;
  }

 private:
  long Stop(EfsDecodeResult why) {
    Failure = why;
    return -1;
  }
  IEfsDecodeIo& m_Io;
  uint32_t m_StoredSize;
  uint32_t m_Done;
  uint32_t* m_Crc;
  unsigned char* m_In;
};

// Takes a whole stream's output into a buffer that it must fill exactly.
class WholeInflateIo : public IEfsInflateIo {
 public:
  WholeInflateIo(const unsigned char* in, uint32_t n, unsigned char* out, uint32_t outSize)
      : m_In(in), m_InSize(n), m_Out(out), m_Room(outSize) {}
  long Fill(const unsigned char** data) override {
    *data = m_In;
    const long n = m_InSize;
    m_InSize = 0;
    return n;
  }
  int Flush(const unsigned char* data, uint32_t n) override {
    if (n > m_Room) return 0;
    memcpy(m_Out, data, n);
    m_Out += n;
    m_Room -= n;
    return 1;
  }
  int Full() const { return m_Room == 0; }

 private:
  const unsigned char* m_In;
  uint32_t m_InSize;
  unsigned char* m_Out;
  uint32_t m_Room;
};
}  // namespace

static EfsDecodeResult DecodeCompressed(IEfsDecodeIo& io, uint32_t storedSize, uint32_t* crc,
                                        unsigned char* in, unsigned char* out) {
  EntryInflateIo inflateIo(io, storedSize, crc, in);
  switch (EfsInflate(inflateIo, out)) {
    case EFS_INFLATE_OK:
      return EFS_DECODE_OK;
    case EFS_INFLATE_STOPPED:
      return inflateIo.Failure;
    default:
      return EFS_DECODE_CORRUPT;
  }
}

EfsDecodeResult EfsDecodeEntry(IEfsDecodeIo& io, const EfsEntry& e, unsigned char* in,
                               unsigned char* out) {
  uint32_t crc = 0;
  if (e.StoredSize > 0xFFFFFFFFu) return EFS_DECODE_CORRUPT;
  const uint32_t stored = (uint32_t)e.StoredSize;
  EfsDecodeResult r;
  switch (e.Method) {
    case EFS_METHOD_STORED: r = DecodeStored(io, stored, &crc, in); break;
    case EFS_METHOD_ZLIB: r = DecodeCompressed(io, stored, &crc, in, out); break;
    default: return EFS_DECODE_CORRUPT;
  }
  if (r == EFS_DECODE_OK && crc != e.Crc) r = EFS_DECODE_CRC_MISMATCH;
  return r;
}

int EfsInflateWhole(const unsigned char* in, uint32_t n, unsigned char* out, uint32_t outSize) {
  unsigned char* buffer = (unsigned char*)malloc(EFS_INFLATE_BUFFER_SIZE);
  if (!buffer) return 0;
  WholeInflateIo io(in, n, out, outSize);
  const int whole = EfsInflate(io, buffer) == EFS_INFLATE_OK && io.Full();
  free(buffer);
  return whole;
}
