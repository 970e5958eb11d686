// SHA-256 against the standard test vectors, and the slice record behind a
// first slice: found signed or not, and refused when it does not add up.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "../FakeSignature.h"
#include "efs/EfsFormat.h"
#include "efs/SetupLayout.h"
#include "efs/Sha256.h"
#include "efs/SliceRecord.h"
#include "LayoutReader.h"

namespace {

std::string Hex(const unsigned char* d, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[d[i] >> 4];
    s += digits[d[i] & 15];
  }
  return s;
}

std::string Sha(const std::string& text, size_t piece = 0) {
  CSha256 h;
  if (!piece) piece = text.size() ? text.size() : 1;
  for (size_t at = 0; at < text.size(); at += piece) h.Update(text.data() + at, std::min(piece, text.size() - at));
  unsigned char d[SHA256_SIZE];
  h.Final(d);
  return Hex(d, sizeof d);
}

TEST(Sha256, MatchesTheStandardVectorsInAnyPieces) {
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", Sha(""));
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", Sha("abc"));
  const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  for (size_t piece : {0, 1, 7, 55, 56, 63, 64})
    EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1", Sha(two, piece)) << piece;
  EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
            Sha(std::string(1000000, 'a'), 4096));
  // lengths around a block's end, where the padding spills into a second
  EXPECT_EQ("9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318", Sha(std::string(55, 'a')));
  EXPECT_EQ("b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a", Sha(std::string(56, 'a')));
  EXPECT_EQ("ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb", Sha(std::string(64, 'a')));
}

std::string Record(uint32_t count, unsigned char fill = 0x11) {
  std::string digests(count * SHA256_SIZE, (char)fill);
  std::string r(SliceRecordSize(count), '\0');
  WriteSliceRecord(reinterpret_cast<unsigned char*>(&r[0]), count,
                   reinterpret_cast<const unsigned char*>(digests.data()));
  return r;
}

TEST(SliceRecord, AFirstSliceIsTheProgramAndItsRecordSignedOrNot) {
  const std::string program = MinimalProgram(0x5FE);  // signing pads it
  for (uint32_t count : {1u, 3u, 999u}) {
    SCOPED_TRACE(count);
    const std::string first = program + Record(count);
    SetupLayout l = Layout(first);
    EXPECT_EQ(SliceRecordSize(count), l.SliceRecordSize);
    EXPECT_EQ(first.size(), l.End);
    EXPECT_EQ(program.size(), l.End - l.SliceRecordSize);
    EXPECT_EQ(FILEKIND_NONE, SetupKindOf(l));

    std::string signedFirst = first;
    ASSERT_TRUE(AppendFakeCertificate(signedFirst, 1512));
    l = Layout(signedFirst);
    EXPECT_EQ(SliceRecordSize(count), l.SliceRecordSize);
    EXPECT_EQ(first.size(), l.End) << "the padding before the table is no part of it";
    EXPECT_EQ(FILEKIND_NONE, SetupKindOf(l));

    const std::string record = first.substr(program.size());
    EXPECT_EQ(count, SliceRecordCount(reinterpret_cast<const unsigned char*>(record.data()), (uint32_t)record.size()));
  }
}

// Slice n's digest is the nth written, whatever the count: a digest of the
// slice beside it would refuse every sound set.
TEST(SliceRecord, EachSliceHasItsOwnDigest) {
  for (uint32_t count : {7u, 2u, 256u, 1u}) {
    std::string digests;
    for (uint32_t i = 0; i < count; ++i) digests += Sha(std::to_string(i + 1)).substr(0, SHA256_SIZE);
    std::string r(SliceRecordSize(count), '\0');
    unsigned char* record = reinterpret_cast<unsigned char*>(&r[0]);
    WriteSliceRecord(record, count, reinterpret_cast<const unsigned char*>(digests.data()));
    ASSERT_EQ(count, SliceRecordCount(record, (uint32_t)r.size()));
    for (uint32_t n = 1; n <= count; ++n)
      EXPECT_EQ(digests.substr((n - 1) * SHA256_SIZE, SHA256_SIZE),
                std::string(reinterpret_cast<const char*>(SliceRecordDigest(record, n)), SHA256_SIZE))
          << "slice " << n << " of " << count;
  }
}

TEST(SliceRecord, ARecordThatDoesNotAddUpIsDamage) {
  const std::string program = MinimalProgram();
  std::string wrongCount = program + Record(3);
  EfsWriteU32(reinterpret_cast<unsigned char*>(&wrongCount[program.size()]), 4);
  std::string wrongSize = program + Record(3);
  EfsWriteU32(reinterpret_cast<unsigned char*>(&wrongSize[wrongSize.size() - 20]), SliceRecordSize(3) + 1);
  std::string cut = program + Record(3).substr(1);  // a byte of it lost
  std::string extra = program + "x" + Record(3);    // a byte before it
  for (const std::string* file : {&wrongCount, &wrongSize, &cut, &extra}) {
    SetupLayout l = Layout(*file);
    EXPECT_EQ(FILEKIND_DAMAGED, SetupKindOf(l)) << file - &wrongCount;
  }
  const std::string record = Record(2);
  std::string bad = record;
  EfsWriteU32(reinterpret_cast<unsigned char*>(&bad[0]), 0);
  EXPECT_EQ(0u, SliceRecordCount(reinterpret_cast<const unsigned char*>(bad.data()), (uint32_t)bad.size()));
  EXPECT_EQ(0u, SliceRecordCount(reinterpret_cast<const unsigned char*>(record.data()), (uint32_t)record.size() - 1));
}

}  // namespace
