// The background window: the [Background] settings read from a real file
// store, the temporary pictures, and the pixels the window paints.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Robot.h"
#include "TestPaths.h"
#include "TestSupport.h"
#include "driver/SetupState.h"
#include "ui/BackgroundWindow.h"

namespace {

const COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255),
               kYellow = RGB(255, 255, 0), kMagenta = RGB(255, 0, 255), kCyan = RGB(0, 255, 255),
               kWhite = RGB(255, 255, 255);

void Put16(std::string& s, unsigned v) {
  s += (char)(v & 0xFF);
  s += (char)(v >> 8 & 0xFF);
}
void Put32(std::string& s, unsigned long v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

// A 24-bit bottom-up BMP file whose pixel (x, y), y from the top, is color(x, y).
std::string Bmp(int w, int h, const std::function<COLORREF(int, int)>& color) {
  const int stride = (w * 3 + 3) & ~3;
  std::string s = "BM";
  Put32(s, 54 + stride * h);
  Put32(s, 0);
  Put32(s, 54);
  Put32(s, 40);
  Put32(s, w);
  Put32(s, h);
  Put16(s, 1);
  Put16(s, 24);
  Put32(s, 0);
  Put32(s, stride * h);
  Put32(s, 2835);
  Put32(s, 2835);
  Put32(s, 0);
  Put32(s, 0);
  for (int y = h - 1; y >= 0; --y) {
    std::string row;
    for (int x = 0; x < w; ++x) {
      COLORREF c = color(x, y);
      row += (char)GetBValue(c);
      row += (char)GetGValue(c);
      row += (char)GetRValue(c);
    }
    row.resize(stride, '\0');
    s += row;
  }
  return s;
}

std::string Plain(int w, int h, COLORREF c) {
  return Bmp(w, h, [c](int, int) { return c; });
}

// A plain Windows metafile: window extent 100 x 100, a rectangle of colour c
// from (left, top) to (right, bottom) in those units, without outline.
std::string PlainWmf(int left, int top, int right, int bottom, COLORREF c) {
  HDC dc = CreateMetaFileA(NULL);
  SetWindowOrgEx(dc, 0, 0, NULL);
  SetWindowExtEx(dc, 100, 100, NULL);
  HBRUSH brush = CreateSolidBrush(c);
  HPEN pen = CreatePen(PS_NULL, 0, 0);
  SelectObject(dc, brush);
  SelectObject(dc, pen);
  Rectangle(dc, left, top, right + 1, bottom + 1);
  HMETAFILE mf = CloseMetaFile(dc);
  DeleteObject(brush);
  DeleteObject(pen);
  std::string bits(GetMetaFileBitsEx(mf, 0, NULL), '\0');
  GetMetaFileBitsEx(mf, (UINT)bits.size(), &bits[0]);
  DeleteMetaFile(mf);
  return bits;
}

// The 22-byte placeable header with bounding box and checksum, then the data.
std::string Placeable(const std::string& plain, short left, short top, short right, short bottom) {
  std::string h;
  Put32(h, 0x9AC6CDD7);
  Put16(h, 0);
  Put16(h, (unsigned short)left);
  Put16(h, (unsigned short)top);
  Put16(h, (unsigned short)right);
  Put16(h, (unsigned short)bottom);
  Put16(h, 1440);
  Put32(h, 0);
  unsigned sum = 0;
  for (int i = 0; i < 20; i += 2) sum ^= (unsigned char)h[i] | (unsigned char)h[i + 1] << 8;
  Put16(h, sum);
  return h + plain;
}

std::string TempDir() {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return dir;
}

size_t PictureTempFiles() {
  return TempFilesMatching("BMP*.tmp").size() + TempFilesMatching("WMF*.tmp").size();
}

// Builds a setup file holding the pictures (entry name -> bytes; names
// starting with "stored:" are kept uncompressed) and opens it as the run's
// file store; loads the script and the English table.
class Background : public ::testing::Test {
 protected:
  void SetUp() override {
    strcpy(SetupState::WindowClassName, "QUILLSETDEPLOYER");
    strcpy(SetupState::WindowTitle, "Quillset");
    RegisterBackgroundWindowClass(GetModuleHandleA(NULL));
    ASSERT_EQ(1, SetupState::Translations.SetFile(QS_SOURCE_DIR "\\translations\\English.ini"));
    m_TempFilesBefore = PictureTempFiles();
  }
  void TearDown() override {
    ReleaseBackgroundResources();
    EXPECT_EQ(m_TempFilesBefore, PictureTempFiles()) << "a temporary picture was left behind";
  }

  void Use(const std::string& background,
           const std::vector<std::pair<std::string, std::string>>& files = {}) {
    std::string script = "QSP40\r\n[Global]\r\nApplicationName = Pictures\r\n[Background]\r\n" + background;
    ASSERT_EQ(1, SetupState::Project.LoadText(script.data(), (uint32_t)script.size()));
    WriteWholeFile(m_Dir.File("stub.exe"), std::string(2048, 'S'));
    // a store always holds the script at least
    std::vector<std::pair<std::string, std::string>> entries = files;
    entries.push_back({"default.qsp", script});
    std::vector<SetupSource> sources;
    for (size_t i = 0; i < entries.size(); ++i) {
      std::string name = entries[i].first;
      bool stored = name.compare(0, 7, "stored:") == 0;
      if (stored) name = name.substr(7);
      sources.push_back({"source" + std::to_string(i), entries[i].second, stored, name});
    }
    m_Setup = m_Dir.File("setup.exe");
    SetupState::Efs.Close();  // the reader holds the previous one
    DeleteFileA(m_Setup.c_str());
    ASSERT_TRUE(BuildSetupOf(m_Dir.File("stub.exe"), m_Dir.Path(), sources, m_Setup));
    SetupState::Efs.Open(m_Setup.c_str());
  }

  // Runs ReadBackgroundSettings on a second thread and answers the message
  // box it shows, if any. Returns the box's "caption: text" ("" without one);
  // *result receives what it returned.
  std::string Read(const std::string& tempDir, int* result) {
    std::atomic<int> outcome(-1);
    std::thread reader([&] { outcome = ReadBackgroundSettings(tempDir.c_str()); });
    Robot robot;
    robot.AttachSelf();
    std::string box;
    for (int i = 0; i < 200 && outcome == -1 && box.empty(); ++i) {
      if (robot.FindWindowNow("#32770", NULL)) {
        RobotMessageBox shown = robot.WaitForMessageBox(NULL, 1000);
        box = shown.Caption + ": " + shown.Text;
        EXPECT_EQ(std::vector<std::string>{"OK"}, shown.Buttons) << box;
        Robot::Press(shown.Window, IDOK);
      }
      Sleep(50);
    }
    reader.join();
    *result = outcome;
    return box;
  }

  // Reads the settings expecting neither a message nor a failure.
  void ReadQuietly() {
    int result = -1;
    EXPECT_EQ("", Read(TempDir(), &result));
    EXPECT_EQ(RUN_DONE, result);
  }

  TempFolder m_Dir;
  std::string m_Setup;
  size_t m_TempFilesBefore = 0;
};

// The client area of a window as painted, pixel by pixel.
struct Screenshot {
  int Width = 0, Height = 0;
  std::vector<DWORD> Bits;  // 0x00RRGGBB, top row first
  COLORREF At(int x, int y) const {
    DWORD v = Bits[(size_t)y * Width + x];
    return RGB(v >> 16 & 0xFF, v >> 8 & 0xFF, v & 0xFF);
  }
};

void Pump() {
  MSG msg;
  for (int i = 0; i < 20; ++i) {
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(10);
  }
}

Screenshot Capture(HWND window) {
  Pump();
  RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  Screenshot shot;
  RECT client;
  GetClientRect(window, &client);
  shot.Width = client.right;
  shot.Height = client.bottom;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = shot.Width;
  info.bmiHeader.biHeight = -shot.Height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = NULL;
  HDC screen = GetDC(window);
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, shot.Width, shot.Height, screen, 0, 0, SRCCOPY);
  GdiFlush();
  const DWORD* p = static_cast<const DWORD*>(bits);
  shot.Bits.assign(p, p + (size_t)shot.Width * shot.Height);
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(dib);
  ReleaseDC(window, screen);
  return shot;
}

