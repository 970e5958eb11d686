// quillset build: check the script, gather its files, write the setup file.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>

#include "cli/Commands.h"
#include "cli/Languages.h"
#include "cli/Platform.h"
#include "cli/Project.h"
#include "cli/Branding.h"
#include "cli/SetupFile.h"
#include "cli/Signing.h"
#include "cli/Split.h"
#include "common/Mbcs.h"
#include "efs/EFSBuilder.h"
#include "efs/EfsFormat.h"
#include "efs/PortableFile.h"

namespace {

const char kTableName[] = "English.ini";

// The setup program of each architecture, and the Windows build tree that
// makes it beside a native build tree.
const char* StubName(PeArch arch) { return arch == PE_ARCH_X64 ? "quillset-stub64.exe" : "quillset-stub.exe"; }
const char* StubTree(PeArch arch) { return arch == PE_ARCH_X64 ? "win64" : "win32"; }

struct BuildOptions {
  std::string Project;
  std::string Output;
  std::string Stub;
  PeArch Arch = PE_ARCH_X86;
  bool ArchGiven = false;
  std::string Translations;
  const LanguageTable* Language = nullptr;  // the first of Languages
  std::vector<const LanguageTable*> Languages;
  // what a script or table that is not UTF-8 is read in
  int CodePage = 1252;
  // from --compression (or --store); empty: the script's, else zlib
  std::string Compression;
  uint64_t Split = 0;
  unsigned Threads = 0;
  int Quiet = 0;
  std::string Sign;  // --sign: the publisher's signing command, or ""
};

// "100K", "2M", "1G" or plain bytes.
int ParseSize(const std::string& text, uint64_t* size) {
  if (text.empty()) return 0;
  uint64_t n = 0;
  size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (n > (UINT64_MAX - 9) / 10) return 0;
    n = n * 10 + (uint64_t)(text[i] - '0');
  }
  if (i == 0) return 0;
  std::string unit = text.substr(i);
  uint64_t factor = 1;
  if (unit == "K" || unit == "k") factor = 1024;
  else if (unit == "M" || unit == "m") factor = 1024 * 1024;
  else if (unit == "G" || unit == "g") factor = 1024 * 1024 * 1024;
  else if (!unit.empty()) return 0;
  if (n > UINT64_MAX / factor) return 0;
  *size = n * factor;
  return 1;
}

std::string Bytes(uint64_t n) {
  char text[64];
  if (n < 10 * 1024)
    snprintf(text, sizeof text, "%llu bytes", (unsigned long long)n);
  else if (n < 10ull * 1024 * 1024)
    snprintf(text, sizeof text, "%llu bytes (%.1f KiB)", (unsigned long long)n, n / 1024.0);
  else
    snprintf(text, sizeof text, "%llu bytes (%.1f MiB)", (unsigned long long)n, n / 1048576.0);
  return text;
}

// Where the setup program and the English table are looked for: beside the
// command (a build tree or a Windows folder), in the installed layout
// (bin/quillset, share/quillset/...), and in the Windows tree beside a
// native build tree.
std::vector<std::string> BundledPlaces(const char* name, PeArch arch) {
  std::vector<std::string> places;
  std::string exe = PlatformExePath();
  if (exe.empty()) return places;
  std::string dir = PlatformFolderOf(exe);
  places.push_back(PlatformJoin(dir, name));
  places.push_back(PlatformNormalise(PlatformJoin(dir, std::string("../share/quillset/") + name)));
  places.push_back(PlatformNormalise(PlatformJoin(dir, std::string("../") + StubTree(arch) + "/" + name)));
  return places;
}

std::string FindBundled(const char* name, PeArch arch, std::string* searched) {
  for (const std::string& p : BundledPlaces(name, arch)) {
    if (PortableFileExists(p.c_str())) return p;
    *searched += "\n  " + p;
  }
  return "";
}

// Why a file cannot be written in folder, found by trying.
std::string WhyNotWritable(const std::string& folder) {
  if (!PlatformIsDirectory(folder.c_str())) return "the folder " + folder + " cannot be made";
  std::string probe = PlatformTemporarySibling(PlatformJoin(folder, "probe"));
  FILE* f = fopen(probe.c_str(), "wb");
  if (!f) return PlatformErrorText(errno);
  fclose(f);
  remove(probe.c_str());
  return "";
}

// The builder's failure in words, naming the file it reports.
std::string BuilderErrorText(EFSBUILDERERROR error, const std::string& file, int savedErrno,
                             const std::string& output) {
  std::string reason = savedErrno ? ": " + PlatformErrorText(savedErrno) : "";
  switch (error) {
    case EFSB_ERR_NOT_FOUND: return "file not found: " + file;
    case EFSB_ERR_OPEN: return "cannot open " + file + reason;
    case EFSB_ERR_IO: return "cannot read " + file;
    case EFSB_ERR_COPY:
    case EFSB_ERR_WRITE: {
      std::string why = WhyNotWritable(PlatformFolderOf(file));
      return "cannot write " + file + (why.empty() ? "" : ": " + why);
    }
    case EFSB_ERR_DISK_FULL: return "the disk is full: cannot write " + output;
    case EFSB_ERR_DUPLICATE: return "two files are named " + file + "; stored names must differ";
    case EFSB_ERR_COMPRESS: return "compression failed while writing " + output + " (out of memory?)";
    case EFSB_ERR_TOO_MANY:
      return "too many files for " + output + ": their list would take more than 64 MiB, which no setup " +
             "program reads; put some of them into an archive, or give them shorter names";
  }
  return "cannot build " + output;
}

