#include "efs/EntryCodec.h"

#include <string.h>
#include <zlib.h>

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

static EfsDecodeResult DecodeCompressed(IEfsDecodeIo& io, uint32_t storedSize, uint32_t* crc,
                                        unsigned char* in, unsigned char* out) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) return EFS_DECODE_INFLATE_ERROR;
  EfsDecodeResult result = EFS_DECODE_OK;
  uint32_t done = 0;
  uint32_t pending = 0;  // unconsumed input at the start of in
  for (;;) {
    uint32_t want = EFS_INPUT_BUFFER_SIZE - pending;
    if (storedSize - done < want) want = storedSize - done;
    if (!io.Read(in + pending, want)) {
      result = EFS_DECODE_READ_FAILED;
      break;
    }
    z.next_in = in;
    z.avail_in = pending + want;
    z.next_out = out;
    z.avail_out = EFS_OUTPUT_BUFFER_SIZE;
    int rc = inflate(&z, Z_SYNC_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) {
      result = EFS_DECODE_INFLATE_ERROR;
      break;
    }
    uint32_t produced = EFS_OUTPUT_BUFFER_SIZE - z.avail_out;
    if (produced) {
      *crc = EfsCrc32(*crc, out, produced);
      if (!io.Write(out, produced)) {
        result = EFS_DECODE_WRITE_FAILED;
        break;
      }
    }
    pending = z.avail_in;
    if (pending) memmove(in, z.next_in, pending);
    done += want;
    if (!io.Progress(done, storedSize)) {
      result = EFS_DECODE_CANCELLED;
      break;
    }
    if (rc == Z_STREAM_END) break;
  }
  if (inflateEnd(&z) != Z_OK && result == EFS_DECODE_OK) result = EFS_DECODE_INFLATE_ERROR;
  return result;
}

EfsDecodeResult EfsDecodeEntry(IEfsDecodeIo& io, uint32_t storedSize, int compressed,
                               uint32_t expectedCrc, unsigned char* in, unsigned char* out) {
  uint32_t crc = 0;
  EfsDecodeResult r = compressed ? DecodeCompressed(io, storedSize, &crc, in, out)
                                 : DecodeStored(io, storedSize, &crc, in);
  if (r == EFS_DECODE_OK && crc != expectedCrc) r = EFS_DECODE_CRC_MISMATCH;
  return r;
}


int EfsInflateWhole(const unsigned char* in, uint32_t n, unsigned char* out, uint32_t outSize) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) return 0;
  z.next_in = const_cast<unsigned char*>(in);
  z.avail_in = n;
  z.next_out = out;
  z.avail_out = outSize;
  const int rc = inflate(&z, Z_FINISH);
  const int whole = rc == Z_STREAM_END && z.avail_out == 0;
  inflateEnd(&z);
  return whole;
}
