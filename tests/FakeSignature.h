// What code signing does to a file, without a signing tool: zero padding to
// an 8-byte boundary, then a certificate table named by the security entry
// of the program's headers. For tests of the readers, which look at those
// bytes only; tests that need a signature Windows would accept use
// osslsigncode.
#pragma once
#include <stdint.h>

#include <string>

#include "efs/EfsFormat.h"
#include "efs/PeImage.h"

// A PE32 program: 0x200 bytes of headers, one section of rawSize bytes of
// nonzero code (its last `zeros` bytes zero, as alignment leaves them).
inline std::string MinimalProgram(uint32_t rawSize = 0x600, uint32_t zeros = 0) {
  std::string b(0x200, '\0');
  auto put = [&b](size_t at, uint32_t v, int width) {
    for (int i = 0; i < width; ++i) b[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
  };
  b[0] = 'M';
  b[1] = 'Z';
  put(0x3C, 0x80, 4);
  b.replace(0x80, 4, std::string("PE\0\0", 4));
  put(0x84, PE_MACHINE_I386, 2);
  put(0x86, 1, 2);  // one section
  put(0x94, 224, 2);
  const size_t opt = 0x98;
  put(opt, PE_MAGIC_PE32, 2);
  put(opt + 60, 0x200, 4);  // size of headers
  put(opt + 68, PE_SUBSYSTEM_GUI, 2);
  put(opt + 92, 16, 4);
  const size_t section = opt + 224;
  put(section + 8, rawSize, 4);
  put(section + 12, 0x1000, 4);
  put(section + 16, rawSize, 4);
  put(section + 20, 0x200, 4);
  for (uint32_t i = 0; i < rawSize; ++i) b += static_cast<char>(i < rawSize - zeros ? 1 + i % 251 : 0);
  return b;
}

// Signs `file` (a program, with or without a container behind it) with a
// table of `size` bytes (a multiple of 8, at least 8); false when it holds
// no PE headers.
inline bool AppendFakeCertificate(std::string& file, uint32_t size) {
  PeHeaders h;
  if (!ReadPeHeaders(reinterpret_cast<const unsigned char*>(file.data()), file.size(), &h) ||
      h.DirectoryCount <= PE_DIRECTORY_SECURITY)
    return false;
  file.append((8 - file.size() % 8) % 8, '\0');
  unsigned char entry[8];
  EfsWriteU32(entry, static_cast<uint32_t>(file.size()));
  EfsWriteU32(entry + 4, size);
  file.replace(h.DirectoriesOffset + 8 * PE_DIRECTORY_SECURITY, 8, reinterpret_cast<const char*>(entry), 8);
  // WIN_CERTIFICATE: length, revision 2.0, PKCS#7 signed data; then the data
  std::string table(size, '\x5A');
  unsigned char head[8] = {0, 0, 0, 0, 0x00, 0x02, 0x02, 0x00};
  EfsWriteU32(head, size);
  table.replace(0, 8, reinterpret_cast<const char*>(head), 8);
  file += table;
  return true;
}

// The program as a copy that drops its signature leaves it: no checksum
// (signing tools set one over the signed file).
inline std::string WithoutChecksum(std::string program) {
  PeHeaders h;
  if (ReadPeHeaders(reinterpret_cast<const unsigned char*>(program.data()), program.size(), &h))
    program.replace(h.OptionalOffset + 64, 4, 4, '\0');
  return program;
}
