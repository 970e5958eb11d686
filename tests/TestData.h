// Test data and setup files built from it, the same in the native tests and
// the tests that run under Wine. The file primitives it names are defined
// once per platform (TestFiles.cpp, TestSupport.cpp): the Wine side writes
// through the Win32 calls on purpose.
#pragma once
#include <stddef.h>

#include <string>
#include <utility>
#include <vector>

#include "efs/EfsFormat.h"
#include "efs/SetupLayout.h"

// n bytes of a fixed pseudo-random sequence: the same seed, the same bytes,
// on every platform.
std::string RandomBytes(size_t n, unsigned seed);
// n bytes of text lines that repeat: they compress well.
std::string Compressible(size_t n);
// n bytes of words drawn from a small list: text that compresses, but not
// to nothing.
std::string WordText(size_t n, unsigned seed);

// A setup file's bytes in memory as the readers take a file; a read past
// the end fails.
class BytesFileReader : public IEfsFileReader {
 public:
  explicit BytesFileReader(const std::string& b) : m_Bytes(b) {}
  int ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) override;

 private:
  const std::string& m_Bytes;
};

class CEfsDirectory;
// A solid directory's entries as an earlier quillset stored them: one fixed
// record and the name after another.
std::string SolidRecordsOf(const CEfsDirectory& dir);

// Whole-file reads and writes (the native write makes the file's folders
// too); a file that cannot be read reads as "".
void WriteWholeFile(const std::string& path, const std::string& bytes);
std::string ReadWholeFile(const std::string& path);

// A file a setup file is built from.
struct SetupSource {
  SetupSource(std::string name = "", std::string content = "", bool stored = false, std::string entry = "")
      : Name(std::move(name)), Content(std::move(content)), Stored(stored), Entry(std::move(entry)) {}
  std::string Name;  // the file, in the sources' folder
  std::string Content;
  bool Stored;
  std::string Entry;  // its entry name; empty: Name
  std::string From;   // an existing file to add instead of writing Content
};

// Writes the sources into folder (made if need be), then builds output of
// the stub and them, in their order. False when the build did not end
// with a file (a test failure is added).
bool BuildSetupOf(const std::string& stub, const std::string& folder, const std::vector<SetupSource>& sources,
                  const std::string& output, EfsMethod method = EFS_METHOD_ZLIB);
