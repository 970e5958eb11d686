// The translation table: every text the user sees after start-up, looked up
// by a fixed key in section [Strings] of Translations.ini. A missing file,
// section or key gives the key's own name, so there is no failure result.
#pragma once
#include <windows.h>

class CTranslations {
 public:
  constexpr CTranslations() {}
  ~CTranslations();

  // Frees any previous path; null leaves none and returns 0, otherwise the
  // path is copied and 1 returned. The file need not exist.
  int SetFile(const char* path);
  // 1 when a path is set.
  int IsLoaded() const;
  // The text of key with every "|" made a line feed, in a new heap string
  // that the caller frees; null only when memory runs out. At most
  // GetStringSize - 1 characters, in the program's code page. "%s" and
  // placeholders are left for the caller.
  char* GetString(const char* key) const;
  // As GetString; a table without the key (one that an older installation
  // left) gives the English text instead of the key.
  char* GetStringOr(const char* key, const char* english) const;
  // The texts of textKey and captionKey (null: none) through the front end:
  // a message box, or the log of a silent run; returns the button pressed
  // (a question nobody answers: No, or Cancel where there is no No).
  int ShowMessage(HWND owner, const char* textKey, const char* captionKey, UINT style) const;

  enum { GetStringSize = 2001 };

 private:
  char* m_Path = nullptr;

  CTranslations(const CTranslations&);
  CTranslations& operator=(const CTranslations&);
};

// The application's name, kept in the installed table (section
// [Installed]) so that the uninstaller's texts can name the program; for
// one user's installation (perUser nonzero) also Scope=user, so that its
// uninstaller asks for no rights. 1 on success.
int WriteInstalledAppName(const char* table, const char* name, int perUser);
// That name as a new heap string; null when the table holds none.
char* ReadInstalledAppName(const char* table);
// Whether the installation is one user's (Scope=user; nothing for all
// users, as the tables of before): the uninstaller of an installation for
// all users asks for administrator rights.
int ReadInstalledForCurrentUser(const char* table);

class CExeFileSystem;

// The table entry of the setup file to use: "Translations.CODE.ini" of
// wanted (/LANG=, may be empty), else of the user's UI language, else of
// the system's, else "Translations.ini" (the first language the setup was
// built with). The choice is kept for ChosenTranslationEntry.
const char* ChooseTranslationEntry(CExeFileSystem& efs, const char* wanted);
// The entry chosen last ("Translations.ini" before any choice): the table
// that is installed beside Uninstall.exe.
const char* ChosenTranslationEntry();
// The user's choice instead (an entry the setup holds).
void SetChosenTranslationEntry(const char* entry);
