// The solid LZMA container: what the builder writes, what the one
// directory reader makes of it, and the stream decoder held against liblzma
// on the same bytes, both ways.
#include <gtest/gtest.h>
#include <lzma.h>
#include <string.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "efs/EFSBuilder.h"
#include "efs/EfsDirectory.h"
#include "efs/EfsFormat.h"
#include "efs/EntryCodec.h"
#include "efs/SolidStream.h"
#include "TestFiles.h"

namespace {

class BytesReader : public IEfsFileReader {
 public:
  explicit BytesReader(const Bytes& b) : m_Bytes(b) {}
  int ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) override {
    if (offset > m_Bytes.size() || n > m_Bytes.size() - offset) return 0;
    memcpy(buffer, m_Bytes.data() + offset, n);
    return 1;
  }

 private:
  const Bytes& m_Bytes;
};

class Collect : public IEfsDecodeIo {
 public:
  Bytes Out;
  int Reports = 0;
  int CancelAt = -1;  // report number that cancels
  int Read(unsigned char*, uint32_t) override { return 0; }
  int Write(const unsigned char* b, uint32_t n) override {
    Out.append((const char*)b, n);
    return 1;
  }
  int Progress(uint64_t, uint64_t) override { return ++Reports != CancelAt; }
};

// A setup file of the sources in this order, built with LZMA.
Bytes BuildSolid(const TempDir& d, const std::vector<SetupSource>& sources, const Bytes& stub = Bytes(3000, 'S')) {
  WriteFile(d.File("stub.exe"), stub);
  BuildSetupOf(d.File("stub.exe"), d.Path, sources, d.File("setup.exe"), EFS_METHOD_LZMA);
  return ReadFile(d.File("setup.exe"));
}

// liblzma's decoding of a raw LZMA1 stream with these properties.
bool LiblzmaDecode(const unsigned char props[5], const Bytes& in, size_t outSize, Bytes* out) {
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_properties_decode(&filters[0], nullptr, props, 5) != LZMA_OK) return false;
  lzma_stream s = LZMA_STREAM_INIT;
  bool ok = lzma_raw_decoder(&s, filters) == LZMA_OK;
  free(filters[0].options);
  out->assign(outSize, '\0');
  if (ok) {
    s.next_in = (const uint8_t*)in.data();
    s.avail_in = in.size();
    s.next_out = (uint8_t*)&(*out)[0];
    s.avail_out = outSize;
    lzma_ret r = lzma_code(&s, LZMA_RUN);
    ok = (r == LZMA_OK || r == LZMA_STREAM_END) && s.avail_out == 0;
  }
  lzma_end(&s);
  return ok;
}

// liblzma's raw LZMA1 encoding at a preset, and the 5 property bytes; the
// size given, so that the stream ends without an end mark, as ours do.
Bytes LiblzmaEncode(const Bytes& in, uint32_t preset, unsigned char props[5]) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, preset);
  options.ext_flags = 0;
  options.ext_size_low = (uint32_t)in.size();
  options.ext_size_high = (uint32_t)((uint64_t)in.size() >> 32);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  EXPECT_EQ(LZMA_OK, lzma_properties_encode(&filters[0], props));
  lzma_stream s = LZMA_STREAM_INIT;
  EXPECT_EQ(LZMA_OK, lzma_raw_encoder(&s, filters));
  Bytes out(in.size() + in.size() / 2 + 1024, '\0');
  s.next_in = (const uint8_t*)in.data();
  s.avail_in = in.size();
  s.next_out = (uint8_t*)&out[0];
  s.avail_out = out.size();
  EXPECT_EQ(LZMA_STREAM_END, lzma_code(&s, LZMA_FINISH));
  out.resize(out.size() - s.avail_out);
  lzma_end(&s);
  return out;
}

const EfsSolidHeader& HeaderOf(const Bytes& file, EfsSolidHeader* h) {
  memcpy(h, file.data() + file.size() - EFS_TRAILER_SIZE - EFS_SOLID_HEADER_SIZE, EFS_SOLID_HEADER_SIZE);
  return *h;
}

