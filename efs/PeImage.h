// The headers of the setup program at the front of a setup file: which
// architecture it is built for, its subsystem, its data directories and
// sections. Portable: no platform headers; bounded against hostile bytes.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum PeArch { PE_ARCH_UNKNOWN, PE_ARCH_X86, PE_ARCH_X64 };

enum {
  PE_MACHINE_I386 = 0x14C,
  PE_MACHINE_AMD64 = 0x8664,
  PE_MAGIC_PE32 = 0x10B,
  PE_MAGIC_PE32PLUS = 0x20B,
  PE_SUBSYSTEM_GUI = 2,
  PE_DIRECTORY_IMPORT = 1,
  PE_DIRECTORY_RESOURCE = 2,
  PE_DIRECTORY_SECURITY = 4,
  PE_MAX_DIRECTORIES = 16,
  // e_lfanew past this is not taken: real programs keep their headers near
  // the front, and a reader needs a bound for how much to read.
  PE_MAX_HEADER_OFFSET = 64 * 1024,
};

struct PeDirectory {
  uint32_t Address;  // an RVA; for the security directory a file offset
  uint32_t Size;
};

struct PeHeaders {
  uint16_t Machine;
  uint16_t Magic;  // PE32 or PE32+
  uint16_t Subsystem;
  uint32_t HeaderOffset;       // where "PE\0\0" stands
  uint32_t OptionalOffset;     // the optional header
  uint32_t DirectoriesOffset;  // the first data directory
  uint32_t SectionsOffset;     // the first section header
  uint16_t SectionCount;
  uint32_t SizeOfHeaders;
  uint32_t SymbolTableOffset;  // COFF symbols of an unstripped program; 0 when none
  uint32_t SymbolCount;
  uint32_t DirectoryCount;
  PeDirectory Directories[PE_MAX_DIRECTORIES];
};

enum { PE_SYMBOL_SIZE = 18 };

// 1 when bytes (the front of a file, size bytes of it) hold a DOS stub and
// PE headers whose optional header and section table lie within them.
int ReadPeHeaders(const unsigned char* bytes, size_t size, PeHeaders* out);

// The architecture the headers name: x86 for an i386 PE32, x64 for an AMD64
// PE32+; anything else is unknown.
PeArch PeArchOf(const PeHeaders& headers);
// "x86", "x64" or "unknown".
const char* PeArchName(PeArch arch);

// Where the program's bytes end by its headers: its headers and the raw data
// of every section, not counting COFF symbols (their string table's size
// lies behind them, outside these bytes). 0 when the headers name no size.
uint64_t PeSectionsEnd(const unsigned char* bytes, size_t size, const PeHeaders& headers);

// When the headers in bytes name a certificate table, clears that entry and
// the checksum (which the signing tool computed over the signed file), so
// that a copy of the program without the table is a well-formed unsigned
// program. Unsigned headers stay as they are. 0 when bytes hold no PE
// headers.
int PeClearSignature(unsigned char* bytes, size_t size);

// The file offset of an RVA through the section table in bytes; 0 when no
// section holds it.
uint32_t PeFileOffset(const unsigned char* bytes, size_t size, const PeHeaders& headers, uint32_t rva);

// The headers' checksum of a program image: 16-bit sums with carry over
// every byte but the checksum's own four at checksumAt, plus the size.
uint32_t PeChecksum(const unsigned char* bytes, size_t size, size_t checksumAt);
