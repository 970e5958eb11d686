#include "efs/EFSBuilder.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <utility>
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

// ErrorFileName keeps what it held for a full disk: the failure names the
// output instead.
void CEFSBuilder::Record(EFSBUILDERERROR error, const char* file, int systemError) {
  m_Failure.Error = error;
  m_Failure.File = file ? file : "";
  m_Failure.SystemError = systemError;
  if (file && error != EFSB_ERR_DISK_FULL) SetErrorFile(file);
}

void CEFSBuilder::Fail(EFSBUILDERERROR error, const char* file) {
  Record(error, file, errno);
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

CEFSBuilder::CEFSBuilder()
    : m_StubSize(0), m_Total(0), m_Threads(1), m_Compression(EFS_METHOD_ZLIB), m_NamedLines(false) {}

CEFSBuilder::~CEFSBuilder() {
  Reset();
}

void CEFSBuilder::Reset() {
  m_StubPath.clear();
  m_Entries.clear();
  m_Names.clear();
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
  // the first format addresses at most 4 GiB; the solid one 64 bits
  if (!PortableFileInfo(path, &size, &time) || (m_Compression != EFS_METHOD_LZMA && size >= 0xFFFFFFFFu))
    Fail(EFSB_ERR_IO, path);
  m_Total += size;

  EFSBUILDERENTRY entry;
  const char* name = entryName ? entryName : BaseName(path);
  size_t n = strlen(name);
  if (n == 0 || n >= sizeof entry.Name) Fail(EFSB_ERR_OPEN, path);
  entry.SourcePath = path;
  memcpy(entry.Name, name, n + 1);
  entry.Time = time;
  entry.Method = compressed ? EFS_METHOD_ZLIB : EFS_METHOD_STORED;
  entry.Sequence = m_Entries.size();
  if (!m_Names.insert(entry.Name).second) Fail(EFSB_ERR_DUPLICATE, entry.Name);
  m_Entries.push_back(entry);
}

namespace {

// A failure of one build, told by where it happened; Build throws it.
struct EntryFailure {
  EFSBUILDERERROR Error = EFSB_ERR_IO;
  const char* File = NULL;

  int Set(EFSBUILDERERROR error, const char* file) {
    Error = error;
    File = file;
    return -1;
  }
  // A failed write of the output.
  int SetWrite(int diskFull, const char* output) {
    return Set(diskFull ? EFSB_ERR_DISK_FULL : EFSB_ERR_WRITE, output);
  }
  // An encoding that failed on its source's side: a read or the compressor.
  int SetEncode(EfsEncodeResult result, const char* source) {
    return Set(result == EFS_ENCODE_READ_FAILED ? EFSB_ERR_IO : EFSB_ERR_COMPRESS, source);
  }
};

// Opens an entry's source for reading; 0 with the failure when it cannot.
int OpenSource(const char* source, FILE** file, EntryFailure* failure) {
  *file = NULL;
  if (!PortableFileExists(source)) return failure->Set(EFSB_ERR_NOT_FOUND, source), 0;
  *file = fopen(source, "rb");
  if (!*file) return failure->Set(EFSB_ERR_OPEN, source), 0;
  return 1;
}

// State of one Build; closes and deletes a partial output unless finished.
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
  void Finish() { m_Finished = 1; }
  int Report() {
    if (!m_Progress) return 1;
    int percent = m_All ? (int)(m_Done * 100 / m_All) : 100;
    m_Progress->OnBytes(m_Done, m_All, Current);
    return m_Progress->OnProgress(percent) ? 1 : 0;
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
  return end >= 0 &&
         (uint64_t)end + directoryBytes + EFS_DIRENTRY_MAX_SIZE + EFS_TRAILER_SIZE <= 0xFFFFFFFFull;
}

// Compresses the entries one after another straight into the output.
// 1 when every entry is in, 0 when cancelled, -1 on a failure.
int EncodeInOrder(const std::vector<EFSBUILDERENTRY>& entries, BuildRun& run, const char* output,
                  std::vector<EntryRecord>* records, EntryFailure* failure) {
  std::vector<unsigned char> in(EFS_INPUT_BUFFER_SIZE), out(EFS_OUTPUT_BUFFER_SIZE);
  size_t directoryBytes = 0;
  for (const EFSBUILDERENTRY& e : entries) {
    const char* source = e.SourcePath.c_str();
    run.Current = e.Name;
    if (!OpenSource(source, &run.Source, failure)) return -1;
    int64_t offset = Tell(run.Out);
    if (offset < 0) return failure->Set(EFSB_ERR_IO, output);
    uint32_t crc = 0;
    EfsEncodeResult result = EfsEncodeEntry(run, e.Method == EFS_METHOD_ZLIB, &crc, in.data(), out.data());
    fclose(run.Source);
    run.Source = NULL;
    if (result == EFS_ENCODE_CANCELLED) return 0;
    if (result == EFS_ENCODE_WRITE_FAILED) return failure->SetWrite(run.WriteFailedDiskFull, output);
    if (result != EFS_ENCODE_OK) return failure->SetEncode(result, source);
    if (!FitsBelow4G(Tell(run.Out), directoryBytes)) return failure->Set(EFSB_ERR_WRITE, output);
    directoryBytes += EFS_DIRENTRY_FIXED_SIZE + strlen(e.Name) + 1;
    records->push_back({(uint32_t)offset, crc});
  }
  return 1;
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
  ParallelEncoder(const std::vector<EFSBUILDERENTRY>& entries, FILE* out, const char* output,
                  unsigned threads, BuildRun& run)
      : m_Entries(entries), m_Out(out), m_Output(output), m_Run(run),
        m_Threads(threads), m_Slots(entries.size()) {
    m_Window = 2 * (size_t)threads;
    m_Cap = std::max<size_t>(256 * 1024, (24u << 20) / m_Window);
  }

  // 1 when every entry is in the output, 0 when cancelled, -1 on a failure
  // (the first in name order, in *failure).
  int Run(std::vector<EntryRecord>* records, EntryFailure* failure) {
    std::vector<std::thread> workers;
    {
      std::unique_lock<std::mutex> lock(m_Mutex);
      m_Running = m_Threads;
    }
    for (unsigned t = 0; t < m_Threads; ++t) workers.emplace_back([this] { WorkerMain(); });
    ReportUntilDone();
    for (std::thread& t : workers) t.join();
    if (m_Cancelled) return 0;
    if (m_FailedAt < m_Entries.size()) {
      *failure = m_Slots[m_FailedAt].Fault;
      return -1;
    }
    records->resize(m_Entries.size());
    for (size_t i = 0; i < m_Entries.size(); ++i) (*records)[i] = {m_Slots[i].Offset, m_Slots[i].Crc};
    return m_Run.ReportPayload(m_PayloadDone, NULL) ? 1 : 0;
  }

 private:
  enum { WAITING, RUNNING, DONE, FAILED };
  struct Slot {
    int State = WAITING;
    int OffsetSet = 0;
    uint32_t Offset = 0;
    uint32_t Crc = 0;
    std::vector<unsigned char> Held;  // stored bytes not yet in the output
    EntryFailure Fault;
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

  // The progress object hears from this thread only, while workers run.
  void ReportUntilDone() {
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
        EntryFailure f;
        f.Set(EFSB_ERR_COMPRESS, m_Entries[i].SourcePath.c_str());
        Fail(i, f);
      }
      lock.lock();
    }
    --m_Running;
    m_MainWake.notify_all();
  }

  void EncodeOne(size_t i, unsigned char* in, unsigned char* out) {
    const char* source = m_Entries[i].SourcePath.c_str();
    EntryFailure f;
    FILE* file;
    if (!OpenSource(source, &file, &f)) return Fail(i, f);
    EntryIo io(*this, i, file);
    uint32_t crc = 0;
    EfsEncodeResult result = EfsEncodeEntry(io, m_Entries[i].Method == EFS_METHOD_ZLIB, &crc, in, out);
    fclose(file);
    if (result == EFS_ENCODE_OK) return Complete(i, crc);
    // a failed write of the output was recorded where it happened
    if (result == EFS_ENCODE_WRITE_FAILED || result == EFS_ENCODE_CANCELLED) return Abandoned(i);
    f.SetEncode(result, source);
    Fail(i, f);
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
          // grown as it fills, never past the cap: a buffer of the cap for
          // every entry, most of them a few KiB, made each a fresh mapping
          // and its page faults
          if (s.Held.size() + n > s.Held.capacity())
            s.Held.reserve(std::min(m_Cap, std::max(2 * s.Held.capacity(), s.Held.size() + n)));
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
      if (at < 0) return FailOutput(i, EFSB_ERR_IO);
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
    return FailOutput(i, PortableLastErrorWasDiskFull() ? EFSB_ERR_DISK_FULL : EFSB_ERR_WRITE);
  }

  // The owner of the output finishes entry i: checks the size limit.
  int EndOutput(size_t i) {
    if (FitsBelow4G(Tell(m_Out), (i + 1) * EFS_DIRENTRY_MAX_SIZE)) return 1;
    return FailOutput(i, EFSB_ERR_WRITE);
  }

  int FailOutput(size_t i, EFSBUILDERERROR error) {
    EntryFailure f;
    f.Set(error, m_Output);
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

  void Fail(size_t i, const EntryFailure& f) {
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

// The entries' data behind the stub, on threads when asked and useful.
// 1 when all is in, 0 when cancelled, -1 on a failure.
int EncodeEntries(const std::vector<EFSBUILDERENTRY>& entries, unsigned threads, BuildRun& run,
                  const char* output, std::vector<EntryRecord>* records, EntryFailure* failure) {
#ifdef _GLIBCXX_HAS_GTHREADS
  if (threads > 1 && entries.size() > 1) {
    threads = (unsigned)std::min<size_t>(threads, entries.size());
    ParallelEncoder encoder(entries, run.Out, output, threads, run);
    return encoder.Run(records, failure);
  }
#else
  (void)threads;
#endif
  return EncodeInOrder(entries, run, output, records, failure);
}

// The directory records in name order, then the trailer; for lines that
// name their entries, a header of version 4 between them.
std::vector<unsigned char> EncodeDirectory(const std::vector<EFSBUILDERENTRY>& entries,
                                           const std::vector<EntryRecord>& records,
                                           const unsigned char signature[16], bool namedLines,
                                           uint64_t stubSize, uint64_t dataEnd) {
  std::vector<unsigned char> directory;
  directory.reserve(entries.size() * EFS_DIRENTRY_MAX_SIZE + EFS_TRAILER_SIZE);
  for (size_t i = 0; i < entries.size(); ++i) {
    const EFSBUILDERENTRY& e = entries[i];
    EFSDIRENTRY record;
    record.DataOffset = records[i].Offset;
    record.Compressed = e.Method == EFS_METHOD_ZLIB ? 1 : 0;
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
  trailer.Count = (uint32_t)entries.size();
  trailer.DirectorySize = (uint32_t)(directory.size() + EFS_TRAILER_SIZE);
  if (namedLines) {
    EfsSolidHeader h = {};
    h.Version = EFS_FORMAT_NAMED_LINES;
    h.Layout = EFS_LAYOUT_RECORDS;
    h.Count = (uint32_t)entries.size();
    h.DataOffset = stubSize;
    h.StreamSize = dataEnd - stubSize;
    h.DirectoryStoredSize = h.DirectorySize = (uint32_t)directory.size();
    h.DirectoryCrc = EfsCrc32(0, directory.data(), (uint32_t)directory.size());
    trailer.Count = EFS_EXTENDED_COUNT;
    trailer.DirectorySize = EFS_SOLID_HEADER_SIZE + EFS_TRAILER_SIZE;
    size_t at = directory.size();
    directory.resize(at + EFS_SOLID_HEADER_SIZE);
    EfsEncodeSolidHeader(h, &directory[at]);
  }
  memcpy(trailer.Signature, signature, EFS_SIGNATURE_SIZE);
  size_t at = directory.size();
  directory.resize(at + EFS_TRAILER_SIZE);
  EfsEncodeTrailer(trailer, &directory[at]);
  return directory;
}

// Where an entry's content lies in the solid stream's decoded bytes.
struct SolidRecord {
  uint64_t Offset = 0;
  uint64_t Size = 0;
  uint32_t Crc = 0;
};

// The sources one after another as one input, for the solid stream; each
// entry's place, size and CRC-32 taken on the way.
class SolidSources : public IEfsEncodeIo {
 public:
  SolidSources(const std::vector<const EFSBUILDERENTRY*>& order, BuildRun& run, EntryFailure* failure)
      : Records(order.size()), m_Order(order), m_Run(run), m_Failure(failure) {}
  ~SolidSources() {
    if (m_File) fclose(m_File);
  }
  std::vector<SolidRecord> Records;  // in the order given
  bool Failed = false;               // *failure tells why

  long Read(unsigned char* buffer, uint32_t n) override {
    for (;;) {
      if (!m_File) {
        if (m_Next == m_Order.size()) return 0;
        const EFSBUILDERENTRY& e = *m_Order[m_Next];
        if (!OpenSource(e.SourcePath.c_str(), &m_File, m_Failure)) return Stop();
        m_Run.Current = e.Name;
        Records[m_Next].Offset = m_Done;
      }
      size_t got = fread(buffer, 1, n, m_File);
      if (got < n && ferror(m_File)) {
        m_Failure->Set(EFSB_ERR_IO, m_Order[m_Next]->SourcePath.c_str());
        return Stop();
      }
      if (got > 0) {
        SolidRecord& r = Records[m_Next];
        r.Crc = EfsCrc32(r.Crc, buffer, (uint32_t)got);
        r.Size += got;
        m_Done += got;
        return (long)got;
      }
      fclose(m_File);
      m_File = NULL;
      ++m_Next;
    }
  }
  int Write(const unsigned char* buffer, uint32_t n) override { return m_Run.Write(buffer, n); }
  int Progress(uint32_t chunk) override { return m_Run.Progress(chunk); }

 private:
  long Stop() {
    Failed = true;
    return -1;
  }
  const std::vector<const EFSBUILDERENTRY*>& m_Order;
  BuildRun& m_Run;
  EntryFailure* m_Failure;
  FILE* m_File = NULL;
  size_t m_Next = 0;
  uint64_t m_Done = 0;
};

// A buffer compressed whole, for the solid container's directory.
class MemoryCodecIo : public IEfsEncodeIo {
 public:
  explicit MemoryCodecIo(const std::vector<unsigned char>& in) : m_In(in) {}
  std::vector<unsigned char> Out;
  long Read(unsigned char* buffer, uint32_t n) override {
    size_t left = m_In.size() - m_At;
    if (n > left) n = (uint32_t)left;
    memcpy(buffer, m_In.data() + m_At, n);
    m_At += n;
    return (long)n;
  }
  int Write(const unsigned char* buffer, uint32_t n) override {
    Out.insert(Out.end(), buffer, buffer + n);
    return 1;
  }
  int Progress(uint32_t) override { return 1; }

 private:
  const std::vector<unsigned char>& m_In;
  size_t m_At = 0;
};

// The solid container behind the stub: the stream of every entry's
// content in the order they were added, then the directory (the entries
// in name order, in columns, compressed), the header and the trailer.
// 1 when written, 0 when cancelled, -1 on a failure.
int EncodeSolid(const std::vector<EFSBUILDERENTRY>& sorted, BuildRun& run, const char* output,
                uint64_t contentSize, const unsigned char signature[16], bool namedLines, unsigned threads,
                EntryFailure* failure) {
  std::vector<const EFSBUILDERENTRY*> order(sorted.size());
  for (const EFSBUILDERENTRY& e : sorted) order[e.Sequence] = &e;
  EfsSolidHeader h = {};
  h.Version = namedLines ? EFS_FORMAT_NAMED_LINES : EFS_FORMAT_SOLID;
  h.Count = (uint32_t)sorted.size();
  int64_t start = Tell(run.Out);
  if (start < 0) return failure->Set(EFSB_ERR_IO, output);
  h.DataOffset = (uint64_t)start;

  SolidSources sources(order, run, failure);
  // one stream: its match finder is all a second thread can take
  EfsEncodeResult r = EfsLzmaEncode(sources, contentSize, h.StreamProps, threads > 1 ? 2 : 1);
  if (sources.Failed) return -1;
  if (r == EFS_ENCODE_CANCELLED) return 0;
  if (r == EFS_ENCODE_WRITE_FAILED) return failure->SetWrite(run.WriteFailedDiskFull, output);
  if (r != EFS_ENCODE_OK) return failure->Set(EFSB_ERR_COMPRESS, output);
  int64_t end = Tell(run.Out);
  if (end < start) return failure->Set(EFSB_ERR_IO, output);
  h.StreamSize = (uint64_t)(end - start);

  std::vector<EfsEntry> entries;
  entries.reserve(sorted.size());
  uint32_t names = 0;
  for (const EFSBUILDERENTRY& e : sorted) {
    names += (uint32_t)strlen(e.Name) + 1;
    const SolidRecord& where = sources.Records[e.Sequence];
    h.ContentSize += where.Size;
    EfsEntry record = {};
    record.Method = EFS_METHOD_LZMA;
    record.DataOffset = where.Offset;
    record.Size = where.Size;
    record.Crc = where.Crc;
    record.Time = e.Time;
    record.Name = e.Name;
    entries.push_back(record);
  }
  std::vector<unsigned char> records(EfsEncodeSolidColumns(entries.data(), h.Count, NULL));
  EfsEncodeSolidColumns(entries.data(), h.Count, records.data());
  MemoryCodecIo packed(records);
  if (EfsLzmaEncode(packed, records.size(), h.DirectoryProps) != EFS_ENCODE_OK)
    return failure->Set(EFSB_ERR_COMPRESS, output);
  h.DirectorySize = (uint32_t)records.size();
  h.DirectoryStoredSize = (uint32_t)packed.Out.size();
  h.DirectoryCrc = EfsCrc32(0, records.data(), (uint32_t)records.size());
  EfsWriteU32(h.NamesSize, names);

  std::vector<unsigned char> tail(packed.Out);
  size_t at = tail.size();
  tail.resize(at + EFS_SOLID_HEADER_SIZE + EFS_TRAILER_SIZE);
  EfsEncodeSolidHeader(h, &tail[at]);
  EFSTRAILER trailer;
  trailer.Count = EFS_EXTENDED_COUNT;
  trailer.DirectorySize = EFS_SOLID_HEADER_SIZE + EFS_TRAILER_SIZE;
  memcpy(trailer.Signature, signature, EFS_SIGNATURE_SIZE);
  EfsEncodeTrailer(trailer, &tail[at + EFS_SOLID_HEADER_SIZE]);
  if (!run.Write(tail.data(), (uint32_t)tail.size())) return failure->SetWrite(run.WriteFailedDiskFull, output);
  return 1;
}

// The decoded directory's bytes for the entries in name order: only their
// names change its size.
size_t SolidDirectorySize(const std::vector<EFSBUILDERENTRY>& sorted) {
  std::vector<EfsEntry> entries(sorted.size());
  for (size_t i = 0; i < sorted.size(); ++i) entries[i].Name = sorted[i].Name;
  return EfsEncodeSolidColumns(entries.data(), (uint32_t)entries.size(), NULL);
}

// Closes the output; 1, or -1 on a failure.
int CloseOutput(BuildRun& run, const char* output, EntryFailure* failure) {
  FILE* f = run.Out;
  run.Out = NULL;
  if (fclose(f) != 0) return failure->SetWrite(PortableLastErrorWasDiskFull(), output);
  return 1;
}

// Writes the directory and closes the output; 1, or -1 on a failure.
int WriteDirectory(BuildRun& run, const std::vector<unsigned char>& directory, const char* output,
                   EntryFailure* failure) {
  if (!run.Write(directory.data(), (uint32_t)directory.size()))
    return failure->SetWrite(run.WriteFailedDiskFull, output);
  return CloseOutput(run, output, failure);
}

// The stub copied to the output, opened for appending behind it; 1, or -1.
int OpenOutput(BuildRun& run, const char* output, EntryFailure* failure) {
  run.Out = fopen(output, "r+b");
  if (!run.Out) return failure->Set(EFSB_ERR_OPEN, output);
  setvbuf(run.Out, NULL, _IONBF, 0);
  if (fseek(run.Out, 0, SEEK_END) != 0) return failure->Set(EFSB_ERR_IO, output);
  return 1;
}

}  // namespace

int CEFSBuilder::Build(const char* output, IEFSBuildProgress* progress,
                       const unsigned char signature[16]) {
  if (!PortableFileExists(m_StubPath.c_str())) Fail(EFSB_ERR_NOT_FOUND, m_StubPath.c_str());
  // Sorted through their indexes: an entry is some 300 bytes to move.
  std::vector<size_t> order(m_Entries.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
    return EfsCompareNames(m_Entries[a].Name, m_Entries[b].Name) < 0;
  });
  std::vector<EFSBUILDERENTRY> sorted;
  sorted.reserve(m_Entries.size());
  for (size_t i : order) sorted.push_back(std::move(m_Entries[i]));
  m_Entries.swap(sorted);
  // Before any content is compressed: a directory every reader would refuse
  // as damaged is no setup.
  if (m_Compression == EFS_METHOD_LZMA && SolidDirectorySize(m_Entries) > EFS_SOLID_DIRECTORY_LIMIT)
    Fail(EFSB_ERR_TOO_MANY, output);
  if (m_Compression != EFS_METHOD_LZMA && m_NamedLines) {
    size_t records = 0;
    for (const EFSBUILDERENTRY& e : m_Entries) records += EFS_DIRENTRY_FIXED_SIZE + strlen(e.Name) + 1;
    if (records > EFS_SOLID_DIRECTORY_LIMIT) Fail(EFSB_ERR_TOO_MANY, output);
  }
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

  EntryFailure failure;
  std::vector<EntryRecord> records;
  int result = OpenOutput(run, output, &failure);
  if (m_Compression == EFS_METHOD_LZMA) {
    if (result == 1) result = EncodeSolid(m_Entries, run, output, m_Total, signature, m_NamedLines, m_Threads, &failure);
    if (result == 1) result = CloseOutput(run, output, &failure);
  } else {
    if (result == 1) result = EncodeEntries(m_Entries, m_Threads, run, output, &records, &failure);
    const int64_t dataEnd = result == 1 ? Tell(run.Out) : 0;
    if (result == 1 && dataEnd < (int64_t)m_StubSize) result = failure.Set(EFSB_ERR_IO, output);
    if (result == 1)
      result = WriteDirectory(
          run, EncodeDirectory(m_Entries, records, signature, m_NamedLines, m_StubSize, (uint64_t)dataEnd), output,
          &failure);
  }
  if (result == 1) {
    run.Finish();
    return 1;
  }
  run.Abandon();
  if (result == 0) return 0;
  Fail(failure.Error, failure.File);
}