TEST(SolidContainer, HoldsEveryEntryInOneStreamInTheOrderAdded) {
  TempDir d;
  const std::vector<SetupSource> sources = {
      {"b.txt", WordText(70000, 1)}, {"A.bin", RandomBytes(5000, 2)}, {"empty", ""}, {"c.txt", WordText(300, 3)}};
  Bytes file = BuildSolid(d, sources);
  EXPECT_EQ(Bytes(3000, 'S'), file.substr(0, 3000));
  EFSTRAILER t;
  EfsDecodeTrailer((const unsigned char*)file.data() + file.size() - 24, &t);
  EXPECT_EQ((uint32_t)EFS_EXTENDED_COUNT, t.Count);
  EXPECT_EQ((uint32_t)(EFS_SOLID_HEADER_SIZE + EFS_TRAILER_SIZE), t.DirectorySize);
  EXPECT_EQ(0, memcmp(t.Signature, InstallerSignature, 16));

  BytesReader reader(file);
  CEfsDirectory dir;
  ASSERT_EQ(EFS_OPEN_OK, dir.Read(reader, file.size()));
  EXPECT_TRUE(dir.Solid());
  EXPECT_EQ(3000u, dir.StubSize());
  ASSERT_EQ(4u, dir.Count());
  const char* sorted[] = {"A.bin", "b.txt", "c.txt", "empty"};
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_STREQ(sorted[i], dir.At(i).Name);
    EXPECT_EQ((uint32_t)EFS_METHOD_LZMA, dir.At(i).Method);
  }
  // the stream keeps the order of the build: b.txt first, then A.bin
  EXPECT_EQ(0u, dir.Find("B.TXT")->DataOffset);
  EXPECT_EQ(70000u, dir.Find("a.bin")->DataOffset);
  EXPECT_EQ(75000u, dir.Find("empty")->DataOffset);
  EXPECT_EQ(0u, dir.Find("empty")->Size);
  EXPECT_EQ(0u, dir.Find("empty")->Crc);
  EXPECT_EQ(75300u, dir.Header().ContentSize);
  EXPECT_EQ(75300u, dir.TotalStoredSize());
  // the dictionary is sized to the payload, not to 64 MiB
  EXPECT_EQ(96u * 1024, EfsLzmaDictionarySize(dir.Header().StreamProps));

  // liblzma reads the same stream as the content back to back
  const EfsSolidHeader& h = dir.Header();
  Bytes all;
  ASSERT_TRUE(LiblzmaDecode(h.StreamProps, file.substr(h.DataOffset, h.StreamSize), h.ContentSize, &all));
  EXPECT_TRUE(all == sources[0].Content + sources[1].Content + sources[3].Content);
}

TEST(SolidContainer, EntriesComeOutInAnyOrderAndAgain) {
  TempDir d;
  const std::vector<SetupSource> sources = {
      {"one.txt", WordText(200000, 4)}, {"two.bin", RandomBytes(40000, 5)}, {"three.txt", WordText(9000, 6)}};
  Bytes file = BuildSolid(d, sources);
  BytesReader reader(file);
  CEfsDirectory dir;
  ASSERT_EQ(EFS_OPEN_OK, dir.Read(reader, file.size()));
  const EfsSolidHeader& h = dir.Header();
  CEfsSolidStream stream;
  stream.Attach(&reader, h.DataOffset, h.StreamSize, h.ContentSize, h.StreamProps);
  // last first, then the first twice (a second copy), then the middle one
  for (int k : {2, 0, 0, 1, 2}) {
    Collect out;
    const EfsEntry* e = dir.Find(sources[k].Name.c_str());
    ASSERT_EQ(EFS_DECODE_OK, stream.Decode(*e, out)) << sources[k].Name;
    EXPECT_TRUE(out.Out == sources[k].Content) << sources[k].Name;
    EXPECT_EQ(e->DataOffset + e->Size, stream.Position());
  }
  // a cancel stops the entry; the next one still comes out whole
  Collect cancelled;
  cancelled.CancelAt = 1;
  EXPECT_EQ(EFS_DECODE_CANCELLED, stream.Decode(*dir.Find("one.txt"), cancelled));
  Collect after;
  ASSERT_EQ(EFS_DECODE_OK, stream.Decode(*dir.Find("three.txt"), after));
  EXPECT_TRUE(after.Out == sources[2].Content);
}

