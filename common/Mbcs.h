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

#ifndef _WIN32
// Native builds only: the code page whose lead bytes MbcsIsLeadByte reports.
// 0 (the default) is single-byte; 932, 936, 949 and 950 are double-byte.
void MbcsSetCodePage(int codePage);
int MbcsGetCodePage();
#endif
