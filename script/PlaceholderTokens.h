// The placeholder tokens of scripts and texts, shared by the setup program,
// which resolves them, and the command, which checks them at build time.
// Portable: no platform headers.
#pragma once
#include <stddef.h>

enum PlaceholderKind {
  PLACEHOLDER_PERCENT,
  PLACEHOLDER_PROGRAM_FILES,
  PLACEHOLDER_WINDOWS,
  PLACEHOLDER_MAIN_DIR,
  PLACEHOLDER_PROGRAMS,
  PLACEHOLDER_STARTUP,
  PLACEHOLDER_SYSTEM,
  PLACEHOLDER_DESKTOP,
  PLACEHOLDER_MY_DOCUMENTS,
  PLACEHOLDER_TEMP,
  PLACEHOLDER_SOURCE_DIR,
  PLACEHOLDER_SOURCE_DRIVE,
  PLACEHOLDER_APP_NAME,
};

struct PlaceholderToken {
  const char* Text;  // with its percent signs, e.g. "%MAINDIR%"
  size_t Length;
  PlaceholderKind Kind;
  int AddsSeparator;  // a folder: a "\" follows its value unless one ends it
};

// The token that starts at "at" (a "%"), tried in a fixed order where the
// first match wins; NULL when no token starts there.
const PlaceholderToken* MatchPlaceholderToken(const char* at);
