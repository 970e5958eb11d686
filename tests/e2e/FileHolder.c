/* Test program: holds the file named on its command line open without
   sharing, as a running application holds its data, and shows a top-level
   window. With "ignore" after the file it stays when asked to close. */
#include <string.h>
#include <windows.h>

static int g_Ignore;

static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    if (!g_Ignore) DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  g_Ignore = argc > 2 && !strcmp(argv[2], "ignore");
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return 3;
  WNDCLASSA c;
  memset(&c, 0, sizeof c);
  c.lpfnWndProc = Proc;
  c.hInstance = GetModuleHandleA(NULL);
  c.lpszClassName = "QuillsetFileHolder";
  RegisterClassA(&c);
  CreateWindowA(c.lpszClassName, "File holder", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100, NULL, NULL,
                c.hInstance, NULL);
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) DispatchMessageA(&message);
  CloseHandle(file);
  return 0;
}
