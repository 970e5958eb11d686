// Streaming codec of one container entry, shared by the reader in the setup
// program and by the builder: constant memory whatever the entry's size.
// Portable: the caller supplies the file access.
#pragma once
#include <stdint.h>

#include "efs/Crc32.h"
#include "efs/EfsFormat.h"
#include "efs/Inflate.h"

enum {
  EFS_INPUT_BUFFER_SIZE = 32768,
  // the decoder keeps its history window in this buffer too
  EFS_OUTPUT_BUFFER_SIZE = EFS_INFLATE_BUFFER_SIZE,
};

// Where a decoded entry's bytes come from and go to.
class IEfsDecodeIo {
 public:
  // Reads exactly n bytes; 0 on a failed or short read.
  virtual int Read(unsigned char* buffer, uint32_t n) = 0;
  // Writes all n bytes; 0 on failure (the caller keeps the reason).
  virtual int Write(const unsigned char* buffer, uint32_t n) = 0;
  // Called after every chunk; 0 cancels. Bytes of the entry's stored size
  // (stored, zlib) or of its content (lzma).
  virtual int Progress(uint64_t done, uint64_t total) = 0;

 protected:
  ~IEfsDecodeIo() {}
};

enum EfsDecodeResult {
  EFS_DECODE_OK = 0,
  EFS_DECODE_READ_FAILED,
  EFS_DECODE_WRITE_FAILED,
  EFS_DECODE_CANCELLED,
  EFS_DECODE_CORRUPT,  // not a valid compressed stream: damaged or truncated
  EFS_DECODE_CRC_MISMATCH,
};

// Decodes one stored or zlib entry, reading its StoredSize bytes. in must
// hold EFS_INPUT_BUFFER_SIZE bytes; out EFS_OUTPUT_BUFFER_SIZE bytes for zlib
// (else unused). Bytes stored after the end of a zlib stream are ignored.
// An lzma entry is the solid stream's to decode (efs/SolidStream.h).
EfsDecodeResult EfsDecodeEntry(IEfsDecodeIo& io, const EfsEntry& entry, unsigned char* in,
                               unsigned char* out);

// Where an encoded entry's bytes come from and go to.
class IEfsEncodeIo {
 public:
  // Reads up to n bytes into buffer; returns the count (0 at the end), or -1.
  virtual long Read(unsigned char* buffer, uint32_t n) = 0;
  // Writes all n bytes; 0 on failure.
  virtual int Write(const unsigned char* buffer, uint32_t n) = 0;
  // Called after every chunk read with the bytes of that chunk; 0 cancels.
  virtual int Progress(uint32_t chunk) = 0;

 protected:
  ~IEfsEncodeIo() {}
};

enum EfsEncodeResult {
  EFS_ENCODE_OK = 0,
  EFS_ENCODE_READ_FAILED,
  EFS_ENCODE_WRITE_FAILED,
  EFS_ENCODE_CANCELLED,
  EFS_ENCODE_CODEC_ERROR,  // the compressor refused
};

// Encodes one source: a zlib stream at level 6, window 15, memory level 8
// when compressed, else the bytes as they are. crc receives the CRC-32 of
// the source bytes. Buffer sizes as for decoding.
EfsEncodeResult EfsEncodeEntry(IEfsEncodeIo& io, int compressed, uint32_t* crc,
                               unsigned char* in, unsigned char* out);

// Compresses everything io reads (up to its end) into one raw LZMA stream
// without an end mark, with a dictionary sized to contentSize (the expected
// total) up to 64 MiB; props receives the stream's properties. threads > 1
// runs the match finder on a second thread (the same bytes out; io is then
// read, and its progress told, on that thread). Builder side only: the
// setup program links no encoder.
EfsEncodeResult EfsLzmaEncode(IEfsEncodeIo& io, uint64_t contentSize,
                              unsigned char props[EFS_LZMA_PROPS_SIZE], unsigned threads = 1);

// Inflates one whole zlib stream of n bytes that must give exactly outSize
// bytes. 1 on success.
int EfsInflateWhole(const unsigned char* in, uint32_t n, unsigned char* out, uint32_t outSize);


// Rate limit for progress reports: the first report is always due, later
// ones once interval milliseconds have passed on the caller's clock.
class CEfsProgressThrottle {
 public:
  explicit CEfsProgressThrottle(uint32_t interval) : m_Interval(interval), m_Last(0), m_Reported(0) {}
  int Due(uint32_t now) const { return !m_Reported || !(now < m_Last + m_Interval); }
  void Mark(uint32_t now) {
    m_Last = now;
    m_Reported = 1;
  }

 private:
  uint32_t m_Interval;
  uint32_t m_Last;
  int m_Reported;
};