// Creates the background window as start-up does, shown maximised so that
// its whole client is on the screen to be read back, photographs it and
// closes it again, checking that closing it posts the quit message.
Screenshot Paint() {
  HWND window = CreateBackgroundWindow(GetModuleHandleA(NULL), SW_SHOWMAXIMIZED);
  EXPECT_TRUE(window != NULL);
  if (!window) return Screenshot();
  EXPECT_TRUE(IsWindowVisible(window));
  Screenshot shot = Capture(window);
  DestroyWindow(window);
  MSG msg;
  EXPECT_TRUE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) << "no quit message";
  return shot;
}

std::string Rgb(COLORREF c) {
  return "(" + std::to_string(GetRValue(c)) + "," + std::to_string(GetGValue(c)) + "," +
         std::to_string(GetBValue(c)) + ")";
}
#define EXPECT_PIXEL(expected, shot, x, y) \
  EXPECT_EQ(Rgb(expected), Rgb((shot).At((x), (y)))) << "at (" << (x) << "," << (y) << ")"

// One colour byte of the gradient at line y: top + y / H * (bottom - top)
// truncated, taking the real-number value (no float rounding below a whole).
int GradientByte(int top, int bottom, int y, int h) {
  double v = top + (double)y / h * (bottom - top);
  double whole = (double)(long)(v + 0.5);
  return (v > whole - 1e-9 && v < whole + 1e-9) ? (int)whole : (int)v;
}
COLORREF Gradient(COLORREF top, COLORREF bottom, int y, int h) {
  return RGB(GradientByte(GetRValue(top), GetRValue(bottom), y, h),
             GradientByte(GetGValue(top), GetGValue(bottom), y, h),
             GradientByte(GetBValue(top), GetBValue(bottom), y, h));
}

