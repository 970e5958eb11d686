#include "efs/EfsFormat.h"

#include <stddef.h>
#include <string.h>

#include "efs/Crc32.h"

const unsigned char InstallerSignature[EFS_SIGNATURE_SIZE] = {
    0xDB, 0x72, 0xBC, 0x80, 0x3B, 0x25, 0x62, 0xBB,
    0xD2, 0x81, 0x4E, 0xBD, 0x9B, 0x4C, 0xDF, 0x98};
const unsigned char UninstallerSignature[EFS_SIGNATURE_SIZE] = {
    0xDB, 0x72, 0xBC, 0x80, 0x3B, 0x25, 0x62, 0xBB,
    0xD2, 0x81, 0x4E, 0xBD, 0x17, 0xD6, 0x0F, 0xA0};

// Every machine we build for is little-endian: a field is its bytes as they
// lie, one load or store, which keeps the setup program small.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the container's integers are little-endian");

uint32_t EfsReadU32(const unsigned char* p) {
  uint32_t v;
  memcpy(&v, p, sizeof v);
  return v;
}

void EfsWriteU32(unsigned char* p, uint32_t v) { memcpy(p, &v, sizeof v); }

uint64_t EfsReadU64(const unsigned char* p) {
  uint64_t v;
  memcpy(&v, p, sizeof v);
  return v;
}

void EfsWriteU64(unsigned char* p, uint64_t v) { memcpy(p, &v, sizeof v); }

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

const char* EfsMethodName(uint32_t method) {
  switch (method) {
    case EFS_METHOD_STORED: return "stored";
    case EFS_METHOD_ZLIB: return "zlib";
    case EFS_METHOD_LZMA: return "lzma";
  }
  return "unknown";
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

// A name of 1..255 bytes with its one NUL at the end, at dir + pos within
// end bytes; the name must not hide a shorter one.
// The name after a record's fixed part, NameLength bytes with its one zero
// at the end; *pos moves past it.
static EfsParseResult TakeName(const unsigned char* dir, uint32_t* pos, uint32_t end, EfsEntry* e) {
  const uint32_t length = e->NameLength;
  if (length > end - *pos) return EFS_PARSE_OVERRUN;
  if (length < 2 || length > EFS_MAX_NAME_LENGTH) return EFS_PARSE_BAD_NAME;
  if (memchr(dir + *pos, 0, length) != dir + *pos + length - 1) return EFS_PARSE_BAD_NAME;
  e->Name = (const char*)(dir + *pos);
  *pos += length;
  return EFS_PARSE_OK;
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
    // every nonzero value means a zlib stream
    e.Method = EfsReadU32(r + 4) != 0 ? EFS_METHOD_ZLIB : EFS_METHOD_STORED;
    e.Crc = EfsReadU32(r + 8);
    e.Time = EfsReadU64(r + 12);
    e.NameLength = EfsReadU32(r + 20);
    pos += EFS_DIRENTRY_FIXED_SIZE;
    EfsParseResult name = TakeName(dir, &pos, recordsEnd, &e);
    if (name != EFS_PARSE_OK) return name;

    if (e.DataOffset > dataEnd) return EFS_PARSE_OUTSIDE_DATA;
    if (i > 0 && e.DataOffset < entries[i - 1].DataOffset) return EFS_PARSE_DESCENDING;
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t next = (i + 1 < count) ? entries[i + 1].DataOffset : dataEnd;
    entries[i].StoredSize = next - entries[i].DataOffset;
    entries[i].Size = entries[i].Method == EFS_METHOD_STORED ? entries[i].StoredSize : 0;
  }
  return EFS_PARSE_OK;
}

void EfsEncodeSolidHeader(const EfsSolidHeader& h, unsigned char* b) {
  EfsSolidHeader copy = h;
  copy.Reserved = 0;
  copy.HeaderCrc = EfsCrc32(0, (const unsigned char*)&copy, EFS_SOLID_HEADER_SIZE - 4);
  memcpy(b, &copy, EFS_SOLID_HEADER_SIZE);
}

