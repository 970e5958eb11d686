#include "common/Version.h"

namespace {

// The number at p up to its part's end; p is moved past the ".".
unsigned long long NextPart(const char*& p) {
  unsigned long long n = 0;
  for (; *p >= '0' && *p <= '9'; ++p)
    if (n < 1000000000000ull) n = n * 10 + static_cast<unsigned>(*p - '0');
  while (*p && *p != '.') ++p;
  if (*p == '.') ++p;
  return n;
}

const char* SkipBlanks(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

}  // namespace

int CompareVersions(const char* a, const char* b) {
  a = SkipBlanks(a);
  b = SkipBlanks(b);
  if (!*a || !*b) return 0;
  while (*a || *b) {
    const unsigned long long x = NextPart(a), y = NextPart(b);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}