TEST_F(Background, BlueToBlackFadesLineByLineFromPureBlue) {
  Use("UseBackground = TRUE\r\nTopColor = FF0000\r\nBottomColor = 000000\r\n");
  ReadQuietly();
  EXPECT_EQ(1, SetupState::UseBackground);
  Screenshot shot = Paint();
  // a maximised window: nearly the whole 1280 x 1024 screen
  ASSERT_GE(shot.Width, GetSystemMetrics(SM_CXSCREEN) * 9 / 10);
  ASSERT_GE(shot.Height, GetSystemMetrics(SM_CYSCREEN) * 8 / 10);
  const int w = shot.Width, h = shot.Height;
  for (int x : {0, w / 2, w - 1}) EXPECT_PIXEL(kBlue, shot, x, 0);
  int previous = 256;
  for (int y = 0; y < h; ++y) {
    COLORREF c = shot.At(w / 3, y);
    ASSERT_EQ(0, GetRValue(c)) << y;
    ASSERT_EQ(0, GetGValue(c)) << y;
    ASSERT_LE(GetBValue(c), previous) << "brighter again at line " << y;
    previous = GetBValue(c);
    ASSERT_EQ(c, shot.At(w - 1, y)) << "line " << y << " is not one colour";
  }
  EXPECT_LE(GetBValue(shot.At(0, h - 1)), 1);  // nearly black, never quite the bottom colour
  for (int y : {1, h / 5, h / 4, h / 3, h / 2, h - 2, h - 1})
    EXPECT_PIXEL(Gradient(0xFF0000, 0, y, h), shot, w / 2, y);
}

TEST_F(Background, EveryColourByteRunsOnItsOwnAndTheDefaultIsRed) {
  Use("UseBackground = TRUE\r\nTopColor = 204080\r\nBottomColor = C0A010\r\n");
  ReadQuietly();
  EXPECT_EQ(0x204080u, GetBackgroundTopColor());
  EXPECT_EQ(0xC0A010u, GetBackgroundBottomColor());
  Screenshot shot = Paint();
  const int h = shot.Height;
  ASSERT_GT(h, 0);
  // red falls 0x80 -> 0x10, green rises 0x40 -> 0xA0, blue rises 0x20 -> 0xC0
  EXPECT_PIXEL(RGB(0x80, 0x40, 0x20), shot, 10, 0);
  for (int y : {h / 7, h / 3, h / 2, 2 * h / 3, h - 1})
    EXPECT_PIXEL(Gradient(0x204080, 0xC0A010, y, h), shot, 10, y);

  Use("UseBackground = TRUE\r\n");
  ReadQuietly();
  shot = Paint();
  ASSERT_GT(shot.Height, 0);
  EXPECT_PIXEL(kRed, shot, 0, 0);
  EXPECT_PIXEL(Gradient(0x0000FF, 0, shot.Height / 2, shot.Height), shot, 0, shot.Height / 2);
  EXPECT_LE(GetRValue(shot.At(0, shot.Height - 1)), 1);
}

