// The formatter of translated texts over any text and arguments: input =
// code-page byte (bit 0: 932), argument count, buffer size, then the format
// and up to three arguments separated by zero bytes. The formatter must stay
// inside an exact-size buffer and measure what it writes unbounded.
#include <string.h>

#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "common/Mbcs.h"
#include "common/SafeFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  MbcsSetCodePage((data[0] & 1) ? 932 : 0);
  const size_t argCount = data[1] % 4;
  const size_t sizeByte = data[2];
  std::vector<std::string> parts(1);
  for (size_t i = 3; i < size; ++i) {
    if (data[i] == 0) {
      parts.emplace_back();
    } else {
      parts.back() += static_cast<char>(data[i]);
    }
  }
  // every argument heap-allocated on its own so that overreads show
  std::vector<char*> owned;
  for (const std::string& part : parts) owned.push_back(strdup(part.c_str()));
  const char* format = owned[0];
  std::vector<const char*> args;
  for (size_t i = 0; i < argCount; ++i) args.push_back(i + 1 < owned.size() ? owned[i + 1] : nullptr);
  const char* const* argv = args.empty() ? nullptr : args.data();

  const size_t measured = SafeFormat(nullptr, 0, format, argv, argCount);
  char* full = static_cast<char*>(malloc(measured + 1));
  FUZZ_CHECK(SafeFormat(full, measured + 1, format, argv, argCount) == measured);
  FUZZ_CHECK(strlen(full) == measured);
  // no more than every format byte plus every argument
  size_t bound = strlen(format);
  for (const char* a : args) bound += a ? strlen(a) : 0;
  FUZZ_CHECK(measured <= bound);

  const size_t cut = sizeByte % (measured + 2);
  // cut 0: nothing may be written (a zero-byte allocation would not show it)
  char* small = static_cast<char*>(malloc(cut ? cut : 1));
  small[0] = 'x';
  FUZZ_CHECK(SafeFormat(small, cut, format, argv, argCount) == measured);
  if (cut == 0) FUZZ_CHECK(small[0] == 'x');
  if (cut > 0) {
    const size_t kept = measured < cut - 1 ? measured : cut - 1;
    FUZZ_CHECK(strlen(small) == kept);
    FUZZ_CHECK(memcmp(small, full, kept) == 0);
  }
  // without a "%" the format is the result
  if (!strchr(format, '%')) FUZZ_CHECK(strcmp(full, format) == 0);

  if (argCount == 1 || (argCount == 2 && args[1])) {
    char* allocated = SafeFormatAlloc(format, args[0], argCount == 2 ? args[1] : nullptr);
    FUZZ_CHECK(allocated && strcmp(allocated, full) == 0);
    free(allocated);
  }
  free(small);
  free(full);
  for (char* p : owned) free(p);
  MbcsSetCodePage(0);
  return 0;
}
