#include "cli/SetupFile.h"

#include <string.h>

#include "cli/Platform.h"
#include "efs/EfsFormat.h"

static int KindOfTail(const unsigned char* tail) {
  if (memcmp(tail, InstallerSignature, EFS_SIGNATURE_SIZE) == 0) return SETUP_INSTALLER;
  if (memcmp(tail, UninstallerSignature, EFS_SIGNATURE_SIZE) == 0) return SETUP_UNINSTALLER;
  return SETUP_BARE_STUB;
}

static PeArch ArchOfOpenFile(FILE* f) {
  std::vector<unsigned char> front(PE_MAX_HEADER_OFFSET + 4096);
  if (!PlatformSeek(f, 0)) return PE_ARCH_UNKNOWN;
  size_t got = fread(front.data(), 1, front.size(), f);
  PeHeaders headers;
  if (!ReadPeHeaders(front.data(), got, &headers)) return PE_ARCH_UNKNOWN;
  return PeArchOf(headers);
}

PeArch ReadArchOfFile(const char* path) {
  FILE* f = fopen(path, "rb");
  if (!f) return PE_ARCH_UNKNOWN;
  PeArch arch = ArchOfOpenFile(f);
  fclose(f);
  return arch;
}

const char* ArchLabel(PeArch arch) {
  return arch == PE_ARCH_UNKNOWN ? "unknown architecture" : PeArchName(arch);
}

int ReadKindOfFile(const char* path) {
  FILE* f = fopen(path, "rb");
  if (!f) return -1;
  unsigned char tail[EFS_SIGNATURE_SIZE];
  int64_t size = PlatformFileSize(f);
  int kind = -1;
  if (size >= EFS_SIGNATURE_SIZE && PlatformSeek(f, (uint64_t)size - EFS_SIGNATURE_SIZE) &&
      fread(tail, 1, sizeof tail, f) == sizeof tail)
    kind = KindOfTail(tail);
  else if (size >= 0 && size < EFS_SIGNATURE_SIZE)
    kind = SETUP_BARE_STUB;
  fclose(f);
  return kind;
}

CSetupFile::~CSetupFile() {
  if (m_File) fclose(m_File);
}

static const char* ParseText(EfsParseResult r) {
  switch (r) {
    case EFS_PARSE_OK: return "ok";
    case EFS_PARSE_BAD_SIZE: return "the directory size does not fit the file";
    case EFS_PARSE_TOO_MANY: return "the entry count does not fit the directory";
    case EFS_PARSE_OVERRUN: return "a directory record runs past the directory";
    case EFS_PARSE_BAD_NAME: return "a directory record has an unusable name";
    case EFS_PARSE_DESCENDING: return "the entries' data offsets go down";
    case EFS_PARSE_OUTSIDE_DATA: return "an entry's data lies outside the data area";
  }
  return "the directory is damaged";
}

int CSetupFile::Open(const char* path, std::string* error) {
  m_File = fopen(path, "rb");
  if (!m_File) {
    *error = "cannot open " + std::string(path) + ": " + PlatformErrorText(errno);
    return 0;
  }
  int64_t size = PlatformFileSize(m_File);
  if (size < 0) {
    *error = "cannot read " + std::string(path);
    return 0;
  }
  m_FileSize = (uint64_t)size;
  m_StubSize = m_FileSize;
  m_Arch = ArchOfOpenFile(m_File);
  if (m_FileSize < EFS_SIGNATURE_SIZE) {
    m_Kind = SETUP_BARE_STUB;
    return 1;
  }
  unsigned char tail[EFS_TRAILER_SIZE];
  size_t tailSize = m_FileSize >= EFS_TRAILER_SIZE ? EFS_TRAILER_SIZE : EFS_SIGNATURE_SIZE;
  if (!PlatformSeek(m_File, m_FileSize - tailSize) || fread(tail, 1, tailSize, m_File) != tailSize) {
    *error = "cannot read " + std::string(path);
    return 0;
  }
  m_Kind = (SetupFileKind)KindOfTail(tail + tailSize - EFS_SIGNATURE_SIZE);
  if (m_Kind == SETUP_UNINSTALLER) m_StubSize = m_FileSize - EFS_SIGNATURE_SIZE;
  if (m_Kind != SETUP_INSTALLER) return 1;

  const std::string bad = std::string(path) + ": damaged setup file: ";
  if (tailSize < EFS_TRAILER_SIZE || m_FileSize > 0xFFFFFFFFull) {
    *error = bad + "the trailer does not fit the file";
    return 0;
  }
  EFSTRAILER trailer;
  EfsDecodeTrailer(tail, &trailer);
  if (trailer.DirectorySize < EFS_TRAILER_SIZE || trailer.DirectorySize > m_FileSize) {
    *error = bad + ParseText(EFS_PARSE_BAD_SIZE);
    return 0;
  }
  if (trailer.Count > EfsMaxEntries(trailer.DirectorySize)) {
    *error = bad + ParseText(EFS_PARSE_TOO_MANY);
    return 0;
  }
  std::vector<unsigned char> dir(trailer.DirectorySize);
  if (!PlatformSeek(m_File, m_FileSize - trailer.DirectorySize) ||
      fread(dir.data(), 1, dir.size(), m_File) != dir.size()) {
    *error = "cannot read " + std::string(path);
    return 0;
  }
  std::vector<EfsEntry> entries(trailer.Count);
  EfsParseResult r = EfsParseDirectory(dir.data(), trailer.DirectorySize, trailer.Count,
                                       m_FileSize, entries.data());
  if (r != EFS_PARSE_OK) {
    *error = bad + ParseText(r);
    return 0;
  }
  uint64_t stored = 0;
  for (const EfsEntry& e : entries) {
    SetupEntry s;
    s.Name = e.Name;
    s.DataOffset = e.DataOffset;
    s.StoredSize = e.StoredSize;
    s.Compressed = e.Compressed != 0;
    s.Crc = e.Crc;
    s.Time = ((uint64_t)e.TimeHigh << 32) | e.TimeLow;
    stored += e.StoredSize;
    m_Entries.push_back(s);
  }
  // as the setup program derives it: what precedes the data and directory
  m_StubSize = m_FileSize - trailer.DirectorySize - stored;
  return 1;
}

