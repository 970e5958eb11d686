/* What Windows itself reads of a program's icon and version resource, as
   UTF-8 lines name=value:  ResourceProbe.exe PROGRAM
   Exit status 0; 90 and up when the program cannot be read as a program. */
#include <stdio.h>
#include <windows.h>
#include <shellapi.h>

static void Line(const char* name, const wchar_t* value) {
  char utf8[1024];
  if (!WideCharToMultiByte(CP_UTF8, 0, value, -1, utf8, sizeof utf8, NULL, NULL)) utf8[0] = 0;
  printf("%s=%s\n", name, utf8);
}

/* The size of the image LoadImage makes from group id for cx by cy, and the
   colour of its middle, which tells the image it was made from. */
static void Icon(HMODULE module, const char* name, int id, int cx, int cy) {
  HICON icon = (HICON)LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, cx, cy, 0);
  ICONINFO info;
  BITMAP bitmap;
  if (!icon || !GetIconInfo(icon, &info) || !info.hbmColor || !GetObjectW(info.hbmColor, sizeof bitmap, &bitmap)) {
    printf("%s=none\n", name);
    return;
  }
  static DWORD pixels[256 * 256];
  BITMAPINFO format;
  ZeroMemory(&format, sizeof format);
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = bitmap.bmWidth;
  format.bmiHeader.biHeight = -bitmap.bmHeight;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  HDC dc = GetDC(NULL);
  DWORD middle = 0;
  if (bitmap.bmWidth <= 256 && bitmap.bmHeight <= 256 &&
      GetDIBits(dc, info.hbmColor, 0, bitmap.bmHeight, pixels, &format, DIB_RGB_COLORS))
    middle = pixels[bitmap.bmHeight / 2 * bitmap.bmWidth + bitmap.bmWidth / 2] & 0xFFFFFF;
  ReleaseDC(NULL, dc);
  printf("%s=%ldx%ld %06lx\n", name, bitmap.bmWidth, bitmap.bmHeight, middle);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyIcon(icon);
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 90;
  printf("icons=%u\n", ExtractIconExW(argv[1], -1, NULL, NULL, 0));
  HMODULE module = LoadLibraryExW(argv[1], NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return 91;
  Icon(module, "large", 107, 48, 48);
  Icon(module, "small", 108, 16, 16);
  FreeLibrary(module);

  DWORD ignored;
  DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
  static BYTE block[65536];
  if (!size || size > sizeof block || !GetFileVersionInfoW(argv[1], 0, size, block)) return 92;
  VS_FIXEDFILEINFO* fixed;
  UINT length;
  if (VerQueryValueW(block, L"\\", (void**)&fixed, &length) && length >= sizeof *fixed)
    printf("fixed=%u.%u.%u.%u %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
           HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS), HIWORD(fixed->dwProductVersionMS),
           LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
  static const char* const keys[] = {"CompanyName", "FileDescription", "FileVersion", "ProductName",
                                     "ProductVersion"};
  for (int i = 0; i < 5; ++i) {
    wchar_t path[64];
    wsprintfW(path, L"\\StringFileInfo\\040904b0\\%hs", keys[i]);
    wchar_t* value;
    if (VerQueryValueW(block, path, (void**)&value, &length)) Line(keys[i], value);
  }
  return 0;
}
