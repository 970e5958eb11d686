#include "efs/SetupLayout.h"

#include <stdlib.h>
#include <string.h>

#include "efs/EfsFormat.h"
#include "efs/PeImage.h"
#include "efs/SliceRecord.h"

namespace {

// Room behind e_lfanew for the file header, the optional header and the
// section table of any program we build or sign (95 sections and more).
const uint32_t kHeadersRoom = 4096;

// The program's extent by its headers; 0 when unknown. The security entry
// comes back in *certificate.
int ReadProgram(IEfsFileReader& file, uint64_t fileSize, uint64_t* programEnd,
                PeDirectory* certificate) {
  *programEnd = 0;
  certificate->Address = certificate->Size = 0;
  unsigned char dos[0x40];
  if (fileSize < sizeof dos) return 1;
  if (!file.ReadAt(0, dos, sizeof dos)) return 0;
  if (dos[0] != 'M' || dos[1] != 'Z') return 1;
  const uint32_t pe = EfsReadU32(dos + 0x3C);
  if (pe > PE_MAX_HEADER_OFFSET) return 1;
  uint64_t want = (uint64_t)pe + kHeadersRoom;
  if (want > fileSize) want = fileSize;
  unsigned char* front = (unsigned char*)malloc((size_t)want);
  if (!front) return 0;
  if (!file.ReadAt(0, front, (uint32_t)want)) {
    free(front);
    return 0;
  }
  PeHeaders h;
  int known = ReadPeHeaders(front, (size_t)want, &h);
  uint64_t end = known ? PeSectionsEnd(front, (size_t)want, h) : 0;
  free(front);
  if (!known) return 1;
  if (h.DirectoryCount > PE_DIRECTORY_SECURITY) *certificate = h.Directories[PE_DIRECTORY_SECURITY];
  // An unstripped program keeps COFF symbols and their string table behind
  // its sections; they are part of it, not bytes appended to it.
  if (h.SymbolTableOffset && h.SymbolCount) {
    uint64_t symbols = (uint64_t)h.SymbolTableOffset + (uint64_t)h.SymbolCount * PE_SYMBOL_SIZE;
    unsigned char n[4];
    if (symbols + 4 <= fileSize) {
      if (!file.ReadAt(symbols, n, 4)) return 0;
      uint32_t strings = EfsReadU32(n);
      symbols += strings >= 4 ? strings : 4;
    }
    if (symbols > end) end = symbols;
  }
  *programEnd = end;
  return 1;
}

}  // namespace

int ReadSetupLayout(IEfsFileReader& file, uint64_t fileSize, SetupLayout* out) {
  memset(out, 0, sizeof *out);
  out->FileSize = fileSize;
  out->End = fileSize;
  PeDirectory certificate;
  if (!ReadProgram(file, fileSize, &out->ProgramEnd, &certificate)) return 0;
  // Only a table that ends exactly at the end of the file moves the end: one
  // cut short, or a stale entry pointing elsewhere, leaves the file as it is.
  const int signedFile = certificate.Address && certificate.Size &&
                         (uint64_t)certificate.Address + certificate.Size == fileSize &&
                         certificate.Address >= out->ProgramEnd;
  const uint64_t end = signedFile ? certificate.Address : fileSize;
  if (signedFile) out->CertificateSize = certificate.Size;
  out->End = end;

  // The table starts on an 8-byte boundary: signing tools pad the file with
  // up to 7 zero bytes first. The padding belongs to neither the container
  // nor the program, and a signature or the program's end lies before it.
  unsigned char window[SLICE_RECORD_TAIL_SIZE + 7];
  const uint32_t n = (uint32_t)(end < sizeof window ? end : sizeof window);
  if (n && !file.ReadAt(end - n, window, n)) return 0;
  const uint32_t maxPadding = signedFile ? 7 : 0;
  for (uint32_t k = 0; k <= maxPadding && k <= n; ++k) {
    if (k && window[n - k] != 0) break;
    const unsigned char* tail = k + EFS_SIGNATURE_SIZE <= n ? window + n - k - EFS_SIGNATURE_SIZE : NULL;
    if (tail && memcmp(tail, InstallerSignature, EFS_SIGNATURE_SIZE) == 0) out->Tail = SETUP_TAIL_INSTALLER;
    if (tail && memcmp(tail, UninstallerSignature, EFS_SIGNATURE_SIZE) == 0) out->Tail = SETUP_TAIL_UNINSTALLER;
    if (out->Tail != SETUP_TAIL_NONE || end - k == out->ProgramEnd) {
      out->End = end - k;
      break;
    }
    const unsigned char* record = k + SLICE_RECORD_TAIL_SIZE <= n ? window + n - k - SLICE_RECORD_TAIL_SIZE : NULL;
    const uint32_t size = record ? SliceRecordSizeAt(record, end - k) : 0;
    if (size) {
      unsigned char count[4];
      if (!file.ReadAt(end - k - size, count, 4)) return 0;
      if (SliceRecordSize(EfsReadU32(count)) == size) {
        out->SliceRecordSize = size;
        out->End = end - k;
        break;
      }
    }
  }
  out->Damaged = out->Tail == SETUP_TAIL_NONE && out->ProgramEnd && out->End - out->SliceRecordSize != out->ProgramEnd;
  return 1;
}

SetupFileKind SetupKindOf(const SetupLayout& layout) {
  if (layout.Tail == SETUP_TAIL_INSTALLER) return FILEKIND_INSTALLER;
  if (layout.Tail == SETUP_TAIL_UNINSTALLER) return FILEKIND_UNINSTALLER;
  return layout.Damaged ? FILEKIND_DAMAGED : FILEKIND_NONE;
}