int CSetupFile::Find(const char* name) const {
  for (size_t i = 0; i < m_Entries.size(); ++i)
    if (EfsCompareNames(m_Entries[i].Name.c_str(), name) == 0) return (int)i;
  return -1;
}

namespace {

class FileDecode : public IEfsDecodeIo {
 public:
  FileDecode(FILE* f, IEntrySink& sink) : m_File(f), m_Sink(sink) {}
  int Read(unsigned char* buffer, uint32_t n) override {
    return fread(buffer, 1, n, m_File) == n;
  }
  int Write(const unsigned char* buffer, uint32_t n) override { return m_Sink.Write(buffer, n); }
  int Progress(uint32_t, uint32_t) override { return 1; }

 private:
  FILE* m_File;
  IEntrySink& m_Sink;
};

}  // namespace

EfsDecodeResult CSetupFile::Decode(const SetupEntry& entry, IEntrySink& sink) {
  if (!PlatformSeek(m_File, entry.DataOffset)) return EFS_DECODE_READ_FAILED;
  FileDecode io(m_File, sink);
  std::vector<unsigned char> in(EFS_INPUT_BUFFER_SIZE), out(EFS_OUTPUT_BUFFER_SIZE);
  return EfsDecodeEntry(io, entry.StoredSize, entry.Compressed, entry.Crc, in.data(), out.data());
}

const char* SetupKindName(SetupFileKind kind) {
  switch (kind) {
    case SETUP_INSTALLER: return "installer";
    case SETUP_UNINSTALLER: return "uninstaller";
    case SETUP_BARE_STUB: break;
  }
  return "bare stub";
}

const char* DecodeResultText(EfsDecodeResult result) {
  switch (result) {
    case EFS_DECODE_OK: return "ok";
    case EFS_DECODE_READ_FAILED: return "its stored bytes cannot be read";
    case EFS_DECODE_WRITE_FAILED: return "its content cannot be written";
    case EFS_DECODE_CANCELLED: return "cancelled";
    case EFS_DECODE_INFLATE_ERROR: return "its compressed data is damaged";
    case EFS_DECODE_CRC_MISMATCH: return "CRC mismatch";
  }
  return "cannot be decoded";
}

std::string FileTimeToIso(uint64_t fileTime) {
  // days since 1601-01-01, then the civil date (proleptic Gregorian)
  uint64_t seconds = fileTime / 10000000;
  uint32_t fraction = (uint32_t)(fileTime % 10000000);
  uint64_t days = seconds / 86400;
  uint32_t daySeconds = (uint32_t)(seconds % 86400);
  int64_t z = (int64_t)days + 584694;  // counted from 0000-03-01
  int64_t era = z / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char text[64];
  int n = snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02u:%02u:%02u", (long long)y,
                   (long long)m, (long long)d, daySeconds / 3600, daySeconds / 60 % 60,
                   daySeconds % 60);
  if (fraction) {
    n += snprintf(text + n, sizeof text - n, ".%07u", fraction);
    while (text[n - 1] == '0') text[--n] = '\0';
  }
  snprintf(text + n, sizeof text - n, "Z");
  return text;
}
