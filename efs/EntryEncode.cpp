// The builder's half of the codec, kept apart so that the setup program
// links no deflate.
#include "efs/EntryCodec.h"

#include <string.h>
#include <zlib.h>

static EfsEncodeResult EncodeStored(IEfsEncodeIo& io, uint32_t* crc, unsigned char* in) {
  for (;;) {
    long n = io.Read(in, EFS_INPUT_BUFFER_SIZE);
    if (n < 0) return EFS_ENCODE_READ_FAILED;
    if (n == 0) return EFS_ENCODE_OK;
    *crc = EfsCrc32(*crc, in, (uint32_t)n);
    if (!io.Write(in, (uint32_t)n)) return EFS_ENCODE_WRITE_FAILED;
    if (!io.Progress((uint32_t)n)) return EFS_ENCODE_CANCELLED;
  }
}

static EfsEncodeResult EncodeCompressed(IEfsEncodeIo& io, uint32_t* crc, unsigned char* in,
                                        unsigned char* out) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return EFS_ENCODE_CODEC_ERROR;
  EfsEncodeResult result = EFS_ENCODE_OK;
  uint32_t pending = 0;
  int atEnd = 0;
  for (;;) {
    long n = 0;
    // a full buffer of pending input is deflated before anything more is read,
    // so an empty read always means the end of the source
    if (!atEnd && pending < EFS_INPUT_BUFFER_SIZE) {
      n = io.Read(in + pending, EFS_INPUT_BUFFER_SIZE - pending);
      if (n < 0) {
        result = EFS_ENCODE_READ_FAILED;
        break;
      }
      if (n == 0) atEnd = 1;
      *crc = EfsCrc32(*crc, in + pending, (uint32_t)n);
    }
    z.next_in = in;
    z.avail_in = pending + (uint32_t)n;
    z.next_out = out;
    z.avail_out = EFS_OUTPUT_BUFFER_SIZE;
    int rc = deflate(&z, atEnd ? Z_FINISH : Z_NO_FLUSH);
    if (atEnd ? (rc != Z_OK && rc != Z_STREAM_END) : rc != Z_OK) {
      result = EFS_ENCODE_CODEC_ERROR;
      break;
    }
    uint32_t produced = EFS_OUTPUT_BUFFER_SIZE - z.avail_out;
    if (produced && !io.Write(out, produced)) {
      result = EFS_ENCODE_WRITE_FAILED;
      break;
    }
    if (rc == Z_STREAM_END) break;
    pending = z.avail_in;
    if (pending) memmove(in, z.next_in, pending);
    if (n > 0 && !io.Progress((uint32_t)n)) {
      result = EFS_ENCODE_CANCELLED;
      break;
    }
  }
  if (deflateEnd(&z) != Z_OK && result == EFS_ENCODE_OK) result = EFS_ENCODE_CODEC_ERROR;
  return result;
}

EfsEncodeResult EfsEncodeEntry(IEfsEncodeIo& io, int compressed, uint32_t* crc, unsigned char* in,
                               unsigned char* out) {
  *crc = 0;
  return compressed ? EncodeCompressed(io, crc, in, out) : EncodeStored(io, crc, in);
}
