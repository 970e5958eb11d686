// Writes a file with a container: a stub, the entries' data, the directory
// and the trailer. Portable: runs in the authoring command on Linux and Windows.
#pragma once
#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include "efs/EfsFormat.h"

enum EFSBUILDERERROR {
  EFSB_ERR_OPEN = 0,
  EFSB_ERR_IO = 1,
  EFSB_ERR_COPY = 2,
  EFSB_ERR_WRITE = 3,
  EFSB_ERR_DISK_FULL = 4,
  EFSB_ERR_NOT_FOUND = 5,
  EFSB_ERR_DUPLICATE = 6,
  EFSB_ERR_COMPRESS = 7,  // the compressor refused (no memory for it, most likely)
  EFSB_ERR_TOO_MANY = 8,  // the entries' solid directory would pass what a reader takes
};

// The last failure of a builder: what went wrong, the file it is about (the
// output for a full disk) and the system's error number then (0 if none).
struct EFSBuildFailure {
  EFSBUILDERERROR Error = EFSB_ERR_IO;
  std::string File;
  int SystemError = 0;
};

class IEFSBuildProgress {
 public:
  // percent 0..100; return 0 to cancel.
  virtual int OnProgress(int percent) = 0;
  // Called just before each OnProgress with the bytes behind the percentage
  // and the entry being written; for callers that show more than a percent.
  virtual void OnBytes(uint64_t done, uint64_t all, const char* entry) {
    (void)done, (void)all, (void)entry;
  }

 protected:
  ~IEFSBuildProgress() {}
};

struct EFSBUILDERENTRY {
  std::string SourcePath;
  char Name[256];
  uint64_t Time;    // FILETIME
  uint32_t Method;  // EfsMethod
  size_t Sequence;  // when it was added: its place in a solid stream
};

class CEFSBuilder {
 public:
  // The file a failure is about; kept as it was for EFSB_ERR_DISK_FULL.
  static char ErrorFileName[4096];

  CEFSBuilder();
  virtual ~CEFSBuilder();

  virtual void Reset();
  // name: the entry name; null takes the file name of path.
  virtual void AddFile(const char* path, int compressed, const char* name = nullptr);
  virtual void SetStubFile(const char* path);
  // 1 when built, 0 when cancelled. Throws EFSBUILDERERROR (LastFailure()
  // tells more); the output never survives a failure or a cancel.
  virtual int Build(const char* output, IEFSBuildProgress* progress,
                    const unsigned char signature[16]);

  // EFS_METHOD_ZLIB (the default): each entry on its own, compressed or
  // stored as AddFile says. EFS_METHOD_LZMA: every entry in one solid LZMA
  // stream, in the order they were added, whatever AddFile says.
  void SetCompression(EfsMethod method) { m_Compression = method; }
  EfsMethod GetCompression() const { return m_Compression; }

  // The script's [Files] lines name their stored file in their source:
  // written as format version 4, which a setup program that finds stored
  // files by the destination's name refuses.
  void SetLinesNameEntries(bool named) { m_NamedLines = named; }

  // Compresses up to this many entries at once (1, the default, compresses
  // them one after another). The output is the same bytes either way.
  void SetThreads(unsigned threads) { m_Threads = threads ? threads : 1; }

  uint32_t GetStubSize() const { return m_StubSize; }
  uint64_t GetTotal() const { return m_Total; }
  size_t GetEntryCount() const { return m_Entries.size(); }
  const EFSBuildFailure& LastFailure() const { return m_Failure; }

 private:
  [[noreturn]] void Fail(EFSBUILDERERROR error, const char* file);
  void Record(EFSBUILDERERROR error, const char* file, int systemError);

  std::string m_StubPath;
  std::vector<EFSBUILDERENTRY> m_Entries;
  // the names added, for the duplicate check of each next one
  struct NameOrder {
    bool operator()(const std::string& a, const std::string& b) const {
      return EfsCompareNames(a.c_str(), b.c_str()) < 0;
    }
  };
  std::set<std::string, NameOrder> m_Names;
  uint32_t m_StubSize;
  uint64_t m_Total;
  unsigned m_Threads;
  EfsMethod m_Compression;
  bool m_NamedLines;
  EFSBuildFailure m_Failure;
};
