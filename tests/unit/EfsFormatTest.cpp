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
  uint32_t nameLength;  // 0: name size + 1
};

Image MakeImage(uint32_t stubAndData, const std::vector<Rec>& recs) {
  Image im;
  im.file.assign(stubAndData, 0xAA);
  Bytes dir;
  for (const Rec& r : recs) {
    EFSDIRENTRY e = {r.offset, 1, 0x1234, 7, 8, r.nameLength ? r.nameLength : (uint32_t)r.name.size() + 1};
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

// Parses from a heap copy of exactly the directory, so that ASan sees any
// read past it.
EfsParseResult Parse(const Image& im, uint32_t count, uint32_t dirSize,
                     std::vector<EfsEntry>* out = nullptr) {
  uint32_t available = dirSize <= im.file.size() ? dirSize : (uint32_t)im.file.size();
  unsigned char* dir = new unsigned char[available ? available : 1];
  memcpy(dir, im.file.data() + im.file.size() - available, available);
  std::vector<EfsEntry> entries(count < 1000 ? count : 1000);
  // a size beyond the file must be refused before anything is read
  EfsParseResult r = EfsParseDirectory(dir, dirSize, count, im.file.size(),
                                       count <= entries.size() ? entries.data() : nullptr);
  if (out && r == EFS_PARSE_OK) {
    *out = entries;
    for (EfsEntry& e : *out) e.Name = nullptr;  // the buffer goes away
  }
  delete[] dir;
  return r;
}

TEST(EfsFormat, ParsesEntriesAndDerivesStoredSizes) {
  // stub 100 bytes, data 100..160: A 10 bytes, b empty (equal offsets), c 50 to D
  Image im = MakeImage(160, {{100, "A.txt", 0}, {110, "b.txt", 0}, {110, "c.txt", 0}});
  std::vector<EfsEntry> e;
  ASSERT_EQ(EFS_PARSE_OK, Parse(im, im.count, im.dirSize, &e));
  ASSERT_EQ(3u, e.size());
  EXPECT_EQ(10u, e[0].StoredSize);
  EXPECT_EQ(0u, e[1].StoredSize);
  EXPECT_EQ(50u, e[2].StoredSize);
  EXPECT_EQ(1u, e[0].Compressed);
  EXPECT_EQ(0x1234u, e[0].Crc);
  EXPECT_EQ(6u, e[0].NameLength);
  EXPECT_EQ(24u + 3 * (24 + 6), im.dirSize);

  Image empty = MakeImage(100, {});
  EXPECT_EQ(EFS_PARSE_OK, Parse(empty, 0, 24));
}

TEST(EfsFormat, RefusesDirectoriesThatDoNotHoldTogether) {
  // 45-byte records: room for a third record's count but not its bytes
  Image good = MakeImage(160, {{100, "A-long-name-here.txt", 0}, {110, "b-long-name-here.txt", 0}});
  EXPECT_EQ(EFS_PARSE_OK, Parse(good, 2, good.dirSize));
  // more records than the bytes hold
  EXPECT_EQ(EFS_PARSE_OVERRUN, Parse(good, 3, good.dirSize));
  // a count no directory of this size could hold
  EXPECT_EQ(EFS_PARSE_TOO_MANY, Parse(good, 0xFFFFFFFFu, good.dirSize));
  // the fixed part of the second record cut off
  Image cut = good;
  cut.file.erase(cut.file.end() - 24 - 30, cut.file.end() - 24);
  EXPECT_EQ(EFS_PARSE_OVERRUN, Parse(cut, 2, good.dirSize - 30));
  // sizes that cannot be
  EXPECT_EQ(EFS_PARSE_BAD_SIZE, Parse(good, 0, 23));
  EXPECT_EQ(EFS_PARSE_BAD_SIZE, Parse(good, 0, (uint32_t)good.file.size() + 1));

  EXPECT_EQ(EFS_PARSE_DESCENDING, Parse(MakeImage(160, {{110, "A", 0}, {100, "b", 0}}), 2, 24 + 2 * 26));
  EXPECT_EQ(EFS_PARSE_OUTSIDE_DATA, Parse(MakeImage(160, {{100, "A", 0}, {161, "b", 0}}), 2, 24 + 2 * 26));
  // an offset exactly at D is an empty last entry
  EXPECT_EQ(EFS_PARSE_OK, Parse(MakeImage(160, {{100, "A", 0}, {160, "b", 0}}), 2, 24 + 2 * 26));

  // a name length that runs into the trailer
  Image longName = MakeImage(160, {{100, "A.txt", 200}});
  EXPECT_EQ(EFS_PARSE_OVERRUN, Parse(longName, 1, longName.dirSize));
  // a name without its NUL at the stated end, or with one inside
  Image unterminated = MakeImage(160, {{100, "A.txt", 5}, {110, "x", 0}});
  EXPECT_EQ(EFS_PARSE_BAD_NAME, Parse(unterminated, 1, unterminated.dirSize));
  Image embedded = MakeImage(160, {{100, std::string("A\0B", 3), 0}});
  EXPECT_EQ(EFS_PARSE_BAD_NAME, Parse(embedded, 1, embedded.dirSize));
  Image nameless = MakeImage(160, {{100, "", 0}});
  EXPECT_EQ(EFS_PARSE_BAD_NAME, Parse(nameless, 1, nameless.dirSize));
}

TEST(EfsFormat, MaxEntriesBoundsTheAllocation) {
  EXPECT_EQ(0u, EfsMaxEntries(0));
  EXPECT_EQ(0u, EfsMaxEntries(24));
  EXPECT_EQ(1u, EfsMaxEntries(24 + 25));
  EXPECT_EQ((0xFFFFFFFFu - 24) / 25, EfsMaxEntries(0xFFFFFFFFu));
}

}  // namespace
