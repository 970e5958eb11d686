#include "common/Mbcs.h"

#include <string.h>

#ifdef _WIN32
#include <windows.h>

int MbcsIsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) ? 1 : 0; }
int MbcsIsUtf8() { return GetACP() == CP_UTF8 ? 1 : 0; }
#else
static int g_codePage = 0;

void MbcsSetCodePage(int codePage) { g_codePage = codePage; }
int MbcsGetCodePage() { return g_codePage; }
int MbcsIsUtf8() { return g_codePage == 65001 ? 1 : 0; }

int MbcsIsLeadByte(unsigned char c) {
  switch (g_codePage) {
    case 932:  // Shift-JIS
      return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 936:
    case 949:
    case 950:
      return c >= 0x81 && c <= 0xFE;
    default:
      return 0;
  }
}
#endif

const char* MbcsNext(const char* p) {
  if (MbcsIsLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') return p + 2;
  return p + 1;
}

const char* MbcsFindChar(const char* s, char c) {
  for (const char* p = s; *p; p = MbcsNext(p))
    if (*p == c) return p;
  return nullptr;
}

const char* MbcsFindLastChar(const char* s, char c) {
  const char* last = nullptr;
  for (const char* p = s; *p; p = MbcsNext(p))
    if (*p == c) last = p;
  return last;
}

const char* MbcsFindText(const char* s, const char* needle, size_t needleLength) {
  if (needleLength == 0) return s;
  for (const char* p = s; *p; p = MbcsNext(p))
    if (*p == *needle && strncmp(p, needle, needleLength) == 0) return p;
  return nullptr;
}

// Length of the UTF-8 sequence at p (at most size bytes), 0 when it is not
// one.
static size_t Utf8SequenceLength(const unsigned char* p, size_t size) {
  const unsigned char c = p[0];
  size_t n;
  unsigned min;
  unsigned value;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) n = 2, min = 0x80, value = c & 0x1F;
  else if ((c & 0xF0) == 0xE0) n = 3, min = 0x800, value = c & 0x0F;
  else if ((c & 0xF8) == 0xF0) n = 4, min = 0x10000, value = c & 0x07;
  else return 0;
  if (n > size) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (p[i] & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return n;
}

int Utf8IsValid(const char* text, size_t size) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  for (size_t i = 0; i < size;) {
    const size_t n = Utf8SequenceLength(p + i, size - i);
    if (!n) return 0;
    i += n;
  }
  return 1;
}

int MbcsCopy(char* out, size_t size, const char* s) {
  const size_t length = strlen(s);
  if (length < size) {
    memcpy(out, s, length + 1);
    return 1;
  }
  size_t cut = 0;
  if (MbcsIsUtf8()) {
    cut = size - 1;
    // back to the first byte of the character that would be cut
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
  } else {
    for (const char* p = s; *p; p = MbcsNext(p)) {
      const size_t next = static_cast<size_t>(MbcsNext(p) - s);
      if (next > size - 1) break;
      cut = next;
    }
  }
  memcpy(out, s, cut);
  out[cut] = '\0';
  return 0;
}

size_t MbcsLength(const char* s, size_t n) {
  if (!MbcsIsUtf8()) return n;
  size_t count = 0;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if ((c & 0xC0) != 0x80) count += c >= 0xF0 ? 2 : 1;
  }
  return count;
}
