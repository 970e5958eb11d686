#include "common/SafeFormat.h"

#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"

namespace {

struct Writer {
  char* buffer;
  size_t size;
  size_t length;
  void Put(const char* p, size_t n) {
    if (buffer && length + 1 < size) {
      size_t room = size - 1 - length;
      memcpy(buffer + length, p, n < room ? n : room);
    }
    length += n;
  }
};

}  // namespace

size_t SafeFormat(char* buffer, size_t bufferSize, const char* format, const char* const* args,
                  size_t argCount) {
  Writer out{buffer, bufferSize, 0};
  size_t next = 0;
  if (format) {
    for (const char* p = format; *p;) {
      const char* q = MbcsNext(p);
      if (*p == '%' && p[1] == '%') {
        out.Put("%", 1);
        q = p + 2;
      } else if (*p == '%' && p[1] == 's' && next < argCount) {
        const char* arg = args[next++];
        if (arg) out.Put(arg, strlen(arg));
        q = p + 2;
      } else {
        out.Put(p, static_cast<size_t>(q - p));
      }
      p = q;
    }
  }
  if (buffer && bufferSize > 0) buffer[out.length < bufferSize ? out.length : bufferSize - 1] = '\0';
  return out.length;
}

char* SafeFormatAllocList(const char* format, const char* const* args, size_t argCount) {
  const size_t length = SafeFormat(nullptr, 0, format, args, argCount);
  char* result = static_cast<char*>(malloc(length + 1));
  if (result) SafeFormat(result, length + 1, format, args, argCount);
  return result;
}

char* SafeFormatAlloc(const char* format, const char* arg1, const char* arg2) {
  const char* args[2] = {arg1, arg2};
  return SafeFormatAllocList(format, args, arg2 ? 2 : 1);
}
