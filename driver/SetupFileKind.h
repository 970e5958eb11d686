// Tells what a file is from its last 16 bytes.
#pragma once

enum {
  FILEKIND_NONE = 0,         // neither signature: a split installation's first part
  FILEKIND_UNINSTALLER = 1,
  FILEKIND_INSTALLER = 2,
  FILEKIND_UNREADABLE = 255,
};

unsigned char ReadSetupFileKind(const char* path);
