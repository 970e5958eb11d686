// The translation tables that ship with quillset, the code page each is
// stored in, and the checks that keep them usable by the setup program.
// Portable: no platform headers.
#pragma once
#include <string>
#include <vector>

struct LanguageTable {
  const char* Code;  // what --language takes: "de", "pt-BR"
  const char* Name;  // English name of the language
  const char* File;  // file name in translations/ and share/quillset/
  int CodePage;      // the Windows ANSI code page the file is written in
};

// Every shipped table, English first.
const std::vector<LanguageTable>& LanguageTables();

// The table named by code ("de", "pt-BR") or English name ("German"),
// without regard to case and with "_" for "-"; null when there is none.
const LanguageTable* FindLanguage(const std::string& name);

// Offset of the first byte of text that is not a character of the code page
// (an unassigned byte, a control character other than CR LF and tab, a lead
// byte without its trail), or std::string::npos when all are valid.
size_t FindInvalidByte(const std::string& text, int codePage);

// Every problem of a translation table against the English one: a key
// missing, unknown or given twice, a different number of "%s" or other
// placeholders, a "%" that starts nothing, "|" breaks that differ from
// English, bytes invalid in codePage, lines not ended by CR LF. Each problem
// starts with the key it concerns, when there is one.
std::vector<std::string> CheckTranslationTable(const std::string& table, int codePage,
                                               const std::string& english);

// The code page that non-ASCII bytes of text most likely were written in,
// as far as the shipped tables' code pages can be told apart: 65001 for
// UTF-8, 1251 for Cyrillic, 932 or 936 for Japanese or Chinese, 1252 for
// Latin (1250 and 1252 cannot be told apart this way). 0 when text is ASCII
// or nothing fits.
int GuessCodePage(const std::string& text);

// True when text (a script) would read correctly in codePage as far as
// GuessCodePage can tell: ASCII, or valid there and of the same family.
bool TextFitsCodePage(const std::string& text, int codePage);