TEST(SolidContainer, DecodesWhatLiblzmaEncodes) {
  const Bytes inputs[] = {"", "x", WordText(1 << 20, 7), RandomBytes(300000, 8),
                          WordText(5000, 9) + RandomBytes(5000, 10)};
  for (uint32_t preset : {0u, 6u, 9u | LZMA_PRESET_EXTREME}) {
    for (const Bytes& in : inputs) {
      unsigned char props[5];
      Bytes packed = LiblzmaEncode(in, preset, props);
      BytesReader reader(packed);
      CEfsSolidStream stream;
      stream.Attach(&reader, 0, packed.size(), in.size(), props);
      EfsEntry e = {};
      e.Size = e.StoredSize = in.size();
      e.Crc = (uint32_t)crc32(0, (const Bytef*)in.data(), (uInt)in.size());
      Collect out;
      ASSERT_EQ(EFS_DECODE_OK, stream.Decode(e, out)) << "preset " << preset << ", " << in.size() << " bytes";
      EXPECT_TRUE(out.Out == in);
      // about one report per chunk of 64 KiB (a wrap of the history splits
      // one), at least one
      const size_t chunks = std::max<size_t>(1, (in.size() + 65535) / 65536);
      EXPECT_GE((size_t)out.Reports, chunks);
      EXPECT_LE((size_t)out.Reports, 2 * chunks);
    }
  }
}

TEST(SolidContainer, DamageIsToldAsDamageNeverAsGoodBytes) {
  TempDir d;
  const std::vector<SetupSource> sources = {{"a.txt", WordText(150000, 11)}, {"b.bin", RandomBytes(20000, 12)}};
  const Bytes file = BuildSolid(d, sources);
  EfsSolidHeader h;
  HeaderOf(file, &h);
  for (int k = 0; k < 20; ++k) {
    Bytes bad = file;
    const uint64_t at = h.DataOffset + 5 + (h.StreamSize - 6) * k / 19;
    bad[at] ^= (char)(1 << (k % 8));
    BytesReader reader(bad);
    CEfsDirectory dir;
    ASSERT_EQ(EFS_OPEN_OK, dir.Read(reader, bad.size()));
    CEfsSolidStream stream;
    stream.Attach(&reader, h.DataOffset, h.StreamSize, h.ContentSize, h.StreamProps);
    int damaged = 0;
    for (const SetupSource& s : sources) {
      Collect out;
      EfsDecodeResult r = stream.Decode(*dir.Find(s.Name.c_str()), out);
      if (r == EFS_DECODE_OK) EXPECT_TRUE(out.Out == s.Content) << "flip at " << at;
      else EXPECT_TRUE(r == EFS_DECODE_CORRUPT || r == EFS_DECODE_CRC_MISMATCH) << r;
      damaged += r != EFS_DECODE_OK;
    }
    EXPECT_GT(damaged, 0) << "flip at " << at << " went unnoticed";
  }
  // a stream cut short: the header no longer fits the file
  BytesReader whole(file);
  CEfsDirectory dir;
  Bytes cut = file.substr(0, h.DataOffset + h.StreamSize / 2) + file.substr(h.DataOffset + h.StreamSize);
  BytesReader shorter(cut);
  EXPECT_EQ(EFS_OPEN_DAMAGED, dir.Read(shorter, cut.size()));
  EXPECT_EQ(EFS_PARSE_BAD_HEADER, dir.Problem());
  EXPECT_EQ(0u, dir.Count());
  // the decoder told a shorter stream than the content needs
  CEfsSolidStream truncated;
  truncated.Attach(&whole, h.DataOffset, h.StreamSize / 2, h.ContentSize, h.StreamProps);
  Collect out;
  EfsEntry all = {};
  all.Size = h.ContentSize;
  EXPECT_EQ(EFS_DECODE_CORRUPT, truncated.Decode(all, out));
}

