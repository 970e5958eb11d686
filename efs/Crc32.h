// CRC-32 (ISO 3309), the check value of every entry. Portable.
#pragma once
#include <stdint.h>

// CRC-32 continued from crc over n bytes; start with 0.
uint32_t EfsCrc32(uint32_t crc, const unsigned char* data, uint32_t n);
