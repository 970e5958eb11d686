// Running the quillset command from tests, and the files around it.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

typedef std::string Bytes;

struct RunResult {
  int Code = -1;
  std::string Out;
  std::string Err;
};

// Runs the command under test with args (argv[1...]) in folder cwd (empty:
// the test's own). With asUser, drops root to that uid/gid first.
RunResult RunQuillset(const std::vector<std::string>& args, const std::string& cwd = "",
                      int asUser = -1);
// The same inside a pseudo-terminal: stdout and stderr both end up in Out.
RunResult RunQuillsetOnTerminal(const std::vector<std::string>& args);

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

// A small stand-in for the setup program: "MZ" and padding.
Bytes FakeStub(size_t size = 4096);

// A project with a file or two beside it, ready to build.
struct Project {
  explicit Project(const TempDir& dir) : Dir(dir) {}
  const TempDir& Dir;
  std::string Script = "app.qsp";
  std::string Path() const { return Dir.File(Script); }
  void Write(const std::string& text) const { WriteFile(Path(), text); }
  // build --stub stub.exe -q -o OUT extra... PROJECT
  RunResult Build(const std::string& out, std::vector<std::string> extra = {}) const;
};

std::string SourceDir();
