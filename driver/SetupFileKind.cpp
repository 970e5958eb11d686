#include "driver/SetupFileKind.h"

#include <windows.h>
#include <string.h>

#include "efs/EfsFormat.h"

unsigned char ReadSetupFileKind(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return FILEKIND_UNREADABLE;
  unsigned char tail[EFS_SIGNATURE_SIZE];
  DWORD got = 0;
  BOOL ok = SetFilePointer(h, -EFS_SIGNATURE_SIZE, NULL, FILE_END) != INVALID_SET_FILE_POINTER &&
            ReadFile(h, tail, EFS_SIGNATURE_SIZE, &got, NULL) && got == EFS_SIGNATURE_SIZE;
  CloseHandle(h);
  if (!ok) return FILEKIND_UNREADABLE;
  if (memcmp(tail, InstallerSignature, EFS_SIGNATURE_SIZE) == 0) return FILEKIND_INSTALLER;
  if (memcmp(tail, UninstallerSignature, EFS_SIGNATURE_SIZE) == 0) return FILEKIND_UNINSTALLER;
  return FILEKIND_NONE;
}
