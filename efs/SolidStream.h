// The solid container's LZMA streams, read: the directory decoded whole, and
// the one stream of every entry's content, decoded forward as entries are
// asked for. Shared by the setup program and the command. Portable: the
// caller supplies the file access.
#pragma once
#include <stdint.h>

#include "efs/EfsFormat.h"
#include "efs/EntryCodec.h"
#include "efs/SetupLayout.h"

// The dictionary (history) size that stream properties name; 0 when they
// are not LZMA properties.
uint32_t EfsLzmaDictionarySize(const unsigned char props[EFS_LZMA_PROPS_SIZE]);

// The most bytes one decoding step puts into the history.
enum { EFS_SOLID_CHUNK = 65536 };

// Reads entries out of the solid stream. Entries asked for in stream order
// cost one pass over it; an entry that lies behind what was decoded (a
// second copy, a picture asked for late) starts the pass over. Memory: the
// history, at most the stream's dictionary and never more than its content,
// plus a 64 KiB input buffer.
class CEfsSolidStream {
 public:
  CEfsSolidStream();
  ~CEfsSolidStream();

  // The stream of storedSize bytes at offset that decodes to contentSize
  // bytes, read through file (kept).
  void Attach(IEfsFileReader* file, uint64_t offset, uint64_t storedSize, uint64_t contentSize,
              const unsigned char props[EFS_LZMA_PROPS_SIZE]);
  // Lets go of the memory and the file.
  void Release();

  // Decodes the entry's content into io (Write and Progress; Read is not
  // used) and checks its CRC. Damaged or truncated data gives
  // EFS_DECODE_CORRUPT; a history that cannot be allocated, READ_FAILED.
  EfsDecodeResult Decode(const EfsEntry& entry, IEfsDecodeIo& io);

  // Decoded bytes passed so far in this pass (for tests).
  uint64_t Position() const { return m_Position; }

  // The steps of a pass, for a reader that decodes on a thread of its own.
  // Back to the stream's first byte; the memory is taken on the first call.
  // 0 when it cannot be had.
  int Start();
  // Up to want decoded bytes (0 < want <= EFS_SOLID_CHUNK) in *data, *n of
  // them, in the history: decoded byte p of a pass lies at
  // History()[p % HistorySize()].
  EfsDecodeResult Next(uint64_t want, const unsigned char** data, uint32_t* n);
  // At the content's end the stream must end too, its range coder settled:
  // a flip in its last bytes changes no content but is damage all the same.
  EfsDecodeResult Finish();
  const unsigned char* History() const { return m_History; }
  uint32_t HistorySize() const { return m_HistorySize; }
  uint64_t ContentSize() const { return m_ContentSize; }

 private:
  EfsDecodeResult DecodeEntry(const EfsEntry& entry, IEfsDecodeIo& io);
  void FreeMemory();
  EfsDecodeResult Fill();

  IEfsFileReader* m_File;
  uint64_t m_Offset;
  uint64_t m_StoredSize;
  uint64_t m_ContentSize;
  unsigned char m_Props[EFS_LZMA_PROPS_SIZE];
  void* m_Decoder;  // the LZMA SDK's state, opaque here
  unsigned char* m_History;
  uint32_t m_HistorySize;
  unsigned char* m_Input;
  uint32_t m_InputAt;     // next unused byte of m_Input
  uint32_t m_InputCount;  // bytes in m_Input
  uint64_t m_StreamRead;  // stored bytes read from the file so far
  uint64_t m_Position;    // decoded bytes so far
  int m_Started;

  CEfsSolidStream(const CEfsSolidStream&);
  CEfsSolidStream& operator=(const CEfsSolidStream&);
};
