#include "script/FileParser.h"

#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"

namespace {

const char kMagic[] = "QSP40";
const char kUtf8Mark[] = "\xEF\xBB\xBF";

// Drops a UTF-8 byte-order mark (editors on Windows save one) from the
// start of data, so that line 1 starts with the magic as it does without;
// then checks the magic. length counts the bytes before the terminator.
int TakeText(char* data, uint32_t* length) {
  if (*length >= 3 && memcmp(data, kUtf8Mark, 3) == 0) {
    *length -= 3;
    memmove(data, data + 3, *length + 1);
  }
  return *length >= 5 && memcmp(data, kMagic, 5) == 0;
}

// Blank means the space character, as in the value rules of the script.
bool IsBlank(char c) { return c == ' '; }

const char* FindLineEnd(const char* p) {
  for (; *p && *p != '\r' && *p != '\n'; p = MbcsNext(p)) {
  }
  return p;
}

// Copies an answer of length bytes under the buffer protocol. zeroSizeResult
// is what a given buffer of size 0 returns (GetValue n, GetLine 0).
int32_t Deliver(const char* answer, size_t length, char* buffer, int32_t bufferSize,
                int32_t zeroSizeResult) {
  const int32_t n = static_cast<int32_t>(length) + 1;
  if (!buffer) return n;
  if (bufferSize <= 0) return zeroSizeResult;
  if (bufferSize >= n) {
    memcpy(buffer, answer, length);
    buffer[length] = '\0';
    return n;
  }
  memcpy(buffer, answer, static_cast<size_t>(bufferSize) - 1);
  buffer[bufferSize - 1] = '\0';
  return bufferSize;
}

}  // namespace

CFileParser::~CFileParser() { Release(); }

void CFileParser::Release() {
  free(text);
  text = nullptr;
  size = 0;
  cursorSection[0] = '\0';
  cursorIndex = -1;
  cursorLine = nullptr;
  numberedLine = nullptr;
  numberedNumber = 0;
}

int CFileParser::LoadText(const char* source, uint32_t length) {
  Release();
  if (!source || length >= 0xFFFFFFFFu) return 0;
  char* data = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
  if (!data) return 0;
  memcpy(data, source, length);
  data[length] = '\0';
  text = data;
  if (!TakeText(data, &length)) {
    Release();
    return 0;
  }
  size = length + 1;
  return 1;
}

// The LF that ends the section's header line, or null when the section is
// missing or its header is the last line.
const char* CFileParser::FindSectionBody(const char* section) const {
  if (!text || !section) return nullptr;
  const size_t nameLength = strlen(section);
  char* header = static_cast<char*>(malloc(nameLength + 3));
  if (!header) return nullptr;
  header[0] = '[';
  memcpy(header + 1, section, nameLength);
  header[nameLength + 1] = ']';
  header[nameLength + 2] = '\0';
  const char* found = MbcsFindText(text, header, nameLength + 2);
  free(header);
  if (!found) return nullptr;
  return MbcsFindChar(found + nameLength + 2, '\n');
}

int32_t CFileParser::GetValue(const char* section, const char* key, const char* defaultValue,
                              char* buffer, int32_t bufferSize) const {
  if (!section || !key || !text) return 0;
  if (!defaultValue) defaultValue = "";
  const char* body = FindSectionBody(section);
  if (!body) return Deliver(defaultValue, strlen(defaultValue), buffer, bufferSize,
                            static_cast<int32_t>(strlen(defaultValue)) + 1);

  // A "[" anywhere, even inside a value, ends the keyed section.
  const char* bodyEnd = MbcsFindChar(body, '[');
  if (!bodyEnd) bodyEnd = text + strlen(text);

  const size_t keyLength = strlen(key);
  const char* keyStart = nullptr;
  for (const char* p = body; *p && p < bodyEnd; p = MbcsNext(p)) {
    if (*p != '\n' || strncmp(p + 1, key, keyLength) != 0) continue;
    const char after = p[1 + keyLength];
    if (keyLength > 0 && (IsBlank(after) || after == '=')) {
      keyStart = p + 1;
      break;
    }
  }
  if (!keyStart || keyStart >= bodyEnd) {
    return Deliver(defaultValue, strlen(defaultValue), buffer, bufferSize,
                   static_cast<int32_t>(strlen(defaultValue)) + 1);
  }

  const char* afterKey = keyStart + keyLength;
  const char* lineEnd = FindLineEnd(afterKey);
  const char* equals = MbcsFindChar(afterKey, '=');
  const char* value = nullptr;
  if (equals && equals < lineEnd) {
    value = equals;
    while (*value && (IsBlank(*value) || *value == '=')) ++value;
    if (!*value || *value == '\r' || *value == '\n' || value >= lineEnd) value = nullptr;
  }
  if (!value) {
    // Present but empty: an empty answer, never the default.
    if (buffer && bufferSize > 0) buffer[0] = '\0';
    return 0;
  }
  const size_t length = static_cast<size_t>(lineEnd - value);
  return Deliver(value, length, buffer, bufferSize, static_cast<int32_t>(length) + 1);
}

