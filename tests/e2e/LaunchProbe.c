/* Test program: the application a setup launches at its end. Appends one
   line to the file named first on its command line: the id of the process
   that started it, its second argument and its current folder; then ends. */
#include <stdio.h>
#include <windows.h>
#include <tlhelp32.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  DWORD parent = 0;
  const DWORD self = GetCurrentProcessId();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
  CloseHandle(snapshot);
  char folder[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof folder, folder);
  FILE* record = fopen(argv[1], "ab");
  if (!record) return 3;
  fprintf(record, "%lu|%s|%s\r\n", (unsigned long)parent, argc > 2 ? argv[2] : "", folder);
  fclose(record);
  return 0;
}