TEST_F(Background, ColoursAreReadAsHexadecimalFromTheirFirstSixCharacters) {
  const std::pair<const char*, COLORREF> cases[] = {
      {"TopColor = ff", 0xFF},          {"TopColor = 0x1f", 0x1F},
      {"TopColor = 1234567", 0x123456}, {"TopColor = 12zz", 0x12},
      {"TopColor = zz", 0},             {"TopColor =", 0},
      {"TopColor = AbCdEf", 0xABCDEF},
  };
  for (const auto& c : cases) {
    Use(std::string("UseBackground = TRUE\r\n") + c.first + "\r\n");
    ReadQuietly();
    EXPECT_EQ(c.second, GetBackgroundTopColor()) << c.first;
    EXPECT_EQ(0u, GetBackgroundBottomColor()) << c.first;
  }
}

TEST_F(Background, CenterPlacesTheBitmapOnceInTheMiddle) {
  // odd sizes so that the halving truncates; the top-left pixel is marked
  const int bw = 37, bh = 23;
  Use("UseBackground = TRUE\r\nTopColor = 000000\r\nBottomColor = 000000\r\n"
      "Bitmap = C:\\art\\sky.bmp\r\nBitmapPlacement = CENTER\r\n",
      {{"sky.bmp", Bmp(bw, bh, [](int x, int y) { return x == 0 && y == 0 ? kYellow : kGreen; })}});
  ReadQuietly();
  SIZE size = {};
  ASSERT_TRUE(GetBackgroundBitmap(&size) != NULL);
  EXPECT_EQ(bw, size.cx);
  EXPECT_EQ(bh, size.cy);
  std::string temp = GetTempBitmapPath();
  EXPECT_TRUE(PathExists(temp)) << temp;
  EXPECT_EQ(Bmp(bw, bh, [](int x, int y) { return x == 0 && y == 0 ? kYellow : kGreen; }),
            ReadWholeFile(temp));

  Screenshot shot = Paint();
  const int x0 = (shot.Width - bw) / 2, y0 = (shot.Height - bh) / 2;
  ASSERT_GT(x0, 0);
  EXPECT_PIXEL(kYellow, shot, x0, y0);
  EXPECT_PIXEL(kGreen, shot, x0 + 1, y0);
  EXPECT_PIXEL(kGreen, shot, x0 + bw - 1, y0 + bh - 1);
  EXPECT_PIXEL(RGB(0, 0, 0), shot, x0 - 1, y0);
  EXPECT_PIXEL(RGB(0, 0, 0), shot, x0, y0 - 1);
  EXPECT_PIXEL(RGB(0, 0, 0), shot, x0 + bw, y0 + bh - 1);
  EXPECT_PIXEL(RGB(0, 0, 0), shot, x0 + bw - 1, y0 + bh);
  EXPECT_PIXEL(RGB(0, 0, 0), shot, 0, 0);

  ReleaseBackgroundResources();
  EXPECT_FALSE(PathExists(temp));
  EXPECT_STREQ("", GetTempBitmapPath());
  EXPECT_TRUE(GetBackgroundBitmap(NULL) == NULL);
}

TEST_F(Background, TileRepeatsTheBitmapFromTheTopLeftOverTheWholeClient) {
  const int bw = 50, bh = 40;
  Use("UseBackground = TRUE\r\nBitmap = tile.bmp\r\nBitmapPlacement = TILE\r\n",
      {{"TILE.BMP", Bmp(bw, bh, [](int x, int y) { return x == 0 && y == 0 ? kMagenta : kCyan; })}});
  ReadQuietly();
  Screenshot shot = Paint();
  const int w = shot.Width, h = shot.Height;
  ASSERT_GT(w, bw * 3);
  for (int ty = 0; ty * bh < h; ty += 3)
    for (int tx = 0; tx * bw < w; tx += 4) {
      EXPECT_PIXEL(kMagenta, shot, tx * bw, ty * bh);
      if (tx * bw + 1 < w && ty * bh + 1 < h) {
        EXPECT_PIXEL(kCyan, shot, tx * bw + 1, ty * bh + 1);
      }
    }
  // the last, cut-off copies too: no gradient shows anywhere
  const int lastX = (w - 1) / bw * bw, lastY = (h - 1) / bh * bh;
  EXPECT_PIXEL(kMagenta, shot, lastX, lastY);
  EXPECT_PIXEL(kCyan, shot, w - 1, h - 1);
  EXPECT_PIXEL(kCyan, shot, w - 1, 1);
  EXPECT_PIXEL(kCyan, shot, 1, h - 1);
}

