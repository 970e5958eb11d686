#include "platform/PrivateTemp.h"

#include "common/Mbcs.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <string.h>

namespace {

char g_Folder[PATH_BYTES];

HANDLE g_Hold = INVALID_HANDLE_VALUE;
int g_Tried;

}  // namespace

int RunsAsAdministrator() {
  ULONG_PTR administrators[SECURITY_MAX_SID_SIZE / sizeof(ULONG_PTR) + 1];  // aligned as a SID must be
  DWORD size = sizeof administrators;
  BOOL member = FALSE;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, administrators, &size) ||
      !CheckTokenMembership(NULL, administrators, &member))
    member = FALSE;
  return member ? 1 : 0;
}

namespace {

// Full access for the administrators and SYSTEM, inherited by every file
// made inside, nothing from the folder above; owned by the administrators,
// so that the user's own processes get no owner's rights either.
int MakeFolder(const char* path) {
  const char* const rules[] = {PrivateTempFolderRules(), PrivateTempFolderRules() + 4};
  for (const char* rule : rules) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(rule, SDDL_REVISION_1, &sa.lpSecurityDescriptor, NULL))
      continue;
    BOOL made = CreateDirectoryA(path, &sa);
    const DWORD error = GetLastError();
    LocalFree(sa.lpSecurityDescriptor);
    // Set once more on the folder made: some systems (Wine) take no rules
    // from the creation itself.
    if (made && !MakeAdministratorsFolder(path)) {
      RemoveDirectoryA(path);
      made = FALSE;
    }
    if (made) return 1;
    if (error != ERROR_INVALID_OWNER) return error == ERROR_ALREADY_EXISTS ? -1 : 0;
  }
  return 0;
}

int IsHexName(const char* name) {
  if (strncmp(name, "QST", 3) != 0 || strlen(name) != 11) return 0;
  for (const char* p = name + 3; *p; ++p)
    if (!((*p >= '0' && *p <= '9') || (*p >= 'A' && *p <= 'F'))) return 0;
  return 1;
}

// Deletes the files in folder (with its final backslash); 0 when it holds
// a folder, which nothing of this program makes there. Wide: a name of any
// length or character goes too.
int DeleteFilesIn(const char* folder) {
  WCHAR path[MAX_PATH + 16];
  const int n = MultiByteToWideChar(CP_ACP, 0, folder, -1, path, MAX_PATH);
  if (n <= 0) return 0;
  path[n - 1] = L'*';
  path[n] = L'\0';
  WIN32_FIND_DATAW entry;
  HANDLE walk = FindFirstFileW(path, &entry);
  int onlyFiles = 1;
  for (BOOL more = walk != INVALID_HANDLE_VALUE; more; more = FindNextFileW(walk, &entry)) {
    const WCHAR* name = entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // "." and ".."
      if (name[0] != L'.' || (name[1] && (name[1] != L'.' || name[2]))) onlyFiles = 0;
    } else if (n - 1 + lstrlenW(name) < MAX_PATH) {
      lstrcpyW(path + n - 1, name);
      SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);  // a read-only copy too
      DeleteFileW(path);
    }
  }
  if (walk != INVALID_HANDLE_VALUE) FindClose(walk);
  return onlyFiles;
}

}  // namespace

const char* PrivateTempFolderRules() {
  return "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
}

int UsePrivateTempFolder(char* tempDir) {
  if (!g_Tried) {
    g_Tried = 1;
    if (!RunsAsAdministrator()) return 0;
    // Counted as the system counts: characters. The folder's name and
    // backslash (12) and a temporary name in it (14) must fit.
    const size_t n = strlen(tempDir);
    if (MbcsLength(tempDir, n) + 12 <= MAX_PATH - 14) {
      unsigned number = GetTickCount() ^ (GetCurrentProcessId() << 12);
      for (int i = 0; i < 64 && !g_Folder[0]; ++i, number = number * 1103515245u + 12345u) {
        char path[PATH_BYTES];
        wsprintfA(path, "%sQST%08X", tempDir, number);
        const int made = MakeFolder(path);
        if (made == 0) break;
        if (made < 0) continue;  // someone's already: never one that exists
        g_Hold = CreateFileA(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, NULL);
        if (g_Hold == INVALID_HANDLE_VALUE) {
          RemoveDirectoryA(path);
          break;
        }
        strcpy(g_Folder, path);
        strcat(g_Folder, "\\");
      }
    }
  }
  if (!g_Folder[0]) return RunsAsAdministrator() ? -1 : 0;
  strcpy(tempDir, g_Folder);
  return 1;
}

int SystemTempFolder(char* out) {
  const DWORD n = GetTempPathA(PATH_BYTES, out);
  return n < PATH_BYTES ? static_cast<int>(n) : 0;
}

int RunTempFolder(char* out) { return SystemTempFolder(out) && UsePrivateTempFolder(out) >= 0; }

const char* PrivateTempFolder() {
  return g_Folder;
}

void EndPrivateTempFolder() {
  if (g_Hold != INVALID_HANDLE_VALUE) CloseHandle(g_Hold);
  g_Hold = INVALID_HANDLE_VALUE;
  g_Tried = 0;
  if (!g_Folder[0]) return;
  // A copy this run started and waited for may still be in it: its own
  // removal runs once, at idle priority, and may have met our handle. The
  // folder is this run's alone, so what is left goes here, with a short
  // wait for a file whose process is still being torn down.
  for (int tries = 0; tries < 100; ++tries) {
    if (RemoveDirectoryA(g_Folder) || GetFileAttributesA(g_Folder) == INVALID_FILE_ATTRIBUTES) break;
    if (!DeleteFilesIn(g_Folder)) break;  // a folder inside: not ours to take
    Sleep(20);
  }
  g_Folder[0] = '\0';
}

int IsPrivateTempFolder(const char* folder) {
  char temp[PATH_BYTES];
  const int t = SystemTempFolder(temp);
  if (t == 0 || strlen(folder) <= static_cast<size_t>(t)) return 0;
  return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, folder, t, temp, t) == CSTR_EQUAL &&
         IsHexName(folder + t);
}

int MakeAdministratorsFolder(const char* folder) {
  CreateDirectoryA(folder, NULL);
  // the folder itself, never where a link at its name leads
  HANDLE dir = CreateFileA(folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (dir == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION info;
  int ok = GetFileInformationByHandle(dir, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  // one that was there (a user's, perhaps) is taken over: owner and rules
  int set = 0;
  const char* const rules[] = {PrivateTempFolderRules(), PrivateTempFolderRules() + 4};
  for (const char* rule : rules) {
    PSECURITY_DESCRIPTOR sd = NULL;
    if (!ok || set || !ConvertStringSecurityDescriptorToSecurityDescriptorA(rule, SDDL_REVISION_1, &sd, NULL))
      continue;
    PSID owner = NULL;
    PACL dacl = NULL;
    BOOL present = FALSE, defaulted = FALSE;
    GetSecurityDescriptorOwner(sd, &owner, &defaulted);
    GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    if (owner) what |= OWNER_SECURITY_INFORMATION;
    set = SetSecurityInfo(dir, SE_FILE_OBJECT, what, owner, NULL, dacl, NULL) == ERROR_SUCCESS;
    LocalFree(sd);
  }
  CloseHandle(dir);
  return ok && set;
}