// Progress bar on a terminal: percent, bytes and the file being written.
class TerminalProgress : public IEFSBuildProgress {
 public:
  explicit TerminalProgress(FILE* f) : m_File(f), m_Columns(PlatformTerminalColumns(f)) {}
  ~TerminalProgress() { Clear(); }

  void OnBytes(uint64_t done, uint64_t all, const char* entry) override {
    m_Done = done;
    m_All = all;
    if (entry) m_Entry = entry;
  }
  int OnProgress(int percent) override {
    double now = PlatformSeconds();
    if (percent < 100 && now - m_Last < 0.1) return 1;
    m_Last = now;
    const int width = 24;
    int filled = percent * width / 100;
    char line[512];
    int n = snprintf(line, sizeof line, "\r[%.*s%.*s] %3d%%  %.1f/%.1f MiB  ", filled,
                     "########################", width - filled, "........................",
                     percent, m_Done / 1048576.0, m_All / 1048576.0);
    std::string text(line, (size_t)n);
    text += m_Entry;
    size_t room = (size_t)std::max(m_Columns - 1, 20);
    if (text.size() - 1 > room) text.resize(room + 1);
    if (text.size() < m_Drawn) text.append(m_Drawn - text.size(), ' ');
    m_Drawn = text.size();
    fputs(text.c_str(), m_File);
    fflush(m_File);
    return 1;
  }
  void Clear() {
    if (!m_Drawn) return;
    fprintf(m_File, "\r%*s\r", (int)m_Drawn - 1, "");
    fflush(m_File);
    m_Drawn = 0;
  }

 private:
  FILE* m_File;
  int m_Columns;
  uint64_t m_Done = 0, m_All = 0;
  std::string m_Entry;
  double m_Last = -1;
  size_t m_Drawn = 0;
};

void PrintProblems(const std::string& project, std::vector<Diagnostic>& problems) {
  std::stable_sort(problems.begin(), problems.end(),
                   [](const Diagnostic& a, const Diagnostic& b) { return a.Line < b.Line; });
  for (const Diagnostic& d : problems) {
    if (d.Line == 0)  // about the build, not a line of the script
      fprintf(stderr, "quillset: %s%s\n", d.Warning ? "warning: " : "error: ", d.Message.c_str());
    else if (d.Column)
      fprintf(stderr, "%s:%d:%d: %s%s\n", project.c_str(), d.Line, d.Column, d.Warning ? "warning: " : "",
              d.Message.c_str());
    else
      fprintf(stderr, "%s:%d: %s%s\n", project.c_str(), d.Line, d.Warning ? "warning: " : "",
              d.Message.c_str());
  }
}

// --language: one table, several with commas (the first is the one the
// setup falls back to), or all of them.
int ParseLanguages(const std::string& value, BuildOptions* o) {
  o->Languages.clear();
  if (value == "all")
    for (const LanguageTable& t : LanguageTables()) o->Languages.push_back(&t);
  for (size_t at = 0; value != "all" && at <= value.size();) {
    size_t comma = value.find(',', at);
    if (comma == std::string::npos) comma = value.size();
    const std::string name = value.substr(at, comma - at);
    at = comma + 1;
    const LanguageTable* t = FindLanguage(name);
    if (!t) {
      std::string codes;
      for (const LanguageTable& l : LanguageTables()) codes += std::string(codes.empty() ? "" : ", ") + l.Code;
      return UsageError("build", "--language " + name + ": no such table; give one of " + codes +
                                     ", several with commas, or all (quillset languages lists them)");
    }
    if (std::find(o->Languages.begin(), o->Languages.end(), t) != o->Languages.end())
      return UsageError("build", "--language " + value + " names " + t->Code + " twice");
    o->Languages.push_back(t);
  }
  o->Language = o->Languages.front();
  return EXIT_OK;
}

// --codepage: a number this system can convert from.
bool ParseCodePage(const std::string& value, int* codePage) {
  std::string probe;
  const bool digits = !value.empty() && value.size() < 6 && value.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || !PlatformToUtf8("A", atoi(value.c_str()), &probe)) return false;
  *codePage = atoi(value.c_str());
  return true;
}

