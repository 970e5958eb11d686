#include "script/PlaceholderTokens.h"

#include <string.h>

#define QS_TOKEN(text, kind, separator) {text, sizeof text - 1, kind, separator}

// Tried in this order; the first that matches wins.
static const PlaceholderToken kTokens[] = {
    QS_TOKEN("%%", PLACEHOLDER_PERCENT, 0),
    QS_TOKEN("%PROGRAMFILES%", PLACEHOLDER_PROGRAM_FILES, 1),
    QS_TOKEN("%WINDOWS%", PLACEHOLDER_WINDOWS, 1),
    QS_TOKEN("%MAINDIR%", PLACEHOLDER_MAIN_DIR, 1),
    QS_TOKEN("%PROGRAMS%", PLACEHOLDER_PROGRAMS, 1),
    QS_TOKEN("%STARTUP%", PLACEHOLDER_STARTUP, 1),
    QS_TOKEN("%SYSTEM%", PLACEHOLDER_SYSTEM, 1),
    QS_TOKEN("%DESKTOP%", PLACEHOLDER_DESKTOP, 1),
    QS_TOKEN("%MYDOCUMENTS%", PLACEHOLDER_MY_DOCUMENTS, 1),
    QS_TOKEN("%TEMP%", PLACEHOLDER_TEMP, 1),
    QS_TOKEN("%SOURCEDIR%", PLACEHOLDER_SOURCE_DIR, 1),
    QS_TOKEN("%SOURCEDRIVE%", PLACEHOLDER_SOURCE_DRIVE, 1),
    QS_TOKEN("%APPNAME%", PLACEHOLDER_APP_NAME, 0),
};

#undef QS_TOKEN

const PlaceholderToken* MatchPlaceholderToken(const char* at) {
  for (size_t i = 0; i < sizeof kTokens / sizeof kTokens[0]; ++i)
    if (strncmp(at, kTokens[i].Text, kTokens[i].Length) == 0) return &kTokens[i];
  return NULL;
}
