#include "efs/EfsFormat.h"

#include <string.h>

const unsigned char InstallerSignature[EFS_SIGNATURE_SIZE] = {
    0xDB, 0x72, 0xBC, 0x80, 0x3B, 0x25, 0x62, 0xBB,
    0xD2, 0x81, 0x4E, 0xBD, 0x9B, 0x4C, 0xDF, 0x98};
const unsigned char UninstallerSignature[EFS_SIGNATURE_SIZE] = {
    0xDB, 0x72, 0xBC, 0x80, 0x3B, 0x25, 0x62, 0xBB,
    0xD2, 0x81, 0x4E, 0xBD, 0x17, 0xD6, 0x0F, 0xA0};

uint32_t EfsReadU32(const unsigned char* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

void EfsWriteU32(unsigned char* p, uint32_t v) {
  p[0] = (unsigned char)v;
  p[1] = (unsigned char)(v >> 8);
  p[2] = (unsigned char)(v >> 16);
  p[3] = (unsigned char)(v >> 24);
}

void EfsDecodeTrailer(const unsigned char* bytes, EFSTRAILER* trailer) {
  trailer->Count = EfsReadU32(bytes);
  trailer->DirectorySize = EfsReadU32(bytes + 4);
  memcpy(trailer->Signature, bytes + 8, EFS_SIGNATURE_SIZE);
}

void EfsEncodeTrailer(const EFSTRAILER& trailer, unsigned char* bytes) {
  EfsWriteU32(bytes, trailer.Count);
  EfsWriteU32(bytes + 4, trailer.DirectorySize);
  memcpy(bytes + 8, trailer.Signature, EFS_SIGNATURE_SIZE);
}

void EfsEncodeDirEntry(const EFSDIRENTRY& e, unsigned char* bytes) {
  EfsWriteU32(bytes, e.DataOffset);
  EfsWriteU32(bytes + 4, e.Compressed);
  EfsWriteU32(bytes + 8, e.Crc);
  EfsWriteU32(bytes + 12, e.TimeLow);
  EfsWriteU32(bytes + 16, e.TimeHigh);
  EfsWriteU32(bytes + 20, e.NameLength);
}

static unsigned FoldAZ(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? (unsigned)(c - 'A' + 'a') : (unsigned)c;
}

int EfsCompareNames(const char* a, const char* b) {
  const unsigned char* p = (const unsigned char*)a;
  const unsigned char* q = (const unsigned char*)b;
  for (;; ++p, ++q) {
    unsigned x = FoldAZ(*p), y = FoldAZ(*q);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

uint32_t EfsMaxEntries(uint32_t directorySize) {
  if (directorySize < EFS_TRAILER_SIZE) return 0;
  return (directorySize - EFS_TRAILER_SIZE) / (EFS_DIRENTRY_FIXED_SIZE + 1);
}

EfsParseResult EfsParseDirectory(const unsigned char* dir, uint32_t directorySize,
                                 uint32_t count, uint64_t fileSize, EfsEntry* entries) {
  if (directorySize < EFS_TRAILER_SIZE || directorySize > fileSize) return EFS_PARSE_BAD_SIZE;
  if (count > EfsMaxEntries(directorySize)) return EFS_PARSE_TOO_MANY;

  const uint32_t recordsEnd = directorySize - EFS_TRAILER_SIZE;
  const uint64_t dataEnd = fileSize - directorySize;  // D
  uint32_t pos = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (recordsEnd - pos < EFS_DIRENTRY_FIXED_SIZE) return EFS_PARSE_OVERRUN;
    const unsigned char* r = dir + pos;
    EfsEntry& e = entries[i];
    e.DataOffset = EfsReadU32(r);
    e.Compressed = EfsReadU32(r + 4) != 0;
    e.Crc = EfsReadU32(r + 8);
    e.TimeLow = EfsReadU32(r + 12);
    e.TimeHigh = EfsReadU32(r + 16);
    e.NameLength = EfsReadU32(r + 20);
    pos += EFS_DIRENTRY_FIXED_SIZE;
    if (e.NameLength > recordsEnd - pos) return EFS_PARSE_OVERRUN;
    if (e.NameLength < 2 || e.NameLength > EFS_MAX_NAME_LENGTH) return EFS_PARSE_BAD_NAME;
    e.Name = (const char*)(dir + pos);
    // exactly one NUL, at the end: the name must not hide a shorter one
    if (memchr(e.Name, 0, e.NameLength) != e.Name + e.NameLength - 1) return EFS_PARSE_BAD_NAME;
    pos += e.NameLength;

    if (e.DataOffset > dataEnd) return EFS_PARSE_OUTSIDE_DATA;
    if (i > 0 && e.DataOffset < entries[i - 1].DataOffset) return EFS_PARSE_DESCENDING;
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t next = (i + 1 < count) ? entries[i + 1].DataOffset : dataEnd;
    entries[i].StoredSize = (uint32_t)(next - entries[i].DataOffset);
  }
  return EFS_PARSE_OK;
}
