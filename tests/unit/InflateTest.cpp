// The setup program's own decoder against zlib, the encoder that made every
// stream it will meet. Built natively (64-bit bit buffer, sanitizers) and
// into the Wine lanes' tests (32-bit bit buffer in the x86 lane).
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "efs/Inflate.h"

namespace {

typedef std::vector<unsigned char> Data;

Data Random(size_t n, uint32_t seed) {
  Data d(n);
  for (unsigned char& b : d) b = (unsigned char)((seed = seed * 1103515245u + 12345u) >> 16);
  return d;
}

// Text-like bytes: words from a small vocabulary, so matches of every length
// and distance occur.
Data Text(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"setup", " ", "the ", "file", "s", "\r\n", "Quillset ", "aaaaaaaaaaaaaaaa",
                                       "ab", "abcabcabc", "0123456", "\t", "registry value ", "x"};
  Data d;
  while (d.size() < n) {
    seed = seed * 1103515245u + 12345u;
    const char* w = kWords[(seed >> 16) % (sizeof kWords / sizeof kWords[0])];
    d.insert(d.end(), w, w + strlen(w));
  }
  d.resize(n);
  return d;
}

Data Deflate(const Data& in, int level, int strategy = Z_DEFAULT_STRATEGY, int windowBits = 15,
             int flushEvery = 0) {
  z_stream z;
  memset(&z, 0, sizeof z);
  EXPECT_EQ(Z_OK, deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, strategy));
  Data out(deflateBound(&z, in.size()) + 64 + (flushEvery ? in.size() / flushEvery * 16 + 16 : 0));
  z.next_out = out.data();
  z.avail_out = (uInt)out.size();
  size_t done = 0;
  do {
    size_t n = in.size() - done;
    if (flushEvery && n > (size_t)flushEvery) n = flushEvery;
    z.next_in = const_cast<unsigned char*>(in.data()) + done;
    z.avail_in = (uInt)n;
    done += n;
    const int flush = done == in.size() ? Z_FINISH : (done / flushEvery) % 2 ? Z_SYNC_FLUSH : Z_FULL_FLUSH;
    const int rc = deflate(&z, flush);
    EXPECT_TRUE(rc == Z_OK || rc == Z_STREAM_END);
  } while (done < in.size());
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Input in pieces of a chosen size; output collected, or refused on demand.
class Io : public IEfsInflateIo {
 public:
  Io(const Data& in, size_t piece) : m_In(in), m_Piece(piece) {}
  long Fill(const unsigned char** data) override {
    ++Fills;
    if (FailFillAt && Fills == FailFillAt) return -1;
    size_t n = m_In.size() - m_Done;
    if (n > m_Piece) n = m_Piece;
    // each piece in a buffer of its own, so that a read past it shows
    m_Pieces.emplace_back(m_In.begin() + m_Done, m_In.begin() + m_Done + n);
    *data = m_Pieces.back().data();
    m_Done += n;
    return (long)n;
  }
  int Flush(const unsigned char* data, uint32_t n) override {
    EXPECT_LE(n, (uint32_t)EFS_INFLATE_BUFFER_SIZE);
    if (RefuseFlush) return 0;
    Out.insert(Out.end(), data, data + n);
    return 1;
  }
  Data Out;
  int Fills = 0;
  int FailFillAt = 0;
  bool RefuseFlush = false;

 private:
  const Data& m_In;
  size_t m_Piece;
  size_t m_Done = 0;
  std::vector<Data> m_Pieces;
};

EfsInflateResult Inflate(const Data& in, Data* out, size_t piece = 32768) {
  Io io(in, piece);
  Data buffer(EFS_INFLATE_BUFFER_SIZE);
  const EfsInflateResult r = EfsInflate(io, buffer.data());
  if (out) *out = io.Out;
  return r;
}

// zlib's verdict on a whole stream: 1 decoded (into *out), 0 refused.
int ZlibInflate(const Data& in, size_t outSize, Data* out) {
  z_stream z;
  memset(&z, 0, sizeof z);
  inflateInit(&z);
  out->assign(outSize + 1, 0);
  z.next_in = const_cast<unsigned char*>(in.data());
  z.avail_in = (uInt)in.size();
  z.next_out = out->data();
  z.avail_out = (uInt)out->size();
  const int rc = inflate(&z, Z_FINISH);
  out->resize(z.total_out);
  inflateEnd(&z);
  return rc == Z_STREAM_END;
}

