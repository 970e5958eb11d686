// The setup program's decoder against zlib on any bytes: input = one byte
// choosing how finely the stream is handed over, then the stream. Both must
// give the same verdict, and the same bytes when they take it.
#include <string.h>
#include <zlib.h>

#include <vector>

#include "FuzzCheck.h"
#include "efs/Inflate.h"

namespace {

const size_t kMaxOutput = 1 << 20;

class Io : public IEfsInflateIo {
 public:
  Io(const uint8_t* data, size_t size, size_t piece) : m_Data(data), m_Size(size), m_Piece(piece) {}
  long Fill(const unsigned char** data) override {
    size_t n = m_Size < m_Piece ? m_Size : m_Piece;
    m_Copy.assign(m_Data, m_Data + n);  // its own buffer, so that a read past it shows
    *data = m_Copy.data();
    m_Data += n;
    m_Size -= n;
    return (long)n;
  }
  int Flush(const unsigned char* data, uint32_t n) override {
    if (Out.size() + n > kMaxOutput) return 0;
    Out.insert(Out.end(), data, data + n);
    return 1;
  }
  std::vector<unsigned char> Out;

 private:
  const uint8_t* m_Data;
  size_t m_Size;
  size_t m_Piece;
  std::vector<unsigned char> m_Copy;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const size_t kPieces[4] = {1, 7, 64, 32768};
  Io io(data + 1, size - 1, kPieces[data[0] & 3]);
  std::vector<unsigned char> buffer(EFS_INFLATE_BUFFER_SIZE);
  const EfsInflateResult ours = EfsInflate(io, buffer.data());
  if (ours == EFS_INFLATE_STOPPED) return 0;  // more output than zlib is given room for below

  std::vector<unsigned char> theirs(kMaxOutput + 1);
  z_stream z;
  memset(&z, 0, sizeof z);
  FUZZ_CHECK(inflateInit(&z) == Z_OK);
  z.next_in = const_cast<uint8_t*>(data + 1);
  z.avail_in = (uInt)(size - 1);
  z.next_out = theirs.data();
  z.avail_out = (uInt)theirs.size();
  const int rc = inflate(&z, Z_FINISH);
  theirs.resize(z.total_out);
  inflateEnd(&z);
  FUZZ_CHECK((ours == EFS_INFLATE_OK) == (rc == Z_STREAM_END));
  if (ours == EFS_INFLATE_OK) FUZZ_CHECK(io.Out == theirs);
  return 0;
}
