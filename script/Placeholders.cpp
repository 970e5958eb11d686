#include "script/Placeholders.h"

#include <windows.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "platform/PrivateTemp.h"
#include "platform/RegistryHelpers.h"
#include "script/PlaceholderTokens.h"

// Written before the install worker starts, only read afterwards. Sizes
// include the terminator.
static char g_MainDir[PATH_BYTES];
static char g_SourceDir[PATH_BYTES];
static char g_SourceDrive[3];
// 255 characters, of up to four bytes each in UTF-8
static const size_t kAppNameCharacters = 255;
static char g_AppName[4 * kAppNameCharacters + 1];
static int g_PerUser;

static int IsSeparator(char c) { return c == '\\' || c == '/'; }

// Looks at the last character, not the last byte: the trail byte of a
// double-byte character may equal "\".
static int EndsInSeparator(const char* s) {
  const char* last = NULL;
  for (const char* p = s; *p; p = MbcsNext(p)) last = p;
  return last && IsSeparator(*last);
}

// Copies path into value with a separator at its end. An empty path (not
// expected from the callers) stores an empty value rather than a lone "\",
// which would point at the root of the drive; a path that does not fit
// stores nothing either, instead of a cut-off folder.
static int StoreFolder(char* value, size_t capacity, size_t characters, const char* path) {
  value[0] = '\0';
  if (!path || !*path) return 1;
  size_t length = strlen(path);
  int separator = EndsInSeparator(path) ? 0 : 1;
  // a rule of characters, in a buffer of bytes
  if (length + separator + 1 > capacity || MbcsLength(path, length) + separator + 1 > characters) return 0;
  memcpy(value, path, length);
  if (separator) value[length++] = '\\';
  value[length] = '\0';
  return 1;
}

int SetMainDirPlaceholder(const char* path) {
  return StoreFolder(g_MainDir, sizeof g_MainDir, MAX_PATH, path);
}

int SetSourceDirPlaceholder(const char* path) {
  g_SourceDrive[0] = '\0';
  if (!StoreFolder(g_SourceDir, sizeof g_SourceDir, MAX_PATH - 1, path)) return 0;
  if (g_SourceDir[0] && !MbcsIsLeadByte((unsigned char)g_SourceDir[0]) && g_SourceDir[1] == ':') {
    g_SourceDrive[0] = g_SourceDir[0];
    g_SourceDrive[1] = ':';
    g_SourceDrive[2] = '\0';
  }
  return 1;
}

void SetAppNamePlaceholder(const char* name) {
  size_t length = 0;
  if (name) {
    // 255 characters (bytes, in an ANSI code page), never half of one
    const char* end = name;
    for (const char* next; *end; end = next) {
      next = MbcsNext(end);
      while (MbcsIsUtf8() && (static_cast<unsigned char>(*next) & 0xC0) == 0x80) ++next;
      if (MbcsLength(name, (size_t)(next - name)) > kAppNameCharacters) break;
    }
    length = (size_t)(end - name);
    memcpy(g_AppName, name, length);
  }
  g_AppName[length] = '\0';
}

void SetPlaceholderScope(int perUser) { g_PerUser = perUser ? 1 : 0; }

void ResetPlaceholdersForTest() {
  g_MainDir[0] = g_SourceDir[0] = g_SourceDrive[0] = g_AppName[0] = '\0';
  g_PerUser = 0;
}

int GetSpecialFolderPath(int folder, char* buffer) {
  if (!buffer) return 0;
  buffer[0] = '\0';
  LPITEMIDLIST list = NULL;
  int located = SUCCEEDED(SHGetSpecialFolderLocation(NULL, folder, &list)) && list;
  int converted = located && SHGetPathFromIDListA(list, buffer) && buffer[0];
  CoTaskMemFree(list);  // the shell's lists come from the task allocator
  if (!converted) buffer[0] = '\0';
  return converted ? 1 : 0;
}

namespace {

// The growing result of one expansion. It remembers where its last character
// starts so the separator rule never reads a trail byte as "\".
class ExpandedText {
 public:
  ExpandedText() : m_Data(NULL), m_Length(0), m_Capacity(0), m_Last((size_t)-1) {}
  ~ExpandedText() { free(m_Data); }

  int Reserve(size_t capacity) {
    if (capacity <= m_Capacity) return 1;
    char* grown = (char*)realloc(m_Data, capacity);
    if (!grown) return 0;
    m_Data = grown;
    m_Capacity = capacity;
    return 1;
  }