int ParseBuildOptions(const Arguments& args, BuildOptions* o) {
  COptionWalker walk("build", args);
  bool option;
  std::string text, value;
  while (walk.Next(&option, &text)) {
    if (!option) {
      if (!o->Project.empty()) return UsageError("build", "only one project script, please: " + text);
      o->Project = text;
    } else if (text == "-o" || text == "--output") {
      if (!walk.Value(&o->Output)) return EXIT_USAGE;
    } else if (text == "--stub") {
      if (!walk.Value(&o->Stub)) return EXIT_USAGE;
    } else if (text == "--arch") {
      if (!walk.Value(&value)) return EXIT_USAGE;
      if (value == "x86") o->Arch = PE_ARCH_X86;
      else if (value == "x64") o->Arch = PE_ARCH_X64;
      else return UsageError("build", "--arch " + value + ": give x86 (32-bit setup program) or x64 (64-bit)");
      o->ArchGiven = true;
    } else if (text == "--translations") {
      if (!walk.Value(&o->Translations)) return EXIT_USAGE;
    } else if (text == "--language") {
      if (!walk.Value(&value)) return EXIT_USAGE;
      if (int usage = ParseLanguages(value, o)) return usage;
    } else if (text == "--codepage") {
      if (!walk.Value(&value)) return EXIT_USAGE;
      if (!ParseCodePage(value, &o->CodePage))
        return UsageError("build", "--codepage " + value +
                                       ": give a Windows code page such as 1252, 1250, 1251, 932 or 936");
    } else if (text == "--store") {
      if (!walk.Flag()) return EXIT_USAGE;
      o->Compression = "stored";
    } else if (text == "--compression") {
      if (!walk.Value(&value)) return EXIT_USAGE;
      if (value != "zlib" && value != "lzma" && value != "stored")
        return UsageError("build", "--compression " + value + ": give zlib (the default), lzma or stored");
      o->Compression = value;
    } else if (text == "--split") {
      if (!walk.Value(&value)) return EXIT_USAGE;
      if (!ParseSize(value, &o->Split))
        return UsageError("build", "--split " + value + ": give a size such as 1440K, 100M or 4700000");
      if (o->Split < SPLIT_MIN_SIZE)
        return UsageError("build", "--split " + value + ": slices must hold at least " +
                                       std::to_string(SPLIT_MIN_SIZE) + " bytes");
    } else if (text == "-j" || text == "--threads") {
      if (!walk.Value(&value)) return EXIT_USAGE;
      uint64_t n = 0;
      if (!ParseSize(value, &n) || n < 1 || n > 256 || value.find_first_not_of("0123456789") != std::string::npos)
        return UsageError("build", text + " " + value + ": give a number from 1 to 256");
      o->Threads = (unsigned)n;
    } else if (text == "--sign") {
      if (!walk.Value(&o->Sign)) return EXIT_USAGE;
      if (!CheckSignCommand(o->Sign).empty()) return UsageError("build", CheckSignCommand(o->Sign));
    } else if (text == "-q" || text == "--quiet") {
      if (!walk.Flag()) return EXIT_USAGE;
      o->Quiet = 1;
    } else {
      return UsageError("build", "unknown option " + text);
    }
  }
  if (o->Project.empty()) return UsageError("build", "which project script? (quillset build PROJECT.qsp)");
  if (o->Language && !o->Translations.empty())
    return UsageError("build", "--language and --translations both choose the table: give one of them");
  return EXIT_OK;
}

// The stub must be a Windows program that is not itself a setup file or an
// uninstaller: its own signature would end a split join at the first slice.
// Asked for an architecture, it must be built for it.
std::string CheckStub(const std::string& stub, const BuildOptions& o) {
  FILE* f = fopen(stub.c_str(), "rb");
  if (!f) return "";  // the builder names it
  char mz[2] = {0, 0};
  size_t n = fread(mz, 1, 2, f);
  fclose(f);
  if (n != 2 || mz[0] != 'M' || mz[1] != 'Z')
    return stub + " is not a Windows program (no MZ header); give the setup program with --stub";
  SetupLayout layout;
  if (!ReadLayoutOfFile(stub.c_str(), &layout)) return "";  // the builder names it
  if (layout.Tail != SETUP_TAIL_NONE)
    return stub + " is " + (layout.Tail == SETUP_TAIL_INSTALLER ? "a built setup file" : "an uninstaller") +
           ", not the bare setup program";
  // A signature covers the program as it is: behind the container it would
  // be broken. Signing comes after the build.
  if (layout.CertificateSize)
    return stub + " is signed: give the unsigned setup program, and sign the built setup file";
  // Its first slice would look like a download cut short.
  if (layout.Damaged)
    return stub + " has " + std::to_string((unsigned long long)(layout.FileSize - layout.ProgramEnd)) +
           " bytes behind its program: not a bare setup program";
  PeArch arch = ReadArchOfFile(stub.c_str());
  if (o.ArchGiven && arch != PE_ARCH_UNKNOWN && arch != o.Arch)
    return stub + " is the " + PeArchName(arch) + " setup program, but --arch asks for " + PeArchName(o.Arch);
  return "";
}

// What a build works from and what it found wrong so far: problems of the
// script's lines (and warnings), and errors outside them.
struct BuildInputs {
  CProject Project;
  std::vector<Diagnostic> Problems;
  std::vector<ProjectSource> Sources;
  std::vector<std::string> Errors;
  std::string Stub;
  std::string Table;
  // the bundled table's language when Table is one, else null
  const LanguageTable* TableLanguage = nullptr;
  // the bundled tables of the other languages, in the order of --language
  std::vector<std::string> OtherTables;
  std::string Output;
  // the script and the table as stored, when they had to be converted
  std::vector<std::string> Converted;
};