TEST_F(Background, StretchSpreadsTheWholeBitmapOverTheClient) {
  // quadrants larger than a 30 x 32 corner, so a part of the bitmap would show
  auto quadrants = [](int x, int y) {
    return y < 32 ? (x < 32 ? kRed : kGreen) : (x < 32 ? kBlue : kYellow);
  };
  for (const char* placement : {"BitmapPlacement = STRETCH\r\n", ""}) {
    Use(std::string("UseBackground = TRUE\r\nBitmap = quad.bmp\r\n") + placement,
        {{"quad.bmp", Bmp(64, 64, quadrants)}});
    ReadQuietly();
    Screenshot shot = Paint();
    const int w = shot.Width, h = shot.Height;
    ASSERT_GT(w, 64);
    EXPECT_PIXEL(kRed, shot, w / 4, h / 4) << placement;
    EXPECT_PIXEL(kGreen, shot, 3 * w / 4, h / 4) << placement;
    EXPECT_PIXEL(kBlue, shot, w / 4, 3 * h / 4) << placement;
    EXPECT_PIXEL(kYellow, shot, 3 * w / 4, 3 * h / 4) << placement;
    EXPECT_PIXEL(kRed, shot, 0, 0) << placement;
    EXPECT_PIXEL(kGreen, shot, w - 1, 0) << placement;
    EXPECT_PIXEL(kBlue, shot, 0, h - 1) << placement;
    EXPECT_PIXEL(kYellow, shot, w - 1, h - 1) << placement;
  }
}

TEST_F(Background, TheMetafileIsDrawnOverTheBitmapOverTheGradient) {
  // metafile square in the middle fifth, a larger bitmap around it
  Use("UseBackground = TRUE\r\nTopColor = 000000\r\nBottomColor = 000000\r\n"
      "Bitmap = box.bmp\r\nBitmapPlacement = CENTER\r\nMetafile = art\\logo.wmf\r\n",
      {{"box.bmp", Plain(400, 300, kGreen)},
       {"logo.wmf", Placeable(PlainWmf(40, 40, 60, 60, kWhite), 0, 0, 100, 100)}});
  ReadQuietly();
  ASSERT_TRUE(GetBackgroundMetafile() != NULL);
  std::string bitmapTemp = GetTempBitmapPath(), metafileTemp = GetTempMetafilePath();
  EXPECT_TRUE(PathExists(bitmapTemp));
  EXPECT_TRUE(PathExists(metafileTemp));

  HWND window = CreateBackgroundWindow(GetModuleHandleA(NULL), SW_SHOWNORMAL);
  ASSERT_TRUE(window != NULL);
  Screenshot shot = Capture(window);
  const int w = shot.Width, h = shot.Height;
  EXPECT_PIXEL(kWhite, shot, w / 2, h / 2);
  EXPECT_PIXEL(kWhite, shot, w * 42 / 100, h * 42 / 100);
  EXPECT_PIXEL(kWhite, shot, w * 58 / 100, h * 58 / 100);
  EXPECT_PIXEL(kGreen, shot, w / 2 - 180, h / 2);  // bitmap outside the square
  EXPECT_PIXEL(kGreen, shot, w / 2, h / 2 + 130);
  EXPECT_PIXEL(RGB(0, 0, 0), shot, 5, 5);          // gradient outside the bitmap

  // released while the window still shows: it paints the gradient alone
  ReleaseBackgroundResources();
  EXPECT_FALSE(PathExists(bitmapTemp));
  EXPECT_FALSE(PathExists(metafileTemp));
  EXPECT_STREQ("", GetTempMetafilePath());
  shot = Capture(window);
  EXPECT_PIXEL(RGB(0, 0, 0), shot, w / 2, h / 2);
  EXPECT_PIXEL(RGB(0, 0, 0), shot, w / 2 - 180, h / 2);
  DestroyWindow(window);
  MSG msg;
  PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE);
}

