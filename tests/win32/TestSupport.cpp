#include "TestSupport.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <aclapi.h>
#include <tlhelp32.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "efs/EfsDirectory.h"

TempFolder::TempFolder() {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  static int serial;
  char name[MAX_PATH];
  snprintf(name, sizeof name, "%sqstest-%lu-%d", dir, GetCurrentProcessId(), ++serial);
  CreateDirectoryA(name, NULL);
  m_Path = name;
}

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = folder + L"\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(full);
      } else {
        SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(folder.c_str());
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> all;
  WIN32_FIND_DATAA f;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &f);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (strcmp(f.cFileName, ".") != 0 && strcmp(f.cFileName, "..") != 0) all.push_back(f.cFileName);
    } while (FindNextFileA(h, &f));
    FindClose(h);
  }
  std::sort(all.begin(), all.end());
  return all;
}

void WalkTree(const std::string& root,
              const std::function<void(const std::string& path, const WIN32_FIND_DATAA& found)>& visit) {
  WIN32_FIND_DATAA f;
  HANDLE h = FindFirstFileA((root + "\\*").c_str(), &f);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = f.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = root + "\\" + name;
    visit(path, f);
    if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) WalkTree(path, visit);
  } while (FindNextFileA(h, &f));
  FindClose(h);
}

unsigned long long WriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a)) return 0;
  return (static_cast<unsigned long long>(a.ftLastWriteTime.dwHighDateTime) << 32) | a.ftLastWriteTime.dwLowDateTime;
}

void SetWriteTime(const std::string& path, DWORD high, DWORD low) {
  FILETIME t = {low, high};
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  SetFileTime(h, &t, &t, &t);
  CloseHandle(h);
}

bool KeyExists(const std::string& path, HKEY root) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::string FileTimeText(const FILETIME& t) {
  char text[32];
  snprintf(text, sizeof text, "%08lx%08lx", t.dwHighDateTime, t.dwLowDateTime);
  return text;
}

TempFolder::~TempFolder() {
  std::wstring wide(m_Path.size() + 1, L'\0');
  wide.resize((size_t)MultiByteToWideChar(CP_ACP, 0, m_Path.c_str(), -1, &wide[0], (int)wide.size()) - 1);
  RemoveTree(wide);
}

std::string ReadWholeFile(const std::string& path) {
  std::string out;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         OPEN_EXISTING, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) return out;
  char buf[65536];
  DWORD got;
  while (ReadFile(h, buf, sizeof buf, &got, NULL) && got) out.append(buf, got);
  CloseHandle(h);
  return out;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  DWORD put = 0;
  WriteFile(h, bytes.data(), (DWORD)bytes.size(), &put, NULL);
  CloseHandle(h);
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// In the temporary folder and in the setup programs' private folders in it.
void FillSmallDrive(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  const std::string chunk(4096, 'f');
  DWORD put = 0;
  for (DWORD n = 4096; n; n /= 2)
    while (WriteFile(h, chunk.data(), n, &put, NULL) && put == n) {
    }
  CloseHandle(h);
}

HWND ProbeWindow(const char* name, WNDPROC proc) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleA(NULL);
  wc.lpszClassName = name;
  RegisterClassA(&wc);  // a second time fails, and the first class stays
  return CreateWindowA(name, name, WS_POPUP, 0, 0, 100, 100, NULL, NULL, GetModuleHandleA(NULL), NULL);
}

int RunningCommandInterpreters() {
  HANDLE all = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (all == INVALID_HANDLE_VALUE) return -1;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Process32First(all, &entry); more; more = Process32Next(all, &entry))
    if (lstrcmpiA(entry.szExeFile, "cmd.exe") == 0) ++count;
  CloseHandle(all);
  return count;
}

std::vector<std::string> TempFilesMatching(const char* pattern) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  std::vector<std::string> names;
  std::vector<std::string> folders = {dir};
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((std::string(dir) + "QST*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) folders.push_back(std::string(dir) + fd.cFileName + "\\");
    while (FindNextFileA(h, &fd));
    FindClose(h);
  }
  for (const std::string& folder : folders) {
    h = FindFirstFileA((folder + pattern).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) continue;
    do names.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
  }
  return names;
}

std::string ProgramFilesDir() {
  char value[MAX_PATH] = "";
  DWORD size = sizeof value;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    RegQueryValueExA(key, "ProgramFilesDir", NULL, NULL, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
  }
  return value;
}

int CodePageLane() {
  char value[16];
  if (!GetEnvironmentVariableA("QS_CODE_PAGE_LANE", value, sizeof value)) return 0;
  return atoi(value);
}

