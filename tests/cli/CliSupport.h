// Running the quillset command from tests, and the files around it.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "../unit/TestFiles.h"

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

// A small stand-in for the setup program: "MZ" and padding.
Bytes FakeStub(size_t size = 4096);

// A project with a file or two beside it, ready to build.
struct Project {
  explicit Project(const TempDir& dir) : Dir(dir) {}
  const TempDir& Dir;
  std::string Script = "app.qsp";
  std::string Path() const { return Dir.File(Script); }
  void Write(const std::string& text) const { WriteWholeFile(Path(), text); }
  // build --stub stub.exe -q -o OUT extra... PROJECT
  RunResult Build(const std::string& out, std::vector<std::string> extra = {}) const;
};

std::string SourceDir();