TEST_F(Background, OnlyExactCapitalsCountAndUnreadablePicturesAreSilentlyLeftOut) {
  // "true": off, and nothing is extracted even though the entries are missing
  Use("UseBackground = true\r\nBitmap = none.bmp\r\nMetafile = none.wmf\r\n");
  SetupState::UseBackground = 7;
  ReadQuietly();
  EXPECT_EQ(0, SetupState::UseBackground);
  EXPECT_STREQ("", GetTempBitmapPath());
  EXPECT_EQ(m_TempFilesBefore, PictureTempFiles());

  // no UseBackground key: off
  Use("TopColor = FF0000\r\n");
  SetupState::UseBackground = 7;
  ReadQuietly();
  EXPECT_EQ(0, SetupState::UseBackground);

  // keys missing or empty: no pictures, no message
  for (const char* keys : {"", "Bitmap =\r\nMetafile =\r\n"}) {
    Use(std::string("UseBackground = TRUE\r\n") + keys);
    ReadQuietly();
    EXPECT_EQ(1, SetupState::UseBackground);
    EXPECT_TRUE(GetBackgroundBitmap(NULL) == NULL);
    EXPECT_TRUE(GetBackgroundMetafile() == NULL);
    EXPECT_EQ(m_TempFilesBefore, PictureTempFiles()) << keys;
  }

  // "center": loaded but not drawn
  Use("UseBackground = TRUE\r\nTopColor = 000000\r\nBitmap = sky.bmp\r\nBitmapPlacement = center\r\n",
      {{"sky.bmp", Plain(300, 200, kGreen)}});
  ReadQuietly();
  ASSERT_TRUE(GetBackgroundBitmap(NULL) != NULL);
  EXPECT_STREQ("center", GetBackgroundPlacement());
  Screenshot shot = Paint();
  EXPECT_PIXEL(RGB(0, 0, 0), shot, shot.Width / 2, shot.Height / 2);

  // files that are no bitmap and no metafile: extracted, then left out
  Use("UseBackground = TRUE\r\nBitmap = sky.bmp\r\nMetafile = logo.wmf\r\n",
      {{"sky.bmp", "not a bitmap at all"}, {"logo.wmf", std::string(200, 'x')}});
  ReadQuietly();
  EXPECT_TRUE(GetBackgroundBitmap(NULL) == NULL);
  EXPECT_TRUE(GetBackgroundPlacement() == NULL);
  EXPECT_TRUE(GetBackgroundMetafile() == NULL);
  EXPECT_TRUE(PathExists(GetTempBitmapPath()));
  EXPECT_TRUE(PathExists(GetTempMetafilePath()));
}

TEST_F(Background, FailuresShowTheirMessageAndLeaveNoTemporaryFile) {
  const std::string good = Plain(8, 8, kGreen);
  struct Case {
    const char* keys;
    std::vector<std::pair<std::string, std::string>> files;
    std::string tempDir;
    const char* message;
  } cases[] = {
      {"Bitmap = missing.bmp\r\n", {}, TempDir(),
       "Error: Failed to copy embedded background bmp file to the temp directory."},
      {"Bitmap = sky.bmp\r\nMetafile = C:\\missing.wmf\r\n", {{"sky.bmp", good}}, TempDir(),
       "Error: Failed to copy embedded background WMF file to the temp directory."},
      {"Bitmap = sky.bmp\r\n", {{"sky.bmp", good}}, m_Dir.File("no such folder"),
       "Error: Failed to create temporary bitmap file in temporary files directory."},
      {"Metafile = logo.wmf\r\n", {{"logo.wmf", "x"}}, m_Dir.File("no such folder"),
       "Error: Failed to create temporary WMF file in temporary files directory."},
      {"Bitmap = sky.bmp\r\n", {{"stored:sky.bmp", Plain(64, 64, kRed)}}, TempDir(),
       "Error: The installation file is corrupt: An embedded file failed the CRC check."},
  };
  for (Case& c : cases) {
    Use(std::string("UseBackground = TRUE\r\n") + c.keys, c.files);
    if (strstr(c.message, "corrupt")) {
      // flip one byte inside the stored bitmap
      DWORD offset = SetupState::Efs.FindEntry("sky.bmp")->DataOffset + 100;
      std::string bytes = ReadWholeFile(m_Setup);
      bytes[offset] ^= 0x55;
      SetupState::Efs.Close();
      WriteWholeFile(m_Setup, bytes);
      SetupState::Efs.Open(m_Setup.c_str());
    }
    int result = -1;
    EXPECT_EQ(c.message, Read(c.tempDir, &result)) << c.keys;
    // a picture that fails its check makes the setup file damaged
    EXPECT_EQ(strstr(c.message, "corrupt") ? RUN_DAMAGED : RUN_FAILED, result) << c.keys;
    ReleaseBackgroundResources();
    EXPECT_EQ(m_TempFilesBefore, PictureTempFiles()) << c.keys;
  }
}

