#include "efs/Inflate.h"

#include <stddef.h>
#include <string.h>

// Little-endian hosts only (x86, x64): input is loaded a machine word at a
// time, first byte lowest, as deflate numbers its bits.
namespace {

// The setup program is built for size; the decoding loop is worth its speed.
#define HOT inline __attribute__((always_inline))

typedef size_t BitBuf;  // 32 bits in the x86 program, 64 in x64
const unsigned kBufBits = sizeof(BitBuf) * 8;

// A table entry: bits 0-7 the stream bits it takes, 8-11 the extra bits
// that follow the code, 12-15 the kind, 16-31 the value.
enum : uint32_t {
  KIND_LITERAL = 1u << 12,
  KIND_END = 2u << 12,
  KIND_SUB = 4u << 12,  // value: where its subtable starts; extra: the subtable's index bits
  KIND_INVALID = 8u << 12,
  // none of these: a length base, a distance base, or a code-length symbol
};

inline uint32_t Entry(uint32_t value, uint32_t extra, uint32_t kind) {
  return value << 16 | extra << 8 | kind;
}
inline unsigned ExtraOf(uint32_t e) { return (e >> 8) & 15; }

// Root index bits and room per table. A subtable of 2^s entries needs s+1
// codes of its own in a complete code, so 286 literal/length codes fill at
// most 286/6 subtables of 32 entries, 30 distance codes 30/8 of 128.
enum {
  MAX_BITS = 15,
  LIT_ROOT = 10,
  LIT_CAPACITY = 1024 + 48 * 32,
  DIST_ROOT = 8,
  DIST_CAPACITY = 256 + 4 * 128,
  CODELEN_ROOT = 7,  // code-length codes are at most 7 bits: no subtables
  CODELEN_CAPACITY = 128,
  FLUSH_AT = EFS_INFLATE_WINDOW + EFS_INFLATE_OUTPUT,
};

enum TableKind { LITLEN, DIST, CODELEN };

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,    65,    97,    129,
                                193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

uint32_t SymbolEntry(TableKind kind, unsigned s) {
  if (kind == CODELEN) return Entry(s, 0, 0);
  if (kind == DIST) return s < 30 ? Entry(kDistBase[s], kDistExtra[s], 0) : KIND_INVALID;
  if (s < 256) return Entry(s, 0, KIND_LITERAL);
  if (s == 256) return KIND_END;
  s -= 257;
  return s < 29 ? Entry(kLengthBase[s], kLengthExtra[s], 0) : KIND_INVALID;
}

unsigned Reverse(unsigned code, unsigned n) {
  unsigned r = 0;
  while (n--) {
    r = r << 1 | (code & 1);
    code >>= 1;
  }
  return r;
}

// Fills a decoding table from n code lengths. 0 for a set no encoder makes:
// over-subscribed, or incomplete other than a lone one-bit code (literal or
// distance). No codes at all is a table that refuses every lookup.
int BuildTable(uint32_t* table, unsigned root, unsigned capacity, TableKind kind, const uint8_t* lengths,
               unsigned n) {
  unsigned count[MAX_BITS + 1] = {0};
  for (unsigned s = 0; s < n; ++s) count[lengths[s]]++;
  count[0] = 0;
  int left = 1;
  unsigned longest = 0;
  for (unsigned len = 1; len <= MAX_BITS; ++len) {
    left = (left << 1) - (int)count[len];
    if (left < 0) return 0;
    if (count[len]) longest = len;
  }
  const unsigned size = 1u << root;
  for (unsigned i = 0; i < size; ++i) table[i] = KIND_INVALID;
  if (!longest) return 1;
  if (left > 0 && (kind == CODELEN || longest != 1)) return 0;

  // canonical codes, most significant bit first
  unsigned next[MAX_BITS + 1];
  unsigned code = 0;
  for (unsigned len = 1; len <= MAX_BITS; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  uint16_t codes[288];
  for (unsigned s = 0; s < n; ++s)
    if (lengths[s]) codes[s] = (uint16_t)next[lengths[s]]++;

  // A root entry shared by longer codes leads to a subtable sized for the
  // longest of them.
  for (unsigned s = 0; s < n; ++s) {
    const unsigned len = lengths[s];
    if (len <= root) continue;
    uint32_t& e = table[Reverse(codes[s] >> (len - root), root)];
    if (!(e & KIND_SUB) || ExtraOf(e) < len - root) e = Entry(0, len - root, KIND_SUB) | root;
  }
  unsigned used = size;
  for (unsigned i = 0; i < size; ++i) {
    if (!(table[i] & KIND_SUB)) continue;
    const unsigned entries = 1u << ExtraOf(table[i]);
    if (used + entries > capacity) return 0;
    table[i] = Entry(used, ExtraOf(table[i]), KIND_SUB) | root;
    for (unsigned j = 0; j < entries; ++j) table[used + j] = KIND_INVALID;
    used += entries;
  }

  for (unsigned s = 0; s < n; ++s) {
    const unsigned len = lengths[s];
    if (!len) continue;
    const uint32_t e = SymbolEntry(kind, s);
    if (len <= root) {
      for (unsigned i = Reverse(codes[s], len); i < size; i += 1u << len) table[i] = e | len;
      continue;
    }
    const uint32_t sub = table[Reverse(codes[s] >> (len - root), root)];
    const unsigned low = len - root;
    uint32_t* subtable = table + (sub >> 16);
    for (unsigned i = Reverse(codes[s] & ((1u << low) - 1), low); i < 1u << ExtraOf(sub); i += 1u << low)
      subtable[i] = e | low;
  }
  return 1;
}

// The bit reader. Bits in buf above count are either zero or the very bits
// of the bytes at in, loaded ahead: the next load ORs the same bits there.
struct Bits {
  BitBuf buf;
  unsigned count;
  const unsigned char* in;
  const unsigned char* end;
};

struct Decoder {
  IEfsInflateIo* io;
  Bits b;
  unsigned padding;  // zero bits put in after the input ended
  int ended;
  int stopped;  // the io stopped it
  unsigned char* out;
  uint32_t pos;      // next output byte
  uint32_t written;  // output before this has been handed on
  uint32_t adler;
  uint32_t lit[LIT_CAPACITY];
  uint32_t dist[DIST_CAPACITY];
};

// Byte at a time, asking the io for more input. Past the input's end it
// feeds zeros, so that a lookup may peek beyond the last code; once a zero
// has been used, the stream was truncated.
__attribute__((noinline)) int RefillSlow(Decoder& d) {
  Bits& b = d.b;
  while (b.count <= kBufBits - 8) {
    if (b.in == b.end && !d.ended) {
      const unsigned char* data = NULL;
      const long n = d.io->Fill(&data);
      if (n < 0) {
        d.stopped = 1;
        return 0;
      }
      if (n > 0) {
        b.in = data;
        b.end = data + n;
      } else {
        d.ended = 1;
      }
    }
    if (b.in != b.end) {
      b.buf |= (BitBuf)*b.in++ << b.count;
    } else {
      if (b.count < d.padding) return 0;
      d.padding += 8;
    }
    b.count += 8;
  }
  return 1;
}

// Leaves at least kBufBits - 8 bits in hand: enough for any code and its
// extra bits but a distance's, on x86.
HOT int Refill(Bits& b, Decoder& d) {
  if ((size_t)(b.end - b.in) >= sizeof(BitBuf)) {
    BitBuf word;
    memcpy(&word, b.in, sizeof word);
    b.buf |= word << b.count;
    b.in += (kBufBits - 1 - b.count) >> 3;
    b.count |= kBufBits - 8;
    return 1;
  }
  d.b = b;
  const int ok = RefillSlow(d);
  b = d.b;
  return ok;
}

HOT unsigned Take(Bits& b, unsigned n) {
  const unsigned v = (unsigned)(b.buf & (((BitBuf)1 << n) - 1));
  b.buf >>= n;
  b.count -= n;
  return v;
}

HOT uint32_t Decode(Bits& b, const uint32_t* table, unsigned root) {
  uint32_t e = table[b.buf & ((1u << root) - 1)];
  if (e & KIND_SUB) {
    Take(b, root);
    e = table[(e >> 16) + (b.buf & ((1u << ExtraOf(e)) - 1))];
  }
  Take(b, e & 0xFF);
  return e;
}

// Hands the new output on and keeps the last window of it for matches.
__attribute__((noinline)) int FlushOut(Decoder& d) {
  const uint32_t n = d.pos - d.written;
  if (n) {
    d.adler = EfsAdler32(d.adler, d.out + d.written, n);
    if (!d.io->Flush(d.out + d.written, n)) {
      d.stopped = 1;
      return 0;
    }
  }
  if (d.pos > EFS_INFLATE_WINDOW) {
    memmove(d.out, d.out + d.pos - EFS_INFLATE_WINDOW, EFS_INFLATE_WINDOW);
    d.pos = EFS_INFLATE_WINDOW;
  }
  d.written = d.pos;
  return 1;
}

HOT void CopyMatch(unsigned char* to, unsigned distance, unsigned length) {
  const unsigned char* from = to - distance;
  if (distance >= 8) {
    // whole words; the last may run up to 7 bytes past the match, into
    // room the buffer keeps and later output overwrites
    unsigned char* const end = to + length;
    do {
      memcpy(to, from, 8);
      to += 8;
      from += 8;
    } while (to < end);
  } else if (distance == 1) {
    memset(to, *from, length);
  } else {
    while (length--) *to++ = *from++;
  }
}

// One block's codes, up to its end-of-block code.
int Codes(Decoder& d) {
  Bits b = d.b;
  unsigned char* const out = d.out;
  uint32_t pos = d.pos;
  for (;;) {
    if (!Refill(b, d)) return 0;
    uint32_t e = Decode(b, d.lit, LIT_ROOT);
    if (!(e & KIND_LITERAL)) {
      if (e & KIND_END) break;
      if (e & KIND_INVALID) return 0;
      const unsigned length = (e >> 16) + Take(b, ExtraOf(e));
      if (!Refill(b, d)) return 0;
      e = Decode(b, d.dist, DIST_ROOT);
      if (e & KIND_INVALID) return 0;
      if (b.count < ExtraOf(e) && !Refill(b, d)) return 0;
      const unsigned distance = (e >> 16) + Take(b, ExtraOf(e));
      if (distance > pos) return 0;  // before the start of the output
      CopyMatch(out + pos, distance, length);
      pos += length;
    } else {
      out[pos++] = (unsigned char)(e >> 16);
    }
    if (pos >= FLUSH_AT) {
      d.b = b;
      d.pos = pos;
      if (!FlushOut(d)) return 0;
      pos = d.pos;
    }
  }
  d.b = b;
  d.pos = pos;
  return 1;
}

int Stored(Decoder& d) {
  Bits& b = d.b;
  Take(b, b.count & 7);
  if (!Refill(b, d)) return 0;
  unsigned length = Take(b, 16);
  if (!Refill(b, d)) return 0;
  if (length != (~Take(b, 16) & 0xFFFF)) return 0;
  while (length) {
    if (d.pos >= FLUSH_AT && !FlushOut(d)) return 0;
    // whole bytes still in hand come first
    if (b.count) {
      if (b.count <= d.padding) return 0;  // the input ended inside the block
      d.out[d.pos++] = (unsigned char)Take(b, 8);
      --length;
      continue;
    }
    b.buf = 0;  // bits loaded ahead are copied straight from the input below
    if (b.in == b.end) {
      if (d.ended) return 0;
      const unsigned char* data = NULL;
      const long n = d.io->Fill(&data);
      if (n < 0) d.stopped = 1;
      if (n <= 0) return 0;
      b.in = data;
      b.end = data + n;
    }
    uint32_t n = length;
    if ((size_t)(b.end - b.in) < n) n = (uint32_t)(b.end - b.in);
    if (FLUSH_AT - d.pos < n) n = FLUSH_AT - d.pos;
    memcpy(d.out + d.pos, b.in, n);
    d.pos += n;
    b.in += n;
    length -= n;
  }
  return 1;
}

int Fixed(Decoder& d) {
  uint8_t lengths[288 + 32];
  memset(lengths, 8, 144);
  memset(lengths + 144, 9, 112);
  memset(lengths + 256, 7, 24);
  memset(lengths + 280, 8, 8);
  memset(lengths + 288, 5, 32);
  return BuildTable(d.lit, LIT_ROOT, LIT_CAPACITY, LITLEN, lengths, 288) &&
         BuildTable(d.dist, DIST_ROOT, DIST_CAPACITY, DIST, lengths + 288, 32);
}

int Dynamic(Decoder& d) {
  static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  Bits& b = d.b;
  if (!Refill(b, d)) return 0;
  const unsigned nlen = Take(b, 5) + 257;
  const unsigned ndist = Take(b, 5) + 1;
  const unsigned ncode = Take(b, 4) + 4;
  if (nlen > 286 || ndist > 30) return 0;
  uint8_t lengths[286 + 30];
  memset(lengths, 0, 19);
  for (unsigned i = 0; i < ncode; ++i) {
    if (!Refill(b, d)) return 0;
    lengths[kOrder[i]] = (uint8_t)Take(b, 3);
  }
  // the distance table's room holds the code-length table meanwhile
  if (!BuildTable(d.dist, CODELEN_ROOT, CODELEN_CAPACITY, CODELEN, lengths, 19)) return 0;
  const unsigned total = nlen + ndist;
  for (unsigned i = 0; i < total;) {
    if (!Refill(b, d)) return 0;
    const uint32_t e = Decode(b, d.dist, CODELEN_ROOT);
    if (e & KIND_INVALID) return 0;
    const unsigned symbol = e >> 16;
    if (symbol < 16) {
      lengths[i++] = (uint8_t)symbol;
      continue;
    }
    uint8_t value = 0;
    unsigned repeat;
    if (symbol == 16) {
      if (i == 0) return 0;
      value = lengths[i - 1];
      repeat = 3 + Take(b, 2);
    } else if (symbol == 17) {
      repeat = 3 + Take(b, 3);
    } else {
      repeat = 11 + Take(b, 7);
    }
    if (repeat > total - i) return 0;
    while (repeat--) lengths[i++] = value;
  }
  if (!lengths[256]) return 0;  // a block must be able to end
  return BuildTable(d.lit, LIT_ROOT, LIT_CAPACITY, LITLEN, lengths, nlen) &&
         BuildTable(d.dist, DIST_ROOT, DIST_CAPACITY, DIST, lengths + nlen, ndist);
}

EfsInflateResult Run(Decoder& d) {
  Bits& b = d.b;
  if (!Refill(b, d)) return EFS_INFLATE_BAD_STREAM;
  const unsigned cmf = Take(b, 8);
  const unsigned flg = Take(b, 8);
  // deflate, a window of at most 32 KiB, a valid header check, no dictionary
  if ((cmf & 15) != 8 || (cmf >> 4) > 7 || (cmf << 8 | flg) % 31 || (flg & 0x20)) return EFS_INFLATE_BAD_STREAM;
  unsigned last;
  do {
    if (!Refill(b, d)) return EFS_INFLATE_BAD_STREAM;
    last = Take(b, 1);
    const unsigned type = Take(b, 2);
    int ok = 0;
    if (type == 0)
      ok = Stored(d);
    else if (type == 1)
      ok = Fixed(d) && Codes(d);
    else if (type == 2)
      ok = Dynamic(d) && Codes(d);
    if (!ok) return EFS_INFLATE_BAD_STREAM;
  } while (!last);
  // the check: Adler-32 of the output, most significant byte first
  Take(b, b.count & 7);
  uint32_t check = 0;
  for (int i = 0; i < 4; ++i) {
    if (!Refill(b, d)) return EFS_INFLATE_BAD_STREAM;
    check = check << 8 | Take(b, 8);
  }
  if (b.count < d.padding) return EFS_INFLATE_BAD_STREAM;
  if (!FlushOut(d)) return EFS_INFLATE_BAD_STREAM;
  return check == d.adler ? EFS_INFLATE_OK : EFS_INFLATE_BAD_STREAM;
}

}  // namespace

EfsInflateResult EfsInflate(IEfsInflateIo& io, unsigned char* buffer) {
  Decoder d;
  d.io = &io;
  d.b.buf = 0;
  d.b.count = 0;
  d.b.in = d.b.end = NULL;
  d.padding = 0;
  d.ended = 0;
  d.stopped = 0;
  d.out = buffer;
  d.pos = d.written = 0;
  d.adler = 1;
  const EfsInflateResult r = Run(d);
  return d.stopped ? EFS_INFLATE_STOPPED : r;
}

uint32_t EfsAdler32(uint32_t adler, const unsigned char* p, uint32_t n) {
  const uint32_t kBase = 65521;
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  while (n) {
    // the most bytes before b could pass 32 bits
    uint32_t chunk = n < 5552 ? n : 5552;
    n -= chunk;
    // unrolled by hand: the program is built for size, and a plain loop
    // costs a tenth of the decoder's speed
    for (; chunk >= 8; chunk -= 8, p += 8) {
      a += p[0];
      b += a;
      a += p[1];
      b += a;
      a += p[2];
      b += a;
      a += p[3];
      b += a;
      a += p[4];
      b += a;
      a += p[5];
      b += a;
      a += p[6];
      b += a;
      a += p[7];
      b += a;
    }
    for (; chunk; --chunk) {
      a += *p++;
      b += a;
    }
    a %= kBase;
    b %= kBase;
  }
  return b << 16 | a;
}
