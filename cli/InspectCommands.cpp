// quillset list, verify and extract: reading setup files.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "cli/Commands.h"
#include "cli/Platform.h"
#include "cli/SetupFile.h"
#include "cli/Split.h"
#include "common/Mbcs.h"
#include "efs/SliceRecord.h"

namespace {

// The operand SETUP and the options of an inspecting command.
struct InspectOptions {
  std::string Setup;
  std::string Directory = ".";
  std::vector<std::string> Names;
  int Quiet = 0;
};

int Parse(const char* command, const Arguments& args, bool takesDirectory, bool takesNames,
          bool takesQuiet, InspectOptions* o) {
  COptionWalker walk(command, args);
  bool option;
  std::string text;
  while (walk.Next(&option, &text)) {
    if (!option) {
      if (o->Setup.empty())
        o->Setup = text;
      else if (takesNames)
        o->Names.push_back(text);
      else
        return UsageError(command, "one setup file only, please: " + text);
    } else if (takesDirectory && (text == "-d" || text == "--directory")) {
      if (!walk.Value(&o->Directory)) return EXIT_USAGE;
    } else if (takesQuiet && (text == "-q" || text == "--quiet")) {
      if (!walk.Flag()) return EXIT_USAGE;
      o->Quiet = 1;
    } else {
      return UsageError(command, "unknown option " + text);
    }
  }
  if (o->Setup.empty()) return UsageError(command, "which setup file?");
  return EXIT_OK;
}

int OpenSetup(const std::string& path, CSetupFile* setup) {
  CommandResult opened = setup->Open(path.c_str());
  if (opened.Ok()) return 1;
  Finish(opened);
  return 0;
}

// A file cut short is said so, with its byte count; 1 when it was.
int ReportDamage(const std::string& path, const CSetupFile& setup) {
  if (setup.Kind() != FILEKIND_DAMAGED) return 0;
  fprintf(stderr, "quillset: error: %s is %s\n", path.c_str(), DamageText(setup.Layout()).c_str());
  return 1;
}

class CountingSink : public IEntrySink {
 public:
  uint64_t Bytes = 0;
  int Write(const unsigned char*, uint32_t n) override {
    Bytes += n;
    return 1;
  }
};

class FileSink : public IEntrySink {
 public:
  explicit FileSink(FILE* f) : m_File(f) {}
  int Failed = 0;
  int Write(const unsigned char* data, uint32_t n) override {
    if (fwrite(data, 1, n, m_File) == n) return 1;
    Failed = errno ? errno : EIO;
    return 0;
  }

 private:
  FILE* m_File;
};

// An entry name from a setup file must not reach outside the folder.
bool SafeName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name)
    if (c == '/' || c == '\\' || c == ':' || (unsigned char)c < 32) return false;
  return true;
}

// An entry's name as list prints it: in UTF-8, as the command stores names;
// one of an older setup file, stored in an ANSI code page, read as 1252.
std::string PrintedName(const char* name) {
  std::string utf8;
  if (Utf8IsValid(name, strlen(name)) || !PlatformToUtf8(name, 1252, &utf8)) return name;
  return utf8;
}

// Characters of UTF-8 text, which is what the columns line up by.
size_t Columns(const std::string& utf8) {
  size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

}  // namespace

