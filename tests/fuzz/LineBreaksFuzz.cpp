// The "|" rule of translated texts over any bytes: input = one byte that
// picks the code page (bit 0: 932), then the text. Only "|" at a character
// boundary may change, and only into a line feed.
#include <string.h>

#include "FuzzCheck.h"
#include "common/LineBreaks.h"
#include "common/Mbcs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  MbcsSetCodePage((data[0] & 1) ? 932 : 0);
  const size_t length = size - 1;
  char* before = static_cast<char*>(malloc(length + 1));
  char* text = static_cast<char*>(malloc(length + 1));
  memcpy(before, data + 1, length);
  before[length] = '\0';
  memcpy(text, before, length + 1);

  ReplaceLineBreaks(text);
  const size_t stringLength = strlen(before);
  // nothing after the terminator is touched
  FUZZ_CHECK(memcmp(text + stringLength, before + stringLength, length + 1 - stringLength) == 0);
  for (size_t i = 0; i < stringLength; ++i)
    FUZZ_CHECK(text[i] == before[i] || (before[i] == '|' && text[i] == '\n'));
  // Lead bytes are at least 0x81, so line feeds keep the character
  // boundaries: no "|" may be left at one, and each trail byte stays.
  for (const char* p = text; *p; p = MbcsNext(p)) {
    FUZZ_CHECK(*p != '|');
    if (MbcsNext(p) == p + 2) FUZZ_CHECK(p[1] == before[p + 1 - text]);
  }
  MbcsSetCodePage(0);
  free(text);
  free(before);
  return 0;
}
