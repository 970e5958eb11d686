#include "efs/SliceRecord.h"

#include <string.h>

#include "efs/EfsFormat.h"

// Four little-endian words; the first three as in the other signatures.
const unsigned char SliceSignature[16] = {0xDB, 0x72, 0xBC, 0x80, 0x3B, 0x25, 0x62, 0xBB,
                                          0xD2, 0x81, 0x4E, 0xBD, 0xA7, 0xE5, 0xC3, 0x51};

uint32_t SliceRecordSize(uint32_t count) { return SLICE_RECORD_FIXED_SIZE + count * SHA256_SIZE; }

void WriteSliceRecord(unsigned char* out, uint32_t count, const unsigned char* digests) {
  EfsWriteU32(out, count);
  memcpy(out + 4, digests, (size_t)count * SHA256_SIZE);
  unsigned char* tail = out + 4 + (size_t)count * SHA256_SIZE;
  EfsWriteU32(tail, SliceRecordSize(count));
  memcpy(tail + 4, SliceSignature, sizeof SliceSignature);
}

uint32_t SliceRecordSizeAt(const unsigned char* tail, uint64_t available) {
  if (memcmp(tail + 4, SliceSignature, sizeof SliceSignature) != 0) return 0;
  const uint32_t size = EfsReadU32(tail);
  if (size < SliceRecordSize(1) || size > SliceRecordSize(SLICE_RECORD_MAX_SLICES) || size > available ||
      (size - SLICE_RECORD_FIXED_SIZE) % SHA256_SIZE != 0)
    return 0;
  return size;
}

uint32_t SliceRecordCount(const unsigned char* record, uint32_t size) {
  if (size < SLICE_RECORD_FIXED_SIZE) return 0;
  const uint32_t count = EfsReadU32(record);
  if (count < 1 || count > SLICE_RECORD_MAX_SLICES || SliceRecordSize(count) != size) return 0;
  const unsigned char* tail = record + size - SLICE_RECORD_TAIL_SIZE;
  return SliceRecordSizeAt(tail, size) == size ? count : 0;
}

const unsigned char* SliceRecordDigest(const unsigned char* record, uint32_t n) {
  return record + 4 + (size_t)(n - 1) * SHA256_SIZE;
}