int RunList(const Arguments& args) {
  InspectOptions o;
  int usage = Parse("list", args, false, false, false, &o);
  if (usage != EXIT_OK) return usage;
  CSetupFile setup;
  if (!OpenSetup(o.Setup, &setup)) return EXIT_INPUT;
  printf("%s: %s (%s), setup program %llu bytes", o.Setup.c_str(), SetupKindName(setup.Kind()),
         ArchLabel(setup.Arch()), (unsigned long long)setup.StubSize());
  if (setup.Kind() != FILEKIND_INSTALLER) {
    printf("\n%s: %s\n", o.Setup.c_str(), SignatureText(setup.Layout()).c_str());
    if (ReportDamage(o.Setup, setup)) return EXIT_INPUT;
    if (setup.Kind() == FILEKIND_NONE && setup.Layout().SliceRecordSize)
      printf("no stored files: the first slice of a split setup, with a record of its %u slices (verify checks them)\n",
             (unsigned)((setup.Layout().SliceRecordSize - SLICE_RECORD_FIXED_SIZE) / SHA256_SIZE));
    else if (setup.Kind() == FILEKIND_NONE)
      printf("no stored files (a setup program alone, or the first slice of a split setup)\n");
    return EXIT_OK;
  }
  printf(", %u entries\n", (unsigned)setup.Entries().size());
  printf("%s: %s\n", o.Setup.c_str(), SignatureText(setup.Layout()).c_str());
  size_t width = 4;
  for (const EfsEntry& e : setup.Entries()) width = std::max(width, Columns(PrintedName(e.Name)));
  const EfsSolidHeader* solid = setup.Solid();
  if (solid) {
    printf("%s: one solid LZMA stream of %llu bytes at offset %llu, %llu bytes of content "
           "(%.1f %%), dictionary %u bytes; directory %u bytes, compressed to %u\n",
           o.Setup.c_str(), (unsigned long long)solid->StreamSize, (unsigned long long)solid->DataOffset,
           (unsigned long long)solid->ContentSize,
           solid->ContentSize ? 100.0 * (double)solid->StreamSize / (double)solid->ContentSize : 100.0,
           (unsigned)EfsLzmaDictionarySize(solid->StreamProps), (unsigned)solid->DirectorySize,
           (unsigned)solid->DirectoryStoredSize);
  }
  // a solid entry has no stored size of its own: its size is the content's
  printf("%-*s  %10s  %-6s  %-8s  %s\n", (int)width, "NAME", solid ? "SIZE" : "STORED", "METHOD", "CRC-32",
         "TIME (UTC)");
  for (const EfsEntry& e : setup.Entries()) {
    const std::string name = PrintedName(e.Name);
    printf("%s%*s  %10llu  %-6s  %08x  %s\n", name.c_str(), (int)(width - Columns(name)), "",
           (unsigned long long)e.StoredSize, EfsMethodName(e.Method), e.Crc, FileTimeToIso(e.Time).c_str());
  }
  return EXIT_OK;
}

int RunVerify(const Arguments& args) {
  InspectOptions o;
  int usage = Parse("verify", args, false, false, true, &o);
  if (usage != EXIT_OK) return usage;
  CSetupFile setup;
  if (!OpenSetup(o.Setup, &setup)) return EXIT_INPUT;
  if (ReportDamage(o.Setup, setup)) return EXIT_INPUT;
  if (setup.Kind() == FILEKIND_NONE && setup.Layout().SliceRecordSize)
    return VerifySlices(o.Setup, setup.Layout(), o.Quiet);
  if (setup.Kind() != FILEKIND_INSTALLER) {
    fprintf(stderr, "quillset: error: %s is %s: it stores no files to verify%s\n", o.Setup.c_str(),
            setup.Kind() == FILEKIND_UNINSTALLER ? "an uninstaller" : "a bare stub",
            setup.Kind() == FILEKIND_NONE ? " (a split setup is verified once its slices are joined)" : "");
    return EXIT_INPUT;
  }
  int bad = 0;
  for (size_t i : setup.EntriesInStreamOrder()) {
    const EfsEntry& e = setup.Entries()[i];
    CountingSink sink;
    EfsDecodeResult r = setup.Decode(e, sink);
    if (r == EFS_DECODE_OK) {
      if (!o.Quiet) printf("ok    %s (%llu bytes)\n", e.Name, (unsigned long long)sink.Bytes);
    } else {
      ++bad;
      fprintf(stderr, "%s: %s: %s\n", o.Setup.c_str(), e.Name, DecodeResultText(r));
    }
  }
  if (bad) {
    fprintf(stderr, "quillset: %d of %u entries are damaged\n", bad, (unsigned)setup.Entries().size());
    return EXIT_INPUT;
  }
  if (!o.Quiet) {
    // The certificates themselves are for the signing tools to check.
    printf("%s: %s%s\n", o.Setup.c_str(), SignatureText(setup.Layout()).c_str(),
           setup.CertificateSize() ? " (osslsigncode verify or signtool verify checks it)" : "");
    printf("%s: all %u entries are sound (%s setup program)\n", o.Setup.c_str(),
           (unsigned)setup.Entries().size(), ArchLabel(setup.Arch()));
  }
  return EXIT_OK;
}

