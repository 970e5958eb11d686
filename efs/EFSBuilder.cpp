#include "efs/EFSBuilder.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "efs/EfsFormat.h"
#include "efs/EntryCodec.h"
#include "efs/PortableFile.h"

char CEFSBuilder::ErrorFileName[4096];

static void SetErrorFile(const char* name) {
  size_t n = strlen(name);
  if (n >= sizeof CEFSBuilder::ErrorFileName) n = sizeof CEFSBuilder::ErrorFileName - 1;
  memcpy(CEFSBuilder::ErrorFileName, name, n);
  CEFSBuilder::ErrorFileName[n] = '\0';
}

[[noreturn]] static void Fail(EFSBUILDERERROR error, const char* file) {
  if (file) SetErrorFile(file);
  throw error;
}

static int64_t Tell(FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return ftello(f);
#endif
}

// Entry name: the text after the last folder separator (and after a drive).
static const char* BaseName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\' || (*p == ':' && p == path + 1)) name = p + 1;
  return name;
}

CEFSBuilder::CEFSBuilder() : m_StubSize(0), m_Total(0) {}

CEFSBuilder::~CEFSBuilder() {
  Reset();
}

void CEFSBuilder::Reset() {
  m_StubPath.clear();
  m_Entries.clear();
  m_StubSize = 0;
  m_Total = 0;
}

void CEFSBuilder::SetStubFile(const char* path) {
  m_StubPath.clear();
  m_StubSize = 0;
  if (!PortableFileExists(path)) Fail(EFSB_ERR_NOT_FOUND, path);
  m_StubPath = path;
  FILE* f = fopen(path, "rb");
  if (!f) Fail(EFSB_ERR_OPEN, path);
  fclose(f);
  uint64_t size, time;
  if (!PortableFileInfo(path, &size, &time) || size >= 0xFFFFFFFFu) Fail(EFSB_ERR_IO, path);
  m_StubSize = (uint32_t)size;
}

void CEFSBuilder::AddFile(const char* path, int compressed) {
  if (!PortableFileExists(path)) Fail(EFSB_ERR_NOT_FOUND, path);
  FILE* f = fopen(path, "rb");
  if (!f) Fail(EFSB_ERR_OPEN, path);
  fclose(f);
  uint64_t size, time;
  // a container addresses at most 4 GiB
  if (!PortableFileInfo(path, &size, &time) || size >= 0xFFFFFFFFu) Fail(EFSB_ERR_IO, path);
  m_Total += size;

  EFSBUILDERENTRY entry;
  const char* name = BaseName(path);
  size_t n = strlen(name);
  if (n == 0 || n >= sizeof entry.Name) Fail(EFSB_ERR_OPEN, path);
  entry.SourcePath = path;
  memcpy(entry.Name, name, n + 1);
  entry.Time = time;
  entry.Compressed = compressed;
  for (const EFSBUILDERENTRY& e : m_Entries)
    if (EfsCompareNames(e.Name, entry.Name) == 0) Fail(EFSB_ERR_DUPLICATE, entry.Name);
  m_Entries.push_back(entry);
}

namespace {

// State of one Build; closes and deletes a partial output on every failure.
class BuildRun : public IEfsEncodeIo {
 public:
  BuildRun(const char* output, IEFSBuildProgress* progress, uint64_t stubSize, uint64_t total)
      : m_Output(output), m_Progress(progress), m_Done(stubSize), m_All(stubSize + total) {}
  ~BuildRun() { Abandon(); }

  FILE* Out = NULL;
  FILE* Source = NULL;
  int WriteFailedDiskFull = 0;
  int Cancelled = 0;

  void CloseFiles() {
    if (Source) fclose(Source);
    Source = NULL;
    if (Out) fclose(Out);
    Out = NULL;
  }
  void Abandon() {
    if (m_Finished) return;
    CloseFiles();
    remove(m_Output);
    m_Finished = 1;
  }
  void Finish() {
    m_Finished = 1;
  }
  [[noreturn]] void Throw(EFSBUILDERERROR error, const char* file) {
    Abandon();
    Fail(error, file);
  }
  // A failed write of the output: a full disk keeps ErrorFileName as it was.
  [[noreturn]] void ThrowWrite() {
    int full = WriteFailedDiskFull;
    Abandon();
    if (full) throw EFSB_ERR_DISK_FULL;
    Fail(EFSB_ERR_WRITE, m_Output);
  }
  int Report() {
    if (!m_Progress) return 1;
    int percent = m_All ? (int)(m_Done * 100 / m_All) : 100;
    if (m_Progress->OnProgress(percent)) return 1;
    Cancelled = 1;
    return 0;
  }

  long Read(unsigned char* buffer, uint32_t n) override {
    size_t got = fread(buffer, 1, n, Source);
    if (got < n && ferror(Source)) return -1;
    return (long)got;
  }
  int Write(const unsigned char* buffer, uint32_t n) override {
    if (fwrite(buffer, 1, n, Out) == n) return 1;
    WriteFailedDiskFull = PortableLastErrorWasDiskFull();
    return 0;
  }
  int Progress(uint32_t chunk) override {
    m_Done += chunk;
    return Report();
  }

