#include "cli/Platform.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <iconv.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>
#endif

#include "efs/PortableFile.h"

// 100-ns intervals between 1601-01-01 and 1970-01-01.
static const uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

#ifdef _WIN32
// A console shows what the C library writes to it in the library's own
// code page (Wine's: a byte a character), so what goes to a console goes
// through a pipe to a thread that writes it wide, whole characters only.
// One pipe for both descriptors, so that what goes out keeps its order.
struct ConsoleRelay {
  HANDLE Console;
  HANDLE Read;
  HANDLE Thread;
  int Relayed[3];  // by descriptor: 1 when it writes into the pipe
};
static ConsoleRelay g_Relay;

#endif

std::string PlatformExePath() {
#ifdef _WIN32
  char buffer[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(NULL, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return "";
  return std::string(buffer, n);
#else
  std::vector<char> buffer(4096);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return "";
  return std::string(buffer.data(), (size_t)n);
#endif
}

int PlatformIsTerminal(FILE* f) {
#ifdef _WIN32
  const int fd = _fileno(f);
  if (fd >= 1 && fd <= 2 && g_Relay.Thread && g_Relay.Relayed[fd]) return 1;
  return _isatty(_fileno(f)) != 0;
#else
  return isatty(fileno(f)) != 0;
#endif
}

int PlatformTerminalColumns(FILE* f) {
#ifdef _WIN32
  (void)f;
  CONSOLE_SCREEN_BUFFER_INFO info;
  // a relayed descriptor's console, not the pipe now in its place
  HANDLE console = g_Relay.Thread ? g_Relay.Console : GetStdHandle(STD_ERROR_HANDLE);
  if (GetConsoleScreenBufferInfo(console, &info))
    return info.srWindow.Right - info.srWindow.Left + 1;
#else
  struct winsize ws;
  if (ioctl(fileno(f), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
#endif
  return 80;
}

#ifdef _WIN32
static DWORD WINAPI RelayToConsole(void*) {
  ConsoleRelay* relay = &g_Relay;
  char bytes[4096 + 4];
  WCHAR wide[4096 + 4];
  size_t kept = 0;
  DWORD got = 0;
  while (ReadFile(relay->Read, bytes + kept, 4096, &got, NULL) && got) {
    const size_t n = kept + got;
    // a character cut between two writes waits for its rest
    size_t whole = n, start = n;
    while (start > 0 && n - start < 3 && ((unsigned char)bytes[start - 1] & 0xC0) == 0x80) --start;
    if (start > 0) {
      const unsigned char lead = (unsigned char)bytes[start - 1];
      const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      if (length > 1 && n - (start - 1) < length) whole = start - 1;
    }
    const int w = MultiByteToWideChar(CP_UTF8, 0, bytes, (int)whole, wide, 4096 + 4);
    DWORD written;
    if (w > 0) WriteConsoleW(relay->Console, wide, (DWORD)w, &written, NULL);
    kept = n - whole;
    memmove(bytes, bytes + whole, kept);
  }
  return 0;
}

static void EndConsoleRelay() {
  fflush(stdout);
  fflush(stderr);
  // the pipe's last writers: the thread reads to its end
  for (int fd = 1; fd <= 2; ++fd)
    if (g_Relay.Relayed[fd]) _close(fd);
  WaitForSingleObject(g_Relay.Thread, 5000);
}
#endif

void PlatformUseUtf8Console() {
#ifdef _WIN32
  DWORD mode;
  HANDLE out = (HANDLE)_get_osfhandle(1), err = (HANDLE)_get_osfhandle(2);
  const int console[3] = {0, out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode),
                          err != INVALID_HANDLE_VALUE && GetConsoleMode(err, &mode)};
  if (!console[1] && !console[2]) return;
  HANDLE read, write;
  // the descriptors' own handles go with them below
  if (!DuplicateHandle(GetCurrentProcess(), console[1] ? out : err, GetCurrentProcess(), &g_Relay.Console, 0,
                       FALSE, DUPLICATE_SAME_ACCESS))
    return;
  if (!CreatePipe(&read, &write, NULL, 0)) {
    CloseHandle(g_Relay.Console);
    return;
  }
  g_Relay.Read = read;
  const int fd = _open_osfhandle((intptr_t)write, 0);
  g_Relay.Thread = fd >= 0 ? CreateThread(NULL, 0, RelayToConsole, NULL, 0, NULL) : NULL;
  if (!g_Relay.Thread) {  // the descriptors stay as they are
    if (fd >= 0) _close(fd);
    else CloseHandle(write);
    CloseHandle(read);
    CloseHandle(g_Relay.Console);
    return;
  }
  for (int i = 1; i <= 2; ++i) g_Relay.Relayed[i] = console[i] && _dup2(fd, i) == 0;
  _close(fd);
  // written as a console takes it, one write at a time
  setvbuf(stdout, NULL, _IONBF, 0);
  atexit(EndConsoleRelay);
#endif
}

double PlatformSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The processors this process may run on (taskset, a container's set, a
// job's affinity), not all the machine has: more threads than those only
// take turns.
unsigned PlatformProcessors() {
#ifdef _WIN32
  DWORD_PTR mine = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &mine, &system) && mine) {
    unsigned n = 0;
    for (; mine; mine &= mine - 1) ++n;
    return n;
  }
#else
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return (unsigned)CPU_COUNT(&set);
#endif
  unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

int PlatformSetFileTime(const char* path, uint64_t fileTime) {
#ifdef _WIN32
  HANDLE h = CreateFileA(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return 0;
  FILETIME ft;
  ft.dwLowDateTime = (DWORD)fileTime;
  ft.dwHighDateTime = (DWORD)(fileTime >> 32);
  BOOL ok = SetFileTime(h, NULL, &ft, &ft);
  CloseHandle(h);
  return ok != 0;
#else
  // FILETIME counts from 1601; times before 1970 give negative seconds
  int64_t since1970 = (int64_t)(fileTime - kUnixEpochAsFileTime);
  int64_t seconds = since1970 / 10000000;
  int64_t rest = since1970 % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = (time_t)seconds;
  times[0].tv_nsec = times[1].tv_nsec = (long)(rest * 100);
  return utimensat(AT_FDCWD, path, times, 0) == 0;
#endif
}

int PlatformIsDirectory(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int PlatformMakeFolders(const char* dir) {
  if (PlatformIsDirectory(dir)) return 1;
  std::string probe = PlatformJoin(dir, "x");
  return PortableCreateParentFolders(probe.c_str()) && PlatformIsDirectory(dir);
}

int PlatformReplaceFile(const char* from, const char* to) {
#ifdef _WIN32
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
#else
  return rename(from, to) == 0;
#endif
}

int PlatformRemoveFile(const char* path) {
  return remove(path) == 0 || errno == ENOENT;
}

std::string PlatformTemporarySibling(const std::string& path) {
  static unsigned counter = 0;
#ifdef _WIN32
  unsigned long pid = (unsigned long)_getpid();
#else
  unsigned long pid = (unsigned long)getpid();
#endif
  for (;;) {
    char suffix[64];
    snprintf(suffix, sizeof suffix, ".~qs%lu-%u", pid, counter++);
    std::string candidate = path + suffix;
    struct stat st;
    if (stat(candidate.c_str(), &st) != 0) return candidate;
  }
}

std::string PlatformErrorText(int error) {
  return strerror(error);
}

// A fixed table, so that the signal handler never allocates.
static char* g_Cleanup[1024];

static void OnInterrupt(int sig) {
  for (char*& p : g_Cleanup)
    if (p) remove(p);
  signal(sig, SIG_DFL);
  raise(sig);
}

void PlatformCleanupAdd(const std::string& path) {
  static int installed = 0;
  if (!installed) {
    signal(SIGINT, OnInterrupt);
    signal(SIGTERM, OnInterrupt);
    installed = 1;
  }
  for (char*& p : g_Cleanup)
    if (!p) {
      p = strdup(path.c_str());
      return;
    }
}

void PlatformCleanupRemove(const std::string& path) {
  for (char*& p : g_Cleanup)
    if (p && path == p) {
      char* old = p;
      p = NULL;
      free(old);
      return;
    }
}

int PlatformIsSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

int PlatformIsAbsolute(const std::string& path) {
#ifdef _WIN32
  if (path.size() >= 2 && path[1] == ':') return 1;  // C:\x (and C:x, relative to a drive)
  return !path.empty() && PlatformIsSeparator(path[0]);
#else
  return !path.empty() && path[0] == '/';
#endif
}

std::string PlatformJoin(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder == ".") return name;
  if (PlatformIsSeparator(folder.back())) return folder + name;
#ifdef _WIN32
  return folder + "\\" + name;
#else
  return folder + "/" + name;
#endif
}

std::string PlatformFolderOf(const std::string& path) {
  size_t cut = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i)
    if (PlatformIsSeparator(path[i])) cut = i;
  if (cut == std::string::npos) {
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
#endif
    return ".";
  }
  if (cut == 0) return path.substr(0, 1);
#ifdef _WIN32
  if (cut == 2 && path[1] == ':') return path.substr(0, 3);
#endif
  return path.substr(0, cut);
}

std::string PlatformNormalise(const std::string& path) {
#ifdef _WIN32
  const char sep = '\\';
#else
  const char sep = '/';
#endif
  std::string root;
  size_t at = 0;
#ifdef _WIN32
  if (path.size() >= 2 && path[1] == ':') {
    root = path.substr(0, 2);
    at = 2;
  }
#endif
  if (at < path.size() && PlatformIsSeparator(path[at])) {
    root += sep;
    ++at;
  }
  std::vector<std::string> parts;
  while (at <= path.size()) {
    size_t end = at;
    while (end < path.size() && !PlatformIsSeparator(path[end])) ++end;
    std::string part = path.substr(at, end - at);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..")
        parts.pop_back();
      else if (root.empty())
        parts.push_back(part);
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  std::string out = root;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += sep;
    out += parts[i];
  }
  return out.empty() ? "." : out;
}

int PlatformSamePath(const std::string& a, const std::string& b) {
#ifdef _WIN32
  return _stricmp(PlatformNormalise(a).c_str(), PlatformNormalise(b).c_str()) == 0;
#else
  return PlatformNormalise(a) == PlatformNormalise(b);
#endif
}

int64_t PlatformFileSize(FILE* f) {
#ifdef _WIN32
  if (_fseeki64(f, 0, SEEK_END) != 0) return -1;
  return _ftelli64(f);
#else
  if (fseeko(f, 0, SEEK_END) != 0) return -1;
  return ftello(f);
#endif
}

int PlatformSeek(FILE* f, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(f, (int64_t)offset, SEEK_SET) == 0;
#else
  return fseeko(f, (off_t)offset, SEEK_SET) == 0;
#endif
}

int PlatformToUtf8(const std::string& text, int codePage, std::string* out) {
  out->clear();
  if (text.empty()) return 1;
#ifdef _WIN32
  if (text.size() > 0x3FFFFFFF) return 0;
  const int wide = MultiByteToWideChar((UINT)codePage, MB_ERR_INVALID_CHARS, text.data(), (int)text.size(), NULL, 0);
  if (wide <= 0) return 0;
  std::vector<wchar_t> w((size_t)wide);
  MultiByteToWideChar((UINT)codePage, MB_ERR_INVALID_CHARS, text.data(), (int)text.size(), w.data(), wide);
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, NULL, 0, NULL, NULL);
  if (n <= 0) return 0;
  out->resize((size_t)n);
  WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, &(*out)[0], n, NULL, NULL);
  return 1;
#else
  const std::string name = "CP" + std::to_string(codePage);
  iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == (iconv_t)-1) return 0;
  std::string in = text;
  char* from = &in[0];
  size_t left = in.size();
  std::vector<char> buffer(in.size() * 4 + 16);
  char* to = buffer.data();
  size_t room = buffer.size();
  const size_t done = iconv(cd, &from, &left, &to, &room);
  iconv_close(cd);
  if (done == (size_t)-1 || left) return 0;
  out->assign(buffer.data(), (size_t)(to - buffer.data()));
  return 1;
#endif
}
