// The solid LZMA container: what the builder writes, what the one
// directory reader makes of it, and the stream decoder held against liblzma
// on the same bytes, both ways.
#include <gtest/gtest.h>
#include <lzma.h>
#include <stdint.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "efs/EFSBuilder.h"
#include "efs/EfsDirectory.h"
#include "efs/EfsFormat.h"
#include "efs/EntryCodec.h"
#include "efs/SolidStream.h"
#include "TestFiles.h"

namespace {

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
  WriteWholeFile(d.File("stub.exe"), stub);
  BuildSetupOf(d.File("stub.exe"), d.Path, sources, d.File("setup.exe"), EFS_METHOD_LZMA);
  return ReadWholeFile(d.File("setup.exe"));
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

  BytesFileReader reader(file);
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
  BytesFileReader reader(file);
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
      BytesFileReader reader(packed);
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

// The encoder's input in pieces of a given size, failing or cancelling
// once so much has been read.
class Pieces : public IEfsEncodeIo {
 public:
  Pieces(const Bytes& in, size_t piece) : m_In(in), m_Piece(piece) {}
  Bytes Out;
  size_t FailAt = SIZE_MAX, CancelAt = SIZE_MAX;
  long Read(unsigned char* buffer, uint32_t n) override {
    if (m_At >= FailAt) return -1;
    n = (uint32_t)std::min({(size_t)n, m_Piece, m_In.size() - m_At});
    memcpy(buffer, m_In.data() + m_At, n);
    m_At += n;
    return (long)n;
  }
  int Write(const unsigned char* b, uint32_t n) override {
    Out.append((const char*)b, n);
    return 1;
  }
  int Progress(uint32_t) override { return m_At < CancelAt; }

