#include "cli/Split.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "cli/Platform.h"
#include "efs/EfsFormat.h"
#include "efs/PortableFile.h"
#include "efs/SetupLayout.h"
#include "efs/SliceRecord.h"

std::string SliceName(const std::string& out, int n) {
  size_t nameStart = 0;
  for (size_t i = 0; i < out.size(); ++i)
    if (PlatformIsSeparator(out[i]) || out[i] == '\\' || out[i] == '/') nameStart = i + 1;
  size_t dot = out.rfind('.');
  std::string base = (dot != std::string::npos && dot > nameStart) ? out.substr(0, dot) : out;
  char number[16];
  snprintf(number, sizeof number, ".%03d", n);
  return base + number;
}

namespace {

// The bytes [from, to) of a file, as the setup program sees a slice.
class SliceReader : public IEfsFileReader {
 public:
  SliceReader(FILE* f, uint64_t from) : m_File(f), m_From(from) {}
  int ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) override {
    return PlatformSeek(m_File, m_From + offset) && fread(buffer, 1, n, m_File) == n;
  }

 private:
  FILE* m_File;
  uint64_t m_From;
};

// Whether the setup program would take the slice [from, to) for the last.
int SliceEndsTheJoin(FILE* f, uint64_t from, uint64_t to, int* result) {
  SliceReader reader(f, from);
  SetupLayout layout;
  if (!ReadSetupLayout(reader, to - from, &layout)) return 0;
  *result = layout.Tail == SETUP_TAIL_INSTALLER;
  return 1;
}

}  // namespace

CommandResult PlanSlices(const std::string& file, uint64_t stubSize, uint64_t fileSize, uint64_t size,
                         std::vector<uint64_t>* ends) {
  FILE* f = fopen(file.c_str(), "rb");
  if (!f) return InputFailure("cannot read " + file + ": " + PlatformErrorText(errno));
  ends->clear();
  uint64_t at = stubSize;
  while (fileSize - at > size) {
    uint64_t cut = at + size;
    // the last slice keeps at least 16 bytes: the signature that ends the join
    if (fileSize - cut < EFS_SIGNATURE_SIZE) cut = fileSize - EFS_SIGNATURE_SIZE;
    // a stored setup file could put the signature right at a cut (or right
    // before a certificate table that ends there); a byte less cannot
    for (int last = 1; last && cut - at > 1;) {
      if (!SliceEndsTheJoin(f, at, cut, &last)) {
        fclose(f);
        return InputFailure("cannot read " + file);
      }
      if (last) --cut;
    }
    ends->push_back(cut);
    at = cut;
  }
  ends->push_back(fileSize);
  fclose(f);
  return Succeeded();
}

namespace {

struct Piece {
  std::string Final;
  std::string Temporary;
};

// Copies [from, to) of in to target, hashed into digest when given, with
// trailer behind it.
int CopyRange(FILE* in, uint64_t from, uint64_t to, const std::string& target, std::string* error,
              unsigned char* digest = nullptr, const std::vector<unsigned char>& trailer = {}) {
  CSha256 hash;
  FILE* out = fopen(target.c_str(), "wb");
  if (!out) {
    *error = "cannot write " + target + ": " + PlatformErrorText(errno);
    return 0;
  }
  static unsigned char buffer[65536];
  int ok = PlatformSeek(in, from);
  uint64_t left = to - from;
  while (ok && left) {
    size_t n = left < sizeof buffer ? (size_t)left : sizeof buffer;
    if (fread(buffer, 1, n, in) != n) {
      *error = "cannot read the built setup file";
      ok = 0;
      break;
    }
    if (fwrite(buffer, 1, n, out) != n) {
      ok = -1;
      break;
    }
    hash.Update(buffer, n);
    left -= n;
  }
  if (ok > 0 && !trailer.empty() && fwrite(trailer.data(), 1, trailer.size(), out) != trailer.size()) ok = -1;
  if (digest) hash.Final(digest);
  if (ok > 0 && fflush(out) != 0) ok = -1;
  int full = ok < 0 && PortableLastErrorWasDiskFull();
  if (fclose(out) != 0 && ok > 0) {
    ok = -1;
    full = PortableLastErrorWasDiskFull();
  }
  if (ok < 0) *error = full ? "the disk is full: cannot write " + target : "cannot write " + target;
  return ok > 0;
}

// Renames the written pieces to their names. An earlier set stays as it was
// until the new one is whole: its files go aside first and come back when
// any rename fails, as a single-file build leaves an earlier OUT.
int PutInPlace(std::vector<Piece>& pieces, std::string* error) {
  std::vector<std::pair<std::string, std::string>> aside;  // final, its place aside
  int ok = 1;
  for (size_t i = 0; i < pieces.size() && ok; ++i) {
    const std::string& name = pieces[i].Final;
    if (PlatformIsDirectory(name.c_str())) {
      *error = "cannot write " + name + ": it is a folder";
      ok = 0;
    } else if (PortableFileExists(name.c_str())) {
      std::string spare = PlatformTemporarySibling(name);
      if (PlatformReplaceFile(name.c_str(), spare.c_str())) {
        PlatformCleanupAdd(spare);
        aside.push_back({name, spare});
      } else {
        *error = "cannot write " + name + ": " + PlatformErrorText(errno);
        ok = 0;
      }
    }
  }
  size_t placed = 0;
  while (ok && placed < pieces.size()) {
    if (PlatformReplaceFile(pieces[placed].Temporary.c_str(), pieces[placed].Final.c_str())) {
      ++placed;
    } else {
      *error = "cannot write " + pieces[placed].Final + ": " + PlatformErrorText(errno);
      ok = 0;
    }
  }
  // a partial set cannot install: the new ones go, the earlier ones return
  if (!ok)
    for (size_t j = 0; j < placed; ++j) PlatformRemoveFile(pieces[j].Final.c_str());
  for (const auto& a : aside) {
    if (!ok) PlatformReplaceFile(a.second.c_str(), a.first.c_str());
    else PlatformRemoveFile(a.second.c_str());
    PlatformCleanupRemove(a.second);
  }
  return ok;
}

}  // namespace

