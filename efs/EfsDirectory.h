// The directory of a container, read and checked once for everyone who
// reads one: the setup program and the command. Both formats: records
// behind the data (zlib and stored entries), or the solid container's
// compressed directory. Portable: the caller supplies the reads.
#pragma once
#include <stdint.h>

#include "efs/EfsFormat.h"
#include "efs/SetupLayout.h"

enum EfsOpenResult {
  EFS_OPEN_OK = 0,
  EFS_OPEN_READ_FAILED,
  EFS_OPEN_NO_MEMORY,
  EFS_OPEN_DAMAGED,        // Problem() tells what
  EFS_OPEN_NEWER_VERSION,  // a version this reader does not read; Version() tells which
};

// Parses the decoded directory of the solid container's earlier version
// (EfsParseSolidRecords). The command passes it to read older setup files;
// the setup program passes none, so that none of it is linked into it, and
// refuses such a file as a version it does not know.
typedef EfsParseResult (*EfsOlderSolidParser)(const unsigned char* dir, uint32_t size, uint32_t count,
                                              uint64_t contentSize, EfsEntry* entries);

class CEfsDirectory {
 public:
  CEfsDirectory();
  ~CEfsDirectory();

  // Reads the directory of the container that ends at end, the file's
  // logical end (before a certificate table). Nothing is read outside the
  // file; on failure the directory is empty.
  EfsOpenResult Read(IEfsFileReader& file, uint64_t end, EfsOlderSolidParser older = 0);
  void Release();

  uint32_t Count() const { return m_Count; }
  const EfsEntry& At(uint32_t i) const { return m_Entries[i]; }
  // Binary search in the name order; null when absent.
  const EfsEntry* Find(const char* name) const;
  // What precedes the entries' data: the setup program.
  uint64_t StubSize() const { return m_StubSize; }
  // Sum of the entries' StoredSize: the measure of install progress.
  uint64_t TotalStoredSize() const { return m_TotalStored; }
  // 1 for the format version of the first setup files, 2 and 3 for the
  // solid one, 4 for either with lines naming their entries; after EFS_OPEN_NEWER_VERSION the version found.
  uint32_t Version() const { return m_Version; }
  bool Solid() const { return m_Version >= EFS_FORMAT_SOLID_RECORDS && m_Header.Layout == EFS_LAYOUT_COLUMNS; }
  // The [Files] lines name their stored file in their source (version 4).
  bool LinesNameEntries() const { return m_Version == EFS_FORMAT_NAMED_LINES; }
  const EfsSolidHeader& Header() const { return m_Header; }
  EfsParseResult Problem() const { return m_Problem; }

 private:
  EfsOpenResult ReadRecords(IEfsFileReader& file, uint64_t end, uint32_t count, uint32_t dirSize);
  EfsOpenResult ReadSolid(IEfsFileReader& file, uint64_t end, uint32_t headerBytes, EfsOlderSolidParser older);
  EfsOpenResult ReadNamedRecords(IEfsFileReader& file, uint64_t end);
  EfsOpenResult Unknown(uint32_t version);
  EfsOpenResult Damaged(EfsParseResult why);

  unsigned char* m_Buffer;  // the decoded directory, then the rebuilt names; the names point into it
  EfsEntry* m_Entries;
  uint32_t m_Count;
  uint64_t m_StubSize;
  uint64_t m_TotalStored;
  uint32_t m_Version;
  EfsSolidHeader m_Header;
  EfsParseResult m_Problem;

  CEfsDirectory(const CEfsDirectory&);
  CEfsDirectory& operator=(const CEfsDirectory&);
};

// The problem in words, for the command's messages.
const char* EfsParseResultText(EfsParseResult result);
