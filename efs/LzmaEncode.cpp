// The builder's LZMA encoder: the SDK's, one thread, the strongest level.
#include "efs/EntryCodec.h"

#include <stddef.h>
#include <stdlib.h>

#include <LzmaEnc.h>

namespace {

void* Allocate(void*, size_t size) { return malloc(size); }
void Free(void*, void* address) { free(address); }
ISzAlloc g_Alloc = {Allocate, Free};

// The SDK's streams over the codec's io, remembering why they stopped.
struct Streams {
  ISeqInStream In;
  ISeqOutStream Out;
  ICompressProgress Progress;
  IEfsEncodeIo* Io;
  EfsEncodeResult Stopped;
  int Read;  // whether the encoder has asked for input yet
};

Streams& Of(void* p, size_t offset) { return *(Streams*)((char*)p - offset); }

SRes ReadIn(void* p, void* buffer, size_t* size) {
  Streams& s = Of(p, offsetof(Streams, In));
  s.Read = 1;
  // a read of up to 1 GiB at once
  uint32_t want = *size > 0x40000000u ? 0x40000000u : (uint32_t)*size;
  long n = s.Io->Read((unsigned char*)buffer, want);
  if (n < 0) {
    s.Stopped = EFS_ENCODE_READ_FAILED;
    return SZ_ERROR_READ;
  }
  *size = (size_t)n;
  if (n > 0 && !s.Io->Progress((uint32_t)n)) {
    s.Stopped = EFS_ENCODE_CANCELLED;
    return SZ_ERROR_READ;
  }
  return SZ_OK;
}

size_t WriteOut(void* p, const void* buffer, size_t size) {
  Streams& s = Of(p, offsetof(Streams, Out));
  if (s.Io->Write((const unsigned char*)buffer, (uint32_t)size)) return size;
  s.Stopped = EFS_ENCODE_WRITE_FAILED;
  return 0;
}

SRes NoProgress(void*, UInt64, UInt64) { return SZ_OK; }

}  // namespace

// One attempt with this dictionary.
static SRes Encode(Streams& s, uint32_t dictionary, uint64_t contentSize, unsigned char props[EFS_LZMA_PROPS_SIZE]) {
  CLzmaEncProps p;
  LzmaEncProps_Init(&p);
  p.level = 9;
  p.dictSize = dictionary;
  // the dictionary shrinks to the content: a setup program that decodes it
  // needs that much memory and no more
  p.reduceSize = contentSize > 0xFFFFFFFFu ? 0xFFFFFFFFu : (UInt32)contentSize;
  p.numThreads = 1;
  CLzmaEncHandle enc = LzmaEnc_Create(&g_Alloc);
  if (!enc) return SZ_ERROR_MEM;
  SizeT propsSize = EFS_LZMA_PROPS_SIZE;
  SRes r = LzmaEnc_SetProps(enc, &p);
  if (r == SZ_OK) r = LzmaEnc_WriteProperties(enc, props, &propsSize);
  if (r == SZ_OK) r = LzmaEnc_Encode(enc, &s.Out, &s.In, &s.Progress, &g_Alloc, &g_Alloc);
  LzmaEnc_Destroy(enc, &g_Alloc, &g_Alloc);
  return r;
}

EfsEncodeResult EfsLzmaEncode(IEfsEncodeIo& io, uint64_t contentSize, unsigned char props[EFS_LZMA_PROPS_SIZE]) {
  Streams s;
  s.In.Read = ReadIn;
  s.Out.Write = WriteOut;
  s.Progress.Progress = NoProgress;
  s.Io = &io;
  s.Stopped = EFS_ENCODE_OK;
  s.Read = 0;
  // The match finder takes about ten times the dictionary: where that much
  // cannot be had in one piece (a 32-bit command), a smaller dictionary
  // compresses a little less, before any input is taken.
  SRes r = SZ_ERROR_MEM;
  for (uint32_t dictionary = 64u << 20; dictionary >= (1u << 20); dictionary /= 2) {
    r = Encode(s, dictionary, contentSize, props);
    if (r != SZ_ERROR_MEM || s.Read) break;
  }
  if (s.Stopped != EFS_ENCODE_OK) return s.Stopped;
  return r == SZ_OK ? EFS_ENCODE_OK : EFS_ENCODE_CODEC_ERROR;
}
