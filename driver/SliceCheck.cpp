#include "driver/SliceCheck.h"

#include <stdlib.h>
#include <string.h>

#include "efs/SliceRecord.h"

const char kDamagedSetupText[] = "The installation file is damaged or incomplete. Please obtain it again.";

unsigned char* ReadSliceRecordOf(HANDLE file, const SetupLayout& layout, uint32_t* count) {
  *count = 0;
  if (!layout.SliceRecordSize || layout.End < layout.SliceRecordSize) return NULL;
  unsigned char* record = static_cast<unsigned char*>(malloc(layout.SliceRecordSize));
  if (!record) return NULL;
  LARGE_INTEGER at;
  at.QuadPart = (LONGLONG)(layout.End - layout.SliceRecordSize);
  DWORD got = 0;
  if (SetFilePointerEx(file, at, NULL, FILE_BEGIN) && ReadFile(file, record, layout.SliceRecordSize, &got, NULL) &&
      got == layout.SliceRecordSize)
    *count = SliceRecordCount(record, layout.SliceRecordSize);
  if (!*count) {
    free(record);
    return NULL;
  }
  return record;
}

int SliceFileMatches(const char* path, const unsigned char* digest) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (file == INVALID_HANDLE_VALUE) return -1;
  enum { kChunk = 65536 };
  unsigned char* buffer = static_cast<unsigned char*>(malloc(kChunk));
  CSha256 hash;
  DWORD got = 0;
  int ok = buffer != NULL;
  while (ok && (ok = ReadFile(file, buffer, kChunk, &got, NULL)) && got) hash.Update(buffer, got);
  CloseHandle(file);
  free(buffer);
  if (!ok) return -1;
  unsigned char mine[SHA256_SIZE];
  hash.Final(mine);
  return memcmp(mine, digest, SHA256_SIZE) == 0;
}