EfsParseResult EfsDecodeSolidHeader(const unsigned char* b, uint32_t n, EfsSolidHeader* h) {
  if (n < 4) return EFS_PARSE_BAD_HEADER;
  h->Version = EfsReadU32(b);
  // a later version may lay out everything behind its version otherwise
  if (h->Version > EFS_FORMAT_NAMED_LINES) return EFS_PARSE_NEWER_VERSION;
  if (h->Version < EFS_FORMAT_SOLID_RECORDS || n != EFS_SOLID_HEADER_SIZE) return EFS_PARSE_BAD_HEADER;
  memcpy(h, b, EFS_SOLID_HEADER_SIZE);
  if (h->HeaderCrc != EfsCrc32(0, b, EFS_SOLID_HEADER_SIZE - 4)) return EFS_PARSE_BAD_HEADER;
  const unsigned layouts = h->Version == EFS_FORMAT_NAMED_LINES ? EFS_LAYOUT_RECORDS : EFS_LAYOUT_COLUMNS;
  if (h->Layout > layouts) return EFS_PARSE_BAD_HEADER;
  return EFS_PARSE_OK;
}

EfsParseResult EfsCheckSolidHeader(const EfsSolidHeader& h, uint64_t end) {
  const uint64_t tail = EFS_SOLID_HEADER_SIZE + EFS_TRAILER_SIZE;
  if (end < tail) return EFS_PARSE_BAD_HEADER;
  // stub, the two streams, header and trailer fill the file exactly; each
  // sum is checked before it can wrap
  const uint64_t room = end - tail;
  if (h.DirectoryStoredSize > room || h.DataOffset > room - h.DirectoryStoredSize ||
      h.StreamSize != room - h.DirectoryStoredSize - h.DataOffset)
    return EFS_PARSE_BAD_HEADER;
  if (h.Layout == EFS_LAYOUT_RECORDS) {
    // the records as they stand: a record is at least 24 bytes and a name of one
    if (h.DirectoryStoredSize != h.DirectorySize || end > 0xFFFFFFFFu) return EFS_PARSE_BAD_HEADER;
    if (h.DirectorySize > EFS_SOLID_DIRECTORY_LIMIT || h.Count > h.DirectorySize / (EFS_DIRENTRY_FIXED_SIZE + 2))
      return EFS_PARSE_TOO_MANY;
    return EFS_PARSE_OK;
  }
  if (h.DirectorySize > EFS_SOLID_DIRECTORY_LIMIT || h.Count > h.DirectorySize / EFS_SOLID_ENTRY_MIN_SIZE ||
      EfsReadU32(h.NamesSize) / EFS_MAX_NAME_LENGTH > h.Count)
    return EFS_PARSE_TOO_MANY;
  return EFS_PARSE_OK;
}

// Value i of a column of count values of width bytes: byte k of it in
// plane k.
static void SetPlaneValue(unsigned char* column, uint32_t count, uint32_t i, uint32_t width, uint64_t v) {
  for (uint32_t k = 0; k < width; ++k, v >>= 8) column[(size_t)k * count + i] = (unsigned char)v;
}

static uint32_t SharedLength(const char* a, const char* b) {
  uint32_t n = 0;
  while (a[n] && a[n] == b[n]) ++n;
  return n;
}

size_t EfsEncodeSolidColumns(const EfsEntry* entries, uint32_t count, unsigned char* out) {
  size_t size = (size_t)count * EFS_SOLID_COLUMNS_FIXED_SIZE;
  uint64_t end = 0, time = 0;
  const char* before = "";
  for (uint32_t i = 0; i < count; ++i) {
    const EfsEntry& e = entries[i];
    const uint32_t shared = SharedLength(before, e.Name);
    const size_t rest = strlen(e.Name + shared) + 1;
    if (out) {
      unsigned char* sizes = out + count;
      out[i] = (unsigned char)e.Method;
      SetPlaneValue(sizes, count, i, 8, e.Size);
      SetPlaneValue(sizes + (size_t)8 * count, count, i, 8, e.DataOffset - end);
      SetPlaneValue(sizes + (size_t)16 * count, count, i, 8, e.Time - time);
      SetPlaneValue(sizes + (size_t)24 * count, count, i, 4, e.Crc);
      out[size] = (unsigned char)shared;
      memcpy(out + size + 1, e.Name + shared, rest);
    }
    size += 1 + rest;
    end = e.DataOffset + e.Size;
    time = e.Time;
    before = e.Name;
  }
  return size;
}

// What both versions check of an entry once read; before is the name of
// the entry before it, or null.
static EfsParseResult CheckSolidEntry(const EfsEntry& e, const char* before, uint64_t contentSize) {
  if (e.Method != EFS_METHOD_LZMA) return EFS_PARSE_BAD_METHOD;
  if (e.DataOffset > contentSize || e.Size > contentSize - e.DataOffset) return EFS_PARSE_OUTSIDE_DATA;
  // the reader's binary search needs them sorted, and one of two equal
  // names could never be found
  if (before && EfsCompareNames(before, e.Name) >= 0) return EFS_PARSE_UNSORTED;
  return EFS_PARSE_OK;
}

