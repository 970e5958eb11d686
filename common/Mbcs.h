// Character-wise scanning of ANSI text: the trail byte of a double-byte
// character is never taken for a delimiter. On Windows the lead bytes are the
// system ANSI code page's; elsewhere a table that tests can switch.
// Portable: no platform headers.
#pragma once
#include <stddef.h>

// Nonzero when c starts a double-byte character.
int MbcsIsLeadByte(unsigned char c);

// The character after the one at p; a lead byte before the terminator counts
// as one byte so a scan never runs past the string.
const char* MbcsNext(const char* p);

// First occurrence of c (a single-byte character) in s at a character
// boundary, or null.
const char* MbcsFindChar(const char* s, char c);

// Last occurrence of c in s at a character boundary, or null.
const char* MbcsFindLastChar(const char* s, char c);

// First occurrence of needle (needleLength bytes) in s starting at a
// character boundary, or null.
const char* MbcsFindText(const char* s, const char* needle, size_t needleLength);

// Nonzero when the program's code page is UTF-8 (the manifest's entry took
// effect): every byte string is then UTF-8, and a character takes up to four
// bytes, none of them a lead byte in the sense above.
int MbcsIsUtf8();

// Nonzero when size bytes of text are well-formed UTF-8: no overlong forms,
// no surrogates, nothing above U+10FFFF.
int Utf8IsValid(const char* text, size_t size);

// Copies s into out (size > 0 bytes with the terminator). What does not fit
// is cut at the last character boundary that fits, never inside a character
// of the code page (double-byte or UTF-8). 1 when all of s fit.
int MbcsCopy(char* out, size_t size, const char* s);

// The length the 260-character rules of paths and names count for the first
// n bytes of s: in UTF-8 the UTF-16 units Windows counts (one a character,
// two beyond U+FFFF), in an ANSI code page its bytes, as ever.
size_t MbcsLength(const char* s, size_t n);

// Bytes a path of MAX_PATH characters can take in UTF-8 (three a UTF-16
// unit, the terminator included): a buffer of this size holds every path
// the 260-character rules allow.
enum { PATH_BYTES = 3 * 260 };

#ifndef _WIN32
// Native builds only: the code page whose lead bytes MbcsIsLeadByte reports.
// 0 (the default) is single-byte; 932, 936, 949 and 950 are double-byte;
// 65001 is UTF-8.
void MbcsSetCodePage(int codePage);
int MbcsGetCodePage();
#endif
