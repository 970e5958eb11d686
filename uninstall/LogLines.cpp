#include "uninstall/LogLines.h"

#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"

namespace {

const char kCodePageTag[] = "CodePage=";

char* ValueAfter(char* line, const char* tag) {
  const size_t n = strlen(tag);
  return strncmp(line, tag, n) == 0 ? line + n : nullptr;
}

// The fields after the tag, split in place; the kind, MALFORMED, or OTHER
// for a registry record that names no key below its root (removing it
// would empty the root).
LogRecordKind SplitRecord(const LogRecordRow& row, char* value, LogRecord* record) {
  if (row.Fields == LOGFIELDS_INI) {
    char* comma1 = const_cast<char*>(MbcsFindChar(value, ','));
    char* comma2 = comma1 ? const_cast<char*>(MbcsFindChar(comma1 + 1, ',')) : nullptr;
    if (!comma2) return LOGRECORD_MALFORMED;
    *comma1 = '\0';
    *comma2 = '\0';
    record->Path = value;
    record->Section = comma1 + 1;
    record->Key = comma2 + 1;
  } else if (row.Fields == LOGFIELDS_REGISTRY) {
    char* slash = const_cast<char*>(MbcsFindChar(value, '/'));
    if (!slash) return LOGRECORD_MALFORMED;
    if (strspn(slash + 1, "/") == strlen(slash + 1)) return LOGRECORD_OTHER;
    *slash = '\0';
    record->Root = value;
    record->KeyPath = slash + 1;
  } else {
    record->Path = value;
  }
  return row.Kind;
}

}  // namespace

const char* LogRecordTag(LogRecordKind kind) {
  return kind >= 0 && kind < LOGRECORD_KIND_COUNT ? kLogRecordRows[kind].Tag : nullptr;
}

size_t FormatLogCodePageLine(unsigned codePage, char* out) {
  size_t n = sizeof kCodePageTag - 1;
  memcpy(out, kCodePageTag, n);
  char digits[12];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + codePage % 10);
    codePage /= 10;
  } while (codePage);
  while (count) out[n++] = digits[--count];
  out[n++] = '\n';
  out[n] = '\0';
  return n;
}

int IsLogCodePageLine(const char* line) {
  return strncmp(line, kCodePageTag, sizeof kCodePageTag - 1) == 0;
}

LogRecordKind ParseLogRecord(char* line, LogRecord* record) {
  memset(record, 0, sizeof *record);
  for (const LogRecordRow& row : kLogRecordRows)
    if (char* value = row.Tag ? ValueAfter(line, row.Tag) : nullptr)
      return record->Kind = SplitRecord(row, value, record);
  return record->Kind = LOGRECORD_OTHER;
}

int CLogLinesBackward::Start(char* text, size_t size) {
  m_Text = text;
  m_Done = true;
  // Line feeds are found byte by byte: 0x0A is never the trail byte of a
  // double-byte character, and a zero byte inside the log must not hide the
  // lines behind it.
  size_t end = size;
  while (end > 0 && text[end - 1] != '\n') --end;
  if (end == 0) return 0;
  m_End = end - 1;  // the final line feed ends the last line
  m_Done = false;
  return 1;
}

int CLogLinesBackward::Next(char** line, int* hasZeroByte) {
  if (m_Done) return 0;
  size_t start = m_End;
  while (start > 0 && m_Text[start - 1] != '\n') --start;
  m_Text[m_End] = '\0';
  *line = m_Text + start;
  *hasZeroByte = strlen(*line) != m_End - start;
  if (start == 0)
    m_Done = true;
  else
    m_End = start - 1;
  return 1;
}

char* CLogLinesBackward::NextFile() {
  char* line;
  int hasZeroByte;
  LogRecord record;
  while (Next(&line, &hasZeroByte))
    if (!hasZeroByte && ParseLogRecord(line, &record) == LOGRECORD_FILE) return record.Path;
  return nullptr;
}

namespace {

struct LineRef {
  const char* Start;
  size_t Length;  // without its line feed
};

size_t HashLine(const char* p, size_t n) {
  size_t h = 2166136261u;
  for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 16777619u;
  return h;
}

// Open addressing over the lines kept so far; capacity a power of two.
struct LineSet {
  LineRef* Slots = nullptr;
  size_t Capacity = 0;

  // 1 when the line was not there and is now; 0 when it was.
  int Insert(const char* p, size_t n) {
    for (size_t i = HashLine(p, n) & (Capacity - 1);; i = (i + 1) & (Capacity - 1)) {
      if (!Slots[i].Start) {
        Slots[i].Start = p;
        Slots[i].Length = n;
        return 1;
      }
      if (Slots[i].Length == n && memcmp(Slots[i].Start, p, n) == 0) return 0;
    }
  }
};

size_t CountLines(const char* text, size_t size) {
  size_t n = 0;
  for (size_t i = 0; i < size; ++i) n += text[i] == '\n';
  return n;
}

}  // namespace

char* MergeLogs(const char* earlier, size_t earlierSize, const char* current, size_t currentSize,
                size_t* size) {
  *size = 0;
  const size_t lines = CountLines(earlier, earlierSize) + CountLines(current, currentSize);
  LineSet set;
  set.Capacity = 16;
  while (set.Capacity < lines * 2) set.Capacity *= 2;
  set.Slots = static_cast<LineRef*>(calloc(set.Capacity, sizeof(LineRef)));
  char* out = static_cast<char*>(malloc(earlierSize + currentSize + 1));
  if (!set.Slots || !out) {
    free(set.Slots);
    free(out);
    return nullptr;
  }
  size_t at = 0;
  const char* texts[2] = {earlier, current};
  const size_t sizes[2] = {earlierSize, currentSize};
  for (int t = 0; t < 2; ++t) {
    const char* p = texts[t];
    const char* end = p + sizes[t];
    while (p < end) {
      const char* lf = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
      if (!lf) break;  // not a whole line
      const size_t n = static_cast<size_t>(lf - p);
      if (n && set.Insert(p, n) == 1) {
        memcpy(out + at, p, n + 1);
        at += n + 1;
      }
      p = lf + 1;
    }
  }
  free(set.Slots);
  out[at] = '\0';
  *size = at;
  return out;
}

int FindLogCodePage(const char* text) {
  for (const char* line = text; *line;) {
    if (IsLogCodePageLine(line)) {
      int value = 0;
      for (const char* p = line + sizeof kCodePageTag - 1; *p >= '0' && *p <= '9' && value < 100000; ++p)
        value = value * 10 + (*p - '0');
      return value;
    }
    const char* lf = strchr(line, '\n');
    if (!lf) break;
    line = lf + 1;
  }
  return 0;
}