EfsParseResult EfsParseSolidColumns(const unsigned char* dir, uint32_t size, uint32_t count,
                                    uint64_t contentSize, EfsEntry* entries, char* names, uint32_t namesSize) {
  if (size / EFS_SOLID_COLUMNS_FIXED_SIZE < count) return EFS_PARSE_OVERRUN;
  // Byte k of a little-endian field is byte k of its value: the planes go
  // straight into the fields, the steps are summed after.
  static const unsigned char kFields[4] = {offsetof(EfsEntry, Size), offsetof(EfsEntry, DataOffset),
                                           offsetof(EfsEntry, Time), offsetof(EfsEntry, Crc)};
  const unsigned char* from = dir + count;
  for (uint32_t c = 0; c < 4; ++c)
    for (uint32_t k = kFields[c]; k < kFields[c] + (c < 3 ? 8u : 4u); ++k)
      for (uint32_t i = 0; i < count; ++i) ((unsigned char*)&entries[i])[k] = *from++;
  uint32_t pos = count * EFS_SOLID_COLUMNS_FIXED_SIZE;
  char* to = names;
  const char* before = NULL;  // the name before, of beforeLength bytes
  uint32_t beforeLength = 0;
  // offsets and times wrap modulo 2^64 as the builder's steps did; an
  // offset is checked against the content once it is whole
  uint64_t end = 0, time = 0;
  for (uint32_t i = 0; i < count; ++i) {
    EfsEntry& e = entries[i];
    e.Method = dir[i];
    e.StoredSize = e.Size;
    e.DataOffset += end;
    e.Time = time += e.Time;
    // the bytes shared with the name before, then the rest with its NUL
    if (pos >= size) return EFS_PARSE_OVERRUN;
    const uint32_t shared = dir[pos++];
    const unsigned char* rest = dir + pos;
    const unsigned char* nul = (const unsigned char*)memchr(rest, 0, size - pos);
    if (!nul) return EFS_PARSE_OVERRUN;
    const uint32_t restLength = (uint32_t)(nul - rest) + 1;
    pos += restLength;
    const uint32_t length = shared + restLength;
    if (shared > beforeLength || length < 2 || length > EFS_MAX_NAME_LENGTH) return EFS_PARSE_BAD_NAME;
    if (length > (size_t)(names + namesSize - to)) return EFS_PARSE_OVERRUN;
    if (shared) memcpy(to, before, shared);
    memcpy(to + shared, rest, restLength);
    e.Name = to;
    e.NameLength = length;
    EfsParseResult r = CheckSolidEntry(e, before, contentSize);
    if (r != EFS_PARSE_OK) return r;
    before = to;
    beforeLength = length - 1;
    to += length;
    end = e.DataOffset + e.Size;
  }
  return pos == size && to == names + namesSize ? EFS_PARSE_OK : EFS_PARSE_OVERRUN;
}

void EfsEncodeSolidRecord(const EfsEntry& e, unsigned char* b) {
  EfsWriteU32(b, e.Method);
  EfsWriteU64(b + 4, e.DataOffset);
  EfsWriteU64(b + 12, e.Size);
  EfsWriteU32(b + 20, e.Crc);
  EfsWriteU64(b + 24, e.Time);
  EfsWriteU32(b + 32, e.NameLength);
}

EfsParseResult EfsParseSolidRecords(const unsigned char* dir, uint32_t size, uint32_t count,
                                    uint64_t contentSize, EfsEntry* entries) {
  uint32_t pos = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (size - pos < EFS_SOLID_RECORD_FIXED_SIZE) return EFS_PARSE_OVERRUN;
    const unsigned char* r = dir + pos;
    EfsEntry& e = entries[i];
    e.Method = EfsReadU32(r);
    e.DataOffset = EfsReadU64(r + 4);
    e.Size = e.StoredSize = EfsReadU64(r + 12);
    e.Crc = EfsReadU32(r + 20);
    e.Time = EfsReadU64(r + 24);
    e.NameLength = EfsReadU32(r + 32);
    pos += EFS_SOLID_RECORD_FIXED_SIZE;
    EfsParseResult name = TakeName(dir, &pos, size, &e);
    if (name != EFS_PARSE_OK) return name;
    name = CheckSolidEntry(e, i ? entries[i - 1].Name : NULL, contentSize);
    if (name != EFS_PARSE_OK) return name;
  }
  return pos == size ? EFS_PARSE_OK : EFS_PARSE_OVERRUN;
}
