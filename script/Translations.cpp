#include "script/Translations.h"

#include <stdlib.h>
#include <string.h>

#include "common/LineBreaks.h"
#include "common/SafeFormat.h"
#include "efs/ExeFileSystem.h"
#include "platform/FrontEnd.h"
#include "platform/TextEncoding.h"

CTranslations::~CTranslations() { free(m_Path); }

int CTranslations::SetFile(const char* path) {
  free(m_Path);
  m_Path = NULL;
  if (!path) return 0;
  const size_t length = strlen(path) + 1;
  m_Path = static_cast<char*>(malloc(length));
  if (!m_Path) return 0;
  memcpy(m_Path, path, length);
  return 1;
}

int CTranslations::IsLoaded() const { return m_Path ? 1 : 0; }

char* CTranslations::GetString(const char* key) const {
  if (!key) {  // a null key would make the lookup list the section's keys
    char* empty = static_cast<char*>(malloc(1));
    if (empty) empty[0] = '\0';
    return empty;
  }
  // Looked up wide: 2000 characters are kept whatever bytes they take in
  // the program's code page, and none is cut in two.
  WCHAR wideKey[256];
  WCHAR* text = static_cast<WCHAR*>(malloc(GetStringSize * sizeof(WCHAR)));
  if (!text) return NULL;
  text[0] = 0;
  DWORD n = 0;
  if (MultiByteToWideChar(CP_ACP, 0, key, -1, wideKey, 256) > 0) {
    if (m_Path) {
      WCHAR widePath[MAX_PATH];
      if (MultiByteToWideChar(CP_ACP, 0, m_Path, -1, widePath, MAX_PATH) > 0)
        n = GetPrivateProfileStringW(L"Strings", wideKey, wideKey, text, GetStringSize, widePath);
      else
        n = (DWORD)lstrlenW(lstrcpynW(text, wideKey, GetStringSize));
    } else {
      // No file: the same answer as a missing one. A null file name would
      // send the lookup to win.ini instead.
      n = (DWORD)lstrlenW(lstrcpynW(text, wideKey, GetStringSize));
    }
  }
  // a pair of surrogates cut by the lookup's limit
  if (n && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) text[--n] = 0;
  const int size = WideCharToMultiByte(CP_ACP, 0, text, (int)n + 1, NULL, 0, NULL, NULL);
  char* result = static_cast<char*>(malloc(size > 0 ? (size_t)size : 1));
  if (result) {
    result[0] = '\0';
    if (size > 0) WideCharToMultiByte(CP_ACP, 0, text, (int)n + 1, result, size, NULL, NULL);
    ReplaceLineBreaks(result);
  }
  free(text);
  return result;
}

char* CTranslations::GetStringOr(const char* key, const char* english) const {
  char* text = GetString(key);
  if (!text || strcmp(text, key) != 0) return text;
  const size_t n = strlen(english) + 1;
  char* own = static_cast<char*>(realloc(text, n));
  if (!own) {
    free(text);
    return NULL;
  }
  memcpy(own, english, n);
  ReplaceLineBreaks(own);
  return own;
}

int CTranslations::ShowMessage(HWND owner, const char* textKey, const char* captionKey,
                               UINT style) const {
  char* text = textKey ? GetString(textKey) : NULL;
  char* caption = captionKey ? GetString(captionKey) : NULL;
  // A question nobody is there to answer is answered No: the questions
  // asked this way (quit? the user's files?) keep things as they are.
  const UINT type = style & MB_TYPEMASK;
  int result = IDOK;
  if (type == MB_YESNO || type == MB_YESNOCANCEL || type == MB_OKCANCEL || type == MB_RETRYCANCEL)
    result = FrontEnd()->Ask(owner, text ? text : "", caption ? caption : "", style,
                             type == MB_OKCANCEL || type == MB_RETRYCANCEL ? IDCANCEL : IDNO);
  else
    FrontEnd()->ShowFailure(owner, text ? text : "", caption ? caption : "", style);
  free(text);
  free(caption);
  return result;
}