// The setup program: given, or the bundled one of the architecture; checked
// by the builder and as a bare stub.
void FindStub(const BuildOptions& o, CEFSBuilder& builder, BuildInputs* in) {
  in->Stub = o.Stub;
  if (in->Stub.empty()) {
    std::string searched;
    in->Stub = FindBundled(StubName(o.Arch), o.Arch, &searched);
    if (in->Stub.empty())
      in->Errors.push_back("cannot find the setup program " + std::string(StubName(o.Arch)) +
                           "; looked in:" + searched + "\ngive it with --stub FILE");
  }
  if (in->Stub.empty()) return;
  try {
    builder.SetStubFile(in->Stub.c_str());
    std::string bad = CheckStub(in->Stub, o);
    if (!bad.empty()) in->Errors.push_back(bad);
  } catch (EFSBUILDERERROR e) {
    const EFSBuildFailure& f = builder.LastFailure();
    in->Errors.push_back("setup program: " + BuilderErrorText(e, f.File, f.SystemError, ""));
  }
}

// The translation table: given, a bundled language, the one beside the
// script, or the bundled English one.
void FindTable(const BuildOptions& o, BuildInputs* in) {
  in->Table = o.Translations;
  std::string beside = PlatformJoin(in->Project.Folder(), "Translations.ini");
  std::string searched;
  if (o.Language) {
    in->Table = FindBundled(o.Language->File, o.Arch, &searched);
    in->TableLanguage = o.Language;
    if (in->Table.empty())
      in->Errors.push_back("the " + std::string(o.Language->Name) + " table " + o.Language->File +
                           " is missing; looked in:" + searched);
    if (PortableFileExists(beside.c_str()))
      in->Problems.push_back({0, 1, beside + " is not used: --language " + o.Language->Code + " chooses the table"});
    // the others of a setup in several languages
    for (size_t i = 1; i < o.Languages.size(); ++i) {
      std::string path = FindBundled(o.Languages[i]->File, o.Arch, &searched);
      if (path.empty())
        in->Errors.push_back("the " + std::string(o.Languages[i]->Name) + " table " + o.Languages[i]->File +
                             " is missing; looked in:" + searched);
      in->OtherTables.push_back(path);
    }
  } else if (in->Table.empty()) {
    if (PortableFileExists(beside.c_str())) {
      in->Table = beside;
    } else {
      in->Table = FindBundled(kTableName, o.Arch, &searched);
      in->TableLanguage = FindLanguage("en");
      if (in->Table.empty())
        in->Errors.push_back("no Translations.ini beside " + o.Project +
                             " and the bundled English table is missing; looked in:" + searched +
                             "\ngive a table with --translations FILE");
    }
  }
}

// Everything the build reads: the script (and its files), the setup
// program, the table; a script that cannot be read ends the build here.
CommandResult FindInputs(const BuildOptions& o, CEFSBuilder& builder, BuildInputs* in) {
  CommandResult loaded = in->Project.Load(o.Project, o.CodePage);
  if (!loaded.Ok()) return loaded;
  in->Project.Check(&in->Problems, &in->Sources);
  FindStub(o, builder, in);
  FindTable(o, in);
  if (const int line = in->Project.LanguageDialogLine())
    if (in->OtherTables.empty())
      in->Problems.push_back(
          {line, 1, "ShowLanguageDialog = TRUE shows no dialog: the setup holds one language (--language a,b,... "
                    "puts in several)"});
  in->Output = o.Output.empty() ? PlatformJoin(in->Project.Folder(), "Setup.exe") : o.Output;
  return Succeeded();
}

// The method: the command line's, else the script's, else zlib.
std::string CompressionOf(const BuildOptions& o, const CProject& project) {
  if (!o.Compression.empty()) return o.Compression;
  std::string c = project.Compression();
  return c.empty() ? "zlib" : c;
}

// text written beside output for the builder to store in place of source,
// with source's file time (removed when the build ends); "" with *error when
// it cannot be written.
std::string WriteConverted(const std::string& text, const std::string& source, const std::string& output,
                           BuildInputs* in, std::string* error) {
  std::string path = PlatformTemporarySibling(output);
  PortableCreateParentFolders(path.c_str());  // as the build would
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) {
    *error = "cannot write " + path + ": " + PlatformErrorText(errno);
    return "";
  }
  PlatformCleanupAdd(path);
  in->Converted.push_back(path);
  const bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  uint64_t size = 0, time = 0;
  if (fclose(f) != 0 || !ok ||
      (PortableFileInfo(source.c_str(), &size, &time) && !PlatformSetFileTime(path.c_str(), time))) {
    *error = "cannot write " + path;
    return "";
  }
  return path;
}

