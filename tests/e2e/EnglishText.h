// Texts of the bundled English table as the user sees them.
#pragma once
#include <windows.h>

#include <algorithm>
#include <string>

#include "TestPaths.h"

const char kEnglish[] = QS_SOURCE_DIR "\\translations\\English.ini";

// The text of key ("|" is a line break); the key itself when it is missing.
inline std::string En(const char* key) {
  char text[2048];
  GetPrivateProfileStringA("Strings", key, key, text, sizeof text, kEnglish);
  std::string s = text;
  std::replace(s.begin(), s.end(), '|', '\n');
  return s;
}

// The uninstall question as it names the program.
inline std::string UninstallQuestion(const std::string& appName) {
  std::string s = En("YOU_ARE_ABOUT_TO_UNINSTALL");
  const size_t at = s.find("%APPNAME%");
  if (at != std::string::npos) s.replace(at, 9, appName);
  return s;
}
