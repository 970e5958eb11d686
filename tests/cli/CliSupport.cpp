#include "CliSupport.h"

#include <dirent.h>
#include <grp.h>
#include <fcntl.h>
#include <pty.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <random>

std::string SourceDir() { return QS_SOURCE_DIR; }

static std::string Slurp(int fd) {
  std::string s;
  char buffer[65536];
  lseek(fd, 0, SEEK_SET);
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) s.append(buffer, (size_t)n);
  return s;
}

static std::vector<char*> Argv(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(QS_QUILLSET));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

RunResult RunQuillset(const std::vector<std::string>& args, const std::string& cwd, int asUser) {
  RunResult r;
  FILE* out = tmpfile();
  FILE* err = tmpfile();
  std::vector<char*> argv = Argv(args);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    if (asUser >= 0 && (setgroups(0, nullptr) != 0 || setgid(asUser) != 0 || setuid(asUser) != 0))
      _exit(125);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.Out = Slurp(fileno(out));
  r.Err = Slurp(fileno(err));
  fclose(out);
  fclose(err);
  return r;
}

RunResult RunQuillsetOnTerminal(const std::vector<std::string>& args) {
  RunResult r;
  std::vector<char*> argv = Argv(args);
  int master = -1;
  struct winsize ws = {};
  ws.ws_col = 100;
  ws.ws_row = 30;
  pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  char buffer[4096];
  for (;;) {
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the child has closed its side
    r.Out.append(buffer, (size_t)n);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

Bytes FakeStub(size_t size) {
  Bytes b = "MZ";
  b.resize(size, 'x');
  return b;
}

RunResult Project::Build(const std::string& out, std::vector<std::string> extra) const {
  if (!Exists(Dir.File("stub.exe"))) WriteWholeFile(Dir.File("stub.exe"), FakeStub());
  std::vector<std::string> args = {"build", "-q", "--stub", Dir.File("stub.exe"), "-o", out};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(Path());
  return RunQuillset(args);
}
