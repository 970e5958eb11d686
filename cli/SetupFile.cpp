#include "cli/SetupFile.h"

#include <string.h>

#include <algorithm>

#include "cli/Platform.h"
#include "common/Mbcs.h"
#include "efs/EfsFormat.h"
#include "script/FileParser.h"

namespace {

int ReadLayout(FILE* f, SetupLayout* layout) {
  int64_t size = PlatformFileSize(f);
  if (size < 0) return 0;
  CStdioReader reader(f);
  return ReadSetupLayout(reader, (uint64_t)size, layout);
}

class TextSink : public IEntrySink {
 public:
  std::string Text;
  int Write(const unsigned char* data, uint32_t n) override {
    Text.append(reinterpret_cast<const char*>(data), n);
    return 1;
  }
};

}  // namespace

EfsDecodeResult DecodeToText(CSetupFile& file, const EfsEntry& entry, std::string* text) {
  TextSink sink;
  const EfsDecodeResult r = file.Decode(entry, sink);
  if (r == EFS_DECODE_OK) text->swap(sink.Text);
  return r;
}

std::string StoredGlobalValue(const CFileParser& script, const char* key) {
  const int32_t n = script.GetValue("Global", key, "", nullptr, 0);
  if (n <= 1) return "";
  std::string value((size_t)n, '\0');
  script.GetValue("Global", key, "", &value[0], n);
  value.resize((size_t)n - 1);
  std::string utf8;
  if (!Utf8IsValid(value.data(), value.size()) && PlatformToUtf8(value, 1252, &utf8)) return utf8;
  return value;
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

int ReadLayoutOfFile(const char* path, SetupLayout* layout) {
  FILE* f = fopen(path, "rb");
  if (!f) return 0;
  int ok = ReadLayout(f, layout);
  fclose(f);
  return ok;
}

CSetupFile::~CSetupFile() {
  if (m_File) fclose(m_File);
}

int CStdioReader::ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) {
  return PlatformSeek(File, offset) && fread(buffer, 1, n, File) == n;
}

CommandResult CSetupFile::Open(const char* path) {
  m_File = fopen(path, "rb");
  if (!m_File) return InputFailure("cannot open " + std::string(path) + ": " + PlatformErrorText(errno));
  m_Reader.File = m_File;
  if (!ReadLayout(m_File, &m_Layout)) return InputFailure("cannot read " + std::string(path));
  m_Arch = ArchOfOpenFile(m_File);
  // Everything below counts from the logical end: a signed file's
  // certificate table is no part of the container.
  const uint64_t end = m_Layout.End;
  m_StubSize = end - m_Layout.SliceRecordSize;  // a first slice's record is no part of the program
  m_Kind = SetupKindOf(m_Layout);
  if (m_Kind == FILEKIND_DAMAGED) m_StubSize = m_Layout.ProgramEnd;
  if (m_Kind == FILEKIND_UNINSTALLER) m_StubSize = end - EFS_SIGNATURE_SIZE;
  if (m_Kind != FILEKIND_INSTALLER) return Succeeded();

  // the command reads every version its builds ever wrote
  switch (m_Directory.Read(m_Reader, end, EfsParseSolidRecords)) {
    case EFS_OPEN_OK: break;
    case EFS_OPEN_NO_MEMORY: return InputFailure(std::string(path) + ": not enough memory for its directory");
    case EFS_OPEN_NEWER_VERSION:
      return InputFailure(std::string(path) + ": container format version " + std::to_string(m_Directory.Version()) +
                          " is newer than this quillset knows (1 to 4); use a newer quillset");
    case EFS_OPEN_DAMAGED:
      return InputFailure(std::string(path) + ": damaged setup file: " + EfsParseResultText(m_Directory.Problem()));
    default: return InputFailure("cannot read " + std::string(path));
  }
  for (uint32_t i = 0; i < m_Directory.Count(); ++i) m_Entries.push_back(m_Directory.At(i));
  if (m_Directory.Solid()) {
      const EfsSolidHeader& h = m_Directory.Header();
      m_Solid.Attach(&m_Reader, h.DataOffset, h.StreamSize, h.ContentSize, h.StreamProps);
    }
  // as the setup program derives it: what precedes the data and directory
  m_StubSize = m_Directory.StubSize();
  return Succeeded();
}

int CSetupFile::Find(const char* name) const {
  for (size_t i = 0; i < m_Entries.size(); ++i)
    if (EfsCompareNames(m_Entries[i].Name, name) == 0) return (int)i;
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
  int Progress(uint64_t, uint64_t) override { return 1; }

 private:
  FILE* m_File;
  IEntrySink& m_Sink;
};

}  // namespace

EfsDecodeResult CSetupFile::Decode(const EfsEntry& entry, IEntrySink& sink) {
  FileDecode io(m_File, sink);
  if (entry.Method == EFS_METHOD_LZMA) return m_Solid.Decode(entry, io);
  if (!PlatformSeek(m_File, entry.DataOffset)) return EFS_DECODE_READ_FAILED;
  std::vector<unsigned char> in(EFS_INPUT_BUFFER_SIZE), out(EFS_OUTPUT_BUFFER_SIZE);
  return EfsDecodeEntry(io, entry, in.data(), out.data());
}

std::vector<size_t> CSetupFile::EntriesInStreamOrder() const {
  std::vector<size_t> order(m_Entries.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [this](size_t a, size_t b) { return m_Entries[a].DataOffset < m_Entries[b].DataOffset; });
  return order;
}

const char* SetupKindName(SetupFileKind kind) {
  switch (kind) {
    case FILEKIND_INSTALLER: return "installer";
    case FILEKIND_UNINSTALLER: return "uninstaller";
    case FILEKIND_DAMAGED: return "damaged";
    case FILEKIND_NONE:
    case FILEKIND_UNREADABLE: break;
  }
  return "bare stub";
}

static std::string Count(uint64_t n) { return std::to_string((unsigned long long)n); }

std::string DamageText(const SetupLayout& l) {
  std::string text = "damaged or truncated: " + Count(l.End) + " bytes";
  if (l.CertificateSize) text += " before its certificate table";
  if (l.End > l.ProgramEnd)
    text += ", of which " + Count(l.End - l.ProgramEnd) + " follow the " + Count(l.ProgramEnd) +
            "-byte setup program but end with no setup signature";
  else
    text += ", fewer than the " + Count(l.ProgramEnd) + " its setup program takes";
  return text + " (a download cut short?); obtain the file again";
}

std::string SignatureText(const SetupLayout& l) {
  if (!l.CertificateSize) return "not signed";
  return "signed, certificate table of " + Count(l.CertificateSize) + " bytes";
}

const char* DecodeResultText(EfsDecodeResult result) {
  switch (result) {
    case EFS_DECODE_OK: return "ok";
    case EFS_DECODE_READ_FAILED: return "its stored bytes cannot be read";
    case EFS_DECODE_WRITE_FAILED: return "its content cannot be written";
    case EFS_DECODE_CANCELLED: return "cancelled";
    case EFS_DECODE_CORRUPT: return "its compressed data is damaged";
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
