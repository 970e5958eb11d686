#include "efs/EfsDirectory.h"

#include <stdlib.h>
#include <string.h>

#include "efs/EntryCodec.h"
#include "efs/SolidStream.h"

namespace {
// Decoded bytes into a buffer that holds them all.
class MemoryDecodeIo : public IEfsDecodeIo {
 public:
  explicit MemoryDecodeIo(unsigned char* at) : m_At(at) {}
  int Read(unsigned char*, uint32_t) override { return 0; }
  int Write(const unsigned char* data, uint32_t n) override {
    memcpy(m_At, data, n);
    m_At += n;
    return 1;
  }
  int Progress(uint64_t, uint64_t) override { return 1; }

 private:
  unsigned char* m_At;
};
}  // namespace

CEfsDirectory::CEfsDirectory()
    : m_Buffer(NULL), m_Entries(NULL), m_Count(0), m_StubSize(0), m_TotalStored(0), m_Version(0),
      m_Problem(EFS_PARSE_OK) {
  memset(&m_Header, 0, sizeof m_Header);
}

CEfsDirectory::~CEfsDirectory() { Release(); }

void CEfsDirectory::Release() {
  free(m_Buffer);
  free(m_Entries);
  m_Buffer = NULL;
  m_Entries = NULL;
  m_Count = 0;
  m_StubSize = m_TotalStored = 0;
  m_Version = 0;
  memset(&m_Header, 0, sizeof m_Header);
  m_Problem = EFS_PARSE_OK;
}

EfsOpenResult CEfsDirectory::Damaged(EfsParseResult why) {
  Release();
  m_Problem = why;
  return EFS_OPEN_DAMAGED;
}

EfsOpenResult CEfsDirectory::Unknown(uint32_t version) {
  Damaged(EFS_PARSE_NEWER_VERSION);
  m_Version = version;
  return EFS_OPEN_NEWER_VERSION;
}

EfsOpenResult CEfsDirectory::Read(IEfsFileReader& file, uint64_t end, EfsOlderSolidParser older) {
  Release();
  if (end < EFS_TRAILER_SIZE) return Damaged(EFS_PARSE_BAD_SIZE);
  unsigned char trailer[8];
  if (!file.ReadAt(end - EFS_TRAILER_SIZE, trailer, sizeof trailer)) return EFS_OPEN_READ_FAILED;
  const uint32_t count = EfsReadU32(trailer), dirSize = EfsReadU32(trailer + 4);
  if (dirSize < EFS_TRAILER_SIZE || dirSize > end) return Damaged(EFS_PARSE_BAD_SIZE);
  EfsOpenResult r = count == EFS_EXTENDED_COUNT ? ReadSolid(file, end, dirSize - EFS_TRAILER_SIZE, older)
                                                : ReadRecords(file, end, count, dirSize);
  if (r == EFS_OPEN_OK) {
    for (uint32_t i = 0; i < m_Count; ++i) m_TotalStored += m_Entries[i].StoredSize;
  } else if (r != EFS_OPEN_DAMAGED && r != EFS_OPEN_NEWER_VERSION) {
    Release();
  }
  return r;
}

// The first format: records and trailer behind the data, offsets 32-bit.
EfsOpenResult CEfsDirectory::ReadRecords(IEfsFileReader& file, uint64_t end, uint32_t count,
                                         uint32_t dirSize) {
  if (end > 0xFFFFFFFFu) return Damaged(EFS_PARSE_BAD_SIZE);
  // checked before anything is allocated from them
  if (count > EfsMaxEntries(dirSize)) return Damaged(EFS_PARSE_TOO_MANY);
  m_Version = 1;
  m_Buffer = (unsigned char*)malloc(dirSize);
  // calloc checks the product, which could wrap in 32 bits
  m_Entries = (EfsEntry*)calloc(count ? count : 1, sizeof(EfsEntry));
  if (!m_Buffer || !m_Entries) return EFS_OPEN_NO_MEMORY;
  if (!file.ReadAt(end - dirSize, m_Buffer, dirSize)) return EFS_OPEN_READ_FAILED;
  EfsParseResult p = EfsParseDirectory(m_Buffer, dirSize, count, end, m_Entries);
  if (p != EFS_PARSE_OK) return Damaged(p);
  m_Count = count;
  uint64_t stored = 0;
  for (uint32_t i = 0; i < count; ++i) stored += m_Entries[i].StoredSize;
  m_StubSize = end - dirSize - stored;
  return EFS_OPEN_OK;
}

