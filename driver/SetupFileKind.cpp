#include "driver/SetupFileKind.h"

#include <windows.h>

#include "efs/EfsFormat.h"
#include "efs/ExeFileSystem.h"
#include "platform/FileSystem.h"

unsigned char ReadSetupFileKind(const char* path) {
  HANDLE h = OpenExisting(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (h == INVALID_HANDLE_VALUE) return FILEKIND_UNREADABLE;
  SetupLayout layout;
  int ok = ReadFileLayout(h, &layout);
  CloseHandle(h);
  if (!ok || layout.End < EFS_SIGNATURE_SIZE) return FILEKIND_UNREADABLE;
  return (unsigned char)SetupKindOf(layout);
}
