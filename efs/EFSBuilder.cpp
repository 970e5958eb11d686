#include "efs/EFSBuilder.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#ifdef _GLIBCXX_HAS_GTHREADS
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

#include "common/PathText.h"
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
static const char* BaseName(const char* path) { return PathFileName(path); }

CEFSBuilder::CEFSBuilder() : m_StubSize(0), m_Total(0), m_Threads(1) {}

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

void CEFSBuilder::AddFile(const char* path, int compressed, const char* entryName) {
  if (!PortableFileExists(path)) Fail(EFSB_ERR_NOT_FOUND, path);
  FILE* f = fopen(path, "rb");
  if (!f) Fail(EFSB_ERR_OPEN, path);
  fclose(f);
  uint64_t size, time;
  // a container addresses at most 4 GiB
  if (!PortableFileInfo(path, &size, &time) || size >= 0xFFFFFFFFu) Fail(EFSB_ERR_IO, path);
  m_Total += size;

  EFSBUILDERENTRY entry;
  const char* name = entryName ? entryName : BaseName(path);
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
      : m_Output(output), m_Progress(progress), m_Done(stubSize), m_All(stubSize + total),
        m_StubSize(stubSize) {}
  ~BuildRun() { Abandon(); }

  FILE* Out = NULL;
  FILE* Source = NULL;
  const char* Current = NULL;  // entry being written, for the progress object
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
    m_Progress->OnBytes(m_Done, m_All, Current);
    if (m_Progress->OnProgress(percent)) return 1;
    Cancelled = 1;
    return 0;
  }
  // Progress of a parallel build: payload bytes read so far by all workers.
  int ReportPayload(uint64_t payloadDone, const char* current) {
    m_Done = m_StubSize + payloadDone;
    Current = current;
    return Report();
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
  uint64_t m_StubSize;
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

// Where an entry's stored bytes went and what they cover.
struct EntryRecord {
  uint32_t Offset;
  uint32_t Crc;
};

// Offsets and sizes are 32-bit: the whole file, directory included, stays
// below 4 GiB.
bool FitsBelow4G(int64_t end, size_t directoryBytes) {
  return end >= 0 && (uint64_t)end + directoryBytes + 280 + EFS_TRAILER_SIZE <= 0xFFFFFFFFull;
}

#ifdef _GLIBCXX_HAS_GTHREADS
// Compresses several entries at once. Every entry is still one zlib stream
// made exactly as a one-thread build makes it, and the streams reach the
// output in name order, so the file is the same bytes. The entry whose turn
// it is writes straight to the output; the others hold their bytes in memory
// up to a cap and then wait for their turn, so memory stays bounded whatever
// the entries' sizes.
class ParallelEncoder {
 public:
  // A failure, told by the entry it happened to.
  struct Failure {
    int Deflate = 0;  // zlib refused: the builder throws the integer 0
    int WriteFailed = 0;
    int DiskFull = 0;
    EFSBUILDERERROR Error = EFSB_ERR_IO;
    const char* File = NULL;
  };

  ParallelEncoder(const std::vector<EFSBUILDERENTRY>& entries, FILE* out, const char* output,
                  unsigned threads, BuildRun& run)
      : m_Entries(entries), m_Out(out), m_Output(output), m_Run(run),
        m_Threads(threads), m_Slots(entries.size()) {
    m_Window = 2 * (size_t)threads;
    m_Cap = std::max<size_t>(256 * 1024, (24u << 20) / m_Window);
  }

  // 1 when every entry is in the output, 0 when cancelled, -1 on a failure
  // (see FailedEntry and FailureOf).
  int Run(std::vector<EntryRecord>* records) {
    std::vector<std::thread> workers;
    {
      std::unique_lock<std::mutex> lock(m_Mutex);
      m_Running = m_Threads;
    }
    for (unsigned t = 0; t < m_Threads; ++t) workers.emplace_back([this] { WorkerMain(); });
    {
      std::unique_lock<std::mutex> lock(m_Mutex);
      while (m_Running > 0) {
        m_MainWake.wait_for(lock, std::chrono::milliseconds(100));
        if (m_Cancelled || m_Running == 0) continue;
        uint64_t done = m_PayloadDone;
        const char* current = m_Head < m_Entries.size() ? m_Entries[m_Head].Name : NULL;
        lock.unlock();
        int go = m_Run.ReportPayload(done, current);
        lock.lock();
        if (!go) {
          m_Cancelled = 1;
          m_Wake.notify_all();
        }
      }
    }
    for (std::thread& t : workers) t.join();
    if (m_Cancelled) return 0;
    if (m_FailedAt < m_Entries.size()) return -1;
    records->resize(m_Entries.size());
    for (size_t i = 0; i < m_Entries.size(); ++i) (*records)[i] = {m_Slots[i].Offset, m_Slots[i].Crc};
    if (!m_Run.ReportPayload(m_PayloadDone, NULL)) return 0;
    return 1;
  }

  const Failure& FailureOf() const { return m_Slots[m_FailedAt].Fault; }

 private:
  enum { WAITING, RUNNING, DONE, FAILED };
  struct Slot {
    int State = WAITING;
    int OffsetSet = 0;
    uint32_t Offset = 0;
    uint32_t Crc = 0;
    std::vector<unsigned char> Held;  // stored bytes not yet in the output
    Failure Fault;
  };

  // The codec's view of one entry.
  class EntryIo : public IEfsEncodeIo {
   public:
    EntryIo(ParallelEncoder& owner, size_t index, FILE* source)
        : m_Owner(owner), m_Index(index), m_Source(source) {}
    long Read(unsigned char* buffer, uint32_t n) override {
      size_t got = fread(buffer, 1, n, m_Source);
      if (got < n && ferror(m_Source)) return -1;
      return (long)got;
    }
    int Write(const unsigned char* buffer, uint32_t n) override {
      return m_Owner.Hand(m_Index, buffer, n);
    }
    int Progress(uint32_t chunk) override {
      std::unique_lock<std::mutex> lock(m_Owner.m_Mutex);
      m_Owner.m_PayloadDone += chunk;
      return !m_Owner.Aborting(m_Index);
    }

   private:
    ParallelEncoder& m_Owner;
    size_t m_Index;
    FILE* m_Source;
  };

  size_t Limit() const { return std::min(m_Entries.size(), m_FailedAt); }
  // Stop this entry: the build was cancelled or an earlier entry failed.
  bool Aborting(size_t i) const { return m_Cancelled || i > m_FailedAt; }

  void WorkerMain() {
    std::vector<unsigned char> in(EFS_INPUT_BUFFER_SIZE), out(EFS_OUTPUT_BUFFER_SIZE);
    std::unique_lock<std::mutex> lock(m_Mutex);
    for (;;) {
      m_Wake.wait(lock, [this] {
        return m_Cancelled || m_Next >= Limit() || m_Next < m_Head + m_Window;
      });
      if (m_Cancelled || m_Next >= Limit()) break;
      size_t i = m_Next++;
      m_Slots[i].State = RUNNING;
      lock.unlock();
      try {
        EncodeOne(i, in.data(), out.data());
      } catch (...) {
        Failure f;
        f.Deflate = 1;
        Fail(i, f);
      }
      lock.lock();
    }
    --m_Running;
    m_MainWake.notify_all();
  }

  void EncodeOne(size_t i, unsigned char* in, unsigned char* out) {
    const char* source = m_Entries[i].SourcePath.c_str();
    Failure f;
    f.File = source;
    if (!PortableFileExists(source)) {
      f.Error = EFSB_ERR_NOT_FOUND;
      return Fail(i, f);
    }
    FILE* file = fopen(source, "rb");
    if (!file) {
      f.Error = EFSB_ERR_OPEN;
      return Fail(i, f);
    }
    EntryIo io(*this, i, file);
    uint32_t crc = 0;
    EfsEncodeResult result = EfsEncodeEntry(io, m_Entries[i].Compressed, &crc, in, out);
    fclose(file);
    switch (result) {
      case EFS_ENCODE_OK:
        return Complete(i, crc);
      case EFS_ENCODE_READ_FAILED:
        f.Error = EFSB_ERR_IO;
        return Fail(i, f);
      case EFS_ENCODE_DEFLATE_ERROR:
        f.Deflate = 1;
        return Fail(i, f);
      case EFS_ENCODE_WRITE_FAILED:
      case EFS_ENCODE_CANCELLED:
        // a failed write of the output was recorded where it happened
        return Abandoned(i);
    }
  }

  // Takes n stored bytes of entry i: to the output when it is entry i's turn,
  // else into memory, waiting for the turn once the cap is reached.
  int Hand(size_t i, const unsigned char* buffer, uint32_t n) {
    Slot& s = m_Slots[i];
    {
      std::unique_lock<std::mutex> lock(m_Mutex);
      for (;;) {
        if (Aborting(i)) return 0;
        if (m_Head == i) break;
        if (s.Held.size() + n <= m_Cap) {
          if (s.Held.capacity() == 0) s.Held.reserve(m_Cap);
          s.Held.insert(s.Held.end(), buffer, buffer + n);
          return 1;
        }
        m_Wake.wait(lock);
      }
    }
    // entry i's turn: nobody else touches the output until it is complete
    if (!StartOutput(i)) return 0;
    return WriteOutput(i, buffer, n);
  }

  // The owner of the output writes entry i's first bytes: takes its offset
  // and sends what it held.
  int StartOutput(size_t i) {
    Slot& s = m_Slots[i];
    if (!s.OffsetSet) {
      int64_t at = Tell(m_Out);
      if (at < 0) {
        Failure f;
        f.Error = EFSB_ERR_IO;
        f.File = m_Output;
        Fail(i, f);
        return 0;
      }
      s.Offset = (uint32_t)at;
      s.OffsetSet = 1;
    }
    if (s.Held.empty()) return 1;
    int ok = WriteOutput(i, s.Held.data(), s.Held.size());
    std::vector<unsigned char>().swap(s.Held);
    return ok;
  }

  int WriteOutput(size_t i, const unsigned char* buffer, size_t n) {
    if (fwrite(buffer, 1, n, m_Out) == n) return 1;
    Failure f;
    f.WriteFailed = 1;
    f.DiskFull = PortableLastErrorWasDiskFull();
    f.Error = EFSB_ERR_WRITE;
    f.File = m_Output;
    Fail(i, f);
    return 0;
  }

  // The owner of the output finishes entry i: checks the size limit.
  int EndOutput(size_t i) {
    if (FitsBelow4G(Tell(m_Out), (i + 1) * 280)) return 1;
    Failure f;
    f.Error = EFSB_ERR_WRITE;
    f.File = m_Output;
    Fail(i, f);
    return 0;
  }

  void Complete(size_t i, uint32_t crc) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Slots[i].Crc = crc;
    if (Aborting(i)) return;
    if (m_Head != i) {
      // not its turn yet: whoever completes the entry before it writes it
      m_Slots[i].State = DONE;
      return;
    }
    lock.unlock();
    if (!StartOutput(i) || !EndOutput(i)) return;
    lock.lock();
    m_Slots[i].State = DONE;
    ++m_Head;
    // write the completed entries that waited for this one
    while (m_Head < Limit() && m_Slots[m_Head].State == DONE) {
      size_t j = m_Head;
      lock.unlock();
      int ok = StartOutput(j) && EndOutput(j);
      lock.lock();
      if (!ok) break;
      ++m_Head;
    }
    m_Wake.notify_all();
  }

  void Fail(size_t i, const Failure& f) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Slots[i].State = FAILED;
    m_Slots[i].Fault = f;
    std::vector<unsigned char>().swap(m_Slots[i].Held);
    if (i < m_FailedAt) m_FailedAt = i;
    m_Wake.notify_all();
    m_MainWake.notify_all();
  }

  void Abandoned(size_t i) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    std::vector<unsigned char>().swap(m_Slots[i].Held);
  }

  const std::vector<EFSBUILDERENTRY>& m_Entries;
  FILE* m_Out;
  const char* m_Output;
  BuildRun& m_Run;
  unsigned m_Threads;
  size_t m_Window;
  size_t m_Cap;

  std::mutex m_Mutex;
  std::condition_variable m_Wake;      // workers: a turn, a free place, a stop
  std::condition_variable m_MainWake;  // the progress loop
  std::vector<Slot> m_Slots;
  size_t m_Next = 0;   // next entry to start
  size_t m_Head = 0;   // entry whose turn it is; all before it are written
  size_t m_FailedAt = (size_t)-1;
  unsigned m_Running = 0;
  int m_Cancelled = 0;
  uint64_t m_PayloadDone = 0;
};
#endif

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

  std::vector<EntryRecord> records;