TEST_F(Background, AFullDiskSaysSo) {
  if (GetDriveTypeA("Q:\\") == DRIVE_NO_ROOT_DIR)
    GTEST_SKIP() << "no small drive Q: (mounting a tmpfs was not allowed)";
  std::string big;
  for (int i = 0; big.size() < (1u << 20); ++i) big += std::to_string(i * 7919u);
  Use("UseBackground = TRUE\r\nBitmap = big.bmp\r\n", {{"stored:big.bmp", big}});
  int result = -1;
  EXPECT_EQ("Error: The destination disk is full. You should try to free up some disk space "
            "before attempting to install again.",
            Read("Q:\\", &result));
  EXPECT_EQ(RUN_FAILED, result);
  std::string temp = GetTempBitmapPath();
  ReleaseBackgroundResources();
  EXPECT_FALSE(PathExists(temp));
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA("Q:\\BMP*.tmp", &found);
  EXPECT_EQ(INVALID_HANDLE_VALUE, find) << found.cFileName;
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

TEST_F(Background, NoWindowMeansTheUserInterfaceCannotStart) {
  SetupState::UseBackground = 1;
  strcpy(SetupState::WindowClassName, "QUILLSET-NOT-REGISTERED");
  EXPECT_EQ(0, StartUserInterface(GetModuleHandleA(NULL), SW_SHOWNORMAL));
  Robot robot;
  robot.AttachSelf();
  EXPECT_TRUE(robot.TopLevelWindows(true).empty()) << robot.WindowTree();
}

TEST(PlaceableMetafile, LoadsWithOrWithoutTheHeaderAndFailsOnAnythingElse) {
  TempFolder dir;
  const std::string plain = PlainWmf(10, 10, 20, 20, kRed);
  const RECT junk = {7, 7, 7, 7};
  RECT bounds;

  WriteWholeFile(dir.File("placeable.wmf"), Placeable(plain, -5, 10, 300, 200));
  bounds = junk;
  HMETAFILE mf = LoadPlaceableMetafile(dir.File("placeable.wmf").c_str(), &bounds);
  ASSERT_TRUE(mf != NULL);
  EXPECT_EQ(-5, bounds.left);
  EXPECT_EQ(10, bounds.top);
  EXPECT_EQ(300, bounds.right);
  EXPECT_EQ(200, bounds.bottom);
  // the records after the header, not the header itself
  std::string bits(GetMetaFileBitsEx(mf, 0, NULL), '\0');
  GetMetaFileBitsEx(mf, (UINT)bits.size(), &bits[0]);
  EXPECT_EQ(plain, bits);
  DeleteMetaFile(mf);
  EXPECT_TRUE((mf = LoadPlaceableMetafile(dir.File("placeable.wmf").c_str(), NULL)) != NULL);
  DeleteMetaFile(mf);

  WriteWholeFile(dir.File("plain.wmf"), plain);
  bounds = junk;
  mf = LoadPlaceableMetafile(dir.File("plain.wmf").c_str(), &bounds);
  ASSERT_TRUE(mf != NULL);
  EXPECT_TRUE(IsRectEmpty(&bounds) && bounds.left == 0 && bounds.right == 0);
  DeleteMetaFile(mf);

  const std::pair<const char*, std::string> bad[] = {
      {"short.wmf", plain.substr(0, 21)},
      {"header-only.wmf", Placeable("", 0, 0, 10, 10)},
      {"placeable-junk.wmf", Placeable(std::string(100, 'j'), 0, 0, 10, 10)},
      {"junk.wmf", std::string(100, 'j')},
      {"empty.wmf", ""},
  };
  for (const auto& b : bad) {
    WriteWholeFile(dir.File(b.first), b.second);
    bounds = junk;
    EXPECT_TRUE(LoadPlaceableMetafile(dir.File(b.first).c_str(), &bounds) == NULL) << b.first;
    EXPECT_TRUE(bounds.left == 0 && bounds.top == 0 && bounds.right == 0 && bounds.bottom == 0)
        << b.first;
  }
  bounds = junk;
  EXPECT_TRUE(LoadPlaceableMetafile(dir.File("absent.wmf").c_str(), &bounds) == NULL);
  EXPECT_TRUE(IsRectEmpty(&bounds));
}

}  // namespace
