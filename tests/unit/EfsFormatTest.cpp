#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "efs/EfsFormat.h"

namespace {

typedef std::vector<unsigned char> Bytes;

TEST(EfsFormat, SignaturesAreTheFixedBytes) {
  const unsigned char inst[] = {0xDB, 0x72, 0xBC, 0x80, 0x3B, 0x25, 0x62, 0xBB,
                                0xD2, 0x81, 0x4E, 0xBD, 0x9B, 0x4C, 0xDF, 0x98};
  const unsigned char uninst[] = {0xDB, 0x72, 0xBC, 0x80, 0x3B, 0x25, 0x62, 0xBB,
                                  0xD2, 0x81, 0x4E, 0xBD, 0x17, 0xD6, 0x0F, 0xA0};
  EXPECT_EQ(0, memcmp(inst, InstallerSignature, 16));
  EXPECT_EQ(0, memcmp(uninst, UninstallerSignature, 16));
  EXPECT_EQ(0x98DF4C9Bu, EfsReadU32(InstallerSignature + 12));
  EXPECT_EQ(0xA00FD617u, EfsReadU32(UninstallerSignature + 12));
}

TEST(EfsFormat, TrailerAndRecordAreLittleEndianAtTheirOffsets) {
  EFSTRAILER t;
  t.Count = 0x01020304;
  t.DirectorySize = 0x0A0B0C0D;
  memcpy(t.Signature, InstallerSignature, 16);
  unsigned char b[24];
  EfsEncodeTrailer(t, b);
  const unsigned char head[] = {0x04, 0x03, 0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A};
  EXPECT_EQ(0, memcmp(head, b, 8));
  EXPECT_EQ(0, memcmp(InstallerSignature, b + 8, 16));
  EFSTRAILER back;
  EfsDecodeTrailer(b, &back);
  EXPECT_EQ(t.Count, back.Count);
  EXPECT_EQ(t.DirectorySize, back.DirectorySize);
  EXPECT_EQ(0, memcmp(InstallerSignature, back.Signature, 16));

  EFSDIRENTRY e = {0x11223344, 1, 0xCAFEBABE, 0x55667788, 0x01D00000, 9};
  unsigned char r[24];
  EfsEncodeDirEntry(e, r);
  const unsigned char want[] = {0x44, 0x33, 0x22, 0x11, 1, 0, 0, 0, 0xBE, 0xBA, 0xFE, 0xCA,
                                0x88, 0x77, 0x66, 0x55, 0x00, 0x00, 0xD0, 0x01, 9, 0, 0, 0};
  EXPECT_EQ(0, memcmp(want, r, 24));
}

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(EfsFormat, NameOrderFoldsOnlyAsciiLettersAndComparesUnsigned) {
  struct Case { const char* a; const char* b; int order; } cases[] = {
      {"a_b.txt", "ab.txt", -1},        // '_' (0x5F) against mapped 'b' (0x62)
      {"Z.txt", "a.txt", 1},
      {"Readme.txt", "README.TXT", 0},
      {"read", "readme", -1},           // a prefix sorts first
      {"\xC9t\xE9.txt", "\xE9t\xE9.txt", -1},  // accented letters are not folded
      {"\x80", "z", 1},                 // bytes are unsigned
      {"", "", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.order, Sign(EfsCompareNames(c.a, c.b))) << c.a << " vs " << c.b;
    EXPECT_EQ(-c.order, Sign(EfsCompareNames(c.b, c.a))) << c.b << " vs " << c.a;
  }
}

// A file image: stub, data, records, trailer. Offsets are absolute.
struct Image {
  Bytes file;
  uint32_t dirSize = 0;
  uint32_t count = 0;
};

struct Rec {
  uint32_t offset;
  std::string name;
  uint32_t nameLength = 0;  // 0: name size + 1
  uint32_t compressed = 1;
};

Image MakeImage(uint32_t stubAndData, const std::vector<Rec>& recs) {
  Image im;
  im.file.assign(stubAndData, 0xAA);
  Bytes dir;
  uint32_t n = 0;
  for (const Rec& r : recs) {
    EFSDIRENTRY e = {r.offset, r.compressed, 0x1234 + n, 7 + n, 8 + n,
                     r.nameLength ? r.nameLength : (uint32_t)r.name.size() + 1};
    ++n;
    unsigned char fixed[24];
    EfsEncodeDirEntry(e, fixed);
    dir.insert(dir.end(), fixed, fixed + 24);
    dir.insert(dir.end(), r.name.begin(), r.name.end());
    dir.push_back(0);
  }
  im.count = (uint32_t)recs.size();
  im.dirSize = (uint32_t)dir.size() + 24;
  EFSTRAILER t = {im.count, im.dirSize, {0}};
  memcpy(t.Signature, InstallerSignature, 16);
  unsigned char tb[24];
  EfsEncodeTrailer(t, tb);
  dir.insert(dir.end(), tb, tb + 24);
  im.file.insert(im.file.end(), dir.begin(), dir.end());
  return im;
}

struct Parsed {
  EfsEntry entry;
  std::string name;  // copied: the directory buffer goes away
};

// Parses from a heap copy of exactly the directory, so that ASan sees any
// read past it.
EfsParseResult Parse(const Image& im, uint32_t count, uint32_t dirSize,
                     std::vector<Parsed>* out = nullptr) {
  uint32_t available = dirSize <= im.file.size() ? dirSize : (uint32_t)im.file.size();
  unsigned char* dir = new unsigned char[available ? available : 1];
  memcpy(dir, im.file.data() + im.file.size() - available, available);
  // a count beyond what the size can hold must be refused before any entry is touched
  std::vector<EfsEntry> entries(count <= EfsMaxEntries(dirSize) ? count : 0);
  EfsParseResult r = EfsParseDirectory(dir, dirSize, count, im.file.size(),
                                       entries.empty() ? nullptr : entries.data());
  if (out && r == EFS_PARSE_OK) {
    out->clear();
    for (const EfsEntry& e : entries) out->push_back({e, std::string(e.Name)});
  }
  delete[] dir;
  return r;
}

TEST(EfsFormat, ParsesEntriesAndDerivesStoredSizes) {
  // stub 100 bytes, data 100..160: A 10 bytes, b empty (equal offsets), c 50 to D
  Image im = MakeImage(160, {{100, "A.txt"}, {110, "b.txt", 0, 0}, {110, "c.txt", 0, 7}});
  std::vector<Parsed> e;
  ASSERT_EQ(EFS_PARSE_OK, Parse(im, im.count, im.dirSize, &e));
  ASSERT_EQ(3u, e.size());
  EXPECT_EQ("A.txt", e[0].name);
  EXPECT_EQ("b.txt", e[1].name);
  EXPECT_EQ("c.txt", e[2].name);
  EXPECT_EQ(100u, e[0].entry.DataOffset);  // the stub size
  EXPECT_EQ(10u, e[0].entry.StoredSize);
  EXPECT_EQ(0u, e[1].entry.StoredSize);
  EXPECT_EQ(50u, e[2].entry.StoredSize);
  EXPECT_EQ((uint32_t)EFS_METHOD_ZLIB, e[0].entry.Method);
  EXPECT_EQ((uint32_t)EFS_METHOD_STORED, e[1].entry.Method);
  EXPECT_EQ((uint32_t)EFS_METHOD_ZLIB, e[2].entry.Method);  // any nonzero value means compressed
  EXPECT_EQ(0x1235u, e[1].entry.Crc);
  EXPECT_EQ((10ull << 32) | 9u, e[2].entry.Time);
  EXPECT_EQ(6u, e[0].entry.NameLength);
  EXPECT_EQ(24u + 3 * (24 + 6), im.dirSize);

  // the longest name there is: 255 bytes and its NUL
  Image longest = MakeImage(160, {{100, std::string(255, 'n')}});
  ASSERT_EQ(EFS_PARSE_OK, Parse(longest, 1, longest.dirSize, &e));
  EXPECT_EQ(60u, e[0].entry.StoredSize);
  EXPECT_EQ(256u, e[0].entry.NameLength);

  // no entries: the trailer alone behind the stub
  Image empty = MakeImage(100, {});
  EXPECT_EQ(EFS_PARSE_OK, Parse(empty, 0, 24));
  // an offset exactly at D is an empty last entry
  Image atEnd = MakeImage(160, {{100, "A"}, {160, "b"}});
  ASSERT_EQ(EFS_PARSE_OK, Parse(atEnd, 2, atEnd.dirSize, &e));
  EXPECT_EQ(60u, e[0].entry.StoredSize);
  EXPECT_EQ(0u, e[1].entry.StoredSize);
}

TEST(EfsFormat, RefusesDirectoriesThatDoNotHoldTogether) {
  // 45-byte records: room for a third record's count but not its bytes
  Image good = MakeImage(160, {{100, "A-long-name-here.txt"}, {110, "b-long-name-here.txt"}});
  ASSERT_EQ(EFS_PARSE_OK, Parse(good, 2, good.dirSize));
  // the second record cut to 15 bytes: its fixed part does not fit
  Image cut = good;
  cut.file.erase(cut.file.end() - 24 - 30, cut.file.end() - 24);

  const uint32_t kOwn = 0xFFFFFFFFu;
  struct Case {
    const char* what;
    Image image;
    uint32_t count;
    uint32_t dirSize;  // kOwn: the image's own
    EfsParseResult want;
  } cases[] = {
      {"more records than the bytes hold", good, 3, kOwn, EFS_PARSE_OVERRUN},
      {"a count no directory of this size holds", good, 0xFFFFFFFFu, kOwn, EFS_PARSE_TOO_MANY},
      {"a count just past the bound", good, EfsMaxEntries(good.dirSize) + 1, kOwn, EFS_PARSE_TOO_MANY},
      {"second fixed part cut off", cut, 2, good.dirSize - 30, EFS_PARSE_OVERRUN},
      {"directory smaller than the trailer", good, 0, 23, EFS_PARSE_BAD_SIZE},
      {"directory of nothing", good, 0, 0, EFS_PARSE_BAD_SIZE},
      {"directory larger than the file", good, 0, (uint32_t)good.file.size() + 1, EFS_PARSE_BAD_SIZE},
      {"offsets going down", MakeImage(160, {{110, "A"}, {100, "b"}}), 2, kOwn, EFS_PARSE_DESCENDING},
      {"offset past the data area", MakeImage(160, {{100, "A"}, {161, "b"}}), 2, kOwn,
       EFS_PARSE_OUTSIDE_DATA},
      {"first offset past the data area", MakeImage(160, {{0xFFFFFFF0u, "A"}}), 1, kOwn,
       EFS_PARSE_OUTSIDE_DATA},
      {"name length into the trailer", MakeImage(160, {{100, "A.txt", 200}}), 1, kOwn,
       EFS_PARSE_OVERRUN},
      {"name length near 4 GiB", MakeImage(160, {{100, "A.txt", 0xFFFFFFFFu}}), 1, kOwn,
       EFS_PARSE_OVERRUN},
      // the stated length ends on the last letter; the NUL lies outside it
      {"name not NUL-terminated", MakeImage(160, {{100, "A.txt", 5}, {110, "x"}}), 1, kOwn,
       EFS_PARSE_BAD_NAME},
      {"NUL inside the name", MakeImage(160, {{100, std::string("A\0B", 3)}}), 1, kOwn,
       EFS_PARSE_BAD_NAME},
      {"empty name", MakeImage(160, {{100, ""}}), 1, kOwn, EFS_PARSE_BAD_NAME},
      {"name longer than 255 bytes", MakeImage(160, {{100, std::string(256, 'n')}}), 1, kOwn,
       EFS_PARSE_BAD_NAME},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.want, Parse(c.image, c.count, c.dirSize == kOwn ? c.image.dirSize : c.dirSize)) << c.what;
}

TEST(EfsFormat, MaxEntriesBoundsTheAllocation) {
  EXPECT_EQ(0u, EfsMaxEntries(0));
  EXPECT_EQ(0u, EfsMaxEntries(24));
  EXPECT_EQ(1u, EfsMaxEntries(24 + 25));
  EXPECT_EQ((0xFFFFFFFFu - 24) / 25, EfsMaxEntries(0xFFFFFFFFu));
}

}  // namespace
