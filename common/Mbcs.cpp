#include "common/Mbcs.h"

#include <string.h>

#ifdef _WIN32
#include <windows.h>

int MbcsIsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) ? 1 : 0; }
#else
static int g_codePage = 0;

void MbcsSetCodePage(int codePage) { g_codePage = codePage; }
int MbcsGetCodePage() { return g_codePage; }

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
