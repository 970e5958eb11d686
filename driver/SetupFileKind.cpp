#include "driver/SetupFileKind.h"

#include <windows.h>

#include "efs/EfsFormat.h"
#include "efs/ExeFileSystem.h"

unsigned char ReadSetupFileKind(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return FILEKIND_UNREADABLE;
  SetupLayout layout;
  int ok = ReadFileLayout(h, &layout);
  CloseHandle(h);
  if (!ok || layout.End < EFS_SIGNATURE_SIZE) return FILEKIND_UNREADABLE;
  return (unsigned char)SetupKindOf(layout);
}
