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

 private:
  EfsDecodeResult DecodeEntry(const EfsEntry& entry, IEfsDecodeIo& io);
  int Start();
  void FreeMemory();
  EfsDecodeResult Fill();
  // At the content's end the stream must end too, its range coder settled:
  // a flip in its last bytes changes no content but is damage all the same.
  EfsDecodeResult Finish();
  // Up to want decoded bytes (want > 0) in *data, *n of them.
  EfsDecodeResult Next(uint64_t want, const unsigned char** data, uint32_t* n);

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
