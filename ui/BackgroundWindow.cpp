#include "ui/BackgroundWindow.h"

#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/PathText.h"
#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "efs/EntryExtraction.h"
#include "platform/RunLog.h"
#include "platform/TextEncoding.h"
#include "resources/resource.h"
#include "ui/Wizard.h"
#include "ui/WizardFiles.h"

namespace {
const char kSection[] = "Background";

COLORREF g_TopColor = 0x0000FF;
COLORREF g_BottomColor = 0x000000;
HBITMAP g_Bitmap;
int g_BitmapWidth;
int g_BitmapHeight;
char* g_Placement;
HMETAFILE g_Metafile;
char g_TempBitmapPath[PATH_BYTES];
char g_TempMetafilePath[PATH_BYTES];

void ShowError(const char* key) {
  SetupState::Translations.ShowMessage(NULL, key, TK_ERROR, MB_OK);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// What "%x" makes of the value's first six characters (the buffer holds no
// more): blanks, a sign and a "0x" may lead; no digit at all gives 0.
COLORREF ReadColor(const char* key, const char* defaultValue) {
  char text[7] = "";
  SetupState::Project.GetValue(kSection, key, defaultValue, text, sizeof text);
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
  const bool negative = *p == '-';
  if (negative || *p == '+') ++p;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigit(p[2]) >= 0) p += 2;
  DWORD value = 0;
  for (; HexDigit(*p) >= 0; ++p) value = value * 16 + HexDigit(*p);
  return negative ? 0u - value : value;
}

// The entry name is the file name: the author may have written the path the
// picture had on the authoring machine.
const char* FileNamePart(const char* path) { return PathFileName(path); }

// Extracts one picture of the file store into a fresh temporary file; the
// path stays set so that the clean-up removes whatever was made.
RunResult ExtractPicture(const char* tempDir, const char* prefix, const char* value, char* path,
                         const char* createFailed, const char* copyFailed) {
  const ExtractOutcome outcome = ExtractToTemp(tempDir, prefix, FileNamePart(value), path);
  if (!path[0]) {
    ShowError(createFailed);
    return RUN_FAILED;
  }
  switch (outcome) {
    case EXTRACT_DONE: return RUN_DONE;
    case EXTRACT_CORRUPT: ShowError(TK_INSTALLATION_FILE_IS_CORRUPT); return RUN_DAMAGED;
    case EXTRACT_DISK_FULL: ShowError(TK_DISK_IS_FULL); break;
    case EXTRACT_FAILED:
    case EXTRACT_UNLOGGED:  // no log here
      ShowError(copyFailed);
      break;
  }
  return RUN_FAILED;
}

RunResult LoadBitmapFile(const char* path) {
  HBITMAP bitmap = static_cast<HBITMAP>(LoadImageA(
      NULL, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE | LR_CREATEDIBSECTION));
  if (!bitmap) return RUN_DONE;  // not a bitmap we can read: the background goes without
  DIBSECTION info;
  if (GetObjectA(bitmap, sizeof info, &info) < (int)sizeof(BITMAP)) {
    DeleteObject(bitmap);
    return RUN_DONE;
  }
  g_Bitmap = bitmap;
  g_BitmapWidth = info.dsBm.bmWidth;
  g_BitmapHeight = abs(info.dsBm.bmHeight);

  int32_t n = SetupState::Project.GetValue(kSection, "BitmapPlacement", "STRETCH", NULL, 0);
  if (n < 1) n = 1;
  g_Placement = static_cast<char*>(malloc(n));
  if (!g_Placement) {
    SetupState::Translations.ShowMessage(NULL, TK_UNSPECIFIED_ERROR_OCCURED, TK_ERROR, MB_OK | MB_ICONERROR);
    return RUN_FAILED;
  }
  g_Placement[0] = '\0';
  SetupState::Project.GetValue(kSection, "BitmapPlacement", "STRETCH", g_Placement, n);
  return RUN_DONE;
}

// Each colour byte runs from top to bottom as c = top + y / H * (bottom - top),
// truncated; in integers the value is exact on every line.
void PaintGradient(HDC dc, int width, int height) {
  const int top[3] = {GetRValue(g_TopColor), GetGValue(g_TopColor), GetBValue(g_TopColor)};
  const int bottom[3] = {GetRValue(g_BottomColor), GetGValue(g_BottomColor),
                         GetBValue(g_BottomColor)};
  for (int y = 0; y < height; ++y) {
    int c[3];
    for (int i = 0; i < 3; ++i) c[i] = (top[i] * (height - y) + bottom[i] * y) / height;
    HBRUSH brush = CreateSolidBrush(RGB(c[0], c[1], c[2]));
    RECT line = {0, y, width, y + 1};
    FillRect(dc, &line, brush);
    DeleteObject(brush);
  }
}

void PaintBitmap(HDC dc, int width, int height) {
  HDC memory = CreateCompatibleDC(dc);
  if (!memory) return;
  HGDIOBJ previous = SelectObject(memory, g_Bitmap);
  const int w = g_BitmapWidth, h = g_BitmapHeight;
  if (strcmp(g_Placement, "STRETCH") == 0) {
    // drops source lines rather than AND-ing colours together when shrinking
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchBlt(dc, 0, 0, width, height, memory, 0, 0, w, h, SRCCOPY);
  } else if (strcmp(g_Placement, "CENTER") == 0) {
    BitBlt(dc, (width - w) / 2, (height - h) / 2, w, h, memory, 0, 0, SRCCOPY);
  } else if (strcmp(g_Placement, "TILE") == 0 && w > 0 && h > 0) {
    for (int y = 0; y < height; y += h)
      for (int x = 0; x < width; x += w) BitBlt(dc, x, y, w, h, memory, 0, 0, SRCCOPY);
  }
  SelectObject(memory, previous);
  DeleteDC(memory);
}

void PaintMetafile(HDC dc, int width, int height) {
  int saved = SaveDC(dc);
  SetMapMode(dc, MM_ANISOTROPIC);
  SetViewportOrgEx(dc, 0, 0, NULL);
  SetViewportExtEx(dc, width, height, NULL);
  PlayMetaFile(dc, g_Metafile);
  RestoreDC(dc, saved);
}

void Paint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (!dc) return;
  RECT client;
  GetClientRect(window, &client);
  const int width = client.right - client.left, height = client.bottom - client.top;
  PaintGradient(dc, width, height);
  if (g_Bitmap && g_Placement) PaintBitmap(dc, width, height);
  if (g_Metafile) PaintMetafile(dc, width, height);
  EndPaint(window, &paint);
}

}  // namespace