int32_t CFileParser::GetInt(const char* section, const char* key, int32_t defaultValue) const {
  const int32_t n = GetValue(section, key, "", nullptr, 0);
  if (n <= 1) return defaultValue;
  char* value = static_cast<char*>(malloc(static_cast<size_t>(n)));
  if (!value) return defaultValue;
  GetValue(section, key, "", value, n);
  int32_t result = defaultValue;
  if (strspn(value, "0123456789+-. ") == strlen(value)) {
    const char* p = value;
    while (*p == ' ') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int64_t number = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
      number = number * 10 + (*p - '0');
      if (number > 0x80000000ll) number = 0x80000000ll;  // saturate, never overflow
    }
    if (negative) number = -number;
    if (number > 0x7FFFFFFFll) number = 0x7FFFFFFFll;
    result = static_cast<int32_t>(number);
  }
  free(value);
  return result;
}

namespace {

// The start of the line after the LF at p, or null when no line starts there.
const char* LineAfter(const char* lf) {
  const char* next = lf + 1;
  if (*next == '\0' || *next == '[') return nullptr;
  return next;
}

}  // namespace

int32_t CFileParser::GetLineCount(const char* section) const {
  const char* lf = FindSectionBody(section);
  int32_t count = 0;
  while (lf) {
    const char* line = LineAfter(lf);
    if (!line) break;
    ++count;
    lf = MbcsFindChar(line, '\n');
  }
  return count;
}

// The start of line index of section, or null. Continues from the line the
// previous call found when it can; the answer is the same either way.
const char* CFileParser::LineAfterCursor(const char* section, int32_t index) const {
  if (!text || !section || index < 0) return nullptr;
  const char* line = nullptr;
  int32_t i = 0;
  if (cursorLine && index >= cursorIndex && strcmp(section, cursorSection) == 0) {
    line = cursorLine;
    i = cursorIndex;
  } else {
    const char* lf = FindSectionBody(section);
    line = lf ? LineAfter(lf) : nullptr;
  }
  while (line && i < index) {
    const char* lf = MbcsFindChar(line, '\n');
    line = lf ? LineAfter(lf) : nullptr;
    ++i;
  }
  if (line && strlen(section) < sizeof cursorSection) {
    strcpy(cursorSection, section);
    cursorIndex = index;
    cursorLine = line;
  }
  return line;
}

int32_t CFileParser::GetLine(const char* section, int32_t index, char* buffer,
                             int32_t bufferSize) const {
  const char* line = LineAfterCursor(section, index);
  if (!line) return 0;
  const size_t length = static_cast<size_t>(FindLineEnd(line) - line);
  return Deliver(line, length, buffer, bufferSize, 0);
}

int32_t CFileParser::GetLineNumber(const char* section, int32_t index) const {
  const char* line = LineAfterCursor(section, index);
  if (!line) return 0;
  // counted on from the line numbered last: the checks ask line after line
  const char* from = text;
  int32_t number = 1;
  if (numberedLine && numberedLine <= line) {
    from = numberedLine;
    number = numberedNumber;
  }
  for (const char* p = from; p < line; ++p)
    if (*p == '\n') ++number;
  numberedLine = line;
  numberedNumber = number;
  return number;
}
