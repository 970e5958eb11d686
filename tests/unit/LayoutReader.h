// A setup file's bytes in memory, read as the layout and the slice record
// read a file.
#pragma once
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "efs/SetupLayout.h"

class StringReader : public IEfsFileReader {
 public:
  explicit StringReader(const std::string& b, bool strict = false) : m_Bytes(b), m_Strict(strict) {}
  int ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) override {
    // strict: the reader must never ask for bytes the file does not have
    if (m_Strict) {
      EXPECT_LE(offset + n, m_Bytes.size());
    }
    if (FailAt != ~0ull && offset <= FailAt && FailAt < offset + n) return 0;
    if (offset + n > m_Bytes.size()) return 0;
    memcpy(buffer, m_Bytes.data() + offset, n);
    return 1;
  }
  uint64_t FailAt = ~0ull;  // a read that covers this offset fails

 private:
  const std::string& m_Bytes;
  bool m_Strict;
};

// The layout of file, which must be readable.
inline SetupLayout Layout(const std::string& file, bool strict = false) {
  StringReader reader(file, strict);
  SetupLayout l;
  EXPECT_TRUE(ReadSetupLayout(reader, file.size(), &l));
  return l;
}
