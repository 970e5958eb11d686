// Reads a setup file for list, verify and extract: its kind, the stub size
// and the entries, through the container format and codec of the core.
#pragma once
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "cli/Commands.h"
#include "efs/EfsDirectory.h"
#include "efs/EntryCodec.h"
#include "efs/PeImage.h"
#include "efs/SetupLayout.h"
#include "efs/SolidStream.h"

// The layout of a file (logical end, certificate table, program's extent);
// 0 when it cannot be read.
int ReadLayoutOfFile(const char* path, SetupLayout* layout);

// Architecture of the setup program at the front of a file; unknown when the
// file cannot be read or holds no PE headers we know.
PeArch ReadArchOfFile(const char* path);

// Reads of a stdio file at offsets.
class CStdioReader : public IEfsFileReader {
 public:
  explicit CStdioReader(FILE* f = nullptr) : File(f) {}
  FILE* File;
  int ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) override;
};

// Where a decoded entry's bytes go.
class IEntrySink {
 public:
  virtual int Write(const unsigned char* data, uint32_t n) = 0;

 protected:
  ~IEntrySink() {}
};

class CSetupFile {
 public:
  CSetupFile() {}
  ~CSetupFile();

  // Succeeded when the file could be read and, for an installer, its
  // directory is sound; else a failure that gives the reason.
  CommandResult Open(const char* path);

  SetupFileKind Kind() const { return m_Kind; }
  PeArch Arch() const { return m_Arch; }
  uint64_t FileSize() const { return m_Layout.FileSize; }
  uint64_t StubSize() const { return m_StubSize; }
  // The certificate table that code signing appended; 0 when unsigned.
  uint64_t CertificateSize() const { return m_Layout.CertificateSize; }
  const SetupLayout& Layout() const { return m_Layout; }
  // In name order; the names live as long as this object.
  const std::vector<EfsEntry>& Entries() const { return m_Entries; }
  // Index of the entry of that name (A-Z matched without case), or -1.
  int Find(const char* name) const;
  // The solid container's header; null for the first format.
  const EfsSolidHeader* Solid() const { return m_Directory.Solid() ? &m_Directory.Header() : nullptr; }

  // Decodes one entry into sink and checks its CRC. Entries of a solid
  // container cost least in their stream order (EntriesInStreamOrder).
  EfsDecodeResult Decode(const EfsEntry& entry, IEntrySink& sink);
  // Indexes of Entries() in the order their data lies in the file.
  std::vector<size_t> EntriesInStreamOrder() const;

 private:
  CSetupFile(const CSetupFile&) = delete;
  CSetupFile& operator=(const CSetupFile&) = delete;

  FILE* m_File = nullptr;
  CStdioReader m_Reader;
  CEfsDirectory m_Directory;
  CEfsSolidStream m_Solid;
  SetupFileKind m_Kind = FILEKIND_NONE;
  PeArch m_Arch = PE_ARCH_UNKNOWN;
  SetupLayout m_Layout = {};
  uint64_t m_StubSize = 0;
  std::vector<EfsEntry> m_Entries;
};

const char* SetupKindName(SetupFileKind kind);
// What a damaged file holds, in a line for the user: its size, the
// program's, the bytes behind it, and what to do.
std::string DamageText(const SetupLayout& layout);
// "signed: certificate table of N bytes" or "not signed".
std::string SignatureText(const SetupLayout& layout);
// "x86", "x64", or "unknown architecture".
const char* ArchLabel(PeArch arch);
const char* DecodeResultText(EfsDecodeResult result);
// A stored entry's bytes as a string (its script or table).
EfsDecodeResult DecodeToText(CSetupFile& file, const EfsEntry& entry, std::string* text);
class CFileParser;
// [Global] key of a stored script as the setup program reads it, in UTF-8
// (a setup file of an older command may hold 1252); "" when absent.
std::string StoredGlobalValue(const CFileParser& script, const char* key);
// FILETIME as ISO 8601 UTC, e.g. 2024-05-01T12:30:00Z (fractions of a second
// appear only when the time has them).
std::string FileTimeToIso(uint64_t fileTime);
