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

// The uninstaller a build signed in advance: the setup program followed by
// UninstallerSignature, then its certificate table. A setup that stores it
// installs it as Uninstall.exe instead of a copy of itself.
#define EFS_UNINSTALLER_ENTRY "Uninstall.exe"
// [Global] LicenseFile (as UTF-8) and WizardImage, under names the command
// keeps from every [Files] line as it keeps the script's.
#define EFS_LICENCE_ENTRY "{LicenseFile}.txt"
#define EFS_WIZARD_IMAGE_ENTRY "{WizardImage}.bmp"

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

// How an entry's bytes are kept.
enum EfsMethod {
  EFS_METHOD_STORED = 0,  // the content as it is
  EFS_METHOD_ZLIB = 1,    // one zlib stream of its own
  EFS_METHOD_LZMA = 2,    // a part of the container's one solid LZMA stream
};

// "stored", "zlib", "lzma", or "unknown".
const char* EfsMethodName(uint32_t method);

// The one entry record of the builder, the reader and the command. Name
// points into the directory buffer it came from.
struct EfsEntry {
  // stored and zlib: the file offset of the stored bytes; lzma: where the
  // content starts in the solid stream's decoded bytes
  uint64_t DataOffset;
  uint64_t StoredSize;  // lzma: the content's size, as there is no stored size of its own
  uint64_t Size;        // the content's size; 0 for zlib, whose directory does not record it
  uint32_t Method;      // EfsMethod
  uint32_t Crc;
  uint64_t Time;        // FILETIME
  uint32_t NameLength;  // NUL included
  const char* Name;
};

uint32_t EfsReadU32(const unsigned char* p);
void EfsWriteU32(unsigned char* p, uint32_t v);
uint64_t EfsReadU64(const unsigned char* p);
void EfsWriteU64(unsigned char* p, uint64_t v);

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
  EFS_PARSE_UNSORTED,        // names not in ascending name order
  EFS_PARSE_BAD_METHOD,      // a method this format does not hold
  EFS_PARSE_BAD_HEADER,      // the solid container's header does not fit the file
  EFS_PARSE_BAD_STREAM,      // the compressed directory does not decode or fails its CRC
  EFS_PARSE_NEWER_VERSION,   // a format version this reader does not know
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

// The solid container (format version 3). The trailer keeps its place and
// signature, so that everything that looks at a file's last bytes (kind,
// split joining, signing) treats it alike; its count says "extended" and
// its directory size covers the header in front of it:
//
//   stub | solid stream | directory stream | header | trailer
//
// The solid stream is one raw LZMA stream of every entry's content back to
// back, in the order the build took them (start-up's files first, then the
// [Files] order); the directory stream is the entries in name order, LZMA
// too. Readers first read the header's version and refuse one they do not
// know.
//
// Version 3 lays the directory out in columns, each over all entries, so
// that LZMA finds alike bytes together: the methods (a byte each), the
// sizes, the offsets (each the step from the end of the entry before it in
// name order, modulo 2^64), the times (each the step from the time before
// it), the CRCs, then the names. Sizes, offsets and times are 8 bytes and
// CRCs 4, stored as byte planes (all lowest bytes first, then the next):
// high bytes are mostly zero, and a plane of them costs next to nothing.
// A name is the number of bytes it shares with the name before it, one
// byte, then the rest of it and a NUL. The header tells how many bytes the
// names take rebuilt, so that the reader makes room for them at once.
//
// Version 2, of earlier builds, held one record after another; the command
// still reads it, the setup program reads only what its command builds.
//
// Version 4 is the first format or version 3, told apart by the header's
// Layout, for a script whose [Files] lines name their stored file in their
// source (a file installed under another name, two files of one name), or
// whose lines carry flags: a setup program that finds the stored file by
// the destination's name would install the wrong one, and one without the
// flags would take them for a part of the line, so it must refuse the file
// by its version. With
// the records layout, the first format's records lie in front of the
// header (DirectoryStoredSize and DirectorySize are their bytes,
// DirectoryCrc their CRC-32, StreamSize the data area's); nothing else
// changes.
enum {
  EFS_EXTENDED_COUNT = 0xFFFFFFFFu,  // in the trailer's count: a header precedes it
  EFS_FORMAT_SOLID_RECORDS = 2,
  EFS_FORMAT_SOLID = 3,
  EFS_FORMAT_NAMED_LINES = 4,
  EFS_LAYOUT_COLUMNS = 0,  // the solid stream and its directory in columns
  EFS_LAYOUT_RECORDS = 1,  // the first format's data and records
  EFS_SOLID_HEADER_SIZE = 64,
  EFS_LZMA_PROPS_SIZE = 5,
  EFS_SOLID_RECORD_FIXED_SIZE = 36,   // version 2
  EFS_SOLID_COLUMNS_FIXED_SIZE = 29,  // version 3: method 1, size, offset and time 8 each, crc 4
  // the least an entry takes in either version: its columns, a shared
  // length and a NUL
  EFS_SOLID_ENTRY_MIN_SIZE = EFS_SOLID_COLUMNS_FIXED_SIZE + 2,
  // a solid directory holds at most this many decoded bytes
  EFS_SOLID_DIRECTORY_LIMIT = 64u << 20,
};