#define EXPECT_ROUND_TRIP(original, stream, piece)                                     \
  do {                                                                                 \
    Data decoded_;                                                                     \
    ASSERT_EQ(EFS_INFLATE_OK, Inflate(stream, &decoded_, piece)) << "piece " << piece; \
    ASSERT_EQ(original.size(), decoded_.size());                                       \
    ASSERT_TRUE(original == decoded_);                                                 \
  } while (0)

TEST(Inflate, DecodesWhatZlibMakesAtEveryLevelAndStrategy) {
  const Data text = Text(300000, 1);
  const Data random = Random(150000, 2);
  Data mixed = Text(40000, 3);
  const Data noise = Random(70000, 4);
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  mixed.insert(mixed.end(), text.begin(), text.begin() + 120000);
  for (const Data* original : {&text, &random, (const Data*)&mixed}) {
    for (int level = 0; level <= 9; level += 3) EXPECT_ROUND_TRIP((*original), Deflate(*original, level), 32768);
    for (int strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
      EXPECT_ROUND_TRIP((*original), Deflate(*original, 6, strategy), 32768);
  }
  // smaller windows, and flushes that leave empty stored blocks mid-stream
  for (int windowBits : {9, 12})
    EXPECT_ROUND_TRIP(text, Deflate(text, 9, Z_DEFAULT_STRATEGY, windowBits), 32768);
  EXPECT_ROUND_TRIP(mixed, Deflate(mixed, 6, Z_DEFAULT_STRATEGY, 15, 5000), 32768);
  EXPECT_ROUND_TRIP(mixed, Deflate(mixed, 0, Z_DEFAULT_STRATEGY, 15, 777), 32768);
}

TEST(Inflate, SizesAroundItsBuffersAndAnyInputSplit) {
  for (size_t n : {(size_t)0, (size_t)1, (size_t)257, (size_t)32767, (size_t)32768, (size_t)32769,
                   (size_t)(EFS_INFLATE_WINDOW + EFS_INFLATE_OUTPUT - 1),
                   (size_t)(EFS_INFLATE_WINDOW + EFS_INFLATE_OUTPUT),
                   (size_t)(EFS_INFLATE_WINDOW + EFS_INFLATE_OUTPUT + 1), (size_t)EFS_INFLATE_BUFFER_SIZE + 300,
                   (size_t)3 * EFS_INFLATE_OUTPUT}) {
    const Data text = Text(n, (uint32_t)n);
    const Data stream = Deflate(text, 6);
    const Data stored = Deflate(text, 0);
    for (size_t piece : {(size_t)1, (size_t)3, (size_t)7, (size_t)8, (size_t)4096, (size_t)32768}) {
      if (piece < 8 && n > 40000) continue;  // slow, and nothing more to learn
      EXPECT_ROUND_TRIP(text, stream, piece);
      EXPECT_ROUND_TRIP(text, stored, piece);
    }
  }
  // long runs: distance 1, and every period shorter than a machine word
  for (size_t period = 1; period <= 9; ++period) {
    Data runs;
    for (size_t i = 0; i < 200000; ++i) runs.push_back((unsigned char)('a' + i % period));
    EXPECT_ROUND_TRIP(runs, Deflate(runs, 9), 32768);
  }
}

TEST(Inflate, BytesAfterTheStreamAreLeftAlone) {
  const Data text = Text(5000, 9);
  Data stream = Deflate(text, 6);
  const size_t length = stream.size();
  const Data junk = Random(1000, 3);
  stream.insert(stream.end(), junk.begin(), junk.end());
  EXPECT_ROUND_TRIP(text, stream, 32768);
  EXPECT_ROUND_TRIP(text, stream, 1);
  // and the decoder stops asking once the stream has ended: at most a
  // machine word read ahead
  Io io(stream, 1);
  Data buffer(EFS_INFLATE_BUFFER_SIZE);
  ASSERT_EQ(EFS_INFLATE_OK, EfsInflate(io, buffer.data()));
  EXPECT_LE((size_t)io.Fills, length + sizeof(size_t));
}

TEST(Inflate, EveryTruncationIsRefused) {
  const Data text = Text(4000, 5);
  for (int level : {0, 1, 9}) {
    const Data stream = Deflate(text, level);
    for (size_t cut = 0; cut < stream.size(); ++cut) {
      const Data part(stream.begin(), stream.begin() + cut);
      Data out;
      ASSERT_EQ(EFS_INFLATE_BAD_STREAM, Inflate(part, &out, 32768)) << "level " << level << ", cut at " << cut;
      // what came out before the cut is a true beginning
      ASSERT_LE(out.size(), text.size());
      ASSERT_TRUE(std::equal(out.begin(), out.end(), text.begin()));
    }
  }
}

// Single-bit damage anywhere: refused exactly when zlib refuses it, and the
// same bytes when both take it.
TEST(Inflate, DamagedStreamsGetZlibsVerdict) {
  for (int level : {1, 6}) {
    const Data text = Text(3000, 11 + level);
    const Data stream = Deflate(text, level);
    for (size_t i = 0; i < stream.size(); ++i) {
      for (int bit : {0, 3, 6}) {
        Data damaged = stream;
        damaged[i] ^= (unsigned char)(1 << bit);
        Data ours, theirs;
        const EfsInflateResult r = Inflate(damaged, &ours, 32768);
        const int zlibTakes = ZlibInflate(damaged, 4 * text.size(), &theirs);
        ASSERT_NE(EFS_INFLATE_STOPPED, r);
        ASSERT_EQ(zlibTakes, r == EFS_INFLATE_OK) << "byte " << i << " bit " << bit;
        if (zlibTakes) {
          ASSERT_TRUE(ours == theirs);
        }
      }
    }
  }
}

TEST(Inflate, StopsWhenTheIoSaysSo) {
  const Data text = Text(400000, 21);
  const Data stream = Deflate(text, 6);
  Data buffer(EFS_INFLATE_BUFFER_SIZE);
  {
    Io io(stream, 4096);
    io.FailFillAt = 1;
    EXPECT_EQ(EFS_INFLATE_STOPPED, EfsInflate(io, buffer.data()));
  }
  {
    Io io(stream, 4096);
    io.FailFillAt = 5;
    EXPECT_EQ(EFS_INFLATE_STOPPED, EfsInflate(io, buffer.data()));
    EXPECT_EQ(5, io.Fills);
  }
  {
    Io io(stream, 4096);
    io.RefuseFlush = true;
    EXPECT_EQ(EFS_INFLATE_STOPPED, EfsInflate(io, buffer.data()));
  }
  {
    // a stored stream stops the same way inside its block
    const Data stored = Deflate(text, 0);
    Io io(stored, 4096);
    io.FailFillAt = 3;
    EXPECT_EQ(EFS_INFLATE_STOPPED, EfsInflate(io, buffer.data()));
  }
}

// Streams written bit by bit, for what an encoder never makes.
class Writer {
 public:
  Writer() { m_Bytes = {0x78, 0x01}; }
  void Bits(uint32_t value, unsigned n) {
    for (unsigned i = 0; i < n; ++i) {
      if (m_Bit == 0) m_Bytes.push_back(0);
      if (value >> i & 1) m_Bytes.back() |= (unsigned char)(1 << m_Bit);
      m_Bit = (m_Bit + 1) & 7;
    }
  }
  // Huffman codes go most significant bit first
  void Code(uint32_t code, unsigned n) {
    while (n--) Bits(code >> n & 1, 1);
  }
  void Align() { m_Bit = 0; }
  // The stream with the Adler-32 of what it should decode to.
  Data Finish(const Data& expected) {
    Align();
    const uint32_t check = (uint32_t)adler32(1, expected.data(), (uInt)expected.size());
    for (int shift = 24; shift >= 0; shift -= 8) m_Bytes.push_back((unsigned char)(check >> shift));
    return m_Bytes;
  }
  Data m_Bytes;

 private:
  unsigned m_Bit = 0;
};

// Canonical codes for a set of lengths, as an encoder assigns them.
std::vector<uint32_t> Canonical(const std::vector<unsigned>& lengths) {
  unsigned count[16] = {0}, next[16] = {0};
  for (unsigned l : lengths) count[l]++;
  count[0] = 0;
  uint32_t code = 0;
  for (unsigned l = 1; l < 16; ++l) next[l] = code = (code + count[l - 1]) << 1;
  std::vector<uint32_t> codes(lengths.size());
  for (size_t s = 0; s < lengths.size(); ++s)
    if (lengths[s]) codes[s] = next[lengths[s]]++;
  return codes;
}

void FixedLiteral(Writer& w, unsigned byte) {
  if (byte < 144)
    w.Code(0x30 + byte, 8);
  else
    w.Code(0x190 + byte - 144, 9);
}
void FixedSymbol(Writer& w, unsigned symbol) {  // 256 and up
  if (symbol < 280)
    w.Code(symbol - 256, 7);
  else
    w.Code(0xC0 + symbol - 280, 8);
}

Data S(const char* text) { return Data(text, text + strlen(text)); }

TEST(Inflate, FixedBlocksAndTheirForbiddenCodes) {
  {
    // 'A', then length 3 at distance 1
    Writer w;
    w.Bits(1, 1), w.Bits(1, 2);
    FixedLiteral(w, 'A');
    FixedSymbol(w, 257), w.Code(0, 5);
    FixedLiteral(w, 0xFF);
    FixedSymbol(w, 256);
    Data out;
    Data expected = S("AAAA");
    expected.push_back(0xFF);
    EXPECT_EQ(EFS_INFLATE_OK, Inflate(w.Finish(expected), &out));
    EXPECT_TRUE(out == expected);
  }
  // a distance reaching before the first byte; one reaching exactly to it
  for (unsigned distance : {2u, 3u}) {
    Writer w;
    w.Bits(1, 1), w.Bits(1, 2);
    FixedLiteral(w, 'A'), FixedLiteral(w, 'B');
    FixedSymbol(w, 257), w.Code(distance - 1, 5);
    FixedSymbol(w, 256);
    EXPECT_EQ(distance == 2 ? EFS_INFLATE_OK : EFS_INFLATE_BAD_STREAM, Inflate(w.Finish(S("ABABA")), nullptr));
  }
  // Refused at the match itself, not later by the checksum: what was
  // handed on is at most what came before it, never bytes from before the
  // output (only an address checker sees those being read).
  for (unsigned distance : {3u, 4u, 30u}) {
    Writer w;
    w.Bits(1, 1), w.Bits(1, 2);
    FixedLiteral(w, 'A'), FixedLiteral(w, 'B');
    FixedSymbol(w, 257), w.Code(distance <= 4 ? distance - 1 : 9, 5);
    if (distance > 4) w.Bits(distance - 25, 3);  // code 9: 25 to 32
    FixedSymbol(w, 256);
    const Data stream = w.Finish(S("ABABA"));
    Io io(stream, 32768);
    Data buffer(EFS_INFLATE_BUFFER_SIZE, 0x5A);
    EXPECT_EQ(EFS_INFLATE_BAD_STREAM, EfsInflate(io, buffer.data())) << distance;
    EXPECT_LE(io.Out.size(), 2u) << distance << ": bytes past the bad match were handed on";
    const Data before = S("AB");
    EXPECT_TRUE(io.Out.size() <= 2 && io.Out == Data(before.begin(), before.begin() + io.Out.size()));
  }
  for (unsigned symbol : {286u, 287u}) {
    Writer w;
    w.Bits(1, 1), w.Bits(1, 2);
    FixedLiteral(w, 'A');
    FixedSymbol(w, symbol), w.Code(0, 5);
    FixedSymbol(w, 256);
    EXPECT_EQ(EFS_INFLATE_BAD_STREAM, Inflate(w.Finish(S("AAAA")), nullptr)) << symbol;
  }
  for (unsigned distanceCode : {30u, 31u}) {
    Writer w;
    w.Bits(1, 1), w.Bits(1, 2);
    FixedLiteral(w, 'A');
    FixedSymbol(w, 257), w.Code(distanceCode, 5);
    FixedSymbol(w, 256);
    EXPECT_EQ(EFS_INFLATE_BAD_STREAM, Inflate(w.Finish(S("AAAA")), nullptr)) << distanceCode;
  }
  {
    // block type 3 does not exist
    Writer w;
    w.Bits(1, 1), w.Bits(3, 2);
    EXPECT_EQ(EFS_INFLATE_BAD_STREAM, Inflate(w.Finish(Data()), nullptr));
  }
  {
    // a wrong check value
    Writer w;
    w.Bits(1, 1), w.Bits(1, 2);
    FixedLiteral(w, 'A');
    FixedSymbol(w, 256);
    EXPECT_EQ(EFS_INFLATE_BAD_STREAM, Inflate(w.Finish(S("B")), nullptr));
  }
}

TEST(Inflate, HeadersAndStoredBlocks) {
  const Data text = S("abc");
  Data stream = Deflate(text, 0);
  EXPECT_EQ(EFS_INFLATE_OK, Inflate(stream, nullptr));
  // method 7; window 64 KiB (header check fixed up); a bad header check; a preset dictionary
  auto withHeader = [&](unsigned cmf, unsigned flg) {
    Data s = stream;
    s[0] = (unsigned char)cmf;
    s[1] = (unsigned char)(flg + (31 - (cmf << 8 | flg) % 31) % 31);
    return s;
  };
  EXPECT_EQ(EFS_INFLATE_OK, Inflate(withHeader(0x78, 0x80), nullptr));
  EXPECT_EQ(EFS_INFLATE_BAD_STREAM, Inflate(withHeader(0x77, 0x80), nullptr));
  EXPECT_EQ(EFS_INFLATE_BAD_STREAM, Inflate(withHeader(0x88, 0x80), nullptr));
  EXPECT_EQ(EFS_INFLATE_BAD_STREAM, Inflate(withHeader(0x78, 0xA0), nullptr));
  Data badCheck = stream;
  badCheck[1] ^= 1;
  EXPECT_EQ(EFS_INFLATE_BAD_STREAM, Inflate(badCheck, nullptr));
  {
    // a stored block's length must match its complement
    Writer w;
    w.Bits(1, 1), w.Bits(0, 2);
    w.Align();
    w.Bits(3, 16), w.Bits(0xFFFF ^ 4, 16);
    for (unsigned char c : text) w.Bits(c, 8);
    EXPECT_EQ(EFS_INFLATE_BAD_STREAM, Inflate(w.Finish(text), nullptr));
  }
  {
    // an empty stored block, then a fixed one
    Writer w;
    w.Bits(0, 1), w.Bits(0, 2);
    w.Align();
    w.Bits(0, 16), w.Bits(0xFFFF, 16);
    w.Bits(1, 1), w.Bits(1, 2);
    FixedLiteral(w, 'z');
    FixedSymbol(w, 256);
    Data out;
    EXPECT_EQ(EFS_INFLATE_OK, Inflate(w.Finish(S("z")), &out));
    EXPECT_TRUE(out == S("z"));
  }
}

// A dynamic block whose code-length code gives every symbol 0-18 the
// length in cl, lit/len lengths lit and distance lengths dist; the
// code-length sequence is written as given (symbol, extra bits, count).
struct DynamicBlock {
  std::vector<unsigned> cl = std::vector<unsigned>(19, 0);
  std::vector<unsigned> lit, dist;
  std::vector<std::pair<unsigned, unsigned>> sequence;  // (symbol, extra value)
  unsigned hlit = 0, hdist = 0;                         // 0: from the sizes of lit and dist

  void Header(Writer& w) const {
    static const unsigned kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    w.Bits(hlit ? hlit : (unsigned)lit.size() - 257, 5);
    w.Bits(hdist ? hdist : (unsigned)dist.size() - 1, 5);
    w.Bits(19 - 4, 4);
    for (unsigned i = 0; i < 19; ++i) w.Bits(cl[kOrder[i]], 3);
    const std::vector<uint32_t> codes = Canonical(cl);
    if (!sequence.empty()) {
      for (auto& step : sequence) {
        w.Code(codes[step.first], cl[step.first]);
        if (step.first == 16) w.Bits(step.second, 2);
        if (step.first == 17) w.Bits(step.second, 3);
        if (step.first == 18) w.Bits(step.second, 7);
      }
      return;
    }
    for (unsigned l : lit) w.Code(codes[l], cl[l]);
    for (unsigned l : dist) w.Code(codes[l], cl[l]);
  }
};

DynamicBlock Plain() {
  DynamicBlock b;
  for (unsigned s = 0; s < 16; ++s) b.cl[s] = 4;  // sixteen 4-bit codes: complete
  b.lit.assign(258, 0);
  b.dist.assign(1, 1);
  return b;
}

TEST(Inflate, DynamicCodesLongAndShort) {
  // codes of every length 1 to 15 in both tables, so that the long ones go
  // through subtables
  DynamicBlock b = Plain();
  b.lit.assign(286, 0);
  const unsigned litSymbols[16] = {'e', 't', 256, 'a', 257, 'o', 'i', 270, 'n', 's', 284, 'h', 'r', 'd', 'l', 'u'};
  for (unsigned i = 0; i < 16; ++i) b.lit[litSymbols[i]] = i < 15 ? i + 1 : 15;
  b.dist.assign(30, 0);
  for (unsigned i = 0; i < 16; ++i) b.dist[i + 14] = i < 15 ? i + 1 : 15;
  Writer w;
  w.Bits(1, 1), w.Bits(2, 2);
  b.Header(w);
  const std::vector<uint32_t> lit = Canonical(b.lit), dist = Canonical(b.dist);
  // literals first, so that the longest distances have output to reach
  Data expected;
  while (expected.size() < 30000) {
    for (unsigned s : litSymbols) {
      if (s > 255) continue;
      w.Code(lit[s], b.lit[s]);
      expected.push_back((unsigned char)s);
    }
  }
  // matches with every distance code in use: length 3 (257), length 23+ (270)
  for (unsigned i = 0; i < 16; ++i) {
    const unsigned code = i + 14;
    static const unsigned kBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,    65,    97,    129,
                                       193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    const unsigned extraBits = code < 4 ? 0 : code / 2 - 1;
    const unsigned distance = kBase[code] + (1u << extraBits) / 2;
    if (distance > expected.size()) continue;
    w.Code(lit[257], b.lit[257]);
    w.Code(dist[code], b.dist[code]);
    w.Bits((1u << extraBits) / 2, extraBits);
    for (int k = 0; k < 3; ++k) expected.push_back(expected[expected.size() - distance]);
    // symbol 270: lengths 23-26, two extra bits
    w.Code(lit[270], b.lit[270]);
    w.Bits(3, 2);
    w.Code(dist[code], b.dist[code]);
    w.Bits((1u << extraBits) / 2, extraBits);
    for (int k = 0; k < 26; ++k) expected.push_back(expected[expected.size() - distance]);
    // symbol 284: lengths 227-257, five extra bits
    w.Code(lit[284], b.lit[284]);
    w.Bits(30, 5);
    w.Code(dist[code], b.dist[code]);
    w.Bits((1u << extraBits) / 2, extraBits);
    for (int k = 0; k < 257; ++k) expected.push_back(expected[expected.size() - distance]);
  }
  w.Code(lit[256], b.lit[256]);
  Data out;
  for (size_t piece : {(size_t)1, (size_t)32768}) {
    ASSERT_EQ(EFS_INFLATE_OK, Inflate(w.Finish(expected), &out, piece));
    EXPECT_TRUE(out == expected);
  }
  Data theirs;
  EXPECT_EQ(1, ZlibInflate(w.Finish(expected), expected.size(), &theirs));
}

TEST(Inflate, DynamicHeadersNoEncoderMakes) {
  auto verdict = [](const DynamicBlock& b) {
    Writer w;
    w.Bits(1, 1), w.Bits(2, 2);
    b.Header(w);
    const std::vector<uint32_t> lit = Canonical(b.lit);
    if (b.lit.size() > 'a' && b.lit['a']) w.Code(lit['a'], b.lit['a']);
    if (b.lit.size() > 256 && b.lit[256]) w.Code(lit[256], b.lit[256]);
    const Data stream = w.Finish(b.lit.size() > 'a' && b.lit['a'] ? S("a") : Data());
    Data theirs;
    const int zlibTakes = ZlibInflate(stream, 16, &theirs);
    const EfsInflateResult r = Inflate(stream, nullptr);
    EXPECT_EQ(zlibTakes, r == EFS_INFLATE_OK);
    return r;
  };
  DynamicBlock good = Plain();
  good.lit['a'] = 1, good.lit[256] = 1;
  EXPECT_EQ(EFS_INFLATE_OK, verdict(good));
  // a lone one-bit end code is allowed; no distance codes at all too
  DynamicBlock lone = Plain();
  lone.lit[256] = 1;
  lone.dist[0] = 0;
  EXPECT_EQ(EFS_INFLATE_OK, verdict(lone));

  DynamicBlock over = good;
  over.lit['b'] = 1;
  EXPECT_EQ(EFS_INFLATE_BAD_STREAM, verdict(over));
  DynamicBlock incomplete = good;
  incomplete.lit['a'] = 2;
  EXPECT_EQ(EFS_INFLATE_BAD_STREAM, verdict(incomplete));
  DynamicBlock noEnd = Plain();
  noEnd.lit['a'] = 1, noEnd.lit['b'] = 1;
  EXPECT_EQ(EFS_INFLATE_BAD_STREAM, verdict(noEnd));
  DynamicBlock incompleteDistances = good;
  incompleteDistances.dist = {2, 2, 2};
  EXPECT_EQ(EFS_INFLATE_BAD_STREAM, verdict(incompleteDistances));
  DynamicBlock tooManyLengths = good;
  tooManyLengths.lit.resize(287, 0);
  EXPECT_EQ(EFS_INFLATE_BAD_STREAM, verdict(tooManyLengths));
  DynamicBlock tooManyDistances = good;
  tooManyDistances.dist.resize(31, 0);
  EXPECT_EQ(EFS_INFLATE_BAD_STREAM, verdict(tooManyDistances));
  DynamicBlock incompleteCl = good;
  incompleteCl.cl[15] = 0;
  EXPECT_EQ(EFS_INFLATE_BAD_STREAM, verdict(incompleteCl));

  // repeat codes: 14 codes of 4 bits and four of 5 bits in the code-length code
  DynamicBlock repeats = good;
  repeats.cl.assign(19, 0);
  for (unsigned s = 0; s < 14; ++s) repeats.cl[s] = 4;
  for (unsigned s : {15u, 16u, 17u, 18u}) repeats.cl[s] = 5;
  // 'a' (97) and 256 at 1 bit, everything else 0, one distance code of 1 bit
  // 1 + 6 + 90 zeros, 'a', 138 + 10 + 10 zeros, the end code, a zero for
  // 257, the distance code
  repeats.sequence = {{0, 0},  {16, 3}, {18, 90 - 11}, {1, 0}, {18, 138 - 11},
                      {17, 7}, {17, 7}, {1, 0},        {0, 0}, {1, 0}};
  EXPECT_EQ(EFS_INFLATE_OK, verdict(repeats));
  DynamicBlock repeatFirst = repeats;
  repeatFirst.sequence.insert(repeatFirst.sequence.begin(), {16, 0});
  EXPECT_EQ(EFS_INFLATE_BAD_STREAM, verdict(repeatFirst));
  DynamicBlock repeatPast = repeats;
  repeatPast.sequence.back() = {16, 1};  // four more where one length is left
  EXPECT_EQ(EFS_INFLATE_BAD_STREAM, verdict(repeatPast));
}

TEST(Adler32, MatchesZlib) {
  const Data random = Random(100000, 7);
  const Data ones(100000, 0xFF);  // the largest sums: the modulo must come in time
  for (const Data* d : {&random, &ones}) {
    for (size_t n : {(size_t)0, (size_t)1, (size_t)7, (size_t)5552, (size_t)5553, (size_t)100000}) {
      const uint32_t expected = (uint32_t)adler32(1, d->data(), (uInt)n);
      ASSERT_EQ(expected, EfsAdler32(1, d->data(), (uint32_t)n)) << n;
      const uint32_t half = (uint32_t)n / 3;
      ASSERT_EQ(expected, EfsAdler32(EfsAdler32(1, d->data(), half), d->data() + half, (uint32_t)(n - half)));
    }
  }
}

}  // namespace