CommandResult WriteSlices(const std::string& file, uint64_t stubSize, const std::vector<uint64_t>& ends,
                          const std::string& out, std::vector<std::string>* written,
                          const std::function<CommandResult(const std::string&)>& finishFirst) {
  FILE* in = fopen(file.c_str(), "rb");
  if (!in) return InputFailure("cannot read " + file + ": " + PlatformErrorText(errno));
  std::string message;
  std::string* error = &message;
  std::vector<Piece> pieces;
  pieces.push_back({out, PlatformTemporarySibling(out)});
  for (size_t i = 0; i < ends.size(); ++i) {
    std::string name = SliceName(out, (int)i + 1);
    pieces.push_back({name, PlatformTemporarySibling(name)});
  }
  int ok = 1;
  // The numbered slices first: their digests go into the record behind the
  // setup program in OUT, which binds them to it.
  std::vector<unsigned char> digests(ends.size() * SHA256_SIZE);
  std::vector<unsigned char> record;
  for (size_t k = 1; k <= pieces.size() && ok; ++k) {
    const size_t i = k % pieces.size();  // OUT last
    const uint64_t from = i == 0 ? 0 : i == 1 ? stubSize : ends[i - 2];
    const uint64_t to = i == 0 ? stubSize : ends[i - 1];
    if (i == 0) {
      record.resize(SliceRecordSize((uint32_t)ends.size()));
      WriteSliceRecord(record.data(), (uint32_t)ends.size(), digests.data());
    }
    PlatformCleanupAdd(pieces[i].Temporary);
    ok = CopyRange(in, from, to, pieces[i].Temporary, error, i ? &digests[(i - 1) * SHA256_SIZE] : nullptr, record);
    // a message names the slice, not its temporary name
    if (!ok) {
      size_t at = error->find(pieces[i].Temporary);
      if (at != std::string::npos) error->replace(at, pieces[i].Temporary.size(), pieces[i].Final);
    }
  }
  fclose(in);
  if (ok && finishFirst) {
    CommandResult finished = finishFirst(pieces[0].Temporary);
    ok = finished.Ok();
    if (!ok) message = finished.Message;
  }
  if (ok) ok = PutInPlace(pieces, error);
  for (Piece& p : pieces) {
    if (!ok) PlatformRemoveFile(p.Temporary.c_str());
    PlatformCleanupRemove(p.Temporary);
    if (ok) written->push_back(p.Final);
  }
  if (ok) return Succeeded();
  written->clear();
  return InputFailure(message);
}

namespace {

// The SHA-256 of a whole file; 0 when it cannot be read.
int HashFile(const std::string& path, unsigned char digest[SHA256_SIZE]) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return 0;
  CSha256 hash;
  static unsigned char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) hash.Update(buffer, n);
  const int ok = !ferror(f);
  fclose(f);
  hash.Final(digest);
  return ok;
}

}  // namespace

int VerifySlices(const std::string& first, const SetupLayout& layout, int quiet) {
  std::vector<unsigned char> record(layout.SliceRecordSize);
  FILE* f = fopen(first.c_str(), "rb");
  int read = f && PlatformSeek(f, layout.End - layout.SliceRecordSize) &&
             fread(record.data(), 1, record.size(), f) == record.size();
  if (f) fclose(f);
  const uint32_t count = read ? SliceRecordCount(record.data(), (uint32_t)record.size()) : 0;
  if (!count) {
    fprintf(stderr, "quillset: error: cannot read the slice record of %s\n", first.c_str());
    return EXIT_INPUT;
  }
  int bad = 0;
  for (uint32_t n = 1; n <= count; ++n) {
    const std::string name = SliceName(first, (int)n);
    unsigned char digest[SHA256_SIZE];
    if (!PortableFileExists(name.c_str()) || !HashFile(name, digest)) {
      fprintf(stderr, "%s: missing or unreadable\n", name.c_str());
      ++bad;
    } else if (memcmp(digest, SliceRecordDigest(record.data(), n), SHA256_SIZE) != 0) {
      fprintf(stderr, "%s: not the slice %s was built with (another build's, or damaged)\n", name.c_str(),
              first.c_str());
      ++bad;
    } else if (!quiet) {
      printf("ok    %s\n", name.c_str());
    }
  }
  if (bad) {
    fprintf(stderr, "quillset: %d of %u slices of %s are wrong; obtain them again\n", bad, (unsigned)count,
            first.c_str());
    return EXIT_INPUT;
  }
  if (!quiet) printf("%s: all %u slices are the ones it was built with\n", first.c_str(), (unsigned)count);
  return EXIT_OK;
}