#ifdef _GLIBCXX_HAS_GTHREADS
  if (m_Threads > 1 && m_Entries.size() > 1) {
    unsigned threads = (unsigned)std::min<size_t>(m_Threads, m_Entries.size());
    ParallelEncoder encoder(m_Entries, run.Out, output, threads, run);
    int result = encoder.Run(&records);
    if (result == 0) {
      run.Abandon();
      return 0;
    }
    if (result < 0) {
      const ParallelEncoder::Failure& f = encoder.FailureOf();
      if (f.Deflate) {
        run.Abandon();
        throw 0;
      }
      if (f.WriteFailed) {
        run.WriteFailedDiskFull = f.DiskFull;
        run.ThrowWrite();
      }
      std::string file = f.File;  // the entry's path dies with the run
      run.Throw(f.Error, file.c_str());
    }
  } else
#endif
  {
    std::vector<unsigned char> in(EFS_INPUT_BUFFER_SIZE), out(EFS_OUTPUT_BUFFER_SIZE);
    size_t directoryBytes = 0;
    for (const EFSBUILDERENTRY& e : m_Entries) {
      const char* source = e.SourcePath.c_str();
      run.Current = e.Name;
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
      if (!FitsBelow4G(Tell(run.Out), directoryBytes)) run.Throw(EFSB_ERR_WRITE, output);
      directoryBytes += EFS_DIRENTRY_FIXED_SIZE + strlen(e.Name) + 1;
      records.push_back({(uint32_t)offset, crc});
    }
  }

  std::vector<unsigned char> directory;
  directory.reserve(m_Entries.size() * 280 + EFS_TRAILER_SIZE);
  for (size_t i = 0; i < m_Entries.size(); ++i) {
    const EFSBUILDERENTRY& e = m_Entries[i];
    EFSDIRENTRY record;
    record.DataOffset = records[i].Offset;
    record.Compressed = (uint32_t)e.Compressed;
    record.Crc = records[i].Crc;
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