  // bytes is whole characters: pieces of the text cut at a "%", or values.
  int Append(const char* bytes, size_t count) {
    if (m_Length + count + 1 > m_Capacity) {
      size_t wanted = m_Capacity ? m_Capacity : 16;
      while (wanted < m_Length + count + 1) wanted *= 2;
      if (!Reserve(wanted)) return 0;
    }
    for (const char* p = bytes; p < bytes + count; p = MbcsNext(p))
      m_Last = m_Length + (size_t)(p - bytes);
    memcpy(m_Data + m_Length, bytes, count);
    m_Length += count;
    m_Data[m_Length] = '\0';
    return 1;
  }

  int Append(const char* s) { return Append(s, strlen(s)); }

  // The separator rule: a "\" unless the result already ends in a separator.
  // An empty result gets one too, so an empty %SOURCEDRIVE% at the start of
  // a text reads as the root of the current drive.
  int AppendSeparator() {
    if (m_Last != (size_t)-1 && IsSeparator(m_Data[m_Last])) return 1;
    return Append("\\", 1);
  }

  char* Release() {
    char* data = m_Data;
    m_Data = NULL;
    return data;
  }

 private:
  char* m_Data;
  size_t m_Length;
  size_t m_Capacity;
  size_t m_Last;
};

// The system's answer fits when it is neither 0 nor the size it would need.
int Fits(UINT length) { return length > 0 && length < PATH_BYTES; }

// The user's programs folder into folder (PATH_BYTES bytes), made when it is
// missing: Programs in the local application data, where Windows puts it
// (no policy moves it on its own).
int UserProgramFiles(char* folder) {
  if (!GetSpecialFolderPath(CSIDL_LOCAL_APPDATA, folder)) return 0;
  // the shell gives at most MAX_PATH bytes, without a separator at the end
  strcat(folder, "\\Programs");
  CreateDirectoryA(folder, NULL);
  return 1;
}

// The value of a token into folder (PATH_BYTES bytes), or the stored value in
// *value; 0 when the token cannot be resolved now.
int ResolveToken(PlaceholderKind kind, char* folder, const char** value) {
  *value = folder;
  switch (kind) {
    case PLACEHOLDER_PERCENT:
      *value = "%";
      return 1;
    case PLACEHOLDER_PROGRAM_FILES:
      // never the machine's for one user: a standard user cannot write there
      if (g_PerUser) return UserProgramFiles(folder);
      // an empty value would put the files in the root of the drive
      if (!ReadRegistryString(HKEY_LOCAL_MACHINE, "Software/Microsoft/Windows/CurrentVersion",
                              "ProgramFilesDir", "", folder, PATH_BYTES))
        strcpy(folder, "C:\\Program Files");
      return 1;
    case PLACEHOLDER_WINDOWS:
      if (!Fits(GetWindowsDirectoryA(folder, PATH_BYTES))) strcpy(folder, "C:\\Windows");
      return 1;
    case PLACEHOLDER_MAIN_DIR:
      *value = g_MainDir;
      return g_MainDir[0] != '\0';
    case PLACEHOLDER_PROGRAMS:
      return GetSpecialFolderPath(CSIDL_PROGRAMS, folder);
    case PLACEHOLDER_STARTUP:
      return GetSpecialFolderPath(CSIDL_STARTUP, folder);
    case PLACEHOLDER_SYSTEM:
      return Fits(GetSystemDirectoryA(folder, PATH_BYTES));
    case PLACEHOLDER_DESKTOP:
      return GetSpecialFolderPath(CSIDL_DESKTOPDIRECTORY, folder);
    case PLACEHOLDER_MY_DOCUMENTS:
      return GetSpecialFolderPath(CSIDL_PERSONAL, folder);
    case PLACEHOLDER_TEMP:
      return SystemTempFolder(folder) != 0;
    case PLACEHOLDER_SOURCE_DIR:
      *value = g_SourceDir;
      return 1;
    case PLACEHOLDER_SOURCE_DRIVE:
      *value = g_SourceDrive;
      return 1;
    case PLACEHOLDER_APP_NAME:
      *value = g_AppName;
      return 1;
  }
  return 0;
}

}  // namespace

char* ExpandPlaceholders(const char* text) {
  if (!text) return NULL;
  ExpandedText result;
  if (!result.Reserve(strlen(text) + 1)) return NULL;
  const char* rest = text;
  for (;;) {
    const char* percent = MbcsFindChar(rest, '%');
    if (!result.Append(rest, percent ? (size_t)(percent - rest) : strlen(rest))) return NULL;
    if (!percent) return result.Release();
    const PlaceholderToken* token = MatchPlaceholderToken(percent);
    if (!token) return NULL;
    char folder[PATH_BYTES];
    const char* value;
    if (!ResolveToken(token->Kind, folder, &value)) return NULL;
    if (!result.Append(value)) return NULL;
    if (token->AddsSeparator && !result.AppendSeparator()) return NULL;
    rest = percent + token->Length;
  }
}