 private:
  const Bytes& m_In;
  size_t m_Piece, m_At = 0;
};

TEST(SolidContainer, TheMatchFinderThreadWritesTheBytesOfOneThread) {
  // a dictionary sized to a small expected total, with more input than
  // that: the window wraps and moves many times under the second thread
  const Bytes mixed = WordText(1 << 19, 11) + RandomBytes(300000, 12) + WordText(1 << 19, 11) + Bytes(200000, 'z');
  const struct {
    Bytes In;
    uint64_t Expected;
    size_t Piece;
  } cases[] = {{"", 0, 1 << 20}, {"x", 1, 1 << 20}, {Bytes(1000, 'a'), 1000, 7},
               {WordText(200000, 13), 200000, 4096}, {mixed, 64 * 1024, 65536}, {WordText(300000, 14), 300000, 1 << 30}};
  for (const auto& c : cases) {
    unsigned char one[EFS_LZMA_PROPS_SIZE], two[EFS_LZMA_PROPS_SIZE];
    Pieces a(c.In, c.Piece), b(c.In, c.Piece);
    ASSERT_EQ(EFS_ENCODE_OK, EfsLzmaEncode(a, c.Expected, one, 1));
    ASSERT_EQ(EFS_ENCODE_OK, EfsLzmaEncode(b, c.Expected, two, 2));
    EXPECT_EQ(0, memcmp(one, two, sizeof one)) << c.In.size() << " bytes";
    EXPECT_TRUE(a.Out == b.Out) << c.In.size() << " bytes: " << a.Out.size() << " against " << b.Out.size();
    Bytes back;
    EXPECT_TRUE(LiblzmaDecode(two, b.Out, c.In.size(), &back) && back == c.In) << c.In.size() << " bytes";
  }
  // a failed read and a cancel are told as such, not as a shorter stream
  for (int threads : {1, 2}) {
    unsigned char props[EFS_LZMA_PROPS_SIZE];
    Pieces failing(mixed, 65536), cancelled(mixed, 65536);
    failing.FailAt = cancelled.CancelAt = 200000;
    EXPECT_EQ(EFS_ENCODE_READ_FAILED, EfsLzmaEncode(failing, 64 * 1024, props, threads)) << threads;
    EXPECT_EQ(EFS_ENCODE_CANCELLED, EfsLzmaEncode(cancelled, 64 * 1024, props, threads)) << threads;
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
    BytesFileReader reader(bad);
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
  BytesFileReader whole(file);
  CEfsDirectory dir;
  Bytes cut = file.substr(0, h.DataOffset + h.StreamSize / 2) + file.substr(h.DataOffset + h.StreamSize);
  BytesFileReader shorter(cut);
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
    BytesFileReader r(b);
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
  EfsWriteU32((unsigned char*)&bad[header], EFS_FORMAT_NAMED_LINES + 1);
  EXPECT_EQ(EFS_OPEN_NEWER_VERSION, open(bad, &dir));
  EXPECT_EQ(EFS_FORMAT_NAMED_LINES + 1u, dir.Version());
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
  EXPECT_EQ(EFS_PARSE_UNSORTED, EfsParseSolidRecords((const unsigned char*)records.data(),
                                                       (uint32_t)records.size(), 2, 2000, entries.data()));
  EXPECT_EQ(EFS_PARSE_OUTSIDE_DATA, EfsParseSolidRecords((const unsigned char*)records.data(),
                                                           (uint32_t)records.size(), 1, 999, entries.data()));
  records[0] = EFS_METHOD_ZLIB;
  EXPECT_EQ(EFS_PARSE_BAD_METHOD, EfsParseSolidRecords((const unsigned char*)records.data(),
                                                         (uint32_t)records.size(), 1, 2000, entries.data()));
}

// The first format stays what it was: each entry one zlib stream at level
// 6, records behind the data, the trailer; checked against zlib itself.
TEST(SolidContainer, TheZlibContainerIsByteForByteWhatItWas) {
  TempDir d;
  const Bytes stub(700, 'S');
  const Bytes text = WordText(100000, 15);
  WriteWholeFile(d.File("stub.exe"), stub);
  WriteWholeFile(d.File("t.txt"), text);
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
  EXPECT_TRUE(expected == ReadWholeFile(d.File("setup.exe")));
}

// The decoded directory of a solid setup file.
Bytes DecodedDirectory(const Bytes& file) {
  EfsSolidHeader h;
  HeaderOf(file, &h);
  Bytes dir;
  EXPECT_TRUE(LiblzmaDecode(h.DirectoryProps, file.substr(h.DataOffset + h.StreamSize, h.DirectoryStoredSize),
                            h.DirectorySize, &dir));
  return dir;
}

// The file with another decoded directory behind its stream, of this
// version, count and names' size, under a header and CRCs that are sound.
Bytes WithDirectory(const Bytes& file, const Bytes& dir, uint32_t count, uint32_t version, uint32_t namesSize) {
  EfsSolidHeader h;
  HeaderOf(file, &h);
  const Bytes packed = LiblzmaEncode(dir, 6, h.DirectoryProps);
  h.Version = version;
  h.Count = count;
  h.DirectoryStoredSize = (uint32_t)packed.size();
  h.DirectorySize = (uint32_t)dir.size();
  h.DirectoryCrc = (uint32_t)crc32(0, (const Bytef*)dir.data(), (uInt)dir.size());
  EfsWriteU32(h.NamesSize, namesSize);
  unsigned char header[EFS_SOLID_HEADER_SIZE];
  EfsEncodeSolidHeader(h, header);
  return file.substr(0, h.DataOffset + h.StreamSize) + packed + Bytes((const char*)header, sizeof header) +
         file.substr(file.size() - EFS_TRAILER_SIZE);
}

// Value i of a column of byte planes.
uint64_t PlaneValue(const Bytes& dir, size_t column, uint32_t count, uint32_t i, int width) {
  uint64_t v = 0;
  for (int k = width - 1; k >= 0; --k) v = v << 8 | (unsigned char)dir[column + (size_t)k * count + i];
  return v;
}

TEST(SolidContainer, TheDirectoryIsColumnsOfStepsAndNamesSharingTheirStart) {
  TempDir d;
  // stream order setup-b, setup-a, readme, Setup-c; name order readme,
  // setup-a, setup-b, Setup-c: offsets step back and forth
  const std::vector<SetupSource> sources = {{"setup-b.txt", WordText(500, 16)}, {"setup-a.txt", WordText(300, 17)},
                                       {"readme.txt", ""}, {"Setup-c.txt", WordText(200, 18)}};
  const int64_t second = 1000000000;
  const int64_t times[] = {1700000000 * second, 1600000000 * second + 123456700, 1700000000 * second, 0};
  WriteWholeFile(d.File("stub.exe"), Bytes(3000, 'S'));
  CEFSBuilder b;
  b.SetCompression(EFS_METHOD_LZMA);
  b.SetStubFile(d.File("stub.exe").c_str());
  for (size_t i = 0; i < sources.size(); ++i) {
    WriteWholeFile(d.File(sources[i].Name), sources[i].Content);
    SetMTimeNs(d.File(sources[i].Name), times[i]);
    b.AddFile(d.File(sources[i].Name).c_str(), 1);
  }
  ASSERT_EQ(1, b.Build(d.File("setup.exe").c_str(), nullptr, InstallerSignature));
  const Bytes file = ReadWholeFile(d.File("setup.exe"));
  EfsSolidHeader h;
  HeaderOf(file, &h);
  EXPECT_EQ((uint32_t)EFS_FORMAT_SOLID, h.Version);
  const Bytes dir = DecodedDirectory(file);
  const Bytes names = Bytes("\0readme.txt\0", 12) + Bytes("\0setup-a.txt\0", 13) + Bytes("\6b.txt\0", 7) +
                      Bytes("\0Setup-c.txt\0", 13);
  ASSERT_EQ(4u * 29 + names.size(), dir.size());
  EXPECT_EQ(11u + 12 + 12 + 12, EfsReadU32(h.NamesSize));
  EXPECT_EQ(Bytes(4, (char)EFS_METHOD_LZMA), dir.substr(0, 4));
  const uint64_t sizes[] = {0, 300, 500, 200};
  // the step from the end of the entry before in name order, modulo 2^64
  const uint64_t gaps[] = {800, 500 - 800ull, 0 - 800ull, 800 - 500};
  uint64_t steps[4];
  uint64_t ft[4];
  const int order[] = {2, 1, 0, 3};
  for (int i = 0; i < 4; ++i) ft[i] = (uint64_t)(116444736000000000LL + times[order[i]] / 100);
  for (int i = 0; i < 4; ++i) steps[i] = ft[i] - (i ? ft[i - 1] : 0);
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(sizes[i], PlaneValue(dir, 4, 4, i, 8)) << i;
    EXPECT_EQ(gaps[i], PlaneValue(dir, 4 + 32, 4, i, 8)) << i;
    EXPECT_EQ(steps[i], PlaneValue(dir, 4 + 64, 4, i, 8)) << i;
    const Bytes& content = sources[order[i]].Content;
    EXPECT_EQ((uint32_t)crc32(0, (const Bytef*)content.data(), (uInt)content.size()),
              PlaneValue(dir, 4 + 96, 4, i, 4)) << i;
  }
  // planes: the second byte of the sizes, all four, after the lowest ones
  EXPECT_EQ(Bytes("\0\x2c\xf4\xc8\0\x01\x01\0", 8), dir.substr(4, 8));
  // a shared start counts bytes, not letters: Setup-c shares none with setup-b
  EXPECT_TRUE(names == dir.substr(4 * 29)) << dir.substr(4 * 29);

  BytesFileReader reader(file);
  CEfsDirectory read;
  ASSERT_EQ(EFS_OPEN_OK, read.Read(reader, file.size()));
  ASSERT_EQ(4u, read.Count());
  const char* sorted[] = {"readme.txt", "setup-a.txt", "setup-b.txt", "Setup-c.txt"};
  const uint64_t offsets[] = {800, 500, 0, 800};
  for (uint32_t i = 0; i < 4; ++i) {
    const EfsEntry& e = read.At(i);
    EXPECT_STREQ(sorted[i], e.Name);
    EXPECT_EQ(strlen(sorted[i]) + 1, e.NameLength);
    EXPECT_EQ(offsets[i], e.DataOffset) << i;
    EXPECT_EQ(sizes[i], e.Size) << i;
    EXPECT_EQ(sizes[i], e.StoredSize) << i;
    EXPECT_EQ(ft[i], e.Time) << i;
  }
  CEfsSolidStream stream;
  stream.Attach(&reader, h.DataOffset, h.StreamSize, h.ContentSize, h.StreamProps);
  for (const SetupSource& s : sources) {
    Collect out;
    ASSERT_EQ(EFS_DECODE_OK, stream.Decode(*read.Find(s.Name.c_str()), out)) << s.Name;
    EXPECT_TRUE(out.Out == s.Content) << s.Name;
  }
}

TEST(SolidContainer, ADamagedDirectoryIsToldAsDamageAndNothingPastItIsRead) {
  TempDir d;
  const Bytes file = BuildSolid(d, {{"a.txt", WordText(1000, 19)}, {"b.txt", WordText(2000, 20)}});
  const Bytes dir = DecodedDirectory(file);
  ASSERT_EQ(2u * 29 + 7 + 7, dir.size());
  const size_t names = 2 * 29, gaps = 2 + 16, sizes = 2;
  auto open = [](const Bytes& b, CEfsDirectory* into) {
    BytesFileReader r(b);
    return into->Read(r, b.size());
  };
  struct Case {
    const char* What;
    Bytes Dir;
    uint32_t Count, NamesSize;
    EfsParseResult Problem;
  };
  auto with = [&](size_t at, const Bytes& bytes) { return dir.substr(0, at) + bytes + dir.substr(at + bytes.size()); };
  const Bytes longName = Bytes(1, '\0') + Bytes(256, 'n') + Bytes(1, '\0');
  std::vector<Case> cases = {
      {"the first name shares a start with none", with(names, "\1"), 2, 12, EFS_PARSE_BAD_NAME},
      {"a name shares more than the name before has", with(names + 7, "\6"), 2, 12, EFS_PARSE_BAD_NAME},
      {"an empty name", dir.substr(0, names) + Bytes(2, '\0') + dir.substr(names + 7), 2, 8, EFS_PARSE_BAD_NAME},
      {"the last name has no NUL", dir.substr(0, dir.size() - 1), 2, 12, EFS_PARSE_OVERRUN},
      {"bytes behind the last name", dir + "x", 2, 12, EFS_PARSE_OVERRUN},
      {"fewer names than entries", dir.substr(0, names + 7), 2, 12, EFS_PARSE_OVERRUN},
      {"a name of 256 bytes", dir.substr(0, names) + longName + dir.substr(names + 7), 2, 257 + 6,
       EFS_PARSE_BAD_NAME},
      {"the names' size in the header is short", dir, 2, 11, EFS_PARSE_OVERRUN},
      {"the names' size in the header is long", dir, 2, 13, EFS_PARSE_OVERRUN},
      {"a names' size no two names can have", dir, 2, 2 * 256 + 256, EFS_PARSE_TOO_MANY},
      {"more entries than the directory can hold", dir, 3, 12, EFS_PARSE_TOO_MANY},
      {"an unknown method", with(1, "\1"), 2, 12, EFS_PARSE_BAD_METHOD},
      // every plane of the offset's step at 0xff: 2^64 - 1, past the content
      {"an offset that wraps past 2^64", dir, 2, 12, EFS_PARSE_OUTSIDE_DATA},
      {"a size of 2^64 - 1", dir, 2, 12, EFS_PARSE_OUTSIDE_DATA},
      {"names out of order", dir.substr(0, names) + Bytes("\0b.txt\0\0a.txt\0", 14), 2, 12, EFS_PARSE_UNSORTED},
      {"two names equal but for case", dir.substr(0, names) + Bytes("\0a.txt\0\0A.TXT\0", 14), 2, 12,
       EFS_PARSE_UNSORTED},
  };
  // 2^64 - 1 in the first entry's offset step, or in the second's size
  for (Case& c : cases) {
    if (strstr(c.What, "wraps")) {
      for (int k = 0; k < 8; ++k) c.Dir[gaps + 2 * k] = '\xff';
    } else if (strstr(c.What, "2^64 - 1")) {
      for (int k = 0; k < 8; ++k) c.Dir[sizes + 2 * k + 1] = '\xff';
    }
  }
  for (const Case& c : cases) {
    const Bytes bad = WithDirectory(file, c.Dir, c.Count, EFS_FORMAT_SOLID, c.NamesSize);
    CEfsDirectory read;
    EXPECT_EQ(EFS_OPEN_DAMAGED, open(bad, &read)) << c.What;
    EXPECT_EQ(c.Problem, read.Problem()) << c.What << ": " << EfsParseResultText(read.Problem());
    EXPECT_EQ(0u, read.Count()) << c.What;
  }
  // the same directory rebuilt soundly reads back, so that the cases above
  // fail only by what each changed
  CEfsDirectory sound;
  ASSERT_EQ(EFS_OPEN_OK, open(WithDirectory(file, dir, 2, EFS_FORMAT_SOLID, 12), &sound));
  EXPECT_STREQ("b.txt", sound.At(1).Name);
  EXPECT_EQ(1000u, sound.At(1).DataOffset);
  // an offset that steps back before the stream's start wraps to the top:
  // the second entry's step is -1001 after the first's end at 1000
  Bytes back = dir;
  back[gaps + 1] = (char)0x17;
  back[gaps + 3] = (char)0xfc;
  for (int k = 2; k < 8; ++k) back[gaps + 2 * k + 1] = '\xff';
  CEfsDirectory wrapped;
  EXPECT_EQ(EFS_OPEN_DAMAGED, open(WithDirectory(file, back, 2, EFS_FORMAT_SOLID, 12), &wrapped));
  EXPECT_EQ(EFS_PARSE_OUTSIDE_DATA, wrapped.Problem());
  // the parser alone refuses a count its columns cannot hold
  std::vector<EfsEntry> entries(3);
  std::vector<char> rebuilt(64);
  const Bytes short3(3 * 29 - 1, '\0');
  EXPECT_EQ(EFS_PARSE_OVERRUN, EfsParseSolidColumns((const unsigned char*)short3.data(), (uint32_t)short3.size(), 3,
                                                     3000, entries.data(), rebuilt.data(), 12));
}

// Files built before the directory took columns: the command still reads
// them, the setup program refuses them as a format it does not know.
TEST(SolidContainer, TheEarlierRecordsAreReadWhereTheirParserIsGiven) {
  TempDir d;
  const std::vector<SetupSource> sources = {{"b.txt", WordText(4000, 21)}, {"a.txt", WordText(3000, 22)}};
  const Bytes file = BuildSolid(d, sources);
  BytesFileReader reader(file);
  CEfsDirectory now;
  ASSERT_EQ(EFS_OPEN_OK, now.Read(reader, file.size()));
  const Bytes records = SolidRecordsOf(now);
  const Bytes earlier = WithDirectory(file, records, now.Count(), EFS_FORMAT_SOLID_RECORDS, 0);
  BytesFileReader earlierReader(earlier);
  CEfsDirectory refused;
  EXPECT_EQ(EFS_OPEN_NEWER_VERSION, refused.Read(earlierReader, earlier.size()));
  EXPECT_EQ((uint32_t)EFS_FORMAT_SOLID_RECORDS, refused.Version());
  EXPECT_EQ(0u, refused.Count());
  CEfsDirectory read;
  ASSERT_EQ(EFS_OPEN_OK, read.Read(earlierReader, earlier.size(), EfsParseSolidRecords));
  EXPECT_TRUE(read.Solid());
  EXPECT_EQ((uint32_t)EFS_FORMAT_SOLID_RECORDS, read.Version());
  ASSERT_EQ(2u, read.Count());
  for (uint32_t i = 0; i < 2; ++i) {
    EXPECT_STREQ(now.At(i).Name, read.At(i).Name);
    EXPECT_EQ(now.At(i).DataOffset, read.At(i).DataOffset);
    EXPECT_EQ(now.At(i).Size, read.At(i).Size);
    EXPECT_EQ(now.At(i).Crc, read.At(i).Crc);
    EXPECT_EQ(now.At(i).Time, read.At(i).Time);
  }
  EXPECT_EQ(now.StubSize(), read.StubSize());
  EXPECT_EQ(now.TotalStoredSize(), read.TotalStoredSize());
  // and a directory of columns under the earlier version is damage to it
  CEfsDirectory mixed;
  const Bytes wrong = WithDirectory(file, DecodedDirectory(file), 2, EFS_FORMAT_SOLID_RECORDS, 0);
  BytesFileReader wrongReader(wrong);
  EXPECT_EQ(EFS_OPEN_DAMAGED, mixed.Read(wrongReader, wrong.size(), EfsParseSolidRecords));
}

}  // namespace
