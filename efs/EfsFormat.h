// The bytes of the container appended to a setup program: signatures, the
// trailer, directory records, the name order, and a bounded directory parser.
// Portable: no platform headers.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum { EFS_SIGNATURE_SIZE = 16, EFS_TRAILER_SIZE = 24, EFS_DIRENTRY_FIXED_SIZE = 24 };

// A name is at most 255 bytes plus its NUL.
enum { EFS_MAX_NAME_LENGTH = 256 };
// The largest directory record: the fixed part and the longest name.
enum { EFS_DIRENTRY_MAX_SIZE = EFS_DIRENTRY_FIXED_SIZE + EFS_MAX_NAME_LENGTH };

extern const unsigned char InstallerSignature[EFS_SIGNATURE_SIZE];
extern const unsigned char UninstallerSignature[EFS_SIGNATURE_SIZE];

// Last 24 bytes of a file with a container.
struct EFSTRAILER {
  uint32_t Count;
  uint32_t DirectorySize;  // all records plus this trailer
  unsigned char Signature[EFS_SIGNATURE_SIZE];
};

// Fixed part of a directory record; the name follows it in the file.
struct EFSDIRENTRY {
  uint32_t DataOffset;
  uint32_t Compressed;  // nonzero: one zlib stream
  uint32_t Crc;
  uint32_t TimeLow;     // FILETIME of the source's last write
  uint32_t TimeHigh;
  uint32_t NameLength;  // NUL included
};

// One parsed entry; Name points into the directory buffer it came from.
struct EfsEntry {
  uint32_t DataOffset;
  uint32_t StoredSize;
  uint32_t Compressed;  // 0 or 1
  uint32_t Crc;
  uint32_t TimeLow;
  uint32_t TimeHigh;
  uint32_t NameLength;
  const char* Name;
};

uint32_t EfsReadU32(const unsigned char* p);
void EfsWriteU32(unsigned char* p, uint32_t v);

// Decodes the last 24 bytes of a file.
void EfsDecodeTrailer(const unsigned char* bytes, EFSTRAILER* trailer);
void EfsEncodeTrailer(const EFSTRAILER& trailer, unsigned char* bytes);
// Writes the 24 fixed bytes of a record (the name is the caller's to append).
void EfsEncodeDirEntry(const EFSDIRENTRY& entry, unsigned char* bytes);

// Name order: bytes compared unsigned after A-Z is mapped to a-z; a prefix
// sorts first. <0, 0, >0 like strcmp. The same on every code page, so a
// container sorts alike wherever it was built.
int EfsCompareNames(const char* a, const char* b);

enum EfsParseResult {
  EFS_PARSE_OK = 0,
  EFS_PARSE_BAD_SIZE,        // directory size below 24 or beyond the file
  EFS_PARSE_TOO_MANY,        // count cannot fit the directory
  EFS_PARSE_OVERRUN,         // a record or its name runs past the records
  EFS_PARSE_BAD_NAME,        // empty, too long, or not NUL-terminated
  EFS_PARSE_DESCENDING,      // data offsets go down
  EFS_PARSE_OUTSIDE_DATA,    // a data offset past the data area
};

// Largest count a directory of this size can hold (each record is at least
// 25 bytes); callers size their entry array from a checked count.
uint32_t EfsMaxEntries(uint32_t directorySize);

// Parses the directory of a file of fileSize bytes. dir holds directorySize
// bytes (records then trailer) read from fileSize - directorySize. entries
// must hold count elements. Reads nothing outside dir; on failure the entries
// are undefined.
EfsParseResult EfsParseDirectory(const unsigned char* dir, uint32_t directorySize,
                                 uint32_t count, uint64_t fileSize, EfsEntry* entries);
