// The install worker over a [Files] section of 100, 1,000 and 10,000 small
// files under Wine: files per second, and the share of that time spent
// reading the script's lines. Prints figures; asserts nothing.
#include <windows.h>
#include <stdio.h>

#include <string>

#include "driver/SetupState.h"
#include "efs/EFSBuilder.h"
#include "engine/InstallWorker.h"
#include "ui/MessageBoxes.h"
#include "script/Placeholders.h"

static double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return (double)c.QuadPart / f.QuadPart;
}

static void Put(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  DWORD n;
  WriteFile(h, bytes.data(), (DWORD)bytes.size(), &n, NULL);
  CloseHandle(h);
}

static void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA f;
  HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &f);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string name = f.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = dir + "\\" + name;
      if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path);
      else
        DeleteFileA(path.c_str());
    } while (FindNextFileA(h, &f));
    FindClose(h);
  }
  RemoveDirectoryA(dir.c_str());
}

static LRESULT CALLBACK Probe(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: worker_bench WORKDIR ENGLISH.INI\n");
    return 2;
  }
  const std::string work = argv[1];
  WNDCLASSA wc = {};
  wc.lpfnWndProc = Probe;
  wc.lpszClassName = "QsBenchProbe";
  RegisterClassA(&wc);
  SetupState::Translations.SetFile(argv[2]);
  printf("%8s %8s %10s %10s %12s\n", "files", "folders", "seconds", "files/s", "lines/s read");
  // The last run spreads 10,000 files over 100 folders: Wine's own cost of
  // creating a file grows with the number of files in its folder.
  const int counts[] = {100, 1000, 10000, 10000};
  for (int run = 0; run < 4; ++run) {
    const int count = counts[run];
    const bool spread = run == 3;
    const std::string src = work + "\\src", dest = work + "\\dest";
    CreateDirectoryA(src.c_str(), NULL);
    std::string script = "QSP40\r\n[Global]\r\nApplicationName = Bench\r\n[Files]\r\n";
    CEFSBuilder b;
    Put(work + "\\stub.exe", "MZ");
    b.SetStubFile((work + "\\stub.exe").c_str());
    for (int i = 0; i < count; ++i) {
      const std::string name = "file" + std::to_string(i) + ".txt";
      Put(src + "\\" + name, std::string(1024 + i % 512, static_cast<char>('a' + i % 26)));
      b.AddFile((src + "\\" + name).c_str(), 1);
      const std::string folder = spread ? "d" + std::to_string(i / 100) + "\\" : "";
      script += "C:\\payload\\" + name + ", %MAINDIR%" + folder + name + "\r\n";
    }
    b.Build((work + "\\Setup.exe").c_str(), nullptr, InstallerSignature);
    SetupState::Efs.Open((work + "\\Setup.exe").c_str());
    SetupState::Project.LoadText(script.data(), (uint32_t)script.size());
    SetupState::UninstallLog.CreateTempLog();
    SetMainDirPlaceholder(dest.c_str());

    // the script's lines alone, read the way the handlers read them
    double t0 = Now();
    for (int i = 0; i < count; ++i) {
      int32_t n = SetupState::Project.GetLine("Files", i, NULL, 0);
      std::string line(n, '\0');
      SetupState::Project.GetLine("Files", i, &line[0], n);
    }
    const double lines = Now() - t0;

    HWND window = CreateWindowA("QsBenchProbe", "", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    t0 = Now();
    CDialogFrontEnd reports(window);
    HANDLE thread = CreateThread(NULL, 0, InstallWorker, static_cast<CFrontEnd*>(&reports), 0, NULL);
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
      MSG msg;
      while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    const double seconds = Now() - t0;
    CloseHandle(thread);
    DestroyWindow(window);
    printf("%8d %8d %10.2f %10.0f %12.0f\n", count, spread ? 100 : 1, seconds, count / seconds, count / lines);
    SetupState::UninstallLog.Close();
    RemoveTree(dest);
    RemoveTree(src);
    SetupState::Efs.Close();  // it holds the file while open
    DeleteFileA((work + "\\Setup.exe").c_str());
  }
  return 0;
}
