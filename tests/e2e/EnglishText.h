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
