#include "uninstall/LogLines.h"

#include <string.h>

#include "common/Mbcs.h"

namespace {

char* ValueAfter(char* line, const char* tag) {
  const size_t n = strlen(tag);
  return strncmp(line, tag, n) == 0 ? line + n : nullptr;
}

}  // namespace

LogRecordKind ParseLogRecord(char* line, LogRecord* record) {
  memset(record, 0, sizeof *record);
  char* value;
  if ((value = ValueAfter(line, "FileCreated="))) {
    record->Path = value;
    return record->Kind = LOGRECORD_FILE;
  }
  if ((value = ValueAfter(line, "DirectoryCreated="))) {
    record->Path = value;
    return record->Kind = LOGRECORD_DIRECTORY;
  }
  if ((value = ValueAfter(line, "IniFileEntryAdded="))) {
    char* comma1 = const_cast<char*>(MbcsFindChar(value, ','));
    char* comma2 = comma1 ? const_cast<char*>(MbcsFindChar(comma1 + 1, ',')) : nullptr;
    if (!comma2) return record->Kind = LOGRECORD_MALFORMED;
    *comma1 = '\0';
    *comma2 = '\0';
    record->Path = value;
    record->Section = comma1 + 1;
    record->Key = comma2 + 1;
    return record->Kind = LOGRECORD_INI_ENTRY;
  }
  if ((value = ValueAfter(line, "SysRegSectionAdded="))) {
    char* slash = const_cast<char*>(MbcsFindChar(value, '/'));
    if (!slash) return record->Kind = LOGRECORD_MALFORMED;
    *slash = '\0';
    record->Root = value;
    record->KeyPath = slash + 1;
    return record->Kind = LOGRECORD_REGISTRY;
  }
  if ((value = ValueAfter(line, "DllRegistered="))) {
    record->Path = value;
    return record->Kind = LOGRECORD_DLL;
  }
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

int FindLogCodePage(const char* text) {
  static const char kTag[] = "CodePage=";
  for (const char* line = text; *line;) {
    if (strncmp(line, kTag, sizeof kTag - 1) == 0) {
      int value = 0;
      for (const char* p = line + sizeof kTag - 1; *p >= '0' && *p <= '9' && value < 100000; ++p)
        value = value * 10 + (*p - '0');
      return value;
    }
    const char* lf = strchr(line, '\n');
    if (!lf) break;
    line = lf + 1;
  }
  return 0;
}