void RegisterBackgroundWindowClass(HINSTANCE instance) {
  WNDCLASSEXA windowClass;
  memset(&windowClass, 0, sizeof windowClass);
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = BackgroundWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUILLSET));
  windowClass.hIconSm = static_cast<HICON>(
      LoadImageA(instance, MAKEINTRESOURCEA(IDI_QUILLSET_SMALL), IMAGE_ICON,
                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = SetupState::WindowClassName;
  RegisterClassExA(&windowClass);
}

RunResult ReadBackgroundSettings(const char* tempDir) {
  ReleaseBackgroundResources();
  g_TopColor = 0x0000FF;
  g_BottomColor = 0x000000;

  char flag[6] = "";
  SetupState::Project.GetValue(kSection, "UseBackground", "FALSE", flag, sizeof flag);
  SetupState::UseBackground = strcmp(flag, "TRUE") == 0 ? 1 : 0;
  if (!SetupState::UseBackground) return RUN_DONE;

  g_TopColor = ReadColor("TopColor", "0000FF");
  g_BottomColor = ReadColor("BottomColor", "000000");

  char name[PATH_BYTES] = "";
  SetupState::Project.GetValue(kSection, "Bitmap", "", name, sizeof name);
  if (name[0]) {
    RunResult r = ExtractPicture(tempDir, "BMP", name, g_TempBitmapPath, TK_CREATE_TEMP_BITMAP_FAILED,
                                 TK_COPY_EMBEDDED_BITMAP_FAILED);
    if (r == RUN_DONE) r = LoadBitmapFile(g_TempBitmapPath);
    if (r != RUN_DONE) return r;
  }

  name[0] = '\0';
  SetupState::Project.GetValue(kSection, "Metafile", "", name, sizeof name);
  if (name[0]) {
    const RunResult r = ExtractPicture(tempDir, "WMF", name, g_TempMetafilePath, TK_CREATE_TEMP_WMF_FAILED,
                                       TK_COPY_ENBEDDED_WMF_FAILED);
    if (r != RUN_DONE) return r;
    g_Metafile = LoadPlaceableMetafile(g_TempMetafilePath, NULL);
  }
  return RUN_DONE;
}

HWND CreateBackgroundWindow(HINSTANCE instance, int showCommand) {
  HWND window = CreateWindowExA(0, SetupState::WindowClassName, SetupState::WindowTitle,
                                WS_OVERLAPPEDWINDOW | WS_MAXIMIZE, 0, 0,
                                GetSystemMetrics(SM_CXMAXIMIZED), GetSystemMetrics(SM_CYMAXIMIZED),
                                NULL, NULL, instance, NULL);
  if (!window) return NULL;
  ShowWindow(window, showCommand);
  UpdateWindow(window);
  return window;
}

// No window, so no box can say it either: the run log names the cause. (A
// session without a desktop; under Wine, a desktop process that a program
// started without a display, which keeps it until it ends.)
static int NoWindow(const char* what) {
  const DWORD error = GetLastError();
  char text[96];
  if (error)
    wsprintfA(text, "%s cannot be opened (error %lu)", what, error);
  else
    wsprintfA(text, "%s cannot be opened", what);
  RunLogLine("Failure", text);
  return 0;
}

int StartUserInterface(HINSTANCE instance, int showCommand) {
  HWND owner = NULL;
  if (SetupState::UseBackground) {
    owner = CreateBackgroundWindow(instance, showCommand);
    if (!owner) return NoWindow("the background window");
  }
  if (DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_WIZARD_DIALOG), owner, WizardDialogProc, 0) == -1)
    return NoWindow("the wizard's window");
  return 1;
}