// The setup program takes every text in UTF-8: a bundled table from the code
// page it is written in, a table of the author's as UTF-8 when it is that,
// else in --codepage. The file to store, or "" with *error.
std::string TableAsStored(const BuildOptions& o, const std::string& table, const LanguageTable* language,
                          BuildInputs* in, std::string* error) {
  FILE* f = fopen(table.c_str(), "rb");
  if (!f) return table;  // the builder names it
  std::string bytes;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  fclose(f);
  int codePage = language ? language->CodePage : 0;
  const std::string utf16 = codePage ? "" : Utf16Encoding(bytes);
  if (!utf16.empty()) {
    *error = table + " is " + utf16 + " text: save it as UTF-8";
    return "";
  }
  std::string utf8;
  if (!codePage && Utf8IsValid(bytes.data(), bytes.size())) {
    utf8 = bytes;
  } else if (!PlatformToUtf8(bytes, codePage ? codePage : o.CodePage, &utf8)) {
    *error = table + " is neither UTF-8 nor text of code page " + std::to_string(codePage ? codePage : o.CodePage) +
             "; give its code page with --codepage";
    return "";
  }
  for (const std::string& p : FindTextsTooLong(utf8)) in->Errors.push_back(table + ":" + p);
  if (utf8 == bytes) return table;  // UTF-8 or ASCII as it stands
  return WriteConverted(utf8, table, in->Output, in, error);
}

