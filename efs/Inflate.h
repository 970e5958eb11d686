// The setup program's decoder of zlib streams (a deflate stream in its
// zlib wrapper, with the Adler-32 check). Only what the container and the
// side picture need: no preset dictionary, no gzip. Constant memory: a
// 32 KiB history window plus an output area, both in the caller's buffer.
// Portable: the caller supplies the bytes in and takes the bytes out.
#pragma once
#include <stdint.h>

enum {
  EFS_INFLATE_WINDOW = 32768,  // the longest distance a stream may refer back
  EFS_INFLATE_OUTPUT = 65536,  // decoded bytes handed on at a time (at most)
  // history + output area + room for one match and its 8-byte copy steps
  EFS_INFLATE_BUFFER_SIZE = EFS_INFLATE_WINDOW + EFS_INFLATE_OUTPUT + 512,
};

class IEfsInflateIo {
 public:
  // Points *data at the next input bytes and returns their count; 0 at the
  // end of the input, -1 stops the decoder (a failed read, a cancel).
  virtual long Fill(const unsigned char** data) = 0;
  // Takes the next n decoded bytes; 0 stops the decoder.
  virtual int Flush(const unsigned char* data, uint32_t n) = 0;

 protected:
  ~IEfsInflateIo() {}
};

enum EfsInflateResult {
  EFS_INFLATE_OK = 0,
  EFS_INFLATE_BAD_STREAM,  // not a zlib stream, corrupt, truncated or failing its check
  EFS_INFLATE_STOPPED,     // Fill or Flush stopped it; the io knows why
};

// Decodes one zlib stream. Input after the stream's end is left unread (or
// unused). buffer: EFS_INFLATE_BUFFER_SIZE bytes of the caller's.
EfsInflateResult EfsInflate(IEfsInflateIo& io, unsigned char* buffer);

// Adler-32 (RFC 1950) continued from adler over n bytes; start with 1.
uint32_t EfsAdler32(uint32_t adler, const unsigned char* data, uint32_t n);
