#include "TestFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>

TempDir::TempDir() {
  char t[] = "/tmp/qscli-XXXXXX";
  Path = mkdtemp(t);
  // other users must reach it for the tests that drop root
  chmod(Path.c_str(), 0755);
}

TempDir::~TempDir() {
  std::string command = "chmod -R u+rwx '" + Path + "' 2>/dev/null; rm -rf '" + Path + "'";
  (void)!system(command.c_str());
}

std::vector<std::string> TempDir::List() const {
  std::vector<std::string> names;
  std::function<void(const std::string&)> walk = [&](const std::string& rel) {
    std::string dir = rel.empty() ? Path : Path + "/" + rel;
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    while (struct dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      std::string child = rel.empty() ? name : rel + "/" + name;
      struct stat st;
      if (stat((Path + "/" + child).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        walk(child);
      else
        names.push_back(child);
    }
    closedir(d);
  };
  walk("");
  std::sort(names.begin(), names.end());
  return names;
}

void WriteWholeFile(const std::string& path, const std::string& content) {
  std::string dir = path.substr(0, path.rfind('/'));
  (void)!system(("mkdir -p '" + dir + "'").c_str());
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) {
    perror(path.c_str());
    abort();
  }
  fwrite(content.data(), 1, content.size(), f);
  fclose(f);
}

std::string ReadWholeFile(const std::string& path) {
  Bytes b;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return b;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) b.append(buffer, n);
  fclose(f);
  return b;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

int64_t MTimeNs(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return (int64_t)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec;
}

void SetMTimeNs(const std::string& path, int64_t ns) {
  struct timespec t[2];
  t[0].tv_sec = t[1].tv_sec = ns / 1000000000;
  t[0].tv_nsec = t[1].tv_nsec = ns % 1000000000;
  utimensat(AT_FDCWD, path.c_str(), t, 0);
}