// The solid container: its header, then the compressed directory.
EfsOpenResult CEfsDirectory::ReadSolid(IEfsFileReader& file, uint64_t end, uint32_t headerBytes,
                                       EfsOlderSolidParser older) {
  unsigned char header[EFS_SOLID_HEADER_SIZE];
  if (headerBytes < 4) return Damaged(EFS_PARSE_BAD_HEADER);
  const uint32_t n = headerBytes < sizeof header ? headerBytes : (uint32_t)sizeof header;
  if (!file.ReadAt(end - EFS_TRAILER_SIZE - headerBytes, header, n)) return EFS_OPEN_READ_FAILED;
  EfsParseResult p = EfsDecodeSolidHeader(header, headerBytes, &m_Header);
  if (p == EFS_PARSE_NEWER_VERSION) return Unknown(m_Header.Version);
  if (p == EFS_PARSE_OK && m_Header.Version == EFS_FORMAT_SOLID_RECORDS && !older) return Unknown(m_Header.Version);
  if (p == EFS_PARSE_OK) p = EfsCheckSolidHeader(m_Header, end);
  if (p != EFS_PARSE_OK) return Damaged(p);
  if (m_Header.Layout == EFS_LAYOUT_RECORDS) return ReadNamedRecords(file, end);
  const EfsSolidHeader h = m_Header;
  const uint32_t count = h.Count;
  // the names are rebuilt behind the decoded directory; a byte more, so
  // that an empty one still gets a block of its own
  const uint32_t names = h.Version != EFS_FORMAT_SOLID_RECORDS ? EfsReadU32(h.NamesSize) : 0;
  m_Buffer = (unsigned char*)malloc((size_t)h.DirectorySize + names + 1);
  m_Entries = (EfsEntry*)calloc(count ? count : 1, sizeof(EfsEntry));
  if (!m_Buffer || !m_Entries) return EFS_OPEN_NO_MEMORY;
  // the directory is a stream of its own, decoded as an entry would be
  {
    CEfsSolidStream records;
    records.Attach(&file, h.DataOffset + h.StreamSize, h.DirectoryStoredSize, h.DirectorySize, h.DirectoryProps);
    EfsEntry whole = {};
    whole.Size = h.DirectorySize;
    whole.Crc = h.DirectoryCrc;
    MemoryDecodeIo io(m_Buffer);
    switch (records.Decode(whole, io)) {
      case EFS_DECODE_OK: break;
      case EFS_DECODE_READ_FAILED: return EFS_OPEN_READ_FAILED;
      default: return Damaged(EFS_PARSE_BAD_STREAM);
    }
  }
  if (h.Version != EFS_FORMAT_SOLID_RECORDS)
    p = EfsParseSolidColumns(m_Buffer, h.DirectorySize, count, h.ContentSize, m_Entries,
                             (char*)m_Buffer + h.DirectorySize, names);
  else
    p = older(m_Buffer, h.DirectorySize, count, h.ContentSize, m_Entries);
  if (p != EFS_PARSE_OK) return Damaged(p);
  m_Header = h;
  m_Version = h.Version;
  m_Count = count;
  m_StubSize = h.DataOffset;
  return EFS_OPEN_OK;
}

// Version 4's records layout: the first format's records in front of the
// header, checked by their CRC and then as the first format's are.
EfsOpenResult CEfsDirectory::ReadNamedRecords(IEfsFileReader& file, uint64_t end) {
  const EfsSolidHeader h = m_Header;
  const uint32_t records = h.DirectorySize;
  const uint64_t before = end - EFS_SOLID_HEADER_SIZE - EFS_TRAILER_SIZE;  // where the records end
  m_Buffer = (unsigned char*)malloc((size_t)records + EFS_TRAILER_SIZE);
  m_Entries = (EfsEntry*)calloc(h.Count ? h.Count : 1, sizeof(EfsEntry));
  if (!m_Buffer || !m_Entries) return EFS_OPEN_NO_MEMORY;
  if (!file.ReadAt(before - records, m_Buffer, records)) return EFS_OPEN_READ_FAILED;
  if (EfsCrc32(0, m_Buffer, records) != h.DirectoryCrc) return Damaged(EFS_PARSE_BAD_STREAM);
  // parsed as records with a trailer behind them, ending where the header starts
  memset(m_Buffer + records, 0, EFS_TRAILER_SIZE);
  EfsParseResult p = EfsParseDirectory(m_Buffer, records + EFS_TRAILER_SIZE, h.Count, before + EFS_TRAILER_SIZE,
                                       m_Entries);
  if (p != EFS_PARSE_OK) return Damaged(p);
  m_Version = h.Version;
  m_Count = h.Count;
  uint64_t stored = 0;
  for (uint32_t i = 0; i < h.Count; ++i) stored += m_Entries[i].StoredSize;
  if (h.DataOffset + stored != before - records) return Damaged(EFS_PARSE_BAD_HEADER);
  m_StubSize = h.DataOffset;
  return EFS_OPEN_OK;
}

const EfsEntry* CEfsDirectory::Find(const char* name) const {
  if (!m_Entries || !name) return NULL;
  uint32_t lo = 0, hi = m_Count;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    int c = EfsCompareNames(name, m_Entries[mid].Name);
    if (c < 0) hi = mid;
    else if (c > 0) lo = mid + 1;
    else return &m_Entries[mid];
  }
  return NULL;
}

const char* EfsParseResultText(EfsParseResult r) {
  switch (r) {
    case EFS_PARSE_OK: return "ok";
    case EFS_PARSE_BAD_SIZE: return "the directory size does not fit the file";
    case EFS_PARSE_TOO_MANY: return "the entry count does not fit the directory";
    case EFS_PARSE_OVERRUN: return "a directory record runs past the directory";
    case EFS_PARSE_BAD_NAME: return "a directory record has an unusable name";
    case EFS_PARSE_DESCENDING: return "the entries' data offsets go down";
    case EFS_PARSE_OUTSIDE_DATA: return "an entry's data lies outside the data area";
    case EFS_PARSE_UNSORTED: return "the directory's names are not in order";
    case EFS_PARSE_BAD_METHOD: return "a directory record names an unknown compression method";
    case EFS_PARSE_BAD_HEADER: return "the container header does not fit the file";
    case EFS_PARSE_BAD_STREAM: return "the compressed directory is damaged";
    case EFS_PARSE_NEWER_VERSION: return "the container format is newer than this reader";
  }
  return "the directory is damaged";
}
