// Queries over the project script held as one text: keyed values, the
// number of lines of a section and its raw lines. No index is kept; every
// query searches the text afresh. Portable: no platform headers.
#pragma once
#include <stdint.h>

class CFileParser {
 public:
  // Empty; constant, so that a static parser needs no code to start.
  constexpr CFileParser() {}
  ~CFileParser();

  // Takes a copy of length bytes of text; 1 when it starts "QSP40", after a
  // UTF-8 byte-order mark if it has one (not kept in the text). On failure
  // the object is left empty. The caller reads the file: the setup program
  // with the system's calls, which cost it no C run-time files.
  int LoadText(const char* text, uint32_t length);

  // Buffer protocol: n = answer length + 1. No buffer: n. bufferSize >= n:
  // copy, n. 0 < bufferSize < n: bufferSize - 1 bytes and a terminator,
  // bufferSize. bufferSize 0: nothing written, n (GetLine: 0).
  int32_t GetValue(const char* section, const char* key, const char* defaultValue,
                   char* buffer, int32_t bufferSize) const;
  int32_t GetInt(const char* section, const char* key, int32_t defaultValue) const;
  int32_t GetLineCount(const char* section) const;
  int32_t GetLine(const char* section, int32_t index, char* buffer, int32_t bufferSize) const;

  // 1-based line number in the file of line index of section, 0 when there is
  // none; lets the authoring tool name the line of a problem.
  int32_t GetLineNumber(const char* section, int32_t index) const;

 private:
  CFileParser(const CFileParser&) = delete;
  CFileParser& operator=(const CFileParser&) = delete;
  void Release();
  const char* FindSectionBody(const char* section) const;

  // Where the last line read began, so that reading a section line by line
  // walks it once instead of once per line.
  const char* LineAfterCursor(const char* section, int32_t index) const;

  uint32_t size = 0;       // file size + 1; 0 when nothing is loaded
  char* text = nullptr;    // the file and a terminating zero, or null
  mutable char cursorSection[256] = {};
  mutable int32_t cursorIndex = 0;  // of cursorLine, when there is one
  mutable const char* cursorLine = nullptr;
  // The line GetLineNumber numbered last, and its number.
  mutable const char* numberedLine = nullptr;
  mutable int32_t numberedNumber = 0;
};
