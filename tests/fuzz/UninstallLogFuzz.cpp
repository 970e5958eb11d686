// An uninstall log of any bytes, read as the replay reads it: input = one
// byte that picks the code page (bit 0: 932), then the log. Every line
// handed out lies inside the text, and every field of a record inside its
// line. The log merged with itself cut in two holds each of its whole lines
// once and nothing else.
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "FuzzCheck.h"
#include "common/Mbcs.h"
#include "uninstall/LogLines.h"

// Merges text's two halves; the result's lines are distinct, non-empty and
// each one a whole line of the input.
static void CheckMerge(const char* text, size_t length) {
  const size_t half = length / 2;
  size_t size = 0;
  char* merged = MergeLogs(text, half, text + half, length - half, &size);
  if (!merged) return;
  FUZZ_CHECK(size <= length);
  FUZZ_CHECK(size == 0 || merged[size - 1] == '\n');
  for (size_t at = 0; at < size;) {
    const char* lf = static_cast<const char*>(memchr(merged + at, '\n', size - at));
    FUZZ_CHECK(lf && lf > merged + at);
    const size_t n = static_cast<size_t>(lf - (merged + at));
    size_t copies = 0;
    for (size_t at2 = 0; at2 < size;) {
      const char* lf2 = static_cast<const char*>(memchr(merged + at2, '\n', size - at2));
      copies += static_cast<size_t>(lf2 - (merged + at2)) == n && memcmp(merged + at2, merged + at, n) == 0;
      at2 = static_cast<size_t>(lf2 - merged) + 1;
    }
    FUZZ_CHECK(copies == 1);
    at += n + 1;
  }
  free(merged);
}

static void CheckInside(const char* field, const char* begin, const char* end) {
  if (!field) return;
  FUZZ_CHECK(field >= begin && field <= end);
  FUZZ_CHECK(field + strlen(field) <= end);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  MbcsSetCodePage((data[0] & 1) ? 932 : 0);
  const size_t length = size - 1;
  char* text = static_cast<char*>(malloc(length + 1));
  memcpy(text, data + 1, length);
  text[length] = '\0';

  if (length < 4096) CheckMerge(text, length);

  CLogLinesBackward lines;
  char* line;
  int zero;
  size_t seen = 0;
  const char* previous = text + length + 1;
  if (lines.Start(text, length)) {
    while (lines.Next(&line, &zero)) {
      ++seen;
      // newest first: each line starts before the one handed out before it
      FUZZ_CHECK(line >= text && line < previous);
      previous = line;
      if (zero) continue;
      const char* end = line + strlen(line);
      FUZZ_CHECK(memchr(line, '\n', end - line) == nullptr);
      LogRecord record;
      const LogRecordKind kind = ParseLogRecord(line, &record);
      FUZZ_CHECK(kind == record.Kind);
      for (const char* field : {record.Path, record.Section, record.Key, record.Root, record.KeyPath})
        CheckInside(field, line, end);
      if (kind == LOGRECORD_INI_ENTRY) FUZZ_CHECK(record.Path && record.Section && record.Key);
      if (kind == LOGRECORD_REGISTRY) FUZZ_CHECK(record.Root && record.KeyPath);
    }
    FUZZ_CHECK(seen >= 1);
  } else {
    FUZZ_CHECK(memchr(data + 1, '\n', length) == nullptr);
  }
  MbcsSetCodePage(0);
  free(text);
  return 0;
}
