// A whole file as the setup program and the command look at its end: program
// headers, a certificate table, padding, a signature. Every read stays in the
// file, and what the layout says holds of the bytes.
#include <string.h>

#include "FuzzCheck.h"
#include "efs/EfsFormat.h"
#include "efs/SetupLayout.h"

namespace {

class BufferReader : public IEfsFileReader {
 public:
  BufferReader(const uint8_t* data, size_t size) : m_Data(data), m_Size(size) {}
  int ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) override {
    FUZZ_CHECK(offset <= m_Size && n <= m_Size - offset);
    memcpy(buffer, m_Data + offset, n);
    return 1;
  }

 private:
  const uint8_t* m_Data;
  size_t m_Size;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BufferReader reader(data, size);
  SetupLayout l;
  FUZZ_CHECK(ReadSetupLayout(reader, size, &l));
  FUZZ_CHECK(l.FileSize == size && l.End <= size);
  if (l.CertificateSize) {
    FUZZ_CHECK(l.End + l.CertificateSize <= size);
    FUZZ_CHECK(size - l.CertificateSize - l.End <= 7);  // only the padding between
    for (uint64_t i = l.End; i < size - l.CertificateSize; ++i) FUZZ_CHECK(data[i] == 0);
  } else {
    FUZZ_CHECK(l.End == size);
  }
  if (l.Tail == SETUP_TAIL_INSTALLER)
    FUZZ_CHECK(l.End >= 16 && memcmp(data + l.End - 16, InstallerSignature, 16) == 0);
  if (l.Tail == SETUP_TAIL_UNINSTALLER)
    FUZZ_CHECK(l.End >= 16 && memcmp(data + l.End - 16, UninstallerSignature, 16) == 0);
  if (l.Damaged) FUZZ_CHECK(l.Tail == SETUP_TAIL_NONE && l.ProgramEnd && l.End != l.ProgramEnd);
  return 0;
}
