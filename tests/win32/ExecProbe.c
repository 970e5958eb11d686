/* execprobe FILE TEXT EXITCODE DELAYMS: waits, appends TEXT to FILE, exits
   with EXITCODE. Shows whether programs ran one after the other. */
#include <windows.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 5) return 100;
  Sleep((DWORD)atoi(argv[4]));
  HANDLE h = CreateFileA(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) return 101;
  DWORD written;
  WriteFile(h, argv[2], (DWORD)lstrlenA(argv[2]), &written, NULL);
  CloseHandle(h);
  return atoi(argv[3]);
}
