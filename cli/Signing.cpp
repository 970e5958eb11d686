#include "cli/Signing.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "cli/Platform.h"
#include "cli/SetupFile.h"
#include "efs/EfsFormat.h"
#include "efs/PeImage.h"
#include "efs/PortableFile.h"
#include "efs/Sha256.h"

namespace {

bool Has(const std::string& text, const char* what) { return text.find(what) != std::string::npos; }

uint64_t SizeOf(const std::string& path) {
  uint64_t size = 0, time = 0;
  return PortableFileInfo(path.c_str(), &size, &time) ? size : 0;
}

std::string ReadAll(const std::string& path) {
  std::string bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return bytes;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  fclose(f);
  return bytes;
}

// A path as one word of the shell that runs the command. A placeholder the
// author quoted already gets the bare path.
std::string Quoted(const std::string& path) {
#ifdef _WIN32
  return "\"" + path + "\"";  // no Windows path holds a quote
#else
  std::string q = "'";
  for (char c : path) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
#endif
}

std::string Expand(const std::string& command, const std::string& in, const std::string& out) {
  std::string line;
  for (size_t i = 0; i < command.size();) {
    const char* name = nullptr;
    const std::string* value = nullptr;
    if (command.compare(i, 4, "{in}") == 0) name = "{in}", value = &in;
    else if (command.compare(i, 5, "{out}") == 0) name = "{out}", value = &out;
    else if (command.compare(i, 6, "{file}") == 0) name = "{file}", value = &in;
    if (!name) {
      line += command[i++];
      continue;
    }
    const size_t end = i + strlen(name);
    const bool quoted = i > 0 && end < command.size() && (command[i - 1] == '"' || command[i - 1] == '\'') &&
                        command[end] == command[i - 1];
    line += quoted ? *value : Quoted(*value);
    i = end;
  }
  return line;
}

// Runs line in the system's shell with its output into log; the exit code,
// or -1 with *why when it could not run or ended by a signal.
int RunShell(const std::string& line, const std::string& log, std::string* why) {
#ifdef _WIN32
  auto wide = [](const std::string& s) {
    std::wstring w(s.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, &w[0], (int)w.size());
    w.resize(n > 0 ? (size_t)n - 1 : 0);
    return w;
  };
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  HANDLE out = CreateFileW(wide(log).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, NULL);
  if (out == INVALID_HANDLE_VALUE) {
    *why = "cannot write " + log;
    return -1;
  }
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = si.hStdError = out;
  std::wstring shell(MAX_PATH, L'\0');
  UINT n = GetSystemDirectoryW(&shell[0], MAX_PATH);
  shell.resize(n < MAX_PATH ? n : 0);
  shell += L"\\cmd.exe";
  // /s: the quotes around the whole line go, the command's own stay
  std::wstring text = L"cmd.exe /d /s /c \"" + wide(line) + L"\"";
  PROCESS_INFORMATION pi;
  DWORD code = 0;
  if (!CreateProcessW(shell.c_str(), &text[0], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
    CloseHandle(out);
    *why = "cannot start cmd.exe";
    return -1;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(out);
  return (int)code;
#else
  const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) {
    *why = "cannot write " + log + ": " + PlatformErrorText(errno);
    return -1;
  }
  fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    // the input stays the user's: a tool may ask for its password there
    dup2(fd, 1);
    dup2(fd, 2);
    execl("/bin/sh", "sh", "-c", line.c_str(), (char*)nullptr);
    _exit(127);
  }
  close(fd);
  if (child < 0) {
    *why = "cannot start /bin/sh: " + PlatformErrorText(errno);
    return -1;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  *why = "ended by signal " + std::to_string(WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  return -1;
#endif
}

// The tools of the platforms like a program's name to end in .exe: the
// file is signed under such a name beside its own.
std::string ExeSibling(const std::string& path) { return PlatformTemporarySibling(path) + ".exe"; }

// A file made here, removed on every path unless kept.
struct Scratch {
  std::string Path;
  explicit Scratch(const std::string& path) : Path(path) { PlatformCleanupAdd(Path); }
  ~Scratch() {
    PlatformRemoveFile(Path.c_str());
    PlatformCleanupRemove(Path);
  }
};

// The SHA-256 of the first n bytes of path with the headers' checksum and
// certificate entry cleared: signing sets those and appends its table,
// and changes nothing else. 0 when it cannot be read.
int DigestOfProgram(const std::string& path, uint64_t n, unsigned char digest[SHA256_SIZE]) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return 0;
  CSha256 hash;
  std::string buffer(1 << 16, '\0');
  for (uint64_t done = 0; done < n;) {
    const size_t want = (size_t)std::min<uint64_t>(buffer.size(), n - done);
    if (fread(&buffer[0], 1, want, f) != want) {
      fclose(f);
      return 0;
    }
    PeHeaders h;
    unsigned char* b = (unsigned char*)&buffer[0];
    if (done == 0 && ReadPeHeaders(b, want, &h)) {
      memset(b + h.OptionalOffset + 64, 0, 4);
      if (h.DirectoryCount > PE_DIRECTORY_SECURITY) memset(b + h.DirectoriesOffset + 8 * PE_DIRECTORY_SECURITY, 0, 8);
    }
    hash.Update(b, want);
    done += want;
  }
  fclose(f);
  hash.Final(digest);
  return 1;
}

// Runs the command on the program at path and puts the signed program
// there; what failed, or "".
std::string SignAt(const std::string& command, const std::string& path, const std::string& shownAs) {
  Scratch in(ExeSibling(path)), out(ExeSibling(path)), log(PlatformTemporarySibling(path) + ".log");
  if (!PlatformReplaceFile(path.c_str(), in.Path.c_str())) return "cannot write " + in.Path + ": " + PlatformErrorText(errno);
  const bool inPlace = Has(command, "{file}");
  const uint64_t size = SizeOf(in.Path);
  unsigned char before[SHA256_SIZE], after[SHA256_SIZE];
  if (!DigestOfProgram(in.Path, size, before)) return "cannot read " + in.Path;
  std::string why;
  const int code = RunShell(Expand(command, in.Path, out.Path), log.Path, &why);
  std::string output = ReadAll(log.Path);
  if (!output.empty() && output.back() != '\n') output += '\n';
  const std::string told = output.empty() ? " (it wrote no output)" : "; its output:\n" + output;
  if (code != 0)
    return "the sign command failed on " + shownAs + (code < 0 ? ": " + why : " with exit code " + std::to_string(code)) +
           told;
  const std::string& signedFile = inPlace ? in.Path : out.Path;
  SetupLayout layout;
  if (!PortableFileExists(signedFile.c_str()) || !SizeOf(signedFile))
    return "the sign command ended with exit code 0 but wrote nothing to " + std::string(inPlace ? "{file}" : "{out}") +
           " for " + shownAs + told;
  if (!ReadLayoutOfFile(signedFile.c_str(), &layout) || !layout.CertificateSize)
    return "the sign command ended with exit code 0 but " + shownAs + " carries no signature" + told;
  if (!DigestOfProgram(signedFile, size, after) || memcmp(before, after, SHA256_SIZE) != 0)
    return "the sign command changed " + shownAs + " beyond adding its signature; it must only sign";
  if (!PlatformReplaceFile(signedFile.c_str(), path.c_str())) return "cannot write " + path + ": " + PlatformErrorText(errno);
  return "";
}

}  // namespace

std::string CheckSignCommand(const std::string& command) {
  const bool file = Has(command, "{file}"), in = Has(command, "{in}"), out = Has(command, "{out}");
  if ((file && !in && !out) || (!file && in && out)) return "";
  // not echoed: it may hold a password
  return "--sign: name the program with {in} and {out} (the tool writes a signed copy) or with {file} (it signs in "
         "place), e.g. --sign 'osslsigncode sign -pkcs12 cert.pfx -in {in} -out {out}'";
}

CommandResult MakeSignedUninstaller(const std::string& command, const std::string& stub, const std::string& image) {
  const std::string program = ReadAll(stub);
  if (program.empty()) return InputFailure("cannot read " + stub);
  PortableCreateParentFolders(image.c_str());  // as the build would
  FILE* f = fopen(image.c_str(), "wb");
  bool ok = f && fwrite(program.data(), 1, program.size(), f) == program.size() &&
            fwrite(UninstallerSignature, 1, EFS_SIGNATURE_SIZE, f) == EFS_SIGNATURE_SIZE;
  if (f && fclose(f) != 0) ok = false;
  if (!ok) return InputFailure("cannot write " + image + ": " + PlatformErrorText(errno));
  std::string failed = SignAt(command, image, "the uninstaller");
  if (!failed.empty()) return InputFailure(failed);
  // The setup installs it as its own uninstaller: the signature must be
  // where the setup program looks for it, under the table.
  SetupLayout layout;
  if (!ReadLayoutOfFile(image.c_str(), &layout) || layout.Tail != SETUP_TAIL_UNINSTALLER)
    return InputFailure("the signed uninstaller does not end with the uninstaller signature");
  return Succeeded();
}

CommandResult SignProgram(const std::string& command, const std::string& path, const std::string& shownAs) {
  std::string failed = SignAt(command, path, shownAs);
  return failed.empty() ? Succeeded() : InputFailure(failed);
}
