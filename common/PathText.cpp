#include "common/PathText.h"

#include <string.h>

#include "common/Mbcs.h"

const char* PathFileName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; p = MbcsNext(p))
    if (*p == '\\' || *p == '/' || (*p == ':' && p == path + 1)) name = p + 1;
  return name;
}

int PathEndsWithSeparator(const char* path) {
  const char* last = NULL;
  for (const char* p = path; *p; p = MbcsNext(p)) last = p;
  return last && (*last == '\\' || *last == '/') && last[1] == '\0';
}

void PathTrimSeparators(char* path) {
  while (PathEndsWithSeparator(path)) path[strlen(path) - 1] = '\0';
}

int PathJoin(char* out, size_t size, const char* folder, const char* name) {
  const size_t f = strlen(folder);
  const size_t sep = (f && !PathEndsWithSeparator(folder)) ? 1 : 0;
  const size_t n = strlen(name);
  if (size == 0) return 0;
  if (f + sep + n >= size) {
    out[0] = '\0';
    return 0;
  }
  memmove(out, folder, f);
  if (sep) out[f] = '\\';
  memcpy(out + f + sep, name, n + 1);
  return 1;
}
