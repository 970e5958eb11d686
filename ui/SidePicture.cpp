#include "ui/SidePicture.h"

#include <stdlib.h>

#include "efs/EntryCodec.h"
#include "resources/resource.h"

// Resource layout: the bitmap's size after its file header, little-endian,
// then that much as one zlib stream (tools/pack-picture writes it).
HBITMAP LoadPackedPicture(HINSTANCE instance, int id) {
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (!found) return NULL;
  const DWORD packedSize = SizeofResource(instance, found);
  HGLOBAL loaded = LoadResource(instance, found);
  const unsigned char* packed = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : NULL;
  if (!packed || packedSize < 4) return NULL;
  const uint32_t size = packed[0] | packed[1] << 8 | packed[2] << 16 | (uint32_t)packed[3] << 24;
  if (size < sizeof(BITMAPINFOHEADER) || size > (16u << 20)) return NULL;
  unsigned char* dib = static_cast<unsigned char*>(malloc(size));
  if (!dib) return NULL;
  HBITMAP bitmap = NULL;
  const BITMAPINFOHEADER* header = reinterpret_cast<const BITMAPINFOHEADER*>(dib);
  if (EfsInflateWhole(packed + 4, packedSize - 4, dib, size) && header->biSize >= sizeof(BITMAPINFOHEADER) &&
      header->biSize <= size &&
      (header->biBitCount == 1 || header->biBitCount == 4 || header->biBitCount == 8) &&
      header->biCompression == BI_RGB && header->biWidth > 0 && header->biWidth <= 4096 &&
      header->biHeight >= -4096 && header->biHeight <= 4096) {
    const DWORD colours = header->biClrUsed ? header->biClrUsed : 1u << header->biBitCount;
    const DWORD stride = ((DWORD)header->biWidth * header->biBitCount + 31) / 32 * 4;
    const DWORD height = header->biHeight < 0 ? (DWORD)-header->biHeight : (DWORD)header->biHeight;
    const DWORD bits = header->biSize + colours * 4;
    // every byte the system will read lies within what was inflated
    if (colours <= 256 && bits <= size && stride * height <= size - bits) {
      HDC screen = GetDC(NULL);
      bitmap = CreateDIBitmap(screen, header, CBM_INIT, dib + bits, reinterpret_cast<const BITMAPINFO*>(dib),
                              DIB_RGB_COLORS);
      ReleaseDC(NULL, screen);
    }
  }
  free(dib);
  return bitmap;
}

HBITMAP ScaledPicture(HBITMAP source, int width, int height) {
  BITMAP info;
  if (!source || width <= 0 || height <= 0 || !GetObjectA(source, sizeof info, &info) || info.bmWidth <= 0 ||
      info.bmHeight == 0)
    return NULL;
  const int w = info.bmWidth, h = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
  // the side that reaches its limit first decides; all four are positive, and an
  // unsigned division is the one 64-bit helper a 32-bit build has anyway
  typedef unsigned long long U64;
  int fitW = width, fitH = static_cast<int>(U64(h) * unsigned(width) / unsigned(w));
  if (fitH > height) {
    fitH = height;
    fitW = static_cast<int>(U64(w) * unsigned(height) / unsigned(h));
  }
  if (fitW < 1) fitW = 1;
  if (fitH < 1) fitH = 1;
  HDC screen = GetDC(NULL);
  HDC from = CreateCompatibleDC(screen), to = CreateCompatibleDC(screen);
  HBITMAP scaled = from && to ? CreateCompatibleBitmap(screen, fitW, fitH) : NULL;
  if (scaled) {
    HGDIOBJ oldFrom = SelectObject(from, source), oldTo = SelectObject(to, scaled);
    // averages the pixels a smaller picture drops
    SetStretchBltMode(to, HALFTONE);
    SetBrushOrgEx(to, 0, 0, NULL);
    if (!StretchBlt(to, 0, 0, fitW, fitH, from, 0, 0, w, h, SRCCOPY)) {
      SelectObject(to, oldTo);
      DeleteObject(scaled);
      scaled = NULL;
      oldTo = NULL;
    }
    SelectObject(from, oldFrom);
    if (oldTo) SelectObject(to, oldTo);
  }
  if (from) DeleteDC(from);
  if (to) DeleteDC(to);
  ReleaseDC(NULL, screen);
  return scaled;
}

void SetWindowIcons(HWND window, HINSTANCE module) {
  // shared: loaded once, never destroyed
  HANDLE big = LoadImageA(module, MAKEINTRESOURCEA(IDI_QUILLSET), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                          GetSystemMetrics(SM_CYICON), LR_SHARED);
  HANDLE small = LoadImageA(module, MAKEINTRESOURCEA(IDI_QUILLSET_SMALL), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                            GetSystemMetrics(SM_CYSMICON), LR_SHARED);
  if (!small) small = big;
  if (big) SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  if (small) SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}
