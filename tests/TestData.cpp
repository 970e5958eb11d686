#include "tests/TestData.h"

#include <gtest/gtest.h>

#include <string.h>

#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include "efs/EFSBuilder.h"
#include "efs/EfsDirectory.h"

std::string RandomBytes(size_t n, unsigned seed) {
  // mt19937's sequence is fixed by the standard, so both trees get the same bytes
  std::mt19937 rng(seed);
  std::string b(n, '\0');
  for (char& c : b) c = (char)(rng() & 0xFF);
  return b;
}

std::string Compressible(size_t n) {
  std::string b;
  while (b.size() < n) b += "line " + std::to_string(b.size() % 977) + " of a text that repeats\n";
  return b.substr(0, n);
}

int BytesFileReader::ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) {
  if (offset > m_Bytes.size() || n > m_Bytes.size() - offset) return 0;
  memcpy(buffer, m_Bytes.data() + offset, n);
  return 1;
}

std::string SolidRecordsOf(const CEfsDirectory& dir) {
  std::string records;
  for (uint32_t i = 0; i < dir.Count(); ++i) {
    unsigned char fixed[EFS_SOLID_RECORD_FIXED_SIZE];
    EfsEncodeSolidRecord(dir.At(i), fixed);
    records += std::string((const char*)fixed, sizeof fixed) + std::string(dir.At(i).Name, dir.At(i).NameLength);
  }
  return records;
}

std::string WordText(size_t n, unsigned seed) {
  static const char* words[] = {"alpha ", "beta ", "gamma ", "delta\n", "install ", "setup ", "file "};
  std::string b;
  unsigned x = seed;
  while (b.size() < n) {
    x = x * 1103515245u + 12345u;
    b += words[(x >> 16) % 7];
  }
  b.resize(n);
  return b;
}

bool BuildSetupOf(const std::string& stub, const std::string& folder, const std::vector<SetupSource>& sources,
                  const std::string& output, EfsMethod method) {
#ifdef _WIN32
  const char separator = '\\';
  CreateDirectoryA(folder.c_str(), NULL);
#else
  const char separator = '/';
  mkdir(folder.c_str(), 0755);
#endif
  CEFSBuilder b;
  b.SetCompression(method);
  b.SetStubFile(stub.c_str());
  for (const SetupSource& s : sources) {
    std::string path = s.From;
    if (path.empty()) {
      path = folder + separator + s.Name;
      WriteWholeFile(path, s.Content);
    }
    b.AddFile(path.c_str(), s.Stored ? 0 : 1, s.Entry.empty() ? nullptr : s.Entry.c_str());
  }
  const bool built = b.Build(output.c_str(), nullptr, InstallerSignature) == 1;
  EXPECT_TRUE(built) << output;
  return built;
}
