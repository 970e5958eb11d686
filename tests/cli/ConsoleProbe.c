/* Runs a command line in a console of its own and writes what the console
   then shows, as UTF-8, to a file:  ConsoleProbe.exe "COMMAND LINE" FILE
   Exit status: the command's; 90 and up when the probe itself fails. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 90;
  FreeConsole();
  if (!AllocConsole()) return 91;
  HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (screen == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(screen, &info)) return 92;
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child;
  if (!CreateProcessW(NULL, argv[1], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &child)) return 93;
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code = 94;
  GetExitCodeProcess(child.hProcess, &code);
  const DWORD cells = (DWORD)info.dwSize.X * (DWORD)info.dwSize.Y;
  WCHAR* text = malloc(cells * sizeof(WCHAR));
  char* utf8 = malloc(cells * 4 + 1);
  FILE* out = _wfopen(argv[2], L"wb");
  if (!text || !utf8 || !out) return 95;
  /* one line of the screen a line of the file, blanks at its end dropped */
  for (SHORT y = 0; y < info.dwSize.Y; ++y) {
    COORD at = {0, y};
    DWORD got = 0;
    ReadConsoleOutputCharacterW(screen, text, (DWORD)info.dwSize.X, at, &got);
    while (got && text[got - 1] == L' ') --got;
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, (int)got, utf8, (int)(cells * 4), NULL, NULL);
    fwrite(utf8, 1, (size_t)(n > 0 ? n : 0), out);
    fputc('\n', out);
  }
  fclose(out);
  return (int)code;
}
