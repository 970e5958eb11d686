// zlib's inflate refers to its own crc32 (for gzip headers, which the
// container never holds). Answering that call here keeps zlib's 8 KiB of
// CRC tables and code out of the setup program. Linked into the program
// only, so the command and the tests keep zlib's.
#include <zlib.h>

#include "efs/EntryCodec.h"

extern "C" uLong ZEXPORT crc32(uLong crc, const Bytef* buf, uInt len) {
  if (!buf) return 0;  // zlib's way of asking for the initial value
  return EfsCrc32((uint32_t)crc, buf, len);
}