namespace {

// The entries named (all when none is), in the order their data lies so a
// solid stream is read once; 0 after telling which names are not stored.
int ChooseEntries(const InspectOptions& o, const CSetupFile& setup, std::vector<size_t>* chosen) {
  int problems = 0;
  if (o.Names.empty()) {
    for (size_t i = 0; i < setup.Entries().size(); ++i) chosen->push_back(i);
  } else {
    for (const std::string& name : o.Names) {
      int i = setup.Find(name.c_str());
      if (i < 0) {
        fprintf(stderr, "quillset: error: %s stores no file named %s\n", o.Setup.c_str(), name.c_str());
        ++problems;
      } else {
        chosen->push_back((size_t)i);
      }
    }
    if (problems) return 0;
  }
  std::vector<size_t> order = setup.EntriesInStreamOrder();
  std::vector<size_t> rank(order.size());
  for (size_t k = 0; k < order.size(); ++k) rank[order[k]] = k;
  std::stable_sort(chosen->begin(), chosen->end(), [&](size_t a, size_t b) { return rank[a] < rank[b]; });
  return 1;
}

// One entry into o.Directory; 0 after telling why not.
int ExtractEntry(const InspectOptions& o, CSetupFile& setup, const EfsEntry& e) {
  if (!SafeName(e.Name)) {
    fprintf(stderr, "quillset: error: %s: refusing the stored name \"%s\": it is not a plain file name\n",
            o.Setup.c_str(), e.Name);
    return 0;
  }
  std::string target = PlatformJoin(o.Directory, e.Name);
  // written beside the target and renamed once the CRC has passed, so a
  // damaged entry never replaces a good file
  std::string temporary = PlatformTemporarySibling(target);
  PlatformCleanupAdd(temporary);
  FILE* f = fopen(temporary.c_str(), "wb");
  if (!f) {
    fprintf(stderr, "quillset: error: cannot write %s: %s\n", target.c_str(), PlatformErrorText(errno).c_str());
    PlatformCleanupRemove(temporary);
    return 0;
  }
  FileSink sink(f);
  EfsDecodeResult r = setup.Decode(e, sink);
  int closed = fclose(f) == 0;
  std::string why;
  if (r == EFS_DECODE_WRITE_FAILED || (r == EFS_DECODE_OK && !closed))
    why = "cannot write " + target + (sink.Failed ? ": " + PlatformErrorText(sink.Failed) : "");
  else if (r != EFS_DECODE_OK)
    why = o.Setup + ": " + e.Name + ": " + DecodeResultText(r);
  else if (!PlatformSetFileTime(temporary.c_str(), e.Time))
    why = "cannot set the file time of " + target;
  else if (!PlatformReplaceFile(temporary.c_str(), target.c_str()))
    why = "cannot write " + target + ": " + PlatformErrorText(errno);
  if (!why.empty()) {
    PlatformRemoveFile(temporary.c_str());
    fprintf(stderr, "quillset: error: %s\n", why.c_str());
  } else if (!o.Quiet) {
    printf("%s\n", target.c_str());
  }
  PlatformCleanupRemove(temporary);
  return why.empty();
}

}  // namespace

int RunExtract(const Arguments& args) {
  InspectOptions o;
  int usage = Parse("extract", args, true, true, true, &o);
  if (usage != EXIT_OK) return usage;
  CSetupFile setup;
  if (!OpenSetup(o.Setup, &setup)) return EXIT_INPUT;
  if (ReportDamage(o.Setup, setup)) return EXIT_INPUT;
  if (setup.Kind() != FILEKIND_INSTALLER) {
    fprintf(stderr, "quillset: error: %s is %s: it stores no files\n", o.Setup.c_str(),
            setup.Kind() == FILEKIND_UNINSTALLER ? "an uninstaller" : "a bare stub");
    return EXIT_INPUT;
  }
  std::vector<size_t> chosen;
  if (!ChooseEntries(o, setup, &chosen)) return EXIT_INPUT;
  if (!PlatformMakeFolders(o.Directory.c_str())) {
    fprintf(stderr, "quillset: error: cannot make the folder %s: %s\n", o.Directory.c_str(),
            PlatformErrorText(errno).c_str());
    return EXIT_INPUT;
  }
  int problems = 0;
  for (size_t i : chosen)
    if (!ExtractEntry(o, setup, setup.Entries()[i])) ++problems;
  return problems ? EXIT_INPUT : EXIT_OK;
}
