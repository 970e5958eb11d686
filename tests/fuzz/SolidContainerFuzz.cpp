// The solid container's reader and its LZMA decoder on any bytes, taken as
// a whole setup file: the directory reader must refuse or hand out entries
// inside the content, and every entry it hands out decodes to its size or
// fails as damage. Read as the command reads (the earlier version too) and
// as the setup program reads (its own version only), the two must agree.
// Where the whole content decodes, liblzma must read the same stream to the
// same bytes. The seeds hold both versions of the directory.
//
// The same bytes are also taken as a decoded directory of columns, its count
// and names' size in front: behind the container's CRCs, few mutations
// would reach the column parser otherwise.
#include <lzma.h>
#include <string.h>

#include <vector>

#include "FuzzCheck.h"
#include "efs/EfsDirectory.h"
#include "efs/SolidStream.h"

namespace {

const uint64_t kMaxContent = 4u << 20;

class Reader : public IEfsFileReader {
 public:
  Reader(const uint8_t* data, size_t size) : m_Data(data), m_Size(size) {}
  int ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) override {
    if (offset > m_Size || n > m_Size - offset) return 0;
    memcpy(buffer, m_Data + offset, n);
    return 1;
  }

 private:
  const uint8_t* m_Data;
  size_t m_Size;
};

class Collect : public IEfsDecodeIo {
 public:
  std::vector<unsigned char> Out;
  int Read(unsigned char*, uint32_t) override { return 0; }
  int Write(const unsigned char* b, uint32_t n) override {
    Out.insert(Out.end(), b, b + n);
    return 1;
  }
  int Progress(uint64_t done, uint64_t total) override {
    FUZZ_CHECK(done <= total);
    return 1;
  }
};

// liblzma's reading of the raw stream; false when it refuses it.
bool Liblzma(const unsigned char props[5], const uint8_t* in, size_t n, size_t outSize,
             std::vector<unsigned char>* out) {
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_properties_decode(&filters[0], nullptr, props, 5) != LZMA_OK) return false;
  lzma_stream s = LZMA_STREAM_INIT;
  bool ok = lzma_raw_decoder(&s, filters) == LZMA_OK;
  free(filters[0].options);
  out->assign(outSize, 0);
  if (ok) {
    s.next_in = in;
    s.avail_in = n;
    s.next_out = out->data();
    s.avail_out = outSize;
    lzma_ret r = lzma_code(&s, LZMA_RUN);
    ok = (r == LZMA_OK || r == LZMA_STREAM_END) && s.avail_out == 0;
  }
  lzma_end(&s);
  return ok;
}

const uint64_t kColumnsContent = 1u << 16;

void ParseAsColumns(const uint8_t* data, size_t size) {
  if (size < 8 || size - 8 > EFS_SOLID_DIRECTORY_LIMIT) return;
  const uint32_t count = EfsReadU32(data) % 4096, namesSize = EfsReadU32(data + 4) % (1u << 20);
  std::vector<EfsEntry> entries(count + 1);
  std::vector<char> names(namesSize);
  if (EfsParseSolidColumns(data + 8, (uint32_t)(size - 8), count, kColumnsContent, entries.data(), names.data(),
                           namesSize) != EFS_PARSE_OK)
    return;
  size_t used = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const EfsEntry& e = entries[i];
    FUZZ_CHECK(e.Method == EFS_METHOD_LZMA);
    FUZZ_CHECK(e.DataOffset <= kColumnsContent && e.Size <= kColumnsContent - e.DataOffset);
    FUZZ_CHECK(e.StoredSize == e.Size);
    FUZZ_CHECK(e.Name == names.data() + used);
    FUZZ_CHECK(e.NameLength >= 2 && e.NameLength <= EFS_MAX_NAME_LENGTH);
    FUZZ_CHECK(strlen(e.Name) + 1 == e.NameLength);
    if (i > 0) FUZZ_CHECK(EfsCompareNames(entries[i - 1].Name, e.Name) < 0);
    used += e.NameLength;
  }
  FUZZ_CHECK(used == namesSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ParseAsColumns(data, size);
  Reader reader(data, size);
  CEfsDirectory dir, own;
  const EfsOpenResult read = dir.Read(reader, size, EfsParseSolidRecords);
  const EfsOpenResult ownRead = own.Read(reader, size);
  if (ownRead == EFS_OPEN_NEWER_VERSION && own.Version() == EFS_FORMAT_SOLID_RECORDS) {
    FUZZ_CHECK(own.Count() == 0);
  } else {
    FUZZ_CHECK(ownRead == read);
    FUZZ_CHECK(own.Count() == dir.Count());
    for (uint32_t i = 0; i < own.Count(); ++i) {
      const EfsEntry &a = own.At(i), &b = dir.At(i);
      FUZZ_CHECK(strcmp(a.Name, b.Name) == 0 && a.DataOffset == b.DataOffset && a.Size == b.Size &&
                 a.Crc == b.Crc && a.Time == b.Time && a.Method == b.Method);
    }
  }
  if (read != EFS_OPEN_OK || !dir.Solid()) return 0;
  const EfsSolidHeader& h = dir.Header();
  FUZZ_CHECK(h.DataOffset + h.StreamSize <= size);
  FUZZ_CHECK(dir.StubSize() == h.DataOffset);
  for (uint32_t i = 0; i < dir.Count(); ++i) {
    const EfsEntry& e = dir.At(i);
    FUZZ_CHECK(e.Method == EFS_METHOD_LZMA);
    FUZZ_CHECK(e.DataOffset + e.Size <= h.ContentSize);
    FUZZ_CHECK(strlen(e.Name) + 1 == e.NameLength);
    if (i > 0) FUZZ_CHECK(EfsCompareNames(dir.At(i - 1).Name, e.Name) < 0);
    FUZZ_CHECK(dir.Find(e.Name) == &e);
  }
  if (h.ContentSize > kMaxContent) return 0;
  CEfsSolidStream stream;
  stream.Attach(&reader, h.DataOffset, h.StreamSize, h.ContentSize, h.StreamProps);
  // the entries in name order: out of the stream's order, as an
  // installation may ask for them
  for (uint32_t i = 0; i < dir.Count(); ++i) {
    Collect out;
    EfsDecodeResult r = stream.Decode(dir.At(i), out);
    FUZZ_CHECK(r == EFS_DECODE_OK || r == EFS_DECODE_CORRUPT || r == EFS_DECODE_CRC_MISMATCH ||
               r == EFS_DECODE_READ_FAILED);
    if (r == EFS_DECODE_OK) FUZZ_CHECK(out.Out.size() == dir.At(i).Size);
  }
  // the whole content as one entry, against liblzma
  EfsEntry all = {};
  all.Size = h.ContentSize;
  CEfsSolidStream whole;
  whole.Attach(&reader, h.DataOffset, h.StreamSize, h.ContentSize, h.StreamProps);
  Collect ours;
  if (whole.Decode(all, ours) != EFS_DECODE_CRC_MISMATCH) return 0;  // CRC 0 was a guess
  std::vector<unsigned char> theirs;
  if (!Liblzma(h.StreamProps, data + h.DataOffset, (size_t)h.StreamSize, (size_t)h.ContentSize, &theirs)) return 0;
  FUZZ_CHECK(ours.Out == theirs);
  return 0;
}
