#include "ui/SidePicture.h"

#include <stdlib.h>

#include "efs/EntryCodec.h"

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
