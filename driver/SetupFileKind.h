// Tells what a file is from the 16 bytes at its logical end: the end of the
// file, or the start of the certificate table that code signing appended.
#pragma once

enum {
  FILEKIND_NONE = 0,         // neither signature: a split installation's first part
  FILEKIND_UNINSTALLER = 1,
  FILEKIND_INSTALLER = 2,
  // neither signature, yet bytes behind the program: a setup file cut short
  FILEKIND_DAMAGED = 3,
  FILEKIND_UNREADABLE = 255,
};

unsigned char ReadSetupFileKind(const char* path);
