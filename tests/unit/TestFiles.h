// Files and folders for the native tests: a temporary folder, whole-file
// reads and writes, times; the test data both trees share.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "tests/TestData.h"

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

bool Exists(const std::string& path);
// Last-write time with nanoseconds.
int64_t MTimeNs(const std::string& path);
void SetMTimeNs(const std::string& path, int64_t ns);