 private:
  const char* m_Output;
  IEFSBuildProgress* m_Progress;
  uint64_t m_Done;
  uint64_t m_All;
  int m_Finished = 0;
};

int CopyWhole(const char* from, const char* to) {
  FILE* in = fopen(from, "rb");
  if (!in) return 0;
  FILE* out = fopen(to, "wb");
  if (!out) {
    fclose(in);
    return 0;
  }
  static unsigned char buffer[65536];
  int ok = 1;
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, in)) > 0)
    if (fwrite(buffer, 1, n, out) != n) {
      ok = 0;
      break;
    }
  if (ferror(in)) ok = 0;
  fclose(in);
  if (fclose(out) != 0) ok = 0;
  return ok;
}

}  // namespace

int CEFSBuilder::Build(const char* output, IEFSBuildProgress* progress,
                       const unsigned char signature[16]) {
  if (!PortableFileExists(m_StubPath.c_str())) Fail(EFSB_ERR_NOT_FOUND, m_StubPath.c_str());
  PortableCreateParentFolders(output);
  if (!CopyWhole(m_StubPath.c_str(), output)) {
    remove(output);
    Fail(EFSB_ERR_COPY, output);
  }

  BuildRun run(output, progress, m_StubSize, m_Total);
  if (!run.Report()) return 0;
  if (m_Entries.empty()) {
    run.Finish();
    return 1;
  }

  std::stable_sort(m_Entries.begin(), m_Entries.end(),
                   [](const EFSBUILDERENTRY& a, const EFSBUILDERENTRY& b) {
                     return EfsCompareNames(a.Name, b.Name) < 0;
                   });

  run.Out = fopen(output, "r+b");
  if (!run.Out) run.Throw(EFSB_ERR_OPEN, output);
  setvbuf(run.Out, NULL, _IONBF, 0);
  if (fseek(run.Out, 0, SEEK_END) != 0) run.Throw(EFSB_ERR_IO, output);

  std::vector<unsigned char> in(EFS_INPUT_BUFFER_SIZE), out(EFS_OUTPUT_BUFFER_SIZE);
  std::vector<unsigned char> directory;
  directory.reserve(m_Entries.size() * 280 + EFS_TRAILER_SIZE);

  for (const EFSBUILDERENTRY& e : m_Entries) {
    const char* source = e.SourcePath.c_str();
    if (!PortableFileExists(source)) run.Throw(EFSB_ERR_NOT_FOUND, source);
    run.Source = fopen(source, "rb");
    if (!run.Source) run.Throw(EFSB_ERR_OPEN, source);
    int64_t offset = Tell(run.Out);
    if (offset < 0) run.Throw(EFSB_ERR_IO, output);
    uint32_t crc = 0;
    switch (EfsEncodeEntry(run, e.Compressed, &crc, in.data(), out.data())) {
      case EFS_ENCODE_OK:
        break;
      case EFS_ENCODE_READ_FAILED:
        run.Throw(EFSB_ERR_IO, source);
      case EFS_ENCODE_WRITE_FAILED:
        run.ThrowWrite();
      case EFS_ENCODE_CANCELLED:
        run.Abandon();
        return 0;
      case EFS_ENCODE_DEFLATE_ERROR:
        run.Abandon();
        throw 0;
    }
    fclose(run.Source);
    run.Source = NULL;
    // offsets and sizes are 32-bit: the whole file stays below 4 GiB
    int64_t end = Tell(run.Out);
    if (end < 0 || (uint64_t)end + directory.size() + 280 + EFS_TRAILER_SIZE > 0xFFFFFFFFull)
      run.Throw(EFSB_ERR_WRITE, output);

    EFSDIRENTRY record;
    record.DataOffset = (uint32_t)offset;
    record.Compressed = (uint32_t)e.Compressed;
    record.Crc = crc;
    record.TimeLow = (uint32_t)e.Time;
    record.TimeHigh = (uint32_t)(e.Time >> 32);
    record.NameLength = (uint32_t)strlen(e.Name) + 1;
    size_t at = directory.size();
    directory.resize(at + EFS_DIRENTRY_FIXED_SIZE + record.NameLength);
    EfsEncodeDirEntry(record, &directory[at]);
    memcpy(&directory[at + EFS_DIRENTRY_FIXED_SIZE], e.Name, record.NameLength);
  }

  EFSTRAILER trailer;
  trailer.Count = (uint32_t)m_Entries.size();
  trailer.DirectorySize = (uint32_t)(directory.size() + EFS_TRAILER_SIZE);
  memcpy(trailer.Signature, signature, EFS_SIGNATURE_SIZE);
  size_t at = directory.size();
  directory.resize(at + EFS_TRAILER_SIZE);
  EfsEncodeTrailer(trailer, &directory[at]);
  if (!run.Write(directory.data(), (uint32_t)directory.size())) run.ThrowWrite();
  FILE* f = run.Out;
  run.Out = NULL;
  if (fclose(f) != 0) {
    run.WriteFailedDiskFull = PortableLastErrorWasDiskFull();
    run.ThrowWrite();
  }
  run.Finish();
  return 1;
}