// Laid out as its 64 bytes in the file (little-endian, no padding); the
// same in versions 2 and 3.
struct EfsSolidHeader {
  uint32_t Version;
  uint32_t Count;
  uint64_t DataOffset;       // where the solid stream starts: the stub's size
  uint64_t StreamSize;       // its stored bytes
  uint64_t ContentSize;      // its decoded bytes: all entries' content
  uint32_t DirectoryStoredSize;
  uint32_t DirectorySize;    // decoded
  uint32_t DirectoryCrc;     // of the decoded directory
  unsigned char StreamProps[EFS_LZMA_PROPS_SIZE];
  unsigned char DirectoryProps[EFS_LZMA_PROPS_SIZE];
  unsigned char NamesSize[4];  // version 3: the names' bytes rebuilt, NULs included; EfsReadU32
  unsigned char Layout;        // version 4: EFS_LAYOUT_*; zero before
  unsigned char Reserved;      // zero
  uint32_t HeaderCrc;         // CRC-32 of the 60 bytes before it
};
static_assert(sizeof(EfsSolidHeader) == EFS_SOLID_HEADER_SIZE, "the header is its bytes");

// Writes the header's bytes, its CRC computed.
void EfsEncodeSolidHeader(const EfsSolidHeader& h, unsigned char* bytes);
// n bytes of a header of version 2, 3 or 4; only the version is read when
// it is a later one.
EfsParseResult EfsDecodeSolidHeader(const unsigned char* bytes, uint32_t n, EfsSolidHeader* h);
// Checks the header's regions against the file's logical end.
EfsParseResult EfsCheckSolidHeader(const EfsSolidHeader& h, uint64_t end);

// The decoded directory of version 3 for count entries in name order (their
// Method, DataOffset, Size, Crc, Time and Name); returns its size in bytes,
// and writes it to out unless out is null.
size_t EfsEncodeSolidColumns(const EfsEntry* entries, uint32_t count, unsigned char* out);
// Parses count entries of a decoded directory of version 3; the names are
// rebuilt into names, which holds namesSize bytes and must come out full.
// Every entry must lie in contentSize bytes and the names must ascend.
EfsParseResult EfsParseSolidColumns(const unsigned char* dir, uint32_t size, uint32_t count,
                                    uint64_t contentSize, EfsEntry* entries, char* names, uint32_t namesSize);

// Version 2's records: method, offset and size in the decoded stream, crc,
// time, name length, then the name. Writes the fixed part.
void EfsEncodeSolidRecord(const EfsEntry& e, unsigned char* bytes);
// Parses count records of a decoded directory of version 2, with the same
// checks as EfsParseSolidColumns; the names point into dir.
EfsParseResult EfsParseSolidRecords(const unsigned char* dir, uint32_t size, uint32_t count,
                                    uint64_t contentSize, EfsEntry* entries);
