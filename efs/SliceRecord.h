// The record that binds a split setup's slices to its first slice. It lies
// behind the setup program in the first slice, before any certificate
// table, so a signature covers it:
//   u32 count, count SHA-256 digests (slice 1 first), u32 record size,
//   SliceSignature (16 bytes)
// all little-endian. The joined installer is the program without it.
// Portable.
#pragma once
#include <stdint.h>

#include "efs/Sha256.h"

enum {
  SLICE_RECORD_FIXED_SIZE = 24,  // count, size and signature
  SLICE_RECORD_TAIL_SIZE = 20,   // size and signature
  SLICE_RECORD_MAX_SLICES = 9999,
};

extern const unsigned char SliceSignature[16];

uint32_t SliceRecordSize(uint32_t count);
// Writes the record for count digests (count * SHA256_SIZE bytes, slice 1
// first) to out, which holds SliceRecordSize(count) bytes.
void WriteSliceRecord(unsigned char* out, uint32_t count, const unsigned char* digests);
// The size of the record whose last SLICE_RECORD_TAIL_SIZE bytes are tail,
// when at most available bytes lie before its end; 0 when none ends there.
uint32_t SliceRecordSizeAt(const unsigned char* tail, uint64_t available);
// The slice count of a record of size bytes; 0 when it is no record.
uint32_t SliceRecordCount(const unsigned char* record, uint32_t size);
// Digest of slice n (1-based) in a checked record.
const unsigned char* SliceRecordDigest(const unsigned char* record, uint32_t n);
