// An uninstall log of any bytes, read as the replay reads it: input = one
// byte that picks the code page (bit 0: 932), then the log. Every line
// handed out lies inside the text, and every field of a record inside its
// line.
#include <string.h>

#include <initializer_list>

#include "FuzzCheck.h"
#include "common/Mbcs.h"
#include "uninstall/LogLines.h"

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
