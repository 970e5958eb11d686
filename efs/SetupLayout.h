// Where a setup file's own bytes end and what ends them. Code signing appends
// a certificate table behind everything and names it in the program's
// headers; the signature and the container lie before it. Shared by the
// setup program and the command. Portable: the caller supplies the reads.
#pragma once
#include <stdint.h>

// Random access to the file being looked at.
class IEfsFileReader {
 public:
  // Reads exactly n bytes at offset; 0 on a failed or short read.
  virtual int ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) = 0;

 protected:
  ~IEfsFileReader() {}
};

enum SetupTail {
  SETUP_TAIL_NONE,         // no signature: a program alone, or the first slice
  SETUP_TAIL_UNINSTALLER,  // ends with UninstallerSignature
  SETUP_TAIL_INSTALLER,    // ends with InstallerSignature: carries a container
};

struct SetupLayout {
  uint64_t FileSize;
  // The logical end: where the certificate table (and the zero padding
  // before it) starts when the headers name a table that ends the file,
  // else the file size. The signature and the container end here.
  uint64_t End;
  uint64_t CertificateSize;  // the table's size; 0 when not signed
  // Where the program ends by its headers (sections, COFF symbols); 0 when
  // the front is no program whose extent we know.
  uint64_t ProgramEnd;
  SetupTail Tail;  // NONE as well when End is below 16
  // A split setup's first slice: the size of the slice record that ends at
  // End (the program is the bytes before it); 0 when there is none.
  uint32_t SliceRecordSize;
  // Neither signature, yet the bytes up to End are not exactly the
  // program: a setup file cut short (or a program with bytes behind it).
  // A genuine first slice is the bare program, signed or not.
  int Damaged;
};

// Looks at a file of fileSize bytes. 0 when a read fails.
int ReadSetupLayout(IEfsFileReader& file, uint64_t fileSize, SetupLayout* out);

// What a file is by its logical end. The values are the bytes the setup
// program's ReadSetupFileKind gives.
enum SetupFileKind {
  FILEKIND_NONE = 0,  // neither signature: a program alone, or a split setup's first part
  FILEKIND_UNINSTALLER = 1,
  FILEKIND_INSTALLER = 2,
  // neither signature, yet bytes behind the program: a setup file cut short
  FILEKIND_DAMAGED = 3,
  FILEKIND_UNREADABLE = 255,
};

SetupFileKind SetupKindOf(const SetupLayout& layout);
