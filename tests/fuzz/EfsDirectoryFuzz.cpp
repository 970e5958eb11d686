// The container directory as it comes from the end of a setup file: input =
// 4 bytes of data-area size, then the bytes that end the file (records and
// trailer). Count and directory size come from the trailer, as the reader
// takes them; every entry of an accepted directory must lie inside it.
#include <string.h>

#include "FuzzCheck.h"
#include "efs/EfsFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 + EFS_TRAILER_SIZE || size - 4 > 0x10000000u) return 0;
  const uint32_t dataArea = EfsReadU32(data);
  const uint8_t* tail = data + 4;
  const uint32_t tailSize = static_cast<uint32_t>(size - 4);
  // offsets are 32-bit and the reader refuses larger files
  if (static_cast<uint64_t>(dataArea) + tailSize > 0xFFFFFFFFu) return 0;
  const uint64_t fileSize = static_cast<uint64_t>(dataArea) + tailSize;

  EFSTRAILER trailer;
  EfsDecodeTrailer(tail + tailSize - EFS_TRAILER_SIZE, &trailer);
  // A size beyond what the input holds would make the parser read bytes we
  // do not have; parse the whole tail instead.
  uint32_t dirSize = trailer.DirectorySize;
  if (dirSize > tailSize) dirSize = tailSize;
  // the reader checks the count before it sizes the entry array from it
  if (trailer.Count > EfsMaxEntries(dirSize)) return 0;

  unsigned char* dir = static_cast<unsigned char*>(malloc(dirSize));
  memcpy(dir, tail + tailSize - dirSize, dirSize);
  EfsEntry* entries = static_cast<EfsEntry*>(malloc(sizeof(EfsEntry) * (trailer.Count + 1)));
  const EfsParseResult result = EfsParseDirectory(dir, dirSize, trailer.Count, fileSize, entries);
  if (result == EFS_PARSE_OK) {
    const uint64_t dataEnd = fileSize - dirSize;
    uint64_t stored = 0;
    for (uint32_t i = 0; i < trailer.Count; ++i) {
      const EfsEntry& e = entries[i];
      FUZZ_CHECK(e.NameLength >= 2 && e.NameLength <= EFS_MAX_NAME_LENGTH);
      FUZZ_CHECK(e.Name >= reinterpret_cast<const char*>(dir));
      FUZZ_CHECK(e.Name + e.NameLength <= reinterpret_cast<const char*>(dir) + dirSize - EFS_TRAILER_SIZE);
      FUZZ_CHECK(strlen(e.Name) + 1 == e.NameLength);
      FUZZ_CHECK(e.Method <= EFS_METHOD_ZLIB);
      FUZZ_CHECK(static_cast<uint64_t>(e.DataOffset) + e.StoredSize <= dataEnd);
      if (i > 0) FUZZ_CHECK(e.DataOffset == entries[i - 1].DataOffset + entries[i - 1].StoredSize);
      stored += e.StoredSize;
    }
    if (trailer.Count > 0) FUZZ_CHECK(entries[0].DataOffset + stored == dataEnd);
  }
  free(entries);
  free(dir);
  return 0;
}
