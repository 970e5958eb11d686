// make demo's user: walks a setup program's wizard page by page with the
// default answers, saves a screenshot of each page, then runs the
// uninstaller it left. demo_walk SETUP.EXE OUTDIR [TABLE]: the windows are
// found by the texts of TABLE, the translation table built in (English's by
// default).
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "../../tests/win32/Robot.h"
#include "resources/resource.h"

namespace {

std::string g_Out;
std::string g_Table;
int g_Shot;

// The text of key in the table built in; english without a table.
std::string T(const char* key, const char* english) {
  if (g_Table.empty()) return english;
  char text[2001];
  GetPrivateProfileStringA("Strings", key, english, text, sizeof text, g_Table.c_str());
  return text;
}

// The whole screen as a 24-bit BMP file.
void Screenshot(const char* name) {
  Sleep(700);  // let the pages paint
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(NULL);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = NULL;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
  GdiFlush();
  const DWORD rowBytes = (w * 3 + 3) & ~3u, size = rowBytes * h;
  char path[MAX_PATH];
  snprintf(path, sizeof path, "%s\\%02d-%s.bmp", g_Out.c_str(), ++g_Shot, name);
  if (FILE* f = fopen(path, "wb")) {
    BITMAPFILEHEADER file = {0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof info.bmiHeader + size), 0, 0,
                             static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof info.bmiHeader)};
    fwrite(&file, sizeof file, 1, f);
    fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, f);
    fwrite(bits, size, 1, f);
    fclose(f);
    printf("demo: %s\n", path);
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(NULL, screen);
}

void List(const std::string& folder, const std::string& indent) {
  WIN32_FIND_DATAA f;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &f);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = f.cFileName;
    if (name == "." || name == "..") continue;
    const bool isFolder = (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    printf("demo:   %s%s%s\n", indent.c_str(), name.c_str(), isFolder ? "\\" : "");
    if (isFolder) List(folder + "\\" + name, indent + "  ");
  } while (FindNextFileA(h, &f));
  FindClose(h);
}

// What of the example is still there: its folder, its start-menu group, its
// registry key.
std::vector<std::string> Leftovers(const std::string& destination) {
  char programs[MAX_PATH] = "";
  SHGetSpecialFolderPathA(NULL, programs, CSIDL_PROGRAMS, FALSE);
  std::vector<std::string> left;
  const std::string paths[] = {destination, std::string(programs) + "\\Hello Quillset"};
  for (const std::string& path : paths)
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) left.push_back(path);
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Hello Quillset", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    RegCloseKey(key);
    left.push_back("HKEY_CURRENT_USER\\Software\\Hello Quillset");
  }
  return left;
}

HWND Next(Robot& robot, HWND wizard, const std::string& nextCaption) {
  if (!Robot::Press(wizard, IDC_NEXT)) return NULL;
  return robot.WaitForWindow("#32770", nextCaption.c_str(), 30000);
}

int Walk(const std::string& setup) {
  Robot robot;
  if (!robot.Start("\"" + setup + "\"")) return 1;
  HWND w = robot.WaitForWindow("#32770", T("WELCOME", "Welcome").c_str(), 30000);
  if (!w) return 1;
  Screenshot("welcome");
  const struct {
    std::string caption;
    const char* shot;
  } pages[] = {{T("EULA", "End user license agreement"), "licence"},
               {T("CHOOSE_DESITNATION_LOCATION", "Choose Destination Location"), "destination"},
               {T("START_INSTALLATION", "Start Installation"), "start"},
               {T("INSTALLING", "Installing"), "installing"}};
  const std::string finish = T("FINISH", "Finish"), uninstallTitle = T("UNINSTALL_TITLE", "Uninstall");
  std::string destination;
  for (const auto& page : pages) {
    w = Next(robot, w, page.caption);
    if (!w) return 1;
    if (std::string(page.shot) == "destination") destination = Robot::ItemText(w, IDC_DESTINATION);
    if (std::string(page.shot) != "installing") Screenshot(page.shot);
  }
  if (!robot.WaitUntil([&] { return Robot::ItemText(w, IDC_NEXT) == finish && IsWindowEnabled(GetDlgItem(w, IDC_NEXT)); },
                       120000, "the finish page"))
    return 1;
  Screenshot("finished");
  Robot::Press(w, IDC_NEXT);
  DWORD code = 0;
  if (!robot.WaitForExit(30000, &code)) return 1;
  printf("demo: installed into %s:\n", destination.c_str());
  List(destination, "");

  const std::string uninstaller = destination + "\\Uninstall.exe";
  if (GetFileAttributesA(uninstaller.c_str()) == INVALID_FILE_ATTRIBUTES) {
    printf("demo: no %s\n", uninstaller.c_str());
    return 1;
  }
  Robot un;
  if (!un.Start("\"" + uninstaller + "\"")) return 1;
  RobotMessageBox question = un.WaitForMessageBox(uninstallTitle.c_str(), 30000);
  if (!question.Window) {
    // a build without uninstalling answers with a message of its own
    RobotMessageBox box = un.WaitForMessageBox(NULL, 5000);
    printf("demo: the uninstaller says: %s\n", box.Text.c_str());
    if (box.Window) Robot::Press(box.Window, IDOK);
    return 0;
  }
  Screenshot("uninstall-question");
  Robot::Press(question.Window, IDYES);
  // the progress dialog is the "Uninstall" window with the uninstall text
  HWND progress = NULL;
  un.WaitUntil(
      [&] {
        progress = un.FindWindowNow("#32770", uninstallTitle.c_str());
        return progress && GetDlgItem(progress, IDC_UNINSTALL_TEXT) && IsWindowVisible(GetDlgItem(progress, IDOK));
      },
      120000, "the uninstall result");
  if (!progress) return 1;
  Screenshot("uninstalled");
  Robot::Press(progress, IDOK);
  if (!un.WaitForExit(30000, &code)) return 1;

  // a hidden cmd deletes the uninstaller and its folder once it has ended
  std::vector<std::string> left = Leftovers(destination);
  for (int i = 0; i < 100 && !left.empty(); ++i, left = Leftovers(destination)) Sleep(200);
  if (left.empty()) {
    printf("demo: after uninstalling nothing of Hello Quillset remains: not %s, its start-menu group, "
           "HKCU\\Software\\Hello Quillset\n",
           destination.c_str());
    return 0;
  }
  printf("demo: left behind after uninstalling:\n");
  for (const std::string& what : left) {
    printf("demo:   %s\n", what.c_str());
    List(what, "    ");
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);  // Robot reports through gtest
  if (argc != 3 && argc != 4) {
    fprintf(stderr, "usage: demo_walk SETUP.EXE OUTDIR [TABLE]\n");
    return 2;
  }
  g_Out = argv[2];
  if (argc == 4) g_Table = argv[3];
  return Walk(argv[1]);
}