LRESULT CALLBACK BackgroundWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    // Closing it would take the wizard with it under a running worker: the
    // run ends through the wizard only.
    case WM_CLOSE:
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) return 0;
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HMETAFILE LoadPlaceableMetafile(const char* path, RECT* bounds) {
  if (bounds) SetRectEmpty(bounds);
  DWORD size = 0;
  BYTE* bytes = reinterpret_cast<BYTE*>(ReadWholeFile(path, &size));
  HMETAFILE metafile = NULL;
  if (bytes && size >= 22) {
    const DWORD key = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | (DWORD)bytes[3] << 24;
    const int placeable = key == 0x9AC6CDD7;
    const DWORD offset = placeable ? 22 : 0;  // the placeable header
    if (size > offset) metafile = SetMetaFileBitsEx(size - offset, bytes + offset);
    if (metafile && placeable && bounds) {
      // left, top, right, bottom: signed 16-bit words after the key and handle
      bounds->left = (SHORT)(bytes[6] | bytes[7] << 8);
      bounds->top = (SHORT)(bytes[8] | bytes[9] << 8);
      bounds->right = (SHORT)(bytes[10] | bytes[11] << 8);
      bounds->bottom = (SHORT)(bytes[12] | bytes[13] << 8);
    }
  }
  free(bytes);
  return metafile;
}

void ReleaseBackgroundResources() {
  if (g_Bitmap) DeleteObject(g_Bitmap);
  g_Bitmap = NULL;
  g_BitmapWidth = g_BitmapHeight = 0;
  free(g_Placement);
  g_Placement = NULL;
  if (g_Metafile) DeleteMetaFile(g_Metafile);
  g_Metafile = NULL;
  if (g_TempBitmapPath[0]) DeleteFileA(g_TempBitmapPath);
  g_TempBitmapPath[0] = '\0';
  if (g_TempMetafilePath[0]) DeleteFileA(g_TempMetafilePath);
  g_TempMetafilePath[0] = '\0';
}

COLORREF GetBackgroundTopColor() {
  return g_TopColor;
}

COLORREF GetBackgroundBottomColor() {
  return g_BottomColor;
}

HBITMAP GetBackgroundBitmap(SIZE* size) {
  if (size) {
    size->cx = g_BitmapWidth;
    size->cy = g_BitmapHeight;
  }
  return g_Bitmap;
}

const char* GetBackgroundPlacement() {
  return g_Placement;
}

HMETAFILE GetBackgroundMetafile() {
  return g_Metafile;
}

const char* GetTempBitmapPath() {
  return g_TempBitmapPath;
}

const char* GetTempMetafilePath() {
  return g_TempMetafilePath;
}
