#include "script/Translations.h"

#include <stdlib.h>
#include <string.h>

#include "common/LineBreaks.h"
#include "platform/FrontEnd.h"

CTranslations::CTranslations() : m_Path(NULL) {}

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
  char* text = static_cast<char*>(malloc(GetStringSize));
  if (!text) return NULL;
  text[0] = '\0';
  if (!key) return text;  // a null key would make the lookup list the section's keys
  if (m_Path) {
    GetPrivateProfileStringA("Strings", key, key, text, GetStringSize, m_Path);
  } else {
    // No file: the same answer as a missing one. A null file name would send
    // the lookup to win.ini instead.
    lstrcpynA(text, key, GetStringSize);
  }
  ReplaceLineBreaks(text);
  return text;
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
