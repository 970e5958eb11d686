// Fills the "%s" of a text that comes from outside the program (a translated
// message) without printf: each "%s" takes the next argument, "%%" gives "%",
// and every other "%" sequence stays as it is, so an edited text can neither
// read missing arguments nor write through "%n". Portable.
#pragma once
#include <stddef.h>

// Writes the result into buffer (always terminated when bufferSize > 0, cut
// when it does not fit) and returns the full length of the result without the
// terminator, so a caller can size a buffer exactly. A "%s" beyond the given
// arguments stays literal. buffer may be null to measure.
size_t SafeFormat(char* buffer, size_t bufferSize, const char* format, const char* const* args,
                  size_t argCount);

// Convenience for up to two arguments; the result is a new heap string the
// caller frees, or null when memory runs out.
char* SafeFormatAlloc(const char* format, const char* arg1, const char* arg2 = nullptr);
// The same for any number of arguments.
char* SafeFormatAllocList(const char* format, const char* const* args, size_t argCount);
