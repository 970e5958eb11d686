#include "efs/Crc32.h"

// Eight tables of 256 entries: eight bytes per step, as fast as zlib's own
// CRC, but built at start-up instead of stored in the program.
static uint32_t g_Table[8][256];

static int BuildTable() {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    g_Table[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i)
    for (int t = 1; t < 8; ++t) g_Table[t][i] = (g_Table[t - 1][i] >> 8) ^ g_Table[0][g_Table[t - 1][i] & 0xFF];
  return 1;
}

// Built before main, so that threads never race to build it.
static const int g_TableBuilt = BuildTable();

uint32_t EfsCrc32(uint32_t crc, const unsigned char* data, uint32_t n) {
  (void)g_TableBuilt;
  crc = ~crc;
  while (n && ((uintptr_t)data & 3)) {
    crc = g_Table[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    --n;
  }
  while (n >= 8) {
    // little-endian loads, byte by byte: no alignment or aliasing assumptions
    uint32_t a = crc ^ ((uint32_t)data[0] | (uint32_t)data[1] << 8 | (uint32_t)data[2] << 16 |
                        (uint32_t)data[3] << 24);
    uint32_t b = (uint32_t)data[4] | (uint32_t)data[5] << 8 | (uint32_t)data[6] << 16 | (uint32_t)data[7] << 24;
    crc = g_Table[7][a & 0xFF] ^ g_Table[6][(a >> 8) & 0xFF] ^ g_Table[5][(a >> 16) & 0xFF] ^ g_Table[4][a >> 24] ^
          g_Table[3][b & 0xFF] ^ g_Table[2][(b >> 8) & 0xFF] ^ g_Table[1][(b >> 16) & 0xFF] ^ g_Table[0][b >> 24];
    data += 8;
    n -= 8;
  }
  while (n--) crc = g_Table[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
  return ~crc;
}
