#include "efs/PeImage.h"

#include <string.h>

namespace {

uint16_t U16(const unsigned char* p) { return (uint16_t)(p[0] | p[1] << 8); }
uint32_t U32(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

}  // namespace

int ReadPeHeaders(const unsigned char* bytes, size_t size, PeHeaders* out) {
  memset(out, 0, sizeof *out);
  if (size < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return 0;
  uint32_t pe = U32(bytes + 0x3C);
  if (pe > PE_MAX_HEADER_OFFSET || (uint64_t)pe + 24 + 2 > size) return 0;
  if (memcmp(bytes + pe, "PE\0\0", 4) != 0) return 0;
  out->HeaderOffset = pe;
  out->Machine = U16(bytes + pe + 4);
  out->SectionCount = U16(bytes + pe + 6);
  out->SymbolTableOffset = U32(bytes + pe + 12);
  out->SymbolCount = U32(bytes + pe + 16);
  uint16_t optionalSize = U16(bytes + pe + 20);
  const uint64_t optional = (uint64_t)pe + 24;
  if (optional + optionalSize > size) return 0;
  out->Magic = U16(bytes + optional);
  // where the subsystem and the directory count stand differs by 16 bytes
  uint32_t countAt;
  if (out->Magic == PE_MAGIC_PE32) countAt = 92;
  else if (out->Magic == PE_MAGIC_PE32PLUS) countAt = 108;
  else return 0;
  if (optionalSize < countAt + 4) return 0;
  out->OptionalOffset = (uint32_t)optional;
  out->DirectoriesOffset = (uint32_t)optional + countAt + 4;
  // at the same place in PE32 and PE32+
  out->SizeOfHeaders = U32(bytes + optional + 60);
  out->Subsystem = U16(bytes + optional + 68);
  uint32_t count = U32(bytes + optional + countAt);
  uint32_t fit = (optionalSize - countAt - 4) / 8;
  if (count > fit) return 0;
  out->DirectoryCount = count < (uint32_t)PE_MAX_DIRECTORIES ? count : (uint32_t)PE_MAX_DIRECTORIES;
  for (uint32_t i = 0; i < out->DirectoryCount; ++i) {
    const unsigned char* d = bytes + optional + countAt + 4 + 8 * i;
    out->Directories[i].Address = U32(d);
    out->Directories[i].Size = U32(d + 4);
  }
  uint64_t sections = optional + optionalSize;
  if (sections + 40ull * out->SectionCount > size) return 0;
  out->SectionsOffset = (uint32_t)sections;
  return 1;
}

PeArch PeArchOf(const PeHeaders& h) {
  if (h.Machine == PE_MACHINE_I386 && h.Magic == PE_MAGIC_PE32) return PE_ARCH_X86;
  if (h.Machine == PE_MACHINE_AMD64 && h.Magic == PE_MAGIC_PE32PLUS) return PE_ARCH_X64;
  return PE_ARCH_UNKNOWN;
}

const char* PeArchName(PeArch arch) {
  switch (arch) {
    case PE_ARCH_X86: return "x86";
    case PE_ARCH_X64: return "x64";
    default: return "unknown";
  }
}

uint64_t PeSectionsEnd(const unsigned char* bytes, size_t size, const PeHeaders& h) {
  uint64_t end = h.SizeOfHeaders;
  for (uint16_t i = 0; i < h.SectionCount; ++i) {
    const unsigned char* s = bytes + h.SectionsOffset + 40 * i;
    if ((size_t)(s - bytes) + 40 > size) break;
    uint32_t rawSize = U32(s + 16), raw = U32(s + 20);
    // a section without raw data (zero-filled at load) takes no file bytes
    if (rawSize && (uint64_t)raw + rawSize > end) end = (uint64_t)raw + rawSize;
  }
  return end;
}

int PeClearSignature(unsigned char* bytes, size_t size) {
  PeHeaders h;
  if (!ReadPeHeaders(bytes, size, &h)) return 0;
  // an unsigned program stays byte for byte as it was built
  if (h.DirectoryCount <= PE_DIRECTORY_SECURITY) return 1;
  const PeDirectory& entry = h.Directories[PE_DIRECTORY_SECURITY];
  if (!entry.Address && !entry.Size) return 1;
  memset(bytes + h.DirectoriesOffset + 8 * PE_DIRECTORY_SECURITY, 0, 8);
  memset(bytes + h.OptionalOffset + 64, 0, 4);  // the signing tool's, over the signed file
  return 1;
}

uint32_t PeFileOffset(const unsigned char* bytes, size_t size, const PeHeaders& h, uint32_t rva) {
  for (uint16_t i = 0; i < h.SectionCount; ++i) {
    const unsigned char* s = bytes + h.SectionsOffset + 40 * i;
    if ((size_t)(s - bytes) + 40 > size) return 0;
    uint32_t va = U32(s + 12), virtualSize = U32(s + 8), rawSize = U32(s + 16), raw = U32(s + 20);
    uint32_t span = virtualSize > rawSize ? virtualSize : rawSize;
    if (rva >= va && rva - va < span) {
      // bytes past the raw data are zero-filled at load time, not in the file
      if (rva - va >= rawSize) return 0;
      return raw + (rva - va);
    }
  }
  return 0;
}

uint32_t PeChecksum(const unsigned char* bytes, size_t size, size_t checksumAt) {
  uint64_t sum = 0;
  for (size_t i = 0; i < size; i += 2) {
    if (i >= checksumAt && i < checksumAt + 4) continue;
    sum += bytes[i] | (i + 1 < size ? bytes[i + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return (uint32_t)(sum + size);
}
