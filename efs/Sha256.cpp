#include "efs/Sha256.h"

#include <string.h>

namespace {

const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline uint32_t Rotate(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

}  // namespace

void CSha256::Reset() {
  static const uint32_t kStart[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  memcpy(m_State, kStart, sizeof m_State);
  m_Length = 0;
  m_Used = 0;
}

void CSha256::Block(const unsigned char* p) {
  uint32_t w[64];
  for (int i = 0; i < 16; ++i)
    w[i] = (uint32_t)p[4 * i] << 24 | (uint32_t)p[4 * i + 1] << 16 | (uint32_t)p[4 * i + 2] << 8 | p[4 * i + 3];
  for (int i = 16; i < 64; ++i) {
    const uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = m_State[0], b = m_State[1], c = m_State[2], d = m_State[3];
  uint32_t e = m_State[4], f = m_State[5], g = m_State[6], h = m_State[7];
  for (int i = 0; i < 64; ++i) {
    const uint32_t t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
    const uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  m_State[0] += a;
  m_State[1] += b;
  m_State[2] += c;
  m_State[3] += d;
  m_State[4] += e;
  m_State[5] += f;
  m_State[6] += g;
  m_State[7] += h;
}

void CSha256::Update(const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  m_Length += size;
  if (m_Used) {
    const size_t take = size < 64 - m_Used ? size : 64 - m_Used;
    memcpy(m_Buffer + m_Used, p, take);
    m_Used += take;
    p += take;
    size -= take;
    if (m_Used < 64) return;
    Block(m_Buffer);
    m_Used = 0;
  }
  for (; size >= 64; p += 64, size -= 64) Block(p);
  memcpy(m_Buffer, p, size);
  m_Used = size;
}

void CSha256::Final(unsigned char digest[SHA256_SIZE]) {
  const uint64_t bits = m_Length * 8;
  const unsigned char one = 0x80, zero = 0;
  Update(&one, 1);
  while (m_Used != 56) Update(&zero, 1);
  unsigned char length[8];
  for (int i = 0; i < 8; ++i) length[i] = (unsigned char)(bits >> (56 - 8 * i));
  Update(length, 8);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 4; ++j) digest[4 * i + j] = (unsigned char)(m_State[i] >> (24 - 8 * j));
  Reset();
}