int WriteInstalledAppName(const char* table, const char* name, int perUser) {
  // Appended in UTF-16, as the table is, leaving its lines as they are (the
  // profile writer of some systems rewrites them all); quoted, so that the
  // lookup keeps blanks at either end of the name.
  static const WCHAR kHead[] = L"\r\n[Installed]\r\nApplicationName=\"";
  // one user's: the machine's says nothing, as the tables of before
  static const WCHAR kTail[] = L"\"\r\nScope=user";
  const DWORD tailSize = perUser ? sizeof kTail - sizeof(WCHAR) : 3 * sizeof(WCHAR);
  WCHAR* path = WideOf(table);
  WCHAR* wide = WideOf(name);
  HANDLE file = path && wide ? CreateFileW(path, FILE_APPEND_DATA, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL)
                             : INVALID_HANDLE_VALUE;
  int ok = file != INVALID_HANDLE_VALUE;
  const struct {
    const WCHAR* Text;
    DWORD Size;
  } parts[] = {{kHead, sizeof kHead - sizeof(WCHAR)},
               {wide, wide ? (DWORD)(lstrlenW(wide) * sizeof(WCHAR)) : 0},
               {kTail, tailSize}};
  for (const auto& part : parts) {
    DWORD written = 0;
    ok = ok && WriteFile(file, part.Text, part.Size, &written, NULL) && written == part.Size;
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  free(path);
  free(wide);
  return ok;
}

int ReadInstalledForCurrentUser(const char* table) {
  WCHAR* path = WideOf(table);
  WCHAR scope[16];
  scope[0] = 0;
  if (path) GetPrivateProfileStringW(L"Installed", L"Scope", L"", scope, 16, path);
  free(path);
  return lstrcmpiW(scope, L"user") == 0 ? 1 : 0;
}

char* ReadInstalledAppName(const char* table) {
  WCHAR* path = WideOf(table);
  WCHAR name[1024];
  name[0] = 0;
  if (path) GetPrivateProfileStringW(L"Installed", L"ApplicationName", L"", name, 1024, path);
  free(path);
  if (!name[0]) return NULL;
  const int size = WideCharToMultiByte(CP_ACP, 0, name, -1, NULL, 0, NULL, NULL);
  char* result = size > 0 ? static_cast<char*>(malloc((size_t)size)) : NULL;
  if (result) WideCharToMultiByte(CP_ACP, 0, name, -1, result, size, NULL, NULL);
  return result;
}

namespace {

// A table's code has at most this many letters (/LANG= takes 15).
enum { kLongestCode = 16 };
// "Translations." + code + ".ini" and the terminator
char g_Entry[sizeof "Translations..ini" + kLongestCode] = "Translations.ini";

// The codes the command gives its tables, by Windows language.
const char* CodeOfLanguage(LANGID id) {
  switch (PRIMARYLANGID(id)) {
    case LANG_ENGLISH: return "en";
    case LANG_GERMAN: return "de";
    case LANG_FRENCH: return "fr";
    case LANG_SPANISH: return "es";
    case LANG_ITALIAN: return "it";
    case LANG_PORTUGUESE: return "pt-BR";
    case LANG_DUTCH: return "nl";
    case LANG_POLISH: return "pl";
    case LANG_CZECH: return "cs";
    case LANG_RUSSIAN: return "ru";
    case LANG_JAPANESE: return "ja";
    case LANG_CHINESE:  // simplified, not traditional
      return SUBLANGID(id) == SUBLANG_CHINESE_SIMPLIFIED || SUBLANGID(id) == SUBLANG_CHINESE_SINGAPORE ? "zh-CN"
                                                                                                     : NULL;
  }
  return NULL;
}

int TryEntry(CExeFileSystem& efs, const char* code) {
  if (!code || !code[0] || strlen(code) > kLongestCode) return 0;
  char name[sizeof g_Entry];
  if (SafeFormat(name, sizeof name, "Translations.%s.ini", &code, 1) >= sizeof name || !efs.Exists(name)) return 0;
  strcpy(g_Entry, name);
  return 1;
}

}  // namespace

const char* ChooseTranslationEntry(CExeFileSystem& efs, const char* wanted) {
  strcpy(g_Entry, "Translations.ini");
  if (!TryEntry(efs, wanted) && !TryEntry(efs, CodeOfLanguage(GetUserDefaultUILanguage())))
    TryEntry(efs, CodeOfLanguage(GetSystemDefaultUILanguage()));
  return g_Entry;
}

const char* ChosenTranslationEntry() { return g_Entry; }

void SetChosenTranslationEntry(const char* entry) {
  if (entry && strlen(entry) < sizeof g_Entry) strcpy(g_Entry, entry);
}