// Why bytes are no Windows bitmap the setup program can show, or "".
std::string BitmapProblem(const std::string& bytes) {
  auto u16 = [&](size_t at) { return (uint32_t)(unsigned char)bytes[at] | (uint32_t)(unsigned char)bytes[at + 1] << 8; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  if (bytes.empty()) return "the file is empty";
  if (bytes.size() < 26 || bytes[0] != 'B' || bytes[1] != 'M') return "it is not a Windows bitmap (.bmp)";
  const uint32_t header = u32(14), offset = u32(10);
  if (header != 12 && header != 40 && header != 52 && header != 56 && header != 108 && header != 124)
    return "its header is of no kind Windows reads (" + std::to_string(header) + " bytes)";
  if (bytes.size() < 14 + header) return "it is cut short: its header ends early";
  int64_t width, height;
  uint32_t bits, compression = 0;
  if (header == 12) {
    width = u16(18), height = (int16_t)u16(20), bits = u16(24);
  } else {
    width = (int32_t)u32(18), height = (int32_t)u32(22), bits = u16(28), compression = u32(30);
  }
  if (width <= 0 || height == 0) return "it has no pixels";
  if (height < 0) height = -height;
  if (width > 4096 || height > 4096)
    return std::to_string(width) + " x " + std::to_string(height) +
           " pixels is more than the setup program loads (at most 4096 a side); the wizard shows it far smaller";
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return std::to_string(bits) + " bits a pixel is no kind of bitmap Windows reads";
  // 0 plain, 1 and 2 run-length, 3 bit fields; JPEG and PNG inside a bitmap
  // are for printers only
  if (compression > 3) return "its pixels are compressed in a way the wizard cannot show (JPEG or PNG inside)";
  if (compression == 0 || compression == 3) {
    const uint64_t stride = ((uint64_t)width * bits + 31) / 32 * 4;
    if (offset > bytes.size() || bytes.size() - offset < stride * (uint64_t)height)
      return "it is cut short: its pixels end early";
  }
  return "";
}

// [Global] LicenseFile stored as UTF-8 (from the table's code page when it
// is not), WizardImage as it is once it reads as a bitmap; each refused at
// its line. The file to store for key, or "" (after its problem).
std::string WizardFile(const BuildOptions& o, const char* key, BuildInputs* in, int* line) {
  const std::string path = in->Project.Identity(key, line);
  if (path.empty()) return "";  // not given, or named empty already
  std::string bytes;
  int error = PlatformIsDirectory(path.c_str()) ? EISDIR : 0;
  if (FILE* f = error ? nullptr : fopen(path.c_str(), "rb")) {
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    if (ferror(f)) error = EIO;
    fclose(f);
  } else if (!error) {
    error = errno;
  }
  auto refuse = [&](const std::string& why) {
    in->Problems.push_back({*line, 0, std::string(key) + " " + path + ": " + why});
    return std::string();
  };
  if (error) {
    in->Problems.push_back({*line, 0, std::string(key) + ": cannot read " + path + ": " + PlatformErrorText(error)});
    return "";
  }
  if (std::string(key) == "WizardImage") {
    const std::string why = BitmapProblem(bytes);
    return why.empty() ? path : refuse(why);
  }
  const size_t read = bytes.size();
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  if (bytes.find_first_not_of(" \t\r\n") == std::string::npos) return refuse("the file holds no text");
  const std::string utf16 = Utf16Encoding(bytes);
  if (!utf16.empty()) return refuse("it is " + utf16 + " text: save it as UTF-8");
  std::string utf8;
  const int codePage = in->TableLanguage ? in->TableLanguage->CodePage : o.CodePage;
  if (Utf8IsValid(bytes.data(), bytes.size()))
    utf8 = bytes;
  else if (!PlatformToUtf8(bytes, codePage, &utf8))
    return refuse("it is neither UTF-8 nor text of code page " + std::to_string(codePage) +
                  "; save it as UTF-8, or give its code page with --codepage");
  if (utf8.size() == read) return path;  // UTF-8 as it stands
  std::string written;
  const std::string stored = WriteConverted(utf8, path, in->Output, in, &written);
  if (stored.empty()) in->Errors.push_back("LicenseFile: " + written);
  return stored;
}

// Hands the files to the builder, which checks each as it is added. A solid
// stream holds them in this order: what start-up reads (the script, the
// table, the pictures) first, then the [Files] order the installation
// reads them in.
void AddFiles(const BuildOptions& o, CEFSBuilder& builder, BuildInputs* in) {
  const std::string method = CompressionOf(o, in->Project);
  builder.SetCompression(method == "lzma" ? EFS_METHOD_LZMA : EFS_METHOD_ZLIB);
  const int compressed = method == "stored" ? 0 : 1;
  auto add = [&](const std::string& path, const char* name, int line, const char* what) {
    try {
      errno = 0;
      builder.AddFile(path.c_str(), compressed, name);
    } catch (EFSBUILDERERROR e) {
      const EFSBuildFailure& f = builder.LastFailure();
      std::string message = BuilderErrorText(e, f.File, f.SystemError, "");
      if (line)
        in->Problems.push_back({line, 0, message});
      else
        in->Errors.push_back(std::string(what) + ": " + message);
    }
  };
  std::string script = o.Project;
  // [Files] lines the setup program cannot take as written are stored as
  // the plain lines they stand for
  builder.SetLinesNameEntries(in->Project.LinesNameEntries() || in->Project.UsesLineFlags());
  const std::string& stored = in->Project.StoredText();
  if (in->Project.Rewritten() || !stored.empty()) {
    std::string error;
    script = WriteConverted(stored.empty() ? in->Project.Text() : stored, o.Project, in->Output, in, &error);
    if (script.empty()) in->Errors.push_back("project script: " + error);
  }
  if (!script.empty()) add(script, "default.qsp", 0, "project script");
  if (!in->Table.empty()) {
    std::string error;
    std::string table = TableAsStored(o, in->Table, in->TableLanguage, in, &error);
    if (table.empty())
      in->Errors.push_back("translation table: " + error);
    else
      add(table, "Translations.ini", 0, "translation table");
  }
  // Several languages: each also under its code, which the setup program
  // picks by the user's language; Translations.ini is the first listed.
  for (size_t i = 0; o.Languages.size() > 1 && i < o.Languages.size(); ++i) {
    const std::string& path = i ? in->OtherTables[i - 1] : in->Table;
    if (path.empty()) continue;  // named already
    std::string error;
    std::string table = TableAsStored(o, path, o.Languages[i], in, &error);
    const std::string name = std::string("Translations.") + o.Languages[i]->Code + ".ini";
    if (table.empty())
      in->Errors.push_back("translation table: " + error);
    else
      add(table, name.c_str(), 0, "translation table");
  }
  // the licence and the side picture, read before the wizard opens
  int line = 0;
  const std::string licence = WizardFile(o, "LicenseFile", in, &line);
  if (!licence.empty()) add(licence, EFS_LICENCE_ENTRY, line, "");
  const std::string image = WizardFile(o, "WizardImage", in, &line);
  if (!image.empty()) add(image, EFS_WIZARD_IMAGE_ENTRY, line, "");
  for (bool startup : {true, false})
    for (const ProjectSource& s : in->Sources)
      if (s.Startup == startup) add(s.Path, s.Name.c_str(), s.Line, "");
}

// The output must be a file that is none of the inputs.
void CheckOutput(const BuildOptions& o, BuildInputs* in) {
  const std::string& output = in->Output;
  if (PlatformIsDirectory(output.c_str()))
    in->Errors.push_back("the output " + output + " is a folder; give a file name with -o");
  for (const std::string& input : {o.Project, in->Table, in->Stub})
    if (!input.empty() && PlatformSamePath(input, output))
      in->Errors.push_back("the output " + output + " would overwrite an input of the build");
  for (const ProjectSource& s : in->Sources)
    if (PlatformSamePath(s.Path, output))
      in->Problems.push_back({s.Line, 0, "the output " + output + " would overwrite this source"});
}

// With --sign the setup file stores the signed uninstaller under its name.
void CheckSigned(const BuildOptions& o, BuildInputs* in) {
  if (o.Sign.empty()) return;
  for (const ProjectSource& s : in->Sources)
    if (EfsCompareNames(s.Name.c_str(), EFS_UNINSTALLER_ENTRY) == 0)
      in->Problems.push_back({s.Line, 0, "with --sign the setup file keeps its own signed " EFS_UNINSTALLER_ENTRY
                                         "; rename " + s.Path});
}

// The vendor's icon and version on a copy of the setup program, which the
// build (and the signed uninstaller) then takes as the program.
void BrandStub(CEFSBuilder& builder, BuildInputs* in) {
  // the icon is checked whatever else is wrong; the copy made only for a
  // build that goes on
  bool goesOn = in->Errors.empty();
  for (const Diagnostic& d : in->Problems) goesOn = goesOn && d.Warning;
  std::string image;
  if (!BrandedProgram(in->Project, goesOn ? in->Stub : "", &in->Problems, &in->Errors, &image)) return;
  std::string error;
  const std::string path = WriteConverted(image, in->Stub, in->Output, in, &error);
  try {
    if (!path.empty()) builder.SetStubFile(path.c_str());
  } catch (EFSBUILDERERROR e) {
    error = BuilderErrorText(e, path, builder.LastFailure().SystemError, "");
  }
  if (!error.empty()) return in->Errors.push_back("setup program: " + error);
  in->Stub = path;
}

// Every problem found, told at once; the build goes on only without errors.
CommandResult CheckInputs(const BuildOptions& o, CEFSBuilder& builder, BuildInputs* in) {
  if (in->Project.IsScript()) AddFiles(o, builder, in);  // else nothing more to say
  CheckOutput(o, in);
  CheckSigned(o, in);
  if (in->Project.IsScript()) BrandStub(builder, in);
  int count = (int)in->Errors.size();
  for (const Diagnostic& d : in->Problems) count += !d.Warning;
  PrintProblems(o.Project, in->Problems);
  for (const std::string& e : in->Errors) fprintf(stderr, "quillset: error: %s\n", e.c_str());
  if (!count) return Succeeded();
  fprintf(stderr, "quillset: %d problem%s, nothing written\n", count, count == 1 ? "" : "s");
  return {EXIT_INPUT, ""};
}

// A file built beside the output: removed unless published, so that a failed
// build leaves an earlier setup file as it was.
class TemporaryOutput {
 public:
  explicit TemporaryOutput(const std::string& output) : m_Path(PlatformTemporarySibling(output)) {
    PlatformCleanupAdd(m_Path);
  }
  ~TemporaryOutput() {
    if (!m_Kept) PlatformRemoveFile(m_Path.c_str());
    PlatformCleanupRemove(m_Path);
  }
  const std::string& Path() const { return m_Path; }
  // It has become the output: nothing to remove.
  void Keep() { m_Kept = true; }

 private:
  std::string m_Path;
  bool m_Kept = false;
};

CommandResult BuildInto(const BuildOptions& o, CEFSBuilder& builder, const std::string& temporary,
                        const std::string& output, unsigned threads) {
  builder.SetThreads(threads);
  TerminalProgress bar(stderr);
  bool drawBar = !o.Quiet && PlatformIsTerminal(stderr);
  int built = 0;
  std::string failure;
  try {
    built = builder.Build(temporary.c_str(), drawBar ? &bar : nullptr, InstallerSignature);
  } catch (EFSBUILDERERROR e) {
    std::string file = builder.LastFailure().File;
    if (file == temporary) file = output;
    failure = BuilderErrorText(e, file, 0, output);
  }
  bar.Clear();
  if (failure.empty() && !built) failure = "the build was cancelled";
  return failure.empty() ? Succeeded() : InputFailure(failure);
}

// The uninstaller, signed, stored for the setup to install; last in the
// file, as the setup reads it last.
CommandResult StoreSignedUninstaller(const BuildOptions& o, CEFSBuilder& builder, const BuildInputs& in,
                                     const std::string& image) {
  CommandResult made = MakeSignedUninstaller(o.Sign, in.Stub, image);
  if (!made.Ok()) return made;
  try {
    builder.AddFile(image.c_str(), CompressionOf(o, in.Project) == "stored" ? 0 : 1, EFS_UNINSTALLER_ENTRY);
  } catch (EFSBUILDERERROR e) {
    const EFSBuildFailure& f = builder.LastFailure();
    return InputFailure("the signed uninstaller: " + BuilderErrorText(e, f.File, f.SystemError, ""));
  }
  return Succeeded();
}

// Puts the built file in place: renamed to the output, or cut into slices.
CommandResult Publish(const BuildOptions& o, TemporaryOutput& temporary, const std::string& output,
                      uint64_t stubSize, uint64_t fileSize, std::vector<std::string>* slices) {
  const std::string& file = temporary.Path();
  if (!o.Split) {
    if (!o.Sign.empty()) {
      CommandResult signedFile = SignProgram(o.Sign, file, output);
      if (!signedFile.Ok()) return signedFile;
    }
    if (!PlatformReplaceFile(file.c_str(), output.c_str())) {
      int saved = errno;
      return InputFailure("cannot write " + output + ": " + PlatformErrorText(saved));
    }
    temporary.Keep();
    return Succeeded();
  }
  std::vector<uint64_t> ends;
  CommandResult planned = PlanSlices(file, stubSize, fileSize, o.Split, &ends);
  if (!planned.Ok()) return planned;
  if (ends.size() > SPLIT_MAX_SLICES)
    return {UsageError("build", "--split " + std::to_string(o.Split) + " would need " +
                                    std::to_string(ends.size()) + " slices; a split setup has at most " +
                                    std::to_string((int)SPLIT_MAX_SLICES) + ": give a larger SIZE"),
            ""};
  // the first slice is signed before any slice takes its name
  std::function<CommandResult(const std::string&)> sign;
  if (!o.Sign.empty()) sign = [&](const std::string& first) { return SignProgram(o.Sign, first, output); };
  return WriteSlices(file, stubSize, ends, output, slices, sign);
}

uint64_t SizeOfFile(const std::string& path) {
  uint64_t size = 0;
  FILE* f = fopen(path.c_str(), "rb");
  if (f) {
    size = (uint64_t)PlatformFileSize(f);
    fclose(f);
  }
  return size;
}

struct BuildFigures {
  uint64_t FileSize;
  uint64_t StubSize;
  unsigned Threads;
  double Started;
};

void PrintSummary(const BuildOptions& o, const CEFSBuilder& builder, const BuildInputs& in,
                  const BuildFigures& f, const std::vector<std::string>& slices) {
  uint64_t total = builder.GetTotal();
  uint64_t out = f.FileSize - f.StubSize;
  printf("%s: setup file with %u entries\n", in.Output.c_str(), (unsigned)builder.GetEntryCount());
  printf("  setup program  %s, %s\n", Bytes(f.StubSize).c_str(), ArchLabel(ReadArchOfFile(in.Stub.c_str())));
  printf("  payload in     %s\n", Bytes(total).c_str());
  printf("  payload out    %s, %.1f %% of the input (%s)\n", Bytes(out).c_str(),
         total ? 100.0 * (double)out / (double)total : 100.0,
         builder.GetCompression() == EFS_METHOD_LZMA ? "lzma, one solid stream" : "zlib or stored, file by file");
  printf("  file           %s, built in %.2f s on %u thread%s\n", Bytes(f.FileSize).c_str(),
         PlatformSeconds() - f.Started, f.Threads, f.Threads == 1 ? "" : "s");
  if (slices.empty()) return;
  printf("  slices         %s (the setup program alone)", slices[0].c_str());
  if (slices.size() > 1)
    printf(", %s to %s of at most %s", slices[1].c_str(), slices.back().c_str(), Bytes(o.Split).c_str());
  printf("\n");
}

// A numbered slice past the last one written is from another build.
void WarnOfStaleSlice(const std::string& output, const std::vector<std::string>& slices) {
  if (slices.empty()) return;
  std::string stale = SliceName(output, (int)slices.size());
  if (PortableFileExists(stale.c_str()))
    fprintf(stderr, "quillset: warning: %s is left from an earlier build; the setup program never reads it\n",
            stale.c_str());
}

}  // namespace