bool TestsUseLzma() {
  const char* c = getenv("QS_TEST_COMPRESSION");
  return c && strcmp(c, "lzma") == 0;
}

const char* TestCompression() { return TestsUseLzma() ? "lzma" : "zlib"; }

EfsMethod TestMethod() { return TestsUseLzma() ? EFS_METHOD_LZMA : EFS_METHOD_ZLIB; }

namespace {
class StringReader : public IEfsFileReader {
 public:
  explicit StringReader(const std::string& s) : m_S(s) {}
  int ReadAt(uint64_t offset, unsigned char* buffer, uint32_t n) override {
    if (offset > m_S.size() || n > m_S.size() - offset) return 0;
    memcpy(buffer, m_S.data() + offset, n);
    return 1;
  }

 private:
  const std::string& m_S;
};
}  // namespace

bool ReadSetupDirectory(const std::string& setup, CEfsDirectory* dir) {
  StringReader reader(setup);
  return dir->Read(reader, setup.size()) == EFS_OPEN_OK;
}

size_t StoredByteOf(const std::string& setup, const char* name, size_t into) {
  CEfsDirectory dir;
  if (!ReadSetupDirectory(setup, &dir) || !dir.Find(name)) {
    ADD_FAILURE() << "no entry " << name;
    return 0;
  }
  const EfsEntry& e = *dir.Find(name);
  if (!dir.Solid()) return (size_t)(e.DataOffset + into);
  const EfsSolidHeader& h = dir.Header();
  const double ratio = h.ContentSize ? (double)h.StreamSize / (double)h.ContentSize : 1.0;
  return (size_t)(h.DataOffset + (uint64_t)((double)(e.DataOffset + into) * ratio));
}

int DefaultButton(HWND box) {
  for (int id : {IDYES, IDNO, IDOK, IDCANCEL}) {
    HWND button = GetDlgItem(box, id);
    if (button && (GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return id;
  }
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(GetWindowThreadProcessId(box, NULL), &info) && info.hwndFocus
             ? GetDlgCtrlID(info.hwndFocus)
             : 0;
}

DWORD RunToFile(std::string line, const std::string& output, DWORD timeout) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  HANDLE out = CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, NULL);
  if (out == INVALID_HANDLE_VALUE) return 999;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = out;
  PROCESS_INFORMATION pi;
  DWORD code = 999;
  if (CreateProcessA(NULL, &line[0], NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL, &si, &pi)) {
    if (WaitForSingleObject(pi.hProcess, timeout) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(out);
  return code;
}

bool TestIsAdministrator() {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof sid;
  BOOL member = FALSE;
  return CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, sid, &size) && CheckTokenMembership(NULL, sid, &member) &&
         member;
}

namespace {
const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
}  // namespace

std::string PendingRenames() {
  HKEY key;
  std::string value;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
  DWORD size = 0;
  if (RegQueryValueExA(key, "PendingFileRenameOperations", NULL, NULL, NULL, &size) == ERROR_SUCCESS && size) {
    value.resize(size);
    RegQueryValueExA(key, "PendingFileRenameOperations", NULL, NULL, reinterpret_cast<BYTE*>(&value[0]), &size);
  }
  RegCloseKey(key);
  return value;
}

KeptPendingRenames::~KeptPendingRenames() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  if (m_Value.empty())
    RegDeleteValueA(key, "PendingFileRenameOperations");
  else
    RegSetValueExA(key, "PendingFileRenameOperations", 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(m_Value.data()), (DWORD)m_Value.size());
  RegCloseKey(key);
}

NoRightsToSchedule::NoRightsToSchedule() {
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, READ_CONTROL | WRITE_DAC, &m_Key) != ERROR_SUCCESS)
    return;
  GetSecurityInfo(m_Key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, NULL, NULL, &m_OldDacl, NULL, &m_Old);
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &m_Everyone);
  ACL* acl = reinterpret_cast<ACL*>(m_Acl);
  InitializeAcl(acl, sizeof m_Acl, ACL_REVISION);
  AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ | READ_CONTROL | WRITE_DAC, m_Everyone);
  m_Taken = SetSecurityInfo(m_Key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, NULL, NULL, acl, NULL) ==
            ERROR_SUCCESS;
}

NoRightsToSchedule::~NoRightsToSchedule() {
  if (m_Taken) SetSecurityInfo(m_Key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, NULL, NULL, m_OldDacl, NULL);
  if (m_Old) LocalFree(m_Old);
  if (m_Everyone) FreeSid(m_Everyone);
  if (m_Key) RegCloseKey(m_Key);
}

bool NoRightsToSchedule::Taken() const {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return m_Taken;
  RegCloseKey(key);
  return false;
}
