// Files and folders for the native tests: a temporary folder, whole-file
// reads and writes, times, and repeatable random bytes.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

typedef std::string Bytes;

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return Path + "/" + name; }
  // Every file name below the folder, sorted, relative to it.
  std::vector<std::string> List() const;
  std::string Path;
};

void WriteFile(const std::string& path, const Bytes& content);
Bytes ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Last-write time with nanoseconds.
int64_t MTimeNs(const std::string& path);
void SetMTimeNs(const std::string& path, int64_t ns);
Bytes RandomBytes(size_t n, unsigned seed);