int RunBuild(const Arguments& args) {
  BuildOptions o;
  int usage = ParseBuildOptions(args, &o);
  if (usage != EXIT_OK) return usage;
  BuildFigures figures = {0, 0, 0, PlatformSeconds()};

  CEFSBuilder builder;
  BuildInputs in;
  struct RemoveConverted {
    BuildInputs& In;
    ~RemoveConverted() {
      for (const std::string& p : In.Converted) {
        PlatformRemoveFile(p.c_str());
        PlatformCleanupRemove(p);
      }
    }
  } removeConverted{in};
  CommandResult result = FindInputs(o, builder, &in);
  if (result.Ok()) result = CheckInputs(o, builder, &in);
  if (!result.Ok()) return Finish(result);

  figures.Threads = o.Threads ? o.Threads : std::min(PlatformProcessors(), 16u);
  // the solid stream is one encoder's work, and its match finder's
  if (builder.GetCompression() == EFS_METHOD_LZMA) figures.Threads = std::min(figures.Threads, 2u);
  TemporaryOutput image(in.Output);  // the signed uninstaller, with --sign
  if (!o.Sign.empty()) result = StoreSignedUninstaller(o, builder, in, image.Path());
  if (!result.Ok()) return Finish(result);
  TemporaryOutput temporary(in.Output);
  result = BuildInto(o, builder, temporary.Path(), in.Output, figures.Threads);
  if (!result.Ok()) return Finish(result);
  figures.StubSize = builder.GetStubSize();
  figures.FileSize = SizeOfFile(temporary.Path());
  std::vector<std::string> slices;
  result = Publish(o, temporary, in.Output, figures.StubSize, figures.FileSize, &slices);
  if (!result.Ok()) return Finish(result);
  if (!o.Sign.empty() && !o.Split) figures.FileSize = SizeOfFile(in.Output);  // with its signature
  if (!o.Quiet) PrintSummary(o, builder, in, figures, slices);
  WarnOfStaleSlice(in.Output, slices);
  return EXIT_OK;
}

int RunLanguages(const Arguments& args) {
  COptionWalker walk("languages", args);
  bool option;
  std::string text;
  while (walk.Next(&option, &text))
    return UsageError("languages", option ? "unknown option " + text : "takes no arguments: " + text);
  printf("%-7s %-20s %-10s %s\n", "CODE", "LANGUAGE", "CODE PAGE", "TABLE");
  int missing = 0;
  for (const LanguageTable& t : LanguageTables()) {
    std::string searched;
    std::string path = FindBundled(t.File, PE_ARCH_X86, &searched);
    if (path.empty()) ++missing;
    printf("%-7s %-20s %-10d %s\n", t.Code, t.Name, t.CodePage, path.empty() ? (std::string(t.File) + " (missing)").c_str() : path.c_str());
  }
  printf("\nquillset build --language CODE stores that table (--language de,ja,en or all:\n"
         "several, the setup picks the user's). A table is written in the code page shown;\n"
         "the command stores it in UTF-8, which every Windows reads.\n");
  if (missing) fprintf(stderr, "quillset: error: %d table%s missing\n", missing, missing == 1 ? " is" : "s are");
  return missing ? EXIT_INPUT : EXIT_OK;
}
