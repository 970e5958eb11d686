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

void WriteFile(const std::string& path, const Bytes& content) {
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

Bytes ReadFile(const std::string& path) {
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

Bytes RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n, '\0');
  for (char& c : b) c = (char)(rng() & 0xFF);
  return b;
}

Bytes FakeStub(size_t size) {
  Bytes b = "MZ";
  b.resize(size, 'x');
  return b;
}

RunResult Project::Build(const std::string& out, std::vector<std::string> extra) const {
  if (!Exists(Dir.File("stub.exe"))) WriteFile(Dir.File("stub.exe"), FakeStub());
  std::vector<std::string> args = {"build", "-q", "--stub", Dir.File("stub.exe"), "-o", out};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(Path());
  return RunQuillset(args);
}