TEST(SolidContainer, DirectoryAndHeaderAreChecked) {
  TempDir d;
  const Bytes file = BuildSolid(d, {{"a.txt", WordText(1000, 13)}, {"b.txt", WordText(1000, 14)}});
  EfsSolidHeader h;
  HeaderOf(file, &h);
  const size_t header = file.size() - EFS_TRAILER_SIZE - EFS_SOLID_HEADER_SIZE;
  auto open = [](const Bytes& b, CEfsDirectory* dir) {
    BytesReader r(b);
    return dir->Read(r, b.size());
  };
  CEfsDirectory dir;
  // a flipped byte of the compressed records
  Bytes bad = file;
  bad[h.DataOffset + h.StreamSize + h.DirectoryStoredSize / 2] ^= 0x10;
  EXPECT_EQ(EFS_OPEN_DAMAGED, open(bad, &dir));
  EXPECT_EQ(EFS_PARSE_BAD_STREAM, dir.Problem());
  // a header whose own CRC fails
  bad = file;
  bad[header + 20] ^= 1;
  EXPECT_EQ(EFS_OPEN_DAMAGED, open(bad, &dir));
  EXPECT_EQ(EFS_PARSE_BAD_HEADER, dir.Problem());
  // a later format is refused by its version, whatever follows it
  bad = file;
  EfsWriteU32((unsigned char*)&bad[header], 3);
  EXPECT_EQ(EFS_OPEN_NEWER_VERSION, open(bad, &dir));
  EXPECT_EQ(3u, dir.Version());
  EXPECT_EQ(0u, dir.Count());
  // records that do not ascend, rewritten with a sound header around them
  std::vector<EfsEntry> entries(2);
  const char* names[] = {"b.txt", "a.txt"};
  Bytes records;
  for (int i = 0; i < 2; ++i) {
    EfsEntry e = {};
    e.Method = EFS_METHOD_LZMA;
    e.DataOffset = 1000u * i;
    e.Size = 1000;
    e.NameLength = 6;
    unsigned char fixed[EFS_SOLID_RECORD_FIXED_SIZE];
    EfsEncodeSolidRecord(e, fixed);
    records += Bytes((const char*)fixed, sizeof fixed) + Bytes(names[i], 6);
  }
  EXPECT_EQ(EFS_PARSE_UNSORTED, EfsParseSolidDirectory((const unsigned char*)records.data(),
                                                       (uint32_t)records.size(), 2, 2000, entries.data()));
  EXPECT_EQ(EFS_PARSE_OUTSIDE_DATA, EfsParseSolidDirectory((const unsigned char*)records.data(),
                                                           (uint32_t)records.size(), 1, 999, entries.data()));
  records[0] = EFS_METHOD_ZLIB;
  EXPECT_EQ(EFS_PARSE_BAD_METHOD, EfsParseSolidDirectory((const unsigned char*)records.data(),
                                                         (uint32_t)records.size(), 1, 2000, entries.data()));
}

// The first format stays what it was: each entry one zlib stream at level
// 6, records behind the data, the trailer; checked against zlib itself.
TEST(SolidContainer, TheZlibContainerIsByteForByteWhatItWas) {
  TempDir d;
  const Bytes stub(700, 'S');
  const Bytes text = WordText(100000, 15);
  WriteFile(d.File("stub.exe"), stub);
  WriteFile(d.File("t.txt"), text);
  CEFSBuilder b;
  b.SetStubFile(d.File("stub.exe").c_str());
  b.AddFile(d.File("t.txt").c_str(), 1);
  ASSERT_EQ(1, b.Build(d.File("setup.exe").c_str(), nullptr, InstallerSignature));
  Bytes stream(compressBound(text.size()), '\0');
  z_stream z = {};
  ASSERT_EQ(Z_OK, deflateInit2(&z, 6, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY));
  z.next_in = (Bytef*)text.data();
  z.avail_in = (uInt)text.size();
  z.next_out = (Bytef*)&stream[0];
  z.avail_out = (uInt)stream.size();
  ASSERT_EQ(Z_STREAM_END, deflate(&z, Z_FINISH));
  stream.resize(z.total_out);
  deflateEnd(&z);
  unsigned char record[24];
  EFSDIRENTRY e = {700, 1, (uint32_t)crc32(0, (const Bytef*)text.data(), (uInt)text.size()), 0, 0, 6};
  const uint64_t time = (uint64_t)(116444736000000000LL + MTimeNs(d.File("t.txt")) / 100);
  e.TimeLow = (uint32_t)time;
  e.TimeHigh = (uint32_t)(time >> 32);
  EfsEncodeDirEntry(e, record);
  EFSTRAILER t = {1, 24 + 30, {}};
  memcpy(t.Signature, InstallerSignature, 16);
  unsigned char trailer[24];
  EfsEncodeTrailer(t, trailer);
  const Bytes expected = stub + stream + Bytes((const char*)record, 24) + Bytes("t.txt", 6) +
                         Bytes((const char*)trailer, 24);
  EXPECT_TRUE(expected == ReadFile(d.File("setup.exe")));
}

}  // namespace
